#include "drivers.hpp"

#include "sorvel.h"

#include <expat.h>
#include <libxml/parser.h>
#include <pugixml.hpp>

#include <cstdint>
#include <cstring>
#include <limits>

namespace sorvel_bench {
namespace {

template <std::uint32_t BufSize>
std::size_t sorvel_pull(const char *doc, std::size_t len, char *) {
  char text[BufSize];
  sorvel_ctx c;
  sorvel_token t;
  sorvel_init(&c, text, BufSize, 0);
  sorvel_begin(&c, doc, static_cast<std::uint32_t>(len));
  std::size_t events = 0;
  while (sorvel_next(&c, &t) != nullptr)
    ++events;
  return c.state != 0 && c.depth == 0 ? events : failed;
}

void count_token(void *user, std::int32_t, const char *, const char *,
                 std::uint32_t) {
  ++*static_cast<std::size_t *>(user);
}

template <std::uint32_t BufSize>
std::size_t sorvel_push(const char *doc, std::size_t len, char *) {
  char text[BufSize];
  sorvel_ctx c;
  sorvel_init(&c, text, BufSize, 0);
  std::size_t events = 0;
  const std::uint32_t rest = sorvel_parse(
      &c, doc, static_cast<std::uint32_t>(len), &events, count_token);
  return rest == 0 && c.depth == 0 ? events : failed;
}

void XMLCALL expat_start(void *user, const XML_Char *, const XML_Char **) {
  ++*static_cast<std::size_t *>(user);
}
void XMLCALL expat_end(void *user, const XML_Char *) {
  ++*static_cast<std::size_t *>(user);
}
void XMLCALL expat_text(void *user, const XML_Char *, int) {
  ++*static_cast<std::size_t *>(user);
}

std::size_t expat(const char *doc, std::size_t len, char *) {
  XML_Parser p = XML_ParserCreate(nullptr);
  std::size_t events = 0;
  XML_SetUserData(p, &events);
  XML_SetElementHandler(p, expat_start, expat_end);
  XML_SetCharacterDataHandler(p, expat_text);
  const bool ok = XML_Parse(p, doc, static_cast<int>(len), 1) == XML_STATUS_OK;
  XML_ParserFree(p);
  return ok ? events : failed;
}

void libxml2_start(void *user, const xmlChar *, const xmlChar *,
                   const xmlChar *, int, const xmlChar **, int, int,
                   const xmlChar **) {
  ++*static_cast<std::size_t *>(user);
}
void libxml2_end(void *user, const xmlChar *, const xmlChar *,
                 const xmlChar *) {
  ++*static_cast<std::size_t *>(user);
}
void libxml2_text(void *user, const xmlChar *, int) {
  ++*static_cast<std::size_t *>(user);
}
void libxml2_quiet(void *, const char *, ...) {}

std::size_t libxml2(const char *doc, std::size_t len, char *) {
  xmlSAXHandler h;
  std::memset(&h, 0, sizeof h);
  h.initialized = XML_SAX2_MAGIC;
  h.startElementNs = libxml2_start;
  h.endElementNs = libxml2_end;
  h.characters = libxml2_text;
  h.ignorableWhitespace = libxml2_text;
  h.warning = libxml2_quiet;
  h.error = libxml2_quiet;
  std::size_t events = 0;
  xmlParserCtxtPtr ctxt =
      xmlCreatePushParserCtxt(&h, &events, nullptr, 0, nullptr);
  xmlCtxtUseOptions(ctxt, XML_PARSE_NONET);
  xmlParseChunk(ctxt, doc, static_cast<int>(len), 1);
  const bool ok = ctxt->wellFormed != 0;
  xmlFreeParserCtxt(ctxt);
  return ok ? events : failed;
}

std::size_t pugixml(const char *, std::size_t len, char *scratch) {
  pugi::xml_document d;
  const pugi::xml_parse_result r =
      d.load_buffer_inplace(scratch, len, pugi::parse_minimal);
  // The root's first child, so that the tree is looked at.
  return r ? static_cast<std::size_t>(d.first_child().type()) : failed;
}

std::size_t memchr_lt(const char *doc, std::size_t len, char *) {
  std::size_t events = 0;
  const char *end = doc + len;
  for (const char *p = doc;
       (p = static_cast<const char *>(std::memchr(p, '<', end - p))) != nullptr;
       ++p)
    ++events;
  return events;
}

const driver all[] = {
    {"sorvel_pull_4096", false, sorvel_pull<4096>},
    {"sorvel_pull_32", false, sorvel_pull<32>},
    {"sorvel_push_4096", false, sorvel_push<4096>},
    {"sorvel_push_32", false, sorvel_push<32>},
    {"expat", false, expat},
    {"libxml2", false, libxml2},
    {"pugixml", true, pugixml},
    {"memchr", false, memchr_lt},
};

} // namespace

const driver *drivers(std::size_t &count) {
  count = sizeof all / sizeof all[0];
  return all;
}

const driver *find_driver(std::string_view name) {
  for (const driver &d : all)
    if (name == d.name)
      return &d;
  return nullptr;
}

} // namespace sorvel_bench

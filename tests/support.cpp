#include "support.hpp"

#include <cctype>
#include <cstdio>

namespace sorvel_test {

namespace {

void escape(std::string &out, const char *p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const auto b = static_cast<unsigned char>(p[i]);
    if (b == '\\' || b == '"') {
      out += '\\';
      out += static_cast<char>(b);
    } else if (b < 0x20 || b >= 0x7F) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", b);
      out += hex;
    } else {
      out += static_cast<char>(b);
    }
  }
}

} // namespace

std::string describe(std::int32_t type, const char *name, const char *text,
                     std::uint32_t len) {
  std::string out;
  switch (type) {
  case SORVEL_START:
    out = "start ";
    break;
  case SORVEL_END:
    out = "end ";
    break;
  case SORVEL_TEXT:
    out = "text ";
    break;
  default:
    out = "type" + std::to_string(type) + " ";
  }
  escape(out, name, std::strlen(name));
  if (type == SORVEL_TEXT) {
    out += ' ';
    out += std::to_string(len);
    out += " \"";
    escape(out, text, len);
    out += '"';
    if (text[len] != '\0')
      out += " (no NUL after the text)";
  } else if (text != nullptr || len != 0) {
    out += " (text on a non-text token)";
  }
  return out;
}

guarded_buffer::guarded_buffer(std::uint32_t size)
    : size_(size), block_(new char[size + 2 * guard]) {
  std::memset(block_.get(), canary, size + 2 * guard);
}

bool guarded_buffer::intact(std::uint32_t textmax) const {
  const char *b = block_.get();
  for (std::uint32_t i = 0; i < guard; ++i)
    if (b[i] != canary || b[guard + size_ + i] != canary)
      return false;
  // Between textmax + 1 and the end of the buffer nothing may be written.
  for (std::uint32_t i = textmax + 1; i < size_; ++i)
    if (b[guard + i] != canary)
      return false;
  return true;
}

exact_chunk::exact_chunk(std::string_view bytes)
    : size_(static_cast<std::uint32_t>(bytes.size())),
      block_(new char[bytes.empty() ? 1 : bytes.size()]) {
  if (!bytes.empty())
    std::memcpy(block_.get(), bytes.data(), bytes.size());
}

bool outcome::operator==(const outcome &o) const {
  return tokens == o.tokens && state == o.state && depth == o.depth &&
         namelen == o.namelen && textlen == o.textlen &&
         textflags == o.textflags && options == o.options &&
         error_at == o.error_at && canaries_intact == o.canaries_intact;
}

std::string to_string(const outcome &o) {
  std::string s;
  for (const auto &t : o.tokens)
    s += t + "\n";
  s += "state " + std::to_string(o.state) + " depth " +
       std::to_string(o.depth) + " namelen " + std::to_string(o.namelen) +
       " textlen " + std::to_string(o.textlen) + " textflags " +
       std::to_string(o.textflags) + " options " + std::to_string(o.options) +
       " error_at " + std::to_string(o.error_at) +
       (o.canaries_intact ? "" : " CANARY OVERWRITTEN") + "\n";
  return s;
}

std::vector<std::string_view> cut(std::string_view doc,
                                  const std::vector<std::size_t> &cuts) {
  std::vector<std::string_view> chunks;
  std::size_t from = 0;
  for (std::size_t c : cuts) {
    chunks.push_back(doc.substr(from, c - from));
    from = c;
  }
  chunks.push_back(doc.substr(from));
  return chunks;
}

std::string test_name(std::size_t index, const char *description) {
  std::string s = std::to_string(index) + "_";
  for (const char *p = description; *p != '\0'; ++p)
    s += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  return s;
}

void record_fields(outcome &o, const sorvel_ctx &ctx) {
  o.state = ctx.state;
  o.depth = ctx.depth;
  o.namelen = ctx.namelen;
  o.textlen = ctx.textlen;
  o.textflags = ctx.textflags;
  o.options = ctx.options;
}

namespace {

void finish(outcome &o, const sorvel_ctx &ctx, const guarded_buffer &buf) {
  record_fields(o, ctx);
  o.canaries_intact = buf.intact(ctx.textmax);
}

} // namespace

outcome pull(std::string_view doc, std::uint32_t options, std::uint32_t bufsize,
             const std::vector<std::size_t> &cuts) {
  outcome o;
  guarded_buffer buf(bufsize);
  sorvel_ctx ctx;
  if (sorvel_init(&ctx, buf.data(), bufsize, options) != 0)
    return o;
  std::size_t offset = 0;
  for (std::string_view piece : cut(doc, cuts)) {
    exact_chunk chunk(piece);
    if (sorvel_begin(&ctx, chunk.data(), chunk.size()) != 0) {
      o.tokens.push_back("(begin refused)");
      break;
    }
    sorvel_token tok;
    while (sorvel_next(&ctx, &tok) != nullptr)
      o.tokens.push_back(describe(tok));
    if (ctx.state == 0) {
      o.error_at = static_cast<long>(offset + chunk.size() - ctx.inlen) - 1;
      break;
    }
    offset += chunk.size();
  }
  finish(o, ctx, buf);
  return o;
}

outcome push(std::string_view doc, std::uint32_t options, std::uint32_t bufsize,
             const std::vector<std::size_t> &cuts) {
  outcome o;
  guarded_buffer buf(bufsize);
  sorvel_ctx ctx;
  if (sorvel_init(&ctx, buf.data(), bufsize, options) != 0)
    return o;
  auto record = [](void *user, std::int32_t type, const char *name,
                   const char *text, std::uint32_t len) {
    static_cast<outcome *>(user)->tokens.push_back(
        describe(type, name, text, len));
  };
  std::size_t offset = 0;
  for (std::string_view piece : cut(doc, cuts)) {
    exact_chunk chunk(piece);
    const std::uint32_t left =
        sorvel_parse(&ctx, chunk.data(), chunk.size(), &o, record);
    if (ctx.state == 0) {
      o.error_at = static_cast<long>(offset + chunk.size() - left);
      break;
    }
    offset += chunk.size();
  }
  finish(o, ctx, buf);
  return o;
}

} // namespace sorvel_test

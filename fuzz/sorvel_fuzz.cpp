// Fuzz target: the library against itself under every way of feeding one
// document, and against the reference engine in tests/model.cpp call by call.
//
// Input layout:
//   byte 0     bit 0 SORVEL_NOENTITIES, bit 1 SORVEL_EMPTYTEXT, bits 2 and 3
//              both set: SORVEL_PENDING_END is passed to sorvel_init too;
//              bits 4-7 the number of cut points, K
//   byte 1     text buffer size minus 32 (32 to 287)
//   byte 2     in the run against the model, chunk i is pushed when bit
//              i % 8 is set, pulled otherwise
//   byte 3     in the run against the model, drop the rest of the chunk
//              after every Nth token (0: never)
//   K x 2      cut points, little endian, taken modulo (document size + 1)
//   the rest   the document
//
// Any difference or broken invariant aborts with a message naming it. The
// text buffer and every chunk live in heap blocks of exactly their size, so
// AddressSanitizer traps a stray access; the buffer bytes past textmax + 1
// hold canaries that are checked after every call.
#include "model.hpp"
#include "sorvel.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const char *what, int line) {
  std::fprintf(stderr, "sorvel_fuzz: check failed at line %d: %s\n", line,
               what);
  std::abort();
}

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond))                                                               \
      fail(#cond, __LINE__);                                                   \
  } while (0)

struct plan {
  std::uint32_t options = 0;
  std::uint32_t size = 0;
  std::uint8_t push_mask = 0;
  std::uint8_t reset_every = 0;
  std::vector<std::size_t> cuts; // ascending, each within the document
  const char *doc = nullptr;
  std::size_t len = 0;
};

constexpr char canary = '\x5A';

// The caller's text buffer: an exact heap block, canaries everywhere.
struct text_buffer {
  explicit text_buffer(std::uint32_t n) : size(n), bytes(new char[n]) {
    std::memset(bytes.get(), canary, n);
  }
  char *data() const { return bytes.get(); }
  // Only the first textmax + 1 bytes are the engine's to write.
  bool intact(std::uint32_t textmax) const {
    for (std::uint32_t i = textmax + 1; i < size; ++i)
      if (bytes[i] != canary)
        return false;
    return true;
  }
  std::uint32_t size;
  std::unique_ptr<char[]> bytes;
};

// The document cut into exact heap copies, kept alive for the whole run.
std::vector<std::unique_ptr<char[]>>
chunks_of(const plan &p, const std::vector<std::size_t> &cuts,
          std::vector<std::uint32_t> &lens) {
  std::vector<std::unique_ptr<char[]>> chunks;
  std::size_t from = 0;
  for (std::size_t i = 0; i <= cuts.size(); ++i) {
    const std::size_t to = i < cuts.size() ? cuts[i] : p.len;
    const std::size_t n = to - from;
    chunks.emplace_back(new char[n]);
    if (n != 0)
      std::memcpy(chunks.back().get(), p.doc + from, n);
    lens.push_back(static_cast<std::uint32_t>(n));
    from = to;
  }
  return chunks;
}

std::uintptr_t address(const void *p) {
  return reinterpret_cast<std::uintptr_t>(p);
}

bool inside(const void *p, const void *base, std::size_t n) {
  return address(p) >= address(base) && address(p) < address(base) + n;
}

// What must hold of a context between any two calls.
void check_between(const sorvel_ctx &c, const plan &p, const text_buffer &buf) {
  CHECK(c.state <= 14);
  CHECK(c.depth <= 8);
  if (c.state != 0) {
    CHECK(c.namelen <= 14);
    CHECK(c.textlen < c.textmax);
  }
  CHECK(c.text == buf.data());
  CHECK(c.textsize == p.size);
  CHECK(c.textmax == ((p.size - 1) & ~1u));
  CHECK((c.options & ~SORVEL_PENDING_END) == (p.options & ~SORVEL_PENDING_END));
  CHECK(buf.intact(c.textmax));
}

// What must hold of every token, pulled or pushed.
void check_token(const sorvel_ctx &c, std::int32_t type, const char *name,
                 const char *text, std::uint32_t len) {
  CHECK(type == SORVEL_START || type == SORVEL_END || type == SORVEL_TEXT);
  CHECK(name != nullptr);
  if (inside(name, &c, sizeof c)) {
    // ctx.name or a stack slot, terminated within it.
    CHECK(inside(name, c.name, sizeof c.name) ||
          inside(name, c.stack, sizeof c.stack));
    CHECK((address(name) - address(c.stack)) % 16 == 0);
    CHECK(std::memchr(name, 0, 15) != nullptr);
  } else {
    CHECK(type == SORVEL_TEXT && name[0] == '\0');
  }
  if (type == SORVEL_TEXT) {
    CHECK(text == c.text);
    CHECK(len <= c.textmax);
    CHECK(text[len] == '\0');
  } else {
    CHECK(name == c.name);
    CHECK(text == nullptr && len == 0);
  }
}

void add_token(std::string &out, std::int32_t type, const char *name,
               const char *text, std::uint32_t len) {
  out += static_cast<char>('0' + type);
  out += name;
  out += '\0';
  out.append(reinterpret_cast<const char *>(&len), sizeof len);
  if (text != nullptr)
    out.append(text, len);
}

struct outcome {
  std::string tokens;
  sorvel_ctx end{};
  std::string text; // the undelivered text, end.textlen bytes
  long error_at = -1;
};

// The fields that carry the parse from one call to the next.
void check_same_parse(const sorvel_ctx &a, const sorvel_ctx &b) {
  CHECK(a.state == b.state);
  CHECK(a.depth == b.depth);
  CHECK(std::memcmp(a.stack, b.stack, sizeof a.stack) == 0);
  CHECK(std::memcmp(a.name, b.name, sizeof a.name) == 0);
  CHECK(a.namelen == b.namelen);
  CHECK(a.textflags == b.textflags);
  CHECK(a.textlen == b.textlen);
  CHECK(a.options == b.options);
}

void check_same(const outcome &a, const outcome &b) {
  CHECK(a.tokens == b.tokens);
  CHECK(a.error_at == b.error_at);
  check_same_parse(a.end, b.end);
  CHECK(a.text == b.text);
}

outcome finish(outcome o, const sorvel_ctx &c) {
  o.end = c;
  o.text.assign(c.text, c.textlen);
  return o;
}

// The document pulled with sorvel_begin and sorvel_next, chunk by chunk.
outcome pull(const plan &p, const std::vector<std::size_t> &cuts) {
  std::vector<std::uint32_t> lens;
  const auto chunks = chunks_of(p, cuts, lens);
  text_buffer buf(p.size);
  sorvel_ctx c;
  CHECK(sorvel_init(&c, buf.data(), p.size, p.options) == 0);
  outcome o;
  std::size_t offset = 0;
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    const char *chunk = chunks[i].get();
    if (c.state == 0)
      sorvel_reset(&c); // what a host does before offering more input
    CHECK(sorvel_begin(&c, chunk, lens[i]) == 0);
    CHECK(c.in == chunk && c.inlen == lens[i]);
    for (;;) {
      const sorvel_ctx before = c;
      sorvel_token t{-7, nullptr, nullptr, 7};
      sorvel_token *r = sorvel_next(&c, &t);
      check_between(c, p, buf);
      // Bytes are read in order, and in moves exactly as inlen goes down.
      CHECK(address(c.in) >= address(before.in));
      CHECK(c.inlen <= before.inlen);
      CHECK(address(c.in) - address(before.in) == before.inlen - c.inlen);
      if ((before.options & SORVEL_PENDING_END) != 0)
        CHECK(r == &t && t.type == SORVEL_END && c.in == before.in);
      if (before.state == 0)
        CHECK(r == nullptr && c.in == before.in);
      if (r == nullptr) {
        CHECK(t.type == -7 && t.name == nullptr && t.text == nullptr &&
              t.len == 7);
        if (c.state != 0)
          CHECK(c.inlen == 0);
        else if (before.state != 0)
          CHECK(c.in != before.in);
        break;
      }
      CHECK(r == &t);
      check_token(c, t.type, t.name, t.text, t.len);
      add_token(o.tokens, t.type, t.name, t.text, t.len);
    }
    if (c.state == 0 && o.error_at < 0)
      o.error_at =
          static_cast<long>(offset + address(c.in) - address(chunk)) - 1;
    offset += lens[i];
  }
  return finish(std::move(o), c);
}

struct pushed {
  const sorvel_ctx *ctx;
  std::string tokens;
};

void on_token(void *user, std::int32_t type, const char *name, const char *text,
              std::uint32_t len) {
  auto *u = static_cast<pushed *>(user);
  check_token(*u->ctx, type, name, text, len);
  add_token(u->tokens, type, name, text, len);
}

// The document pushed with sorvel_parse, one call per chunk.
outcome push(const plan &p, const std::vector<std::size_t> &cuts) {
  std::vector<std::uint32_t> lens;
  const auto chunks = chunks_of(p, cuts, lens);
  text_buffer buf(p.size);
  sorvel_ctx c;
  CHECK(sorvel_init(&c, buf.data(), p.size, p.options) == 0);
  outcome o;
  pushed u{&c, {}};
  std::size_t offset = 0;
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    const std::uint32_t was = c.state;
    const std::uint32_t left =
        sorvel_parse(&c, chunks[i].get(), lens[i], &u, on_token);
    check_between(c, p, buf);
    CHECK(c.in == nullptr && c.inlen == 0);
    CHECK((c.options & SORVEL_PENDING_END) == 0);
    if (was == 0)
      CHECK(c.state == 0 && left == lens[i] + 1);
    else if (c.state == 0)
      CHECK(left >= 1 && left <= lens[i]);
    else
      CHECK(left == 0);
    if (was != 0 && c.state == 0)
      o.error_at = static_cast<long>(offset + lens[i] - left);
    offset += lens[i];
  }
  o.tokens = std::move(u.tokens);
  return finish(std::move(o), c);
}

// ---- Call by call against the reference engine ----------------------------

struct side {
  sorvel_ctx ctx;
  text_buffer buf;
  explicit side(std::uint32_t size) : buf(size) {}
};

// Where a token pointer points, as model_test.cpp compares it: an offset
// into the side's context or text buffer, or elsewhere (then by contents).
long where(const char *p, const side &s) {
  if (inside(p, &s.ctx, sizeof s.ctx))
    return static_cast<long>(address(p) - address(&s.ctx));
  if (inside(p, s.ctx.text, s.ctx.textsize))
    return 100000 + static_cast<long>(address(p) - address(s.ctx.text));
  return -1;
}

void check_same_pointer(const char *a, const side &sa, const char *b,
                        const side &sb) {
  CHECK((a == nullptr) == (b == nullptr));
  if (a == nullptr)
    return;
  CHECK(where(a, sa) == where(b, sb));
  if (where(a, sa) == -1)
    CHECK(std::strcmp(a, b) == 0);
}

void check_same_context(const side &l, const side &m) {
  check_same_parse(l.ctx, m.ctx);
  CHECK(l.ctx.in == m.ctx.in);
  CHECK(l.ctx.inlen == m.ctx.inlen);
  CHECK(l.ctx.text == l.buf.data() && m.ctx.text == m.buf.data());
  CHECK(l.ctx.textmax == m.ctx.textmax);
  CHECK(l.ctx.textsize == m.ctx.textsize);
  CHECK(std::memcmp(l.buf.data(), m.buf.data(), l.ctx.textsize) == 0);
}

struct recorder {
  side *s;
  void (*reset)(sorvel_ctx *);
  std::uint8_t every;
  std::uint32_t count = 0;
  std::string tokens;
};

void on_recorded(void *user, std::int32_t type, const char *name,
                 const char *text, std::uint32_t len) {
  auto *r = static_cast<recorder *>(user);
  add_token(r->tokens, type, name, text, len);
  const long at[2] = {where(name, *r->s),
                      text == nullptr ? -2 : where(text, *r->s)};
  r->tokens.append(reinterpret_cast<const char *>(at), sizeof at);
  // Stopping early from the callback, as the header allows.
  if (r->every != 0 && ++r->count % r->every == 0)
    r->reset(&r->s->ctx);
}

void against_model(const plan &p) {
  std::vector<std::uint32_t> lens;
  const auto chunks = chunks_of(p, p.cuts, lens);
  side l(p.size), m(p.size);
  CHECK(sorvel_init(&l.ctx, l.buf.data(), p.size, p.options) ==
        sorvel_model::init(&m.ctx, m.buf.data(), p.size, p.options));
  check_same_context(l, m);
  std::uint32_t count = 0;
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    const char *chunk = chunks[i].get();
    if ((p.push_mask >> (i % 8) & 1) != 0) {
      recorder lr{&l, sorvel_reset, p.reset_every, 0, {}};
      recorder mr{&m, sorvel_model::reset, p.reset_every, 0, {}};
      CHECK(sorvel_parse(&l.ctx, chunk, lens[i], &lr, on_recorded) ==
            sorvel_model::parse(&m.ctx, chunk, lens[i], &mr, on_recorded));
      CHECK(lr.tokens == mr.tokens);
      check_same_context(l, m);
      continue;
    }
    // A refused chunk (the last one is not used up) is refused by both.
    CHECK(sorvel_begin(&l.ctx, chunk, lens[i]) ==
          sorvel_model::begin(&m.ctx, chunk, lens[i]));
    check_same_context(l, m);
    for (;;) {
      sorvel_token lt{-7, nullptr, nullptr, 7}, mt{-7, nullptr, nullptr, 7};
      sorvel_token *lp = sorvel_next(&l.ctx, &lt);
      sorvel_token *mp = sorvel_model::next(&m.ctx, &mt);
      CHECK((lp == &lt) == (mp == &mt));
      CHECK((lp == nullptr) == (mp == nullptr));
      CHECK(lt.type == mt.type);
      CHECK(lt.len == mt.len);
      check_same_pointer(lt.name, l, mt.name, m);
      check_same_pointer(lt.text, l, mt.text, m);
      check_same_context(l, m);
      if (lp == nullptr)
        break;
      if (lt.type == SORVEL_TEXT)
        CHECK(std::memcmp(lt.text, mt.text, lt.len + 1) == 0);
      if (p.reset_every != 0 && ++count % p.reset_every == 0) {
        sorvel_reset(&l.ctx);
        sorvel_model::reset(&m.ctx);
        check_same_context(l, m);
      }
    }
  }
}

bool read_plan(const std::uint8_t *data, std::size_t size, plan &p) {
  if (size < 4)
    return false;
  p.options = data[0] & 3u;
  if ((data[0] & 12u) == 12u)
    p.options |= SORVEL_PENDING_END;
  const std::size_t ncuts = data[0] >> 4;
  p.size = 32u + data[1];
  p.push_mask = data[2];
  p.reset_every = data[3];
  if (size < 4 + 2 * ncuts)
    return false;
  p.doc = reinterpret_cast<const char *>(data + 4 + 2 * ncuts);
  p.len = size - 4 - 2 * ncuts;
  for (std::size_t i = 0; i < ncuts; ++i) {
    const std::size_t v = data[4 + 2 * i] | std::size_t{data[5 + 2 * i]} << 8;
    p.cuts.push_back(v % (p.len + 1));
  }
  std::sort(p.cuts.begin(), p.cuts.end());
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  plan p;
  if (!read_plan(data, size, p) || p.len > 0xFFFF)
    return 0;
  const outcome whole = pull(p, {});
  check_same(whole, pull(p, p.cuts));
  check_same(whole, push(p, {}));
  check_same(whole, push(p, p.cuts));
  if (p.len <= 256) {
    std::vector<std::size_t> every(p.len);
    for (std::size_t i = 0; i < p.len; ++i)
      every[i] = i + 1;
    check_same(whole, pull(p, every));
  }
  against_model(p);
  return 0;
}

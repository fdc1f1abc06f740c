// The library against the reference model on random documents, options,
// buffer sizes and chunkings: every result, token and context field must
// agree after every call.
#include "model.hpp"
#include "support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using sorvel_test::exact_chunk;

// Documents that are mostly well formed, with noise where errors live.
class generator {
public:
  explicit generator(std::uint32_t seed) : rng_(seed) {}

  std::string document() {
    std::string doc;
    const int parts = pick(1, 4);
    for (int i = 0; i < parts; ++i) {
      if (chance(20))
        doc += filler();
      element(doc, 0);
    }
    if (chance(30))
      doc += filler();
    // Cut the tail off sometimes, so that documents end mid-construct.
    if (chance(25) && !doc.empty())
      doc.resize(
          static_cast<std::size_t>(pick(0, static_cast<int>(doc.size()))));
    return doc;
  }

  int pick(int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng_);
  }
  bool chance(int percent) { return pick(1, 100) <= percent; }

private:
  std::string name() {
    static const char *const names[] = {"a",     "b",        "item", "x y",
                                        "n\x0c", "\xc3\xa9", "lt",   "q\0r"};
    if (chance(5))
      return std::string(static_cast<std::size_t>(pick(13, 16)), 'n');
    const char *n = names[pick(0, 7)];
    return n[0] == 'q' ? std::string("q\0r", 3) : std::string(n);
  }

  std::string blank() {
    static const char blanks[] = {' ', '\t', '\n', '\v', '\r'};
    return chance(70) ? std::string() : std::string(1, blanks[pick(0, 4)]);
  }

  std::string text() {
    static const char *const pieces[] = {
        "hello",        " ",      "\t\r\n",     "&amp;",      "&lt;",
        "&gt;",         "&apos;", "&quot;",     "&bad;",      "&;",
        "\xe2\x82\xac", "x",      "0123456789", "<!-- c -->", "<!---->",
        "-->",          "&",      ";",          ">",          "\0",
        "\x0c"};
    std::string s;
    const int n = pick(0, 6);
    for (int i = 0; i < n; ++i) {
      const int k = pick(0, 20);
      s += k == 19 ? std::string(1, '\0') : std::string(pieces[k]);
    }
    if (chance(10))
      s += std::string(static_cast<std::size_t>(pick(25, 70)), 't');
    if (chance(8))
      s += long_run();
    return s;
  }

  // Runs long enough for the engine's bulk paths to cross textmax (several
  // times with small buffers), to span many 16-byte blocks, and to end at
  // every offset within a block: prose, "-" clusters inside comments.
  std::string long_run() {
    std::string s;
    const int n = pick(15, 300);
    const bool comment = chance(30);
    if (comment)
      s += "<!--";
    for (int i = 0; i < n; ++i) {
      const int k = pick(0, 40);
      s += k == 0   ? '-'
           : k == 1 ? '\t'
           : k == 2 ? '\xc3'
           : k == 3 ? '\0'
                    : static_cast<char>('a' + k % 26);
    }
    if (comment)
      s += chance(80) ? "-->" : "--->";
    return s;
  }

  std::string filler() {
    static const char *const pieces[] = {
        "junk", "&amp;", " \n", "<!-- x -->", "<!-x", "</z>", "<a/ x>", "<!>"};
    // Long junk at the top level, or long text after a top-level comment.
    if (chance(10))
      return long_run();
    return pieces[pick(0, 7)];
  }

  void element(std::string &doc, int depth) {
    const std::string n = name();
    doc += "<" + blank() + n + blank();
    if (chance(20) || depth > 9) {
      doc += "/" + blank() + ">";
      return;
    }
    doc += ">";
    doc += text();
    const int children = depth < 9 ? pick(0, 2) : 0;
    for (int i = 0; i < children; ++i) {
      element(doc, depth + 1);
      doc += text();
    }
    if (chance(5))
      doc += filler();
    doc += "<" + blank() + "/" + blank() + (chance(95) ? n : name()) +
           (chance(5) ? " " : "") + ">";
  }

  std::mt19937 rng_;
};

// A name or text pointer is compared by where it points: the same offset
// into each side's context or text buffer, or the same string elsewhere.
void expect_same_pointer(const char *lib, const sorvel_ctx &lc, const char *mod,
                         const sorvel_ctx &mc, const char *what) {
  auto offset = [](const char *p, const sorvel_ctx &c) -> long {
    const char *base = reinterpret_cast<const char *>(&c);
    if (p >= base && p < base + sizeof c)
      return p - base;
    if (p >= c.text && p < c.text + c.textsize)
      return 100000 + (p - c.text);
    return -1;
  };
  if (lib == nullptr || mod == nullptr) {
    EXPECT_EQ(lib == nullptr, mod == nullptr) << what;
    return;
  }
  EXPECT_EQ(offset(lib, lc), offset(mod, mc)) << what;
  if (offset(lib, lc) == -1) {
    EXPECT_STREQ(lib, mod) << what;
  }
}

void expect_same_context(const sorvel_ctx &l, const char *lbuf,
                         const sorvel_ctx &m, const char *mbuf) {
  EXPECT_EQ(l.state, m.state);
  EXPECT_EQ(l.depth, m.depth);
  EXPECT_EQ(0, std::memcmp(l.stack, m.stack, sizeof l.stack));
  EXPECT_EQ(0, std::memcmp(l.name, m.name, sizeof l.name));
  EXPECT_EQ(l.namelen, m.namelen);
  EXPECT_EQ(l.in, m.in);
  EXPECT_EQ(l.inlen, m.inlen);
  EXPECT_EQ(l.textflags, m.textflags);
  EXPECT_EQ(l.text, lbuf);
  EXPECT_EQ(m.text, mbuf);
  EXPECT_EQ(l.textlen, m.textlen);
  EXPECT_EQ(l.textmax, m.textmax);
  EXPECT_EQ(l.textsize, m.textsize);
  EXPECT_EQ(l.options, m.options);
  EXPECT_EQ(0, std::memcmp(lbuf, mbuf, l.textsize));
}

struct pushed {
  std::vector<std::string> lines;
};

void record(void *user, std::int32_t type, const char *name, const char *text,
            std::uint32_t len) {
  static_cast<pushed *>(user)->lines.push_back(
      sorvel_test::describe(type, name, text, len));
}

TEST(Model, RandomDocumentsChunkingsAndOptions) {
  for (std::uint32_t seed = 1; seed <= 3000; ++seed) {
    generator g(seed);
    const std::string doc = g.document();
    const auto size = static_cast<std::uint32_t>(
        g.chance(70) ? g.pick(32, 40) : g.pick(41, 200));
    std::uint32_t options = static_cast<std::uint32_t>(g.pick(0, 3));
    if (g.chance(3))
      options |= SORVEL_PENDING_END;
    SCOPED_TRACE("seed " + std::to_string(seed) + " size " +
                 std::to_string(size) + " options " + std::to_string(options));

    std::vector<char> lbuf(size, '\x11'), mbuf(size, '\x11');
    sorvel_ctx lc, mc;
    ASSERT_EQ(sorvel_init(&lc, lbuf.data(), size, options), 0);
    ASSERT_EQ(sorvel_model::init(&mc, mbuf.data(), size, options), 0);

    std::size_t at = 0;
    while (at <= doc.size()) {
      // Mostly small chunks, which split every construct; sometimes large
      // ones, which the engine's block scans need.
      const std::size_t want = static_cast<std::size_t>(
          g.chance(75) ? g.pick(0, 12) : g.pick(13, 400));
      const std::size_t len = std::min(doc.size() - at, want);
      exact_chunk chunk(std::string_view(doc).substr(at, len));
      at += len;
      if (g.chance(40)) {
        pushed lp, mp;
        const std::uint32_t lr =
            sorvel_parse(&lc, chunk.data(), chunk.size(), &lp, record);
        const std::uint32_t mr =
            sorvel_model::parse(&mc, chunk.data(), chunk.size(), &mp, record);
        ASSERT_EQ(lr, mr);
        ASSERT_EQ(lp.lines, mp.lines);
      } else {
        ASSERT_EQ(sorvel_begin(&lc, chunk.data(), chunk.size()),
                  sorvel_model::begin(&mc, chunk.data(), chunk.size()));
        for (;;) {
          sorvel_token lt{-7, nullptr, nullptr, 7}, mt{-7, nullptr, nullptr, 7};
          sorvel_token *lr = sorvel_next(&lc, &lt);
          sorvel_token *mr = sorvel_model::next(&mc, &mt);
          ASSERT_EQ(lr == &lt, mr == &mt);
          ASSERT_EQ(lr == nullptr, mr == nullptr);
          EXPECT_EQ(lt.type, mt.type);
          EXPECT_EQ(lt.len, mt.len);
          expect_same_pointer(lt.name, lc, mt.name, mc, "name");
          expect_same_pointer(lt.text, lc, mt.text, mc, "text");
          expect_same_context(lc, lbuf.data(), mc, mbuf.data());
          if (::testing::Test::HasFailure())
            return;
          if (lr == nullptr)
            break;
          // Now and then give up the rest of the chunk.
          if (g.chance(3)) {
            sorvel_reset(&lc);
            sorvel_model::reset(&mc);
          }
        }
      }
      expect_same_context(lc, lbuf.data(), mc, mbuf.data());
      if (::testing::Test::HasFailure())
        return;
      if (len == 0 && at == doc.size())
        break;
    }
  }
}

} // namespace

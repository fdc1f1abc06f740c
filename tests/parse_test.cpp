// sorvel_parse: its result, its refusals, and how it meets the pull form.
#include "support.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

class Parse : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_EQ(sorvel_init(&ctx, buf, sizeof buf, 0), 0); }

  static void record(void *user, int32_t type, const char *name,
                     const char *text, uint32_t len) {
    static_cast<Parse *>(user)->seen.push_back(
        sorvel_test::describe(type, name, text, len));
  }
  uint32_t parse(const std::string &chunk) {
    return sorvel_parse(&ctx, chunk.data(), static_cast<uint32_t>(chunk.size()),
                        this, record);
  }
  std::string snapshot() const {
    return std::string(reinterpret_cast<const char *>(&ctx), sizeof ctx);
  }

  char buf[64];
  sorvel_ctx ctx;
  sorvel_token tok;
  std::vector<std::string> seen;
};

TEST_F(Parse, TheTracedDocument) {
  EXPECT_EQ(parse("<a>x&amp;y</a>"), 0u);
  EXPECT_EQ(seen, (std::vector<std::string>{"start a", R"(text a 3 "x&y")",
                                            "end a"}));
  EXPECT_EQ(ctx.in, nullptr);
  EXPECT_EQ(ctx.inlen, 0u);
  EXPECT_EQ(ctx.options & SORVEL_PENDING_END, 0u);
}

TEST_F(Parse, AChunkEndingInsideAnElementLeavesItOpen) {
  EXPECT_EQ(parse("<a>par"), 0u);
  EXPECT_EQ(ctx.depth, 1u);
  EXPECT_EQ(parse("tial</a>"), 0u);
  EXPECT_EQ(seen, (std::vector<std::string>{"start a", R"(text a 7 "partial")",
                                            "end a"}));
}

// A malformed byte at offset k of an n-byte chunk gives n - k, with every
// token before it delivered and none after.
TEST_F(Parse, ResultCountsFromTheFailingByte) {
  const std::string doc = "<a>x</a><b>y</c><d/>";
  EXPECT_EQ(parse(doc), doc.size() - 15);
  EXPECT_EQ(seen, (std::vector<std::string>{"start a", R"(text a 1 "x")",
                                            "end a", "start b"}));
  EXPECT_EQ(ctx.state, 0u);
  EXPECT_EQ(ctx.in, nullptr);
  EXPECT_EQ(ctx.inlen, 0u);
  // A malformed first byte gives the whole length, like a refusal, but only
  // this one changes the state.
  ASSERT_EQ(sorvel_init(&ctx, buf, sizeof buf, 0), 0);
  seen.clear();
  EXPECT_EQ(sorvel_parse(&ctx, "<!", 2, this, record), 0u);
  EXPECT_EQ(sorvel_parse(&ctx, "x", 1, this, record), 1u);
  EXPECT_EQ(ctx.state, 0u);
  EXPECT_TRUE(seen.empty());
}

TEST_F(Parse, OnAContextAlreadyInError) {
  ASSERT_EQ(parse("</a>"), 1u);
  ASSERT_EQ(ctx.state, 0u);
  EXPECT_EQ(parse("<b/>"), 5u);
  EXPECT_EQ(sorvel_parse(&ctx, "", 0, this, record), 1u);
  // The length plus one saturates instead of wrapping to 0, which would
  // report success. Nothing is read in the error state, so the bytes behind
  // the pointer are never touched.
  EXPECT_EQ(sorvel_parse(&ctx, "", 0xFFFFFFFFu, this, record), 0xFFFFFFFFu);
  EXPECT_EQ(sorvel_parse(&ctx, "", 0xFFFFFFFEu, this, record), 0xFFFFFFFFu);
  EXPECT_TRUE(seen.empty());
  // While bytes of a chunk that failed under sorvel_next are unread, the
  // call is refused instead.
  ASSERT_EQ(sorvel_init(&ctx, buf, sizeof buf, 0), 0);
  ASSERT_EQ(sorvel_begin(&ctx, "</a>more", 8), 0);
  ASSERT_EQ(sorvel_next(&ctx, &tok), nullptr);
  EXPECT_EQ(parse("<b/>"), 4u);
  EXPECT_EQ(ctx.inlen, 4u);
}

TEST_F(Parse, RefusalsWriteNothing) {
  struct {
    const char *name;
    const char *chunk;
    uint32_t len;
    sorvel_callback cb;
  } const cases[] = {
      {"null callback", "<a/>", 4, nullptr},
      {"null chunk", nullptr, 4, record},
      {"null chunk of length 0", nullptr, 0, record},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string before = snapshot();
    EXPECT_EQ(sorvel_parse(&ctx, c.chunk, c.len, this, c.cb), c.len);
    EXPECT_EQ(snapshot(), before);
  }
  // Unread input left by sorvel_begin: refused, even with a null callback
  // on a context in error.
  ASSERT_EQ(sorvel_begin(&ctx, "<a>x", 4), 0);
  ASSERT_NE(sorvel_next(&ctx, &tok), nullptr);
  const std::string before = snapshot();
  EXPECT_EQ(parse("</a>"), 4u);
  EXPECT_EQ(sorvel_parse(&ctx, "</a>", 4, this, nullptr), 4u);
  EXPECT_EQ(snapshot(), before);
  EXPECT_TRUE(seen.empty());
  // After sorvel_reset it is accepted.
  sorvel_reset(&ctx);
  EXPECT_EQ(parse("</a>"), 0u);
  EXPECT_EQ(seen, (std::vector<std::string>{"end a"}));
}

TEST_F(Parse, AnOwedEndTokenComesFirst) {
  ASSERT_EQ(sorvel_begin(&ctx, "<a>x</a>", 8), 0);
  ASSERT_NE(sorvel_next(&ctx, &tok), nullptr);
  ASSERT_NE(sorvel_next(&ctx, &tok), nullptr);
  ASSERT_EQ(tok.type, SORVEL_TEXT);
  // All input is read, only the end token is owed: an empty chunk delivers
  // it.
  EXPECT_EQ(sorvel_parse(&ctx, "", 0, this, record), 0u);
  EXPECT_EQ(seen, std::vector<std::string>{"end a"});
  EXPECT_EQ(ctx.options, 0u);

  ASSERT_EQ(sorvel_init(&ctx, buf, sizeof buf, 0), 0);
  seen.clear();
  ASSERT_EQ(sorvel_begin(&ctx, "<a>x</a>", 8), 0);
  ASSERT_NE(sorvel_next(&ctx, &tok), nullptr);
  ASSERT_NE(sorvel_next(&ctx, &tok), nullptr);
  EXPECT_EQ(parse("<b>y</b>"), 0u);
  EXPECT_EQ(seen, (std::vector<std::string>{"end a", "start b",
                                            R"(text b 1 "y")", "end b"}));
}

// A callback that calls sorvel_reset ends the parse, but the end token owed
// at that moment still arrives, and the call reports success.
TEST_F(Parse, ResetFromTheCallbackStopsAfterTheOwedEnd) {
  struct stopper {
    sorvel_ctx *ctx;
    std::vector<std::string> seen;
  } s{&ctx, {}};
  auto cb = [](void *user, int32_t type, const char *name, const char *text,
               uint32_t len) {
    auto *st = static_cast<stopper *>(user);
    st->seen.push_back(sorvel_test::describe(type, name, text, len));
    if (type == SORVEL_TEXT)
      sorvel_reset(st->ctx);
  };
  const char doc[] = "<a>x</a><b>never</b>";
  EXPECT_EQ(sorvel_parse(&ctx, doc, sizeof doc - 1, &s, cb), 0u);
  EXPECT_EQ(s.seen,
            (std::vector<std::string>{"start a", R"(text a 1 "x")", "end a"}));
  EXPECT_EQ(ctx.in, nullptr);
  EXPECT_EQ(ctx.state, 1u);
}

TEST_F(Parse, PullAndPushMixOnOneContext) {
  ASSERT_EQ(sorvel_begin(&ctx, "<r><a>1", 7), 0);
  std::vector<std::string> pulled;
  while (sorvel_next(&ctx, &tok) != nullptr)
    pulled.push_back(sorvel_test::describe(tok));
  EXPECT_EQ(parse("2</a><b/>"), 0u);
  ASSERT_EQ(sorvel_begin(&ctx, "</r>", 4), 0);
  while (sorvel_next(&ctx, &tok) != nullptr)
    pulled.push_back(sorvel_test::describe(tok));
  EXPECT_EQ(pulled, (std::vector<std::string>{"start r", "start a", "end r"}));
  EXPECT_EQ(seen, (std::vector<std::string>{R"(text a 2 "12")", "end a",
                                            "start b", "end b"}));
}

} // namespace

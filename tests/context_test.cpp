// sorvel_init, sorvel_begin and sorvel_reset, and the rules between calls.
#include "support.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class Context : public ::testing::Test {
protected:
  void SetUp() override {
    std::memset(buf, '\x33', sizeof buf);
    ASSERT_EQ(sorvel_init(&ctx, buf, sizeof buf, 0), 0);
  }
  // Begins a chunk and pulls until null, returning the tokens as lines.
  std::vector<std::string> feed(const char *chunk) {
    EXPECT_EQ(sorvel_begin(&ctx, chunk, static_cast<uint32_t>(strlen(chunk))),
              0);
    return drain();
  }
  std::vector<std::string> drain() {
    std::vector<std::string> out;
    while (sorvel_next(&ctx, &tok) != nullptr)
      out.push_back(sorvel_test::describe(tok));
    return out;
  }
  std::string snapshot() const {
    return std::string(reinterpret_cast<const char *>(&ctx), sizeof ctx);
  }

  char buf[64];
  sorvel_ctx ctx;
  sorvel_token tok;
};

TEST(Init, TextmaxIsTheLargestEvenNumberBelowTheSize) {
  struct {
    uint32_t size;
    int32_t result;
    uint32_t textmax;
  } const cases[] = {
      {0, 1, 0},   {31, 1, 0},  {32, 0, 30},     {33, 0, 32},
      {34, 0, 32}, {35, 0, 34}, {4096, 0, 4094}, {0xFFFFFFFFu, 0, 0xFFFFFFFEu}};
  char buf[32];
  for (const auto &c : cases) {
    SCOPED_TRACE(c.size);
    sorvel_ctx ctx;
    std::memset(&ctx, 0, sizeof ctx);
    // sorvel_init never touches the buffer, so a small one serves any size.
    ASSERT_EQ(sorvel_init(&ctx, buf, c.size, 0), c.result);
    if (c.result == 0) {
      EXPECT_EQ(ctx.textmax, c.textmax);
      EXPECT_EQ(ctx.textsize, c.size);
    }
  }
}

TEST(Init, RefusalsWriteNothing) {
  char buf[64];
  sorvel_ctx ctx;
  std::memset(&ctx, 0xA5, sizeof ctx);
  const std::string before(reinterpret_cast<char *>(&ctx), sizeof ctx);
  EXPECT_EQ(sorvel_init(&ctx, nullptr, 64, 0), 1);
  EXPECT_EQ(sorvel_init(&ctx, buf, 31, 0), 1);
  EXPECT_EQ(sorvel_init(nullptr, buf, 64, 0), 1);
  EXPECT_EQ(before, std::string(reinterpret_cast<char *>(&ctx), sizeof ctx));
}

TEST(Init, WritesEveryFieldAndLeavesTheBufferAlone) {
  char buf[40];
  std::memset(buf, '\x77', sizeof buf);
  sorvel_ctx ctx;
  std::memset(&ctx, 0xA5, sizeof ctx);
  ASSERT_EQ(sorvel_init(&ctx, buf, sizeof buf, 0x7FFFFFFCu | 3u), 0);
  EXPECT_EQ(ctx.state, 1u);
  EXPECT_EQ(ctx.depth, 0u);
  for (const auto &slot : ctx.stack)
    for (char b : slot)
      EXPECT_EQ(b, 0);
  for (char b : ctx.name)
    EXPECT_EQ(b, 0);
  EXPECT_EQ(ctx.namelen, 0u);
  EXPECT_EQ(ctx.in, nullptr);
  EXPECT_EQ(ctx.inlen, 0u);
  EXPECT_EQ(ctx.textflags, 0u);
  EXPECT_EQ(ctx.text, buf);
  EXPECT_EQ(ctx.textlen, 0u);
  EXPECT_EQ(ctx.textmax, 38u);
  EXPECT_EQ(ctx.textsize, 40u);
  // Stored unchanged, unknown bits included.
  EXPECT_EQ(ctx.options, 0x7FFFFFFFu);
  for (char b : buf)
    EXPECT_EQ(b, '\x77');
}

TEST_F(Context, InitForgetsEverything) {
  const char *const dirty[] = {"</x>", "<a>text</a>", "<a><b>partial"};
  for (const char *doc : dirty) {
    SCOPED_TRACE(doc);
    ASSERT_EQ(sorvel_init(&ctx, buf, sizeof buf, 0), 0);
    ASSERT_EQ(sorvel_begin(&ctx, doc, static_cast<uint32_t>(strlen(doc))), 0);
    // Stop after the first token, or at the error, with input left over or
    // an end token owed.
    sorvel_next(&ctx, &tok);
    sorvel_next(&ctx, &tok);
    ASSERT_EQ(sorvel_init(&ctx, buf, sizeof buf, 0), 0);
    EXPECT_EQ(feed("<n>v</n>"), (std::vector<std::string>{
                                    "start n", R"(text n 1 "v")", "end n"}));
  }
}

TEST_F(Context, BeginRefusesNullAndUnfinishedChunks) {
  EXPECT_EQ(sorvel_begin(&ctx, nullptr, 0), -1);
  EXPECT_EQ(sorvel_begin(&ctx, nullptr, 5), -1);
  EXPECT_EQ(sorvel_begin(&ctx, "", 0), 0);
  EXPECT_EQ(sorvel_next(&ctx, &tok), nullptr);
  EXPECT_EQ(sorvel_begin(&ctx, "<a>", 3), 0);
  const std::string before = snapshot();
  EXPECT_EQ(sorvel_begin(&ctx, "<b>", 3), -1);
  EXPECT_EQ(snapshot(), before);
  // The first chunk goes on where it was.
  EXPECT_EQ(drain(), std::vector<std::string>{"start a"});
}

TEST_F(Context, NextBeforeAnyInputReturnsNull) {
  tok = {42, "untouched", nullptr, 9};
  EXPECT_EQ(sorvel_next(&ctx, &tok), nullptr);
  EXPECT_EQ(ctx.state, 1u);
  EXPECT_EQ(tok.type, 42);
  EXPECT_EQ(tok.len, 9u);
}

TEST_F(Context, OwedEndTokenSurvivesResetAndBegin) {
  ASSERT_EQ(sorvel_begin(&ctx, "<a>x</a>", 8), 0);
  ASSERT_NE(sorvel_next(&ctx, &tok), nullptr);
  ASSERT_NE(sorvel_next(&ctx, &tok), nullptr);
  ASSERT_EQ(tok.type, SORVEL_TEXT);
  sorvel_reset(&ctx);
  EXPECT_EQ(ctx.options, SORVEL_PENDING_END);
  ASSERT_EQ(sorvel_begin(&ctx, "<b/>", 4), 0);
  ASSERT_NE(sorvel_next(&ctx, &tok), nullptr);
  EXPECT_EQ(sorvel_test::describe(tok), "end a");
  EXPECT_EQ(ctx.inlen, 4u); // nothing of the new chunk was read
  EXPECT_EQ(drain(), (std::vector<std::string>{"start b", "end b"}));
}

TEST_F(Context, ResetDropsTheRestButKeepsTheParse) {
  ASSERT_EQ(sorvel_begin(&ctx, "<a>dropped</a>", 14), 0);
  ASSERT_NE(sorvel_next(&ctx, &tok), nullptr);
  sorvel_reset(&ctx);
  EXPECT_EQ(ctx.in, nullptr);
  EXPECT_EQ(ctx.inlen, 0u);
  EXPECT_EQ(ctx.depth, 1u);
  EXPECT_EQ(ctx.state, 2u);
  EXPECT_EQ(feed("kept</a>"),
            (std::vector<std::string>{R"(text a 4 "kept")", "end a"}));
  // With no chunk held, reset changes nothing but in.
  ASSERT_NE(ctx.in, nullptr); // just past the chunk read last
  sorvel_ctx expected = ctx;
  expected.in = nullptr;
  sorvel_reset(&ctx);
  EXPECT_EQ(0, std::memcmp(&ctx, &expected, sizeof ctx));
}

TEST_F(Context, ErrorIsStickyAcrossResetAndBegin) {
  ASSERT_EQ(sorvel_begin(&ctx, "</x>rest", 8), 0);
  EXPECT_EQ(sorvel_next(&ctx, &tok), nullptr);
  ASSERT_EQ(ctx.state, 0u);
  EXPECT_EQ(ctx.inlen, 4u);
  // Bytes of the failing chunk are unread: refused at once.
  EXPECT_EQ(sorvel_begin(&ctx, "<a/>", 4), -1);
  sorvel_reset(&ctx);
  EXPECT_EQ(sorvel_begin(&ctx, "<a/>", 4), 0);
  EXPECT_EQ(sorvel_next(&ctx, &tok), nullptr);
  EXPECT_EQ(ctx.inlen, 4u); // nothing read in error
  EXPECT_EQ(sorvel_begin(&ctx, "<b/>", 4), -1);
  EXPECT_EQ(ctx.state, 0u);
}

TEST_F(Context, ErrorOnTheLastByteLeavesNoInput) {
  ASSERT_EQ(sorvel_begin(&ctx, "</x>", 4), 0);
  EXPECT_EQ(sorvel_next(&ctx, &tok), nullptr);
  EXPECT_EQ(ctx.state, 0u);
  EXPECT_EQ(ctx.inlen, 0u);
  EXPECT_EQ(sorvel_begin(&ctx, "<a/>", 4), 0);
  EXPECT_EQ(sorvel_next(&ctx, &tok), nullptr);
  EXPECT_EQ(ctx.inlen, 4u);
}

// The fields a failure leaves, for each kind of failure.
TEST(Failure, FieldsAfterwards) {
  struct Case {
    const char *name;
    std::string doc;
    uint32_t depth, namelen, textlen;
  } const cases[] = {
      {"ninth element keeps its name unfinished",
       "<a><a><a><a><a><a><a><a>t<abc>", 8, 3, 1},
      {"fifteenth name byte", "<abcdefghijklmno", 0, 15, 0},
      {"end tag with no element open", "</abc>", 0, 0, 0},
      {"mismatch leaves depth reduced and text undelivered", "<a>xy</b>", 0, 0,
       2},
      {"unknown entity", "<a>ab&foo;", 1, 0, 2},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    char buf[64];
    sorvel_ctx ctx;
    sorvel_token tok;
    ASSERT_EQ(sorvel_init(&ctx, buf, sizeof buf, 0), 0);
    sorvel_test::exact_chunk chunk(c.doc);
    ASSERT_EQ(sorvel_begin(&ctx, chunk.data(), chunk.size()), 0);
    while (sorvel_next(&ctx, &tok) != nullptr) {
    }
    EXPECT_EQ(ctx.state, 0u);
    EXPECT_EQ(ctx.in, chunk.data() + chunk.size());
    EXPECT_EQ(ctx.inlen, 0u);
    EXPECT_EQ(ctx.depth, c.depth);
    EXPECT_EQ(ctx.namelen, c.namelen);
    EXPECT_EQ(ctx.textlen, c.textlen);
  }
}

TEST(Lifetime, ClosingTextAndEndShareTheNameBuffer) {
  char buf[32];
  sorvel_ctx ctx;
  sorvel_token tok;
  ASSERT_EQ(sorvel_init(&ctx, buf, sizeof buf, 0), 0);
  ASSERT_EQ(sorvel_begin(&ctx, "<ab>x</ab>", 10), 0);
  ASSERT_NE(sorvel_next(&ctx, &tok), nullptr);
  EXPECT_EQ(tok.name, ctx.name);
  ASSERT_NE(sorvel_next(&ctx, &tok), nullptr);
  EXPECT_EQ(tok.name, ctx.name);
  EXPECT_EQ(tok.text, buf);
  ASSERT_NE(sorvel_next(&ctx, &tok), nullptr);
  EXPECT_EQ(tok.type, SORVEL_END);
  EXPECT_EQ(tok.name, ctx.name);
  EXPECT_STREQ(tok.name, "ab");
}

TEST(Lifetime, FullChunkNamesTheStackSlot) {
  char buf[32];
  sorvel_ctx ctx;
  sorvel_token tok;
  ASSERT_EQ(sorvel_init(&ctx, buf, sizeof buf, 0), 0);
  const std::string doc = "<a><bc>" + std::string(30, 'y');
  ASSERT_EQ(sorvel_begin(&ctx, doc.data(), static_cast<uint32_t>(doc.size())),
            0);
  ASSERT_NE(sorvel_next(&ctx, &tok), nullptr);
  ASSERT_NE(sorvel_next(&ctx, &tok), nullptr);
  ASSERT_NE(sorvel_next(&ctx, &tok), nullptr);
  EXPECT_EQ(tok.type, SORVEL_TEXT);
  EXPECT_EQ(tok.name, ctx.stack[1]);
  EXPECT_EQ(ctx.textflags, 1u);
  EXPECT_EQ(ctx.textlen, 0u);
}

} // namespace

// Tokenizing through the C++ interface allocates nothing: this binary
// replaces the global operator new and counts its calls while a document is
// pulled as a range, counted with a standard algorithm and pushed through a
// callable, from a buffer inside the tokenizer and from a caller's buffer.
#include "sorvel.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <string_view>

namespace {

bool counting = false;
std::size_t news = 0;

void *allocate(std::size_t n) {
  if (counting)
    ++news;
  if (void *p = std::malloc(n != 0 ? n : 1))
    return p;
  throw std::bad_alloc();
}

} // namespace

void *operator new(std::size_t n) {
  return allocate(n);
}
void *operator new[](std::size_t n) {
  return allocate(n);
}
void *operator new(std::size_t n, const std::nothrow_t &) noexcept {
  if (counting)
    ++news;
  return std::malloc(n != 0 ? n : 1);
}
void *operator new[](std::size_t n, const std::nothrow_t &) noexcept {
  return operator new(n, std::nothrow);
}
void operator delete(void *p) noexcept {
  std::free(p);
}
void operator delete[](void *p) noexcept {
  std::free(p);
}
void operator delete(void *p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept {
  std::free(p);
}

namespace {

// Kept out of the optimiser's reach, so the check of the counter itself
// really allocates.
int *volatile sink = nullptr;

constexpr std::string_view chunks[] = {
    "<catalog><book><title>Tokens &amp; ranges</ti", "tle><note>",
    "a long note that fills more than one full chunk of text, so that the "
    "buffer is delivered in the middle of the element</note></book><empty/>",
    "</catalog>"};

struct tally {
  long starts = 0, texts = 0, ends = 0, bytes = 0;
  void operator()(const sorvel::token &t) noexcept {
    starts += t.kind == sorvel::kind::start;
    texts += t.kind == sorvel::kind::text;
    ends += t.kind == sorvel::kind::end;
    bytes += static_cast<long>(t.text.size());
  }
};

struct run {
  tally pulled, pushed;
  long counted = 0;
  bool failed = true;
};

void tokenize(sorvel::basic_tokenizer &pull_tz,
              sorvel::basic_tokenizer &push_tz,
              sorvel::basic_tokenizer &count_tz, run &r) {
  for (std::string_view chunk : chunks) {
    for (const sorvel::token &t : pull_tz.feed(chunk))
      r.pulled(t);
    push_tz.parse(chunk, [&r](const sorvel::token &t) { r.pushed(t); });
    const sorvel::token_range range = count_tz.feed(chunk);
    r.counted +=
        std::count_if(range.begin(), range.end(), [](const sorvel::token &t) {
          return t.kind == sorvel::kind::end;
        });
  }
  r.failed = pull_tz.failed() || push_tz.failed() || count_tz.failed() ||
             pull_tz.depth() != 0;
}

TEST(NoAllocation, CounterSeesOperatorNew) {
  news = 0;
  counting = true;
  sink = new int(1);
  counting = false;
  delete sink;
  EXPECT_EQ(news, 1u);
}

TEST(NoAllocation, WhileTokenizing) {
  run owned, callers;
  news = 0;
  counting = true;
  {
    sorvel::tokenizer<64> a, b, c;
    tokenize(a, b, c, owned);
  }
  {
    char buf_a[48], buf_b[48], buf_c[48];
    sorvel::basic_tokenizer a(buf_a), b(buf_b), c(buf_c);
    tokenize(a, b, c, callers);
  }
  counting = false;
  EXPECT_EQ(news, 0u);

  for (const run *r : {&owned, &callers}) {
    EXPECT_FALSE(r->failed);
    EXPECT_EQ(r->pulled.starts, 5);
    EXPECT_EQ(r->pulled.ends, 5);
    EXPECT_GE(r->pulled.texts, 3);
    EXPECT_EQ(r->pulled.bytes,
              static_cast<long>(
                  std::string_view("Tokens & ranges"
                                   "a long note that fills more than one full "
                                   "chunk of text, so that the buffer is "
                                   "delivered in the middle of the element")
                      .size()));
    EXPECT_EQ(r->pushed.starts, r->pulled.starts);
    EXPECT_EQ(r->pushed.texts, r->pulled.texts);
    EXPECT_EQ(r->pushed.ends, r->pulled.ends);
    EXPECT_EQ(r->pushed.bytes, r->pulled.bytes);
    EXPECT_EQ(r->counted, 5);
  }
}

} // namespace

// The C++ interface: the range and the push form give exactly the tokens,
// final fields and error positions of the C functions, whole and split;
// refusals, errors, resuming, resetting and restarting behave as the C
// calls under them.
#include "sorvel.hpp"
#include "support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace std::string_literals;
using sorvel_test::cut;
using sorvel_test::exact_chunk;
using sorvel_test::guarded_buffer;
using sorvel_test::outcome;
using sorvel_test::record_fields;
using sorvel_test::to_string;

namespace {

std::string line(const sorvel::token &t) {
  // The name is copied so that a wrong view length shows in the line.
  const std::string name(t.name);
  std::string s = sorvel_test::describe(
      static_cast<std::int32_t>(t.kind), name.c_str(), t.text.data(),
      static_cast<std::uint32_t>(t.text.size()));
  if (std::strlen(t.name.data()) != t.name.size())
    s += " (name view of " + std::to_string(t.name.size()) + " bytes)";
  return s;
}

std::vector<std::string> lines(sorvel::token_range r) {
  std::vector<std::string> v;
  for (const sorvel::token &t : r)
    v.push_back(line(t));
  return v;
}

// sorvel_test::pull through feed(): one range per chunk, each chunk in a
// block of its exact size.
outcome range_pull(sorvel::basic_tokenizer &tz, std::string_view doc,
                   const std::vector<std::size_t> &cuts) {
  outcome o;
  std::size_t offset = 0;
  for (std::string_view piece : cut(doc, cuts)) {
    exact_chunk chunk(piece);
    const sorvel::token_range r = tz.feed({chunk.data(), chunk.size()});
    if (!r.accepted()) {
      o.tokens.push_back("(feed refused)");
      break;
    }
    for (const sorvel::token &t : r)
      o.tokens.push_back(line(t));
    if (tz.failed()) {
      o.error_at = static_cast<long>(offset + chunk.size() - tz.unread()) - 1;
      break;
    }
    if (tz.unread() != 0)
      o.tokens.push_back("(input left unread)");
    offset += chunk.size();
  }
  record_fields(o, tz.context());
  return o;
}

// sorvel_test::push through parse().
outcome range_push(sorvel::basic_tokenizer &tz, std::string_view doc,
                   const std::vector<std::size_t> &cuts) {
  outcome o;
  std::size_t offset = 0;
  for (std::string_view piece : cut(doc, cuts)) {
    exact_chunk chunk(piece);
    const std::size_t left =
        tz.parse({chunk.data(), chunk.size()},
                 [&o](const sorvel::token &t) { o.tokens.push_back(line(t)); });
    if (tz.failed()) {
      o.error_at = static_cast<long>(offset + chunk.size() - left);
      break;
    }
    if (left != 0 || tz.unread() != 0)
      o.tokens.push_back("(parse returned " + std::to_string(left) + ")");
    offset += chunk.size();
  }
  record_fields(o, tz.context());
  return o;
}

enum class form { pull, push };

// The C++ form over a guarded caller's buffer, like the C helpers.
outcome run(form f, std::string_view doc, std::uint32_t options,
            std::uint32_t bufsize, const std::vector<std::size_t> &cuts) {
  guarded_buffer buf(bufsize);
  sorvel::basic_tokenizer tz(buf.data(), bufsize, options);
  outcome o =
      f == form::pull ? range_pull(tz, doc, cuts) : range_push(tz, doc, cuts);
  o.canaries_intact = buf.intact(tz.context().textmax);
  return o;
}

outcome reference(form f, std::string_view doc, std::uint32_t options,
                  std::uint32_t bufsize, const std::vector<std::size_t> &cuts) {
  return f == form::pull ? sorvel_test::pull(doc, options, bufsize, cuts)
                         : sorvel_test::push(doc, options, bufsize, cuts);
}

struct Doc {
  const char *name;
  std::string doc;
  std::uint32_t options;
  std::uint32_t bufsize;
};

const std::string x30(30, 'x');

std::vector<Doc> docs() {
  return {
      {"trace", "<a>x&amp;y</a>", 0, 64},
      {"nested, with dropped and skipped text",
       "<a>hello<b>in</b>after<c/></a>", 0, 64},
      {"empty text", "<a><b/></a><c></c>", sorvel::empty_text, 64},
      {"no entities", "<a>&amp;x;&;</a>", sorvel::no_entities, 64},
      {"the five entities", "<e>&lt;&gt;&amp;&apos;&quot;</e>", 0, 64},
      {"comments", "<a>ab<!-- c -- -->cd</a><!---->top", 0, 64},
      {"blanks in tags", "< a\t/\r>< b >t</ b>", 0, 64},
      {"full chunks", "<a>" + x30 + x30 + "y</a>", 0, 32},
      {"full chunk with no element open", "<!---->" + x30 + "<a/>", 0, 32},
      {"NUL bytes in text and names", "<a\0b>x\0y</a>"s, 0, 64},
      {"UTF-8", "<\xc3\xa9>\xc3\xbc</\xc3\xa9>", 0, 64},
      {"an owed end token from the options", "<a/>", SORVEL_PENDING_END, 64},
      {"incomplete", "<a><b>te", 0, 64},
      {"end tag that does not match", "<a>xy</b><c/>", 0, 64},
      {"ninth nested element", "<a><a><a><a><a><a><a><a><a>", 0, 64},
      {"15-byte name", "<a></abcdefghijklmno>", 0, 64},
      {"unknown entity", "<a>t&foo;</a>", 0, 64},
      {"end tag with no element open", "x</a>", 0, 64},
  };
}

void PrintTo(const Doc &d, std::ostream *os) {
  *os << d.name;
}

class SameAsC : public ::testing::TestWithParam<Doc> {};

TEST_P(SameAsC, WholeAndAtEveryCut) {
  const Doc &d = GetParam();
  const std::size_t n = d.doc.size();
  std::vector<std::vector<std::size_t>> splits = {{}};
  for (std::size_t i = 0; i <= n; ++i)
    splits.push_back({i});
  std::vector<std::size_t> every;
  for (std::size_t i = 1; i < n; ++i)
    every.push_back(i);
  splits.push_back(every);
  for (form f : {form::pull, form::push})
    for (const auto &cuts : splits) {
      const outcome want = reference(f, d.doc, d.options, d.bufsize, cuts);
      const outcome got = run(f, d.doc, d.options, d.bufsize, cuts);
      ASSERT_EQ(got, want) << (f == form::pull ? "range" : "parse") << ", "
                           << cuts.size() << " cuts from "
                           << (cuts.empty() ? 0 : cuts[0]) << "\n"
                           << to_string(got) << "expected\n"
                           << to_string(want);
    }
}

// The buffer inside the object gives the same as the caller's buffer.
TEST_P(SameAsC, OwnedBuffer) {
  const Doc &d = GetParam();
  auto check = [&d](sorvel::basic_tokenizer &pull_tz,
                    sorvel::basic_tokenizer &push_tz) {
    outcome want = reference(form::pull, d.doc, d.options, d.bufsize, {});
    want.canaries_intact = true;
    EXPECT_EQ(range_pull(pull_tz, d.doc, {}), want);
    want = reference(form::push, d.doc, d.options, d.bufsize, {});
    want.canaries_intact = true;
    EXPECT_EQ(range_push(push_tz, d.doc, {}), want);
  };
  if (d.bufsize == 32) {
    sorvel::tokenizer<32> a(d.options), b(d.options);
    check(a, b);
  } else {
    sorvel::tokenizer<64> a(d.options), b(d.options);
    check(a, b);
  }
}

std::string doc_name(const ::testing::TestParamInfo<Doc> &info) {
  return sorvel_test::test_name(info.index, info.param.name);
}

INSTANTIATE_TEST_SUITE_P(Documents, SameAsC, ::testing::ValuesIn(docs()),
                         doc_name);

TEST(Range, StopsAtAnErrorThatFailedReports) {
  sorvel::tokenizer<64> tz;
  const std::string_view doc = "<a>xy</b><c/>";
  EXPECT_EQ(lines(tz.feed(doc)), std::vector<std::string>{"start a"});
  EXPECT_TRUE(tz.failed());
  // The offending byte is the ">" of "</b>".
  EXPECT_EQ(tz.unread(), 4u);
  EXPECT_EQ(doc[doc.size() - tz.unread() - 1], '>');
  // Sticky: the rest of the chunk stays unread, and new input is refused.
  EXPECT_TRUE(lines(tz.tokens()).empty());
  EXPECT_FALSE(tz.feed("<d/>").accepted());
  tz.reset();
  const sorvel::token_range r = tz.feed("<d/>");
  EXPECT_TRUE(r.accepted());
  EXPECT_TRUE(r.begin() == r.end());
  EXPECT_TRUE(tz.failed());
  tz.restart();
  EXPECT_FALSE(tz.failed());
  EXPECT_EQ(lines(tz.feed("<d/>")),
            (std::vector<std::string>{"start d", "end d"}));
}

// Leaving a loop early keeps the rest of the chunk: feed refuses the next
// chunk with an empty range and changes nothing; tokens() resumes.
TEST(Range, RefusedChunkIsEmptyAndResumeGoesOn) {
  sorvel::tokenizer<64> tz;
  const std::string_view doc = "<a>xy</a><b>";
  for (const sorvel::token &t : tz.feed(doc)) {
    EXPECT_EQ(line(t), "start a");
    break;
  }
  const std::size_t unread = tz.unread();
  EXPECT_EQ(unread, doc.size() - 3);
  const sorvel::token_range refused = tz.feed("<c/>");
  EXPECT_FALSE(refused.accepted());
  EXPECT_TRUE(refused.begin() == refused.end());
  EXPECT_EQ(tz.unread(), unread);
  EXPECT_EQ(tz.parse("<c/>", [](const sorvel::token &) { ADD_FAILURE(); }), 4u);
  EXPECT_EQ(lines(tz.tokens()),
            (std::vector<std::string>{R"(text a 2 "xy")", "end a", "start b"}));
  EXPECT_EQ(tz.depth(), 1u);
  EXPECT_EQ(lines(tz.feed("</b>")), std::vector<std::string>{"end b"});
  EXPECT_EQ(tz.depth(), 0u);
}

// reset() drops the rest of the chunk and nothing else: the element stays
// open, and an owed end token still comes first.
TEST(Range, ResetDropsOnlyTheChunk) {
  sorvel::tokenizer<64> tz;
  auto r = tz.feed("<a>x</a><b>dropped</b>");
  auto it = r.begin();
  ++it;
  EXPECT_EQ(line(*it), R"(text a 1 "x")");
  tz.reset();
  EXPECT_EQ(tz.unread(), 0u);
  EXPECT_EQ(lines(tz.feed("<c/>")),
            (std::vector<std::string>{"end a", "start c", "end c"}));
}

// A default-constructed view has a null pointer: it is an empty chunk, not
// a refused one, and delivers an owed end token.
TEST(Range, EmptyViewDeliversAnOwedEnd) {
  sorvel::tokenizer<64> tz;
  auto r = tz.feed("<a>x</a>");
  auto it = r.begin();
  EXPECT_EQ((it++)->kind, sorvel::kind::start);
  EXPECT_EQ(it->kind, sorvel::kind::text);
  const sorvel::token_range owed = tz.feed(std::string_view());
  EXPECT_TRUE(owed.accepted());
  EXPECT_EQ(lines(owed), std::vector<std::string>{"end a"});

  tz.restart();
  for (const sorvel::token &t : tz.feed("<a>x</a>"))
    if (t.kind == sorvel::kind::text)
      break;
  std::vector<std::string> got;
  EXPECT_EQ(
      tz.parse(std::string_view(),
               [&got](const sorvel::token &t) { got.push_back(line(t)); }),
      0u);
  EXPECT_EQ(got, std::vector<std::string>{"end a"});
}

TEST(Range, StandardAlgorithms) {
  sorvel::tokenizer<> tz;
  const std::string_view doc = "<a><b>one</b><c/><d>two</d></a>";
  const sorvel::token_range r = tz.feed(doc);
  EXPECT_EQ(std::count_if(r.begin(), r.end(),
                          [](const sorvel::token &t) {
                            return t.kind == sorvel::kind::start;
                          }),
            4);
  tz.restart();
  const sorvel::token_range r2 = tz.feed(doc);
  const auto two = std::find_if(r2.begin(), r2.end(), [](sorvel::token t) {
    return t.kind == sorvel::kind::text && t.text == "two";
  });
  ASSERT_TRUE(two != r2.end());
  EXPECT_EQ(two->name, "d");
  // Input iterators may be counted once, consuming what is left.
  EXPECT_EQ(std::distance(two, r2.end()), 3);
}

// text covers all len bytes, NUL bytes of the input included.
TEST(Token, TextHasEveryByte) {
  sorvel::tokenizer<64> tz(sorvel::empty_text);
  const std::string doc = "<a>x\0y</a><b/>"s;
  std::vector<sorvel::token> copies;
  std::vector<std::string> texts;
  for (sorvel::token t : tz.feed(doc)) {
    copies.push_back(t);
    texts.emplace_back(t.text);
  }
  ASSERT_EQ(copies.size(), 6u);
  EXPECT_EQ(texts[1], "x\0y"s);
  EXPECT_EQ(copies[4].kind, sorvel::kind::text);
  EXPECT_TRUE(texts[4].empty());
  EXPECT_EQ(copies[0].text.data(), nullptr);
}

struct PushResult {
  const char *name;
  std::string doc;
  std::size_t result;
  std::vector<std::string> tokens;
};

// parse() returns what sorvel_parse returns.
TEST(Push, ResultsAreTheC) {
  const std::vector<PushResult> cases = {
      {"whole chunk", "<a>x</a>", 0, {"start a", R"(text a 1 "x")", "end a"}},
      {"open at the end", "<a>x", 0, {"start a"}},
      {"malformed byte at 7 of 12: 5", "<a>&foo;</a>", 5, {"start a"}},
      {"malformed last byte: 1", "<a></b>", 1, {"start a"}},
  };
  for (const PushResult &c : cases) {
    SCOPED_TRACE(c.name);
    sorvel::tokenizer<64> tz;
    std::vector<std::string> got;
    EXPECT_EQ(
        tz.parse(c.doc, [&got](sorvel::token t) { got.push_back(line(t)); }),
        c.result);
    EXPECT_EQ(got, c.tokens);
    EXPECT_EQ(tz.unread(), 0u);
  }
  // On a failed tokenizer: the length plus one, and no call.
  sorvel::tokenizer<64> tz;
  EXPECT_EQ(tz.parse("</a>", [](const sorvel::token &) {}), 1u);
  EXPECT_EQ(tz.parse("<a/>", [](const sorvel::token &) { ADD_FAILURE(); }), 5u);
  EXPECT_EQ(tz.parse("", [](const sorvel::token &) { ADD_FAILURE(); }), 1u);
}

// reset() from the callable ends the parse; an owed end token still comes.
TEST(Push, ResetFromTheCallableStops) {
  sorvel::tokenizer<64> tz;
  std::vector<std::string> got;
  EXPECT_EQ(tz.parse("<a>x</a><b>more</b><c/>",
                     [&](const sorvel::token &t) {
                       got.push_back(line(t));
                       if (t.kind == sorvel::kind::text)
                         tz.reset();
                     }),
            0u);
  EXPECT_EQ(got,
            (std::vector<std::string>{"start a", R"(text a 1 "x")", "end a"}));
  EXPECT_EQ(lines(tz.feed("<d/>")),
            (std::vector<std::string>{"start d", "end d"}));
}

int starts_seen = 0;
void count_starts(sorvel::token t) {
  starts_seen += t.kind == sorvel::kind::start;
}

// Any callable: a function, a function pointer, a const function object,
// and a stateful one, called in place rather than copied.
TEST(Push, AnyCallable) {
  sorvel::tokenizer<64> tz;
  const std::string_view doc = "<a><b/></a>";
  starts_seen = 0;
  tz.parse(doc, count_starts);
  tz.parse(doc, &count_starts);
  EXPECT_EQ(starts_seen, 4);
  struct counter {
    int *n;
    void operator()(const sorvel::token &) const { ++*n; }
  };
  int n = 0;
  const counter c{&n};
  tz.parse(doc, c);
  EXPECT_EQ(n, 4);
  struct tally {
    int ends = 0;
    void operator()(const sorvel::token &t) {
      ends += t.kind == sorvel::kind::end;
    }
  } t;
  tz.parse(doc, t);
  EXPECT_EQ(t.ends, 2);
}

// restart() keeps the options given at construction, less the engine's
// owed-end bit; restart(options) changes them.
TEST(Lifecycle, RestartKeepsOrChangesOptions) {
  sorvel::tokenizer<64> tz(sorvel::empty_text);
  for (const sorvel::token &t : tz.feed("<a>x</a>"))
    if (t.kind == sorvel::kind::text)
      break; // leaves the end token owed
  tz.restart();
  EXPECT_EQ(tz.context().options, sorvel::empty_text);
  EXPECT_EQ(lines(tz.feed("<b/>")),
            (std::vector<std::string>{"start b", R"(text b 0 "")", "end b"}));
  tz.restart(sorvel::no_entities);
  EXPECT_EQ(
      lines(tz.feed("<b>&x;</b>")),
      (std::vector<std::string>{"start b", R"(text b 3 "&x;")", "end b"}));
}

// A caller's buffer that sorvel_init refuses leaves a tokenizer that is
// failed from the start and reads nothing, never an unprepared context.
TEST(CallerBuffer, RefusedBufferFails) {
  char small[31];
  struct {
    const char *name;
    char *buf;
    std::size_t size;
  } const cases[] = {{"31 bytes", small, sizeof small}, {"null", nullptr, 64}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    sorvel::basic_tokenizer tz(c.buf, c.size, 0);
    EXPECT_TRUE(tz.failed());
    EXPECT_FALSE(tz.feed("<a/>").accepted());
    EXPECT_TRUE(lines(tz.tokens()).empty());
    EXPECT_EQ(tz.parse("<a/>", [](const sorvel::token &) { ADD_FAILURE(); }),
              5u);
    tz.reset();
    tz.restart();
    EXPECT_TRUE(tz.failed());
    EXPECT_EQ(tz.unread(), 0u);
  }
  char buf[32];
  sorvel::basic_tokenizer tz(buf, sorvel::no_entities);
  EXPECT_EQ(tz.context().text, buf);
  EXPECT_EQ(tz.context().textmax, 30u);
  EXPECT_EQ(lines(tz.feed("<a>&;</a>")),
            (std::vector<std::string>{"start a", R"(text a 2 "&;")", "end a"}));
}

#if SORVEL_CXX_MAX_PIECE < 64
// Built with small pieces, a chunk is handed to the C functions a piece at a
// time; the table above then checks that this never shows.
TEST(Pieces, ChunkIsFedInPieces) {
  sorvel::tokenizer<64> tz;
  const std::string_view doc = "<abc>0123456789</abc>";
  const sorvel::token_range r = tz.feed(doc);
  EXPECT_EQ(tz.unread(), doc.size());
  EXPECT_EQ(tz.context().inlen, SORVEL_CXX_MAX_PIECE);
  EXPECT_EQ(lines(r),
            (std::vector<std::string>{
                "start abc", R"(text abc 10 "0123456789")", "end abc"}));
  EXPECT_EQ(tz.unread(), 0u);
  // A reset from the callable drops the later pieces too.
  std::vector<std::string> got;
  EXPECT_EQ(tz.parse(doc,
                     [&](const sorvel::token &t) {
                       got.push_back(line(t));
                       tz.reset();
                     }),
            0u);
  EXPECT_EQ(got, std::vector<std::string>{"start abc"});
  EXPECT_EQ(tz.depth(), 1u);
}
#endif

} // namespace

// Token streams of whole documents, and their invariance under chunking.
#include "support.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;
using sorvel_test::outcome;
using sorvel_test::pull;
using sorvel_test::to_string;

namespace {

struct Case {
  const char *name;
  std::string doc;
  std::uint32_t options;
  std::uint32_t bufsize;
  std::vector<std::string> tokens;
  std::uint32_t state; // final state
  long error_at;       // offset of the failing byte, or -1
};

constexpr std::uint32_t NOENT = SORVEL_NOENTITIES;
constexpr std::uint32_t EMPTY = SORVEL_EMPTYTEXT;

const std::string x30(30, 'x');

std::vector<Case> cases() {
  return {
      // Documents that end cleanly in state initial (1) or idle (2).
      {"trace",
       "<a>x&amp;y</a>",
       0,
       64,
       {"start a", R"(text a 3 "x&y")", "end a"},
       1,
       -1},
      {"empty element", "<a/>", 0, 64, {"start a", "end a"}, 1, -1},
      {"empty element, empty text",
       "<a/>",
       EMPTY,
       64,
       {"start a", R"(text a 0 "")", "end a"},
       1,
       -1},
      {"start then end", "<a></a>", 0, 64, {"start a", "end a"}, 1, -1},
      {"start then end, empty text",
       "<a></a>",
       EMPTY,
       64,
       {"start a", R"(text a 0 "")", "end a"},
       1,
       -1},
      {"text before a child is dropped, after it skipped",
       "<a>hello<b>in</b>after</a>",
       0,
       64,
       {"start a", "start b", R"(text b 2 "in")", "end b", "end a"},
       1,
       -1},
      {"empty text for the parent after a child",
       "<a>hello<b>in</b>after</a>",
       EMPTY,
       64,
       {"start a", "start b", R"(text b 2 "in")", "end b", R"(text a 0 "")",
        "end a"},
       1,
       -1},
      {"blanks after < and </ and after names",
       "< a >t</ a>",
       0,
       64,
       {"start a", R"(text a 1 "t")", "end a"},
       1,
       -1},
      {"a blank inside a start tag joins the runs",
       "<ab cd>x</abcd>",
       0,
       64,
       {"start abcd", R"(text abcd 1 "x")", "end abcd"},
       1,
       -1},
      {"TAB, LF and CR are blanks in tags",
       "<\ta\n/\r>",
       0,
       64,
       {"start a", "end a"},
       1,
       -1},
      {"blanks around the / of an empty-element tag",
       "<a / >",
       0,
       64,
       {"start a", "end a"},
       1,
       -1},
      {"control characters reach text unchanged",
       "<a>\t\r\n\v\f</a>",
       0,
       64,
       {R"(start a)", R"(text a 5 "\x09\x0d\x0a\x0b\x0c")", "end a"},
       1,
       -1},
      {"the five entities",
       "<e>&lt;&gt;&amp;&apos;&quot;</e>",
       0,
       64,
       {"start e", R"(text e 5 "<>&'\"")", "end e"},
       1,
       -1},
      {"no entities: & and ; are text",
       "<a>&amp;x;</a>",
       NOENT,
       64,
       {"start a", R"(text a 7 "&amp;x;")", "end a"},
       1,
       -1},
      {"no entities: even unknown names",
       "<a>&;&foo</a>",
       NOENT,
       64,
       {"start a", R"(text a 6 "&;&foo")", "end a"},
       1,
       -1},
      {"a comment does not split text",
       "<a>ab<!-- c -->cd</a>",
       0,
       64,
       {"start a", R"(text a 4 "abcd")", "end a"},
       1,
       -1},
      {"dashes inside a comment",
       "<a>x<!-- a - b -- c --->y--></a>",
       0,
       64,
       {"start a", R"(text a 1 "x")", "end a"},
       1,
       -1},
      {"shortest comment",
       "<a><!---->z</a>",
       0,
       64,
       {"start a", R"(text a 1 "z")", "end a"},
       1,
       -1},
      {"<!--> does not end a comment",
       "<a><!-->x-->y</a>",
       0,
       64,
       {"start a", R"(text a 1 "y")", "end a"},
       1,
       -1},
      {"blanks between < and ! of a comment",
       "<a>p< !---->q</a>",
       0,
       64,
       {"start a", R"(text a 2 "pq")", "end a"},
       1,
       -1},
      {"text after a comment after a child is the parent's",
       "<a><b/>x<!---->y</a>",
       0,
       64,
       {"start a", "start b", "end b", R"(text a 1 "y")", "end a"},
       1,
       -1},
      {"top-level text is skipped, & and > included",
       "junk & > <a>x</a> more &bogus; <b/> tail",
       0,
       64,
       {"start a", R"(text a 1 "x")", "end a", "start b", "end b"},
       1,
       -1},
      {"top-level text after a comment is collected, then dropped",
       "<!--c-->h&amp;i<a>t</a>",
       0,
       64,
       {"start a", R"(text a 1 "t")", "end a"},
       1,
       -1},
      {"top-level text after a comment stays collected",
       "<!---->hi",
       0,
       64,
       {},
       2,
       -1},
      {"full chunk at exactly textmax",
       "<a>" + x30 + "</a>",
       0,
       32,
       {"start a", "text a 30 \"" + x30 + "\"", "end a"},
       1,
       -1},
      {"no empty text after a full chunk",
       "<a>" + x30 + "</a>",
       EMPTY,
       32,
       {"start a", "text a 30 \"" + x30 + "\"", "end a"},
       1,
       -1},
      {"full chunk and a closing text",
       "<a>" + x30 + "y</a>",
       0,
       32,
       {"start a", "text a 30 \"" + x30 + "\"", R"(text a 1 "y")", "end a"},
       1,
       -1},
      {"33- and 34-byte buffers both give textmax 32",
       "<a>" + x30 + "yz!</a>",
       0,
       34,
       {"start a", "text a 32 \"" + x30 + "yz\"", R"(text a 1 "!")", "end a"},
       1,
       -1},
      {"an entity completes a full chunk",
       "<a>" + x30.substr(1) + "&lt;</a>",
       0,
       32,
       {"start a", "text a 30 \"" + x30.substr(1) + "<\"", "end a"},
       1,
       -1},
      {"a full chunk before a child suppresses the parent's empty text",
       "<a>" + x30 + "<b></b></a>",
       EMPTY,
       32,
       {"start a", "text a 30 \"" + x30 + "\"", "start b", R"(text b 0 "")",
        "end b", "end a"},
       1,
       -1},
      {"a full chunk with no element open has an empty name",
       "<!---->" + x30 + "<a/>",
       0,
       32,
       {"text  30 \"" + x30 + "\"", "start a", "end a"},
       1,
       -1},
      {"NUL in text is counted",
       "<a>x\0y</a>"s,
       0,
       64,
       {"start a", R"(text a 3 "x\x00y")", "end a"},
       1,
       -1},
      {"NUL in a name ends the name",
       "<a\0b>t</a>"s,
       0,
       64,
       {"start a", R"(text a 1 "t")", "end a"},
       1,
       -1},
      {"UTF-8 names and text",
       "<\xc3\xa9>\xc3\xbc</\xc3\xa9>",
       0,
       64,
       {"start \\xc3\\xa9", R"(text \xc3\xa9 2 "\xc3\xbc")", "end \\xc3\\xa9"},
       1,
       -1},
      {"FF is a name character",
       "<\fa>x</\fa>",
       0,
       64,
       {"start \\x0ca", R"(text \x0ca 1 "x")", "end \\x0ca"},
       1,
       -1},
      {"> right after < or </ starts a name",
       "<>>x</>>",
       0,
       64,
       {"start >", R"(text > 1 "x")", "end >"},
       1,
       -1},
      {"< & = and quotes are name characters",
       "<a<&=\"'>v</a<&=\"'>",
       0,
       64,
       {R"(start a<&=\"')", R"(text a<&=\"' 1 "v")", R"(end a<&=\"')"},
       1,
       -1},
      {"fourteen-byte names",
       "<abcdefghijklmn>v</abcdefghijklmn>",
       0,
       64,
       {"start abcdefghijklmn", R"(text abcdefghijklmn 1 "v")",
        "end abcdefghijklmn"},
       1,
       -1},
      {"bit 31 in the options owes an end token",
       "<a/>",
       SORVEL_PENDING_END,
       64,
       {"end ", "start a", "end a"},
       1,
       -1},
      {"incomplete: inside text", "<a>xy", 0, 64, {"start a"}, 2, -1},
      {"incomplete: inside a start tag", "<ab", 0, 64, {}, 4, -1},
      {"incomplete: & without ; swallows markup",
       "<a>&lt</a>",
       0,
       64,
       {"start a"},
       9,
       -1},

      // Documents that fail; error_at is the offset of the failing byte.
      {"byte after the / of an empty-element tag",
       "<a/x>",
       0,
       64,
       {"start a"},
       0,
       3},
      {"byte after <!", "<a><!x", 0, 64, {"start a"}, 0, 5},
      {"blank after <!", "<a><! --", 0, 64, {"start a"}, 0, 5},
      {"byte between the dashes of <!--", "<a><!-x", 0, 64, {"start a"}, 0, 6},
      {"ninth nested element",
       "<a><a><a><a><a><a><a><a><a>",
       0,
       64,
       {"start a", "start a", "start a", "start a", "start a", "start a",
        "start a", "start a"},
       0,
       26},
      {"ninth nested empty-element tag",
       "<a><a><a><a><a><a><a><a><a/>",
       0,
       64,
       {"start a", "start a", "start a", "start a", "start a", "start a",
        "start a", "start a"},
       0,
       26},
      {"15-byte start-tag name", "<abcdefghijklmno>", 0, 64, {}, 0, 15},
      {"15-byte end-tag name",
       "<a></abcdefghijklmno>",
       0,
       64,
       {"start a"},
       0,
       19},
      {"15-byte entity name",
       "<a>&abcdefghijklmno;",
       0,
       64,
       {"start a"},
       0,
       18},
      {"end tag with no element open", "</a>", 0, 64, {}, 0, 3},
      {"end tag that does not match", "<a>xy</b>", 0, 64, {"start a"}, 0, 8},
      {"blank before the > of an end tag",
       "<a></a >",
       0,
       64,
       {"start a"},
       0,
       7},
      {"LF before the > of an end tag", "<a></a\n>", 0, 64, {"start a"}, 0, 7},
      {"unknown entity", "<a>&foo;", 0, 64, {"start a"}, 0, 7},
      {"empty entity name", "<a>&;", 0, 64, {"start a"}, 0, 4},
      {"numeric character reference", "<a>&#60;", 0, 64, {"start a"}, 0, 7},
      {"entity name in upper case", "<a>&LT;", 0, 64, {"start a"}, 0, 6},
      {"blank inside an entity name", "<a>& lt;", 0, 64, {"start a"}, 0, 7},
      {"end tag at top level after a comment",
       "<!---->x</a>",
       0,
       64,
       {},
       0,
       11},
      {"unknown entity at top level after a comment",
       "<!---->&x;",
       0,
       64,
       {},
       0,
       9},
  };
}

void PrintTo(const Case &c, std::ostream *os) {
  *os << c.name;
}

class Documents : public ::testing::TestWithParam<Case> {};

TEST_P(Documents, WholeDocument) {
  const Case &c = GetParam();
  const outcome o = pull(c.doc, c.options, c.bufsize);
  EXPECT_EQ(o.tokens, c.tokens) << to_string(o);
  EXPECT_EQ(o.state, c.state);
  EXPECT_EQ(o.error_at, c.error_at);
  EXPECT_TRUE(o.canaries_intact);
}

// Where the document is cut never shows: every single cut and, for short
// documents, every pair of cuts gives the tokens, the final fields and the
// error position of the whole document.
TEST_P(Documents, EveryCut) {
  const Case &c = GetParam();
  const outcome whole = pull(c.doc, c.options, c.bufsize);
  const std::size_t n = c.doc.size();
  for (std::size_t i = 0; i <= n; ++i) {
    const outcome o = pull(c.doc, c.options, c.bufsize, {i});
    ASSERT_EQ(o, whole) << "cut at " << i << "\n" << to_string(o);
  }
  if (n > 48)
    return;
  for (std::size_t i = 0; i <= n; ++i)
    for (std::size_t j = i; j <= n; ++j) {
      const outcome o = pull(c.doc, c.options, c.bufsize, {i, j});
      ASSERT_EQ(o, whole) << "cuts at " << i << ", " << j << "\n"
                          << to_string(o);
    }
}

// The push form delivers exactly what the pull form does, whole and at
// every cut, and reports the same error position through its result.
TEST_P(Documents, PushEqualsPull) {
  const Case &c = GetParam();
  for (std::size_t i = 0; i <= c.doc.size(); ++i) {
    const std::vector<std::size_t> cuts = {i};
    const outcome o = sorvel_test::push(c.doc, c.options, c.bufsize, cuts);
    ASSERT_EQ(o, pull(c.doc, c.options, c.bufsize, cuts))
        << "cut at " << i << "\n"
        << to_string(o);
  }
}

TEST_P(Documents, OneByteChunks) {
  const Case &c = GetParam();
  std::vector<std::size_t> cuts;
  for (std::size_t i = 1; i < c.doc.size(); ++i)
    cuts.push_back(i);
  EXPECT_EQ(pull(c.doc, c.options, c.bufsize, cuts),
            pull(c.doc, c.options, c.bufsize));
}

std::string case_name(const ::testing::TestParamInfo<Case> &info) {
  return sorvel_test::test_name(info.index, info.param.name);
}

INSTANTIATE_TEST_SUITE_P(Table, Documents, ::testing::ValuesIn(cases()),
                         case_name);

// Eight nested elements with 14-byte names: every token carries the whole
// name and every end tag matches its own start tag.
TEST(Nesting, EightLevelsOfFourteenByteNames) {
  std::string doc;
  std::vector<std::string> expected;
  std::vector<std::string> names;
  for (char c = 'a'; c < 'a' + 8; ++c) {
    names.push_back(std::string(13, c) + "Z");
    doc += "<" + names.back() + ">";
    expected.push_back("start " + names.back());
  }
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    doc += "</" + *it + ">";
    expected.push_back("end " + *it);
  }
  const outcome o = pull(doc);
  EXPECT_EQ(o.tokens, expected);
  EXPECT_EQ(o.state, 1u);
  EXPECT_EQ(o.depth, 0u);
  EXPECT_EQ(o.textflags, 0u);
}

} // namespace

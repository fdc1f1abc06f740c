// sorvel-dump as a user runs it: a separate process given files or a pipe,
// judged by its standard output, standard error and exit status. The tests
// run in examples/, so the sample documents are named as in the README.
#include <sorvel.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

struct result {
  int status = -1;
  std::string out;
  std::string err;
};

bool operator==(const result &a, const result &b) {
  return a.status == b.status && a.out == b.out && a.err == b.err;
}

std::ostream &operator<<(std::ostream &os, const result &r) {
  return os << "status " << r.status << "\n--- stdout\n"
            << r.out << "--- stderr\n"
            << r.err;
}

std::string read_file(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void write_file(const std::string &path, const std::string &bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string golden(const std::string &name) {
  return read_file(std::string(SORVEL_DUMP_GOLDEN) + "/" + name);
}

// A file name of its own for this process.
std::string scratch(const std::string &what) {
  static int serial = 0;
  return ::testing::TempDir() + "sorvel-dump-" + std::to_string(getpid()) +
         "-" + std::to_string(++serial) + "-" + what;
}

// A document in a file of its own, removed again at the end of the scope.
class document {
public:
  explicit document(const std::string &bytes) : path_(scratch("doc.xml")) {
    write_file(path_, bytes);
  }
  ~document() { std::remove(path_.c_str()); }
  document(const document &) = delete;
  document &operator=(const document &) = delete;
  const std::string &path() const { return path_; }

private:
  std::string path_;
};

// Runs the tool with args. With input, standard input is a pipe that the
// input is written into, so reads come in whatever pieces the pipe gives;
// without, it is /dev/null.
result run(const std::vector<std::string> &args,
           const std::string *input = nullptr) {
  std::signal(SIGPIPE, SIG_IGN); // the tool may stop reading early
  const std::string out = scratch("out"), err = scratch("err");
  int pipe_fds[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (input != nullptr) {
    if (pipe(pipe_fds) != 0)
      return {};
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[0], 0);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[1]);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);

  std::vector<std::string> strings{SORVEL_DUMP};
  strings.insert(strings.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &s : strings)
    argv.push_back(s.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, SORVEL_DUMP, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (input != nullptr) {
    close(pipe_fds[0]);
    const char *p = input->data();
    std::size_t left = input->size();
    while (spawned == 0 && left > 0) {
      const ssize_t n = write(pipe_fds[1], p, left);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        break;
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    close(pipe_fds[1]);
  }
  result r;
  int wstatus = 0;
  if (spawned == 0 && waitpid(pid, &wstatus, 0) == pid && WIFEXITED(wstatus))
    r.status = WEXITSTATUS(wstatus);
  r.out = read_file(out);
  r.err = read_file(err);
  std::remove(out.c_str());
  std::remove(err.c_str());
  return r;
}

// The ways of driving the library that must give byte-identical results:
// pulled and pushed, at chunk sizes 1, 2, 3, 7 and the default.
const std::vector<std::vector<std::string>> drives = {
    {},
    {"--chunk", "1"},
    {"--chunk", "2"},
    {"--chunk", "3"},
    {"--chunk", "7"},
    {"--push"},
    {"--push", "--chunk", "1"},
    {"--push", "--chunk", "2"},
    {"--push", "--chunk", "3"},
    {"--push", "--chunk", "7"},
};

// Runs args under every drive, checks that all give the same result, and
// returns it.
result run_every_way(const std::vector<std::string> &args) {
  result first;
  for (const auto &drive : drives) {
    std::vector<std::string> all = drive;
    all.insert(all.end(), args.begin(), args.end());
    std::string shown;
    for (const std::string &a : all)
      shown += " " + a;
    SCOPED_TRACE("sorvel-dump" + shown);
    const result r = run(all);
    if (drive.empty())
      first = r;
    else
      EXPECT_EQ(r, first);
  }
  return first;
}

// ---- Sample documents and their reviewed output ---------------------------

struct golden_case {
  const char *file; // expected output, in golden/
  std::vector<std::string> args;
};

void PrintTo(const golden_case &c, std::ostream *os) {
  *os << c.file;
}

class Golden : public ::testing::TestWithParam<golden_case> {};

TEST_P(Golden, OutputMatchesReviewedFileWhateverTheDrive) {
  const golden_case &c = GetParam();
  const result r = run_every_way(c.args);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, golden(c.file));
}

INSTANTIATE_TEST_SUITE_P(
    Samples, Golden,
    ::testing::Values(
        golden_case{"catalog.out", {"catalog.xml"}},
        golden_case{"config.out", {"config.xml"}},
        golden_case{"messages.out", {"messages.xml"}},
        // Text longer than 30 bytes arrives in full chunks.
        golden_case{"messages-buffer32.out", {"--buffer=32", "messages.xml"}},
        golden_case{"config-empty-text.out", {"--empty-text", "config.xml"}},
        golden_case{"catalog-no-entities.out",
                    {"--no-entities", "catalog.xml"}},
        golden_case{"count.out",
                    {"-c", "catalog.xml", "config.xml", "messages.xml"}}),
    [](const ::testing::TestParamInfo<golden_case> &param) {
      std::string name;
      for (const char *p = param.param.file; *p != '.'; ++p)
        name += *p == '-' ? '_' : *p;
      return name;
    });

// ---- Output format ----------------------------------------------------------

TEST(Format, EscapesControlBytesQuoteAndBackslashAndPassesUtf8) {
  const document doc(std::string("<t>\t\r\n\v\f\x01\x7f\\\"\xc3\xa9") +
                     std::string("\0z", 2) + "</t>");
  const result r = run_every_way({doc.path()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "start t\n"
            "text t 13 \"\\t\\r\\n\\v\\f\\x01\\x7f\\\\\\\"\xc3\xa9\\0z\"\n"
            "end t\n");
}

TEST(Format, NamesAreEscapedLikeText) {
  const document doc("<a\fb&c\"><x\x1f/></a\fb&c\">");
  const result r = run_every_way({doc.path()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "start a\\fb&c\\\"\nstart x\\x1f\nend x\\x1f\n"
                   "end a\\fb&c\\\"\n");
}

TEST(Format, TopLevelFullChunkHasAnEmptyName) {
  // After a top-level comment, text is collected with no element open.
  const document doc("<!---->" + std::string(31, 'x') + "<a/>");
  const result r = run_every_way({"--buffer", "32", doc.path()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "text \"\" 30 \"" + std::string(30, 'x') + "\"\nstart a\nend a\n");
}

TEST(Format, LimitsOfTheLanguageAreAccepted) {
  // Eight nested elements with names of 14 bytes.
  std::string open, close, starts, ends;
  for (char d = '1'; d <= '8'; ++d) {
    const std::string name = std::string("level") + d + "_abcdefg";
    ASSERT_EQ(name.size(), 14u);
    open += "<" + name + ">";
    close = "</" + name + ">" + close;
    starts += "start " + name + "\n";
    ends = "end " + name + "\n" + ends;
  }
  const document file(open + close);
  const result r = run_every_way({file.path()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, starts + ends);
}

TEST(Format, EmptyDocumentAndTrailingCommentAreComplete) {
  const document empty("");
  EXPECT_EQ(run_every_way({empty.path()}), (result{0, "", ""}));
  const document trailing("<a/>\n<!-- end of file -->\n");
  EXPECT_EQ(run_every_way({trailing.path()}),
            (result{0, "start a\nend a\n", ""}));
}

// ---- Malformed and incomplete documents -------------------------------------

struct malformed_case {
  const char *name;
  std::string doc;
  const char *error; // what follows "FILE:" on standard error
};

const malformed_case malformed[] = {
    {"end tag names another element", "<a>\n  <b>x</a>",
     "2:10: error: end tag \"a\" does not match open element \"b\""},
    {"blank before the > of an end tag", "<a>text</a >",
     "1:12: error: end tag \"a \" does not match open element \"a\""},
    {"tab before the > of an end tag", "<a></a\t>",
     "1:8: error: end tag \"a \" does not match open element \"a\""},
    {"end tag with nothing open", "<a/></b>",
     "1:8: error: end tag with no open element"},
    {"end tag after a top-level comment", "<!-- c --></a>",
     "1:14: error: end tag with no open element"},
    {"element name of 15 bytes", "<abcdefghijklmno>",
     "1:16: error: element name longer than 14 bytes"},
    {"element name of 15 bytes across a blank", "<abcdefg hijklmno>",
     "1:17: error: element name longer than 14 bytes"},
    {"XML declaration", "<?xml version=\"1.0\"?>\n<a/>",
     "1:17: error: element name longer than 14 bytes"},
    {"end tag name of 15 bytes", "<a></abcdefghijklmno>",
     "1:20: error: end tag name longer than 14 bytes"},
    {"entity name of 15 bytes", "<a>&abcdefghijklmno;</a>",
     "1:19: error: entity name longer than 14 bytes"},
    {"ninth nested element", "<a><b><c><d><e><f><g><h><i>",
     "1:27: error: more than 8 nested elements"},
    {"ninth nested element, empty", "<a><b><c><d><e><f><g><h>\n<i/>",
     "2:3: error: more than 8 nested elements"},
    {"unknown entity", "<a>&foo;</a>", "1:8: error: unknown entity \"&foo;\""},
    {"empty entity name", "<a>&;</a>", "1:5: error: unknown entity \"&;\""},
    {"numeric character reference", "<a>&#60;</a>",
     "1:8: error: unknown entity \"&#60;\""},
    {"entity in upper case", "<a>&AMP;</a>",
     "1:8: error: unknown entity \"&AMP;\""},
    {"tab inside an entity name", "<a>&a\tmp;</a>",
     "1:9: error: unknown entity \"&a mp;\""},
    {"declaration", "<a><!DOCTYPE a></a>",
     "1:6: error: expected \"-\" after \"<!\""},
    {"blank inside a comment opener", "<!- -->",
     "1:4: error: expected \"-\" after \"<!-\""},
    {"byte after the / of an empty-element tag", "<a><b/c></a>",
     "1:7: error: expected \">\" after \"/\""},
    {"byte after blanks after the /", "<a / x>",
     "1:6: error: expected \">\" after \"/\""},
    {"CR LF line ends", "<a>\r\n<b>\r\n</a>",
     "3:4: error: end tag \"a\" does not match open element \"b\""},
    {"error on a later line",
     "<log>\n<m>one</m>\n<m>two</m>\n<m>three</n>\n</log>\n",
     "4:12: error: end tag \"n\" does not match open element \"m\""},
    {"columns count bytes",
     "<gr\xc3\xb6\xc3\x9f"
     "e></gr\xc3\xb6sse>",
     "1:19: error: end tag \"gr\xc3\xb6sse\" does not match open element "
     "\"gr\xc3\xb6\xc3\x9f"
     "e\""},
    {"control byte in an end tag", "<a></\x01>",
     "1:7: error: end tag \"\\x01\" does not match open element \"a\""},
    {"NUL byte in an end tag", std::string("<a></\0b>", 8),
     "1:8: error: end tag \"\\0b\" does not match open element \"a\""},

    {"end inside an element", "<a>",
     "1:4: error: unexpected end of input: element \"a\" is not closed"},
    {"end after the last line", "<a>\n  <b>text</b>\n",
     "3:1: error: unexpected end of input: element \"a\" is not closed"},
    {"innermost element is named", "<a><b>text",
     "1:11: error: unexpected end of input: element \"b\" is not closed"},
    {"end after a bracket", "<",
     "1:2: error: unexpected end of input: tag is not finished"},
    {"end after a bracket and slash", "<a></",
     "1:6: error: unexpected end of input: tag is not finished"},
    {"end inside a start tag", "<a",
     "1:3: error: unexpected end of input: start tag \"a\" is not finished"},
    {"end after a blank in a start tag", "<ab ",
     "1:5: error: unexpected end of input: start tag \"ab\" is not finished"},
    {"end after the / of an empty-element tag", "<a/",
     "1:4: error: unexpected end of input: empty-element tag \"a\" is not "
     "finished"},
    {"end inside an end tag", "<a></a",
     "1:7: error: unexpected end of input: end tag \"a\" is not finished"},
    {"end inside an entity reference", "<a>&am",
     "1:7: error: unexpected end of input: entity reference \"&am\" is not "
     "finished"},
    {"ampersand without semicolon takes the markup", "<a>AT&T</a>",
     "1:12: error: unexpected end of input: entity reference \"&T</a>\" is "
     "not finished"},
    {"end after a bracket and bang", "<!",
     "1:3: error: unexpected end of input: comment is not closed"},
    {"comment closed with a blank before >", "<a><!-- note -- >\n</a>",
     "2:5: error: unexpected end of input: comment is not closed"},
    {"comment ending in three dashes", "<a><!-- x --->",
     "1:15: error: unexpected end of input: comment is not closed"},
};

void PrintTo(const malformed_case &c, std::ostream *os) {
  *os << c.name;
}

class Malformed : public ::testing::TestWithParam<malformed_case> {};

TEST_P(Malformed, ErrorAtExactLineAndColumnWhateverTheDrive) {
  const malformed_case &c = GetParam();
  const document doc(c.doc);
  const result r = run_every_way({doc.path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, doc.path() + ":" + c.error + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Table, Malformed, ::testing::ValuesIn(malformed),
    [](const ::testing::TestParamInfo<malformed_case> &param) {
      std::string name;
      for (const char *p = param.param.name; *p != '\0'; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return name;
    });

TEST(Errors, TokensBeforeTheErrorArePrinted) {
  const document doc("<a><b>x</b><c>");
  const result r = run_every_way({doc.path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "start a\nstart b\ntext b 1 \"x\"\nend b\nstart c\n");
  EXPECT_EQ(r.err, doc.path() +
                       ":1:15: error: unexpected end of input: element \"c\" "
                       "is not closed\n");
}

TEST(Errors, OptionsChangeWhatIsMalformed) {
  const document doc("<a>&foo;</a>");
  EXPECT_EQ(run_every_way({"--no-entities", doc.path()}),
            (result{0, "start a\ntext a 5 \"&foo;\"\nend a\n", ""}));
}

TEST(Errors, QuietPrintsOnlyErrors) {
  const document bad("<a>");
  const result r = run({"-q", "catalog.xml", bad.path(), "config.xml"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            bad.path() +
                ":1:4: error: unexpected end of input: element \"a\" is not "
                "closed\n");
  EXPECT_EQ(run({"--quiet", "catalog.xml"}), (result{0, "", ""}));
}

// ---- Files, standard input and exit status ---------------------------------

TEST(Files, GoesOnAfterAMalformedDocument) {
  const document bad("<a></b>");
  const result r = run({bad.path(), "catalog.xml"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "start a\n" + golden("catalog.out"));
  EXPECT_EQ(r.err, bad.path() + ":1:7: error: end tag \"b\" does not match "
                                "open element \"a\"\n");
}

TEST(Files, MissingFileIsReportedAndTheRestIsRead) {
  const result r = run({"missing.xml", "catalog.xml"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, golden("catalog.out"));
  EXPECT_EQ(r.err, "sorvel-dump: missing.xml: No such file or directory\n");
}

TEST(Files, UnreadableFileOutranksAMalformedOne) {
  const document bad("<a>");
  const result r = run({"-q", bad.path(), "."});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, bad.path() +
                       ":1:4: error: unexpected end of input: element \"a\" "
                       "is not closed\nsorvel-dump: .: Is a directory\n");
}

TEST(Files, DoubleDashEndsTheOptions) {
  const result r = run({"--", "-q"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "sorvel-dump: -q: No such file or directory\n");
}

TEST(StandardInput, ReadWhenNoFileOrDashIsGiven) {
  const std::string catalog = read_file("catalog.xml");
  const result expected{0, golden("catalog.out"), ""};
  EXPECT_EQ(run({}, &catalog), expected);
  EXPECT_EQ(run({"-"}, &catalog), expected);
  EXPECT_EQ(run({"--push", "--chunk", "3", "-"}, &catalog), expected);
}

TEST(StandardInput, ErrorsNameItDash) {
  const std::string doc = "<a>\n<b></a>\n";
  const result r = run({}, &doc);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "-:2:7: error: end tag \"a\" does not match open element \"b\"\n");
}

TEST(StandardInput, LongStreamThroughAPipe) {
  // Larger than a pipe holds, so the tool reads it in pieces as it comes.
  std::string doc = "<log>\n";
  for (int i = 0; i < 20000; ++i)
    doc += "<m>hello</m>\n";
  doc += "</log>\n";
  EXPECT_EQ(run({"-c"}, &doc),
            (result{0,
                    "-: 20001 elements, 20000 text tokens, 100000 text "
                    "bytes, 260013 input bytes, max depth 2\n",
                    ""}));
  const document file(doc);
  EXPECT_EQ(run({}, &doc), run({file.path()}));
}

// ---- Command line -----------------------------------------------------------

TEST(CommandLine, Version) {
  const std::string version = std::to_string(SORVEL_VERSION_MAJOR) + "." +
                              std::to_string(SORVEL_VERSION_MINOR) + "." +
                              std::to_string(SORVEL_VERSION_PATCH);
  EXPECT_EQ(run({"--version"}),
            (result{0, "sorvel-dump " + version + "\n", ""}));
}

TEST(CommandLine, Help) {
  for (const char *opt : {"-h", "--help"}) {
    const result r = run({opt, "missing.xml"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: sorvel-dump [OPTIONS] [FILE...]\n", 0), 0u);
    EXPECT_EQ(r.err, "");
  }
}

TEST(CommandLine, UsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"},
      {"-x", "catalog.xml"},
      {"catalog.xml", "--chunk"},
      {"--chunk", "0"},
      {"--chunk", "12k"},
      {"--chunk=-1"},
      {"--chunk", "1073741825"},
      {"--buffer", "31"},
      {"--buffer", ""},
      {"--buffer", "99999999999999999999"},
      {"--push=yes"},
      {"-q", "-c"},
  };
  for (const auto &args : cases) {
    SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
    const result r = run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("sorvel-dump: ", 0), 0u);
    const std::string hint = "Try 'sorvel-dump --help' for more information.\n";
    EXPECT_GT(r.err.size(), hint.size());
    EXPECT_EQ(r.err.substr(r.err.size() - hint.size()), hint);
  }
  EXPECT_EQ(run({"--buffer", "31"}).err,
            "sorvel-dump: --buffer needs a number from 32 to 1073741824, not "
            "\"31\"\nTry 'sorvel-dump --help' for more information.\n");
  // The smallest buffer is accepted.
  EXPECT_EQ(run({"--buffer", "32", "catalog.xml"}).status, 0);
}

} // namespace

// sorvel-dump: runs documents through libsorvel and prints their tokens, one
// per line, or says where and why a document is malformed.
//
// It is a plain host of the library: it uses only the public header. Each
// file is streamed in chunks through one context, so memory stays the same
// whatever the size of the input.

#include <sorvel.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr const char *program = "sorvel-dump";

// The library's state numbers, as ctx.state holds them. They are fixed; the
// header names 0 (error) and 1 (initial), and the tool reads the others to
// tell what a document was in the middle of when it failed or ended.
enum : std::uint32_t {
  st_error,
  st_initial,   // outside element text
  st_idle,      // element text
  st_openbr,    // after "<"
  st_tag,       // inside a start-tag name
  st_tagwait,   // after a blank inside a start tag
  st_emptytag,  // after the "/" that ends a start tag
  st_endslash,  // after "</"
  st_endtag,    // inside an end-tag name
  st_entref,    // inside an entity name
  st_comment2,  // after "<!"
  st_comment1,  // after "<!-"
  st_comment,   // inside a comment
  st_commente,  // one "-" inside a comment
  st_commentee, // two "-" inside a comment
};

constexpr std::uint32_t max_size = 1u << 30;

struct config {
  std::uint32_t chunk = 65536;
  std::uint32_t buffer = 4096;
  std::uint32_t flags = 0;
  bool push = false;
  bool quiet = false;
  bool count = false;
};

// ---- Escaping ---------------------------------------------------------------

// Names and text are printed with the same escapes, so that every token is
// one line and every line can be read back: backslash, quote and control
// bytes are escaped, every other byte (UTF-8 included) stands as it is.
constexpr bool plain(unsigned char b) {
  return b >= 0x20 && b != 0x7F && b != '\\' && b != '"';
}

void escape(std::string &out, const char *p, std::size_t n) {
  static const char hex[] = "0123456789abcdef";
  const char *end = p + n;
  while (p != end) {
    const char *run = p;
    while (p != end && plain(static_cast<unsigned char>(*p)))
      ++p;
    out.append(run, static_cast<std::size_t>(p - run));
    if (p == end)
      break;
    const auto b = static_cast<unsigned char>(*p++);
    out += '\\';
    switch (b) {
    case '\\':
    case '"':
      out += static_cast<char>(b);
      break;
    case '\t':
      out += 't';
      break;
    case '\n':
      out += 'n';
      break;
    case '\r':
      out += 'r';
      break;
    case '\v':
      out += 'v';
      break;
    case '\f':
      out += 'f';
      break;
    case '\0':
      out += '0';
      break;
    default:
      out += 'x';
      out += hex[b >> 4];
      out += hex[b & 15];
    }
  }
}

std::string quoted(const char *p, std::size_t n) {
  std::string s = "\"";
  escape(s, p, n);
  s += '"';
  return s;
}

std::string quoted(const char *name) {
  return quoted(name, std::strlen(name));
}

std::string quoted(const std::string &s) {
  return quoted(s.data(), s.size());
}

template <typename T> void append_number(std::string &out, T v) {
  char digits[24];
  const auto r = std::to_chars(digits, digits + sizeof digits, v);
  out.append(digits, r.ptr);
}

// ---- Output -----------------------------------------------------------------

// Standard output, buffered here so that a token costs no call into stdio.
class output {
public:
  output() { buf_.reserve(flush_at + 256); }

  void put(const std::string &s) {
    buf_ += s;
    if (buf_.size() >= flush_at)
      flush();
  }

  // Writes out what is buffered; 0, or the errno of the first failed write.
  int flush() {
    if (!buf_.empty() &&
        std::fwrite(buf_.data(), 1, buf_.size(), stdout) != buf_.size() &&
        error_ == 0)
      error_ = errno;
    buf_.clear();
    if (std::fflush(stdout) != 0 && error_ == 0)
      error_ = errno;
    return error_;
  }

private:
  static constexpr std::size_t flush_at = 1 << 16;
  std::string buf_;
  int error_ = 0;
};

// ---- One document -----------------------------------------------------------

// Line and column of the next byte. A line ends at LF; columns count bytes.
struct position {
  std::uint64_t offset = 0;
  std::uint64_t line = 1;
  std::uint64_t line_start = 0;

  void advance(const char *p, std::size_t n) {
    const char *end = p + n;
    for (const char *q = p;
         (q = static_cast<const char *>(std::memchr(
              q, '\n', static_cast<std::size_t>(end - q)))) != nullptr;) {
      ++q;
      ++line;
      line_start = offset + static_cast<std::uint64_t>(q - p);
    }
    offset += n;
  }

  std::uint64_t column() const { return offset - line_start + 1; }
};

// Receives the tokens of one document, pulled or pushed.
struct printer {
  printer(const config &c, output &o) : cfg(c), out(o) {}

  const config &cfg;
  output &out;
  std::uint64_t elements = 0;
  std::uint64_t texts = 0;
  std::uint64_t text_bytes = 0;
  std::uint32_t depth = 0;
  std::uint32_t deepest = 0;
  std::string line;

  void name(std::string &s, const char *n) {
    const std::size_t len = std::strlen(n);
    if (len == 0)
      s += "\"\""; // a full chunk of text with no element open
    else
      escape(s, n, len);
  }

  void token(std::int32_t type, const char *n, const char *text,
             std::uint32_t len) {
    if (type == SORVEL_START) {
      ++elements;
      if (++depth > deepest)
        deepest = depth;
    } else if (type == SORVEL_END) {
      --depth;
    } else {
      ++texts;
      text_bytes += len;
    }
    if (cfg.quiet || cfg.count)
      return;
    std::string &s = line;
    s.clear();
    if (type == SORVEL_START) {
      s += "start ";
      name(s, n);
    } else if (type == SORVEL_END) {
      s += "end ";
      name(s, n);
    } else {
      s += "text ";
      name(s, n);
      s += ' ';
      append_number(s, len);
      s += " \"";
      escape(s, text, len);
      s += '"';
    }
    s += '\n';
    out.put(s);
  }
};

void on_token(void *user, std::int32_t type, const char *name, const char *text,
              std::uint32_t len) {
  static_cast<printer *>(user)->token(type, name, text, len);
}

// Why the byte at chunk[bad] sent the context into the error state. The
// library records only that it failed, so the reason comes from where the
// context stood just before that byte: a copy of the context as it was
// before this chunk is fed the bytes in front of the failing one. The
// context is a plain record holding all parse state and pointing only at
// the caller's buffer and input, so the copy resumes exactly where the
// original stood.
std::string why_malformed(const sorvel_ctx &before, const char *chunk,
                          std::uint32_t bad) {
  sorvel_ctx c = before;
  sorvel_token t;
  sorvel_begin(&c, chunk, bad);
  while (sorvel_next(&c, &t) != nullptr) {
  }
  auto b = static_cast<unsigned char>(chunk[bad]);
  if (c.state != st_idle && (b == '\t' || b == '\n' || b == '\v' || b == '\r'))
    b = ' '; // blanks are seen as SPACE everywhere but in element text
  switch (c.state) {
  case st_openbr:
  case st_tag:
  case st_tagwait:
    // "/" and ">" complete the start tag, every other byte adds to its name.
    if (b == '/' || b == '>')
      return "more than 8 nested elements";
    return "element name longer than 14 bytes";
  case st_emptytag:
    return "expected \">\" after \"/\"";
  case st_endslash:
  case st_endtag:
    if (b != '>')
      return "end tag name longer than 14 bytes";
    if (c.depth == 0)
      return "end tag with no open element";
    return "end tag " + quoted(c.name, c.namelen) +
           " does not match open element " + quoted(c.stack[c.depth - 1]);
  case st_entref:
    if (b != ';')
      return "entity name longer than 14 bytes";
    return "unknown entity " +
           quoted("&" + std::string(c.name, c.namelen) + ";");
  case st_comment2:
    return "expected \"-\" after \"<!\"";
  case st_comment1:
    return "expected \"-\" after \"<!-\"";
  default:
    return "malformed input";
  }
}

// What is left open when the input ends, or an empty string when the
// document is complete. The library cannot know where a document ends; the
// tool does.
std::string why_incomplete(const sorvel_ctx &c) {
  std::string what;
  switch (c.state) {
  case st_initial:
  case st_idle:
    // Text after a top-level comment is collected but belongs to nothing.
    if (c.depth == 0)
      return what;
    what = "element " + quoted(c.stack[c.depth - 1]) + " is not closed";
    break;
  case st_openbr:
  case st_endslash:
    what = "tag is not finished";
    break;
  case st_tag:
  case st_tagwait:
    what = "start tag " + quoted(c.name, c.namelen) + " is not finished";
    break;
  case st_emptytag:
    what = "empty-element tag " + quoted(c.stack[c.depth - 1]) +
           " is not finished";
    break;
  case st_endtag:
    what = "end tag " + quoted(c.name, c.namelen) + " is not finished";
    break;
  case st_entref:
    what = "entity reference " + quoted("&" + std::string(c.name, c.namelen)) +
           " is not finished";
    break;
  default:
    what = "comment is not closed";
  }
  return "unexpected end of input: " + what;
}

void report(output &out, const char *file, const position &at,
            const std::string &reason) {
  out.flush(); // keep the tokens before the error in front of it
  std::fprintf(stderr, "%s:%llu:%llu: error: %s\n", file,
               static_cast<unsigned long long>(at.line),
               static_cast<unsigned long long>(at.column()), reason.c_str());
}

void report_errno(output &out, const char *file, int err) {
  out.flush();
  std::fprintf(stderr, "%s: %s: %s\n", program, file, std::strerror(err));
}

// ---- Input ------------------------------------------------------------------

#ifdef _WIN32
int open_file(const char *path) {
  return _open(path, _O_RDONLY | _O_BINARY);
}
long read_some(int fd, char *p, std::uint32_t n) {
  return _read(fd, p, n);
}
void close_file(int fd) {
  _close(fd);
}
bool is_regular(int fd) {
  struct _stat st;
  return _fstat(fd, &st) == 0 && (st.st_mode & _S_IFREG) != 0;
}
#else
int open_file(const char *path) {
  return open(path, O_RDONLY);
}
long read_some(int fd, char *p, std::uint32_t n) {
  return read(fd, p, n);
}
void close_file(int fd) {
  close(fd);
}
bool is_regular(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}
#endif

// Exit status for one document: 0 well formed, 1 malformed or incomplete,
// 2 not readable.
int dump(const config &cfg, const char *file, int fd, output &out,
         std::vector<char> &chunk, std::vector<char> &text) {
  sorvel_ctx ctx;
  sorvel_init(&ctx, text.data(), cfg.buffer, cfg.flags);
  printer p{cfg, out};
  position pos;
  // From a pipe or a terminal, tokens are shown as their input arrives.
  const bool live = !is_regular(fd);

  for (;;) {
    const long got = read_some(fd, chunk.data(), cfg.chunk);
    if (got < 0) {
      if (errno == EINTR)
        continue;
      report_errno(out, file, errno);
      return 2;
    }
    if (got == 0)
      break;
    const auto len = static_cast<std::uint32_t>(got);
    const sorvel_ctx before = ctx;
    std::uint32_t bad = 0; // the failing byte's offset in the chunk
    if (cfg.push) {
      bad = len - sorvel_parse(&ctx, chunk.data(), len, &p, on_token);
    } else {
      sorvel_token t;
      sorvel_begin(&ctx, chunk.data(), len);
      while (sorvel_next(&ctx, &t) != nullptr)
        p.token(t.type, t.name, t.text, t.len);
      bad = len - ctx.inlen - 1;
    }
    if (ctx.state == st_error) {
      pos.advance(chunk.data(), bad);
      report(out, file, pos, why_malformed(before, chunk.data(), bad));
      return 1;
    }
    pos.advance(chunk.data(), len);
    if (live)
      out.flush();
  }

  const std::string incomplete = why_incomplete(ctx);
  if (!incomplete.empty()) {
    report(out, file, pos, incomplete);
    return 1;
  }
  if (cfg.count && !cfg.quiet) {
    std::string &s = p.line;
    s.assign(file);
    s += ": ";
    append_number(s, p.elements);
    s += " elements, ";
    append_number(s, p.texts);
    s += " text tokens, ";
    append_number(s, p.text_bytes);
    s += " text bytes, ";
    append_number(s, pos.offset);
    s += " input bytes, max depth ";
    append_number(s, p.deepest);
    s += '\n';
    out.put(s);
  }
  return 0;
}

// ---- Command line -----------------------------------------------------------

const char usage_text[] =
    "usage: sorvel-dump [OPTIONS] [FILE...]\n"
    "Tokenize each FILE (standard input when none is given, or for \"-\") and\n"
    "print one token per line:\n"
    "  start NAME\n"
    "  text NAME LEN \"TEXT\"\n"
    "  end NAME\n"
    "Errors go to standard error as FILE:LINE:COL: error: REASON.\n"
    "\n"
    "Options:\n"
    "  --chunk N      feed the input N bytes at a time (default 65536)\n"
    "  --buffer N     text buffer of N bytes, at least 32 (default 4096);\n"
    "                 longer text arrives in several text tokens\n"
    "  --no-entities  leave \"&\" in text as an ordinary character\n"
    "  --empty-text   give an element without text one empty text token\n"
    "  --push         drive the tokenizer with sorvel_parse (default: pull\n"
    "                 with sorvel_next)\n"
    "  -q, --quiet    print nothing but errors: a well-formedness check\n"
    "  -c, --count    one summary line per file instead of tokens\n"
    "  -h, --help     print this help and exit\n"
    "  --version      print the library version and exit\n"
    "\n"
    "Exit status: 0 when every file was read and well formed, 1 when some\n"
    "document is malformed or incomplete, 2 for a usage error or a file that\n"
    "cannot be read.\n";

int usage_error(const std::string &message) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n",
               program, message.c_str(), program);
  return 2;
}

// A decimal number from lo to hi, or 0.
std::uint32_t parse_size(const char *s, std::uint32_t lo, std::uint32_t hi) {
  std::uint32_t v = 0;
  const char *end = s + std::strlen(s);
  const auto r = std::from_chars(s, end, v);
  if (r.ec != std::errc() || r.ptr != end || v < lo || v > hi)
    return 0;
  return v;
}

} // namespace

int main(int argc, char **argv) {
  config cfg;
  std::vector<const char *> files;
  bool options_done = false;

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options_done || arg == "-" || arg.empty() || arg[0] != '-') {
      files.push_back(argv[i]);
      continue;
    }
    std::string opt = arg;
    const char *value = nullptr;
    const std::size_t eq = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      opt = arg.substr(0, eq);
      value = argv[i] + eq + 1;
    }
    if (opt == "--chunk" || opt == "--buffer") {
      if (value == nullptr) {
        if (i + 1 == argc)
          return usage_error(opt + " needs a number");
        value = argv[++i];
      }
      const bool chunk = opt == "--chunk";
      const std::uint32_t lo = chunk ? 1 : 32;
      const std::uint32_t v = parse_size(value, lo, max_size);
      if (v == 0)
        return usage_error(opt + " needs a number from " + std::to_string(lo) +
                           " to " + std::to_string(max_size) + ", not \"" +
                           value + "\"");
      (chunk ? cfg.chunk : cfg.buffer) = v;
    } else if (value != nullptr) {
      return usage_error("option " + opt + " takes no value");
    } else if (opt == "--no-entities") {
      cfg.flags |= SORVEL_NOENTITIES;
    } else if (opt == "--empty-text") {
      cfg.flags |= SORVEL_EMPTYTEXT;
    } else if (opt == "--push") {
      cfg.push = true;
    } else if (opt == "-q" || opt == "--quiet") {
      cfg.quiet = true;
    } else if (opt == "-c" || opt == "--count") {
      cfg.count = true;
    } else if (opt == "-h" || opt == "--help") {
      std::fputs(usage_text, stdout);
      return std::fflush(stdout) == 0 ? 0 : 2;
    } else if (opt == "--version") {
      std::printf("%s %d.%d.%d\n", program, SORVEL_VERSION_MAJOR,
                  SORVEL_VERSION_MINOR, SORVEL_VERSION_PATCH);
      return std::fflush(stdout) == 0 ? 0 : 2;
    } else if (opt == "--") {
      options_done = true;
    } else {
      return usage_error("unknown option \"" + arg + "\"");
    }
  }
  if (cfg.quiet && cfg.count)
    return usage_error("--quiet and --count exclude each other");
  if (files.empty())
    files.push_back("-");

  std::vector<char> chunk(cfg.chunk);
  std::vector<char> text(cfg.buffer);
  output out;
  int status = 0;
  for (const char *file : files) {
    const bool is_stdin = std::strcmp(file, "-") == 0;
    const int fd = is_stdin ? 0 : open_file(file);
    if (fd < 0) {
      report_errno(out, file, errno);
      status = 2;
      continue;
    }
#ifdef _WIN32
    if (is_stdin)
      _setmode(0, _O_BINARY);
#endif
    const int s = dump(cfg, file, fd, out, chunk, text);
    if (!is_stdin)
      close_file(fd);
    if (s > status)
      status = s;
  }
  if (const int err = out.flush()) {
    std::fprintf(stderr, "%s: write error: %s\n", program, std::strerror(err));
    return 2;
  }
  return status;
}

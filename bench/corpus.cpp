#include "corpus.hpp"

#include <cstdint>

namespace sorvel_bench {
namespace {

// splitmix64: tiny, and unlike the standard distributions it gives the same
// sequence everywhere.
class rng {
public:
  explicit rng(std::uint64_t seed) : s_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (s_ += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }
  // Uniform enough in [lo, hi] for corpus shapes.
  std::size_t pick(std::size_t lo, std::size_t hi) {
    return lo + static_cast<std::size_t>(next() % (hi - lo + 1));
  }
  bool chance(unsigned percent) { return next() % 100 < percent; }

private:
  std::uint64_t s_;
};

const char *const words[] = {"the",
                             "stream",
                             "of",
                             "tokens",
                             "carries",
                             "text",
                             "between",
                             "tags",
                             "and",
                             "every",
                             "byte",
                             "is",
                             "read",
                             "once",
                             "buffer",
                             "chunk",
                             "caf\xc3\xa9",
                             "na\xc3\xafve",
                             "\xe2\x82\xac"
                             "5",
                             "stra\xc3\x9f"
                             "e",
                             "\xe6\x97\xa5\xe6\x9c\xac",
                             "r\xc3\xa9sum\xc3\xa9",
                             "parser",
                             "element"};
constexpr std::size_t nwords = sizeof words / sizeof words[0];

void prose(std::string &out, rng &r, std::size_t bytes) {
  const std::size_t end = out.size() + bytes;
  while (out.size() < end) {
    out += words[r.pick(0, nwords - 1)];
    out += r.chance(8) ? ".\n" : " ";
  }
}

void text_shape(std::string &out, rng &r, std::size_t bytes) {
  out += "<book>\n";
  while (out.size() < bytes) {
    out += "<chapter>\n<title>";
    prose(out, r, r.pick(10, 40));
    out += "</title>\n";
    for (std::size_t i = r.pick(3, 8); i > 0 && out.size() < bytes; --i) {
      out += "<para>";
      prose(out, r, r.pick(400, 4000));
      out += "</para>\n";
    }
    out += "</chapter>\n";
  }
  out += "</book>\n";
}

void markup_shape(std::string &out, rng &r, std::size_t bytes) {
  static const char *const fields[] = {"id",    "name", "qty",
                                       "price", "sku",  "tag"};
  out += "<items>\n";
  while (out.size() < bytes) {
    out += " <item>";
    for (std::size_t i = r.pick(3, 6); i > 0; --i) {
      const char *f = fields[r.pick(0, 5)];
      if (r.chance(15)) {
        out += "<";
        out += f;
        out += "/>";
        continue;
      }
      out += "<";
      out += f;
      out += ">";
      out += words[r.pick(0, nwords - 1)];
      if (r.chance(30))
        out += std::to_string(r.pick(0, 9999));
      out += "</";
      out += f;
      out += ">";
    }
    out += "</item>\n";
  }
  out += "</items>\n";
}

void deep_shape(std::string &out, rng &r, std::size_t bytes) {
  // Names of exactly 14 bytes, the longest the tokenizer accepts.
  static const char *const names[] = {
      "catalogue_root", "section_level1", "section_level2", "section_level3",
      "section_level4", "section_level5", "section_level6", "entry_of_depth"};
  static_assert(sizeof "catalogue_root" == 15);
  out += "<catalogue_root>\n";
  while (out.size() < bytes) {
    // Open down to depth 8 and back up to a random level, several times.
    std::size_t depth = 1;
    std::size_t target = 8;
    for (int round = 0; round < 4; ++round) {
      while (depth < target) {
        out += "<";
        out += names[depth];
        out += ">";
        ++depth;
      }
      prose(out, r, r.pick(5, 30));
      const std::size_t back = r.pick(2, depth - 1);
      while (depth > back) {
        --depth;
        out += "</";
        out += names[depth];
        out += ">";
      }
      out += "\n";
      target = 8;
    }
    while (depth > 1) {
      --depth;
      out += "</";
      out += names[depth];
      out += ">";
    }
    out += "\n";
  }
  out += "</catalogue_root>\n";
}

void entity_shape(std::string &out, rng &r, std::size_t bytes) {
  static const char *const refs[] = {"&lt;", "&gt;", "&amp;", "&apos;",
                                     "&quot;"};
  static const char *const notes[] = {"<!-- reviewed -->", "<!-- x -->",
                                      "<!-- a - b - c -->",
                                      "<!-- see &amp; below -->"};
  out += "<notes>\n";
  while (out.size() < bytes) {
    out += "<note>";
    for (std::size_t i = r.pick(4, 12); i > 0; --i) {
      out += words[r.pick(0, nwords - 1)];
      out += " ";
      out += refs[r.pick(0, 4)];
      if (r.chance(20))
        out += notes[r.pick(0, 3)];
      out += r.chance(50) ? " " : "";
    }
    out += "</note>\n";
  }
  out += "</notes>\n";
}

} // namespace

std::string_view shape_name(shape s) {
  switch (s) {
  case shape::text:
    return "text";
  case shape::markup:
    return "markup";
  case shape::deep:
    return "deep";
  case shape::entity:
    return "entity";
  }
  return "?";
}

bool shape_from_name(std::string_view name, shape &out) {
  for (shape s : all_shapes)
    if (shape_name(s) == name) {
      out = s;
      return true;
    }
  return false;
}

std::string make_corpus(shape s, std::size_t bytes, unsigned seed) {
  rng r(0x5EED0000u + seed * 4u + static_cast<unsigned>(s));
  std::string out;
  out.reserve(bytes + 8192);
  switch (s) {
  case shape::text:
    text_shape(out, r, bytes);
    break;
  case shape::markup:
    markup_shape(out, r, bytes);
    break;
  case shape::deep:
    deep_shape(out, r, bytes);
    break;
  case shape::entity:
    entity_shape(out, r, bytes);
    break;
  }
  return out;
}

} // namespace sorvel_bench

// Test support: drive a context over a document cut into chunks and record
// what comes out as readable lines.
#pragma once

#include "sorvel.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sorvel_test {

// "start a", "text a 3 \"x&y\"", "end a"; bytes outside printable ASCII
// appear as \xHH so a failing comparison prints a readable diff.
std::string describe(std::int32_t type, const char *name, const char *text,
                     std::uint32_t len);

inline std::string describe(const sorvel_token &t) {
  return describe(t.type, t.name, t.text, t.len);
}

// The text buffer with canary bytes on both sides and after textmax + 1:
// the engine must never write outside the first textmax + 1 bytes.
class guarded_buffer {
public:
  explicit guarded_buffer(std::uint32_t size);
  char *data() { return block_.get() + guard; }
  std::uint32_t size() const { return size_; }
  // True while no canary byte has changed.
  bool intact(std::uint32_t textmax) const;

private:
  static constexpr std::uint32_t guard = 16;
  static constexpr char canary = '\x5A';
  std::uint32_t size_;
  std::unique_ptr<char[]> block_;
};

// A copy of bytes in a heap block of exactly their size, so that any read
// past the end is caught by AddressSanitizer.
class exact_chunk {
public:
  explicit exact_chunk(std::string_view bytes);
  const char *data() const { return block_.get(); }
  std::uint32_t size() const { return size_; }

private:
  std::uint32_t size_;
  std::unique_ptr<char[]> block_;
};

struct outcome {
  std::vector<std::string> tokens;
  std::uint32_t state = 0;
  std::uint32_t depth = 0;
  std::uint32_t namelen = 0;
  std::uint32_t textlen = 0;
  std::uint32_t textflags = 0;
  std::uint32_t options = 0;
  // Offset in the whole document of the byte that caused the error, or -1.
  long error_at = -1;
  bool canaries_intact = true;

  bool operator==(const outcome &o) const;
};

// doc as chunks cut before each offset in cuts (ascending, within doc).
std::vector<std::string_view> cut(std::string_view doc,
                                  const std::vector<std::size_t> &cuts);

// A parameterised test's name: its index and its description, with every
// byte that is not a letter or digit as "_".
std::string test_name(std::size_t index, const char *description);

// Copies the parse-state fields of ctx into o.
void record_fields(outcome &o, const sorvel_ctx &ctx);

// Pulls every token of doc, fed as chunks cut before each offset in cuts
// (ascending, within the document).
outcome pull(std::string_view doc, std::uint32_t options = 0,
             std::uint32_t bufsize = 64,
             const std::vector<std::size_t> &cuts = {});

// The same through sorvel_parse, one call per chunk.
outcome push(std::string_view doc, std::uint32_t options = 0,
             std::uint32_t bufsize = 64,
             const std::vector<std::size_t> &cuts = {});

std::string to_string(const outcome &o);

} // namespace sorvel_test

// One entry per parser under test, each parsing a whole in-memory document
// and counting what its handlers saw, so the work cannot be optimized away.
#pragma once

#include <cstddef>
#include <string_view>

namespace sorvel_bench {

struct driver {
  const char *name;
  // The parser writes into its input (pugixml's in-place mode): the caller
  // copies the document into `scratch` before each run, outside the timing.
  bool needs_copy;
  // Returns the number of events seen, or failed when the parser rejected
  // the document.
  std::size_t (*run)(const char *doc, std::size_t len, char *scratch);
};

inline constexpr std::size_t failed = static_cast<std::size_t>(-1);

// Every driver; the first is the reference for ratios (libsorvel pull with a
// 4096-byte buffer).
const driver *drivers(std::size_t &count);

const driver *find_driver(std::string_view name);

} // namespace sorvel_bench

// Deterministic benchmark documents in four shapes, all valid XML within the
// tokenizer's limits (one root, no attributes, names of at most 14 bytes,
// at most 8 open elements), so that every peer parses the same bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sorvel_bench {

enum class shape {
  text,   // long runs of prose with some UTF-8, few tags
  markup, // many small elements with short texts
  deep,   // nesting to depth 8 with 14-byte names
  entity, // text dense with entity references and comments
};

inline constexpr shape all_shapes[] = {shape::text, shape::markup, shape::deep,
                                       shape::entity};

std::string_view shape_name(shape s);

// Parses a name given by shape_name; false when there is no such shape.
bool shape_from_name(std::string_view name, shape &out);

// A document of about `bytes` bytes (never fewer): the same bytes for the
// same arguments on every platform and every run.
std::string make_corpus(shape s, std::size_t bytes, unsigned seed = 1);

} // namespace sorvel_bench

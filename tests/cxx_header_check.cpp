// Compiled, never run: the C++ header on its own, under the strictest
// warnings as errors, and the iterator and range shapes that the standard
// algorithms (and, in C++20, the range concepts) ask for.
#include "sorvel.hpp"
#include "sorvel.hpp" // survives double inclusion

#include <algorithm>
#include <iterator>
#include <type_traits>

namespace {

using it = sorvel::token_iterator;
using traits = std::iterator_traits<it>;

static_assert(
    std::is_same_v<traits::iterator_category, std::input_iterator_tag>);
static_assert(std::is_same_v<traits::value_type, sorvel::token>);
static_assert(std::is_same_v<traits::reference, const sorvel::token &>);
static_assert(
    std::is_same_v<decltype(*std::declval<it &>()), const sorvel::token &>);
static_assert(std::is_same_v<decltype(++std::declval<it &>()), it &>);
static_assert(
    std::is_same_v<decltype(std::declval<sorvel::token_range &>().begin()),
                   decltype(std::declval<sorvel::token_range &>().end())>);
static_assert(std::is_nothrow_copy_constructible_v<it> &&
              std::is_nothrow_copy_assignable_v<it> &&
              std::is_nothrow_default_constructible_v<it>);
static_assert(
    std::is_convertible_v<decltype(*std::declval<it &>()++), sorvel::token>);
static_assert(std::is_trivially_copyable_v<sorvel::token>);

// The context points into the object: neither copied nor moved.
static_assert(!std::is_copy_constructible_v<sorvel::tokenizer<>> &&
              !std::is_move_constructible_v<sorvel::tokenizer<>> &&
              !std::is_copy_assignable_v<sorvel::tokenizer<>> &&
              !std::is_move_assignable_v<sorvel::tokenizer<>>);
static_assert(!std::is_move_constructible_v<sorvel::basic_tokenizer>);
static_assert(
    std::is_base_of_v<sorvel::basic_tokenizer, sorvel::tokenizer<32>>);
static_assert(
    std::is_nothrow_constructible_v<sorvel::tokenizer<>, std::uint32_t>);
static_assert(noexcept(std::declval<sorvel::basic_tokenizer &>().feed("")));
struct on_token {
  void operator()(const sorvel::token &) const {}
};
static_assert(
    noexcept(std::declval<sorvel::basic_tokenizer &>().parse("", on_token{})));

#if __cplusplus > 201703L
static_assert(std::input_iterator<it>);
static_assert(std::sentinel_for<it, it>);
static_assert(std::ranges::input_range<sorvel::token_range>);
#endif

// The algorithms that read once, instantiated on the range.
[[maybe_unused]] std::ptrdiff_t starts(sorvel::basic_tokenizer &tz,
                                       std::string_view chunk) {
  const sorvel::token_range r = tz.feed(chunk);
  return std::count_if(r.begin(), r.end(), [](const sorvel::token &t) {
    return t.kind == sorvel::kind::start;
  });
}

[[maybe_unused]] bool has_text(sorvel::tokenizer<64> &tz,
                               std::string_view chunk) {
  const sorvel::token_range r = tz.feed(chunk);
  return std::find_if(r.begin(), r.end(), [](const sorvel::token &t) {
           return t.kind == sorvel::kind::text;
         }) != r.end();
}

[[maybe_unused]] std::size_t bytes(sorvel::basic_tokenizer &tz,
                                   std::string_view chunk) {
  std::size_t n = 0;
  const sorvel::token_range r = tz.feed(chunk);
  std::for_each(r.begin(), r.end(),
                [&n](const sorvel::token &t) { n += t.text.size(); });
  return n;
}

} // namespace

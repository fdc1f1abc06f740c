// sorvel.hpp - a header-only C++17 interface to libsorvel.
//
// A thin layer over the five C functions of sorvel.h, with the library's own
// guarantees: nothing allocated, nothing thrown, nothing copied, every call
// noexcept. It needs only the C library to link against.
//
//   sorvel::tokenizer<> tz;                  // context and 4096-byte buffer
//   for (std::string_view chunk : chunks) {
//     for (const sorvel::token &t : tz.feed(chunk))
//       use(t);                              // t.kind, t.name, t.text
//     if (tz.failed())
//       break;                               // malformed input
//   }
//   bool complete = !tz.failed() && tz.depth() == 0;
//
// API reference
//
//   sorvel::kind            enum class: start, end, text (the C values).
//   sorvel::token           { kind; name; text }: name is the element's name
//                           (NUL-terminated at name.data()), text the whole
//                           chunk of a text token, NUL bytes of the input
//                           included (empty for start and end). Both views
//                           borrow, as the C token does: valid until the
//                           tokenizer pulls the next token, parses, restarts
//                           or is destroyed. Copy what you keep.
//                           token::from(const sorvel_token&) converts a
//                           token pulled with the C functions.
//   sorvel::no_entities, sorvel::empty_text
//                           the options (SORVEL_NOENTITIES, SORVEL_EMPTYTEXT).
//
//   sorvel::tokenizer<N>    a context and an N-byte text buffer inside the
//                           object (N >= 32, default 4096). It is a
//                           basic_tokenizer: code taking basic_tokenizer&
//                           serves both.
//   sorvel::basic_tokenizer a context over a text buffer the caller places,
//                           from a char array or a pointer and a size. The
//                           buffer must outlive the tokenizer. A null buffer
//                           or one below 32 bytes is refused: the tokenizer
//                           is then failed() from the start and reads
//                           nothing.
//
//   Neither is copyable nor movable. The context points at its text buffer,
//   which for tokenizer<N> lies inside the object; only sorvel_init may
//   write that pointer, so a moved context could not be pointed at its new
//   buffer, and a copy of a basic_tokenizer would share its buffer with the
//   original. Ranges, iterators and token names hold the object's address
//   too. Construct in place: return a prvalue from a factory, use
//   std::optional::emplace, or allocate the object.
//
//   feed(chunk)      hands over the next chunk and returns a range that
//                    pulls its tokens (sorvel_begin, then sorvel_next).
//                    The chunk is read in place: keep it unchanged until the
//                    range is used up or reset() drops it. A chunk is
//                    refused while the previous one is not used up (after a
//                    break out of the loop): the range is then empty and
//                    its accepted() false. On a failed tokenizer the range
//                    is empty.
//   tokens()         a range over what the context still holds: the rest
//                    of the current chunk and an owed end token; resumes a
//                    loop that was left early.
//   parse(chunk, f)  the push form (sorvel_parse): calls f(token) for every
//                    token of the chunk and returns the C result: 0 when the
//                    chunk was read without error; after malformed input,
//                    the bytes from the offending byte to the end of the
//                    chunk, that byte included; on a tokenizer already
//                    failed, size + 1; refused, returning size and calling
//                    nothing, while a fed chunk is not used up. f may call
//                    reset() to stop early. An exception escaping f calls
//                    std::terminate.
//   failed()         the input was malformed (state 0); sticky until
//                    restart(). The offending byte is then
//                    chunk[chunk.size() - unread() - 1].
//   depth()          open elements, 0 to 8. After the last chunk, a
//                    complete document has !failed() && depth() == 0.
//   unread()         bytes of the current chunk not yet read.
//   reset()          drops the unread rest of the current chunk; all parse
//                    state survives (sorvel_reset).
//   restart()        forgets everything and starts a new document, with the
//                    same or new options (sorvel_init).
//   context()        the C context, to read its fields.
//
// Chunks may be any size: one above 4 GiB - 1 bytes, the most the C
// functions take at once, is fed to them in pieces, which never changes the
// tokens.
//
// The ranges are input ranges: range-for and the standard algorithms that
// read once (std::count_if, std::find_if, std::for_each, ...) work on them.
// Dereferencing gives a const token&, valid until the iterator advances.
#ifndef SORVEL_HPP
#define SORVEL_HPP

#include "sorvel.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string_view>
#include <type_traits>

// The most bytes given to one sorvel_begin or sorvel_parse call. Tests lower
// it to exercise the feeding of large chunks in pieces; a program defines it
// alike in every translation unit, or not at all.
#ifndef SORVEL_CXX_MAX_PIECE
#define SORVEL_CXX_MAX_PIECE 0xFFFFFFFFu
#endif
static_assert(SORVEL_CXX_MAX_PIECE >= 1 && SORVEL_CXX_MAX_PIECE <= 0xFFFFFFFFu,
              "a piece holds 1 to 4 GiB - 1 bytes");

namespace sorvel {

enum class kind : std::int32_t {
  start = SORVEL_START,
  end = SORVEL_END,
  text = SORVEL_TEXT,
};

inline constexpr std::uint32_t no_entities = SORVEL_NOENTITIES;
inline constexpr std::uint32_t empty_text = SORVEL_EMPTYTEXT;

struct token {
  sorvel::kind kind;
  std::string_view name;
  std::string_view text;

  // name is never null; text is null (with len 0) for start and end.
  static token from(std::int32_t type, const char *n, const char *t,
                    std::uint32_t len) noexcept {
    return {static_cast<sorvel::kind>(type), std::string_view(n),
            std::string_view(t, len)};
  }
  static token from(const sorvel_token &t) noexcept {
    return from(t.type, t.name, t.text, t.len);
  }
};

class basic_tokenizer {
public:
  class iterator;

  // A single-pass view of the tokens a context delivers. It holds only the
  // tokenizer's address; begin() pulls the first token.
  class range {
  public:
    range() noexcept = default;
    iterator begin() const noexcept {
      return tz_ != nullptr && tz_->pull() ? iterator(tz_) : iterator();
    }
    iterator end() const noexcept { return iterator(); }
    // False when feed refused the chunk.
    bool accepted() const noexcept { return tz_ != nullptr; }

  private:
    friend class basic_tokenizer;
    explicit range(basic_tokenizer *tz) noexcept : tz_(tz) {}
    basic_tokenizer *tz_ = nullptr;
  };

  class iterator {
  public:
    using iterator_category = std::input_iterator_tag;
    using value_type = token;
    using difference_type = std::ptrdiff_t;
    using pointer = const token *;
    using reference = const token &;

    // What it++ returns: the token before the step. Its views are stale
    // once the step has pulled the next token, as for any input iterator.
    class postfix {
    public:
      const token &operator*() const noexcept { return t_; }
      const token *operator->() const noexcept { return &t_; }

    private:
      friend class iterator;
      explicit postfix(const token &t) noexcept : t_(t) {}
      token t_;
    };

    iterator() noexcept = default;
    reference operator*() const noexcept { return tz_->current_; }
    pointer operator->() const noexcept { return &tz_->current_; }
    iterator &operator++() noexcept {
      if (!tz_->pull())
        tz_ = nullptr;
      return *this;
    }
    postfix operator++(int) noexcept {
      postfix p(tz_->current_);
      ++*this;
      return p;
    }
    // An iterator is either at a token or at the end.
    friend bool operator==(const iterator &a, const iterator &b) noexcept {
      return a.tz_ == b.tz_;
    }
    friend bool operator!=(const iterator &a, const iterator &b) noexcept {
      return a.tz_ != b.tz_;
    }

  private:
    friend class range;
    explicit iterator(basic_tokenizer *tz) noexcept : tz_(tz) {}
    basic_tokenizer *tz_ = nullptr;
  };

  template <std::size_t M>
  explicit basic_tokenizer(char (&buf)[M], std::uint32_t options = 0) noexcept
      : basic_tokenizer(buf, M, options) {
    static_assert(M >= 32, "the text buffer needs at least 32 bytes");
  }
  // A size above 4 GiB - 1 uses the first 4 GiB - 1 bytes. The options
  // have no default here, so that (array, options) never picks this form.
  basic_tokenizer(char *buf, std::size_t size, std::uint32_t options) noexcept {
    const auto n = static_cast<std::uint32_t>(
        size < UINT32_MAX ? size : std::size_t{UINT32_MAX});
    if (sorvel_init(&ctx_, buf, n, options) != 0)
      ctx_ = sorvel_ctx{}; // state 0, text null: failed, never read
  }
  basic_tokenizer(const basic_tokenizer &) = delete;
  basic_tokenizer &operator=(const basic_tokenizer &) = delete;

  [[nodiscard]] range feed(std::string_view chunk) noexcept {
    if (ctx_.text == nullptr || unread() != 0)
      return range();
    const char *p = chunk.data() != nullptr ? chunk.data() : "";
    const std::uint32_t n = piece(chunk.size());
    sorvel_begin(&ctx_, p, n);
    more_ = std::string_view(p + n, chunk.size() - n);
    return range(this);
  }

  [[nodiscard]] range tokens() noexcept {
    return ctx_.text != nullptr ? range(this) : range();
  }

  template <class F>
  std::size_t parse(std::string_view chunk, F &&on_token) noexcept {
    using fn = std::remove_reference_t<F>;
    if constexpr (std::is_function_v<fn>) {
      return parse(chunk, &on_token);
    } else {
      static_assert(std::is_invocable_v<fn &, const token &>,
                    "on_token must be callable with a const sorvel::token&");
      if (unread() != 0)
        return chunk.size();
      if (failed())
        return chunk.size() + 1;
      void *user = const_cast<void *>(
          static_cast<const void *>(std::addressof(on_token)));
      const char *p = chunk.data() != nullptr ? chunk.data() : "";
      std::uint32_t n = piece(chunk.size());
      more_ = std::string_view(p + n, chunk.size() - n);
      std::uint32_t left = sorvel_parse(&ctx_, p, n, user, &trampoline<fn>);
      // more_ is emptied by a reset() from on_token, which ends the loop.
      while (left == 0 && !more_.empty()) {
        p = more_.data();
        n = piece(more_.size());
        more_.remove_prefix(n);
        left = sorvel_parse(&ctx_, p, n, user, &trampoline<fn>);
      }
      const std::size_t result = left + (left != 0 ? more_.size() : 0);
      more_ = std::string_view();
      return result;
    }
  }

  bool failed() const noexcept { return ctx_.state == 0; }
  std::uint32_t depth() const noexcept { return ctx_.depth; }
  std::size_t unread() const noexcept { return ctx_.inlen + more_.size(); }

  void reset() noexcept {
    if (ctx_.text != nullptr)
      sorvel_reset(&ctx_);
    more_ = std::string_view();
  }
  // Bit 31 of the options word is the engine's, not the caller's.
  void restart() noexcept { restart(ctx_.options & ~SORVEL_PENDING_END); }
  void restart(std::uint32_t options) noexcept {
    if (ctx_.text != nullptr)
      sorvel_init(&ctx_, ctx_.text, ctx_.textsize, options);
    more_ = std::string_view();
  }

  const sorvel_ctx &context() const noexcept { return ctx_; }

private:
  static std::uint32_t piece(std::size_t size) noexcept {
    return static_cast<std::uint32_t>(
        size < SORVEL_CXX_MAX_PIECE ? size : std::size_t{SORVEL_CXX_MAX_PIECE});
  }

  // The next token into current_; false when the chunk is used up or the
  // input is malformed. Pieces of a large chunk are handed over here.
  bool pull() noexcept {
    sorvel_token t;
    while (sorvel_next(&ctx_, &t) == nullptr) {
      if (ctx_.state == 0 || more_.empty())
        return false;
      const std::uint32_t n = piece(more_.size());
      sorvel_begin(&ctx_, more_.data(), n);
      more_.remove_prefix(n);
    }
    current_ = token::from(t);
    return true;
  }

  template <class Fn>
  static void trampoline(void *user, std::int32_t type, const char *name,
                         const char *text, std::uint32_t len) noexcept {
    const token t = token::from(type, name, text, len);
    (*static_cast<Fn *>(user))(t);
  }

  sorvel_ctx ctx_;
  token current_{};
  // The part of the current chunk beyond the piece the context holds.
  std::string_view more_;
};

namespace detail {
template <std::size_t N> struct inline_buffer { char buf_[N]; };
} // namespace detail

template <std::size_t N = 4096>
class tokenizer : private detail::inline_buffer<N>, public basic_tokenizer {
  static_assert(N >= 32, "the text buffer needs at least 32 bytes");
  static_assert(N <= UINT32_MAX, "the text buffer is at most 4 GiB - 1 bytes");

public:
  // The buffer is left uninitialised: the engine writes before it reads.
  explicit tokenizer(std::uint32_t options = 0) noexcept
      : basic_tokenizer(this->buf_, N, options) {}
};

using token_range = basic_tokenizer::range;
using token_iterator = basic_tokenizer::iterator;

} // namespace sorvel

#endif // SORVEL_HPP

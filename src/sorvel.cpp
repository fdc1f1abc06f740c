// libsorvel: the transition table and the engine that interprets it.
//
// The grammar lives in the fifteen transition lists below, one per state, and
// in the control table that gives each state its list and flags. The engine
// never scans those lists at run time: a constexpr pass folds each state's
// blank handling and list scan into a dense next-state/action table, so the
// per-byte work is one table load and a switch on the action. The same pass
// marks the bytes that take a state's own default back into it (text in
// idle, skipped bytes in initial and comment, name bytes), and a second one
// lists the bytes that end each such run: the engine takes runs in bulk,
// with a vector scan for their end, and leaves every field and every buffer
// byte exactly as taking them one at a time would.

#include "sorvel.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>

#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#include <emmintrin.h>
#define SORVEL_SSE2 1
#endif

// For the helpers of the per-token path, where a call and its saved
// registers cost more than the work.
#if defined(__GNUC__) || defined(__clang__)
#define SORVEL_INLINE inline __attribute__((always_inline))
#else
#define SORVEL_INLINE inline
#endif

namespace {

// State numbers are part of the interface: hosts read ctx.state, where 0 is
// the error state.
enum state : std::uint8_t {
  error,     // malformed input was met; final
  initial,   // outside element text; bytes up to "<" are skipped
  idle,      // element text
  openbr,    // after "<"
  tag,       // inside a start-tag name
  tagwait,   // after a blank inside a start tag
  emptytag,  // after the "/" that ends a start tag
  endslash,  // after "</"
  endtag,    // inside an end-tag name
  entref,    // inside an entity name, after "&"
  comment2,  // after "<!": two "-" expected
  comment1,  // after "<!-": one "-" expected
  comment,   // inside a comment
  commente,  // one "-" seen inside a comment
  commentee, // two "-" seen inside a comment
  nstates
};

enum action : std::uint8_t {
  A_NONE,   // only the change of state
  A_OPEN,   // start-tag name complete: push it, deliver START
  A_CLOSE,  // end-tag name complete, then as A_POP
  A_POP,    // close the innermost element if its name equals ctx.name
  A_TEXT,   // append the byte to the text
  A_NAME,   // append the byte to ctx.name
  A_ENTITY, // entity name complete: append its character to the text
};

struct transition {
  std::uint8_t character; // matched byte; unused in an any-entry
  std::uint8_t any;       // non-zero: matches every byte
  std::uint8_t action;
  std::uint8_t next;
};

constexpr bool operator==(const transition &a, const transition &b) {
  return a.character == b.character && a.any == b.any && a.action == b.action &&
         a.next == b.next;
}

// Ends every list; where a list has no default it is the default.
constexpr transition closing{0, 1, A_NONE, error};

// clang-format off
constexpr transition l_error[] = {
    closing,                           // error: absorbing
};
constexpr transition l_initial[] = {
    {'<', 0, A_NONE,   openbr},        // initial "<"
    {0,   1, A_NONE,   initial},       // initial: skip
    closing,
};
constexpr transition l_idle[] = {
    {'&', 0, A_NONE,   entref},        // idle "&"
    {'<', 0, A_NONE,   openbr},        // idle "<"
    {0,   1, A_TEXT,   idle},          // idle: text
    closing,
};
constexpr transition l_openbr[] = {
    {'/', 0, A_NONE,   endslash},      // openbr "/"
    {' ', 0, A_NONE,   openbr},        // openbr blank
    {'!', 0, A_NONE,   comment2},      // openbr "!"
    {0,   1, A_NAME,   tag},           // openbr: first name byte
    closing,
};
constexpr transition l_tag[] = {
    {'/', 0, A_OPEN,   emptytag},      // tag "/"
    {' ', 0, A_NONE,   tagwait},       // tag blank
    {'>', 0, A_OPEN,   idle},          // tag ">"
    {0,   1, A_NAME,   tag},           // tag: name byte
    closing,
};
constexpr transition l_tagwait[] = {
    {'/', 0, A_OPEN,   emptytag},      // tagwait "/"
    {' ', 0, A_NONE,   tagwait},       // tagwait blank
    {'>', 0, A_OPEN,   idle},          // tagwait ">"
    {0,   1, A_NAME,   tag},           // tagwait: name continues
    closing,
};
constexpr transition l_emptytag[] = {
    {' ', 0, A_NONE,   emptytag},      // emptytag blank
    {'>', 0, A_POP,    initial},       // emptytag ">"
    closing,
};
constexpr transition l_endslash[] = {
    {' ', 0, A_NONE,   endslash},      // endslash blank
    {0,   1, A_NAME,   endtag},        // endslash: first name byte
    closing,
};
constexpr transition l_endtag[] = {
    {'>', 0, A_CLOSE,  initial},       // endtag ">"
    {0,   1, A_NAME,   endtag},        // endtag: name byte
    closing,
};
constexpr transition l_entref[] = {
    {';', 0, A_ENTITY, idle},          // entref ";"
    {0,   1, A_NAME,   entref},        // entref: name byte
    closing,
};
constexpr transition l_comment2[] = {
    {'-', 0, A_NONE,   comment1},      // comment2 "-"
    closing,
};
constexpr transition l_comment1[] = {
    {'-', 0, A_NONE,   comment},       // comment1 "-"
    closing,
};
constexpr transition l_comment[] = {
    {'-', 0, A_NONE,   commente},      // comment "-"
    {0,   1, A_NONE,   comment},       // comment: skip
    closing,
};
constexpr transition l_commente[] = {
    {'-', 0, A_NONE,   commentee},     // commente "-"
    {0,   1, A_NONE,   comment},       // commente: back to comment
    closing,
};
constexpr transition l_commentee[] = {
    {'>', 0, A_NONE,   idle},          // commentee ">"
    {0,   1, A_NONE,   comment},       // commentee: back to comment
    closing,
};
// clang-format on

constexpr std::uint32_t KEEP_BLANKS = 1; // bytes are used unfolded

struct control {
  const transition *list;
  std::uint32_t flags;
};

constexpr control sorvel_control_table[nstates] = {
    {l_error, 0},   {l_initial, 0},  {l_idle, KEEP_BLANKS}, {l_openbr, 0},
    {l_tag, 0},     {l_tagwait, 0},  {l_emptytag, 0},       {l_endslash, 0},
    {l_endtag, 0},  {l_entref, 0},   {l_comment2, 0},       {l_comment1, 0},
    {l_comment, 0}, {l_commente, 0}, {l_commentee, 0},
};

struct entity {
  char name[5]; // NUL-terminated; compared with its NUL
  char character;
};

constexpr entity entities[] = {
    {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'},
};

// ---- Facts about the table that the engine relies on ----------------------

// Character entries first (each character once, at most three), then at
// most one default, then the closing entry as the last element.
template <std::size_t N>
constexpr bool well_formed(const transition (&list)[N]) {
  std::size_t i = 0;
  for (; list[i].any == 0; ++i) {
    if (list[i].action > A_ENTITY || list[i].next >= nstates || i >= 3)
      return false;
    for (std::size_t j = 0; j < i; ++j)
      if (list[j].character == list[i].character)
        return false;
  }
  if (!(list[i] == closing)) {
    if (list[i].character != 0 || list[i].action > A_ENTITY ||
        list[i].next >= nstates)
      return false;
    ++i;
  }
  return i == N - 1 && list[i] == closing;
}

static_assert(well_formed(l_error) && well_formed(l_initial) &&
              well_formed(l_idle) && well_formed(l_openbr) &&
              well_formed(l_tag) && well_formed(l_tagwait) &&
              well_formed(l_emptytag) && well_formed(l_endslash) &&
              well_formed(l_endtag) && well_formed(l_entref) &&
              well_formed(l_comment2) && well_formed(l_comment1) &&
              well_formed(l_comment) && well_formed(l_commente) &&
              well_formed(l_commentee));
static_assert(sizeof l_error == sizeof(transition) && l_error[0] == closing,
              "the error state must be absorbing");

constexpr bool only_idle_keeps_blanks() {
  for (std::size_t s = 0; s < nstates; ++s)
    if ((sorvel_control_table[s].flags != 0) != (s == idle) ||
        (sorvel_control_table[s].flags & ~KEEP_BLANKS) != 0)
      return false;
  return true;
}
static_assert(only_idle_keeps_blanks());

static_assert(sizeof(sorvel_ctx) == (sizeof(void *) == 8 ? 200 : 188),
              "sorvel_ctx layout is part of the ABI");
static_assert(sizeof(sorvel_token) == (sizeof(void *) == 8 ? 32 : 16),
              "sorvel_token layout is part of the ABI");

// ---- The dense table, derived from the lists ------------------------------

// One entry per (state, input byte): next state in bits 0-3, action in bits
// 4-6, FOLD when the state folds this byte to SPACE before the lookup, and
// RUN when the byte leads into a state whose default entry loops back into
// it (text in idle, skipped bytes in initial and comment, name bytes in tag,
// endtag and entref) doing what that loop does, with the byte stored
// unfolded if at all. The engine takes such a byte and the run of its next
// state that follows in bulk.
using entry = std::uint16_t;
constexpr entry NEXT_MASK = 0x0F;
constexpr unsigned ACTION_SHIFT = 4;
constexpr entry ACTION_MASK = 0x07;
constexpr entry FOLD = 0x80;
constexpr entry RUN = 0x100;
static_assert(nstates <= NEXT_MASK + 1 && A_ENTITY <= ACTION_MASK);

using dense_row = std::array<entry, 256>;
using dense_table = std::array<dense_row, nstates>;

constexpr bool is_foldable(unsigned b) {
  return b == 0x09 || b == 0x0A || b == 0x0B || b == 0x0D;
}

constexpr const transition &scan(const transition *list, unsigned b) {
  while (list->any == 0 && list->character != b)
    ++list;
  return *list;
}

constexpr const transition &default_entry(const transition *list) {
  while (list->any == 0)
    ++list;
  return *list;
}

constexpr entry pack(unsigned next, unsigned act) {
  return static_cast<entry>(next | act << ACTION_SHIFT);
}

// The action of a state's run: its default entry's, when that entry leads
// back into the state and skips, collects text or appends to the name.
constexpr int run_action(std::size_t s) {
  const transition &d = default_entry(sorvel_control_table[s].list);
  if (d.next != s || d == closing ||
      !(d.action == A_NONE || d.action == A_TEXT || d.action == A_NAME))
    return -1;
  return d.action;
}

// With SORVEL_NOENTITIES every way into entref becomes text in idle, which
// is exactly what the engine must do in place of that entry's action.
constexpr dense_table derive(bool noentities) {
  dense_table t{};
  for (std::size_t s = 0; s < nstates; ++s) {
    const control &row = sorvel_control_table[s];
    for (unsigned b = 0; b < 256; ++b) {
      const bool fold = (row.flags & KEEP_BLANKS) == 0 && is_foldable(b);
      const transition &e = scan(row.list, fold ? ' ' : b);
      unsigned next = e.next;
      unsigned act = e.action;
      if (noentities && next == entref) {
        next = idle;
        act = A_TEXT;
      }
      entry x = static_cast<entry>(pack(next, act) | (fold ? FOLD : 0));
      // A byte that does what the run of its next state does starts or
      // continues that run (the first byte of a name after "<", a byte
      // back into a comment). A skipped byte is not stored, so folding it
      // does not matter.
      if (run_action(next) == static_cast<int>(act) && (!fold || act == A_NONE))
        x |= RUN;
      t[s][b] = x;
    }
  }
  return t;
}

constexpr dense_table with_entities = derive(false);
constexpr dense_table without_entities = derive(true);

static_assert(with_entities[idle]['&'] == entref &&
              without_entities[idle]['&'] == (pack(idle, A_TEXT) | RUN));
static_assert(with_entities[tag]['\t'] == (tagwait | FOLD) &&
              with_entities[idle]['\t'] == (pack(idle, A_TEXT) | RUN));
static_assert(with_entities[initial]['\n'] == (initial | FOLD | RUN) &&
              with_entities[endtag]['\n'] == (pack(endtag, A_NAME) | FOLD));

// ---- Exits of the runs, for a vector scan ---------------------------------

// A state whose run ends at one or two bytes (text, skipped bytes) tests a
// block of input against each of them, repeated across 16 lanes, with one
// compare apiece. Any other run (the names) is tested against the largest
// byte that ends it: the lanes at or below it are only candidates, and the
// bytewise loop decides from the first of them. Name bytes are mostly
// letters, above every exit, so one compare finds the end.
constexpr std::size_t max_exits = 2;

struct exit_set {
  std::uint32_t count;                           // 0: no run
  alignas(16) std::uint8_t lanes[max_exits][16]; // when count <= max_exits
  alignas(16) std::uint8_t top[16];              // the largest exit
};

using exit_table = std::array<exit_set, nstates>;

// In state s, the run goes on through the bytes whose entries are RUN and
// lead back into s.
constexpr bool in_run(const dense_table &t, std::size_t s, unsigned b) {
  return (t[s][b] & RUN) != 0 && (t[s][b] & NEXT_MASK) == s;
}

constexpr exit_table derive_exits(const dense_table &t) {
  exit_table x{};
  for (std::size_t s = 0; s < nstates; ++s) {
    if (run_action(s) < 0)
      continue;
    for (unsigned b = 0; b < 256; ++b) {
      if (in_run(t, s, b))
        continue;
      if (x[s].count < max_exits)
        for (auto &lane : x[s].lanes[x[s].count])
          lane = static_cast<std::uint8_t>(b);
      for (auto &lane : x[s].top)
        lane = static_cast<std::uint8_t>(b);
      ++x[s].count;
    }
    // An unused slot repeats the first exit, so both can be compared.
    for (std::size_t i = x[s].count; i < max_exits; ++i)
      for (std::size_t j = 0; j < 16; ++j)
        x[s].lanes[i][j] = x[s].lanes[0][j];
  }
  return x;
}

constexpr exit_table exits_with_entities = derive_exits(with_entities);
constexpr exit_table exits_without_entities = derive_exits(without_entities);

// Where documents spend their bytes: text ends at "&" and "<", skipped bytes
// at "<" or "-", and every name at blanks and punctuation below the letters.
static_assert(exits_with_entities[idle].count == 2 &&
              exits_without_entities[idle].count == 1 &&
              exits_with_entities[initial].count == 1 &&
              exits_with_entities[comment].count == 1);
static_assert(exits_with_entities[tag].top[0] < 'A' &&
              exits_with_entities[endtag].top[0] < 'A' &&
              exits_with_entities[entref].top[0] < 'A');
static_assert(exits_with_entities[error].count == 0 &&
              exits_with_entities[openbr].count == 0);

#ifdef SORVEL_SSE2
// Lanes of the 16 bytes at p that may end state x's run: exactly the exits
// when there are at most two, else every byte up to the largest.
template <bool Bound>
unsigned exit_mask(const exit_set &x, const std::uint8_t *p) noexcept {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
  if (Bound) {
    const __m128i top =
        _mm_load_si128(reinterpret_cast<const __m128i *>(x.top));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, top), v)));
  }
  __m128i hit = _mm_setzero_si128();
  for (std::size_t i = 0; i < max_exits; ++i)
    hit = _mm_or_si128(
        hit, _mm_cmpeq_epi8(v, _mm_load_si128(reinterpret_cast<const __m128i *>(
                                   x.lanes[i]))));
  return static_cast<unsigned>(_mm_movemask_epi8(hit));
}

// Advances k over whole blocks of the run while the input has them, to the
// first lane that may end it; lanes past lim are read but not acted on.
// True when k is then the end of the run.
template <bool Bound>
bool vector_span(const exit_set &x, const std::uint8_t *p, std::uint32_t lim,
                 std::uint32_t n, std::uint32_t &k) noexcept {
  for (; n - k >= 16; k += 16) {
    const unsigned m = exit_mask<Bound>(x, p + k);
    if (m != 0) {
      k = std::min(lim, k + static_cast<std::uint32_t>(__builtin_ctz(m)));
      return !Bound || k == lim;
    }
    if (lim - k <= 16) {
      k = lim;
      return true;
    }
  }
  return false;
}
#endif

// The length of state s's run at p, at most lim bytes; n >= lim bytes are
// readable.
SORVEL_INLINE std::uint32_t span(const dense_row &row, std::uint32_t s,
                                 const exit_set &x, const std::uint8_t *p,
                                 std::uint32_t lim, std::uint32_t n) noexcept {
  std::uint32_t k = 0;
#ifdef SORVEL_SSE2
  if (x.count <= max_exits ? vector_span<false>(x, p, lim, n, k)
                           : vector_span<true>(x, p, lim, n, k))
    return k;
#else
  (void)x;
  (void)n;
#endif
  while (k != lim && (row[p[k]] & (RUN | NEXT_MASK)) == (RUN | s))
    ++k;
  return k;
}

// ---- The engine -----------------------------------------------------------

// Exactly k bytes, without a call for the short runs of names and markup
// text: two overlapping fixed-size copies cover any length up to 16.
SORVEL_INLINE void copy(char *dst, const std::uint8_t *src,
                        std::uint32_t k) noexcept {
  if (k >= 8) {
    if (k > 16) {
      std::memcpy(dst, src, k);
      return;
    }
    std::memcpy(dst, src, 8);
    std::memcpy(dst + k - 8, src + k - 8, 8);
  } else if (k >= 4) {
    std::memcpy(dst, src, 4);
    std::memcpy(dst + k - 4, src + k - 4, 4);
  } else if (k != 0) {
    dst[0] = static_cast<char>(src[0]);
    dst[k / 2] = static_cast<char>(src[k / 2]);
    dst[k - 1] = static_cast<char>(src[k - 1]);
  }
}

// A full chunk with no element open can only be top-level text after a
// comment; it still needs a name that outlives the call.
constexpr char no_element[] = "";

sorvel_token *fill(sorvel_token *t, std::int32_t type, const char *name,
                   const char *text, std::uint32_t len) noexcept {
  t->type = type;
  t->name = name;
  t->text = text;
  t->len = len;
  return t;
}

SORVEL_INLINE sorvel_token *end_token(sorvel_ctx *c, sorvel_token *t) noexcept {
  c->textflags >>= 1;
  return fill(t, SORVEL_END, c->name, nullptr, 0);
}

// True when the collected text has reached textmax; the full chunk is then
// delivered into *t.
SORVEL_INLINE bool full(sorvel_ctx *c, sorvel_token *t) noexcept {
  if (c->textlen != c->textmax)
    return false;
  c->text[c->textlen] = '\0';
  fill(t, SORVEL_TEXT, c->depth ? c->stack[c->depth - 1] : no_element, c->text,
       c->textlen);
  c->textlen = 0;
  c->textflags |= 1;
  return true;
}

// Appends one byte; true when that completed a full chunk, which is then
// ready in the buffer and in *t.
SORVEL_INLINE bool append(sorvel_ctx *c, sorvel_token *t,
                          std::uint8_t b) noexcept {
  c->text[c->textlen] = static_cast<char>(b);
  ++c->textlen;
  return full(c, t);
}

void finish_name(sorvel_ctx *c) noexcept {
  c->name[c->namelen] = '\0';
  c->namelen = 0;
}

// Copies up to and including the first NUL: a NUL byte read into a name
// ends it, and the rest of the slot keeps what it held. Both are 16-byte
// arrays and src holds a NUL.
SORVEL_INLINE void copy_name(char *dst, const char *src) noexcept {
#ifdef SORVEL_SSE2
  // Rewrites the slot's other bytes with what they already hold.
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src));
  const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i *>(dst));
  const unsigned nul = static_cast<unsigned>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())));
  const int len = __builtin_ctz(nul) + 1;
  const __m128i lane =
      _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m128i keep =
      _mm_cmplt_epi8(lane, _mm_set1_epi8(static_cast<char>(len)));
  _mm_storeu_si128(
      reinterpret_cast<__m128i *>(dst),
      _mm_or_si128(_mm_and_si128(keep, v), _mm_andnot_si128(keep, old)));
#else
  while ((*dst++ = *src++) != '\0') {
  }
#endif
}

SORVEL_INLINE sorvel_token *open(sorvel_ctx *c, sorvel_token *t) noexcept {
  if (c->depth == 8)
    return nullptr;
  c->textflags <<= 1;
  c->name[c->namelen] = '\0';
  ++c->depth;
  c->namelen = 0;
  c->textlen = 0; // text collected for the parent is dropped
  copy_name(c->stack[c->depth - 1], c->name);
  return fill(t, SORVEL_START, c->name, nullptr, 0);
}

// strcmp(a, b) == 0 for two 16-byte name arrays, a holding a NUL.
SORVEL_INLINE bool same_name(const char *a, const char *b) noexcept {
#ifdef SORVEL_SSE2
  // Equal when the first lane that differs or ends a is a NUL of both.
  const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a));
  const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b));
  const unsigned differ =
      ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y))) & 0xFFFF;
  const unsigned nul = static_cast<unsigned>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_setzero_si128())));
  const unsigned first = (differ | nul) & (0u - (differ | nul));
  return (first & nul & ~differ) != 0;
#else
  for (;; ++a, ++b) {
    if (*a != *b)
      return false;
    if (*a == '\0')
      return true;
  }
#endif
}

// ctx.name holds the end tag's name, or after an empty-element tag still the
// start tag's name that A_OPEN finished.
SORVEL_INLINE sorvel_token *pop(sorvel_ctx *c, sorvel_token *t) noexcept {
  if (c->depth == 0)
    return nullptr;
  if (!same_name(c->name, c->stack[--c->depth]))
    return nullptr;
  if (c->textlen != 0) {
    c->text[c->textlen] = '\0';
    fill(t, SORVEL_TEXT, c->name, c->text, c->textlen);
    c->textlen = 0;
    c->options |= SORVEL_PENDING_END;
    return t;
  }
  if ((c->options & SORVEL_EMPTYTEXT) != 0 && (c->textflags & 1) == 0) {
    c->text[0] = '\0';
    fill(t, SORVEL_TEXT, c->name, c->text, 0);
    c->options |= SORVEL_PENDING_END;
    return t;
  }
  return end_token(c, t);
}

// Each entity name with its NUL as the first bytes of an 8-byte word, and
// the mask that selects them: comparing those bytes is strcmp() == 0 on a
// NUL-terminated name.
struct entity_key {
  char bytes[8];
  char mask[8];
};

constexpr std::array<entity_key, std::size(entities)> derive_keys() {
  std::array<entity_key, std::size(entities)> k{};
  for (std::size_t i = 0; i < std::size(entities); ++i) {
    std::size_t j = 0;
    for (; entities[i].name[j] != '\0'; ++j) {
      k[i].bytes[j] = entities[i].name[j];
      k[i].mask[j] = '\xFF';
    }
    k[i].mask[j] = '\xFF';
  }
  return k;
}

constexpr auto entity_keys = derive_keys();
static_assert(sizeof entities[0].name <= 8 && sizeof(sorvel_ctx{}.name) >= 8);

std::uint64_t word(const char *p) noexcept {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// The decoded character, or -1 for a name that is none of the five.
int decode(sorvel_ctx *c) noexcept {
  finish_name(c);
  const std::uint64_t w = word(c->name);
  for (std::size_t i = 0; i < std::size(entities); ++i)
    if ((w & word(entity_keys[i].mask)) == word(entity_keys[i].bytes))
      return static_cast<unsigned char>(entities[i].character);
  return -1;
}

// The END token that a TEXT before it left pending.
SORVEL_INLINE sorvel_token *pending_end(sorvel_ctx *c,
                                        sorvel_token *t) noexcept {
  c->options &= ~SORVEL_PENDING_END;
  return end_token(c, t);
}

// Reads on to the next token. Inlined into sorvel_parse: a call per token is
// a cost on markup.
SORVEL_INLINE sorvel_token *scan_token(sorvel_ctx *c,
                                       sorvel_token *t) noexcept {
  const bool noentities = (c->options & SORVEL_NOENTITIES) != 0;
  const dense_table &table = noentities ? without_entities : with_entities;
  const exit_table &exits =
      noentities ? exits_without_entities : exits_with_entities;
  auto p = reinterpret_cast<const std::uint8_t *>(c->in);
  std::uint32_t n = c->inlen;
  std::uint32_t s = c->state;
  sorvel_token *r = nullptr;

  while (s != error && n != 0) {
    const entry e = table[s][*p];
    if ((e & (RUN | ACTION_MASK << ACTION_SHIFT)) == 0) {
      // Most markup bytes: only the change of state.
      s = e & NEXT_MASK;
      ++p;
      --n;
      continue;
    }
    const unsigned act = e >> ACTION_SHIFT & ACTION_MASK;
    if ((e & RUN) != 0) {
      // The run that starts here, taken in bulk up to where the byte-by-byte
      // engine would act otherwise: the byte that leaves the run, the byte
      // that fills the text buffer (the full chunk is delivered here), the
      // 15th byte of a name (left to the step below, which rejects it).
      std::uint32_t lim = n;
      if (act == A_TEXT)
        lim = std::min(lim, c->textmax - c->textlen);
      else if (act == A_NAME)
        lim = std::min(lim, 14 - c->namelen);
      if (lim != 0) {
        // This byte may lead into the run's state from another one.
        s = e & NEXT_MASK;
        const std::uint32_t k =
            1 + span(table[s], s, exits[s], p + 1, lim - 1, n - 1);
        if (act == A_TEXT) {
          copy(c->text + c->textlen, p, k);
          c->textlen += k;
        } else if (act == A_NAME) {
          copy(c->name + c->namelen, p, k);
          c->namelen += k;
        }
        p += k;
        n -= k;
        if (act == A_TEXT && full(c, t)) {
          r = t;
          break;
        }
        continue;
      }
    }
    const std::uint8_t b = (e & FOLD) != 0 ? std::uint8_t{' '} : *p;
    ++p;
    --n;
    s = e & NEXT_MASK;
    // A case that continues reads on; one that breaks ends the call, with
    // the token it delivered or, when it has none, in the error state.
    switch (static_cast<action>(act)) {
    case A_NONE: // taken above, as a plain state change or as a run
      continue;
    case A_TEXT:
      if (!append(c, t, b))
        continue;
      r = t;
      break;
    case A_NAME:
      c->name[c->namelen] = static_cast<char>(b);
      if (++c->namelen != 15)
        continue;
      break;
    case A_OPEN:
      r = open(c, t);
      break;
    case A_CLOSE:
      finish_name(c);
      r = pop(c, t);
      break;
    case A_POP:
      r = pop(c, t);
      break;
    case A_ENTITY: {
      const int ch = decode(c);
      if (ch >= 0) {
        if (!append(c, t, static_cast<std::uint8_t>(ch)))
          continue;
        r = t;
      }
      break;
    }
    }
    if (r == nullptr)
      s = error;
    break;
  }
  c->in = reinterpret_cast<const char *>(p);
  c->inlen = n;
  c->state = s;
  return r;
}

#if defined(__GNUC__) || defined(__clang__)
__attribute__((noinline))
#endif
sorvel_token *
scan_call(sorvel_ctx *c, sorvel_token *t) noexcept {
  return scan_token(c, t);
}

// Every token in turn; inlined into sorvel_parse.
SORVEL_INLINE sorvel_token *next(sorvel_ctx *c, sorvel_token *t) noexcept {
  if ((c->options & SORVEL_PENDING_END) != 0)
    return pending_end(c, t);
  return scan_token(c, t);
}

} // namespace

extern "C" {

SORVEL_API int32_t sorvel_init(sorvel_ctx *ctx, char *buf, uint32_t size,
                               uint32_t options) {
  if (ctx == nullptr || buf == nullptr || size < 32)
    return 1;
  ctx->state = initial;
  ctx->depth = 0;
  std::memset(ctx->stack, 0, sizeof ctx->stack);
  std::memset(ctx->name, 0, sizeof ctx->name);
  ctx->namelen = 0;
  ctx->in = nullptr;
  ctx->inlen = 0;
  ctx->textflags = 0;
  ctx->text = buf;
  ctx->textlen = 0;
  ctx->textmax = (size - 1) & ~std::uint32_t{1};
  ctx->textsize = size;
  ctx->options = options;
  return 0;
}

SORVEL_API int32_t sorvel_begin(sorvel_ctx *ctx, const char *chunk,
                                uint32_t len) {
  if (ctx->inlen != 0 || chunk == nullptr)
    return -1;
  ctx->in = chunk;
  ctx->inlen = len;
  return 0;
}

SORVEL_API void sorvel_reset(sorvel_ctx *ctx) {
  ctx->in = nullptr;
  ctx->inlen = 0;
}

SORVEL_API sorvel_token *sorvel_next(sorvel_ctx *ctx, sorvel_token *tok) {
  // A pending END costs no more than a test: the scan, with the registers it
  // saves, is a separate call.
  if ((ctx->options & SORVEL_PENDING_END) != 0)
    return pending_end(ctx, tok);
  return scan_call(ctx, tok);
}

SORVEL_API uint32_t sorvel_parse(sorvel_ctx *ctx, const char *chunk,
                                 uint32_t len, void *user, sorvel_callback cb) {
  if (cb == nullptr || ctx->inlen != 0 || chunk == nullptr)
    return len;
  ctx->in = chunk;
  ctx->inlen = len;
  sorvel_token t;
  // The input position lives only in the context, so a callback that calls
  // sorvel_reset ends the loop at once.
  while (next(ctx, &t) != nullptr)
    cb(user, t.type, t.name, t.text, t.len);
  std::uint32_t result = ctx->inlen;
  // On a context already in error the whole chunk is unread: saturate rather
  // than wrap to 0, which would report success.
  if (ctx->state == error && result != UINT32_MAX)
    ++result;
  ctx->in = nullptr;
  ctx->inlen = 0;
  return result;
}

} // extern "C"

// libsorvel: the transition table and the engine that interprets it.
//
// The grammar lives in the fifteen transition lists below, one per state, and
// in the control table that gives each state its list and flags. The engine
// never scans those lists at run time: a constexpr pass folds each state's
// blank handling and list scan into a dense next-state/action table, so the
// per-byte work is one table load and a switch on the action. A second
// constexpr pass finds, per state, the bytes that take the state's own
// default back into it (text in idle, skipped bytes in initial and comment,
// name bytes): the engine takes runs of those in bulk, with the same effect
// as taking them one at a time.

#include "sorvel.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#include <emmintrin.h>
#define SORVEL_SSE2 1
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

// One byte per (state, input byte): next state in bits 0-3, action in bits
// 4-6, and bit 7 when the state folds this byte to SPACE before the lookup.
constexpr std::uint8_t NEXT_MASK = 0x0F;
constexpr unsigned ACTION_SHIFT = 4;
constexpr std::uint8_t FOLD = 0x80;
static_assert(nstates <= NEXT_MASK + 1 && A_ENTITY < 8);

using dense_table = std::array<std::array<std::uint8_t, 256>, nstates>;

constexpr bool is_foldable(unsigned b) {
  return b == 0x09 || b == 0x0A || b == 0x0B || b == 0x0D;
}

constexpr const transition &scan(const transition *list, unsigned b) {
  while (list->any == 0 && list->character != b)
    ++list;
  return *list;
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
      t[s][b] = static_cast<std::uint8_t>(next | act << ACTION_SHIFT |
                                          (fold ? FOLD : 0));
    }
  }
  return t;
}

constexpr dense_table with_entities = derive(false);
constexpr dense_table without_entities = derive(true);

static_assert(with_entities[idle]['&'] == entref &&
              without_entities[idle]['&'] == (idle | A_TEXT << ACTION_SHIFT));
static_assert(with_entities[tag]['\t'] == (tagwait | FOLD) &&
              with_entities[idle]['\t'] == (idle | A_TEXT << ACTION_SHIFT));

// ---- Runs, derived from the dense table ------------------------------------

// A run is a stretch of bytes that each take their state's default entry
// back into the same state: skipped (A_NONE), collected as text (A_TEXT) or
// appended to the name (A_NAME). A byte stays in the run when its dense entry
// equals `want` under `mask`; for skipped bytes the fold bit does not matter,
// while a byte that would be stored folded ends a text or name run, so runs
// copy input bytes unchanged. `exits` lists the bytes that end the run when
// there are at most two of them, for a vector scan.
enum run_kind : std::uint8_t { no_run, skip_run, text_run, name_run };

struct run {
  std::uint8_t kind;
  std::uint8_t want;
  std::uint8_t mask;
  std::uint8_t nexits; // bytes outside the run; only the first two are kept
  std::uint8_t exits[2];
  std::uint8_t pad[2]; // a power of two, for cheap indexing
};

using run_table = std::array<run, nstates>;

constexpr const transition &default_entry(const transition *list) {
  while (list->any == 0)
    ++list;
  return *list;
}

constexpr run_table derive_runs(const dense_table &t) {
  run_table runs{};
  for (std::size_t s = 0; s < nstates; ++s) {
    const transition &d = default_entry(sorvel_control_table[s].list);
    // No dense entry has all bits set, so a state without a run matches none.
    run r{no_run, 0xFF, 0xFF, 0, {0, 0}, {0, 0}};
    if (d.next == s && !(d == closing)) {
      r.kind = d.action == A_NONE   ? skip_run
               : d.action == A_TEXT ? text_run
               : d.action == A_NAME ? name_run
                                    : no_run;
      r.want = static_cast<std::uint8_t>(s | d.action << ACTION_SHIFT);
      r.mask = r.kind == skip_run ? static_cast<std::uint8_t>(~FOLD) : 0xFF;
    }
    if (r.kind != no_run)
      for (unsigned b = 0; b < 256; ++b)
        if ((t[s][b] & r.mask) != r.want && r.nexits++ < 2)
          r.exits[r.nexits - 1] = static_cast<std::uint8_t>(b);
    if (r.nexits == 1)
      r.exits[1] = r.exits[0];
    runs[s] = r;
  }
  return runs;
}

constexpr run_table runs_with_entities = derive_runs(with_entities);
constexpr run_table runs_without_entities = derive_runs(without_entities);

// Bulk text and skipped bytes are where documents spend their bytes; these
// runs end only at the bytes the grammar names ("<", "&", "-").
static_assert(nstates - 1 < NEXT_MASK, "an entry of all ones names no state");
static_assert(runs_with_entities[error].kind == no_run &&
              runs_with_entities[error].want == 0xFF);
static_assert(runs_with_entities[initial].kind == skip_run &&
              runs_with_entities[initial].nexits == 1 &&
              runs_with_entities[initial].exits[0] == '<');
static_assert(runs_with_entities[idle].kind == text_run &&
              runs_with_entities[idle].nexits == 2 &&
              runs_without_entities[idle].nexits == 1);
static_assert(runs_with_entities[comment].kind == skip_run &&
              runs_with_entities[comment].nexits == 1);
static_assert(runs_with_entities[tag].kind == name_run &&
              runs_with_entities[endtag].kind == name_run &&
              runs_with_entities[entref].kind == name_run);

// The length of the run at p, at most lim bytes.
std::uint32_t span(const std::uint8_t *row, const run &r, const std::uint8_t *p,
                   std::uint32_t lim) noexcept {
  std::uint32_t k = 0;
#ifdef SORVEL_SSE2
  if (r.nexits <= 2) {
    const __m128i a = _mm_set1_epi8(static_cast<char>(r.exits[0]));
    const __m128i b = _mm_set1_epi8(static_cast<char>(r.exits[1]));
    for (; lim - k >= 16; k += 16) {
      const __m128i v =
          _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + k));
      const int m = _mm_movemask_epi8(
          _mm_or_si128(_mm_cmpeq_epi8(v, a), _mm_cmpeq_epi8(v, b)));
      if (m != 0)
        return k + static_cast<std::uint32_t>(
                       __builtin_ctz(static_cast<unsigned>(m)));
    }
  }
#endif
  while (k != lim && (row[p[k]] & r.mask) == r.want)
    ++k;
  return k;
}

// ---- The engine -----------------------------------------------------------

// memcpy, without the call for the short runs of names and markup text.
void copy(char *dst, const std::uint8_t *src, std::uint32_t k) noexcept {
  if (k > 16) {
    std::memcpy(dst, src, k);
    return;
  }
  for (std::uint32_t i = 0; i != k; ++i)
    dst[i] = static_cast<char>(src[i]);
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

sorvel_token *end_token(sorvel_ctx *c, sorvel_token *t) noexcept {
  c->textflags >>= 1;
  return fill(t, SORVEL_END, c->name, nullptr, 0);
}

// True when the collected text has reached textmax; the full chunk is then
// delivered into *t.
bool full(sorvel_ctx *c, sorvel_token *t) noexcept {
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
bool append(sorvel_ctx *c, sorvel_token *t, std::uint8_t b) noexcept {
  c->text[c->textlen] = static_cast<char>(b);
  ++c->textlen;
  return full(c, t);
}

void finish_name(sorvel_ctx *c) noexcept {
  c->name[c->namelen] = '\0';
  c->namelen = 0;
}

// Copies up to and including the first NUL: a NUL byte read into a name
// ends it, and the rest of the slot keeps what it held.
void copy_name(char *dst, const char *src) noexcept {
  while ((*dst++ = *src++) != '\0') {
  }
}

sorvel_token *open(sorvel_ctx *c, sorvel_token *t) noexcept {
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

// strcmp(a, b) == 0 for names, which are short enough that a call costs
// more than the comparison.
bool same_name(const char *a, const char *b) noexcept {
  for (;; ++a, ++b) {
    if (*a != *b)
      return false;
    if (*a == '\0')
      return true;
  }
}

// ctx.name holds the end tag's name, or after an empty-element tag still the
// start tag's name that A_OPEN finished.
sorvel_token *pop(sorvel_ctx *c, sorvel_token *t) noexcept {
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

// The decoded character, or -1 for a name that is none of the five.
int decode(sorvel_ctx *c) noexcept {
  finish_name(c);
  // Comparing an entity name with its NUL is strcmp() == 0 on the
  // NUL-terminated name; both arrays are long enough to read.
  static_assert(sizeof entities[0].name < sizeof c->name);
  for (const entity &e : entities)
    if (std::memcmp(c->name, e.name, std::strlen(e.name) + 1) == 0)
      return static_cast<unsigned char>(e.character);
  return -1;
}

// Inlined into both entry points: a call per token is a cost on markup.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((always_inline))
#endif
inline sorvel_token *
next(sorvel_ctx *c, sorvel_token *t) noexcept {
  if ((c->options & SORVEL_PENDING_END) != 0) {
    c->options &= ~SORVEL_PENDING_END;
    return end_token(c, t);
  }
  const bool noentities = (c->options & SORVEL_NOENTITIES) != 0;
  const dense_table &table = noentities ? without_entities : with_entities;
  const run_table &runs =
      noentities ? runs_without_entities : runs_with_entities;
  auto p = reinterpret_cast<const std::uint8_t *>(c->in);
  std::uint32_t n = c->inlen;
  std::uint32_t s = c->state;
  sorvel_token *r = nullptr;

  while (s != error && n != 0) {
    const std::uint8_t e = table[s][*p];
    const std::uint8_t b = (e & FOLD) != 0 ? std::uint8_t{' '} : *p;
    ++p;
    --n;
    const std::uint32_t from = s;
    s = e & NEXT_MASK;
    // After a byte that stays in its state, the bytes that follow and do the
    // same are taken in bulk, up to where the byte-by-byte engine would act
    // otherwise: the byte that leaves the run, the byte that fills the text
    // buffer (the full chunk is delivered here), the 15th byte of a name
    // (left for the next step, which rejects it).
    const run &u = runs[s];
    const bool stays = s == from;
    // A case that continues reads on; one that breaks ends the call, with
    // the token it delivered or, when it has none, in the error state.
    switch (static_cast<action>(e >> ACTION_SHIFT & 7)) {
    case A_NONE:
      if (stays && u.kind == skip_run) {
        const std::uint32_t k = span(table[s].data(), u, p, n);
        p += k;
        n -= k;
      }
      continue;
    case A_TEXT:
      if (append(c, t, b)) {
        r = t;
        break;
      }
      if (stays && u.kind == text_run) {
        const std::uint32_t k =
            span(table[s].data(), u, p, std::min(n, c->textmax - c->textlen));
        copy(c->text + c->textlen, p, k);
        c->textlen += k;
        p += k;
        n -= k;
        if (full(c, t)) {
          r = t;
          break;
        }
      }
      continue;
    case A_NAME:
      c->name[c->namelen] = static_cast<char>(b);
      if (++c->namelen == 15)
        break;
      if (stays && u.kind == name_run) {
        const std::uint32_t k =
            span(table[s].data(), u, p, std::min(n, 14 - c->namelen));
        copy(c->name + c->namelen, p, k);
        c->namelen += k;
        p += k;
        n -= k;
      }
      continue;
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
  return next(ctx, tok);
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

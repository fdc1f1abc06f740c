/*
 * sorvel.h - libsorvel, a zero-allocation streaming tokenizer for a small
 * subset of XML.
 *
 * The language: nested elements and text; start tags, end tags and
 * empty-element tags without attributes; the entity references &lt; &gt;
 * &amp; &apos; &quot;; comments. No declarations, processing instructions,
 * CDATA sections, DOCTYPE or numeric character references. At most 8 open
 * elements, names of at most 14 bytes. Bytes from 0x80 up are ordinary
 * characters, so UTF-8 passes through unchanged.
 *
 * The host owns all memory: a sorvel_ctx, a text buffer of at least 32 bytes
 * and the input chunks. The library allocates nothing, keeps no mutable
 * global state and performs no I/O.
 *
 * Pull, chunk by chunk:
 *
 *   sorvel_init(&ctx, buf, sizeof buf, 0);
 *   for each chunk:
 *     sorvel_begin(&ctx, chunk, len);
 *     while (sorvel_next(&ctx, &tok) != NULL)
 *       use(&tok);
 *     if (ctx.state == 0)
 *       malformed: the offending byte is ctx.in[-1]
 *
 * Push, chunk by chunk:
 *
 *   sorvel_init(&ctx, buf, sizeof buf, 0);
 *   for each chunk:
 *     if (sorvel_parse(&ctx, chunk, len, user, on_token) != 0)
 *       malformed: the offending byte is chunk[len - result]
 *
 * When tokens fire, for   <a>x&amp;y<b/>z</a>   with no options:
 *
 *   <a>           START a          when ">" is read
 *   x&amp;y       (collected)      text is held in the caller's buffer
 *   <b/           START b          when "/" is read; "x&y" is dropped
 *   >             END b            when ">" is read
 *   z             (skipped)        text after an end tag is ignored
 *   </a>          END a            when ">" is read
 *
 *   <a>x&amp;y</a>  gives START a; at ">" of the end tag TEXT a "x&y" (3);
 *                   END a from the next call, without reading input.
 *
 * A TEXT token also fires as soon as the collected text reaches ctx.textmax
 * bytes (a "full chunk"); the rest of the element's text follows in later
 * TEXT tokens. Text is delivered only up to an end tag: text that a child
 * element's start tag interrupts is dropped, except for full chunks already
 * delivered. Where the input is cut into chunks never changes the tokens.
 *
 * Malformed input shows only as ctx.state == 0; the byte that caused it was
 * the last one read (ctx.in points just past it). The error is sticky until
 * sorvel_init.
 */
#ifndef SORVEL_H
#define SORVEL_H

#include <stddef.h>
#include <stdint.h>

/* SORVEL_API marks the five exported functions. Define SORVEL_STATIC when
 * building or using the static library. */
#if defined(SORVEL_STATIC)
#define SORVEL_API
#elif defined(_WIN32) || defined(__CYGWIN__)
#ifdef SORVEL_BUILDING
#define SORVEL_API __declspec(dllexport)
#else
#define SORVEL_API __declspec(dllimport)
#endif
#elif defined(__GNUC__) || defined(__clang__)
#define SORVEL_API __attribute__((visibility("default")))
#else
#define SORVEL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define SORVEL_VERSION_MAJOR 1
#define SORVEL_VERSION_MINOR 0
#define SORVEL_VERSION_PATCH 0

/* Token types (sorvel_token.type). */
#define SORVEL_START 1 /* an element opened */
#define SORVEL_END 2   /* an element closed */
#define SORVEL_TEXT 3  /* a chunk of an element's text */

/* Options word (sorvel_init). */
#define SORVEL_NOENTITIES 1u /* "&" in text is an ordinary character */
#define SORVEL_EMPTYTEXT                                                       \
  2u /* an element that delivered no text chunk gets                           \
      * one empty TEXT token before its END */
/* Bit 31 belongs to the engine: an END token is owed to the next call. A
 * caller passes only SORVEL_NOENTITIES and SORVEL_EMPTYTEXT. */
#define SORVEL_PENDING_END 0x80000000u

/* The context: the whole state of one document. Allocated by the caller
 * (static, automatic or heap), prepared by sorvel_init; the order and widths
 * of the fields are part of the ABI. Read any field freely; write none. */
typedef struct sorvel_ctx {
  /* Current state, 0 to 14. 0 is the error state (malformed input, sticky
   * until sorvel_init), 1 the initial state. Written by sorvel_init and the
   * engine. */
  uint32_t state;
  /* Number of open elements, 0 to 8. Written by sorvel_init and the engine. */
  uint32_t depth;
  /* stack[d - 1] holds the NUL-terminated name of the element opened at
   * depth d. Slots above depth keep stale names. Written by sorvel_init
   * (zeroed) and by the engine when an element opens. */
  char stack[8][16];
  /* The tag or entity name being collected (namelen bytes, no NUL until it
   * is complete), and the name of START, END and closing TEXT tokens.
   * Written by sorvel_init (zeroed) and the engine. */
  char name[16];
  /* Bytes held in name, 0 to 14 between calls. */
  uint32_t namelen;
  /* Next unread byte of the current chunk; null when no chunk is held.
   * Written by sorvel_init, sorvel_begin, sorvel_reset, sorvel_parse; the
   * engine advances it. */
  const char *in;
  /* Bytes of the current chunk not yet read. Counted down by the engine. */
  uint32_t inlen;
  /* One bit per open element, innermost in bit 0: set once a full text chunk
   * was delivered for it. Written by sorvel_init and the engine. */
  uint32_t textflags;
  /* The caller's text buffer. Written by sorvel_init only. */
  char *text;
  /* Bytes collected in text and not yet delivered; below textmax between
   * calls. Written by sorvel_init and the engine. */
  uint32_t textlen;
  /* Length of a full chunk: (textsize - 1) with bit 0 cleared, at least 30.
   * Written by sorvel_init only. */
  uint32_t textmax;
  /* The buffer size given to sorvel_init; kept for the caller, unused by
   * the library. */
  uint32_t textsize;
  /* The options word as given to sorvel_init; the engine changes only
   * SORVEL_PENDING_END. */
  uint32_t options;
} sorvel_ctx;

/* A token, filled by sorvel_next only in a call that returns it.
 *
 * Lifetime: name and text are borrowed, not copied. They point into the
 * context and into the caller's text buffer, and stay valid and unchanged
 * until the next sorvel_next, sorvel_parse or sorvel_init on the same
 * context. Copy what you need to keep. */
typedef struct sorvel_token {
  /* SORVEL_START, SORVEL_END or SORVEL_TEXT. */
  int32_t type;
  /* NUL-terminated element name: ctx.name for START, END and the TEXT that
   * ends an element; the stack slot of the open element for a full chunk
   * (an empty string for a full chunk with no element open). */
  const char *name;
  /* TEXT: the first byte of the caller's text buffer, with a NUL written
   * after the len bytes. START and END: null. */
  const char *text;
  /* TEXT: number of bytes, NUL bytes of the input included (so len, not
   * strlen, is the length). START and END: 0. */
  uint32_t len;
} sorvel_token;

/* The callback of sorvel_parse, called once per token with the user pointer
 * and the token's fields. name and text are valid only until it returns.
 * It has no result: the parse cannot be stopped by returning a value. To
 * stop early, call sorvel_reset(ctx) from the callback; the rest of the
 * chunk is dropped, and an END token owed at that moment is still delivered
 * before sorvel_parse returns. */
typedef void (*sorvel_callback)(void *user, int32_t type, const char *name,
                                const char *text, uint32_t len);

/* sorvel_init - prepare ctx for a new document.
 *
 * buf is the text buffer of size bytes (at least 32); it must stay valid for
 * the life of the context and is not touched here. options is
 * SORVEL_NOENTITIES and/or SORVEL_EMPTYTEXT, stored unchanged.
 *
 * Writes every field, so any context (in error, mid-document, holding
 * input) may be given: everything about the previous document is forgotten.
 *
 * Returns 0 when ready; 1, writing nothing, when ctx or buf is null or size
 * is below 32. */
SORVEL_API int32_t sorvel_init(sorvel_ctx *ctx, char *buf, uint32_t size,
                               uint32_t options);

/* sorvel_begin - hand ctx the next chunk of input (len may be 0).
 *
 * The chunk is read in place: it must stay unchanged until sorvel_next has
 * read it all (returned null) or sorvel_reset has dropped it.
 *
 * Returns 0 when accepted; -1, writing nothing, when chunk is null or the
 * previous chunk is not used up (ctx.inlen != 0). Changes only in and inlen;
 * a context in error accepts a chunk too, but the engine reads none of it. */
SORVEL_API int32_t sorvel_begin(sorvel_ctx *ctx, const char *chunk,
                                uint32_t len);

/* sorvel_reset - drop the unread rest of the current chunk.
 *
 * Sets in to null and inlen to 0, nothing else: open elements, a half-read
 * name, collected text and an owed END token survive, and the next chunk is
 * read as if it followed the last byte read. */
SORVEL_API void sorvel_reset(sorvel_ctx *ctx);

/* sorvel_next - pull the next token.
 *
 * Reads the current chunk byte by byte until a token is complete, fills
 * *tok and returns tok. An owed END token is returned first, without
 * reading. Returns null, leaving *tok alone, when the chunk is used up
 * (ctx.state != 0: hand over the next chunk) or the input is malformed
 * (ctx.state == 0; ctx.in points just past the offending byte). Call it until
 * it returns null before handing over the next chunk. */
SORVEL_API sorvel_token *sorvel_next(sorvel_ctx *ctx, sorvel_token *tok);

/* sorvel_parse - push one chunk through the tokenizer.
 *
 * Calls cb(user, type, name, text, len) for every token the chunk completes,
 * in order, exactly the tokens sorvel_begin and sorvel_next would give; an
 * END token owed from earlier pulls comes first, and none is left owed on
 * return. The chunk is read in place and not kept: on return ctx.in is null
 * and ctx.inlen 0.
 *
 * Returns 0 when the whole chunk was read without error (the document may
 * still be incomplete); after malformed input, the number of bytes from the
 * offending byte to the end of the chunk, that byte included; on a context
 * already in error, len + 1 (0xFFFFFFFF at most).
 * Refused, returning len and writing nothing: cb null, chunk null, or a
 * chunk from sorvel_begin not used up. */
SORVEL_API uint32_t sorvel_parse(sorvel_ctx *ctx, const char *chunk,
                                 uint32_t len, void *user, sorvel_callback cb);

#ifdef __cplusplus
}
#endif

#endif /* SORVEL_H */

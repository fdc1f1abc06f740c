/* The public header as a C99 host sees it: the record layout and a call of
 * each of the five functions. */
#include "sorvel.h"
#include "sorvel.h" /* survives double inclusion */

#include <stddef.h>
#include <stdio.h>
#include <string.h>

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond);               \
      return 1;                                                                \
    }                                                                          \
  } while (0)

static int tokens;

static void count(void *user, int32_t type, const char *name, const char *text,
                  uint32_t len) {
  (void)type;
  (void)name;
  (void)text;
  (void)len;
  ++*(int *)user;
}

int main(void) {
  const size_t p = sizeof(void *);
  sorvel_ctx ctx;
  sorvel_token tok;
  char buf[32];
  static const char doc[] = "<a>x&amp;y</a>";

  CHECK(offsetof(sorvel_ctx, state) == 0);
  CHECK(offsetof(sorvel_ctx, depth) == 4);
  CHECK(offsetof(sorvel_ctx, stack) == 8);
  CHECK(offsetof(sorvel_ctx, name) == 136);
  CHECK(offsetof(sorvel_ctx, namelen) == 152);
  CHECK(offsetof(sorvel_ctx, in) == (p == 8 ? 160 : 156));
  CHECK(offsetof(sorvel_ctx, inlen) == (p == 8 ? 168 : 160));
  CHECK(offsetof(sorvel_ctx, textflags) == offsetof(sorvel_ctx, inlen) + 4);
  CHECK(offsetof(sorvel_ctx, text) == (p == 8 ? 176 : 168));
  CHECK(offsetof(sorvel_ctx, textlen) == offsetof(sorvel_ctx, text) + p);
  CHECK(offsetof(sorvel_ctx, textmax) == offsetof(sorvel_ctx, textlen) + 4);
  CHECK(offsetof(sorvel_ctx, textsize) == offsetof(sorvel_ctx, textmax) + 4);
  CHECK(offsetof(sorvel_ctx, options) == offsetof(sorvel_ctx, textsize) + 4);
  CHECK(sizeof(sorvel_ctx) == (p == 8 ? 200 : 188));
  CHECK(sizeof(((sorvel_ctx *)0)->stack) == 128);
  CHECK(offsetof(sorvel_token, type) == 0);
  CHECK(offsetof(sorvel_token, name) == p);
  CHECK(offsetof(sorvel_token, text) == 2 * p);
  CHECK(offsetof(sorvel_token, len) == 3 * p);
  CHECK(sizeof(sorvel_token) == 4 * p);

  CHECK(sorvel_init(&ctx, buf, sizeof buf, 0) == 0);
  CHECK(sorvel_begin(&ctx, doc, sizeof doc - 1) == 0);
  CHECK(sorvel_next(&ctx, &tok) == &tok && tok.type == SORVEL_START);
  sorvel_reset(&ctx);
  CHECK(sorvel_parse(&ctx, doc + 3, sizeof doc - 4, &tokens, count) == 0);
  CHECK(tokens == 2); /* the text "x&y" and the end of a */
  CHECK(ctx.state == 1 && ctx.depth == 0);
  return 0;
}

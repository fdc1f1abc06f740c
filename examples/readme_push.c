/* The README's push example: every token of a chunk through a callback. */
#include <sorvel.h>
#include <stdio.h>
#include <string.h>

static void on_token(void *user, int32_t type, const char *name,
                     const char *text, uint32_t len) {
  int *depth = user; /* the user pointer, passed on unchanged */
  if (type == SORVEL_START)
    printf("%*s<%s>\n", 2 * (*depth)++, "", name);
  else if (type == SORVEL_END)
    printf("%*s</%s>\n", 2 * --*depth, "", name);
  else
    printf("%*s%.*s\n", 2 * *depth, "", (int)len, text);
}

int main(void) {
  static const char doc[] = "<log><msg>disk &gt; 90%</msg><msg>ok</msg></log>";
  char text[32];
  sorvel_ctx ctx;
  int depth = 0;

  sorvel_init(&ctx, text, sizeof text, 0);
  /* 0: the chunk was read without error; otherwise the result counts the
   * bytes from the offending one to the end of the chunk. */
  uint32_t left =
      sorvel_parse(&ctx, doc, (uint32_t)strlen(doc), &depth, on_token);
  if (left != 0) {
    fprintf(stderr, "malformed at byte %u\n", (unsigned)(strlen(doc) - left));
    return 1;
  }
  return ctx.depth == 0 ? 0 : 1;
}

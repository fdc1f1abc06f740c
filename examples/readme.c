/* The README's example: a document fed in three chunks, split inside an
 * entity reference and inside an end tag. */
#include <sorvel.h>
#include <stdio.h>
#include <string.h>

int main(void) {
  static const char *chunks[] = {"<greeting>Hello, ", "w&amp;rld!</greet",
                                 "ing>"};
  char text[64];  /* the text buffer: at least 32 bytes */
  sorvel_ctx ctx; /* all parse state; needs no clean-up */
  sorvel_token tok;

  sorvel_init(&ctx, text, sizeof text, 0);
  for (int i = 0; i < 3; i++) {
    sorvel_begin(&ctx, chunks[i], (uint32_t)strlen(chunks[i]));
    while (sorvel_next(&ctx, &tok) != NULL) {
      if (tok.type == SORVEL_START)
        printf("start %s\n", tok.name);
      else if (tok.type == SORVEL_TEXT)
        printf("text  %s: %.*s\n", tok.name, (int)tok.len, tok.text);
      else
        printf("end   %s\n", tok.name);
    }
    if (ctx.state == 0) {
      fprintf(stderr, "malformed input\n");
      return 1;
    }
  }
  return ctx.depth == 0 ? 0 : 1; /* 0 open elements: the document is complete */
}

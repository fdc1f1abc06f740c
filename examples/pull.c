/* A minimal host: tokenizes a file in small chunks with the pull loop and
 * prints one token per line. */
#include <sorvel.h>

#include <stdio.h>

int main(int argc, char **argv) {
  char text[256]; /* the text buffer; full chunks are 254 bytes */
  char chunk[64]; /* input is read and fed 64 bytes at a time */
  sorvel_ctx ctx;
  sorvel_token tok;
  size_t n;
  FILE *f;

  if (argc != 2) {
    fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  f = fopen(argv[1], "rb");
  if (f == NULL) {
    perror(argv[1]);
    return 2;
  }
  sorvel_init(&ctx, text, sizeof text, 0);
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) {
    sorvel_begin(&ctx, chunk, (uint32_t)n);
    while (sorvel_next(&ctx, &tok) != NULL) {
      if (tok.type == SORVEL_START)
        printf("start %s\n", tok.name);
      else if (tok.type == SORVEL_END)
        printf("end %s\n", tok.name);
      else
        printf("text %s %u \"%s\"\n", tok.name, (unsigned)tok.len, tok.text);
    }
    if (ctx.state == 0) {
      fprintf(stderr, "%s: malformed at byte %ld\n", argv[1],
              ftell(f) - (long)ctx.inlen);
      fclose(f);
      return 1;
    }
  }
  fclose(f);
  if (ctx.depth != 0) {
    fprintf(stderr, "%s: %u element(s) not closed\n", argv[1],
            (unsigned)ctx.depth);
    return 1;
  }
  return 0;
}

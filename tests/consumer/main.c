/* A host program as a user of the installed library writes it: tokenizes a
 * small document in two chunks, pulled, and once more pushed. Built against
 * the install tree (CMake package or pkg-config) and as a subproject. */
#include <sorvel.h>

#include <stdio.h>
#include <string.h>

/* The package must tell a static build's users to define SORVEL_STATIC:
 * without it, a Windows host would import the functions from a DLL. */
#if defined(EXPECT_STATIC) && EXPECT_STATIC != defined(SORVEL_STATIC)
#error "SORVEL_STATIC does not match the kind of library installed"
#endif

static void append(char *out, size_t size, int32_t type, const char *name,
                   const char *text, uint32_t len) {
  size_t used = strlen(out);
  if (type == SORVEL_TEXT)
    snprintf(out + used, size - used, "text %s %.*s;", name, (int)len, text);
  else
    snprintf(out + used, size - used, "%s %s;",
             type == SORVEL_START ? "start" : "end", name);
}

static char pushed[256];

static void on_token(void *user, int32_t type, const char *name,
                     const char *text, uint32_t len) {
  (void)user;
  append(pushed, sizeof pushed, type, name, text, len);
}

int main(void) {
  static const char *chunks[] = {"<a>x&am", "p;y<b/></a>"};
  static const char expected[] = "start a;start b;end b;end a;";
  static const char expected_text[] = "start a;text a x&y;end a;";
  char text[32];
  char pulled[256] = "";
  sorvel_ctx ctx;
  sorvel_token tok;
  int i;

  if (sorvel_init(&ctx, text, sizeof text, 0) != 0)
    return 1;
  for (i = 0; i < 2; i++) {
    if (sorvel_begin(&ctx, chunks[i], (uint32_t)strlen(chunks[i])) != 0)
      return 1;
    while (sorvel_next(&ctx, &tok) != NULL)
      append(pulled, sizeof pulled, tok.type, tok.name, tok.text, tok.len);
  }
  sorvel_reset(&ctx);

  sorvel_init(&ctx, text, sizeof text, 0);
  if (sorvel_parse(&ctx, "<a>x&amp;y</a>", 14, NULL, on_token) != 0)
    return 1;

  printf("pulled: %s\npushed: %s\n", pulled, pushed);
  return strcmp(pulled, expected) == 0 && strcmp(pushed, expected_text) == 0 &&
                 ctx.state == 1 && ctx.depth == 0
             ? 0
             : 1;
}

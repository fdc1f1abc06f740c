#include "model.hpp"

#include <cstring>

namespace sorvel_model {

namespace {

enum {
  ERROR,
  INITIAL,
  IDLE,
  OPENBR,
  TAG,
  TAGWAIT,
  EMPTYTAG,
  ENDSLASH,
  ENDTAG,
  ENTREF,
  COMMENT2,
  COMMENT1,
  COMMENT,
  COMMENTE,
  COMMENTEE
};
enum { NONE, OPEN, CLOSE, POP, TEXT, NAME, ENTITY };

struct row {
  int state;
  int character;
  int any;
  int action;
  int next;
};

// Every entry of every list, in list order, as the grammar gives them.
const row rows[] = {
    {ERROR, 0, 1, NONE, ERROR},
    {INITIAL, '<', 0, NONE, OPENBR},
    {INITIAL, 0, 1, NONE, INITIAL},
    {INITIAL, 0, 1, NONE, ERROR},
    {IDLE, '&', 0, NONE, ENTREF},
    {IDLE, '<', 0, NONE, OPENBR},
    {IDLE, 0, 1, TEXT, IDLE},
    {IDLE, 0, 1, NONE, ERROR},
    {OPENBR, '/', 0, NONE, ENDSLASH},
    {OPENBR, ' ', 0, NONE, OPENBR},
    {OPENBR, '!', 0, NONE, COMMENT2},
    {OPENBR, 0, 1, NAME, TAG},
    {OPENBR, 0, 1, NONE, ERROR},
    {TAG, '/', 0, OPEN, EMPTYTAG},
    {TAG, ' ', 0, NONE, TAGWAIT},
    {TAG, '>', 0, OPEN, IDLE},
    {TAG, 0, 1, NAME, TAG},
    {TAG, 0, 1, NONE, ERROR},
    {TAGWAIT, '/', 0, OPEN, EMPTYTAG},
    {TAGWAIT, ' ', 0, NONE, TAGWAIT},
    {TAGWAIT, '>', 0, OPEN, IDLE},
    {TAGWAIT, 0, 1, NAME, TAG},
    {TAGWAIT, 0, 1, NONE, ERROR},
    {EMPTYTAG, ' ', 0, NONE, EMPTYTAG},
    {EMPTYTAG, '>', 0, POP, INITIAL},
    {EMPTYTAG, 0, 1, NONE, ERROR},
    {ENDSLASH, ' ', 0, NONE, ENDSLASH},
    {ENDSLASH, 0, 1, NAME, ENDTAG},
    {ENDSLASH, 0, 1, NONE, ERROR},
    {ENDTAG, '>', 0, CLOSE, INITIAL},
    {ENDTAG, 0, 1, NAME, ENDTAG},
    {ENDTAG, 0, 1, NONE, ERROR},
    {ENTREF, ';', 0, ENTITY, IDLE},
    {ENTREF, 0, 1, NAME, ENTREF},
    {ENTREF, 0, 1, NONE, ERROR},
    {COMMENT2, '-', 0, NONE, COMMENT1},
    {COMMENT2, 0, 1, NONE, ERROR},
    {COMMENT1, '-', 0, NONE, COMMENT},
    {COMMENT1, 0, 1, NONE, ERROR},
    {COMMENT, '-', 0, NONE, COMMENTE},
    {COMMENT, 0, 1, NONE, COMMENT},
    {COMMENT, 0, 1, NONE, ERROR},
    {COMMENTE, '-', 0, NONE, COMMENTEE},
    {COMMENTE, 0, 1, NONE, COMMENT},
    {COMMENTE, 0, 1, NONE, ERROR},
    {COMMENTEE, '>', 0, NONE, IDLE},
    {COMMENTEE, 0, 1, NONE, COMMENT},
    {COMMENTEE, 0, 1, NONE, ERROR},
};

const row &lookup(int state, int byte) {
  for (const row &r : rows)
    if (r.state == state && (r.any != 0 || r.character == byte))
      return r;
  return rows[0]; // unreachable: every list ends in an any-entry
}

const char *const entity_names[] = {"lt", "gt", "amp", "apos", "quot"};
const char entity_chars[] = {'<', '>', '&', '\'', '"'};

const char empty_name[] = "";

sorvel_token *put(sorvel_token *t, int32_t type, const char *name,
                  const char *text, uint32_t len) {
  t->type = type;
  t->name = name;
  t->text = text;
  t->len = len;
  return t;
}

sorvel_token *deliver_end(sorvel_ctx *c, sorvel_token *t) {
  c->textflags = c->textflags >> 1;
  return put(t, SORVEL_END, c->name, nullptr, 0);
}

// 1: a full chunk was filled into *t; 0: go on.
int add_text(sorvel_ctx *c, sorvel_token *t, unsigned char b) {
  c->text[c->textlen] = static_cast<char>(b);
  c->textlen = c->textlen + 1;
  if (c->textlen == c->textmax) {
    c->text[c->textlen] = 0;
    put(t, SORVEL_TEXT, c->depth == 0 ? empty_name : c->stack[c->depth - 1],
        c->text, c->textlen);
    c->textlen = 0;
    c->textflags = c->textflags | 1u;
    return 1;
  }
  return 0;
}

// 1: token, 0: go on, -1: failure.
int do_pop(sorvel_ctx *c, sorvel_token *t) {
  if (c->depth == 0)
    return -1;
  const uint32_t before = c->depth;
  c->depth = c->depth - 1;
  if (std::strcmp(c->name, c->stack[before - 1]) != 0)
    return -1;
  if (c->textlen != 0) {
    c->text[c->textlen] = 0;
    put(t, SORVEL_TEXT, c->name, c->text, c->textlen);
    c->textlen = 0;
    c->options = c->options | SORVEL_PENDING_END;
    return 1;
  }
  if ((c->options & SORVEL_EMPTYTEXT) != 0 && (c->textflags & 1u) == 0) {
    c->text[0] = 0;
    put(t, SORVEL_TEXT, c->name, c->text, 0);
    c->options = c->options | SORVEL_PENDING_END;
    return 1;
  }
  deliver_end(c, t);
  return 1;
}

int act(sorvel_ctx *c, sorvel_token *t, int action, unsigned char b) {
  switch (action) {
  case NONE:
    return 0;
  case OPEN:
    if (c->depth == 8)
      return -1;
    c->textflags = c->textflags << 1;
    c->name[c->namelen] = 0;
    c->depth = c->depth + 1;
    c->namelen = 0;
    c->textlen = 0;
    std::strcpy(c->stack[c->depth - 1], c->name);
    put(t, SORVEL_START, c->name, nullptr, 0);
    return 1;
  case CLOSE:
    c->name[c->namelen] = 0;
    c->namelen = 0;
    return do_pop(c, t);
  case POP:
    return do_pop(c, t);
  case TEXT:
    return add_text(c, t, b);
  case NAME:
    c->name[c->namelen] = static_cast<char>(b);
    c->namelen = c->namelen + 1;
    return c->namelen == 15 ? -1 : 0;
  case ENTITY:
    c->name[c->namelen] = 0;
    c->namelen = 0;
    for (int i = 0; i < 5; ++i)
      if (std::memcmp(c->name, entity_names[i],
                      std::strlen(entity_names[i]) + 1) == 0)
        return add_text(c, t, static_cast<unsigned char>(entity_chars[i]));
    return -1;
  }
  return -1;
}

} // namespace

int32_t init(sorvel_ctx *ctx, char *buf, uint32_t size, uint32_t options) {
  if (buf == nullptr || size < 32 || ctx == nullptr)
    return 1;
  ctx->state = INITIAL;
  ctx->depth = 0;
  ctx->namelen = 0;
  ctx->inlen = 0;
  ctx->textflags = 0;
  ctx->textlen = 0;
  std::memset(ctx->stack, 0, sizeof ctx->stack);
  std::memset(ctx->name, 0, sizeof ctx->name);
  ctx->in = nullptr;
  ctx->text = buf;
  ctx->textmax = (size - 1) & 0xFFFFFFFEu;
  ctx->textsize = size;
  ctx->options = options;
  return 0;
}

int32_t begin(sorvel_ctx *ctx, const char *chunk, uint32_t len) {
  if (ctx->inlen != 0 || chunk == nullptr)
    return -1;
  ctx->in = chunk;
  ctx->inlen = len;
  return 0;
}

void reset(sorvel_ctx *ctx) {
  ctx->in = nullptr;
  ctx->inlen = 0;
}

sorvel_token *next(sorvel_ctx *c, sorvel_token *t) {
  if ((c->options & SORVEL_PENDING_END) != 0) {
    c->options = c->options & ~SORVEL_PENDING_END;
    return deliver_end(c, t);
  }
  for (;;) {
    if (c->state == ERROR)
      return nullptr;
    if (c->inlen == 0)
      return nullptr;
    unsigned char b = static_cast<unsigned char>(*c->in);
    c->in = c->in + 1;
    c->inlen = c->inlen - 1;
    // Only idle keeps its blanks.
    if (c->state != IDLE && (b == 9 || b == 10 || b == 11 || b == 13))
      b = ' ';
    const row &e = lookup(static_cast<int>(c->state), b);
    c->state = static_cast<uint32_t>(e.next);
    int r;
    if (c->state == ENTREF && (c->options & SORVEL_NOENTITIES) != 0) {
      c->state = IDLE;
      r = add_text(c, t, b);
    } else {
      r = act(c, t, e.action, b);
    }
    if (r < 0) {
      c->state = ERROR;
      return nullptr;
    }
    if (r > 0)
      return t;
  }
}

uint32_t parse(sorvel_ctx *ctx, const char *chunk, uint32_t len, void *user,
               sorvel_callback cb) {
  if (cb == nullptr)
    return len;
  if (ctx->inlen != 0)
    return len;
  if (chunk == nullptr)
    return len;
  ctx->inlen = len;
  ctx->in = chunk;
  sorvel_token t;
  while (next(ctx, &t) != nullptr)
    cb(user, t.type, t.name, t.text, t.len);
  uint64_t result = ctx->inlen;
  if (ctx->state == ERROR)
    result = result + 1;
  if (result > 0xFFFFFFFFu)
    result = 0xFFFFFFFFu;
  ctx->in = nullptr;
  ctx->inlen = 0;
  return static_cast<uint32_t>(result);
}

} // namespace sorvel_model

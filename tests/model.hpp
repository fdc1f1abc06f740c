// A reference tokenizer: the transition lists scanned entry by entry, the
// actions carried out step by step, with no derived tables and no shortcuts.
// It works on a sorvel_ctx of its own so that every field can be compared
// with the library's after every call.
#pragma once

#include "sorvel.h"

namespace sorvel_model {

int32_t init(sorvel_ctx *ctx, char *buf, uint32_t size, uint32_t options);
int32_t begin(sorvel_ctx *ctx, const char *chunk, uint32_t len);
void reset(sorvel_ctx *ctx);
sorvel_token *next(sorvel_ctx *ctx, sorvel_token *tok);
uint32_t parse(sorvel_ctx *ctx, const char *chunk, uint32_t len, void *user,
               sorvel_callback cb);

} // namespace sorvel_model

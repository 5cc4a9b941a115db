// Services of the expression language that the file layer calls: record
// filters and callback filters of conditional indexes.
#pragma once

#include <cstdint>

extern "C" {
// Parses a filter expression: the parse tree, or null with the user error
// set; *kind receives 0 (expression), 1 or 5 (callback filter).
void *cndxparse(void *schema, void *names, const char *text, int32_t len, int *kind);
// Initialises callback filters (kind 0: nothing, 1: one filter, 2: every
// callback entry of a conditional-index table); 0 with the user error on
// failure.
int zvclbkinit(const char *name, void *object, int kind);
}

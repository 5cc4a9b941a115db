// Parser of condition texts (see parser.cpp).
#pragma once

#include <cstdint>

#include "engine/expr/ptree.h"

namespace zv {

// Highest tree the parser builds, in nodes from the root operator to the
// deepest leaf; and the deepest nesting of sub-expressions it follows.
constexpr int kMaxTreeHeight = 1024;
constexpr int kMaxNesting = 2 * kMaxTreeHeight + 2;

// Parses text[0..length) (length counts the terminating NUL) against a
// record schema map and field-name list (either may be null) into a tree
// bound by a PT_RECINFO root. 0 with *tree set; 1 for any syntax or
// semantic error or a failed allocation; 2 for a tree or nesting too deep
// and when the lexer state cannot be made. Nothing is left allocated on
// failure.
int zvcxparse(const unsigned char *schema, const void *names, const char *text, int32_t length,
              PTNODE **tree);

}  // namespace zv

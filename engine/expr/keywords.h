// Words of the expression language: the keyword table of names that the
// lexer looks up (functions, type names, AS and CAST) and the names of the
// built-in functions by number (see keywords.cpp).
#pragma once

#include <cstdint>

namespace zv {

// Token classes of keyword entries.
constexpr int32_t kClassAs = 268;
constexpr int32_t kClassCast = 269;
constexpr int32_t kClassFunction = 270;
constexpr int32_t kClassType = 271;

struct Keyword {
    const char *name;
    int32_t cls;        // kClass*
    int32_t minargs;    // functions: fewest arguments in a text
    int32_t maxargs;    // functions: most arguments
    int32_t result;     // value kind of the function's result, or that a type name stands for
    int32_t funcno;     // index into FunName; -1 for a user-defined function and non-functions
    void *udf;          // user-defined function: its descriptor
};

constexpr int kKeywords = 98;
// Sorted by name, compared with letters upper-cased.
extern const Keyword symtab[kKeywords];

// The entry whose name equals name[0..len) ignoring letter case, or null.
const Keyword *find_keyword(const char *name, int32_t len);

// Built-in function names by number, 0..94; entry 95 is "FN_LAST".
constexpr int kFunctions = 96;
extern const char *const FunName[kFunctions];

}  // namespace zv

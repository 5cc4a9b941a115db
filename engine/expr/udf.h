// User-defined functions of conditions (see udf.cpp): the descriptors
// registered per instance and the lookup of their names by the lexer.
#pragma once

#include <cstdint>

#include "engine/expr/keywords.h"
#include "zarvo/zvdbpt.h"

namespace zv {

// One registered function (all its parts are zvgetmem blocks).
struct UDFDESC {
    ZVUDFPROC callback;
    int32_t resultkind;   // value kind of the result (-1: a type without one)
    int32_t *argkinds;    // value kind of each argument buffer, buffer 0 first
    int32_t argcount;
    UDFDESC *next;
    Keyword *kw;          // the name's keyword entry (function number -1)
    void *result;         // result buffer
    void **args;          // argument buffers
};

// Value kind of a field type: 9, 10, 11, 12, 13, 14 or 15; -1 for a type
// that has none.
int convZVType(int type);
// The function registered under name (letter case not significant), or
// null.
UDFDESC *udfFind(const char *name);
// For the lexer: the keyword entry of the function named name[0..len)
// while the instance's switch for user-defined names is on; else null.
const Keyword *udf_keyword(const char *name, int32_t len);

}  // namespace zv

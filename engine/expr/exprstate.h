// Per-instance state of expression evaluation: the top of the evaluation
// stack (its 49152-byte area is INSTGV::evalwork), the nesting of the node
// being run, the registered user-defined functions with the switch that
// lets the lexer find their names, and the instance's record-filter
// callback.
//
// Invariants:
//  1. 0 <= top <= 1024, and top is 0 between evaluations.
//  2. udfnames is non-zero only while udfhead may hold functions.
#pragma once

#include <cstdint>

namespace zv {

struct UDFDESC;

// Record-filter callback of callback filters: called with the callback
// text (its leading "@" included), the record image, the record schema map
// and the fixed and total lengths; non-zero lets the record pass, a
// negative value is an error.
using FilterCallback = int (*)(const char *text, ...);

struct ExprState {
    int32_t top;              // entries in use on the evaluation stack
    int32_t depth;            // nodes being run, from the root down
    UDFDESC *udfhead;         // user-defined functions, the newest first
    intptr_t udfnames;        // the word after the head: non-zero while the
                              // lexer looks names up among those functions
    FilterCallback filtercb;  // null: the sample callback zvfiltercb
};

}  // namespace zv

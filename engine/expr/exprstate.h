// Per-instance state of expression evaluation (its room INSTGV::expr_ of
// the instance block, reached through expr_state): the registered
// user-defined functions with the switch that lets the lexer find their
// names, and the instance's record-filter callback. The evaluation stack
// is core's: INSTGV::evalwork with its top evaltop and the nesting of the
// node being run, evaldepth.
//
// Plain data only, so that the zeroed instance block holds it.
//
// Invariant: udfnames is non-zero only while udfhead may hold functions.
#pragma once

#include <cstdint>

#include "engine/core/instance.h"
#include "engine/expr/expr_services.h"

namespace zv {

struct UDFDESC;

struct ExprState {
    UDFDESC *udfhead;         // user-defined functions, the newest first
    intptr_t udfnames;        // the word after the head: non-zero while the
                              // lexer looks names up among those functions
    FilterCallback filtercb;  // null: the sample callback zvfiltercb
};

}  // namespace zv

static_assert(zv::fits_state_room<zv::ExprState>(zv::kExprStateBytes),
              "the expression state fits its room of the instance block");

// The expression state of an instance.
inline zv::ExprState &expr_state(INSTGV *g) { return zv::state_in<zv::ExprState>(g->expr_); }

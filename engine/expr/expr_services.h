// Services of the expression language that the file layer, key formation
// and the ISAM layer call: record filters and callback filters
// (callback.cpp). Parsing (cndxparse) and evaluation (cndxeval, clbkeval)
// are declared in the public zarvo/zvdbpt.h. The engine core calls one of
// them, at the stop of an instance (udf.cpp), so this header uses nothing
// above core.
#pragma once

#include <cstdint>

#include "zarvo/zvdbpt.h"

struct INSTGV;

extern "C" {
// cndxparse (zarvo/zvdbpt.h) gives for a text beginning with "@" the
// callback-filter block u32 use count 1, the text, a NUL.
// Initialises callback filters. mode 0: nothing, 1; mode 1: the callback
// block `object` (the callback's init routine), 1; mode 2: every callback
// entry of the conditional-index table `object`, from the last entry to
// the first: the number initialised, or 0 with user error 454 at an entry
// of the reserved kind 5. Any other mode 0. `name` names the owner.
int zvclbkinit(const char *name, void *object, int mode);
// Calls the sample record-filter callback zvfiltercb with a callback
// filter's text and the record: its result.
int clbkrun(void *filter, void *record, void *schema, int32_t fixlen, int32_t totlen);
}

namespace zv {

// Record-filter callback of callback filters: called with the callback
// text (its leading "@" included), the record image, the record schema map
// and the fixed and total lengths; non-zero lets the record pass, a
// negative value is an error.
using FilterCallback = int (*)(const char *text, ...);

// The stop of an instance: forgets its user-defined functions (their
// descriptors are pool blocks, which go with the pools) and turns off the
// lexer's look-up of their names. The filter callback stays.
void expr_instance_freed(INSTGV *g);

// Installs the instance's record-filter callback, which clbkeval calls
// (null: the sample callback zvfiltercb).
void set_filter_callback(FilterCallback fn);

}  // namespace zv

// Services of the expression language that the file layer calls: record
// filters and callback filters of conditional indexes.
#pragma once

#include <cstdint>

extern "C" {
// Parses a filter expression: the parse tree, or null with the user error
// set; *kind receives 0 (expression), 1 or 5 (callback filter).
void *cndxparse(void *schema, void *names, const char *text, int32_t len, int *kind);
// Initialises callback filters (kind 0: nothing, 1: one filter, 2: every
// callback entry of a conditional-index table). Kind 0 and 1 give 1; kind 2
// the number initialised; 0 with the user error on failure.
int zvclbkinit(const char *name, void *object, int kind);
// Evaluates a parsed expression over a record image: nonzero when it gives
// an integer above 0. An evaluation error is left in the instance's
// expression error word (INSTGV::exprerr).
int cndxeval(void *tree, void *image, void *schema, int32_t reclen, int32_t len);
// Runs the installed record-filter callback of a callback filter: nonzero
// when the record passes. A negative callback result is kept as the
// expression error and 0 is returned.
int clbkeval(void *filter, int kind, int datno, void *image, void *schema, int32_t fixlen,
             int32_t len);
}

namespace zv {

// ---- Test support (not exported) -----------------------------------------
// Until the expression language exists, cndxeval and clbkeval hand their
// work to this evaluator when one is set: it returns above 0 for a record
// that passes, 0 for one that does not, and a negative value for an
// evaluation error (kept, negated, as the expression error). Null: every
// record passes.
using TestEvaluator = int (*)(const void *tree, const void *image, int32_t len);
void set_test_evaluator(TestEvaluator fn);

}  // namespace zv

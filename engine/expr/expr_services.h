// Services of the expression language that the file layer calls: record
// filters and callback filters of conditional indexes. Parsing is built
// (parser.cpp); evaluation is a stand-in (expr_stub.cpp).
#pragma once

#include <cstdint>

extern "C" {
// Parses a condition text against a record schema map and field-name list
// (either may be null); len counts the terminating NUL. Returns the tree
// bound to the layout with *kind 0, or for a text beginning with "@" a
// callback-filter block (u32 use count 1, the text, a NUL) with *kind 1.
// Null on failure: 540 null text, 454 a text beginning with "#", 82 no
// memory for a callback block (user error); a text that does not parse
// sets no user error and leaves the parser's result (1, or 2 for a tree
// too deep) in INSTGV::exprerr.
void *cndxparse(void *schema, void *names, const char *text, int32_t len, int *kind);
// Parses text against the field names and schema map of an open file: 1
// with the tree in *tree (freed by kind when tree is null) and its kind in
// *kind; 0 with the user error set (597 when the text does not parse).
int testparse(int filno, const char *text, void **tree, int *kind);
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

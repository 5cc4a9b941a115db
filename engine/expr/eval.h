// Evaluation of parse trees (see eval.cpp): the value stack, node
// execution, the conversions of stack values (convert.cpp) and the
// functions (functions.cpp, udf.cpp).
//
// The stack is the instance's 49152-byte area INSTGV::evalwork: 1024
// PTVALUE entries, the top in INSTGV::evaltop. A TEXT entry that is not
// borrowed owns its bytes (a zvgetmem block) and frees them when dropped;
// every other entry owns nothing.
//
// Node execution keeps one rule: a node that runs without error leaves
// exactly one more entry on the stack than it found (an argument list one
// per argument); a node that fails returns its code and may leave the
// stack above its start in any state, which the caller drops.
#pragma once

#include <cstdint>

#include "engine/expr/parser.h"
#include "engine/expr/ptree.h"
#include "zarvo/zvdbpt.h"

namespace zv {

constexpr int32_t kStackEntries = 1024;
constexpr int32_t kEvalAreaSize = kStackEntries * int32_t(sizeof(PTVALUE));
static_assert(kEvalAreaSize == 49152, "the evaluation area is 49152 bytes");

// Expression error codes.
enum : int {
    kExprBadResult = 2,   // a user-defined function's result kind is not 9..15
    kExprKind = 4,        // a value kind an operation does not accept
    kExprMemory = 5,      // no memory
    kExprOverflow = 6,    // stack full, or a tree nested too deep
    kExprUnderflow = 7,   // too few values on the stack
    kExprNode = 8,        // node kind without an execution, missing child
    kExprDivide = 9,      // division or remainder by zero
    kExprField = 10,      // field not present, or of a type without a reading
    kExprRange = 12,      // bytes beyond the record image
    kExprFunction = 13,   // unknown function, or a name registered already
    kExprArgs = 14,       // wrong number of arguments
    kExprCompare = 15,    // comparison of an unsupported kind, no row id
    kExprNull = 16,       // null tree; a NULL value where a value is needed
};

// Deepest nesting of nodes the evaluator runs (the parser builds no
// higher tree; trees built through the parse-tree calls may be).
constexpr int32_t kMaxEvalDepth = kMaxTreeHeight + 2;

// Takes the instance's evaluation area when it has none: 0, or 435 (user
// error 435 set) when it cannot be allocated.
int take_eval_area();

// ---- The stack ---------------------------------------------------------------
// Entry i from the bottom (0 <= i < top).
PTVALUE *stack_at(int32_t i);
int32_t stack_top();
// Drops entries down to `base` entries, freeing owned texts.
void stack_cut(int32_t base);
// Pushes a copy of a value record; 6 when the stack is full. The text of
// a TEXT value is taken over as it is (owned or borrowed): a caller pushing
// an owned text gives up its bytes, also when the push fails.
int push_value(const PTVALUE &v);
// Pushes bytes as a TEXT that the stack owns (a zvgetmem block, or null
// for length 0); on a full stack the bytes are freed and 6 returned.
int push_owned_text(unsigned char *bytes, uint32_t length, int flag);

int runPushInteger(int64_t value);
int runPushDate(uint32_t date);
int runPushTime(uint32_t time);
int runPushTimeMsec(uint32_t time);
int runPushStamp(double stamp);
int runPushNumber(const tagZVNUMBER *number);
// borrowed 0: a copy of the bytes is pushed (none for null bytes or a
// length below 1); 5 when the copy cannot be made.
int runPushText(const unsigned char *bytes, int32_t length, int borrowed, int flag);
int runPushNULL();
// Pops of the kinds that the public header does not offer (see
// runPopInteger and its family in zarvo/zvdbpt.h).
int runPopTimeMsec(uint32_t *out);
int runPopFloat(double *out);
// Working kind of the top entry: 1 NULL, 14 for STAMP, NUMBER and TEXT,
// else 9; 7 for an empty stack.
int runPromote();
// The entry `depth` places below the top (0 the top) as text, without
// popping it: buffer of *len bytes in, text length out; 7 when the stack
// is not that deep.
int runGetText(int32_t depth, char *buffer, int32_t *len);

// ---- Running nodes -------------------------------------------------------------
// Runs one node: the node's code.
int runEXEC(PTNODE *node, PTRECINFO *ri);

// ---- Conversions of a value (convert.cpp) ------------------------------------
// Each gives 0, 16 for a NULL value (output zeroed), 4 for a kind without
// the conversion, or the conversion's own error.
int ExtractInteger(const PTVALUE &v, int64_t *out);
int ExtractFloat(const PTVALUE &v, double *out);
int ExtractDate(const PTVALUE &v, uint32_t *out);
int ExtractTime(const PTVALUE &v, uint32_t *out);
int ExtractTimeMsec(const PTVALUE &v, uint32_t *out);
int ExtractStamp(const PTVALUE &v, double *out);
int ExtractNumber(const PTVALUE &v, tagZVNUMBER *out);
// The value as text into buffer: *len is the buffer size on entry (at
// least 1) and the text length on return; the text is NUL-terminated.
int ExtractString(const PTVALUE &v, char *buffer, int32_t *len);
// The value converted to value kind `kind` (9..15; TEXT into buffer of
// *len bytes, the result borrowing it) as a value record.
int extract_as(int kind, const PTVALUE &v, PTVALUE *out, char *buffer, int32_t len);
// The text a number of bytes reads as an integer the way atoi does (blanks,
// a sign, digits): 0, or 4038 beyond the 32-bit range.
int text_to_int(const unsigned char *p, int64_t len, int64_t *out);
// A day number to a date-time at midnight, and back; a valid date or time
// value: true when it unpacks.
double date_to_stamp(uint32_t date);
bool date_valid(uint32_t date);
bool time_valid(uint32_t seconds);
bool timems_valid(uint32_t ms);

// The text of a value: its own bytes for a TEXT (not copied), else its
// text form (at most 255 bytes) in buf.
struct TextOf {
    const unsigned char *p = nullptr;
    int64_t len = 0;
    bool binary = false;  // a TEXT marked binary
    char buf[256];
    int take(const PTVALUE &v);
};

// ---- Functions (functions.cpp, udf.cpp) -----------------------------------
// Runs a PT_FUNCTION node.
int runFUNCTION(PTNODE *node, PTRECINFO *ri);
// Calls a user-defined function with `count` arguments (args[0] the
// first) into *result.
int udf_call(void *descriptor, const PTVALUE *args, int32_t count, PTVALUE *result);

}  // namespace zv

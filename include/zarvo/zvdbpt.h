/*
 * zvdbpt.h - parse trees of the expression language.
 *
 * A condition (record filter, conditional-index condition, partition rule)
 * is held as a tree of PTNODEs. The engine builds such trees from condition
 * texts; the calls below let a caller build the same trees directly, share
 * them with the engine (SETFLTRX) and free them.
 *
 * Ownership:
 *  - Every builder returns a new node with a use count of 1, or NULL when
 *    memory runs out, when its arguments are refused (below), or when no
 *    engine instance is current. A NULL result leaves every argument with
 *    its caller.
 *  - A node handed to a builder as a child (zvdbptPutNode,
 *    zvdbptAddToExprList, zvdbptPutRecinfo) belongs to the new node from then
 *    on: zvdbptDestroy of the root frees the whole tree. The same node may
 *    not be given twice.
 *  - Constant texts are copied: the caller keeps its own buffer.
 *
 * Node kinds and value kinds share one numbering: kinds 1 and 9..16 are
 * also the kinds of constant values (PTVALUE.kind).
 *
 * This header compiles as C11 and as C++.
 */
#ifndef ZARVO_ZVDBPT_H
#define ZARVO_ZVDBPT_H

#include <stddef.h>
#include <stdint.h>

#include "zvdb.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A node of a parse tree; opaque to callers. */
typedef struct PTNODE PTNODE;

/* Node kinds (and, for 1 and 9..16, value kinds). */
enum PTKIND {
    PT_NONE = 0,
    PT_NULL = 1,      /* value kind: NULL */
    PT_BOOL = 2,
    PT_UNSIGN = 3,
    PT_MONEY = 4,
    PT_BIGINT = 5,
    PT_CURRENCY = 6,
    PT_FLOAT = 7,
    PT_FIELD = 8,     /* field leaf: the field's position in the record schema */
    PT_INTEGER = 9,   /* value kind: 64-bit signed integer */
    PT_DATE = 10,     /* value kind: day number (ZVDATE) */
    PT_TIME = 11,     /* value kind: seconds since midnight */
    PT_TIMEMS = 12,   /* value kind: milliseconds since midnight */
    PT_STAMP = 13,    /* value kind: date-time (ZVDATETIME) */
    PT_NUMBER = 14,   /* value kind: 20-byte decimal number (tagZVNUMBER) */
    PT_TEXT = 15,     /* value kind: bytes and their length */
    PT_VSET = 16,     /* value kind: a set of values (IN lists) */
    PT_INFO = 17,     /* record layout of a bound tree */
    PT_RECINFO = 18,  /* root of a bound tree: left the layout, right the condition */
    PT_CONSTANT = 19, /* constant leaf holding a PTVALUE */
    PT_LOGOR = 20,
    PT_LOGAND = 21,
    PT_BINOR = 22,
    PT_BINXOR = 23,
    PT_BINAND = 24,
    PT_EQ = 25,
    PT_NE = 26,
    PT_LT = 27,
    PT_LE = 28,
    PT_GT = 29,
    PT_GE = 30,
    PT_ADD = 31,
    PT_SUB = 32,
    PT_MUL = 33,
    PT_DIV = 34,
    PT_MOD = 35,
    PT_MINUS = 36,    /* unary operators: the operand is the left child */
    PT_PLUS = 37,
    PT_BINNOT = 38,
    PT_LOGNOT = 39,
    PT_CAST = 40,     /* left: INTEGER constant of the target kind; right: the operand */
    PT_FUNCTION = 41, /* left: argument list or NULL; right: INTEGER constant, the function number */
    PT_ARGUMENT = 42, /* left: the earlier arguments or NULL; right: this argument */
    PT_ISNULL = 43,   /* field leaves testing the field's null flag */
    PT_NOTNULL = 44
};

/* A constant value: the value of a constant node, an entry of a value set
 * and an entry of the evaluation stack.
 *
 *   OFFSET SIZE FIELD
 *        0    4 kind: value kind (1, 9..16)
 *        4    4 count: SET, number of members stored
 *        8    4 length: TEXT, bytes; SET, capacity
 *       12    1 borrowed: TEXT, the bytes belong to someone else
 *       13    1 textflag: second text flag, passed along with the text
 *       16   32 v: INTEGER as int64_t, DATE/TIME/TIMEMS as uint32_t,
 *               STAMP as double, TEXT as the byte pointer, SET as the
 *               member array, NUMBER as the 20-byte number */
typedef struct PTVALUE {
    uint32_t kind;
    uint32_t count;
    uint32_t length;
    uint8_t borrowed;
    uint8_t textflag;
    uint8_t spare[2];
    union {
        int64_t integer;
        uint32_t u32;
        double stamp;
        unsigned char *text;
        struct PTVALUE *set;
        tagZVNUMBER number;
        uint8_t bytes[32];
    } v;
} PTVALUE;

#ifdef __cplusplus
static_assert(sizeof(PTVALUE) == 48, "PTVALUE is 48 bytes");
static_assert(offsetof(PTVALUE, kind) == 0 && offsetof(PTVALUE, count) == 4 &&
                  offsetof(PTVALUE, length) == 8 && offsetof(PTVALUE, borrowed) == 12 &&
                  offsetof(PTVALUE, textflag) == 13 && offsetof(PTVALUE, v) == 16,
              "PTVALUE field offsets");
#else
_Static_assert(sizeof(PTVALUE) == 48, "PTVALUE is 48 bytes");
_Static_assert(offsetof(PTVALUE, kind) == 0 && offsetof(PTVALUE, count) == 4 &&
                   offsetof(PTVALUE, length) == 8 && offsetof(PTVALUE, borrowed) == 12 &&
                   offsetof(PTVALUE, textflag) == 13 && offsetof(PTVALUE, v) == 16,
               "PTVALUE field offsets");
#endif

/* Operator node of kind 20..42 over two children (either may be NULL; a
 * unary operator takes its operand as left child). NULL for another kind,
 * or when left and right are the same node. */
ZV_API PTNODE *zvdbptPutNode(int kind, int exprtype, PTNODE *left, PTNODE *right);
/* Field leaf of kind PT_FIELD, PT_ISNULL or PT_NOTNULL (NULL for another
 * kind) naming the field at position fieldno of the record schema;
 * exprtype is the value kind it yields. */
ZV_API PTNODE *zvdbptPutField(int kind, int exprtype, uint32_t fieldno);
/* Constant leaves. */
ZV_API PTNODE *zvdbptPutNULL(void);
ZV_API PTNODE *zvdbptPutInteger(int64_t value);
ZV_API PTNODE *zvdbptPutDate(ZVDATE date);
ZV_API PTNODE *zvdbptPutTime(ZVTIME seconds);
ZV_API PTNODE *zvdbptPutTimeMsec(ZVTIME milliseconds);
ZV_API PTNODE *zvdbptPutStamp(ZVDATETIME stamp);
/* NULL for a NULL number. */
ZV_API PTNODE *zvdbptPutNumber(const tagZVNUMBER *number);
/* A TEXT constant holding a copy of length bytes (at least one byte is
 * allocated). NULL bytes or a negative length give a TEXT of length 0. The
 * text is copied whatever adopt says: the caller keeps and frees bytes. */
ZV_API PTNODE *zvdbptPutText(const char *bytes, int32_t length, int adopt);
/* An empty value set with room for capacity members; NULL for a negative
 * capacity or one too large to allocate. */
ZV_API PTNODE *zvdbptPutSet(int32_t capacity);
/* Copies *value into the next free member of a value set (a TEXT member's
 * bytes are copied into the set). Returns the set, or NULL when it is full,
 * when set is not a value set, or when the value kind is not 1 or 9..15. */
ZV_API PTNODE *zvdbptCopyIntoSet(PTNODE *set, const PTVALUE *value);
/* Adds expr to an argument list (NULL starts one): the new PT_ARGUMENT node
 * heads the list. NULL when expr is NULL or list is not an argument list. */
ZV_API PTNODE *zvdbptAddToExprList(PTNODE *list, PTNODE *expr);
/* The INTEGER value of a constant node; 0 for NULL or another node. */
ZV_API int64_t zvdbptGetInteger(const PTNODE *node);
/* The value kind that a node yields; 0 for NULL. */
ZV_API int zvdbptGetExprType(const PTNODE *node);
/* The node's kind; 0 for NULL. */
ZV_API int zvdbptGetNodeType(const PTNODE *node);
/* The right child of a node of kind 16..18 or 20..44 (of a PT_RECINFO root:
 * the condition); NULL for every other node. */
ZV_API PTNODE *zvdbptGetRight(const PTNODE *node);
/* Releases one use of a tree; the last use frees every node of it. NULL,
 * or no current instance, does nothing. */
ZV_API void zvdbptDestroy(PTNODE *node);
/* Frees a block that an engine call handed out for the caller to free. */
ZV_API void zvdbptFreeMem(void *block);
/* Binds tree to the record layout of a record-level table: the new
 * PT_RECINFO root. names is the table's field-name list (per field a byte
 * holding the record length, then the NUL-terminated name; the single byte 1
 * for a field without a name) or NULL. NULL when the handle does not lead
 * to a table, when the table has no record schema, or when the schema or
 * the names are malformed. */
ZV_API PTNODE *zvdbptPutRecinfo(ZVHANDLE table, const void *names, PTNODE *tree);

/* Parses a condition text against a record schema map and its field-name
 * list (as GETDODA forms 1 and 2 give them; either may be NULL); len counts
 * the terminating NUL. Returns the tree bound to the layout (a PT_RECINFO
 * root) with *kind 0, or for a text beginning with "@" a callback-filter
 * block from the engine pool (released with zvputmem) with *kind 1. NULL
 * on failure: user error 540 for a NULL text, 454 for a text beginning
 * with "#", 82 no memory for a callback block; a text that does not parse
 * sets no user error and leaves the parser's result (1, or 2 for a tree
 * too deep) as the instance's last expression error. */
ZV_API void *cndxparse(void *schema, void *names, const char *text, int32_t len, int *kind);
/* The current instance's last expression error (the parser's or the
 * evaluator's code); 0 when no instance is current. */
ZV_API int zvGetExprErrorCode(void);

/* ------------------------------------------------------------------------ */
/* Evaluation of a condition against a record image.                         */
/*                                                                          */
/* A tree is evaluated on the current instance's value stack (1024 values). */
/* record is the record image, schema the record schema map of its file,    */
/* fixlen the length of the fixed part and totlen the bytes of the image.   */
/* A tree bound by a PT_RECINFO root reads its fields through its own       */
/* layout; any other tree is read with a layout made from schema.           */
/*                                                                          */
/* Expression error codes (kept as the instance's last expression error):   */
/*  2 a user-defined function's result type is not usable, 4 a value kind   */
/*  an operation does not accept, 5 no memory, 6 stack full or a tree       */
/*  nested too deep, 7 too few values, 8 a node that cannot be run or a     */
/*  missing child, 9 division by zero, 10 a field not in the record, 12     */
/*  bytes beyond the record, 13 unknown function, 14 wrong argument count,  */
/*  15 comparison of an unsupported kind, 16 null tree or NULL value;       */
/*  4038 a text holding an integer beyond 32 bits or a number out of range. */
/* ------------------------------------------------------------------------ */

/* Evaluates tree: 1 when its value is a non-zero integer, 0 when it is 0,
 * NULL or the evaluation failed (the error is the instance's last
 * expression error), -435 (user error 435, expression error 5) when the
 * value stack cannot be allocated. */
ZV_API int cndxeval(void *tree, void *record, void *schema, int32_t fixlen, int32_t totlen);
/* Evaluates tree and leaves its value on the stack for the pops below: 0,
 * or the expression error. */
ZV_API int cndxrun(void *tree, void *record, void *schema, int32_t fixlen, int32_t totlen);
/* Releases a tree (zvdbptDestroy); NULL is ignored. */
ZV_API void cndxfree(void *tree);
/* Marks a bound tree as the condition of an index: 0, or 16 for NULL. */
ZV_API int cndxSetCondIdxFlag(void *tree);
/* Pops the top value converted to the kind asked: 0, 7 when the stack is
 * empty (the output zeroed), 16 for a NULL value, 4 for a kind without
 * the conversion, or the conversion's error. runPopString copies the text
 * into buffer: *len is the buffer size on entry (at least 1) and the text
 * length on return; the text is NUL-terminated and cut to fit. */
ZV_API int runPopInteger(int64_t *out);
ZV_API int runPopDate(ZVDATE *out);
ZV_API int runPopTime(ZVTIME *out);
ZV_API int runPopStamp(ZVDATETIME *out);
ZV_API int runPopNumber(tagZVNUMBER *out);
ZV_API int runPopString(char *buffer, int32_t *len);

/* A callback filter (a condition text beginning with "@") on a record:
 * the record-filter callback's result, non-zero when the record passes; a
 * negative callback result r becomes the last expression error -r and 0
 * is returned. kind is the filter's kind (1), datno its data file. */
ZV_API int clbkeval(void *filter, int kind, int datno, void *record, void *schema, int32_t fixlen,
                    int32_t totlen);

/* User-defined functions of conditions. The routine gets the array of
 * argument buffers and the result buffer: an INTEGER is an int32_t, a
 * DATE, TIME or TIMEMS a uint32_t, a STAMP a double, a NUMBER a
 * tagZVNUMBER, a TEXT 256 bytes (an argument at most 255 bytes and a NUL;
 * a result up to its NUL, or all 256 bytes). Buffer 0 holds the last
 * argument, buffer 1 the one before it, and so on. */
typedef void (*ZVUDFPROC)(void **args, void *result);
/* Registers a function of the current instance under name (letter case is
 * not significant; texts parsed from then on may call it), with the field
 * type (ZV_ code) of its result and of each of argcount arguments, in
 * argument order. 0; 13 when the name is registered already or is not a
 * name; 14 for a negative argument count, or argument types missing; 5
 * when memory runs out (nothing is kept); 47 without an instance. */
ZV_API int udfAdd(const char *name, ZVUDFPROC routine, int resulttype, const int *argtypes, int argcount);
/* Forgets every function of the current instance (their memory goes when
 * the instance stops). */
ZV_API void udfInit(void);
/* Frees every function of the current instance. */
ZV_API void udfTerm(void);

/* Custom text tokenizers: a shared library that splits texts into words
 * exports these four functions under the names "Tokenizer_init",
 * "Tokenizer_reset", "Tokenizer_next" and "Tokenizer_end".
 * init: a tokenizer over text[0..length), words cut to maxtoken bytes, with
 *   the nopt option texts of the caller (their meaning is the library's):
 *   its handle, or NULL with a non-zero code in *error.
 * reset: starts over on a new text: 0, or a non-zero code.
 * next: the next word (NUL-terminated, valid until the next call) with its
 *   length in *length; NULL with *length 0 at the end.
 * end: frees the handle. */
typedef void *(*ZVTOKINIT)(int nopt, const char *const *opt, const char *text, int length, int maxtoken,
                           int *error);
typedef int (*ZVTOKRESET)(void *h, const char *text, int length);
typedef const char *(*ZVTOKNEXT)(void *h, int *length);
typedef void (*ZVTOKEND)(void *h);

#ifdef __cplusplus
}
#endif

#endif /* ZARVO_ZVDBPT_H */

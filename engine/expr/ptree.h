// Parse trees of the expression language: the node, the record layout a
// bound tree carries, the builders, the readers, shared release and the
// debug dump (see ptree.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "zarvo/zvdbpt.h"

// One field of a bound record layout (filled per record by the evaluator).
struct PTFIELDMAP {
    const char *name;      // into the layout's copy of the field names; null: none
    unsigned char *addr;   // the field in the current record image; null: absent
    uint16_t type;         // field type (ZV_ code)
    uint16_t len;          // field length from the record schema
};

// The record layout of a bound tree, owned by its PT_INFO node.
struct PTRECINFO {
    PTFIELDMAP *fields;            // field count + 1 entries, then the name copy
    const unsigned char *schema;   // copy of the record schema map it was built from,
                                   // kept in the field-map block (never the file's own)
    PTFIELDMAP *nullfld;           // entry of "$NULFLD$"; null when absent
    const unsigned char *record;   // record image being evaluated
    int32_t *visible;              // per field: visible-field number, -1 hidden
    unsigned char *rowid;          // "$ROWID$" in the current image; null when absent
    int32_t fixlen;                // fixed-part length of the image
    int32_t totlen;                // total length of the image
    uint32_t present;              // fields present in the current image
    uint32_t flags;                // bit 0: a conditional-index condition
};
static_assert(sizeof(PTRECINFO) == 64, "the record layout is one 64-byte block");

// A node. Operator nodes use `op`; constant nodes (and nodes of a value
// kind) hold their value in the same 48 bytes.
struct PTNODE {
    struct Links {
        PTNODE *left;
        PTNODE *right;
        union {
            uint32_t field;    // PT_FIELD, PT_ISNULL, PT_NOTNULL: schema position
            PTRECINFO *info;   // PT_INFO: the record layout
            PTNODE *next;      // while a tree is released: the next node to visit
        } pay;
    };
    union {
        Links op;
        PTVALUE value;
    } u;
    void *udf;           // user-defined function descriptor of a function-number constant
    int16_t kind;        // PTKIND
    int16_t exprtype;    // value kind yielded; PT_ARGUMENT: arguments so far
    uint32_t uses;       // use count, 1 at creation
};
static_assert(sizeof(PTNODE) == 64, "a node is one 64-byte block");
static_assert(offsetof(PTNODE, udf) == sizeof(PTVALUE), "a constant's value fills the first 48 bytes");

namespace zv {

// Number of node kinds and their names ("PT_NONE" .. "PT_NOTNULL").
constexpr int kNodeKinds = 45;
extern const char *const CmdName[kNodeKinds];

// ---- Builders: the new node, or null when memory runs out ------------------
PTNODE *ptCreate(int kind, int exprtype);
PTNODE *ptPutNode(int kind, int exprtype, PTNODE *left, PTNODE *right);
PTNODE *ptPutField(int kind, int exprtype, uint32_t fieldno);
PTNODE *ptPutNULL();
PTNODE *ptPutInteger(int64_t value);
PTNODE *ptPutDate(uint32_t date);
PTNODE *ptPutTime(uint32_t time);
PTNODE *ptPutTimeMsec(uint32_t time);
PTNODE *ptPutStamp(double stamp);
PTNODE *ptPutNumber(const tagZVNUMBER *number);
// adopt non-zero: the node takes over `bytes`, a zvgetmem block, as its
// own. adopt 0: the node holds a copy (at least one byte allocated). Null
// bytes or a negative length store length 0 and no copy.
PTNODE *ptPutText(const char *bytes, int32_t length, int adopt);
PTNODE *ptPutSet(int32_t capacity);
PTNODE *ptCopyIntoSet(PTNODE *set, const PTVALUE *value);
// A list holds at most 32767 arguments (null beyond).
PTNODE *ptAddToExprList(PTNODE *list, PTNODE *expr);
// Root binding tree to the record layout of a schema map and field-name
// list (either may be null); null when memory runs out or the schema or
// names are malformed. tree stays with the caller on failure. The root
// keeps copies of the schema map and the names: the caller's may be freed
// (a file's schema replaced) while the tree lives.
PTNODE *ptPutRecinfo(const unsigned char *schema, const void *names, PTNODE *tree);
// One more use of the same node (null stays null).
PTNODE *ptCopy(PTNODE *node);

// ---- Readers: 0 (or null) for a null node ----------------------------------
int ptGetNodeType(const PTNODE *node);
int ptGetExprType(const PTNODE *node);
// Children of kinds 16..18 and 20..44; null for every other kind.
PTNODE *ptGetLeft(const PTNODE *node);
PTNODE *ptGetRight(const PTNODE *node);
int ptArgCount(const PTNODE *node);
uint32_t ptGetField(const PTNODE *node);
int64_t ptGetInteger(const PTNODE *node);
unsigned char *ptGetText(const PTNODE *node);
int32_t ptGetLength(const PTNODE *node);
uint32_t ptGetDate(const PTNODE *node);
uint32_t ptGetTime(const PTNODE *node);
double ptGetStamp(const PTNODE *node);
tagZVNUMBER *ptGetNumber(PTNODE *node);
// The constant's value record, or null when the node holds none.
const PTVALUE *ptGetValue(const PTNODE *node);
void *ptGetUDFNode(const PTNODE *node);
void ptSetUDFNode(PTNODE *node, void *descriptor);
// 14 when either operand yields STAMP, NUMBER or TEXT, else 9.
int ptDuplexNumeric(const PTNODE *a, const PTNODE *b);
// Bytes of a value of this kind in a user-defined function's buffers:
// 4, 4, 4, 4, 8, 20, 256 for kinds 9..15, -1 for any other.
int ptGetDataSize(int kind);

// ---- Release -----------------------------------------------------------------
// Releases one use; at the last use frees the node and what it owns,
// children included, without recursion. Null is ignored.
void ptDestroy(PTNODE *node);
void ptFreeMem(void *block);

// Writes the tree to "ptree.txt" in the working directory: in order, the
// depth as indentation. 0, or -1 when the file cannot be written (also when
// the name holds a symbolic link or anything but a regular file, which is
// left as it is).
int ptPrint(const PTNODE *tree);

}  // namespace zv

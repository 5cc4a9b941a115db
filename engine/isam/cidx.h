// Conditional indexes: the per-file table of compiled conditions, sharing
// and releasing filters and tables, and the evaluation of a condition for
// a record (cidx.cpp); the lookup of a file's conditions is still a least
// form (isam_files_stub.cpp): no file carries conditions of its own yet.
#pragma once

#include <cstdint>

namespace zv {

// One condition of a data file's table: the resource entry (relative index
// number, the space its text takes with the NUL, its kind: 0 expression,
// 1 callback filter, 5 reserved) and what was made of the text.
struct CIDXENTRY {
    int16_t relno;
    int16_t len;
    int32_t kind;
    void *expr;     // parse tree (kind 0) or callback block (kind 1)
};
static_assert(sizeof(CIDXENTRY) == 16, "a table entry is 16 bytes");

// The conditional-index table of an open data file (released as kind 2).
struct CIDXTABLE {
    uint32_t counts;        // count A in the high half, count B in the low half
    CIDXENTRY **entries;    // A + B entry pointers; null when A is 0
    CIDXENTRY **bentries;   // the B entries' part of that array
    uint32_t count_a() const { return counts >> 16; }
    uint32_t count_b() const { return counts & 0xFFFF; }
};

// Shares a filter: kind 0 adds a use to a parse tree, 1 (callback filter)
// and 5 add one to the use count in the block's first word. Returns the
// filter; null for a null filter or another kind.
void *zvcpydatflt(void *filter, int kind);

// Whether index relidx of a data file has a condition: 16 (expression),
// 32 (callback) or 0. Least form: 0.
int zvchkcidx(int datno, int relidx);
// Evaluates the condition of relative index condno of a data file's table
// on a record: 1 the record belongs in the index, 0 it does not; -598
// (user error 598) for a null table or record, no entry for condno, or an
// evaluation error (the expression error stays in INSTGV::exprerr); -435
// when the evaluation area cannot be allocated. condno -105: `table` is
// itself one compiled expression.
int zvevalcidx(void *table, int datno, int condno, const void *record, const unsigned char *schema,
               int32_t fixlen, int32_t reclen);

}  // namespace zv

// The table of compiled conditions of a data file's conditional indexes:
// built and kept by the ISAM layer (cidx.cpp), walked by the callback-filter
// initialisation here and evaluated for each record by key formation.
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

}  // namespace zv

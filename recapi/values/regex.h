// Regular-expression matcher: context and compiled program layout.
//
// All state lives in the caller's context, so several patterns can be in use
// at once. A pattern compiles into one block: the head below, then the code
// (the magic byte, then nodes). A node is an opcode byte, a two-byte offset to
// the next node (high byte first; 0 for none; counted backwards for
// OP_LOOP_BACK) and, for OP_LITERAL, OP_IN_SET and OP_NOT_IN_SET, a
// NUL-terminated operand string.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zarvo/zvdb.h"

namespace zv {

constexpr int kRegGroups = 10;
constexpr unsigned char kRegMagic = 0x9C;
constexpr long kRegMaxCode = 32766;

enum RegOp : unsigned char {
    OP_END = 0,
    OP_TEXT_START = 1,
    OP_TEXT_END = 2,
    OP_ANY = 3,
    OP_IN_SET = 4,
    OP_NOT_IN_SET = 5,
    OP_BRANCH = 6,
    OP_LOOP_BACK = 7,
    OP_LITERAL = 8,
    OP_EMPTY = 9,
    OP_STAR = 10,
    OP_PLUS = 11,
    OP_WORD_START = 12,
    OP_WORD_END = 13,
    OP_OPEN = 20,   // + group number 1..9
    OP_CLOSE = 30,  // + group number 1..9
};

struct RegProgram {
    const char *startp[kRegGroups];  // group starts of the last match
    const char *endp[kRegGroups];    // group ends of the last match
    char start;                      // character every match begins with, 0 none
    bool anchored;                   // matches only at the start of the text
    const char *must;                // literal every match contains, or null
    size_t mustlen;
    unsigned char code[1];           // magic byte, then the nodes
};

}  // namespace zv

struct zvdb_regexp {
    zv::RegProgram *program;
    char *text[zv::kRegGroups];  // owned copies of the groups of the last match
    int error;
    // Compile state.
    const char *parse;
    int npar;
    unsigned char *emit;
    unsigned char dummy;
    long size;
    // Match state.
    const char *bol;
    const char *input;
    const char **startp;
    const char **endp;
    int depth;
};

// Length of group n of the last match: 0 when unset or n outside 0..9.
int _reglen(const zvdb_regexp *context, int n);
// Copies group n into buffer: 1 bad argument, 17 unset, 18 does not fit.
int _regcopy(const zvdb_regexp *context, int n, char *buffer, int size);

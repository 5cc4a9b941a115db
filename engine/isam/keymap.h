// The ISAM key map: what the ISAM layer knows of each index and data file,
// as key formation, header modes and file lists read it.
//
// The map has one entry per file number of the instance. An index's entry
// names its data file, its condition and its segment list; a data file's
// entry lists its indexes. Until the ISAM layer builds the map from stored
// file definitions, the map is made on demand by the index engine's segment
// calls (zvlfsegput, zvlfsegget), so indexes can be defined without it.
//
// Invariants:
//  1. A new entry has no data file (-1), no segments (segment 0 ends the
//     list) and an empty index list (every slot -1).
//  2. A segment list holds at most 16 entries; an entry whose offset is
//     0xFFFF ends it. A list of 16 entries has no end mark.
//  3. Entries keep their addresses until the map is freed or grown.
#pragma once

#include <cstdint>

namespace zv {

constexpr int kMapSegs = 16;       // segment entries per index
constexpr int kMapIndexes = 64;    // index numbers per data file
constexpr uint16_t kSegEnd = 0xFFFF;
constexpr int16_t kIdxListEnd = -1;    // 0xFFFF: ends a data file's index list
constexpr int16_t kIdxListEmpty = -66; // a slot to skip

// One key segment: six 16-bit words.
struct ISAMSEG {
    uint16_t soffset;   // record offset, field number, or variable-field number
    uint16_t slength;   // segment length in bytes
    uint16_t segmode;   // SEGMODE
    uint16_t spare;     // not read by key formation
    int32_t binding;    // extended definition: -1 not bound, -2 none, else a position
};
static_assert(sizeof(ISAMSEG) == 12, "a segment entry is six 16-bit words");

// Condition flags of an index entry.
constexpr uint16_t kKeyCondExpr = 0x10;     // conditional expression
constexpr uint16_t kKeyCondCallback = 0x20; // condition evaluated by a callback
constexpr uint16_t kKeyNullMask = 0x0F;     // low four bits 1: null keys suppressed

struct ISAMKEY {
    int16_t datno;          // data file of the index; negative: none
    int16_t cidxno;         // conditional-index number
    uint16_t flags;         // kKeyCond*, null-key suppression
    uint8_t empchar;        // empty character of null keys
    char *names[3];         // names returned by iGETNAM modes 3, 1 and 2
    int16_t values[3];      // GETFIL modes 4, 18 and 7
    ISAMSEG seg[kMapSegs];
    int16_t idxlist[kMapIndexes];  // data file: its index numbers
};

// The key map entry of a file number, or null when the map has none.
ISAMKEY *isam_key(int keyno);
// The same, making the map (or growing it to the file table) when needed:
// null when the number lies outside the file table or memory runs out.
ISAMKEY *isam_key_make(int keyno);
// Number of entries of the map (0 when there is none).
int32_t isam_key_count();
// Frees the map of the current instance.
void isam_keymap_free();

// ---- Conditions of indexes (stand-in of the ISAM evaluator) --------------
// Evaluates an index condition on a record: 1 the record belongs in the
// index, 0 it does not, negative on error (598 bad arguments).
int zvevalcidx(void *handle, int datno, int condno, const void *record, const unsigned char *schema,
               int32_t fixlen, int32_t reclen);

// ---- Test support (not exported) -----------------------------------------
// Until the expression language evaluates conditions, zvevalcidx hands its
// work to this predicate when one is set (same result convention); null:
// every record belongs.
using TestCondition = int (*)(int datno, int condno, const void *record, int32_t reclen);
void set_test_condition(TestCondition fn);

}  // namespace zv

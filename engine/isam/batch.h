// Batches (batch.cpp, batch_select.cpp): the pieces the request handling
// and the selections share.
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/core/instance.h"
#include "engine/isam/isamstate.h"

struct FCB;

namespace zv {

// One collected entry (an element of free list 12): a record position, or
// with key content a copy of the key followed by the position (high, low).
struct BatEntry {
    BatEntry *next;
    union {
        struct {
            uint32_t hi, lo;
        } pos;
        unsigned char *key;
    } u;
};
static_assert(sizeof(BatEntry) <= 16, "a batch entry fits an element of free list 12");

// A numbered batch: its parked image.
struct BatSlot {
    BatSlot *next;
    BATSTATE image;
    int16_t number;
};

// Mode word groups.
constexpr uint32_t kBatOp = 0x7;
constexpr uint32_t kBatContent = 0x2000E8;
constexpr uint32_t kBatSelection = 0x74700;
constexpr uint32_t kBatSelGroup = 0x70700;   // at most one of these
constexpr uint32_t kBatPosOnly = 0x08, kBatRecords = 0x20, kBatKeysA = 0x40, kBatKeysB = 0x80;
constexpr uint32_t kBatDirect = 0x200000;
constexpr uint32_t kBatSelPrefix = 0x100, kBatSelPosList = 0x200, kBatSelKeyList = 0x400;
constexpr uint32_t kBatSelUnsupported = 0x4000, kBatSelPhysical = 0x10000, kBatSelRange = 0x20000;
constexpr uint32_t kBatSelPrefixDesc = 0x40000;
constexpr uint32_t kBatLock = 0x2000, kBatKeepLocks = 0x8000, kBatPhysKeep = 0x80000;
constexpr uint32_t kBatSkipFiltered = 0x10;
constexpr uint32_t kBatKeyForm = 0x800000, kBatAutoFree = 0x1000000, kBatExtended = 0x2000000;
constexpr uint32_t kBatKeyGiven = 0x4000000, kBatKeepSerial = 0x8000000, kBatNeeded = 0x10000000;
constexpr uint32_t kBatRangeOnly = 0x20000000;
// The system code left when a batch ended by itself.
constexpr uint16_t kSysBatchEnded = uint16_t(-844);

// 4-byte words of the request block, in the host's order.
inline uint32_t req_u32(const unsigned char *req, int off) {
    uint32_t v;
    memcpy(&v, req + off, 4);
    return v;
}
inline void put_req_u32(unsigned char *req, int off, uint32_t v) { memcpy(req + off, &v, 4); }
inline uint16_t req_u16(const unsigned char *req, int off) {
    uint16_t v;
    memcpy(&v, req + off, 2);
    return v;
}
inline const void *req_ptr(const unsigned char *req, int off) {
    const void *p;
    memcpy(&p, req + off, sizeof p);
    return p;
}

// Where the counts go in the request of a batch.
inline int total_at(const BATSTATE &b) { return b.extended ? 8 : 0; }
inline int locked_at(const BATSTATE &b) { return b.extended ? 12 : 4; }
inline int returned_at(const BATSTATE &b) { return b.extended ? 16 : 8; }
constexpr int kNeededAt = 4;

inline bool key_content(uint32_t content) { return (content & (kBatKeysA | kBatKeysB)) != 0; }

// The position of an entry.
void entry_position(const BATSTATE &b, const BatEntry *e, uint32_t *hi, uint32_t *lo);

// The first fill of a new batch: collects the entries of its selection
// (keeping them in the batch), locks them when asked and, with a buffer,
// fills the first part. 0 or the ISAM error.
int frsbat(BATSTATE &b);
// Copies the next entries into the buffer of the batch: 0, 429, or the
// error of a record read. The counts go to the request.
int fill_part(BATSTATE &b);
// Stores the counts of the batch in its request, with this part's count.
void put_counts(BATSTATE &b, uint32_t part);
// Ends a batch: its entries, key copies, buffers, locks, filter and range
// go; the state is cleared. With `signal` the system code -844 is left.
void ifrebat(BATSTATE &b, bool signal);

}  // namespace zv

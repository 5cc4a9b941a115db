// ISAM contexts (see context.cpp): saved copies of a data file's current
// ISAM position under a number, so that one caller keeps several
// independent positions in one open file and switches between them.
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

struct FCB;

// One per-index block of a context, followed directly by the saved key
// image (keylen bytes); blocks lie one after another behind the context's
// fixed part, each ctx_block_size(keylen) bytes long.
struct CTXBLOCK {
    void *rng;        // private copy of the index's range block (first i32 its size), or null
    int16_t ixno;     // index file number
    int16_t keylen;   // key length of the index when saved
    uint8_t keystate; // low byte of the index's current key state
};

// A context: one allocation holding this fixed part and its blocks.
struct ISAMCTX {
    ISAMCTX *next;        // next context of the same bucket
    CTXBLOCK *first;      // first block, or null when the context holds none
    void *fltr;           // shared copy of the data file's record filter, or null
    int32_t fltrkind;     // its kind (as FCB::fltrkind)
    int32_t member[2];    // current partition member: raw number and companion word
    int32_t partno[2];    // partition number and companion word
    uint32_t posl, posh;  // current ISAM record position
    int16_t id;           // context id
    int16_t datno;        // data file number
    int16_t nblocks;      // per-index blocks
    int16_t allidx;       // 1: covers every index of the data file
    int16_t flags;        // kCtx* below
    uint8_t statelen;     // bytes of state used (at most 8)
    unsigned char state[8];  // the data file's current-record state bytes
    int32_t size;         // bytes of the whole allocation
};

namespace zv {

// ISAMCTX::flags: the saved ISAM-mode bit of the data file, and a context
// on one index (its ISAM-mode bit is never saved or restored).
constexpr int16_t kCtxKeysInvalid = 0x1;
constexpr int16_t kCtxOneIndex = 0x2;

// Bytes of a block for a key of keylen bytes, and the key image in it.
inline int32_t ctx_block_size(int32_t keylen) {
    return (int32_t(sizeof(CTXBLOCK)) + keylen + 15) & ~15;
}
inline unsigned char *ctx_block_key(CTXBLOCK *b) { return reinterpret_cast<unsigned char *>(b + 1); }
inline CTXBLOCK *ctx_next_block(CTXBLOCK *b) {
    return reinterpret_cast<CTXBLOCK *>(reinterpret_cast<unsigned char *>(b) + ctx_block_size(b->keylen));
}

// Closes every context of data file datno when mode is 1; any other mode
// does nothing. 0.
int zvclrcon(int datno, int mode);
// Fills one block from index keyno's current state; with `range` the
// index's range block is copied too (the block's copy reused when large
// enough). The address of the next block, or null with the ISAM error set.
CTXBLOCK *lodconbuf(CTXBLOCK *block, int keyno, int range);
// Saves the data file's current ISAM state into ctx: 0 or the error.
int savicon(ISAMCTX *ctx);
// After indexes described by ifil (data file dfilno, dnumidx indexes from
// file number tfilno on) were added to an open data file: every all-index
// context of it gains a block for each. 0, 83 no memory, or the error of
// an index that is not open.
int addconbuf(FCB *datfcb, const IFIL *ifil);
// After indexes first .. first + count - 1 were dropped from data file
// datno: their blocks leave every context of it. 0 or 83.
int dltconbuf(FCB *datfcb, int datno, int first, int count);
// Closes every context and frees the table (the ISAM tables are freed).
void free_context_table();
// The context with this id, or null.
ISAMCTX *find_context(int16_t id);

}  // namespace zv

// The ISAM layer's part of the instance block (its room INSTGV::isam_,
// reached through isam_state): the reserved file numbers, ISAM records,
// partitions, contexts and batches. (The key map that the ISAM layer fills
// is the index engine's state, engine/index/idxstate.h.)
//
// Plain data only, so that the zeroed instance block holds it.
#pragma once

#include <cstdint>

#include "engine/core/instance.h"
#include "engine/core/nodebuf.h"

struct ISAMCTX;
struct FCB;

namespace zv {

struct BatEntry;
struct BatSlot;

// The current batch (batch.cpp): the state of one set-oriented request,
// saved and restored as one image when numbered batches are switched.
// Plain data; all zero is "no batch".
struct BATSTATE {
    BatEntry *head;             // collected entries, in selection order
    BatEntry *tail;
    BatEntry *cursor;           // next entry to return (null: all returned)
    unsigned char *req;         // the caller's request block (BATREQ)
    unsigned char *buf;         // the caller's buffer of the last part
    unsigned char *wcur;        // write cursor in it
    int32_t bufsize;
    int32_t op;                 // 0 none; the operation of the first fill
    uint32_t selected;          // entries selected (lowered by entries dropped)
    uint32_t returned;          // entries returned so far
    uint32_t remaining;         // entries not returned yet
    uint32_t locked;            // entries locked
    int32_t filno;              // file of the request (data file or index)
    int32_t datno;              // its data file
    uint32_t mode;              // the mode word of the first fill
    uint32_t content;           // mode & 0x2000E8
    uint32_t selection;         // mode & 0x74700
    uint32_t lockflag;          // mode & 0x2000
    uint8_t skipflt;            // mode bit 0x10
    uint8_t extended;           // the request is the extended form
    uint8_t ownfilter;          // the batch installed the data file's filter
    uint8_t ownrange;           // the batch installed the index's range
    uint8_t wide;               // entries hold 8-byte positions
    uint8_t keyed;              // entries hold key copies
    int32_t keylen;             // key length of the index (0: a data file)
    unsigned char *recbuf;      // record buffer of variable-length reads
    int32_t recbuflen;
    unsigned char *target;      // saved target (key prefix), or null
};

// Room of one key in the ISAM layer's buffers (keys of at most 1024 bytes
// with an 8-byte position suffix, and spare): a key buffer's room.
constexpr int kIsamKeyRoom = kKeyRoom;

// Marks of a key search of a partitioned host's index: it runs across the
// members; it continues from the host's search raw number.
constexpr uint32_t kPartAcross = 0x1, kPartContinue = 0x2;

struct IsamState {
    int32_t resv[3];           // the reserved internal file numbers n, n + 1, n + 2
    uint32_t active;           // 1 from ISAM start-up until the tables are freed

    // ISAM records (isam_read.cpp): the keyed read's copy of its target, a
    // key work area, and index + 1 of the key that a read of the fixed part
    // left to the whole record. (The find-value buffer that every key
    // search of a read fills is the found-key buffer of key navigation.)
    unsigned char target[kIsamKeyRoom];
    unsigned char keywork[kIsamKeyRoom];
    int32_t varidx;

    // Partitioned files (partread.cpp): marks of a key search that runs
    // across the members of a host (kPartAcross, kPartContinue).
    uint32_t partmarks;
    // The estimates across members (partcount.cpp): sample size S and
    // percentage P, 3 and 0 after start-up; S below 0 with P = 0 visits
    // every member. No call sets them.
    int32_t partsample;
    int32_t partpercent;
    // Member index searches made by key searches across members (counted
    // for the tests of their cost).
    uint64_t partsteps;
    // The partition rebuild (partrebuild.cpp): the host being rebuilt, and
    // the raw number and stamp of the member whose set is rebuilt now.
    FCB *rblhost;
    int32_t rblraw, rblstamp;

    // ISAM contexts (context.cpp): the table of chains, its bucket count
    // (fixed when the table is made) and the last context id assigned.
    ISAMCTX **ctxtab;
    int32_t ctxbuckets;
    int16_t lastctx;

    // Batches (batch.cpp): the current batch, the slot table of numbered
    // batches with its bucket count, and the slot of the current batch.
    BATSTATE bat;
    BatSlot **battab;
    int32_t batbuckets;
    BatSlot *batcur;
};

}  // namespace zv

static_assert(zv::fits_state_room<zv::IsamState>(zv::kIsamStateBytes),
              "the ISAM state fits its room of the instance block");

// The ISAM layer's state of an instance.
inline zv::IsamState &isam_state(INSTGV *g) { return zv::state_in<zv::IsamState>(g->isam_); }

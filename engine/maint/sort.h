// The external merge sort of the maintenance utilities (see sort.cpp), and
// the coder of its entries for an index rebuild.
#pragma once

#include <cstdint>

#include "engine/index/node.h"

struct FCB;

namespace zv {

// Most runs and buffers of one sort; the longest directory prefix of its
// work files (241 + a 12-character name + NUL fill the 255-byte path).
constexpr int kSortMaxRuns = 500;
constexpr int kSortPrefixMax = 241;
constexpr int kSortOutBuf = 65536;

// The control block of one sort (one zeroed block from the pools, plus its
// separately allocated buffers).
struct SORTHANDLE {
    uint32_t segallow;                   // automatic segments each work file may have
    uint64_t outpos;                     // write position in the work file being written
    uint64_t base;                       // first record offset of every work file
    uint64_t runpos[kSortMaxRuns];       // read position in each run
    uint64_t runlen[kSortMaxRuns];       // bytes written to each run (read no further)
    uint64_t srcsize;                    // physical size of the data file being keyed
    unsigned char **ptrs;                // N entry pointers
    uint64_t ptrbytes;                   // bytes of the pointer block
    int32_t ptrsmapped;                  // the pointer block is mapped (free_work_block)
    unsigned char *outbuf;               // kSortOutBuf staging bytes for work-file writes
    unsigned char *bufs[kSortMaxRuns];   // the B entry buffers
    int32_t bufmapped[kSortMaxRuns];     // entry buffer k is mapped (free_work_block)
    unsigned char *curbuf;               // the buffer being filled
    unsigned char *runcur[kSortMaxRuns]; // merge: next entry of each run; null exhausted
    uint32_t nextret;                    // all in memory: next pointer to return
    uint32_t lastrun;                    // the run that supplied the entry returned last
    uint64_t held;                       // entries in memory
    uint64_t fill;                       // bytes used in the current buffer
    uint64_t nextbuf;                    // next buffer to start filling
    uint64_t lastbuf;                    // B - 1
    uint64_t bufsize;                    // bytes of each entry buffer
    uint32_t mergestart;                 // F: the lowest run of the next merge is F - 1
    uint32_t merges;                     // intermediate merges made
    uint64_t runheld[kSortMaxRuns];      // bytes of a run now in its buffer
    uint64_t capacity;                   // N: most entries in memory at once
    uint32_t nbufs;                      // B: entry buffers, also the merge fan-in
    uint64_t outfill;                    // bytes staged in outbuf
    uint64_t outsize;                    // kSortOutBuf
    uint16_t entrylen;                   // L
    uint16_t status;                     // sort status; 0 when well
    uint16_t nruns;                      // R: run files that exist
    int16_t outfil;                      // file number of the work file being written; -1 none
    int16_t encfil;                      // encrypted file whose cipher the work files take; -1 none
    int16_t runfil[kSortMaxRuns];        // file number of each open run; -1 closed
    char name[13];                       // "sw" + six hex digits + "." + three-digit run
    char path[256];                      // prefix + name
    uint8_t eor[kSortMaxRuns];           // the last piece of a run is in its buffer
    uint8_t own[kSortMaxRuns];           // run file k was created by this handle and exists
    uint8_t ownx;                        // the merge output file was created and exists
    uint8_t flushed, allmem, intermediate, merging, done, initialised, retrieving;
    uint64_t estimate;                   // expected number of entries
    uint32_t clock;                      // clock value the base name was drawn from
    char prefix[kSortPrefixMax + 1];      // directory prefix of the work files
};

// Starts a sort of entries of entrylen bytes with bufcount buffers (0:
// 500; 1 and 2 are taken as 3) for the records of the open data file
// datafcb (null: no estimate of their number). The work files of an
// encrypted data file are encrypted under its cipher (each with a key of
// its own): no entry of it reaches the disk in clear. The handle, or null with
// the user error set: 482 no memory, 497 the sort-directory prefix is
// longer than 241 characters, otherwise the status + 370.
SORTHANDLE *zvsinit(uint16_t entrylen, int bufcount, FCB *datafcb, int unused);
// Copies one entry in: 0, or the status (user error status + 370).
int zvsadd(SORTHANDLE *h, const void *entry);
// The next entry in ascending order into out: 0; 1 when there are no more
// (the handle is released then and every work file is gone); otherwise the
// status with the handle left for zvsabort.
int zvsval(SORTHANDLE *h, void *out);
// Gives a sort up at any point: deletes the work files this handle created,
// releases everything and returns the status (101 when a work file could
// not be deleted). The operating-system error code is kept.
int zvsabort(SORTHANDLE *h);
// Releases the control block alone; returns its status.
int zvsfree(SORTHANDLE *h);

// Base name of the work files from a clock value: "sw" and the low 24 bits
// as six upper-case hexadecimal digits, least significant first.
void sort_base_name(uint32_t clock, char out[9]);

// ---- Sort entries of an index rebuild ----------------------------------------
// An entry is the key followed by the record position, most significant
// byte first (high word first with 8-byte positions), so that equal keys
// come back in ascending position; the free-space index of a
// variable-length file sorts its keys alone.
inline int32_t sort_entry_length(int32_t keylen, bool wide, bool keyonly) {
    return keylen + (keyonly ? 0 : (wide ? 8 : 4));
}
inline void sort_entry_pack(unsigned char *entry, const unsigned char *key, int32_t keylen, bool wide, uint32_t hi,
                            uint32_t lo) {
    for (int32_t i = 0; i < keylen; i++) entry[i] = key[i];
    if (wide) {
        stbe32(entry + keylen, hi);
        stbe32(entry + keylen + 4, lo);
    } else {
        stbe32(entry + keylen, lo);
    }
}
inline void sort_entry_position(const unsigned char *entry, int32_t keylen, bool wide, uint32_t *hi, uint32_t *lo) {
    if (wide) {
        *hi = ldbe32(entry + keylen);
        *lo = ldbe32(entry + keylen + 4);
    } else {
        *hi = 0;
        *lo = ldbe32(entry + keylen);
    }
}

}  // namespace zv

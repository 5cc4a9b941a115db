// Fixed-length record space: positions, the delete stack, the active count,
// serial numbers, record reads and writes, and the record filter applied by
// every record read (see fixrec.cpp and filter.cpp).
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

struct FCB;

extern "C" {
// Frees the record at (high word from zvGETHGH, lo); `count` says whether
// the active count falls with it (RETREC), which also arms the double-free
// check. 0 or the error code, also in uerr_cod.
int iretrec(int filno, uint32_t lo, int count);
// Writes `len` bytes of `buf` at position (hi, lo) + `offset` of the block,
// after marking the file changed. A conversion map turns the image into
// stored layout for the write and back afterwards. 0 or the error code.
int iWRTREC(int filno, uint32_t hi, uint32_t lo, uint32_t len, uint32_t offset, void *buf, FCB *fcb);
// 0 when (hi, lo) designates a record of the file, else 29, 30 or 767
// (also in uerr_cod).
int tstrec81(FCB *fcb, uint32_t hi, uint32_t lo);
// Serial number and active count of a data file. mode 0: no serial (0 is
// returned); 1: the next serial; 2: the current serial without advancing
// (a standard header advances in both). `delta` is added to the active count
// of a fixed-length file. *err receives 0 or 1002 (identity overflow). The
// serial's high word goes to *serh when it is given.
uint32_t zvdhupd81(uint32_t *serh, int32_t delta, int mode, int *err, FCB *fcb);
// Offset of the first record: the smallest multiple of the record length
// not below the header size (128, 256 or 512).
uint32_t begbytfix(const FCB *fcb);
// Lock-table hash of two words, in [0, lock-hash table size); 0 for a table
// of size 0.
int32_t zvuhash(uint32_t a, uint32_t b);
}

namespace zv {

// Operation-mode word (INSTGV::opsmode, set by SETOPS) bit: SERIALNUM
// hands out the next serial number instead of reading the current one.
constexpr uint32_t kOpsSerialAlloc = 0x80000;
// Instance option (INSTGV::fileopt[0]) bits read by the record space.
constexpr uint32_t kOpt1AnyRecordOffset = 0x01000000; // positions need not be record multiples
// Operation word (INSTGV::opword) bits: a record add or update in progress
// (0x01, 0x02) under the record-image check (0x08).
constexpr uint32_t kOpAdd = 0x01, kOpUpdate = 0x02, kOpImageCheck = 0x08;
// flmode2 bit: freed records are marked but not stacked.
constexpr uint32_t kFlmode2NoStack = 0x10000000;

// Applies the record filter of the block to a record image just read, of
// len bytes (the fixed part is the file's record length): 0 passes, 739
// rejected, 598 evaluation error (also in uerr_cod).
int apply_record_filter(FCB *fcb, int filno, void *image, int32_t len);
// True when REDREC hands f's records over exactly as their slots hold them:
// a plain fixed-length data file on disk, no partition host or member, no
// conversion map in use, no record filter, no lock mode that a read
// changes. read_slots may then stand for REDREC.
bool slots_read_as_stored(const FCB *fcb);
// Reads up to n consecutive record slots from pos of such a file into buf
// in one direct transfer, with the bytes of any changed cached page; *got
// receives the number of whole slots delivered, which is less than n where
// the file ends before them (the last byte used can lie past the bytes
// written: an area reserved at the end, such as a grown resource, is
// written only as far as its contents). 0 (also for such a short read),
// or 29, 30, 767 (as tstrec81: the last slot too must lie within the last
// byte used), 33 (n of 0 or too many bytes) or the read's error.
int read_slots(FCB *fcb, uint64_t pos, void *buf, uint32_t n, uint32_t *got);
// Frees the record filter of a block (close, replacement).
void free_record_filter(FCB *fcb);
// Parses a filter text (not empty) for data file datno (block f): the tree
// or callback filter and its kind, ready for apply_record_filter's
// evaluation and released with zvfreecidx. 0, or 454 a kind this build
// does not have, 82 no evaluation area, 596 the schema's names cannot be
// read, 597 the text cannot be parsed, or the callback's refusal.
int parse_record_filter(int datno, FCB *f, const char *text, void **tree, int *kind);

}  // namespace zv

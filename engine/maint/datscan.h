// Data-file scan and header repair (see datscan.cpp), and the pieces the
// superfile rebuild shares with it: the raw open of a file without the
// checks of a normal open, the temporary index of the resources found, and
// the search for a plausible area header after an unreadable stretch.
#pragma once

#include <cstdint>

#include "engine/files/varrec.h"
#include "zarvo/zarvo.h"

struct FCB;

namespace zv {

// Scan options (RBLDATX's options word).
constexpr int kScanDumpTail = 1;  // dump and blank a partial record or resource at the end
constexpr int kScanRepair = 2;    // unreadable stretches of a variable-length file become free space

// A temporary index of the scan: keys of keylen bytes, unique, positions
// of 64 bits when wide. It lives on a number outside a running set
// rebuild's run and is deleted by drop() (also by the destructor), which
// answers the close's error (a failing disk shows there too).
struct TempIndex {
    int filno = -1;
    char name[256] = {};
    ~TempIndex() { drop(); }
    // 0, or 485 when it cannot be made.
    int make(int32_t keylen, bool wide);
    int drop();
    // Position stored under key, 0 when none (uerr_cod 0), or 0 with an error.
    uint64_t find(const unsigned char *key);
    int put(const unsigned char *key, uint64_t pos);
    int del(const unsigned char *key, uint64_t pos);
    // First and next key in key order into key: its position, 0 at the end.
    uint64_t first(unsigned char *key);
    uint64_t next(unsigned char *key);
};

// Opens an existing file raw on the free number filno: the descriptor, the
// header read as it is (no check of the update flag, the counters or the
// resources), the block marked open. 0, or 603 / 46 (no block / number in
// use), 12 (cannot be opened), or the header read's error; the block is
// free again on failure.
int rbl_raw_open(int filno, const char *name, uint16_t mode);
// Closes a file opened raw. With `keepmark` the update flag 0xFF stays on
// disk (the file still needs a repair). 0, or the first error of the
// mark's write and the close.
int rbl_raw_close(int filno, bool keepmark);

// The scan of RBLDATX on an open block: rebuilds the record space, the
// free space and the resource ring; olddar holds the header's counts of
// data-access resources before the scan; *tail gets the tail state. 0 or an
// error.
int scndat(FCB *fcb, int filno, int options, const uint8_t olddar[8], int32_t *tail);
// Whether a plausible area header stands at pos of a variable-length file
// whose areas end at `end` (1 yes, 0 no, 2 undecided at depth > 0).
int zvscnmrk81(FCB *fcb, uint64_t pos, uint64_t end, int depth);
// Moves the next identity value of the file past the value that the record
// at pos holds (image of reclen bytes; read from the file when null). 0,
// or 199 no record schema to locate the field, or a read error.
int rblIDfield(FCB *fcb, uint64_t pos, const unsigned char *rec, int32_t reclen);

// Whether every byte of [from, to) of the file is 0xFF (growth fill): 1
// yes, 0 no, or minus a read error.
int rbl_all_fill(FCB *fcb, uint64_t from, uint64_t to);
// Real size of an open file, or UINT64_MAX when it cannot be had.
uint64_t rbl_file_size(FCB *fcb);

}  // namespace zv

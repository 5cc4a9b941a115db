// The ISAM layer's part of the instance block (see isammap.cpp).
//
// The index map itself hangs from INSTGV::isamtab (INSTGV::isamtabn
// entries, one per file number); the three further arrays of the key map
// hang from here and have the same number of entries.
#pragma once

#include <cstdint>

namespace zv {

struct ISAMSEG;

// Room of one key in the ISAM layer's buffers (keys of at most 1024 bytes
// with an 8-byte position suffix, and spare).
constexpr int kIsamKeyRoom = 1040;

struct IsamState {
    uint16_t (*deflist)[64];   // defined index list of each data file
    uint16_t (*actlist)[64];   // active index list (-66: defined, not open here)
    ISAMSEG (*seglist)[16];    // segment list of each index
    int32_t resv[3];           // the reserved internal file numbers n, n + 1, n + 2
    uint32_t active;           // 1 from ISAM start-up until the tables are freed

    // ISAM records (isam_read.cpp): the keyed read's copy of its target, a
    // key work area, and index + 1 of the key that a read of the fixed part
    // left to the whole record. (The find-value buffer that every key
    // search of a read fills is the found-key buffer of key navigation.)
    unsigned char target[kIsamKeyRoom];
    unsigned char keywork[kIsamKeyRoom];
    int32_t varidx;
};

}  // namespace zv

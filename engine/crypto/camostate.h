// The encryption subsystem's part of the instance block (INSTGV::camo):
// the cipher that the following creates of data and index files take, and
// the instance's marks of the page-size check and of a key-change replay.
//
// Plain data only, so that the instance block can embed it. The pending
// key buffer is owned (platform memory, wiped before it is freed); it is
// present exactly when pendkeylen is above 0.
#pragma once

#include <cstdint>

namespace zv {

struct CamoState {
    unsigned char *pendkey;  // pending key buffer (filled with a fresh random key per create)
    int32_t pendkeylen;      // its length; 0: nothing pending
    int32_t pendclass;       // pending cipher class (0: none)
    uint8_t pagebad;         // the page size cannot carry whole cipher units
    uint8_t replaying;       // a key-change log is being replayed: opens skip encryption
};

// What setencatr saves and rstencatr puts back.
struct CamoSave {
    unsigned char *key;
    int32_t keylen;
    int32_t cls;
};

}  // namespace zv

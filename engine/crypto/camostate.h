// The encryption subsystem's part of the instance block (its room
// INSTGV::camo_, reached through camo_state):
// the cipher that the following creates of data and index files take, and
// the instance's marks of the page-size check and of a key-change replay.
//
// Plain data only, so that the zeroed instance block holds it. The pending
// key buffer is owned (platform memory, wiped before it is freed); it is
// present exactly when pendkeylen is above 0.
#pragma once

#include <cstdint>

#include "engine/core/instance.h"

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

static_assert(zv::fits_state_room<zv::CamoState>(zv::kCamoStateBytes),
              "the encryption state fits its room of the instance block");

// The encryption state of an instance.
inline zv::CamoState &camo_state(INSTGV *g) { return zv::state_in<zv::CamoState>(g->camo_); }

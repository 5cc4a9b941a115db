// ISAM-context slots of a table: one engine context per record handle.
//
// The array is made with the table (32 free slots, no context opened) and
// freed with it. Switching, adding, attaching and releasing slots come with
// table open and the record handles.
#pragma once

#include <cstdint>

#include "recapi/base/handles.h"

struct ZVDBICONSLOT {
    int32_t context;  // engine context number; -1: none opened
    int32_t users;    // record handles holding the slot
};

struct ZVDBICON {
    ZVDBICONSLOT *slots;
    int32_t capacity;  // 32 at allocation, grows by 32
    int32_t used;      // slots handed out since the last reset
    int32_t current;   // slot made current last
};

// Slots added at allocation and by each growth.
constexpr int32_t kZvdbIconStep = 32;

extern "C" {

// Gives the table its slot array (32 slots, context -1, no users): 0, 4013,
// 4001. A table that has one keeps it.
ZVDBRET _zvdbIconAlloc(ZVHANDLE table);
// Frees the array (closing every context the slots hold): 0, 4013.
ZVDBRET _zvdbIconFree(ZVHANDLE table);

}  // extern "C"

// ISAM-context slots of a table: one engine context per record handle.
//
// The array is made with the table (32 free slots, no context opened) and
// freed with it. A record handle takes a slot at its first switch, a
// duplicated record shares its source's, and both give it back at reset or
// free. Until table open and its contexts land, the slot routines below are
// least stand-ins (table_standin.cpp): they hand out, share and give back
// slots but open no engine context (every slot keeps context -1, so every
// record works in the instance's default context).
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
// Makes slot *slot current; a slot below 0 first takes a free slot (one
// user) and returns it through the pointer. 0, 4007, 4012 no array, 4013,
// 4050 a slot beyond the array, 4025 no free slot.
ZVDBRET _zvdbIconSwitch(ZVHANDLE table, int32_t *slot);
// One more user of a slot (a duplicated record): 0, 4012, 4013, 4050.
ZVDBRET _zvdbIconAttach(ZVHANDLE table, int32_t slot);
// One user less; the last one closes the slot's context. 0, 4012, 4013,
// 4050, the engine's code.
ZVDBRET _zvdbIconRelease(ZVHANDLE table, int32_t slot);

}  // extern "C"

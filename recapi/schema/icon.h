// ISAM-context slots of a table: one engine context per record handle.
//
// The array is made with the table (32 free slots, no context opened) and
// freed with it. A record handle takes a slot at its first switch, a
// duplicated record shares its source's, and both give it back at reset or
// free. A slot is free (no users), held without a context (-1: after a
// reset, its holder opens a new one at its next switch) or held with an
// open context of the table's data file.
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
    int32_t current;   // slot made current last; -1 none (after a reset)
};

// Slots added at allocation and by each growth.
constexpr int32_t kZvdbIconStep = 32;

extern "C" {

// Gives the table its slot array (32 slots, context -1, no users): 0, 4013,
// 4001. A table that has one keeps it.
ZVDBRET _zvdbIconAlloc(ZVHANDLE table);
// Closes the contexts (as _zvdbIconReset) and frees the array: 0 or the
// last close code, 4013.
ZVDBRET _zvdbIconFree(ZVHANDLE table);
// Makes slot *slot current, opening its context (with no record filter)
// when it has none; a slot below 0 first takes a slot (_zvdbIconAdd) and
// returns it through the pointer. 0, 4007, 4012 no array, 4013, 4050 a
// slot beyond the array, the engine's code (the slot then keeps no
// context).
ZVDBRET _zvdbIconSwitch(ZVHANDLE table, int32_t *slot);
// Takes the first slot without users (the array grows by 32 when every
// slot is held), opens its context and makes it current: the slot into
// *slot. A failed open takes no slot and leaves no context. 0, 4007, 4012,
// 4013, 4001, the engine's code.
ZVDBRET _zvdbIconAdd(ZVHANDLE table, int32_t *slot);
// One more user of a slot (a duplicated record): 0, 4012, 4013, 4050.
ZVDBRET _zvdbIconAttach(ZVHANDLE table, int32_t slot);
// One user less; the last one closes the slot's context (a failed close
// leaves the slot as it was). 0, 4012, 4013, 4050, the engine's code.
ZVDBRET _zvdbIconRelease(ZVHANDLE table, int32_t slot);
// Closes every open context; the slots keep their users, no slot is
// current and none counts as handed out. 0 or the last close code, 4013.
ZVDBRET _zvdbIconReset(ZVHANDLE table);

}  // extern "C"

namespace zv {

// Engine context calls made by the slot routines since the process started
// (test support).
struct IconCounts {
    uint64_t opened;
    uint64_t closed;
    uint64_t switched;
};
const IconCounts &icon_counts();

}  // namespace zv

// One entry of an instance's lock lists.
//
// The instance keeps 16 lock lists (lockhead/locktail), each a singly linked
// chain of entries taken from free list 13 (24-byte elements). The stop road
// gives every entry back to that list (zvfilok).
#pragma once

#include <cstdint>

struct LOCKENT {
    LOCKENT *next;       // next entry of the same list; null ends it
    uint8_t flags;       // 4: released by a partial release; 8: kept by one
    uint8_t spare[15];   // the rest of the element, for the lock's owner
};
static_assert(sizeof(LOCKENT) <= 24, "a lock entry fits an element of free list 13");

// The key-prefix record set the dictionary walks "DICTLINK" with, before
// the record-set module exists.
//
// Stand-in until it lands (linkset_standin.cpp): the set cannot be turned
// on (4054), so every linked walk of the dictionary takes its other road,
// a walk over the entries of the type comparing LINK.
#pragma once

#include <cstdint>

#include "zarvo/zvdb.h"

extern "C" {

// Starts a set over the records whose default-index key begins with the
// first prefix bytes of the record's key: 0 or the code.
ZVDBRET _zvdbDictRecordSetOn(ZVHANDLE record, int32_t prefix);

}  // extern "C"

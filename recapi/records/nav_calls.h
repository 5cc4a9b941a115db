// Record services of navigation, search, writing and deleting that the
// record handle calls before their own module exists.
//
// Stand-in until that module lands (nav_standin.cpp): zvdbClearRecord
// empties the image only (every byte zeroed, the fields read again with
// every ZV_STRING empty); padding of fixed strings, zero numbers, the null
// bits and the new flag come with the real one.
#pragma once

#include "zarvo/zvdb.h"

extern "C" {

// Empties the record's image: 0, 4024, 4012, the slot build's codes.
ZVDBRET zvdbClearRecord(ZVHANDLE record);

}  // extern "C"

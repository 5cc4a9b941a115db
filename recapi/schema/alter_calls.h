// Calls from the table alteration up into the dictionaries, which sit
// above the schema layer.
//
// Stand-in until the dictionary module lands (alter_standin.cpp): no table
// of a database can be opened yet (database handles answer 4054), so the
// alteration never reaches this call; the stand-in answers 4054 as the
// other database routines do.
#pragma once

#include "zarvo/zvdb.h"

extern "C" {

// Rewrites the index entries of a table of a database in its dictionary
// from the table's index handles: 0 or the code.
ZVDBRET _zvdbDictUpdateIndex(ZVHANDLE table);

}  // extern "C"

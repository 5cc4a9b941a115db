// Table creation: what other schema modules ask of it before creation
// itself joins them (table_standin.cpp answers in its place until then).
#pragma once

#include "zarvo/zvdb.h"

extern "C" {

// Builds the table's record schema from its field list with the hidden
// fields in front (forcreate: the schema of a new file): 0, 4001.
ZVDBRET _zvdbAllocDoda(ZVHANDLE table, int forcreate);

}  // extern "C"

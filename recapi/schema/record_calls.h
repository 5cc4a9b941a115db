// Record services that table close and open call before their own modules
// exist.
//
// Stand-ins until those modules land (record_standin.cpp): resetting the
// records of a table, filtering them and freeing a result set do nothing
// (no record handle keeps table state that a close could leave stale yet,
// and no result set can be made).
#pragma once

#include "zarvo/zvdb.h"

extern "C" {

// Resets every record handle of the table (their positions and context
// slots go): 0 or the code.
ZVDBRET zvdbResetAll(ZVHANDLE table);
// Applies the table's filter to every record handle: 0 or the code.
ZVDBRET zvdbFilterAll(ZVHANDLE table);
// Frees a result set of a table.
ZVDBRET zvdbFreeResultSet(ZVHANDLE resultset);

}  // extern "C"

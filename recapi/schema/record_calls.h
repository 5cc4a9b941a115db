// Record services that table close and open call before their own modules
// exist.
//
// Stand-ins until those modules land (record_standin.cpp): filtering the
// records of a table and freeing a result set do nothing (no filter of a
// multi-record-type table and no result set can be made yet).
#pragma once

#include "zarvo/zvdb.h"

extern "C" {

// Applies the table's filter to every record handle: 0 or the code.
ZVDBRET zvdbFilterAll(ZVHANDLE table);
// Frees a result set of a table.
ZVDBRET zvdbFreeResultSet(ZVHANDLE resultset);

}  // extern "C"

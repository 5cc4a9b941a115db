// Calls from the expression language up into the record-level API: the
// table behind a record-level handle, and the record schema map it keeps
// (zvdbptPutRecinfo binds a tree to it).
//
// The one place where the engine calls the record-level API: once per
// bound tree, never per record. It includes only the public headers.
#pragma once

#include "zarvo/zvdb.h"

extern "C" {
// The table handle that a record-level handle leads to, or null.
ZVHANDLE zvdbGetTableHandle(ZVHANDLE handle);
// The record schema map of a table handle, or null when it has none.
const unsigned char *_zvdbTableSchemaMap(ZVHANDLE table);
}

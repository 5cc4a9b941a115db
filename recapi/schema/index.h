// Indexes of a table: what the other schema modules share with index.cpp.
//
// A table lists its indexes in index order; the hidden "$RECBYT$" and
// "$ROWID$" indexes of an open table are kept apart. Each index owns its
// segments. Index names are unique in a table ignoring letter case.
#pragma once

#include <cstdint>

#include "recapi/base/handles.h"

extern "C" {

// Appends a new index (status 1) to the table: a duplicate index starts
// with its suffix as key length (8 on an active table created with mode
// bit 0x100, else 4). The index, or NULL with the code kept: 4013, 4053 NULL
// or empty name, 4051 a name used already, 4001. Reserved names are not
// checked here.
ZVHANDLE _zvdbPutIndex(ZVHANDLE table, const char *name, int32_t keytype, int dupflag, int nullflag);

}  // extern "C"

namespace zv {

// The index handle a handle leads to, or NULL.
tagZVDBINDEX *index_of(ZVHANDLE handle);
// Frees an index record with its segments (last to first) and texts.
void free_index_record(tagZVDBINDEX *ix);

}  // namespace zv

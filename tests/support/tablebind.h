// Binding a record-level table handle to a file set opened through the
// engine the way table open will: the set is created with extended headers
// (create block word 0 = 0x02) as table creation will, its record schema
// stored, closed and opened again by name; the handle then holds the data
// file number, the stored definition and schema read back, field handles
// built from the schema and index handles with their segments built from
// the definition, all with status 0 (existing); the hidden "$RECBYT$" and
// "$ROWID$" indexes kept apart from the list, the fixed length, record
// format, hidden-field flags and table type set, and the open counted in the
// reload count.
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"

namespace zvtest {

// Creates, stores the schema of `count` entries and binds: 0, or the first
// failing engine or API code (nothing bound then). The table's extensions
// and permission are used; its name and physical name become ifil's name.
int bind_table(ZVHANDLE table, IFIL *ifil, const DATOBJ *schema, int count, uint32_t createmode = 0);
// Binds the table to the existing file set `name` (its stored schema and
// definition), as bind_table does after creating it: 0 or the first
// failing code.
int open_table(ZVHANDLE table, const char *name, uint32_t createmode = 0);
// Closes the files and returns the table to the closed state with its
// handles freed: the engine's close code.
int unbind_table(ZVHANDLE table);

}  // namespace zvtest

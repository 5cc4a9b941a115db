// A record-level table handle for tests of the engine's calls that take
// one: a table record (kind 3507, no session) whose record description is
// a given record schema map.
#pragma once

#include "zarvo/zvdb.h"

namespace zvtest {

// A new table handle over `schmap` (not copied, not owned; may be null).
// Freed with free_table.
ZVHANDLE make_table(const unsigned char *schmap);
void free_table(ZVHANDLE table);

}  // namespace zvtest

// Tables of the record-level API: the table record lives with the other
// handle records (recapi/base/handles.h); this module allocates, resets and
// frees it, keeps its properties and answers what the engine asks of a
// table.
#pragma once

#include <cstdint>

#include "recapi/base/handles.h"

extern "C" {

// Sets every property of the table to its closed-state default (names
// "table", the database's path or "", extensions ".dat" and ".idx",
// permission 6366, data file -1, partition index and bits -1, alignment 8,
// alteration state 3, reserved-name check 1), frees the owner name, the
// dropped-index list's handles, the partition rule, the full-text indexes
// and the hidden indexes, and empties the field and index lists without
// freeing their handles (callers free them first). 0, 4013, 4001.
ZVDBRET _zvdbInitTable(tagZVDBTABLE *t);
// The type a table has by where it lives: 1 a member of a session
// dictionary host, 2 "zvdbdict" in a database dictionary host and 3 any
// other member of one, 3 a path ending in ".qdd!", else 4.
int _zvdbCheckTableType(const tagZVDBTABLE *t);
// Position of field n's entry in the table's record schema (matched by the
// entry's name pointer), its type into *type when given; -1 when the field,
// the schema or the entry is missing.
int32_t _zvdbGetDodaFieldInfo(ZVHANDLE table, int32_t n, int32_t *type);

}  // extern "C"

namespace zv {

// The table a handle leads to, or NULL.
tagZVDBTABLE *table_of(ZVHANDLE handle);

// Expressions over the records of an open table (identity.cpp).
// The record schema and its header that an expression is parsed against,
// read once: 0, or the failing step's code.
ZVDBRET expression_schema(tagZVDBTABLE *t);
// Parses text against the table's schema header and field names (after
// expression_schema): the tree, or NULL with the code in *rc (the engine's
// code, else 4071 plus the parser's error). A text naming a filter callback
// ("@...") gives its block, with its kind (1) in *callback; without
// callback such a text is refused with 4019.
void *parse_expression(tagZVDBTABLE *t, const char *text, ZVDBRET *rc, int *callback = nullptr);

}  // namespace zv

// Conditional indexes (cidx.cpp): the "QV!CIDX" resource of a data file
// with the condition texts of its indexes, the per-file table of compiled
// conditions built from it, sharing and releasing filters and tables, and
// the in-memory condition of an index file marked with header flag 0x20.
// (Key formation evaluates a condition for a record: engine/index/keycond.h.)
#pragma once

#include <cstdint>

#include "engine/expr/condtable.h"

namespace zv {

// Shares a filter: kind 0 adds a use to a parse tree, 1 (callback filter)
// and 5 add one to the use count in the block's first word. Returns the
// filter; null for a null filter or another kind.
void *zvcpydatflt(void *filter, int kind);

// Whether the data file's table holds a condition for relative index
// relidx: 16, else 0.
int zvchkcidx(int datno, int relidx);
// Builds the table of a resource body of len bytes (from the counts on),
// each text parsed against the record schema map and field names: the
// table, or null; null without an error for a null body or one without
// entries. Errors (user error): 439 a damaged body, 596 no schema or no
// names, 597 a text that does not parse (unless the parser set its own
// code), 435 no memory. Nothing stays allocated on failure.
void *zvinitcidx(int datno, const void *body, int32_t len, const unsigned char *schema, const void *names);
// Stores (adds or replaces) the conditions of a data file from a body of
// len bytes, or with a null body or one without entries deletes them; the
// body is checked and its table built before anything is stored, so a body
// the next open could not load is refused. Unless mode is 2 the new table
// then takes the place of the file's table, its callbacks are initialised
// and the key-map flag 16 of each index of the file follows it. idxno (or
// -1) is the index the change is made for. 0 or the error (user error): 48
// an index file, 595 a body longer than len, 439, 596, 597, 435 as above,
// or a resource error.
int iPUTCRES(int datno, const void *body, int32_t len, int mode, int idxno);
// Length of the data file's stored body (from the counts on), copied into
// buffer only when it is not null and length suffices; 0 with the user
// error set (408 none stored, 439 damaged).
int32_t iGETCRES(int datno, int32_t length, void *buffer);
// Condition text of an index: strlen + 1, copied into buffer only when it
// is not null and length suffices; 0 when the index has none; 0 with the
// user error 614 when the index has no data file in the key map, 439 for a
// damaged body. Mode 2 accepts an index file already marked closed.
int32_t iGETCIDX(int idxno, int32_t length, void *buffer, int mode);
// Sets, replaces or (null or empty text) removes the condition of an index
// (see UPDCIDX); newrel >= 0 gives the entry that relative number instead
// of the index's own. Mode as iGETCIDX; passed on to iPUTCRES.
int iUPDCIDX(int idxno, const char *text, int mode, int newrel);
// After the indexes of relative numbers rel .. rel + count - 1 left data
// file datno: their conditions leave the stored body and the conditions
// of later indexes take numbers lower by count. Stored as iPUTCRES mode 2
// does (the file's table is not loaded again). 0 (also when nothing is
// stored or nothing changes) or the error: 439 damaged, 83 no memory, or
// a resource error.
int drop_conditions(int datno, int rel, int count);
// Loads the table of a data file again from its stored conditions (after a
// change stored with mode 2); the key-map flags 16 of its indexes follow.
// 0 (no conditions stored: no table) or the load's error, the old table
// then kept.
int reload_conditions(int datno);
// Allocates ((n + 2093) / 2048) * 2048 - 46 bytes (zeroed) for a resource
// body of n bytes into *out: the size, or 0 (with *out null) when memory
// runs out, `old` being freed then.
int32_t rndsiz(int32_t n, unsigned char **out, void *old);

}  // namespace zv

extern "C" {
// Parses text against the field names and schema map of an open file: 1
// with the tree in *tree (freed by kind when tree is null) and its kind in
// *kind; 0 with the user error set (597 when the text does not parse).
int testparse(int filno, const char *text, void **tree, int *kind);
}

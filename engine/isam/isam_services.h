// What the engine core asks of the ISAM layer: its start and stop.
//
// Start-up under the ISAM layer (INTISAMX) and the stop road of an instance
// call these routines; this header is the one place where the core calls up
// into the ISAM layer. The ISAM tables (the key map, engine/index/keymap.h)
// are made with the engine and grow with its file-number table.
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

namespace zv {

// ISAM start-up: allocates the ISAM tables for fils + 3 file numbers, then
// starts the engine with INTREEX and the same parameters. 0, or the error
// code (also in uerr_cod) with the tables released again: 125 already
// started, 11 a file count outside 0..32767, 83 when the tables cannot be
// allocated, else INTREEX's code.
int zviisam(int32_t bufs, int32_t fils, int32_t sect, int32_t dbufs, int32_t userprof);
// Frees the ISAM tables of the current instance with the names they hold
// (none: no effect).
void zvfisam(int32_t nfiles);

// Grows the ISAM tables to n file entries along with the file-number table,
// when the ISAM layer is started. Nonzero on success or when there is
// nothing to grow; 0 when memory runs out (the caller then keeps its old
// file-number table).
int isam_grow_tables(int n);

// LKISAM (zarvo.h, lockmode.cpp) sets the instance's ISAM lock mode;
// FREBAT (batch.cpp) frees the batches on the stop roads.

// The companion file numbers of a file (the indexes of a data file in use
// by the ISAM layer), which are forced to disk with it: up to 64 entries,
// -1 ends the list, other negative entries are empty. Null when the file
// has none.
const int16_t *isam_companions(int filno);

}  // namespace zv

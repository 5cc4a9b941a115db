// What the engine core asks of the ISAM layer: its start and stop.
//
// Start-up under the ISAM layer (INTISAMX) and the stop road of an instance
// call these routines; this header is the one place where the core calls up
// into the ISAM layer. The routines are the least form: the ISAM tables are
// one small array of per-file-number entries (-1 = no entry) kept in the
// instance (isamtab, isamtabn), and there are no batches. The ISAM layer
// replaces them behind the same names.
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

namespace zv {

// ISAM start-up: allocates the ISAM tables for fils + 3 file numbers, then
// starts the engine with INTREEX and the same parameters. 0, or the error
// code (also in uerr_cod) with the tables released again: 82 when the tables
// cannot be allocated, else INTREEX's code.
int zviisam(int32_t bufs, int32_t fils, int32_t sect, int32_t dbufs, int32_t userprof);
// Grows the ISAM tables to n entries: nonzero on success, 0 when memory runs
// out (the old tables stay).
int redoisam(int32_t n);
// Frees the ISAM tables of the current instance (none: no effect).
void zvfisam(int32_t nfiles);

// Grows the ISAM tables to n file entries along with the file-number table,
// when the ISAM layer is started. Nonzero on success or when there is
// nothing to grow; 0 when memory runs out (the caller then keeps its old
// file-number table).
int isam_grow_tables(int n);

// LKISAM (zarvo.h), least form: stores a listed mode (0 free; 2, 3, 4, 11,
// 12, 13 enable variants; 5 suspend; 6, 7, 8, 14 restore) in the instance's
// ISAM lock mode and gives 0; any other mode gives 446 and changes nothing.

// The companion file numbers of a file (the indexes of a data file), which
// are forced to disk with it: up to 64 entries, -1 ends the list, other
// negative entries are empty. Null when the file has none.
const int16_t *isam_companions(int filno);

}  // namespace zv

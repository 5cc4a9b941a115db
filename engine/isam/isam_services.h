// What the engine core asks of the ISAM layer above it.
//
// This header is the one place where the core calls up into the ISAM
// layer; each call is a plain function resolved at link time, none on a
// per-record path. The ISAM tables (the key map, isammap.h) are made with
// the engine under INTISAMX (isamstart.cpp) and grow with its file-number
// table.
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

namespace zv {

// ---- For the engine core ----------------------------------------------------
// The file-number table grows (filenum.cpp), a transaction ends
// (transact.cpp: LKISAM releases the ISAM locks), an instance stops
// (lifecycle.cpp: FREBAT frees the batches, zvfisam the tables). LKISAM
// (lockmode.cpp) and FREBAT (batch.cpp) are declared in zarvo.h.

// Grows the ISAM tables to n file entries along with the file-number table,
// when the ISAM layer is started. Nonzero on success or when there is
// nothing to grow; 0 when memory runs out (the caller then keeps its old
// file-number table).
int isam_grow_tables(int n);
// Frees the ISAM tables of the current instance with the names they hold
// (none: no effect).
void zvfisam(int32_t nfiles);

}  // namespace zv

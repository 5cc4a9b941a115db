// Calls that the engine core makes into the ISAM layer above it.
//
// Growing the file-number table grows the ISAM tables with it, and forcing
// a data file to disk also forces its indexes, which only the ISAM layer
// knows. Those calls are declared here, in one place, so that the upward
// arrow from engine/core to engine/isam is visible.
#pragma once

#include <cstdint>

namespace zv {

// Grows the ISAM tables to n file entries when the ISAM layer is started.
// Nonzero on success or when there is nothing to grow; 0 when memory runs
// out (the caller then keeps its old file-number table).
int isam_grow_tables(int n);

// The companion file numbers of a file (the indexes of a data file): up to
// 64 entries, -1 ends the list, other negative entries are empty. Null when
// the file has none.
const int16_t *isam_companions(int filno);

}  // namespace zv

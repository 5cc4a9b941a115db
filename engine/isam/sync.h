// Forcing a data file and its indexes to disk after an ISAM write (see
// sync.cpp).
#pragma once

namespace zv {

// Forces an open file and its companion files (the indexes of a data file)
// to disk.
void flushdos(int filno);

}  // namespace zv

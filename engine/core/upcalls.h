// Calls that the engine core makes into the file layer above it.
//
// The core's I/O and logging paths must sometimes act on open files (free a
// descriptor by closing a file virtually). Those calls are declared here, in
// one place, so that the upward arrow from engine/core to engine/files is
// visible.
#pragma once

struct FCB;

namespace zv {

// Closes one physically open engine file virtually to free a descriptor.
// Returns nonzero when a descriptor was released.
int vtclosex_one();

// Closes every open file of the current instance (the stop road): 0 or the
// first close error. Every descriptor is released whatever the errors.
int close_all_files();

}  // namespace zv

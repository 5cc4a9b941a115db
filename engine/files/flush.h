// Flush of cached bytes and the forced save (see flush.cpp).
#pragma once

#include <cstdint>

struct FCB;

// The save of a file forced: runs with the instance's save flag 0x2000, so
// that files whose saves are otherwise deferred are synced too; a virtually
// closed file is reopened first. 0 or the save's error.
int zvsavefrc(FCB *fcb);
// The flush worker: filno -1 (or allfiles nonzero) writes every dirty page
// and node of the instance; flag 1 flushes a partitioned host with its
// members. 0 or minus the first error. `out` is not used.
int iZVFLUSH(int filno, int allfiles, int flags, int32_t *out);

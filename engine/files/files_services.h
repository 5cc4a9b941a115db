// Calls that the engine core makes into the file layer above it.
//
// The core's I/O and logging paths must sometimes act on open files: free a
// descriptor by closing a file virtually, read a memory file's record, map
// an offset of a segmented file to its segment, close every file at the
// stop. Those calls are declared here, in one place, so that the upward
// arrow from engine/core to engine/files is visible. They are plain
// functions of the file layer resolved at link time: the memory-file and
// segment calls lie on the per-record and per-I/O paths.
#pragma once

#include <cstdint>

struct FCB;

namespace zv {

// Closes one physically open engine file virtually to free a descriptor.
// Returns nonzero when a descriptor was released. Unless quiet, a walk that
// finds nothing to release is reported to the status log (the status log's
// own retries pass quiet, so that reporting never recurses).
int vtclosex_one(int quiet);

// A virtually closed file got its descriptor back: it becomes the most
// recently used file of the open-file ring, and is marked outdated when
// another open changed the file meanwhile (one header read).
void vt_reopened(FCB *fcb);

// The record of a memory file at position pos: its data, with its size in
// *size; null when no record of the file lies there.
unsigned char *memfile_record(FCB *fcb, uint64_t pos, uint32_t *size);

// Closes every open file of the current instance (the stop road): 0 or the
// first close error. Every descriptor is released whatever the errors.
int close_all_files();

// Whether a member name names a member of an open superfile host
// (engine/files/superfile.cpp): -1 yes, 0 no, -2 its host is not open.
int member_exists(const char *name);

// Segmented files (engine/files/segments.cpp), for the platform I/O.
// Maps the logical offset off of a segmented file to a segment: returns
// its descriptor and the offset inside it (*segoff), cuts *size so that the
// transfer ends at the segment's limit and sets *segment. A write past the
// segments present creates the next one. Returns -2 for a read past the
// segments present (end of file) and -1 when the offset lies beyond every
// segment that can exist or the next one cannot be made (*code: 674, or the
// creation's code). A file without segment arrays maps to its own
// descriptor and the offset unchanged. No allocation, no system call for an
// offset inside the segments present.
int zvdecsegmdef(int write, FCB *fcb, uint64_t off, uint64_t *segoff, uint32_t *size, int *segment, int *code);
// Descriptor of segment i for segment-header I/O: -1 when not open.
int zvsegfd(FCB *fcb, int i);

// Logical size of a segmented file: the sizes of its segments without
// their header areas. false when a size cannot be had.
bool segmented_size(FCB *fcb, uint64_t *size);
// Forces every further segment to disk: 0 or the errno of the failure;
// *count receives the segments synced.
int sync_segments(FCB *fcb, uint32_t *count);

}  // namespace zv

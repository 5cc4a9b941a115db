// Memory files: records kept in engine memory instead of on disk.
#pragma once

#include <cstdint>

struct FCB;

// Bucket of a memory-file record position (0 when the file has no buckets).
uint32_t zvMEMFILEhash(const FCB *fcb, uint64_t pos);
// The position when it is a live record of the file, else 0.
uint64_t zvnodmemrec(FCB *fcb, uint32_t hi, uint32_t lo);
// Unlinks and frees a record: the record count falls, and the last byte used
// and the physical end fall by the bytes the record's growth added. 0, or
// 160 when no record of the file lies at the position (nothing changes).
int zvrmvmemrec(FCB *fcb, uint32_t hi, uint32_t lo);
// The record after (*hw, lo) in scan order (both words all ones: the first),
// low word returned and high word in *hw; 0 with *hw 0 at the end.
uint32_t zvnxtmemrec(FCB *fcb, uint32_t *hw, uint32_t lo);

namespace zv {

// A new record of `needed` bytes linked at the head of its bucket chain; its
// position, or 0 with 10 when memory is short. The header counters are the
// caller's (extfil).
uint64_t memrec_new(FCB *fcb, uint32_t needed);
// Frees every record of a memory file (close).
void memfile_free_all(FCB *fcb);

}  // namespace zv

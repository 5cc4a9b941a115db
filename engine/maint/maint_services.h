// What the ISAM layer asks of the maintenance utilities.
//
// Two ISAM services run a rebuild step on their way: adding indexes to an
// open data file loads them from its records (idx_adddrop.cpp), and a
// partition's administration rebuilds a member (partrebuild.cpp). They call
// the public rebuild entries of zarvo.h (RBLIDX, RBLMEM, RBLIFILz) and,
// through this header, the few pieces of the rebuilds' shared state that
// such a call sets up around them: the work buffer, the progress routine's
// status block and the mark of a set rebuild run for a partition. This
// header is the one place where the ISAM layer reaches the maintenance
// utilities; each call is made once per index add or member rebuild, never
// per record. It includes nothing of the layers above the ISAM layer.
//
// The definitions are in rblstate.cpp, beside the state they keep
// (maint_state(g).rbl).
#pragma once

#include <cstdint>

namespace zv {

// The rebuild work buffer holding at least size bytes (zero-filled when it
// had to grow), or null with its size 0 (callers report 120).
unsigned char *rbgetbuf(int32_t size);
// Frees the work buffer.
void rbfreebuf();

// The status block of the progress routine, made for the run when a
// routine is installed without one: 0 (*own tells whether it was made), or
// 82. rbl_give_status frees a block the run made.
int rbl_take_status(bool *own);
void rbl_give_status(bool own);

// Marks the set rebuild that a partition rebuild runs, so that the set
// rebuild does not hand the set back to the partition rebuild. Returns
// whether the mark was set already; rbl_partition_run_end takes the mark
// back unless it was.
bool rbl_partition_run_begin();
void rbl_partition_run_end(bool had);

}  // namespace zv

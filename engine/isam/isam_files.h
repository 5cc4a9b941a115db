// Services of the ISAM layer that open, close and creation of files call.
#pragma once

#include <cstdint>

struct FCB;

namespace zv {

// Ends the data file's list of index numbers at `slot`.
void setzvEOK(int datno, int slot);
// Loads the data file's conditional-index table: the table, or null with
// the user error set (408: none stored).
void *zvigetcidx(int datno);
// Releases a conditional-index object by kind; null is ignored.
void zvfreecidx(void *object, int kind);
// Writes the partition definition resources of a new partitioned host.
int zvsetpres(FCB *fcb, int filno);
// Closes the ISAM contexts of a data file before the file is closed.
void isam_close_contexts(int datno);

// ---- Record space (fixed-length records and record filters) --------------
// A newly allocated list of the data file's field names from its record
// schema (freed with zvputmem), or null with the user error set.
void *zvgetnames(int datno);
// Member of a partitioned host that holds the host record position: takes
// the partition number from the high word (reduced to the member's own) and
// returns the member's file number; -3 when the position carries none,
// another negative value when the partition has no open member.
int zvunfoldpartno(FCB *host, uint32_t *hi, int *partno, int log);
// Active records of a partitioned host as a 64-bit count (low word
// returned, high word in *hi); 614 in uerr_cod when it cannot be counted.
uint32_t zvhostent(FCB *host, int filno, uint32_t *hi);
// The partitioned host through which a partition member was opened, or null.
FCB *partition_host_of(FCB *member);

}  // namespace zv

// Services of the ISAM layer that open, close and creation of files call.
#pragma once

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

}  // namespace zv

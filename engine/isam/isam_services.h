// Services of the ISAM layer that the file layer calls (open, close,
// creation and the stop of an engine user).
#pragma once

struct FCB;

extern "C" {
// Ends the data file's list of index numbers at `slot`.
void setzvEOK(int datno, int slot);
// Loads the data file's conditional-index table: the table, or null with
// the user error set (408: none stored).
void *zvigetcidx(int datno);
// Releases a conditional-index object by kind; null is ignored.
void zvfreecidx(void *object, int kind);
// Writes the partition definition resources of a new partitioned host.
int zvsetpres(FCB *fcb, int filno);
// Frees an expression evaluation stack and clears the pointer.
void zvfcidxstk(void **stack);
// Frees every batch of the current user.
int FREBAT(void);
// Frees the ISAM tables of the instance.
void zvfisam(int nfiles);
}

namespace zv {

// Closes the ISAM contexts of a data file before the file is closed.
void isam_close_contexts(int datno);

}  // namespace zv

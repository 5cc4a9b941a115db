// The platform seam: the only module that calls the operating system's file
// functions. Every other module reaches files through these routines, which
// is where tests count calls and inject faults.
#pragma once

#include <cstdio>

namespace zv {

// Kinds of system calls the seam counts and can make fail.
enum class IoKind : int {
    Open, Read, Write, Sync, Close, Seek, Unlink, Link, Rename, Mkdir, Rmdir,
    Stat, Statvfs, Lock, Mkstemp, Fopen, Count
};

// ---- Test support (not exported) -----------------------------------------
// Calls of a kind made through the seam since the last fault_reset.
long io_calls(IoKind kind);
// Makes the nth call of a kind from now fail with errno err (1 = the next);
// with `sticky`, every call from the nth on fails. For reads and writes,
// short_by > 0 instead cuts the nth transfer short by that many bytes.
void fault_set(IoKind kind, long nth, int err, bool sticky = false, long short_by = 0);
// Clears every fault and every counter.
void fault_reset();

// Opens a text stream (the status log, dumps); null on failure with errno set.
FILE *plat_fopen(const char *name, const char *mode);
// Closes a stream opened by plat_fopen.
int plat_fclose(FILE *fp);
// Sets the permission bits of an open stream's file.
int plat_fchmod(FILE *fp, int mode);

}  // namespace zv

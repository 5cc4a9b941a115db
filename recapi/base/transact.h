// Transactions, save points and session locks (transact.cpp).
//
// This library has no transaction processing: a session keeps only its
// transaction flag and its drop list, the files that table deletion removed
// inside a transaction. Commit forgets them; an abort closes them first.
#pragma once

#include <cstdint>

#include "recapi/base/handles.h"

// One file of a session's drop list.
struct ZVDBDROPENTRY {
    int32_t file;       // file number
    char *name;         // file name, owned by the entry
    int32_t closemode;  // nonzero: a single file (CLSFIL); 0: a file set (CLRFIL)
};

extern "C" {

// Appends an entry with a copy of name: 0; 4007 NULL name, 4003, 4001.
ZVDBRET _zvdbAddDropList(ZVHANDLE handle, int32_t file, const char *name, int32_t closemode);
// Removes the first entry of that file number whose name equals name in any
// letter case: 0; 4007, 4003, 4046 none.
ZVDBRET _zvdbDelDropList(ZVHANDLE handle, int32_t file, const char *name);
// Frees every entry: 0, 4003.
ZVDBRET _zvdbClearDropList(ZVHANDLE handle);
// Closes each entry's file (CLSFIL for a nonzero close mode, CLRFIL for 0)
// and frees the entries: 0, 4003.
ZVDBRET _zvdbAbortDropList(ZVHANDLE handle);
// ISAM lock request of a session lock mode 0..10; -1 for other modes.
int _zvdbToIsamLockMode(int mode);

}  // extern "C"

namespace zv {

// Frees the entries of a session's drop list (the list stays).
void drop_list_clear(tagZVDBSESSION *s);
// The session lock mode of an ISAM lock state as LKISAM(128) gives it.
int lock_mode_of_state(int state);

}  // namespace zv

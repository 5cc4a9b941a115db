// Shared by the session and database classes: the text buffers of their
// look-ups, the answer of a look-up, and what their destructors do to the
// objects below them.
//
// A session or database object may be destroyed while database and table
// objects built on it still live (against the documented order). Before
// its own handle goes, it takes from every database and table object that
// its active lists reach the handle that object owns: the handle is freed
// here and the object is left without one, so that its destructor frees
// nothing and its calls end in error codes instead of touching freed
// memory. Objects no active list reaches keep their handles.
#pragma once

#include "objapi/zvppxcep.h"

namespace zvpp {

// Buffers of the names and paths that look-ups read.
constexpr int kNameSize = 128;
constexpr int kPathSize = 255;

// A look-up's answer: true on 0, false on 101 (none, end of the list);
// any other code is thrown with the message and line.
inline bool found(const Module &module, ZVDBRET code, const char *message, int line) {
    if (code == 101) return false;
    module.check(code, message, line);
    return true;
}

// One step of a walk over the entries of a dictionary (call is the first
// or next call of the walk): true with the entry's name and path, or false
// at the end with both made empty.
using EntryCall = ZVDBRET (*)(ZVHANDLE, char *, int32_t, char *, int32_t);
bool entry_step(const Module &module, EntryCall call, ZVHANDLE handle, ZVString &name, ZVString &path,
                const char *message, int line);

// Frees the handles of the table objects open in the database handle's
// active list, leaving each object without a handle.
void release_table_objects(ZVHANDLE database) noexcept;

// Frees the database handle (after the table objects its active list
// reaches) and leaves the object, which owned it, without one.
void release_database(ZVDatabase &object, ZVHANDLE database) noexcept;

}  // namespace zvpp

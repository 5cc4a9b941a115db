// Sessions of the record-level API: what the session modules (session.cpp,
// logon.cpp, transact.cpp, callback.cpp) share.
//
// A session record (handles.h) is made by zvdbAllocSession. Types 0 and 1
// keep their own instance name ("%p" of the record, in a buffer of 33
// bytes) and register that instance at allocation; types 3 and 4 keep no
// name and work in the instance that is current. While attached, the name
// is that of the instance attached to; detach and logout print the own
// name again.
#pragma once

#include <cstdint>

#include "recapi/base/handles.h"
#include "recapi/catalog/dict_calls.h"
#include "zarvo/zarvo.h"

namespace zv {

// Keeps a failing call's code as the last code of the session the handle
// leads to; returns the code (0 passes untouched).
ZVDBRET keep_code(ZVHANDLE handle, ZVDBRET rc);
// The caller's handle of a call that may free it: a table's close (also as
// part of a database's or session's), a failed open and a definition reload
// free the table's field, index, segment and full-text index handles.
// Made before the call, keep() sets a failing code on the caller's handle
// while its table still holds it, else on that table, which outlives such
// calls.
class CallerHandle {
public:
    explicit CallerHandle(ZVHANDLE handle);
    ZVDBRET keep(ZVDBRET rc) const;

private:
    ZVHANDLE handle_;
    tagZVDBTABLE *table_ = nullptr;  // the table of a handle that can go
};
// A copy of the current instance's name; empty when none is current.
using InstanceName = char[ZV_INSTANCE_ID_MAX + 2];
void current_instance_name(InstanceName &name);

// The session a handle leads to, or NULL (makes its instance current).
tagZVDBSESSION *session_of(ZVHANDLE handle);
// The handle as a session when it is one (its instance made current), else
// NULL.
tagZVDBSESSION *session_itself(ZVHANDLE handle);
// Whether the session has an instance of its own (types 0 and 1).
bool has_own_instance(const tagZVDBSESSION *s);
// Prints the session's own instance name into its name buffer (grown to
// 33 bytes when smaller): 0, 4001.
ZVDBRET print_own_instance_name(tagZVDBSESSION *s);
// Replaces a stored copy of text (NULL clears it): 0, 4001 (nothing changed).
ZVDBRET replace_text(char **slot, const char *text);

// The state after logout or detach: dictionary object closed and freed,
// logged off, credentials, session path, float format and temporary path
// freed (NULL), last code, transaction flag and mode, attach mode and lock
// mode 0, start parameters and date and time types as allocated, the own
// instance name printed again, connected list emptied. Type, logon-only,
// shared, exclusive, keep-lock, path prefix and callbacks stay. 0, 4001.
ZVDBRET session_reset(tagZVDBSESSION *s);
// Makes the session a new dictionary object when it has none: 0, 4001.
ZVDBRET session_new_dict(tagZVDBSESSION *s);

// The text of the engine's version word v with the build words of items
// 187 and 188 of the configuration record: 0, 4006 when it does not fit.
ZVDBRET format_version(uint32_t v, uint32_t build, uint32_t base, char *out, int32_t size);
// The name and path texts of a database entry into the buffers (each
// optional): 0, 4006 when one does not fit (nothing written then).
ZVDBRET database_entry_text(const ZVDBDICTENTRY &entry, int sep, char *name, int32_t namesize,
                            char *path, int32_t pathsize);

}  // namespace zv

// Session records of the record-level API.
//
// A session is the root of every handle tree (handles.h). Until sessions
// are allocated and logged on through the API, session_record_new makes a
// bare session: its defaults set, no lists, no dictionary and no instance
// of its own, so that resolving through it switches nothing.
#pragma once

#include "recapi/base/handles.h"

namespace zv {

// A new bare session record (from _zvdb_alloc); NULL when memory is short.
// Released with session_record_free, which frees only the record.
tagZVDBSESSION *session_record_new();
void session_record_free(tagZVDBSESSION *session);
// The session a handle leads to, or NULL (makes its instance current).
tagZVDBSESSION *session_of(ZVHANDLE handle);

}  // namespace zv

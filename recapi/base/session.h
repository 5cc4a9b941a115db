// Session record of the record-level API (least form).
//
// A session is the root of every handle tree. This form holds what the value
// types use: the kind word that every handle record begins with and the
// session's default date and time text types. The full session record, its
// allocation and the resolution of other handle kinds to their session come
// with the record API base.
#pragma once

#include <cstdint>

#include "zarvo/zvdb.h"

// Kind word of a session handle.
constexpr uint16_t kZvdbSessionKind = 3505;

struct tagZVDBSESSION {
    uint16_t kind;            // 3505
    ZVDATE_TYPE defdatetype;  // default date type, initially 1
    ZVTIME_TYPE deftimetype;  // default time type, initially 2
};

namespace zv {

// A new session record with its defaults (from _zvdb_alloc); NULL when
// memory is short. Released with session_record_free.
tagZVDBSESSION *session_record_new();
void session_record_free(tagZVDBSESSION *session);
// The session a handle leads to, or NULL.
tagZVDBSESSION *session_of(ZVHANDLE handle);

}  // namespace zv

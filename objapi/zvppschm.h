// Shared pieces of the schema-object modules (fields, indexes, segments and
// full-text definitions): these classes borrow a handle of a table, pass
// each call on to the record-level API and throw its failures.
#pragma once

#include "objapi/zvppxcep.h"

namespace zvpp {

// Throws a nonzero code with message and line; else gives 0, the value the
// setters return.
inline ZVDBRET checked(const Module &module, ZVDBRET code, const char *message, int line) {
    module.check(code, message, line);
    return 0;
}

// The code kept for the handle's session by the call that just failed. A
// failure that keeps none (a segment without field answers null and keeps
// nothing) gives fallback, so that no exception carries code 0. Where the
// call may keep none, the caller clears the session's code before it, so
// that a code an earlier call left is not taken for this one's.
inline ZVDBRET code_or(ZVDBRET code, ZVDBRET fallback) { return code ? code : fallback; }
inline ZVDBRET kept_code(ZVHANDLE handle, ZVDBRET fallback) { return code_or(zvdbGetError(handle), fallback); }

// A text of the record-level API as a string: "" for none.
inline ZVString text_of(const char *text) { return ZVString(text ? text : ""); }

}  // namespace zvpp

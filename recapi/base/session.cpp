// Session records and the resolution of a handle to its session (least form:
// only session handles themselves are resolved).
#include "recapi/base/session.h"

#include <cstring>

namespace zv {

tagZVDBSESSION *session_record_new() {
    auto *s = static_cast<tagZVDBSESSION *>(_zvdb_alloc(1, sizeof(tagZVDBSESSION)));
    if (!s) return nullptr;
    s->kind = kZvdbSessionKind;
    s->defdatetype = 1;
    s->deftimetype = 2;
    return s;
}

void session_record_free(tagZVDBSESSION *session) { _zvdb_free(session); }

tagZVDBSESSION *session_of(ZVHANDLE handle) {
    return static_cast<tagZVDBSESSION *>(zvdbGetSessionHandle(handle));
}

}  // namespace zv

extern "C" {

ZV_API ZVHANDLE zvdbGetSessionHandle(ZVHANDLE handle) {
    if (!handle) return nullptr;
    uint16_t kind;
    std::memcpy(&kind, handle, sizeof kind);
    return kind == kZvdbSessionKind ? handle : nullptr;
}

}  // extern "C"

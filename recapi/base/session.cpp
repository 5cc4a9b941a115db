// Bare session records and the session a handle leads to.
#include "recapi/base/session.h"

namespace zv {

tagZVDBSESSION *session_record_new() {
    auto *s = static_cast<tagZVDBSESSION *>(_zvdb_alloc(1, sizeof(tagZVDBSESSION)));
    if (!s) return nullptr;
    s->kind = ZVDB_SESSION_HANDLE;
    static constexpr int32_t kParams[kZvdbStartParams] = {10, 32, 32, 10, 513};
    for (int i = 0; i < kZvdbStartParams; i++) s->params[i] = kParams[i];
    s->defdatetype = 1;
    s->deftimetype = 2;
    s->isolation = -1;
    s->dicttranmode = 3;
    s->dictinsuper = 1;
    return s;
}

void session_record_free(tagZVDBSESSION *session) { _zvdb_free(session); }

tagZVDBSESSION *session_of(ZVHANDLE handle) {
    return static_cast<tagZVDBSESSION *>(zvdbGetSessionHandle(handle));
}

}  // namespace zv

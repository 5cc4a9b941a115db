// Callback slots of session, database, table and record handles, the SQL
// callback and the callback library of a session, and user-defined
// functions of the expression language.
//
// A kind that a handle does not own is kept by the owner it climbs to,
// following the handle's links only (no instance is switched): record ->
// table -> database -> session; an index or field climbs to its table, a
// segment to its index.
#include <dlfcn.h>

#include "recapi/base/session.h"
#include "zarvo/zvdbpt.h"

namespace {

constexpr int kKinds = kZvdbCallbackSlots;
// Kinds each owner keeps itself.
constexpr int kSessionKinds = 27;
constexpr int kDatabaseKinds = 25;
constexpr int kTableKinds = 23;
constexpr int kRecordKinds = 10;

// Bounds on the climb, so that a damaged cycle of links cannot loop.
constexpr int kMaxClimb = 8;

// The slot of a kind, found by climbing from the handle; NULL when the
// climb ends at no handle or at a handle of another kind. `reading` lets a
// table without database take kinds 23 and up from its session.
ZvdbRoutine *callback_slot(void *h, int kind, bool reading) {
    for (int step = 0; h && step < kMaxClimb; step++) {
        switch (zv::handle_kind(h)) {
        case ZVDB_SESSION_HANDLE:
            return &static_cast<tagZVDBSESSION *>(h)->callbacks[kind];
        case ZVDB_DATABASE_HANDLE: {
            auto *db = static_cast<tagZVDBDATABASE *>(h);
            if (kind < kDatabaseKinds) return &db->callbacks[kind];
            h = db->session;
            break;
        }
        case ZVDB_TABLE_HANDLE: {
            auto *t = static_cast<tagZVDBTABLE *>(h);
            if (kind < kTableKinds) return &t->callbacks[kind];
            h = t->database ? static_cast<void *>(t->database)
                            : reading ? static_cast<void *>(t->session) : nullptr;
            break;
        }
        case ZVDB_RECORD_HANDLE: {
            auto *r = static_cast<tagZVDBRECORD *>(h);
            if (kind < kRecordKinds) return &r->callbacks[kind];
            h = r->table;
            break;
        }
        case ZVDB_INDEX_HANDLE: h = static_cast<tagZVDBINDEX *>(h)->table; break;
        case ZVDB_FIELD_HANDLE: h = static_cast<tagZVDBFIELD *>(h)->table; break;
        case ZVDB_SEGMENT_HANDLE: h = static_cast<tagZVDBSEGMENT *>(h)->index; break;
        default: return nullptr;
        }
    }
    return nullptr;
}

// Number of kinds a handle keeps itself; 0 for other kinds of handle.
int own_kinds(void *h) {
    switch (zv::handle_kind(h)) {
    case ZVDB_SESSION_HANDLE: return kSessionKinds;
    case ZVDB_DATABASE_HANDLE: return kDatabaseKinds;
    case ZVDB_TABLE_HANDLE: return kTableKinds;
    case ZVDB_RECORD_HANDLE: return kRecordKinds;
    default: return 0;
    }
}

void forget_library(tagZVDBSESSION *s) {
    s->cblibset = s->cblibend = s->cblibloaded = nullptr;
    s->cblibhandle = nullptr;
    s->cblibinit = 0;
}

ZvdbRoutine entry(void *lib, const char *name) { return reinterpret_cast<ZvdbRoutine>(dlsym(lib, name)); }

}  // namespace

using zv::session_of;

extern "C" {

ZV_API ZVDBRET zvdbSetCallback(ZVHANDLE handle, ZVDB_CALLBACK_KIND kind, ZVDB_CALLBACK routine) {
    if (!handle) return ZVDB_BAD_TAG_HANDLE;
    if (kind < 0 || kind >= kKinds) return ZVDB_BAD_CALLBACK;
    ZvdbRoutine *slot = callback_slot(handle, kind, false);
    if (!slot) return ZVDB_BAD_TAG_HANDLE;
    *slot = routine;
    return 0;
}

ZV_API ZVDB_CALLBACK zvdbGetCallback(ZVHANDLE handle, ZVDB_CALLBACK_KIND kind) {
    if (!handle || kind < 0 || kind >= kKinds) return nullptr;
    ZvdbRoutine *slot = callback_slot(handle, kind, true);
    return slot ? *slot : nullptr;
}

ZV_API ZVDBRET zvdbClearCallback(ZVHANDLE handle, ZVDB_CALLBACK_KIND kind) {
    return zvdbSetCallback(handle, kind, nullptr);
}

ZV_API ZVDBRET zvdbClearAllCallback(ZVHANDLE handle) {
    int n = handle ? own_kinds(handle) : 0;
    if (n == 0) return ZVDB_BAD_TAG_HANDLE;
    for (int kind = 0; kind < n; kind++) {
        if (ZVDBRET rc = zvdbSetCallback(handle, kind, nullptr)) return rc;
    }
    return 0;
}

ZV_API ZVHANDLE zvdbSetSqlCallBack(ZVHANDLE handle, ZVDB_CALLBACK routine) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return nullptr;
    s->sqlcallback = routine;
    s->sqlstate[0] = s->sqlstate[1] = 0;
    return s;
}

ZV_API ZVDBRET zvdbLoadCallbackLib(ZVHANDLE handle, const char *path, void *argument, int initialise) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    ZVDBRET rc = s->loggedon ? ZVDB_ACTIVE : !path ? ZVDB_NULL_ARGUMENT : 0;
    if (rc) {
        zvdbSetError(handle, rc);
        return rc;
    }
    // A library loaded before is ended and unloaded first.
    if (s->cblibhandle) zvdbUnLoadCallbackLib(s, 0);
    void *lib = dlopen(path, RTLD_NOW);
    if (!lib) {
        zvdbSetError(handle, ZVDB_BAD_CALLBACK);
        return ZVDB_BAD_CALLBACK;
    }
    ZvdbRoutine set = entry(lib, "zvsqlSetCallback");
    ZvdbRoutine end = entry(lib, "zvsqlEndCallback");
    ZvdbRoutine loaded = entry(lib, "zvsqlCallbackLoaded");
    if (initialise == 1 && set) {
        rc = reinterpret_cast<ZVDB_CBLIB_SET>(set)(handle, argument);
        if (rc) {
            dlclose(lib);
            forget_library(s);
            zvdbSetError(handle, rc);
            return rc;
        }
        s->cblibinit = 1;
    }
    s->cblibset = set;
    s->cblibend = end;
    s->cblibloaded = loaded;
    s->cblibhandle = lib;
    zvdbSetError(handle, 0);
    return 0;
}

ZV_API ZVDBRET zvdbUnLoadCallbackLib(ZVHANDLE handle, int keep_mapped) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    if (s->loggedon) {
        zvdbSetError(handle, ZVDB_ACTIVE);
        return ZVDB_ACTIVE;
    }
    if (s->cblibhandle) {
        if (s->cblibinit && s->cblibend) reinterpret_cast<ZVDB_CBLIB_END>(s->cblibend)(s, 0);
        if (!keep_mapped) dlclose(s->cblibhandle);
    }
    forget_library(s);
    zvdbSetError(handle, 0);
    return 0;
}

ZV_API ZVDBRET zvdbAddUserDefFunc(ZVHANDLE handle, const char *name, int resulttype, int argcount,
                                  const int *argtypes, void (*routine)(void **args, void *result)) {
    if (!session_of(handle)) return ZVDB_NO_SESSION;
    int rc = udfAdd(name, routine, resulttype, argtypes, argcount);
    if (rc) zvdbSetError(handle, rc);
    return rc;
}

}  // extern "C"

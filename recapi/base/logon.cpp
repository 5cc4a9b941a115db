// Logon, session creation, attach, detach and logout, the deactivation of
// a handle tree, and the self-contained registration of a table in a
// database (zvdbAddTableToDatabase).
//
// Logon starts the ISAM layer in the session's instance with the session's
// start parameters and profile bits 0x21: targets reach the engine in key
// form, and integer, float and serial key segments are byte-reversed, so
// that the host-order values the record layer stores give keys that sort
// by value. Every failure after the start stops the engine again, so a
// session is either logged on with its engine running or logged off with
// nothing started by it. An attached session runs in an engine that
// another started and never stops it.
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "recapi/base/list.h"
#include "recapi/base/paths.h"
#include "recapi/base/session.h"
#include "recapi/base/transact.h"
#include "recapi/base/wrappers.h"
#include "recapi/catalog/dict_calls.h"
#include "recapi/schema/table_calls.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdbpt.h"

namespace {

constexpr int16_t kKeyProfile = 0x21;
constexpr int32_t kLogonMode = 0x2000000;
constexpr char kDictName[] = "zvdbdict";
constexpr int kOnLogon = 25;
constexpr int kOnLogout = 26;
constexpr char kAddTableInstance[] = "zvdbAddTableToDatabase";

using zv::session_of;

// Starts the ISAM layer in the current instance with the session's start
// parameters, each taken as a 16-bit value. The operation-mode word cached
// by the session belonged to the engine before: it is read anew.
int start_engine(tagZVDBSESSION *s) {
    auto param = [s](int i) { return int32_t(int16_t(s->params[i])); };
    int rc = INTISAMX(param(0), param(1), param(2), param(3), int16_t(s->params[4]) | kKeyProfile);
    s->opstatecached = 0;
    int32_t word = 0;
    if (rc == 0 && _zvdbSETOPS(kLogonMode, 2, &word) == 0) {
        s->opstate = word;
        s->opstatecached = 1;
    }
    udfInit();
    return rc;
}

// Stops what start_engine started.
void stop_engine(tagZVDBSESSION *s) {
    udfTerm();
    CLISAM();
    s->opstatecached = 0;
}

// The session dictionary's name: the session path joined with "zvdbdict".
char *dict_name(tagZVDBSESSION *s) { return _zvdb_MakeFilePath(s->path, kDictName, _zvdbGetPathSeparator(s)); }

// Opens the session dictionary, shared unless the session is exclusive; a
// shared open that fails for another reason than another process's hold
// (which the open waits for, and answers 12 past its bound) is tried once
// more exclusively, which then makes the session exclusive (the first
// failure's code stands otherwise).
ZVDBRET open_session_dict(tagZVDBSESSION *s) {
    if (ZVDBRET rc = zv::session_new_dict(s)) return rc;
    char *name = dict_name(s);
    if (!name) return ZVDB_NO_MEMORY;
    ZVDBRET rc = _zvdbOpenDict(s->dict, name, s->exclusive, s->dictinsuper);
    if (rc && !_zvdbDictOpenRefused(rc) && !s->exclusive && _zvdbOpenDict(s->dict, name, 1, s->dictinsuper) == 0) {
        s->exclusive = 1;
        rc = 0;
    }
    _zvdb_free(name);
    if (rc == 0) s->dictinsuper = _zvdbDictInSuperfile(s->dict);
    return rc;
}

// Deactivates every handle of the session's children list: 0 or the first
// failure.
ZVDBRET deactivate_list(ZVDBLIST *list) {
    // A close may take its handle out of the list: walk from the end.
    for (int32_t i = _zvdbListCount(list) - 1; i >= 0; i--) {
        if (i >= _zvdbListCount(list)) continue;
        if (ZVDBRET rc = _zvdbDeactivateChildren(_zvdbListItem(list, i))) return rc;
    }
    return 0;
}

// Runs a session callback slot when it is set: its result, else 0.
ZVDBRET run_session_callback(tagZVDBSESSION *s, int kind) {
    ZvdbRoutine r = s->callbacks[kind];
    return r ? reinterpret_cast<ZVDB_SESSION_CALLBACK>(r)(s) : 0;
}

// Copies of the credentials that are given, made before anything changes:
// 0, or 4001 with nothing kept.
struct Credentials {
    char *text[3] = {};
    ~Credentials() {
        for (char *t : text) _zvdb_free(t);
    }
    ZVDBRET copy(const char *server, const char *user, const char *password) {
        const char *given[3] = {server, user, password};
        for (int i = 0; i < 3; i++) {
            if (given[i] && !(text[i] = _zvdb_strdup(given[i]))) return ZVDB_NO_MEMORY;
        }
        return 0;
    }
    // Moves each copy made into the session (the ones not made stay).
    void store(tagZVDBSESSION *s) {
        char **slot[3] = {&s->server, &s->user, &s->password};
        for (int i = 0; i < 3; i++) {
            if (!text[i]) continue;
            _zvdb_free(*slot[i]);
            *slot[i] = text[i];
            text[i] = nullptr;
        }
    }
};

// Takes the instance of that name for a session with an instance of its
// own: made current, its name copied into the session's buffer.
ZVDBRET take_instance(tagZVDBSESSION *s, const char *name) {
    char copy[ZV_INSTANCE_ID_MAX + 2];
    std::snprintf(copy, sizeof copy, "%s", name);
    if (int rc = _zvdbSWTZARVO(copy)) return rc;
    int32_t n = int32_t(std::strlen(copy));
    if (n >= s->instnamesize) {
        char *grown = _zvdb_stralloc(n);
        if (!grown) return ZVDB_NO_MEMORY;
        _zvdb_free(s->instname);
        s->instname = grown;
        s->instnamesize = n + 1;
    }
    std::memcpy(s->instname, copy, size_t(n) + 1);
    return 0;
}

}  // namespace

extern "C" {

ZVDBRET _zvdbDeactivateChildren(ZVHANDLE handle) {
    if (!handle) return ZVDB_NULL_ARGUMENT;
    switch (zv::handle_kind(handle)) {
    case ZVDB_DATABASE_HANDLE: {
        auto *db = static_cast<tagZVDBDATABASE *>(handle);
        if (!db->connected) return 0;
        if (ZVDBRET rc = deactivate_list(db->tables)) return rc;
        return zvdbDisconnect(db);
    }
    case ZVDB_TABLE_HANDLE:
        return static_cast<tagZVDBTABLE *>(handle)->active ? zvdbCloseTable(handle) : 0;
    case ZVDB_SESSION_HANDLE: {
        auto *s = static_cast<tagZVDBSESSION *>(handle);
        if (!s->loggedon) return 0;
        if (ZVDBRET rc = deactivate_list(s->children)) return rc;
        return zvdbLogout(s);
    }
    default:
        return 0;
    }
}

ZV_API ZVDBRET zvdbLogon(ZVHANDLE handle, const char *server, const char *user, const char *password) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    if (s->loggedon) return zv::keep_code(handle, ZVDB_ACTIVE);
    Credentials given;
    if (ZVDBRET rc = given.copy(server, user, password)) return zv::keep_code(handle, rc);
    given.store(s);
    if (int rc = start_engine(s)) return zv::keep_code(handle, rc);
    s->loggedon = 1;
    s->lockmode = int16_t(zvdbGetLockMode(s));
    if (!s->logononly) {
        if (ZVDBRET rc = open_session_dict(s)) {
            stop_engine(s);
            s->loggedon = 0;
            return zv::keep_code(handle, rc);
        }
    }
    if (ZVDBRET rc = run_session_callback(s, kOnLogon)) {
        // The logon is undone whole: no on-logout callback, engine stopped.
        deactivate_list(s->children);
        _zvdbCloseDict(s->dict);
        stop_engine(s);
        s->loggedon = 0;
        return zv::keep_code(handle, rc);
    }
    return 0;
}

ZV_API ZVDBRET zvdbCreateSession(ZVHANDLE handle, const char *, const char *, const char *) {
    if (!handle) return ZVDB_NULL_HANDLE;
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    if (s->loggedon) return zv::keep_code(handle, ZVDB_ACTIVE);
    if (int rc = start_engine(s)) return zv::keep_code(handle, rc);
    ZVDBRET rc = zv::session_new_dict(s);
    char *name = rc ? nullptr : dict_name(s);
    if (!name) {
        stop_engine(s);
        return zv::keep_code(handle, ZVDB_NO_MEMORY);
    }
    s->loggedon = 1;
    const bool own_transaction = !zvdbIsTransActive(s);
    if (own_transaction) zvdbBegin(s);
    rc = _zvdbCreateDict(s->dict, name, s->dictinsuper);
    if (own_transaction) {
        if (rc == 0) zvdbCommit(s);
        else zvdbAbort(s);
    }
    if (rc == 0) rc = _zvdbDictRenewRecord(s->dict);
    _zvdb_free(name);
    stop_engine(s);
    s->loggedon = 0;
    return zv::keep_code(handle, rc);
}

ZV_API ZVDBRET zvdbAttachSession(ZVHANDLE handle, void *source, int mode, int transaction_active) {
    // Mode 3 takes the instance current at the call, before resolving the
    // handle makes the session's own current.
    zv::InstanceName current;
    zv::current_instance_name(current);
    tagZVDBSESSION *s = zv::session_itself(handle);
    if (!s) return ZVDB_NO_SESSION;
    if (s->loggedon) return zv::keep_code(handle, ZVDB_ACTIVE);
    const char *name = nullptr;
    tagZVDBSESSION *src = nullptr;
    Credentials creds;
    int16_t lockmode = s->lockmode;
    switch (mode) {
    case 1:
        src = zv::session_itself(source);
        if (!src) return zv::keep_code(handle, ZVDB_NO_SESSION);
        if (!src->instname) return zv::keep_code(handle, ZVDB_NULL_ARGUMENT);
        name = src->instname;
        if (ZVDBRET rc = creds.copy(src->server, src->user, src->password)) return zv::keep_code(handle, rc);
        lockmode = int16_t(zvdbGetLockMode(src));
        break;
    case 2:
        name = static_cast<const char *>(source);
        if (!name) return zv::keep_code(handle, ZVDB_NULL_ARGUMENT);
        break;
    case 3:
        if (!current[0]) return zv::keep_code(handle, ZVDB_NULL_ARGUMENT);
        name = current;
        break;
    default:
        return zv::keep_code(handle, ZVDB_BAD_ATTACH_MODE);
    }
    const bool own = zv::has_own_instance(s);
    if (own) {
        if (ZVDBRET rc = take_instance(s, name)) {
            zv::print_own_instance_name(s);
            return zv::keep_code(handle, rc);
        }
    }
    if (mode == 1) {
        creds.store(s);
        s->lockmode = lockmode;
    } else {
        for (char **text : {&s->server, &s->user, &s->password}) *text = static_cast<char *>(_zvdb_free(*text));
    }
    s->tranactive = transaction_active;
    if (!s->logononly) {
        if (ZVDBRET rc = open_session_dict(s)) {
            // Back onto the session's own instance: nothing of the other
            // one stays with it.
            if (own && zv::print_own_instance_name(s) == 0) _zvdbSWTZARVO(s->instname);
            return zv::keep_code(handle, rc);
        }
    }
    s->attachmode = mode;
    s->loggedon = 1;
    return 0;
}

ZV_API ZVDBRET zvdbDetachSession(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    if (!s->attachmode) return zv::keep_code(handle, ZVDB_NOT_ATTACHED);
    if (!s->loggedon) return zv::keep_code(handle, ZVDB_NOT_ACTIVE);
    ZVDBRET rc = zv::session_reset(s);
    ZVDBRET made = zv::session_new_dict(s);
    return zv::keep_code(handle, rc ? rc : made);
}

ZV_API ZVDBRET zvdbLogout(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    if (!s->loggedon) return zv::keep_code(handle, ZVDB_NOT_ACTIVE);
    if (s->attachmode) return zvdbDetachSession(handle);
    const zv::CallerHandle caller(handle);
    if (ZVDBRET rc = zvdbDisconnectAll(s)) return caller.keep(rc);
    for (int32_t i = 0; i < _zvdbListCount(s->children); i++) {
        void *child = _zvdbListItem(s->children, i);
        if (zv::handle_kind(child) != ZVDB_TABLE_HANDLE || !static_cast<tagZVDBTABLE *>(child)->active) continue;
        ZVDBRET rc = zvdbCloseTable(child);
        if (rc != 0 && rc != 26) return caller.keep(rc);
    }
    run_session_callback(s, kOnLogout);
    ZVDBRET rc = zv::session_reset(s);
    udfTerm();
    int stopped = CLISAM();
    s->opstatecached = 0;
    if (rc == 0 && stopped != 0 && stopped != 127 && stopped != 128) rc = stopped;
    ZVDBRET made = zv::session_new_dict(s);
    return caller.keep(rc ? rc : made);
}

ZV_API ZVDBRET zvdbAddTableToDatabase(const char *dbname, const char *dbpath, const char *tablename,
                                      const char *tablepath, void *, void *, int createdb) {
    zv::InstanceName caller;
    zv::current_instance_name(caller);
    ZVDBRET rc = _zvdbREGZARVO(kAddTableInstance);
    if (rc) return rc;
    ZVHANDLE session = zvdbAllocSession(0);
    ZVHANDLE db = nullptr;
    if (!session) {
        rc = 82;
    } else if ((rc = zvdbCreateSession(session, nullptr, nullptr, nullptr)) == 0 || rc == 19) {
        rc = zvdbLogon(session, nullptr, nullptr, nullptr);
        if (rc == 0 && !(db = zvdbAllocDatabase(session))) {
            rc = zvdbGetError(session);
            if (rc == 0) rc = ZVDB_NO_MEMORY;
        }
        if (rc == 0 && createdb) {
            rc = zvdbCreateDatabase(session, dbname, dbpath);
            if (rc == 19 || rc == ZVDB_DATABASE_EXISTS) rc = 0;
        }
        if (rc == 0) rc = zvdbConnect(db, dbname);
        if (rc == 0) {
            zvdbDropTable(db, tablename);
            rc = zvdbAddTable(db, tablename, tablepath);
        }
    }
    if (session) {
        if (zvdbIsActiveSession(session)) zvdbLogout(session);
        if (db) zvdbFreeDatabase(db);
        zvdbFreeSession(session);
    }
    _zvdbUNRZARVO(kAddTableInstance);
    if (caller[0]) _zvdbSWTZARVO(caller);
    return rc;
}

}  // extern "C"

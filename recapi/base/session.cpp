// Session records: allocation and freeing with the session's own engine
// instance, the reset after logout or detach, the session's settings (the
// default date and time text forms among them), its databases (the entries
// of its dictionary and the connected ones), and the product, configuration
// and clock queries made through a session.
//
// Every entry resolves its handle first, which makes the session's instance
// current, so the engine calls that follow act on that instance.
#include "recapi/base/session.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "recapi/base/list.h"
#include "recapi/base/paths.h"
#include "recapi/base/transact.h"
#include "recapi/base/wrappers.h"
#include "zarvo/zarvo.h"

namespace {

constexpr int32_t kDefaultParams[kZvdbStartParams] = {10, 32, 32, 10, 513};
constexpr char kProductName[] = "ZarvoCore";
constexpr int32_t kVersionBufferMin = 40;
constexpr int32_t kConfigItems = ZV_SYSCFG_SIZE / int32_t(sizeof(int32_t));

// The allocation hooks a session carries for its callers.
void *on_alloc(int32_t size) { return _zvdb_alloc(1, size); }
void on_free(void *block) { _zvdb_free(block); }

void set_defaults(tagZVDBSESSION *s) {
    for (int i = 0; i < kZvdbStartParams; i++) s->params[i] = kDefaultParams[i];
    s->defdatetype = 1;
    s->deftimetype = 2;
}

// Frees the strings, lists and name of a session record and the record;
// unregisters its instance when `registered`.
void free_record(tagZVDBSESSION *s, bool registered) {
    _zvdbFreeDict(s->dict);
    _zvdbListFree(s->children);
    _zvdbListFree(s->databases);
    zv::drop_list_clear(s);
    _zvdbListFree(s->droplist);
    _zvdbListFree(s->freebatches);
    for (char *text : {s->server, s->user, s->password, s->path, s->floatformat, s->temppath, s->pathprefix}) {
        _zvdb_free(text);
    }
    if (registered) _zvdbUNRZARVO(s->instname);
    _zvdb_free(s->instname);
    _zvdb_free(s);
}

// Copies text into a caller's buffer when it fits with its end: 0, 4006.
ZVDBRET put_text(char *out, int32_t size, const char *text) {
    size_t n = std::strlen(text);
    if (size < 1 || n >= size_t(size)) return ZVDB_BUFFER_SMALL;
    std::memcpy(out, text, n + 1);
    return 0;
}

// The configuration record of the engine, or the read's code.
ZVDBRET read_config(int32_t (&cfg)[kConfigItems]) { return _zvdbSYSCFG(cfg); }

// One database entry of the session dictionary into the caller's buffers.
ZVDBRET entry_out(ZVHANDLE handle, ZVDBRET rc, const ZVDBDICTENTRY &e, char *name, int32_t namesize,
                  char *path, int32_t pathsize) {
    if (rc == 0) rc = zv::database_entry_text(e, _zvdbGetPathSeparator(handle), name, namesize, path, pathsize);
    return zv::keep_code(handle, rc);
}

}  // namespace

namespace zv {

ZVDBRET keep_code(ZVHANDLE handle, ZVDBRET rc) {
    if (rc) zvdbSetError(handle, rc);
    return rc;
}

namespace {

bool list_holds(const ZVDBLIST *list, const void *h) {
    for (int32_t i = 0; i < _zvdbListCount(list); i++) {
        if (_zvdbListItem(list, i) == h) return true;
    }
    return false;
}

bool index_holds(const tagZVDBINDEX *ix, const void *h) { return ix && (ix == h || list_holds(ix->segments, h)); }

// Whether h is still one of the table's handles; only addresses are
// compared, so h may be a handle already freed.
bool table_holds(const tagZVDBTABLE *t, const void *h) {
    if (list_holds(t->fields, h) || list_holds(t->ftis, h)) return true;
    if (index_holds(t->recbytindex, h) || index_holds(t->rowidindex, h)) return true;
    for (const ZVDBLIST *list : {t->indexes, t->droppedindexes}) {
        for (int32_t i = 0; i < _zvdbListCount(list); i++) {
            if (index_holds(static_cast<const tagZVDBINDEX *>(_zvdbListItem(list, i)), h)) return true;
        }
    }
    return false;
}

}  // namespace

CallerHandle::CallerHandle(ZVHANDLE handle) : handle_(handle) {
    if (!handle) return;
    switch (handle_kind(handle)) {
    case ZVDB_FIELD_HANDLE: table_ = static_cast<tagZVDBFIELD *>(handle)->table; break;
    case ZVDB_INDEX_HANDLE: table_ = static_cast<tagZVDBINDEX *>(handle)->table; break;
    case ZVDB_SEGMENT_HANDLE: {
        const tagZVDBINDEX *ix = static_cast<tagZVDBSEGMENT *>(handle)->index;
        table_ = ix ? ix->table : nullptr;
        break;
    }
    case ZVDB_FTI_HANDLE: table_ = static_cast<tagZVDBFTI *>(handle)->table; break;
    default: break;
    }
}

ZVDBRET CallerHandle::keep(ZVDBRET rc) const {
    if (!rc) return 0;
    return keep_code(!table_ || table_holds(table_, handle_) ? handle_ : table_, rc);
}

void current_instance_name(InstanceName &name) {
    name[0] = 0;
    if (const char *cur = _zvdbWCHZARVO()) std::snprintf(name, sizeof name, "%s", cur);
}

tagZVDBSESSION *session_of(ZVHANDLE handle) {
    return static_cast<tagZVDBSESSION *>(zvdbGetSessionHandle(handle));
}

tagZVDBSESSION *session_itself(ZVHANDLE handle) {
    if (!handle || handle_kind(handle) != ZVDB_SESSION_HANDLE) return nullptr;
    return session_of(handle);
}

bool has_own_instance(const tagZVDBSESSION *s) { return s->instnamesize > 0 && !s->sharedinst; }

ZVDBRET print_own_instance_name(tagZVDBSESSION *s) {
    if (!s->instname || s->instnamesize < kZvdbInstanceNameSize) {
        char *grown = _zvdb_stralloc(kZvdbInstanceNameSize - 1);
        if (!grown) return ZVDB_NO_MEMORY;
        _zvdb_free(s->instname);
        s->instname = grown;
        s->instnamesize = kZvdbInstanceNameSize;
    }
    std::snprintf(s->instname, size_t(s->instnamesize), "%p", static_cast<void *>(s));
    return 0;
}

ZVDBRET replace_text(char **slot, const char *text) {
    char *copy = nullptr;
    if (text && !(copy = _zvdb_strdup(text))) return ZVDB_NO_MEMORY;
    _zvdb_free(*slot);
    *slot = copy;
    return 0;
}

ZVDBRET session_reset(tagZVDBSESSION *s) {
    if (s->dict) {
        _zvdbCloseDict(s->dict);
        _zvdbFreeDict(s->dict);
        s->dict = nullptr;
    }
    s->kind = ZVDB_SESSION_HANDLE;
    s->loggedon = 0;
    for (char **text : {&s->server, &s->user, &s->password, &s->path, &s->floatformat, &s->temppath}) {
        *text = static_cast<char *>(_zvdb_free(*text));
    }
    s->lockmode = 0;
    s->lasterror = 0;
    s->tranactive = 0;
    s->tranmode = 0;
    s->attachmode = 0;
    set_defaults(s);
    ZVDBRET rc = has_own_instance(s) ? print_own_instance_name(s) : 0;
    s->dictinsuper = 1;
    _zvdbListClear(s->databases);
    return rc;
}

ZVDBRET session_new_dict(tagZVDBSESSION *s) {
    if (s->dict) return 0;
    s->dict = _zvdbAllocDict(s, 1);
    return s->dict ? 0 : ZVDB_NO_MEMORY;
}

ZVDBRET format_version(uint32_t v, uint32_t build, uint32_t base, char *out, int32_t size) {
    char text[80];
    if (v > 0xC0000000u) {
        uint32_t a = 0, b = 0, c = 0;
        zvGetVERSIONID2(build, &a, &b);
        zvGetVERSIONID_BASE(base, &c);
        const unsigned major = ((v >> 25) & 31) + 10, minor = (v >> 20) & 31, patch = v & 0xFFFFF;
        if (b == 0) {
            std::snprintf(text, sizeof text, "V%u.%u.%u", major, minor, patch);
        } else if (c == 0) {
            std::snprintf(text, sizeof text, "V%u.%u.%u.%u(Build-%u)", major, minor, a, patch, b);
        } else {
            std::snprintf(text, sizeof text, "V%u.%u.%u.%u(Build-%u-%u)", major, minor, a, patch, b, c);
        }
    } else if (v > 0xA9000000u) {
        std::snprintf(text, sizeof text, "V%x.%x.%x", (v >> 24) - 160, (v >> 20) & 15, v & 0xFFFFF);
    } else if (v > 0xA0000000u) {
        std::snprintf(text, sizeof text, "V%x.%x.%x", (v >> 24) - 160, (v >> 12) & 0xFFF, v & 0xFFF);
    } else if ((v & 0xFFFF) > 4657) {
        std::snprintf(text, sizeof text, "0x%x", v);
    } else {
        std::snprintf(text, sizeof text, "V%x.%02x(%04x)", v >> 24, (v >> 16) & 255, v & 0xFFFF);
    }
    return put_text(out, size, text);
}

ZVDBRET database_entry_text(const ZVDBDICTENTRY &e, int sep, char *name, int32_t namesize, char *path,
                            int32_t pathsize) {
    char full[sizeof e.path + sizeof e.physname + sizeof e.supext + 2];
    if (e.path[0]) {
        std::snprintf(full, sizeof full, "%s%c%s%s", e.path, char(sep), e.physname, e.supext);
    } else {
        std::snprintf(full, sizeof full, "%s%s", e.physname, e.supext);
    }
    if (name && (namesize < 1 || std::strlen(e.name) >= size_t(namesize))) return ZVDB_BUFFER_SMALL;
    if (path && (pathsize < 1 || std::strlen(full) >= size_t(pathsize))) return ZVDB_BUFFER_SMALL;
    if (name) std::memcpy(name, e.name, std::strlen(e.name) + 1);
    if (path) std::memcpy(path, full, std::strlen(full) + 1);
    return 0;
}

}  // namespace zv

using zv::session_of;

extern "C" {

ZV_API ZVHANDLE zvdbAllocSession(ZVSESSION_TYPE type) {
    if (type != 0 && type != 1 && type != 3 && type != 4) return nullptr;
    auto *s = static_cast<tagZVDBSESSION *>(_zvdb_alloc(1, sizeof(tagZVDBSESSION)));
    if (!s) return nullptr;
    zv::InstanceName previous;
    zv::current_instance_name(previous);
    s->dicttranmode = 3;
    s->dictinsuper = 1;
    bool registered = false;
    bool ok = (s->databases = _zvdbListAlloc()) && (s->children = _zvdbListAlloc()) &&
              (s->droplist = _zvdbListAlloc());
    if (ok && (type == 0 || type == 1)) {
        s->instnamesize = kZvdbInstanceNameSize;
        ok = zv::print_own_instance_name(s) == 0 && _zvdbREGZARVO(s->instname) == 0;
        registered = ok;
    }
    s->kind = ZVDB_SESSION_HANDLE;
    ok = ok && (s->server = _zvdb_strdup("QUENRITS")) && (s->user = _zvdb_strdup("")) &&
         (s->password = _zvdb_strdup(""));
    set_defaults(s);
    s->isolation = -1;
    s->sesstype = type == 4 ? 1 : type;
    s->logononly = type == 1 || type == 4;
    s->sharedinst = type == 4;
    s->onalloc = on_alloc;
    s->onfree = on_free;
    ok = ok && (s->dict = _zvdbAllocDict(s, 1)) != nullptr;
    if (ok) return s;
    free_record(s, registered);
    if (previous[0]) _zvdbSWTZARVO(previous);
    return nullptr;
}

ZV_API ZVDBRET zvdbFreeSession(ZVHANDLE handle) {
    if (!handle) return ZVDB_NULL_HANDLE;
    tagZVDBSESSION *s = session_of(handle);
    // A session whose instance is gone (unregistered by another) cannot be
    // made current; it is freed all the same, without engine calls.
    const bool reachable = s != nullptr;
    if (!s && zv::handle_kind(handle) == ZVDB_SESSION_HANDLE) s = static_cast<tagZVDBSESSION *>(handle);
    if (!s) return ZVDB_NO_SESSION;
    if (reachable && s->loggedon) _zvdbDeactivateChildren(s);
    if (reachable) _zvdbCloseDict(s->dict);
    _zvdbUnlinkChildren(s, ZVDB_SESSION_HANDLE);
    if (reachable && s->cblibhandle) zvdbUnLoadCallbackLib(s, 1);
    // The instance registered at allocation goes with the session; its name
    // is printed again first, so that a session left attached never takes
    // another's instance with it.
    bool own = s->instnamesize > 0 && zv::print_own_instance_name(s) == 0;
    free_record(s, own);
    return 0;
}

ZV_API int zvdbGetAttachMode(ZVHANDLE handle) {
    tagZVDBSESSION *s = zv::session_itself(handle);
    return s ? s->attachmode : 0;
}

ZV_API ZVDBRET zvdbSetSessionType(ZVHANDLE handle, ZVSESSION_TYPE type) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    if (type != 0 && type != 1 && type != 4) return zv::keep_code(handle, ZVDB_BAD_SESSION_TYPE);
    s->sesstype = type == 4 ? 1 : type;
    s->logononly = s->sesstype;
    s->sharedinst = type == 4;
    return 0;
}

ZV_API ZVSESSION_TYPE zvdbGetSessionType(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    return s ? s->sesstype : 0;
}

ZV_API int32_t zvdbGetSessionParams(ZVHANDLE handle, ZVSESSION_PARAM n) {
    tagZVDBSESSION *s = session_of(handle);
    return s && n >= 1 && n <= kZvdbStartParams ? s->params[n - 1] : 0;
}

ZV_API ZVDBRET zvdbSetSessionParams(ZVHANDLE handle, ZVSESSION_PARAM n, int32_t value) {
    if (!handle) return ZVDB_NULL_HANDLE;
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    if (n < 1 || n > kZvdbStartParams) return zv::keep_code(handle, ZVDB_BAD_ARGUMENT);
    s->params[n - 1] = value;
    return 0;
}

ZV_API const char *zvdbGetServerName(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    return s ? s->server : nullptr;
}

ZV_API const char *zvdbGetUserLogonName(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    return s ? s->user : nullptr;
}

ZV_API const char *zvdbGetUserPassword(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    return s ? s->password : nullptr;
}

ZV_API int zvdbIsActiveSession(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    return s ? s->loggedon : 0;
}

ZV_API ZVDBRET zvdbSetSessionPath(ZVHANDLE handle, const char *path) {
    if (!handle) return ZVDB_NULL_HANDLE;
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    return zv::keep_code(handle, zv::replace_text(&s->path, path));
}

ZV_API ZVDBRET zvdbGetSessionPath(ZVHANDLE handle, char *buffer, int32_t size) {
    if (!handle) return ZVDB_NULL_HANDLE;
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    if (!buffer) return zv::keep_code(handle, ZVDB_BAD_ARGUMENT);
    return zv::keep_code(handle, put_text(buffer, size, s->path ? s->path : ""));
}

ZV_API ZVDBRET zvdbSetDefFloatFormat(ZVHANDLE handle, const char *format) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    return zv::keep_code(handle, zv::replace_text(&s->floatformat, format));
}

ZV_API const char *zvdbGetDefFloatFormat(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    return s && s->floatformat ? s->floatformat : "%g";
}

ZV_API ZVDATE_TYPE zvdbGetDefDateType(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    return s ? s->defdatetype : 0;
}

ZV_API ZVDBRET zvdbSetDefDateType(ZVHANDLE handle, ZVDATE_TYPE type) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    if (type < 1 || type > 6) return ZVDB_BAD_FORMAT;
    s->defdatetype = type;
    return 0;
}

ZV_API ZVTIME_TYPE zvdbGetDefTimeType(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    return s ? s->deftimetype : 0;
}

ZV_API ZVDBRET zvdbSetDefTimeType(ZVHANDLE handle, ZVTIME_TYPE type) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    if (type < 1 || type > 11) return ZVDB_BAD_TYPE;
    s->deftimetype = type;
    return 0;
}

ZV_API ZVDBRET zvdbSetLogonOnly(ZVHANDLE handle, int flag) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    s->logononly = flag;
    return 0;
}

ZV_API int zvdbGetLogonOnly(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    return s ? s->logononly : 0;
}

ZV_API ZVDBRET zvdbSetSessionExclusive(ZVHANDLE handle, int flag) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    s->exclusive = flag;
    return 0;
}

ZV_API int zvdbIsSessionExclusive(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    return s ? s->exclusive : 0;
}

ZV_API ZVDBRET zvdbSetDictTranMode(ZVHANDLE handle, int mode) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    s->dicttranmode = mode;
    return 0;
}

ZV_API ZVDBRET zvdbSetTempPath(ZVHANDLE handle, const char *path) {
    if (!handle) return 0;
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    if (s->loggedon) return zv::keep_code(handle, ZVDB_ACTIVE);
    if (!path) return zv::keep_code(handle, ZVDB_BAD_KIND);
    return zv::keep_code(handle, zv::replace_text(&s->temppath, path));
}

ZV_API ZVDBRET zvdbSwitchInstance(ZVHANDLE handle) { return session_of(handle) ? 0 : ZVDB_NO_SESSION; }

ZV_API ZVDBRET zvdbSetCurrentNodeName(ZVHANDLE handle, const char *name) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    if (!s->loggedon) return zv::keep_code(handle, ZVDB_NOT_ACTIVE);
    return zv::keep_code(handle, SETNODE(name));
}

ZV_API ZVDBRET zvdbFirstDatabase(ZVHANDLE handle, char *name, int32_t namesize, char *path, int32_t pathsize) {
    if (!session_of(handle)) return ZVDB_NO_SESSION;
    if (!name && !path) return zv::keep_code(handle, ZVDB_NULL_ARGUMENT);
    ZVDBDICTENTRY e;
    ZVDBRET rc = _zvdbDictFirstDatabase(handle, &e);
    return entry_out(handle, rc, e, name, namesize, path, pathsize);
}

ZV_API ZVDBRET zvdbNextDatabase(ZVHANDLE handle, char *name, int32_t namesize, char *path, int32_t pathsize) {
    if (!session_of(handle)) return ZVDB_NO_SESSION;
    if (!name && !path) return zv::keep_code(handle, ZVDB_NULL_ARGUMENT);
    ZVDBDICTENTRY e;
    ZVDBRET rc = _zvdbDictNextDatabase(handle, &e);
    return entry_out(handle, rc, e, name, namesize, path, pathsize);
}

ZV_API ZVDBRET zvdbFindDatabase(ZVHANDLE handle, const char *name, char *path, int32_t pathsize) {
    if (!session_of(handle)) return ZVDB_NO_SESSION;
    if (!name || !path) return zv::keep_code(handle, ZVDB_NULL_ARGUMENT);
    ZVDBDICTENTRY e;
    ZVDBRET rc = _zvdbDictFindDatabase(handle, name, &e);
    return entry_out(handle, rc, e, nullptr, 0, path, pathsize);
}

ZV_API ZVDBRET zvdbFindDatabaseByUID(ZVHANDLE handle, uint32_t uid, char *name, int32_t namesize, char *path,
                                     int32_t pathsize) {
    if (!session_of(handle)) return ZVDB_NO_SESSION;
    if (!name || !path) return zv::keep_code(handle, ZVDB_NULL_ARGUMENT);
    ZVDBDICTENTRY e;
    ZVDBRET rc = _zvdbDictFindDatabaseByUID(handle, uid, &e);
    return entry_out(handle, rc, e, name, namesize, path, pathsize);
}

ZV_API int32_t zvdbGetDatabaseCount(ZVHANDLE handle) {
    if (!session_of(handle)) return -1;
    return _zvdbDictGetDatabaseCount(handle);
}

ZV_API ZVHANDLE zvdbGetFirstActiveDatabase(ZVHANDLE handle, int *index) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s || !index) {
        zvdbSetError(handle, s ? ZVDB_NULL_ARGUMENT : ZVDB_NO_SESSION);
        return nullptr;
    }
    *index = 0;
    return _zvdbListItem(s->databases, 0);
}

ZV_API ZVHANDLE zvdbGetNextActiveDatabase(ZVHANDLE handle, int *index) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s || !index) {
        zvdbSetError(handle, s ? ZVDB_NULL_ARGUMENT : ZVDB_NO_SESSION);
        return nullptr;
    }
    *index += 1;
    return _zvdbListItem(s->databases, *index);
}

ZV_API ZVHANDLE zvdbFindActiveDatabase(ZVHANDLE handle, const char *name) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s || !name) return nullptr;
    for (int32_t i = 0; i < _zvdbListCount(s->databases); i++) {
        auto *db = static_cast<tagZVDBDATABASE *>(_zvdbListItem(s->databases, i));
        if (db->name && strcasecmp(db->name, name) == 0) return db;
    }
    return nullptr;
}

ZV_API ZVHANDLE zvdbFindActiveDatabaseByUID(ZVHANDLE handle, uint32_t uid) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return nullptr;
    for (int32_t i = 0; i < _zvdbListCount(s->databases); i++) {
        void *db = _zvdbListItem(s->databases, i);
        uint32_t got = 0;
        if (zvdbGetActiveDatabaseUID(db, &got) == 0 && got == uid) return db;
    }
    return nullptr;
}

ZV_API ZVDBRET zvdbGetProductName(ZVHANDLE handle, char *buffer, int32_t size) {
    if (!buffer) return zv::keep_code(handle, ZVDB_NULL_ARGUMENT);
    return zv::keep_code(handle, put_text(buffer, size, kProductName));
}

ZV_API ZVDBRET zvdbGetProductVersion(ZVHANDLE handle, char *buffer, int32_t size) {
    if (!buffer) return zv::keep_code(handle, ZVDB_NULL_ARGUMENT);
    if (size < kVersionBufferMin) return zv::keep_code(handle, ZVDB_BUFFER_SMALL);
    int32_t cfg[kConfigItems];
    if (ZVDBRET rc = read_config(cfg)) return zv::keep_code(handle, rc);
    return zv::keep_code(handle, zv::format_version(uint32_t(cfg[ZV_SYSCFG_VERSION_WORD]), uint32_t(cfg[ZV_SYSCFG_BUILD_ID]),
                                           uint32_t(cfg[ZV_SYSCFG_BUILD_BASE]), buffer, size));
}

ZV_API ZVDBRET zvdbGetMaxConnections(ZVHANDLE handle, int32_t *out) {
    if (!out) return zv::keep_code(handle, ZVDB_NULL_ARGUMENT);
    int32_t cfg[kConfigItems];
    if (ZVDBRET rc = read_config(cfg)) return zv::keep_code(handle, rc);
    *out = cfg[ZV_SYSCFG_MAX_CONNECTIONS];
    return 0;
}

ZV_API int32_t zvdbGetSystemConfig(int item) {
    int32_t cfg[kConfigItems];
    if (item < 0 || item > 255 || read_config(cfg) != 0) return 0;
    return cfg[item];
}

ZV_API ZVDATETIME zvdbServerDateTime(ZVHANDLE handle) {
    tagZVDBSESSION *s = session_of(handle);
    if (!s) return 0;
    ZVDATETIME out = 0;
    ZVDBRET rc = ZVDB_NOT_ACTIVE;
    if (s->loggedon) {
        int year, month, day, hour, minute, second;
        rc = _zvdbSysTime(&year, &month, &day, &hour, &minute, &second);
        if (rc == 0) rc = zvdbDateTimePack(&out, year, month, day, hour, minute, second);
        if (rc) out = 0;
    }
    zvdbSetError(handle, rc);
    return out;
}

ZV_API ZVDBRET zvdbSETENCRYPT(const char *code, const char *key, int32_t keylen) {
    return zvSETENCRYPT(code, key, keylen);
}

}  // extern "C"

// Database entries of the session dictionary: one entry (type 1) per
// database with its name, directory and whether its dictionary is a
// superfile host (SUPEXT ".qdd"). Every operation runs under the session
// lock of its session dictionary (dictionary.h).
#include "recapi/base/session.h"
#include "recapi/catalog/dictionary.h"

using namespace zv::dict;
using zv::keep_code;

namespace {

constexpr char kDictExtension[] = ".qdd";

// Reads the database entry a walk or find positioned on: 0, or the code.
ZVDBRET read_current(ZVDBDICT *d, ZVDBRET rc, ZVDBDICTENTRY *entry) { return rc ? rc : _zvdbGetDict(d, entry); }

// The session dictionary and an entry buffer of a read: 0, 4007, 4003, 4058,
// 4012.
ZVDBRET reader(ZVHANDLE handle, ZVDBDICTENTRY *entry, ZVDBDICT **d) {
    if (ZVDBRET rc = session_dict(handle, d)) return rc;
    return entry ? 0 : keep_code(handle, ZVDB_NULL_ARGUMENT);
}

}  // namespace

extern "C" {

ZV_API ZVDBRET _zvdbDictAddDatabase(ZVHANDLE handle, const char *name, const char *path, int insuper) {
    ZVDBDICT *d;
    if (ZVDBRET rc = session_dict(handle, &d)) return rc;
    if (!name) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    return adding(handle, d, [&]() -> ZVDBRET {
        ZVDBRET rc = _zvdbFindDict(d, ZVDBDICT_DATABASE, 0, name);
        if (rc == 0) return ZVDB_DATABASE_EXISTS;
        if (rc != 101) return rc;
        ZVDBDICTENTRY e;
        if ((rc = new_entry(e, ZVDBDICT_DATABASE, name))) return rc;
        if (!put_text(e.path, sizeof e.path, path)) return ZVDB_NAME_TOO_LONG;
        if (insuper) put_text(e.supext, sizeof e.supext, kDictExtension);
        return handed_or_undone(add_entry(d, e), [&] { _zvdbRemoveDictByUID(d, e.uid); });
    });
}

ZV_API ZVDBRET _zvdbDictDropDatabase(ZVHANDLE handle, const char *name) {
    ZVDBDICT *d;
    if (ZVDBRET rc = session_dict(handle, &d)) return rc;
    if (!name) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    return locked(handle, d, kWrite, [&] { return _zvdbRemoveDict(d, ZVDBDICT_DATABASE, 0, name); });
}

ZV_API ZVDBRET _zvdbDictFirstDatabase(ZVHANDLE handle, ZVDBDICTENTRY *entry) {
    ZVDBDICT *d;
    if (ZVDBRET rc = reader(handle, entry, &d)) return rc;
    return locked(handle, d, kRead,
                  [&] { return read_current(d, _zvdbFirstDict(d, ZVDBDICT_DATABASE, 0), entry); });
}

ZV_API ZVDBRET _zvdbDictNextDatabase(ZVHANDLE handle, ZVDBDICTENTRY *entry) {
    ZVDBDICT *d;
    if (ZVDBRET rc = reader(handle, entry, &d)) return rc;
    return locked(handle, d, kRead, [&] { return read_current(d, _zvdbNextDict(d, ZVDBDICT_DATABASE, 0), entry); });
}

ZV_API ZVDBRET _zvdbDictFindDatabase(ZVHANDLE handle, const char *name, ZVDBDICTENTRY *entry) {
    ZVDBDICT *d;
    if (ZVDBRET rc = reader(handle, entry, &d)) return rc;
    if (!name) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    return locked(handle, d, kRead, [&] { return read_entry(d, ZVDBDICT_DATABASE, 0, name, *entry); });
}

ZV_API ZVDBRET _zvdbDictFindDatabaseByUID(ZVHANDLE handle, uint32_t uid, ZVDBDICTENTRY *entry) {
    ZVDBDICT *d;
    if (ZVDBRET rc = reader(handle, entry, &d)) return rc;
    return locked(handle, d, kRead, [&]() -> ZVDBRET {
        ZVDBRET rc = read_current(d, _zvdbFindDictByUID(d, uid), entry);
        return rc == 0 && entry->type != ZVDBDICT_DATABASE ? 101 : rc;
    });
}

ZV_API int32_t _zvdbDictGetDatabaseCount(ZVHANDLE handle) {
    ZVDBDICT *d;
    if (session_dict(handle, &d)) return -1;
    int32_t n = 0;
    return locked(handle, d, kRead, [&] { return count(d, ZVDBDICT_DATABASE, 0, &n); }) ? -1 : n;
}

ZV_API ZVDBRET _zvdbDictGetDatabaseUID(ZVHANDLE handle, const char *name, uint32_t *uid) {
    if (!uid) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    ZVDBDICTENTRY e;
    ZVDBRET rc = _zvdbDictFindDatabase(handle, name, &e);
    if (rc == 0) *uid = e.uid;
    return rc;
}

}  // extern "C"

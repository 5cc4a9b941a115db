// Least stand-ins of the dictionary and database routines that the session
// layer calls (dict_calls.h), until the dictionaries and databases are
// built: the dictionary object exists and opens and closes as the test
// hooks of dict_standin.h say; every other routine answers 4054 (the
// table routines of a database too: no database handle can be made yet,
// so the table branches that call them are not reached). No database is
// ever connected, so a session's connected list stays empty.
#include "recapi/catalog/dict_calls.h"
#include "recapi/catalog/dict_standin.h"

struct ZVDBDICT {
    tagZVDBSESSION *session;
    int32_t kind;
    int32_t open;
    int32_t exclusive;
};

namespace {

const zv::DictStandInHooks *g_hooks = nullptr;

}  // namespace

namespace zv {

void set_dict_standin_hooks(const DictStandInHooks *hooks) { g_hooks = hooks; }

}  // namespace zv

extern "C" {

ZVDBDICT *_zvdbAllocDict(ZVHANDLE handle, int kind) {
    auto *d = static_cast<ZVDBDICT *>(_zvdb_alloc(1, sizeof(ZVDBDICT)));
    if (!d) {
        zvdbSetError(handle, ZVDB_NO_MEMORY);
        return nullptr;
    }
    d->session = static_cast<tagZVDBSESSION *>(zvdbGetSessionHandle(handle));
    d->kind = kind;
    return d;
}

ZVDBRET _zvdbFreeDict(ZVDBDICT *dict) {
    _zvdb_free(dict);
    return 0;
}

ZVDBRET _zvdbOpenDict(ZVDBDICT *dict, const char *name, int exclusive, int trysuper) {
    if (!dict || !name) return ZVDB_BAD_KIND;
    int rc = g_hooks && g_hooks->open ? g_hooks->open(name, exclusive, trysuper) : ZVDB_NOT_SUPPORTED;
    if (rc == 0) {
        dict->open = 1;
        dict->exclusive = exclusive;
    }
    return rc;
}

ZVDBRET _zvdbCreateDict(ZVDBDICT *dict, const char *name, int insuper) {
    if (!dict || !name) return ZVDB_BAD_KIND;
    return g_hooks && g_hooks->create ? g_hooks->create(name, insuper) : ZVDB_NOT_SUPPORTED;
}

ZVDBRET _zvdbCloseDict(ZVDBDICT *dict) {
    if (dict) dict->open = 0;
    return 0;
}

int _zvdbDictInSuperfile(ZVDBDICT *) { return 0; }

ZVDBRET _zvdbDictRenewRecord(ZVDBDICT *) { return ZVDB_NOT_SUPPORTED; }

ZVDBRET _zvdbDictFirstDatabase(ZVHANDLE, ZVDBDICTENTRY *) { return ZVDB_NOT_SUPPORTED; }
ZVDBRET _zvdbDictNextDatabase(ZVHANDLE, ZVDBDICTENTRY *) { return ZVDB_NOT_SUPPORTED; }
ZVDBRET _zvdbDictFindDatabase(ZVHANDLE, const char *, ZVDBDICTENTRY *) { return ZVDB_NOT_SUPPORTED; }
ZVDBRET _zvdbDictFindDatabaseByUID(ZVHANDLE, uint32_t, ZVDBDICTENTRY *) { return ZVDB_NOT_SUPPORTED; }
int32_t _zvdbDictGetDatabaseCount(ZVHANDLE) { return -1; }

ZVHANDLE zvdbAllocDatabase(ZVHANDLE session) {
    zvdbSetError(session, ZVDB_NOT_SUPPORTED);
    return nullptr;
}

ZVDBRET zvdbFreeDatabase(ZVHANDLE) { return ZVDB_NOT_SUPPORTED; }
ZVDBRET zvdbCreateDatabase(ZVHANDLE, const char *, const char *) { return ZVDB_NOT_SUPPORTED; }
ZVDBRET zvdbConnect(ZVHANDLE, const char *) { return ZVDB_NOT_SUPPORTED; }
ZVDBRET zvdbDisconnect(ZVHANDLE) { return ZVDB_NOT_SUPPORTED; }

ZVDBRET zvdbDisconnectAll(ZVHANDLE session) {
    auto *s = static_cast<tagZVDBSESSION *>(zvdbGetSessionHandle(session));
    if (!s) return ZVDB_NO_SESSION;
    // A disconnect removes its database from the list: walk from the end.
    for (int32_t i = _zvdbListCount(s->databases) - 1; i >= 0; i--) {
        if (ZVDBRET rc = zvdbDisconnect(_zvdbListItem(s->databases, i))) return rc;
    }
    return 0;
}

ZVDBRET zvdbDropTable(ZVHANDLE, const char *) { return ZVDB_NOT_SUPPORTED; }
ZVDBRET zvdbAddTable(ZVHANDLE, const char *, const char *) { return ZVDB_NOT_SUPPORTED; }
ZVDBRET zvdbGetActiveDatabaseUID(ZVHANDLE, uint32_t *) { return ZVDB_NOT_SUPPORTED; }

ZVDBRET zvdbFindTable(ZVHANDLE, const char *, char *, int32_t) { return ZVDB_NOT_SUPPORTED; }
ZVDBRET zvdbAddTableXtd(ZVHANDLE, const char *, const char *, const char *) { return ZVDB_NOT_SUPPORTED; }
ZVDBRET zvdbDeleteTable(ZVHANDLE, const char *, const char *) { return ZVDB_NOT_SUPPORTED; }
ZVDBRET _zvdbDictFindTable(ZVHANDLE, const char *, ZVDBDICTENTRY *) { return ZVDB_NOT_SUPPORTED; }
ZVDBRET _zvdbDictFindTableByUID(ZVHANDLE, uint32_t, ZVDBDICTENTRY *) { return ZVDB_NOT_SUPPORTED; }
ZVDBRET _zvdbAddActiveTable(ZVHANDLE, ZVHANDLE) { return ZVDB_NOT_SUPPORTED; }
ZVDBRET _zvdbRemoveActiveTable(ZVHANDLE, ZVHANDLE) { return ZVDB_NOT_SUPPORTED; }

}  // extern "C"

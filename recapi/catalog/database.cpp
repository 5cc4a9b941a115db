// Database handles: allocation, connect and disconnect, creation, adding,
// dropping and deleting databases through the session dictionary, and the
// public operations on the table entries of a connected database's
// dictionary (registering, finding, dropping and deleting tables), with the
// database's list of open tables.
//
// Deleting orders its steps so that the catalogue never names what is gone
// without saying so: the files go first and the entry last. A failure keeps
// the entry; a repeat with the drop-delete option finishes, taking missing
// files (12) as already deleted.
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "recapi/base/making.h"
#include "engine/core/platform.h"
#include "recapi/base/paths.h"
#include "recapi/base/session.h"
#include "recapi/base/transact.h"
#include "recapi/base/wrappers.h"
#include "recapi/catalog/dict_calls.h"
#include "recapi/catalog/dictionary.h"
#include "recapi/schema/table_calls.h"

using namespace zv::dict;
using zv::keep_code;

namespace {

constexpr int kOnConnect = 23;
constexpr int kOnDisconnect = 24;
constexpr int32_t kMaxName = 127;
constexpr int32_t kMaxPath = 254;
constexpr int kNotFound = 12;
constexpr int32_t kTransactionControl = 16;
constexpr int64_t kMember = 2;  // file kind (GETFIL 23) of a superfile member

tagZVDBDATABASE *database_of(ZVHANDLE handle) { return static_cast<tagZVDBDATABASE *>(zvdbGetDatabaseHandle(handle)); }

// The handle as a database handle, or NULL with 4010 kept.
tagZVDBDATABASE *database_or_code(ZVHANDLE handle) {
    tagZVDBDATABASE *db = database_of(handle);
    if (!db) keep_code(handle, ZVDB_NO_DATABASE);
    return db;
}

// The file-name part of a database name into out: 0, 4007, 4043.
ZVDBRET database_name(ZVHANDLE handle, const char *name, char (&out)[256]) {
    if (!name) return ZVDB_NULL_ARGUMENT;
    if (_zvdb_GetFileName(name, out, int32_t(sizeof out), _zvdbGetPathSeparator(handle))) return ZVDB_NAME_TOO_LONG;
    return std::strlen(out) > size_t(kMaxName) ? ZVDB_NAME_TOO_LONG : 0;
}

// The logged-on session of a call on a database of the session dictionary
// and the database's name: 0, 4003, 4012, the name's codes (kept).
ZVDBRET session_and_name(ZVHANDLE handle, const char *name, tagZVDBSESSION **s, char (&base)[256]) {
    if (!(*s = zv::session_of(handle))) return ZVDB_NO_SESSION;
    if (!(*s)->loggedon) return keep_code(handle, ZVDB_NOT_ACTIVE);
    return keep_code(handle, database_name(handle, name, base));
}

// A database path without its trailing separator: 0, 4043.
ZVDBRET database_path(ZVHANDLE handle, const char *path, std::string &out) {
    out = path ? path : "";
    if (out.size() > size_t(kMaxPath)) return ZVDB_NAME_TOO_LONG;
    if (!out.empty() && out.back() == char(_zvdbGetPathSeparator(handle))) out.pop_back();
    return 0;
}

// The dictionary name of a database: directory joined with name.
std::string dict_name(ZVHANDLE handle, const char *path, const char *name) {
    char *made = _zvdb_MakeFilePath(path, name, _zvdbGetPathSeparator(handle));
    std::string out = made ? made : "";
    _zvdb_free(made);
    return out;
}

// A dictionary object of its own for creating, probing or deleting a
// database's dictionary.
struct TempDict {
    ZVDBDICT *d;
    explicit TempDict(ZVHANDLE handle) : d(_zvdbAllocDict(handle, 0)) {}
    ~TempDict() { _zvdbFreeDict(d); }
};

// Takes a new database's dictionary (`name`, without its extension) back
// after its entry was refused, unless another process has it open. In a
// superfile host it goes with its host in one step. A plain dictionary's
// directory first goes back to its temporary name, in one step, so that a
// kill while its files go leaves what a killed make leaves (the next make
// drops it); a directory that cannot move stays whole under its name (the
// next make answers 19). The refusal's system error stays.
void take_back_dict(ZVHANDLE handle, ZVDBDICT *d, const std::string &name, int insuper) {
    const int sys = zvGetSystemErrorCode();
    if (insuper) {
        _zvdbDeleteDict(d);
        usys(sys);
        return;
    }
    const std::string host = name + ".qdd";
    char *full = nullptr, *temp = nullptr;
    bool moved = zv::prefixed_name(handle, host.c_str(), &full) == 0 &&
                 zv::prefixed_name(handle, zv::making::temp_name(host).c_str(), &temp) == 0;
    if (moved) {
        const std::string inside = std::string(full) + char(_zvdbGetPathSeparator(handle)) + zv::dict::kTableName;
        moved = !zv::making::held(inside + ".dat") && !zv::making::held(inside + ".idx") &&
                zv::making::drop_leftover(temp) == 0 && zv::making::link_in(full, temp) == 0;
    }
    if (moved && zv::replace_text(&d->name, (name + zv::making::kMarker).c_str()) == 0) {
        _zvdbDeleteDict(d);
        zv::making::drop_leftover(temp);
    }
    _zvdb_free(full);
    _zvdb_free(temp);
    usys(sys);
}

// Whether an add refused as 4021 met an entry of the name whose dictionary
// is `dname` (the same name, or the same file under another spelling).
bool entered_elsewhere(ZVHANDLE handle, ZVDBRET rc, const char *base, const std::string &dname) {
    ZVDBDICTENTRY e;
    if (rc != ZVDB_DATABASE_EXISTS || _zvdbDictFindDatabase(handle, base, &e) != 0) return false;
    const std::string other = dict_name(handle, e.path, e.physname);
    if (other == dname) return true;
    char *a = nullptr, *b = nullptr;
    zv::PlatStat sa{}, sb{};
    const bool same = zv::prefixed_name(handle, (other + ".qdd").c_str(), &a) == 0 &&
                      zv::prefixed_name(handle, (dname + ".qdd").c_str(), &b) == 0 && zv::plat_stat(a, &sa) == 0 &&
                      zv::plat_stat(b, &sb) == 0 && sa.dev == sb.dev && sa.ino == sb.ino;
    _zvdb_free(a);
    _zvdb_free(b);
    return same;
}

bool drop_option(ZVHANDLE handle) {
    tagZVDBDATABASE *db = database_of(handle);
    return db && db->dropdelopt == 1;
}

// Frees what a connect keeps of the entry.
void forget_entry(tagZVDBDATABASE *db) {
    db->name = static_cast<char *>(_zvdb_free(db->name));
    db->path = static_cast<char *>(_zvdb_free(db->path));
}

// Deletes the files of those names that exist, in order, each opened
// alone and deleted by the engine (a superfile member from its host): 0
// when one was deleted, 12 when none was there, or the first failure.
int delete_files(tagZVDBDATABASE *db, const std::vector<std::string> &names) {
    int rc = kNotFound;
    for (const std::string &name : names) {
        int filno = -1;
        int opened = _zvdbAVLFILNBR(1, &filno);
        if (opened == 0) opened = _zvdbOPNFIL(db, filno, name.c_str(), 0);
        if (opened == kNotFound) continue;
        if (opened == 0 && (opened = _zvdbDELFIL(filno))) _zvdbCLSFIL(filno);
        if (opened) return opened;
        rc = 0;
    }
    return rc;
}

// Opens the set of a table's files by name (data file and indexes) and
// deletes them; inside a transaction a transaction-controlled file is noted
// in the session's drop list first. The engine deletes no set of superfile
// members: such a set is closed and its files deleted one by one, the data
// file last. 12 when the set is missing.
int delete_set(tagZVDBDATABASE *db, const std::string &name, const char *password, const char *dataext) {
    int datno = -1;
    int rc = _zvdbOPNRFILX(db, name.c_str(), 0x4002, password, dataext, &datno, 1);
    if (rc) return rc;
    int64_t mode = 0;
    if (zvdbIsTransActive(db) && _zvdbGETFIL(datno, 3, &mode) == 0 && (mode & kTransactionControl)) {
        _zvdbAddDropList(db, datno, name.c_str(), 0);
    }
    int64_t kind = 0;
    if (_zvdbGETFIL(datno, 23, &kind) == 0 && kind == kMember) {
        IFIL *ifil = nullptr;
        int32_t length = 0;
        rc = _zvdbGETIFIL(datno, &ifil, &length);
        std::vector<std::string> files;
        char buf[256];
        for (int k = ifil ? ifil->dnumidx : 0; rc == 0 && k >= 0; k--) {
            if (_zvdbGETNAM(datno + k, buf, int32_t(sizeof buf), 0) != 0) continue;
            if (std::find(files.begin(), files.end(), buf) == files.end()) files.emplace_back(buf);
        }
        _zvdb_free(ifil);
        if (rc == 0) rc = _zvdbCLRFIL(datno);
        if (rc == 0) rc = delete_files(db, files);
    } else {
        rc = _zvdbDELRFIL(datno);
    }
    if (rc) _zvdbDelDropList(db, datno, name.c_str());
    return rc;
}

// The files of a table entry that an earlier, failed delete left: the
// index file and the data file by their names. 0 when something was
// deleted, 12 when nothing was there.
int delete_leftovers(tagZVDBDATABASE *db, const ZVDBDICTENTRY &e) {
    std::vector<std::string> files;
    for (const char *ext : {e.idxext, e.datext}) {
        files.push_back(dict_name(db, e.path, (std::string(e.physname) + ext).c_str()));
    }
    return delete_files(db, files);
}

// Deletes the files of a table entry: 0, 12 nothing there (with the
// drop-delete option the leftovers of an earlier attempt go then), or the
// engine's code.
int delete_table_files(tagZVDBDATABASE *db, const ZVDBDICTENTRY &e, const char *password) {
    const std::string name = dict_name(db, e.path, e.physname);
    int rc = delete_set(db, name, password, e.datext);
    if (rc == kNotFound && db->dropdelopt == 1) rc = delete_leftovers(db, e);
    return rc;
}

// Deletes a virtual table: its definition resource in the host. 12 with
// the drop-delete option when the host is gone.
int delete_virtual(tagZVDBDATABASE *db, const ZVDBDICTENTRY &e) {
    auto *host = static_cast<tagZVDBTABLE *>(zvdbAllocTable(db));
    if (!host) return ZVDB_NO_MEMORY;
    int rc = zvdbOpenTable(host, e.link, 0);
    if (rc) rc = zvdbOpenTable(host, e.link, 1);
    if (rc == 0) {
        rc = zvdbRemoveVTableResource(host, int32_t(e.counter));
        if (rc == 408) rc = 0;
    } else if (rc == ZVDB_NO_TABLE_NAME) {
        rc = kNotFound;
    }
    zvdbFreeTable(host);
    return rc;
}

// The entry text of a table into the caller's buffers.
ZVDBRET table_text(ZVHANDLE handle, ZVDBRET rc, const ZVDBDICTENTRY &e, char *name, int32_t namesize, char *path,
                   int32_t pathsize) {
    if (rc == 0) rc = _zvdbTableMakePath(&e, name, namesize, path, pathsize, _zvdbGetPathSeparator(handle));
    return keep_code(handle, rc);
}

// One step of the public walk over the tables.
ZVDBRET walk_tables(ZVHANDLE handle, ZVDBRET (*step)(ZVHANDLE, ZVDBDICTENTRY *), char *name, int32_t namesize,
                    char *path, int32_t pathsize) {
    if (!name) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    ZVDBDICTENTRY e;
    ZVDBRET rc = step(handle, &e);
    return table_text(handle, rc, e, name, namesize, path, pathsize);
}

// The connect after the entry was found: the dictionary opened (once more
// exclusively when a shared open fails for another reason than another
// process's hold, which the open waits for), the transaction mode read.
ZVDBRET open_database(tagZVDBDATABASE *db, const ZVDBDICTENTRY &e) {
    db->dictinsuper = e.supext[0] ? 1 : 0;
    db->uid = e.uid;
    if (!(db->name = _zvdb_strdup(e.name)) || !(db->path = _zvdb_strdup(e.path))) return ZVDB_NO_MEMORY;
    const std::string name = dict_name(db, e.path, e.physname);
    ZVDBRET rc = _zvdbOpenDict(db->dict, name.c_str(), int(db->exclusive), int(db->dictinsuper));
    if (rc && !_zvdbDictOpenRefused(rc) && !db->exclusive &&
        _zvdbOpenDict(db->dict, name.c_str(), 1, int(db->dictinsuper)) == 0) {
        db->exclusive = 1;
        rc = 0;
    }
    if (rc) return rc;
    db->tranmode = transaction_mode(db->dict->filemode);
    return 0;
}

}  // namespace

extern "C" {

// ---- Handles -------------------------------------------------------------------

ZV_API ZVHANDLE zvdbAllocDatabase(ZVHANDLE session) {
    tagZVDBSESSION *s = zv::session_of(session);
    if (!s) return nullptr;
    auto *db = static_cast<tagZVDBDATABASE *>(_zvdb_alloc(1, sizeof(tagZVDBDATABASE)));
    if (!db) return keep_code(session, ZVDB_NO_MEMORY), nullptr;
    db->kind = ZVDB_DATABASE_HANDLE;
    db->session = s;
    db->tranmode = 3;
    db->dictinsuper = 1;
    for (int k = 0; k < kZvdbCallbackSlots; k++) db->callbacks[k] = s->callbacks[k];
    db->dict = _zvdbAllocDict(s, 0);
    db->tables = _zvdbListAlloc();
    db->entries = _zvdbListAlloc();
    db->third = _zvdbListAlloc();
    if (!db->dict || !db->tables || !db->entries || !db->third || _zvdbLinkChild(db)) {
        zvdbFreeDatabase(db);
        return keep_code(session, ZVDB_NO_MEMORY), nullptr;
    }
    return db;
}

ZV_API ZVDBRET zvdbFreeDatabase(ZVHANDLE database) {
    if (!database || zv::handle_kind(database) != ZVDB_DATABASE_HANDLE) return ZVDB_NO_DATABASE;
    auto *db = static_cast<tagZVDBDATABASE *>(database);
    if (db->connected) _zvdbDeactivateChildren(db);
    _zvdbUnlinkChildren(db, ZVDB_DATABASE_HANDLE);
    if (db->session) {
        _zvdbListDeleteEx(db->session->databases, db);
        _zvdbUnlinkChild(db);
    }
    forget_entry(db);
    _zvdb_free(db->sqlowner);
    for (int32_t i = 0; i < _zvdbListCount(db->entries); i++) _zvdb_free(db->entries->items[i]);
    _zvdbListFree(db->entries);
    _zvdbListFree(db->tables);
    _zvdbListFree(db->third);
    _zvdbFreeDict(db->dict);
    _zvdb_free(db);
    return 0;
}

ZV_API ZVDBRET zvdbConnect(ZVHANDLE database, const char *name) {
    tagZVDBDATABASE *db = database_of(database);
    if (!db) return ZVDB_NO_DATABASE;
    if (!db->session) return ZVDB_NO_SESSION;
    if (db->connected) return keep_code(database, ZVDB_ACTIVE);
    if (!name) return keep_code(database, ZVDB_NULL_ARGUMENT);
    if (!db->dict && !(db->dict = _zvdbAllocDict(db->session, 0))) return keep_code(database, ZVDB_NO_MEMORY);
    ZVDBDICTENTRY e;
    ZVDBRET rc = _zvdbDictFindDatabase(db->session, name, &e);
    if (rc == 0) rc = open_database(db, e);
    if (rc == 0) rc = _zvdbListAdd(db->session->databases, db);
    if (rc) {
        _zvdbCloseDict(db->dict);
        forget_entry(db);
        return keep_code(database, rc);
    }
    db->connected = 1;
    // The SQL mark makes the after-read callbacks of the records filter.
    db->callbackfilter = _zvdbDictGetSQLDBVersion(db) > 0 ? 1 : 0;
    if (ZvdbRoutine cb = db->callbacks[kOnConnect]) rc = reinterpret_cast<ZVDB_DATABASE_CALLBACK>(cb)(db);
    return keep_code(database, rc);
}

ZV_API ZVDBRET zvdbDisconnect(ZVHANDLE database) {
    tagZVDBDATABASE *db = database_of(database);
    if (!db) return ZVDB_NO_DATABASE;
    if (!db->session) return ZVDB_NO_SESSION;
    if (!db->connected) return keep_code(database, ZVDB_NOT_ACTIVE);
    const zv::CallerHandle caller(database);
    if (ZvdbRoutine cb = db->callbacks[kOnDisconnect]) reinterpret_cast<ZVDB_DATABASE_CALLBACK>(cb)(db);
    if (ZVDBRET rc = zvdbCloseAll(db)) return caller.keep(rc);
    for (int32_t i = 0; i < _zvdbListCount(db->entries); i++) _zvdb_free(db->entries->items[i]);
    _zvdbListClear(db->entries);
    _zvdbListDeleteEx(db->session->databases, db);
    db->connected = 0;
    db->callbackfilter = 0;
    db->dictinsuper = 1;
    forget_entry(db);
    _zvdbListClear(db->tables);
    // Disconnected whatever the close answers; its failure is reported.
    const ZVDBRET closed = _zvdbCloseDict(db->dict);
    _zvdbFreeDict(db->dict);
    db->dict = _zvdbAllocDict(db->session, 0);
    if (!db->dict) return caller.keep(ZVDB_NO_MEMORY);
    return caller.keep(closed);
}

ZV_API ZVDBRET zvdbDisconnectAll(ZVHANDLE session) {
    tagZVDBSESSION *s = zv::session_of(session);
    if (!s) return ZVDB_NO_SESSION;
    // A disconnect takes its database out of the list: walk from the end.
    for (int32_t i = _zvdbListCount(s->databases) - 1; i >= 0; i--) {
        if (ZVDBRET rc = zvdbDisconnect(_zvdbListItem(s->databases, i))) return rc;
    }
    return 0;
}

// ---- Databases of the session dictionary ----------------------------------------

ZV_API ZVDBRET zvdbCreateDatabase(ZVHANDLE handle, const char *name, const char *path) {
    tagZVDBSESSION *s = zv::session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    char base[256];
    std::string dir;
    if (ZVDBRET rc = database_name(handle, name, base)) return keep_code(handle, rc);
    if (ZVDBRET rc = database_path(handle, path, dir)) return keep_code(handle, rc);
    tagZVDBDATABASE *db = database_of(handle);
    const int insuper = db ? int(db->dictinsuper) : s->dictinsuper;
    ZVDBDICTENTRY e;
    ZVDBRET rc = _zvdbDictFindDatabase(s, base, &e);
    if (rc != 101) return keep_code(handle, rc == 0 ? ZVDB_DATABASE_EXISTS : rc);
    rc = in_transaction(handle, [&]() -> ZVDBRET {
        TempDict tmp(s);
        if (!tmp.d) return ZVDB_NO_MEMORY;
        const std::string dname = dict_name(s, dir.c_str(), base);
        ZVDBRET rc = _zvdbCreateDict(tmp.d, dname.c_str(), insuper);
        if (rc) return rc;
        // An entry that cannot be added takes the new dictionary away again,
        // unless another process entered this very dictionary meanwhile (its
        // make found it made, 19, and its add registered it): it is the
        // database's now, and the connect goes on to it (4021).
        if ((rc = _zvdbDictAddDatabase(s, base, dir.c_str(), insuper)) && !entered_elsewhere(s, rc, base, dname)) {
            take_back_dict(s, tmp.d, dname, insuper);
        }
        return rc;
    });
    return keep_code(handle, rc);
}

ZV_API ZVDBRET zvdbAddDatabase(ZVHANDLE session, const char *name, const char *path) {
    tagZVDBSESSION *s;
    char base[256];
    std::string dir;
    if (ZVDBRET rc = session_and_name(session, name, &s, base)) return rc;
    if (ZVDBRET rc = database_path(session, path, dir)) return keep_code(session, rc);
    int insuper = 0;
    {
        TempDict tmp(s);
        if (!tmp.d) return keep_code(session, ZVDB_NO_MEMORY);
        const std::string dname = dict_name(s, dir.c_str(), base);
        if (_zvdbOpenDict(tmp.d, dname.c_str(), 0, 1) && _zvdbOpenDict(tmp.d, dname.c_str(), 1, 1)) {
            return keep_code(session, ZVDB_DATABASE_UNUSABLE);
        }
        insuper = _zvdbDictInSuperfile(tmp.d);
        _zvdbCloseDict(tmp.d);
    }
    return keep_code(session, in_transaction(session, [&] { return _zvdbDictAddDatabase(s, base, dir.c_str(), insuper); }));
}

ZV_API ZVDBRET zvdbDeleteDatabase(ZVHANDLE session, const char *name) {
    tagZVDBSESSION *s;
    char base[256];
    if (ZVDBRET rc = session_and_name(session, name, &s, base)) return rc;
    if (_zvdbLocateDatabase(s, base) >= 0) return keep_code(session, ZVDB_ACTIVE);
    ZVDBDICTENTRY e;
    ZVDBRET rc = _zvdbDictFindDatabase(s, base, &e);
    if (rc) return keep_code(session, rc == 101 && drop_option(session) ? 0 : rc);
    rc = in_transaction(session, [&]() -> ZVDBRET {
        TempDict tmp(s);
        if (!tmp.d) return ZVDB_NO_MEMORY;
        if (ZVDBRET made = zv::replace_text(&tmp.d->name, dict_name(s, e.path, e.physname).c_str())) return made;
        ZVDBRET rc = _zvdbDeleteDict(tmp.d);
        if (rc == kNotFound && drop_option(session)) rc = 0;
        if (rc) return rc;
        return _zvdbDictDropDatabase(s, e.name);
    });
    return keep_code(session, rc);
}

ZV_API ZVDBRET zvdbDropDatabase(ZVHANDLE session, const char *name) {
    tagZVDBSESSION *s;
    char base[256];
    if (ZVDBRET rc = session_and_name(session, name, &s, base)) return rc;
    return keep_code(session, in_transaction(session, [&] { return _zvdbDictDropDatabase(s, base); }));
}

ZV_API ZVDBRET zvdbGetDatabaseUID(ZVHANDLE session, const char *name, uint32_t *uid) {
    if (!session) return ZVDB_NULL_HANDLE;
    if (!name) return keep_code(session, ZVDB_NULL_ARGUMENT);
    return _zvdbDictGetDatabaseUID(session, name, uid);
}

ZV_API ZVDBRET zvdbSetDictInSuperfile(ZVHANDLE handle, int flag) {
    if (tagZVDBDATABASE *db = database_of(handle)) {
        db->dictinsuper = flag ? 1 : 0;
        return 0;
    }
    tagZVDBSESSION *s = zv::session_of(handle);
    if (!s) return ZVDB_NO_SESSION;
    s->dictinsuper = flag ? 1 : 0;
    return 0;
}

// ---- Properties --------------------------------------------------------------

ZV_API ZVDBRET zvdbGetActiveDatabaseUID(ZVHANDLE database, uint32_t *uid) {
    tagZVDBDATABASE *db = database_or_code(database);
    if (!db) return ZVDB_NO_DATABASE;
    if (!uid) return keep_code(database, ZVDB_NULL_ARGUMENT);
    *uid = db->uid;
    return 0;
}

ZV_API int zvdbIsActiveDatabase(ZVHANDLE database) {
    tagZVDBDATABASE *db = database_of(database);
    return db ? int(db->connected) : 0;
}

ZV_API const char *zvdbGetDatabaseName(ZVHANDLE database) {
    tagZVDBDATABASE *db = database_of(database);
    return db && db->connected ? db->name : nullptr;
}

ZV_API const char *zvdbGetDatabasePath(ZVHANDLE database) {
    tagZVDBDATABASE *db = database_of(database);
    return db && db->connected ? db->path : nullptr;
}

ZV_API void *zvdbGetDatabaseObjptr(ZVHANDLE database) {
    tagZVDBDATABASE *db = database_of(database);
    return db ? db->objptr : nullptr;
}

ZV_API ZVDBRET zvdbSetDatabaseObjptr(ZVHANDLE database, void *object) {
    tagZVDBDATABASE *db = database_or_code(database);
    if (!db) return ZVDB_NO_DATABASE;
    db->objptr = object;
    return 0;
}

ZV_API const char *zvdbGetDefaultSqlTableOwner(ZVHANDLE database) {
    tagZVDBDATABASE *db = database_of(database);
    return db ? db->sqlowner : nullptr;
}

ZV_API ZVDBRET zvdbSetDefaultSqlTableOwner(ZVHANDLE database, const char *owner) {
    tagZVDBDATABASE *db = database_or_code(database);
    if (!db) return ZVDB_NO_DATABASE;
    return keep_code(database, zv::replace_text(&db->sqlowner, owner));
}

ZV_API int zvdbIsSQLDatabase(ZVHANDLE) { return 0; }

ZV_API ZVDBRET zvdbSetDatabaseExclusive(ZVHANDLE database, int flag) {
    tagZVDBDATABASE *db = database_or_code(database);
    if (!db) return ZVDB_NO_DATABASE;
    db->exclusive = flag ? 1 : 0;
    return 0;
}

ZV_API int zvdbIsDatabaseExclusive(ZVHANDLE database) {
    tagZVDBDATABASE *db = database_of(database);
    return db ? int(db->exclusive) : 0;
}

ZV_API ZVDBRET zvdbGetDatabaseTransactionMode(ZVHANDLE database, int32_t *mode) {
    tagZVDBDATABASE *db = database_of(database);
    if (!db || !mode) return keep_code(database, ZVDB_NULL_ARGUMENT);
    *mode = int32_t(db->tranmode);
    return 0;
}

ZV_API ZVDBRET _zvdbSetDatabaseDropLastMRT(ZVHANDLE database, int flag) {
    tagZVDBDATABASE *db = database_or_code(database);
    if (!db) return ZVDB_NO_DATABASE;
    db->droplastmrt = uint8_t(flag);
    return 0;
}

ZV_API ZVDBRET _zvdbSetDatabaseDropDelOpt(ZVHANDLE database, int flag) {
    tagZVDBDATABASE *db = database_or_code(database);
    if (!db) return ZVDB_NO_DATABASE;
    db->dropdelopt = uint8_t(flag);
    return 0;
}

ZV_API int32_t _zvdbLocateDatabase(ZVHANDLE session, const char *name) {
    tagZVDBSESSION *s = zv::session_of(session);
    for (int32_t i = 0; s && name && i < _zvdbListCount(s->databases); i++) {
        auto *db = static_cast<tagZVDBDATABASE *>(s->databases->items[i]);
        if (db->name && strcasecmp(db->name, name) == 0) return i;
    }
    return -1;
}

ZV_API int32_t _zvdbLocateTable(ZVHANDLE database, const char *name) {
    tagZVDBDATABASE *db = database_of(database);
    for (int32_t i = 0; db && name && i < _zvdbListCount(db->tables); i++) {
        auto *t = static_cast<tagZVDBTABLE *>(db->tables->items[i]);
        if (t->active && t->name && strcasecmp(t->name, name) == 0) return i;
    }
    return -1;
}

// ---- Table entries -------------------------------------------------------------

ZV_API ZVDBRET _zvdbTableMakePath(const ZVDBDICTENTRY *e, char *name, int32_t namesize, char *path, int32_t pathsize,
                                  int separator) {
    if (!e) return ZVDB_NULL_ARGUMENT;
    if (name) {
        if (namesize < 1 || std::strlen(e->name) >= size_t(namesize)) return ZVDB_BUFFER_SMALL;
        std::memcpy(name, e->name, std::strlen(e->name) + 1);
    }
    if (path) {
        std::string full = e->path;
        if (!full.empty() && full.back() != '!' && full.back() != char(separator)) full += char(separator);
        full += std::string(e->physname) + e->datext;
        if (pathsize < 1 || full.size() >= size_t(pathsize)) return ZVDB_BUFFER_SMALL;
        std::memcpy(path, full.c_str(), full.size() + 1);
    }
    return 0;
}

ZV_API ZVDBRET zvdbFirstTable(ZVHANDLE handle, char *name, int32_t namesize, char *path, int32_t pathsize) {
    return walk_tables(handle, _zvdbDictFirstTable, name, namesize, path, pathsize);
}

ZV_API ZVDBRET zvdbNextTable(ZVHANDLE handle, char *name, int32_t namesize, char *path, int32_t pathsize) {
    return walk_tables(handle, _zvdbDictNextTable, name, namesize, path, pathsize);
}

ZV_API ZVDBRET zvdbFindTable(ZVHANDLE handle, const char *name, char *path, int32_t size) {
    if (!name || !path) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    ZVDBDICTENTRY e;
    ZVDBRET rc = _zvdbDictFindTable(handle, name, &e);
    return table_text(handle, rc, e, nullptr, 0, path, size);
}

ZV_API ZVDBRET zvdbFindTableByUID(ZVHANDLE handle, uint32_t uid, char *name, int32_t namesize, char *path,
                                  int32_t pathsize) {
    ZVDBDICTENTRY e;
    ZVDBRET rc = _zvdbDictFindTableByUID(handle, uid, &e);
    return table_text(handle, rc, e, name, namesize, path, pathsize);
}

ZV_API ZVDBRET zvdbAddTableXtd(ZVHANDLE handle, const char *name, const char *file, const char *path) {
    tagZVDBDATABASE *db = database_or_code(handle);
    if (!db) return ZVDB_NO_DATABASE;
    if (!name || !file) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    if (!db->connected) return keep_code(handle, ZVDB_NOT_ACTIVE);
    const int sep = _zvdbGetPathSeparator(handle);
    char dir[256] = "", mirrorpath[256] = "", logical[256], physical[256], ext[256] = "", mirror[256];
    if (!path) {
        if (ZVDBRET rc = _zvdb_GetFilePath(file, dir, int32_t(sizeof dir), sep)) return keep_code(handle, rc);
    } else if (const char *bar = std::strchr(path, '|')) {
        std::snprintf(dir, sizeof dir, "%.*s", int(bar - path), path);
        std::snprintf(mirrorpath, sizeof mirrorpath, "%s", bar + 1);
    } else if (!put_text(dir, sizeof dir, path)) {
        return keep_code(handle, ZVDB_NAME_TOO_LONG);
    }
    ZVDBRET rc = 0;
    auto part = [&](const char *text, char (&out)[256]) {
        if (rc == 0) rc = _zvdb_GetFileName(text, out, int32_t(sizeof out), sep);
    };
    auto whole = [&](const char *text, char (&out)[256]) {
        if (rc == 0 && !put_text(out, sizeof out, text)) rc = ZVDB_NAME_TOO_LONG;
    };
    auto extension = [&] {
        if (rc == 0) rc = _zvdb_GetFileExt(file, ext, int32_t(sizeof ext), sep);
    };
    switch (db->exthint) {
    case 0:
    case 1:
        part(file, physical);
        part(name, logical);
        extension();
        break;
    case 2:
        whole(name, logical);
        whole(file, physical);
        put_text(ext, sizeof ext, ".dat");
        break;
    case 3:
        whole(file, physical);
        part(name, logical);
        break;
    case 4:
        whole(name, logical);
        part(file, physical);
        extension();
        break;
    default:
        return keep_code(handle, ZVDB_BAD_MODE);
    }
    if (rc == 0) rc = _zvdb_GetMirrorFileName(file, mirror, int32_t(sizeof mirror), sep);
    if (rc) return keep_code(handle, rc);
    if (db->exthint == 0 && !ext[0]) put_text(ext, sizeof ext, ".dat");
    const char *dataext = db->exthint == 3 ? nullptr : ext;
    return keep_code(handle, in_transaction(handle, [&] {
                         return _zvdbDictAddTable(db, logical, physical, dir, dataext, mirror, mirrorpath);
                     }));
}

ZV_API ZVDBRET zvdbAddTable(ZVHANDLE handle, const char *name, const char *path) {
    return zvdbAddTableXtd(handle, name, name, path);
}

ZV_API ZVDBRET zvdbDropTable(ZVHANDLE handle, const char *name) {
    if (!name) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    tagZVDBDATABASE *db = database_or_code(handle);
    if (!db) return ZVDB_NO_DATABASE;
    if (_zvdbLocateTable(db, name) >= 0) return keep_code(handle, ZVDB_ACTIVE);
    if (!db->connected) return keep_code(handle, ZVDB_NOT_ACTIVE);
    ZVDBRET rc = in_transaction(handle, [&] { return _zvdbDictDropTable(db, name); });
    if (rc == 101 && db->dropdelopt == 1) rc = 0;
    return keep_code(handle, rc);
}

ZV_API ZVDBRET zvdbDeleteTable(ZVHANDLE handle, const char *name, const char *password) {
    if (!name) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    tagZVDBDATABASE *db = database_or_code(handle);
    if (!db) return ZVDB_NO_DATABASE;
    if (_zvdbLocateTable(db, name) >= 0) return keep_code(handle, ZVDB_ACTIVE);
    ZVDBDICTENTRY e;
    ZVDBRET rc = _zvdbDictFindTable(db, name, &e);
    if (rc == 101) return keep_code(handle, db->dropdelopt == 1 ? 0 : ZVDB_NO_TABLE_NAME);
    if (rc) return keep_code(handle, rc);
    const bool vtable = e.type == ZVDBDICT_VTABLE;
    // A host keeps its files while virtual tables live in them.
    if (!vtable && (rc = _zvdbDictCheckMRTTable(db, e.name))) return keep_code(handle, rc);
    rc = in_transaction(handle, [&]() -> ZVDBRET {
        int rc = vtable ? delete_virtual(db, e) : delete_table_files(db, e, password);
        if (rc == kNotFound && db->dropdelopt == 1) rc = 0;
        // The entry goes last: a failure above leaves it to a repeat.
        if (rc == 0) rc = _zvdbDictDropTable(db, e.name);
        // The host goes with its last virtual table.
        if (rc == 0 && vtable && db->droplastmrt && _zvdbDictCheckMRTTable(db, e.link) == 0) {
            rc = zvdbDeleteTable(db, e.link, password);
        }
        return rc;
    });
    return keep_code(handle, rc);
}

ZV_API ZVDBRET zvdbAddMRTTable(ZVHANDLE database, const char *name, const char *host, int32_t number) {
    tagZVDBDATABASE *db = database_or_code(database);
    if (!db) return ZVDB_NO_DATABASE;
    if (!name || !host) return keep_code(database, ZVDB_NULL_ARGUMENT);
    if (!db->connected) return keep_code(database, ZVDB_NOT_ACTIVE);
    return keep_code(database,
                     in_transaction(database, [&] { return _zvdbDictAddVTable(db, host, name, number, 0x10000); }));
}

ZV_API ZVDBRET zvdbGetTableUID(ZVHANDLE handle, const char *name, uint32_t *uid) {
    if (!handle) return ZVDB_NULL_HANDLE;
    if (!name) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    return _zvdbDictGetTableUID(handle, name, uid);
}

ZV_API int32_t zvdbGetTableCount(ZVHANDLE handle) { return _zvdbDictGetTableCount(handle); }

ZV_API ZVDBRET zvdbGetIndexUID(ZVHANDLE handle, const char *name, uint32_t *uid) {
    if (!handle) return ZVDB_NULL_HANDLE;
    if (!name || !uid) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    ZVDBDICTENTRY e;
    ZVDBRET rc = _zvdbDictFindIndex(handle, name, &e);
    if (rc == 0) *uid = e.uid;
    return rc;
}

ZV_API ZVDBRET _zvdbGetTableDirectory(ZVHANDLE handle, const char *name, char *buffer, int32_t size) {
    if (!name || !buffer) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    ZVDBDICTENTRY e;
    ZVDBRET rc = _zvdbDictFindTable(handle, name, &e);
    if (rc == 0 && (size < 1 || std::strlen(e.path) >= size_t(size))) rc = ZVDB_BUFFER_SMALL;
    if (rc == 0) std::memcpy(buffer, e.path, std::strlen(e.path) + 1);
    return keep_code(handle, rc);
}

// ---- Open tables ------------------------------------------------------------------

ZVDBRET _zvdbAddActiveTable(ZVHANDLE database, ZVHANDLE table) {
    tagZVDBDATABASE *db = database_of(database);
    if (!db || !table) return ZVDB_NULL_ARGUMENT;
    return _zvdbListIndexOf(db->tables, table) >= 0 ? 0 : _zvdbListAdd(db->tables, table);
}

ZVDBRET _zvdbRemoveActiveTable(ZVHANDLE database, ZVHANDLE table) {
    tagZVDBDATABASE *db = database_of(database);
    if (!db || !table) return ZVDB_NULL_ARGUMENT;
    return _zvdbListIndexOf(db->tables, table) >= 0 ? _zvdbListDeleteEx(db->tables, table) : 0;
}

ZV_API ZVHANDLE zvdbGetFirstActiveTable(ZVHANDLE database, int *index) {
    tagZVDBDATABASE *db = database_of(database);
    if (!db || !index) return nullptr;
    *index = 0;
    return _zvdbListItem(db->tables, 0);
}

ZV_API ZVHANDLE zvdbGetNextActiveTable(ZVHANDLE database, int *index) {
    tagZVDBDATABASE *db = database_of(database);
    if (!db || !index) return nullptr;
    *index += 1;
    return _zvdbListItem(db->tables, *index);
}

ZV_API ZVHANDLE zvdbFindActiveTable(ZVHANDLE database, const char *name) {
    const int32_t i = _zvdbLocateTable(database, name);
    return i < 0 ? nullptr : _zvdbListItem(database_of(database)->tables, i);
}

ZV_API ZVHANDLE zvdbGetActiveTableByUID(ZVHANDLE database, uint32_t uid) {
    tagZVDBDATABASE *db = database_of(database);
    for (int32_t i = 0; db && i < _zvdbListCount(db->tables); i++) {
        auto *t = static_cast<tagZVDBTABLE *>(db->tables->items[i]);
        if (t->active && t->uid == uid) return t;
    }
    return nullptr;
}

ZV_API ZVHANDLE zvdbFindActiveTableByUID(ZVHANDLE database, uint32_t uid) {
    if (!database_of(database)) return keep_code(database, ZVDB_NO_DATABASE), nullptr;
    ZVHANDLE t = zvdbGetActiveTableByUID(database, uid);
    if (!t) keep_code(database, ZVDB_NO_TABLE_NAME);
    return t;
}

ZV_API ZVHANDLE zvdbGetTable(ZVHANDLE database, int32_t n) {
    tagZVDBDATABASE *db = database_of(database);
    return db && n >= 0 ? _zvdbListItem(db->tables, n) : nullptr;
}

ZV_API int32_t zvdbGetTableNbr(ZVHANDLE table) {
    auto *t = static_cast<tagZVDBTABLE *>(zvdbGetTableHandle(table));
    return t && t->database ? _zvdbListIndexOf(t->database->tables, t) : -1;
}

}  // extern "C"

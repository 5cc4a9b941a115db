// Entries of a database dictionary: tables (type 2) and virtual tables
// (0x10002), the indexes and full-text indexes of each (type 3, LINK the
// table's name, LINKNBR its UID) and the SQL mark (type 5).
//
// Index names are unique per database ("DICTNAME" is TYPE, STATUS, NAME).
// Every change orders its steps so that the catalogue stays whole when one
// fails: registrations remove what they wrote when a later entry is
// refused, renames rewrite entries in place.
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "recapi/base/session.h"
#include "recapi/catalog/dict_calls.h"
#include "recapi/catalog/dictionary.h"

using namespace zv::dict;
using zv::keep_code;

namespace {

constexpr char kDefaultExt[] = ".dat";
// A table's files not closed cleanly, its host not closed cleanly, and the
// open bit that opens them as they lie.
constexpr ZVDBRET kNotClosed = 14;
constexpr ZVDBRET kHostNotClosed = 413;
constexpr uint32_t kOpenForRebuild = 4;
constexpr uint32_t kVirtualFlag = 0x10000;
constexpr size_t kVtName = 128;  // name buffer of a virtual-table list item

bool hidden_index(const char *name) {
    return name && (strcasecmp(name, "$RECBYT$") == 0 || strcasecmp(name, "$ROWID$") == 0);
}

// A table entry, else a virtual-table entry, of that name.
ZVDBRET find_table(ZVDBDICT *d, const char *name, ZVDBDICTENTRY &e) {
    ZVDBRET rc = read_entry(d, ZVDBDICT_TABLE, 0, name, e);
    if (rc == 101) rc = read_entry(d, ZVDBDICT_VTABLE, 0, name, e);
    return rc;
}

// The entry of a UID, when its type (low 16 bits) is `type`; `other` when
// it is of another type.
ZVDBRET find_uid(ZVDBDICT *d, uint32_t uid, uint32_t type, ZVDBRET other, ZVDBDICTENTRY &e) {
    ZVDBRET rc = _zvdbFindDictByUID(d, uid);
    if (rc == 0) rc = _zvdbGetDict(d, &e);
    if (rc == 0 && (e.type & 0xFFFFu) != type) rc = other;
    return rc;
}

// The UID of an entry (type, 0 or 1, name), or a new reserved entry's.
ZVDBRET reserve(ZVDBDICT *d, uint32_t type, const char *name, const char *physname, uint32_t *uid) {
    ZVDBDICTENTRY e;
    for (uint32_t status : {0u, 1u}) {
        ZVDBRET rc = read_entry(d, type, status, name, e);
        if (rc == 0) {
            *uid = e.uid;
            return 0;
        }
        if (rc != 101) return rc;
    }
    if (ZVDBRET rc = new_entry(e, type, name)) return rc;
    e.status = 1;
    if (!put_text(e.physname, sizeof e.physname, physname)) return ZVDB_NAME_TOO_LONG;
    if (type == ZVDBDICT_INDEX) put_text(e.link, sizeof e.link, name);
    ZVDBRET rc = add_entry(d, e);
    if (rc == 0) *uid = e.uid;
    return rc;
}

// Whether an index entry has its table: 1 when an entry of a table (or
// virtual table) of its LINK with its LINKNBR as UID is there, 0 when the
// index entry was left without it (a kill between a table's entries, or
// between those of its drop), else the code of the look-up.
ZVDBRET owned(ZVDBDICT *d, const ZVDBDICTENTRY &index) {
    ZVDBDICTENTRY owner;
    ZVDBRET rc = find_table(d, index.link, owner);
    if (rc == 0) return owner.uid == index.linknbr ? 1 : 0;
    return rc == 101 ? 0 : rc;
}

// Enters an index of a table: a reserved entry of the name is completed
// (not for a virtual table), a name in use by another table's index is
// refused (4051), an entry whose table has no entry (or one of another UID)
// is replaced, else a new entry is written. The index's UID into *uid.
ZVDBRET add_index_entry(ZVDBDICT *d, const char *name, const char *table, uint32_t tableuid, bool vtable,
                        uint32_t *uid) {
    ZVDBDICTENTRY e;
    ZVDBRET rc = vtable ? 101 : read_entry(d, ZVDBDICT_INDEX, 1, name, e);
    if (rc == 0) {
        e.status = 0;
        put_text(e.link, sizeof e.link, table);
        e.linknbr = tableuid;
        e.version = kVersion1;
        rc = rewrite_entry(d, e);
        if (rc == 0) *uid = e.uid;
        return rc;
    }
    if (rc != 101) return rc;
    rc = read_entry(d, ZVDBDICT_INDEX, 0, name, e);
    if (rc == 0) {
        // The name is another table's, unless the entry has lost its table:
        // it is then taken over.
        if ((rc = owned(d, e))) return rc == 1 ? ZVDB_INDEX_NAME : rc;
        if ((rc = _zvdbRemoveDictByUID(d, e.uid))) return rc;
    } else if (rc != 101) {
        return rc;
    }
    if ((rc = new_entry(e, ZVDBDICT_INDEX, name))) return rc;
    if (!put_text(e.link, sizeof e.link, table)) return ZVDB_NAME_TOO_LONG;
    e.linknbr = tableuid;
    rc = add_entry(d, e);
    if (rc == 0) *uid = e.uid;
    return rc;
}

// 0 when the new name is the old one (any letter case) or free among the
// entries of the type, else `taken`.
ZVDBRET name_free(ZVDBDICT *d, uint32_t type, const char *newname, const char *oldname, ZVDBRET taken) {
    if (strcasecmp(oldname, newname) == 0) return 0;
    ZVDBRET rc = _zvdbFindDict(d, type, 0, newname);
    return rc == 0 ? taken : rc == 101 ? 0 : rc;
}

// 4131 when a virtual table names the host, else 0.
ZVDBRET has_vtables(ZVDBDICT *d, const char *host) {
    return for_linked(d, ZVDBDICT_VTABLE, host, [](const ZVDBDICTENTRY &) { return ZVDB_HAS_VTABLES; });
}

// Removes every index entry of the table. 0 at the end.
ZVDBRET drop_indexes(ZVDBDICT *d, const char *table) {
    return for_linked(d, ZVDBDICT_INDEX, table, [&](const ZVDBDICTENTRY &) { return zvdbDeleteRecord(d->record); });
}

// The index entries of a table's index handles (hidden and deleted ones
// left out), written after its own entry. A refusal removes the index
// entries written here and gives the refusal.
ZVDBRET add_indexes(ZVDBDICT *d, tagZVDBTABLE *t, const char *table, uint32_t tableuid, bool vtable) {
    std::vector<uint32_t> written;
    ZVDBRET rc = 0;
    for (int32_t i = 0; rc == 0 && i < _zvdbListCount(t->indexes); i++) {
        auto *ix = static_cast<tagZVDBINDEX *>(t->indexes->items[i]);
        if (!ix) rc = ZVDB_NO_INDEX;
        if (rc || hidden_index(ix->name) || (ix->status & 2)) continue;
        uint32_t uid = 0;
        rc = add_index_entry(d, ix->name, table, tableuid, vtable, &uid);
        if (rc == 0) {
            ix->uid = uid;
            written.push_back(uid);
        }
    }
    if (rc) {
        for (uint32_t uid : written) _zvdbRemoveDictByUID(d, uid);
    }
    return rc;
}

// The index entries of a table made to match its index handles: entries
// of indexes it no longer has (or has marked deleted) go, indexes without
// an entry get one.
ZVDBRET match_indexes(ZVDBDICT *d, tagZVDBTABLE *t) {
    auto live = [&](const char *name) {
        for (int32_t i = 0; i < _zvdbListCount(t->indexes); i++) {
            auto *ix = static_cast<tagZVDBINDEX *>(t->indexes->items[i]);
            if (ix->name && strcasecmp(ix->name, name) == 0) return !(ix->status & 2);
        }
        return false;
    };
    ZVDBRET rc = for_linked(d, ZVDBDICT_INDEX, t->name, [&](const ZVDBDICTENTRY &e) -> ZVDBRET {
        return live(e.name) ? 0 : zvdbDeleteRecord(d->record);
    });
    for (int32_t i = 0; rc == 0 && i < _zvdbListCount(t->indexes); i++) {
        auto *ix = static_cast<tagZVDBINDEX *>(t->indexes->items[i]);
        if (hidden_index(ix->name) || (ix->status & 2)) continue;
        rc = _zvdbFindDict(d, ZVDBDICT_INDEX, 0, ix->name);
        if (rc == 101) rc = add_index_entry(d, ix->name, t->name, t->uid, t->vtkind != 0, &ix->uid);
    }
    return rc;
}

// Renames an index entry in place: it keeps its UID and is never missing.
ZVDBRET rename_index(ZVDBDICT *d, const char *newname, const char *oldname) {
    ZVDBDICTENTRY e;
    ZVDBRET rc = name_free(d, ZVDBDICT_INDEX, newname, oldname, ZVDB_INDEX_NAME);
    if (rc == 0) rc = read_entry(d, ZVDBDICT_INDEX, 0, oldname, e);
    if (rc) return rc;
    if (!put_text(e.name, sizeof e.name, newname) || !put_text(e.physname, sizeof e.physname, newname)) {
        return ZVDB_NAME_TOO_LONG;
    }
    return rewrite_entry(d, e);
}

// The table handle of an index operation and its database dictionary.
ZVDBRET table_dict(ZVHANDLE handle, tagZVDBTABLE **t, tagZVDBDATABASE **db, ZVDBDICT **d) {
    if (ZVDBRET rc = database_dict(handle, db, d)) return rc;
    *t = static_cast<tagZVDBTABLE *>(zvdbGetTableHandle(handle));
    return *t ? 0 : keep_code(handle, ZVDB_NO_TABLE);
}

// Reads the entry a walk positioned on: 0, or the code.
ZVDBRET read_current(ZVDBDICT *d, ZVDBRET rc, ZVDBDICTENTRY *entry) { return rc ? rc : _zvdbGetDict(d, entry); }

// A scratch table on the files of a table about to be registered, open in
// mode 1; freed with its files closed.
struct Scratch {
    tagZVDBTABLE *t = nullptr;
    ~Scratch() {
        if (t) zvdbFreeTable(t);
    }
    ZVDBRET open(tagZVDBDATABASE *db, const char *physname, const char *path, const char *ext, const char *mirrorname,
                 const char *mirrorpath) {
        t = static_cast<tagZVDBTABLE *>(zvdbAllocTable(db->session));
        if (!t) return ZVDB_NO_MEMORY;
        std::string dir = path ? path : "";
        if (mirrorpath && *mirrorpath) dir += std::string("|") + mirrorpath;
        std::string file = std::string(physname) + ext;
        if (mirrorname && *mirrorname) file += std::string("|") + mirrorname + ext;
        ZVDBRET rc = zvdbSetTableExtension(t, ext);
        if (rc == 0) rc = zvdbSetTablePath(t, dir.c_str());
        if (rc == 0) rc = zvdbOpenTable(t, file.c_str(), 1);
        // Files a process left not closed cleanly (or in a host left so)
        // are taken as they lie: their definition is what the entries need,
        // and their open by name then asks for the README's repair.
        if (rc == kNotClosed || rc == kHostNotClosed) rc = zvdbOpenTable(t, file.c_str(), 1 | kOpenForRebuild);
        return rc;
    }
};

}  // namespace

extern "C" {

ZV_API ZVDBRET _zvdbDictFirstTable(ZVHANDLE handle, ZVDBDICTENTRY *entry) {
    ZVDBDICT *d;
    if (ZVDBRET rc = database_dict(handle, nullptr, &d)) return rc;
    if (!entry) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    return locked(handle, d, kRead, [&] { return read_current(d, _zvdbFirstDict(d, ZVDBDICT_TABLE, 0), entry); });
}

ZV_API ZVDBRET _zvdbDictNextTable(ZVHANDLE handle, ZVDBDICTENTRY *entry) {
    ZVDBDICT *d;
    if (ZVDBRET rc = database_dict(handle, nullptr, &d)) return rc;
    if (!entry) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    return locked(handle, d, kRead, [&] { return read_current(d, _zvdbNextDict(d, ZVDBDICT_TABLE, 0), entry); });
}

ZV_API ZVDBRET _zvdbDictFindTable(ZVHANDLE handle, const char *name, ZVDBDICTENTRY *entry) {
    ZVDBDICT *d;
    if (ZVDBRET rc = database_dict(handle, nullptr, &d)) return rc;
    if (!name || !entry) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    return locked(handle, d, kRead, [&] { return find_table(d, name, *entry); });
}

ZV_API ZVDBRET _zvdbDictFindTableByUID(ZVHANDLE handle, uint32_t uid, ZVDBDICTENTRY *entry) {
    ZVDBDICT *d;
    if (ZVDBRET rc = database_dict(handle, nullptr, &d)) return rc;
    if (!entry) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    return locked(handle, d, kRead, [&] { return find_uid(d, uid, ZVDBDICT_TABLE, ZVDB_NO_TABLE_NAME, *entry); });
}

ZV_API int32_t _zvdbDictGetTableCount(ZVHANDLE handle) {
    ZVDBDICT *d;
    if (database_dict(handle, nullptr, &d)) return -1;
    int32_t n = 0;
    return locked(handle, d, kRead, [&] { return count(d, ZVDBDICT_TABLE, 0, &n); }) ? -1 : n;
}

ZV_API ZVDBRET _zvdbDictGetTableUID(ZVHANDLE handle, const char *name, uint32_t *uid) {
    if (!uid) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    ZVDBDICTENTRY e;
    ZVDBRET rc = _zvdbDictFindTable(handle, name, &e);
    if (rc == 0) *uid = e.uid;
    return rc;
}

ZV_API ZVDBRET _zvdbDictReserveTable(ZVHANDLE handle, const char *name, const char *physname, uint32_t *uid) {
    ZVDBDICT *d;
    if (ZVDBRET rc = database_dict(handle, nullptr, &d)) return rc;
    if (!name || !uid) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    return locked(handle, d, kWrite,
                  [&] { return reserve(d, ZVDBDICT_TABLE, name, physname ? physname : name, uid); });
}

ZV_API ZVDBRET _zvdbDictReserveIndex(ZVHANDLE handle, const char *name, uint32_t *uid) {
    ZVDBDICT *d;
    if (ZVDBRET rc = database_dict(handle, nullptr, &d)) return rc;
    if (!name || !uid) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    return locked(handle, d, kWrite, [&] { return reserve(d, ZVDBDICT_INDEX, name, name, uid); });
}

ZV_API ZVDBRET _zvdbDictAddTable(ZVHANDLE database, const char *name, const char *physname, const char *path,
                                 const char *dataext, const char *mirrorname, const char *mirrorpath) {
    tagZVDBDATABASE *db;
    ZVDBDICT *d;
    if (ZVDBRET rc = database_dict(database, &db, &d)) return rc;
    if (!name || !physname) return keep_code(database, ZVDB_NULL_ARGUMENT);
    const char *ext = dataext && *dataext ? dataext : db->exthint == 1 || db->exthint == 4 ? "" : kDefaultExt;
    Scratch scratch;
    if (ZVDBRET rc = scratch.open(db, physname, path, ext, mirrorname, mirrorpath)) return keep_code(database, rc);
    tagZVDBTABLE *t = scratch.t;
    return adding(database, d, [&]() -> ZVDBRET {
        ZVDBDICTENTRY e, before;
        ZVDBRET rc = read_entry(d, ZVDBDICT_TABLE, 1, name, e);
        const bool reserved = rc == 0;
        if (reserved) {
            before = e;
        } else if (rc != 101) {
            return rc;
        } else {
            rc = _zvdbFindDict(d, ZVDBDICT_TABLE, 0, name);
            if (rc == 0) return ZVDB_TABLE_EXISTS;
            if (rc != 101) return rc;
            // Index entries that name this table have lost it (a kill
            // between its entries, or a drop cut short): they go.
            if ((rc = drop_indexes(d, name))) return rc;
            if ((rc = new_entry(e, ZVDBDICT_TABLE, name))) return rc;
            if (!put_text(e.physname, sizeof e.physname, physname)) return ZVDB_NAME_TOO_LONG;
        }
        e.status = 0;
        e.version = kVersion1;
        if (!put_text(e.path, sizeof e.path, path) || !put_text(e.datext, sizeof e.datext, t->dataext) ||
            !put_text(e.idxext, sizeof e.idxext, t->indexext) ||
            !put_text(e.mirrorname, sizeof e.mirrorname, mirrorname) ||
            !put_text(e.mirrorpath, sizeof e.mirrorpath, mirrorpath)) {
            return ZVDB_NAME_TOO_LONG;
        }
        rc = reserved ? rewrite_entry(d, e) : add_entry(d, e);
        if (rc) return rc;
        t->uid = e.uid;
        // Back to what was there: the reservation, or nothing.
        auto back = [&] {
            if (_zvdbFindDictByUID(d, e.uid) == 0) reserved ? rewrite_entry(d, before) : zvdbDeleteRecord(d->record);
        };
        if ((rc = add_indexes(d, t, name, e.uid, false))) {
            back();
            return rc;
        }
        return handed_or_undone(rc, [&] {
            drop_indexes(d, name);
            back();
        });
    });
}

ZV_API ZVDBRET _zvdbDictDropTable(ZVHANDLE handle, const char *name) {
    ZVDBDICT *d;
    if (ZVDBRET rc = database_dict(handle, nullptr, &d)) return rc;
    if (!name) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    return locked(handle, d, kWrite, [&]() -> ZVDBRET {
        ZVDBDICTENTRY e;
        ZVDBRET rc = find_table(d, name, e);
        if (rc) return rc;
        if (e.type == ZVDBDICT_TABLE && (rc = has_vtables(d, e.name))) return rc;
        // A virtual table's index entries go with it as a table's do.
        if ((rc = drop_indexes(d, e.name))) return rc;
        return _zvdbRemoveDictByUID(d, e.uid);
    });
}

ZV_API ZVDBRET _zvdbDictMoveTable(ZVHANDLE handle, const char *oldname, const char *newpath, const char *newname,
                                  const char *newphysname) {
    ZVDBDICT *d;
    if (ZVDBRET rc = database_dict(handle, nullptr, &d)) return rc;
    if (!oldname || !newname || !newphysname) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    return locked(handle, d, kWrite, [&]() -> ZVDBRET {
        ZVDBDICTENTRY e;
        ZVDBRET rc = name_free(d, ZVDBDICT_TABLE, newname, oldname, ZVDB_TABLE_EXISTS);
        if (rc == 0) rc = read_entry(d, ZVDBDICT_TABLE, 0, oldname, e);
        if (rc) return rc;
        const std::string old = e.name;
        if (!put_text(e.name, sizeof e.name, newname) || !put_text(e.physname, sizeof e.physname, newphysname) ||
            (newpath && !put_text(e.path, sizeof e.path, newpath))) {
            return ZVDB_NAME_TOO_LONG;
        }
        if ((rc = rewrite_entry(d, e))) return rc;
        // The entries that name the table: its indexes, and the virtual
        // tables it hosts. The walk is in name order, which a new LINK
        // does not change.
        for (uint32_t type : {ZVDBDICT_INDEX, ZVDBDICT_VTABLE}) {
            for (rc = _zvdbFirstDict(d, type, 0); rc == 0; rc = _zvdbNextDict(d, type, 0)) {
                if ((rc = _zvdbGetDict(d, &e))) return rc;
                if (strcasecmp(e.link, old.c_str()) != 0) continue;
                put_text(e.link, sizeof e.link, newname);
                if ((rc = rewrite_entry(d, e))) return rc;
            }
            if (rc != 101) return rc;
        }
        return 0;
    });
}

ZV_API ZVDBRET _zvdbDictAddIndex(ZVHANDLE table, int32_t n) {
    tagZVDBTABLE *t;
    tagZVDBDATABASE *db;
    ZVDBDICT *d;
    if (ZVDBRET rc = table_dict(table, &t, &db, &d)) return rc;
    auto *ix = static_cast<tagZVDBINDEX *>(_zvdbListItem(t->indexes, n));
    if (!ix || !ix->name) return keep_code(table, ZVDB_NO_INDEX);
    return locked(table, d, kWrite,
                  [&] { return add_index_entry(d, ix->name, t->name, t->uid, t->vtkind != 0, &ix->uid); });
}

ZV_API ZVDBRET _zvdbDictAddAllIndex(ZVHANDLE table) {
    tagZVDBTABLE *t;
    tagZVDBDATABASE *db;
    ZVDBDICT *d;
    if (ZVDBRET rc = table_dict(table, &t, &db, &d)) return rc;
    return locked(table, d, kWrite, [&] { return add_indexes(d, t, t->name, t->uid, t->vtkind != 0); });
}

ZV_API ZVDBRET _zvdbDictAddFTI(ZVHANDLE table, const char *name) {
    tagZVDBTABLE *t;
    tagZVDBDATABASE *db;
    ZVDBDICT *d;
    if (ZVDBRET rc = table_dict(table, &t, &db, &d)) return rc;
    if (!name) return keep_code(table, ZVDB_NULL_ARGUMENT);
    uint32_t uid = 0;
    return locked(table, d, kWrite, [&] { return add_index_entry(d, name, t->name, t->uid, false, &uid); });
}

ZV_API ZVDBRET _zvdbDictUpdateIndex(ZVHANDLE table) {
    tagZVDBTABLE *t;
    tagZVDBDATABASE *db;
    ZVDBDICT *d;
    if (ZVDBRET rc = table_dict(table, &t, &db, &d)) return rc;
    return in_transaction(table, [&] { return locked(table, d, kWrite, [&] { return match_indexes(d, t); }); });
}

ZV_API ZVDBRET _zvdbDictUpdateIndexName(ZVHANDLE table, const char *newname, const char *oldname) {
    tagZVDBTABLE *t;
    tagZVDBDATABASE *db;
    ZVDBDICT *d;
    if (ZVDBRET rc = table_dict(table, &t, &db, &d)) return rc;
    if (!newname || !oldname) return keep_code(table, ZVDB_NULL_ARGUMENT);
    return in_transaction(table,
                          [&] { return locked(table, d, kWrite, [&] { return rename_index(d, newname, oldname); }); });
}

ZV_API ZVDBRET _zvdbDictDropIndex(ZVHANDLE handle, const char *name) {
    ZVDBDICT *d;
    if (ZVDBRET rc = database_dict(handle, nullptr, &d)) return rc;
    if (!name) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    return locked(handle, d, kWrite, [&] { return _zvdbRemoveDict(d, ZVDBDICT_INDEX, 0, name); });
}

ZV_API ZVDBRET _zvdbDictDropAllIndex(ZVHANDLE handle, const char *table) {
    ZVDBDICT *d;
    if (ZVDBRET rc = database_dict(handle, nullptr, &d)) return rc;
    if (!table) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    return locked(handle, d, kWrite, [&] { return drop_indexes(d, table); });
}

ZV_API ZVDBRET _zvdbDictFindIndex(ZVHANDLE handle, const char *name, ZVDBDICTENTRY *entry) {
    ZVDBDICT *d;
    if (ZVDBRET rc = database_dict(handle, nullptr, &d)) return rc;
    if (!name || !entry) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    return locked(handle, d, kRead, [&] { return read_entry(d, ZVDBDICT_INDEX, 0, name, *entry); });
}

ZV_API ZVDBRET _zvdbDictFindIndexByUID(ZVHANDLE handle, uint32_t uid, ZVDBDICTENTRY *entry) {
    ZVDBDICT *d;
    if (ZVDBRET rc = database_dict(handle, nullptr, &d)) return rc;
    if (!entry) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    return locked(handle, d, kRead, [&] { return find_uid(d, uid, ZVDBDICT_INDEX, ZVDB_NO_INDEX_NAME, *entry); });
}

ZV_API ZVDBRET _zvdbDictAddVTable(ZVHANDLE database, const char *host, const char *name, int32_t number,
                                  uint32_t flag) {
    tagZVDBDATABASE *db;
    ZVDBDICT *d;
    if (ZVDBRET rc = database_dict(database, &db, &d)) return rc;
    if (!host || !name) return keep_code(database, ZVDB_NULL_ARGUMENT);
    return adding(database, d, [&]() -> ZVDBRET {
        ZVDBDICTENTRY e, h;
        for (uint32_t type : {ZVDBDICT_TABLE, ZVDBDICT_VTABLE}) {
            if (type == ZVDBDICT_VTABLE && !(flag & kVirtualFlag)) continue;
            ZVDBRET rc = _zvdbFindDict(d, type, 0, name);
            if (rc == 0) return ZVDB_TABLE_EXISTS;
            if (rc != 101) return rc;
        }
        ZVDBRET rc = read_entry(d, ZVDBDICT_TABLE, 0, host, h);
        if (rc) return rc == 101 ? ZVDB_NO_TABLE_NAME : rc;
        if ((rc = new_entry(e, ZVDBDICT_VTABLE, name))) return rc;
        put_text(e.link, sizeof e.link, h.name);
        e.linknbr = h.uid;
        e.counter = uint32_t(number);
        if ((rc = add_entry(d, e))) return rc;
        // The entries of its indexes come from its open definition; without
        // them the entry goes again.
        auto *v = static_cast<tagZVDBTABLE *>(zvdbAllocTable(db));
        rc = v ? zvdbOpenTable(v, name, 1) : ZVDB_NO_MEMORY;
        if (rc == 0) rc = add_indexes(d, v, name, e.uid, true);
        if (v) zvdbFreeTable(v);
        if (rc) {
            _zvdbRemoveDictByUID(d, e.uid);
            return rc;
        }
        return handed_or_undone(rc, [&] {
            drop_indexes(d, name);
            _zvdbRemoveDictByUID(d, e.uid);
        });
    });
}

ZV_API ZVDBRET _zvdbDictCheckMRTTable(ZVHANDLE handle, const char *host) {
    ZVDBDICT *d;
    if (ZVDBRET rc = database_dict(handle, nullptr, &d)) return rc;
    if (!host) return keep_code(handle, ZVDB_NULL_ARGUMENT);
    return locked(handle, d, kRead, [&] { return has_vtables(d, host); });
}

ZV_API ZVDBRET _zvdbDictMarkSQLDB(ZVHANDLE handle, int32_t version) {
    ZVDBDICT *d;
    if (ZVDBRET rc = database_dict(handle, nullptr, &d)) return rc;
    if (version < 2) return keep_code(handle, ZVDB_BUFFER_SMALL);
    return locked(handle, d, kWrite, [&]() -> ZVDBRET {
        ZVDBDICTENTRY e;
        ZVDBRET rc = read_entry(d, ZVDBDICT_SQLMARK, 0, kSqlMark, e);
        const uint32_t stored = (uint32_t(version - 1) & 0xFFFFu) | kVersion1;
        if (rc == 0) {
            if (uint32_t(version) <= (e.version & 0xFFFFu) + 1) return ZVDB_BAD_MODE;
            e.version = stored;
            return rewrite_entry(d, e);
        }
        if (rc != 101) return rc;
        new_entry(e, ZVDBDICT_SQLMARK, kSqlMark);
        e.version = stored;
        return add_entry(d, e);
    });
}

ZV_API int32_t _zvdbDictGetSQLDBVersion(ZVHANDLE handle) {
    ZVDBDICT *d;
    if (database_dict(handle, nullptr, &d)) return 0;
    ZVDBDICTENTRY e;
    ZVDBRET rc = locked(handle, d, kRead, [&] { return read_entry(d, ZVDBDICT_SQLMARK, 0, kSqlMark, e); });
    return rc ? 0 : int32_t((e.version + 1) & 0xFFFFu);
}

int _zvdbDictHoldsIndex(ZVHANDLE handle, const char *name) {
    auto *db = static_cast<tagZVDBDATABASE *>(zvdbGetDatabaseHandle(handle));
    if (!db || !db->connected || !db->dict || !db->dict->open || !name) return 0;
    // A look-up on the side: the caller's last code stays.
    const int32_t saved = db->session->lasterror;
    ZVDBDICT *d = db->dict;
    ZVDBDICTENTRY e;
    const ZVDBRET rc = locked(handle, d, kRead, [&]() -> ZVDBRET {
        ZVDBRET found = read_entry(d, ZVDBDICT_INDEX, 0, name, e);
        return found ? found : owned(d, e) == 1 ? 0 : 101;
    });
    db->session->lasterror = saved;
    return rc == 0 ? 1 : 0;
}

ZV_API ZVDBRET zvdbGetVTableInfoFromDict(ZVHANDLE database, const char *host, uint32_t type, ZVDBVTINFO *list) {
    if (!list || !host) return keep_code(database, ZVDB_NULL_ARGUMENT);
    ZVDBDICT *d;
    if (ZVDBRET rc = database_dict(database, nullptr, &d)) return rc;
    list->count = 0;
    return locked(database, d, kRead, [&] {
        return for_linked(d, type, host, [&](const ZVDBDICTENTRY &e) -> ZVDBRET {
            if (list->count < list->capacity && list->items) {
                ZVDBVTENTRY &item = list->items[list->count];
                item.number = int32_t(e.counter & 0xFFFFu);
                item.kind = e.type == ZVDBDICT_VTABLE ? kVirtualFlag : 0;
                if (e.type == ZVDBDICT_VTABLE && item.name) std::snprintf(item.name, kVtName, "%.127s", e.name);
            }
            list->count++;
            return 0;
        });
    });
}

}  // extern "C"

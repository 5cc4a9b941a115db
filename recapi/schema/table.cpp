// Table handles: allocation, reset to the closed state, release, the
// one-line getters and setters of a table's properties, and what the engine
// asks of a table (the record description of its open data file).
//
// Invariants:
//  1. A table record owns its strings (heap copies), its field, index and
//     full-text handles, the hidden indexes and the dropped indexes; it
//     holds its records and its superfile descriptor without owning them.
//  2. While the table is active its path, password and group id stay as
//     the files were opened with (setters give 4011).
//  3. An allocated table is listed among its owner's children (its
//     database's tables, or its session's children) until it is freed.
#include "recapi/schema/table.h"

#include <cstring>
#include <initializer_list>
#include <utility>

#include "recapi/base/recapi_services.h"
#include "recapi/base/session.h"
#include "recapi/base/super.h"
#include "recapi/base/wrappers.h"
#include "recapi/schema/field.h"
#include "recapi/schema/fti.h"
#include "recapi/schema/icon.h"
#include "recapi/schema/index.h"
#include "recapi/schema/table_calls.h"
#include "recapi/schema/tablefile.h"
#include "recapi/schema/vtable.h"
#include "zarvo/zvdbpt.h"

namespace zv {

namespace {

constexpr const char *kReservedNames[] = {"$DELFLD$", "$NULFLD$", "$RECBYT$", "$ROWID$"};

// Replaces an owned string by a copy of text (NULL clears): 0, 4001 (the
// old string kept).
ZVDBRET replace(char **slot, const char *text) {
    char *copy = nullptr;
    if (text && !(copy = _zvdb_strdup(text))) return ZVDB_NO_MEMORY;
    _zvdb_free(*slot);
    *slot = copy;
    return 0;
}

// Frees an owned string and clears its slot.
void drop(char **slot) { *slot = static_cast<char *>(_zvdb_free(*slot)); }

// The partition rule: 0 never set, 1 cleared, else an owned text.
void drop_rule(tagZVDBTABLE *t) {
    if (reinterpret_cast<uintptr_t>(t->partrule) > 1) _zvdb_free(t->partrule);
    t->partrule = nullptr;
    drop(&t->partrequest);
}

// Frees every handle of a list and empties it (the list stays).
template <typename Free>
void free_items(ZVDBLIST *list, Free free_one) {
    for (int32_t i = _zvdbListCount(list) - 1; i >= 0; i--) free_one(list->items[i]);
    if (list) _zvdbListClear(list);
}

void free_index_item(void *ix) { free_index_record(static_cast<tagZVDBINDEX *>(ix)); }
void free_field_item(void *f) { free_field_record(static_cast<tagZVDBFIELD *>(f)); }
void free_fti_item(void *fti) { zvdbFreeFTI(fti); }
void free_block_item(void *p) { _zvdb_free(p); }

// The property setters' common first step: the table, or NULL with 4013
// kept on the handle.
tagZVDBTABLE *table_or_code(ZVHANDLE handle) {
    tagZVDBTABLE *t = table_of(handle);
    if (!t) keep_code(handle, ZVDB_NO_TABLE);
    return t;
}

// Replaces a string property; active tables refuse it when `frozen`.
ZVDBRET set_text(ZVHANDLE handle, char *tagZVDBTABLE::*member, const char *text, bool frozen) {
    tagZVDBTABLE *t = table_or_code(handle);
    if (!t) return ZVDB_NO_TABLE;
    if (frozen && t->active) return keep_code(handle, ZVDB_ACTIVE);
    return keep_code(handle, replace(&(t->*member), text));
}

}  // namespace

tagZVDBTABLE *table_of(ZVHANDLE handle) { return static_cast<tagZVDBTABLE *>(zvdbGetTableHandle(handle)); }

}  // namespace zv

using zv::keep_code;
using zv::table_of;

extern "C" {

const unsigned char *_zvdbTableSchemaMap(ZVHANDLE table) {
    auto *t = static_cast<const tagZVDBTABLE *>(zvdbGetTableHandle(table));
    return t ? t->recdesc : nullptr;
}

ZV_API int _zvdbIsReservedName(const char *name) {
    for (const char *reserved : zv::kReservedNames) {
        if (zv::same_name(name, reserved)) return 1;
    }
    return 0;
}

ZVDBRET _zvdbInitTable(tagZVDBTABLE *t) {
    if (!t) return ZVDB_NO_TABLE;
    t->active = 0;
    for (char **text : {&t->password, &t->groupid, &t->owner, &t->mirrorname, &t->mirrorpath, &t->identityname,
                        &t->idxnamebase}) {
        zv::drop(text);
    }
    t->permission = 6366;
    t->datno = -1;
    t->createmode = t->openmode = 0;
    t->dataextent = t->indexextent = 0;
    t->ifil = nullptr;
    t->doda = nullptr;
    t->dodasize = t->dodacount = 0;
    t->recdesc = nullptr;
    t->recdescsize = 0;
    t->fixedlen = 0;
    t->recformat = 0;
    t->uid = 0;
    t->hasnullfld = 0;
    t->superfile = nullptr;
    t->hiddenfields = 0;
    t->operation = 0;
    t->skippedindex = 0;
    t->hasrecbyt = t->hasrowid = 0;
    t->recbytno = t->rowidno = 0;
    t->rowidpos = 0;
    t->padbyte = t->delimbyte = 0;
    t->hasdelfld = 0;
    t->temporary = 0;
    t->tempxmode = 0;
    t->tabletype = 0;
    t->rebuildprogress = 0;
    t->callbackresult = 0;
    t->altermask = 0;
    t->alterstate = 3;
    t->defaultedfields = 0;
    t->vtnumber = 0;
    t->vtkind = 0;
    t->vtinfo = nullptr;
    t->partindex = t->partbits = -1;
    t->partdynmembers = 0;
    t->identityseed = t->identityincr = 0;
    t->alignment = 8;
    t->exthint = 0;
    t->reservedcheck = 1;
    zv::drop_rule(t);
    if (t->fields) _zvdbListClear(t->fields);
    if (t->indexes) _zvdbListClear(t->indexes);
    zv::free_items(t->droppedindexes, zv::free_index_item);
    zv::free_items(t->ftis, zv::free_fti_item);
    zv::free_index_record(t->rowidindex);
    zv::free_index_record(t->recbytindex);
    t->rowidindex = t->recbytindex = nullptr;
    const char *dbpath = t->database && t->database->path ? t->database->path : "";
    ZVDBRET rc = 0;
    for (auto [slot, text] : {std::pair{&t->name, "table"}, std::pair{&t->physname, "table"},
                              std::pair{&t->path, dbpath}, std::pair{&t->dataext, ".dat"},
                              std::pair{&t->indexext, ".idx"}}) {
        if (zv::replace(slot, text)) rc = ZVDB_NO_MEMORY;
    }
    return rc;
}

int _zvdbCheckTableType(const tagZVDBTABLE *t) {
    if (t->superfile && t->superfile->createsel == 1) return 1;
    if (t->superfile && t->superfile->createsel == 2) return zv::same_name(t->name, "zvdbdict") ? 2 : 3;
    constexpr char kDictEnd[] = ".qdd!";
    const size_t n = t->path ? std::strlen(t->path) : 0;
    if (n >= 6 && std::memcmp(t->path + n - (sizeof kDictEnd - 1), kDictEnd, sizeof kDictEnd - 1) == 0) return 3;
    return 4;
}

int32_t _zvdbGetDodaFieldInfo(ZVHANDLE table, int32_t n, int32_t *type) {
    tagZVDBTABLE *t = table_of(table);
    auto *f = t ? static_cast<tagZVDBFIELD *>(_zvdbListItem(t->fields, n)) : nullptr;
    if (!f || !f->dodaentry || !t->doda) return -1;
    for (int32_t i = 0; i < t->dodacount; i++) {
        if (t->doda[i].fsymb == f->dodaentry->fsymb) {
            if (type) *type = f->type;
            return i;
        }
    }
    return -1;
}

ZV_API ZVHANDLE zvdbAllocTable(ZVHANDLE handle) {
    auto *s = static_cast<tagZVDBSESSION *>(_zvdbSelectHandle(handle, ZVDB_SESSION_HANDLE));
    if (!s) return nullptr;
    auto *db = static_cast<tagZVDBDATABASE *>(_zvdbSelectHandle(handle, ZVDB_DATABASE_HANDLE));
    auto *t = static_cast<tagZVDBTABLE *>(_zvdb_alloc(1, sizeof(tagZVDBTABLE)));
    if (!t) return keep_code(handle, ZVDB_NO_MEMORY), nullptr;
    t->kind = ZVDB_TABLE_HANDLE;
    t->session = s;
    t->database = db;
    ZVDBRET rc = 0;
    if (!(t->fields = _zvdbListAlloc()) || !(t->indexes = _zvdbListAlloc()) || !(t->records = _zvdbListAlloc()) ||
        !(t->alterfiles = _zvdbListAlloc()) || !(t->ftis = _zvdbListAlloc())) {
        rc = ZVDB_NO_MEMORY;
    }
    if (!rc) rc = _zvdbIconAlloc(t);
    if (!rc) rc = _zvdbInitTable(t);
    if (!rc) {
        std::memcpy(t->callbacks, db ? db->callbacks : s->callbacks, sizeof t->callbacks);
        rc = _zvdbLinkChild(t);
    }
    if (rc) {
        zvdbFreeTable(t);
        return keep_code(handle, rc), nullptr;
    }
    return t;
}

ZV_API ZVHANDLE zvdbFreeTable(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return nullptr;
    if (t->active) zvdbCloseTable(t);
    // A close refused by its callback or the engine leaves the files open:
    // the handle that goes cannot leave them open behind it.
    if (t->active) _zvdbCloseZarvo(t);
    for (int32_t i = _zvdbListCount(t->resultsets) - 1; i >= 0; i--) zvdbFreeResultSet(t->resultsets->items[i]);
    _zvdb_free(t->ifil);
    _zvdb_free(t->doda);
    _zvdb_free(t->recdesc);
    _zvdbFreeVTableDef(t->vtinfo);
    for (char **text : {&t->name, &t->physname, &t->path, &t->dataext, &t->indexext, &t->password, &t->groupid,
                        &t->mirrorname, &t->mirrorpath, &t->owner, &t->identityname, &t->idxnamebase}) {
        zv::drop(text);
    }
    zv::drop_rule(t);
    // Indexes go before fields: their segments leave the fields' lists.
    zv::free_items(t->indexes, zv::free_index_item);
    zv::free_items(t->droppedindexes, zv::free_index_item);
    zv::free_index_record(t->rowidindex);
    zv::free_index_record(t->recbytindex);
    zv::free_items(t->fields, zv::free_field_item);
    zv::free_items(t->alterfiles, zv::free_block_item);
    zv::free_items(t->ftis, zv::free_fti_item);
    for (int32_t i = 0; i < _zvdbListCount(t->cndxexprs); i++) cndxfree(t->cndxexprs->items[i]);
    _zvdbUnlinkChildren(t, ZVDB_TABLE_HANDLE);
    _zvdbUnlinkChild(t);
    _zvdbIconFree(t);
    for (ZVDBLIST *list : {t->indexes, t->droppedindexes, t->fields, t->alterfiles, t->ftis, t->cndxexprs,
                           t->records, t->resultsets}) {
        _zvdbListFree(list);
    }
    _zvdb_free(t);
    return nullptr;
}

ZV_API int zvdbIsActiveTable(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    return t ? t->active : 0;
}

#define ZV_TABLE_GETTER(type, fn, expr, none)  \
    ZV_API type fn(ZVHANDLE table) {            \
        tagZVDBTABLE *t = table_of(table);      \
        return t ? (expr) : (none);             \
    }

ZV_TABLE_GETTER(const char *, zvdbGetTableName, t->name, nullptr)
ZV_TABLE_GETTER(const char *, zvdbGetTablePath, t->path, nullptr)
ZV_TABLE_GETTER(const char *, zvdbGetTableExtension, t->dataext, nullptr)
ZV_TABLE_GETTER(const char *, zvdbGetIndexExtension, t->indexext, nullptr)
ZV_TABLE_GETTER(const char *, zvdbGetTablePassword, t->password, nullptr)
ZV_TABLE_GETTER(const char *, zvdbGetTableGroupid, t->groupid, nullptr)
ZV_TABLE_GETTER(const char *, zvdbGetTableOwner, t->owner, nullptr)
ZV_TABLE_GETTER(int32_t, zvdbGetTableIndexCount, _zvdbListCount(t->indexes), -1)
ZV_TABLE_GETTER(int32_t, zvdbGetTableFieldCount, _zvdbListCount(t->fields), -1)
ZV_TABLE_GETTER(uint32_t, zvdbGetTableOpenMode, t->openmode, 0)
ZV_TABLE_GETTER(uint32_t, zvdbGetTableCreateMode, t->createmode, 0)
ZV_TABLE_GETTER(uint32_t, zvdbGetTableDefaultDataExtentSize, t->dataextent, 0)
ZV_TABLE_GETTER(uint32_t, zvdbGetTableDefaultIndexExtentSize, t->indexextent, 0)
ZV_TABLE_GETTER(uint32_t, zvdbGetTablePermission, t->permission, 0)
ZV_TABLE_GETTER(void *, zvdbGetTableObjptr, t->userobj, nullptr)
ZV_TABLE_GETTER(ZVDBSUPER *, zvdbGetTableSuperFile, t->superfile, nullptr)
ZV_TABLE_GETTER(int, zvdbHasNullFieldSupport, t->hasnullfld, 0)
ZV_TABLE_GETTER(int, zvdbHasDelField, t->hasdelfld, 0)
ZV_TABLE_GETTER(int, zvdbHasRecbyt, t->hasrecbyt, 0)
ZV_TABLE_GETTER(int, zvdbHasRowid, t->hasrowid, 0)
ZV_TABLE_GETTER(uint32_t, zvdbGetRebuildProgress, t->rebuildprogress, 0xFFFFFFFFu)

#undef ZV_TABLE_GETTER

ZV_API ZVDBRET zvdbSetTableObjptr(ZVHANDLE table, void *object) {
    tagZVDBTABLE *t = zv::table_or_code(table);
    if (!t) return ZVDB_NO_TABLE;
    t->userobj = object;
    return 0;
}

ZV_API ZVDBRET zvdbSetTablePath(ZVHANDLE table, const char *path) {
    tagZVDBTABLE *t = zv::table_or_code(table);
    if (!t) return ZVDB_NO_TABLE;
    if (t->active) return keep_code(table, ZVDB_ACTIVE);
    if (!path) return keep_code(table, ZVDB_NULL_ARGUMENT);
    const char *bar = std::strchr(path, '|');
    const size_t n = bar ? size_t(bar - path) : std::strlen(path);
    char *primary = _zvdb_stralloc(int32_t(n));
    char *mirror = bar ? _zvdb_strdup(bar + 1) : nullptr;
    if (!primary || (bar && !mirror)) {
        _zvdb_free(primary);
        _zvdb_free(mirror);
        return keep_code(table, ZVDB_NO_MEMORY);
    }
    std::memcpy(primary, path, n);
    _zvdb_free(t->path);
    _zvdb_free(t->mirrorpath);
    t->path = primary;
    t->mirrorpath = mirror;
    return 0;
}

ZV_API ZVDBRET zvdbSetTableExtension(ZVHANDLE table, const char *extension) {
    if (table_of(table) && !extension) return keep_code(table, ZVDB_NULL_ARGUMENT);
    return zv::set_text(table, &tagZVDBTABLE::dataext, extension, false);
}

ZV_API ZVDBRET zvdbSetIndexExtension(ZVHANDLE table, const char *extension) {
    return zv::set_text(table, &tagZVDBTABLE::indexext, extension ? extension : ".idx", false);
}

ZV_API ZVDBRET zvdbSetTablePassword(ZVHANDLE table, const char *password) {
    return zv::set_text(table, &tagZVDBTABLE::password, password, true);
}

ZV_API ZVDBRET zvdbSetTableGroupid(ZVHANDLE table, const char *groupid) {
    return zv::set_text(table, &tagZVDBTABLE::groupid, groupid, true);
}

ZV_API ZVDBRET zvdbSetTableOwner(ZVHANDLE table, const char *owner) {
    return zv::set_text(table, &tagZVDBTABLE::owner, owner, false);
}

#define ZV_TABLE_SETTER(fn, type, member)            \
    ZV_API ZVDBRET fn(ZVHANDLE table, type value) {   \
        tagZVDBTABLE *t = zv::table_or_code(table);   \
        if (!t) return ZVDB_NO_TABLE;                 \
        t->member = value;                            \
        return 0;                                     \
    }

ZV_TABLE_SETTER(zvdbSetTablePermission, uint32_t, permission)
ZV_TABLE_SETTER(zvdbSetTableDefaultDataExtentSize, uint32_t, dataextent)
ZV_TABLE_SETTER(zvdbSetTableDefaultIndexExtentSize, uint32_t, indexextent)
ZV_TABLE_SETTER(_zvdbSetCreateMode, uint32_t, createmode)

#undef ZV_TABLE_SETTER

ZV_API ZVDBRET zvdbGetActiveTableUID(ZVHANDLE table, uint32_t *uid) {
    tagZVDBTABLE *t = zv::table_or_code(table);
    if (!t) return ZVDB_NO_TABLE;
    if (!uid) return keep_code(table, ZVDB_NULL_ARGUMENT);
    *uid = t->uid;
    return 0;
}

ZV_API ZVDBRET zvdbSetTableSuperFile(ZVHANDLE table, ZVDBSUPER *descriptor) {
    tagZVDBTABLE *t = zv::table_or_code(table);
    if (!t) return ZVDB_NO_TABLE;
    if (!descriptor) return keep_code(table, ZVDB_NULL_ARGUMENT);
    if (descriptor->filno < 0) return keep_code(table, ZVDB_NOT_ACTIVE);
    t->superfile = descriptor;
    return 0;
}

ZV_API ZVDBRET zvdbClearTableSuperFile(ZVHANDLE table) {
    tagZVDBTABLE *t = zv::table_or_code(table);
    if (!t) return ZVDB_NO_TABLE;
    t->superfile = nullptr;
    return 0;
}

ZV_API ZVDBRET zvdbGetPadChar(ZVHANDLE table, unsigned char *pad, unsigned char *delimiter) {
    tagZVDBTABLE *t = zv::table_or_code(table);
    if (!t) return ZVDB_NO_TABLE;
    if (pad) *pad = t->padbyte;
    if (delimiter) *delimiter = t->delimbyte;
    return 0;
}

ZV_API ZVDBRET zvdbSetPadChar(ZVHANDLE table, unsigned char pad, unsigned char delimiter) {
    tagZVDBTABLE *t = zv::table_or_code(table);
    if (!t) return ZVDB_NO_TABLE;
    t->padbyte = pad;
    t->delimbyte = delimiter;
    return 0;
}

ZV_API int zvdbGetDatno(ZVHANDLE table) {
    tagZVDBTABLE *t = zv::table_or_code(table);
    if (!t) return -1;
    if (!t->active) return keep_code(table, ZVDB_NOT_ACTIVE), -1;
    return t->datno;
}

ZV_API int zvdbGetTableType(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    if (!t || !t->active) return 0;
    t->tabletype = uint32_t(_zvdbCheckTableType(t));
    return int(t->tabletype);
}

ZV_API int zvdbTableHasCallback(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    if (!t || t->tabletype != 4) return 0;
    for (ZvdbRoutine r : t->callbacks) {
        if (r) return 1;
    }
    return 0;
}

ZV_API ZVDBRET zvdbUnlockTable(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    return t ? _zvdbLOKREC(t->datno, 18, 0) : ZVDB_NO_TABLE;
}

ZV_API ZVDBRET zvdbUnlockTableWriteLocks(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    return t ? _zvdbLOKREC(t->datno, 22, 0) : ZVDB_NO_TABLE;
}

ZV_API ZVDBRET zvdbSetTableKSeg(ZVHANDLE table, void *) { return keep_code(table, ZVDB_NOT_SUPPORTED); }
ZV_API ZVDBRET zvdbGetTableKSeg(ZVHANDLE table, void *) { return keep_code(table, ZVDB_NOT_SUPPORTED); }

}  // extern "C"

// Table close, detach and remove: an active table handle goes back to the
// closed state (names "table", no fields, no indexes, data file -1).
//
// Invariants:
//  1. The handle follows its files: a close that leaves the data file open
//     (a close callback's refusal, the engine's 817 or 820, any refusal that
//     kept the file) leaves the table open and listed; a close after which
//     the engine let the files go leaves it closed, whatever the code.
//  2. Record contexts are reset before the files go, so none outlives the
//     data file it was opened on.
//  3. Close reports what happened: the first failure is set and returned.
#include <initializer_list>

#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/catalog/dict_calls.h"
#include "recapi/schema/field.h"
#include "recapi/schema/icon.h"
#include "recapi/schema/index.h"
#include "recapi/schema/table.h"
#include "recapi/schema/table_calls.h"
#include "recapi/schema/tablefile.h"
#include "recapi/schema/vtable.h"

namespace zv {

namespace {

constexpr int kCbClose = 11;
// The engine's answer for a lock release with no lock held.
constexpr int kNoLocks = 26;

// Closes the table's files: through its definition (with no indexes named)
// for open bit 64, else the data file with its indexes. The engine's code.
int close_files(tagZVDBTABLE *t) {
    if (!(t->openmode & 64) || !t->ifil) return _zvdbCLRFIL(t->datno);
    IFIL def = *t->ifil;
    def.tfilno = t->datno;
    def.dnumidx = 0;
    return _zvdbCLIFIL(&def);
}

// Whether the data file number still names an open file.
bool still_open(int datno) { return _zvdbGETFIL(datno, 0, nullptr) == 0; }

// Contexts, the database's list and the records let go of the table.
void leave_users(tagZVDBTABLE *t) {
    _zvdbIconReset(t);
    if (t->database) _zvdbRemoveActiveTable(t->database, t);
    if (t->session && t->session->loggedon) zvdbResetAll(t);
}

ZVDBRET close_table(tagZVDBTABLE *t) {
    if (ZVDBRET rc = fire_table_callback(t, kCbClose, 0)) return rc;
    ZVDBRET first = 0;
    if (t->openmode & 128) {
        ZVDBRET rc = zvdbUnlockTable(t);
        if (rc != 0 && rc != kNoLocks) first = rc;
    }
    leave_users(t);
    if (t->datno >= 0) {
        ZVDBRET rc = close_files(t);
        if (rc && still_open(t->datno)) {
            if (t->database) _zvdbAddActiveTable(t->database, t);
            return rc;
        }
        if (!first) first = rc;
    }
    release_table(t);
    return first;
}

}  // namespace

void new_layout(tagZVDBTABLE *t) {
    if (++t->layoutstamp == UINT32_MAX) t->layoutstamp = 0;
}

void drop_definition(tagZVDBTABLE *t) {
    // Indexes go before fields: their segments leave the fields' lists.
    for (int32_t i = _zvdbListCount(t->indexes) - 1; i >= 0; i--) {
        free_index_record(static_cast<tagZVDBINDEX *>(t->indexes->items[i]));
    }
    if (t->indexes) _zvdbListClear(t->indexes);
    free_index_record(t->recbytindex);
    free_index_record(t->rowidindex);
    t->recbytindex = t->rowidindex = nullptr;
    for (int32_t i = _zvdbListCount(t->fields) - 1; i >= 0; i--) {
        free_field_record(static_cast<tagZVDBFIELD *>(t->fields->items[i]));
    }
    if (t->fields) _zvdbListClear(t->fields);
    drop_read(t);
}

void drop_read(tagZVDBTABLE *t) {
    t->ifil = static_cast<IFIL *>(_zvdb_free(t->ifil));
    t->doda = static_cast<DATOBJ *>(_zvdb_free(t->doda));
    t->recdesc = static_cast<unsigned char *>(_zvdb_free(t->recdesc));
    t->dodasize = t->dodacount = t->recdescsize = 0;
}

void release_table(tagZVDBTABLE *t) {
    drop_definition(t);
    _zvdbFreeVTableDef(t->vtinfo);
    t->vtinfo = nullptr;
    _zvdbInitTable(t);
    t->tabletype = 0;
    new_layout(t);
}

bool table_callbacks_active(const tagZVDBTABLE *t) {
    return t->tabletype == 4 && (t->openmode & 0x120) != 0x120;
}

ZVDBRET fire_table_callback(tagZVDBTABLE *t, int kind, int32_t value) {
    if (!table_callbacks_active(t) || !t->callbacks[kind]) return 0;
    return reinterpret_cast<ZVDB_TABLE_CALLBACK>(t->callbacks[kind])(t, value);
}

}  // namespace zv

using zv::keep_code;
using zv::table_of;

extern "C" {

ZV_API ZVDBRET zvdbCloseTable(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return 0;
    const zv::CallerHandle caller(table);
    ZVDBRET rc = t->active ? zv::close_table(t) : 0;
    t->operation = 0;
    return caller.keep(rc);
}

ZV_API ZVDBRET zvdbCloseAll(ZVHANDLE database) {
    auto *db = static_cast<tagZVDBDATABASE *>(zvdbGetDatabaseHandle(database));
    if (!db) return 0;
    const zv::CallerHandle caller(database);
    ZVDBRET first = 0;
    while (_zvdbListCount(db->tables) > 0) {
        auto *t = static_cast<tagZVDBTABLE *>(_zvdbListItem(db->tables, 0));
        ZVDBRET rc = zvdbCloseTable(t);
        if (t->active) return caller.keep(rc ? rc : ZVDB_ACTIVE);
        if (rc && !first) first = rc;
        if (_zvdbListIndexOf(db->tables, t) >= 0) {
            if (ZVDBRET gone = _zvdbRemoveActiveTable(db, t)) return caller.keep(first ? first : gone);
        }
    }
    return caller.keep(first);
}

ZV_API ZVDBRET zvdbDetachTable(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    t->operation = 0;
    if (!t->active) return keep_code(table, ZVDB_NOT_ACTIVE);
    if (ZVDBRET rc = zv::fire_table_callback(t, zv::kCbClose, 0)) return keep_code(table, rc);
    if (ZVDBRET rc = zvdbUnlockTable(t)) return keep_code(table, rc);
    zv::leave_users(t);
    zv::release_table(t);
    return 0;
}

ZVDBRET _zvdbCloseZarvo(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    if (!t->session) return keep_code(table, ZVDB_NO_SESSION);
    _zvdbIconReset(t);
    zvdbUnlockTable(t);
    int rc = t->datno >= 0 ? zv::close_files(t) : 0;
    t->datno = -1;
    return keep_code(table, rc);
}

ZVDBRET _zvdbCleanupTableHandle(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    if (t->database) {
        if (ZVDBRET rc = _zvdbRemoveActiveTable(t->database, t)) return keep_code(table, rc);
    }
    zv::release_table(t);
    return 0;
}

ZV_API ZVDBRET zvdbRemoveTable(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    const bool active = t->active != 0;
    const uint32_t openmode = t->openmode;
    if (active) {
        if (ZVDBRET rc = _zvdbCloseZarvo(t)) return rc;
    }
    ZVDBRET rc = 0;
    if (t->database) {
        rc = zvdbDeleteTable(t->database, t->name, t->password);
    } else {
        const bool own = !t->session->tranactive && (t->createmode & 3);
        if (own) zvdbBegin(t);
        rc = _zvdbUnlinkTable(t, t->physname, t->path, t->dataext, t->password);
        if (own) {
            ZVDBRET end = rc ? zvdbAbort(t) : zvdbCommit(t);
            if (!rc) rc = end;
        }
    }
    if (rc) {
        if (active) _zvdbReopenZarvo(t, openmode);
        return keep_code(table, rc);
    }
    if (active) {
        zvdbResetAll(t);
        zv::release_table(t);
    }
    return 0;
}

}  // extern "C"

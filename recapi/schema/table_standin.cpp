// Least stand-ins of table routines whose own modules come later:
//  - the table close that the session layer calls (table_calls.h): 4054;
//  - the ISAM-context slots (icon.h): the array with its 32 free slots at
//    allocation and its release; slots handed out, shared and given back
//    without engine contexts;
//  - the record schema built from a table's field list (tablecreate.h):
//    4054.
#include <cstring>

#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/schema/icon.h"
#include "recapi/schema/table.h"
#include "recapi/schema/table_calls.h"
#include "recapi/schema/tablecreate.h"

extern "C" {

ZVDBRET zvdbCloseTable(ZVHANDLE) { return ZVDB_NOT_SUPPORTED; }

ZVDBRET _zvdbIconAlloc(ZVHANDLE table) {
    tagZVDBTABLE *t = zv::table_of(table);
    if (!t) return zv::keep_code(table, ZVDB_NO_TABLE);
    if (t->icons) return 0;
    auto *icon = static_cast<ZVDBICON *>(_zvdb_alloc(1, sizeof(ZVDBICON)));
    auto *slots = static_cast<ZVDBICONSLOT *>(_zvdb_alloc(kZvdbIconStep, sizeof(ZVDBICONSLOT)));
    if (!icon || !slots) {
        _zvdb_free(icon);
        _zvdb_free(slots);
        return zv::keep_code(table, ZVDB_NO_MEMORY);
    }
    for (int32_t i = 0; i < kZvdbIconStep; i++) slots[i].context = -1;
    icon->slots = slots;
    icon->capacity = kZvdbIconStep;
    t->icons = icon;
    return 0;
}

ZVDBRET _zvdbIconFree(ZVHANDLE table) {
    tagZVDBTABLE *t = zv::table_of(table);
    if (!t) return zv::keep_code(table, ZVDB_NO_TABLE);
    ZVDBICON *icon = t->icons;
    if (!icon) return 0;
    ZVDBRET rc = 0;
    for (int32_t i = 0; i < icon->capacity; i++) {
        if (icon->slots[i].users > 0 && icon->slots[i].context != -1) {
            if (int e = _zvdbCLSICON(icon->slots[i].context)) rc = e;
        }
    }
    _zvdb_free(icon->slots);
    _zvdb_free(icon);
    t->icons = nullptr;
    return rc;
}

namespace {

// The slot array of a table and the check of a slot number: 0 or the code.
ZVDBRET icon_slot(ZVHANDLE table, int32_t slot, ZVDBICON **out) {
    tagZVDBTABLE *t = zv::table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    if (!t->icons) return ZVDB_NOT_ACTIVE;
    if (slot < 0 || slot >= t->icons->capacity) return ZVDB_ISAM_CONTEXT;
    *out = t->icons;
    return 0;
}

}  // namespace

ZVDBRET _zvdbIconSwitch(ZVHANDLE table, int32_t *slot) {
    if (!slot) return zv::keep_code(table, ZVDB_NULL_ARGUMENT);
    tagZVDBTABLE *t = zv::table_of(table);
    if (!t) return zv::keep_code(table, ZVDB_NO_TABLE);
    ZVDBICON *icon = t->icons;
    if (!icon) return zv::keep_code(table, ZVDB_NOT_ACTIVE);
    if (*slot < 0) {
        int32_t i = 0;
        while (i < icon->capacity && icon->slots[i].users > 0) i++;
        if (i == icon->capacity) return zv::keep_code(table, ZVDB_BAD_MODE);
        icon->slots[i].users = 1;
        icon->used++;
        *slot = i;
    }
    if (*slot >= icon->capacity) return zv::keep_code(table, ZVDB_ISAM_CONTEXT);
    icon->current = *slot;
    return 0;
}

ZVDBRET _zvdbIconAttach(ZVHANDLE table, int32_t slot) {
    ZVDBICON *icon = nullptr;
    if (ZVDBRET rc = icon_slot(table, slot, &icon)) return zv::keep_code(table, rc);
    icon->slots[slot].users++;
    return 0;
}

ZVDBRET _zvdbIconRelease(ZVHANDLE table, int32_t slot) {
    ZVDBICON *icon = nullptr;
    if (ZVDBRET rc = icon_slot(table, slot, &icon)) return zv::keep_code(table, rc);
    ZVDBICONSLOT &s = icon->slots[slot];
    if (--s.users > 0) return 0;
    s.users = 0;
    if (s.context != -1) {
        if (int rc = _zvdbCLSICON(s.context)) {
            s.users = 1;
            return zv::keep_code(table, rc);
        }
        s.context = -1;
    }
    if (icon->used > 0) icon->used--;
    return 0;
}

ZVDBRET _zvdbAllocDoda(ZVHANDLE, int) { return ZVDB_NOT_SUPPORTED; }

}  // extern "C"

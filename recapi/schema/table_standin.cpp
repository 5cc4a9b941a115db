// Least stand-ins of table routines whose own modules come later:
//  - the table close that the session layer calls (table_calls.h): 4054;
//  - the ISAM-context slots (icon.h): the array with its 32 free slots at
//    allocation and its release; switching, adding, attaching and releasing
//    slots come with the record handles;
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

ZVDBRET _zvdbAllocDoda(ZVHANDLE, int) { return ZVDB_NOT_SUPPORTED; }

}  // extern "C"

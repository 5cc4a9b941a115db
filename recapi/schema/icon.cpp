// ISAM-context slots of a table (icon.h).
//
// Invariants:
//  1. A slot's context is -1 or an engine context opened on the table's
//     data file with no record filter; only slots with users hold one.
//  2. Contexts never outlive the data file: close, detach, rebuild and
//     alteration reset the array before the files go, leaving every slot's
//     context at -1 and no slot current, so that each holder (the slot-0
//     holder included) opens a fresh context at its next switch.
//  3. Switching to a slot whose context is open is one engine call and no
//     allocation.
#include "recapi/schema/icon.h"

#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/schema/table.h"

namespace zv {

namespace {

IconCounts g_counts{};

// The engine's answer to clearing a filter that was never set.
constexpr int kNoFilter = 979;

// The table and its slot array, or the code (not kept).
ZVDBRET slots_of(ZVHANDLE table, tagZVDBTABLE **t, ZVDBICON **icon) {
    *t = table_of(table);
    if (!*t) return ZVDB_NO_TABLE;
    *icon = (*t)->icons;
    return *icon ? 0 : ZVDB_NOT_ACTIVE;
}

// The array of a table and the check of a slot number in it: 0, 4013,
// 4012, 4050 (not kept).
ZVDBRET held_slot(ZVHANDLE table, int32_t slot, ZVDBICON **icon) {
    tagZVDBTABLE *t = nullptr;
    if (ZVDBRET rc = slots_of(table, &t, icon)) return rc;
    return slot < 0 || slot >= (*icon)->capacity ? ZVDB_ISAM_CONTEXT : 0;
}

// Opens a context on the table's data file (it becomes current) and clears
// its record filter; a failed clear closes it again. 0 or the engine's code.
int open_context(const tagZVDBTABLE *t, int32_t *context) {
    int id = -1;
    g_counts.opened++;
    if (int rc = _zvdbOPNICON(t->datno, &id)) return rc;
    int rc = _zvdbSETFLTR(t->datno, "");
    if (rc != 0 && rc != kNoFilter) {
        g_counts.closed++;
        _zvdbCLSICON(id);
        return rc;
    }
    *context = id;
    return 0;
}

int close_context(int32_t context) {
    g_counts.closed++;
    return _zvdbCLSICON(context);
}

// Grows the array by one step of free slots: 0, 4001 (the array as it was).
ZVDBRET grow(ZVDBICON *icon) {
    const int32_t capacity = icon->capacity + kZvdbIconStep;
    auto *slots = static_cast<ZVDBICONSLOT *>(_zvdb_alloc(capacity, int32_t(sizeof(ZVDBICONSLOT))));
    if (!slots) return ZVDB_NO_MEMORY;
    for (int32_t i = 0; i < capacity; i++) {
        slots[i] = i < icon->capacity ? icon->slots[i] : ZVDBICONSLOT{-1, 0};
    }
    _zvdb_free(icon->slots);
    icon->slots = slots;
    icon->capacity = capacity;
    return 0;
}

}  // namespace

const IconCounts &icon_counts() { return g_counts; }

}  // namespace zv

using zv::keep_code;

extern "C" {

ZVDBRET _zvdbIconAlloc(ZVHANDLE table) {
    tagZVDBTABLE *t = zv::table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    if (t->icons) return 0;
    auto *icon = static_cast<ZVDBICON *>(_zvdb_alloc(1, sizeof(ZVDBICON)));
    if (!icon || zv::grow(icon)) {
        _zvdb_free(icon);
        return keep_code(table, ZVDB_NO_MEMORY);
    }
    icon->current = -1;
    t->icons = icon;
    return 0;
}

ZVDBRET _zvdbIconReset(ZVHANDLE table) {
    tagZVDBTABLE *t = nullptr;
    ZVDBICON *icon = nullptr;
    ZVDBRET rc = zv::slots_of(table, &t, &icon);
    if (rc == ZVDB_NOT_ACTIVE) return 0;
    if (rc) return keep_code(table, rc);
    for (int32_t i = 0; i < icon->capacity; i++) {
        ZVDBICONSLOT &s = icon->slots[i];
        if (s.context != -1) {
            if (int e = zv::close_context(s.context)) rc = e;
            s.context = -1;
        }
    }
    icon->used = 0;
    icon->current = -1;
    return keep_code(table, rc);
}

ZVDBRET _zvdbIconFree(ZVHANDLE table) {
    tagZVDBTABLE *t = zv::table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    if (!t->icons) return 0;
    ZVDBRET rc = _zvdbIconReset(table);
    _zvdb_free(t->icons->slots);
    t->icons = static_cast<ZVDBICON *>(_zvdb_free(t->icons));
    return rc;
}

ZVDBRET _zvdbIconAdd(ZVHANDLE table, int32_t *slot) {
    if (!slot) return keep_code(table, ZVDB_NULL_ARGUMENT);
    tagZVDBTABLE *t = nullptr;
    ZVDBICON *icon = nullptr;
    if (ZVDBRET rc = zv::slots_of(table, &t, &icon)) return keep_code(table, rc);
    int32_t i = 0;
    while (i < icon->capacity && icon->slots[i].users > 0) i++;
    if (i == icon->capacity) {
        if (ZVDBRET rc = zv::grow(icon)) return keep_code(table, rc);
    }
    int32_t context = -1;
    if (int rc = zv::open_context(t, &context)) return keep_code(table, rc);
    icon->slots[i] = ZVDBICONSLOT{context, 1};
    icon->current = i;
    icon->used++;
    *slot = i;
    return 0;
}

ZVDBRET _zvdbIconSwitch(ZVHANDLE table, int32_t *slot) {
    if (!slot) return keep_code(table, ZVDB_NULL_ARGUMENT);
    if (*slot < 0) return _zvdbIconAdd(table, slot);
    tagZVDBTABLE *t = nullptr;
    ZVDBICON *icon = nullptr;
    if (ZVDBRET rc = zv::slots_of(table, &t, &icon)) return keep_code(table, rc);
    if (*slot >= icon->capacity) return keep_code(table, ZVDB_ISAM_CONTEXT);
    ZVDBICONSLOT &s = icon->slots[*slot];
    if (s.context == -1) {
        if (int rc = zv::open_context(t, &s.context)) return keep_code(table, rc);
    } else {
        zv::g_counts.switched++;
        if (int rc = _zvdbCHGICON(s.context)) return keep_code(table, rc);
    }
    icon->current = *slot;
    return 0;
}

ZVDBRET _zvdbIconAttach(ZVHANDLE table, int32_t slot) {
    ZVDBICON *icon = nullptr;
    if (ZVDBRET rc = zv::held_slot(table, slot, &icon)) return keep_code(table, rc);
    icon->slots[slot].users++;
    return 0;
}

ZVDBRET _zvdbIconRelease(ZVHANDLE table, int32_t slot) {
    ZVDBICON *icon = nullptr;
    if (ZVDBRET rc = zv::held_slot(table, slot, &icon)) return keep_code(table, rc);
    ZVDBICONSLOT &s = icon->slots[slot];
    if (s.users > 1) {
        s.users--;
        return 0;
    }
    // After a reset the engine has no context of this slot to close.
    if (s.context != -1) {
        if (int rc = zv::close_context(s.context)) return keep_code(table, rc);
    }
    if (s.users > 0 && icon->used > 0) icon->used--;
    s = ZVDBICONSLOT{-1, 0};
    return 0;
}

}  // extern "C"

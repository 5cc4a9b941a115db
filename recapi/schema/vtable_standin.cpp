// Least stand-ins of the virtual-table reads of table open (vtable_calls.h):
// no virtual table, no partition rule, no virtual-table definition to
// remove.
#include "recapi/schema/vtable_calls.h"

extern "C" {

ZVDBRET _zvdbReadVTableSchema(tagZVDBTABLE *) { return ZVDB_NOT_SUPPORTED; }

ZVDBRET _allocAndGetPARTRES(ZVHANDLE, char **rule) {
    if (rule) *rule = nullptr;
    return 0;
}

ZVDBRET zvdbRemoveVTableResource(ZVHANDLE table, int32_t) {
    auto *t = static_cast<tagZVDBTABLE *>(zvdbGetTableHandle(table));
    if (!t || !t->active) return ZVDB_NOT_ACTIVE;
    return 408;
}

}  // extern "C"

// Least stand-ins of the virtual-table reads of table open (vtable_calls.h):
// no virtual table, no partition rule.
#include "recapi/schema/vtable_calls.h"

extern "C" {

ZVDBRET _zvdbReadVTableSchema(tagZVDBTABLE *) { return ZVDB_NOT_SUPPORTED; }

ZVDBRET _allocAndGetPARTRES(ZVHANDLE, char **rule) {
    if (rule) *rule = nullptr;
    return 0;
}

}  // extern "C"

// Least stand-ins of the type services of multi-record-type tables
// (vtype_calls.h): no such table can be opened yet.
#include "recapi/records/vtype_calls.h"

extern "C" {

ZVDBRET _zvdbCheckRecordType(tagZVDBRECORD *r) {
    return r->table && r->table->vtkind == kZvdbTypeTable ? ZVDB_NOT_SUPPORTED : 0;
}

ZVDBRET _zvdbTypeFilter(const tagZVDBTABLE *, const char **text) {
    *text = nullptr;
    return ZVDB_NOT_SUPPORTED;
}

ZVDBRET _zvdbTypeIndexDefault(tagZVDBRECORD *) { return ZVDB_NOT_SUPPORTED; }

}  // extern "C"

// Least stand-in of the record-type check of multi-record-type tables
// (vtype_calls.h).
#include "recapi/records/vtype_calls.h"

extern "C" {

ZVDBRET _zvdbCheckRecordType(tagZVDBRECORD *r) {
    return r->table && r->table->vtkind == 0x10000 ? ZVDB_NOT_SUPPORTED : 0;
}

}  // extern "C"

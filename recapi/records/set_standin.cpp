// Least stand-ins of the filter, set, range, batch and search services
// (set_calls.h): nothing of them can be active yet.
#include "recapi/records/set_calls.h"

namespace {

tagZVDBRECORD *as_record(ZVHANDLE h) {
    return h && zv::handle_kind(h) == ZVDB_RECORD_HANDLE ? static_cast<tagZVDBRECORD *>(h) : nullptr;
}

}  // namespace

extern "C" {

ZVDBRET zvdbEndBatch(ZVHANDLE record) {
    if (tagZVDBRECORD *r = as_record(record)) r->batchno = 0;
    return 0;
}

ZVDBRET zvdbRecordRangeOff(ZVHANDLE record) {
    if (tagZVDBRECORD *r = as_record(record)) r->rangeon = 0;
    return 0;
}

ZVDBRET zvdbRecordSetOff(ZVHANDLE record) {
    if (tagZVDBRECORD *r = as_record(record)) r->recseton = 0;
    return 0;
}

void _zvdbDropFilter(tagZVDBRECORD *r) { r->filtertype = 0; }
void _zvdbFreeExpression(tagZVDBRECORD *) {}
void _zvdbFreeCriteria(tagZVDBRECORD *) {}
void _zvdbEndFTSearch(tagZVDBRECORD *r) { r->ftson = 0; }

ZVDBRET zvdbMTRFilter(ZVHANDLE record) {
    tagZVDBRECORD *r = as_record(record);
    if (!r) return ZVDB_NO_RECORD;
    return r->table && r->table->vtkind == 0x10000 ? ZVDB_NOT_SUPPORTED : ZVDB_BAD_ARGUMENT;
}

ZVDBRET _zvdbTypeIndexDefault(tagZVDBRECORD *) { return ZVDB_NOT_SUPPORTED; }

}  // extern "C"

// The record-type check of a write on a multi-record-type table, which
// the virtual-table module owns (its type expression and the type
// information of the table): recapi/schema/vtable.cpp.
#pragma once

#include "recapi/base/handles.h"

extern "C" {

// 0 when the record's packed image belongs to its table's record type; 739
// when it does not; the evaluation's codes.
ZVDBRET _zvdbCheckRecordType(tagZVDBRECORD *r);

}  // extern "C"

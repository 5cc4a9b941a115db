// The record-type check of a write on a multi-record-type table, which
// the virtual-table module owns (its type expression and the type
// information of the table).
//
// Stand-in until that module lands (vtype_standin.cpp): no such table can
// be opened yet, so every other table passes and one that claims the kind
// is refused with 4054.
#pragma once

#include "recapi/base/handles.h"

extern "C" {

// 0 when the record's packed image belongs to its table's record type; 739
// when it does not; the evaluation's codes.
ZVDBRET _zvdbCheckRecordType(tagZVDBRECORD *r);

}  // extern "C"

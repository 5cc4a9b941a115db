// What records of a multi-record-type table ask of the virtual-table
// module (recapi/schema/vtable.cpp), which owns the table's type
// information (its type expression, type filter and type index).
#pragma once

#include <cstdint>

#include "recapi/base/handles.h"

// The virtual-table kind of a multi-record-type table.
constexpr uint32_t kZvdbTypeTable = 0x10000;

extern "C" {

// 0 when the record's packed image belongs to its table's record type; 739
// when it does not; the evaluation's codes.
ZVDBRET _zvdbCheckRecordType(tagZVDBRECORD *r);
// The type filter text of a multi-record-type table into *text (NULL when
// it has none): 0, 4025 no type information.
ZVDBRET _zvdbTypeFilter(const tagZVDBTABLE *t, const char **text);
// Physical order of a record of a multi-record-type table: the type index
// as its default index and a key-prefix set on the type prefix. 0, 4025,
// 4059, 4001, the set's codes.
ZVDBRET _zvdbTypeIndexDefault(tagZVDBRECORD *r);

}  // extern "C"

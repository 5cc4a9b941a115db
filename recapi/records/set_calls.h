// Record services of filters, key-prefix sets, ranges, batches, locate
// criteria, full-text search and multi-record-type tables that the record
// handle calls before their own modules exist.
//
// Stand-ins until those modules land (set_standin.cpp): no call can start a
// batch, range, set, filter, search or criteria list yet, so each "end"
// finds nothing active and clears the record's words; the type filter and
// the type index of a multi-record-type table answer 4054 (no such table
// can be opened yet).
#pragma once

#include "recapi/base/handles.h"

extern "C" {

// End what is active on the record: 0.
ZVDBRET zvdbEndBatch(ZVHANDLE record);
ZVDBRET zvdbRecordRangeOff(ZVHANDLE record);
ZVDBRET zvdbRecordSetOff(ZVHANDLE record);
// Drops the filter (its texts), the compiled expression, the locate
// criteria, and the full-text search flag.
void _zvdbDropFilter(tagZVDBRECORD *r);
void _zvdbFreeExpression(tagZVDBRECORD *r);
void _zvdbFreeCriteria(tagZVDBRECORD *r);
void _zvdbEndFTSearch(tagZVDBRECORD *r);
// The type filter of a multi-record-type table: 4004 on other tables, 4054.
ZVDBRET zvdbMTRFilter(ZVHANDLE record);
// Physical order on a multi-record-type table: its type index and a set on
// the type prefix. 4054.
ZVDBRET _zvdbTypeIndexDefault(tagZVDBRECORD *r);

}  // extern "C"

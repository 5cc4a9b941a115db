// What the record handle's life asks of the modules that narrow a record's
// order and move records in bulk: filters and conditional expressions
// (filter.cpp), key-prefix sets, ranges and full-text search (recset.cpp),
// locate criteria (locate.cpp) and batches (batch.cpp). Each "end" or
// "drop" leaves its state as a new record has it; ending what is not
// active does nothing.
#pragma once

#include "recapi/base/handles.h"

extern "C" {

// Ends the batch (zvdb.h), the range and the key-prefix set.
ZVDBRET zvdbEndBatch(ZVHANDLE record);
ZVDBRET zvdbRecordRangeOff(ZVHANDLE record);
ZVDBRET zvdbRecordSetOff(ZVHANDLE record);
// Forgets the filter: its type-1 text and the saved base filter are freed,
// the type becomes 0 and no result set drives it. The engine's filter goes
// with the record's context.
void _zvdbDropFilter(tagZVDBRECORD *r);
// Frees the compiled conditional expression (text and tree).
void _zvdbFreeExpression(tagZVDBRECORD *r);
// Frees the locate criteria.
void _zvdbFreeCriteria(tagZVDBRECORD *r);
// Ends a full-text search.
void _zvdbEndFTSearch(tagZVDBRECORD *r);
// Frees the batch filter and the batch range.
void _zvdbFreeBatchSettings(tagZVDBRECORD *r);
// Gives `to` a copy of the key-prefix set of `from` (none when it has
// none): 0, 4001 (`to` then has no set).
ZVDBRET _zvdbCopyRecordSet(const tagZVDBRECORD *from, tagZVDBRECORD *to);

}  // extern "C"

extern "C" {

// The batch-number pool of a session: a number is the last one released
// (taken out of the list), else one above the highest handed out; 4154
// past 65535. Releasing the highest lowers it; any other number joins the
// list. 0, 4003 no session, 4001.
ZVDBRET _zvdbTakeBatchNumber(tagZVDBSESSION *s, int16_t *number);
ZVDBRET _zvdbReleaseBatchNumber(tagZVDBSESSION *s, int16_t number);

}  // extern "C"

namespace zv {

// Engine requests of batches since the process started (test support).
struct BatchCounts {
    uint64_t requests;
};
BatchCounts &batch_counts();

}  // namespace zv

// Conditional indexes in key formation (see keycond.cpp): the evaluation of
// an index's condition for a record.
#pragma once

#include <cstdint>

namespace zv {

// Evaluates the condition of relative index condno of a data file's table
// on a record: 1 the record belongs in the index, 0 it does not; -598
// (user error 598) for a null table or record, no entry for condno, or an
// evaluation error (the expression error stays in INSTGV::exprerr); -435
// when the evaluation area cannot be allocated. condno -105: `table` is
// itself one compiled expression.
int zvevalcidx(void *table, int datno, int condno, const void *record, const unsigned char *schema,
               int32_t fixlen, int32_t reclen);

}  // namespace zv

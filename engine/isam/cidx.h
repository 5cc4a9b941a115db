// Conditional indexes, least form (isam_files_stub.cpp): no index carries a
// condition yet, and a condition, when asked, lets every record in.
#pragma once

#include <cstdint>

namespace zv {

// Whether index relidx of a data file has a condition: 16 (expression),
// 32 (callback) or 0. Least form: 0.
int zvchkcidx(int datno, int relidx);
// Evaluates an index condition on a record: 1 the record belongs in the
// index, 0 it does not, negative on error (598 bad arguments).
int zvevalcidx(void *handle, int datno, int condno, const void *record, const unsigned char *schema,
               int32_t fixlen, int32_t reclen);

// ---- Test support (not exported) -----------------------------------------
// Until the expression language evaluates conditions, zvevalcidx hands its
// work to this predicate when one is set (same result convention); null:
// every record belongs.
using TestCondition = int (*)(int datno, int condno, const void *record, int32_t reclen);
void set_test_condition(TestCondition fn);

}  // namespace zv

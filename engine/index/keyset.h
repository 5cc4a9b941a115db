// Key sets (see keyset.cpp).
#pragma once

#include <cstdint>

namespace zv {

// Number of chains of the set table when the instance's set-table size
// setting is 0.
constexpr int32_t kSetSlotsDefault = 32;

// Starts a set: search mode 'G' (first) or 'M' (last) from the target
// prefix followed by fill bytes. 0 or the ISAM error code.
int boundSET(int mode, int fill, int keyno, const void *target, void *record, int32_t siglen, int32_t *len);
// Steps the current set: search mode 'H' (next) or 'N' (previous).
int seqSET(int mode, int keyno, void *record, int32_t *len);
// Makes the set of the current record's key prefix current.
int iMIDSET(int keyno, void *record, int32_t siglen, int32_t *len);

}  // namespace zv

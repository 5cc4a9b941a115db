// Calls of the index engine up into the ISAM layer: the current ISAM record
// of a data file and the reads that make a record current (forming the key
// images of its indexes again), and the length check of the variable-length
// calls. The ISAM layer defines them (engine/isam/isam_read.cpp); REDIREC
// and REDIVREC are public calls and are declared in zarvo.h.
//
//   REDIREC(datno, poslow, record): reads the fixed-length record at
//     (pending high word, poslow) and makes it the current ISAM record,
//     forming the current key images of the data file's indexes (only index
//     ~selector while the instance's key selector is negative; the others
//     are then formed again on first use).
//   REDIVREC(datno, poslow, record, len): the variable-length form; *len is
//     the buffer length in, the record length out.
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

namespace zv {

// Reads the record that an entry of index keyno points to and makes it
// current: 0, 739 rejected by the record filter, or the read's error. With
// a length pointer the variable-length read is used. Position 0 reads
// nothing: the pending error, or 101 (end of index). The current record is
// left as it was by every failure.
int reset_cur2(int keyno, uint32_t posh, uint32_t posl, void *record, int32_t *len);
// reset_cur2 without a position: the pending error, or 101.
int reset_cur(int keyno, uint32_t posh, uint32_t posl, void *record);
// 633 (also the ISAM error) for a null length pointer, else 0.
int zv_chkplen(const int32_t *len);

}  // namespace zv

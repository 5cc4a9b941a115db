// Calls of the index engine up into the ISAM layer: the current ISAM record
// of a data file and the reads that make a record current (forming the key
// images of its indexes again), the length check of the variable-length
// calls, and the prefix levels of distinct-key counting.
//
// Until the ISAM layer exists, engine/isam/current_standin.cpp gives the
// least form of each: records are read through the record-space routines,
// and a predicate installed by a test stands in for the ISAM record filter.
#pragma once

#include <cstdint>

namespace zv {

// Reads the fixed-length record at (pending high word, poslow) of data file
// datno into record, applies the filter stand-in (739), makes it the current
// ISAM record and forms the current key images of the data file's indexes
// (only index ~selector while the instance's key selector is negative).
// 0 or the error code, also in uerr_cod; nothing changes on failure.
int REDIREC(int datno, uint32_t poslow, void *record);
// The variable-length form; *len is the buffer length in, the record
// length out.
int REDIVREC(int datno, uint32_t poslow, void *record, int32_t *len);
// Reads the record that an entry of index keyno points to and makes it
// current: 0, 739 rejected by the filter, or the read's error. With a
// length pointer the variable-length read is used.
int reset_cur2(int keyno, uint32_t posh, uint32_t posl, void *record, int32_t *len);
// Resets the data file of index keyno to no current record; returns the
// pending error, or 101 (end of index) when there is none.
int reset_cur(int keyno, uint32_t posh, uint32_t posl, void *record);
// 633 (also the ISAM error) for a null length pointer, else 0.
int zv_chkplen(const int32_t *len);
// Prefix levels for distinct-key counting of index keyno under duplicate
// mode dupmode: the number of levels (0..4), with each level's number of
// leading segments and byte length.
int setidstseg(int keyno, uint32_t *segcounts, uint32_t *bytelens, int dupmode);

// Test hook standing in for the data file's ISAM record filter: a non-zero
// answer rejects the record (739). Null removes it.
void set_isam_read_filter(int (*filter)(int datno, const void *record, void *context), void *context);

}  // namespace zv

// Key segments of an index: what the other schema modules share with
// segment.cpp.
//
// A segment covers a field (and is listed in the field's segment list), a
// stretch of the record (an extended segment, field NULL) or the row id
// (field zv::rowid_field(), length -1). The index's key length is the sum
// of its segments' key bytes (8 for the row id) plus its duplicate suffix.
#pragma once

#include <cstdint>

#include "recapi/base/handles.h"

extern "C" {

// 0 when the mode suits a field of that type and length, else 4047 (mode
// base = mode & 0x10F: 1 unsigned, 3 serial, 8 signed, 9 float; other
// bases suit every type).
ZVDBRET _zvdbValidateSegment(int32_t mode, int32_t type, int32_t length);
// The form of a field-segment add that table open uses: no callbacks and
// no mode check; a ZV_JSON field is still refused. The segment, or NULL
// with the code kept (4018, 4014, 4054, 4001).
ZVHANDLE _zvdbAddSegmentUnchecked(ZVHANDLE index, ZVHANDLE field, int32_t mode);
// Reads once the transform block that the open index keeps for segment
// `number` into the segment: the locale text moves to a string of the
// segment's own and the block's text is cleared; the state becomes 1. 0
// (also when read before), 4018, 4012 table not open, 4001, the engine's
// code (707 none stored: the state stays).
ZVDBRET _zvdbRetrieveSegmentKSEG(tagZVDBSEGMENT *s, int32_t number);
// A new block for the engine: the 32-byte fixed part followed by the
// segment's text, max(64, text length + 33) bytes; without text a copy of
// the 64-byte block. NULL on no memory; freed with _zvdb_free.
void *_zvdbBuildKSEG(const tagZVDBSEGMENT *s);

}  // extern "C"

namespace zv {

// Key bytes a segment contributes: 8 for the row id, else its length.
int32_t segment_key_bytes(const tagZVDBSEGMENT *s);
// Deletes a listed segment (a new one goes away, an existing one is marked
// 2), leaving its field and taking its key bytes from the index: 0, 4018,
// 4049 not listed, 4092 deleted already. No code is kept.
ZVDBRET delete_segment(tagZVDBSEGMENT *s);
// Frees a segment record: it leaves its field's list; its texts go.
void free_segment_record(tagZVDBSEGMENT *s);
// The transform state, resolved on first read (a block stored for an
// existing index of an open table is read then): 0 none, 1 used.
int32_t kseg_state(tagZVDBSEGMENT *s);

}  // namespace zv

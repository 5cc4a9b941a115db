// Record handles: what the record modules share (record.cpp, recimage.cpp,
// slotprim.cpp, fieldget.cpp, fieldset.cpp and the record services that
// build on them).
//
// A record handle (tagZVDBRECORD, recapi/base/handles.h) holds the record
// image as the engine stores it and one slot (ZVDBFIELDSLOT, zarvo/zvdb.h)
// per schema field. The slot table is built for one layout of the table
// (its layout stamp) and rebuilt when the stamp changes. Forms in the image:
//
//   FIXED PART [0, fixedlen): every field at its schema offset with its
//   defined length; prefixed types (ZV_FPSTRING 1, ZV_F2STRING 2,
//   ZV_F4STRING 4 bytes of prefix) hold their value after the prefix; the
//   variable string types are read as their fixed counterparts.
//
//   VARIABLE PART (variable-length tables, from slot firstvar on), back to
//   back:   fixed-size types, ZV_FSTRING, ZV_FPSTRING, ZV_F2STRING,
//           ZV_F4STRING       defined length
//           ZV_STRING         text and the delimiter byte (current length
//                             counts the delimiter; an empty one is the
//                             delimiter alone)
//           ZV_PSTRING        1-byte prefix + value
//           ZV_2STRING        2-byte prefix + value
//           ZV_4STRING, JSON  4-byte prefix + value
//   Prefixes and values are in host byte order.
//
// Invariants:
//  1. After a successful unpack every slot's data and value lie inside
//     [buffer, buffer + size); a slot's value + curlength never passes the
//     end of the block it points into (image or own buffer).
//  2. Unpack walks the image once without touching a slot and applies the
//     walk only when it stayed inside the image; a damaged image leaves the
//     slots empty (no value), never pointing out of the image.
//  3. repack is set exactly when a slot owns its value or a variable-part
//     value changed length in place; the pack clears it, and until then the
//     image's variable part is stale.
//  4. A record's own image (buffermode low bits 0) is freed and replaced by
//     the record; a lent one never is.
#pragma once

#include <cstdint>

#include "recapi/base/handles.h"

extern "C" {

// Builds the slot table when the record's layout stamp differs from the
// table's: a zeroed image of the table's minimal length (unless the buffer
// is lent), the slots unpacked with delimiters set, callback kind 2. 0,
// 4001, 4025 a schema entry without field handle or a variable part that
// cannot start, 4108/4168 from the unpack, the callback's code.
ZVDBRET _zvdbInitRecord(tagZVDBRECORD *r);
// Packs the image when a variable-part value waits: 0, 4024, 4001, 4025, 4063
// a lent buffer too small (the record stays unpacked, its bytes untouched).
// exact: the image's size becomes the packed length.
ZVDBRET _zvdbFixRecordBuffer(tagZVDBRECORD *r, int exact);
// Reads the slots from the image: 0, 4012, 4025, 4108, 4168. With
// setdelimiters every ZV_STRING of the variable part is first made empty.
ZVDBRET _zvdbUpdateRecord(tagZVDBRECORD *r, int setdelimiters);
// The slot of field number n (hidden numbers too), or NULL.
ZVDBFIELDSLOT *_zvdbGetData(tagZVDBRECORD *r, int32_t n);
// Makes the record's ISAM context current: 0, 4012, the context's codes.
ZVDBRET _zvdbRecordContext(tagZVDBRECORD *r);
// Prologues of the typed reads and writes: the record and the slot of field
// n, or 4024, 4013, 4012, 4169 (reads of a masked record), 4017, the slot
// build's codes. Nothing is kept as the last code.
ZVDBRET _zvdbGetFieldCheck(ZVHANDLE record, int32_t n, tagZVDBRECORD **r, ZVDBFIELDSLOT **slot);
ZVDBRET _zvdbSetFieldCheck(ZVHANDLE record, int32_t n, tagZVDBRECORD **r, ZVDBFIELDSLOT **slot);
// An image of at least the current variable-length record's length (from
// the engine), or of at least size bytes: an own image grows (its old bytes
// dropped, the slots emptied until the next unpack); 4063 a lent buffer too
// small, 4001, the engine's code.
ZVDBRET _zvdbRecordResize(tagZVDBRECORD *r);
ZVDBRET _zvdbRecordSetSize(tagZVDBRECORD *r, int32_t size);
// Core key number of the default index (the data file number for physical
// order and for what has no key number).
int _zvdbIdxno(tagZVDBRECORD *r);

}  // extern "C"

namespace zv {

// Layout stamp of a slot table that must be built before use.
constexpr uint32_t kStampRebuild = 0xFFFFFFFFu;

// The record a handle is (its session's instance made current), or NULL.
tagZVDBRECORD *record_of(ZVHANDLE handle);
// The record prologue: the record with its table open and its slots built,
// or 4024, 4012 (no table or not active), the slot build's codes.
ZVDBRET open_record(ZVHANDLE handle, tagZVDBRECORD **r);

// The table's layout stamp: it changes at every open, attach, reload,
// reopen, close and detach.
inline uint32_t layout_stamp(const tagZVDBTABLE *t) { return t->layoutstamp; }
// The record lays out a variable part: record formats other than 0 and 4.
inline bool variable_table(const tagZVDBTABLE *t) { return t->recformat != 0 && t->recformat != 4; }
// The buffer was lent by the caller.
inline bool lent_buffer(const tagZVDBRECORD *r) { return (r->buffermode & 0xFFFFu) != 0; }
// Record and field callbacks run: a user table not opened raw (open bits
// 0x20 and 0x100 together).
bool callbacks_active(const tagZVDBTABLE *t);
// Runs a record callback of a kind called with the record alone (2, 3, 4,
// 5, 8, 9) when callbacks are active: its result.
ZVDBRET run_record_callback(tagZVDBRECORD *r, int kind);

// Types laid out at their defined length wherever they lie (the variable
// part included): the numbers, dates, times, ZV_ARRAY and ZV_FSTRING.
bool fixed_size_type(uint32_t type);
// Width of the length prefix of a type in the image: 1, 2, 4; 0 none.
int prefix_width(uint32_t type);
// The form a type has in the fixed part: the variable string types as their
// fixed counterparts.
uint32_t fixed_form(uint32_t type);

// The extras word of a field (its binary flag): how string and array
// content is laid out; kind 2 holds a u32 length before the bytes of a
// ZV_ARRAY or ZV_2STRING. 0 for a NULL field.
int32_t field_extras_kind(const tagZVDBFIELD *f);

// Frees every value buffer a slot owns (the slots keep pointing nowhere).
void free_slot_values(tagZVDBRECORD *r);
// Empties every slot (no value, no length, nothing waiting): the state a
// damaged image or a dropped image leaves, in which no slot points anywhere.
void empty_slots(tagZVDBRECORD *r);
// Frees value buffers and the slot array; the record has no slots.
void drop_slots(tagZVDBRECORD *r);
// Checks that size bytes hold a record of the slots' layout, as the unpack
// would read them: 0, 4025, 4108, 4168. Nothing is changed.
ZVDBRET check_image(const tagZVDBRECORD *r, const unsigned char *image, int32_t size);

// Row id in "$ROWID$": a host-order value in the field's first bytes (a
// field shorter than 8 bytes holds its low bytes).
uint64_t read_rowid(const ZVDBFIELDSLOT *s);
void write_rowid(ZVDBFIELDSLOT *s, uint64_t v);

}  // namespace zv

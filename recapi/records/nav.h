// Reads, finds and writes of record handles: what the modules of navigation
// (navigate.cpp), key finds (find.cpp), ordinal positions and counts
// (position.cpp) and writes (write.cpp) share.
//
// Every read lands in the record's image and ends with the after-read
// check: the image is unpacked into the slots, then the record's callback
// of kind 7 runs. While the database's callback filter is off the
// callback's result is the read's result; while it is on the callback
// filters (0 rejects the record, 4109..4128 accept it, anything else is an
// error). A read that succeeds clears new and edited.
//
// Reads of a table whose data file is variable-length (record formats 1,
// 3 and 4) pass the image's size as an in/out length. The engine answers
// an image shorter than the record with 153 and the length needed: the
// record's own image grows to it and the read runs once more (4063 for a
// lent buffer). A record shorter than the image leaves the rest of the image
// filled with the table's delimiter byte.
//
// Keys: a find forms its target key from the packed image in the record's
// key area (keyval, keyvallen bytes allocated, kept with the record):
// the key itself in its first key-length bytes, a second key of the same
// length after it for the calls that need two. On an index that allows
// duplicates the key ends in the record-position suffix (4 bytes, 8 on a
// table created with bit 0x100), most significant byte first: all ones for
// find modes 2 and 3, zeros otherwise.
#pragma once

#include <cstdint>

#include "recapi/records/record.h"

extern "C" {

// Engine reads on the record's image through its default index (the data
// file in physical order) or its range, with the blocking read when it is
// on: mode 1 first, 2 last, 3 next, 4 previous (4025 otherwise); finds in
// modes 0 equal, 1 less, 2 less or equal, 3 greater, 4 greater or equal
// (4026 otherwise). A length selects the variable-length reads. On success
// the data file's current position becomes the record's position.
int _zvdbMOVREC(tagZVDBRECORD *r, int mode, int32_t *length);
int _zvdbFINDREC(tagZVDBRECORD *r, const void *target, int mode, int32_t *length);
int _zvdbMOVRNG(tagZVDBRECORD *r, int mode, int32_t *length);

// A move in the record's order: mode 1 first, 2 last, 3 next, 4 previous,
// 5 a jump by offset. 0, 101 at the end, 4003, 4012, 4004 a jump by 0, the
// read's and the callbacks' codes. On success the record holds the record
// read, its position stored, new and edited cleared.
ZVDBRET _zvdbMoveRecord(tagZVDBRECORD *r, int mode, int64_t offset);
// Reads the record at a position (callback kind 6 with the position, the
// key-prefix set check, the after-read check): 0, 101 rejected, 118 a
// record outside the active set, the read's codes. The position is stored
// on success.
ZVDBRET _zvdbSeekRow(tagZVDBRECORD *r, uint64_t position);
// Finds by a key-form target on the default index (callback kind 6 with
// the target and the mode, which it may change; the after-read check): 0,
// 101 none or rejected, 4026, the read's codes.
ZVDBRET _zvdbFindRow(tagZVDBRECORD *r, const void *target, int mode);

}  // extern "C"

namespace zv {

// The record's data file is variable-length: its reads and writes take a
// length (record formats 1, 3 and 4).
inline bool variable_file(const tagZVDBTABLE *t) { return t->recformat != 0; }

// A 64-bit position or count from the low word an engine call returned and
// the high word it left.
uint64_t engine_wide(uint32_t low);

// The default index as a key: its key number, key length, the width of
// its record-position suffix (0 without duplicates) and its number of
// segments as its files have them (the most a range can name).
struct KeyInfo {
    int keyno;
    int32_t keylen;
    int32_t suffix;
    int32_t segments;
};
// 0, 80 physical order, 4048 an index without a usable key (the full-text
// index, an index that is not open).
ZVDBRET default_key(const tagZVDBRECORD *r, KeyInfo *k);
// The table has a key to search: a user index, "$RECBYT$" or "$ROWID$".
bool has_indexes(const tagZVDBTABLE *t);
// The record's key area with room for `keys` keys of k: 0 or 4001.
ZVDBRET key_area(tagZVDBRECORD *r, const KeyInfo &k, int keys, unsigned char **area);
// Forms the key of the record's packed image into key, with the suffix of
// find mode `mode`: 0 or the engine's code.
ZVDBRET form_key(tagZVDBRECORD *r, const KeyInfo &k, void *key, int mode);
// Writes a record position into the suffix of a key of k.
void put_suffix(unsigned char *key, const KeyInfo &k, uint64_t position);
// Whether the index's current key equals key over its first `length`
// bytes: 0 equal, 101 different, else the code of the failing key read
// (the ISAM code, else the user code, else 101; never 0).
ZVDBRET current_key_matches(int keyno, const unsigned char *key, int32_t length);

// A find by a key-form target (as _zvdbFindRow); with `match`, on an index
// with duplicates, the key found must equal the target without its suffix
// (else 101 and the stored position kept).
ZVDBRET find_row(tagZVDBRECORD *r, const void *target, int mode, const KeyInfo *match);

// The identity field of a record written (or handed to a batch) is never
// null: the engine gives it its value. 0, 4014 the field is missing.
ZVDBRET identity_not_null(tagZVDBRECORD *r);

// Record callbacks of kinds 4, 5, 7, 8, 9 (the record) and 6 (the record,
// a position, a target and a find mode it may change), when the table's
// callbacks are active: the callback's result, 0 when none runs.
ZVDBRET run_read_callback(tagZVDBRECORD *r, uint64_t position, const void *target, int32_t *mode);
// The after-read check: 0 accepted, the unpack's or the callback's code;
// *rejected set when the database's callback filter rejects the record.
ZVDBRET after_read(tagZVDBRECORD *r, bool *rejected);

// The end of a read into the image: rc is the read's code and length the
// length it answered (variable-length files). 0 and the image's length
// settled (the tail filled with the delimiter byte), 4005 a negative
// length, the read's code.
ZVDBRET settle_read(tagZVDBRECORD *r, int rc, int32_t length);
// Runs read(int32_t *length) into the record's image: plain (a NULL
// length) for a fixed-length data file, else with the image's size, again
// after the image grew when the engine asked for more.
template <typename Read>
ZVDBRET read_image(tagZVDBRECORD *r, Read &&read) {
    if (!variable_file(r->table)) return settle_read(r, read(nullptr), 0);
    int32_t length = r->size;
    int rc = read(&length);
    if (rc == 153 && length > r->size) {
        if (ZVDBRET grown = _zvdbRecordSetSize(r, length)) return grown;
        length = r->size;
        rc = read(&length);
    }
    return settle_read(r, rc, length);
}

// Calls of the record layer that tests count.
struct RecordCounts {
    uint64_t identity_lookups;  // identity slots looked up by name
};
RecordCounts &record_counts();

}  // namespace zv

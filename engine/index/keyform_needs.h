// What key navigation (sets, ranges, current key images, distinct counts)
// needs of key formation and of the ISAM key map: forming a record's key,
// transforming a search target, the key form of a segment's lowest and
// highest value, and each index's data file and segment list.
//
// Until key formation is part of the engine, keyform_standin.cpp gives a
// least form of each behind this header.
#pragma once

#include <cstdint>

extern "C" {
// Forms the key of a record for index keyno (segments assembled and
// transformed, the record position appended for a duplicate-key index; the
// high word is the pending one): the key length, or 0 when the record has
// no key in the index or on error (isamerr_cod tells them apart).
int32_t frmkey(int keyno, const void *record, void *key, uint32_t poslow, int32_t reclen);
// Transforms a search target in place (a zero position suffix for a
// duplicate-key index): the target, or null with the error set.
void *TFRMKEY(int keyno, void *target);
// Fills a transformed segment with its lowest (fill 0) or highest (fill
// 0xFF) key form.
int zvfillseg(void *segment, int fill, int32_t length, int mode);
// ISAM key map entries: with a negative segment number the index's entry
// (flags a, empty character b, data file c); otherwise segment `seg` at
// offset a, length b, mode c.
int zvlfsegput(int keyno, int seg, int a, int b, int c);
// Ends the index's segment list after n segments (1..15).
int zvlfsegget(int keyno, int n);
}

namespace zv {

// One segment of an index in the ISAM key map.
struct KeySeg {
    int32_t offset;
    int32_t length;
    int32_t mode;
};
// Segment mode bit: the segment sorts descending.
constexpr int32_t kSegDescending = 0x10;

// The data file of index keyno in the ISAM key map; -1 when none.
int keymap_datno(int keyno);
// The segments of index keyno (at most 16 into segs); 0 when it has none.
int keymap_segments(int keyno, KeySeg *segs);
// The slot-th index of data file datno (slots 0..63): -1 ends the list,
// -66 is an empty slot.
int keymap_index(int datno, int slot);

}  // namespace zv

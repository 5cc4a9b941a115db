// What key navigation (sets, ranges, current key images, distinct counts)
// needs of key formation and of the ISAM key map: forming a record's key
// (frmkey), transforming a search target (TFRMKEY), the key form of a
// segment's lowest and highest value (zvfillseg), and each index's data
// file and segment list.
#pragma once

#include <cstdint>

#include "engine/index/segmode.h"
#include "engine/isam/isam_files.h"
#include "engine/isam/keymap.h"
#include "zarvo/zarvo.h"

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
inline int keymap_datno(int keyno) {
    const ISAMKEY *k = isam_key(keyno);
    return k && k->datno >= 0 ? k->datno : -1;
}
// The segments of index keyno (at most 16 into segs); 0 when it has none.
inline int keymap_segments(int keyno, KeySeg *segs) {
    const ISAMKEY *k = isam_key(keyno);
    if (!k || k->datno < 0) return 0;
    int n = 0;
    while (n < kMapSegs && k->seg[n].soffset != kSegEnd) {
        segs[n] = KeySeg{k->seg[n].soffset, k->seg[n].slength, k->seg[n].segmode};
        n++;
    }
    return n;
}
// The slot-th index of data file datno (slots 0..63): -1 ends the list,
// -66 is an empty slot.
inline int keymap_index(int datno, int slot) { return isam_map_index(datno, slot); }

}  // namespace zv

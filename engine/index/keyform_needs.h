// What key navigation (sets, ranges, current key images, distinct counts)
// needs of key formation and of the ISAM key map: forming a record's key
// (frmkey), transforming a search target (TFRMKEY), the key form of a
// segment's lowest and highest value (zvfillseg), and each index's data
// file and segment list.
#pragma once

#include <cstdint>

#include "engine/index/segmode.h"
#include "engine/isam/isam_files.h"
#include "engine/isam/isammap.h"
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
    const ISAMMAPENT *k = isam_entry(keyno);
    return k && int16_t(k->datno) >= 0 ? int16_t(k->datno) : -1;
}
// The segments of index keyno (at most 16 into segs); 0 when it has none.
inline int keymap_segments(int keyno, KeySeg *segs) {
    const ISAMSEG *list = isam_segs(keyno);
    if (!list || keymap_datno(keyno) < 0) return 0;
    int n = 0;
    while (n < kMapSegs && list[n].soffset != kSegEnd) {
        segs[n] = KeySeg{list[n].soffset, list[n].slength, list[n].segmode};
        n++;
    }
    return n;
}
// Prefix levels for distinct-key counting of index keyno (setidstseg over
// its segments in the key map): the number of levels, with each level's
// leading segments and byte length.
inline int keymap_levels(int keyno, uint32_t *segcounts, uint32_t *bytelens, int dupmode) {
    KeySeg segs[kMapSegs];
    int n = keymap_segments(keyno, segs);
    ISEG iseg[kMapSegs];
    for (int i = 0; i < n; i++) iseg[i] = ISEG{int16_t(segs[i].offset), int16_t(segs[i].length), int16_t(segs[i].mode)};
    IIDX x{};
    x.inumseg = int16_t(n);
    x.isegarr = iseg;
    int32_t c[4] = {}, b[4] = {};
    int levels = setidstseg(&x, c, b, dupmode);
    for (int i = 0; i < levels; i++) {
        segcounts[i] = uint32_t(c[i]);
        bytelens[i] = uint32_t(b[i]);
    }
    return levels;
}
// The slot-th index of data file datno (slots 0..63): -1 ends the list,
// -66 is an empty slot.
inline int keymap_index(int datno, int slot) { return isam_map_index(datno, slot); }

}  // namespace zv

// The key map (see keymap.cpp): per file number, which indexes a data file
// has and how each index key is cut out of a record. Key formation, key
// navigation and the key insert read it for every key; the ISAM layer
// fills it when file sets are opened, created or defined.
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

namespace zv {

constexpr int64_t kMapMaxEntries = 32767 + 3;  // table entries: the file-number range plus three
constexpr int kMapIndexes = 64;           // index slots of a data file
constexpr int kMapSegs = 16;              // segments of a key
constexpr uint16_t kMapNone = 0xFFFF;     // unset number; end of an index list
constexpr uint16_t kMapShared = 0xFFBE;   // -66: a slot defined but not open here
constexpr uint16_t kSegEnd = 0xFFFF;      // segment offset that ends a segment list
constexpr int16_t kIdxListEnd = -1;       // an index list slot read as int16: its end
constexpr int16_t kIdxListEmpty = -66;    //  ... and a slot to skip

// Key-map entry states (ISAMMAPENT::inuse).
enum : uint16_t {
    kMapFree = 0,      // unused
    kMapByName = 1,    // reserved, or opened from the definition stored in the file
    kMapByIfil = 3,    // created or opened through an IFIL
};

// Key flags of an index entry.
constexpr uint16_t kKeyCondExpr = 0x10;      // condition stored with the data file
constexpr uint16_t kKeyCondInMemory = 0x20;  // the index file's own in-memory condition
constexpr uint16_t kKeyNullMask = 0x0F;      // low four bits 1: null keys suppressed

// One entry of the index map, per file number. For an index it describes
// the index; for a data file the two field names (rfstfld, tlstfld) and
// its state are used.
struct ISAMMAPENT {
    char *idxnam;          // copy of the index's symbolic name (iGETNAM mode 3), or null
    uint16_t keytyp;       // IIDX key type; 0xFFFF unset
    char *datnam[2];       // data file: copies of the two field names (modes 1, 2), or null
    uint16_t inuse;        // state, see above
    uint16_t datno;        // data file of the index (GETFIL mode 4); 0xFFFF unset
    uint16_t relidx;       // position in its data file's list (mode 7; the condition
                           // number); 0xFFFF unset
    uint16_t keyflags;     // null-key setting and condition flags (mode 18)
    uint8_t padchar;       // empty (pad) character
    uint8_t varpart;       // 1 when a segment reads beyond the fixed part of a record
};

// One segment of an index key: six 16-bit words.
struct ISAMSEG {
    uint16_t soffset;      // record offset, field number, or variable-field number;
                           // kSegEnd ends the list
    uint16_t slength;      // segment length in bytes
    uint16_t segmode;      // SEGMODE
    uint16_t spare;
    int32_t binding;       // extended definition: -1 not bound yet, -2 none, else a position
};
static_assert(sizeof(ISAMSEG) == 12, "segment entry is 12 bytes");

// ---- Access (null / 0xFFFF answers when the number has no entry) ----------
ISAMMAPENT *isam_entry(int filno);
uint16_t *isam_deflist(int datno);
uint16_t *isam_actlist(int datno);
ISAMSEG *isam_segs(int idxno);
// The entry, making the tables (sized to the file-number table) or growing
// them when they do not reach the number yet, so that key formation can
// define indexes without a file set; null outside the file-number table or
// when memory runs out.
ISAMMAPENT *isam_entry_make(int filno);

// ---- Tables ---------------------------------------------------------------
// Makes the tables, while there are none, with n entries, every entry
// unused: false (still none) when memory runs out.
bool keymap_make(int32_t n);
// Grows the tables to n entries (at most the file-number range plus three),
// keeping their contents: 1, also when they are large enough; 0 without
// tables, for n out of range, or when memory runs out.
int redoisam(int32_t n);
// Frees the names the entries copied, and the tables.
void keymap_free();

// Distinct-key prefix levels of an index (duplicate modes 3 and 4 only):
// their count, segment counts and byte lengths.
int setidstseg(const IIDX *x, int32_t segs[4], int32_t bytes[4], int keytype);

// ---- Segments of an index, as key navigation reads them --------------------
// One segment of an index in the key map.
struct KeySeg {
    int32_t offset;
    int32_t length;
    int32_t mode;
};
// Segment mode bit: the segment sorts descending.
constexpr int32_t kSegDescending = 0x10;

// The data file of index keyno in the key map; -1 when none.
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
inline int keymap_index(int datno, int slot) {
    const uint16_t *list = isam_actlist(datno);
    if (!list || slot < 0 || slot >= kMapIndexes) return -1;
    return int16_t(list[slot]);
}

}  // namespace zv

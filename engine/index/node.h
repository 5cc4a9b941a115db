// The node layer of the index engine: node-header conversion, element
// accessors, leaf control fields, node geometry and the index fields of the
// file header (see node.cpp).
#pragma once

#include <cstdint>

#include "engine/core/bytes.h"
#include "engine/core/fcb.h"
#include "engine/index/nodebuf.h"

// Bits of the instance's index option word (idx_state(g).options).
constexpr uint32_t kIdxOptDupStrict = 0x01;  // duplicates fail even under the index's flag 32
constexpr uint32_t kIdxOptRecovery = 0x02;   // recovery: mismatches not logged, broken stack not retried
constexpr uint32_t kIdxOptNoEofTest = 0x04;  // node reads skip the logical-end test
constexpr uint32_t kIdxOptDstSuspend = 0x08; // distinct-key counts not kept by caller inserts
// The leaf walk hands out a successor's keys whatever their order: the data
// and index cross-check walks a damaged leaf chain this way and bounds the
// walk itself (its cycle mode), so that it can report the loop it finds.
constexpr uint32_t kIdxOptRawLeafOrder = 0x10;

// Extended feature flags (header +176) that the index engine reads.
constexpr uint32_t kFl2DupQuiet = 0x20;          // an equal key is not an error
constexpr uint32_t kFl2PartHost = 0x400000;      // partitioned host
constexpr uint32_t kFl2SearchBuf = 0x1000000;    // index with a search buffer
constexpr uint32_t kFl2Ctl6 = 0x20000000;        // 6-byte leaf control fields

// Open-mode bits of the file mode (+48) that the index engine reads.
constexpr uint16_t kModeWriteThrough = 0x40;     // nodes and header written at once
constexpr uint16_t kModeNoHdrWrite = 0x10;       // key-count changes do not write the header

// Control marks of a leaf element.
enum : int { kMarkNone = 0, kMarkAdd = 1, kMarkDel = 2, kMarkAdd2 = 3 };

namespace zv {

// 8-byte positions in this file.
inline bool idx_hug(const FCB *f) { return (f->hdr.base.hdrflags & kHdr8ByteOffsets) != 0; }
// Pointer size P of the file's nodes.
inline int32_t idx_psize(const FCB *f) { return idx_hug(f) ? 8 : 4; }
// Duplicate-key index: the key carries the record position as its suffix.
inline bool idx_dup(const FCB *f) {
    uint8_t d = f->hdr.base.autodup;
    return d == 1 || d == 3 || d == 5;
}
// A superfile member index (or a host's directory): kept in a host's areas.
inline bool idx_in_superfile(const FCB *f) {
    uint16_t st = f->hdr.base.sfiltyp;
    return (st == kSfMember || st == kSfDirectory) && f->hdr.base.kmem == 0;
}
// The host that keeps the deleted-node stack, the logical end and the file:
// the index itself for a superfile member index (its header keeps its own
// stack; the superfile host is grown through it), else the host index.
inline FCB *idx_host(FCB *f) {
    if (idx_in_superfile(f)) return f;
    return f->hostfcb ? f->hostfcb : f;
}
// Nodes kept inside another file's space records: a superfile member (or an
// index member of one, or a host's directory) wraps each node in the host's
// area header.
inline bool idx_wrapped(const FCB *f) {
    uint16_t st = f->hdr.base.sfiltyp;
    return st == kSfMember || st == kSfDirectory || (f->hostfcb && f->hostfcb->hdr.base.sfiltyp == kSfMember);
}
// Length of that area header: 18 bytes, 22 with 8-byte positions.
inline int32_t idx_wraplen(const FCB *f) { return idx_wrapped(f) ? (idx_hug(f) ? 22 : 18) : 0; }
// Level count of the header when the header keeps one (extended header, not
// negative).
inline bool levels_kept(const FCB *f) {
    return (f->hdr.base.hdrflags & kHdrHasExt) && f->hdr.ext.levels >= 0;
}

// Stored little-endian words.
inline uint32_t ld32(const unsigned char *p) { return le::get32(p); }
inline uint16_t ld16(const unsigned char *p) { return le::get16(p); }
inline void st32(unsigned char *p, uint32_t v) { le::put32(p, v); }
inline void st16(unsigned char *p, uint16_t v) { le::put16(p, v); }
// Most significant byte first (the record-position suffix of duplicate keys).
inline uint32_t ldbe32(const unsigned char *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
inline void stbe32(unsigned char *p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// A pointer stored in front of a key (child node or record position): each
// word little-endian, with 8 bytes the high word first.
inline void get_elem_ptr(const unsigned char *p, bool hug, uint32_t *hi, uint32_t *lo) {
    if (hug) {
        *hi = ld32(p);
        *lo = ld32(p + 4);
    } else {
        *hi = 0;
        *lo = ld32(p);
    }
}
inline void put_elem_ptr(unsigned char *p, bool hug, uint32_t hi, uint32_t lo) {
    if (hug) {
        st32(p, hi);
        st32(p + 4, lo);
    } else {
        st32(p, lo);
    }
}

// Decodes the stored node header (18 or 28 bytes) into host order. In a
// file with 4-byte positions the high words are all ones when the low word
// is all ones, else 0.
void decode_nhdr(const unsigned char *disk, bool hug, NODEHDR *out);
// Encodes a host-order node header into its stored form (18 or 28 bytes).
void encode_nhdr(const NODEHDR &h, bool hug, unsigned char *disk);

// Sets the buffer's capacities, control-field area and kind for a leaf or
// non-leaf node of the index (the buffer's element area must be set).
void zvnodcap(NODEBUF *b, FCB *fcb, int leaf);

// Node geometry of an open index from its header: header size, capacities,
// element-count limit and count unit. 0, or 13 when the header's geometry
// cannot hold a node.
int idx_geometry(FCB *fcb);

// The element starting at byte offset off of a compressed node: its length,
// leading count and trailing count. False when it does not lie within the
// bytes used or its counts overrun the key (a damaged node).
bool comp_elem(const NODEBUF *b, int32_t off, int32_t *len, int32_t *lead, int32_t *trail);

// Byte offset and length of element n (1..nkv + 1) of a node, expanding a
// compressed node up to it. False (527 reported) on a damaged node.
bool elem_span(NODEBUF *b, int n, int32_t *off, int32_t *len);

// Marks the index damaged: logs message, then "name [member]" with 527,
// marks the host for rebuild and returns 527.
int idx_corrupt(FCB *fcb, const char *message);

}  // namespace zv

// ---- Element access -------------------------------------------------------
// Key of element n (1-based), expanded when the node is compressed; null when
// n < 1 or (527) when the node is damaged.
unsigned char *valpnt(NODEBUF *b, int n);
// Key of element n of a compressed node expanded into the buffer's expansion
// area; n may be nkv + 1 (an element just inserted). Null with 527 when n is
// out of range or the element's counts are inconsistent.
unsigned char *expval(NODEBUF *b, int n);
// Child position of element n of a non-leaf: 0, or 527 for a zero pointer.
int nodpnt81e(uint32_t *lo, uint32_t *hi, NODEBUF *b, int n);
// Child position low word (high into *hi); 0 after reporting 527.
uint32_t nodpnt81(uint32_t *hi, NODEBUF *b, int n);
// Record position of leaf element n; returns the key pointer, or null after
// reporting 527 (zero position or damaged node).
unsigned char *drnpnt81p(uint32_t *lo, uint32_t *hi, NODEBUF *b, int n);
// Record position low word (high into *hi); 0 after reporting 527.
uint32_t drnpnt81(uint32_t *hi, NODEBUF *b, int n);

// ---- Leaf control fields --------------------------------------------------
// Mark of element n's control field (0 when the node has none); its
// transaction value into *vhi/*vlo (either may be null).
int zvelmexc81(NODEBUF *b, int n, uint32_t *vhi, uint32_t *vlo);
// Writes element n's control field, keeping numexc and frsexc in step.
void zvmrkexc81(NODEBUF *b, int n, int mark, uint32_t vhi, uint32_t vlo);
// Removes element n's control field (the following fields move down).
void zvrmvexc(NODEBUF *b, int n);
// Opens a cleared control field at element n (the following fields move up).
void zvinsexc(NODEBUF *b, int n);
// Clears every control field of the leaf.
void zvrstexc(NODEBUF *b);

// ---- Header fields of the index -------------------------------------------
// Root position (low; high through zvSETHGHi).
uint32_t gtroot(FCB *fcb);
// First node position of the file.
uint64_t begbytnod(FCB *fcb);
// Recomputes the node header size (18 or 28).
void zvupdkey(FCB *fcb);
// Converts a node header image between disk and host order in place (no
// change on a little-endian host).
void rev_nhdr(unsigned char *image, bool hug);

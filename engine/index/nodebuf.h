// The node format of the index engine over the instance's node buffers
// (NODEBUF, its image and lists: engine/core/nodebuf.h): the stored node
// header, the invariants of a bound buffer, the helpers that find the parts
// of a node in its image, and the key buffers of an open index.
//
// On-disk node header (little-endian; 18 bytes, 28 with 8-byte positions):
//   OFFSET SIZE FIELD
//     0    4   sucesr low   successor on the same level (0 none)
//     4    4   predsr low   predecessor (0 none; all ones: node deleted)
//     8    2   nkv          number of elements
//    10    2   nkb          bytes used in the element area
//    12    2   numexc       leaves: elements with a control mark
//    14    2   frsexc       leaves: lowest element that may carry a mark
//    16    1   member       member number of the index in its file
//    17    1   leaf         1 leaf, 0 non-leaf
//    18    2   -            kept as in memory (8-byte positions only)
//    20    4   sucesr high  (8-byte positions only)
//    24    4   predsr high  (8-byte positions only)
//
// Invariants of a bound buffer (filno >= 0):
//  1. It is in exactly one hash chain, that of (position, file number), and
//     in the LRU list; a free buffer is in the LRU list only.
//  2. hdr holds the node header in host order; the header bytes of the image
//     are brought up to date only when the node is written.
//  3. updated is 'y' exactly when the image differs from the disk.
//  4. A memory file's node is a record of the file (its position is the
//     record's address): the record holds the NODEBUF and its image, and
//     never enters the hash chains or the LRU list.
//  5. expnum > 0 means that exparea holds element expnum expanded (pointer
//     in its first psize bytes, key after it) and that expoff/explen give the
//     element's place in the element area.
//  6. image is the buffer's own node image, except while the node is in the
//     instance's spill image (INSTGV::idxspilled names the buffer): then image is
//     the spill image and the buffer's own one is stale until it comes back.
#pragma once

#include <cstdint>

#include "engine/core/nodebuf.h"

// The node header in the image.
inline unsigned char *node_of(NODEBUF *b) { return b->image + kNodeWrap; }
// The leaf's high key (right after the element-area capacity).
inline unsigned char *highkey_of(NODEBUF *b) { return b->elems + b->maxb; }
inline bool is_deleted(const NODEBUF *b) {
    return b->hdr.predsr == 0xFFFFFFFFu && (!b->hug || b->hdr.predsrh == 0xFFFFFFFFu);
}
inline bool is_compressed(const NODEBUF *b) { return b->cmpbits != 0; }

// Key buffers of an open index (one block from the pool): the work key (the
// last key a key read returned), the current key image and the alternate
// key image of the ISAM layer, each keylen bytes, and for an index that asks
// for it a search buffer.
struct KEYBUFSET {
    unsigned char *work;           // work key
    unsigned char *cur;            // current key image
    unsigned char *alt;            // alternate key image
    unsigned char *search;         // search buffer, null when none
    int32_t keylen;                // bytes of each key buffer
    int32_t searchlen;             // bytes of the search buffer
    int8_t curstate;               // current image: 1 valid, 2 error, 3 stale, other none
    int8_t altstate;               // alternate image, likewise
};

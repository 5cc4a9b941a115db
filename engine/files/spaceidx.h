// The space index of a variable-length data file: a B-tree of the index
// engine kept inside the data file, whose keys name the free areas (see
// spaceidx.cpp).
#pragma once

#include <cstdint>

struct FCB;

// Longest space-index key: member, length, position high and low word.
constexpr int kSpaceKeyMax = 16;

// Forms the key of a free area: member number (0 in a plain file), area
// length and position, each 32-bit word most significant byte first; the
// position takes 8 bytes (high word, then low) in a file with 8-byte
// offsets. Returns the key length, 12 or 16.
int frmlkey8(const FCB *fcb, unsigned char *key, uint32_t len, uint32_t posh, uint32_t posl);

namespace zv {

// The block whose space index serves fcb: the file itself, or the host of
// a superfile member.
FCB *space_index_of(FCB *fcb);
// Entries in the space index (the header's active-count field).
uint64_t space_keys(const FCB *sp);
// First key not below (member, length, 0): the area position (0 when none;
// uerr_cod set on error) with the key found copied to `keyout`.
uint64_t space_find(FCB *sp, const FCB *owner, uint32_t len, unsigned char *keyout);
// Whether the key of the area (length, position) is in the space index: 1
// yes, 0 no, or minus the error code.
int space_has(FCB *sp, const FCB *owner, uint32_t len, uint64_t pos);
// Adds or deletes the key of the area (length, position). 0 or the error.
int space_add(FCB *sp, const FCB *owner, uint32_t len, uint64_t pos, int mode);
int space_delete(FCB *sp, const FCB *owner, uint32_t len, uint64_t pos, int mode);
// Member number and area length held in a key.
uint32_t space_key_member(const unsigned char *key);
uint32_t space_key_length(const unsigned char *key);

}  // namespace zv

// Key search: key comparison, the search inside one node, the descent with
// its move-right rule, and the key reads (see keysearch.cpp).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "engine/index/index_services.h"
#include "engine/index/nodebuf.h"

struct FCB;

namespace zv {

// Bytes of a key as one unsigned number, the first byte most significant.
inline uint64_t key_word64(const unsigned char *p) {
    uint64_t v;
    memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v;
}
inline uint32_t key_word32(const unsigned char *p) {
    uint32_t v;
    memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
    return v;
}
// The result of compar_k for a first difference at byte `at` (0-based).
inline int key_difference(int32_t at, bool greater) {
    const int pos = at + 1 > 256 ? 256 : at + 1;
    return greater ? pos : -pos;
}

}  // namespace zv

// Compares two keys of k bytes as unsigned bytes: 0 when equal, else +i or
// -i where i is the 1-based position of the first differing byte (capped at
// 256), positive when a's byte is greater. Keys are compared a word at a
// time; the last word of a key whose length is not a multiple of the word
// overlaps bytes already found equal, so that no byte is compared alone.
__attribute__((always_inline)) inline int compar_k(const unsigned char *a, const unsigned char *b, int32_t k) {
    using zv::key_difference;
    if (k >= 8) {
        int32_t i = 0;
        for (; i + 8 <= k; i += 8) {
            const uint64_t x = zv::key_word64(a + i), y = zv::key_word64(b + i);
            if (x != y) return key_difference(i + __builtin_clzll(x ^ y) / 8, x > y);
        }
        if (i == k) return 0;
        i = k - 8;
        const uint64_t x = zv::key_word64(a + i), y = zv::key_word64(b + i);
        return x == y ? 0 : key_difference(i + __builtin_clzll(x ^ y) / 8, x > y);
    }
    if (k >= 4) {
        uint32_t x = zv::key_word32(a), y = zv::key_word32(b);
        if (x != y) return key_difference(__builtin_clz(x ^ y) / 8, x > y);
        x = zv::key_word32(a + k - 4);
        y = zv::key_word32(b + k - 4);
        return x == y ? 0 : key_difference(k - 4 + __builtin_clz(x ^ y) / 8, x > y);
    }
    for (int32_t i = 0; i < k; i++)
        if (a[i] != b[i]) return key_difference(i, a[i] > b[i]);
    return 0;
}
// The same over the index's key length.
int compar(const void *a, const void *b, const FCB *fcb);

// Searches one node for target: the element number (>= 1) of the first key
// >= target; -1 move right (successor); -2 no element (end of node, or an
// 'E' miss); -3 the node is deleted; -99 an element could not be read. Modes
// 'L' (upper levels and positioning), 'E', 'S'. Leaves the element, the
// comparison with it (tky) and with the element before it (tkp) in the
// instance's search state.
int nodser(NODEBUF *b, const unsigned char *target, int mode, int flag);
// fndkey that on success copies the key found to the work key (and keyout)
// and makes it the index's current node and element.
uint32_t ser(FCB *fcb, const unsigned char *target, unsigned char *keyout, int mode);
// fndkey, ieqlkey and igtekey are declared in index_services.h.
uint32_t igtkey(FCB *fcb, const void *target, void *keyout);
uint32_t ilstkey(FCB *fcb, void *keyout);

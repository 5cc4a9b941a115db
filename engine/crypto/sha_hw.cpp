// SHA-1 and SHA-256 block steps on the SHA-NI instructions.
//
// SHA-256 keeps the state as two vectors, ABEF and CDGH, the layout that
// sha256rnds2 works on; each sha256rnds2 runs two rounds, so four message
// words make two of them. The message schedule runs four words ahead:
// W[t..t+3] = msg2(msg1(W[t-16..], W[t-12..]) + W[t-7..t-4], W[t-4..t-1]).
// SHA-1 keeps ABCD in one vector (A in the top lane) and E beside it; each
// sha1rnds4 runs four rounds, its function chosen by the round group, and
// sha1nexte derives the next E from the A of four rounds before.
#include "engine/crypto/hash_hw.h"

#include <immintrin.h>

#include <utility>

#include "engine/crypto/hashes.h"

namespace zv {

#define ZV_SHA_TARGET __attribute__((target("sha,ssse3,sse4.1")))

namespace {

// Four rounds of SHA-256 (group g) and, while rounds remain, the message
// words of group g + 4 into m[g % 4].
template <int G>
ZV_SHA_TARGET inline void sha256_group(__m128i &abef, __m128i &cdgh, __m128i *m) {
    __m128i k = _mm_add_epi32(m[G & 3], _mm_load_si128(reinterpret_cast<const __m128i *>(sha256_k + 4 * G)));
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, k);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(k, 0x0E));
    if constexpr (G < 12) {
        __m128i t = _mm_add_epi32(_mm_sha256msg1_epu32(m[G & 3], m[(G + 1) & 3]),
                                  _mm_alignr_epi8(m[(G + 3) & 3], m[(G + 2) & 3], 4));
        m[G & 3] = _mm_sha256msg2_epu32(t, m[(G + 3) & 3]);
    }
}

template <int... G>
ZV_SHA_TARGET inline void sha256_rounds(__m128i &abef, __m128i &cdgh, __m128i *m, std::integer_sequence<int, G...>) {
    (sha256_group<G>(abef, cdgh, m), ...);
}

// Four rounds of SHA-1 (group g, round function g / 5); prev is ABCD from
// before the group, e0 the E vector of the block. Then the words of group
// g + 3.
template <int G>
ZV_SHA_TARGET inline void sha1_group(__m128i &abcd, __m128i &prev, __m128i e0, __m128i *m) {
    const __m128i e = G == 0 ? _mm_add_epi32(e0, m[0]) : _mm_sha1nexte_epu32(prev, m[G & 3]);
    prev = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e, G / 5);
    if constexpr (G >= 1 && G <= 16) {
        // Group g + 3 = rol1(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16]), its
        // inputs being groups g - 1, g, g + 1 and g + 2.
        __m128i t = _mm_xor_si128(_mm_sha1msg1_epu32(m[(G + 3) & 3], m[G & 3]), m[(G + 1) & 3]);
        m[(G + 3) & 3] = _mm_sha1msg2_epu32(t, m[(G + 2) & 3]);
    }
}

template <int... G>
ZV_SHA_TARGET inline void sha1_rounds(__m128i &abcd, __m128i &prev, __m128i e0, __m128i *m,
                                      std::integer_sequence<int, G...>) {
    (sha1_group<G>(abcd, prev, e0, m), ...);
}

}  // namespace

ZV_SHA_TARGET void sha256_hw_blocks(uint32_t state[8], const unsigned char *p, size_t blocks) {
    const __m128i swap = _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i *>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i *>(state + 4));
    __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    for (size_t b = 0; b < blocks; b++, p += 64) {
        const __m128i abef0 = abef, cdgh0 = cdgh;
        __m128i m[4];
        for (int i = 0; i < 4; i++)
            m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * i)), swap);
        sha256_rounds(abef, cdgh, m, std::make_integer_sequence<int, 16>());
        abef = _mm_add_epi32(abef, abef0);
        cdgh = _mm_add_epi32(cdgh, cdgh0);
    }
    __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

ZV_SHA_TARGET void sha1_hw_blocks(uint32_t state[5], const unsigned char *p, size_t blocks) {
    const __m128i swap = _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(state)), 0x1B);
    __m128i e0 = _mm_set_epi32(int(state[4]), 0, 0, 0);
    for (size_t b = 0; b < blocks; b++, p += 64) {
        const __m128i abcd0 = abcd, e00 = e0;
        __m128i m[4];
        for (int i = 0; i < 4; i++)
            m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * i)), swap);
        __m128i prev = abcd;
        sha1_rounds(abcd, prev, e0, m, std::make_integer_sequence<int, 20>());
        e0 = _mm_sha1nexte_epu32(prev, e00);
        abcd = _mm_add_epi32(abcd, abcd0);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = uint32_t(_mm_extract_epi32(e0, 3));
}

}  // namespace zv

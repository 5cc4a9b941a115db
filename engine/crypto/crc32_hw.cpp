// CRC-32 of long buffers by folding with carry-less multiplication.
//
// Reflected arithmetic: 16 bytes loaded as a little-endian 128-bit value
// hold a polynomial with bit k the coefficient of x^(127 - k), the first
// byte's low bit the highest power, as the reflected CRC reads its input.
// The fold keeps a 128-bit value X congruent, modulo the generator P, to
// the message read so far; moving X forward by D bits is X * x^D, which for
// X = Q0 * x^64 + Q1 (Q0 the low, Q1 the high 64-bit lane) is
// Q0 * (x^(64+D) mod P) + Q1 * (x^D mod P). A carry-less product of two
// reflected 64-bit values comes out multiplied by x^-1 in the 128-bit
// reading, so the constant for x^n is x^(n-1) mod P, reflected into the top
// 32 bits of a 64-bit lane. Four values fold side by side, 64 bytes ahead
// each step, then merge; the register that the table steps would hold is
// X * x^32 mod P, which the table steps give from a zero register over the
// 16 bytes of X.
#include <immintrin.h>

#include <array>

#include "engine/crypto/hash_hw.h"
#include "engine/crypto/hashes.h"

namespace zv {

namespace {

// x^n mod P, bit d the coefficient of x^d (P = 0x104C11DB7).
constexpr uint32_t xpow_mod(int n) {
    uint32_t r = 1;
    for (int i = 0; i < n; i++) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
    return r;
}

// The fold constant for x^n: x^(n-1) mod P with x^d at bit 63 - d.
constexpr uint64_t fold_constant(int n) {
    const uint32_t c = xpow_mod(n - 1);
    uint64_t k = 0;
    for (int d = 0; d < 32; d++)
        if (c >> d & 1) k |= uint64_t(1) << (63 - d);
    return k;
}

// Low lane x^(64+D), high lane x^D, for D = 128, 256, 384, 512 bits.
struct FoldPair {
    uint64_t lo, hi;
};
constexpr std::array<FoldPair, 5> make_pairs() {
    std::array<FoldPair, 5> t{};
    for (int i = 1; i <= 4; i++) t[size_t(i)] = {fold_constant(64 + 128 * i), fold_constant(128 * i)};
    return t;
}
constexpr std::array<FoldPair, 5> kFold = make_pairs();

#define ZV_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

ZV_CLMUL_TARGET inline __m128i pair(int i) {
    return _mm_set_epi64x(static_cast<long long>(kFold[size_t(i)].hi), static_cast<long long>(kFold[size_t(i)].lo));
}

ZV_CLMUL_TARGET inline __m128i fold(__m128i x, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

ZV_CLMUL_TARGET inline __m128i load(const unsigned char *p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

}  // namespace

ZV_CLMUL_TARGET uint32_t crc32_hw_fold(uint32_t reg, const unsigned char *p, size_t len) {
    // The register enters as the first 32 bits of the message.
    __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(int(reg)));
    __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
    size_t at = 64;
    const __m128i k4 = pair(4);
    for (; at + 64 <= len; at += 64) {
        x0 = _mm_xor_si128(fold(x0, k4), load(p + at));
        x1 = _mm_xor_si128(fold(x1, k4), load(p + at + 16));
        x2 = _mm_xor_si128(fold(x2, k4), load(p + at + 32));
        x3 = _mm_xor_si128(fold(x3, k4), load(p + at + 48));
    }
    __m128i x = _mm_xor_si128(_mm_xor_si128(fold(x0, pair(3)), fold(x1, pair(2))), _mm_xor_si128(fold(x2, pair(1)), x3));
    const __m128i k1 = pair(1);
    for (; at + 16 <= len; at += 16) x = _mm_xor_si128(fold(x, k1), load(p + at));
    alignas(16) unsigned char bytes[16];
    _mm_store_si128(reinterpret_cast<__m128i *>(bytes), x);
    return crc32_update(0, bytes, 16);
}

}  // namespace zv

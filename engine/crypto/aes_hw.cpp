// AES and RIJ on the AES-NI instructions (see aes_hw.h).
//
// ECB and CBC decryption take eight blocks at a time so that the rounds of
// independent blocks overlap in the processor's AES units, or sixteen in
// four 512-bit registers where the road allows VAES (crypto_road().wide);
// CBC encryption and OFB are one chain each, bound by the latency of the
// rounds, except where the caller hands several independent chains at once
// (aes_hw_cbc_encrypt_units). Every function here carries its own target
// attribute: nothing of it runs unless the road says the processor has it.
// The round keys copied to the stack are wiped before each routine returns.
#include "engine/crypto/aes_hw.h"

#include <immintrin.h>

#include "engine/crypto/road.h"
#include "engine/crypto/wipe.h"

namespace zv {

#define ZV_AES_TARGET __attribute__((target("aes,ssse3,sse4.1")))

namespace {

constexpr int kWide = 8;  // blocks in flight in ECB and CBC decryption

struct Keys {
    __m128i k[15];
    int nr;
};

ZV_AES_TARGET inline void load_keys(const uint32_t *words, int nr, Keys *k) {
    k->nr = nr;
#pragma GCC unroll 15
    for (int i = 0; i <= nr; i++) k->k[i] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(words + 4 * i));
}

// Data bytes to columns and back: as they stand (AES), or each 4-byte
// group reversed (RIJ).
template <bool Rij>
ZV_AES_TARGET inline __m128i order(__m128i v) {
    if constexpr (Rij) {
        return _mm_shuffle_epi8(v, _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12));
    } else {
        return v;
    }
}

template <bool Rij>
ZV_AES_TARGET inline __m128i load(const unsigned char *p) {
    return order<Rij>(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
}

template <bool Rij>
ZV_AES_TARGET inline void store(unsigned char *p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p), order<Rij>(v));
}

ZV_AES_TARGET inline __m128i encrypt1(const Keys &k, __m128i x) {
    x = _mm_xor_si128(x, k.k[0]);
    for (int r = 1; r < k.nr; r++) x = _mm_aesenc_si128(x, k.k[r]);
    return _mm_aesenclast_si128(x, k.k[k.nr]);
}

ZV_AES_TARGET inline __m128i decrypt1(const Keys &k, __m128i x) {
    x = _mm_xor_si128(x, k.k[0]);
    for (int r = 1; r < k.nr; r++) x = _mm_aesdec_si128(x, k.k[r]);
    return _mm_aesdeclast_si128(x, k.k[k.nr]);
}

// N blocks through the rounds side by side.
template <bool Enc, int N>
ZV_AES_TARGET inline void rounds(const Keys &k, __m128i *x) {
    #pragma GCC unroll 8
    for (int j = 0; j < N; j++) x[j] = _mm_xor_si128(x[j], k.k[0]);
    for (int r = 1; r < k.nr; r++) {
        const __m128i rk = k.k[r];
        #pragma GCC unroll 8
        for (int j = 0; j < N; j++) x[j] = Enc ? _mm_aesenc_si128(x[j], rk) : _mm_aesdec_si128(x[j], rk);
    }
    const __m128i last = k.k[k.nr];
    #pragma GCC unroll 8
    for (int j = 0; j < N; j++) x[j] = Enc ? _mm_aesenclast_si128(x[j], last) : _mm_aesdeclast_si128(x[j], last);
}

template <bool Enc, bool Rij>
ZV_AES_TARGET void ecb(const RijSchedule *s, const unsigned char *in, unsigned char *out, size_t blocks) {
    Keys k;
    load_keys(Enc ? s->ek : s->dk, int(s->nr), &k);
    size_t i = 0;
    for (; i + kWide <= blocks; i += kWide) {
        __m128i x[kWide];
        #pragma GCC unroll 8
        for (int j = 0; j < kWide; j++) x[j] = load<Rij>(in + 16 * (i + size_t(j)));
        rounds<Enc, kWide>(k, x);
        #pragma GCC unroll 8
        for (int j = 0; j < kWide; j++) store<Rij>(out + 16 * (i + size_t(j)), x[j]);
    }
    for (; i < blocks; i++) {
        __m128i x = load<Rij>(in + 16 * i);
        store<Rij>(out + 16 * i, Enc ? encrypt1(k, x) : decrypt1(k, x));
    }
    secure_zero(&k, sizeof k);
}

template <bool Rij>
ZV_AES_TARGET void cbc_encrypt(const RijSchedule *s, unsigned char iv[16], const unsigned char *in,
                               unsigned char *out, size_t blocks) {
    Keys k;
    load_keys(s->ek, int(s->nr), &k);
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(iv));
    for (size_t i = 0; i < blocks; i++) {
        v = encrypt1(k, _mm_xor_si128(load<Rij>(in + 16 * i), v));
        store<Rij>(out + 16 * i, v);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(iv), v);
    secure_zero(&k, sizeof k);
}

template <bool Rij>
ZV_AES_TARGET void cbc_decrypt(const RijSchedule *s, unsigned char iv[16], const unsigned char *in,
                               unsigned char *out, size_t blocks) {
    Keys k;
    load_keys(s->dk, int(s->nr), &k);
    __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i *>(iv));
    size_t i = 0;
    for (; i + kWide <= blocks; i += kWide) {
        __m128i c[kWide], x[kWide];
        #pragma GCC unroll 8
        for (int j = 0; j < kWide; j++) x[j] = c[j] = load<Rij>(in + 16 * (i + size_t(j)));
        rounds<false, kWide>(k, x);
        #pragma GCC unroll 8
        for (int j = 0; j < kWide; j++) {
            store<Rij>(out + 16 * (i + size_t(j)), _mm_xor_si128(x[j], prev));
            prev = c[j];
        }
    }
    for (; i < blocks; i++) {
        const __m128i c = load<Rij>(in + 16 * i);
        store<Rij>(out + 16 * i, _mm_xor_si128(decrypt1(k, c), prev));
        prev = c;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(iv), prev);
    secure_zero(&k, sizeof k);
}

template <bool Rij>
ZV_AES_TARGET void ofb(const RijSchedule *s, unsigned char iv[16], const unsigned char *in, unsigned char *out,
                       size_t blocks) {
    Keys k;
    load_keys(s->ek, int(s->nr), &k);
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(iv));
    for (size_t i = 0; i < blocks; i++) {
        v = encrypt1(k, v);
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + 16 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16 * i), _mm_xor_si128(d, order<Rij>(v)));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(iv), v);
    secure_zero(&k, sizeof k);
}

// N chains side by side, block by block.
template <bool Rij, int N>
ZV_AES_TARGET void cbc_units(const Keys &k, const unsigned char (*ivs)[16], const unsigned char *in,
                             unsigned char *out, size_t stride, size_t blocks) {
    __m128i v[N];
    #pragma GCC unroll 8
    for (int j = 0; j < N; j++) v[j] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(ivs[j]));
    for (size_t i = 0; i < blocks; i++) {
        #pragma GCC unroll 8
        for (int j = 0; j < N; j++) v[j] = _mm_xor_si128(v[j], load<Rij>(in + size_t(j) * stride + 16 * i));
        rounds<true, N>(k, v);
        #pragma GCC unroll 8
        for (int j = 0; j < N; j++) store<Rij>(out + size_t(j) * stride + 16 * i, v[j]);
    }
}

template <bool Rij>
ZV_AES_TARGET void cbc_encrypt_units(const RijSchedule *s, const unsigned char (*ivs)[16], const unsigned char *in,
                                     unsigned char *out, size_t stride, size_t blocks, size_t count) {
    Keys k;
    load_keys(s->ek, int(s->nr), &k);
    size_t u = 0;
    for (; u + 8 <= count; u += 8) cbc_units<Rij, 8>(k, ivs + u, in + u * stride, out + u * stride, stride, blocks);
    if (u + 4 <= count) {
        cbc_units<Rij, 4>(k, ivs + u, in + u * stride, out + u * stride, stride, blocks);
        u += 4;
    }
    if (u + 2 <= count) {
        cbc_units<Rij, 2>(k, ivs + u, in + u * stride, out + u * stride, stride, blocks);
        u += 2;
    }
    if (u < count) cbc_units<Rij, 1>(k, ivs + u, in + u * stride, out + u * stride, stride, blocks);
    secure_zero(&k, sizeof k);
}

// ---- 512-bit registers (VAES): four blocks per register ------------------

#define ZV_VAES_TARGET __attribute__((target("aes,ssse3,sse4.1,vaes,avx512f,avx512bw")))

constexpr int kZmm = 4;  // registers in flight: sixteen blocks

// The unmasked broadcast, align and extract of the compiler's header pass
// an operand it leaves undefined, which its own inlining then warns of;
// the zero-masked forms under a full mask give the same register.
ZV_VAES_TARGET inline __m512i broadcast_block(__m128i v) { return _mm512_maskz_broadcast_i32x4(__mmask16(0xFFFF), v); }

template <int Qwords>
ZV_VAES_TARGET inline __m512i align_qwords(__m512i hi, __m512i lo) {
    return _mm512_maskz_alignr_epi64(__mmask8(0xFF), hi, lo, Qwords);
}

template <int Block>
ZV_VAES_TARGET inline __m128i block_of(__m512i v) {
    return _mm512_maskz_extracti32x4_epi32(__mmask8(0xF), v, Block);
}

struct WideKeys {
    __m512i k[15];
    int nr;
};

ZV_VAES_TARGET inline void load_wide_keys(const uint32_t *words, int nr, WideKeys *k) {
    k->nr = nr;
#pragma GCC unroll 15
    for (int i = 0; i <= nr; i++)
        k->k[i] = broadcast_block(_mm_loadu_si128(reinterpret_cast<const __m128i *>(words + 4 * i)));
}

template <bool Rij>
ZV_VAES_TARGET inline __m512i load_wide(const unsigned char *p) {
    __m512i v = _mm512_loadu_si512(p);
    if constexpr (Rij) {
        const __m512i swap = broadcast_block(_mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12));
        v = _mm512_shuffle_epi8(v, swap);
    }
    return v;
}

template <bool Rij>
ZV_VAES_TARGET inline void store_wide(unsigned char *p, __m512i v) {
    if constexpr (Rij) {
        const __m512i swap = broadcast_block(_mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12));
        v = _mm512_shuffle_epi8(v, swap);
    }
    _mm512_storeu_si512(p, v);
}

template <bool Enc>
ZV_VAES_TARGET inline void wide_rounds(const WideKeys &k, __m512i *x) {
#pragma GCC unroll 4
    for (int j = 0; j < kZmm; j++) x[j] = _mm512_xor_si512(x[j], k.k[0]);
    for (int r = 1; r < k.nr; r++) {
        const __m512i rk = k.k[r];
#pragma GCC unroll 4
        for (int j = 0; j < kZmm; j++) x[j] = Enc ? _mm512_aesenc_epi128(x[j], rk) : _mm512_aesdec_epi128(x[j], rk);
    }
    const __m512i last = k.k[k.nr];
#pragma GCC unroll 4
    for (int j = 0; j < kZmm; j++)
        x[j] = Enc ? _mm512_aesenclast_epi128(x[j], last) : _mm512_aesdeclast_epi128(x[j], last);
}

// The whole groups of sixteen blocks; returns the blocks done.
template <bool Enc, bool Rij>
ZV_VAES_TARGET size_t ecb_wide(const RijSchedule *s, const unsigned char *in, unsigned char *out, size_t blocks) {
    WideKeys k;
    load_wide_keys(Enc ? s->ek : s->dk, int(s->nr), &k);
    size_t i = 0;
    for (; i + 4 * kZmm <= blocks; i += 4 * kZmm) {
        __m512i x[kZmm];
#pragma GCC unroll 4
        for (int j = 0; j < kZmm; j++) x[j] = load_wide<Rij>(in + 16 * (i + 4 * size_t(j)));
        wide_rounds<Enc>(k, x);
#pragma GCC unroll 4
        for (int j = 0; j < kZmm; j++) store_wide<Rij>(out + 16 * (i + 4 * size_t(j)), x[j]);
    }
    secure_zero(&k, sizeof k);
    return i;
}

// CBC decryption of the whole groups of sixteen blocks: each register's
// chaining blocks are the register before it shifted by one block, the
// first one's last block being the IV (kept in iv); returns the blocks done.
template <bool Rij>
ZV_VAES_TARGET size_t cbc_decrypt_wide(const RijSchedule *s, unsigned char iv[16], const unsigned char *in,
                                       unsigned char *out, size_t blocks) {
    WideKeys k;
    load_wide_keys(s->dk, int(s->nr), &k);
    __m512i carry = broadcast_block(_mm_loadu_si128(reinterpret_cast<const __m128i *>(iv)));
    size_t i = 0;
    for (; i + 4 * kZmm <= blocks; i += 4 * kZmm) {
        __m512i c[kZmm], x[kZmm];
#pragma GCC unroll 4
        for (int j = 0; j < kZmm; j++) x[j] = c[j] = load_wide<Rij>(in + 16 * (i + 4 * size_t(j)));
        wide_rounds<false>(k, x);
#pragma GCC unroll 4
        for (int j = 0; j < kZmm; j++) {
            const __m512i prev = align_qwords<6>(c[j], j == 0 ? carry : c[j - 1]);
            store_wide<Rij>(out + 16 * (i + 4 * size_t(j)), _mm512_xor_si512(x[j], prev));
        }
        carry = c[kZmm - 1];
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(iv), block_of<3>(carry));
    secure_zero(&k, sizeof k);
    return i;
}

}  // namespace

void aes_hw_ecb(const RijSchedule *s, bool encrypt, bool rij, const unsigned char *in, unsigned char *out,
                size_t blocks) {
    if (crypto_road().wide && blocks >= 16) {
        size_t done = encrypt ? (rij ? ecb_wide<true, true>(s, in, out, blocks) : ecb_wide<true, false>(s, in, out, blocks))
                              : (rij ? ecb_wide<false, true>(s, in, out, blocks) : ecb_wide<false, false>(s, in, out, blocks));
        in += 16 * done;
        out += 16 * done;
        blocks -= done;
        if (!blocks) return;
    }
    if (encrypt) {
        rij ? ecb<true, true>(s, in, out, blocks) : ecb<true, false>(s, in, out, blocks);
    } else {
        rij ? ecb<false, true>(s, in, out, blocks) : ecb<false, false>(s, in, out, blocks);
    }
}

void aes_hw_cbc_encrypt(const RijSchedule *s, bool rij, unsigned char iv[16], const unsigned char *in,
                        unsigned char *out, size_t blocks) {
    rij ? cbc_encrypt<true>(s, iv, in, out, blocks) : cbc_encrypt<false>(s, iv, in, out, blocks);
}

void aes_hw_cbc_decrypt(const RijSchedule *s, bool rij, unsigned char iv[16], const unsigned char *in,
                        unsigned char *out, size_t blocks) {
    if (crypto_road().wide && blocks >= 16) {
        size_t done = rij ? cbc_decrypt_wide<true>(s, iv, in, out, blocks) : cbc_decrypt_wide<false>(s, iv, in, out, blocks);
        in += 16 * done;
        out += 16 * done;
        blocks -= done;
        if (!blocks) return;
    }
    rij ? cbc_decrypt<true>(s, iv, in, out, blocks) : cbc_decrypt<false>(s, iv, in, out, blocks);
}

void aes_hw_ofb(const RijSchedule *s, bool rij, unsigned char iv[16], const unsigned char *in, unsigned char *out,
                size_t blocks) {
    rij ? ofb<true>(s, iv, in, out, blocks) : ofb<false>(s, iv, in, out, blocks);
}

void aes_hw_cbc_encrypt_units(const RijSchedule *s, bool rij, const unsigned char (*ivs)[16],
                              const unsigned char *in, unsigned char *out, size_t stride, size_t blocks,
                              size_t count) {
    rij ? cbc_encrypt_units<true>(s, ivs, in, out, stride, blocks, count)
        : cbc_encrypt_units<false>(s, ivs, in, out, stride, blocks, count);
}

}  // namespace zv

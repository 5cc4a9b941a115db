// Digests, CRC-32 and word packing inside the library.
//
// The exported routines of qvs.h are one-line entries over these; the
// library's own callers (the ciphers, the generator, file encryption) use
// these hidden names, so that an application's symbol of the same exported
// name never replaces them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "zarvo/qvs.h"

namespace zv {

// ---- Block feeding shared by the digests --------------------------------------
// Feeds len bytes to a hash of bs-byte blocks whose buffer holds `have`
// bytes of a partial block: whole blocks go to step(first block, count),
// the buffered one first, then every whole block of the input in one run;
// what is left waits in the buffer.
template <typename Step>
void feed_blocks(unsigned char *buffer, size_t bs, size_t have, const unsigned char *in, size_t len, Step &&step) {
    size_t i = 0;
    if (have) {
        size_t take = bs - have < len ? bs - have : len;
        memcpy(buffer + have, in, take);
        i = take;
        if (have + take < bs) return;
        step(buffer, size_t(1));
    }
    const size_t whole = (len - i) / bs;
    if (whole) step(in + i, whole);
    i += whole * bs;
    if (i < len) memcpy(buffer, in + i, len - i);
}

// Adds len bytes to a bit count held as two words (low first) and returns
// the bytes of the partial 64-byte block before them.
inline size_t count_bytes(uint32_t count[2], size_t len) {
    size_t have = (count[0] >> 3) & 63;
    uint64_t bits = (uint64_t(count[1]) << 32 | count[0]) + (uint64_t(len) << 3);
    count[0] = uint32_t(bits);
    count[1] = uint32_t(bits >> 32);
    return have;
}

// Bytes of padding (0x80 then zeros) that bring `have` bytes of a partial
// block to where the length field of lenfield bytes ends the block.
inline size_t pad_length(size_t have, size_t bs, size_t lenfield) {
    size_t room = bs - lenfield;
    return have < room ? room - have : bs + room - have;
}

// ---- MD5 ---------------------------------------------------------------------
void md5_init(QVSMD5CTX *ctx);
void md5_update(QVSMD5CTX *ctx, const void *data, size_t len);
// Digest into out (skipped when null); the state is always wiped.
void md5_final(unsigned char *out, QVSMD5CTX *ctx);
// Padding and length fed through md5_update; the state is kept.
void md5_round(QVSMD5CTX *ctx);
void md5_transform(uint32_t state[4], const unsigned char block[64]);
// len / 4 words as little-endian bytes.
void encode_le(unsigned char *out, const uint32_t *in, size_t len);
// MD5 of one buffer.
void md5_digest(const void *data, size_t len, unsigned char out[16]);

// ---- SHA-1 and SHA-2 ---------------------------------------------------------
void sha1_init(QVSSHA1CTX *ctx);
void sha1_update(QVSSHA1CTX *ctx, const void *data, size_t len);
void sha1_final(unsigned char *out, QVSSHA1CTX *ctx);
void sha1_transform(uint32_t state[5], const unsigned char block[64]);

int sha2_init(QVSSHA2CTX *ctx, int size);
void sha2_update(QVSSHA2CTX *ctx, const void *data, size_t len);
void sha2_final(unsigned char *out, QVSSHA2CTX *ctx);
void sha256_transform(uint32_t state[8], const unsigned char block[64]);
// SHA-256's round constants: the first 32 bits of the fractional parts of
// the cube roots of the first 64 primes (aligned for vector loads).
alignas(16) inline constexpr uint32_t sha256_k[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

void sha512_transform(uint64_t state[8], const unsigned char block[128]);

// ---- CRC-32 --------------------------------------------------------------------
// The table of the reflected IEEE 802.3 polynomial 0xEDB88320: entry n is
// the CRC register after eight shifts of n.
constexpr std::array<uint32_t, 256> make_crc_table() {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[n] = c;
    }
    return t;
}
inline constexpr std::array<uint32_t, 256> crc_32_tab = make_crc_table();
static_assert(crc_32_tab[1] == 0x77073096u && crc_32_tab[255] == 0x2D02EF8Du);

// Slices for eight bytes at a time: slice k, entry n, is the register
// after byte n followed by k zero bytes (slice 0 is crc_32_tab).
using CrcSlices = std::array<std::array<uint32_t, 256>, 8>;
constexpr CrcSlices make_crc_slices() {
    CrcSlices t{};
    t[0] = crc_32_tab;
    for (size_t k = 1; k < 8; k++)
        for (size_t n = 0; n < 256; n++) t[k][n] = (t[k - 1][n] >> 8) ^ crc_32_tab[t[k - 1][n] & 0xFF];
    return t;
}
inline constexpr CrcSlices crc_slices = make_crc_slices();

inline uint32_t crc32_step(unsigned char byte, uint32_t crc) {
    return (crc >> 8) ^ crc_32_tab[(crc ^ byte) & 0xFF];
}
// The register after the table steps over len bytes, from register reg
// (no inversion), eight bytes per step where it can.
uint32_t crc32_update(uint32_t reg, const unsigned char *p, size_t len);
uint32_t crc32_buffer(const void *buf, size_t len, uint32_t crc);
uint32_t crc32_uint(uint32_t word, uint32_t crc);
uint32_t crc32_block(const uint32_t *words, int32_t count, uint32_t crc);
void expand32(uint32_t value, uint32_t *out, int32_t count);

// ---- Word packing ----------------------------------------------------------------
// Groups of 4 bytes to words and back, first byte most significant.
void pack32(const unsigned char *bytes, uint32_t *words, int32_t count);
void unpack32(const uint32_t *words, int32_t count, unsigned char *bytes);

}  // namespace zv

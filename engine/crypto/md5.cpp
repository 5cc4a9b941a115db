// MD5 (RFC 1321), with MD5Round, the in-place finish that MDC builds on.
//
// State: four words A B C D, the bit count of everything fed (low word
// first) and the bytes of a partial block. Invariant: buffer holds
// (count / 8) % 64 bytes not yet transformed.
#include <cstring>

#include "engine/core/bytes.h"
#include "engine/crypto/hashes.h"
#include "engine/crypto/wipe.h"

namespace zv {

namespace {

// floor(|sin(i + 1)| * 2^32).
constexpr uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

// Left rotations of the four rounds, four per round.
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

constexpr unsigned char kPadding[64] = {0x80};

inline uint32_t rol(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

void md5_transform(uint32_t state[4], const unsigned char block[64]) {
    uint32_t x[16];
    for (int i = 0; i < 16; i++) x[i] = le::get32(block + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    // One step: a = b + ((a + f + T[i] + X[g]) <<< s), then the words turn.
    auto step = [&](uint32_t f, int i, int g) {
        uint32_t t = d;
        d = c;
        c = b;
        b = b + rol(a + f + kT[i] + x[g], kShift[i >> 4][i & 3]);
        a = t;
    };
    // Unrolled whole: the shifts become constants and the turn of the words
    // renaming.
#pragma GCC unroll 16
    for (int i = 0; i < 16; i++) step((b & c) | (~b & d), i, i);
#pragma GCC unroll 16
    for (int i = 16; i < 32; i++) step((b & d) | (c & ~d), i, (5 * i + 1) & 15);
#pragma GCC unroll 16
    for (int i = 32; i < 48; i++) step(b ^ c ^ d, i, (3 * i + 5) & 15);
#pragma GCC unroll 16
    for (int i = 48; i < 64; i++) step(c ^ (b | ~d), i, (7 * i) & 15);
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    secure_zero(x, sizeof x);
}

void encode_le(unsigned char *out, const uint32_t *in, size_t len) {
    for (size_t i = 0; i + 4 <= len; i += 4) le::put32(out + i, in[i / 4]);
}

void md5_init(QVSMD5CTX *ctx) {
    if (!ctx) return;
    memset(ctx, 0, sizeof *ctx);
    ctx->state[0] = 0x67452301;
    ctx->state[1] = 0xefcdab89;
    ctx->state[2] = 0x98badcfe;
    ctx->state[3] = 0x10325476;
}

void md5_update(QVSMD5CTX *ctx, const void *data, size_t len) {
    if (!ctx || !data || len == 0) return;
    const unsigned char *in = static_cast<const unsigned char *>(data);
    auto step = [ctx](const unsigned char *b, size_t blocks) {
        for (size_t i = 0; i < blocks; i++) md5_transform(ctx->state, b + 64 * i);
    };
    feed_blocks(ctx->buffer, 64, count_bytes(ctx->count, len), in, len, step);
}

void md5_round(QVSMD5CTX *ctx) {
    if (!ctx) return;
    unsigned char bits[8];
    encode_le(bits, ctx->count, 8);
    md5_update(ctx, kPadding, pad_length((ctx->count[0] >> 3) & 63, 64, 8));
    md5_update(ctx, bits, 8);
}

void md5_final(unsigned char *out, QVSMD5CTX *ctx) {
    if (!ctx) return;
    if (out) {
        md5_round(ctx);
        encode_le(out, ctx->state, 16);
    }
    secure_zero(ctx, sizeof *ctx);
}

void md5_digest(const void *data, size_t len, unsigned char out[16]) {
    QVSMD5CTX ctx;
    md5_init(&ctx);
    md5_update(&ctx, data, len);
    md5_final(out, &ctx);
}

}  // namespace zv

// ---- Exported entries ---------------------------------------------------------

ZV_API void MD5Init(QVSMD5CTX *ctx) { zv::md5_init(ctx); }
ZV_API void MD5Update(QVSMD5CTX *ctx, const void *data, uint32_t len) { zv::md5_update(ctx, data, len); }
ZV_API void MD5Final(unsigned char *digest, QVSMD5CTX *ctx) { zv::md5_final(digest, ctx); }
ZV_API void MD5Round(QVSMD5CTX *ctx) { zv::md5_round(ctx); }
ZV_API void MD5Transform(uint32_t state[4], const unsigned char block[64]) {
    if (state && block) zv::md5_transform(state, block);
}
ZV_API void Encode(unsigned char *out, const uint32_t *in, uint32_t len) {
    if (out && in) zv::encode_le(out, in, len);
}

// SHA-1 (FIPS 180-1): five state words, the bit count of everything fed
// (low word first) and the bytes of a partial block, (count / 8) % 64 of
// them.
#include <bit>
#include <cstring>

#include "engine/core/bytes.h"
#include "engine/crypto/hash_hw.h"
#include "engine/crypto/hashes.h"
#include "engine/crypto/road.h"
#include "engine/crypto/wipe.h"

namespace zv {

void sha1_transform(uint32_t state[5], const unsigned char block[64]) {
    uint32_t w[80];
    for (int t = 0; t < 16; t++) w[t] = be::get32(block + 4 * t);
    for (int t = 16; t < 80; t++) w[t] = std::rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    auto step = [&](uint32_t f, uint32_t k, int t) {
        uint32_t temp = std::rotl(a, 5) + f + e + k + w[t];
        e = d;
        d = c;
        c = std::rotl(b, 30);
        b = a;
        a = temp;
    };
    for (int t = 0; t < 20; t++) step((b & c) | (~b & d), 0x5A827999, t);
    for (int t = 20; t < 40; t++) step(b ^ c ^ d, 0x6ED9EBA1, t);
    for (int t = 40; t < 60; t++) step((b & c) | (b & d) | (c & d), 0x8F1BBCDC, t);
    for (int t = 60; t < 80; t++) step(b ^ c ^ d, 0xCA62C1D6, t);
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    secure_zero(w, sizeof w);
}

void sha1_init(QVSSHA1CTX *ctx) {
    if (!ctx) return;
    memset(ctx, 0, sizeof *ctx);
    ctx->state[0] = 0x67452301;
    ctx->state[1] = 0xEFCDAB89;
    ctx->state[2] = 0x98BADCFE;
    ctx->state[3] = 0x10325476;
    ctx->state[4] = 0xC3D2E1F0;
}

void sha1_update(QVSSHA1CTX *ctx, const void *data, size_t len) {
    if (!ctx || !data || len == 0) return;
    const unsigned char *in = static_cast<const unsigned char *>(data);
    auto step = [ctx](const unsigned char *b, size_t blocks) {
        if (crypto_road().sha) {
            sha1_hw_blocks(ctx->state, b, blocks);
        } else {
            for (size_t i = 0; i < blocks; i++) sha1_transform(ctx->state, b + 64 * i);
        }
    };
    feed_blocks(ctx->buffer, 64, count_bytes(ctx->count, len), in, len, step);
}

void sha1_final(unsigned char *out, QVSSHA1CTX *ctx) {
    if (!ctx) return;
    if (out) {
        unsigned char bits[8];
        be::put32(bits, ctx->count[1]);
        be::put32(bits + 4, ctx->count[0]);
        static constexpr unsigned char pad[64] = {0x80};
        sha1_update(ctx, pad, pad_length((ctx->count[0] >> 3) & 63, 64, 8));
        sha1_update(ctx, bits, 8);
        for (int i = 0; i < 5; i++) be::put32(out + 4 * i, ctx->state[i]);
    }
    secure_zero(ctx, sizeof *ctx);
}

}  // namespace zv

// ---- Exported entries ---------------------------------------------------------

ZV_API void SHAInit(QVSSHA1CTX *ctx) { zv::sha1_init(ctx); }
ZV_API void SHAUpdate(QVSSHA1CTX *ctx, const void *data, uint32_t len) { zv::sha1_update(ctx, data, len); }
ZV_API void SHAFinal(unsigned char *digest, QVSSHA1CTX *ctx) { zv::sha1_final(digest, ctx); }
ZV_API void SHA1Transform(uint32_t state[5], const unsigned char block[64]) {
    if (state && block) zv::sha1_transform(state, block);
}

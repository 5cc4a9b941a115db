// SHA-256 and SHA-512 (FIPS 180-2) in one context: the digest size chosen
// at the start (32 or 64 bytes) selects the words (8 of 32 or 64 bits), the
// block (64 or 128 bytes) and the length field (8 or 16 bytes). count is the
// bit count of everything fed, low word first; the buffer holds the bytes
// of a partial block, (count / 8) modulo the block size of them.
#include <bit>
#include <cstring>

#include "engine/core/bytes.h"
#include "engine/crypto/hash_hw.h"
#include "engine/crypto/hashes.h"
#include "engine/crypto/road.h"
#include "engine/crypto/wipe.h"

namespace zv {

namespace {

// The first 32 bits of the fractional parts of the square roots of the
// first 8 primes (the round constants are sha256_k, hashes.h).
constexpr uint32_t kH256[8] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};
// The same to 64 bits, over the first 80 primes.
constexpr uint64_t kK512[80] = {
    0x428a2f98d728ae22ull, 0x7137449123ef65cdull, 0xb5c0fbcfec4d3b2full, 0xe9b5dba58189dbbcull,
    0x3956c25bf348b538ull, 0x59f111f1b605d019ull, 0x923f82a4af194f9bull, 0xab1c5ed5da6d8118ull,
    0xd807aa98a3030242ull, 0x12835b0145706fbeull, 0x243185be4ee4b28cull, 0x550c7dc3d5ffb4e2ull,
    0x72be5d74f27b896full, 0x80deb1fe3b1696b1ull, 0x9bdc06a725c71235ull, 0xc19bf174cf692694ull,
    0xe49b69c19ef14ad2ull, 0xefbe4786384f25e3ull, 0x0fc19dc68b8cd5b5ull, 0x240ca1cc77ac9c65ull,
    0x2de92c6f592b0275ull, 0x4a7484aa6ea6e483ull, 0x5cb0a9dcbd41fbd4ull, 0x76f988da831153b5ull,
    0x983e5152ee66dfabull, 0xa831c66d2db43210ull, 0xb00327c898fb213full, 0xbf597fc7beef0ee4ull,
    0xc6e00bf33da88fc2ull, 0xd5a79147930aa725ull, 0x06ca6351e003826full, 0x142929670a0e6e70ull,
    0x27b70a8546d22ffcull, 0x2e1b21385c26c926ull, 0x4d2c6dfc5ac42aedull, 0x53380d139d95b3dfull,
    0x650a73548baf63deull, 0x766a0abb3c77b2a8ull, 0x81c2c92e47edaee6ull, 0x92722c851482353bull,
    0xa2bfe8a14cf10364ull, 0xa81a664bbc423001ull, 0xc24b8b70d0f89791ull, 0xc76c51a30654be30ull,
    0xd192e819d6ef5218ull, 0xd69906245565a910ull, 0xf40e35855771202aull, 0x106aa07032bbd1b8ull,
    0x19a4c116b8d2d0c8ull, 0x1e376c085141ab53ull, 0x2748774cdf8eeb99ull, 0x34b0bcb5e19b48a8ull,
    0x391c0cb3c5c95a63ull, 0x4ed8aa4ae3418acbull, 0x5b9cca4f7763e373ull, 0x682e6ff3d6b2b8a3ull,
    0x748f82ee5defb2fcull, 0x78a5636f43172f60ull, 0x84c87814a1f0ab72ull, 0x8cc702081a6439ecull,
    0x90befffa23631e28ull, 0xa4506cebde82bde9ull, 0xbef9a3f7b2c67915ull, 0xc67178f2e372532bull,
    0xca273eceea26619cull, 0xd186b8c721c0c207ull, 0xeada7dd6cde0eb1eull, 0xf57d4f7fee6ed178ull,
    0x06f067aa72176fbaull, 0x0a637dc5a2c898a6ull, 0x113f9804bef90daeull, 0x1b710b35131c471bull,
    0x28db77f523047d84ull, 0x32caab7b40c72493ull, 0x3c9ebe0a15c9bebcull, 0x431d67c49c100d4cull,
    0x4cc5d4becb3e42b6ull, 0x597f299cfc657e2aull, 0x5fcb6fab3ad6faecull, 0x6c44198c4a475817ull,
};
constexpr uint64_t kH512[8] = {
    0x6a09e667f3bcc908ull, 0xbb67ae8584caa73bull, 0x3c6ef372fe94f82bull, 0xa54ff53a5f1d36f1ull,
    0x510e527fade682d1ull, 0x9b05688c2b3e6c1full, 0x1f83d9abfb41bd6bull, 0x5be0cd19137e2179ull,
};

// The two word sizes: rounds, constants, the big and small sigma
// functions and the big-endian word load.
template <typename W>
struct Sha2Words;

template <>
struct Sha2Words<uint32_t> {
    static constexpr int kRounds = 64;
    static constexpr const uint32_t *kK = sha256_k;
    static uint32_t big0(uint32_t a) { return std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22); }
    static uint32_t big1(uint32_t e) { return std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25); }
    static uint32_t small0(uint32_t x) { return std::rotr(x, 7) ^ std::rotr(x, 18) ^ (x >> 3); }
    static uint32_t small1(uint32_t x) { return std::rotr(x, 17) ^ std::rotr(x, 19) ^ (x >> 10); }
    static uint32_t load(const unsigned char *p) { return be::get32(p); }
};

template <>
struct Sha2Words<uint64_t> {
    static constexpr int kRounds = 80;
    static constexpr const uint64_t *kK = kK512;
    static uint64_t big0(uint64_t a) { return std::rotr(a, 28) ^ std::rotr(a, 34) ^ std::rotr(a, 39); }
    static uint64_t big1(uint64_t e) { return std::rotr(e, 14) ^ std::rotr(e, 18) ^ std::rotr(e, 41); }
    static uint64_t small0(uint64_t x) { return std::rotr(x, 1) ^ std::rotr(x, 8) ^ (x >> 7); }
    static uint64_t small1(uint64_t x) { return std::rotr(x, 19) ^ std::rotr(x, 61) ^ (x >> 6); }
    static uint64_t load(const unsigned char *p) { return be::get64(p); }
};

// One block (16 words) into the eight state words.
template <typename W>
void compress(W state[8], const unsigned char *block) {
    using P = Sha2Words<W>;
    W w[P::kRounds];
    for (int t = 0; t < 16; t++) w[t] = P::load(block + sizeof(W) * size_t(t));
    for (int t = 16; t < P::kRounds; t++) w[t] = w[t - 16] + P::small0(w[t - 15]) + w[t - 7] + P::small1(w[t - 2]);
    W a = state[0], b = state[1], c = state[2], d = state[3];
    W e = state[4], f = state[5], g = state[6], h = state[7];
    for (int t = 0; t < P::kRounds; t++) {
        W t1 = h + P::big1(e) + ((e & f) ^ (~e & g)) + P::kK[t] + w[t];
        W t2 = P::big0(a) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
    secure_zero(w, sizeof w);
}

bool valid(const QVSSHA2CTX *ctx) { return ctx->size == 32 || ctx->size == 64; }
size_t block_of(const QVSSHA2CTX *ctx) { return ctx->size == 64 ? 128 : 64; }

void transform(QVSSHA2CTX *ctx, const unsigned char *block, size_t blocks) {
    if (ctx->size == 64) {
        for (size_t i = 0; i < blocks; i++) compress(ctx->state.w64, block + 128 * i);
    } else if (crypto_road().sha) {
        sha256_hw_blocks(ctx->state.w32, block, blocks);
    } else {
        for (size_t i = 0; i < blocks; i++) compress(ctx->state.w32, block + 64 * i);
    }
}

}  // namespace

void sha256_transform(uint32_t state[8], const unsigned char block[64]) { compress(state, block); }
void sha512_transform(uint64_t state[8], const unsigned char block[128]) { compress(state, block); }

int sha2_init(QVSSHA2CTX *ctx, int size) {
    if (!ctx || (size != 32 && size != 64)) return 1;
    memset(ctx, 0, sizeof *ctx);
    ctx->size = uint32_t(size);
    if (size == 64) {
        memcpy(ctx->state.w64, kH512, sizeof kH512);
    } else {
        memcpy(ctx->state.w32, kH256, sizeof kH256);
    }
    return 0;
}

void sha2_update(QVSSHA2CTX *ctx, const void *data, size_t len) {
    if (!ctx || !data || len == 0 || !valid(ctx)) return;
    const unsigned char *in = static_cast<const unsigned char *>(data);
    const size_t bs = block_of(ctx);
    size_t have = size_t(ctx->count[0] >> 3) & (bs - 1);
    uint64_t add = uint64_t(len) << 3;
    ctx->count[1] += uint64_t(len) >> 61;
    ctx->count[0] += add;
    if (ctx->count[0] < add) ctx->count[1]++;
    feed_blocks(ctx->buffer, bs, have, in, len, [ctx](const unsigned char *blk, size_t blocks) { transform(ctx, blk, blocks); });
}

void sha2_final(unsigned char *out, QVSSHA2CTX *ctx) {
    if (!ctx) return;
    if (out && valid(ctx)) {
        const size_t bs = block_of(ctx);
        const size_t lenfield = bs / 8;  // 8 or 16 bytes
        unsigned char bits[16];
        be::put64(bits, ctx->count[1]);
        be::put64(bits + 8, ctx->count[0]);
        static constexpr unsigned char pad[128] = {0x80};
        sha2_update(ctx, pad, pad_length(size_t(ctx->count[0] >> 3) & (bs - 1), bs, lenfield));
        sha2_update(ctx, bits + 16 - lenfield, lenfield);
        if (ctx->size == 64) {
            for (int i = 0; i < 8; i++) be::put64(out + 8 * i, ctx->state.w64[i]);
        } else {
            for (int i = 0; i < 8; i++) be::put32(out + 4 * i, ctx->state.w32[i]);
        }
    }
    secure_zero(ctx, sizeof *ctx);
}

}  // namespace zv

// ---- Exported entries ---------------------------------------------------------

ZV_API int SHA2Init(QVSSHA2CTX *ctx, int size) { return zv::sha2_init(ctx, size); }
ZV_API void SHA2Update(QVSSHA2CTX *ctx, const void *data, uint32_t len) { zv::sha2_update(ctx, data, len); }
ZV_API void SHA2Final(unsigned char *digest, QVSSHA2CTX *ctx) { zv::sha2_final(digest, ctx); }
ZV_API void SHA2Transform(uint32_t state[8], const unsigned char block[64]) {
    if (state && block) zv::sha256_transform(state, block);
}
ZV_API void SHA512Transform(uint64_t state[8], const unsigned char block[128]) {
    if (state && block) zv::sha512_transform(state, block);
}

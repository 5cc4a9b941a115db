// DES (FIPS 46-3) and triple DES as encrypt-decrypt-encrypt (ANSI X9.52).
//
// Bits are numbered as the standard numbers them: bit 1 is the most
// significant bit of the first byte. A block crosses as two words, the
// left and right halves. The round function works on eight 6-bit groups:
// the expansion E takes for S-box i the bits 4i .. 4i+5 of R (bit 0 being
// bit 32 and bit 33 bit 1), which are the low six bits of R rotated left by
// 5 + 4i. So rotl(R, 5) holds the groups of S-boxes 1, 3, 5, 7 (counting
// from 1) at bit offsets 0, 24, 16, 8, and rotl(R, 9) those of S-boxes 2, 4,
// 6, 8 at the same offsets; a round key is stored as the two words of its
// groups at those offsets, and the S-boxes are merged with the permutation
// P into the tables kSP. The initial and final permutations run through
// tables of 16 nibbles x 16 values, all built at compile time from the
// standard's tables. Parity bits of the key are never read (PC-1 drops
// them).
#include <array>
#include <bit>

#include "engine/core/bytes.h"
#include "engine/crypto/ciphers.h"
#include "engine/crypto/wipe.h"

namespace zv {

namespace {

constexpr int kIP[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7,
};

constexpr int kP[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25,
};

constexpr int kPC1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43, 35, 27,
    19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
    14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4,
};

constexpr int kPC2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32,
};

constexpr int kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr uint8_t kS[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}},
};

// Every row of every S-box is a permutation of 0..15; IP and P name each
// of their positions once, PC-2 48 distinct positions of 56.
constexpr bool tables_sound() {
    for (const auto &box : kS)
        for (const auto &row : box) {
            unsigned seen = 0;
            for (uint8_t v : row) seen |= 1u << v;
            if (seen != 0xFFFF) return false;
        }
    uint64_t ip = 0, p = 0, pc2 = 0;
    for (int v : kIP) ip |= uint64_t(1) << (v - 1);
    for (int v : kP) p |= uint64_t(1) << (v - 1);
    for (int v : kPC2) pc2 |= v <= 56 ? uint64_t(1) << (v - 1) : 0;
    return ip == ~uint64_t(0) && p == 0xFFFFFFFFu && std::popcount(pc2) == 48;
}
static_assert(tables_sound(), "DES tables");

// kSP[i][g]: S-box i on the 6-bit group g (bits b1..b6, b1 most
// significant: row b1b6, column b2..b5), placed at output bits 4i+1..4i+4
// and passed through P.
constexpr std::array<std::array<uint32_t, 64>, 8> make_sp() {
    std::array<std::array<uint32_t, 64>, 8> sp{};
    for (int i = 0; i < 8; i++)
        for (int g = 0; g < 64; g++) {
            uint32_t s = kS[i][((g >> 4) & 2) | (g & 1)][(g >> 1) & 15];
            uint32_t pre = s << (28 - 4 * i);
            uint32_t out = 0;
            for (int j = 1; j <= 32; j++)
                if ((pre >> (32 - kP[j - 1])) & 1) out |= uint32_t(1) << (32 - j);
            sp[i][g] = out;
        }
    return sp;
}
constexpr auto kSP = make_sp();

using NibbleTable = std::array<std::array<uint64_t, 16>, 16>;

// Table of a 64-bit permutation `perm` (output bit j is input bit
// perm[j - 1]) by input nibble: entry [n][v] is the output of the input
// whose nibble n (n = 0 holds bits 1..4) is v and whose other bits are 0.
constexpr NibbleTable make_nibbles(const int *perm) {
    NibbleTable t{};
    for (int n = 0; n < 16; n++)
        for (int v = 0; v < 16; v++) {
            uint64_t out = 0;
            for (int j = 1; j <= 64; j++) {
                int src = perm[j - 1] - 1;  // 0-based input bit
                if (src / 4 == n && ((v >> (3 - src % 4)) & 1)) out |= uint64_t(1) << (64 - j);
            }
            t[n][v] = out;
        }
    return t;
}

constexpr std::array<int, 64> invert(const int *perm) {
    std::array<int, 64> inv{};
    for (int j = 1; j <= 64; j++) inv[perm[j - 1] - 1] = j;
    return inv;
}

constexpr std::array<int, 64> kFP = invert(kIP);
constexpr NibbleTable kIPTab = make_nibbles(kIP);
constexpr NibbleTable kFPTab = make_nibbles(kFP.data());

inline uint64_t permute(const NibbleTable &t, uint64_t x) {
    uint64_t out = 0;
    for (int n = 0; n < 16; n++) out |= t[n][(x >> (60 - 4 * n)) & 15];
    return out;
}

inline uint32_t f(uint32_t r, uint32_t kx, uint32_t ky) {
    uint32_t x = std::rotl(r, 5) ^ kx;
    uint32_t y = std::rotl(r, 9) ^ ky;
    return kSP[0][x & 63] ^ kSP[2][(x >> 24) & 63] ^ kSP[4][(x >> 16) & 63] ^ kSP[6][(x >> 8) & 63] ^
           kSP[1][y & 63] ^ kSP[3][(y >> 24) & 63] ^ kSP[5][(y >> 16) & 63] ^ kSP[7][(y >> 8) & 63];
}

// Sixteen rounds on the halves (after IP); ends with the halves exchanged,
// as the pre-output R16 L16. The next stage of triple DES starts from that
// pre-output, since its IP undoes the FP between them.
inline void rounds(uint32_t &l, uint32_t &r, const uint32_t *sub, bool decrypt) {
    if (!decrypt) {
        for (int n = 0; n < 16; n += 2) {
            l ^= f(r, sub[2 * n], sub[2 * n + 1]);
            r ^= f(l, sub[2 * n + 2], sub[2 * n + 3]);
        }
    } else {
        for (int n = 15; n > 0; n -= 2) {
            l ^= f(r, sub[2 * n], sub[2 * n + 1]);
            r ^= f(l, sub[2 * n - 2], sub[2 * n - 1]);
        }
    }
    uint32_t t = l;
    l = r;
    r = t;
}

// The round keys of one 8-byte key (deskey).
void deskey(const unsigned char *key, uint32_t *sub) {
    uint64_t k = be::get64(key);
    uint32_t c = 0, d = 0;
    for (int i = 0; i < 28; i++) {
        c |= uint32_t((k >> (64 - kPC1[i])) & 1) << (27 - i);
        d |= uint32_t((k >> (64 - kPC1[i + 28])) & 1) << (27 - i);
    }
    for (int n = 0; n < 16; n++) {
        int s = kShifts[n];
        c = ((c << s) | (c >> (28 - s))) & 0x0FFFFFFF;
        d = ((d << s) | (d >> (28 - s))) & 0x0FFFFFFF;
        uint64_t cd = uint64_t(c) << 28 | d;
        uint64_t k48 = 0;
        for (int i = 0; i < 48; i++) k48 |= ((cd >> (56 - kPC2[i])) & 1) << (47 - i);
        uint32_t g[8];
        for (int i = 0; i < 8; i++) g[i] = uint32_t(k48 >> (42 - 6 * i)) & 63;
        sub[2 * n] = g[0] | g[2] << 24 | g[4] << 16 | g[6] << 8;
        sub[2 * n + 1] = g[1] | g[3] << 24 | g[5] << 16 | g[7] << 8;
        secure_zero(g, sizeof g);
    }
    secure_zero(&k, sizeof k);
    secure_zero(&c, sizeof c);
    secure_zero(&d, sizeof d);
}

// The block function (desfunc): IP, one or three stages, FP.
void desfunc(const DesSchedule *s, const uint32_t *in, uint32_t *out, bool decrypt) {
    uint64_t x = permute(kIPTab, uint64_t(in[0]) << 32 | in[1]);
    uint32_t l = uint32_t(x >> 32), r = uint32_t(x);
    if (s->nkeys == 3) {
        // Encryption: E(K1) D(K2) E(K3); decryption the reverse.
        rounds(l, r, s->sub[decrypt ? 2 : 0], decrypt);
        rounds(l, r, s->sub[1], !decrypt);
        rounds(l, r, s->sub[decrypt ? 0 : 2], decrypt);
    } else {
        rounds(l, r, s->sub[0], decrypt);
    }
    x = permute(kFPTab, uint64_t(l) << 32 | r);
    out[0] = uint32_t(x >> 32);
    out[1] = uint32_t(x);
}

}  // namespace

int DESInit(void *schedule, const unsigned char *key, int32_t len) {
    if (!schedule || !key || (len != 8 && len != 16 && len != 24)) return 0;
    DesSchedule *s = static_cast<DesSchedule *>(schedule);
    s->nkeys = len == 8 ? 1 : 3;
    deskey(key, s->sub[0]);
    if (len > 8) {
        deskey(key + 8, s->sub[1]);
        deskey(len == 24 ? key + 16 : key, s->sub[2]);
    }
    return 1;
}

void DESEncrypt(void *schedule, const uint32_t *in, uint32_t *out) {
    desfunc(static_cast<const DesSchedule *>(schedule), in, out, false);
}

void DESDecrypt(void *schedule, const uint32_t *in, uint32_t *out) {
    desfunc(static_cast<const DesSchedule *>(schedule), in, out, true);
}

}  // namespace zv

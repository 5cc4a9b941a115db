// Twofish (128-bit block; keys of 128, 192 and 256 bits).
//
// The key is loaded as the algorithm defines it (little-endian words). Data
// words arrive with their first byte most significant, so each 4-byte group
// of a block is byte-reversed relative to the algorithm's own byte order;
// the words are used as they come.
//
// Process-wide tables, built once (std::call_once) by the first TWFInit:
// q_tab, the permutations q0 and q1; m_tab, the four columns of the MDS
// matrix times a byte; mk_tab, the same columns after the last q stage of
// each column of h, so that the key-dependent S-boxes of a schedule are
// one lookup per byte. A schedule holds the 40 round keys and the four
// key-dependent tables (full keying).
#include <array>
#include <bit>
#include <mutex>

#include "engine/core/bytes.h"
#include "engine/crypto/ciphers.h"
#include "engine/crypto/wipe.h"

namespace zv {

namespace {

// The 4-bit permutations t0..t3 that make q0 and q1.
constexpr uint8_t kQt[2][4][16] = {
    {{0x8, 0x1, 0x7, 0xD, 0x6, 0xF, 0x3, 0x2, 0x0, 0xB, 0x5, 0x9, 0xE, 0xC, 0xA, 0x4},
     {0xE, 0xC, 0xB, 0x8, 0x1, 0x2, 0x3, 0x5, 0xF, 0x4, 0xA, 0x6, 0x7, 0x0, 0x9, 0xD},
     {0xB, 0xA, 0x5, 0xE, 0x6, 0xD, 0x9, 0x0, 0xC, 0x8, 0xF, 0x3, 0x2, 0x4, 0x7, 0x1},
     {0xD, 0x7, 0xF, 0x4, 0x1, 0x2, 0x6, 0xE, 0x9, 0xB, 0x3, 0x0, 0x8, 0x5, 0xC, 0xA}},
    {{0x2, 0x8, 0xB, 0xD, 0xF, 0x7, 0x6, 0xE, 0x3, 0x1, 0x9, 0x4, 0x0, 0xA, 0xC, 0x5},
     {0x1, 0xE, 0x2, 0xB, 0x4, 0xC, 0x3, 0x7, 0x6, 0xD, 0xA, 0x5, 0xF, 0x9, 0x0, 0x8},
     {0x4, 0xC, 0x7, 0x5, 0x1, 0x6, 0x9, 0xA, 0x0, 0xE, 0xD, 0x8, 0x2, 0xB, 0x3, 0xF},
     {0xB, 0x9, 0x5, 0x1, 0xC, 0x3, 0xD, 0xE, 0x6, 0x4, 0x7, 0xF, 0x2, 0x0, 0x8, 0xA}},
};

// The MDS matrix, over GF(2^8) modulo x^8 + x^6 + x^5 + x^3 + 1.
constexpr uint8_t kMds[4][4] = {
    {0x01, 0xEF, 0x5B, 0x5B},
    {0x5B, 0xEF, 0xEF, 0x01},
    {0xEF, 0x5B, 0x01, 0xEF},
    {0xEF, 0x01, 0xEF, 0x5B},
};

// The Reed-Solomon matrix of the key schedule, modulo x^8 + x^6 + x^3 + x^2 + 1.
constexpr uint8_t kRs[4][8] = {
    {0x01, 0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E},
    {0xA4, 0x56, 0x82, 0xF3, 0x1E, 0xC6, 0x68, 0xE5},
    {0x02, 0xA1, 0xFC, 0xC1, 0x47, 0xAE, 0x3D, 0x19},
    {0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E, 0x03},
};

uint8_t gf_mul(uint8_t a, uint8_t b, unsigned poly) {
    unsigned r = 0, x = a;
    for (; b; b >>= 1) {
        if (b & 1) r ^= x;
        x <<= 1;
        if (x & 0x100) x ^= poly;
    }
    return uint8_t(r);
}

uint8_t q_perm(const uint8_t t[4][16], uint8_t x) {
    auto ror4 = [](unsigned v) { return ((v >> 1) | (v << 3)) & 15; };
    unsigned a = x >> 4, b = x & 15;
    unsigned a1 = a ^ b, b1 = (a ^ ror4(b) ^ (8 * a)) & 15;
    unsigned a2 = t[0][a1], b2 = t[1][b1];
    unsigned a3 = a2 ^ b2, b3 = (a2 ^ ror4(b2) ^ (8 * a2)) & 15;
    unsigned a4 = t[2][a3], b4 = t[3][b3];
    return uint8_t(16 * b4 + a4);
}

uint8_t q_tab[2][256];
uint32_t m_tab[4][256];
uint32_t mk_tab[4][256];
std::once_flag g_once;
int g_builds = 0;

// Which q each column of h passes through at each stage: stage 0 is the
// one applied first for a 256-bit key, stage 4 the one right before the
// MDS matrix.
constexpr int kQOrder[4][5] = {
    {1, 1, 0, 0, 1},
    {0, 1, 1, 0, 0},
    {0, 0, 0, 1, 1},
    {1, 0, 1, 1, 0},
};

void gen_tables() {
    for (int x = 0; x < 256; x++) {
        q_tab[0][x] = q_perm(kQt[0], uint8_t(x));
        q_tab[1][x] = q_perm(kQt[1], uint8_t(x));
    }
    for (int j = 0; j < 4; j++)
        for (int x = 0; x < 256; x++) {
            uint32_t col = 0;
            for (int i = 0; i < 4; i++) col |= uint32_t(gf_mul(kMds[i][j], uint8_t(x), 0x169)) << (8 * i);
            m_tab[j][x] = col;
        }
    for (int j = 0; j < 4; j++)
        for (int x = 0; x < 256; x++) mk_tab[j][x] = m_tab[j][q_tab[kQOrder[j][4]][x]];
    g_builds++;
}

inline uint8_t byte_of(uint32_t w, int i) { return uint8_t(w >> (8 * i)); }

// h of the algorithm: the byte x through the q stages of column j with the
// key words l[0..k-1] XORed in between, then the MDS column (mk_tab holds
// the last q stage).
inline uint32_t h_col(int j, uint8_t x, const uint32_t *l, int k) {
    const int *q = kQOrder[j];
    if (k == 4) x = q_tab[q[0]][x] ^ byte_of(l[3], j);
    if (k >= 3) x = q_tab[q[1]][x] ^ byte_of(l[2], j);
    x = q_tab[q[2]][x] ^ byte_of(l[1], j);
    x = q_tab[q[3]][x] ^ byte_of(l[0], j);
    return mk_tab[j][x];
}

uint32_t h_fun(uint32_t x, const uint32_t *l, int k) {
    return h_col(0, byte_of(x, 0), l, k) ^ h_col(1, byte_of(x, 1), l, k) ^ h_col(2, byte_of(x, 2), l, k) ^
           h_col(3, byte_of(x, 3), l, k);
}

// The vector S_i = RS . (8 key bytes) as a word, first product in the low byte.
uint32_t rs_word(const unsigned char *m) {
    uint32_t r = 0;
    for (int i = 0; i < 4; i++) {
        uint8_t v = 0;
        for (int c = 0; c < 8; c++) v ^= gf_mul(kRs[i][c], m[c], 0x14D);
        r |= uint32_t(v) << (8 * i);
    }
    return r;
}

inline uint32_t g_fun(const TwfSchedule *s, uint32_t x) {
    return s->sbox[0][byte_of(x, 0)] ^ s->sbox[1][byte_of(x, 1)] ^ s->sbox[2][byte_of(x, 2)] ^
           s->sbox[3][byte_of(x, 3)];
}

}  // namespace

int twofish_table_builds() { return g_builds; }

int TWFInit(void *schedule, const unsigned char *key, int32_t len) {
    if (!schedule || !key || (len != 16 && len != 24 && len != 32)) return 0;
    std::call_once(g_once, gen_tables);
    TwfSchedule *s = static_cast<TwfSchedule *>(schedule);
    const int k = len / 8;
    s->klen = uint32_t(k);
    uint32_t me[4], mo[4], sv[4];
    for (int i = 0; i < k; i++) {
        me[i] = le::get32(key + 8 * i);
        mo[i] = le::get32(key + 8 * i + 4);
        // S is used in reverse order: S_{k-1} is the first key word of g.
        sv[k - 1 - i] = rs_word(key + 8 * i);
    }
    const uint32_t rho = 0x01010101;
    for (int i = 0; i < 20; i++) {
        uint32_t a = h_fun(2 * i * rho, me, k);
        uint32_t b = std::rotl(h_fun((2 * i + 1) * rho, mo, k), 8);
        s->k[2 * i] = a + b;
        s->k[2 * i + 1] = std::rotl(a + 2 * b, 9);
    }
    for (int j = 0; j < 4; j++)
        for (int x = 0; x < 256; x++) s->sbox[j][x] = h_col(j, uint8_t(x), sv, k);
    secure_zero(me, sizeof me);
    secure_zero(mo, sizeof mo);
    secure_zero(sv, sizeof sv);
    return 1;
}

void TWFEncrypt(void *schedule, const uint32_t *in, uint32_t *out) {
    const TwfSchedule *s = static_cast<const TwfSchedule *>(schedule);
    uint32_t r0 = in[0] ^ s->k[0], r1 = in[1] ^ s->k[1], r2 = in[2] ^ s->k[2], r3 = in[3] ^ s->k[3];
    for (int r = 0; r < 16; r += 2) {
        uint32_t t0 = g_fun(s, r0), t1 = g_fun(s, std::rotl(r1, 8));
        r2 = std::rotr(r2 ^ (t0 + t1 + s->k[2 * r + 8]), 1);
        r3 = std::rotl(r3, 1) ^ (t0 + 2 * t1 + s->k[2 * r + 9]);
        t0 = g_fun(s, r2);
        t1 = g_fun(s, std::rotl(r3, 8));
        r0 = std::rotr(r0 ^ (t0 + t1 + s->k[2 * r + 10]), 1);
        r1 = std::rotl(r1, 1) ^ (t0 + 2 * t1 + s->k[2 * r + 11]);
    }
    out[0] = r2 ^ s->k[4];
    out[1] = r3 ^ s->k[5];
    out[2] = r0 ^ s->k[6];
    out[3] = r1 ^ s->k[7];
}

void TWFDecrypt(void *schedule, const uint32_t *in, uint32_t *out) {
    const TwfSchedule *s = static_cast<const TwfSchedule *>(schedule);
    uint32_t r2 = in[0] ^ s->k[4], r3 = in[1] ^ s->k[5], r0 = in[2] ^ s->k[6], r1 = in[3] ^ s->k[7];
    for (int r = 14; r >= 0; r -= 2) {
        uint32_t t0 = g_fun(s, r2), t1 = g_fun(s, std::rotl(r3, 8));
        r0 = std::rotl(r0, 1) ^ (t0 + t1 + s->k[2 * r + 10]);
        r1 = std::rotr(r1 ^ (t0 + 2 * t1 + s->k[2 * r + 11]), 1);
        t0 = g_fun(s, r0);
        t1 = g_fun(s, std::rotl(r1, 8));
        r2 = std::rotl(r2, 1) ^ (t0 + t1 + s->k[2 * r + 8]);
        r3 = std::rotr(r3 ^ (t0 + 2 * t1 + s->k[2 * r + 9]), 1);
    }
    out[0] = r0 ^ s->k[0];
    out[1] = r1 ^ s->k[1];
    out[2] = r2 ^ s->k[2];
    out[3] = r3 ^ s->k[3];
}

}  // namespace zv

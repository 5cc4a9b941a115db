// Rijndael with 128-bit blocks: RIJ, whose key and data words come first
// byte most significant, and AES, which takes key and block bytes in the
// order of FIPS-197. One set of rounds serves both.
//
// A state word is a column, row 0 in its least significant byte. RIJ uses
// the words it is given as those columns, so RIJ(K, P) = R(AES(R(K), R(P)))
// where R reverses the bytes of every 4-byte group; AES forms the columns
// from its bytes (little-endian). Rounds are table-driven: ft is the
// S-box followed by the column (2, 1, 1, 3) of MixColumns, it the inverse
// S-box followed by the column (14, 9, 13, 11) of InvMixColumns, the other
// three columns come by rotating. Decryption is the equivalent inverse
// cipher (round keys passed through InvMixColumns). The tables are derived
// at compile time from GF(2^8) and copied into every schedule by gen_tabs.
#include <array>
#include <bit>
#include <cstring>

#include "engine/core/bytes.h"
#include "engine/crypto/ciphers.h"
#include "engine/crypto/wipe.h"

namespace zv {

namespace {

// Product in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
constexpr uint8_t gmul(uint8_t a, uint8_t b) {
    unsigned r = 0, x = a;
    for (; b; b >>= 1) {
        if (b & 1) r ^= x;
        x <<= 1;
        if (x & 0x100) x ^= 0x11B;
    }
    return uint8_t(r);
}

struct Tables {
    uint8_t sbox[256];
    uint8_t isbox[256];
    uint32_t ft[256];
    uint32_t it[256];
};

constexpr uint32_t column(uint8_t r0, uint8_t r1, uint8_t r2, uint8_t r3) {
    return uint32_t(r0) | uint32_t(r1) << 8 | uint32_t(r2) << 16 | uint32_t(r3) << 24;
}

constexpr Tables make_tables() {
    Tables t{};
    for (int x = 0; x < 256; x++) {
        // Multiplicative inverse (0 for 0), then the affine transform.
        uint8_t inv = 0;
        for (int y = 1; y < 256 && x; y++)
            if (gmul(uint8_t(x), uint8_t(y)) == 1) {
                inv = uint8_t(y);
                break;
            }
        unsigned b = inv, s = inv;
        for (int i = 1; i <= 4; i++) s ^= ((b << i) | (b >> (8 - i))) & 0xFF;
        t.sbox[x] = uint8_t(s ^ 0x63);
    }
    for (int x = 0; x < 256; x++) t.isbox[t.sbox[x]] = uint8_t(x);
    for (int x = 0; x < 256; x++) {
        uint8_t s = t.sbox[x], i = t.isbox[x];
        t.ft[x] = column(gmul(s, 2), s, s, gmul(s, 3));
        t.it[x] = column(gmul(i, 14), gmul(i, 9), gmul(i, 13), gmul(i, 11));
    }
    return t;
}

constexpr Tables kTab = make_tables();
static_assert(kTab.sbox[0] == 0x63 && kTab.sbox[0x53] == 0xED && kTab.isbox[0x63] == 0);

// The round tables into a schedule.
void gen_tabs(RijSchedule *s) {
    memcpy(s->sbox, kTab.sbox, sizeof s->sbox);
    memcpy(s->isbox, kTab.isbox, sizeof s->isbox);
    memcpy(s->ft, kTab.ft, sizeof s->ft);
    memcpy(s->it, kTab.it, sizeof s->it);
}

inline uint8_t b(uint32_t w, int i) { return uint8_t(w >> (8 * i)); }

inline uint32_t sub_word(const RijSchedule *s, uint32_t w) {
    return column(s->sbox[b(w, 0)], s->sbox[b(w, 1)], s->sbox[b(w, 2)], s->sbox[b(w, 3)]);
}

// Key expansion from nk (4, 6 or 8) column words, with the tables.
void expand(RijSchedule *s, const uint32_t *key, int nk) {
    gen_tabs(s);
    s->nr = uint32_t(nk + 6);
    const int total = 4 * (nk + 7);
    uint8_t rc = 1;
    for (int i = 0; i < nk; i++) s->ek[i] = key[i];
    for (int i = nk; i < total; i++) {
        uint32_t t = s->ek[i - 1];
        if (i % nk == 0) {
            t = sub_word(s, std::rotr(t, 8)) ^ rc;
            rc = gmul(rc, 2);
        } else if (nk > 6 && i % nk == 4) {
            t = sub_word(s, t);
        }
        s->ek[i] = s->ek[i - nk] ^ t;
    }
    const int nr = nk + 6;
    for (int c = 0; c < 4; c++) {
        s->dk[c] = s->ek[4 * nr + c];
        s->dk[4 * nr + c] = s->ek[c];
    }
    for (int r = 1; r < nr; r++)
        for (int c = 0; c < 4; c++) {
            uint32_t w = s->ek[4 * (nr - r) + c];
            s->dk[4 * r + c] = s->it[s->sbox[b(w, 0)]] ^ std::rotl(s->it[s->sbox[b(w, 1)]], 8) ^
                               std::rotl(s->it[s->sbox[b(w, 2)]], 16) ^ std::rotl(s->it[s->sbox[b(w, 3)]], 24);
        }
}

// The rounds of either direction: round table `tab` and last-round box
// `box`. Row r of output column c comes from input column (c + D * r) mod 4:
// D = 1 is ShiftRows (encryption), D = 3 InvShiftRows (decryption).
template <int D>
void rounds(const uint32_t *rk, int nr, const uint32_t *tab, const uint8_t *box, const uint32_t in[4],
            uint32_t out[4]) {
    uint32_t s[4], t[4];
    for (int c = 0; c < 4; c++) s[c] = in[c] ^ rk[c];
    for (int r = 1; r < nr; r++) {
        rk += 4;
#pragma GCC unroll 4
        for (int c = 0; c < 4; c++)
            t[c] = tab[b(s[c], 0)] ^ std::rotl(tab[b(s[(c + D) & 3], 1)], 8) ^
                   std::rotl(tab[b(s[(c + 2 * D) & 3], 2)], 16) ^ std::rotl(tab[b(s[(c + 3 * D) & 3], 3)], 24) ^ rk[c];
#pragma GCC unroll 4
        for (int c = 0; c < 4; c++) s[c] = t[c];
    }
    rk += 4;
#pragma GCC unroll 4
    for (int c = 0; c < 4; c++)
        out[c] = column(box[b(s[c], 0)], box[b(s[(c + D) & 3], 1)], box[b(s[(c + 2 * D) & 3], 2)],
                        box[b(s[(c + 3 * D) & 3], 3)]) ^
                 rk[c];
}

void encrypt_cols(const RijSchedule *s, const uint32_t in[4], uint32_t out[4]) {
    rounds<1>(s->ek, int(s->nr), s->ft, s->sbox, in, out);
}

void decrypt_cols(const RijSchedule *s, const uint32_t in[4], uint32_t out[4]) {
    rounds<3>(s->dk, int(s->nr), s->it, s->isbox, in, out);
}

// Key words from key bytes, first byte least (AES) or most (RIJ) significant.
int init_from(void *schedule, const unsigned char *key, int32_t len, bool fips_order) {
    if (!schedule || !key || (len != 16 && len != 24 && len != 32)) return 0;
    uint32_t w[8];
    const int nk = len / 4;
    for (int i = 0; i < nk; i++) w[i] = fips_order ? le::get32(key + 4 * i) : be::get32(key + 4 * i);
    expand(static_cast<RijSchedule *>(schedule), w, nk);
    secure_zero(w, sizeof w);
    return 1;
}

// Columns of a block given as its bytes in memory.
inline void load_bytes(const void *in, uint32_t cols[4]) {
    const unsigned char *p = static_cast<const unsigned char *>(in);
    for (int c = 0; c < 4; c++) cols[c] = le::get32(p + 4 * c);
}

inline void store_bytes(const uint32_t cols[4], void *out) {
    unsigned char *p = static_cast<unsigned char *>(out);
    for (int c = 0; c < 4; c++) le::put32(p + 4 * c, cols[c]);
}

}  // namespace

int RIJInit(void *schedule, const unsigned char *key, int32_t len) { return init_from(schedule, key, len, false); }

void RIJEncrypt(void *schedule, const uint32_t *in, uint32_t *out) {
    uint32_t t[4];
    encrypt_cols(static_cast<const RijSchedule *>(schedule), in, t);
    memcpy(out, t, sizeof t);
}

void RIJDecrypt(void *schedule, const uint32_t *in, uint32_t *out) {
    uint32_t t[4];
    decrypt_cols(static_cast<const RijSchedule *>(schedule), in, t);
    memcpy(out, t, sizeof t);
}

int AESInit(void *schedule, const unsigned char *key, int32_t len) { return init_from(schedule, key, len, true); }

void AESEncrypt(void *schedule, const uint32_t *in, uint32_t *out) {
    uint32_t c[4];
    load_bytes(in, c);
    encrypt_cols(static_cast<const RijSchedule *>(schedule), c, c);
    store_bytes(c, out);
}

void AESDecrypt(void *schedule, const uint32_t *in, uint32_t *out) {
    uint32_t c[4];
    load_bytes(in, c);
    decrypt_cols(static_cast<const RijSchedule *>(schedule), c, c);
    store_bytes(c, out);
}

void aes_encrypt_bytes(RijSchedule *s, const unsigned char in[16], unsigned char out[16]) {
    uint32_t c[4];
    load_bytes(in, c);
    encrypt_cols(s, c, c);
    store_bytes(c, out);
}

}  // namespace zv

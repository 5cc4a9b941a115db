// Segment transforms.
//
// The B-tree compares keys as unsigned bytes and never interprets them, so
// every key segment is turned, once it has been copied out of the record,
// into bytes whose byte order is the value order of the field. The SEGMODE
// word of the segment selects the transform: its base (mode AND 0x10F) says
// what the bytes are, its modifier bits add descending order, an alternate
// collating sequence, end-segment order, Unicode collation or an extended
// definition. Schema segments (bases 12 to 15) take their base from the
// type of their field.
//
// Design notes:
//  1. Integers and floats are held in the record in the host's byte order.
//     With the profile bit (userprof 0x20) set, they are byte-reversed first
//     so that a little-endian field becomes most significant byte first;
//     with it clear the record's bytes are taken as they stand.
//  2. A float segment is inverted once when exactly one of "descending" and
//     "negative" holds: negative floats sort by falling magnitude, and a
//     descending index reverses the whole order.
//  3. A negative mode-10 decimal has its exponent and digits inverted, so
//     that -5 sorts below -1. Zero gets the lowest positive key.
//  4. Nothing here allocates; a transform works in place on the segment.
#include "engine/core/bytes.h"
#include "engine/index/segmode.h"

#include <cstring>

#include "engine/core/instance.h"
#include "zarvo/zarvo.h"

extern "C" {
const int32_t zvkindkey[35] = {
    0, 0,      // 0..15 boolean
    8,         // 16..23 ZV_CHAR
    0,         // 24..31 ZV_CHARU
    8, 1,      // ZV_INT2, ZV_INT2U
    8, 1,      // ZV_INT4, ZV_INT4U
    8,         // ZV_MONEY
    1, 1,      // 4-byte date, ZV_TIME
    9, 9,      // ZV_SFLOAT, ZV_DFLOAT
    11,        // ZV_NUMBER
    9,         // ZV_EFLOAT
    1,         // ZV_TIMES
    0,         // ZV_ARRAY
    8,         // ZV_CURRENCY
    0, 0, 0, 0,         // 144..175 fixed and variable strings
    128, 128, 128, 128, // 176..207 wide-character strings
    0, 0,      // 208..223
    8,         // 224..231 8-byte signed integer
    1,         // 232..239 8-byte unsigned integer
    0, 0, 0, 0, 0,      // 240..279
};
const int32_t zvkindkeyxtd[3] = {1, 1, 0};  // ZV_TIMES_MS, ZV_TIME_MS, ZV_JSON
}

namespace zv {

namespace {


bool profile_reverse() {
    const INSTGV *g = zvWNGV;
    return g && (g->userprof & kProfReverse);
}

void reverse(unsigned char *p, int32_t n) {
    // The integer widths in one step each.
    if (n == 4) {
        uint32_t v;
        memcpy(&v, p, 4);
        v = __builtin_bswap32(v);
        memcpy(p, &v, 4);
        return;
    }
    if (n == 8) {
        uint64_t v;
        memcpy(&v, p, 8);
        v = __builtin_bswap64(v);
        memcpy(p, &v, 8);
        return;
    }
    for (int32_t i = 0, j = n - 1; i < j; i++, j--) {
        unsigned char t = p[i];
        p[i] = p[j];
        p[j] = t;
    }
}

void invert(unsigned char *p, int32_t n) {
    for (int32_t i = 0; i < n; i++) p[i] = uint8_t(~p[i]);
}

void upper(unsigned char *p, int32_t n) {
    for (int32_t i = 0; i < n; i++) p[i] = ucase(p[i]);
}

// Packed decimal, sign in the high nibble of the first byte (0 positive).
void packed_forward(unsigned char *p, int32_t n) {
    if ((p[0] & 0xF0) == 0) {
        p[0] = uint8_t(0xF0 | (p[0] & 0x0F));
        return;
    }
    for (int32_t i = 0; i < n; i++) p[i] = uint8_t(0x99 - p[i]);
    p[0] &= 0x0F;
}

// Mode 10: a 10-byte decimal (sign byte, exponent byte, 16 BCD digits).
constexpr int kDecLen = 10;

bool digits_zero(const unsigned char *d) {
    for (int i = 2; i < kDecLen; i++)
        if (d[i]) return false;
    return true;
}

void decimal_forward(unsigned char *p) {
    unsigned char d[kDecLen];
    memcpy(d, p, kDecLen);
    bool negative = d[0] != 0;
    if (digits_zero(d)) {
        // Zero, whatever its sign and exponent: below every positive key.
        memset(p, 0, kDecLen);
        p[0] = 1;
        return;
    }
    int zeros = 0;
    for (int n = 15; n >= 0 && nd_dig(d + 2, n) == 0; n--) zeros++;
    // The exponent is a signed byte: the shift stops at its lowest value.
    int room = int(int8_t(d[1])) + 128;
    lshift(d, zeros < room ? zeros : room);
    p[0] = negative ? 0 : 1;
    p[1] = uint8_t(d[1] ^ 0x80);
    for (int i = 0; i < 8; i++) p[2 + i] = d[9 - i];
    if (negative) invert(p + 1, kDecLen - 1);
}

void decimal_reverse(unsigned char *p) {
    unsigned char k[kDecLen];
    memcpy(k, p, kDecLen);
    bool negative = k[0] == 0;
    if (!negative && k[1] == 0 && digits_zero(k)) {
        memset(p, 0, kDecLen);
        p[1] = 0x80;
        return;
    }
    if (negative) invert(k + 1, kDecLen - 1);
    p[0] = negative ? 1 : 0;
    p[1] = uint8_t(k[1] ^ 0x80);
    for (int i = 0; i < 8; i++) p[2 + i] = k[9 - i];
}

// Mode 11: text with a 2-byte length prefix moved to the front.
void prefixed_forward(unsigned char *p, int32_t n) {
    uint16_t l = host::get16(p);
    if (l > n - 2) {
        memmove(p, p + 2, size_t(n - 2));
        p[n - 2] = p[n - 1] = 0;
    } else {
        memmove(p, p + 2, l);
        memset(p + l, 0, size_t(n - l));
    }
}

void end_segment(unsigned char *p, int32_t n, unsigned char pad) {
    int32_t run = 0;
    while (run < n && (p[n - 1 - run] == pad || p[n - 1 - run] == 0)) run++;
    if (run > 0 && run < n) {
        memmove(p + run, p, size_t(n - run));
        memset(p, pad, size_t(run));
    } else if (run == n) {
        memset(p, pad, size_t(n));
    }
    reverse(p, n);
}

// Resolves a schema base mode through its field's type: 0, 199 or 433.
// *base becomes the mapped mode and *up tells whether text is upper-cased.
int resolve_schema(uint32_t fld, int *base, bool *up, const unsigned char *schema) {
    if (!schema) return 199;
    SchemaField e;
    if (int rc = schema_field(schema, fld, &e)) return rc;
    int mapped = zvkindof(e.type);
    *up = mapped == 0 && (*base == 13 || *base == 15);
    *base = mapped;
    return 0;
}

}  // namespace

int zvkindof(int type) {
    if (type < 0) return 0;
    if (type >= 240 && type <= 256) return zvkindkey[18];
    if (type >= 257 && type <= 259) return zvkindkeyxtd[type - 257];
    if (type > 259) return 0;
    return zvkindkey[type >> 3];
}

int nd_dig(const unsigned char *digits, int n) {
    unsigned char b = digits[n / 2];
    return (n & 1) ? b >> 4 : b & 0x0F;
}

void nd_digenc(unsigned char *digits, int n, int value) {
    unsigned char &b = digits[n / 2];
    if (n & 1) b = uint8_t((b & 0x0F) | (value & 0x0F) << 4);
    else b = uint8_t((b & 0xF0) | (value & 0x0F));
}

void lshift(unsigned char *decimal, int k) {
    if (k <= 0) return;
    unsigned char *d = decimal + 2;
    for (int n = 15; n >= 0; n--) nd_digenc(d, n, n - k >= 0 ? nd_dig(d, n - k) : 0);
    decimal[1] = uint8_t(decimal[1] - k);
}

int izvtseg(uint32_t fld, int mode, int32_t len, unsigned char *seg, const uint16_t *altseq,
            const unsigned char *schema) {
    if (!seg || len < 1) return 528;
    bool flip = false;  // the float inversion of a negative value
    if (mode & (kSegUnicode | kSegXtd)) {
        if (mode & kSegAltSeq) return 446;
        if (mode & kSegUnicode) return 694;
    } else {
        int base = mode & kSegBaseMask;
        bool up = false;
        if (base >= 12 && base <= 15) {
            if (int rc = resolve_schema(fld, &base, &up, schema)) return rc;
            if (up) upper(seg, len);
        }
        switch (base) {
        case 0: case 4: case 7:
            break;
        case 1: case 3: case 257:
            if (profile_reverse()) reverse(seg, len);
            break;
        case 2: case 5:
            upper(seg, len);
            break;
        case 6:
            packed_forward(seg, len);
            break;
        case 8:
            if (profile_reverse()) reverse(seg, len);
            seg[0] ^= 0x80;
            break;
        case 9:
            if (profile_reverse()) reverse(seg, len);
            if (seg[0] < 0x80) seg[0] |= 0x80;
            else flip = true;
            break;
        case 10:
            if (len != kDecLen) return 528;
            decimal_forward(seg);
            break;
        case 11:
            if (len < 3) return 528;
            prefixed_forward(seg, len);
            break;
        case 256:
            memset(seg, 0, size_t(len));
            seg[0] = 'D';
            break;
        default:
            return 446;
        }
    }
    if (mode & kSegEndSeg) end_segment(seg, len, uint8_t(schema_pad(schema)));
    if ((mode & kSegAltSeq) && altseq)
        for (int32_t i = 0; i < len; i++) seg[i] = uint8_t(altseq[seg[i]]);
    if (bool(mode & kSegDesc) != flip) invert(seg, len);
    return 0;
}

int izvuseg(uint32_t fld, int mode, int32_t len, unsigned char *seg, const uint16_t *,
            const unsigned char *schema) {
    if (!seg || len < 1) return 528;
    if (mode & kSegUnicode) return 694;
    if (mode & kSegXtd) return 446;
    int base = mode & kSegBaseMask;
    if (base >= 12 && base <= 15) {
        bool up = false;
        if (int rc = resolve_schema(fld, &base, &up, schema)) return rc;
    }
    switch (base) {
    case 0: case 1: case 2: case 3: case 4: case 5: case 8: case 9: case 10: case 257:
        break;
    default:
        return 446;
    }
    if (base == 10 && len != kDecLen) return 528;
    if (mode & kSegDesc) invert(seg, len);
    if (mode & kSegEndSeg) reverse(seg, len);
    switch (base) {
    case 1: case 3: case 257:
        if (profile_reverse()) reverse(seg, len);
        break;
    case 8:
        seg[0] ^= 0x80;
        if (profile_reverse()) reverse(seg, len);
        break;
    case 9:
        if (seg[0] & 0x80) seg[0] &= 0x7F;
        else invert(seg, len);
        if (profile_reverse()) reverse(seg, len);
        break;
    case 10:
        decimal_reverse(seg);
        break;
    default:
        break;
    }
    return 0;
}

int zvfillseg(unsigned char *seg, int fill, int32_t len, int mode) {
    static const unsigned char kMax4[4] = {0xFF, 0x7F, 0xFF, 0xEE};
    static const unsigned char kMin4[4] = {0x00, 0x80, 0x00, 0x11};
    static const unsigned char kMax8[8] = {0xFF, 0xEF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    static const unsigned char kMin8[8] = {0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    if (!seg || len < 1) return 0;
    if ((mode & kSegBaseMask) == 9 && (len == 4 || len == 8)) {
        if (len == 4) memcpy(seg, fill ? kMax4 : kMin4, 4);
        else memcpy(seg, fill ? kMax8 : kMin8, 8);
        return 0;
    }
    memset(seg, fill, size_t(len));
    return 0;
}

}  // namespace zv

extern "C" {

ZV_API int zvtseg(uint32_t field, int mode, int32_t len, void *seg, const void *altseq, const void *schema) {
    int rc = zv::izvtseg(field, mode, len, static_cast<unsigned char *>(seg),
                         static_cast<const uint16_t *>(altseq), static_cast<const unsigned char *>(schema));
    if (rc) zv::set_uerr(rc);
    return rc;
}

ZV_API int zvuseg(uint32_t field, int mode, int32_t len, void *seg, const void *altseq, const void *schema) {
    int rc = zv::izvuseg(field, mode, len, static_cast<unsigned char *>(seg),
                         static_cast<const uint16_t *>(altseq), static_cast<const unsigned char *>(schema));
    if (rc) zv::set_uerr(rc);
    return rc;
}

}  // extern "C"

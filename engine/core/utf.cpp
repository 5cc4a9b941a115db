// UTF-8, UTF-16 and 32-bit wide text, wide-field fill and the ISAM error.
//
// The engine keeps Unicode text fields as UTF-16 code units in host order.
// Its 32-bit wide text carries UTF-16 code units too, so a character above
// U+FFFF may appear there as two 32-bit units holding a surrogate pair.
//
// The six converters share one contract: they consume the source and fill
// the target unit by unit, never write a partial sequence, and on return
// leave both pointers just after the last unit consumed and produced, so a
// caller can resume after "target full". Results: 0 done, 1 the source ends
// inside a UTF-8 sequence (its pointer stays on the lead byte), 2 the target
// is full (the source pointer stays before the unit that did not fit). They
// do not validate beyond that: stray continuation bytes and 5- and 6-byte
// forms decode as they sum.
#include <cstring>

#include "engine/core/instance.h"

extern "C" {

const unsigned char bytesFromUTF8[256] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};

const uint32_t offsetsFromUTF8[6] = {0x00000000u, 0x00003080u, 0x000E2080u,
                                     0x03C82080u, 0xFA082080u, 0x82082080u};

const unsigned char firstByteMark[7] = {0x00, 0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};

}  // extern "C"

namespace {

constexpr uint32_t kReplacement = 0xFFFD;
constexpr uint32_t kHighFirst = 0xD800, kHighLast = 0xDBFF;
constexpr uint32_t kLowFirst = 0xDC00, kLowLast = 0xDFFF;

enum : int { kOk = 0, kSourceExhausted = 1, kTargetFull = 2 };

bool is_high(uint32_t u) { return u >= kHighFirst && u <= kHighLast; }
bool is_low(uint32_t u) { return u >= kLowFirst && u <= kLowLast; }

uint32_t combine(uint32_t hi, uint32_t lo) {
    return ((hi - kHighFirst) << 10) + (lo - kLowFirst) + 0x10000;
}

// Decodes the UTF-8 sequence at s. Returns kSourceExhausted when it does not
// end before `end`; otherwise stores the value and its length.
int decode_utf8(const unsigned char *s, const unsigned char *end, uint32_t *v, int *len) {
    int extra = bytesFromUTF8[*s];
    if (end - s - 1 < extra) return kSourceExhausted;
    uint32_t ch = 0;
    for (int i = 0; i <= extra; i++) {
        if (i) ch <<= 6;
        ch += s[i];
    }
    *v = ch - offsetsFromUTF8[extra];
    *len = extra + 1;
    return kOk;
}

// Writes v as UTF-16-style units (a pair above U+FFFF, U+FFFD above
// U+10FFFF) into [*d, end). kTargetFull when they do not all fit.
template <class Unit>
int put_utf16_units(uint32_t v, Unit **d, Unit *end) {
    if (v > 0x10FFFF) v = kReplacement;
    if (v < 0x10000) {
        if (*d >= end) return kTargetFull;
        *(*d)++ = static_cast<Unit>(v);
        return kOk;
    }
    if (end - *d < 2) return kTargetFull;
    v -= 0x10000;
    *(*d)++ = static_cast<Unit>((v >> 10) + kHighFirst);
    *(*d)++ = static_cast<Unit>((v & 0x3FF) + kLowFirst);
    return kOk;
}

// Bytes of the UTF-8 form of v (values with the top bit set are U+FFFD).
int utf8_length(uint32_t v) {
    if (v < 0x80) return 1;
    if (v < 0x800) return 2;
    if (v < 0x10000) return 3;
    if (v < 0x200000) return 4;
    if (v < 0x4000000) return 5;
    if (v < 0x80000000u) return 6;
    return 3;
}

// Writes v in UTF-8 when all its bytes fit in [*d, end).
int put_utf8(uint32_t v, unsigned char **d, unsigned char *end) {
    if (v >= 0x80000000u) v = kReplacement;
    int len = utf8_length(v);
    if (end - *d < len) return kTargetFull;
    unsigned char *p = *d + len;
    for (int i = len - 1; i > 0; i--) {
        *--p = static_cast<unsigned char>((v & 0x3F) | 0x80);
        v >>= 6;
    }
    *--p = static_cast<unsigned char>(v | firstByteMark[len]);
    *d += len;
    return kOk;
}

template <class Unit>
int utf8_to_units(const unsigned char **src, const unsigned char *srcend, Unit **dst,
                  Unit *dstend) {
    const unsigned char *s = *src;
    Unit *d = *dst;
    int rc = kOk;
    while (s < srcend) {
        uint32_t v;
        int len;
        rc = decode_utf8(s, srcend, &v, &len);
        if (rc != kOk) break;
        rc = put_utf16_units(v, &d, dstend);
        if (rc != kOk) break;
        s += len;
    }
    *src = s;
    *dst = d;
    return rc;
}

// UTF-8 from UTF-16-style units: a high surrogate followed by a low one in
// the next unit is one character.
template <class Unit>
int units_to_utf8(const Unit **src, const Unit *srcend, unsigned char **dst,
                  unsigned char *dstend) {
    const Unit *s = *src;
    unsigned char *d = *dst;
    int rc = kOk;
    while (s < srcend) {
        uint32_t v = s[0];
        int used = 1;
        if (is_high(v) && s + 1 < srcend && is_low(s[1])) {
            v = combine(v, s[1]);
            used = 2;
        }
        rc = put_utf8(v, &d, dstend);
        if (rc != kOk) break;
        s += used;
    }
    *src = s;
    *dst = d;
    return rc;
}

// Result of a converter as a wrapper code.
int wrapper_code(int rc) { return rc == kTargetFull ? 153 : rc == kSourceExhausted ? 446 : 0; }

}  // namespace

extern "C" {

ZV_API int zvConvertUTF8toUTF16(const unsigned char **src, const unsigned char *srcend,
                                uint16_t **dst, uint16_t *dstend) {
    if (!src || !*src || !dst || !*dst) return kOk;
    return utf8_to_units(src, srcend, dst, dstend);
}

ZV_API int zvConvertUTF8toUCS4(const unsigned char **src, const unsigned char *srcend,
                               uint32_t **dst, uint32_t *dstend) {
    if (!src || !*src || !dst || !*dst) return kOk;
    return utf8_to_units(src, srcend, dst, dstend);
}

ZV_API int zvConvertUTF16toUTF8(const uint16_t **src, const uint16_t *srcend,
                                unsigned char **dst, unsigned char *dstend) {
    if (!src || !*src || !dst || !*dst) return kOk;
    return units_to_utf8(src, srcend, dst, dstend);
}

ZV_API int zvConvertUCS4toUTF8(const uint32_t **src, const uint32_t *srcend,
                               unsigned char **dst, unsigned char *dstend) {
    if (!src || !*src || !dst || !*dst) return kOk;
    return units_to_utf8(src, srcend, dst, dstend);
}

ZV_API int zvConvertUCS4toUTF16(const uint32_t **src, const uint32_t *srcend,
                                uint16_t **dst, uint16_t *dstend) {
    if (!src || !*src || !dst || !*dst) return kOk;
    const uint32_t *s = *src;
    uint16_t *d = *dst;
    int rc = kOk;
    while (s < srcend) {
        rc = put_utf16_units(*s, &d, dstend);
        if (rc != kOk) break;
        s++;
    }
    *src = s;
    *dst = d;
    return rc;
}

ZV_API int zvConvertUTF16toUCS4(const uint16_t **src, const uint16_t *srcend,
                                uint32_t **dst, uint32_t *dstend) {
    if (!src || !*src || !dst || !*dst) return kOk;
    const uint16_t *s = *src;
    uint32_t *d = *dst;
    int rc = kOk;
    while (s < srcend) {
        if (d >= dstend) {
            rc = kTargetFull;
            break;
        }
        uint32_t v = s[0];
        int used = 1;
        if (is_high(v) && s + 1 < srcend && is_low(s[1])) {
            v = combine(v, s[1]);
            used = 2;
        }
        *d++ = v;
        s += used;
    }
    *src = s;
    *dst = d;
    return rc;
}

ZV_API int zvu8TOu16(const char *src, uint16_t *dst, int32_t dstsize) {
    if (!src || !dst) return 540;
    if (dstsize < 0) dstsize = 0;
    auto *s = reinterpret_cast<const unsigned char *>(src);
    const unsigned char *send = s + strlen(src) + 1;
    uint16_t *d = dst;
    return wrapper_code(zvConvertUTF8toUTF16(&s, send, &d, dst + dstsize / 2));
}

ZV_API int zvu8TOu16S(const char *src, int32_t srclen, uint16_t *dst, int32_t dstsize) {
    if (!src || !dst) return 540;
    if (dstsize < 0) dstsize = 0;
    size_t n = srclen < 0 ? strlen(src) + 1 : static_cast<size_t>(srclen);
    auto *s = reinterpret_cast<const unsigned char *>(src);
    uint16_t *d = dst;
    uint16_t *dend = dst + dstsize / 2;
    int rc = wrapper_code(zvConvertUTF8toUTF16(&s, s + n, &d, dend));
    if (rc) return rc;
    if (d > dst && d[-1] != 0) {
        if (d >= dend) return 446;
        *d = 0;
    }
    return 0;
}

ZV_API int zvu16TOu8(const uint16_t *src, char *dst, int32_t dstsize) {
    if (!src || !dst) return 540;
    if (dstsize < 0) dstsize = 0;
    const uint16_t *send = src;
    while (*send) send++;
    send++;  // the terminator unit is converted too
    const uint16_t *s = src;
    auto *d = reinterpret_cast<unsigned char *>(dst);
    return wrapper_code(zvConvertUTF16toUTF8(&s, send, &d, d + dstsize));
}

// Counts byte pairs, so the text may lie at any address.
ZV_API int32_t zvua_wcstrlen(const void *text) {
    if (!text) return 0;
    auto *p = static_cast<const unsigned char *>(text);
    int32_t n = 0;
    while (p[0] || p[1]) {
        p += 2;
        n++;
    }
    return 2 * n;
}

ZV_API int32_t zv_ucs2strlen(const uint32_t *text) {
    if (!text) return 0;
    int32_t n = 0;
    while (text[n]) n++;
    return n;
}

ZV_API int zvMBprefix(char *out, int n) {
    static const char kPrefixes[5][8] = {{0, 0, 0, 0, 0, 0, 0, 0},
                                         {'&', '&', 'A', 'S', 'C', 'I', 'I', '&'},
                                         {'&', '&', 'U', 'T', 'F', '0', '8', '&'},
                                         {'&', '&', 'U', 'T', 'F', '1', '6', '&'},
                                         {'&', '&', 'U', 'T', 'F', '3', '2', '&'}};
    if (n < 0 || n > 4) return 446;
    if (!out) return 540;
    memcpy(out, kPrefixes[n], 8);
    return 0;
}

ZV_API void ufill(void *target, uint16_t unit, int32_t len) {
    if (!target || len <= 0) return;
    unsigned char u[2];
    memcpy(u, &unit, 2);
    auto *p = static_cast<unsigned char *>(target);
    int32_t i = 0;
    for (; i + 1 < len; i += 2) {
        p[i] = u[0];
        p[i + 1] = u[1];
    }
    if (i < len) p[i] = u[0];
}

ZV_API uint32_t padrecu(void *target, int32_t size, const void *source, int32_t fieldlen,
                        int32_t srclen, int pad, const void *srcend) {
    if (!target || !source || fieldlen < 0 || size < fieldlen) return 0xFFFFFFFFu;
    int64_t n;
    if (srcend) {
        n = srclen < fieldlen ? srclen : fieldlen;
        int64_t avail = static_cast<const unsigned char *>(srcend) -
                        static_cast<const unsigned char *>(source);
        if (n > avail) n = avail;
        if (n < 0) n = 0;
    } else {
        n = int64_t{zvua_wcstrlen(source)} + 2;
        if (n > fieldlen) n = fieldlen;
    }
    auto *t = static_cast<unsigned char *>(target);
    memmove(t, source, static_cast<size_t>(n));
    // An odd copy gets a zero byte so that the fill starts on a unit; the
    // byte is written only inside the field.
    if ((n & 1) && n < fieldlen) t[n++] = 0;
    const unsigned char unit_bytes[2] = {0, static_cast<unsigned char>(pad)};
    uint16_t unit;
    memcpy(&unit, unit_bytes, 2);
    ufill(t + n, unit, static_cast<int32_t>(fieldlen - n));
    return static_cast<uint32_t>(fieldlen);
}

ZV_API int ierr(int code, int filno) {
    if (zvWNGV) {
        zvWNGV->isamerr_cod = static_cast<uint16_t>(code);
        zvWNGV->isamfil_num = static_cast<uint16_t>(filno);
    }
    return code;
}

}  // extern "C"

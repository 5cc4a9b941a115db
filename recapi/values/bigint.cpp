// Big-integer values: conversions of signed and unsigned 64-bit integers to
// and from 32-bit integers, decimal text and doubles.
//
// Parsing is lenient: leading blanks, an optional sign, then digits up to the
// first non-digit; the accumulation wraps modulo 2^64 (no overflow test).
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "recapi/values/valtext.h"
#include "zarvo/zvdb.h"

namespace zv {

ZVDBRET put_text(const char *text, size_t len, char *buffer, int32_t size) {
    if (!buffer) return ZVDB_NULL_ARGUMENT;
    if (size < 1 || len >= size_t(size)) return ZVDB_BUFFER_SMALL;
    std::memcpy(buffer, text, len + 1);
    return 0;
}

size_t u64_text(uint64_t magnitude, bool negative, char *scratch) {
    // Digits from the least significant end, then the sign, then reversed.
    size_t n = 0;
    do {
        scratch[n++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (negative) scratch[n++] = '-';
    scratch[n] = '\0';
    for (size_t i = 0, j = n - 1; i < j; i++, j--) {
        char c = scratch[i];
        scratch[i] = scratch[j];
        scratch[j] = c;
    }
    return n;
}

const char *skip_blanks(const char *p) {
    while (std::isspace(static_cast<unsigned char>(*p))) p++;
    return p;
}

uint64_t scan_digits(const char *p) {
    uint64_t v = 0;
    while (*p >= '0' && *p <= '9') v = v * 10 + uint64_t(*p++ - '0');
    return v;
}

}  // namespace zv

namespace {

// "%f" of the largest double has 316 characters.
constexpr size_t kFloatText = 400;

}  // namespace

extern "C" {

ZV_API ZVDBRET zvdbBigIntToLong(ZVBIGINT value, int32_t *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    if (value > INT32_MAX) return ZVDB_OVERFLOW;
    if (value < INT32_MIN) return ZVDB_UNDERFLOW;
    *out = int32_t(value);
    return 0;
}

ZV_API ZVDBRET zvdbBigIntToULong(ZVBIGINT value, uint32_t *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    if (value > int64_t(UINT32_MAX)) return ZVDB_OVERFLOW;
    *out = uint32_t(uint64_t(value));
    return 0;
}

ZV_API ZVDBRET zvdbUnsignedBigIntToLong(ZVUBIGINT value, int32_t *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    if (value > uint64_t(INT32_MAX)) return ZVDB_OVERFLOW;
    *out = int32_t(value);
    return 0;
}

ZV_API ZVDBRET zvdbLongToBigInt(int32_t value, ZVBIGINT *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    *out = value;
    return 0;
}

ZV_API ZVDBRET zvdbULongToBigInt(uint32_t value, ZVBIGINT *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    *out = value;
    return 0;
}

ZV_API ZVDBRET zvdbLongToUnsignedBigInt(int32_t value, ZVUBIGINT *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    *out = uint64_t(int64_t(value));
    return 0;
}

ZV_API ZVDBRET zvdbULongToUnsignedBigInt(uint32_t value, ZVUBIGINT *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    *out = value;
    return 0;
}

ZV_API ZVDBRET zvdbBigIntToString(ZVBIGINT value, char *buffer, int32_t size) {
    char scratch[32];
    uint64_t magnitude = value < 0 ? 0 - uint64_t(value) : uint64_t(value);
    size_t n = zv::u64_text(magnitude, value < 0, scratch);
    return zv::put_text(scratch, n, buffer, size);
}

ZV_API ZVDBRET zvdbUnsignedBigIntToString(ZVUBIGINT value, char *buffer, int32_t size) {
    char scratch[32];
    size_t n = zv::u64_text(value, false, scratch);
    return zv::put_text(scratch, n, buffer, size);
}

ZV_API ZVDBRET zvdbBigIntToFloat(ZVBIGINT value, double *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    char text[128];
    ZVDBRET rc = zvdbBigIntToString(value, text, sizeof text);
    if (rc) return rc;
    *out = std::strtod(text, nullptr);
    return 0;
}

ZV_API ZVDBRET zvdbUnsignedBigIntToFloat(ZVUBIGINT value, double *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    char text[128];
    ZVDBRET rc = zvdbUnsignedBigIntToString(value, text, sizeof text);
    if (rc) return rc;
    *out = std::strtod(text, nullptr);
    return 0;
}

ZV_API ZVDBRET zvdbStringToBigInt(const char *text, ZVBIGINT *out) {
    if (!text || !out) return ZVDB_NULL_ARGUMENT;
    const char *p = zv::skip_blanks(text);
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') p++;
    uint64_t v = zv::scan_digits(p);
    *out = int64_t(negative ? 0 - v : v);
    return 0;
}

ZV_API ZVDBRET zvdbStringToUnsignedBigInt(const char *text, ZVUBIGINT *out) {
    if (!text || !out) return ZVDB_NULL_ARGUMENT;
    const char *p = zv::skip_blanks(text);
    if (*p == '-') return ZVDB_BAD_ARGUMENT;
    if (*p == '+') p++;
    *out = zv::scan_digits(p);
    return 0;
}

ZV_API ZVDBRET zvdbFloatToBigInt(double value, ZVBIGINT *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    char text[kFloatText];
    std::snprintf(text, sizeof text, "%f", value);
    return zvdbStringToBigInt(text, out);
}

ZV_API ZVDBRET zvdbFloatToUnsignedBigInt(double value, ZVUBIGINT *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    char text[kFloatText];
    std::snprintf(text, sizeof text, "%f", value);
    return zvdbStringToUnsignedBigInt(text, out);
}

}  // extern "C"

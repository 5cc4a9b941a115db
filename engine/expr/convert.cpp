// Conversions of evaluation values from one value kind to another.
//
// Rules kept here:
//  1. A NULL value converts to nothing: 16, with the output zeroed.
//  2. A DATE, TIME or TIMEMS made by a conversion that does not unpack
//     into a valid date or time becomes 0 without an error; so does a
//     STAMP whose date or time part fails the checks. A value already of
//     the asked kind is taken as it is.
//  3. TIME and TIMEMS convert into each other by their units (seconds and
//     milliseconds), so a TIME field compares with a quoted time.
//  4. A text is read from at most its first 255 bytes; integers read from
//     a text must fit 32 bits (4038 otherwise), as atoi reads them.
//  5. A NUMBER gives an integer, a DATE, a TIME or a TIMEMS through its
//     integer part, which is 0 when it does not fit 64 bits signed.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/expr/eval.h"
#include "zarvo/zvdb.h"

namespace zv {

namespace {

constexpr int kOverflow = 4038;  // ZVDB_OVERFLOW
constexpr int32_t kTextRead = 255;

// The first 255 bytes of a TEXT value, NUL-terminated.
struct Cstr {
    char s[kTextRead + 1];
    explicit Cstr(const PTVALUE &v) {
        uint32_t n = v.v.text ? v.length : 0;
        if (n > uint32_t(kTextRead)) n = kTextRead;
        if (n) memcpy(s, v.v.text, n);
        s[n] = 0;
    }
};

// The ZVDATE day number of the date-time epoch (30 December 1899).
int64_t stamp_epoch() {
    static const int64_t epoch = [] {
        ZVDATE d = 0;
        zvdbDatePack(&d, 1899, 12, 30);
        return int64_t(d);
    }();
    return epoch;
}

bool stamp_valid(double s) {
    if (s == 0.0) return true;
    int y;
    return zvdbDateTimeUnpackMsec(s, &y, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) == 0;
}

uint32_t checked_date(uint32_t d) { return date_valid(d) ? d : 0; }
uint32_t checked_time(int64_t t) { return t >= 0 && t <= 0xFFFFFFFF && time_valid(uint32_t(t)) ? uint32_t(t) : 0; }
uint32_t checked_timems(int64_t t) {
    return t >= 0 && t <= 0xFFFFFFFF && timems_valid(uint32_t(t)) ? uint32_t(t) : 0;
}
double checked_stamp(double s) { return stamp_valid(s) ? s : 0.0; }

// The integer part of a NUMBER, truncated toward zero; 0 when it does not
// fit a signed 64-bit integer or the bytes hold no number. It is read from
// the normalised magnitude (its first E base-100 digits lie before the
// point) and not through the number's text, whose 64-bit parse wraps
// silently.
int64_t number_integer(const tagZVNUMBER &n) {
    tagZVNUMBER m;
    if (zvdbNumberAbs(&n, &m)) return 0;
    // A positive exponent byte is 0x80 + (E + 64); 100^10 passes 2^64.
    const int e = int(m.exponent & 0x7F) - 64;
    if (e > 10) return 0;
    const int ndigits = m.length - 1;
    uint64_t mag = 0;
    for (int i = 0; i < e; i++) {
        const unsigned d = i < ndigits ? m.digits[i] : 0;
        if (mag > (UINT64_MAX - d) / 100) return 0;
        mag = mag * 100 + d;
    }
    // The sign is bit 7 of the exponent byte (clear: negative); a byte of 0
    // is a fresh positive value.
    const bool neg = n.exponent != 0 && !(n.exponent & 0x80);
    const uint64_t limit = neg ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
    if (mag > limit) return 0;
    return neg ? int64_t(0 - mag) : int64_t(mag);
}

double number_double(const tagZVNUMBER &n) {
    double d = 0;
    return zvdbNumberToFloat(&n, &d) ? 0.0 : d;
}

int text_double(const PTVALUE &v, double *out) {
    Cstr c(v);
    errno = 0;
    char *end = nullptr;
    double d = strtod(c.s, &end);
    if (errno == ERANGE && std::isinf(d)) return kOverflow;
    *out = d;
    return 0;
}

int text_number(const PTVALUE &v, tagZVNUMBER *out) {
    Cstr c(v);
    return zvdbStringToNumber(c.s, out);
}

// Copies a NUL-terminated text into a buffer of size bytes (at least 1),
// cut to size - 1 bytes; the length copied in *len.
int put_text(char *buffer, int32_t size, int32_t *len, const char *text) {
    size_t n = strlen(text);
    if (n > size_t(size - 1)) n = size_t(size - 1);
    memcpy(buffer, text, n);
    buffer[n] = 0;
    *len = int32_t(n);
    return 0;
}

}  // namespace

bool date_valid(uint32_t date) {
    int y, m, d;
    return date == 0 || zvdbDateUnpack(date, &y, &m, &d) == 0;
}
bool time_valid(uint32_t seconds) { return seconds < 86400; }
bool timems_valid(uint32_t ms) { return ms < 86400000; }

double date_to_stamp(uint32_t date) { return date ? double(int64_t(date) - stamp_epoch()) : 0.0; }

int text_to_int(const unsigned char *p, int64_t len, int64_t *out) {
    *out = 0;
    if (!p || len <= 0) return 0;
    if (len > kTextRead) len = kTextRead;
    int64_t i = 0;
    while (i < len && (p[i] == ' ' || (p[i] >= '\t' && p[i] <= '\r'))) i++;
    bool neg = false;
    if (i < len && (p[i] == '+' || p[i] == '-')) neg = p[i++] == '-';
    int64_t v = 0;
    for (; i < len && p[i] >= '0' && p[i] <= '9'; i++) {
        v = v * 10 + (p[i] - '0');
        if (v > int64_t(INT32_MAX) + 1) return kOverflow;
    }
    if (neg) v = -v;
    if (v > INT32_MAX || v < INT32_MIN) return kOverflow;
    *out = v;
    return 0;
}

int ExtractInteger(const PTVALUE &v, int64_t *out) {
    *out = 0;
    switch (v.kind) {
    case PT_NULL: return kExprNull;
    case PT_INTEGER: *out = v.v.integer; return 0;
    case PT_DATE: case PT_TIME: case PT_TIMEMS: *out = v.v.u32; return 0;
    case PT_STAMP: {
        double d = v.v.stamp;
        // NaN and values outside 64 bits have no integer.
        *out = (d >= -9223372036854775808.0 && d < 9223372036854775808.0) ? int64_t(d) : INT32_MIN;
        return 0;
    }
    case PT_NUMBER: *out = number_integer(v.v.number); return 0;
    case PT_TEXT: return text_to_int(v.v.text, v.length, out);
    default: return kExprKind;
    }
}

int ExtractFloat(const PTVALUE &v, double *out) {
    *out = 0;
    switch (v.kind) {
    case PT_NULL: return kExprNull;
    case PT_INTEGER: *out = double(v.v.integer); return 0;
    case PT_DATE: case PT_TIME: case PT_TIMEMS: *out = v.v.u32; return 0;
    case PT_STAMP: *out = v.v.stamp; return 0;
    case PT_NUMBER: *out = number_double(v.v.number); return 0;
    case PT_TEXT: return text_double(v, out);
    default: return kExprKind;
    }
}

int ExtractDate(const PTVALUE &v, uint32_t *out) {
    *out = 0;
    switch (v.kind) {
    case PT_NULL: return kExprNull;
    case PT_DATE: *out = v.v.u32; return 0;
    case PT_INTEGER: *out = checked_date(uint32_t(v.v.integer)); return 0;
    case PT_TIME: case PT_TIMEMS: *out = checked_date(v.v.u32); return 0;
    case PT_STAMP: {
        ZVDATE d = 0;
        *out = v.v.stamp != 0.0 && zvdbDateTimeGetDate(v.v.stamp, &d) == 0 ? d : 0;
        return 0;
    }
    case PT_NUMBER: *out = checked_date(uint32_t(number_integer(v.v.number))); return 0;
    case PT_TEXT: {
        Cstr c(v);
        ZVDATE d = 0;
        if (int rc = zvdbStringToDate(c.s, 1, &d)) return rc;
        *out = checked_date(d);
        return 0;
    }
    default: return kExprKind;
    }
}

int ExtractTime(const PTVALUE &v, uint32_t *out) {
    *out = 0;
    switch (v.kind) {
    case PT_NULL: return kExprNull;
    case PT_TIME: *out = v.v.u32; return 0;
    case PT_TIMEMS: *out = checked_time(v.v.u32 / 1000); return 0;
    case PT_INTEGER: *out = checked_time(uint32_t(v.v.integer)); return 0;
    case PT_DATE: *out = checked_time(v.v.u32); return 0;
    case PT_STAMP: {
        ZVTIME t = 0;
        *out = v.v.stamp != 0.0 && zvdbDateTimeGetTime(v.v.stamp, &t) == 0 ? t : 0;
        return 0;
    }
    case PT_NUMBER: *out = checked_time(uint32_t(number_integer(v.v.number))); return 0;
    case PT_TEXT: {
        Cstr c(v);
        ZVTIME t = 0;
        if (int rc = zvdbStringToTime(c.s, 3, &t)) return rc;
        *out = checked_time(t);
        return 0;
    }
    default: return kExprKind;
    }
}

int ExtractTimeMsec(const PTVALUE &v, uint32_t *out) {
    *out = 0;
    switch (v.kind) {
    case PT_NULL: return kExprNull;
    case PT_TIMEMS: *out = v.v.u32; return 0;
    case PT_TIME: *out = checked_timems(int64_t(v.v.u32) * 1000); return 0;
    case PT_INTEGER: *out = checked_timems(uint32_t(v.v.integer)); return 0;
    case PT_DATE: *out = checked_timems(v.v.u32); return 0;
    case PT_STAMP: {
        ZVTIME t = 0;
        *out = v.v.stamp != 0.0 && zvdbDateTimeGetTimeMsec(v.v.stamp, &t) == 0 ? t : 0;
        return 0;
    }
    case PT_NUMBER: *out = checked_timems(uint32_t(number_integer(v.v.number))); return 0;
    case PT_TEXT: {
        Cstr c(v);
        ZVTIME t = 0;
        if (int rc = zvdbStringToTimeMsec(c.s, 10, &t)) return rc;
        *out = checked_timems(t);
        return 0;
    }
    default: return kExprKind;
    }
}

int ExtractStamp(const PTVALUE &v, double *out) {
    *out = 0;
    switch (v.kind) {
    case PT_NULL: return kExprNull;
    case PT_STAMP: *out = v.v.stamp; return 0;
    case PT_INTEGER: *out = checked_stamp(date_to_stamp(uint32_t(v.v.integer))); return 0;
    case PT_DATE: *out = checked_stamp(date_to_stamp(v.v.u32)); return 0;
    case PT_TIME: *out = checked_stamp(v.v.u32 / 86400.0); return 0;
    case PT_TIMEMS: *out = checked_stamp(v.v.u32 / 86400000.0); return 0;
    case PT_NUMBER: *out = checked_stamp(number_double(v.v.number)); return 0;
    case PT_TEXT: {
        tagZVNUMBER n;
        if (int rc = text_number(v, &n)) return rc;
        *out = checked_stamp(number_double(n));
        return 0;
    }
    default: return kExprKind;
    }
}

int ExtractNumber(const PTVALUE &v, tagZVNUMBER *out) {
    zvdbNumberZero(out);
    switch (v.kind) {
    case PT_NULL: return kExprNull;
    case PT_NUMBER: *out = v.v.number; return 0;
    case PT_INTEGER: zvdbBigIntToNumber(v.v.integer, out); return 0;
    case PT_DATE: case PT_TIME: case PT_TIMEMS: zvdbBigIntToNumber(v.v.u32, out); return 0;
    case PT_STAMP:
        if (zvdbFloatToNumber(v.v.stamp, out)) zvdbNumberZero(out);
        return 0;
    case PT_TEXT: {
        int rc = text_number(v, out);
        if (rc) zvdbNumberZero(out);
        return rc;
    }
    default: return kExprKind;
    }
}

int ExtractString(const PTVALUE &v, char *buffer, int32_t *len) {
    const int32_t size = *len;
    if (size < 1) return kExprKind;
    buffer[0] = 0;
    *len = 0;
    // Text forms are made whole, then cut to the buffer.
    char form[96];
    switch (v.kind) {
    case PT_NULL: return kExprNull;
    case PT_INTEGER:
        snprintf(form, sizeof form, "%lld", static_cast<long long>(v.v.integer));
        return put_text(buffer, size, len, form);
    case PT_DATE:
        return put_text(buffer, size, len, zvdbDateToString(v.v.u32, 1, form, sizeof form) ? "0" : form);
    case PT_TIME: case PT_TIMEMS: {
        uint32_t t = v.kind == PT_TIMEMS ? v.v.u32 / 1000 : v.v.u32;
        return put_text(buffer, size, len, zvdbTimeToString(t, 3, form, sizeof form) ? "0" : form);
    }
    case PT_STAMP:
        return put_text(buffer, size, len, zvdbDateTimeToString(v.v.stamp, 1, 3, form, sizeof form) ? "0" : form);
    case PT_NUMBER:
        return put_text(buffer, size, len, zvdbNumberToString(&v.v.number, form, sizeof form) ? "0.0" : form);
    case PT_TEXT: {
        uint32_t n = v.v.text ? v.length : 0;
        if (n > uint32_t(size - 1)) n = uint32_t(size - 1);
        if (n) memcpy(buffer, v.v.text, n);
        buffer[n] = 0;
        *len = int32_t(n);
        return 0;
    }
    default: return kExprKind;
    }
}

int TextOf::take(const PTVALUE &v) {
    if (v.kind == PT_TEXT) {
        p = v.v.text;
        len = p ? v.length : 0;
        binary = v.textflag != 0;
        return 0;
    }
    int32_t n = int32_t(sizeof buf);
    int rc = ExtractString(v, buf, &n);
    p = reinterpret_cast<const unsigned char *>(buf);
    len = rc ? 0 : n;
    binary = false;
    return rc;
}

int extract_as(int kind, const PTVALUE &v, PTVALUE *out, char *buffer, int32_t len) {
    memset(out, 0, sizeof *out);
    out->kind = uint32_t(kind);
    switch (kind) {
    case PT_INTEGER: return ExtractInteger(v, &out->v.integer);
    case PT_DATE: return ExtractDate(v, &out->v.u32);
    case PT_TIME: return ExtractTime(v, &out->v.u32);
    case PT_TIMEMS: return ExtractTimeMsec(v, &out->v.u32);
    case PT_STAMP: return ExtractStamp(v, &out->v.stamp);
    case PT_NUMBER: return ExtractNumber(v, &out->v.number);
    case PT_TEXT: {
        if (!buffer || len < 1) return kExprKind;
        int32_t n = len;
        int rc = ExtractString(v, buffer, &n);
        out->v.text = reinterpret_cast<unsigned char *>(buffer);
        out->length = uint32_t(n);
        out->borrowed = 1;
        return rc;
    }
    default: return kExprKind;
    }
}

}  // namespace zv

// Money and currency values.
//
// Money (ZVMONEY) is a signed 32-bit count of hundredths, currency
// (ZVCURRENCY) a signed 64-bit count of ten-thousandths. Quotients and
// remainders are those of truncating division. Products and quotients are
// formed in wider arithmetic and refused with 4038/4039 when they leave the
// type; sums and differences wrap. A failing routine writes nothing.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "recapi/values/valtext.h"
#include "zarvo/zvdb.h"

namespace {

using i128 = __int128;

constexpr int64_t kMoneyScanLimit = 21474835;
constexpr int64_t kCurrencyScanLimit = 922337203685476;

ZVDBRET range_code(i128 v, i128 lo, i128 hi) {
    if (v > hi) return ZVDB_OVERFLOW;
    if (v < lo) return ZVDB_UNDERFLOW;
    return 0;
}

// Magnitude of a signed value as unsigned (the smallest value included).
uint64_t magnitude(int64_t v) { return v < 0 ? 0 - uint64_t(v) : uint64_t(v); }

// Long division of magnitudes, one decimal place per step after the first:
// the quotient truncated toward zero at `places` decimals.
i128 long_divide(uint64_t x, uint64_t y, int places) {
    i128 acc = 0;
    i128 weight = 1;
    for (int i = 0; i < places; i++) weight *= 10;
    i128 rem = x;
    for (int i = 0; i <= places; i++) {
        i128 q = rem / y;
        acc += q * weight;
        rem = (rem - q * y) * 10;
        weight /= 10;
    }
    return acc;
}

// The fixed-point scan shared by money and currency: blanks, "-" then "+",
// integer digits (stopped with 4038 when a further digit would follow a value
// above limit), "." and `places` decimal places. Sets the signed result in
// units of 10^-places.
ZVDBRET scan_fixed(const char *text, int64_t limit, int places, i128 *result) {
    const char *p = zv::skip_blanks(text);
    bool negative = false;
    if (*p == '-') {
        negative = true;
        p++;
    }
    if (*p == '+') p++;
    int64_t whole = 0;
    for (; *p >= '0' && *p <= '9'; p++) {
        if (whole > limit) return ZVDB_OVERFLOW;
        whole = whole * 10 + (*p - '0');
    }
    int64_t frac = 0;
    if (*p == '.') {
        p++;
        bool reading = true;
        for (int i = 0; i < places; i++) {
            int digit = 0;
            if (reading && *p >= '0' && *p <= '9') digit = *p++ - '0';
            else reading = false;
            frac = frac * 10 + digit;
        }
    }
    i128 scale = 1;
    for (int i = 0; i < places; i++) scale *= 10;
    i128 v = i128(whole) * scale + frac;
    *result = negative ? -v : v;
    return 0;
}

}  // namespace

extern "C" {

// ---- Money --------------------------------------------------------------

ZV_API ZVDBRET zvdbMoneyToLong(ZVMONEY m, int32_t *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    *out = m / 100;
    return 0;
}

ZV_API ZVDBRET zvdbLongToMoney(int32_t l, ZVMONEY *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    if (magnitude(l) > 21474836) return ZVDB_OVERFLOW;
    *out = l * 100;
    return 0;
}

ZV_API ZVDBRET zvdbMoneyToFloat(ZVMONEY m, double *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    *out = m / 100.0;
    return 0;
}

ZV_API ZVDBRET zvdbFloatToMoney(double d, ZVMONEY *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    if (std::isnan(d)) return ZVDB_BAD_NUMBER;
    double t = d >= 0 ? d * 100 + 0.5 : d * 100 - 0.5;
    if (std::fabs(t) > 2147483647.0) return ZVDB_OVERFLOW;
    *out = ZVMONEY(t);
    return 0;
}

ZV_API ZVDBRET zvdbMoneyToString(ZVMONEY m, char *buffer, int32_t size) {
    char text[32];
    uint32_t mag = uint32_t(magnitude(m));
    int n = std::snprintf(text, sizeof text, "%s%u.%02u", m < 0 ? "-" : "", mag / 100, mag % 100);
    return zv::put_text(text, size_t(n), buffer, size);
}

ZV_API ZVDBRET zvdbStringToMoney(const char *text, ZVMONEY *out) {
    if (!text) {
        if (out) *out = 0;
        return ZVDB_NULL_ARGUMENT;
    }
    if (!out) return ZVDB_NULL_ARGUMENT;
    i128 v;
    ZVDBRET rc = scan_fixed(text, kMoneyScanLimit, 2, &v);
    if (rc) return rc;
    if (v > INT32_MAX || v < INT32_MIN) return ZVDB_OVERFLOW;
    *out = ZVMONEY(v);
    return 0;
}

ZV_API ZVDBRET zvdbMoneyAdd(ZVMONEY a, ZVMONEY b, ZVMONEY *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    *out = ZVMONEY(uint32_t(a) + uint32_t(b));
    return 0;
}

ZV_API ZVDBRET zvdbMoneySub(ZVMONEY a, ZVMONEY b, ZVMONEY *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    *out = ZVMONEY(uint32_t(a) - uint32_t(b));
    return 0;
}

ZV_API ZVDBRET zvdbMoneyMul(ZVMONEY a, ZVMONEY b, ZVMONEY *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    int64_t p = int64_t(magnitude(a) * magnitude(b) / 100);
    if ((a < 0) != (b < 0)) p = -p;
    ZVDBRET rc = range_code(p, INT32_MIN, INT32_MAX);
    if (rc) return rc;
    *out = ZVMONEY(p);
    return 0;
}

ZV_API ZVDBRET zvdbMoneyDiv(ZVMONEY a, ZVMONEY b, ZVMONEY *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    if (b == 0) return ZVDB_DIVIDE_BY_ZERO;
    i128 q = long_divide(magnitude(a), magnitude(b), 2);
    if ((a < 0) != (b < 0)) q = -q;
    ZVDBRET rc = range_code(q, INT32_MIN, INT32_MAX);
    if (rc) return rc;
    *out = ZVMONEY(q);
    return 0;
}

ZV_API int zvdbMoneyCmp(ZVMONEY a, ZVMONEY b) { return (a > b) - (a < b); }

ZV_API ZVMONEY zvdbMoneyAbs(ZVMONEY m) { return ZVMONEY(uint32_t(magnitude(m))); }

ZV_API ZVDBRET zvdbMoneyToCurrency(ZVMONEY m, ZVCURRENCY *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    *out = int64_t(m) * 100;
    return 0;
}

ZV_API ZVDBRET zvdbCurrencyToMoney(ZVCURRENCY c, ZVMONEY *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    if (c >= 214748364800) return ZVDB_OVERFLOW;
    if (c < -214748364799) return ZVDB_UNDERFLOW;
    *out = ZVMONEY(c / 100);
    return 0;
}

// ---- Currency -----------------------------------------------------------

ZV_API ZVDBRET zvdbCurrencyToLong(ZVCURRENCY c, int32_t *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    *out = int32_t(uint32_t(uint64_t(c / 10000)));
    return 0;
}

ZV_API ZVDBRET zvdbLongToCurrency(int32_t l, ZVCURRENCY *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    *out = int64_t(l) * 10000;
    return 0;
}

ZV_API ZVDBRET zvdbCurrencyToBigInt(ZVCURRENCY c, ZVBIGINT *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    *out = c / 10000;
    return 0;
}

ZV_API ZVDBRET zvdbCurrencyToUnsignedBigInt(ZVCURRENCY c, ZVUBIGINT *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    *out = uint64_t(c / 10000);
    return 0;
}

ZV_API ZVDBRET zvdbBigIntToCurrency(ZVBIGINT v, ZVCURRENCY *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    *out = int64_t(uint64_t(v) * 10000);
    return 0;
}

ZV_API ZVDBRET zvdbUnsignedBigIntToCurrency(ZVUBIGINT v, ZVCURRENCY *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    *out = int64_t(v * 10000);
    return 0;
}

ZV_API ZVDBRET zvdbCurrencyToFloat(ZVCURRENCY c, double *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    *out = double(c) / 10000.0;
    return 0;
}

ZV_API ZVDBRET zvdbFloatToCurrency(double d, ZVCURRENCY *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    if (std::isnan(d)) return ZVDB_BAD_NUMBER;
    double t = d >= 0 ? d * 10000 + 0.5 : d * 10000 - 0.5;
    // 2^63 is exact as a double; anything from there up does not convert.
    if (t >= 9223372036854775808.0) return ZVDB_OVERFLOW;
    if (t < -9223372036854775808.0) return ZVDB_UNDERFLOW;
    *out = ZVCURRENCY(t);
    return 0;
}

ZV_API ZVDBRET zvdbCurrencyToString(ZVCURRENCY c, char *buffer, int32_t size) {
    // Digits from the least significant end: four decimals, a ".", then at
    // least one integer digit, then the sign.
    char rev[32];
    size_t n = 0;
    uint64_t mag = magnitude(c);
    for (int i = 0; i < 4; i++) {
        rev[n++] = char('0' + mag % 10);
        mag /= 10;
    }
    rev[n++] = '.';
    do {
        rev[n++] = char('0' + mag % 10);
        mag /= 10;
    } while (mag);
    if (c < 0) rev[n++] = '-';
    char text[32];
    for (size_t i = 0; i < n; i++) text[i] = rev[n - 1 - i];
    text[n] = '\0';
    return zv::put_text(text, n, buffer, size);
}

ZV_API ZVDBRET zvdbStringToCurrency(const char *text, ZVCURRENCY *out) {
    if (!text || !out) return ZVDB_NULL_ARGUMENT;
    i128 v;
    ZVDBRET rc = scan_fixed(text, kCurrencyScanLimit, 4, &v);
    if (rc) return rc;
    if (v > INT64_MAX || v < INT64_MIN) return ZVDB_OVERFLOW;
    *out = ZVCURRENCY(v);
    return 0;
}

ZV_API ZVDBRET zvdbCurrencyAdd(ZVCURRENCY a, ZVCURRENCY b, ZVCURRENCY *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    *out = int64_t(uint64_t(a) + uint64_t(b));
    return 0;
}

ZV_API ZVDBRET zvdbCurrencySub(ZVCURRENCY a, ZVCURRENCY b, ZVCURRENCY *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    *out = int64_t(uint64_t(a) - uint64_t(b));
    return 0;
}

ZV_API ZVDBRET zvdbCurrencyMul(ZVCURRENCY a, ZVCURRENCY b, ZVCURRENCY *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    // Units and fractions separately; the fraction product is cut at four
    // decimals. Every term carries the sign of the product, so the sum is
    // the exact product truncated toward zero.
    int64_t qa = a / 10000, ra = a % 10000, qb = b / 10000, rb = b % 10000;
    i128 p = i128(qa) * qb * 10000 + i128(qa) * rb + i128(qb) * ra + (ra * rb) / 10000;
    ZVDBRET rc = range_code(p, INT64_MIN, INT64_MAX);
    if (rc) return rc;
    *out = ZVCURRENCY(p);
    return 0;
}

ZV_API ZVDBRET zvdbCurrencyDiv(ZVCURRENCY a, ZVCURRENCY b, ZVCURRENCY *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    if (b == 0) return ZVDB_DIVIDE_BY_ZERO;
    i128 q = long_divide(magnitude(a), magnitude(b), 4);
    if ((a < 0) != (b < 0)) q = -q;
    ZVDBRET rc = range_code(q, INT64_MIN, INT64_MAX);
    if (rc) return rc;
    *out = ZVCURRENCY(q);
    return 0;
}

ZV_API int zvdbCurrencyCmp(ZVCURRENCY a, ZVCURRENCY b) { return (a > b) - (a < b); }

ZV_API ZVCURRENCY zvdbCurrencyAbs(ZVCURRENCY c) { return ZVCURRENCY(magnitude(c)); }

ZV_API ZVDBRET zvdbCurrencyRound(ZVCURRENCY *pc, int32_t n) {
    if (!pc) return ZVDB_NULL_ARGUMENT;
    if (n < 0) return ZVDB_BAD_DECIMALS;
    if (n > 3) return 0;
    static const int64_t divisor[4] = {10000, 1000, 100, 10};
    *pc = (*pc / divisor[n]) * divisor[n];
    return 0;
}

}  // extern "C"

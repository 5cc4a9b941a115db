// Number values: the stored 20-byte decimal, its normalisation, negation,
// comparison, text forms and conversions to and from the other value types.
//
// Stored image (see zvdb.h): length, sign/exponent byte, up to 16 base-100
// digits, spare byte. A positive number's exponent byte is 0xC0 + E, a
// negative number's is its bitwise complement 63 - E, and a negative number's
// digits are the base-100 complement of its magnitude (99 - d for all digits
// but the last, 100 - d for the last), so that nonzero normalised numbers
// order as unsigned byte strings from byte 2. Zero (0xC1, 00) is the one
// exception to that order: it sorts above the positive numbers below 1.
//
// Invariants of a normalised image: 2 <= length <= 17; no leading zero digit
// of the magnitude except in zero; no trailing zero digit; bytes past the
// length are 0; -63 <= E <= 62. Every producer ends with mag_store, which
// enforces them and refuses an exponent out of range (4038 / 4039).
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "recapi/values/number.h"
#include "recapi/values/valtext.h"

namespace {

// Longest plain text of a decoded number: sign, "0.", 2 x 65 zeros and 32
// digits, or 128 integer digits.
constexpr int kPlainText = 256;
// Characters collected by the text parser before it gives up.
constexpr int kMaxCollected = 128;

}  // namespace

namespace zv {

void mag_zero(NumMag *m) {
    std::memset(m, 0, sizeof *m);
    m->exp = 1;
    m->n = 1;
}

void mag_from_digits(bool neg, int exp, const uint8_t *digits, int count, NumMag *out) {
    int i = 0;
    while (i < count && digits[i] == 0) {
        i++;
        exp--;
    }
    if (i == count) {
        mag_zero(out);
        return;
    }
    int n = count - i < kNumDigits ? count - i : kNumDigits;
    while (n > 1 && digits[i + n - 1] == 0) n--;
    std::memset(out, 0, sizeof *out);
    out->neg = neg;
    out->exp = exp;
    out->n = n;
    std::memcpy(out->d, digits + i, size_t(n));
}

void mag_from_decimal(bool neg, const char *chars, int len, long p, NumMag *out) {
    while (len > 0 && *chars == '0') {
        chars++;
        len--;
        p--;
    }
    if (len == 0) {
        mag_zero(out);
        return;
    }
    // Keep the exponent far outside the usable range but free of overflow.
    if (p > 100000) p = 100000;
    if (p < -100000) p = -100000;
    // Pairs are aligned on the decimal point: an odd decimal exponent puts a
    // leading zero in the first pair.
    uint8_t pairs[kNumDigits + 1] = {};
    int lead = (p % 2 != 0) ? 1 : 0;
    long exp = (p + lead) / 2;
    int npairs = 0;
    for (int k = 0; npairs < kNumDigits + 1; k += 2) {
        int hi_i = k - lead, lo_i = k + 1 - lead;
        if (hi_i >= len) break;
        int hi = hi_i >= 0 ? chars[hi_i] - '0' : 0;
        int lo = lo_i < len ? chars[lo_i] - '0' : 0;
        pairs[npairs++] = uint8_t(hi * 10 + lo);
    }
    mag_from_digits(neg, int(exp), pairs, npairs, out);
}

ZVDBRET number_decode(const tagZVNUMBER *num, NumMag *out) {
    int len = num->length;
    if (len > 17) len = 17;
    int n = len - 1;
    if (n < 1) {
        mag_zero(out);
        return 0;
    }
    uint8_t b = num->exponent;
    // An exponent byte of 0 is a fresh value: positive.
    bool neg = b != 0 && !(b & 0x80);
    if (!neg) {
        int exp = (b ? (b & 0x7F) : 0) - 64;
        for (int i = 0; i < n; i++)
            if (num->digits[i] > 99) return ZVDB_BAD_NUMBER;
        mag_from_digits(false, exp, num->digits, n, out);
        return 0;
    }
    // Magnitude = 100^n - C, C the stored digit string (its last byte may
    // be 100: a trailing zero digit of the magnitude).
    int exp = 63 - b;
    uint8_t m[kNumDigits + 1];
    int borrow = 0;
    for (int i = n - 1; i >= 0; i--) {
        int c = num->digits[i];
        if (c > (i == n - 1 ? 100 : 99)) return ZVDB_BAD_NUMBER;
        int v = -c - borrow;
        borrow = 0;
        if (v < 0) {
            v += 100;
            borrow = 1;
        }
        m[i + 1] = uint8_t(v);
    }
    m[0] = uint8_t(1 - borrow);
    mag_from_digits(true, exp + 1, m, n + 1, out);
    if (mag_is_zero(*out)) out->neg = false;
    return 0;
}

ZVDBRET mag_store(const NumMag &m, tagZVNUMBER *out) {
    tagZVNUMBER img;
    std::memset(&img, 0, sizeof img);
    if (mag_is_zero(m)) {
        img.length = 2;
        img.exponent = 0xC1;
        *out = img;
        return 0;
    }
    if (m.exp > kNumMaxExp) return ZVDB_OVERFLOW;
    if (m.exp < kNumMinExp) return ZVDB_UNDERFLOW;
    img.length = int16_t(m.n + 1);
    uint8_t pos = uint8_t(0xC0 + m.exp);
    if (!m.neg) {
        img.exponent = pos;
        std::memcpy(img.digits, m.d, size_t(m.n));
    } else {
        img.exponent = uint8_t(~pos);
        for (int i = 0; i < m.n - 1; i++) img.digits[i] = uint8_t(99 - m.d[i]);
        img.digits[m.n - 1] = uint8_t(100 - m.d[m.n - 1]);
    }
    *out = img;
    return 0;
}

int mag_cmp_abs(const NumMag &a, const NumMag &b) {
    bool za = mag_is_zero(a), zb = mag_is_zero(b);
    if (za || zb) return int(!za) - int(!zb);
    if (a.exp != b.exp) return a.exp < b.exp ? -1 : 1;
    int n = a.n > b.n ? a.n : b.n;
    for (int i = 0; i < n; i++) {
        int x = i < a.n ? a.d[i] : 0, y = i < b.n ? b.d[i] : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

int mag_decimal_chars(const NumMag &m, char *out) {
    for (int i = 0; i < m.n; i++) {
        out[2 * i] = char('0' + m.d[i] / 10);
        out[2 * i + 1] = char('0' + m.d[i] % 10);
    }
    return 2 * m.n;
}

int mag_fraction_digits(const NumMag &m) {
    int f = 2 * (m.n - m.exp);
    if (m.d[m.n - 1] % 10 == 0) f--;
    return f < 0 ? 0 : f;
}

}  // namespace zv

namespace {

using zv::NumMag;

// Plain decimal text: "-", integer digits without leading zeros ("0" when
// there are none), "." and the fraction digits without trailing zeros.
int plain_text(const NumMag &m, char *out) {
    char *p = out;
    if (m.neg) *p++ = '-';
    char digits[2 * zv::kNumDigits];
    int nd = zv::mag_decimal_chars(m, digits);
    // Decimal character i has the place 10^(2 exp - 1 - i).
    int intchars = 2 * m.exp;
    if (intchars <= 0) {
        *p++ = '0';
    } else {
        int first = (m.d[0] < 10) ? 1 : 0;
        for (int i = first; i < intchars; i++) *p++ = i < nd ? digits[i] : '0';
    }
    char *point = p;
    *p++ = '.';
    for (int i = intchars; i < 0; i++) *p++ = '0';
    for (int i = intchars > 0 ? intchars : 0; i < nd; i++) *p++ = digits[i];
    while (p > point + 1 && p[-1] == '0') p--;
    if (p == point + 1) p--;
    *p = '\0';
    return int(p - out);
}

// Decimal exponent of the first significant digit of a nonzero magnitude.
int decimal_exponent(const NumMag &m) { return 2 * m.exp - 1 - (m.d[0] < 10 ? 1 : 0); }

// The text forms used when the plain text does not fit size (>= 1).
void fallback_text(const NumMag &m, const char *plain, char *buffer, int32_t size) {
    if (size < 9) {
        std::memset(buffer, '*', size_t(size - 1));
        buffer[size - 1] = '\0';
        return;
    }
    int x = decimal_exponent(m);
    if (x == 0) {
        // Magnitude from 1 to below 10: the plain text cut.
        std::memcpy(buffer, plain, size_t(size - 1));
        buffer[size - 1] = '\0';
        return;
    }
    // Scientific form: the significant digits in order, as many as the room
    // left after the exponent's real width allows.
    char sig[kPlainText];
    int ns = 0;
    for (const char *q = plain; *q; q++) {
        if (*q < '0' || *q > '9') continue;
        if (ns == 0 && *q == '0') continue;
        sig[ns++] = *q;
    }
    int ax = x < 0 ? -x : x;
    int expdigits = ax >= 100 ? 3 : 2;
    int room = size - 3 - expdigits;
    char mant[kPlainText];
    int len = 0;
    if (m.neg) mant[len++] = '-';
    mant[len++] = sig[0];
    mant[len++] = '.';
    for (int i = 1; i < ns && len < room; i++) mant[len++] = sig[i];
    if (mant[len - 1] == '.') {
        if (len < room) mant[len++] = '0';
        else len--;
    }
    std::snprintf(buffer, size_t(size), "%.*sE%c%02d", len, mant, x > 0 ? '+' : '-', ax);
}

// Parses a decimal text into a magnitude: blanks, sign, digits with at most
// one ".", an optional exponent part, and the end of the text.
ZVDBRET parse_number(const char *text, NumMag *out) {
    const char *p = zv::skip_blanks(text);
    bool neg = false;
    if (*p == '-' || *p == '+') neg = *p++ == '-';
    char digits[kMaxCollected];
    int nd = 0, intdigits = -1, collected = 0;
    for (; (*p >= '0' && *p <= '9') || *p == '.'; p++) {
        if (++collected >= kMaxCollected) return ZVDB_BAD_NUMBER;
        if (*p == '.') {
            if (intdigits >= 0) return ZVDB_BAD_NUMBER;
            intdigits = nd;
        } else {
            digits[nd++] = *p;
        }
    }
    if (intdigits < 0) intdigits = nd;
    long p10 = intdigits;
    if (*p == 'E' || *p == 'e') {
        p++;
        bool eneg = false;
        if (*p == '-' || *p == '+') eneg = *p++ == '-';
        if (*p < '0' || *p > '9') return ZVDB_BAD_NUMBER;
        long e = 0;
        for (; *p >= '0' && *p <= '9'; p++)
            if (e < 1000000) e = e * 10 + (*p - '0');
        p10 += eneg ? -e : e;
    }
    if (*p != '\0') return ZVDB_BAD_NUMBER;
    zv::mag_from_decimal(neg, digits, nd, p10, out);
    if (zv::mag_is_zero(*out)) out->neg = false;
    return 0;
}

ZVDBRET store_text(const char *text, tagZVNUMBER *number) {
    NumMag m;
    ZVDBRET rc = parse_number(text, &m);
    return rc ? rc : zv::mag_store(m, number);
}

// Plain text of a stored number into a buffer of kPlainText bytes.
ZVDBRET number_plain(const tagZVNUMBER *number, char *text) {
    NumMag m;
    ZVDBRET rc = zv::number_decode(number, &m);
    if (rc) return rc;
    plain_text(m, text);
    return 0;
}

}  // namespace

ZVDBRET _zvdbNumberNormalize(tagZVNUMBER *number) {
    if (!number) return ZVDB_NULL_ARGUMENT;
    NumMag m;
    ZVDBRET rc = zv::number_decode(number, &m);
    return rc ? rc : zv::mag_store(m, number);
}

extern "C" {

ZV_API ZVDBRET zvdbNumberZero(tagZVNUMBER *number) {
    if (!number) return ZVDB_NULL_ARGUMENT;
    NumMag m;
    zv::mag_zero(&m);
    return zv::mag_store(m, number);
}

ZV_API int zvdbIsNumberZero(const tagZVNUMBER *number) {
    if (!number) return 0;
    return (number->exponent & 0x80) && (number->exponent & 0x7F) == 65 && number->digits[0] == 0;
}

ZV_API ZVDBRET zvdbNumberCopy(tagZVNUMBER *destination, const tagZVNUMBER *source) {
    if (!destination || !source) return ZVDB_NULL_ARGUMENT;
    std::memmove(destination, source, sizeof *destination);
    return 0;
}

ZV_API ZVDBRET zvdbNumberNegate(const tagZVNUMBER *source, tagZVNUMBER *destination) {
    if (!source || !destination) return ZVDB_NULL_ARGUMENT;
    NumMag m;
    ZVDBRET rc = zv::number_decode(source, &m);
    if (rc) return rc;
    if (!zv::mag_is_zero(m)) m.neg = !m.neg;
    return zv::mag_store(m, destination);
}

ZV_API ZVDBRET zvdbNumberAbs(const tagZVNUMBER *source, tagZVNUMBER *destination) {
    if (!source || !destination) return ZVDB_NULL_ARGUMENT;
    NumMag m;
    ZVDBRET rc = zv::number_decode(source, &m);
    if (rc) return rc;
    m.neg = false;
    return zv::mag_store(m, destination);
}

ZV_API int zvdbNumberCmp(const tagZVNUMBER *a, const tagZVNUMBER *b) {
    if (!a || !b) return 0;
    NumMag x, y;
    if (zv::number_decode(a, &x) || zv::number_decode(b, &y)) return 0;
    if (x.neg != y.neg) return x.neg ? -1 : 1;
    int c = zv::mag_cmp_abs(x, y);
    return x.neg ? -c : c;
}

ZV_API ZVDBRET zvdbStringToNumber(const char *text, tagZVNUMBER *number) {
    if (!text || !number) return ZVDB_NULL_ARGUMENT;
    return store_text(text, number);
}

ZV_API ZVDBRET zvdbNumberToString(const tagZVNUMBER *number, char *buffer, int32_t size) {
    if (!number || !buffer) return ZVDB_NULL_ARGUMENT;
    if (number->length < 1 || number->length > 17 || (number->exponent & 0x7F) == 127)
        return ZVDB_OVERFLOW;
    NumMag m;
    ZVDBRET rc = zv::number_decode(number, &m);
    if (rc) return rc;
    if (size < 1) return ZVDB_BUFFER_SMALL;
    char plain[kPlainText];
    int len = plain_text(m, plain);
    if (len < size) {
        std::memcpy(buffer, plain, size_t(len) + 1);
        return 0;
    }
    fallback_text(m, plain, buffer, size);
    return 0;
}

ZV_API ZVDBRET zvdbLongToNumber(int32_t value, tagZVNUMBER *number) {
    if (!number) return ZVDB_NULL_ARGUMENT;
    char text[32];
    std::snprintf(text, sizeof text, "%d", value);
    return store_text(text, number);
}

ZV_API ZVDBRET zvdbFloatToNumber(double value, tagZVNUMBER *number) {
    if (!number) return ZVDB_BAD_KIND;
    if (!std::isfinite(value)) return ZVDB_BAD_NUMBER;
    // The mantissa digits and the exponent of the "%33.32E" text.
    char text[64];
    std::snprintf(text, sizeof text, "%33.32E", value);
    return store_text(text, number);
}

ZV_API ZVDBRET zvdbMoneyToNumber(ZVMONEY value, tagZVNUMBER *number) {
    if (!number) return ZVDB_NULL_ARGUMENT;
    char text[128];
    ZVDBRET rc = zvdbMoneyToString(value, text, sizeof text);
    return rc ? rc : store_text(text, number);
}

ZV_API ZVDBRET zvdbBigIntToNumber(ZVBIGINT value, tagZVNUMBER *number) {
    if (!number) return ZVDB_NULL_ARGUMENT;
    char text[128];
    ZVDBRET rc = zvdbBigIntToString(value, text, sizeof text);
    return rc ? rc : store_text(text, number);
}

ZV_API ZVDBRET zvdbUnsignedBigIntToNumber(ZVUBIGINT value, tagZVNUMBER *number) {
    if (!number) return ZVDB_NULL_ARGUMENT;
    char text[128];
    ZVDBRET rc = zvdbUnsignedBigIntToString(value, text, sizeof text);
    return rc ? rc : store_text(text, number);
}

ZV_API ZVDBRET zvdbCurrencyToNumber(ZVCURRENCY value, tagZVNUMBER *number) {
    if (!number) return ZVDB_NULL_ARGUMENT;
    char text[128];
    ZVDBRET rc = zvdbCurrencyToString(value, text, sizeof text);
    return rc ? rc : store_text(text, number);
}

// The conversions to other types read the plain text, which is always whole
// (never the asterisk or scientific form).
ZV_API ZVDBRET zvdbNumberToMoney(const tagZVNUMBER *number, ZVMONEY *out) {
    if (!number || !out) return ZVDB_NULL_ARGUMENT;
    char text[kPlainText];
    ZVDBRET rc = number_plain(number, text);
    return rc ? rc : zvdbStringToMoney(text, out);
}

ZV_API ZVDBRET zvdbNumberToBigInt(const tagZVNUMBER *number, ZVBIGINT *out) {
    if (!number || !out) return ZVDB_NULL_ARGUMENT;
    char text[kPlainText];
    ZVDBRET rc = number_plain(number, text);
    return rc ? rc : zvdbStringToBigInt(text, out);
}

ZV_API ZVDBRET zvdbNumberToUnsignedBigInt(const tagZVNUMBER *number, ZVUBIGINT *out) {
    if (!number || !out) return ZVDB_NULL_ARGUMENT;
    char text[kPlainText];
    ZVDBRET rc = number_plain(number, text);
    return rc ? rc : zvdbStringToUnsignedBigInt(text, out);
}

ZV_API ZVDBRET zvdbNumberToCurrency(const tagZVNUMBER *number, ZVCURRENCY *out) {
    if (!number || !out) return ZVDB_NULL_ARGUMENT;
    char text[kPlainText];
    ZVDBRET rc = number_plain(number, text);
    return rc ? rc : zvdbStringToCurrency(text, out);
}

ZV_API ZVDBRET zvdbNumberToLong(const tagZVNUMBER *number, int32_t *out) {
    if (!number || !out) return ZVDB_NULL_ARGUMENT;
    char text[kPlainText];
    ZVDBRET rc = number_plain(number, text);
    if (rc) return rc;
    long long v = std::strtoll(text, nullptr, 10);
    if (v > INT32_MAX) return ZVDB_OVERFLOW;
    if (v < INT32_MIN) return ZVDB_UNDERFLOW;
    *out = int32_t(v);
    return 0;
}

ZV_API ZVDBRET zvdbNumberToFloat(const tagZVNUMBER *number, double *out) {
    if (!number || !out) return ZVDB_NULL_ARGUMENT;
    char text[kPlainText];
    ZVDBRET rc = number_plain(number, text);
    if (rc) return rc;
    *out = std::strtod(text, nullptr);
    return 0;
}

}  // extern "C"

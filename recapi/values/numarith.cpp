// Number arithmetic: the four operations, rounding to a number of decimals and
// the count of integer and fraction digits.
//
// Each operation decodes its operands into sign and magnitude, computes the
// exact result of the magnitudes in a work area wide enough for it, and
// stores it through mag_store: cut to 16 base-100 digits toward zero (never
// rounded, except by zvdbNumberRound) and refused with 4038 / 4039 when the
// final exponent leaves -63..62. A failing operation writes nothing, and a
// result may be one of its own operands.
#include <cstring>

#include "recapi/values/number.h"

namespace {

using zv::kNumDigits;
using zv::NumMag;
using u128 = unsigned __int128;

// Exponents of decoded operands lie in -64..64, so two aligned operands span
// at most 129 + 16 base-100 positions.
constexpr int kAddWork = 160;

ZVDBRET decode_pair(const tagZVNUMBER *a, const tagZVNUMBER *b, NumMag *x, NumMag *y) {
    ZVDBRET rc = zv::number_decode(a, x);
    return rc ? rc : zv::number_decode(b, y);
}

// Exact sum of two nonzero magnitudes with signs, then normalised.
void add_mags(const NumMag &a, const NumMag &b, NumMag *out) {
    // w[i] has the place 100^(top - i); w[0] takes the carry out.
    int top = a.exp > b.exp ? a.exp : b.exp;
    int offa = top - a.exp + 1, offb = top - b.exp + 1;
    int len = offa + a.n > offb + b.n ? offa + a.n : offb + b.n;
    int wa[kAddWork] = {}, wb[kAddWork] = {};
    for (int i = 0; i < a.n; i++) wa[offa + i] = a.d[i];
    for (int i = 0; i < b.n; i++) wb[offb + i] = b.d[i];
    uint8_t w[kAddWork];
    bool neg = a.neg;
    if (a.neg == b.neg) {
        int carry = 0;
        for (int i = len - 1; i >= 0; i--) {
            int v = wa[i] + wb[i] + carry;
            carry = v >= 100;
            w[i] = uint8_t(carry ? v - 100 : v);
        }
    } else {
        int c = zv::mag_cmp_abs(a, b);
        if (c == 0) {
            zv::mag_zero(out);
            return;
        }
        const int *big = c > 0 ? wa : wb, *small = c > 0 ? wb : wa;
        neg = c > 0 ? a.neg : b.neg;
        int borrow = 0;
        for (int i = len - 1; i >= 0; i--) {
            int v = big[i] - small[i] - borrow;
            borrow = v < 0;
            w[i] = uint8_t(borrow ? v + 100 : v);
        }
    }
    zv::mag_from_digits(neg, top + 1, w, len, out);
}

ZVDBRET add_numbers(const tagZVNUMBER *a, const tagZVNUMBER *b, bool negate_b,
                    tagZVNUMBER *result) {
    if (!a || !b || !result) return ZVDB_NULL_ARGUMENT;
    NumMag x, y, r;
    ZVDBRET rc = decode_pair(a, b, &x, &y);
    if (rc) return rc;
    if (negate_b && !zv::mag_is_zero(y)) y.neg = !y.neg;
    if (zv::mag_is_zero(x)) r = y;
    else if (zv::mag_is_zero(y)) r = x;
    else add_mags(x, y, &r);
    return zv::mag_store(r, result);
}

// Magnitude digits as an integer (at most 16 base-100 digits: below 10^32).
u128 digits_value(const NumMag &m) {
    u128 v = 0;
    for (int i = 0; i < m.n; i++) v = v * 100 + m.d[i];
    return v;
}

}  // namespace

extern "C" {

ZV_API ZVDBRET zvdbNumberAdd(const tagZVNUMBER *a, const tagZVNUMBER *b, tagZVNUMBER *result) {
    return add_numbers(a, b, false, result);
}

ZV_API ZVDBRET zvdbNumberSub(const tagZVNUMBER *a, const tagZVNUMBER *b, tagZVNUMBER *result) {
    return add_numbers(a, b, true, result);
}

ZV_API ZVDBRET zvdbNumberMul(const tagZVNUMBER *a, const tagZVNUMBER *b, tagZVNUMBER *result) {
    if (!a || !b || !result) return ZVDB_NULL_ARGUMENT;
    NumMag x, y, r;
    ZVDBRET rc = decode_pair(a, b, &x, &y);
    if (rc) return rc;
    if (zv::mag_is_zero(x) || zv::mag_is_zero(y)) {
        zv::mag_zero(&r);
        return zv::mag_store(r, result);
    }
    // Schoolbook product: p[k] has the place 100^(ea + eb - 1 - k); p[0]
    // takes the final carry.
    uint32_t p[2 * kNumDigits + 1] = {};
    for (int i = 0; i < x.n; i++)
        for (int j = 0; j < y.n; j++) p[i + j + 1] += uint32_t(x.d[i]) * y.d[j];
    int len = x.n + y.n;
    uint8_t digits[2 * kNumDigits + 1];
    uint32_t carry = 0;
    for (int k = len - 1; k >= 0; k--) {
        uint32_t v = p[k] + carry;
        digits[k] = uint8_t(v % 100);
        carry = v / 100;
    }
    zv::mag_from_digits(x.neg != y.neg, x.exp + y.exp, digits, len, &r);
    return zv::mag_store(r, result);
}

ZV_API ZVDBRET zvdbNumberDiv(const tagZVNUMBER *a, const tagZVNUMBER *b, tagZVNUMBER *result) {
    if (!a || !b || !result) return ZVDB_NULL_ARGUMENT;
    NumMag x, y, r;
    ZVDBRET rc = decode_pair(a, b, &x, &y);
    if (rc) return rc;
    if (zv::mag_is_zero(y)) return ZVDB_DIVIDE_BY_ZERO;
    if (zv::mag_is_zero(x)) {
        zv::mag_zero(&r);
        return zv::mag_store(r, result);
    }
    // Long division in base 100: the dividend's digits (then zeros) are fed
    // one at a time; the quotient digit after the kth has the place
    // 100^(ea - eb + nb - k). Digits stop at 16 significant ones or when the
    // remainder is exhausted.
    u128 divisor = digits_value(y);
    u128 rem = 0;
    uint8_t q[kNumDigits];
    int nq = 0, first = 0;
    for (int k = 1; nq < kNumDigits; k++) {
        rem = rem * 100 + (k <= x.n ? x.d[k - 1] : 0);
        uint8_t digit = uint8_t(rem / divisor);
        rem -= u128(digit) * divisor;
        if (nq == 0 && digit == 0) continue;
        if (nq == 0) first = k;
        q[nq++] = digit;
        if (k >= x.n && rem == 0) break;
    }
    zv::mag_from_digits(x.neg != y.neg, x.exp - y.exp + y.n - first + 1, q, nq, &r);
    return zv::mag_store(r, result);
}

ZV_API ZVDBRET zvdbNumberRound(tagZVNUMBER *number, int32_t decimals) {
    if (!number) return ZVDB_NULL_ARGUMENT;
    if (decimals < 0) return ZVDB_BAD_DECIMALS;
    NumMag m, r;
    ZVDBRET rc = zv::number_decode(number, &m);
    if (rc) return rc;
    if (zv::mag_is_zero(m) || zv::mag_fraction_digits(m) <= decimals) return 0;
    // Decimal character i has the place 10^(2 exp - 1 - i); the characters
    // before index `keep` are the integer digits and `decimals` fraction
    // digits. A one in front of them takes the carry of rounding up.
    char chars[2 * kNumDigits + 1];
    chars[0] = '0';
    int nc = 1 + zv::mag_decimal_chars(m, chars + 1);
    long keep = 2L * m.exp + decimals + 1;
    if (keep < 1) {
        // The value lies below 0.1 x 10^-decimals: rounds to zero.
        zv::mag_zero(&r);
    } else {
        bool up = keep < nc && chars[keep] >= '5';
        for (long i = keep - 1; up && i >= 0; i--) {
            if (chars[i] == '9') {
                chars[i] = '0';
            } else {
                chars[i]++;
                up = false;
            }
        }
        zv::mag_from_decimal(m.neg, chars, int(keep < nc ? keep : nc), 2L * m.exp + 1, &r);
        if (zv::mag_is_zero(r)) r.neg = false;
    }
    rc = zv::mag_store(r, number);
    return rc;
}

ZV_API ZVDBRET zvdbNumberGetDecimal(const tagZVNUMBER *number, int32_t *intdigits,
                                    int32_t *fracdigits) {
    if (!number || !intdigits || !fracdigits) return ZVDB_NULL_ARGUMENT;
    if (number->length < 1 || number->length > 17) return ZVDB_BAD_NUMBER;
    NumMag m;
    ZVDBRET rc = zv::number_decode(number, &m);
    if (rc) return rc;
    *intdigits = m.exp > 0 ? 2 * m.exp - (m.d[0] < 10 ? 1 : 0) : 0;
    *fracdigits = zv::mag_fraction_digits(m);
    return 0;
}

}  // extern "C"

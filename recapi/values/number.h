// Internal form of tagZVNUMBER values shared by the number routines and the
// number arithmetic.
//
// A stored number is decoded into a sign and a magnitude of base-100 digits
// (NumMag): value = +/- 0.d1 d2 .. dn (base 100) x 100^exp. Every routine
// works on magnitudes and stores its result through mag_store, which writes
// the normalised stored image (complemented digits for a negative value).
#pragma once

#include <cstdint>

#include "zarvo/zvdb.h"

namespace zv {

// Digits of one number: 16 base-100 digits hold 32 decimal digits.
constexpr int kNumDigits = 16;
// Usable range of the base-100 exponent.
constexpr int kNumMaxExp = 62;
constexpr int kNumMinExp = -63;

// A decoded number. Normalised: d[0] != 0 and d[n-1] != 0, 1 <= n <= 16;
// zero is n = 1, d[0] = 0, exp = 1, not negative.
struct NumMag {
    bool neg;
    int exp;
    int n;
    uint8_t d[kNumDigits];
};

inline bool mag_is_zero(const NumMag &m) { return m.n == 1 && m.d[0] == 0; }
void mag_zero(NumMag *m);

// Decodes any stored image: a length above 17 counts as 17, a length below 2
// as zero; leading and trailing zero digits and negative carries are
// normalised away. 4060 for a digit byte out of range. The exponent is not
// range-checked.
ZVDBRET number_decode(const tagZVNUMBER *num, NumMag *out);
// Normalises the digit string value = sum digits[i] x 100^(exp-1-i): leading
// zeros removed, cut to 16 digits toward zero, trailing zeros removed.
void mag_from_digits(bool neg, int exp, const uint8_t *digits, int count, NumMag *out);
// The same for decimal digits: value = 0.chars x 10^p (chars '0'..'9').
void mag_from_decimal(bool neg, const char *chars, int len, long p, NumMag *out);
// Writes the normalised image; 4038 when exp > 62, 4039 when exp < -63
// (nothing written then).
ZVDBRET mag_store(const NumMag &m, tagZVNUMBER *out);
// Compares magnitudes: -1, 0, 1.
int mag_cmp_abs(const NumMag &a, const NumMag &b);
// The 2n decimal characters of the magnitude's digits (no terminator):
// value = 0.chars x 10^(2 exp).
int mag_decimal_chars(const NumMag &m, char *out);
// Count of fraction digits of the plain decimal text.
int mag_fraction_digits(const NumMag &m);

}  // namespace zv

// Normalises a stored number in place (the routine every producer ends with).
ZVDBRET _zvdbNumberNormalize(tagZVNUMBER *number);

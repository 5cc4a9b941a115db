// Numeric values converted from one record's field into another's
// (fieldcopy.h).
//
// A value bound for an integer type, money or currency is read exactly by
// the reader of its own kind (an integer, hundredths, ten-thousandths, a
// double or a number) and brought to the new type's units here, where its
// fit is judged on the very value that is stored. The typed readers of the
// new kind are not used for these: the signed and unsigned 32-bit readers
// give a money's hundredths, the unsigned one refuses 64-bit and number
// values above 2^31 - 1, and the 64-bit reader takes a double through its
// six-decimal text, so that 0.9999999 would become 1. Floats and numbers
// are read by the reader of the new kind, which converts every numeric
// kind into them as they are.
#include "recapi/records/fieldcopy.h"

#include <cmath>

#include "recapi/values/number.h"

namespace zv {

namespace {

using i128 = __int128;

enum class Kind : uint8_t { kNone, kSigned, kUnsigned, kWide, kFloat, kMoney, kCurrency, kNumber };

Kind kind_of(int32_t type) {
    switch (type) {
    case ZV_CHAR: case ZV_INT2: case ZV_INT4: return Kind::kSigned;
    case ZV_CHARU: case ZV_INT2U: case ZV_INT4U: return Kind::kUnsigned;
    case ZV_BIGINT: case ZV_UBIGINT: return Kind::kWide;
    case ZV_SFLOAT: case ZV_DFLOAT: return Kind::kFloat;
    case ZV_MONEY: return Kind::kMoney;
    case ZV_CURRENCY: return Kind::kCurrency;
    case ZV_NUMBER: return Kind::kNumber;
    default: return Kind::kNone;
    }
}

// Magnitudes from here on are beyond every range and cut to it.
constexpr i128 kFar = i128(1) << 100;
// A double of this magnitude or more rounds to an infinity as a float.
constexpr double kFloatEdge = 0x1.ffffffp127;
// A number stays below 100^kNumMaxExp.
static_assert(kNumMaxExp == 62);
constexpr double kNumberEdge = 1e124;

// The values a type holds, in units of 10^-places. Every hi + 1 and every
// lo is zero or a power of two, so both are exact as doubles.
struct Range {
    int places;
    i128 lo, hi;
};

// The range of a type whose value is brought to its units here.
bool range_of(int32_t type, Range *r) {
    switch (type) {
    case ZV_CHAR: *r = {0, INT8_MIN, INT8_MAX}; return true;
    case ZV_INT2: *r = {0, INT16_MIN, INT16_MAX}; return true;
    case ZV_INT4: *r = {0, INT32_MIN, INT32_MAX}; return true;
    case ZV_CHARU: *r = {0, 0, UINT8_MAX}; return true;
    case ZV_INT2U: *r = {0, 0, UINT16_MAX}; return true;
    case ZV_INT4U: *r = {0, 0, UINT32_MAX}; return true;
    case ZV_BIGINT: *r = {0, INT64_MIN, INT64_MAX}; return true;
    case ZV_UBIGINT: *r = {0, 0, UINT64_MAX}; return true;
    case ZV_MONEY: *r = {2, INT32_MIN, INT32_MAX}; return true;
    case ZV_CURRENCY: *r = {4, INT64_MIN, INT64_MAX}; return true;
    default: return false;
    }
}

// An old value as the reader of its own kind gives it: an exact decimal of
// `fixed` units of 10^-places (integers, money, currency), a double, or a
// number.
struct Source {
    Kind kind = Kind::kNone;
    i128 fixed = 0;
    int places = 0;
    double d = 0;
    NumMag mag{};
};

// An exact old value read by `reader` into `fixed`, with its places.
template <typename T>
ZVDBRET read_fixed(ZVDBRET (*reader)(ZVHANDLE, int32_t, T *), ZVHANDLE r, int32_t n, int places, Source *s) {
    T v = 0;
    const ZVDBRET rc = reader(r, n, &v);
    s->fixed = v;
    s->places = places;
    return rc;
}

ZVDBRET read_source(ZVHANDLE r, int32_t n, int32_t type, Source *s) {
    s->kind = kind_of(type);
    switch (s->kind) {
    case Kind::kSigned: return read_fixed(zvdbGetFieldAsSigned, r, n, 0, s);
    case Kind::kUnsigned: return read_fixed(zvdbGetFieldAsUnsigned, r, n, 0, s);
    case Kind::kWide:
        return type == ZV_UBIGINT ? read_fixed(zvdbGetFieldAsUnsignedBigint, r, n, 0, s)
                                  : read_fixed(zvdbGetFieldAsBigint, r, n, 0, s);
    case Kind::kMoney: return read_fixed(zvdbGetFieldAsMoney, r, n, 2, s);
    case Kind::kCurrency: return read_fixed(zvdbGetFieldAsCurrency, r, n, 4, s);
    case Kind::kFloat: return zvdbGetFieldAsFloat(r, n, &s->d);
    case Kind::kNumber: {
        tagZVNUMBER num;
        const ZVDBRET rc = zvdbGetFieldAsNumber(r, n, &num);
        return rc ? rc : number_decode(&num, &s->mag);
    }
    case Kind::kNone: break;
    }
    return ZVDB_NO_CONVERSION;
}

// The value of a source that is not a double, times 10^places (0, 2 or 4),
// truncated toward zero.
i128 scaled(const Source &s, int places) {
    if (s.kind == Kind::kNumber) {
        // 0.d1 d2 .. dn (base 100) x 100^exp: the digits before the point.
        const NumMag &m = s.mag;
        const int whole = m.exp + places / 2;
        if (whole <= 0) return 0;
        // 15 base-100 digits stay below kFar; more are beyond every range.
        if (whole > 15) return m.neg ? -kFar : kFar;
        i128 v = 0;
        for (int k = 0; k < whole; k++) v = v * 100 + (k < m.n ? m.d[k] : 0);
        return m.neg ? -v : v;
    }
    i128 v = s.fixed;
    for (int k = s.places; k < places; k++) v *= 10;
    for (int k = places; k < s.places; k++) v /= 10;
    return v;
}

// The old value in the range's units: 4038 above the range or for NaN,
// 4039 below it.
ZVDBRET bring(const Source &s, const Range &r, i128 *out) {
    if (s.kind != Kind::kFloat) {
        *out = scaled(s, r.places);
        return *out > r.hi ? ZVDB_OVERFLOW : *out < r.lo ? ZVDB_UNDERFLOW : 0;
    }
    if (std::isnan(s.d)) return ZVDB_OVERFLOW;
    double x = s.d;
    if (r.places > 0) {
        x *= r.places == 2 ? 100.0 : 10000.0;
        x = x >= 0 ? x + 0.5 : x - 0.5;
    }
    x = std::trunc(x);
    if (x >= double(r.hi + 1)) return ZVDB_OVERFLOW;
    if (x < double(r.lo)) return ZVDB_UNDERFLOW;
    *out = i128(x);
    return 0;
}

// A value in range into field j by the writer of the type's kind.
ZVDBRET store(ZVHANDLE to, int32_t j, int32_t type, i128 v) {
    switch (kind_of(type)) {
    case Kind::kSigned: return zvdbSetFieldAsSigned(to, j, int32_t(v));
    case Kind::kUnsigned: return zvdbSetFieldAsUnsigned(to, j, uint32_t(v));
    case Kind::kWide: return zvdbSetFieldAsBigint(to, j, ZVBIGINT(uint64_t(v)));
    case Kind::kMoney: return zvdbSetFieldAsMoney(to, j, ZVMONEY(v));
    default: return zvdbSetFieldAsCurrency(to, j, ZVCURRENCY(v));
    }
}

}  // namespace

CopyRoad copy_road(int32_t from, int32_t to) {
    if (from != to && (from == ZV_EFLOAT || to == ZV_EFLOAT)) return CopyRoad::kNone;
    if (kind_of(from) == Kind::kNone || kind_of(to) == Kind::kNone) return CopyRoad::kOther;
    return from == to ? CopyRoad::kBytes : CopyRoad::kConvert;
}

ZVDBRET copy_numeric(ZVHANDLE from, int32_t n, int32_t fromtype, ZVHANDLE to, int32_t j, int32_t totype) {
    if (copy_road(fromtype, totype) != CopyRoad::kConvert) return ZVDB_NO_CONVERSION;
    Range r{};
    if (range_of(totype, &r)) {
        Source s;
        i128 v = 0;
        if (ZVDBRET rc = read_source(from, n, fromtype, &s)) return rc;
        if (ZVDBRET rc = bring(s, r, &v)) return rc;
        return store(to, j, totype, v);
    }
    if (kind_of(totype) == Kind::kFloat) {
        double d = 0;
        if (ZVDBRET rc = zvdbGetFieldAsFloat(from, n, &d)) return rc;
        if (totype == ZV_SFLOAT && std::isfinite(d) && std::fabs(d) >= kFloatEdge) {
            return d > 0 ? ZVDB_OVERFLOW : ZVDB_UNDERFLOW;
        }
        return zvdbSetFieldAsFloat(to, j, d);
    }
    // A number holds no NaN, no infinity and no double from 10^124 on.
    if (kind_of(fromtype) == Kind::kFloat) {
        double d = 0;
        if (ZVDBRET rc = zvdbGetFieldAsFloat(from, n, &d)) return rc;
        if (!(std::fabs(d) < kNumberEdge)) return d < 0 ? ZVDB_UNDERFLOW : ZVDB_OVERFLOW;
    }
    tagZVNUMBER num;
    if (ZVDBRET rc = zvdbGetFieldAsNumber(from, n, &num)) return rc;
    return zvdbSetFieldAsNumber(to, j, &num);
}

}  // namespace zv

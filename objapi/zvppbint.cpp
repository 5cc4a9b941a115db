// ZVBigint: a signed 64-bit integer of the object layer.
//
// Arithmetic wraps around modulo 2^64 (it is done on the unsigned form, so
// an overflow is never undefined); division by -1 is negation, so the
// lowest value divided by -1 gives itself instead of a trap.
#include <cstdint>

#include "objapi/valaccess.h"
#include "objapi/zvppxcep.h"

namespace {

constexpr zvpp::Module kModule("objapi/zvppbint");

ZVBigint bigint_of(uint64_t bits) {
    ZVBigint r;
    ZVValueAccess::of(r) = static_cast<ZVBIGINT>(bits);
    return r;
}

uint64_t bits_of(const ZVBigint &v) { return static_cast<uint64_t>(v.AsBigint()); }

}  // namespace

ZVBigint::ZVBigint() : value(0) {}
ZVBigint::ZVBigint(int v) : value(0) { SetBigint(v); }
ZVBigint::ZVBigint(double v) : value(0) { SetBigint(v); }
ZVBigint::ZVBigint(const ZVMoney &v) : value(0) { SetBigint(v); }
ZVBigint::ZVBigint(const ZVString &v) : value(0) { SetBigint(v); }
ZVBigint::ZVBigint(const ZVBigint &other) : value(0) { SetBigint(other); }
ZVBigint::~ZVBigint() noexcept = default;

void ZVBigint::SetBigint(int v) {
    kModule.check(zvdbLongToBigInt(v, &value), "Can't convert LONG to ZVBIGINT", 66);
}

void ZVBigint::SetBigint(double v) {
    kModule.check(zvdbFloatToBigInt(v, &value), "Can't convert FLOAT to ZVBIGINT", 88);
}

void ZVBigint::SetBigint(const ZVMoney &v) {
    kModule.check(zvdbLongToBigInt(v.AsLong(), &value), "Can't convert MONEY to ZVBIGINT", 112);
}

void ZVBigint::SetBigint(const ZVString &v) {
    kModule.check(zvdbStringToBigInt(v.c_str(), &value), "Can't convert STRING to ZVBIGINT", 134);
}

void ZVBigint::SetBigint(const ZVBigint &v) { value = v.value; }

int ZVBigint::AsLong() const {
    int32_t out = 0;
    kModule.check(zvdbBigIntToLong(value, &out), "Can't convert ZVBIGINT to LONG", 173);
    return out;
}

double ZVBigint::AsFloat() const {
    double out = 0;
    kModule.check(zvdbBigIntToFloat(value, &out), "Can't convert ZVBIGINT to ZVFLOAT", 196);
    return out;
}

// The value counts whole units, as in ZVMoney::SetInt, so that a money
// made here converts back to the same integer.
ZVMoney ZVBigint::AsMoney() const {
    ZVMoney r;
    int32_t units = 0;
    kModule.check(zvdbBigIntToLong(value, &units), "Can't convert ZVBIGINT to LONG", 220);
    kModule.check(zvdbLongToMoney(units, &ZVValueAccess::of(r)), "Can't convert ZVBIGINT to LONG", 220);
    return r;
}

ZVString ZVBigint::AsString() const {
    char text[128];
    kModule.check(zvdbBigIntToString(value, text, sizeof text), "Can't convert ZVBIGINT to STRING", 244);
    return ZVString(text);
}

ZVBIGINT ZVBigint::AsBigint() const { return value; }

ZVUBIGINT ZVBigint::AsUnsignedBigint() const { return static_cast<ZVUBIGINT>(value); }

bool ZVBigint::IsZero() const { return value == 0; }

void ZVBigint::Zero() { value = 0; }

ZVBigint abs(const ZVBigint &a) { return a.AsBigint() < 0 ? bigint_of(0 - bits_of(a)) : a; }

ZVBigint operator+(const ZVBigint &a, const ZVBigint &b) { return bigint_of(bits_of(a) + bits_of(b)); }

ZVBigint operator-(const ZVBigint &a, const ZVBigint &b) { return bigint_of(bits_of(a) - bits_of(b)); }

ZVBigint operator*(const ZVBigint &a, const ZVBigint &b) { return bigint_of(bits_of(a) * bits_of(b)); }

ZVBigint operator/(const ZVBigint &a, const ZVBigint &b) {
    if (b.IsZero()) kModule.fail(ZVDB_DIVIDE_BY_ZERO, "BIGINT division by zero", 419);
    if (b.AsBigint() == -1) return bigint_of(0 - bits_of(a));
    return bigint_of(static_cast<uint64_t>(a.AsBigint() / b.AsBigint()));
}

bool operator<(const ZVBigint &a, const ZVBigint &b) { return a.AsBigint() < b.AsBigint(); }
bool operator<=(const ZVBigint &a, const ZVBigint &b) { return a.AsBigint() <= b.AsBigint(); }
bool operator>(const ZVBigint &a, const ZVBigint &b) { return a.AsBigint() > b.AsBigint(); }
bool operator>=(const ZVBigint &a, const ZVBigint &b) { return a.AsBigint() >= b.AsBigint(); }
bool operator==(const ZVBigint &a, const ZVBigint &b) { return a.AsBigint() == b.AsBigint(); }
bool operator!=(const ZVBigint &a, const ZVBigint &b) { return a.AsBigint() != b.AsBigint(); }

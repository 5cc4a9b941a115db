// ZVMoney: hundredths in 32 bits.
//
// SetMoney(int) and the int constructor take hundredths as they are;
// SetInt takes whole units.
#include <cstdint>

#include "objapi/valaccess.h"
#include "objapi/zvppxcep.h"

constexpr zvpp::Module kModule("objapi/zvppmony");

ZVMoney::ZVMoney() : value(0) {}
ZVMoney::ZVMoney(int hundredths) : value(0) { SetMoney(hundredths); }
ZVMoney::ZVMoney(double v) : value(0) { SetMoney(v); }
ZVMoney::ZVMoney(const ZVString &v) : value(0) { SetMoney(v); }
ZVMoney::ZVMoney(const ZVMoney &other) : value(0) { SetMoney(other); }
ZVMoney::~ZVMoney() noexcept = default;

void ZVMoney::SetInt(int units) {
    kModule.check(zvdbLongToMoney(units, &value), "Can't initialize ZVMoney object", 64);
}

void ZVMoney::SetMoney(double v) {
    kModule.check(zvdbFloatToMoney(v, &value), "Can't initialize ZVMoney object", 83);
}

void ZVMoney::SetMoney(int hundredths) { value = hundredths; }

void ZVMoney::SetMoney(const ZVString &v) {
    kModule.check(zvdbStringToMoney(v.c_str(), &value), "Can't initialize ZVMoney object", 120);
}

void ZVMoney::StringToMoney(const ZVString &v) {
    kModule.check(zvdbStringToMoney(v.c_str(), &value), "Can't convert string to money", 267);
}

void ZVMoney::SetMoney(const ZVMoney &v) { value = v.value; }

int ZVMoney::AsLong() const {
    int32_t out = 0;
    kModule.check(zvdbMoneyToLong(value, &out), "Can't convert ZVMoney object to LONG", 158);
    return out;
}

int ZVMoney::AsInt() const {
    int32_t out = 0;
    kModule.check(zvdbMoneyToLong(value, &out), "Can't convert ZVMoney object to int", 181);
    return out;
}

double ZVMoney::AsFloat() const {
    double out = 0;
    kModule.check(zvdbMoneyToFloat(value, &out), "Can't convert ZVMoney object to ZVFLOAT", 204);
    return out;
}

ZVMONEY ZVMoney::AsMoney() const { return value; }

ZVString ZVMoney::AsString() const {
    char text[65];
    kModule.check(zvdbMoneyToString(value, text, sizeof text), "Can't convert ZVMoney object to string", 244);
    return ZVString(text);
}

ZVMoney abs(const ZVMoney &a) { return ZVMoney(int(zvdbMoneyAbs(a.AsMoney()))); }

ZVMoney operator+(const ZVMoney &a, const ZVMoney &b) {
    ZVMoney r;
    kModule.check(zvdbMoneyAdd(a.AsMoney(), b.AsMoney(), &ZVValueAccess::of(r)), "Can't add two money objects", 309);
    return r;
}

ZVMoney operator-(const ZVMoney &a, const ZVMoney &b) {
    ZVMoney r;
    kModule.check(zvdbMoneySub(a.AsMoney(), b.AsMoney(), &ZVValueAccess::of(r)),
          "Can't subtract two money objects", 333);
    return r;
}

ZVMoney operator*(const ZVMoney &a, const ZVMoney &b) {
    ZVMoney r;
    kModule.check(zvdbMoneyMul(a.AsMoney(), b.AsMoney(), &ZVValueAccess::of(r)),
          "Can't multiply two money objects", 357);
    return r;
}

ZVMoney operator/(const ZVMoney &a, const ZVMoney &b) {
    ZVMoney r;
    kModule.check(zvdbMoneyDiv(a.AsMoney(), b.AsMoney(), &ZVValueAccess::of(r)), "Can't divide two money objects",
          381);
    return r;
}

bool operator<(const ZVMoney &a, const ZVMoney &b) { return zvdbMoneyCmp(a.AsMoney(), b.AsMoney()) < 0; }
bool operator<=(const ZVMoney &a, const ZVMoney &b) { return zvdbMoneyCmp(a.AsMoney(), b.AsMoney()) <= 0; }
bool operator>(const ZVMoney &a, const ZVMoney &b) { return zvdbMoneyCmp(a.AsMoney(), b.AsMoney()) > 0; }
bool operator>=(const ZVMoney &a, const ZVMoney &b) { return zvdbMoneyCmp(a.AsMoney(), b.AsMoney()) >= 0; }
bool operator==(const ZVMoney &a, const ZVMoney &b) { return zvdbMoneyCmp(a.AsMoney(), b.AsMoney()) == 0; }
bool operator!=(const ZVMoney &a, const ZVMoney &b) { return zvdbMoneyCmp(a.AsMoney(), b.AsMoney()) != 0; }

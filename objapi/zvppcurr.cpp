// ZVCurrency: ten-thousandths in 64 bits.
//
// Division checks for a zero divisor itself before the value routine is
// called, so that the failure names the division by zero.
#include <cstdint>

#include "objapi/valaccess.h"
#include "objapi/zvppxcep.h"

constexpr zvpp::Module kModule("objapi/zvppcurr");

ZVCurrency::ZVCurrency() : value(0) {}
ZVCurrency::ZVCurrency(int v) : value(0) { SetCurrency(v); }
ZVCurrency::ZVCurrency(double v) : value(0) { SetCurrency(v); }
ZVCurrency::ZVCurrency(const ZVMoney &v) : value(0) { SetCurrency(v); }
ZVCurrency::ZVCurrency(const ZVString &v) : value(0) { SetCurrency(v); }
ZVCurrency::ZVCurrency(const ZVBigint &v) : value(0) { SetCurrency(v); }
ZVCurrency::ZVCurrency(const ZVCurrency &other) : value(other.value) {}
ZVCurrency::~ZVCurrency() noexcept = default;

void ZVCurrency::SetCurrency(int v) {
    kModule.check(zvdbLongToCurrency(v, &value), "Can't convert long value to CURRENCY", 123);
}

void ZVCurrency::SetCurrency(double v) {
    kModule.check(zvdbFloatToCurrency(v, &value), "Can't convert float value to CURRENCY", 145);
}

void ZVCurrency::SetCurrency(const ZVMoney &v) {
    kModule.check(zvdbMoneyToCurrency(v.AsMoney(), &value), "Can't convert money value to CURRENCY", 167);
}

void ZVCurrency::SetCurrency(const ZVString &v) {
    kModule.check(zvdbStringToCurrency(v.c_str(), &value), "Can't convert string text to CURRENCY", 189);
}

void ZVCurrency::SetCurrency(const ZVBigint &v) {
    kModule.check(zvdbBigIntToCurrency(v.AsBigint(), &value), "Can't convert bigint value to CURRENCY", 211);
}

ZVCurrency ZVCurrency::Round(int decimals) const {
    ZVCurrency r(*this);
    kModule.check(zvdbCurrencyRound(&r.value, decimals), "Can't round CURRENCY value", 100);
    return r;
}

int ZVCurrency::AsLong() const {
    int32_t out = 0;
    kModule.check(zvdbCurrencyToLong(value, &out), "Can't convert CURRENCY to long", 233);
    return out;
}

double ZVCurrency::AsFloat() const {
    double out = 0;
    kModule.check(zvdbCurrencyToFloat(value, &out), "Can't convert CURRENCY to float", 256);
    return out;
}

ZVMoney ZVCurrency::AsMoney() const {
    ZVMoney r;
    kModule.check(zvdbCurrencyToMoney(value, &ZVValueAccess::of(r)), "Can't convert CURRENCY to money", 280);
    return r;
}

ZVString ZVCurrency::AsString() const {
    char text[128];
    kModule.check(zvdbCurrencyToString(value, text, sizeof text), "Can't convert CURRENCY to string", 305);
    return ZVString(text);
}

ZVBigint ZVCurrency::AsBigint() const {
    ZVBigint r;
    kModule.check(zvdbCurrencyToBigInt(value, &ZVValueAccess::of(r)), "Can't convert CURRENCY to bigint", 330);
    return r;
}

ZVCURRENCY ZVCurrency::AsCurrency() const { return value; }

bool ZVCurrency::IsZero() const { return value == 0; }

void ZVCurrency::Zero() { value = 0; }

ZVCurrency abs(const ZVCurrency &a) {
    ZVCurrency r;
    ZVValueAccess::of(r) = zvdbCurrencyAbs(a.AsCurrency());
    return r;
}

ZVCurrency operator+(const ZVCurrency &a, const ZVCurrency &b) {
    ZVCurrency r;
    kModule.check(zvdbCurrencyAdd(a.AsCurrency(), b.AsCurrency(), &ZVValueAccess::of(r)),
          "Can't add CURRENCY values", 392);
    return r;
}

ZVCurrency operator-(const ZVCurrency &a, const ZVCurrency &b) {
    ZVCurrency r;
    kModule.check(zvdbCurrencySub(a.AsCurrency(), b.AsCurrency(), &ZVValueAccess::of(r)),
          "Can't subtract CURRENCY values", 417);
    return r;
}

ZVCurrency operator*(const ZVCurrency &a, const ZVCurrency &b) {
    ZVCurrency r;
    kModule.check(zvdbCurrencyMul(a.AsCurrency(), b.AsCurrency(), &ZVValueAccess::of(r)),
          "Can't multiply CURRENCY values", 442);
    return r;
}

ZVCurrency operator/(const ZVCurrency &a, const ZVCurrency &b) {
    if (b.IsZero())
        kModule.fail(ZVDB_DIVIDE_BY_ZERO, "Division by zero in divide CURRENCY", 469);
    ZVCurrency r;
    kModule.check(zvdbCurrencyDiv(a.AsCurrency(), b.AsCurrency(), &ZVValueAccess::of(r)),
          "Can't divide CURRENCY values", 474);
    return r;
}

bool operator<(const ZVCurrency &a, const ZVCurrency &b) {
    return zvdbCurrencyCmp(a.AsCurrency(), b.AsCurrency()) < 0;
}
bool operator<=(const ZVCurrency &a, const ZVCurrency &b) {
    return zvdbCurrencyCmp(a.AsCurrency(), b.AsCurrency()) <= 0;
}
bool operator>(const ZVCurrency &a, const ZVCurrency &b) {
    return zvdbCurrencyCmp(a.AsCurrency(), b.AsCurrency()) > 0;
}
bool operator>=(const ZVCurrency &a, const ZVCurrency &b) {
    return zvdbCurrencyCmp(a.AsCurrency(), b.AsCurrency()) >= 0;
}
bool operator==(const ZVCurrency &a, const ZVCurrency &b) {
    return zvdbCurrencyCmp(a.AsCurrency(), b.AsCurrency()) == 0;
}
bool operator!=(const ZVCurrency &a, const ZVCurrency &b) {
    return zvdbCurrencyCmp(a.AsCurrency(), b.AsCurrency()) != 0;
}

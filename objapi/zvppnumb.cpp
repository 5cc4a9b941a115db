// ZVNumber: a 20-byte decimal number, owned by the object.
//
// Every object allocates its own number (zero to begin with) and copies
// values into it; no two objects share one, assignment included. Every
// constructor that sets a value delegates to the default one, so that the
// number is released when the setter throws.
#include <cstdint>

#include "objapi/valaccess.h"
#include "objapi/zvppxcep.h"

namespace {

constexpr zvpp::Module kModule("objapi/zvppnumb");

tagZVNUMBER *new_number() {
    auto *n = static_cast<tagZVNUMBER *>(_zvdb_alloc(1, sizeof(tagZVNUMBER)));
    if (!n) kModule.fail(ZVDB_NO_MEMORY, "Can't allocate number", __LINE__);
    zvdbNumberZero(n);
    return n;
}

// A binary operation of the value routines: (a, b, result).
using Operation = ZVDBRET (*)(const tagZVNUMBER *, const tagZVNUMBER *, tagZVNUMBER *);

}  // namespace

ZVNumber::ZVNumber() : number(new_number()) {}
ZVNumber::ZVNumber(int v) : ZVNumber() { SetNumber(v); }
ZVNumber::ZVNumber(double v) : ZVNumber() { SetNumber(v); }
ZVNumber::ZVNumber(const ZVMoney &v) : ZVNumber() { SetNumber(v); }
ZVNumber::ZVNumber(const ZVString &v) : ZVNumber() { SetNumber(v); }
ZVNumber::ZVNumber(const ZVBigint &v) : ZVNumber() { SetNumber(v); }
ZVNumber::ZVNumber(const ZVCurrency &v) : ZVNumber() { SetNumber(v); }
ZVNumber::ZVNumber(const ZVNumber &other) : ZVNumber() { SetNumber(other); }
ZVNumber::ZVNumber(tagZVNUMBER *n) : ZVNumber() { SetNumber(n); }
ZVNumber::~ZVNumber() noexcept { _zvdb_free(number); }

ZVNumber &ZVNumber::operator=(const ZVNumber &other) {
    SetNumber(other);
    return *this;
}

void ZVNumber::SetNumber(int v) {
    kModule.check(zvdbLongToNumber(v, number), "Can't convert long to number", 250);
}

void ZVNumber::SetNumber(double v) {
    kModule.check(zvdbFloatToNumber(v, number), "Can't convert float to number", 272);
}

void ZVNumber::SetNumber(const ZVMoney &v) {
    kModule.check(zvdbMoneyToNumber(v.AsMoney(), number), "Can't convert money to number", 294);
}

void ZVNumber::SetNumber(const ZVString &v) {
    kModule.check(zvdbStringToNumber(v.c_str(), number), "Can't convert string to number", 316);
}

void ZVNumber::SetNumber(const ZVBigint &v) {
    kModule.check(zvdbBigIntToNumber(v.AsBigint(), number), "Can't convert bigint to number", 338);
}

void ZVNumber::SetNumber(const ZVCurrency &v) {
    kModule.check(zvdbCurrencyToNumber(v.AsCurrency(), number), "Can't convert currency to number", 360);
}

void ZVNumber::SetNumber(const ZVNumber &v) {
    if (v.number == number) return;
    kModule.check(zvdbNumberCopy(number, v.number), "Can't copy number", 381);
}

void ZVNumber::SetNumber(tagZVNUMBER *n) {
    if (!n) kModule.fail(ZVDB_NULL_ARGUMENT, "Invalid NULL number", 402);
    if (n == number) return;
    kModule.check(zvdbNumberCopy(number, n), "Can't copy number", 407);
}

int ZVNumber::AsLong() const {
    int32_t out = 0;
    kModule.check(zvdbNumberToLong(number, &out), "Can't convert number to long", 429);
    return out;
}

double ZVNumber::AsFloat() const {
    double out = 0;
    kModule.check(zvdbNumberToFloat(number, &out), "Can't convert number to float", 452);
    return out;
}

ZVMoney ZVNumber::AsMoney() const {
    ZVMoney r;
    kModule.check(zvdbNumberToMoney(number, &ZVValueAccess::of(r)), "Can't convert number to money", 476);
    return r;
}

ZVString ZVNumber::AsString() const {
    char text[128];
    kModule.check(zvdbNumberToString(number, text, sizeof text), "Can't convert number to string", 501);
    return ZVString(text);
}

ZVBigint ZVNumber::AsBigint() const {
    ZVBigint r;
    kModule.check(zvdbNumberToBigInt(number, &ZVValueAccess::of(r)), "Can't convert number to bigint", 526);
    return r;
}

ZVCurrency ZVNumber::AsCurrency() const {
    ZVCurrency r;
    kModule.check(zvdbNumberToCurrency(number, &ZVValueAccess::of(r)), "Can't convert number to currency", 551);
    return r;
}

tagZVNUMBER *ZVNumber::AsNumber() const { return number; }

bool ZVNumber::IsZero() const { return zvdbIsNumberZero(number) != 0; }

void ZVNumber::Zero() { kModule.check(zvdbNumberZero(number), "Can't set number to zero", 156); }

int ZVNumber::IntegralDigits() const {
    int32_t integral = 0, decimal = 0;
    kModule.check(zvdbNumberGetDecimal(number, &integral, &decimal), "Can't get the number of integral digits",
          203);
    return integral;
}

int ZVNumber::DecimalDigits() const {
    int32_t integral = 0, decimal = 0;
    kModule.check(zvdbNumberGetDecimal(number, &integral, &decimal), "Can't get the number of decimal digits",
          227);
    return decimal;
}

ZVNumber ZVNumber::Round(int decimals) const {
    ZVNumber r(*this);
    kModule.check(zvdbNumberRound(r.number, decimals), "Can't round number", 179);
    return r;
}

namespace {

// a = a op b through a temporary result.
void apply_into(ZVNumber &a, const ZVNumber &b, Operation op, const char *message, int line) {
    ZVNumber t;
    kModule.check(op(a.AsNumber(), b.AsNumber(), t.AsNumber()), message, line);
    kModule.check(zvdbNumberCopy(a.AsNumber(), t.AsNumber()), message, line);
}

ZVNumber applied(const ZVNumber &a, const ZVNumber &b, Operation op, const char *message, int line) {
    ZVNumber r;
    kModule.check(op(a.AsNumber(), b.AsNumber(), r.AsNumber()), message, line);
    return r;
}

}  // namespace

void ZVNumber::add(ZVNumber &a, const ZVNumber &b) {
    apply_into(a, b, zvdbNumberAdd, "Can't add two numbers", 825);
}

void ZVNumber::sub(ZVNumber &a, const ZVNumber &b) {
    apply_into(a, b, zvdbNumberSub, "Can't subtract two numbers", 850);
}

void ZVNumber::mul(ZVNumber &a, const ZVNumber &b) {
    apply_into(a, b, zvdbNumberMul, "Can't multiply two numbers", 875);
}

void ZVNumber::div(ZVNumber &a, const ZVNumber &b) {
    if (b.IsZero()) kModule.fail(ZVDB_DIVIDE_BY_ZERO, "Division by zero in number", 900);
    apply_into(a, b, zvdbNumberDiv, "Can't divide two numbers", 905);
}

ZVNumber abs(const ZVNumber &a) {
    ZVNumber r;
    kModule.check(zvdbNumberAbs(a.AsNumber(), r.AsNumber()), "Can't retrieve the abs value of number", 591);
    return r;
}

ZVNumber operator+(const ZVNumber &a, const ZVNumber &b) {
    return applied(a, b, zvdbNumberAdd, "Can't add two numbers", 616);
}

ZVNumber operator-(const ZVNumber &a, const ZVNumber &b) {
    return applied(a, b, zvdbNumberSub, "Can't subtract two numbers", 641);
}

ZVNumber operator*(const ZVNumber &a, const ZVNumber &b) {
    return applied(a, b, zvdbNumberMul, "Can't multiply two numbers", 666);
}

ZVNumber operator/(const ZVNumber &a, const ZVNumber &b) {
    if (b.IsZero()) kModule.fail(ZVDB_DIVIDE_BY_ZERO, "Division by zero in number", 693);
    return applied(a, b, zvdbNumberDiv, "Can't divide two numbers", 698);
}

bool operator<(const ZVNumber &a, const ZVNumber &b) { return zvdbNumberCmp(a.AsNumber(), b.AsNumber()) < 0; }
bool operator<=(const ZVNumber &a, const ZVNumber &b) {
    return zvdbNumberCmp(a.AsNumber(), b.AsNumber()) <= 0;
}
bool operator>(const ZVNumber &a, const ZVNumber &b) { return zvdbNumberCmp(a.AsNumber(), b.AsNumber()) > 0; }
bool operator>=(const ZVNumber &a, const ZVNumber &b) {
    return zvdbNumberCmp(a.AsNumber(), b.AsNumber()) >= 0;
}
bool operator==(const ZVNumber &a, const ZVNumber &b) {
    return zvdbNumberCmp(a.AsNumber(), b.AsNumber()) == 0;
}
bool operator!=(const ZVNumber &a, const ZVNumber &b) {
    return zvdbNumberCmp(a.AsNumber(), b.AsNumber()) != 0;
}

// ZVDate: a day number (1 is 1 March 1700; 0 is no date).
//
// Pack takes each part modulo 2^16 as a signed 16-bit value before checking
// it, so a year of 70000 is checked and packed as 4464.
#include <cstdint>

#include "objapi/zvppxcep.h"

constexpr zvpp::Module kModule("objapi/zvppdate");

ZVDate::ZVDate() : value(0) {}
ZVDate::ZVDate(const ZVDate &other) : value(other.value) {}
ZVDate::~ZVDate() noexcept = default;

void ZVDate::Pack(int year, int month, int day) {
    int y = int16_t(year), m = int16_t(month), d = int16_t(day);
    kModule.check(zvdbDateCheck(y, m, d), "Can't pack date value", 71);
    kModule.check(zvdbDatePack(&value, y, m, d), "Can't pack date value", 71);
}

void ZVDate::Unpack(int &year, int &month, int &day) const {
    kModule.check(zvdbDateUnpack(value, &year, &month, &day), "Can't unpack date value", 94);
}

int ZVDate::Year() const {
    int y = 0, m = 0, d = 0;
    Unpack(y, m, d);
    return y;
}

int ZVDate::Month() const {
    int y = 0, m = 0, d = 0;
    Unpack(y, m, d);
    return m;
}

int ZVDate::Day() const {
    int y = 0, m = 0, d = 0;
    Unpack(y, m, d);
    return d;
}

int ZVDate::DayOfWeek() const { return zvdbDayOfWeek(value); }

bool ZVDate::IsLeapYear() const { return zvdbIsLeapYear(value) != 0; }

void ZVDate::StringToDate(const ZVString &text, ZVDATE_TYPE type) {
    kModule.check(zvdbStringToDate(text.c_str(), type, &value), "Can't convert string to date", 236);
}

ZVString ZVDate::DateToString(ZVDATE_TYPE type) const {
    char text[33];
    kModule.check(zvdbDateToString(value, type, text, sizeof text), "Can't convert date to string", 209);
    return ZVString(text);
}

ZVDate ZVDate::CurrentDate() {
    ZVDate r;
    kModule.check(zvdbCurrentDate(&r.value), "Can't retrieve the current system date", 258);
    return r;
}

// ZVDateTime: days since 30 December 1899 plus the day's fraction.
#include "objapi/zvppxcep.h"

namespace {

constexpr zvpp::Module kModule("objapi/zvppdati");

struct Parts {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

Parts parts_of(const ZVDateTime &v) {
    Parts p;
    v.Unpack(p.year, p.month, p.day, p.hour, p.minute, p.second);
    return p;
}

}  // namespace

ZVDateTime::ZVDateTime() : value(0) {}
ZVDateTime::ZVDateTime(ZVDATE date, ZVTIME time) : value(0) { SetDateTime(date, time); }
ZVDateTime::ZVDateTime(const ZVDate &date, const ZVTime &time) : value(0) { SetDateTime(date, time); }
ZVDateTime::ZVDateTime(const ZVDateTime &other) : value(other.value) {}
ZVDateTime::~ZVDateTime() noexcept = default;

void ZVDateTime::SetDateTime(ZVDATE date, ZVTIME time) {
    Parts p;
    const char *message = "Can't set the date and time";
    kModule.check(zvdbDateUnpack(date, &p.year, &p.month, &p.day), message, 79);
    kModule.check(zvdbTimeUnpack(time, &p.hour, &p.minute, &p.second), message, 79);
    kModule.check(zvdbDateTimePack(&value, p.year, p.month, p.day, p.hour, p.minute, p.second), message, 79);
}

void ZVDateTime::SetDateTime(const ZVDate &date, const ZVTime &time) {
    Parts p;
    date.Unpack(p.year, p.month, p.day);
    time.Unpack(p.hour, p.minute, p.second);
    kModule.check(zvdbDateTimePack(&value, p.year, p.month, p.day, p.hour, p.minute, p.second),
          "Can't set the date and time", 103);
}

void ZVDateTime::Pack(int year, int month, int day, int hour, int minute, int second) {
    kModule.check(zvdbDateTimePack(&value, year, month, day, hour, minute, second), "Can't pack the date and time",
          129);
}

void ZVDateTime::Unpack(int &year, int &month, int &day, int &hour, int &minute, int &second) const {
    kModule.check(zvdbDateTimeUnpack(value, &year, &month, &day, &hour, &minute, &second),
          "Can't unpack the date and time", 156);
}

ZVDate ZVDateTime::GetDate() const {
    Parts p = parts_of(*this);
    ZVDate r;
    r.Pack(p.year, p.month, p.day);
    return r;
}

ZVTime ZVDateTime::GetTime() const {
    Parts p = parts_of(*this);
    ZVTime r;
    r.Pack(p.hour, p.minute, p.second);
    return r;
}

int ZVDateTime::Year() const { return parts_of(*this).year; }
int ZVDateTime::Month() const { return parts_of(*this).month; }
int ZVDateTime::Day() const { return parts_of(*this).day; }
int ZVDateTime::Hour() const { return parts_of(*this).hour; }
int ZVDateTime::Minute() const { return parts_of(*this).minute; }
int ZVDateTime::Second() const { return parts_of(*this).second; }

int ZVDateTime::DayOfWeek() const { return GetDate().DayOfWeek(); }

bool ZVDateTime::IsLeapYear() const { return GetDate().IsLeapYear(); }

void ZVDateTime::StringToDateTime(const ZVString &text, ZVDATE_TYPE datetype, ZVTIME_TYPE timetype) {
    kModule.check(zvdbStringToDateTime(text.c_str(), &value, datetype, timetype),
          "Can't convert string to date and time", 404);
}

ZVString ZVDateTime::DateTimeToString(ZVDATE_TYPE datetype, ZVTIME_TYPE timetype) const {
    char text[65];
    kModule.check(zvdbDateTimeToString(value, datetype, timetype, text, sizeof text),
          "Can't convert date and time to string", 374);
    return ZVString(text);
}

ZVDateTime ZVDateTime::CurrentDateTime() {
    ZVDateTime r;
    kModule.check(zvdbCurrentDateTime(&r.value), "Can't retrieve current system date and time", 427);
    return r;
}

ZVDateTime ZVDateTime::CurrentDate() {
    ZVDateTime r;
    r.SetDateTime(ZVDate::CurrentDate(), ZVTime());
    return r;
}

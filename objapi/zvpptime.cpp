// ZVTime: seconds since midnight.
#include "objapi/zvppxcep.h"

constexpr zvpp::Module kModule("objapi/zvpptime");

ZVTime::ZVTime() : value(0) {}
ZVTime::ZVTime(const ZVTime &other) : value(other.value) {}
ZVTime::~ZVTime() noexcept = default;

void ZVTime::Pack(int hour, int minute, int second) {
    kModule.check(zvdbTimePack(&value, hour, minute, second), "Can't pack the time", 66);
}

void ZVTime::Unpack(int &hour, int &minute, int &second) const {
    kModule.check(zvdbTimeUnpack(value, &hour, &minute, &second), "Can't unpack the time", 90);
}

int ZVTime::Hour() const {
    int h = 0, m = 0, s = 0;
    Unpack(h, m, s);
    return h;
}

int ZVTime::Minute() const {
    int h = 0, m = 0, s = 0;
    Unpack(h, m, s);
    return m;
}

int ZVTime::Second() const {
    int h = 0, m = 0, s = 0;
    Unpack(h, m, s);
    return s;
}

void ZVTime::StringToTime(const ZVString &text, ZVTIME_TYPE type) {
    kModule.check(zvdbStringToTime(text.c_str(), type, &value), "Can't convert string to time", 199);
}

ZVString ZVTime::TimeToString(ZVTIME_TYPE type) const {
    char text[33];
    kModule.check(zvdbTimeToString(value, type, text, sizeof text), "Can't convert time to string", 173);
    return ZVString(text);
}

ZVTime ZVTime::CurrentTime() {
    ZVTime r;
    kModule.check(zvdbCurrentTime(&r.value), "Can't retrieve the current system time", 221);
    return r;
}

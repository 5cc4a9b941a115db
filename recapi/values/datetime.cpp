// Date-time values.
//
// A ZVDATETIME is a double: the integer part is the day number less 72988
// (30 December 1899 is 0, 1 January 1900 is 2), the fraction the milliseconds
// since midnight over 86400000. Before 30 December 1899 the fraction is
// subtracted from the negative integer part, so the integer part always names
// the day and the fraction's magnitude the time. 0.0 means no date-time;
// packing refuses years before 1900, so packed values are at least 2.0.
#include <cmath>
#include <cstdio>

#include "recapi/values/date.h"
#include "recapi/values/dtparse.h"
#include "recapi/values/valtext.h"
#include "zarvo/zvdb.h"

namespace {

constexpr double kMsPerDay = 86400000.0;
constexpr int64_t kDayZero = 72988;
constexpr double kMaxDay = 42327756.0;

struct Parts {
    int year, month, day, hour, minute, second, ms;
};

ZVDBRET pack(ZVDATETIME *out, const Parts &p) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    if (p.year <= 1899) return ZVDB_BAD_DATE;
    ZVDATE date;
    ZVDBRET rc = zvdbDatePack(&date, p.year, p.month, p.day);
    if (rc) return rc;
    ZVTIME time;
    rc = zvdbTimePackMsec(&time, p.hour, p.minute, p.second, p.ms);
    if (rc) return rc;
    *out = double(int64_t(date) - kDayZero) + time / kMsPerDay;
    return 0;
}

// Splits a value into its parts; nothing is written on failure.
ZVDBRET split(ZVDATETIME value, Parts *p) {
    if (value == 0.0) return ZVDB_ZERO_DATETIME;
    if (!std::isfinite(value)) return ZVDB_BAD_DATE;
    double whole;
    double frac = std::fabs(std::modf(value, &whole));
    double t = frac * kMsPerDay;
    if (t != 0) {
        double fl = std::floor(t);
        t = t - fl >= 0.5 ? fl + 1 : fl;
    }
    Parts r;
    r.hour = int(std::floor(t / 3600000));
    t -= r.hour * 3600000.0;
    r.minute = int(std::floor(t / 60000));
    t -= r.minute * 60000.0;
    r.second = int(std::floor(t / 1000));
    r.ms = int(t - r.second * 1000.0 + 0.00001);
    ZVDBRET rc = zvdbTimeCheckMsec(r.hour, r.minute, r.second, r.ms);
    if (rc) return rc;
    double day = whole + double(kDayZero);
    if (day < 1 || day > kMaxDay) return ZVDB_BAD_DATE;
    rc = zvdbDateUnpack(ZVDATE(day), &r.year, &r.month, &r.day);
    if (rc) return rc;
    *p = r;
    return 0;
}

void put(const Parts &p, int *year, int *month, int *day, int *hour, int *minute, int *second,
         int *ms) {
    if (year) *year = p.year;
    if (month) *month = p.month;
    if (day) *day = p.day;
    if (hour) *hour = p.hour;
    if (minute) *minute = p.minute;
    if (second) *second = p.second;
    if (ms) *ms = p.ms;
}

// Time patterns of date-time text: each begins with the blanks that separate
// the time from the date.
const char *time_pattern(ZVTIME_TYPE type) {
    switch (type) {
    case 1: case 6: return " +([0-9]+) *[:.] *([0-9]+) *[:.] *([0-9]*) *([AaPp][Mm])";
    case 2: case 7: return " +([0-9]+) *[:.] *([0-9]+) *([AaPp][Mm])";
    case 3: case 8: return " +([0-9]+) *[:.] *([0-9]+) *[:.] *([0-9]*) *";
    case 4: case 9: return " +([0-9]+) *[:.] *([0-9]+) *";
    case 5: return " +([0-9]+) *";
    default: return " +([0-9]+) *[:.] *([0-9]+) *[:.] *([0-9]*) *([.:]*) *([0-9]*) *";
    }
}

// Reads the time groups that follow `o` date groups.
ZVDBRET time_groups(const zvdb_regexp *re, ZVTIME_TYPE type, int o, Parts *p) {
    int ampm = 0;
    switch (type) {
    case 1: case 6: case 3: case 8: case 10: case 11:
        p->hour = zv::group_number(re, o + 1);
        p->minute = zv::group_number(re, o + 2);
        p->second = zv::group_number(re, o + 3);
        if (type == 1 || type == 6) ampm = o + 4;
        if (type >= 10) p->ms = zv::group_number(re, o + 5);
        break;
    case 2: case 7: case 4: case 9:
        p->hour = zv::group_number(re, o + 1);
        p->minute = zv::group_number(re, o + 2);
        if (type == 2 || type == 7) ampm = o + 3;
        break;
    default:  // 5: HHMM
        if (zv::group_length(re, o + 1) != 4) return ZVDB_BAD_SYSTIME;
        p->hour = zv::group_digits(re, o + 1, 0, 2);
        p->minute = zv::group_digits(re, o + 1, 2, 2);
        break;
    }
    if (ampm) {
        // "PM" adds 12 to an hour below 12; otherwise 12 is midnight.
        char c = zv::group_first(re, ampm);
        if (c == 'P' || c == 'p') {
            if (p->hour < 12) p->hour += 12;
        } else if (p->hour == 12) {
            p->hour = 0;
        }
    }
    return 0;
}

ZVDBRET parse_datetime(zvdb_regexp *re, const char *text, ZVDATETIME *out, ZVDATE_TYPE dt,
                       ZVTIME_TYPE tt) {
    bool compact = dt == 5 || dt == 6;
    const char *datepat =
        compact ? " *([0-9]+)" : " *([0-9]+)[./-] *([0-9]+)[./-] *([0-9]+)";
    const char *timepat = time_pattern(tt);
    int ndate = compact ? 1 : 3;
    Parts p = {};
    char pattern[256];
    std::snprintf(pattern, sizeof pattern, "%s%s", datepat, timepat);
    ZVDBRET rc = zv::match_text(re, pattern, text, ZVDB_BAD_FORMAT);
    if (rc == 0) {
        rc = zv::date_groups(re, dt, &p.year, &p.month, &p.day);
        if (!rc) rc = time_groups(re, tt, ndate, &p);
    } else if (rc == ZVDB_BAD_FORMAT) {
        rc = zv::match_text(re, datepat, text, ZVDB_BAD_FORMAT);
        if (rc == 0) {
            rc = zv::date_groups(re, dt, &p.year, &p.month, &p.day);
        } else if (rc == ZVDB_BAD_FORMAT) {
            // A time without a date: read it, then packing refuses it.
            std::snprintf(pattern, sizeof pattern, " *%s", timepat + 2);
            rc = zv::match_text(re, pattern, text, ZVDB_BAD_FORMAT);
            if (!rc) rc = time_groups(re, tt, 0, &p);
        }
    }
    if (rc) return rc;
    return pack(out, p);
}

}  // namespace

extern "C" {

ZV_API ZVDBRET zvdbDateTimePack(ZVDATETIME *out, int year, int month, int day, int hour,
                                int minute, int second) {
    return pack(out, Parts{year, month, day, hour, minute, second, 0});
}

ZV_API ZVDBRET zvdbDateTimePackMsec(ZVDATETIME *out, int year, int month, int day, int hour,
                                    int minute, int second, int ms) {
    return pack(out, Parts{year, month, day, hour, minute, second, ms});
}

ZV_API ZVDBRET zvdbDateTimeUnpack(ZVDATETIME value, int *year, int *month, int *day,
                                  int *hour, int *minute, int *second) {
    Parts p;
    ZVDBRET rc = split(value, &p);
    if (rc) return rc;
    put(p, year, month, day, hour, minute, second, nullptr);
    return 0;
}

ZV_API ZVDBRET zvdbDateTimeUnpackMsec(ZVDATETIME value, int *year, int *month, int *day,
                                      int *hour, int *minute, int *second, int *ms) {
    Parts p;
    ZVDBRET rc = split(value, &p);
    if (rc) return rc;
    put(p, year, month, day, hour, minute, second, ms);
    return 0;
}

ZV_API ZVDBRET zvdbDateTimeGetDate(ZVDATETIME value, ZVDATE *out) {
    if (value == 0.0) return ZVDB_ZERO_DATETIME;
    if (!out) return ZVDB_NULL_ARGUMENT;
    Parts p;
    ZVDBRET rc = split(value, &p);
    return rc ? rc : zvdbDatePack(out, p.year, p.month, p.day);
}

ZV_API ZVDBRET zvdbDateTimeGetTime(ZVDATETIME value, ZVTIME *out) {
    if (value == 0.0) return ZVDB_ZERO_DATETIME;
    if (!out) return ZVDB_NULL_ARGUMENT;
    Parts p;
    ZVDBRET rc = split(value, &p);
    return rc ? rc : zvdbTimePack(out, p.hour, p.minute, p.second);
}

ZV_API ZVDBRET zvdbDateTimeGetTimeMsec(ZVDATETIME value, ZVTIME *out) {
    if (value == 0.0) return ZVDB_ZERO_DATETIME;
    if (!out) return ZVDB_NULL_ARGUMENT;
    Parts p;
    ZVDBRET rc = split(value, &p);
    return rc ? rc : zvdbTimePackMsec(out, p.hour, p.minute, p.second, p.ms);
}

ZV_API ZVDBRET zvdbDateTimeSetDate(ZVDATETIME *value, ZVDATE date) {
    if (!value) return ZVDB_NULL_ARGUMENT;
    Parts p = {};
    if (*value != 0.0) {
        ZVDBRET rc = split(*value, &p);
        if (rc) return rc;
    }
    ZVDBRET rc = zvdbDateUnpack(date, &p.year, &p.month, &p.day);
    if (rc) return rc;
    p.ms = 0;
    return pack(value, p);
}

ZV_API ZVDBRET zvdbDateTimeSetTime(ZVDATETIME *value, ZVTIME time) {
    if (!value) return ZVDB_NULL_ARGUMENT;
    Parts p;
    ZVDBRET rc = split(*value, &p);
    if (rc) return rc;
    rc = zvdbTimeUnpack(time, &p.hour, &p.minute, &p.second);
    if (rc) return rc;
    p.ms = 0;
    return pack(value, p);
}

ZV_API ZVDBRET zvdbDateTimeSetTimeMsec(ZVDATETIME *value, ZVTIME time) {
    if (!value) return ZVDB_NULL_ARGUMENT;
    Parts p;
    ZVDBRET rc = split(*value, &p);
    if (rc) return rc;
    rc = zvdbTimeUnpackMsec(time, &p.hour, &p.minute, &p.second, &p.ms);
    if (rc) return rc;
    return pack(value, p);
}

ZV_API ZVDBRET zvdbDateTimeToString(ZVDATETIME value, ZVDATE_TYPE datetype,
                                    ZVTIME_TYPE timetype, char *buffer, int32_t size) {
    if (value == 0.0) return ZVDB_ZERO_DATETIME;
    if (!buffer) return ZVDB_NULL_ARGUMENT;
    ZVDATE date;
    ZVTIME time;
    ZVDBRET rc = zvdbDateTimeGetDate(value, &date);
    if (!rc) rc = zvdbDateTimeGetTimeMsec(value, &time);
    if (rc) return rc;
    char dtext[33], ttext[33], text[70];
    rc = zvdbDateToString(date, datetype, dtext, sizeof dtext);
    if (rc) return rc;
    rc = zvdbTimeMsecToString(time, timetype, ttext, sizeof ttext);
    if (rc) return rc;
    int n = std::snprintf(text, sizeof text, "%s %s", dtext, ttext);
    return zv::put_text(text, size_t(n), buffer, size);
}

ZV_API ZVDBRET zvdbStringToDateTime(const char *text, ZVDATETIME *out, ZVDATE_TYPE datetype,
                                    ZVTIME_TYPE timetype) {
    if (!text || !out) return ZVDB_NULL_ARGUMENT;
    if (datetype < 1 || datetype > 6 || timetype < 1 || timetype > 11) return ZVDB_BAD_TYPE;
    zvdb_regexp *re = zvdb_regnew();
    if (!re) return ZVDB_NO_MEMORY;
    ZVDBRET rc = parse_datetime(re, text, out, datetype, timetype);
    zvdb_regfree(re);
    return rc;
}

ZV_API ZVDBRET zvdbCurrentDateTime(ZVDATETIME *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    Parts p = {};
    ZVDBRET rc = _zvdbSysTime(&p.year, &p.month, &p.day, &p.hour, &p.minute, &p.second);
    return rc ? rc : pack(out, p);
}

ZV_API ZVDBRET zvdbCurrentDateTimeUTC(ZVDATETIME *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    tagZVDBUNIXTIME now;
    ZVDBRET rc = _zvdbUnixTime(&now);
    if (rc) return rc;
    Parts p = {};
    rc = _zvdbUTCTime(now.seconds, &p.year, &p.month, &p.day, &p.hour, &p.minute, &p.second);
    if (rc) return rc;
    p.ms = int(now.nanoseconds / 1000000);
    return pack(out, p);
}

ZV_API ZVDBRET zvdbCurrentTimestamp(int64_t *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    tagZVDBUNIXTIME now;
    ZVDBRET rc = _zvdbUnixTime(&now);
    if (rc) return rc;
    *out = now.seconds * 1000000 + now.nanoseconds / 1000;
    return 0;
}

ZV_API ZVDBRET zvdbStringFormatToDateTime(const char *, const char *, ZVDATETIME *) {
    return ZVDB_NOT_SUPPORTED;
}

ZV_API ZVDBRET zvdbDateTimeToStringFormat(ZVDATETIME, const char *, char *, int32_t) {
    return ZVDB_NOT_SUPPORTED;
}

ZV_API int _zvdbDateTimeStringFormatSort(const char *format) {
    static const char *const orders[] = {
        "^[yY]*[mM]*[dD]*[hH]*[nN]*[sS]*[tT]*$",
        "^[jJ]+$",
        "^[yY]*[eE]*[hH]*[nN]*[sS]*[tT]*$",
    };
    if (!format) return 0;
    zvdb_regexp *re = zvdb_regnew();
    if (!re) return 0;
    int sorted = 0;
    for (const char *pattern : orders) {
        if (zvdb_regcomp(re, pattern) != 0) break;
        if (zvdb_regexec(re, format) == 0) {
            sorted = 1;
            break;
        }
    }
    zvdb_regfree(re);
    return sorted;
}

}  // extern "C"

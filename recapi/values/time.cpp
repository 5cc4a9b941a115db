// Time values.
//
// A ZVTIME counts from midnight: whole seconds (0..86399), or milliseconds
// (0..86399999) in the routines whose names end in Msec; the value carries no
// mark of its unit. Text forms are chosen by ZVTIME_TYPE 1..11; parsing runs
// on the regular-expression matcher.
#include <cstdio>

#include "recapi/values/dtparse.h"
#include "recapi/values/valtext.h"
#include "zarvo/zvdb.h"

namespace {

ZVDBRET time_to_string(ZVTIME time, ZVTIME_TYPE type, char *buffer, int32_t size, bool withms) {
    if (!buffer) return ZVDB_NULL_ARGUMENT;
    int h, m, s, ms = 0;
    ZVDBRET rc = withms ? zvdbTimeUnpackMsec(time, &h, &m, &s, &ms) : zvdbTimeUnpack(time, &h, &m, &s);
    if (rc) return rc;
    if (type < 1 || type > 11) return ZVDB_BAD_FORMAT;
    // 12-hour forms: 0 is 12 AM, 12 is 12 PM, 13..23 are 1..11 PM.
    int h12 = h % 12 == 0 ? 12 : h % 12;
    const char *ampm = h < 12 ? "AM" : "PM";
    char text[64];
    int n = 0;
    switch (type) {
    case 1: n = std::snprintf(text, sizeof text, "%2d:%02d:%02d %s", h12, m, s, ampm); break;
    case 2: n = std::snprintf(text, sizeof text, "%2d:%02d %s", h12, m, ampm); break;
    case 3: n = std::snprintf(text, sizeof text, "%2d:%02d:%02d", h, m, s); break;
    case 4: n = std::snprintf(text, sizeof text, "%2d:%02d", h, m); break;
    case 5: n = std::snprintf(text, sizeof text, "%02d%02d", h, m); break;
    case 6: n = std::snprintf(text, sizeof text, "%02d:%02d:%02d %s", h12, m, s, ampm); break;
    case 7: n = std::snprintf(text, sizeof text, "%02d:%02d %s", h12, m, ampm); break;
    case 8: n = std::snprintf(text, sizeof text, "%02d:%02d:%02d", h, m, s); break;
    case 9: n = std::snprintf(text, sizeof text, "%02d:%02d", h, m); break;
    case 10: n = std::snprintf(text, sizeof text, "%2d:%02d:%02d.%03d", h, m, s, ms); break;
    default: n = std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", h, m, s, ms); break;
    }
    return zv::put_text(text, size_t(n), buffer, size);
}

const char *time_pattern(ZVTIME_TYPE type) {
    switch (type) {
    case 1: case 6: return " *([0-9]+) *[:.] *([0-9]+) *[:.] *([0-9]*) *([AaPp][Mm])";
    case 2: case 7: return " *([0-9]+) *[:.] *([0-9]+) *([AaPp][Mm])";
    case 3: case 8: return " *([0-9]+) *[:.] *([0-9]+) *[:.] *([0-9]*) *";
    case 4: case 9: return " *([0-9]+) *[:.] *([0-9]+) *";
    case 5: return " *([0-9]+) *";
    case 10: case 11: return " *([0-9]+) *[:.] *([0-9]+) *[:.] *([0-9]+) *([:.]*) *([0-9]*) *";
    default: return nullptr;
    }
}

ZVDBRET parse_time(zvdb_regexp *re, const char *text, ZVTIME_TYPE type, ZVTIME *out, bool withms) {
    const char *pattern = time_pattern(type);
    if (!pattern) return ZVDB_BAD_FORMAT;
    ZVDBRET rc = zv::match_text(re, pattern, text, ZVDB_BAD_SYSTIME);
    if (rc) return rc;
    int h = 0, m = 0, s = 0, ms = 0, ampm = 0;
    switch (type) {
    case 1: case 6: case 3: case 8: case 10: case 11:
        h = zv::group_number(re, 1);
        m = zv::group_number(re, 2);
        s = zv::group_number(re, 3);
        if (type == 1 || type == 6) ampm = 4;
        if (type >= 10) ms = zv::group_number(re, 5);
        break;
    case 2: case 7: case 4: case 9:
        h = zv::group_number(re, 1);
        m = zv::group_number(re, 2);
        if (type == 2 || type == 7) ampm = 3;
        break;
    default:  // 5: HHMM
        if (zv::group_length(re, 1) != 4) return ZVDB_BAD_SYSTIME;
        h = zv::group_digits(re, 1, 0, 2);
        m = zv::group_digits(re, 1, 2, 2);
        break;
    }
    if (ampm) {
        // "PM" adds 12 to every hour but 12; otherwise 12 is midnight.
        char c = zv::group_first(re, ampm);
        if (c == 'P' || c == 'p') {
            if (h != 12) h += 12;
        } else if (h == 12) {
            h = 0;
        }
    }
    return withms ? zvdbTimePackMsec(out, h, m, s, ms) : zvdbTimePack(out, h, m, s);
}

ZVDBRET string_to_time(const char *text, ZVTIME_TYPE type, ZVTIME *out, bool withms) {
    if (!text || !out) return ZVDB_NULL_ARGUMENT;
    zvdb_regexp *re = zvdb_regnew();
    if (!re) return ZVDB_NO_MEMORY;
    ZVDBRET rc = parse_time(re, text, type, out, withms);
    zvdb_regfree(re);
    return rc;
}

}  // namespace

extern "C" {

ZV_API ZVDBRET zvdbTimeCheck(int hour, int minute, int second) {
    if (unsigned(hour) > 23) return ZVDB_BAD_HOUR;
    if (unsigned(minute) > 59) return ZVDB_BAD_MINUTE;
    if (unsigned(second) > 59) return ZVDB_BAD_SECOND;
    return 0;
}

ZV_API ZVDBRET zvdbTimeCheckMsec(int hour, int minute, int second, int ms) {
    ZVDBRET rc = zvdbTimeCheck(hour, minute, second);
    if (rc) return rc;
    return unsigned(ms) > 999 ? ZVDB_BAD_MSEC : 0;
}

ZV_API ZVDBRET zvdbTimePack(ZVTIME *out, int hour, int minute, int second) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    ZVDBRET rc = zvdbTimeCheck(hour, minute, second);
    if (rc) return rc;
    *out = ZVTIME(hour * 3600 + minute * 60 + second);
    return 0;
}

ZV_API ZVDBRET zvdbTimePackMsec(ZVTIME *out, int hour, int minute, int second, int ms) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    ZVDBRET rc = zvdbTimeCheckMsec(hour, minute, second, ms);
    if (rc) return rc;
    *out = ZVTIME(hour * 3600000 + minute * 60000 + second * 1000 + ms);
    return 0;
}

ZV_API ZVDBRET zvdbTimeUnpack(ZVTIME time, int *hour, int *minute, int *second) {
    uint32_t h = time / 3600, m = (time % 3600) / 60, s = time % 60;
    ZVDBRET rc = zvdbTimeCheck(int(h), int(m), int(s));
    if (rc) return rc;
    if (hour) *hour = int(h);
    if (minute) *minute = int(m);
    if (second) *second = int(s);
    return 0;
}

ZV_API ZVDBRET zvdbTimeUnpackMsec(ZVTIME time, int *hour, int *minute, int *second, int *ms) {
    uint32_t h = time / 3600000, m = (time % 3600000) / 60000, s = (time % 60000) / 1000;
    ZVDBRET rc = zvdbTimeCheckMsec(int(h), int(m), int(s), int(time % 1000));
    if (rc) return rc;
    if (hour) *hour = int(h);
    if (minute) *minute = int(m);
    if (second) *second = int(s);
    if (ms) *ms = int(time % 1000);
    return 0;
}

ZV_API int zvdbGetHour(ZVTIME time) {
    int h;
    return zvdbTimeUnpack(time, &h, nullptr, nullptr) ? -1 : h;
}

ZV_API int zvdbGetMinute(ZVTIME time) {
    int m;
    return zvdbTimeUnpack(time, nullptr, &m, nullptr) ? -1 : m;
}

ZV_API int zvdbGetSecond(ZVTIME time) {
    int s;
    return zvdbTimeUnpack(time, nullptr, nullptr, &s) ? -1 : s;
}

ZV_API ZVDBRET zvdbTimeToString(ZVTIME time, ZVTIME_TYPE type, char *buffer, int32_t size) {
    return time_to_string(time, type, buffer, size, false);
}

ZV_API ZVDBRET zvdbTimeMsecToString(ZVTIME time, ZVTIME_TYPE type, char *buffer, int32_t size) {
    return time_to_string(time, type, buffer, size, true);
}

ZV_API ZVDBRET zvdbStringToTime(const char *text, ZVTIME_TYPE type, ZVTIME *out) {
    return string_to_time(text, type, out, false);
}

ZV_API ZVDBRET zvdbStringToTimeMsec(const char *text, ZVTIME_TYPE type, ZVTIME *out) {
    return string_to_time(text, type, out, true);
}

ZV_API ZVDBRET zvdbCurrentTime(ZVTIME *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    int h, m, s;
    ZVDBRET rc = _zvdbSysTime(nullptr, nullptr, nullptr, &h, &m, &s);
    return rc ? rc : zvdbTimePack(out, h, m, s);
}

ZV_API ZVDBRET zvdbStringFormatToTime(const char *, const char *, ZVTIME *) {
    return ZVDB_NOT_SUPPORTED;
}

ZV_API ZVDBRET zvdbTimeToStringFormat(ZVTIME, const char *, char *, int32_t) {
    return ZVDB_NOT_SUPPORTED;
}

ZV_API ZVDBRET zvdbTimeMsecToStringFormat(ZVTIME, const char *, char *, int32_t) {
    return ZVDB_NOT_SUPPORTED;
}

ZV_API ZVDBRET zvdbStringFormatToTimeMsec(const char *, const char *, ZVTIME *) {
    return ZVDB_NOT_SUPPORTED;
}

}  // extern "C"

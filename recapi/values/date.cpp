// Date values.
//
// A ZVDATE is a day number of the proleptic Gregorian calendar: day 1 is
// 1 March 1700, each following day adds 1, and 0 means no date. Packing
// accepts 1 March 1700 to 31 December 117588 (day 42327529); splitting
// accepts days 1 to 42327756 (15 August 117589). Text forms are chosen by
// ZVDATE_TYPE; parsing runs on the regular-expression matcher.
#include <cstdio>

#include "recapi/values/date.h"

#include "recapi/values/dtparse.h"
#include "recapi/values/valtext.h"
#include "zarvo/zvdb.h"

namespace {

constexpr int kMinYear = 1700;
constexpr int kMaxYear = 117588;
constexpr int64_t kMaxUnpack = 42327756;

// Days in each month of a common year; entry 0 is unused.
constexpr int dpm[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool leap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Days from 1 March of year 0 to the first of the month, counting years from
// March so that the leap day ends each year.
constexpr int64_t days_to_month(int64_t year, int month) {
    if (month <= 2) year--;
    int64_t m = (month + 9) % 12;  // March 0 .. February 11
    return 365 * year + year / 4 - year / 100 + year / 400 + (153 * m + 2) / 5;
}

// The day count of 1 March 1700, day 1.
constexpr int64_t kEpoch = days_to_month(1700, 3);

// Splits a day count from 1 March of year 0.
void split_days(int64_t z, int *year, int *month, int *day) {
    int64_t era = z / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int d = int(doy - (153 * mp + 2) / 5 + 1);
    int m = int(mp < 10 ? mp + 3 : mp - 9);
    *year = int(era * 400 + yoe + (m <= 2 ? 1 : 0));
    *month = m;
    *day = d;
}

ZVDBRET date_parts(ZVDATE date, int *y, int *m, int *d) {
    if (date == 0 || date > kMaxUnpack) return ZVDB_BAD_DATE;
    split_days(int64_t(date) - 1 + kEpoch, y, m, d);
    return 0;
}

// Reads the date of a successful match by type.
ZVDBRET date_from_groups(const zvdb_regexp *re, ZVDATE_TYPE type, int *y, int *m, int *d) {
    switch (type) {
    case 1: case 2:
        *m = zv::group_number(re, 1);
        *d = zv::group_number(re, 2);
        *y = zv::group_number(re, 3);
        break;
    case 3: case 4:
        *d = zv::group_number(re, 1);
        *m = zv::group_number(re, 2);
        *y = zv::group_number(re, 3);
        break;
    case 5:
        if (zv::group_length(re, 1) != 8) return ZVDB_BAD_DATE;
        *y = zv::group_digits(re, 1, 0, 4);
        *m = zv::group_digits(re, 1, 4, 2);
        *d = zv::group_digits(re, 1, 6, 2);
        return 0;
    case 6:
        if (zv::group_length(re, 1) != 6) return ZVDB_BAD_DATE;
        *y = zv::group_digits(re, 1, 0, 2);
        *y += *y < 40 ? 2000 : 1900;
        *m = zv::group_digits(re, 1, 2, 2);
        *d = zv::group_digits(re, 1, 4, 2);
        return 0;
    default:
        return ZVDB_BAD_TYPE;
    }
    if (type == 2 || type == 4) *y = zv::two_digit_year(*y);
    return 0;
}

ZVDBRET parse_date(zvdb_regexp *re, const char *text, ZVDATE_TYPE type, ZVDATE *out) {
    const char *pattern = (type == 5 || type == 6)
                              ? " *([0-9]+) *"
                              : " *([0-9]+)[./-] *([0-9]+)[./-] *([0-9]+) *";
    ZVDBRET rc = zv::match_text(re, pattern, text, ZVDB_BAD_DATE);
    if (rc) return rc;
    int y = 0, m = 0, d = 0;
    rc = date_from_groups(re, type, &y, &m, &d);
    if (rc) return rc;
    rc = zvdbDateCheck(y, m, d);
    return rc ? rc : zvdbDatePack(out, y, m, d);
}

}  // namespace

namespace zv {

ZVDBRET date_groups(const zvdb_regexp *re, ZVDATE_TYPE type, int *y, int *m, int *d) {
    return date_from_groups(re, type, y, m, d);
}

}  // namespace zv

extern "C" {

ZV_API ZVDBRET zvdbDateCheck(int year, int month, int day) {
    if (year < 1 || year > kMaxYear) return ZVDB_BAD_YEAR;
    if (month < 1 || month > 12) return ZVDB_BAD_MONTH;
    int last = dpm[month] + (month == 2 && leap(year) ? 1 : 0);
    if (day < 1 || day > last) return ZVDB_BAD_DAY;
    return 0;
}

ZV_API ZVDBRET zvdbDatePack(ZVDATE *out, int year, int month, int day) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    if (year < kMinYear || year > kMaxYear) return ZVDB_BAD_DATE;
    if (month < 1 || month > 12) return ZVDB_BAD_MONTH;
    if (year == kMinYear && month <= 2) return ZVDB_BAD_DATE;
    // The day of month enters linearly: day d is d - 1 days after the first.
    int64_t n = days_to_month(year, month) - kEpoch + int64_t(day);
    if (n < 1 || n > kMaxUnpack) return ZVDB_BAD_DATE;
    *out = ZVDATE(n);
    return 0;
}

ZV_API ZVDBRET zvdbDateUnpack(ZVDATE date, int *year, int *month, int *day) {
    if (!year || !month || !day) return ZVDB_NULL_ARGUMENT;
    int y, m, d;
    ZVDBRET rc = date_parts(date, &y, &m, &d);
    if (rc) return rc;
    *year = y;
    *month = m;
    *day = d;
    return 0;
}

ZV_API ZVDBRET zvdbDateToString(ZVDATE date, ZVDATE_TYPE type, char *buffer, int32_t size) {
    if (!buffer) return ZVDB_NULL_ARGUMENT;
    if (date == 0) return ZVDB_BAD_DATE;
    int y, m, d;
    ZVDBRET rc = date_parts(date, &y, &m, &d);
    if (rc) return rc;
    char text[64];
    int n;
    switch (type) {
    case 1: n = std::snprintf(text, sizeof text, "%02d/%02d/%04d", m, d, y); break;
    case 2: n = std::snprintf(text, sizeof text, "%02d/%02d/%02d", m, d, y % 100); break;
    case 3: n = std::snprintf(text, sizeof text, "%02d/%02d/%04d", d, m, y); break;
    case 4: n = std::snprintf(text, sizeof text, "%02d/%02d/%02d", d, m, y % 100); break;
    case 5: n = std::snprintf(text, sizeof text, "%04d%02d%02d", y, m, d); break;
    case 6: n = std::snprintf(text, sizeof text, "%02d%02d%02d", y % 100, m, d); break;
    default: return ZVDB_BAD_TYPE;
    }
    return zv::put_text(text, size_t(n), buffer, size);
}

ZV_API ZVDBRET zvdbStringToDate(const char *text, ZVDATE_TYPE type, ZVDATE *out) {
    if (!text || !out) return ZVDB_NULL_ARGUMENT;
    zvdb_regexp *re = zvdb_regnew();
    if (!re) return ZVDB_NO_MEMORY;
    ZVDBRET rc = parse_date(re, text, type, out);
    zvdb_regfree(re);
    return rc;
}

ZV_API int zvdbGetDay(ZVDATE date) {
    int y, m, d;
    return date_parts(date, &y, &m, &d) ? 0 : d;
}

ZV_API int zvdbGetMonth(ZVDATE date) {
    int y, m, d;
    return date_parts(date, &y, &m, &d) ? 0 : m;
}

ZV_API int zvdbGetYear(ZVDATE date) {
    int y, m, d;
    return date_parts(date, &y, &m, &d) ? 0 : y;
}

ZV_API int zvdbIsLeapYear(ZVDATE date) {
    int y, m, d;
    return date_parts(date, &y, &m, &d) ? 0 : int(leap(y));
}

ZV_API int zvdbDayOfWeek(ZVDATE date) {
    int y, m, d;
    return date_parts(date, &y, &m, &d) ? -1 : int(date % 7);
}

ZV_API ZVDBRET zvdbCurrentDate(ZVDATE *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    int y, m, d;
    ZVDBRET rc = _zvdbSysTime(&y, &m, &d, nullptr, nullptr, nullptr);
    return rc ? rc : zvdbDatePack(out, y, m, d);
}

ZV_API ZVDBRET zvdbStringFormatToDate(const char *, const char *, ZVDATE *) {
    return ZVDB_NOT_SUPPORTED;
}

ZV_API ZVDBRET zvdbDateToStringFormat(ZVDATE, const char *, char *, int32_t) {
    return ZVDB_NOT_SUPPORTED;
}

}  // extern "C"

ZVDBRET _getDateTimeComponent(const char *, const char *, int32_t, int32_t *) {
    return ZVDB_NOT_SUPPORTED;
}

ZVDBRET _setDateTimeComponent(char *, int32_t, const char *, int32_t, int32_t) {
    return ZVDB_NOT_SUPPORTED;
}

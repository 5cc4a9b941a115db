// The clock of the value types: the local and universal broken-down time
// and the Unix time with nanoseconds, which the current date, time and
// date-time values are read from (and the record layer's defaults and
// session queries, above).
//
// The value types sit below the expression language, whose evaluator calls
// them for every record a filter reads, so they read the clock here and not
// through the record-level API's base: they use nothing above the engine's
// allocator and the public headers.
#include <ctime>

#include "zarvo/zvdb.h"

namespace {

// Writes the parts of a broken-down time through the non-NULL pointers.
void put_parts(const struct tm &t, int *year, int *month, int *day, int *hour, int *minute,
               int *second) {
    if (year) *year = t.tm_year + 1900;
    if (month) *month = t.tm_mon + 1;
    if (day) *day = t.tm_mday;
    if (hour) *hour = t.tm_hour;
    if (minute) *minute = t.tm_min;
    if (second) *second = t.tm_sec;
}

}  // namespace

extern "C" {

ZV_API ZVDBRET _zvdbSysTime(int *year, int *month, int *day, int *hour, int *minute,
                            int *second) {
    time_t now = time(nullptr);
    struct tm t;
    if (now == time_t(-1) || !localtime_r(&now, &t)) return ZVDB_BAD_SYSTIME;
    put_parts(t, year, month, day, hour, minute, second);
    return 0;
}

ZV_API ZVDBRET _zvdbUnixTime(tagZVDBUNIXTIME *out) {
    if (!out) return ZVDB_NULL_ARGUMENT;
    struct timespec ts;
    int rc = clock_gettime(CLOCK_REALTIME, &ts);
    if (rc != 0) return rc;
    out->seconds = ts.tv_sec;
    out->nanoseconds = ts.tv_nsec;
    return 0;
}

ZV_API ZVDBRET _zvdbUTCTime(int64_t seconds, int *year, int *month, int *day, int *hour,
                            int *minute, int *second) {
    time_t value = time_t(seconds);
    struct tm t;
    if (int64_t(value) != seconds || !gmtime_r(&value, &t)) return ZVDB_BAD_SYSTIME;
    put_parts(t, year, month, day, hour, minute, second);
    return 0;
}

}  // extern "C"

// Utility routines of the record-level API: the clock routines the value
// types read the time through, small text routines and bit arrays.
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "recapi/base/utility.h"

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

ZV_API char *_zvdb_strrev(char *text) {
    if (!text) return nullptr;
    size_t n = std::strlen(text);
    for (size_t i = 0, j = n ? n - 1 : 0; i < j; i++, j--) {
        char c = text[i];
        text[i] = text[j];
        text[j] = c;
    }
    return text;
}

char *_zvdb_strlastchar(const char *text) {
    if (!text) return nullptr;
    const char *last = nullptr;
    for (const char *p = text; *p; p++) {
        if (!std::isspace(static_cast<unsigned char>(*p))) last = p;
    }
    return const_cast<char *>(last);
}

int32_t _zvdb_lastdelimiter(const char *text, int c) {
    if (!text) return -1;
    const char *p = std::strrchr(text, c);
    return p && c != 0 ? int32_t(p - text) : -1;
}

void _zvdbFileNameOnly(char *name) {
    if (char *dot = name ? std::strchr(name, '.') : nullptr) *dot = 0;
}

void _zvdbFlipBit(unsigned char *bits, int32_t n, int on) {
    if (!bits || n < 0) return;
    unsigned char mask = static_cast<unsigned char>(1u << (n % 8));
    if (on) bits[n / 8] |= mask;
    else bits[n / 8] &= static_cast<unsigned char>(~mask);
}

void _zvdbSetBit(unsigned char *bits, int32_t n) { _zvdbFlipBit(bits, n, 1); }

void _zvdbClearBit(unsigned char *bits, int32_t n) { _zvdbFlipBit(bits, n, 0); }

int _zvdbTestBit(const unsigned char *bits, int32_t n) {
    if (!bits || n < 0) return 0;
    return (bits[n / 8] >> (n % 8)) & 1;
}

}  // extern "C"

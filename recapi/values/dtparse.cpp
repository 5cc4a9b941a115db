// Digit groups of date and time texts.
#include "recapi/values/dtparse.h"

#include <cstring>

namespace zv {

namespace {

int digits_value(const char *p, int len) {
    int64_t v = 0;
    for (int i = 0; i < len && p[i] >= '0' && p[i] <= '9'; i++) {
        v = v * 10 + (p[i] - '0');
        if (v > kGroupMax) return kGroupMax;
    }
    return int(v);
}

}  // namespace

int group_number(const zvdb_regexp *re, int n) {
    const char *t = zvdb_regtext(re, n);
    return t ? digits_value(t, int(std::strlen(t))) : 0;
}

int group_length(const zvdb_regexp *re, int n) {
    const char *t = zvdb_regtext(re, n);
    return t ? int(std::strlen(t)) : 0;
}

int group_digits(const zvdb_regexp *re, int n, int from, int len) {
    const char *t = zvdb_regtext(re, n);
    if (!t || int(std::strlen(t)) < from + len) return 0;
    return digits_value(t + from, len);
}

char group_first(const zvdb_regexp *re, int n) {
    const char *t = zvdb_regtext(re, n);
    return t ? t[0] : '\0';
}

int two_digit_year(int year) {
    if (year > 99) return year;
    return year < 40 ? 2000 + year : 1900 + year;
}

ZVDBRET match_text(zvdb_regexp *re, const char *pattern, const char *text, ZVDBRET nomatch) {
    int ce = zvdb_regcomp(re, pattern);
    if (ce == 3) return ZVDB_NO_MEMORY;
    if (ce != 0) return ZVDB_BAD_FORMAT;
    int rc = zvdb_regexec(re, text);
    if (rc == 0) return 0;
    if (rc == 3) return ZVDB_NO_MEMORY;
    return nomatch;
}

}  // namespace zv

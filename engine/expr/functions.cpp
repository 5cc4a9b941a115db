// Built-in functions of conditions and the execution of a function call.
//
// A call evaluates its arguments onto the stack in source order; a NULL
// argument makes the result NULL without running the function. A function
// reads its arguments where they lie and writes one result, which
// replaces them: a text result is a new block that the stack owns (or
// bytes of the record, or a constant name, borrowed), never bytes of an
// argument, whose texts go when the arguments are dropped.
//
// Rules kept here:
//  1. Sizes of text results are computed in 64 bits; a result beyond
//     2^31 - 1 bytes or a failed allocation is error 5, never a shorter
//     text.
//  2. Text positions are 1-based: a position below 1 counts as 1 and a
//     count is clipped to the text.
//  3. A call with an argument count outside a function's bounds is error
//     14 (trees built through the parse-tree calls are not checked by the
//     parser); a function without an implementation is error 13.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "engine/core/instance.h"
#include "engine/expr/eval.h"
#include "engine/expr/textcmp.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

constexpr int kOverflow = 4038;
constexpr int64_t kMaxText = 0x7FFFFFFF;

struct Call {
    const PTVALUE *a;   // the arguments, a[0] the first
    int32_t n;          // their number
    PTRECINFO *ri;      // layout of the record evaluated
    PTVALUE *out;       // the result
};

// ---- Results ---------------------------------------------------------------------

int put_int(Call &c, int64_t v) {
    c.out->kind = PT_INTEGER;
    c.out->v.integer = v;
    return 0;
}

int put_u32(Call &c, uint32_t kind, uint32_t v) {
    c.out->kind = kind;
    c.out->v.u32 = v;
    return 0;
}

int put_stamp(Call &c, double v) {
    c.out->kind = PT_STAMP;
    c.out->v.stamp = v;
    return 0;
}

int put_number(Call &c, const tagZVNUMBER &n) {
    c.out->kind = PT_NUMBER;
    c.out->v.number = n;
    return 0;
}

// A double result, as a NUMBER (zero when it has none).
int put_double(Call &c, double d) {
    tagZVNUMBER n;
    if (zvdbFloatToNumber(d, &n)) zvdbNumberZero(&n);
    return put_number(c, n);
}

// A text result borrowing bytes that outlive the evaluation.
int put_borrowed(Call &c, const void *p, int64_t len, int flag = 0) {
    c.out->kind = PT_TEXT;
    c.out->v.text = static_cast<unsigned char *>(const_cast<void *>(p));
    c.out->length = uint32_t(len);
    c.out->borrowed = 1;
    c.out->textflag = uint8_t(flag);
    return 0;
}

// A new text result of len bytes to fill: 0 with *p (null for an empty
// text), or 5.
int put_new(Call &c, int64_t len, unsigned char **p) {
    *p = nullptr;
    if (len < 0) len = 0;
    if (len > kMaxText) return kExprMemory;
    if (len > 0) {
        *p = static_cast<unsigned char *>(zvgetmem(int32_t(len)));
        if (!*p) return kExprMemory;
    }
    c.out->kind = PT_TEXT;
    c.out->v.text = *p;
    c.out->length = uint32_t(len);
    return 0;
}

int put_copy(Call &c, const unsigned char *src, int64_t len) {
    unsigned char *p;
    if (int rc = put_new(c, len, &p)) return rc;
    if (len > 0) memcpy(p, src, size_t(len));
    return 0;
}

// ---- Arguments ----------------------------------------------------------------------

using Text = TextOf;

// The first 255 bytes of a text, NUL-terminated.
struct Cstr {
    char s[256];
    explicit Cstr(const Text &t) {
        int64_t n = t.len < 255 ? t.len : 255;
        if (n > 0) memcpy(s, t.p, size_t(n));
        s[n > 0 ? n : 0] = 0;
    }
};

int arg_int(const Call &c, int i, int64_t *x) { return ExtractInteger(c.a[i], x); }
int arg_double(const Call &c, int i, double *x) { return ExtractFloat(c.a[i], x); }
int arg_date(const Call &c, int i, uint32_t *x) { return ExtractDate(c.a[i], x); }
int arg_time(const Call &c, int i, uint32_t *x) { return ExtractTime(c.a[i], x); }

bool wide_kind(uint32_t k) { return k == PT_STAMP || k == PT_NUMBER || k == PT_TEXT; }

inline unsigned char fold_up(unsigned char ch) { return (ch >= 'a' && ch <= 'z') ? uint8_t(ch - 32) : ch; }
inline unsigned char fold_down(unsigned char ch) { return (ch >= 'A' && ch <= 'Z') ? uint8_t(ch + 32) : ch; }

// ---- Dates ------------------------------------------------------------------------

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int month_days(int y, int m) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : days[m - 1];
}

// Day number of 1 January of the date's year; 0 for an invalid date.
uint32_t january_first(uint32_t d) {
    int y = zvdbGetYear(d);
    ZVDATE j = 0;
    return y && zvdbDatePack(&j, y, 1, 1) == 0 ? j : 0;
}

// ---- Math ------------------------------------------------------------------------

template <double (*F)(double)>
int fn_math(Call &c) {
    double x;
    if (int rc = arg_double(c, 0, &x)) return rc;
    return put_double(c, F(x));
}

double d_acos(double x) { return std::acos(x); }
double d_asin(double x) { return std::asin(x); }
double d_atan(double x) { return std::atan(x); }
double d_ceil(double x) { return std::ceil(x); }
double d_cos(double x) { return std::cos(x); }
double d_exp(double x) { return std::exp(x); }
double d_fabs(double x) { return std::fabs(x); }
double d_floor(double x) { return std::floor(x); }
double d_log10(double x) { return std::log10(x); }
double d_sin(double x) { return std::sin(x); }
double d_sqrt(double x) { return std::sqrt(x); }
double d_tan(double x) { return std::tan(x); }

int fn_abs(Call &c) {
    const PTVALUE &v = c.a[0];
    if (wide_kind(v.kind)) {
        tagZVNUMBER x, r;
        if (int rc = ExtractNumber(v, &x)) return rc;
        zvdbNumberAbs(&x, &r);
        return put_number(c, r);
    }
    int64_t x;
    if (int rc = ExtractInteger(v, &x)) return rc;
    if (x == INT64_MIN) {
        // 2^63 has no INTEGER: its NUMBER.
        tagZVNUMBER r;
        zvdbUnsignedBigIntToNumber(uint64_t(1) << 63, &r);
        return put_number(c, r);
    }
    return put_int(c, x < 0 ? -x : x);
}

int fn_fmod(Call &c) {
    double x, y;
    if (int rc = arg_double(c, 0, &x)) return rc;
    if (int rc = arg_double(c, 1, &y)) return rc;
    if (y == 0) return kExprDivide;
    return put_double(c, std::fmod(x, y));
}

int fn_power(Call &c) {
    double x, y;
    if (int rc = arg_double(c, 0, &x)) return rc;
    if (int rc = arg_double(c, 1, &y)) return rc;
    return put_double(c, std::pow(x, y));
}

int fn_pi(Call &c) { return put_double(c, 3.141592653589793); }

int fn_mod(Call &c) {
    int64_t x, y;
    if (int rc = arg_int(c, 0, &x)) return rc;
    if (int rc = arg_int(c, 1, &y)) return rc;
    if (y == 0) return kExprDivide;
    return put_int(c, y == -1 ? 0 : x % y);
}

int fn_rand(Call &c) {
    if (c.n > 0) {
        int64_t seed;
        if (int rc = arg_int(c, 0, &seed)) return rc;
        srand(unsigned(seed));
    }
    return put_int(c, rand());
}

int fn_sign(Call &c) {
    const PTVALUE &v = c.a[0];
    switch (v.kind) {
    case PT_NUMBER: {
        tagZVNUMBER zero;
        zvdbNumberZero(&zero);
        return put_int(c, zvdbNumberCmp(&v.v.number, &zero));
    }
    case PT_STAMP: return put_int(c, v.v.stamp < 0 ? -1 : v.v.stamp > 0);
    case PT_INTEGER: return put_int(c, v.v.integer < 0 ? -1 : v.v.integer > 0);
    case PT_DATE: case PT_TIME: case PT_TIMEMS: return put_int(c, v.v.u32 > 0);
    case PT_TEXT: return put_int(c, v.v.text != nullptr);
    default: return kExprKind;
    }
}

// ---- Texts to numbers --------------------------------------------------------------

int fn_atof(Call &c) {
    Text t;
    if (int rc = t.take(c.a[0])) return rc;
    Cstr s(t);
    errno = 0;
    double d = strtod(s.s, nullptr);
    if (errno == ERANGE && std::isinf(d)) return kOverflow;
    return put_double(c, d);
}

int fn_atoi(Call &c) {
    Text t;
    if (int rc = t.take(c.a[0])) return rc;
    int64_t v;
    if (int rc = text_to_int(t.p, t.len, &v)) return rc;
    return put_int(c, v);
}

// ---- Texts ---------------------------------------------------------------------------

int fn_ascii(Call &c) {
    Text t;
    if (int rc = t.take(c.a[0])) return rc;
    return put_int(c, t.len > 0 ? t.p[0] : 0);
}

int fn_chr(Call &c) {
    int64_t x;
    if (int rc = arg_int(c, 0, &x)) return rc;
    unsigned char *p;
    if (int rc = put_new(c, 1, &p)) return rc;
    p[0] = uint8_t(x);
    return 0;
}

int fn_concat(Call &c) {
    Text a, b;
    if (int rc = a.take(c.a[0])) return rc;
    if (int rc = b.take(c.a[1])) return rc;
    unsigned char *p;
    if (int rc = put_new(c, a.len + b.len, &p)) return rc;
    if (a.len) memcpy(p, a.p, size_t(a.len));
    if (b.len) memcpy(p + a.len, b.p, size_t(b.len));
    return 0;
}

int fn_length(Call &c) {
    Text t;
    if (int rc = t.take(c.a[0])) return rc;
    return put_int(c, t.len);
}

int fn_case(Call &c, bool upper) {
    Text t;
    if (int rc = t.take(c.a[0])) return rc;
    unsigned char *p;
    if (int rc = put_new(c, t.len, &p)) return rc;
    for (int64_t i = 0; i < t.len; i++) p[i] = upper ? fold_up(t.p[i]) : fold_down(t.p[i]);
    return 0;
}
int fn_lower(Call &c) { return fn_case(c, false); }
int fn_upper(Call &c) { return fn_case(c, true); }

// A count argument clipped to 0..limit.
int count_arg(const Call &c, int i, int64_t limit, int64_t *n) {
    if (int rc = arg_int(c, i, n)) return rc;
    if (*n < 0) *n = 0;
    if (*n > limit) *n = limit;
    return 0;
}

int fn_left(Call &c) {
    Text t;
    int64_t n;
    if (int rc = t.take(c.a[0])) return rc;
    if (int rc = count_arg(c, 1, t.len, &n)) return rc;
    return put_copy(c, t.p, n);
}

int fn_right(Call &c) {
    Text t;
    int64_t n;
    if (int rc = t.take(c.a[0])) return rc;
    if (int rc = count_arg(c, 1, t.len, &n)) return rc;
    return put_copy(c, t.p + (t.len - n), n);
}

// A 1-based position argument as a 0-based offset (below 1 counts as 1).
int position_arg(const Call &c, int i, int64_t *off) {
    int64_t p;
    if (int rc = arg_int(c, i, &p)) return rc;
    *off = p < 1 ? 0 : p - 1;
    return 0;
}

int fn_substring(Call &c) {
    Text t;
    int64_t start, count = 0;
    if (int rc = t.take(c.a[0])) return rc;
    if (int rc = position_arg(c, 1, &start)) return rc;
    if (c.n > 2) {
        if (int rc = count_arg(c, 2, t.len, &count)) return rc;
    } else {
        count = t.len;
    }
    unsigned char *p;
    if (t.len == 0 || start >= t.len) return put_new(c, 0, &p);
    int64_t len = 0;
    p = funSubstring(t.p, t.len, start, count, &len);
    if (!p) return kExprMemory;
    c.out->kind = PT_TEXT;
    c.out->v.text = p;
    c.out->length = uint32_t(len);
    return 0;
}

int fn_insert(Call &c) {
    Text s, t;
    int64_t at, cut;
    if (int rc = s.take(c.a[0])) return rc;
    if (int rc = position_arg(c, 1, &at)) return rc;
    if (at > s.len) at = s.len;  // past the end: appended
    if (int rc = count_arg(c, 2, s.len - at, &cut)) return rc;
    if (int rc = t.take(c.a[3])) return rc;
    unsigned char *p;
    if (int rc = put_new(c, s.len - cut + t.len, &p)) return rc;
    if (at) memcpy(p, s.p, size_t(at));
    if (t.len) memcpy(p + at, t.p, size_t(t.len));
    if (s.len - at - cut) memcpy(p + at + t.len, s.p + at + cut, size_t(s.len - at - cut));
    return 0;
}

int fn_locate(Call &c) {
    Text s, t;
    int64_t from = 0;
    if (int rc = s.take(c.a[0])) return rc;
    if (int rc = t.take(c.a[1])) return rc;
    if (c.n > 2)
        if (int rc = position_arg(c, 2, &from)) return rc;
    if (s.len == 0 || t.len == 0 || from >= s.len || t.len > s.len - from) return put_int(c, 0);
    const void *hit = memmem(s.p + from, size_t(s.len - from), t.p, size_t(t.len));
    return put_int(c, hit ? static_cast<const unsigned char *>(hit) - s.p + 1 : 0);
}

int fn_pad(Call &c, bool left) {
    Text s, f;
    int64_t n;
    if (int rc = s.take(c.a[0])) return rc;
    if (int rc = arg_int(c, 1, &n)) return rc;
    unsigned char fill = ' ';
    if (c.n > 2) {
        if (int rc = f.take(c.a[2])) return rc;
        if (f.len > 0) fill = f.p[0];
    }
    if (n < 0) n = 0;
    unsigned char *p;
    if (int rc = put_new(c, n, &p)) return rc;
    if (n == 0) return 0;
    const int64_t keep = s.len < n ? s.len : n;
    const int64_t pad = n - keep;
    if (left) {
        memset(p, fill, size_t(pad));
        if (keep) memcpy(p + pad, s.p, size_t(keep));
    } else {
        if (keep) memcpy(p, s.p, size_t(keep));
        memset(p + keep, fill, size_t(pad));
    }
    return 0;
}
int fn_lpad(Call &c) { return fn_pad(c, true); }
int fn_rpad(Call &c) { return fn_pad(c, false); }

int fn_trim(Call &c, bool left) {
    Text s, set;
    if (int rc = s.take(c.a[0])) return rc;
    const unsigned char blank = ' ';
    const unsigned char *sp = &blank;
    int64_t sn = 1;
    if (c.n > 1) {
        if (int rc = set.take(c.a[1])) return rc;
        sp = set.p;
        sn = set.len;
    }
    auto in_set = [&](unsigned char ch) { return sn > 0 && memchr(sp, ch, size_t(sn)) != nullptr; };
    int64_t b = 0, e = s.len;
    if (left) {
        while (b < e && in_set(s.p[b])) b++;
    } else {
        while (e > b && in_set(s.p[e - 1])) e--;
    }
    return put_copy(c, s.p + b, e - b);
}
int fn_ltrim(Call &c) { return fn_trim(c, true); }
int fn_rtrim(Call &c) { return fn_trim(c, false); }

int fn_repeat(Call &c) {
    Text s;
    int64_t n;
    if (int rc = s.take(c.a[0])) return rc;
    if (int rc = arg_int(c, 1, &n)) return rc;
    unsigned char *p;
    if (n <= 0 || s.len == 0) return put_new(c, 0, &p);
    if (n > kMaxText / s.len) return kExprMemory;
    if (int rc = put_new(c, s.len * n, &p)) return rc;
    for (int64_t i = 0; i < n; i++) memcpy(p + i * s.len, s.p, size_t(s.len));
    return 0;
}

int fn_space(Call &c) {
    int64_t n;
    if (int rc = arg_int(c, 0, &n)) return rc;
    unsigned char *p;
    if (int rc = put_new(c, n, &p)) return rc;
    if (n > 0) memset(p, ' ', size_t(n));
    return 0;
}

// STRCMP and the SQL comparisons: StrComp of the two texts.
int compare_texts(Call &c, bool nocase, bool sqlpad) {
    Text a, b;
    if (int rc = a.take(c.a[0])) return rc;
    if (int rc = b.take(c.a[1])) return rc;
    return put_int(c, StrComp(a.p, a.len, b.p, b.len, nocase, sqlpad));
}
int fn_strcmp(Call &c) { return compare_texts(c, false, false); }
int fn_stricmp(Call &c) { return compare_texts(c, true, false); }
int fn_sqlstrncmp(Call &c) { return compare_texts(c, false, true); }
int fn_sqlstrnicmp(Call &c) { return compare_texts(c, true, true); }

int compare_prefix(Call &c, bool nocase) {
    Text a, b;
    int64_t n;
    if (int rc = a.take(c.a[0])) return rc;
    if (int rc = b.take(c.a[1])) return rc;
    if (int rc = arg_int(c, 2, &n)) return rc;
    return put_int(c, StrNComp(a.p, a.len, b.p, b.len, n, nocase));
}
int fn_strncmp(Call &c) { return compare_prefix(c, false); }
int fn_strnicmp(Call &c) { return compare_prefix(c, true); }

int match(Call &c, bool cs) {
    Text t, p;
    if (int rc = t.take(c.a[0])) return rc;
    if (int rc = p.take(c.a[1])) return rc;
    return put_int(c, str_match(t.p, t.len, p.p, p.len, cs, nullptr));
}
int fn_match(Call &c) { return match(c, true); }
int fn_matchi(Call &c) { return match(c, false); }

// ---- Dates and times --------------------------------------------------------------

int fn_add_days(Call &c) {
    uint32_t d;
    int64_t n;
    if (int rc = arg_date(c, 0, &d)) return rc;
    if (int rc = arg_int(c, 1, &n)) return rc;
    return put_u32(c, PT_DATE, uint32_t(uint64_t(d) + uint64_t(n)));
}

int fn_add_months(Call &c) {
    uint32_t d;
    int64_t n;
    if (int rc = arg_date(c, 0, &d)) return rc;
    if (int rc = arg_int(c, 1, &n)) return rc;
    int y, m, day;
    if (zvdbDateUnpack(d, &y, &m, &day)) return kExprKind;
    if (n > 120000 || n < -120000) return kExprKind;  // far beyond every valid date
    int64_t months = int64_t(y) * 12 + (m - 1) + n;
    int64_t ny = months >= 0 ? months / 12 : -((-months + 11) / 12);
    int nm = int(months - ny * 12) + 1;
    int len = month_days(int(ny), nm);
    // Days beyond the target month carry into the next one.
    if (day > len) {
        day -= len;
        if (++nm > 12) {
            nm = 1;
            ny++;
        }
    }
    ZVDATE out;
    if (zvdbDatePack(&out, int(ny), nm, day)) return kExprKind;
    return put_u32(c, PT_DATE, out);
}

int fn_date_part(Call &c, int (*part)(ZVDATE)) {
    uint32_t d;
    if (int rc = arg_date(c, 0, &d)) return rc;
    return put_int(c, part(d));
}
int fn_dayofmonth(Call &c) { return fn_date_part(c, zvdbGetDay); }
int fn_dayofweek(Call &c) { return fn_date_part(c, zvdbDayOfWeek); }
int fn_month(Call &c) { return fn_date_part(c, zvdbGetMonth); }
int fn_year(Call &c) { return fn_date_part(c, zvdbGetYear); }

int fn_quarter(Call &c) {
    static const int quarter[13] = {0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4};
    uint32_t d;
    if (int rc = arg_date(c, 0, &d)) return rc;
    int m = zvdbGetMonth(d);
    return put_int(c, m >= 1 && m <= 12 ? quarter[m] : 0);
}

int fn_dayofyear(Call &c) {
    uint32_t d;
    if (int rc = arg_date(c, 0, &d)) return rc;
    uint32_t j = january_first(d);
    return put_int(c, j ? int64_t(d) - j + 1 : 0);
}

int fn_week(Call &c) {
    uint32_t d;
    if (int rc = arg_date(c, 0, &d)) return rc;
    uint32_t j = january_first(d);
    return put_int(c, j ? (int64_t(d) - j) / 7 + 1 : 0);
}

int fn_last_day(Call &c) {
    uint32_t d;
    if (int rc = arg_date(c, 0, &d)) return rc;
    int y, m, day;
    if (zvdbDateUnpack(d, &y, &m, &day)) return put_int(c, 0);
    return put_int(c, month_days(y, m));
}

int fn_dayname(Call &c) {
    static const char *const dayname[7] = {"SUNDAY", "MONDAY", "TUESDAY", "WEDNESDAY", "THURSDAY", "FRIDAY", "SATURDAY"};
    uint32_t d;
    if (int rc = arg_date(c, 0, &d)) return rc;
    int w = zvdbDayOfWeek(d);
    if (w < 0 || w > 6) return put_borrowed(c, nullptr, 0);
    return put_borrowed(c, dayname[w], int64_t(strlen(dayname[w])));
}

int fn_monthname(Call &c) {
    static const char *const monthname[12] = {"JANUARY", "FEBRUARY", "MARCH",     "APRIL",   "MAY",      "JUNE",
                                              "JULY",    "AUGUST",   "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};
    uint32_t d;
    if (int rc = arg_date(c, 0, &d)) return rc;
    int m = zvdbGetMonth(d);
    if (m < 1 || m > 12) return put_borrowed(c, nullptr, 0);
    return put_borrowed(c, monthname[m - 1], int64_t(strlen(monthname[m - 1])));
}

int fn_time_part(Call &c, int (*part)(ZVTIME)) {
    uint32_t t;
    if (int rc = arg_time(c, 0, &t)) return rc;
    return put_int(c, part(t));
}
int fn_hour(Call &c) { return fn_time_part(c, zvdbGetHour); }
int fn_minute(Call &c) { return fn_time_part(c, zvdbGetMinute); }
int fn_second(Call &c) { return fn_time_part(c, zvdbGetSecond); }

int fn_curdate(Call &c) {
    ZVDATE d = 0;
    zvdbCurrentDate(&d);
    return put_u32(c, PT_DATE, d);
}

int fn_curtime(Call &c) {
    ZVTIME t = 0;
    zvdbCurrentTime(&t);
    return put_u32(c, PT_TIME, t);
}

int fn_now(Call &c) {
    ZVDATETIME s = 0;
    zvdbCurrentDateTime(&s);
    return put_stamp(c, s);
}

// TIMET2ZV*: seconds since 1970-01-01 UTC (the first argument; a second
// one is read and ignored) split by gmtime_r.
int unix_time(const Call &c, struct tm *tm) {
    int64_t secs;
    if (int rc = arg_int(c, 0, &secs)) return rc;
    time_t t = time_t(secs);
    if (!zvrt_gmtime_r(&t, tm)) return kExprKind;
    return 0;
}

int fn_timet2date(Call &c) {
    struct tm tm;
    if (int rc = unix_time(c, &tm)) return rc;
    ZVDATE d;
    if (zvdbDatePack(&d, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday)) return kExprKind;
    return put_u32(c, PT_DATE, d);
}

int fn_timet2time(Call &c) {
    struct tm tm;
    if (int rc = unix_time(c, &tm)) return rc;
    ZVTIME t;
    if (zvdbTimePack(&t, tm.tm_hour, tm.tm_min, tm.tm_sec)) return kExprKind;
    return put_u32(c, PT_TIME, t);
}

int fn_timet2stamp(Call &c) {
    struct tm tm;
    if (int rc = unix_time(c, &tm)) return rc;
    ZVDATETIME s;
    if (zvdbDateTimePack(&s, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec))
        return kExprKind;
    return put_stamp(c, s);
}

// ---- The record ----------------------------------------------------------------------

int fn_rowid(Call &c) {
    const PTRECINFO *ri = c.ri;
    if (!ri || !ri->rowid || ri->record + ri->totlen - ri->rowid < 8) return kExprCompare;
    int64_t v;
    memcpy(&v, ri->rowid, 8);
    tagZVNUMBER n;
    zvdbBigIntToNumber(v, &n);
    return put_number(c, n);
}

int fn_field(Call &c) {
    int64_t off, len;
    if (int rc = arg_int(c, 0, &off)) return rc;
    if (int rc = arg_int(c, 1, &len)) return rc;
    const unsigned char *rec = c.ri ? c.ri->record : nullptr;
    const int64_t total = rec && c.ri->totlen > 0 ? c.ri->totlen : 0;
    if (off < 0 || len < 0 || off > total || len > total - off) return kExprRange;
    return put_borrowed(c, rec ? rec + off : nullptr, len, 1);
}

// ---- Sets and ranges ----------------------------------------------------------------

int between(Call &c, bool nocase) {
    const PTVALUE &v = c.a[0];
    int lo = 0, hi = 0;
    if (int rc = Leafcmp(int(v.kind), &v, &c.a[1], &lo, nocase, 0)) return rc;
    if (int rc = Leafcmp(int(v.kind), &v, &c.a[2], &hi, nocase, 0)) return rc;
    return put_int(c, lo >= 0 && hi <= 0);
}
int fn_between(Call &c) { return between(c, false); }
int fn_betweeni(Call &c) { return between(c, true); }

// Heap sort of the members: in place, and within bounds whatever the
// comparison answers.
void sort_members(PTVALUE *m, int64_t n, int (*cmp)(const void *, const void *)) {
    auto sift = [&](int64_t i, int64_t end) {
        for (;;) {
            int64_t c = 2 * i + 1;
            if (c >= end) return;
            if (c + 1 < end && cmp(&m[c], &m[c + 1]) < 0) c++;
            if (cmp(&m[i], &m[c]) >= 0) return;
            PTVALUE t = m[i];
            m[i] = m[c];
            m[c] = t;
            i = c;
        }
    };
    for (int64_t i = n / 2; i-- > 0;) sift(i, n);
    for (int64_t end = n - 1; end > 0; end--) {
        PTVALUE t = m[0];
        m[0] = m[end];
        m[end] = t;
        sift(0, end);
    }
}

int in_set(Call &c, bool nocase) {
    if (c.n != 2) return kExprArgs;
    const PTVALUE &v = c.a[0];
    const PTVALUE &s = c.a[1];
    if (s.kind != PT_VSET || !s.v.set) return kExprKind;
    PTVALUE *hdr = s.v.set;
    PTVALUE *m = hdr + 1;
    const int64_t n = s.count;
    auto cmp = nocase ? funINiComp : funINComp;
    if (hdr->v.integer == 1) {
        // First use: a set whose members all share one kind is sorted.
        bool one_kind = n > 1 && m[0].kind >= PT_INTEGER && m[0].kind <= PT_TEXT;
        for (int64_t i = 1; one_kind && i < n; i++) one_kind = m[i].kind == m[0].kind;
        if (one_kind) sort_members(m, n, cmp);
        hdr->v.integer = one_kind ? 0 : 2;
    }
    bool found = false;
    if (hdr->v.integer == 0 && n > 0 && m[0].kind == v.kind) {
        int64_t lo = 0, hi = n - 1;
        while (lo <= hi && !found) {
            int64_t mid = lo + (hi - lo) / 2;
            int r = cmp(&v, &m[mid]);
            if (r == 0) found = true;
            else if (r < 0) hi = mid - 1;
            else lo = mid + 1;
        }
    } else {
        for (int64_t i = 0; i < n && !found; i++) {
            int r = 1;
            found = Leafcmp(int(v.kind), &v, &m[i], &r, nocase, 1) == 0 && r == 0;
        }
    }
    return put_int(c, found);
}
int fn_in(Call &c) { return in_set(c, false); }
int fn_ini(Call &c) { return in_set(c, true); }

// ---- The table ------------------------------------------------------------------------

struct FnDef {
    int (*fn)(Call &);
    int8_t min, max;  // argument count bounds
};

constexpr FnDef kFns[95] = {
    {fn_abs, 1, 1},           {fn_math<d_acos>, 1, 1},  {fn_add_days, 2, 2},   {fn_add_months, 2, 2},  // 0
    {fn_ascii, 1, 1},         {fn_math<d_asin>, 1, 1},  {fn_math<d_atan>, 1, 1}, {fn_atof, 1, 1},      // 4
    {fn_atoi, 1, 1},          {fn_atoi, 1, 1},          {fn_math<d_ceil>, 1, 1}, {fn_math<d_ceil>, 1, 1},  // 8
    {nullptr, 0, 0},          {fn_chr, 1, 1},           {fn_concat, 2, 2},     {nullptr, 0, 0},        // 12
    {fn_math<d_cos>, 1, 1},   {fn_curdate, 0, 0},       {fn_curtime, 0, 0},    {fn_dayname, 1, 1},     // 16
    {fn_dayofmonth, 1, 1},    {fn_dayofweek, 1, 1},     {fn_dayofyear, 1, 1},  {fn_math<d_exp>, 1, 1}, // 20
    {fn_math<d_fabs>, 1, 1},  {fn_math<d_floor>, 1, 1}, {fn_fmod, 2, 2},       {nullptr, 0, 0},        // 24
    {fn_hour, 1, 1},          {fn_insert, 4, 4},        {nullptr, 0, 0},       {fn_abs, 1, 1},         // 28
    {fn_last_day, 1, 1},      {nullptr, 0, 0},          {nullptr, 0, 0},       {fn_left, 2, 2},        // 32
    {fn_length, 1, 1},        {fn_locate, 2, 3},        {fn_math<d_log10>, 1, 1}, {fn_lower, 1, 1},    // 36
    {fn_lpad, 2, 3},          {fn_ltrim, 1, 2},         {fn_strncmp, 3, 3},    {fn_minute, 1, 1},      // 40
    {fn_mod, 2, 2},           {fn_month, 1, 1},         {fn_monthname, 1, 1},  {fn_now, 0, 0},         // 44
    {nullptr, 0, 0},          {nullptr, 0, 0},          {nullptr, 0, 0},       {fn_pi, 0, 0},          // 48
    {fn_power, 2, 2},         {nullptr, 0, 0},          {fn_quarter, 1, 1},    {fn_rand, 0, 1},        // 52
    {fn_repeat, 2, 2},        {nullptr, 0, 0},          {fn_right, 2, 2},      {fn_rpad, 2, 3},        // 56
    {fn_rtrim, 1, 2},         {fn_second, 1, 1},        {fn_sign, 1, 1},       {fn_math<d_sin>, 1, 1}, // 60
    {fn_space, 1, 1},         {fn_math<d_sqrt>, 1, 1},  {fn_strcmp, 2, 2},     {fn_stricmp, 2, 2},     // 64
    {fn_length, 1, 1},        {fn_strncmp, 3, 3},       {fn_strnicmp, 3, 3},   {nullptr, 0, 0},        // 68
    {fn_substring, 2, 3},     {nullptr, 0, 0},          {fn_curdate, 0, 0},    {fn_curtime, 0, 0},     // 72
    {fn_now, 0, 0},           {fn_math<d_tan>, 1, 1},   {nullptr, 0, 0},       {fn_upper, 1, 1},       // 76
    {fn_week, 1, 1},          {fn_year, 1, 1},          {fn_match, 2, 2},      {fn_matchi, 2, 2},      // 80
    {fn_rowid, 0, 0},         {fn_field, 2, 2},         {fn_between, 3, 3},    {fn_betweeni, 3, 3},    // 84
    {fn_sqlstrncmp, 2, 2},    {fn_sqlstrnicmp, 2, 2},   {fn_in, 2, 2},         {fn_ini, 2, 2},         // 88
    {fn_timet2date, 1, 2},    {fn_timet2time, 1, 2},    {fn_timet2stamp, 1, 2},                         // 92
};

int call_builtin(int fno, const PTVALUE *args, int32_t n, PTRECINFO *ri, PTVALUE *out) {
    const FnDef &d = kFns[fno];
    if (!d.fn) return kExprFunction;
    if (n < d.min || n > d.max) return kExprArgs;
    Call c{args, n, ri, out};
    return d.fn(c);
}

void release_result(PTVALUE &v) {
    if (v.kind == PT_TEXT && !v.borrowed && v.v.text) zvputmem(v.v.text);
}

}  // namespace

int runFUNCTION(PTNODE *node, PTRECINFO *ri) {
    const int32_t base = stack_top();
    auto fail = [base](int code) {
        stack_cut(base);
        runPushInteger(0);
        return code;
    };
    if (node->u.op.left)
        if (int rc = runEXEC(node->u.op.left, ri)) return fail(rc);
    const int32_t n = stack_top() - base;
    for (int32_t i = 0; i < n; i++) {
        if (stack_at(base + i)->kind == PT_NULL) {
            stack_cut(base);
            return runPushNULL();
        }
    }
    PTNODE *number = node->u.op.right;
    if (int rc = runEXEC(number, ri)) return fail(rc);
    if (stack_top() != base + n + 1) return fail(kExprUnderflow);
    int64_t fno = 0;
    if (int rc = runPopInteger(&fno)) return fail(rc);
    if (fno < -1 || fno > 94) return fail(kExprFunction);
    PTVALUE result;
    memset(&result, 0, sizeof result);
    const PTVALUE *args = stack_at(base);
    int rc = fno == -1 ? udf_call(ptGetUDFNode(number), args, n, &result)
                       : call_builtin(int(fno), args, n, ri, &result);
    stack_cut(base);
    if (rc) {
        release_result(result);
        if (rc == kExprNull) return runPushNULL();
        runPushInteger(0);
        return rc;
    }
    return push_value(result);
}

}  // namespace zv

// Lexer of condition texts.
//
// Works on a private, NUL-terminated copy of the text, so a caller's text
// may lie in read-only memory and may hold NUL bytes (read as blanks).
// Rules, the longest match first:
//   blanks          space, tab, newline, carriage return, form feed: skipped
//   {d '...'}       ODBC date, time ({t}) and date-time ({ts}) escapes
//   '...'           quoted dates (y-m-d, m-d-y, d-MON-y), times (TIMEMS) and
//                   date-times; or a character constant ('c', '\n', '\x41')
//   digits          INTEGER up to 9 digits, NUMBER from 10; 0x hex INTEGER;
//                   with a decimal point (and exponent) a NUMBER
//   "..."           TEXT with C escapes, any length
//   operators       && || == != <> ^= <= >= and single characters
//   names           letters, digits, '_' and '.'; or [anything but blank and ]];
//                   a name is a keyword, else a user-defined function's
// A date, time or number that does not convert is token 272; every token
// other than a double-quoted string is limited to kMaxToken bytes.
#include "engine/expr/lexer.h"

#include <cstring>

#include "engine/expr/udf.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"

namespace zv {

struct LexState {
    char *buf;      // the copy, NUL-terminated
    int32_t len;    // bytes of the copy
    int32_t pos;    // read position
    int32_t line;   // current line, from 1
};

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
int hex_value(char c) {
    if (is_digit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
char upper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }

// Value of a C escape letter (a b f n r t v, either case); any other
// character stands for itself.
int escape_value(char c) {
    switch (upper(c)) {
    case 'A': return 7;
    case 'B': return 8;
    case 'F': return 12;
    case 'N': return 10;
    case 'R': return 13;
    case 'T': return 9;
    case 'V': return 11;
    default: return static_cast<unsigned char>(c);
    }
}

// ---- Quoted dates and times --------------------------------------------------

// A cursor over the inside of a quoted literal.
struct Span {
    const char *p;
    const char *e;
    bool done() const { return p == e; }
    // A run of decimal digits of minn..maxn digits.
    bool number(int minn, int maxn, int *out) {
        int n = 0, v = 0;
        while (p + n < e && is_digit(p[n])) {
            if (n < 9) v = v * 10 + (p[n] - '0');
            n++;
        }
        if (n < minn || n > maxn) return false;
        p += n;
        *out = v;
        return true;
    }
    bool sep(const char *set) {
        if (p < e && *p && strchr(set, *p)) {
            p++;
            return true;
        }
        return false;
    }
    // Exactly three letters naming a month (JAN .. DEC, any case): 1..12.
    bool month(int *out) {
        static const char *const months[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                               "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
        int n = 0;
        while (p + n < e && is_alpha(p[n])) n++;
        if (n != 3) return false;
        for (int m = 0; m < 12; m++) {
            if (upper(p[0]) == months[m][0] && upper(p[1]) == months[m][1] && upper(p[2]) == months[m][2]) {
                p += 3;
                *out = m + 1;
                return true;
            }
        }
        return false;
    }
};

struct DateParts {
    int y = 0, m = 0, d = 0;
};
struct TimeParts {
    int h = 0, mi = 0, s = 0, ms = 0;
    bool frac = false;
};

// y-m-d, m-d-y or d-MON-y ("-" or "/" between the parts).
bool read_date(Span *sp, DateParts *out) {
    Span a = *sp;
    if (a.number(4, 4, &out->y) && a.sep("-/") && a.number(1, 2, &out->m) && a.sep("-/") &&
        a.number(1, 2, &out->d)) {
        *sp = a;
        return true;
    }
    a = *sp;
    if (a.number(1, 2, &out->m) && a.sep("-/") && a.number(1, 2, &out->d) && a.sep("-/") &&
        a.number(4, 4, &out->y)) {
        *sp = a;
        return true;
    }
    a = *sp;
    if (a.number(1, 2, &out->d) && a.sep("-/") && a.month(&out->m) && a.sep("-/") && a.number(4, 4, &out->y)) {
        *sp = a;
        return true;
    }
    return false;
}

// h:m:s, optionally :f with 1 to 4 digits of milliseconds.
bool read_time(Span *sp, TimeParts *out) {
    Span a = *sp;
    if (!(a.number(1, 2, &out->h) && a.sep(":") && a.number(1, 2, &out->mi) && a.sep(":") &&
          a.number(1, 2, &out->s)))
        return false;
    Span b = a;
    if (b.sep(":") && b.number(1, 4, &out->ms)) {
        out->frac = true;
        a = b;
    }
    *sp = a;
    return true;
}

bool skip_blanks(Span *sp) {
    const char *start = sp->p;
    while (sp->p < sp->e && *sp->p == ' ') sp->p++;
    return sp->p > start;
}

int make_date(const DateParts &d, LexToken *tok) {
    ZVDATE v = 0;
    if (zvdbDateCheck(d.y, d.m, d.d) || zvdbDatePack(&v, d.y, d.m, d.d)) return kTokBad;
    tok->node = ptPutDate(v);
    return tok->node ? kTokConst : kTokNoMemory;
}

int make_time(const TimeParts &t, bool msec, LexToken *tok) {
    ZVTIME v = 0;
    if (msec) {
        if (zvdbTimeCheckMsec(t.h, t.mi, t.s, t.ms) || zvdbTimePackMsec(&v, t.h, t.mi, t.s, t.ms)) return kTokBad;
        tok->node = ptPutTimeMsec(v);
    } else {
        if (zvdbTimeCheck(t.h, t.mi, t.s) || zvdbTimePack(&v, t.h, t.mi, t.s)) return kTokBad;
        tok->node = ptPutTime(v);
    }
    return tok->node ? kTokConst : kTokNoMemory;
}

int make_stamp(const DateParts &d, const TimeParts &t, LexToken *tok) {
    ZVDATETIME v = 0;
    if (zvdbDateCheck(d.y, d.m, d.d) || zvdbTimeCheck(t.h, t.mi, t.s) ||
        zvdbDateTimePack(&v, d.y, d.m, d.d, t.h, t.mi, t.s))
        return kTokBad;
    tok->node = ptPutStamp(v);
    return tok->node ? kTokConst : kTokNoMemory;
}

// The inside of a quoted date, time or date-time literal: the token, or 0
// when the inside has none of these forms.
int quoted_literal(Span sp, LexToken *tok) {
    DateParts d;
    TimeParts t;
    Span a = sp;
    if (read_time(&a, &t) && a.done()) return make_time(t, true, tok);
    a = sp;
    if (!read_date(&a, &d)) return 0;
    if (a.done()) return make_date(d, tok);
    if (!skip_blanks(&a) || !read_time(&a, &t) || !a.done()) return 0;
    return make_stamp(d, t, tok);
}

// {d 'y-m-d'}, {t 'h:m:s'}, {ts 'y-m-d h:m:s'} from p ('{'): the token and
// its length, or 0 when the text there is no escape.
int odbc_escape(const char *p, const char *end, LexToken *tok, int32_t *used) {
    const char *q = p + 1;
    const char *w = q;
    while (q < end && is_lower(*q)) q++;
    size_t wl = size_t(q - w);
    int kind = (wl == 1 && *w == 'd') ? 1 : (wl == 1 && *w == 't') ? 2 : (wl == 2 && w[0] == 't' && w[1] == 's') ? 3 : 0;
    if (!kind) return 0;
    const char *b = q;
    while (q < end && *q == ' ') q++;
    if (q == b || q >= end || *q != '\'') return 0;
    const char *open = ++q;
    while (q < end && *q != '\'' && q - open < 64) q++;
    if (q >= end || *q != '\'' || q + 1 >= end || q[1] != '}') return 0;
    Span sp{open, q};
    DateParts d;
    TimeParts t;
    bool ok = false;
    if (kind == 1) ok = read_date(&sp, &d) && sp.done();
    else if (kind == 2) ok = read_time(&sp, &t) && !t.frac && sp.done();
    else ok = read_date(&sp, &d) && skip_blanks(&sp) && read_time(&sp, &t) && !t.frac && sp.done();
    if (!ok) return 0;
    *used = int32_t(q + 2 - p);
    if (kind == 1) return make_date(d, tok);
    if (kind == 2) return make_time(t, false, tok);
    return make_stamp(d, t, tok);
}

// A character constant from p ('\''): its code and length, or -1.
int char_constant(const char *p, const char *end, int32_t *used) {
    if (end - p >= 3 && p[1] != '\\' && p[1] != '\'' && p[2] == '\'') {
        *used = 3;
        return static_cast<unsigned char>(p[1]);
    }
    if (end - p < 4 || p[1] != '\\') return -1;
    if (p[2] == 'x') {
        int h1 = hex_value(p[3]);
        if (h1 >= 0 && end - p >= 5 && p[4] == '\'') {
            *used = 5;
            return h1;
        }
        int h2 = end - p >= 6 ? hex_value(p[4]) : -1;
        if (h1 >= 0 && h2 >= 0 && p[5] == '\'') {
            *used = 6;
            return h1 * 16 + h2;
        }
    }
    if (p[3] == '\'') {
        *used = 4;
        return escape_value(p[2]);
    }
    return -1;
}

// ---- Strings --------------------------------------------------------------

// A growing text buffer from the engine pool; the node adopts it.
struct TextBuf {
    char *data = nullptr;
    int32_t cap = 0;
    int32_t len = 0;
    ~TextBuf() { zvputmem(data); }
    bool put(char c) {
        if (len == cap) {
            int64_t ncap = cap ? int64_t(cap) * 2 : 256;
            if (ncap > 0x7FFFFFF0) return false;
            auto *n = static_cast<char *>(zvgetmem(int32_t(ncap)));
            if (!n) return false;
            if (len) memcpy(n, data, size_t(len));
            zvputmem(data);
            data = n;
            cap = int32_t(ncap);
        }
        data[len++] = c;
        return true;
    }
};

// A double-quoted string from p ('"'): the token (0 when it is not closed)
// and its length in the text.
int string_literal(const char *p, const char *end, LexToken *tok, int32_t *used) {
    TextBuf tb;
    if (!tb.put(0)) return kTokNoMemory;  // at least the first block
    tb.len = 0;
    const char *q = p + 1;
    while (q < end && *q != '"') {
        char c = *q++;
        if (c == '\\') {
            if (q >= end) return 0;
            char e = *q++;
            if (e == '0') {
                c = 0;
            } else if (e == 'x') {
                int h1 = q < end ? hex_value(*q) : -1;
                if (h1 < 0) {
                    // \x before a non-hexadecimal character: all three vanish.
                    if (q < end) q++;
                    continue;
                }
                q++;
                int h2 = q < end ? hex_value(*q) : -1;
                if (h2 >= 0) {
                    q++;
                    c = char(h1 * 16 + h2);
                } else {
                    c = char(h1);
                }
            } else {
                c = char(escape_value(e));
            }
        }
        if (!tb.put(c)) return kTokNoMemory;
    }
    if (q >= end) return 0;
    *used = int32_t(q + 1 - p);
    tok->node = ptPutText(tb.data, tb.len, 1);
    if (!tok->node) return kTokNoMemory;
    tb.data = nullptr;  // the node owns it
    return kTokConst;
}

// ---- Numbers ----------------------------------------------------------------

// A number from p: the token and its length in the text.
int number(char *p, const char *end, LexToken *tok, int32_t *used) {
    char *q = p;
    if (end - p >= 3 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && hex_value(p[2]) >= 0) {
        q = p + 2;
        uint32_t v = 0;
        int n = 0;
        while (q < end && n < 8 && hex_value(*q) >= 0) v = v * 16 + uint32_t(hex_value(*q++)), n++;
        if (q < end && (*q == 'u' || *q == 'U')) q++;
        *used = int32_t(q - p);
        tok->node = ptPutInteger(int64_t(v));
        return tok->node ? kTokConst : kTokNoMemory;
    }
    while (q < end && is_digit(*q)) q++;
    int64_t digits = q - p;
    bool real = false;
    if (q < end && *q == '.') {
        real = true;
        q++;
        while (q < end && is_digit(*q)) q++;
        if (q < end && (*q == 'e' || *q == 'E')) {
            char *x = q + 1;
            if (x < end && (*x == '+' || *x == '-')) x++;
            if (x < end && is_digit(*x)) {
                while (x < end && is_digit(*x)) x++;
                q = x;
            }
        }
    }
    char *stop = q;
    if (!real && q < end && (*q == 'u' || *q == 'U')) q++;
    *used = int32_t(q - p);
    if (q - p > kMaxToken) return kTokTooLong;
    if (!real && digits <= 9) {
        int64_t v = 0;
        for (const char *d = p; d < stop; d++) v = v * 10 + (*d - '0');
        tok->node = ptPutInteger(v);
        return tok->node ? kTokConst : kTokNoMemory;
    }
    // The decimal conversion reads a NUL-terminated text: end the number in
    // the copy for the moment and put the byte back.
    char saved = *stop;
    *stop = 0;
    tagZVNUMBER num;
    int rc = zvdbStringToNumber(p, &num);
    *stop = saved;
    if (rc) return kTokBad;
    tok->node = ptPutNumber(&num);
    return tok->node ? kTokConst : kTokNoMemory;
}

// ---- Names --------------------------------------------------------------------

bool word_is(const char *p, int32_t n, const char *w) {
    int32_t i = 0;
    for (; i < n && w[i]; i++)
        if (upper(p[i]) != w[i]) return false;
    return i == n && !w[i];
}

bool exact(const char *p, int32_t n, const char *w) { return int32_t(strlen(w)) == n && memcmp(p, w, size_t(n)) == 0; }

int name(const char *p, int32_t n, LexToken *tok) {
    if (n > kMaxToken) return kTokTooLong;
    if (word_is(p, n, "AND")) return kTokAnd;
    if (word_is(p, n, "OR")) return kTokOr;
    if (word_is(p, n, "XOR")) return '^';
    if (word_is(p, n, "NOT")) return kTokNot;
    if (word_is(p, n, "IS")) return kTokIs;
    if (word_is(p, n, "NULL")) return kTokNull;
    const Keyword *kw = find_keyword(p, n);
    if (!kw) kw = udf_keyword(p, n);
    if (kw) {
        if (kw->cls == kClassFunction) {
            tok->kw = kw;
            return kTokFunc;
        }
        if (kw->cls == kClassAs) return kTokAs;
        if (kw->cls == kClassCast) return kTokCast;
    }
    if (exact(p, n, "int") || exact(p, n, "long")) return kTokInt;
    if (exact(p, n, "unsigned")) return kTokUnsigned;
    if (exact(p, n, "double")) return kTokDouble;
    tok->text = p;
    tok->len = n;
    return kTokIdent;
}

}  // namespace

LexState *yylexcreate(const char *text, int32_t length) {
    if (length < 0) length = 0;
    int64_t size = int64_t(sizeof(LexState)) + length + 1;
    if (size > 0x7FFFFFF0) return nullptr;
    auto *lex = static_cast<LexState *>(zvgetmem(int32_t(size)));
    if (!lex) return nullptr;
    lex->buf = reinterpret_cast<char *>(lex + 1);
    lex->len = length;
    lex->pos = 0;
    lex->line = 1;
    if (length > 0 && text) memcpy(lex->buf, text, size_t(length));
    for (int32_t i = 0; i < length; i++)
        if (lex->buf[i] == 0) lex->buf[i] = ' ';
    lex->buf[length] = 0;
    return lex;
}

void yylexdestroy(LexState *lex) { zvputmem(lex); }

int32_t lex_line(const LexState *lex) { return lex ? lex->line : 0; }

int LexScan(LexState *lex, LexToken *tok) {
    *tok = LexToken{};
    char *p = lex->buf + lex->pos;
    char *end = lex->buf + lex->len;
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f')) {
        if (*p == '\n') lex->line++;
        p++;
    }
    auto done = [&](int code, int32_t used) {
        lex->pos = int32_t(p + used - lex->buf);
        return tok->code = code;
    };
    if (p >= end) return done(kTokEnd, 0);
    char c = p[0];
    char n = p + 1 < end ? p[1] : 0;
    int32_t used = 0;

    if (c == '{') {
        int t = odbc_escape(p, end, tok, &used);
        return t ? done(t, used) : done('{', 1);
    }
    if (c == '\'') {
        // Character constants first (they are never longer than a date).
        int v = char_constant(p, end, &used);
        if (v >= 0) {
            tok->node = ptPutInteger(v);
            return done(tok->node ? kTokConst : kTokNoMemory, used);
        }
        const char *q = p + 1;
        while (q < end && *q != '\'' && q - p <= 64) q++;
        if (q < end && *q == '\'') {
            int t = quoted_literal(Span{p + 1, q}, tok);
            if (t) return done(t, int32_t(q + 1 - p));
        }
        return done('\'', 1);
    }
    if (is_digit(c) || (c == '.' && is_digit(n))) {
        int t = number(p, end, tok, &used);
        return done(t, used);
    }
    if (c == '"') {
        int t = string_literal(p, end, tok, &used);
        return t ? done(t, used) : done('"', 1);
    }
    if (is_alpha(c) || c == '_') {
        char *q = p + 1;
        while (q < end && (is_alpha(*q) || is_digit(*q) || *q == '_' || *q == '.')) q++;
        int32_t len = int32_t(q - p);
        return done(name(p, len, tok), len);
    }
    if (c == '[') {
        char *q = p + 1;
        while (q < end && *q != ' ' && *q != ']') q++;
        if (q < end && *q == ']' && q > p + 1) {
            int32_t len = int32_t(q - p - 1);
            if (len > kMaxToken) return done(kTokTooLong, len + 2);
            tok->text = p + 1;
            tok->len = len;
            return done(kTokIdent, len + 2);
        }
        return done('[', 1);
    }
    switch (c) {
    case '&': return n == '&' ? done(kTokAnd, 2) : done('&', 1);
    case '|': return n == '|' ? done(kTokOr, 2) : done('|', 1);
    case '=': return n == '=' ? done(kTokEQ, 2) : done(kTokEQ, 1);
    case '!': return n == '=' ? done(kTokNE, 2) : done('!', 1);
    case '^': return n == '=' ? done(kTokNE, 2) : done('^', 1);
    case '<':
        if (n == '>') return done(kTokNE, 2);
        return n == '=' ? done(kTokLE, 2) : done(kTokLT, 1);
    case '>': return n == '=' ? done(kTokGE, 2) : done(kTokGT, 1);
    default: return done(static_cast<unsigned char>(c), 1);
    }
}

}  // namespace zv

// Text comparison and pattern matching.
//
// Letters are folded with the C locale's rule (a..z to A..Z) whatever the
// process locale. The wildcard matcher keeps one resumption point (the
// last "*" met and the text position it stands for): a failure after a
// "*" retries the rest of the pattern one byte further on, and a later
// "*" replaces the resumption point, because whatever the earlier one
// matched can then be matched by the later one. Each retry moves the
// resumption point forward, so a match takes at most
// (pattern + 1) x (text + 1) steps and no memory.
#include "engine/expr/textcmp.h"

#include <cstring>

#include "engine/core/pools.h"
#include "engine/expr/eval.h"

namespace zv {

namespace {

inline unsigned char fold(unsigned char c) { return (c >= 'a' && c <= 'z') ? uint8_t(c - 32) : c; }

inline unsigned char at(const unsigned char *p, int64_t i, bool nocase) { return nocase ? fold(p[i]) : p[i]; }

// Whether the values compare as numbers of kind (else as texts).
int compare_numbers(int kind, const PTVALUE &x, const PTVALUE &y) {
    switch (kind) {
    case PT_INTEGER: return x.v.integer < y.v.integer ? -1 : x.v.integer > y.v.integer;
    case PT_DATE: case PT_TIME: case PT_TIMEMS: return x.v.u32 < y.v.u32 ? -1 : x.v.u32 > y.v.u32;
    case PT_STAMP: return x.v.stamp < y.v.stamp ? -1 : x.v.stamp > y.v.stamp;
    default: return zvdbNumberCmp(&x.v.number, &y.v.number);
    }
}

}  // namespace

int StrComp(const unsigned char *a, int64_t alen, const unsigned char *b, int64_t blen, int nocase,
            int sqlpad) {
    if (alen < 0) alen = 0;
    if (blen < 0) blen = 0;
    if (alen == 0 && blen == 0) return 0;
    if (!a) return b ? -1 : 0;
    if (!b) return 1;
    const bool nc = nocase != 0;
    const int64_t n = alen < blen ? alen : blen;
    for (int64_t i = 0; i < n; i++) {
        unsigned char x = at(a, i, nc), y = at(b, i, nc);
        if (x != y) return x < y ? -1 : 1;
    }
    if (alen == blen) return 0;
    if (!sqlpad) return alen < blen ? -1 : 1;
    // The shorter text counts as filled with blanks.
    const bool along = alen > blen;
    const unsigned char *rest = along ? a : b;
    for (int64_t i = n; i < (along ? alen : blen); i++) {
        unsigned char c = at(rest, i, nc);
        if (c != ' ') return (c > ' ') == along ? 1 : -1;
    }
    return 0;
}

int StrNComp(const unsigned char *a, int64_t alen, const unsigned char *b, int64_t blen, int64_t n, int nocase) {
    if (alen < 0) alen = 0;
    if (blen < 0) blen = 0;
    if (n < 1 || (alen == 0 && blen == 0)) return 0;
    if (!a) return b ? -1 : 0;
    if (!b) return 1;
    if (alen == 0) return -1;
    if (blen == 0) return 1;
    const bool nc = nocase != 0;
    int64_t m = alen < blen ? alen : blen;
    if (m > n) m = n;
    for (int64_t i = 0; i < m; i++) {
        unsigned char x = at(a, i, nc), y = at(b, i, nc);
        if (x != y) return x < y ? -1 : 1;
    }
    if (m == n || alen == blen) return 0;
    return alen < blen ? -1 : 1;
}

int BinComp(const unsigned char *a, int64_t alen, const unsigned char *b, int64_t blen) {
    return StrComp(a, alen, b, blen, 0, 1);
}

int str_match(const unsigned char *text, int64_t tlen, const unsigned char *pat, int64_t plen, bool cs,
              int64_t *steps) {
    if (tlen < 0 || !text) tlen = 0;
    if (plen < 0 || !pat) plen = 0;
    int64_t t = 0, p = 0;
    int64_t star_p = -1, star_t = 0;  // pattern after the last "*", text it resumes at
    int64_t count = 0;
    int result = -1;
    while (result < 0) {
        count++;
        if (t == tlen) {
            while (p < plen && pat[p] == '*') p++;
            result = p == plen;
            break;
        }
        if (p < plen && pat[p] == '*') {
            while (p < plen && pat[p] == '*') p++;
            if (p == plen) {
                result = 1;  // a trailing "*" takes the rest of the text
                break;
            }
            star_p = p;
            star_t = t;
            continue;
        }
        if (p < plen) {
            unsigned char want = pat[p];
            int64_t width = 1;
            bool any = want == '.';
            if (want == '~' && p + 1 < plen) {
                want = pat[p + 1];
                width = 2;
                any = false;
            }
            unsigned char got = text[t];
            if (any || (cs ? got == want : fold(got) == fold(want))) {
                p += width;
                t++;
                continue;
            }
        }
        if (star_p < 0) {
            result = 0;
            break;
        }
        p = star_p;
        t = ++star_t;
    }
    if (steps) *steps += count;
    return result;
}

int StrMatch(const unsigned char *text, const unsigned char *textlast, const unsigned char *pattern,
             const unsigned char *patternlast, int casesensitive) {
    int64_t tlen = text && textlast ? textlast - text + 1 : 0;
    int64_t plen = pattern && patternlast ? patternlast - pattern + 1 : 0;
    return str_match(text, tlen, pattern, plen, casesensitive != 0, nullptr);
}

int Leafcmp(int kind, const PTVALUE *a, const PTVALUE *b, int *result, int nocase, int sqlpad) {
    *result = 0;
    if (kind < PT_INTEGER || kind > PT_TEXT) return kExprCompare;
    if (kind == PT_TEXT) {
        if (a->kind == PT_NULL || b->kind == PT_NULL) return kExprNull;
        TextOf x, y;
        if (int rc = x.take(*a)) return rc;
        if (int rc = y.take(*b)) return rc;
        if (b->kind == PT_TEXT && (x.binary || y.binary)) {
            int64_t n = x.len < y.len ? x.len : y.len;
            *result = StrNComp(x.p, x.len, y.p, y.len, n, 0);
        } else {
            *result = StrComp(x.p, x.len, y.p, y.len, nocase, sqlpad);
        }
        return 0;
    }
    PTVALUE x, y;
    int ea = extract_as(kind, *a, &x, nullptr, 0);
    int eb = extract_as(kind, *b, &y, nullptr, 0);
    if (ea == kExprNull && eb == kExprNull) {
        *result = compare_numbers(kind, x, y);
        return kExprNull;
    }
    if (ea == kExprNull) return eb ? eb : kExprNull;
    if (eb == kExprNull) return ea ? ea : kExprNull;
    if (ea) return ea;
    if (eb) return eb;
    *result = compare_numbers(kind, x, y);
    return 0;
}

int funINComp(const void *a, const void *b) {
    auto *x = static_cast<const PTVALUE *>(a);
    int r = 0;
    Leafcmp(int(x->kind), x, static_cast<const PTVALUE *>(b), &r, 0, 1);
    return r;
}

int funINiComp(const void *a, const void *b) {
    auto *x = static_cast<const PTVALUE *>(a);
    int r = 0;
    Leafcmp(int(x->kind), x, static_cast<const PTVALUE *>(b), &r, 1, 1);
    return r;
}

unsigned char *funSubstring(const unsigned char *text, int64_t length, int64_t start, int64_t count,
                            int64_t *outlength) {
    if (outlength) *outlength = 0;
    if (!text || length < 0 || count < 0) return nullptr;
    if (start < 0) start = 0;
    int64_t n = 0;
    if (start < length) n = count < length - start ? count : length - start;
    if (n > 0x7FFFFFF0) return nullptr;
    auto *out = static_cast<unsigned char *>(zvgetmem(int32_t(n > 0 ? n : 1)));
    if (!out) return nullptr;
    if (n > 0) memcpy(out, text + start, size_t(n));
    if (outlength) *outlength = n;
    return out;
}

}  // namespace zv

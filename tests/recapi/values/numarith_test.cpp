// Number arithmetic, checked against an exact decimal reference.
#include <cstring>
#include <random>
#include <string>

#include "tests/support/fixture.h"
#include "zarvo/zvdb.h"

namespace {

using zvtest::ZvTest;
using NumArithTest = ZvTest;

// ---- Exact reference ---------------------------------------------------------
// Natural numbers as decimal strings without leading zeros ("" is zero).

std::string strip(std::string s) {
    size_t i = 0;
    while (i < s.size() && s[i] == '0') i++;
    return s.substr(i);
}

int nat_cmp(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    int c = a.compare(b);
    return (c > 0) - (c < 0);
}

std::string nat_add(const std::string &a, const std::string &b) {
    std::string r;
    int carry = 0;
    for (size_t i = 0; i < a.size() || i < b.size() || carry; i++) {
        int v = carry;
        if (i < a.size()) v += a[a.size() - 1 - i] - '0';
        if (i < b.size()) v += b[b.size() - 1 - i] - '0';
        r += char('0' + v % 10);
        carry = v / 10;
    }
    return strip(std::string(r.rbegin(), r.rend()));
}

// a - b for a >= b.
std::string nat_sub(const std::string &a, const std::string &b) {
    std::string r;
    int borrow = 0;
    for (size_t i = 0; i < a.size(); i++) {
        int v = a[a.size() - 1 - i] - '0' - borrow;
        if (i < b.size()) v -= b[b.size() - 1 - i] - '0';
        borrow = v < 0;
        r += char('0' + (v + 10) % 10);
    }
    return strip(std::string(r.rbegin(), r.rend()));
}

std::string nat_mul(const std::string &a, const std::string &b) {
    if (a.empty() || b.empty()) return "";
    std::vector<int> acc(a.size() + b.size(), 0);
    for (size_t i = 0; i < a.size(); i++)
        for (size_t j = 0; j < b.size(); j++) acc[i + j + 1] += (a[i] - '0') * (b[j] - '0');
    for (size_t k = acc.size() - 1; k > 0; k--) {
        acc[k - 1] += acc[k] / 10;
        acc[k] %= 10;
    }
    std::string r;
    for (int v : acc) r += char('0' + v);
    return strip(r);
}

// A decimal value: +/- digits x 10^exp; digits carry no leading or trailing
// zeros, and zero has no digits and no sign.
struct Dec {
    bool neg = false;
    std::string d;
    long exp = 0;
};

Dec norm(Dec v) {
    v.d = strip(v.d);
    while (!v.d.empty() && v.d.back() == '0') {
        v.d.pop_back();
        v.exp++;
    }
    if (v.d.empty()) return Dec{};
    return v;
}

bool is_zero(const Dec &v) { return v.d.empty(); }

// Digits of v scaled to the exponent e (e <= v.exp).
std::string scaled(const Dec &v, long e) { return v.d.empty() ? "" : v.d + std::string(size_t(v.exp - e), '0'); }

int cmp_abs(const Dec &a, const Dec &b) {
    long e = std::min(a.exp, b.exp);
    return nat_cmp(scaled(a, e), scaled(b, e));
}

bool operator==(const Dec &a, const Dec &b) { return a.neg == b.neg && a.d == b.d && a.exp == b.exp; }

Dec add(const Dec &a, const Dec &b) {
    if (is_zero(a)) return b;
    if (is_zero(b)) return a;
    long e = std::min(a.exp, b.exp);
    std::string x = scaled(a, e), y = scaled(b, e);
    Dec r;
    r.exp = e;
    if (a.neg == b.neg) {
        r.d = nat_add(x, y);
        r.neg = a.neg;
    } else if (nat_cmp(x, y) >= 0) {
        r.d = nat_sub(x, y);
        r.neg = a.neg;
    } else {
        r.d = nat_sub(y, x);
        r.neg = b.neg;
    }
    return norm(r);
}

Dec negate(Dec v) {
    if (!is_zero(v)) v.neg = !v.neg;
    return v;
}

Dec mul(const Dec &a, const Dec &b) {
    Dec r;
    r.d = nat_mul(a.d, b.d);
    r.exp = a.exp + b.exp;
    r.neg = a.neg != b.neg;
    return norm(r);
}

Dec abs_of(Dec v) {
    v.neg = false;
    return v;
}

// Floor division by 2 for negative values too.
long floor_half(long v) { return v >= 0 ? v / 2 : -((-v + 1) / 2); }

// Base-100 exponent E of a nonzero value: 100^(E-1) <= |v| < 100^E.
long exp100(const Dec &v) { return floor_half(v.exp + long(v.d.size()) + 1); }

// True when the value has a stored form: at most 16 base-100 digits and
// -63 <= E <= 62.
bool fits(const Dec &v) {
    if (is_zero(v)) return true;
    long E = exp100(v);
    return E - floor_half(v.exp) <= 16 && E >= -63 && E <= 62;
}

// One unit of the 16th base-100 digit below 100^E.
Dec unit_below(long E) { return Dec{false, "1", 2 * (E - 16)}; }

// Rounds half away from zero to k decimals.
Dec round_ref(const Dec &v, int k) {
    if (is_zero(v) || v.exp >= -k) return v;
    long drop = -k - v.exp;  // digits below 10^-k
    Dec r;
    r.neg = v.neg;
    r.exp = -k;
    if (drop > long(v.d.size())) return Dec{};
    std::string keep = v.d.substr(0, v.d.size() - size_t(drop));
    bool up = v.d[v.d.size() - size_t(drop)] >= '5';
    r.d = up ? nat_add(keep, "1") : strip(keep);
    return norm(r);
}

Dec parse_dec(const std::string &t) {
    Dec v;
    size_t i = 0;
    if (t[i] == '-' || t[i] == '+') v.neg = t[i++] == '-';
    long frac = -1;
    for (; i < t.size(); i++) {
        if (t[i] == '.') frac = 0;
        else {
            v.d += t[i];
            if (frac >= 0) frac++;
        }
    }
    v.exp = frac > 0 ? -frac : 0;
    return norm(v);
}

std::string show(const Dec &v) {
    if (is_zero(v)) return "0";
    return (v.neg ? "-" : "") + v.d + "E" + std::to_string(v.exp);
}

// Reads a stored image by the documented layout and checks that it is
// normalised.
Dec decode(const tagZVNUMBER &n) {
    const unsigned char *b = reinterpret_cast<const unsigned char *>(&n);
    int len = n.length;
    EXPECT_TRUE(len >= 2 && len <= 17) << len;
    int cnt = len - 1;
    for (int i = 3 + cnt; i < 20; i++) EXPECT_EQ(b[i], 0) << "byte " << i;
    bool neg = !(b[2] & 0x80);
    long E = neg ? 63 - long(b[2]) : long(b[2] & 0x7F) - 64;
    std::string digits;
    for (int i = 0; i < cnt; i++) {
        int d = b[3 + i];
        if (neg) d = (i == cnt - 1) ? 100 - d : 99 - d;
        EXPECT_TRUE(d >= 0 && d <= 99);
        if (i == 0 && !(cnt == 1 && d == 0)) {
            EXPECT_NE(d, 0) << "leading zero digit";
        }
        if (i == cnt - 1 && cnt > 1) {
            EXPECT_NE(d, 0) << "trailing zero digit";
        }
        digits += char('0' + d / 10);
        digits += char('0' + d % 10);
    }
    Dec v{neg, digits, 2 * (E - cnt)};
    v = norm(v);
    if (is_zero(v)) {
        EXPECT_EQ(b[2], 0xC1) << "zero has one form";
    }
    return v;
}

tagZVNUMBER num(const std::string &t) {
    tagZVNUMBER n;
    EXPECT_EQ(zvdbStringToNumber(t.c_str(), &n), 0) << t;
    return n;
}

// A random decimal text: up to 32 digits, either sign, scaled by 10^e.
std::string random_text(std::mt19937 &rng, int minexp, int maxexp) {
    int nd = 1 + int(rng() % 32);
    std::string d(1, char('1' + rng() % 9));
    for (int i = 1; i < nd; i++) d += char('0' + rng() % 10);
    int e = minexp + int(rng() % unsigned(maxexp - minexp + 1));
    std::string t = (rng() & 1) ? "-" : "";
    if (e >= 0) return t + d + std::string(size_t(e), '0');
    if (-e >= nd) return t + "0." + std::string(size_t(-e - nd), '0') + d;
    return t + d.substr(0, size_t(nd + e)) + "." + d.substr(size_t(nd + e));
}

// An operand near another one, so that their sum cancels leading digits.
std::string near_text(std::mt19937 &rng, const Dec &a) {
    Dec b = negate(a);
    std::string tail(1 + rng() % 6, '0');
    for (char &c : tail) c = char('0' + rng() % 10);
    b = add(b, Dec{(rng() & 1) != 0, strip(tail), b.exp - long(rng() % 4)});
    if (is_zero(b)) return "1";
    std::string t = (b.neg ? "-" : "") + b.d;
    return t + "E" + std::to_string(b.exp);
}

// ---- Tests -------------------------------------------------------------------------

TEST_F(NumArithTest, ReferenceSelfCheck) {
    EXPECT_EQ(show(add(parse_dec("1.5"), parse_dec("-2.25"))), "-75E-2");
    EXPECT_EQ(show(mul(parse_dec("-1.5"), parse_dec("0.2"))), "-3E-1");
    EXPECT_EQ(show(round_ref(parse_dec("-2.345"), 2)), "-235E-2");
    EXPECT_TRUE(fits(parse_dec("12345678901234567890123456789012")));
    EXPECT_FALSE(fits(parse_dec("1.2345678901234567890123456789012")));
    EXPECT_EQ(decode(num("-1.5")), parse_dec("-1.5"));
}

TEST_F(NumArithTest, ParsedOperandsAreExactWhenTheyFit) {
    std::mt19937 rng(7);
    for (int i = 0; i < 5000; i++) {
        std::string t = random_text(rng, -60, 60);
        Dec want = parse_dec(t);
        tagZVNUMBER n = num(t);
        if (fits(want)) {
            EXPECT_EQ(decode(n), want) << t;
        } else {
            EXPECT_LE(cmp_abs(decode(n), want), 0) << t;
        }
    }
}

TEST_F(NumArithTest, AddAndSubAreExactWhenTheResultFits) {
    std::mt19937 rng(11);
    int exact = 0;
    for (int i = 0; i < 20000; i++) {
        std::string ta = random_text(rng, -40, 40);
        tagZVNUMBER a = num(ta);
        Dec da = decode(a);
        std::string tb;
        switch (i % 4) {
        case 0: tb = near_text(rng, da); break;
        case 1: tb = random_text(rng, int(da.exp) - 40, int(da.exp) + 2); break;
        default: tb = random_text(rng, -40, 40); break;
        }
        tagZVNUMBER b = num(tb), r;
        Dec db = decode(b);
        bool sub = (i & 1) != 0;
        Dec want = sub ? add(da, negate(db)) : add(da, db);
        int rc = sub ? zvdbNumberSub(&a, &b, &r) : zvdbNumberAdd(&a, &b, &r);
        if (!is_zero(want) && exp100(want) > 62) {
            EXPECT_EQ(rc, 4038);
            continue;
        }
        if (!is_zero(want) && exp100(want) < -63) {
            EXPECT_EQ(rc, 4039);
            continue;
        }
        ASSERT_EQ(rc, 0) << ta << (sub ? " - " : " + ") << tb;
        Dec got = decode(r);
        if (fits(want)) {
            exact++;
            EXPECT_EQ(got, want) << ta << (sub ? " - " : " + ") << tb << " = " << show(got);
        } else {
            // Cut toward zero to 16 base-100 digits.
            EXPECT_EQ(got.neg, want.neg);
            EXPECT_LE(cmp_abs(got, want), 0);
            EXPECT_LT(cmp_abs(add(abs_of(want), negate(abs_of(got))), unit_below(exp100(want))), 0)
                << ta << " " << tb;
        }
    }
    EXPECT_GT(exact, 2000);
}

TEST_F(NumArithTest, MulAndDivStayWithinOneUnitBelowTheExactValue) {
    std::mt19937 rng(13);
    for (int i = 0; i < 8000; i++) {
        std::string ta = random_text(rng, -40, 40), tb = random_text(rng, -40, 40);
        tagZVNUMBER a = num(ta), b = num(tb), r;
        Dec da = decode(a), db = decode(b);
        // Product: exact when it fits, else cut toward zero.
        Dec p = mul(da, db);
        int rc = zvdbNumberMul(&a, &b, &r);
        long ep = exp100(p);
        if (ep > 62 || ep < -63) {
            EXPECT_EQ(rc, ep > 62 ? 4038 : 4039) << ta << " * " << tb;
        } else {
            ASSERT_EQ(rc, 0) << ta << " * " << tb;
            Dec got = decode(r);
            if (fits(p)) {
                EXPECT_EQ(got, p) << ta << " * " << tb;
            }
            EXPECT_EQ(got.neg, p.neg);
            EXPECT_LE(cmp_abs(got, p), 0);
            EXPECT_LT(cmp_abs(add(abs_of(p), negate(abs_of(got))), unit_below(exp100(got))), 0);
        }
        // Quotient q: |q| |b| <= |a| < (|q| + unit) |b|. Its exponent is
        // Ea - Eb + 1 when |a| >= |b| 100^(Ea - Eb), else Ea - Eb.
        long eq = exp100(da) - exp100(db);
        long want_e = cmp_abs(da, mul(abs_of(db), Dec{false, "1", 2 * eq})) >= 0 ? eq + 1 : eq;
        rc = zvdbNumberDiv(&a, &b, &r);
        EXPECT_EQ(rc, want_e > 62 ? 4038 : want_e < -63 ? 4039 : 0) << ta << " / " << tb;
        if (rc != 0) continue;
        Dec q = decode(r);
        ASSERT_FALSE(is_zero(q));
        EXPECT_EQ(exp100(q), want_e);
        EXPECT_EQ(q.neg, da.neg != db.neg) << ta << " / " << tb;
        Dec qb = mul(abs_of(q), abs_of(db));
        EXPECT_LE(cmp_abs(qb, da), 0) << ta << " / " << tb << " = " << show(q);
        Dec upper = mul(add(abs_of(q), unit_below(exp100(q))), abs_of(db));
        EXPECT_LT(cmp_abs(da, upper), 0) << ta << " / " << tb << " = " << show(q);
    }
}

TEST_F(NumArithTest, RoundIsHalfAwayFromZero) {
    struct Case {
        const char *in;
        int k;
        const char *out;
    } cases[] = {
        {"2.345", 2, "2.35"}, {"-2.345", 2, "-2.35"}, {"2.5", 0, "3"}, {"-2.5", 0, "-3"},
        {"99.96", 1, "100"}, {"0.0049", 2, "0"}, {"0.0051", 2, "0.01"}, {"-0.0051", 2, "-0.01"},
        {"0.00049", 2, "0"}, {"12.5", 5, "12.5"}, {"0.5", 0, "1"}, {"0.49", 0, "0"},
        {"9.99999", 4, "10"},
    };
    for (const Case &c : cases) {
        tagZVNUMBER n = num(c.in);
        ASSERT_EQ(zvdbNumberRound(&n, c.k), 0) << c.in;
        EXPECT_EQ(decode(n), parse_dec(c.out)) << c.in << " to " << c.k;
    }
    std::mt19937 rng(17);
    for (int i = 0; i < 20000; i++) {
        std::string t = random_text(rng, -40, 30);
        tagZVNUMBER n = num(t);
        Dec v = decode(n);
        int k = int(rng() % 45);
        ASSERT_EQ(zvdbNumberRound(&n, k), 0) << t;
        EXPECT_EQ(decode(n), round_ref(v, k)) << t << " to " << k;
    }
    tagZVNUMBER n = num("1.5");
    EXPECT_EQ(zvdbNumberRound(&n, -1), 4062);
    EXPECT_EQ(zvdbNumberRound(nullptr, 1), 4007);
}

TEST_F(NumArithTest, SpecialOperands) {
    tagZVNUMBER zero, one = num("1"), tiny = num("1E-40"), r;
    zvdbNumberZero(&zero);
    EXPECT_EQ(zvdbNumberDiv(&one, &zero, &r), 4040);
    EXPECT_EQ(zvdbNumberDiv(&zero, &zero, &r), 4040);
    ASSERT_EQ(zvdbNumberDiv(&zero, &one, &r), 0);
    EXPECT_EQ(zvdbIsNumberZero(&r), 1);
    ASSERT_EQ(zvdbNumberMul(&zero, &tiny, &r), 0);
    EXPECT_EQ(zvdbIsNumberZero(&r), 1);
    ASSERT_EQ(zvdbNumberAdd(&one, &tiny, &r), 0);
    EXPECT_EQ(decode(r), parse_dec("1"));
    ASSERT_EQ(zvdbNumberSub(&one, &one, &r), 0);
    EXPECT_EQ(zvdbIsNumberZero(&r), 1);
    tagZVNUMBER two = num("2"), m3 = num("-3");
    ASSERT_EQ(zvdbNumberMul(&two, &m3, &r), 0);
    EXPECT_EQ(decode(r), parse_dec("-6"));
    // 1/3: sixteen base-100 digits of 33, cut.
    tagZVNUMBER three = num("3");
    ASSERT_EQ(zvdbNumberDiv(&one, &three, &r), 0);
    EXPECT_EQ(decode(r), parse_dec("0." + std::string(32, '3')));
    // 1 - 100^-16 has exactly 16 digits of 99.
    tagZVNUMBER u = num("1E-32");
    ASSERT_EQ(zvdbNumberSub(&one, &u, &r), 0);
    EXPECT_EQ(decode(r), parse_dec("0." + std::string(32, '9')));
    // A result may be one of the operands.
    tagZVNUMBER x = num("1.25");
    ASSERT_EQ(zvdbNumberAdd(&x, &x, &x), 0);
    EXPECT_EQ(decode(x), parse_dec("2.5"));
    EXPECT_EQ(zvdbNumberAdd(nullptr, &x, &r), 4007);
    EXPECT_EQ(zvdbNumberMul(&x, nullptr, &r), 4007);
    EXPECT_EQ(zvdbNumberDiv(&x, &x, nullptr), 4007);
}

TEST_F(NumArithTest, DigitCounts) {
    struct Case {
        const char *in;
        int ints, fracs;
    } cases[] = {{"12.5", 2, 1}, {"-12.5", 2, 1}, {"0.05", 0, 2}, {"100", 3, 0},
                 {"0", 1, 0}, {"-0.001", 0, 3}, {"123456.789", 6, 3}};
    for (const Case &c : cases) {
        tagZVNUMBER n = num(c.in);
        int32_t i = -1, f = -1;
        ASSERT_EQ(zvdbNumberGetDecimal(&n, &i, &f), 0);
        EXPECT_EQ(i, c.ints) << c.in;
        EXPECT_EQ(f, c.fracs) << c.in;
    }
    tagZVNUMBER bad;
    std::memset(&bad, 0, sizeof bad);
    int32_t i, f;
    EXPECT_EQ(zvdbNumberGetDecimal(&bad, &i, &f), 4060);
    EXPECT_EQ(zvdbNumberGetDecimal(nullptr, &i, &f), 4007);
}

}  // namespace

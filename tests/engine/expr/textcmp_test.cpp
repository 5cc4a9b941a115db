// Text comparison, the wildcard matcher, and IN over value sets.
#include <string>

#include "engine/core/instance.h"
#include "engine/expr/eval.h"
#include "engine/expr/textcmp.h"
#include "tests/engine/expr/evalfix.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdbpt.h"

namespace {

using namespace evaltest;

const unsigned char *u(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }

int cmp(const std::string &a, const std::string &b, int nocase, int sqlpad) {
    return zv::StrComp(u(a), int64_t(a.size()), u(b), int64_t(b.size()), nocase, sqlpad);
}

TEST(TextCompare, StrCompAndStrNComp) {
    struct Case {
        std::string a, b;
        int nocase, sqlpad, want;
    };
    const Case cases[] = {
        {"abc", "abc  ", 0, 1, 0},  {"abc", "abc  ", 0, 0, -1}, {"abc  ", "abc", 0, 1, 0},
        {"abc", "abd", 0, 0, -1},   {"ABC", "abc", 1, 0, 0},    {"abc", "ABD", 1, 0, -1},
        {"", "", 0, 0, 0},          {"", "a", 0, 0, -1},        {"\xE9", "e", 0, 0, 1},  // unsigned bytes
        {"abc", "abc x", 0, 1, -1},
        // With padding the shorter text counts as filled with blanks, so
        // the order stays total: a byte below the blank sorts first.
        {"abc", std::string("abc\x01", 4), 0, 1, 1},
        {std::string("abc\x01", 4), "abc ", 0, 1, -1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(cmp(c.a, c.b, c.nocase, c.sqlpad), c.want) << c.a << "|" << c.b << " " << c.nocase << c.sqlpad;
    EXPECT_EQ(zv::StrComp(nullptr, 2, u("ab"), 2, 0, 0), -1);
    EXPECT_EQ(zv::StrComp(u("ab"), 2, nullptr, 2, 0, 0), 1);
    EXPECT_EQ(zv::BinComp(u("ab"), 2, u("ab "), 3), 0);

    struct NCase {
        std::string a, b;
        int64_t n;
        int nocase, want;
    };
    const NCase ncases[] = {
        {"abcx", "abcy", 3, 0, 0}, {"abcx", "abcy", 4, 0, -1}, {"ab", "abc", 3, 0, -1}, {"ab", "abc", 2, 0, 0},
        {"ab", "x", 0, 0, 0},      {"", "a", 1, 0, -1},        {"a", "", 1, 0, 1},      {"AB", "ab", 2, 1, 0},
    };
    for (const NCase &c : ncases)
        EXPECT_EQ(zv::StrNComp(u(c.a), int64_t(c.a.size()), u(c.b), int64_t(c.b.size()), c.n, c.nocase), c.want)
            << c.a << "|" << c.b << " " << c.n;
}

TEST(TextCompare, WildcardMatching) {
    struct Case {
        std::string pattern, text;
        bool cs;
        int want;
    };
    const Case cases[] = {
        {"a*c", "abbbc", true, 1},  {"a*c", "abd", true, 0},   {"abc*", "abc", true, 1},
        {"a.c", "axc", true, 1},    {"a~.c", "a.c", true, 1},  {"a~.c", "axc", true, 0},
        {"a**", "a", true, 1},      {"a~", "a~", true, 1},     {"a~", "a", true, 0},
        {"~*", "*", true, 1},       {"~*", "x", true, 0},      {"*", "", true, 1},
        {"", "", true, 1},          {"", "a", true, 0},        {"a*b*c", "aXbYbZc", true, 1},
        {"A*C", "abc", false, 1},   {"A*C", "abc", true, 0},   {"*a", "bbb", true, 0},
        {"a.", "a", true, 0},       {"*~~", "x~", true, 1},
    };
    for (const Case &c : cases) {
        const unsigned char *t = u(c.text), *p = u(c.pattern);
        EXPECT_EQ(zv::StrMatch(t, t + c.text.size() - 1, p, p + c.pattern.size() - 1, c.cs), c.want)
            << c.pattern << " on " << c.text;
    }
    // The cost stays within (pattern + 1) x (text + 1) steps.
    const std::string text(10000, 'a'), pattern = "*a*a*a*a*a*a*a*a*a*b";
    int64_t steps = 0;
    EXPECT_EQ(zv::str_match(u(text), int64_t(text.size()), u(pattern), int64_t(pattern.size()), true, &steps), 0);
    EXPECT_GT(steps, 0);
    EXPECT_LE(steps, int64_t(pattern.size() + 1) * int64_t(text.size() + 1));
}

// IN(value, set) and INi built through the parse-tree calls.
PTNODE *in_call(int number, PTNODE *value, PTNODE *set) {
    PTNODE *list = zvdbptAddToExprList(zvdbptAddToExprList(nullptr, value), set);
    return zvdbptPutNode(PT_FUNCTION, 9, list, zvdbptPutInteger(number));
}

PTNODE *set_of(std::initializer_list<PTVALUE> members) {
    PTNODE *s = zvdbptPutSet(int32_t(members.size()));
    for (const PTVALUE &m : members) EXPECT_EQ(zvdbptCopyIntoSet(s, &m), s);
    return s;
}

PTVALUE integer(int64_t v) {
    PTVALUE x{};
    x.kind = PT_INTEGER;
    x.v.integer = v;
    return x;
}

PTVALUE textv(const char *s) {
    PTVALUE x{};
    x.kind = PT_TEXT;
    x.length = uint32_t(strlen(s));
    x.v.text = reinterpret_cast<unsigned char *>(const_cast<char *>(s));
    return x;
}

// The preparation state and the members of a set node.
int64_t state(PTNODE *set) { return zv::ptGetValue(set)->v.set[0].v.integer; }
int64_t member(PTNODE *set, int i) { return zv::ptGetValue(set)->v.set[i].v.integer; }

TEST_F(EvalTest, InSortsASetOnceAndScansMixedOnes) {
    const Image img = full_image();  // Qty is 3, field 5
    PTNODE *set = set_of({integer(3), integer(1), integer(2)});
    PTNODE *t = in_call(90, zvdbptPutField(PT_FIELD, 9, 5), set);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(state(set), 1);
    EXPECT_EQ(value_of(t, img), "INTEGER 1");
    EXPECT_EQ(state(set), 0);
    EXPECT_EQ(member(set, 1), 1);
    EXPECT_EQ(member(set, 2), 2);
    EXPECT_EQ(member(set, 3), 3);
    EXPECT_EQ(value_of(t, img), "INTEGER 1");  // searched in the sorted order
    zvdbptDestroy(t);

    struct Case {
        PTNODE *tree;
        PTNODE *set;
        const char *want;
        int64_t state;
    };
    PTNODE *one = set_of({integer(9)});
    PTNODE *mixed = set_of({integer(1), textv("2")});
    PTNODE *names = set_of({textv("abc"), textv("xyz")});
    PTNODE *names2 = set_of({textv("abc"), textv("xyz")});
    PTNODE *absent = set_of({integer(4), integer(5)});
    PTNODE *other = set_of({textv("3"), textv("4")});
    const Case cases[] = {
        {in_call(90, zvdbptPutInteger(9), one), one, "INTEGER 1", 2},
        {in_call(90, zvdbptPutInteger(2), mixed), mixed, "INTEGER 1", 2},
        {in_call(91, zvdbptPutText("ABC", 3, 0), names), names, "INTEGER 1", 0},
        {in_call(90, zvdbptPutText("ABC", 3, 0), names2), names2, "INTEGER 0", 0},
        {in_call(90, zvdbptPutInteger(3), absent), absent, "INTEGER 0", 0},
        // A probe of another kind than the sorted members: scanned.
        {in_call(90, zvdbptPutInteger(3), other), other, "INTEGER 1", 0},
    };
    for (const Case &c : cases) {
        ASSERT_NE(c.tree, nullptr);
        EXPECT_EQ(value_of(c.tree, img), c.want) << c.want;
        EXPECT_EQ(state(c.set), c.state);
        zvdbptDestroy(c.tree);
    }
    // IN takes exactly a value and a set.
    PTNODE *list = zvdbptAddToExprList(nullptr, zvdbptPutInteger(1));
    PTNODE *lone = zvdbptPutNode(PT_FUNCTION, 9, list, zvdbptPutInteger(90));
    EXPECT_EQ(value_of(lone, img), "error 14");
    zvdbptDestroy(lone);
    PTNODE *noset = in_call(90, zvdbptPutInteger(1), zvdbptPutInteger(1));
    EXPECT_EQ(value_of(noset, img), "error 4");
    zvdbptDestroy(noset);
}

}  // namespace

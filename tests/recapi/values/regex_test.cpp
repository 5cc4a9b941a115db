// Regular-expression matcher.
#include <cstring>
#include <string>

#include "engine/core/pools.h"
#include "recapi/values/regex.h"
#include "tests/support/fixture.h"
#include "zarvo/zvdb.h"

namespace {

using zvtest::ZvTest;

class RegexTest : public ZvTest {
protected:
    void SetUp() override {
        ZvTest::SetUp();
        re = zvdb_regnew();
        ASSERT_NE(re, nullptr);
    }
    void TearDown() override {
        zv::fail_alloc_at(0);
        zvdb_regfree(re);
        ZvTest::TearDown();
    }
    // Compiles and matches; the matcher's result.
    int match(const char *pattern, const char *text) {
        int rc = zvdb_regcomp(re, pattern);
        if (rc != 0) return 1000 + rc;
        return zvdb_regexec(re, text);
    }
    std::string group(int n) {
        const char *t = zvdb_regtext(re, n);
        return t ? t : "<none>";
    }
    zvdb_regexp *re = nullptr;
};

TEST_F(RegexTest, CompileErrors) {
    struct Case {
        const char *pattern;
        int error;
    } cases[] = {
        {"((((((((((a))))))))))", 4}, {"(((((((((a)))))))))", 0}, {"(a", 5}, {"a)", 5},
        {"[a", 10}, {"[z-a]", 9}, {"*a", 11}, {"a|+b", 11}, {"a**", 8}, {"a*?", 8},
        {"(a*)*", 7}, {"(a|)+", 7}, {"a\\", 12}, {"\\", 12}, {"(a)?", 0}, {"", 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(zvdb_regcomp(re, c.pattern), c.error) << c.pattern;
        EXPECT_EQ(zvdb_regerror(re), c.error) << c.pattern;
    }
    std::string huge(40000, 'a');
    EXPECT_EQ(zvdb_regcomp(re, huge.c_str()), 2);
}

TEST_F(RegexTest, Matches) {
    struct Case {
        const char *pattern, *text;
        int rc;
        const char *g0, *g1, *g2;
    } cases[] = {
        {" *([0-9]+) *", "  12345 x", 0, "  12345 ", "12345", "<none>"},
        {"a*", "bbb", 0, "<none>", "<none>", "<none>"},
        {"(a)(b)?", "a", 0, "a", "a", "<none>"},
        {"(a)(b)?", "xab", 0, "ab", "a", "b"},
        {"^abc", "xabc", 17, "", "", ""},
        {"^abc", "abcd", 0, "abc", "<none>", "<none>"},
        {"abc$", "abcd", 17, "", "", ""},
        {"abc$", "xabc", 0, "abc", "<none>", "<none>"},
        {"\\<ab", "cab", 17, "", "", ""},
        {"\\<ab", "c ab", 0, "ab", "<none>", "<none>"},
        {"ab\\>", "abc", 17, "", "", ""},
        {"ab\\>", "cab d", 0, "ab", "<none>", "<none>"},
        {"[^0-9]", "", 17, "", "", ""},
        {"[^0-9]", "12", 17, "", "", ""},
        {"[^0-9]", "1a", 0, "a", "<none>", "<none>"},
        {"cat|dog", "hotdog", 0, "dog", "<none>", "<none>"},
        {"cat\ndog", "dogcat", 0, "dog", "<none>", "<none>"},
        {"(ab)+", "xababab", 0, "ababab", "ab", "<none>"},
        {"(a|b)*c", "xxabbac", 0, "abbac", "a", "<none>"},
        {"x(ab)*y", "xy", 0, "xy", "<none>", "<none>"},
        {"colou?r", "my color", 0, "color", "<none>", "<none>"},
        {"a+b", "caaab", 0, "aaab", "<none>", "<none>"},
        {"a.c", "a\nc", 0, "a\nc", "<none>", "<none>"},
        {"x\\.y\\*", "x.y*", 0, "x.y*", "<none>", "<none>"},
        {"x\\.y", "xzy", 17, "", "", ""},
        {"[]a]+", "b]a]", 0, "]a]", "<none>", "<none>"},
        {"[a-]+", "x-a-", 0, "-a-", "<none>", "<none>"},
        {"[a-cx-z]+", "dbxcw", 0, "bxc", "<none>", "<none>"},
        {"ab*c", "zabbbc", 0, "abbbc", "<none>", "<none>"},
        {"(a*)b", "aab", 0, "aab", "aa", "<none>"},
        {"(a*)b", "b", 0, "b", "<none>", "<none>"},
        {"a$|b", "ab", 0, "b", "<none>", "<none>"},
        {"[0-9]+[./-] *[0-9]+", "on 12- 25", 0, "12- 25", "<none>", "<none>"},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(match(c.pattern, c.text), c.rc) << c.pattern << " on " << c.text;
        if (c.rc) continue;
        EXPECT_EQ(group(0), c.g0) << c.pattern;
        EXPECT_EQ(group(1), c.g1) << c.pattern;
        EXPECT_EQ(group(2), c.g2) << c.pattern;
    }
}

TEST_F(RegexTest, NullArguments) {
    EXPECT_EQ(zvdb_regcomp(nullptr, "a"), 1);
    EXPECT_EQ(zvdb_regcomp(re, nullptr), 1);
    EXPECT_EQ(zvdb_regexec(nullptr, "a"), 1);
    EXPECT_EQ(zvdb_regexec(re, nullptr), 1);
    EXPECT_EQ(zvdb_regerror(nullptr), 1);
    EXPECT_EQ(zvdb_regtext(nullptr, 0), nullptr);
    ASSERT_EQ(match("a", "a"), 0);
    EXPECT_EQ(zvdb_regtext(re, 10), nullptr);
    EXPECT_EQ(zvdb_regtext(re, -1), nullptr);
    zvdb_regfree(nullptr);
    zvdb_regexp *fresh = zvdb_regnew();
    EXPECT_EQ(zvdb_regexec(fresh, "a"), 17);  // nothing compiled
    zvdb_regfree(fresh);
}

TEST_F(RegexTest, RecompilingReleasesTheOldProgramAndTexts) {
    ASSERT_EQ(match("(a)(b)(c)", "abc"), 0);
    uint64_t allocs = zv::platform_alloc_count(), frees = zv::platform_free_count();
    ASSERT_EQ(zvdb_regcomp(re, "x"), 0);
    // Program and four texts released, one new program.
    EXPECT_EQ(zv::platform_free_count() - frees, 5u);
    EXPECT_EQ(zv::platform_alloc_count() - allocs, 1u);
    EXPECT_EQ(zvdb_regtext(re, 1), nullptr);
    // A new match releases the texts of the previous one.
    ASSERT_EQ(zvdb_regexec(re, "x"), 0);
    frees = zv::platform_free_count();
    ASSERT_EQ(zvdb_regexec(re, "yx"), 0);
    EXPECT_EQ(zv::platform_free_count() - frees, 1u);
}

TEST_F(RegexTest, FailedGroupCopyGivesThree) {
    ASSERT_EQ(zvdb_regcomp(re, "(a)(b)"), 0);
    zv::fail_alloc_at(1);  // the copy of group 0; the later copies succeed
    EXPECT_EQ(zvdb_regexec(re, "ab"), 3);
    EXPECT_EQ(zvdb_regtext(re, 0), nullptr);
    EXPECT_EQ(group(2), "b");
    zv::fail_alloc_at(1);
    EXPECT_EQ(zvdb_regcomp(re, "abc"), 3);
}

TEST_F(RegexTest, GroupLengthAndCopy) {
    ASSERT_EQ(match(" *([0-9]+)(x)?", "  42"), 0);
    char buf[8];
    EXPECT_EQ(_reglen(re, 1), 2);
    EXPECT_EQ(_reglen(re, 0), 4);
    EXPECT_EQ(_reglen(re, 2), 0);
    EXPECT_EQ(_reglen(re, 10), 0);
    EXPECT_EQ(_regcopy(re, 1, buf, 3), 0);
    EXPECT_STREQ(buf, "42");
    EXPECT_EQ(_regcopy(re, 1, buf, 2), 18);
    EXPECT_EQ(_regcopy(re, 2, buf, 8), 17);
    EXPECT_EQ(_regcopy(re, 10, buf, 8), 1);
    EXPECT_EQ(_regcopy(re, 1, buf, 0), 1);
    EXPECT_EQ(_regcopy(re, 1, nullptr, 8), 1);
}

TEST_F(RegexTest, DamagedProgramsAreRefused) {
    ASSERT_EQ(zvdb_regcomp(re, "ab"), 0);
    re->program->code[0] = 0;
    EXPECT_EQ(zvdb_regexec(re, "ab"), 13);
    ASSERT_EQ(zvdb_regcomp(re, "(a)b"), 0);
    re->program->code[1 + 3] = 15;  // the group's open node
    EXPECT_EQ(zvdb_regexec(re, "ab"), 14);
}

TEST_F(RegexTest, DeepRecursionGivesUpCleanly) {
    std::string text(100000, 'a');
    EXPECT_EQ(match("(a|b)*c", text.c_str()), 17);  // no "c": refused by the literal hint
    EXPECT_EQ(match("(a|b)*c", (text + "c").c_str()), 3);
    EXPECT_EQ(zvdb_regtext(re, 0), nullptr);
    EXPECT_EQ(match("a*c", (text + "c").c_str()), 0);  // single-character runs do not recurse
    EXPECT_EQ(_reglen(re, 0), 100001);
}

}  // namespace

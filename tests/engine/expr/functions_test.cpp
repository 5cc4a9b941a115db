// Built-in functions: their values, NULL arguments, text sizes, argument
// counts of calls built through the parse-tree calls, and function
// numbers without an implementation.
#include <cstdio>

#include "engine/core/instance.h"
#include "engine/expr/eval.h"
#include "tests/engine/expr/evalfix.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdbpt.h"

namespace {

using namespace evaltest;

struct Case {
    const char *expr;
    std::string want;
};

TEST_F(EvalTest, FunctionsOfDatesAndTimes) {
    const Image img = full_image();
    const Case cases[] = {
        {"ADD_MONTHS('2023-01-31', 1)", "DATE 2023-3-3"},   // 31 February carries into March
        {"ADD_MONTHS('2024-01-31', 1)", "DATE 2024-3-2"},  // 29 days in a leap February
        {"ADD_MONTHS('2023-11-15', 3)", "DATE 2024-2-15"},
        {"ADD_MONTHS('2023-03-15', -3)", "DATE 2022-12-15"},
        {"ADD_DAYS(Born, 1)", "DATE 2023-2-1"},
        {"ADD_DAYS(Born, -31)", "DATE 2022-12-31"},
        {"(int)ADD_DAYS(Born, 9223372036854775807) > 0", "INTEGER 1"},  // wraps, never overflows
        {"WEEK('2023-01-01')", "INTEGER 1"},
        {"WEEK('2023-01-07')", "INTEGER 1"},
        {"WEEK('2023-01-08')", "INTEGER 2"},
        {"DAYOFYEAR('2023-03-01')", "INTEGER 60"},
        {"DAYOFMONTH(Born)", "INTEGER 31"},
        {"MONTH(Born)", "INTEGER 1"},
        {"YEAR(Born)", "INTEGER 2023"},
        {"QUARTER('2023-08-01')", "INTEGER 3"},
        {"LAST_DAY('2024-02-10')", "INTEGER 29"},
        {"LAST_DAY('2023-02-10')", "INTEGER 28"},
        {"DAYOFWEEK('2023-01-01')", "INTEGER 0"},   // a Sunday
        {"DAYNAME('2023-01-01')", text("SUNDAY")},
        {"MONTHNAME(Born)", text("JANUARY")},
        {"HOUR(At)", "INTEGER 12"},
        {"MINUTE(AtMs)", "INTEGER 34"},
        {"SECOND(AtMs)", "INTEGER 56"},
        {"TIMET2ZVDATE(86400)", "DATE 1970-1-2"},
        {"TIMET2ZVDATE(86400, 1)", "DATE 1970-1-2"},
        {"TIMET2ZVTIME(3661)", "TIME 3661"},
        {"TIMET2ZVTIMES(86400 + 3661, 5)", "STAMP 1970-1-2 1:1:1"},
    };
    for (const Case &c : cases) EXPECT_EQ(value(c.expr, img), c.want) << c.expr;
}

TEST_F(EvalTest, FunctionsOfNumbers) {
    const Image img = full_image();
    const Case cases[] = {
        {"ABS(Low)", "INTEGER 2147483648"},
        {"ABS((int)-5000000000)", "INTEGER 5000000000"},
        {"LABS(-5)", "INTEGER 5"},
        {"ABS((int)-9223372036854775808)", "NUMBER 9223372036854775808"},
        {"ABS(-Price)", "NUMBER 12.34"},
        {"MOD(7, 3)", "INTEGER 1"},
        {"MOD(-7, 3)", "INTEGER -1"},
        {"FLOOR(2.5)", "NUMBER 2"},
        {"CEIL(Amount)", "NUMBER 3"},
        {"POWER(2, 10)", "NUMBER 1024"},
        {"SQRT(16)", "NUMBER 4"},
        {"FMOD(7.5, 2)", "NUMBER 1.5"},
        {"SIGN(-3)", "INTEGER -1"},
        {"SIGN(Price)", "INTEGER 1"},
        {"SIGN(Zero)", "INTEGER 0"},
        {"ATOI(\"  -42xyz\")", "INTEGER -42"},
        {"ATOF(\"2.5e1\")", "NUMBER 25"},
        {"ATOF(\"\")", "NUMBER 0"},
        {"SQRT(-1)", "NUMBER 0"},  // no number: zero
    };
    for (const Case &c : cases) EXPECT_EQ(value(c.expr, img), c.want) << c.expr;
    for (const char *fails : {"MOD(1, 0)", "FMOD(1, 0)"}) EXPECT_EQ(value(fails, img), "error 9") << fails;
    EXPECT_EQ(value("ATOF(\"1e999\")", img), "error 4038");
}

TEST_F(EvalTest, FunctionsOfTexts) {
    const Image img = full_image();
    const Case cases[] = {
        {"LOCATE(Name, Name)", "INTEGER 1"},
        {"LOCATE(\"abcabc\", \"ca\")", "INTEGER 3"},
        {"LOCATE(\"abcabc\", \"bc\", 3)", "INTEGER 5"},
        {"LOCATE(\"abc\", \"abcd\")", "INTEGER 0"},
        {"LOCATE(\"abc\", \"\")", "INTEGER 0"},
        {"LPAD(\"ab\", 5, \"*-\")", text("***ab")},
        {"LPAD(\"abcdef\", 3)", text("abc")},
        {"RPAD(\"ab\", 4)", text("ab  ")},
        {"LPAD(\"ab\", -2)", text("")},
        {"CONCAT(Name, PNote)", text("abcpn")},
        {"CONCAT(\"\", \"\")", text("")},
        {"UPPER(\"aBc1\")", text("ABC1")},
        {"LOWER(\"aBc1\")", text("abc1")},
        {"LEFT(\"abcdef\", 2)", text("ab")},
        {"LEFT(\"abc\", 9)", text("abc")},
        {"RIGHT(\"abcdef\", 2)", text("ef")},
        {"SUBSTRING(\"abcdef\", 2, 3)", text("bcd")},
        {"SUBSTRING(\"abcdef\", 0, 2)", text("ab")},  // a position below 1 counts as 1
        {"SUBSTRING(\"abcdef\", 5)", text("ef")},
        {"SUBSTRING(\"abc\", 9)", text("")},
        {"INSERT(\"abcdef\", 2, 3, \"XY\")", text("aXYef")},
        {"INSERT(\"abc\", 9, 1, \"XY\")", text("abcXY")},  // past the end: appended
        {"LTRIM(\"  ab \")", text("ab ")},
        {"RTRIM(\"xxabxx\", \"x\")", text("xxab")},
        {"LENGTH(Name4)", "INTEGER 4"},
        {"STRLEN(Qty)", "INTEGER 1"},
        {"ASCII(\"A\")", "INTEGER 65"},
        {"CHR(66)", text("B")},
        {"SPACE(3)", text("   ")},
        {"REPEAT(\"ab\", 3)", text("ababab")},
        {"REPEAT(\"ab\", -1)", text("")},
        {"STRCMP(\"abc\", \"abd\")", "INTEGER -1"},
        {"STRICMP(\"ABC\", \"abc\")", "INTEGER 0"},
        {"STRNCMP(\"abcx\", \"abcy\", 3)", "INTEGER 0"},
        {"STRNICMP(\"ABX\", \"aby\", 3)", "INTEGER -1"},
        {"MEMCMP(\"ab\", \"abc\", 3)", "INTEGER -1"},
        {"MATCH(Name, \"a*c\")", "INTEGER 1"},
        {"MATCHI(\"ABC\", \"a.c\")", "INTEGER 1"},
        {"MATCH(\"ABC\", \"a.c\")", "INTEGER 0"},
    };
    for (const Case &c : cases) EXPECT_EQ(value(c.expr, img), c.want) << c.expr;
    // Results beyond 2^31 - 1 bytes are refused, never cut.
    for (const char *big : {"REPEAT(\"ab\", 2000000000)", "SPACE(3000000000)", "LPAD(\"a\", 2147483648)"})
        EXPECT_EQ(value(big, img), "error 5") << big;
}

// A NULL argument makes the result NULL and the function is not run.
int g_calls = 0;
void counted(void **, void *result) {
    g_calls++;
    int32_t one = 1;
    memcpy(result, &one, 4);
}

TEST_F(EvalTest, ANullArgumentGivesNull) {
    const Image img = full_image();
    const int types[] = {ZV_INT4};
    ASSERT_EQ(udfAdd("COUNTED", counted, ZV_INT4, types, 1), 0);
    g_calls = 0;
    for (const char *e : {"ABS(Opt)", "CONCAT(Name, Opt)", "COUNTED(Opt)", "ADD_DAYS(Born, Opt)", "SQRT(Opt)"})
        EXPECT_EQ(value(e, img), "NULL") << e;
    EXPECT_EQ(g_calls, 0);
    EXPECT_EQ(value("COUNTED(Qty)", img), "INTEGER 1");
    EXPECT_EQ(g_calls, 1);
    // NULL compares false.
    EXPECT_EQ(eval("ABS(Opt) == 77", img), 0);
}

// A call built through the parse-tree calls: function number and
// arguments.
PTNODE *call(int64_t number, std::initializer_list<PTNODE *> args) {
    PTNODE *list = nullptr;
    for (PTNODE *a : args) list = zvdbptAddToExprList(list, a);
    return zvdbptPutNode(PT_FUNCTION, 9, list, zvdbptPutInteger(number));
}

TEST_F(EvalTest, FunctionNumbersAndCountsOfBuiltCalls) {
    const Image img = full_image();
    struct Built {
        PTNODE *tree;
        const char *want;
    };
    const Built cases[] = {
        {call(12, {zvdbptPutInteger(1)}), "error 13"},   // CHAR has no implementation
        {call(15, {}), "error 13"},
        {call(95, {}), "error 13"},
        {call(-2, {}), "error 13"},
        {call(-1, {}), "error 13"},                      // no user-defined function attached
        {call(0, {}), "error 14"},                       // ABS without its argument
        {call(0, {zvdbptPutInteger(-4), zvdbptPutInteger(1)}), "error 14"},
        {call(0, {zvdbptPutInteger(-4)}), "INTEGER 4"},
        {call(86, {zvdbptPutInteger(5), zvdbptPutInteger(1), zvdbptPutInteger(9)}), "INTEGER 1"},  // BETWEEN
        {call(86, {zvdbptPutInteger(0), zvdbptPutInteger(1), zvdbptPutInteger(9)}), "INTEGER 0"},
        {call(87, {zvdbptPutText("B", 1, 0), zvdbptPutText("a", 1, 0), zvdbptPutText("c", 1, 0)}), "INTEGER 1"},
        {call(88, {zvdbptPutText("ab", 2, 0), zvdbptPutText("ab  ", 4, 0)}), "INTEGER 0"},  // SQLSTRNCMP
        {call(89, {zvdbptPutText("AB", 2, 0), zvdbptPutText("ab ", 3, 0)}), "INTEGER 0"},
    };
    for (const Built &c : cases) {
        ASSERT_NE(c.tree, nullptr);
        EXPECT_EQ(value_of(c.tree, img), c.want) << zv::ptGetInteger(zv::ptGetRight(c.tree));
        zvdbptDestroy(c.tree);
    }
}

TEST_F(EvalTest, TimeFunctionsWithTwoArgumentsKeepTheStackBalanced) {
    const Image img = full_image();
    PTNODE *t = compile("TIMET2ZVDATE(86400, 1) == '1970-01-02' AND TIMET2ZVTIME(60, 2) == 60", full_layout());
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(value_of(t, img), "INTEGER 1");
    zvdbptDestroy(t);
    // The current date and time are values of their kinds.
    for (const char *e : {"CURDATE() > '2020-01-01'", "SYSDATE == CURDATE()", "NOW() > {ts '2020-01-01 00:00:00'}",
                          "CURTIME() >= 0", "PI() > 3.14 AND PI() < 3.15", "RAND(7) == RAND(7)"})
        EXPECT_EQ(eval(e, img), 1) << e;
}

}  // namespace

// Money and currency values.
#include <climits>
#include <cmath>
#include <cstring>

#include "tests/support/fixture.h"
#include "zarvo/zvdb.h"

namespace {

using zvtest::ZvTest;
using MoneyTest = ZvTest;

TEST_F(MoneyTest, Conversions) {
    ZVMONEY m = 1;
    int32_t l = 0;
    EXPECT_EQ(zvdbLongToMoney(21474836, &m), 0);
    EXPECT_EQ(m, 2147483600);
    EXPECT_EQ(zvdbLongToMoney(21474837, &m), 4038);
    EXPECT_EQ(zvdbLongToMoney(-21474837, &m), 4038);
    EXPECT_EQ(zvdbLongToMoney(INT32_MIN, &m), 4038);
    EXPECT_EQ(zvdbMoneyToLong(-199, &l), 0);
    EXPECT_EQ(l, -1);

    struct Case {
        double d;
        int rc;
        ZVMONEY want;
    } cases[] = {
        {0.125, 0, 13}, {-0.125, 0, -13}, {21474836.475, 4038, 0}, {-21474836.475, 4038, 0},
        {12.344, 0, 1234}, {1e300, 4038, 0},
    };
    for (const Case &c : cases) {
        m = 77;
        EXPECT_EQ(zvdbFloatToMoney(c.d, &m), c.rc) << c.d;
        EXPECT_EQ(m, c.rc ? 77 : c.want) << c.d;
    }
    EXPECT_EQ(zvdbFloatToMoney(NAN, &m), 4060);
    double d;
    EXPECT_EQ(zvdbMoneyToFloat(-1234, &d), 0);
    EXPECT_EQ(d, -12.34);

    ZVCURRENCY c;
    EXPECT_EQ(zvdbMoneyToCurrency(INT32_MIN, &c), 0);
    EXPECT_EQ(c, -214748364800LL);
    EXPECT_EQ(zvdbCurrencyToMoney(214748364799LL, &m), 0);
    EXPECT_EQ(m, 2147483647);
    EXPECT_EQ(zvdbCurrencyToMoney(214748364800LL, &m), 4038);
    EXPECT_EQ(zvdbCurrencyToMoney(-214748364800LL, &m), 4039);
    EXPECT_EQ(zvdbCurrencyToMoney(-12345, &m), 0);
    EXPECT_EQ(m, -123);
}

TEST_F(MoneyTest, MoneyText) {
    char buf[32];
    struct Case {
        ZVMONEY m;
        const char *want;
    } cases[] = {{-5, "-0.05"}, {100, "1.00"}, {0, "0.00"}, {INT32_MIN, "-21474836.48"},
                 {INT32_MAX, "21474836.47"}};
    for (const Case &c : cases) {
        EXPECT_EQ(zvdbMoneyToString(c.m, buf, sizeof buf), 0);
        EXPECT_STREQ(buf, c.want);
    }
    EXPECT_EQ(zvdbMoneyToString(100, buf, 4), 4006);
    EXPECT_EQ(zvdbMoneyToString(100, buf, 5), 0);
    EXPECT_EQ(zvdbMoneyToString(100, nullptr, 5), 4007);
}

TEST_F(MoneyTest, MoneyParsing) {
    struct Case {
        const char *text;
        int rc;
        ZVMONEY want;
    } cases[] = {
        {" 12.3", 0, 1230}, {"12.345", 0, 1234}, {".5", 0, 50}, {"1.x5", 0, 100},
        {"-+5", 0, -500}, {"abc", 0, 0}, {"-21474836.48", 0, INT32_MIN},
        {"21474836.47", 0, INT32_MAX}, {"21474836.48", 4038, 0}, {"100000000", 4038, 0},
        {"214748364", 4038, 0}, {"999999999999", 4038, 0}, {"-21474836.49", 4038, 0},
        {"0000000000000012", 0, 1200},
    };
    for (const Case &c : cases) {
        ZVMONEY m = 77;
        EXPECT_EQ(zvdbStringToMoney(c.text, &m), c.rc) << c.text;
        EXPECT_EQ(m, c.rc ? 77 : c.want) << c.text;
    }
    ZVMONEY m = 77;
    EXPECT_EQ(zvdbStringToMoney(nullptr, &m), 4007);
    EXPECT_EQ(m, 0);
    EXPECT_EQ(zvdbStringToMoney("1", nullptr), 4007);
}

TEST_F(MoneyTest, MoneyArithmetic) {
    ZVMONEY m = 0;
    EXPECT_EQ(zvdbMoneyAdd(150, -275, &m), 0);
    EXPECT_EQ(m, -125);
    EXPECT_EQ(zvdbMoneySub(150, -275, &m), 0);
    EXPECT_EQ(m, 425);
    EXPECT_EQ(zvdbMoneyMul(100000, 100000, &m), 0);
    EXPECT_EQ(m, 100000000);
    EXPECT_EQ(zvdbMoneyMul(-150, 250, &m), 0);  // -1.50 x 2.50 = -3.75
    EXPECT_EQ(m, -375);
    EXPECT_EQ(zvdbMoneyMul(-333, -333, &m), 0);  // 11.0889 cut to 11.08
    EXPECT_EQ(m, 1108);
    m = 5;
    EXPECT_EQ(zvdbMoneyMul(INT32_MAX, 101, &m), 4038);
    EXPECT_EQ(zvdbMoneyMul(INT32_MIN, 200, &m), 4039);
    EXPECT_EQ(zvdbMoneyMul(INT32_MAX, -INT32_MAX, &m), 4039);
    EXPECT_EQ(m, 5);
    EXPECT_EQ(zvdbMoneyMul(INT32_MIN, 100, &m), 0);
    EXPECT_EQ(m, INT32_MIN);

    EXPECT_EQ(zvdbMoneyDiv(2147483647, 1, &m), 4038);
    EXPECT_EQ(zvdbMoneyDiv(-2147483647, 1, &m), 4039);
    EXPECT_EQ(zvdbMoneyDiv(100, 0, &m), 4040);
    EXPECT_EQ(zvdbMoneyDiv(100, 300, &m), 0);
    EXPECT_EQ(m, 33);
    EXPECT_EQ(zvdbMoneyDiv(-100, 300, &m), 0);
    EXPECT_EQ(m, -33);
    EXPECT_EQ(zvdbMoneyDiv(1000, 2147483647, &m), 0);  // large divisors stay exact
    EXPECT_EQ(m, 0);
    EXPECT_EQ(zvdbMoneyDiv(2147483647, 2147483647, &m), 0);
    EXPECT_EQ(m, 100);
    EXPECT_EQ(zvdbMoneyDiv(1, 1, nullptr), 4007);

    EXPECT_EQ(zvdbMoneyCmp(-1, 1), -1);
    EXPECT_EQ(zvdbMoneyCmp(1, 1), 0);
    EXPECT_EQ(zvdbMoneyCmp(2, 1), 1);
    EXPECT_EQ(zvdbMoneyAbs(-7), 7);
    EXPECT_EQ(zvdbMoneyAbs(INT32_MIN), INT32_MIN);
}

TEST_F(MoneyTest, CurrencyConversions) {
    ZVCURRENCY c = 0;
    ZVBIGINT b = 0;
    ZVUBIGINT u = 0;
    int32_t l = 0;
    EXPECT_EQ(zvdbCurrencyToBigInt(100000000000000000LL, &b), 0);
    EXPECT_EQ(b, 10000000000000LL);
    EXPECT_EQ(zvdbCurrencyToUnsignedBigInt(123456789, &u), 0);
    EXPECT_EQ(u, 12345u);
    EXPECT_EQ(zvdbCurrencyToLong(-123456789, &l), 0);
    EXPECT_EQ(l, -12345);
    EXPECT_EQ(zvdbLongToCurrency(INT32_MIN, &c), 0);
    EXPECT_EQ(c, -21474836480000LL);
    EXPECT_EQ(zvdbBigIntToCurrency(-3, &c), 0);
    EXPECT_EQ(c, -30000);
    EXPECT_EQ(zvdbUnsignedBigIntToCurrency(3, &c), 0);
    EXPECT_EQ(c, 30000);
    double d;
    EXPECT_EQ(zvdbCurrencyToFloat(-15000, &d), 0);
    EXPECT_EQ(d, -1.5);
    EXPECT_EQ(zvdbFloatToCurrency(1.5, &c), 0);
    EXPECT_EQ(c, 15000);
    EXPECT_EQ(zvdbFloatToCurrency(-1.23456, &c), 0);
    EXPECT_EQ(c, -12346);
    EXPECT_EQ(zvdbFloatToCurrency(1e300, &c), 4038);
    EXPECT_EQ(zvdbFloatToCurrency(-1e300, &c), 4039);
    EXPECT_EQ(zvdbFloatToCurrency(NAN, &c), 4060);
}

TEST_F(MoneyTest, CurrencyText) {
    char buf[32];
    struct Case {
        ZVCURRENCY c;
        const char *want;
    } cases[] = {{12345, "1.2345"}, {5, "0.0005"}, {50000, "5.0000"}, {-1, "-0.0001"},
                 {0, "0.0000"}, {LLONG_MIN, "-922337203685477.5808"}};
    for (const Case &c : cases) {
        EXPECT_EQ(zvdbCurrencyToString(c.c, buf, sizeof buf), 0);
        EXPECT_STREQ(buf, c.want);
    }
    EXPECT_EQ(zvdbCurrencyToString(5, buf, 6), 4006);
    EXPECT_EQ(zvdbCurrencyToString(5, buf, 7), 0);
}

TEST_F(MoneyTest, CurrencyParsing) {
    struct Case {
        const char *text;
        int rc;
        ZVCURRENCY want;
    } cases[] = {
        {"1.5", 0, 15000}, {"-0.00015", 0, -1}, {"1.2x", 0, 12000}, {"  +3.14159", 0, 31415},
        {"1000000000000000", 4038, 0}, {"922337203685477.5807", 0, LLONG_MAX},
        {"922337203685477.5808", 4038, 0}, {"-922337203685477.5808", 0, LLONG_MIN},
        {"9223372036854775", 4038, 0},
    };
    for (const Case &c : cases) {
        ZVCURRENCY v = 77;
        EXPECT_EQ(zvdbStringToCurrency(c.text, &v), c.rc) << c.text;
        EXPECT_EQ(v, c.rc ? 77 : c.want) << c.text;
    }
    ZVCURRENCY v = 77;
    EXPECT_EQ(zvdbStringToCurrency(nullptr, &v), 4007);
    EXPECT_EQ(v, 77);
}

TEST_F(MoneyTest, CurrencyArithmetic) {
    ZVCURRENCY c = 0;
    EXPECT_EQ(zvdbCurrencyMul(15000, -20000, &c), 0);
    EXPECT_EQ(c, -30000);
    EXPECT_EQ(zvdbCurrencyMul(-15000, -20000, &c), 0);
    EXPECT_EQ(c, 30000);
    EXPECT_EQ(zvdbCurrencyMul(12345, 12345, &c), 0);  // 1.2345^2 = 1.52399025
    EXPECT_EQ(c, 15239);
    EXPECT_EQ(zvdbCurrencyMul(-12345, 12345, &c), 0);
    EXPECT_EQ(c, -15239);
    EXPECT_EQ(zvdbCurrencyDiv(10000, 30000, &c), 0);
    EXPECT_EQ(c, 3333);
    EXPECT_EQ(zvdbCurrencyDiv(-10000, 30000, &c), 0);
    EXPECT_EQ(c, -3333);
    EXPECT_EQ(zvdbCurrencyDiv(LLONG_MAX, LLONG_MAX - 1, &c), 0);
    EXPECT_EQ(c, 10000);
    c = 9;
    EXPECT_EQ(zvdbCurrencyDiv(LLONG_MAX, 1, &c), 4038);
    EXPECT_EQ(zvdbCurrencyDiv(LLONG_MAX, -1, &c), 4039);
    EXPECT_EQ(zvdbCurrencyDiv(5, 0, &c), 4040);
    EXPECT_EQ(c, 9);
    EXPECT_EQ(zvdbCurrencyAdd(1, 2, &c), 0);
    EXPECT_EQ(c, 3);
    EXPECT_EQ(zvdbCurrencySub(1, 2, &c), 0);
    EXPECT_EQ(c, -1);
    EXPECT_EQ(zvdbCurrencyCmp(LLONG_MIN, LLONG_MAX), -1);
    EXPECT_EQ(zvdbCurrencyAbs(-5), 5);
    EXPECT_EQ(zvdbCurrencyAbs(LLONG_MIN), LLONG_MIN);

    struct Round {
        ZVCURRENCY in;
        int n, rc;
        ZVCURRENCY want;
    } rounds[] = {{12345, 2, 0, 12300}, {12345, 4, 0, 12345}, {12345, -1, 4062, 12345},
                  {12399, 0, 0, 10000}, {-12399, 3, 0, -12390}};
    for (const Round &r : rounds) {
        ZVCURRENCY v = r.in;
        EXPECT_EQ(zvdbCurrencyRound(&v, r.n), r.rc);
        EXPECT_EQ(v, r.want);
    }
    EXPECT_EQ(zvdbCurrencyRound(nullptr, 1), 4007);
}

}  // namespace

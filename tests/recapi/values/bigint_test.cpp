// Big-integer values.
#include <climits>
#include <cstring>
#include <string>

#include "tests/support/fixture.h"
#include "zarvo/zvdb.h"

namespace {

using zvtest::ZvTest;
using BigIntTest = ZvTest;

TEST_F(BigIntTest, NarrowingToLong) {
    int32_t l = 7;
    EXPECT_EQ(zvdbBigIntToLong(2147483648LL, &l), 4038);
    EXPECT_EQ(zvdbBigIntToLong(-2147483649LL, &l), 4039);
    EXPECT_EQ(l, 7);
    EXPECT_EQ(zvdbBigIntToLong(-2147483648LL, &l), 0);
    EXPECT_EQ(l, INT32_MIN);
    EXPECT_EQ(zvdbBigIntToLong(1, nullptr), 4007);

    uint32_t u = 0;
    EXPECT_EQ(zvdbBigIntToULong(-1, &u), 0);
    EXPECT_EQ(u, 4294967295u);
    EXPECT_EQ(zvdbBigIntToULong(4294967296LL, &u), 4038);
    EXPECT_EQ(zvdbUnsignedBigIntToLong(2147483648ULL, &l), 4038);
    EXPECT_EQ(zvdbUnsignedBigIntToLong(2147483647ULL, &l), 0);
    EXPECT_EQ(l, INT32_MAX);
}

TEST_F(BigIntTest, Widening) {
    ZVBIGINT s = 0;
    ZVUBIGINT u = 0;
    EXPECT_EQ(zvdbLongToBigInt(-5, &s), 0);
    EXPECT_EQ(s, -5);
    EXPECT_EQ(zvdbULongToBigInt(4294967295u, &s), 0);
    EXPECT_EQ(s, 4294967295LL);
    EXPECT_EQ(zvdbLongToUnsignedBigInt(-1, &u), 0);
    EXPECT_EQ(u, ~0ULL);
    EXPECT_EQ(zvdbULongToUnsignedBigInt(7, &u), 0);
    EXPECT_EQ(u, 7u);
    EXPECT_EQ(zvdbLongToBigInt(1, nullptr), 4007);
}

TEST_F(BigIntTest, Text) {
    char buf[32];
    EXPECT_EQ(zvdbBigIntToString(LLONG_MIN, buf, 21), 0);
    EXPECT_STREQ(buf, "-9223372036854775808");
    EXPECT_EQ(zvdbBigIntToString(LLONG_MIN, buf, 20), 4006);
    EXPECT_EQ(zvdbBigIntToString(0, buf, 2), 0);
    EXPECT_STREQ(buf, "0");
    EXPECT_EQ(zvdbBigIntToString(0, buf, 1), 4006);
    EXPECT_EQ(zvdbBigIntToString(12, nullptr, 10), 4007);
    EXPECT_EQ(zvdbUnsignedBigIntToString(ULLONG_MAX, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "18446744073709551615");

    double d = 0;
    EXPECT_EQ(zvdbBigIntToFloat(-123456789012LL, &d), 0);
    EXPECT_EQ(d, -123456789012.0);
    EXPECT_EQ(zvdbUnsignedBigIntToFloat(ULLONG_MAX, &d), 0);
    EXPECT_EQ(d, 18446744073709551615.0);
}

TEST_F(BigIntTest, Parsing) {
    struct Case {
        const char *text;
        ZVBIGINT want;
    } cases[] = {
        {"  -12ab", -12}, {"-", 0}, {"+7", 7}, {"x", 0}, {"\t\n 42", 42},
        {"9223372036854775807", LLONG_MAX}, {"-9223372036854775808", LLONG_MIN},
        {"18446744073709551617", 1},  // wraps modulo 2^64
    };
    for (const Case &c : cases) {
        ZVBIGINT v = 99;
        EXPECT_EQ(zvdbStringToBigInt(c.text, &v), 0) << c.text;
        EXPECT_EQ(v, c.want) << c.text;
    }
    ZVBIGINT v = 99;
    EXPECT_EQ(zvdbStringToBigInt(nullptr, &v), 4007);
    EXPECT_EQ(v, 99);
    EXPECT_EQ(zvdbStringToBigInt("1", nullptr), 4007);

    ZVUBIGINT u = 99;
    EXPECT_EQ(zvdbStringToUnsignedBigInt("-5", &u), 4004);
    EXPECT_EQ(u, 99u);
    EXPECT_EQ(zvdbStringToUnsignedBigInt(nullptr, &u), 4007);
    EXPECT_EQ(zvdbStringToUnsignedBigInt(" +18446744073709551615", &u), 0);
    EXPECT_EQ(u, ULLONG_MAX);
}

TEST_F(BigIntTest, FromFloatTruncates) {
    ZVBIGINT v = 0;
    EXPECT_EQ(zvdbFloatToBigInt(-2.9, &v), 0);
    EXPECT_EQ(v, -2);
    EXPECT_EQ(zvdbFloatToBigInt(123456789.99, &v), 0);
    EXPECT_EQ(v, 123456789);
    // The largest double prints 309 digits; the text is parsed without a crash.
    EXPECT_EQ(zvdbFloatToBigInt(1.7976931348623157e308, &v), 0);
    ZVUBIGINT u = 0;
    EXPECT_EQ(zvdbFloatToUnsignedBigInt(3.99, &u), 0);
    EXPECT_EQ(u, 3u);
    EXPECT_EQ(zvdbFloatToUnsignedBigInt(-1.0, &u), 4004);
    EXPECT_EQ(zvdbFloatToBigInt(1.0, nullptr), 4007);
}

}  // namespace

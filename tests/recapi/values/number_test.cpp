// Number values: stored images, text forms, range and conversions.
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "recapi/values/number.h"
#include "tests/support/fixture.h"
#include "zarvo/zvdb.h"

namespace {

using zvtest::ZvTest;
using NumberTest = ZvTest;

// A stored image written by hand: length (little-endian, as on this host),
// sign/exponent byte, digit bytes (given in decimal), zeros to byte 19.
std::vector<unsigned char> image(int length, int expbyte, std::vector<int> digits) {
    std::vector<unsigned char> b(20, 0);
    b[0] = static_cast<unsigned char>(length);
    b[1] = 0;
    b[2] = static_cast<unsigned char>(expbyte);
    for (size_t i = 0; i < digits.size(); i++) b[3 + i] = static_cast<unsigned char>(digits[i]);
    return b;
}

std::vector<unsigned char> bytes_of(const tagZVNUMBER &n) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(&n);
    return std::vector<unsigned char>(p, p + 20);
}

tagZVNUMBER from_image(const std::vector<unsigned char> &b) {
    tagZVNUMBER n;
    std::memcpy(&n, b.data(), 20);
    return n;
}

tagZVNUMBER num(const char *text) {
    tagZVNUMBER n;
    EXPECT_EQ(zvdbStringToNumber(text, &n), 0) << text;
    return n;
}

std::string text_of(const tagZVNUMBER &n, int size = 256) {
    std::vector<char> buf(size_t(size), '\0');
    EXPECT_EQ(zvdbNumberToString(&n, buf.data(), size), 0);
    return buf.data();
}

TEST_F(NumberTest, LayoutIsTwentyBytes) {
    EXPECT_EQ(sizeof(tagZVNUMBER), 20u);
    EXPECT_EQ(offsetof(tagZVNUMBER, exponent), 2u);
    EXPECT_EQ(offsetof(tagZVNUMBER, digits), 3u);
    EXPECT_EQ(offsetof(tagZVNUMBER, spare), 19u);
}

TEST_F(NumberTest, ParsedImages) {
    struct Case {
        const char *text;
        std::vector<unsigned char> want;
    } cases[] = {
        {"5", image(2, 0xC1, {5})},
        {"123.45", image(4, 0xC2, {1, 23, 45})},
        {"-1.5", image(3, 0x3E, {98, 50})},
        {"-5", image(2, 0x3E, {95})},
        {"0.5", image(2, 0xC0, {50})},
        {"-0.001", image(2, 0x40, {90})},
        {"12.50", image(3, 0xC1, {12, 50})},
        {"0", image(2, 0xC1, {0})},
        {"-000.000", image(2, 0xC1, {0})},
        {"", image(2, 0xC1, {0})},
        {"  +1E3", image(2, 0xC2, {10})},
        {"7.25e-2", image(3, 0xC0, {7, 25})},
        {"12345678901234567890123456789012",
         image(17, 0xD0, {12, 34, 56, 78, 90, 12, 34, 56, 78, 90, 12, 34, 56, 78, 90, 12})},
        // 33 nines after the point: cut after 16 digit bytes, not rounded.
        {"1.999999999999999999999999999999999",
         image(17, 0xC1, {1, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99})},
        {"-99.99", image(3, 0x3E, {0, 1})},
    };
    for (const Case &c : cases) {
        tagZVNUMBER n = num(c.text);
        EXPECT_EQ(bytes_of(n), c.want) << c.text;
    }
}

TEST_F(NumberTest, ParseRefusals) {
    std::string d128(128, '7'), d127 = "1." + std::string(125, '0');
    tagZVNUMBER n = num("42");
    const auto before = bytes_of(n);
    for (const char *t : {"12x", "12 ", "1.2.3", "1e", "1e5x", "--1", d128.c_str()}) {
        EXPECT_EQ(zvdbStringToNumber(t, &n), 4060) << t;
        EXPECT_EQ(bytes_of(n), before) << t;
    }
    EXPECT_EQ(zvdbStringToNumber(d127.c_str(), &n), 0);
    EXPECT_EQ(text_of(n), "1");
    EXPECT_EQ(zvdbStringToNumber(nullptr, &n), 4007);
    EXPECT_EQ(zvdbStringToNumber("1", nullptr), 4007);
}

TEST_F(NumberTest, ExponentRange) {
    tagZVNUMBER n;
    std::string d124 = "1" + std::string(123, '0'), d125 = "1" + std::string(124, '0');
    EXPECT_EQ(zvdbStringToNumber(d125.c_str(), &n), 4038);
    ASSERT_EQ(zvdbStringToNumber(d124.c_str(), &n), 0);  // E = 62 prints
    EXPECT_EQ(n.exponent, 0xC0 + 62);
    EXPECT_EQ(text_of(n), d124);
    EXPECT_EQ(zvdbStringToNumber("1E124", &n), 4038);
    EXPECT_EQ(zvdbStringToNumber("-1E124", &n), 4038);
    EXPECT_EQ(zvdbStringToNumber("1E-128", &n), 0);  // E = -63
    EXPECT_EQ(n.exponent, 0xC0 - 63);
    EXPECT_EQ(zvdbStringToNumber("1E-129", &n), 4039);

    EXPECT_EQ(zvdbFloatToNumber(1e200, &n), 4038);
    EXPECT_EQ(zvdbFloatToNumber(-1e200, &n), 4038);
    EXPECT_EQ(zvdbFloatToNumber(1e-200, &n), 4039);
    EXPECT_EQ(zvdbFloatToNumber(INFINITY, &n), 4060);
    EXPECT_EQ(zvdbFloatToNumber(NAN, &n), 4060);
    EXPECT_EQ(zvdbFloatToNumber(1.0, nullptr), 4008);

    tagZVNUMBER a = num("1E120"), b = num("0.000001"), q = num("3");
    EXPECT_EQ(zvdbNumberDiv(&a, &b, &q), 4038);
    EXPECT_EQ(text_of(q), "3");
    tagZVNUMBER big = num("9.9E123"), r;
    EXPECT_EQ(zvdbNumberAdd(&big, &big, &r), 4038);  // the carry would reach E = 63
    EXPECT_EQ(zvdbNumberMul(&big, &big, &r), 4038);
    tagZVNUMBER tiny = num("1E-100");
    EXPECT_EQ(zvdbNumberMul(&tiny, &tiny, &r), 4039);
    // Ea + Eb = 63 with a leading zero product digit ends at E = 62: kept.
    tagZVNUMBER x = num("1E60"), y = num("5E62");
    ASSERT_EQ(zvdbNumberMul(&x, &y, &r), 0);
    EXPECT_EQ(text_of(r), "5" + std::string(122, '0'));
}

TEST_F(NumberTest, PlainText) {
    struct Case {
        const char *in, *out;
    } cases[] = {
        {"12.50", "12.5"}, {"100", "100"}, {"0", "0"}, {"-0.001", "-0.001"}, {"0.5", "0.5"},
        {"-123.45", "-123.45"}, {"1000000.000001", "1000000.000001"}, {"7E-10", "0.0000000007"},
        {"5E5", "500000"},
    };
    for (const Case &c : cases) EXPECT_EQ(text_of(num(c.in)), c.out) << c.in;
}

TEST_F(NumberTest, TextThatDoesNotFit) {
    struct Case {
        const char *in;
        int size;
        const char *out;
    } cases[] = {
        {"1234567890123", 10, "1.234E+12"}, {"1234567890123", 8, "*******"},
        {"-0.00012345", 9, "-1.2E-04"}, {"1.23456789", 5, "****"}, {"1.23456789", 9, "1.234567"},
        {"-1.23456789", 9, "-1.23456"}, {"5E-100", 9, "5.0E-100"}, {"5E-100", 12, "5.0E-100"},
        {"-5E-100", 9, "-5E-100"}, {"12", 1, ""}, {"100000000000000000000", 9, "1.00E+20"},
        {"0.001", 2, "*"},
    };
    for (const Case &c : cases) {
        tagZVNUMBER n = num(c.in);
        std::vector<char> buf(size_t(c.size) + 4, '#');
        ASSERT_EQ(zvdbNumberToString(&n, buf.data(), c.size), 0) << c.in;
        EXPECT_STREQ(buf.data(), c.out) << c.in << " size " << c.size;
    }
    tagZVNUMBER n = num("5");
    char one;
    EXPECT_EQ(zvdbNumberToString(&n, &one, 0), 4006);
    EXPECT_EQ(zvdbNumberToString(&n, nullptr, 8), 4007);
}

TEST_F(NumberTest, ScientificTextStaysInsideExactBuffers) {
    for (const char *in : {"1E123", "-1E123", "1E-120", "-1E-120", "1.2345678901234E123"}) {
        tagZVNUMBER n = num(in);
        bool small = std::strstr(in, "E-") != nullptr;
        for (int size = 9; size <= 16; size++) {
            char *buf = new char[size_t(size)];
            ASSERT_EQ(zvdbNumberToString(&n, buf, size), 0);
            std::string t = buf;
            EXPECT_LT(t.size(), size_t(size));
            const char *tail = small ? "E-120" : "E+123";
            ASSERT_GE(t.size(), 5u);
            EXPECT_EQ(t.substr(t.size() - 5), tail) << in << " size " << size << ": " << t;
            delete[] buf;
        }
    }
}

TEST_F(NumberTest, StoredImagesOfOtherForms) {
    // Not normalised: a leading zero digit, a negative's trailing stored 100.
    tagZVNUMBER lead = from_image(image(3, 0xC2, {0, 5}));
    tagZVNUMBER carry = from_image(image(3, 0x3E, {98, 100}));
    EXPECT_EQ(text_of(lead), "5");
    EXPECT_EQ(text_of(carry), "-1");
    EXPECT_EQ(_zvdbNumberNormalize(&carry), 0);
    EXPECT_EQ(bytes_of(carry), image(2, 0x3E, {99}));
    tagZVNUMBER five = num("5");
    EXPECT_EQ(zvdbNumberCmp(&lead, &five), 0);

    tagZVNUMBER bad = from_image(image(2, 0xC1, {150}));
    char buf[32];
    EXPECT_EQ(zvdbNumberToString(&bad, buf, sizeof buf), 4060);
    tagZVNUMBER r;
    EXPECT_EQ(zvdbNumberAdd(&bad, &five, &r), 4060);
    tagZVNUMBER longer = from_image(image(18, 0xC1, {1}));
    EXPECT_EQ(zvdbNumberToString(&longer, buf, sizeof buf), 4038);
    tagZVNUMBER field127 = from_image(image(2, 0xFF, {1}));
    EXPECT_EQ(zvdbNumberToString(&field127, buf, sizeof buf), 4038);
    tagZVNUMBER fresh;
    std::memset(&fresh, 0, sizeof fresh);
    EXPECT_EQ(zvdbNumberToString(&fresh, buf, sizeof buf), 4038);  // length 0
    EXPECT_EQ(_zvdbNumberNormalize(&fresh), 0);
    EXPECT_EQ(bytes_of(fresh), image(2, 0xC1, {0}));
}

TEST_F(NumberTest, SignZeroAndOrder) {
    tagZVNUMBER z, n = num("5"), r;
    std::memset(&z, 0x55, sizeof z);
    EXPECT_EQ(zvdbNumberZero(&z), 0);
    EXPECT_EQ(bytes_of(z), image(2, 0xC1, {0}));
    EXPECT_EQ(zvdbIsNumberZero(&z), 1);
    EXPECT_EQ(zvdbIsNumberZero(&n), 0);
    EXPECT_EQ(zvdbIsNumberZero(nullptr), 0);
    EXPECT_EQ(zvdbNumberNegate(&z, &r), 0);
    EXPECT_EQ(bytes_of(r), image(2, 0xC1, {0}));
    EXPECT_EQ(zvdbNumberNegate(&n, &r), 0);
    EXPECT_EQ(bytes_of(r), image(2, 0x3E, {95}));
    EXPECT_EQ(zvdbNumberAbs(&r, &r), 0);
    EXPECT_EQ(bytes_of(r), bytes_of(n));
    EXPECT_EQ(zvdbNumberCopy(&r, &z), 0);
    EXPECT_EQ(bytes_of(r), bytes_of(z));
    EXPECT_EQ(zvdbNumberCopy(nullptr, &z), 4007);
    EXPECT_EQ(zvdbNumberNegate(nullptr, &r), 4007);
    EXPECT_EQ(zvdbNumberZero(nullptr), 4007);

    const char *ordered[] = {"-2", "-1.5", "-1.0001", "-1", "-0.5", "0", "0.001", "0.5", "1", "1.5"};
    const size_t count = sizeof ordered / sizeof ordered[0];
    for (size_t i = 0; i < count; i++)
        for (size_t j = 0; j < count; j++) {
            tagZVNUMBER a = num(ordered[i]), b = num(ordered[j]);
            EXPECT_EQ(zvdbNumberCmp(&a, &b), (i > j) - (i < j)) << ordered[i] << " " << ordered[j];
        }
    EXPECT_EQ(zvdbNumberCmp(nullptr, &n), 0);
}

// Nonzero normalised numbers order as unsigned byte strings from byte 2.
TEST_F(NumberTest, ByteOrderMatchesNumericOrder) {
    std::mt19937 rng(1234);
    auto random_number = [&rng]() {
        std::string t = (rng() & 1) ? "-" : "";
        int ndig = 1 + int(rng() % 32);
        t += char('1' + rng() % 9);
        for (int i = 1; i < ndig; i++) t += char('0' + rng() % 10);
        t += "E" + std::to_string(int(rng() % 81) - 40);
        return num(t.c_str());
    };
    for (int i = 0; i < 20000; i++) {
        tagZVNUMBER a = random_number(), b = (i % 4 == 0) ? a : random_number();
        if (i % 8 == 1) {  // share a prefix: differ in the last digit byte only
            b = a;
            int last = b.length - 2;
            if (b.digits[last] > 1 && b.digits[last] < 99) b.digits[last]++;
        }
        int c = std::memcmp(&a.exponent, &b.exponent, 17);
        EXPECT_EQ((c > 0) - (c < 0), zvdbNumberCmp(&a, &b)) << text_of(a) << " " << text_of(b);
    }
}

TEST_F(NumberTest, ConversionsFromOtherTypes) {
    tagZVNUMBER n;
    ASSERT_EQ(zvdbLongToNumber(-12345, &n), 0);
    EXPECT_EQ(text_of(n), "-12345");
    ASSERT_EQ(zvdbMoneyToNumber(-1205, &n), 0);
    EXPECT_EQ(text_of(n), "-12.05");
    ASSERT_EQ(zvdbBigIntToNumber(INT64_MIN, &n), 0);
    EXPECT_EQ(text_of(n), "-9223372036854775808");
    ASSERT_EQ(zvdbUnsignedBigIntToNumber(UINT64_MAX, &n), 0);
    EXPECT_EQ(text_of(n), "18446744073709551615");
    ASSERT_EQ(zvdbCurrencyToNumber(5, &n), 0);
    EXPECT_EQ(text_of(n), "0.0005");
    ASSERT_EQ(zvdbFloatToNumber(2.5, &n), 0);
    EXPECT_EQ(text_of(n), "2.5");
    ASSERT_EQ(zvdbFloatToNumber(-1234.5, &n), 0);
    EXPECT_EQ(text_of(n), "-1234.5");
    ASSERT_EQ(zvdbFloatToNumber(-0.0, &n), 0);
    EXPECT_EQ(bytes_of(n), image(2, 0xC1, {0}));
    ASSERT_EQ(zvdbFloatToNumber(0.1, &n), 0);  // the double's own 32 digits
    EXPECT_EQ(text_of(n).substr(0, 19), "0.10000000000000000");
    EXPECT_EQ(zvdbLongToNumber(1, nullptr), 4007);
    EXPECT_EQ(zvdbCurrencyToNumber(1, nullptr), 4007);
}

TEST_F(NumberTest, ConversionsToOtherTypes) {
    ZVMONEY m = 0;
    ZVBIGINT b = 0;
    ZVUBIGINT u = 0;
    ZVCURRENCY c = 0;
    int32_t l = 0;
    double d = 0;
    tagZVNUMBER n = num("-12.3456");
    EXPECT_EQ(zvdbNumberToMoney(&n, &m), 0);
    EXPECT_EQ(m, -1234);
    EXPECT_EQ(zvdbNumberToCurrency(&n, &c), 0);
    EXPECT_EQ(c, -123456);
    EXPECT_EQ(zvdbNumberToBigInt(&n, &b), 0);
    EXPECT_EQ(b, -12);
    EXPECT_EQ(zvdbNumberToLong(&n, &l), 0);
    EXPECT_EQ(l, -12);
    EXPECT_EQ(zvdbNumberToFloat(&n, &d), 0);
    EXPECT_EQ(d, -12.3456);
    EXPECT_EQ(zvdbNumberToUnsignedBigInt(&n, &u), 4004);
    // Tiny values read as zero, not as the digits of a scientific text.
    tagZVNUMBER tiny = num("1.5E-100");
    m = 9;
    EXPECT_EQ(zvdbNumberToMoney(&tiny, &m), 0);
    EXPECT_EQ(m, 0);
    EXPECT_EQ(zvdbNumberToBigInt(&tiny, &b), 0);
    EXPECT_EQ(b, 0);
    tagZVNUMBER big = num("1E20"), neg = num("-3E9");
    EXPECT_EQ(zvdbNumberToLong(&big, &l), 4038);
    EXPECT_EQ(zvdbNumberToLong(&neg, &l), 4039);
    EXPECT_EQ(zvdbNumberToMoney(&big, &m), 4038);
    EXPECT_EQ(zvdbNumberToMoney(nullptr, &m), 4007);
    EXPECT_EQ(zvdbNumberToFloat(&n, nullptr), 4007);
}

}  // namespace

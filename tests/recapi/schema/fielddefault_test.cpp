// Field defaults: storage, kinds, the table's count of defaulted fields,
// and the conversion of a default into the bytes the field holds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/recapi/schema/schemafix.h"

namespace {

using DefaultTest = schematest::SchemaTest;
using Bytes = std::vector<unsigned char>;

struct BinaryCase {
    int32_t type;
    int32_t length;
    std::string text;  // the stored bytes (may end with a zero byte)
    Bytes expected;    // empty: `code` is expected
    int code;
};

const BinaryCase kBinary[] = {
    {ZV_INT4, 4, "123", {0x7B, 0, 0, 0}, 0},
    {ZV_INT4, 4, "12abc", {0x0C, 0, 0, 0}, 0},
    {ZV_INT4, 4, "abc", {0, 0, 0, 0}, 0},
    {ZV_INT2, 2, "-2", {0xFE, 0xFF}, 0},
    {ZV_CHARU, 1, "300", {0x2C}, 0},
    {ZV_BOOL, 1, "Yes", {0x01}, 0},
    {ZV_BOOL, 1, "no", {0x00}, 0},
    {ZV_BOOL, 1, "1", {0x01}, 0},
    {ZV_BOOL, 1, "TRUE", {0x01}, 0},
    {ZV_BOOL, 1, std::string("TRUE\0", 5), {0x01}, 0},
    {ZV_BOOL, 1, "maybe", {}, 4042},
    {ZV_MONEY, 4, "12.34", {0xD2, 0x04, 0, 0}, 0},
    {ZV_CURRENCY, 8, "1.5", {0x98, 0x3A, 0, 0, 0, 0, 0, 0}, 0},
    {ZV_BIGINT, 8, "-1", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0},
    {ZV_DFLOAT, 8, "1.5", {0, 0, 0, 0, 0, 0, 0xF8, 0x3F}, 0},
    {ZV_DFLOAT, 8, "1e999", {}, 4038},
    {ZV_SFLOAT, 4, "2", {0, 0, 0, 0x40}, 0},
    {ZV_SFLOAT, 4, "1e60", {}, 4038},
    {ZV_DATE, 4, "01/02/2000", {0xCB, 0xAB, 0x01, 0x00}, 0},
    {ZV_TIME, 4, "1:02:03", {0x8B, 0x0E, 0, 0}, 0},
    {ZV_FSTRING, 5, "abc", {'a', 'b', 'c'}, 0},
    {ZV_FSTRING, 5, "abcdefgh", {}, 4038},
    {ZV_STRING, 10, "ab", {'a', 'b', 0}, 0},
    {ZV_ARRAY, 3, "ab", {'a', 'b', 0}, 0},
    {ZV_ARRAY, 2, "ab", {}, 4038},
    {ZV_PSTRING, 10, "ab", {2, 'a', 'b'}, 0},
    {ZV_FPSTRING, 3, "ab", {2, 'a', 'b'}, 0},
    {ZV_FPSTRING, 2, "ab", {}, 4038},
    {ZV_2STRING, 10, "ab", {2, 0, 'a', 'b'}, 0},
    {ZV_4STRING, 10, "ab", {2, 0, 0, 0, 'a', 'b'}, 0},
    {ZV_JSON, 10, "{}", {2, 0, 0, 0, '{', '}'}, 0},
    {ZV_EFLOAT, 10, "1", {}, 4054},
};

TEST_F(DefaultTest, LiteralDefaultsBecomeTheFieldsRecordBytes) {
    int n = 0;
    for (const BinaryCase &c : kBinary) {
        SCOPED_TRACE(testing::Message() << c.type << " \"" << c.text.c_str() << "\" (" << c.text.size() << ")");
        tagZVDBFIELD *f = field(("f" + std::to_string(n++)).c_str(), c.type, c.length);
        ASSERT_EQ(zvdbSetFieldDefaultValue(f, c.text.data(), int32_t(c.text.size())), 0);
        unsigned char buf[64];
        std::memset(buf, 0xEE, sizeof buf);
        int32_t size = sizeof buf;
        mark();
        ZVDBRET rc = zvdbGetFieldDefaultValueAsBinary(f, buf, &size);
        if (c.expected.empty()) {
            EXPECT_EQ(rc, c.code);
            EXPECT_EQ(last(), c.code);
        } else {
            ASSERT_EQ(rc, 0);
            EXPECT_EQ(last(), 7777);
            EXPECT_EQ(Bytes(buf, buf + size), c.expected);
            EXPECT_EQ(buf[size], 0xEE);
        }
    }
}

TEST_F(DefaultTest, SizeQueriesAndShortBuffersGiveTheSizeNeeded) {
    tagZVDBFIELD *f = field("n", ZV_INT4);
    ASSERT_EQ(zvdbSetFieldDefaultValue(f, "123", 3), 0);
    int32_t size = 0;
    EXPECT_EQ(zvdbGetFieldDefaultValueAsBinary(f, nullptr, &size), 4006);
    EXPECT_EQ(size, 4);
    unsigned char buf[4] = {};
    size = 2;
    EXPECT_EQ(zvdbGetFieldDefaultValueAsBinary(f, buf, &size), 4006);
    EXPECT_EQ(size, 4);
    size = 4;
    EXPECT_EQ(zvdbGetFieldDefaultValueAsBinary(f, nullptr, &size), 4008);
    EXPECT_EQ(zvdbGetFieldDefaultValueAsBinary(f, buf, nullptr), 4008);
    EXPECT_EQ(zvdbGetFieldDefaultValueAsBinary(table_, buf, &size), 4017);
}

TEST_F(DefaultTest, PrefixedTextsStopBelow256TimesThePrefixWidth) {
    const struct {
        int32_t type;
        size_t length;
        int code;
    } cases[] = {{ZV_PSTRING, 255, 0},  {ZV_PSTRING, 256, 4038},  {ZV_2STRING, 511, 0},
                 {ZV_2STRING, 512, 4038}, {ZV_4STRING, 1023, 0}, {ZV_4STRING, 1024, 4038}};
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << "/" << c.length);
        tagZVDBFIELD *f = field(("p" + std::to_string(n++)).c_str(), c.type, 255);
        const std::string text(c.length, 'x');
        ASSERT_EQ(zvdbSetFieldDefaultValue(f, text.data(), int32_t(text.size())), 0);
        std::vector<unsigned char> buf(2048);
        int32_t size = int32_t(buf.size());
        ASSERT_EQ(zvdbGetFieldDefaultValueAsBinary(f, buf.data(), &size), c.code);
        if (c.code) continue;
        const int width = c.type == ZV_PSTRING ? 1 : c.type == ZV_2STRING ? 2 : 4;
        EXPECT_EQ(size, int32_t(c.length) + width);
        EXPECT_EQ(buf[0], c.length & 0xFF);
        EXPECT_EQ(buf[1], width > 1 ? c.length >> 8 : 'x');
        EXPECT_EQ(buf[size - 1], 'x');
    }
}

TEST_F(DefaultTest, KindsChooseTheTextOrNone) {
    tagZVDBFIELD *f = field("who", ZV_FSTRING, 10);
    unsigned char buf[32] = {};
    int32_t size = sizeof buf;
    EXPECT_EQ(zvdbGetFieldDefaultValueAsBinary(f, buf, &size), 4054);  // kind 0
    ASSERT_EQ(zvdbSetFieldDefaultValueType(f, 2), 0);
    EXPECT_EQ(zvdbGetFieldDefaultValueAsBinary(f, buf, &size), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), size_t(size)), "tester");
    ASSERT_EQ(zvdbSetFieldDefaultValueType(f, 3), 0);
    size = sizeof buf;
    EXPECT_EQ(zvdbGetFieldDefaultValueAsBinary(f, buf, &size), 0);
    EXPECT_EQ(size, 0);
    ASSERT_EQ(zvdbSetFieldDefaultValueType(f, 9), 0);
    size = sizeof buf;
    EXPECT_EQ(zvdbGetFieldDefaultValueAsBinary(f, buf, &size), 4054);
    // Kind 4: today, as the date field holds it.
    tagZVDBFIELD *d = field("day", ZV_DATE);
    ASSERT_EQ(zvdbSetFieldDefaultValueType(d, 4), 0);
    ZVDATE today = 0, got = 0;
    ASSERT_EQ(zvdbCurrentDate(&today), 0);
    size = 4;
    ASSERT_EQ(zvdbGetFieldDefaultValueAsBinary(d, &got, &size), 0);
    EXPECT_EQ(size, 4);
    EXPECT_EQ(got, today);
}

TEST_F(DefaultTest, StoredBytesKindAndFormatsReadBack) {
    tagZVDBFIELD *f = field("v", ZV_FSTRING, 10);
    int32_t length = -1;
    EXPECT_EQ(zvdbGetFieldDefaultValue(f, &length), nullptr);
    EXPECT_EQ(zvdbIsFieldDefaultValueSet(f), 0);
    const struct {
        const void *bytes;
        int32_t length;
        int code;
    } bad[] = {{nullptr, 3, 4007}, {"abc", 0, 4004}};
    for (const auto &c : bad) EXPECT_EQ(zvdbSetFieldDefaultValue(f, c.bytes, c.length), c.code);
    ASSERT_EQ(zvdbSetFieldDefaultValue(f, "ab\0c", 4), 0);
    auto *bytes = static_cast<const char *>(zvdbGetFieldDefaultValue(f, &length));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::string(bytes, 5), std::string("ab\0c\0", 5));
    EXPECT_EQ(length, 4);
    EXPECT_EQ(zvdbGetFieldDefaultValueType(f), 1);
    EXPECT_EQ(zvdbSetFieldDefaultValueType(f, 0), 4004);
    EXPECT_EQ(zvdbSetFieldDefaultDateTimeType(f, 5, 9), 0);
    EXPECT_EQ(zvdbGetFieldDefaultDateType(f), 5);
    EXPECT_EQ(zvdbGetFieldDefaultTimeType(f), 9);
    // A kind other than 1 drops the bytes; clearing restores the formats.
    ASSERT_EQ(zvdbSetFieldDefaultValueType(f, 5), 0);
    EXPECT_EQ(zvdbGetFieldDefaultValue(f, &length), nullptr);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(zvdbClearFieldDefaultValue(f), 0);
    EXPECT_EQ(zvdbIsFieldDefaultValueSet(f), 0);
    EXPECT_EQ(zvdbGetFieldDefaultDateType(f), 1);
    EXPECT_EQ(zvdbGetFieldDefaultTimeType(f), 3);
    EXPECT_EQ(zvdbGetFieldDefaultDateType(nullptr), 1);
    EXPECT_EQ(zvdbGetFieldDefaultTimeType(nullptr), 3);
}

TEST_F(DefaultTest, TheTableCountsDefaultedFieldsNeverBelowZero) {
    tagZVDBFIELD *a = field("a", ZV_INT4);
    tagZVDBFIELD *b = field("b", ZV_INT4);
    const struct {
        tagZVDBFIELD *f;
        int op;  // 0 set value, 1 set kind 3, 2 clear
        int32_t count;
    } steps[] = {{a, 0, 1}, {a, 0, 1}, {b, 1, 2}, {a, 1, 2}, {a, 2, 1}, {a, 2, 1}, {b, 0, 1}, {b, 2, 0}, {b, 2, 0}};
    for (const auto &s : steps) {
        const ZVDBRET rc = s.op == 0   ? zvdbSetFieldDefaultValue(s.f, "7", 1)
                           : s.op == 1 ? zvdbSetFieldDefaultValueType(s.f, 3)
                                       : zvdbClearFieldDefaultValue(s.f);
        ASSERT_EQ(rc, 0);
        EXPECT_EQ(table_->defaultedfields, s.count);
    }
    ASSERT_EQ(zvdbSetFieldDefaultValue(a, "1", 1), 0);
    ASSERT_EQ(zvdbSetFieldDefaultValueType(b, 6), 0);
    EXPECT_EQ(table_->defaultedfields, 2);
    EXPECT_EQ(zvdbClearAllFieldDefaultValue(table_), 0);
    EXPECT_EQ(table_->defaultedfields, 0);
    EXPECT_EQ(zvdbIsFieldDefaultValueSet(a) + zvdbIsFieldDefaultValueSet(b), 0);
    // A count reset while a field keeps its default (the table went back to
    // its closed state) stays at 0 when that default is cleared.
    ASSERT_EQ(zvdbSetFieldDefaultValue(a, "1", 1), 0);
    table_->defaultedfields = 0;
    EXPECT_EQ(zvdbClearFieldDefaultValue(a), 0);
    EXPECT_EQ(table_->defaultedfields, 0);
}

}  // namespace

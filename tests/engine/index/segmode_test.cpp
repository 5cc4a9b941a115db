// Segment transforms: expected bytes of each mode, the reverse transform,
// float fills, the codes of refused modes, and the order of mode-10
// decimals.
#include <algorithm>
#include <random>

#include "engine/core/instance.h"
#include "engine/index/segmode.h"
#include "tests/engine/index/keyfix.h"

namespace {

using keytest::Bytes;
using keytest::le;

class SegModeTest : public idxtest::IndexTest {};

Bytes tseg(int mode, Bytes seg, const void *alt = nullptr, const void *schema = nullptr, uint32_t fld = 0,
           int *rc = nullptr) {
    int r = zvtseg(fld, mode, int32_t(seg.size()), seg.data(), alt, schema);
    if (rc) *rc = r;
    return seg;
}

Bytes str(const char *s) { return Bytes(s, s + strlen(s)); }

TEST_F(SegModeTest, TransformsGiveTheirBytes) {
    struct Case {
        const char *name;
        int mode;
        Bytes in, out;
    };
    const Case cases[] = {
        // Integers in host (little-endian) order, byte-reversed by profile 33.
        {"unsigned", 1, {0x01, 0x02, 0x03, 0x04}, {0x04, 0x03, 0x02, 0x01}},
        {"serial", 3, {0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}, {0x80, 0, 0, 0, 0, 0, 0, 0x10}},
        {"signed 1", 8, le<int32_t>(1), {0x80, 0x00, 0x00, 0x01}},
        {"signed -1", 8, le<int32_t>(-1), {0x7F, 0xFF, 0xFF, 0xFF}},
        {"descending 1", 8 | 16, le<int32_t>(1), {0x7F, 0xFF, 0xFF, 0xFE}},
        {"descending 0", 8 | 16, le<int32_t>(0), {0x7F, 0xFF, 0xFF, 0xFF}},
        {"descending -1", 8 | 16, le<int32_t>(-1), {0x80, 0x00, 0x00, 0x00}},
        {"float 1.0", 9, le<float>(1.0f), {0xBF, 0x80, 0x00, 0x00}},
        {"float -1.0", 9, le<float>(-1.0f), {0x40, 0x7F, 0xFF, 0xFF}},
        {"descending float -1.0", 9 | 16, le<float>(-1.0f), {0xBF, 0x80, 0x00, 0x00}},
        {"descending float 1.0", 9 | 16, le<float>(1.0f), {0x40, 0x7F, 0xFF, 0xFF}},
        {"packed +123", 6, {0x01, 0x23}, {0xF1, 0x23}},
        {"packed -123", 6, {0xD1, 0x23}, {0x08, 0x76}},
        {"packed -5", 6, {0xD0, 0x05}, {0x09, 0x94}},
        {"upper-case", 2, str("abz{AZ`\xe9"), str("ABZ{AZ`\xe9")},
        {"upper-case variable", 5, str("m-n_o"), str("M-N_O")},
        {"end segment with pad", 64, str("abc  "), str("cba  ")},
        {"end segment without pad", 64, str("abcde"), str("edcba")},
        {"end segment with zero bytes", 64, {'x', 'y', 0, 0}, {'y', 'x', ' ', ' '}},
        {"prefixed text", 11, {3, 0, 'a', 'b', 'c', 'z', 'z'}, {'a', 'b', 'c', 0, 0, 0, 0}},
        {"prefixed text too long", 11, {9, 0, 'a', 'b', 'c'}, {'a', 'b', 'c', 0, 0}},
        {"constant", 256, {1, 2, 3, 4}, {'D', 0, 0, 0}},
        {"bytes", 0, {9, 8, 7}, {9, 8, 7}},
        {"bytes descending", 7 | 16, {0x00, 0x0F}, {0xFF, 0xF0}},
    };
    for (const auto &c : cases) {
        int rc = -1;
        EXPECT_EQ(tseg(c.mode, c.in, nullptr, nullptr, 0, &rc), c.out) << c.name;
        EXPECT_EQ(rc, 0) << c.name;
    }
}

TEST_F(SegModeTest, DescendingSignedSegmentSortsOneZeroMinusOne) {
    Bytes k1 = tseg(8 | 16, le<int32_t>(1)), k0 = tseg(8 | 16, le<int32_t>(0)), km = tseg(8 | 16, le<int32_t>(-1));
    EXPECT_LT(k1, k0);
    EXPECT_LT(k0, km);
}

TEST_F(SegModeTest, PackedDecimalsSortByValue) {
    // Values with the sign in the high nibble of the first byte (D: negative).
    const std::vector<std::pair<int, Bytes>> values = {
        {-999, {0xD9, 0x99}}, {-123, {0xD1, 0x23}}, {-5, {0xD0, 0x05}}, {0, {0x00, 0x00}},
        {7, {0x00, 0x07}},    {123, {0x01, 0x23}},  {999, {0x09, 0x99}},
    };
    for (size_t i = 1; i < values.size(); i++)
        EXPECT_LT(tseg(6, values[i - 1].second), tseg(6, values[i].second))
            << values[i - 1].first << " before " << values[i].first;
}

TEST_F(SegModeTest, AlternateSequenceMapsEveryByteThroughItsLowByte) {
    uint16_t alt[256];
    for (int i = 0; i < 256; i++) alt[i] = uint16_t(0x5500 | (255 - i));
    int rc = -1;
    EXPECT_EQ(tseg(32, str("ab"), alt, nullptr, 0, &rc), (Bytes{0x9E, 0x9D}));
    EXPECT_EQ(rc, 0);
    // Mapped before the descending inversion, after the end-segment order.
    EXPECT_EQ(tseg(32 | 64 | 16, str("ab "), alt, nullptr), (Bytes{0x62, 0x61, 0x20}));
    // Without a table the bytes stay.
    EXPECT_EQ(tseg(32, str("ab")), str("ab"));
}

TEST_F(SegModeTest, FloatFillsAreKeyFormsOfTheExtremes) {
    struct Case {
        int fill;
        int32_t len;
        int mode;
        Bytes out;
    };
    const Case cases[] = {
        {0xFF, 4, 9, {0xFF, 0x7F, 0xFF, 0xEE}},
        {0x00, 4, 9, {0x00, 0x80, 0x00, 0x11}},
        {0x01, 8, 9, {0xFF, 0xEF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {0x00, 8, 9, {0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {0xFF, 2, 9, {0xFF, 0xFF}},
        {0x00, 4, 8, {0x00, 0x00, 0x00, 0x00}},
    };
    for (const auto &c : cases) {
        Bytes b(size_t(c.len), 0x5A);
        EXPECT_EQ(zv::zvfillseg(b.data(), c.fill, c.len, c.mode), 0);
        EXPECT_EQ(b, c.out) << "fill " << c.fill << " length " << c.len;
    }
    // The 4-byte fills are the key forms of +-(just below FLT_MAX).
    uint32_t bits = 0x7F7FFFEE;
    float f;
    memcpy(&f, &bits, 4);
    EXPECT_EQ(tseg(9, le(f)), (Bytes{0xFF, 0x7F, 0xFF, 0xEE}));
    EXPECT_EQ(tseg(9, le(-f)), (Bytes{0x00, 0x80, 0x00, 0x11}));
}

TEST_F(SegModeTest, RefusedModesGiveTheirCodes) {
    struct Case {
        const char *name;
        int mode;
        int32_t len;
        bool reverse;
        int code;
    };
    const Case cases[] = {
        {"alternate sequence with Unicode", 32 | 128, 4, false, 446},
        {"Unicode", 128, 4, false, 694},
        {"bad base", 0x100 | 5, 4, false, 446},
        {"mode-11 length 2", 11, 2, false, 528},
        {"mode-10 length 8", 10, 8, false, 528},
        {"wide schema type maps to no base", 12, 4, false, 446},
        {"reverse of packed decimal", 6, 4, true, 446},
        {"reverse of mode 7", 7, 4, true, 446},
        {"reverse of mode 11", 11, 4, true, 446},
        {"reverse of Unicode", 128, 4, true, 694},
    };
    const Bytes schema = keytest::schema_block(1, 0, ' ', {{4, 185}});
    for (const auto &c : cases) {
        Bytes seg(size_t(c.len), 0x11);
        zv::set_uerr(0);
        int rc = c.reverse ? zvuseg(0, c.mode, c.len, seg.data(), nullptr, schema.data())
                           : zvtseg(0, c.mode, c.len, seg.data(), nullptr, schema.data());
        EXPECT_EQ(rc, c.code) << c.name;
        EXPECT_EQ(zvGetUserErrorCode(), c.code) << c.name;
    }
    Bytes seg(4, 0);
    EXPECT_EQ(zvtseg(0, 12, 4, seg.data(), nullptr, nullptr), 199);
    EXPECT_EQ(zvtseg(1, 12, 4, seg.data(), nullptr, schema.data()), 433);
}

TEST_F(SegModeTest, ReverseRestoresIntegersSerialsFloatsAndSchemaFields) {
    std::mt19937 rng(7);
    const Bytes schema = keytest::schema_block(8, 0, ' ', {{2, ZV_INT2}, {4, ZV_INT4U}, {8, ZV_BIGINT},
                                                           {4, ZV_SFLOAT}, {8, ZV_DFLOAT}, {4, ZV_MONEY}});
    struct Case {
        int mode;
        int32_t len;
        uint32_t fld;
    };
    std::vector<Case> cases;
    for (int m : {1, 3, 8, 9, 257})
        for (int32_t l : {2, 4, 8})
            if (m != 9 || l != 2) cases.push_back({m, l, 0});
    for (uint32_t f = 0; f < 6; f++) {
        static const int32_t kLen[6] = {2, 4, 8, 4, 8, 4};
        cases.push_back({12, kLen[f], f});
        cases.push_back({14, kLen[f], f});
    }
    for (const auto &c : cases) {
        for (int desc : {0, 16}) {
            for (int round = 0; round < 40; round++) {
                Bytes in(size_t(c.len));
                for (auto &b : in) b = uint8_t(rng());
                if (round == 0) std::fill(in.begin(), in.end(), 0);
                if (round == 1) std::fill(in.begin(), in.end(), 0xFF);
                Bytes k = in;
                ASSERT_EQ(zvtseg(c.fld, c.mode | desc, c.len, k.data(), nullptr, schema.data()), 0);
                ASSERT_EQ(zvuseg(c.fld, c.mode | desc, c.len, k.data(), nullptr, schema.data()), 0);
                EXPECT_EQ(k, in) << "mode " << (c.mode | desc) << " length " << c.len << " field " << c.fld;
            }
        }
    }
}

// A mode-10 decimal: sign byte (non-zero negative), exponent byte and 16
// BCD digits (digit 0 the low nibble of byte 2); value = digits x 10^exp.
Bytes decimal(bool negative, int exp, uint64_t mantissa) {
    Bytes d(10, 0);
    d[0] = negative ? 1 : 0;
    d[1] = uint8_t(int8_t(exp));
    for (int n = 0; n < 16 && mantissa; n++, mantissa /= 10) zv::nd_digenc(d.data() + 2, n, int(mantissa % 10));
    return d;
}

TEST_F(SegModeTest, DecimalsSortByValueNegativesIncluded) {
    const std::vector<std::pair<const char *, Bytes>> values = {
        {"-500", decimal(true, 2, 5)},   {"-5", decimal(true, 0, 5)},     {"-1", decimal(true, 0, 1)},
        {"-0.5", decimal(true, -1, 5)},  {"-0.05", decimal(true, -2, 5)}, {"0", decimal(false, 0, 0)},
        {"0.001", decimal(false, -3, 1)}, {"0.5", decimal(false, -1, 5)}, {"5", decimal(false, 0, 5)},
        {"12", decimal(false, 0, 12)},   {"500", decimal(false, 2, 5)},
    };
    std::vector<Bytes> keys;
    for (const auto &v : values) keys.push_back(tseg(10, v.second));
    for (size_t i = 1; i < keys.size(); i++)
        EXPECT_LT(keys[i - 1], keys[i]) << values[i - 1].first << " before " << values[i].first;
    // Equal values give equal keys: 5 as 50 x 10^-1, zero with any exponent.
    EXPECT_EQ(tseg(10, decimal(false, -1, 50)), tseg(10, decimal(false, 0, 5)));
    EXPECT_EQ(tseg(10, decimal(true, -1, 50)), tseg(10, decimal(true, 0, 5)));
    EXPECT_EQ(tseg(10, decimal(false, 7, 0)), tseg(10, decimal(true, -3, 0)));
    // Descending reverses the order.
    EXPECT_GT(tseg(10 | 16, decimal(true, 0, 5)), tseg(10 | 16, decimal(true, 0, 1)));
}

TEST_F(SegModeTest, DecimalReverseGivesTheNormalisedValue) {
    struct Case {
        Bytes in, normal;
    };
    const Case cases[] = {
        {decimal(false, 0, 5), decimal(false, -15, 5000000000000000ull)},
        {decimal(true, -1, 50), decimal(true, -15, 5000000000000000ull)},
        {decimal(false, 3, 1234), decimal(false, -9, 1234000000000000ull)},
        {decimal(true, 4, 0), decimal(false, -128, 0)},
    };
    for (const auto &c : cases) {
        Bytes k = tseg(10, c.in);
        ASSERT_EQ(zvuseg(0, 10, 10, k.data(), nullptr, nullptr), 0);
        EXPECT_EQ(k, c.normal);
        // The normalised value forms the same key again.
        EXPECT_EQ(tseg(10, k), tseg(10, c.in));
    }
}

TEST_F(SegModeTest, FieldTypesMapToBaseModes) {
    struct Case {
        int type, base;
    };
    const Case cases[] = {
        {ZV_BOOL, 0},     {ZV_CHAR, 8},     {ZV_CHARU, 0},    {ZV_INT2, 8},       {ZV_INT2U, 1},
        {ZV_INT4, 8},     {ZV_INT4U, 1},    {ZV_MONEY, 8},    {ZV_DATE, 1},       {ZV_TIME, 1},
        {ZV_SFLOAT, 9},   {ZV_DFLOAT, 9},   {ZV_NUMBER, 11},  {ZV_EFLOAT, 9},     {ZV_TIMES, 1},
        {ZV_ARRAY, 0},    {ZV_CURRENCY, 8}, {ZV_FSTRING, 0},  {ZV_4STRING, 0},    {185, 128},
        {201, 128},       {210, 0},         {ZV_BIGINT, 8},   {ZV_UBIGINT, 1},    {245, 0},
        {ZV_TIMES_MS, 1}, {ZV_TIME_MS, 1},  {ZV_JSON, 0},     {300, 0},
    };
    for (const auto &c : cases) EXPECT_EQ(zv::zvkindof(c.type), c.base) << "type " << c.type;
}

TEST_F(SegModeTest, SchemaTextFieldsUpperCaseOnlyInModes13And15) {
    const Bytes schema = keytest::schema_block(1, 0, ' ', {{3, ZV_FSTRING}});
    EXPECT_EQ(tseg(12, str("abc"), nullptr, schema.data()), str("abc"));
    EXPECT_EQ(tseg(13, str("abc"), nullptr, schema.data()), str("ABC"));
    EXPECT_EQ(tseg(15 | 16, str("a"), nullptr, schema.data()), (Bytes{uint8_t(~'A')}));
}

}  // namespace

// The field-type table: names, forced lengths, variable-length kinds,
// prefix widths and numeric flags of every type code, and of codes outside
// the table.
#include <gtest/gtest.h>

#include <cstring>

#include "recapi/schema/fieldtype.h"
#include "tests/recapi/schema/schemafix.h"

namespace {

struct TypeCase {
    int32_t code;
    const char *name;  // NULL: no name
    int32_t forced;    // 0: the caller's length stays
    int32_t varlen;
    int32_t prefix;
    bool numeric;
};

const TypeCase kTypes[] = {
    {8, "ZV_BOOL", 1, 0, 0, false},          {16, "ZV_CHAR", 1, 0, 0, true},
    {24, "ZV_CHARU", 1, 0, 0, true},         {33, "ZV_INT2", 2, 0, 0, true},
    {41, "ZV_INT2U", 2, 0, 0, true},         {51, "ZV_INT4", 4, 0, 0, true},
    {59, "ZV_INT4U", 4, 0, 0, true},         {67, "ZV_MONEY", 4, 0, 0, true},
    {75, "ZV_DATE", 4, 0, 0, true},          {83, "ZV_TIME", 4, 0, 0, true},
    {91, "ZV_SFLOAT", 4, 0, 0, true},        {103, "ZV_DFLOAT", 8, 0, 0, true},
    {105, "ZV_NUMBER", 20, 0, 0, true},      {119, "ZV_EFLOAT", 0, 0, 0, true},
    {124, "ZV_TIMES", 8, 0, 0, true},        {128, "ZV_ARRAY", 0, 0, 0, false},
    {143, "ZV_CURRENCY", 8, 0, 0, true},     {144, "ZV_FSTRING", 0, 0, 0, false},
    {146, "ZV_STRING", 0, 1, 0, false},      {152, "ZV_FPSTRING", 0, 0, 1, false},
    {154, "ZV_PSTRING", 0, 1, 1, false},     {160, "ZV_F2STRING", 0, 0, 2, false},
    {162, "ZV_2STRING", 0, 2, 2, false},     {168, "ZV_F4STRING", 0, 0, 4, false},
    {170, "ZV_4STRING", 0, 4, 4, false},     {231, nullptr, 8, 0, 0, true},
    {239, nullptr, 8, 0, 0, true},           {257, "ZV_TIMES_MS", 8, 0, 0, true},
    {258, "ZV_TIME_MS", 4, 0, 0, true},      {259, "ZV_JSON", 0, 4, 4, false},
    // Codes outside the table.
    {0, nullptr, 0, 0, 0, false},            {300, nullptr, 0, 0, 0, false},
    {52, nullptr, 0, 0, 0, false},           {-1, nullptr, 0, 0, 0, false},
};

TEST(FieldTypeTest, EveryCodeHasItsNameLengthKindPrefixAndNumericFlag) {
    for (const TypeCase &c : kTypes) {
        SCOPED_TRACE(c.code);
        const char *name = _zvdbFieldTypeName(c.code);
        if (c.name) {
            ASSERT_NE(name, nullptr);
            EXPECT_STREQ(name, c.name);
        } else {
            EXPECT_EQ(name, nullptr);
        }
        // A length the type does not force stays as given.
        EXPECT_EQ(_zvdbFixFieldLength(c.code, 99), c.forced ? c.forced : 99);
        EXPECT_EQ(_zvdbFixFieldLength(c.code, 0), c.forced);
        const zv::FieldTypeInfo &info = zv::field_type_info(c.code);
        EXPECT_EQ(info.varlen, c.varlen);
        EXPECT_EQ(info.prefix, c.prefix);
        EXPECT_EQ(info.numeric, c.numeric);
    }
}

TEST(FieldTypeTest, LengthLimitIs255ForOneBytePrefixedStringsElse65535) {
    const struct {
        int32_t code, limit;
    } cases[] = {{ZV_FPSTRING, 255}, {ZV_PSTRING, 255}, {ZV_F2STRING, 65535}, {ZV_STRING, 65535}, {ZV_INT4, 65535}, {300, 65535}};
    for (const auto &c : cases) EXPECT_EQ(zv::field_length_limit(c.code), c.limit) << c.code;
}

using FieldTypeOnTable = schematest::SchemaTest;

// The numeric flag of a field follows the type it reports.
TEST_F(FieldTypeOnTable, FieldNumericFlagFollowsItsType) {
    for (const TypeCase &c : kTypes) {
        if (c.code <= 0 || c.code == 52 || c.code == 300) continue;
        char name[16];
        std::snprintf(name, sizeof name, "f%d", c.code);
        tagZVDBFIELD *f = field(name, c.code, 10);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(zvdbIsFieldNumeric(f), c.numeric ? 1 : 0) << c.code;
    }
    EXPECT_EQ(zvdbIsFieldNumeric(nullptr), 0);
}

}  // namespace

// The grammar and the lexer: tree shapes, literals, field leaves by field
// type, the keyword table, and texts that do not parse.
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/pools.h"
#include "engine/expr/keywords.h"
#include "engine/expr/parser.h"
#include "tests/engine/expr/exprfix.h"
#include "tests/engine/expr/texts.h"
#include "zarvo/zarvo.h"

namespace {

using namespace exprtest;
using zvfuzz::FieldDef;

using ParseTest = ExprTest;

TEST_F(ParseTest, TreeShapes) {
    for (const ShapeCase &c : shape_cases()) {
        SCOPED_TRACE(c.text);
        const PTNODE *cond = condition(c.text);
        EXPECT_EQ(shape(cond), c.shape);
    }
}

TEST_F(ParseTest, TheRootBindsTheConditionToTheLayout) {
    const PTNODE *cond = condition("a > 1");
    ASSERT_NE(cond, nullptr);
    EXPECT_EQ(zv::ptGetExprType(tree_), PT_INTEGER);
    const PTRECINFO *ri = zv::ptGetLeft(tree_)->u.op.pay.info;
    ASSERT_NE(ri, nullptr);
    EXPECT_TRUE(reads_copy_of(ri, schema_.data()));
    EXPECT_EQ(ri->present, uint32_t(zvfuzz::expr_fields().size()));
    EXPECT_EQ(ri->nullfld, &ri->fields[field_no("$NULFLD$")]);
    EXPECT_STREQ(ri->fields[field_no("Price")].name, "Price");
    EXPECT_EQ(ri->fields[field_no("Price")].type, ZV_MONEY);
}

TEST_F(ParseTest, Literals) {
    for (const LiteralCase &c : literal_cases()) {
        SCOPED_TRACE(c.text);
        const PTNODE *cond = condition(c.text);
        ASSERT_EQ(zv::ptGetNodeType(cond), PT_CONSTANT);
        const PTVALUE *v = zv::ptGetValue(cond);
        EXPECT_EQ(zv::ptGetExprType(cond), int(v->kind));
        EXPECT_EQ(describe(*v), c.value);
    }
}

TEST_F(ParseTest, FieldLeavesByFieldType) {
    struct Case {
        uint16_t type;
        int want;  // 0: the field cannot be named
    } cases[] = {
        {ZV_BOOL, 9},      {ZV_CHAR, 9},      {ZV_CHARU, 9},     {ZV_INT2, 9},      {ZV_INT2U, 9},
        {ZV_INT4, 9},      {ZV_INT4U, 9},     {ZV_DATE, 9},      {ZV_TIME, 9},      {ZV_TIME_MS, 9},
        {ZV_MONEY, 14},    {ZV_SFLOAT, 14},   {ZV_DFLOAT, 14},   {ZV_NUMBER, 14},   {ZV_CURRENCY, 14},
        {ZV_BIGINT, 14},   {ZV_UBIGINT, 14},  {ZV_TIMES, 13},    {ZV_TIMES_MS, 13}, {ZV_ARRAY, 15},
        {ZV_FSTRING, 15},  {ZV_STRING, 15},   {ZV_FPSTRING, 15}, {ZV_PSTRING, 15},  {ZV_F2STRING, 15},
        {ZV_2STRING, 15},  {ZV_F4STRING, 15}, {ZV_4STRING, 15},  {ZV_EFLOAT, 0},    {ZV_JSON, 0},
        {5, 0},            {0, 0},            {185, 0},          {300, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        const std::vector<FieldDef> fields = {{"id", ZV_INT4, 4}, {"f", c.type, 8}};
        auto schema = zvfuzz::schema_map(fields);
        auto names = zvfuzz::name_list(fields);
        for (const char *text : {"f", "F IS NULL"}) {
            PTNODE *tree = nullptr;
            int rc = zv::zvcxparse(schema.data(), names.data(), text, int32_t(strlen(text) + 1), &tree);
            if (!c.want) {
                EXPECT_EQ(rc, 1) << text;
                EXPECT_EQ(tree, nullptr);
                continue;
            }
            ASSERT_EQ(rc, 0) << text;
            const PTNODE *leaf = zv::ptGetRight(tree);
            bool isnull = text[1] != 0;
            EXPECT_EQ(zv::ptGetNodeType(leaf), isnull ? PT_ISNULL : PT_FIELD);
            EXPECT_EQ(zv::ptGetExprType(leaf), isnull ? 9 : c.want);
            EXPECT_EQ(zv::ptGetField(leaf), 1u);
            zv::ptDestroy(tree);
        }
    }
}

TEST_F(ParseTest, FieldsOfRunEntriesAndWithoutNames) {
    // Three INT4 fields in one run, then a DFLOAT.
    std::vector<unsigned char> schema(16 + 12, 0);
    int32_t words[3] = {28, 4, 2};
    memcpy(schema.data() + 4, words, sizeof words);
    const uint16_t e0[2] = {4, ZV_INT4}, e1[2] = {8, ZV_DFLOAT};
    memcpy(schema.data() + 16, e0, 4);
    schema[20] = 2;
    memcpy(schema.data() + 22, e1, 4);
    const unsigned char names[] = {3, 'p', 0, 1, 4, 'q', 'r', 0, 3, 's', 0};
    PTNODE *tree = nullptr;
    const char *text = "qr + s";
    ASSERT_EQ(zv::zvcxparse(schema.data(), names, text, int32_t(strlen(text) + 1), &tree), 0);
    EXPECT_EQ(zv::ptGetField(zv::ptGetLeft(zv::ptGetRight(tree))), 2u);
    EXPECT_EQ(zv::ptGetExprType(zv::ptGetLeft(zv::ptGetRight(tree))), 9);
    EXPECT_EQ(zv::ptGetField(zv::ptGetRight(zv::ptGetRight(tree))), 3u);
    EXPECT_EQ(zv::ptGetExprType(zv::ptGetRight(zv::ptGetRight(tree))), 14);
    zv::ptDestroy(tree);
    // Without names no field can be named; constants still parse, also
    // without a schema.
    EXPECT_EQ(zv::zvcxparse(schema.data(), nullptr, text, int32_t(strlen(text) + 1), &tree), 1);
    EXPECT_EQ(zv::zvcxparse(nullptr, nullptr, "1 + 2 > 2", 10, &tree), 0);
    EXPECT_EQ(zv::ptGetNodeType(zv::ptGetRight(tree)), PT_GT);
    zv::ptDestroy(tree);
}

TEST_F(ParseTest, TextsThatDoNotParse) {
    int64_t base = zv::pool_blocks_in_use();
    for (const BadCase &c : bad_cases()) {
        SCOPED_TRACE(c.text);
        PTNODE *tree = nullptr;
        EXPECT_EQ(parse(c.text, &tree), c.code);
        EXPECT_EQ(tree, nullptr);
        EXPECT_EQ(zv::pool_blocks_in_use(), base);
    }
}

TEST_F(ParseTest, TheLengthBoundsTheText) {
    // The parser reads length - 1 bytes; a NUL inside reads as a blank.
    const char text[] = "a > 1 garbage";
    PTNODE *tree = nullptr;
    ASSERT_EQ(parse(std::string("a >\0 1", 6), &tree), 0);
    EXPECT_EQ(shape(zv::ptGetRight(tree)), "(GT:9 a 1)");
    zv::ptDestroy(tree);
    ASSERT_EQ(zv::zvcxparse(schema_.data(), names_.data(), text, 6, &tree), 0);
    EXPECT_EQ(shape(zv::ptGetRight(tree)), "(GT:9 a 1)");
    zv::ptDestroy(tree);
    EXPECT_EQ(zv::zvcxparse(schema_.data(), names_.data(), text, 0, &tree), 1);
    EXPECT_EQ(zv::zvcxparse(schema_.data(), names_.data(), text, -5, &tree), 1);
}

TEST_F(ParseTest, KeywordTable) {
    int functions = 0, types = 0, others = 0;
    for (const zv::Keyword &k : zv::symtab) {
        if (k.cls == zv::kClassFunction) {
            functions++;
            ASSERT_GE(k.funcno, 0);
            ASSERT_LT(k.funcno, 95);
            EXPECT_STREQ(zv::FunName[k.funcno], k.name);
            EXPECT_LE(k.minargs, k.maxargs);
        } else if (k.cls == zv::kClassType) {
            types++;
        } else {
            others++;
        }
    }
    EXPECT_EQ(functions, 75);
    EXPECT_EQ(types, 21);
    EXPECT_EQ(others, 2);
    EXPECT_STREQ(zv::FunName[95], "FN_LAST");
    struct Case {
        const char *name;
        int cls, result, funcno;
    } cases[] = {
        {"now", zv::kClassFunction, 13, 47},  {"Locate", zv::kClassFunction, 9, 37},
        {"add_days", zv::kClassFunction, 10, 2}, {"cast", zv::kClassCast, 0, -1},
        {"As", zv::kClassAs, 0, -1},          {"integer", zv::kClassType, 9, -1},
        {"char", zv::kClassType, 15, -1},     {"timestamp", zv::kClassType, 13, -1},
    };
    for (const Case &c : cases) {
        const zv::Keyword *k = zv::find_keyword(c.name, int32_t(strlen(c.name)));
        ASSERT_NE(k, nullptr) << c.name;
        EXPECT_EQ(k->cls, c.cls) << c.name;
        EXPECT_EQ(k->result, c.result) << c.name;
        EXPECT_EQ(k->funcno, c.funcno) << c.name;
    }
    for (const char *name : {"IN", "BETWEEN", "SUBSTR", "FN_LAST", "INT", "NOWX", "", "a"})
        EXPECT_EQ(zv::find_keyword(name, int32_t(strlen(name))), nullptr) << name;
}

}  // namespace

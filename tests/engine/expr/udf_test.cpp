// User-defined functions: registration, parsing of their names, the
// order and conversion of arguments in their buffers, their results, and
// calls that cannot be made.
#include <cstring>
#include <string>

#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/expr/eval.h"
#include "engine/expr/expr_services.h"
#include "engine/expr/udf.h"
#include "tests/engine/expr/evalfix.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdbpt.h"

namespace {

using namespace evaltest;

int32_t get_int(void *b) {
    int32_t v;
    memcpy(&v, b, 4);
    return v;
}
void put_int(void *b, int32_t v) { memcpy(b, &v, 4); }

void twice(void **args, void *result) { put_int(result, 2 * get_int(args[0])); }

// What the last call of a function saw.
int32_t g_buf0 = 0, g_buf1 = 0;
std::string g_text;
void pair(void **args, void *result) {
    g_buf0 = get_int(args[0]);
    g_buf1 = get_int(args[1]);
    put_int(result, 0);
}
void all_ones(void **, void *result) { memset(result, 0xFF, 4); }
void full_text(void **, void *result) { memset(result, 'x', 256); }
void echo(void **args, void *result) {
    g_text = static_cast<const char *>(args[0]);
    strcpy(static_cast<char *>(result), static_cast<const char *>(args[0]));
}
void length_of(void **args, void *result) {
    g_text.assign(static_cast<const char *>(args[0]), 256);
    put_int(result, int32_t(strlen(static_cast<const char *>(args[0]))));
}

const int kInt[] = {ZV_INT4, ZV_INT4};
const int kText[] = {ZV_FSTRING};

TEST_F(EvalTest, AFunctionNameParsesOnceRegistered) {
    const Image img = full_image();
    int kind = 0;
    const char before[] = "TWICE(Qty) == 6";
    EXPECT_EQ(cndxparse(const_cast<unsigned char *>(full_layout().schema.data()), const_cast<unsigned char *>(full_layout().names.data()), before,
                        int32_t(sizeof before), &kind),
              nullptr);
    ASSERT_EQ(udfAdd("TWICE", twice, ZV_INT4, kInt, 1), 0);
    EXPECT_EQ(eval("TWICE(Qty) == 6", img), 1);
    EXPECT_EQ(eval("twice(twice(Qty)) == 12", img), 1);
    // The name is taken whatever its letter case; the argument count is
    // checked by the parser.
    EXPECT_EQ(udfAdd("twice", twice, ZV_INT4, kInt, 1), 13);
    EXPECT_EQ(cndxparse(const_cast<unsigned char *>(full_layout().schema.data()), const_cast<unsigned char *>(full_layout().names.data()),
                        "TWICE(1, 2)", 12, &kind),
              nullptr);
    // Names the lexer could not read as a function's, and bad arguments.
    EXPECT_EQ(udfAdd("ABS", twice, ZV_INT4, kInt, 1), 13);
    EXPECT_EQ(udfAdd("and", twice, ZV_INT4, kInt, 1), 13);
    EXPECT_EQ(udfAdd("two words", twice, ZV_INT4, kInt, 1), 13);
    EXPECT_EQ(udfAdd("", twice, ZV_INT4, kInt, 1), 13);
    EXPECT_EQ(udfAdd(nullptr, twice, ZV_INT4, kInt, 1), 13);
    EXPECT_EQ(udfAdd("NOPROC", nullptr, ZV_INT4, kInt, 1), 13);
    EXPECT_EQ(udfAdd("NEG", twice, ZV_INT4, kInt, -1), 14);
    EXPECT_EQ(udfAdd("NOTYPES", twice, ZV_INT4, nullptr, 2), 14);
    // udfInit forgets the names: the text no longer parses.
    udfInit();
    EXPECT_EQ(cndxparse(const_cast<unsigned char *>(full_layout().schema.data()), const_cast<unsigned char *>(full_layout().names.data()), before,
                        int32_t(sizeof before), &kind),
              nullptr);
}

TEST_F(EvalTest, ArgumentsFillTheBuffersFromTheLast) {
    const Image img = full_image();
    ASSERT_EQ(udfAdd("PAIR", pair, ZV_INT4, kInt, 2), 0);
    EXPECT_EQ(eval("PAIR(1, 2) == 0", img), 1);
    EXPECT_EQ(g_buf0, 2);
    EXPECT_EQ(g_buf1, 1);
    // INTEGER buffers take the low 32 bits; a text is read as a number.
    EXPECT_EQ(eval("PAIR(Big, \"-7\") == 0", img), 1);
    EXPECT_EQ(g_buf0, -7);
    EXPECT_EQ(g_buf1, int32_t(4000000000u));
    ASSERT_EQ(udfAdd("ONES", all_ones, ZV_INT4, nullptr, 0), 0);
    EXPECT_EQ(value("ONES()", img), "INTEGER -1");
}

TEST_F(EvalTest, TextArgumentsAndResults) {
    const Image img = full_image();
    ASSERT_EQ(udfAdd("ECHO", echo, ZV_FSTRING, kText, 1), 0);
    ASSERT_EQ(udfAdd("LEN", length_of, ZV_INT4, kText, 1), 0);
    ASSERT_EQ(udfAdd("FULL", full_text, ZV_STRING, nullptr, 0), 0);
    EXPECT_EQ(eval("ECHO(Name) == \"abc\"", img), 1);
    EXPECT_EQ(g_text, "abc");
    EXPECT_EQ(eval("ECHO(Born) == \"01/31/2023\"", img), 1);
    // Two results of one function in one condition are two values.
    EXPECT_EQ(eval("ECHO(\"a\") == ECHO(\"b\")", img), 0);
    EXPECT_EQ(eval("ECHO(\"a\") != ECHO(\"b\")", img), 1);
    // A 300-byte argument arrives as 255 bytes and a NUL.
    const std::string long_text = "\"" + std::string(300, 'q') + "\"";
    EXPECT_EQ(eval("LEN(" + long_text + ") == 255", img), 1);
    EXPECT_EQ(g_text, std::string(255, 'q') + std::string(1, '\0'));
    // A result without a NUL is the whole 256-byte buffer.
    EXPECT_EQ(eval("LENGTH(FULL()) == 256", img), 1);
    EXPECT_EQ(eval("FULL() == \"" + std::string(256, 'x') + "\"", img), 1);
}

TEST_F(EvalTest, CallsThatCannotBeMade) {
    const Image img = full_image();
    ASSERT_EQ(udfAdd("TWICE", twice, ZV_INT4, kInt, 1), 0);
    ASSERT_EQ(udfAdd("DOC", twice, ZV_JSON, kInt, 1), 0);  // a result type without a value kind
    int err = 0;
    EXPECT_EQ(eval("DOC(1) == 2", img, &err), 0);
    EXPECT_EQ(err, 2);
    // A call built with another count than the function's: 14.
    PTNODE *list = zvdbptAddToExprList(zvdbptAddToExprList(nullptr, zvdbptPutInteger(1)), zvdbptPutInteger(2));
    PTNODE *number = zvdbptPutInteger(-1);
    zv::ptSetUDFNode(number, zv::udfFind("TWICE"));
    PTNODE *t = zvdbptPutNode(PT_FUNCTION, 9, list, number);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(value_of(t, img), "error 14");
    zvdbptDestroy(t);
    // A tree that outlives its function fails instead of calling it.
    PTNODE *kept = compile("TWICE(Qty) == 6", full_layout());
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(value_of(kept, img), "INTEGER 1");
    const int64_t blocks = zv::pool_blocks_in_use();
    udfTerm();
    EXPECT_LT(zv::pool_blocks_in_use(), blocks);
    EXPECT_EQ(zv::udfFind("TWICE"), nullptr);
    EXPECT_EQ(value_of(kept, img), "error 13");
    zv::ptDestroy(kept);
}

TEST_F(EvalTest, FieldTypesMapToValueKinds) {
    struct Case {
        int type, kind;
    };
    const Case cases[] = {
        {ZV_BOOL, 9},     {ZV_INT2U, 9},    {ZV_INT4U, 9},     {ZV_MONEY, 14},   {ZV_EFLOAT, 14},
        {ZV_CURRENCY, 14}, {ZV_BIGINT, 14}, {ZV_UBIGINT, 14},  {ZV_DATE, 10},    {ZV_TIME, 11},
        {ZV_TIMES, 13},   {ZV_TIMES_MS, 13}, {ZV_TIME_MS, 12}, {ZV_ARRAY, 15},   {ZV_FSTRING, 15},
        {ZV_4STRING, 15}, {ZV_JSON, -1},    {0, -1},           {7, -1},
    };
    for (const Case &c : cases) EXPECT_EQ(zv::convZVType(c.type), c.kind) << c.type;
}

}  // namespace

// The evaluator over record images: conditions and their truth, NULL
// fields, integer wrapping, conversions, reading every field type, the
// field walk through the variable part, null flags and FIELD().
#include <cmath>
#include <cstdio>
#include <limits>

#include "engine/core/instance.h"
#include "engine/expr/eval.h"
#include "engine/expr/fields.h"
#include "tests/engine/expr/evalfix.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdbpt.h"

namespace {

using namespace evaltest;

struct Truth {
    const char *text;
    int answer;  // cndxeval
    int error;   // the last expression error
};

TEST_F(EvalTest, ConditionsOverARecordOfEveryType) {
    const Image img = full_image();
    const Truth cases[] = {
        // A comparison with a NULL field is false, whatever the operator.
        {"Opt == 77", 0, 0},
        {"Opt != 77", 0, 0},
        {"Opt != 5", 0, 0},
        {"Opt < 100", 0, 0},
        {"Opt >= 0", 0, 0},
        {"!(Opt == 77)", 1, 0},  // the comparison is false, not NULL
        {"Opt IS NULL", 1, 0},
        {"Qty IS NOT NULL", 1, 0},
        // Any non-zero integer is true.
        {"Qty - 10", 1, 0},
        {"Qty - 3", 0, 0},
        {"Qty / Zero > 1", 0, 9},
        {"Qty % Zero", 0, 9},
        {"(0xFFFFFFFF | 0) == -1", 1, 0},
        {"~0 == -1", 1, 0},
        {"(8589934591 & 0xFFFFFFFF) == -1", 1, 0},  // the low 32 bits only
        {"At == '12:00:00'", 1, 0},
        {"At == '12:00:01'", 0, 0},
        {"AtMs > At", 1, 0},
        {"(int)\"12abc\" == 12", 1, 0},
        {"ATOI(\"99999999999\")", 0, 4038},
        {"ATOI(\"-2147483648\") == -2147483648", 1, 0},
        {"Price == 12.34 AND Amount > 2", 1, 0},
        {"Frac * 4 == 2", 1, 0},
        {"Born == {d '2023-01-31'}", 1, 0},
        {"Born < '2023-02-01' AND Born > '1-31-2022'", 1, 0},
        {"Name == \"abc\" AND Name != \"abd\"", 1, 0},
        {"Note == \"note\" AND PNote == \"pn\"", 1, 0},
        {"Qty > 5 OR Name == \"abc\"", 1, 0},
        {"Qty > 5 OR Qty / Zero", 0, 9},
        {"Qty < 5 OR Qty / Zero", 1, 0},  // the right side is never run
        {"Zero AND Qty / Zero", 0, 0},
        {"Long == -9000000000 AND Cash == 1.5", 1, 0},
    };
    for (const Truth &c : cases) {
        int err = -1;
        EXPECT_EQ(eval(c.text, img, &err), c.answer) << c.text;
        EXPECT_EQ(err, c.error) << c.text;
    }
}

TEST_F(EvalTest, IntegersWrapAndDivisionsByZeroFail) {
    const Image img = full_image();
    const Truth cases[] = {
        {"(int)9223372036854775807 + 1 < 0", 1, 0},
        {"(int)-9223372036854775808 - 1 > 0", 1, 0},
        {"(int)-9223372036854775808 / -1 < 0", 1, 0},
        {"(int)-9223372036854775808 % -1 == 0", 1, 0},
        {"(int)9223372036854775807 * 2 == -2", 1, 0},
        {"-(int)-9223372036854775808 < 0", 1, 0},
        {"1.5 / 0.0", 0, 9},
        {"1.5 % 0.0", 0, 9},
        {"1.0e100 * 1.0e100 == 0", 0, 4},  // beyond the decimal range
        {"7 / 0", 0, 9},
        {"-7 / 2 == -3 AND -7 % 2 == -1", 1, 0},
        {"7.5 % 2 == 1.5", 1, 0},
    };
    for (const Truth &c : cases) {
        int err = -1;
        EXPECT_EQ(eval(c.text, img, &err), c.answer) << c.text;
        EXPECT_EQ(err, c.error) << c.text;
    }
    // A failing operation leaves no stray value behind.
    EXPECT_EQ(value("1.0e100 * 1.0e100", img), "error 4");
    EXPECT_EQ(value("(1.5 / 0.0) + 1", img), "error 9");
}

// A NUMBER gives an integer (and a DATE, TIME or TIMEMS) through its
// integer part, which is 0 when it leaves the signed 64-bit range; inside
// the range the part is truncated toward zero. 2^64 + v must not wrap to v.
TEST_F(EvalTest, NumbersBeyond64BitsGiveTheIntegerZero) {
    const Image img = full_image();
    const std::string wrap = "18446744073709551616 + ";  // 2^64 +
    struct Case {
        std::string expr;
        std::string want;
    };
    const Case cases[] = {
        {"0 == 18446744073709551615", "INTEGER 1"},
        {"-1 == 18446744073709551615", "INTEGER 0"},
        {"CAST(18446744073709551615 AS INTEGER)", "INTEGER 0"},
        {"(int)9223372036854775808", "INTEGER 0"},
        {"(int)-9223372036854775809", "INTEGER 0"},
        {"(int)123456789012345678901234", "INTEGER 0"},
        {"(int)(" + wrap + "5)", "INTEGER 0"},
        {"(int)ULong", "INTEGER 0"},  // 18000000000000000000
        // The edges of the range and the truncation inside it.
        {"(int)9223372036854775807.9", "INTEGER 9223372036854775807"},
        {"(int)-9223372036854775808.9", "INTEGER -9223372036854775808"},
        {"(int)99999999999999999999 == 0", "INTEGER 1"},
        {"(int)-12.9", "INTEGER -12"},
        {"(int)0.75", "INTEGER 0"},
        {"(int)1000000000000000000", "INTEGER 1000000000000000000"},
        // DATE, TIME and TIMEMS take the same integer part.
        {"(int)CAST(" + wrap + std::to_string(date(2023, 1, 31)) + " AS DATE)", "INTEGER 0"},
        {"CAST(" + std::to_string(date(2023, 1, 31)) + ".5 AS DATE)", "DATE 2023-1-31"},
        {"Born == " + wrap + std::to_string(date(2023, 1, 31)), "INTEGER 0"},
        {"At == " + wrap + "43200", "INTEGER 0"},
        {"At == 43200.0", "INTEGER 1"},
        {"AtMs == " + wrap + "45296789", "INTEGER 0"},
        {"AtMs == 45296789.0", "INTEGER 1"},
    };
    for (const Case &c : cases) EXPECT_EQ(value(c.expr, img), c.want) << c.expr;
}

TEST_F(EvalTest, EveryFieldTypeReadsItsValue) {
    const Image img = full_image();
    struct Case {
        const char *field;
        std::string want;
    };
    const Case cases[] = {
        {"Flag", "INTEGER 1"},
        {"Tiny", "INTEGER -5"},
        {"UTiny", "INTEGER 250"},
        {"Short", "INTEGER -300"},
        {"UShort", "INTEGER 60000"},
        {"Big", "INTEGER 4000000000"},
        {"Long", "INTEGER -9000000000"},
        {"Low", "INTEGER -2147483648"},
        {"Price", "NUMBER 12.34"},
        {"Frac", "NUMBER 0.5"},
        {"Amount", "NUMBER 2.25"},
        {"Num", "NUMBER 123.456"},
        {"Cash", "NUMBER 1.5"},
        {"ULong", "NUMBER 18000000000000000000"},
        {"Born", "DATE 2023-1-31"},
        {"At", "TIME 43200"},
        {"AtMs", "TIMEMS 45296789"},
        {"Stamp", "STAMP 2023-1-31 6:30:0"},
        {"StampMs", "STAMP 2023-1-31 6:30:0"},
        {"Blob", text(std::string("ab\0cd\1", 6))},
        {"Name", text("abc")},
        {"PName", text("xyz")},
        {"Name2", text("hi")},
        {"Name4", text("four")},
        {"Note", text("note")},
        {"PNote", text("pn")},
        {"Note2", text("two")},
        {"Note4", text("four")},
        {"Opt", "NULL"},
        {"ROWID()", "NUMBER 4242"},
    };
    for (const Case &c : cases) EXPECT_EQ(value(c.field, img), c.want) << c.field;
}

TEST_F(EvalTest, ConversionsBetweenKinds) {
    Image img = full_image();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char *expr;
        std::string want;
    };
    const Case cases[] = {
        {"(int)Stamp", "INTEGER " + std::to_string(int64_t(stamp(2023, 1, 31, 6, 30, 0)))},
        {"CAST(Born AS TIMESTAMP)", "STAMP 2023-1-31 0:0:0"},
        {"CAST(Stamp AS DATE)", "DATE 2023-1-31"},
        {"CAST(Stamp AS TIME)", "TIME " + std::to_string(6 * 3600 + 30 * 60)},
        {"CAST(At AS CHAR)", text("12:00:00")},
        {"CAST(AtMs AS CHAR)", text("12:34:56")},  // seconds only
        {"CAST(Qty AS VARCHAR)", text("3")},
        {"CAST(\"2.5\" AS NUMERIC) * 2", "NUMBER 5"},
        {"CAST(\"12:00:00\" AS TIME)", "TIME 43200"},
        {"(int)CAST(AtMs AS DATE)", "INTEGER 0"},  // not a valid date: 0
        {"CAST(99999 AS TIME)", "TIME 0"},  // beyond a day: 0
        {"(double)Qty / 2", "NUMBER 1.5"},
        {"-Born", "INTEGER " + std::to_string(-int64_t(date(2023, 1, 31)))},
        {"-Price", "NUMBER -12.34"},
    };
    for (const Case &c : cases) EXPECT_EQ(value(c.expr, img), c.want) << c.expr;
    // A NaN stamp has no integer.
    img.set<double>("Stamp", nan);
    EXPECT_EQ(value("(int)Stamp", img), "INTEGER -2147483648");
    img.set<double>("Stamp", 1e300);
    EXPECT_EQ(value("(int)Stamp", img), "INTEGER -2147483648");
}

TEST_F(EvalTest, FieldsAfterJsonAndExtendedFloatValues) {
    // The variable part: a 3-byte JSON value, a 10-byte extended float,
    // then integers that must read their own values.
    const Layout l({{"Id", ZV_INT4, 4}, {"Doc", ZV_JSON, 4}, {"After", ZV_INT4, 4}, {"Ext", ZV_EFLOAT, 10},
                    {"Last", ZV_INT4, 4}},
                   1);
    Image img(l);
    img.set<int32_t>("Id", 1).var(prefixed(4, "abc")).var(le<int32_t>(77)).var(Bytes(10, 0xEE)).var(le<int32_t>(88));
    EXPECT_EQ(eval("After == 77", img), 1);
    EXPECT_EQ(eval("Last == 88", img), 1);
    // Types without a reading (the parser refuses their names): 10.
    PTNODE *ext = zvdbptPutField(PT_FIELD, 14, 3);
    EXPECT_EQ(value_of(ext, img), "error 10");
    zvdbptDestroy(ext);
    int err = 0;
    // A JSON length beyond the image leaves the later fields absent.
    Image bad(l);
    bad.set<int32_t>("Id", 1).var(le<uint32_t>(0xFFFFFFF0u)).var(le<int32_t>(77));
    EXPECT_EQ(eval("After == 77", bad, &err), 0);
    EXPECT_EQ(err, 10);
    EXPECT_EQ(eval("Id == 1", bad, &err), 1);
}

TEST_F(EvalTest, ShortImagesAndUndelimitedStrings) {
    const Image full = full_image();
    struct Case {
        size_t cut;        // bytes removed from the end
        const char *text;
        int error;
    };
    const size_t note4 = 4 + 4, note2 = 2 + 3, pnote = 1 + 2;
    const Case cases[] = {
        {note4, "Note4 == \"x\"", 10},              // absent
        {note4 + 1, "Note2 == \"x\"", 10},          // cut inside: absent
        {note4, "Note2 == \"two\"", 0},
        {note4 + note2 + pnote + 1, "Note == \"x\"", 12},  // no delimiter before the end
        {note4 + note2 + pnote + 1, "PNote IS NULL", 10},
        {size_t(full.data.size()) - 3, "Qty == 3", 10},    // the fixed part cut short
        {size_t(full.data.size()) - 3, "UTiny == 250", 0},
    };
    for (const Case &c : cases) {
        Image img = full;
        img.data.resize(img.data.size() - c.cut);
        int err = -1;
        eval(c.text, img, &err);
        EXPECT_EQ(err, c.error) << c.text << " cut " << c.cut;
    }
}

TEST_F(EvalTest, NullFlagsByVisibleFieldNumber) {
    // The 9th visible field (Price) is bit 0 of the second flag byte.
    Image img = full_image();
    img.put("$NULFLD$", Bytes{0, 0x01, 0, 0});
    EXPECT_EQ(eval("Price IS NULL", img), 1);
    EXPECT_EQ(eval("Big IS NULL OR Born IS NULL", img), 0);
    EXPECT_EQ(eval("Price > 0", img), 0);
    EXPECT_EQ(eval("Opt == 77", img), 1);
    // A flag beyond "$NULFLD$" means not null: here a one-byte flag field
    // in front of ten visible fields.
    std::vector<FieldDef> f = {{"$NULFLD$", ZV_ARRAY, 1}};
    for (int i = 0; i < 10; i++) f.push_back({i == 0 ? "F0" : i == 9 ? "F9" : "Fx", ZV_INT4, 4});
    const Layout l(f, f.size());
    Image small(l);
    small.data[0] = 0xFF;
    small.data[1 + 4 * 9] = 0xFF;  // F9's own bytes lie after the flag byte
    EXPECT_EQ(eval("F0 IS NULL", small), 1);
    EXPECT_EQ(eval("F9 IS NULL", small), 0);
    EXPECT_EQ(eval("F9 == 255", small), 1);
}

TEST_F(EvalTest, FieldTakesRecordBytes) {
    Image img(full_layout());
    img.data.assign(img.data.size(), 'z');
    memcpy(img.data.data(), "abc", 3);
    const int64_t len = int64_t(img.data.size());
    const Truth cases[] = {
        {"FIELD(0, 3) == \"abcxyz\"", 1, 0},  // binary: equal over the shorter length
        {"FIELD(0, 3) == \"abd\"", 0, 0},
        {"FIELD(1, 2) == \"bc\"", 1, 0},
        {"FIELD(-1, 2) == \"x\"", 0, 12},
        {"FIELD(0, -1) == \"x\"", 0, 12},
    };
    for (const Truth &c : cases) {
        int err = -1;
        EXPECT_EQ(eval(c.text, img, &err), c.answer) << c.text;
        EXPECT_EQ(err, c.error) << c.text;
    }
    int err = -1;
    EXPECT_EQ(eval("FIELD(0, " + std::to_string(len + 1) + ") == \"a\"", img, &err), 0);
    EXPECT_EQ(err, 12);
    EXPECT_EQ(eval("FIELD(0, " + std::to_string(len) + ") == \"a\"", img, &err), 1);
    EXPECT_EQ(err, 0);
    // Offset and length beyond 32 bits are still checked.
    EXPECT_EQ(eval("FIELD(4294967295, 4294967297) == \"a\"", img, &err), 0);
    EXPECT_EQ(err, 12);
}

// A constant text belongs to its node, whether it was copied in or taken
// over: evaluations borrow it, and only the node's release frees it.
TEST_F(EvalTest, ConstantTextsStayWithTheirNodes) {
    const Image img = full_image();
    auto *adopted = static_cast<char *>(zvgetmem(3));
    memcpy(adopted, "abc", 3);
    PTNODE *copied = zv::ptPutText("abc", 3, 0);
    PTNODE *taken = zv::ptPutText(adopted, 3, 1);
    ASSERT_NE(copied, nullptr);
    ASSERT_NE(taken, nullptr);
    for (PTNODE *c : {copied, taken}) {
        PTNODE *t = zvdbptPutNode(PT_EQ, 9, zvdbptPutField(PT_FIELD, 15, 17), c);  // Name == "abc"
        ASSERT_NE(t, nullptr);
        for (int i = 0; i < 3; i++) EXPECT_EQ(value_of(t, img), "INTEGER 1");
        EXPECT_EQ(zv::ptGetText(c)[2], 'c') << "the text is still the node's";
        zvdbptDestroy(t);
    }
}

TEST_F(EvalTest, TreesWithoutALayoutReadTheSchemaGiven) {
    // A tree built through the parse-tree calls: Qty > 2, Qty being field 5.
    const Image img = full_image();
    PTNODE *t = zvdbptPutNode(PT_GT, 9, zvdbptPutField(PT_FIELD, 9, 5), zvdbptPutInteger(2));
    ASSERT_NE(t, nullptr);
    void *rec = const_cast<unsigned char *>(img.data.data());
    void *schema = const_cast<unsigned char *>(full_layout().schema.data());
    EXPECT_EQ(cndxeval(t, rec, schema, full_layout().fixlen, int32_t(img.data.size())), 1);
    EXPECT_EQ(cndxeval(t, rec, nullptr, full_layout().fixlen, int32_t(img.data.size())), 0);
    EXPECT_EQ(zvWNGV->exprerr, 5);
    EXPECT_EQ(cndxeval(nullptr, rec, schema, 0, 0), 0);
    EXPECT_EQ(zvWNGV->exprerr, 16);
    zvdbptDestroy(t);
    // A NULL constant compares false; a node kind without an execution is 8.
    PTNODE *n = zvdbptPutNode(PT_EQ, 9, zvdbptPutNULL(), zvdbptPutNULL());
    EXPECT_EQ(value_of(n, img), "INTEGER 0");
    zvdbptDestroy(n);
    PTNODE *missing = zvdbptPutNode(PT_ADD, 9, zvdbptPutInteger(1), nullptr);
    EXPECT_EQ(value_of(missing, img), "error 8");
    zvdbptDestroy(missing);
}

TEST_F(EvalTest, DeepTreesOverflowTheStackCleanly) {
    const Image img = full_image();
    // 1025 values waiting on the stack: 1 + (1 + (1 + ...)).
    PTNODE *t = zvdbptPutInteger(1);
    for (int i = 0; i < 1100 && t; i++) t = zvdbptPutNode(PT_ADD, 9, zvdbptPutInteger(1), t);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(value_of(t, img), "error 6");
    zvdbptDestroy(t);
    // A chain that keeps one value on the stack but nests deeper than a
    // parsed tree can: refused as well, without exhausting the C stack.
    t = zvdbptPutInteger(1);
    for (int i = 0; i < 100000 && t; i++) t = zvdbptPutNode(PT_MINUS, 9, t, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(value_of(t, img), "error 6");
    zvdbptDestroy(t);
}

TEST_F(EvalTest, PopsConvertTheTopValue) {
    const Image img = full_image();
    PTNODE *t = compile("Born", full_layout());
    ASSERT_NE(t, nullptr);
    void *rec = const_cast<unsigned char *>(img.data.data());
    void *schema = const_cast<unsigned char *>(full_layout().schema.data());
    const int32_t fix = full_layout().fixlen, tot = int32_t(img.data.size());
    ASSERT_EQ(cndxrun(t, rec, schema, fix, tot), 0);
    char buf[32];
    int32_t len = sizeof buf;
    EXPECT_EQ(runPopString(buf, &len), 0);
    EXPECT_STREQ(buf, "01/31/2023");
    EXPECT_EQ(len, 10);
    ASSERT_EQ(cndxrun(t, rec, schema, fix, tot), 0);
    ZVDATETIME s = 0;
    EXPECT_EQ(runPopStamp(&s), 0);
    EXPECT_EQ(s, stamp(2023, 1, 31, 0, 0, 0));
    int64_t i = 5;
    EXPECT_EQ(runPopInteger(&i), 7);
    EXPECT_EQ(i, 0);
    len = 4;
    ASSERT_EQ(cndxrun(t, rec, schema, fix, tot), 0);
    EXPECT_EQ(runPopString(buf, &len), 0);  // cut to the buffer
    EXPECT_STREQ(buf, "01/");
    zv::ptDestroy(t);
}

}  // namespace

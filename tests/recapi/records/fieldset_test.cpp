// Typed field writes as a table over (field type x writer), read back
// through the readers or as the field's bytes; the text stores with the
// table's pad and delimiter bytes; the null bit and the edited flag.
#include <cstring>
#include <functional>
#include <string>

#include "recapi/records/record.h"
#include "tests/recapi/records/recfix.h"

namespace rectest {
namespace {

class FieldSetTest : public TypedTest {
protected:
    // The field's bytes in the image (its value bytes for a prefixed field).
    std::string raw(int32_t n) {
        const ZVDBFIELDSLOT *s = zvdbGetFieldData(r_, n);
        return s && s->value ? std::string(reinterpret_cast<const char *>(s->value), s->curlength) : std::string();
    }
};

using Write = std::function<ZVDBRET(ZVHANDLE r, int32_t n)>;

Write as_bool(int32_t v) { return [v](ZVHANDLE r, int32_t n) { return zvdbSetFieldAsBool(r, n, v); }; }
Write as_signed(int32_t v) { return [v](ZVHANDLE r, int32_t n) { return zvdbSetFieldAsSigned(r, n, v); }; }
Write as_unsigned(uint32_t v) { return [v](ZVHANDLE r, int32_t n) { return zvdbSetFieldAsUnsigned(r, n, v); }; }
Write as_date(ZVDATE v) { return [v](ZVHANDLE r, int32_t n) { return zvdbSetFieldAsDate(r, n, v); }; }
Write as_time(ZVTIME v) { return [v](ZVHANDLE r, int32_t n) { return zvdbSetFieldAsTime(r, n, v); }; }
Write as_msec(ZVTIME v) { return [v](ZVHANDLE r, int32_t n) { return zvdbSetFieldAsTimeMsec(r, n, v); }; }
Write as_money(ZVMONEY v) { return [v](ZVHANDLE r, int32_t n) { return zvdbSetFieldAsMoney(r, n, v); }; }
Write as_float(double v) { return [v](ZVHANDLE r, int32_t n) { return zvdbSetFieldAsFloat(r, n, v); }; }
Write as_datetime(ZVDATETIME v) { return [v](ZVHANDLE r, int32_t n) { return zvdbSetFieldAsDateTime(r, n, v); }; }
Write as_bigint(ZVBIGINT v) { return [v](ZVHANDLE r, int32_t n) { return zvdbSetFieldAsBigint(r, n, v); }; }
Write as_currency(ZVCURRENCY v) { return [v](ZVHANDLE r, int32_t n) { return zvdbSetFieldAsCurrency(r, n, v); }; }
Write as_number(const char *text) {
    return [text](ZVHANDLE r, int32_t n) {
        tagZVNUMBER num;
        zvdbStringToNumber(text, &num);
        return zvdbSetFieldAsNumber(r, n, &num);
    };
}
Write as_string(std::string v) {
    return [v](ZVHANDLE r, int32_t n) { return zvdbSetFieldAsString(r, n, v.c_str()); };
}

struct Case {
    const char *what;
    int32_t field;
    Write write;
    Reader reader;
    const char *expected;  // the value read back, or "#code" of the write
};

TEST_F(FieldSetTest, ValuesStoredThroughTheMatrices) {
    const std::string christmas = std::to_string(date(2020, 12, 25));
    const Case cases[] = {
        {"bool into bool", fBool, as_bool(5), rSigned, "1"},
        {"signed into bool", fBool, as_signed(-3), rSigned, "1"},
        {"date into bool", fBool, as_date(1), rSigned, "#4042"},
        {"money into bool", fBool, as_money(100), rSigned, "#4042"},
        {"number into bool", fBool, as_number("0"), rSigned, "0"},
        {"currency into bool", fBool, as_currency(1), rSigned, "1"},
        {"70000 into int2", fInt2, as_signed(70000), rSigned, "4464"},
        {"-1 into char", fChar, as_signed(-1), rSigned, "-1"},
        {"unsigned into char", fChar, as_unsigned(255), rSigned, "-1"},
        {"time into int2", fInt2, as_time(1), rSigned, "#4042"},
        {"money into int2", fInt2, as_money(1299), rSigned, "12"},
        {"float into int2", fInt2, as_float(1.0), rSigned, "#4042"},
        {"float into int4", fInt4, as_float(-7.9), rSigned, "-7"},
        {"datetime into int4", fInt4, as_datetime(36526.5), rSigned, "36526"},
        {"bigint into char", fChar, as_bigint(300), rSigned, "44"},
        {"bigint into int4", fInt4, as_bigint(5000000000), rSigned, "#4038"},
        {"bigint into charu", fCharU, as_bigint(-1), rUnsigned, "255"},
        {"currency into int4u", fInt4U, as_currency(123456), rUnsigned, "12"},
        {"number into int2u", fInt2U, as_number("65535"), rUnsigned, "65535"},
        {"money into int4u", fInt4U, as_money(1), rUnsigned, "#4042"},
        {"date into date", fDate, as_date(date(2020, 12, 25)), rDate, christmas.c_str()},
        {"datetime into date", fDate, as_datetime(stamp(2020, 12, 25, 18, 0, 0)), rDate, christmas.c_str()},
        {"time into date", fDate, as_time(5), rDate, "#4042"},
        {"msec into time", fTime, as_msec(5000), rTime, "#4147"},
        {"datetime into time", fTime, as_datetime(stamp(2020, 12, 25, 18, 0, 0)), rTime, "64800"},
        {"time into time_ms", fTimeMs, as_time(5), rTimeMsec, "5000"},
        {"msec into time_ms", fTimeMs, as_msec(5), rTimeMsec, "5"},
        {"date into time_ms", fTimeMs, as_date(5), rTimeMsec, "#4042"},
        {"float into time_ms", fTimeMs, as_float(5), rTimeMsec, "#4025"},
        {"datetime into time_ms", fTimeMs, as_datetime(stamp(2020, 1, 1, 0, 0, 2)), rTimeMsec, "2000"},
        {"12.34 into money", fMoney, as_float(12.34), rMoney, "1234"},
        {"-12.34 into money", fMoney, as_float(-12.34), rMoney, "-1234"},
        {"0.125 into money", fMoney, as_float(0.125), rMoney, "13"},
        {"too much money", fMoney, as_float(21474836.48), rMoney, "#4038"},
        {"signed into money", fMoney, as_signed(5), rMoney, "5"},
        {"bigint into money", fMoney, as_bigint(5), rMoney, "500"},
        {"currency into money", fMoney, as_currency(123456), rMoney, "1234"},
        {"money into float", fDFloat, as_money(1234), rFloat, "12.34"},
        {"float into sfloat", fSFloat, as_float(0.1), rFloat, "0.1000000015"},
        {"signed into float", fDFloat, as_signed(-2), rFloat, "-2"},
        {"float into efloat", fEFloat, as_float(1), rFloat, "#4019"},
        {"unsigned into number", fNumber, as_unsigned(3000000000u), rString, "3000000000"},
        {"unsigned into currency", fCurrency, as_unsigned(3000000000u), rCurrency, "30000000000000"},
        {"bool into number", fNumber, as_bool(7), rString, "1"},
        {"signed into currency", fCurrency, as_signed(-5), rCurrency, "-50000"},
        {"money into currency", fCurrency, as_money(1234), rCurrency, "123400"},
        {"signed into ubigint", fUBig, as_signed(-5), rString, "18446744073709551611"},
        {"money into ubigint", fUBig, as_money(5), rString, "#4042"},
        {"bigint into ubigint", fUBig, as_bigint(-1), rString, "18446744073709551615"},
        {"money into bigint", fBig, as_money(1299), rBigint, "12"},
        {"unsigned into bigint", fBig, as_unsigned(3000000000u), rBigint, "3000000000"},
        {"date into times", fTimes, as_date(date(2020, 12, 25)), rString, "12/25/2020 12:00 AM"},
        {"bool into text", fFString, as_bool(0), rString, "False"},
        {"signed into text", fString, as_signed(-42), rString, "-42"},
        {"unsigned into text", fPString, as_unsigned(4000000000u), rString, "4000000000"},
        {"date into text", fFString, as_date(date(2020, 12, 25)), rString, "12/25/2020"},
        {"time into text", fString, as_time(3600), rString, " 1:00 AM"},
        {"msec into text", fString, as_msec(3600500), rString, " 1:00 AM"},
        {"money into text", fString, as_money(-5), rString, "-0.05"},
        {"float into text", fString, as_float(2.5), rString, "2.5"},
        {"bigint into text", fPString, as_bigint(-7), rString, "-7"},
        {"number into text", fString, as_number("12.5"), rString, "12.5"},
        {"currency into text", fString, as_currency(5), rString, "0.0005"},
        {"datetime into text", fString, as_datetime(stamp(2020, 12, 25, 13, 0, 0)), rString, "12/25/2020  1:00 PM"},
        {"signed into json", fJson, as_signed(1), rString, "#4019"},
        {"money into json", fJson, as_money(1), rString, "#4019"},
        {"bigint into json", fJson, as_bigint(1), rString, "#4025"},
        {"number into json", fJson, as_number("1"), rString, "#4025"},
        {"yes into bool", fBool, as_string("yes"), rSigned, "1"},
        {"TRUE into bool", fBool, as_string("TRUE"), rSigned, "1"},
        {"1 into bool", fBool, as_string("1"), rSigned, "1"},
        {"No into bool", fBool, as_string("No"), rSigned, "0"},
        {"'1 ' into bool", fBool, as_string("1 "), rSigned, "#4042"},
        {"text into int4", fInt4, as_string("  -12abc"), rSigned, "-12"},
        {"text out of int4", fInt4, as_string("2147483648"), rSigned, "#4038"},
        {"text into int4u", fInt4U, as_string("4294967295"), rUnsigned, "4294967295"},
        {"text out of int4u", fInt4U, as_string("4294967296"), rUnsigned, "#4038"},
        {"text into money", fMoney, as_string("12.345"), rMoney, "1234"},
        {"text into date", fDate, as_string("12/25/2020"), rDate, christmas.c_str()},
        {"text into time_ms", fTimeMs, as_string("1:00 AM"), rTimeMsec, "3600000"},
        {"text into times", fTimes, as_string("12/25/2020"), rDate, christmas.c_str()},
        {"text into number", fNumber, as_string("-1.5E3"), rString, "-1500"},
        {"text into ubigint", fUBig, as_string("-1"), rString, "#4004"},
        {"text into efloat", fEFloat, as_string("1"), rFloat, "#4019"},
        {"text into json", fJson, as_string("[1]"), rJson, "[1]"},
        {"300 into pstring", fPString, as_string(std::string(300, 'x')), rString, "#4043"},
        {"300 into fstring", fFString, as_string(std::string(300, 'x')), rString, "xxxxxxxxxxxx"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const ZVDBRET rc = c.write(r_, c.field);
        if (c.expected[0] == '#') {
            EXPECT_EQ("#" + std::to_string(rc), c.expected);
            EXPECT_EQ(zvdbGetError(r_), rc);
        } else {
            ASSERT_EQ(rc, 0);
            EXPECT_EQ(read(c.field, c.reader, 200), c.expected);
        }
    }
}

TEST_F(FieldSetTest, TimeIntoADateTimeKeepsItsDate) {
    put<double>(fTimes, stamp(2000, 1, 1, 0, 0, 0));
    ASSERT_EQ(zvdbSetFieldAsTime(r_, fTimes, 3600), 0);
    double v = 0;
    ASSERT_EQ(zvdbGetFieldAsDateTime(r_, fTimes, &v), 0);
    EXPECT_EQ(v, stamp(2000, 1, 1, 1, 0, 0));
    ASSERT_EQ(zvdbSetFieldAsTimeMsec(r_, fTimes, 1500), 0);
    ZVTIME ms = 0;
    ASSERT_EQ(zvdbGetFieldAsTimeMsec(r_, fTimes, &ms), 0);
    EXPECT_EQ(ms, 1500u);
    ASSERT_EQ(zvdbGetFieldAsDate(r_, fTimes, &ms), 0);
    EXPECT_EQ(ms, date(2000, 1, 1));
}

TEST_F(FieldSetTest, FixedTextIsPaddedWithTheTablesBytes) {
    ASSERT_EQ(zvdbSetPadChar(table_, ' ', 0), 0);
    ASSERT_EQ(zvdbSetFieldAsBool(r_, fFString, 1), 0);
    EXPECT_EQ(zvdbIsEditedRecord(r_), 1);
    const ZVDBFIELDSLOT *s = zvdbGetFieldData(r_, fFString);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(s->value), 12), std::string("True       \0", 12));
    // A prefixed fixed field keeps the length before the bytes.
    ASSERT_EQ(zvdbSetFieldAsString(r_, fFPString, "ab"), 0);
    s = zvdbGetFieldData(r_, fFPString);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(s->data), 12), std::string("\x02" "ab\0\0\0\0\0\0\0\0\0", 12));
    // ZV_ARRAY pads with zeros; a text that does not fit is refused unless cut.
    ASSERT_EQ(zvdbSetFieldAsBinary(r_, fArray, "abc", 3), 0);
    EXPECT_EQ(raw(fArray), std::string("abc\0\0\0\0\0", 8));
    EXPECT_EQ(zvdbSetFieldAsSigned(r_, fArray, 123456789), ZVDB_NAME_TOO_LONG);
}

TEST_F(FieldSetTest, DelimiterInsideATextIsRefused) {
    ASSERT_EQ(zvdbSetPadChar(table_, ' ', '|'), 0);
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetFieldAsString(r, fString, "keep"), 0);
    ASSERT_EQ(zvdbSetFieldAsString(r, fPString, "next"), 0);
    EXPECT_EQ(zvdbSetFieldAsString(r, fString, "x|y"), ZVDB_BAD_ARGUMENT);
    char text[32];
    ASSERT_EQ(zvdbGetFieldAsString(r, fString, text, sizeof text), 0);
    EXPECT_STREQ(text, "keep");
    // Trailing delimiters of binary data are dropped.
    ASSERT_EQ(zvdbSetFieldAsBinary(r, fString, "ab|", 3), 0);
    ASSERT_EQ(zvdbGetFieldAsString(r, fString, text, sizeof text), 0);
    EXPECT_STREQ(text, "ab");
    EXPECT_EQ(zvdbSetFieldAsBinary(r, fString, "a|b|", 4), ZVDB_BAD_ARGUMENT);
    // Packed and read again, the next field is untouched.
    const int32_t length = zvdbGetRecordLength(r);
    ASSERT_GT(length, 0);
    const std::vector<unsigned char> image(static_cast<unsigned char *>(zvdbGetRecordBuffer(r)),
                                           static_cast<unsigned char *>(zvdbGetRecordBuffer(r)) + length);
    tagZVDBRECORD *copy = record();
    ASSERT_EQ(zvdbAssignRecordBuffer(copy, image.data(), length), 0);
    ASSERT_EQ(zvdbGetFieldAsString(copy, fString, text, sizeof text), 0);
    EXPECT_STREQ(text, "ab");
    ASSERT_EQ(zvdbGetFieldAsString(copy, fPString, text, sizeof text), 0);
    EXPECT_STREQ(text, "next");
}

TEST_F(FieldSetTest, SuccessClearsTheNullBitFailureLeavesIt) {
    ZVDBFIELDSLOT *bits = zvdbGetFieldData(r_, -2);
    ASSERT_NE(bits, nullptr);
    std::memset(bits->value, 0xFF, bits->curlength);
    ASSERT_EQ(zvdbIsNullField(r_, fInt4), 1);
    EXPECT_EQ(zvdbSetFieldAsString(r_, fInt4, "99999999999"), ZVDB_OVERFLOW);
    EXPECT_EQ(zvdbIsNullField(r_, fInt4), 1);
    EXPECT_EQ(zvdbIsEditedRecord(r_), 0);
    ASSERT_EQ(zvdbSetFieldAsString(r_, fInt4, "5"), 0);
    EXPECT_EQ(zvdbIsNullField(r_, fInt4), 0);
    EXPECT_EQ(zvdbIsNullField(r_, fInt4 + 1), 1);
    EXPECT_EQ(zvdbIsEditedRecord(r_), 1);
    EXPECT_EQ(zvdbGetFieldData(r_, fInt4)->reserved, 1u);
}

TEST_F(FieldSetTest, BadArgumentsAndHiddenFields) {
    EXPECT_EQ(zvdbSetFieldAsSigned(r_, -3, 1), ZVDB_NO_FIELD);
    EXPECT_EQ(zvdbSetFieldAsSigned(r_, kTypedFields, 1), ZVDB_NO_FIELD);
    EXPECT_EQ(zvdbSetFieldAsString(r_, fString, nullptr), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbSetFieldAsJSON(r_, fJson, nullptr), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbSetFieldAsJSON(r_, fInt4, "{}"), ZVDB_TYPE_UNSUPPORTED);
    EXPECT_EQ(zvdbSetFieldAsNumber(r_, fNumber, nullptr), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbSetFieldAsBlob(r_, fNumber, nullptr), ZVDB_BAD_KIND);
    EXPECT_EQ(zvdbSetFieldAsBinary(r_, fInt4, "x", -1), ZVDB_BAD_ARGUMENT);
    EXPECT_EQ(zvdbSetFieldAsSigned(table_, 0, 1), ZVDB_NO_RECORD);
    EXPECT_EQ(zvdbIsEditedRecord(r_), 0);
}

TEST_F(FieldSetTest, BlobBytesTakeTheFieldsWidth) {
    const int16_t i2 = -2;
    ASSERT_EQ(zvdbSetFieldAsBinary(r_, fInt2, &i2, 2), 0);
    EXPECT_EQ(read(fInt2, rSigned), "-2");
    // A short blob fills the low bytes and zeroes the rest.
    ASSERT_EQ(zvdbSetFieldAsBinary(r_, fInt4U, "\x01", 1), 0);
    EXPECT_EQ(read(fInt4U, rUnsigned), "1");
    const double d = 2.25;
    ASSERT_EQ(zvdbSetFieldAsBinary(r_, fSFloat, &d, 8), 0);
    EXPECT_EQ(read(fSFloat, rFloat), "2.25");
    ASSERT_EQ(zvdbSetFieldAsBinary(r_, fCharU, "\xC8", 1), 0);
    EXPECT_EQ(read(fCharU, rUnsigned), "200");
    ASSERT_EQ(zvdbSetFieldAsBinary(r_, fBool, "\x00\x01", 2), 0);
    EXPECT_EQ(read(fBool, rUnsigned), "0");
    ASSERT_EQ(zvdbSetFieldAsBinary(r_, fJson, "{}", 2), 0);
    EXPECT_EQ(read(fJson, rJson), "{}");
}

}  // namespace
}  // namespace rectest

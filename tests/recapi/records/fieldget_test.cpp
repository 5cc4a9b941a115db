// Typed field reads as a table over (field type x reader), values stored as
// raw bytes so that the readers are seen alone.
#include <cmath>
#include <cstring>
#include <string>

#include "recapi/records/record.h"
#include "tests/recapi/records/recfix.h"

namespace rectest {
namespace {

class FieldGetTest : public TypedTest {};

struct Cell {
    int32_t field;
    Reader reader;
    const char *expected;
};

TEST_F(FieldGetTest, StoredValuesReadThroughTheMatrices) {
    put<uint8_t>(fBool, 1);
    put<int8_t>(fChar, -5);
    put<uint8_t>(fCharU, 200);
    put<int16_t>(fInt2, -300);
    put<uint16_t>(fInt2U, 65535);
    put<int32_t>(fInt4, -70000);
    put<uint32_t>(fInt4U, 3000000000u);
    put<int32_t>(fMoney, 1234);
    put<uint32_t>(fDate, date(2020, 12, 25));
    put<uint32_t>(fTime, 3600);
    put<float>(fSFloat, 2.5f);
    put<double>(fDFloat, -7.75);
    tagZVNUMBER num;
    ASSERT_EQ(zvdbStringToNumber("12.5", &num), 0);
    put(fNumber, num);
    put<double>(fTimes, stamp(2000, 1, 1, 12, 0, 0));
    put<int64_t>(fCurrency, 120000);
    put<int64_t>(fBig, -1);
    put<uint64_t>(fUBig, (uint64_t(1) << 63) + 5);
    put<double>(fTimesMs, stamp(2000, 1, 1, 0, 0, 1));
    put<uint32_t>(fTimeMs, 3600500);
    ASSERT_EQ(zvdbSetFieldAsString(r_, fFString, "42"), 0);
    ASSERT_EQ(zvdbSetFieldAsString(r_, fFPString, "7"), 0);
    ASSERT_EQ(zvdbSetFieldAsString(r_, fString, "12/25/2020"), 0);
    ASSERT_EQ(zvdbSetFieldAsString(r_, fPString, "99999999999"), 0);
    ASSERT_EQ(zvdbSetFieldAsJSON(r_, fJson, "{\"a\":1}"), 0);
    const std::string day = std::to_string(date(2020, 12, 25));
    const std::string noon = std::to_string(date(2000, 1, 1));

    const Cell cells[] = {
        // ZV_MONEY 1234 is 12.34.
        {fMoney, rSigned, "1234"}, {fMoney, rFloat, "12.34"}, {fMoney, rBigint, "12"}, {fMoney, rMoney, "1234"},
        {fMoney, rString, "12.34"}, {fMoney, rCurrency, "123400"}, {fMoney, rNumber, "12.34"},
        {fMoney, rDateTime, "#4042"}, {fMoney, rBool, "1"},
        // Booleans and small integers.
        {fBool, rSigned, "1"}, {fBool, rString, "True"}, {fBool, rDate, "#4042"}, {fBool, rMoney, "100"},
        {fBool, rFloat, "1"}, {fBool, rNumber, "1"},
        {fChar, rSigned, "-5"}, {fChar, rUnsigned, "4294967291"}, {fChar, rBigint, "-5"}, {fChar, rString, "-5"},
        {fChar, rTime, "#4042"}, {fChar, rDateTime, "#4042"},
        {fCharU, rString, "200"}, {fCharU, rSigned, "200"}, {fCharU, rDate, "#4042"},
        {fInt2, rSigned, "-300"}, {fInt2, rMoney, "-30000"}, {fInt2U, rBigint, "65535"}, {fInt2U, rFloat, "65535"},
        {fInt4, rSigned, "-70000"}, {fInt4, rTime, "4294897296"}, {fInt4, rNumber, "-70000"},
        // Unsigned values stay unsigned on their way to the 64-bit routines.
        {fInt4U, rNumber, "3000000000"}, {fInt4U, rCurrency, "30000000000000"}, {fInt4U, rMoney, "#4038"},
        {fInt4U, rBigint, "3000000000"}, {fInt4U, rString, "3000000000"}, {fInt4U, rSigned, "-1294967296"},
        // Dates and times.
        {fDate, rDate, day.c_str()}, {fDate, rString, "12/25/2020"}, {fDate, rTimeMsec, day.c_str()},
        {fTime, rTimeMsec, "3600000"}, {fTime, rTime, "3600"}, {fTime, rString, " 1:00 AM"},
        {fTimeMs, rTime, "3600"}, {fTimeMs, rTimeMsec, "3600500"}, {fTimeMs, rString, "#4059"},
        {fTimeMs, rMoney, "360050000"}, {fTimeMs, rBigint, "3600500"},
        {fTimes, rDate, noon.c_str()}, {fTimes, rTime, "43200"}, {fTimes, rTimeMsec, "43200000"},
        {fTimes, rString, "01/01/2000 12:00 PM"}, {fTimesMs, rTime, "1"},
        // Floats: truncated, clamped, widened.
        {fSFloat, rFloat, "2.5"}, {fSFloat, rSigned, "2"}, {fSFloat, rString, "2.5"},
        {fDFloat, rSigned, "-7"}, {fDFloat, rUnsigned, "4294967289"}, {fDFloat, rMoney, "-775"},
        {fDFloat, rBigint, "-7"}, {fDFloat, rBool, "1"}, {fDFloat, rDateTime, "-7.75"},
        {fEFloat, rFloat, "#4019"}, {fEFloat, rSigned, "#4019"}, {fEFloat, rBool, "#4019"},
        // Numbers, currency, 64-bit integers.
        {fNumber, rSigned, "12"}, {fNumber, rMoney, "1250"}, {fNumber, rFloat, "12.5"}, {fNumber, rString, "12.5"},
        {fNumber, rBool, "1"}, {fCurrency, rSigned, "12"}, {fCurrency, rMoney, "1200"}, {fCurrency, rFloat, "12"},
        {fCurrency, rString, "12.0000"}, {fBig, rSigned, "-1"}, {fBig, rMoney, "-100"}, {fBig, rString, "-1"},
        {fBig, rCurrency, "-10000"}, {fUBig, rSigned, "#4038"}, {fUBig, rString, "9223372036854775813"},
        {fUBig, rBigint, "-9223372036854775803"},
        // Texts: parsed, with their range checks.
        {fFString, rSigned, "42"}, {fFString, rUnsigned, "42"}, {fFString, rMoney, "4200"},
        {fFString, rCurrency, "420000"}, {fFString, rNumber, "42"}, {fFString, rFloat, "42"}, {fFString, rBool, "1"},
        {fString, rDate, day.c_str()}, {fString, rString, "12/25/2020"}, {fString, rSigned, "12"},
        {fPString, rSigned, "#4038"}, {fPString, rUnsigned, "#4038"}, {fPString, rBigint, "99999999999"},
        {fFPString, rSigned, "#4019"}, {fFPString, rBool, "#4019"}, {fFPString, rString, "7"},
        {fArray, rSigned, "0"},
        // JSON reads only as text.
        {fJson, rBigint, "#4059"}, {fJson, rSigned, "#4019"}, {fJson, rFloat, "#4019"},
        {fJson, rString, "{\"a\":1}"}, {fJson, rJson, "{\"a\":1}"}, {fInt4, rJson, "#4059"},
    };
    for (const Cell &c : cells) EXPECT_EQ(read(c.field, c.reader), c.expected) << c.field << " reader " << c.reader;
}

TEST_F(FieldGetTest, EmptyTextReadsAsZero) {
    // A ZV_STRING holds its delimiter alone, a ZV_PSTRING no byte, a
    // ZV_FSTRING only zero bytes.
    ASSERT_EQ(zvdbSetFieldAsString(r_, fString, ""), 0);
    ASSERT_EQ(zvdbSetFieldAsString(r_, fPString, ""), 0);
    ASSERT_EQ(zvdbSetFieldAsBinary(r_, fFString, "", 0), 0);
    for (int32_t n : {fString, fPString, fFString}) {
        for (Reader reader : {rBool, rSigned, rUnsigned, rDate, rTime, rTimeMsec, rMoney, rFloat, rDateTime,
                              rBigint, rCurrency, rNumber}) {
            EXPECT_EQ(read(n, reader), "0") << n << " reader " << reader;
        }
    }
    // A text whose first byte is not zero is true, whatever it says.
    ASSERT_EQ(zvdbSetFieldAsString(r_, fString, "false"), 0);
    EXPECT_EQ(read(fString, rBool), "1");
}

TEST_F(FieldGetTest, DamagedStoredNumberIsRefused) {
    tagZVNUMBER num;
    ASSERT_EQ(zvdbStringToNumber("1", &num), 0);
    num.length = 18;
    put(fNumber, num);
    tagZVNUMBER out;
    EXPECT_EQ(zvdbGetFieldAsNumber(r_, fNumber, &out), ZVDB_NUMBER_LENGTH);
    out.length = 99;
    EXPECT_EQ(zvdbGetFieldAsNumber(r_, fJson, &out), ZVDB_BAD_TYPE);
    EXPECT_EQ(zvdbGetFieldAsNumber(r_, fNumber, nullptr), ZVDB_BAD_KIND);
}

TEST_F(FieldGetTest, NaNAndDateTimeParts) {
    put<double>(fDFloat, std::nan(""));
    EXPECT_EQ(read(fDFloat, rSigned), "-2147483648");
    EXPECT_EQ(read(fDFloat, rUnsigned), "0");
    // A date replaces the date of *out and keeps its time; a time the time.
    put<uint32_t>(fDate, date(2021, 3, 4));
    put<uint32_t>(fTime, 7200);
    ZVDATETIME v = stamp(1999, 9, 9, 6, 30, 0);
    ASSERT_EQ(zvdbGetFieldAsDateTime(r_, fDate, &v), 0);
    EXPECT_EQ(v, stamp(2021, 3, 4, 6, 30, 0));
    ASSERT_EQ(zvdbGetFieldAsDateTime(r_, fTime, &v), 0);
    EXPECT_EQ(v, stamp(2021, 3, 4, 2, 0, 0));
}

TEST_F(FieldGetTest, TextBufferSizes) {
    put<int32_t>(fInt4, 123);
    EXPECT_EQ(read(fInt4, rString, 3), "#4006");
    EXPECT_EQ(read(fInt4, rString, 4), "123");
    // A date goes straight into the caller's buffer: nothing past its size.
    put<uint32_t>(fDate, date(2020, 12, 25));
    char text[12];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(zvdbGetFieldAsString(r_, fDate, text, 10), ZVDB_BUFFER_SMALL);
    EXPECT_EQ(text[10], '#');
    EXPECT_EQ(zvdbGetFieldAsString(r_, fDate, text, 11), 0);
    EXPECT_STREQ(text, "12/25/2020");
    // A text longer than the buffer is cut and terminated.
    ASSERT_EQ(zvdbSetFieldAsString(r_, fString, "abcdefgh"), 0);
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(zvdbGetFieldAsString(r_, fString, text, 5), ZVDB_VALUE_CUT);
    EXPECT_STREQ(text, "abcd");
    EXPECT_EQ(text[5], '#');
    // A ZV_STRING of 3 counts its delimiter: 4 bytes are not enough.
    ASSERT_EQ(zvdbSetFieldAsString(r_, fString, "abc"), 0);
    EXPECT_EQ(read(fString, rString, 4), "#4052");
    EXPECT_EQ(read(fString, rString, 5), "abc");
    EXPECT_EQ(zvdbGetFieldAsString(r_, fString, nullptr, 5), ZVDB_BAD_KIND);
    EXPECT_EQ(zvdbGetFieldAsDate(r_, fDate, nullptr), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbGetFieldAsSigned(r_, fDate, nullptr), ZVDB_BAD_KIND);
}

// The session's float format is applied only when it is one floating-point
// conversion; anything else could read arguments that are not there.
TEST_F(FieldGetTest, FloatFormatOfTheSession) {
    put<double>(fDFloat, 2.5);
    ASSERT_EQ(zvdbSetDefFloatFormat(session_, "%08.3f%%"), 0);
    EXPECT_EQ(read(fDFloat, rString), "0002.500%");
    for (const char *bad : {"%s", "%f %f", "none", "%d", "%Lf"}) {
        ASSERT_EQ(zvdbSetDefFloatFormat(session_, bad), 0);
        EXPECT_EQ(read(fDFloat, rString), "#4028") << bad;
    }
}

TEST_F(FieldGetTest, BlobAndBinaryGiveTheFieldsBytes) {
    put<int16_t>(fInt2, -2);
    put<float>(fSFloat, 1.5f);
    ASSERT_EQ(zvdbSetFieldAsString(r_, fPString, "hello"), 0);
    tagZVBLOB *blob = zvdbBlobAlloc(0);
    ASSERT_EQ(zvdbGetFieldAsBlob(r_, fInt2, blob), 0);
    EXPECT_EQ(std::string(static_cast<char *>(blob->data), size_t(blob->used)), std::string("\xfe\xff", 2));
    ASSERT_EQ(zvdbGetFieldAsBlob(r_, fSFloat, blob), 0);
    double widened = 0;
    ASSERT_EQ(blob->used, 8);
    std::memcpy(&widened, blob->data, 8);
    EXPECT_EQ(widened, 1.5);
    ASSERT_EQ(zvdbGetFieldAsBlob(r_, fPString, blob), 0);
    EXPECT_EQ(std::string(static_cast<char *>(blob->data), size_t(blob->used)), "hello");
    ASSERT_EQ(zvdbSetFieldAsString(r_, fPString, ""), 0);
    ASSERT_EQ(zvdbGetFieldAsBlob(r_, fPString, blob), 0);
    EXPECT_EQ(blob->used, 0);
    zvdbBlobFree(blob);

    char buffer[8] = {};
    EXPECT_EQ(zvdbGetFieldAsBinary(r_, fSFloat, buffer, 7), ZVDB_BUFFER_SMALL);
    EXPECT_EQ(zvdbGetFieldAsBinary(r_, fSFloat, buffer, 8), 0);
    EXPECT_EQ(std::memcmp(buffer, &widened, 8), 0);
    EXPECT_EQ(zvdbGetFieldAsBinary(r_, fSFloat, nullptr, 8), ZVDB_BAD_KIND);
    EXPECT_EQ(zvdbGetFieldAsBinary(r_, fJson + 1, buffer, 8), ZVDB_NO_FIELD);
}

}  // namespace
}  // namespace rectest

// Stored forms of the text primitives: padding, delimiters, prefixes, the
// u32-counted form of fields whose extras word is 2, and their checks.
#include <cstring>
#include <string>

#include "recapi/records/record.h"
#include "recapi/records/slotprim.h"
#include "tests/recapi/records/recfix.h"

namespace rectest {
namespace {

// f ZV_FSTRING 5, a ZV_ARRAY 8 in the fixed part; s ZV_STRING 10 and
// t ZV_2STRING 20 in the variable part.
class SlotPrimTest : public RecordTest {
protected:
    void SetUp() override {
        RecordTest::SetUp();
        make_table({{"f", ZV_FSTRING, 5}, {"a", ZV_ARRAY, 8}, {"s", ZV_STRING, 10}, {"t", ZV_2STRING, 20}},
                   32 | 64 | 0x400);
        ASSERT_EQ(zvdbSetPadChar(table_, ' ', 0), 0);
    }
    std::string text(tagZVDBRECORD *r, int32_t n, int32_t size = 64) {
        char buffer[64] = {};
        const ZVDBRET rc = zvdbGetFieldAsString(r, n, buffer, size);
        return rc ? "#" + std::to_string(rc) : std::string(buffer);
    }
};

TEST_F(SlotPrimTest, PlainForms) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetFieldAsString(r, 0, "ab"), 0);
    ZVDBFIELDSLOT *f = zvdbGetFieldData(r, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(f->value), 5), std::string("ab  \0", 5));
    ASSERT_EQ(zvdbSetFieldAsString(r, 2, "abc"), 0);
    EXPECT_EQ(zvdbGetFieldDataLength(r, 2), 4);
    EXPECT_EQ(text(r, 2, 4), "#4052");
    EXPECT_EQ(text(r, 2, 5), "abc");
    EXPECT_EQ(text(r, 2, 0), "#4006");
    // The primitives refuse another family.
    int32_t v = 0;
    EXPECT_EQ(_zvdbGetSignedField(f, &v), ZVDB_BAD_TYPE);
    EXPECT_EQ(_zvdbSetVarStringField(r, f, "x", 1), ZVDB_BAD_TYPE);
    EXPECT_EQ(_zvdbSetFixStringField(zvdbGetFieldData(r, 2), "x", 1, ' ', 0, 0), ZVDB_BAD_TYPE);
    EXPECT_EQ(_zvdbSetVarStringField(r, zvdbGetFieldData(r, 3), "x", -1), ZVDB_NAME_TOO_LONG);
    const std::string big(65536, 'x');
    EXPECT_EQ(zvdbSetFieldAsString(r, 3, big.c_str()), ZVDB_NAME_TOO_LONG);
    EXPECT_EQ(zvdbSetFieldAsString(r, 3, big.c_str() + 1), 0);
    EXPECT_EQ(zvdbGetFieldDataLength(r, 3), 65535);
    // A value of the same length is written in place without a repack.
    ASSERT_GT(zvdbGetRecordLength(r), 0);
    ASSERT_EQ(zvdbSetFieldAsString(r, 2, "xyz"), 0);
    EXPECT_EQ(r->repack, 0);
    ASSERT_EQ(zvdbSetFieldAsString(r, 2, "x"), 0);
    EXPECT_EQ(r->repack, 1);
    EXPECT_EQ(text(r, 2), "x");

    tagZVBLOB blob{0, nullptr, 0};
    unsigned char out[4];
    ASSERT_EQ(zvdbBlobSet(&blob, "abcdef", 6), 0);
    EXPECT_EQ(_zvdbBlobCopy(&blob, out, 4), 0);
    EXPECT_EQ(std::memcmp(out, "abcd", 4), 0);
    EXPECT_EQ(zvdbBlobClear(&blob), 0);
    EXPECT_EQ(_zvdbBlobCopy(&blob, out, 4), 0);
    EXPECT_EQ(std::memcmp(out, "\0\0\0\0", 4), 0);
}

// A field whose extras word (its binary flag) is 2 holds a ZV_ARRAY or
// ZV_2STRING as a u32 count and the bytes.
TEST_F(SlotPrimTest, CountedFormIsReadWithinItsValue) {
    ASSERT_EQ(zvdbSetFieldBinaryFlag(zvdbGetField(table_, 1), 2), 0);
    ASSERT_EQ(zvdbSetFieldBinaryFlag(zvdbGetField(table_, 3), 2), 0);
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetFieldAsString(r, 1, "xy"), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(zvdbGetFieldAddress(r, 1)), 8), std::string("\x02\0\0\0xy\0\0", 8));
    EXPECT_EQ(text(r, 1), "xy");
    EXPECT_EQ(zvdbSetFieldAsString(r, 1, "abcde"), 0);
    EXPECT_EQ(text(r, 1), "abcd");
    EXPECT_EQ(zvdbSetFieldAsSigned(r, 1, 12345), ZVDB_NAME_TOO_LONG);

    ASSERT_EQ(zvdbSetFieldAsString(r, 3, "abc"), 0);
    EXPECT_EQ(zvdbGetFieldDataLength(r, 3), 7);
    EXPECT_EQ(text(r, 3), "abc");
    EXPECT_EQ(text(r, 3, 3), "#4052");
    const std::string big(65532, 'x');
    EXPECT_EQ(zvdbSetFieldAsString(r, 3, big.c_str()), ZVDB_NAME_TOO_LONG);
    tagZVBLOB *blob = zvdbBlobAlloc(0);
    ASSERT_EQ(zvdbGetFieldAsBlob(r, 3, blob), 0);
    EXPECT_EQ(std::string(static_cast<char *>(blob->data), size_t(blob->used)), "abc");

    // A count past the value is damage: the text is refused, the blob takes
    // the value whole.
    const int32_t length = zvdbGetRecordLength(r);
    std::vector<unsigned char> bad(static_cast<unsigned char *>(zvdbGetRecordBuffer(r)),
                                   static_cast<unsigned char *>(zvdbGetRecordBuffer(r)) + length);
    const int32_t at = zvdbGetFieldOffset(r, 3) + 2;
    bad[size_t(at)] = 100;
    tagZVDBRECORD *d = record();
    ASSERT_EQ(zvdbAssignRecordBuffer(d, bad.data(), length), 0);
    EXPECT_EQ(text(d, 3), "#4108");
    ASSERT_EQ(zvdbGetFieldAsBlob(d, 3, blob), 0);
    EXPECT_EQ(blob->used, 7);
    zvdbBlobFree(blob);
}

}  // namespace
}  // namespace rectest

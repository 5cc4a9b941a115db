// Records of variable-length data files: the image grows to a long record,
// a short one leaves the rest of the image filled with the delimiter byte,
// a caller's buffer too small is refused, and a table of fixed fields kept
// in a variable-length file (create bit 0x2000) is written and read.
#include <functional>
#include <string>

#include "tests/recapi/records/recfix.h"

namespace rectest {
namespace {

class VarlenTest : public RecordTest {
protected:
    void SetUp() override {
        RecordTest::SetUp();
        create_table("texts", {{"id", ZV_INT4, 0}, {"text", ZV_4STRING, 10}}, 0, {{"pk", 0, 0}}, ' ', '|');
        for (const auto &[id, text] : texts()) {
            tagZVDBRECORD *w = record();
            ASSERT_EQ(zvdbSetFieldAsSigned(w, 0, id), 0);
            ASSERT_EQ(zvdbSetFieldAsString(w, 1, text.c_str()), 0);
            ASSERT_EQ(zvdbWriteRecord(w), 0) << id;
        }
    }
    static std::vector<std::pair<int32_t, std::string>> texts() {
        std::string longtext;
        for (int i = 0; i < 5000; i++) longtext += char('a' + i % 26);
        return {{1, "ten bytes."}, {2, longtext}, {3, "abc"}};
    }
    static std::string text_of(tagZVDBRECORD *r) {
        std::string out(6001, '\0');
        EXPECT_EQ(zvdbGetFieldAsString(r, 1, out.data(), int32_t(out.size())), 0);
        out.resize(std::char_traits<char>::length(out.c_str()));
        return out;
    }
};

TEST_F(VarlenTest, LongRecordsGrowTheImageShortOnesLeaveDelimiters) {
    tagZVDBRECORD *r = record();
    const auto want = texts();
    ASSERT_EQ(zvdbFirstRecord(r), 0);
    EXPECT_EQ(text_of(r), want[0].second);
    const int32_t small = zvdbGetRecordSize(r);
    EXPECT_LT(small, 5000);
    ASSERT_EQ(zvdbNextRecord(r), 0);
    EXPECT_EQ(text_of(r), want[1].second);
    const int32_t grown = zvdbGetRecordSize(r);
    EXPECT_GE(grown, 5000 + 8);
    // The short record after it: its own bytes, then the delimiter byte to
    // the end of the image.
    ASSERT_EQ(zvdbNextRecord(r), 0);
    EXPECT_EQ(text_of(r), "abc");
    ASSERT_EQ(r->size, grown);
    ASSERT_EQ(r->length, zvdbGetFieldOffset(r, 1) + 4 + 3);
    const std::string tail(reinterpret_cast<const char *>(r->buffer) + r->length, size_t(r->size - r->length));
    EXPECT_EQ(tail, std::string(tail.size(), '|'));
    // Backwards and by key alike.
    ASSERT_EQ(zvdbPrevRecord(r), 0);
    EXPECT_EQ(text_of(r), want[1].second);
    ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, 3), 0);
    ASSERT_EQ(zvdbFindRecord(r, 0), 0);
    EXPECT_EQ(text_of(r), "abc");
}

TEST_F(VarlenTest, ACallersBufferTooSmallIsRefused) {
    tagZVDBRECORD *r = record();
    std::vector<unsigned char> buffer(100);
    ASSERT_EQ(zvdbSetRecordBuffer(r, buffer.data(), int32_t(buffer.size()), ZVDB_BUFFER_CALLER), 0);
    ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, 1), 0);
    ASSERT_EQ(zvdbFindRecord(r, 0), 0);
    EXPECT_EQ(text_of(r), "ten bytes.");
    mark();
    ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, 2), 0);
    EXPECT_EQ(zvdbFindRecord(r, 0), ZVDB_RECORD_BUFFER);
    EXPECT_EQ(last(), ZVDB_RECORD_BUFFER);
    EXPECT_EQ(r->buffer, buffer.data());
    // The record read before stays current: the next one is the long one.
    EXPECT_EQ(zvdbNextRecord(r), ZVDB_RECORD_BUFFER);
    ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, 3), 0);
    ASSERT_EQ(zvdbFindRecord(r, 0), 0);
    EXPECT_EQ(text_of(r), "abc");
}

// Fixed fields in a variable-length data file (record format 4): every
// field lies in the fixed part, and the records go through the engine's
// variable-length calls (its fixed-length add would answer 48).
// Adds three records, rewrites one, deletes one and reads the rest back.
void write_read_fixed_fields(const std::function<tagZVDBRECORD *()> &record) {
    tagZVDBRECORD *r = record();
    for (int32_t id = 1; id <= 3; id++) {
        ASSERT_EQ(zvdbClearRecord(r), 0);
        ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, id), 0);
        ASSERT_EQ(zvdbSetFieldAsString(r, 1, "name"), 0);
        ASSERT_EQ(zvdbWriteRecord(r), 0) << id;
    }
    ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, 2), 0);
    ASSERT_EQ(zvdbFindRecord(r, 0), 0);
    ASSERT_EQ(zvdbSetFieldAsString(r, 1, "renamed"), 0);
    ASSERT_EQ(zvdbWriteRecord(r), 0);
    ASSERT_EQ(zvdbFirstRecord(r), 0);
    ASSERT_EQ(zvdbDeleteRecord(r), 0);
    tagZVDBRECORD *check = record();
    ASSERT_EQ(zvdbFirstRecord(check), 0);
    char name[16];
    int32_t id = 0;
    ASSERT_EQ(zvdbGetFieldAsSigned(check, 0, &id), 0);
    ASSERT_EQ(zvdbGetFieldAsString(check, 1, name, sizeof name), 0);
    EXPECT_EQ(id, 2);
    EXPECT_STREQ(name, "renamed");
    uint64_t count = 0;
    ASSERT_EQ(zvdbGetRecordCount(check, &count), 0);
    EXPECT_EQ(count, 2u);
}

TEST_F(RecordTest, FixedFieldsInAVariableLengthFile) {
    make_table({{"id", ZV_INT4, 0}, {"name", ZV_FSTRING, 10}}, 0x2000, {{"pk", 0, 0, 12}});
    ASSERT_EQ(table_->recformat, 4);
    ASSERT_TRUE(GETFIL(table_->datno, 3) & 4);
    write_read_fixed_fields([this] { return record(); });
}

TEST_F(RecordTest, FixedFieldsTableCreatedVariableLength) {
    create_table("fixvar", {{"id", ZV_INT4, 0}, {"name", ZV_FSTRING, 10}}, 0x2000, {{"pk", 0, 0}});
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(GETFIL(table_->datno, 3) & 4);
    write_read_fixed_fields([this] { return record(); });
    ASSERT_FALSE(HasFatalFailure());
    reopen("fixvar");
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, 2), 0);
    ASSERT_EQ(zvdbFindRecord(r, 0), 0);
    char name[16];
    ASSERT_EQ(zvdbGetFieldAsString(r, 1, name, sizeof name), 0);
    EXPECT_STREQ(name, "renamed");
}

}  // namespace
}  // namespace rectest

// The partition administration of an open partitioned table: members
// archived and activated again by number, the first and last partition,
// and a member's state asked through the engine's system error word.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/recapi/schema/schemafix.h"
#include "zarvo/zarvo.h"

namespace {

class TablePartTest : public schematest::SchemaTest {
protected:
    // A partitioned set "sales" made by the engine: 24-byte records of a
    // day serial and a number; index 0, the partition index, on the day
    // (the date rule's key) or, by_number, on the schema field "Number";
    // index 1 on the number. The record schema is stored; the set is closed
    // again and the table opened on it.
    void make_sales(bool by_number = false) {
        ISEG sday[1] = {{0, 8, 9}};
        ISEG snum[1] = {{8, 4, 1}};
        if (by_number) sday[0] = ISEG{1, 4, 12};
        IIDX idx[2] = {IIDX{int16_t(sday[0].slength + 8), 0, 1, 0, 0, 1, sday, "ByPart", nullptr, nullptr, nullptr},
                       IIDX{4, 0, 0, 0, 0, 1, snum, "ByNumber", nullptr, nullptr, nullptr}};
        IFIL ifil = IFIL{"sales", -1, 24, 0, 0, 2, 0, 0, idx, nullptr, nullptr, 0};
        XCREblk x[2] = {};
        for (XCREblk &b : x) b.mode = 0x40;
        x[0].mode |= 0x00400000;
        x[0].option9 = 0;
        ASSERT_EQ(CREIFILX8(&ifil, nullptr, nullptr, 0, nullptr, nullptr, x), 0);
        const DATOBJ doda[3] = {{"Day", 0, ZV_DFLOAT, 8, 0, 0}, {"Number", 8, ZV_INT4U, 4, 0, 0},
                                {"Pad", 12, ZV_ARRAY, 12, 0, 0}};
        ASSERT_EQ(PUTDODA(ifil.tfilno, doda, 3), 0);
        ASSERT_EQ(CLIFIL(&ifil), 0);
        ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
        ASSERT_EQ(zvdbOpenTable(table_, "sales", 0), 0) << last();
    }
    // A sale on day serial `day` through the engine.
    void add(double day, uint32_t number) {
        unsigned char rec[24] = {};
        std::memcpy(rec, &day, 8);
        std::memcpy(rec + 8, &number, 4);
        ASSERT_EQ(ADDREC(table_->datno, rec), 0) << number;
    }
};

TEST_F(TablePartTest, ArchivingTheFirstMemberMovesTheFirstPartition) {
    make_sales();
    EXPECT_EQ(table_->createmode & 0x800, 0x800u);
    EXPECT_EQ(zvdbGetTablePartitionIndexNbr(table_), 0);
    const double day0 = 25569.0 + 20000;
    for (int d = 0; d < 3; d++) add(day0 + d, uint32_t(d));
    const int32_t first = zvdbGetFirstPartition(table_), lastp = zvdbGetLastPartition(table_);
    ASSERT_GT(first, 0);
    EXPECT_EQ(lastp, first + 2);
    // Ask (0x800): the member's state in the status word.
    int16_t state = -7;
    ASSERT_EQ(zvdbPartAdminByNumber(table_, first, 0x800, &state), 0) << last();
    const int16_t active = state;
    EXPECT_GT(active, 0);
    // Archive (64) the first member: the first partition moves on; activate
    // (1024) it: back.
    ASSERT_EQ(zvdbPartAdminByNumber(table_, first, 64, nullptr), 0) << last();
    EXPECT_EQ(zvdbGetFirstPartition(table_), first + 1);
    ASSERT_EQ(zvdbPartAdminByNumber(table_, first, 0x800, &state), 0);
    EXPECT_NE(state, active);
    ASSERT_EQ(zvdbPartAdminByNumber(table_, first, 1024, nullptr), 0) << last();
    EXPECT_EQ(zvdbGetFirstPartition(table_), first);
    EXPECT_EQ(zvdbGetLastPartition(table_), lastp);
    // The engine's refusals come back as they are and are kept.
    mark();
    EXPECT_EQ(zvdbPartAdminByNumber(table_, lastp + 100, 64, nullptr), 730);
    EXPECT_EQ(last(), 730);
    EXPECT_EQ(zvdbPartAdminByName(table_, "nosuch", 64, nullptr), 715);
    EXPECT_EQ(zvdbPartAdminByNumber(nullptr, first, 64, nullptr), ZVDB_NO_TABLE);
}

TEST_F(TablePartTest, TheRuleIsReadBackFromTheFileAtOpen) {
    make_sales(true);
    // The date rule is no rule text.
    EXPECT_EQ(table_->partrule, nullptr);
    ASSERT_EQ(zvdbPartAdminByName(table_, "Number", 8192, nullptr), 0) << last();
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "sales", 0), 0) << last();
    EXPECT_STREQ(table_->partrule, "Number");
}

}  // namespace

// The partition administration of an open partitioned table: members
// archived and activated again by number, the first and last partition,
// and a member's state asked through the engine's system error word; and
// partitioned tables made by zvdbCreateTable (create bit 0x800), with a
// rule text and with the date rule, written, closed, reopened and read
// back through the record calls; renamed, moved and altered by copy with
// their members; and the create bit refused for want of a partition index.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/platform.h"
#include "tests/recapi/schema/schemafix.h"
#include "tests/support/child.h"
#include "tests/support/faultsweep.h"
#include "tests/support/peerstep.h"
#include "tests/support/fixture.h"
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

// A partitioned table "orders" made through the record calls: fields
// "part" (ZV_INT4, or ZV_DFLOAT for the date rule), "id" ZV_INT4 and "name"
// ZV_FSTRING 12; index "bypart" (duplicates, on part; the partition index)
// and "byid" (unique, on id), both schema segments.
class CreatedPartTest : public schematest::SchemaTest {
protected:
    void SetUp() override {
        SchemaTest::SetUp();
        ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    }
    // Defines the table with partition index "bypart" and the rule (none:
    // the date rule) and creates it with bit 0x800: the code. With
    // `ownfile` a third index "byname" (unique, on name) has a file of its
    // own, "orders_nm.idx" (in `ownpath` when given).
    ZVDBRET create(int32_t parttype, const char *rule, bool ownfile = false, uint32_t createmode = 0x800,
                   const char *ownpath = nullptr) {
        tagZVDBFIELD *part = field("part", parttype);
        tagZVDBFIELD *id = field("id", ZV_INT4);
        tagZVDBFIELD *name = field("name", ZV_FSTRING, 12);
        EXPECT_NE(zvdbAddSegment(index("bypart", 1), part, 12), nullptr);
        EXPECT_NE(zvdbAddSegment(index("byid"), id, 12), nullptr);
        if (ownfile) {
            tagZVDBINDEX *byname = index("byname");
            EXPECT_NE(zvdbAddSegment(byname, name, 12), nullptr);
            EXPECT_EQ(zvdbSetIndexFilename(byname, ownpath, "orders_nm"), 0);
        }
        EXPECT_EQ(zvdbSetTablePartitionIndexNbr(table_, 0), 0);
        if (rule) {
            EXPECT_EQ(zvdbSetTablePartitionRule(table_, rule), 0);
        }
        return zvdbCreateTable(table_, "orders", createmode);
    }
    void open(const char *name = "orders", const char *dir = ".") {
        ASSERT_EQ(zvdbSetTablePath(table_, dir), 0);
        ASSERT_EQ(zvdbOpenTable(table_, name, 0), 0) << last();
    }
    // Writes one record per (part, id), named "n" + id.
    void write(const std::vector<std::pair<double, int32_t>> &rows) {
        ZVHANDLE r = zvdbAllocRecord(table_);
        ASSERT_NE(r, nullptr);
        for (const auto &[part, id] : rows) {
            ASSERT_EQ(zvdbClearRecord(r), 0);
            ASSERT_EQ(zvdbSetFieldAsFloat(r, 0, part), 0);
            ASSERT_EQ(zvdbSetFieldAsSigned(r, 1, id), 0);
            ASSERT_EQ(zvdbSetFieldAsString(r, 2, ("n" + std::to_string(id)).c_str()), 0);
            ASSERT_EQ(zvdbWriteRecord(r), 0) << id << " " << last();
        }
        zvdbFreeRecord(r);
    }
    // The (part, id) of every record in the order of index n, each name
    // checked against its id.
    std::vector<std::pair<double, int32_t>> read(int32_t n) {
        std::vector<std::pair<double, int32_t>> out;
        ZVHANDLE r = zvdbAllocRecord(table_);
        EXPECT_EQ(zvdbSetDefaultIndex(r, n), 0);
        for (ZVDBRET rc = zvdbFirstRecord(r); rc == 0; rc = zvdbNextRecord(r)) {
            double part = 0;
            int32_t id = 0;
            char name[16] = {};
            EXPECT_EQ(zvdbGetFieldAsFloat(r, 0, &part), 0);
            EXPECT_EQ(zvdbGetFieldAsSigned(r, 1, &id), 0);
            EXPECT_EQ(zvdbGetFieldAsString(r, 2, name, int32_t(sizeof name)), 0);
            EXPECT_EQ(std::string(name), "n" + std::to_string(id));
            out.emplace_back(part, id);
        }
        zvdbFreeRecord(r);
        return out;
    }
    // A closed table of three indexes (create with `ownfile`, the rule
    // "part") that holds `rows`.
    void make_filled(const std::vector<std::pair<double, int32_t>> &rows) {
        ASSERT_EQ(create(ZV_INT4, "part", true), 0) << last();
        open();
        write(rows);
        ASSERT_EQ(zvdbCloseTable(table_), 0);
    }
    // Every record and key of a table of three indexes (create with
    // `ownfile`) that holds `rows`, written in ascending id: each index
    // gives every record once, in its own order.
    void expect_rows(std::vector<std::pair<double, int32_t>> rows) {
        std::sort(rows.begin(), rows.end(), [](const auto &a, const auto &b) { return a.second < b.second; });
        EXPECT_EQ(read(1), rows);
        std::vector<std::pair<double, int32_t>> byname = rows;
        std::sort(byname.begin(), byname.end(), [](const auto &a, const auto &b) {
            return "n" + std::to_string(a.second) < "n" + std::to_string(b.second);
        });
        EXPECT_EQ(read(2), byname);
        std::stable_sort(rows.begin(), rows.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        EXPECT_EQ(read(0), rows);
    }
    // Every file of a directory but the engine's status log.
    static std::set<std::string> files(const char *dir = ".") {
        std::set<std::string> out;
        for (const auto &e : std::filesystem::directory_iterator(dir)) {
            const std::string n = e.path().filename().string();
            if (e.is_regular_file() && n != "ZVSTATUS.QVS") out.insert(n);
        }
        return out;
    }
    // The files of a table `base` created with `ownfile`, whose members
    // hold the parts given: the host's data file, its index file and
    // "base_nm.idx", and each of them with the member's number appended.
    static std::set<std::string> set_files(const std::string &base, const std::vector<int> &parts) {
        std::set<std::string> out;
        for (const std::string &f : {base + ".dat", base + ".idx", base + "_nm.idx"}) {
            out.insert(f);
            for (int p : parts) {
                char suffix[8];
                std::snprintf(suffix, sizeof suffix, ".%03d", p);
                out.insert(f + suffix);
            }
        }
        return out;
    }
    // The files as zvtest::save_template kept them, and no other.
    static void restore() {
        for (const std::string &f : files()) std::filesystem::remove(f);
        zvtest::restore_template();
    }
    // Adds the field "qty" (default 7) to "orders" and alters the table by
    // copy, the process ending at the nth call of kind (with code `killed`)
    // when kind is given: the answer.
    ZVDBRET alter(zv::IoKind kind = zv::IoKind::Write, long n = 0, int killed = 0) {
        ZVDBRET rc = zvdbSetTablePath(table_, ".");
        if (!rc) rc = zvdbOpenTable(table_, "orders", 0);
        ZVHANDLE qty = rc ? nullptr : zvdbAddField(table_, "qty", ZV_INT4, 0);
        if (!rc && (!qty || zvdbSetFieldDefaultValue(qty, "7", 1) != 0)) rc = -1;
        if (!rc && n > 0) {
            zv::fault_reset();
            zv::fault_exit(kind, n, killed);
        }
        if (!rc) rc = zvdbAlterTable(table_, 0);
        zvdbCloseTable(table_);
        return rc;
    }
    // The host's and the members' data files in the working directory.
    static std::set<std::string> data_files() {
        std::set<std::string> out;
        for (const auto &e : std::filesystem::directory_iterator(".")) {
            const std::string n = e.path().filename().string();
            if (n.rfind("orders.dat", 0) == 0) out.insert(n);
        }
        return out;
    }
};

TEST_F(CreatedPartTest, ARuleTextSendsEachRecordToTheMemberOfItsNumber) {
    ASSERT_EQ(create(ZV_INT4, "part"), 0) << last();
    open();
    EXPECT_EQ(table_->createmode & 0x800, 0x800u);
    EXPECT_EQ(zvdbGetTablePartitionIndexNbr(table_), 0);
    EXPECT_STREQ(table_->partrule, "part");
    // Ids in reverse order of their parts, so that the orders differ.
    const std::vector<std::pair<double, int32_t>> rows = {{3, 1}, {3, 2}, {2, 3}, {1, 4}, {1, 5}};
    write(rows);
    EXPECT_EQ(zvdbGetFirstPartition(table_), 1);
    EXPECT_EQ(zvdbGetLastPartition(table_), 3);
    // One member data file per part beside the host.
    EXPECT_EQ(data_files(), (std::set<std::string>{"orders.dat", "orders.dat.001", "orders.dat.002", "orders.dat.003"}));
    ASSERT_EQ(zvdbCloseTable(table_), 0);

    open();
    EXPECT_STREQ(table_->partrule, "part");
    EXPECT_EQ(read(1), rows);
    EXPECT_EQ(read(0), (std::vector<std::pair<double, int32_t>>{{1, 4}, {1, 5}, {2, 3}, {3, 1}, {3, 2}}));
    // A record of a new part makes its member; archiving member 1 takes
    // its records out of every read until it is activated again.
    write({{5, 6}});
    EXPECT_EQ(zvdbGetLastPartition(table_), 5);
    ASSERT_EQ(zvdbPartAdminByNumber(table_, 1, 64, nullptr), 0) << last();
    EXPECT_EQ(zvdbGetFirstPartition(table_), 2);
    EXPECT_EQ(read(1), (std::vector<std::pair<double, int32_t>>{{3, 1}, {3, 2}, {2, 3}, {5, 6}}));
    ASSERT_EQ(zvdbPartAdminByNumber(table_, 1, 1024, nullptr), 0) << last();
    EXPECT_EQ(read(1).size(), 6u);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
}

// A rebuild in a logged-on session (whose logon sets the engine's
// operation bit 0x2000000) rebuilds the host and every member.
TEST_F(CreatedPartTest, ARebuildKeepsEveryMemberAndKey) {
    ASSERT_EQ(create(ZV_INT4, "part"), 0) << last();
    open();
    const std::vector<std::pair<double, int32_t>> rows = {{2, 1}, {1, 2}, {3, 3}, {1, 4}};
    write(rows);
    ASSERT_EQ(zvdbRebuildTable(table_, 0), 0) << last();
    EXPECT_EQ(zvdbGetFirstPartition(table_), 1);
    EXPECT_EQ(zvdbGetLastPartition(table_), 3);
    EXPECT_EQ(read(1), rows);
    EXPECT_EQ(read(0), (std::vector<std::pair<double, int32_t>>{{1, 2}, {1, 4}, {2, 1}, {3, 3}}));
    write({{2, 5}});
    EXPECT_EQ(read(1).size(), 5u);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
}

TEST_F(CreatedPartTest, WithoutARuleTextTheDayOfTheKeyChoosesTheMember) {
    ASSERT_EQ(create(ZV_DFLOAT, nullptr), 0) << last();
    open();
    EXPECT_EQ(table_->partrule, nullptr);
    // Day serials of three days; the member numbers count days from
    // 1970-01-01 (serial 25569).
    const double day = 25569.0 + 20000;
    write({{day + 2, 1}, {day, 2}, {day + 1, 3}, {day + 0.5, 4}});
    EXPECT_EQ(zvdbGetFirstPartition(table_), 20000);
    EXPECT_EQ(zvdbGetLastPartition(table_), 20002);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    open();
    EXPECT_EQ(read(0), (std::vector<std::pair<double, int32_t>>{{day, 2}, {day + 0.5, 4}, {day + 1, 3}, {day + 2, 1}}));
    EXPECT_EQ(read(1).size(), 4u);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
}

TEST_F(CreatedPartTest, ARuleThatDoesNotParseLeavesNoFile) {
    EXPECT_EQ(create(ZV_INT4, "part +"), 747);
    EXPECT_EQ(last(), 747);
    EXPECT_EQ(data_files(), std::set<std::string>{});
    EXPECT_FALSE(std::filesystem::exists("orders.idx"));
    EXPECT_EQ(zvdbGetTableIndexCount(table_), 2);
}

// The partition index is the caller's index 0 whichever hidden indexes the
// create mode gives the files (it is set before the create, under the
// handle's own mode); a number past the caller's indexes, or one before
// them, is refused with 4004 before any file is made.
TEST_F(CreatedPartTest, ThePartitionIndexIsTheCallersUnderEveryCreateMode) {
    struct Case {
        uint32_t mode;
        int32_t index;  // the partition index set
        ZVDBRET code;
    };
    const Case cases[] = {{0x800, 0, 0},       {0x800 | 32, 0, 0},          {0x800 | 64, 0, 0},
                          {0x800 | 96, 0, 0},  {0x800, 2, ZVDB_BAD_ARGUMENT}, {0x800 | 96, 2, ZVDB_BAD_ARGUMENT},
                          {0x800, -2, ZVDB_BAD_ARGUMENT}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + " index " + std::to_string(c.index));
        ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
        tagZVDBFIELD *part = field("part", ZV_INT4);
        tagZVDBFIELD *id = field("id", ZV_INT4);
        field("name", ZV_FSTRING, 12);
        EXPECT_NE(zvdbAddSegment(index("bypart", 1), part, 12), nullptr);
        EXPECT_NE(zvdbAddSegment(index("byid"), id, 12), nullptr);
        ASSERT_EQ(zvdbSetTablePartitionIndexNbr(table_, c.index), 0);
        ASSERT_EQ(zvdbSetTablePartitionRule(table_, "part"), 0);
        EXPECT_EQ(zvdbCreateTable(table_, "orders", c.mode), c.code);
        if (c.code) {
            EXPECT_EQ(files(), std::set<std::string>{});
        } else {
            open();
            EXPECT_EQ(zvdbGetTablePartitionIndexNbr(table_), 0);
            write({{3, 1}, {2, 2}});
            EXPECT_EQ(zvdbGetLastPartition(table_), 3);
            EXPECT_EQ(data_files(), (std::set<std::string>{"orders.dat", "orders.dat.002", "orders.dat.003"}));
            EXPECT_EQ(read(1), (std::vector<std::pair<double, int32_t>>{{3, 1}, {2, 2}}));
            ASSERT_EQ(zvdbCloseTable(table_), 0);
        }
        for (const std::string &f : files()) std::remove(f.c_str());
        while (zvdbGetTableIndexCount(table_) > 0) zvdbDelIndex(table_, 0);
        while (zvdbGetTableFieldCount(table_) > 0) zvdbDelField(table_, 0);
        ASSERT_EQ(zvdbSetTablePartitionIndexNbr(table_, -1), 0);
        ASSERT_EQ(zvdbSetTablePartitionRule(table_, nullptr), 0);
    }
}

// The partition index is kept counted with the hidden indexes of the
// handle's create mode: a number whose stored form would pass the 32-bit
// range is refused with 4004 (returned, not kept) and nothing is set. A
// number that fits under a mode without hidden indexes but not under the
// create mode that makes the files lies past the caller's indexes: the
// create refuses it (4004) before any file is made.
TEST_F(CreatedPartTest, APartitionIndexWhoseStoredFormDoesNotFitIsRefused) {
    struct Case {
        uint32_t handlemode;  // the handle's create mode when the number is set
        int32_t index;
        ZVDBRET code;
        int32_t stored;
    };
    const Case cases[] = {
        {0, INT32_MAX, ZVDB_BAD_ARGUMENT, -1},      {0, INT32_MAX - 1, ZVDB_BAD_ARGUMENT, -1},
        {0, INT32_MAX - 2, 0, INT32_MAX},           {32, INT32_MAX, ZVDB_BAD_ARGUMENT, -1},
        {32, INT32_MAX - 1, 0, INT32_MAX},          {96, INT32_MAX, 0, INT32_MAX},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.handlemode) + " index " + std::to_string(c.index));
        ASSERT_EQ(_zvdbSetCreateMode(table_, c.handlemode), 0);
        mark();
        EXPECT_EQ(zvdbSetTablePartitionIndexNbr(table_, c.index), c.code);
        EXPECT_EQ(last(), 7777);
        EXPECT_EQ(table_->partindex, c.stored);
        EXPECT_EQ(zvdbGetTablePartitionIndexNbr(table_), c.code ? -1 : c.index);
        EXPECT_EQ(table_->createmode & 0x800, c.code ? 0u : 0x800u);
        ASSERT_EQ(zvdbSetTablePartitionIndexNbr(table_, -1), 0);
    }
    // Set under a mode without hidden indexes, created under one with both.
    tagZVDBFIELD *part = field("part", ZV_INT4);
    EXPECT_NE(zvdbAddSegment(index("bypart", 1), part, 12), nullptr);
    ASSERT_EQ(_zvdbSetCreateMode(table_, 96), 0);
    ASSERT_EQ(zvdbSetTablePartitionIndexNbr(table_, INT32_MAX), 0);
    ASSERT_EQ(zvdbSetTablePartitionRule(table_, "part"), 0);
    EXPECT_EQ(zvdbCreateTable(table_, "orders", 0x800), ZVDB_BAD_ARGUMENT);
    EXPECT_EQ(files(), std::set<std::string>{});
}

// A rename and a move take every member file along with the host's: the
// members are named after the host's new names, and the table reads every
// record through every index in its new place.
TEST_F(CreatedPartTest, RenameAndMoveTakeEveryMemberAlong) {
    std::vector<std::pair<double, int32_t>> rows = {{3, 1}, {1, 2}, {2, 3}, {1, 4}, {3, 5}};
    make_filled(rows);
    ASSERT_EQ(files(), set_files("orders", {1, 2, 3}));

    ASSERT_EQ(zvdbRenameTable(table_, "orders", "sales"), 0) << last();
    EXPECT_EQ(files(), set_files("sales", {1, 2, 3}));
    open("sales");
    expect_rows(rows);
    // A new member takes the new name.
    write({{4, 6}});
    rows.emplace_back(4, 6);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    EXPECT_EQ(files(), set_files("sales", {1, 2, 3, 4}));

    std::filesystem::create_directory("sub");
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    ASSERT_EQ(zvdbMoveTable(table_, "sales", "sub", nullptr), 0) << last();
    EXPECT_EQ(files(), std::set<std::string>{});
    EXPECT_EQ(files("sub"), set_files("sales", {1, 2, 3, 4}));
    open("sales", "sub");
    EXPECT_EQ(zvdbGetFirstPartition(table_), 1);
    EXPECT_EQ(zvdbGetLastPartition(table_), 4);
    expect_rows(rows);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
}

// A rename refused for any file of the set, the host's or a member's,
// leaves every file under its old name.
TEST_F(CreatedPartTest, ARenameThatCannotNameEveryMemberChangesNoFile) {
    const std::vector<std::pair<double, int32_t>> rows = {{1, 1}, {2, 2}, {3, 3}, {2, 4}};
    make_filled(rows);
    for (const char *taken : {"sales.dat", "sales_nm.idx", "sales.dat.001", "sales.idx.002", "sales_nm.idx.003"}) {
        SCOPED_TRACE(taken);
        zvtest::write_file(taken, "x");
        std::set<std::string> before = set_files("orders", {1, 2, 3});
        before.insert(taken);
        ASSERT_EQ(files(), before);
        ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
        EXPECT_EQ(zvdbRenameTable(table_, "orders", "sales"), 67);
        EXPECT_EQ(files(), before);
        open();
        expect_rows(rows);
        ASSERT_EQ(zvdbCloseTable(table_), 0);
        std::filesystem::remove(taken);
    }
}

// An alteration that copies the records makes a new partitioned set, whose
// members take the old members' names; the old files go.
TEST_F(CreatedPartTest, AnAlterationByCopyKeepsTheMembersUnderTheirNames) {
    ASSERT_EQ(create(ZV_INT4, "part", true), 0) << last();
    open();
    const std::vector<std::pair<double, int32_t>> rows = {{2, 1}, {3, 2}, {1, 3}, {3, 4}, {2, 5}};
    write(rows);
    ZVHANDLE qty = zvdbAddField(table_, "qty", ZV_INT4, 0);
    ASSERT_NE(qty, nullptr);
    ASSERT_EQ(zvdbSetFieldDefaultValue(qty, "7", 1), 0);
    EXPECT_EQ(zvdbGetTableStatus(table_), 16u);
    ASSERT_EQ(zvdbAlterTable(table_, 0), 0) << last();
    EXPECT_EQ(files(), set_files("orders", {1, 2, 3}));
    EXPECT_EQ(zvdbGetTablePartitionIndexNbr(table_), 0);
    expect_rows(rows);
    ASSERT_EQ(zvdbCloseTable(table_), 0);

    open();
    EXPECT_STREQ(table_->partrule, "part");
    expect_rows(rows);
    ZVHANDLE r = zvdbAllocRecord(table_);
    int32_t n = 0;
    for (ZVDBRET rc = zvdbFirstRecord(r); rc == 0; rc = zvdbNextRecord(r), n++) {
        int32_t value = 0;
        ASSERT_EQ(zvdbGetFieldAsSigned(r, 3, &value), 0);
        EXPECT_EQ(value, 7);
    }
    EXPECT_EQ(n, 5);
    zvdbFreeRecord(r);
    // Records still go to the member of their part.
    write({{2, 6}, {5, 7}});
    EXPECT_EQ(files(), set_files("orders", {1, 2, 3, 5}));
    ASSERT_EQ(zvdbCloseTable(table_), 0);
}

// Create bit 0x8000 asks for a partitioned data file without a partition
// index, which no record could be sent from to a member: it is refused
// before any file is made, alone, beside bit 0x800 and in a superfile host,
// and the handle keeps its definition.
TEST_F(CreatedPartTest, CreateBit0x8000IsRefusedBeforeAnyFileIsMade) {
    EXPECT_EQ(create(ZV_INT4, "part", false, 0x8000), ZVDB_BAD_ARGUMENT);
    EXPECT_EQ(last(), ZVDB_BAD_ARGUMENT);
    for (const char *path : {".", "host.sup!"}) {
        for (uint32_t mode : {0x8000u, 0x8800u}) {
            SCOPED_TRACE(std::string(path) + " " + std::to_string(mode));
            ASSERT_EQ(zvdbSetTablePath(table_, path), 0);
            mark();
            EXPECT_EQ(zvdbCreateTable(table_, "orders", mode), ZVDB_BAD_ARGUMENT);
            EXPECT_EQ(last(), ZVDB_BAD_ARGUMENT);
            EXPECT_EQ(files(), std::set<std::string>{});
            EXPECT_FALSE(table_->active);
        }
    }
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    ASSERT_EQ(zvdbCreateTable(table_, "orders", 0x800), 0) << last();
    open();
    write({{1, 1}, {2, 2}});
    EXPECT_EQ(zvdbGetLastPartition(table_), 2);
    EXPECT_EQ(read(1), (std::vector<std::pair<double, int32_t>>{{1, 1}, {2, 2}}));
    ASSERT_EQ(zvdbCloseTable(table_), 0);
}

// Fail the nth rename or write of a rename once, for every n a rename
// reaches, renaming back and forth: after each failure every file of the
// host and its members is under one name, and the table holds every record
// under it.
TEST_F(CreatedPartTest, AFailedRenameLeavesHostAndMembersUnderOneName) {
    const std::vector<std::pair<double, int32_t>> rows = {{1, 1}, {2, 2}, {3, 3}, {1, 4}};
    make_filled(rows);
    // A file is renamed through a link to its new name and the removal of
    // the old one (a failed link falls back on a rename, failed as well).
    const zv::IoKind kinds[] = {zv::IoKind::Link, zv::IoKind::Unlink, zv::IoKind::Write};
    long calls[3] = {};
    zv::fault_reset();
    ASSERT_EQ(zvdbRenameTable(table_, "orders", "sales"), 0) << last();
    for (int k = 0; k < 3; k++) calls[k] = zv::io_calls(kinds[k]);
    std::string at = "sales";
    for (int k = 0; k < 3; k++) {
        int failures = 0;
        for (long n = 1; n <= calls[k]; n++) {
            SCOPED_TRACE(std::to_string(k) + " #" + std::to_string(n) + " from " + at);
            const std::string to = at == "orders" ? "sales" : "orders";
            ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
            zv::fault_reset();
            zv::fault_set(kinds[k], n, EIO);
            if (kinds[k] == zv::IoKind::Link) zv::fault_set(zv::IoKind::Rename, 1, EIO, true);
            const ZVDBRET rc = zvdbRenameTable(table_, at.c_str(), to.c_str());
            zv::fault_reset();
            failures += rc != 0;
            if (rc == 0) at = to;
            ASSERT_EQ(files(), set_files(at, {1, 2, 3}));
            open(at.c_str());
            expect_rows(rows);
            ASSERT_EQ(zvdbCloseTable(table_), 0);
        }
        // Every file renamed fails the rename when its own rename fails.
        if (kinds[k] == zv::IoKind::Write) EXPECT_GE(failures, 1);
        else EXPECT_EQ(failures, calls[k]);
    }
}

// Fail the nth link, rename, delete or write of an alteration by copy of a
// partitioned table once, for every n the alteration reaches: the table
// then holds every record under its old definition or its new one, and
// the files under its names are those of its host and its members, no
// other (the working set is gone: its members, named after the table
// inside while they were swapped, were named after themselves again first).
TEST_F(CreatedPartTest, AFailedAlterationLeavesTheOldTableOrTheNewOneWhole) {
    const std::vector<std::pair<double, int32_t>> rows = {{2, 1}, {3, 2}, {1, 3}, {3, 4}, {2, 5}};
    make_filled(rows);
    zvtest::save_template();
    long olddef = 0, newdef = 0;
    zvtest::fault_sweep(
        {zv::IoKind::Link, zv::IoKind::Rename, zv::IoKind::Unlink, zv::IoKind::Write}, [&] { restore(); },
        [&] { return alter(); },
        [&](int rc) {
            open();
            const bool altered = zvdbGetFieldByName(table_, "qty") != nullptr;
            (altered ? newdef : olddef)++;
            EXPECT_TRUE(altered || rc != 0);
            expect_rows(rows);
            ASSERT_EQ(zvdbCloseTable(table_), 0);
            EXPECT_EQ(files(), set_files("orders", {1, 2, 3}));
        });
    EXPECT_GT(olddef, 0);
    EXPECT_GT(newdef, 0);
}

// A partitioned table whose index file of its own lies in another
// directory is altered as well: below the data file's directory through
// the listed swap, elsewhere by renaming its old set aside and the new one
// in. The table has its new definition and every record, and each
// directory the files of its own set only.
TEST_F(CreatedPartTest, ATableWithFilesInTwoDirectoriesIsAlteredAsWell) {
    const struct {
        const char *dir, *ixdir;
    } cases[] = {{".", "ix"}, {"data", "ix"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.dir) + " " + c.ixdir);
        std::filesystem::create_directory(c.dir);
        std::filesystem::create_directory(c.ixdir);
        for (const char *d : {c.dir, c.ixdir}) {
            for (const std::string &f : files(d)) std::filesystem::remove(std::string(d) + "/" + f);
        }
        std::filesystem::remove("ZVSTATUS.QVS");
        ASSERT_EQ(zvdbSetTablePath(table_, c.dir), 0);
        ASSERT_EQ(create(ZV_INT4, "part", true, 0x800, c.ixdir), 0) << last();
        const std::vector<std::pair<double, int32_t>> rows = {{2, 1}, {3, 2}, {1, 3}};
        open("orders", c.dir);
        write(rows);
        ZVHANDLE qty = zvdbAddField(table_, "qty", ZV_INT4, 0);
        ASSERT_NE(qty, nullptr);
        ASSERT_EQ(zvdbSetFieldDefaultValue(qty, "7", 1), 0);
        ASSERT_EQ(zvdbAlterTable(table_, 0), 0) << last();
        ASSERT_EQ(zvdbCloseTable(table_), 0);
        open("orders", c.dir);
        EXPECT_NE(zvdbGetFieldByName(table_, "qty"), nullptr);
        expect_rows(rows);
        ASSERT_EQ(zvdbCloseTable(table_), 0);
        std::set<std::string> here = set_files("orders", {1, 2, 3}), there;
        for (const std::string &f : set_files("orders", {1, 2, 3})) {
            if (f.rfind("orders_nm", 0) != 0) continue;
            here.erase(f);
            there.insert(f);
        }
        EXPECT_EQ(files(c.dir), here);
        EXPECT_EQ(files(c.ixdir), there);
        // Only the set whose files lie apart is renamed set by set.
        const bool apart = zvtest::read_file("ZVSTATUS.QVS").find("Alter: the old files of") != std::string::npos;
        EXPECT_EQ(apart, std::string(c.dir) != ".");
    }
}

// An alteration by copy of a partitioned table killed at any link, rename,
// unlink or write of the alteration: the table opens (or answers 14 and
// opens after its rebuild) with every record under its old definition or
// its new one, and every file under the table's names belongs to the set
// it opened as: no member of the other set, no swap's note, no kept
// original.
TEST_F(CreatedPartTest, AKilledAlterationLeavesTheOldTableOrTheNewOneWhole) {
    const std::vector<std::pair<double, int32_t>> rows = {{2, 1}, {3, 2}, {1, 3}, {3, 4}, {2, 5}};
    make_filled(rows);
    zvtest::save_template();
    constexpr int kKilled = 77;
    constexpr uint32_t kOpenDamaged = 4;
    long olddef = 0, newdef = 0, finished = 0;
    zvtest::kill_sweep(
        {zv::IoKind::Link, zv::IoKind::Rename, zv::IoKind::Unlink, zv::IoKind::Write}, kKilled, 400,
        [&] {
            restore();
            std::filesystem::remove("ZVSTATUS.QVS");
        },
        [&](zv::IoKind kind, long n) { return alter(kind, n, kKilled) == 0 ? 0 : 4; },
        [&](int code) {
            ASSERT_TRUE(code == 0 || code == kKilled) << code;
            ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
            ZVDBRET rc = zvdbOpenTable(table_, "orders", 0);
            if (rc == 14) {
                ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
                ASSERT_EQ(zvdbOpenTable(table_, "orders", kOpenDamaged), 0) << last();
                ASSERT_EQ(zvdbRebuildTable(table_, 0), 0) << last();
            } else {
                ASSERT_EQ(rc, 0) << last();
            }
            const bool altered = zvdbGetFieldByName(table_, "qty") != nullptr;
            (altered ? newdef : olddef)++;
            expect_rows(rows);
            ASSERT_EQ(zvdbCloseTable(table_), 0);
            if (zvtest::read_file("ZVSTATUS.QVS").find("Swap: finishing the swap of") != std::string::npos) finished++;
            for (const std::string &f : files()) {
                EXPECT_TRUE(f.rfind("orders", 0) != 0 || set_files("orders", {1, 2, 3}).count(f)) << f;
            }
        });
    EXPECT_GT(olddef, 0);
    EXPECT_GT(newdef, 0);
    EXPECT_GT(finished, 0) << "no kill fell between two moves of the swap";
}

// Another process's open, write and close at each step of the alteration
// by copy of a partitioned table (its opens, links, renames, unlinks and
// writes), whose files lie in one directory (the engine's listed swap) or
// in two (the set-by-set swap): at every rename, link and delete it is
// refused (12: the lock's system error, or no file under the name while
// the sets change names); wherever it got in, its record is kept; the
// alteration succeeds with every record.
TEST_F(CreatedPartTest, AnotherProcessLosesNothingAtAnyStepOfAnAlteration) {
    const std::vector<std::pair<double, int32_t>> rows = {{2, 1}, {3, 2}, {1, 3}};
    for (const char *dir : {".", "data"}) {
        SCOPED_TRACE(dir);
        // A fresh start: no file of the case before, a new handle.
        for (const char *d : {"ix", "data", "tpl"}) std::filesystem::remove_all(d);
        for (const std::string &f : files()) std::filesystem::remove(f);
        zvdbFreeTable(table_);
        table_ = static_cast<tagZVDBTABLE *>(zvdbAllocTable(session_));
        ASSERT_NE(table_, nullptr);
        std::filesystem::create_directory("ix");
        std::filesystem::create_directory(dir);
        ASSERT_EQ(zvdbSetTablePath(table_, dir), 0);
        ASSERT_EQ(create(ZV_INT4, "part", true, 0x800, "ix"), 0) << last();
        open("orders", dir);
        write(rows);
        ASSERT_EQ(zvdbCloseTable(table_), 0);
        zvtest::save_tree();
        const std::string path = dir;
        zvtest::Peer peer([path](int id) {
            zvtest::ChildResult r;
            ZVHANDLE s = zvdbAllocSession(1);
            ZVHANDLE t = nullptr;
            if (!s || zvdbLogon(s, nullptr, "peer", nullptr) != 0 || !(t = zvdbAllocTable(s))) return r;
            r.rc = zvdbSetTablePath(t, path.c_str());
            if (!r.rc && (r.rc = zvdbOpenTable(t, "orders", 0)) != 0) {
                r.sys = zvGetSystemErrorCode();
                r.extra = 1;
            }
            if (!r.rc) {
                ZVHANDLE rec = zvdbAllocRecord(t);
                int rc = zvdbSetFieldAsSigned(rec, 0, 2);
                if (!rc) rc = zvdbSetFieldAsSigned(rec, 1, id);
                if (!rc) rc = zvdbSetFieldAsString(rec, 2, ("n" + std::to_string(id)).c_str());
                if (!rc) rc = zvdbWriteRecord(rec);
                zvdbFreeRecord(rec);
                const int cl = zvdbCloseTable(t);
                r.rc = rc ? rc : cl;
                r.extra = rc ? 2 : cl ? 3 : 0;
            }
            zvdbLogout(s);
            zvdbFreeTable(t);
            zvdbFreeSession(s);
            return r;
        });
        auto prepare = [&] {
            if (table_->active) zvdbCloseTable(table_);
            zvtest::restore_tree();
            std::filesystem::remove("ZVSTATUS.QVS");
            ASSERT_EQ(zvdbSetTablePath(table_, dir), 0);
            ASSERT_EQ(zvdbOpenTable(table_, "orders", 1), 0) << last();
            ZVHANDLE qty = zvdbAddField(table_, "qty", ZV_INT4, 0);
            ASSERT_NE(qty, nullptr);
            ASSERT_EQ(zvdbSetFieldDefaultValue(qty, "7", 1), 0);
        };
        prepare();
        const std::vector<long> calls =
            zvtest::count_calls(zvtest::changing_kinds(), [&] { return zvdbAlterTable(table_, 0); });
        int32_t id = 100;
        for (const zvtest::Step &step : zvtest::steps_of(zvtest::changing_kinds(), calls, 6)) {
            SCOPED_TRACE(std::string("at ") + zvtest::kind_name(step.kind) + " " + std::to_string(step.n));
            prepare();
            id++;
            zvtest::ChildResult got;
            bool made = false;
            const int rc = zvtest::run_with_attempt(step, [&] { got = peer.ask(id); },
                                                    [&] { return zvdbAlterTable(table_, 0); }, &made);
            EXPECT_TRUE(made);
            EXPECT_EQ(rc, 0) << last();
            const bool refused = got.ok && got.rc == 12 && got.extra == 1 &&
                                 (got.sys == EAGAIN || got.sys == EACCES || got.sys == ENOENT);
            EXPECT_TRUE(got.ok && (got.rc == 0 || refused)) << got.rc << " " << got.sys << " " << got.extra;
            if (step.kind == zv::IoKind::Link || step.kind == zv::IoKind::Rename || step.kind == zv::IoKind::Unlink) {
                EXPECT_TRUE(refused) << got.rc << " " << got.sys << " " << got.extra;
            }
            std::vector<std::pair<double, int32_t>> want = rows;
            if (got.ok && got.rc == 0) want.emplace_back(2, id);
            ASSERT_EQ(zvdbCloseTable(table_), 0);
            open("orders", dir);
            EXPECT_NE(zvdbGetFieldByName(table_, "qty"), nullptr);
            expect_rows(want);
            ASSERT_EQ(zvdbCloseTable(table_), 0);
            EXPECT_EQ(files(dir).size() + files("ix").size(), set_files("orders", {1, 2, 3}).size())
                << "files left over";
            if (HasFailure()) return;
        }
    }
}

}  // namespace

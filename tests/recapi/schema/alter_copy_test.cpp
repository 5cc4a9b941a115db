// Alteration by a full copy: every record into a new table made from the
// handles, which takes the table's place; values converted, defaults
// filled, row ids, identity values and counters kept; the copy's progress,
// duplicates, empty replacement, size limit and create mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "engine/core/instance.h"
#include "tests/recapi/schema/alterfix.h"

namespace {

using namespace schematest;

// One record of the copy table: "a", its row id and identity value "k".
struct Kept {
    int32_t a;
    ZVBIGINT rowid;
    int32_t k;
    bool operator==(const Kept &o) const { return a == o.a && rowid == o.rowid && k == o.k; }
};

std::vector<uint32_t> g_progress;
ZVDBRET on_progress(ZVHANDLE, int32_t percent) {
    g_progress.push_back(uint32_t(percent));
    return 0;
}

class AlterCopyTest : public AlterTest {
protected:
    void SetUp() override {
        AlterTest::SetUp();
        g_progress.clear();
    }
    void TearDown() override {
        if (rec_) zvdbFreeRecord(rec_);
        AlterTest::TearDown();
    }

    // "a" ZV_INT4, "b" ZV_FSTRING 12, "k" ZV_INT4 the identity field (seed
    // 1000, step 3); "bya" unique on a; every hidden field.
    static void copy_layout(ZVHANDLE t) {
        add_field(t, "a", ZV_INT4);
        add_field(t, "b", ZV_FSTRING, 12);
        add_field(t, "k", ZV_INT4);
        add_index(t, "bya", 0, {"a"});
        ASSERT_EQ(zvdbSetIdentityField(t, "k", 1000, 3), 0);
    }
    ZVHANDLE rec() {
        if (!rec_) rec_ = zvdbAllocRecord(table_);
        return rec_;
    }
    int32_t number(const char *field) { return zvdbGetFieldNumberByName(rec(), field); }
    // Adds a record with a = value and b = "b<value>".
    void add(int32_t value) {
        ZVHANDLE r = rec();
        ASSERT_EQ(zvdbClearRecord(r), 0);
        ASSERT_EQ(zvdbSetFieldAsSigned(r, number("a"), value), 0);
        if (number("b") >= 0) {
            ASSERT_EQ(zvdbSetFieldAsString(r, number("b"), ("b" + std::to_string(value)).c_str()), 0);
        }
        ASSERT_EQ(zvdbWriteRecord(r), 0) << last();
    }
    // Every record in the order of "bya".
    std::vector<Kept> kept() {
        std::vector<Kept> out;
        ZVHANDLE r = rec();
        EXPECT_EQ(zvdbSetDefaultIndexByName(r, "bya"), 0);
        for (ZVDBRET rc = zvdbFirstRecord(r); rc == 0; rc = zvdbNextRecord(r)) {
            Kept k{};
            EXPECT_EQ(zvdbGetFieldAsSigned(r, number("a"), &k.a), 0);
            EXPECT_EQ(zvdbGetRowid(r, &k.rowid), 0);
            EXPECT_EQ(zvdbGetFieldAsSigned(r, number("k"), &k.k), 0);
            out.push_back(k);
        }
        return out;
    }
    void drop_record() {
        if (rec_) rec_ = zvdbFreeRecord(rec_);
    }
    void watch_progress() {
        ASSERT_EQ(zvdbSetCallback(table_, 17, reinterpret_cast<ZVDB_CALLBACK>(on_progress)), 0);
    }

    ZVHANDLE rec_ = nullptr;
};

TEST_F(AlterCopyTest, CopyKeepsRowIdsIdentityValuesAndCounters) {
    create(copy_layout, 0);
    for (int32_t v = 1; v <= 1000; v++) add(v * 2);
    ZVBIGINT last_rowid = 0;
    ASSERT_EQ(zvdbGetRowid(rec(), &last_rowid), 0);
    // Gaps in the row ids and identity values: a copy that numbered the
    // records afresh would show.
    ZVHANDLE r = rec();
    ASSERT_EQ(zvdbSetDefaultIndexByName(r, "bya"), 0);
    for (int32_t v = 10; v <= 1000; v += 10) {
        ASSERT_EQ(zvdbClearRecord(r), 0);
        ASSERT_EQ(zvdbSetFieldAsSigned(r, number("a"), v * 2), 0);
        ASSERT_EQ(zvdbFindRecord(r, 0), 0);
        ASSERT_EQ(zvdbDeleteRecord(r), 0);
    }
    const std::vector<Kept> before = kept();
    ASSERT_EQ(before.size(), 900u);
    ZVBIGINT identity = 0;
    ASSERT_EQ(zvdbGetLastIdentity(table_, &identity), 0);
    drop_record();

    ASSERT_EQ(zvdbDelFieldByName(table_, "b"), 0);
    ZVHANDLE c = zvdbAddField(table_, "c", ZV_INT4, 0);
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(zvdbSetFieldDefaultValue(c, "7", 1), 0);
    EXPECT_EQ(zvdbGetTableStatus(table_), 16u);
    ASSERT_EQ(zvdbAlterTable(table_, 0), 0) << last();

    EXPECT_STREQ(zvdbGetTableName(table_), "alt");
    EXPECT_EQ(fld("b"), nullptr);
    EXPECT_EQ(kept(), before);
    ZVHANDLE rr = rec();
    int32_t cvalue = 0;
    for (ZVDBRET rc = zvdbFirstRecord(rr); rc == 0; rc = zvdbNextRecord(rr)) {
        ASSERT_EQ(zvdbGetFieldAsSigned(rr, number("c"), &cvalue), 0);
        ASSERT_EQ(cvalue, 7);
    }
    // The counters go on where they were.
    add(5000);
    ZVBIGINT rowid = 0;
    ASSERT_EQ(zvdbGetRowid(rr, &rowid), 0);
    EXPECT_EQ(rowid, last_rowid + 1);
    int32_t k = 0;
    ASSERT_EQ(zvdbGetFieldAsSigned(rr, number("k"), &k), 0);
    EXPECT_EQ(k, identity + 3);
    EXPECT_EQ(files(), (std::vector<std::string>{"alt.dat", "alt.idx"}));
}

// A retype the stored values do not keep: the copy converts each value.
TEST_F(AlterCopyTest, CopyConvertsTimesToMilliseconds) {
    create([](ZVHANDLE t) {
        add_field(t, "a", ZV_INT4);
        add_field(t, "t", ZV_TIME);
        add_index(t, "bya", 0, {"a"});
    }, 0);
    ZVHANDLE r = rec();
    for (int32_t v : {1, 2}) {
        ASSERT_EQ(zvdbClearRecord(r), 0);
        ASSERT_EQ(zvdbSetFieldAsSigned(r, number("a"), v), 0);
        ASSERT_EQ(zvdbSetFieldAsTime(r, number("t"), ZVTIME(3600 * v)), 0);
        ASSERT_EQ(zvdbWriteRecord(r), 0) << last();
    }
    drop_record();
    ASSERT_EQ(zvdbSetFieldType(fld("t"), ZV_TIME_MS), 0);
    EXPECT_EQ(zvdbGetTableStatus(table_), 16u);
    ASSERT_EQ(zvdbAlterTable(table_, 0), 0) << last();
    EXPECT_EQ(zvdbGetFieldType(fld("t")), ZV_TIME_MS);
    r = rec();
    ASSERT_EQ(zvdbSetDefaultIndexByName(r, "bya"), 0);
    std::vector<ZVTIME> ms;
    for (ZVDBRET rc = zvdbFirstRecord(r); rc == 0; rc = zvdbNextRecord(r)) {
        ZVTIME v = 0;
        ASSERT_EQ(zvdbGetFieldAsTimeMsec(r, number("t"), &v), 0);
        ms.push_back(v);
    }
    EXPECT_EQ(ms, (std::vector<ZVTIME>{3600000, 7200000}));
}

// A new unique index over duplicate values, by a full rebuild: with 0x1000
// the later duplicates are left out; without, the copy fails with 2 and
// the table stays as it was.
TEST_F(AlterCopyTest, DuplicatesOfANewUniqueIndex) {
    create(copy_layout, 0);
    for (int32_t v = 1; v <= 12; v++) {
        add(v);
        if (v % 4 == 0) {
            ASSERT_EQ(zvdbSetFieldAsString(rec(), number("b"), "same"), 0);
            ASSERT_EQ(zvdbWriteRecord(rec()), 0);
        }
    }
    const std::vector<Kept> all = kept();
    drop_record();
    add_index(table_, "byb", 0, {"b"});
    const std::vector<std::string> names = files();
    EXPECT_EQ(zvdbAlterTable(table_, 3), 2);
    EXPECT_EQ(last(), 2);
    EXPECT_EQ(files(), names) << "the new files are gone";
    EXPECT_EQ(idx("byb"), nullptr) << "the handles read again from the files";
    EXPECT_EQ(kept(), all);
    EXPECT_EQ(keys("bya"), 12);
    drop_record();

    add_index(table_, "byb", 0, {"b"});
    ASSERT_EQ(zvdbAlterTable(table_, 3 | 0x1000), 0) << last();
    const std::vector<Kept> left = kept();
    ASSERT_EQ(left.size(), 10u);
    for (int32_t gone : {8, 12}) {
        EXPECT_EQ(std::count_if(left.begin(), left.end(), [gone](const Kept &k) { return k.a == gone; }), 0) << gone;
    }
    EXPECT_EQ(keys("byb"), 10);
}

TEST_F(AlterCopyTest, EmptyReplacementStartsItsSerialAgain) {
    create(copy_layout, 0);
    for (int32_t v = 1; v <= 30; v++) add(v);
    drop_record();
    watch_progress();
    ASSERT_EQ(zvdbAlterTable(table_, 0x2000), 0) << last();
    // The engine's file-rule lookups, off while the replacement was made,
    // are on again.
    EXPECT_EQ(zvWNGV->statusword & 0x00800000u, 0u);
    EXPECT_TRUE(g_progress.empty()) << "nothing copied";
    EXPECT_EQ(kept().size(), 0u);
    add(99);
    ZVBIGINT rowid = 0;
    ASSERT_EQ(zvdbGetRowid(rec(), &rowid), 0);
    EXPECT_EQ(rowid, 1);
    EXPECT_EQ(files(), (std::vector<std::string>{"alt.dat", "alt.idx"}));
}

// The progress callback: 0 first, each new whole percentage, 100 last.
TEST_F(AlterCopyTest, ProgressGoesByWholePercentages) {
    create(copy_layout, 0);
    watch_progress();
    ASSERT_EQ(zvdbAlterTable(table_, 3), 0) << last();
    EXPECT_EQ(g_progress, (std::vector<uint32_t>{0, 100})) << "an empty table";
    for (int32_t v = 1; v <= 7; v++) add(v);
    drop_record();
    g_progress.clear();
    ASSERT_EQ(zvdbAlterTable(table_, 3), 0) << last();
    EXPECT_EQ(g_progress, (std::vector<uint32_t>{0, 14, 28, 42, 57, 71, 85, 100}));
    EXPECT_EQ(kept().size(), 7u);
}

// A segmented data file that has grown past its segment size cannot be
// copied: refused before any file changes.
TEST_F(AlterCopyTest, SegmentedTablePastItsSegmentSizeIsRefused) {
    ISEG seg{4, 4, 1};
    IIDX ix{};
    ix.ikeylen = 4;
    ix.inumseg = 1;
    ix.isegarr = &seg;
    ix.ridxnam = "byid";
    IFIL def{};
    def.pfilnam = "seg";
    def.dfilno = -1;
    def.dreclen = 1024;
    def.dnumidx = 1;
    def.iidxarr = &ix;
    XCREblk x[2] = {};
    x[0].mode = 0x02 | 0x08 | 0x200000;
    x[0].segsize = 1;
    x[0].nsegs = 8;
    x[1].mode = 0x02;
    ASSERT_EQ(CREIFILX8(&def, nullptr, nullptr, 0, nullptr, nullptr, x), 0);
    const int datno = def.tfilno;
    // A leading text: a record beginning with 0xFF would read as deleted.
    DATOBJ schema[3] = {{"tag", 0, ZV_FSTRING, 4, 0, 0}, {"id", 0, ZV_INT4, 4, 0, 0}, {"pad", 0, ZV_FSTRING, 1016, 0, 0}};
    ASSERT_EQ(PUTDODA(datno, schema, 3), 0);
    std::vector<unsigned char> record(1024, ' ');
    for (int32_t id = 1; id <= 1100; id++) {
        std::memcpy(record.data() + 4, &id, 4);
        ASSERT_EQ(ADDREC(datno, record.data()), 0) << id;
    }
    ASSERT_EQ(CLIFIL(&def), 0);
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "seg", 0), 0) << last();
    const auto before = snapshot();
    EXPECT_EQ(zvdbAlterTable(table_, 3), ZVDB_NOT_SUPPORTED);
    EXPECT_TRUE(same_files(before));
}

TEST_F(AlterCopyTest, CreateModeChangeCopiesTheTable) {
    create(copy_layout, 0);
    for (int32_t v = 1; v <= 20; v++) add(v);
    const std::vector<Kept> before = kept();
    drop_record();
    const uint32_t mode = zvdbGetTableCreateMode(table_);
    EXPECT_EQ(mode & 0x1000, 0u);
    ASSERT_EQ(zvdbUpdateCreateMode(table_, mode | 0x1000), 0) << last();
    EXPECT_EQ(zvdbGetTableCreateMode(table_) & 0x1000, 0x1000u);
    EXPECT_EQ(kept(), before);
    reopen();
    EXPECT_EQ(zvdbGetTableCreateMode(table_) & 0x1000, 0x1000u);
    // Transaction control asked for: the files get no transaction modes
    // (this engine reads them as a pending rebuild), and take records.
    ASSERT_EQ(zvdbUpdateCreateMode(table_, zvdbGetTableCreateMode(table_) | 1), 0) << last();
    EXPECT_EQ(GETFIL(zvdbGetDatno(table_), 3) & 0x30, 0);
    add(99);
    drop_record();
    EXPECT_EQ(kept().size(), before.size() + 1);
    reopen();
    EXPECT_EQ(kept().size(), before.size() + 1);
}

// The copy allocates nothing per record: its platform allocations are the
// same for 100 records as for 1,000 (after a first copy that makes what the
// process keeps).
TEST_F(AlterCopyTest, CopyAllocationsDoNotGrowWithTheRecords) {
    uint64_t made[3] = {};
    for (int k = 0; k < 3; k++) {
        const int32_t n = k < 2 ? 100 : 1000;
        create(copy_layout, 0);
        for (int32_t v = 1; v <= n; v++) add(v);
        drop_record();
        ASSERT_EQ(zvdbDelFieldByName(table_, "b"), 0);
        made[k] = alteration_allocations(0);
    }
    EXPECT_EQ(made[1], made[2]);
}

// Literal defaults of new fields are their stored bytes, less a last zero
// byte: all of them for bytes without one.
TEST_F(AlterCopyTest, LiteralDefaultsAreTheirStoredBytes) {
    create([](ZVHANDLE t) {
        add_field(t, "a", ZV_INT4);
        add_index(t, "bya", 0, {"a"});
    }, 0);
    add(1);
    drop_record();
    ZVHANDLE arr = zvdbAddField(table_, "arr", ZV_ARRAY, 4);
    ZVHANDLE txt = zvdbAddField(table_, "txt", ZV_FSTRING, 8);
    ASSERT_NE(arr, nullptr);
    ASSERT_NE(txt, nullptr);
    ASSERT_EQ(zvdbSetFieldDefaultValue(arr, "xyz", 3), 0);
    ASSERT_EQ(zvdbSetFieldDefaultValue(txt, "hi", 3), 0);
    ASSERT_EQ(zvdbAlterTable(table_, 0), 0) << last();
    ZVHANDLE r = rec();
    ASSERT_EQ(zvdbFirstRecord(r), 0);
    unsigned char bytes[4] = {};
    ASSERT_EQ(zvdbGetFieldAsBinary(r, number("arr"), bytes, 4), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(bytes), 3), "xyz");
    char text[16] = {};
    ASSERT_EQ(zvdbGetFieldAsString(r, number("txt"), text, int32_t(sizeof text)), 0);
    EXPECT_STREQ(text, "hi");
}

void open_in_host(ZVHANDLE t) {
    ASSERT_EQ(zvdbSetTablePath(t, "host.sup!"), 0);
    ASSERT_EQ(zvdbOpenTable(t, "alt", 0), 0) << zvdbGetError(t);
}

// The members of a superfile host. The session logs out first: it closes
// the host, which the open of a member opened.
std::vector<std::string> members(tagZVDBSESSION *s, const char *hostname) {
    std::vector<std::string> out;
    EXPECT_EQ(zvdbLogout(s), 0);
    EXPECT_EQ(zvdbLogon(s, nullptr, "tester", nullptr), 0);
    const int h = AVLFILNUM(2);
    EXPECT_EQ(OPNFIL(h, hostname, 0), 0);
    char name[256];
    for (int n = 1; GETMNAME(h, name, sizeof name, n) == 0; n++) out.emplace_back(name);
    EXPECT_EQ(CLSFIL(h, 0), 0);
    return out;
}

// A table whose files are members of a superfile host is copied within the
// host: the new members take the names of the old ones, which go, also
// an index file named apart from its data file.
TEST_F(AlterCopyTest, ATableInAHostIsCopiedInItsHost) {
    layout(table_);
    ASSERT_EQ(zvdbSetTablePath(table_, "host.sup!"), 0);
    ASSERT_EQ(zvdbCreateTable(table_, "alt", kRaw), 0) << last();
    open_in_host(table_);
    fill(40);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    const std::vector<std::string> before = members(session_, "host.sup");
    open_in_host(table_);
    ASSERT_EQ(zvdbAlterTable(table_, 3), 0) << last();
    EXPECT_EQ(rows(), rows_upto(40));
    EXPECT_EQ(keys("byid"), 40);
    EXPECT_EQ(keys("byname"), 40);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    EXPECT_EQ(members(session_, "host.sup"), before);

    open_in_host(table_);
    add_index(table_, "byqty", 1, {"qty"}, "own");
    ASSERT_EQ(zvdbAlterTable(table_, 0), 0) << last();
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    const std::vector<std::string> own = members(session_, "host.sup");
    open_in_host(table_);
    EXPECT_EQ(zvdbAlterTable(table_, 3), 0) << last();
    EXPECT_EQ(rows(), rows_upto(40));
    EXPECT_EQ(keys("byqty"), 40);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    EXPECT_EQ(members(session_, "host.sup"), own);
}

}  // namespace

// Rebuild and compaction of an open table in place: the definition handed
// to the engine, the records and keys kept, the file shrunk by compaction,
// purged duplicates, a failing write at any point, the progress routine; the
// system filters and the debug dump of a table.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/platform.h"
#include "recapi/base/wrappers.h"
#include "recapi/base/session.h"
#include "recapi/schema/rebuild.h"
#include "tests/recapi/schema/maintfix.h"
#include "tests/support/damage.h"

namespace {

class RebuildTest : public schematest::MaintTest {
protected:
    // Makes the record with that id current (a walk of "pk"): its record
    // position, 0 when there is none.
    uint64_t position_of(int32_t id) {
        std::vector<unsigned char> image(table_->fixedlen);
        const int key = zvdbGetIdxnoByNumber(table_, 0);
        for (int rc = FRSREC(key, image.data()); rc == 0; rc = NXTREC(key, image.data())) {
            int32_t v = 0;
            std::memcpy(&v, &image[16], 4);
            if (v != id) continue;
            uint64_t pos = 0;
            return _zvdbGETCURP(table_->datno, &pos) == 0 ? pos : 0;
        }
        return 0;
    }
    void delete_id(int32_t id) {
        ASSERT_NE(position_of(id), 0u) << id;
        ASSERT_EQ(_zvdbDELREC(table_->datno), 0) << id;
    }
    void failing_rebuilds(const std::vector<int32_t> &modes, int batch = 30);
    // The cust table made in the superfile host "host.sup" and opened.
    void make_cust_in_host() {
        cust();
        ASSERT_EQ(zvdbSetTablePath(table_, "host.sup!"), 0);
        ASSERT_EQ(zvdbCreateTable(table_, "cust", 0), 0) << last();
        ASSERT_EQ(zvdbSetTablePath(table_, "host.sup!"), 0);
        ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
    }
};

TEST_F(RebuildTest, TheDefinitionCarriesTheModeAsRebuildOptions) {
    make_cust();
    const int16_t options[] = {0, -101, -99, -200};
    for (int32_t mode = 0; mode < 4; mode++) {
        SCOPED_TRACE(mode);
        zv::RebuildDefinition def;
        ASSERT_EQ(zv::rebuild_definition(table_, mode, &def), 0);
        EXPECT_EQ(def.ifil->tfilno, options[mode]);
        EXPECT_EQ(def.ifil->dfilno, -1);
        EXPECT_STREQ(def.ifil->pfilnam, "./cust");
        EXPECT_EQ(def.ifil->dnumidx, 4);
    }
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    zv::RebuildDefinition def;
    EXPECT_EQ(zv::rebuild_definition(table_, 0, &def), ZVDB_NOT_ACTIVE);
}

TEST_F(RebuildTest, ARebuildKeepsEveryRecordAndKeyAndReopensTheTable) {
    make_cust(true, 0, 4 | 2);
    add(table_, 0, 40);
    ASSERT_EQ(zvdbRebuildTable(table_, 0), 0) << last();
    EXPECT_EQ(zvdbIsActiveTable(table_), 1);
    EXPECT_EQ(zvdbGetTableOpenMode(table_), 2u);
    EXPECT_TRUE(holds(table_, range(0, 40)));
    EXPECT_EQ(scan(table_), range(0, 40));
    // Records written after the rebuild reach every index.
    add(table_, 40, 45);
    EXPECT_TRUE(holds(table_, range(0, 45)));
}

TEST_F(RebuildTest, CompactionShrinksTheDataFileAndKeepsTheRest) {
    make_cust(true);
    add(table_, 0, 400);
    std::vector<int32_t> kept;
    for (int32_t id = 0; id < 400; id++) {
        if (id % 2) {
            delete_id(id);
        } else {
            kept.push_back(id);
        }
    }
    // Sizes are read with the files closed, their caches written.
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    const auto before = std::filesystem::file_size("cust.dat");
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
    ASSERT_EQ(zvdbRebuildTable(table_, 8), 0) << last();
    EXPECT_TRUE(holds(table_, kept));
    EXPECT_EQ(scan(table_), kept);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    EXPECT_LT(std::filesystem::file_size("cust.dat"), before * 3 / 4);
}

// The files of the table are members of a superfile host: written out
// with the host's, rebuilt in the host. The engine compacts no member
// (48): the table is then closed, and opens again with every record.
TEST_F(RebuildTest, ATableInASuperfileHostIsRebuiltInItsHost) {
    make_cust_in_host();
    add(table_, 0, 60);
    std::vector<int32_t> kept;
    for (int32_t id = 0; id < 60; id++) {
        if (id % 3 == 0) delete_id(id);
        else kept.push_back(id);
    }
    for (const int32_t mode : {0, 2}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(zvdbRebuildTable(table_, mode), 0) << last();
        EXPECT_EQ(zvdbIsActiveTable(table_), 1);
        EXPECT_TRUE(holds(table_, kept));
        EXPECT_EQ(scan(table_), kept);
    }
    add(table_, 60, 65);
    for (int32_t id = 60; id < 65; id++) kept.push_back(id);
    EXPECT_TRUE(holds(table_, kept));
    EXPECT_EQ(zvdbRebuildTable(table_, 8), 48);
    EXPECT_EQ(zvdbIsActiveTable(table_), 0);
    ASSERT_EQ(zvdbSetTablePath(table_, "host.sup!"), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
    EXPECT_TRUE(holds(table_, kept));
}

TEST_F(RebuildTest, PurgedDuplicatesAnswer650WithTheTableOpen) {
    make_cust();
    add(table_, 1, 3);
    // Record 2 takes id 1 behind the indexes' back.
    const uint64_t pos = position_of(2);
    ASSERT_NE(pos, 0u);
    std::vector<unsigned char> image(table_->fixedlen);
    ASSERT_EQ(REDREC(table_->datno, uint32_t(pos), image.data()), 0);
    const int32_t one = 1;
    std::memcpy(&image[16], &one, 4);
    ASSERT_EQ(WRTREC(table_->datno, uint32_t(pos), image.data()), 0);
    mark();
    EXPECT_EQ(zvdbRebuildTable(table_, 1), 650);
    EXPECT_EQ(zvdbIsActiveTable(table_), 1);
    EXPECT_EQ(ids(table_, 0), std::vector<int32_t>{1});
    EXPECT_EQ(scan(table_), std::vector<int32_t>{1});
}

// A write failing once at the nth write of a rebuild in each mode, n = 1,
// 2, ... until the rebuild makes fewer than n writes, each after `batch`
// new records: each failure returns its code. A failure while the files
// are written out leaves the table open; a later one leaves it not active
// (record calls give 4012), and opening it again by name finds every record
// under every index, or, when the close could not mark the files closed
// (14), an open that accepts that (open bit 4) and a rebuild do. A failed
// write-back of a cached page that a read wanted room from is no failure
// of the rebuild (the read takes a clean page, the changed one is written
// later): the rebuild then answers 0 with every record.
void RebuildTest::failing_rebuilds(const std::vector<int32_t> &modes, int batch) {
    ZVHANDLE r = zvdbAllocRecord(table_);
    ASSERT_NE(r, nullptr);
    int records = 0;
    for (const int32_t mode : modes) {
        SCOPED_TRACE(mode);
        add(table_, records, records + batch);
        records += batch;
        bool done = false;
        int open = 0, closed = 0;
        for (long n = 1; n < 400 && !done; n++) {
            SCOPED_TRACE(n);
            zv::fault_reset();
            zv::fault_set(zv::IoKind::Write, n, EIO);
            const ZVDBRET rc = zvdbRebuildTable(table_, mode);
            const bool fired = zv::io_calls(zv::IoKind::Write) >= n;
            zv::fault_reset();
            done = rc == 0 && !fired;
            if (done) break;
            if (rc == 0) {
                EXPECT_EQ(scan(table_), range(0, records));
                continue;
            }
            EXPECT_EQ(last(), rc);
            if (zvdbIsActiveTable(table_)) {
                open++;
                EXPECT_EQ(scan(table_), range(0, records));
                continue;
            }
            closed++;
            EXPECT_EQ(zvdbFirstRecord(r), ZVDB_NOT_ACTIVE);
            EXPECT_EQ(zvdbRebuildTable(table_, mode), ZVDB_NOT_ACTIVE);
            const ZVDBRET again = zvdbOpenTable(table_, "cust", 0);
            ASSERT_TRUE(again == 0 || again == 14) << again;
            if (again == 14) {
                ASSERT_EQ(zvdbOpenTable(table_, "cust", 4), 0) << last();
                ASSERT_EQ(zvdbRebuildTable(table_, 0), 0) << last();
            }
            EXPECT_EQ(scan(table_), range(0, records));
            EXPECT_TRUE(holds(table_, range(0, records)));
        }
        EXPECT_TRUE(done);
        EXPECT_GE(open, 2);
        EXPECT_GE(closed, 3);
        EXPECT_TRUE(holds(table_, range(0, records)));
    }
    zvdbFreeRecord(r);
}

TEST_F(RebuildTest, AFailedRebuildLeavesTheTableClosedAndItsRecordsWhole) {
    make_cust(true);
    failing_rebuilds({8, 0});
}

// Enough records that the host's pages outgrow the data cache: writes then
// come both while the table's definition is read and while its files are
// flushed, before they are closed.
TEST_F(RebuildTest, AFailedRebuildOfATableInAHostLeavesItsRecordsWhole) {
    make_cust_in_host();
    failing_rebuilds({0}, 300);
}

TEST_F(RebuildTest, MissingAndClosedTablesAreNotKept) {
    mark();
    EXPECT_EQ(zvdbRebuildTable(nullptr, 0), ZVDB_NO_TABLE);
    EXPECT_EQ(zvdbRebuildTable(table_, 0), ZVDB_NOT_ACTIVE);
    EXPECT_EQ(last(), 7777);
}

uint32_t g_progress_calls = 0;
int progress(uint32_t, int32_t, const char *) { return ++g_progress_calls, 0; }

TEST_F(RebuildTest, TheProgressRoutineIsCalledWhileItIsSet) {
    make_cust();
    add(table_, 0, 10);
    ASSERT_EQ(zvdbSetCallbackOnRebuild(progress, 1), 0);
    ASSERT_EQ(zvdbRebuildTable(table_, 0), 0) << last();
    EXPECT_GT(g_progress_calls, 0u);
    ASSERT_EQ(zvdbSetCallbackOnRebuild(nullptr, 0), 0);
    const uint32_t calls = g_progress_calls;
    ASSERT_EQ(zvdbRebuildTable(table_, 8), 0) << last();
    EXPECT_EQ(g_progress_calls, calls);
}

// Records that pass the filter in "pk" order, skipping the rejected ones.
std::vector<int32_t> filtered(tagZVDBTABLE *t) {
    std::vector<int32_t> out;
    std::vector<unsigned char> image(t->fixedlen);
    const int key = zvdbGetIdxnoByNumber(t, 0);
    for (int rc = FRSREC(key, image.data()); rc == 0 || rc == 739; rc = NXTREC(key, image.data())) {
        int32_t v = 0;
        std::memcpy(&v, &image[16], 4);
        if (rc == 0) out.push_back(v);
    }
    return out;
}

TEST_F(RebuildTest, SystemFiltersAreRefusedByTheEngineAndLeaveTheRecordFilter) {
    make_cust();
    add(table_, 0, 6);
    ASSERT_EQ(SETFLTR(table_->datno, "id > 2"), 0);
    for (int32_t mode : {1, 2, 3}) {
        SCOPED_TRACE(mode);
        mark();
        EXPECT_EQ(zvdbSystemFilterOn(table_, mode), 454);
        EXPECT_EQ(last(), 454);
        EXPECT_EQ(zvdbSystemFilterOff(table_, mode), 454);
        EXPECT_EQ(filtered(table_), range(3, 6));
    }
    EXPECT_EQ(zvdbSystemFilterOn(table_, 4), ZVDB_BAD_ARGUMENT);
    EXPECT_EQ(zvdbSystemFilterOff(table_, 0), ZVDB_BAD_ARGUMENT);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    EXPECT_EQ(zvdbSystemFilterOn(table_, 1), ZVDB_NOT_ACTIVE);
    EXPECT_EQ(zvdbSystemFilterOff(nullptr, 1), ZVDB_NO_TABLE);
}

TEST_F(RebuildTest, TheDumpShowsStatusSchemaAndDefinition) {
    make_cust();
    EXPECT_EQ(_zvdbTableDisplayDetail("zvdbTest", table_, 42, "dump.txt"), 42);
    const std::vector<std::string> lines = zvtest::lines_of(zvtest::read_file("dump.txt"));
    ASSERT_GT(lines.size(), 10u);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], "zvdbTest returned 42 <<< ERROR >>>");
    EXPECT_EQ(lines[2].rfind("   Table status => name: cust, active: YES, uid: 0, datno: ", 0), 0u) << lines[2];
    EXPECT_EQ(lines[2].substr(lines[2].size() - 16), ", database: NULL");
    EXPECT_EQ(lines[3], "    Table DODA:");
    EXPECT_EQ(lines[4], "    fsymb                            fadr     ftype        flen");
    EXPECT_EQ(lines[8].substr(0, 37), "    id                               ");
    EXPECT_EQ(lines[8].substr(45), " ZV_INT4      4");
    const std::string rule60 = "    " + std::string(60, '-'), rule56 = "        " + std::string(56, '-'),
                      rule52 = "            " + std::string(52, '-');
    EXPECT_EQ(lines[11], rule60);
    EXPECT_EQ(lines[12], "    Table IFIL");
    EXPECT_EQ(lines[13], "    pfilnam: ./cust");
    EXPECT_EQ(lines[23], "    dnumidx: 4");
    EXPECT_EQ(lines[24], rule56);
    EXPECT_EQ(lines[25], "        IIDX[0]");
    EXPECT_EQ(lines[31], "        ridxnam: $RECBYT$");
    EXPECT_EQ(lines[33], "        inumseg: 1");
    EXPECT_EQ(lines[34], rule52);
    EXPECT_EQ(lines[35], "            ISEG[0]");
    EXPECT_EQ(lines[38], "            segmode: 256");
    EXPECT_EQ(lines.back(), rule60);
    size_t iidx = 0, iseg = 0;
    for (const std::string &l : lines) {
        iidx += l == rule56;
        iseg += l == rule52;
    }
    EXPECT_EQ(iidx, 4u);
    EXPECT_EQ(iseg, 4u);
    // Code 0 writes no error line; the dictionary table writes nothing.
    std::filesystem::remove("dump.txt");
    EXPECT_EQ(_zvdbTableDisplayDetail("zvdbTest", table_, 0, "dump.txt"), 0);
    EXPECT_EQ(zvtest::lines_of(zvtest::read_file("dump.txt"))[0].rfind("   Table status", 0), 0u);
    std::filesystem::remove("dump.txt");
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    auto *dict = static_cast<tagZVDBTABLE *>(zvdbAllocTable(session_));
    ASSERT_EQ(zv::replace_text(&dict->name, "zvdbdict"), 0);
    EXPECT_EQ(_zvdbTableDisplayDetail("zvdbTest", dict, 5, "dump.txt"), 5);
    EXPECT_FALSE(std::filesystem::exists("dump.txt"));
    zvdbFreeTable(dict);
}

// The README's repair of a table that answers 14, of a table of three
// variable-length records whose second one's header has its mark damaged,
// the first record 6,000 bytes long (a 4096-byte boundary between it and
// the damaged header) or 100: the rebuild answers 1107 and frees nothing,
// the damaged record's bytes still in the data file.
TEST_F(RebuildTest, ARecordWithADamagedMarkIsNotRepairedAway) {
    int run = 0;
    for (const size_t first : {size_t(6000), size_t(100)}) {
        SCOPED_TRACE("first record " + std::to_string(first) + " bytes");
        const std::string name = "notes" + std::to_string(run++), dat = name + ".dat";
        zvdbFreeTable(table_);
        table_ = static_cast<tagZVDBTABLE *>(zvdbAllocTable(session_));
        ASSERT_NE(table_, nullptr);
        tagZVDBFIELD *id = field("id", ZV_INT4);
        field("note", ZV_STRING, 8000);
        ASSERT_NE(zvdbAddSegment(index("pk"), id, 12), nullptr);
        ASSERT_EQ(zvdbCreateTable(table_, name.c_str(), 0), 0) << last();
        ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
        ASSERT_EQ(zvdbOpenTable(table_, name.c_str(), 0), 0) << last();
        // The notes make the records about `first`, 300 and 40 bytes long.
        const std::string notes[] = {std::string(first - 20, 'a'), std::string(300, 'b'), std::string(40, 'c')};
        ZVHANDLE r = zvdbAllocRecord(table_);
        ASSERT_NE(r, nullptr);
        for (int32_t k = 0; k < 3; k++) {
            zvdbClearRecord(r);
            zvdbSetFieldAsSigned(r, 0, k + 1);
            zvdbSetFieldAsString(r, 1, notes[k].c_str());
            ASSERT_EQ(zvdbWriteRecord(r), 0) << last();
        }
        zvdbFreeRecord(r);
        ASSERT_EQ(zvdbCloseTable(table_), 0) << last();

        // The second record's header: the last one before its note.
        const std::string disk = zvtest::read_bytes(dat, 0, zvtest::file_size(dat));
        const size_t note = disk.find(notes[1]), before = disk.find(notes[0]);
        ASSERT_NE(note, std::string::npos);
        size_t pos = disk.rfind("\xFA\xFA", note);
        ASSERT_TRUE(pos != std::string::npos && pos > before);
        ASSERT_EQ(before / 4096 != (pos + 9) / 4096, first > 4096) << "a 4096-byte boundary between the two";
        zvtest::write_bytes(dat, pos, "\x12\x34");
        zvtest::write_bytes(dat, 56, "\xFF");  // not closed cleanly

        ASSERT_EQ(zvdbOpenTable(table_, name.c_str(), 0), 14);
        ASSERT_EQ(zvdbOpenTable(table_, name.c_str(), 4), 0) << last();
        EXPECT_EQ(zvdbRebuildTable(table_, 1), 1107);
        EXPECT_EQ(zvdbIsActiveTable(table_), 0);
        EXPECT_EQ(zvtest::read_bytes(dat, pos, 2), "\x12\x34");
        EXPECT_EQ(zvtest::read_bytes(dat, note, notes[1].size()), notes[1]) << "the record is still there";
        EXPECT_EQ(zvdbOpenTable(table_, name.c_str(), 0), 14) << "still to be repaired";
    }
}

class RebuildDbTest : public schematest::MaintDbTest {};

// A table whose logical name is not its file name is rebuilt on its files.
TEST_F(RebuildDbTest, ATableIsRebuiltUnderItsPhysicalName) {
    make_db_cust();
    add(table_, 0, 12);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    ASSERT_EQ(zvdbDropTable(db_, "cust"), 0) << last();
    ASSERT_EQ(zvdbAddTableXtd(db_, "Customers", "cust.dat", "db"), 0) << last();
    ASSERT_EQ(zvdbOpenTable(table_, "Customers", 0), 0) << last();
    EXPECT_STREQ(zvdbGetTableName(table_), "Customers");
    zv::RebuildDefinition def;
    ASSERT_EQ(zv::rebuild_definition(table_, 0, &def), 0);
    EXPECT_STREQ(def.ifil->pfilnam, "db/cust");
    for (int32_t mode : {0, 8}) {
        ASSERT_EQ(zvdbRebuildTable(table_, mode), 0) << last();
        EXPECT_EQ(scan(table_), range(0, 12));
    }
}

}  // namespace

// A process that changed the session and database dictionaries (made a
// database and its tables) and filled the tables, flushed, and was killed
// without logging out: the next logon and connect repair the dictionaries
// themselves and keep their entries, and each table that answers 14 comes
// back through its open for rebuild (open bit 4) and zvdbRebuildTable, with
// every record flushed before the kill.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/platform.h"
#include "recapi/base/handles.h"
#include "tests/support/child.h"
#include "tests/support/fixture.h"
#include "tests/support/verifyset.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"

namespace {

constexpr int kRecords = 400;

// A table of the database and where its files lie: the database's
// directory, the superfile host of the database's dictionary, or a host of
// its own.
struct TableCase {
    const char *name;
    const char *index;
    const char *path;     // null: the database's directory
    const char *datfile;  // its data file, for the verification
    const char *host;     // a host of its own, or null
};

const TableCase kTables[] = {
    {"cust", "custno", nullptr, "db/cust.dat", nullptr},
    {"orders", "orderno", "db/Sales.qdd!", "db/Sales.qdd!orders.dat", nullptr},
    {"items", "itemno", "db/stock!", "db/stock!items.dat", "db/stock"},
};

class DictKill : public zvtest::ZvTest {
protected:
    // The tables of a layout: dictionaries in superfile hosts hold a table
    // in the database dictionary's host too; plain dictionaries (each a
    // directory holding its table) only the table of the database's
    // directory.
    static std::vector<TableCase> tables(bool insuper) {
        std::vector<TableCase> out;
        for (const TableCase &tc : kTables)
            if (insuper || !tc.path) out.push_back(tc);
        return out;
    }
    // In a child: the session dictionary, the database "Sales" in "db", its
    // tables filled with kRecords records each, a flush of every file, and
    // an end without logout. The UIDs of the database and of the tables go
    // to the file "uids".
    static void make_and_kill(bool insuper = true) {
        std::filesystem::create_directories("db");
        zvtest::ChildResult c = zvtest::run_in_child([insuper] {
            zvtest::ChildResult r;
            ZVHANDLE s = zvdbAllocSession(0);
            if ((r.rc = zvdbSetDictInSuperfile(s, insuper)) || (r.rc = zvdbCreateSession(s, nullptr, nullptr, nullptr)) ||
                (r.rc = zvdbLogon(s, nullptr, "tester", nullptr)) || (r.rc = zvdbCreateDatabase(s, "Sales", "db")))
                return r;
            ZVHANDLE db = zvdbAllocDatabase(s);
            if ((r.rc = zvdbConnect(db, "Sales"))) return r;
            std::ostringstream uids;
            uint32_t uid = 0;
            if ((r.rc = zvdbGetDatabaseUID(s, "Sales", &uid))) return r;
            uids << uid;
            for (const TableCase &tc : tables(insuper)) {
                ZVHANDLE t = zvdbAllocTable(db);
                zvdbAddField(t, "custno", ZV_INT4, 4);
                zvdbAddField(t, "name", ZV_FSTRING, 20);
                zvdbAddIndex(t, tc.index, 0, 0, 0);
                zvdbAddSegmentByNbr(t, 0, 0, 12);
                if (tc.path && (r.rc = zvdbSetTablePath(t, tc.path))) return r;
                if ((r.rc = zvdbCreateTable(t, tc.name, 0)) || (r.rc = zvdbOpenTable(t, tc.name, 0))) return r;
                ZVHANDLE rec = zvdbAllocRecord(t);
                for (int k = 1; k <= kRecords; k++) {
                    zvdbClearRecord(rec);
                    zvdbSetFieldAsSigned(rec, 0, k);
                    zvdbSetFieldAsString(rec, 1, tc.name);
                    if ((r.rc = zvdbWriteRecord(rec))) return r;
                }
                if ((r.rc = zvdbGetTableUID(db, tc.name, &uid))) return r;
                uids << ' ' << uid;
            }
            if ((r.rc = ZVFLUSH(-1))) return r;
            zvtest::write_file("uids", uids.str());
            _exit(0);
        });
        ASSERT_FALSE(c.ok) << "the child ended without logging out: " << c.rc;
        ASSERT_FALSE(zvtest::read_file("uids").empty());
    }
    // The documented way back after the kill: logon and connect (which
    // repair the dictionaries); a table in a host of its own that answers
    // 413 (its host not closed cleanly) has the host rebuilt first; each
    // table that answers 14 is opened for rebuild and rebuilt. The entries
    // keep their UIDs, the tables hold every record in key order, and every
    // set verifies sound.
    void expect_back(bool insuper = true) {
        const std::vector<TableCase> made = tables(insuper);
        std::istringstream in(zvtest::read_file("uids"));
        uint32_t dbuid = 0;
        std::vector<uint32_t> tableuids(made.size());
        in >> dbuid;
        for (uint32_t &u : tableuids) in >> u;

        ZVHANDLE s = zvdbAllocSession(0);
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(zvdbLogon(s, nullptr, "tester", nullptr), 0) << "the session dictionary repaired at logon";
        uint32_t uid = 0;
        EXPECT_EQ(zvdbGetDatabaseCount(s), 1);
        ASSERT_EQ(zvdbGetDatabaseUID(s, "Sales", &uid), 0);
        EXPECT_EQ(uid, dbuid) << "the database keeps its entry";
        ZVHANDLE db = zvdbAllocDatabase(s);
        ASSERT_EQ(zvdbConnect(db, "Sales"), 0) << "the database dictionary repaired at connect";
        EXPECT_EQ(zvdbGetTableCount(db), int32_t(made.size()));
        for (size_t i = 0; i < made.size(); i++) {
            const TableCase &tc = made[i];
            SCOPED_TRACE(tc.name);
            ASSERT_EQ(zvdbGetTableUID(db, tc.name, &uid), 0);
            EXPECT_EQ(uid, tableuids[i]) << "the table keeps its entry";
            ZVHANDLE t = zvdbAllocTable(db);
            int rc = zvdbOpenTable(t, tc.name, 0);
            if (rc == 413 && tc.host) {
                ASSERT_EQ(ZVSBLDX(tc.host, nullptr), 0);
                rc = zvdbOpenTable(t, tc.name, 0);
            }
            if (rc == 14) {
                ASSERT_EQ(zvdbOpenTable(t, tc.name, 4), 0);
                ASSERT_EQ(zvdbRebuildTable(t, 0), 0) << zvtest::read_file("ZVSTATUS.QVS");
            } else {
                ASSERT_EQ(rc, 0);
            }
            // Every record, in key order through the index.
            ZVHANDLE r = zvdbAllocRecord(t);
            ASSERT_EQ(zvdbSetDefaultIndexByName(r, tc.index), 0);
            int32_t want = 1;
            for (rc = zvdbFirstRecord(r); rc == 0; rc = zvdbNextRecord(r), want++) {
                int32_t got = 0;
                ASSERT_EQ(zvdbGetFieldAsSigned(r, 0, &got), 0);
                ASSERT_EQ(got, want);
            }
            EXPECT_EQ(rc, 101);
            EXPECT_EQ(want - 1, kRecords);
            zvdbFreeRecord(r);
            EXPECT_EQ(zvdbCloseTable(t), 0);
            zvdbFreeTable(t);
        }
        EXPECT_EQ(zvdbDisconnect(db), 0);
        EXPECT_EQ(zvdbFreeDatabase(db), 0);
        EXPECT_EQ(zvdbLogout(s), 0);
        EXPECT_EQ(zvdbFreeSession(s), 0);
        // Every set verifies sound: the dictionaries and the tables (the engine
        // started as a session starts it).
        ASSERT_EQ(INTISAMX(10, 32, 32, 10, 513 | 0x21), 0);
        const char sep = insuper ? '!' : '/';
        EXPECT_TRUE(zvtest::verify_set(std::string("zvdbdict.qsd") + sep + "zvdbdict.dat"));
        EXPECT_TRUE(zvtest::verify_set(std::string("db/Sales.qdd") + sep + "zvdbdict.dat"));
        for (const TableCase &tc : made) EXPECT_TRUE(zvtest::verify_set(tc.datfile));
        CLISAM();
    }
};

// Dictionaries in superfile hosts, and plain ones.
TEST_F(DictKill, TheDictionariesAndTablesOfAKilledSessionComeBack) {
    for (bool insuper : {true, false}) {
        SCOPED_TRACE(insuper ? "in superfile hosts" : "plain");
        std::filesystem::remove_all("db");
        for (const char *f : {"zvdbdict.qsd", "uids"}) std::filesystem::remove_all(f);
        make_and_kill(insuper);
        expect_back(insuper);
    }
}

// A kill inside that repair (the superfile rebuild of a dictionary's host
// or the rebuild of its table, at logon or at connect) leaves it to be done
// again: the next logon and connect complete it with every entry and
// record. ZV_DICTKILL_RUNS kill points (default 12) are spread over the
// repair's writes; ZV_DICTKILL_SEED moves them.
TEST_F(DictKill, AKillInsideTheRepairOfADictionaryLeavesItRepairable) {
    make_and_kill();
    // The files the kill left, the database's directory with them.
    zvtest::save_tree();
    auto repair_in_child = [](long killat) {
        return zvtest::run_in_child([killat] {
            zvtest::ChildResult r;
            ZVHANDLE s = zvdbAllocSession(0);
            zv::fault_reset();
            if (killat > 0) zv::fault_exit(zv::IoKind::Write, killat, 77);
            if ((r.rc = zvdbLogon(s, nullptr, "tester", nullptr))) return r;
            ZVHANDLE db = zvdbAllocDatabase(s);
            r.rc = zvdbConnect(db, "Sales");
            r.extra = int(zv::io_calls(zv::IoKind::Write));
            return r;
        });
    };
    const zvtest::ChildResult whole = repair_in_child(0);
    ASSERT_TRUE(whole.ok);
    ASSERT_EQ(whole.rc, 0);
    ASSERT_GT(whole.extra, 0);
    const char *runs_env = std::getenv("ZV_DICTKILL_RUNS");
    const char *seed_env = std::getenv("ZV_DICTKILL_SEED");
    const long runs = runs_env ? std::atol(runs_env) : 12;
    const long seed = seed_env ? std::atol(seed_env) : 1;
    const long step = runs >= whole.extra ? 1 : whole.extra / runs;
    for (long n = 1 + seed % step; n <= whole.extra; n += step) {
        SCOPED_TRACE("kill at write " + std::to_string(n));
        zvtest::restore_tree();
        EXPECT_FALSE(repair_in_child(n).ok) << "the kill came";
        expect_back();
        if (HasFailure()) break;
    }
}

}  // namespace

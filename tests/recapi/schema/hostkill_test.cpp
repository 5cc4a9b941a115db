// Tables in a superfile host of their own, written by a process that was
// killed after a flush: the host is left not closed cleanly and an open of
// its tables answers 413. Opened for rebuild (open bit 4), a table has the
// host rebuilt first and then comes back through zvdbRebuildTable with
// every record flushed before the kill; the other tables of the host then
// answer 14 and come back the same way. A host that another process, or
// this session, holds is left as it is.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/core/platform.h"
#include "tests/support/child.h"
#include "tests/support/fixture.h"
#include "tests/support/verifyset.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"

namespace {

constexpr int kFlushed = 300;  // records written before the flush
constexpr int kLater = 40;     // records written after it, before the kill
constexpr const char *kHost = "db/stock";
constexpr const char *kTables[] = {"items", "parts"};
constexpr uint32_t kOpenForRebuild = 4;

// Opens the session "tester" and connects the database "Sales".
void connect(ZVHANDLE *s, ZVHANDLE *db) {
    *s = zvdbAllocSession(0);
    ASSERT_EQ(zvdbLogon(*s, nullptr, "tester", nullptr), 0);
    *db = zvdbAllocDatabase(*s);
    ASSERT_EQ(zvdbConnect(*db, "Sales"), 0);
}

void disconnect(ZVHANDLE s, ZVHANDLE db) {
    EXPECT_EQ(zvdbDisconnect(db), 0);
    EXPECT_EQ(zvdbFreeDatabase(db), 0);
    EXPECT_EQ(zvdbLogout(s), 0);
    EXPECT_EQ(zvdbFreeSession(s), 0);
}

class HostKill : public zvtest::ZvTest {
protected:
    // In a child: the database "Sales" in "db" with both tables in the host
    // of their own, each filled with kFlushed records (key k, the table's
    // name), the flush of every open file, kLater records more, and an end
    // without any close.
    static void make_and_kill() {
        std::filesystem::create_directories("db");
        const zvtest::ChildResult c = zvtest::run_in_child([] {
            zvtest::ChildResult r;
            ZVHANDLE s = zvdbAllocSession(0);
            if ((r.rc = zvdbCreateSession(s, nullptr, nullptr, nullptr)) ||
                (r.rc = zvdbLogon(s, nullptr, "tester", nullptr)) || (r.rc = zvdbCreateDatabase(s, "Sales", "db")))
                return r;
            ZVHANDLE db = zvdbAllocDatabase(s);
            if ((r.rc = zvdbConnect(db, "Sales"))) return r;
            ZVHANDLE recs[2] = {};
            for (int i = 0; i < 2; i++) {
                ZVHANDLE t = zvdbAllocTable(db);
                const std::string index = std::string(kTables[i]) + "_no";
                if (!zvdbAddField(t, "no", ZV_INT4, 4) || !zvdbAddField(t, "name", ZV_FSTRING, 20) ||
                    !zvdbAddIndex(t, index.c_str(), 0, 0, 0) || !zvdbAddSegmentByNbr(t, 0, 0, 12))
                    return r;
                if ((r.rc = zvdbSetTablePath(t, "db/stock!")) || (r.rc = zvdbCreateTable(t, kTables[i], 0)) ||
                    (r.rc = zvdbOpenTable(t, kTables[i], 0)))
                    return r;
                recs[i] = zvdbAllocRecord(t);
            }
            auto fill = [&](int from, int to) {
                for (int i = 0; i < 2; i++) {
                    for (int k = from; k <= to; k++) {
                        zvdbClearRecord(recs[i]);
                        zvdbSetFieldAsSigned(recs[i], 0, k);
                        zvdbSetFieldAsString(recs[i], 1, kTables[i]);
                        if (int rc = zvdbWriteRecord(recs[i])) return rc;
                    }
                }
                return 0;
            };
            if ((r.rc = fill(1, kFlushed)) || (r.rc = ZVFLUSH(-1)) || (r.rc = fill(kFlushed + 1, kFlushed + kLater)))
                return r;
            _exit(0);
        });
        ASSERT_FALSE(c.ok) << "the child ended without closing: " << c.rc;
    }

    // The table open after its rebuild holds every flushed record and only
    // records that were written, in key order through its index.
    static void expect_records(ZVHANDLE t, const char *name) {
        ZVHANDLE r = zvdbAllocRecord(t);
        ASSERT_EQ(zvdbSetDefaultIndexByName(r, (std::string(name) + "_no").c_str()), 0);
        int32_t want = 1;
        int rc;
        for (rc = zvdbFirstRecord(r); rc == 0; rc = zvdbNextRecord(r), want++) {
            int32_t got = 0;
            char text[32] = {};
            ASSERT_EQ(zvdbGetFieldAsSigned(r, 0, &got), 0);
            ASSERT_EQ(zvdbGetFieldAsString(r, 1, text, int32_t(sizeof text)), 0);
            ASSERT_EQ(got, want);
            ASSERT_STREQ(text, name);
        }
        EXPECT_EQ(rc, 101);
        EXPECT_GE(want - 1, kFlushed) << "every flushed record is there";
        EXPECT_LE(want - 1, kFlushed + kLater);
        zvdbFreeRecord(r);
    }

    // The documented way back for a table after a kill: opened as usual, or,
    // when it answers 413 (its host not closed cleanly) or 14, opened for
    // rebuild and rebuilt; then it holds its records and opens as usual.
    static void bring_back(ZVHANDLE db, const char *name) {
        ZVHANDLE t = zvdbAllocTable(db);
        const ZVDBRET rc = zvdbOpenTable(t, name, 0);
        if (rc == 413 || rc == 14) {
            ASSERT_EQ(zvdbOpenTable(t, name, kOpenForRebuild), 0);
            const ZVDBRET rebuilt = zvdbRebuildTable(t, 1);
            ASSERT_TRUE(rebuilt == 0 || rebuilt == 650) << rebuilt;
        } else {
            ASSERT_EQ(rc, 0);
        }
        expect_records(t, name);
        ASSERT_EQ(zvdbCloseTable(t), 0);
        ASSERT_EQ(zvdbOpenTable(t, name, 0), 0) << "the table opens as usual again";
        expect_records(t, name);
        ASSERT_EQ(zvdbCloseTable(t), 0);
        zvdbFreeTable(t);
    }

    // Every set of the host verifies sound (the engine started as a session
    // starts it).
    static void verify_tables() {
        ASSERT_EQ(INTISAMX(10, 32, 32, 10, 513 | 0x21), 0);
        for (const char *name : kTables) EXPECT_TRUE(zvtest::verify_set(std::string(kHost) + "!" + name + ".dat"));
        CLISAM();
    }
};

TEST_F(HostKill, ATableOpenedForRebuildHasItsHostRebuiltAndComesBackWithEveryFlushedRecord) {
    make_and_kill();
    ZVHANDLE s = nullptr, db = nullptr;

    // Another process holds the host, opened as it stands: the open for
    // rebuild leaves the host as it is and answers as the engine's open
    // of the member does beside that holder.
    const struct {
        const char *how;
        uint16_t mode;  // the other process's open of the host
        ZVDBRET open;   // the open for rebuild beside it
    } held[] = {
        {"exclusive", 512 | 0x4000, 413},
        {"shared", 513 | 0x4000, 0},
    };
    for (const auto &h : held) {
        SCOPED_TRACE(h.how);
        zvtest::Peer peer([](int mode) {
            zvtest::ChildResult r;
            if ((r.rc = INTISAMX(10, 32, 32, 10, 513 | 0x21)) == 0) r.rc = OPNFIL(0, kHost, uint16_t(mode));
            return r;
        });
        ASSERT_EQ(peer.ask(h.mode).rc, 0);
        const std::string before = zvtest::read_file(kHost);
        ASSERT_NO_FATAL_FAILURE(connect(&s, &db));
        ZVHANDLE t = zvdbAllocTable(db);
        EXPECT_EQ(zvdbOpenTable(t, kTables[0], 0), 413);
        EXPECT_EQ(zvdbOpenTable(t, kTables[0], kOpenForRebuild), h.open);
        EXPECT_EQ(zvdbCloseTable(t), 0);
        zvdbFreeTable(t);
        disconnect(s, db);
        EXPECT_TRUE(zvtest::read_file(kHost) == before) << "the host is unchanged";
    }

    {
        // A read only open takes the files as they stand; while this session
        // holds the host that way, an open for rebuild of the other table
        // takes them as they stand too.
        const std::string before = zvtest::read_file(kHost);
        ASSERT_NO_FATAL_FAILURE(connect(&s, &db));
        ZVHANDLE reader = zvdbAllocTable(db), other = zvdbAllocTable(db);
        EXPECT_EQ(zvdbOpenTable(reader, kTables[0], kOpenForRebuild | 32), 0);
        EXPECT_EQ(zvdbOpenTable(other, kTables[1], kOpenForRebuild), 0);
        EXPECT_EQ(zvdbCloseTable(other), 0);
        EXPECT_EQ(zvdbCloseTable(reader), 0);
        zvdbFreeTable(other);
        zvdbFreeTable(reader);
        disconnect(s, db);
        EXPECT_TRUE(zvtest::read_file(kHost) == before) << "the host is unchanged";
    }

    // The first table finds its host not closed cleanly; the second, the
    // host rebuilt and its own index member empty.
    ASSERT_NO_FATAL_FAILURE(connect(&s, &db));
    ZVHANDLE t = zvdbAllocTable(db);
    EXPECT_EQ(zvdbOpenTable(t, kTables[0], 0), 413);
    ASSERT_NO_FATAL_FAILURE(bring_back(db, kTables[0]));
    EXPECT_EQ(zvdbOpenTable(t, kTables[1], 0), 14);
    ASSERT_NO_FATAL_FAILURE(bring_back(db, kTables[1]));
    zvdbFreeTable(t);
    disconnect(s, db);
    verify_tables();
}

// A kill inside that repair (the superfile rebuild of the host, or the
// rebuild of either table) leaves it to be done again: the same steps then
// bring both tables back with every flushed record. ZV_HOSTKILL_RUNS kill
// points (default 10) are spread over the repair's writes;
// ZV_HOSTKILL_SEED moves them.
TEST_F(HostKill, AKillInsideTheRepairLeavesItToBeDoneAgain) {
    make_and_kill();
    zvtest::save_tree();
    // The repair in a child, ended at its killat-th write after the connect
    // (none when 0); extra counts its writes.
    auto repair_in_child = [](long killat) {
        return zvtest::run_in_child([killat] {
            zvtest::ChildResult r;
            ZVHANDLE s = zvdbAllocSession(0);
            if ((r.rc = zvdbLogon(s, nullptr, "tester", nullptr))) return r;
            ZVHANDLE db = zvdbAllocDatabase(s);
            if ((r.rc = zvdbConnect(db, "Sales"))) return r;
            zv::fault_reset();
            if (killat > 0) zv::fault_exit(zv::IoKind::Write, killat, 77);
            for (const char *name : kTables) {
                ZVHANDLE t = zvdbAllocTable(db);
                r.rc = zvdbOpenTable(t, name, 0);
                if (r.rc == 413 || r.rc == 14) {
                    if ((r.rc = zvdbOpenTable(t, name, kOpenForRebuild))) return r;
                    if ((r.rc = zvdbRebuildTable(t, 1)) == 650) r.rc = 0;
                }
                if (r.rc || (r.rc = zvdbCloseTable(t))) return r;
            }
            r.extra = int(zv::io_calls(zv::IoKind::Write));
            return r;
        });
    };
    const zvtest::ChildResult whole = repair_in_child(0);
    ASSERT_TRUE(whole.ok);
    ASSERT_EQ(whole.rc, 0);
    ASSERT_GT(whole.extra, 0);
    const char *runs_env = std::getenv("ZV_HOSTKILL_RUNS");
    const char *seed_env = std::getenv("ZV_HOSTKILL_SEED");
    const long runs = runs_env ? std::atol(runs_env) : 10;
    const long seed = seed_env ? std::atol(seed_env) : 1;
    const long step = runs >= whole.extra ? 1 : whole.extra / runs;
    for (long n = 1 + seed % step; n <= whole.extra; n += step) {
        SCOPED_TRACE("kill at write " + std::to_string(n));
        zvtest::restore_tree();
        EXPECT_FALSE(repair_in_child(n).ok) << "the kill came";
        ZVHANDLE s = nullptr, db = nullptr;
        ASSERT_NO_FATAL_FAILURE(connect(&s, &db));
        for (const char *name : kTables) {
            SCOPED_TRACE(name);
            ASSERT_NO_FATAL_FAILURE(bring_back(db, name));
        }
        disconnect(s, db);
        verify_tables();
        if (HasFailure()) break;
    }
}

}  // namespace

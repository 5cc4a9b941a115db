// A make whose entry the dictionary refuses takes its files back (a host
// it made with them), and a kill at any moment of that make, its take-back
// included, leaves files that the README's start-up code brings to the
// open table once the refusal's cause is gone. The refusal: another table
// with an index of the same name made between the definition of the table
// and its make.
#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/platform.h"
#include "tests/support/child.h"
#include "tests/support/faultsweep.h"
#include "tests/support/firststart.h"
#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"

namespace {

constexpr int kKilled = 77;
// The child's answers other than a kill: the make refused as it should be,
// and what went wrong else.
constexpr int kRefused = 0;
constexpr int kSetupFailed = 2;
constexpr int kNotRefused = 3;
constexpr int kFilesLeft = 4;
constexpr int kNoSysError = 5;

int define_items(ZVHANDLE t, const char *index) {
    ZVHANDLE id = zvdbAddField(t, "id", ZV_INT4, 4);
    ZVHANDLE name = zvdbAddField(t, "name", ZV_STRING, 30);
    ZVHANDLE ix = zvdbAddIndex(t, index, 0, 0, 0);
    return id && name && ix && zvdbAddSegment(ix, id, 12) ? 0 : -10;
}

// The names in the directory (the status log aside) that belong to the
// table or its host, under their own names or temporary ones.
std::vector<std::string> made_names() {
    std::vector<std::string> out;
    for (const auto &e : std::filesystem::directory_iterator(".")) {
        const std::string n = e.path().filename().string();
        if (n.rfind("items", 0) == 0 || n.rfind("kh", 0) == 0 || n.rfind("oh!", 0) == 0 || n.rfind("oh~", 0) == 0)
            out.push_back(n);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The session dictionary and the database "shop", saved as the starting
// files of each run.
class Database : public zvtest::ZvTest {
protected:
    void SetUp() override {
        ZvTest::SetUp();
        ZVHANDLE s = zvdbAllocSession(0);
        ASSERT_EQ(zvdbCreateSession(s, nullptr, nullptr, nullptr), 0);
        ASSERT_EQ(zvdbLogon(s, nullptr, "tester", nullptr), 0);
        ASSERT_EQ(zvdbCreateDatabase(s, "shop", "."), 0);
        ASSERT_EQ(zvdbLogout(s), 0);
        ASSERT_EQ(zvdbFreeSession(s), 0);
        zvtest::save_tree();
    }
    void TearDown() override {
        zv::fault_reset();
        ZvTest::TearDown();
    }
};

class TakeBack : public Database, public ::testing::WithParamInterface<const char *> {
protected:
    // In the child: the table "items" defined (in `path`), another table
    // with an index "by_id" made, then the make of "items", ended at the
    // nth call of `kind`. kRefused when the make answers 4051 with nothing
    // of it left.
    static int run(const char *path, zv::IoKind kind, long n) {
        ZVHANDLE s = zvdbAllocSession(0);
        if (zvdbLogon(s, nullptr, "tester", nullptr) != 0) return kSetupFailed;
        ZVHANDLE db = zvdbAllocDatabase(s);
        if (zvdbConnect(db, "shop") != 0) return kSetupFailed;
        ZVHANDLE items = zvdbAllocTable(db);
        ZVHANDLE other = zvdbAllocTable(db);
        if (path && zvdbSetTablePath(items, path) != 0) return kSetupFailed;
        if (path && std::string(path) == "oh!" && zvdbSetTablePath(other, path) != 0) return kSetupFailed;
        if (define_items(items, "by_id") || define_items(other, "by_id")) return kSetupFailed;
        if (zvdbCreateTable(other, "other", 0) != 0) return kSetupFailed;
        zv::fault_reset();
        zv::fault_exit(kind, n, kKilled);
        const int rc = zvdbCreateTable(items, "items", 0);
        zv::fault_reset();
        if (rc != ZVDB_INDEX_IN_DICT && rc != 4051) return kNotRefused;
        if (!made_names().empty()) return kFilesLeft;
        return kRefused;
    }

    // After a kill: the other table dropped (the refusal's cause gone),
    // then the README's start-up code reaches the open table. "" or what
    // failed.
    static std::string recover(const char *path) {
        {
            ZVHANDLE s = zvdbAllocSession(0);
            ZVHANDLE db = nullptr;
            int rc = zvdbLogon(s, nullptr, "tester", nullptr);
            if (rc == 0 && !(db = zvdbAllocDatabase(s))) rc = -1;
            if (rc == 0) rc = zvdbConnect(db, "shop");
            if (rc == 0) rc = zvdbDropTable(db, "other");
            if (db) zvdbFreeDatabase(db);
            zvdbFreeSession(s);
            if (rc) return "the other table's drop answers " + std::to_string(rc);
        }
        zvtest::StartUp start;
        start.define = [](ZVHANDLE t) { return define_items(t, "by_id"); };
        start.tablepath = path;
        if (int rc = start.run()) return "the start-up answers " + std::to_string(rc) + " (" + start.trail + ")";
        // (A note of a swap that a kill cut short while it was written,
        // "….swap.new", is left as the README says.)
        for (const std::string &n : made_names()) {
            const bool cut_note = n.size() > 9 && n.compare(n.size() - 9, 9, ".swap.new") == 0;
            if (n.find("~zvnew") != std::string::npos && !cut_note) return "the start-up leaves " + n;
        }
        return "";
    }
};

TEST_P(TakeBack, AKillAtAnyMomentLeavesATableTheStartUpCodeReaches) {
    const char *path = GetParam();
    // Every unlink, link and rename; the writes too for plain files (a
    // host's many are the first-start sweep's).
    std::vector<zv::IoKind> kinds = {zv::IoKind::Unlink, zv::IoKind::Link, zv::IoKind::Rename};
    if (!path || path[0] == 'o') kinds.push_back(zv::IoKind::Write);
    int kills = 0;
    zvtest::kill_sweep(
        kinds, kKilled, 400,
        [] {
            for (const auto &e : std::filesystem::directory_iterator(".")) {
                if (e.path().filename() != "tpl") std::filesystem::remove_all(e.path());
            }
            zvtest::restore_tree();
        },
        [&](zv::IoKind kind, long n) { return run(path, kind, n); },
        [&](int code) {
            if (code != kKilled) {
                EXPECT_EQ(code, kRefused);
                return;
            }
            kills++;
            EXPECT_EQ(recover(path), "");
        });
    EXPECT_GT(kills, 0);
    RecordProperty("kills", kills);
}

// A make whose entry another process's lock on the dictionary refuses (the
// other process connected to the database) answers 12 with that lock's
// system error and leaves nothing of the table; a make the dictionary
// takes answers 0.
TEST_F(Database, ARefusedEntryKeepsTheLocksSystemError) {
    zvtest::Peer peer([](int) {
        zvtest::ChildResult r;
        ZVHANDLE s = zvdbAllocSession(0);
        ZVHANDLE db = zvdbAllocDatabase(s);
        if ((r.rc = zvdbLogon(s, nullptr, "peer", nullptr)) == 0) r.rc = zvdbConnect(db, "shop");
        return r;
    });
    ASSERT_EQ(peer.ask(1).rc, 0);
    ZVHANDLE s = zvdbAllocSession(0);
    ASSERT_EQ(zvdbLogon(s, nullptr, "tester", nullptr), 0);
    ZVHANDLE db = zvdbAllocDatabase(s);
    ASSERT_EQ(zvdbConnect(db, "shop"), 0);
    for (const char *path : {".", "kh!"}) {
        SCOPED_TRACE(path);
        ZVHANDLE t = zvdbAllocTable(db);
        ASSERT_EQ(zvdbSetTablePath(t, path), 0);
        ASSERT_EQ(define_items(t, "by_id"), 0);
        const int rc = zvdbCreateTable(t, "items", 0);
        const int sys = zvGetSystemErrorCode();
        if (rc) {
            EXPECT_EQ(rc, 12);
            EXPECT_TRUE(sys == EAGAIN || sys == EACCES) << sys;
            EXPECT_EQ(made_names(), std::vector<std::string>{});
        } else {
            EXPECT_EQ(zvdbDropTable(db, "items"), 0);
        }
        zvdbFreeTable(t);
    }
    EXPECT_EQ(zvdbFreeDatabase(db), 0);
    EXPECT_EQ(zvdbFreeSession(s), 0);
}

INSTANTIATE_TEST_SUITE_P(Paths, TakeBack, ::testing::Values(nullptr, "kh!", "oh!"),
                         [](const ::testing::TestParamInfo<const char *> &p) {
                             return std::string(!p.param ? "PlainFiles" : p.param[0] == 'k' ? "NewHost" : "HostOfAnother");
                         });

// A database's make whose entry is refused (here another process entered
// a database of that name elsewhere between the make's look-up and its
// entry) takes its dictionary back, and a kill at any moment of the make,
// its take-back included, leaves files beside which the README's start-up
// code reaches an open table. A dictionary in a superfile host, and a
// plain one.
class DatabaseTakeBack : public zvtest::ZvTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        ZvTest::SetUp();
        ZVHANDLE s = zvdbAllocSession(0);
        ASSERT_EQ(zvdbCreateSession(s, nullptr, nullptr, nullptr), 0);
        ASSERT_EQ(zvdbFreeSession(s), 0);
        zvtest::save_tree();
    }
    void TearDown() override {
        zv::fault_reset();
        ZvTest::TearDown();
    }

    // Waits (up to 10 seconds) until the killed child's other process has
    // ended too: it holds the session dictionary while it lives.
    static void wait_for_peer() {
        const std::string pid = zvtest::read_file("peer.pid");
        for (int i = 0; !pid.empty() && i < 1000; i++) {
            const std::string stat = zvtest::read_file("/proc/" + pid + "/stat");
            const size_t close = stat.rfind(')');
            if (close == std::string::npos || stat.compare(close, 4, ") Z ") == 0) return;
            usleep(10000);
        }
    }

    // The names of the database's dictionary, under its own name or a
    // temporary one.
    static std::vector<std::string> shop_names() {
        std::vector<std::string> out;
        for (const auto &e : std::filesystem::directory_iterator(".")) {
            const std::string n = e.path().filename().string();
            if (n.rfind("shop", 0) == 0) out.push_back(n);
        }
        return out;
    }

    // In the child: the make of "shop" in ".", ended at the nth call of
    // `kind`, while another process enters a database "shop" of its own
    // (in "sub") between the make's look-up and its entry: the make's entry
    // is refused (4021) and its dictionary taken back. kRefused when the
    // make answers so with nothing of it left in ".".
    static int run(bool insuper, zv::IoKind kind, long n) {
        std::filesystem::create_directories("sub");
        zvtest::Peer peer([](int) {
            // Ends with the child (a kill included), and says who it is.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            zvtest::write_file("peer.pid", std::to_string(getpid()));
            zvtest::ChildResult r;
            ZVHANDLE s = zvdbAllocSession(0);
            if ((r.rc = zvdbLogon(s, nullptr, "peer", nullptr)) == 0) r.rc = zvdbCreateDatabase(s, "shop", "sub");
            zvdbFreeSession(s);
            return r;
        });
        ZVHANDLE s = zvdbAllocSession(0);
        if (zvdbLogon(s, nullptr, "tester", nullptr) != 0) return kSetupFailed;
        if (zvdbSetDictInSuperfile(s, insuper ? 1 : 0) != 0) return kSetupFailed;
        // The opens of the make's look-up of the name: the other process's
        // entry comes at the next open, the make's first file.
        ZVDBDICTENTRY e;
        zv::fault_reset();
        if (_zvdbDictFindDatabase(s, "shop", &e) != 101) return kSetupFailed;
        const long lookup = zv::io_calls(zv::IoKind::Open);
        struct Entered {
            zvtest::Peer *peer;
            int rc = -1;
        } entered{&peer};
        zv::fault_reset();
        zv::fault_exit(kind, n, kKilled);
        zv::fault_call(zv::IoKind::Open, lookup + 1, [](void *arg) {
            auto *x = static_cast<Entered *>(arg);
            x->rc = x->peer->ask(1).rc;
        }, &entered);
        const int rc = zvdbCreateDatabase(s, "shop", ".");
        zv::fault_reset();
        if (entered.rc != 0) return kSetupFailed;
        if (rc != ZVDB_DATABASE_EXISTS) return kNotRefused;
        return shop_names().empty() ? kRefused : kFilesLeft;
    }
};

TEST_P(DatabaseTakeBack, AKillAtAnyMomentLeavesADatabaseTheStartUpCodeReaches) {
    const bool insuper = GetParam();
    int kills = 0;
    zvtest::kill_sweep(
        {zv::IoKind::Unlink, zv::IoKind::Link, zv::IoKind::Rename}, kKilled, 400,
        [] {
            for (const auto &e : std::filesystem::directory_iterator(".")) {
                if (e.path().filename() != "tpl") std::filesystem::remove_all(e.path());
            }
            zvtest::restore_tree();
        },
        [&](zv::IoKind kind, long n) { return run(insuper, kind, n); },
        [&](int code) {
            if (code != kKilled) {
                EXPECT_EQ(code, kRefused);
                return;
            }
            kills++;
            wait_for_peer();
            zvtest::StartUp start;
            start.define = [](ZVHANDLE t) { return define_items(t, "by_id"); };
            const int rc = start.run();
            EXPECT_EQ(rc, 0) << start.trail;
        });
    EXPECT_GT(kills, 0);
}

INSTANTIATE_TEST_SUITE_P(Dictionaries, DatabaseTakeBack, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &p) {
                             return std::string(p.param ? "InHost" : "Plain");
                         });

}  // namespace

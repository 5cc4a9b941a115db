// A program's first start and the starts after a kill: the README's
// start-up code (tests/support/firststart.h) reaches its open table
// whatever moment of the first start a kill ended, and every record a table
// flush covered is found by the table's name.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/platform.h"
#include "tests/support/child.h"
#include "tests/support/firststart.h"
#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"

namespace {

// The README's table: "id" (ZV_INT4) and "name" (ZV_STRING 30), index
// "by_id" on id.
int define_table(ZVHANDLE t, const char *index) {
    ZVHANDLE id = zvdbAddField(t, "id", ZV_INT4, 4);
    ZVHANDLE name = zvdbAddField(t, "name", ZV_STRING, 30);
    ZVHANDLE ix = zvdbAddIndex(t, index, 0, 0, 0);
    if (!id || !name || !ix || !zvdbAddSegment(ix, id, 12)) return -10;
    return 0;
}
int define_items(ZVHANDLE t) { return define_table(t, "by_id"); }

// The README's table with a second index "by_name" (duplicates, on name)
// in a file of its own, "items_nm" beside the table's files (a member of
// the table's host when it has one).
int define_items_own_index(ZVHANDLE t) {
    if (int rc = define_items(t)) return rc;
    ZVHANDLE ix = zvdbAddIndex(t, "by_name", 0, 1, 0);
    if (!ix || !zvdbAddSegment(ix, zvdbGetFieldByName(t, "name"), 12)) return -10;
    return zvdbSetIndexFilename(ix, nullptr, "items_nm");
}

// The README's table partitioned by "by_id" into members of ten ids each.
int define_items_partitioned(ZVHANDLE t) {
    if (int rc = define_items(t)) return rc;
    if (int rc = zvdbSetTablePartitionIndexNbr(t, 0)) return rc;
    return zvdbSetTablePartitionRule(t, "id / 10 + 1");
}

// The other table of a superfile host that exists before the make:
// "other" in the host, fields as the README's table, index "other_by_id",
// kOtherRecords records, closed cleanly.
constexpr int32_t kOtherRecords = 5;

// Writes records 1..n (name "item <id>"): 0 or the first failure.
int write_items(ZVHANDLE t, int32_t n) {
    ZVHANDLE r = zvdbAllocRecord(t);
    int rc = r ? 0 : -11;
    for (int32_t k = 1; rc == 0 && k <= n; k++) {
        const std::string name = "item " + std::to_string(k);
        zvdbClearRecord(r);
        zvdbSetFieldAsSigned(r, 0, k);
        zvdbSetFieldAsString(r, 1, name.c_str());
        rc = zvdbWriteRecord(r);
    }
    if (r) zvdbFreeRecord(r);
    return rc;
}

// The ids found walking "by_id", each with its name checked; -1 at the
// first record out of order or with another name.
int32_t count_items(ZVHANDLE t, const char *index = "by_id") {
    ZVHANDLE r = zvdbAllocRecord(t);
    if (!r || zvdbSetDefaultIndexByName(r, index) != 0) return -1;
    int32_t n = 0;
    int rc = zvdbFirstRecord(r);
    for (; rc == 0; rc = zvdbNextRecord(r)) {
        int32_t id = 0;
        char name[40] = {};
        zvdbGetFieldAsSigned(r, 0, &id);
        zvdbGetFieldAsString(r, 1, name, int32_t(sizeof name));
        if (id != n + 1 || name != "item " + std::to_string(id)) break;
        n++;
    }
    zvdbFreeRecord(r);
    return rc == 101 ? n : -1;
}

// The ids of the records found walking "by_id"; a record out of order or
// with another name than its id's is a finding.
std::set<int32_t> ids_of(ZVHANDLE t, std::string &finding) {
    std::set<int32_t> ids;
    ZVHANDLE r = zvdbAllocRecord(t);
    int rc = r ? zvdbSetDefaultIndexByName(r, "by_id") : -1;
    for (rc = rc ? rc : zvdbFirstRecord(r); rc == 0; rc = zvdbNextRecord(r)) {
        int32_t id = 0;
        char name[40] = {};
        zvdbGetFieldAsSigned(r, 0, &id);
        zvdbGetFieldAsString(r, 1, name, int32_t(sizeof name));
        if (name != "item " + std::to_string(id) || (!ids.empty() && id <= *ids.rbegin())) {
            finding = "a record " + std::to_string(id) + " \"" + name + "\" out of order or torn";
            break;
        }
        ids.insert(id);
    }
    if (rc != 101 && finding.empty()) finding = "the walk ends with " + std::to_string(rc);
    if (r) zvdbFreeRecord(r);
    return ids;
}

// Flushes a table as the README says: ZVFLUSH of its data file and of its
// index file, or, for a member of a superfile host (23), ZVFLUSH(-1).
int flush_table(ZVHANDLE t) {
    int rc = ZVFLUSH(zvdbGetDatno(t));
    if (rc == 0) rc = ZVFLUSH(zvdbGetIdxnoByNumber(t, 0));
    return rc == 23 ? ZVFLUSH(-1) : rc;
}

// The kinds of calls of the seam a kill may end: what a first start does to
// its files.
const zv::IoKind kKillKinds[] = {zv::IoKind::Write, zv::IoKind::Sync, zv::IoKind::Rename, zv::IoKind::Link,
                                 zv::IoKind::Unlink};
const char *const kKillNames[] = {"write", "sync", "rename", "link", "unlink"};
constexpr int kKillKindCount = 5;
constexpr int kKillStatus = 77;
constexpr int32_t kFirstRecords = 20;

// A line written with write(2), outside the seam: a kill at the seam's
// next call leaves it whole.
void note_line(const std::string &path, const std::string &line) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0) return;
    const std::string text = line + "\n";
    ssize_t n = write(fd, text.data(), text.size());
    (void)n;
    close(fd);
}

class FirstStart : public zvtest::ZvTest {
protected:
    // What a first start makes: the call killed inside, the table's path
    // (a superfile host "host!": one the make makes, or the database
    // dictionary's host), dictionaries outside superfile hosts, and the
    // table's shape.
    enum class Shape { Plain, OwnIndex, Partitioned, BesideOther };
    struct Make {
        const char *call;
        const char *host = nullptr;
        bool plain = false;
        Shape shape = Shape::Plain;
        std::string what() const {
            std::string w = call;
            if (host) w += std::string(" in \"") + host + "\"";
            if (plain) w += ", dictionaries outside superfile hosts";
            if (shape == Shape::OwnIndex) w += ", an index file of its own";
            if (shape == Shape::Partitioned) w += ", partitioned";
            if (shape == Shape::BesideOther) w += ", beside another table made in the host before";
            return w;
        }
    };

    // The start-up of the README's table, in a superfile host of its own
    // when `host` is given (a table path "host!"), with dictionaries
    // outside superfile hosts when `plain`.
    static void setup(zvtest::StartUp &s, const char *host = nullptr, bool plain = false) {
        s.define = define_items;
        s.tablepath = host;
        s.plain = plain;
    }
    static void setup(zvtest::StartUp &s, const Make &m) {
        setup(s, m.host, m.plain);
        if (m.shape == Shape::OwnIndex) s.define = define_items_own_index;
        if (m.shape == Shape::Partitioned) {
            s.define = define_items_partitioned;
            s.createmode = 0x800;
        }
    }

    // The other table of the host, made before the make of the first
    // start's table: 0 or the first failing code.
    static int make_other(ZVHANDLE db, const char *host) {
        ZVHANDLE t = zvdbAllocTable(db);
        int rc = t ? zvdbSetTablePath(t, host) : -12;
        if (!rc) rc = define_table(t, "other_by_id");
        if (!rc) rc = zvdbCreateTable(t, "other", 0);
        if (!rc) rc = zvdbOpenTable(t, "other", 0);
        if (!rc) rc = write_items(t, kOtherRecords);
        if (int c = t ? zvdbCloseTable(t) : 0; !rc) rc = c;
        if (t) zvdbFreeTable(t);
        return rc;
    }

    // The other table after a recovery: opened (repaired as the README
    // says when it answers 14 or 413) and holding its records. A finding,
    // or "".
    static std::string check_other(ZVHANDLE db) {
        ZVHANDLE t = zvdbAllocTable(db);
        int rc = zvdbOpenTable(t, "other", 0);
        if (rc == 14 || rc == 413) {
            rc = zvdbOpenTable(t, "other", 4);
            if (rc == 0 && (rc = zvdbRebuildTable(t, 1)) == 650) rc = 0;
        }
        std::string finding;
        if (rc) finding = "the other table of the host answers " + std::to_string(rc);
        else if (int32_t n = count_items(t, "other_by_id"); n != kOtherRecords)
            finding = "the other table of the host holds " + std::to_string(n) + " records";
        zvdbCloseTable(t);
        zvdbFreeTable(t);
        return finding;
    }

    // In a child working in "run": the start-up code of a first start,
    // killed at the nth call of `kind` inside `call` when nth is above 0,
    // then kFirstRecords records written and flushed by the table's file
    // numbers, and an end without a close. The child notes in "log" the
    // calls of each kind made inside `call` ("calls ...") and a flush that
    // answered 0 ("flushed").
    static void first_run(const Make &make, int kind, long nth) {
        const std::string log = std::filesystem::absolute("log").string();
        const std::string call = make.call;
        zvtest::run_in_child([&] {
            zvtest::ChildResult r;
            if (chdir("run") != 0) return r;
            zvtest::StartUp s;
            setup(s, make);
            s.before = [&](const char *name) {
                if (call != name) return;
                if (make.shape == Shape::BesideOther) {
                    if (int rc = make_other(s.db, make.host)) note_line(log, "error the other table " + std::to_string(rc));
                }
                zv::fault_reset();
                if (nth > 0) zv::fault_exit(kKillKinds[kind], nth, kKillStatus);
            };
            s.after = [&](const char *name) {
                if (call != name) return;
                std::string counts = "calls";
                for (zv::IoKind k : kKillKinds) counts += " " + std::to_string(zv::io_calls(k));
                note_line(log, counts);
                zv::fault_reset();
            };
            if ((r.rc = s.run()) != 0) {
                note_line(log, "error " + s.trail);
                return r;
            }
            if ((r.rc = write_items(s.handle, kFirstRecords))) return r;
            if (flush_table(s.handle) == 0) note_line(log, "flushed");
            _exit(0);
        });
    }

    // The start-up after a kill inside a make, in this process: it reaches
    // the open table, which holds no record (none was written before the
    // kill); a record is added, the table closed and the session logged
    // out, and the next start opens the table at once. Findings go to
    // `out`.
    static void recover(const Make &make, std::string &out) {
        std::string finding;
        {
            zvtest::StartUp s;
            setup(s, make);
            if (int rc = s.run()) {
                out = "the start-up answers " + std::to_string(rc) + " (" + s.trail + ")";
                return;
            }
            const std::set<int32_t> ids = ids_of(s.handle, finding);
            if (finding.empty() && !ids.empty()) finding = std::to_string(ids.size()) + " records found, not none";
            ZVHANDLE r = zvdbAllocRecord(s.handle);
            zvdbClearRecord(r);
            zvdbSetFieldAsSigned(r, 0, 1000);
            zvdbSetFieldAsString(r, 1, "item 1000");
            if (finding.empty()) {
                if (int rc = zvdbWriteRecord(r)) finding = "a record added after the start answers " + std::to_string(rc);
            }
            zvdbFreeRecord(r);
            if (finding.empty()) {
                if (int rc = zvdbCloseTable(s.handle)) finding = "the close answers " + std::to_string(rc);
                else if (make.shape == Shape::BesideOther) finding = check_other(s.db);
            }
            if (finding.empty()) {
                if (int rc = zvdbLogout(s.session)) finding = "the logout answers " + std::to_string(rc);
            }
            if (!finding.empty()) finding += " (" + s.trail + ")";
        }
        if (finding.empty()) {
            zvtest::StartUp again;
            setup(again, make);
            if (int rc = again.run()) finding = "the next start answers " + std::to_string(rc) + " (" + again.trail + ")";
            else if (!again.trail.empty()) finding = "the next start takes branches: " + again.trail;
        }
        out = finding;
    }
};

// A table made, filled and flushed as the README says (ZVFLUSH of its data
// file and of its index file), then a kill: the next start finds the table
// by its name (no 4023) and, after its repair, every record.
TEST_F(FirstStart, AFlushedTableIsFoundByNameAfterAKill) {
    const zvtest::ChildResult c = zvtest::run_in_child([] {
        zvtest::ChildResult r;
        zvtest::StartUp s;
        setup(s);
        if ((r.rc = s.run()) || (r.rc = write_items(s.handle, 100))) return r;
        if ((r.rc = ZVFLUSH(zvdbGetDatno(s.handle))) || (r.rc = ZVFLUSH(zvdbGetIdxnoByNumber(s.handle, 0)))) return r;
        _exit(0);
    });
    ASSERT_FALSE(c.ok) << "the child ended without a close: " << c.rc;
    zvtest::StartUp s;
    setup(s);
    ASSERT_EQ(s.run(), 0) << s.trail;
    EXPECT_EQ(s.trail.find("4023"), std::string::npos) << "the table is found by its name: " << s.trail;
    EXPECT_EQ(count_items(s.handle), 100);
}

}  // namespace

// A table whose entry is gone and whose files a killed process left not
// closed cleanly: the start-up code makes it (19), adds it back, and
// repairs it as the README says, with every record flushed before the
// kill.
TEST_F(FirstStart, ATableWithoutEntryLeftNotClosedCleanlyIsAddedBack) {
    const zvtest::ChildResult c = zvtest::run_in_child([] {
        zvtest::ChildResult r;
        zvtest::StartUp s;
        setup(s);
        if ((r.rc = s.run()) || (r.rc = zvdbCloseTable(s.handle)) || (r.rc = zvdbDropTable(s.db, "items"))) return r;
        // Written as a free table, by its file name.
        ZVHANDLE t = zvdbAllocTable(s.session);
        if ((r.rc = zvdbOpenTable(t, "items", 0)) || (r.rc = write_items(t, 50)) || (r.rc = flush_table(t))) return r;
        _exit(0);
    });
    ASSERT_FALSE(c.ok) << "the child ended without a close: " << c.rc;
    zvtest::StartUp s;
    setup(s);
    ASSERT_EQ(s.run(), 0) << s.trail;
    EXPECT_EQ(s.trail, "zvdbOpenTable 4023, zvdbCreateTable 19, zvdbOpenTable 14");
    EXPECT_EQ(count_items(s.handle), 50);
}

// A database whose entry is gone and whose dictionary a killed process
// left not closed cleanly: the start-up code makes it (19), adds it back
// (its dictionary repaired), and finds its table by name.
TEST_F(FirstStart, ADatabaseWithoutEntryLeftNotClosedCleanlyIsAddedBack) {
    const zvtest::ChildResult c = zvtest::run_in_child([] {
        zvtest::ChildResult r;
        zvtest::StartUp s;
        setup(s);
        if ((r.rc = s.run()) || (r.rc = write_items(s.handle, 50)) || (r.rc = flush_table(s.handle))) return r;
        if ((r.rc = zvdbDropDatabase(s.session, "shop"))) return r;
        _exit(0);
    });
    ASSERT_FALSE(c.ok) << "the child ended without a close: " << c.rc;
    zvtest::StartUp s;
    setup(s);
    ASSERT_EQ(s.run(), 0) << s.trail;
    EXPECT_EQ(s.trail, "zvdbConnect 101, zvdbCreateDatabase 19, zvdbOpenTable 14");
    EXPECT_EQ(count_items(s.handle), 50);
}

// A kill at any moment of zvdbCreateSession, zvdbCreateDatabase or
// zvdbCreateTable during a first start (each write, sync, rename, link or
// unlink the call makes; the dictionaries also outside superfile hosts; the
// table also in a superfile host of its own, which its make makes, with or
// without an index file of its own in it, in a host another table made
// before, in the database dictionary's host under either spelling of its
// path, with an index file of its own beside it, and partitioned): the same
// start-up code then reaches the open table, the make done again or its
// work taken back by the add (19), and a table flushed afterwards holds
// every record; another table of the host comes back whole. Each make is
// killed at a seeded sample of ZV_FIRSTSTART_RUNS of its calls (default 6;
// 0 for every call), ZV_FIRSTSTART_SEED choosing them.
TEST_F(FirstStart, AKillInsideAMakeLeavesAFirstStartThatTheSameCodeFinishes) {
    const char *runs_env = std::getenv("ZV_FIRSTSTART_RUNS");
    const char *seed_env = std::getenv("ZV_FIRSTSTART_SEED");
    const long sample = runs_env ? std::atol(runs_env) : 6;
    std::mt19937 rng(seed_env ? unsigned(std::atol(seed_env)) : 1u);
    int runs = 0;
    const Make makes[] = {
        {"zvdbCreateSession"},
        {"zvdbCreateDatabase"},
        {"zvdbCreateTable"},
        {"zvdbCreateTable", "kh!"},
        {"zvdbCreateSession", nullptr, true},
        {"zvdbCreateDatabase", nullptr, true},
        // The database dictionary's host, spelled as the database's path
        // spells it and otherwise.
        {"zvdbCreateTable", "./shop.qdd!"},
        {"zvdbCreateTable", "shop.qdd!"},
        // A host that another table made before.
        {"zvdbCreateTable", "kh!", false, Shape::BesideOther},
        // A host the make makes, with an index file of its own in it.
        {"zvdbCreateTable", "kh!", false, Shape::OwnIndex},
        {"zvdbCreateTable", nullptr, false, Shape::OwnIndex},
        {"zvdbCreateTable", nullptr, false, Shape::Partitioned},
    };
    for (const Make &make : makes) {
        SCOPED_TRACE(make.what());
        // The count: the calls of each kind inside the make.
        std::filesystem::remove_all("run");
        std::filesystem::remove("log");
        std::filesystem::create_directory("run");
        first_run(make, 0, 0);
        long counts[kKillKindCount] = {};
        bool flushed = false;
        for (const std::string &l : zvtest::lines_of(zvtest::read_file("log"))) {
            if (l == "flushed") flushed = true;
            sscanf(l.c_str(), "calls %ld %ld %ld %ld %ld", &counts[0], &counts[1], &counts[2], &counts[3], &counts[4]);
        }
        ASSERT_TRUE(flushed) << "the first start runs to its end: " << zvtest::read_file("log");
        ASSERT_GT(counts[0], 0);
        std::vector<std::pair<int, long>> points;
        for (int k = 0; k < kKillKindCount; k++)
            for (long n = 1; n <= counts[k]; n++) points.emplace_back(k, n);
        if (sample > 0 && points.size() > size_t(sample)) {
            std::shuffle(points.begin(), points.end(), rng);
            points.resize(size_t(sample));
        }
        for (const auto &[k, n] : points) {
            SCOPED_TRACE(std::string("killed at ") + kKillNames[k] + " " + std::to_string(n) + " of " +
                         std::to_string(counts[k]));
            std::filesystem::remove_all("run");
            std::filesystem::remove("log");
            std::filesystem::create_directory("run");
            first_run(make, k, n);
            const std::string log = zvtest::read_file("log");
            ASSERT_EQ(log.find("calls"), std::string::npos) << "the kill came inside the call: " << log;
            std::filesystem::current_path("run");
            std::string finding;
            recover(make, finding);
            std::filesystem::current_path("..");
            EXPECT_EQ(finding, "");
            runs++;
            // One finding per make: the next make is tried all the same.
            if (!finding.empty()) break;
        }
    }
    RecordProperty("runs", runs);
}

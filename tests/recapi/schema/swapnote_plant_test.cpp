// Swap notes beside real tables. A partitioned table whose index file of
// its own lies in a subdirectory, killed inside its alteration by copy,
// leaves a note that the next open finishes (or voids). The same note made
// to name what is not its set's (through a symbolic link, another table's
// files, a damaged set's marks, names above the directory or from the
// root, files that a planted new host names), found beside a set another process holds, or with a FIFO or a
// link in its place, is refused: the open answers as it found the table,
// and no file changes. A members' note of a table in a superfile host that
// names another host's members likewise.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/core/fcb.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "tests/recapi/schema/schemafix.h"
#include "tests/support/child.h"
#include "tests/support/engine.h"
#include "tests/support/faultsweep.h"
#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"

namespace {

namespace fs = std::filesystem;

constexpr int kKilled = 77;
// Open mode of a table whose files answer 14: taken as they are.
constexpr uint32_t kOpenDamaged = 4;
constexpr uint8_t kMarkChanged = 0xFF;  // update flag of a file not closed cleanly

// A listed note's entry: the original, its kept name, the new file ("":
// none).
using Entry = std::vector<std::string>;

// The entries of a listed note (version 2, or 4 with the new files' ids).
std::vector<Entry> entries_of(const std::string &b) {
    std::vector<Entry> out;
    if (b.size() < 16 || b.compare(0, 6, "ZVSWAP") != 0 || (b[6] != 2 && b[6] != 4)) return out;
    auto byte = [&](size_t at) { return size_t(uint8_t(b.at(at))); };
    const size_t count = byte(8) | byte(9) << 8 | byte(10) << 16 | byte(11) << 24;
    size_t at = 12;
    for (size_t k = 0; k < count; k++) {
        Entry e;
        for (int j = 0; j < 3; j++) {
            const size_t n = byte(at) | byte(at + 1) << 8;
            e.push_back(b.substr(at + 2, n));
            at += 2 + n;
        }
        if (b[6] == 4) at += 12;
        out.push_back(e);
    }
    return out;
}

// A listed note of version 2, as an engine wrote it before notes kept the
// new files' ids: every version of the engine reads it.
std::string list_bytes(const std::vector<Entry> &entries) {
    std::string b("ZVSWAP\x02\x00", 8);
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; i++) b.push_back(char(v >> (8 * i)));
    };
    u32(uint32_t(entries.size()));
    for (const Entry &e : entries) {
        for (const std::string &n : e) {
            b.push_back(char(n.size() & 0xFF));
            b.push_back(char(n.size() >> 8));
            b += n;
        }
    }
    uint32_t h = 2166136261u;
    for (unsigned char c : b) h = (h ^ c) * 16777619u;
    u32(h);
    return b;
}

// Every entry under the directories given, by path: a regular file's
// bytes, a link's target, a FIFO.
using Tree = std::map<std::string, std::string>;
Tree tree(const std::vector<std::string> &dirs) {
    Tree out;
    for (const std::string &d : dirs) {
        for (const auto &e : fs::recursive_directory_iterator(d)) {
            const std::string p = e.path().string();
            if (e.is_symlink()) out[p] = "-> " + fs::read_symlink(p).string();
            else if (e.is_fifo()) out[p] = "fifo";
            else if (e.is_regular_file()) out[p] = zvtest::read_file(p);
        }
    }
    return out;
}

// The paths whose entries differ between two trees (changed, gone or new).
std::vector<std::string> changed(const Tree &a, const Tree &b) {
    std::vector<std::string> out;
    for (const auto &[path, bytes] : a) {
        const auto it = b.find(path);
        if (it == b.end() || it->second != bytes) out.push_back(path);
    }
    for (const auto &e : b) {
        if (!a.count(e.first)) out.push_back(e.first);
    }
    return out;
}

// The bytes of the partitioned table's note ("" when there is none).
std::string note_bytes() { return fs::exists("db/orders.dat.swap") ? zvtest::read_file("db/orders.dat.swap") : ""; }

std::string status_log() { return fs::exists("ZVSTATUS.QVS") ? zvtest::read_file("ZVSTATUS.QVS") : ""; }
bool refused() { return status_log().find("Swap: the swap's note is refused") != std::string::npos; }

class PlantedNoteTest : public schematest::SchemaTest {
protected:
    // "orders" in "db": fields "part" ZV_INT4, "id" ZV_INT4, "name"
    // ZV_FSTRING 12; the partition index "bypart" (rule "part"), "byid"
    // and "byname", the last in a file of its own in "db/ix"; one record
    // in each of the members 1, 2 and 3; closed.
    void make_orders() {
        fs::create_directories("db/ix");
        ASSERT_EQ(zvdbSetTablePath(table_, "db"), 0);
        tagZVDBFIELD *part = field("part", ZV_INT4);
        tagZVDBFIELD *id = field("id", ZV_INT4);
        tagZVDBFIELD *name = field("name", ZV_FSTRING, 12);
        ASSERT_NE(zvdbAddSegment(index("bypart", 1), part, 12), nullptr);
        ASSERT_NE(zvdbAddSegment(index("byid"), id, 12), nullptr);
        tagZVDBINDEX *byname = index("byname");
        ASSERT_NE(zvdbAddSegment(byname, name, 12), nullptr);
        ASSERT_EQ(zvdbSetIndexFilename(byname, "db/ix", "orders_nm"), 0);
        ASSERT_EQ(zvdbSetTablePartitionIndexNbr(table_, 0), 0);
        ASSERT_EQ(zvdbSetTablePartitionRule(table_, "part"), 0);
        ASSERT_EQ(zvdbCreateTable(table_, "orders", 0x800), 0) << last();
        ASSERT_EQ(zvdbSetTablePath(table_, "db"), 0);
        ASSERT_EQ(zvdbOpenTable(table_, "orders", 0), 0) << last();
        ZVHANDLE r = zvdbAllocRecord(table_);
        ASSERT_NE(r, nullptr);
        for (int32_t i = 1; i <= 3; i++) {
            ASSERT_EQ(zvdbClearRecord(r), 0);
            ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, i), 0);
            ASSERT_EQ(zvdbSetFieldAsSigned(r, 1, i * 10), 0);
            ASSERT_EQ(zvdbSetFieldAsString(r, 2, ("n" + std::to_string(i)).c_str()), 0);
            ASSERT_EQ(zvdbWriteRecord(r), 0) << last();
        }
        zvdbFreeRecord(r);
        ASSERT_EQ(zvdbCloseTable(table_), 0);
    }
    // The ids of the open table in the order of "byid".
    std::vector<int32_t> ids() {
        std::vector<int32_t> out;
        ZVHANDLE r = zvdbAllocRecord(table_);
        EXPECT_EQ(zvdbSetDefaultIndex(r, 1), 0);
        for (ZVDBRET rc = zvdbFirstRecord(r); rc == 0; rc = zvdbNextRecord(r)) {
            int32_t id = 0;
            EXPECT_EQ(zvdbGetFieldAsSigned(r, 1, &id), 0);
            out.push_back(id);
        }
        zvdbFreeRecord(r);
        return out;
    }
    // Adds the field "qty" (default 7) to "orders" and alters it by copy,
    // the process ending at the nth call of kind (code kKilled) when n is
    // given: the answer.
    ZVDBRET alter(zv::IoKind kind = zv::IoKind::Write, long n = 0) {
        ZVDBRET rc = zvdbSetTablePath(table_, "db");
        if (!rc) rc = zvdbOpenTable(table_, "orders", 0);
        ZVHANDLE qty = rc ? nullptr : zvdbAddField(table_, "qty", ZV_INT4, 0);
        if (!rc && (!qty || zvdbSetFieldDefaultValue(qty, "7", 1) != 0)) rc = -1;
        if (!rc && n > 0) {
            zv::fault_reset();
            zv::fault_exit(kind, n, kKilled);
        }
        if (!rc) rc = zvdbAlterTable(table_, 0);
        zvdbCloseTable(table_);
        return rc;
    }
    // The alteration in a child ended at the nth rename: whether the kill
    // came (the child did not end by itself).
    bool killed_at(long n) {
        const pid_t pid = fork();
        if (pid == 0) _exit(alter(zv::IoKind::Rename, n) == 0 ? 0 : 4);
        int status = 0;
        return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == kKilled;
    }
    // The files saved as the tree "tpl", and no other, with the status log
    // gone.
    static void restore(const std::string &tpl = "tpl") {
        fs::remove_all("db");
        fs::remove_all("out");
        fs::remove("ZVSTATUS.QVS");
        zvtest::restore_tree(tpl);
    }
    // Opens "orders" in "db": the answer (the table closed again).
    ZVDBRET open_orders(uint32_t mode = 0) {
        EXPECT_EQ(zvdbSetTablePath(table_, "db"), 0);
        const ZVDBRET rc = zvdbOpenTable(table_, "orders", mode);
        if (rc == 0) zvdbCloseTable(table_);
        return rc;
    }
    // An engine data file (another table's, or any file the tests must
    // find unchanged), with its update flag set to `flag`.
    void data_file(const std::string &name, uint8_t flag) {
        const int n = AVLFILNUM(1);
        ASSERT_EQ(CREDATX8(n, name.c_str(), 64, 0, 0x800, 0, nullptr, nullptr, ZV_XCRE_DEFAULT), 0);
        ASSERT_EQ(CLSFIL(n, 0), 0);
        std::string b = zvtest::read_file(name);
        b[56] = char(flag);
        zvtest::write_file(name, b);
    }
};

// A kill at any link, rename or unlink of the alteration of the table with
// an index file in "db/ix": the table opens (or answers 14 and is rebuilt)
// under its old definition or its new one with every record, its files
// are its own set's (no kept original, no note), and some kills were
// finished from the note by the open.
TEST_F(PlantedNoteTest, AKillInsideTheSwapOfATableWithFilesInASubdirectoryIsFinishedByAnOpen) {
    make_orders();
    zvtest::save_tree("tpl");
    long olddef = 0, newdef = 0, finished = 0;
    const std::set<std::string> own = {"db/orders.dat",        "db/orders.dat.001",    "db/orders.dat.002",
                                       "db/orders.dat.003",    "db/orders.idx",        "db/orders.idx.001",
                                       "db/orders.idx.002",    "db/orders.idx.003",    "db/ix/orders_nm.idx",
                                       "db/ix/orders_nm.idx.001", "db/ix/orders_nm.idx.002", "db/ix/orders_nm.idx.003"};
    zvtest::kill_sweep(
        {zv::IoKind::Link, zv::IoKind::Rename, zv::IoKind::Unlink}, kKilled, 400, [&] { restore(); },
        [&](zv::IoKind kind, long n) { return alter(kind, n) == 0 ? 0 : 4; },
        [&](int code) {
            ASSERT_TRUE(code == 0 || code == kKilled) << code;
            ASSERT_EQ(zvdbSetTablePath(table_, "db"), 0);
            ZVDBRET rc = zvdbOpenTable(table_, "orders", 0);
            if (rc == 14) {
                ASSERT_EQ(zvdbSetTablePath(table_, "db"), 0);
                ASSERT_EQ(zvdbOpenTable(table_, "orders", kOpenDamaged), 0) << last();
                ASSERT_EQ(zvdbRebuildTable(table_, 0), 0) << last();
            } else {
                ASSERT_EQ(rc, 0) << last() << status_log();
            }
            (zvdbGetFieldByName(table_, "qty") ? newdef : olddef)++;
            EXPECT_EQ(ids(), (std::vector<int32_t>{10, 20, 30}));
            ASSERT_EQ(zvdbCloseTable(table_), 0);
            if (status_log().find("Swap: finishing the swap of") != std::string::npos) finished++;
            EXPECT_FALSE(refused()) << status_log();
            for (const auto &f : tree({"db"})) {
                const std::string base = fs::path(f.first).filename().string();
                EXPECT_TRUE(base.rfind("orders", 0) != 0 || own.count(f.first)) << f.first;
            }
        });
    EXPECT_GT(olddef, 0);
    EXPECT_GT(newdef, 0);
    EXPECT_GT(finished, 0) << "no kill fell between two moves of the swap";
}

// A partitioned table whose index directory below the data file's is a
// symbolic link is altered set by set (the engine's swap answers 454: no
// note it could write would be acted on), every record kept.
TEST_F(PlantedNoteTest, ATableWithAFileReachedThroughALinkIsAlteredSetBySet) {
    fs::create_directories("db");
    fs::create_directories("ixreal");
    fs::create_directory_symlink("../ixreal", "db/ix");
    make_orders();
    ASSERT_EQ(alter(), 0) << last();
    EXPECT_NE(status_log().find("Alter: the old files of"), std::string::npos) << status_log();
    ASSERT_EQ(zvdbSetTablePath(table_, "db"), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "orders", 0), 0) << last();
    EXPECT_NE(zvdbGetFieldByName(table_, "qty"), nullptr);
    EXPECT_EQ(ids(), (std::vector<int32_t>{10, 20, 30}));
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    EXPECT_TRUE(fs::is_symlink("db/ix"));
    EXPECT_TRUE(fs::exists("ixreal/orders_nm.idx"));
}

// The note of a swap killed after the host's data file moved, changed to
// name what is not the set's or found where it must not be acted on: the
// open answers as the table stands (14: the new data file is marked), and
// no file under "db" or "out" changes.
TEST_F(PlantedNoteTest, PlantedNotesBesideAPartitionedTableAreRefused) {
    make_orders();
    fs::create_directory("out");
    data_file("out/victim.dat", kMarkChanged);
    data_file("db/other.dat", kMarkChanged);
    data_file("db/new1.dat", 'R');
    zvtest::save_tree("tpl");
    // A kill after the host's data file took its place, before the rest.
    std::vector<Entry> note;
    for (long n = 1; n < 60 && note.empty(); n++) {
        restore();
        if (!killed_at(n)) break;
        const std::vector<Entry> e = entries_of(note_bytes());
        if (!e.empty() && !fs::exists("db/" + e[0][2]) && fs::exists("db/" + e.back()[2])) note = e;
    }
    ASSERT_FALSE(note.empty()) << "no kill fell after the host's move";
    zvtest::save_tree("begun");
    // The note as an engine wrote it before notes kept the new files' ids:
    // finished by the open all the same.
    zvtest::write_file("db/orders.dat.swap", list_bytes(note));
    ASSERT_EQ(zvdbSetTablePath(table_, "db"), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "orders", 0), 0) << last();
    EXPECT_NE(status_log().find("Swap: finishing the swap of"), std::string::npos) << status_log();
    EXPECT_FALSE(fs::exists("db/orders.dat.swap"));
    EXPECT_NE(zvdbGetFieldByName(table_, "qty"), nullptr);
    EXPECT_EQ(ids(), (std::vector<int32_t>{10, 20, 30}));
    ASSERT_EQ(zvdbCloseTable(table_), 0);

    const std::string victim = fs::absolute("out/victim.dat").string();
    auto with = [&](const Entry &extra) {
        std::vector<Entry> e = note;
        e.push_back(extra);
        zvtest::write_file("db/orders.dat.swap", list_bytes(e));
    };
    struct Case {
        const char *what;
        std::function<void()> plant;
        ZVDBRET open;
    };
    const Case cases[] = {
        {"an old file to delete through a linked directory", [&] { with({"lnk/victim.dat", "", ""}); }, 14},
        {"an original outside replaced by a new file inside", [&] { with({"lnk/victim.dat", "", "new1.dat"}); }, 14},
        {"a mark cleared through a linked directory", [&] { with({"lnk/victim.dat", "", "gone.dat"}); }, 14},
        {"another table's data file to delete", [&] { with({"other.dat", "", ""}); }, 14},
        {"a damaged set's mark to clear", [&] { with({"other.dat", "", "gone.dat"}); }, 14},
        {"a name above the directory", [&] { with({"../out/victim.dat", "", ""}); }, 14},
        {"a name from the root", [&] { with({victim, "", ""}); }, 14},
        {"the note a link to a note elsewhere",
         [&] {
             zvtest::write_file("out/note", list_bytes(note));
             fs::remove("db/orders.dat.swap");
             fs::create_symlink(fs::absolute("out/note"), "db/orders.dat.swap");
         },
         14},
        {"a listed note beside a table that is not partitioned",
         [&] {
             fs::remove("db/orders.dat.swap");
             zvtest::write_file("db/other.dat.swap", list_bytes({{"other.dat", "", "gone.dat"}}));
         },
         14},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        restore("begun");
        fs::create_directory_symlink("../out", "db/lnk");
        c.plant();
        const Tree before = tree({"db", "out"});
        EXPECT_EQ(open_orders(), c.open);
        // The table that is not partitioned opens by the engine's own call.
        const int other = AVLFILNUM(1);
        if (OPNFIL(other, "db/other.dat", 0) == 0) CLSFIL(other, 0);
        EXPECT_EQ(changed(before, tree({"db", "out"})), std::vector<std::string>{});
        EXPECT_TRUE(refused()) << status_log();
    }
}

// A listed note whose new host is planted: a partitioned host's data file
// marked as a swap marks its new files, whose member table names another
// table's members in "db/sub" (a copy of that table's host). The set's own
// files are those the set under the table's names names, never those of a
// file the note names as new: a note that names the other table's files is
// refused, logged with the name, and no file under "db" changes.
TEST_F(PlantedNoteTest, APlantedNewHostDoesNotWidenTheSetsFiles) {
    make_orders();
    // "victim" in "db/sub": a partitioned table of its own, its index
    // "byid" in a file of its own there, one record in each of the members
    // 1, 2 and 3.
    fs::create_directory("db/sub");
    tagZVDBTABLE *orders = table_;
    table_ = static_cast<tagZVDBTABLE *>(zvdbAllocTable(session_));
    ASSERT_NE(table_, nullptr);
    tagZVDBFIELD *part = field("part", ZV_INT4);
    tagZVDBFIELD *id = field("id", ZV_INT4);
    ASSERT_NE(zvdbAddSegment(index("bypart", 1), part, 12), nullptr);
    tagZVDBINDEX *byid = index("byid");
    ASSERT_NE(zvdbAddSegment(byid, id, 12), nullptr);
    ASSERT_EQ(zvdbSetIndexFilename(byid, "db/sub", "victim_id"), 0);
    ASSERT_EQ(zvdbSetTablePartitionIndexNbr(table_, 0), 0);
    ASSERT_EQ(zvdbSetTablePartitionRule(table_, "part"), 0);
    ASSERT_EQ(zvdbSetTablePath(table_, "db/sub"), 0);
    ASSERT_EQ(zvdbCreateTable(table_, "victim", 0x800), 0) << last();
    ASSERT_EQ(zvdbSetTablePath(table_, "db/sub"), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "victim", 0), 0) << last();
    ZVHANDLE r = zvdbAllocRecord(table_);
    ASSERT_NE(r, nullptr);
    for (int32_t i = 1; i <= 3; i++) {
        ASSERT_EQ(zvdbClearRecord(r), 0);
        ASSERT_EQ(zvdbSetFieldAsSigned(r, 0, i), 0);
        ASSERT_EQ(zvdbSetFieldAsSigned(r, 1, i * 100), 0);
        ASSERT_EQ(zvdbWriteRecord(r), 0) << last();
    }
    zvdbFreeRecord(r);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    zvdbFreeTable(table_);
    table_ = orders;
    for (const char *f : {"db/sub/victim.dat.002", "db/sub/victim_id.idx.002"}) ASSERT_TRUE(fs::exists(f)) << f;
    // The planted new host: the victim's host, marked as a swap's new file.
    std::string host = zvtest::read_file("db/sub/victim.dat");
    host[56] = 'R';
    zvtest::write_file("db/evil.dat", host);
    zvtest::save_tree("planted");
    for (const std::string victim : {"sub/victim.dat.002", "sub/victim_id.idx.002"}) {
        SCOPED_TRACE(victim);
        restore("planted");
        // The orders' host to be replaced by the planted one, an index file
        // whose new file has moved (so the swap has begun), and the
        // victim's file as an old file to delete.
        zvtest::write_file("db/orders.dat.swap",
                           list_bytes({{"orders.dat", "", "evil.dat"}, {"orders.idx", "", "gone.idx"}, {victim, "", ""}}));
        const Tree before = tree({"db"});
        EXPECT_EQ(open_orders(), 0) << last();
        EXPECT_EQ(changed(before, tree({"db"})), std::vector<std::string>{});
        EXPECT_NE(status_log().find("it names a file that is not its set's"), std::string::npos) << status_log();
        EXPECT_NE(status_log().find("db/" + victim), std::string::npos) << status_log();
    }
}

// A swap begun in a set another process holds is that process's business:
// the open is refused by its lock (12) and leaves every file as it is; a
// FIFO in the note's place neither stops the open nor is acted on.
TEST_F(PlantedNoteTest, ANoteBesideAHeldSetOrAFifoIsLeftAlone) {
    make_orders();
    zvtest::save_tree("tpl");
    bool found = false;
    for (long n = 1; n < 60 && !found; n++) {
        restore();
        if (!killed_at(n)) break;
        const std::vector<Entry> e = entries_of(note_bytes());
        found = !e.empty() && !fs::exists("db/" + e[0][2]) && fs::exists("db/" + e.back()[2]);
    }
    ASSERT_TRUE(found) << "no kill fell after the host's move";
    zvtest::save_tree("begun");
    {
        zvtest::Peer peer([](int) {
            zvtest::ChildResult r;
            if (zvtest::start_engine(8, 20, 8, 16) != 0) return r;
            r.rc = OPNFIL(1, "db/orders.dat", 0x4000);
            r.ok = true;
            return r;
        });
        // The peer's open does not see the note (it would act on it).
        fs::rename("db/orders.dat.swap", "db/hidden");
        ASSERT_EQ(peer.ask(1).rc, 0);
        fs::rename("db/hidden", "db/orders.dat.swap");
        const Tree before = tree({"db"});
        EXPECT_EQ(open_orders(), 12);
        EXPECT_EQ(changed(before, tree({"db"})), std::vector<std::string>{});
    }
    restore("begun");
    fs::remove("db/orders.dat.swap");
    ASSERT_EQ(mkfifo("db/orders.dat.swap", 0644), 0);
    const Tree before = tree({"db"});
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(20);
        _exit(open_orders());
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "the open waited on the FIFO";
    EXPECT_EQ(WEXITSTATUS(status), 14);
    EXPECT_EQ(changed(before, tree({"db"})), std::vector<std::string>{});
}

// A swap that moved nothing, whose original data file was parked by a
// rename (where links fail): the open puts it back under its name and
// drops the note. A rename back that fails keeps the note (the original
// is under the kept name it gives), logged; the next open finishes the
// job, and the table opens as it was.
TEST_F(PlantedNoteTest, AFailedRenameBackKeepsTheNote) {
    make_orders();
    zvtest::save_tree("tpl");
    std::vector<Entry> note;
    for (long n = 1; n < 60 && note.empty(); n++) {
        restore();
        if (!killed_at(n)) break;
        const std::vector<Entry> e = entries_of(note_bytes());
        if (!e.empty() && fs::exists("db/" + e[0][2]) && !e[0][1].empty() && fs::exists("db/" + e[0][1])) note = e;
    }
    ASSERT_FALSE(note.empty()) << "no kill fell between the host's park and its move";
    const std::string kept = "db/" + note[0][1];
    // The original under its kept name only, as a rename would leave it.
    ASSERT_TRUE(fs::remove("db/orders.dat"));
    zv::fault_reset();
    zv::fault_set(zv::IoKind::Rename, 1, EIO);
    EXPECT_NE(open_orders(), 0);
    zv::fault_reset();
    EXPECT_TRUE(fs::exists("db/orders.dat.swap"));
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_NE(status_log().find("could not put the original back under its name"), std::string::npos) << status_log();
    // Without the fault the original goes back and the note with the new
    // files; the open after that takes the table as it was.
    EXPECT_NE(open_orders(), 0);
    EXPECT_TRUE(fs::exists("db/orders.dat"));
    EXPECT_FALSE(fs::exists(kept));
    EXPECT_FALSE(fs::exists("db/orders.dat.swap"));
    for (const Entry &e : note) EXPECT_TRUE(e[2].empty() || !fs::exists("db/" + e[2])) << e[2];
    ASSERT_EQ(zvdbSetTablePath(table_, "db"), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "orders", 0), 0) << last();
    EXPECT_EQ(zvdbGetFieldByName(table_, "qty"), nullptr);
    EXPECT_EQ(ids(), (std::vector<int32_t>{10, 20, 30}));
    ASSERT_EQ(zvdbCloseTable(table_), 0);
}

// A members' note beside a table in a superfile host that names a member
// of another host, there or through a linked directory: refused, the
// table opens as it is, and the other hosts keep their members.
TEST_F(PlantedNoteTest, AMembersNoteNamingAnotherHostsMemberIsRefused) {
    fs::create_directories("db");
    fs::create_directories("out");
    tagZVDBFIELD *id = field("id", ZV_INT4);
    field("name", ZV_FSTRING, 12);
    ASSERT_NE(zvdbAddSegment(index("byid"), id, 12), nullptr);
    for (const char *path : {"db/host.sup!", "db/other.sup!", "out/far.sup!"}) {
        ASSERT_EQ(zvdbSetTablePath(table_, path), 0);
        ASSERT_EQ(zvdbCreateTable(table_, "alt", 0), 0) << path << " " << last();
    }
    ASSERT_EQ(zvdbSetTablePath(table_, "db/host.sup!"), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "alt", 0), 0) << last();
    const std::string data = zvWNGV->fcbtab[table_->datno]->name;
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    ASSERT_EQ(data.rfind("db/host.sup!", 0), 0u) << data;
    const std::string member = data.substr(std::string("db/host.sup!").size());
    // The members of a host, by the engine's own calls.
    auto members = [&](const char *host) {
        std::vector<std::string> out;
        const int h = AVLFILNUM(2);
        EXPECT_EQ(OPNFIL(h, host, 0), 0);
        char name[256];
        for (int n = 1; GETMNAME(h, name, sizeof name, n) == 0; n++) out.emplace_back(name);
        EXPECT_EQ(CLSFIL(h, 0), 0);
        return out;
    };
    const auto other = members("db/other.sup"), far = members("out/far.sup");
    ASSERT_FALSE(other.empty());
    fs::create_directory_symlink("../out", "db/lnk");
    for (const std::string &stray : {"other.sup!" + member, "lnk/far.sup!" + member}) {
        SCOPED_TRACE(stray);
        fs::remove("ZVSTATUS.QVS");
        zvtest::write_file(data + ".swap", list_bytes({{"host.sup!" + member, "", "host.sup!gone"}, {stray, "", ""}}));
        const Tree before = tree({"out"});
        const std::string otherhost = zvtest::read_file("db/other.sup");
        ASSERT_EQ(zvdbSetTablePath(table_, "db/host.sup!"), 0);
        EXPECT_EQ(zvdbOpenTable(table_, "alt", 0), 0) << last();
        zvdbCloseTable(table_);
        EXPECT_NE(status_log().find("it names a file that is not its set's"), std::string::npos) << status_log();
        EXPECT_NE(status_log().find("db/" + stray), std::string::npos) << status_log();
        EXPECT_TRUE(fs::exists(data + ".swap"));
        EXPECT_EQ(changed(before, tree({"out"})), std::vector<std::string>{});
        EXPECT_EQ(zvtest::read_file("db/other.sup"), otherhost);
        EXPECT_EQ(members("db/other.sup"), other);
        EXPECT_EQ(members("out/far.sup"), far);
    }
}

}  // namespace

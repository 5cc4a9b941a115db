// Names the library makes up or finds on disk beside a set, a dictionary or
// a table, each planted with what it must never follow or wait on: a
// symbolic link to a file outside the directory, a link to a directory
// outside holding files of the names the library looks for there, a FIFO, a
// directory (not empty) and an over-long regular file. Every call that
// meets one answers within a bound (it runs in a child that an alarm ends),
// changes nothing outside the directory (the links' targets keep their
// bytes and modes), leaves what is no file of its own as it is, and the
// status log names the planted file.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/core/centralio.h"
#include "engine/core/fileops.h"
#include "engine/core/filehdr.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "tests/reliability/relfix.h"
#include "tests/support/child.h"
#include "tests/support/engine.h"
#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"

namespace {

namespace fs = std::filesystem;

enum Plant { kLink, kLinkDir, kFifo, kDir, kLong, kPlants };
const char *const kPlantNames[kPlants] = {"a link to a file outside", "a link to a directory outside", "a FIFO",
                                          "a directory", "an over-long file"};

// What a call may answer: any code.
constexpr int kAny = -1000;
// Seconds a call may take before its child is ended as hung.
constexpr unsigned kBound = 15;

// The directory outside the one the library works in: a file the links
// point at, and a directory holding files of every name the library looks
// for below a name it made up.
const char *const kOutFile = "target";
const char *const kOutDir = "dir";
const char *const kOutDirNames[] = {"zvdbdict.dat", "zvdbdict.idx", "zvdbdict.qsd", "items.dat", "keep"};

std::string outside(const std::string &root) { return root + "/outside"; }

void make_outside(const std::string &root) {
    fs::create_directories(outside(root) + "/" + kOutDir);
    zvtest::write_file(outside(root) + "/" + kOutFile, std::string(64, 'T'));
    chmod((outside(root) + "/" + kOutFile).c_str(), 0640);
    for (const char *n : kOutDirNames) zvtest::write_file(outside(root) + "/" + kOutDir + "/" + n, n);
}

// Every entry below dir: bytes of a file, target of a link, mode bits.
std::map<std::string, std::string> tree(const std::string &dir) {
    std::map<std::string, std::string> out;
    for (const auto &e : fs::recursive_directory_iterator(dir)) {
        const std::string p = e.path().string();
        struct stat st;
        if (lstat(p.c_str(), &st) != 0) continue;
        std::string v = std::to_string(st.st_mode) + ":";
        if (S_ISLNK(st.st_mode)) v += fs::read_symlink(p).string();
        else if (S_ISREG(st.st_mode)) v += zvtest::read_file(p);
        out[p] = v;
    }
    return out;
}

// What stands under a name (its kind and bytes or target), to see that a
// plant is left as it is.
std::string entry(const std::string &name) {
    struct stat st;
    if (lstat(name.c_str(), &st) != 0) return "none";
    if (S_ISLNK(st.st_mode)) return "link " + fs::read_symlink(name).string();
    if (S_ISFIFO(st.st_mode)) return "fifo";
    if (S_ISDIR(st.st_mode)) return "dir " + zvtest::read_file(name + "/keep");
    return "file " + zvtest::read_file(name);
}

void plant(const std::string &name, Plant p, const std::string &root) {
    fs::remove_all(name);
    switch (p) {
    case kLink:
        fs::create_symlink(outside(root) + "/" + kOutFile, name);
        break;
    case kLinkDir:
        fs::create_symlink(outside(root) + "/" + kOutDir, name);
        break;
    case kFifo:
        ASSERT_EQ(mkfifo(name.c_str(), 0644), 0);
        break;
    case kDir:
        fs::create_directory(name);
        zvtest::write_file(name + "/keep", "kept");
        break;
    case kLong:
        zvtest::write_file(name, std::string(100000, 'L'));
        break;
    case kPlants:
        break;
    }
}

// Runs fn in a child that an alarm ends when it takes longer than kBound.
zvtest::ChildResult bounded(const std::function<zvtest::ChildResult()> &fn) {
    return zvtest::run_in_child([&fn] {
        alarm(kBound);
        return fn();
    });
}

// ---- Record level -----------------------------------------------------------

constexpr const char *kUser = "tester";

void define_items(ZVHANDLE t) {
    zvdbAddField(t, "itemno", ZV_INT4, 4);
    zvdbAddField(t, "name", ZV_FSTRING, 20);
    zvdbAddIndex(t, "itemno", 0, 0, 0);
    zvdbAddSegmentByNbr(t, 0, 0, 12);
}

// The session dictionary made; with `kill`, a database made in it by a
// process that holds it (an exclusive session: its dictionary stays open
// from logon to logout) and ends without logging out (the dictionary left
// not closed cleanly); with `database`, the database "shop" made and
// closed.
zvtest::ChildResult make_session(bool kill, bool database) {
    return zvtest::run_in_child([kill, database] {
        zvtest::ChildResult r;
        ZVHANDLE s = zvdbAllocSession(0);
        if (kill) zvdbSetSessionExclusive(s, 1);
        if ((r.rc = zvdbCreateSession(s, nullptr, nullptr, nullptr)) || (r.rc = zvdbLogon(s, nullptr, kUser, nullptr)))
            return r;
        if (kill || database) {
            if ((r.rc = zvdbCreateDatabase(s, "shop", "."))) return r;
        }
        if (kill) return r;  // the child ends without a logout
        r.rc = zvdbLogout(s);
        zvdbFreeSession(s);
        return r;
    });
}

zvtest::ChildResult logon() {
    zvtest::ChildResult r;
    ZVHANDLE s = zvdbAllocSession(0);
    r.rc = zvdbLogon(s, nullptr, kUser, nullptr);
    r.sys = zvGetSystemErrorCode();
    if (r.rc == 0) zvdbLogout(s);
    zvdbFreeSession(s);
    return r;
}

zvtest::ChildResult create_session() {
    zvtest::ChildResult r;
    ZVHANDLE s = zvdbAllocSession(0);
    r.rc = zvdbCreateSession(s, nullptr, nullptr, nullptr);
    r.sys = zvGetSystemErrorCode();
    zvdbFreeSession(s);
    return r;
}

zvtest::ChildResult create_database() {
    zvtest::ChildResult r;
    ZVHANDLE s = zvdbAllocSession(0);
    if ((r.rc = zvdbLogon(s, nullptr, kUser, nullptr))) return r;
    r.rc = zvdbCreateDatabase(s, "shop", ".");
    r.sys = zvGetSystemErrorCode();
    zvdbLogout(s);
    zvdbFreeSession(s);
    return r;
}

zvtest::ChildResult create_table() {
    zvtest::ChildResult r;
    ZVHANDLE s = zvdbAllocSession(0);
    if ((r.rc = zvdbLogon(s, nullptr, kUser, nullptr))) return r;
    ZVHANDLE db = zvdbAllocDatabase(s);
    if ((r.rc = zvdbConnect(db, "shop"))) return r;
    ZVHANDLE t = zvdbAllocTable(db);
    define_items(t);
    r.rc = zvdbCreateTable(t, "items", 0);
    r.sys = zvGetSystemErrorCode();
    zvdbFreeTable(t);
    zvdbDisconnect(db);
    zvdbFreeDatabase(db);
    zvdbLogout(s);
    zvdbFreeSession(s);
    return r;
}

// ---- Engine -----------------------------------------------------------------

// A segmented data file d.dat parked by a swap under Z1234567 (its file and
// its segment file), its new file t.dat (marked) not yet moved in, and the
// swap's note "d.dat.swap" beside it.
zvtest::ChildResult make_parked() {
    return zvtest::run_in_child([] {
        zvtest::ChildResult r;
        if ((r.rc = zvtest::start_engine(8, 20, 8, 16))) return r;
        XCREblk x{};
        x.mode = 0x02 | 0x08 | 0x200000;
        x.segsize = 1;
        x.nsegs = 4;
        if ((r.rc = CREDATX8(1, "d.dat", 128, 0, 0x800, 0, nullptr, nullptr, &x))) return r;
        std::string data(1200000, 'Z');
        if ((r.rc = izvio81x(0x11, zvWNGV->fcbtab[1], 0, 4096, data.data(), int32_t(data.size()), nullptr, 0)))
            return r;
        if ((r.rc = CLSFIL(1, 0)) || (r.rc = CREDATX8(1, "t.dat", 128, 0, 0x800, 0, nullptr, nullptr, ZV_XCRE_DEFAULT)) ||
            (r.rc = CLSFIL(1, 0)) || (r.rc = zv::putupdflg("t.dat", kUpdRebuild)))
            return r;
        zvtest::stop_engine();
        fs::rename("d.dat", "Z1234567");
        fs::rename("d.dat.001", "Z1234567.001");
        // A note of version 1: magic and version, file counts, the three
        // base names, the FNV-1a of what comes before.
        std::string b("ZVSWAP\x01\x00", 8);
        auto u32 = [&b](uint32_t v) {
            for (int i = 0; i < 4; i++) b.push_back(char(v >> (8 * i)));
        };
        u32(2);
        u32(1);
        for (const std::string n : {"d.dat", "Z1234567", "t.dat"}) {
            b.push_back(char(n.size()));
            b.push_back(0);
            b += n;
        }
        uint32_t h = 2166136261u;
        for (unsigned char c : b) h = (h ^ c) * 16777619u;
        u32(h);
        zvtest::write_file("d.dat.swap", b);
        return r;
    });
}

zvtest::ChildResult open_parked() {
    zvtest::ChildResult r;
    if ((r.rc = zvtest::start_engine(8, 20, 8, 16))) return r;
    r.rc = OPNFIL(1, "d.dat", 0);
    r.sys = zvGetSystemErrorCode();
    if (r.rc == 0) CLSFIL(1, 0);
    zvtest::stop_engine();
    return r;
}

// The set "s" of the reliability fixture, closed, with a few records.
zvtest::ChildResult make_set() {
    return zvtest::run_in_child([] {
        zvtest::ChildResult r;
        if ((r.rc = INTISAMX(3, 30, 4, 3, reltest::kProfile))) return r;
        reltest::SetDef def("s", false);
        if ((r.rc = CREIFIL(&def.ifil))) return r;
        for (uint32_t n = 1; n <= 20 && r.rc == 0; n++) {
            const reltest::Rec rec = reltest::rec(n);
            r.rc = ADDREC(def.ifil.tfilno, const_cast<reltest::Rec *>(&rec));
        }
        if (r.rc == 0) r.rc = CLIFIL(&def.ifil);
        CLISAM();
        return r;
    });
}

// The name a set rebuild draws for the list of its rejected records (in
// the current directory, free when drawn), and what to plant there before
// the rebuild opens it. The draw makes the file and deletes it again: each
// delete looks for a drawn name first; the draw is the list's when the next
// call after it is a stream open (not the create of a work file under it),
// which then finds the plant.
std::string g_candidate, g_drawn;
Plant g_plant = kLink;
std::string g_root;

void spot_drawn(void *);

void plant_drawn(void *) {
    if (g_candidate.empty() || !g_drawn.empty()) return;
    g_drawn = g_candidate;
    plant(g_drawn, g_plant, g_root);
}

void cancel_drawn(void *) { g_candidate.clear(); }

void spot_drawn(void *) {
    if (!g_drawn.empty()) return;
    zv::fault_call(zv::IoKind::Unlink, 1, spot_drawn, nullptr);
    for (const auto &e : fs::directory_iterator(".")) {
        const std::string n = e.path().filename().string();
        if (n.rfind("zarvo.tmp.", 0) == 0 && e.is_regular_file() && e.file_size() == 0) {
            g_candidate = n;
            zv::fault_call(zv::IoKind::Fopen, 1, plant_drawn, nullptr);
            zv::fault_call(zv::IoKind::Open, 1, cancel_drawn, nullptr);
            return;
        }
    }
}

zvtest::ChildResult rebuild_set() {
    zvtest::ChildResult r;
    if ((r.rc = INTISAMX(3, 30, 4, 3, reltest::kProfile))) return r;
    reltest::SetDef def("s", false);
    g_drawn.clear();
    g_candidate.clear();
    zv::fault_reset();
    zv::fault_call(zv::IoKind::Unlink, 1, spot_drawn, nullptr);
    r.rc = RBLIFIL(&def.ifil);
    r.sys = zvGetSystemErrorCode();
    zv::fault_reset();
    r.extra = g_drawn.empty() ? 0 : 1;
    CLISAM();
    return r;
}

// ---- The table ----------------------------------------------------------------

struct Row {
    const char *what;
    const char *name;  // the planted name; empty: the one the call draws
    std::function<zvtest::ChildResult()> setup;  // in a child of its own, before the plant
    std::function<zvtest::ChildResult()> call;   // the call that meets it
    int refused;       // its answer to a plant that is no regular file
    int sys;           // the system error left with it (0: not looked at)
    int overlong;      // its answer to the over-long file
    bool keeps_long;   // the over-long file stays as it is (else it is the library's to drop)
    bool logs;         // the status log names a plant that is no regular file
    bool logs_long;    // and the over-long file (a lock or a work file of another size)
};

class FoundNames : public zvtest::ZvTest {};

TEST_F(FoundNames, EveryNameTheLibraryFindsIsOpenedSafely) {
    const std::string root = fs::current_path().string();
    g_root = root;
    const auto nothing = [] { return zvtest::ChildResult{0, 0, 0, true, 0}; };
    const Row rows[] = {
        {"the repair lock after a kill, at an ordinary logon", "zvdbdict.qsd.repair", [] { return make_session(true, false); },
         logon, 12, -1, 12, true, true, true},
        {"the repair lock beside a healthy dictionary, at a logon", "zvdbdict.qsd.repair",
         [] { return make_session(false, false); }, logon, 0, 0, 0, true, true, true},
        {"the session dictionary's temporary name, at its make", "zvdbdict~zvnew.qsd", nothing, create_session, 55, 0,
         0, false, true, false},
        {"the database dictionary's temporary name, at its make", "shop~zvnew.qdd",
         [] { return make_session(false, false); }, create_database, 55, 0, 0, false, true, false},
        {"the table's temporary data file name, at its make", "items~zvnew.dat",
         [] { return make_session(false, true); }, create_table, 55, 0, 0, false, true, false},
        {"the parked name of a swap's note, at the open of its set", "Z1234567", make_parked, open_parked, 12, 0, kAny,
         true, true, false},
        {"the list of a set rebuild's rejects (a name it draws), at the rebuild", "", make_set, rebuild_set, 37, 0, 37,
         true, true, true},
        {"the status log, at an entry", "ZVSTATUS.QVS", nothing,
         [] {
             zvtest::ChildResult r;
             r.rc = zvStatusLogWrite("an entry", 5);
             return r;
         },
         10, 0, 5, false, false, false},
    };
    int n = 0;
    for (const Row &row : rows) {
        for (int p = 0; p < kPlants; p++) {
            SCOPED_TRACE(testing::Message() << row.what << ", " << kPlantNames[p]);
            const std::string dir = root + "/case" + std::to_string(n++);
            fs::create_directories(dir);
            fs::current_path(dir);
            fs::remove_all(outside(root));
            make_outside(root);
            const zvtest::ChildResult made = row.setup();
            ASSERT_TRUE(made.ok && made.rc == 0) << "setup " << made.rc;
            if (*row.name) plant(row.name, Plant(p), root);
            g_plant = Plant(p);
            const auto out_before = tree(outside(root));
            const std::string plant_before = *row.name ? entry(row.name) : "";

            const zvtest::ChildResult r = bounded(row.call);
            if (!r.ok) {
                ADD_FAILURE() << "the call did not answer within " << kBound << " s (wait status " << r.status << ")";
                fs::current_path(root);
                continue;
            }
            const bool regular = p == kLong;
            const int want = regular ? row.overlong : row.refused;
            if (want != kAny) {
                EXPECT_EQ(r.rc, want);
            }
            if (row.sys < 0 && !regular) {
                const int sys[kPlants] = {ELOOP, ELOOP, EINVAL, EISDIR, EINVAL};
                EXPECT_EQ(r.sys, sys[p]);
            }
            EXPECT_EQ(tree(outside(root)), out_before) << "a file outside changed";
            std::string name = row.name;
            if (name.empty()) {
                if (r.extra != 1) {
                    ADD_FAILURE() << "the rebuild drew no name";
                    fs::current_path(root);
                    continue;
                }
                // The drawn name is in the child's memory only: the plant
                // is found by its kind beside the set.
                for (const auto &e : fs::directory_iterator(".")) {
                    const std::string f = e.path().filename().string();
                    struct stat st;
                    if (f.rfind("zarvo.tmp.", 0) != 0 || lstat(f.c_str(), &st) != 0) continue;
                    if (!S_ISREG(st.st_mode) || st.st_size == 100000) name = f;
                }
                if (name.empty()) {
                    ADD_FAILURE() << "the plant is gone";
                    fs::current_path(root);
                    continue;
                }
            } else if (!regular || row.keeps_long) {
                EXPECT_EQ(entry(name), plant_before) << "the plant was not left as it was";
            }
            if (regular ? row.logs_long : row.logs) {
                EXPECT_NE(zvtest::read_file("ZVSTATUS.QVS").find(name), std::string::npos)
                    << "the status log does not name " << name << " (answer " << r.rc << ")";
            }
            fs::current_path(root);
        }
    }
}

}  // namespace

namespace {

// The repair lock made by the repair after a kill takes the permissions of
// the dictionary's host, whatever the umask would let through.
TEST_F(FoundNames, TheRepairLockTakesTheDictionarysPermissions) {
    ASSERT_TRUE(make_session(true, false).ok);
    ASSERT_EQ(chmod("zvdbdict.qsd", 0640), 0);
    ASSERT_FALSE(fs::exists("zvdbdict.qsd.repair"));
    const zvtest::ChildResult r = bounded([] {
        umask(0);
        return logon();
    });
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.rc, 0);
    struct stat st;
    ASSERT_EQ(lstat("zvdbdict.qsd.repair", &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_size, 8);
}

}  // namespace

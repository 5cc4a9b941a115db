// The note of a swap that moves a segmented data file, or that lists every
// file of a partitioned set: what an open does with a note it finds, whole,
// damaged, naming files elsewhere or files that are not its set's, and the
// update flag that a swap writes only into an engine file's header. (Listed
// notes beside real partitioned tables: tests/recapi/schema.)
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "engine/core/filehdr.h"
#include "engine/core/centralio.h"
#include "engine/core/fileops.h"
#include "engine/core/platform.h"
#include "engine/files/swapnote.h"
#include "tests/engine/files/files_util.h"
#include "tests/support/child.h"
#include "tests/support/fixture.h"

namespace {

namespace fs = std::filesystem;
using filestest::Bytes;

using Id = std::vector<uint32_t>;

uint32_t fnv(const std::string &b) {
    uint32_t h = 2166136261u;
    for (unsigned char c : b) h = (h ^ c) * 16777619u;
    return h;
}

void u32(std::string *b, uint32_t v) {
    for (int i = 0; i < 4; i++) b->push_back(char(v >> (8 * i)));
}

void name(std::string *b, const std::string &n) {
    b->push_back(char(n.size() & 0xFF));
    b->push_back(char(n.size() >> 8));
    *b += n;
}

// A single note as the swap writes it (magic and version, file counts, the
// new file's id from version 3 on, three base names, the FNV-1a of what
// comes before), with any names.
std::string note_bytes(uint32_t oldfiles, uint32_t newfiles, const std::string &own, const std::string &parked,
                       const std::string &fresh, const Id &id = {}) {
    std::string b("ZVSWAP", 6);
    b.push_back(char(id.empty() ? 1 : 3));
    b.push_back(0);
    u32(&b, oldfiles);
    u32(&b, newfiles);
    for (uint32_t v : id) u32(&b, v);
    for (const std::string *n : {&own, &parked, &fresh}) name(&b, *n);
    u32(&b, fnv(b));
    return b;
}

// A listed note of version 2: per entry the original, its kept second name
// and the new file ("" for none).
std::string list_bytes(const std::vector<std::vector<std::string>> &entries) {
    std::string b("ZVSWAP\x02\x00", 8);
    u32(&b, uint32_t(entries.size()));
    for (const auto &e : entries) {
        for (const std::string &n : e) name(&b, n);
    }
    u32(&b, fnv(b));
    return b;
}

// The id a file's header carries (file id number, server id, creation
// time); empty when there is no such header.
Id id_of(const std::string &path) {
    const Bytes b = filestest::file_bytes(path);
    if (b.size() < 128) return {};
    return {filestest::le32(b, 32), filestest::le32(b, 36), filestest::le32(b, 88)};
}

char flag_of(const std::string &path) { return zvtest::read_file(path).at(offsetof(FILEHDR, updflg)); }

bool is_link(const std::string &path) { return fs::is_symlink(fs::symlink_status(path)); }

// The paths whose entries differ between two trees (changed, gone or new).
std::vector<std::string> changed(const std::map<std::string, std::string> &a,
                                 const std::map<std::string, std::string> &b) {
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

class SwapNoteTest : public filestest::FilesTest {
protected:
    // An automatic segmented data file of 1 MB segments, written past its
    // first segment: the file and its segment file ".001".
    void segmented(const std::string &n) {
        XCREblk x{};
        x.mode = 0x02 | 0x08 | 0x200000;
        x.segsize = 1;
        x.nsegs = 4;
        ASSERT_EQ(CREDATX8(1, n.c_str(), 128, 0, 0x800, 0, nullptr, nullptr, &x), 0);
        Bytes data(1200000, 0x5A);
        ASSERT_EQ(izvio81x(0x11, fcb(1), 0, 4096, data.data(), int32_t(data.size()), nullptr, 0), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        ASSERT_TRUE(fs::exists(n + ".001"));
    }
    // A plain data file; marked (as the swap marks its new files) or not.
    void data_file(const std::string &n, bool marked) {
        ASSERT_EQ(CREDATX8(1, n.c_str(), 128, 0, 0x800, 0, nullptr, nullptr, ZV_XCRE_DEFAULT), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        if (marked) {
            ASSERT_EQ(zv::putupdflg(n.c_str(), kUpdRebuild), 0);
        }
    }
    // The segmented d.dat parked by a swap under Z1234567 (its file and its
    // segment file), its new file t.dat (marked) not yet moved.
    void parked() {
        segmented("d.dat");
        data_file("t.dat", true);
        fs::rename("d.dat", "Z1234567");
        fs::rename("d.dat.001", "Z1234567.001");
    }
    // The files of the directory, by name, with their bytes (a link: its
    // target's name).
    static std::map<std::string, std::string> tree(const std::string &dir = ".") {
        std::map<std::string, std::string> out;
        for (const auto &e : fs::recursive_directory_iterator(dir)) {
            const std::string p = e.path().string();
            if (p.find("ZVSTATUS") != std::string::npos) continue;
            if (is_link(p)) out[p] = "-> " + fs::read_symlink(p).string();
            else if (e.is_regular_file()) out[p] = zvtest::read_file(p);
            else if (e.is_fifo()) out[p] = "fifo";
        }
        return out;
    }
    static bool refused_in_log() {
        return zvtest::read_file("ZVSTATUS.QVS").find("Swap: the swap's note is refused") != std::string::npos;
    }
};

// The swap's own note goes when the swap drops it; a note that a live swap
// holds is left alone by an open in another description. The swap writes
// only a note that an open could act on: base names of one directory,
// none a symbolic link, and a new file that is an engine file (whose id
// the note keeps).
TEST_F(SwapNoteTest, ANoteIsHeldWhileItsSwapRunsAndGoesWithIt) {
    segmented("d.dat");
    data_file("t.dat", true);
    const std::string before = zvtest::read_file("d.dat");
    zv::SwapNote note;
    ASSERT_EQ(note.write("d.dat", 2, "./Z1234567", "t.dat", 1), 0);
    EXPECT_TRUE(note.held());
    EXPECT_TRUE(fs::exists("d.dat.swap"));
    EXPECT_FALSE(zv::swapnote_finish("d.dat")) << "finished under a live swap";
    EXPECT_EQ(zvtest::read_file("d.dat"), before);
    note.drop();
    EXPECT_FALSE(fs::exists("d.dat.swap"));

    fs::create_directory("sub");
    data_file("sub/t.dat", true);
    fs::create_symlink("d.dat", "l.dat");
    zvtest::write_file("junk.dat", std::string(600, 'j'));
    EXPECT_EQ(note.write("d.dat", 2, "Z1234567", "sub/t.dat", 1), 454);
    EXPECT_EQ(note.write("l.dat", 2, "Z1234567", "t.dat", 1), 454);
    EXPECT_EQ(note.write("d.dat", 2, "Z1234567", "junk.dat", 1), 13);
    EXPECT_FALSE(note.held());
    for (const char *gone : {"d.dat.swap", "l.dat.swap"}) EXPECT_FALSE(fs::exists(gone)) << gone;
}

// An unfinished swap (the original parked, the new file not yet in) is
// finished: the new file takes the name, the parked original goes. So is
// one of a note of the older form, without the new file's id; and an open
// that finds the data file missing finishes it, then answers as the new
// file does (14: the swap marked it).
TEST_F(SwapNoteTest, AnUnfinishedSwapIsFinished) {
    for (int form : {1, 3, 0}) {
        SCOPED_TRACE(form);
        for (const auto &e : tree()) fs::remove(e.first);
        parked();
        const Id fresh = id_of("t.dat");
        zvtest::write_file("d.dat.swap", note_bytes(2, 1, "d.dat", "Z1234567", "t.dat", form == 1 ? Id{} : fresh));
        if (form) {
            EXPECT_TRUE(zv::swapnote_finish("d.dat"));
        } else {
            EXPECT_EQ(OPNFIL(1, "d.dat", 0), 14);
        }
        EXPECT_EQ(id_of("d.dat"), fresh);
        for (const char *gone : {"Z1234567", "Z1234567.001", "t.dat", "d.dat.swap"})
            EXPECT_FALSE(fs::exists(gone)) << gone;
    }
}

// A damaged note, or one whose names leave its directory, moves nothing.
TEST_F(SwapNoteTest, ADamagedOrStrayNoteMovesNothing) {
    fs::create_directory("sub");
    struct Case {
        const char *what;
        std::string bytes;
    };
    std::string flipped = note_bytes(2, 1, "d.dat", "p.dat", "t.dat");
    flipped[10] ^= 1;
    const Case cases[] = {
        {"a damaged check value", flipped},
        {"a cut note", note_bytes(2, 1, "d.dat", "p.dat", "t.dat").substr(0, 20)},
        {"a new file elsewhere", note_bytes(2, 1, "d.dat", "p.dat", "../t.dat")},
        {"a parked name elsewhere", note_bytes(2, 1, "d.dat", "../p.dat", "t.dat")},
        {"another file's note", note_bytes(2, 1, "e.dat", "p.dat", "t.dat")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        zvtest::write_file("p.dat", "old");
        zvtest::write_file("t.dat", "new");
        zvtest::write_file("sub/t.dat", "new");
        zvtest::write_file("sub/p.dat", "old");
        zvtest::write_file("sub/d.dat.swap", c.bytes);
        EXPECT_FALSE(zv::swapnote_finish("sub/d.dat"));
        EXPECT_FALSE(fs::exists("sub/d.dat"));
        EXPECT_EQ(zvtest::read_file("t.dat"), "new");
        EXPECT_EQ(zvtest::read_file("p.dat"), "old");
        EXPECT_EQ(zvtest::read_file("sub/t.dat"), "new");
        EXPECT_EQ(zvtest::read_file("sub/p.dat"), "old");
    }
    EXPECT_FALSE(zv::swapnote_finish(nullptr));
    EXPECT_FALSE(zv::swapnote_finish(std::string(300, 'x').c_str()));
}

// Well-formed single notes that an open must not act on: each is refused
// (logged), the note stays, and no file changes, in the directory or
// outside it ("out").
TEST_F(SwapNoteTest, ASingleNoteNamingWhatIsNotItsSetsIsRefused) {
    struct Case {
        const char *what;
        std::function<void()> plant;
        int open;  // what the open of d.dat answers
    };
    auto note = [](const std::string &dir, const std::string &bytes) { zvtest::write_file(dir + "d.dat.swap", bytes); };
    const Case cases[] = {
        {"another table's data file named as the parked original",
         [&] {
             segmented("d.dat");
             ASSERT_EQ(zv::putupdflg("d.dat", kUpdChanged), 0);
             data_file("o.dat", false);
             note("", note_bytes(2, 1, "d.dat", "o.dat", "gone.dat"));
         },
         14},
        {"a new file the swap never marked",
         [&] {
             parked();
             ASSERT_EQ(zv::putupdflg("t.dat", 0), 0);
             note("", note_bytes(2, 1, "d.dat", "Z1234567", "t.dat"));
         },
         12},
        {"a marked new file of another id",
         [&] {
             parked();
             Id other = id_of("t.dat");
             other[0] ^= 1;
             note("", note_bytes(2, 1, "d.dat", "Z1234567", "t.dat", other));
         },
         12},
        {"a note beside a data file without segments",
         [&] {
             data_file("d.dat", true);
             segmented("s.dat");
             ASSERT_EQ(zv::putupdflg("s.dat", kUpdRebuild), 0);
             data_file("Z7654321", false);
             note("", note_bytes(1, 2, "d.dat", "Z7654321", "s.dat"));
         },
         14},
        {"a new file that is a symbolic link out of the directory",
         [&] {
             parked();
             data_file("out/x.dat", true);
             fs::remove("t.dat");
             fs::create_symlink("out/x.dat", "t.dat");
             note("", note_bytes(2, 1, "d.dat", "Z1234567", "t.dat"));
         },
         12},
        {"a note that is a symbolic link",
         [&] {
             parked();
             note("out/", note_bytes(2, 1, "d.dat", "Z1234567", "t.dat"));
             fs::create_symlink("out/d.dat.swap", "d.dat.swap");
         },
         12},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto &e : tree()) fs::remove(e.first);
        fs::remove_all("out");
        fs::create_directory("out");
        c.plant();
        if (HasFatalFailure()) return;
        const auto before = tree();
        const int rc = OPNFIL(2, "d.dat", 0);
        EXPECT_EQ(rc, c.open);
        if (rc == 0) CLSFIL(2, 0);
        EXPECT_EQ(changed(before, tree()), std::vector<std::string>{});
        EXPECT_TRUE(refused_in_log());
        fs::remove("ZVSTATUS.QVS");
    }
}

// A swap another open holds is not touched: an open refused by its lock
// (12) leaves the note alone, and a finish that cannot hold the data file
// refuses the note.
TEST_F(SwapNoteTest, ANoteBesideAFileAnotherOpenHoldsIsLeftAlone) {
    // The original parked but for its segment file (the park not yet
    // complete): a finish would park the rest and move the new file in.
    segmented("d.dat");
    data_file("t.dat", true);
    fs::rename("d.dat.001", "Z1234567.001");
    const Id fresh = id_of("t.dat");
    zvtest::write_file("d.dat.swap", note_bytes(2, 1, "d.dat", "Z1234567", "t.dat"));
    const auto before = tree();
    const int other = zv::plat_open("d.dat", zv::OpenHow::ReadWrite, 0);
    ASSERT_GE(other, 0);
    ASSERT_EQ(zv::plat_lock(other, zv::LockCmd::Try, zv::LockType::Exclusive, 0, 0, nullptr, true), 0);
    EXPECT_EQ(OPNFIL(1, "d.dat", 0), 12);
    EXPECT_FALSE(zv::swapnote_finish("d.dat"));
    EXPECT_EQ(changed(before, tree()), std::vector<std::string>{});
    zv::plat_close(other);
    // Let go, the swap is finished.
    EXPECT_TRUE(zv::swapnote_finish("d.dat"));
    EXPECT_EQ(id_of("d.dat"), fresh);
    for (const char *gone : {"t.dat", "Z1234567", "Z1234567.001", "d.dat.swap"}) EXPECT_FALSE(fs::exists(gone)) << gone;
}

// A FIFO under the note's name neither stops the open nor is acted on:
// the open answers as it found the data file (in a child, so that an open
// that waited would end the test rather than hang it).
TEST_F(SwapNoteTest, AFifoAsTheNoteDoesNotStopTheOpen) {
    parked();
    ASSERT_EQ(mkfifo("d.dat.swap", 0644), 0);
    const zvtest::ChildResult r = zvtest::run_in_child([] {
        zvtest::ChildResult c;
        alarm(20);
        if (zvtest::start_engine(8, 20, 8, 16) != 0) return c;
        c.rc = OPNFIL(1, "d.dat", 0);
        zvtest::stop_engine();
        return c;
    });
    ASSERT_TRUE(r.ok) << "the open waited on the FIFO";
    EXPECT_EQ(r.rc, 12);
    EXPECT_TRUE(fs::exists("Z1234567"));
    EXPECT_TRUE(fs::exists("t.dat"));
}

// A note that a process began and never finished writing is deleted by the
// next open that looks for the note, unless a live swap holds it.
TEST_F(SwapNoteTest, AnUnfinishedNoteGoesUnlessItsSwapRuns) {
    zvtest::write_file("d.dat.swap.new", "ZVSW");
    EXPECT_FALSE(zv::swapnote_finish("d.dat"));
    EXPECT_FALSE(fs::exists("d.dat.swap.new"));
    zvtest::write_file("d.dat.swap.new", "ZVSW");
    const int fd = zv::plat_open("d.dat.swap.new", zv::OpenHow::ReadWrite, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(zv::plat_lock(fd, zv::LockCmd::Try, zv::LockType::Exclusive, 0, 0, nullptr, true), 0);
    EXPECT_FALSE(zv::swapnote_finish("d.dat"));
    EXPECT_TRUE(fs::exists("d.dat.swap.new"));
    zv::plat_close(fd);
}

// A listed note names files below its directory only: a name that climbs
// out of it or starts at the root moves nothing, and the note stays.
TEST_F(SwapNoteTest, AListedNoteReachesBelowItsDirectoryOnly) {
    fs::create_directory("ix");
    data_file("d.dat", true);
    data_file("t.idx", true);
    for (const std::string bad : {"../d.idx", "/tmp/d.idx", "ix/../../d.idx", "ix//d.idx", "./d.idx"}) {
        SCOPED_TRACE(bad);
        zvtest::write_file("d.dat.swap", list_bytes({{"d.dat", "", "t.dat"}, {bad, "", "t.idx"}}));
        EXPECT_FALSE(zv::swapnote_finish("d.dat"));
        EXPECT_TRUE(fs::exists("t.idx"));
        EXPECT_TRUE(fs::exists("d.dat.swap"));
    }
    std::string rel;
    const struct {
        const char *dir, *name, *rel;
    } names[] = {{"", "a/b.idx", "a/b.idx"}, {"./", "./a/b.idx", "a/b.idx"}, {"./", "a.idx", "a.idx"},
                 {"db/", "db/ix/a.idx", "ix/a.idx"}, {"db/", "ix/a.idx", nullptr}, {"db/", "db/../a.idx", nullptr},
                 {"", "/abs/a.idx", nullptr}};
    for (const auto &n : names) {
        SCOPED_TRACE(std::string(n.dir) + " " + n.name);
        EXPECT_EQ(zv::name_below(n.dir, n.name, &rel), n.rel != nullptr);
        if (n.rel) {
            EXPECT_EQ(rel, n.rel);
        }
    }
    // A path through a symbolic link is no path below the directory.
    fs::create_directory("out");
    fs::create_symlink("out", "lnk");
    data_file("out/x.dat", false);
    EXPECT_TRUE(zv::below_without_links("", "ix/nothing.idx"));
    EXPECT_TRUE(zv::below_without_links("./", "d.dat"));
    EXPECT_FALSE(zv::below_without_links("", "lnk/x.dat"));
    EXPECT_FALSE(zv::below_without_links("", "lnk"));
    EXPECT_TRUE(zv::below_without_links("lnk/", "x.dat")) << "the path to the directory may hold links";
}

// The update flag goes only into an engine file's own header, and never
// through a symbolic link in the name's last part (nor does a FIFO stop
// the write).
TEST_F(SwapNoteTest, TheMarkIsWrittenOnlyIntoAnEngineFile) {
    fs::create_directory("out");
    data_file("out/x.dat", false);
    fs::create_symlink("out/x.dat", "l.dat");
    zvtest::write_file("junk.dat", std::string(600, 'j'));
    ASSERT_EQ(mkfifo("f.dat", 0644), 0);
    data_file("d.dat", false);
    EXPECT_EQ(zv::putupdflg("l.dat", kUpdRebuild), 12);
    EXPECT_EQ(flag_of("out/x.dat"), 0);
    EXPECT_EQ(zv::putupdflg("junk.dat", kUpdRebuild), 13);
    EXPECT_EQ(zvtest::read_file("junk.dat"), std::string(600, 'j'));
    EXPECT_EQ(zv::putupdflg("f.dat", kUpdRebuild), 12);
    EXPECT_EQ(zv::putupdflg("d.dat", kUpdRebuild), 0);
    EXPECT_EQ(flag_of("d.dat"), char(kUpdRebuild));
}

}  // namespace

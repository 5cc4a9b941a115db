// The note of a swap that moves a segmented data file, or that lists every
// file of a partitioned set: what an open does with a note it finds, whole,
// damaged or naming files elsewhere.
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/filehdr.h"
#include "engine/core/platform.h"
#include "engine/files/swapnote.h"
#include "tests/engine/files/files_util.h"
#include "tests/support/fixture.h"

namespace {

namespace fs = std::filesystem;

// A note as the swap writes it (magic, file counts, three base names, the
// FNV-1a of what comes before), with any names.
std::string note_bytes(uint32_t oldfiles, uint32_t newfiles, const std::string &own, const std::string &parked,
                       const std::string &fresh) {
    std::string b("ZVSWAP\x01\x00", 8);
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; i++) b.push_back(char(v >> (8 * i)));
    };
    u32(oldfiles);
    u32(newfiles);
    for (const std::string *n : {&own, &parked, &fresh}) {
        b.push_back(char(n->size() & 0xFF));
        b.push_back(char(n->size() >> 8));
        b += *n;
    }
    uint32_t h = 2166136261u;
    for (unsigned char c : b) h = (h ^ c) * 16777619u;
    u32(h);
    return b;
}

// A listed note: per entry the original, its kept second name and the new
// file ("" for none).
std::string list_bytes(const std::vector<std::vector<std::string>> &entries) {
    std::string b("ZVSWAP\x02\x00", 8);
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; i++) b.push_back(char(v >> (8 * i)));
    };
    u32(uint32_t(entries.size()));
    for (const auto &e : entries) {
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

// A file long enough to hold a header's update flag, its text first and
// the flag given.
void header_file(const char *name, const std::string &text, char flag) {
    std::string b = text;
    b.resize(1024, ' ');
    b[offsetof(FILEHDR, updflg)] = flag;
    zvtest::write_file(name, b);
}

char flag_of(const char *name) { return zvtest::read_file(name).at(offsetof(FILEHDR, updflg)); }
std::string text_of(const char *name) {
    const std::string b = zvtest::read_file(name);
    return b.substr(0, b.find(' '));
}

class SwapNoteTest : public filestest::FilesTest {};

// The swap's own note goes when the swap drops it; a note that a live swap
// holds is left alone by an open in another description.
TEST_F(SwapNoteTest, ANoteIsHeldWhileItsSwapRunsAndGoesWithIt) {
    zvtest::write_file("d.dat", "old");
    zvtest::write_file("d.dat.001", "old1");
    zvtest::write_file("t.dat", "new");
    zv::SwapNote note;
    ASSERT_EQ(note.write("d.dat", 2, "p.dat", "t.dat", 1), 0);
    EXPECT_TRUE(note.held());
    EXPECT_TRUE(fs::exists("d.dat.swap"));
    EXPECT_FALSE(zv::swapnote_finish("d.dat")) << "finished under a live swap";
    EXPECT_EQ(zvtest::read_file("d.dat"), "old");
    note.drop();
    EXPECT_FALSE(fs::exists("d.dat.swap"));
}

// An unfinished swap (the original parked, the new file not yet in) is
// finished: the new file takes the name, the parked original goes.
TEST_F(SwapNoteTest, AnUnfinishedSwapIsFinished) {
    zvtest::write_file("p.dat", "old");
    zvtest::write_file("p.dat.001", "old1");
    zvtest::write_file("t.dat", "new");
    zvtest::write_file("d.dat.swap", note_bytes(2, 1, "d.dat", "p.dat", "t.dat"));
    EXPECT_TRUE(zv::swapnote_finish("d.dat"));
    EXPECT_EQ(zvtest::read_file("d.dat"), "new");
    for (const char *gone : {"p.dat", "p.dat.001", "t.dat", "d.dat.swap"}) EXPECT_FALSE(fs::exists(gone)) << gone;
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

// A listed swap of a partitioned set: the host's data file (d.dat) has
// moved, a member's (d.dat.001) has not. The rest moves over its original,
// the marks go (the data file's stays when an open holds it), and the kept
// originals, the old file no new one replaces and the note go.
TEST_F(SwapNoteTest, AListedSwapBegunIsFinished) {
    for (bool opened : {false, true}) {
        SCOPED_TRACE(opened ? "opened" : "not opened");
        header_file("d.dat", "newhost", 'R');
        header_file("k.dat", "oldhost", 0);
        header_file("d.dat.001", "oldmember", 0);
        ASSERT_EQ(zv::plat_link("d.dat.001", "k.dat.001"), 0);
        header_file("t.dat.001", "newmember", 'R');
        header_file("d.idx.002", "oldextra", 0);
        zvtest::write_file("d.dat.swap", list_bytes({{"d.dat", "k.dat", "t.dat"},
                                                     {"d.dat.001", "k.dat.001", "t.dat.001"},
                                                     {"d.idx.002", "", ""}}));
        EXPECT_TRUE(zv::swapnote_finish("d.dat", opened));
        EXPECT_EQ(text_of("d.dat"), "newhost");
        EXPECT_EQ(text_of("d.dat.001"), "newmember");
        EXPECT_EQ(flag_of("d.dat"), opened ? 'R' : 0);
        EXPECT_EQ(flag_of("d.dat.001"), 0);
        for (const char *gone : {"k.dat", "k.dat.001", "t.dat.001", "d.idx.002", "d.dat.swap"})
            EXPECT_FALSE(fs::exists(gone)) << gone;
    }
}

// A listed swap that moved nothing is void: the originals stay as they are
// (a kept second name goes; one parked by a rename comes back), and the new
// files, whose insides already name the originals, go with the note.
TEST_F(SwapNoteTest, AListedSwapThatMovedNothingIsVoid) {
    header_file("d.dat", "oldhost", 0);
    ASSERT_EQ(zv::plat_link("d.dat", "k.dat"), 0);
    header_file("k.dat.001", "oldmember", 0);  // parked by a rename
    header_file("t.dat", "newhost", 'R');
    header_file("t.dat.001", "newmember", 'R');
    header_file("d.idx.002", "oldextra", 0);
    zvtest::write_file("d.dat.swap", list_bytes({{"d.dat", "k.dat", "t.dat"},
                                                 {"d.dat.001", "k.dat.001", "t.dat.001"},
                                                 {"d.idx.002", "", ""}}));
    EXPECT_FALSE(zv::swapnote_finish("d.dat", true));
    EXPECT_EQ(text_of("d.dat"), "oldhost");
    EXPECT_EQ(text_of("d.dat.001"), "oldmember");
    EXPECT_EQ(text_of("d.idx.002"), "oldextra");
    for (const char *gone : {"k.dat", "k.dat.001", "t.dat", "t.dat.001", "d.dat.swap"})
        EXPECT_FALSE(fs::exists(gone)) << gone;
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
    header_file("d.dat", "newhost", 'R');
    header_file("ix/t.idx", "newindex", 'R');
    header_file("ix/d.idx", "oldindex", 0);
    zvtest::write_file("d.dat.swap", list_bytes({{"d.dat", "", "t.dat"}, {"ix/d.idx", "", "ix/t.idx"}}));
    EXPECT_TRUE(zv::swapnote_finish("d.dat"));
    EXPECT_EQ(text_of("ix/d.idx"), "newindex");
    EXPECT_EQ(flag_of("ix/d.idx"), 0);
    for (const std::string bad : {"../d.idx", "/tmp/d.idx", "ix/../../d.idx", "ix//d.idx", "./d.idx"}) {
        SCOPED_TRACE(bad);
        header_file("t.idx", "newindex", 'R');
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
}

}  // namespace

// The note of a swap that moves a segmented data file: what an open does
// with a note it finds, whole, damaged or naming files elsewhere.
#include <filesystem>
#include <string>

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

}  // namespace

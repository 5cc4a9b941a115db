// The swap of two sets (SWPIFILX) writes only a note that an open could act
// on: a data file with automatic segments moves under a note of base names,
// so its new data file must lie in its directory and neither may be a
// symbolic link there, or the swap answers 454 with nothing changed.
#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/centralio.h"
#include "engine/core/instance.h"
#include "tests/engine/maint/rblfix.h"

namespace {

namespace fs = std::filesystem;

// The id a file's header carries (file id number, server id, creation
// time); empty when there is no such header.
std::vector<uint32_t> id_of(const std::string &path) {
    const std::string b = zvtest::read_file(path);
    if (b.size() < 128) return {};
    auto le32 = [&](size_t at) {
        return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
               uint32_t(uint8_t(b[at + 3])) << 24;
    };
    return {le32(32), le32(36), le32(88)};
}

class SwapNoteRefusalTest : public rbltest::RblTest {
protected:
    // An automatic segmented data file of 1 MB segments written past its
    // first segment (a segment file ".001" beside it), closed.
    static void segmented(const char *name) {
        XCREblk x{};
        x.mode = 0x02 | 0x08 | 0x200000;
        x.segsize = 1;
        x.nsegs = 4;
        const int n = AVLFILNUM(1);
        ASSERT_EQ(CREDATX8(n, name, 128, 0, 0x800, 0, nullptr, nullptr, &x), 0);
        std::string data(1200000, 'S');
        ASSERT_EQ(izvio81x(0x11, zvWNGV->fcbtab[n], 0, 4096, reinterpret_cast<unsigned char *>(data.data()),
                           int32_t(data.size()), nullptr, 0),
                  0);
        ASSERT_EQ(CLSFIL(n, 0), 0);
    }
    static void data_file(const char *name) {
        const int n = AVLFILNUM(1);
        ASSERT_EQ(CREDATX8(n, name, 128, 0, 0x800, 0, nullptr, nullptr, ZV_XCRE_DEFAULT), 0);
        ASSERT_EQ(CLSFIL(n, 0), 0);
    }
    static int swap(const char *from, const char *to) {
        IFIL a{}, b{};
        a.pfilnam = from;
        a.dfilno = -1;
        a.dreclen = 128;
        b = a;
        b.pfilnam = to;
        return SWPIFILX(&a, &b, ".dat", ".idx");
    }
};

TEST_F(SwapNoteRefusalTest, ASegmentedDataFileWhoseNoteCouldNotBeActedOnIsNotSwapped) {
    segmented("d.dat");
    fs::create_directory("sub");
    data_file("sub/t.dat");
    fs::create_symlink("sub/t.dat", "l.dat");
    ASSERT_TRUE(fs::exists("d.dat.001"));
    const std::string d = zvtest::read_file("d.dat"), d1 = zvtest::read_file("d.dat.001");
    const std::string t = zvtest::read_file("sub/t.dat");
    for (const char *from : {"sub/t", "l"}) {
        SCOPED_TRACE(from);
        EXPECT_EQ(swap(from, "d"), 454);
        EXPECT_EQ(zvtest::read_file("d.dat"), d);
        EXPECT_EQ(zvtest::read_file("d.dat.001"), d1);
        EXPECT_EQ(zvtest::read_file("sub/t.dat"), t);
        EXPECT_TRUE(fs::is_symlink("l.dat"));
        EXPECT_FALSE(fs::exists("d.dat.swap"));
    }
    // A new data file beside it is swapped in, its segment file parked and
    // deleted with the original.
    data_file("t.dat");
    const std::vector<uint32_t> fresh = id_of("t.dat");
    EXPECT_EQ(swap("t", "d"), 0);
    EXPECT_EQ(id_of("d.dat"), fresh);
    for (const char *gone : {"t.dat", "d.dat.001", "d.dat.swap"}) EXPECT_FALSE(fs::exists(gone)) << gone;
}

}  // namespace

// Copy of an open file to an external file.
#include <string>

#include "engine/core/centralio.h"
#include "tests/engine/files/files_util.h"

namespace {

using filestest::Bytes;
using filestest::file_bytes;

class CpyfilTest : public filestest::FilesTest {};

TEST_F(CpyfilTest, AnyBufferSizeClearsTheFileIdOrKeepsIt) {
    ASSERT_EQ(CREDATX8(1, "src.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    uint32_t pos = NEWREC(1);
    ASSERT_NE(pos, 0u);
    Bytes rec(100, 0x5A);
    ASSERT_EQ(WRTREC(1, pos, rec.data()), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    Bytes orig = file_bytes("src.dat");
    ASSERT_GT(orig.size(), 36u);
    ASSERT_NE(filestest::le32(orig, 32), 0u);  // the file id
    ASSERT_EQ(OPNFIL(1, "src.dat", 0x0008), 0);
    for (int size : {1, 35, 36, 0}) {
        for (int flag : {0, 1}) {
            SCOPED_TRACE(std::to_string(size) + "/" + std::to_string(flag));
            std::string out = "copy" + std::to_string(size) + "_" + std::to_string(flag);
            ASSERT_EQ(zvcpyfil(1, out.c_str(), size, flag), 0);
            Bytes want = orig;
            if (flag == 0) want[32] = want[33] = want[34] = want[35] = 0;
            EXPECT_EQ(file_bytes(out), want);
        }
    }
}

TEST_F(CpyfilTest, Refusals) {
    ASSERT_EQ(CREDATX8(1, "a.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(zvcpyfil(1, "nodir/x", 0, 0), 657);
    EXPECT_EQ(zvcpyfil(2, "x", 0, 0), 26);
    // The open file itself, by its own name or another, is never the target.
    Bytes before = file_bytes("a.dat");
    EXPECT_EQ(zvcpyfil(1, "a.dat", 0, 0), 657);
    EXPECT_EQ(zvcpyfil(1, "./a.dat", 0, 1), 657);
    EXPECT_EQ(file_bytes("a.dat"), before);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "a.dat", 0x0001), 0);
    EXPECT_EQ(zvcpyfil(1, "x", 0, 0), 62);
    g()->cpyshared = 1;
    EXPECT_EQ(zvcpyfil(1, "x", 0, 0), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    XCREblk x{};
    x.mode = 0x02 | 0x08 | 0x200000;
    x.segsize = 1;
    x.nsegs = 2;
    ASSERT_EQ(CREDATX8(3, "seg", 128, 0, 0x800, 0, nullptr, nullptr, &x), 0);
    EXPECT_EQ(zvcpyfil(3, "y", 0, 0), 0);
    unsigned char b[4] = {1, 2, 3, 4};
    ASSERT_EQ(izvio81x(0x11, fcb(3), 0, 1048576, b, 4, nullptr, 0), 0);
    EXPECT_EQ(zvcpyfil(3, "y", 0, 0), 675);
}

}  // namespace

// Delete and rename of plain and memory files, the keep mark of a failed
// create and temporary names beside a file.
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "engine/files/delete_rename.h"
#include "tests/engine/files/files_util.h"

namespace {

using filestest::Bytes;
using filestest::file_bytes;
using zv::IoKind;

bool exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

class DeleteRenameTest : public filestest::FilesTest {
protected:
    uint32_t add_record(int filno, unsigned char fill) {
        uint32_t pos = NEWREC(filno);
        EXPECT_NE(pos, 0u);
        Bytes rec(100, fill);
        EXPECT_EQ(WRTREC(filno, pos, rec.data()), 0);
        return pos;
    }
    Bytes read_record(int filno, uint32_t pos) {
        Bytes rec(100);
        EXPECT_EQ(REDREC(filno, pos, rec.data()), 0);
        return rec;
    }
};

TEST_F(DeleteRenameTest, DeletingPlainFiles) {
    ASSERT_EQ(CREDATX8(1, "a.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "a.dat", 0x0008), 0);
    EXPECT_EQ(DELFIL(1), 56);
    EXPECT_EQ(fcb(1)->state, 'y');
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "a.dat", 0x0001), 0);
    EXPECT_EQ(DELFIL(1), 56);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "a.dat", 0), 0);
    EXPECT_EQ(DELFIL(1), 0);
    EXPECT_FALSE(exists("a.dat"));
    EXPECT_EQ(fcb(1)->state, 'n');
    EXPECT_EQ(DELFIL(1), 26);
    // A failing system delete: 55, the file closed.
    ASSERT_EQ(CREDATX8(2, "b.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    zv::fault_set(IoKind::Unlink, 1, EACCES);
    EXPECT_EQ(DELFIL(2), 55);
    EXPECT_EQ(fcb(2)->state, 'n');
    EXPECT_TRUE(exists("b.dat"));
}

TEST_F(DeleteRenameTest, RenamingPlainFiles) {
    ASSERT_EQ(CREDATX8(1, "a.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    uint32_t pos = add_record(1, 0x41);
    zv::fault_reset();
    EXPECT_EQ(zvRENFIL(1, "a.dat"), 0);
    for (int k = 0; k < int(IoKind::Count); k++) EXPECT_EQ(zv::io_calls(IoKind(k)), 0) << k;

    // A refused rename: 67, still open and readable under the old name.
    filestest::put_file("taken.dat", Bytes(3, 1));
    EXPECT_EQ(zvRENFIL(1, "taken.dat"), 67);
    EXPECT_STREQ(fcb(1)->name, "a.dat");
    EXPECT_GE(fcb(1)->fd, 0);
    EXPECT_EQ(read_record(1, pos), Bytes(100, 0x41));
    EXPECT_EQ(file_bytes("taken.dat"), Bytes(3, 1));

    ASSERT_EQ(zvRENFIL(1, "b.dat"), 0);
    EXPECT_FALSE(exists("a.dat"));
    EXPECT_STREQ(fcb(1)->name, "b.dat");
    uint32_t pos2 = add_record(1, 0x42);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "b.dat", 0), 0);
    EXPECT_EQ(read_record(1, pos), Bytes(100, 0x41));
    EXPECT_EQ(read_record(1, pos2), Bytes(100, 0x42));
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "b.dat", 0x0001), 0);
    EXPECT_EQ(zvRENFIL(1, "c.dat"), 62);
}

TEST_F(DeleteRenameTest, MemoryFilesChangeTheirBlockOnly) {
    XCREblk x{};
    x.mode = 0x80000000u;
    x.maxsizelo = 1 << 20;
    ASSERT_EQ(CREDATX8(1, "mem", 100, 0, 0x800, 0, nullptr, nullptr, &x), 0);
    zv::fault_reset();
    ASSERT_EQ(zvRENFIL(1, "mem2"), 0);
    EXPECT_STREQ(fcb(1)->name, "mem2");
    EXPECT_EQ(zv::io_calls(IoKind::Rename) + zv::io_calls(IoKind::Link), 0);
    ASSERT_EQ(DELFIL(1), 0);
    EXPECT_EQ(zv::io_calls(IoKind::Unlink), 0);
}

TEST_F(DeleteRenameTest, KeepMarkAndTemporaryNames) {
    ASSERT_EQ(CREDATX8(1, "a.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    fcb(1)->hdr.base.hdrflags |= 0x0800;
    EXPECT_EQ(suppressDEL(1), 0);
    EXPECT_NE(fcb(1)->stflags & kStKeepOnCleanup, 0u);
    EXPECT_EQ(fcb(1)->hdr.base.hdrflags & 0x0800, 0);
    EXPECT_EQ(suppressDEL(7), 26);

    ASSERT_EQ(mkdir("sub", 0755), 0);
    char buf[256];
    ASSERT_EQ(zvrenpath("sub/file.dat", buf, sizeof buf), 0);
    std::string name = buf;
    ASSERT_EQ(name.size(), strlen("sub/Z1234567.QVZ"));
    EXPECT_EQ(name.substr(0, 5), "sub/Z");
    EXPECT_EQ(name.substr(name.size() - 4), ".QVZ");
    EXPECT_FALSE(exists(name));
    EXPECT_EQ(g()->userprof & 0x80, 0);
}

}  // namespace

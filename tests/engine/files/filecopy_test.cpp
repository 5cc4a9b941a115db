// Whole-file copy and the handles of file-copy and temporary-directory
// operations.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/platform.h"
#include "tests/engine/core/platfix.h"
#include "zarvo/zarvo.h"

namespace {

using zv::IoKind;
using zvtest::read_file;
using zvtest::write_file;

class FileCopyTest : public zvtest::PlatTest {};

std::string bytes(size_t n, int seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) s[i] = char((i * 31 + size_t(seed)) % 251);
    return s;
}

struct Progress {
    std::vector<int> seen;
    int stop_at = -1;  // answer nonzero at this call
};

int progress_cb(ZVCOPYPROG *p) {
    auto *pr = static_cast<Progress *>(p->argument);
    pr->seen.push_back(p->percent);
    return int(pr->seen.size()) - 1 == pr->stop_at ? 1 : 0;
}

TEST_F(FileCopyTest, CopyOverALongerFileLeavesAnIdenticalFile) {
    write_file("src", bytes(10000, 1));
    write_file("dst", bytes(30000, 2));
    EXPECT_EQ(zvFScopy("src", "dst", 0), 0);
    EXPECT_EQ(read_file("dst"), read_file("src"));
}

TEST_F(FileCopyTest, CopyOntoItselfKeepsTheFile) {
    const std::string content = bytes(10000, 4);
    write_file("src", content);
    ASSERT_EQ(zv::plat_link("src", "hard"), 0);
    for (const char *dest : {"src", "./src", "hard"}) {
        EXPECT_EQ(zvFScopy("src", dest, 0), 0) << dest;
        EXPECT_EQ(read_file("src"), content) << dest;
    }
    EXPECT_EQ(zvFScopy("src", "./src", 2), 796);
    EXPECT_EQ(read_file("src"), content);
}

TEST_F(FileCopyTest, ExclusiveCopyRefusesAnExistingFile) {
    write_file("src", "new");
    write_file("dst", "old bytes");
    EXPECT_EQ(zvFScopy("src", "dst", 2), 796);
    EXPECT_EQ(zvGetUserErrorCode(), 796);
    EXPECT_EQ(zvGetSystemErrorCode(), EEXIST);
    EXPECT_EQ(read_file("dst"), "old bytes");
    EXPECT_EQ(zvFScopy("src", "fresh", 2), 0);
    EXPECT_EQ(read_file("fresh"), "new");
}

TEST_F(FileCopyTest, ProgressAndTheStoppingCallback) {
    write_file("src", bytes(10000, 3));
    Progress pr;
    ZVCOPYPROG rec{};
    rec.argument = &pr;
    EXPECT_EQ(zvFSunxcopyXtd("src", "dst", 0, progress_cb, &rec), 0);
    EXPECT_EQ(pr.seen, (std::vector<int>{40, 81, 100}));  // 4096, 8192, 10000 of 10000

    Progress stop;
    stop.stop_at = 0;
    rec.argument = &stop;
    EXPECT_EQ(zvFSunxcopyXtd("src", "dst2", 0, progress_cb, &rec), -1015);
    EXPECT_EQ(stop.seen.size(), 1u);

    write_file("empty", "");
    Progress empty;
    rec.argument = &empty;
    EXPECT_EQ(zvFSunxcopyXtd("empty", "dst3", 0, progress_cb, &rec), 0);
    EXPECT_EQ(empty.seen, std::vector<int>{100});
    EXPECT_EQ(read_file("dst3"), "");
    // Option 4 of the extended form is refused after the copy.
    EXPECT_EQ(zvFScopyXtd("src", "dst4", 4, nullptr, nullptr), 454);
    EXPECT_EQ(read_file("dst4"), read_file("src"));
}

TEST_F(FileCopyTest, MissingDirectoriesWithOption1) {
    write_file("src", "abc");
    EXPECT_EQ(zvFScopy("src", "a/b/dst", 0), 796);
    EXPECT_EQ(zvGetSystemErrorCode(), ENOENT);
    EXPECT_EQ(zvFScopy("src", "a/b/dst", 1), 0);
    EXPECT_EQ(read_file("a/b/dst"), "abc");
    EXPECT_EQ(zvFScopy("nosuch", "x", 1), 796);
    EXPECT_EQ(zvGetSystemErrorCode(), ENOENT);
}

TEST_F(FileCopyTest, WriteFailuresAtTheSeam) {
    write_file("src", bytes(9000, 4));
    // A write cut short without an errno: 5, logged.
    zv::fault_set(IoKind::Write, 2, 0, false, 10);
    EXPECT_EQ(zvFSunxcopy("src", "d1", 0), 5);
    EXPECT_EQ(log_messages().back(), "zvFScopy: Write failed for file d1");
    // A failing write gives its errno.
    zv::fault_set(IoKind::Write, 1, ENOSPC);
    EXPECT_EQ(zvFSunxcopy("src", "d2", 0), ENOSPC);
    // Interrupted writes are repeated, up to ten for the whole copy.
    zv::fault_set(IoKind::Write, 1, EINTR);
    EXPECT_EQ(zvFSunxcopy("src", "d3", 0), 0);
    EXPECT_EQ(read_file("d3"), read_file("src"));
    zv::fault_set(IoKind::Write, 1, EINTR, true);
    EXPECT_EQ(zvFSunxcopy("src", "d4", 0), EINTR);
    EXPECT_EQ(zv::io_calls(IoKind::Write) > 10, true);
    zv::fault_reset();
}

TEST_F(FileCopyTest, SizeOfADescriptorKeepsItsPosition) {
    write_file("f", bytes(777, 5));
    int fd = zv::plat_open("f", zv::OpenHow::ReadOnly, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(zv::plat_seek(fd, 100, false), 100);
    int64_t size = 0;
    EXPECT_EQ(zvFSgetfilesizefd(fd, &size), 0);
    EXPECT_EQ(size, 777);
    EXPECT_EQ(zv::plat_tell(fd), 100);
    zv::plat_close(fd);
    EXPECT_EQ(zvFSgetfilesizefd(fd, &size), EBADF);
}

TEST_F(FileCopyTest, FileCopyHandles) {
    void *h = nullptr;
    ASSERT_EQ(zvfcpAllocateHandle(&h), 0);
    char err[200] = "";
    EXPECT_EQ(zvfcpSetErrorBuffer(h, err, -1), 634);
    ASSERT_EQ(zvfcpSetErrorBuffer(h, err, sizeof err), 0);
    int code = -1;
    EXPECT_EQ(zvfcpGetErrorBuffer(h, &code), err);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(zvfcpGetErrorBuffer(nullptr, &code), nullptr);
    EXPECT_EQ(code, 540);

    EXPECT_EQ(zvfcpCopyFile(h), 749);
    EXPECT_STREQ(err, "zvfcpCopyFile: The file copy parameter count is zero.");
    void *link = nullptr;
    ASSERT_EQ(zvfcpAddFileCopyOperation(h, &link), 0);
    EXPECT_EQ(zvfcpSetCopyOptions(link, 3), 0);
    EXPECT_EQ(zvfcpSetCopyFilenames(link, 1, "a", nullptr), 540);
    EXPECT_STREQ(err, "zvfcpSetCopyFilenames: The destination file name list pointer is NULL.");
    EXPECT_EQ(zvfcpSetCopyFilenames(link, 1, nullptr, "b"), 540);
    EXPECT_STREQ(err, "zvfcpSetCopyFilenames: The source file name list pointer is NULL.");
    char names[2][255] = {{"src"}, {"dst"}};
    EXPECT_EQ(zvfcpSetCopyFilenames(link, 1, names[0], names[1]), 0);
    EXPECT_EQ(zvfcpSetCopyFilePassword(link, "0123456789abc"), 0);
    EXPECT_EQ(zvfcpSetServerParameters(link, "srv", "me", "pw"), 0);
    EXPECT_EQ(zvfcpCopyFile(h), 454);

    // Two operations go to the engine together; allocation failures are told.
    void *second = nullptr;
    ASSERT_EQ(zvfcpAddFileCopyOperation(h, &second), 0);
    EXPECT_EQ(zvfcpCopyFile(h), 454);
    zv::fail_alloc_at(1);
    void *third = nullptr;
    EXPECT_EQ(zvfcpAddFileCopyOperation(h, &third), 82);
    EXPECT_STREQ(err, "zvfcpAddFileCopyOperation: Unable to allocate 408 bytes of memory for file copy operation.");
    zv::fail_alloc_at(1);
    EXPECT_EQ(zvfcpCopyFile(h), 82);
    EXPECT_STREQ(err, "zvfcpCopyFile: Could not allocate 816 bytes of memory for file copy parameter blocks.");
    EXPECT_EQ(zvfcpRemoveFileCopyOperation(second), 0);
    EXPECT_EQ(zvfcpRemoveFileCopyOperation(link), 0);
    EXPECT_EQ(zvfcpCopyFile(h), 749);
    EXPECT_EQ(zvfcpRemoveFileCopyOperation(nullptr), 540);
    EXPECT_EQ(zvfcpFreeHandle(h), 0);
    EXPECT_EQ(zvfcpFreeHandle(nullptr), 540);
    EXPECT_EQ(zvfcpAllocateHandle(nullptr), 540);
}

TEST_F(FileCopyTest, TemporaryDirectoryHandles) {
    void *h = nullptr;
    ASSERT_EQ(zvtdrAllocateHandle(&h), 0);
    char err[200] = "";
    ASSERT_EQ(zvtdrSetErrorBuffer(h, err, sizeof err), 0);
    EXPECT_EQ(zvtdrTempDir(h), 749);
    EXPECT_STREQ(err, "zvtdrTempDir: The temporary directory parameter count is zero.");
    void *link = nullptr;
    ASSERT_EQ(zvtdrAddTempDirOperation(h, &link), 0);
    EXPECT_EQ(zvtdrSetTempDirOptions(link, 1), 0);
    EXPECT_EQ(zvtdrSetTempDirNames(link, 2, nullptr), 540);
    EXPECT_STREQ(err, "zvtdrSetTempDirNames: The temporary directory names pointer is NULL.");
    char names[2][255] = {{"t1"}, {"t2"}};
    EXPECT_EQ(zvtdrSetTempDirNames(link, 2, names[0]), 0);
    EXPECT_EQ(zvtdrTempDir(h), 454);
    // Freeing the handle frees the operations still on it.
    EXPECT_EQ(zvtdrFreeHandle(h), 0);
}

}  // namespace

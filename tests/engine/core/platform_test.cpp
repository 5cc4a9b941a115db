// The seam's fault plan: counting, failing the nth call once or from then
// on, and cutting transfers short; descriptors close on exec.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "engine/core/platform.h"
#include "tests/support/fixture.h"

namespace {

using zv::IoKind;
using zvtest::read_file;
using zvtest::ZvTest;

class PlatformTest : public ZvTest {
protected:
    void SetUp() override {
        ZvTest::SetUp();
        zv::fault_reset();
        fd = zv::plat_open("f", zv::OpenHow::CreateExclusive, 0600);
        ASSERT_GE(fd, 0);
    }
    void TearDown() override {
        zv::fault_reset();
        if (fd >= 0) zv::plat_close(fd);
        ZvTest::TearDown();
    }
    int fd = -1;
};

TEST_F(PlatformTest, CountsCallsPerKind) {
    char buf[8] = "abcdefg";
    EXPECT_EQ(zv::io_calls(IoKind::Open), 1);
    EXPECT_EQ(zv::plat_write(fd, buf, 7), 7);
    EXPECT_EQ(zv::plat_seek(fd, 0, false), 0);
    EXPECT_EQ(zv::plat_read(fd, buf, 7), 7);
    EXPECT_EQ(zv::plat_fsync(fd), 0);
    zv::PlatStat st;
    EXPECT_EQ(zv::plat_stat("f", &st), 0);
    EXPECT_EQ(st.size, 7u);
    EXPECT_EQ(zv::io_calls(IoKind::Write), 1);
    EXPECT_EQ(zv::io_calls(IoKind::Seek), 1);
    EXPECT_EQ(zv::io_calls(IoKind::Read), 1);
    EXPECT_EQ(zv::io_calls(IoKind::Sync), 1);
    EXPECT_EQ(zv::io_calls(IoKind::Stat), 1);
    EXPECT_EQ(zv::io_calls(IoKind::Unlink), 0);
    zv::fault_reset();
    EXPECT_EQ(zv::io_calls(IoKind::Write), 0);
}

TEST_F(PlatformTest, FailsTheNthCallOnceOrFromThenOn) {
    struct Case {
        bool sticky;
        int results[4];  // 0 success, -1 failure, for writes 1..4
    } cases[] = {
        {false, {0, -1, 0, 0}},
        {true, {0, -1, -1, -1}},
    };
    for (const Case &c : cases) {
        zv::fault_set(IoKind::Write, 2, ENOSPC, c.sticky);
        for (int i = 0; i < 4; i++) {
            errno = 0;
            int64_t r = zv::plat_write(fd, "x", 1);
            if (c.results[i] == 0) {
                EXPECT_EQ(r, 1) << "write " << i + 1 << " sticky " << c.sticky;
            } else {
                EXPECT_EQ(r, -1) << "write " << i + 1 << " sticky " << c.sticky;
                EXPECT_EQ(errno, ENOSPC);
            }
        }
        zv::fault_reset();
    }
    // Three successful writes of one byte, then one more in the second case.
    EXPECT_EQ(read_file("f"), "xxxx");
}

TEST_F(PlatformTest, CutsTheNthTransferShort) {
    char data[100];
    memset(data, 'a', sizeof data);
    zv::fault_set(IoKind::Write, 1, 0, false, 30);
    EXPECT_EQ(zv::plat_write(fd, data, 100), 70);
    EXPECT_EQ(read_file("f").size(), 70u);
    // A cut larger than the transfer moves nothing; errno can be chosen.
    zv::fault_set(IoKind::Write, 1, ENOSPC, false, 500);
    errno = 0;
    EXPECT_EQ(zv::plat_write(fd, data, 100), 0);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(zv::plat_write(fd, data, 100), 100);

    ASSERT_EQ(zv::plat_seek(fd, 0, false), 0);
    zv::fault_set(IoKind::Read, 2, 0, true, 10);
    char in[100];
    EXPECT_EQ(zv::plat_read(fd, in, 50), 50);
    EXPECT_EQ(zv::plat_read(fd, in, 50), 40);
    EXPECT_EQ(zv::plat_read(fd, in, 50), 40);
}

TEST_F(PlatformTest, FailedCallsDoNothing) {
    zv::fault_set(IoKind::Unlink, 1, EIO);
    EXPECT_EQ(zv::plat_unlink("f"), -1);
    EXPECT_EQ(errno, EIO);
    zv::PlatStat st;
    EXPECT_EQ(zv::plat_stat("f", &st), 0);
    zv::fault_set(IoKind::Open, 1, EMFILE);
    EXPECT_EQ(zv::plat_open("g", zv::OpenHow::CreateExclusive, 0600), -1);
    EXPECT_NE(zv::plat_stat("g", &st), 0);
}

}  // namespace

namespace {

// A positioned transfer is one system call that the plan sees as a seek and
// a transfer: each counts, a fault of either hits it (the seek's reported
// as such), a cut transfer moves fewer bytes, and the descriptor's own
// position does not move.
TEST_F(PlatformTest, PositionedTransfersCountAndFailAsSeekAndTransfer) {
    bool seek_failed = true;
    EXPECT_EQ(zv::plat_pwrite(fd, "0123456789", 10, 0, &seek_failed), 10);
    EXPECT_FALSE(seek_failed);
    EXPECT_EQ(zv::plat_pwrite(fd, "ab", 2, 4, &seek_failed), 2);
    char buf[16] = {};
    EXPECT_EQ(zv::plat_pread(fd, buf, 6, 2, &seek_failed), 6);
    EXPECT_EQ(std::string(buf, 6), "23ab67");
    EXPECT_EQ(zv::io_calls(IoKind::Seek), 3);
    EXPECT_EQ(zv::io_calls(IoKind::Write), 2);
    EXPECT_EQ(zv::io_calls(IoKind::Read), 1);
    EXPECT_EQ(zv::plat_tell(fd), 0) << "the descriptor's position stays";
    // Past the end: nothing to read, no failure.
    EXPECT_EQ(zv::plat_pread(fd, buf, 4, 100, &seek_failed), 0);
    EXPECT_FALSE(seek_failed);

    struct Case {
        IoKind kind;
        long short_by;
        int64_t want;
        bool seek;
    } cases[] = {
        {IoKind::Seek, 0, -1, true},
        {IoKind::Read, 0, -1, false},
        {IoKind::Read, 4, 2, false},
    };
    for (const Case &c : cases) {
        zv::fault_set(c.kind, 1, EIO, false, c.short_by);
        errno = 0;
        memset(buf, 0, sizeof buf);
        EXPECT_EQ(zv::plat_pread(fd, buf, 6, 2, &seek_failed), c.want) << int(c.kind);
        EXPECT_EQ(seek_failed, c.seek) << int(c.kind);
        EXPECT_EQ(errno, EIO) << int(c.kind);
        if (c.want > 0) {
            EXPECT_EQ(std::string(buf, 2), "23");
        }
    }
    zv::fault_set(IoKind::Write, 1, ENOSPC);
    EXPECT_EQ(zv::plat_pwrite(fd, "zz", 2, 0, &seek_failed), -1);
    EXPECT_FALSE(seek_failed);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(read_file("f"), "0123ab6789") << "failed writes change nothing";
    // A negative offset and a descriptor that is not open fail as a seek.
    EXPECT_EQ(zv::plat_pread(fd, buf, 1, -1, &seek_failed), -1);
    EXPECT_TRUE(seek_failed);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(zv::plat_pread(-1, buf, 1, 0, &seek_failed), -1);
    EXPECT_TRUE(seek_failed);
    EXPECT_EQ(errno, EBADF);
}

// Every descriptor the seam opens or duplicates, and the descriptor under
// every stream it opens, is closed when the process starts another program:
// a started program must not keep a description (and its locks) alive.
TEST_F(PlatformTest, EveryDescriptorClosesOnExec) {
    auto closes_on_exec = [](int d) {
        const int flags = fcntl(d, F_GETFD);
        return flags >= 0 && (flags & FD_CLOEXEC) != 0;
    };
    EXPECT_TRUE(closes_on_exec(fd)) << "create exclusive";
    struct Case {
        const char *what;
        zv::OpenHow how;
        const char *name;
    } cases[] = {
        {"read only", zv::OpenHow::ReadOnly, "f"},
        {"read-write", zv::OpenHow::ReadWrite, "f"},
        {"read-write, regular only", zv::OpenHow::ReadWriteRegular, "f"},
        {"create exclusive", zv::OpenHow::CreateExclusive, "g"},
        {"write, created or truncated", zv::OpenHow::WriteCreate, "h"},
        {"write, created exclusively", zv::OpenHow::WriteCreateExclusive, "i"},
    };
    for (const Case &c : cases) {
        const int d = zv::plat_open(c.name, c.how, 0600);
        ASSERT_GE(d, 0) << c.what;
        EXPECT_TRUE(closes_on_exec(d)) << c.what;
        zv::plat_close(d);
    }
    const int copy = zv::plat_dup(fd);
    ASSERT_GE(copy, 0);
    EXPECT_TRUE(closes_on_exec(copy)) << "duplicate";
    zv::plat_close(copy);

    if (zv::PlatDir *dir = zv::plat_opendir(".")) {
        EXPECT_TRUE(closes_on_exec(dirfd(reinterpret_cast<DIR *>(dir)))) << "directory stream";
        zv::plat_closedir(dir);
    }
    for (zv::AtHow how : {zv::AtHow::DirectoryFollowed, zv::AtHow::Directory}) {
        const int d = zv::plat_openat(zv::kAtWorkingDir, ".", how);
        ASSERT_GE(d, 0);
        EXPECT_TRUE(closes_on_exec(d)) << "directory " << int(how);
        const int r = zv::plat_openat(d, "f", zv::AtHow::Regular);
        ASSERT_GE(r, 0);
        EXPECT_TRUE(closes_on_exec(r)) << "regular file below a directory";
        zv::plat_close(r);
        zv::plat_close(d);
    }

    char tmpl[] = "tmpXXXXXX";
    const int t = zv::plat_mkstemp(tmpl);
    ASSERT_GE(t, 0);
    EXPECT_TRUE(closes_on_exec(t)) << "temporary file";
    zv::plat_close(t);

    for (const char *mode : {"r", "a", "w", "wb", "at", "r+"}) {
        FILE *fp = zv::plat_fopen("s.txt", mode[0] == 'r' ? "a" : mode);
        ASSERT_NE(fp, nullptr) << mode;
        zv::plat_fclose(fp);
        fp = zv::plat_fopen("s.txt", mode);
        ASSERT_NE(fp, nullptr) << mode;
        EXPECT_TRUE(closes_on_exec(fileno(fp))) << "stream " << mode;
        zv::plat_fclose(fp);
    }
    for (const char *mode : {"r", "w"}) {
        FILE *fp = zv::plat_popen("cat >/dev/null", mode);
        ASSERT_NE(fp, nullptr) << mode;
        EXPECT_TRUE(closes_on_exec(fileno(fp))) << "command stream " << mode;
        EXPECT_EQ(zv::plat_pclose(fp), 0) << mode;
    }
}

}  // namespace

// File locks, name conversion, delete and rename, full names, directories,
// free space, file identity, the current directory and the temporary
// directory.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/core/fileio.h"
#include "engine/core/fileops.h"
#include "tests/engine/core/platfix.h"
#include "zarvo/zarvo.h"

namespace {

using zv::IoKind;
using zvtest::read_file;
using zvtest::write_file;

class FileOpsTest : public zvtest::PlatTest {
protected:
    bool exists(const char *name) {
        zv::PlatStat st;
        return zv::plat_stat(name, &st) == 0;
    }
    long all_calls() {
        long n = 0;
        for (int k = 0; k < static_cast<int>(IoKind::Count); k++) n += zv::io_calls(static_cast<IoKind>(k));
        return n;
    }
    std::string cwd() {
        char buf[4096];
        EXPECT_TRUE(zv::plat_getcwd(buf, sizeof buf));
        return buf;
    }
};

TEST_F(FileOpsTest, RenameNeverReplacesAnExistingTarget) {
    write_file("a", "first");
    write_file("b", "second");
    EXPECT_EQ(renfil("a", "b"), 67);
    EXPECT_EQ(g->uerr_cod, 67);
    EXPECT_EQ(g->sysiocod, EEXIST);
    EXPECT_EQ(read_file("a"), "first");
    EXPECT_EQ(read_file("b"), "second");
    // With the replace option the target goes.
    g->opsmode = 0x4000000;
    EXPECT_EQ(renfil("a", "b"), 0);
    EXPECT_FALSE(exists("a"));
    EXPECT_EQ(read_file("b"), "first");
}

TEST_F(FileOpsTest, RenameMovesTheFile) {
    write_file("a", "content");
    EXPECT_EQ(renfil("a", "c"), 0);
    EXPECT_FALSE(exists("a"));
    EXPECT_EQ(read_file("c"), "content");
    EXPECT_EQ(renfil("missing", "d"), 67);
    EXPECT_EQ(g->sysiocod, ENOENT);
}

TEST_F(FileOpsTest, RenameOntoItselfTouchesNothing) {
    write_file("a", "x");
    zv::fault_reset();
    EXPECT_EQ(renfil("a", "a"), 0);
    EXPECT_EQ(all_calls(), 0);
    EXPECT_EQ(read_file("a"), "x");
}

TEST_F(FileOpsTest, RenameWithoutHardLinks) {
    // A file system without hard links: the target is looked at first.
    write_file("a", "one");
    write_file("b", "two");
    zv::fault_set(IoKind::Link, 1, EPERM, true);
    EXPECT_EQ(renfil("a", "b"), 67);
    EXPECT_EQ(read_file("b"), "two");
    EXPECT_EQ(renfil("a", "c"), 0);
    EXPECT_EQ(read_file("c"), "one");
    EXPECT_FALSE(exists("a"));
}

// Without hard links, what stands under the new name is looked at, never
// opened: a FIFO there refuses the rename at once (in a forked copy of this
// process that an alarm ends, so that a wait fails the test).
TEST_F(FileOpsTest, RenameWithoutHardLinksDoesNotWaitOnAFifo) {
    write_file("a", "one");
    ASSERT_EQ(mkfifo("b", 0644), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(10);
        zv::fault_set(IoKind::Link, 1, EPERM, true);
        _exit(renfil("a", "b") == 67 && g->sysiocod == EEXIST ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "the rename waited on the FIFO";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read_file("a"), "one");
    struct stat st;
    ASSERT_EQ(lstat("b", &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(FileOpsTest, RenameThatCannotDropTheOldNameIsUndone) {
    write_file("a", "one");
    zv::fault_set(IoKind::Unlink, 1, EIO);
    EXPECT_EQ(renfil("a", "b"), 67);
    EXPECT_EQ(g->sysiocod, EIO);
    EXPECT_EQ(read_file("a"), "one");
    EXPECT_FALSE(exists("b"));
}

TEST_F(FileOpsTest, DeleteAndRenameCheckTheirNames) {
    std::string longname(256, 'n');
    EXPECT_EQ(dltfil(longname.c_str()), 139);
    EXPECT_EQ(renfil(longname.c_str(), "b"), 139);
    EXPECT_EQ(renfil("b", longname.c_str()), 139);
    EXPECT_EQ(dltfil(nullptr), 540);
    EXPECT_EQ(renfil("a", nullptr), 540);
    EXPECT_EQ(all_calls(), 0);
    EXPECT_EQ(dltfil("missing"), 55);
    EXPECT_EQ(g->sysiocod, ENOENT);
    write_file("a", "x");
    EXPECT_EQ(dltfil("a"), 0);
    EXPECT_FALSE(exists("a"));
}

TEST_F(FileOpsTest, NameConversion) {
    struct Case {
        const char *name, *prefix, *result;
        int code;
    } cases[] = {
        {"name", "/data/", "/data/name", -1},
        {"/abs/name", "/data/", "/abs/name", 0},
        {"\\win", "/data/", "\\win", 0},
        {"C:file", "/data/", "C:file", 0},
        {"x", "", "x", -1},
    };
    for (const Case &c : cases) {
        char buf[256];
        strcpy(buf, c.name);
        EXPECT_EQ(zv::izvcnvfn(buf, c.prefix), c.code) << c.name;
        EXPECT_STREQ(buf, c.result);
    }
    char buf[256];
    std::string name(200, 'n'), prefix(56, 'p');
    strcpy(buf, name.c_str());
    EXPECT_EQ(zv::izvcnvfn(buf, prefix.c_str()), 139);
    EXPECT_EQ(buf, name);
    prefix.pop_back();
    EXPECT_EQ(zv::izvcnvfn(buf, prefix.c_str()), -1);
    EXPECT_EQ(strlen(buf), 255u);

    // The instance converts under modes 2 and 3 only.
    strcpy(g->cnvprefix, "/data/");
    for (int mode : {0, 1, 2, 3}) {
        g->nameconv = mode;
        strcpy(buf, "name");
        zv::zvcnvfn(buf);
        EXPECT_STREQ(buf, mode >= 2 ? "/data/name" : "name") << mode;
    }
}

TEST_F(FileOpsTest, DeleteAndRenameConvertUnderModeThree) {
    ASSERT_EQ(zv::plat_mkdir("sub", 0755), 0);
    strcpy(g->cnvprefix, "sub/");
    g->nameconv = 3;
    write_file("sub/a", "x");
    EXPECT_EQ(renfil("a", "b"), 0);
    EXPECT_EQ(read_file("sub/b"), "x");
    write_file("b", "top");
    EXPECT_EQ(zv::dltfilx("b", 0, 2), 0);  // b has 2: no conversion
    EXPECT_TRUE(exists("sub/b"));
    EXPECT_EQ(dltfil("b"), 0);
    EXPECT_FALSE(exists("sub/b"));
}

TEST_F(FileOpsTest, FullNames) {
    ASSERT_EQ(zv::plat_mkdir("sub", 0755), 0);
    std::string here = cwd();
    struct Case {
        std::string name;
        std::string result;
    } cases[] = {
        {"sub/file!member", here + "/sub/file!member"},
        {"sub/file!mem/ber", here + "/sub/file!mem/ber"},
        {"sub/../sub/x", here + "/sub/x"},
        {"plain", here + "/plain"},
        {"/name!m/x", "/name!m/x"},
        {here + "/sub/./x", here + "/sub/x"},
    };
    for (const Case &c : cases) {
        char out[4096];
        EXPECT_EQ(zv_fullname(c.name.c_str(), out, sizeof out), 0) << c.name;
        EXPECT_EQ(std::string(out), c.result);
    }
    char out[4096];
    std::string want = here + "/sub/file!member";
    EXPECT_EQ(zv_fullname("sub/file!member", out, static_cast<int>(want.size())), 36);
    EXPECT_EQ(zv_fullname("sub/file!member", out, static_cast<int>(want.size() + 1)), 0);
    EXPECT_EQ(zv_fullname("nodir/file", out, sizeof out), ENOENT);
    EXPECT_EQ(zv_fullname("/nodir/file", out, sizeof out), ENOENT);
    EXPECT_EQ(zv_fullname(nullptr, out, sizeof out), EINVAL);
}

TEST_F(FileOpsTest, MissingDirectoriesAreMadeAlongAPath) {
    int err = -1;
    // A literal path: it is never written.
    EXPECT_EQ(zv::zvchkcrepath("a/b/c/file", 0, &err), 1);
    EXPECT_EQ(err, ENOENT);
    EXPECT_EQ(zv::zvchkcrepath("a/b//c///file", 1, &err), 0);
    EXPECT_TRUE(exists("a/b/c"));
    EXPECT_FALSE(exists("a/b/c/file"));
    EXPECT_EQ(zv::io_calls(IoKind::Mkdir), 3);
    EXPECT_EQ(zv::zvchkcrepath("a/b/c/file", 0, &err), 0);
    zv::fault_set(IoKind::Mkdir, 1, EACCES);
    EXPECT_EQ(zv::zvchkcrepath("x/file", 1, &err), 1);
    EXPECT_EQ(err, EACCES);
    std::string abs = cwd() + "/p/q/file";
    EXPECT_EQ(zv::zvchkcrepath(abs.c_str(), 1, &err), 0);
    EXPECT_TRUE(exists("p/q"));

    FILE *fp = zv::zvFSfopen("d1/d2/log.txt", "w", 0);
    EXPECT_EQ(fp, nullptr);
    fp = zv::zvFSfopen("d1/d2/log.txt", "w", 1);
    ASSERT_NE(fp, nullptr);
    zv::plat_fclose(fp);
    EXPECT_TRUE(exists("d1/d2/log.txt"));
}

TEST_F(FileOpsTest, FileIdentityComparesDeviceAndInode) {
    write_file("a", "x");
    write_file("b", "x");
    ASSERT_EQ(zv::plat_link("a", "a2"), 0);
    EXPECT_EQ(zv::zv_uniqfile("a", "a2"), 0);
    EXPECT_EQ(zv::zv_uniqfile("a", "b"), 1);
    EXPECT_EQ(zv::zv_uniqfile("a", "missing"), 1);
    EXPECT_EQ(zv::zv_uniqfile("missing", "missing"), 1);
    uint64_t dev = 0, ino = 0;
    EXPECT_EQ(zv::zv_getuniqfile("a", &dev, &ino), 0);
    EXPECT_NE(ino, 0u);
    EXPECT_EQ(zv::zv_getuniqfile("missing", &dev, &ino), ENOENT);
}

TEST_F(FileOpsTest, FreeSpace) {
    uint32_t hi = 7;
    uint32_t lo = zv::zv_diskavl(".", &hi);
    EXPECT_TRUE(hi != 0 || lo > 1);
    EXPECT_EQ(zv::zv_diskavl("missing/dir", &hi), 1u);
    EXPECT_EQ(zv::zv_diskavl("missing/dir", nullptr), 1u);
}

TEST_F(FileOpsTest, CurrentDirectoryEndsInASlash) {
    std::string here = cwd();
    char buf[4096];
    EXPECT_EQ(zvGetCwd(buf, sizeof buf), 1);
    EXPECT_EQ(std::string(buf), here + "/");
    // Room for the directory but not for the "/".
    EXPECT_EQ(zvGetCwd(buf, static_cast<int>(here.size() + 1)), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(zvGetCwd(buf, static_cast<int>(here.size() + 2)), 1);
    EXPECT_EQ(zvGetCwd(buf, 3), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(zvGetCwd(nullptr, 10), 0);
}

TEST_F(FileOpsTest, TemporaryDirectoryName) {
    EXPECT_EQ(zvSetZvTempDirName(nullptr), 540);
    EXPECT_EQ(zvSetZvTempDirName(""), 540);
    EXPECT_EQ(zvSetZvTempDirName("/tmp/work"), 0);
    EXPECT_STREQ(g->tmpdirname, "/tmp/work/");
    EXPECT_EQ(zvSetZvTempDirName("/var/"), 0);
    EXPECT_STREQ(g->tmpdirname, "/var/");
    zv::fail_alloc_at(1);
    EXPECT_EQ(zvSetZvTempDirName("/other"), 82);
    EXPECT_STREQ(g->tmpdirname, "/var/");
    // Freed with the instance (LeakSanitizer checks).
}

TEST_F(FileOpsTest, PathServiceIsNotOffered) {
    EXPECT_EQ(zvFSpath(nullptr, 1), 454);
    EXPECT_EQ(g->uerr_cod, 454);
    EXPECT_EQ(zvFSpath(nullptr, 0), 446);
    EXPECT_EQ(g->uerr_cod, 446);
}

TEST_F(FileOpsTest, LocksOfThisProcess) {
    auto f = make_fcb("lk.dat");
    f->fd = zv::mbcrat(f.get());  // holds the whole file exclusively, by its descriptor
    ASSERT_GE(f->fd, 0);
    // The creation lock belongs to the open file description: even a lock of
    // this process meets it, until it is given up.
    int refused = zv::zvfpglok81(f->fd, f.get(), 0, 0, 128, 2);
    EXPECT_TRUE(refused == EAGAIN || refused == EACCES) << refused;
    EXPECT_EQ(zv::zvfpglok81(f->fd, f.get(), 0, 0, 0, 4 | 32), 0);
    EXPECT_EQ(zv::zvfpglok81(f->fd, f.get(), 0, 0, 0, 2), 0);  // the process holds the whole file
    // A process never conflicts with its own locks.
    EXPECT_EQ(zv::zvfpglok81(f->fd, f.get(), 0, 0, 128, 16), 0);
    EXPECT_EQ(zv::zvfpglok81(f->fd, f.get(), 0, 0, 128, 2), 0);
    EXPECT_EQ(zv::zvfpglok81(f->fd, f.get(), 0, 0, 128, 4), 0);
    EXPECT_EQ(zv::zvfpglok81(f->fd, f.get(), 0, 0, 128, 1 | 8), 0);
    zv::fault_set(IoKind::Lock, 1, EDEADLK);
    EXPECT_EQ(zv::zvfpglok81(f->fd, f.get(), 0, 0, 128, 1), EDEADLK);
    EXPECT_EQ(g->sysiocod, EDEADLK);
    zv::fault_set(IoKind::Lock, 1, EBADF);
    g->uerr_cod = 0;
    EXPECT_EQ(zv::zvfpglok81(f->fd, f.get(), 0, 0, 128, 16), EBADF);
    EXPECT_EQ(g->uerr_cod, EBADF);
    EXPECT_EQ(zv::mbclos(f.get()), 0);
    EXPECT_EXIT(zv::zvfpglok81(0, nullptr, 0, 0, 1, 32), ::testing::ExitedWithCode(1105 % 256), "");
}

TEST_F(FileOpsTest, RangeHeldByAnotherProcessTestsAsHeldByItsPid) {
    write_file("lk.dat", std::string(256, 'l'));
    int ready[2], go[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(go), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int fd = open("lk.dat", O_RDWR);
        struct flock fl;
        memset(&fl, 0, sizeof fl);
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = 100;
        fl.l_len = 10;
        char c = (fd >= 0 && fcntl(fd, F_SETLK, &fl) == 0) ? 'r' : 'f';
        if (write(ready[1], &c, 1) != 1) _exit(2);
        if (read(go[0], &c, 1) != 1) _exit(3);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'r');
    int fd = zv::mbopen(nullptr, "lk.dat", 0);
    ASSERT_GE(fd, 0);
    g->sysiocod = 9;
    EXPECT_EQ(zv::zvfpglok81(fd, nullptr, 0, 105, 1, 16), child);
    EXPECT_EQ(g->sysiocod, 0);
    EXPECT_EQ(zv::zvfpglok81(fd, nullptr, 0, 105, 1, 16 | 8), child);
    EXPECT_EQ(zv::zvfpglok81(fd, nullptr, 0, 110, 5, 16), 0);
    int refused = zv::zvfpglok81(fd, nullptr, 0, 0, 0, 2);
    EXPECT_TRUE(refused == EAGAIN || refused == EACCES) << refused;
    EXPECT_EQ(g->sysiocod, refused);
    EXPECT_EQ(zv::zvfpglok81(fd, nullptr, 0, 0, 100, 2), 0);
    EXPECT_EQ(write(go[1], "g", 1), 1);
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(zv::zvfpglok81(fd, nullptr, 0, 105, 1, 16), 0);
    zv::mbclosx(nullptr, fd);
    for (int p : {ready[0], ready[1], go[0], go[1]}) close(p);
}

}  // namespace

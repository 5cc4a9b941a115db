// Platform file I/O: open and create under the descriptor budget, 64-bit
// transfers, their failures and log lines, sizes and syncs.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "engine/core/fileio.h"
#include "engine/core/filenum.h"
#include "engine/core/pools.h"
#include "engine/isam/sync.h"
#include "tests/engine/core/platfix.h"

namespace {

using zv::IoKind;
using zvtest::read_file;
using zvtest::write_file;

class FileIoTest : public zvtest::PlatTest {
protected:
    // An FCB open read-write on a new file holding `content`.
    std::unique_ptr<FCB> open_file(const std::string &name, const std::string &content) {
        write_file(name, content);
        auto f = make_fcb(name);
        f->fd = zv::mbopen(f.get(), name.c_str(), 0);
        EXPECT_GE(f->fd, 0);
        return f;
    }
    void TearDown() override {
        for (auto &f : open_) {
            if (f->fd >= 0) zv::mbclos(f.get());
        }
        PlatTest::TearDown();
    }
    FCB *keep(std::unique_ptr<FCB> f) {
        open_.push_back(std::move(f));
        return open_.back().get();
    }
    int16_t sysio() const { return static_cast<int16_t>(g->sysiocod); }

private:
    std::vector<std::unique_ptr<FCB>> open_;
};

// Names the engine made up (FoundNames) are opened without following a
// link and only as regular files, and a block opened so keeps the rule for
// its reopens; other opens follow links as before.
TEST_F(FileIoTest, MadeUpNamesAreOpenedWithoutFollowingALink) {
    write_file("real.dat", "content");
    ASSERT_EQ(symlink("real.dat", "link.dat"), 0);
    ASSERT_EQ(mkfifo("pipe.dat", 0644), 0);
    int fd = zv::mbopen(nullptr, "link.dat", 0);
    EXPECT_GE(fd, 0);
    if (fd >= 0) zv::mbclosx(nullptr, fd);
    auto mine = make_fcb("link.dat");
    auto callers = make_fcb("link.dat");
    mine->foundname = 1;
    {
        zv::FoundNames made;
        EXPECT_LT(zv::mbopen(nullptr, "link.dat", 0), 0);
        EXPECT_EQ(sysio(), ELOOP);
        EXPECT_LT(zv::mbopen(nullptr, "pipe.dat", kOpnReadOnly), 0);
        EXPECT_EQ(sysio(), EINVAL);
        fd = zv::mbopen(nullptr, "real.dat", 0);
        EXPECT_GE(fd, 0);
        if (fd >= 0) zv::mbclosx(nullptr, fd);
        // A block keeps the rule of its first open: a caller's file opened
        // again inside the scope follows its link as before.
        fd = zv::mbopen(callers.get(), "link.dat", 0);
        EXPECT_GE(fd, 0);
        if (fd >= 0) zv::mbclosx(nullptr, fd);
    }
    EXPECT_EQ(g->foundopen, 0);
    // A block opened under the rule: its reopen (a virtual close's) by name
    // refuses the link outside the scope too.
    EXPECT_LT(zv::mbopen(mine.get(), "link.dat", 0), 0);
    EXPECT_EQ(sysio(), ELOOP);
    // A create under the rule is close-on-exec.
    {
        zv::FoundNames made;
        fd = zv::mbcratx(nullptr, "new.dat");
    }
    ASSERT_GE(fd, 0);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    zv::mbclosx(nullptr, fd);
}

TEST_F(FileIoTest, ShortReadAtEndOfFile) {
    FCB *f = keep(open_file("f.dat", std::string(140, 'r')));
    char buf[100];
    uint32_t count = 99;
    g->sysiocod = 5;
    EXPECT_EQ(zv::zvsysio81(0, f, 0, 0, 100, buf, 100, &count), 36);
    EXPECT_EQ(count, 40u);
    EXPECT_EQ(g->sysiocod, 0);
    EXPECT_EQ(std::string(buf, 40), std::string(40, 'r'));
}

// A read that fails, or that stops short below the physical end of the
// file, is 36 like the end of the file, but sysiocod tells them apart: 0
// only at the end.
TEST_F(FileIoTest, FailedAndShortReadsAreNotTheEndOfTheFile) {
    struct Case {
        const char *what;
        long short_by;
        int err;
        uint32_t at;
        uint32_t count;
        int sys;
    } cases[] = {
        {"read fails with EIO", 0, EIO, 0, 0, EIO},
        {"read cut short by one byte", 1, 0, 0, 99, EIO},
        {"read cut short with its errno", 1, ENOSPC, 0, 99, ENOSPC},
        {"the last byte cut off", 1, 0, 40, 99, EIO},
    };
    FCB *f = keep(open_file("f.dat", std::string(140, 'r')));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        char buf[100];
        uint32_t count = 12345;
        g->sysiocod = 0;
        zv::fault_reset();
        zv::fault_set(IoKind::Read, 1, c.err, false, c.short_by);
        EXPECT_EQ(zv::zvsysio81(0, f, 0, 0, c.at, buf, 100, &count), 36);
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(sysio(), c.sys);
        EXPECT_FALSE(zv::read_at_end(36));
    }
    // A cut read that still reaches the end of the file is the end.
    zv::fault_reset();
    zv::fault_set(IoKind::Read, 1, 0, false, 1);
    char buf[100];
    uint32_t count = 0;
    g->sysiocod = 7;
    EXPECT_EQ(zv::zvsysio81(0, f, 0, 0, 60, buf, 100, &count), 36);
    EXPECT_EQ(count, 80u);
    EXPECT_EQ(sysio(), 0);
    g->sysiocod = 7;
    EXPECT_EQ(zv::zvsysio81(0, f, 0, 0, 100, buf, 100, &count), 36);
    EXPECT_EQ(count, 40u);
    EXPECT_EQ(sysio(), 0);
    EXPECT_TRUE(zv::read_at_end(36));
}

TEST_F(FileIoTest, CreatingAnExistingFileGives19) {
    write_file("x.dat", "old");
    auto f = make_fcb("x.dat");
    EXPECT_LT(zv::mbcrat(f.get()), 0);
    EXPECT_EQ(g->uerr_cod, 19);
    EXPECT_EQ(g->sysiocod, 17);
    EXPECT_EQ(read_file("x.dat"), "old");
    EXPECT_EQ(g->openvcount, 0);
}

TEST_F(FileIoTest, WriteBeyondFourGigabytesRoundTrips) {
    auto made = make_fcb("big.dat");
    made->fd = zv::mbcrat(made.get());
    ASSERT_GE(made->fd, 0);
    FCB *f = keep(std::move(made));
    const char data[] = "beyond four gigabytes";
    uint32_t count = 0;
    ASSERT_EQ(zv::zvsysio81(1, f, 0, 1, 8192, const_cast<char *>(data), sizeof data, &count), 0);
    EXPECT_EQ(count, sizeof data);
    EXPECT_EQ(f->hwoffh, 1u);
    EXPECT_EQ(f->hwoffl, 8192u + sizeof data - 1);
    char back[sizeof data] = {};
    // Opcodes of the central I/O (0x10) read the same way.
    ASSERT_EQ(zv::zvsysio81(0x10, f, 0, 1, 8192, back, sizeof back, &count), 0);
    EXPECT_STREQ(back, data);
    uint32_t hi = 0;
    EXPECT_EQ(zv::zvfsize81(&hi, f, f->fd), 8192u + sizeof data);
    EXPECT_EQ(hi, 1u);
    EXPECT_EQ(zv::zvgsize81(&hi, f), 8192u + sizeof data);
}

TEST_F(FileIoTest, FailedWriteGives37AndIsLogged) {
    FCB *f = keep(open_file("w.dat", ""));
    char buf[100] = {};
    uint32_t count = 7;
    zv::fault_set(IoKind::Write, 1, ENOSPC);
    EXPECT_EQ(zv::zvsysio81(1, f, 0, 1, 0x2000, buf, 100, &count), 37);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(g->sysiocod, ENOSPC);
    auto msgs = log_messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0],
              "WRITE_ERR: w.dat at 1:2000x  sysiocod=28 bufsiz=100 bytes written=0[0]  ioLoc=0: 37");

    // With the I/O-log option 8 the failure is not logged.
    g->iologopts = 8;
    zv::fault_set(IoKind::Write, 1, ENOSPC);
    EXPECT_EQ(zv::zvsysio81(1, f, 0, 1, 0x2000, buf, 100, &count), 37);
    EXPECT_EQ(log_messages().size(), 1u);
}

// A write the system ends early goes on with its rest: cut once, it
// completes; when the rest cannot be written either (every write cut, as on
// a full disk), the call gives 37 with the bytes written and the errno of
// the write that failed (0 when the seam's cut leaves none).
TEST_F(FileIoTest, AWriteCutShortGoesOnWithItsRest) {
    char buf[100];
    memset(buf, 'k', sizeof buf);
    const struct {
        long cut;
        bool every;
        int err;
        int rc;
        uint32_t count;
        int sys;
    } cases[] = {
        {1, false, 0, 0, 100, 0},          {40, false, 0, 0, 100, 0},         {99, false, ENOSPC, 0, 100, 0},
        {1, true, 0, 37, 99, 0},           {40, true, 0, 37, 60, 0},          {100, true, 0, 37, 0, 0},
        {40, true, ENOSPC, 37, 60, ENOSPC}, {100, true, ENOSPC, 37, 0, ENOSPC},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE("cut by " + std::to_string(c.cut) + (c.every ? ", every write" : ", once"));
        const std::string name = "s" + std::to_string(n++) + ".dat";
        FCB *f = keep(open_file(name.c_str(), ""));
        g->sysiocod = 0;
        uint32_t count = 0;
        zv::fault_set(IoKind::Write, 1, c.err, c.every, c.cut);
        EXPECT_EQ(zv::zvsysio81(1, f, 0, 0, 0, buf, 100, &count), c.rc);
        zv::fault_reset();
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(int(g->sysiocod), c.sys);
        EXPECT_EQ(read_file(name), std::string(c.count, 'k'));
    }
    auto msgs = log_messages();
    ASSERT_EQ(msgs.size(), 5u);
    EXPECT_EQ(msgs[1], "WRITE_ERR: s4.dat at 0:0x  sysiocod=0 bufsiz=100 bytes written=60[60]  ioLoc=0: 37");
    EXPECT_EQ(msgs[3], "WRITE_ERR: s6.dat at 0:0x  sysiocod=28 bufsiz=100 bytes written=60[60]  ioLoc=0: 37");
}

TEST_F(FileIoTest, EmptyNameIsLoggedAsQuestionMarks) {
    FCB *f = keep(open_file("q.dat", ""));
    f->name[0] = '\0';
    char buf[10] = {};
    zv::fault_set(IoKind::Write, 1, EIO);
    EXPECT_EQ(zv::zvsysio81(1, f, 0, 0, 16, buf, 10, nullptr), 37);
    EXPECT_EQ(log_messages().at(0),
              "WRITE_ERR: ???? at 0:10x  sysiocod=5 bufsiz=10 bytes written=0[0]  ioLoc=0: 37");
}

TEST_F(FileIoTest, SeekFailureGives35) {
    FCB *f = keep(open_file("k.dat", "abc"));
    char buf[4];
    uint32_t count = 0;
    EXPECT_EQ(zv::zvsysio81(0, f, 0, 0x80000000u, 0, buf, 4, &count), 35);
    EXPECT_EQ(g->sysiocod, EINVAL);
    zv::fault_set(IoKind::Seek, 1, EIO);
    EXPECT_EQ(zv::zvseek81(f->fd, 0, 0), 35);
    EXPECT_EQ(g->sysiocod, EIO);
    EXPECT_EQ(count, 0u);
}

TEST_F(FileIoTest, PlainTransferAllocatesNothing) {
    FCB *f = keep(open_file("p.dat", std::string(4096, 'p')));
    char buf[4096];
    uint64_t before = zv::platform_alloc_count();
    for (int i = 0; i < 8; i++) {
        ASSERT_EQ(zv::zvsysio81(0, f, 0, 0, 0, buf, sizeof buf, nullptr), 0);
        ASSERT_EQ(zv::zvsysio81(1, f, 0, 0, 512, buf, 1000, nullptr), 0);
    }
    EXPECT_EQ(zv::platform_alloc_count(), before);
}

TEST_F(FileIoTest, BadArgumentsGiveCodes) {
    FCB *f = keep(open_file("b.dat", "abc"));
    uint32_t count = 5;
    EXPECT_EQ(zv::zvsysio81(0, nullptr, 0, 0, 0, nullptr, 4, &count), 540);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(zv::zvsysio81(0, f, 0, 0, 0, nullptr, 4, &count), 540);
    // Segment-header I/O needs an open segment; a segmented file without
    // segment arrays is its own file.
    char buf[4];
    EXPECT_EQ(zv::zvsysio81(0x100, f, 0, 1, 0, buf, 4, &count), 674);
    f->hdr.base.hdrflags |= kHdrSegmented;
    EXPECT_EQ(zv::zvsysio81(0, f, 0, 0, 0, buf, 3, &count), 0);
    EXPECT_EQ(std::string(buf, 3), "abc");
    EXPECT_EQ(zv::zvgsize81(nullptr, f), 3u);
    f->hdr.base.hdrflags = 0;
    // A closed descriptor fails the seek.
    auto closed = make_fcb("b.dat");
    EXPECT_EQ(zv::zvsysio81(0, closed.get(), 0, 0, 0, buf, 4, &count), 35);
}

TEST_F(FileIoTest, MemberMovesThroughItsHost) {
    FCB *host = keep(open_file("h.dat", "0123456789"));
    host->hostfcb = host;
    auto member = make_fcb("h.dat!m");
    member->hostfcb = host;
    char buf[4] = {};
    ASSERT_EQ(zv::zvsysio81(0, member.get(), 0, 0, 3, buf, 4, nullptr), 0);
    EXPECT_EQ(std::string(buf, 4), "3456");
}

TEST_F(FileIoTest, ReadOnlyOpenRefusesWrites) {
    write_file("r.dat", "abc");
    auto f = make_fcb("r.dat");
    f->opnmode = kOpnReadOnly;
    f->fd = zv::mbopen(f.get(), "r.dat", kOpnReadOnly);
    ASSERT_GE(f->fd, 0);
    char buf[3] = {'x', 'y', 'z'};
    EXPECT_EQ(zv::zvsysio81(1, f.get(), 0, 0, 0, buf, 3, nullptr), 37);
    EXPECT_EQ(g->sysiocod, EBADF);
    EXPECT_EQ(read_file("r.dat"), "abc");
    EXPECT_EQ(zv::mbclos(f.get()), 0);
}

TEST_F(FileIoTest, DescriptorBudgetCountsNonPermanentFilesOnce) {
    write_file("a.dat", "a");
    auto a = make_fcb("a.dat");
    auto p = make_fcb("a.dat");
    p->opnmode = kOpnPermanent;
    a->fd = zv::mbopen(a.get(), "a.dat", 0);
    EXPECT_EQ(g->openvcount, 1);
    p->fd = zv::mbopen(p.get(), "a.dat", kOpnPermanent);
    EXPECT_EQ(g->openvcount, 1);
    auto c = make_fcb("c.dat");
    c->fd = zv::mbcrat(c.get());
    ASSERT_GE(c->fd, 0);
    EXPECT_EQ(g->openvcount, 2);
    // zvinrnum counts a descriptor opened some other way; permanent ones
    // and failed opens are not counted.
    zv::zvinrnum(0, 99);
    zv::zvinrnum(kOpnPermanent, 99);
    zv::zvinrnum(0, -1);
    EXPECT_EQ(g->openvcount, 3);
    g->openvcount = 2;
    EXPECT_EQ(zv::mbclos(p.get()), 0);
    EXPECT_EQ(g->openvcount, 2);
    EXPECT_EQ(zv::mbclos(a.get()), 0);
    EXPECT_EQ(zv::mbclos(c.get()), 0);
    EXPECT_EQ(g->openvcount, 0);
    EXPECT_EQ(a->fd, -1);
    EXPECT_EQ(c->fd, -1);
    // At the limit, opening still works when no file can be closed.
    g->openvlimit = 0;
    a->fd = zv::mbopen(a.get(), "a.dat", 0);
    EXPECT_GE(a->fd, 0);
    EXPECT_EQ(zv::mbclos(a.get()), 0);
}

TEST_F(FileIoTest, FailedCloseStillForgetsTheDescriptor) {
    FCB *f = keep(open_file("c.dat", "x"));
    int fd = f->fd;
    // The descriptor is closed for real; the plan only reports a failure.
    zv::fault_set(IoKind::Close, 1, EIO);
    EXPECT_EQ(zv::mbclosx(f, fd), -1);
    EXPECT_EQ(g->sysiocod, EIO);
    EXPECT_EQ(f->fd, -1);
    EXPECT_EQ(g->openvcount, 0);
    zv::plat_close(fd);
}

TEST_F(FileIoTest, NoDescriptorToBeFreedGives766) {
    write_file("m.dat", "m");
    for (int kind = 0; kind < 2; kind++) {
        zv::fault_set(IoKind::Open, 1, EMFILE);
        int fd = kind == 0 ? zv::mbopen(nullptr, "m.dat", 0) : zv::mbcratx(nullptr, "n.dat");
        EXPECT_LT(fd, 0);
        EXPECT_EQ(sysio(), -766) << kind;
        EXPECT_EQ(zv::io_calls(IoKind::Open), 1) << kind;
        zv::fault_reset();
    }
    EXPECT_EQ(g->openvcount, 0);
}

// The system error reaches callers as a signed value: the engine's own
// negative codes stay negative, errno values stay as they are.
TEST_F(FileIoTest, SystemErrorCodeIsSigned) {
    write_file("m.dat", "m");
    struct Case {
        int err;   // errno the open meets
        int want;  // zvGetSystemErrorCode afterwards
    } cases[] = {{EMFILE, -766}, {ENOENT, ENOENT}, {EACCES, EACCES}};
    for (const Case &c : cases) {
        zv::fault_set(IoKind::Open, 1, c.err);
        EXPECT_LT(zv::mbopen(nullptr, "m.dat", 0), 0) << c.err;
        EXPECT_EQ(zvGetSystemErrorCode(), c.want) << c.err;
        zv::fault_reset();
    }
    for (int code : {-972, -973, 32767}) {
        g->sysiocod = uint16_t(code);
        EXPECT_EQ(zvGetSystemErrorCode(), code);
    }
}

TEST_F(FileIoTest, RefusedCreateLockLeavesNoFile) {
    auto f = make_fcb("l.dat");
    zv::fault_set(IoKind::Lock, 1, EAGAIN);
    EXPECT_LT(zv::mbcrat(f.get()), 0);
    EXPECT_EQ(g->uerr_cod, 0xFFFF);
    EXPECT_EQ(g->sysiocod, EAGAIN);
    EXPECT_EQ(g->openvcount, 0);
    zv::PlatStat st;
    EXPECT_NE(zv::plat_stat("l.dat", &st), 0);
    // A retry creates the file.
    f->fd = zv::mbcrat(f.get());
    EXPECT_GE(f->fd, 0);
    EXPECT_EQ(zv::mbclos(f.get()), 0);
}

TEST_F(FileIoTest, OverlongNamesGive139) {
    std::string longname(256, 'n');
    std::string justfits(255, 'n');
    EXPECT_LT(zv::mbopen(nullptr, longname.c_str(), 0), 0);
    EXPECT_EQ(g->uerr_cod, 139);
    g->uerr_cod = 0;
    EXPECT_LT(zv::mbcratx(nullptr, longname.c_str()), 0);
    EXPECT_EQ(g->uerr_cod, 139);
    EXPECT_EQ(zv::io_calls(IoKind::Open), 0);
    // 255 characters reach the system.
    EXPECT_LT(zv::mbopen(nullptr, justfits.c_str(), 0), 0);
    EXPECT_EQ(zv::io_calls(IoKind::Open), 1);
    EXPECT_EQ(g->sysiocod, ENOENT);
    g->uerr_cod = 0;
    EXPECT_LT(zv::mbopen(nullptr, nullptr, 0), 0);
    EXPECT_EQ(g->uerr_cod, 540);
}

TEST_F(FileIoTest, ConversionModeThreePrefixesOpenAndCreate) {
    ASSERT_EQ(zv::plat_mkdir("sub", 0755), 0);
    g->nameconv = 3;
    strcpy(g->cnvprefix, "sub/");
    auto f = make_fcb("n.dat");
    f->fd = zv::mbcrat(f.get());
    ASSERT_GE(f->fd, 0);
    EXPECT_EQ(zv::mbclos(f.get()), 0);
    zv::PlatStat st;
    EXPECT_EQ(zv::plat_stat("sub/n.dat", &st), 0);
    int fd = zv::mbopen(nullptr, "n.dat", 0);
    EXPECT_GE(fd, 0);
    zv::mbclosx(nullptr, fd);
    // Mode 0x800 keeps the name as given.
    EXPECT_LT(zv::mbopen(nullptr, "n.dat", kOpnNoConvert), 0);
    EXPECT_EQ(g->sysiocod, ENOENT);
}

TEST_F(FileIoTest, FailingSyncGives49AndIsLogged) {
    FCB *f = keep(open_file("y.dat", "y"));
    zv::fault_set(IoKind::Sync, 1, EIO);
    EXPECT_EQ(zv::mbsave(f), 49);
    EXPECT_EQ(g->uerr_cod, 49);
    EXPECT_EQ(g->sysiocod, EIO);
    auto msgs = log_messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0], "zvsave failed: system code = 5  lc = 38  fd = " + std::to_string(f->fd));
    EXPECT_EQ(msgs[1], "y.dat");
    // EINTR is retried.
    zv::fault_reset();
    zv::fault_set(IoKind::Sync, 1, EINTR);
    EXPECT_EQ(zv::mbsave(f), 0);
    EXPECT_EQ(zv::io_calls(IoKind::Sync), 2);
}

TEST_F(FileIoTest, SaveSyncsOnlyWhatItShould) {
    FCB *f = keep(open_file("v.dat", "v"));
    struct Case {
        char state;
        uint32_t crflags, stflags, flmode2, saveflags;
        long syncs;
    } cases[] = {
        {'y', 0, 0, 0, 0, 1},
        {'s', 0, 0, 0, 0, 1},
        {'v', 0, 0, 0, 0, 0},
        {'y', kCrNoSave, 0, 0, 0, 0},
        {'y', 0, kStNoSave, 0, 0, 0},
        {'y', kCrDeferSync, 0, 0, 0, 0},
        {'y', 0, 0, kFlmode2DeferSync, 0, 0},
        {'y', kCrDeferSync, 0, 0, 0x2000, 1},
        {'y', 0, 0, kFlmode2DeferSync, 0x2000, 1},
    };
    for (const Case &c : cases) {
        zv::fault_reset();
        f->state = c.state;
        f->crflags = c.crflags;
        f->stflags = c.stflags;
        f->hdr.ext.flmode2 = c.flmode2;
        g->saveflags = c.saveflags;
        g->uerr_cod = 7;
        EXPECT_EQ(zv::mbsave(f), 0);
        EXPECT_EQ(g->uerr_cod, 0);
        EXPECT_EQ(zv::io_calls(IoKind::Sync), c.syncs) << c.state << " " << c.crflags;
    }
    f->state = 'y';
    // Syncs of system files (state 's') and of others are counted apart.
    EXPECT_EQ(g->syncsysfiles, 1u);
    EXPECT_EQ(g->syncfiles, 3u);
}

TEST_F(FileIoTest, FlushdosSyncsAnOpenFile) {
    make_table(3);
    FCB *f = keep(open_file("d.dat", "d"));
    g->fcbtab[1] = f;
    g->fcbtab[2] = new_slot_fcb();
    g->fcbtab[2]->state = 'y';
    g->fcbtab[2]->fd = f->fd;
    g->fcbtab[2]->hdr.base.sfiltyp = 2;  // a superfile member is synced with its host
    zv::flushdos(1);
    zv::flushdos(2);
    zv::flushdos(0);
    zv::flushdos(99);
    EXPECT_EQ(zv::io_calls(IoKind::Sync), 1);
    EXPECT_EQ(g->syncdos, 1u);
    g->fcbtab[1] = nullptr;
}

TEST_F(FileIoTest, SizeOfAFailingDescriptorIsAllOnes) {
    auto f = make_fcb("z.dat");
    uint32_t hi = 0;
    EXPECT_EQ(zv::zvfsize81(&hi, f.get(), -1), 0xFFFFFFFFu);
    EXPECT_EQ(hi, 0xFFFFFFFFu);
    auto msgs = log_messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0], "zvfsize failed: system code = 9  lc = 1  fd = -1");
    EXPECT_EQ(msgs[1], "z.dat");
    // A virtually closed file that cannot be reopened has no size: the
    // failure is reported, the process goes on.
    f->state = 'v';
    EXPECT_EQ(zv::zvfsize81(&hi, f.get(), 3), 0xFFFFFFFFu);
    EXPECT_EQ(log_messages().at(2), "zvfsize failed: system code = 0  lc = 9455  fd = -1");
}

TEST_F(FileIoTest, StrayCounterHighWordsAreClearedOnlyWhenTheSizeConfirms) {
    FCB *f = keep(open_file("t.dat", std::string(1000, 't')));
    f->hdr.base.numrec = 999;
    f->hdr.ext.numrech = 1;
    f->hdr.ext.phyendh = 1;
    EXPECT_EQ(zv::tstfilsiz(f), 0);
    EXPECT_EQ(f->hdr.ext.numrech, 0u);
    EXPECT_EQ(f->hdr.ext.phyendh, 0u);
    auto msgs = log_messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0], "Resetting unexpected numrec2/phyrec2 values. Corrected on disk only if file "
                       "update occurs: nonHUGE file...");
    EXPECT_EQ(msgs[1], "t.dat");

    FCB *h = keep(open_file("u.dat", std::string(10, 'u')));
    h->hdr.base.numrec = 999;
    h->hdr.ext.phyendh = 2;
    EXPECT_EQ(zv::tstfilsiz(h), 689);
    EXPECT_EQ(zv::tstfilsiz(h), 689);
    EXPECT_EQ(h->hdr.ext.phyendh, 2u);
    msgs = log_messages();
    ASSERT_EQ(msgs.size(), 4u);  // logged the first time only
    EXPECT_EQ(msgs[2], "Unexpected values for numrec2 / phyrec2 for nonHUGE file...");
    EXPECT_EQ(msgs[3], "u.dat: 689");
    // Files with 8-byte offsets are not checked; a flag bit refuses.
    h->hdr.base.hdrflags = kHdr8ByteOffsets;
    EXPECT_EQ(zv::tstfilsiz(h), 0);
    f->hdr.ext.numrech = 1;
    f->opflags = 0x200000;
    EXPECT_EQ(zv::tstfilsiz(f), 689);
}

TEST_F(FileIoTest, CfillComparesEveryByte) {
    alignas(8) unsigned char buf[64];
    memset(buf, 0xAA, sizeof buf);
    struct Case {
        int start, len, differ;  // differ: index within the region, -1 none
        int expected;
    } cases[] = {
        {1, 33, 32, 1}, {1, 33, -1, 0}, {0, 0, -1, 0},  {3, 5, 4, 1},
        {2, 40, 0, 1},  {0, 64, 63, 1}, {0, 64, 17, 1}, {5, 31, -1, 0},
    };
    for (const Case &c : cases) {
        memset(buf, 0xAA, sizeof buf);
        if (c.differ >= 0) buf[c.start + c.differ] = 0xAB;
        EXPECT_EQ(zv::zvcfill(buf + c.start, 0xAA, c.len), c.expected)
            << c.start << " " << c.len << " " << c.differ;
    }
}

TEST_F(FileIoTest, StreamPositionsAre64Bit) {
    FILE *fp = zv::plat_fopen("pos.txt", "w+");
    ASSERT_NE(fp, nullptr);
    fputs("0123456789", fp);
    int64_t pos = -1;
    EXPECT_EQ(zv::zvrtgetpos81(fp, &pos), 0);
    EXPECT_EQ(pos, 10);
    EXPECT_EQ(zv::zvrtsetpos81(fp, 1, 16), 0);
    EXPECT_EQ(zv::zvrtgetpos81(fp, &pos), 0);
    EXPECT_EQ(pos, (int64_t{1} << 32) + 16);
    EXPECT_EQ(zv::zvrtsetpos81(fp, 0, 3), 0);
    EXPECT_EQ(fgetc(fp), '3');
    EXPECT_EQ(zv::zvrtsetpos81(nullptr, 0, 3), -1);
    zv::plat_fclose(fp);
}

}  // namespace

// The update-flag protocol, the clean close, and failed writes at the I/O
// seam during create, a change and close.
#include <cerrno>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include "engine/core/centralio.h"
#include "engine/core/highword.h"
#include "engine/files/header.h"
#include "tests/engine/files/files_util.h"

namespace {

using filestest::Bytes;
using filestest::file_bytes;
using filestest::le32;
using zv::IoKind;

class UpdateTest : public filestest::FilesTest {
protected:
    void make_open(int filno, const char *name) {
        ASSERT_EQ(CREDATX8(filno, name, 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    }
};

TEST_F(UpdateTest, FirstChangeWritesTheHeaderOnceAndCleanCloseClearsIt) {
    make_open(1, "a.dat");
    long w = writes();
    ASSERT_EQ(tstupd(fcb(1)), 0);
    EXPECT_EQ(writes(), w + 1);
    EXPECT_EQ(file_bytes("a.dat")[56], 0xFF);
    EXPECT_EQ(le32(file_bytes("a.dat"), 108), 2u);
    ASSERT_EQ(tstupd(fcb(1)), 0);
    EXPECT_EQ(writes(), w + 1);
    EXPECT_EQ(fcb(1)->updcount, 2u);
    uint32_t t0 = uint32_t(time(nullptr));
    ASSERT_EQ(CLSFIL(1, 0), 0);
    Bytes b = file_bytes("a.dat");
    EXPECT_EQ(b[56], 0);
    EXPECT_GE(le32(b, 112), t0);
    EXPECT_LE(le32(b, 112), uint32_t(time(nullptr)));
    EXPECT_EQ(OPNFIL(1, "a.dat", 0x800), 0);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(UpdateTest, ClosingAnUnchangedFileWritesNothing) {
    make_open(1, "a.dat");
    ASSERT_EQ(CLSFIL(1, 0), 0);
    Bytes before = file_bytes("a.dat");
    ASSERT_EQ(OPNFIL(1, "a.dat", 0x800), 0);
    long w = writes();
    ASSERT_EQ(CLSFIL(1, 0), 0);
    EXPECT_EQ(writes(), w);
    EXPECT_EQ(file_bytes("a.dat"), before);
}

TEST_F(UpdateTest, MemberMarksItsHostFirst) {
    ASSERT_EQ(CREIDX(1, "i.idx", 10, 0, 0, 1, 0, 0), 0);
    ASSERT_EQ(CREMEM(1, 10, 0, 0, 1), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "i.idx", 0), 0);
    Bytes b = file_bytes("i.idx");
    ASSERT_EQ(b[56], 0);
    ASSERT_EQ(b[512 + 56], 0);
    long w = writes();
    ASSERT_EQ(tstupd(fcb(2)), 0);
    EXPECT_EQ(writes(), w + 2);
    b = file_bytes("i.idx");
    EXPECT_EQ(b[56], 0xFF);
    EXPECT_EQ(b[512 + 56], 0xFF);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    b = file_bytes("i.idx");
    EXPECT_EQ(b[56], 0);
    EXPECT_EQ(b[512 + 56], 0);
}

TEST_F(UpdateTest, FailedFirstMarkIsTriedAgainByTheNextChange) {
    make_open(1, "a.dat");
    zv::fault_set(IoKind::Write, 1, EIO);
    EXPECT_NE(tstupd(fcb(1)), 0);
    EXPECT_EQ(fcb(1)->hdr.base.updflg, 0);
    EXPECT_EQ(file_bytes("a.dat")[56], 0);
    long w = writes();
    ASSERT_EQ(tstupd(fcb(1)), 0);
    EXPECT_EQ(writes(), w + 1);
    EXPECT_EQ(file_bytes("a.dat")[56], 0xFF);
    ASSERT_EQ(CLSFIL(1, 0), 0);
}

// A first mark whose header write comes out short (here every write one
// byte short, so that its rest cannot follow) may be on disk although the call failed: the clean close writes the
// header again, so a set closed with 0 opens without 14. The second case
// fails the member's write of an index with a member.
TEST_F(UpdateTest, AMarkWrittenShortIsClearedByTheCleanClose) {
    struct Case {
        const char *what;
        bool member;
        long nth;
    } cases[] = {{"data file", false, 1}, {"index member", true, 2}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const char *name = c.member ? "i.idx" : "a.dat";
        if (c.member) {
            ASSERT_EQ(CREIDX(1, name, 10, 0, 0, 1, 0, 0), 0);
            ASSERT_EQ(CREMEM(1, 10, 0, 0, 1), 0);
            ASSERT_EQ(CLSFIL(1, 0), 0);
            ASSERT_EQ(OPNFIL(1, name, 0), 0);
        } else {
            make_open(1, name);
        }
        const int filno = c.member ? 2 : 1;
        const size_t at = c.member ? 512 + 56 : 56;
        zv::fault_set(IoKind::Write, c.nth, 0, true, 1);
        EXPECT_NE(tstupd(fcb(filno)), 0);
        zv::fault_reset();
        EXPECT_EQ(fcb(filno)->hdr.base.updflg, 0);
        EXPECT_EQ(file_bytes(name)[at], 0xFF) << "the mark reached the disk";
        ASSERT_EQ(CLSFIL(1, 0), 0);
        EXPECT_EQ(file_bytes(name)[at], 0);
        EXPECT_EQ(OPNFIL(1, name, 0), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
    }
}

TEST_F(UpdateTest, FailedMemberMarkKeepsTheHostsMark) {
    ASSERT_EQ(CREIDX(1, "i.idx", 10, 0, 0, 1, 0, 0), 0);
    ASSERT_EQ(CREMEM(1, 10, 0, 0, 1), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "i.idx", 0), 0);
    zv::fault_set(IoKind::Write, 2, EIO);  // the host's write succeeds, the member's fails
    EXPECT_NE(tstupd(fcb(2)), 0);
    // The host's header carries the mark on disk: so does its copy, and the
    // clean close takes it away again.
    EXPECT_EQ(fcb(1)->hdr.base.updflg, 0xFF);
    EXPECT_EQ(fcb(2)->hdr.base.updflg, 0);
    ASSERT_EQ(tstupd(fcb(2)), 0);
    EXPECT_EQ(fcb(2)->hdr.base.updflg, 0xFF);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    EXPECT_EQ(OPNFIL(1, "i.idx", 0), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
}

// Fails the Nth write for N = 1, 2, ... over a create, a change and a close.
// Every call that meets the fault returns a code; a close that fails leaves
// the file marked (the next open refuses it with 14), no descriptor stays
// open, and the number can be used again.
TEST_F(UpdateTest, FaultSweepOverCreateChangeAndClose) {
    const int fds = filestest::open_descriptors();
    bool clean_run = false;
    int failed_closes = 0;
    long n = 1;
    for (; n <= 40 && !clean_run; n++) {
        SCOPED_TRACE(n);
        unlink("s.dat");
        zv::fault_reset();
        zv::fault_set(IoKind::Write, n, EIO);
        int create = CREDATX8(1, "s.dat", 100, 0, 0x800, 0, nullptr, nullptr, ZV_XCRE_DEFAULT);
        if (create != 0) {
            EXPECT_EQ(fcb(1)->state, 'n');
            EXPECT_NE(access("s.dat", F_OK), 0);
            EXPECT_EQ(filestest::open_descriptors(), fds);
            continue;
        }
        int change = tstupd(fcb(1));
        if (change == 0) {
            char rec[100];
            memset(rec, 'r', sizeof rec);
            change = izvio81x(1, fcb(1), 0, 600, rec, 100, nullptr, 0);
        }
        int close = CLSFIL(1, 0);
        EXPECT_EQ(fcb(1)->state, 'n');
        EXPECT_EQ(filestest::open_descriptors(), fds);
        zv::fault_reset();
        Bytes b = file_bytes("s.dat");
        ASSERT_GE(b.size(), 128u);
        if (close != 0) {
            failed_closes++;
            EXPECT_EQ(b[56], 0xFF);
            EXPECT_EQ(OPNFIL(1, "s.dat", 0), 14);
            EXPECT_EQ(fcb(1)->state, 'n');
        }
        ASSERT_EQ(OPNFIL(1, "s.dat", 0x4000), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        clean_run = create == 0 && change == 0 && close == 0;
        if (clean_run) {
            EXPECT_EQ(b[56], 0);
            EXPECT_EQ(b.size(), 700u);
            EXPECT_EQ(b[600], 'r');
        }
    }
    EXPECT_TRUE(clean_run);
    EXPECT_GT(n, 4);  // create, the mark, the data page and the clean header each met a fault
    EXPECT_GE(failed_closes, 2);
}

TEST(HighWord, CellIsReadOnceAndTestedWithoutClearing) {
    zvtest::clear_instance_ring();
    EXPECT_EQ(zvSETHGH(5), 0);  // no instance: nothing is kept
    EXPECT_EQ(zvGETHGH(), 0);
    ASSERT_EQ(REGZARVO("hw"), 0);
    EXPECT_EQ(zvSETHGH(-2), 0);
    EXPECT_EQ(tsthghwrd(), -2);
    EXPECT_EQ(tsthghwrd(), -2);
    EXPECT_EQ(zvGETHGH(), -2);
    EXPECT_EQ(zvGETHGH(), 0);
    zvSETHGHi(9);
    EXPECT_EQ(zvGETHGHi(), 9);
    EXPECT_EQ(tsthghwrd(), 0);
    zvtest::clear_instance_ring();
}

TEST(Versions, HeaderVersionFollowsTheFlags) {
    struct Case {
        uint16_t hdrflags;
        uint32_t flmode2;
        uint16_t version;
        bool with_ext;
        int code;
    };
    const Case cases[] = {
        {0, 0, 0x81, true, 0},           {0, 0, 0x91, true, 43},
        {0x02, 0, 0x91, true, 0},        {0x02, 0x20000000, 0xA1, true, 0},
        {0x02, 0x20000000, 0x91, true, 43}, {0x40, 0, 0x81, true, 43},
        {0x02, 0x20000000, 0x91, false, 0}, {0x02, 0x20000000, 0xA1, false, 43},
    };
    for (const Case &c : cases) {
        FCB f{};
        f.hdr.base.hdrflags = c.hdrflags;
        f.hdr.ext.flmode2 = c.flmode2;
        f.hdr.base.verson = c.version;
        EXPECT_EQ(tstverson(&f.hdr.base, c.with_ext ? &f.hdr.ext : nullptr), c.code) << c.version;
        if (c.code == 0 && c.with_ext) {
            EXPECT_EQ(setverson(&f), c.version);
        }
    }
}

}  // namespace

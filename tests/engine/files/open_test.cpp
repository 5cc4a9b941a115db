// Open: refusals of damaged files, file-number checks, modes, the ring and
// the stop of an engine user.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/files/close.h"
#include "engine/files/header.h"
#include "engine/files/open.h"
#include "engine/core/centralio.h"
#include "engine/files/fcbops.h"
#include "tests/engine/files/files_util.h"
#include "tests/support/child.h"

namespace {

using filestest::Bytes;
using filestest::file_bytes;
using filestest::patch;

class OpenTest : public filestest::FilesTest {
protected:
    // An engine-made file with an extended header, closed.
    void make(const char *name) {
        ASSERT_EQ(CREDATX8(1, name, 100, 0, 0x800, 0, nullptr, nullptr, ZV_XCRE_DEFAULT), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
    }
};

Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

TEST_F(OpenTest, DamagedHeadersAreRefused) {
    struct Case {
        const char *what;
        int code;
        std::vector<std::pair<size_t, Bytes>> patches;
        uint16_t mode;
    };
    const Case cases[] = {
        {"header position changed", 13, {{80, le32(1)}}, 0},
        {"file type 3", 13, {{64, {3, 0}}}, 0},
        {"additional segment", 696, {{0, {'Q', 'V', '!', 'S', 'E', 'G', 'M'}}, {80, le32(1)}}, 0},
        {"unknown version", 672, {{40, {0x82, 0}}}, 0},
        {"extended mark cleared", 673, {{212, le32(0)}}, 0},
        {"update counters differ", 689, {{108, le32(5)}}, 0},
        {"unsupported feature bits", 744, {{100, le32(0x800009EF)}}, 0},
        {"not closed cleanly", 14, {{56, {0xFF}}}, 0},
        {"refused", 15, {{56, {0x63}}}, 0},
        {"key length 1025", 45, {{66, {0x01, 0x04}}}, 0},
        {"variable-length mode on a fixed file", 48, {}, 0x0004},
        {"last byte used 0xFFFFFFFF", 13, {{8, le32(0xFFFFFFFF)}}, 0},
        {"last byte used 0xFFFFFFFF, not closed cleanly", 14, {{8, le32(0xFFFFFFFF)}, {56, {0xFF}}}, 0},
        {"node size beyond the node buffers", 40, {{42, {0x00, 0x80}}}, 0},
    };
    int fds = filestest::open_descriptors();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        make("d.dat");
        for (const auto &p : c.patches) patch("d.dat", p.first, p.second);
        Bytes before = file_bytes("d.dat");
        EXPECT_EQ(OPNFIL(3, "d.dat", c.mode), c.code);
        EXPECT_EQ(zvGetUserErrorCode(), c.code);
        EXPECT_EQ(fcb(3)->state, 'n');
        EXPECT_EQ(fcb(3)->fd, -1);
        EXPECT_EQ(file_bytes("d.dat"), before);
        EXPECT_EQ(filestest::open_descriptors(), fds);
        EXPECT_EQ(g()->ringfront, nullptr);
        unlink("d.dat");
    }
    EXPECT_EQ(OPNFIL(3, "missing.dat", 0), 12);
    EXPECT_EQ(fcb(3)->state, 'n');
    EXPECT_EQ(filestest::open_descriptors(), fds);
    std::string log = zvtest::read_file("ZVSTATUS.QVS");
    EXPECT_NE(log.find("FREL_ERR(744) unsupported DEF_MASK bits: 80000000x for file..."), std::string::npos);
    EXPECT_NE(log.find("d.dat"), std::string::npos);
}

// An additional member's node size is checked as its host's is: every
// node is read into a buffer of the engine's node size (1024 bytes here).
TEST_F(OpenTest, AMembersNodeSizeIsCheckedAsItsHosts) {
    struct Case {
        const char *what;
        uint16_t nodsiz;
        int code;
    } cases[] = {
        {"not a whole number of units", 32767, 13},
        {"larger than a node buffer", 32768, 40},
        {"none", 0, 812},
        {"a unit of 16384 bytes", 1, 40},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        unlink("i.idx");
        ASSERT_EQ(CREIDX(1, "i.idx", 10, 0, 0, 1, 0, 0), 0);
        ASSERT_EQ(CREMEM(1, 10, 0, 0, 1), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        patch("i.idx", 512 + 42, {uint8_t(c.nodsiz), uint8_t(c.nodsiz >> 8)});
        const Bytes before = file_bytes("i.idx");
        EXPECT_EQ(OPNFIL(1, "i.idx", 0), c.code);
        EXPECT_EQ(fcb(1)->state, 'n');
        EXPECT_EQ(fcb(2)->state, 'n');
        EXPECT_EQ(file_bytes("i.idx"), before);
    }
}

// A file grown without a fill (growth step 0) whose last records were
// never written is still longer than its last byte used after a clean
// close, so that it opens again.
TEST_F(OpenTest, ACleanCloseLeavesTheLastByteUsedInsideTheFile) {
    make("d.dat");
    ASSERT_EQ(OPNFIL(1, "d.dat", 0x800), 0);
    uint32_t pos = NEWREC(1);
    ASSERT_NE(pos, 0u);
    const uint64_t last = uint64_t(pos) + 99;
    EXPECT_EQ(fcb(1)->hdr.base.numrec, last);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    EXPECT_EQ(file_bytes("d.dat").size(), last + 1);
    EXPECT_EQ(file_bytes("d.dat")[last], 0xFF);
    ASSERT_EQ(OPNFIL(1, "d.dat", 0x800), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
}

// A write-through file (mode 0x40) grown without a fill writes its header
// at each growth, before the record that takes the new space: a process
// killed between the two leaves a header marked changed whose last byte
// used lies past the end of the file. Killed at any write of its adds, the
// file opens with 14, the answer that calls for the repair; a kill before
// the mark reached the file leaves it as it was.
TEST_F(OpenTest, AWriteThroughFileKilledAtAnyWriteOfItsAddsOpensWith14) {
    auto run = [](long kill_at) {
        return zvtest::run_in_child([kill_at] {
            zvtest::ChildResult r;
            if ((r.rc = zvtest::start_engine(8, 20, 8, 16)) != 0) return r;
            if ((r.rc = OPNFIL(1, "d.dat", 0x40)) != 0) return r;
            zv::fault_reset();
            if (kill_at) zv::fault_exit(zv::IoKind::Write, kill_at, 77);
            char rec[100];
            for (int i = 0; i < 3 && r.rc == 0; i++) {
                memset(rec, 'a' + i, sizeof rec);
                const uint32_t pos = NEWREC(1);
                r.rc = pos ? WRTREC(1, pos, rec) : zvGetUserErrorCode();
            }
            r.extra = int(zv::io_calls(zv::IoKind::Write));
            return r;
        });
    };
    make("d.dat");
    const zvtest::ChildResult whole = run(0);
    ASSERT_TRUE(whole.ok);
    ASSERT_EQ(whole.rc, 0);
    ASSERT_GE(whole.extra, 4);  // the mark, then a header and a record per add
    for (long n = 1; n <= whole.extra; n++) {
        SCOPED_TRACE("killed at write " + std::to_string(n));
        unlink("d.dat");
        make("d.dat");
        EXPECT_FALSE(run(n).ok);
        EXPECT_EQ(OPNFIL(2, "d.dat", 0), n == 1 ? 0 : 14);
        CLSFIL(2, 0);
    }
}

TEST_F(OpenTest, PartialWriteAfterOpenKeepsTheBytesAroundIt) {
    ASSERT_EQ(CREDATX8(1, "d.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    Bytes body(4000);
    for (size_t i = 0; i < body.size(); i++) body[i] = uint8_t(i % 251);
    patch("d.dat", 200, body);
    ASSERT_EQ(OPNFIL(2, "d.dat", 0x800), 0);
    char rec[10];
    memset(rec, 'w', sizeof rec);
    ASSERT_EQ(zvio81(1, fcb(2), 0, 3000, rec, 10), 0);
    ASSERT_EQ(CLSFIL(2, 0), 0);
    Bytes after = file_bytes("d.dat");
    ASSERT_EQ(after.size(), 4200u);
    EXPECT_EQ(filestest::slice(after, 3000, 10), Bytes(10, 'w'));
    EXPECT_EQ(filestest::slice(after, 2048, 952), filestest::slice(body, 1848, 952));
    EXPECT_EQ(filestest::slice(after, 3010, 1190), filestest::slice(body, 2810, 1190));
}

TEST_F(OpenTest, ShortFileIsDiagnosedAsAnInterruptedCreate) {
    filestest::put_file("short.dat", Bytes(100, 0));
    EXPECT_EQ(OPNFIL(2, "short.dat", 0), 36);
    EXPECT_EQ(zvGetSystemErrorCode(), -539);  // the engine's own codes are negative
    EXPECT_EQ(fcb(2)->state, 'n');
}

TEST_F(OpenTest, DamagedModeOpensAFileMarkedChangedAndLeavesItAsItIs) {
    make("d.dat");
    patch("d.dat", 56, {0xFF});
    Bytes before = file_bytes("d.dat");
    ASSERT_EQ(OPNFIL(2, "d.dat", 0x4000), 0);
    EXPECT_EQ(fcb(2)->hdr.base.updflg, 'R');
    long w = writes();
    EXPECT_EQ(CLSFIL(2, 0), 0);
    EXPECT_EQ(writes(), w);
    EXPECT_EQ(file_bytes("d.dat"), before);
    EXPECT_EQ(OPNFIL(2, "d.dat", 0), 14);
}

// A file whose header on disk ends before a resource that was added after
// the header was last written. Marked changed, the damaged mode opens it
// and finds the resource (the bytes on disk bound the ring); a clean header
// is trusted, so its ring is refused in either mode.
TEST_F(OpenTest, DamagedModeOfAFileMarkedChangedReachesResourcesBeyondItsHeaderEnd) {
    const uint32_t words[2] = {6000, 1};
    std::string body(reinterpret_cast<const char *>(words), 8);
    body += std::string("late\0", 5) + std::string(150, 'r');
    const struct {
        uint8_t flag;
        uint16_t mode;
        int want;
    } cases[] = {{0xFF, 0x4000, 0}, {0xFF, 0, 14}, {0, 0x4000, 407}, {0, 0, 407}};
    for (const auto &c : cases) {
        SCOPED_TRACE("flag " + std::to_string(c.flag) + ", mode " + std::to_string(c.mode));
        make("r.dat");
        ASSERT_EQ(OPNFIL(1, "r.dat", 0), 0);
        ASSERT_EQ(ENARES(1), 0);
        ASSERT_EQ(ADDRES(1, body.data(), int32_t(body.size())), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        // The header's end falls back to just after the ring's anchor.
        Bytes img = file_bytes("r.dat");
        const uint32_t anchor = filestest::le32(img, 12);
        const uint32_t late = filestest::le32(img, anchor + 14);
        ASSERT_GT(late, anchor);
        patch("r.dat", 8, le32(late - 1));
        patch("r.dat", 56, {c.flag});
        Bytes before = file_bytes("r.dat");
        ASSERT_EQ(OPNFIL(2, "r.dat", c.mode), c.want);
        if (c.want == 0) {
            char got[200] = {};
            EXPECT_EQ(GETRES(2, const_cast<uint32_t *>(words), got, sizeof got, 2), late);
            EXPECT_EQ(std::string(got, body.size()), body);
            zvSETHGH(0);
            EXPECT_EQ(GETFIL(2, 10), int32_t(late)) << "the header's end is not moved";
            EXPECT_EQ(CLSFIL(2, 0), 0);
        }
        if (c.flag) {
            EXPECT_EQ(file_bytes("r.dat"), before) << "a file marked changed is not written";
        }
        ASSERT_EQ(dltfil("r.dat"), 0);
    }
}

TEST_F(OpenTest, FileNumberChecks) {
    EXPECT_EQ(CLSFIL(4, 0), 26);
    EXPECT_EQ(CLSFIL(-1, 0), 22);
    EXPECT_EQ(OPNFIL(-1, "x.dat", 0), 22);
    EXPECT_EQ(OPNFIL(1, "", 0), 130);
    EXPECT_EQ(OPNFIL(1, nullptr, 0), 130);
    EXPECT_EQ(OPNFIL(1, std::string(300, 'n').c_str(), 0), 139);
    ASSERT_EQ(CREIDX(5, "i.idx", 10, 0, 0, 1, 0, 0), 0);
    EXPECT_EQ(OPNFIL(6, "x.dat", 0), 46);
    EXPECT_EQ(tstfnm(6), nullptr);
    EXPECT_EQ(zvGetUserErrorCode(), 46);
    EXPECT_EQ(tstfnm(7), nullptr);
    EXPECT_EQ(zvGetUserErrorCode(), 26);
    EXPECT_EQ(tstfnm(20000), nullptr);
    EXPECT_EQ(zvGetUserErrorCode(), 22);
    EXPECT_EQ(CLSFIL(5, 0), 0);
}

TEST_F(OpenTest, NumberBeyondTheTableGrowsIt) {
    make("d.dat");
    ASSERT_EQ(OPNFIL(100, "d.dat", 0), 0);
    EXPECT_GE(g()->filecount, 100);
    EXPECT_EQ(CLSFIL(100, 0), 0);
}

TEST_F(OpenTest, OpenModeBecomesTheFileMode) {
    make("d.dat");
    ASSERT_EQ(OPNFIL(2, "d.dat", 0x0009), 0);
    EXPECT_EQ(fcb(2)->hdr.base.flmode & 0x0009, 0x0008);
    EXPECT_EQ(chkredf(2, nullptr), 54);
    EXPECT_EQ(CLSFIL(2, 0), 0);
    // A shared open writes nothing at open (another open of the file may
    // be reading its header); its mode goes with its first change's header.
    Bytes before = file_bytes("d.dat");
    ASSERT_EQ(before[48], 0x00);
    ASSERT_EQ(OPNFIL(2, "d.dat", 0x0001), 0);
    EXPECT_EQ(fcb(2)->hdr.base.flmode, 0x0001);
    EXPECT_EQ(chkredf(2, nullptr), 0);
    EXPECT_EQ(file_bytes("d.dat"), before);
    ASSERT_NE(NEWREC(2), 0u);
    Bytes after = file_bytes("d.dat");
    EXPECT_EQ(after[48], 0x01);
    EXPECT_EQ(after[56], 0xFF);
    EXPECT_EQ(CLSFIL(2, 0), 0);
    after = file_bytes("d.dat");
    EXPECT_EQ(after[48], 0x01);
    EXPECT_EQ(after[56], 0);
    // An open that holds the file alone writes its new mode at open, with
    // the counter raised once.
    before = after;
    ASSERT_EQ(OPNFIL(2, "d.dat", 0x0000), 0);
    EXPECT_EQ(fcb(2)->hdr.base.flmode, 0x0000);
    after = file_bytes("d.dat");
    EXPECT_EQ(after[48], 0x00);
    EXPECT_EQ(after[108], before[108] + 1);
    EXPECT_EQ(after[236], before[236] + 1);
    EXPECT_EQ(after[56], 0);
    EXPECT_EQ(CLSFIL(2, 0), 0);
}

TEST_F(OpenTest, RingHoldsHostsWithDescriptorsOnly) {
    make("a.dat");
    make("b.dat");
    ASSERT_EQ(OPNFIL(2, "a.dat", 0), 0);
    ASSERT_EQ(OPNFIL(3, "b.dat", 0), 0);
    ASSERT_EQ(CREIDX(4, "i.idx", 10, 0, 0, 1, 0, 0), 0);
    ASSERT_EQ(CREMEM(4, 10, 0, 0, 1), 0);
    EXPECT_EQ(g()->ringfront, fcb(4));
    EXPECT_EQ(fcb(4)->ringnext, fcb(3));
    EXPECT_EQ(g()->ringback, fcb(2));
    inrfil(fcb(5), 1);  // a member stands for its host
    EXPECT_EQ(g()->ringfront, fcb(4));
    inrfil(fcb(2), 1);
    EXPECT_EQ(g()->ringfront, fcb(2));
    EXPECT_EQ(g()->ringback, fcb(3));
    ASSERT_EQ(CLSFIL(3, 0), 0);
    EXPECT_EQ(fcb(2)->ringnext, fcb(4));
    make("p.dat");
    ASSERT_EQ(OPNFIL(6, "p.dat", 0x0002), 0);  // keeps its descriptor: never in the ring
    EXPECT_EQ(g()->ringfront, fcb(2));
    EXPECT_EQ(g()->nfiles, 3);
    EXPECT_EQ(g()->nallfiles, 4);
}

TEST_F(OpenTest, StopUserClosesEverything) {
    int fds = filestest::open_descriptors();
    make("a.dat");
    ASSERT_EQ(OPNFIL(2, "a.dat", 0), 0);
    ASSERT_EQ(tstupd(fcb(2)), 0);
    ASSERT_EQ(CREIDX(3, "i.idx", 10, 0, 0, 1, 0, 0), 0);
    ASSERT_EQ(STPUSR(), 0);
    EXPECT_EQ(filestest::open_descriptors(), fds);
    EXPECT_EQ(file_bytes("a.dat")[56], 0);
    EXPECT_EQ(WCHZARVO(), nullptr);  // the default instance went with it
    EXPECT_EQ(STPUSR(), 410);
    ASSERT_EQ(REGZARVO("mine"), 0);
    EXPECT_EQ(STPUSR(), 410);
}

TEST_F(OpenTest, ShorterExtendedPartReadsZerosBeyondIt) {
    // Number 5 first holds a file whose +392..+407 are set.
    make("full.dat");
    patch("full.dat", 392, Bytes(16, 0x5A));
    ASSERT_EQ(OPNFIL(5, "full.dat", 0x800), 0);
    EXPECT_EQ(fcb(5)->hdr.ext.daranchl, 0x5A5A5A5Au);
    ASSERT_EQ(CLSFIL(5, 0), 0);
    // A hand-made file whose extended part is 128 bytes, with garbage after it.
    make("short.dat");
    patch("short.dat", 100, le32(0x8EF));
    patch("short.dat", 256, Bytes(256, 0xAB));
    ASSERT_EQ(OPNFIL(5, "short.dat", 0x800), 0);
    const FILEHDRX &x = fcb(5)->hdr.ext;
    EXPECT_EQ(x.daranchh, 0u);
    EXPECT_EQ(x.daranchl, 0u);
    EXPECT_EQ(Bytes(x.darcount, x.darcount + 8), Bytes(8, 0));
    EXPECT_EQ(x.idxlayout, 0u);
    EXPECT_EQ(x.xmark, kXtdMark);
    EXPECT_EQ(CLSFIL(5, 0), 0);
}

TEST_F(OpenTest, SmallServicesOfOpenFiles) {
    make("name.dat");
    ASSERT_EQ(OPNFIL(2, "name.dat", 0), 0);
    char buf[16];
    EXPECT_EQ(GETNAM(2, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "name.dat");
    EXPECT_EQ(GETNAM(2, buf, 8), 153);
    EXPECT_EQ(GETNAM(2, buf, 9), 0);
    EXPECT_EQ(GETNAM(2, nullptr, 9), 540);
    EXPECT_EQ(GETNAM(7, buf, 9), 26);
    EXPECT_EQ(TESTHUGE(2), 0);
    EXPECT_EQ(TESTHUGE(7), 26);
    fcb(2)->hdr.base.sernum = 41;
    fcb(2)->hdr.ext.sernumh = 3;
    EXPECT_EQ(SERIALNUM(2), 41u);
    EXPECT_EQ(zvGETHGH(), 3);
    EXPECT_EQ(zvGETHGH(), 0);
    EXPECT_EQ(chkopnx("name.dat"), 2);
    EXPECT_EQ(chkopnx("other.dat"), -1);
    EXPECT_EQ(SetXtdFileOpenMode(0x10), 0);
    EXPECT_EQ(SetXtdFileOpenMode(0x02), 454);
    EXPECT_EQ(TRANSACTION(), 0);
    EXPECT_EQ(zvinitcmprec(), 940);
    EXPECT_EQ(zvSetCurrentSuperfileHost(2), 454);
    EXPECT_EQ(CLSFIL(2, 0), 0);
}

TEST_F(OpenTest, SystemFileOpenAndCreate) {
    FCB *f = zvgetfcb(10);
    ASSERT_NE(f, nullptr);
    snprintf(f->name, sizeof f->name, "sys.fil");
    EXPECT_EQ(zvspcopn(0, f), 96);
    snprintf(f->name, sizeof f->name, "sys.fil");
    ASSERT_EQ(zvspcopn(33, f), 0);
    EXPECT_EQ(f->state, 's');
    EXPECT_EQ(iclsfilx(10, 0), 0);
    snprintf(f->name, sizeof f->name, "sys.fil");
    EXPECT_EQ(zvspcopn(33, f), 498);
    EXPECT_EQ(f->fd, -1);
    snprintf(f->name, sizeof f->name, "sys.fil");
    ASSERT_EQ(zvspcopn(0, f), 0);
    EXPECT_EQ(f->hdr.base.verson, 0x81);
    EXPECT_EQ(iclsfilx(10, 0), 0);
    // With 64 a failed open is tried once more with the last character 'A'.
    snprintf(f->name, sizeof f->name, "sys.fiA");
    ASSERT_EQ(zvspcopn(33, f), 0);
    EXPECT_EQ(iclsfilx(10, 0), 0);
    snprintf(f->name, sizeof f->name, "sys.fiZ");
    EXPECT_EQ(zvspcopn(0, f), 96);
    snprintf(f->name, sizeof f->name, "sys.fiZ");
    ASSERT_EQ(zvspcopn(64, f), 0);
    EXPECT_STREQ(f->name, "sys.fiA");
    EXPECT_EQ(iclsfilx(10, 0), 0);
}

}  // namespace

namespace {

// A file held by this process, opened by another: its result code and
// system error.
zvtest::ChildResult open_in_child(const char *name, uint16_t mode) {
    return zvtest::run_in_child([name, mode] {
        zvtest::ChildResult r;
        if (zvtest::start_engine(8, 20, 8, 16) != 0) return r;
        r.rc = OPNFIL(1, name, mode);
        r.sys = zvGetSystemErrorCode();
        r.extra = zvWNGV->nfiles;
        zvtest::stop_engine();
        return r;
    });
}

bool refused(const zvtest::ChildResult &r) {
    return r.ok && r.rc == 12 && (r.sys == EAGAIN || r.sys == EACCES) && r.extra == 0;
}

// The lock of a new or open file belongs to its own descriptor: another
// descriptor of the file in this process, opened and closed, leaves it in
// place; a virtual close gives it up and the reopen takes it again, failing
// the call with 12 while another process holds the file.
TEST_F(OpenTest, LocksHoldAgainstOtherProcessesUntilTheFileIsClosed) {
    ASSERT_EQ(CREDATX8(1, "a.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_TRUE(refused(open_in_child("a.dat", 0)));  // held since its creation
    int probe = open("a.dat", O_RDONLY);
    ASSERT_GE(probe, 0);
    close(probe);
    EXPECT_TRUE(refused(open_in_child("a.dat", 0x0001)));
    ASSERT_EQ(CLSFIL(1, 0), 0);
    zvtest::ChildResult r = open_in_child("a.dat", 0);
    EXPECT_TRUE(r.ok && r.rc == 0) << r.rc;

    // Virtual close: three files under a budget of two descriptors.
    for (const char *n : {"b.dat", "c.dat"}) {
        ASSERT_EQ(CREDATX8(2, n, 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
        ASSERT_EQ(CLSFIL(2, 0), 0);
    }
    g()->openvlimit = 2;
    ASSERT_EQ(OPNFIL(1, "a.dat", 0), 0);
    ASSERT_EQ(OPNFIL(2, "b.dat", 0), 0);
    ASSERT_EQ(OPNFIL(3, "c.dat", 0), 0);
    ASSERT_EQ(fcb(1)->state, 'v');
    // Another process takes a.dat meanwhile and holds it until told.
    int ready[2], go[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(go), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        char c = 'f';
        if (REGZARVO("child") == 0 && zvtest::start_engine(8, 20, 8, 16) == 0 && OPNFIL(1, "a.dat", 0) == 0) c = 'r';
        if (write(ready[1], &c, 1) != 1 || read(go[0], &c, 1) != 1) _exit(2);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    EXPECT_EQ(c, 'r');
    unsigned char buf[100];
    int32_t got = 0;
    EXPECT_EQ(izvio81x(16, fcb(1), 0, 0, buf, 100, &got, 0), 12);
    EXPECT_TRUE(zvGetSystemErrorCode() == EAGAIN || zvGetSystemErrorCode() == EACCES) << zvGetSystemErrorCode();
    EXPECT_EQ(fcb(1)->state, 'v');
    ASSERT_EQ(write(go[1], "g", 1), 1);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (int fd : {ready[0], ready[1], go[0], go[1]}) close(fd);
    // The other process is gone: the next call reopens and locks the file.
    EXPECT_EQ(izvio81x(16, fcb(1), 0, 0, buf, 100, &got, 0), 0);
    EXPECT_EQ(fcb(1)->state, 'y');
    EXPECT_TRUE(refused(open_in_child("a.dat", 0)));
    for (int i = 1; i <= 3; i++) EXPECT_EQ(CLSFIL(i, 0), 0);
}

}  // namespace

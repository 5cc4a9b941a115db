// Fixed-length record space: first positions, the delete stack, double
// frees, position checks, damaged stacks, serial numbers, failed I/O and
// the cost of the record read and write path.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/pools.h"
#include "engine/files/fixrec.h"
#include "engine/files/header.h"
#include "tests/engine/files/files_util.h"

namespace {

using filestest::Bytes;
using filestest::file_bytes;
using filestest::le32;
using filestest::slice;
using zv::IoKind;

class FixrecTest : public filestest::FilesTest {
protected:
    // A fixed-length file of `reclen` on number `filno`, left open.
    void make(int filno, const char *name, uint16_t reclen, XCREblk *x = nullptr, uint16_t mode = 0x800) {
        ASSERT_EQ(CREDATX8(filno, name, reclen, 0, mode, 0, nullptr, nullptr, x), 0);
    }
    static uint64_t at(uint32_t lo) { return (uint64_t(uint32_t(zvGETHGH())) << 32) | lo; }
    uint64_t newrec(int f) {
        uint32_t lo = NEWREC(f);
        return at(lo);
    }
    static int retrec(int f, uint64_t pos) {
        zvSETHGH(int32_t(pos >> 32));
        return RETREC(f, uint32_t(pos));
    }
    static int wrtrec(int f, uint64_t pos, void *buf) {
        zvSETHGH(int32_t(pos >> 32));
        return WRTREC(f, uint32_t(pos), buf);
    }
    static int redrec(int f, uint64_t pos, void *buf) {
        zvSETHGH(int32_t(pos >> 32));
        return REDREC(f, uint32_t(pos), buf);
    }
    static uint64_t datent(int f) { return at(DATENT(f)); }
    // Allocates and writes a record filled with `c`.
    uint64_t add(int f, char c, size_t reclen = 100) {
        uint64_t p = newrec(f);
        std::string rec(reclen, c);
        EXPECT_EQ(wrtrec(f, p, rec.data()), 0);
        return p;
    }
    std::string log() { return zvtest::read_file("ZVSTATUS.QVS"); }
    // The status log holds exactly two entries: the message, then the name.
    bool logged_with_name(const std::string &message, const std::string &name) {
        std::string text = log();
        size_t m = text.find("\t" + message + "\n");
        size_t n = text.find("\t" + name + "\n");
        size_t entries = 0;
        for (size_t p = text.find("User#"); p != std::string::npos; p = text.find("User#", p + 1)) entries++;
        return entries == 2 && m != std::string::npos && n != std::string::npos && m < n;
    }
    long calls_of_all_kinds() {
        long n = 0;
        for (int k = 0; k < int(IoKind::Count); k++) n += zv::io_calls(IoKind(k));
        return n;
    }
};

TEST_F(FixrecTest, FirstRecordFollowsTheHeaderAndAllocationContinuesAfterReopen) {
    XCREblk extended{};
    extended.mode = 0x02;
    struct Case {
        const char *name;
        uint16_t reclen;
        XCREblk *x;
        uint64_t first;
    };
    const Case cases[] = {
        {"std100.dat", 100, nullptr, 200},
        {"ext100.dat", 100, &extended, 600},
        {"std128.dat", 128, nullptr, 128},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        make(1, c.name, c.reclen, c.x);
        EXPECT_EQ(begbytfix(fcb(1)), c.first);
        EXPECT_EQ(at(uint32_t(GETFIL(1, 31))), c.first);
        EXPECT_EQ(add(1, 'a', c.reclen), c.first);
        EXPECT_EQ(add(1, 'b', c.reclen), c.first + c.reclen);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        ASSERT_EQ(OPNFIL(1, c.name, 0), 0);
        EXPECT_EQ(add(1, 'c', c.reclen), c.first + 2 * c.reclen);
        EXPECT_EQ(datent(1), 3u);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        EXPECT_EQ(file_bytes(c.name).size(), c.first + 3 * c.reclen);
    }
}

TEST_F(FixrecTest, HeaderWithAShortExtendedPartPutsTheFirstRecordAt300) {
    ASSERT_EQ(CREDAT(1, "short.dat", 100, 0, 0x800), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    // A 128-byte extended part (header flags 2 without 0x100): 256 bytes of
    // header, so the file's records start at 300.
    Bytes b = slice(file_bytes("short.dat"), 0, 300);
    filestest::put_file("short.dat", b);
    filestest::patch("short.dat", 0, {0x2B, 0x01, 0, 0});    // last physical byte 299
    filestest::patch("short.dat", 8, {0x2B, 0x01, 0, 0});    // last byte used 299
    filestest::patch("short.dat", 100, {0xEF, 0, 0, 0});     // header flags 2
    ASSERT_EQ(OPNFIL(1, "short.dat", 0), 0);
    EXPECT_EQ(begbytfix(fcb(1)), 300u);
    EXPECT_EQ(GETFIL(1, 31), 300);
    EXPECT_EQ(add(1, 'x'), 300u);
    EXPECT_EQ(add(1, 'y'), 400u);
}

TEST_F(FixrecTest, DeleteStackIsLastInFirstOut) {
    make(1, "lifo.dat", 100);
    ASSERT_EQ(add(1, 'a'), 200u);
    ASSERT_EQ(add(1, 'b'), 300u);
    EXPECT_EQ(datent(1), 2u);
    EXPECT_EQ(retrec(1, 200), 0);
    EXPECT_EQ(datent(1), 1u);
    EXPECT_EQ(retrec(1, 300), 0);
    EXPECT_EQ(datent(1), 0u);
    ASSERT_EQ(CLSFIL(1, 0), 0);

    Bytes b = file_bytes("lifo.dat");
    EXPECT_EQ(le32(b, 4), 300u);
    EXPECT_EQ(le32(b, 24), 0u);
    EXPECT_EQ(slice(b, 200, 6), (Bytes{0xFF, 0x00, 0x00, 0x00, 0x00, 'a'}));
    EXPECT_EQ(slice(b, 300, 6), (Bytes{0xFF, 0xC8, 0x00, 0x00, 0x00, 'b'}));

    ASSERT_EQ(OPNFIL(1, "lifo.dat", 0), 0);
    EXPECT_EQ(newrec(1), 300u);
    EXPECT_EQ(datent(1), 1u);
    EXPECT_EQ(newrec(1), 200u);
    EXPECT_EQ(datent(1), 2u);
    EXPECT_EQ(newrec(1), 400u);
    EXPECT_EQ(datent(1), 3u);
    EXPECT_EQ(fcb(1)->hdr.base.delstk, 0u);
}

TEST_F(FixrecTest, EightByteOffsetsStackAnEightByteLink) {
    XCREblk wide{};
    wide.mode = 0x40;
    make(1, "wide.dat", 100, &wide);
    const uint64_t first = begbytfix(fcb(1));
    ASSERT_EQ(first, 600u);
    ASSERT_EQ(add(1, 'a'), 600u);
    ASSERT_EQ(add(1, 'b'), 700u);
    EXPECT_EQ(retrec(1, 600), 0);
    EXPECT_EQ(retrec(1, 700), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    Bytes b = file_bytes("wide.dat");
    EXPECT_EQ(le32(b, 4), 700u);
    EXPECT_EQ(le32(b, 132), 0u);
    EXPECT_EQ(slice(b, 600, 10), (Bytes{0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 'a'}));
    EXPECT_EQ(slice(b, 700, 10), (Bytes{0xFF, 0x58, 0x02, 0, 0, 0, 0, 0, 0, 'b'}));
    ASSERT_EQ(OPNFIL(1, "wide.dat", 0), 0);
    EXPECT_EQ(newrec(1), 700u);
    EXPECT_EQ(newrec(1), 600u);
    EXPECT_EQ(newrec(1), 800u);
}

TEST_F(FixrecTest, SecondFreeOfARecordIsRefusedAndChangesNothing) {
    make(1, "twice.dat", 100);
    const uint64_t a = add(1, 'a');
    add(1, 'b');
    ASSERT_EQ(retrec(1, a), 0);
    const uint32_t head = fcb(1)->hdr.base.delstk;
    ASSERT_EQ(zvflushd(fcb(1), 0), 0);
    const Bytes before = file_bytes("twice.dat");
    EXPECT_EQ(retrec(1, a), 32);
    EXPECT_EQ(zvGetUserErrorCode(), 32);
    EXPECT_EQ(datent(1), 1u);
    EXPECT_EQ(fcb(1)->hdr.base.delstk, head);
    ASSERT_EQ(zvflushd(fcb(1), 0), 0);
    EXPECT_EQ(file_bytes("twice.dat"), before);
}

TEST_F(FixrecTest, FreeingABAKeepsTheStackAcyclic) {
    make(1, "aba.dat", 100);
    const uint64_t a = add(1, 'a');
    const uint64_t b = add(1, 'b');
    ASSERT_EQ(retrec(1, a), 0);
    ASSERT_EQ(retrec(1, b), 0);
    EXPECT_EQ(retrec(1, a), 32);
    EXPECT_EQ(datent(1), 0u);
    EXPECT_EQ(fcb(1)->hdr.base.delstk, b);
    const uint64_t p1 = newrec(1), p2 = newrec(1), p3 = newrec(1);
    EXPECT_EQ(p1, b);
    EXPECT_EQ(p2, a);
    EXPECT_EQ(p3, 400u);
    EXPECT_EQ(datent(1), 3u);
}

TEST_F(FixrecTest, FreeWithoutCountRestacksDeletedRecords) {
    make(1, "restack.dat", 100);
    const uint64_t a = add(1, 'a');
    const uint64_t b = add(1, 'b');
    ASSERT_EQ(retrec(1, a), 0);
    ASSERT_EQ(retrec(1, b), 0);
    // A repair pass resets the stack and stacks the deleted records again:
    // no count changes and no double-free check.
    fcb(1)->hdr.base.delstk = 0;
    zvSETHGH(0);
    EXPECT_EQ(iretrec(1, uint32_t(a), 0), 0);
    zvSETHGH(0);
    EXPECT_EQ(iretrec(1, uint32_t(b), 0), 0);
    EXPECT_EQ(datent(1), 0u);
    EXPECT_EQ(fcb(1)->hdr.base.delstk, b);
    EXPECT_EQ(newrec(1), b);
    EXPECT_EQ(newrec(1), a);
    EXPECT_EQ(newrec(1), 400u);
}

TEST_F(FixrecTest, AllocationUndoneBeforeItsFirstWriteIsFreed) {
    make(1, "undo.dat", 100);
    add(1, 'a');
    const uint64_t p = newrec(1);
    ASSERT_EQ(p, 300u);
    EXPECT_EQ(retrec(1, p), 0);
    EXPECT_EQ(datent(1), 1u);
    EXPECT_EQ(newrec(1), p);
    // A slot popped from the stack carries the delete mark until written:
    // the latest allocation may still be given back, once.
    EXPECT_EQ(retrec(1, p), 0);
    EXPECT_EQ(retrec(1, p), 32);
    EXPECT_EQ(datent(1), 1u);
}

TEST_F(FixrecTest, PositionAndKindChecks) {
    make(1, "chk.dat", 100);
    ASSERT_EQ(add(1, 'a'), 200u);
    ASSERT_EQ(zvflushd(fcb(1), 0), 0);
    const Bytes before = file_bytes("chk.dat");
    const FILEHDRALL hdr = fcb(1)->hdr;
    char buf[100];
    memset(buf, 0x11, sizeof buf);
    enum Op { Read, Write, Free };
    struct Case {
        Op op;
        uint64_t pos;
        bool null_buffer;
        int code;
    };
    const Case cases[] = {
        {Read, 0, false, 29},    {Write, 0, false, 29},    {Free, 0, false, 29},
        {Read, 100, false, 29},  {Write, 100, false, 29},  {Free, 100, false, 29},
        {Read, 150, false, 767}, {Write, 150, false, 767}, {Free, 150, false, 767},
        {Read, 300, false, 30},  {Write, 300, false, 30},  {Free, 300, false, 30},
        {Read, 200, true, 33},   {Write, 200, true, 33},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "op " << c.op << " at " << c.pos);
        void *b = c.null_buffer ? nullptr : buf;
        int rc = c.op == Read ? redrec(1, c.pos, b) : c.op == Write ? wrtrec(1, c.pos, b) : retrec(1, c.pos);
        EXPECT_EQ(rc, c.code);
        EXPECT_EQ(zvGetUserErrorCode(), c.code);
    }
    EXPECT_EQ(memcmp(&fcb(1)->hdr, &hdr, sizeof hdr), 0);
    ASSERT_EQ(zvflushd(fcb(1), 0), 0);
    EXPECT_EQ(file_bytes("chk.dat"), before);

    ASSERT_EQ(CREIDX(2, "k.idx", 10, 0, 0, 0, 0, 0), 0);
    ASSERT_EQ(CREDATX8(3, "v.dat", 20, 0, 0x804, 0, nullptr, nullptr, nullptr), 0);
    for (int f : {2, 3}) {
        SCOPED_TRACE(f);
        zvSETHGH(5);
        EXPECT_EQ(NEWREC(f), 0u);
        EXPECT_EQ(zvGetUserErrorCode(), 48);
        EXPECT_EQ(zvGETHGH(), 0);
    }
    EXPECT_EQ(wrtrec(2, 1024, buf), 48);
    EXPECT_EQ(DATENT(3), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 48);
    EXPECT_EQ(NEWREC(7), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 26);
    EXPECT_EQ(REDREC(99, 200, buf), 22);
}

TEST_F(FixrecTest, AllOnesStackHeadIsLoggedAndReset) {
    make(1, "ff.dat", 100);
    add(1, 'a');
    ASSERT_EQ(CLSFIL(1, 0), 0);
    filestest::patch("ff.dat", 4, {0xFF, 0xFF, 0xFF, 0xFF});
    ASSERT_EQ(OPNFIL(1, "ff.dat", 0), 0);
    const uint64_t n = datent(1);
    EXPECT_EQ(newrec(1), 300u);
    EXPECT_EQ(datent(1), n + 1);
    EXPECT_EQ(fcb(1)->hdr.base.delstk, 0u);
    EXPECT_TRUE(logged_with_name("WARNING: an all 0xff delete stack has been reset to zero for fixed length data file ...",
                                 "ff.dat"))
        << log();
}

TEST_F(FixrecTest, StackHeadOnALiveRecordIsLoggedAndReset) {
    make(1, "live.dat", 100);
    add(1, 'a');
    add(1, 'b');
    ASSERT_EQ(CLSFIL(1, 0), 0);
    // Heads that designate no freed record: a live one, the header, a
    // position between records and one beyond the end.
    for (uint32_t head : {200u, 100u, 250u, 5000u}) {
        SCOPED_TRACE(head);
        unlink("ZVSTATUS.QVS");
        filestest::patch("live.dat", 4, {uint8_t(head), uint8_t(head >> 8), 0, 0});
        ASSERT_EQ(OPNFIL(1, "live.dat", 0), 0);
        const uint64_t n = datent(1);
        const uint64_t end = fcb(1)->hdr.base.numrec + 1;
        const uint64_t p = newrec(1);
        EXPECT_EQ(p, end);
        EXPECT_EQ(datent(1), n + 1);
        EXPECT_EQ(fcb(1)->hdr.base.delstk, 0u);
        EXPECT_TRUE(logged_with_name(
            "WARNING: an invalid delete stack has been reset to zero for fixed length data file ...", "live.dat"))
            << log();
        ASSERT_EQ(retrec(1, p), 0);  // back to two live records and an empty stack
        fcb(1)->hdr.base.delstk = 0;
        ASSERT_EQ(CLSFIL(1, 0), 0);
    }
    const Bytes b = file_bytes("live.dat");
    EXPECT_EQ(b[200], 'a');
    EXPECT_EQ(b[300], 'b');
}

TEST_F(FixrecTest, EightByteHeadWithAllOnesLowWordIsAnOrdinaryPosition) {
    XCREblk wide{};
    wide.mode = 0x40;
    make(1, "big.dat", 255, &wide);  // 0xFFFFFFFF is a multiple of 255
    FCB *f = fcb(1);
    ASSERT_EQ(begbytfix(f), 765u);
    // The file reaches past 4 GB: its logical end is the end of the record
    // at 0xFFFFFFFF.
    for (int mode : {6, 5}) {
        zvSETHGH(1);
        ASSERT_EQ(PUTHDR(1, 0xFF, mode), 0);
    }
    ASSERT_EQ(f->hdr.base.numrec, 0xFEu);
    ASSERT_EQ(f->hdr.ext.numrech, 1u);
    unsigned char rec[255];
    memset(rec, 'z', sizeof rec);
    rec[0] = 0xFF;
    rec[1] = 0xFD;  // link 765
    rec[2] = 0x02;
    memset(rec + 3, 0, 7);
    ASSERT_EQ(wrtrec(1, 0xFFFFFFFFull, rec), 0);
    zvSETHGH(0);
    ASSERT_EQ(PUTHDR(1, int32_t(0xFFFFFFFFu), 7), 0);
    const uint64_t n = datent(1);
    EXPECT_EQ(newrec(1), 0xFFFFFFFFull);
    EXPECT_EQ(f->hdr.base.delstk, 765u);
    EXPECT_EQ(f->hdr.ext.delstkh, 0u);
    EXPECT_EQ(datent(1), n + 1);
    EXPECT_EQ(log().find("WARNING"), std::string::npos);
}

TEST_F(FixrecTest, SerialNumbers) {
    make(1, "ser.dat", 100);
    INSTGV *gv = g();
    for (uint32_t k = 1; k <= 3; k++) {
        add(1, 'a');
        EXPECT_EQ(gv->lastserl, k);
        EXPECT_EQ(gv->lastserh, 0u);
    }
    // A standard header's 32-bit serial number wraps: the allocation fails.
    ASSERT_EQ(PUTHDR(1, int32_t(0xFFFFFFFFu), 1), 0);
    const uint64_t n = datent(1);
    const uint32_t end = fcb(1)->hdr.base.numrec;
    EXPECT_EQ(NEWREC(1), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 44);
    EXPECT_EQ(datent(1), n);
    EXPECT_EQ(fcb(1)->hdr.base.numrec, end);
    EXPECT_EQ(gv->lastserl, 0u);

    // An extended header carries into the high word.
    ASSERT_EQ(CREDAT(2, "serx.dat", 100, 0, 0x800), 0);
    ASSERT_EQ(PUTHDR(2, int32_t(0xFFFFFFFFu), 1), 0);
    EXPECT_EQ(add(2, 'b'), 600u);
    EXPECT_EQ(gv->lastserh, 1u);
    EXPECT_EQ(gv->lastserl, 0u);
    ASSERT_EQ(CLSFIL(2, 0), 0);
    const Bytes b = file_bytes("serx.dat");
    EXPECT_EQ(le32(b, 20), 0u);
    EXPECT_EQ(le32(b, 148), 1u);
}

TEST_F(FixrecTest, SerialnumAllocatesUnderItsOption) {
    make(1, "sn.dat", 100);
    ASSERT_EQ(PUTHDR(1, 41, 1), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "sn.dat", 0), 0);
    const long w = writes();
    EXPECT_EQ(SERIALNUM(1), 41u);
    EXPECT_EQ(SERIALNUM(1), 41u);
    EXPECT_EQ(writes(), w);
    // Only the operation-mode bit callers set draws numbers.
    g()->fileopt[0] |= 0x80000;
    EXPECT_EQ(SERIALNUM(1), 41u);
    g()->fileopt[0] &= ~0x80000u;
    ASSERT_EQ(SETOPS(0x80000, 2) & 0x80000, 0x80000);
    EXPECT_EQ(SERIALNUM(1), 42u);
    EXPECT_EQ(SERIALNUM(1), 43u);
    EXPECT_EQ(fcb(1)->hdr.base.updflg, 0xFF);
    EXPECT_EQ(file_bytes("sn.dat")[56], 0xFF);
    ASSERT_EQ(PUTHDR(1, int32_t(0xFFFFFFFFu), 1), 0);
    EXPECT_EQ(SERIALNUM(1), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 44);

    ASSERT_EQ(CREDAT(2, "snx.dat", 100, 0, 0x800), 0);
    ASSERT_EQ(PUTHDR(2, int32_t(0xFFFFFFFFu), 1), 0);
    EXPECT_EQ(SERIALNUM(2), 0u);
    EXPECT_EQ(zvGETHGH(), 1);
    EXPECT_EQ(zvGetUserErrorCode(), 0);
}

TEST_F(FixrecTest, FailedHeaderWriteLeavesTheStackAsItWas) {
    // File mode 0x40 writes the header after every allocation and free.
    make(1, "wt.dat", 100, nullptr, 0x840);
    const uint64_t a = add(1, 'a');
    add(1, 'b');
    const FILEHDR base = fcb(1)->hdr.base;

    zv::fault_set(IoKind::Write, 1, EIO);
    EXPECT_EQ(retrec(1, a), 37);
    zv::fault_reset();
    EXPECT_EQ(fcb(1)->hdr.base.delstk, base.delstk);
    EXPECT_EQ(fcb(1)->hdr.base.nument, base.nument);
    char buf[100];
    ASSERT_EQ(redrec(1, a, buf), 0);
    EXPECT_EQ(buf[0], 'a');
    // The free can be made again: the failed one left no mark behind.
    EXPECT_EQ(retrec(1, a), 0);
    EXPECT_EQ(fcb(1)->hdr.base.delstk, a);

    const uint32_t sernum = fcb(1)->hdr.base.sernum;
    zv::fault_set(IoKind::Write, 1, EIO);
    EXPECT_EQ(NEWREC(1), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 37);
    zv::fault_reset();
    EXPECT_EQ(fcb(1)->hdr.base.delstk, a);
    EXPECT_EQ(datent(1), 1u);
    EXPECT_EQ(fcb(1)->hdr.base.sernum, sernum + 1);  // the serial number stays taken
    EXPECT_EQ(newrec(1), a);
    EXPECT_EQ(datent(1), 2u);

    zv::fault_set(IoKind::Write, 1, EIO);
    EXPECT_EQ(NEWREC(1), 0u);
    zv::fault_reset();
    EXPECT_EQ(fcb(1)->hdr.base.numrec, 399u);
    EXPECT_EQ(newrec(1), 400u);
}

TEST_F(FixrecTest, ReadOnlyFileRefusesChanges) {
    make(1, "ro.dat", 100);
    const uint64_t a = add(1, 'a');
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "ro.dat", 0x08), 0);
    char buf[100] = {};
    EXPECT_EQ(NEWREC(1), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 54);
    EXPECT_EQ(wrtrec(1, a, buf), 54);
    EXPECT_EQ(retrec(1, a), 54);
    EXPECT_EQ(redrec(1, a, buf), 0);
    EXPECT_EQ(buf[99], 'a');
}

TEST_F(FixrecTest, MemoryFileRecordsAreRemovedOnce) {
    XCREblk mem{};
    mem.mode = 0x80000000u;
    mem.maxsizelo = 1 << 16;
    make(1, "mem.dat", 100, &mem);
    const uint64_t a = add(1, 'a');
    const uint64_t b = add(1, 'b');
    EXPECT_NE(a, b);
    char buf[100];
    ASSERT_EQ(redrec(1, a, buf), 0);
    EXPECT_EQ(buf[99], 'a');
    EXPECT_EQ(datent(1), 2u);
    EXPECT_EQ(retrec(1, a), 0);
    EXPECT_EQ(datent(1), 1u);
    // The record is gone: a second free and a read find nothing there.
    EXPECT_EQ(retrec(1, a), 160);
    EXPECT_EQ(redrec(1, a, buf), 160);
    EXPECT_EQ(datent(1), 1u);
    // An allocation given back before its first write.
    const uint64_t c = newrec(1);
    EXPECT_EQ(retrec(1, c), 0);
    EXPECT_EQ(datent(1), 1u);
    ASSERT_EQ(redrec(1, b, buf), 0);
    EXPECT_EQ(buf[0], 'b');
}

// 10,000 writes and reads of records that share one cached page: no system
// call, no allocation, no pool element taken or given back, and the header
// is not written again.
TEST_F(FixrecTest, RecordsOfACachedPageCostNoCallAndNoAllocation) {
    make(1, "hot.dat", 100);
    uint64_t pos[8];
    for (int i = 0; i < 8; i++) pos[i] = add(1, char('a' + i));
    ASSERT_EQ(pos[7], 900u);  // all within the first 1024-byte page
    const uint32_t updcnt = fcb(1)->hdr.base.updcnt;
    char out[100], in[100];
    zv::fault_reset();
    const uint64_t allocs = zv::platform_alloc_count(), frees = zv::platform_free_count();
    int32_t free_elems[zv::kFreeLists];
    for (int l = 0; l < zv::kFreeLists; l++) free_elems[l] = g()->lists[l].free;
    for (int i = 0; i < 10000; i++) {
        memset(out, 'A' + i % 26, sizeof out);
        out[0] = char(i);
        const uint32_t p = uint32_t(pos[i % 8]);
        if (WRTREC(1, p, out) != 0 || REDREC(1, p, in) != 0 || memcmp(in, out, sizeof in) != 0) {
            ADD_FAILURE() << "pair " << i;
            break;
        }
    }
    EXPECT_EQ(calls_of_all_kinds(), 0);
    EXPECT_EQ(zv::platform_alloc_count(), allocs);
    EXPECT_EQ(zv::platform_free_count(), frees);
    for (int l = 0; l < zv::kFreeLists; l++) EXPECT_EQ(g()->lists[l].free, free_elems[l]) << l;
    EXPECT_EQ(fcb(1)->hdr.base.updcnt, updcnt);
}

// Slots read many at a time are what the record read gives slot by slot,
// also where the newest bytes are still in changed cached pages (16 pages
// of 1,024 bytes against a file of 30,000 record bytes); the bounds are
// those of the record read.
TEST_F(FixrecTest, SlotsReadAtOnceAreWhatRecordReadsGive) {
    make(1, "slots.dat", 100);
    std::vector<uint64_t> pos;
    for (int i = 0; i < 300; i++) pos.push_back(add(1, char('A' + i % 50)));
    for (int i = 0; i < 300; i += 7) {
        std::string rec(100, char('a' + i % 26));
        ASSERT_EQ(wrtrec(1, pos[size_t(i)], rec.data()), 0);
    }
    ASSERT_EQ(retrec(1, pos[5]), 0);
    ASSERT_TRUE(zv::slots_read_as_stored(fcb(1)));
    std::string all(300 * 100, '\0');
    uint32_t got = 0;
    ASSERT_EQ(zv::read_slots(fcb(1), pos[0], all.data(), 300, &got), 0);
    ASSERT_EQ(got, 300u);
    for (int i = 0; i < 300; i++) {
        std::string one(100, '\0');
        ASSERT_EQ(redrec(1, pos[size_t(i)], one.data()), 0);
        EXPECT_EQ(all.substr(size_t(i) * 100, 100), one) << "slot " << i;
    }
    char buf[300];
    struct Case {
        uint64_t at;
        uint32_t n;
        int want;
    };
    const Case cases[] = {
        {pos[297], 3, 0},      // the last three slots
        {pos[298], 3, 30},     // the last reaches past the last byte used
        {pos[299] + 100, 1, 30},
        {0, 1, 29},
        {100, 1, 29},          // inside the header
        {pos[3] + 1, 1, 767},  // no slot boundary
        {pos[3], 0, 33},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(zv::read_slots(fcb(1), c.at, buf, c.n, &got), c.want) << c.at << " x " << c.n;
        EXPECT_EQ(zvGetUserErrorCode(), c.want) << c.at << " x " << c.n;
    }
}

TEST(LockHash, UnsignedAndWithinTheTable) {
    zvtest::clear_instance_ring();
    ASSERT_EQ(REGZARVO("hash"), 0);
    struct Case {
        uint32_t a, b, size;
        int32_t want;
    };
    // (a + b) x 11737 + 3731 on 32 bits, then the remainder.
    const Case cases[] = {
        {0, 0, 1000, 731},                 // 3731
        {1, 2, 97, 45},                    // 38942 = 401 x 97 + 45
        {0xFFFFFFFFu, 0, 1000, 290},       // 4294959290, which is -8006 as a signed word
        {0x7FFFFFFFu, 1, 1000, 379},       // 2147487379, also above the signed range
        {0x80000000u, 0x80000000u, 7, 0},  // the sum wraps to 0: 3731 = 533 x 7
        {12345, 678, 0, 0},                // no table
    };
    for (const Case &c : cases) {
        zvWNGV->lockhashsize = c.size;
        EXPECT_EQ(zvuhash(c.a, c.b), c.want) << c.a;
    }
    zvtest::clear_instance_ring();
}

TEST_F(FixrecTest, LockAndQueueEntriesAnswerAsUnsupported) {
    auto with_error = [](int code) { zv::set_uerr(code); };
    struct Case {
        const char *name;
        int (*call)();
        int result;
        int uerr;  // -1: unchanged
    };
    const Case cases[] = {
        {"zvLOKTIMOUT", [] { return zvLOKTIMOUT(1, 2, 30); }, 454, 454},
        {"zvLOKDYN", [] { return zvLOKDYN(1, 1); }, 454, 454},
        {"zvLOKLST", [] { return zvLOKLST(1, nullptr, nullptr, 0); }, 454, 454},
        {"zvSysQueueWrite", [] { return zvSysQueueWrite(1, "m", 1); }, 454, -1},
        {"zvSysQueueLIFOWrite", [] { return zvSysQueueLIFOWrite(1, "m", 1); }, 454, -1},
        {"zvSysQueueRead", [] { return zvSysQueueRead(1, nullptr, 0, 0); }, 454, -1},
        {"zvSysQueueClose", [] { return zvSysQueueClose(1); }, 454, -1},
        {"zvNotify", [] { return zvNotify(144, 1, 1, nullptr, 0, 0); }, 454, -1},
        {"zvSysQueueOpen", [] { return zvSysQueueOpen("q", 0); }, -454, -1},
        {"zvSysQueueMlen", [] { return zvSysQueueMlen(1, 0); }, -454, -1},
        {"zvSysQueueCount", [] { return zvSysQueueCount(1); }, -454, -1},
        {"LOKREC", [] { return LOKREC(1, 21, 200); }, 0, 0},
        {"zvultbl81", [] { return zvultbl81(1, 0, 200, 1); }, 0, -1},
        {"zvuutbl81", [] { return zvuutbl81(1, 0, 200); }, 0, -1},
        {"zvtestfunc", [] { return zvtestfunc(); }, 0, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        with_error(7);
        EXPECT_EQ(c.call(), c.result);
        EXPECT_EQ(zvGetUserErrorCode(), c.uerr < 0 ? 7 : c.uerr);
    }
}

}  // namespace

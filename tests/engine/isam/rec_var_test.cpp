// Variable-length records: where a rewrite puts the record, partial
// rewrites, reads of the whole current record, lengths, and the refusals of
// the variable-length calls.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <string>

#include "engine/core/arith.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/fcb.h"
#include "engine/files/spaceidx.h"
#include "engine/files/varrec.h"
#include "engine/isam/fileset.h"
#include "engine/isam/isammap.h"
#include "tests/engine/isam/recfix.h"
#include "tests/support/child.h"

namespace {

using namespace rectest;
using zvtest::SetState;

std::string vrec(uint32_t number, const char *c, size_t tail, char fill = 't') {
    Cust r = cust(number, c);
    std::string s(reinterpret_cast<const char *>(&r), sizeof r);
    s.append(tail, fill);
    return s;
}

class RecVarTest : public RecTest {
protected:
    void SetUp() override {
        RecTest::SetUp();
        d_ = make(def_);
    }
    // Adds a record: its position.
    uint64_t vadd(const std::string &r) {
        EXPECT_EQ(ADDVREC(d_, const_cast<char *>(r.data()), int32_t(r.size())), 0);
        return curpos(d_);
    }
    // Makes the record of a number current; its bytes.
    std::string current(uint32_t number) {
        std::string b(2000, '\0');
        int32_t len = int32_t(b.size());
        EXPECT_EQ(EQLVREC(d_ + 1, num(number).data(), b.data(), &len), 0);
        b.resize(size_t(len));
        return b;
    }
    int rewrite(const std::string &r) { return RWTVREC(d_, const_cast<char *>(r.data()), int32_t(r.size())); }
    VRECHDR header(uint64_t pos) {
        VRECHDR h{};
        EXPECT_EQ(getvhdr81(zvWNGV->fcbtab[d_], uint32_t(pos >> 32), uint32_t(pos), &h), 0);
        return h;
    }
    CustDef def_{"vcust", true};
    int d_ = -1;
};

TEST_F(RecVarTest, WhereARewriteLeavesTheRecord) {
    const uint64_t a = vadd(vrec(1, "Bern", 100));
    const uint64_t b = vadd(vrec(2, "Bern", 100));
    const uint64_t c = vadd(vrec(3, "Oslo", 100));
    const uint64_t e = vadd(vrec(4, "Oslo", 100));
    const uint64_t last = vadd(vrec(5, "Rome", 100));
    // Shorter: in place.
    current(1);
    ASSERT_EQ(rewrite(vrec(1, "Bern", 10)), 0);
    EXPECT_EQ(curpos(d_), a);
    EXPECT_EQ(current(1), vrec(1, "Bern", 10));
    // Longer, the next area live: moved, and the old area is free.
    current(3);
    ASSERT_EQ(rewrite(vrec(3, "Oslo", 400)), 0);
    const uint64_t moved = curpos(d_);
    EXPECT_NE(moved, c);
    EXPECT_EQ(header(c).mark, kVrecFree);
    EXPECT_EQ(current(3), vrec(3, "Oslo", 400));
    // Longer, the last area of the file: it grows where it is.
    current(3);
    ASSERT_EQ(rewrite(vrec(3, "Oslo", 900)), 0);
    EXPECT_EQ(curpos(d_), moved);
    EXPECT_EQ(current(3), vrec(3, "Oslo", 900));
    EXPECT_GT(moved, last);
    // Longer, the next area free and large enough: the two are joined.
    // (The area of 3 before it moved follows 2.)
    current(2);
    ASSERT_EQ(rewrite(vrec(2, "Bern", 150)), 0);
    EXPECT_EQ(curpos(d_), b);
    EXPECT_GE(header(b).arealen, 10 + sizeof(Cust) + 150);
    EXPECT_EQ(current(2), vrec(2, "Bern", 150));
    // Longer, the next area free but the two too small: moved.
    current(4);
    ASSERT_EQ(DELVREC(d_), 0);
    current(2);
    ASSERT_EQ(rewrite(vrec(2, "Bern", 700)), 0);
    EXPECT_NE(curpos(d_), b);
    EXPECT_EQ(current(2), vrec(2, "Bern", 700));
    EXPECT_EQ(check(d_), "");
    EXPECT_EQ(IDXENT(d_ + 1), 4u);
    (void)e;
}

TEST_F(RecVarTest, TheOldAreaOfAMovedRecordIsReturnedLast) {
    vadd(vrec(1, "Bern", 50));
    const uint64_t b = vadd(vrec(2, "Bern", 50));
    vadd(vrec(3, "Oslo", 50));
    const VRECHDR before = header(b);
    FCB *f = zvWNGV->fcbtab[d_];
    const uint64_t freekeys = zv::space_keys(zv::space_index_of(f));
    current(2);
    ASSERT_EQ(rewrite(vrec(2, "Bern", 500)), 0);
    EXPECT_NE(curpos(d_), b);
    // The old area is free and listed once in the space index.
    VRECHDR after = header(b);
    EXPECT_EQ(after.mark, kVrecFree);
    EXPECT_EQ(after.arealen, before.arealen);
    EXPECT_EQ(zv::space_keys(zv::space_index_of(f)), freekeys + 1);
    EXPECT_EQ(zv::space_has(zv::space_index_of(f), f, after.arealen, b), 1);
    // The next add of a fitting record takes it again.
    EXPECT_EQ(vadd(vrec(9, "Zug", 40)), b);
    EXPECT_EQ(check(d_), "");
}

TEST_F(RecVarTest, PartialRewritesTouchOnlyTheKeysTheyCover) {
    vadd(vrec(1, "Bern", 30));
    vadd(vrec(2, "Oslo", 30));
    ASSERT_EQ(CLIFIL(&def_.ifil), 0);
    ASSERT_EQ(OPNIFIL(&def_.ifil), 0);
    d_ = def_.ifil.tfilno;
    const uint64_t p = (current(2), curpos(d_));
    // The first four bytes hold no key segment.
    char tag[4] = {'V', 'A', 'R', '!'};
    ASSERT_EQ(RWTPREC(d_, tag, 4), 0);
    EXPECT_EQ(GETFIL(d_ + 1, 25), 0) << "the number index is untouched";
    EXPECT_EQ(GETFIL(d_ + 2, 25), 0) << "the city index is untouched";
    std::string want = vrec(2, "Oslo", 30);
    memcpy(want.data(), tag, 4);
    EXPECT_EQ(current(2), want);
    EXPECT_EQ(curpos(d_), p);
    // Covering the number moves the entry of the number index only.
    std::string head = want.substr(0, 8);
    uint32_t n = 20;
    memcpy(head.data() + kNumberOff, &n, 4);
    ASSERT_EQ(RWTPREC(d_, head.data(), 8), 0);
    EXPECT_NE(GETFIL(d_ + 1, 25), 0);
    EXPECT_EQ(GETFIL(d_ + 2, 25), 0);
    std::string b(2000, '\0');
    int32_t len = int32_t(b.size());
    EXPECT_EQ(EQLVREC(d_ + 1, num(2).data(), b.data(), &len), 101);
    ASSERT_EQ(EQLVREC(d_ + 1, num(20).data(), b.data(), &len), 0);
    EXPECT_EQ(len, int32_t(want.size())) << "the length stays";
    EXPECT_EQ(check(d_), "");
    // A partial image of a fixed-length set, too.
    CustDef fixed("fixed");
    int f = make(fixed);
    add(f, cust(5, "Chur"));
    uint32_t six = 6;
    std::string fh(8, '\0');
    memcpy(fh.data(), "CUST", 4);
    memcpy(fh.data() + 4, &six, 4);
    ASSERT_EQ(RWTPREC(f, fh.data(), 8), 0);
    Cust r;
    ASSERT_EQ(EQLREC(f + 1, num(6).data(), &r), 0);
    EXPECT_STREQ(r.city, "Chur");
    EXPECT_EQ(check(f), "");
}

TEST_F(RecVarTest, WholeRecordReadsAndLengths) {
    const std::string r = vrec(7, "Bern", 300, 'q');
    vadd(r);
    // A read of the fixed part, then the whole record.
    Cust c;
    ASSERT_EQ(EQLREC(d_ + 1, num(7).data(), &c), 0);
    EXPECT_EQ(GETVLEN(d_), int32_t(r.size()));
    std::string whole(400, '#');
    ASSERT_EQ(REDVREC(d_, whole.data(), int32_t(whole.size())), 0);
    EXPECT_EQ(whole.substr(0, r.size()), r);
    // A short buffer gets the start of the record and nothing beyond.
    std::string part(200, '#');
    ASSERT_EQ(REDVREC(d_, part.data(), 100), 0);
    EXPECT_EQ(part.substr(0, 100), r.substr(0, 100));
    EXPECT_EQ(part.substr(100), std::string(100, '#'));
    // A keyed read into a short buffer is refused with the length needed.
    int32_t len = 100;
    EXPECT_EQ(EQLVREC(d_ + 1, num(7).data(), part.data(), &len), 153);
    EXPECT_EQ(len, int32_t(r.size()));
    // Length 0 asks the length: the record is current without key images,
    // so a rewrite is refused until it is read whole.
    len = 0;
    ASSERT_EQ(EQLVREC(d_ + 1, num(7).data(), part.data(), &len), 0);
    EXPECT_EQ(len, int32_t(r.size()));
    EXPECT_EQ(RWTVREC(d_, const_cast<char *>(r.data()), int32_t(r.size())), 794);
    EXPECT_EQ(DELVREC(d_), 794);
    ASSERT_EQ(REDVREC(d_, whole.data(), int32_t(whole.size())), 0);
    EXPECT_EQ(RWTVREC(d_, const_cast<char *>(r.data()), int32_t(r.size())), 0);
    // Physical order of a variable-length file: forward only.
    len = int32_t(whole.size());
    ASSERT_EQ(FRSVREC(d_, whole.data(), &len), 0);
    EXPECT_EQ(len, int32_t(r.size()));
    EXPECT_EQ(NXTVREC(d_, whole.data(), &len), 101);
    EXPECT_EQ(LSTVREC(d_, whole.data(), &len), 48);
    EXPECT_EQ(PRVREC(d_, whole.data()), 48);
    EXPECT_EQ(FRSVREC(d_, whole.data(), nullptr), 633);
    EXPECT_EQ(REDIVREC(d_, 0, whole.data(), nullptr), 633);
}

TEST_F(RecVarTest, RefusalsOfTheVariableLengthCalls) {
    vadd(vrec(1, "Bern", 30));
    std::string shortrec(40, 'x');
    struct Case {
        const char *what;
        int rc, want;
    };
    current(1);
    SetState before;
    ASSERT_EQ(check(d_, &before), "");
    std::string b(200, '\0');
    int32_t neg = -1;
    const Case cases[] = {
        {"add shorter than the fixed part", ADDVREC(d_, shortrec.data(), 40), 149},
        {"add of length 0", ADDVREC(d_, shortrec.data(), 0), 149},
        {"rewrite shorter than the fixed part", RWTVREC(d_, shortrec.data(), 40), 149},
        {"partial image longer than the record", RWTPREC(d_, b.data(), 200), 140},
        {"variable add on an index", ADDVREC(d_ + 1, b.data(), 100), 48},
        {"negative length", EQLVREC(d_ + 1, num(1).data(), b.data(), &neg), 634},
        {"no length pointer", EQLVREC(d_ + 1, num(1).data(), b.data(), nullptr), 633},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.rc, c.want);
    }
    SetState after;
    EXPECT_EQ(check(d_, &after), "");
    EXPECT_TRUE(after == before);
}

// A variable-format file that holds records of the fixed length only: the
// fixed-length calls take the variable-length path with the fixed length,
// and the variable-length calls refuse any other length.
TEST_F(RecVarTest, FixedOnlyVariableFileTakesTheFixedLengthCalls) {
    CustDef def("fixonly", true);
    XCREblk x[3] = {};
    for (XCREblk &b : x) b.mode = 0x02;
    x[0].flags = 0x400;
    ASSERT_EQ(CREIFILX8(&def.ifil, nullptr, nullptr, 0, nullptr, nullptr, x), 0);
    const int d = def.ifil.tfilno;
    ASSERT_EQ(GETFIL(d, 2), 2) << "variable format";
    ASSERT_NE(GETFIL(d, 34) & 0x400, 0);
    for (uint32_t n = 1; n <= 5; n++) add(d, cust(n, n % 2 ? "Bern" : "Oslo", "first"));
    // Rewrite and delete act on the current record, found by a fixed read.
    Cust c{};
    ASSERT_EQ(EQLREC(d + 1, num(3).data(), &c), 0);
    Cust moved = cust(3, "Riga", "second");
    EXPECT_EQ(RWTREC(d, &moved), 0);
    ASSERT_EQ(EQLREC(d + 1, num(4).data(), &c), 0);
    EXPECT_EQ(DELREC(d), 0);
    // Every record is stored at the fixed length.
    std::string b(200, '\0');
    int32_t len = int32_t(b.size());
    ASSERT_EQ(EQLVREC(d + 1, num(3).data(), b.data(), &len), 0);
    EXPECT_EQ(len, 64);
    EXPECT_EQ(b.substr(0, 64), std::string(reinterpret_cast<const char *>(&moved), 64));
    len = int32_t(b.size());
    EXPECT_EQ(EQLVREC(d + 1, num(4).data(), b.data(), &len), 101);
    EXPECT_EQ(numbers(d + 1, FRSREC, NXTREC), (std::vector<uint32_t>{1, 2, 3, 5}));
    SetState before;
    ASSERT_EQ(check(d, &before), "");
    std::string longer = vrec(9, "Kiel", 10), shorter = vrec(9, "Kiel", 0).substr(0, 40);
    struct Case {
        const char *what;
        int rc, want;
    };
    ASSERT_EQ(EQLREC(d + 1, num(5).data(), &c), 0);
    const Case cases[] = {
        {"variable add of another length", ADDVREC(d, longer.data(), int32_t(longer.size())), 945},
        {"variable add shorter than the fixed part", ADDVREC(d, shorter.data(), int32_t(shorter.size())), 149},
        {"variable rewrite of another length", RWTVREC(d, longer.data(), int32_t(longer.size())), 945},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        EXPECT_EQ(k.rc, k.want);
    }
    SetState after;
    EXPECT_EQ(check(d, &after), "");
    EXPECT_TRUE(after == before);
    // Any other variable-length file keeps refusing the fixed-length calls.
    Cust other = cust(7, "Lima");
    EXPECT_EQ(ADDREC(d_, &other), 48);
    EXPECT_EQ(CLIFIL(&def.ifil), 0);
}

}  // namespace

namespace {

// The customer set, variable-length, with a third index on the note: schema
// field 6, ten bytes right after the 64-byte fixed part, so that the fixed
// part of a record never holds its key. The set is made before its record
// schema is stored, as a set always is.
struct NotedSet {
    ISEG note[1] = {{6, 10, 12}};
    CustDef def;
    IIDX idx[3];
    explicit NotedSet(const char *name) : def(name, true) {
        idx[0] = def.idx[0];
        idx[1] = def.idx[1];
        idx[2] = IIDX{10, 0, 0, 0, 0, 1, note, "ByNote", "?_note.idx", nullptr, nullptr};
        def.ifil.iidxarr = idx;
        def.ifil.dnumidx = 3;
    }
};

// The customer schema with the note after it, stored as definition type
// `type`.
int put_noted_schema(int datno, int type) {
    const DATOBJ doda[7] = {
        {"tag", 0, ZV_ARRAY, 4, 0, 0},      {"number", 4, ZV_INT4U, 4, 0, 0}, {"city", 8, ZV_FSTRING, 20, 0, 0},
        {"name", 28, ZV_FSTRING, 24, 0, 0}, {"amount", 52, ZV_INT4U, 4, 0, 0}, {"pad", 56, ZV_ARRAY, 8, 0, 0},
        {"note", 64, ZV_FSTRING, 10, 0, 0},
    };
    return PUTDODAX(datno, doda, 7, type);
}

// A record schema stored into a variable-length file marks, under the
// instance option, the indexes whose segments read the variable part: a
// read of the fixed part through such an index leaves the key check to the
// read of the whole record. Without the mark the key formed from the fixed
// part alone never matches the one found (160). A schema stored as another
// definition type marks nothing; an open marks what the option would have.
TEST_F(RecTest, AStoredSchemaMarksSegmentsOnTheVariablePart) {
    struct Case {
        const char *name;
        bool option;
        int type;
        bool marked;
    } cases[] = {
        {"marked", true, 0, true},
        {"nooption", false, 0, false},
        {"othertype", true, 201, false},
    };
    const std::string note = "Lakeside!!";
    std::string rec = vrec(7, "Bern", 0) + note;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        NotedSet s(c.name);
        ASSERT_EQ(CREIFIL(&s.def.ifil), 0);
        int d = s.def.ifil.tfilno;
        zv::OptionBit option(&zvWNGV->fileopt[0], c.option ? kOpt1SchemaSegments : 0u);
        ASSERT_EQ(put_noted_schema(d, c.type), 0);
        EXPECT_EQ(zv::isam_entry(d + 3)->varpart, c.marked ? 1 : 0);
        ASSERT_EQ(ADDVREC(d, rec.data(), int32_t(rec.size())), 0);
        Cust fixed{};
        EXPECT_EQ(FRSREC(d + 3, &fixed), c.marked ? 0 : 160);
        if (c.marked) {
            EXPECT_EQ(fixed.number, 7u);
            std::string whole(200, '\0');
            ASSERT_EQ(REDVREC(d, whole.data(), int32_t(whole.size())), 0);
            EXPECT_EQ(whole.substr(0, rec.size()), rec);
        }
        ASSERT_EQ(CLIFIL(&s.def.ifil), 0);
    }
    // Opened again, the set without the option finds its note segment on
    // the variable part.
    NotedSet again("nooption");
    ASSERT_EQ(OPNIFIL(&again.def.ifil), 0);
    int d = again.def.ifil.tfilno;
    EXPECT_EQ(zv::isam_entry(d + 3)->varpart, 1);
    Cust fixed{};
    EXPECT_EQ(FRSREC(d + 3, &fixed), 0);
    EXPECT_EQ(fixed.number, 7u);
}

// A write-through set (mode 0x40) whose last record grows where it is,
// by less than the growth step, so that its area ends past the record:
// a process killed at any write of that rewrite or of the calls after
// it leaves a file that holds the whole area, and the repair finds the
// record in the version the process was told of (or the other one, had
// the rewrite not answered yet). An area whose end lies past the end of
// the file would be a partial record to the repair, and dropped.
TEST_F(RecTest, AKilledWriteThroughRewriteThatGrowsTheLastAreaLeavesTheRecord) {
    const std::string before = vrec(3, "Oslo", 100), after = vrec(3, "Oslo", 130);
    auto made = [] {
        CustDef def("wt", true, 0x40);
        ASSERT_EQ(CREIFIL(&def.ifil), 0);
        for (uint32_t n = 1; n <= 3; n++) {
            std::string r = vrec(n, "Oslo", 100);
            ASSERT_EQ(ADDVREC(def.ifil.tfilno, r.data(), int32_t(r.size())), 0);
        }
        ASSERT_EQ(CLIFIL(&def.ifil), 0);
    };
    // The child rewrites 3 and deletes 1; the file "acks" gets a byte when
    // the rewrite has answered 0, through a write of its own (not counted).
    auto run = [&](long kill_at) {
        return zvtest::run_in_child([&, kill_at] {
            zvtest::ChildResult r;
            CustDef def("wt", true, 0x40);
            if ((r.rc = INTISAMX(16, 30, 4, 32, kProfile)) != 0) return r;
            if ((r.rc = OPNIFIL(&def.ifil)) != 0) return r;
            const int d = def.ifil.tfilno;
            zv::fault_reset();
            if (kill_at) zv::fault_exit(zv::IoKind::Write, kill_at, 77);
            std::string b(2000, '\0'), w = after;
            int32_t len = int32_t(b.size());
            if ((r.rc = EQLVREC(d + 1, num(3).data(), b.data(), &len)) != 0) return r;
            if ((r.rc = RWTVREC(d, w.data(), int32_t(w.size()))) != 0) return r;
            const int ack = open("acks", O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (ack < 0 || write(ack, "r", 1) != 1) r.rc = -1;
            if (ack >= 0) close(ack);
            len = int32_t(b.size());
            if (r.rc == 0 && (r.rc = EQLVREC(d + 1, num(1).data(), b.data(), &len)) == 0) r.rc = DELVREC(d);
            r.extra = int(zv::io_calls(zv::IoKind::Write));
            return r;
        });
    };
    auto fresh = [&] {
        CLISAM();
        for (const char *f : {"wt.dat", "wt.idx", "wt.dat_city.idx", "acks"}) unlink(f);
        ASSERT_EQ(INTISAMX(16, 30, 4, 32, kProfile), 0);
        made();
    };
    fresh();
    const zvtest::ChildResult whole = run(0);
    ASSERT_TRUE(whole.ok);
    ASSERT_EQ(whole.rc, 0);
    for (long n = 1; n <= whole.extra; n++) {
        SCOPED_TRACE("killed at write " + std::to_string(n));
        fresh();
        EXPECT_FALSE(run(n).ok);
        const bool acked = zvtest::read_file("acks") == "r";
        CustDef def("wt", true, 0x40);
        int rc = OPNIFIL(&def.ifil);
        if (rc == 14) {
            def.ifil.tfilno = -1;
            ASSERT_EQ(RBLIFIL(&def.ifil), 0);
            def.ifil.tfilno = -1;
            rc = OPNIFIL(&def.ifil);
        }
        ASSERT_EQ(rc, 0);
        std::string b(2000, '\0');
        int32_t len = int32_t(b.size());
        ASSERT_EQ(EQLVREC(def.ifil.tfilno + 1, num(3).data(), b.data(), &len), 0) << "record 3 is there";
        b.resize(size_t(len));
        if (acked) EXPECT_EQ(b, after);
        else EXPECT_TRUE(b == before || b == after);
        EXPECT_EQ(check(def.ifil.tfilno), "");
        EXPECT_EQ(CLIFIL(&def.ifil), 0);
    }
}

}  // namespace

namespace {

// A write-through set (mode 0x40) whose record 2, spanning pages, is
// rewritten in place with a new length: shrunk so that a free tail is cut
// off behind it, shrunk within its area, grown within its area's slack,
// grown into the free area after it (record 3 deleted first). A process
// killed at any write of the rewrite leaves record 2 in its old version or
// its new one (the new one once the rewrite answered), never a mix of the
// two, and the other records as they were.
TEST_F(RecTest, AKilledWriteThroughRewriteInPlaceLeavesOneVersion) {
    struct Case {
        const char *what;
        size_t first, before, after;  // variable tails: as added, before and after the rewrite
        bool free_follower;           // record 3 deleted before the rewrite
    };
    const Case cases[] = {
        {"shrunk, a free tail cut off", 1500, 1500, 300, false},
        {"shrunk within its area", 1500, 1500, 1480, false},
        {"grown within its area", 1500, 1460, 1495, false},
        {"grown into the free area after it", 1500, 1500, 2600, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string before = vrec(2, "Oslo", c.before, 'o'), after = vrec(2, "Oslo", c.after, 'n');
        auto fresh = [&] {
            CLISAM();
            for (const char *f : {"ip.dat", "ip.idx", "ip.dat_city.idx", "acks"}) unlink(f);
            ASSERT_EQ(INTISAMX(16, 30, 4, 32, kProfile), 0);
            CustDef def("ip", true, 0x40);
            ASSERT_EQ(CREIFIL(&def.ifil), 0);
            const int d = def.ifil.tfilno;
            for (uint32_t n = 1; n <= 4; n++) {
                std::string r = vrec(n, "Oslo", c.first, 'o');
                ASSERT_EQ(ADDVREC(d, r.data(), int32_t(r.size())), 0);
            }
            std::string b(4000, '\0');
            int32_t len = int32_t(b.size());
            if (c.free_follower) {
                ASSERT_EQ(EQLVREC(d + 1, num(3).data(), b.data(), &len), 0);
                ASSERT_EQ(DELVREC(d), 0);
            }
            if (c.before != c.first) {
                len = int32_t(b.size());
                ASSERT_EQ(EQLVREC(d + 1, num(2).data(), b.data(), &len), 0);
                std::string r = before;
                ASSERT_EQ(RWTVREC(d, r.data(), int32_t(r.size())), 0);
            }
            ASSERT_EQ(CLIFIL(&def.ifil), 0);
        };
        // The child rewrites record 2; the file "acks" gets a byte once the
        // rewrite has answered 0, through a write of its own (not counted).
        auto run = [&](long kill_at) {
            return zvtest::run_in_child([&, kill_at] {
                zvtest::ChildResult r;
                CustDef def("ip", true, 0x40);
                if ((r.rc = INTISAMX(16, 30, 4, 32, kProfile)) != 0) return r;
                if ((r.rc = OPNIFIL(&def.ifil)) != 0) return r;
                const int d = def.ifil.tfilno;
                std::string b(4000, '\0'), w = after;
                int32_t len = int32_t(b.size());
                if ((r.rc = EQLVREC(d + 1, num(2).data(), b.data(), &len)) != 0) return r;
                zv::fault_reset();
                const long base = zv::io_calls(zv::IoKind::Write);
                if (kill_at) zv::fault_exit(zv::IoKind::Write, kill_at, 77);
                if ((r.rc = RWTVREC(d, w.data(), int32_t(w.size()))) != 0) return r;
                r.extra = int(zv::io_calls(zv::IoKind::Write) - base);
                const int ack = open("acks", O_WRONLY | O_CREAT | O_APPEND, 0644);
                if (ack < 0 || write(ack, "r", 1) != 1) r.rc = -1;
                if (ack >= 0) close(ack);
                return r;
            });
        };
        fresh();
        const zvtest::ChildResult whole = run(0);
        ASSERT_TRUE(whole.ok);
        ASSERT_EQ(whole.rc, 0);
        ASSERT_GT(whole.extra, 0);
        for (long n = 1; n <= whole.extra + 1; n++) {
            SCOPED_TRACE("killed at write " + std::to_string(n));
            fresh();
            run(n);
            const bool acked = zvtest::read_file("acks") == "r";
            CustDef def("ip", true, 0x40);
            int rc = OPNIFIL(&def.ifil);
            if (rc == 14) {
                def.ifil.tfilno = -1;
                ASSERT_EQ(RBLIFIL(&def.ifil), 0);
                def.ifil.tfilno = -1;
                rc = OPNIFIL(&def.ifil);
            }
            ASSERT_EQ(rc, 0);
            const int d = def.ifil.tfilno;
            for (uint32_t k = 1; k <= 4; k++) {
                std::string b(4000, '\0');
                int32_t len = int32_t(b.size());
                const int found = EQLVREC(d + 1, num(k).data(), b.data(), &len);
                if (k == 3 && c.free_follower) {
                    EXPECT_NE(found, 0) << "record 3 was deleted";
                    continue;
                }
                ASSERT_EQ(found, 0) << "record " << k;
                b.resize(size_t(len));
                if (k != 2) {
                    EXPECT_EQ(b, vrec(k, "Oslo", c.first, 'o')) << "record " << k;
                } else if (acked) {
                    EXPECT_EQ(b, after);
                } else {
                    EXPECT_TRUE(b == before || b == after)
                        << "record 2 torn: " << b.size() << " bytes, last " << b.back();
                }
            }
            EXPECT_EQ(check(d), "");
            EXPECT_EQ(CLIFIL(&def.ifil), 0);
        }
    }
}

}  // namespace

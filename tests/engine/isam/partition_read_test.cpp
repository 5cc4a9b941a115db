// Partitioned files: the host's current record and the reads across its
// members, in physical order and by the partition index.
#include <cstring>

#include "engine/core/filenum.h"
#include "engine/core/fcb.h"
#include "engine/index/navstate.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isamrec.h"
#include "engine/isam/partition.h"
#include "tests/engine/isam/partfix.h"

namespace {

using namespace parttest;

class PartReadTest : public PartTest {
protected:
    // A host of the Region rule holding sales 31, 32 in member 3, 41 in
    // member 4 (archived) and 51, 52 in member 5; member 4 was added in
    // between so that the physical order is not the number order.
    int regions(SalesDef &def) {
        int d = make_regions(def);
        for (auto [n, region] : {std::pair{52, 5}, {31, 3}, {41, 4}, {51, 5}, {32, 3}}) {
            Sale s = sale(uint32_t(n), 0, region, n % 2 ? "odd" : "even");
            EXPECT_EQ(ADDREC(d, &s), 0) << n;
        }
        archive(d, 4);
        return d;
    }
    // Puts a member out of use as an archived one.
    static void archive(int d, int32_t raw) {
        PARTDEF *pd = zv::fcb_at(d)->partdef;
        PARTMBR *m = zv::member_entry(pd, raw);
        ASSERT_NE(m, nullptr);
        if (m->state == zv::kMbrOpen) {
            ASSERT_EQ(CLRFIL(m->filno), 0);
        }
        m->state = zv::kMbrArchived;
        pd->ptlow = pd->pthigh = -1;
    }
};

TEST_F(PartReadTest, FirstNextAndLastAcrossMembers) {
    SalesDef def("sales", Rule::Region);
    int d = regions(def);
    // Physical order: member by member, each in its own order.
    EXPECT_EQ(numbers(d, FRSREC, NXTREC), (std::vector<uint32_t>{31, 32, 52, 51}));
    Sale s;
    EXPECT_EQ(LSTREC(d, &s), 48);
    EXPECT_EQ(PRVREC(d, &s), 48);
    // The partition index ascends and descends across members.
    EXPECT_EQ(numbers(d + 1, FRSREC, NXTREC), (std::vector<uint32_t>{31, 32, 52, 51}));
    EXPECT_EQ(numbers(d + 1, LSTREC, PRVREC), (std::vector<uint32_t>{51, 52, 32, 31}));
    // Past the end the current record stays.
    ASSERT_EQ(LSTREC(d + 1, &s), 0);
    const uint64_t at = curpos(d);
    EXPECT_EQ(NXTREC(d + 1, &s), 101);
    EXPECT_EQ(curpos(d), at);
    ASSERT_EQ(RRDREC(d, &s), 0);
    EXPECT_EQ(s.number, 51u);
    EXPECT_EQ(NXTREC(d, &s), 101);
    EXPECT_EQ(curpos(d), at);
}

TEST_F(PartReadTest, NoCurrentRecordAndNoMembers) {
    SalesDef def("sales", Rule::Region);
    int d = regions(def);
    ASSERT_EQ(CLIFIL(&def.ifil), 0);
    d = OPNRFIL(-1, "sales.dat", 0);
    ASSERT_GE(d, 0);
    Sale s;
    EXPECT_EQ(NXTREC(d, &s), 100);
    EXPECT_EQ(PRVREC(d + 1, &s), 100);
    EXPECT_EQ(RRDREC(d, &s), 100);
    EXPECT_EQ(DELREC(d), 100);
    SalesDef empty("empty", Rule::Date);
    int e = make(empty);
    EXPECT_EQ(FRSREC(e, &s), 101);
    EXPECT_EQ(FRSREC(e + 1, &s), 101);
    EXPECT_EQ(LSTREC(e + 1, &s), 101);
}

// GETCURP gives the member's position with the raw number in its high
// word; REDIREC and RRDREC read that record back, on a host with 8-byte
// offsets and on one with 4-byte offsets.
TEST_F(PartReadTest, HostPositionsReadBack) {
    for (bool wide : {true, false}) {
        SCOPED_TRACE(wide ? "8-byte offsets" : "4-byte offsets");
        SalesDef def(wide ? "wide" : "narrow", Rule::Region, wide);
        int d = regions(def);
        Sale s;
        ASSERT_EQ(FRSREC(d + 1, &s), 0);
        ASSERT_EQ(NXTREC(d + 1, &s), 0);
        ASSERT_EQ(s.number, 32u);
        const uint64_t pos = curpos(d);
        const FCB *host = zv::fcb_at(d);
        const int m = zv::member_entry(host->partdef, 3)->filno;
        const FCB *mf = zv::fcb_at(m);
        EXPECT_EQ(pos >> 32, uint64_t(3u << 16 | mf->isamposh));
        EXPECT_EQ(uint32_t(pos), mf->isamposl);
        ASSERT_EQ(FRSREC(d, &s), 0);
        ASSERT_EQ(s.number, 31u);
        Sale r;
        zvSETHGH(int32_t(pos >> 32));
        ASSERT_EQ(REDIREC(d, uint32_t(pos), &r), 0);
        EXPECT_EQ(r.number, 32u);
        EXPECT_EQ(curpos(d), pos);
        // The file layer's read of a host position finds the member by the
        // high word whatever the host's offsets.
        memset(&r, 0, sizeof r);
        zvSETHGH(int32_t(pos >> 32));
        ASSERT_EQ(REDREC(d, uint32_t(pos), &r), 0);
        EXPECT_EQ(r.number, 32u);
        ASSERT_EQ(FRSREC(d, &s), 0);
        zvSETHGH(int32_t(pos >> 32));
        ASSERT_EQ(SETCURI(d, uint32_t(pos), &r, sizeof r), 0);
        ASSERT_EQ(RRDREC(d, &s), 0);
        EXPECT_EQ(s.number, 32u);
        // A position without a raw number, or of a member that does not
        // exist, names no record.
        zvSETHGH(0);
        EXPECT_EQ(REDIREC(d, uint32_t(pos), &r), 724);
        zvSETHGH(int32_t(9u << 16));
        EXPECT_EQ(REDIREC(d, uint32_t(pos), &r), 724);
        EXPECT_EQ(curpos(d), pos);
    }
}

TEST_F(PartReadTest, AVariableLengthHostGivesEachMemberTheCallersLength) {
    SalesDef def("vsales", Rule::Region, true, true, true);
    int d = make_regions(def);
    std::string a(100, 'a'), b(300, 'b');
    Sale s3 = sale(31, 0, 3), s5 = sale(51, 0, 5);
    memcpy(a.data(), &s3, sizeof s3);
    memcpy(b.data(), &s5, sizeof s5);
    ASSERT_EQ(ADDVREC(d, a.data(), int32_t(a.size())), 0);
    ASSERT_EQ(ADDVREC(d, b.data(), int32_t(b.size())), 0);
    // Member 3 has no record left: the read passes on to member 5.
    std::string buf(400, '\0');
    int32_t len = int32_t(buf.size());
    ASSERT_EQ(FRSVREC(d + 1, buf.data(), &len), 0);
    ASSERT_EQ(DELVREC(d), 0);
    len = int32_t(buf.size());
    ASSERT_EQ(FRSVREC(d, buf.data(), &len), 0);
    EXPECT_EQ(len, 300);
    EXPECT_EQ(buf.substr(0, 300), b);
    EXPECT_EQ(GETVLEN(d), 300);
    std::string whole(300, '\0');
    ASSERT_EQ(REDVREC(d, whole.data(), int32_t(whole.size())), 0);
    EXPECT_EQ(whole, b);
    len = int32_t(buf.size());
    EXPECT_EQ(NXTVREC(d, buf.data(), &len), 101);
}

// The keyed reads of an index of the host read the record in its member.
TEST_F(PartReadTest, AnEntryOfTheHostIndexReadsItsMember) {
    SalesDef def("sales", Rule::Region);
    int d = regions(def);
    Sale s;
    ASSERT_EQ(FRSREC(d + 1, &s), 0);
    ASSERT_EQ(NXTREC(d + 1, &s), 0);
    const uint64_t pos = curpos(d);
    ASSERT_EQ(FRSREC(d, &s), 0);
    // The index layer hands the ISAM layer a host position and the key it
    // found: the record is read in its member and becomes the host's.
    Sale want = sale(32, 0, 3, "even");
    const FCB *m3 = zv::fcb_at(entry(d, 3)->filno);
    zvSETHGH(int32_t(m3->isamposh));
    ASSERT_GT(frmkey(d + 1, &want, nav_state(zvWNGV).foundkey, uint32_t(pos), sizeof want), 0);
    Sale r;
    EXPECT_EQ(zv::reset_cur2(d + 1, uint32_t(pos >> 32), uint32_t(pos), &r, nullptr), 0);
    EXPECT_EQ(r.number, 32u);
    EXPECT_EQ(curpos(d), pos);
    // The global unique index finds the member; the name index reads
    // across the members.
    uint32_t key = 51;
    ASSERT_EQ(EQLREC(d + 3, &key, &r), 0);
    EXPECT_EQ(r.number, 51u);
    // "even" of 52 (the first record of member 5) sorts before "even" of
    // 32 (the second of member 3): a name key ends in the member position.
    ASSERT_EQ(FRSREC(d + 2, &r), 0);
    EXPECT_EQ(r.number, 52u);
}

// Saved contexts of a host keep its current record with its member.
TEST_F(PartReadTest, ContextsKeepTheHostsCurrentRecord) {
    SalesDef def("sales", Rule::Region);
    int d = regions(def);
    Sale s;
    ASSERT_EQ(FRSREC(d + 1, &s), 0);
    const int a = OPNICON(d, -1, -1);
    ASSERT_GE(a, 0);
    ASSERT_EQ(LSTREC(d + 1, &s), 0);
    const int b = OPNICON(d, -1, -1);
    ASSERT_GE(b, 0);
    ASSERT_EQ(FRSREC(d + 1, &s), 0);
    ASSERT_EQ(CHGICON(a), 0);
    ASSERT_EQ(RRDREC(d, &s), 0);
    EXPECT_EQ(s.number, 51u);
    EXPECT_EQ(NXTREC(d + 1, &s), 101);
    ASSERT_EQ(PRVREC(d + 1, &s), 0);
    EXPECT_EQ(s.number, 52u);
    ASSERT_EQ(CHGICON(b), 0);
    ASSERT_EQ(NXTREC(d + 1, &s), 0);
    EXPECT_EQ(s.number, 32u);
    EXPECT_EQ(CLSICON(a), 0);
    EXPECT_EQ(CLSICON(b), 0);
}

}  // namespace

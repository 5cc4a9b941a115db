// Partitioned files: counts, estimates, distinct counts and the key at a
// fraction of a host, answered from its members.
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/isam/isamstate.h"
#include "engine/isam/partition.h"
#include "tests/engine/isam/partfix.h"

namespace {

using namespace parttest;

class PartCountTest : public PartTest {
protected:
    // A Region host with `per(r)` sales in member r for r = 1 .. members,
    // each with its own name; closed and opened again, so that no member
    // is open.
    int filled(SalesDef &def, int members, int (*per)(int)) {
        int d = make_regions(def);
        uint32_t n = 1;
        for (int r = 1; r <= members; r++) {
            for (int i = 0; i < per(r); i++, n++) {
                char name[20];
                snprintf(name, sizeof name, "n%05u", n * 7919 % 100000);
                EXPECT_EQ(add(d, sale(n, 0, r, name)), 0);
            }
        }
        return reopen(def);
    }
    static int reopen(SalesDef &def) {
        EXPECT_EQ(CLIFIL(&def.ifil), 0);
        EXPECT_EQ(OPNIFILX(&def.ifil, nullptr, nullptr, nullptr), 0);
        return def.ifil.tfilno;
    }
    // Members of host d open now.
    static int open_members(int d) {
        PARTDEF *pd = zv::fcb_at(d)->partdef;
        int n = 0;
        for (int32_t i = 0; i < pd->ptcur; i++) n += pd->ptmbr[i].state == zv::kMbrOpen ? 1 : 0;
        return n;
    }
    static void sampling(int32_t s, int32_t p) {
        isam_state(zvWNGV).partsample = s;
        isam_state(zvWNGV).partpercent = p;
    }
    // Puts member raw out of use as archived (closing it first).
    static void archive(int d, int32_t raw) {
        PARTDEF *pd = zv::fcb_at(d)->partdef;
        PARTMBR *m = zv::member_entry(pd, raw);
        if (m->state == zv::kMbrOpen) {
            ASSERT_EQ(CLRFIL(m->filno), 0);
        }
        m->state = zv::kMbrArchived;
        pd->ptlow = pd->pthigh = -1;
    }
    static uint64_t wide(uint32_t lo) { return uint64_t(uint32_t(zvGETHGH())) << 32 | lo; }
};

int tens(int r) { return 10 * r; }
int hundred(int) { return 100; }

TEST_F(PartCountTest, RecordAndEntryCountsAddTheActiveMembers) {
    SalesDef def("sales", Rule::Region);
    const int d = filled(def, 3, tens);
    EXPECT_EQ(wide(DATENT(d)), 60u);
    for (int ix : {d + 1, d + 2, d + 3}) EXPECT_EQ(wide(IDXENT(ix)), 60u) << ix;
    EXPECT_EQ(zvWNGV->uerr_cod, 0);
    archive(d, 2);
    EXPECT_EQ(wide(DATENT(d)), 40u);
    EXPECT_EQ(wide(IDXENT(d + 2)), 40u);
    // Distinct names are counted member by member too.
    EXPECT_EQ(wide(zvDISTINCTset(d + 2, 4)), 40u);
    EXPECT_EQ(zvWNGV->uerr_cod, 0);
}

TEST_F(PartCountTest, EnhancedCountsAnswerWithoutOpeningAMember) {
    SalesDef def("sales", Rule::Region);
    int d = make_regions(def);
    ASSERT_EQ(PUTHDR(d, 1, 67), 0);
    for (uint32_t n = 1; n <= 30; n++) ASSERT_EQ(add(d, sale(n, 0, int32_t(n % 3 + 1))), 0);
    d = reopen(def);
    FCB *u = zv::fcb_at(d + 3);
    ASSERT_TRUE(u->hdr.base.hdrflags2 & 0x20000);
    EXPECT_EQ(wide(IDXENT(d + 3)), 30u);
    EXPECT_EQ(open_members(d), 0);
    // Keys of purged and archived members are not counted, and the count
    // does not go below 0.
    u->hdr.ext.wide64[0] = 4;
    u->hdr.ext.wide64[1] = 6;
    EXPECT_EQ(wide(IDXENT(d + 3)), 20u);
    u->hdr.ext.wide64[1] = 100;
    EXPECT_EQ(wide(IDXENT(d + 3)), 0u);
    EXPECT_EQ(open_members(d), 0);
    u->hdr.ext.wide64[0] = u->hdr.ext.wide64[1] = 0;
}

// Ten members of 10, 20, ... 100 names: an estimate over all names reads
// the first and last members and scales the sample between.
TEST_F(PartCountTest, EstimatesSampleTheMembersBetween) {
    SalesDef def("sales", Rule::Region);
    const int d = filled(def, 10, tens);
    struct Case {
        int32_t s, p;
        uint64_t want;
        int opened;
    } cases[] = {
        {3, 0, 10 + 20 * 8 + 100, 3},                        // one member between, times 8
        {1, 0, 10 + 20 * 8 + 100, 3},                        // below 3 counts as 3
        {-1, 0, 550, 10},                                    // every member
        {5, 0, 10 + (20 + 30 + 40) * 8 / 3 + 100, 5},        // three between
        {0, 50, 10 + (20 + 30 + 40) * 8 / 3 + 100, 5},       // half of 10 members
        {4, 50, 10 + (20 + 30) * 8 / 2 + 100, 4},            // the percentage cut to S
        {20, 0, 550, 10},                                    // more than there are
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "S=" << c.s << " P=" << c.p);
        const int h = reopen(def);
        sampling(c.s, c.p);
        EXPECT_EQ(wide(ESTKEY(h + 2, nullptr, nullptr)), c.want);
        EXPECT_EQ(zvWNGV->uerr_cod, 0);
        EXPECT_EQ(open_members(h), c.opened);
    }
    (void)d;
}

TEST_F(PartCountTest, PartitionIndexRangesStayInTheirMembers) {
    SalesDef def("sales", Rule::Region);
    const int d = filled(def, 10, hundred);
    sampling(-1, 0);
    // Two keys in member 5: that member's own estimate.
    const int m5 = zv::pfilno(d, 5, false);
    ASSERT_GE(m5, 0);
    unsigned char k1[12], k2[12];
    ASSERT_NE(FRSKEY(m5 + 1, k1) | uint32_t(zvGETHGH()), 0u);
    ASSERT_NE(LSTKEY(m5 + 1, k2) | uint32_t(zvGETHGH()), 0u);
    const uint64_t own = wide(ESTKEY(m5 + 1, k1, k2));
    ASSERT_GT(own, 50u);
    EXPECT_EQ(wide(ESTKEY(d + 1, k1, k2)), own);
    EXPECT_EQ(wide(ESTKEY(d + 1, k2, k1)), own);
    // From member 5's first key on: member 5 from the key, all of the five
    // above; up to its last key: the four below and all of member 5.
    const uint64_t from = wide(ESTKEY(m5 + 1, k1, nullptr));
    EXPECT_EQ(wide(ESTKEY(d + 1, k1, nullptr)), from + 500);
    EXPECT_EQ(wide(RNGENT(d + 1, nullptr, k2)), 500u);
    // Sampled: member 5, one of the four between (all entries), member 10.
    sampling(3, 0);
    EXPECT_EQ(wide(ESTKEY(d + 1, k1, nullptr)), from + 500);
    EXPECT_EQ(zvWNGV->uerr_cod, 0);
}

TEST_F(PartCountTest, KeyAtAFraction) {
    SalesDef def("sales", Rule::Region);
    const int d = filled(def, 2, hundred);
    // On the partition index, 75 % of 200 is member 2 at its own 50 %.
    unsigned char host[12] = {}, own[12] = {};
    const uint32_t lo = FRCKEY(d + 1, host, 75);
    const uint32_t hi = uint32_t(zvGETHGH());
    EXPECT_EQ(zvWNGV->uerr_cod, 0);
    const int m2 = zv::pfilno(d, 2, false);
    const uint32_t mlo = FRCKEY(m2 + 1, own, 50);
    const uint32_t mhi = uint32_t(zvGETHGH());
    EXPECT_EQ(lo, mlo);
    EXPECT_EQ(hi, mhi | 2u << zv::fcb_at(d)->partdef->ptshift);
    EXPECT_EQ(memcmp(host, own, sizeof host), 0);
    // On the name index the members' keys at the fraction are merged in
    // key order: at 0 the lowest first key, at 50 one of the members' own.
    const int m1 = zv::pfilno(d, 1, false);
    unsigned char name[28] = {}, a[28] = {}, b[28] = {};
    FRCKEY(d + 2, name, 0);
    EXPECT_EQ(zvWNGV->uerr_cod, 0);
    FRSKEY(m1 + 2, a);
    FRSKEY(m2 + 2, b);
    EXPECT_EQ(memcmp(name, memcmp(a, b, 28) < 0 ? a : b, 28), 0);
    FRCKEY(d + 2, name, 50);
    FRCKEY(m1 + 2, a, 50);
    FRCKEY(m2 + 2, b, 50);
    EXPECT_TRUE(memcmp(name, a, 28) == 0 || memcmp(name, b, 28) == 0);
}

TEST_F(PartCountTest, AnEstimateOverManyMembersOpensThree) {
    CLISAM();
    ASSERT_EQ(INTISAMX(16, 800, 4, 32, 32), 0);
    SalesDef def("many", Rule::Region);
    const int d = filled(def, 200, [](int) { return 1; });
    sampling(3, 0);
    EXPECT_EQ(wide(ESTKEY(d + 2, nullptr, nullptr)), 200u);
    EXPECT_LE(open_members(d), 3);
}

}  // namespace

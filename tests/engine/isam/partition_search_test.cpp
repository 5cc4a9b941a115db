// Partitioned files: key searches across members, exact and ordered, on
// indexes in member order and on indexes whose keys lie in any member.
#include <algorithm>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/index/nodebuf.h"
#include "engine/isam/isamstate.h"
#include "engine/isam/partition.h"
#include "tests/engine/isam/partfix.h"

namespace {

using namespace parttest;

// The sales set of the Region rule with U unique in each member only, and
// a fourth index B on (number, region): it holds the partition key away
// from its lead.
struct SearchDef : SalesDef {
    ISEG sb[2] = {{16, 4, 1}, {1, 4, 12}};
    IIDX all[4] = {};
    XCREblk blocks[4] = {};
    explicit SearchDef(const char *name) : SalesDef(name, Rule::Region, true, false) {
        for (int k = 0; k < 3; k++) all[k] = idx[k];
        all[3] = IIDX{8, 0, 0, 0, 0, 2, sb, "ByNumberRegion", "*s_b.idx", nullptr, nullptr};
        ifil.iidxarr = all;
        ifil.dnumidx = 4;
        for (int i = 0; i < 3; i++) blocks[i] = x[i];
        blocks[3] = x[2];
    }
};

using Hit = std::pair<uint32_t, int32_t>;   // sale number, region

// A target of the partition index: the region and the position suffix.
struct RegionKey {
    int32_t region;
    unsigned char suffix[8];
};

class PartSearchTest : public PartTest {
protected:
    int make_search(SearchDef &def) {
        EXPECT_EQ(CREIFILX8(&def.ifil, nullptr, nullptr, 0, nullptr, nullptr, def.blocks), 0);
        const int d = def.ifil.tfilno;
        const DATOBJ doda[7] = {{"Tag", 0, ZV_ARRAY, 4, 0, 0},       {"Region", 4, ZV_INT4, 4, 0, 0},
                                {"Day", 8, ZV_DFLOAT, 8, 0, 0},      {"Number", 16, ZV_INT4U, 4, 0, 0},
                                {"Name", 20, ZV_FSTRING, 20, 0, 0},  {"Amount", 40, ZV_INT4U, 4, 0, 0},
                                {"Pad", 44, ZV_ARRAY, 20, 0, 0}};
        EXPECT_EQ(PUTDODA(d, doda, 7), 0);
        EXPECT_EQ(zv::zvpr_replace_rule(zv::fcb_at(d), d, "Region"), 0);
        return d;
    }
    // Sales of random numbers (0 .. 39, unique in each member) in members
    // 1, 2 and 3: the (number, region) pairs in ascending key order.
    std::vector<Hit> random_sales(int d) {
        std::vector<Hit> all;
        uint32_t seed = 12345;
        for (int32_t r = 1; r <= 3; r++) {
            std::set<uint32_t> used;
            while (used.size() < 25) {
                seed = seed * 1103515245u + 12345u;
                used.insert((seed >> 16) % 40);
            }
            // Added in a scattered order, so that positions do not follow keys.
            std::vector<uint32_t> order(used.begin(), used.end());
            std::reverse(order.begin() + 5, order.end());
            for (uint32_t n : order) {
                EXPECT_EQ(add(d, sale(n, 0, r)), 0);
                all.emplace_back(n, r);
            }
        }
        std::sort(all.begin(), all.end());
        return all;
    }
    // Key-level walk of U: (number, region) of each key, through the
    // record at its position.
    static std::vector<Hit> key_walk(int d, bool up) {
        std::vector<Hit> out;
        unsigned char key[4];
        uint32_t lo = up ? FRSKEY(d + 3, key) : LSTKEY(d + 3, key);
        uint32_t hi = uint32_t(zvGETHGH());
        while ((lo || hi) && out.size() < 200) {
            Sale s;
            zvSETHGH(int32_t(hi));
            EXPECT_EQ(REDIREC(d, lo, &s), 0);
            const uint32_t n = uint32_t(key[0]) << 24 | uint32_t(key[1]) << 16 | uint32_t(key[2]) << 8 | key[3];
            EXPECT_EQ(n, s.number);
            out.emplace_back(s.number, s.region);
            lo = up ? NXTKEY(d + 3, key) : PRVKEY(d + 3, key);
            hi = uint32_t(zvGETHGH());
        }
        EXPECT_EQ(zvWNGV->uerr_cod, 0);
        return out;
    }
    static std::vector<Hit> record_walk(int d, int ix, bool up) {
        std::vector<Hit> out;
        Sale s;
        int rc = up ? FRSREC(ix, &s) : LSTREC(ix, &s);
        while (rc == 0 && out.size() < 200) {
            out.emplace_back(s.number, s.region);
            rc = up ? NXTREC(ix, &s) : PRVREC(ix, &s);
        }
        EXPECT_EQ(rc, 101);
        (void)d;
        return out;
    }
    static void purge(int d, int32_t raw) {
        PARTDEF *pd = zv::fcb_at(d)->partdef;
        PARTMBR *m = zv::member_entry(pd, raw);
        if (m->state == zv::kMbrOpen) {
            ASSERT_EQ(CLRFIL(m->filno), 0);
        }
        m->state = zv::kMbrPurged;
        pd->ptlow = pd->pthigh = -1;
    }
};

TEST_F(PartSearchTest, ExactSearchesNeedTheMemberOfTheKey) {
    SearchDef def("sales");
    const int d = make_search(def);
    for (auto [n, r] : {std::pair{31u, 3}, {51u, 5}, {52u, 5}, {71u, 7}}) ASSERT_EQ(add(d, sale(n, 0, r)), 0);
    Sale s;
    // The partition index: the member by the rule.
    RegionKey region = {5, {}};
    ASSERT_EQ(GTEREC(d + 1, &region, &s), 0);
    EXPECT_EQ(s.number, 51u);
    // B holds the region after the number: its key map gives the member.
    struct {
        uint32_t number;
        int32_t region;
    } nb = {52, 5};
    ASSERT_EQ(EQLREC(d + 4, &nb, &s), 0);
    EXPECT_EQ(s.number, 52u);
    nb = {52, 7};
    EXPECT_EQ(EQLREC(d + 4, &nb, &s), 101);
    nb = {71, 6};   // a member that does not exist
    EXPECT_EQ(EQLREC(d + 4, &nb, &s), 101);
    // U is unique only in each member: no exact search across members.
    uint32_t number = 71;
    EXPECT_EQ(EQLREC(d + 3, &number, &s), 454);
    EXPECT_EQ(EQLKEY(d + 3, &number), 0u);
    EXPECT_EQ(zvWNGV->uerr_cod, 454);
}

TEST_F(PartSearchTest, AGlobalUniqueIndexNamesTheMember) {
    SalesDef def("sales", Rule::Region);
    const int d = make_regions(def);
    for (auto [n, r] : {std::pair{31u, 3}, {51u, 5}}) ASSERT_EQ(add(d, sale(n, 0, r)), 0);
    Sale s;
    uint32_t number = 51;
    ASSERT_EQ(EQLREC(d + 3, &number, &s), 0);
    EXPECT_EQ(s.number, 51u);
    EXPECT_EQ(s.region, 5);
    number = 41;
    EXPECT_EQ(EQLREC(d + 3, &number, &s), 101);
    // Through the function numbers: EQLKEY (key form) and IDXENT.
    const unsigned char key[4] = {0, 0, 0, 51};
    int32_t pos = 0, len = 0;
    ASSERT_EQ(zarvo(0x029B, int16_t(d + 3), nullptr, &pos, const_cast<unsigned char *>(key), &len, 0), 0);
    EXPECT_EQ(uint32_t(zvGETHGH()) >> zv::fcb_at(d)->partdef->ptshift, 5u);
    EXPECT_NE(pos, 0);
    ASSERT_EQ(zarvo(0x02A1, int16_t(d + 2), nullptr, &pos, nullptr, &len, 0), 0);
    EXPECT_EQ(pos, 2);
}

TEST_F(PartSearchTest, EqualKeysOfLaterMembersComeNext) {
    SearchDef def("sales");
    const int d = make_search(def);
    for (auto [n, r] : {std::pair{7u, 5}, {7u, 3}, {9u, 3}, {8u, 5}}) ASSERT_EQ(add(d, sale(n, 0, r)), 0);
    Sale s;
    uint32_t number = 7;
    ASSERT_EQ(GTEREC(d + 3, &number, &s), 0);
    EXPECT_EQ(s.region, 3);
    // Greater than the record of member 3: the equal key of member 5.
    unsigned char key[4], found[4];
    memcpy(key, zv::fcb_at(d + 3)->keybufs->work, 4);
    const uint32_t lo = GTKEY(d + 3, key, found);
    const uint32_t hi = uint32_t(zvGETHGH());
    EXPECT_EQ(hi >> zv::fcb_at(d)->partdef->ptshift, 5u);
    EXPECT_NE(lo | hi, 0u);
    EXPECT_EQ(memcmp(found, key, 4), 0);
    // The records in key order from there.
    ASSERT_EQ(GTEREC(d + 3, &number, &s), 0);
    std::vector<Hit> got;
    while (NXTREC(d + 3, &s) == 0) got.emplace_back(s.number, s.region);
    EXPECT_EQ(got, (std::vector<Hit>{{7, 5}, {8, 5}, {9, 3}}));
    // On the partition index a target below the lowest member starts there.
    RegionKey region = {1, {}};
    ASSERT_EQ(GTEREC(d + 1, &region, &s), 0);
    EXPECT_EQ(s.region, 3);
    region.region = 9;
    EXPECT_EQ(LTEREC(d + 1, &region, &s), 0);
    EXPECT_EQ(s.region, 5);
    EXPECT_EQ(GTEREC(d + 1, &region, &s), 101);
}

// Every key of every member once, in order, equal keys by raw number; the
// same walk by records, and both backwards.
TEST_F(PartSearchTest, WalksReturnEveryKeyOnce) {
    SearchDef def("sales");
    const int d = make_search(def);
    const std::vector<Hit> up = random_sales(d);
    std::vector<Hit> down(up.rbegin(), up.rend());
    EXPECT_EQ(key_walk(d, true), up);
    EXPECT_EQ(key_walk(d, false), down);
    EXPECT_EQ(record_walk(d, d + 3, true), up);
    EXPECT_EQ(record_walk(d, d + 3, false), down);
    // Through B, whose keys lead with the number too.
    EXPECT_EQ(record_walk(d, d + 4, true), up);
}

TEST_F(PartSearchTest, AChangeStartsTheSearchAgainFromItsTarget) {
    SearchDef def("sales");
    const int d = make_search(def);
    for (auto [n, r] : {std::pair{10u, 1}, {20u, 2}, {30u, 3}, {40u, 1}}) ASSERT_EQ(add(d, sale(n, 0, r)), 0);
    Sale s;
    ASSERT_EQ(FRSREC(d + 3, &s), 0);
    ASSERT_EQ(NXTREC(d + 3, &s), 0);
    ASSERT_EQ(s.number, 20u);
    // An add in another member between the current key and the next.
    ASSERT_EQ(add(d, sale(25, 0, 3)), 0);
    ASSERT_EQ(NXTREC(d + 3, &s), 0);
    EXPECT_EQ(s.number, 30u);   // the add made 25 current
    uint32_t number = 20;
    RegionKey region = {2, {}};
    ASSERT_EQ(GTEREC(d + 1, &region, &s), 0);
    ASSERT_EQ(s.number, 20u);
    ASSERT_EQ(NXTREC(d + 3, &s), 0);
    EXPECT_EQ(s.number, 25u);
    // A rewrite that moves the current key ahead.
    s.number = 35;
    ASSERT_EQ(RWTREC(d, &s), 0);
    ASSERT_EQ(NXTREC(d + 3, &s), 0);
    EXPECT_EQ(s.number, 40u);
    // Past the last key going up after reading it going down.
    ASSERT_EQ(LSTREC(d + 3, &s), 0);
    EXPECT_EQ(NXTREC(d + 3, &s), 101);
    // A context left at 20 and switched back to: the walk goes on from its
    // record.
    ASSERT_EQ(GTEREC(d + 3, &number, &s), 0);
    const int a = OPNICON(d, -1, -1);
    const int b = OPNICON(d, -1, -1);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    ASSERT_EQ(LSTREC(d + 3, &s), 0);
    ASSERT_EQ(PRVREC(d + 3, &s), 0);
    ASSERT_EQ(CHGICON(a), 0);
    ASSERT_EQ(NXTREC(d + 3, &s), 0);
    EXPECT_EQ(s.number, 30u);
    EXPECT_EQ(CLSICON(a), 0);
    EXPECT_EQ(CLSICON(b), 0);
    // A member purged between two searches is passed over.
    ASSERT_EQ(FRSREC(d + 3, &s), 0);
    purge(d, 2);
    std::vector<uint32_t> rest;
    while (NXTREC(d + 3, &s) == 0) rest.push_back(s.number);
    EXPECT_EQ(rest, (std::vector<uint32_t>{30, 35, 40}));
}

TEST_F(PartSearchTest, ANextKeyStepsOnlyTheMemberWhoseKeyWasTaken) {
    SearchDef def("sales");
    const int d = make_search(def);
    random_sales(d);
    unsigned char key[4];
    ASSERT_NE(FRSKEY(d + 3, key) | uint32_t(zvGETHGH()), 0u);
    for (int i = 0; i < 20; i++) {
        const uint64_t before = isam_state(zvWNGV).partsteps;
        ASSERT_NE(NXTKEY(d + 3, key) | uint32_t(zvGETHGH()), 0u);
        EXPECT_EQ(isam_state(zvWNGV).partsteps - before, 1u) << i;
    }
}

}  // namespace

// ISAM contexts: independent positions in one open data file, switched
// with CHGICON; filters and ranges belong to their context; ids, codes and
// the blocks kept when indexes are added or dropped; no memory taken when
// switching between contexts used before.
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "engine/core/fcb.h"
#include "engine/isam/context.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"
#include "engine/isam/isamstate.h"
#include "tests/engine/isam/recfix.h"

namespace {

using namespace rectest;

// The customer set with a third index, on the name (duplicates).
struct Cust3Def {
    ISEG s0[1] = {{kNumberOff, 4, 1}};
    ISEG s1[1] = {{kCityOff, 20, 0}};
    ISEG s2[1] = {{kNameOff, 24, 0}};
    IIDX idx[3] = {};
    IFIL ifil = {};
    explicit Cust3Def(const char *name = "cust3") {
        idx[0] = IIDX{4, 0, 0, 0, 0, 1, s0, "ByNumber", nullptr, nullptr, nullptr};
        idx[1] = IIDX{kCityKey, 0, 1, 0, 0, 1, s1, "ByCity", "?_city.idx", nullptr, nullptr};
        idx[2] = IIDX{28, 0, 1, 0, 0, 1, s2, "ByName", "?_name.idx", nullptr, nullptr};
        ifil = IFIL{name, -1, 64, 0, 0, 3, 0, 0, idx, nullptr, nullptr, 0};
    }
};

class ContextTest : public RecTest {
protected:
    // A set of n customers: number i, city by i % 4, name by i % 3.
    int make3(Cust3Def &def, uint32_t n) {
        EXPECT_EQ(CREIFIL(&def.ifil), 0);
        int d = def.ifil.tfilno;
        static const char *cities[] = {"Bern", "Chur", "Oslo", "Rome"};
        static const char *names[] = {"Ada", "Bea", "Cy"};
        for (uint32_t i = 1; i <= n; i++) add(d, cust(i, cities[i % 4], names[i % 3]));
        return d;
    }
    static std::string curkey(int keyno) {
        char buf[64] = {};
        int32_t len = 0;
        if (!GETCURK(keyno, buf, &len)) return "none";
        return std::string(buf, size_t(len));
    }
    // The current key images of the three indexes.
    static std::vector<std::string> images(int d) { return {curkey(d + 1), curkey(d + 2), curkey(d + 3)}; }
    static uint32_t number_of(const Cust &c) { return c.number; }
    static int32_t blocks() { return int32_t(zv::pool_blocks_in_use()); }
};

TEST_F(ContextTest, TwoContextsKeepTheirOwnPositions) {
    Cust3Def def;
    int d = make3(def, 20);
    int a = OPNICON(d, -1, -1);
    ASSERT_GE(a, 0);
    Cust r;
    ASSERT_EQ(FRSREC(d + 1, &r), 0);
    for (int i = 0; i < 4; i++) ASSERT_EQ(NXTREC(d + 1, &r), 0);
    ASSERT_EQ(r.number, 5u);
    const std::vector<std::string> in_a = images(d);
    const uint64_t pos_a = curpos(d);
    int b = OPNICON(d, -1, -1);
    ASSERT_GE(b, 0);
    ASSERT_NE(a, b);
    ASSERT_EQ(FRSREC(d + 2, &r), 0);  // B: first by city
    const uint32_t first_b = r.number;
    EXPECT_NE(images(d), in_a);
    ASSERT_EQ(CHGICON(a), 0);
    EXPECT_EQ(curpos(d), pos_a);
    EXPECT_EQ(images(d), in_a);
    ASSERT_EQ(NXTREC(d + 1, &r), 0);
    EXPECT_EQ(r.number, 6u);
    // B continues from its own record.
    ASSERT_EQ(CHGICON(b), 0);
    ASSERT_EQ(RRDREC(d, &r), 0);
    EXPECT_EQ(r.number, first_b);

    // CHGICON to the active context writes nothing: its saved copy stays
    // as it was although the file moved on.
    const ISAMCTX *cb = zv::find_context(int16_t(b));
    ASSERT_NE(cb, nullptr);
    const uint32_t saved = cb->posl;
    ASSERT_EQ(NXTREC(d + 1, &r), 0);
    const int32_t before = blocks();
    zv::fault_reset();
    EXPECT_EQ(CHGICON(b), 0);
    EXPECT_EQ(cb->posl, saved);
    EXPECT_EQ(blocks(), before);
    EXPECT_EQ(zv::io_calls(zv::IoKind::Write), 0);
    EXPECT_EQ(CLSICON(a), 0);
    EXPECT_EQ(CLSICON(b), 0);
    EXPECT_EQ(check(d), "");
}

TEST_F(ContextTest, FiltersAndRangesBelongToTheirContext) {
    Cust3Def def;
    int d = make3(def, 12);
    put_schema(d);
    // What a first filter keeps until the engine stops (the evaluation
    // area, the schema's names) is taken before counting.
    ASSERT_EQ(SETFLTR(d, "amount > 12"), 0);
    ASSERT_EQ(SETFLTR(d, ""), 0);
    const int32_t base = blocks();
    int a = OPNICON(d, -1, -1);
    int b = OPNICON(d, -1, -1);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    const int32_t with_contexts = blocks();
    ASSERT_EQ(CHGICON(a), 0);
    // A: amounts (3 x number) above 12, numbers 3 to 9.
    ASSERT_EQ(SETFLTR(d, "amount > 12"), 0);
    const uint32_t lo = 3, hi = 9, op = 199;
    ASSERT_EQ(ALCRNG(d + 1, 1, &lo, &hi, &op), 0);
    auto range = [&]() {
        std::vector<uint32_t> out;
        Cust r;
        for (int rc = FRSRNG(d + 1, &r); rc == 0; rc = NXTRNG(d + 1, &r)) out.push_back(r.number);
        return out;
    };
    const std::vector<uint32_t> in_a{5, 6, 7, 8, 9};
    EXPECT_EQ(range(), in_a);
    ASSERT_EQ(CHGICON(b), 0);
    Cust r;
    EXPECT_EQ(FRSRNG(d + 1, &r), 762) << "no range in B";
    EXPECT_EQ(numbers(d, FRSREC, NXTREC).size(), 12u) << "no filter in B";
    EXPECT_EQ(numbers(d + 1, FRSREC, NXTREC).size(), 12u);
    ASSERT_EQ(CHGICON(a), 0);
    EXPECT_EQ(range(), in_a);
    EXPECT_EQ(numbers(d, FRSREC, NXTREC).size(), 8u);
    // Closed while B is active, A takes its filter, its range copy and
    // itself along; B and the file are untouched.
    ASSERT_EQ(CHGICON(b), 0);
    ASSERT_EQ(CLSICON(a), 0);
    EXPECT_EQ(blocks(), with_contexts - 1);
    EXPECT_EQ(numbers(d + 1, FRSREC, NXTREC).size(), 12u);
    EXPECT_EQ(FRSRNG(d + 1, &r), 762);
    EXPECT_EQ(CLSICON(b), 0);
    EXPECT_EQ(blocks(), base + 1) << "only the table of contexts stays, until the ISAM layer stops";
}

TEST_F(ContextTest, IdsAndCodes) {
    Cust3Def def;
    int d = make3(def, 6);
    Cust3Def other("other");
    int o = make3(other, 2);
    struct Step {
        int want, got;
    };
    // Automatic ids count on from the last id assigned, never giving -1.
    for (const Step &s : {Step{7, 7}, Step{-1, 8}, Step{-2, -2}, Step{-1, 0}, Step{-3, -3}, Step{-1, 1},
                          Step{-1, 2}}) {
        SCOPED_TRACE(s.want);
        EXPECT_EQ(OPNICON(d, -1, s.want), s.got);
    }
    EXPECT_EQ(OPNICON(d, -1, 7), -1);
    EXPECT_EQ(zvGetIsamErrorCode(), 592);
    EXPECT_EQ(CLSICON(99), 590);
    EXPECT_EQ(CHGICON(99), 590);
    // Refusals leave no context and no pool block behind.
    const int32_t before = blocks();
    struct Refusal {
        int datno, keyno, id, code, filno;
    };
    for (const Refusal &f : {Refusal{d + 1, -1, 40, 48, d + 1}, Refusal{d, o + 1, 41, 48, o + 1},
                             Refusal{d, d, 42, 48, d}, Refusal{d, -1, 7, 592, d}, Refusal{25, -1, 43, 26, 25}}) {
        SCOPED_TRACE(f.id);
        EXPECT_EQ(OPNICON(f.datno, f.keyno, f.id), -1);
        EXPECT_EQ(zvGetIsamErrorCode(), f.code);
        EXPECT_EQ(zvGetIsamFileNbr(), f.filno);
        EXPECT_EQ(blocks(), before);
        if (f.id != 7) {
            EXPECT_EQ(zv::find_context(int16_t(f.id)), nullptr);
        }
    }
    // No memory for the context.
    zv::fail_pool_at(1);
    EXPECT_EQ(OPNICON(d, -1, 44), -1);
    zv::fail_pool_at(0);
    EXPECT_EQ(zvGetIsamErrorCode(), 83);
    EXPECT_EQ(blocks(), before);

    // A closed index: a context with a block for it cannot be restored;
    // the context active before is active again.
    int one = OPNICON(d, d + 1, 50);  // one index: d + 1
    ASSERT_EQ(one, 50);
    Cust r;
    ASSERT_EQ(EQLREC(d + 1, num(4).data(), &r), 0);
    const uint64_t at4 = curpos(d);
    ASSERT_EQ(CLSFIL(d + 3, 0), 0);
    EXPECT_EQ(CHGICON(8), 591);
    EXPECT_EQ(zvGetIsamFileNbr(), d);
    EXPECT_EQ(curpos(d), at4);
    EXPECT_EQ(zvWNGV->fcbtab[d]->actctx, zv::find_context(50));
    // Closing and opening the data file again: the old ids are gone.
    CLIFIL(&def.ifil);  // one of its indexes is closed already
    EXPECT_EQ(tstifnm(d), nullptr);
    for (int id : {7, 8, -2, 0, 50}) {
        EXPECT_EQ(CHGICON(id), 590) << id;
        EXPECT_EQ(CLSICON(id), 590) << id;
    }
    ASSERT_EQ(OPNIFIL(&def.ifil), 0);
    EXPECT_EQ(CHGICON(8), 590);
    EXPECT_EQ(OPNICON(def.ifil.tfilno, -1, 8), 8);
}

TEST_F(ContextTest, BlocksFollowIndexesAddedAndDropped) {
    Cust3Def def;
    int d = make3(def, 10);
    // The set seen with two indexes: the third is added later.
    const uint16_t third = zv::isam_actlist(d)[2];
    zv::setzvEOK(d, 2);
    int all = OPNICON(d, -1, -1);
    int one = OPNICON(d, d + 2, -1);  // the city index only
    ASSERT_GE(all, 0);
    ASSERT_GE(one, 0);
    ASSERT_EQ(zv::find_context(int16_t(all))->nblocks, 2);
    zv::isam_actlist(d)[2] = third;
    IFIL added = {};
    added.dfilno = int16_t(d);
    added.dnumidx = 1;
    added.tfilno = int16_t(d + 3);
    ASSERT_EQ(zv::addconbuf(zvWNGV->fcbtab[d], &added), 0);
    EXPECT_EQ(zv::find_context(int16_t(all))->nblocks, 3);
    EXPECT_EQ(zv::find_context(int16_t(one))->nblocks, 1);
    // The new block works: the all-index context restores the name image.
    ASSERT_EQ(CHGICON(all), 0);
    Cust r;
    ASSERT_EQ(EQLREC(d + 1, num(7).data(), &r), 0);
    const std::string name7 = curkey(d + 3);
    ASSERT_EQ(CHGICON(one), 0);
    ASSERT_EQ(EQLREC(d + 1, num(2).data(), &r), 0);
    ASSERT_NE(curkey(d + 3), name7);
    ASSERT_EQ(CHGICON(all), 0);
    EXPECT_EQ(curkey(d + 3), name7);
    // The city index dropped: its blocks go; the one-index context on it
    // stays open without a block and can still be made active.
    ASSERT_EQ(zv::dltconbuf(zvWNGV->fcbtab[d], d, d + 2, 1), 0);
    EXPECT_EQ(zv::find_context(int16_t(all))->nblocks, 2);
    const ISAMCTX *c = zv::find_context(int16_t(one));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->nblocks, 0);
    EXPECT_EQ(c->first, nullptr);
    EXPECT_EQ(CHGICON(one), 0);
    EXPECT_EQ(CHGICON(all), 0);
    EXPECT_EQ(CLSICON(one), 0);
    EXPECT_EQ(CLSICON(all), 0);
}

TEST_F(ContextTest, SwitchingBetweenUsedContextsTakesNoMemory) {
    Cust3Def def;
    int d = make3(def, 30);
    put_schema(d);
    int a = OPNICON(d, -1, -1);
    int b = OPNICON(d, -1, -1);
    const uint32_t op = 199;
    const uint32_t lo_a = 3, hi_a = 9, lo_b = 10, hi_b = 20;
    ASSERT_EQ(CHGICON(a), 0);
    ASSERT_EQ(SETFLTR(d, "amount > 12"), 0);
    ASSERT_EQ(ALCRNG(d + 1, 1, &lo_a, &hi_a, &op), 0);
    ASSERT_EQ(CHGICON(b), 0);
    ASSERT_EQ(ALCRNG(d + 1, 1, &lo_b, &hi_b, &op), 0);
    Cust r;
    ASSERT_EQ(CHGICON(a), 0);
    ASSERT_EQ(CHGICON(b), 0);
    zv::fault_reset();
    const uint64_t platform = zv::platform_alloc_count(), gets = zv::pool_get_count();
    for (int i = 0; i < 5; i++) {
        ASSERT_EQ(CHGICON(a), 0);
        ASSERT_EQ(FRSRNG(d + 1, &r), 0);
        ASSERT_EQ(r.number, 5u);
        ASSERT_EQ(CHGICON(b), 0);
        ASSERT_EQ(FRSRNG(d + 1, &r), 0);
        ASSERT_EQ(r.number, 10u);
    }
    EXPECT_EQ(zv::platform_alloc_count(), platform);
    EXPECT_EQ(zv::pool_get_count(), gets);
    long calls = 0;
    for (int k = 0; k < int(zv::IoKind::Count); k++) calls += zv::io_calls(zv::IoKind(k));
    EXPECT_EQ(calls, 0);
}

// A context on one index restores that index's image only: the others,
// which hold the images of the record current before, are formed again
// from its record, so that a rewrite there changes the right keys.
TEST_F(ContextTest, ARewriteInAOneIndexContextChangesItsOwnRecordsKeys) {
    Cust3Def def;
    int d = make3(def, 12);
    int all = OPNICON(d, -1, -1);
    int one = OPNICON(d, d + 2, -1);
    Cust r;
    ASSERT_EQ(EQLREC(d + 1, num(9).data(), &r), 0);
    ASSERT_EQ(CHGICON(all), 0);
    ASSERT_EQ(EQLREC(d + 1, num(5).data(), &r), 0);
    ASSERT_EQ(CHGICON(one), 0);
    Cust nine = cust(9, "Bern", "Zoe");
    ASSERT_EQ(RWTREC(d, &nine), 0);
    EXPECT_EQ(check(d), "");
    ASSERT_EQ(EQLREC(d + 1, num(9).data(), &r), 0);
    EXPECT_STREQ(r.name, "Zoe");
    ASSERT_EQ(EQLREC(d + 1, num(5).data(), &r), 0);
    EXPECT_EQ(CLSICON(all), 0);
    EXPECT_EQ(CLSICON(one), 0);
}

// An index replaced under its number by one with another key length: a
// context with a block for it cannot be restored (591, the one before is
// active again), and the active context is not saved into a block too
// small for the new key (10, nothing written past the block).
TEST_F(ContextTest, AnIndexReplacedWithAnotherKeyLength) {
    Cust3Def def;
    int d = make3(def, 10);
    int c = OPNICON(d, -1, -1);
    int a = OPNICON(d, -1, -1);
    int o = OPNICON(d, d + 1, -1);
    ASSERT_GE(c, 0);
    ASSERT_GE(a, 0);
    ASSERT_GE(o, 0);
    Cust r;
    ASSERT_EQ(EQLREC(d + 1, num(7).data(), &r), 0);
    ASSERT_EQ(CHGICON(a), 0);
    ASSERT_EQ(EQLREC(d + 1, num(4).data(), &r), 0);
    const uint64_t at4 = curpos(d);
    ASSERT_EQ(CLSFIL(d + 3, 0), 0);
    ASSERT_EQ(CREIDX(d + 3, "other.idx", 40, 0, 1, 0, 0, 0), 0);
    EXPECT_EQ(CHGICON(o), 10);
    EXPECT_EQ(zvWNGV->fcbtab[d]->actctx, zv::find_context(int16_t(a)));
    EXPECT_EQ(curpos(d), at4);
    ASSERT_EQ(CLSICON(a), 0);
    ASSERT_EQ(CHGICON(o), 0);
    const uint64_t at7 = curpos(d);
    EXPECT_EQ(CHGICON(c), 591);
    EXPECT_EQ(zvWNGV->fcbtab[d]->actctx, zv::find_context(int16_t(o)));
    EXPECT_EQ(curpos(d), at7);
}

// Tables made while the instance's hash size is 0 have one bucket.
TEST_F(ContextTest, AHashSizeOfZeroGivesOneBucket) {
    Cust3Def def;
    int d = make3(def, 3);
    zvWNGV->idxhashsize = 0;
    const int a = OPNICON(d, -1, -1), b = OPNICON(d, -1, -1);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_EQ(isam_state(zvWNGV).ctxbuckets, 1);
    EXPECT_EQ(CHGICON(a), 0);
    EXPECT_EQ(CLSICON(a), 0);
    EXPECT_EQ(CLSICON(b), 0);
    EXPECT_EQ(ALCBAT(), 0);
    EXPECT_EQ(isam_state(zvWNGV).batbuckets, 1);
    EXPECT_EQ(CHGBAT(9), 0);
    EXPECT_EQ(CHGBAT(0), 0);
    EXPECT_EQ(FREBATN(9), 0);
    EXPECT_EQ(FREBAT(), 0);
    zvWNGV->idxhashsize = 1;
}

TEST_F(ContextTest, ThroughTheFunctionNumberEntry) {
    Cust3Def def;
    int d = make3(def, 4);
    int32_t id = 0;
    EXPECT_EQ(zarvo(0x03D6, int16_t(d), reinterpret_cast<void *>(intptr_t(-1)), &id, nullptr, nullptr, 12), 0);
    EXPECT_EQ(id, 12);
    EXPECT_EQ(zarvo(0x03D6, int16_t(d), reinterpret_cast<void *>(intptr_t(-1)), &id, nullptr, nullptr, -1), 0);
    EXPECT_EQ(id, 13);
    EXPECT_EQ(zarvo(0x211B, 0, nullptr, nullptr, nullptr, nullptr, 12), 0);
    EXPECT_EQ(zvWNGV->fcbtab[d]->actctx, zv::find_context(12));
    EXPECT_EQ(zarvo(0x211C, 0, nullptr, nullptr, nullptr, nullptr, 12), 0);
    EXPECT_EQ(zarvo(0x211C, 0, nullptr, nullptr, nullptr, nullptr, 12), 590);
    EXPECT_EQ(zarvo(0x03D6, int16_t(d + 1), reinterpret_cast<void *>(intptr_t(-1)), &id, nullptr, nullptr, -1), 48);
    EXPECT_EQ(id, -1);
}

}  // namespace

// The record hot path: with pages and nodes cached, keyed, sequential and
// repeated reads make no platform call and take no memory, and an add takes
// no memory (its key images are exchanged by pointer).
#include <string>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "tests/engine/isam/recfix.h"

namespace {

using namespace rectest;
using zv::IoKind;

long all_io_calls() {
    long n = 0;
    for (int k = 0; k < int(IoKind::Count); k++) n += zv::io_calls(IoKind(k));
    return n;
}

class RecHotPathTest : public RecTest {
protected:
    struct Pools {
        uint64_t platform;
        int32_t free[zv::kFreeLists];
    };
    static Pools pools() {
        Pools p{zv::platform_alloc_count(), {}};
        for (int l = 0; l < zv::kFreeLists; l++) p.free[l] = zvWNGV->lists[l].free;
        return p;
    }
    static void expect_same(const Pools &a, const Pools &b) {
        EXPECT_EQ(a.platform, b.platform);
        for (int l = 0; l < zv::kFreeLists; l++) EXPECT_EQ(a.free[l], b.free[l]) << "list " << l;
    }
};

TEST_F(RecHotPathTest, CachedReadsMakeNoCallAndAddsTakeNoMemory) {
    restart(128, 128);
    CustDef def;
    int d = make(def);
    for (uint32_t n = 1; n <= 300; n++) add(d, cust(n, n % 2 ? "Bern" : "Oslo"));
    Cust r;
    for (uint32_t n = 1; n <= 300; n++) ASSERT_EQ(EQLREC(d + 1, num(n).data(), &r), 0);
    zv::fault_reset();
    const Pools before = pools();
    for (int round = 0; round < 3; round++) {
        for (uint32_t n = 1; n <= 290; n += 7) {
            ASSERT_EQ(EQLREC(d + 1, num(n).data(), &r), 0);
            ASSERT_EQ(NXTREC(d + 1, &r), 0);
            ASSERT_EQ(r.number, n + 1);
            ASSERT_EQ(NXTREC(d + 2, &r), 0);
            ASSERT_EQ(RRDREC(d, &r), 0);
        }
    }
    EXPECT_EQ(all_io_calls(), 0);
    expect_same(before, pools());
    const Pools adding = pools();
    for (uint32_t n = 301; n <= 400; n++) {
        Cust c = cust(n, "Rome");
        ASSERT_EQ(ADDREC(d, &c), 0);
    }
    expect_same(adding, pools());
    EXPECT_EQ(check(d), "");
}

// A walk in key order, forward and back, reads each record through one page
// request: what it looks at ahead of the reads is neither counted nor read,
// and the records come in key order.
TEST_F(RecHotPathTest, AWalkMakesOneRequestPerRecord) {
    restart(128, 128);
    CustDef def;
    int d = make(def);
    for (uint32_t n = 1; n <= 600; n++) add(d, cust(n * 7 % 601, n % 3 ? "Bern" : "Oslo"));
    Cust r;
    ASSERT_EQ(FRSREC(d + 1, &r), 0);
    while (NXTREC(d + 1, &r) == 0) {
    }
    zv::fault_reset();
    const uint32_t req = zvWNGV->pc.requests, hits = zvWNGV->pc.hits;
    uint32_t expect = 1, reads = 0;
    for (int rc = FRSREC(d + 1, &r); rc == 0; rc = NXTREC(d + 1, &r), reads++) ASSERT_EQ(r.number, expect++);
    EXPECT_EQ(expect, 601u);
    for (int rc = LSTREC(d + 1, &r); rc == 0; rc = PRVREC(d + 1, &r), reads++) ASSERT_EQ(r.number, --expect);
    EXPECT_EQ(expect, 1u);
    EXPECT_EQ(zvWNGV->pc.requests - req, reads);
    EXPECT_EQ(zvWNGV->pc.hits - hits, reads);
    EXPECT_EQ(all_io_calls(), 0);
}

}  // namespace

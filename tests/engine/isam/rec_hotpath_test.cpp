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

}  // namespace

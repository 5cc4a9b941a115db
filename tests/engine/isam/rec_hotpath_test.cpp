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

// Records reached by key whose pages are not cached read only their own
// bytes; a rewrite or a delete of such a record reads nothing more and
// writes only the bytes it changes, and the set ends as the page road would
// leave it.
TEST_F(RecHotPathTest, KeyedRecordsMissingTheCacheMoveOnlyTheirBytes) {
    restart(128, 2);
    CustDef def;
    int d = make(def);
    const uint32_t n = 600;
    for (uint32_t i = 1; i <= n; i++) add(d, cust(i, i % 2 ? "Bern" : "Oslo"));
    ASSERT_EQ(zvflushd(zvWNGV->fcbtab[d], 1), 0);
    Cust r;
    for (uint32_t i = 7; i <= n; i += 97) {
        SCOPED_TRACE(i);
        uint32_t bytes = zvWNGV->dreadbytes, requests = zvWNGV->pc.requests;
        ASSERT_EQ(EQLREC(d + 1, num(i).data(), &r), 0);
        EXPECT_EQ(r.number, i);
        EXPECT_EQ(zvWNGV->dreadbytes - bytes, sizeof(Cust));
        EXPECT_EQ(zvWNGV->pc.requests - requests, 1u);
        if (i % 2) {
            Cust c = cust(i, "Rome", "moved");
            uint32_t written = zvWNGV->dwritebytes;
            ASSERT_EQ(RWTREC(d, &c), 0);
            EXPECT_EQ(zvWNGV->dreadbytes - bytes, sizeof(Cust)) << "the stored record came from kept bytes";
            EXPECT_GE(zvWNGV->dwritebytes - written, sizeof(Cust));
        } else {
            ASSERT_EQ(DELREC(d), 0);
            EXPECT_EQ(zvWNGV->dreadbytes - bytes, sizeof(Cust));
        }
    }
    EXPECT_EQ(zvWNGV->pc.usedbufs, 0);
    EXPECT_EQ(check(d), "");
    for (uint32_t i = 1; i <= n; i++) {
        SCOPED_TRACE(i);
        int rc = EQLREC(d + 1, num(i).data(), &r);
        if (i % 97 == 7 && i % 2 == 0) {
            EXPECT_EQ(rc, 101);
            continue;
        }
        ASSERT_EQ(rc, 0);
        EXPECT_EQ(r.number, i);
        EXPECT_STREQ(r.city, i % 97 == 7 ? "Rome" : i % 2 ? "Bern" : "Oslo");
    }
}

}  // namespace

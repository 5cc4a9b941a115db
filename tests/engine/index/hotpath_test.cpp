// The search hot path: with every node of a search cached, key reads make
// no platform call and take no memory; the node cache counts what it does.
#include <string>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "engine/core/fcb.h"
#include "engine/index/idxstate.h"
#include "engine/index/index_services.h"
#include "engine/index/nodecache.h"
#include "tests/engine/index/idxfix.h"
#include "zarvo/zarvo.h"

namespace {

using namespace idxtest;
using zv::IoKind;

class HotPathTest : public IndexTest {};

long all_io_calls() {
    long n = 0;
    for (int k = 0; k < int(IoKind::Count); k++) n += zv::io_calls(IoKind(k));
    return n;
}

TEST_F(HotPathTest, CachedSearchesMakeNoCallAndTakeNoMemory) {
    restart(64);
    IndexShape s;
    s.keytype = 12;  // compressed nodes expand into the buffers' own areas
    ASSERT_EQ(create_index(1, "h.idx", s), 0);
    for (uint64_t i = 1; i <= 1500; i++) ASSERT_EQ(add(1, int_key(i * 3, 8, ' '), i), 0);
    ASSERT_GE(fcb_of(1)->hdr.ext.levels, 2);
    std::string out(8, '\0');
    // Warm the path of the keys searched below.
    for (uint64_t i = 700; i < 720; i++) ASSERT_EQ(EQLKEY(1, int_key(i * 3, 8, ' ').data()), uint32_t(i));
    INSTGV *g = zvWNGV;
    zv::fault_reset();
    const uint64_t allocs = zv::platform_alloc_count();
    int32_t free_before[zv::kFreeLists];
    for (int l = 0; l < zv::kFreeLists; l++) free_before[l] = g->lists[l].free;
    const uint64_t req = idx_state(g).requests, hits = idx_state(g).hits;
    for (int round = 0; round < 50; round++) {
        for (uint64_t i = 700; i < 720; i++) {
            std::string t = int_key(i * 3, 8, ' ');
            ASSERT_EQ(EQLKEY(1, t.data()), uint32_t(i));
            ASSERT_EQ(GTKEY(1, t.data(), out.data()), uint32_t(i + 1));
            ASSERT_EQ(LTEKEY(1, t.data(), out.data()), uint32_t(i));
        }
        ASSERT_EQ(EQLKEY(1, int_key(700 * 3, 8, ' ').data()), 700u);
        for (uint64_t i = 701; i < 715; i++) ASSERT_EQ(NXTKEY(1, out.data()), uint32_t(i));
    }
    EXPECT_EQ(all_io_calls(), 0);
    EXPECT_EQ(zv::platform_alloc_count(), allocs);
    for (int l = 0; l < zv::kFreeLists; l++) EXPECT_EQ(g->lists[l].free, free_before[l]) << "list " << l;
    EXPECT_GT(idx_state(g).requests, req);
    EXPECT_EQ(idx_state(g).requests - req, idx_state(g).hits - hits) << "every request was a hit";
    EXPECT_LE(idx_state(g).inuse, 64);
    EXPECT_GE(idx_state(g).maxinuse, idx_state(g).inuse);
}

// The lookaside in front of the hash chains is a hint: with every slot
// pointing at one buffer (bound to another node, or free), searches still
// find their nodes, and every request that is no hit reads its node once.
TEST_F(HotPathTest, MisleadingLookasideSlotsAreCheckedBeforeUse) {
    restart(8);
    ASSERT_EQ(create_index(1, "l.idx", IndexShape{}), 0);
    for (uint64_t i = 1; i <= 1500; i++) ASSERT_EQ(add(1, int_key(i * 3, 8, ' '), i), 0);
    INSTGV *g = zvWNGV;
    ASSERT_GT(g->idxlookmask, 0u);
    auto *decoy = static_cast<NODEBUF *>(g->idxbuflist);
    for (int pass = 0; pass < 2; pass++) {
        if (pass == 1) zvclrhsh(decoy);  // a free buffer as the decoy
        for (uint32_t i = 0; i <= g->idxlookmask; i++) g->idxlook[i] = decoy;
        zv::fault_reset();
        const uint64_t req = idx_state(g).requests, hits = idx_state(g).hits;
        for (uint64_t i = 1; i <= 1500; i += 7) {
            for (uint32_t j = 0; j <= g->idxlookmask; j += 3) g->idxlook[j] = decoy;
            ASSERT_EQ(EQLKEY(1, int_key(i * 3, 8, ' ').data()), uint32_t(i)) << pass;
            ASSERT_EQ(EQLKEY(1, int_key(i * 3 + 1, 8, ' ').data()), 0u) << pass;
        }
        EXPECT_GT(idx_state(g).requests - req, idx_state(g).hits - hits) << "the small cache misses";
        EXPECT_EQ(zv::io_calls(IoKind::Read), long(idx_state(g).requests - req - (idx_state(g).hits - hits))) << pass;
    }
}

TEST_F(HotPathTest, ProbesNeitherCountNorMoveBuffers) {
    ASSERT_EQ(create_index(1, "p.idx", IndexShape{}), 0);
    ASSERT_EQ(add(1, "AAAAAAAA", 1), 0);
    INSTGV *g = zvWNGV;
    const uint64_t req = idx_state(g).requests;
    FCB *f = fcb_of(1);
    zv::ListLink *tail = g->idxlru.prev;
    EXPECT_NE(zvgetnod81(kNodProbe, 0, 512, f), nullptr);
    EXPECT_EQ(zvgetnod81(kNodProbe, 0, 1024, f), nullptr);
    EXPECT_EQ(idx_state(g).requests, req);
    EXPECT_EQ(g->idxlru.prev, tail);
    // After the file's nodes are dropped nothing is cached under its number.
    zvidxfrsh(1);
    EXPECT_EQ(zvgetnod81(kNodProbe, 0, 512, f), nullptr);
}

}  // namespace

// Key reads on a multi-level tree against a sorted reference, for present
// and absent targets, and the sequential reads at the ends of the index.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/index/idxstate.h"
#include "engine/index/keysearch.h"
#include "engine/index/nodecache.h"
#include "tests/engine/index/idxfix.h"
#include "zarvo/zarvo.h"

namespace {

using namespace idxtest;

class SearchTest : public IndexTest {
protected:
    // Keys 2, 4, ..., 2n in random order; position = value + 1000.
    void fill(int n) {
        ASSERT_EQ(create_index(1, "s.idx", IndexShape{}), 0);
        std::vector<uint64_t> v;
        for (int i = 1; i <= n; i++) v.push_back(uint64_t(2 * i));
        std::shuffle(v.begin(), v.end(), std::mt19937_64(7));
        for (uint64_t x : v) ASSERT_EQ(add(1, int_key(x, 8), x + 1000), 0);
        std::sort(v.begin(), v.end());
        ref_ = v;
    }
    // Reads a key with one of the target reads: (position, key value).
    std::pair<uint32_t, uint64_t> read(uint32_t (*fn)(int, const void *, void *), uint64_t t) {
        std::string out(8, '\0');
        std::string target = int_key(t, 8);
        uint32_t pos = fn(1, target.data(), out.data());
        uint64_t v = 0;
        for (int i = 0; i < 8; i++) v = v << 8 | (unsigned char)out[size_t(i)];
        return {pos, pos ? v : 0};
    }
    // The first and last key value of every leaf from the anchor on, with
    // the leaves' positions when asked.
    static std::vector<std::pair<uint64_t, uint64_t>> leaf_ranges(FCB *f, std::vector<uint32_t> *at = nullptr) {
        std::vector<std::pair<uint64_t, uint64_t>> out;
        for (uint32_t pos = f->hdr.base.lanchr; pos;) {
            NODEBUF *b = zvgetnod81(kNodNoSettle, 0, pos, f);
            EXPECT_NE(b, nullptr);
            if (!b) break;
            auto val = [&](int i) {
                const unsigned char *k = b->elems + (i - 1) * b->esize + 4;
                uint64_t v = 0;
                for (int j = 0; j < 8; j++) v = v << 8 | k[j];
                return v;
            };
            out.push_back({val(1), val(b->hdr.nkv)});
            if (at) at->push_back(pos);
            pos = b->hdr.sucesr;
        }
        return out;
    }
    std::vector<uint64_t> ref_;
};

TEST_F(SearchTest, EveryReadMatchesTheReferenceForPresentAndAbsentTargets) {
    fill(3000);
    ASSERT_GE(fcb_of(1)->hdr.ext.levels, 3) << "the tree has upper levels";
    ASSERT_EQ(check(1), "");
    for (uint64_t t = 0; t <= 2 * ref_.size() + 2; t++) {
        auto ge = std::lower_bound(ref_.begin(), ref_.end(), t);
        auto gt = std::upper_bound(ref_.begin(), ref_.end(), t);
        bool present = ge != ref_.end() && *ge == t;
        SCOPED_TRACE(t);
        zv::set_uerr(99);
        uint32_t eq = EQLKEY(1, int_key(t, 8).data());
        EXPECT_EQ(eq, present ? uint32_t(t + 1000) : 0u);
        EXPECT_EQ(zvGetUserErrorCode(), 0) << "a missing key is no error";
        auto r = read(GTEKEY, t);
        EXPECT_EQ(r.second, ge == ref_.end() ? 0 : *ge);
        r = read(GTKEY, t);
        EXPECT_EQ(r.second, gt == ref_.end() ? 0 : *gt);
        r = read(LTEKEY, t);
        EXPECT_EQ(r.second, gt == ref_.begin() ? 0 : *(gt - 1));
        r = read(LTKEY, t);
        EXPECT_EQ(r.second, ge == ref_.begin() ? 0 : *(ge - 1));
        EXPECT_EQ(zvGetUserErrorCode(), 0);
        if (HasFailure()) return;
    }
}

TEST_F(SearchTest, GtkeyOnALeafsLastKeyCrossesEmptyLeaves) {
    fill(400);
    FCB *f = fcb_of(1);
    f->noremove = 1;  // empty leaves stay in the tree
    // Leaves from the anchor: the second and third lose all their keys.
    std::vector<std::pair<uint64_t, uint64_t>> leaves = leaf_ranges(f);
    ASSERT_GE(leaves.size(), 5u);
    for (int l = 1; l <= 2; l++)
        for (uint64_t v = leaves[size_t(l)].first; v <= leaves[size_t(l)].second; v += 2)
            ASSERT_EQ(del(1, int_key(v, 8), v + 1000), 0);
    ASSERT_EQ(check(1), "");
    uint64_t last0 = leaves[0].second, first3 = leaves[3].first;
    EXPECT_EQ(read(GTKEY, last0).second, first3);
    EXPECT_EQ(read(GTEKEY, last0 + 1).second, first3);
    EXPECT_EQ(read(LTKEY, first3).second, last0);
    EXPECT_EQ(read(LTEKEY, first3 - 1).second, last0);
    // Sequential reads cross them as well.
    std::string k(8, '\0');
    ASSERT_EQ(EQLKEY(1, int_key(last0, 8).data()), uint32_t(last0 + 1000));
    EXPECT_EQ(NXTKEY(1, k.data()), uint32_t(first3 + 1000));
    EXPECT_EQ(PRVKEY(1, k.data()), uint32_t(last0 + 1000));
}

// An empty leaf answers the node search with -2 and element -1; in mode
// 'S' with a successor it sends the search right. Keys added again land in
// the empty leaves, and the reads that cross them still work.
TEST_F(SearchTest, AnEmptyLeafHasNoElement) {
    fill(400);
    FCB *f = fcb_of(1);
    f->noremove = 1;  // empty leaves stay in the tree
    std::vector<uint32_t> leaves;
    std::vector<std::pair<uint64_t, uint64_t>> ranges = leaf_ranges(f, &leaves);
    ASSERT_GE(leaves.size(), 3u);
    for (uint64_t v = ranges[1].first; v <= ranges[1].second; v += 2) ASSERT_EQ(del(1, int_key(v, 8), v + 1000), 0);
    NODEBUF *b = zvgetnod81(kNodNoSettle, 0, leaves[1], f);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->hdr.nkv, 0);
    const std::string t = int_key(ranges[1].first, 8);
    const unsigned char *target = reinterpret_cast<const unsigned char *>(t.data());
    struct Case {
        int mode;
        int want;
        int elm;
    } cases[] = {{'E', -2, -1}, {'L', -2, -1}, {'S', -1, 1}};
    for (const Case &c : cases) {
        idx_state(zvWNGV).elm = 77;
        EXPECT_EQ(nodser(b, target, c.mode, 0), c.want) << char(c.mode);
        EXPECT_EQ(idx_state(zvWNGV).elm, c.elm) << char(c.mode);
    }
    // Reads around the empty leaf, then the keys back into it.
    EXPECT_EQ(read(LTEKEY, ranges[1].first).second, ranges[0].second);
    EXPECT_EQ(read(LTKEY, ranges[1].second).second, ranges[0].second);
    EXPECT_EQ(read(GTEKEY, ranges[1].first).second, ranges[2].first);
    EXPECT_EQ(EQLKEY(1, t.data()), 0u);
    for (uint64_t v = ranges[1].first; v <= ranges[1].second; v += 2) ASSERT_EQ(add(1, int_key(v, 8), v + 1000), 0);
    b = zvgetnod81(kNodNoSettle, 0, leaves[1], f);
    ASSERT_NE(b, nullptr);
    EXPECT_GT(b->hdr.nkv, 0) << "the keys went back into the empty leaf";
    EXPECT_EQ(check(1), "");
    for (uint64_t v = ranges[1].first; v <= ranges[1].second; v += 2)
        EXPECT_EQ(EQLKEY(1, int_key(v, 8).data()), uint32_t(v + 1000)) << v;
    EXPECT_EQ(IDXENT(1), 400u);
}

TEST_F(SearchTest, SequentialReadsStopAtBothEndsWithoutError) {
    fill(300);
    std::string k(8, '\0');
    uint64_t last = ref_.back(), before = ref_[ref_.size() - 2];
    EXPECT_EQ(LSTKEY(1, k.data()), uint32_t(last + 1000));
    EXPECT_EQ(k, int_key(last, 8));
    EXPECT_EQ(NXTKEY(1, k.data()), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 0);
    EXPECT_EQ(PRVKEY(1, k.data()), uint32_t(before + 1000)) << "the key before the last";
    EXPECT_EQ(FRSKEY(1, k.data()), uint32_t(ref_[0] + 1000));
    EXPECT_EQ(PRVKEY(1, k.data()), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 0);
    EXPECT_EQ(NXTKEY(1, k.data()), uint32_t(ref_[1] + 1000));
    // A full walk backwards meets every key once.
    std::vector<uint64_t> back;
    uint32_t p = LSTKEY(1, k.data());
    while (p) {
        back.push_back(p - 1000);
        p = PRVKEY(1, k.data());
    }
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(back, ref_);
}

TEST_F(SearchTest, NxtkeyContinuesFromTheWorkKeyAfterTheNodeChanged) {
    fill(300);
    std::string k(8, '\0');
    ASSERT_EQ(EQLKEY(1, int_key(200, 8).data()), 1200u);
    // Keys inserted in front of the current one move it within its node.
    ASSERT_EQ(add(1, int_key(197, 8), 1197), 0);
    ASSERT_EQ(add(1, int_key(199, 8), 1199), 0);
    ASSERT_EQ(add(1, int_key(201, 8), 1201), 0);
    EXPECT_EQ(NXTKEY(1, k.data()), 1201u);
    EXPECT_EQ(k, int_key(201, 8));
    EXPECT_EQ(NXTKEY(1, k.data()), 1202u);
    // The current key itself removed: the next greater key follows.
    ASSERT_EQ(del(1, int_key(202, 8), 1202), 0);
    EXPECT_EQ(NXTKEY(1, k.data()), 1204u);
}

TEST_F(SearchTest, EveryReadOfAnEmptyIndexGivesZero) {
    ASSERT_EQ(create_index(1, "e.idx", IndexShape{}), 0);
    std::string k(8, 'x'), t = int_key(5, 8);
    FCB *f = fcb_of(1);
    f->curnodl = 512;
    f->curelm = 3;
    EXPECT_EQ(FRSKEY(1, k.data()), 0u);
    EXPECT_EQ(f->curnodl, 0u);
    EXPECT_EQ(f->curelm, 0);
    EXPECT_EQ(LSTKEY(1, k.data()), 0u);
    EXPECT_EQ(EQLKEY(1, t.data()), 0u);
    EXPECT_EQ(GTEKEY(1, t.data(), k.data()), 0u);
    EXPECT_EQ(GTKEY(1, t.data(), k.data()), 0u);
    EXPECT_EQ(LTKEY(1, t.data(), k.data()), 0u);
    EXPECT_EQ(LTEKEY(1, t.data(), k.data()), 0u);
    EXPECT_EQ(NXTKEY(1, k.data()), 0u);
    EXPECT_EQ(PRVKEY(1, k.data()), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 0);
    EXPECT_EQ(IDXENT(1), 0u);
}

TEST_F(SearchTest, BadCallsGiveCodes) {
    ASSERT_EQ(create_index(1, "b.idx", IndexShape{}), 0);
    ASSERT_EQ(CREDAT(2, "d.dat", 32, 4096, 0), 0);
    std::string k(8, '\0');
    EXPECT_EQ(EQLKEY(1, nullptr), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 540);
    EXPECT_EQ(EQLKEY(2, k.data()), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 48);
    EXPECT_EQ(IDXENT(2), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 48);
    EXPECT_EQ(FRSKEY(7, k.data()), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 26);
    EXPECT_EQ(NXTKEY(-1, k.data()), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 22);
}

}  // namespace

// Key deletion: refusals, removal of emptied leaves with the deleted-node
// stack, the first and last leaves, the shrinking root and a broken stack.
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/index/idxstate.h"
#include "engine/index/keydelete.h"
#include "engine/index/node.h"
#include "engine/index/nodealloc.h"
#include "engine/index/nodecache.h"
#include "tests/engine/index/idxfix.h"
#include "zarvo/zarvo.h"

namespace {

using namespace idxtest;

// First and last key value of each leaf, from the leaf anchor on.
struct Leaf {
    uint32_t pos;
    int nkv;
    uint64_t first, last;
};

class DeleteTest : public IndexTest {
protected:
    std::vector<Leaf> leaves() {
        std::vector<Leaf> out;
        FCB *f = fcb_of(1);
        uint32_t pos = f->hdr.base.lanchr;
        while (pos) {
            NODEBUF *b = zvgetnod81(kNodNoSettle, 0, pos, f);
            if (!b) break;
            auto val = [&](int i) {
                const unsigned char *k = b->elems + (i - 1) * b->esize + 4;
                uint64_t v = 0;
                for (int j = 0; j < 8; j++) v = v << 8 | k[j];
                return v;
            };
            out.push_back({pos, b->hdr.nkv, b->hdr.nkv ? val(1) : 0, b->hdr.nkv ? val(b->hdr.nkv) : 0});
            pos = b->hdr.sucesr;
        }
        return out;
    }
    void fill(uint64_t n) {
        ASSERT_EQ(create_index(1, "x.idx", IndexShape{}), 0);
        for (uint64_t i = 1; i <= n; i++) ASSERT_EQ(add(1, int_key(i, 8), i), 0);
    }
    void delete_range(uint64_t a, uint64_t b) {
        for (uint64_t v = a; v <= b; v++) ASSERT_EQ(del(1, int_key(v, 8), v), 0) << v;
    }
    uint64_t file_size() { return zvtest::read_file("x.idx").size(); }
};

TEST_F(DeleteTest, RefusalsAndTheMismatchLine) {
    fill(10);
    EXPECT_EQ(del(1, int_key(99, 8), 99), 4);
    EXPECT_EQ(del(1, int_key(5, 8), 6), 3);
    std::vector<std::string> log = log_lines();
    ASSERT_GE(log.size(), 4u);
    EXPECT_NE(log[log.size() - 3].find("x.idx"), std::string::npos);
    EXPECT_NE(log.back().find("KMAT_ERR:   indx: 0 5x  call: 0 6x"), std::string::npos) << log.back();
    EXPECT_EQ(IDXENT(1), 10u);
    EXPECT_EQ(EQLKEY(1, int_key(5, 8).data()), 5u);
    EXPECT_EQ(DELBLD(1, int_key(99, 8).data()), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 4);
    EXPECT_EQ(DELBLD(1, int_key(5, 8).data()), 5u);
    EXPECT_EQ(IDXENT(1), 9u);
    EXPECT_EQ(DELCHK(1, nullptr, 1), 540);
    ASSERT_EQ(CREDAT(2, "d.dat", 32, 4096, 0), 0);
    EXPECT_EQ(DELCHK(2, "abcdefgh", 1), 48);
    EXPECT_EQ(check(1), "");
}

TEST_F(DeleteTest, EmptiedMiddleLeafGoesOnTheStackAndIsReused) {
    fill(200);  // ascending: leaves of 35, the last with the rest
    std::vector<Leaf> before = leaves();
    ASSERT_GE(before.size(), 4u);
    Leaf mid = before[1];
    delete_range(mid.first, mid.last);
    std::vector<Leaf> after = leaves();
    ASSERT_EQ(after.size(), before.size() - 1);
    EXPECT_EQ(after[1].pos, before[2].pos) << "neighbours linked to each other";
    FCB *f = fcb_of(1);
    EXPECT_EQ(f->hdr.base.delstk, mid.pos) << "stack head";
    EXPECT_EQ(check(1), "");
    ASSERT_EQ(close_index(1), 0);
    std::string file = zvtest::read_file("x.idx");
    auto le32 = [&](size_t o) {
        return uint32_t((unsigned char)file[o]) | uint32_t((unsigned char)file[o + 1]) << 8 |
               uint32_t((unsigned char)file[o + 2]) << 16 | uint32_t((unsigned char)file[o + 3]) << 24;
    };
    EXPECT_EQ(le32(4), mid.pos) << "header +4";
    EXPECT_EQ(le32(mid.pos + 4), 0xFFFFFFFFu) << "predsr all ones";
    EXPECT_EQ(le32(mid.pos), 0u) << "end of the stack";
    ASSERT_EQ(open_index(1, "x.idx"), 0);
    EXPECT_EQ(check(1), "");
    // The next split takes the deleted node instead of growing the file.
    uint64_t size = file_size();
    uint32_t used = fcb_of(1)->hdr.base.numrec;
    for (uint64_t v = 1000; fcb_of(1)->hdr.base.delstk != 0; v++) ASSERT_EQ(add(1, int_key(v, 8), v), 0);
    EXPECT_EQ(fcb_of(1)->hdr.base.numrec, used);
    ASSERT_EQ(close_index(1), 0);
    EXPECT_EQ(file_size(), size);
    ASSERT_EQ(open_index(1, "x.idx"), 0);
    EXPECT_EQ(check(1), "");
}

TEST_F(DeleteTest, FirstAndLastLeavesStayWhenEmpty) {
    fill(200);
    std::vector<Leaf> before = leaves();
    delete_range(before.front().first, before.front().last);
    delete_range(before.back().first, before.back().last);
    std::vector<Leaf> after = leaves();
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after.front().nkv, 0);
    EXPECT_EQ(after.back().nkv, 0);
    EXPECT_EQ(fcb_of(1)->hdr.base.delstk, 0u);
    EXPECT_EQ(check(1), "");
    std::string k(8, '\0');
    EXPECT_EQ(FRSKEY(1, k.data()), uint32_t(before[1].first));
    EXPECT_EQ(LSTKEY(1, k.data()), uint32_t(before[before.size() - 2].last));
    // Everything deleted: first and last leaf remain, the rest is stacked.
    delete_range(before[1].first, before[before.size() - 2].last);
    EXPECT_EQ(leaves().size(), 2u);
    EXPECT_EQ(IDXENT(1), 0u);
    EXPECT_EQ(FRSKEY(1, k.data()), 0u);
    EXPECT_EQ(check(1), "");
}

TEST_F(DeleteTest, ParentsLoseTheirEmptiedChildrenOnEveryLevel) {
    // 3000 ascending keys: three levels; emptying a whole middle run of
    // leaves removes non-leaf nodes as well.
    fill(3000);
    FCB *f = fcb_of(1);
    ASSERT_GE(f->hdr.ext.levels, 3);
    ASSERT_EQ(check(1), "");
    delete_range(40, 2900);
    EXPECT_EQ(check(1), "");
    EXPECT_EQ(IDXENT(1), 39u + 100u);
    std::vector<Entry> all = scan(1);
    ASSERT_EQ(all.size(), 139u);
    EXPECT_EQ(all[38].pos, 39u);
    EXPECT_EQ(all[39].pos, 2901u);
    ASSERT_EQ(close_index(1), 0);
    ASSERT_EQ(open_index(1, "x.idx"), 0);
    EXPECT_EQ(check(1), "");
}

TEST_F(DeleteTest, ARootLeftWithOneChildGivesWayToIt) {
    // Two leaves under a root; the repair of the root after its first
    // child left the tree makes the second child the root.
    fill(41);
    FCB *f = fcb_of(1);
    ASSERT_EQ(f->hdr.ext.levels, 2);
    std::vector<Leaf> lv = leaves();
    ASSERT_EQ(lv.size(), 2u);
    uint32_t root = f->hdr.base.root;
    // The first leaf leaves the tree as a removal would leave it: the second
    // leaf becomes the first, the first goes on the deleted-node stack.
    delete_range(lv[0].first, lv[0].last);
    NODEBUF *b = zvgetnod81(kNodNoSettle, 0, lv[1].pos, f);
    ASSERT_NE(b, nullptr);
    b->hdr.predsr = 0;
    putnod(b, b->hdr.nkv, 1);
    f->hdr.base.lanchr = lv[1].pos;
    b = zvgetnod81(kNodNoSettle, 0, lv[0].pos, f);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(rtnode81(b, 0, lv[0].pos, f), 0);
    zv::IdxState &s = idx_state(zvWNGV);
    s.ndepth = 1;
    s.npath[0] = zv::IdxPathEntry{0, root, 1, 2, 0};
    ASSERT_EQ(zvdelupl81(0, lv[1].pos, f), 0);
    EXPECT_EQ(f->hdr.base.root, lv[1].pos);
    EXPECT_EQ(f->hdr.ext.levels, 1) << "one level less";
    EXPECT_EQ(f->hdr.base.delstk, root) << "the old root is stacked";
    EXPECT_EQ(check(1), "");
    ASSERT_EQ(close_index(1), 0);
    ASSERT_EQ(open_index(1, "x.idx"), 0);
    EXPECT_EQ(check(1), "");
    EXPECT_EQ(scan(1).size(), lv[1].nkv + 0u);
}

TEST_F(DeleteTest, AStackHeadNotMarkedDeletedIsDroppedAndTheFileGrows) {
    fill(200);
    FCB *f = fcb_of(1);
    std::vector<Leaf> lv = leaves();
    // The stack names a live leaf.
    f->hdr.base.delstk = lv[2].pos;
    uint32_t used = f->hdr.base.numrec;
    for (uint64_t v = 1000; v < 1040; v++) ASSERT_EQ(add(1, int_key(v, 8), v), 0);
    EXPECT_EQ(f->hdr.base.delstk, 0u);
    EXPECT_EQ(f->hdr.base.numrec, used + 512);
    std::vector<std::string> log = log_lines();
    bool klnk = false, retry = false;
    for (const std::string &l : log) {
        if (l.find("KLNK_ERR: pos=" + [&] {
                char b[16];
                snprintf(b, sizeof b, "%xx", lv[2].pos);
                return std::string(b);
            }()) != std::string::npos)
            klnk = true;
        if (l.find("Detected error in deleted node list, fixed list and retrying new node operation") !=
            std::string::npos)
            retry = true;
    }
    EXPECT_TRUE(klnk);
    EXPECT_TRUE(retry);
    EXPECT_EQ(check(1), "");
    EXPECT_EQ(scan(1).size(), 240u);
}

}  // namespace

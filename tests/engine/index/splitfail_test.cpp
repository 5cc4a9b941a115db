// An insert whose split cannot get a new node leaves the full node exactly
// as it was: the new key goes out again and no other key is lost.
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/index/nodecache.h"
#include "tests/engine/index/idxfix.h"
#include "zarvo/zarvo.h"

namespace {

using namespace idxtest;

class SplitFailTest : public IndexTest {};

TEST_F(SplitFailTest, ANodeThatCannotSplitKeepsItsKeys) {
    // A memory index of 4096 bytes has room for its first leaf only.
    for (uint64_t extra : {1ull, 1000000ull, 41ull}) {
        SCOPED_TRACE(extra);
        IndexShape shape;
        shape.memory = 4096;
        ASSERT_EQ(create_index(1, "m.idx", shape), 0);
        FCB *f = fcb_of(1);
        int n = 0;
        for (;; n++) {
            if (f->hdr.base.root) {
                NODEBUF *b = zvgetnod81(0, f->hdr.ext.rooth, f->hdr.base.root, f);
                ASSERT_NE(b, nullptr);
                if (b->hdr.nkb + b->esize > b->maxb || b->hdr.nkv + 1 > b->maxkv) break;
            }
            ASSERT_EQ(add(1, int_key(uint64_t(n) * 2 + 10, 8), uint64_t(n) + 1), 0);
        }
        std::vector<Entry> before = scan(1);
        EXPECT_NE(add(1, int_key(extra, 8), 99), 0) << "no room for a second node";
        NODEBUF *b = zvgetnod81(0, f->hdr.ext.rooth, f->hdr.base.root, f);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->hdr.nkv, n);
        EXPECT_EQ(check(1), "");
        EXPECT_EQ(scan(1), before);
        ASSERT_EQ(close_index(1), 0);
    }
}

}  // namespace

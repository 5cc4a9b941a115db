// Key insertion: refusals, replacing a position, duplicate keys ordered by
// position, 8-byte positions, and where nodes split.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/index/nodecache.h"
#include "tests/engine/index/idxfix.h"
#include "zarvo/zarvo.h"

namespace {

using namespace idxtest;

class InsertTest : public IndexTest {
protected:
    // Element counts of the leaves from the first, in order.
    std::vector<int> leaf_counts(int filno) {
        std::vector<int> out;
        FCB *f = fcb_of(filno);
        uint32_t pos = f->hdr.base.lanchr;
        while (pos) {
            NODEBUF *b = zvgetnod81(kNodNoSettle, 0, pos, f);
            if (!b) break;
            out.push_back(b->hdr.nkv);
            pos = b->hdr.sucesr;
        }
        return out;
    }
};

TEST_F(InsertTest, RefusalsLeaveTheIndexUnchanged) {
    ASSERT_EQ(create_index(1, "i.idx", IndexShape{}), 0);
    ASSERT_EQ(CREDAT(2, "d.dat", 32, 4096, 0), 0);
    ASSERT_EQ(add(1, "KEY00001", 10), 0);
    struct Case {
        const char *what;
        int filno;
        const char *key;
        uint64_t pos;
        int mode;
        int code;
    } cases[] = {
        {"equal key in a unique index", 1, "KEY00001", 11, 0, 2},
        {"record position 0", 1, "KEY00002", 0, 0, 28},
        {"a data file", 2, "KEY00002", 12, 0, 48},
        {"update only of a missing key", 1, "KEY00003", 13, 0x400, 101},
        {"a free file number", 5, "KEY00002", 12, 0, 26},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(add(c.filno, c.key, c.pos, c.mode), c.code);
        EXPECT_EQ(zvGetUserErrorCode(), c.code);
    }
    EXPECT_EQ(ADDKEY(1, nullptr, 5, 0), 540);
    EXPECT_EQ(IDXENT(1), 1u);
    EXPECT_EQ(EQLKEY(1, "KEY00001"), 10u);
    EXPECT_EQ(check(1), "");
}

TEST_F(InsertTest, ReplaceModesChangeThePositionNotTheCount) {
    ASSERT_EQ(create_index(1, "i.idx", IndexShape{}), 0);
    for (uint64_t i = 1; i <= 100; i++) ASSERT_EQ(add(1, int_key(i, 8), i), 0);
    ASSERT_EQ(add(1, int_key(50, 8), 5000, 64), 0);
    ASSERT_EQ(add(1, int_key(60, 8), 6000, 0x400), 0);
    EXPECT_EQ(IDXENT(1), 100u);
    EXPECT_EQ(EQLKEY(1, int_key(50, 8).data()), 5000u);
    EXPECT_EQ(EQLKEY(1, int_key(60, 8).data()), 6000u);
    // Mode 64 on a new key adds it.
    ASSERT_EQ(add(1, int_key(500, 8), 77, 64), 0);
    EXPECT_EQ(IDXENT(1), 101u);
    // An index outside a file set has no ISAM key number in use: 48, and
    // its entries keep their positions (the update itself is tested with
    // the file sets).
    EXPECT_EQ(UpdateRecordOffsetForKey(1, int_key(70, 8).data(), 0x7000), 48);
    EXPECT_EQ(EQLKEY(1, int_key(70, 8).data()), 70u);
    EXPECT_EQ(UpdateRecordOffsetForKey(1, int_key(999, 8).data(), 1), 48);
    EXPECT_EQ(check(1), "");
    ASSERT_EQ(close_index(1), 0);
    ASSERT_EQ(open_index(1, "i.idx"), 0);
    EXPECT_EQ(EQLKEY(1, int_key(50, 8).data()), 5000u);
    EXPECT_EQ(IDXENT(1), 101u);
}

TEST_F(InsertTest, DuplicateKeysAreOrderedByPosition) {
    IndexShape s;
    s.keylen = 12;  // 8 bytes of value, 4 of position
    s.dup = 1;
    ASSERT_EQ(create_index(1, "d.idx", s), 0);
    const uint32_t positions[] = {0x300, 0x100, 0x2000000, 0x200, 0x100000};
    for (uint32_t p : positions) ASSERT_EQ(add(1, "SAMEKEY!????", p), 0);
    ASSERT_EQ(add(1, "SAMEKEY!????", 0x200), 2) << "the same key and position twice";
    ASSERT_EQ(add(1, "OTHERKEY????", 0x50), 0);
    std::vector<Entry> got = scan(1);
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0].key.substr(0, 8), "OTHERKEY");
    std::vector<uint64_t> order;
    for (size_t i = 1; i < got.size(); i++) order.push_back(got[i].pos);
    EXPECT_EQ(order, (std::vector<uint64_t>{0x100, 0x200, 0x300, 0x100000, 0x2000000}));
    // The stored suffix is the position, most significant byte first.
    EXPECT_EQ(got[5].key.substr(8), std::string("\x02\x00\x00\x00", 4));
    EXPECT_EQ(DELBLD(1, "SAMEKEY!????"), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 5);
    EXPECT_EQ(UpdateRecordOffsetForKey(1, got[1].key.data(), 0x150), 48);
    EXPECT_EQ(scan(1)[1].pos, got[1].pos);
    EXPECT_EQ(check(1), "");
}

TEST_F(InsertTest, EightBytePositionsTakeTheHighWordAtEntry) {
    IndexShape s;
    s.wide = true;
    ASSERT_EQ(create_index(1, "w.idx", s), 0);
    zvSETHGH(7);
    ASSERT_EQ(ADDKEY(1, "AAAAAAAA", 1, 0), 0);
    EXPECT_EQ(zvGETHGH(), 0) << "consumed by ADDKEY";
    ASSERT_EQ(ADDKEY(1, "BBBBBBBB", 1, 0), 0);  // high word 0 now
    EXPECT_EQ(EQLKEY(1, "AAAAAAAA"), 1u);
    EXPECT_EQ(zvGETHGH(), 7);
    EXPECT_EQ(EQLKEY(1, "BBBBBBBB"), 1u);
    EXPECT_EQ(zvGETHGH(), 0);
    // DELCHK consumes it too: the wrong high word is a different position.
    EXPECT_EQ(DELCHK(1, "AAAAAAAA", 1), 3);
    zvSETHGH(7);
    EXPECT_EQ(DELCHK(1, "AAAAAAAA", 1), 0);
    EXPECT_EQ(zvGETHGH(), 0);
    // A 4-byte index ignores a high word.
    ASSERT_EQ(create_index(3, "n.idx", IndexShape{}), 0);
    zvSETHGH(9);
    ASSERT_EQ(ADDKEY(3, "CCCCCCCC", 5, 0), 0);
    EXPECT_EQ(EQLKEY(3, "CCCCCCCC"), 5u);
    EXPECT_EQ(zvGETHGH(), 0);
}

TEST_F(InsertTest, WriteThroughLeavesTheDiskCompleteAfterEveryCall) {
    IndexShape s;
    s.mode = 0x40;
    ASSERT_EQ(create_index(1, "t.idx", s), 0);
    std::vector<uint64_t> v;
    for (uint64_t i = 1; i <= 800; i++) v.push_back(i);
    std::shuffle(v.begin(), v.end(), std::mt19937_64(9));
    for (uint64_t x : v) ASSERT_EQ(add(1, int_key(x, 8), x), 0);
    for (uint64_t x = 100; x < 400; x++) ASSERT_EQ(del(1, int_key(x, 8), x), 0);
    // The process ends without a close: the disk holds every change.
    drop_index(1);
    EXPECT_EQ(open_index(1, "t.idx"), 14) << "not closed cleanly";
    ASSERT_EQ(open_index(1, "t.idx", 0x4000), 0);
    EXPECT_EQ(check(1), "");
    EXPECT_EQ(IDXENT(1), 500u);
    EXPECT_EQ(scan(1).size(), 500u);
}

TEST_F(InsertTest, SplitsFollowTheInsertionRun) {
    // 40 keys fill a leaf; a split leaves 6/7, 1/7 or half in the old node.
    IndexShape s;
    const int n = 2000;
    struct Case {
        const char *what;
        int order;  // 1 ascending, -1 descending, 0 random
        double lo, hi;  // mean fill of the leaves (keys per leaf / 40)
    } cases[] = {
        {"ascending", 1, 0.80, 0.90},
        {"descending", -1, 0.80, 0.90},
        {"random", 0, 0.55, 0.80},
    };
    int filno = 1;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string name = std::string(c.what) + ".idx";
        ASSERT_EQ(create_index(filno, name, s), 0);
        std::vector<uint64_t> v;
        for (int i = 1; i <= n; i++) v.push_back(uint64_t(i));
        if (c.order < 0) std::reverse(v.begin(), v.end());
        if (c.order == 0) std::shuffle(v.begin(), v.end(), std::mt19937_64(3));
        for (uint64_t x : v) ASSERT_EQ(add(filno, int_key(x, 8), x), 0);
        std::vector<int> counts = leaf_counts(filno);
        double mean = double(n) / double(counts.size()) / 40.0;
        EXPECT_GE(mean, c.lo);
        EXPECT_LE(mean, c.hi);
        if (c.order > 0) {
            // Each split left 35 of 41 (6/7) behind: full leaves but the last.
            for (size_t i = 0; i + 1 < counts.size(); i++) EXPECT_EQ(counts[i], 35) << i;
        } else if (c.order < 0) {
            // Each split kept (41 / 7) + 1 = 6 in the old (left) node: the
            // leaves to the right hold 35.
            for (size_t i = 1; i < counts.size(); i++) EXPECT_EQ(counts[i], 35) << i;
        }
        EXPECT_EQ(check(filno), "");
        filno++;
    }
}

}  // namespace

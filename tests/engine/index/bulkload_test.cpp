// Bulk key load: large ascending loads at two leaf fill settings, checked
// by scan, search and the structural checker; the shape of the leaves; a
// one-key load; appending onto an index built by insertion; the codes; and
// a finish that fails through the I/O seam, in a plain and in a superfile
// member index.
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/fcb.h"
#include "engine/index/btcheck.h"
#include "engine/index/bulkload.h"
#include "engine/index/navstate.h"
#include "engine/index/node.h"
#include "engine/index/nodecache.h"
#include "tests/engine/index/idxfix.h"
#include "zarvo/zarvo.h"

namespace {

using namespace idxtest;

int load(int filno, uint64_t v, int mode, int32_t keylen = 8) {
    zvSETHGH(0);
    return LOADKEY(filno, int_key(v, keylen).data(), uint32_t(v + 1), mode);
}

// Loads keys first, first + step, ... (count keys) and finishes.
void load_all(int filno, uint64_t first, uint64_t step, int count) {
    for (int i = 0; i < count; i++) ASSERT_EQ(load(filno, first + uint64_t(i) * step, i == 0 ? 0 : 1), 0) << i;
    ASSERT_EQ(LOADKEY(filno, nullptr, 0, 2), 0);
}

// Leaves from the anchor along the successor links: (bytes used, count,
// capacity, element limit, element size), the last one included.
struct LeafShape {
    int32_t nkb, nkv, maxb, maxkv, esize;
};
std::vector<LeafShape> leaves(int filno) {
    std::vector<LeafShape> out;
    FCB *f = fcb_of(filno);
    uint32_t h = f->hdr.ext.lanchrh, l = f->hdr.base.lanchr;
    while (h || l) {
        NODEBUF *b = zvgetnod81(0, h, l, f);
        if (!b) break;
        out.push_back(LeafShape{b->hdr.nkb, b->hdr.nkv, b->maxb, b->maxkv, b->esize});
        h = b->hdr.sucesrh;
        l = b->hdr.sucesr;
    }
    return out;
}

class BulkTest : public IndexTest {};

TEST_F(BulkTest, AHundredThousandAscendingKeysAtTwoFillSettings) {
    restart(64);
    for (int pct : {0, 50}) {
        SCOPED_TRACE(pct);
        ASSERT_EQ(zvSETCFGloadkeyleafpctfull(pct), 0);
        std::string name = "b" + std::to_string(pct) + ".idx";
        ASSERT_EQ(create_index(1, name, IndexShape{}), 0);
        const int n = 100000;
        load_all(1, 10, 3, n);
        EXPECT_EQ(IDXENT(1), uint32_t(n));
        std::vector<Entry> all = scan(1);
        ASSERT_EQ(all.size(), size_t(n));
        for (int i = 0; i < n; i++) {
            uint64_t v = 10 + uint64_t(i) * 3;
            ASSERT_EQ(all[size_t(i)].key, int_key(v, 8));
            ASSERT_EQ(all[size_t(i)].pos, v + 1);
            ASSERT_EQ(EQLKEY(1, int_key(v, 8).data()), uint32_t(v + 1)) << v;
        }
        zv::BtReport rep;
        ASSERT_EQ(zv::btcheck(fcb_of(1), &rep), 0) << rep.message;
        EXPECT_GE(rep.depth, 3);
        EXPECT_EQ(fcb_of(1)->hdr.ext.levels, rep.depth) << "the level count is the depth";
        // Leaf shape: a closed leaf at 50 never uses more than half its
        // capacity; at 0 none has room for one more key.
        std::vector<LeafShape> ls = leaves(1);
        ASSERT_GT(ls.size(), 100u);
        for (size_t i = 0; i + 1 < ls.size(); i++) {
            const LeafShape &s = ls[i];
            if (pct == 50) ASSERT_LE(s.nkb, s.maxb * 50 / 100) << i;
            else ASSERT_TRUE(s.nkb + s.esize > s.maxb || s.nkv + 1 > s.maxkv) << i;
            ASSERT_GE(s.nkv, 2);
        }
        // Above the last key: nothing, without error; an insert there works.
        uint64_t last = 10 + uint64_t(n - 1) * 3;
        zv::set_uerr(99);
        EXPECT_EQ(GTEKEY(1, int_key(last + 1, 8).data(), nullptr), 0u);
        EXPECT_EQ(zvGetUserErrorCode(), 0);
        ASSERT_EQ(add(1, int_key(last + 5, 8), 7), 0);
        EXPECT_EQ(EQLKEY(1, int_key(last + 5, 8).data()), 7u);
        EXPECT_EQ(check(1), "");
        ASSERT_EQ(close_index(1), 0);
        ASSERT_EQ(open_index(1, name), 0);
        EXPECT_EQ(check(1), "");
        ASSERT_EQ(close_index(1), 0);
    }
}

TEST_F(BulkTest, OneKeyGivesAOneLeafRoot) {
    ASSERT_EQ(create_index(1, "one.idx", IndexShape{}), 0);
    ASSERT_EQ(load(1, 42, 0), 0);
    int32_t count = -1, flag = -1;
    ASSERT_EQ(iloadkey81(1, nullptr, 0, 0, 2, &count, &flag), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(flag, 0);
    FCB *f = fcb_of(1);
    EXPECT_EQ(IDXENT(1), 1u);
    EXPECT_EQ(f->hdr.base.root, f->hdr.base.lanchr);
    EXPECT_EQ(f->hdr.ext.levels, 1);
    NODEBUF *b = zvgetnod81(0, 0, f->hdr.base.root, f);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->hdr.leaf, 1);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(highkey_of(b)), 8), std::string(8, '\xFF'));
    EXPECT_EQ(EQLKEY(1, int_key(42, 8).data()), 43u);
    EXPECT_EQ(check(1), "");
    // A standard header keeps no level count.
    IndexShape std_shape;
    std_shape.ext = false;
    ASSERT_EQ(create_index(2, "std.idx", std_shape), 0);
    load_all(2, 1, 1, 500);
    EXPECT_EQ(fcb_of(2)->hdr.ext.levels, -1);
    EXPECT_EQ(check(2), "");
}

TEST_F(BulkTest, ALoadAppendsOntoAnIndexBuiltByInsertion) {
    IndexShape shape;
    shape.keylen = 12;
    shape.dup = 1;
    for (int extra : {3, 2000}) {
        SCOPED_TRACE(extra);
        ASSERT_EQ(create_index(1, "app.idx", shape), 0);
        std::vector<Entry> want;
        for (uint64_t v = 1; v <= 900; v++) {
            ASSERT_EQ(add(1, int_key(v * 2, 12), v + 5000), 0);
            want.push_back(Entry{int_key(v * 2, 8) + std::string("\0\0\0\0", 4), v + 5000});
        }
        ASSERT_GE(fcb_of(1)->hdr.ext.levels, 2);
        // Equal values with rising positions are distinct keys.
        for (int i = 0; i < extra; i++) {
            uint64_t v = 2000 + uint64_t(i / 2), pos = 10000 + uint64_t(i);
            zvSETHGH(0);
            ASSERT_EQ(LOADKEY(1, int_key(v, 12).data(), uint32_t(pos), i == 0 ? 0 : 1), 0) << i;
            want.push_back(Entry{int_key(v, 8) + std::string("\0\0\0\0", 4), pos});
        }
        ASSERT_EQ(LOADKEY(1, nullptr, 0, 2), 0);
        EXPECT_EQ(check(1), "");
        std::vector<Entry> got = scan(1);
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); i++) {
            ASSERT_EQ(got[i].key.substr(0, 8), want[i].key.substr(0, 8)) << i;
            ASSERT_EQ(got[i].pos, want[i].pos) << i;
        }
        EXPECT_EQ(IDXENT(1), uint32_t(want.size()));
        ASSERT_EQ(add(1, int_key(1, 12), 3), 0);
        EXPECT_EQ(check(1), "");
        ASSERT_EQ(close_index(1), 0);
    }
}

TEST_F(BulkTest, Codes) {
    ASSERT_EQ(create_index(1, "c1.idx", IndexShape{}), 0);
    ASSERT_EQ(create_index(2, "c2.idx", IndexShape{}), 0);
    ASSERT_EQ(load(1, 10, 0), 0);
    EXPECT_EQ(load(1, 20, 0), 58) << "a second start";
    EXPECT_EQ(load(2, 20, 1), 58) << "another file";
    EXPECT_EQ(LOADKEY(2, nullptr, 0, 2), 58);
    EXPECT_EQ(load(1, 10, 1), 59) << "equal to the previous key";
    EXPECT_EQ(load(1, 5, 1), 59);
    EXPECT_EQ(load(1, 11, 3), 446);
    EXPECT_EQ(load(1, 11, -1), 446);
    EXPECT_EQ(LOADKEY(1, nullptr, 11, 1), 540);
    EXPECT_EQ(LOADKEY(1, int_key(11, 8).data(), 0, 1), 28);
    ASSERT_EQ(load(1, 11, 1), 0);
    ASSERT_EQ(LOADKEY(1, nullptr, 0, 2), 0);
    EXPECT_EQ(load(1, 11, 0), 59) << "not above the last key of the index";
    EXPECT_EQ(load(1, 11, 1), 58) << "no load running";
    ASSERT_EQ(CREDAT(3, "c.dat", 32, 4096, 0), 0);
    EXPECT_EQ(load(3, 1, 0), 48);
    ASSERT_EQ(close_index(2), 0);
    ASSERT_EQ(open_index(2, "c2.idx", 0x08), 0);
    EXPECT_EQ(load(2, 1, 0), 62) << "read only";
    ASSERT_EQ(close_index(2), 0);
    ASSERT_EQ(open_index(2, "c2.idx", 0x01), 0);
    EXPECT_EQ(load(2, 1, 0), 62) << "shared";
    IndexShape mem;
    mem.memory = 1 << 20;
    ASSERT_EQ(create_index(4, "m.idx", mem), 0);
    ASSERT_EQ(add(4, int_key(5, 8), 6), 0);
    EXPECT_EQ(load(4, 9, 0), 454) << "appending to a memory index";
    EXPECT_EQ(load(5, 9, 0), 26);
}

// Loads 300 ascending keys into the index on filno, made anew by `make` for
// each n, and fails the nth write of its finish, n = 1, 2, ... until the
// finish succeeds (the index then checks sound); `failed` checks each
// failure and `end` gives the files up.
void sweep_failed_finish(int filno, const std::function<void()> &make, const std::function<void()> &failed,
                         const std::function<void()> &end) {
    bool finished = false;
    int failures = 0;
    for (long n = 1; n < 40 && !finished; n++) {
        SCOPED_TRACE(n);
        make();
        if (::testing::Test::HasFatalFailure()) return;
        for (int i = 0; i < 300; i++) ASSERT_EQ(load(filno, uint64_t(i) + 1, i == 0 ? 0 : 1), 0);
        zv::fault_set(zv::IoKind::Write, n, EIO);
        int rc = LOADKEY(filno, nullptr, 0, 2);
        zv::fault_reset();
        if (rc == 0) {
            finished = true;
            EXPECT_EQ(check(filno), "");
        } else {
            failures++;
            failed();
        }
        end();
    }
    EXPECT_TRUE(finished);
    EXPECT_GT(failures, 0);
}

TEST_F(BulkTest, AFailedFinishEndsTheLoad) {
    IndexShape shape;
    shape.mode = 0x40;  // write through: the finish writes at once
    sweep_failed_finish(
        1, [&] { ASSERT_EQ(create_index(1, "f.idx", shape), 0); },
        [] {
            EXPECT_EQ(fcb_of(1)->hdr.base.updflg, 'R') << "marked for rebuild";
            EXPECT_NE(load(1, 1000, 0), 58) << "a new load can start";
            LOADKEY(1, nullptr, 0, 2);
        },
        [] { drop_index(1); });
}

// A superfile member index whose load cannot finish is itself marked for
// rebuild; its host, whose own structures the load never changed, is not.
TEST_F(BulkTest, AFailedFinishInAMemberIndexMarksTheMemberNotItsHost) {
    sweep_failed_finish(
        3,
        [] {
            ASSERT_EQ(CREDAT(1, "h", 0, 0, 0x200), 0);
            ASSERT_EQ(CREIDX(3, "h!ix", 8, 0, 0, 0, 0, 0x40), 0);  // write through
        },
        [] {
            EXPECT_EQ(fcb_of(3)->hdr.base.updflg, 'R') << "the member is marked for rebuild";
            EXPECT_NE(fcb_of(1)->hdr.base.updflg, 'R') << "the host is not";
        },
        [] {
            ASSERT_EQ(CLSFIL(3, 0), 0);
            ASSERT_EQ(CLSFIL(1, 0), 0);
            ASSERT_EQ(remove("h"), 0);
        });
}

TEST_F(BulkTest, StateCanBeRestoredFromASavedImage) {
    ASSERT_EQ(create_index(1, "s.idx", IndexShape{}), 0);
    ASSERT_EQ(load(1, 1, 0), 0);
    zv::LoadState saved = nav_state(zvWNGV).load;
    ASSERT_EQ(LOADKEY(1, nullptr, 0, 2), 0);
    EXPECT_EQ(savlks(&saved, int32_t(sizeof saved) - 1), 446);
    EXPECT_EQ(load(1, 2, 1), 58);
    ASSERT_EQ(savlks(&saved, int32_t(sizeof saved)), 0);
    EXPECT_EQ(nav_state(zvWNGV).load.active, 1);
    EXPECT_EQ(nav_state(zvWNGV).load.filno, 1);
}

TEST_F(BulkTest, NodeHeadersAreReadAlone) {
    ASSERT_EQ(create_index(1, "h.idx", IndexShape{}), 0);
    load_all(1, 1, 1, 200);
    FCB *f = fcb_of(1);
    NODEHDR h;
    ASSERT_EQ(nodctl81(f, 0, f->hdr.base.lanchr, &h, -1, 0), 0);
    NODEBUF *b = zvgetnod81(0, 0, f->hdr.base.lanchr, f);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(wrtnod(b), 0);
    ASSERT_EQ(nodctl81(f, 0, f->hdr.base.lanchr, &h, -1, 0), 0);
    EXPECT_EQ(h.leaf, 1);
    EXPECT_EQ(h.nkv, b->hdr.nkv);
    EXPECT_EQ(h.sucesr, b->hdr.sucesr);
    // A node that carries no space-record wrapper is reported absent.
    ASSERT_EQ(nodctl81(f, 0, f->hdr.base.lanchr, &h, -1, 1), 0);
    EXPECT_EQ(h.leaf, 0);
    EXPECT_EQ(h.nkv, 0);
}

}  // namespace

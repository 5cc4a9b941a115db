// The space index of variable-length files: freeing with merges, best-fit
// reuse with tail splits, stale and damaged keys, double frees, resources
// in variable-length space, and nodes that share cached pages with records.
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>

#include "engine/core/arith.h"
#include "engine/core/highword.h"
#include "engine/core/pools.h"
#include "engine/files/resource.h"
#include "engine/files/spaceidx.h"
#include "engine/files/varrec.h"
#include "engine/index/btcheck.h"
#include "engine/index/idxstate.h"
#include "tests/engine/files/files_util.h"

namespace {

using filestest::Bytes;
using filestest::file_bytes;
using filestest::le32;
using filestest::patch;
using filestest::slice;
using zv::IoKind;

class SpaceIndexTest : public filestest::FilesTest {
protected:
    // A variable-length file without resources: minimum length `min`,
    // standard header, 1024-byte nodes; the first area is at 1024.
    void make_var(int filno, const char *name, uint16_t min = 8, uint16_t mode = 0x804) {
        ASSERT_EQ(CREDATX8(filno, name, min, 0, mode, 0, nullptr, nullptr, nullptr), 0);
    }
    static Bytes record(size_t n, uint8_t seed) {
        Bytes b(n);
        for (size_t i = 0; i < n; i++) b[i] = uint8_t(seed + 7 * i);
        return b;
    }
    uint32_t put(int filno, const Bytes &rec) {
        uint32_t pos = NEWVREC(filno, int32_t(rec.size()));
        if (!pos) return 0;
        Bytes copy = rec;
        if (WRTVREC(filno, pos, copy.data(), int32_t(copy.size()))) return 0;
        return pos;
    }
    VRECHDR header(int filno, uint32_t pos) {
        VRECHDR h{};
        EXPECT_EQ(getvhdr81(fcb(filno), 0, pos, &h), 0);
        return h;
    }
    uint64_t keys(int filno) { return zv::space_keys(fcb(filno)); }
    bool keyed(int filno, uint32_t len, uint32_t pos) {
        return zv::space_has(fcb(filno), fcb(filno), len, pos) == 1;
    }
    uint64_t last_used(int filno) { return zv::join64(fcb(filno)->hdr.ext.numrech, fcb(filno)->hdr.base.numrec); }
    void check_tree(int filno) {
        zv::BtReport r{};
        EXPECT_EQ(zv::btcheck(fcb(filno), &r), 0) << r.message;
        EXPECT_EQ(r.keys, keys(filno));
    }
};

TEST_F(SpaceIndexTest, FreeingNeighboursLeavesOneAreaAndOneKey) {
    make_var(1, "m.dat");
    uint32_t a = put(1, record(20, 1));
    uint32_t b = put(1, record(20, 2));
    ASSERT_EQ(a, 1024u);
    ASSERT_EQ(b, 1054u);
    ASSERT_EQ(RETVREC(1, b), 0);
    EXPECT_EQ(keys(1), 1u);
    ASSERT_EQ(RETVREC(1, a), 0);
    EXPECT_EQ(keys(1), 1u);
    EXPECT_TRUE(keyed(1, 60, 1024));
    EXPECT_FALSE(keyed(1, 30, 1054));
    ASSERT_EQ(CLSFIL(1, 0), 0);
    Bytes f = file_bytes("m.dat");
    EXPECT_EQ(slice(f, 1024, 10), (Bytes{0xFD, 0xFD, 0x3C, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(le32(f, 24), 1u);
    uint32_t root = le32(f, 28);
    ASSERT_NE(root, 0u);
    // The root is a leaf holding the one key: member, length, position.
    EXPECT_EQ(slice(f, root + 8, 2), (Bytes{1, 0}));
    EXPECT_EQ(f[root + 17], 1);
    EXPECT_EQ(slice(f, root + 18, 12), (Bytes{0, 0, 0, 0, 0, 0, 0, 0x3C, 0, 0, 0x04, 0}));
    EXPECT_EQ(slice(f, root - 10, 2), (Bytes{0xBF, 0xFB}));
}

TEST_F(SpaceIndexTest, ReuseTakesTheFirstFitAndSplitsALargeTail) {
    struct Case {
        const char *what;
        uint16_t min;
        int32_t area_payload;  // record length the area was made for
        int32_t rec;           // record written into the reused area
        bool split;
    };
    const Case cases[] = {
        {"a 1000-byte area serves 20 bytes", 8, 990, 20, true},
        {"a rest of 64 bytes stays", 8, 84, 20, false},
        {"a rest of 65 bytes is split", 8, 85, 20, true},
        {"a rest not above minimum + 10 stays", 100, 200, 100, false},
    };
    int n = 1;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string name = "r" + std::to_string(n) + ".dat";
        make_var(n, name.c_str(), c.min);
        uint32_t big = put(n, record(size_t(c.area_payload), 3));
        uint32_t after = put(n, record(c.min, 4));
        ASSERT_NE(after, 0u);
        ASSERT_EQ(RETVREC(n, big), 0);
        uint32_t area = uint32_t(c.area_payload) + 10;
        EXPECT_TRUE(keyed(n, area, big));
        uint64_t end = last_used(n);
        uint32_t pos = NEWVREC(n, c.rec);
        EXPECT_EQ(pos, big);
        EXPECT_EQ(last_used(n), end);
        EXPECT_EQ(keys(n), 0u);
        VRECHDR h = header(n, pos);
        EXPECT_EQ(h.mark, kVrecFree);
        EXPECT_EQ(h.arealen, area);
        Bytes rec = record(size_t(c.rec), 5);
        ASSERT_EQ(WRTVREC(n, pos, rec.data(), c.rec), 0);
        h = header(n, pos);
        EXPECT_EQ(h.mark, kVrecUsed);
        uint32_t used = uint32_t(c.rec) + 10;
        EXPECT_EQ(h.arealen, c.split ? used : area);
        EXPECT_EQ(keys(n), c.split ? 1u : 0u);
        if (c.split) {
            VRECHDR t = header(n, pos + used);
            EXPECT_EQ(t.mark, kVrecFree);
            EXPECT_EQ(t.arealen, area - used);
            EXPECT_TRUE(keyed(n, area - used, pos + used));
        }
        Bytes back(size_t(c.rec));
        EXPECT_EQ(RDVREC(n, pos, back.data(), c.rec), 0);
        EXPECT_EQ(back, rec);
        check_tree(n);
        EXPECT_EQ(CLSFIL(n, 0), 0);
        n++;
    }
}

TEST_F(SpaceIndexTest, AStaleKeyIsDroppedAndLoggedAndTheFileGrows) {
    make_var(1, "s.dat");
    uint32_t a = put(1, record(100, 1));
    put(1, record(8, 2));
    ASSERT_EQ(RETVREC(1, a), 0);
    Bytes mark = {0xFA, 0xFA};
    ASSERT_EQ(zvio81(1, fcb(1), 0, a, mark.data(), 2), 0);
    uint64_t end = last_used(1);
    uint32_t pos = NEWVREC(1, 20);
    EXPECT_EQ(pos, end + 1);
    EXPECT_EQ(zvGetUserErrorCode(), 0);
    EXPECT_EQ(keys(1), 0u);
    std::string log = zvtest::read_file("ZVSTATUS.QVS");
    EXPECT_NE(log.find("member: mark=fafax pos=0000-00000400x: 147"), std::string::npos) << log;
    EXPECT_NE(log.find("s.dat"), std::string::npos);
    check_tree(1);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(SpaceIndexTest, ADamagedSpaceIndexStopsAllocationWithoutGrowth) {
    make_var(1, "d.dat");
    uint32_t a = put(1, record(100, 1));
    put(1, record(8, 2));
    ASSERT_EQ(RETVREC(1, a), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    Bytes f = file_bytes("d.dat");
    uint32_t root = le32(f, 28);
    // The root claims to be a non-leaf with control marks.
    patch("d.dat", root + 12, {1, 0});
    patch("d.dat", root + 17, {0});
    ASSERT_EQ(OPNFIL(1, "d.dat", 0), 0);
    uint64_t end = last_used(1);
    EXPECT_EQ(NEWVREC(1, 20), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 527);
    EXPECT_EQ(last_used(1), end);
    CLSFIL(1, 0);
}

TEST_F(SpaceIndexTest, ASecondFreeIsRefusedAndChangesNothing) {
    make_var(1, "twice.dat");
    uint32_t a = put(1, record(40, 1));
    uint32_t b = put(1, record(40, 2));
    put(1, record(8, 3));
    ASSERT_EQ(RETVREC(1, a), 0);
    uint64_t k = keys(1);
    Bytes before = Bytes(50);
    ASSERT_EQ(zvio81(0, fcb(1), 0, a, before.data(), 50), 0);
    EXPECT_EQ(RETVREC(1, a), 158);
    EXPECT_EQ(keys(1), k);
    Bytes after(50);
    ASSERT_EQ(zvio81(0, fcb(1), 0, a, after.data(), 50), 0);
    EXPECT_EQ(after, before);
    EXPECT_EQ(GTVLEN(1, a), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 158);
    // An area handed out for reuse and not yet written carries its free mark
    // without a key: freeing it is no double free.
    ASSERT_EQ(RETVREC(1, b), 0);
    uint32_t again = NEWVREC(1, 40);
    ASSERT_EQ(again, a);
    EXPECT_EQ(header(1, again).mark, kVrecFree);
    EXPECT_EQ(RETVREC(1, again), 0);
    EXPECT_TRUE(keyed(1, 100, a));
    EXPECT_EQ(keys(1), 1u);
    check_tree(1);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(SpaceIndexTest, ReuseCostsOneSearchAndOneDelete) {
    make_var(1, "cost.dat");
    uint32_t a = put(1, record(60, 1));
    put(1, record(8, 2));
    ASSERT_EQ(RETVREC(1, a), 0);
    ASSERT_EQ(keys(1), 1u);
    long calls = 0;
    for (int k = 0; k < int(IoKind::Count); k++) calls += zv::io_calls(IoKind(k));
    uint64_t allocs = zv::platform_alloc_count();
    uint64_t requests = idx_state(g()).requests;
    EXPECT_EQ(NEWVREC(1, 60), a);
    // A one-level tree: one node request for the search, one for the delete.
    EXPECT_EQ(idx_state(g()).requests - requests, 2u);
    long now = 0;
    for (int k = 0; k < int(IoKind::Count); k++) now += zv::io_calls(IoKind(k));
    EXPECT_EQ(now, calls);
    EXPECT_EQ(zv::platform_alloc_count(), allocs);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(SpaceIndexTest, NodesAndCachedRecordsShareThePagesCoherently) {
    make_var(1, "co.dat");
    std::mt19937 rnd(7);
    std::map<uint32_t, Bytes> live;
    auto add_some = [&](int n) {
        for (int i = 0; i < n; i++) {
            Bytes rec = record(8 + rnd() % 300, uint8_t(i));
            uint32_t pos = put(1, rec);
            ASSERT_NE(pos, 0u) << zvGetUserErrorCode();
            live[pos] = rec;
        }
    };
    // Every other record freed: no two free areas touch, so each keeps a
    // key and the index splits into several nodes between the records.
    add_some(400);
    int k = 0;
    for (auto it = live.begin(); it != live.end();) {
        if (k++ % 2) {
            ASSERT_EQ(RETVREC(1, it->first), 0);
            it = live.erase(it);
        } else {
            ++it;
        }
    }
    add_some(200);
    for (int i = 0; i < 50; i++) {
        auto it = live.begin();
        std::advance(it, long(rnd() % live.size()));
        ASSERT_EQ(RETVREC(1, it->first), 0);
        live.erase(it);
    }
    // Nodes were allocated between records, inside pages that hold records.
    ASSERT_GT(keys(1), 0u);
    const uint64_t ps = uint64_t(g()->pc.pagesize);
    std::set<uint64_t> record_pages;
    for (const auto &[pos, rec] : live) {
        record_pages.insert(pos / ps);
        record_pages.insert((pos + 10 + rec.size() - 1) / ps);
    }
    int nodes = 0, shared = 0;
    for (uint64_t p = 1024; p <= last_used(1);) {
        VRECHDR h = header(1, uint32_t(p));
        ASSERT_GT(h.arealen, 0u);
        if (h.mark == kVrecNode) {
            nodes++;
            if (record_pages.count(p / ps) || record_pages.count((p + h.arealen - 1) / ps)) shared++;
        }
        p += h.arealen;
    }
    EXPECT_GT(nodes, 1);
    EXPECT_GT(shared, 0);
    check_tree(1);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "co.dat", 0), 0);
    for (const auto &[pos, rec] : live) {
        Bytes back(rec.size());
        ASSERT_EQ(RDVREC(1, pos, back.data(), int32_t(back.size())), 0);
        EXPECT_EQ(back, rec);
    }
    check_tree(1);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(SpaceIndexTest, ResourcesLiveInVariableLengthSpace) {
    ASSERT_EQ(CREDATX8(1, "res.dat", 8, 0, 0x4, 0, nullptr, nullptr, nullptr), 0);
    auto body = [](uint32_t type, uint32_t number, size_t n, uint8_t fill) {
        Bytes b(9 + n, fill);
        memcpy(b.data(), &type, 4);
        memcpy(b.data() + 4, &number, 4);
        b[8] = 0;
        return b;
    };
    Bytes a = body(7000, 1, 10, 0x11), b = body(7000, 2, 10, 0x22);
    ASSERT_EQ(ADDRES(1, a.data(), int32_t(a.size())), 0);
    ASSERT_EQ(ADDRES(1, b.data(), int32_t(b.size())), 0);
    uint32_t key[2] = {7000, 1};
    Bytes got(600);
    uint32_t old = GETRES(1, key, got.data(), 600, 2);
    ASSERT_NE(old, 0u);
    // A longer body in the middle moves; the old area becomes free space.
    Bytes moved = body(7000, 1, 500, 0x5A);
    ASSERT_EQ(UPDRES(1, moved.data(), int32_t(moved.size())), 0);
    uint32_t now = GETRES(1, key, got.data(), 600, 2);
    EXPECT_NE(now, old);
    EXPECT_EQ(slice(got, 0, moved.size()), moved);
    EXPECT_EQ(zv::resource_ring_count(1), 3);
    uint32_t probe[3];
    uint32_t first = GETRES(1, nullptr, probe, 12, 8 | 0x40);
    EXPECT_EQ(first, now);
    EXPECT_EQ(probe[1], 1u);
    EXPECT_TRUE(keyed(1, 22 + 19, old));
    EXPECT_EQ(header(1, old).mark, kVrecFree);
    // Deleting frees the area; the ring keeps the rest.
    uint32_t k2[2] = {7000, 2};
    uint32_t bpos = GETRES(1, k2, got.data(), 600, 2);
    ASSERT_EQ(DELRES(1, k2), 0);
    EXPECT_EQ(header(1, bpos).mark, kVrecFree);
    EXPECT_EQ(zv::resource_ring_count(1), 2);
    Bytes rec = record(12, 9), back(12);
    uint32_t pos = put(1, rec);
    ASSERT_NE(pos, 0u);
    EXPECT_EQ(RDVREC(1, pos, back.data(), 12), 0);
    EXPECT_EQ(back, rec);
    check_tree(1);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(SpaceIndexTest, EightByteOffsetsKeyTheFullPosition) {
    XCREblk wide{};
    wide.mode = 0x40;
    ASSERT_EQ(CREDATX8(1, "w8.dat", 8, 0, 0x804, 0, nullptr, nullptr, &wide), 0);
    ASSERT_EQ(fcb(1)->hdr.base.keylen, 16);
    auto put8 = [&](const Bytes &rec) {
        uint32_t lo = NEWVREC(1, int32_t(rec.size()));
        int32_t hi = zvGETHGH();
        Bytes copy = rec;
        zvSETHGH(hi);
        EXPECT_EQ(WRTVREC(1, lo, copy.data(), int32_t(copy.size())), 0);
        return zv::join64(uint32_t(hi), lo);
    };
    uint64_t a = put8(record(30, 1));
    uint64_t b = put8(record(30, 2));
    put8(record(8, 3));
    zvSETHGH(int32_t(b >> 32));
    ASSERT_EQ(RETVREC(1, uint32_t(b)), 0);
    zvSETHGH(int32_t(a >> 32));
    ASSERT_EQ(RETVREC(1, uint32_t(a)), 0);
    EXPECT_EQ(keys(1), 1u);
    EXPECT_TRUE(keyed(1, 80, uint32_t(a)));
    zvSETHGH(int32_t(a >> 32));
    EXPECT_EQ(RETVREC(1, uint32_t(a)), 158);
    uint32_t lo = NEWVREC(1, 70);
    EXPECT_EQ(zv::join64(uint32_t(zvGETHGH()), lo), a);
    EXPECT_EQ(keys(1), 0u);
    check_tree(1);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

}  // namespace

// Index verification, the key dump, leaf control marks and the small entry
// points kept with the node layer.
#include <cstring>
#include <random>
#include <set>
#include <vector>
#include <string>

#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/index/node.h"
#include "engine/index/nodecache.h"
#include "engine/maint/maintstate.h"
#include "tests/engine/index/idxfix.h"
#include "zarvo/zarvo.h"

namespace {

using namespace idxtest;

class MiscTest : public IndexTest {};

TEST_F(MiscTest, VerificationPassesASoundIndexAndFillsItsResults) {
    ASSERT_EQ(create_index(1, "v.idx", IndexShape{}), 0);
    for (uint64_t i = 1; i <= 500; i++) ASSERT_EQ(add(1, int_key(i * 7 % 1000, 8), i), 0);
    VERIFYIDXOPT opt{1, 1 | 2 | 8, 2, 0, nullptr, nullptr};
    VERIFYIDXRES results;
    memset(&results, 0xAB, sizeof results);
    EXPECT_EQ(zvVERIFYidx(1, &opt, &results), 0);
    EXPECT_EQ(results.badnodes, 0);
    EXPECT_EQ(results.badlinks, 0);
    EXPECT_EQ(results.levelnodes[0], 1) << "one root";
    EXPECT_GT(results.levelnodes[1], 1);
    EXPECT_EQ(results.levelnodes[2], int32_t(0xABABABAB)) << "only the room the options give is written";
    EXPECT_EQ(maint_state(zvWNGV).vfyinstalled, 0);
    EXPECT_EQ(maint_state(zvWNGV).vfyprogress, nullptr);
    EXPECT_EQ(zvVERIFYidx(1, nullptr, &results), 540);
    EXPECT_EQ(zvVERIFYidx(1, &opt, nullptr), 540);
    ASSERT_EQ(CREDAT(2, "d.dat", 32, 4096, 0), 0);
    EXPECT_EQ(zvVERIFYidx(2, &opt, &results), 48);
    EXPECT_EQ(zvVERIFYidx(9, &opt, &results), 26);
}

TEST_F(MiscTest, KeyDumpWritesEveryKeyWithItsPosition) {
    IndexShape s;
    s.keylen = 12;
    s.dup = 1;
    ASSERT_EQ(create_index(1, "k.idx", s), 0);
    ASSERT_EQ(add(1, "BBBBBBBB????", 0x20), 0);
    ASSERT_EQ(add(1, "AAAAAAAA????", 0x10), 0);
    ASSERT_EQ(add(1, "BBBBBBBB????", 0x05), 0);
    ASSERT_EQ(close_index(1), 0);
    ZVDIDXDESC d{"k.idx", "k.dump", 3};
    EXPECT_EQ(zvdidx(0, &d), 3);
    std::string want = std::string("AAAAAAAA") + std::string("\x10\0\0\0", 4) + "BBBBBBBB" +
                       std::string("\x05\0\0\0", 4) + "BBBBBBBB" + std::string("\x20\0\0\0", 4);
    EXPECT_EQ(zvtest::read_file("k.dump"), want);
    EXPECT_EQ(zvdidx(0, &d), -1) << "the dump file exists";
    EXPECT_EQ(zvGetUserErrorCode(), 19);
    ZVDIDXDESC d2{"k.idx", "k2.dump", 3};
    EXPECT_EQ(zvdidx(1, &d2), -1);
    EXPECT_EQ(zvGetUserErrorCode(), 23);
    ZVDIDXDESC d3{"none.idx", "k3.dump", 3};
    EXPECT_EQ(zvdidx(0, &d3), -1);
    EXPECT_EQ(zvGetUserErrorCode(), 12);
    EXPECT_EQ(zvdidx(0, nullptr), -1);
    EXPECT_EQ(zvGetUserErrorCode(), 540);
}

TEST_F(MiscTest, NodeReadsSettleLeafControlMarks) {
    // A leaf with room reserved for control fields (file mode 0x10).
    zvWNGV->rebuilding = 1;
    IndexShape s;
    s.mode = 0x10;
    ASSERT_EQ(create_index(1, "m.idx", s), 0);
    FCB *f = fcb_of(1);
    ASSERT_NE(f->elmlimit, int32_t(f->nodesize / 4)) << "control fields present";
    ASSERT_GE(f->elmlimit, 3);
    for (uint64_t i = 1; i <= 3; i++) ASSERT_EQ(add(1, int_key(i * 2, 8), i * 2), 0);
    NODEBUF *b = zvgetnod81(kNodNoSettle, 0, f->hdr.base.root, f);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(b->ctl, nullptr);
    zvmrkexc81(b, 1, kMarkDel, 0, 0);    // no transaction value: stays pending
    zvmrkexc81(b, 2, kMarkDel, 0, 77);   // deleted pending, settled
    zvmrkexc81(b, 3, kMarkAdd, 0, 78);   // added pending, settled
    EXPECT_EQ(b->hdr.numexc, 3);
    EXPECT_EQ(b->hdr.frsexc, 1);
    uint32_t vh, vl;
    EXPECT_EQ(zvelmexc81(b, 3, &vh, &vl), kMarkAdd);
    EXPECT_EQ(vl, 78u);
    putnod(b, b->hdr.nkv, 1);
    // A normal read settles what it may.
    b = zvgetnod81(kNodRead, 0, f->hdr.base.root, f);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->hdr.nkv, 2);
    EXPECT_EQ(b->hdr.numexc, 1);
    EXPECT_EQ(zvelmexc81(b, 1, nullptr, nullptr), kMarkDel) << "still pending";
    EXPECT_EQ(zvelmexc81(b, 2, nullptr, nullptr), kMarkNone) << "the added mark is cleared";
    EXPECT_EQ(b->hdr.frsexc, 1);
    EXPECT_EQ(EQLKEY(1, int_key(4, 8).data()), 0u);
    EXPECT_EQ(EQLKEY(1, int_key(6, 8).data()), 6u);
    // Inserting in front moves the fields along with their elements.
    ASSERT_EQ(add(1, int_key(1, 8), 1), 0);
    b = zvgetnod81(kNodNoSettle, 0, f->hdr.base.root, f);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(zvelmexc81(b, 1, nullptr, nullptr), kMarkNone);
    EXPECT_EQ(zvelmexc81(b, 2, nullptr, nullptr), kMarkDel);
    zvWNGV->rebuilding = 0;
}

TEST_F(MiscTest, MemoryIndexKeepsItsNodesAsRecords) {
    IndexShape s;
    s.memory = 8u << 20;
    s.keytype = 12;
    ASSERT_EQ(create_index(1, "mem.idx", s), 0);
    FCB *f = fcb_of(1);
    ASSERT_TRUE(fcb_is_memory(f));
    std::mt19937_64 rng(5);
    std::set<uint64_t> ref;
    for (int i = 0; i < 3000; i++) {
        uint64_t v = rng() % 5000 + 1;
        if (rng() % 3 == 0 && !ref.empty()) {
            uint64_t d = *ref.lower_bound(v % (*ref.rbegin() + 1));
            ASSERT_EQ(del(1, int_key(d, 8, ' '), d), 0);
            ref.erase(d);
        } else if (!ref.count(v)) {
            ASSERT_EQ(add(1, int_key(v, 8, ' '), v), 0);
            ref.insert(v);
        }
    }
    EXPECT_GE(f->hdr.ext.levels, 2);
    EXPECT_EQ(check(1), "");
    std::vector<uint64_t> got;
    for (const Entry &e : scan(1)) got.push_back(e.pos);
    EXPECT_EQ(got, std::vector<uint64_t>(ref.begin(), ref.end()));
    EXPECT_EQ(zvgetnod81(kNodRead, 0, 4096, f), nullptr) << "not a record of the file";
    EXPECT_EQ(zvGetUserErrorCode(), 160);
    EXPECT_EQ(close_index(1), 0);
}

TEST_F(MiscTest, AnIndexMemberSharesItsHostsFileAndDeletedNodes) {
    XCREblk x{};
    x.mode = 0x02;
    ASSERT_EQ(CREIDXX8(1, "two.idx", 8, 0, 0, 1, 4096, 0, 0, nullptr, nullptr, &x), 0);
    ASSERT_EQ(CREMEM(1, 12, 0, 1, 1), 0);  // member 1 on number 2: duplicate keys
    for (uint64_t i = 1; i <= 400; i++) {
        ASSERT_EQ(add(1, int_key(i, 8), i), 0);
        ASSERT_EQ(add(2, int_key(i % 50, 8) + "????", i), 0);
    }
    // Emptied middle leaves of both go on the host's one stack.
    for (uint64_t i = 100; i <= 300; i++) ASSERT_EQ(del(1, int_key(i, 8), i), 0);
    for (uint64_t i = 1; i <= 400; i++) {
        if (i % 50 >= 10 && i % 50 < 40) {
            ASSERT_EQ(del(2, int_key(i % 50, 8) + "????", i), 0);
        }
    }
    EXPECT_NE(fcb_of(1)->hdr.base.delstk, 0u);
    EXPECT_EQ(check(1), "");
    EXPECT_EQ(check(2), "");
    for (uint64_t i = 1000; i < 1300; i++) ASSERT_EQ(add(2, int_key(i, 8) + "????", i), 0);
    ASSERT_EQ(close_index(1), 0);
    ASSERT_EQ(open_index(1, "two.idx"), 0);
    EXPECT_EQ(check(1), "");
    EXPECT_EQ(check(2), "");
    EXPECT_EQ(IDXENT(1), 199u);
    EXPECT_EQ(IDXENT(2), 400u - 240u + 300u);
    EXPECT_EQ(scan(2).size(), 460u);
}

TEST(IndexEntryPoints, FixedAnswers) {
    zvtest::clear_instance_ring();
    ASSERT_EQ(REGZARVO("entry"), 0);
    EXPECT_EQ(zvDeferredIndexControl(1, 1), 454);
    EXPECT_EQ(zvGetUserErrorCode(), 454);
    EXPECT_EQ(zvRecordUpdateCallbackControl(1, nullptr), 454);
    EXPECT_EQ(zvFILWCD(), 454);
    EXPECT_EQ(RUCB_FileOpenFuncNULL(nullptr, 1), 0);
    EXPECT_EQ(RUCB_FileCloseFuncNULL(nullptr, 1), 0);
    EXPECT_EQ(RUCB_RecordUpdateFuncNULL(nullptr, 1, "x", 1), 0);
    set_debug_callback(nullptr);
    zvrefnot(nullptr);
    EXPECT_EQ(zvcdelm("abc;def;", ';', 8), 4);
    EXPECT_EQ(zvcdelm("abc;def;", ';', 3), 0);
    EXPECT_EQ(zvcdelm(nullptr, ';', 3), 0);
    zvtest::clear_instance_ring();
}

}  // namespace

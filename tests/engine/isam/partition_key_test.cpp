// Partitioned files: the partition marks of a set's indexes and the key
// map of an index that holds the partition key away from its lead.
#include <cstring>
#include <vector>

#include "engine/core/filenum.h"
#include "engine/core/fcb.h"
#include "engine/isam/partition.h"
#include "tests/engine/isam/partfix.h"

namespace {

using namespace parttest;

// A set whose partition index P is the day followed by the number (the
// number, of mode bit 0x200, lies past the partition key); index A leads
// with the day, B holds it after the name, C is the name alone.
struct MarkedDef {
    ISEG sp[2] = {{8, 8, 9}, {16, 4, 0x201}};
    ISEG sa[2] = {{8, 8, 9}, {20, 20, 0}};
    ISEG sb[2] = {{20, 20, 0}, {8, 8, 9}};
    ISEG sc[1] = {{20, 20, 0}};
    IIDX idx[4] = {};
    IFIL ifil = {};
    XCREblk x[5] = {};
    explicit MarkedDef(const char *name) {
        idx[0] = IIDX{12 + 8, 0, 1, 0, 0, 2, sp, "P", nullptr, nullptr, nullptr};
        idx[1] = IIDX{28 + 8, 0, 1, 0, 0, 2, sa, "A", "*m_a.idx", nullptr, nullptr};
        idx[2] = IIDX{28 + 8, 0, 1, 0, 0, 2, sb, "B", "*m_b.idx", nullptr, nullptr};
        idx[3] = IIDX{20 + 8, 0, 1, 0, 0, 1, sc, "C", "*m_c.idx", nullptr, nullptr};
        ifil = IFIL{name, -1, 64, 0, 0, 4, 0, 0, idx, nullptr, nullptr, 0};
        for (XCREblk &b : x) b.mode = 0x40;
        x[0].mode |= zv::kPartHost;
    }
};

class PartKeyTest : public PartTest {
protected:
    // The key-type bits 0x60 of each index as the stored definition gives
    // them.
    static std::vector<int> stored_marks(int d) {
        std::vector<char> buf(4096);
        int32_t n = GETIFIL(d, int32_t(buf.size()), buf.data());
        std::vector<int> out;
        if (n <= 0) return out;
        const IFIL *f = reinterpret_cast<const IFIL *>(buf.data());
        for (int k = 0; k < f->dnumidx; k++) out.push_back(f->iidxarr[k].ikeytyp & 0x60);
        return out;
    }
    // The same bits of the open index headers.
    static std::vector<int> header_marks(int d, int n) {
        std::vector<int> out;
        for (int k = 1; k <= n; k++) out.push_back(zv::fcb_at(d + k)->hdr.base.ktype & 0x60);
        return out;
    }
};

TEST_F(PartKeyTest, MarksFollowWhereThePartitionKeyLies) {
    MarkedDef def("marked");
    ASSERT_EQ(CREIFILX8(&def.ifil, nullptr, nullptr, 0, nullptr, nullptr, def.x), 0);
    const int d = def.ifil.tfilno;
    const std::vector<int> want = {0x20, 0x20, 0x40, 0};
    EXPECT_EQ(stored_marks(d), want);
    EXPECT_EQ(header_marks(d, 4), want);
    // Only B has a key map: the day lies after the 20-byte name.
    const PartKeyMap &mb = zv::fcb_at(d + 3)->partkmap;
    EXPECT_EQ(mb.state, 2);
    EXPECT_EQ(mb.pieces, 1);
    EXPECT_EQ(mb.xoff[0], 20);
    EXPECT_EQ(mb.len[0], 8);
    EXPECT_EQ(zv::fcb_at(d + 2)->partkmap.state, 1);
    unsigned char bkey[36] = {}, pkey[8] = {};
    memset(bkey + 20, 0x5A, 8);
    EXPECT_EQ(zv::usekincmap(zv::fcb_at(d + 3), bkey, pkey), 0);
    EXPECT_EQ(pkey[0], 0x5A);
    EXPECT_EQ(pkey[7], 0x5A);
    EXPECT_EQ(zv::usekincmap(zv::fcb_at(d + 4), bkey, pkey), 897);

    ASSERT_EQ(CLIFIL(&def.ifil), 0);
    MarkedDef again("marked");
    ASSERT_EQ(OPNIFILX(&again.ifil, nullptr, nullptr, nullptr), 0);
    const int r = again.ifil.tfilno;
    EXPECT_EQ(stored_marks(r), want);
    EXPECT_EQ(header_marks(r, 4), want);
    EXPECT_EQ(zv::fcb_at(r + 3)->partkmap.state, 2);
    EXPECT_EQ(zv::fcb_at(r + 3)->partkmap.xoff[0], 20);
    for (int k = 0; k < 4; k++) EXPECT_EQ(again.idx[k].ikeytyp & 0x60, want[size_t(k)]) << k;
}

TEST_F(PartKeyTest, NoUsablePartitionKeyIsRefused) {
    MarkedDef def("nokey");
    def.sp[0].segmode = 0x209;   // the partition key would end before its first segment
    EXPECT_EQ(CREIFILX8(&def.ifil, nullptr, nullptr, 0, nullptr, nullptr, def.x), 895);
    EXPECT_TRUE(files().empty());
    // The pure form agrees, for every index of the set.
    for (int k = 0; k < 4; k++) EXPECT_EQ(zv::zvchkprtidx(nullptr, &def.ifil, k, 0), -895);
    // With B (name, day) as the partition index: A holds both pieces in
    // another order, P only the day, C only the name.
    MarkedDef ok("nokey");
    EXPECT_EQ(zv::zvchkprtidx(nullptr, &ok.ifil, 1, 2), 0x40);
    EXPECT_EQ(zv::zvchkprtidx(nullptr, &ok.ifil, 0, 2), 0);
    EXPECT_EQ(zv::zvchkprtidx(nullptr, &ok.ifil, 3, 2), 0);
    EXPECT_EQ(zv::zvchkprtidx(nullptr, &ok.ifil, 2, 2), 0x20);
}

}  // namespace

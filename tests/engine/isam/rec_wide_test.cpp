// Sets with 8-byte positions: records and keys at positions whose high
// word counts, and key exchanges between positions that differ only in
// their high words (a move across 4 GB), with their undo.
#include <cstring>

#include "engine/isam/isamrec.h"
#include "tests/engine/isam/recfix.h"

namespace {

using namespace rectest;

class RecWideTest : public RecTest {
protected:
    // The customer set with 8-byte positions: the city key carries an
    // 8-byte position suffix.
    int make_wide(CustDef &def) {
        def.idx[1].ikeylen = 28;
        IFILPARM p{};
        p.ifil = &def.ifil;
        XCREblk x[3] = {};
        for (XCREblk &b : x) b.mode = 0x02 | 0x40;
        p.xcre = x;
        EXPECT_EQ(CREIFILz(&p), 0);
        return def.ifil.tfilno;
    }
    static uint64_t key_pos(int ix, const std::string &key) {
        uint32_t lo = EQLKEY(ix, key.data());
        return uint64_t(uint32_t(zvGETHGH())) << 32 | lo;
    }
};

TEST_F(RecWideTest, RecordsOfASetWithEightBytePositions) {
    CustDef def;
    int d = make_wide(def);
    for (uint32_t n = 1; n <= 50; n++) add(d, cust(n, n % 2 ? "Bern" : "Oslo"));
    Cust r;
    ASSERT_EQ(EQLREC(d + 1, num(20).data(), &r), 0);
    strcpy(r.city, "Zug");
    ASSERT_EQ(RWTREC(d, &r), 0);
    ASSERT_EQ(EQLREC(d + 1, num(30).data(), &r), 0);
    ASSERT_EQ(DELREC(d), 0);
    ASSERT_EQ(NXTREC(d + 1, &r), 0);
    EXPECT_EQ(r.number, 31u);
    EXPECT_EQ(check(d), "");
}

// The keys of a record moved to a position with the same low word but
// another high word: every key follows, and the undo brings them back.
TEST_F(RecWideTest, KeysMoveBetweenPositionsThatDifferInTheHighWordOnly) {
    CustDef def;
    int d = make_wide(def);
    add(d, cust(1, "Bern"));
    const uint64_t p = add(d, cust(2, "Oslo"));
    const uint64_t far = p + (uint64_t(1) << 32);
    Cust r = cust(2, "Oslo");
    std::string numkey(4, '\0');
    ASSERT_GT(frmkey(d + 1, &r, numkey.data(), 0, sizeof r), 0);
    std::string citykey(28, '\0');
    {
        zv::UndoGuard u(d);
        ASSERT_EQ(zv::rwtikey81(d, u, &r, far, p, sizeof r), 0);
        EXPECT_EQ(key_pos(d + 1, numkey), far) << "the unique entry moved";
        zvSETHGH(int32_t(far >> 32));
        ASSERT_GT(frmkey(d + 2, &r, citykey.data(), uint32_t(far), sizeof r), 0);
        EXPECT_EQ(key_pos(d + 2, citykey), far) << "the duplicate entry at the new position";
        EXPECT_EQ(IDXENT(d + 2), 2u) << "and the old one gone";
        EXPECT_EQ(u.rollback(), 0);
    }
    EXPECT_EQ(key_pos(d + 1, numkey), p);
    EXPECT_EQ(key_pos(d + 2, citykey), 0u);
    EXPECT_EQ(check(d), "");
}

}  // namespace

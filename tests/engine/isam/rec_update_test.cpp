// Add, rewrite and delete: refusals that change nothing, rewrites that
// touch only the indexes whose keys change, deletes followed by reads and
// adds, conditional indexes, and a failure at a later index of an add.
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/isam/cidx.h"
#include "engine/isam/isammap.h"
#include "tests/engine/isam/recfix.h"
#include "tests/support/conditions.h"

namespace {

using namespace rectest;
using zvtest::SetState;

class RecUpdateTest : public RecTest {
protected:
    // A fresh set of ten customers (numbers 10..100) with record 40 current.
    int fresh(CustDef &def) {
        int d = make(def);
        for (uint32_t n = 10; n <= 100; n += 10) pos_[n] = add(d, cust(n, n <= 50 ? "Bern" : "Rome"));
        Cust r;
        EXPECT_EQ(EQLREC(d + 1, num(40).data(), &r), 0);
        return d;
    }
    std::map<uint32_t, uint64_t> pos_;
};

TEST_F(RecUpdateTest, RefusalsChangeNothing) {
    struct Case {
        const char *what;
        std::function<int(int d)> call;
        int code;
        int file;  // offset of isamfil_num from the data file
    };
    const Case cases[] = {
        {"existing number", [](int d) {
             Cust c = cust(70, "Genf");
             return ADDREC(d, &c);
         }, 2, 1},
        {"an index number", [](int d) {
             Cust c = cust(700, "Genf");
             return ADDREC(d + 1, &c);
         }, 48, 1},
        {"no buffer to add", [](int d) { return ADDREC(d, nullptr); }, 33, 0},
        {"no buffer to rewrite", [](int d) { return RWTREC(d, nullptr); }, 33, 0},
        {"record beginning 0xFF", [](int d) {
             Cust c = cust(700, "Genf");
             c.tag[0] = char(0xFF);
             return ADDREC(d, &c);
         }, 553, 0},
        {"rewrite beginning 0xFE 0xFE", [](int d) {
             Cust c = cust(40, "Bern");
             c.tag[0] = c.tag[1] = char(0xFE);
             return RWTREC(d, &c);
         }, 553, 0},
        {"rewrite to an existing number", [](int d) {
             Cust c = cust(70, "Bern");
             return RWTREC(d, &c);
         }, 2, 1},
        {"partial image longer than the record", [](int d) {
             char img[65] = {};
             return RWTPREC(d, img, 65);
         }, 140, 0},
        {"variable add on a fixed file", [](int d) {
             Cust c = cust(700, "Genf");
             return ADDVREC(d, &c, 64);
         }, 48, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        CustDef def(c.what[0] == 'v' ? "v" : "r");
        int d = fresh(def);
        SetState before;
        ASSERT_EQ(check(d, &before), "");
        const uint64_t cur = curpos(d);
        EXPECT_EQ(c.call(d), c.code);
        EXPECT_EQ(zvGetIsamErrorCode(), c.code);
        EXPECT_EQ(zvGetIsamFileNbr(), d + c.file);
        SetState after;
        EXPECT_EQ(check(d, &after), "");
        EXPECT_TRUE(after == before);
        EXPECT_EQ(curpos(d), cur) << "the current record stays";
        ASSERT_EQ(DELIFIL(&def.ifil), 0);
    }
}

TEST_F(RecUpdateTest, NoCurrentRecordAndARecordDeletedMeanwhile) {
    CustDef def;
    int d = make(def);
    Cust c = cust(5, "Bern");
    EXPECT_EQ(RWTREC(d, &c), 100);
    EXPECT_EQ(DELREC(d), 100);
    EXPECT_EQ(zvGetIsamFileNbr(), d);
    for (uint32_t n = 10; n <= 30; n += 10) add(d, cust(n, "Bern"));
    Cust r;
    ASSERT_EQ(EQLREC(d + 1, num(20).data(), &r), 0);
    ASSERT_EQ(DELREC(d), 0);
    EXPECT_EQ(RWTREC(d, &r), 114);
    EXPECT_EQ(DELREC(d), 114);
    EXPECT_EQ(RRDREC(d, &r), 114);
    EXPECT_EQ(check(d), "");
    EXPECT_EQ(DATENT(d), 2u);
}

TEST_F(RecUpdateTest, UnchangedKeysTouchNoIndexAndAChangedCityMovesOneEntry) {
    CustDef def;
    int d = fresh(def);
    ASSERT_EQ(CLIFIL(&def.ifil), 0);
    ASSERT_EQ(OPNIFIL(&def.ifil), 0);
    d = def.ifil.tfilno;
    Cust r;
    ASSERT_EQ(EQLREC(d + 1, num(40).data(), &r), 0);
    EXPECT_EQ(GETFIL(d + 1, 25), 0);
    EXPECT_EQ(GETFIL(d + 2, 25), 0);
    // Only the name changes: no index is touched.
    strcpy(r.name, "renamed");
    ASSERT_EQ(RWTREC(d, &r), 0);
    EXPECT_EQ(GETFIL(d + 1, 25), 0);
    EXPECT_EQ(GETFIL(d + 2, 25), 0);
    EXPECT_EQ(curpos(d), pos_[40]);
    // A new city moves its entry in the city index only.
    strcpy(r.city, "Zug");
    ASSERT_EQ(RWTREC(d, &r), 0);
    EXPECT_EQ(GETFIL(d + 1, 25), 0);
    EXPECT_NE(GETFIL(d + 2, 25), 0);
    EXPECT_EQ(IDXENT(d + 2), 10u);
    Cust z;
    ASSERT_EQ(LSTREC(d + 2, &z), 0);
    EXPECT_EQ(z.number, 40u);
    EXPECT_STREQ(z.name, "renamed");
    EXPECT_EQ(check(d), "");
}

TEST_F(RecUpdateTest, DeleteThenNextReadsTheFollowingRecordAndTheSlotIsReused) {
    CustDef def;
    int d = fresh(def);
    Cust r;
    ASSERT_EQ(EQLREC(d + 1, num(40).data(), &r), 0);
    ASSERT_EQ(DELREC(d), 0);
    EXPECT_EQ(curpos(d), pos_[40]) << "a delete leaves the current record";
    ASSERT_EQ(NXTREC(d + 1, &r), 0);
    EXPECT_EQ(r.number, 50u);
    ASSERT_EQ(EQLREC(d + 1, num(30).data(), &r), 0);
    ASSERT_EQ(DELREC(d), 0);
    ASSERT_EQ(PRVREC(d + 1, &r), 0);
    EXPECT_EQ(r.number, 20u);
    // Physical order steps over the deleted slots.
    ASSERT_EQ(REDIREC(d, uint32_t(pos_[20]), &r), 0);
    ASSERT_EQ(NXTREC(d, &r), 0);
    EXPECT_EQ(r.number, 50u);
    // The last slot freed is the next one handed out.
    EXPECT_EQ(add(d, cust(35, "Chur")), pos_[30]);
    EXPECT_EQ(add(d, cust(45, "Chur")), pos_[40]);
    EXPECT_EQ(DATENT(d), 10u);
    EXPECT_EQ(check(d), "");
}

// A set of three indexes: two on the city and name (duplicates), the unique
// number last; or the number with key type bit 0x80 after the city.
struct ThreeDef {
    ISEG scity[1] = {{kCityOff, 20, 0}};
    ISEG sname[1] = {{kNameOff, 24, 0}};
    ISEG snum[1] = {{kNumberOff, 4, 1}};
    IIDX idx[3] = {};
    IFIL ifil = {};
    explicit ThreeDef(bool fixedkey) {
        idx[0] = IIDX{kCityKey, 0, 1, 0, 0, 1, scity, nullptr, nullptr, nullptr, nullptr};
        idx[1] = IIDX{28, 0, 1, 0, 0, 1, sname, nullptr, "?_n.idx", nullptr, nullptr};
        idx[2] = IIDX{4, int16_t(fixedkey ? 0x80 : 0), 0, 0, 0, 1, snum, nullptr, "?_k.idx", nullptr, nullptr};
        ifil = IFIL{"three", -1, 64, 0, 0, 3, 0, 0, idx, nullptr, nullptr, 0};
    }
};

TEST_F(RecUpdateTest, AFailureAtTheThirdIndexUndoesTheFirstTwo) {
    ThreeDef def(false);
    ASSERT_EQ(CREIFIL(&def.ifil), 0);
    int d = def.ifil.tfilno;
    add(d, cust(1, "Bern", "Anna"));
    add(d, cust(2, "Oslo", "Beat"));
    SetState before;
    ASSERT_EQ(check(d, &before), "");
    Cust c = cust(2, "Rome", "Carl");
    EXPECT_EQ(ADDREC(d, &c), 2);
    EXPECT_EQ(zvGetIsamFileNbr(), d + 3);
    SetState after;
    EXPECT_EQ(check(d, &after), "");
    EXPECT_TRUE(after == before) << "keys of the first two indexes and the record space returned";
    EXPECT_EQ(DATENT(d), 2u);
}

TEST_F(RecUpdateTest, AKeyThatMayNotChangeRefusesAfterUndoingEarlierIndexes) {
    ThreeDef def(true);
    ASSERT_EQ(CREIFIL(&def.ifil), 0);
    int d = def.ifil.tfilno;
    add(d, cust(1, "Bern", "Anna"));
    add(d, cust(2, "Oslo", "Beat"));
    SetState before;
    ASSERT_EQ(check(d, &before), "");
    Cust r;
    ASSERT_EQ(EQLREC(d + 3, num(2).data(), &r), 0);
    Cust moved = cust(9, "Zug", "Zora");
    EXPECT_EQ(RWTREC(d, &moved), 1001);
    EXPECT_EQ(zvGetIsamFileNbr(), d + 3);
    SetState after;
    EXPECT_EQ(check(d, &after), "");
    EXPECT_TRUE(after == before) << "the city and name entries changed before were put back";
    // The same number with a new city passes.
    Cust ok = cust(2, "Zug", "Zora");
    EXPECT_EQ(RWTREC(d, &ok), 0);
    EXPECT_EQ(check(d), "");
}

// A conditional index holds only the records its condition lets in; a
// rewrite into or out of the condition adds or deletes that one entry.
TEST_F(RecUpdateTest, ConditionalIndexEntriesFollowTheCondition) {
    CustDef def;
    int d = make(def);
    put_schema(d);
    zv::isam_entry(d + 2)->keyflags |= zv::kKeyCondExpr;
    ASSERT_EQ(zvtest::install_conditions(d, {{zv::isam_entry(d + 2)->relidx, "amount % 2 == 0"}}), 0);
    for (uint32_t n = 1; n <= 6; n++) add(d, cust(n, "Bern"));  // amount 3n: even for even n
    EXPECT_EQ(IDXENT(d + 2), 3u);
    EXPECT_EQ(check(d), "");
    Cust r;
    ASSERT_EQ(EQLREC(d + 1, num(3).data(), &r), 0);
    r.amount = 10;  // into the condition
    ASSERT_EQ(RWTREC(d, &r), 0);
    EXPECT_EQ(IDXENT(d + 2), 4u);
    r.amount = 11;  // out again
    ASSERT_EQ(RWTREC(d, &r), 0);
    EXPECT_EQ(IDXENT(d + 2), 3u);
    ASSERT_EQ(EQLREC(d + 1, num(2).data(), &r), 0);
    ASSERT_EQ(DELREC(d), 0);
    EXPECT_EQ(IDXENT(d + 2), 2u);
    EXPECT_EQ(check(d), "");
}

TEST_F(RecUpdateTest, ADataFileWithoutIndexes) {
    IFIL ifil = IFIL{"plain", -1, 64, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, 0};
    ASSERT_EQ(CREIFIL(&ifil), 0);
    int d = ifil.tfilno;
    uint64_t p = add(d, cust(1, "Bern"));
    EXPECT_NE(p, 0u);
    EXPECT_EQ(DATENT(d), 1u);
    ASSERT_EQ(DELREC(d), 0);
    EXPECT_EQ(DATENT(d), 0u);
    EXPECT_EQ(add(d, cust(2, "Bern")), p);
}

// The record position of one key of a set's index changes in place: a
// unique index by its key, a duplicate-key index by the key with its
// position suffix. Only indexes with a key number in use qualify.
TEST_F(RecUpdateTest, UpdateRecordOffsetForKeyOfASetIndex) {
    CustDef def("r");
    int d = fresh(def);
    // Unique index: number 70 now points at record 80.
    std::string key70 = num(70);
    ASSERT_NE(TFRMKEY(d + 1, key70.data()), nullptr);
    EXPECT_EQ(UpdateRecordOffsetForKey(d + 1, key70.data(), pos_[80]), 0);
    zvSETHGH(0);
    EXPECT_EQ(EQLKEY(d + 1, key70.data()), uint32_t(pos_[80]));
    std::string key999 = num(999);
    ASSERT_NE(TFRMKEY(d + 1, key999.data()), nullptr);
    EXPECT_EQ(UpdateRecordOffsetForKey(d + 1, key999.data(), pos_[80]), 101);
    // Duplicate-key index: the entry of record 20 ("Bern") moves to 90's
    // position; the other "Bern" entries stay.
    Cust r;
    ASSERT_EQ(EQLREC(d + 1, num(20).data(), &r), 0);
    char cur[kCityKey];
    int32_t len = 0;
    ASSERT_NE(GETCURK(d + 2, cur, &len), nullptr);
    ASSERT_EQ(len, kCityKey);
    EXPECT_EQ(UpdateRecordOffsetForKey(d + 2, cur, pos_[90]), 0);
    int found20 = 0, found90 = 0;
    std::string bern = city("Bern");
    for (uint32_t p = GTEKEY(d + 2, bern.data(), cur); p; p = NXTKEY(d + 2, cur)) {
        if (memcmp(cur, "Bern", 4) != 0) break;
        found20 += p == uint32_t(pos_[20]);
        found90 += p == uint32_t(pos_[90]);
    }
    EXPECT_EQ(found20, 0);
    EXPECT_EQ(found90, 1);
    // Not an index of the set: 48.
    EXPECT_EQ(UpdateRecordOffsetForKey(d, key70.data(), pos_[10]), 48);
    ASSERT_EQ(CREIDX(40, "plain.idx", 4, 0, 0, 0, 0, 0), 0);
    ASSERT_EQ(ADDKEY(40, "KEY1", 5, 0), 0);
    EXPECT_EQ(UpdateRecordOffsetForKey(40, "KEY1", 6), 48);
    EXPECT_EQ(EQLKEY(40, "KEY1"), 5u);
    EXPECT_EQ(CLSFIL(40, 0), 0);
}

// The serial number drawn for a new record is written into its serial
// segment: an 8-byte segment of a file with 4-byte serials gets four zero
// bytes and the value, most significant byte first; under the profile
// that byte-reverses integer keys, least significant byte first.
TEST_F(RecUpdateTest, SerialSegmentsReceiveTheSerialNumber) {
    for (int profile : {0, kProfile}) {
        SCOPED_TRACE(profile);
        restart(16, 32, profile);
        ISEG sser[1] = {{56, 8, 3}};
        IIDX idx[1] = {IIDX{8, 0, 0, 0, 0, 1, sser, nullptr, nullptr, nullptr, nullptr}};
        std::string name = "serial" + std::to_string(profile);
        IFIL ifil = IFIL{name.c_str(), -1, 64, 0, 0, 1, 0, 0, idx, nullptr, nullptr, 0};
        IFILPARM p{};
        p.ifil = &ifil;
        XCREblk std[2] = {};
        std[0].mode = std[1].mode = 0x10000;  // standard headers: 4-byte serial numbers
        p.xcre = std;
        ASSERT_EQ(CREIFILz(&p), 0);
        int d = ifil.tfilno;
        for (uint32_t n = 1; n <= 3; n++) {
            Cust c = cust(n, "Bern");
            ASSERT_EQ(ADDREC(d, &c), 0);
            const unsigned char most_first[8] = {0, 0, 0, 0, 0, 0, 0, uint8_t(n)};
            const unsigned char least_first[8] = {uint8_t(n), 0, 0, 0, 0, 0, 0, 0};
            EXPECT_EQ(memcmp(c.pad, profile ? least_first : most_first, 8), 0) << n;
        }
        EXPECT_EQ(check(d), "");
        EXPECT_EQ(CLIFIL(&ifil), 0);
    }
}

// While the data file's no-serial flag is set (header attribute 23), new
// records keep the serial bytes they carry, fixed and variable-length
// files alike; the numbers drawn meanwhile are not reused, and once the
// flag is cleared the next record gets the next number again. The serial
// index then orders the kept values among the drawn ones.
TEST_F(RecUpdateTest, TheNoSerialFlagKeepsTheSerialSegmentACopiedRecordCarries) {
    restart(16, 32, 0);
    for (bool variable : {false, true}) {
        SCOPED_TRACE(variable);
        ISEG sser[1] = {{56, 8, 3}};
        IIDX idx[1] = {IIDX{8, 0, 0, 0, 0, 1, sser, nullptr, nullptr, nullptr, nullptr}};
        const char *name = variable ? "keepv" : "keepf";
        IFIL ifil = IFIL{name, -1, 64, 0, int16_t(variable ? 0x4 : 0), 1, 0, 0, idx, nullptr, nullptr, 0};
        ASSERT_EQ(CREIFIL(&ifil), 0);
        const int d = ifil.tfilno;
        auto add_with = [&](uint32_t number, uint64_t serial) {
            Cust c = cust(number, "Bern");
            for (int i = 0; i < 8; i++) c.pad[i] = char(serial >> (8 * (7 - i)));
            EXPECT_EQ(variable ? ADDVREC(d, &c, 64) : ADDREC(d, &c), 0) << number;
            return c;
        };
        ASSERT_EQ(PUTHDR(d, 1, 23), 0);
        const uint64_t kept[] = {0x0000000100000500ull, 700};
        for (uint32_t n = 0; n < 2; n++) {
            Cust c = add_with(n + 1, kept[n]);
            uint64_t stored = 0;
            for (int i = 0; i < 8; i++) stored = stored << 8 | uint8_t(c.pad[i]);
            EXPECT_EQ(stored, kept[n]);
        }
        ASSERT_EQ(PUTHDR(d, 0, 23), 0);
        Cust drawn = add_with(3, 999999);
        const unsigned char third[8] = {0, 0, 0, 0, 0, 0, 0, 3};
        EXPECT_EQ(memcmp(drawn.pad, third, 8), 0);
        std::vector<uint32_t> order;
        Cust r;
        for (int rc = FRSREC(d + 1, &r); rc == 0; rc = NXTREC(d + 1, &r)) order.push_back(r.number);
        EXPECT_EQ(order, (std::vector<uint32_t>{3, 2, 1}));
        EXPECT_EQ(check(d), "");
        EXPECT_EQ(CLIFIL(&ifil), 0);
    }
}

// A serial index walks the records in the order they were added, 4-byte
// and 8-byte serial numbers alike, with integers kept most significant
// byte first (profile 0) or byte-reversed (the ISAM start-up profile 33).
TEST_F(RecUpdateTest, SerialIndexesWalkInSerialOrder) {
    for (int profile : {0, 33}) {
        restart(16, 32, profile);
        for (int width : {4, 8}) {
            SCOPED_TRACE(std::to_string(profile) + " " + std::to_string(width));
            ISEG sser[1] = {{56, int16_t(width), 3}};
            IIDX idx[1] = {IIDX{int16_t(width), 0, 0, 0, 0, 1, sser, nullptr, nullptr, nullptr, nullptr}};
            std::string name = "walk" + std::to_string(profile) + "_" + std::to_string(width);
            IFIL ifil = IFIL{name.c_str(), -1, 64, 0, 0, 1, 0, 0, idx, nullptr, nullptr, 0};
            ASSERT_EQ(CREIFIL(&ifil), 0);
            int d = ifil.tfilno;
            for (uint32_t n = 1; n <= 300; n++) {
                Cust c = cust(n, "Bern");
                ASSERT_EQ(ADDREC(d, &c), 0) << n;
            }
            Cust r;
            uint32_t want = 1;
            for (int rc = FRSREC(d + 1, &r); rc == 0; rc = NXTREC(d + 1, &r)) {
                ASSERT_EQ(r.number, want);
                want++;
            }
            EXPECT_EQ(zvGetIsamErrorCode(), 101);
            EXPECT_EQ(want, 301u);
            for (int rc = LSTREC(d + 1, &r); rc == 0; rc = PRVREC(d + 1, &r)) {
                ASSERT_EQ(r.number, --want);
            }
            EXPECT_EQ(want, 1u);
            EXPECT_EQ(check(d), "");
            EXPECT_EQ(CLIFIL(&ifil), 0);
        }
    }
}

}  // namespace

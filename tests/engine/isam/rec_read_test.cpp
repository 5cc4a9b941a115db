// Reads: the physical walk past deleted records and resources in both
// directions, the record filter in keyed, sequential and whole-record
// reads, a record whose key changed behind the index's back, and the saved
// copy of the current record.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/expr/expr_services.h"
#include "engine/isam/isam_services.h"
#include "tests/engine/isam/recfix.h"
#include "zarvo/zvdbpt.h"

namespace {

using namespace rectest;

using RecReadTest = RecTest;

TEST_F(RecReadTest, ThePhysicalWalkPassesResourcesWholeInBothDirections) {
    CustDef def;
    int d = make(def);
    for (uint32_t n = 1; n <= 5; n++) add(d, cust(n, "Bern"));
    // A resource in the record space whose body looks like records at
    // every record boundary.
    std::string body(8 + 8, '\0');
    const uint32_t type = 10000, number = 1;
    memcpy(body.data(), &type, 4);
    memcpy(body.data() + 4, &number, 4);
    memcpy(body.data() + 8, "looks", 6);
    body.append(400, 'C');
    ASSERT_EQ(ADDRES(d, body.data(), int32_t(body.size())), 0);
    for (uint32_t n = 6; n <= 10; n++) add(d, cust(n, "Bern"));
    Cust r;
    for (uint32_t n : {2u, 7u}) {
        ASSERT_EQ(EQLREC(d + 1, num(n).data(), &r), 0);
        ASSERT_EQ(DELREC(d), 0);
    }
    const std::vector<uint32_t> live = {1, 3, 4, 5, 6, 8, 9, 10};
    EXPECT_EQ(numbers(d, FRSREC, NXTREC), live);
    EXPECT_EQ(numbers(d, LSTREC, PRVREC), std::vector<uint32_t>(live.rbegin(), live.rend()));
    EXPECT_EQ(check(d), "");
}

// The physical walk of a superfile member follows its chain of areas back
// from the newest; a link that does not lead down to an older area (here a
// free area that names itself, or the newest one) is a damaged chain: 158,
// never a walk that goes round.
TEST_F(RecReadTest, AMembersChainThatDoesNotGoDownIs158) {
    for (bool self : {true, false}) {
        SCOPED_TRACE(self ? "a free area names itself" : "a free area names the newest");
        CLISAM();
        ASSERT_EQ(INTISAMX(16, 30, 4, 32, kProfile), 0);
        remove("h");
        ASSERT_EQ(CREDAT(1, "h", 0, 0, 0x200), 0);
        ASSERT_EQ(CREDAT(3, "h!cust", 64, 0, 0), 0);
        uint32_t pos[3];
        for (uint32_t i = 0; i < 3; i++) {
            Cust c = cust(i + 1, "Bern");
            pos[i] = NEWREC(3);
            ASSERT_NE(pos[i], 0u);
            ASSERT_EQ(WRTREC(3, pos[i], &c), 0);
        }
        std::vector<uint32_t> all = numbers(3, FRSREC, NXTREC);
        EXPECT_EQ(all, (std::vector<uint32_t>{3, 2, 1}));
        ASSERT_EQ(CLSFIL(1, 0), 0);
        // The middle area freed (mark FC FC), its link to an older one bent.
        std::string h = zvtest::read_file("h");
        const uint32_t to = self ? pos[1] : pos[2];
        h[pos[1]] = h[pos[1] + 1] = char(0xFC);
        memcpy(h.data() + pos[1] + 14, &to, 4);
        zvtest::write_file("h", h);
        ASSERT_EQ(OPNFIL(3, "h!cust", 0), 0);
        Cust c;
        ASSERT_EQ(FRSREC(3, &c), 0);
        EXPECT_EQ(c.number, 3u);
        EXPECT_EQ(NXTREC(3, &c), 158);
        EXPECT_EQ(CLSFIL(3, 0), 0);
    }
}

TEST_F(RecReadTest, ReadsPassOverRecordsTheFilterRefuses) {
    CustDef def;
    int d = make(def);
    for (uint32_t n = 10; n <= 60; n += 10) add(d, cust(n, "Bern"));
    put_schema(d);
    ASSERT_EQ(SETFLTR(d, "number != 40"), 0);
    Cust r;
    EXPECT_EQ(EQLREC(d + 1, num(40).data(), &r), 101) << "never 739";
    ASSERT_EQ(GTEREC(d + 1, num(40).data(), &r), 0);
    EXPECT_EQ(r.number, 50u);
    ASSERT_EQ(LTEREC(d + 1, num(40).data(), &r), 0);
    EXPECT_EQ(r.number, 30u);
    ASSERT_EQ(NXTREC(d + 1, &r), 0);
    EXPECT_EQ(r.number, 50u);
    ASSERT_EQ(PRVREC(d + 1, &r), 0);
    EXPECT_EQ(r.number, 30u);
    EXPECT_EQ(numbers(d, FRSREC, NXTREC), (std::vector<uint32_t>{10, 20, 30, 50, 60}));
    EXPECT_EQ(numbers(d + 2, LSTREC, PRVREC), (std::vector<uint32_t>{60, 50, 30, 20, 10}));
}

// The data file's own filter (the file layer's filter step): a whole-record
// read passes a record only when the filter says true (any non-zero
// integer); an evaluation error is 598.
TEST_F(RecReadTest, WholeRecordReadsAndTheFilesOwnFilter) {
    CustDef def("vcust", true);
    int d = make(def);
    Cust c = cust(7, "Bern");
    ASSERT_EQ(ADDVREC(d, &c, sizeof c), 0);
    Cust r;
    ASSERT_EQ(EQLREC(d + 1, num(7).data(), &r), 0);
    put_schema(d);
    struct Case {
        const char *filter;
        int want;
    } cases[] = {{"number == 7", 0}, {"number == 8", 739}, {"number / (number - 7) > 0", 598}, {"number - 2", 0}};
    for (const Case &k : cases) {
        ASSERT_EQ(SETFLTR(d, k.filter), 0) << k.filter;
        EXPECT_EQ(REDVREC(d, &r, sizeof r), k.want) << k.filter;
    }
    ASSERT_EQ(SETFLTR(d, "number == 8"), 0);
    EXPECT_EQ(EQLREC(d + 1, num(7).data(), &r), 101);
    EXPECT_EQ(FRSREC(d + 1, &r), 101);
    ASSERT_EQ(SETFLTR(d, "number / 0"), 0);
    EXPECT_EQ(EQLREC(d + 1, num(7).data(), &r), 598);
    ASSERT_EQ(SETFLTRX(d, nullptr), 0);
}

TEST_F(RecReadTest, ARecordWhoseKeyChangedBehindTheIndexIsRefused) {
    CustDef def;
    int d = make(def);
    const uint64_t p = add(d, cust(10, "Bern"));
    add(d, cust(20, "Bern"));
    // The record changes without its keys.
    Cust changed = cust(11, "Bern");
    zvSETHGH(0);
    ASSERT_EQ(WRTREC(d, uint32_t(p), &changed), 0);
    Cust r;
    ASSERT_EQ(EQLREC(d + 1, num(20).data(), &r), 0);
    EXPECT_EQ(EQLREC(d + 1, num(10).data(), &r), 160);
    EXPECT_EQ(zvGetIsamFileNbr(), d);
    EXPECT_EQ(r.number, 11u) << "the record read is in the buffer";
    ASSERT_EQ(RRDREC(d, &r), 0);
    EXPECT_EQ(r.number, 20u) << "the current record stayed";
}

TEST_F(RecReadTest, TheSavedCopyOfTheCurrentRecord) {
    CustDef def;
    int d = make(def);
    const uint64_t p10 = add(d, cust(10, "Bern"));
    const uint64_t p20 = add(d, cust(20, "Oslo"));
    Cust r;
    ASSERT_EQ(EQLREC(d + 1, num(10).data(), &r), 0);
    ASSERT_EQ(UPDCURI(d, 0), 0);
    ASSERT_EQ(EQLREC(d + 1, num(20).data(), &r), 0);
    ASSERT_EQ(UPDCURI(d, 2), 0);
    EXPECT_EQ(curpos(d), p10);
    ASSERT_EQ(NXTREC(d + 1, &r), 0) << "the keys came back with the position";
    EXPECT_EQ(r.number, 20u);
    ASSERT_EQ(UPDCURI(d, 1), 0);
    EXPECT_EQ(curpos(d), p20) << "the saved copy held 20 after the exchange";
    EXPECT_EQ(UPDCURI(d, 3), 116);
    EXPECT_EQ(UPDCURI(d + 1, 0), 48);
    // A record image made current without reading.
    Cust img = cust(10, "Bern");
    ASSERT_EQ(SETCURI(d, uint32_t(p10), &img, 0), 0);
    ASSERT_EQ(NXTREC(d + 2, &r), 0);
    EXPECT_EQ(r.number, 20u);
    ASSERT_EQ(SETCURI(d, uint32_t(p10), nullptr, 0), 0);
    Cust same = cust(10, "Bern");
    EXPECT_EQ(RWTREC(d, &same), 794) << "no key images";
    // The find-value buffer takes at most 1,024 bytes.
    std::string big(2000, 'x');
    EXPECT_EQ(setfndval(big.data(), int32_t(big.size())), 0);
    EXPECT_EQ(setfndval(nullptr, 5), 0);
}

}  // namespace

namespace {

// Records deleted in a fixed-length superfile member are passed over by
// the physical walk, which goes on to the member's older records.
TEST_F(RecReadTest, AMembersWalkPassesItsDeletedRecords) {
    CLISAM();
    ASSERT_EQ(INTISAMX(16, 30, 4, 32, kProfile), 0);
    remove("h");
    ASSERT_EQ(CREDAT(1, "h", 0, 0, 0x200), 0);
    ASSERT_EQ(CREDAT(3, "h!cust", 64, 0, 0), 0);
    uint32_t pos[6];
    for (uint32_t i = 0; i < 6; i++) {
        Cust c = cust(i + 1, "Bern");
        pos[i] = NEWREC(3);
        ASSERT_NE(pos[i], 0u);
        ASSERT_EQ(WRTREC(3, pos[i], &c), 0);
    }
    ASSERT_EQ(RETREC(3, pos[1]), 0);
    ASSERT_EQ(RETREC(3, pos[4]), 0);
    EXPECT_EQ(numbers(3, FRSREC, NXTREC), (std::vector<uint32_t>{6, 4, 3, 1}));
    ASSERT_EQ(CLSFIL(3, 0), 0);
    ASSERT_EQ(OPNFIL(3, "h!cust", 0), 0);
    EXPECT_EQ(numbers(3, FRSREC, NXTREC), (std::vector<uint32_t>{6, 4, 3, 1}));
    EXPECT_EQ(CLSFIL(3, 0), 0);
}

}  // namespace

// The duplicate mode of an index definition against the duplicate handling
// of its index file, distinct-key counting included, wherever a set meets
// its files: the open and the set rename refuse a mismatch (608 at the
// index), so do the parameter files, and the rebuild rewrites the file's
// header to the definition.
#include <cstdio>
#include <set>
#include <string>

#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "tests/support/fixture.h"
#include "tests/support/setfix.h"

namespace {

using settest::CustSet;
using settest::SetTest;

constexpr int kDat = 2;  // the cust set on 2..5: index k on 3 + k

class KeyDupTest : public SetTest {
protected:
    // The duplicate flag in the header of an open index.
    static int flag_of(int filno) { return zvWNGV->fcbtab[filno]->hdr.base.autodup; }
    // Distinct ByName values (index 1) among the first n cust records.
    static uint32_t distinct_names(int n) {
        std::set<std::string> v;
        for (int i = 0; i < n; i++) v.insert(settest::cust_record(i).substr(8, 10));
        return uint32_t(v.size());
    }
    // Opens the cust set on kDat with index k's duplicate mode dup.
    static int open_with(CustSet &s, int k, int dup) {
        s.idx[k].ikeydup = int16_t(dup);
        return OPNIFIL(&s.ifil);
    }
};

// Each change of the counting handling leaves the index with a duplicate
// flag, and the open then takes exactly the definitions of that mode: a
// duplicate index counting with a whole count (5) or with prefix levels
// (3), a unique one counting prefixes (4), either of them not counting.
TEST_F(KeyDupTest, TheOpenTakesTheModeTheIndexCountsIn) {
    {
        CustSet s("cust", kDat);
        ASSERT_EQ(CREIFIL(&s.ifil), 0);
        ASSERT_EQ(add_cust(kDat, 30), 0);
        ASSERT_EQ(CLIFIL(&s.ifil), 0);
    }
    struct Step {
        int k;     // index changed
        int mode;  // zvDISTINCTset mode, 0 for none
        int flag;  // the duplicate flag it leaves
    } steps[] = {
        {1, 0, 1},   {1, 64, 5}, {1, 256, 1},  {1, 1, 3},   {1, 16, 1},  {1, 2, 5},
        {0, 0, 0},   {0, 128, 4}, {0, 256, 0}, {0, 1 | 32, 4}, {0, 64, 0}, {0, 2 | 32, 4},
    };
    int now[2] = {0, 1};  // the definitions that open the set now
    for (const Step &st : steps) {
        SCOPED_TRACE("index " + std::to_string(st.k) + " mode " + std::to_string(st.mode));
        {
            CustSet s("cust", kDat);
            s.idx[0].ikeydup = int16_t(now[0]);
            ASSERT_EQ(open_with(s, 1, now[1]), 0);
            if (st.mode) zvDISTINCTset(3 + st.k, st.mode);
            ASSERT_EQ(zvGetUserErrorCode(), 0);
            EXPECT_EQ(flag_of(3 + st.k), st.flag);
            ASSERT_EQ(CLIFIL(&s.ifil), 0);
        }
        now[st.k] = st.flag;
        for (int dup : {0, 1, 3, 4, 5}) {
            CustSet s("cust", kDat);
            s.idx[1 - st.k].ikeydup = int16_t(now[1 - st.k]);
            const int rc = open_with(s, st.k, dup);
            if (dup == st.flag) {
                EXPECT_EQ(rc, 0) << dup;
                EXPECT_EQ(CLIFIL(&s.ifil), 0);
            } else {
                EXPECT_EQ(rc, 608) << dup;
                EXPECT_EQ(zvGetIsamFileNbr(), 3 + st.k) << dup;
                EXPECT_TRUE(all_free(kDat, kDat + 3)) << dup;
            }
        }
    }
}

// The rename checks every open index against the definition it is given
// (which must also be the stored one): an index that stopped counting no
// longer answers to the counting mode it was created with.
TEST_F(KeyDupTest, TheRenameChecksTheCountingModeOfEveryIndex) {
    CustSet s("cust", kDat);
    s.idx[1].ikeydup = 3;
    ASSERT_EQ(CREIFIL(&s.ifil), 0);
    ASSERT_EQ(add_cust(kDat, 30), 0);
    CustSet moved("moved");
    moved.idx[1].ikeydup = 3;
    moved.idx[2].aidxnam = "*moved_x.idx";
    moved.ifil.tfilno = kDat;
    ASSERT_EQ(RENIFIL(&moved.ifil), 0);
    EXPECT_EQ(zvDISTINCTset(4, 0x100), 0u);  // counting off: flag 1
    ASSERT_EQ(zvGetUserErrorCode(), 0);
    s.ifil.tfilno = kDat;
    EXPECT_EQ(RENIFIL(&s.ifil), 608);
    EXPECT_EQ(zvGetIsamFileNbr(), 4);
    const std::set<std::string> want = {"moved.dat", "moved.idx", "moved_x.idx"};
    EXPECT_EQ(files_in(), want);
    EXPECT_EQ(CLIFIL(&moved.ifil), 0);
}

// A parameter file's index record names the duplicate mode its open file
// must have: after its counting is switched on (flag 5) the text that still
// says 1 stops the open with 608, the one that says 5 opens.
TEST_F(KeyDupTest, ParameterFilesNameTheCountingMode) {
    ASSERT_EQ(CLISAM(), 0);
    auto text = [](int dup) {
        char t[256];
        snprintf(t, sizeof t,
                 "10 6 4 1\n1 pa.dat 64 0 0 2\nfirst last\n2 pa.idx 8 0 0 1 0 0 0 32 1\nByNumber\n0 8 0\n"
                 "3 14 0 %d 0 32 2\nByName\n8 4 0\n12 6 0\n",
                 dup);
        return std::string(t);
    };
    zvtest::write_file("p1.txt", text(1));
    zvtest::write_file("p5.txt", text(5));
    ASSERT_EQ(CREISAM("p1.txt"), 0);
    ASSERT_EQ(add_cust(1, 30), 0);
    EXPECT_EQ(zvDISTINCTset(3, 64), distinct_names(30));
    EXPECT_EQ(flag_of(3), 5);
    ASSERT_EQ(CLISAM(), 0);
    EXPECT_EQ(OPNISAM("p1.txt"), 608);
    EXPECT_EQ(zvWNGV, nullptr);
    ASSERT_EQ(OPNISAM("p5.txt"), 0);
    EXPECT_EQ(zvDISTINCTest(3), distinct_names(30));
    ASSERT_EQ(CLISAM(), 0);
    ASSERT_EQ(INTISAM(10, 20, 4), 0);
}

// The rebuild keeps an index whose handling agrees with the definition and
// recounts it; one that does not (counting or not) takes the definition's
// mode into its header.
TEST_F(KeyDupTest, TheRebuildTakesTheDefinitionsMode) {
    {
        CustSet s("cust", kDat);
        ASSERT_EQ(CREIFIL(&s.ifil), 0);
        ASSERT_EQ(add_cust(kDat, 30), 0);
        EXPECT_EQ(zvDISTINCTset(4, 64), distinct_names(30));
        ASSERT_EQ(CLIFIL(&s.ifil), 0);
    }
    struct Case {
        int dup;
        bool counts;
    } cases[] = {{5, true}, {1, false}, {3, true}, {5, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.dup);
        CustSet s("cust", kDat);
        s.idx[1].ikeydup = int16_t(c.dup);
        ASSERT_EQ(RBLIFIL(&s.ifil), 0);
        ASSERT_EQ(OPNIFIL(&s.ifil), 0);
        EXPECT_EQ(flag_of(4), c.dup);
        const uint32_t n = zvDISTINCTest(4);
        EXPECT_EQ(zvGetUserErrorCode(), c.counts ? 0 : 845);
        EXPECT_EQ(n, c.counts ? distinct_names(30) : 0u);
        EXPECT_EQ(IDXENT(4), 30u);
        ASSERT_EQ(CLIFIL(&s.ifil), 0);
    }
}

}  // namespace

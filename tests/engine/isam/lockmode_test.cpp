// The ISAM lock mode: requests and the modes they lead to, the query, the
// refusals, and the locks that ISAM calls hold on the instance's lock lists.
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/lockent.h"
#include "engine/core/pools.h"
#include "tests/engine/isam/recfix.h"
#include "tests/support/engine.h"

namespace {

using namespace rectest;

class LockModeTest : public RecTest {
protected:
    static INSTGV *g() { return zvWNGV; }
    // Appends an entry with these flags to lock list `list`.
    static LOCKENT *lock(int list, uint8_t flags) {
        auto *e = static_cast<LOCKENT *>(zvgetlst(zv::kListLock));
        EXPECT_NE(e, nullptr);
        e->flags = flags;
        if (g()->locktail[list]) g()->locktail[list]->next = e;
        else g()->lockhead[list] = e;
        g()->locktail[list] = e;
        return e;
    }
    static std::vector<int> flags_of(int list) {
        std::vector<int> out;
        LOCKENT *last = nullptr;
        for (LOCKENT *e = g()->lockhead[list]; e; e = e->next) {
            out.push_back(e->flags);
            last = e;
        }
        EXPECT_EQ(g()->locktail[list], last);
        return out;
    }
};

TEST_F(LockModeTest, RequestsAndTheModesTheyLeadTo) {
    struct Case {
        uint16_t from;
        int request, result;
        uint16_t to;
    };
    const Case cases[] = {
        {0, 1, 0, 2},      // release on a free instance turns locking on
        {3, 1, 0, 3},      // ... and keeps an enabled mode
        {4, 0, 0, 0},      // release and free
        {0, 5, 0, 0},      // suspend when free: nothing
        {3, 5, 0, 5},      // suspend
        {5, 7, 0, 4},      // restores: 6 -> 2, 7 -> 4, 8 -> 3, 14 -> 11
        {5, 6, 0, 2},  {5, 8, 0, 3},  {5, 14, 0, 11},
        {0, 6, 0, 0},      // restore when not suspended: nothing
        {12, 7, 0, 12},
        {2, 3, 0, 3},      // an enabled mode is replaced at once
        {12, 11, 0, 11}, {11, 12, 0, 12}, {0, 13, 0, 13},
        {3, 9, 0, 3},  {3, 10, 0, 3}, {3, 200, 0, 3},  // accepted, nothing changes
        {3, 0x0100, 446, 3}, {3, 0x1002, 446, 3}, {3, -1, 446, 3},
        {3, 0x0200, 454, 3}, {3, 0x0202, 454, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " <- " << c.request);
        g()->isamlockmode = c.from;
        EXPECT_EQ(LKISAM(c.request), c.result);
        EXPECT_EQ(zvGetUserErrorCode(), c.result);
        EXPECT_EQ(zvGetIsamErrorCode(), c.result);
        EXPECT_EQ(g()->isamlockmode, c.to);
    }
    // The query: minus the mode, in both codes too (16-bit).
    for (uint16_t mode : {0, 2, 3, 5, 13}) {
        g()->isamlockmode = mode;
        EXPECT_EQ(LKISAM(128), -int(mode)) << mode;
        EXPECT_EQ(zvGetUserErrorCode(), uint16_t(-int(mode)));
        EXPECT_EQ(zvGetIsamErrorCode(), uint16_t(-int(mode)));
        EXPECT_EQ(g()->isamlockmode, mode);
    }
    // As the table says: 1 on a free instance, then the query.
    ASSERT_EQ(LKISAM(0), 0);
    ASSERT_EQ(LKISAM(1), 0);
    EXPECT_EQ(LKISAM(128), -2);
    ASSERT_EQ(LKISAM(3), 0);
    EXPECT_EQ(LKISAM(128), -3);
    EXPECT_EQ(zvGetIsamErrorCode(), 0xFFFD);
}

TEST_F(LockModeTest, BeforeIsamStartUpEveryRequestIs464) {
    CLISAM();
    ASSERT_EQ(zvtest::start_engine(8, 4, 8, 16), 0);
    for (int request : {0, 1, 2, 128, 0x100}) {
        EXPECT_EQ(LKISAM(request), 464) << request;
        EXPECT_EQ(zvGetUserErrorCode(), 464);
        EXPECT_EQ(zvGetIsamErrorCode(), 464);
        EXPECT_EQ(zvGetIsamFileNbr(), 0);
    }
    EXPECT_EQ(g()->isamlockmode, 0);
}

TEST_F(LockModeTest, LocksTakenByIsamCallsBlockEnablingAndAreReleased) {
    const int32_t used = g()->lists[zv::kListLock].total - g()->lists[zv::kListLock].free;
    lock(0, 0x08);
    lock(0, 0x04);
    lock(0, 0x00);
    lock(9, 0x01);
    ASSERT_EQ(LKISAM(3), 112);
    EXPECT_EQ(zvGetIsamErrorCode(), 112);
    EXPECT_EQ(g()->isamlockmode, 0);
    // Another enabled mode replaces this one at once, before the lists are
    // looked at; the same mode again and 12 look at them.
    g()->isamlockmode = 2;
    EXPECT_EQ(LKISAM(4), 0);
    EXPECT_EQ(LKISAM(4), 112);
    EXPECT_EQ(LKISAM(12), 112);
    EXPECT_EQ(g()->isamlockmode, 4);
    // Under the system code -3 a release only clears their flags.
    g()->sysiocod = uint16_t(-3);
    zv::set_uerr(41);
    EXPECT_EQ(LKISAM(1), 0);
    EXPECT_EQ(zvGetUserErrorCode(), 0);
    EXPECT_EQ(flags_of(0), (std::vector<int>{0x08, 0x00, 0x00}));
    EXPECT_EQ(flags_of(9), (std::vector<int>{0x00}));
    g()->sysiocod = 0;
    lock(0, 0x04);
    lock(0, 0x05);
    // Release: the ISAM-held entries leave their lists; the mode is freed.
    EXPECT_EQ(LKISAM(0), 0);
    EXPECT_EQ(g()->isamlockmode, 0);
    EXPECT_EQ(flags_of(0), (std::vector<int>{0x08, 0x00, 0x00}));
    EXPECT_EQ(g()->lists[zv::kListLock].total - g()->lists[zv::kListLock].free, used + 4);
    EXPECT_EQ(zv::check_list(zv::kListLock), 0);
    EXPECT_EQ(LKISAM(13), 0);
    EXPECT_EQ(g()->isamlockmode, 13);
    // Through the function-number entry.
    EXPECT_EQ(zarvo(0x2104, 0, nullptr, nullptr, nullptr, nullptr, 5), 0);
    EXPECT_EQ(g()->isamlockmode, 5);
}

}  // namespace

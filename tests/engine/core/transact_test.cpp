// Transactions of the non-logging build: the lock scope, savepoints, the
// release of lock entries by mode and the ISAM lock mode.
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/lockent.h"
#include "engine/core/pools.h"
#include "tests/support/engine.h"
#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"

namespace {

class TransactTest : public zvtest::ZvTest {
protected:
    void SetUp() override {
        ZvTest::SetUp();
        // Under the ISAM layer: lock modes need it.
        ASSERT_EQ(INTISAMX(8, 4, 8, 16, 33), 0);
    }
    void TearDown() override {
        zvtest::stop_engine();
        ZvTest::TearDown();
    }
    INSTGV *g() { return zvWNGV; }
    static int uerr() { return zvGetUserErrorCode(); }

    // Appends an entry with `flags` and tag `tag` to lock list `list`.
    void lock(int list, uint8_t flags, uint8_t tag) {
        auto *e = static_cast<LOCKENT *>(zvgetlst(zv::kListLock));
        ASSERT_NE(e, nullptr);
        e->flags = flags;
        e->spare[0] = tag;
        if (g()->locktail[list]) g()->locktail[list]->next = e;
        else g()->lockhead[list] = e;
        g()->locktail[list] = e;
    }
    // The tags of a list in order; checks that the tail is its last entry.
    std::vector<int> tags(int list) {
        std::vector<int> out;
        LOCKENT *last = nullptr;
        for (LOCKENT *e = g()->lockhead[list]; e; e = e->next) {
            out.push_back(e->spare[0]);
            last = e;
        }
        EXPECT_EQ(g()->locktail[list], last) << "list " << list;
        return out;
    }
    // Lists 0 and 15 with entries of every flag combination, list 7 with
    // only entries that mode 41 releases.
    void fill() {
        for (int list : {0, 15}) {
            lock(list, 0x00, 1);
            lock(list, 0x04, 2);
            lock(list, 0x08, 3);
            lock(list, 0x0C, 4);
            lock(list, 0x00, 5);
        }
        lock(7, 0x04, 6);
        lock(7, 0x04, 7);
    }
    int32_t used_entries() { return g()->lists[zv::kListLock].total - g()->lists[zv::kListLock].free; }
};

TEST_F(TransactTest, BeginOpensOneTransaction) {
    EXPECT_EQ(TRANRDY(), 71);
    EXPECT_EQ(uerr(), 71);
    EXPECT_EQ(TRANBEG(0x200), 0);
    EXPECT_EQ(uerr(), 454);
    EXPECT_EQ(g()->tranactive, 0);
    EXPECT_EQ(TRANBEG(0), 1);
    EXPECT_EQ(g()->isamlockmode, 0);
    EXPECT_EQ(TRANRDY(), 0);
    EXPECT_EQ(TRANBEG(0), 0);
    EXPECT_EQ(uerr(), 70);
    EXPECT_EQ(TRANABT(), 0);
    EXPECT_EQ(TRANABT(), 71);
    EXPECT_EQ(uerr(), 71);
    EXPECT_EQ(TRANEND(0), 71);
    ASSERT_EQ(TRANBEG(0), 1);
    EXPECT_EQ(TRANEND(0x200), 454);
    EXPECT_EQ(uerr(), 454);
    EXPECT_EQ(TRANRDY(), 71);

    struct Case {
        int32_t mode;
        uint16_t lockmode;
    };
    // 6 and 7 restore a suspended mode only: from a free one nothing changes.
    const Case cases[] = {{5, 11}, {2, 2}, {3, 3}, {4, 4}, {6, 0}, {7, 0}, {0x100 | 2, 2}, {1, 2}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        EXPECT_EQ(TRANBEG(c.mode), 1);
        EXPECT_EQ(g()->isamlockmode, c.lockmode);
        EXPECT_EQ(TRANEND(7), 0);  // keeps the lock mode
        EXPECT_EQ(g()->isamlockmode, c.lockmode);
        EXPECT_EQ(TRANBEG(0), 1);
        EXPECT_EQ(TRANEND(0), 0);  // frees it
        EXPECT_EQ(g()->isamlockmode, 0);
    }
    // A lock mode that LKISAM refuses opens nothing: before ISAM start-up.
    zvtest::stop_engine();
    ASSERT_EQ(zvtest::start_engine(8, 4, 8, 16), 0);
    EXPECT_EQ(TRANBEG(1), 0);
    EXPECT_EQ(uerr(), 464);
    EXPECT_EQ(TRANRDY(), 71);
    EXPECT_EQ(TRANBEG(0), 1);  // without a lock mode it opens
    EXPECT_EQ(TRANABT(), 0);
}

TEST_F(TransactTest, SavepointsAreCounted) {
    EXPECT_EQ(TRANSAV(), 0);
    EXPECT_EQ(uerr(), 71);
    EXPECT_EQ(SAVPCLR(), 71);
    EXPECT_EQ(TRANRST(0), 71);
    ASSERT_EQ(TRANBEG(0), 1);
    EXPECT_EQ(TRANRST(0), 71);  // no savepoint yet
    EXPECT_EQ(TRANSAV(), 1);
    EXPECT_EQ(TRANSAV(), 2);
    EXPECT_EQ(TRANRST(1), 0);
    EXPECT_EQ(g()->savepoints, 1);
    EXPECT_EQ(TRANRST(-1), 0);
    EXPECT_EQ(g()->savepoints, 1);
    EXPECT_EQ(TRANRST(3), 71);
    EXPECT_EQ(TRANRST(-2), 71);
    EXPECT_EQ(g()->savepoints, 1);
    EXPECT_EQ(TRANSAV(), 2);
    EXPECT_EQ(TRANSAV(), 3);
    EXPECT_EQ(TRANRST(-2), 0);  // two back from 3: to 2
    EXPECT_EQ(g()->savepoints, 2);
    EXPECT_EQ(SAVPCLR(), 0);
    EXPECT_EQ(uerr(), 0);
    EXPECT_EQ(g()->savepoints, 1);
    EXPECT_EQ(SAVPCLR(), 0);
    EXPECT_EQ(SAVPCLR(), 71);
    EXPECT_EQ(TRANABT(), 0);
    EXPECT_EQ(g()->savepoints, 0);
    ASSERT_EQ(TRANBEG(0), 1);
    EXPECT_EQ(TRANSAV(), 1);  // the count restarts with each transaction
    EXPECT_EQ(TRANABT(), 0);
}

TEST_F(TransactTest, EndReleasesLocksByMode) {
    struct Case {
        int mode;
        int result;
        std::vector<int> list0, list7;
        uint16_t lockmode_after;
    };
    const Case cases[] = {
        {0, 0, {}, {}, 0},
        {41, 0, {1, 3, 5}, {}, 11},
        {42, 0, {3, 4}, {}, 11},
        {7, 0, {1, 2, 3, 4, 5}, {6, 7}, 11},
        {0x10000 + 41, 0, {1, 3, 5}, {}, 11},  // compared on 16 bits
        {0x200, 454, {1, 2, 3, 4, 5}, {6, 7}, 11},
        {0x200 | 41, 454, {1, 2, 3, 4, 5}, {6, 7}, 11},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        const int32_t before = used_entries();
        ASSERT_EQ(TRANBEG(5), 1);
        fill();
        EXPECT_EQ(TRANABTX(c.mode), c.result);
        EXPECT_EQ(uerr(), c.result);
        EXPECT_EQ(TRANRDY(), 71);  // closed in every case
        EXPECT_EQ(tags(0), c.list0);
        EXPECT_EQ(tags(15), c.list0);
        EXPECT_EQ(tags(7), c.list7);
        EXPECT_EQ(g()->isamlockmode, c.lockmode_after);
        EXPECT_EQ(used_entries() - before, int32_t(2 * c.list0.size() + c.list7.size()));
        EXPECT_EQ(zv::check_list(zv::kListLock), 0);
        // Empty the lists for the next case.
        ASSERT_EQ(TRANBEG(0), 1);
        ASSERT_EQ(TRANEND(0), 0);
        for (int i = 0; i < zv::kLockLists; i++) {
            EXPECT_EQ(g()->lockhead[i], nullptr);
            EXPECT_EQ(g()->locktail[i], nullptr);
        }
        EXPECT_EQ(used_entries(), before);
    }
}

TEST_F(TransactTest, UnsupportedRequests) {
    zv::set_uerr(7);
    EXPECT_EQ(TRANCLR(), 0);
    EXPECT_EQ(SPCLSAV(), 0);
    EXPECT_EQ(uerr(), 7);
    EXPECT_EQ(TRANUSR(), 0);
    EXPECT_EQ(uerr(), 454);
    struct Case {
        int level, code;
    };
    for (const Case &c : {Case{4, 116}, Case{100, 116}, Case{3, 454}, Case{1, 454}, Case{0, 454}}) {
        zv::set_uerr(7);
        EXPECT_EQ(TRANISO(c.level), c.code) << c.level;
        EXPECT_EQ(uerr(), c.code);
    }
}

TEST_F(TransactTest, IsamLockModes) {
    // Requests in order, each with its answer and the mode after it.
    struct Case {
        int request, result;
        uint16_t mode;
    };
    const Case cases[] = {
        {0, 0, 0},   {2, 0, 2},   {3, 0, 3},   {4, 0, 4},   {5, 0, 5},       {6, 0, 2},
        {7, 0, 2},   {8, 0, 2},   {11, 0, 11}, {12, 0, 12}, {13, 0, 13},     {14, 0, 13},
        {1, 0, 13},  {9, 0, 13},  {10, 0, 13}, {15, 0, 13}, {0x100 | 2, 446, 13}, {-1, 446, 13},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(LKISAM(c.request), c.result) << c.request;
        EXPECT_EQ(uerr(), c.result) << c.request;
        EXPECT_EQ(g()->isamlockmode, c.mode) << c.request;
    }
}

}  // namespace

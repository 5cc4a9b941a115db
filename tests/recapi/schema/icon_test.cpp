// Record contexts of an open table: slots handed out and grown, shared and
// released, reset with the files, and a switch to an open slot that costs
// one engine call.
#include <gtest/gtest.h>

#include "engine/core/pools.h"
#include "engine/isam/context.h"
#include "recapi/schema/icon.h"
#include "tests/recapi/schema/custfix.h"

namespace {

class IconTest : public schematest::CustTest {
protected:
    void SetUp() override {
        CustTest::SetUp();
        cust();
        ASSERT_EQ(zvdbCreateTable(table_, "cust", 0), 0) << last();
        ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
        ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
    }
    void TearDown() override {
        EXPECT_EQ(zvdbCloseTable(table_), 0);
        CustTest::TearDown();
    }
    // Takes n slots; each must be the next one.
    void add(int n, int32_t first = 0) {
        for (int i = 0; i < n; i++) {
            int32_t slot = -1;
            ASSERT_EQ(_zvdbIconAdd(table_, &slot), 0);
            ASSERT_EQ(slot, first + i);
        }
    }
    // Engine contexts open on the table's data file.
    int contexts() const {
        int n = 0;
        for (int id = 0; id < 4096; id++) {
            const ISAMCTX *c = zv::find_context(int16_t(id));
            n += c && c->datno == table_->datno;
        }
        return n;
    }
    ZVDBICONSLOT &slot(int i) { return table_->icons->slots[i]; }
};

TEST_F(IconTest, TheThirtyThirdSlotGrowsTheArray) {
    add(33);
    EXPECT_EQ(table_->icons->capacity, 64);
    EXPECT_EQ(table_->icons->used, 33);
    EXPECT_EQ(table_->icons->current, 32);
    EXPECT_EQ(contexts(), 33);
    for (int i = 33; i < 64; i++) EXPECT_EQ(slot(i).context, -1);
}

TEST_F(IconTest, AnAddAfterAResetTakesAFreeSlotWithoutLeakingAContext) {
    add(32);
    ASSERT_EQ(_zvdbIconReset(table_), 0);
    EXPECT_EQ(contexts(), 0);
    EXPECT_EQ(table_->icons->used, 0);
    EXPECT_EQ(table_->icons->current, -1);
    for (int i = 0; i < 32; i++) EXPECT_EQ(slot(i).users, 1);
    add(1, 32);
    EXPECT_EQ(table_->icons->capacity, 64);
    EXPECT_EQ(contexts(), 1);
}

TEST_F(IconTest, ASharedSlotClosesAtItsLastRelease) {
    add(1);
    ASSERT_EQ(_zvdbIconAttach(table_, 0), 0);
    const int32_t context = slot(0).context;
    ASSERT_EQ(_zvdbIconRelease(table_, 0), 0);
    EXPECT_NE(zv::find_context(int16_t(context)), nullptr);
    EXPECT_EQ(slot(0).users, 1);
    ASSERT_EQ(_zvdbIconRelease(table_, 0), 0);
    EXPECT_EQ(zv::find_context(int16_t(context)), nullptr);
    EXPECT_EQ(slot(0).context, -1);
    EXPECT_EQ(slot(0).users, 0);
    EXPECT_EQ(table_->icons->used, 0);
}

TEST_F(IconTest, AfterAResetReleasesCloseNothingAndSwitchesOpenNewContexts) {
    add(2);
    const int32_t old = slot(0).context;
    ASSERT_EQ(_zvdbIconReset(table_), 0);
    const uint64_t closed = zv::icon_counts().closed;
    EXPECT_EQ(_zvdbIconRelease(table_, 1), 0);
    EXPECT_EQ(zv::icon_counts().closed, closed);
    // The slot-0 holder's next switch opens a fresh context.
    const uint64_t opened = zv::icon_counts().opened;
    int32_t s = 0;
    ASSERT_EQ(_zvdbIconSwitch(table_, &s), 0);
    EXPECT_EQ(zv::icon_counts().opened, opened + 1);
    EXPECT_NE(slot(0).context, -1);
    EXPECT_EQ(zv::find_context(int16_t(old)), nullptr);
    EXPECT_EQ(table_->icons->current, 0);
    EXPECT_EQ(contexts(), 1);
}

TEST_F(IconTest, SwitchingToAnOpenSlotIsOneEngineCallAndNoAllocation) {
    add(2);
    int32_t s = 0;
    const zv::IconCounts before = zv::icon_counts();
    const uint64_t allocs = zv::platform_alloc_count();
    ASSERT_EQ(_zvdbIconSwitch(table_, &s), 0);
    EXPECT_EQ(zv::platform_alloc_count(), allocs);
    EXPECT_EQ(zv::icon_counts().switched, before.switched + 1);
    EXPECT_EQ(zv::icon_counts().opened, before.opened);
    EXPECT_EQ(table_->icons->current, 0);
}

TEST_F(IconTest, SlotNumbersOutsideTheArrayAreRefused) {
    int32_t s = table_->icons->capacity;
    mark();
    EXPECT_EQ(_zvdbIconSwitch(table_, &s), ZVDB_ISAM_CONTEXT);
    EXPECT_EQ(last(), ZVDB_ISAM_CONTEXT);
    EXPECT_EQ(_zvdbIconAttach(table_, s), ZVDB_ISAM_CONTEXT);
    EXPECT_EQ(_zvdbIconRelease(table_, -1), ZVDB_ISAM_CONTEXT);
    EXPECT_EQ(_zvdbIconSwitch(table_, nullptr), ZVDB_NULL_ARGUMENT);
    // A new slot taken by a switch below 0.
    s = -1;
    ASSERT_EQ(_zvdbIconSwitch(table_, &s), 0);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(slot(0).users, 1);
}

TEST_F(IconTest, CloseResetsTheContextsBeforeTheFilesGo) {
    add(3);
    ASSERT_EQ(zvdbCloseTable(table_), 0);
    for (int i = 0; i < 3; i++) EXPECT_EQ(slot(i).context, -1);
    EXPECT_EQ(table_->icons->used, 0);
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    ASSERT_EQ(zvdbOpenTable(table_, "cust", 0), 0) << last();
    int32_t s = 2;
    ASSERT_EQ(_zvdbIconSwitch(table_, &s), 0);
    EXPECT_EQ(contexts(), 1);
}

}  // namespace

#include "tests/support/tablesession.h"

#include "engine/core/platform.h"
#include "engine/core/pools.h"

namespace zvtest {

void TableSessionTest::SetUp() {
    ZvTest::SetUp();
    zv::fault_reset();
    session_ = static_cast<tagZVDBSESSION *>(zvdbAllocSession(1));
    ASSERT_NE(session_, nullptr);
    ASSERT_EQ(zvdbLogon(session_, nullptr, "tester", nullptr), 0);
    table_ = static_cast<tagZVDBTABLE *>(zvdbAllocTable(session_));
    ASSERT_NE(table_, nullptr);
}

void TableSessionTest::small_caches(int32_t buffers) {
    ASSERT_EQ(zvdbLogout(session_), 0);
    ASSERT_EQ(zvdbSetSessionParams(session_, 1, buffers), 0);
    ASSERT_EQ(zvdbSetSessionParams(session_, 4, buffers), 0);
    ASSERT_EQ(zvdbLogon(session_, nullptr, "tester", nullptr), 0);
}

void TableSessionTest::TearDown() {
    zv::fail_alloc_at(0);
    zvdbFreeTable(table_);
    EXPECT_EQ(zvdbFreeSession(session_), 0);
    zv::fault_reset();
    ZvTest::TearDown();
}

}  // namespace zvtest

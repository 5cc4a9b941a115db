// ISAM start and stop around the engine: tables made and released with it.
#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/isam/isam_services.h"
#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"

namespace {

using zvtest::ZvTest;

class IsamServicesTest : public ZvTest {
protected:
    void TearDown() override {
        zv::fail_alloc_at(0);
        ZvTest::TearDown();
    }
    static int16_t entry(int i) { return static_cast<int16_t *>(zvWNGV->isamtab)[i]; }
};

TEST_F(IsamServicesTest, StartAllocatesTablesForFilsPlusThree) {
    uint64_t a0 = zv::platform_alloc_count(), f0 = zv::platform_free_count();
    ASSERT_EQ(INTISAMX(6, 7, 4, 6, 33), 0);
    INSTGV *g = zvWNGV;
    ASSERT_NE(g->isamtab, nullptr);
    EXPECT_EQ(g->isamtabn, 10);
    for (int i = 0; i < 10; i++) EXPECT_EQ(entry(i), -1) << i;
    EXPECT_EQ(g->isamerr_cod, 0);
    EXPECT_EQ(CLISAM(), 0);
    EXPECT_EQ(WCHZARVO(), nullptr);
    EXPECT_EQ(zv::platform_alloc_count() - a0, zv::platform_free_count() - f0);
}

TEST_F(IsamServicesTest, FailedEngineStartReleasesTheTablesAndSetsTheIsamError) {
    ASSERT_EQ(REGZARVO("x"), 0);
    uint64_t a0 = zv::platform_alloc_count(), f0 = zv::platform_free_count();
    EXPECT_EQ(INTISAMX(6, -1, 4, 6, 33), 11);
    EXPECT_EQ(zvGetUserErrorCode(), 11);
    EXPECT_EQ(zvGetIsamErrorCode(), 11);
    EXPECT_EQ(zvGetIsamFileNbr(), 0);
    EXPECT_EQ(zvWNGV->isamtab, nullptr);
    EXPECT_EQ(zv::platform_alloc_count() - a0, zv::platform_free_count() - f0);
    // The next start clears the ISAM error.
    EXPECT_EQ(INTISAM(6, 7, 4), 0);
    EXPECT_EQ(zvGetIsamErrorCode(), 0);
}

TEST_F(IsamServicesTest, TablesGrowKeepingTheirEntries) {
    ASSERT_EQ(INTISAM(6, 2, 4), 0);
    INSTGV *g = zvWNGV;
    ASSERT_EQ(g->isamtabn, 5);
    static_cast<int16_t *>(g->isamtab)[4] = 44;
    EXPECT_NE(zv::redoisam(9), 0);
    EXPECT_EQ(g->isamtabn, 9);
    EXPECT_EQ(entry(4), 44);
    EXPECT_EQ(entry(8), -1);
    // Out of memory: 0, the old tables stay.
    void *before = g->isamtab;
    zv::fail_alloc_at(1);
    EXPECT_EQ(zv::redoisam(20), 0);
    zv::fail_alloc_at(0);
    EXPECT_EQ(g->isamtab, before);
    EXPECT_EQ(g->isamtabn, 9);
    EXPECT_EQ(entry(4), 44);
}

TEST_F(IsamServicesTest, StopWithoutAStartedEngineGives410) {
    EXPECT_EQ(CLISAM(), 410);
    ASSERT_EQ(REGZARVO("x"), 0);
    EXPECT_EQ(CLISAM(), 410);
    EXPECT_EQ(zvGetUserErrorCode(), 410);
    EXPECT_EQ(FREBAT(), 0);
}

}  // namespace

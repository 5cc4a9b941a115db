// ISAM start and stop around the engine: tables made and released with it.
#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/index/idxstate.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"
#include "engine/isam/isamstate.h"
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
    // An entry as start-up leaves it: nothing defined, empty lists.
    static void expect_empty(int i) {
        const zv::ISAMMAPENT *e = zv::isam_entry(i);
        ASSERT_NE(e, nullptr) << i;
        EXPECT_EQ(e->inuse, 0) << i;
        EXPECT_EQ(e->datno, 0xFFFF) << i;
        EXPECT_EQ(e->relidx, 0xFFFF) << i;
        EXPECT_EQ(e->keytyp, 0xFFFF) << i;
        EXPECT_EQ(e->idxnam, nullptr) << i;
        EXPECT_EQ(zv::isam_actlist(i)[0], 0xFFFF) << i;
        EXPECT_EQ(zv::isam_deflist(i)[63], 0xFFFF) << i;
        EXPECT_EQ(zv::isam_segs(i)[0].soffset, zv::kSegEnd) << i;
    }
};

TEST_F(IsamServicesTest, StartAllocatesTablesForFilsPlusThree) {
    uint64_t a0 = zv::platform_alloc_count(), f0 = zv::platform_free_count();
    ASSERT_EQ(INTISAMX(6, 7, 4, 6, 33), 0);
    INSTGV *g = zvWNGV;
    ASSERT_NE(idx_state(g).isamtab, nullptr);
    EXPECT_EQ(idx_state(g).isamtabn, 10);
    for (int i = 0; i < 10; i++) expect_empty(i);
    EXPECT_EQ(zv::isam_entry(10), nullptr);
    EXPECT_EQ(isam_state(g).resv[0], 7);
    EXPECT_EQ(isam_state(g).resv[2], 9);
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
    EXPECT_EQ(idx_state(zvWNGV).isamtab, nullptr);
    // The engine itself refuses (sectors below 1): the
    // tables made before are released again.
    EXPECT_EQ(INTISAMX(6, 7, 0, 6, 33), 11);
    EXPECT_EQ(idx_state(zvWNGV).isamtab, nullptr);
    // No memory for the tables: 83.
    zv::fail_alloc_at(2);
    EXPECT_EQ(INTISAMX(6, 7, 4, 6, 33), 83);
    zv::fail_alloc_at(0);
    EXPECT_EQ(zvGetIsamErrorCode(), 83);
    EXPECT_EQ(idx_state(zvWNGV).isamtab, nullptr);
    EXPECT_EQ(zv::platform_alloc_count() - a0, zv::platform_free_count() - f0);
    // The next start clears the ISAM error.
    EXPECT_EQ(INTISAM(6, 7, 4), 0);
    EXPECT_EQ(zvGetIsamErrorCode(), 0);
}

TEST_F(IsamServicesTest, TablesGrowKeepingTheirEntries) {
    ASSERT_EQ(INTISAM(6, 2, 4), 0);
    INSTGV *g = zvWNGV;
    ASSERT_EQ(idx_state(g).isamtabn, 5);
    zv::isam_entry(4)->datno = 44;
    zv::isam_actlist(4)[1] = 7;
    zv::isam_segs(4)[2].slength = 9;
    EXPECT_NE(zv::redoisam(9), 0);
    EXPECT_EQ(idx_state(g).isamtabn, 9);
    EXPECT_EQ(zv::isam_entry(4)->datno, 44);
    EXPECT_EQ(zv::isam_actlist(4)[1], 7);
    EXPECT_EQ(zv::isam_segs(4)[2].slength, 9);
    for (int i = 5; i < 9; i++) expect_empty(i);
    // No shrinking.
    EXPECT_NE(zv::redoisam(3), 0);
    EXPECT_EQ(idx_state(g).isamtabn, 9);
    // Out of memory at the first or a later array: 0, the old tables stay.
    for (long nth : {1L, 3L}) {
        void *before = idx_state(g).isamtab;
        zv::fail_alloc_at(nth);
        EXPECT_EQ(zv::redoisam(20), 0);
        zv::fail_alloc_at(0);
        EXPECT_EQ(idx_state(g).isamtab, before);
        EXPECT_EQ(idx_state(g).isamtabn, 9);
        EXPECT_EQ(zv::isam_entry(4)->datno, 44);
        EXPECT_EQ(zv::isam_segs(4)[2].slength, 9);
    }
}

TEST_F(IsamServicesTest, StopWithoutAStartedEngineGives410) {
    EXPECT_EQ(CLISAM(), 410);
    ASSERT_EQ(REGZARVO("x"), 0);
    EXPECT_EQ(CLISAM(), 410);
    EXPECT_EQ(zvGetUserErrorCode(), 410);
    EXPECT_EQ(FREBAT(), 0);
}

TEST_F(IsamServicesTest, StopOfAnEngineStartedWithoutTheIsamLayer) {
    ASSERT_EQ(INTREE(6, 7, 4), 0);
    EXPECT_EQ(idx_state(zvWNGV).isamtab, nullptr);
    EXPECT_EQ(CLISAM(), 0);
    EXPECT_EQ(WCHZARVO(), nullptr);
}

}  // namespace

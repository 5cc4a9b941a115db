// Engine options: the operation-mode word and the configuration settings.
#include <string>

#include "engine/core/instance.h"
#include "engine/core/startup.h"
#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"

namespace {

using zvtest::ZvTest;

class EngineOptionsTest : public ZvTest {
protected:
    void SetUp() override {
        ZvTest::SetUp();
        ASSERT_EQ(REGZARVO("opts"), 0);
        g = zvWNGV;
    }
    INSTGV *g = nullptr;
};

TEST(EngineOptionsNoInstance, CallsNeedAnInstance) {
    zvtest::clear_instance_ring();
    EXPECT_EQ(SETOPS(0x1, 2), 47);
    EXPECT_EQ(zvclrlockon(), 0);
    EXPECT_EQ(zvSETCFGloadkeyleafpctfull(50), 47);
    EXPECT_EQ(zvSETCFGnontranfsflushoff("YES"), 47);
    EXPECT_EQ(SETNODE("n"), 0);
}

TEST_F(EngineOptionsTest, RefusedRequestsGive116AndLeaveTheWord) {
    const struct {
        int32_t bits, request;
    } cases[] = {
        {0x24, 1},        // two bits of the exclusive group
        {0x10, 1},        // outside 0x7E3FD1EF
        {0x04, 4},        // group bit with a request of 4
        {0x05, 2},        // group bit not alone
        {0x20, -1},
        {0x01, 7},        // unknown request
        {static_cast<int32_t>(0x80000000u), 2},
    };
    for (auto c : cases) {
        g->opsmode = 0x00106011u;
        g->uerr_cod = 0;
        EXPECT_EQ(SETOPS(c.bits, c.request), 0x00106011) << std::hex << c.bits << " " << c.request;
        EXPECT_EQ(g->uerr_cod, 116);
        EXPECT_EQ(g->opsmode, 0x00106011u);
    }
}

TEST_F(EngineOptionsTest, RequestOneKeepsOnlyThreeBits) {
    g->opsmode = 0x00106010u | 0x00000101u | 0x20000000u;
    g->uerr_cod = 9;
    EXPECT_EQ(SETOPS(0x02, 1), 0x00106012);
    EXPECT_EQ(g->opsmode, 0x00106012u);
    EXPECT_EQ(g->uerr_cod, 0);
}

TEST_F(EngineOptionsTest, SetClearReadAndModeValue) {
    g->opsmode = 0x20000000u;
    EXPECT_EQ(SETOPS(0x0101, 2), 0x0101);
    EXPECT_EQ(SETOPS(0x0001, 0), 0x0100);
    g->opsmode |= 0x20000000u;
    EXPECT_EQ(SETOPS(0, 3), 0x0100);  // a read clears 0x20000000 as well
    EXPECT_EQ(g->opsmode, 0x0100u);
    // Bit 0x08 stores its request value, which request 4 reads back.
    EXPECT_EQ(SETOPS(0x08, 5), 0x0108);
    EXPECT_EQ(SETOPS(0, 4), 5);
    EXPECT_EQ(SETOPS(0x08, 0), 0x0100);
    EXPECT_EQ(SETOPS(0, 4), 0);
}

TEST_F(EngineOptionsTest, LockOnModesAreSetAloneAndClearedTogether) {
    g->opsmode = 0x0101u;
    EXPECT_EQ(SETOPS(0x04, 1), 0x0105);  // the group's request 1 keeps the other bits
    EXPECT_EQ(SETOPS(0x20, 2), 0x0125);
    EXPECT_EQ(zvclrlockonbits(0x21), 0x21);
    EXPECT_EQ(g->opsmode, 0x0104u);
    EXPECT_EQ(SETOPS(0x20, 2), 0x0124);
    EXPECT_EQ(zvclrlockon(), 0x24);
    EXPECT_EQ(g->opsmode, 0x0100u);
    EXPECT_EQ(zvclrlockon(), 0);
}

TEST_F(EngineOptionsTest, ConfigurationTextIsParsedWithoutBeingWritten) {
    // Every text is a string literal: writing into one would crash.
    const struct {
        int option;
        const char *text;
        int rc;
        int pct;  // stored percentage, -1: unchanged
    } cases[] = {
        {11, " loadkey_leaf_pct_full 90", 0, 90},
        {11, "LOADKEY_LEAF_PCT_FULL\t100  ", 0, 100},
        {11, "  Loadkey_Leaf_Pct_Full   0", 0, 0},
        {11, " loadkey_leaf_pct_full 101", 749, -1},
        {11, "loadkey_leaf_pct_full -5", 749, -1},
        {11, "loadkey_leaf_pct_full 9x", 749, -1},
        {11, "loadkey_leaf_pct_full", 749, -1},
        {11, "loadkey_leaf_pct_full   ", 749, -1},
        {11, "other_keyword 90", 749, -1},
        {11, "", 749, -1},
        {10, " loadkey_leaf_pct_full 90", 749, -1},
        {11, nullptr, 540, -1},
    };
    for (auto c : cases) {
        g->loadkeyleafpct = 55;
        EXPECT_EQ(zvSETCFG(c.option, c.text), c.rc) << (c.text ? c.text : "(null)");
        EXPECT_EQ(g->loadkeyleafpct, c.pct < 0 ? 55 : c.pct) << (c.text ? c.text : "(null)");
    }
}

TEST_F(EngineOptionsTest, YesNoSettings) {
    const struct {
        const char *text;
        int rc;
        int flag;  // -1: unchanged
    } cases[] = {{"YES", 0, 1}, {"yes", 0, 1}, {"No", 0, 0}, {"maybe", 749, -1},
                 {"YES ", 749, -1}, {"", 749, -1}, {nullptr, 540, -1}};
    for (auto c : cases) {
        int flag = 7;
        EXPECT_EQ(zvSETCFGBoolean(c.text, &flag), c.rc) << (c.text ? c.text : "(null)");
        EXPECT_EQ(flag, c.flag < 0 ? 7 : c.flag);
    }
    EXPECT_EQ(zvSETCFGBoolean("YES", nullptr), 540);

    EXPECT_EQ(zvSETCFG_SUPPRESS_PATH_IN_IFIL("no"), 0);
    EXPECT_EQ(zv::suppress_path_in_ifil(), 0);
    EXPECT_EQ(zvSETCFG_SUPPRESS_PATH_IN_IFIL("maybe"), 749);
    EXPECT_EQ(zv::suppress_path_in_ifil(), 0);
    EXPECT_EQ(zvSETCFG_SUPPRESS_PATH_IN_IFIL("Yes"), 0);
    EXPECT_EQ(zv::suppress_path_in_ifil(), 1);

    EXPECT_EQ(zvSETCFGnontranfsflushoff("yes"), 0);
    EXPECT_EQ(g->nontranfsflushoff, 1u);
    EXPECT_EQ(zvSETCFGnontranfsflushoff("perhaps"), 749);
    EXPECT_EQ(g->nontranfsflushoff, 1u);
    EXPECT_EQ(zvSETCFGnontranfsflushoff("NO"), 0);
    EXPECT_EQ(g->nontranfsflushoff, 0u);
}

TEST_F(EngineOptionsTest, SetnodeClearsTheErrorCode) {
    g->uerr_cod = 12;
    EXPECT_EQ(SETNODE("node"), 0);
    EXPECT_EQ(g->uerr_cod, 0);
}

}  // namespace

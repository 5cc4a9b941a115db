// Entry points of services this build does not support.
#include <functional>
#include <string>

#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"

namespace {

using zvtest::ZvTest;

class UnsupportedTest : public ZvTest {};

struct Entry {
    const char *name;
    std::function<int()> call;
    int result;
    int uerr_after;  // -1: unchanged (5)
};

TEST_F(UnsupportedTest, EveryEntryAnswersItsFixedCode) {
    ASSERT_EQ(REGZARVO("u"), 0);
    int64_t v = 0;
    int32_t h = 0;
    const Entry entries[] = {
        {"ZVHIST", [] { return ZVHIST(0, nullptr, 0, 0, nullptr, nullptr, nullptr, 0, 0); }, 454, 454},
        {"CHGHST", [] { return CHGHST(0); }, 454, 454},
        {"FREHST", [] { return FREHST(0); }, 454, 454},
        {"FREHSTN", [] { return FREHSTN(0); }, 454, 454},
        {"zvSNAPSHOT", [] { return zvSNAPSHOT(0, nullptr, nullptr, 0); }, 454, 454},
        {"SYSMON", [] { return SYSMON(0, 0, nullptr, 0); }, 454, 454},
        {"SYSLOG", [] { return SYSLOG(0, 0, nullptr, 0); }, 454, 454},
        {"zvLOKDMP", [] { return zvLOKDMP(0, nullptr, 0); }, 454, 454},
        {"zvSETCOMPRESS", [] { return zvSETCOMPRESS(0, 0, nullptr, nullptr, 0); }, 454, 454},
        {"getCMPRECres", [] { return getCMPRECres(nullptr, 0); }, 454, 454},
        {"zvQUIET", [] { return zvQUIET(nullptr, 0, 0); }, 454, 454},
        {"zvFILBLK", [] { return zvFILBLK(0, nullptr); }, 454, 454},
        {"ZVASYNC", [] { return ZVASYNC(0, nullptr); }, -454, -1},
        {"zvImpersonateTask", [] { return zvImpersonateTask(0); }, 454, -1},
        {"zvCMPRECexit", [] { return zvCMPRECexit(); }, 454, -1},
        {"setCMPRECres", [] { return setCMPRECres(nullptr, 0); }, 454, -1},
        {"zvReplAgentSetCallback", [] { return zvReplAgentSetCallback(nullptr, 0, nullptr); }, 454, -1},
        {"zvReplAgentSetState", [] { return zvReplAgentSetState(nullptr, 0); }, 454, -1},
        {"zvReplAgentSetArgs", [] { return zvReplAgentSetArgs(nullptr, nullptr); }, 454, -1},
        {"zvCreateSequence", [] { return zvCreateSequence(nullptr); }, 454, -1},
        {"zvDeleteSequence", [] { return zvDeleteSequence(nullptr); }, 454, -1},
        {"zvOpenSequence", [&] { return zvOpenSequence(nullptr, &h); }, 454, -1},
        {"zvCloseSequence", [] { return zvCloseSequence(0); }, 454, -1},
        {"zvGetSequenceAttrs", [] { return zvGetSequenceAttrs(0, nullptr); }, 454, -1},
        {"zvSetSequenceAttrs", [] { return zvSetSequenceAttrs(0, nullptr); }, 454, -1},
        {"zvGetCurrentSequenceValue", [&] { return zvGetCurrentSequenceValue(0, &v); }, 454, -1},
        {"zvSetCurrentSequenceValue", [] { return zvSetCurrentSequenceValue(0, 1); }, 454, -1},
        {"zvGetNextSequenceValue", [&] { return zvGetNextSequenceValue(0, &v); }, 454, -1},
        {"ZVUSER", [] { return ZVUSER(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0); }, 0, -1},
        {"ZVUSERX", [] { return ZVUSERX(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr); }, 0, -1},
        {"ZVSQLCTL", [] { return ZVSQLCTL(0, nullptr, 0, nullptr, nullptr); }, 0, -1},
        {"ZVSRVCTL", [] { return ZVSRVCTL(0, nullptr, 0, nullptr, nullptr); }, 0, -1},
        {"zvCMPREChndl", [] { return zvCMPREChndl(nullptr); }, 0, -1},
        {"zvcamosys", [] { return zvcamosys(nullptr, 0); }, 0, -1},
    };
    for (const auto &e : entries) {
        uerr(5);
        usys(9);
        EXPECT_EQ(e.call(), e.result) << e.name;
        EXPECT_EQ(zvGetUserErrorCode(), e.uerr_after < 0 ? 5 : e.uerr_after) << e.name;
        bool clears_sys = std::string(e.name) == "zvQUIET" || std::string(e.name) == "zvFILBLK";
        EXPECT_EQ(zvGetSystemErrorCode(), clears_sys ? 0 : 9) << e.name;
    }
    uerr(5);
    retCMPRECres();
    EXPECT_EQ(zvGetUserErrorCode(), 5);
}

TEST_F(UnsupportedTest, AnswersWithoutAnInstance) {
    EXPECT_EQ(zvQUIET(nullptr, 0, 0), 454);
    EXPECT_EQ(ZVASYNC(0, nullptr), -454);
}

}  // namespace

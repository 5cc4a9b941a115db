// The swap of two partitioned sets (SWPIFILX) whose new set has a member
// the old one has not, ended by a kill at any link, rename or delete: the
// next open of the set finishes the swap from its note or finds the old
// set whole, and never refuses the note. The files of the member the old
// set lacks are known from the set under its own names by their naming
// rule, not from the new files the note names.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "tests/engine/isam/partfix.h"
#include "tests/support/faultsweep.h"

namespace {

using namespace parttest;
namespace fs = std::filesystem;

constexpr int kKilled = 77;

// The last call's code.
int err() { return zvWNGV->isamerr_cod ? zvWNGV->isamerr_cod : zvWNGV->uerr_cod; }

std::string status_log() { return fs::exists("ZVSTATUS.QVS") ? zvtest::read_file("ZVSTATUS.QVS") : ""; }

TEST_F(PartTest, ASwapBringingAMemberTheOldSetLacksIsFinishedAfterAKill) {
    // "sales": members 1 and 2; "fresh": members 1, 2 and 3.
    SalesDef old("sales", Rule::Region), neu("fresh", Rule::Region);
    int d = make_regions(old);
    ASSERT_GE(d, 0);
    for (uint32_t r = 1; r <= 2; r++) ASSERT_EQ(add(d, sale(r, 0, int32_t(r))), 0);
    ASSERT_EQ(CLIFIL(&old.ifil), 0);
    d = make_regions(neu);
    ASSERT_GE(d, 0);
    for (uint32_t r = 1; r <= 3; r++) ASSERT_EQ(add(d, sale(10 + r, 0, int32_t(r))), 0);
    ASSERT_EQ(CLIFIL(&neu.ifil), 0);
    zvtest::save_template();
    long olds = 0, news = 0, finished = 0;
    zvtest::kill_sweep(
        {zv::IoKind::Link, zv::IoKind::Rename, zv::IoKind::Unlink}, kKilled, 200,
        [&] {
            restore_files();
            fs::remove("ZVSTATUS.QVS");
        },
        [&](zv::IoKind kind, long n) {
            zv::fault_reset();
            zv::fault_exit(kind, n, kKilled);
            return SWPIFILX(&neu.ifil, &old.ifil, nullptr, nullptr) == 0 ? 0 : 4;
        },
        [&](int code) {
            ASSERT_TRUE(code == 0 || code == kKilled) << code;
            int h = OPNRFIL(-1, "sales.dat", 0);
            if (h < 0) {
                ASSERT_EQ(err(), 14) << status_log();
                ASSERT_EQ(RBLIFIL(&old.ifil), 0) << status_log();
                h = OPNRFIL(-1, "sales.dat", 0);
                ASSERT_GE(h, 0) << err();
            }
            std::vector<uint32_t> got = numbers(h, FRSREC, NXTREC);
            std::sort(got.begin(), got.end());
            if (got == std::vector<uint32_t>{11, 12, 13}) news++;
            else if (got == std::vector<uint32_t>{1, 2}) olds++;
            else ADD_FAILURE() << "records of neither set: " << got.size();
            EXPECT_EQ(CLRFIL(h), 0);
            if (status_log().find("Swap: finishing the swap of") != std::string::npos) finished++;
            EXPECT_EQ(status_log().find("refused"), std::string::npos) << status_log();
            EXPECT_FALSE(fs::exists("sales.dat.swap"));
        });
    EXPECT_GT(olds, 0);
    EXPECT_GT(news, 0);
    EXPECT_GT(finished, 0) << "no kill fell between two moves of the swap";
}

}  // namespace

// Status log entries, fatal exits and fixed answers.
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"

namespace {

using zvtest::lines_of;
using zvtest::read_file;
using zvtest::ZvTest;

class StatusLogTest : public ZvTest {
protected:
    void SetUp() override {
        ZvTest::SetUp();
        zv::fault_reset();
        ASSERT_EQ(REGZARVO("log"), 0);
    }
    void TearDown() override {
        zv::fault_reset();
        ZvTest::TearDown();
    }
    std::vector<std::string> log_lines() { return lines_of(read_file("ZVSTATUS.QVS")); }
};

// The time line is asctime's 24 characters: "Www Mmm dd hh:mm:ss yyyy".
void expect_time_line(const std::string &line) {
    ASSERT_EQ(line.size(), 24u) << line;
    EXPECT_EQ(line[3], ' ');
    EXPECT_EQ(line[13], ':');
    EXPECT_EQ(line[16], ':');
}

TEST_F(StatusLogTest, EntryIsTimeLineThenUserLine) {
    EXPECT_EQ(zvrcvlog("x", 5), 5);
    auto lines = log_lines();
    ASSERT_EQ(lines.size(), 2u);
    expect_time_line(lines[0]);
    EXPECT_EQ(lines[1], " - User# 00001\tx: 5");
}

TEST_F(StatusLogTest, CodeZeroHasNoSuffix) {
    EXPECT_EQ(zvrcvlog("x", 0), 0);
    EXPECT_EQ(zvStatusLogWrite("y", 0), 0);
    auto lines = log_lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], " - User# 00001\tx");
    EXPECT_EQ(lines[3], " - User# 00001\ty");
}

TEST_F(StatusLogTest, SingleAttemptFormsWriteSameLine) {
    zv::fault_set(zv::IoKind::Fopen, 1, EMFILE, true);
    // With every open failing, the single-attempt forms try once, the
    // retrying form twelve times.
    EXPECT_EQ(zvStatusLogWrite("x", 5), 10);
    EXPECT_EQ(zv::io_calls(zv::IoKind::Fopen), 1);
    EXPECT_EQ(zvrcvlog("x", -204), 10);
    EXPECT_EQ(zv::io_calls(zv::IoKind::Fopen), 2);
    EXPECT_EQ(zvrcvlog("x", 5), 10);
    EXPECT_EQ(zv::io_calls(zv::IoKind::Fopen), 14);
    zv::fault_reset();
    EXPECT_EQ(zvStatusLogWrite("x", 5), 5);
    EXPECT_EQ(zvrcvlog("x", -204), 5);
    EXPECT_EQ(zv::io_calls(zv::IoKind::Fopen), 2);
    auto lines = log_lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], " - User# 00001\tx: 5");
    EXPECT_EQ(lines[3], " - User# 00001\tx: 5");
}

TEST_F(StatusLogTest, RetryingOpenSucceedsAfterTransientFailure) {
    zv::fault_set(zv::IoKind::Fopen, 1, EMFILE);
    EXPECT_EQ(zvrcvlog("x", 7), 7);
    EXPECT_EQ(zv::io_calls(zv::IoKind::Fopen), 2);
    EXPECT_EQ(log_lines().size(), 2u);
}

TEST_F(StatusLogTest, SpecialCodes) {
    EXPECT_EQ(zvrcvlog("x", 30988), 0);
    EXPECT_EQ(read_file("ZVSTATUS.QVS"), "");
    EXPECT_EQ(access("ZVSTATUS.QVS", F_OK), 0);
    EXPECT_EQ(zvrcvlog("bare", 30987), 30987);
    EXPECT_EQ(read_file("ZVSTATUS.QVS"), "bare\n");
}

TEST_F(StatusLogTest, LongMessageIsCutAt450) {
    std::string msg(500, 'm');
    zvrcvlog(msg.c_str(), 0);
    auto lines = log_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], " - User# 00001\t" + std::string(450, 'm'));
}

TEST_F(StatusLogTest, UnwritableLogReturns10AndKeepsCallersCode) {
    uerr(42);
    zv::fault_set(zv::IoKind::Fopen, 1, EACCES, true);
    EXPECT_EQ(zvrcvlog("x", 5), 10);
    EXPECT_EQ(zvStatusLogWrite("x", 5), 10);
    EXPECT_EQ(zvGetUserErrorCode(), 42);
}

// The log is a name the engine makes up: a new one takes the instance's
// permission mode (less the umask), an existing one keeps its own, and a
// link under the name is neither written through nor has a mode set
// through it.
TEST_F(StatusLogTest, NoModeIsSetThroughTheOpen) {
    zvWNGV->filepermmode = 0640;
    const mode_t old = umask(0);
    EXPECT_EQ(zvStatusLogWrite("x", 0), 0);
    struct stat st;
    ASSERT_EQ(stat("ZVSTATUS.QVS", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    ASSERT_EQ(chmod("ZVSTATUS.QVS", 0600), 0);
    EXPECT_EQ(zvStatusLogWrite("y", 0), 0);
    ASSERT_EQ(stat("ZVSTATUS.QVS", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(log_lines().size(), 4u);
    ASSERT_EQ(rename("ZVSTATUS.QVS", "elsewhere"), 0);
    ASSERT_EQ(symlink("elsewhere", "ZVSTATUS.QVS"), 0);
    const std::string before = read_file("elsewhere");
    EXPECT_EQ(zvStatusLogWrite("z", 0), 10);
    EXPECT_EQ(read_file("elsewhere"), before);
    ASSERT_EQ(stat("elsewhere", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    umask(old);
}

TEST_F(StatusLogTest, InternalErrorSetsBothCodesAndLogs) {
    EXPECT_EQ(zv_interr(37, 28, "disk full"), 37);
    EXPECT_EQ(zvGetUserErrorCode(), 37);
    EXPECT_EQ(zvGetSystemErrorCode(), 28);
    auto lines = log_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], " - User# 00001\tdisk full");
}

TEST_F(StatusLogTest, MemorySizeMessageRoundsToTenths) {
    // 1,572,864 bytes round to 1,600,000: 1 MB and 5 tenths.
    EXPECT_EQ(zvprtmb(0, "mem %d.%d MB %d %d", 1572864, 0, 7, 8), 0);
    auto lines = log_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], " - User# 00001\tmem 1.5 MB 7 8");
}

TEST_F(StatusLogTest, FatalErrorLogsAndExitsWithItsNumber) {
    uerr(12);
    EXPECT_EXIT(terr(7490), ::testing::ExitedWithCode(7490 % 256), "");
    auto lines = log_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], " - User# 00001\tUnexpected internal Zarvo(R) error #7490 (uerr_cod=12)");
    EXPECT_EXIT(zvcatend(), ::testing::ExitedWithCode(100), "");
    EXPECT_EXIT(zvrt_exit(3), ::testing::ExitedWithCode(3), "");
    zvFinal_exit(1, 9);  // mode 1 returns
}

TEST_F(StatusLogTest, FixedAnswers) {
    EXPECT_EQ(SETLOGPATH(), 454);
    EXPECT_EQ(zvMEMSTAT(), 454);
    EXPECT_EQ(zvGetUserErrorCode(), 454);
    uerr(0);
    EXPECT_EQ(ZVCHKPNT(), 454);
    EXPECT_EQ(zvGetUserErrorCode(), 454);
    EXPECT_EQ(STPSRV(), 0);
    EXPECT_EQ(zvotAlign(), 0);
    ASSERT_EQ(UNRZARVO("log"), 0);
    EXPECT_EQ(SETLOGPATH(), 47);
}

}  // namespace

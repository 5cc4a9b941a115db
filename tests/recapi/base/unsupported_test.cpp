// Entries of services this library lacks, and the sample line.
#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "tests/recapi/base/basefix.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"

namespace {

using basetest::SessionTest;
using zvtest::lines_of;
using zvtest::read_file;
using UnsupportedTest = SessionTest;

TEST_F(UnsupportedTest, FixedAnswersLeaveTheSessionAlone) {
    tagZVDBSESSION *s = alloc(1);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 0);
    struct Entry {
        const char *name;
        std::function<int(ZVHANDLE)> call;
        int answer;
    };
    const std::vector<Entry> entries = {
        {"zvdbSetLocalDirectory", [](ZVHANDLE h) { return zvdbSetLocalDirectory(h, "dir"); }, 4054},
        {"zvdbSetSessionSSLParams", [](ZVHANDLE h) { return zvdbSetSessionSSLParams(h, "p"); }, 4054},
        {"zvdbSetSSL", [](ZVHANDLE h) { return zvdbSetSSL(h, 1); }, 4054},
        {"zvdbSyncTransactionState", [](ZVHANDLE h) { return zvdbSyncTransactionState(h); }, 4054},
        {"zvdbSetConfigurationFile", [](ZVHANDLE) { return zvdbSetConfigurationFile("cfg"); }, 4054},
        {"zvdbBeginImpersonation", [](ZVHANDLE h) { return zvdbBeginImpersonation(h, 3); }, 4054},
        {"zvdbEndImpersonation", [](ZVHANDLE h) { return zvdbEndImpersonation(h); }, 4054},
        {"zvdbSETENCRYPTParam", [](ZVHANDLE h) { return zvdbSETENCRYPTParam(h, "p"); }, 4054},
        {"zvdbSetLogPath", [](ZVHANDLE h) { return zvdbSetLogPath(h, "log"); }, 4054},
        {"zvdbSetStatusLogPath", [](ZVHANDLE h) { return zvdbSetStatusLogPath(h, "log"); }, 4054},
        {"_zvdbMOVFTS", [](ZVHANDLE h) { return _zvdbMOVFTS(h, 1); }, 4054},
        {"zvdbIsSSLActive", [](ZVHANDLE h) { return zvdbIsSSLActive(h); }, 0},
        {"zvdbIsSQLServer", [](ZVHANDLE h) { return zvdbIsSQLServer(h); }, 0},
        {"zvdbStartDatabaseEngine", [](ZVHANDLE) { return zvdbStartDatabaseEngine(); }, 0},
        {"zvdbAcquireSessionId", [](ZVHANDLE h) { return zvdbAcquireSessionId(h); }, 0},
        {"zvdbGetZarvoOWNER", [](ZVHANDLE) { return zvdbGetZarvoOWNER(); }, 0},
        {"_zvdbAGGRLOCK", [](ZVHANDLE h) { return _zvdbAGGRLOCK(h, 1); }, 0},
        {"zvdbReleaseSessionId", [](ZVHANDLE) { return zvdbReleaseSessionId(7); }, 7},
        {"zvdbStopDatabaseEngine", [](ZVHANDLE) { zvdbStopDatabaseEngine(); return 0; }, 0},
        {"zvdbSetSessionId", [](ZVHANDLE h) { zvdbSetSessionId(h, 9); return 0; }, 0},
        {"zvdbSetZarvoOWNER", [](ZVHANDLE) { zvdbSetZarvoOWNER(9); return 0; }, 0},
    };
    ASSERT_EQ(zvdbSetError(s, ZVDB_NO_TABLE), 0);
    for (const Entry &e : entries) {
        EXPECT_EQ(e.call(nullptr), e.answer) << e.name << " with NULL";
        EXPECT_EQ(e.call(s), e.answer) << e.name;
        EXPECT_EQ(zvdbGetError(s), ZVDB_NO_TABLE) << e.name;
    }
    EXPECT_EQ(zvdbIsActiveSession(s), 1);
}

TEST_F(UnsupportedTest, SessionIdAsksTheEnginesSnapshotService) {
    tagZVDBSESSION *s = alloc(1);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 0);
    zvWNGV->uerr_cod = 0;
    EXPECT_EQ(zvdbGetSessionId(s), -1);
    EXPECT_EQ(zvdbGetError(s), 454);
    EXPECT_EQ(zvWNGV->uerr_cod, 454);  // the engine was asked
    EXPECT_EQ(zvdbGetSessionId(nullptr), -1);
}

TEST_F(UnsupportedTest, SampleLineIsAppended) {
    const std::string line =
        "zvdbHelloWorld: | HelloFileName={h.txt} | HelloTextData={t} | HelloNintData={-5} | "
        "HelloULongData={7} | HelloFloatData={1.500000}";
    ASSERT_EQ(zvdbHelloWorld("h.txt", "t", -5, 7, 1.5), 0);
    ASSERT_EQ(zvdbHelloWorld("h.txt", "t", -5, 7, 1.5), 0);
    EXPECT_EQ(read_file("h.txt"), line + "\n" + line + "\n");
    EXPECT_EQ(lines_of(read_file("h.txt")).size(), 2u);

    EXPECT_EQ(zvdbHelloWorld("nodir/h.txt", "t", 1, 2, 3.0), -1);
    EXPECT_EQ(zvdbHelloWorld(nullptr, "t", 1, 2, 3.0), -1);
    zv::fault_set(zv::IoKind::Fopen, 1, EIO);
    EXPECT_EQ(zvdbHelloWorld("other.txt", "t", 1, 2, 3.0), -1);
    EXPECT_EQ(read_file("other.txt"), "");
    // A line that cannot reach the file is a failure, not a success.
    EXPECT_EQ(zvdbHelloWorld("/dev/full", "t", 1, 2, 3.0), -1);
}

}  // namespace

// Processes that log on and connect together after a kill left the
// dictionaries not closed cleanly: one of them repairs each dictionary, the
// others wait for it and then open it (no 12); a logon beside a session
// that holds the dictionary exclusively answers 12 at once.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/child.h"
#include "tests/support/firststart.h"
#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"

namespace {

constexpr int kProcesses = 4;

int define_items(ZVHANDLE t) {
    ZVHANDLE id = zvdbAddField(t, "id", ZV_INT4, 4);
    ZVHANDLE ix = zvdbAddIndex(t, "by_id", 0, 0, 0);
    return id && ix && zvdbAddSegment(ix, id, 12) ? 0 : -10;
}

// Logs on and connects "shop": the first code that is not 0 (the logon's
// times 1000 plus 1, the connect's times 1000 plus 2), else 0.
int logon_and_connect() {
    ZVHANDLE s = zvdbAllocSession(0);
    if (!s) return -1;
    int rc = zvdbLogon(s, nullptr, "tester", nullptr);
    if (rc) return rc * 1000 + 1;
    ZVHANDLE db = zvdbAllocDatabase(s);
    rc = zvdbConnect(db, "shop");
    zvdbFreeDatabase(db);
    zvdbFreeSession(s);
    return rc ? rc * 1000 + 2 : 0;
}

// Runs fn in n processes that start together (each waits at a gate the
// parent opens once all are forked): their results, -2 for a process that
// reported none.
std::vector<int> together(int n, int (*fn)()) {
    int gate[2], out[2];
    if (pipe(gate) != 0 || pipe(out) != 0) return {};
    std::vector<pid_t> pids;
    for (int i = 0; i < n; i++) {
        const pid_t pid = fork();
        if (pid == 0) {
            close(gate[1]);
            close(out[0]);
            char c;
            ssize_t got = read(gate[0], &c, 1);
            (void)got;
            const int rc = fn();
            ssize_t put = write(out[1], &rc, sizeof rc);
            _exit(put == ssize_t(sizeof rc) ? 0 : 1);
        }
        pids.push_back(pid);
    }
    close(gate[0]);
    close(out[1]);
    close(gate[1]);  // the gate opens: every read returns
    std::vector<int> results;
    int rc = 0;
    while (read(out[0], &rc, sizeof rc) == ssize_t(sizeof rc)) results.push_back(rc);
    close(out[0]);
    for (pid_t pid : pids) waitpid(pid, nullptr, 0);
    while (results.size() < size_t(n)) results.push_back(-2);
    return results;
}

class LogonRace : public zvtest::ZvTest {
protected:
    // In a child: the session, the database "shop" and its table made,
    // records written and flushed, and an end without a logout: both
    // dictionaries are left not closed cleanly.
    static void make_and_kill() {
        const zvtest::ChildResult c = zvtest::run_in_child([] {
            zvtest::ChildResult r;
            zvtest::StartUp s;
            s.define = define_items;
            if ((r.rc = s.run())) return r;
            ZVHANDLE rec = zvdbAllocRecord(s.handle);
            for (int32_t k = 1; k <= 10 && r.rc == 0; k++) {
                zvdbClearRecord(rec);
                zvdbSetFieldAsSigned(rec, 0, k);
                r.rc = zvdbWriteRecord(rec);
            }
            if (r.rc || (r.rc = ZVFLUSH(-1))) return r;
            _exit(0);
        });
        ASSERT_FALSE(c.ok) << "the child ended without a logout: " << c.rc;
    }
};

// Rounds of kProcesses processes logging on and connecting together after
// a kill (ZV_LOGONRACE_ROUNDS, default 4): every logon and connect answers
// 0, and the table then opens after its repair with every record.
TEST_F(LogonRace, LogonsAfterAKillWaitForTheRepairOfTheDictionaries) {
    const char *rounds_env = std::getenv("ZV_LOGONRACE_ROUNDS");
    const int rounds = rounds_env ? std::atoi(rounds_env) : 4;
    for (int round = 0; round < rounds; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        for (const auto &e : std::filesystem::directory_iterator(".")) std::filesystem::remove_all(e.path());
        make_and_kill();
        const std::vector<int> results = together(kProcesses, logon_and_connect);
        EXPECT_EQ(results, std::vector<int>(kProcesses, 0)) << "(code * 1000 + 1: logon, + 2: connect)";
        zvtest::StartUp s;
        s.define = define_items;
        ASSERT_EQ(s.run(), 0) << s.trail;
        ZVHANDLE rec = zvdbAllocRecord(s.handle);
        uint64_t count = 0;
        EXPECT_EQ(zvdbGetRecordCount(rec, &count), 0);
        EXPECT_EQ(count, 10u);
        zvdbFreeRecord(rec);
        if (HasFailure()) break;
    }
}

// A session that holds the session dictionary exclusively: another
// process's logon waits for it as for any other hold, and answers 12 at
// the bound of its wait (10 seconds), the refused lock's system error kept.
TEST_F(LogonRace, ALogonBesideAnExclusiveSessionAnswers12AfterItsWait) {
    {
        zvtest::StartUp s;
        s.define = define_items;
        ASSERT_EQ(s.run(), 0) << s.trail;
    }
    zvtest::Peer peer([](int) {
        zvtest::ChildResult r;
        ZVHANDLE s = zvdbAllocSession(0);
        zvdbSetSessionExclusive(s, 1);
        r.rc = zvdbLogon(s, nullptr, "tester", nullptr);
        return r;
    });
    const zvtest::ChildResult held = peer.ask(1);
    ASSERT_TRUE(held.ok);
    ASSERT_EQ(held.rc, 0);
    const auto start = std::chrono::steady_clock::now();
    ZVHANDLE s = zvdbAllocSession(0);
    EXPECT_EQ(zvdbLogon(s, nullptr, "tester", nullptr), 12);
    const int sys = zvGetSystemErrorCode();
    EXPECT_TRUE(sys == EAGAIN || sys == EACCES) << sys;
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::seconds(9));
    EXPECT_LT(waited, std::chrono::seconds(15));
    zvdbFreeSession(s);
}

}  // namespace

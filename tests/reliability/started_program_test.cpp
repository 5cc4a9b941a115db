// Programs this process starts, and children it forks, while the engine has
// files open or held: a started program keeps no open file description of
// the engine's (every descriptor closes on exec), so that closing a set, or
// the end of a maintenance call, frees the set at once for every other
// open; a forked child that calls into an instance it inherited with holds
// is not granted the locks the holds stood for.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>

#include "engine/core/filehold.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "tests/reliability/relfix.h"
#include "tests/support/child.h"

namespace {

using namespace reltest;

// A program started with system() that goes on running (a sleep in the
// background of the shell, so that system() returns at once); ended by its
// process id when the test is done with it.
class Sleeper {
public:
    Sleeper() {
        const std::string cmd = "sleep 60 </dev/null >/dev/null 2>&1 & echo $! >" + pidfile_;
        if (system(cmd.c_str()) == 0) pid_ = atoi(zvtest::read_file(pidfile_).c_str());
    }
    ~Sleeper() {
        if (pid_ > 0) kill(pid_, SIGKILL);
    }
    Sleeper(const Sleeper &) = delete;
    Sleeper &operator=(const Sleeper &) = delete;
    bool started() const { return pid_ > 0; }
    bool running() const { return pid_ > 0 && kill(pid_, 0) == 0; }

private:
    std::string pidfile_ = "sleeper.pid";
    pid_t pid_ = 0;
};

class StartedProgramTest : public RelTest {
protected:
    // The fixed-length set "ex" with a few records, closed.
    void build(SetDef &s) {
        ASSERT_EQ(CREIFIL(&s.ifil), 0);
        for (uint32_t n = 1; n <= 20; n++) ASSERT_EQ(ADDREC(s.ifil.tfilno, image(rec(n)).data()), 0);
        ASSERT_EQ(CLIFIL(&s.ifil), 0);
    }

    // Another process opens the set exclusively and closes it (rc), then
    // compacts it (extra).
    static zvtest::ChildResult open_and_compact_elsewhere() {
        return zvtest::run_in_child([] {
            zvtest::ChildResult r;
            if ((r.rc = INTISAMX(3, 30, 4, 3, kProfile)) != 0) return r;
            SetDef s("ex", false);
            if ((r.rc = OPNIFIL(&s.ifil)) == 0) r.rc = CLIFIL(&s.ifil);
            r.sys = zvGetSystemErrorCode();
            if (r.rc == 0) {
                s.ifil.tfilno = -1;
                r.extra = CMPIFIL(&s.ifil);
                r.sys = zvGetSystemErrorCode();
            }
            CLISAM();
            return r;
        });
    }
};

// A program started while the set is open exclusively: once the set is
// closed, this process reopens it, and another process opens and compacts
// it, at once, while the program still runs.
TEST_F(StartedProgramTest, ASetClosedIsFreeWhileAProgramStartedMeanwhileRuns) {
    SetDef s("ex", false);
    build(s);
    s.ifil.tfilno = -1;
    ASSERT_EQ(OPNIFIL(&s.ifil), 0);
    Sleeper sleeper;
    ASSERT_TRUE(sleeper.started());
    ASSERT_EQ(CLIFIL(&s.ifil), 0);

    s.ifil.tfilno = -1;
    EXPECT_EQ(OPNIFIL(&s.ifil), 0) << "this process's reopen; system error " << zvGetSystemErrorCode();
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    const zvtest::ChildResult r = open_and_compact_elsewhere();
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.rc, 0) << "another process's open; system error " << r.sys;
    EXPECT_EQ(r.extra, 0) << "its compaction; system error " << r.sys;
    EXPECT_TRUE(sleeper.running());
}

// A program started while the set rebuild or the compaction holds the set
// (at the call's first write): once the call has ended, another process
// opens and compacts the set at once, while the program still runs.
TEST_F(StartedProgramTest, AMaintenanceCallsHoldEndsWithTheCallWhileAProgramStartedMeanwhileRuns) {
    struct Start {
        int nholds = 0;
        std::unique_ptr<Sleeper> sleeper;
    };
    const struct Case {
        const char *what;
        int (*run)(IFIL *);
    } cases[] = {{"set rebuild", RBLIFIL}, {"compaction", CMPIFIL}};
    SetDef s("ex", false);
    build(s);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Start start;
        zv::fault_call(
            zv::IoKind::Write, 1,
            [](void *arg) {
                Start *st = static_cast<Start *>(arg);
                st->nholds = zvWNGV->nholds;
                st->sleeper = std::make_unique<Sleeper>();
            },
            &start);
        s.ifil.tfilno = -1;
        EXPECT_EQ(c.run(&s.ifil), 0);
        zv::fault_reset();
        ASSERT_NE(start.sleeper, nullptr) << "the call made no write";
        const Sleeper &sleeper = *start.sleeper;
        EXPECT_TRUE(sleeper.started());
        EXPECT_GT(start.nholds, 0) << "the program was started while the call held the set";

        const zvtest::ChildResult r = open_and_compact_elsewhere();
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.rc, 0) << "another process's open; system error " << r.sys;
        EXPECT_EQ(r.extra, 0) << "its compaction; system error " << r.sys;
        EXPECT_TRUE(sleeper.running());
    }
}

// Two instances of this process each hold a data file and have it open
// (exclusively, under the hold). A forked child that switches to either
// inherited instance is granted nothing the holds stood for: its own open
// of the held file is refused (the parent's hold is another description),
// and its writes through the inherited open, which had no lock of its own,
// are refused. The parent keeps its holds and its opens as they were.
TEST_F(StartedProgramTest, AForkedChildGetsNoLockFromItsParentsHolds) {
    const char *names[] = {"a.dat", "b.dat"};
    constexpr int kOpen = 20, kOther = 21;
    std::string ids[2];
    zv::HoldRef holds[2];
    char record[64] = "RECD";
    for (int i = 0; i < 2; i++) {
        if (i == 1) {
            ASSERT_EQ(REGZARVO("second"), 0);
            ASSERT_EQ(INTISAMX(3, 30, 4, 3, kProfile), 0);
        }
        ids[i] = WCHZARVO();
        ASSERT_EQ(CREDATX8(kOpen, names[i], 64, 0, 0x800, 0, nullptr, nullptr, ZV_XCRE_DEFAULT), 0);
        ASSERT_EQ(CLSFIL(kOpen, 0), 0);
        ASSERT_EQ(zv::hold_file(names[i], &holds[i]), 0);
        ASSERT_EQ(OPNFIL(kOpen, names[i], 0), 0);
        ASSERT_EQ(zvWNGV->nholds, 1);
    }
    for (int i = 0; i < 2; i++) {
        SCOPED_TRACE(names[i]);
        const std::string id = ids[i];
        const std::string name = names[i];
        const zvtest::ChildResult r = zvtest::run_in_child([id, name, &record] {
            zvtest::ChildResult c;
            if (SWTZARVO(id.c_str()) != 0) return c;
            c.rc = OPNFIL(kOther, name.c_str(), 0);
            c.sys = zvGetSystemErrorCode();
            const uint32_t at = NEWREC(kOpen);
            c.extra = at ? WRTREC(kOpen, at, record) : zvWNGV->uerr_cod;
            return c;
        });
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.rc, 12) << "the child's own open of the held file";
        EXPECT_TRUE(r.sys == EAGAIN || r.sys == EACCES) << r.sys;
        EXPECT_EQ(r.extra, 12) << "the child's write through the inherited open";
    }
    for (int i = 1; i >= 0; i--) {
        SCOPED_TRACE(names[i]);
        ASSERT_EQ(SWTZARVO(ids[i].c_str()), 0);
        EXPECT_EQ(zvWNGV->nholds, 1);
        const std::string name = names[i];
        const zvtest::ChildResult other = zvtest::run_in_child([name] {
            zvtest::ChildResult c;
            if ((c.rc = INTISAMX(3, 30, 4, 3, kProfile)) != 0) return c;
            c.rc = OPNFIL(1, name.c_str(), 0x0001);
            c.sys = zvGetSystemErrorCode();
            CLISAM();
            return c;
        });
        ASSERT_TRUE(other.ok);
        EXPECT_EQ(other.rc, 12) << "the parent's hold still refuses another process";
        const uint32_t at = NEWREC(kOpen);
        ASSERT_NE(at, 0u);
        EXPECT_EQ(WRTREC(kOpen, at, record), 0) << "the parent's open still writes";
        EXPECT_EQ(CLSFIL(kOpen, 0), 0);
        zv::release_hold(holds[i]);
        EXPECT_EQ(zvWNGV->nholds, 0);
    }
}

}  // namespace

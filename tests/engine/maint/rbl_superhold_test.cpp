// The superfile rebuild of a host that another open holds: another
// process, or another instance of this process, holding it shared (a set
// of the host open shared) or exclusively (the host itself opened
// exclusively, the set opened in it). The rebuild refuses with 12 and the
// lock's system error before any byte of the host changes, the holder
// reads on as before, and once the holder has closed the rebuild runs.
#include <cerrno>
#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "engine/core/instance.h"
#include "engine/files/fcbops.h"
#include "tests/engine/maint/rblfix.h"
#include "tests/support/child.h"

namespace {

using namespace rbltest;

// Steps of the holder: open, read every record of the set, close.
enum Step { kOpen = 1, kRead = 2, kClose = 3 };

constexpr uint16_t kShared = 0x0001;
constexpr int kHostNo = 40;  // the holder's explicit open of the host

class RblSuperHoldTest : public RblTest {
protected:
    // One step of the holder of host "h" in the current instance (started
    // here on its first step). Shared: the set opens shared, its host with
    // it. Exclusive: the host opens exclusively first, then the set. The
    // read answers 0 when the set holds exactly `expected` (their count
    // in extra), 1 otherwise.
    static zvtest::ChildResult hold_step(RblSet &s, bool shared, const std::multiset<std::string> &expected,
                                         int step) {
        zvtest::ChildResult r;
        if (!zvWNGV || !zvWNGV->started) {
            if ((r.rc = INTISAMX(16, 60, 4, 32, kProfile)) != 0) return r;
        }
        switch (step) {
        case kOpen:
            if (!shared && (r.rc = OPNFIL(kHostNo, "h", 0)) != 0) break;
            s.ifil.tfilno = -1;
            s.ifil.dfilmod = int16_t(shared ? (s.ifil.dfilmod | kShared) : (s.ifil.dfilmod & ~kShared));
            r.rc = OPNIFIL(&s.ifil);
            break;
        case kRead: {
            const std::multiset<std::string> got = records_of(s, s.ifil.tfilno);
            r.extra = int(got.size());
            r.rc = got == expected ? 0 : 1;
            break;
        }
        case kClose:
            r.rc = CLIFIL(&s.ifil);
            if (!r.rc) r.rc = CLSFIL(chkopnx("h"), 0);
            break;
        }
        r.sys = zvGetSystemErrorCode();
        return r;
    }
};

// A holder of the host in another process or in another instance of this
// one, shared or exclusive: the rebuild refuses with 12 (the system error
// of the refused lock kept), the host's bytes stay as they were, no file
// number stays taken, the holder reads every record; after the holder
// closes, the rebuild succeeds and the set rebuild restores the set.
TEST_F(RblSuperHoldTest, AHostAnotherOpenHoldsIsRefusedUntouched) {
    struct Case {
        const char *what;
        bool shared;
        bool other_process;
    } cases[] = {
        {"another process, shared", true, true},
        {"another process, exclusive", false, true},
        {"another instance of this process, shared", true, false},
        {"another instance of this process, exclusive", false, false},
    };
    const std::string main_id = zvWNGV->id;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::remove("h");
        RblSet s("h!cust", Kind::Fixed);
        ASSERT_EQ(CREDAT(1, "h", 0, 0, 0x200), 0);
        const std::multiset<std::string> records = build(s, 30);
        CLSFIL(chkopnx("h"), 0);
        ASSERT_EQ(chkopnx("h"), -1);

        // The holder: a peer process, or instance "second" of this one.
        RblSet held("h!cust", Kind::Fixed);
        auto step_fn = [&held, &c, records](int step) { return hold_step(held, c.shared, records, step); };
        std::unique_ptr<zvtest::Peer> peer;
        if (c.other_process) peer = std::make_unique<zvtest::Peer>(step_fn);
        auto ask = [&](int step) {
            if (peer) return peer->ask(step);
            EXPECT_EQ(SWTZARVO("second"), 0);
            zvtest::ChildResult r = step_fn(step);
            r.ok = true;
            EXPECT_EQ(SWTZARVO(main_id.c_str()), 0);
            return r;
        };
        if (!c.other_process) {
            ASSERT_EQ(REGZARVO("second"), 0);
        }

        zvtest::ChildResult r = ask(kOpen);
        ASSERT_TRUE(r.ok);
        ASSERT_EQ(r.rc, 0);
        const std::string before = zvtest::read_file("h");
        EXPECT_EQ(ZVSBLDX("h", nullptr), 12);
        const int sys = zvGetSystemErrorCode();
        EXPECT_TRUE(sys == EAGAIN || sys == EACCES) << sys;
        EXPECT_TRUE(zvtest::read_file("h") == before) << "the held host changed";
        for (int n = 0; n < 20; n++) EXPECT_EQ(TSTFILNUM(n), 0) << n;
        r = ask(kRead);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.rc, 0);
        EXPECT_EQ(r.extra, int(records.size()));
        r = ask(kClose);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.rc, 0);
        if (!c.other_process) {
            ASSERT_EQ(SWTZARVO("second"), 0);
            CLISAM();
            ASSERT_EQ(SWTZARVO(main_id.c_str()), 0);
            ASSERT_EQ(UNRZARVO("second"), 0);
        }
        peer.reset();

        // Free again: the rebuild runs, and the set rebuild loads the
        // emptied indexes.
        ASSERT_EQ(ZVSBLDX("h", nullptr), 0) << status_log();
        ASSERT_EQ(s.rebuild(), 0) << status_log();
        EXPECT_EQ(records_of(s), records);
        EXPECT_TRUE(indexes_verify(s));
        CLSFIL(chkopnx("h"), 0);
    }
}

}  // namespace

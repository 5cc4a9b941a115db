// Maintenance beside another process that writes: the set rebuild, the
// compaction, the swap of two sets, the data-file rebuild and the
// superfile rebuild, with another process's open, add and close made at
// each step of the run (its opens, links, renames, unlinks and writes, as
// the platform seam counts them) and in a loop beside repeated runs. From
// the run's first step to its end every such open is refused (12, the
// lock's system error): no record the other process was told it added is
// lost, and the run goes through.
#include <unistd.h>

#include <cerrno>
#include <set>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/files/fcbops.h"
#include "tests/engine/maint/rblfix.h"
#include "tests/support/child.h"
#include "tests/support/peerstep.h"

namespace {

using namespace rbltest;

constexpr uint32_t kPeerKeys = 100000;

enum class Op { Rebuild, Compaction, Swap, DataFile, Host };

// The other process's open refused by a lock: 12, or for a set in a
// superfile host 413 (its host would not open), with the lock's error.
bool lock_refused(const zvtest::ChildResult &r) {
    return r.ok && (r.rc == 12 || r.rc == 413) && r.extra == 1 && (r.sys == EAGAIN || r.sys == EACCES);
}

class RblPeerStepTest : public RblTest {
protected:
    // The other process's attempt: the set opened (its engine started on
    // the first), record rec(key) added, the set closed. rc: 0 when the
    // add and the close answered 0, else the first other answer (sys its
    // system error, extra 1 for the open, 2 the add, 3 the close).
    static zvtest::ChildResult add_one(RblSet &s, uint32_t key) {
        zvtest::ChildResult r;
        if (!zvWNGV || !zvWNGV->started) {
            if ((r.rc = INTISAMX(16, 60, 4, 32, kProfile)) != 0) return r;
        }
        s.ifil.tfilno = -1;
        if ((r.rc = OPNIFIL(&s.ifil)) != 0) {
            r.sys = zvGetSystemErrorCode();
            r.extra = 1;
            return r;
        }
        Rec x = rec(key);
        const int add = ADDREC(s.ifil.tfilno, &x);
        const int sys = zvGetSystemErrorCode();
        int cl = CLIFIL(&s.ifil);
        // A host that the set's open opened stays open until closed.
        if (const size_t bang = s.name.find('!'); bang != std::string::npos) {
            const int h = chkopnx(s.name.substr(0, bang).c_str());
            if (h >= 0 && CLSFIL(h, 0) != 0 && cl == 0) cl = zvGetUserErrorCode();
        }
        r.rc = add ? add : cl;
        r.sys = add ? sys : zvGetSystemErrorCode();
        r.extra = add ? 2 : cl ? 3 : 0;
        return r;
    }

    // The files the operation works on, made and saved as the template:
    // set "t" (and for the swap the set "n" that takes its place, for the
    // superfile rebuild "t" in host "h"). The records the set holds after
    // the operation when nobody else wrote.
    std::multiset<std::string> make(Op op, RblSet &t, RblSet &n) {
        if (op == Op::Host) {
            EXPECT_EQ(CREDAT(1, "h", 0, 0, 0x200), 0);
        }
        std::multiset<std::string> records = build(t, 30);
        if (op == Op::Swap) {
            // The new set: other records under its own names.
            const int d = n.create();
            for (uint32_t k = 1; k <= 12; k++) {
                Rec x = rec(5000 + k);
                EXPECT_EQ(ADDREC(d, &x), 0);
            }
            EXPECT_EQ(CLIFIL(&n.ifil), 0);
            records = records_of(n);
        }
        if (op == Op::Host) CLSFIL(chkopnx("h"), 0);
        zvtest::save_template();
        return records;
    }

    static int run(Op op, RblSet &t, RblSet &n) {
        t.ifil.tfilno = -1;
        switch (op) {
        case Op::Rebuild: return t.rebuild();
        case Op::Compaction: return CMPIFIL(&t.ifil);
        case Op::Swap: return SWPIFILX(&n.ifil, &t.ifil, nullptr, nullptr);
        case Op::DataFile: {
            // Another extension size: the header is written.
            int32_t tail = 0;
            return RBLDATX(0, t.dat().c_str(), uint16_t(t.ifil.dreclen), uint32_t(t.ifil.dxtdsiz) + 4096,
                           uint16_t(t.ifil.dfilmod), nullptr, 0, 0, &tail);
        }
        case Op::Host: return ZVSBLDX("h", nullptr);
        }
        return -1;
    }

    // The set as the other process finds it after the operation (the
    // superfile rebuild leaves the set's indexes to its set rebuild).
    std::multiset<std::string> after(Op op, RblSet &t) {
        if (op == Op::Host) {
            EXPECT_EQ(t.rebuild(), 0) << status_log();
        }
        std::multiset<std::string> got = records_of(t);
        EXPECT_TRUE(indexes_verify(t));
        if (op == Op::Host) CLSFIL(chkopnx("h"), 0);
        return got;
    }
};

// The other process tries at each step of the operation: refused from the
// operation's first step (its first open, which takes the set) to its end;
// at that first open it may still come first, and then its record is kept
// (the swap replaces the set it wrote to, as it replaces the whole set).
// The operation succeeds and the set holds what it held and every record
// acknowledged.
class RblPeerStepEach : public RblPeerStepTest, public ::testing::WithParamInterface<Op> {};

TEST_P(RblPeerStepEach, AnotherProcessIsRefusedAtEveryStep) {
    const Op op = GetParam();
    const std::string name = (op == Op::Host ? "h!t" : "t") + std::to_string(int(op));
    RblSet t(name.c_str(), Kind::Fixed), n("n", Kind::Fixed);
    const std::multiset<std::string> base = make(op, t, n);
    RblSet theirs(name.c_str(), Kind::Fixed);
    zvtest::Peer peer([&theirs](int key) { return add_one(theirs, uint32_t(key)); });

    const std::vector<long> calls = zvtest::count_calls(zvtest::changing_kinds(), [&] {
        zvtest::restore_template();
        return run(op, t, n);
    });
    uint32_t key = kPeerKeys;
    for (const zvtest::Step &step : zvtest::steps_of(zvtest::changing_kinds(), calls, 8)) {
        SCOPED_TRACE(std::string("at ") + zvtest::kind_name(step.kind) + " " + std::to_string(step.n));
        zvtest::restore_template();
        key++;
        zvtest::ChildResult got;
        bool made = false;
        const int rc = zvtest::run_with_attempt(
            step, [&] { got = peer.ask(int(key)); }, [&] { return run(op, t, n); }, &made);
        EXPECT_TRUE(made);
        EXPECT_EQ(rc, 0) << "sys " << zvGetSystemErrorCode() << "; the log ends: " << entry_after("", 0);
        const bool acked = got.ok && got.rc == 0;
        if (step.kind == zv::IoKind::Open && step.n == 1) {
            EXPECT_TRUE(acked || lock_refused(got)) << got.rc << " " << got.sys << " " << got.extra;
        } else {
            EXPECT_TRUE(lock_refused(got)) << got.rc << " " << got.sys << " " << got.extra;
        }
        std::multiset<std::string> want = base;
        if (acked && op != Op::Swap) want.insert(image(rec(key)));
        EXPECT_EQ(after(op, t), want);
        if (HasFailure()) return;
    }
}

std::string param_name(const ::testing::TestParamInfo<Op> &p) {
    const char *const names[] = {"Rebuild", "Compaction", "Swap", "DataFile", "Host"};
    return names[int(p.param)];
}

INSTANTIATE_TEST_SUITE_P(Runs, RblPeerStepEach, ::testing::Values(Op::Rebuild, Op::Compaction, Op::Swap, Op::DataFile, Op::Host), param_name);

// A writer in another process adds records in a loop, each through its own
// open and close, while this process compacts and rebuilds the set over
// and over: a run finds the set free (0) or the writer's open (12), the
// writer's open finds the set free or a run's (12), and in the end every
// record the writer was told it added is in the set, by every index.
TEST_F(RblPeerStepTest, AWriterBesideRepeatedRunsLosesNothing) {
    RblSet t("t", Kind::Fixed);
    const std::multiset<std::string> base = build(t, 30);
    RblSet theirs("t", Kind::Fixed);
    zvtest::Beside writer([&theirs](int i) {
        const zvtest::ChildResult r = add_one(theirs, kPeerKeys + uint32_t(i));
        usleep(500);
        return r.rc;
    });
    int done = 0, refused = 0;
    for (int round = 0; round < 24; round++) {
        const int rc = round % 2 ? t.rebuild() : CMPIFIL(&t.ifil);
        EXPECT_TRUE(rc == 0 || rc == 12) << round << ": " << rc << "\n" << status_log();
        (rc == 0 ? done : refused)++;
        usleep(1000);
    }
    const std::vector<int> acked = writer.stop();
    EXPECT_GT(done, 0);
    EXPECT_GT(acked.size(), 0u);
    std::multiset<std::string> want = base;
    for (int i : acked) want.insert(image(rec(kPeerKeys + uint32_t(i))));
    EXPECT_EQ(records_of(t), want) << acked.size() << " acknowledged, " << done << " runs, " << refused
                                   << " refused";
    EXPECT_TRUE(indexes_verify(t));
}

// The swap of a set that another process holds open (either set) is
// refused with 12 and changes nothing.
TEST_F(RblPeerStepTest, ASwapOfAHeldSetIsRefusedUntouched) {
    RblSet t("t", Kind::Fixed), n("n", Kind::Fixed);
    make(Op::Swap, t, n);
    for (const char *held : {"t", "n"}) {
        SCOPED_TRACE(held);
        RblSet theirs(held, Kind::Fixed);
        zvtest::Peer peer([&theirs](int step) {
            zvtest::ChildResult r;
            if (!zvWNGV || !zvWNGV->started) {
                if ((r.rc = INTISAMX(16, 60, 4, 32, kProfile)) != 0) return r;
            }
            if (step == 1) theirs.ifil.tfilno = -1;
            r.rc = step == 1 ? OPNIFIL(&theirs.ifil) : CLIFIL(&theirs.ifil);
            return r;
        });
        ASSERT_EQ(peer.ask(1).rc, 0);
        std::vector<std::string> bytes;
        const std::vector<std::string> files = {t.dat(), t.idxfile(), t.nm(), n.dat(), n.idxfile(), n.nm()};
        for (const std::string &f : files) bytes.push_back(zvtest::read_file(f));
        EXPECT_EQ(SWPIFILX(&n.ifil, &t.ifil, nullptr, nullptr), 12);
        const int sys = zvGetSystemErrorCode();
        EXPECT_TRUE(sys == EAGAIN || sys == EACCES) << sys;
        for (size_t i = 0; i < files.size(); i++) EXPECT_TRUE(zvtest::read_file(files[i]) == bytes[i]) << files[i];
        EXPECT_EQ(strays({t.dat(), t.idxfile(), t.nm(), n.dat(), n.idxfile(), n.nm(), "tpl"}),
                  std::vector<std::string>{});
        for (int f = 0; f < 20; f++) EXPECT_EQ(TSTFILNUM(f), 0) << f;
        EXPECT_EQ(peer.ask(2).rc, 0);
    }
}

}  // namespace

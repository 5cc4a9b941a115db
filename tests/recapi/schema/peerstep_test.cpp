// The rebuild, the compaction and the alteration by copy of a table beside
// another process that writes it: that process's open, write and close made
// at each step of the call (its opens, links, renames, unlinks and writes,
// as the platform seam counts them), and in a loop beside repeated calls.
// Every record the other process was told it wrote is in the table after
// the call, by every index; every open at a step that renames, links or
// deletes a file is refused (12, the lock's system error); the call goes
// through.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "tests/recapi/schema/maintfix.h"
#include "tests/support/child.h"
#include "tests/support/peerstep.h"

namespace {

using namespace schematest;

constexpr int32_t kPeerIds = 100000;
constexpr uint32_t kExclusive = 1;

enum class Op { Rebuild, Compaction, PurgeStore, Alteration };

// The other process: its own session on table "cust" in the working
// directory; command id opens it, writes the record id (name "peer"),
// closes it and logs out. rc 0 when the write and the close answered 0,
// else the first other answer (extra 1 the open, 2 the write, 3 the close).
zvtest::ChildResult write_one(int32_t id) {
    zvtest::ChildResult r;
    ZVHANDLE s = zvdbAllocSession(1);
    if (!s) return r;
    ZVHANDLE t = nullptr;
    r.rc = zvdbLogon(s, nullptr, "peer", nullptr);
    if (r.rc == 0 && !(t = zvdbAllocTable(s))) r.rc = -1;
    if (r.rc == 0) r.rc = zvdbSetTablePath(t, ".");
    if (r.rc == 0 && (r.rc = zvdbOpenTable(t, "cust", 0)) != 0) r.sys = zvGetSystemErrorCode();
    if (r.rc) {
        r.extra = 1;
    } else {
        ZVHANDLE rec = zvdbAllocRecord(t);
        int rc = rec ? zvdbSetFieldAsSigned(rec, 0, id) : -1;
        if (rc == 0) rc = zvdbSetFieldAsString(rec, 1, "peer");
        if (rc == 0) rc = zvdbWriteRecord(rec);
        if (rc) r.sys = zvGetSystemErrorCode();
        if (rec) zvdbFreeRecord(rec);
        const int cl = zvdbCloseTable(t);
        r.rc = rc ? rc : cl;
        r.extra = rc ? 2 : cl ? 3 : 0;
    }
    if (zvdbIsActiveSession(s)) zvdbLogout(s);
    if (t) zvdbFreeTable(t);
    zvdbFreeSession(s);
    return r;
}

bool lock_refused(const zvtest::ChildResult &r) {
    return r.ok && r.rc == 12 && r.extra == 1 && (r.sys == EAGAIN || r.sys == EACCES);
}

class PeerStepTest : public MaintTest {
protected:
    // The cust table (its "byname" index in a file of its own) with ids
    // 0..29, closed, saved as the template.
    void make() {
        make_cust(true);
        add(table_, 0, 30);
        ASSERT_EQ(zvdbCloseTable(table_), 0);
        zvtest::save_template();
    }
    // The table opened afresh on the template's files, exclusively, and
    // for an alteration given a new field with a default (a full copy).
    void prepare(Op op) {
        if (table_->active) zvdbCloseTable(table_);
        back_to_template();
        zvdbFreeTable(table_);
        table_ = static_cast<tagZVDBTABLE *>(zvdbAllocTable(session_));
        ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
        ASSERT_EQ(zvdbOpenTable(table_, "cust", kExclusive), 0) << last();
        if (op == Op::Alteration) {
            ZVHANDLE c = zvdbAddField(table_, "c", ZV_INT4, 0);
            ASSERT_NE(c, nullptr);
            ASSERT_EQ(zvdbSetFieldDefaultValue(c, "7", 1), 0);
        }
    }
    int run(Op op) {
        switch (op) {
        case Op::Rebuild: return zvdbRebuildTable(table_, 0);
        case Op::Compaction: return zvdbRebuildTable(table_, 8);
        case Op::PurgeStore: return zvdbRebuildTable(table_, 3);
        case Op::Alteration: return zvdbAlterTable(table_, 0);
        }
        return -1;
    }
};

// The other process tries at each step of the call: refused at every
// rename, link and delete; wherever it got in, its record is kept; the call
// answers 0 and leaves the table open on every record by every index.
class PeerStepEach : public PeerStepTest, public ::testing::WithParamInterface<Op> {};

TEST_P(PeerStepEach, AnotherProcessLosesNothingAtAnyStep) {
    make();
    zvtest::Peer peer([](int id) { return write_one(id); });
    const Op op = GetParam();
    prepare(op);
    const std::vector<long> calls = zvtest::count_calls(zvtest::changing_kinds(), [&] { return run(op); });
    int32_t id = kPeerIds;
    for (const zvtest::Step &step : zvtest::steps_of(zvtest::changing_kinds(), calls, 8)) {
        SCOPED_TRACE(std::string("at ") + zvtest::kind_name(step.kind) + " " + std::to_string(step.n));
        prepare(op);
        id++;
        zvtest::ChildResult got;
        bool made = false;
        const int rc = zvtest::run_with_attempt(step, [&] { got = peer.ask(id); }, [&] { return run(op); }, &made);
        EXPECT_TRUE(made);
        EXPECT_EQ(rc, 0) << last();
        EXPECT_TRUE(got.ok && (got.rc == 0 || lock_refused(got))) << got.rc << " " << got.sys << " " << got.extra;
        const bool changing =
            step.kind == zv::IoKind::Link || step.kind == zv::IoKind::Rename || step.kind == zv::IoKind::Unlink;
        if (changing) {
            EXPECT_TRUE(lock_refused(got)) << got.rc << " " << got.sys << " " << got.extra;
        }
        std::vector<int32_t> want = range(0, 30);
        if (got.ok && got.rc == 0) want.push_back(id);
        ASSERT_EQ(zvdbIsActiveTable(table_), 1);
        // What the files hold, read through a handle opened on them.
        ASSERT_EQ(zvdbCloseTable(table_), 0);
        ASSERT_EQ(zvdbOpenTable(table_, "cust", kExclusive), 0) << last();
        EXPECT_EQ(scan(table_), want);
        EXPECT_TRUE(holds(table_, want));
        if (HasFailure()) return;
    }
}

std::string param_name(const ::testing::TestParamInfo<Op> &p) {
    const char *const names[] = {"Rebuild", "Compaction", "PurgeStore", "Alteration"};
    return names[int(p.param)];
}

INSTANTIATE_TEST_SUITE_P(Calls, PeerStepEach, ::testing::Values(Op::Rebuild, Op::Compaction, Op::PurgeStore, Op::Alteration), param_name);

// A writer in another process writes records in a loop, each through its
// own open and close, while this process rebuilds, compacts and alters the
// table over and over (closing it between the calls): every record the
// writer was told it wrote is in the table in the end, by every index.
TEST_F(PeerStepTest, AWriterBesideRepeatedCallsLosesNothing) {
    make();
    zvtest::Beside writer([](int i) {
        const zvtest::ChildResult r = write_one(kPeerIds + i);
        usleep(500);
        return r.rc;
    });
    const Op ops[] = {Op::Compaction, Op::Alteration, Op::Rebuild, Op::Alteration};
    int done = 0, refused = 0;
    for (int round = 0; round < 24; round++) {
        if (!table_->active) {
            // The writer may have the table: open it when it does not.
            ZVDBRET rc = 12;
            for (int tries = 0; tries < 2000 && rc == 12; tries++) {
                if ((rc = zvdbOpenTable(table_, "cust", kExclusive)) == 12) usleep(200);
            }
            ASSERT_EQ(rc, 0) << last();
        }
        const bool with_c = zvdbGetFieldByName(table_, "c") != nullptr;
        const Op op = ops[round % 4];
        if (op == Op::Alteration) {
            // Alternately a field more and that field gone: a full copy.
            if (!with_c) {
                ASSERT_NE(zvdbAddField(table_, "c", ZV_INT4, 0), nullptr);
            } else {
                ASSERT_EQ(zvdbDelFieldByName(table_, "c"), 0);
            }
        }
        const int rc = run(op);
        EXPECT_TRUE(rc == 0 || rc == 12) << int(op) << ": " << rc;
        (rc == 0 ? done : refused)++;
        // Closed between the calls (a refused alteration's changes to the
        // handle go with the close): the writer's turn.
        if (table_->active) {
            ASSERT_EQ(zvdbCloseTable(table_), 0);
        }
        usleep(1000);
    }
    const std::vector<int> acked = writer.stop();
    EXPECT_GT(done, 0);
    EXPECT_GT(acked.size(), 0u);
    ASSERT_EQ(zvdbOpenTable(table_, "cust", kExclusive), 0) << last();
    std::vector<int32_t> want = range(0, 30);
    for (int i : acked) want.push_back(kPeerIds + i);
    std::sort(want.begin(), want.end());
    EXPECT_EQ(scan(table_), want) << acked.size() << " acknowledged, " << done << " calls, " << refused
                                  << " refused";
    EXPECT_TRUE(holds(table_, want));
}

}  // namespace

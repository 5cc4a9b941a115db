// One table written by two processes, each through a session of its own
// that opened it shared: while both have it open neither may write (12,
// nothing written); the one that writes keeps it until it closes; and every
// record either was told it wrote is there when both have closed.
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "tests/recapi/records/recfix.h"
#include "tests/support/child.h"

namespace rectest {
namespace {

constexpr int32_t kBatch = 400;

bool lock_refusal(int rc, int sys) { return rc == 12 && (sys == EAGAIN || sys == EACCES); }

// Adds the records of ids from .. from + kBatch - 1: the number
// acknowledged (0 answers) and the first other answer.
zvtest::ChildResult add_batch(ZVHANDLE table, int32_t from) {
    return zvtest::tally(from, kBatch, [table](int id) {
        ZVHANDLE rec = zvdbAllocRecord(table);
        if (!rec) return -1;
        int rc = zvdbSetFieldAsSigned(rec, 0, id);
        if (rc == 0) rc = zvdbWriteRecord(rec);
        zvdbFreeRecord(rec);
        return rc;
    });
}

// Steps of the other process, on table "t" (the argument in the bits above
// the step): log on and open it shared; add kBatch ids from the argument
// on; close it and log out (a host that a table's open opened stays open
// until then).
enum Step { kOpen = 1, kAdd = 2, kClose = 3 };
int command(Step s, int arg = 0) { return s | arg << 4; }

zvtest::Peer other_process(const std::string &path) {
    struct State {
        ZVHANDLE session = nullptr;
        ZVHANDLE table = nullptr;
    };
    auto st = std::make_shared<State>();
    return zvtest::Peer([st, path](int cmd) {
        zvtest::ChildResult r;
        if (!st->session) {
            st->session = zvdbAllocSession(1);
            if (!st->session) return r;
        }
        switch (cmd & 15) {
        case kOpen:
            r.rc = zvdbLogon(st->session, nullptr, "peer", nullptr);
            if (r.rc == 0 && !st->table && !(st->table = zvdbAllocTable(st->session))) r.rc = -1;
            if (r.rc == 0) r.rc = zvdbSetTablePath(st->table, path.c_str());
            if (r.rc == 0) r.rc = zvdbOpenTable(st->table, "t", 0);
            break;
        case kAdd:
            return add_batch(st->table, cmd >> 4);
        case kClose:
            r.rc = zvdbCloseTable(st->table);
            if (r.rc == 0) r.rc = zvdbLogout(st->session);
            break;
        }
        r.sys = zvGetSystemErrorCode();
        if (r.rc && zvdbIsActiveSession(st->session)) zvdbLogout(st->session);
        return r;
    });
}

// The table "t" by itself, or in a superfile host: there the file that
// both hold is the host.
class SharedTableTest : public RecordTest, public ::testing::WithParamInterface<const char *> {
protected:
    bool in_host() const { return std::string(GetParam()) != "."; }
    // Opens the table (shared) by its name and path.
    void open_shared() {
        ASSERT_EQ(zvdbSetTablePath(table_, GetParam()), 0);
        ASSERT_EQ(zvdbOpenTable(table_, "t", 0), 0) << last();
    }
    // Closes it and lets go of every file: the session logs out and on.
    void leave() {
        ASSERT_EQ(zvdbCloseTable(table_), 0);
        ASSERT_EQ(zvdbLogout(session_), 0);
        ASSERT_EQ(zvdbLogon(session_, nullptr, "tester", nullptr), 0);
    }
    // The files of table "t", as bytes.
    std::vector<std::string> files() const {
        if (in_host()) return {zvtest::read_file("host.sup")};
        return {zvtest::read_file("t.dat"), zvtest::read_file("t.idx")};
    }
};

TEST_P(SharedTableTest, TwoWritersKeepEveryAcknowledgedRecord) {
    define_table({{"id", ZV_INT4, 0}}, {{"pk", 0, 0}});
    ASSERT_EQ(zvdbSetTablePath(table_, GetParam()), 0);
    ASSERT_EQ(zvdbCreateTable(table_, "t", 0), 0) << last();
    leave();
    open_shared();
    zvtest::Peer peer = other_process(GetParam());
    ASSERT_EQ(peer.ask(command(kOpen)).rc, 0);  // readers together
    const std::vector<std::string> before = files();
    zvtest::ChildResult mine = add_batch(table_, 0);
    EXPECT_TRUE(lock_refusal(mine.rc, mine.sys)) << mine.rc << " " << mine.sys;
    EXPECT_EQ(mine.extra, 0);
    zvtest::ChildResult r = peer.ask(command(kAdd, kBatch));
    EXPECT_TRUE(r.ok && lock_refusal(r.rc, r.sys) && r.extra == 0) << r.rc;
    EXPECT_TRUE(files() == before);
    ASSERT_EQ(peer.ask(command(kClose)).rc, 0);

    mine = add_batch(table_, 0);
    EXPECT_EQ(mine.rc, 0);
    EXPECT_EQ(mine.extra, kBatch);
    // The open elsewhere is refused by the lock; a table in a host reports
    // that its host could not be opened (413).
    r = peer.ask(command(kOpen));
    EXPECT_TRUE(r.ok && lock_refusal(in_host() && r.rc == 413 ? 12 : r.rc, r.sys)) << r.rc << " " << r.sys;
    leave();
    ASSERT_EQ(peer.ask(command(kOpen)).rc, 0);
    r = peer.ask(command(kAdd, kBatch));
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.extra, kBatch);
    ASSERT_EQ(peer.ask(command(kClose)).rc, 0);

    // Every acknowledged id, counted and found by its key.
    open_shared();
    tagZVDBRECORD *rec = record();
    uint64_t count = 0;
    ASSERT_EQ(zvdbGetRecordCount(rec, &count), 0);
    EXPECT_EQ(count, uint64_t(2 * kBatch));
    ASSERT_EQ(zvdbSetDefaultIndex(rec, 0), 0);
    for (int32_t id = 0; id < 2 * kBatch; id++) {
        ASSERT_EQ(zvdbSetFieldAsSigned(rec, 0, id), 0);
        ASSERT_EQ(zvdbFindRecord(rec, 0), 0) << id;
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, SharedTableTest, ::testing::Values(".", "host.sup!"),
                         [](const ::testing::TestParamInfo<const char *> &p) {
                             return std::string(p.param) == "." ? "Plain" : "InAHost";
                         });

}  // namespace
}  // namespace rectest

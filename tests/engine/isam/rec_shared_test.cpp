// Record updates of file sets opened shared by two processes: an update
// takes every file of its set before its first change, so that another
// open of any of them refuses it (12) with nothing written, and no record
// that either writer was told it wrote is lost when both have closed.
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "tests/support/child.h"
#include "tests/support/setfix.h"
#include "tests/support/verifyset.h"

namespace {

using settest::cust_record;
using settest::CustSet;

constexpr int16_t kShared = 0x0001;
constexpr int kBatch = 400;
const char *const kFiles[] = {"cust.dat", "cust.idx", "cust_x.idx"};

bool lock_refusal(int rc, int sys) { return rc == 12 && (sys == EAGAIN || sys == EACCES); }

// Adds records from .. from + kBatch - 1: the number acknowledged (0
// answers) and the first other answer.
zvtest::ChildResult add_batch(int datno, int from) {
    return zvtest::tally(from, kBatch, [datno](int i) {
        std::string rec = cust_record(i);
        return ADDREC(datno, rec.data());
    });
}

// Steps of the other process (the argument in the bits above the step):
// open the cust set shared (argument 0) or only its file cust_x.idx
// (argument 1); add kBatch records from the argument on; close.
enum Step { kOpen = 1, kAdd = 2, kClose = 3 };
constexpr int kIndexAlone = 10;  // the other process's number of cust_x.idx alone
int command(Step s, int arg = 0) { return s | arg << 4; }

zvtest::Peer other_process() {
    struct State {
        CustSet set;
        bool index_alone = false;
    };
    auto st = std::make_shared<State>();
    st->set.ifil.dfilmod = st->set.ifil.ifilmod = kShared;
    return zvtest::Peer([st](int cmd) {
        zvtest::ChildResult r;
        if (!zvWNGV->started && INTISAM(10, 20, 4) != 0) return r;
        const int arg = cmd >> 4;
        switch (cmd & 15) {
        case kOpen:
            st->index_alone = arg == 1;
            r.rc = st->index_alone ? OPNFIL(kIndexAlone, "cust_x.idx", kShared) : OPNIFIL(&st->set.ifil);
            break;
        case kAdd:
            return add_batch(st->set.ifil.tfilno, arg);
        case kClose:
            r.rc = st->index_alone ? CLSFIL(kIndexAlone, 0) : CLIFIL(&st->set.ifil);
            break;
        }
        r.sys = zvGetSystemErrorCode();
        return r;
    });
}

class SharedSetTest : public settest::SetTest {
protected:
    void SetUp() override {
        SetTest::SetUp();
        CustSet s;
        ASSERT_EQ(CREIFIL(&s.ifil), 0);
        ASSERT_EQ(add_cust(s.ifil.tfilno, 10), 0);
        ASSERT_EQ(CLIFIL(&s.ifil), 0);
    }
    static std::vector<std::string> files() {
        std::vector<std::string> out;
        for (const char *f : kFiles) out.push_back(zvtest::read_file(f));
        return out;
    }
    // A refused update: 12 with the lock's errno, as the ISAM error of the
    // file held elsewhere, and not a byte of the set changed.
    static void expect_refused(int rc, int filno, const std::vector<std::string> &before) {
        EXPECT_TRUE(lock_refusal(rc, zvGetSystemErrorCode())) << rc << " " << zvGetSystemErrorCode();
        EXPECT_EQ(zvWNGV->isamerr_cod, 12);
        EXPECT_EQ(zvWNGV->isamfil_num, filno);
        EXPECT_TRUE(files() == before);
    }
};

TEST_F(SharedSetTest, TwoWritersKeepEveryAcknowledgedRecord) {
    zvtest::Peer peer = other_process();
    CustSet s;
    s.ifil.dfilmod = s.ifil.ifilmod = kShared;
    ASSERT_EQ(OPNIFIL(&s.ifil), 0);
    const int datno = s.ifil.tfilno;
    ASSERT_EQ(peer.ask(command(kOpen)).rc, 0);  // readers together
    const std::vector<std::string> before = files();
    std::string rec = cust_record(10);
    expect_refused(ADDREC(datno, rec.data()), datno, before);
    zvtest::ChildResult r = peer.ask(command(kAdd, 10));
    EXPECT_TRUE(r.ok && lock_refusal(r.rc, r.sys) && r.extra == 0) << r.rc;
    ASSERT_EQ(peer.ask(command(kClose)).rc, 0);

    zvtest::ChildResult mine = add_batch(datno, 10);
    EXPECT_EQ(mine.rc, 0);
    EXPECT_EQ(mine.extra, kBatch);
    r = peer.ask(command(kOpen));
    EXPECT_TRUE(r.ok && lock_refusal(r.rc, r.sys)) << r.rc;
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    ASSERT_EQ(peer.ask(command(kOpen)).rc, 0);
    r = peer.ask(command(kAdd, 10 + kBatch));
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.extra, kBatch);
    ASSERT_EQ(peer.ask(command(kClose)).rc, 0);

    // Every acknowledged record, in the data file and under every key.
    ASSERT_TRUE(zvtest::verify_set("cust.dat"));
    CustSet check;
    ASSERT_EQ(OPNIFIL(&check.ifil), 0);
    EXPECT_EQ(DATENT(check.ifil.tfilno), uint32_t(10 + 2 * kBatch));
    std::string buf(64, 0);
    for (int i = 0; i < 10 + 2 * kBatch; i++) {
        std::string want = cust_record(i);
        ASSERT_EQ(EQLREC(check.ifil.tfilno + 1, want.data(), buf.data()), 0) << i;
        EXPECT_EQ(buf, want);
    }
    ASSERT_EQ(CLIFIL(&check.ifil), 0);
}

// Every file of a set opened shared is closed virtually (no lock held) while
// the other process adds records: the update that reopens them finds the
// set changed, refuses with 12 (no system error) before any change, and
// reads go on; no record is lost.
TEST_F(SharedSetTest, ASetChangedWhileClosedVirtuallyIsNotUpdatedFromTheOldView) {
    // Two files of this process besides the set, on numbers the set leaves
    // free.
    const int others[] = {15, 16};
    for (int f : others) {
        const std::string name = "other" + std::to_string(f) + ".dat";
        ASSERT_EQ(CREDATX8(f, name.c_str(), 64, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
        ASSERT_EQ(CLSFIL(f, 0), 0);
    }
    zvtest::Peer peer = other_process();
    zvWNGV->openvlimit = 2;
    CustSet s;
    s.ifil.dfilmod = s.ifil.ifilmod = kShared;
    ASSERT_EQ(OPNIFIL(&s.ifil), 0);
    const int datno = s.ifil.tfilno;
    for (int f : others) ASSERT_EQ(OPNFIL(f, ("other" + std::to_string(f) + ".dat").c_str(), kShared), 0);
    for (int f = datno; f <= datno + 3; f++) ASSERT_EQ(zvWNGV->fcbtab[f]->fd, -1) << f;
    ASSERT_EQ(peer.ask(command(kOpen)).rc, 0);
    zvtest::ChildResult r = peer.ask(command(kAdd, 10));
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.extra, kBatch);
    ASSERT_EQ(peer.ask(command(kClose)).rc, 0);

    const std::vector<std::string> before = files();
    std::string rec = cust_record(10 + kBatch);
    EXPECT_EQ(ADDREC(datno, rec.data()), 12);
    EXPECT_EQ(zvGetSystemErrorCode(), 0);
    EXPECT_EQ(zvWNGV->isamerr_cod, 12);
    EXPECT_TRUE(files() == before);
    std::string got(64, 0);
    ASSERT_EQ(EQLREC(datno + 1, cust_record(5).data(), got.data()), 0);
    EXPECT_EQ(got, cust_record(5));
    EXPECT_EQ(DELREC(datno), 12);
    EXPECT_TRUE(files() == before);
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    for (int f : others) ASSERT_EQ(CLSFIL(f, 0), 0);
    zvWNGV->openvlimit = 32767;

    ASSERT_TRUE(zvtest::verify_set("cust.dat"));
    CustSet check;
    ASSERT_EQ(OPNIFIL(&check.ifil), 0);
    EXPECT_EQ(DATENT(check.ifil.tfilno), uint32_t(10 + kBatch));
    for (int i = 0; i < 10 + kBatch; i++) {
        std::string want = cust_record(i);
        ASSERT_EQ(EQLREC(check.ifil.tfilno + 1, want.data(), got.data()), 0) << i;
        EXPECT_EQ(got, want);
    }
    ASSERT_EQ(CLIFIL(&check.ifil), 0);
}

// The data file is free, only an index file of the set is held elsewhere:
// the update is refused before it changes anything.
TEST_F(SharedSetTest, AnUpdateTakesEveryFileOfItsSetBeforeItsFirstChange) {
    struct Case {
        const char *what;
        int (*op)(int datno);
    } cases[] = {
        {"add", [](int d) { std::string r = cust_record(50); return ADDREC(d, r.data()); }},
        {"rewrite", [](int d) { std::string r = cust_record(5); r[63] = 'x'; return RWTREC(d, r.data()); }},
        {"delete", [](int d) { return DELREC(d); }},
    };
    zvtest::Peer peer = other_process();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        CustSet s;
        s.ifil.dfilmod = s.ifil.ifilmod = kShared;
        ASSERT_EQ(OPNIFIL(&s.ifil), 0);
        const int datno = s.ifil.tfilno;
        std::string rec(64, 0);
        ASSERT_EQ(EQLREC(datno + 1, cust_record(5).data(), rec.data()), 0);
        ASSERT_EQ(peer.ask(command(kOpen, 1)).rc, 0);
        const std::vector<std::string> before = files();
        expect_refused(c.op(datno), datno + 3, before);
        for (int f = datno; f <= datno + 3; f++) EXPECT_EQ(zvWNGV->fcbtab[f]->hdr.base.updflg, 0) << f;
        ASSERT_EQ(peer.ask(command(kClose)).rc, 0);
        EXPECT_EQ(c.op(datno), 0);
        ASSERT_EQ(CLIFIL(&s.ifil), 0);
        ASSERT_TRUE(zvtest::verify_set("cust.dat"));
    }
}

}  // namespace

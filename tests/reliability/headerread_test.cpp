// Headers read whole beside other processes' opens and changes: no open
// meets a header whose base and extended parts carry different update
// counters (689) because another process wrote it meanwhile.
//  - Engine level: one process changes the members of a set in a superfile
//    host in a loop (exclusive and shared opens adding records, a change
//    that fails, flushes of every file after both, closes and opens again)
//    while others open the host's members and the set shared in a loop.
//  - Record level: one process connects to a database whose dictionary is
//    in a superfile host (exclusively and shared), makes tables in it, fails
//    a change and disconnects, in a loop, while others connect and
//    disconnect in a loop.
// An open that meets another's lock answers 12; that is no fault here.
// Each process goes on until a given number of its rounds did their work
// (an open, a change), within a bounded time.
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/files/fcbops.h"
#include "tests/reliability/relfix.h"
#include "tests/support/child.h"
#include "tests/support/firststart.h"
#include "zarvo/zvdb.h"

namespace {

using namespace reltest;

constexpr uint16_t kShared = 0x0001;
constexpr int kDefaultRounds = 150;
constexpr auto kTimeLimit = std::chrono::seconds(3);

// The rounds that must do their work in each process (ZV_HEADERREAD_ROUNDS
// asks for another number).
int rounds() {
    const char *v = getenv("ZV_HEADERREAD_ROUNDS");
    return v && *v ? atoi(v) : kDefaultRounds;
}

// What one process met: extra counts the opens answered 689, rc keeps the
// first answer of an open that is none of 0, 12 and 689 (0 when there was
// none), sys counts the rounds that did their work (an open, a change).
struct Tally {
    zvtest::ChildResult r;
    bool refused = false;  // the round met another's lock
    Tally() { r.rc = 0; }
    // An open's answer; true when it opened.
    bool open(int rc) {
        if (rc == 12) refused = true;
        if (rc == 689) r.extra++;
        else if (rc != 0 && rc != 12 && r.rc == 0) r.rc = rc;
        return rc == 0;
    }
};

// Runs round(0), round(1), ... until `work` rounds did their work, or
// until the time limit. A round that met another's lock is followed by a
// short pause, so that the processes take turns.
zvtest::ChildResult loop(int work, const std::function<void(int, Tally &)> &round) {
    Tally t;
    const auto end = std::chrono::steady_clock::now() + kTimeLimit;
    for (int i = 0; t.r.sys < work && std::chrono::steady_clock::now() < end; i++) {
        t.refused = false;
        round(i, t);
        if (t.refused) std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    return t.r;
}

// Every process answered, none met a torn header nor an answer it does
// not expect, and each did its work at least once.
void expect_whole(const std::vector<zvtest::ChildResult> &results) {
    for (size_t p = 0; p < results.size(); p++) {
        SCOPED_TRACE("process " + std::to_string(p));
        const zvtest::ChildResult &r = results[p];
        ASSERT_TRUE(r.ok) << r.status;
        EXPECT_EQ(r.extra, 0) << "opens that met a torn header (689), beside " << r.sys << " rounds that worked";
        EXPECT_EQ(r.rc, 0);
        EXPECT_GT(r.sys, 0);
    }
}

// ---- Engine level ----

const char *const kMembers[] = {"h!items.dat", "h!items.idx", "h!items_nm.idx"};
// The host on 8 (its directory on 9); the first index file has a member.
const int kMemberNumbers[] = {10, 11, 13};

// The superfile host "h" (extended headers) with the set "h!items" in it.
void make_host_set() {
    XCREblk hx{};
    hx.mode = 0x02;
    ASSERT_EQ(CREDATX8(1, "h", 0, 0, 0x200, 0, nullptr, nullptr, &hx), 0);
    SetDef s("h!items", false);
    s.ifil.dfilno = 3;
    ASSERT_EQ(CREIFIL(&s.ifil), 0);
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
}

// The set opened with the mode, after its host when `host` (else the
// member's open opens the host, shared); a record added (the add of an
// exclusive open followed by the add of the same record again, which
// fails), each add followed by a flush of every file; the set and the host
// closed.
void change_set(int16_t mode, bool host, uint32_t number, Tally &t) {
    int rc = host ? OPNFIL(8, "h", uint16_t(mode)) : 0;
    SetDef s("h!items", false);
    s.ifil.dfilmod = mode;
    if (rc == 0) rc = OPNIFIL(&s.ifil);
    if (t.open(rc)) {
        std::string r = image(rec(number));
        const int added = ADDREC(s.ifil.tfilno, r.data());
        ZVFLUSH(-1);
        if (added == 0) {
            t.r.sys++;
            ADDREC(s.ifil.tfilno, r.data());
            ZVFLUSH(-1);
        } else if (added == 12) {
            t.refused = true;
        }
        CLIFIL(&s.ifil);
    }
    if (host) CLSFIL(8, 0);
    else CLSFIL(chkopnx("h"), 0);
}

zvtest::ChildResult changer() {
    if (INTISAMX(3, 30, 4, 3, kProfile) != 0) return {};
    zvtest::ChildResult r = loop(rounds(), [](int i, Tally &t) {
        change_set(0, false, uint32_t(2 * i + 1000), t);
        change_set(kShared, true, uint32_t(2 * i + 1001), t);
    });
    CLISAM();
    return r;
}

zvtest::ChildResult opener() {
    if (INTISAMX(3, 30, 4, 3, kProfile) != 0) return {};
    zvtest::ChildResult r = loop(rounds(), [](int, Tally &t) {
        int rc = OPNFIL(8, "h", kShared);
        for (int m = 0; rc == 0 && m < 3; m++) rc = OPNFIL(kMemberNumbers[m], kMembers[m], kShared);
        if (t.open(rc)) t.r.sys++;
        for (int m = 0; m < 3; m++) CLSFIL(kMemberNumbers[m], 0);
        CLSFIL(8, 0);
        rc = OPNFIL(8, "h", kShared);
        SetDef s("h!items", false);
        s.ifil.dfilmod = kShared;
        if (rc == 0) rc = OPNIFIL(&s.ifil);
        if (t.open(rc)) {
            t.r.sys++;
            CLIFIL(&s.ifil);
        }
        CLSFIL(8, 0);
    });
    CLISAM();
    return r;
}

class HeaderReadTest : public RelTest {};

TEST_F(HeaderReadTest, MemberOpensBesideAWriterOfTheHostMeetNoTornHeader) {
    make_host_set();
    expect_whole(zvtest::run_together({changer, opener, opener}));
    // The changer added records, and the set is whole.
    ASSERT_EQ(OPNFIL(1, "h", 0), 0);
    SetDef s("h!items", false);
    ASSERT_EQ(OPNIFIL(&s.ifil), 0);
    EXPECT_GT(DATENT(s.ifil.tfilno), 0u);
    EXPECT_EQ(CLIFIL(&s.ifil), 0);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

// ---- Record level ----

// A table of one integer field with a unique index on it (index names are
// unique in a database).
int define_table(ZVHANDLE t, const std::string &index = "by_id") {
    ZVHANDLE id = zvdbAddField(t, "id", ZV_INT4, 4);
    ZVHANDLE ix = zvdbAddIndex(t, index.c_str(), 0, 0, 0);
    return id && ix && zvdbAddSegment(ix, id, 12) ? 0 : -10;
}

// Connected to "shop" (exclusively when asked); with `make`, the table of
// that name made (a change of the dictionary; it fails when the name is
// taken already) and a table that is not there dropped (a change that
// fails); disconnected.
void connect_round(ZVHANDLE session, bool exclusive, const std::string &make, Tally &t) {
    ZVHANDLE db = zvdbAllocDatabase(session);
    if (!db) return;
    if (exclusive) zvdbSetDatabaseExclusive(db, 1);
    if (t.open(zvdbConnect(db, "shop"))) {
        if (make.empty()) {
            t.r.sys++;
        } else {
            int made = -1;
            if (ZVHANDLE table = zvdbAllocTable(db)) {
                if (define_table(table, make + "_id") == 0) made = zvdbCreateTable(table, make.c_str(), 0);
                zvdbFreeTable(table);
            }
            if (made == 0) t.r.sys++;
            if (made == 12) t.refused = true;
            zvdbDropTable(db, "none");
        }
        zvdbDisconnect(db);
    }
    zvdbFreeDatabase(db);
}

zvtest::ChildResult connecting(bool changes) {
    ZVHANDLE session = zvdbAllocSession(0);
    if (!session || zvdbLogon(session, nullptr, "tester", nullptr) != 0) return {};
    zvtest::ChildResult r = loop(rounds(), [session, changes](int i, Tally &t) {
        const std::string make = changes ? "t" + std::to_string(i) : std::string();
        connect_round(session, true, make, t);
        connect_round(session, false, make, t);
    });
    zvdbFreeSession(session);
    return r;
}

class DictionaryHeaderTest : public zvtest::ZvTest {};

TEST_F(DictionaryHeaderTest, ConnectsBesideAProcessChangingTheDictionaryMeetNoTornHeader) {
    {
        zvtest::StartUp s;
        s.define = [](ZVHANDLE t) { return define_table(t); };
        ASSERT_EQ(s.run(), 0) << s.trail;
    }
    const auto others = [] { return connecting(false); };
    expect_whole(zvtest::run_together({[] { return connecting(true); }, others, others, others, others}));
    // The changer made tables.
    zvtest::StartUp s;
    s.define = [](ZVHANDLE t) { return define_table(t); };
    ASSERT_EQ(s.run(), 0) << s.trail;
    EXPECT_GT(zvdbGetTableCount(s.db), 1);
}

}  // namespace

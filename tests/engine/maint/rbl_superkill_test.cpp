// Superfile hosts after a kill: a process that ends without closing its
// host, inside the repair itself or after a flush, and the repair that
// follows (the set rebuild, and the superfile rebuild first when the host
// itself was not closed cleanly) brings back every record flushed before.
#include <unistd.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "engine/core/arith.h"
#include "engine/core/filenum.h"
#include "engine/core/platform.h"
#include "engine/files/fcbops.h"
#include "tests/engine/maint/rblfix.h"
#include "tests/support/child.h"
#include "tests/support/damage.h"
#include "tests/support/verifyset.h"

namespace {

using namespace rbltest;

constexpr int kKilled = 77;

class RblSuperKill : public RblTest {
protected:
    // The documented repair of a set in a host: the set opens as it stands,
    // or its set rebuild; when that finds the host not closed cleanly (14),
    // the superfile rebuild of the host and the set rebuild again. 0 or the
    // first code that stops it.
    static int repair(RblSet &s, const char *host) {
        s.ifil.tfilno = -1;
        int rc = OPNIFIL(&s.ifil);
        if (rc == 0) {
            CLIFIL(&s.ifil);
            CLSFIL(chkopnx(host), 0);
            return 0;
        }
        CLSFIL(chkopnx(host), 0);
        rc = s.rebuild();
        if (rc == 14) {
            if ((rc = ZVSBLDX(host, nullptr)) != 0) return rc;
            rc = s.rebuild();
        }
        return rc;
    }
    // The set holds exactly `records` through every index, verifies sound,
    // and takes one more record.
    void expect_whole(RblSet &s, const char *host, const std::multiset<std::string> &records) {
        EXPECT_EQ(records_of(s), records);
        EXPECT_TRUE(indexes_verify(s));
        EXPECT_TRUE(zvtest::verify_set(s.dat()));
        s.ifil.tfilno = -1;
        ASSERT_EQ(OPNIFIL(&s.ifil), 0);
        const std::string img = image(rec(99999));
        EXPECT_EQ(s.variable() ? ADDVREC(s.ifil.tfilno, const_cast<char *>(img.data()), int32_t(img.size()))
                               : ADDREC(s.ifil.tfilno, const_cast<char *>(img.data())),
                  0);
        EXPECT_EQ(CLIFIL(&s.ifil), 0);
        CLSFIL(chkopnx(host), 0);
    }
};

// A kill anywhere in the repair of a host (the superfile rebuild, then the
// set rebuild of its set), the kill just after the superfile rebuild
// answered among them: the repair run again restores the set whole, its
// indexes loaded. The emptied indexes the superfile rebuild leaves stay
// marked until the set rebuild has loaded them, so the set never opens
// with empty indexes. Every write is a kill point up to ZV_SUPERKILL_RUNS
// points (default 20, spread over the writes; ZV_SUPERKILL_SEED moves
// them).
TEST_F(RblSuperKill, AKillInsideTheRepairOfAHostLeavesItRepairable) {
    RblSet s("h!cust", Kind::Fixed);
    ASSERT_EQ(CREDAT(1, "h", 0, 0, 0x200), 0);
    const std::multiset<std::string> records = build(s, 60);
    ASSERT_EQ(CLSFIL(chkopnx("h"), 0), 0);
    zvtest::save_template();
    // The writes of a whole repair, counted once.
    zv::fault_reset();
    ASSERT_EQ(ZVSBLDX("h", nullptr), 0);
    const long sbldx_writes = zv::io_calls(zv::IoKind::Write);
    ASSERT_EQ(s.rebuild(), 0) << status_log();
    const long writes = zv::io_calls(zv::IoKind::Write);
    ASSERT_GT(sbldx_writes, 0);
    const char *runs_env = std::getenv("ZV_SUPERKILL_RUNS");
    const char *seed_env = std::getenv("ZV_SUPERKILL_SEED");
    const long runs = runs_env ? std::atol(runs_env) : 20;
    const long seed = seed_env ? std::atol(seed_env) : 1;
    const long step = runs >= writes ? 1 : writes / runs;
    std::vector<long> points;
    for (long n = 1 + seed % step; n <= writes; n += step) points.push_back(n);
    // -1: the kill just after the superfile rebuild answered, before the
    // set rebuild.
    points.push_back(-1);
    points.push_back(sbldx_writes + 1);
    for (long n : points) {
        SCOPED_TRACE("kill at write " + std::to_string(n));
        zvtest::restore_template();
        fflush(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            if (REGZARVO("child") != 0 || INTISAMX(16, 60, 4, 32, kProfile) != 0) _exit(3);
            zv::fault_reset();
            if (n > 0) zv::fault_exit(zv::IoKind::Write, n, kKilled);
            if (ZVSBLDX("h", nullptr) != 0) _exit(4);
            if (n < 0) _exit(kKilled);
            s.ifil.tfilno = -1;
            _exit(RBLIFIL(&s.ifil) == 0 ? 0 : 5);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_TRUE(WEXITSTATUS(status) == kKilled || WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
        if (n < 0) {
            // Emptied and not yet loaded: the set does not open.
            s.ifil.tfilno = -1;
            EXPECT_EQ(OPNIFIL(&s.ifil), 14);
            CLSFIL(chkopnx("h"), 0);
        }
        ASSERT_EQ(repair(s, "h"), 0) << status_log();
        expect_whole(s, "h", records);
        if (HasFailure()) break;
    }
}

// A process that made a host and filled a set in it, flushed, added more
// and was killed: the member open answers 413 (its host was not closed
// cleanly), the superfile rebuild finds the host's directory and members,
// and the set rebuild brings back every record flushed; records added
// after the flush are there whole or not at all. The flush itself leaves
// the host's header pointing at its directory and the members' headers
// with their counts.
TEST_F(RblSuperKill, MembersMadeByAKilledProcessAreRecoveredAsFlushed) {
    for (Kind kind : {Kind::Fixed, Kind::Variable}) {
        SCOPED_TRACE(kind_name(kind));
        const std::string host = std::string("k") + kind_name(kind)[0];
        RblSet s((host + "!cust").c_str(), kind);
        const uint32_t flushed = 300, more = 40;
        zvtest::ChildResult c = zvtest::run_in_child([&] {
            zvtest::ChildResult r;
            if ((r.rc = INTISAMX(16, 60, 4, 32, kProfile)) || (r.rc = CREDAT(1, host.c_str(), 0, 0, 0x200))) return r;
            const int d = s.create();
            if (d < 0) return r.rc = -1, r;
            auto add = [&](uint32_t k) {
                const std::string img = image(rec(k * 10), s.variable() ? k % 9 * 11 : 0);
                return s.variable() ? ADDVREC(d, const_cast<char *>(img.data()), int32_t(img.size()))
                                    : ADDREC(d, const_cast<char *>(img.data()));
            };
            for (uint32_t k = 1; k <= flushed; k++)
                if ((r.rc = add(k))) return r;
            if ((r.rc = ZVFLUSH(-1))) return r;
            // Where the data member's header lies, for the parent.
            const FCB *f = zv::fcb_at(d);
            zvtest::write_file("hdrpos", std::to_string(zv::join64(f->hposh, f->hposl)));
            for (uint32_t k = flushed + 1; k <= flushed + more; k++)
                if ((r.rc = add(k))) return r;
            _exit(0);
        });
        ASSERT_FALSE(c.ok) << "the child ended without closing: " << c.rc;
        const uint32_t dirpos = zvtest::get_le32(host, 84);
        const uint64_t hdrpos = std::stoull(zvtest::read_file("hdrpos"));
        if (!s.variable()) {
            EXPECT_EQ(zvtest::get_le32(host, hdrpos + 24), flushed) << "the flush wrote the member's count";
        }
        EXPECT_EQ(zvtest::get_le32(host, 16), 4u) << "the flush wrote the host's member count";
        s.ifil.tfilno = -1;
        EXPECT_EQ(OPNIFIL(&s.ifil), 413);
        ASSERT_EQ(repair(s, host.c_str()), 0) << status_log();
        EXPECT_NE(dirpos, 0u);
        EXPECT_EQ(zvtest::get_le32(host, 84), dirpos) << "the flush wrote where the directory lies";
        // Every flushed record; a later one only whole.
        std::multiset<std::string> want;
        std::set<std::string> later;
        for (uint32_t k = 1; k <= flushed + more; k++) {
            const std::string img = image(rec(k * 10), s.variable() ? k % 9 * 11 : 0);
            if (k <= flushed) want.insert(img);
            else later.insert(img);
        }
        std::multiset<std::string> got = records_of(s);
        for (const std::string &r : got) {
            if (!want.count(r)) {
                EXPECT_TRUE(later.count(r)) << "a record never written";
            }
        }
        for (const std::string &r : want) EXPECT_EQ(got.count(r), 1u) << "a flushed record is missing";
        expect_whole(s, host.c_str(), got);
    }
}

// A process that made a host and a set in it and was killed before any
// flush: the host's header never learnt where its directory lies. The
// superfile rebuild finds the directory by its own area and answers 0 (not
// a damaged header), and the set comes back whole with whatever records
// reached the file, each one that was written (nothing was flushed, so
// nothing more is owed).
TEST_F(RblSuperKill, AHostKilledBeforeItsFirstFlushIsRebuilt) {
    RblSet s("n!cust", Kind::Fixed);
    const uint32_t written = 30;
    zvtest::ChildResult c = zvtest::run_in_child([&] {
        zvtest::ChildResult r;
        if ((r.rc = INTISAMX(16, 60, 4, 32, kProfile)) || (r.rc = CREDAT(1, "n", 0, 0, 0x200))) return r;
        const int d = s.create();
        if (d < 0) return r.rc = -1, r;
        for (uint32_t k = 1; k <= written; k++) {
            const std::string img = image(rec(k * 10));
            if ((r.rc = ADDREC(d, const_cast<char *>(img.data())))) return r;
        }
        _exit(0);
    });
    ASSERT_FALSE(c.ok) << "the child ended without closing: " << c.rc;
    EXPECT_EQ(zvtest::get_le32("n", 84), 0u) << "the host's header without its directory";
    ASSERT_EQ(ZVSBLDX("n", nullptr), 0) << status_log();
    EXPECT_NE(zvtest::get_le32("n", 84), 0u);
    ASSERT_EQ(repair(s, "n"), 0) << status_log();
    // The definition stored in the data file at its creation never reached
    // the file either: the rebuild that stores it again.
    ASSERT_EQ(s.rebuild(-99), 0) << status_log();
    std::set<std::string> all;
    for (uint32_t k = 1; k <= written; k++) all.insert(image(rec(k * 10)));
    const std::multiset<std::string> got = records_of(s);
    for (const std::string &r : got) EXPECT_EQ(all.count(r), 1u) << "a record never written";
    expect_whole(s, "n", got);
}

// A kill at each write of the creation of a second set in a host whose
// first set was closed cleanly: the superfile rebuild answers 0 whatever
// the kill left of the new members (their areas, headers, directory keys),
// and the first set comes back whole.
TEST_F(RblSuperKill, AKillWhileMembersAreMadeLeavesTheHostRebuildable) {
    RblSet a("h!cust", Kind::Fixed), b("h!more", Kind::Variable);
    ASSERT_EQ(CREDAT(1, "h", 0, 0, 0x200), 0);
    const std::multiset<std::string> records = build(a, 40);
    ASSERT_EQ(CLSFIL(chkopnx("h"), 0), 0);
    zvtest::save_template();
    bool completed = false;
    for (long n = 1; !completed; n++) {
        SCOPED_TRACE("kill at write " + std::to_string(n));
        ASSERT_LT(n, 400);
        zvtest::restore_template();
        fflush(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            if (REGZARVO("child") != 0 || INTISAMX(16, 60, 4, 32, kProfile) != 0) _exit(3);
            zv::fault_reset();
            zv::fault_exit(zv::IoKind::Write, n, kKilled);
            _exit(b.create() < 0 ? 4 : 0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_TRUE(WEXITSTATUS(status) == kKilled || WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
        completed = WEXITSTATUS(status) == 0;
        EXPECT_EQ(ZVSBLDX("h", nullptr), 0) << status_log();
        ASSERT_EQ(repair(a, "h"), 0) << status_log();
        expect_whole(a, "h", records);
        if (HasFailure()) break;
    }
}

// A variable-length set in a host left with a record twice (a second live
// copy in the data member that no index points at, as a kill inside a move
// leaves it): the copy is rejected by both unique indexes and so listed
// twice for the purge. The purge frees it once (a member's freed area
// carries the member free mark, so a second free would fail), answers 650
// and keeps the first copy; the set verifies sound.
TEST_F(RblSuperKill, ThePurgeFreesAMemberRecordListedByTwoIndexesOnce) {
    RblSet s("t!twice", Kind::Variable);
    ASSERT_EQ(CREDAT(1, "t", 0, 0, 0x200), 0);
    const std::multiset<std::string> records = build(s, 30);
    const std::string copy = *std::next(records.begin(), 5);
    s.ifil.tfilno = -1;
    ASSERT_EQ(OPNIFIL(&s.ifil), 0);
    const int d = s.ifil.tfilno;
    const uint32_t pos = NEWVREC(d, int32_t(copy.size()));
    ASSERT_NE(pos, 0u);
    ASSERT_EQ(WRTVREC(d, pos, const_cast<char *>(copy.data()), int32_t(copy.size())), 0);
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    ASSERT_EQ(CLSFIL(chkopnx("t"), 0), 0);
    s.ifil.tfilno = -1;
    EXPECT_EQ(s.rebuild(int16_t(-(0x4000 + 0x004))), 650) << status_log();
    CLSFIL(chkopnx("t"), 0);
    expect_whole(s, "t", records);
}

// A host whose index nodes never reached the file (a kill before their
// pages were written: the growth fill is all there is) and whose data
// member is left marked changed. The superfile rebuild frees each
// unreadable node area and keeps every record area after it, also one
// followed by a member's freed area (a deleted record of the
// variable-length set); it empties the index members, leaves them marked
// and closes the host clean. The set rebuild then opens members that are
// all marked in a host that is not, and grows the host with the nodes it
// loads: the host's header on disk must count them in its last byte used,
// so that the page scan of the index verification finds them and the
// host's next growth does not take their space.
TEST_F(RblSuperKill, TheHostOfMarkedMembersCountsTheSpaceTheirRebuildTakes) {
    for (Kind kind : {Kind::Fixed, Kind::Variable}) {
        SCOPED_TRACE(kind_name(kind));
        const std::string host = std::string("g") + kind_name(kind)[0];
        RblSet s((host + "!cust").c_str(), kind);
        ASSERT_EQ(CREDAT(1, host.c_str(), 0, 0, 0x200), 0);
        const std::multiset<std::string> records = build(s, 60);
        s.ifil.tfilno = -1;
        ASSERT_EQ(OPNIFIL(&s.ifil), 0);
        const FCB *dat = zv::fcb_at(s.ifil.tfilno);
        const uint64_t dathdr = zv::join64(dat->hposh, dat->hposl);
        std::set<uint32_t> indexes;
        std::vector<uint64_t> headers;
        for (int k = 1; k < 4; k++) {
            const FCB *f = zv::fcb_at(s.ifil.tfilno + k);
            // A member index lies in its index file's member of the host.
            if (f->hdr.base.supmbr) indexes.insert(f->hdr.base.supmbr);
            headers.push_back(zv::join64(f->hposh, f->hposl));
        }
        ASSERT_EQ(CLIFIL(&s.ifil), 0);
        ASSERT_EQ(CLSFIL(chkopnx(host.c_str()), 0), 0);
        // Every node area of the indexes back to the growth fill.
        int nodes = 0;
        for (uint64_t at = 512; at < zvtest::file_size(host);) {
            const uint32_t len = zvtest::get_le32(host, at + 2);
            if (len < 10) break;
            const bool node = uint16_t(zvtest::get_le32(host, at)) == 0xFAFA &&
                              indexes.count(zvtest::get_le32(host, at + 10)) &&
                              std::none_of(headers.begin(), headers.end(),
                                           [&](uint64_t h) { return h >= at && h < at + len; });
            if (node) {
                zvtest::write_bytes(host, at, std::string(len, char(0xFF)));
                nodes++;
            }
            at += len;
        }
        ASSERT_GT(nodes, 2);
        ASSERT_EQ(ZVSBLDX(host.c_str(), nullptr), 0) << status_log();
        EXPECT_EQ(zvtest::get_le32(host, 56) & 0xFF, 0u) << "the host closed clean";
        zvtest::write_bytes(host, dathdr + 56, std::string(1, char(0xFF)));
        ASSERT_EQ(s.rebuild(), 0) << status_log();
        CLSFIL(chkopnx(host.c_str()), 0);
        expect_whole(s, host.c_str(), records);
        // The record expect_whole added went where the host's growth put it.
        EXPECT_TRUE(indexes_verify(s));
        EXPECT_TRUE(zvtest::verify_set(s.dat()));
    }
}

// A set swapped into member names that no member has (as a table's make
// puts its new set in place in a host that exists), killed at each write
// of the swap: the host is left not closed cleanly, and its superfile
// rebuild leaves the swap's note alone (its own opens of the members
// finish no swap under it). The next open of the data member by its name
// (with the file number after the first free one taken, where an index
// member opened at the first would bind its indexes) then finishes the
// swap, or, when no member had moved, drops it (with
// the new members, when their stored definition already names the set's
// files; a note that nothing there confirms is left as it is, moving
// nothing): the set is under its names with every record once its rebuild
// has loaded the emptied indexes, and no note is left, or it is absent
// under them.
TEST_F(RblSuperKill, AKilledSwapIntoFreeMemberNamesIsFinishedOrDroppedAfterTheHostRebuild) {
    RblSet other("h!other", Kind::Fixed), fresh("h!new", Kind::Fixed), placed("h!cust", Kind::Fixed);
    ASSERT_EQ(CREDAT(1, "h", 0, 0, 0x200), 0);
    const std::multiset<std::string> others = build(other, 20);
    const std::multiset<std::string> records = build(fresh, 30);
    ASSERT_EQ(CLSFIL(chkopnx("h"), 0), 0);
    zvtest::save_template();
    // The swap runs on the host open, as the make's does. Its writes,
    // counted once.
    auto swap = [&] {
        const int rc = OPNFIL(AVLFILNUM(2), "h", 0);
        return rc ? rc : SWPIFILX(&fresh.ifil, &placed.ifil, nullptr, nullptr);
    };
    zv::fault_reset();
    ASSERT_EQ(swap(), 0) << status_log();
    const long writes = zv::io_calls(zv::IoKind::Write);
    ASSERT_EQ(CLSFIL(chkopnx("h"), 0), 0);
    ASSERT_GT(writes, 0);
    long finished = 0, absent = 0;
    for (long n = 1; n <= writes; n++) {
        SCOPED_TRACE("kill at write " + std::to_string(n) + " of " + std::to_string(writes));
        std::remove("h!cust.dat.swap");
        std::remove("h!cust.dat.swap.new");
        std::remove("ZVSTATUS.QVS");
        zvtest::restore_template();
        fflush(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            if (REGZARVO("child") != 0 || INTISAMX(16, 60, 4, 32, kProfile) != 0) _exit(3);
            zv::fault_reset();
            zv::fault_exit(zv::IoKind::Write, n, kKilled);
            _exit(swap() == 0 ? 0 : 4);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_EQ(WEXITSTATUS(status), kKilled);
        ASSERT_EQ(ZVSBLDX("h", nullptr), 0) << status_log();
        EXPECT_EQ(status_log().find("Swap: finishing"), std::string::npos) << "the host's rebuild finished the swap";
        // The number after the first free one taken: the open that
        // finishes the swap finds room for an index member (which binds
        // the indexes it holds at the numbers after its own) elsewhere.
        const int gap = AVLFILNUM(1);
        ASSERT_GE(gap, 0);
        const bool blocked = TSTFILNUM(gap + 1) == 0;
        if (blocked) {
            ASSERT_EQ(std::filesystem::exists("blocker") ? OPNFIL(gap + 1, "blocker", 0) : CREDAT(gap + 1, "blocker", 64, 0, 0), 0);
        }
        placed.ifil.tfilno = -1;
        const int rc = OPNIFIL(&placed.ifil);
        CLSFIL(chkopnx("h"), 0);
        if (blocked) {
            ASSERT_EQ(CLSFIL(gap + 1, 0), 0);
        }
        if (rc == 14) {
            finished++;
            ASSERT_EQ(placed.rebuild(), 0) << status_log();
            expect_whole(placed, "h", records);
            EXPECT_FALSE(std::filesystem::exists("h!cust.dat.swap"));
        } else {
            absent++;
            EXPECT_EQ(rc, 12) << status_log();
        }
        if (HasFailure()) break;
    }
    EXPECT_GT(finished, 0);
    EXPECT_GT(absent, 0);
}

}  // namespace

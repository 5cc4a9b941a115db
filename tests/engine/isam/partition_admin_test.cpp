// Partition administration: the codes of PTADMIN, the life of a member
// (archive, activate, purge, re-use, add) and the fault sweeps of purge and
// archive.
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/fcb.h"
#include "engine/isam/partition.h"
#include "tests/engine/isam/partfix.h"

namespace {

using namespace parttest;

constexpr int kByName = 1, kByKey = 2, kByNumber = 4;

class PartAdminTest : public PartTest {
protected:
    // A Region host with sales in members 1, 2 and 3 (2, 3 and 4 of them),
    // its U kept with enhanced counts when `enhanced`.
    int members(SalesDef &def, bool enhanced = true) {
        int d = make_regions(def);
        if (enhanced) {
            EXPECT_EQ(PUTHDR(d, 1, 67), 0);
        }
        uint32_t n = 1;
        for (int32_t r = 1; r <= 3; r++)
            for (int i = 0; i <= r; i++) EXPECT_EQ(add(d, sale(n++, 0, r)), 0);
        return d;
    }
    static uint64_t live(int ix) {
        uint32_t lo = IDXENT(ix);
        return uint64_t(uint32_t(zvGETHGH())) << 32 | lo;
    }
    static std::string member_name(int d, int32_t raw) { return entry(d, raw)->name; }
    static std::string status_log() { return zvtest::read_file("ZVSTATUS.QVS"); }
};

TEST_F(PartAdminTest, Codes) {
    SalesDef def("sales", Rule::Region);
    const int d = members(def, false);
    const int m1 = zv::pfilno(d, 1, false);
    ASSERT_GE(m1, 0);
    const std::string m1name = member_name(d, 1);
    const std::string m2name = member_name(d, 2);
    // Member 3 archived, raw 5 a state-0 entry (member 6 made and purged
    // would be more; an entry inside the table without a member will do).
    ASSERT_EQ(add(d, sale(60, 0, 6)), 0);
    ASSERT_EQ(PTADMIN(d, nullptr, 3, 64 | kByNumber), 0);
    struct Case {
        int file;
        const char *text;
        int32_t raw;
        int mode;
        int want;
    } cases[] = {
        {m1, nullptr, 1, 2048 | kByNumber, 713},          // a member is no host
        {d + 1, nullptr, 1, 2048 | kByNumber, 48},        // an index
        {d, nullptr, 1, 16 | 32 | kByNumber, 446},        // two actions
        {d, nullptr, 1, 16 | 3, 446},                     // designation 3
        {d, nullptr, 7, 32 | kByNumber, 446},             // add not by name
        {d, nullptr, 1, 256 | kByNumber, 454},
        {d, nullptr, 1, 16 | 0x1000 | kByNumber, 454},
        {d, nullptr, 0, 16 | kByNumber, 712},
        {d, nullptr, 7, 16 | kByNumber, 730},
        {d, nullptr, 4, 16 | kByNumber, 715},             // purge of state 0
        {d, nullptr, 3, 64 | kByNumber, 715},             // archive of state 3
        {d, nullptr, 5, 1024 | kByNumber, 715},           // activate of state 0
        {d, nullptr, 1, 1024 | kByNumber, 718},           // activate of state 1
        {d, nullptr, 2, 128 | kByNumber, 718},            // base above active member 1
        {d, "nosuch.dat", 0, 2048 | kByName, 715},
        {d, m2name.c_str(), 8, 32 | kByName, 718},        // a name already in the table
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " raw " << c.raw);
        EXPECT_EQ(PTADMIN(c.file, c.text, c.raw, c.mode), c.want);
        EXPECT_EQ(zvWNGV->uerr_cod, c.want);
    }
    EXPECT_EQ(zv::fcb_at(d)->partdef->ptbase, 1);
    EXPECT_EQ(entry(d, 1)->state, zv::kMbrOpen);
    // Asking gives the state in the secondary error word, by each designation.
    EXPECT_EQ(PTADMIN(d, nullptr, 3, 2048 | kByNumber), 0);
    EXPECT_EQ(zvGetSystemErrorCode(), 3);
    EXPECT_EQ(PTADMIN(d, m1name.c_str(), 0, 2048 | kByName), 0);
    EXPECT_EQ(zvGetSystemErrorCode(), 2);
    unsigned char key[12];
    const int m6 = zv::pfilno(d, 6, false);
    ASSERT_NE(FRSKEY(m6 + 1, key) | uint32_t(zvGETHGH()), 0u);
    EXPECT_EQ(PTADMIN(d, reinterpret_cast<const char *>(key), 0, 2048 | kByKey), 0);
    EXPECT_EQ(zvGetSystemErrorCode(), 2);
    // Through the function number.
    int32_t raw = 3, len = 0;
    EXPECT_EQ(zarvo(0x0281, int16_t(d), nullptr, &raw, nullptr, &len, 2048 | kByNumber), 0);
    EXPECT_EQ(zvGetSystemErrorCode(), 3);
    // The rule: a text that does not parse, then none.
    EXPECT_EQ(PTADMIN(d, "Region +", 0, 8192), 747);
    EXPECT_NE(zvGetSystemErrorCode(), 0);
    EXPECT_EQ(resource(d, 10).substr(0, 7), std::string("Region\0", 7));
    EXPECT_EQ(PTADMIN(d, nullptr, 0, 8192), 0);
    EXPECT_EQ(resource(d, 10), std::string("NONE\0", 5));
    EXPECT_EQ(zv::fcb_at(d)->partdef->ptrule, nullptr);
}

TEST_F(PartAdminTest, AddChecksTheFile) {
    SalesDef other("other", Rule::Region);
    const int o = make_regions(other);
    ASSERT_EQ(add(o, sale(1, 0, 5)), 0);
    const std::string five = member_name(o, 5);
    ASSERT_EQ(CLIFIL(&other.ifil), 0);
    // A set with a standard header, and one with an extended header that
    // is no member.
    SalesDef plain("plain", Rule::Region, false, false), wide("wide", Rule::Region, true, false);
    for (XCREblk &b : plain.x) b.mode = 0x10000;   // a standard header
    for (XCREblk &b : wide.x) b.mode &= ~zv::kPartBits;
    ASSERT_EQ(CREIFILX8(&plain.ifil, nullptr, nullptr, 0, nullptr, nullptr, plain.x), 0);
    ASSERT_EQ(CLIFIL(&plain.ifil), 0);
    ASSERT_EQ(CREIFILX8(&wide.ifil, nullptr, nullptr, 0, nullptr, nullptr, wide.x), 0);
    ASSERT_EQ(CLIFIL(&wide.ifil), 0);
    SalesDef def("sales", Rule::Region);
    const int d = make_regions(def);
    EXPECT_EQ(PTADMIN(d, "plain.dat", 5, 32 | kByName), 734);
    EXPECT_EQ(PTADMIN(d, "wide.dat", 5, 32 | kByName), 714);
    EXPECT_EQ(PTADMIN(d, five.c_str(), 6, 32 | kByName), 737);
    EXPECT_EQ(PTADMIN(d, five.c_str(), -1, 32 | kByName), 712);
    EXPECT_EQ(PTADMIN(d, five.c_str(), 1 + 65336, 32 | kByName), 730);
    EXPECT_EQ(entry(d, 5)->state, zv::kMbrNone);
    EXPECT_EQ(entry(d, 5)->name, nullptr);
    // Raw number 0: the one the member file carries.
    EXPECT_EQ(PTADMIN(d, five.c_str(), 0, 32), 0);
    EXPECT_EQ(entry(d, 5)->state, zv::kMbrClosed);
    Sale s;
    ASSERT_EQ(FRSREC(d, &s), 0);
    EXPECT_EQ(s.number, 1u);
}

// A member file made under stamp 3 is added to an entry of stamp 0: the
// entry takes the file's stamp and the member opens.
TEST_F(PartAdminTest, AnAddedMemberKeepsItsStamp) {
    SalesDef other("other", Rule::Region);
    const int o = make_regions(other);
    zv::fcb_at(o)->hdr.ext.crew14 = 3;
    ASSERT_EQ(add(o, sale(9, 0, 2)), 0);
    const std::string two = member_name(o, 2);
    ASSERT_EQ(entry(o, 2)->stamp, 3);
    ASSERT_EQ(CLIFIL(&other.ifil), 0);
    SalesDef def("sales", Rule::Region);
    int d = make_regions(def);
    ASSERT_EQ(PTADMIN(d, two.c_str(), 2, 32 | kByName), 0);
    EXPECT_EQ(entry(d, 2)->stamp, 3);
    ASSERT_EQ(CLIFIL(&def.ifil), 0);
    d = OPNRFIL(-1, "sales.dat", 0);
    ASSERT_GE(d, 0);
    Sale s;
    ASSERT_EQ(FRSREC(d, &s), 0);
    EXPECT_EQ(s.number, 9u);
}

TEST_F(PartAdminTest, ArchiveAndActivateMoveTheLiveCount) {
    SalesDef def("sales", Rule::Region);
    const int d = members(def);
    EXPECT_EQ(live(d + 3), 9u);
    EXPECT_EQ(DATENT(d), 9u);
    ASSERT_EQ(PTADMIN(d, nullptr, 2, 64 | kByNumber), 0);
    EXPECT_EQ(entry(d, 2)->state, zv::kMbrArchived);
    EXPECT_EQ(live(d + 3), 6u);
    EXPECT_EQ(zv::fcb_at(d + 3)->hdr.ext.wide64[1], 3u);
    EXPECT_EQ(live(d + 2), 6u);
    ASSERT_EQ(PTADMIN(d, nullptr, 2, 1024 | kByNumber), 0);
    EXPECT_EQ(entry(d, 2)->state, zv::kMbrClosed);
    EXPECT_EQ(live(d + 3), 9u);
    EXPECT_EQ(zv::fcb_at(d + 3)->hdr.ext.wide64[1], 0u);
    Sale s;
    uint32_t number = 4;
    ASSERT_EQ(EQLREC(d + 3, &number, &s), 0);
    EXPECT_EQ(s.region, 2);
}

TEST_F(PartAdminTest, PurgeThenReuseMakesAFreshMember) {
    SalesDef def("sales", Rule::Region);
    const int d = members(def);
    const std::string name = member_name(d, 2);
    const int32_t stamp = entry(d, 2)->stamp;
    ASSERT_EQ(PTADMIN(d, nullptr, 2, 16 | kByNumber), 0);
    EXPECT_EQ(entry(d, 2)->state, zv::kMbrPurged);
    EXPECT_EQ(files().count(name), 0u);
    EXPECT_EQ(live(d + 3), 6u);
    EXPECT_EQ(zv::fcb_at(d + 3)->hdr.ext.wide64[0], 3u);
    Sale s = sale(4, 0, 2);
    EXPECT_EQ(ADDREC(d, &s), 720);   // the raw number is purged
    ASSERT_EQ(PTADMIN(d, nullptr, 2, 512 | kByNumber), 0);
    EXPECT_EQ(entry(d, 2)->state, zv::kMbrNone);
    EXPECT_GT(entry(d, 2)->stamp, stamp);
    // Sale 4's stale global entry gives way to the new member's, and leaves
    // the keys of purged members.
    ASSERT_EQ(add(d, sale(4, 0, 2)), 0);
    EXPECT_EQ(entry(d, 2)->state, zv::kMbrOpen);
    EXPECT_EQ(live(d + 3), 7u);
    EXPECT_EQ(zv::fcb_at(d + 3)->hdr.ext.wide64[0], 2u);
    uint32_t number = 4;
    ASSERT_EQ(EQLREC(d + 3, &number, &s), 0);
    EXPECT_EQ(s.region, 2);
}

TEST_F(PartAdminTest, PurgingAnArchivedMemberWhoseFilesAreGone) {
    SalesDef def("sales", Rule::Region);
    const int d = members(def);
    ASSERT_EQ(PTADMIN(d, nullptr, 3, 64 | kByNumber), 0);
    std::remove(member_name(d, 3).c_str());
    ASSERT_EQ(PTADMIN(d, nullptr, 3, 16 | kByNumber), 0);
    EXPECT_EQ(entry(d, 3)->state, zv::kMbrPurged);
    EXPECT_NE(status_log().find("Turning off enhanced IDXENT for GUIx at locale: 2"), std::string::npos);
    EXPECT_EQ(zv::fcb_at(d + 3)->hdr.base.hdrflags2 & 0x20000, 0u);
    // Without enhanced counts the members count.
    EXPECT_EQ(live(d + 3), 5u);
}

TEST_F(PartAdminTest, MovingTheBase) {
    SalesDef def("sales", Rule::Region);
    const int d = members(def, false);
    ASSERT_EQ(PTADMIN(d, nullptr, 1, 16 | kByNumber), 0);
    ASSERT_EQ(PTADMIN(d, nullptr, 2, 128 | kByNumber), 0);
    PARTDEF *pd = zv::fcb_at(d)->partdef;
    EXPECT_EQ(pd->ptbase, 2);
    EXPECT_EQ(pd->ptcur, 2);
    EXPECT_EQ(PTADMIN(d, nullptr, 1, 2048 | kByNumber), 712);
    // Down again: the entries move up and the host's stamp rises.
    const uint32_t stamp = zv::fcb_at(d)->hdr.ext.crew14;
    ASSERT_EQ(PTADMIN(d, nullptr, 1, 128 | kByNumber), 0);
    EXPECT_EQ(pd->ptbase, 1);
    EXPECT_EQ(pd->ptcur, 3);
    EXPECT_EQ(entry(d, 1)->state, zv::kMbrNone);
    EXPECT_EQ(zv::fcb_at(d)->hdr.ext.crew14, stamp + 1);
    EXPECT_EQ(DATENT(d), 7u);
}

// ---- Fault sweeps --------------------------------------------------------------

class PartAdminFaultTest : public PartAdminTest {
protected:
    struct Outcome {
        int32_t state = -1;
        std::set<std::string> files;
        uint64_t purged = 0, archived = 0;
        bool enhanced = false;
        uint64_t count = 0;
        // The same member state, files and live count; enhanced counts, when
        // still kept, equal to the reference's (a failed count update may
        // switch them off).
        bool agrees(const Outcome &o) const {
            return state == o.state && files == o.files && count == o.count &&
                   (!enhanced || (o.enhanced && purged == o.purged && archived == o.archived));
        }
    };
    // Member 2's state, the files, U's enhanced counts and live count after
    // a reopen (the state in memory before the close agreeing).
    Outcome reopened(int d) {
        const int32_t before = entry(d, 2)->state;
        EXPECT_EQ(CLRFIL(d), 0);
        Outcome o;
        o.files = files();
        d = OPNRFIL(-1, "sales.dat", 0);
        EXPECT_GE(d, 0);
        if (d < 0) return o;
        o.state = entry(d, 2)->state;
        EXPECT_EQ(o.state == zv::kMbrOpen ? zv::kMbrClosed : o.state, before == zv::kMbrOpen ? zv::kMbrClosed : before);
        const FCB *u = zv::fcb_at(d + 3);
        o.purged = u->hdr.ext.wide64[0];
        o.archived = u->hdr.ext.wide64[1];
        o.enhanced = (u->hdr.base.hdrflags2 & 0x20000) != 0;
        o.count = live(d + 3);
        EXPECT_EQ(check_members(d), "");
        EXPECT_EQ(CLRFIL(d), 0);
        return o;
    }
    void sweep(bool archived_first, int action) {
        SalesDef def("sales", Rule::Region);
        int d = members(def);
        if (archived_first) {
            ASSERT_EQ(PTADMIN(d, nullptr, 2, 64 | kByNumber), 0);
        }
        ASSERT_EQ(CLIFIL(&def.ifil), 0);
        zvtest::save_template();
        auto run = [&](long n, bool *fired, int *rc) {
            int h = -1;
            *rc = faulted_call(n, [action](int host) { return PTADMIN(host, nullptr, 2, action | kByNumber); }, &h,
                               fired);
            return reopened(h);
        };
        bool fired = false;
        int rc = 0;
        const Outcome old = run(-1, &fired, &rc);
        const Outcome neu = run(0, &fired, &rc);
        ASSERT_EQ(rc, 0);
        int failures = 0;
        for (long n = 1;; n++) {
            ASSERT_LT(n, 500);
            const Outcome now = run(n, &fired, &rc);
            if (HasFatalFailure()) return;
            if (!fired) break;
            EXPECT_FALSE(archived_first && action != 1024 && now.state == zv::kMbrClosed) << "write " << n;
            if (!rc) {
                EXPECT_TRUE(now.agrees(neu)) << "write " << n;
                continue;
            }
            failures++;
            if (now.state == zv::kMbrPurged) {
                // The table recorded the purge; deleting the files failed.
                EXPECT_EQ(now.count, neu.count) << "write " << n;
                EXPECT_EQ(now.purged, neu.purged) << "write " << n;
            } else {
                EXPECT_TRUE(now.agrees(old)) << "write " << n << ": " << rc;
            }
        }
        EXPECT_GT(failures, 0);
    }
};

TEST_F(PartAdminFaultTest, Purge) { sweep(false, 16); }
TEST_F(PartAdminFaultTest, PurgeOfAnArchivedMember) { sweep(true, 16); }
TEST_F(PartAdminFaultTest, Archive) { sweep(false, 64); }
TEST_F(PartAdminFaultTest, Activate) { sweep(true, 1024); }

}  // namespace

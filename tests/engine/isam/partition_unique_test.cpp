// Partitioned files: records added, rewritten and deleted through the host,
// its global unique index, the fault sweeps of the calls that make a
// member or move a record between members, and the add's hot path.
#include <cerrno>
#include <cstring>
#include <functional>

#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "engine/core/fcb.h"
#include "engine/isam/partition.h"
#include "tests/engine/isam/partfix.h"

namespace {

using namespace parttest;
using Entries = std::vector<std::pair<uint32_t, uint64_t>>;

class PartUniqueTest : public PartTest {
protected:
    // A global entry of member raw (stamp 0) with 8-byte positions.
    static uint64_t at(int32_t raw, int32_t stamp = 0) { return uint64_t(uint32_t(stamp)) << 32 | uint32_t(raw + 1); }
    // Makes the sale of that number current through the partition index.
    static void find(int d, uint32_t number) {
        Sale s;
        int rc = FRSREC(d + 1, &s);
        while (rc == 0 && s.number != number) rc = NXTREC(d + 1, &s);
        ASSERT_EQ(rc, 0) << number;
    }
    // Every record of the host, read in physical order, with its member.
    static std::vector<std::pair<uint32_t, int32_t>> records(int d) {
        std::vector<std::pair<uint32_t, int32_t>> out;
        Sale s;
        int rc = FRSREC(d, &s);
        while (rc == 0) {
            out.emplace_back(s.number, int32_t(curpos(d) >> 48));
            rc = NXTREC(d, &s);
        }
        EXPECT_EQ(rc, 101);
        return out;
    }
};

TEST_F(PartUniqueTest, AGlobalKeyIsRefusedInEveryMember) {
    SalesDef def("sales", Rule::Region);
    int d = make_regions(def);
    ASSERT_EQ(add(d, sale(7, 0, 1)), 0);
    EXPECT_EQ(global_entries(d + 3), (Entries{{7, at(1)}}));
    const std::set<std::string> before = files();
    EXPECT_EQ(add(d, sale(7, 0, 2)), 2);
    EXPECT_EQ(zvGetIsamErrorCode(), 2);
    EXPECT_EQ(zvGetIsamFileNbr(), d + 3);
    EXPECT_EQ(files(), before);
    EXPECT_EQ(global_entries(d + 3), (Entries{{7, at(1)}}));
    ASSERT_EQ(add(d, sale(8, 0, 2)), 0);
    EXPECT_EQ(records(d), (std::vector<std::pair<uint32_t, int32_t>>{{7, 1}, {8, 2}}));
    // A host without global unique indexes keeps keys unique per member.
    SalesDef local("local", Rule::Region, true, false);
    int l = make_regions(local);
    ASSERT_EQ(add(l, sale(7, 0, 1)), 0);
    EXPECT_EQ(add(l, sale(7, 0, 2)), 0);
    EXPECT_EQ(add(l, sale(7, 0, 2)), 2);
    EXPECT_EQ(zvGetIsamFileNbr(), entry(l, 2)->filno + 3);
}

TEST_F(PartUniqueTest, RewritesAndDeletesKeepTheGlobalIndexInStep) {
    SalesDef def("sales", Rule::Region);
    int d = make_regions(def);
    ASSERT_EQ(add(d, sale(7, 0, 1, "a")), 0);
    ASSERT_EQ(add(d, sale(8, 0, 1, "b")), 0);
    // Neither record nor key moves: nothing is written to the global index.
    find(d, 7);
    FCB *u = zv::fcb_at(d + 3);
    const uint64_t writes = u->updcount;
    Sale s = sale(7, 0, 1, "renamed");
    ASSERT_EQ(RWTREC(d, &s), 0);
    EXPECT_EQ(u->updcount, writes);
    EXPECT_EQ(global_entries(d + 3), (Entries{{7, at(1)}, {8, at(1)}}));
    // The record moves to member 3: one entry, of member 3.
    s = sale(7, 0, 3, "moved");
    ASSERT_EQ(RWTREC(d, &s), 0);
    EXPECT_EQ(global_entries(d + 3), (Entries{{7, at(3)}, {8, at(1)}}));
    EXPECT_EQ(records(d), (std::vector<std::pair<uint32_t, int32_t>>{{8, 1}, {7, 3}}));
    // The key changes within a member; a rewrite to a key held elsewhere
    // is refused with nothing changed.
    find(d, 8);
    s = sale(9, 0, 1, "b");
    ASSERT_EQ(RWTREC(d, &s), 0);
    s = sale(7, 0, 1, "b");
    EXPECT_EQ(RWTREC(d, &s), 2);
    EXPECT_EQ(zvGetIsamFileNbr(), d + 3);
    s = sale(7, 0, 5, "b");
    EXPECT_EQ(RWTREC(d, &s), 2);
    EXPECT_EQ(files().count("sales.dat.005"), 0u);
    EXPECT_EQ(global_entries(d + 3), (Entries{{7, at(3)}, {9, at(1)}}));
    ASSERT_EQ(DELREC(d), 0);
    EXPECT_EQ(global_entries(d + 3), (Entries{{7, at(3)}}));
    EXPECT_EQ(records(d), (std::vector<std::pair<uint32_t, int32_t>>{{7, 3}}));
    EXPECT_EQ(check_members(d), "");
}

// An entry of a member that no longer holds it does not block the key.
TEST_F(PartUniqueTest, AStaleEntryIsReplaced) {
    SalesDef def("sales", Rule::Region);
    int d = make_regions(def);
    ASSERT_EQ(add(d, sale(7, 0, 1)), 0);
    ASSERT_EQ(add(d, sale(8, 0, 2)), 0);
    // The index layer tells a stale entry from a live one.
    const unsigned char key7[4] = {0, 0, 0, 7};
    zvSETHGH(0);
    EXPECT_EQ(ADDKEY(d + 3, key7, 5, 0), 2);
    EXPECT_EQ(zvGetSystemErrorCode(), 0);
    ASSERT_EQ(CLRFIL(entry(d, 1)->filno), 0);
    entry(d, 1)->state = zv::kMbrPurged;
    zvSETHGH(0);
    EXPECT_EQ(ADDKEY(d + 3, key7, 5, 0), 2);
    EXPECT_EQ(zvGetSystemErrorCode(), -726);
    ASSERT_EQ(add(d, sale(7, 0, 2)), 0);
    EXPECT_EQ(global_entries(d + 3), (Entries{{7, at(2)}, {8, at(2)}}));
    // Another stamp makes an entry stale as well.
    entry(d, 2)->stamp = 1;
    FCB *m2 = zv::fcb_at(entry(d, 2)->filno);
    m2->hdr.ext.crew14 = 1;
    ASSERT_EQ(CLRFIL(entry(d, 2)->filno), 0);
    // The global entries of member 2 still carry stamp 0.
    ASSERT_EQ(add(d, sale(8, 0, 3)), 0);
    EXPECT_EQ(global_entries(d + 3), (Entries{{7, at(2)}, {8, at(3)}}));
}

TEST_F(PartUniqueTest, AVariableLengthHostMovesRecordsBetweenMembers) {
    SalesDef def("vsales", Rule::Region, true, true, true);
    int d = make_regions(def);
    std::string r(150, 'v');
    Sale s = sale(7, 0, 1);
    memcpy(r.data(), &s, sizeof s);
    ASSERT_EQ(ADDVREC(d, r.data(), int32_t(r.size())), 0);
    s = sale(7, 0, 2);
    r.assign(200, 'w');
    memcpy(r.data(), &s, sizeof s);
    ASSERT_EQ(RWTVREC(d, r.data(), int32_t(r.size())), 0);
    EXPECT_EQ(global_entries(d + 3), (Entries{{7, at(2)}}));
    // A partial rewrite that moves the record: the whole image moves.
    Sale part = sale(7, 0, 3);
    ASSERT_EQ(RWTPREC(d, &part, 16), 0);
    EXPECT_EQ(global_entries(d + 3), (Entries{{7, at(3)}}));
    std::string back(300, '\0');
    int32_t len = int32_t(back.size());
    ASSERT_EQ(FRSVREC(d, back.data(), &len), 0);
    EXPECT_EQ(len, 200);
    EXPECT_EQ(back.substr(64, 136), std::string(136, 'w'));
    EXPECT_EQ(curpos(d) >> 48, 3u);
    ASSERT_EQ(DELVREC(d), 0);
    EXPECT_TRUE(global_entries(d + 3).empty());
}

// A member whose change fails after the global keys changed: they are put
// back, and a record moving between members stays in its old member only.
TEST_F(PartUniqueTest, AFailedMemberChangePutsTheGlobalKeysBack) {
    SalesDef def("sales", Rule::Region);
    int d = make_regions(def);
    ASSERT_EQ(add(d, sale(7, 0, 1)), 0);
    ASSERT_EQ(add(d, sale(8, 0, 2)), 0);
    FCB *m1 = zv::fcb_at(entry(d, 1)->filno);
    m1->opflags |= kOpNoUpdate;
    find(d, 7);
    Sale s = sale(7, 0, 2, "moved");
    EXPECT_EQ(RWTREC(d, &s), 54);
    const std::string log = zvtest::read_file("ZVSTATUS.QVS");
    EXPECT_NE(log.find("Unexpected problem removing old image from partition #1"), std::string::npos);
    EXPECT_EQ(global_entries(d + 3), (Entries{{7, at(1)}, {8, at(2)}}));
    EXPECT_EQ(records(d), (std::vector<std::pair<uint32_t, int32_t>>{{7, 1}, {8, 2}}));
    find(d, 7);
    EXPECT_EQ(DELREC(d), 54);
    EXPECT_EQ(global_entries(d + 3), (Entries{{7, at(1)}, {8, at(2)}}));
    m1->opflags &= ~kOpNoUpdate;
    EXPECT_EQ(DELREC(d), 0);
    EXPECT_EQ(global_entries(d + 3), (Entries{{8, at(2)}}));
    EXPECT_EQ(check_members(d), "");
}

// Adds after a member's first record parse no rule, index the member table
// and take no memory beyond the member's own add (none).
TEST_F(PartUniqueTest, AnAddOfAnExistingMemberTakesNoMemory) {
    SalesDef def("sales", Rule::Region);
    int d = make_regions(def);
    ASSERT_EQ(add(d, sale(1, 0, 3)), 0);
    const PTRULE *rule = zv::fcb_at(d)->partdef->ptrule;
    ASSERT_NE(rule, nullptr);
    EXPECT_EQ(rule->kind, zv::kRuleExpr);
    for (uint32_t n = 2; n <= 20; n++) ASSERT_EQ(add(d, sale(n, 0, 3)), 0);
    const uint64_t platform = zv::platform_alloc_count();
    const uint64_t pool = zv::pool_get_count();
    for (uint32_t n = 21; n <= 120; n++) ASSERT_EQ(add(d, sale(n, 0, 3)), 0);
    EXPECT_EQ(zv::platform_alloc_count(), platform);
    EXPECT_EQ(zv::pool_get_count(), pool);
    EXPECT_EQ(zv::fcb_at(d)->partdef->ptrule, rule);
    EXPECT_EQ(global_entries(d + 3).size(), 120u);
}

// ---- Fault sweeps -------------------------------------------------------------------

class PartFaultTest : public PartUniqueTest {
protected:
    struct Outcome {
        std::vector<std::pair<uint32_t, int32_t>> records;
        Entries globals;
        std::set<std::string> files;
    };
    // The host's records, global entries and files after a close and a
    // reopen; every member must be clean.
    Outcome reopened(int d) {
        Outcome o;
        EXPECT_EQ(CLRFIL(d), 0);
        zv::fault_reset();
        o.files = files();
        d = OPNRFIL(-1, "sales.dat", 0);
        EXPECT_GE(d, 0);
        if (d < 0) return o;
        o.records = records(d);
        o.globals = global_entries(d + 3);
        EXPECT_EQ(check_members(d), "");
        EXPECT_EQ(o.globals.size(), o.records.size());
        for (size_t i = 0; i < o.records.size() && i < o.globals.size(); i++) {
            bool found = false;
            for (auto &g : o.globals)
                if (g.first == o.records[i].first) found = g.second == at(o.records[i].second);
            EXPECT_TRUE(found) << o.records[i].first;
        }
        EXPECT_EQ(CLRFIL(d), 0);
        return o;
    }
    // Fails the nth write of op for n = 1, 2, ... until op completes: a
    // call that fails leaves the records and global entries as before it,
    // one that succeeds as after it. With member_may_stay a failed call may
    // leave a new member whole and empty; otherwise its files are as before.
    void sweep(const std::function<void(int)> &prepare, const std::function<int(int)> &op, bool member_may_stay) {
        SalesDef def("sales", Rule::Region);
        int d = make_regions(def);
        prepare(d);
        ASSERT_EQ(CLIFIL(&def.ifil), 0);
        zvtest::save_template();
        auto run = [&](long n, bool *fired, int *rc) {
            int h = -1;
            *rc = faulted_call(n, op, &h, fired);
            return reopened(h);
        };
        bool fired = false;
        int rc = 0;
        const Outcome old = run(-1, &fired, &rc);
        const Outcome neu = run(0, &fired, &rc);
        ASSERT_EQ(rc, 0);
        ASSERT_NE(old.records, neu.records);
        int failures = 0;
        for (long n = 1;; n++) {
            ASSERT_LT(n, 500);
            const Outcome now = run(n, &fired, &rc);
            if (HasFatalFailure()) return;
            if (!fired) break;
            if (!rc) {
                EXPECT_TRUE(now.records == neu.records && now.globals == neu.globals) << "write " << n;
                continue;
            }
            failures++;
            EXPECT_NE(rc, 105) << "write " << n;
            EXPECT_TRUE(now.records == old.records && now.globals == old.globals) << "write " << n << ": " << rc;
            if (!member_may_stay || now.files.size() == old.files.size()) {
                EXPECT_EQ(now.files, old.files) << "write " << n;
            } else {
                EXPECT_EQ(now.files, neu.files) << "write " << n;
            }
            if (member_may_stay) {
                // What a failed creation leaves does not stand in the way
                // of the next one.
                int h = OPNRFIL(-1, "sales.dat", 0);
                EXPECT_EQ(op(h), 0) << "write " << n;
                EXPECT_EQ(CLRFIL(h), 0);
            }
        }
        EXPECT_GT(failures, 0);
        RecordProperty("failures", failures);
    }
};

// A host add that makes a member: a failure leaves no member (no file, no
// table entry) or a whole, empty one.
TEST_F(PartFaultTest, AnAddThatMakesAMember) {
    sweep([](int d) { ASSERT_EQ(add(d, sale(1, 0, 1)), 0); }, [](int d) { return add(d, sale(2, 0, 4)); }, true);
}

// A host rewrite that moves a record between members: the record ends in
// one member, the global index in step.
TEST_F(PartFaultTest, ARewriteBetweenMembers) {
    sweep([](int d) {
              ASSERT_EQ(add(d, sale(1, 0, 1)), 0);
              ASSERT_EQ(add(d, sale(2, 0, 2)), 0);
          },
          [](int d) {
              find(d, 1);
              Sale s = sale(1, 0, 2, "moved");
              return RWTREC(d, &s);
          },
          false);
}

}  // namespace

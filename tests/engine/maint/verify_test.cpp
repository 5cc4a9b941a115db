// Index verification: a sound index passes with its per-level counts, the
// option block is checked, the routines see the run's lines and events,
// and every kind of hand-made damage is reported and bounded.
#include <chrono>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/maint/maintstate.h"
#include "engine/maint/verify.h"
#include "tests/engine/maint/maintfix.h"
#include "tests/support/damage.h"
#include "zarvo/zarvo.h"

namespace {

using namespace mainttest;

class VerifyTest : public MaintTest {
protected:
    // The 10,000-key index "v.idx" of three levels, closed, and its levels.
    void build(int n = 10000) {
        make_index(1, "v.idx", n);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        raw_ = RawIndex("v.idx");
    }
    // A patched copy of v.idx opened on number 2.
    void open_patched(const std::function<void(RawIndex &)> &patch) {
        RawIndex r = raw_;
        patch(r);
        r.save("bad.idx");
        ASSERT_EQ(OPNFIL(2, "bad.idx", 0), 0);
    }
    int run(int filno, int checks, int flags = 0, VERIFYIDXRES *res = nullptr) {
        VERIFYIDXOPT opt{1, checks, 15, flags, out_routine, progress_routine};
        VERIFYIDXRES local{};
        return zvVERIFYidx(filno, &opt, res ? res : &local);
    }
    RawIndex raw_{"v.idx"};
};

TEST_F(VerifyTest, SoundIndexOfThreeLevelsPassesWithItsLevelCounts) {
    build();
    const auto levels = raw_.levels();
    ASSERT_EQ(levels.size(), 3u);
    ASSERT_EQ(OPNFIL(1, "v.idx", 0), 0);
    VERIFYIDXRES res;
    memset(&res, 0x5A, sizeof res);
    EXPECT_EQ(run(1, 1 | 2 | 8, 0, &res), 0) << cap().joined();
    EXPECT_EQ(cap().lines.back(), "Internal Index Verify: SUCCESSFUL");
    EXPECT_TRUE(cap().has("Index page scan finds entries=10000  header=10000")) << cap().joined();
    for (size_t i = 0; i < 3; i++) EXPECT_EQ(res.levelnodes[i], int32_t(levels[i].size())) << i;
    EXPECT_EQ(res.levelnodes[3], 0);
    EXPECT_EQ(res.badnodes + res.badlinks + res.misalignednodes + res.emptynodes, 0);
    // Steps in order, each begun at 0 and ended at 100.
    std::vector<std::string> events;
    for (const std::string &l : cap().lines)
        if (l.rfind("event", 0) == 0 && (l.find(" 0") != std::string::npos || l.find(" 100") != std::string::npos))
            events.push_back(l);
    EXPECT_EQ(events, (std::vector<std::string>{"event 17 0", "event 33 100", "event 18 0", "event 34 100", "event 20 0", "event 36 100"}))
        << cap().joined();
    // Flag 16 keeps the line breaks.
    cap() = Capture{};
    EXPECT_EQ(run(1, 2, 16), 0);
    EXPECT_EQ(cap().lines.back(), "\nInternal Index Verify: SUCCESSFUL");
}

TEST_F(VerifyTest, OutputTakesOutOneLineBreakOfEachPairUnlessFlag16) {
    ASSERT_NE(zvWNGV, nullptr);
    zv::MaintState &m = maint_state(zvWNGV);
    m.vfyout = out_routine;
    const struct {
        const char *text;
        uint32_t flags;
        const char *want;
    } cases[] = {
        {"a\n\nb", 0, "a\nb"},
        {"\n\n\n", 0, "\n"},
        {"\nline\n", 0, "line"},
        {"a\n\nb", 16, "a\n\nb"},
    };
    for (const auto &c : cases) {
        cap() = Capture{};
        m.vfyflags = c.flags;
        EXPECT_EQ(zvVERIFYprintf("%s", c.text), 0);
        ASSERT_EQ(cap().lines.size(), 1u);
        EXPECT_EQ(cap().lines[0], c.want) << c.text;
    }
    m.vfyout = nullptr;
    m.vfyflags = 0;
}

TEST_F(VerifyTest, PlainFormPrintsTheLevelSummaryAndStoresTheEntryCount) {
    build();
    ASSERT_EQ(OPNFIL(1, "v.idx", 0), 0);
    const auto levels = raw_.levels();
    int32_t count = -5;
    int rc = -1;
    std::string out = stdout_of([&] { rc = zvVERIFY(1, &count); });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(count, 10000);
    std::string summary = "\nIndex nodes per level of tree structure - [0: 1] [1: " +
                          std::to_string(levels[1].size()) + "] [2: " + std::to_string(levels[2].size()) + "] ";
    EXPECT_NE(out.find(summary), std::string::npos) << out;
    EXPECT_NE(out.find("\nVerifying index leaf nodes and checking key values...\n"), std::string::npos);
    EXPECT_EQ(out.substr(out.size() - 34), "\nInternal Index Verify: SUCCESSFUL");
    // An index without a root.
    ASSERT_EQ(CREIDX(3, "e.idx", 8, 0, 0, 0, 4096, 0), 0);
    count = 9;
    out = stdout_of([&] { rc = zvVERIFY(3, &count); });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(out, "\nInternal Index Verify: no tree structure\n");
}

TEST_F(VerifyTest, OptionBlockIsChecked) {
    build(200);
    ASSERT_EQ(OPNFIL(1, "v.idx", 0), 0);
    const struct {
        int version, checks, levels;
        bool results;
        int want;
    } cases[] = {
        {2, 2, 15, true, 909}, {1, 0, 15, true, 116}, {1, 16, 15, true, 116},
        {1, 2 | 32, 15, true, 116}, {1, 2, 15, false, 540}, {1, 8, -4, true, 0},
    };
    for (const auto &c : cases) {
        cap() = Capture{};
        VERIFYIDXOPT opt{c.version, c.checks, c.levels, 0, out_routine, nullptr};
        VERIFYIDXRES res;
        memset(&res, 0x11, sizeof res);
        EXPECT_EQ(zvVERIFYidx(1, &opt, c.results ? &res : nullptr), c.want) << c.version << " " << c.checks;
        if (c.levels < 0) {
            EXPECT_EQ(opt.levels, 0) << "a negative level count is replaced in the caller's block";
            EXPECT_EQ(res.levelnodes[0], 0x11111111) << "no room for level counts";
            EXPECT_TRUE(cap().has("Verifying index leaf nodes and checking key values...")) << cap().joined();
            EXPECT_FALSE(cap().has("Verifying index links"));
        }
        if (c.want == 909 || c.want == 116) {
            EXPECT_EQ(res.badlinks, 0) << "the result block is filled";
        }
    }
}

TEST_F(VerifyTest, ProgressRoutineStopsTheRunWith910) {
    build(2000);
    ASSERT_EQ(OPNFIL(1, "v.idx", 0), 0);
    for (int flags : {0, 16}) {
        cap() = Capture{};
        cap().stop_at_event = 18;
        VERIFYIDXRES res{};
        EXPECT_EQ(run(1, 1 | 2 | 8, flags, &res), 910);
        EXPECT_EQ(zvGetUserErrorCode(), 910);
        EXPECT_FALSE(cap().has("Internal Index Verify")) << cap().joined();
        EXPECT_FALSE(cap().has("event 34"));
        // Without flag 16 the event comes first and the heading follows it.
        size_t heading = 0, event = 0;
        for (size_t i = 0; i < cap().lines.size(); i++) {
            if (cap().lines[i].find("Verifying index links") != std::string::npos) heading = i;
            if (cap().lines[i] == "event 18 0") event = i;
        }
        EXPECT_EQ(flags == 16, heading < event) << cap().joined();
    }
    cap() = Capture{};
    cap().stop_at_event = 20;
    VERIFYIDXRES res{};
    EXPECT_EQ(run(1, 1 | 2 | 8, 0, &res), 910);
    EXPECT_EQ(res.levelnodes[0], 1) << "the block is filled when stopped";
    EXPECT_GT(res.levelnodes[1], 1);
}

TEST_F(VerifyTest, DeletedNodesAndResourcesAreCountedByThePageScan) {
    make_index(1, "v.idx", 1500);
    int rc = ENARES(1);
    ASSERT_TRUE(rc == 0 || rc == 400) << rc;
    for (uint32_t n = 1; n <= 2; n++) {
        std::string body(8 + 6 + 700, 'r');
        const uint32_t words[2] = {7000, n};
        memcpy(body.data(), words, 8);
        memcpy(body.data() + 8, "named", 6);
        ASSERT_EQ(ADDRES(1, body.data(), int32_t(body.size())), 0);
    }
    std::string key(8, 'k');
    for (int i = 1501; i <= 3000; i++) {
        key = key8(uint64_t(i) * 3);
        ASSERT_EQ(ADDKEY(1, key.data(), uint32_t(1000 + i), 0), 0);
    }
    for (int i = 1000; i <= 2000; i++) ASSERT_EQ(DELCHK(1, key8(uint64_t(i) * 3).data(), uint32_t(1000 + i)), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    RawIndex r("v.idx");
    int stack = 0;
    for (uint32_t n = r.delstk(); n != 0 && stack < 1000; n = r.succ(n)) stack++;
    ASSERT_GT(stack, 0);
    ASSERT_EQ(OPNFIL(1, "v.idx", 0), 0);
    VERIFYIDXRES res{};
    EXPECT_EQ(run(1, 1 | 2 | 4, 0, &res), 0) << cap().joined();
    EXPECT_EQ(res.unusednodes, stack);
    EXPECT_EQ(res.resourcepages, 2);
    EXPECT_TRUE(cap().has("Index page scan finds entries=1999  header=1999")) << cap().joined();
}

TEST_F(VerifyTest, AMemberIndexMakesNoStackWalk) {
    ASSERT_EQ(CREIDX(1, "m.idx", 8, 0, 0, 1, 4096, 0), 0);
    ASSERT_EQ(CREMEM(1, 8, 0, 0, 1), 0);
    for (int i = 1; i <= 300; i++) ASSERT_EQ(ADDKEY(2, key8(uint64_t(i)).data(), uint32_t(i), 0), 0);
    EXPECT_EQ(run(2, 1 | 2 | 8), 0) << cap().joined();
    EXPECT_TRUE(cap().has("event 17 0"));
    EXPECT_TRUE(cap().has("event 33 100"));
    EXPECT_TRUE(cap().has("Index page scan finds entries=300  header=300")) << cap().joined();
}

// One hand-made fault of a closed three-level index and what the run says.
struct Damage {
    const char *name;
    std::function<void(RawIndex &)> patch;
    int checks;
    int want;
    std::vector<std::string> lines;  // each must arrive (line breaks taken out)
    int badlinks;                    // -1: not checked
};

TEST_F(VerifyTest, HandMadeDamageIsReportedAndBounded) {
    build();
    const Damage cases[] = {
        {"stack head is a live leaf",
         [](RawIndex &r) { r.put32(4, r.levels()[2][3]); }, 1, 25, {}, -1},
        {"stack loops",
         [](RawIndex &r) {
             uint32_t l = r.levels()[2][3];
             r.put32(4, l);
             r.put32(l, l);
             r.put32(l + 4, 0xFFFFFFFFu);
         },
         1, 511,
         {"Error: Detected apparent loop in index node delete stack.",
          "Physical size of this index file                 : ",
          "Node size for this index file                    : 512",
          "Expected maximum number of nodes in delete stack : ",
          "Number of nodes found in delete stack so far     : "},
         -1},
        {"wrong leaf predecessor",
         [](RawIndex &r) { r.put32(r.child(r.levels()[1][0], 2) + 4, 0); }, 1 | 2 | 8, 601,
         {"disagrees with Llink", "<9990>...", "Internal Index Verify: Problems Discovered"}, 1},
        {"children pointing to the root and to their own parent",
         [](RawIndex &r) {
             auto lv = r.levels();
             r.set_child(lv[1][0], 1, r.root());
             r.set_child(lv[1][1], 2, lv[1][1]);
         },
         1 | 2 | 8, 601, {"already on its path from the root", "Internal Index Verify: Problems Discovered"}, -1},
        {"zero child", [](RawIndex &r) { r.set_child(r.levels()[1][0], 1, 0); }, 2, -1, {"Zero node at level 2"},
         -1},
        {"leaf over its element limit", [](RawIndex &r) { r.put16(r.levels()[2][5] + 8, 200); }, 2, 601,
         {"violates a capacity constraint", " too many key values (200,", "<9985>..."}, 0},
        {"parent skips a child that the leaf chain holds",
         [](RawIndex &r) {
             uint32_t p = r.levels()[1][0];
             r.set_child(p, 2, r.child(p, 3));
         },
         2, 601, {"disagrees with child", "<9988>...", "Simple move right fixes.", "disagrees with Llink"}, -1},
        {"leaf successor lost",
         [](RawIndex &r) { r.put32(r.child(r.levels()[1][0], 1), 0); }, 2, 601,
         {"disagrees with child", "Simple move right does not fix. ****", "<9994>..."}, 1},
    };
    for (const Damage &d : cases) {
        SCOPED_TRACE(d.name);
        cap() = Capture{};
        open_patched(d.patch);
        VERIFYIDXRES res{};
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(run(2, d.checks, 0, &res), d.want) << cap().joined();
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
        for (const std::string &l : d.lines) EXPECT_TRUE(cap().has(l)) << l << " in " << cap().joined();
        if (d.badlinks >= 0) {
            EXPECT_EQ(res.badlinks, d.badlinks);
        }
        if (d.want == -1) {
            EXPECT_EQ(zvGetUserErrorCode(), 0xFFFF);
        }
        if (std::string(d.name).rfind("children", 0) == 0) {
            EXPECT_EQ(cap().count("already on its path from the root"), 2) << cap().joined();
        }
        EXPECT_EQ(zvWNGV->fcbtab[2]->hdr.base.updflg, 0) << "the verification marks no file";
        ASSERT_EQ(CLSFIL(2, 0), 0);
    }
}

// An index filled while open keeps its newest nodes in a large node cache:
// the file on disk is shorter than the header in memory says, and the link
// walk must not take the nodes beyond the disk's end for a loop.
TEST_F(VerifyTest, AnOpenIndexWithNodesOnlyInTheCachePassesEveryCheck) {
    CLISAM();
    ASSERT_EQ(INTISAM(400, 40, 32), 0);
    const struct {
        const char *name;
        const char *host;  // a superfile host to create first, or null
    } cases[] = {{"big.idx", nullptr}, {"h!big", "h"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.host) {
            ASSERT_EQ(CREDAT(5, c.host, 0, 0, 0x200), 0);
        }
        ASSERT_EQ(CREIDX(1, c.name, 8, 0, 0, 0, 0, 0), 0);
        for (int i = 1; i <= 40000; i++)
            ASSERT_EQ(ADDKEY(1, key8(uint64_t(i) * 7919 % 100003).data(), uint32_t(i), 0), 0) << i;
        if (!c.host) {
            zvSETHGH(0);
            ASSERT_LT(zvtest::file_size(c.name), uint64_t(GETFIL(1, 10))) << "nodes the disk has not seen";
        }
        cap() = Capture{};
        VERIFYIDXRES res{};
        EXPECT_EQ(run(1, 15, 0, &res), 0) << cap().joined().substr(0, 2000);
        EXPECT_FALSE(cap().has("Link walk stopped")) << cap().joined().substr(0, 2000);
        EXPECT_TRUE(cap().has("Index page scan finds entries=40000  header=40000"));
        EXPECT_EQ(res.badlinks, 0);
        EXPECT_GT(res.levelnodes[1], 1) << "the walk reached the leaves";
        ASSERT_EQ(CLSFIL(1, 0), 0);
        if (c.host) {
            ASSERT_EQ(CLSFIL(5, 0), 0);
        }
    }
}

// Level-1 nodes whose every child is the next level-1 node: no node lies on
// its own path, but each is reached again and again. The walk stops at its
// bound and says so.
TEST_F(VerifyTest, AWalkThatKeepsMeetingTheSameNodesStopsAtItsBound) {
    build();
    open_patched([](RawIndex &r) {
        const auto l1 = r.levels()[1];
        for (size_t i = 0; i + 1 < l1.size(); i++)
            for (int e = 1; e <= r.nkv(l1[i]); e++) r.set_child(l1[i], e, l1[i + 1]);
    });
    VERIFYIDXRES res{};
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(run(2, 2, 0, &res), 601);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
    EXPECT_EQ(cap().count("Link walk stopped after"), 1) << cap().joined().substr(0, 2000);
    EXPECT_GE(res.badlinks, 1);
    EXPECT_TRUE(cap().has("Internal Index Verify: Problems Discovered"));
}

TEST_F(VerifyTest, ATreeDeeperThanFifteenLevelsIsCutAtLevel14) {
    build();
    open_patched([](RawIndex &r) {
        // Twenty leaves become a chain of one-child non-leaf nodes under
        // the root: levels 1 to 20.
        const auto leaves = r.levels()[2];
        for (int i = 0; i < 20; i++) {
            const uint32_t n = leaves[size_t(i)];
            r.bytes[n + 17] = 0;
            r.put16(n + 8, 1);
            r.put16(n + 10, 12);
            r.put32(n + 18, leaves[size_t(i) + 1]);
            for (int b = 0; b < 8; b++) r.bytes[n + 22 + size_t(b)] = char(0xFF);
        }
        r.set_child(r.root(), 1, leaves[0]);
    });
    VERIFYIDXRES res{};
    EXPECT_EQ(run(2, 2, 0, &res), 601) << cap().joined();
    EXPECT_EQ(cap().count("lies below level 14, not followed ****"), 1) << cap().joined();
    for (int i = 1; i < 15; i++) EXPECT_GE(res.levelnodes[i], 1) << i;
    EXPECT_GE(res.badlinks, 1);
}

TEST_F(VerifyTest, RandomDamageEndsEveryRunWithACode) {
    build(3000);
    std::mt19937 rng(29);
    int opened = 0, faulted = 0;
    for (int round = 0; round < 120; round++) {
        RawIndex r = raw_;
        const int hits = 1 + int(rng() % 6);
        for (int i = 0; i < hits; i++) {
            size_t at = 512 + rng() % (r.bytes.size() - 512);
            r.bytes[at] = char(rng() % 4 == 0 ? 0xFF : rng());
        }
        r.save("bad.idx");
        if (OPNFIL(2, "bad.idx", 0) != 0) continue;
        opened++;
        cap() = Capture{};
        VERIFYIDXRES res{};
        int rc = run(2, 1 | 2 | 8, 0, &res);
        if (rc != 0) faulted++;
        int32_t count = 0;
        std::string plain = stdout_of([&] { zvVERIFY(2, &count); });
        EXPECT_NE(plain.find("Internal Index Verify"), std::string::npos) << round;
        EXPECT_EQ(zvWNGV->fcbtab[2]->hdr.base.updflg, 0) << round;
        CLSFIL(2, 0);
    }
    EXPECT_GT(opened, 60);
    EXPECT_GT(faulted, opened / 2) << "most damage is found";
}

TEST_F(VerifyTest, AMemoryIndexHasItsLinksWalkedButNoPageScan) {
    XCREblk x{};
    x.mode = 0x02u | 0x80000000u;
    x.maxsizelo = 4u << 20;
    ASSERT_EQ(CREIDXX8(1, "mem.idx", 8, 0, 0, 0, 0, 0, 0, nullptr, nullptr, &x), 0);
    for (int i = 1; i <= 2000; i++) ASSERT_EQ(ADDKEY(1, key8(uint64_t(i)).data(), uint32_t(i), 0), 0);
    VERIFYIDXRES res{};
    EXPECT_EQ(run(1, 1 | 2, 0, &res), 0) << cap().joined();
    EXPECT_EQ(res.levelnodes[0], 1);
    EXPECT_GT(res.levelnodes[1], 1);
    EXPECT_EQ(res.misalignednodes, 0);
    cap() = Capture{};
    EXPECT_EQ(run(1, 4), 454);
    EXPECT_TRUE(cap().has("Leaf node verification is not supported for memory index files.")) << cap().joined();
    EXPECT_TRUE(cap().has("Internal Index Verify: leaf verify failed"));
}

TEST_F(VerifyTest, ALinksOnlyRunAfterADamagedOneStartsClean) {
    build(2000);
    open_patched([](RawIndex &r) {
        r.put32(r.child(r.levels()[1][0], 2) + 4, 0);
        r.put16(r.levels()[2][5] + 8, 200);
    });
    EXPECT_EQ(run(2, 1 | 2 | 8), 601);
    ASSERT_EQ(OPNFIL(1, "v.idx", 0), 0);
    VERIFYIDXRES res{};
    EXPECT_EQ(run(1, 2, 0, &res), 0) << cap().joined();
    EXPECT_EQ(res.badlinks, 0);
    EXPECT_EQ(res.badnodes, 0);
}

TEST_F(VerifyTest, TheKeyLineOfALongKeyArrivesWhole) {
    CLISAM();
    ASSERT_EQ(INTISAM(16, 40, 32), 0);
    ASSERT_EQ(CREIDX(1, "long.idx", 1000, 0, 0, 0, 4096, 0), 0);
    std::string key(1000, '\0');
    std::string want = "[";
    for (int i = 0; i < 1000; i++) {
        key[size_t(i)] = char(i % 7 == 0 ? 0x01 : 'A' + i % 26);
        char cell[8];
        snprintf(cell, sizeof cell, "%02x(%c) ", (unsigned char)key[size_t(i)], i % 7 == 0 ? '.' : 'A' + i % 26);
        want += cell;
    }
    want += "]";
    zv::MaintState &m = maint_state(zvWNGV);
    m.vfyout = out_routine;
    zv::prtkey(reinterpret_cast<const unsigned char *>(key.data()), zvWNGV->fcbtab[1]);
    zv::prtkey(nullptr, zvWNGV->fcbtab[1]);
    m.vfyout = nullptr;
    ASSERT_EQ(cap().lines.size(), 2u);
    EXPECT_EQ(cap().lines[0].size(), 6002u);
    EXPECT_EQ(cap().lines[0], want);
    EXPECT_EQ(cap().lines[1], "[??]");
}

}  // namespace

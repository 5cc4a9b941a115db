// Engine start-up, the stop road, failed and repeated starts.
#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/fcb.h"
#include "engine/core/instance.h"
#include "engine/core/lockent.h"
#include "engine/core/nodebuf.h"
#include "engine/core/pagecache.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "engine/core/startup.h"
#include "engine/crypto/crypto_services.h"
#include "engine/crypto/pagehook.h"
#include "engine/index/idxstate.h"
#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"

namespace {

using zvtest::lines_of;
using zvtest::read_file;
using zvtest::ZvTest;

// Platform allocations still held, relative to a starting point.
struct AllocMark {
    uint64_t allocs = zv::platform_alloc_count();
    uint64_t frees = zv::platform_free_count();
    int64_t held() const {
        return static_cast<int64_t>(zv::platform_alloc_count() - allocs) -
               static_cast<int64_t>(zv::platform_free_count() - frees);
    }
};

class StartupTest : public ZvTest {
protected:
    void SetUp() override {
        ZvTest::SetUp();
        zv::camo_reset();
        zv::fail_alloc_at(0);
    }
    void TearDown() override {
        zv::fail_alloc_at(0);
        zv::fail_memory_map(false);
        zv::camo_reset();
        ZvTest::TearDown();
    }
    std::vector<std::string> log_lines() { return lines_of(read_file("ZVSTATUS.QVS")); }
};

int chain_length(const NODEBUF *b) {
    int n = 0;
    for (; b; b = b->next) n++;
    return n;
}

int chain_length(const PAGEBUF *p) {
    int n = 0;
    for (; p; p = p->next) n++;
    return n;
}

// True when nothing of a start is held: not started and no table, buffer or
// free-list chunk left.
void expect_nothing_held(const INSTGV *g) {
    EXPECT_EQ(g->started, 0u);
    EXPECT_EQ(g->slot0, nullptr);
    EXPECT_EQ(g->fcbtab, nullptr);
    EXPECT_EQ(g->idxbuflist, nullptr);
    EXPECT_EQ(g->datpagelist, nullptr);
    EXPECT_EQ(g->idxhash, nullptr);
    EXPECT_EQ(g->dathash, nullptr);
    EXPECT_EQ(g->idxlook, nullptr);
    EXPECT_EQ(g->datlook, nullptr);
    EXPECT_EQ(g->arena.base, nullptr);
    EXPECT_EQ(g->fillbuf, nullptr);
    EXPECT_EQ(g->encworkbuf, nullptr);
    EXPECT_EQ(g->ptrlist, nullptr);
    EXPECT_EQ(idx_state(g).isamtab, nullptr);
    for (int l = 0; l < zv::kFreeLists; l++) EXPECT_EQ(g->lists[l].chunks, 0) << "list " << l;
}

TEST_F(StartupTest, IntreeWithNoInstanceRegistersDefaultAndStarts) {
    ASSERT_EQ(INTREE(6, 7, 4), 0);
    ASSERT_STREQ(WCHZARVO(), "zvREG_DEF_ID");
    INSTGV *g = zvWNGV;
    EXPECT_EQ(g->uerr_cod, 0);
    EXPECT_EQ(g->started, 1u);
    EXPECT_EQ(g->nodesize, 512);
    EXPECT_EQ(g->sectors, 4);
    EXPECT_EQ(g->bufs, 6);
    EXPECT_EQ(g->dbufs, 6);
    EXPECT_EQ(g->userprof, 33);
    // File table of fils + 1 = 8 slots; slot 0 holds the free slot-0 block.
    EXPECT_EQ(g->filecount, 7);
    ASSERT_NE(g->slot0, nullptr);
    EXPECT_EQ(g->fcbtab[0], g->slot0);
    EXPECT_EQ(g->slot0->state, 'n');
    for (int i = 1; i <= 7; i++) EXPECT_EQ(g->fcbtab[i], nullptr);
    // Buffers: 6 nodes of 512 + 24 bytes, 6 pages of 512 bytes.
    EXPECT_EQ(chain_length(static_cast<NODEBUF *>(g->idxbuflist)), 6);
    EXPECT_EQ(chain_length(static_cast<PAGEBUF *>(g->datpagelist)), 6);
    EXPECT_EQ(g->listelemsize[zv::kListNode], 536);
    EXPECT_EQ(g->listelemsize[zv::kListPageImg], 512);
    EXPECT_EQ(g->idxhashsize, 2u);
    EXPECT_EQ(g->dathashsize, 2u);
    EXPECT_EQ(g->sectshift, 9u);
    EXPECT_EQ(g->pageshift, 9u);
    // Fill buffer and encryption work buffer.
    ASSERT_NE(g->fillbuf, nullptr);
    EXPECT_EQ(g->fillsize, 2048u);
    for (uint32_t i = 0; i < g->fillsize; i++) ASSERT_EQ(g->fillbuf[i], 0xFF) << i;
    EXPECT_NE(g->encworkbuf, nullptr);
    EXPECT_GE(g->encworksize, 2048u);
    // Start values and defaults.
    EXPECT_EQ(g->filepermmode, 0660);
    EXPECT_EQ(g->lockcount, 16u);
    EXPECT_EQ(g->startvals[0], 520);
    EXPECT_EQ(g->startvals[1], 8);
    EXPECT_EQ(g->startvals[2], 0xFFFF);
    EXPECT_EQ(g->startvals[3], -1);
    EXPECT_EQ(g->openvlimit, 32767);
    EXPECT_EQ(g->ptrslots, 6);
    EXPECT_NE(g->ptrlist, nullptr);
    EXPECT_EQ(g->startsets[0], 1);
    EXPECT_EQ(g->startsets[1], 2);
    EXPECT_EQ(g->startdefs[0], 16000);
    EXPECT_EQ(g->startdefs[1], 1);
    EXPECT_EQ(g->listblocksize, 2048);
    EXPECT_EQ(g->hdrversion[0], 0x81);
    EXPECT_EQ(g->hdrversion[1], 0x91);
    EXPECT_EQ(g->hdrversion[2], 0xA1);
    EXPECT_EQ(g->membersep, '!');
    EXPECT_STREQ(g->defext[0], ".dat");
    EXPECT_STREQ(g->defext[1], ".idx");
    EXPECT_EQ(g->membernamemax, 128);
    EXPECT_EQ(g->specialpages, 0);
    EXPECT_EQ(zv::suppress_path_in_ifil(), 1);
    EXPECT_EQ(CLISAM(), 0);
}

TEST_F(StartupTest, BuffersStartFreeInTheirLruListsAndNoHashChain) {
    ASSERT_EQ(INTREE(5, 2, 4), 0);
    INSTGV *g = zvWNGV;
    // Index LRU: every buffer in chain order, each free and unhashed.
    std::vector<NODEBUF *> nodes;
    for (auto *b = static_cast<NODEBUF *>(g->idxbuflist); b; b = b->next) nodes.push_back(b);
    ASSERT_EQ(nodes.size(), 5u);
    size_t i = 0;
    for (zv::ListLink *l = g->idxlru.next; l != &g->idxlru; l = l->next, i++) {
        ASSERT_LT(i, nodes.size());
        NODEBUF *b = nodelink_of(l)->owner;
        EXPECT_EQ(b, nodes[i]);
        EXPECT_EQ(b->filno, -1);
        EXPECT_EQ(b->posl, 0xFFFFFFFFu);
        EXPECT_EQ(b->posh, 0xFFFFFFFFu);
        EXPECT_EQ(b->updated, 'n');
        EXPECT_EQ(b->fcb, nullptr);
        EXPECT_NE(b->image, nullptr);
        EXPECT_EQ(b->hash.link.next, nullptr);
    }
    EXPECT_EQ(i, 5u);
    // Data LRU likewise.
    std::vector<PAGEBUF *> pages;
    for (auto *p = static_cast<PAGEBUF *>(g->datpagelist); p; p = p->next) pages.push_back(p);
    ASSERT_EQ(pages.size(), 5u);
    i = 0;
    for (PAGELINK *l = g->datlru.next; l != &g->datlru; l = l->next, i++) {
        ASSERT_LT(i, pages.size());
        EXPECT_EQ(l->owner, pages[i]);
        EXPECT_EQ(l->owner->offl, 0xFFFFFFFFu);
        EXPECT_EQ(l->owner->offh, 0xFFFFFFFFu);
        EXPECT_NE(l->owner->data, nullptr);
        EXPECT_EQ(l->owner->hash.next, nullptr);
    }
    EXPECT_EQ(i, 5u);
    EXPECT_EQ(g->datlru.owner, nullptr);
    // Hash chains: (5 + 3) / 4 = 2 empty circular heads each.
    ASSERT_EQ(g->idxhashsize, 2u);
    ASSERT_EQ(g->dathashsize, 2u);
    for (uint32_t h = 0; h < 2; h++) {
        EXPECT_EQ(g->idxhash[h].next, &g->idxhash[h]);
        EXPECT_EQ(g->idxhash[h].prev, &g->idxhash[h]);
        EXPECT_EQ(g->dathash[h].next, &g->dathash[h]);
        EXPECT_EQ(g->dathash[h].owner, nullptr);
    }
}

TEST_F(StartupTest, ClisamReleasesEverythingAndUnregistersDefault) {
    AllocMark mark;
    ASSERT_EQ(INTREE(6, 7, 4), 0);
    EXPECT_GT(mark.held(), 0);
    EXPECT_EQ(CLISAM(), 0);
    EXPECT_EQ(WCHZARVO(), nullptr);
    EXPECT_EQ(mark.held(), 0);
}

TEST_F(StartupTest, StopKeepsAnInstanceOfItsOwnRegistered) {
    ASSERT_EQ(REGZARVO("mine"), 0);
    AllocMark mark;
    ASSERT_EQ(INTISAM(6, 7, 4), 0);
    EXPECT_STREQ(WCHZARVO(), "mine");
    EXPECT_EQ(CLISAM(), 0);
    EXPECT_STREQ(WCHZARVO(), "mine");
    expect_nothing_held(zvWNGV);
    EXPECT_EQ(mark.held(), 0);
    // Stopped, it starts again.
    EXPECT_EQ(INTREE(6, 7, 4), 0);
    EXPECT_EQ(STPUSR(), 0);
    EXPECT_STREQ(WCHZARVO(), "mine");
    EXPECT_EQ(mark.held(), 0);
}

TEST_F(StartupTest, HundredStartStopCyclesHoldNothing) {
    AllocMark mark;
    for (int i = 0; i < 100; i++) {
        ASSERT_EQ(i % 2 ? INTISAM(6, 7, 4) : INTREE(6, 7, 4), 0) << "cycle " << i;
        ASSERT_EQ(CLISAM(), 0) << "cycle " << i;
        ASSERT_EQ(WCHZARVO(), nullptr);
    }
    EXPECT_EQ(mark.held(), 0);
}

TEST_F(StartupTest, UnregisteringStartedInstancesRunsTheStopRoad) {
    AllocMark mark;
    ASSERT_EQ(REGZARVO("a"), 0);
    ASSERT_EQ(INTISAM(6, 7, 4), 0);
    ASSERT_EQ(REGZARVO("b"), 0);
    ASSERT_EQ(INTREE(4, 3, 8), 0);
    // "a" is not current while it goes; "b" stays current and started.
    EXPECT_EQ(UNRZARVO("a"), 0);
    EXPECT_STREQ(WCHZARVO(), "b");
    EXPECT_EQ(zvWNGV->started, 1u);
    EXPECT_EQ(UNRZARVO("b"), 0);
    EXPECT_EQ(WCHZARVO(), nullptr);
    EXPECT_EQ(mark.held(), 0);
}

TEST_F(StartupTest, StpusrOfAStoppedEngineGives410) {
    EXPECT_EQ(STPUSR(), 410);
    ASSERT_EQ(REGZARVO("x"), 0);
    EXPECT_EQ(STPUSR(), 410);
    EXPECT_EQ(zvGetUserErrorCode(), 410);
}

TEST_F(StartupTest, ZvfilokGivesLockEntriesBack) {
    ASSERT_EQ(INTREE(6, 7, 4), 0);
    INSTGV *g = zvWNGV;
    for (int list : {0, 5, 15}) {
        for (int k = 0; k < 3; k++) {
            auto *e = static_cast<LOCKENT *>(zvgetlst(zv::kListLock));
            ASSERT_NE(e, nullptr);
            if (g->locktail[list]) g->locktail[list]->next = e;
            else g->lockhead[list] = e;
            g->locktail[list] = e;
        }
    }
    EXPECT_EQ(g->lists[zv::kListLock].total - g->lists[zv::kListLock].free, 9);
    zv::zvfilok();
    EXPECT_EQ(g->lists[zv::kListLock].free, g->lists[zv::kListLock].total);
    for (int i = 0; i < zv::kLockLists; i++) {
        EXPECT_EQ(g->lockhead[i], nullptr);
        EXPECT_EQ(g->locktail[i], nullptr);
    }
    EXPECT_EQ(zv::check_list(zv::kListLock), 0);
}

TEST_F(StartupTest, ZvfreeOnANeverStartedInstanceIsHarmless) {
    ASSERT_EQ(REGZARVO("x"), 0);
    AllocMark mark;
    EXPECT_EQ(zv::zvfree(), 0);
    EXPECT_EQ(zv::zvfree(), 0);
    expect_nothing_held(zvWNGV);
    EXPECT_EQ(mark.held(), 0);
}

// ---- Start values --------------------------------------------------------

TEST_F(StartupTest, SectorScalingMultipliesInThirtyTwoBits) {
    struct Case {
        int32_t bufs, dbufs, sect;
        int rc;
        int32_t bufs_after, dbufs_after, sect_after;
    };
    const Case cases[] = {
        {20000, 20000, 1024, 0, 40000, 40000, 512},
        {3, 5, 2048, 0, 12, 20, 512},
        {7, 9, 1500, 0, 14, 18, 512},  // 1500 / 512 = 2
        {10, 10, 512, 0, 10, 10, 512},
        {INT32_MAX / 2 + 1, 1, 1024, 11, INT32_MAX / 2 + 1, 1, 1024},
        {1, INT32_MAX, 1536, 11, 1, INT32_MAX, 1536},
        {INT32_MIN / 2 - 1, 1, 1024, 11, INT32_MIN / 2 - 1, 1, 1024},
    };
    for (const Case &c : cases) {
        int32_t b = c.bufs, d = c.dbufs, s = c.sect;
        EXPECT_EQ(zv::scale_for_sect(&b, &d, &s), c.rc) << c.bufs << " " << c.sect;
        EXPECT_EQ(b, c.bufs_after);
        EXPECT_EQ(d, c.dbufs_after);
        EXPECT_EQ(s, c.sect_after);
    }
}

TEST_F(StartupTest, LargeSectorCountLogsAndDoublesBuffers) {
    ASSERT_EQ(REGZARVO("big"), 0);
    AllocMark mark;
    // fils -1 stops the start after the start values are in the instance, so
    // 40000 buffers of 65,536 bytes are checked without being allocated.
    EXPECT_EQ(INTREEX(20000, -1, 1024, 20000, 33), 11);
    INSTGV *g = zvWNGV;
    EXPECT_EQ(g->bufs, 40000);
    EXPECT_EQ(g->dbufs, 40000);
    EXPECT_EQ(g->nodesize, 65536);
    EXPECT_EQ(g->sectors, 512);
    EXPECT_EQ(g->membernamemax, 255);
    expect_nothing_held(g);
    EXPECT_EQ(mark.held(), 0);
    auto lines = log_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], " - User# 00001\tMaximum PAGE_SIZE: 65536");
    // A real start of that size, with few buffers.
    ASSERT_EQ(INTREEX(6, 7, 1024, 8, 33), 0);
    EXPECT_EQ(g->nodesize, 65536);
    EXPECT_EQ(g->bufs, 12);
    EXPECT_EQ(g->dbufs, 16);
    EXPECT_EQ(chain_length(static_cast<NODEBUF *>(g->idxbuflist)), 12);
    EXPECT_EQ(chain_length(static_cast<PAGEBUF *>(g->datpagelist)), 16);
    EXPECT_EQ(g->listelemsize[zv::kListNode], 65536 + 24);
    EXPECT_EQ(g->sectshift, 16u);
    EXPECT_EQ(g->pageshift, 16u);
    EXPECT_EQ(CLISAM(), 0);
    EXPECT_EQ(mark.held(), 0);
}

TEST_F(StartupTest, ScaledCountBeyondThirtyTwoBitsGives11AndLogsNothing) {
    ASSERT_EQ(REGZARVO("x"), 0);
    AllocMark mark;
    EXPECT_EQ(INTREEX(INT32_MAX / 2 + 1, 7, 1024, 6, 33), 11);
    EXPECT_EQ(zvGetUserErrorCode(), 11);
    expect_nothing_held(zvWNGV);
    EXPECT_EQ(mark.held(), 0);
    EXPECT_TRUE(read_file("ZVSTATUS.QVS").empty());
}

TEST_F(StartupTest, UnusableStartValuesGive11WithNothingHeld) {
    struct Case {
        int32_t bufs, fils, sect, dbufs;
        int32_t nodesize_after;
    };
    const Case cases[] = {
        {6, 7, 0, 6, 2048},   // sect 0: default node size, still refused
        {6, 7, -3, 6, 2048},
        {6, -1, 4, 6, 512},
        {6, 32768, 4, 6, 512},
        {6, 7, 4, -1, 512},   // a negative dbufs like a negative fils
    };
    ASSERT_EQ(REGZARVO("x"), 0);
    for (const Case &c : cases) {
        AllocMark mark;
        EXPECT_EQ(INTREEX(c.bufs, c.fils, c.sect, c.dbufs, 33), 11)
            << c.fils << " " << c.sect << " " << c.dbufs;
        EXPECT_EQ(zvGetUserErrorCode(), 11);
        EXPECT_EQ(zvWNGV->nodesize, c.nodesize_after);
        expect_nothing_held(zvWNGV);
        EXPECT_EQ(mark.held(), 0);
    }
    EXPECT_STREQ(WCHZARVO(), "x");
}

TEST_F(StartupTest, SmallCountsAreRaisedToDefaults) {
    ASSERT_EQ(INTREEX(1, 0, 4, 0, 33), 0);
    INSTGV *g = zvWNGV;
    EXPECT_EQ(g->bufs, 3);
    EXPECT_EQ(g->dbufs, 100);
    EXPECT_EQ(chain_length(static_cast<NODEBUF *>(g->idxbuflist)), 3);
    EXPECT_EQ(chain_length(static_cast<PAGEBUF *>(g->datpagelist)), 100);
    EXPECT_EQ(g->idxhashsize, 1u);
    EXPECT_EQ(g->dathashsize, 25u);
    EXPECT_EQ(g->filecount, 0);
    EXPECT_EQ(g->fcbtab[0], g->slot0);
}

TEST_F(StartupTest, SpecialCachePercentageGivesReservedPages) {
    EXPECT_EQ(zvSETSPECIALCACHE(50), 47);
    ASSERT_EQ(REGZARVO("x"), 0);
    const struct {
        int32_t pct;
        int32_t pages;
    } cases[] = {{0, 0}, {1, 2}, {50, 100}, {99, 198}, {100, 0}, {-5, 0}};
    for (auto c : cases) {
        EXPECT_EQ(zvSETSPECIALCACHE(c.pct), 0);
        ASSERT_EQ(INTREEX(6, 7, 4, 200, 33), 0);
        EXPECT_EQ(zvWNGV->specialpages, c.pages) << c.pct;
        ASSERT_EQ(STPUSR(), 0);
    }
}

TEST_F(StartupTest, PresetPermissionModeIsKept) {
    ASSERT_EQ(REGZARVO("x"), 0);
    zvWNGV->filepermmode = 0600;
    ASSERT_EQ(INTREE(6, 7, 4), 0);
    EXPECT_EQ(zvWNGV->filepermmode, 0600);
}

TEST_F(StartupTest, BuildOptionWordMustBeZero) {
    ASSERT_EQ(REGZARVO("x"), 0);
    const struct {
        uint32_t opts;
        int rc;
    } cases[] = {{0x1, 771}, {0x40000000, 771}, {0x2001, 771}, {0x2000, 772},
                 {0x10000, 772}, {0x80000000u, 772}};
    for (auto c : cases) {
        AllocMark mark;
        zvWNGV->buildopts = c.opts;
        EXPECT_EQ(INTREE(6, 7, 4), c.rc) << std::hex << c.opts;
        expect_nothing_held(zvWNGV);
        EXPECT_EQ(mark.held(), 0);
    }
    zvWNGV->buildopts = 0;
    EXPECT_EQ(INTREE(6, 7, 4), 0);
}

int g_hook_calls = 0;
int g_hook_result = 0;
int start_hook() {
    g_hook_calls++;
    return g_hook_result;
}

TEST_F(StartupTest, StartHookReplacesTheBuiltInSystemStart) {
    ASSERT_EQ(REGZARVO("x"), 0);
    zvWNGV->starthook = start_hook;
    for (int result : {0, 5, -1}) {
        g_hook_calls = 0;
        g_hook_result = result;
        ASSERT_EQ(INTREE(6, 7, 4), 0) << result;
        EXPECT_EQ(g_hook_calls, 1);
        ASSERT_EQ(STPUSR(), 0);
    }
}

// ---- Second start and failed starts --------------------------------------

TEST_F(StartupTest, SecondStartGives125AndChangesNothing) {
    ASSERT_EQ(INTISAM(6, 7, 4), 0);
    ASSERT_EQ(zvSETCFG_SUPPRESS_PATH_IN_IFIL("NO"), 0);
    INSTGV *g = zvWNGV;
    std::vector<unsigned char> before(sizeof(INSTGV));
    memcpy(before.data(), g, sizeof(INSTGV));
    AllocMark mark;

    struct Call {
        const char *name;
        std::function<int()> run;
    };
    const Call calls[] = {
        {"INTREE", [] { return INTREE(8, 9, 8); }},
        {"INTREEX", [] { return INTREEX(20000, 9, 1024, 5, 0x800); }},
        {"INTISAM", [] { return INTISAM(8, 9, 8); }},
        {"INTISAMX", [] { return INTISAMX(20000, 9, 1024, 5, 0x800); }},
    };
    for (const Call &c : calls) {
        EXPECT_EQ(c.run(), 125) << c.name;
        EXPECT_EQ(g->uerr_cod, 125) << c.name;
        // Every byte of the instance but its error codes is as it was.
        auto *now = reinterpret_cast<INSTGV *>(before.data());
        now->uerr_cod = g->uerr_cod;
        now->isamerr_cod = g->isamerr_cod;
        now->isamfil_num = g->isamfil_num;
        EXPECT_EQ(memcmp(before.data(), g, sizeof(INSTGV)), 0) << c.name;
    }
    EXPECT_EQ(g->isamerr_cod, 125);
    EXPECT_EQ(mark.held(), 0);
    EXPECT_EQ(zv::suppress_path_in_ifil(), 0);
    EXPECT_EQ(zv::camo_calls(zv::CamoStep::Prf), 0);
    EXPECT_TRUE(read_file("ZVSTATUS.QVS").empty());
    EXPECT_EQ(CLISAM(), 0);
}

// Large pools take their buffers from one arena with a region per list:
// each buffer and image lies in its list's region, the regions keep the
// chain order, and stopping gives the arena back. Where the system's memory
// mapping fails, a plain allocation stands in.
TEST_F(StartupTest, LargePoolsLieInOneArena) {
    ASSERT_EQ(REGZARVO("arena"), 0);
    for (bool mapping : {true, false}) {
        SCOPED_TRACE(mapping ? "mapped" : "plain");
        AllocMark mark;
        zv::fail_memory_map(!mapping);
        ASSERT_EQ(INTREEX(600, 8, 64, 500, 33), 0);
        zv::fail_memory_map(false);
        const zv::PoolArena &a = zvWNGV->arena;
        ASSERT_NE(a.base, nullptr);
        EXPECT_EQ(a.mapped, mapping ? 1 : 0);
        if (mapping) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(a.base) % (2u << 20), 0u);
        }
        // Regions in the order index buffers, node images, data pages, page
        // images; each within the arena, none overlapping the next.
        for (int r = 0; r < 4; r++) {
            EXPECT_LE(a.next[r], a.end[r]) << r;
            EXPECT_LE(a.end[r], a.size) << r;
            if (r < 3) {
                EXPECT_LE(a.end[r], a.next[r + 1]) << r;
            }
        }
        auto region_of = [&](const void *p) {
            const auto *c = static_cast<const unsigned char *>(p);
            for (int r = 0; r < 4; r++)
                if (c >= a.base + (r ? a.end[r - 1] : 0) && c < a.base + a.end[r]) return r;
            return -1;
        };
        const unsigned char *last[4] = {};
        int nodes = 0, pages = 0;
        for (auto *b = static_cast<NODEBUF *>(zvWNGV->idxbuflist); b; b = b->next, nodes++) {
            ASSERT_EQ(region_of(b), 0);
            ASSERT_EQ(region_of(b->image), 1);
            ASSERT_GT(reinterpret_cast<const unsigned char *>(b), last[0]);
            ASSERT_GT(b->image, last[1]);
            last[0] = reinterpret_cast<const unsigned char *>(b);
            last[1] = b->image;
        }
        for (auto *p = static_cast<PAGEBUF *>(zvWNGV->datpagelist); p; p = p->next, pages++) {
            ASSERT_EQ(region_of(p), 2);
            ASSERT_EQ(region_of(p->data), 3);
            // A page's bytes are its own: writing them all leaves the
            // neighbours' headers intact.
            memset(p->data, 0xA5, 8192);
        }
        EXPECT_EQ(nodes, 600);
        EXPECT_EQ(pages, 500);
        EXPECT_EQ(chain_length(static_cast<PAGEBUF *>(zvWNGV->datpagelist)), 500);
        EXPECT_EQ(STPUSR(), 0);
        EXPECT_EQ(zvWNGV->arena.base, nullptr);
        expect_nothing_held(zvWNGV);
        EXPECT_EQ(mark.held(), 0);
    }
    // Small pools keep the plain chunks.
    ASSERT_EQ(INTREE(6, 7, 4), 0);
    EXPECT_EQ(zvWNGV->arena.base, nullptr);
    EXPECT_EQ(STPUSR(), 0);
}

// Beside the buffers, start-up gives every index buffer an expansion area
// of its own (1040 bytes, for the expanded element of compressed indexes)
// in one block apart from the arena, and the instance one spill image (a
// node with room for one element more); stopping gives both back.
TEST_F(StartupTest, ExpansionAreasAndSpillImageComeAndGoWithTheEngine) {
    ASSERT_EQ(REGZARVO("areas"), 0);
    for (int bufs : {6, 5000}) {
        SCOPED_TRACE(bufs);
        AllocMark mark;
        ASSERT_EQ(INTREEX(bufs, 8, 64, 500, 33), 0);
        const INSTGV *g = zvWNGV;
        const zv::PoolArena &a = g->arena;
        ASSERT_NE(a.expbase, nullptr);
        EXPECT_EQ(a.expsize, size_t(bufs) * 1040);
        EXPECT_EQ(a.expmapped, bufs == 5000 ? 1 : 0);
        int n = 0;
        for (auto *b = static_cast<NODEBUF *>(g->idxbuflist); b; b = b->next, n++) {
            ASSERT_EQ(b->exparea, a.expbase + size_t(n) * 1040) << n;
        }
        EXPECT_EQ(n, bufs);
        ASSERT_NE(g->idxspill, nullptr);
        EXPECT_EQ(g->idxspilled, nullptr);
        EXPECT_EQ(STPUSR(), 0);
        EXPECT_EQ(zvWNGV->arena.expbase, nullptr);
        EXPECT_EQ(zvWNGV->idxspill, nullptr);
        EXPECT_EQ(mark.held(), 0);
    }
}

TEST_F(StartupTest, FailingEachAllocationInTurnHoldsNothing) {
    struct Starter {
        const char *name;
        std::function<int()> start;
    };
    const Starter starters[] = {
        {"INTREE", [] { return INTREE(6, 7, 4); }},
        {"INTISAM", [] { return INTISAM(6, 7, 4); }},
        {"INTREEX large", [] { return INTREEX(40, 20, 16, 60, 33); }},
        {"INTREEX arena", [] { return INTREEX(600, 8, 64, 600, 33); }},
    };
    for (const Starter &s : starters) {
        long failures = 0;
        for (long n = 1;; n++) {
            ASSERT_LT(n, 500) << s.name;
            AllocMark mark;
            zv::fail_alloc_at(n);
            int rc = s.start();
            zv::fail_alloc_at(0);
            if (rc == 0) {
                EXPECT_EQ(zvWNGV->started, 1u);
                EXPECT_EQ(CLISAM(), 0);
                EXPECT_EQ(mark.held(), 0) << s.name;
                break;
            }
            failures++;
            // 83: the ISAM tables of INTISAM.
            EXPECT_TRUE(rc == 82 || rc == 10 || rc == 83) << s.name << " allocation " << n << ": " << rc;
            EXPECT_EQ(zvGetUserErrorCode(), rc);
            ASSERT_STREQ(WCHZARVO(), "zvREG_DEF_ID");
            expect_nothing_held(zvWNGV);
            EXPECT_EQ(mark.held(), 0) << s.name << " allocation " << n;
        }
        EXPECT_GT(failures, 5) << s.name;
    }
}

TEST_F(StartupTest, FailingKeyChangeRecoveryLogsStopsAndReturnsItsCode) {
    ASSERT_EQ(REGZARVO("x"), 0);
    AllocMark mark;
    zv::camo_fail(zv::CamoStep::Recover, 777, "key change recovery log damaged");
    EXPECT_EQ(INTREE(6, 7, 4), 777);
    EXPECT_EQ(zvGetUserErrorCode(), 777);
    expect_nothing_held(zvWNGV);
    EXPECT_EQ(mark.held(), 0);
    auto lines = log_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], " - User# 00001\tkey change recovery log damaged: 777");
    zv::camo_fail(zv::CamoStep::Recover, 0);
    EXPECT_EQ(INTREE(6, 7, 4), 0);
}

TEST_F(StartupTest, FailingEncryptionStepsStopTheStartWithTheirCode) {
    ASSERT_EQ(REGZARVO("x"), 0);
    {
        AllocMark mark;
        zv::camo_fail(zv::CamoStep::SdkInit, 778);
        EXPECT_EQ(INTREE(6, 7, 4), 778);
        EXPECT_EQ(zvGetUserErrorCode(), 778);
        expect_nothing_held(zvWNGV);
        EXPECT_EQ(mark.held(), 0);
        zv::camo_fail(zv::CamoStep::SdkInit, 0);
    }
    {
        // The master-password step runs only with profile bit 0x800.
        AllocMark mark;
        zv::camo_fail(zv::CamoStep::Prf, 779);
        EXPECT_EQ(INTREEX(6, 7, 4, 6, 0x800 | 33), 779);
        EXPECT_EQ(zvGetUserErrorCode(), 779);
        EXPECT_EQ(zv::camo_calls(zv::CamoStep::Prf), 1);
        expect_nothing_held(zvWNGV);
        EXPECT_EQ(mark.held(), 0);
        EXPECT_EQ(INTREEX(6, 7, 4, 6, 33), 0);
        EXPECT_EQ(zv::camo_calls(zv::CamoStep::Prf), 1);
    }
    EXPECT_TRUE(read_file("ZVSTATUS.QVS").empty());
}

TEST_F(StartupTest, HookInstallerKeyCheckAndInitialiserDoNotStopTheStart) {
    zv::camo_fail(zv::CamoStep::Fnc, 5);
    zv::camo_fail(zv::CamoStep::Chk, 32);  // a 32-byte built-in key
    zv::camo_fail(zv::CamoStep::Init, 6);
    ASSERT_EQ(INTREE(6, 7, 4), 0);
    for (auto step : {zv::CamoStep::Fnc, zv::CamoStep::Chk, zv::CamoStep::Init,
                      zv::CamoStep::Recover, zv::CamoStep::SdkInit}) {
        EXPECT_EQ(zv::camo_calls(step), 1) << static_cast<int>(step);
    }
}

void *test_hook(void *buf, uint32_t, uint32_t, int32_t, int, uint32_t, void *, int32_t, int) {
    return buf;
}

TEST_F(StartupTest, ProcessWideCipherHookIsTakenIntoTheInstance) {
    ASSERT_EQ(INTREE(6, 7, 4), 0);
    EXPECT_EQ(zvWNGV->pagehook, &zv::zvcamo81);
    ASSERT_EQ(CLISAM(), 0);
    zv::set_process_cipher_hook(test_hook);
    ASSERT_EQ(INTREE(6, 7, 4), 0);
    EXPECT_EQ(zvWNGV->pagehook, test_hook);
}

}  // namespace

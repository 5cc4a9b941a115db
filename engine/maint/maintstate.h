// The maintenance utilities' part of the instance block (its room
// INSTGV::maint_, reached through maint_state):
// the routines and flags of a running verification or cross-check, its
// per-run counters, the settings the external sort reads, and the progress,
// work buffer and error state of the rebuilds.
//
// This header holds plain data only, so that the zeroed instance block holds it.
// One verification or cross-check runs at a time per instance: the routines
// are installed for the length of one run and removed on every return.
#pragma once

#include <cstdint>

#include "engine/core/instance.h"
#include "zarvo/zarvo.h"

namespace zv {

// Levels of a tree that the verification counts nodes for (0 .. 14).
constexpr int kVerifyLevels = 15;

// Output flag bits (MaintState::vfyflags).
constexpr uint32_t kVfyOptions = 8;       // the run was given an option block
constexpr uint32_t kVfyKeepBreaks = 16;   // output lines keep their line breaks

// Counters of one verification run; every one is cleared when a run starts.
struct VerifyCounters {
    int32_t misnod;                   // nodes not on a node boundary
    int32_t nbrnod[kVerifyLevels];    // nodes seen per level by the link walk
    int32_t nbrmrk[kVerifyLevels];    // of them, with pending control marks
    int32_t badnod;                   // capacity, reverse-mark and badly formed faults
    int32_t badlnk;                   // link disagreements no single move explains
    int32_t resnod;                   // resource pages met by the page scan
    int32_t mtynod;                   // leaves of this index without entries
    int32_t ununod;                   // deleted nodes met by the page scan
    int32_t lefxtr;                   // leaf entries no longer part of the index
};

// Run flags of a rebuild (RblState::flags); each is set and cleared where
// its run says, and none survives a run.
constexpr uint32_t kRblSetHasIndexes = 0x100000;   // the set being rebuilt has indexes
constexpr uint32_t kRblIdentityPass = 0x200000;    // the next identity value is to be recomputed
constexpr uint32_t kRblPartitionRun = 0x1000000;   // a partition rebuild called the set rebuild
constexpr uint32_t kRblMapMissing = 0x2000000;     // the scan found no readable identity map
constexpr uint32_t kRblGlobalKeys = 0x0C000000;    // key pass of a partitioned set

// Progress, work buffer and error state of the rebuilds (one at a time per
// instance).
struct RblState {
    RBLCBFN callback;         // progress routine; null: none
    RBLCBST *status;          // status block of the running set rebuild; null: none
    uint16_t interval;        // callback every N records or keys (0 counts as 1)
    uint64_t counter;         // records or keys handled in the current phase
    unsigned char *buf;       // one record image; grows, never shrinks within a run
    int32_t bufsize;          // bytes of buf
    uint16_t err;             // last rebuild error code
    uint16_t errfil;          // file number of that error
    uint16_t forcescan;       // scan data files even when closed cleanly (set by set rebuilds)
    uint32_t flags;           // kRbl* run flags
    int32_t runlo, runn;      // file numbers runlo .. runlo + runn - 1 belong to the set being rebuilt
    uint8_t keydump;          // reject reports carry a hex dump of each key
    uint64_t loaded;          // keys handed to the bulk load (the index rebuild's own count)
    uint64_t copyreads;       // live records the compaction's copy read
    uint64_t copywrites;      // records the compaction's copy wrote
};

struct MaintState {
    // Verification output: installed marks a run with an option block; its
    // output goes to vfyout, or to standard output when that is null.
    uint8_t vfyinstalled;
    VERIFYOUTFN vfyout;
    VERIFYPROGFN vfyprogress;
    VERIFYERRFN vfyerror;
    uint32_t vfyflags;                // kVfy* bits
    uint8_t vfystopped;               // the progress routine asked the run to stop
    VerifyCounters vc;
    // External sort: directory prefix of the work files (empty: the current
    // directory; the prefix carries its own trailing separator) and the
    // buffer count the index rebuild passes (0: 500).
    char sortdir[256];
    int32_t sortbufs;
    RblState rbl;
};

}  // namespace zv

static_assert(zv::fits_state_room<zv::MaintState>(zv::kMaintStateBytes),
              "the maintenance state fits its room of the instance block");

// The maintenance state of an instance.
inline zv::MaintState &maint_state(INSTGV *g) { return zv::state_in<zv::MaintState>(g->maint_); }

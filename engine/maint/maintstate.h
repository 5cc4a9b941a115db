// The maintenance utilities' part of the instance block (INSTGV::maint):
// the routines and flags of a running verification or cross-check, its
// per-run counters, and the settings the external sort reads.
//
// This header holds plain data only, so that the instance block can embed it.
// One verification or cross-check runs at a time per instance: the routines
// are installed for the length of one run and removed on every return.
#pragma once

#include <cstdint>

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
};

}  // namespace zv

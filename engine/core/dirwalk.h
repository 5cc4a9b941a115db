// Wildcard matching, directory search, directory cleanup and tree traversal
// (see dirwalk.cpp). The exported routines are declared in zarvo.h.
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

namespace zv {

struct PlatDir;

// Depth of nested directory streams a search record can hold.
constexpr int kFindDepth = 8;

// Search record of zv_findfile: the caller zeroes it and sets the fields
// above `dirs`; the routine keeps the rest.
struct FindRec {
    uint32_t operation;        // 2 open and read the first entry, 3 read the next, 4 close
    uint32_t mode;             // 2: directories count as matches
    int32_t depth;             // index of the stream in use
    uint32_t options;          // 1 no name conversion; 2 owners without a password entry; 4 only "*.QVS"
    PlatDir *dirs[kFindDepth]; // open streams, by depth
    int32_t syserr;            // errno when reading ends (or of a -88 entry)
    int32_t kind;              // -5 directory, else 0
    const char *exclude;       // system-file name to skip, also as a prefix
    const char *exclude2;      // another system-file name to skip
    char directory[256];       // the directory to open
    char pattern[256];         // full-path pattern the entries must match
    char prefix[256];          // directory with its trailing "/"
    char current[256];         // the entry: bare name, then full path
};

// Codes of a search besides 0 (no entry) and 1 (a match).
constexpr int kFindNoMatch = -2, kFindDot = -3, kFindSystem = -4, kFindDir = -5, kFindBad = -88;

// Runs the record's operation: 0 no entry (end or read error, errno in
// syserr), 1 a matching entry, or one of the codes above. The full name of
// the entry is in current (never cut: a name over 254 characters is -88
// with syserr ENAMETOOLONG).
int zv_findfile(FindRec *rec);
// The filter of zv_findfile over the bare entry name in current.
int zv_findfilter(FindRec *rec);

// Matching with flags (0 or 2 ignore case; 1 exact; 2 lets '\\' and '/'
// match each other): 0 match, 1 no match. First and last characters;
// last < first for an empty text.
int izvrt_filmtc(const char *pattern, const char *name, int flags);

}  // namespace zv

extern "C" {
// The recursive worker of zvFSdirtraverse: operation 3, the subdirectories
// (5 with option 2, then each walked), operation 4. 0 or the first error.
int zvFSdirtravcmd(const char *dir, int options, ZvDirTravCallback cb, ZVDIRTRAV *rec);
// One callback call with the record's operation: the answer.
int zvFSdirtravclbk(const char *dir, ZvDirTravCallback cb, ZVDIRTRAV *rec);
}

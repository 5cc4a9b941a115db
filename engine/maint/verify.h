// Index verification and the verification output channel (see verify.cpp).
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

struct FCB;

namespace zv {

// The argument of zvVERIFY when routines are installed: the caller's option
// and result blocks.
struct VerifyArg {
    VERIFYIDXOPT *opts;
    VERIFYIDXRES *results;
};

// The steps of a verification run; each returns 0 or an error code (910
// when the progress routine asked to stop).
int delstk_verify(FCB *fcb);
int link_verify(FCB *fcb, uint32_t rooth, uint32_t rootl);
int leaf_verify(FCB *fcb, bool keycheck, int64_t *entries);

// Prints one key in brackets as "%02x(%c) " per byte through the output
// channel (the duplicate suffix left out); a null key as "[??]".
void prtkey(const unsigned char *key, FCB *fcb);

// Developer check of every leaf entry of index idxno against the record of
// data file datno, printed on standard output: 0, or 1 when it cannot run.
int leaf_extra(int idxno, int datno);

}  // namespace zv

extern "C" {
// The working routine of the index verification. With routines installed
// (zvVERIFYidx) arg is a zv::VerifyArg; without (the plain form) the run
// makes every check, prints its summary and stores the number of leaf
// entries found into the int32_t at arg (when not null).
int zvVERIFY(int filno, void *arg);
// Output channel of the verification and the cross-check: standard output
// when no output routine is installed, else the routine with the text
// (line breaks taken out unless output flag 16 is in force).
int zvVERIFYprintf(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Error channel of the cross-check: the installed error routine with the
// error record and the message, else "ERROR: [code] " and the message on
// standard output.
int zvVERIFYerror(const VERIFYFILEOPT *opts, VERIFYERR *err, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
}

// Text comparison and pattern matching of the expression language (see
// textcmp.cpp): comparisons of byte strings, the wildcard matcher of
// MATCH, the comparison of two stack values in a value kind, and the
// substring routine.
#pragma once

#include <cstdint>

#include "zarvo/zvdbpt.h"

namespace zv {

// -1, 0 or 1 as a[0..alen) orders against b[0..blen): bytes unsigned, with
// nocase upper-cased first (C locale). Without sqlpad the longer of two
// texts with an equal prefix is greater; with sqlpad the shorter compares
// as if filled with blanks, so "abc" equals "abc  ". A null a is smaller
// than a non-null b, unless both lengths are 0.
int StrComp(const unsigned char *a, int64_t alen, const unsigned char *b, int64_t blen, int nocase,
            int sqlpad);
// Over at most n bytes: -1, 0 or 1; n < 1 gives 0; when one text ends
// first the shorter is smaller.
int StrNComp(const unsigned char *a, int64_t alen, const unsigned char *b, int64_t blen, int64_t n, int nocase);
// StrComp with case kept and SQL padding.
int BinComp(const unsigned char *a, int64_t alen, const unsigned char *b, int64_t blen);

// 1 when text[..textlast] matches pattern[..patternlast] (the addresses of
// the last bytes; an empty text or pattern has its last byte just before
// its start): "*" any run of bytes, "." any byte, "~" the next byte
// literally (a "~" ending the pattern matches "~"), any other byte itself,
// upper-cased first without casesensitive. Cost O(pattern x text).
int StrMatch(const unsigned char *text, const unsigned char *textlast, const unsigned char *pattern,
             const unsigned char *patternlast, int casesensitive);
// StrMatch over lengths, adding the steps it takes to *steps when given.
int str_match(const unsigned char *text, int64_t tlen, const unsigned char *pat, int64_t plen, bool cs,
              int64_t *steps);

// Compares a with b in value kind `kind` (9..15, else 15) into *result
// (-1, 0, 1): both converted to the kind; texts with StrComp, or, when
// either is marked binary, with StrNComp over the shorter length. 16 when
// a value is NULL (both NULL: the comparison is still made), or the
// conversion's error.
int Leafcmp(int kind, const PTVALUE *a, const PTVALUE *b, int *result, int nocase, int sqlpad);
// Leafcmp in a's kind with SQL padding (funINiComp: letters folded), as
// ordering functions of value-set members.
int funINComp(const void *a, const void *b);
int funINiComp(const void *a, const void *b);

// A new zvgetmem block with min(count, length - start) bytes of text from
// start (a negative start counts as 0; empty when start >= length; at least
// one byte allocated); the length produced in *outlength. Null for a null
// text, a negative length or count, or no memory.
unsigned char *funSubstring(const unsigned char *text, int64_t length, int64_t start, int64_t count,
                            int64_t *outlength);

}  // namespace zv

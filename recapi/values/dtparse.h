// Helpers shared by the date, time and date-time parsers: reading the digit
// groups of a match and the calendar arithmetic of day numbers.
#pragma once

#include <cstdint>

#include "zarvo/zvdb.h"

namespace zv {

// Largest value a digit group converts to: a longer group saturates here,
// which every range check refuses (and which leaves room for adding 12 to an
// hour).
constexpr int kGroupMax = 999999999;

// Value of the decimal digits of group n of the last match (0 for an absent
// or empty group), saturating at kGroupMax.
int group_number(const zvdb_regexp *re, int n);
// Length of group n's text (0 when absent).
int group_length(const zvdb_regexp *re, int n);
// Value of `len` digits starting at character `from` of group n.
int group_digits(const zvdb_regexp *re, int n, int from, int len);
// First character of group n's text ('\0' when absent).
char group_first(const zvdb_regexp *re, int n);

// Two-digit rule: a year of 99 or less becomes 20xx below 40, else 19xx.
int two_digit_year(int year);

// Compiles pattern and searches text: 0 on a match, 4028 when the pattern
// does not compile, `nomatch` when there is no match, 4001 when the program
// or a group copy found no memory.
ZVDBRET match_text(zvdb_regexp *re, const char *pattern, const char *text, ZVDBRET nomatch);

}  // namespace zv

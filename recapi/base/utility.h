// Small routines of the record-level API: text, bit arrays and the debug
// trace file. _zvdb_strrev is declared in zarvo/zvdb.h, like the clock
// routines of the value types (recapi/values/clock.cpp).
#pragma once

#include <cstdint>
#include <cstdio>

#include "zarvo/zvdb.h"

extern "C" {

// The last character that is not white space; NULL for NULL, empty or blank text.
char *_zvdb_strlastchar(const char *text);
// Index of the last occurrence of c; -1 when none or NULL.
int32_t _zvdb_lastdelimiter(const char *text, int c);
// Cuts the text at its first '.' (NULL is ignored).
void _zvdbFileNameOnly(char *name);

// Bit n of a byte array is bit n % 8 (least significant first) of byte n / 8.
// A NULL array is ignored; test gives 0 for it.
void _zvdbFlipBit(unsigned char *bits, int32_t n, int on);
void _zvdbSetBit(unsigned char *bits, int32_t n);
void _zvdbClearBit(unsigned char *bits, int32_t n);
int _zvdbTestBit(const unsigned char *bits, int32_t n);

// Opens the debug trace file (path, or "zvdbdbug.txt" when NULL) for
// appending into *file: 0, 4007 NULL file, 4009 when it cannot be opened.
ZVDBRET _zvdbStartDebug(FILE **file, const char *path);
// Closes a trace file: 0, 4007 for NULL.
ZVDBRET _zvdbEndDebug(FILE *file);

}  // extern "C"

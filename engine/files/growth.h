// File growth: new space at the logical end of a file.
#pragma once

#include <cstdint>

struct FCB;

// Hands out `bytes` bytes at the file's logical end: returns the low word of
// the new space's position (high word through zvSETHGHi), or 0 with the user
// error set. alignment and mode as the growth service defines them.
uint32_t extfil(FCB *fcb, uint32_t bytes, uint32_t alignment, int mode);

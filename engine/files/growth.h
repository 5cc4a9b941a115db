// File growth: new space at the logical end of an open file.
#pragma once

#include <cstdint>

struct FCB;

extern "C" {
// Hands out `needed` bytes at the file's logical end (after an alignment gap
// when `align` asks for one) and extends the physical file in steps. Returns
// the low word of the new space's position, its high word through zvGETHGH;
// 0 with the user error set on failure. Mode 1 on a superfile member grows
// the host.
uint32_t extfil(FCB *fcb, uint32_t needed, uint32_t align, int mode);
}

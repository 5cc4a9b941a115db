// The high-word cell of the instance: the high 32 bits of a 64-bit offset
// or value that travels beside a 32-bit call.
#pragma once

#include <cstdint>

// Internal twins of zvSETHGH and zvGETHGH (zarvo.h): store the cell
// (returns 0), and return it while clearing it to 0.
int32_t zvSETHGHi(int32_t hw);
int32_t zvGETHGHi(void);
// Returns the cell without clearing it.
int32_t tsthghwrd(void);

// Variable-length record space, as the fixed-length record space uses it:
// a superfile member whose delete stack is empty takes its space from its
// host's variable-length space, and records of variable-length files and
// members are written there.
#pragma once

#include <cstdint>

extern "C" {
// Position of an area for a record of `reclen` bytes (low word; high word
// through zvGETHGH); 0 with the user error set on failure.
uint32_t NEWVREC(int filno, uint32_t reclen);
// Writes a record of `reclen` bytes into the area at (high word from
// zvGETHGH, lo). 0 or the error code.
int WRTVREC(int filno, uint32_t lo, void *buf, uint32_t reclen);
}

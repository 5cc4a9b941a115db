// The engine's partition administration as the partition calls of tables
// reach it: (host data file, member name or partition key text, raw
// number, mode), 0 or the engine's code, the member's state after an ask
// in the instance's system error word.
//
// Stand-in until the engine exports it (ptadmin_standin.cpp): every request
// answers 454, as a service this library does not have.
#pragma once

#include <cstdint>

extern "C" {

int _zvdbPTADMIN(int host, const char *text, int32_t raw, int mode);

}  // extern "C"

// Services of the fixed-length record space that the variable-length space
// and the resources call: the serial number and active count, the free of
// one record slot and the allocation of one.
#pragma once

#include <cstdint>

struct FCB;

extern "C" {
// Position of a free record of a fixed-length data file (low word; high
// word through zvGETHGH); 0 with the user error set on failure.
uint32_t NEWREC(int filno);
}

// Takes (mode 1) or reads (mode 2) the serial number of a file and adds
// `delta` to the active count of a fixed-length file; mode 0 only changes
// the count. Low word of the serial (high through *serh); *err receives 44
// style errors of the identity field (0 here).
uint32_t zvdhupd81(uint32_t *serh, int32_t delta, int mode, int *err, FCB *fcb);
// Frees one record slot at (high word from zvGETHGH, posl); `decrement`
// lowers the active count. 0 or the error code.
int iretrec(int filno, uint32_t posl, int decrement);

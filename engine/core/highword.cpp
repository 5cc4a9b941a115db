// The high-word cell. One signed 32-bit value per instance: a call that
// returns a 64-bit offset returns its low word and leaves the high word
// here; a call that takes one reads (and clears) it. Without an instance
// the cell reads as 0 and stores nothing.
#include "engine/core/highword.h"

#include "engine/core/instance.h"

int32_t zvSETHGHi(int32_t hw) {
    if (zvWNGV) zvWNGV->highword = static_cast<uint32_t>(hw);
    return 0;
}

int32_t zvGETHGHi(void) {
    if (!zvWNGV) return 0;
    int32_t hw = static_cast<int32_t>(zvWNGV->highword);
    zvWNGV->highword = 0;
    return hw;
}

int32_t tsthghwrd(void) { return zvWNGV ? static_cast<int32_t>(zvWNGV->highword) : 0; }

extern "C" {

ZV_API int32_t zvSETHGH(int32_t hw) { return zvSETHGHi(hw); }

ZV_API int32_t zvGETHGH(void) { return zvGETHGHi(); }

}  // extern "C"

// Stand-in of the variable-length record space: not built yet (454).
#include "engine/files/varlen_services.h"

#include "engine/core/highword.h"
#include "engine/core/instance.h"

extern "C" {
uint32_t NEWVREC(int, uint32_t) {
    zvSETHGHi(0);
    zv::set_uerr(454);
    return 0;
}
int WRTVREC(int, uint32_t, void *, uint32_t) {
    zvGETHGHi();
    return zv::set_uerr(454);
}
}

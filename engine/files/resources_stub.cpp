// Stand-in of the resource ring: enabling does nothing, so files have no
// resources and every reader of one answers "not found". Record conversion
// is handed to the test converter when one is set.
#include "engine/files/resources_services.h"

#include "engine/core/highword.h"
#include "engine/core/instance.h"

namespace {

// Test-only switch (see resources_services.h).
zv::TestConverter test_converter = nullptr;

}  // namespace

namespace zv {

void set_test_converter(TestConverter fn) { test_converter = fn; }

}  // namespace zv

extern "C" {
int ENARES(int) { return zv::set_uerr(0); }
int ADDRES(int, void *, int32_t) { return zv::set_uerr(401); }
int UPDRES(int, void *, int32_t) { return zv::set_uerr(401); }
int DELRES(int, const void *) { return zv::set_uerr(401); }
uint32_t GETRES(int, const void *, void *, int32_t, int) {
    zvSETHGHi(0);
    zv::set_uerr(401);
    return 0;
}
int zvconvert18(void *buf, const unsigned char *, const unsigned char *, int32_t len, int, int direction,
                int32_t) {
    return test_converter ? test_converter(buf, len, direction) : 0;
}
}

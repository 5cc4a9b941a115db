// libFuzzer target of the condition parser: every input is parsed against
// the shared record layout and freed; a leak, a crash or an unexpected
// result stops the run.
#include <cstdlib>

#include "tests/fuzz/expr_entry.h"
#include "zarvo/zarvo.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (REGZARVO("fuzz") != 0 || INTISAMX(8, 8, 4, 8, 32) != 0) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (zvfuzz::expr_fuzz_one(data, size) < 0) abort();
    return 0;
}

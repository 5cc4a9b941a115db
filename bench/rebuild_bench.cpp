// Set rebuild benchmark: a set of N fixed-length records (64 bytes) with
// three indexes (a unique 4-byte key, a member index of 24-byte keys with
// duplicates, a unique 24-byte key in a file of its own) is written without
// its keys, then rebuilt; the program prints the records per second of the
// rebuild (the data-file scan and the three key passes through the
// external sort and the bulk load). A measurement for release builds, not a
// test.
//
//   rebuild_bench [--records N] [directory]
#include <cinttypes>
#include <cstdio>
#include <string>

#include "bench/maintset.h"

int main(int argc, char **argv) {
    uint32_t records = 1000000;
    std::string dir = ".";
    if (int rc = bench::parse_args(argc, argv, "rebuild_bench", &records, &dir)) return rc;
    bench::MaintTimes t;
    if (int rc = bench::time_maintenance("rebuild_bench", dir, records, false, &t)) return rc;
    printf("records written             : %" PRIu32 " (%.2f s)\n", records, t.write);
    printf("set rebuild (scan, 3 indexes): %.2f s\n", t.run);
    printf("rebuild records/s           : %.0f\n", t.run > 0 ? records / t.run : 0.0);
    return 0;
}

// Compaction benchmark: a set of N fixed-length records (64 bytes) with
// three indexes (a unique 4-byte key, a member index of 24-byte keys with
// duplicates, a unique 24-byte key in a file of its own), of which every
// other record is deleted, is compacted; the program prints the records
// per second of the compaction (the copy of the live records and
// resources, the three key passes through the external sort and the bulk
// load, and the swap of the files). A measurement for release builds, not
// a test.
//
//   compact_bench [--records N] [directory]
#include <cinttypes>
#include <cstdio>
#include <string>

#include "bench/maintset.h"

int main(int argc, char **argv) {
    uint32_t records = 1000000;
    std::string dir = ".";
    if (int rc = bench::parse_args(argc, argv, "compact_bench", &records, &dir)) return rc;
    bench::MaintTimes t;
    if (int rc = bench::time_maintenance("compact_bench", dir, records, true, &t)) return rc;
    printf("records written, half deleted : %" PRIu32 " (%.2f s with the set rebuild)\n", records, t.write);
    printf("compaction (%" PRIu32 " live, 3 indexes): %.2f s\n", records - records / 2, t.run);
    printf("compaction records/s          : %.0f\n", t.run > 0 ? records / t.run : 0.0);
    return 0;
}

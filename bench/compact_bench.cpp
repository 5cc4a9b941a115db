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
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/maintset.h"
#include "zarvo/zarvo.h"

using bench::fail;
using bench::now_seconds;

int main(int argc, char **argv) {
    uint32_t records = 1000000;
    std::string dir = ".";
    if (int rc = bench::parse_args(argc, argv, "compact_bench", &records, &dir)) return rc;
    bench::MaintSet set(dir, "cmpbench");
    set.remove_files();
    IFIL &ifil = set.ifil;
    const char *me = "compact_bench";
    if (int rc = INTISAMX(4096, 64, 32, 4096, 32)) return fail(me, "start-up", rc);
    if (int rc = CREIFIL(&ifil)) return fail(me, "create", rc);
    const int d = ifil.tfilno;
    const double t0 = now_seconds();
    // The records are written without their keys, every other one freed
    // again, and the set rebuilt: a consistent set with half its slots
    // deleted.
    std::vector<uint32_t> freed;
    freed.reserve(records / 2 + 1);
    for (uint32_t k = 1; k <= records; k++) {
        bench::MaintRec r = bench::maint_record(k);
        zvSETHGH(0);
        uint32_t pos = NEWREC(d);
        if (!pos) return fail(me, "NEWREC", zvGetUserErrorCode());
        if (int rc = WRTREC(d, pos, &r)) return fail(me, "WRTREC", rc);
        if (k % 2 == 0) freed.push_back(pos);
    }
    for (uint32_t pos : freed) {
        zvSETHGH(0);
        if (int rc = RETREC(d, pos)) return fail(me, "RETREC", rc);
    }
    if (int rc = CLIFIL(&ifil)) return fail(me, "close", rc);
    ifil.tfilno = -1;
    if (int rc = RBLIFIL(&ifil)) return fail(me, "rebuild", rc);
    const uint32_t live = records - uint32_t(freed.size());
    const double t1 = now_seconds();

    ifil.tfilno = -1;
    if (int rc = CMPIFIL(&ifil)) return fail(me, "compaction", rc);
    const double t2 = now_seconds();

    if (int rc = set.check_counts(me, "compaction", live)) return rc;
    const double secs = t2 - t1;
    printf("records written, half deleted : %" PRIu32 " (%.2f s with the set rebuild)\n", records, t1 - t0);
    printf("compaction (%" PRIu32 " live, 3 indexes): %.2f s\n", live, secs);
    printf("compaction records/s          : %.0f\n", secs > 0 ? records / secs : 0.0);
    return 0;
}

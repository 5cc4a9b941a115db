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
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/maintset.h"
#include "zarvo/zarvo.h"

using bench::fail;
using bench::now_seconds;

int main(int argc, char **argv) {
    uint32_t records = 1000000;
    std::string dir = ".";
    if (int rc = bench::parse_args(argc, argv, "rebuild_bench", &records, &dir)) return rc;
    bench::MaintSet set(dir, "rblbench");
    set.remove_files();
    IFIL &ifil = set.ifil;
    const char *me = "rebuild_bench";
    if (int rc = INTISAMX(4096, 64, 32, 4096, 32)) return fail(me, "start-up", rc);
    if (int rc = CREIFIL(&ifil)) return fail(me, "create", rc);
    const int d = ifil.tfilno;
    const double t0 = now_seconds();
    for (uint32_t k = 1; k <= records; k++) {
        bench::MaintRec r = bench::maint_record(k);
        zvSETHGH(0);
        uint32_t pos = NEWREC(d);
        if (!pos) return fail(me, "NEWREC", zvGetUserErrorCode());
        if (int rc = WRTREC(d, pos, &r)) return fail(me, "WRTREC", rc);
    }
    if (int rc = CLIFIL(&ifil)) return fail(me, "close", rc);
    const double t1 = now_seconds();

    ifil.tfilno = -1;
    if (int rc = RBLIFIL(&ifil)) return fail(me, "rebuild", rc);
    const double t2 = now_seconds();

    if (int rc = set.check_counts(me, "rebuild", records)) return rc;
    const double secs = t2 - t1;
    printf("records written             : %" PRIu32 " (%.2f s)\n", records, t1 - t0);
    printf("set rebuild (scan, 3 indexes): %.2f s\n", secs);
    printf("rebuild records/s           : %.0f\n", secs > 0 ? records / secs : 0.0);
    return 0;
}

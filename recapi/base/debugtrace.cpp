// The debug trace file of the record-level API: a text stream opened for
// appending, through the platform seam like every other file.
#include "engine/core/platform.h"
#include "recapi/base/utility.h"

extern "C" {

ZVDBRET _zvdbStartDebug(FILE **file, const char *path) {
    if (!file) return ZVDB_NULL_ARGUMENT;
    FILE *f = zv::plat_fopen(path ? path : "zvdbdbug.txt", "at");
    if (!f) return ZVDB_DEBUG_FILE;
    *file = f;
    return 0;
}

ZVDBRET _zvdbEndDebug(FILE *file) {
    if (!file) return ZVDB_NULL_ARGUMENT;
    zv::plat_fclose(file);
    return 0;
}

}  // extern "C"

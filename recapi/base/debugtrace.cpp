// The debug trace file of the record-level API: a text stream opened for
// appending, through the platform seam like every other file. The default
// name is the library's own, opened as such names are (no symbolic link
// followed, a regular file only); a name the caller gives is opened as it
// stands.
#include "engine/core/platform.h"
#include "recapi/base/utility.h"

extern "C" {

ZVDBRET _zvdbStartDebug(FILE **file, const char *path) {
    if (!file) return ZVDB_NULL_ARGUMENT;
    FILE *f = path ? zv::plat_fopen(path, "at") : zv::plat_fopen_found("zvdbdbug.txt", "a", 0666);
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

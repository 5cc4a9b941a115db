// Per-file rules. Until rule lists exist no file has a rule: no file is
// given dedicated cache pages, made a memory file or kept out of the cache.
#include "engine/core/filerules.h"

extern "C" {
int zvsplche(FCB *) { return 0; }
uint32_t zvmemfil(const char *, uint32_t *out) {
    if (out) *out = 0;
    return 0;
}
int zvno_che(FCB *, const char *) { return 0; }
}

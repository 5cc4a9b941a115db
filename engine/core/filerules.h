// Per-file rules: memory files, uncached files and dedicated cache.
#pragma once

#include <cstdint>

struct FCB;

extern "C" {
// Dedicated cache pages allowed to a file by the rule list (0: none).
int zvsplche(FCB *fcb);
// Memory-file size of a name by the rule list: 0 when no rule matches,
// 0xFFFFFFFF when one matches with size 0.
uint32_t zvmemfil(const char *name, uint32_t *out);
// 1 when a data file's name is in the no-caching rules, else 0.
int zvno_che(FCB *fcb, const char *name);
}

// Per-file rules: memory files, uncached files and dedicated cache.
#pragma once

struct FCB;

extern "C" {
// Dedicated cache pages allowed to a file by the rule list (0: none).
int zvsplche(FCB *fcb);
}

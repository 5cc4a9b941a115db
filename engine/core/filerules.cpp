// Per-file rules. Until rule lists exist no file has a rule, so no file is
// given dedicated cache pages.
#include "engine/core/filerules.h"

extern "C" int zvsplche(FCB *) { return 0; }

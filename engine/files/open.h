// Open of files and of engine system files.
#pragma once

#include <cstdint>

struct FCB;

// The open worker: every check of the header; on failure the block (and
// any member block it bound) is free again and its descriptor closed.
int iopnfilx(int filno, const char *name, uint16_t mode);
// Opens (or with a create mode makes) an engine system file named in the
// block: 0, 498 exists (create-only mode), 766 no descriptor, 96 failure.
int zvspcopn(int mode, FCB *fcb);

// Key deletion (see keydelete.cpp).
#pragma once

#include <cstdint>

#include "engine/index/index_services.h"

struct FCB;

// idelchk is declared in index_services.h.
// Removes key (already in key form) holding record position (posh, posl).
// mode: 128 the file must be an index (48); 0x120 no read-only check; 32 no
// update mark; after removing 0x1A0, 2 removes the empty leaf that key
// reaches (the key count is not changed). 0; 4 not found (0 under the
// index's flag 32); 3 the key holds another position; 527 damage.
int zvdelkey(FCB *fcb, const unsigned char *key, uint32_t posh, uint32_t posl, int mode);
// Repairs the parents after the leaf whose successor is (sh, sl) left the
// tree, along the instance's delete path. 0 or an error code.
int zvdelupl81(uint32_t sh, uint32_t sl, FCB *fcb);

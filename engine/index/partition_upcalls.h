// Calls of the index engine up into the ISAM layer's partition services.
//
// A partitioned host index hands its key reads and its key count to the
// partition services of the ISAM layer. Until that layer provides them, the
// stand-ins behind this header answer 454 (not supported).
#pragma once

#include <cstdint>

struct FCB;

// Key read of a partitioned host: mode as the key reads ('E', 'G', 'H',
// 'N', 'M'), direction 1 for the less-than forms, 16 first key, 17 last key.
// Record position low word (high through zvSETHGHi), 0 with uerr_cod set.
uint32_t part_ser(FCB *fcb, const void *target, void *keyout, int mode, int direction);
// Key count of a partitioned host summed over its members (low word; high
// through zvSETHGHi); 0 with uerr_cod set.
uint32_t zvhostent(FCB *fcb);

// 64-bit offsets as high/low pairs of 32-bit words.
//
// File offsets, record positions and counts travel through the engine's
// calls as two unsigned 32-bit words. These inline helpers join and split
// them; the exported pair routines (zvadddlng and friends) are built on them
// and are exact modulo 2^64.
#pragma once

#include <cstdint>

namespace zv {

inline uint64_t join64(uint32_t hi, uint32_t lo) { return (uint64_t{hi} << 32) | lo; }

inline void split64(uint64_t v, uint32_t *hi, uint32_t *lo) {
    *hi = static_cast<uint32_t>(v >> 32);
    *lo = static_cast<uint32_t>(v);
}

inline int cmp64(uint32_t hi1, uint32_t lo1, uint32_t hi2, uint32_t lo2) {
    uint64_t a = join64(hi1, lo1), b = join64(hi2, lo2);
    return a < b ? -1 : (a > b ? 1 : 0);
}

inline void add64(uint32_t *hi, uint32_t *lo, uint64_t v) { split64(join64(*hi, *lo) + v, hi, lo); }

inline void sub64(uint32_t *hi, uint32_t *lo, uint64_t v) { split64(join64(*hi, *lo) - v, hi, lo); }

}  // namespace zv

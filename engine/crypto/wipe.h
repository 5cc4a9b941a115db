// Zeroing of secrets (keys, schedules, hash states, passwords) that the
// compiler may not drop as a dead store: the barrier tells it the zeroed
// memory is read afterwards.
#pragma once

#include <cstddef>
#include <cstring>

namespace zv {

inline void secure_zero(void *p, size_t n) {
    if (!p || n == 0) return;
    memset(p, 0, n);
    __asm__ __volatile__("" : : "r"(p) : "memory");
}

}  // namespace zv

// Field alignment and byte order of record schemas.
//
// A schema field's type code decides both how it is aligned inside a record
// and how its value is converted between the little-endian stored order and
// the host's order. The width table below is indexed by type / 8:
//   0 no byte order; n > 0 an n-byte value, or the given length when one is
//   given; n < 0 a |n|-byte value whatever length is given (the length
//   prefix of a prefixed string, which is all that is converted of it).
// Types 177 to 207 hold 2-byte characters: each unit is swapped on its own.
// Types 240 to 256 have no byte order.
#include "engine/isam/fieldorder.h"

#include <cstdint>
#include <utility>

namespace zv {

namespace {

constexpr int8_t kWidth[30] = {
    0, 0, 0, 0,            // 0-31
    2, 2,                  // 32-47
    4, 4, 4, 4, 4, 4,      // 48-95
    8,                     // 96-103
    -2,                    // 104-111
    0,                     // 112-119
    8,                     // 120-127
    0,                     // 128-135
    8,                     // 136-143
    0, 0,                  // 144-159
    -2,                    // 160-167
    -4,                    // 168-175
    2, 2, 2, 2,            // 176-207
    0, 0,                  // 208-223
    8, 8,                  // 224-239
};

void reverse(unsigned char *p, int32_t n) {
    for (int32_t i = 0, j = n - 1; i < j; i++, j--) std::swap(p[i], p[j]);
}

}  // namespace

int32_t zvadjadr(int align, int type, const void *cursor) {
    uint32_t m;
    if (type <= 256) {
        int k = type & 7;
        if (k == 0 || k == 2) return 0;
        m = (k == 4) ? (uint32_t(align - 1) & 7u) : (uint32_t(align - 1) & uint32_t(k));
    } else if (type <= 259) {
        static constexpr uint32_t kUnit[3] = {8, 4, 1};
        m = uint32_t(align - 1) & (kUnit[type - 257] - 1);
    } else {
        return 0;
    }
    if (m == 0) return 0;
    uint32_t c = uint32_t(reinterpret_cast<uintptr_t>(cursor) & 15u);
    return int32_t(((m + c) & ~m) - c);
}

int zvadjfld(int type, void *field, int32_t len) {
    auto *p = static_cast<unsigned char *>(field);
    if (!p || type < 0) return 0;
    if (type >= 257 && type <= 259) {
        reverse(p, type == 257 ? 8 : 4);
        return 1;
    }
    if (type >= 240) return 0;
    int w = kWidth[type / 8];
    if (w == 0) return 0;
    if (len == 0 || w < 0) len = w < 0 ? -w : w;
    if (len <= 0) return 0;
    if (type >= 177 && type <= 207) {
        for (int32_t i = 0; i + 1 < len; i += 2) std::swap(p[i], p[i + 1]);
    } else {
        reverse(p, len);
    }
    return 1;
}

}  // namespace zv

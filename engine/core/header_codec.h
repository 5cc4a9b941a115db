// Byte order of the file header on disk.
//
// The header is little-endian on disk whatever the host. The host-order
// copy (FILEHDRALL, filehdr.h) keeps every field at its disk offset, so the
// conversion is a walk over groups of equal-width fields: within a group
// each field of `width` bytes is moved between host order and
// little-endian order. These tables are the one description of the widths;
// encode_header and decode_header are the one place that applies them.
//
// Base part (offsets from the header position):
//   OFFSET SIZE  WIDTH  FIELDS
//      0    40     4    phyend .. servid
//     40    16     2    verson .. maxkbn
//     56     8     1    updflg .. ptrwidth (bytes, not converted)
//     64     8     2    clstyp, keylen, nmem, kmem
//     72    20     4    lanchr .. cretime
//     92     8     2    sfiltyp, node4, maxnamlen, hdrflags
//    100    28     4    hdrflags2 .. spare1
//
// Extended part (offsets from its own start, i.e. header offset - 128):
//   OFFSET SIZE  WIDTH  FIELDS
//      0   128     4    phyendh .. crew7 (header +128 .. +255)
//    128     8     2    four 16-bit words (header +256 .. +263)
//    136   136     4    header +264 .. +399
//    272     8     1    darcount (header +400 .. +407, not converted)
//    280     8     4    crew14, spare7
//    288    32     8    wide64[4] (header +416 .. +447)
//    320     8     4    wide32a, wide32b
//    328    56     1    spare8 (not converted)
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/core/filehdr.h"

namespace zv {

struct HdrGroup {
    uint16_t off;   // from the start of its part
    uint16_t len;   // bytes in the group
    uint8_t width;  // bytes per field: 1, 2, 4 or 8
};

inline constexpr HdrGroup kBaseGroups[] = {
    {0, 40, 4}, {40, 16, 2}, {56, 8, 1}, {64, 8, 2}, {72, 20, 4}, {92, 8, 2}, {100, 28, 4},
};

inline constexpr HdrGroup kExtGroups[] = {
    {0, 128, 4}, {128, 8, 2}, {136, 136, 4}, {272, 8, 1},
    {280, 8, 4}, {288, 32, 8}, {320, 8, 4},  {328, 56, 1},
};

// Bytes of the header on disk for its flags: 128 for the base part alone,
// 256 with a 128-byte extended part, 512 with a 384-byte one.
inline uint32_t header_disk_size(const FILEHDR &b) {
    if (!(b.hdrflags & kHdrHasExt)) return 128;
    return (b.hdrflags2 & kHdr2Ext384) ? 512 : 256;
}

// Writes the first `len` bytes (128, 256 or 512) of the disk image of `h`
// into [dst, dst_end). Returns the bytes written, or 0 when `len` is not one
// of those sizes or does not fit.
size_t encode_header(const FILEHDRALL &h, size_t len, unsigned char *dst, const unsigned char *dst_end);

// Reads a base part from [src, end) into `out`. 0, or 13 (damaged header)
// when fewer than 128 bytes are given; `out` is unchanged then.
int decode_base(const unsigned char *src, const unsigned char *end, FILEHDR *out);

// Reads an extended part of `len` bytes (128 or 384) from [src, end) into
// `out`; the fields beyond `len` are left as they are. 0, or 13 when the
// buffer is shorter than `len` or `len` is not 128 or 384.
int decode_ext(const unsigned char *src, const unsigned char *end, size_t len, FILEHDRX *out);

}  // namespace zv

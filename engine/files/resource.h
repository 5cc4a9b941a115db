// Resources: typed, numbered, named blocks kept in a data or index file,
// linked into one ring ordered by (type, number) (see resource.cpp).
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

struct FCB;

// Resource header, host order. On disk (little-endian) it is 22 bytes in a
// file with 4-byte offsets and 30 bytes with 8-byte offsets:
//   OFFSET SIZE FIELD
//     0    2   mark        0xFEFE
//     2    4   arealen     whole space of the resource, header included
//     6    4   usedlen     bytes of body (type header, name, data)
//    10    4   member      superfile member number of the owner (0 otherwise)
//    14    4   forward     next header of the ring (8-byte form: low word at
//    18    4   backward    14, high at 18; backward low at 22, high at 26)
// The body follows the header: type (u32), number (u32), the name as a
// NUL-terminated string, then the data.
struct RESHDR {
    uint16_t mark;
    uint32_t arealen;
    uint32_t usedlen;
    uint32_t member;
    uint64_t fwd;
    uint64_t bwd;
    uint32_t type;     // type header of the body, host order
    uint32_t number;
};

constexpr uint16_t kResMark = 0xFEFE;
// Segment-definition resources (type 0, numbers 7 and 8) always reserve
// this much body so that updates fit in place.
constexpr int32_t kSegDefReserve = 8170;
constexpr int32_t kSegDefReserve8 = 8162;

namespace zv {

// Whether (type, number) is a system resource, whose body holds engine
// structures: types 1 to 4999, and type 0 with a number other than 0.
bool isfcr(uint32_t type, uint32_t number);

// Reads the resource header at pos with its type header: 0, 407 when the
// mark is not 0xFEFE, or the I/O error.
int getrhdr(FCB *fcb, uint64_t pos, RESHDR *h);
// Writes a resource header at pos: 0 or the I/O error.
int putrhdr(FCB *fcb, uint64_t pos, const RESHDR *h);

// Space for a resource body of `bodylen` bytes at the end of the file.
// With `enable` it checks that resources may be enabled (400, 402) instead
// of that they are (401). Position of the space (0 on failure, the error in
// uerr_cod); the area length through `arealen`.
uint64_t zvresspc(int filno, FCB **out, int32_t bodylen, uint32_t *arealen, int enable);

// Adds a resource: position of the new entry, 0 on failure. With `allow`
// an existing (type, number) is no error (the new entry goes before it).
uint64_t iaddres(int filno, void *body, int32_t len, int allow, RESHDR *out);

// Test support: checks the ring of a file from its first entry: the number
// of entries (the first included), or minus the error code (407 damaged).
int64_t resource_ring_count(int filno);

}  // namespace zv

// Identity fields and data-access resources (see identity.cpp).
#pragma once

#include <cstdint>

#include "engine/files/identity_services.h"
#include "zarvo/zarvo.h"

struct FCB;

// The in-memory identity block of an open data file: the kind-1 body of
// its data-access resource in host order, with the 256 bytes it was read
// from (bytes no field names are written back as they came).
struct IDBLK {
    uint32_t type;      // 11
    uint32_t number;    // resource number
    uint32_t kind;      // 1
    uint16_t version;   // 1
    uint16_t state;     // kDar* state flags
    uint32_t posh, posl;  // position of the resource
    int64_t start, next, incr;
    int32_t fldno;      // field number in the record schema
    int32_t fldoff;     // offset in the record; -1 unknown, -2 beyond the fixed part
    int32_t width;      // field width in bytes (at most 8); -1 unknown
    int32_t savedoff, savedwidth;
    int32_t known;      // 1 when the offset is fixed and known
    uint32_t flags;     // kId* attribute flags
    int32_t wclass;     // width class of the range checks (0..8)
    unsigned char raw[256];
};

namespace zv {

// Size of a data-access resource body.
constexpr int32_t kDarBody = 256;
// Data-access kinds: 0 the anchor, 1 an identity field.
constexpr uint32_t kDarAnchor = 0, kDarIdentity = 1;
// State flags (body +22).
constexpr uint16_t kDarSingle = 0x0002;      // one of its kind per file
constexpr uint16_t kDarDefined = 0x0004;
constexpr uint16_t kDarChangedMem = 0x0020;  // changed in memory, not yet written
constexpr uint16_t kDarChanged = 0x0040;
constexpr uint16_t kDarDeleted = 0x0080;
// Attribute flags (body +144).
constexpr uint32_t kIdUnsigned = 0x01;
constexpr uint32_t kIdOverflow = 0x02;
constexpr uint32_t kIdFromSchema = 0x04;
constexpr uint32_t kIdByCaller = 0x08;
constexpr uint32_t kIdNoRange = 0x10;
constexpr uint32_t kIdByAttr = 0x20;
constexpr uint32_t kIdSigned = 0x40;
// Header bits: flags2 0x8000 data-access resources present, flmode3 0x0800
// an identity field present.
constexpr uint32_t kHdr2DataAccess = 0x8000;
constexpr uint32_t kFlmode3Identity = 0x0800;
// FCB::idmode bits: set by the callers that decide them.
constexpr uint8_t kIdModeSuppress = 0x01;    // new records get no identity value
constexpr uint8_t kIdModePermitChange = 0x02;  // a rewrite keeps the old value instead of failing

// Body layout (little-endian on disk):
//   OFFSET SIZE FIELD
//     0    4   type 11
//     4    4   number
//     8    8   name "QV!DAR" with its NUL
//    16    4   kind: 0 anchor, 1 identity field
//    20    2   version 1 (the anchor: the word 0x00010002 at 20)
//    22    2   state flags
//    24    4   position of the resource, high word
//    28    4   position, low word
//    32    8   start value
//    40    8   next value
//    48    8   increment
//    56    4   field number
//    60    4   field offset (-1 unknown, -2 beyond the fixed part)
//    64   14   "Identity Field" (the anchor: "DAR Anchor")
//   128    4   width
//   132    4   saved offset
//   136    4   saved width
//   140    4   known-offset mark
//   144    4   attribute flags
//   148    4   width class
// Decodes a body; false when it is shorter than 256 bytes.
bool decode_dar(const unsigned char *body, int32_t len, IDBLK *out);
// Encodes the block over its raw bytes into body (256 bytes).
void encode_dar(const IDBLK &b, unsigned char *body);

// Range tables by width class 0..8.
int64_t maxvalsgn(int w);
int64_t minvalsgn(int w);
uint64_t maxvaluns(int w);

// 0 when start and increment fit the width class and signedness of the
// flags, else 1002.
int testIDfield_parameters(uint32_t flags, int wclass, int64_t start, int64_t incr);
// True when the next value of the block (after `value` was assigned) has
// left the field's range or wrapped.
bool testIDfield_overflow(const IDBLK *b, int64_t value);

// Writes the instance's last identity value into the identity field of a
// record image being added: 0, or 445 when the field does not lie whole
// inside the image (nothing written then), or the schema lookup's error.
int setIDfield(FCB *fcb, void *rec, int32_t reclen);
// Keeps the identity field of a record just read, for the rewrite guard.
void identity_keep(FCB *fcb, const void *rec, int32_t reclen);
// The rewrite guard: 0 passes (the old value put back when the file permits
// changes), 1 refuses with the ISAM error 921 (changed) or 922 (no value
// kept from the read).
int chgIDfield(FCB *fcb, void *rec, int32_t reclen);

// Maps a kind-1 body into the block: 0, 911 other kind, 918 deleted, 10
// no memory.
int zvmapDARtoFCB(FCB *fcb, const unsigned char *body);
// Deletes the file's identity resource: 0 or the error.
int DELDAR(FCB *fcb, const void *body, int filno);
// Frees the block of a control block without writing it.
void identity_drop(FCB *fcb);

}  // namespace zv

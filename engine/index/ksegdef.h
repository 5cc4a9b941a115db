// Extended key segment definitions (KSEGDEF): the instance's list of
// definitions, their resources in index files, the binding of segments to
// them and their transforms (see ksegdef.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/index/segmode.h"
#include "zarvo/zarvo.h"

struct FCB;

namespace zv {

// A definition (KSEGDEF, zarvo.h) is held in host order. It is stored as a
// resource of the host index file: type 1001, number ((segment + 1) << 16)
// | member, name "QV!KSEG", then the 64 bytes of the definition, each word
// little-endian:
//   OFFSET SIZE FIELD
//     0    4   size        64 once stored
//     4    4   check       0 once stored; compared by lookups when non-zero
//     8    4   srcrule     source-length rule of Unicode definitions
//    12    4   kind        1 Unicode collation, 2 numeric and byte transforms
//    16    4   subkind     0..5 for kind 2
//    20    4   signpos     sign position of sub-kind 0
//    24    4   signrow     sign-character row of sub-kind 0 (0..6)
//    28    4   spare       0 once stored
//    32   32   locale      NUL-terminated name (byte 63 always 0)
static_assert(sizeof(KSEGDEF) == 64, "a segment definition is 64 bytes");
static_assert(offsetof(KSEGDEF, kind) == 12 && offsetof(KSEGDEF, locale) == 32, "definition layout");

// Owner marks of a list slot.
constexpr int32_t kKsgFile = -8;   // attached to a file
constexpr int32_t kKsgFree = -7;   // free slot

struct KsegSlot {
    KSEGDEF def;
    int32_t owner;   // kKsgFile, kKsgFree, or the negative search number it was made for
    int32_t refs;    // references from files' segment tables
};

constexpr uint32_t kKsegResType = 1001;
constexpr uint32_t kKsegResFirst = 1000, kKsegResLast = 1063;
constexpr int32_t kKsegResBody = 80;   // type, number, 8-byte name, definition

// Applies the definition at list position pos to srclen source bytes,
// writing seglen bytes to dst: seglen, or a negative error (703 bad
// position, 694 Unicode collation, 704 Unicode without a field type, 446
// kind or sub-kind not supported, 528 length mismatch, 82 no memory).
int32_t xfmksegdef(int32_t pos, const unsigned char *src, int32_t srclen, int ftype, unsigned char *dst,
                   int32_t seglen);
// Binds every Unicode or extended segment of index keyno to a list
// position (binding -2 when none applies). Returns 0.
int zvksgmap(int keyno);
// Produces segment segno of index keyno from its source bytes through the
// segment's definition: src is the field's start (a length-prefixed field:
// its prefix), last the record's last byte, fld the field's schema entry
// (null outside schema segments). 0 or an error: 22 bad index number, 694
// Unicode collation, 707 no definition, 445 no source bytes, 706 nothing
// produced, or the definition's error.
int zvunic(int keyno, int segno, const SchemaField *fld, const unsigned char *src,
           const unsigned char *last, int32_t seglen, unsigned char *dst);
// Drops the definitions a block refers to (its segment table and its
// whole-index default); called when the block is released.
void ksg_release(FCB *fcb);
// Empties a definition list: both numbers 0, the array freed.
void clsksglst(int32_t *count, int32_t *capacity, void **array);
// No collator exists in this build.
int zvOpenUCollator(void);
void zvCloseUCollator(void);

}  // namespace zv

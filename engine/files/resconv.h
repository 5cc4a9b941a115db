// Byte-order conversion of system resources and of records with a schema
// (see resconv.cpp).
#pragma once

#include <cstdint>

#include "zarvo/zvtypes.h"

struct FCB;
struct RESHDR;

namespace zv {

// Field type codes: the public ones (zarvo/zvtypes.h), and the two
// wide-character string types the record walk knows.
enum ZvFieldType : int {
    ZV_WSTRING0 = 185,  // NUL-terminated string of 2-byte units
    ZV_W2STRING = 201,  // 16-bit byte count, then 2-byte units
};

// A conversion map in the layout of a record schema map: a 16-byte head
// followed by 6-byte entries, each standing for 1 + repeat fields of its
// type and length.
struct ZvMapHead {
    uint8_t kind;       // 0 in the engine's maps
    uint8_t align;      // alignment setting (1: no padding)
    uint8_t delim;      // field delimiter byte
    uint8_t pad;        // pad byte
    uint32_t spare;
    int32_t nfields;    // number of fields
    int32_t nentries;   // number of entries
};
struct ZvMapEntry {
    uint16_t len;
    uint16_t type;
    uint8_t repeat;
    uint8_t unused;
};
static_assert(sizeof(ZvMapHead) == 16, "map head is 16 bytes");
static_assert(sizeof(ZvMapEntry) == 6, "map entry is 6 bytes");

// The engine's maps of its own structures (alignment 1, delimiter 0).
extern const ZvMapHead zvfdfcmap, zvsctcmap, zvsgmcmap, zvcihcmap, zvcibcmap, zvseqcmap, zvfilcmap,
    zvidxcmap, zvsegcmap, zvmapcmap, zvblkcmap, zvblkcmap2;
extern const ZvMapEntry *const zvfdfcfld, *const zvsctcfld, *const zvsgmcfld, *const zvcihcfld,
    *const zvcibcfld, *const zvseqcfld, *const zvfilcfld, *const zvidxcfld, *const zvsegcfld,
    *const zvmapcfld, *const zvblkcfld, *const zvblkcfld2;

// Directions of a conversion.
constexpr int kToHost = 1;    // stored (little-endian) to host order
constexpr int kToStored = 2;  // host to stored order

// Whether stored structures must be converted on this host: true on a
// big-endian host, or while a test forces the conversion on.
bool byte_swap_active();
// Test support: forces the conversion on (or back to the host's rule).
void force_byte_swap(bool on);


// Converts a system resource body (the `len` bytes at hand) in place by its
// type and number, taken from the resource header. Returns uerr_cod: 439
// for a definition resource that cannot be converted.
int convertfcr(FCB *fcb, const RESHDR *rh, void *body, int32_t len, int dir);
// File-definition block of `len` bytes (convert_fil2: the newer form, with
// its extended part when `extended`). Return uerr_cod.
int convert_fil(void *block, int32_t len, int dir);
int convert_fil2(void *block, int32_t len, int dir, bool extended);
// Record-schema block of `len` bytes; form 1: 4-byte entries, 2: 6-byte.
int convert_map(void *block, int32_t len, int dir, int form);

// Type and number (the first 8 bytes of a body) between stored and host
// order, when the host needs it.
void rev_thdr(void *body, int32_t len);

// Converts a record image of a file with a conversion map (FCB::cnvmap: a
// map head with its entries right after it; a file has one only when its
// records need converting), direction as above, unless the instance's
// profile (bit 0x20) asks for none. 1 when something was converted.
int convert_record(const FCB *fcb, void *image, int32_t len, int dir);

// ---- Test support (not exported) -----------------------------------------
// A converter that takes the place of the map walk of zvconvert18 while it
// is set (same result); null restores the walk.
using TestConverter = int (*)(void *buf, int32_t len, int direction);
void set_test_converter(TestConverter fn);

}  // namespace zv

extern "C" {
// Converts `len` bytes of a buffer in place, field by field along a map in
// the schema-map layout: `head` is the 16-byte head (byte 1 the alignment
// setting, the field count at 8 and the entry count at 12, host order) and
// `entries` its 6-byte entries (length u16, type u16, repeat count u8).
// direction 1 converts stored to host order, 2 host to stored. `limit` is
// the fixed part of a record (-1: none); no padding is added beyond it. A
// field, prefix or count that runs past `len` ends the walk. 1 when any
// field or length prefix was converted, else 0.
int zvconvert18(void *buf, const unsigned char *head, const unsigned char *entries, int32_t len, int delim,
                int direction, int32_t limit);
}

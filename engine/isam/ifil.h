// File-set definitions (see ifil.cpp): the stored image of an IFIL, the
// rebuilt IFIL, file names of a set, record-schema blocks and the field
// layout rules they share.
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

struct FCB;

namespace zv {

// ---- Stored image -----------------------------------------------------------
// Packs an IFIL (nidx 0), or nidx IIDX records given through `ifil` as an
// array (nidx > 0), into the stored image. The image goes to `buffer` when
// given (it must hold the length, see cptifil_len), else to a new mballc
// allocation. Extended create blocks are appended when `xcre` is given.
// The image, or null with 198 (null IFIL, name, index or segment array) or
// 197 (no memory) in uerr_cod.
void *cptifil8(const IFIL *ifil, void *buffer, int32_t *len, const char *dext, const char *iext,
               const XCREblk *xcre, int nidx);
void *cptifil(const IFIL *ifil, void *buffer, int32_t *len, const char *dext, const char *iext);
// Length of that image; -1 when the IFIL cannot be packed.
int32_t cptifil_len(const IFIL *ifil, const XCREblk *xcre, int nidx);
// Rebuilds an IFIL from a stored image of `len` bytes into one zvgetmem
// allocation (the IFIL, its IIDX records, segments, tables and names). The
// two extensions go to dext and iext (9 bytes each, may be null); the
// create blocks, when the image has them and xcre is given, to a zvgetmem
// copy. `form` is the data file's header-flags-2 word: without bit 0x1 the
// image is of a form this engine does not read (515). Null with 198
// (truncated or inconsistent image) or 197 (no memory) in uerr_cod.
IFIL *makifil8(const void *image, char *dext, char *iext, uint32_t form, int32_t len, XCREblk **xcre);
IFIL *makifil(const void *image, char *dext, char *iext, uint32_t form, int32_t len);
// Bytes needed to hold an IFIL with everything it points to, laid out by
// ifil_flatten; -1 when it is not well formed.
int32_t ifil_flat_size(const IFIL *ifil);
// Copies an IFIL with everything it points to into buf (ifil_flat_size
// bytes, aligned for pointers); every pointer of the copy points into buf.
IFIL *ifil_flatten(const IFIL *src, void *buf, int32_t len);
// Number of physical files of a set: the data file and its index files.
int nismfil(const IFIL *ifil);

// ---- Names --------------------------------------------------------------------
// Length of the directory part of path (through its last '/', ':' or
// '\\'), copied to out when given.
int zvsnp(char *out, const char *path);
// Data (kind 0) or index (kind 1) file name of a set: pfilnam + extension
// into out (256 bytes); the extension used into ext (9 bytes) when given.
// 0; 139 when the name and its extension do not fit (out left empty: a
// name is never cut).
int zviflnam(const IFILPARM *p, char *out, int kind, char *ext);
// Alternate index file name into out (size bytes): "*x" and "+x" the data
// file's directory + x, "?x" the data file name + x, others as they are.
// 0, 540 (no data file name for a prefix), 139 (bad rest), 153 too long.
int buildAidxnam(char *out, const char *aidxnam, int size, const char *datname);
// Rewrites the names of an IFIL for a data file now named newname: a new
// zvgetmem block holding newname and the rewritten alternate names, to
// which ifil's pfilnam and aidxnam pointers are set. Mode 1: alternate
// names in the data file's directory become "*" + their bare name. With
// `nopaths` (the file was stored without paths) names beginning with '*'
// go to the new directory; otherwise names in the old directory follow the
// data file to a new one. Null when memory runs out.
char *chkifilnp(IFIL *ifil, const char *newname, int mode, bool nopaths);
// Cuts a trailing extension off name in place (not when ext is empty,
// begins with a blank, or does not match).
void trimExtension(char *name, const char *ext);

// ---- Stored definition ------------------------------------------------------
// Stores an IFIL as the data file's definition block (paths removed as the
// configuration asks). 0 or the error, also as the ISAM error.
int zvrstdefx(int datno, IFIL *ifil, const char *dext, const char *iext, int mode, int type);
// Reads the stored IFIL of an open data file, rewritten for its name
// `datname`: pfilnam is that name without the stored data extension. The
// IFIL (free with zvputmem, and *names likewise) or null with the error.
IFIL *cnvifilnpx(char **names, const char *datname, char *dext, char *iext, int datno, int type);
IFIL *cnvifilnp(char **names, const char *datname, char *dext, char *iext, int datno);

// ---- Parameter block ----------------------------------------------------------
void setifil8(IFILPARM *p, IFIL *ifil, const char *dext, const char *iext, int32_t permmask,
              const char *group, const char *password, XCREblk *xcre);
void setifil(IFILPARM *p, IFIL *ifil, const char *dext, const char *iext, int32_t permmask,
             const char *group, const char *password);

// ---- Record schema ------------------------------------------------------------
// Length of a field of a record schema: the given
// length when not 0, else the type's own length, 0 for types without one,
// -432 for variable-length types that need one.
int dodaflen(int type, int len);
// Pad bytes before a field of `type` at `offset` from the start of the
// record image under the alignment setting `align` (exported by zarvo.h,
// defined with the expression language's record fields).
using ::zvadjadr;
// Whether a field type is of variable length (in the variable part of a
// record, its successors have no fixed offset).
bool vartype(int type);

}  // namespace zv

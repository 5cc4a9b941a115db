// Variable-length record space: areas with a small header, found through
// the file's space index or made by growing the file (see varrec.cpp).
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

// Area header (VRECHDR of zarvo.h), host order. On disk (little-endian):
//   OFFSET SIZE FIELD
//     0    2   mark        0xFAFA in use, 0xFDFD free, 0xFCFC free in a
//                          superfile member, 0xFBBF space-index node,
//                          0xFEFE resource
//     2    4   arealen     whole area, header included
//     6    4   reclen      record bytes in the area (0 free or unwritten)
//    10    4   member      owning superfile member (members only)
//    14    4   prevl       previous area of the member, low word
//    18    4   prevh       high word (members with 8-byte offsets only)
// The header is 10 bytes in a plain file, 18 in a superfile member with
// 4-byte offsets and 22 in one with 8-byte offsets.

constexpr uint16_t kVrecUsed = 0xFAFA;
constexpr uint16_t kVrecFree = 0xFDFD;
constexpr uint16_t kVrecMemberFree = 0xFCFC;
constexpr uint16_t kVrecNode = 0xFBBF;
constexpr uint16_t kVrecResource = 0xFEFE;

// Allocates an area for a record of `len` bytes. filno -1 marks an internal
// call. mode 2: do not search the space index; 1: chain a new member area.
// delta: active-count delta flag; sermode: serial mode. Position low word
// (high word through zvGETHGH), 0 on failure.
uint32_t inewvrec(FCB *fcb, int filno, int32_t len, uint32_t boundary, int mode, int delta, int sermode);
// Frees the area at (high word from zvGETHGH, posl). filno -1 marks an
// internal call. 0 or the error code.
int iretvrec(int spcfilno, int filno, uint32_t posl, int unused, int merge);
// Reads a record: mode 1 refuses a short buffer (153), other modes read a
// truncated record. The record length through `outlen` when given.
int iRDVREC(int filno, uint32_t posl, void *buf, int32_t buflen, int mode, int32_t *outlen);
// Bytes to read for a record at (hw, lw), 0 on error (uerr_cod).
int32_t prprdv81(int filno, uint32_t hw, uint32_t lw, void *buf, int32_t buflen, int mode, int32_t *outlen);
int putvhdr81(FCB *fcb, uint32_t hw, uint32_t lw, const VRECHDR *h);
// 0 for one of the five marks, else 123.
int chkvhdr(const VRECHDR *h);
// Header bytes of an area of the file: 10, 18 or 22.
uint32_t vhdr_size(const FCB *fcb);

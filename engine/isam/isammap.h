// The ISAM layer's side of the key map (see isammap.cpp): reserving its
// entries for file sets, filling them from parameter files and IFIL
// definitions, serial-number segments, and the associations of index files.
// The key map itself is the index engine's (engine/index/keymap.h).
#pragma once

#include <cstdint>
#include <cstdio>

#include "engine/index/keymap.h"
#include "zarvo/zarvo.h"

struct FCB;

namespace zv {

// ---- Tables ---------------------------------------------------------------
// Reserves the entries first .. first + k for a file set: 0, 22 (out of
// range) or 46 (one is in use; the marks of this call are taken back).
int tstinm(int first, int k);
// Copy of a string in pooled memory; null for null or no memory.
char *zvrtnam(const char *s);
// Longest item of a parameter stream (a name or a number).
constexpr int kParamItem = 255;
// Reads the next blank-delimited item of a parameter stream into buf
// (kParamItem + 1 bytes): 1 an item, 0 none left, -1 an item longer than
// kParamItem (never read as two).
int param_item(FILE *stream, char *buf);
// Reads the next item as a decimal 16-bit number: false when none is
// left, the item is no number or lies outside -32768..32767.
bool param_number(FILE *stream, int *out);
// Fills one index's entry and segment list from a parameter stream (nseg
// lines of "offset length mode"). 0 or the error through ierr.
int setmap(int datno, int openflags, int relidx, int idxno, int keylen, int nseg, int dup,
           int padchar, int nulkey, FILE *stream);
// Reads the index name token (180 none, 181 no memory) / the two data-file
// name tokens (183 missing, 195 no memory) of a parameter stream.
int setukey(FILE *stream, int idxno, int keytyp);
int setudat(FILE *stream, int datno);
// Locates the serial-number segment segno of index idxno (or `seg` when
// given) and records it in the data file's block: 0 or 116, 433, 454, 528,
// 554. The pair (offset from 1, length) is also handed out.
int zvsrlseg(FCB *dat, int32_t *off, int32_t *len, int idxno, int segno, const ISEG *seg);
// Whether a schema field (with a segment of `len` bytes on it) reaches
// beyond the fixed part of the record: 1, 0, or -199 (no schema), -433
// (no such field), minus the open error.
int chkvfin(int datno, int field, int32_t len);
// Key assembly helpers: copy a field into a segment and pad it.
int padrec2(unsigned char *dst, int32_t room, const unsigned char *src, int32_t seglen, int32_t fldlen,
            int pad, const unsigned char *srcend);
int padrec(unsigned char *dst, const unsigned char *src, int32_t seglen, const unsigned char *srcend,
           int pad, int delim);

// ---- File sets ------------------------------------------------------------
// Enters index `pos` of an IFIL: base -1 index file number tfilno + pos + 1;
// -2 the same without name copy and associations; base >= 0 number base +
// pos with dfilno as the data file. The slot is pos + offset. With stats
// the distinct-key levels are computed and written. 0 or the error
// (reported with the index file number).
int setimap(int pos, IFIL *ifil, int base, int offset, int stats);
// An index file serves one data file only: 0, or 957 (logged).
int chkrvnum(int datno, int idxno);
// Drops the associations of an index file (and its members) or of a data
// file's indexes.
int clnrvnum(FCB *fcb, int datno);
// Links a data file with its record-position index when the index fits.
int chkrecbyt(int datno, int idxno);
// Number of physical files of an open set, or minus the error (56 a
// superfile member or a file that may not be deleted).
int chkxisam(int datno, int chkseg, int *count);
// Releases the key-map entry of an index (index != 0) or a data file.
void clearifil(int filno, int index, int mode);
// Frees every data file's copied names (ISAM stop).
void rtfisam();

// ---- Start of the tables --------------------------------------------------------
// ISAM start-up: allocates the ISAM tables for fils + 3 file numbers, then
// starts the engine with INTREEX and the same parameters. 0, or the error
// code (also in uerr_cod) with the tables released again: 125 already
// started, 11 a file count outside 0..32767, 83 when the tables cannot be
// allocated, else INTREEX's code.
int zviisam(int32_t bufs, int32_t fils, int32_t sect, int32_t dbufs, int32_t userprof);
// The companion file numbers of a file (the indexes of a data file in use
// by the ISAM layer), which are forced to disk with it: up to 64 entries,
// -1 ends the list, other negative entries are empty. Null when the file
// has none.
const int16_t *isam_companions(int filno);

}  // namespace zv

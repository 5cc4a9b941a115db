// Index rebuild from the records (see idxrebuild.cpp). RBLIDX, RBLMEMX
// and RBLMEM are declared in zarvo.h.
#pragma once

#include <cstdint>
#include <cstdio>

struct FCB;

namespace zv {

// Options of the key pass: bit 1 writes rejected records as binary reject
// records for a purge instead of a text report.
constexpr int kRblPurge = 1;

// The key pass shared by RBLIDX and RBLMEMX: every active record of data
// file datno (opened by datname when given: *opened tells) keyed into
// index idxno through the external sort and the bulk load. Duplicates and
// bad serial numbers are counted and reported into *stream. 0 or an error.
int getdt(int idxno, int datno, const char *datname, int32_t *dups, FILE **stream, int options, int32_t *badser,
          bool *opened);
// Reads the record at pos of the data file into the work buffer and writes
// it as one reject record: 0, or the read's error, or 37.
int tmpdata81(FILE *stream, FCB *dat, uint64_t pos, int datno);
// Writes one reject record from the work buffer: [high word with 8-byte
// offsets] low word, length, the image; native word order. 0 or 37 (logged).
int tmpwrite81(bool wide, uint64_t pos, int32_t len, FILE *stream);

}  // namespace zv

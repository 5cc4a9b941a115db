// File creation: data files, index files with their members, memory files.
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

// Makes the missing directories of a path (the last component is the file
// and is not made), top down with permission 0775; the path gets the
// instance's name conversion unless mode has 0x800. 0, 749 (path over 255
// bytes or deeper than 63 levels), 126 (a directory cannot be made).
int zvCreateDirs(const char *name, int mode);

struct FCB;

namespace zv {

// Sets up and writes the header of a new superfile member on filno, at
// hdrpos inside its host: a data member (keytype -1; len the record length,
// mode 0x04 variable length) or an index member (len the key length, with
// nmem additional members reserved). Member number mno. The member is left
// open. 0 or an error code; on failure the block is free again.
int icremember(FCB *host, int filno, const char *name, uint64_t hdrpos, uint32_t mno, int32_t len, int keytype,
               int dup, int nmem, uint16_t mode);
// Resources of a new data file: 0 or the error (the file stays).
int create_resources(int filno, uint16_t mode);
// Node geometry of an index block (f, in host file host) for a key length,
// key type and duplicate flag: the header fields that follow from them. 0,
// or 45, 582, 52, 115 or 20 as a create would refuse them.
int zvidxcap(FCB *f, FCB *host, int32_t keylen, int keytype, int dup);

}  // namespace zv

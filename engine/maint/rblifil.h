// IFIL rebuild (see rblifil.cpp). RBLIFILz and its wrappers are declared
// in zarvo.h.
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

namespace zv {

// The options of a set rebuild, read from the IFIL's tfilno.
struct RblOptions {
    bool update = false;    // store the given definition afterwards
    bool purge = false;     // delete the rejected records
    bool badpart = false;   // bad partition members only
    bool noscan = false;    // no data-file scan
    bool repair = false;    // scan option: unreadable stretches become free space
};
// Reads the options: 0, or 943 (bits outside the known ones, or 0x080
// together with 0x200).
int rbl_options(int16_t tfilno, RblOptions *out);

// Brings an open index's header into line with its definition when check
// is set: key length, key type and duplicate flag (the node geometry
// follows), pad byte, member count (when not negative) and alternate
// collating sequence. The header is written only when something changed.
// 0 or an error.
int chkidxhdr(int check, const IIDX *x, int filno, int ifilmod, int nmem);
// Checks every serial segment taken from a schema field (mode 257) of the
// IFIL against the description (field number, length) of the data file:
// 0; 608 at the first mismatch (*failfil = datno + 1 + the index
// position). *found is set when a segment matches.
int chkschsrl(const IFIL *ifil, int datno, int32_t field, int32_t length, int *found, int *failfil);

}  // namespace zv

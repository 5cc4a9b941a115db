// Services of other subsystems that file sets call and that this build
// does not have yet, in their least form (fileset_deps_stub.cpp): each name
// is the service's own, so the real routine takes its place.
//   - file delete (DELFIL, suppressDEL): close the file and remove it;
//   - definition blocks (SETDEFBLKX): stored in the file's definition
//     resource as given, read back by zvrdefx;
//   - alternate collating sequences, pad bytes, Unicode segment binding:
//     accept and do nothing;
//   - name redirection (zvredirect, zvundoiflnam): no rules;
//   - the record schema of a data file: none.
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

struct FCB;

// Definition-block descriptor: data, length in use, space to reserve,
// block number, mode (1 data file, 3 index).
struct DEFBLK {
    void *data;
    int32_t len;
    int32_t size;
    uint16_t subno;
    uint16_t mode;
};

extern "C" {
// Deletes an open file: 0 or an error.
int DELFIL(int filno);
// Keeps an open file from the clean-up of a failed create.
int suppressDEL(int filno);
// Stores a definition block (type 0 or 200..299): 0 or an error.
int SETDEFBLKX(int filno, DEFBLK *blk, int type);
// Alternate collating sequence (512 bytes) and pad byte of an index.
int SETALTSEQ(int filno, const void *table);
int SETVARBYTS(int filno, const char *pad);
// Binds the Unicode segments of an index: 0 or an error.
int zvksgmap(int filno);
}

namespace zv {

// Rewrites a name by the redirection rules: 0 unchanged, 1 rewritten into
// out, 77 too long.
int zvredirect(const char *name, char *out, const char *title, const char *errtitle);
// Copy of name without its extension (the instance's default of kind 0
// data / 1 index when ext is empty).
void zvundoiflnam(const char *name, const char *ext, char *out, int kind);
// Whether an open index file's duplicate mode is the one the definition
// gives: nonzero when they agree.
int chkkeydup(const IIDX *x, const FCB *fcb);
// The record-schema map of a data file (16-byte head, 6-byte entries), or
// null when it has none.
const unsigned char *schema_map(const FCB *fcb);

}  // namespace zv

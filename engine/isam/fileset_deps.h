// Services of other subsystems that file sets call and that this build
// does not have yet, in their least form (fileset_deps_stub.cpp): each name
// is the service's own, so the real routine takes its place.
//   - file delete (DELFIL, suppressDEL): close the file and remove it;
//   - name redirection (zvredirect, zvundoiflnam): no rules;
//   - the duplicate-mode check of an index file against its definition.
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

struct FCB;

extern "C" {
// Deletes an open file: 0 or an error.
int DELFIL(int filno);
// Keeps an open file from the clean-up of a failed create.
int suppressDEL(int filno);
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

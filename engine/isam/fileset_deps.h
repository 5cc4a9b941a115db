// Services of other subsystems that file sets call and that this build
// does not have elsewhere (fileset_deps_stub.cpp): the duplicate-mode check
// of an index file against its definition, and the record-schema map of a
// data file as file sets read it.
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

struct FCB;

namespace zv {

// Whether an open index file's duplicate mode is the one the definition
// gives: nonzero when they agree.
int chkkeydup(const IIDX *x, const FCB *fcb);
// The record-schema map of a data file (16-byte head, 6-byte entries), or
// null when it has none.
const unsigned char *schema_map(const FCB *fcb);

}  // namespace zv

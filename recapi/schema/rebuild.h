// Rebuild and compaction of an open table's files in place (rebuild.cpp):
// the definition the engine's rebuild is given, and the write-out of a set
// before it is closed.
#pragma once

#include <cstdint>
#include <string>

#include "recapi/base/handles.h"
#include "recapi/base/super.h"
#include "zarvo/zarvo.h"

namespace zv {

// The file definition a rebuild of the open table t in mode `mode` hands to
// the engine: the definition stored in its data file with the data file
// name path + separator + physical name (host!member for a member of a
// superfile host), no data file number chosen (dfilno -1), and the rebuild
// options in tfilno: 0, -101 with mode bit 1 (purge rejected keys), less 99
// with mode bit 2 (store this definition): -99, -200.
struct RebuildDefinition {
    IFIL *ifil = nullptr;  // the block read from the file; pfilnam points at name
    std::string name;
    RebuildDefinition() = default;
    RebuildDefinition(const RebuildDefinition &) = delete;
    RebuildDefinition &operator=(const RebuildDefinition &) = delete;
    ~RebuildDefinition();
};
// 0, 4012 not open, the read's code (the definition then empty).
ZVDBRET rebuild_definition(tagZVDBTABLE *t, int32_t mode, RebuildDefinition *out);
// Writes the cached bytes of every file of the table's open set to disk: a
// failing write then leaves the set open with its cache, where a close
// would lose it. 0 or the engine's code.
int flush_set(const tagZVDBTABLE *t);
// Closes an open table whose files were written out (flush_set), then the
// superfile host `host` that holds them when one is given. A close whose
// last write fails releases files that the engine takes as not closed
// cleanly, and opens again only after a rebuild: the closed files are
// rebuilt from their definition, after the superfile rebuild of a host
// whose own close failed (which empties every index of the host and leaves
// them marked until their sets are rebuilt: another table of the host then
// opens with 14 and is rebuilt by its own open for rebuild). 0, or the first
// close's code when the repair fails too.
ZVDBRET close_clean(tagZVDBTABLE *t, ZVDBSUPER *host = nullptr);

}  // namespace zv

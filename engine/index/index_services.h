// Services of the index engine that the file layer calls: key buffers, the
// write-back of cached nodes, the definitions an index keeps in its
// resources, and the refresh of stale current key images before an update.
#pragma once

#include <cstdint>

struct FCB;

extern "C" {
// Sets up an open index block for the index engine: its three key buffers
// (work, current, alternate; a search buffer when the index asks for one),
// its node geometry from the header (capacities +52, +54, element limit
// +94, count unit +272) and no current node. 0, 582 negative length, 82 no
// memory, 13 a header geometry that cannot hold a node.
int zvgetkbf(FCB *fcb, int32_t keylen);
// Drops every cached node of the file number.
void zvidxfrsh(int filno);
// Loads the extended key segment definitions stored in a file (a host
// block enters those of its members too): 0 or an error.
int getksegdef(FCB *fcb);
// Reads an index's alternate collating sequence (512 bytes): 0 or an error
// (438 when none is stored).
int igetaltseq(int filno, void *buf, int word);
}

namespace zv {

// Frees the key buffers of a block, and its key range.
void free_key_buffers(FCB *fcb);
// Frees the key sets and the key-image refresh buffer of the instance and
// ends a bulk load (the stop of an engine user).
void release_nav_state();
// Frees what key formation keeps with a block: the schema map, the
// alternate collating sequence and the segment definitions it refers to.
void free_key_definitions(FCB *fcb);
// Takes over what the open read of a block: its alternate collating
// sequence (512 bytes) and, for a data file, its record-schema block.
int zvsetseq(FCB *fcb, const void *table);
int install_schema(FCB *fcb, const void *block, int32_t len);
// Writes back the dirty cached nodes of an index and its members before
// close (`mode` is the close mode): 0 or the first error. A changed node of
// a file whose update flag is clear (and mode without 0x10) is not written:
// 527, the file is marked for rebuild.
int write_file_nodes(FCB *host, int mode);
// Writes every dirty cached node of a file and of its members (every file
// when fcb is null) and keeps them cached: 0 or the first error.
int flush_file_nodes(FCB *fcb);
// Forms current key images again by reading the data file's current ISAM
// record: keyno >= 0 only that index, -1 every index but only when one of
// them is stale, other negative values every index. 0 or the error code,
// also in uerr_cod. The update check of a data file calls it with -1.
int zvkbufrefresh(int datno, int keyno);

}  // namespace zv

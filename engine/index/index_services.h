// Services of the index engine that the file layer calls: key buffers, the
// write-back of cached nodes, the definitions an index keeps in its
// resources, the refresh of stale current key images before an update, and
// the key updates and searches of the index trees the file layer keeps
// itself (the space index, the superfile directory, the record-position
// index). All are plain functions resolved at link time: the key search
// of a variable-length record read lies on a per-record path.
#pragma once

#include <cstdint>

struct FCB;
struct DEFBLK;

// ---- Keys of the file layer's own indexes ------------------------------------
// Adds (key, record position) to the index of file filno. mode: 128 the
// file must be an index (48); 0x20 no update mark; 0x120 no read-only
// check; 64 an equal key takes the new position; 0x400 update only (101
// when absent); 16 required on superfile status 6 (415). Of the rest, mode &
// 3 is the split mode (0 none, 1 ascending, 2 descending, 3 as 0).
// 0 or an error code.
int iaddkey(int filno, const void *key, uint32_t posh, uint32_t posl, int mode);
// Removes (key, record position) from the index of file filno: the work key
// gets the position as its suffix in a duplicate-key index. 48 for a data
// file; otherwise as zvdelkey (keydelete.h).
int idelchk(int filno, const void *key, uint32_t posh, uint32_t posl, int mode);
// Finds a key by mode ('E', 'G', 'H', 'N', 'M'): record position low word
// (high through zvSETHGHi), 0 when none or on failure. The key found is
// copied to keyout when given; the leaf and element found stay in the
// instance's search state.
uint32_t fndkey(FCB *fcb, const unsigned char *target, int mode, unsigned char *keyout);
// The record position of a key equal to target (ieqlkey), or of the first
// key >= target, copied to keyout (igtekey): ser (keysearch.h) with mode 'E'
// or 'G', so that the key found becomes the index's current key.
uint32_t ieqlkey(FCB *fcb, const void *target);
uint32_t igtekey(FCB *fcb, const void *target, void *keyout);

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
// Copies block blk->blkno of the definition resource of `type` into
// blk->data: 0 or an error (see GETDEFBLK). `word` is not used.
int igetdefblkx(int filno, DEFBLK *blk, int word, int type);
}

namespace zv {

// The definition resource of a file (defblock.cpp):
//   OFFSET SIZE FIELD
//     0    4   resource type (0 or 200..299)
//     4    4   resource number: the mode (1 data file, 3 index file)
//     8    8   name "QV!DEF", NUL-terminated
//    16    4   total length in bytes (1048 when new)
//    20    4   time of the last change (engine clock)
//    24  1024  directory, 128 entries: u32 offset of the block, u16
//              reserved size (a multiple of 8), u16 length in use
//  1048    …   the blocks
// A new resource takes at least 2048 bytes less the resource header; the
// bytes after the total length are room for growth.
constexpr int32_t kDefHead = 1048;
constexpr int32_t kDefDir = 24;
constexpr int kDefBlocks = 128;

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

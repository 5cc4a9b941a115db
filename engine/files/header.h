// The file header of an open file: read, write, the update-flag protocol and
// the geometry that follows from the header (where headers and the first
// record or node lie).
#pragma once

#include <cstdint>

#include "engine/core/fcb.h"

// Reads the header at the block's header position into the block. Mode 1
// also binds the blocks of an index's additional members (they must be
// free: 46). 0 or the error code, also left in uerr_cod.
int redhdr(FCB *fcb, int mode);
// Writes the whole header (128, 256 or 512 bytes) after raising the update
// counter and its copy. A memory file is never written. 0 or the error.
int wrthdr(FCB *fcb);
// Writes the first 12 bytes of the base part and, with an extended part,
// the first 12 bytes of that part. 0 or the error.
int filhdr(FCB *fcb);
// wrthdr with the pending index high transaction number in +104/+232 for
// this one write.
int wrthdrhgh(FCB *fcb);
// Marks the file changed before its first change: takes the writer's lock
// (take_writer_lock: 12 while another open holds the file, nothing
// written), sets the update flag to 0xFF (a member's host first) and writes
// the header through to the disk. On failure the flags it set are
// restored, so the next change tries again.
int tstupd(FCB *fcb);
// Configuration version for a new header of the block: 0x81, 0x91 or 0xA1.
uint16_t setverson(const FCB *fcb);
// 0 when a read header's version is the one its flags call for, else 43.
int tstverson(const FILEHDR *base, const FILEHDRX *ext);

namespace zv {

// Spacing of an index's member headers: 512 with an extended header, else 128.
uint32_t member_header_step(const FILEHDR &b);
// First node of an index or variable-length file: room for the headers of
// the host and its members, rounded up to a whole node.
uint64_t first_node_offset(const FCB *fcb);
// First record of a fixed-length data file: the smallest multiple of the
// record length not below the header size.
uint64_t first_record_offset(const FCB *fcb);
// Derived fields of a block from its header copy: kind, record length,
// duplicate handling and record-header sizes.
void set_derived_fields(FCB *fcb);
// Node size in bytes from the header field (1..127: units of 16384).
uint32_t node_size_of(const FCB *fcb);
// Whether another open wrote the file's header since the block last read
// or wrote it: the update counter (+108) on disk, read past any cached
// page, is not the block's own. A change through any other open passes
// its update mark, which writes the whole header and so moves the counter.
// One read of the base part; a header that cannot be read counts as
// written elsewhere.
bool header_written_elsewhere(FCB *fcb);

}  // namespace zv

// The file layer's services over open file control blocks (fcb.cpp): the
// lookup of an open file by name, the update permission, the open-file
// ring, the release of a descriptor and the writer's lock. The blocks and
// the file-number table are the engine core's (engine/core/fcb.h).
#pragma once

#include "engine/core/fcb.h"

// File number of an open host file (not a member) of exactly that name;
// else of one whose file has the same device and inode as the name (a
// stat of the name, at open and create only); else -1.
int chkopnx(const char *name);
// May the file be changed now? 0, 54 read only, 99 marked for rebuild.
int chkredf(int filno, FCB *fcb);
int chkredsrv(FCB *fcb);
// Open-file ring: how 1 moves the file's host to the front (inserting it),
// anything else takes it out. Only blocks with a platform descriptor that
// are not permanent ever enter it.
void inrfil(FCB *fcb, int how);
// Releases the descriptor of a block: 0, or 24 when the close fails and
// quiet is not 1. The descriptor is -1 afterwards in every case.
int zvlclose(FCB *fcb, int mode, int quiet);

namespace zv {

// Notes the device and inode of a block's newly opened descriptor, for
// chkopnx (unknown when the query fails).
void note_file_identity(FCB *fcb);
// The writer's lock, taken before the first change of a file: a shared
// open takes its file exclusively, without waiting, on the descriptor that
// carries the block's I/O (a member's host), and keeps it until the close.
// A block closed virtually is reopened first, so that a file changed by
// another open meanwhile (FCB::outdated) is known before the change.
// 0 when taken or not needed (held already; a memory, system or read-only
// file, whose changes are refused elsewhere); 12 with the lock's errno in
// sysiocod while another open holds the file; 12 with sysiocod 0 for an
// outdated block; a failed reopen's code.
int take_writer_lock(FCB *fcb);
// Whether the descriptor that carries the block's I/O (a member's host)
// holds the file alone: opened or created exclusively, its writer's lock
// taken, or the file held by a call of this instance (a hold); also memory
// and system files, which no other open shares. Not an outdated block. A
// header is written only while this is so: another open holding the file
// shared may be reading it (base part, then extended part), and must not
// meet a write between the two.
bool holds_file_exclusively(FCB *fcb);

}  // namespace zv

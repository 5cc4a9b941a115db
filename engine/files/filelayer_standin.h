// Least stand-ins of file-layer services that the index engine calls, until
// the file layer provides them: the update-flag protocol, the header writes,
// the update permission check and the checks of a file number.
#pragma once

#include <cstdint>

struct FCB;

// Marks the file changed before its first change: update flag 0xFF (a
// member's host first), header written and the file forced to disk. On
// failure the flags it set are restored. 0 or the error code.
int tstupd(FCB *fcb);
// Writes the whole header after raising the update counter and its copy.
int wrthdr(FCB *fcb);
// Writes the first 12 bytes of the base part and of the extended part.
int filhdr(FCB *fcb);
// May the file be changed now? 0, or 54 read only.
int chkredf(int filno, FCB *fcb);
// The block of an open file after clearing the user error; null with 22
// (47 when no table), 26 free, 46 reserved member, 643 unusable.
FCB *tstfnm(int filno);
FCB *tstifnm(int filno);

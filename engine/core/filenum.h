// File numbers, file ids, temporary names, byte order and small file
// services shared by the file and ISAM layers (see filenum.cpp). The
// exported ones (TSTFILNUM, AVLFILNUM, filrngnam, filrng, TMPNAME, SECURITY)
// are declared in zarvo.h.
#pragma once

#include <cstdint>

struct FCB;
struct FILEHDR;
struct INSTGV;

namespace zv {

// Largest number of slots of the file-number table.
constexpr int32_t kMaxFileSlots = 65536;

// Slots of the instance's file-number table: filecount + 1 while a table
// exists, else 0. The table comes from zvgetmem and is released with
// zvputmem.
int32_t fcb_table_size(const INSTGV *g);
// The block in slot filno of the current instance; null when out of range
// or empty.
FCB *fcb_at(int filno);
// Grows the file-number table to n + 128 slots (at most 65536), and the ISAM
// tables with it. 1, or 0 when n is 65536 or more or memory runs out (the
// table stays as it was).
int redofils(int n);
// Scanning down from limit - 1, the first n with n and n - 1 both free;
// returns n - 1, or -1.
int zvrvrng(int limit);

// The descriptor budget (shared with mbopen, mbcratx and mbclosx): unless
// mode has 0x02, zvchknum closes one file virtually when the count of open
// descriptors has reached the limit, and zvinrnum counts one more
// descriptor (fd >= 0). A descriptor opened by mbopen or mbcratx is counted
// there already and must not be counted again.
void zvchknum(uint16_t mode);
void zvinrnum(uint16_t mode, int fd);

// Whether a file name is free: 0 free (checked by creating and deleting it),
// -1 exists, -2 cannot be created (or a member name whose host is not
// open), -3 no descriptor to be had, or a positive error code (55: the
// probe file could not be deleted, twice).
int zvfilexists(const char *name);

// Unique file id: the header's file id, server id and creation time,
// compared only whole. zvsetlog stamps a new header: the next file id and
// this process's server id (both in 1 .. 0x7FFFFFFF, drawn together) and
// the current second.
void zvsetlog(FILEHDR *hdr);
void zvmakid(uint32_t id[3], const FCB *fcb);
int zvfmatch(const FCB *fcb, const uint32_t id[3]);
// The process-wide file-id counter; incremented afterwards when increment
// is nonzero. Each process (a forked child too) starts it at a random
// point of 1 .. 0x7FFFFFFF, wrapping from 0x7FFFFFFF to 1, beside a random
// server id of its own, so that files two processes make get different ids
// whatever their pids and however many files they make.
uint32_t srvfileid(int increment);
// Test support: sets this process's server id and next file id (each taken
// into 1 .. 0x7FFFFFFF); servid 0 forgets them, so that the next draw
// seeds afresh as a new process's first does.
void file_id_source_set(uint32_t servid, uint32_t next);

// Growth step of a new or rebuilt file (fcb may be null).
uint32_t zvsetextsiz(const FCB *fcb, uint32_t requested, uint32_t nodesize);
// Copies the directory part of path (through its last '!', '/', ':' or
// '\\') to out (when given; room for the path); returns its length.
int zvloadpath(const char *path, char *out);
// Unique temporary file name with an extension: in the directory already in
// out (user-profile bit 0x80) or the instance's temporary directory as
// directory + "Z" + seven upper-case hex digits + extension; without either,
// a name made by the system in the current directory. 0, 153 does not fit,
// 155 the system could not make one, 17 or 766 after repeated failures.
int iTMPNAMEext(char *out, int length, const char *ext);
int iTMPNAME(char *out, int length);
// Deletes a file by name after the instance's name conversion (skipped when
// flags has 2).
int cnvdltfilx(const char *name, int mode, int flags);
int cnvdltfil(const char *name);
// Sets the two record-header sizes of an open file from its kind; returns
// the first.
uint32_t zvhdradj(FCB *fcb);

// Sign-extends an unaligned integer of 1, 2, 4 or 8 bytes; other widths
// leave the target unchanged.
void assignUnalignedToInt8(int64_t *target, const void *src, int width);
// Byte order: reverse n bytes; swap the bytes of n 16-bit words; swap the
// 16-bit halves of n 32-bit words; reverse each of n 32-bit words.
void revobj(void *p, int n);
void revbyt(void *p, int n);
void revwrd(void *p, int n);
void revlng(void *p, int n);

}  // namespace zv

// File locks, file-name conversion, delete and rename, full names, missing
// directories, free space, file identity and the temporary directory (see
// fileops.cpp). The exported ones are declared in zarvo.h.
#pragma once

#include <cstdint>
#include <cstdio>

#include "zarvo/zarvo.h"

struct FCB;
struct INSTGV;

namespace zv {

// Byte-range lock of [(hi << 32) | lo, + len) (len 0: to the end and beyond).
// mode: 1 wait, 4 unlock, 2 try, 16 test; with 8 the lock is shared, else
// exclusive; with 32 it is a lock of the descriptor's open file description
// rather than of the process (see plat_lock). 0, or the errno of a refusal
// (sysiocod set); a test returns the process id of a conflicting holder
// (sysiocod 0). Another mode is the fatal internal error 1105.
int zvfpglok81(int fd, FCB *fcb, uint32_t hi, uint32_t lo, uint32_t len, int mode);

// Puts prefix before a relative name (in place; room for 256 bytes).
// 0 unchanged, -1 converted, 139 too long.
int izvcnvfn(char *name, const char *prefix);
// izvcnvfn with the instance's prefix under conversion modes 2 and 3.
int zvcnvfn(char *name);

// Deletes a file: converted (mode 3) when a is 0 and b lacks 2. 0, 55 with
// sysiocod, 139 name too long, 540 no name.
int dltfilx(const char *name, int a, int b);
// Renames a file without replacing an existing target (67) unless the
// instance's operation mode has 0x4000000. 0, 67 with sysiocod, 139, 540.
int renfilx(const char *oldname, const char *newname, int a, int b);
// Renames a file to newname, replacing a file of that name in the same
// step (rename(2)): the target name never goes missing, it names the old
// file until it names the new one. 0, 67 with sysiocod, 139, 540.
int replfil(const char *oldname, const char *newname);
// Gives a file a second name (link(2)); an existing file of that name
// refuses it. 0, 67 with sysiocod, 139, 540.
int linkfil(const char *name, const char *alias);
// Writes the update flag (header byte 56) of a closed file, which is what
// an open reads to answer 14 (not closed cleanly) when it is not 0. Only
// into an engine file's own header (read_header_facts: a plain file or a
// superfile host), opened without blocking and without following a link in
// the name's last component. 0, 12 the file does not open (a link, not a
// regular file, missing: sysiocod set), 13 not an engine file, 37 the
// write failed (sysiocod set), 139, 540.
int putupdflg(const char *name, uint8_t flag);
// Writes the update flag into the file open as fd, when its header is an
// engine file's own: 0, 13 not one, 37 the write failed (sysiocod set).
int putupdflg_fd(int fd, uint8_t flag);

// What a swap and the note of a swap look at in a file's header on disk.
struct HeaderFacts {
    uint16_t clstyp = 0;    // file type: 0 fixed data, 1 index, 2 variable data
    uint16_t sfiltyp = 0;   // superfile type
    uint16_t hdrflags = 0;
    uint32_t flmode2 = 0;   // extended feature flags (0 without an extended part)
    uint8_t updflg = 0;     // update flag
    uint32_t id[3] = {};    // the file's id: file id number, server id, creation time
};
// Reads the header at the start of the file open as fd into *out: true when
// it is an engine file's (file type and superfile type known, the version
// its flags call for, an extended part with its mark).
bool read_header_facts(int fd, HeaderFacts *out);

// Makes the missing directories of a path (its last component excluded)
// with mode 0755 when create is 1. 0 all there; 1 with *err (2 when a
// directory is missing and create is not 1). The path is not changed.
int zvchkcrepath(const char *path, int create, int *err);
// Opens a stream; with mkdirs, a failing open makes the missing
// directories and tries once more.
FILE *zvFSfopen(const char *path, const char *mode, int mkdirs);
// Free bytes of the file system of path: low word, high word into *hi (may
// be null; then a value of 2^32 or more gives 0xFFFFFFFF). 1 on failure.
uint32_t zv_diskavl(const char *path, uint32_t *hi);
// zv_uniqfile (same file by device and inode) is exported: zarvo.h.
using ::zv_uniqfile;
// Device and inode of a file: 0 or the errno.
int zv_getuniqfile(const char *name, uint64_t *dev, uint64_t *ino);
// Device and inode of an open descriptor's file: 0 or the errno.
int zv_fgetuniqfile(int fd, uint64_t *dev, uint64_t *ino);

// Frees the instance's temporary directory name (instance removal).
void release_tmpdir(INSTGV *g);

}  // namespace zv

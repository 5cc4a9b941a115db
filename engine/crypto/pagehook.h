// The page cipher of encrypted files: the key an open file keeps, the page
// hook that the platform transfer calls, the unit IV and the unit and
// page-size check of an instance.
#pragma once

#include <cstdint>

#include "zarvo/qvs.h"

namespace zv {

// Bytes of one encryption unit: every enciphered transfer is whole units
// aligned on file offsets, and CBC chaining never crosses a unit.
constexpr uint32_t kCamoUnit = 2048;

// The key buffer of an open file (FCB::cipherkey). For a cipher class of 2
// or more the context holds the schedule of the file key, built once when
// the file is created or opened; a page transfer only reloads the IV of
// each unit. For class 0 the key area holds the file's 4-byte security
// value. The MD5-based cipher carries state from block to block in its
// schedule, so its prepared schedule is kept as well and put back for each
// unit: every unit stays enciphered by itself. Wiped whole before it is
// freed.
struct FileKey {
    QVSCTX ctx;
    QVSMD5CTX mdc;  // prepared schedule of class 6
    int32_t cls;
    int32_t keylen;
    unsigned char key[64];
};

// A key buffer for a class and a key (at most 64 bytes); class 2 or more
// prepares the context (CBC). Null when no memory can be had or the key
// does not suit the class.
FileKey *file_key_new(int32_t cls, const unsigned char *key, int32_t keylen);
// Wipes and frees a key buffer; null is ignored.
void file_key_free(FileKey *fk);

// The page hook (operation 1 encipher before a write, 2 decipher after a
// read, 3 undo operation 1 after a write). `key` is the file's FileKey.
// Returns the buffer to write (1) or the caller's buffer; null for a class
// below 2.
void *zvcamo81(void *buf, uint32_t hi, uint32_t lo, int32_t len, int op, uint32_t encstart, void *key,
               int32_t keylen, int cls);
// The IV of the unit at a file offset (low word): c = 0xFFFFFFFF, four
// times c = crc32uint(offset, c), each c in host order.
void generateIV(uint32_t offset, uint32_t *out, int count);
// Whether a page size carries whole cipher units: 0; 1 a size above 2048
// that is not a multiple of it; 2 a size below that does not divide it.
// The message goes to msg (size bytes) when it is given.
int chkcamoblk(int32_t pagesize, char *msg, int32_t size);
// The per-instance initialiser: checks the instance's page size; a refused
// size is logged and marks the instance (encrypted creates then give 454,
// opens of encrypted files 606). 0, or 1 for a refused size.
int zvcamoi();
// Installs the page hook and the per-instance initialiser process-wide when
// they are not installed yet.
int zvfnccamo_install();

// The process-wide hook that start-up copies into each instance.
using PageHook = void *(*)(void *, uint32_t, uint32_t, int32_t, int, uint32_t, void *, int32_t, int);
PageHook camo_process_hook();
void camo_set_process_hook(PageHook hook);

// ---- Test support (not exported) -----------------------------------------
// Key schedules built for file keys since the process started.
long file_key_schedules();

}  // namespace zv

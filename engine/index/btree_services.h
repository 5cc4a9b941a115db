// Key operations of the index engine that the variable-length record space
// uses on a data file's space index: search, exact lookup, insert and
// delete of one (key, position) pair.
#pragma once

#include <cstdint>

struct FCB;

// Finds a key by mode ('E' equal, 'G' greater or equal, 'H' greater, 'N'
// less, 'M' less or equal): record position low word (high through
// zvSETHGHi), 0 when none or on failure (uerr_cod tells them apart). The
// key found is copied to keyout when given.
uint32_t fndkey(FCB *fcb, const unsigned char *target, int mode, unsigned char *keyout);
uint32_t ieqlkey(FCB *fcb, const void *target);
uint32_t igtekey(FCB *fcb, const void *target, void *keyout);
// Adds (key, record position) to the index of file filno; mode 0x20 skips
// the header update mark. 0 or an error code.
int iaddkey(int filno, const void *key, uint32_t posh, uint32_t posl, int mode);
// Removes (key, record position); 0, 4 not found, 3 other position, 527.
int idelchk(int filno, const void *key, uint32_t posh, uint32_t posl, int mode);

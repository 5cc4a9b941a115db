// Stand-in of the index engine's key operations, until the B-tree lands:
// an index holds no keys, so searches find nothing, deletes find nothing
// and inserts are refused with 48 (no key buffers). The B-tree replaces
// this file.
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/index/btree_services.h"

uint32_t fndkey(FCB *, const unsigned char *, int, unsigned char *) {
    zvSETHGHi(0);
    zv::set_uerr(0);
    return 0;
}
uint32_t ieqlkey(FCB *f, const void *t) { return fndkey(f, static_cast<const unsigned char *>(t), 'E', nullptr); }
uint32_t igtekey(FCB *f, const void *t, void *) {
    return fndkey(f, static_cast<const unsigned char *>(t), 'G', nullptr);
}
int iaddkey(int, const void *, uint32_t, uint32_t, int) { return zv::set_uerr(48); }
int idelchk(int, const void *, uint32_t, uint32_t, int) { return zv::set_uerr(4); }

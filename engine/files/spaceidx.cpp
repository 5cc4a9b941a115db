// The space index of a variable-length data file.
//
// The data file acts as its own index: its header holds the root and the
// key count (the active-count field counts the free areas, not records),
// and the index engine keeps its nodes in areas of the file. Each key is
// (member number, area length, area position), every word most significant
// byte first, so that keys order by member, then by length (best fit: the
// first key not below the wanted length), then by position. The position is
// the key's duplicate suffix. A superfile member keeps its free areas in
// its host's space index under its own member number.
#include "engine/files/spaceidx.h"

#include "engine/core/arith.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/index/index_services.h"

namespace {

void put_be32(unsigned char *p, uint32_t v) {
    p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}
uint32_t get_be32(const unsigned char *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
bool member(const FCB *f) { return f->hdr.base.sfiltyp == kSfMember; }

}  // namespace

int frmlkey8(const FCB *f, unsigned char *key, uint32_t len, uint32_t posh, uint32_t posl) {
    put_be32(key, member(f) ? f->hdr.base.supmbr : 0);
    put_be32(key + 4, len);
    if (f->hdr.base.hdrflags & kHdr8ByteOffsets) {
        put_be32(key + 8, posh);
        put_be32(key + 12, posl);
        return 16;
    }
    put_be32(key + 8, posl);
    return 12;
}

namespace zv {

FCB *space_index_of(FCB *f) { return member(f) && f->hostfcb ? f->hostfcb : f; }

uint64_t space_keys(const FCB *sp) { return join64(sp->hdr.ext.numenth, sp->hdr.base.nument); }

uint32_t space_key_member(const unsigned char *key) { return get_be32(key); }
uint32_t space_key_length(const unsigned char *key) { return get_be32(key + 4); }

uint64_t space_find(FCB *sp, const FCB *owner, uint32_t len, unsigned char *keyout) {
    unsigned char target[kSpaceKeyMax];
    frmlkey8(owner, target, len, 0, 0);
    uint32_t lo = igtekey(sp, target, keyout);
    uint32_t hi = uint32_t(zvGETHGHi());
    return join64(hi, lo);
}

int space_has(FCB *sp, const FCB *owner, uint32_t len, uint64_t pos) {
    if (space_keys(sp) == 0) return 0;
    unsigned char key[kSpaceKeyMax];
    frmlkey8(owner, key, len, uint32_t(pos >> 32), uint32_t(pos));
    uint32_t lo = ieqlkey(sp, key);
    uint32_t hi = uint32_t(zvGETHGHi());
    if (lo || hi) return join64(hi, lo) == pos ? 1 : 0;
    int rc = zvWNGV->uerr_cod;
    return rc ? -rc : 0;
}

int space_add(FCB *sp, const FCB *owner, uint32_t len, uint64_t pos, int mode) {
    unsigned char key[kSpaceKeyMax];
    frmlkey8(owner, key, len, uint32_t(pos >> 32), uint32_t(pos));
    return iaddkey(sp->filno, key, uint32_t(pos >> 32), uint32_t(pos), mode);
}

int space_delete(FCB *sp, const FCB *owner, uint32_t len, uint64_t pos, int mode) {
    unsigned char key[kSpaceKeyMax];
    frmlkey8(owner, key, len, uint32_t(pos >> 32), uint32_t(pos));
    return idelchk(sp->filno, key, uint32_t(pos >> 32), uint32_t(pos), mode);
}

}  // namespace zv

// Stand-in of identity fields and data-access resources: files have none.
// The record definition is read from the file's definition resource.
#include "engine/files/identity_services.h"

#include <cstring>

#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/files/resource.h"

namespace zv {

int read_definition_block(int filno, uint32_t type, uint32_t number, int block, void **out, int32_t *len) {
    if (out) *out = nullptr;
    if (len) *len = 0;
    if (block < 0 || block >= 128) return set_uerr(436);
    uint32_t key[2] = {type, number};
    uint32_t info[3] = {};
    uint32_t lo = GETRES(filno, key, info, sizeof info, 2 | 0x40);
    uint32_t hi = uint32_t(zvGETHGHi());
    if (!lo && !hi) return zvWNGV->uerr_cod;
    int32_t used = int32_t(info[2]);
    auto *whole = static_cast<unsigned char *>(zvgetmem(used > 0 ? used : 1));
    if (!whole) return set_uerr(197);
    zvSETHGHi(0);
    int rc = GETRES(filno, key, whole, used, 2) ? 0 : zvWNGV->uerr_cod;
    if (!rc && 24 + 8 * (block + 1) > used) rc = 438;
    uint32_t off = 0;
    uint16_t blen = 0;
    if (!rc) {
        memcpy(&off, whole + 24 + 8 * block, 4);
        memcpy(&blen, whole + 30 + 8 * block, 2);
        if (blen == 0 || int64_t(off) + blen > used) rc = 438;
    }
    void *copy = rc ? nullptr : zvgetmem(blen);
    if (!rc && !copy) rc = 197;
    if (!rc) memcpy(copy, whole + off, blen);
    zvputmem(whole);
    if (rc) return set_uerr(rc);
    if (out) *out = copy;
    else zvputmem(copy);
    if (len) *len = blen;
    return set_uerr(0);
}

}  // namespace zv

extern "C" {
int ADDDAR(int, const void *, int32_t) { return zv::set_uerr(0); }
int zvgetDAR(FCB *, int, int) { return 0; }
int zvmapFCBtoDAR(FCB *, int, int, int) { return 0; }
int zvrdefx(int filno, int type, int block, void **out, int32_t *len) {
    if (out) *out = nullptr;
    if (len) *len = 0;
    if (type != 0 && (type < 200 || type > 299)) return zv::set_uerr(446);
    return zv::read_definition_block(filno, uint32_t(type), 1, block, out, len);
}
}

namespace zv {

// No file has an identity field yet.
int identity_step(FCB *) { return 0; }

}  // namespace zv

// Key dump of an index member for diagnostics (zvdidx).
//
// Record layout of the dump file, one record per key in key order:
//   OFFSET     SIZE   CONTENT
//   0          Kv     the key without its duplicate suffix (Kv = K, or K - P)
//   Kv         4      record position, low word, little-endian
// with 8-byte positions:
//   Kv         4      record position, high word, little-endian
//   Kv + 4     4      record position, low word, little-endian
#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/fileio.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/index/node.h"
#include "zarvo/zarvo.h"

using namespace zv;

namespace {

// Open mode of the dumped index: read only, not in the descriptor budget's
// reopen list.
constexpr uint16_t kDumpOpenMode = 4104;

int dump(int member, const ZVDIDXDESC *d, FCB *out, int32_t *count) {
    INSTGV *g = zvWNGV;
    if (int rc = OPNFIL(d->filno, d->idxname, kDumpOpenMode)) return rc;
    FCB *host = tstfnm(d->filno);
    int rc = 0;
    if (!host || host->kind != kKindIndex) rc = 48;
    else if (member < 0 || member > int(host->hdr.base.nmem)) rc = 23;
    if (rc) {
        CLSFIL(d->filno, 0);
        return rc;
    }
    const int filno = d->filno + member;
    FCB *f = g->fcbtab[filno];
    const int32_t k = f->hdr.base.keylen;
    const bool hug = idx_hug(f);
    const int32_t kv = idx_dup(f) ? k - idx_psize(f) : k;
    unsigned char key[kKeyRoom + 8];
    uint64_t at = 0;
    uint32_t lo = FRSKEY(filno, key);
    uint32_t hi = uint32_t(zvGETHGHi());
    while (lo || hi) {
        unsigned char rec[kKeyRoom + 8];
        memcpy(rec, key, size_t(kv));
        int32_t len = kv;
        if (hug) {
            st32(rec + len, hi);
            len += 4;
        }
        st32(rec + len, lo);
        len += 4;
        uint32_t moved = 0;
        if ((rc = zvsysio81(1, out, 0, uint32_t(at >> 32), uint32_t(at), rec, uint32_t(len), &moved)) != 0) break;
        at += uint64_t(len);
        (*count)++;
        lo = NXTKEY(filno, key);
        hi = uint32_t(zvGETHGHi());
    }
    if (!rc && g->uerr_cod) rc = g->uerr_cod;
    int crc = CLSFIL(d->filno, 0);
    return rc ? rc : crc;
}

}  // namespace

extern "C" ZV_API int32_t zvdidx(int member, const ZVDIDXDESC *desc) {
    INSTGV *g = zvWNGV;
    if (!g) return -1;
    if (!desc || !desc->idxname || !desc->outname) return set_uerr(540), -1;
    FCB out;
    memset(static_cast<void *>(&out), 0, sizeof out);
    out.fd = -1;
    out.opnmode = kOpnPermanent;
    int fd = mbcratx(&out, desc->outname);
    if (fd < 0) return set_uerr(g->uerr_cod == 19 ? 19 : 17), -1;
    out.fd = fd;
    int32_t count = 0;
    int rc = dump(member, desc, &out, &count);
    mbclosx(&out, fd);
    if (rc) return set_uerr(rc), -1;
    set_uerr(0);
    return count;
}

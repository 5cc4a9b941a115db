// Least forms of the services named in fileset_deps.h.
#include "engine/isam/fileset_deps.h"

#include <cstring>

#include "engine/core/instance.h"
#include "engine/files/close.h"
#include "engine/files/fcb.h"

extern "C" {

// Plain files only: close, then remove the file unless it lives in memory.
int DELFIL(int filno) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->sysiocod = 0;
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    if ((f->hdr.base.flmode & 0x09) || f->hdr.base.sfiltyp == kSfDirectory) return zv::set_uerr(56);
    char name[sizeof f->name];
    memcpy(name, f->name, sizeof name);
    bool memory = fcb_is_memory(f);
    int rc = iclsfilx(filno, 0);
    if (!memory && dltfil(name) != 0 && rc == 0) rc = 55;
    return zv::set_uerr(rc);
}

int suppressDEL(int filno) {
    FCB *f = tstfnm(filno);
    if (!f) return zvWNGV ? zvWNGV->uerr_cod : 47;
    f->stflags |= kStKeepOnCleanup;
    f->hdr.base.hdrflags &= uint16_t(~0x0800);
    return 0;
}

// Definition blocks of a file live in one resource per (type, mode),
// named "QV!DEF": type, number, name (8 bytes), total length, time of the
// last change, a directory of 128 entries (offset u32, reserved u16, used
// u16), then the blocks. A block that outgrows its room moves to the end.
int SETDEFBLKX(int filno, DEFBLK *blk, int type) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    zv::set_uerr(0);
    if (!blk) return zv::set_uerr(437);
    if ((f->kind == kKindIndex) != (blk->mode == 3) || (blk->mode != 1 && blk->mode != 3))
        return zv::set_uerr(48);
    if (type != 0 && (type < 200 || type > 299)) return zv::set_uerr(446);
    int subno = blk->subno == 129 ? 0 : blk->subno;
    if (subno > 127) return zv::set_uerr(436);
    if (!blk->data && blk->len > 0) return zv::set_uerr(437);
    int32_t len = blk->len < 0 ? 0 : blk->len;
    int64_t reserve = (int64_t(len > blk->size ? len : blk->size) + 7) / 8 * 8;
    if (reserve >= 65536) return zv::set_uerr(434);
    constexpr int32_t kHead = 1048;
    uint32_t key[3] = {uint32_t(type), blk->mode, 0};
    uint32_t info[3] = {};
    uint32_t lo = GETRES(filno, key, info, sizeof info, 2 | 0x40);
    bool exists = (lo | uint32_t(zvGETHGH())) != 0;
    if (!exists && g->uerr_cod != 408) return g->uerr_cod;
    int32_t used = exists ? int32_t(info[2]) : kHead;
    if (used < kHead) return zv::set_uerr(439);
    auto *whole = static_cast<unsigned char *>(zvgetmem(int32_t(used + reserve)));
    if (!whole) return zv::set_uerr(435);
    if (exists) {
        lo = GETRES(filno, key, whole, used, 2);
        if ((lo | uint32_t(zvGETHGH())) == 0) {
            zvputmem(whole);
            return g->uerr_cod;
        }
    } else {
        memcpy(whole, key, 8);
        memcpy(whole + 8, "QV!DEF", 7);
        uint32_t total = kHead;
        memcpy(whole + 16, &total, 4);
    }
    uint32_t total, off;
    uint16_t room, inuse;
    memcpy(&total, whole + 16, 4);
    unsigned char *dir = whole + 24 + 8 * subno;
    memcpy(&off, dir, 4);
    memcpy(&room, dir + 4, 2);
    if (total < uint32_t(kHead) || total > uint32_t(used)) total = uint32_t(used);
    if (off == 0 || room < len || int64_t(off) + room > total) {
        off = total;
        room = uint16_t(reserve);
        total += uint32_t(reserve);
    }
    if (len > 0) memcpy(whole + off, blk->data, size_t(len));
    inuse = uint16_t(len);
    memcpy(dir, &off, 4);
    memcpy(dir + 4, &room, 2);
    memcpy(dir + 6, &inuse, 2);
    memcpy(whole + 16, &total, 4);
    uint32_t now = uint32_t(zvtime());
    memcpy(whole + 20, &now, 4);
    int rc = exists ? UPDRES(filno, whole, int32_t(total)) : ADDRES(filno, whole, int32_t(total));
    zvputmem(whole);
    return zv::set_uerr(rc);
}

int SETALTSEQ(int filno, const void *) { return tstfnm(filno) ? zv::set_uerr(0) : zv::set_uerr(26); }
int SETVARBYTS(int filno, const char *) { return tstfnm(filno) ? zv::set_uerr(0) : zv::set_uerr(26); }
int zvksgmap(int) { return 0; }

}  // extern "C"

namespace zv {

int zvredirect(const char *, char *, const char *, const char *) { return 0; }

void zvundoiflnam(const char *name, const char *ext, char *out, int kind) {
    INSTGV *g = zvWNGV;
    if (!out) return;
    out[0] = '\0';
    if (!name) return;
    size_t n = strnlen(name, 255);
    memcpy(out, name, n);
    out[n] = '\0';
    if ((!ext || !*ext) && g) ext = g->defext[kind ? 1 : 0];
    if (!ext || !*ext || ext[strspn(ext, " ")] == '\0') return;
    size_t e = strlen(ext);
    if (e <= n && memcmp(out + n - e, ext, e) == 0) out[n - e] = '\0';
}

int chkkeydup(const IIDX *x, const FCB *fcb) { return x && fcb && int(fcb->hdr.base.autodup) == x->ikeydup; }

const unsigned char *schema_map(const FCB *fcb) { return fcb ? fcb->cnvmap : nullptr; }

}  // namespace zv

// Least form of key formation and of the ISAM key map, until key formation
// is part of the engine (see keyform_needs.h). Segments are copied from
// fixed record offsets; integer segments (modes 1, 3 and 8) are byte-reversed
// under profile bit 32, signed ones (8) get their top bit inverted, and bit
// 0x10 inverts a segment (descending). The map lives in the instance block.
#include <cstring>

#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/files/fcb.h"
#include "engine/index/keyform_needs.h"
#include "engine/index/node.h"
#include "engine/index/nodeupdate.h"

using namespace zv;

namespace {

KeyMapEntry *entry_of(int keyno) {
    INSTGV *g = zvWNGV;
    if (!g || keyno < 0 || keyno >= kMapFiles) return nullptr;
    return &g->nav.keymap.ix[keyno];
}

int isam_fail(int code, int filno) {
    ierr(code, filno);
    return set_uerr(code);
}

void transform_segment(unsigned char *p, int32_t len, int32_t mode) {
    int base = mode & 0x10F;
    bool reverse = (zvWNGV->userprof & 32) != 0;
    if (base == 1 || base == 3 || base == 8) {
        if (reverse)
            for (int32_t i = 0; i < len / 2; i++) {
                unsigned char t = p[i];
                p[i] = p[len - 1 - i];
                p[len - 1 - i] = t;
            }
        if (base == 8 && len > 0) p[0] ^= 0x80;
    } else if (base == 2) {
        for (int32_t i = 0; i < len; i++)
            if (p[i] >= 'a' && p[i] <= 'z') p[i] = uint8_t(p[i] - 32);
    }
    if (mode & kSegDescending)
        for (int32_t i = 0; i < len; i++) p[i] = uint8_t(~p[i]);
}

// The open index of a map entry; null with 80 when either is missing.
FCB *mapped_index(int keyno, KeyMapEntry **e) {
    *e = entry_of(keyno);
    if (!*e || !(*e)->datno1) return isam_fail(80, keyno), nullptr;
    FCB *f = tstifnm(keyno);
    if (!f || f->kind != kKindIndex) return isam_fail(80, keyno), nullptr;
    return f;
}

}  // namespace

extern "C" {

int32_t frmkey(int keyno, const void *record, void *key, uint32_t poslow, int32_t reclen) {
    uint32_t poshigh = uint32_t(zvGETHGHi());
    KeyMapEntry *e;
    if (!key || !record) return isam_fail(80, keyno), 0;
    FCB *f = mapped_index(keyno, &e);
    if (!f) return 0;
    const auto *rec = static_cast<const unsigned char *>(record);
    auto *k = static_cast<unsigned char *>(key);
    int32_t at = 0;
    for (int i = 0; i < e->nsegs; i++) {
        int32_t off = e->seg[i][0], len = e->seg[i][1];
        if (off < 0 || len < 0 || off + len > reclen) return isam_fail(445, keyno), 0;
        if (at + len > f->hdr.base.keylen) return isam_fail(153, keyno), 0;
        memcpy(k + at, rec + off, size_t(len));
        transform_segment(k + at, len, e->seg[i][2]);
        at += len;
    }
    if (idx_dup(f)) prpdup81(k, f, poshigh, poslow);
    zvWNGV->isamerr_cod = 0;
    set_uerr(0);
    return f->hdr.base.keylen;
}

void *TFRMKEY(int keyno, void *target) {
    KeyMapEntry *e;
    if (!target) return isam_fail(80, keyno), nullptr;
    FCB *f = mapped_index(keyno, &e);
    if (!f) return nullptr;
    auto *k = static_cast<unsigned char *>(target);
    int32_t at = 0;
    for (int i = 0; i < e->nsegs; i++) {
        int32_t len = e->seg[i][1];
        if (at + len > f->hdr.base.keylen) return isam_fail(153, keyno), nullptr;
        transform_segment(k + at, len, e->seg[i][2]);
        at += len;
    }
    if (idx_dup(f) && f->hdr.base.keylen > at) prpdup81(k, f, 0, 0);
    set_uerr(0);
    return target;
}

int zvfillseg(void *segment, int fill, int32_t length, int mode) {
    auto *p = static_cast<unsigned char *>(segment);
    if ((mode & 0x10F) == 9 && (length == 4 || length == 8)) {
        static const unsigned char hi4[4] = {0xFF, 0x7F, 0xFF, 0xEE}, lo4[4] = {0x00, 0x80, 0x00, 0x11};
        static const unsigned char hi8[8] = {0xFF, 0xEF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        static const unsigned char lo8[8] = {0x00, 0x10, 0, 0, 0, 0, 0, 0};
        const unsigned char *src = length == 4 ? (fill ? hi4 : lo4) : (fill ? hi8 : lo8);
        memcpy(p, src, size_t(length));
        return 0;
    }
    memset(p, fill, size_t(length));
    return 0;
}

int zvlfsegput(int keyno, int seg, int a, int b, int c) {
    KeyMapEntry *e = entry_of(keyno);
    if (!e) return 80;
    if (seg < 0) {
        if (c < 0 || c >= kMapFiles) return 80;
        e->datno1 = c + 1;
        e->flags = a;
        e->empty = b;
        int16_t *list = zvWNGV->nav.keymap.list1[c];
        for (int i = 0; i < 64; i++) {
            if (list[i] == keyno + 1) break;
            if (list[i] == 0) {
                list[i] = int16_t(keyno + 1);
                break;
            }
        }
        return 0;
    }
    if (seg >= 16) return 80;
    e->seg[seg][0] = a;
    e->seg[seg][1] = b;
    e->seg[seg][2] = c;
    if (e->nsegs < seg + 1) e->nsegs = seg + 1;
    return 0;
}

int zvlfsegget(int keyno, int n) {
    KeyMapEntry *e = entry_of(keyno);
    if (e && n >= 1 && n <= 15) e->nsegs = n;
    return 0;
}

}  // extern "C"

namespace zv {

int keymap_datno(int keyno) {
    KeyMapEntry *e = entry_of(keyno);
    return e && e->datno1 ? e->datno1 - 1 : -1;
}

int keymap_segments(int keyno, KeySeg *segs) {
    KeyMapEntry *e = entry_of(keyno);
    if (!e || !e->datno1) return 0;
    for (int i = 0; i < e->nsegs; i++) segs[i] = KeySeg{e->seg[i][0], e->seg[i][1], e->seg[i][2]};
    return e->nsegs;
}

int keymap_index(int datno, int slot) {
    INSTGV *g = zvWNGV;
    if (!g || datno < 0 || datno >= kMapFiles || slot < 0 || slot >= 64) return -1;
    int v = g->nav.keymap.list1[datno][slot];
    return v ? v - 1 : -1;
}

}  // namespace zv

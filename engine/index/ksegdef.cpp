// Extended key segment definitions.
//
// A definition gives one key segment a transform of its own: numeric text
// with a sign character, packed decimals, byte orders (kind 2), or Unicode
// collation (kind 1, not available in this build: 694). The instance keeps
// every definition in use in one list (INSTGV ksglist, nksg, capksg);
// files refer to list positions, an index file per segment (its 16-entry
// segment table) and for the whole index, and a segment of the ISAM key map
// is bound to a position before it is transformed.
//
// Invariants:
//  1. Position 0 of the list is never used; positions stay valid while any
//     table refers to them (slots are reused only when their count is 0).
//  2. A slot attached to files (owner -8) counts the table entries that
//     refer to it; the last release frees the slot (owner -7).
//  3. A definition stored by PUTKSEGDEF is also a resource of the host
//     index file, so that the open of the file enters it again
//     (getksegdef).
#include "engine/index/ksegdef.h"

#include <cstring>

#include "engine/core/filenum.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/index/idxstate.h"
#include "engine/index/index_services.h"
#include "engine/index/keymap.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

constexpr char kKsegName[8] = "QV!KSEG";
constexpr int32_t kListStep = 8;
constexpr int kTableSize = kMapSegs;

KsegSlot *slots(INSTGV *g) { return static_cast<KsegSlot *>(g->ksglist); }

KsegSlot *slot_at(INSTGV *g, int32_t pos) {
    if (!g || pos < 1 || pos >= g->nksg) return nullptr;
    KsegSlot *s = &slots(g)[pos];
    return s->owner == kKsgFree ? nullptr : s;
}

// Equal in the source rule, kind, sub-kind, sign fields, spare word and
// name; the check word counts when the searched definition has one.
bool same_definition(const KSEGDEF &a, const KSEGDEF &searched) {
    if (memcmp(&a.srcrule, &searched.srcrule, 24) != 0) return false;
    if (memcmp(a.locale, searched.locale, sizeof a.locale) != 0) return false;
    return searched.check == 0 || a.check == searched.check;
}

// The stored copy of a caller's definition.
KSEGDEF stored_copy(const void *def) {
    KSEGDEF d{};
    memcpy(&d, def, 32);
    d.size = int32_t(sizeof(KSEGDEF));
    d.check = 0;
    d.spare = 0;
    const char *name = static_cast<const char *>(def) + 32;
    memcpy(d.locale, name, strnlen(name, sizeof d.locale - 1));
    return d;
}

// Enters a definition for `owner`: an equal one of the same owner is
// shared. The position, or 0 when memory runs out.
int32_t enter(INSTGV *g, const KSEGDEF &d, int32_t owner) {
    for (int32_t p = 1; p < g->nksg; p++) {
        KsegSlot &s = slots(g)[p];
        if (s.owner == owner && same_definition(s.def, d)) {
            s.refs++;
            return p;
        }
    }
    int32_t pos = 0;
    for (int32_t p = 1; p < g->nksg && !pos; p++)
        if (slots(g)[p].owner == kKsgFree) pos = p;
    if (!pos) {
        if (g->nksg == 0 && zvdallc(&g->capksg, &g->nksg, &g->ksglist, int(sizeof(KsegSlot)), kListStep) < 0)
            return 0;
        pos = zvdallc(&g->capksg, &g->nksg, &g->ksglist, int(sizeof(KsegSlot)), kListStep);
        if (pos < 1) return 0;
    }
    KsegSlot &s = slots(g)[pos];
    s.def = d;
    s.owner = owner;
    s.refs = 1;
    return pos;
}

void unref(INSTGV *g, int32_t pos) {
    KsegSlot *s = slot_at(g, pos);
    if (!s || s->owner != kKsgFile) return;
    if (--s->refs <= 0) {
        memset(static_cast<void *>(s), 0, sizeof *s);
        s->owner = kKsgFree;
    }
}

// The segment table of a block, allocated on first use (null: no memory).
int32_t *table_of(FCB *f) {
    if (!f->ksegtab) f->ksegtab = static_cast<int32_t *>(zvgetmem(int32_t(sizeof(int32_t) * kTableSize)));
    return f->ksegtab;
}

// Number of segments of an index in the key map.
int segment_count(int keyno) {
    const ISAMSEG *segs = isam_segs(keyno);
    if (!segs) return 0;
    int n = 0;
    while (n < kMapSegs && segs[n].soffset != kSegEnd) n++;
    return n;
}

// Attaches position pos to segment segno of a block (-1: the whole index).
// 0, or 10 when the table cannot be allocated.
int attach(FCB *f, int segno, int32_t pos) {
    if (segno < 0) {
        f->ksegdflt = pos;
        return 0;
    }
    int32_t *t = table_of(f);
    if (!t) return 10;
    t[segno] = pos;
    return 0;
}

// The block of member `member` of a host (the host itself for 0).
FCB *member_block(FCB *host, uint32_t member) {
    for (FCB *m = host; m; m = m->nextmember)
        if (m->hdr.base.kmem == member) return m;
    return nullptr;
}

// Forgets the bindings that may rest on a file's definitions: those of the
// index itself and of every index over it as a data file.
void unbind(int filno) {
    int32_t n = zvWNGV && idx_state(zvWNGV).isamtab ? idx_state(zvWNGV).isamtabn : 0;
    for (int32_t i = 0; i < n; i++) {
        if (i != filno && int16_t(isam_entry(i)->datno) != filno) continue;
        ISAMSEG *segs = isam_segs(i);
        for (int s = 0; s < kMapSegs; s++) segs[s].binding = -1;
    }
}

int32_t fail(int code) {
    set_uerr(code);
    return -code;
}

// Numeric text with a sign character (sub-kind 0).
int32_t signed_text(const KSEGDEF &d, const unsigned char *src, unsigned char *out, int32_t n) {
    static const char kTriples[] = "019{AI019{AI{AI019019}JR}JRpqy}JR}JR@AI !)";
    memcpy(out, src, size_t(n));
    if (d.signpos == 1) {
        if (out[0] == '-') {
            for (int32_t i = 1; i < n; i++) out[i] = uint8_t(~out[i]);
        } else {
            out[0] = '0';
        }
        return n;
    }
    if (d.signpos == 2) {
        unsigned char sign = src[n - 1];
        memcpy(out + 1, src, size_t(n - 1));
        if (sign == '-') {
            out[0] = '-';
            for (int32_t i = 1; i < n; i++) out[i] = uint8_t(~out[i]);
        } else {
            out[0] = '0';
        }
        return n;
    }
    if (d.signrow < 0 || d.signrow > 6) return -446;
    const char *pos = kTriples + 3 * d.signrow;
    const char *neg = kTriples + 21 + 3 * d.signrow;
    unsigned char &c = d.signpos == 3 ? out[0] : out[n - 1];
    auto digit_in = [&c](const char *t, unsigned char *digit) {
        if (c == uint8_t(t[0])) {
            *digit = '0';
            return true;
        }
        if (c >= uint8_t(t[1]) && c <= uint8_t(t[2])) {
            *digit = uint8_t('1' + (c - uint8_t(t[1])));
            return true;
        }
        return false;
    };
    unsigned char digit = 0;
    if (digit_in(neg, &digit)) {
        c = digit;
        out[0] = uint8_t(0x59 - out[0]);
        for (int32_t i = 1; i < n; i++) out[i] = uint8_t(~out[i]);
    } else if (digit_in(pos, &digit)) {
        c = digit;
    }
    return n;
}

}  // namespace

int32_t xfmksegdef(int32_t pos, const unsigned char *src, int32_t srclen, int ftype, unsigned char *dst,
                   int32_t seglen) {
    INSTGV *g = zvWNGV;
    KsegSlot *s = slot_at(g, pos);
    if (!s) return -703;
    const KSEGDEF &d = s->def;
    if (d.kind == 1) return (d.subkind == 1 && ftype == 0) ? -704 : -694;
    if (d.kind != 2) return -446;
    if (d.subkind < 0 || d.subkind > 5) return -446;
    if (!src || !dst || srclen < 0 || seglen < 1) return -528;
    if (d.subkind == 3 ? srclen > seglen : srclen != seglen) return -528;
    if (d.subkind == 0 && d.signpos != 1 && d.signpos != 2 && (d.signrow < 0 || d.signrow > 6)) return -446;
    // The source is copied first when it shares bytes with the destination.
    unsigned char local[1040];
    unsigned char *heap = nullptr;
    if (src < dst + seglen && dst < src + srclen) {
        unsigned char *copy = local;
        if (srclen > int32_t(sizeof local)) {
            heap = static_cast<unsigned char *>(zvgetmem(srclen));
            if (!heap) return -82;
            copy = heap;
        }
        memcpy(copy, src, size_t(srclen));
        src = copy;
    }
    int32_t n = seglen;
    switch (d.subkind) {
    case 0:
        n = signed_text(d, src, dst, seglen);
        break;
    case 1:
        if (src[seglen - 1] == 0x0D) {
            dst[0] = 0x00;
            for (int32_t i = 1; i < seglen; i++) dst[i] = uint8_t(~src[i - 1]);
        } else {
            dst[0] = 0xFF;
            memcpy(dst + 1, src, size_t(seglen - 1));
        }
        break;
    case 2: {
        bool negative = (src[seglen - 1] & 0x0F) == 0x0D;
        dst[0] = uint8_t(0xF0 | src[0] >> 4);
        for (int32_t i = 1; i < seglen; i++) dst[i] = uint8_t(src[i - 1] << 4 | src[i] >> 4);
        if (negative)
            for (int32_t i = 0; i < seglen; i++) dst[i] = uint8_t(~dst[i]);
        break;
    }
    case 3:
        memcpy(dst, src, size_t(srclen));
        memset(dst + srclen, 0, size_t(seglen - srclen));
        dst[0] ^= 0x80;
        break;
    case 4:
    case 5:
        for (int32_t i = 0; i < seglen; i++) dst[i] = src[seglen - 1 - i];
        if (d.subkind == 4 && seglen >= 2) {
            unsigned char t = dst[0];
            dst[0] = dst[1];
            dst[1] = t;
        }
        break;
    }
    if (heap) zvputmem(heap);
    return n;
}

int zvksgmap(int keyno) {
    INSTGV *g = zvWNGV;
    ISAMMAPENT *k = isam_entry(keyno);
    ISAMSEG *segs = isam_segs(keyno);
    if (!g || !k) return 0;
    FCB *f = fcb_at(keyno);
    bool open = f && (f->state == 'y' || f->state == 'v' || f->state == 'w');
    int kdat = int16_t(k->datno);
    FCB *dat = kdat >= 0 ? fcb_at(kdat) : nullptr;
    int32_t searched = 0;  // the kind-1 search, made once
    for (int i = 0; i < kMapSegs && segs[i].soffset != kSegEnd; i++) {
        ISAMSEG &s = segs[i];
        if (!(s.segmode & (kSegUnicode | kSegXtd))) continue;
        int32_t pos = (open && f->ksegtab) ? f->ksegtab[i] : 0;
        if (pos < 1 && (s.segmode & kSegXtd) && !(s.segmode & kSegUnicode)) pos = -2;
        if (pos == 0 || pos == -1) {
            if (open && f->ksegdflt > 0) pos = f->ksegdflt;
            else if (open && f->hostfcb && f->hostfcb != f && f->hostfcb->ksegdflt > 0) pos = f->hostfcb->ksegdflt;
            else if (dat && dat->state != 'n' && dat->ksegdflt > 0) pos = dat->ksegdflt;
        }
        if (pos == 0 || pos == -1) {
            if (!searched) {
                searched = -2;
                for (int32_t p = 1; p < g->nksg; p++) {
                    const KsegSlot &x = slots(g)[p];
                    if (x.owner == -2 && x.def.kind == 1) {
                        searched = p;
                        break;
                    }
                }
            }
            pos = searched;
        }
        s.binding = pos > 0 ? pos : -2;
    }
    return 0;
}

int zvunic(int keyno, int segno, const SchemaField *fld, const unsigned char *src, const unsigned char *last,
           int32_t seglen, unsigned char *dst) {
    ISAMSEG *segs = isam_segs(keyno);
    if (!segs || segno < 0 || segno >= kMapSegs) return 22;
    ISAMSEG &s = segs[segno];
    // No collation service: a Unicode segment cannot be formed.
    if (s.segmode & kSegUnicode) return 694;
    if (s.binding == -1) zvksgmap(keyno);
    if (s.binding < 1) return 707;
    int type = fld ? fld->type : 0;
    int32_t left = (src && last && src <= last) ? int32_t(last - src + 1) : 0;
    if (left <= 0) return 445;
    int32_t srclen = seglen;
    int prefix = 0;
    if (type == ZV_4STRING) prefix = 4;
    else if (type == ZV_2STRING || type == 201) prefix = 2;
    else if (type == ZV_PSTRING) prefix = 1;
    if (prefix) {
        if (left < prefix) return 445;
        uint32_t n = 0;
        if (prefix == 1) n = src[0];
        else if (prefix == 2) n = uint32_t(src[0] | src[1] << 8);
        else n = uint32_t(src[0]) | uint32_t(src[1]) << 8 | uint32_t(src[2]) << 16 | uint32_t(src[3]) << 24;
        src += prefix;
        left -= prefix;
        srclen = n > 0x7FFFFFFFu ? 0x7FFFFFFF : int32_t(n);
    }
    if (srclen > left) srclen = left;
    int32_t r = xfmksegdef(s.binding, src, srclen, type, dst, seglen);
    if (r == 0) return 706;
    return r < 0 ? -r : 0;
}

void ksg_release(FCB *f) {
    INSTGV *g = zvWNGV;
    if (!f) return;
    if (f->ksegtab || f->ksegdflt > 0) unbind(f->filno);
    if (f->ksegtab) {
        for (int i = 0; i < kTableSize; i++)
            if (f->ksegtab[i] > 0) unref(g, f->ksegtab[i]);
        zvputmem(f->ksegtab);
        f->ksegtab = nullptr;
    }
    if (f->ksegdflt > 0) unref(g, f->ksegdflt);
    f->ksegdflt = 0;
}

void clsksglst(int32_t *count, int32_t *capacity, void **array) {
    if (array) mbfren(array);
    if (count) *count = 0;
    if (capacity) *capacity = 0;
}

int zvOpenUCollator(void) { return 0; }
void zvCloseUCollator(void) {}

}  // namespace zv

using zv::fail;

extern "C" {

// Loads the definitions stored in a file: each resource of types 1000 to
// 1063 names its segment (high half of the number, less 1; 0 the whole
// index) and the member it belongs to (low half).
int getksegdef(FCB *fcb) {
    INSTGV *g = zvWNGV;
    if (!g || !fcb) return 0;
    if (fcb->hdr.base.kmem != 0) return zv::set_uerr(0);  // members are served with their host
    uint32_t key[2] = {zv::kKsegResFirst - 1, 0xFFFFFFFFu};
    unsigned char body[zv::kKsegResBody];
    for (;;) {
        memset(body, 0, sizeof body);
        uint32_t lo = GETRES(fcb->filno, key, body, int32_t(sizeof body), 128);
        uint32_t hi = uint32_t(zvGETHGHi());
        int rc = g->uerr_cod;
        if (!lo && !hi) {
            if (rc == 401 || rc == 408 || rc == 404) break;
            return rc;
        }
        uint32_t type, number;
        memcpy(&type, body, 4);
        memcpy(&number, body + 4, 4);
        if (type > zv::kKsegResLast) break;
        key[0] = type;
        key[1] = number;
        int segno = int(number >> 16) - 1;
        FCB *m = zv::member_block(fcb, number & 0xFFFF);
        if (!m || segno >= zv::kMapSegs) continue;
        KSEGDEF d;
        memcpy(&d, body + 16, sizeof d);
        int32_t pos = zv::enter(g, d, zv::kKsgFile);
        if (!pos) return zv::set_uerr(82);
        if (segno >= 0 && m->ksegtab && m->ksegtab[segno] > 0) zv::unref(g, m->ksegtab[segno]);
        if (segno < 0 && m->ksegdflt > 0) zv::unref(g, m->ksegdflt);
        if (int e = zv::attach(m, segno, pos)) {
            zv::unref(g, pos);
            return zv::set_uerr(e);
        }
        zv::unbind(m->filno);
    }
    return zv::set_uerr(0);
}

ZV_API int PUTKSEGDEF(int filno, int segno, const void *def) {
    INSTGV *g = zvWNGV;
    if (!g) return -47;
    if (!def) return fail(437);
    int32_t kind;
    memcpy(&kind, static_cast<const unsigned char *>(def) + 12, 4);
    if (kind != 2) return fail(454);
    if (filno < 0) return fail(446);
    KSEGDEF d = zv::stored_copy(def);
    FCB *f = tstfnm(filno);
    if (!f) return -int(g->uerr_cod);
    if (f->kind != kKindIndex || segno == -4 || segno < -1 || segno >= zv::kMapSegs) return fail(446);
    if (segno >= 0 && f->ksegtab) {
        int n = zv::segment_count(filno);
        if (n == 0 || segno >= n) return fail(446);
        if (f->ksegtab[segno] > 0) return fail(705);
    }
    if (segno < 0 && f->ksegdflt > 0) return fail(705);
    int32_t pos = zv::enter(g, d, zv::kKsgFile);
    if (!pos) return fail(82);
    if (int e = zv::attach(f, segno, pos)) {
        zv::unref(g, pos);
        return fail(e);
    }
    zv::unbind(filno);
    uint32_t member = f->hdr.base.kmem;
    unsigned char body[zv::kKsegResBody] = {};
    uint32_t type = zv::kKsegResType;
    uint32_t number = uint32_t(segno + 1) << 16 | member;
    memcpy(body, &type, 4);
    memcpy(body + 4, &number, 4);
    memcpy(body + 8, zv::kKsegName, sizeof zv::kKsegName);
    memcpy(body + 16, &d, sizeof d);
    if (int rc = ADDRES(filno - int(member), body, int32_t(sizeof body))) {
        zv::attach(f, segno, 0);
        zv::unref(g, pos);
        return fail(rc);
    }
    zv::set_uerr(0);
    return pos;
}

ZV_API int GETKSEGDEF(int filno, int segno, void *def) {
    INSTGV *g = zvWNGV;
    if (!g) return -47;
    if (!def) return fail(437);
    int32_t pos = 0;
    if (filno == -6) {
        if (!zv::slot_at(g, segno)) return fail(703);
        pos = segno;
    } else if (filno < 0) {
        int32_t kind;
        memcpy(&kind, static_cast<const unsigned char *>(def) + 12, 4);
        if (kind != 2) return fail(454);
        KSEGDEF want;
        memcpy(&want, def, sizeof want);
        for (int32_t p = 1; p < g->nksg && !pos; p++) {
            zv::KsegSlot *s = zv::slot_at(g, p);
            if (s && zv::same_definition(s->def, want)) pos = p;
        }
        if (!pos) return fail(707);
    } else {
        FCB *f = tstfnm(filno);
        if (!f) return -int(g->uerr_cod);
        if (f->kind != kKindIndex || segno == -4) return fail(707);
        if (segno > 15) return fail(446);
        if (segno < 0) pos = segno == -1 ? f->ksegdflt : 0;
        else pos = f->ksegtab ? f->ksegtab[segno] : 0;
        if (pos < 1) return fail(707);
    }
    memcpy(def, &zv::slot_at(g, pos)->def, sizeof(KSEGDEF));
    zv::set_uerr(0);
    return pos;
}

ZV_API int32_t XFMKSEGDEF(int32_t pos, const void *src, int32_t srclen, int ftype, void *dst, int32_t seglen) {
    if (!zvWNGV) return -47;
    int32_t r = zv::xfmksegdef(pos, static_cast<const unsigned char *>(src), srclen, ftype,
                               static_cast<unsigned char *>(dst), seglen);
    if (r < 0) zv::set_uerr(-r);
    return r;
}

ZV_API int zvUPDTICU(void) {
    INSTGV *g = zvWNGV;
    if (!g) return 694;
    g->uerr_cod = 694;
    g->isamerr_cod = 694;
    return 694;
}

}  // extern "C"

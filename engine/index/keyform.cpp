// Key formation from records.
//
// A key is formed in two passes. Assembly copies each segment of the
// index's segment list (ISAM key map) out of the record into the key
// buffer: bytes at a record offset, the n-th variable-length field, or a
// record-schema field found by walking the record; absent segments are
// handled by the assembly mode. The transform pass turns each segment into
// its sortable form (segmode.cpp) and, for a duplicate-key index, appends
// the record position most significant byte first so that every stored key
// is unique. Assembly also decides whether the record belongs in the index
// at all: a false condition, or a key made only of the index's empty
// character when null keys are suppressed, gives no key.
//
// Design notes:
//  1. Every scan of the record stays inside [rec, rec + reclen); the record
//     is never written.
//  2. Alignment of schema fields is measured from the start of the record,
//     so that a key does not depend on where the caller's buffer lies; it
//     applies only inside the fixed part.
//  3. Forming a key from a fixed-length record allocates nothing and makes
//     no platform call.
#include "engine/index/keyform.h"

#include <cstring>

#include "engine/core/fcb.h"
#include "engine/core/filenum.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/expr/expr_services.h"
#include "engine/expr/schemamap.h"
#include "engine/index/keycond.h"
#include "engine/index/keymap.h"
#include "engine/index/ksegdef.h"
#include "engine/index/node.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

int32_t fail(int code, int keyno) {
    set_uerr(code);
    ierr(code, keyno < 0 ? 0 : keyno);
    return 0;
}

bool wide_type(int type) { return type >= 177 && type <= 207; }

// Where field fld lies, from the places of the schema map, when every
// field before it lies in the fixed part: true with *out as schema_locate
// gives it.
bool fixed_place(const FCB *dfcb, int32_t fixlen, uint32_t fld, SchemaFieldAt *out) {
    const auto *pl = static_cast<const SchemaPlaces *>(dfcb->schplaces);
    if (!pl || fld >= pl->count || pl->at[fld].start >= fixlen) return false;
    *out = SchemaFieldAt{pl->at[fld].off, pl->at[fld].e, false};
    return true;
}

// Start of the n-th variable-length field (0 the first): 0 with *start and
// the field's schema entry (type -1 without a schema), 1 when the record
// does not reach it, 445 when a field before it runs past the record.
int variable_field(const unsigned char *schema, const unsigned char *rec, int32_t reclen, int32_t fixlen,
                   uint32_t n, int64_t *start, SchemaField *entry) {
    int delim = schema_delim(schema);
    int64_t p = fixlen;
    // Without field definitions (no schema, or one that only gives the
    // delimiter and pad bytes) every variable field ends with the delimiter.
    if (schema_fields(schema) <= 0) {
        *entry = SchemaField{0, 0xFFFF};
        for (uint32_t i = 0; i < n; i++) {
            if (p >= reclen) return 1;
            p += schema_walk(nullptr, rec + p, rec + reclen, delim);
            if (p > reclen) return 445;
        }
        *start = p;
        return p >= reclen ? 1 : 0;
    }
    // The first schema field at or beyond the fixed part.
    int32_t nf = schema_fields(schema);
    uint32_t first = 0;
    int64_t off = 0;
    int align = schema_align(schema);
    SchemaField e{};
    for (; first < uint32_t(nf > 0 ? nf : 0); first++) {
        if (schema_field(schema, first, &e)) return 1;
        off += schema_align_pad(align, e.type, off);
        if (off >= fixlen) break;
        off += e.len;
    }
    for (uint32_t i = 0;; i++) {
        if (first + i >= uint32_t(nf > 0 ? nf : 0) || schema_field(schema, first + i, &e)) return 1;
        if (p >= reclen) return 1;
        if (i == n) break;
        p += schema_walk(&e, rec + p, rec + reclen, delim);
        if (p > reclen) return 445;
    }
    *start = p;
    *entry = e;
    return 0;
}

// Text up to the delimiter, cut at len bytes, the rest filled with pad.
int copy_delimited(unsigned char *out, int32_t len, const unsigned char *src, int64_t avail, int delim, int pad) {
    int64_t scan = avail < len ? avail : len;
    const void *d = memchr(src, delim, size_t(scan > 0 ? scan : 0));
    int64_t n;
    if (d) n = static_cast<const unsigned char *>(d) - src;
    else if (avail >= len) n = len;
    else return 445;
    memcpy(out, src, size_t(n));
    memset(out + n, pad, size_t(len - n));
    return 0;
}

// Text after a length prefix of w bytes, cut at len bytes, padded.
int copy_prefixed(unsigned char *out, int32_t len, const unsigned char *src, int64_t avail, int w, int pad) {
    if (avail < w) return 445;
    int64_t n = schema_prefix_value(src, w);
    if (n > len) n = len;
    if (n > avail - w) return 445;
    memcpy(out, src + w, size_t(n));
    memset(out + n, pad, size_t(len - n));
    return 0;
}

// 2-byte characters, padded with units 00 pad (an odd last byte gets 0).
int copy_wide(unsigned char *out, int32_t len, const unsigned char *src, int64_t avail, int type, int pad) {
    const unsigned char *end = src + avail;
    int64_t n;
    if (type == 193 || type == kWide201) {
        if (avail < 2) return 445;
        n = schema_prefix_value(src, 2);
        src += 2;
        if (n > avail - 2) n = avail - 2;
    } else {
        bool ended = false;
        n = schema_wide_bytes(src, end, &ended);
    }
    if (n > len) n = len;
    n &= ~int64_t(1);
    memcpy(out, src, size_t(n));
    for (int64_t i = n; i < len; i++) out[i] = (i - n) & 1 ? uint8_t(pad) : 0;
    if ((len - n) & 1) out[len - 1] = 0;
    return 0;
}

// Fixed copy of len bytes at off: 0, 445 when it runs past the record, or
// 1 when the record does not reach the segment.
int copy_fixed(unsigned char *out, int32_t len, const unsigned char *rec, int32_t reclen, int64_t off) {
    if (off >= reclen) return 1;
    if (off + len > reclen) return 445;
    memcpy(out, rec + off, size_t(len));
    return 0;
}

bool open_block(const FCB *f) { return f && (f->state == 'y' || f->state == 'v' || f->state == 'w'); }

// Runs the index's condition on the record: 1 the record belongs, 0 it
// does not (*err 0), or 0 with *err set (598 a failed evaluation). An
// index with an in-memory condition (0x20, kept in the index file's own
// block) hands the record to its callback filter, or evaluates its own
// expression; otherwise the data file's table holds the condition.
int condition(const ISAMMAPENT *k, int datno, FCB *ifcb, FCB *dfcb, const unsigned char *rec, int32_t reclen,
              int *err) {
    INSTGV *g = zvWNGV;
    *err = 0;
    const unsigned char *schema = dfcb->schmap;
    if (!schema) {
        *err = 199;
        return 0;
    }
    int32_t fixlen = dfcb->hdr.base.reclen;
    void *image = const_cast<unsigned char *>(rec);
    void *map = const_cast<unsigned char *>(schema);
    int r;
    const bool own = (k->keyflags & kKeyCondInMemory) != 0;
    if (own && ifcb && ifcb->fltr && ifcb->fltrkind != 0) {
        g->exprerr = 0;
        r = clbkeval(ifcb->fltr, ifcb->fltrkind, datno, image, map, fixlen, reclen);
        if (r == 0 && g->exprerr) *err = set_uerr(598);
        return r > 0;
    }
    void *table = own ? (ifcb ? ifcb->fltr : nullptr) : dfcb->cidxtab;
    int condno = own ? -105 : int16_t(k->relidx);
    int32_t saved = g->curkeylen;
    if (ifcb) g->curkeylen = ifcb->hdr.base.keylen;
    r = zvevalcidx(table, datno, condno, rec, schema, fixlen, reclen);
    g->curkeylen = saved;
    if (r < 0) *err = -r;
    return r == 1;
}

}  // namespace

void schema_places_drop(FCB *f) {
    if (f->schplaces) zvputmem(f->schplaces);
    f->schplaces = nullptr;
}

void schema_places_make(FCB *f) {
    schema_places_drop(f);
    const unsigned char *schema = f->schmap;
    const int32_t nf = schema_fields(schema);
    // A map claiming more fields than a record could hold keeps no places.
    if (nf <= 0 || nf > 65536) return;
    const int align = schema_align(schema);
    uint32_t ne;
    memcpy(&ne, schema + 12, 4);
    auto *pl = static_cast<SchemaPlaces *>(zvgetmem(int32_t(sizeof(SchemaPlaces) + sizeof(SchemaPlace) * size_t(nf))));
    if (!pl) return;
    // The walk of schema_locate while every field lies in the fixed part;
    // it stops where offsets no longer fit an i32 (such fields are walked
    // for).
    uint32_t j = 0;
    int64_t p = 0;
    for (uint32_t i = 0; i < ne && j < uint32_t(nf); i++) {
        const unsigned char *x = schema + kSchemaHead + kSchemaEntry * i;
        SchemaField e;
        memcpy(&e.len, x, 2);
        memcpy(&e.type, x + 2, 2);
        for (uint32_t c = 0; c <= x[4] && j < uint32_t(nf); c++, j++) {
            const int64_t off = p + schema_align_pad(align, e.type, p);
            if (off > INT32_MAX) break;
            pl->at[j] = SchemaPlace{int32_t(p), int32_t(off), e};
            p = off + e.len;
        }
    }
    pl->count = j;
    f->schplaces = pl;
}

namespace {

// What both passes of one key formation need, resolved once by assembly:
// the index's map entry and segments, its data file number and the two FCBs
// (the index's null when it is not open).
struct KeyJob {
    ISAMMAPENT *k = nullptr;
    ISAMSEG *segs = nullptr;
    int datno = -1;
    FCB *ifcb = nullptr;
    FCB *dfcb = nullptr;
};

int32_t assemble(int keyno, int datno, FCB *ifcb, FCB *dfcb, const unsigned char *rec, unsigned char *key,
                 int32_t keyspace, int32_t reclen, int amode, KeyJob *job) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    ierr(0, keyno < 0 ? 0 : keyno);
    ISAMMAPENT *k = isam_entry(keyno);
    ISAMSEG *segs = isam_segs(keyno);
    if (!key || !k) return fail(80, keyno);
    if (datno < 0) datno = int16_t(k->datno);
    if (datno < 0) return fail(80, keyno);
    if (!dfcb && !(dfcb = tstfnm(datno))) return fail(g->uerr_cod, datno);
    if (!ifcb) {
        FCB *x = fcb_at(keyno);
        if (open_block(x)) ifcb = x;
    }
    *job = KeyJob{k, segs, datno, ifcb, dfcb};
    if (keyspace == -1) {
        if (!ifcb) return fail(80, keyno);
        keyspace = ifcb->hdr.base.keylen;
    }
    if (!rec || reclen == 0) return fail(445, keyno);
    if (reclen < 0) return fail(634, keyno);

    if (!(amode & kAsmNoCond) && (k->keyflags & (kKeyCondExpr | kKeyCondInMemory))) {
        int err = 0;
        if (!condition(k, datno, ifcb, dfcb, rec, reclen, &err)) return err ? fail(err, keyno) : 0;
    }

    const unsigned char *schema = dfcb->schmap;
    const unsigned char *last = rec + reclen - 1;
    const int32_t fixlen = dfcb->hdr.base.reclen;
    const int pad = schema_pad(schema);
    const int delim = schema_delim(schema);
    int32_t used = 0;
    int present = 0, absent = 0;
    for (int i = 0; i < kMapSegs && segs[i].soffset != kSegEnd; i++) {
        ISAMSEG &s = segs[i];
        const int32_t len = s.slength;
        const int mode = s.segmode;
        const int base = mode & kSegBaseMask;
        if (len > keyspace - used) return fail(153, keyno);
        unsigned char *out = key + used;
        int rc = 0;  // 1: the segment is absent
        switch (base) {
        case 0: case 1: case 2: case 3: case 6: case 7: case 8: case 9: case 10: case 11:
            if (mode & (kSegUnicode | kSegXtd))
                rc = s.soffset >= reclen ? 1 : zvunic(keyno, i, nullptr, rec + s.soffset, last, len, out);
            else
                rc = copy_fixed(out, len, rec, reclen, s.soffset);
            break;
        case 256:
            memset(out, 0, size_t(len));
            break;
        case 257:
            if (!schema) rc = 199;
            else if (dfcb->serpos <= 0 || dfcb->srllen < 0) rc = 634;
            else rc = copy_fixed(out, len, rec, reclen, int64_t(dfcb->serpos) - 1);
            break;
        case 4: case 5: {
            int64_t start = 0;
            SchemaField e{};
            rc = variable_field(schema, rec, reclen, fixlen, s.soffset, &start, &e);
            if (rc) break;
            if (wide_type(e.type) && e.type != 0xFFFF)
                rc = copy_wide(out, len, rec + start, reclen - start, e.type, pad);
            else
                rc = copy_delimited(out, len, rec + start, reclen - start, delim, pad);
            break;
        }
        case 12: case 13: case 14: case 15: {
            if (!schema) {
                rc = 199;
                break;
            }
            SchemaFieldAt at;
            if (!fixed_place(dfcb, fixlen, s.soffset, &at) &&
                (rc = schema_locate(schema, rec, reclen, fixlen, s.soffset, &at)) != 0)
                break;
            if (at.off >= reclen) {
                rc = 1;
                break;
            }
            int t = at.e.type;
            const unsigned char *src = rec + at.off;
            int64_t avail = reclen - at.off;
            if ((mode & kSegUnicode) || wide_type(t)) {
                if (wide_type(t)) {
                    s.segmode = uint16_t(s.segmode | kSegUnicode);
                    s.binding = -1;
                }
                rc = zvunic(keyno, i, &at.e, src, last, len, out);
            } else if (mode & kSegXtd) {
                rc = zvunic(keyno, i, &at.e, src, last, len, out);
            } else if ((t == ZV_FSTRING && base >= 14) || (t >= ZV_STRING && t <= ZV_4STRING)) {
                int w = schema_prefix_width(t);
                rc = w ? copy_prefixed(out, len, src, avail, w, pad) : copy_delimited(out, len, src, avail, delim, pad);
            } else {
                rc = copy_fixed(out, len, rec, reclen, at.off);
            }
            break;
        }
        default:
            rc = 446;
            break;
        }
        if (rc > 1) return fail(rc, keyno);
        if (rc == 1) {
            if ((amode & 3) == kAsmComplete) return fail(445, keyno);
            absent++;
        } else {
            present++;
        }
        if ((amode & 3) == kAsmProbe && present && absent) return -2;
        used += len;
    }
    if ((amode & 3) == kAsmProbe && absent && !present) return -3;
    if ((k->keyflags & kKeyNullMask) == 1) {
        int32_t i = 0;
        while (i < used && key[i] == k->padchar) i++;
        if (i == used) return 0;
    }
    return used;
}

}  // namespace

int32_t izvasskey(int keyno, int datno, FCB *ifcb, FCB *dfcb, const unsigned char *rec, unsigned char *key,
                  int32_t keyspace, int32_t reclen, int amode) {
    KeyJob job;
    return assemble(keyno, datno, ifcb, dfcb, rec, key, keyspace, reclen, amode, &job);
}

int32_t zvasskey(int keyno, const unsigned char *rec, unsigned char *key, int32_t reclen, int amode) {
    return izvasskey(keyno, -1, nullptr, nullptr, rec, key, -1, reclen, amode);
}

namespace {

// The map entry, segments and FCBs of the transform pass of index keyno;
// false (80 reported) when the index or its data file is not open.
bool resolve(int keyno, int datno, FCB *dfcb, KeyJob *job) {
    job->k = isam_entry(keyno);
    job->segs = isam_segs(keyno);
    if (!job->k) return fail(80, keyno), false;
    job->ifcb = fcb_at(keyno);
    if (!open_block(job->ifcb)) return fail(80, keyno), false;
    if (datno < 0) datno = int16_t(job->k->datno);
    if (!dfcb) dfcb = datno >= 0 ? fcb_at(datno) : nullptr;
    if (!open_block(dfcb)) return fail(80, keyno), false;
    job->datno = datno;
    job->dfcb = dfcb;
    return true;
}

// The transform pass over the resolved index; *total receives the key
// length with its suffix. A plain byte segment (mode 0, no modifier) is its
// own key form and is passed by.
unsigned char *transform_job(int keyno, const KeyJob &job, unsigned char *key, uint32_t poslow, int append,
                             int unicode, int32_t *total) {
    uint32_t poshigh = uint32_t(zvGETHGHi());
    FCB *ifcb = job.ifcb;
    const ISAMSEG *segs = job.segs;
    int32_t used = 0;
    for (int i = 0; i < kMapSegs && segs[i].soffset != kSegEnd; i++) {
        const ISAMSEG &s = segs[i];
        unsigned char *p = key + used;
        int rc = 0;
        if (s.segmode == 0 && s.slength >= 1) {
            used += s.slength;
            continue;
        }
        if (unicode && (s.segmode & (kSegUnicode | kSegXtd)))
            rc = zvunic(keyno, i, nullptr, p, p + s.slength - 1, s.slength, p);
        if (!rc) rc = izvtseg(s.soffset, s.segmode, s.slength, p, ifcb->altseq, job.dfcb->schmap);
        if (rc) return fail(rc, keyno), nullptr;
        used += s.slength;
    }
    if (append && idx_dup(ifcb)) {
        int32_t ps = idx_psize(ifcb);
        if (used + ps > int32_t(ifcb->hdr.base.keylen)) return fail(153, keyno), nullptr;
        if (ps == 8) {
            stbe32(key + used, poshigh);
            stbe32(key + used + 4, poslow);
        } else {
            stbe32(key + used, poslow);
        }
        used += ps;
    }
    if (total) *total = used;
    set_uerr(0);
    return key;
}

unsigned char *transform(int keyno, int datno, FCB *dfcb, unsigned char *key, uint32_t poslow, int append,
                         int unicode, int32_t *total) {
    if (!zvWNGV) return nullptr;
    if (!key) return fail(80, keyno), nullptr;
    KeyJob job;
    if (!resolve(keyno, datno, dfcb, &job)) return nullptr;
    return transform_job(keyno, job, key, poslow, append, unicode, total);
}

}  // namespace

unsigned char *ii2TFRMKEY(int keyno, int datno, void *, FCB *dfcb, unsigned char *key, uint32_t poslow, int append,
                          int unicode) {
    return transform(keyno, datno, dfcb, key, poslow, append, unicode, nullptr);
}

unsigned char *i2TFRMKEY(int keyno, unsigned char *key, uint32_t poslow, int append, int unicode) {
    return transform(keyno, -1, nullptr, key, poslow, append, unicode, nullptr);
}

namespace {

int32_t form(int keyno, int datno, FCB *ifcb, FCB *dfcb, const unsigned char *rec, unsigned char *key,
             int32_t keyspace, uint32_t poslow, int32_t reclen, int amode) {
    // The position's high word was set before the call; assembly may reach
    // calls that use the cell, so it is taken now and put back.
    int32_t hi = zvGETHGHi();
    KeyJob job;
    int32_t n = assemble(keyno, datno, ifcb, dfcb, rec, key, keyspace, reclen, amode, &job);
    if (n <= 0) return 0;
    zvSETHGHi(hi);
    int32_t total = 0;
    // The transform pass reuses what assembly resolved when the index it
    // found open is the index's own block (as transform requires).
    const bool same = job.ifcb == fcb_at(keyno) && open_block(job.ifcb) && open_block(job.dfcb);
    if (same ? !transform_job(keyno, job, key, poslow, 1, 0, &total)
             : !transform(keyno, datno, dfcb, key, poslow, 1, 0, &total))
        return 0;
    return total;
}

}  // namespace

int32_t ifrmkey(int keyno, int datno, FCB *ifcb, FCB *dfcb, const unsigned char *rec, unsigned char *key,
                int32_t keyspace, uint32_t poslow, int32_t reclen) {
    return form(keyno, datno, ifcb, dfcb, rec, key, keyspace, poslow, reclen, kAsmComplete);
}

}  // namespace zv

extern "C" {

ZV_API int32_t frmkey(int keyno, const void *rec, void *key, uint32_t pos, int32_t reclen) {
    if (!zvWNGV) return 0;
    return zv::form(keyno, -1, nullptr, nullptr, static_cast<const unsigned char *>(rec),
                    static_cast<unsigned char *>(key), -1, pos, reclen, zv::kAsmComplete);
}

ZV_API int32_t frmkeyx(int keyno, const void *rec, void *key, uint32_t pos, int32_t reclen, int flags) {
    if (!zvWNGV) return 0;
    int amode = zv::kAsmComplete | ((flags & 1) ? zv::kAsmNoCond : 0);
    return zv::form(keyno, -1, nullptr, nullptr, static_cast<const unsigned char *>(rec),
                    static_cast<unsigned char *>(key), -1, pos, reclen, amode);
}

ZV_API void *TFRMKEY(int keyno, void *target) {
    if (!zvWNGV) return nullptr;
    zvSETHGHi(0);
    return zv::i2TFRMKEY(keyno, static_cast<unsigned char *>(target), 0, 1, 1);
}

ZV_API void *lTFRMKEY(int keyno, void *target) {
    if (!zvWNGV) return nullptr;
    zvSETHGHi(-1);
    return zv::i2TFRMKEY(keyno, static_cast<unsigned char *>(target), 0xFFFFFFFFu, 1, 1);
}

ZV_API void *uTFRMKEY(int keyno, void *key) {
    INSTGV *g = zvWNGV;
    if (!g) return nullptr;
    zv::ISAMMAPENT *k = zv::isam_entry(keyno);
    const zv::ISAMSEG *segs = zv::isam_segs(keyno);
    if (!key || !k) return zv::fail(80, keyno), nullptr;
    FCB *ifcb = zv::fcb_at(keyno);
    int kdat = int16_t(k->datno);
    FCB *dfcb = kdat >= 0 ? zv::fcb_at(kdat) : nullptr;
    const uint16_t *alt = zv::open_block(ifcb) ? ifcb->altseq : nullptr;
    const unsigned char *schema = zv::open_block(dfcb) ? dfcb->schmap : nullptr;
    auto *p = static_cast<unsigned char *>(key);
    for (int i = 0; i < zv::kMapSegs && segs[i].soffset != zv::kSegEnd; i++) {
        const zv::ISAMSEG &s = segs[i];
        if (int rc = zv::izvuseg(s.soffset, s.segmode, s.slength, p, alt, schema)) return zv::fail(rc, keyno), nullptr;
        p += s.slength;
    }
    zv::set_uerr(0);
    return key;
}

ZV_API int zvlfsegget(int keyno, int n) {
    if (n < 1 || n > 15) return 0;
    if (zv::isam_entry_make(keyno)) zv::isam_segs(keyno)[n].soffset = zv::kSegEnd;
    return 0;
}

ZV_API int zvlfsegput(int keyno, int segno, int a, int b, int c) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (keyno < 0 || !g->fcbtab || keyno > g->filecount) return 80;
    if (segno >= zv::kMapSegs) return 446;
    zv::ISAMMAPENT *k = zv::isam_entry_make(keyno);
    if (!k) return 82;
    if (segno >= 0) {
        zv::isam_segs(keyno)[segno] = zv::ISAMSEG{uint16_t(a), uint16_t(b), uint16_t(c), 0, -1};
        return 0;
    }
    k->keyflags = uint16_t(a);
    k->padchar = uint8_t(b);
    k->datno = uint16_t(c);
    if (c >= 0 && c <= g->filecount) {
        if (!zv::isam_entry_make(c)) return 82;
        uint16_t *list = zv::isam_actlist(c);
        uint16_t *defined = zv::isam_deflist(c);
        int slot = 0;
        while (slot < zv::kMapIndexes && list[slot] != zv::kMapNone && list[slot] != keyno) slot++;
        if (slot < zv::kMapIndexes) {
            list[slot] = uint16_t(keyno);
            defined[slot] = uint16_t(keyno);
            zv::isam_entry(keyno)->relidx = uint16_t(slot);
        }
    }
    return 0;
}

ZV_API int zvgetseginfo(int keyno, int segno, int which) {
    const zv::ISAMSEG *segs = zv::isam_segs(keyno);
    if (!segs || segno < 0 || segno >= zv::kMapSegs) return -1;
    const zv::ISAMSEG &s = segs[segno];
    switch (which) {
    case 1: return s.slength;
    case 2: return s.segmode;
    case 3: return s.soffset;
    default: return -1;
    }
}

}  // extern "C"

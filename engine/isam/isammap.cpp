// ISAM start-up and the key map of file sets.
//
// The key map itself (engine/index/keymap.cpp) is the index engine's: per
// file number an entry, the defined and the active index lists of a data
// file and the segment list of an index. The ISAM layer makes its tables
// at start-up (zviisam), frees them at the stop (zvfisam), and fills them
// from parameter files and IFIL definitions (setmap, setimap).
//
// An index file serves one data file only: its block remembers the data
// file (FCB::isamdat), and a second open of the same physical index (its
// twin, another number with the same unique file id and member) is checked
// too, since the file layer allows a file to be open twice.
#include "engine/isam/isammap.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/files/header.h"
#include "engine/index/defblock.h"
#include "engine/index/idxstate.h"
#include "engine/isam/cidx.h"
#include "engine/isam/context.h"
#include "engine/isam/ifil.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isamstate.h"

namespace zv {

namespace {

int16_t as16(uint16_t v) { return int16_t(v); }

// Segment mode classes.
int base_mode(int mode) { return mode & 0x10F; }
bool serial_mode(int mode) { return base_mode(mode) == 3 || base_mode(mode) == 257; }
bool schema_mode(int mode) {
    int b = base_mode(mode);
    return (b >= 12 && b <= 255) || b == 257;
}

// A segment that takes its bytes at a record offset must start inside the
// record (a negative offset is as bad a segment as a negative length) and,
// in a fixed-length file, end inside it too: such a definition would make
// every later key of the index fail. Segments collated or transformed on
// the way in take a length of their own and are only checked for the start.
bool segment_in_record(const ISEG &sg, bool varfile, int32_t fixed) {
    int b = base_mode(sg.segmode);
    bool at_offset = b <= 3 || (b >= 6 && b <= 11);
    if (!at_offset) return true;
    if (sg.soffset < 0) return false;
    if (varfile || (sg.segmode & 0x480)) return true;
    return int32_t(sg.soffset) + int32_t(sg.slength) <= fixed;
}

// The schema field walk: offset of field `field` (alignment included), its
// type and length. false when the schema has fewer fields.
struct FieldPos {
    int32_t offset;
    int type;
    int32_t len;
    bool varbefore;   // a variable-length field lies before it
};
bool field_at(const unsigned char *map, int field, FieldPos *out) {
    int32_t nfields, nentries;
    memcpy(&nfields, map + 8, 4);
    memcpy(&nentries, map + 12, 4);
    if (field < 0 || field >= nfields) return false;
    int align = map[1] ? map[1] : 1;
    int32_t off = 0;
    bool var = false;
    int i = 0;
    for (int32_t e = 0; e < nentries; e++) {
        const unsigned char *en = map + 16 + 6 * e;
        uint16_t len, type;
        memcpy(&len, en, 2);
        memcpy(&type, en + 2, 2);
        for (int r = 0; r <= en[4]; r++, i++) {
            off += zvadjadr(align, type, off);
            if (i == field) {
                *out = FieldPos{off, type, len, var};
                return true;
            }
            if (vartype(type)) var = true;
            off += len;
        }
    }
    return false;
}

}  // namespace

// ---- Start, growth and release ----------------------------------------------

int zviisam(int32_t bufs, int32_t fils, int32_t sect, int32_t dbufs, int32_t userprof) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (g->slot0 || g->started) return set_uerr(125);
    if (fils < 0 || fils > kMapMaxEntries - 3) return set_uerr(11);
    int32_t n = fils + 3;
    zvfisam(0);
    if (!keymap_make(n)) return set_uerr(83);
    isam_state(g).resv[0] = fils;
    isam_state(g).resv[1] = fils + 1;
    isam_state(g).resv[2] = fils + 2;
    isam_state(g).active = 1;
    isam_state(g).partsample = 3;
    isam_state(g).partpercent = 0;
    int rc = INTREEX(bufs, fils, sect, dbufs, userprof);
    if (rc != 0) {
        zvfisam(n);
        return set_uerr(rc);
    }
    for (int i = 0; i < n; i++)
        if (FCB *f = fcb_at(i)) clear_isam_position(f);
    return 0;
}

void zvfisam(int32_t) {
    INSTGV *g = zvWNGV;
    if (!g) return;
    free_context_table();
    keymap_free();
    isam_state(g).active = 0;
}

int isam_grow_tables(int n) {
    INSTGV *g = zvWNGV;
    if (!g || !idx_state(g).isamtab) return 1;
    return redoisam(n);
}

const int16_t *isam_companions(int filno) {
    const ISAMMAPENT *e = isam_entry(filno);
    if (!e || e->inuse == kMapFree) return nullptr;
    const uint16_t *list = isam_actlist(filno);
    if (list[0] == kMapNone) return nullptr;
    return reinterpret_cast<const int16_t *>(list);
}

// ---- Key map words --------------------------------------------------------------

void setzvEOK(int datno, int slot) {
    uint16_t *act = isam_actlist(datno);
    uint16_t *def = isam_deflist(datno);
    if (!act || slot < 0 || slot >= kMapIndexes) return;
    for (int s = slot; s < kMapIndexes; s++) {
        act[s] = kMapNone;
        def[s] = kMapNone;
    }
}

int32_t isam_map_value(int filno, int which) {
    ISAMMAPENT *e = isam_entry(filno);
    if (!e) return -1;
    switch (which) {
    case 0: return as16(e->datno);
    case 1: return as16(e->relidx);
    default: return as16(e->keyflags);
    }
}

int isam_map_index(int datno, int slot) { return keymap_index(datno, slot); }

int tstinm(int first, int k) {
    INSTGV *g = zvWNGV;
    if (!g || !idx_state(g).isamtab || first < 0 || k < 0 || int64_t(first) + k >= idx_state(g).isamtabn)
        return ierr(22, first < 0 ? 0 : first);
    for (int i = first; i <= first + k; i++) {
        if (isam_entry(i)->inuse) {
            for (int j = first; j < i; j++) isam_entry(j)->inuse = kMapFree;
            return ierr(46, i);
        }
        isam_entry(i)->inuse = kMapByName;
    }
    return 0;
}

char *zvrtnam(const char *s) {
    if (!s) return nullptr;
    size_t n = strlen(s) + 1;
    if (n > 0x7FFFFFFF) return nullptr;
    char *p = static_cast<char *>(zvgetmem(int32_t(n)));
    if (p) memcpy(p, s, n);
    return p;
}

// ---- Serial segments and schema fields ------------------------------------------

int zvsrlseg(FCB *dat, int32_t *offout, int32_t *lenout, int idxno, int segno, const ISEG *given) {
    if (!dat) return set_uerr(26);
    ISEG seg{};
    if (given) {
        seg = *given;
    } else {
        ISAMSEG *list = isam_segs(idxno);
        if (!list || segno < 0 || segno >= kMapSegs) return set_uerr(22);
        seg = ISEG{int16_t(list[segno].soffset), int16_t(list[segno].slength), int16_t(list[segno].segmode)};
    }
    int32_t off, len;
    switch (base_mode(seg.segmode)) {
    case 3:
        off = seg.soffset + 1;
        len = seg.slength;
        break;
    case 257: {
        const unsigned char *map = schema_map(dat);
        if (!map) {
            off = seg.soffset + 1;
            len = -seg.slength;
            break;
        }
        FieldPos fp;
        if (!field_at(map, seg.soffset, &fp)) return set_uerr(433);
        if (fp.varbefore) return set_uerr(116);
        if (fp.len != seg.slength) return set_uerr(528);
        off = fp.offset + 1;
        len = seg.slength;
        break;
    }
    default:
        return set_uerr(454);
    }
    int32_t cur = dat->serpos;
    if (cur >= 1 && cur <= 65534) {
        bool same = cur == off && dat->srllen == len;
        // The field of an unresolved pair, now located.
        bool resolved = dat->srllen < 0 && base_mode(seg.segmode) == 257 && cur == seg.soffset + 1 &&
                        -dat->srllen == seg.slength;
        // A pair resolved before, met again without the schema.
        bool unresolved = len < 0 && dat->srllen == -len && base_mode(seg.segmode) == 257;
        if (!same && !resolved && !unresolved) return set_uerr(554);
        if (unresolved) {
            off = cur;
            len = dat->srllen;
        }
    }
    dat->serpos = off;
    dat->srllen = len;
    if (offout) *offout = off;
    if (lenout) *lenout = len;
    return 0;
}

int chkvfin(int datno, int field, int32_t len) {
    INSTGV *g = zvWNGV;
    FCB *f = tstfnm(datno);
    if (!f) return -(g ? g->uerr_cod : 47);
    const unsigned char *map = schema_map(f);
    if (!map) return -set_uerr(199);
    FieldPos fp;
    if (!field_at(map, field, &fp)) return -set_uerr(433);
    int32_t fixed = f->hdr.base.reclen;
    if (fp.varbefore || fp.offset >= fixed) return 1;
    return int64_t(fp.offset) + len > fixed ? 1 : 0;
}

namespace {

// Whether a segment (record offset or schema field, length, mode) of an
// index of variable-length data file datno, whose fixed part is `fixed`
// bytes, reads the variable part of the records: 1 or 0. A schema field is
// placed by chkvfin; without a schema yet (-199) it counts as 0 with the
// error cleared, another failure is returned as its negative code.
int varpart_segment(int datno, int32_t fixed, int off, int len, int mode) {
    if (schema_mode(mode)) {
        int v = chkvfin(datno, off, len);
        if (v == -199) {
            set_uerr(0);
            return 0;
        }
        return v < 0 ? v : v ? 1 : 0;
    }
    int b = base_mode(mode);
    if (b == 4 || b == 5) return 1;
    return off >= fixed && (b <= 3 || (b >= 8 && b <= 11)) ? 1 : 0;
}

}  // namespace

void isam_schema_stored(int datno, bool varpart) {
    FCB *dat = fcb_at(datno);
    const uint16_t *list = isam_actlist(datno);
    if (!dat || !list || !schema_map(dat)) return;
    const bool serial = dat->srllen < 0;
    if (!serial && !varpart) return;
    const int32_t fixed = dat->hdr.base.reclen;
    // Nothing here fails the store that brought the schema: a segment that
    // cannot be bound or placed stays as it was, and the caller's code stays.
    uint16_t uerr = zvWNGV->uerr_cod;
    for (int s = 0; s < kMapIndexes && list[s] != kMapNone; s++) {
        if (list[s] == kMapShared) continue;
        const ISAMSEG *segs = isam_segs(list[s]);
        ISAMMAPENT *e = isam_entry(list[s]);
        for (int i = 0; segs && i < kMapSegs && segs[i].soffset != kSegEnd; i++) {
            const ISAMSEG &sg = segs[i];
            if (serial && base_mode(sg.segmode) == 257) zvsrlseg(dat, nullptr, nullptr, list[s], i, nullptr);
            if (varpart && e && varpart_segment(datno, fixed, sg.soffset, sg.slength, sg.segmode) > 0) e->varpart = 1;
        }
    }
    zvWNGV->uerr_cod = uerr;
}

// ---- Key assembly helpers ----------------------------------------------------------

int padrec2(unsigned char *dst, int32_t room, const unsigned char *src, int32_t seglen, int32_t fldlen,
            int pad, const unsigned char *srcend) {
    if (room < seglen) return -1;
    int32_t n = fldlen < seglen ? fldlen : seglen;
    if (n < 0) n = 0;
    if (src && srcend && srcend - src < n) n = srcend > src ? int32_t(srcend - src) : 0;
    if (n > 0) memcpy(dst, src, size_t(n));
    if (seglen > n) memset(dst + n, pad, size_t(seglen - n));
    return seglen;
}

int padrec(unsigned char *dst, const unsigned char *src, int32_t seglen, const unsigned char *srcend,
           int pad, int delim) {
    int32_t avail = srcend > src ? int32_t(srcend - src) : 0;
    int32_t within = seglen < avail ? seglen : avail;
    int32_t at = within > 0 ? zvcdelm(src, delim, within) : 0;
    if (at > 0) {
        if (at > 1) memcpy(dst, src, size_t(at - 1));
        memset(dst + at - 1, pad, size_t(seglen - (at - 1)));
        return seglen;
    }
    if (avail < seglen) return -2;
    memcpy(dst, src, size_t(seglen));
    return seglen;
}

// ---- Parameter-file entries --------------------------------------------------

int setmap(int datno, int openflags, int relidx, int idxno, int keylen, int nseg, int dup, int padchar,
           int nulkey, FILE *stream) {
    if (!isam_entry(datno) || !isam_entry(idxno) || relidx < 0 || relidx >= kMapIndexes)
        return ierr(22, idxno < 0 ? 0 : idxno);
    if (nseg < 0 || nseg > kMapSegs) return ierr(109, idxno);
    FCB *dat = tstfnm(datno);
    isam_deflist(datno)[relidx] = uint16_t(idxno);
    isam_actlist(datno)[relidx] = uint16_t(idxno);
    isam_actlist(idxno)[0] = kMapNone;
    ISAMMAPENT &e = *isam_entry(idxno);
    e.datno = uint16_t(datno);
    e.relidx = uint16_t(relidx);
    e.padchar = uint8_t(padchar);
    e.keyflags = uint16_t(nulkey | (zvchkcidx(datno, relidx) ? 16 : 0));
    e.varpart = 0;
    int32_t width = dat && (dat->hdr.base.hdrflags & kHdr8ByteOffsets) ? 8 : 4;
    int32_t want = dup ? width : 0;
    ISAMSEG *segs = isam_segs(idxno);
    int32_t sum = 0;
    bool part = false;
    for (int i = 0; i < nseg; i++) {
        int v[3];
        if (!param_number(stream, &v[0]) || !param_number(stream, &v[1]) || !param_number(stream, &v[2]))
            return ierr(110, idxno);
        const int16_t off = int16_t(v[0]), len = int16_t(v[1]), mode = int16_t(v[2]);
        if (mode & 0x200) {
            if (i == 0) return ierr(895, idxno);
            part = true;
        } else if (part) {
            return ierr(895, idxno);
        }
        ISAMSEG &s = segs[i];
        s = ISAMSEG{uint16_t(off), uint16_t(len), uint16_t(mode), 0, -1};
        if (serial_mode(mode)) {
            ISEG sg{off, len, mode};
            if (int rc = zvsrlseg(dat, nullptr, nullptr, idxno, i, &sg)) return ierr(rc, idxno);
        }
        // The variable part is marked as an open from a definition marks
        // it: on a variable-length data file only.
        if ((openflags & 4) && dat) {
            int v = varpart_segment(datno, dat->hdr.base.reclen, off, len, mode);
            if (v < 0) return ierr(-v, idxno);
            if (v) e.varpart = 1;
        }
        if (mode & 0x80) return ierr(694, idxno);
        sum += len;
    }
    if (nseg < kMapSegs) segs[nseg].soffset = kSegEnd;
    if (keylen - sum != want) return ierr(115, idxno);
    return 0;
}

int param_item(FILE *stream, char *buf) {
    if (!stream) return 0;
    int c;
    do {
        c = getc(stream);
    } while (c != EOF && isspace(c));
    if (c == EOF) return 0;
    int n = 0;
    for (; c != EOF && !isspace(c); c = getc(stream)) {
        if (n == kParamItem) return -1;
        buf[n++] = char(c);
    }
    buf[n] = '\0';
    return 1;
}

bool param_number(FILE *stream, int *out) {
    char buf[kParamItem + 1];
    if (param_item(stream, buf) != 1) return false;
    const char *p = buf;
    bool neg = *p == '-';
    if (*p == '-' || *p == '+') p++;
    if (!*p) return false;
    long v = 0;
    for (; *p; p++) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + (*p - '0');
        if (v > 32768) return false;
    }
    if (neg) v = -v;
    if (v < -32768 || v > 32767) return false;
    *out = int(v);
    return true;
}

namespace {
// One item of a parameter stream into buf (256 bytes); a longer item is
// refused rather than read as two.
bool token(FILE *stream, char *buf) { return param_item(stream, buf) == 1; }
}  // namespace

int setukey(FILE *stream, int idxno, int keytyp) {
    ISAMMAPENT *e = isam_entry(idxno);
    if (!e) return ierr(22, idxno < 0 ? 0 : idxno);
    char buf[256];
    if (!token(stream, buf)) return ierr(180, idxno);
    char *copy = zvrtnam(buf);
    if (!copy) return ierr(181, idxno);
    zvputmem(e->idxnam);
    e->idxnam = copy;
    e->keytyp = uint16_t(keytyp);
    return 0;
}

int setudat(FILE *stream, int datno) {
    ISAMMAPENT *e = isam_entry(datno);
    if (!e) return ierr(22, datno < 0 ? 0 : datno);
    char a[256], b[256];
    if (!token(stream, a) || !token(stream, b)) return ierr(183, datno);
    char *ca = zvrtnam(a), *cb = zvrtnam(b);
    if (!ca || !cb) {
        zvputmem(ca);
        zvputmem(cb);
        return ierr(195, datno);
    }
    zvputmem(e->datnam[0]);
    zvputmem(e->datnam[1]);
    e->datnam[0] = ca;
    e->datnam[1] = cb;
    return 0;
}

// ---- File sets ------------------------------------------------------------------

int setimap(int pos, IFIL *ifil, int base, int offset, int stats) {
    INSTGV *g = zvWNGV;
    if (!g || !ifil || !ifil->iidxarr || pos < 0 || pos >= ifil->dnumidx) return ierr(set_uerr(540), 0);
    IIDX &x = ifil->iidxarr[pos];
    int datno = base < 0 ? ifil->tfilno : ifil->dfilno;
    int idxno = base < 0 ? ifil->tfilno + pos + 1 : base + pos;
    int slot = pos + offset;
    if (!isam_entry(idxno) || !isam_entry(datno) || slot < 0 || slot >= kMapIndexes)
        return ierr(set_uerr(22), idxno < 0 ? 0 : idxno);
    if (x.inumseg < 0 || x.inumseg > kMapSegs) return ierr(set_uerr(109), idxno);
    if (x.inumseg > 0 && !x.isegarr) return ierr(set_uerr(540), idxno);
    FCB *dat = tstfnm(datno);
    FCB *xf = fcb_at(idxno);
    bool xopen = xf && (xf->state == 'y' || xf->state == 'v' || xf->state == 'w');
    const FCB *widthof = xopen ? xf : dat;
    int32_t width = widthof && (widthof->hdr.base.hdrflags & kHdr8ByteOffsets) ? 8 : 4;

    // 3. Slot lists and the index entry.
    isam_deflist(datno)[slot] = uint16_t(idxno);
    isam_actlist(datno)[slot] = uint16_t(idxno);
    isam_actlist(idxno)[0] = kMapNone;
    ISAMMAPENT &e = *isam_entry(idxno);
    e.datno = uint16_t(datno);
    e.relidx = uint16_t(slot);
    e.padchar = uint8_t(x.iempchr);
    e.varpart = 0;
    e.keyflags = uint16_t(x.inulkey | (zvchkcidx(datno, slot) ? 16 : 0));
    e.keytyp = uint16_t(x.ikeytyp);

    // 4. Distinct-key levels of a new index.
    int32_t dsegs[4] = {}, dbytes[4] = {};
    int levels = 0;
    if (stats && xopen) {
        levels = setidstseg(&x, dsegs, dbytes, xf->hdr.base.autodup);
        FILEHDRX &h = xf->hdr.ext;
        h.dstlevels = levels;
        for (int i = 0; i < 4; i++) {
            h.dstsegs[i] = uint32_t(i < levels ? dsegs[i] : 0);
            h.dstbytes[i] = uint32_t(i < levels ? dbytes[i] : 0);
        }
    }

    // 5. Segments.
    ISAMSEG *segs = isam_segs(idxno);
    bool varfile = (ifil->dfilmod & 0x4) != 0;
    int32_t fixed = dat ? dat->hdr.base.reclen : ifil->dreclen;
    int32_t sum = 0;
    bool part = false;
    for (int i = 0; i < x.inumseg; i++) {
        const ISEG &sg = x.isegarr[i];
        if (sg.slength < 0) return ierr(set_uerr(634), idxno);
        if (!segment_in_record(sg, varfile, fixed)) return ierr(set_uerr(634), idxno);
        if (sg.segmode & 0x200) {
            if (i == 0) return ierr(set_uerr(895), idxno);
            part = true;
        } else if (part) {
            return ierr(set_uerr(895), idxno);
        }
        ISAMSEG &s = segs[i];
        s = ISAMSEG{uint16_t(sg.soffset), uint16_t(sg.slength), uint16_t(sg.segmode), 0, -1};
        if (serial_mode(sg.segmode)) {
            if (int rc = zvsrlseg(dat, nullptr, nullptr, idxno, i, &sg)) return ierr(rc, idxno);
        }
        if (varfile) {
            int v = varpart_segment(datno, fixed, sg.soffset, sg.slength, sg.segmode);
            if (v < 0) return ierr(set_uerr(-v), idxno);
            if (v) e.varpart = 1;
        }
        if ((sg.segmode & 0x480) && (sg.segmode & 0x80)) return ierr(set_uerr(694), idxno);
        sum += sg.slength;
    }
    if (x.inumseg < kMapSegs) segs[x.inumseg].soffset = kSegEnd;

    // 6. Key length against the segments.
    int32_t want = (x.ikeydup & 1) ? width : 0;
    if (x.ikeylen - sum != want) return ierr(set_uerr(115), idxno);

    // 7. Name, key type, associations.
    if (base != -2) {
        if (x.ridxnam) {
            char *copy = zvrtnam(x.ridxnam);
            if (!copy) return ierr(set_uerr(181), idxno);
            zvputmem(e.idxnam);
            e.idxnam = copy;
        }
        if (int rc = chkrvnum(datno, idxno)) return rc;
        if (int rc = chkrecbyt(datno, idxno)) return ierr(rc, idxno);
    }

    // 8. New distinct-key levels go to the index header.
    if (levels > 0 && xopen) {
        if (int rc = wrthdr(xf)) return ierr(rc, idxno);
    }
    return 0;
}

namespace {

bool open_state(const FCB *f) { return f && (f->state == 'y' || f->state == 'v' || f->state == 'w'); }

// Another open block of the same physical index (same unique id and
// member) that serves a data file; null when none.
FCB *twin_of(const FCB *x) {
    INSTGV *g = zvWNGV;
    uint32_t id[3];
    zvmakid(id, x);
    int32_t size = fcb_table_size(g);
    for (int32_t i = 0; i < size; i++) {
        FCB *y = g->fcbtab[i];
        if (!y || y == x || !open_state(y) || !y->isamdat || y->kind != kKindIndex) continue;
        if (y->hdr.base.kmem == x->hdr.base.kmem && zvfmatch(y, id)) return y;
    }
    return nullptr;
}

// Whether two open data files are the same physical file.
bool same_file(const FCB *a, const FCB *b) {
    if (a == b) return true;
    if (!a || !b) return false;
    uint32_t id[3];
    zvmakid(id, a);
    return zvfmatch(b, id) != 0;
}

}  // namespace

int chkrvnum(int datno, int idxno) {
    INSTGV *g = zvWNGV;
    FCB *x = fcb_at(idxno);
    if (!open_state(x)) return 0;
    FCB *dat = fcb_at(datno);
    int old = x->isamdat ? x->isamdat - 1 : -1;
    if (old < 0) {
        if (FCB *t = twin_of(x)) old = t->isamdat - 1;
    }
    if (old >= 0 && old != datno && !same_file(fcb_at(old), dat)) {
        FCB *of = fcb_at(old);
        char msg[1024];
        snprintf(msg, sizeof msg,
                 "DMAP_ERR: index file %.255s (%d) for data file %.255s (%d) is already associated with "
                 "data file %.255s (%d)",
                 x->name, idxno, dat ? dat->name : "", datno, of ? of->name : "", old);
        zvrcvlog(msg, -199);
        g->uerr_cod = 957;
        return ierr(957, idxno);
    }
    x->isamdat = uint16_t(datno + 1);
    return 0;
}

int clnrvnum(FCB *fcb, int datno) {
    if (!fcb) return 0;
    if (fcb->kind == kKindIndex) {
        for (FCB *m = fcb; m; m = m->nextmember) m->isamdat = 0;
        return 0;
    }
    const uint16_t *list = isam_deflist(datno);
    if (!list) return 0;
    for (int s = 0; s < kMapIndexes && list[s] != kMapNone; s++) {
        FCB *x = fcb_at(list[s]);
        if (x && x->isamdat == datno + 1) x->isamdat = 0;
    }
    return 0;
}

// The record-position index of a data file has keys "D" + the record
// position: a duplicate-key index (its duplicate flag 1) of key length 5 (9
// with 8-byte positions) whose first segment is the constant segment (mode
// 256) of length 1.
int chkrecbyt(int datno, int idxno) {
    FCB *dat = tstifnm(datno);
    if (!dat) return zvWNGV->uerr_cod;
    FCB *x = fcb_at(idxno);
    const ISAMSEG *segs = isam_segs(idxno);
    if (dat->rposidx || !open_state(x) || !segs || dat->kind == kKindIndex) return 0;
    int32_t want = (dat->hdr.base.hdrflags & kHdr8ByteOffsets) ? 9 : 5;
    if (x->hdr.base.keylen != want || x->hdr.base.autodup != 1) return 0;
    if (segs[0].segmode != 256 || segs[0].slength != 1) return 0;
    dat->rposidx = x;
    return 0;
}

void isam_index_closing(FCB *index) {
    INSTGV *g = zvWNGV;
    int32_t size = fcb_table_size(g);
    for (FCB *m = index; m; m = m->nextmember) {
        for (int32_t i = 0; i < size; i++) {
            FCB *f = g->fcbtab[i];
            if (f && f->rposidx == m) f->rposidx = nullptr;
        }
        // Its in-memory condition goes with the file.
        if (ISAMMAPENT *e = isam_entry(m->filno); e && e->inuse != kMapFree)
            e->keyflags &= uint16_t(~kKeyCondInMemory);
    }
}

int chkxisam(int datno, int chkseg, int *count) {
    INSTGV *g = zvWNGV;
    FCB *f = tstfnm(datno);
    if (!f) return -(g ? g->uerr_cod : 47);
    auto refused = [](const FCB *b) {
        return (b->hdr.base.flmode & 0x09) || b->hdr.base.sfiltyp == kSfMember;
    };
    if (refused(f)) {
        ierr(56, datno);
        return -56;
    }
    auto segments = [chkseg](const FCB *b) {
        return chkseg && (b->hdr.base.hdrflags & kHdrSegmented) && b->hdr.ext.nsegs > 1 ? int(b->hdr.ext.nsegs)
                                                                                         : 1;
    };
    int n = segments(f);
    int flagged = (f->hdr.base.flmode & 0x10) ? 1 : 0;
    const uint16_t *list = isam_actlist(datno);
    for (int s = 0; list && s < kMapIndexes && list[s] != kMapNone; s++) {
        if (list[s] == kMapShared) continue;
        FCB *x = fcb_at(list[s]);
        if (!open_state(x) || (x->kind == kKindIndex && x->hdr.base.kmem != 0)) continue;
        if (refused(x)) {
            ierr(56, list[s]);
            return -56;
        }
        n += segments(x);
        if (x->hdr.base.flmode & 0x10) flagged++;
    }
    if (count) *count = flagged;
    return n;
}

void clearifil(int filno, int index, int mode) {
    ISAMMAPENT *e = isam_entry(filno);
    if (!e) return;
    e->inuse = kMapFree;
    e->datno = kMapNone;
    if (index) {
        zvputmemn(reinterpret_cast<void **>(&e->idxnam));
        e->relidx = kMapNone;
        e->keyflags = 0;
        e->keytyp = kMapNone;
        return;
    }
    zvputmemn(reinterpret_cast<void **>(&e->datnam[0]));
    zvputmemn(reinterpret_cast<void **>(&e->datnam[1]));
    if (mode == 1) e->relidx = kMapNone;
    setzvEOK(filno, 0);
}

void rtfisam() {
    INSTGV *g = zvWNGV;
    if (!g || !idx_state(g).isamtab) return;
    for (int32_t i = 0; i < idx_state(g).isamtabn; i++) {
        FCB *f = fcb_at(i);
        ISAMMAPENT *e = isam_entry(i);
        if (!f || (f->state != 'y' && f->state != 'v') || e->inuse == kMapFree) continue;
        zvputmemn(reinterpret_cast<void **>(&e->datnam[0]));
        zvputmemn(reinterpret_cast<void **>(&e->datnam[1]));
    }
}

}  // namespace zv

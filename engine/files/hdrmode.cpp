// Header fields by mode number: GETFIL reads one attribute of an open file,
// PUTHDR changes one header attribute and writes the header, PUTFIL changes
// the file mode, GETFILX copies extended attributes.
//
// Both work on the host-order header copy at the start of the file's block.
// 64-bit attributes travel as a low word (the result or the value) and a
// high word in the instance's high-word cell.
//
// PUTHDR decides every refusal of a mode before it changes anything: a
// refused call leaves the header copy, flmode2 and the status flags exactly
// as they were. A change to a header field is written at once (wrthdr)
// unless the file mode has 0x20.
#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/filenum.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/files/header.h"
#include "engine/files/segments.h"
#include "engine/isam/isam_services.h"

namespace {

// Status flags (FCB::stflags) that PUTHDR modes set and clear.
constexpr uint32_t kStRefresh = 0x08;          // mode 33
constexpr uint32_t kStHeaderHeld = 0x8000;     // modes 43 and 44
constexpr uint32_t kStMode45 = 0x01000000;     // mode 45 (excludes mode 50's)
constexpr uint32_t kStMode50 = 0x04000000;     // mode 50 (excludes mode 45's)
constexpr uint32_t kStNoShare = 0x3C0000;      // PUTFIL refuses the shared mode
// flmode2 bits read here.
constexpr uint32_t kFlmode2PartMember = 0x01000000;
constexpr uint32_t kFlmode2PartAttr = 0x02000000;
constexpr uint32_t kFlmode2PartIndex = 0x08000000;
constexpr uint32_t kFlmode2HdrBits = 0x0E10;   // follow header flags 0x0E10
constexpr uint16_t kHdrFlagsExtGroup = 0x4A;
constexpr uint32_t kLookupsOff = 0x00800000;   // instance status: rule lookups off

bool is_index(const FCB *f) { return f->kind == kKindIndex; }
bool has_ext(const FCB *f) { return (f->hdr.base.hdrflags & kHdrHasExt) != 0; }
bool wide(const FCB *f) { return (f->hdr.base.hdrflags & kHdr8ByteOffsets) != 0; }
bool part_host(const FCB *f) { return (f->hdr.ext.flmode2 & kFlmode2PartHost) != 0; }

// A 64-bit attribute: its low word, with its high word in the cell.
int32_t pair(uint64_t v) {
    zvSETHGHi(int32_t(v >> 32));
    return int32_t(uint32_t(v));
}

int32_t getfil_fail(int code) {
    zvSETHGHi(0);
    zv::set_uerr(code);
    return -1;
}

// A pair field set from the call: 64-bit with 8-byte offsets, else the low
// word only.
void put_pair(const FCB *f, uint32_t *hi, uint32_t *lo, uint32_t vh, uint32_t vl) {
    if (wide(f)) *hi = vh;
    *lo = vl;
}

// A pair field set to the call's value minus one.
void put_end(const FCB *f, uint32_t *hi, uint32_t *lo, uint32_t vh, uint32_t vl) {
    if (wide(f)) {
        zv::split64(zv::join64(vh, vl) - 1, hi, lo);
    } else {
        *lo = vl - 1;
    }
}

void set_flag(uint32_t *word, uint32_t bit, bool on) {
    if (on) *word |= bit;
    else *word &= ~bit;
}

// Header flags asked for by modes 19 (replace), 20 (add) and 21 (clear):
// 0 with *out set, or 99 / 419 when the file cannot take them.
int header_flags(const FCB *f, uint32_t v, int mode, uint16_t *out) {
    const FILEHDR &b = f->hdr.base;
    uint16_t F = b.hdrflags;
    // 1. Bits that say the extended header exists are never cleared.
    if (!(F & kHdrFlagsExtGroup)) {
        if (mode != 21) v &= ~uint32_t(kHdrFlagsExtGroup);
    } else if (mode == 19) {
        v |= F & kHdrFlagsExtGroup;
    } else if (mode == 21) {
        v &= ~uint32_t(F & kHdrFlagsExtGroup);
    }
    if (mode == 21) {
        // 2. Clearing 0x10 clears 0x800 with it.
        if (v & 0x10) v |= 0x800;
    } else {
        // 2. 0x800 brings 0x10; both need the file mode's bits.
        if (v & 0x800) v |= 0x10;
        if ((v & 0x10) && !(b.flmode & 0x10)) return 99;
        if ((v & 0x800) && !(b.flmode & 0x20)) return 99;
        // 3. Leaf-reservation kinds.
        if (v & kHdrLeafReserve) {
            if ((v & kHdrLeafReserve) == kHdrLeafReserve) return 99;
            if ((v & 0x200) && ((F & 0x400) || ((b.flpmode & 0x10) && !(b.flpmode & 0x20)))) return 99;
            if ((v & 0x400) && ((F & 0x200) || (b.flmode & 0x20))) return 99;
            if (is_index(f) && f->nodesize && b.node4 == f->nodesize / 4) return 99;
            const FCB *h = f->hostfcb;
            if (b.sfiltyp == kSfMember && h && h != f && ((h->hdr.base.hdrflags ^ v) & kHdrLeafReserve))
                return 419;
        }
    }
    // 4. The new flags.
    uint32_t n = mode == 19 ? v : mode == 20 ? (F | v) : (F & ~v);
    *out = uint16_t(n);
    return 0;
}

// Mode 67: the partition attribute (header flags 2 bit 0x20000) of a
// partitioned host and of its indexes. Writes no header; every block it
// changes gets the update flag so that the close writes it.
int partition_attribute(FCB *h, bool set) {
    INSTGV *g = zvWNGV;
    if (!(h->hdr.ext.flmode2 & kFlmode2PartAttr)) return 0;
    bool a = (h->hdr.base.hdrflags2 & kHdr2Partition) != 0;
    int refusal = set ? zv::partition_refusal(h) : 0;
    if (set && !a && refusal) {
        // Refused before any index changes, when an index would change.
        for (int slot = 0; slot < 64; slot++) {
            int x = zv::isam_map_index(h->filno, slot);
            if (x == -1) break;
            if (x == -66) continue;
            FCB *ix = tstfnm(x);
            if (!ix) return g->uerr_cod;
            if (ix->hdr.ext.flmode2 & kFlmode2PartIndex) return zv::set_uerr(refusal);
        }
    }
    int counted = 0;
    for (int slot = 0; slot < 64; slot++) {
        int x = zv::isam_map_index(h->filno, slot);
        if (x == -1) break;
        if (x == -66) continue;
        FCB *ix = tstfnm(x);
        if (!ix) return g->uerr_cod;
        if (!(ix->hdr.ext.flmode2 & kFlmode2PartIndex)) continue;
        counted++;
        if (set == a) continue;
        set_flag(&ix->hdr.base.hdrflags2, kHdr2Partition, set);
        ix->hdr.ext.wide64[0] = 0;
        ix->hdr.ext.wide64[1] = 0;
        FCB *ih = ix->hostfcb ? ix->hostfcb : ix;
        ih->hdr.base.updflg = kUpdChanged;
    }
    if (set && !a && counted) {
        h->hdr.base.hdrflags2 |= kHdr2Partition;
        h->hdr.base.updflg = kUpdChanged;
    } else if (!set && a) {
        h->hdr.base.hdrflags2 &= ~kHdr2Partition;
        h->hdr.base.updflg = kUpdChanged;
    }
    return zv::set_uerr(0);
}

// Modes of PUTHDR that change a header field (and write the header).
bool is_field_mode(int mode) {
    return (mode >= 1 && mode <= 7) || (mode >= 17 && mode <= 22) || mode == 65 || mode == 66;
}

int puthdr(int filno, uint32_t value, int mode) {
    INSTGV *g = zvWNGV;
    uint32_t hw = uint32_t(zvGETHGHi());
    zv::set_uerr(0);
    if (mode == 39) return zv::set_uerr(454);
    if (mode == 46 && filno >= -3 && filno <= -1) return zv::set_uerr(454);
    if (mode == 48) {
        if (value == 1) g->statusword |= kLookupsOff;
        else if (value == 0) g->statusword &= ~kLookupsOff;
        return 0;
    }
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    FILEHDR &b = f->hdr.base;
    FILEHDRX &x = f->hdr.ext;
    if (!(mode & 0x20) && (b.flmode & (kOpenShared | kOpnReadOnly))) return zv::set_uerr(62);
    if (mode < 0 || mode > 67) return zv::set_uerr(116);
    if ((mode == 65 || mode == 66) && !has_ext(f)) return zv::set_uerr(734);

    switch (mode) {
    case 1:
        put_pair(f, &x.sernumh, &b.sernum, hw, value);
        break;
    case 2:
        b.clstime = value;
        break;
    case 3:
        put_pair(f, &x.numenth, &b.nument, hw, value);
        break;
    case 4:
        b.cretime = value;
        break;
    case 5:
        put_end(f, &x.numrech, &b.numrec, hw, value);
        break;
    case 6:
        put_end(f, &x.phyendh, &b.phyend, hw, value);
        break;
    case 7:
        put_pair(f, &x.delstkh, &b.delstk, hw, value);
        break;
    case 17:
        // A definition block would take the alignment too; none is kept yet.
        b.align = uint8_t(value);
        break;
    case 18:
        b.flavor = uint8_t(value);
        break;
    case 19:
    case 20:
    case 21: {
        uint16_t n = 0;
        if (int rc = header_flags(f, value, mode, &n)) return zv::set_uerr(rc);
        b.hdrflags = n;
        if ((n ^ x.flmode2) & kFlmode2HdrBits)
            x.flmode2 = (x.flmode2 & ~kFlmode2HdrBits) | (n & kFlmode2HdrBits);
        break;
    }
    case 22: {
        uint32_t step;
        if (b.sfiltyp == kSfHost) step = (value & 0x8000) ? value : 0x8000;
        else if (is_index(f) && b.kmem > 0) step = 0xFFFF;
        else if ((b.flpmode & 0x20) || (b.hdrflags & kHdrMirror))
            step = zv::zvsetextsiz(f, value, is_index(f) ? f->nodesize : f->reclen);
        else step = value;
        b.extsiz = uint16_t(step > 0xFFFF ? 0xFFFF : step);
        break;
    }
    case 23:
        if (is_index(f)) return zv::set_uerr(48);
        set_flag(&f->stflags, kStNoSerial, value != 0);
        return 0;
    case 33:
        if (is_index(f)) return zv::set_uerr(48);
        if ((x.flmode2 & kFlmode2PartMember) && zv::is_partition_member(f)) return zv::set_uerr(899);
        set_flag(&f->stflags, kStRefresh, value != 0);
        if (!value) zv::clear_isam_position(f);
        return 0;
    case 34:
    case 35:
    case 36:
        if (b.sfiltyp == kSfMember) return zv::set_uerr(48);
        return zv::set_uerr(zvsplflush(f, mode));
    case 40:
    case 41:
        return zv::set_uerr(is_index(f) ? 48 : 454);
    case 37:
    case 38:
    case 46:
    case 47:
    case 49:
        return zv::set_uerr(454);
    case 43:
    case 44:
        if (b.flmode & 0x20) {
            g->isamfil_num = uint16_t(filno);
            return zv::set_uerr(99);
        }
        set_flag(&f->stflags, kStHeaderHeld, value != 0);
        if (mode == 43) {
            for (int slot = 0; slot < 64; slot++) {
                int ix = zv::isam_map_index(filno, slot);
                if (ix == -1) break;
                if (ix == -66) continue;
                FCB *xf = zv::fcb_at(ix);
                if (xf && (xf->state == 'y' || xf->state == 'v' || xf->state == 'w'))
                    set_flag(&xf->stflags, kStHeaderHeld, value != 0);
            }
        }
        return 0;
    case 45:
    case 50: {
        if (is_index(f)) return zv::set_uerr(48);
        if ((x.flmode2 & kFlmode2PartMember) && zv::is_partition_member(f)) return zv::set_uerr(899);
        uint32_t mine = mode == 45 ? kStMode45 : kStMode50;
        uint32_t other = mode == 45 ? kStMode50 : kStMode45;
        if (value && (f->stflags & other)) return zv::set_uerr(1000);
        set_flag(&f->stflags, mine, value != 0);
        return 0;
    }
    case 65: {
        uint64_t v = zv::join64(hw, value);
        if (v <= zv::join64(x.phyendh, b.phyend)) return zv::set_uerr(667);
        bool unset = x.maxsizh == 0 && x.maxsizl == 0;
        x.maxsizh = hw;
        x.maxsizl = value;
        if (unset) x.flmode2 |= kFlmode2MaxSize;
        break;
    }
    case 66:
        if (value) {
            if (x.extsiz32 == 0) x.flmode2 |= kFlmode2Ext32;
            x.extsiz32 = value;
        } else if (x.extsiz32) {
            if (b.flpmode & 0x20) return zv::set_uerr(749);
            x.extsiz32 = 0;
            x.flmode2 &= ~kFlmode2Ext32;
        }
        break;
    case 67:
        if (!part_host(f) || is_index(f)) return zv::set_uerr(48);
        return partition_attribute(f, value != 0);
    default:
        return zv::set_uerr(116);
    }

    // A header field changed: on disk at once unless the file mode defers it.
    if (is_field_mode(mode) && !(b.flmode & 0x20)) {
        if (int rc = wrthdr(f)) return rc;
    }
    if (mode == 4 && (b.hdrflags & kHdrSegmented)) {
        if (int rc = zv::zvputsegmdef(f)) return zv::set_uerr(rc);
    }
    if (mode == 20 && part_host(f)) return zv::set_uerr(zv::chgpartattrs(f, value));
    return zv::set_uerr(0);
}

}  // namespace

extern "C" {

ZV_API int32_t GETFIL(int filno, int mode) {
    INSTGV *g = zvWNGV;
    if (!g) return -1;
    zv::set_uerr(0);
    zvSETHGHi(0);
    FCB *f = tstfnm(filno);
    if (!f) {
        if (!g->uerr_cod) zv::set_uerr(26);
        return -1;
    }
    const FILEHDR &b = f->hdr.base;
    const FILEHDRX &x = f->hdr.ext;
    switch (mode) {
    case 0:
        return b.reclen;
    case 1:
        return int16_t(b.keylen);
    case 2:
        return b.clstyp;
    case 3:
        return b.flmode;
    case 4:
        return zv::isam_map_value(filno, 0);
    case 5:
        return b.ktype;
    case 6:
        return int8_t(f->dupmode1);
    case 7:
        return zv::isam_map_value(filno, 1);
    case 10:
        return pair(zv::join64(x.numrech, b.numrec) + 1);
    case 11:
        return pair(zv::join64(x.phyendh, b.phyend) + 1);
    case 12:
        return int32_t(f->nodesize);
    case 13:
        return int16_t(b.kmem);
    case 14:
        return b.keypad;
    case 15:
        return f->schmap ? f->schmap[2] : 0;   // without a definition block: no delimiter
    case 16:
        return f->schmap ? f->schmap[3] : 32;  // without one: blank padding
    case 18:
        return zv::isam_map_value(filno, 2);
    case 20:
        return int32_t(b.hdrflags2);
    case 21:
        if (f->schmap) return f->schmap[1];
        return b.align ? b.align : 8;
    case 22:
        return b.extsiz;
    case 23:
        return b.sfiltyp;
    case 24:
        return int32_t(b.supmbr);
    case 25:
        return b.updflg;
    case 26:
        return b.hdrflags;
    case 27:
        return int32_t(x.extsiz32);
    case 28:
        return int32_t(x.firstext);
    case 29:
        return int16_t(b.nmem);
    case 30:
        if (!part_host(f) || is_index(f)) return getfil_fail(48);
        return int32_t(x.crew9);
    case 31:
        if (b.sfiltyp == kSfMember) return pair(zv::join64(x.sfmemberh, uint32_t(b.sfmember)));
        if (is_index(f)) return getfil_fail(48);
        if (f->kind == kKindVariable) return int32_t(f->nodesize);
        return pair(zv::first_record_offset(f));
    case 32:
        return getfil_fail(454);
    case 33:
        return int32_t(x.flmode2);
    case 34:
        return int32_t(x.flmode3);
    case 35:
        return int32_t(b.fileid);
    case 36:
        return int32_t(b.cretime);
    case 37:
        return int32_t(b.servid);
    case 38:
    case 39:
    case 40: {
        if (is_index(f)) return getfil_fail(48);
        if (!part_host(f)) return getfil_fail(713);
        int32_t out = 0;
        if (int rc = zv::partition_active(f, mode, &out)) return getfil_fail(rc);
        return out;
    }
    case 41: {
        uint16_t w;
        memcpy(&w, reinterpret_cast<const unsigned char *>(&f->hdr) + 262, sizeof w);
        return w;
    }
    default:
        return getfil_fail(116);
    }
}

ZV_API int GETFILX(int filno, int mode, void *buffer, int32_t *length) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    zv::set_uerr(0);
    if (!buffer || !length) return zv::set_uerr(540);
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    unsigned char attr[8];
    int32_t size;
    if (mode == 0) {
        memcpy(attr, &f->stflags, 4);
        memcpy(attr + 4, &f->opflags, 4);
        size = 8;
    } else if (mode == 1) {
        attr[0] = (f->stflags & kStEncrypted) ? 1 : 0;
        size = 1;
    } else {
        return zv::set_uerr(116);
    }
    bool fits = *length >= size;
    *length = size;
    if (!fits) return zv::set_uerr(153);
    memcpy(buffer, attr, size_t(size));
    return 0;
}

ZV_API int PUTHDR(int filno, int32_t value, int mode) {
    if (!zvWNGV) return 47;
    return puthdr(filno, uint32_t(value), mode);
}

ZV_API int PUTFIL(int filno, int mode) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    zv::set_uerr(0);
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    FILEHDR &b = f->hdr.base;
    if (b.flmode & (kOpenShared | kOpnReadOnly)) return zv::set_uerr(62);
    if (is_index(f) && b.kmem > 0) return zv::set_uerr(23);
    uint32_t m = uint32_t(mode) & 0xFFFF;
    if (mode == 1) {
        if (f->stflags & kStNoShare) return zv::set_uerr(46);
        m = b.flmode | kOpenShared;
    }
    m = (m & ~uint32_t(kOpnPermanent)) | (b.flmode & kOpnPermanent);
    if (bool(m & kOpenVarlen) != (f->kind == kKindVariable)) return zv::set_uerr(48);
    for (FCB *k = f; k; k = k->nextmember) {
        k->hdr.base.flmode = uint16_t(m);
        k->hdr.base.flpmode = uint16_t(m & 0x86F4);
    }
    int first = 0;
    for (FCB *k = f; k; k = k->nextmember) {
        if (k->state == 'm') continue;
        int rc = wrthdr(k);
        if (rc && !first) first = rc;
    }
    if (!first && part_host(f)) first = zv::chgpartmode(f, int(m));
    return zv::set_uerr(first);
}

ZV_API int zvSYSPUT(void) { return zv::set_uerr(446); }

}  // extern "C"

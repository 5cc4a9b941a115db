// Identity fields and data-access resources.
//
// A data file may carry one identity field: a field of its record schema
// that every new record receives from a counter. The field's definition and
// its counter live in a data-access resource, a 256-byte resource of type 11
// named "QV!DAR" (layout in identity.h). The first data-access resource of a
// file is its anchor (kind 0), whose position the 384-byte extended header
// keeps at +392/+396, followed by one count byte per kind at +400..+407.
// At open the kind-1 body is mapped into the file's control block (IDBLK);
// values are taken from the block in memory and the block is written back
// over its resource at close, at ZVFLUSH and when it is deleted.
//
// Invariants:
//  1. Only a header with the 384-byte extended part has anchor and count
//     bytes; any other header has no data-access resources at all.
//  2. The block's next value is never at or below a value already handed
//     out in the direction of the increment, except after an explicit
//     reset; after an overflow the block refuses (1002) until reset.
//  3. Identity arithmetic is two's complement over 64 bits, computed
//     unsigned, so a wrap is seen as "next below value" and never as
//     undefined signed overflow.
//  4. A block marked kDarChangedMem differs from its resource on disk.
#include "engine/core/bytes.h"
#include "engine/files/identity.h"

#include <bit>
#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/pagecache.h"
#include "engine/files/flush.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/expr/schemamap.h"
#include "engine/files/fcbops.h"
#include "engine/files/header.h"
#include "engine/index/index_services.h"
#include "engine/isam/isam_services.h"

namespace zv {

namespace {

// Fields of a resource body are little-endian.
using namespace le;


// The resource layer takes and gives the type header (type, number) in host
// order; the rest of a type-11 body is stored as it is.
void type_header_to_host(unsigned char *body) {
    uint32_t t = get32(body), n = get32(body + 4);
    memcpy(body, &t, 4);
    memcpy(body + 4, &n, 4);
}
void type_header_from_host(unsigned char *body) {
    uint32_t t, n;
    memcpy(&t, body, 4);
    memcpy(&n, body + 4, 4);
    put32(body, t);
    put32(body + 4, n);
}

constexpr bool kLittleEndianHost = std::endian::native == std::endian::little;

constexpr char kDarName[] = "QV!DAR";
constexpr char kIdentityText[] = "Identity Field";
constexpr char kAnchorText[] = "DAR Anchor";
constexpr uint32_t kDarType = 11;
constexpr int kDarKinds = 8;  // kinds 1..8 have count bytes

inline bool is_index(const FCB *f) { return f->kind == kKindIndex; }
inline bool wide(const FCB *f) { return (f->hdr.base.hdrflags & kHdr8ByteOffsets) != 0; }
// Whether the header holds the anchor and the count bytes.
inline bool has_dar_header(const FCB *f) {
    return (f->hdr.base.hdrflags & kHdrHasExt) && (f->hdr.base.hdrflags2 & kHdr2Ext384);
}
inline uint64_t anchor_pos(const FCB *f) { return join64(f->hdr.ext.daranchh, f->hdr.ext.daranchl); }
inline bool mode_refuses(const FCB *f) { return (f->hdr.base.flmode & (0x0001 | 0x0008)) != 0; }
inline bool active(const FCB *f) { return f->idblk && !(f->idblk->state & kDarDeleted); }
inline uint64_t block_pos(const IDBLK *b) { return join64(b->posh, b->posl); }
inline void mark_changed(IDBLK *b) { b->state |= kDarChangedMem | kDarChanged; }

// A partitioned host whose members are open.
bool partition_members_open(const FCB *f) {
    return (f->hdr.ext.flmode2 & kFlmode2PartHost) && partition_member(f, 0) >= 0;
}

// Runs a resource call with type-11 resources permitted.
struct Type11Permit {
    INSTGV *g;
    uint8_t old;
    Type11Permit() : g(zvWNGV), old(g->restype11) { g->restype11 = 1; }
    ~Type11Permit() { g->restype11 = old; }
};

// Writes the header and flushes the file, unless its mode defers both.
int write_and_flush(FCB *f) {
    if (f->hdr.base.flmode & 0x0010) return 0;
    if (int rc = wrthdr(f)) return rc;
    if (!fcb_is_memory(f)) {
        if (int rc = zvflushd(f, 0)) return rc;
    }
    if (f->opnmode & kOpnReadOnly) return 0;
    return zvsavefrc(f);
}

// ---- Record schema ----------------------------------------------------------------

// Type and declared length of field fld of the schema map; false when absent.
bool schema_type(const unsigned char *map, uint32_t fld, uint32_t *type, uint32_t *len) {
    SchemaField e{};
    if (schema_field(map, fld, &e) != 0) return false;
    *type = e.type;
    *len = e.len;
    return true;
}

// Fixed length of the value types that an identity field may have (0 for
// the others, whose width then comes from the schema length alone).
uint32_t type_width(uint32_t type) {
    switch (type) {
    case ZV_CHAR:
    case ZV_CHARU:
    case ZV_BOOL:
        return 1;
    case ZV_INT2:
    case ZV_INT2U:
        return 2;
    case ZV_INT4:
    case ZV_INT4U:
    case ZV_MONEY:
    case ZV_DATE:
    case ZV_TIME:
    case ZV_SFLOAT:
    case ZV_TIME_MS:
        return 4;
    case ZV_BIGINT:
    case ZV_UBIGINT:
    case ZV_DFLOAT:
    case ZV_TIMES:
    case ZV_CURRENCY:
    case ZV_TIMES_MS:
        return 8;
    default:
        return 0;
    }
}

bool unsigned_type(uint32_t type) {
    return type == ZV_CHARU || type == ZV_INT2U || type == ZV_INT4U || type == ZV_UBIGINT;
}

// Where field fld of the file's records lies: its offset and declared
// length, and whether it lies in the fixed part at a fixed offset. 0 or the
// schema's error (199, 433).
int field_place(FCB *f, uint32_t fld, int32_t *off, int32_t *len, bool *fixed) {
    const unsigned char *map = f->schmap;
    if (!map) return 199;
    if (int64_t(fld) >= int64_t(schema_fields(map))) return 433;
    int32_t fixlen = f->hdr.base.reclen;
    *off = -1;
    *len = 0;
    *fixed = false;
    // The offset inside the fixed part does not depend on the record's
    // bytes: an image of zeros of the fixed length shows it.
    unsigned char *image = static_cast<unsigned char *>(zvgetmem(fixlen > 0 ? fixlen : 1));
    if (!image) return 10;
    int varseen = 0;
    int32_t flen = 0;
    const unsigned char *p = zvfldadr(image, map, &flen, &varseen, fixlen, fixlen, fld);
    if (p) {
        *off = int32_t(p - image);
        *len = flen;
        *fixed = !varseen && *off + (flen > 0 ? flen : 1) <= fixlen;
    }
    zvputmem(image);
    if (!*fixed) {
        uint32_t type = 0, dlen = 0;
        if (schema_type(map, fld, &type, &dlen)) *len = int32_t(dlen);
        *off = -1;
    }
    set_uerr(0);
    return 0;
}

// Signedness and width class from the field's type; a requested kIdUnsigned
// or kIdSigned forces the signedness. 0 or the schema's error.
int set_xtdatrIDfield(FCB *f, IDBLK *b, uint32_t request) {
    uint32_t type = 0, len = 0;
    if (!f->schmap) return 199;
    if (!schema_type(f->schmap, uint32_t(b->fldno), &type, &len)) return 433;
    bool uns = unsigned_type(type);
    if (request & kIdUnsigned) uns = true;
    if (request & kIdSigned) uns = false;
    uint32_t w = len ? len : type_width(type);
    if (w > 8) w = 8;
    b->flags = (b->flags & ~(kIdUnsigned | kIdSigned)) | kIdFromSchema | (uns ? kIdUnsigned : kIdSigned);
    b->wclass = int32_t(w);
    return 0;
}

// Where the identity field lies in a record image: its offset and width
// (at most 8). With `learn`, an unknown offset (-1) is recorded: the
// offset when the field lies in the fixed part, else -2 (looked up for
// every record). 0, or 445 (the image ends before the field) or the
// schema's error.
int locate_field(FCB *f, const unsigned char *rec, int32_t reclen, bool learn, int32_t *off, int32_t *width) {
    IDBLK *b = f->idblk;
    *off = b->fldoff;
    *width = b->width;
    if (*off < 0) {
        if (!f->schmap) return 199;
        int32_t len = 0;
        int varseen = 0;
        const unsigned char *p = zvfldadr(rec, f->schmap, &len, &varseen, reclen, f->hdr.base.reclen,
                                          uint32_t(b->fldno));
        if (!p) {
            int rc = zvWNGV->uerr_cod;
            return rc ? rc : 445;
        }
        *off = int32_t(p - rec);
        if (learn && b->fldoff == -1)
            b->fldoff = (!varseen && *off + len <= int32_t(f->hdr.base.reclen)) ? *off : -2;
        if (*width <= 0) *width = len;
    }
    if (*width > 8) *width = 8;
    if (*width <= 0 || *off < 0 || int64_t(*off) + *width > reclen) return 445;
    return 0;
}

// ---- The in-memory block ------------------------------------------------------------

IDBLK *new_block() { return static_cast<IDBLK *>(zvgetmem(int32_t(sizeof(IDBLK)))); }

void free_block(FCB *f) {
    if (f->idblk) zvputmem(f->idblk);
    f->idblk = nullptr;
}

// Writes the block as the body of its resource (through the data cache).
int write_block(FCB *f, const IDBLK *b) {
    unsigned char body[kDarBody];
    encode_dar(*b, body);
    uint32_t origin = wide(f) ? 30 : 22;
    uint64_t at = block_pos(b) + origin;
    return izvio81x(1, f, uint32_t(at >> 32), uint32_t(at), body, kDarBody, nullptr, origin);
}

// Takes the next value: 0, or 1002 when the field has overflowed.
int assign_next(FCB *f, int64_t *out) {
    IDBLK *b = f->idblk;
    if (b->flags & kIdOverflow) return 1002;
    int64_t value = b->next;
    b->next = int64_t(uint64_t(b->next) + uint64_t(b->incr));
    zvWNGV->lastid = value;
    if (testIDfield_overflow(b, value)) {
        b->flags |= kIdOverflow;
        b->next = value;
    }
    mark_changed(b);
    *out = value;
    return 0;
}

// The block of an open data file with an active identity field, or null
// with the error set (the file's, 48 index, 914 none).
FCB *identity_file(int filno, bool need_active = true) {
    FCB *f = tstfnm(filno);
    if (!f) return nullptr;
    if (is_index(f)) {
        set_uerr(48);
        return nullptr;
    }
    if (need_active && !active(f)) {
        set_uerr(914);
        return nullptr;
    }
    return f;
}

}  // namespace

// ---- Codec ---------------------------------------------------------------------------------

bool decode_dar(const unsigned char *p, int32_t len, IDBLK *b) {
    if (!p || len < kDarBody) return false;
    memcpy(b->raw, p, kDarBody);
    b->type = get32(p);
    b->number = get32(p + 4);
    b->kind = get32(p + 16);
    b->version = get16(p + 20);
    b->state = get16(p + 22);
    b->posh = get32(p + 24);
    b->posl = get32(p + 28);
    b->start = int64_t(get64(p + 32));
    b->next = int64_t(get64(p + 40));
    b->incr = int64_t(get64(p + 48));
    b->fldno = int32_t(get32(p + 56));
    b->fldoff = int32_t(get32(p + 60));
    b->width = int32_t(get32(p + 128));
    b->savedoff = int32_t(get32(p + 132));
    b->savedwidth = int32_t(get32(p + 136));
    b->known = int32_t(get32(p + 140));
    b->flags = get32(p + 144);
    b->wclass = int32_t(get32(p + 148));
    return true;
}

void encode_dar(const IDBLK &b, unsigned char *p) {
    memcpy(p, b.raw, kDarBody);
    put32(p, b.type);
    put32(p + 4, b.number);
    put32(p + 16, b.kind);
    put16(p + 20, b.version);
    put16(p + 22, b.state);
    put32(p + 24, b.posh);
    put32(p + 28, b.posl);
    put64(p + 32, uint64_t(b.start));
    put64(p + 40, uint64_t(b.next));
    put64(p + 48, uint64_t(b.incr));
    put32(p + 56, uint32_t(b.fldno));
    put32(p + 60, uint32_t(b.fldoff));
    put32(p + 128, uint32_t(b.width));
    put32(p + 132, uint32_t(b.savedoff));
    put32(p + 136, uint32_t(b.savedwidth));
    put32(p + 140, uint32_t(b.known));
    put32(p + 144, b.flags);
    put32(p + 148, uint32_t(b.wclass));
}

// ---- Ranges -------------------------------------------------------------------------------

int64_t maxvalsgn(int w) {
    if (w <= 0 || w >= 8) return INT64_MAX;
    return int64_t((uint64_t(1) << (8 * w - 1)) - 1);
}

int64_t minvalsgn(int w) {
    if (w <= 0 || w >= 8) return INT64_MIN;
    return -int64_t(uint64_t(1) << (8 * w - 1));
}

uint64_t maxvaluns(int w) {
    if (w <= 0 || w >= 8) return UINT64_MAX;
    return (uint64_t(1) << (8 * w)) - 1;
}

int testIDfield_parameters(uint32_t flags, int w, int64_t start, int64_t incr) {
    if ((flags & kIdNoRange) || w <= 0 || w >= 8) return 0;
    if (flags & kIdUnsigned) {
        if (uint64_t(start) > maxvaluns(w)) return 1002;
    } else if (start > maxvalsgn(w) || start < minvalsgn(w)) {
        return 1002;
    }
    if (w <= 3) {
        if (incr > 0 && incr > maxvalsgn(w)) return 1002;
        if (incr <= 0 && incr < minvalsgn(w)) return 1002;
    }
    return 0;
}

bool testIDfield_overflow(const IDBLK *b, int64_t value) {
    if (b->flags & kIdNoRange) return false;
    int w = b->wclass;
    if (b->flags & kIdUnsigned) {
        uint64_t v = uint64_t(value), n = uint64_t(b->next);
        if (b->incr > 0) return n < v || n > maxvaluns(w);
        return n > v;
    }
    int64_t n = b->next;
    if (b->incr > 0) return n < value || n > maxvalsgn(w);
    return n > value || n < minvalsgn(w);
}

// ---- Mapping and writing back --------------------------------------------------------

int zvmapDARtoFCB(FCB *f, const unsigned char *body) {
    IDBLK tmp;
    if (!decode_dar(body, kDarBody, &tmp)) return set_uerr(404);
    if (tmp.kind != kDarIdentity) return set_uerr(911);
    if (tmp.state & kDarDeleted) return set_uerr(918);
    IDBLK *b = f->idblk ? f->idblk : new_block();
    if (!b) return set_uerr(10);
    *b = tmp;
    f->idblk = b;
    b->state &= uint16_t(~(kDarChangedMem | kDarChanged));
    if (!b->known) b->fldoff = -1;
    bool skip = (b->flags & (kIdFromSchema | kIdByCaller)) || (f->hdr.base.flmode & 0x0008) || zvWNGV->idnomapcheck;
    if (!skip && set_xtdatrIDfield(f, b, 0) == 0) {
        if (testIDfield_parameters(b->flags, b->wclass, b->next, b->incr)) b->flags |= kIdOverflow;
        b->flags |= kIdFromSchema;
    }
    return set_uerr(0);
}

void identity_drop(FCB *f) { free_block(f); }

int identity_flush(FCB *f) {
    if (!f || !f->idblk) return 0;
    IDBLK *b = f->idblk;
    if (!(b->state & kDarChangedMem) || (b->state & kDarDeleted)) return 0;
    return zvmapFCBtoDAR(f, int(b->number), int(kDarIdentity), 2);
}

int DELDAR(FCB *f, const void *, int filno) {
    IDBLK *b = f->idblk;
    unsigned char key[8];
    memcpy(key, &b->type, 4);
    memcpy(key + 4, &b->number, 4);
    int rc;
    {
        Type11Permit permit;
        rc = DELRES(filno, key);
    }
    if (rc) return set_uerr(rc);
    FILEHDRX &x = f->hdr.ext;
    uint8_t &count = x.darcount[kDarIdentity - 1];
    count = count > 1 ? uint8_t(count - 1) : 0;
    bool any = false;
    for (int k = 0; k < kDarKinds; k++) any = any || x.darcount[k];
    if (!any) f->hdr.base.hdrflags2 &= ~kHdr2DataAccess;
    if (!count) x.flmode3 &= ~kFlmode3Identity;
    // The resource's space is freed now, and a freed record slot carries
    // the delete stack's links: the body is not written there again.
    if (f->hdr.base.flmode & 0x0010) {
        b->state |= kDarDeleted;
    } else {
        free_block(f);
    }
    return set_uerr(write_and_flush(f));
}

}  // namespace zv

using namespace zv;

extern "C" {

int zvmapFCBtoDAR(FCB *f, int, int kind, int release) {
    if (!f || !f->idblk || kind != int(kDarIdentity)) return 0;
    IDBLK *b = f->idblk;
    int rc = 0;
    if ((b->state & kDarChangedMem) && !(b->state & kDarDeleted)) {
        if (release == 1) {
            b->state |= kDarDeleted;
        } else {
            b->state &= uint16_t(~kDarChangedMem);
            b->fldoff = b->known ? b->savedoff : -1;
            b->width = b->savedwidth;
        }
        rc = write_block(f, b);
        if (rc) b->state |= kDarChangedMem;
    }
    if (release == 0) free_block(f);
    return rc;
}

int ADDDAR(int filno, const void *body, int32_t len) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    if ((body && len < kDarBody) || (!body && anchor_pos(f) && has_dar_header(f))) return set_uerr(749);
    if (mode_refuses(f)) return set_uerr(62);
    if (!has_dar_header(f)) return set_uerr(734);
    FILEHDRX &x = f->hdr.ext;
    const unsigned char *in = static_cast<const unsigned char *>(body);
    uint32_t kind = in ? get32(in + 16) : 0;
    if (in) {
        uint16_t state = get16(in + 22);
        if (kind != kDarAnchor && kind != kDarIdentity) return set_uerr(911);
        if (kind >= 1 && kind <= uint32_t(kDarKinds)) {
            uint8_t have = x.darcount[kind - 1];
            if (have && (state & kDarSingle)) return set_uerr(913);
            if (have >= 254) return set_uerr(917);
        }
    }
    if (int rc = tstupd(f)) return rc;
    if (!anchor_pos(f)) {
        unsigned char a[kDarBody] = {};
        put32(a, kDarType);
        put32(a + 4, 0xFFFFFFFFu);
        memcpy(a + 8, kDarName, sizeof kDarName);
        put32(a + 16, kDarAnchor);
        put32(a + 20, 0x00010002u);
        memcpy(a + 64, kAnchorText, sizeof kAnchorText - 1);
        type_header_to_host(a);
        int rc;
        {
            Type11Permit permit;
            rc = ADDRES(filno, a, kDarBody);
        }
        if (rc) return set_uerr(rc);
        // The resource layer wrote its position there, in host order.
        memcpy(&x.daranchh, a + 24, 4);
        memcpy(&x.daranchl, a + 28, 4);
        if (int rc2 = write_and_flush(f)) return set_uerr(rc2);
    }
    if (!body) return set_uerr(0);

    unsigned char b[kDarBody];
    memcpy(b, body, kDarBody);
    put32(b, kDarType);
    put32(b + 4, 0xFFFFFFFFu);
    memset(b + 8, 0, 8);
    memcpy(b + 8, kDarName, sizeof kDarName);
    type_header_to_host(b);
    int rc;
    {
        Type11Permit permit;
        rc = ADDRES(filno, b, kDarBody);
    }
    if (rc) return set_uerr(rc);
    type_header_from_host(b);
    uint32_t posh, posl;
    memcpy(&posh, b + 24, 4);
    memcpy(&posl, b + 28, 4);
    put32(b + 24, posh);
    put32(b + 28, posl);
    if (kind == kDarIdentity && (rc = zvmapDARtoFCB(f, b))) return rc;
    if (kind >= 1) x.darcount[kind - 1]++;
    f->hdr.base.hdrflags2 |= kHdr2DataAccess;
    if (kind == kDarIdentity) x.flmode3 |= kFlmode3Identity;
    return set_uerr(write_and_flush(f));
}

int zvgetDAR(FCB *f, int, int openmode) {
    INSTGV *g = zvWNGV;
    if (!g || !f) return 0;
    free_block(f);
    if (!has_dar_header(f) || is_index(f)) return 0;
    uint64_t anchor = anchor_pos(f);
    if (!anchor) return 0;
    unsigned char key[8];
    if (wide(f)) {
        uint32_t hi = uint32_t(anchor >> 32), lo = uint32_t(anchor);
        memcpy(key, &hi, 4);
        memcpy(key + 4, &lo, 4);
    } else {
        uint32_t lo = uint32_t(anchor);
        memcpy(key, &lo, 4);
    }
    unsigned char info[16];
    GETRES(f->filno, key, info, sizeof info, 0x0160);
    int counts[kDarKinds + 1] = {};
    // An anchor that is not where the header says leaves no resource to
    // find: the count bytes decide whether the file has lost any.
    bool walk = g->uerr_cod == 0;
    if (g->uerr_cod && g->uerr_cod != 408) return g->uerr_cod;
    memcpy(key, info, 8);  // type and number of the anchor, host order

    unsigned char body[kDarBody];
    while (walk) {
        uint32_t lo = GETRES(f->filno, key, body, kDarBody, 0x0180);
        uint32_t hi = uint32_t(zvGETHGHi());
        int rc = g->uerr_cod;
        if (rc == 408 && !lo && !hi) break;
        if (rc && rc != 404) {
            free_block(f);
            return set_uerr(rc);
        }
        // The resource after the last one of the kind ends the walk, however
        // long its body (404 says only this much of it was read).
        uint32_t type;
        memcpy(&type, body, 4);
        if (type != kDarType) break;
        if (rc) {
            free_block(f);
            return set_uerr(rc);
        }
        memcpy(key, body, 8);
        type_header_from_host(body);
        uint32_t kind = get32(body + 16);
        uint16_t state = get16(body + 22);
        if (kind <= uint32_t(kDarKinds)) {
            if (++counts[kind] > 1 && (state & kDarSingle)) {
                free_block(f);
                return set_uerr(913);
            }
        }
        if (kind == kDarAnchor || kind == kDarIdentity) {
            put32(body + 24, hi);
            put32(body + 28, lo);
            if (kind == kDarIdentity && (rc = zvmapDARtoFCB(f, body))) {
                free_block(f);
                return rc;
            }
        } else if (!((state & kDarDefined) && !(openmode & 0x0008))) {
            free_block(f);
            return set_uerr(911);
        }
    }
    for (int k = 1; k <= kDarKinds; k++) {
        if (counts[k] != f->hdr.ext.darcount[k - 1]) {
            free_block(f);
            return set_uerr(916);
        }
    }
    return set_uerr(0);
}

ZV_API int addIDfield(int filno, int64_t start, int64_t incr, int fldno) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = identity_file(filno, false);
    if (!f) return g->uerr_cod;
    if (f->hdr.ext.flmode2 & 0x01000000) return set_uerr(713);
    if (partition_members_open(f)) return set_uerr(948);
    if (mode_refuses(f)) return set_uerr(62);
    if (!f->schmap) return set_uerr(199);
    if (fldno < 0 || fldno >= schema_fields(f->schmap)) return set_uerr(433);
    if (incr == 0) return set_uerr(749);
    int32_t off = -1, len = 0;
    bool fixed = false;
    if (int rc = field_place(f, uint32_t(fldno), &off, &len, &fixed)) return set_uerr(rc);

    IDBLK b{};
    b.type = kDarType;
    b.number = 0xFFFFFFFFu;
    memcpy(b.raw + 8, kDarName, sizeof kDarName);
    memcpy(b.raw + 64, kIdentityText, sizeof kIdentityText - 1);
    b.kind = kDarIdentity;
    b.version = 1;
    b.state = kDarSingle | kDarDefined;
    b.start = b.next = start;
    b.incr = incr;
    b.fldno = fldno;
    b.fldoff = fixed ? off : -1;
    b.width = fixed ? (len > 8 ? 8 : len) : -1;
    b.savedoff = -1;
    b.savedwidth = b.width;
    b.known = fixed ? 1 : 0;
    if (int rc = set_xtdatrIDfield(f, &b, 0)) return set_uerr(rc);
    if (testIDfield_parameters(b.flags, b.wclass, start, incr)) return set_uerr(1002);
    unsigned char body[kDarBody];
    encode_dar(b, body);
    return ADDDAR(filno, body, kDarBody);
}

ZV_API int delIDfield(int filno) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = identity_file(filno, false);
    if (!f) return g->uerr_cod;
    if (mode_refuses(f)) return set_uerr(62);
    if (!active(f)) return set_uerr(914);
    if (partition_members_open(f)) return set_uerr(948);
    if (int rc = tstupd(f)) return rc;
    return DELDAR(f, nullptr, filno);
}

ZV_API int wchIDfield(int filno) {
    INSTGV *g = zvWNGV;
    if (!g) return -1;
    FCB *f = identity_file(filno);
    if (!f) return -1;
    set_uerr(0);
    return f->idblk->fldno;
}

ZV_API int getIDfield(int filno, int mode, int64_t *value) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = identity_file(filno);
    if (!f) return g->uerr_cod;
    if (mode < 1 || mode > 4) return set_uerr(749);
    if (!value) return set_uerr(540);
    const IDBLK *b = f->idblk;
    switch (mode) {
    case 1: {
        if (int rc = chkredf(filno, f)) return rc;
        if (int rc = tstupd(f)) return rc;
        int64_t v = 0;
        if (int rc = assign_next(f, &v)) return set_uerr(rc);
        *value = v;
        break;
    }
    case 2:
        *value = b->next;
        break;
    case 3:
        *value = b->incr;
        break;
    default:
        *value = b->start;
        break;
    }
    return set_uerr(0);
}

ZV_API int resetIDfield(int filno, int64_t value) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = identity_file(filno);
    if (!f) return g->uerr_cod;
    if (int rc = chkredf(filno, f)) return rc;
    IDBLK *b = f->idblk;
    if (testIDfield_parameters(b->flags, b->wclass, value, 0)) return set_uerr(1002);
    if (int rc = tstupd(f)) return rc;
    b->next = value;
    b->flags &= ~kIdOverflow;
    mark_changed(b);
    return set_uerr(0);
}

ZV_API int xtdatrIDfield(int filno, int32_t request) {
    INSTGV *g = zvWNGV;
    if (!g) return -1;
    FCB *f = identity_file(filno);
    if (!f) return -1;
    IDBLK *b = f->idblk;
    if (request == -1) {
        set_uerr(0);
        return int(b->flags);
    }
    if (!f->schmap) return set_uerr(199), -1;
    uint32_t r = uint32_t(request);
    auto refuse = [g](int detail) {
        set_uerr(1003);
        g->sysiocod = uint16_t(detail);
        return -1;
    };
    auto both = [r](uint32_t a, uint32_t c) { return (r & a) && (r & c); };
    if (both(kIdFromSchema, kIdByCaller) || both(kIdUnsigned, kIdSigned) || both(kIdOverflow, kIdNoRange))
        return refuse(1);
    if ((r & (kIdUnsigned | kIdOverflow | kIdSigned)) && (r & (kIdFromSchema | kIdByCaller)) != kIdFromSchema)
        return refuse(2);
    if ((r & kIdByCaller) && !(r & kIdNoRange)) return refuse(6);
    if (!(r & (kIdFromSchema | kIdByCaller)) && (r & ~(kIdFromSchema | kIdByCaller | kIdByAttr))) return refuse(3);
    uint32_t cur = b->flags;
    if ((r & ~kIdByAttr) != (cur & ~kIdByAttr)) {
        if (mode_refuses(f)) return set_uerr(62), -1;
        if (cur & kIdOverflow) {
            if (!(r & (kIdOverflow | kIdNoRange))) return refuse(4);
        } else if (both(kIdOverflow, kIdNoRange)) {
            return refuse(5);
        }
        if (int rc = tstupd(f)) return set_uerr(rc), -1;
        IDBLK nb = *b;
        nb.flags = r & ~kIdByAttr;
        if (r & kIdFromSchema) {
            if (int rc = set_xtdatrIDfield(f, &nb, r)) return set_uerr(rc), -1;
        }
        // The range check decides the overflow mark again when the field's
        // shape is taken anew or range checks come back; an overflow
        // already reached stays (only a reset clears it), so that no value
        // is handed out twice.
        if ((r & kIdFromSchema) || ((cur & kIdNoRange) && !(r & kIdNoRange))) {
            bool over = (cur & kIdOverflow) ||
                        testIDfield_parameters(nb.flags & ~kIdNoRange, nb.wclass, nb.next, nb.incr) != 0;
            if (nb.flags & kIdNoRange) over = false;
            nb.flags = over ? (nb.flags | kIdOverflow) : (nb.flags & ~kIdOverflow);
        }
        // An overflow puts back the value handed out last; when range checks
        // go, the counter moves on from it instead of handing it out again.
        if ((cur & kIdOverflow) && (nb.flags & kIdNoRange)) {
            nb.flags &= ~kIdOverflow;
            nb.next = int64_t(uint64_t(nb.next) + uint64_t(nb.incr));
        }
        b->flags = nb.flags | kIdByAttr;
        b->wclass = nb.wclass;
        b->next = nb.next;
        mark_changed(b);
    } else {
        b->flags |= kIdByAttr;
    }
    set_uerr(0);
    return int(b->flags);
}

// Reads a definition block of the file's definition resource (type 0 or
// 200..299, number 1): the block in engine memory and its length. Old
// forms are widened: a file-definition block without flags2 0x0001 gains 12
// bytes per index entry, a record-schema block without flags2 0x40000 has
// its 4-byte entries (length u16, type u8, repeat u8) widened to 6 bytes.
int zvrdefx(int filno, int type, int block, void **out, int32_t *len) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (out) *out = nullptr;
    if (len) *len = 0;
    if (!out || !len) return set_uerr(540);
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    if (type != 0 && (type < 200 || type > 299)) return set_uerr(446);
    if (block < 0 || block >= 128) return set_uerr(436);
    unsigned char *head = static_cast<unsigned char *>(zvgetmem(kDefHead));
    if (!head) return set_uerr(197);
    uint32_t key[2] = {uint32_t(type), 1};
    GETRES(filno, key, head, kDefHead, 2);
    int rc = g->uerr_cod;
    uint16_t blen = 0;
    if (!rc || rc == 404) blen = host::get16(head + 30 + 8 * block);
    zvputmem(head);
    if (rc && rc != 404) return rc;
    if (blen == 0) return set_uerr(438);
    const uint32_t flags2 = f->hdr.base.hdrflags2;
    const bool oldfil = block == 0 && !(flags2 & 0x0001);
    const bool oldmap = block == 1 && !(flags2 & 0x40000);
    unsigned char *data = static_cast<unsigned char *>(zvgetmem(blen));
    if (!data) return set_uerr(197);
    DEFBLK d{data, blen, blen, uint16_t(block), 1};
    if ((rc = igetdefblkx(filno, &d, 0, type)) != 0) {
        zvputmem(data);
        return set_uerr(rc);
    }
    int32_t size = blen;
    if (oldfil && size >= 18) {
        int16_t n;
        memcpy(&n, data + 16, 2);
        int32_t grown = size + 12 * (n > 0 ? n : 0);
        auto *w = static_cast<unsigned char *>(zvgetmem(grown));
        if (!w) {
            zvputmem(data);
            return set_uerr(197);
        }
        memcpy(w, data, size_t(size));
        zvputmem(data);
        data = w;
        size = grown;
    } else if (oldmap && size >= 16) {
        uint32_t n = host::get32(data + 12);
        if (uint64_t(16) + 4ull * n > uint64_t(size)) {
            zvputmem(data);
            return set_uerr(439);
        }
        int32_t rest = size - 16 - int32_t(4 * n);
        int32_t grown = 16 + int32_t(6 * n) + rest;
        auto *w = static_cast<unsigned char *>(zvgetmem(grown));
        if (!w) {
            zvputmem(data);
            return set_uerr(197);
        }
        memcpy(w, data, 16);
        for (uint32_t i = 0; i < n; i++) {
            const unsigned char *e = data + 16 + 4 * i;
            unsigned char *q = w + 16 + 6 * i;
            uint16_t elen = host::get16(e);
            uint16_t etype = e[2];
            memcpy(q, &elen, 2);
            memcpy(q + 2, &etype, 2);
            q[4] = e[3];
            q[5] = 0;
        }
        if (rest > 0) memcpy(w + 16 + 6 * n, data + 16 + 4 * n, size_t(rest));
        uint32_t sz = uint32_t(grown);
        memcpy(w + 4, &sz, 4);
        zvputmem(data);
        data = w;
        size = grown;
    }
    *out = data;
    *len = size;
    return set_uerr(0);
}

// Identity field position in a record image.
ZV_API int zvGetIdFieldOffsetInRecord(int filno, const void *rec, int fldno, const void *schema, int32_t reclen,
                                      int option, int32_t *offset, int32_t *length) {
    (void)option;
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    set_uerr(0);
    if (!rec || !offset || !length) return set_uerr(540);
    const unsigned char *map = static_cast<const unsigned char *>(schema);
    int32_t fixlen = reclen;
    if (filno != -1) {
        FCB *f = tstfnm(filno);
        if (!f) return ierr(g->uerr_cod, filno);
        map = f->schmap;
        fixlen = f->hdr.base.reclen;
        if (reclen <= 0) reclen = fixlen;
    }
    if (!map) return g->uerr_cod ? g->uerr_cod : set_uerr(199);
    if (fldno < 0) return ierr(set_uerr(433), filno);
    int32_t len = 0;
    int varseen = 0;
    const unsigned char *base = static_cast<const unsigned char *>(rec);
    const unsigned char *p = zvfldadr(base, map, &len, &varseen, reclen, fixlen, uint32_t(fldno));
    if (!p) {
        int rc = g->uerr_cod ? g->uerr_cod : 433;
        return ierr(set_uerr(rc), filno);
    }
    *offset = int32_t(p - base);
    *length = len;
    return set_uerr(0);
}

}  // extern "C"

namespace zv {

int identity_step(FCB *f) {
    if (!f || !active(f) || (f->idmode & kIdModeSuppress)) return 0;
    int64_t v = 0;
    return assign_next(f, &v);
}

int setIDfield(FCB *f, void *rec, int32_t reclen) {
    INSTGV *g = zvWNGV;
    if (!f || !active(f) || (f->idmode & kIdModeSuppress)) return 0;
    if (!rec || reclen <= 0) return set_uerr(445);
    unsigned char *image = static_cast<unsigned char *>(rec);
    int32_t off = 0, width = 0;
    if (int rc = locate_field(f, image, reclen, true, &off, &width)) return set_uerr(rc);
    // The low-order bytes of the value, in host order.
    int64_t v = g->lastid;
    unsigned char bytes[8];
    memcpy(bytes, &v, 8);
    const unsigned char *low = kLittleEndianHost ? bytes : bytes + (8 - width);
    memcpy(image + off, low, size_t(width));
    g->idfldoff = off;
    if (f->hdr.ext.flmode2 & kFlmode2PartHost) tstupd(f);
    return 0;
}

void identity_keep(FCB *f, const void *rec, int32_t reclen) {
    if (!f) return;
    f->idkeptlen = 0;
    if (!active(f) || !rec) return;
    const unsigned char *image = static_cast<const unsigned char *>(rec);
    int32_t off = 0, width = 0;
    int16_t keep = zvWNGV->uerr_cod;
    int rc = locate_field(f, image, reclen, false, &off, &width);
    zvWNGV->uerr_cod = uint16_t(keep);
    if (rc) return;
    memcpy(f->idkept, image + off, size_t(width));
    f->idkeptlen = int8_t(width);
}

int chgIDfield(FCB *f, void *rec, int32_t reclen) {
    if (!f || !active(f)) return 0;
    int32_t off = 0, width = 0;
    unsigned char *image = static_cast<unsigned char *>(rec);
    if (f->idkeptlen <= 0 || !rec || locate_field(f, image, reclen, false, &off, &width) ||
        width != f->idkeptlen) {
        ierr(922, f->filno);
        return 1;
    }
    if (memcmp(image + off, f->idkept, size_t(width)) == 0) return 0;
    if (f->idmode & kIdModePermitChange) {
        memcpy(image + off, f->idkept, size_t(width));
        return 0;
    }
    ierr(921, f->filno);
    return 1;
}

}  // namespace zv

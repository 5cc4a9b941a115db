// Definition blocks and alternate collating sequences.
//
// A file keeps small numbered blocks of metadata in one resource per type
// and mode (the layout is in defblock.h). An index stores its alternate
// collating sequence there (block = its member number, mode 3, in the host
// index file); a data file stores its record schema as block 1 of mode 1,
// which is also the schema map that key formation reads.
//
// Invariants:
//  1. A directory entry never points outside the resource's total length,
//     and the total length never exceeds the stored body; a resource that
//     breaks either is reported damaged (439) and nothing is read past it.
//  2. A block keeps its place while its reserved size holds it; a longer
//     block moves to the end of the resource and its old space stays unused.
//  3. The schema map of a data file is the given (6-byte entry) form of its
//     record-schema block; the stored form packs entries into 4 bytes unless
//     a field type is above 256 (header flags 2 bit 0x40000 then marks the
//     file).
#include "engine/core/bytes.h"
#include "engine/index/defblock.h"

#include <cstring>

#include "engine/core/fileio.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/files/header.h"
#include "engine/index/index_services.h"
#include "engine/index/keyform.h"
#include "engine/index/ksegdef.h"
#include "engine/index/segmode.h"
#include "engine/isam/isam_services.h"

namespace zv {

namespace {

constexpr char kDefName[8] = "QV!DEF";
constexpr int32_t kSeqBytes = 512;
constexpr int32_t kMaxReserve = 65536;


bool type_ok(int type) { return type == 0 || (type >= 200 && type <= 299); }

// Resource header size of a file: 22 bytes, 30 with 8-byte positions.
int32_t resource_header(const FCB *f) { return (f->hdr.base.hdrflags & kHdr8ByteOffsets) ? 30 : 22; }

// Entry count of a schema block and whether its bytes hold its entries in
// the given width.
bool schema_fits(const unsigned char *b, int32_t len, int width, uint32_t *entries) {
    if (len < kSchemaHead) return false;
    uint32_t n = host::get32(b + 12);
    *entries = n;
    return n <= uint32_t((len - kSchemaHead) / width);
}

// The stored form of a record-schema block: 4-byte entries (length u16,
// type u8, repeat u8), the size word at +4 updated. Null when no memory.
unsigned char *pack_schema(const unsigned char *b, int32_t len, uint32_t n, int32_t *outlen) {
    int32_t out = len - int32_t(2 * n);
    auto *p = static_cast<unsigned char *>(zvgetmem(out));
    if (!p) return nullptr;
    memcpy(p, b, kSchemaHead);
    host::put32(p + 4, uint32_t(out));
    for (uint32_t i = 0; i < n; i++) {
        const unsigned char *e = b + kSchemaHead + kSchemaEntry * i;
        unsigned char *q = p + kSchemaHead + 4 * i;
        memcpy(q, e, 2);
        q[2] = e[2];  // type (below 256 here)
        q[3] = e[4];  // repeat count
    }
    int32_t rest = len - kSchemaHead - int32_t(kSchemaEntry * n);
    if (rest > 0) memcpy(p + kSchemaHead + 4 * n, b + kSchemaHead + kSchemaEntry * n, size_t(rest));
    *outlen = out;
    return p;
}

bool extended_types(const unsigned char *b, uint32_t n) {
    for (uint32_t i = 0; i < n; i++)
        if (host::get16(b + kSchemaHead + kSchemaEntry * i + 2) > 256) return true;
    return false;
}

int replace_schema(FCB *f, const unsigned char *wide, int32_t len) {
    auto *m = static_cast<unsigned char *>(zvgetmem(len));
    if (!m) return 435;
    memcpy(m, wide, size_t(len));
    if (f->schmap) zvputmem(f->schmap);
    f->schmap = m;
    schema_places_make(f);
    return 0;
}

// What GETRES answers about the definition resource (type, mode): 0 with
// its body length, 408 when there is none, or the error.
int resource_length(int filno, uint32_t type, uint32_t number, int32_t *used) {
    INSTGV *g = zvWNGV;
    uint32_t key[2] = {type, number};
    uint32_t info[3] = {};
    uint32_t lo = GETRES(filno, key, info, int32_t(sizeof info), 2 | 0x40);
    uint32_t hi = uint32_t(zvGETHGHi());
    if (!lo && !hi) return g->uerr_cod ? g->uerr_cod : 408;
    *used = int32_t(info[2]);
    return 0;
}

// Reads the whole definition resource into engine memory and checks its
// head: 0 with the body, 439 damaged, 435 no memory, or the read's error.
// `extra` bytes of room are added after the body.
int read_resource(int filno, uint32_t type, uint32_t number, int32_t used, int32_t extra,
                  unsigned char **out) {
    INSTGV *g = zvWNGV;
    if (used < kDefHead) return 439;
    auto *b = static_cast<unsigned char *>(zvgetmem(used + extra));
    if (!b) return 435;
    uint32_t key[2] = {type, number};
    uint32_t lo = GETRES(filno, key, b, used, 2);
    uint32_t hi = uint32_t(zvGETHGHi());
    int rc = (!lo && !hi) ? g->uerr_cod : 0;
    if (!rc) {
        uint32_t total = host::get32(b + 16);
        if (total < uint32_t(kDefHead) || total > uint32_t(used)) rc = 439;
    }
    if (rc) {
        zvputmem(b);
        return rc;
    }
    *out = b;
    return 0;
}

}  // namespace

const unsigned char *schema_map(const FCB *f) { return f ? f->schmap : nullptr; }

int zvsetseq(FCB *f, const void *table) {
    if (!f->altseq) {
        f->altseq = static_cast<uint16_t *>(zvgetmem(kSeqBytes));
        if (!f->altseq) return 435;
    }
    memcpy(f->altseq, table, kSeqBytes);
    return 0;
}

int install_schema(FCB *f, const void *block, int32_t len) {
    auto *b = static_cast<const unsigned char *>(block);
    uint32_t n = 0;
    if (!b || !schema_fits(b, len, 4, &n)) return 439;
    // Already in the 6-byte form (a file with extended field types).
    if (uint64_t(len) == uint64_t(kSchemaHead) + uint64_t(kSchemaEntry) * n) return replace_schema(f, b, len);
    int32_t wide = kSchemaHead + int32_t(kSchemaEntry * n);
    auto *w = static_cast<unsigned char *>(zvgetmem(wide));
    if (!w) return 435;
    memcpy(w, b, kSchemaHead);
    host::put32(w + 4, uint32_t(wide));
    for (uint32_t i = 0; i < n; i++) {
        const unsigned char *e = b + kSchemaHead + 4 * i;
        unsigned char *q = w + kSchemaHead + kSchemaEntry * i;
        memcpy(q, e, 2);
        host::put16(q + 2, e[2]);
        q[4] = e[3];
        q[5] = 0;
    }
    if (f->schmap) zvputmem(f->schmap);
    f->schmap = w;
    schema_places_make(f);
    return 0;
}

}  // namespace zv

namespace zv {

void free_key_definitions(FCB *f) {
    if (!f) return;
    if (f->schmap) zvputmem(f->schmap);
    if (f->altseq) zvputmem(f->altseq);
    schema_places_drop(f);
    f->schmap = nullptr;
    f->altseq = nullptr;
    ksg_release(f);
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int SETDEFBLKX(int filno, DEFBLK *blk, int type) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    if (!blk) return set_uerr(437);
    uint16_t mode = f->kind == kKindIndex ? 3 : 1;
    if (blk->mode != mode) return set_uerr(48);
    if (!type_ok(type)) return set_uerr(446);
    int blkno = blk->blkno == 129 ? 0 : blk->blkno;
    if (blkno >= kDefBlocks) return set_uerr(436);
    set_uerr(0);
    int32_t len = blk->len;
    if (len < 0 || blk->bufsiz < 0) return set_uerr(434);
    if (len > 0 && !blk->data) return set_uerr(437);
    const auto *data = static_cast<const unsigned char *>(blk->data);

    // The record-schema block of a data file is stored packed.
    bool schema = mode == 1 && blkno == 1;
    bool xtd = false;
    unsigned char *packed = nullptr;
    if (schema) {
        uint32_t n = 0;
        if (!schema_fits(data, len, kSchemaEntry, &n)) return set_uerr(439);
        xtd = extended_types(data, n);
        if (!xtd) {
            packed = pack_schema(data, len, n, &len);
            if (!packed) return set_uerr(197);
        }
    }
    const unsigned char *src = packed ? packed : data;
    auto done = [&](int rc) {
        if (packed) zvputmem(packed);
        return set_uerr(rc);
    };

    int64_t want = blk->bufsiz > len ? blk->bufsiz : len;
    want = (want + 7) & ~int64_t(7);
    if (want >= kMaxReserve) return done(434);
    int32_t reserve = int32_t(want);

    uint32_t rtype = uint32_t(type);
    int32_t used = 0;
    int rc = resource_length(filno, rtype, mode, &used);
    bool fresh = rc == 408;
    if (rc && !fresh) return done(rc);
    unsigned char *body = nullptr;
    if (fresh) {
        used = 2048 - resource_header(f);
        body = static_cast<unsigned char *>(zvgetmem(used + reserve));
        if (!body) return done(435);
        host::put32(body, rtype);
        host::put32(body + 4, mode);
        memcpy(body + 8, kDefName, sizeof kDefName);
        host::put32(body + 16, uint32_t(kDefHead));
    } else if ((rc = read_resource(filno, rtype, mode, used, reserve, &body)) != 0) {
        return done(rc);
    }

    unsigned char *e = body + kDefDir + 8 * blkno;
    uint32_t total = host::get32(body + 16);
    uint32_t off = host::get32(e);
    uint16_t rsv = host::get16(e + 4);
    if (off != 0 && (off < uint32_t(kDefHead) || uint64_t(off) + rsv > total || host::get16(e + 6) > rsv)) {
        zvputmem(body);
        return done(439);
    }
    if (off == 0 || rsv < len) {
        off = total;
        rsv = uint16_t(reserve);
        total += uint32_t(reserve);
        host::put32(e, off);
        host::put16(e + 4, rsv);
    }
    if (len > 0) memcpy(body + off, src, size_t(len));
    host::put16(e + 6, uint16_t(len));
    host::put32(body + 16, total);
    host::put32(body + 20, uint32_t(zvtime()));
    int32_t bodylen = int32_t(total) > used ? int32_t(total) : used;
    rc = fresh ? ADDRES(filno, body, bodylen) : UPDRES(filno, body, bodylen);
    zvputmem(body);
    if (rc) return done(rc);

    if (schema) {
        if ((rc = replace_schema(f, data, blk->len)) != 0) return done(rc);
        // The indexes' segments are examined again. Serial segments by field
        // that waited for a schema are bound now whatever the options: no
        // key of their index can be formed before. Under the instance option
        // a variable-length file's indexes with a segment on a field of the
        // variable part are marked so in the key map, as an open would mark
        // them once the schema is there.
        const bool varpart = (g->fileopt[0] & kOpt1SchemaSegments) && type == 0 && f->kind == kKindVariable;
        isam_schema_stored(filno, varpart);
        uint32_t flags = f->hdr.base.hdrflags2;
        uint32_t now = xtd ? flags | kHdr2XtdTypes : flags & ~kHdr2XtdTypes;
        if (now != flags) {
            f->hdr.base.hdrflags2 = now;
            if ((rc = wrthdr(f)) != 0) return done(rc);
        }
    }
    return done(0);
}

ZV_API int SETDEFBLK(int filno, DEFBLK *blk) { return SETDEFBLKX(filno, blk, 0); }

int igetdefblkx(int filno, DEFBLK *blk, int, int type) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!type_ok(type)) return set_uerr(446);
    if (!blk || !blk->data) return set_uerr(437);
    if (blk->blkno >= kDefBlocks) return set_uerr(436);
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    uint32_t mode = blk->mode;
    int32_t used = 0;
    int rc = resource_length(filno, uint32_t(type), mode, &used);
    // A file without the resource has no block: the same as an empty one.
    if (rc == 408 || rc == 401) return set_uerr(438);
    if (rc) return set_uerr(rc);
    unsigned char *body = nullptr;
    if ((rc = read_resource(filno, uint32_t(type), mode, used, 0, &body)) != 0) return set_uerr(rc);
    const unsigned char *e = body + kDefDir + 8 * blk->blkno;
    uint32_t total = host::get32(body + 16);
    uint32_t off = host::get32(e);
    uint16_t inuse = host::get16(e + 6);
    if (inuse && (off < uint32_t(kDefHead) || uint64_t(off) + inuse > total)) rc = 439;
    else if (inuse > blk->len) rc = 434;
    else if (inuse == 0) rc = 438;
    else memcpy(blk->data, body + off, inuse);
    zvputmem(body);
    return set_uerr(rc);
}

ZV_API int GETDEFBLK(int filno, DEFBLK *blk) { return igetdefblkx(filno, blk, 0, 0); }

ZV_API int SETALTSEQ(int keyno, const void *table) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = tstfnm(keyno);
    if (!f) return g->uerr_cod;
    if (f->kind != kKindIndex) return set_uerr(48);
    int member = f->hdr.base.kmem;
    DEFBLK d{const_cast<void *>(table), table ? kSeqBytes : 0, kSeqBytes, uint16_t(member), 3};
    int rc = SETDEFBLKX(keyno - member, &d, 0);
    if (rc) return rc;
    if (table) {
        rc = zvsetseq(f, table);
    } else if (f->altseq) {
        zvputmem(f->altseq);
        f->altseq = nullptr;
    }
    return set_uerr(rc);
}

int igetaltseq(int keyno, void *buf, int word) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = tstfnm(keyno);
    if (!f) return g->uerr_cod;
    if (f->kind != kKindIndex) return set_uerr(48);
    int member = f->hdr.base.kmem;
    DEFBLK d{buf, kSeqBytes, kSeqBytes, uint16_t(member), 3};
    return igetdefblkx(keyno - member, &d, word, 0);
}

ZV_API int GETALTSEQ(int keyno, void *table) {
    if (!zvWNGV) return 47;
    if (!table) return set_uerr(437);
    return igetaltseq(keyno, table, 0);
}

ZV_API uint16_t SETVARBYTS(int filno, const void *bytes) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    if (!bytes) return uint16_t(set_uerr(437));
    auto *b = static_cast<const unsigned char *>(bytes);
    if (f->kind == kKindIndex) {
        f->hdr.base.keypad = b[0];
        int rc = wrthdr(f);
        if (!rc) rc = mbsave(f);
        return uint16_t(set_uerr(rc));
    }
    unsigned char fresh[kSchemaHead] = {};
    unsigned char *block = fresh;
    int32_t len = kSchemaHead;
    if (f->schmap) {
        uint32_t n = host::get32(f->schmap + 12);
        len = kSchemaHead + int32_t(kSchemaEntry * n);
        block = static_cast<unsigned char *>(zvgetmem(len));
        if (!block) return uint16_t(set_uerr(435));
        memcpy(block, f->schmap, size_t(len));
    } else {
        // A new block: the instance's default head word (alignment in its
        // low byte, stored second), no fields.
        uint16_t head = uint16_t(g->startvals[0] ? g->startvals[0] : 520);
        fresh[0] = uint8_t(head >> 8);
        fresh[1] = uint8_t(head);
        host::put32(fresh + 4, uint32_t(kSchemaHead));
    }
    block[2] = b[1];
    block[3] = b[0];
    DEFBLK d{block, len, len, 1, 1};
    int rc = SETDEFBLK(filno, &d);
    if (block != fresh) zvputmem(block);
    return uint16_t(set_uerr(rc));
}

}  // extern "C"

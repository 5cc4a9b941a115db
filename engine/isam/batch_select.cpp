// Batch selections and parts.
//
// The first fill of a batch (frsbat) collects the whole selection as a
// chain of entries (elements of free list 12): record positions, or with
// key content copies of the keys with their positions. Parts are then cut
// from the chain into the caller's buffer, the records read at that moment
// (so a record refused by the filter then, or gone, is dropped and counted
// out). Collecting once lets every part after the first run without taking
// memory, keeps the totals known from the start, and gives the delete of a
// selection the same entries that were returned.
//
// Selections: key prefix ascending (0 or 0x100) and descending (0x40000),
// a list of keys (0x400), a list of positions (0x200), physical order
// (0x10000) and the key range installed on the index (0x20000).
#include <cstring>

#include "engine/core/fileio.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/core/fcb.h"
#include "engine/files/fixrec.h"
#include "engine/files/header.h"
#include "engine/files/varrec.h"
#include "engine/index/navstate.h"
#include "engine/isam/batch.h"
#include "engine/isam/isamrec.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

// Appends an entry: 0, or 10 when memory runs out.
int add_entry(BATSTATE &b, uint32_t hi, uint32_t lo, const unsigned char *key) {
    auto *e = static_cast<BatEntry *>(zvgetlst(kListBatch));
    if (!e) return 10;
    e->next = nullptr;
    if (b.keyed) {
        auto *copy = static_cast<unsigned char *>(zvgetmem(b.keylen + 8));
        if (!copy) {
            zvputlst(e, kListBatch);
            return 10;
        }
        memcpy(copy, key, size_t(b.keylen));
        memcpy(copy + b.keylen, &hi, 4);
        memcpy(copy + b.keylen + 4, &lo, 4);
        e->u.key = copy;
    } else {
        e->u.pos.hi = hi;
        e->u.pos.lo = lo;
    }
    if (b.tail) b.tail->next = e;
    else b.head = e;
    b.tail = e;
    b.selected++;
    b.remaining++;
    return 0;
}

// Entries of a list in the request: their count and where they begin.
const unsigned char *list_of(const BATSTATE &b, uint32_t *count) {
    *count = req_u32(b.req, b.extended ? 8 : 0);
    return b.req + (b.extended ? 20 : 12);
}

// The key work area of the batch (its saved target), key length bytes.
unsigned char *target_area(BATSTATE &b) {
    if (!b.target) b.target = static_cast<unsigned char *>(zvgetmem(b.keylen > 0 ? b.keylen : 1));
    return b.target;
}

// Brings a target in record-field form to key form unless the start-up
// profile says it is in key form already: 0 or the error.
int transform(int keyno, unsigned char *key, bool high) {
    INSTGV *g = zvWNGV;
    if (g->userprof & 1) return 0;
    if (high ? lTFRMKEY(keyno, key) : TFRMKEY(keyno, key)) return 0;
    return g->isamerr_cod ? g->isamerr_cod : g->uerr_cod ? g->uerr_cod : 80;
}

// The end of a key walk: 0 at its end, or the error of the search.
inline int walk_error() { return zvWNGV->uerr_cod == 101 ? 0 : zvWNGV->uerr_cod; }

int collect_prefix(BATSTATE &b, bool ascending) {
    const int keyno = b.filno;
    const int32_t kl = b.keylen;
    int32_t sig = req_u16(b.req, b.extended ? 20 : 12);
    if (sig > kl) sig = kl;
    const auto *t = b.extended ? static_cast<const unsigned char *>(req_ptr(b.req, 32)) : b.req + 14;
    if (!t) return 430;
    unsigned char *work = target_area(b);
    if (!work) return 10;
    memcpy(work, t, size_t(kl));
    if (int rc = transform(keyno, work, !ascending)) return rc;
    memset(work + sig, ascending ? 0x00 : 0xFF, size_t(kl - sig));
    unsigned char *found = nav_state(zvWNGV).foundkey;
    set_uerr(0);
    uint32_t lo = ascending ? GTEKEY(keyno, work, found) : LTEKEY(keyno, work, found);
    uint32_t hi = uint32_t(tsthghwrd());
    while (lo || hi) {
        if (memcmp(found, work, size_t(sig)) != 0) return 0;
        if (int rc = add_entry(b, hi, lo, found)) return rc;
        set_uerr(0);
        lo = ascending ? NXTKEY(keyno, found) : PRVKEY(keyno, found);
        hi = uint32_t(tsthghwrd());
    }
    return walk_error();
}

int collect_keys(BATSTATE &b) {
    uint32_t n = 0;
    const unsigned char *p = list_of(b, &n);
    unsigned char *work = target_area(b);
    if (!work) return 10;
    for (uint32_t i = 0; i < n; i++, p += b.keylen) {
        memcpy(work, p, size_t(b.keylen));
        if (int rc = transform(b.filno, work, false)) return rc;
        set_uerr(0);
        uint32_t lo = EQLKEY(b.filno, work);
        uint32_t hi = uint32_t(tsthghwrd());
        if (!lo && !hi) {
            if (int rc = walk_error()) return rc;
            continue;
        }
        if (int rc = add_entry(b, hi, lo, work)) return rc;
    }
    return 0;
}

int collect_positions(BATSTATE &b) {
    uint32_t n = 0;
    const unsigned char *p = list_of(b, &n);
    for (uint32_t i = 0; i < n; i++) {
        uint32_t hi = 0, lo;
        if (b.wide) {
            hi = req_u32(p, 0);
            p += 4;
        }
        lo = req_u32(p, 0);
        p += 4;
        if (int rc = add_entry(b, hi, lo, nullptr)) return rc;
    }
    return 0;
}

int collect_physical(BATSTATE &b, FCB *d) {
    if (d->hdr.ext.flmode2 & kFlmode2PartHost) return 454;
    if (fcb_is_memory(d) || d->hdr.base.sfiltyp == kSfMember) return 48;
    const bool variable = d->kind == kKindVariable;
    uint64_t pos = join64(req_u32(b.req, b.extended ? 20 : 12), req_u32(b.req, b.extended ? 24 : 16));
    const uint64_t first = variable ? first_node_offset(d) : begbytfix(d);
    if (!variable && pos % d->reclen) return 767;
    if (pos < first) pos = first;
    for (;;) {
        int rc = next_live_record(d, &pos);
        if (rc == 27 || rc == 30 || read_at_end(rc)) return 0;
        if (rc) return rc;
        if ((rc = add_entry(b, uint32_t(pos >> 32), uint32_t(pos), nullptr))) return rc;
        if (!variable) {
            pos += d->reclen;
            continue;
        }
        VRECHDR h;
        if ((rc = getvhdr81(d, uint32_t(pos >> 32), uint32_t(pos), &h))) return rc;
        pos += h.arealen;
    }
}

int collect_range(BATSTATE &b) {
    uint32_t at[2];
    int rc = zvdoRNG(b.filno, at, nullptr, 17 | 32);
    while (rc == 0) {
        if ((rc = add_entry(b, at[0], at[1], nav_state(zvWNGV).foundkey))) return rc;
        rc = zvdoRNG(b.filno, at, nullptr, 1 | 32);
    }
    return rc == 101 ? 0 : rc;
}

// The size of the next entry in a part, its record length (variable-length
// records) through *reclen; 0 when its record is gone.
int32_t entry_size(BATSTATE &b, FCB *d, uint32_t hi, uint32_t lo, int32_t *reclen) {
    const int32_t ps = b.wide ? 8 : 4;
    if (b.content & kBatRecords) {
        if (d->kind != kKindVariable) return ps + (*reclen = d->reclen);
        zvSETHGHi(int32_t(hi));
        *reclen = int32_t(GTVLEN(b.datno, lo));
        set_uerr(0);
        return *reclen > 0 ? ps + 4 + *reclen : 0;
    }
    if (key_content(b.content)) return ps + b.keylen;
    return ps;
}

// Reads the record of an entry into dst: 0, 739 when it is refused by the
// filter or gone, or the read's error.
int read_entry(BATSTATE &b, FCB *d, uint32_t hi, uint32_t lo, unsigned char *dst, int32_t len) {
    zvSETHGHi(int32_t(hi));
    if (d->kind == kKindVariable) {
        int rc = RDVREC(b.datno, lo, dst, len);
        return rc == 158 || rc == 123 ? 739 : rc;
    }
    int rc = REDREC(b.datno, lo, dst);
    if (rc == 0 && (dst[0] == 0xFF || (len >= 2 && dst[0] == 0xFE && dst[1] == 0xFE))) return 739;
    return rc;
}

}  // namespace

void entry_position(const BATSTATE &b, const BatEntry *e, uint32_t *hi, uint32_t *lo) {
    if (b.keyed) {
        memcpy(hi, e->u.key + b.keylen, 4);
        memcpy(lo, e->u.key + b.keylen + 4, 4);
    } else {
        *hi = e->u.pos.hi;
        *lo = e->u.pos.lo;
    }
}

void put_counts(BATSTATE &b, uint32_t part) {
    if (!b.req) return;
    put_req_u32(b.req, total_at(b), b.selected);
    put_req_u32(b.req, locked_at(b), b.locked);
    put_req_u32(b.req, returned_at(b), part);
}

int frsbat(BATSTATE &b) {
    INSTGV *g = zvWNGV;
    if ((b.content & kBatDirect) && b.selection != kBatSelPhysical) return 430;
    FCB *d = g->fcbtab[b.datno];
    int rc = 0;
    switch (b.selection) {
    case 0:
    case kBatSelPrefix: rc = collect_prefix(b, true); break;
    case kBatSelPrefixDesc: rc = collect_prefix(b, false); break;
    case kBatSelKeyList: rc = collect_keys(b); break;
    case kBatSelPosList: rc = collect_positions(b); break;
    case kBatSelPhysical: rc = collect_physical(b, d); break;
    default: rc = collect_range(b); break;
    }
    if (rc) return rc;
    b.cursor = b.head;
    if (b.lockflag) {
        for (BatEntry *e = b.head; e; e = e->next) {
            uint32_t hi, lo;
            entry_position(b, e, &hi, &lo);
            zvSETHGHi(int32_t(hi));
            if (LOKREC(b.datno, 1, lo) == 0) b.locked++;
        }
        set_uerr(0);
    }
    if (!b.buf) {
        put_counts(b, 0);
        return 0;
    }
    return fill_part(b);
}

int fill_part(BATSTATE &b) {
    INSTGV *g = zvWNGV;
    FCB *d = g->fcbtab[b.datno];
    const int32_t ps = b.wide ? 8 : 4;
    unsigned char *end = b.buf ? b.buf + b.bufsize : nullptr;
    uint32_t placed = 0;
    while (b.cursor && b.buf) {
        BatEntry *e = b.cursor;
        uint32_t hi, lo;
        entry_position(b, e, &hi, &lo);
        int32_t reclen = 0;
        const int32_t need = entry_size(b, d, hi, lo, &reclen);
        int rc = need ? 0 : 739;
        if (rc == 0 && need > end - b.wcur) {
            if (placed) break;
            put_counts(b, 0);
            if (b.mode & kBatNeeded) put_req_u32(b.req, kNeededAt, uint32_t(need));
            return 429;
        }
        unsigned char *dst = b.wcur;
        if (rc == 0 && (b.content & kBatRecords)) {
            unsigned char *rec = dst + ps + (d->kind == kKindVariable ? 4 : 0);
            rc = read_entry(b, d, hi, lo, rec, reclen);
            if (rc == 0 && d->kind == kKindVariable) memcpy(dst + ps, &reclen, 4);
        } else if (rc == 0 && key_content(b.content)) {
            memcpy(dst + ps, e->u.key, size_t(b.keylen));
        }
        b.cursor = e->next;
        b.remaining--;
        if (rc == 739) {
            // Refused by the filter now, or gone: out of the selection.
            b.selected--;
            set_uerr(0);
            continue;
        }
        if (rc) {
            put_counts(b, placed);
            return rc;
        }
        if (b.wide) {
            memcpy(dst, &hi, 4);
            memcpy(dst + 4, &lo, 4);
        } else {
            memcpy(dst, &lo, 4);
        }
        b.wcur += need;
        b.returned++;
        placed++;
    }
    put_counts(b, placed);
    if ((b.mode & kBatAutoFree) && b.remaining == 0) ifrebat(b, true);
    return 0;
}

}  // namespace zv

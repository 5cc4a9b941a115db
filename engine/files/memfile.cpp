// Memory-file records.
//
// A memory file keeps each record in one platform allocation, chained into
// the bucket of the file's hash table that the record's position selects.
// The position of a record is the address of its data; it is never used as
// an address before it has been found in the file's own chain, so a bad
// position from a caller is an error, not a stray access.
//
// Record layout (host order, in memory only):
//   OFFSET SIZE FIELD
//     0    8   next        next record of the bucket chain (null ends it)
//     8    4   flags       0
//    12    4   size        bytes of data: the bytes growth was asked for
//    16    ..  data        the record; its address is the record position
//
// Invariants:
//  1. Every record lies in the chain of bucket zvMEMFILEhash(position).
//  2. nmemrecs counts the records in all chains; nmemrecsmax is the most
//     it has been since the file was opened.
//  3. The header's last byte used and physical end rise by `size` when a
//     record is made (extfil) and fall by the same when it is removed.
#include "engine/files/memfile.h"

#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/instance.h"
#include "engine/files/files_services.h"
#include "engine/core/fcb.h"

namespace {

struct MemRec {
    MemRec *next;
    uint32_t flags;
    uint32_t size;
};
static_assert(sizeof(MemRec) == 16, "record header is 16 bytes");

inline unsigned char *data_of(MemRec *r) { return reinterpret_cast<unsigned char *>(r) + sizeof(MemRec); }
inline uint64_t pos_of(MemRec *r) { return uint64_t(reinterpret_cast<uintptr_t>(data_of(r))); }
inline MemRec **buckets(const FCB *f) { return reinterpret_cast<MemRec **>(f->membuckets); }

bool has_table(const FCB *f) { return f && fcb_is_memory(f) && f->membuckets && f->nmembuckets; }

// The record at pos and the link that points to it; null when none.
MemRec *find(const FCB *f, uint64_t pos, MemRec ***link) {
    if (!has_table(f) || pos == 0) return nullptr;
    MemRec **l = &buckets(f)[zvMEMFILEhash(f, pos)];
    for (; *l; l = &(*l)->next) {
        if (pos_of(*l) == pos) {
            if (link) *link = l;
            return *l;
        }
    }
    return nullptr;
}

MemRec *tail_of(MemRec *r) {
    while (r && r->next) r = r->next;
    return r;
}

// The tail record of the first non-empty bucket from b on; null at the end.
MemRec *first_from(const FCB *f, uint64_t b) {
    for (; b < f->nmembuckets; b++) {
        if (MemRec *r = buckets(f)[b]) return tail_of(r);
    }
    return nullptr;
}

void lower(uint32_t *hi, uint32_t *lo, uint64_t by) {
    uint64_t v = zv::join64(*hi, *lo);
    zv::split64(v >= by ? v - by : 0, hi, lo);
}

}  // namespace

uint32_t zvMEMFILEhash(const FCB *f, uint64_t x) {
    if (!f || f->nmembuckets == 0) return 0;
    x = x * 0x3FFFFu - 1;
    x ^= x >> 31;
    x *= 21;
    x ^= x >> 11;
    x *= 65;
    x ^= x >> 22;
    return uint32_t(x) % f->nmembuckets;
}

uint64_t zvnodmemrec(FCB *f, uint32_t hi, uint32_t lo) {
    uint64_t pos = zv::join64(hi, lo);
    return find(f, pos, nullptr) ? pos : 0;
}

int zvrmvmemrec(FCB *f, uint32_t hi, uint32_t lo) {
    MemRec **link = nullptr;
    MemRec *r = find(f, zv::join64(hi, lo), &link);
    if (!r) return zv::set_uerr(160);
    *link = r->next;
    if (f->nmemrecs) f->nmemrecs--;
    lower(&f->hdr.ext.numrech, &f->hdr.base.numrec, r->size);
    lower(&f->hdr.ext.phyendh, &f->hdr.base.phyend, r->size);
    mbfree(r);
    return zv::set_uerr(0);
}

uint32_t zvnxtmemrec(FCB *f, uint32_t *hw, uint32_t lo) {
    uint32_t h = 0;
    if (!hw) hw = &h;
    MemRec *next = nullptr;
    if (has_table(f)) {
        if (*hw == 0xFFFFFFFFu && lo == 0xFFFFFFFFu) {
            next = first_from(f, 0);
        } else {
            uint64_t pos = zv::join64(*hw, lo);
            uint32_t b = zvMEMFILEhash(f, pos);
            MemRec *prev = nullptr;
            MemRec *r = buckets(f)[b];
            while (r && pos_of(r) != pos) {
                prev = r;
                r = r->next;
            }
            if (!r) {
                zv::set_uerr(160);
                *hw = 0;
                return 0;
            }
            next = prev ? prev : first_from(f, uint64_t(b) + 1);
        }
    }
    if (!next) {
        *hw = 0;
        return 0;
    }
    uint32_t rlo;
    zv::split64(pos_of(next), hw, &rlo);
    return rlo;
}

namespace zv {

uint64_t memrec_new(FCB *f, uint32_t needed) {
    if (!has_table(f)) {
        set_uerr(48);
        return 0;
    }
    auto *r = static_cast<MemRec *>(mballc(1, sizeof(MemRec) + size_t(needed)));
    if (!r) {
        set_uerr(10);
        return 0;
    }
    r->size = needed;
    unsigned char *d = data_of(r);
    if (f->kind == kKindVariable) {
        memset(d, 0xFD, needed < 2 ? needed : 2);
    } else if (f->kind == kKindFixed) {
        memset(d, 0xFF, needed < 16 ? needed : 16);
    }
    uint64_t pos = pos_of(r);
    MemRec **head = &buckets(f)[zvMEMFILEhash(f, pos)];
    r->next = *head;
    *head = r;
    f->nmemrecs++;
    if (f->nmemrecs > f->nmemrecsmax) f->nmemrecsmax = f->nmemrecs;
    return pos;
}

void memfile_free_all(FCB *f) {
    if (!f || !f->membuckets) return;
    MemRec **b = buckets(f);
    for (uint32_t i = 0; i < f->nmembuckets; i++) {
        for (MemRec *r = b[i]; r;) {
            MemRec *n = r->next;
            mbfree(r);
            r = n;
        }
        b[i] = nullptr;
    }
    f->nmemrecs = 0;
}

unsigned char *memfile_record(FCB *f, uint64_t pos, uint32_t *size) {
    MemRec *r = find(f, pos, nullptr);
    if (!r) return nullptr;
    if (size) *size = r->size;
    return data_of(r);
}

}  // namespace zv

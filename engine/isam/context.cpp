// ISAM contexts: saved copies of a data file's current ISAM position.
//
// A data file opened through the ISAM layer has one current position: the
// current record (position, key-images-not-valid bit, identity image), per
// index the current key image with its state and the index's range block,
// the partition state and the record filter. A context keeps a copy of all
// that under a 16-bit id. At any time a data file has at most one active
// context (FCB::actctx), whose state lives in the file itself; the others
// hold saved copies. Saving happens only when the active context hands over
// (OPNICON of another, CHGICON), so the active context's own copy is stale
// until then.
//
// The contexts of the instance hang from a hash table of chains
// (IsamState::ctxtab): a context lies in bucket (id as unsigned 32-bit, the
// 16-bit id sign-extended) mod the bucket count, which is fixed when the
// table is made and is never below 1. New contexts go to the head of their
// chain.
//
// Invariants:
//  1. A context is one pool block: the fixed part, then nblocks per-index
//     blocks (ctx_block_size each); `first` points right behind the fixed
//     part, or is null when there is no block.
//  2. A context holds one use of its filter (shared with the file through
//     zvcpydatflt) and owns its blocks' range copies.
//  3. FCB::actctx of a data file is null or one of its contexts; closing a
//     context or the data file clears it.
//  4. Switching between contexts that were both used before takes no
//     memory: range copies and the file's range blocks are reused when large
//     enough, filters are shared.
#include "engine/isam/context.h"

#include <cstring>

#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/core/fcb.h"
#include "engine/core/filehdr.h"
#include "engine/files/fixrec.h"
#include "engine/index/keyform_needs.h"
#include "engine/index/nodebuf.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/cidx.h"
#include "engine/isam/isammap.h"
#include "engine/isam/isamrec.h"
#include "engine/isam/isamstate.h"
#include "engine/isam/partition.h"

namespace zv {

namespace {

inline int32_t range_size(const void *blk) {
    int32_t n = 0;
    if (blk) memcpy(&n, blk, 4);
    return n;
}

// Copies a range block into *dst, reusing *dst when it is large enough:
// 0, or 83 when no memory can be had (then *dst is null).
int copy_range(void **dst, const void *src) {
    const int32_t n = range_size(src);
    if (n <= 0) {
        zvputmemn(dst);
        return 0;
    }
    if (!*dst || zvmemsiz(*dst) < n) {
        zvputmemn(dst);
        *dst = zvgetmem(n);
        if (!*dst) return 83;
    }
    memcpy(*dst, src, size_t(n));
    return 0;
}

// The open index file keyno with its key buffers, or null with the ISAM
// error set (the file layer's code, 48 when it is no index).
FCB *open_index(int keyno) {
    INSTGV *g = zvWNGV;
    FCB *x = tstifnm(keyno);
    if (!x) {
        ierr(g->uerr_cod ? g->uerr_cod : 26, keyno);
        return nullptr;
    }
    if (x->kind != kKindIndex || !x->keybufs) {
        ierr(48, keyno);
        return nullptr;
    }
    return x;
}

// The open data file of a context, or null.
FCB *context_file(const ISAMCTX *c) {
    INSTGV *g = zvWNGV;
    if (!filno_in_table(c->datno)) return nullptr;
    FCB *d = g->fcbtab[c->datno];
    if (!d || (d->state != 'y' && d->state != 'v' && d->state != 'w') || d->kind == kKindIndex) return nullptr;
    return d;
}

ISAMCTX **bucket_of(int16_t id) {
    IsamState &s = isam_state(zvWNGV);
    return &s.ctxtab[uint32_t(int32_t(id)) % uint32_t(s.ctxbuckets)];
}

// The link that points to c in its chain, or null.
ISAMCTX **link_of(const ISAMCTX *c) {
    if (!isam_state(zvWNGV).ctxtab) return nullptr;
    for (ISAMCTX **pp = bucket_of(c->id); *pp; pp = &(*pp)->next)
        if (*pp == c) return pp;
    return nullptr;
}

// Frees a context that is no longer linked: its filter use, its range
// copies and the block itself.
void release(ISAMCTX *c) {
    zvfreecidx(c->fltr, c->fltrkind);
    CTXBLOCK *b = c->first;
    for (int i = 0; i < c->nblocks; i++, b = ctx_next_block(b)) zvputmem(b->rng);
    zvputmem(c);
}

// Unlinks and frees a context; the file loses it as its active one.
void close_one(ISAMCTX *c) {
    if (FCB *d = context_file(c))
        if (d->actctx == c) d->actctx = nullptr;
    if (ISAMCTX **pp = link_of(c)) *pp = c->next;
    release(c);
}

// Puts a copy in the old context's place (chain and active pointer) and
// frees the old block (its range copies now belong to the copy).
void replace(FCB *d, ISAMCTX *old, ISAMCTX *copy) {
    if (ISAMCTX **pp = link_of(old)) *pp = copy;
    if (d && d->actctx == old) d->actctx = copy;
    zvputmem(old);
}

// Copies the data file's current record into the context: position,
// partition state, state bytes and (unless it covers one index) the
// key-images-not-valid bit.
void take_position(ISAMCTX *c, const FCB *d) {
    c->posl = d->isamposl;
    c->posh = d->isamposh;
    PartState ps;
    partition_state_get(d, &ps);
    memcpy(c->member, ps.member, sizeof c->member);
    memcpy(c->partno, ps.partno, sizeof c->partno);
    memcpy(c->state, d->idkept, sizeof c->state);
    c->statelen = uint8_t(d->idkeptlen);
    if (!(c->flags & kCtxOneIndex)) c->flags = (d->isamflags & kIsamKeysInvalid) ? kCtxKeysInvalid : 0;
}

int make_table() {
    IsamState &s = isam_state(zvWNGV);
    if (s.ctxtab) return 0;
    int32_t n = int32_t(zvWNGV->idxhashsize);
    if (n < 1) n = 1;
    s.ctxtab = static_cast<ISAMCTX **>(zvgetmem(int32_t(sizeof(ISAMCTX *)) * n));
    if (!s.ctxtab) return 83;
    s.ctxbuckets = n;
    return 0;
}

bool table_empty() {
    IsamState &s = isam_state(zvWNGV);
    for (int32_t i = 0; i < s.ctxbuckets; i++)
        if (s.ctxtab[i]) return false;
    return true;
}

// An id for a new context: the requested one, or with -1 the next free one
// after the last id assigned (never -1 itself). 0, or 592.
int assign_id(int16_t want, int16_t *out) {
    IsamState &s = isam_state(zvWNGV);
    if (want != -1) {
        if (find_context(want)) return 592;
        *out = want;
    } else {
        const int16_t last = s.lastctx;
        int16_t c = int16_t(last + 1);
        for (int tries = 0;; tries++) {
            if (c == -1) c = 0;
            if (c == last || tries > 0xFFFF) return 592;
            if (!find_context(c)) break;
            c = int16_t(c + 1);
        }
        *out = c;
    }
    s.lastctx = *out == -2 ? int16_t(-1) : *out;
    return 0;
}

// Ends a failed call: the ISAM error with its file; the result -1 of
// OPNICON.
int open_failed(int code, int filno) {
    ierr(code, filno);
    set_uerr(code);
    return -1;
}

int open_context(int datno, int keyno, int16_t want) {
    INSTGV *g = zvWNGV;
    FCB *d = tstifnm(datno);
    if (!d) return open_failed(g->uerr_cod ? g->uerr_cod : 26, datno);
    if (d->kind == kKindIndex) return open_failed(48, datno);
    if (is_partition_member(d)) return open_failed(899, datno);

    // The size: the fixed part and a block per index.
    int32_t size = int32_t(sizeof(ISAMCTX));
    int nb = 0;
    if (keyno < 0) {
        for (int slot = 0; slot < kMapIndexes; slot++) {
            int ix = active_index(datno, slot);
            if (ix == kIdxListEnd) break;
            if (ix < 0) continue;
            FCB *x = open_index(ix);
            if (!x) return open_failed(g->isamerr_cod, ix);
            size += ctx_block_size(x->hdr.base.keylen);
            nb++;
        }
    } else {
        FCB *x = tstifnm(keyno);
        if (!x) return open_failed(g->uerr_cod ? g->uerr_cod : 26, keyno);
        if (x->kind != kKindIndex || !x->keybufs || keymap_datno(keyno) != datno) return open_failed(48, keyno);
        size += ctx_block_size(x->hdr.base.keylen);
        nb = 1;
    }

    const bool made = !isam_state(g).ctxtab;
    if (make_table()) return open_failed(83, datno);
    auto drop_table = [&]() {
        if (made && table_empty()) {
            zvputmemn(reinterpret_cast<void **>(&isam_state(g).ctxtab));
            isam_state(g).ctxbuckets = 0;
        }
    };
    auto *c = static_cast<ISAMCTX *>(zvgetmem(size));
    if (!c) {
        drop_table();
        return open_failed(83, datno);
    }
    int16_t id = 0;
    const int16_t lastbefore = isam_state(g).lastctx;
    if (int rc = assign_id(want, &id)) {
        zvputmem(c);
        drop_table();
        return open_failed(rc, datno);
    }
    c->id = id;
    c->datno = int16_t(datno);
    c->allidx = keyno < 0 ? 1 : 0;
    c->size = size;
    c->first = nb ? reinterpret_cast<CTXBLOCK *>(c + 1) : nullptr;
    ISAMCTX **head = bucket_of(id);
    c->next = *head;
    *head = c;
    set_uerr(0);
    ierr(0, 0);
    auto undo = [&](int code, int filno) {
        close_one(c);
        isam_state(g).lastctx = lastbefore;
        drop_table();
        return open_failed(code, filno);
    };

    ISAMCTX *before = d->actctx;
    if (before && savicon(before)) return undo(10, datno);
    d->actctx = c;
    c->flags = keyno < 0 ? 0 : kCtxOneIndex;
    take_position(c, d);

    CTXBLOCK *b = c->first;
    if (keyno < 0) {
        for (int slot = 0; slot < kMapIndexes && b; slot++) {
            int ix = active_index(datno, slot);
            if (ix == kIdxListEnd) break;
            if (ix < 0) continue;
            CTXBLOCK *nextb = lodconbuf(b, ix, 0);
            if (!nextb) {
                d->actctx = before;
                return undo(g->isamerr_cod, g->isamfil_num);
            }
            c->nblocks++;
            b = nextb;
        }
    } else {
        if (!lodconbuf(b, keyno, 0)) {
            d->actctx = before;
            return undo(g->isamerr_cod, g->isamfil_num);
        }
        c->nblocks = 1;
    }
    return id;
}

// Puts the saved state of context c back into its data file d: 0, or 591
// when an index block or the partition state cannot be restored.
int restore(ISAMCTX *c, FCB *d) {
    const int datno = c->datno;
    memcpy(d->idkept, c->state, sizeof c->state);
    d->idkeptlen = int8_t(c->statelen);
    d->isamposl = c->posl;
    d->isamposh = c->posh;
    PartState ps;
    memcpy(ps.member, c->member, sizeof ps.member);
    memcpy(ps.partno, c->partno, sizeof ps.partno);
    partition_state_set(d, &ps);
    void *f = zvcpydatflt(c->fltr, c->fltrkind);
    free_record_filter(d);
    d->fltr = f;
    d->fltrkind = f ? c->fltrkind : 0;
    if (!(c->flags & kCtxOneIndex)) {
        if (c->flags & kCtxKeysInvalid) d->isamflags |= kIsamKeysInvalid;
        else d->isamflags &= ~kIsamKeysInvalid;
    }
    if (c->flags & kCtxOneIndex) {
        // The other indexes hold the images of whatever record was current
        // before: they are formed again from the restored record when an
        // update or a read needs them.
        for (int slot = 0; slot < kMapIndexes; slot++) {
            int ix = active_index(datno, slot);
            if (ix == kIdxListEnd) break;
            if (KEYBUFSET *k = ix >= 0 ? key_images(ix) : nullptr) k->curstate = 3;
        }
    }
    CTXBLOCK *b = c->first;
    for (int i = 0; i < c->nblocks; i++, b = ctx_next_block(b)) {
        const int ix = b->ixno;
        if (keymap_datno(ix) != datno) return 591;
        FCB *x = open_index(ix);
        if (!x || x->hdr.base.keylen != b->keylen) return 591;
        if ((x->hdr.ext.flmode2 & kFlmode2PartHost) && initPARTSERbuf(ix)) return 591;
        KEYBUFSET *k = x->keybufs;
        k->curstate = int8_t(b->keystate);
        memcpy(k->cur, ctx_block_key(b), size_t(b->keylen));
        memcpy(k->work, ctx_block_key(b), size_t(b->keylen));
        if (copy_range(&x->rngblk, b->rng)) return 591;
    }
    if (d->hdr.ext.flmode2 & kFlmode2PartHost) {
        if (c->member[0] >= partition_lowest_raw(d)) {
            int32_t raw = 0;
            int m = hostpartno(d, &raw, datno, c->member[0]);
            if (m < 0 || partcuri(m, datno) < 0) return 591;
        }
    }
    return 0;
}

int change_context(int16_t id) {
    INSTGV *g = zvWNGV;
    set_uerr(0);
    ierr(0, 0);
    ISAMCTX *c = find_context(id);
    if (!c) return isam_end(set_uerr(590), 0);
    const int datno = c->datno;
    FCB *d = tstifnm(datno);
    if (!d) return isam_end(g->uerr_cod ? g->uerr_cod : 26, datno);
    if (d->kind == kKindIndex) return isam_end(set_uerr(591), datno);
    if (d->actctx == c) return isam_end(0, datno);
    ISAMCTX *prev = d->actctx;
    if (prev && savicon(prev)) return isam_end(set_uerr(10), datno);
    d->actctx = nullptr;
    if (restore(c, d) == 0) {
        d->actctx = c;
        return isam_end(0, datno);
    }
    // The file is left with no active context: back to the one before,
    // or to no current record.
    if (prev) change_context(prev->id);
    else clear_isam_position(d);
    return isam_end(set_uerr(591), datno);
}

}  // namespace

ISAMCTX *find_context(int16_t id) {
    INSTGV *g = zvWNGV;
    if (!g || !isam_state(g).ctxtab) return nullptr;
    for (ISAMCTX *c = *bucket_of(id); c; c = c->next)
        if (c->id == id) return c;
    return nullptr;
}

CTXBLOCK *lodconbuf(CTXBLOCK *block, int keyno, int range) {
    FCB *x = open_index(keyno);
    if (!x) return nullptr;
    const int32_t kl = x->hdr.base.keylen;
    // A block is made for one key length: an index with another one now
    // (replaced under the same number) would not fit in it.
    if (block->keylen && block->keylen != kl) {
        ierr(591, keyno);
        return nullptr;
    }
    KEYBUFSET *k = x->keybufs;
    block->ixno = int16_t(keyno);
    block->keylen = int16_t(kl);
    block->keystate = uint8_t(k->curstate);
    memcpy(ctx_block_key(block), k->cur, size_t(kl));
    if (range && copy_range(&block->rng, x->rngblk)) {
        ierr(83, keyno);
        return nullptr;
    }
    return ctx_next_block(block);
}

int savicon(ISAMCTX *c) {
    FCB *d = context_file(c);
    if (!d) return 26;
    take_position(c, d);
    zvfreecidx(c->fltr, c->fltrkind);
    c->fltr = zvcpydatflt(d->fltr, d->fltrkind);
    c->fltrkind = c->fltr ? d->fltrkind : 0;
    CTXBLOCK *b = c->first;
    for (int i = 0; i < c->nblocks; i++) {
        b = lodconbuf(b, b->ixno, 1);
        if (!b) return zvWNGV->isamerr_cod ? zvWNGV->isamerr_cod : 10;
    }
    return 0;
}

int zvclrcon(int datno, int mode) {
    INSTGV *g = zvWNGV;
    if (mode != 1 || !g || !isam_state(g).ctxtab || isam_state(g).ctxbuckets <= 0) return 0;
    for (int32_t i = 0; i < isam_state(g).ctxbuckets; i++) {
        ISAMCTX **pp = &isam_state(g).ctxtab[i];
        while (*pp) {
            ISAMCTX *c = *pp;
            if (c->datno != datno) {
                pp = &c->next;
                continue;
            }
            *pp = c->next;
            release(c);
        }
    }
    if (filno_in_table(datno) && g->fcbtab[datno]) g->fcbtab[datno]->actctx = nullptr;
    return 0;
}

void isam_close_contexts(int datno) { zvclrcon(datno, 1); }

void free_context_table() {
    INSTGV *g = zvWNGV;
    if (!g || !isam_state(g).ctxtab) return;
    for (int32_t i = 0; i < isam_state(g).ctxbuckets; i++) {
        while (ISAMCTX *c = isam_state(g).ctxtab[i]) {
            isam_state(g).ctxtab[i] = c->next;
            if (filno_in_table(c->datno) && g->fcbtab[c->datno] && g->fcbtab[c->datno]->actctx == c)
                g->fcbtab[c->datno]->actctx = nullptr;
            release(c);
        }
    }
    zvputmemn(reinterpret_cast<void **>(&isam_state(g).ctxtab));
    isam_state(g).ctxbuckets = 0;
}

int addconbuf(FCB *datfcb, const IFIL *ifil) {
    INSTGV *g = zvWNGV;
    if (!g || !ifil || !isam_state(g).ctxtab || ifil->dnumidx <= 0) return 0;
    const int datno = ifil->dfilno;
    int32_t extra = 0;
    for (int i = 0; i < ifil->dnumidx; i++) {
        FCB *x = open_index(ifil->tfilno + i);
        if (!x) return g->isamerr_cod;
        extra += ctx_block_size(x->hdr.base.keylen);
    }
    for (int32_t bkt = 0; bkt < isam_state(g).ctxbuckets; bkt++) {
        for (ISAMCTX *c = isam_state(g).ctxtab[bkt]; c;) {
            ISAMCTX *next = c->next;
            if (c->datno != datno || !c->allidx) {
                c = next;
                continue;
            }
            auto *n = static_cast<ISAMCTX *>(zvgetmem(c->size + extra));
            if (!n) return ierr(83, datno);
            memcpy(static_cast<void *>(n), c, size_t(c->size));
            n->first = reinterpret_cast<CTXBLOCK *>(n + 1);
            auto *b = reinterpret_cast<CTXBLOCK *>(reinterpret_cast<unsigned char *>(n) + c->size);
            for (int i = 0; i < ifil->dnumidx; i++) {
                b = lodconbuf(b, ifil->tfilno + i, 0);
                if (!b) {
                    zvputmem(n);
                    return g->isamerr_cod;
                }
            }
            n->nblocks = int16_t(n->nblocks + ifil->dnumidx);
            n->size = c->size + extra;
            replace(datfcb, c, n);
            c = next;
        }
    }
    return 0;
}

int dltconbuf(FCB *datfcb, int datno, int first, int count) {
    INSTGV *g = zvWNGV;
    if (!g || !isam_state(g).ctxtab || count <= 0) return 0;
    auto dropped = [&](const CTXBLOCK *b) { return b->ixno >= first && b->ixno < first + count; };
    for (int32_t bkt = 0; bkt < isam_state(g).ctxbuckets; bkt++) {
        for (ISAMCTX *c = isam_state(g).ctxtab[bkt]; c;) {
            ISAMCTX *next = c->next;
            int32_t size = int32_t(sizeof(ISAMCTX));
            int kept = 0;
            CTXBLOCK *b = c->first;
            for (int i = 0; i < c->nblocks; i++, b = ctx_next_block(b)) {
                if (dropped(b)) continue;
                size += ctx_block_size(b->keylen);
                kept++;
            }
            if (c->datno != datno || kept == c->nblocks) {
                c = next;
                continue;
            }
            auto *n = static_cast<ISAMCTX *>(zvgetmem(size));
            if (!n) return ierr(83, datno);
            memcpy(static_cast<void *>(n), c, sizeof(ISAMCTX));
            n->first = kept ? reinterpret_cast<CTXBLOCK *>(n + 1) : nullptr;
            n->nblocks = int16_t(kept);
            n->size = size;
            auto *to = reinterpret_cast<unsigned char *>(n + 1);
            b = c->first;
            for (int i = 0; i < c->nblocks; i++, b = ctx_next_block(b)) {
                const int32_t bs = ctx_block_size(b->keylen);
                if (dropped(b)) {
                    zvputmem(b->rng);
                    continue;
                }
                memcpy(to, b, size_t(bs));
                to += bs;
            }
            replace(datfcb, c, n);
            c = next;
        }
    }
    return 0;
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int OPNICON(int datno, int keyno, int id) {
    INSTGV *g = zvWNGV;
    if (!g) return -1;
    g->isamerr_cod = 0;
    return open_context(datno, keyno, int16_t(id));
}

ZV_API int CHGICON(int id) {
    if (!zvWNGV) return 47;
    zvWNGV->isamerr_cod = 0;
    return change_context(int16_t(id));
}

ZV_API int CLSICON(int id) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    set_uerr(0);
    ISAMCTX *c = find_context(int16_t(id));
    if (!c) return isam_end(set_uerr(590), 0);
    close_one(c);
    return isam_end(0, 0);
}

}  // extern "C"

// Replication work lists: files, transactions with their operations, and
// the queue of transaction commits, in a caller-owned context.
//
// Each table is an array of chain-head pointers into one block of circular
// chain heads (an empty chain's head links to itself). A key k goes to
// chain (k x 11737 + 3731) modulo the table size, in 32-bit unsigned
// arithmetic. Transaction entries (112 bytes) live in the operation table
// by their key; commit entries live in the commit table by their id and in
// the commit queue in the order they were added. A transaction entry that
// is also queued as a commit is unlinked from both before it is freed.
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "zarvo/zarvo.h"

namespace {

constexpr int32_t kStateCommit = 2;  // commit entry made by a kind-7 record
constexpr uint8_t kFlagAck = 0x01;   // record flags: acknowledged position present
constexpr uint32_t kTranAcked = 0x01;
constexpr uint32_t kTranQueued = 0x02;

// An operation copied into its transaction's list.
struct OpEntry {
    OpEntry *next;
    ZVREPLREC rec;
};

// A transaction, or a commit (112 bytes).
struct TranEntry {
    ZVREPLLINK chain;     // operation table chain (transactions)
    ZVREPLLINK cmtchain;  // commit table chain (queued entries)
    TranEntry *qnext;     // next entry of the commit queue
    uint64_t id;          // transaction key, or the id of a commit record
    uint64_t pos;         // position pair
    uint64_t ackpos;      // acknowledged position
    OpEntry *opfirst;
    OpEntry *oplast;
    int32_t state;        // 2: commit made by a kind-7 record
    uint32_t flags;       // kTranAcked, kTranQueued
    int32_t nops;
    int32_t pad;
};
static_assert(sizeof(TranEntry) == 112, "a transaction entry is 112 bytes");
static_assert(sizeof(ZVREPLREC) == 64, "a replication record is 64 bytes");
static_assert(offsetof(ZVREPLREC, key) == 8, "the key is the second 64-bit word");

inline uint32_t hash_of(uint64_t key, int32_t size) {
    return (uint32_t(key) * 11737u + 3731u) % uint32_t(size);
}

void link_self(ZVREPLLINK *h) {
    h->next = h;
    h->prev = h;
    h->head = h;
}

void chain_insert(ZVREPLLINK *head, ZVREPLLINK *l) {
    l->head = head;
    l->next = head;
    l->prev = head->prev;
    head->prev->next = l;
    head->prev = l;
}

void chain_remove(ZVREPLLINK *l) {
    if (!l->next) return;
    l->prev->next = l->next;
    l->next->prev = l->prev;
    l->next = l->prev = nullptr;
    l->head = nullptr;
}

// A table of n chain heads: 0, 540, 82.
int make_table(ZVREPLLINK ***tab, int32_t n) {
    if (n < 1) n = 1;
    auto **heads = static_cast<ZVREPLLINK **>(mballc(size_t(n), sizeof(ZVREPLLINK *)));
    auto *block = static_cast<ZVREPLLINK *>(mballc(size_t(n), sizeof(ZVREPLLINK)));
    if (!heads || !block) {
        mbfree(heads);
        mbfree(block);
        return 82;
    }
    for (int32_t i = 0; i < n; i++) {
        heads[i] = &block[i];
        link_self(heads[i]);
    }
    *tab = heads;
    return 0;
}

void free_table(ZVREPLLINK ***tab) {
    if (!*tab) return;
    mbfree((*tab)[0]);
    mbfree(*tab);
    *tab = nullptr;
}

inline int32_t table_size(int32_t n) { return n < 1 ? 1 : n; }

TranEntry *from_chain(ZVREPLLINK *l) { return reinterpret_cast<TranEntry *>(l); }
TranEntry *from_cmtchain(ZVREPLLINK *l) {
    return reinterpret_cast<TranEntry *>(reinterpret_cast<char *>(l) - offsetof(TranEntry, cmtchain));
}

TranEntry *find_tran(ZVREPLCTX *c, uint64_t key) {
    if (!c->optab) return nullptr;
    ZVREPLLINK *head = c->optab[hash_of(key, table_size(c->optabsize))];
    for (ZVREPLLINK *l = head->next; l != head; l = l->next)
        if (from_chain(l)->id == key) return from_chain(l);
    return nullptr;
}

TranEntry *find_cmt(ZVREPLCTX *c, uint64_t id) {
    if (!c->cmttab) return nullptr;
    ZVREPLLINK *head = c->cmttab[hash_of(id, table_size(c->cmttabsize))];
    for (ZVREPLLINK *l = head->next; l != head; l = l->next)
        if (from_cmtchain(l)->id == id) return from_cmtchain(l);
    return nullptr;
}

void free_ops(TranEntry *t) {
    for (OpEntry *o = t->opfirst; o;) {
        OpEntry *next = o->next;
        mbfree(o);
        o = next;
    }
    t->opfirst = t->oplast = nullptr;
    t->nops = 0;
}

// Takes an entry out of the commit queue.
void unqueue(ZVREPLCTX *c, TranEntry *t) {
    TranEntry *prev = nullptr;
    for (auto *e = static_cast<TranEntry *>(c->cmtfirst); e; prev = e, e = e->qnext) {
        if (e != t) continue;
        if (prev) prev->qnext = e->qnext;
        else c->cmtfirst = e->qnext;
        if (c->cmtlast == e) c->cmtlast = prev;
        break;
    }
    t->qnext = nullptr;
    t->flags &= ~kTranQueued;
    chain_remove(&t->cmtchain);
}

}  // namespace

extern "C" {

ZV_API void *zvReplAllocMem(size_t size) { return mballc(1, size ? size : 1); }

ZV_API void zvReplFreeMem(void *p) {
    if (p) mbfree(p);
}

ZV_API int zvReplFileListCreate(ZVREPLCTX *c) {
    if (!c) return 540;
    return make_table(&c->filetab, c->filetabsize);
}

ZV_API int zvReplFileListAdd(ZVREPLCTX *c, ZVREPLFILE *entry) {
    if (!c || !entry || !entry->data || !c->filetab) return 540;
    uint32_t id;
    memcpy(&id, entry->data, sizeof id);
    chain_insert(c->filetab[hash_of(id, table_size(c->filetabsize))], &entry->link);
    return 0;
}

namespace {

ZVREPLFILE *find_file(ZVREPLCTX *c, uint32_t id) {
    ZVREPLLINK *head = c->filetab[hash_of(id, table_size(c->filetabsize))];
    for (ZVREPLLINK *l = head->next; l != head; l = l->next) {
        auto *e = reinterpret_cast<ZVREPLFILE *>(l);
        uint32_t eid;
        memcpy(&eid, e->data, sizeof eid);
        if (eid == id) return e;
    }
    return nullptr;
}

}  // namespace

ZV_API int zvReplFileListDelete(ZVREPLCTX *c, uint32_t id) {
    if (!c || !c->filetab) return 540;
    ZVREPLFILE *e = find_file(c, id);
    if (!e) return 101;
    chain_remove(&e->link);
    zvReplFreeMem(e);
    return 0;
}

ZV_API int zvReplFileListGet(ZVREPLCTX *c, uint32_t id, void **out) {
    if (!c || !c->filetab || !out) return 540;
    ZVREPLFILE *e = find_file(c, id);
    *out = e ? e->data : nullptr;
    return e ? 0 : 101;
}

ZV_API int zvReplFileListDestroy(ZVREPLCTX *c) {
    if (!c) return 540;
    if (!c->filetab) return 0;
    for (int32_t i = 0; i < table_size(c->filetabsize); i++) {
        ZVREPLLINK *head = c->filetab[i];
        while (head->next != head) {
            ZVREPLLINK *l = head->next;
            chain_remove(l);
            zvReplFreeMem(l);
        }
    }
    free_table(&c->filetab);
    return 0;
}

ZV_API int zvReplOpListInit(ZVREPLCTX *c) {
    if (!c) return 540;
    c->opcount = 0;
    return make_table(&c->optab, c->optabsize);
}

ZV_API int zvReplOpListCreate(ZVREPLCTX *c, const ZVREPLREC *rec) {
    if (!c || !rec || !c->optab) return 540;
    if (rec->kind != ZV_REPL_BEGIN) return 446;
    auto *t = static_cast<TranEntry *>(mballc(1, sizeof(TranEntry)));
    if (!t) return 89;
    t->id = rec->key;
    t->pos = rec->pos;
    chain_insert(c->optab[hash_of(rec->key, table_size(c->optabsize))], &t->chain);
    return 0;
}

ZV_API int zvReplOpListAdd(ZVREPLCTX *c, const ZVREPLREC *rec) {
    if (!c || !rec || !c->optab) return 540;
    TranEntry *t = find_tran(c, rec->key);
    if (!t) return 101;
    auto *o = static_cast<OpEntry *>(mballc(1, sizeof(OpEntry)));
    if (!o) return 89;
    o->rec = *rec;
    if (t->oplast) t->oplast->next = o;
    else t->opfirst = o;
    t->oplast = o;
    t->nops++;
    c->opcount++;
    return 0;
}

ZV_API int zvReplOpListGet(ZVREPLCTX *c, const ZVREPLREC *rec, ZVREPLREC *out) {
    if (!c || !rec || !out) return 540;
    TranEntry *t = find_tran(c, rec->key);
    if (!t) return 101;
    memset(out, 0, sizeof *out);
    out->kind = ZV_REPL_BEGIN;
    out->flags = (t->flags & kTranAcked) ? kFlagAck : 0;
    out->key = t->id;
    out->pos = t->pos;
    out->ackpos = t->ackpos;
    out->count = t->nops;
    return 0;
}

ZV_API int zvReplOpListSetCmtAck(ZVREPLCTX *c, const ZVREPLREC *rec) {
    if (!c || !rec) return 540;
    TranEntry *t = find_tran(c, rec->key);
    if (!t) return 101;
    t->flags |= kTranAcked;
    return 0;
}

ZV_API int zvReplOpListDestroy(ZVREPLCTX *c) {
    if (!c) return 540;
    if (!c->optab) return 0;
    for (int32_t i = 0; i < table_size(c->optabsize); i++) {
        ZVREPLLINK *head = c->optab[i];
        while (head->next != head) {
            TranEntry *t = from_chain(head->next);
            chain_remove(&t->chain);
            if (t->flags & kTranQueued) unqueue(c, t);
            free_ops(t);
            mbfree(t);
        }
    }
    free_table(&c->optab);
    c->opcount = 0;
    return 0;
}

ZV_API int zvReplOpListTerm(ZVREPLCTX *c) { return zvReplOpListDestroy(c); }

ZV_API int zvReplTranCmtListCreate(ZVREPLCTX *c) {
    if (!c) return 540;
    c->cmtfirst = c->cmtlast = nullptr;
    return make_table(&c->cmttab, c->cmttabsize);
}

ZV_API int zvReplTranCmtListAdd(ZVREPLCTX *c, const ZVREPLREC *rec) {
    if (!c || !rec || !c->cmttab) return 540;
    TranEntry *t;
    if (rec->kind == ZV_REPL_COMMIT) {
        t = static_cast<TranEntry *>(mballc(1, sizeof(TranEntry)));
        if (!t) return 89;
        t->state = kStateCommit;
        t->id = rec->id;
        t->pos = rec->pos;
    } else if (rec->kind == ZV_REPL_ACK) {
        t = find_tran(c, rec->key);
        if (!t) return 101;
        t->pos = rec->pos;
        if (rec->flags & kFlagAck) {
            t->ackpos = rec->ackpos;
            t->flags |= kTranAcked;
        }
        // Queued once: a second acknowledgement only updates the entry.
        if (t->flags & kTranQueued) return 0;
    } else {
        return 446;
    }
    chain_insert(c->cmttab[hash_of(t->id, table_size(c->cmttabsize))], &t->cmtchain);
    t->flags |= kTranQueued;
    t->qnext = nullptr;
    if (c->cmtlast) static_cast<TranEntry *>(c->cmtlast)->qnext = t;
    else c->cmtfirst = t;
    c->cmtlast = t;
    return 0;
}

ZV_API int zvReplTranCmtGetOldestAck(ZVREPLCTX *c, ZVREPLREC *out) {
    if (!c || !out) return 540;
    memset(out, 0, sizeof *out);
    auto *t = static_cast<TranEntry *>(c->cmtfirst);
    if (!t) return 0;
    out->id = t->id;
    if (t->state == kStateCommit) {
        out->kind = ZV_REPL_COMMIT;
        return 0;
    }
    out->kind = ZV_REPL_ACK;
    out->key = t->id;
    out->pos = t->pos;
    if (t->flags & kTranAcked) {
        out->flags = kFlagAck;
        out->ackpos = t->ackpos;
    }
    return 0;
}

ZV_API int zvReplTranCmtListRemove(ZVREPLCTX *c, const ZVREPLREC *rec) {
    if (!c || !rec) return 540;
    uint64_t id = rec->kind == ZV_REPL_COMMIT ? rec->id : rec->key;
    TranEntry *t = find_cmt(c, id);
    if (!t) {
        zvrt_printf("Error: Could not find the specified transaction in the transaction commit list\n");
        return 101;
    }
    unqueue(c, t);
    if (t->state == kStateCommit) mbfree(t);
    return 0;
}

ZV_API int zvReplTranCmtListDestroy(ZVREPLCTX *c) {
    if (!c) return 540;
    while (c->cmtfirst) {
        auto *t = static_cast<TranEntry *>(c->cmtfirst);
        unqueue(c, t);
        if (t->state == kStateCommit) mbfree(t);
    }
    free_table(&c->cmttab);
    return 0;
}

}  // extern "C"

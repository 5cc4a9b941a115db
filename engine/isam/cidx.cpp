// Conditional indexes: the stored conditions of a data file, the table of
// compiled conditions built from them, and sharing and releasing
// conditions. (Key formation evaluates them: engine/index/keycond.cpp.)
//
// The conditions of all indexes of a data file live in one resource of the
// data file (type 0, number 5, "QV!CIDX"). The resource layer hands its
// body over in host order:
//   OFFSET SIZE FIELD
//     0    4   type 0
//     4    4   number 5
//     8    8   name "QV!CIDX", NUL-padded
//    16    2   A: entries of conditions
//    18    2   B: entries of a second group, carried along unchanged
//    20    8n  A + B entries: i16 relative index number, i16 text space
//              (its NUL included), i32 kind (0 expression, 1 callback)
//    ..        texts in entry order, each NUL-terminated inside its space
//              and padded with NULs to it
// The body of GETCRES and PUTCRES is the part from offset 16 on.
//
// Invariants:
//  1. A body is checked before anything reads it: its entries and texts lie
//     inside it and every text ends with a NUL inside its space; a stored
//     body that breaks this is damaged (439), and no key is formed without
//     the conditions of the file.
//  2. Nothing is stored that the next open could not load: a new body is
//     checked and its table built before it is written.
//  3. The key-map flag 16 of an index says that the data file's table holds
//     a condition for it (flag 32: the index file's own in-memory
//     condition, kept in its FCB::fltr until the index closes).
//  4. A callback filter is one block: a u32 use count, then the
//     NUL-terminated callback text (with its leading "@"). Sharing adds a
//     use; the release of the last use ends the callback and frees the
//     block. A block that was never initialised is dropped without ending
//     its callback.
//  5. Releasing a table leaves the instance's evaluation area alone: it is
//     kept until the instance stops.
//
#include "engine/isam/cidx.h"

#include <cstring>
#include <new>
#include <vector>

#include "engine/core/filenum.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/expr/eval.h"
#include "engine/expr/expr_services.h"
#include "engine/expr/filtercb.h"
#include "engine/expr/ptree.h"
#include "engine/core/fcb.h"
#include "engine/files/fixrec.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

constexpr uint32_t kCidxType = 0;
constexpr uint32_t kCidxNumber = 5;
constexpr char kCidxName[8] = "QV!CIDX";
constexpr int32_t kResHead = 16;   // type, number and name before the body
constexpr int32_t kCounts = 4;     // A and B
constexpr int32_t kEntry = 8;
constexpr int32_t kMaxText = 32767;  // the i16 text space
constexpr uint16_t kFlagStored = kKeyCondExpr;
constexpr uint16_t kFlagMemory = kKeyCondInMemory;
constexpr uint16_t kHdrMemoryCondition = 0x20;  // index header flag

// ---- Callback blocks and tables ---------------------------------------------------

uint32_t uses_of(const void *block) {
    uint32_t u;
    memcpy(&u, block, 4);
    return u;
}

void set_uses(void *block, uint32_t u) { memcpy(block, &u, 4); }

void release_callback(void *block) {
    uint32_t u = uses_of(block);
    if (u > 1) {
        set_uses(block, u - 1);
        return;
    }
    zvfiltercb_uninit(static_cast<const char *>(block) + 4);
    zvputmem(block);
}

// Releases a condition whose callback was never initialised: a callback
// block loses a use without ending the callback.
void drop_condition(void *expr, int kind) {
    if (!expr) return;
    if (kind == 0) {
        ptDestroy(static_cast<PTNODE *>(expr));
    } else if (uses_of(expr) > 1) {
        set_uses(expr, uses_of(expr) - 1);
    } else {
        zvputmem(expr);
    }
}

// Releases a table; with `ended` the callbacks of its entries end (they
// were initialised), otherwise they are only dropped. Entries of the
// reserved kind 5 are left to their owner.
void release_table(CIDXTABLE *t, bool ended) {
    CIDXENTRY **arr = t->entries ? t->entries : t->bentries;
    uint32_t n = t->count_a() + t->count_b();
    for (uint32_t i = 0; arr && i < n; i++) {
        CIDXENTRY *e = arr[i];
        if (!e) continue;
        if (e->expr && e->kind == 0) ptDestroy(static_cast<PTNODE *>(e->expr));
        else if (e->expr && e->kind == 1) ended ? release_callback(e->expr) : drop_condition(e->expr, 1);
        zvputmem(e);
    }
    zvputmem(arr);
    zvputmem(t);
}

// ---- Bodies ----------------------------------------------------------------------------

struct BodyEntry {
    int16_t relno;
    int16_t len;
    int32_t kind;
};

BodyEntry entry_at(const unsigned char *body, uint32_t i) {
    BodyEntry e;
    const unsigned char *p = body + kCounts + int64_t(kEntry) * i;
    memcpy(&e.relno, p, 2);
    memcpy(&e.len, p + 2, 2);
    memcpy(&e.kind, p + 4, 4);
    return e;
}

// A checked body: its counts and the bytes its entries and texts take.
struct BodyView {
    const unsigned char *body = nullptr;
    uint32_t a = 0;
    uint32_t b = 0;
    int32_t used = 0;
    uint32_t count() const { return a + b; }
    // Offset of the text of entry i.
    int64_t text_at(uint32_t i) const {
        int64_t pos = kCounts + int64_t(kEntry) * count();
        for (uint32_t k = 0; k < i; k++) pos += entry_at(body, k).len;
        return pos;
    }
};

// Checks a body of len bytes: 0 with *v filled, 595 when its counts,
// entries or texts run past len, 439 when a text has no space or no NUL
// inside its space.
int check_body(const unsigned char *body, int32_t len, BodyView *v) {
    if (!body || len < kCounts) return 595;
    uint16_t a, b;
    memcpy(&a, body, 2);
    memcpy(&b, body + 2, 2);
    const uint32_t n = uint32_t(a) + b;
    int64_t pos = kCounts + int64_t(kEntry) * n;
    if (pos > len) return 595;
    for (uint32_t i = 0; i < n; i++) {
        BodyEntry e = entry_at(body, i);
        if (e.len < 1) return 439;
        if (pos + e.len > len) return 595;
        if (!memchr(body + pos, 0, size_t(e.len))) return 439;
        pos += e.len;
    }
    *v = BodyView{body, a, b, int32_t(pos)};
    return 0;
}

// The stored resource read into engine memory (freed with the object).
struct StoredConditions {
    unsigned char *image = nullptr;
    int32_t used = 0;
    StoredConditions() = default;
    StoredConditions(const StoredConditions &) = delete;
    StoredConditions &operator=(const StoredConditions &) = delete;
    ~StoredConditions() { zvputmem(image); }
    const unsigned char *body() const { return image + kResHead; }
    int32_t length() const { return used - kResHead; }
};

// Reads the data file's resource: 0, 408 (or 401) when there is none, 439
// when it is shorter than its head, 83 no memory, or the read's error.
int read_stored(int datno, StoredConditions *out) {
    INSTGV *g = zvWNGV;
    const uint32_t key[2] = {kCidxType, kCidxNumber};
    uint32_t info[3] = {};
    uint32_t lo = GETRES(datno, key, info, int32_t(sizeof info), 2 | 0x40);
    uint32_t hi = uint32_t(zvGETHGHi());
    if (!lo && !hi) return g->uerr_cod ? g->uerr_cod : 408;
    const uint32_t used = info[2];
    if (used < uint32_t(kResHead) || used > 0x7FFFFFF0u) return 439;
    auto *image = static_cast<unsigned char *>(zvgetmem(int32_t(used)));
    if (!image) return 83;
    lo = GETRES(datno, key, image, int32_t(used), 2);
    hi = uint32_t(zvGETHGHi());
    if (!lo && !hi) {
        int rc = g->uerr_cod ? g->uerr_cod : 408;
        zvputmem(image);
        return rc;
    }
    out->image = image;
    out->used = int32_t(used);
    return 0;
}

bool none_stored(int rc) { return rc == 408 || rc == 401; }

// Writes the resource with a checked body (added or replaced): 0 or the
// resource error.
int write_stored(int datno, const BodyView &v) {
    const uint32_t key[2] = {kCidxType, kCidxNumber};
    const int32_t total = kResHead + v.used;
    auto *image = static_cast<unsigned char *>(zvgetmem(total));
    if (!image) return 83;
    memcpy(image, key, sizeof key);
    memcpy(image + 8, kCidxName, sizeof kCidxName);
    memcpy(image + kResHead, v.body, size_t(v.used));
    uint32_t lo = GETRES(datno, key, nullptr, 0, 2 | 0x40);
    uint32_t hi = uint32_t(zvGETHGHi());
    int rc = (lo || hi) ? UPDRES(datno, image, total) : ADDRES(datno, image, total);
    zvputmem(image);
    return rc;
}

// Deletes the resource: 0 also when there is none.
int delete_stored(int datno) {
    const uint32_t key[2] = {kCidxType, kCidxNumber};
    int rc = DELRES(datno, key);
    if (none_stored(rc)) rc = set_uerr(0);
    return rc;
}

// ---- Tables ----------------------------------------------------------------------------

// Builds the table of a checked body with at least one entry: 0 with *out,
// or 435, 596, 597 (or the parser's own code). Nothing stays allocated on
// failure and no callback is initialised.
int build_table(const BodyView &v, const unsigned char *schema, const void *names, CIDXTABLE **out) {
    INSTGV *g = zvWNGV;
    *out = nullptr;
    if (!schema || !names) return 596;
    if (take_eval_area()) return 435;
    const uint32_t n = v.count();
    auto *t = static_cast<CIDXTABLE *>(zvgetmem(int32_t(sizeof(CIDXTABLE))));
    auto **arr = static_cast<CIDXENTRY **>(zvgetmem(int32_t(n * sizeof(CIDXENTRY *))));
    if (!t || !arr) {
        zvputmem(t);
        zvputmem(arr);
        return 435;
    }
    memset(static_cast<void *>(t), 0, sizeof *t);
    memset(static_cast<void *>(arr), 0, n * sizeof(CIDXENTRY *));
    t->counts = v.a << 16 | v.b;
    t->entries = v.a ? arr : nullptr;
    t->bentries = arr + v.a;
    int64_t pos = kCounts + int64_t(kEntry) * n;
    int rc = 0;
    for (uint32_t i = 0; i < n && !rc; i++) {
        const BodyEntry be = entry_at(v.body, i);
        auto *e = static_cast<CIDXENTRY *>(zvgetmem(int32_t(sizeof(CIDXENTRY))));
        if (!e) {
            rc = 435;
            break;
        }
        arr[i] = e;
        e->relno = be.relno;
        e->len = be.len;
        e->kind = be.kind;
        e->expr = nullptr;
        const char *text = reinterpret_cast<const char *>(v.body + pos);
        set_uerr(0);
        int kind = 0;
        e->expr = cndxparse(const_cast<unsigned char *>(schema), const_cast<void *>(names), text,
                            int32_t(strlen(text) + 1), &kind);
        if (!e->expr) {
            rc = g->uerr_cod ? g->uerr_cod : 597;
            break;
        }
        e->kind = kind;
        if (kind == 0) cndxSetCondIdxFlag(e->expr);
        pos += be.len;
    }
    if (rc) {
        release_table(t, false);
        return rc;
    }
    *out = t;
    return 0;
}

// The data file's names and the table of a checked body (null for a body
// without entries): 0, or the error.
int table_for(int datno, const BodyView &v, CIDXTABLE **out) {
    INSTGV *g = zvWNGV;
    *out = nullptr;
    if (v.count() == 0) return 0;
    FCB *f = fcb_at(datno);
    set_uerr(0);
    void *names = zvgetnames(datno);
    if (!names && g->uerr_cod) return g->uerr_cod;
    int rc = build_table(v, f ? f->schmap : nullptr, names, out);
    zvputmem(names);
    return rc;
}

// Gives every index of the data file the key-map flag 16 exactly when the
// file's table holds a condition for it.
void follow_table(int datno) {
    for (int slot = 0; slot < kMapIndexes; slot++) {
        int idx = isam_map_index(datno, slot);
        if (idx == kIdxListEnd) break;
        if (idx < 0) continue;
        ISAMMAPENT *e = isam_entry(idx);
        if (!e || int16_t(e->datno) != datno) continue;
        if (zvchkcidx(datno, int16_t(e->relidx))) e->keyflags |= kFlagStored;
        else e->keyflags &= uint16_t(~kFlagStored);
    }
}

// Makes t the data file's table (the old one released): the key-map flags
// of its indexes follow, its callbacks are initialised. 0 or the error of
// a callback.
int install_table(FCB *f, int datno, CIDXTABLE *t) {
    INSTGV *g = zvWNGV;
    zvfreecidx(f->cidxtab, 2);
    f->cidxtab = t;
    follow_table(datno);
    set_uerr(0);
    if (t && zvclbkinit(f->name, t, 2) == 0 && g->uerr_cod) return g->uerr_cod;
    return set_uerr(0);
}

// ---- Changes of one condition -------------------------------------------------------

// One entry of a body being put together: its text is `textlen` bytes at
// `text`, padded with NULs to the entry's space.
struct Piece {
    BodyEntry e;
    const unsigned char *text;
    int32_t textlen;
};

// Writes pieces (A of them first) as a new body of rndsiz size: 0 with the
// body and its size, or 83.
int put_together(const std::vector<Piece> &pieces, uint32_t a, unsigned char **out, int32_t *size) {
    int64_t n = kCounts + int64_t(kEntry) * int64_t(pieces.size());
    for (const Piece &p : pieces) n += p.e.len;
    if (n > 0x7FFF0000) return 83;
    unsigned char *body = nullptr;
    int32_t got = rndsiz(int32_t(n), &body, nullptr);
    if (!got) return 83;
    const uint16_t counts[2] = {uint16_t(a), uint16_t(pieces.size() - a)};
    memcpy(body, counts, sizeof counts);
    unsigned char *ent = body + kCounts;
    unsigned char *txt = ent + int64_t(kEntry) * int64_t(pieces.size());
    for (const Piece &p : pieces) {
        memcpy(ent, &p.e.relno, 2);
        memcpy(ent + 2, &p.e.len, 2);
        memcpy(ent + 4, &p.e.kind, 4);
        ent += kEntry;
        memcpy(txt, p.text, size_t(p.textlen < p.e.len ? p.textlen : p.e.len));
        txt += p.e.len;
    }
    *out = body;
    *size = got;
    return 0;
}

// The FCB of an index for a change or a read: open, or with mode 2 also
// one already marked closed. Null with the user error set.
FCB *index_block(int idxno, int mode) {
    INSTGV *g = zvWNGV;
    FCB *x = tstfnm(idxno);
    if (!x && mode == 2 && g->uerr_cod == 643) {
        x = fcb_at(idxno);
        set_uerr(0);
    }
    return x;
}

// The key-map entry of an index with its data file and relative number
// (both non-negative), or null (the index is not in a key map).
ISAMMAPENT *mapped_index(int idxno, int *datno, int *relno) {
    ISAMMAPENT *e = isam_entry(idxno);
    if (!e || e->inuse == kMapFree) return nullptr;
    *datno = int16_t(e->datno);
    *relno = int16_t(e->relidx);
    return (*datno >= 0 && *relno >= 0 && *datno != idxno) ? e : nullptr;
}

// Parses a text against the data file to learn its kind: 0 with *kind, or
// the error. The parsed condition is dropped without running any callback.
int kind_of(int datno, const char *text, int *kind) {
    INSTGV *g = zvWNGV;
    void *tree = nullptr;
    set_uerr(0);
    if (!testparse(datno, text, &tree, kind)) return g->uerr_cod ? g->uerr_cod : 597;
    drop_condition(tree, *kind);
    return 0;
}

// The in-memory condition of an index file with header flag 0x20, kept
// with its text (GETCIDX hands the text out).
int set_memory_condition(FCB *x, ISAMMAPENT *e, int datno, const char *text) {
    INSTGV *g = zvWNGV;
    if (!text || !*text) {
        free_record_filter(x);
        e->keyflags &= uint16_t(~(kFlagStored | kFlagMemory));
        return set_uerr(0);
    }
    const size_t n = strlen(text) + 1;
    if (n > size_t(kMaxText)) return set_uerr(446);
    if (take_eval_area()) return set_uerr(435);
    char *copy = static_cast<char *>(zvgetmem(int32_t(n)));
    if (!copy) return set_uerr(435);
    memcpy(copy, text, n);
    void *tree = nullptr;
    int kind = 0;
    set_uerr(0);
    if (!testparse(datno, text, &tree, &kind)) {
        zvputmem(copy);
        return set_uerr(g->uerr_cod ? g->uerr_cod : 597);
    }
    if (kind == 0) cndxSetCondIdxFlag(tree);
    free_record_filter(x);
    x->fltr = tree;
    x->fltrkind = kind;
    x->fltrtext = copy;
    zvclbkinit(x->name, tree, kind == 0 ? 0 : 1);
    e->keyflags |= kFlagMemory;
    return set_uerr(0);
}

int update_condition(int idxno, const char *text, int mode, int newrel) {
    INSTGV *g = zvWNGV;
    FCB *x = index_block(idxno, mode);
    if (!x) return g->uerr_cod;
    int datno = -1, relno = -1;
    ISAMMAPENT *e = mapped_index(idxno, &datno, &relno);
    if (!e) return set_uerr(614);
    FCB *d = tstfnm(datno);
    if (!d) return g->uerr_cod;
    if (d->kind == kKindIndex) return set_uerr(614);
    if (x->hdr.base.hdrflags & kHdrMemoryCondition) return set_memory_condition(x, e, datno, text);

    const bool empty = !text || !*text;
    const size_t tl = empty ? 0 : strlen(text);
    int kind = 0;
    if (!empty) {
        if (tl + 1 > size_t(kMaxText)) return set_uerr(446);
        if (int rc = kind_of(datno, text, &kind)) return set_uerr(rc);
    }
    const int16_t own = int16_t(newrel >= 0 ? newrel : relno);
    const Piece fresh{{own, int16_t(tl + 1), kind}, reinterpret_cast<const unsigned char *>(text), int32_t(tl + 1)};

    StoredConditions cur;
    int rc = read_stored(datno, &cur);
    if (rc && !none_stored(rc)) return set_uerr(rc);
    std::vector<Piece> pieces;
    uint32_t a = 0;
    int found = -1;
    if (!rc) {
        BodyView v;
        if (check_body(cur.body(), cur.length(), &v)) return set_uerr(439);
        a = v.a;
        int64_t pos = kCounts + int64_t(kEntry) * v.count();
        for (uint32_t i = 0; i < v.count(); i++) {
            const BodyEntry be = entry_at(v.body, i);
            pieces.push_back(Piece{be, v.body + pos, be.len});
            if (found < 0 && i < v.a && be.relno == relno) found = int(i);
            pos += be.len;
        }
    }
    if (found < 0) {
        if (empty) return set_uerr(0);
        pieces.insert(pieces.begin() + a, fresh);
        a++;
    } else if (empty) {
        pieces.erase(pieces.begin() + found);
        a--;
    } else if (fresh.e.len > pieces[size_t(found)].e.len) {
        pieces[size_t(found)] = fresh;
    } else {
        // The text fits the old space, which the entry keeps.
        Piece &p = pieces[size_t(found)];
        p.e.relno = own;
        p.e.kind = kind;
        p.text = fresh.text;
        p.textlen = fresh.textlen;
    }

    if (pieces.empty()) {
        rc = iPUTCRES(datno, nullptr, 0, mode, idxno);
    } else {
        unsigned char *body = nullptr;
        int32_t size = 0;
        rc = put_together(pieces, a, &body, &size);
        if (!rc) rc = iPUTCRES(datno, body, size, mode, idxno);
        zvputmem(body);
    }
    if (rc) return set_uerr(rc);
    if (empty) e->keyflags &= uint16_t(~(kFlagStored | kFlagMemory));
    else if (own == relno) e->keyflags |= kFlagStored;
    return set_uerr(0);
}

// Ends a public ISAM call: the code, with the file it concerns.
int isam_end(int code, int filno) {
    set_uerr(code);
    return ierr(code, filno < 0 ? 0 : filno);
}

void isam_begin() {
    INSTGV *g = zvWNGV;
    g->isamerr_cod = 0;
    g->isamfil_num = 0;
}

}  // namespace

// ---- Sharing and releasing ------------------------------------------------------

void zvfreecidx(void *object, int kind) {
    if (!object) return;
    switch (kind) {
    case 0: ptDestroy(static_cast<PTNODE *>(object)); break;
    case 1: release_callback(object); break;
    case 3: zvputmem(object); break;
    case 5: break;
    default: release_table(static_cast<CIDXTABLE *>(object), true); break;
    }
}

void *zvcpydatflt(void *filter, int kind) {
    if (!filter) return nullptr;
    if (kind == 0) return ptCopy(static_cast<PTNODE *>(filter));
    if (kind == 1 || kind == 5) {
        set_uses(filter, uses_of(filter) + 1);
        return filter;
    }
    return nullptr;
}

int zvchkcidx(int datno, int relidx) {
    FCB *f = fcb_at(datno);
    const auto *t = f ? static_cast<const CIDXTABLE *>(f->cidxtab) : nullptr;
    for (uint32_t i = 0; t && t->entries && i < t->count_a(); i++)
        if (t->entries[i] && t->entries[i]->relno == relidx) return 16;
    return 0;
}

// ---- Loading ----------------------------------------------------------------------------

void *zvinitcidx(int, const void *body, int32_t len, const unsigned char *schema, const void *names) {
    if (!body) return nullptr;
    BodyView v;
    if (check_body(static_cast<const unsigned char *>(body), len, &v)) {
        set_uerr(439);
        return nullptr;
    }
    if (v.count() == 0) return nullptr;
    CIDXTABLE *t = nullptr;
    if (int rc = build_table(v, schema, names, &t)) {
        set_uerr(rc);
        return nullptr;
    }
    set_uerr(0);
    return t;
}

void *zvigetcidx(int datno) {
    INSTGV *g = zvWNGV;
    FCB *f = fcb_at(datno);
    if (!f) {
        set_uerr(26);
        return nullptr;
    }
    StoredConditions cur;
    int rc = read_stored(datno, &cur);
    if (none_stored(rc)) {
        set_uerr(0);
        return nullptr;
    }
    if (rc) {
        set_uerr(rc);
        return nullptr;
    }
    BodyView v;
    if (check_body(cur.body(), cur.length(), &v)) {
        set_uerr(439);
        return nullptr;
    }
    set_uerr(0);
    if (v.count() == 0) return nullptr;
    void *names = zvgetnames(datno);
    if (!names && g->uerr_cod) return nullptr;
    void *t = zvinitcidx(datno, cur.body(), cur.length(), f->schmap, names);
    zvputmem(names);
    return t;
}

// ---- Storing and reading ------------------------------------------------------------

int32_t rndsiz(int32_t n, unsigned char **out, void *old) {
    *out = nullptr;
    const int64_t size = (int64_t(n < 0 ? 0 : n) + 2093) / 2048 * 2048 - 46;
    void *p = size <= 0x7FFFFFF0 ? zvgetmem(int32_t(size)) : nullptr;
    if (!p) {
        zvputmem(old);
        return 0;
    }
    memset(p, 0, size_t(size));
    *out = static_cast<unsigned char *>(p);
    return int32_t(size);
}

int iPUTCRES(int datno, const void *body, int32_t len, int mode, int) {
    INSTGV *g = zvWNGV;
    FCB *f = tstfnm(datno);
    if (!f) return g->uerr_cod;
    if (f->kind == kKindIndex) return set_uerr(48);
    BodyView v;
    bool erase = !body;
    if (!erase) {
        if (int rc = check_body(static_cast<const unsigned char *>(body), len, &v)) return set_uerr(rc);
        erase = v.count() == 0;
    }
    CIDXTABLE *t = nullptr;
    if (!erase) {
        if (int rc = table_for(datno, v, &t)) return set_uerr(rc);
    }
    int rc = erase ? delete_stored(datno) : write_stored(datno, v);
    if (rc || mode == 2) {
        if (t) release_table(t, false);
        return set_uerr(rc);
    }
    return install_table(f, datno, t);
}

int32_t iGETCRES(int datno, int32_t length, void *buffer) {
    if (!tstfnm(datno)) return 0;
    StoredConditions cur;
    if (int rc = read_stored(datno, &cur)) {
        set_uerr(none_stored(rc) ? 408 : rc);
        return 0;
    }
    const int32_t n = cur.length();
    if (buffer && length >= n) memcpy(buffer, cur.body(), size_t(n));
    set_uerr(0);
    return n;
}

namespace {

// A condition text for GETCIDX: strlen + 1, copied when the buffer holds it.
int32_t copy_text(const char *text, int32_t length, void *buffer) {
    const int32_t n = int32_t(strlen(text) + 1);
    if (buffer && length >= n) memcpy(buffer, text, size_t(n));
    set_uerr(0);
    return n;
}

}  // namespace

int32_t iGETCIDX(int idxno, int32_t length, void *buffer, int mode) {
    const FCB *x = index_block(idxno, mode);
    if (!x) return 0;
    int datno = -1, relno = -1;
    const ISAMMAPENT *e = mapped_index(idxno, &datno, &relno);
    if (!e) {
        set_uerr(614);
        return 0;
    }
    if (!tstfnm(datno)) return 0;
    if ((e->keyflags & kFlagMemory) && x->fltrtext) return copy_text(x->fltrtext, length, buffer);
    StoredConditions cur;
    int rc = read_stored(datno, &cur);
    if (rc) {
        set_uerr(none_stored(rc) ? 0 : rc);
        return 0;
    }
    BodyView v;
    if (check_body(cur.body(), cur.length(), &v)) {
        set_uerr(439);
        return 0;
    }
    set_uerr(0);
    for (uint32_t i = 0; i < v.a; i++) {
        if (entry_at(v.body, i).relno != relno) continue;
        return copy_text(reinterpret_cast<const char *>(v.body + v.text_at(i)), length, buffer);
    }
    return 0;
}

namespace {

int drop_conditions_of(int datno, int rel, int count) {
    StoredConditions cur;
    int rc = read_stored(datno, &cur);
    if (none_stored(rc)) return set_uerr(0);
    if (rc) return set_uerr(rc);
    BodyView v;
    if (check_body(cur.body(), cur.length(), &v)) return set_uerr(439);
    std::vector<Piece> pieces;
    uint32_t a = 0;
    bool changed = false;
    int64_t pos = kCounts + int64_t(kEntry) * v.count();
    for (uint32_t i = 0; i < v.count(); i++) {
        BodyEntry be = entry_at(v.body, i);
        const unsigned char *text = v.body + pos;
        pos += be.len;
        if (i < v.a) {
            if (be.relno >= rel && be.relno < rel + count) {
                changed = true;
                continue;
            }
            if (be.relno >= rel + count) {
                be.relno = int16_t(be.relno - count);
                changed = true;
            }
            a++;
        }
        pieces.push_back(Piece{be, text, be.len});
    }
    if (!changed) return set_uerr(0);
    if (pieces.empty()) return set_uerr(iPUTCRES(datno, nullptr, 0, 2, -1));
    unsigned char *body = nullptr;
    int32_t size = 0;
    if ((rc = put_together(pieces, a, &body, &size)) == 0) rc = iPUTCRES(datno, body, size, 2, -1);
    zvputmem(body);
    return set_uerr(rc);
}

}  // namespace

int drop_conditions(int datno, int rel, int count) {
    if (!zvWNGV) return 47;
    try {
        return drop_conditions_of(datno, rel, count);
    } catch (const std::bad_alloc &) {
        return set_uerr(83);
    }
}

int reload_conditions(int datno) {
    INSTGV *g = zvWNGV;
    FCB *f = tstfnm(datno);
    if (!f) return g->uerr_cod;
    void *t = zvigetcidx(datno);
    int rc = g->uerr_cod;
    if (!t && rc) return rc;
    return install_table(f, datno, static_cast<CIDXTABLE *>(t));
}

int iUPDCIDX(int idxno, const char *text, int mode, int newrel) {
    if (!zvWNGV) return 47;
    set_uerr(0);
    try {
        return update_condition(idxno, text, mode, newrel);
    } catch (const std::bad_alloc &) {
        return set_uerr(83);
    }
}

}  // namespace zv

using namespace zv;

extern "C" {

int testparse(int filno, const char *text, void **tree, int *kind) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    FCB *f = tstifnm(filno);
    if (!f) return 0;
    void *names = zvgetnames(filno);
    if (!names && g->uerr_cod) return 0;
    int k = 0;
    void *t = cndxparse(f->schmap, names, text, text ? int32_t(strlen(text) + 1) : 0, &k);
    zvputmem(names);
    if (kind) *kind = k;
    if (!t) {
        if (!g->uerr_cod) set_uerr(597);
        return 0;
    }
    if (tree) *tree = t;
    else zvfreecidx(t, k);
    return 1;
}

ZV_API int UPDCIDX(int idxno, const char *text) {
    if (!zvWNGV) return 47;
    isam_begin();
    return isam_end(iUPDCIDX(idxno, text, 0, -1), idxno);
}

ZV_API int PUTCRES(int datno, const void *body, int32_t length) {
    if (!zvWNGV) return 47;
    isam_begin();
    set_uerr(0);
    return isam_end(iPUTCRES(datno, body, length, 0, -1), datno);
}

ZV_API int32_t GETCRES(int datno, int32_t length, void *buffer) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    isam_begin();
    int32_t n = iGETCRES(datno, length, buffer);
    if (g->uerr_cod) isam_end(g->uerr_cod, datno);
    return n;
}

ZV_API int32_t GETCIDX(int idxno, int32_t length, void *buffer) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    isam_begin();
    int32_t n = iGETCIDX(idxno, length, buffer, 0);
    if (g->uerr_cod) isam_end(g->uerr_cod, idxno);
    return n;
}

}  // extern "C"

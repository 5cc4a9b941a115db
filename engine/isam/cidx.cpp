// Conditional-index objects: sharing and releasing compiled conditions,
// callback filters and the per-file table of conditions.
//
// A callback filter is one block: a u32 use count, then the NUL-terminated
// callback text (with its leading "@"). Sharing adds a use; the release of
// the last use ends the callback and frees the block, so a filter shared
// with zvcpydatflt outlives the release of its first holder.
//
// Releasing a table leaves the instance's evaluation area alone: it is
// kept until the instance stops.
//
// Evaluating a condition answers 1 only for a true condition: a false
// condition, a NULL result and every failure keep the record out of the
// index, a failure with -598.
#include "engine/isam/cidx.h"

#include <cstring>

#include "engine/core/instance.h"
#include "engine/expr/eval.h"
#include "engine/expr/filtercb.h"
#include "engine/expr/ptree.h"
#include "engine/isam/isam_files.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

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

void release_table(CIDXTABLE *t) {
    CIDXENTRY **arr = t->entries ? t->entries : t->bentries;
    uint32_t n = t->count_a() + t->count_b();
    for (uint32_t i = 0; arr && i < n; i++) {
        CIDXENTRY *e = arr[i];
        if (!e) continue;
        if (e->expr && e->kind == 0) ptDestroy(static_cast<PTNODE *>(e->expr));
        else if (e->expr && e->kind == 1) release_callback(e->expr);
        zvputmem(e);
    }
    zvputmem(arr);
    zvputmem(t);
}

}  // namespace

void zvfreecidx(void *object, int kind) {
    if (!object) return;
    switch (kind) {
    case 0: ptDestroy(static_cast<PTNODE *>(object)); break;
    case 1: release_callback(object); break;
    case 3: zvputmem(object); break;
    case 5: break;
    default: release_table(static_cast<CIDXTABLE *>(object)); break;
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

int zvevalcidx(void *table, int datno, int condno, const void *record, const unsigned char *schema,
               int32_t fixlen, int32_t reclen) {
    INSTGV *g = zvWNGV;
    if (!g) return -598;
    if (!table || !record) return -set_uerr(598);
    if (take_eval_area()) return -435;
    void *expr = table;
    int kind = 0;
    if (condno != -105) {
        const auto *t = static_cast<const CIDXTABLE *>(table);
        const CIDXENTRY *found = nullptr;
        for (uint32_t i = 0; t->entries && i < t->count_a() && !found; i++)
            if (t->entries[i] && t->entries[i]->relno == condno) found = t->entries[i];
        if (!found) return -set_uerr(598);
        expr = found->expr;
        kind = found->kind;
    }
    void *rec = const_cast<void *>(record);
    void *map = const_cast<unsigned char *>(schema);
    g->exprerr = 0;
    int r = kind != 0 && expr ? clbkeval(expr, kind, datno, rec, map, fixlen, reclen)
                              : cndxeval(expr, rec, map, fixlen, reclen);
    if (r < 0 || g->exprerr) return -set_uerr(598);
    return r > 0 ? 1 : 0;
}

}  // namespace zv

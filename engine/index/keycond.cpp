// Conditions of conditional indexes, evaluated for each record that key
// formation forms a key from. The conditions are compiled and kept by the
// ISAM layer (engine/isam/cidx.cpp) in a table per data file
// (engine/expr/condtable.h); a condition is an expression or a callback
// filter.
//
// Evaluating a condition answers 1 only for a true condition: a false
// condition, a NULL result and every failure keep the record out of the
// index, a failure with -598.
#include "engine/index/keycond.h"

#include "engine/core/instance.h"
#include "engine/expr/condtable.h"
#include "engine/expr/eval.h"
#include "zarvo/zvdbpt.h"

namespace zv {

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

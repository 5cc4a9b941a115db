// Callback filters: a condition text beginning with "@" names a filter
// callback instead of an expression. The filter is a block holding a use
// count and the text; the instance's record-filter callback decides each
// record (the sample callback zvfiltercb unless another is installed).
#include <cstring>

#include "engine/core/instance.h"
#include "engine/expr/condtable.h"
#include "engine/expr/eval.h"
#include "engine/expr/expr_services.h"
#include "engine/expr/exprstate.h"
#include "engine/expr/filtercb.h"

namespace zv {

namespace {

// The text of a callback-filter block (after its use count).
const char *callback_text(const void *filter) { return static_cast<const char *>(filter) + 4; }

}  // namespace

void set_filter_callback(FilterCallback fn) {
    if (zvWNGV) expr_state(zvWNGV).filtercb = fn;
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int clbkeval(void *filter, int, int, void *record, void *schema, int32_t fixlen, int32_t totlen) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    if (!filter) {
        g->exprerr = kExprNull;
        return 0;
    }
    FilterCallback cb = expr_state(g).filtercb ? expr_state(g).filtercb : zvfiltercb;
    int r = cb(callback_text(filter), record, schema, fixlen, totlen);
    if (r < 0) {
        g->exprerr = -r;
        return 0;
    }
    g->exprerr = 0;
    return r;
}

int clbkrun(void *filter, void *record, void *schema, int32_t fixlen, int32_t totlen) {
    if (!filter) return 0;
    return zvfiltercb(callback_text(filter), record, schema, fixlen, totlen);
}

int zvclbkinit(const char *, void *object, int mode) {
    if (mode == 0) return 1;
    if (mode == 1) {
        if (!object) return 0;
        zvfiltercb_init(callback_text(object));
        return 1;
    }
    if (mode != 2 || !object) return 0;
    auto *t = static_cast<CIDXTABLE *>(object);
    CIDXENTRY **arr = t->entries ? t->entries : t->bentries;
    int count = 0;
    for (uint32_t i = t->count_a() + t->count_b(); arr && i-- > 0;) {
        CIDXENTRY *e = arr[i];
        if (!e) continue;
        if (e->kind == 5) {
            set_uerr(454);
            return 0;
        }
        if (e->kind == 1 && e->expr) {
            zvfiltercb_init(callback_text(e->expr));
            count++;
        }
    }
    return count;
}

}  // extern "C"

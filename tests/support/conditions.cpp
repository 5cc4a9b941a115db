#include "tests/support/conditions.h"

#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/expr/expr_services.h"
#include "engine/core/fcb.h"
#include "engine/isam/cidx.h"
#include "engine/isam/isam_services.h"
#include "zarvo/zarvo.h"

namespace zvtest {

int install_conditions(int datno, const std::vector<std::pair<int, std::string>> &conditions) {
    FCB *f = zvWNGV ? zvWNGV->fcbtab[datno] : nullptr;
    if (!f) return 26;
    zv::zvfreecidx(f->cidxtab, 2);
    f->cidxtab = nullptr;
    const uint32_t n = uint32_t(conditions.size());
    auto *t = static_cast<zv::CIDXTABLE *>(zvgetmem(int32_t(sizeof(zv::CIDXTABLE))));
    if (!t) return 82;
    t->counts = n << 16;
    if (n) {
        t->entries = static_cast<zv::CIDXENTRY **>(zvgetmem(int32_t(n * sizeof(void *))));
        t->bentries = t->entries + n;
    }
    int rc = n && !t->entries ? 82 : 0;
    for (uint32_t i = 0; !rc && i < n; i++) {
        auto *e = static_cast<zv::CIDXENTRY *>(zvgetmem(int32_t(sizeof(zv::CIDXENTRY))));
        if (!e) {
            rc = 82;
            break;
        }
        t->entries[i] = e;
        const std::string &text = conditions[i].second;
        e->relno = int16_t(conditions[i].first);
        e->len = int16_t(text.size() + 1);
        if (!testparse(datno, text.c_str(), &e->expr, &e->kind)) rc = zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 597;
    }
    if (rc) {
        zv::zvfreecidx(t, 2);
        return rc;
    }
    f->cidxtab = t;
    zv::set_uerr(0);
    if (zvclbkinit(f->name, t, 2) == 0 && zvWNGV->uerr_cod) return zvWNGV->uerr_cod;
    return 0;
}

}  // namespace zvtest

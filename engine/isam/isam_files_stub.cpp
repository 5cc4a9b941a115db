// Least forms of the ISAM services that the file layer and key formation
// call and whose parts are not built yet: conditional indexes (none: every
// record belongs to every index, unless a test installs a condition) and
// the current ISAM record.
#include "engine/isam/isam_files.h"

#include "engine/core/instance.h"
#include "engine/files/fcb.h"
#include "engine/isam/cidx.h"

namespace zv {

namespace {
TestCondition test_condition = nullptr;
}  // namespace

void *zvigetcidx(int) {
    set_uerr(408);
    return nullptr;
}
int zvchkcidx(int, int) { return 0; }

int zvevalcidx(void *, int datno, int condno, const void *record, const unsigned char *, int32_t,
               int32_t reclen) {
    if (!record || reclen < 1) return -598;
    if (!test_condition) return 1;
    int r = test_condition(datno, condno, record, reclen);
    return r < 0 ? r : (r > 0 ? 1 : 0);
}

void set_test_condition(TestCondition fn) { test_condition = fn; }

void clear_isam_position(FCB *f) { f->isamposh = f->isamposl = 0; }

}  // namespace zv

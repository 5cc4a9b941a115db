// ISAM start and stop, least form (see isam_services.h).
#include "engine/isam/isam_services.h"

#include <cstring>

#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/isam/keymap.h"

namespace zv {

namespace {

// Highest number of table entries: the file-number range plus three.
constexpr int64_t kMaxEntries = 32767 + 3;

int16_t *table(INSTGV *g) { return static_cast<int16_t *>(g->isamtab); }

}  // namespace

int redoisam(int32_t n) {
    INSTGV *g = zvWNGV;
    if (!g || n < 1 || n > kMaxEntries) return 0;
    if (g->isamtab && n <= g->isamtabn) return 1;
    auto *t = static_cast<int16_t *>(mballc(static_cast<size_t>(n), sizeof(int16_t)));
    if (!t) return 0;
    int32_t keep = g->isamtab ? g->isamtabn : 0;
    if (keep) memcpy(t, table(g), sizeof(int16_t) * static_cast<size_t>(keep));
    for (int32_t i = keep; i < n; i++) t[i] = -1;
    mbfree(g->isamtab);
    g->isamtab = t;
    g->isamtabn = n;
    return 1;
}

void zvfisam(int32_t) {
    INSTGV *g = zvWNGV;
    if (!g) return;
    mbfren(&g->isamtab);
    g->isamtabn = 0;
    isam_keymap_free();
}

int zviisam(int32_t bufs, int32_t fils, int32_t sect, int32_t dbufs, int32_t userprof) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    // A file count outside the file-number range fails in INTREEX; the
    // tables are only kept within that range.
    int64_t n = int64_t{fils} + 3;
    if (n < 1) n = 1;
    if (n > kMaxEntries) n = kMaxEntries;
    zvfisam(0);
    if (!redoisam(static_cast<int32_t>(n))) return set_uerr(82);
    int rc = INTREEX(bufs, fils, sect, dbufs, userprof);
    if (rc != 0) {
        zvfisam(0);
        return set_uerr(rc);
    }
    return 0;
}

}  // namespace zv

extern "C" {

ZV_API int FREBAT(void) { return 0; }

ZV_API int LKISAM(int mode) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    switch (mode) {
    case 0: case 2: case 3: case 4: case 5: case 6: case 7: case 8:
    case 11: case 12: case 13: case 14:
        g->isamlockmode = uint16_t(mode);
        return zv::set_uerr(0);
    default:
        return zv::set_uerr(446);
    }
}

// ISAM stop: frees batches and the ISAM tables, then stops the engine user
// (STPUSR), whose result it returns. No file is open in this form.
ZV_API uint16_t CLISAM(void) {
    FREBAT();
    zv::zvfisam(0);
    return STPUSR();
}

}  // extern "C"

namespace zv {

int isam_grow_tables(int n) {
    INSTGV *g = zvWNGV;
    if (!g || !g->isamtab) return 1;
    return redoisam(n);
}

// No file has companions until the ISAM map exists.
const int16_t *isam_companions(int) { return nullptr; }

}  // namespace zv

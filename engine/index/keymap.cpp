// The key map: per file number, which indexes a data file has and how
// each index key is cut out of a record.
//
// Four arrays hang from the index engine's instance state, one element per
// file number (the tables have at least as many entries as the file-number
// table):
//  1. the index map (IdxState::isamtab): an ISAMMAPENT per number;
//  2. the defined index list of each data file: 64 index numbers in
//     definition order, 0xFFFF ends it;
//  3. the active index list: the same order, -66 (0xFFBE) for an index that
//     is defined but not open here; every record operation walks this one;
//  4. the segment list of each index: 16 ISAMSEG, offset -1 after the last.
// The tables live from ISAM start-up (zviisam), or from the first index
// that key formation defines without a file set, until the instance stops;
// they grow with the file-number table (redoisam) and keep their contents.
// The ISAM layer (engine/isam/isammap.cpp) fills them.
#include "engine/index/keymap.h"

#include <cstring>

#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/index/idxstate.h"

namespace zv {

namespace {

ISAMMAPENT *map_of(INSTGV *g) { return static_cast<ISAMMAPENT *>(idx_state(g).isamtab); }

// The index engine's state when `filno` has an entry in the key map's
// tables, else null. The state is reached once, so the look-ups below read
// the table pointer and its size in one go.
IdxState *tables_for(INSTGV *g, int filno) {
    if (!g) return nullptr;
    IdxState &s = idx_state(g);
    return s.isamtab && filno >= 0 && filno < s.isamtabn ? &s : nullptr;
}

void init_entry(INSTGV *g, int i) {
    ISAMMAPENT &e = map_of(g)[i];
    memset(&e, 0, sizeof e);
    e.keytyp = kMapNone;
    e.datno = kMapNone;
    e.relidx = kMapNone;
    for (int s = 0; s < kMapIndexes; s++) {
        idx_state(g).deflist[i][s] = kMapNone;
        idx_state(g).actlist[i][s] = kMapNone;
    }
    memset(idx_state(g).seglist[i], 0, sizeof idx_state(g).seglist[i]);
    for (ISAMSEG &sg : idx_state(g).seglist[i]) {
        sg.soffset = kSegEnd;
        sg.binding = -1;
    }
}

// The four arrays for n entries; false (nothing kept) when memory runs out.
struct Tables {
    ISAMMAPENT *map = nullptr;
    uint16_t (*def)[64] = nullptr;
    uint16_t (*act)[64] = nullptr;
    ISAMSEG (*seg)[16] = nullptr;
    void release() {
        mbfree(map);
        mbfree(def);
        mbfree(act);
        mbfree(seg);
        *this = Tables{};
    }
    bool allocate(int32_t n) {
        map = static_cast<ISAMMAPENT *>(mballc(size_t(n), sizeof(ISAMMAPENT)));
        def = static_cast<uint16_t (*)[64]>(mballc(size_t(n), sizeof(uint16_t[64])));
        act = static_cast<uint16_t (*)[64]>(mballc(size_t(n), sizeof(uint16_t[64])));
        seg = static_cast<ISAMSEG (*)[16]>(mballc(size_t(n), sizeof(ISAMSEG[16])));
        if (map && def && act && seg) return true;
        release();
        return false;
    }
};

void install(INSTGV *g, const Tables &t, int32_t n) {
    idx_state(g).isamtab = t.map;
    idx_state(g).deflist = t.def;
    idx_state(g).actlist = t.act;
    idx_state(g).seglist = t.seg;
    idx_state(g).isamtabn = n;
}

}  // namespace

bool keymap_make(int32_t n) {
    INSTGV *g = zvWNGV;
    Tables t;
    if (!g || !t.allocate(n)) return false;
    install(g, t, n);
    for (int32_t i = 0; i < n; i++) init_entry(g, i);
    return true;
}

int redoisam(int32_t n) {
    INSTGV *g = zvWNGV;
    if (!g || n < 1 || n > kMapMaxEntries) return 0;
    if (!idx_state(g).isamtab) return 0;
    int32_t old = idx_state(g).isamtabn;
    if (n <= old) return 1;
    Tables t;
    if (!t.allocate(n)) return 0;
    memcpy(static_cast<void *>(t.map), idx_state(g).isamtab, sizeof(ISAMMAPENT) * size_t(old));
    memcpy(t.def, idx_state(g).deflist, sizeof(uint16_t[64]) * size_t(old));
    memcpy(t.act, idx_state(g).actlist, sizeof(uint16_t[64]) * size_t(old));
    memcpy(static_cast<void *>(t.seg), idx_state(g).seglist, sizeof(ISAMSEG[16]) * size_t(old));
    Tables prev{map_of(g), idx_state(g).deflist, idx_state(g).actlist, idx_state(g).seglist};
    install(g, t, n);
    for (int32_t i = old; i < n; i++) init_entry(g, i);
    prev.release();
    return 1;
}

void keymap_free() {
    INSTGV *g = zvWNGV;
    if (!g) return;
    if (idx_state(g).isamtab) {
        ISAMMAPENT *m = map_of(g);
        for (int32_t i = 0; i < idx_state(g).isamtabn; i++) {
            zvputmemn(reinterpret_cast<void **>(&m[i].idxnam));
            zvputmemn(reinterpret_cast<void **>(&m[i].datnam[0]));
            zvputmemn(reinterpret_cast<void **>(&m[i].datnam[1]));
        }
    }
    Tables t{map_of(g), idx_state(g).deflist, idx_state(g).actlist, idx_state(g).seglist};
    t.release();
    install(g, t, 0);
}

// ---- Access --------------------------------------------------------------------

ISAMMAPENT *isam_entry(int filno) {
    INSTGV *g = zvWNGV;
    IdxState *s = tables_for(g, filno);
    return s ? &static_cast<ISAMMAPENT *>(s->isamtab)[filno] : nullptr;
}
uint16_t *isam_deflist(int datno) {
    INSTGV *g = zvWNGV;
    IdxState *s = tables_for(g, datno);
    return s ? s->deflist[datno] : nullptr;
}
uint16_t *isam_actlist(int datno) {
    INSTGV *g = zvWNGV;
    IdxState *s = tables_for(g, datno);
    return s ? s->actlist[datno] : nullptr;
}
ISAMMAPENT *isam_entry_make(int filno) {
    INSTGV *g = zvWNGV;
    if (!g || !g->fcbtab || filno < 0 || filno >= fcb_table_size(g)) return nullptr;
    if (!idx_state(g).isamtab) {
        if (!keymap_make(fcb_table_size(g))) return nullptr;
    } else if (filno >= idx_state(g).isamtabn && !redoisam(fcb_table_size(g))) {
        return nullptr;
    }
    return isam_entry(filno);
}

ISAMSEG *isam_segs(int idxno) {
    INSTGV *g = zvWNGV;
    IdxState *s = tables_for(g, idxno);
    return s ? s->seglist[idxno] : nullptr;
}

int setidstseg(const IIDX *x, int32_t segs[4], int32_t bytes[4], int keytype) {
    if (!x || (keytype != 3 && keytype != 4) || x->inumseg <= 1 || !x->isegarr) return 0;
    int n = x->inumseg > kMapSegs ? kMapSegs : x->inumseg;
    int levels;
    int at[4];
    if (n < 6) {
        levels = n - 1;
        for (int i = 0; i < levels; i++) at[i] = i + 1;
    } else {
        int q = n / 4;
        levels = 4;
        at[0] = 1;
        at[1] = q + 1;
        at[2] = 2 * q + 1;
        at[3] = 3 * q + 1;
    }
    for (int i = 0; i < levels; i++) {
        int32_t sum = 0;
        for (int s = 0; s < at[i]; s++) sum += x->isegarr[s].slength;
        segs[i] = at[i];
        bytes[i] = sum;
    }
    return levels;
}

}  // namespace zv

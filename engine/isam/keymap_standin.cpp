// Least form of the ISAM key map and of index conditions (see keymap.h).
//
// The map is an array of ISAMKEY entries, one per file number, made on
// first demand and grown with the file table; the ISAM stop frees it. The
// condition evaluator answers "belongs" unless a test installs a predicate.
#include "engine/isam/keymap.h"

#include <cstring>

#include "engine/core/instance.h"
#include "engine/core/pools.h"

namespace zv {

namespace {

struct KeyMap {
    int32_t n;
    ISAMKEY *e;
};

TestCondition test_condition = nullptr;

KeyMap *map_of(INSTGV *g) { return g ? static_cast<KeyMap *>(g->keymap) : nullptr; }

void init_entry(ISAMKEY *k) {
    memset(static_cast<void *>(k), 0, sizeof *k);
    k->datno = -1;
    k->values[0] = k->values[1] = k->values[2] = -1;
    for (auto &s : k->seg) {
        s.soffset = kSegEnd;
        s.binding = -1;
    }
    for (auto &x : k->idxlist) x = kIdxListEnd;
}

}  // namespace

ISAMKEY *isam_key(int keyno) {
    KeyMap *m = map_of(zvWNGV);
    if (!m || keyno < 0 || keyno >= m->n) return nullptr;
    return &m->e[keyno];
}

int32_t isam_key_count() {
    KeyMap *m = map_of(zvWNGV);
    return m ? m->n : 0;
}

ISAMKEY *isam_key_make(int keyno) {
    INSTGV *g = zvWNGV;
    if (!g || !g->fcbtab || keyno < 0 || keyno > g->filecount) return nullptr;
    KeyMap *m = map_of(g);
    if (m && keyno < m->n) return &m->e[keyno];
    if (!m) {
        m = static_cast<KeyMap *>(mballc(1, sizeof(KeyMap)));
        if (!m) return nullptr;
        g->keymap = m;
    }
    int32_t n = g->filecount + 1;
    auto *e = static_cast<ISAMKEY *>(mballc(size_t(n), sizeof(ISAMKEY)));
    if (!e) return nullptr;
    if (m->e) memcpy(static_cast<void *>(e), m->e, sizeof(ISAMKEY) * size_t(m->n));
    for (int32_t i = m->n; i < n; i++) init_entry(&e[i]);
    mbfree(m->e);
    m->e = e;
    m->n = n;
    return &m->e[keyno];
}

void isam_keymap_free() {
    INSTGV *g = zvWNGV;
    KeyMap *m = map_of(g);
    if (!m) return;
    mbfree(m->e);
    mbfree(m);
    g->keymap = nullptr;
}

int zvevalcidx(void *, int datno, int condno, const void *record, const unsigned char *, int32_t,
               int32_t reclen) {
    if (!record || reclen < 1) return -598;
    if (!test_condition) return 1;
    int r = test_condition(datno, condno, record, reclen);
    return r < 0 ? r : (r > 0 ? 1 : 0);
}

void set_test_condition(TestCondition fn) { test_condition = fn; }

}  // namespace zv

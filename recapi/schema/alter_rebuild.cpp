// Index rebuild of an alteration: every index of a table made again from
// its index handles, either in place (old index files dropped, the new
// definition added and loaded: _zvdbRebuildAll) or by one rebuild of the
// whole set from the new definition (_zvdbRebuildFix, which can also
// delete the records that a unique key rejects).
//
// The new definition is built before any file changes, so that a handle
// that cannot be turned into one fails with nothing touched. Once the old
// index files are dropped, a failure rebuilds the old definition's indexes
// from the records (SetSnapshot::restore), with the index conditions put
// back first.
#include <cstring>
#include <string>
#include <vector>

#include "recapi/base/wrappers.h"
#include "recapi/schema/alter.h"
#include "recapi/schema/field.h"
#include "recapi/schema/index.h"
#include "recapi/schema/segment.h"
#include "recapi/schema/tablefile.h"

namespace zv {

namespace {

constexpr const char *kRecbyt = "$RECBYT$";
constexpr const char *kRowid = "$ROWID$";
// Change bits of indexes and segments.
constexpr uint32_t kIndexNew = 1, kIndexDeleted = 2, kIndexKeyType = 16, kIndexEmpty = 32, kIndexDup = 64,
                   kIndexNull = 128, kIndexFile = 0x100, kIndexName = 0x200, kIndexDistinct = 0x400;
constexpr uint32_t kSegNew = 1, kSegDeleted = 2, kSegMoved = 4, kSegMode = 16, kSegField = 32;
// Drop answer of an index file gone already.
constexpr int kDroppedAlready = 643;
// Data-extent word that asks for indexes added without their keys.
constexpr uint16_t kKeysLater = 3;

bool nonempty(const char *s) { return s && *s; }

// The entry of the stored definition named `name`, or -1.
int stored_entry(const IFIL *def, const char *name) {
    for (int k = 0; k < def->dnumidx; k++) {
        if (def->iidxarr[k].ikeylen >= 0 && same_name(def->iidxarr[k].ridxnam, name)) return k;
    }
    return -1;
}

// An existing index as its handle now defines it: its stored entry with
// the handle's changed properties, and its segments as they stand (the
// stored ones where nothing changed them). 0 or the code.
ZVDBRET kept_entry(tagZVDBTABLE *t, tagZVDBINDEX *ix, IIDX *x, std::vector<ISEG> *segs) {
    const IIDX &old = *ix->iidx;
    *x = old;
    const uint32_t st = ix->status;
    if (st & kIndexKeyType) x->ikeytyp = int16_t(ix->keytype);
    if (st & (kIndexDup | kIndexDistinct)) x->ikeydup = duplicate_code(ix);
    if (st & kIndexNull) x->inulkey = int16_t(ix->nullflag);
    if (st & kIndexEmpty) x->iempchr = int16_t(ix->emptychar);
    bool moved = false;
    for (int32_t k = 0; k < _zvdbListCount(ix->segments); k++) {
        auto *s = static_cast<tagZVDBSEGMENT *>(ix->segments->items[k]);
        if (!s) return ZVDB_NO_SEGMENT;
        moved = moved || (s->status & kSegMoved);
    }
    segs->clear();
    int stored = 0;
    for (int32_t k = 0; k < _zvdbListCount(ix->segments); k++) {
        auto *s = static_cast<tagZVDBSEGMENT *>(ix->segments->items[k]);
        const ISEG *was = nullptr;
        if (!(s->status & kSegNew)) {
            was = stored < old.inumseg ? &old.isegarr[stored] : nullptr;
            stored++;
        }
        if (s->status & kSegDeleted) continue;
        ISEG g{};
        // Segments listed in their stored order and unchanged keep their
        // stored form; any other is filled from its handle.
        if (was && !moved && !(s->status & (kSegMode | kSegField))) {
            g = *was;
        } else {
            if (ZVDBRET rc = _zvdbFillIseg(t, s, &g)) return rc;
            if (g.soffset < 0) return ZVDB_NO_FIELD_NAME;
        }
        segs->push_back(g);
    }
    int32_t keylen = 0;
    for (const ISEG &g : *segs) keylen += g.slength;
    const bool dup = x->ikeydup != 0 && x->ikeydup != 4;
    x->ikeylen = int16_t(keylen + (dup ? duplicate_suffix_bytes(t) : 0));
    x->inumseg = int16_t(segs->size());
    return 0;
}

// The new definition of the table's indexes: the hidden ones as stored,
// then every index of the list not deleted, in list order. *conditions
// tells whether one of them has a condition. 0 or the code.
ZVDBRET build_definition(tagZVDBTABLE *t, const IFIL *stored, DefBuilder *def, bool *conditions) {
    *conditions = false;
    char defname[256];
    if (ZVDBRET rc = _zvdbDefaultIndexName(t, defname, int32_t(sizeof defname))) return rc;
    // The hidden indexes, the first of them in the table's index file.
    bool first = true;
    for (const char *hidden : {kRecbyt, kRowid}) {
        const bool present = hidden == kRecbyt ? t->hasrecbyt && t->recbytindex : t->rowidindex != nullptr;
        const int k = stored_entry(stored, hidden);
        if (present && k < 0) return ZVDB_BAD_MODE;
        if (k < 0) continue;
        const IIDX &x = stored->iidxarr[k];
        def->add(x, x.ridxnam, first ? defname : x.aidxnam,
                 std::vector<ISEG>(x.isegarr, x.isegarr + x.inumseg));
        first = false;
    }
    for (int32_t i = 0; i < _zvdbListCount(t->indexes); i++) {
        tagZVDBINDEX *ix = index_of(t->indexes->items[i]);
        if (!ix) return ZVDB_NO_INDEX;
        if (ix->status & kIndexDeleted) continue;
        IIDX x{};
        std::vector<ISEG> segs;
        const bool fresh = (ix->status & kIndexNew) || !ix->iidx;
        ZVDBRET rc = fresh ? new_index_entry(t, ix, &x, &segs) : kept_entry(t, ix, &x, &segs);
        if (rc) return rc;
        const bool rename = fresh || (ix->status & kIndexName);
        const bool refile = fresh || (ix->status & kIndexFile);
        def->add(x, rename ? ix->name : ix->iidx->ridxnam, refile ? ix->filename : ix->iidx->aidxnam, segs);
        *conditions = *conditions || nonempty(_zvdbGetIdxcndxExpr(ix));
    }
    if (def->count() > 0 && !def->file(0)) def->set_file(0, defname);
    return 0;
}

// The condition of each index of the list, in the order of the new
// definition after `hidden` hidden entries whose files start at `first`.
ZVDBRET store_conditions(tagZVDBTABLE *t, int first, int hidden) {
    int k = 0;
    for (int32_t i = 0; i < _zvdbListCount(t->indexes); i++) {
        tagZVDBINDEX *ix = index_of(t->indexes->items[i]);
        if (ix->status & kIndexDeleted) continue;
        const char *text = _zvdbGetIdxcndxExpr(ix);
        if (nonempty(text)) {
            if (int rc = UPDCIDX(first + hidden + k, text)) return rc;
        }
        k++;
    }
    return 0;
}

int hidden_count(const IFIL *def) {
    int n = 0;
    while (n < def->dnumidx && (same_name(def->iidxarr[n].ridxnam, kRecbyt) || same_name(def->iidxarr[n].ridxnam, kRowid))) n++;
    return n;
}

// Steps of the in-place rebuild between the drop of the old index files
// and the commit: 0 or the code.
ZVDBRET drop_and_add(tagZVDBTABLE *t, const IFIL *stored, DefBuilder *def, bool conditions, SetSnapshot *snap) {
    const int datno = t->datno;
    snap->indexes_touched = true;
    for (int k = 0; k < stored->dnumidx; k++) {
        const IIDX &x = stored->iidxarr[k];
        if (x.ikeylen < 0 || (k > 0 && !x.aidxnam)) continue;
        int rc = _zvdbDROPIDX(datno + 1 + k);
        if (rc && rc != kDroppedAlready) return rc;
    }
    if (def->count() == 0) return 0;
    IFIL *x = def->ifil();
    if (conditions) x->dxtdsiz = kKeysLater;
    if (int rc = _zvdbPRMIIDX(t, x)) return rc;
    const int first = x->tfilno;
    for (int k = 0; k < def->count(); k++) {
        if (def->file(k)) snap->made.push_back(engine_name(first + k));
    }
    if (!conditions) return 0;
    if (ZVDBRET rc = store_conditions(t, first, hidden_count(x))) return rc;
    x = def->ifil();
    x->dfilno = int16_t(datno);
    x->tfilno = int16_t(first);
    return RBLIIDX(x);
}

// Opens the set not shared and reads its stored definition; the snapshot
// is taken when the caller has none. A failure leaves the table open with
// its own open mode. 0 or the code.
ZVDBRET prepare(tagZVDBTABLE *t, SetSnapshot *snap, bool own, IFIL **stored) {
    if (ZVDBRET rc = reopen_set(t, kOpenExclusive, t->ifil, false)) return rc;
    int32_t length = 0;
    ZVDBRET rc = own ? snap->take(t) : 0;
    if (rc == 0) rc = _zvdbGETIFIL(t->datno, stored, &length);
    if (rc) reopen_set(t, t->openmode, t->ifil, true);
    return rc;
}

// The rebuild of the whole set from the new definition: the set closed
// with its pages written, rebuilt, opened again; conditions, kept by index
// position, are stored again for the new order and the keys loaded under
// them.
ZVDBRET rebuild_whole(tagZVDBTABLE *t, uint32_t reopenmode, bool purge, SetSnapshot *outer) {
    SetSnapshot own;
    SetSnapshot *snap = outer ? outer : &own;
    const uint32_t previous = t->openmode;
    IFIL *stored = nullptr;
    if (ZVDBRET rc = prepare(t, snap, !outer, &stored)) return rc;
    DefBuilder def(*stored, file_path(t, t->path, t->physname), -1);
    bool conditions = false;
    ZVDBRET rc = build_definition(t, stored, &def, &conditions);
    _zvdb_free(stored);
    conditions = conditions || snap->cidx.present;
    if (rc == 0) {
        rc = close_set(t);
        if (rc && t->datno >= 0) {
            if (!outer) reopen_set(t, previous, t->ifil, true);
            return rc;
        }
    } else {
        if (!outer) reopen_set(t, previous, t->ifil, true);
        return rc;
    }
    // From here the old index files go.
    snap->indexes_touched = true;
    ZVDBRET step = rebuild_set(t, def.ifil(), purge);
    if (step == 0) step = open_set(t, reopenmode & ~4u, def.ifil(), true);
    if (step == 0 && conditions) {
        IFIL *now = nullptr;
        int32_t length = 0;
        step = _zvdbGETIFIL(t->datno, &now, &length);
        if (step == 0) step = PUTCRES(t->datno, nullptr, 0);
        if (step == 0) step = store_conditions(t, t->datno + 1, hidden_count(now));
        if (step == 0) {
            now->dfilno = t->datno;
            now->tfilno = int16_t(t->datno + 1);
            step = RBLIIDX(now);
        }
        _zvdb_free(now);
        bool written = false;
        if (step == 0) step = commit_set(t, reopenmode & ~4u, &written);
    }
    if (step && !outer) snap->restore(t, previous);
    return rc ? rc : step;
}

}  // namespace

ZVDBRET rebuild_all(tagZVDBTABLE *t, uint32_t reopenmode, SetSnapshot *outer) {
    SetSnapshot own;
    SetSnapshot *snap = outer ? outer : &own;
    const uint32_t previous = t->openmode;
    IFIL *stored = nullptr;
    if (ZVDBRET rc = prepare(t, snap, !outer, &stored)) return rc;
    DefBuilder def(*stored, file_path(t, t->path, t->physname), t->datno);
    bool conditions = false;
    ZVDBRET rc = build_definition(t, stored, &def, &conditions);
    if (rc) {
        _zvdb_free(stored);
        if (!outer) reopen_set(t, previous, t->ifil, true);
        return rc;
    }
    rc = drop_and_add(t, stored, &def, conditions, snap);
    _zvdb_free(stored);
    bool written = false;
    if (rc == 0) {
        rc = commit_set(t, reopenmode, &written);
        if (written) return rc;
    }
    if (!outer) snap->restore(t, previous);
    return rc;
}

ZVDBRET rebuild_fix(tagZVDBTABLE *t, uint32_t reopenmode, bool purge, SetSnapshot *outer) {
    // Inside a transaction, what it did is committed first and a new one
    // begun afterwards, also after a failure.
    const bool transaction = zvdbIsTransActive(t) != 0;
    if (transaction) {
        if (ZVDBRET rc = zvdbCommit(t)) return rc;
    }
    ZVDBRET rc = rebuild_whole(t, reopenmode, purge, outer);
    if (transaction) {
        ZVDBRET begun = zvdbBegin(t);
        if (rc == 0) rc = begun;
    }
    return rc;
}

}  // namespace zv

extern "C" {

ZVDBRET _zvdbRebuildAll(tagZVDBTABLE *t, uint32_t reopenmode) { return zv::rebuild_all(t, reopenmode, nullptr); }

ZVDBRET _zvdbRebuildFix(tagZVDBTABLE *t, uint32_t reopenmode, int purge) {
    return zv::rebuild_fix(t, reopenmode, purge != 0, nullptr);
}

}  // extern "C"

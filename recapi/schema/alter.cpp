// Table alteration: zvdbAlterTable applies the pending edits of a table's
// field, index and segment handles to its files, and the three entries
// that drive it (a changed index condition, a changed create mode).
//
// The call checks the table, turns the edits into an alteration mask
// (alter_mask.cpp) and does the cheapest work the mask allows, in the order
// zv::alter_steps gives: the record schema, the field attributes and the
// identity field rewritten in place, then the indexes rebuilt
// (alter_rebuild.cpp) or added and dropped in place, and distinct-key
// counts recomputed; or every record copied into a new table
// (alter_copy.cpp). The alteration callback (kind 16) runs at the start,
// once the mask is known, and at the end, also after a failure.
//
// Invariants:
//  1. Nothing is written before every check has passed; the table's files
//     are written only while they are open not shared.
//  2. The in-place work has one commit point: the close after its last
//     step, once every page it wrote is on disk. A failure before it puts
//     back what the snapshot kept (schema, "QV!DFLD", index conditions,
//     identity field) and rebuilds the old indexes when any index file was
//     touched, so the table reopens as it was.
//  3. Index additions come before index drops, so that a failure while
//     adding leaves every old index in place.
//  4. Every exit leaves the handles read from the files (reloaded or
//     reopened), the operation word 2 after success and 0 after failure,
//     and the alteration state 3.
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/catalog/dict_calls.h"
#include "recapi/schema/alter.h"
#include "recapi/schema/alter_mask.h"
#include "recapi/schema/field.h"
#include "recapi/schema/icon.h"
#include "recapi/schema/index.h"
#include "recapi/schema/resource.h"
#include "recapi/schema/segment.h"
#include "recapi/schema/table.h"
#include "recapi/schema/tablefile.h"

namespace zv {

namespace {

constexpr int kCbAlter = 16;
// Operation word of the table.
constexpr int32_t kOpAltered = 2, kOpAltering = 3;
// Alteration state word.
constexpr uint16_t kStateMask = 2, kStateEnded = 1, kStateIdle = 3;
// Action bits above the selecting byte.
constexpr uint32_t kActionDeleteFlag = 0x100, kActionSkipDuplicates = 0x1000, kActionOwner = 0x4000;
// Open-mode bits.
constexpr uint32_t kOpenReadOnly = 32, kOpenSpecial = 4;
// Create-mode bits: transaction control, the 4-byte delete flag.
constexpr uint32_t kCreateTransaction = 3, kCreateDeleteFlag = 0x1000;
// Change bits of fields, indexes and segments.
constexpr uint32_t kFieldRenamed = 16, kFieldType = 32, kFieldLength = 64, kFieldIdentity = 0x100;
constexpr uint32_t kIndexNew = 1, kIndexDeleted = 2, kIndexDistinct = 0x400;
constexpr uint32_t kSegDeleted = 2;
// Key type bit of an index whose keys are built later by the engine.
constexpr int32_t kDeferredBuild = 0x10000;
// Attribute word of a data file and its bit of a patched header.
constexpr int kInfoAttributes = 34;
constexpr int64_t kAttrPatched = 0x4000;
// Codes of the alteration.
constexpr ZVDBRET kPatchedHeader = 990;
constexpr ZVDBRET kDeferredRefused = 454;
// Distinct-count switches of an index.
constexpr int kDistinctOff = 24, kDistinctOn = 41;
// The owner's security mode, and the answer of a file without owner record.
constexpr int kOwnerMode = 4;
constexpr int kNoOwnerRecord = 48;

bool nonempty(const char *s) { return s && *s; }

std::vector<tagZVDBINDEX *> list_indexes(const tagZVDBTABLE *t) {
    std::vector<tagZVDBINDEX *> out;
    for (int32_t i = 0; i < _zvdbListCount(t->indexes); i++) out.push_back(index_of(t->indexes->items[i]));
    return out;
}

class Alteration {
public:
    Alteration(tagZVDBTABLE *t, uint32_t action) : t_(t), action_(action) {}
    ZVDBRET run();

private:
    ZVDBRET check_indexes();
    ZVDBRET in_place();
    ZVDBRET step(uint32_t bit);
    ZVDBRET schema_step();
    ZVDBRET identity_step();
    ZVDBRET indexes_step();
    ZVDBRET distinct_step();
    ZVDBRET owner_step();
    bool all_temporary() const;
    ZVDBRET undo(ZVDBRET rc);
    ZVDBRET final_reopen();
    ZVDBRET succeed();
    ZVDBRET fail(ZVDBRET rc, bool reload);
    void finish(uint32_t finalmask, bool reread);

    tagZVDBTABLE *t_;
    uint32_t action_;
    uint32_t mask_ = 0;
    uint32_t reopen_ = 0;
    bool deleteflag_ = false;
    bool own_ = false;        // the transaction was begun here
    bool rebuilt_ = false;    // the indexes were rebuilt
    bool copied_ = false;     // the records were copied
    bool indexes_ = false;    // indexes were added or dropped in place
    SetSnapshot snap_;
};

// Steps 6 of the checks: every index has segments; what the files say of
// each index is read while they still match the handles; a new index whose
// keys the engine would build later cannot be had.
ZVDBRET Alteration::check_indexes() {
    for (tagZVDBINDEX *ix : list_indexes(t_)) {
        if (!ix) return ZVDB_NO_INDEX;
        if (_zvdbListCount(ix->segments) == 0) return ZVDB_INDEX_NO_SEGMENTS;
        _zvdbGetIdxcndxExpr(ix);
        for (int32_t k = 0; k < _zvdbListCount(ix->segments); k++) {
            _zvdbIsSegKsegUsed(static_cast<tagZVDBSEGMENT *>(ix->segments->items[k]));
        }
        _zvdbGetIdxTempFlag(ix);
        if ((ix->status & kIndexNew) && (ix->keytype & kDeferredBuild)) {
            return nonempty(ix->filename) ? kDeferredRefused : ZVDB_NOT_SUPPORTED;
        }
    }
    return 0;
}

ZVDBRET Alteration::run() {
    tagZVDBTABLE *t = t_;
    t->altermask = 0;
    t->alterstate = 0;
    if (ZVDBRET rc = fire_table_callback(t, kCbAlter, 0)) return fail(rc, false);
    const bool empty = (action_ & kActionEmpty) != 0;
    if (empty) action_ = (action_ & ~0xFFu) | 3;
    deleteflag_ = (action_ & kActionDeleteFlag) || (empty && (t->createmode & kCreateDeleteFlag));
    if (t->openmode & kOpenReadOnly) return fail(ZVDB_READ_ONLY, false);
    if (nonempty(t->mirrorname) || nonempty(t->mirrorpath) || t->vtkind != 0) return fail(ZVDB_NOT_SUPPORTED, false);
    t->operation = kOpAltering;
    if (!t->active || t->datno < 0) return fail(ZVDB_NOT_ACTIVE, false);
    if (ZVDBRET rc = check_indexes()) return fail(rc, false);
    uint32_t mask = 0;
    if (ZVDBRET rc = _zvdbSelectAlterMask(t, action_, &mask)) {
        if (rc == ZVDB_NO_INDEX_USE) return fail(rc, false);
        t->operation = 0;
        t->alterstate = kStateIdle;
        return keep_code(t, rc);
    }
    int64_t attributes = 0;
    if (int rc = _zvdbGETFIL(t->datno, kInfoAttributes, &attributes)) return fail(rc, false);
    if (attributes & kAttrPatched) return fail(kPatchedHeader, false);
    if (mask == 0) {
        t->alterstate = kStateEnded;
        t->operation = kOpAltered;
        fire_table_callback(t, kCbAlter, 0);
        t->alterstate = kStateIdle;
        return 0;
    }
    t->altermask = mask;
    t->alterstate = kStateMask;
    if (ZVDBRET rc = fire_table_callback(t, kCbAlter, 0)) return fail(rc, false);
    mask_ = t->altermask;
    reopen_ = t->openmode;
    if ((t->createmode & kCreateTransaction) || (action_ & kActionOwner)) reopen_ |= kOpenExclusive;
    if ((t->createmode & kCreateTransaction) && !zvdbIsTransActive(t)) {
        if (ZVDBRET rc = zvdbBegin(t)) return fail(rc, true);
        own_ = true;
    }
    ZVDBRET rc = 0;
    if (mask_ & kAlterCopy) {
        copied_ = true;
        rc = alter_copy(t, action_, deleteflag_, reopen_);
    } else {
        rc = in_place();
    }
    if (rc == 0) rc = owner_step();
    return rc ? fail(rc, true) : succeed();
}

bool Alteration::all_temporary() const {
    for (tagZVDBINDEX *ix : list_indexes(t_)) {
        if ((ix->status & (kIndexNew | kIndexDeleted)) && !_zvdbGetIdxTempFlag(ix)) return false;
    }
    return true;
}

// The work of a mask without a copy, on the files opened not shared; the
// commit closes them with every page written and opens them again with the
// reopen mode.
ZVDBRET Alteration::in_place() {
    tagZVDBTABLE *t = t_;
    uint32_t steps[kAlterMaxSteps];
    const int n = alter_steps(mask_, steps);
    // Temporary indexes live only while the set stays open: added on the
    // set as it is, with no close.
    if (n == 1 && steps[0] == kAlterIndexes && all_temporary()) return indexes_step();
    if (ZVDBRET rc = reopen_set(t, reopen_ | kOpenExclusive, t->ifil, false)) {
        if (t->datno < 0) open_set(t, t->openmode, t->ifil, true);
        return rc;
    }
    if (ZVDBRET rc = snap_.take(t)) return undo(rc);
    for (int k = 0; k < n; k++) {
        if (ZVDBRET rc = step(steps[k])) return undo(rc);
    }
    if (rebuilt_) return 0;
    bool written = false;
    ZVDBRET rc = commit_set(t, reopen_, &written);
    return written ? rc : undo(rc);
}

ZVDBRET Alteration::step(uint32_t bit) {
    switch (bit) {
    case kAlterSchema:
        return schema_step();
    case kAlterAttributes:
        snap_.fldx_written = true;
        return rewrite_field_attributes(t_);
    case kAlterIdentity:
        return identity_step();
    case kAlterRebuild: {
        rebuilt_ = true;
        const bool fix = (reopen_ & kOpenSpecial) || (action_ & kActionSkipDuplicates);
        return fix ? rebuild_fix(t_, reopen_, (action_ & kActionSkipDuplicates) != 0, &snap_)
                   : rebuild_all(t_, reopen_, &snap_);
    }
    case kAlterIndexes:
        return indexes_step();
    case kAlterDistinct:
        return distinct_step();
    default:
        return 0;
    }
}

// The stored record schema with each field's new name, type and length in
// its own entry (the hidden entries come first and stay). The table keeps
// the new schema, so that the steps after it place fields by their new
// names.
ZVDBRET Alteration::schema_step() {
    tagZVDBTABLE *t = t_;
    const int32_t n = t->dodacount;
    std::vector<DATOBJ> entries(t->doda, t->doda + n);
    std::vector<const char *> names(size_t(n), nullptr);
    for (int32_t i = 0; i < n; i++) names[size_t(i)] = t->doda[i].fsymb ? t->doda[i].fsymb : "";
    for (int32_t i = 0; i < _zvdbListCount(t->fields); i++) {
        auto *f = static_cast<tagZVDBFIELD *>(t->fields->items[i]);
        if (!f || !f->dodaentry) continue;
        const ptrdiff_t k = f->dodaentry - t->doda;
        if (k < 0 || k >= n) continue;
        if (f->status & kFieldRenamed) names[size_t(k)] = f->name;
        if (f->status & kFieldType) entries[size_t(k)].ftype = uint16_t(f->type);
        if (f->status & kFieldLength) entries[size_t(k)].flen = uint16_t(f->length);
    }
    // One block: the entries, an end entry, the names.
    size_t bytes = size_t(n + 1) * sizeof(DATOBJ);
    for (const char *name : names) bytes += std::strlen(name) + 1;
    auto *block = static_cast<DATOBJ *>(_zvdb_alloc(1, int32_t(bytes)));
    if (!block) return ZVDB_NO_MEMORY;
    char *area = reinterpret_cast<char *>(block + n + 1);
    for (int32_t i = 0; i < n; i++) {
        block[i] = entries[size_t(i)];
        const size_t len = std::strlen(names[size_t(i)]) + 1;
        std::memcpy(area, names[size_t(i)], len);
        block[i].fsymb = area;
        area += len;
    }
    block[n].fend = 0xFFFF;
    snap_.schema_written = true;
    if (int rc = PUTDODA(t->datno, block, n)) {
        _zvdb_free(block);
        return rc;
    }
    for (int32_t i = 0; i < _zvdbListCount(t->fields); i++) {
        auto *f = static_cast<tagZVDBFIELD *>(t->fields->items[i]);
        if (f && f->dodaentry && f->dodaentry >= t->doda && f->dodaentry < t->doda + n) {
            f->dodaentry = block + (f->dodaentry - t->doda);
        }
    }
    _zvdb_free(t->doda);
    t->doda = block;
    t->dodasize = int32_t(bytes);
    return 0;
}

ZVDBRET Alteration::identity_step() {
    tagZVDBTABLE *t = t_;
    for (int32_t i = 0; i < _zvdbListCount(t->fields); i++) {
        auto *f = static_cast<tagZVDBFIELD *>(t->fields->items[i]);
        if (f) f->status &= ~kFieldIdentity;
    }
    snap_.identity_written = true;
    return _zvdb_AddIDField(t);
}

// Indexes added and dropped in place: the new ones first, their keys
// loaded (after their conditions and transforms are stored when they have
// any), then the deleted ones dropped.
ZVDBRET Alteration::indexes_step() {
    tagZVDBTABLE *t = t_;
    std::vector<tagZVDBINDEX *> added, dropped;
    bool conditions = false;
    for (tagZVDBINDEX *ix : list_indexes(t)) {
        if (ix->status & kIndexNew) {
            added.push_back(ix);
            conditions = conditions || nonempty(_zvdbGetIdxcndxExpr(ix));
        } else if (ix->status & kIndexDeleted) {
            dropped.push_back(ix);
        }
    }
    const bool temporary = all_temporary();
    _zvdbIconReset(t);
    IFIL *stored = nullptr;
    int32_t length = 0;
    if (!temporary) {
        if (int rc = _zvdbGETIFIL(t->datno, &stored, &length)) return rc;
    }
    const IFIL &head = stored ? *stored : *t->ifil;
    DefBuilder def(head, file_path(t, t->path, t->physname), t->datno);
    _zvdb_free(stored);
    struct Transform {
        int entry;
        int segment;
        void *block;
    };
    std::vector<Transform> transforms;
    ZVDBRET rc = 0;
    for (size_t k = 0; k < added.size() && rc == 0; k++) {
        tagZVDBINDEX *ix = added[k];
        IIDX x{};
        std::vector<ISEG> segs;
        // Transforms first: filling clears the segments' new bits.
        int live = 0;
        for (int32_t s = 0; s < _zvdbListCount(ix->segments) && rc == 0; s++) {
            auto *seg = static_cast<tagZVDBSEGMENT *>(ix->segments->items[s]);
            if (seg->status & kSegDeleted) continue;
            if (_zvdbIsSegKsegUsed(seg)) {
                void *block = _zvdbBuildKSEG(seg);
                if (!block) rc = ZVDB_NO_MEMORY;
                else transforms.push_back({int(k), live, block});
                conditions = true;
            }
            live++;
        }
        if (rc == 0) rc = new_index_entry(t, ix, &x, &segs);
        if (rc == 0) def.add(x, ix->name, ix->filename, segs);
    }
    auto release = [&transforms]() {
        for (Transform &tr : transforms) _zvdb_free(tr.block);
    };
    if (rc) {
        release();
        return rc;
    }
    if (!added.empty()) {
        IFIL *x = def.ifil();
        // Kept empty: the keys are loaded once conditions and transforms
        // are stored.
        if (conditions) x->dxtdsiz = 3;
        if (!temporary) snap_.indexes_touched = true;
        rc = temporary ? _zvdbTMPIIDX(t, x) : _zvdbPRMIIDX(t, x);
        const int first = x->tfilno;
        if (rc == 0) {
            for (int k = 0; k < def.count(); k++) {
                if (def.file(k)) snap_.made.push_back(engine_name(first + k));
            }
        }
        for (size_t k = 0; k < transforms.size() && rc == 0; k++) {
            rc = _zvdbPUTKSEGDEF(first + transforms[k].entry, transforms[k].segment, transforms[k].block);
        }
        for (size_t k = 0; k < added.size() && rc == 0; k++) {
            tagZVDBINDEX *ix = added[k];
            ix->idxno = int16_t(first + int(k));
            const char *text = _zvdbGetIdxcndxExpr(ix);
            if (nonempty(text)) rc = UPDCIDX(ix->idxno, text);
            ix->status = 0;
        }
        if (rc == 0 && conditions) {
            x = def.ifil();
            x->dfilno = t->datno;
            x->tfilno = int16_t(first);
            rc = RBLIIDX(x);
        }
    }
    release();
    if (rc) return rc;
    for (tagZVDBINDEX *ix : dropped) {
        if (!temporary) snap_.indexes_touched = true;
        if ((rc = _zvdbDROPIDX(ix->idxno)) != 0) return rc;
    }
    indexes_ = !temporary;
    return 0;
}

// Distinct-key counts switched on or off as each changed index asks, and
// the stored definition given the index's new duplicate code (the engine
// opens an index only when both agree).
ZVDBRET Alteration::distinct_step() {
    tagZVDBTABLE *t = t_;
    IFIL *def = nullptr;
    int32_t length = 0;
    ZVDBRET rc = 0;
    bool changed = false;
    for (tagZVDBINDEX *ix : list_indexes(t)) {
        if (!(ix->status & kIndexDistinct) || (ix->status & (kIndexNew | kIndexDeleted))) continue;
        if (!def && (rc = _zvdbGETIFIL(t->datno, &def, &length)) != 0) break;
        int k = 0;
        while (k < def->dnumidx && !same_name(def->iidxarr[k].ridxnam, ix->name)) k++;
        if (k == def->dnumidx) {
            rc = ZVDB_NO_INDEX;
            break;
        }
        snap_.indexes_touched = true;
        zvDISTINCTsetXtd(ix->idxno, ix->distinctflag ? kDistinctOn : kDistinctOff, 0, nullptr, nullptr);
        if ((rc = instance_uerr()) != 0) break;
        def->iidxarr[k].ikeydup = duplicate_code(ix);
        changed = true;
    }
    if (rc == 0 && changed) rc = _zvdbPUTIFILX(t, def);
    _zvdb_free(def);
    return rc;
}

// The owner's name given again to every file of the table.
ZVDBRET Alteration::owner_step() {
    tagZVDBTABLE *t = t_;
    if (!(action_ & kActionOwner) || !nonempty(t->owner)) return 0;
    std::string buf(1, '\0');
    for (const char *p = t->owner; *p; p++) buf += char(upper_ascii(static_cast<unsigned char>(*p)));
    buf += '\0';
    const int32_t len = int32_t(std::strlen(t->owner) + 2);
    auto apply = [&buf, len](int file) {
        int rc = SECURITY(file, buf.data(), len, kOwnerMode);
        return rc == kNoOwnerRecord ? 0 : rc;
    };
    if (int rc = apply(t->datno)) return rc;
    if (t->hasrowid && t->rowidindex) {
        if (int rc = apply(t->rowidno)) return rc;
    }
    if (t->hasrecbyt && t->recbytindex) {
        if (int rc = apply(t->recbytno)) return rc;
    }
    for (tagZVDBINDEX *ix : list_indexes(t)) {
        if (ix->idxno < 0) return ZVDB_BAD_MODE;
        if (int rc = apply(ix->idxno)) return rc;
    }
    return 0;
}

// Puts the files back as the snapshot kept them and opens the table again
// with its own open mode: rc.
ZVDBRET Alteration::undo(ZVDBRET rc) {
    const uint32_t openmode = t_->openmode;
    if (snap_.def) {
        snap_.restore(t_, openmode);
    } else {
        reopen_set(t_, openmode, t_->ifil, true);
    }
    return rc;
}

// The reopen after a rebuild inside the call's own transaction.
ZVDBRET Alteration::final_reopen() {
    IFIL *now = nullptr;
    int32_t length = 0;
    if (t_->datno >= 0) _zvdbGETIFIL(t_->datno, &now, &length);
    ZVDBRET rc = reopen_set(t_, reopen_ & ~kOpenSpecial, now, true);
    _zvdb_free(now);
    return rc;
}

void Alteration::finish(uint32_t finalmask, bool reread) {
    tagZVDBTABLE *t = t_;
    // Handles read again from the files get back what "QV!DFLD" keeps.
    if (reread && t->active && t->datno >= 0) _zvdbGetFldx(t);
    t->altermask = finalmask;
    t->alterstate = kStateEnded;
    fire_table_callback(t, kCbAlter, 0);
    t->alterstate = kStateIdle;
}

ZVDBRET Alteration::succeed() {
    tagZVDBTABLE *t = t_;
    t->operation = kOpAltered;
    ZVDBRET rc = 0;
    if ((rebuilt_ || copied_ || indexes_) && t->database) {
        if ((rc = _zvdbDictUpdateIndex(t)) != 0) return fail(rc, true);
    }
    if (own_) rc = zvdbCommit(t);
    if (own_ && rebuilt_) {
        ZVDBRET again = final_reopen();
        if (rc == 0) rc = again;
    }
    finish(rebuilt_ || copied_ ? 0 : mask_, true);
    return keep_code(t, rc);
}

ZVDBRET Alteration::fail(ZVDBRET rc, bool reload) {
    tagZVDBTABLE *t = t_;
    t->operation = 0;
    if (reload && t->active && t->datno >= 0) _zvdbReloadTable(t);
    if (own_) {
        zvdbAbort(t);
        if (rebuilt_) final_reopen();
    }
    finish(rebuilt_ || copied_ ? 0 : mask_, reload);
    return keep_code(t, rc);
}

}  // namespace

}  // namespace zv

using zv::keep_code;
using zv::table_of;

extern "C" {

ZV_API ZVDBRET zvdbAlterTable(ZVHANDLE handle, ZVALTERACTION action) {
    tagZVDBTABLE *t = table_of(handle);
    if (!t) return keep_code(handle, ZVDB_NO_TABLE);
    try {
        zv::Alteration alteration(t, action);
        return alteration.run();
    } catch (const std::bad_alloc &) {
        t->operation = 0;
        t->alterstate = 3;
        return keep_code(t, ZVDB_NO_MEMORY);
    }
}

ZV_API ZVDBRET zvdbUpdateCndxIndex(ZVHANDLE table, int32_t n, const char *text) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    auto *ix = static_cast<tagZVDBINDEX *>(zvdbGetIndex(t, n));
    if (!ix) return keep_code(t, ZVDB_NO_INDEX);
    const char *now = _zvdbGetIdxcndxExpr(ix);
    if (now && text && std::strcmp(now, text) == 0) return 0;
    if (ZVDBRET rc = zvdbSetIndexCndxExpr(ix, text)) return keep_code(t, rc);
    return zvdbAlterTable(t, 1);
}

ZV_API ZVDBRET zvdbUpdateCndxIndexByName(ZVHANDLE table, const char *name, const char *text) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    const int32_t n = zvdbGetIndexNbrByName(t, name);
    if (n < 0) return keep_code(t, ZVDB_NO_INDEX);
    return zvdbUpdateCndxIndex(t, n, text);
}

ZV_API ZVDBRET zvdbUpdateCreateMode(ZVHANDLE table, uint32_t createmode) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    if (t->openmode & 32) return keep_code(t, ZVDB_READ_ONLY);
    if (createmode == t->createmode) return 0;
    ZVDBRET rc = 0;
    if (zvdbIsTransActive(t)) {
        zvdbSetSavePoint(t);
        t->createmode = createmode;
        rc = zvdbAlterTable(t, 3);
        if (rc) zvdbRestoreSavePoint(t, 0);
        else zvdbClearSavePoint(t);
    } else {
        if ((rc = zvdbBegin(t)) != 0) return keep_code(t, rc);
        t->createmode = createmode;
        rc = zvdbAlterTable(t, 3);
        ZVDBRET end = rc ? zvdbAbort(t) : zvdbCommit(t);
        if (rc == 0) rc = end;
    }
    return keep_code(t, rc);
}

}  // extern "C"

// Alteration masks: the field check, the index check, the selection of the
// mask by an action, zvdbGetTableStatus, and the order of the work.
//
// The checks only read the change bits that the setters of fields, indexes
// and segments left, with three exceptions that stay when no alteration
// follows: segments on a variable-length field whose length changed get
// bit 32 (their keys change), and so do the schema segments of a field
// whose type changed in place (the engine forms their keys by the type); an
// existing index left without live segments becomes deleted; and dropping
// the partition index ends the partitioning kept in the table handle.
//
// Field bits are weighed each on its own: a renamed field that also changed
// its type in a way the stored records cannot take is copied, not renamed
// in place over records of the old layout. A copy rewrites every record
// under the new definition, so a field part that asks for one is 16 alone.
#include "recapi/schema/alter_mask.h"

#include <initializer_list>

#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/schema/fieldtype.h"
#include "recapi/schema/index.h"
#include "recapi/schema/table.h"

namespace zv {

namespace {

// Field change bits.
constexpr uint32_t kFieldNew = 1, kFieldDeleted = 2, kFieldMoved = 4, kFieldRenamed = 16, kFieldType = 32,
                   kFieldLength = 64, kFieldAttributes = 128, kFieldIdentity = 0x100;
// Index change bits; every definition change of an existing index asks for
// a rebuild, a changed distinct-key-count flag only for new counts.
constexpr uint32_t kIndexNew = 1, kIndexDeleted = 2, kIndexDefinition = 0x3F0, kIndexDistinct = 0x400;
// Segment change bits.
constexpr uint32_t kSegNew = 1, kSegDeleted = 2, kSegMode = 16, kSegField = 32;
// Create-mode bit of a partitioned table.
constexpr uint32_t kCreatePartitioned = 0x800;
// File information of an index file: its member number within the file and
// the number of further indexes the file holds.
constexpr int kInfoMember = 13, kInfoMembers = 29;

bool one_of(int32_t code, std::initializer_list<int32_t> codes) {
    for (int32_t c : codes) {
        if (c == code) return true;
    }
    return false;
}

// Whether records stored with a field of type `stored` read correctly as
// type `now` without being rewritten: same width and a value the new type
// takes as it is. ZV_SFLOAT is 4 bytes wide and takes no 8-byte type;
// ZV_TIME and ZV_TIME_MS count in different units and go only through a
// copy; ZV_MONEY is never taken as stored.
bool compatible_in_place(int32_t stored, int32_t now) {
    switch (now) {
    case ZV_BOOL:
    case ZV_CHAR:
    case ZV_CHARU:
        return one_of(stored, {ZV_BOOL, ZV_CHAR, ZV_CHARU});
    case ZV_INT2:
    case ZV_INT2U:
        return one_of(stored, {ZV_INT2, ZV_INT2U});
    case ZV_INT4:
    case ZV_INT4U:
    case ZV_MONEY:
    case ZV_DATE:
        return one_of(stored, {ZV_INT4, ZV_INT4U, ZV_DATE, ZV_TIME, ZV_TIME_MS});
    case ZV_TIME:
        return one_of(stored, {ZV_INT4, ZV_INT4U, ZV_DATE, ZV_TIME});
    case ZV_TIME_MS:
        return one_of(stored, {ZV_INT4, ZV_INT4U, ZV_DATE, ZV_TIME_MS});
    case ZV_DFLOAT:
    case ZV_TIMES:
    case ZV_TIMES_MS:
        return one_of(stored, {ZV_DFLOAT, ZV_TIMES, ZV_TIMES_MS});
    default:
        return false;
    }
}

// Marks the segments built on a field as re-pointed (32), last to first,
// so that the index check rebuilds their indexes; with `schema_only` only
// the segments whose keys the engine forms by the field's stored type.
void mark_segments(tagZVDBFIELD *f, bool schema_only) {
    for (int32_t k = _zvdbListCount(f->segments) - 1; k >= 0; k--) {
        auto *s = static_cast<tagZVDBSEGMENT *>(f->segments->items[k]);
        if (!schema_only || _zvdbIsSCHSEG(s->mode)) s->status |= kSegField;
    }
}

bool has_own_file(const tagZVDBINDEX *ix) { return ix->filename && *ix->filename; }

// Ends the partitioning kept in the handle.
void end_partitioning(tagZVDBTABLE *t) {
    t->partindex = -1;
    if (reinterpret_cast<uintptr_t>(t->partrule) > 1) _zvdb_free(t->partrule);
    t->partrule = nullptr;
    t->createmode &= ~kCreatePartitioned;
}

// The mask a deleted existing index asks for: dropped in place (4) when it
// is alone in its index file, else a rebuild (8); dropping the partition
// index also asks for a copy. *alone tells that an index is dropped in
// place.
uint32_t deleted_index_mask(tagZVDBTABLE *t, const tagZVDBINDEX *ix, bool *alone) {
    uint32_t mask = 0;
    if ((t->createmode & kCreatePartitioned) && t->partindex >= 0 && ix->idxno == t->datno + 1 + t->partindex) {
        end_partitioning(t);
        mask |= kAlterCopy;
    }
    int64_t member = 0, members = 0;
    if (_zvdbGETFIL(ix->idxno, kInfoMember, &member) || _zvdbGETFIL(ix->idxno, kInfoMembers, &members)) {
        return mask | kAlterRebuild;
    }
    // The first index of its file with no further index in it: dropping it
    // removes the whole file and nothing else.
    if (member < 1 && members < 1) {
        *alone = true;
        return mask | kAlterIndexes;
    }
    return mask | kAlterRebuild;
}

// The mask an existing index that stays asks for, walking its segments.
// *live gets the number of its segments not deleted; *stop tells that a new
// segment ended the check.
uint32_t kept_index_mask(const tagZVDBINDEX *ix, int32_t *live, bool *stop) {
    uint32_t mask = 0;
    if (ix->status & kIndexDefinition) mask |= kAlterRebuild;
    else if (ix->status & kIndexDistinct) mask |= kAlterDistinct;
    *live = 0;
    for (int32_t k = 0; k < _zvdbListCount(ix->segments); k++) {
        auto *s = static_cast<const tagZVDBSEGMENT *>(ix->segments->items[k]);
        if (s->status & kSegNew) {
            *stop = true;
            return mask | kAlterRebuild;
        }
        if (s->status & kSegDeleted) {
            mask |= kAlterRebuild;
            continue;
        }
        ++*live;
        if (s->status & (kSegMode | kSegField)) mask |= kAlterRebuild;
    }
    return mask;
}

}  // namespace

int alter_steps(uint32_t mask, uint32_t steps[kAlterMaxSteps]) {
    int n = 0;
    if (mask & kAlterCopy) {
        steps[n++] = kAlterCopy;
        return n;
    }
    for (uint32_t bit : {kAlterSchema, kAlterAttributes, kAlterIdentity}) {
        if (mask & bit) steps[n++] = bit;
    }
    if (mask & kAlterRebuild) {
        steps[n++] = kAlterRebuild;
        return n;
    }
    for (uint32_t bit : {kAlterIndexes, kAlterDistinct}) {
        if (mask & bit) steps[n++] = bit;
    }
    return n;
}

}  // namespace zv

using namespace zv;

extern "C" {

uint32_t _zvdbCheckFieldChanges(tagZVDBTABLE *t) {
    uint32_t mask = 0;
    for (int32_t i = 0; i < _zvdbListCount(t->fields); i++) {
        auto *f = static_cast<tagZVDBFIELD *>(t->fields->items[i]);
        const uint32_t status = f->status;
        if (status & (kFieldNew | kFieldDeleted | kFieldMoved)) return kAlterCopy;
        if (status & kFieldRenamed) mask |= kAlterSchema;
        if (status & kFieldType) {
            if (!f->dodaentry || !compatible_in_place(f->dodaentry->ftype, f->type)) return kAlterCopy;
            mask |= kAlterSchema;
            // Same bytes, but keys formed by the type (signed or unsigned,
            // integer or float) may order them differently now.
            mark_segments(f, true);
        }
        if (status & kFieldLength) {
            if (field_type_info(f->type).varlen > 0) {
                mask |= kAlterSchema;
                mark_segments(f, false);
            } else {
                mask |= kAlterCopy;
            }
        }
        if (status & kFieldIdentity) mask |= kAlterIdentity;
        if (status & kFieldAttributes) mask |= kAlterAttributes;
    }
    return (mask & kAlterCopy) ? kAlterCopy : mask;
}

ZVDBRET _zvdbCheckIndexChanges(tagZVDBTABLE *t, uint32_t *out, int32_t *nosegs) {
    *out = 0;
    if (nosegs) *nosegs = 0;
    // Some index must stay to host the table's records in key order: a
    // hidden one, a kept index of its own file or the first one unchanged.
    bool host = t->hasrecbyt || t->hasrowid;
    bool dropped = false;
    const int32_t count = _zvdbListCount(t->indexes);
    if (count == 0) {
        *out = host ? 0 : kAlterRebuild;
        return 0;
    }
    uint32_t mask = 0;
    for (int32_t i = 0; i < count; i++) {
        tagZVDBINDEX *ix = index_of(t->indexes->items[i]);
        if (!ix) return ZVDB_NO_INDEX;
        if (_zvdbListCount(ix->segments) == 0) {
            mask |= kAlterRebuild;
            if (nosegs) *nosegs = 1;
        }
        if (ix->status & kIndexNew) {
            if (has_own_file(ix)) {
                mask |= kAlterIndexes;
                host = true;
            } else {
                mask |= kAlterIndexes | kAlterRebuild;
            }
        } else if (ix->status & kIndexDeleted) {
            mask |= deleted_index_mask(t, ix, &dropped);
        } else {
            int32_t live = 0;
            bool stop = false;
            mask |= kept_index_mask(ix, &live, &stop);
            if (stop) {
                *out = mask;
                return 0;
            }
            if (live == 0) {
                ix->status |= kIndexDeleted;
            } else if (has_own_file(ix) || (i == 0 && ix->status == 0)) {
                host = true;
            }
        }
    }
    if (!host) mask |= kAlterRebuild;
    else if (mask == kAlterIndexes && !dropped) mask |= kAlterOnlyAdditions;
    *out = mask;
    return 0;
}

ZVDBRET _zvdbSelectAlterMask(tagZVDBTABLE *t, uint32_t action, uint32_t *mask) {
    *mask = 0;
    const uint32_t low = (action & kActionEmpty) ? 3 : action & 0xFF;
    switch (low) {
    case 0: {
        uint32_t m = _zvdbCheckFieldChanges(t);
        if (!(m & kAlterCopy)) {
            uint32_t indexes = 0;
            int32_t nosegs = 0;
            if (ZVDBRET rc = _zvdbCheckIndexChanges(t, &indexes, &nosegs)) return rc;
            if (nosegs) return ZVDB_INDEX_NO_SEGMENTS;
            m |= indexes;
        }
        *mask = m;
        return 0;
    }
    case 1:
        if (t->ifil && t->ifil->dnumidx == 0 && _zvdbListCount(t->indexes) == 0) return ZVDB_NO_INDEX_USE;
        *mask = kAlterRebuild;
        return 0;
    case 3:
        *mask = kAlterCopy;
        return 0;
    default:
        return ZVDB_BAD_ALTER_ACTION;
    }
}

ZV_API ZVALTERMASK zvdbGetTableStatus(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE), 0;
    // The field check first: the segments it marks count in the index check.
    const uint32_t fields = _zvdbCheckFieldChanges(t);
    uint32_t indexes = 0;
    if (ZVDBRET rc = _zvdbCheckIndexChanges(t, &indexes, nullptr)) return keep_code(table, rc), 0;
    return fields | indexes;
}

}  // extern "C"

// Ordinal positions and counts: the current record's ordinal in its
// default index, the record a number of entries from the first, the record
// at a percentage of the index, span estimates between two keys, the
// table's record count and the entry count of an index.
//
// Ordinals are counted by the index (the entries between two keys), so the
// current record's key carries its own position in the suffix of an index
// that allows duplicates: equal keys are then told apart and counted in
// their order.
#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/records/nav.h"
#include "recapi/schema/index.h"
#include "recapi/schema/table.h"

namespace zv {

namespace {

// Bit of file information 33 that marks the index a partitioned table
// counts its records by.
constexpr int64_t kPartitionCountBit = 0x8000000;
// The count of a multi-record-type table covers every record type.
constexpr uint32_t kMultiRecordType = 0x10000;

// The record with its table open, its context current, its slots built,
// its image packed and the default index as a key.
ZVDBRET keyed_record(ZVHANDLE record, tagZVDBRECORD **out, KeyInfo *k) {
    tagZVDBRECORD *r = nullptr;
    ZVDBRET rc = open_record(record, &r);
    if (rc == 0) rc = _zvdbRecordContext(r);
    if (rc == 0) rc = _zvdbFixRecordBuffer(r, 0);
    if (rc == 0) rc = default_key(r, k);
    *out = r;
    return rc;
}

// The ordinal of the current record's key in its index (from 1).
ZVDBRET key_ordinal(tagZVDBRECORD *r, const KeyInfo &k, uint64_t *ordinal) {
    unsigned char *area = nullptr;
    ZVDBRET rc = key_area(r, k, 2, &area);
    if (rc == 0) rc = form_key(r, k, area, 0);
    if (rc) return rc;
    if (k.suffix) put_suffix(area, k, r->position);
    unsigned char *first = area + k.keylen;
    FRSKEY(k.keyno, first);
    const uint64_t n = engine_wide(RNGENT(k.keyno, first, area));
    if (n == 0) {
        const int code = instance_uerr();
        return code ? code : ZV_INOT_ERR;
    }
    *ordinal = n;
    return 0;
}

// An index whose entries count the records: open, without a condition
// and without suppressed null keys.
bool counts_every_record(const tagZVDBINDEX *ix) {
    return ix->idxno >= 0 && !ix->nullflag && GETCIDX(ix->idxno, 0, nullptr) <= 0;
}

// The index whose entry count is the table's record count, or NULL.
tagZVDBINDEX *counting_index(tagZVDBTABLE *t) {
    tagZVDBINDEX *chosen = nullptr;
    for (int32_t i = 0; i < _zvdbListCount(t->indexes); i++) {
        auto *ix = static_cast<tagZVDBINDEX *>(t->indexes->items[i]);
        if (!counts_every_record(ix) || zvdbGetIndexTemporaryFlag(ix)) continue;
        if (!(t->createmode & 0x800)) return ix;
        int64_t info = 0;
        if (_zvdbGETFIL(ix->idxno, 33, &info) == 0 && (info & kPartitionCountBit)) return ix;
        if (!chosen) chosen = ix;
    }
    if (chosen) return chosen;
    // Temporary indexes too, up to the first index without files.
    for (int32_t i = 0; i < _zvdbListCount(t->indexes); i++) {
        auto *ix = static_cast<tagZVDBINDEX *>(t->indexes->items[i]);
        if (ix->idxno < 0) break;
        if (counts_every_record(ix)) return ix;
    }
    return nullptr;
}

}  // namespace

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API ZVDBRET zvdbGetRecordKeyPos(ZVHANDLE record, uint64_t *ordinal) {
    tagZVDBRECORD *r = nullptr;
    KeyInfo k{};
    ZVDBRET rc = keyed_record(record, &r, &k);
    if (rc == 0 && !ordinal) rc = ZVDB_NULL_ARGUMENT;
    if (rc == 0) rc = key_ordinal(r, k, ordinal);
    return keep_code(record, rc);
}

ZV_API ZVDBRET zvdbRecordPosAtOffset(ZVHANDLE record, uint64_t *position) {
    tagZVDBRECORD *r = nullptr;
    KeyInfo k{};
    ZVDBRET rc = keyed_record(record, &r, &k);
    if (rc == 0 && !position) rc = ZVDB_NULL_ARGUMENT;
    if (rc) return keep_code(record, rc);
    const auto entries = int32_t(uint32_t(*position));
    unsigned char *area = nullptr;
    rc = _zvdbMoveRecord(r, 1, 0);
    if (rc == 0) rc = key_area(r, k, 2, &area);
    if (rc == 0) rc = form_key(r, k, area, 0);
    if (rc) return keep_code(record, rc);
    if (k.suffix) put_suffix(area, k, r->position);
    const uint64_t found = engine_wide(ORDKEY(k.keyno, area, entries, area + k.keylen));
    if (found == 0) return keep_code(record, ZVDB_NOT_FOUND);
    *position = found;
    return 0;
}

ZV_API ZVDBRET zvdbRecordAtPercentile(ZVHANDLE record, int32_t percent) {
    tagZVDBRECORD *r = nullptr;
    KeyInfo k{};
    unsigned char *area = nullptr;
    uint64_t position = 0;
    ZVDBRET rc = keyed_record(record, &r, &k);
    if (rc == 0) rc = key_area(r, k, 1, &area);
    if (rc == 0) rc = form_key(r, k, area, 0);
    if (rc == 0) rc = _zvdbFRCKEY(k.keyno, area, int16_t(percent), &position);
    if (rc == 0) rc = _zvdbSeekRow(r, position);
    if (rc) return keep_code(record, rc);
    r->isnew = r->edited = 0;
    return 0;
}

ZV_API int64_t zvdbEstimateSpan(ZVHANDLE record, const void *key1, const void *key2) {
    tagZVDBRECORD *r = nullptr;
    KeyInfo k{};
    if (ZVDBRET rc = keyed_record(record, &r, &k)) return keep_code(record, rc), 0;
    const uint64_t n = engine_wide(ESTRNG(k.keyno, key1, key2, nullptr));
    if (n == 0) {
        if (int code = instance_uerr()) keep_code(record, code);
    }
    return int64_t(n);
}

ZV_API ZVDBRET zvdbGetRecordCount(ZVHANDLE record, uint64_t *count) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    if (!count) return keep_code(record, ZVDB_NULL_ARGUMENT);
    tagZVDBTABLE *t = r->table;
    if (!t || !t->active) return keep_code(record, ZVDB_NOT_ACTIVE);
    uint64_t n = 0;
    int rc;
    if (t->hasrecbyt && t->recbytindex) {
        rc = _zvdbGetNumberOfIndexEntries(t->recbytno, &n);
    } else if (t->hasrowid && t->rowidindex) {
        rc = _zvdbGetNumberOfIndexEntries(t->rowidno, &n);
    } else if (tagZVDBINDEX *ix = counting_index(t)) {
        rc = _zvdbGetNumberOfIndexEntries(ix->idxno, &n);
    } else {
        rc = _zvdbGetNumberOfRecords(t->datno, variable_file(t) ? 1 : 0, &n);
    }
    if (rc) return keep_code(record, rc);
    *count = n;
    return t->vtkind == kMultiRecordType ? keep_code(record, ZVDB_VIRTUAL_COUNT) : 0;
}

ZV_API int64_t zvdbNumberOfKeyEntries(ZVHANDLE table, int32_t n) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE), -1;
    if (n < 0 || n >= _zvdbListCount(t->indexes)) return keep_code(table, ZVDB_NO_INDEX_NAME), -1;
    auto *ix = static_cast<tagZVDBINDEX *>(_zvdbListItem(t->indexes, n));
    if (!ix) return keep_code(table, ZVDB_NO_INDEX), -1;
    uint32_t entries = 0;
    if (int rc = _zvdbIDXENT(ix->idxno, &entries)) return keep_code(table, rc), -1;
    return entries;
}

}  // extern "C"

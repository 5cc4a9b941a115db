// Key-prefix sets, index ranges and full-text search of record handles:
// the orders that replace the default index's whole order in the moves of
// navigation (navigate.cpp reads the words kept here).
//
// A key-prefix set keeps the whole key formed from the record when the set
// was switched on (the key length of the default index) and the number of
// leading bytes the records of the set share; the engine's set state lives
// under the record's own set number. A range lives in the engine, in the
// default index's block of the record's ISAM context; the record keeps its
// key number to read and free it.
//
// Invariants:
//  1. recseton is 1 exactly when recsetprefix holds recsetsize key bytes
//     and 0 <= recsetlen <= recsetsize.
//  2. rangeon is 1 exactly when the engine holds a range on key number
//     rangekey in the record's context.
#include <cstring>

#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/records/nav.h"
#include "recapi/records/set_calls.h"

namespace zv {

namespace {

// Ends the key-prefix set: its engine set freed, the key dropped.
void end_set(tagZVDBRECORD *r) {
    if (r->recseton) _zvdbFRESETN(r->setno);
    r->recsetprefix = static_cast<unsigned char *>(_zvdb_free(r->recsetprefix));
    r->recseton = 0;
    r->recsetlen = r->recsetsize = 0;
}

ZVDBRET set_on(tagZVDBRECORD *r, int32_t prefix) {
    if (!r->table || !r->table->active) return ZVDB_NOT_ACTIVE;
    if (!has_indexes(r->table)) return ZVDB_NO_INDEX_USE;
    if (prefix < 0) return ZVDB_BAD_ARGUMENT;
    ZVDBRET rc = _zvdbRecordContext(r);
    if (rc == 0) rc = _zvdbInitRecord(r);
    if (rc == 0) rc = _zvdbFixRecordBuffer(r, 0);
    if (rc) return rc;
    end_set(r);
    KeyInfo k{};
    if ((rc = default_key(r, &k)) != 0) return rc;
    if (prefix > k.keylen) return ZVDB_NAME_TOO_LONG;
    auto *key = static_cast<unsigned char *>(_zvdb_alloc(1, k.keylen));
    if (!key) return ZVDB_NO_MEMORY;
    if ((rc = form_key(r, k, key, 0)) != 0) {
        _zvdb_free(key);
        return rc;
    }
    r->recsetprefix = key;
    r->recsetlen = int16_t(prefix);
    r->recsetsize = int16_t(k.keylen);
    r->recseton = 1;
    return 0;
}

ZVDBRET range_on(tagZVDBRECORD *r, int32_t segments, const void *low, const void *high, const int32_t *ops,
                 int32_t extended) {
    if (segments < 1) return ZVDB_BAD_ARGUMENT;
    if (!low || !ops) return ZVDB_BAD_KIND;
    if (!r->table || !r->table->active) return ZVDB_NOT_ACTIVE;
    if (!has_indexes(r->table)) return ZVDB_NO_INDEX_USE;
    if (ZVDBRET rc = _zvdbRecordContext(r)) return rc;
    const int keyno = _zvdbIdxno(r);
    // The engine keeps its range when a new one is refused.
    if (int rc = ALCRNG(keyno, segments, low, high, reinterpret_cast<const uint32_t *>(ops))) return rc;
    if (r->rangeon && r->rangekey != keyno) FRERNG(r->rangekey);
    r->rangeon = 1;
    r->rangekey = keyno;
    r->rangextd = extended & 1;
    return 0;
}

}  // namespace

}  // namespace zv

using namespace zv;

extern "C" {

ZVDBRET _zvdbCopyRecordSet(const tagZVDBRECORD *from, tagZVDBRECORD *to) {
    end_set(to);
    if (!from->recseton) return 0;
    auto *key = static_cast<unsigned char *>(_zvdb_alloc(1, from->recsetsize));
    if (!key) return ZVDB_NO_MEMORY;
    std::memcpy(key, from->recsetprefix, size_t(from->recsetsize));
    to->recsetprefix = key;
    to->recsetlen = from->recsetlen;
    to->recsetsize = from->recsetsize;
    to->recseton = 1;
    return 0;
}

void _zvdbEndFTSearch(tagZVDBRECORD *r) { r->ftson = 0; }

// ---- Key-prefix sets -----------------------------------------------------------

ZV_API ZVDBRET zvdbRecordSetOn(ZVHANDLE record, int32_t prefix) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    return keep_code(record, set_on(r, prefix));
}

ZV_API ZVDBRET zvdbRecordSetOff(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    end_set(r);
    return 0;
}

ZV_API int zvdbIsRecordSetOn(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    return r ? r->recseton : 0;
}

// ---- Ranges ----------------------------------------------------------------------

ZV_API ZVDBRET zvdbRecordRangeXtdOn(ZVHANDLE record, int32_t segments, const void *low, const void *high,
                                   const int32_t *operators, int32_t options) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    return keep_code(record, range_on(r, segments, low, high, operators, options));
}

ZV_API ZVDBRET zvdbRecordRangeOn(ZVHANDLE record, int32_t segments, const void *low, const void *high,
                                const int32_t *operators) {
    return zvdbRecordRangeXtdOn(record, segments, low, high, operators, 0);
}

ZV_API ZVDBRET zvdbRecordRangeOff(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    if (!r->rangeon) return 0;
    // Without a context (a record being freed) or an open table the range
    // went with the context.
    if (r->icon >= 0 && r->table && r->table->active) {
        ZVDBRET rc = _zvdbRecordContext(r);
        if (rc == 0) rc = FRERNG(r->rangekey);
        if (rc) return keep_code(record, rc);
    }
    r->rangeon = 0;
    r->rangekey = 0;
    r->rangextd = 0;
    return 0;
}

ZV_API int zvdbIsRecordRangeOn(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    return r ? r->rangeon : 0;
}

// ---- Full-text search (not available in this library) -------------------------------

ZV_API ZVDBRET zvdbFTSearchOn(ZVHANDLE record, const char *, int32_t) {
    return keep_code(record, record_of(record) ? ZVDB_NOT_SUPPORTED : ZVDB_NO_RECORD);
}

ZV_API ZVDBRET zvdbGetFTSErrorDetails(ZVHANDLE record, int32_t *, int32_t *) {
    return keep_code(record, record_of(record) ? ZVDB_NOT_SUPPORTED : ZVDB_NO_RECORD);
}

ZV_API ZVDBRET zvdbFTSearchOff(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    if (r->ftson && _zvdbRecordContext(r) == 0) FreeFTSearch();
    r->ftson = 0;
    return 0;
}

ZV_API int zvdbIsFTSearchOn(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    return r ? r->ftson : 0;
}

ZV_API ZVDBRET zvdbSetDefaultFTI(ZVHANDLE record, int32_t n) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    if (!r->table || n < 0 || n > _zvdbListCount(r->table->ftis)) return keep_code(record, ZVDB_BAD_POSITION);
    r->ftsindex = n;
    return 0;
}

}  // extern "C"

// Writes of record handles: adding a new record, rewriting the record read,
// deleting it, clearing a whole record or one field back to empty, and the
// record locks.
//
// The engine keeps the data file and every index in step in one call and
// undoes a call that fails halfway, so a failed write or delete leaves the
// record as it was (new, edited, position) and can be corrected and written
// again; the index whose key refused an add or rewrite is kept as the
// record's error index. A successful write or delete leaves the record
// neither new nor edited, so writing it again without a change does
// nothing.
#include <cstring>

#include "recapi/base/session.h"
#include "recapi/base/utility.h"
#include "recapi/base/wrappers.h"
#include "recapi/records/nav.h"
#include "recapi/records/slotprim.h"
#include "recapi/records/vtype_calls.h"
#include "recapi/schema/field.h"

namespace zv {

namespace {

// Engine lock modes of the record lock modes 0 (release) to 4.
constexpr int kLockModes[] = {0, 4, 11, 2, 3};
constexpr int32_t kLockModeCount = int32_t(sizeof kLockModes / sizeof kLockModes[0]);
// The lock release after an add accepts the engine's "not locked".
constexpr int kNotLocked = 41;
// Operation-state bits and lock modes under which an added record keeps
// its lock.
constexpr int32_t kKeepLockStates = 0x1 | 0x40000;
constexpr int16_t kFreeLockModes[] = {0, 6};

// The record prologue of writes and deletes: 4024, 4012, 4003, the slot
// build's codes.
ZVDBRET write_prologue(ZVHANDLE record, tagZVDBRECORD **out) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return ZVDB_NO_RECORD;
    if (!r->table || !r->table->active) return ZVDB_NOT_ACTIVE;
    if (!r->session) return ZVDB_NO_SESSION;
    *out = r;
    return _zvdbInitRecord(r);
}

// The slot of the table's identity field, looked up by name once for the
// record's slots: NULL when the field is missing.
ZVDBFIELDSLOT *identity_slot(tagZVDBRECORD *r) {
    if (r->identitystamp != r->stamp) {
        record_counts().identity_lookups++;
        r->identityslot = nullptr;
        const char *name = r->table->identityname;
        for (int32_t i = 0; i < r->slotcount && !r->identityslot; i++) {
            const auto *f = static_cast<const tagZVDBFIELD *>(r->slots[i].field);
            if (f && same_name(f->name, name)) r->identityslot = &r->slots[i];
        }
        r->identitystamp = r->stamp;
    }
    return r->identityslot;
}

// The index whose core key number is `file`: a user index number, 10001,
// 10000, or -1.
int32_t index_of_file(const tagZVDBTABLE *t, int file) {
    for (int32_t i = 0; i < _zvdbListCount(t->indexes); i++) {
        if (static_cast<const tagZVDBINDEX *>(t->indexes->items[i])->idxno == file) return i;
    }
    if (t->hasrowid && t->rowidno == file) return ZVDB_INDEX_ROWID;
    if (t->hasrecbyt && t->recbytno == file) return ZVDB_INDEX_RECBYT;
    return -1;
}

// Whether an added record's lock is released.
bool releases_added_lock(tagZVDBRECORD *r) {
    if (zvdbGetOperationState(r->session) & kKeepLockStates) return false;
    for (int16_t mode : kFreeLockModes) {
        if (r->session->lockmode == mode) return true;
    }
    return false;
}

// Adds the new record: its position into *position.
int add_record(tagZVDBRECORD *r, uint64_t *position, int *failfile) {
    const int datno = r->table->datno;
    int rc = variable_file(r->table) ? _zvdbADDVREC(datno, r->buffer, r->length, failfile)
                                     : _zvdbADDREC(datno, r->buffer, failfile);
    return rc ? rc : _zvdbGETCURP(datno, position);
}

// Rewrites the record read; a variable-length record may move.
int rewrite_record(tagZVDBRECORD *r, uint64_t *position, int *failfile) {
    const int datno = r->table->datno;
    if (!variable_file(r->table)) return _zvdbRWTREC(datno, r->buffer, failfile);
    const int rc = _zvdbRWTVREC(datno, r->buffer, r->length, failfile);
    return rc ? rc : _zvdbGETCURP(datno, position);
}

// The write of an edited record (every step before the engine's write can
// refuse it, and none changes the table).
ZVDBRET write_edited(tagZVDBRECORD *r) {
    if (_zvdbListCount(r->fieldmask) > 0) return ZVDB_FIELD_MASKED;
    ZVDBRET rc = identity_not_null(r);
    if (rc == 0) rc = _zvdbRecordContext(r);
    if (rc == 0) rc = _zvdbFixRecordBuffer(r, 1);
    if (rc == 0) rc = run_record_callback(r, 8);
    if (rc == 0) rc = _zvdbCheckRecordType(r);
    if (rc) return rc;
    r->errorindex = -1;
    uint64_t position = r->position;
    int failfile = -1;
    rc = r->isnew ? add_record(r, &position, &failfile) : rewrite_record(r, &position, &failfile);
    if (rc) {
        if (failfile >= 0) r->errorindex = index_of_file(r->table, failfile);
        return rc;
    }
    const bool added = r->isnew != 0;
    // The record is in the table now, whatever the release or the last
    // callback answers: a second write must not add it again.
    r->position = position;
    r->isnew = r->edited = 0;
    if (added && releases_added_lock(r)) {
        rc = _zvdbLOKREC(r->table->datno, 0, position);
        if (rc == kNotLocked) rc = 0;
    }
    if (rc == 0) rc = run_record_callback(r, 9);
    return rc;
}

// Empties a fixed-length text field: zeroed, or padded when the table pads
// its texts and keeps no null bits.
ZVDBRET clear_fixed_text(tagZVDBRECORD *r, ZVDBFIELDSLOT *s) {
    if (s->data) std::memset(s->data, 0, s->deflength);
    const tagZVDBTABLE *t = r->table;
    if (r->nullslot || t->padbyte == 0) return 0;
    return _zvdbSetFixStringField(s, "", 0, t->padbyte, t->delimbyte, 0);
}

// Empties one field by its type: 0, 4025 a type without an empty value, the
// primitives' codes.
ZVDBRET clear_slot(tagZVDBRECORD *r, ZVDBFIELDSLOT *s) {
    switch (s->type) {
    case ZV_NUMBER: {
        tagZVNUMBER zero{};
        zvdbLongToNumber(0, &zero);
        return _zvdbSetNumberField(s, &zero);
    }
    case ZV_FSTRING: return clear_fixed_text(r, s);
    case ZV_FPSTRING: case ZV_F2STRING: case ZV_F4STRING:
        if (s->data) std::memset(s->data, 0, s->deflength);
        s->value = s->data ? s->data + prefix_width(s->type) : nullptr;
        s->curlength = 0;
        return 0;
    case ZV_STRING: case ZV_PSTRING: case ZV_2STRING: case ZV_4STRING: case ZV_JSON:
        return _zvdbSetVarStringField(r, s, "", 0);
    default:
        if (!fixed_size_type(s->type)) return ZVDB_BAD_MODE;
        if (s->value) std::memset(s->value, 0, s->deflength);
        return 0;
    }
}

}  // namespace

ZVDBRET identity_not_null(tagZVDBRECORD *r) {
    if (!r->table->identityname || !r->identityon) return 0;
    const ZVDBFIELDSLOT *s = identity_slot(r);
    if (!s) return ZVDB_NO_FIELD_NAME;
    const ZVDBFIELDSLOT *bits = r->nullslot;
    if (bits && bits->value && uint32_t(s->index) / 8 < bits->curlength) _zvdbClearBit(bits->value, s->index);
    return 0;
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API ZVDBRET zvdbWriteRecord(ZVHANDLE record) {
    tagZVDBRECORD *r = nullptr;
    if (ZVDBRET rc = write_prologue(record, &r)) return keep_code(record, rc);
    const ZVDBRET rc = r->edited ? write_edited(r) : 0;
    // The slots are read from the image again, unless values still wait
    // for the pack (a refusal before it): reading the image would drop them.
    const ZVDBRET unpacked = r->repack ? 0 : _zvdbUpdateRecord(r, 0);
    return keep_code(record, rc ? rc : unpacked);
}

ZV_API ZVDBRET zvdbDeleteRecord(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    ZVDBRET rc = !r ? ZVDB_NO_RECORD : !r->session ? ZVDB_NO_SESSION : 0;
    if (rc == 0) rc = open_record(r, &r);
    if (rc) return keep_code(record, rc);
    if (r->isnew) return 0;
    if (_zvdbListCount(r->fieldmask) > 0) return keep_code(record, ZVDB_FIELD_MASKED);
    rc = _zvdbRecordContext(r);
    if (rc == 0) rc = variable_file(r->table) ? _zvdbDELVREC(r->table->datno) : _zvdbDELREC(r->table->datno);
    if (rc) return keep_code(record, rc);
    r->isnew = r->edited = 0;
    return 0;
}

ZV_API ZVDBRET zvdbClearRecord(ZVHANDLE record) {
    tagZVDBRECORD *r = nullptr;
    if (ZVDBRET rc = open_record(record, &r)) return keep_code(record, rc);
    if (r->buffer && r->size > 0) std::memset(r->buffer, 0, size_t(r->size));
    if (ZVDBRET rc = _zvdbUpdateRecord(r, 1)) return keep_code(record, rc);
    const tagZVDBTABLE *t = r->table;
    for (int32_t i = 0; i < r->slotcount; i++) {
        ZVDBFIELDSLOT *s = &r->slots[i];
        if (s->number < 0) continue;
        ZVDBRET rc = 0;
        if (s->type == ZV_FSTRING && !r->nullslot && t->padbyte) rc = clear_fixed_text(r, s);
        if (s->type == ZV_NUMBER) rc = clear_slot(r, s);
        if (rc) return keep_code(record, rc);
    }
    if (ZVDBFIELDSLOT *bits = r->nullslot; bits && bits->value) std::memset(bits->value, 0xFF, bits->curlength);
    r->isnew = 1;
    r->edited = 0;
    return 0;
}

ZV_API ZVDBRET zvdbClearField(ZVHANDLE record, int32_t n) {
    tagZVDBRECORD *r = nullptr;
    ZVDBFIELDSLOT *s = nullptr;
    if (ZVDBRET rc = _zvdbSetFieldCheck(record, n, &r, &s)) return keep_code(record, rc);
    const auto *f = static_cast<const tagZVDBFIELD *>(s->field);
    ZVDBRET rc = f && f->callbacks[5]
                     ? reinterpret_cast<ZVDB_FIELD_SET_CALLBACK>(f->callbacks[5])(s, nullptr, 0, 0)
                     : clear_slot(r, s);
    if (rc) return keep_code(record, rc);
    if (!r->isnew) r->edited = 1;
    const ZVDBFIELDSLOT *bits = r->nullslot;
    if (bits && bits->value && uint32_t(s->index) / 8 < bits->curlength) _zvdbSetBit(bits->value, s->index);
    return 0;
}

ZV_API ZVDBRET zvdbLockRecord(ZVHANDLE record, int32_t mode) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    if (!r->table) return keep_code(record, ZVDB_NO_TABLE);
    if (!r->table->active || r->isnew) return keep_code(record, ZVDB_NOT_ACTIVE);
    if (mode < 0 || mode >= kLockModeCount) return keep_code(record, ZVDB_BAD_LOCK_MODE);
    return keep_code(record, _zvdbLOKREC(r->table->datno, kLockModes[mode], r->position));
}

ZV_API ZVDBRET zvdbUnlockRecord(ZVHANDLE record) { return zvdbLockRecord(record, 0); }

ZV_API int zvdbGetRecordLock(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    if (!r->table || !r->table->active || r->position == 0) return 0;
    return _zvdbGETLOK(r->table->datno, r->position);
}

ZV_API int32_t zvdbGetErrorIndex(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    return r ? r->errorindex : -1;
}

}  // extern "C"

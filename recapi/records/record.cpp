// Record handles: their life (allocation, reset, duplication, free), their
// ISAM context, the prologues every record operation runs, the field
// geometry, the field mask and the default index.
//
// A record joins its table's record list at allocation and leaves it when
// freed. Its slots and image appear at its first operation and are built
// again whenever the table's layout stamp changes (recimage.cpp); reset
// returns it to the state of a new handle.
#include <cstdint>

#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/records/record.h"
#include "recapi/records/set_calls.h"
#include "recapi/records/vtype_calls.h"
#include "recapi/schema/field.h"
#include "recapi/schema/icon.h"
#include "recapi/schema/table.h"

namespace zv {

namespace {

// The field mask holds field numbers + 1 as pointer-sized words.
void *mask_word(int32_t n) { return reinterpret_cast<void *>(intptr_t(n) + 1); }

bool in_mask(const tagZVDBRECORD *r, int32_t n) { return _zvdbListIndexOf(r->fieldmask, mask_word(n)) >= 0; }

// The number of user fields of the record's table.
int32_t user_fields(const tagZVDBRECORD *r) { return r->table ? _zvdbListCount(r->table->fields) : 0; }

// Gives back the record's context slot; the engine's code of the close.
ZVDBRET release_context(tagZVDBRECORD *r) {
    if (r->icon < 0 || !r->table) return 0;
    if (ZVDBRET rc = _zvdbIconRelease(r->table, r->icon)) return rc;
    r->icon = -1;
    return 0;
}

// The slot of field n after the prologue (and a pack), or NULL with the
// code kept.
ZVDBFIELDSLOT *slot_of(ZVHANDLE record, int32_t n, bool pack) {
    tagZVDBRECORD *r = nullptr;
    ZVDBRET rc = open_record(record, &r);
    if (rc == 0 && pack) rc = _zvdbFixRecordBuffer(r, 0);
    ZVDBFIELDSLOT *s = rc ? nullptr : _zvdbGetData(r, n);
    if (!s) keep_code(record, rc ? rc : ZVDB_NO_FIELD);
    return s;
}

// Lets go of the image: an own one is freed, a lent one is left to the caller.
void drop_image(tagZVDBRECORD *r) {
    if (!lent_buffer(r)) _zvdb_free(r->buffer);
    r->buffer = nullptr;
    r->buffermode = 0;
    r->size = r->length = 0;
}

}  // namespace

tagZVDBRECORD *record_of(ZVHANDLE handle) {
    return static_cast<tagZVDBRECORD *>(_zvdbSelectHandle(handle, ZVDB_RECORD_HANDLE));
}

ZVDBRET open_record(ZVHANDLE handle, tagZVDBRECORD **out) {
    tagZVDBRECORD *r = record_of(handle);
    if (!r) return ZVDB_NO_RECORD;
    if (!r->table || !r->table->active) return ZVDB_NOT_ACTIVE;
    *out = r;
    return _zvdbInitRecord(r);
}

bool callbacks_active(const tagZVDBTABLE *t) { return t && t->tabletype == 4 && (t->openmode & 0x120) != 0x120; }

ZVDBRET run_record_callback(tagZVDBRECORD *r, int kind) {
    if (!callbacks_active(r->table) || !r->callbacks[kind]) return 0;
    return reinterpret_cast<ZVDB_RECORD_CALLBACK>(r->callbacks[kind])(r);
}

int32_t field_extras_kind(const tagZVDBFIELD *f) { return f ? f->binaryflag : 0; }

}  // namespace zv

using namespace zv;

extern "C" {

ZVDBRET _zvdbRecordContext(tagZVDBRECORD *r) {
    tagZVDBTABLE *t = r->table;
    if (!t || !t->active) return ZVDB_NOT_ACTIVE;
    if (r->icon >= 0 && t->icons && t->icons->current == r->icon) return 0;
    return _zvdbIconSwitch(t, &r->icon);
}

ZVDBRET _zvdbGetFieldCheck(ZVHANDLE record, int32_t n, tagZVDBRECORD **out, ZVDBFIELDSLOT **slot) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return ZVDB_NO_RECORD;
    if (!r->table) return ZVDB_NO_TABLE;
    if (!r->table->active) return ZVDB_NOT_ACTIVE;
    if (r->fieldmask && n != -3 && n != -2 && !in_mask(r, n)) return ZVDB_FIELD_MASKED;
    if (ZVDBRET rc = _zvdbInitRecord(r)) return rc;
    *out = r;
    *slot = _zvdbGetData(r, n);
    return *slot ? 0 : ZVDB_NO_FIELD;
}

ZVDBRET _zvdbSetFieldCheck(ZVHANDLE record, int32_t n, tagZVDBRECORD **out, ZVDBFIELDSLOT **slot) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return ZVDB_NO_RECORD;
    if (!r->table) return ZVDB_NO_TABLE;
    if (!r->table->active) return ZVDB_NOT_ACTIVE;
    if (ZVDBRET rc = _zvdbInitRecord(r)) return rc;
    *out = r;
    *slot = n >= 0 ? _zvdbGetData(r, n) : nullptr;
    return *slot ? 0 : ZVDB_NO_FIELD;
}

int _zvdbIdxno(tagZVDBRECORD *r) {
    const tagZVDBTABLE *t = r->table;
    switch (r->defindex) {
    case ZVDB_INDEX_RECBYT: return t->recbytno;
    case ZVDB_INDEX_ROWID: return t->rowidno;
    default: break;
    }
    auto *ix = static_cast<const tagZVDBINDEX *>(_zvdbListItem(t->indexes, r->defindex));
    return ix && ix->idxno >= 0 ? ix->idxno : t->datno;
}

// ---- Handle life -------------------------------------------------------------

ZV_API ZVHANDLE zvdbAllocRecord(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE), nullptr;
    // A table outlives its session only as a handle to free: the engine
    // instance its files were in went with the session.
    if (!t->session) return nullptr;
    if (t->vtkind != 0 && t->vtkind != 0x10000) return keep_code(table, ZVDB_BAD_MODE), nullptr;
    auto *r = static_cast<tagZVDBRECORD *>(_zvdb_alloc(1, sizeof(tagZVDBRECORD)));
    if (!r) return keep_code(table, ZVDB_NO_MEMORY), nullptr;
    r->kind = ZVDB_RECORD_HANDLE;
    r->session = t->session;
    r->database = t->database;
    r->table = t;
    r->isnew = 1;
    r->icon = -1;
    r->stamp = kStampRebuild;
    r->errorindex = -1;
    r->criteriaindex = ZVDB_INDEX_PHYSICAL;
    // A table opened with open bit 64 is read in physical order only.
    if (t->openmode & 64) r->defindex = ZVDB_INDEX_PHYSICAL;
    r->identityon = 1;
    r->identitystamp = kStampRebuild;
    for (int k = 0; k < kZvdbCallbackSlots; k++) r->callbacks[k] = t->callbacks[k];
    if (t->session) r->setno = ++t->session->lastset;
    ZVDBRET rc = _zvdbLinkChild(r);
    if (rc == 0 && t->vtkind == 0x10000) rc = zvdbMTRFilter(r);
    if (rc) {
        zvdbFreeRecord(r);
        return keep_code(table, rc), nullptr;
    }
    return r;
}

ZV_API ZVHANDLE zvdbFreeRecord(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return nullptr;
    if (r->slots) run_record_callback(r, 3);
    _zvdbFreeExpression(r);
    r->keyval = static_cast<unsigned char *>(_zvdb_free(r->keyval));
    zvdbEndBatch(r);
    _zvdbDropFilter(r);
    _zvdbEndFTSearch(r);
    zvdbRecordBlockingReadOff(r);
    release_context(r);
    if (r->table) _zvdbUnlinkChild(r);
    drop_image(r);
    drop_slots(r);
    zvdbRecordSetOff(r);
    zvdbRecordRangeOff(r);
    _zvdbFreeCriteria(r);
    _zvdbFreeBatchSettings(r);
    _zvdbListFree(r->fieldmask);
    _zvdb_free(r);
    return nullptr;
}

ZV_API ZVDBRET zvdbResetRecord(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    if (ZVDBRET rc = run_record_callback(r, 3)) return keep_code(record, rc);
    zvdbEndBatch(r);
    zvdbRecordRangeOff(r);
    if (ZVDBRET rc = release_context(r)) return keep_code(record, rc);
    zvdbRecordSetOff(r);
    drop_image(r);
    drop_slots(r);
    r->fixedlen = 0;
    r->defindex = 0;
    r->isnew = 1;
    r->edited = 0;
    r->errorindex = -1;
    r->stamp = kStampRebuild;
    _zvdbDropFilter(r);
    return 0;
}

ZV_API ZVDBRET zvdbResetAll(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    for (int32_t i = 0; i < _zvdbListCount(t->records); i++) {
        if (ZVDBRET rc = zvdbResetRecord(t->records->items[i])) return rc;
    }
    return 0;
}

ZV_API ZVHANDLE zvdbDuplicateRecord(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD), nullptr;
    if (!r->table || !r->table->active) return keep_code(record, ZVDB_NOT_ACTIVE), nullptr;
    auto *d = static_cast<tagZVDBRECORD *>(zvdbAllocRecord(r->table));
    if (!d) return nullptr;
    ZVDBRET rc = 0;
    if (r->icon >= 0) {
        rc = _zvdbIconAttach(r->table, r->icon);
        if (rc == 0) d->icon = r->icon;
    }
    if (rc == 0) rc = zvdbCopyRecordBuffer(r, d);
    if (rc == 0) rc = _zvdbCopyRecordSet(r, d);
    if (rc) {
        zvdbFreeRecord(d);
        return keep_code(record, rc), nullptr;
    }
    return d;
}

ZV_API ZVHANDLE zvdbGetRecordHandle(ZVHANDLE handle) { return record_of(handle); }

ZV_API ZVDBRET zvdbSwitchContext(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    return keep_code(record, _zvdbRecordContext(r));
}

ZV_API int32_t zvdbGetRecordNbr(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    return r && r->table ? _zvdbListIndexOf(r->table->records, r) : -1;
}

ZV_API ZVHANDLE zvdbGetRecord(ZVHANDLE table, int32_t n) {
    tagZVDBTABLE *t = table_of(table);
    return t ? _zvdbListItem(t->records, n) : nullptr;
}

ZV_API int zvdbIsNewRecord(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    return r ? r->isnew : 0;
}

ZV_API int zvdbIsEditedRecord(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    return r ? r->edited : 0;
}

ZV_API ZVDBRET zvdbSetNewRecord(ZVHANDLE record, int flag) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    r->isnew = flag;
    return 0;
}

ZV_API ZVDBRET zvdbSetEditedRecord(ZVHANDLE record, int flag) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    r->edited = flag;
    return 0;
}

ZV_API void *zvdbGetKeyval(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    return r ? r->keyval : nullptr;
}

ZV_API int32_t zvdbGetKeylen(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD), -1;
    if (!r->table) return keep_code(record, ZVDB_NO_TABLE), -1;
    // Physical order has no key: the engine's "no key" code.
    if (r->defindex == ZVDB_INDEX_PHYSICAL) return keep_code(record, 80), -1;
    auto *ix = static_cast<const tagZVDBINDEX *>(_zvdbListItem(r->table->indexes, r->defindex));
    return ix ? ix->keylen : -1;
}

// ---- Field geometry, mask, identity ----------------------------------------------

ZV_API int zvdbIsVariableField(ZVHANDLE record, int32_t n) {
    tagZVDBRECORD *r = nullptr;
    if (open_record(record, &r)) return 0;
    const int64_t slot = int64_t(n) + r->leadinghidden;
    return variable_table(r->table) && n >= 0 && slot >= r->firstvar && slot < r->slotcount;
}

ZV_API int32_t zvdbGetFieldOffset(ZVHANDLE record, int32_t n) {
    ZVDBFIELDSLOT *s = slot_of(record, n, true);
    return s ? int32_t(s->offset) : 0;
}

ZV_API void *zvdbGetFieldAddress(ZVHANDLE record, int32_t n) {
    ZVDBFIELDSLOT *s = slot_of(record, n, false);
    return s ? s->value : nullptr;
}

ZV_API ZVDBFIELDSLOT *zvdbGetFieldData(ZVHANDLE record, int32_t n) { return slot_of(record, n, false); }

ZV_API int32_t zvdbGetFieldDataLength(ZVHANDLE record, int32_t n) {
    ZVDBFIELDSLOT *s = slot_of(record, n, false);
    if (!s) return -1;
    auto *f = static_cast<tagZVDBFIELD *>(s->field);
    if (f && f->callbacks[6]) {
        int32_t length = 0, size = int32_t(sizeof length);
        ZVDBRET rc = reinterpret_cast<ZVDB_FIELD_GET_CALLBACK>(f->callbacks[6])(s, &length, &size, ZVDB_VALUE_SIGNED);
        return rc ? (keep_code(record, rc), -1) : length;
    }
    return int32_t(s->curlength);
}

ZV_API int32_t zvdbGetFieldSize(ZVHANDLE record, int32_t n) {
    ZVDBFIELDSLOT *s = slot_of(record, n, false);
    if (!s) return -1;
    auto *f = static_cast<tagZVDBFIELD *>(s->field);
    if (f && f->callbacks[1]) {
        int32_t length = 0;
        ZVDBRET rc = reinterpret_cast<ZVDB_FIELD_CALLBACK>(f->callbacks[1])(f, &length, 0, 0);
        return rc ? (keep_code(record, rc), -1) : length;
    }
    return int32_t(s->deflength);
}

ZV_API ZVDBRET zvdbAddToFieldMask(ZVHANDLE record, int32_t n) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    if (r->batchno) return keep_code(record, ZVDB_BATCH_ACTIVE);
    if (n < 0 || n >= user_fields(r)) return keep_code(record, ZVDB_NO_FIELD);
    if (in_mask(r, n)) return keep_code(record, ZVDB_FIELD_NAME);
    ZVDBLIST *list = r->fieldmask ? r->fieldmask : _zvdbListAlloc();
    if (!list || _zvdbListAdd(list, mask_word(n))) {
        if (list != r->fieldmask) _zvdbListFree(list);
        return keep_code(record, ZVDB_NO_MEMORY);
    }
    r->fieldmask = list;
    return 0;
}

ZV_API ZVDBRET zvdbRemoveFieldMask(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    if (r->batchno) return keep_code(record, ZVDB_BATCH_ACTIVE);
    _zvdbListFree(r->fieldmask);
    r->fieldmask = nullptr;
    return 0;
}

ZV_API int zvdbIsFieldMaskOn(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    return r && _zvdbListCount(r->fieldmask) > 0;
}

ZV_API ZVDBRET zvdbSetIdentityOn(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    r->identityon = 1;
    return 0;
}

ZV_API ZVDBRET zvdbSetIdentityOff(ZVHANDLE record) { return keep_code(record, ZVDB_NOT_SUPPORTED); }

ZV_API int zvdbIsIdentityOff(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    return r && !r->identityon;
}

ZV_API ZVDBRET zvdbGetRowid(ZVHANDLE record, ZVBIGINT *out) {
    tagZVDBRECORD *r = nullptr;
    ZVDBRET rc = open_record(record, &r);
    if (rc == 0 && !r->rowidslot) rc = ZVDB_NO_ROWID;
    if (rc == 0 && !out) rc = ZVDB_NULL_ARGUMENT;
    if (rc) return keep_code(record, rc);
    *out = ZVBIGINT(read_rowid(r->rowidslot));
    return 0;
}

ZV_API int _zvdbGetFieldAsWithCallback(ZVHANDLE record, int32_t n) {
    ZVDBFIELDSLOT *s = slot_of(record, n, false);
    auto *f = s ? static_cast<tagZVDBFIELD *>(s->field) : nullptr;
    return f && (f->callbacks[2] || f->callbacks[3]);
}

ZV_API int32_t _zvdbGetFieldDataType(ZVHANDLE record, int32_t n) {
    ZVDBFIELDSLOT *s = slot_of(record, n, false);
    return s ? int32_t(s->type) : 0;
}

ZV_API int _zvdbGetFieldDataVirtInfo(void) { return 0; }

// ---- Default index -------------------------------------------------------------

ZV_API ZVDBRET zvdbSetDefaultIndex(ZVHANDLE record, int32_t n) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    tagZVDBTABLE *t = r->table;
    if (!t) return keep_code(record, ZVDB_NO_TABLE);
    // A table opened with open bit 64 uses no index.
    if ((t->openmode & 64) && n != ZVDB_INDEX_PHYSICAL) return keep_code(record, ZVDB_NOT_SUPPORTED);
    if (n == ZVDB_INDEX_PHYSICAL) {
        if (t->vtkind == 0x10000) return keep_code(record, t->vtinfo ? _zvdbTypeIndexDefault(r) : ZVDB_BAD_MODE);
        r->defindex = n;
        return 0;
    }
    const bool special = n == ZVDB_INDEX_RECBYT || n == ZVDB_INDEX_ROWID || n == ZVDB_INDEX_FULLTEXT;
    if (!special && n != 0 && (n < 1 || n >= _zvdbListCount(t->indexes))) return keep_code(record, ZVDB_NO_INDEX_NAME);
    r->defindex = n;
    return 0;
}

ZV_API ZVDBRET zvdbSetDefaultIndexByName(ZVHANDLE record, const char *name) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD);
    if (!r->table) return keep_code(record, ZVDB_NO_TABLE);
    if (!name) return keep_code(record, ZVDB_NULL_ARGUMENT);
    int32_t n = same_name(name, "$RECBYT$") ? ZVDB_INDEX_RECBYT
                : same_name(name, "$ROWID$") ? ZVDB_INDEX_ROWID
                                             : zvdbGetIndexNbrByName(r->table, name);
    if (n < 0) return keep_code(record, ZVDB_NO_INDEX_NAME);
    return zvdbSetDefaultIndex(r, n);
}

ZV_API int32_t zvdbGetDefaultIndex(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    return r ? r->defindex : -1;
}

ZV_API const char *zvdbGetDefaultIndexName(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return keep_code(record, ZVDB_NO_RECORD), nullptr;
    tagZVDBTABLE *t = r->table;
    if (!t) return keep_code(record, ZVDB_NO_TABLE), nullptr;
    const tagZVDBINDEX *ix = r->defindex == ZVDB_INDEX_RECBYT ? t->recbytindex
                             : r->defindex == ZVDB_INDEX_ROWID
                                 ? t->rowidindex
                                 : static_cast<const tagZVDBINDEX *>(_zvdbListItem(t->indexes, r->defindex));
    return ix ? ix->name : nullptr;
}

}  // extern "C"

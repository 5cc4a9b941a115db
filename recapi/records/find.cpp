// Finds of record handles: by a key formed from the record's image or by a
// caller's target key, on the default index, reading the record found or
// answering its position only; the key moves; and the key helpers the
// other record modules share (nav.h).
//
// A find never reports a record it did not find. Equality on an index that
// allows duplicates cannot be asked of the engine directly (each key ends
// in its record's position), so it is a search for the first key at or
// above the formed key (zero suffix) followed by a comparison of the key
// found with the formed key without the suffix.
#include <cstring>

#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/records/nav.h"
#include "recapi/schema/index.h"

namespace zv {

namespace {

// The engine's code of a key asked of physical order.
constexpr int kNoKey = 80;

// The record prologue of the finds: the record with its table open and
// keyed, its context current, its slots built and its image packed.
ZVDBRET find_prologue(ZVHANDLE record, tagZVDBRECORD **out) {
    tagZVDBRECORD *r = record_of(record);
    if (!r) return ZVDB_NO_RECORD;
    if (!r->session) return ZVDB_NO_SESSION;
    if (!r->table || !r->table->active) return ZVDB_NOT_ACTIVE;
    if (!has_indexes(r->table)) return ZVDB_NO_INDEX_USE;
    ZVDBRET rc = _zvdbRecordContext(r);
    if (rc == 0) rc = _zvdbInitRecord(r);
    if (rc == 0) rc = _zvdbFixRecordBuffer(r, 0);
    *out = r;
    return rc;
}

// The key of the record's image in find mode `mode`, formed in its key
// area (with room for `keys` keys), between the callbacks of kinds 4 and 5.
ZVDBRET target_key(tagZVDBRECORD *r, int mode, int keys, KeyInfo *k, unsigned char **key) {
    ZVDBRET rc = run_record_callback(r, 4);
    if (rc == 0) rc = default_key(r, k);
    if (rc == 0) rc = key_area(r, *k, keys, key);
    if (rc == 0) rc = form_key(r, *k, *key + (keys - 1) * k->keylen, mode);
    if (rc == 0) rc = run_record_callback(r, 5);
    return rc;
}

// A key find of target on the record's default index: the position of the
// key found into *position, the key found into the first key of the key
// area. Equality on a duplicates index as the finds of records do it.
ZVDBRET key_find(tagZVDBRECORD *r, const KeyInfo &k, const unsigned char *target, uint64_t *position, int mode) {
    const bool dup_equal = mode == 0 && k.suffix > 0;
    uint64_t found = 0;
    int rc = _zvdbFINDKEY(r->table->datno, k.keyno, target, r->keyval, k.keylen, &found, dup_equal ? 4 : mode);
    if (rc == 0 && dup_equal && std::memcmp(r->keyval, target, size_t(k.keylen - k.suffix)) != 0) rc = ZV_INOT_ERR;
    if (rc == 0) *position = found;
    return rc;
}

// The key finds with a target in the record's key area (target NULL) or
// the caller's.
ZVDBRET find_key_entry(ZVHANDLE record, const void *target, uint64_t *position, int mode) {
    tagZVDBRECORD *r = nullptr;
    ZVDBRET rc = find_prologue(record, &r);
    if (rc == 0 && !position) rc = ZVDB_NULL_ARGUMENT;
    KeyInfo k{};
    unsigned char *area = nullptr;
    if (rc == 0 && target) {
        rc = default_key(r, &k);
        if (rc == 0) rc = key_area(r, k, 1, &area);
    } else if (rc == 0) {
        rc = target_key(r, mode, 2, &k, &area);
        target = area + k.keylen;
    }
    if (rc == 0) rc = key_find(r, k, static_cast<const unsigned char *>(target), position, mode);
    return keep_code(record, rc);
}

// The key moves of mode 1..4 on the default index.
ZVDBRET key_move(ZVHANDLE record, uint64_t *position, int mode) {
    tagZVDBRECORD *r = nullptr;
    ZVDBRET rc = find_prologue(record, &r);
    if (rc == 0 && !position) rc = ZVDB_NULL_ARGUMENT;
    KeyInfo k{};
    unsigned char *area = nullptr;
    if (rc == 0) rc = default_key(r, &k);
    if (rc == 0) rc = key_area(r, k, 1, &area);
    if (rc == 0) rc = _zvdbMOVKEY(r->table->datno, k.keyno, position, area, mode);
    return keep_code(record, rc);
}

}  // namespace

bool has_indexes(const tagZVDBTABLE *t) {
    return _zvdbListCount(t->indexes) + (t->hasrecbyt ? 1 : 0) + (t->hasrowid ? 1 : 0) > 0;
}

ZVDBRET default_key(const tagZVDBRECORD *r, KeyInfo *k) {
    const tagZVDBTABLE *t = r->table;
    const tagZVDBINDEX *ix = nullptr;
    switch (r->defindex) {
    case ZVDB_INDEX_PHYSICAL: return kNoKey;
    case ZVDB_INDEX_RECBYT: ix = t->recbytindex; break;
    case ZVDB_INDEX_ROWID: ix = t->rowidindex; break;
    default: ix = static_cast<const tagZVDBINDEX *>(_zvdbListItem(t->indexes, r->defindex)); break;
    }
    // No key length to search with: the full-text index (none in this
    // library), an index without files.
    if (!ix || ix->idxno < 0 || ix->keylen <= 0) return ZVDB_NO_INDEX_USE;
    k->keyno = ix->idxno;
    k->keylen = ix->keylen;
    k->suffix = ix->dupflag ? ((t->createmode & 0x100) ? 8 : 4) : 0;
    k->segments = ix->iidx ? ix->iidx->inumseg : _zvdbListCount(ix->segments);
    return 0;
}

ZVDBRET key_area(tagZVDBRECORD *r, const KeyInfo &k, int keys, unsigned char **area) {
    const int32_t need = keys * k.keylen;
    if (r->keyvallen < need) {
        auto *grown = static_cast<unsigned char *>(_zvdb_alloc(1, need));
        if (!grown) return ZVDB_NO_MEMORY;
        _zvdb_free(r->keyval);
        r->keyval = grown;
        r->keyvallen = need;
    }
    *area = r->keyval;
    return 0;
}

ZVDBRET form_key(tagZVDBRECORD *r, const KeyInfo &k, void *key, int mode) {
    const bool high = k.suffix > 0 && (mode == 2 || mode == 3);
    return _zvdbfrmkey(k.keyno, r->buffer, key, high ? 1 : 0, r->length);
}

void put_suffix(unsigned char *key, const KeyInfo &k, uint64_t position) {
    unsigned char *p = key + k.keylen;
    for (int32_t i = 0; i < k.suffix; i++, position >>= 8) *--p = uint8_t(position);
}

ZVDBRET current_key_matches(int keyno, const unsigned char *key, int32_t length) {
    const auto *current = static_cast<const unsigned char *>(GETCURK(keyno, nullptr, nullptr));
    if (!current) {
        int rc = instance_isamerr();
        if (rc == 0) rc = instance_uerr();
        return rc ? rc : ZV_INOT_ERR;
    }
    return length <= 0 || std::memcmp(current, key, size_t(length)) == 0 ? 0 : ZV_INOT_ERR;
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API ZVDBRET zvdbFindRecord(ZVHANDLE record, ZVFIND_MODE mode) {
    tagZVDBRECORD *r = nullptr;
    KeyInfo k{};
    unsigned char *key = nullptr;
    ZVDBRET rc = find_prologue(record, &r);
    if (rc == 0) rc = target_key(r, mode, 1, &k, &key);
    if (rc == 0) rc = mode == 0 && k.suffix ? find_row(r, key, 4, &k) : find_row(r, key, mode, nullptr);
    if (rc) return keep_code(record, rc);
    r->isnew = r->edited = 0;
    return 0;
}

ZV_API ZVDBRET zvdbFindTarget(ZVHANDLE record, const void *target, ZVFIND_MODE mode) {
    tagZVDBRECORD *r = record_of(record);
    ZVDBRET rc = !r ? ZVDB_NO_RECORD : !r->session ? ZVDB_NO_SESSION : open_record(r, &r);
    if (rc == 0 && !target) rc = ZVDB_NULL_ARGUMENT;
    if (rc == 0) rc = _zvdbRecordContext(r);
    if (rc == 0) rc = _zvdbFindRow(r, target, mode);
    if (rc) return keep_code(record, rc);
    r->isnew = r->edited = 0;
    return 0;
}

ZV_API ZVDBRET zvdbBuildTargetKey(ZVHANDLE record, ZVFIND_MODE mode, void *target, int32_t *length) {
    tagZVDBRECORD *r = record_of(record);
    ZVDBRET rc = !r ? ZVDB_NO_RECORD : !target || !length ? ZVDB_BAD_KIND : 0;
    if (rc == 0 && (!r->table || !r->table->active)) rc = ZVDB_NOT_ACTIVE;
    if (rc == 0 && !has_indexes(r->table)) rc = ZVDB_NO_INDEX_USE;
    if (rc == 0) rc = _zvdbInitRecord(r);
    if (rc == 0) rc = _zvdbFixRecordBuffer(r, 0);
    if (rc == 0) rc = run_record_callback(r, 4);
    KeyInfo k{};
    if (rc == 0) rc = default_key(r, &k);
    if (rc == 0 && *length < k.keylen) {
        *length = k.keylen;
        rc = ZVDB_BUFFER_SMALL;
    }
    if (rc == 0) rc = form_key(r, k, target, mode);
    if (rc == 0) rc = run_record_callback(r, 5);
    if (rc) return keep_code(record, rc);
    *length = k.keylen;
    return 0;
}

ZV_API ZVDBRET zvdbFindRowid(ZVHANDLE record, ZVBIGINT rowid, ZVFIND_MODE mode) {
    tagZVDBRECORD *r = nullptr;
    ZVDBRET rc = open_record(record, &r);
    if (rc == 0 && !r->rowidslot) rc = ZVDB_NO_ROWID;
    if (rc == 0) rc = zvdbClearRecord(r);
    if (rc) return keep_code(record, rc);
    const int32_t saved = r->defindex;
    r->defindex = ZVDB_INDEX_ROWID;
    write_rowid(r->rowidslot, uint64_t(rowid));
    rc = zvdbFindRecord(r, mode);
    r->defindex = saved;
    return rc;
}

ZV_API ZVDBRET zvdbFindKey(ZVHANDLE record, uint64_t *position, ZVFIND_MODE mode) {
    return find_key_entry(record, nullptr, position, mode);
}

ZV_API ZVDBRET zvdbFindTargetKey(ZVHANDLE record, const void *target, uint64_t *position, ZVFIND_MODE mode) {
    if (!target) return keep_code(record, ZVDB_NULL_ARGUMENT);
    return find_key_entry(record, target, position, mode);
}

ZV_API ZVDBRET zvdbFirstKey(ZVHANDLE record, uint64_t *position) { return key_move(record, position, 1); }
ZV_API ZVDBRET zvdbLastKey(ZVHANDLE record, uint64_t *position) { return key_move(record, position, 2); }
ZV_API ZVDBRET zvdbNextKey(ZVHANDLE record, uint64_t *position) { return key_move(record, position, 3); }
ZV_API ZVDBRET zvdbPrevKey(ZVHANDLE record, uint64_t *position) { return key_move(record, position, 4); }

}  // extern "C"

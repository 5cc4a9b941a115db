// Key segments: adding, inserting, moving, deleting and re-pointing the
// segments of an index, the check of a segment mode against a field type,
// and the key-segment transform blocks.
//
// Invariants:
//  1. A field segment is listed in its field's segment list exactly while
//     it is not deleted; extended and row-id segments are in none.
//  2. The index's key length is its duplicate suffix plus the key bytes of
//     every listed segment that is not deleted (8 for the row id).
//  3. A transform block read from an index keeps its locale text in
//     ksegtext, the block's own text cleared; a block set by the caller
//     keeps its text inside.
// Every failed add, insert or move leaves the index, its key length and
// the field's list as they were.
#include "recapi/schema/segment.h"

#include <algorithm>
#include <cstring>

#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/schema/field.h"
#include "recapi/schema/fieldtype.h"
#include "recapi/schema/index.h"
#include "recapi/schema/table.h"

namespace zv {

namespace {

// Byte offsets of the words of a transform block.
constexpr int kWordJsonKind = 8;    // word 2: 3 for a JSON segment
constexpr int kWordJsonMark = 12;   // word 3: 1
constexpr int kWordJsonType = 16;   // word 4: value type
constexpr int kWordJsonLen = 20;    // word 5: key length
constexpr int kFixedPart = 32;      // eight words, then the locale
constexpr int kLocaleSize = kZvdbKsegSize - kFixedPart;

// The transform block defaults: words 0, 0, -2, 1, 1, 160, 0, 0, "en_US".
constexpr int32_t kDefaultWords[8] = {0, 0, -2, 1, 1, 160, 0, 0};
constexpr char kDefaultLocale[] = "en_US";

tagZVDBSEGMENT *segment_of(ZVHANDLE h) { return static_cast<tagZVDBSEGMENT *>(zvdbGetSegmentHandle(h)); }

void put_word(unsigned char *block, int at, int32_t v) { std::memcpy(block + at, &v, sizeof v); }
int32_t get_word(const unsigned char *block, int at) {
    int32_t v;
    std::memcpy(&v, block + at, sizeof v);
    return v;
}

bool is_field(const tagZVDBFIELD *f) { return f && f != rowid_field(); }
bool on_json_field(const tagZVDBSEGMENT *s) { return is_field(s->field) && s->field->type == ZV_JSON; }

tagZVDBSEGMENT *new_segment(tagZVDBINDEX *ix) {
    auto *s = static_cast<tagZVDBSEGMENT *>(_zvdb_alloc(1, sizeof(tagZVDBSEGMENT)));
    if (!s) return nullptr;
    s->kind = ZVDB_SEGMENT_HANDLE;
    s->index = ix;
    s->mode = 12;
    s->status = 1;
    s->ksegstate = -1;
    return s;
}

// Inserts a built segment at pos (-1: appended), links it to its field and
// adds its key bytes: 0, or the list's code with everything as before.
ZVDBRET place_segment(tagZVDBINDEX *ix, tagZVDBSEGMENT *s, int32_t pos) {
    ZVDBRET rc = pos < 0 ? _zvdbListAdd(ix->segments, s) : _zvdbListInsert(ix->segments, pos, s);
    if (rc) return rc;
    if (is_field(s->field) && (rc = field_link_segment(s->field, s)) != 0) {
        _zvdbListDeleteEx(ix->segments, s);
        return rc;
    }
    ix->keylen += segment_key_bytes(s);
    return 0;
}

// Frees a segment that never was placed (its field does not list it).
void discard(tagZVDBSEGMENT *s) {
    s->field = nullptr;
    free_segment_record(s);
}

// Calls a field callback for an int32_t value: true when set (rc its result).
bool ask(tagZVDBFIELD *f, int slot, int32_t *value, ZVDBRET *rc) {
    if (!f->callbacks[slot]) return false;
    *rc = reinterpret_cast<ZVDB_FIELD_CALLBACK>(f->callbacks[slot])(f, value, 0, 0);
    return true;
}

// Adds a field segment at pos (-1: appended). With `checked` the field's
// callbacks report the type (slot 0) and the mode (slot 7), the mode is
// checked against the type unless the table is temporary, and slot 8 runs
// for mode bit 0x400. The segment, or NULL with the code kept on `handle`.
tagZVDBSEGMENT *add_field_segment(ZVHANDLE handle, ZVHANDLE field, int32_t pos, int32_t mode, bool checked) {
    tagZVDBINDEX *ix = index_of(handle);
    if (!ix) return keep_code(handle, ZVDB_NO_INDEX), nullptr;
    tagZVDBFIELD *f = field_of(field);
    if (!f || f->table != ix->table) return keep_code(handle, ZVDB_NO_FIELD_NAME), nullptr;
    if (pos >= 0 && pos >= _zvdbListCount(ix->segments)) return keep_code(handle, ZVDB_BAD_POSITION), nullptr;
    int32_t type = f->type;
    if (checked) {
        bool schema_ok = true;
        ZVDBRET rc = 0;
        if (ask(f, 0, &type, &rc)) {
            if (rc) return keep_code(handle, rc), nullptr;
            schema_ok = type == f->type;
        }
        if (ask(f, 7, &mode, &rc)) {
            if (rc) return keep_code(handle, rc), nullptr;
            schema_ok = _zvdbIsSCHSEG(mode) != 0;
        }
        if (!ix->table || !ix->table->temporary) {
            if (_zvdbValidateSegment(mode, type, f->length) || (_zvdbIsSCHSEG(mode) && !schema_ok)) {
                return keep_code(handle, ZVDB_BAD_SEGMENT), nullptr;
            }
        }
    }
    if (type == ZV_JSON) return keep_code(handle, ZVDB_NOT_SUPPORTED), nullptr;
    tagZVDBSEGMENT *s = new_segment(ix);
    if (!s) return keep_code(handle, ZVDB_NO_MEMORY), nullptr;
    s->field = f;
    s->mode = mode;
    s->length = f->length;
    if (checked && (mode & 0x400) && f->callbacks[8]) {
        ZVDBRET rc = reinterpret_cast<ZVDB_FIELD_CALLBACK>(f->callbacks[8])(f, s, 0, 0);
        if (rc) return discard(s), keep_code(handle, rc), nullptr;
    }
    if (ZVDBRET rc = place_segment(ix, s, pos)) return discard(s), keep_code(handle, rc), nullptr;
    return s;
}

// Adds an extended segment at pos (-1: appended).
tagZVDBSEGMENT *add_extended(ZVHANDLE handle, int32_t pos, int32_t offset, int32_t length, int32_t mode) {
    tagZVDBINDEX *ix = index_of(handle);
    ZVDBRET rc = 0;
    if (!ix) rc = ZVDB_NO_INDEX;
    else if (pos >= 0 && pos >= _zvdbListCount(ix->segments)) rc = ZVDB_BAD_POSITION;
    else if (pos >= 0 && !zvdbIsExtSegment(mode)) rc = ZVDB_BAD_SEGMENT;
    else if (length < 0) rc = ZVDB_BAD_ARGUMENT;
    if (rc) return keep_code(handle, rc), nullptr;
    tagZVDBSEGMENT *s = new_segment(ix);
    if (!s) return keep_code(handle, ZVDB_NO_MEMORY), nullptr;
    s->offset = offset;
    s->length = length;
    s->mode = mode;
    if ((rc = place_segment(ix, s, pos)) != 0) return discard(s), keep_code(handle, rc), nullptr;
    return s;
}

// Writes the JSON settings into the segment's block.
void set_json(tagZVDBSEGMENT *s, int32_t valuetype, int32_t length) {
    put_word(s->kseg, kWordJsonKind, 3);
    put_word(s->kseg, kWordJsonMark, 1);
    put_word(s->kseg, kWordJsonType, valuetype);
    put_word(s->kseg, kWordJsonLen, length);
    s->ksegstate = 1;
    s->ksegchanged = 1;
}

// A copy of an optional text: false on no memory.
bool copy_text(const char *text, char **out) {
    *out = text ? _zvdb_strdup(text) : nullptr;
    return !text || *out;
}

// The schema entry of an extended segment's variable-length field mode:
// the offset counts from the first variable-length entry of the schema.
const DATOBJ *variable_entry(const tagZVDBTABLE *t, int32_t offset) {
    for (int32_t i = 0; i < t->dodacount; i++) {
        if (field_type_info(t->doda[i].ftype).varlen == 0) continue;
        return offset >= 0 && offset < t->dodacount - i ? &t->doda[i + offset] : nullptr;
    }
    return nullptr;
}

}  // namespace

int32_t segment_key_bytes(const tagZVDBSEGMENT *s) { return s->field == rowid_field() ? 8 : s->length; }

ZVDBRET delete_segment(tagZVDBSEGMENT *s) {
    tagZVDBINDEX *ix = s->index;
    if (!ix) return ZVDB_NO_INDEX;
    int32_t i = _zvdbListIndexOf(ix->segments, s);
    if (i < 0) return ZVDB_NO_SEGMENT_NAME;
    if (s->status & 2) return ZVDB_SEGMENT_DELETED;
    field_unlink_segment(s->field, s);
    ix->keylen -= segment_key_bytes(s);
    if (s->status & 1) {
        _zvdbListDelete(ix->segments, i);
        free_segment_record(s);
    } else {
        s->status |= 2;
    }
    return 0;
}

void free_segment_record(tagZVDBSEGMENT *s) {
    if (!s) return;
    field_unlink_segment(s->field, s);
    _zvdb_free(s->jsonpath);
    _zvdb_free(s->ksegtext);
    _zvdb_free(s);
}

int32_t kseg_state(tagZVDBSEGMENT *s) {
    if (s->ksegstate != -1) return s->ksegstate;
    s->ksegstate = 0;
    tagZVDBINDEX *ix = s->index;
    const tagZVDBTABLE *t = ix ? ix->table : nullptr;
    if (ix && !(ix->status & 1) && t && t->active && ix->idxno >= 0) {
        int32_t n = _zvdbListIndexOf(ix->segments, s);
        if (n >= 0) _zvdbRetrieveSegmentKSEG(s, n);
    }
    return s->ksegstate;
}

}  // namespace zv

using zv::keep_code;

extern "C" {

ZVDBRET _zvdbValidateSegment(int32_t mode, int32_t type, int32_t length) {
    bool ok = true;
    switch (mode & 0x10F) {
    case 1:
        ok = type == ZV_BOOL || type == ZV_CHARU || type == ZV_INT2 || type == ZV_INT2U || type == ZV_INT4 ||
             type == ZV_INT4U || type == ZV_DATE || type == ZV_TIME || type == ZV_TIMES || type == ZV_CURRENCY ||
             type == ZV_BIGINT || type == ZV_UBIGINT || type == ZV_TIMES_MS || type == ZV_TIME_MS;
        break;
    case 3:
        ok = type == ZV_INT4 || type == ZV_INT4U || type == ZV_BIGINT || type == ZV_UBIGINT ||
             (type == ZV_ARRAY && (length == 4 || length == 8));
        break;
    case 8:
        ok = type == ZV_CHAR || type == ZV_INT2 || type == ZV_INT4 || type == ZV_MONEY || type == ZV_DATE ||
             type == ZV_TIME || type == ZV_CURRENCY || type == ZV_BIGINT || type == ZV_TIME_MS;
        break;
    case 9:
        ok = type == ZV_SFLOAT || type == ZV_DFLOAT || type == ZV_TIMES || type == ZV_TIMES_MS;
        break;
    default:
        break;
    }
    return ok ? 0 : ZVDB_BAD_SEGMENT;
}

ZVHANDLE _zvdbAddSegmentUnchecked(ZVHANDLE index, ZVHANDLE field, int32_t mode) {
    return zv::add_field_segment(index, field, -1, mode, false);
}

ZVDBRET _zvdbRetrieveSegmentKSEG(tagZVDBSEGMENT *s, int32_t number) {
    if (!s || !s->index) return ZVDB_NO_INDEX;
    if (s->ksegread) return 0;
    const tagZVDBINDEX *ix = s->index;
    if (!ix->table || !ix->table->active) return ZVDB_NOT_ACTIVE;
    unsigned char block[kZvdbKsegSize] = {};
    zv::put_word(block, 0, kZvdbKsegSize);
    zv::put_word(block, 4, 3);
    zv::schema_counts().getksegdef_calls++;
    if (ZVDBRET rc = _zvdbGETKSEGDEF(ix->idxno, number, block)) return rc;
    char text[zv::kLocaleSize + 1] = {};
    std::memcpy(text, block + zv::kFixedPart, zv::kLocaleSize);
    char *copy = _zvdb_strdup(text);
    if (!copy) return ZVDB_NO_MEMORY;
    std::memset(block + zv::kFixedPart, 0, zv::kLocaleSize);
    std::memcpy(s->kseg, block, sizeof block);
    _zvdb_free(s->ksegtext);
    s->ksegtext = copy;
    s->ksegread = 1;
    s->ksegstate = 1;
    return 0;
}

void *_zvdbBuildKSEG(const tagZVDBSEGMENT *s) {
    if (!s) return nullptr;
    if (!s->ksegtext) {
        void *copy = _zvdb_alloc(1, kZvdbKsegSize);
        if (copy) std::memcpy(copy, s->kseg, kZvdbKsegSize);
        return copy;
    }
    const size_t n = std::strlen(s->ksegtext);
    const int32_t size = std::max<int32_t>(kZvdbKsegSize, int32_t(n) + zv::kFixedPart + 1);
    auto *block = static_cast<unsigned char *>(_zvdb_alloc(1, size));
    if (!block) return nullptr;
    std::memcpy(block, s->kseg, zv::kFixedPart);
    std::memcpy(block + zv::kFixedPart, s->ksegtext, n);
    return block;
}

ZV_API int zvdbIsExtSegment(int32_t mode) {
    const int32_t low = mode & 0xF;
    return mode == 256 || low <= 5 || (low >= 8 && low <= 11) ? 1 : 0;
}

ZV_API ZVHANDLE zvdbAllocSegment(ZVHANDLE index) {
    tagZVDBINDEX *ix = zv::index_of(index);
    if (!ix) return keep_code(index, ZVDB_NO_INDEX), nullptr;
    tagZVDBSEGMENT *s = zv::new_segment(ix);
    if (!s) keep_code(index, ZVDB_NO_MEMORY);
    return s;
}

ZV_API void zvdbFreeSegment(ZVHANDLE segment) {
    if (!segment || zv::handle_kind(segment) != ZVDB_SEGMENT_HANDLE) return;
    auto *s = static_cast<tagZVDBSEGMENT *>(segment);
    // A segment still listed leaves its index first, with its key bytes.
    tagZVDBINDEX *ix = s->index;
    if (ix && _zvdbListDeleteEx(ix->segments, s) == 0 && !(s->status & 2)) ix->keylen -= zv::segment_key_bytes(s);
    zv::free_segment_record(s);
}

ZV_API ZVHANDLE zvdbAddSegment(ZVHANDLE index, ZVHANDLE field, int32_t mode) {
    tagZVDBFIELD *f = zv::field_of(field);
    if (!f) return keep_code(index, ZVDB_NO_FIELD), nullptr;
    if (f->type == ZV_JSON) return keep_code(index, ZVDB_NOT_SUPPORTED), nullptr;
    return zv::add_field_segment(index, field, -1, mode, true);
}

ZV_API ZVHANDLE zvdbInsSegment(ZVHANDLE index, int32_t n, ZVHANDLE field, int32_t mode) {
    if (!zv::index_of(index)) return keep_code(index, ZVDB_NO_INDEX), nullptr;
    tagZVDBFIELD *f = zv::field_of(field);
    if (!f) return keep_code(index, ZVDB_NO_FIELD_NAME), nullptr;
    if (f->type == ZV_JSON) return keep_code(index, ZVDB_NOT_SUPPORTED), nullptr;
    if (n < 0) return keep_code(index, ZVDB_BAD_POSITION), nullptr;
    return zv::add_field_segment(index, field, n, mode, true);
}

ZV_API ZVHANDLE zvdbAddSegmentByNbr(ZVHANDLE table, int32_t index, int32_t field, int32_t mode) {
    ZVHANDLE ix = zvdbGetIndex(table, index);
    ZVHANDLE f = ix ? zvdbGetField(table, field) : nullptr;
    return f ? zvdbAddSegment(ix, f, mode) : nullptr;
}

ZV_API ZVHANDLE zvdbAddSegmentByName(ZVHANDLE table, int32_t index, const char *field, int32_t mode) {
    ZVHANDLE ix = zvdbGetIndex(table, index);
    ZVHANDLE f = ix ? zvdbGetFieldByName(table, field) : nullptr;
    return f ? zvdbAddSegment(ix, f, mode) : nullptr;
}

ZV_API ZVHANDLE zvdbInsSegmentByNbr(ZVHANDLE table, int32_t index, int32_t n, int32_t field, int32_t mode) {
    ZVHANDLE ix = zvdbGetIndex(table, index);
    ZVHANDLE f = ix ? zvdbGetField(table, field) : nullptr;
    return f ? zvdbInsSegment(ix, n, f, mode) : nullptr;
}

ZV_API ZVHANDLE zvdbInsSegmentByName(ZVHANDLE table, int32_t index, int32_t n, const char *field, int32_t mode) {
    ZVHANDLE ix = zvdbGetIndex(table, index);
    ZVHANDLE f = ix ? zvdbGetFieldByName(table, field) : nullptr;
    return f ? zvdbInsSegment(ix, n, f, mode) : nullptr;
}

ZV_API ZVHANDLE zvdbAddSegmentEx(ZVHANDLE index, int32_t offset, int32_t length, int32_t mode) {
    return zv::add_extended(index, -1, offset, length, mode);
}

ZV_API ZVHANDLE zvdbInsSegmentEx(ZVHANDLE index, int32_t n, int32_t offset, int32_t length, int32_t mode) {
    if (n < 0) return keep_code(index, zv::index_of(index) ? ZVDB_BAD_POSITION : ZVDB_NO_INDEX), nullptr;
    return zv::add_extended(index, n, offset, length, mode);
}

ZV_API ZVHANDLE zvdbAddRowIdSegment(ZVHANDLE index) {
    tagZVDBINDEX *ix = zv::index_of(index);
    if (!ix) return keep_code(index, ZVDB_NO_INDEX), nullptr;
    tagZVDBSEGMENT *s = zv::new_segment(ix);
    if (!s) return keep_code(index, ZVDB_NO_MEMORY), nullptr;
    s->field = zv::rowid_field();
    s->length = -1;
    s->mode = 0xFFFF;
    if (ZVDBRET rc = zv::place_segment(ix, s, -1)) return zv::discard(s), keep_code(index, rc), nullptr;
    return s;
}

ZV_API ZVHANDLE zvdbAddJSONSegment(ZVHANDLE index, ZVHANDLE field, const char *keypath, int32_t valuetype,
                                   int32_t length) {
    tagZVDBFIELD *f = zv::field_of(field);
    if (!f) return keep_code(index, ZVDB_NO_FIELD), nullptr;
    if (f->type != ZV_JSON) return keep_code(index, ZVDB_NOT_SUPPORTED), nullptr;
    if (length < 0) return keep_code(index, ZVDB_BAD_ARGUMENT), nullptr;
    char *path = nullptr;
    if (!zv::copy_text(keypath, &path)) return keep_code(index, ZVDB_NO_MEMORY), nullptr;
    tagZVDBSEGMENT *s = zv::add_field_segment(index, field, -1, 12, true);
    if (!s) return _zvdb_free(path), nullptr;
    s->index->keylen += length - s->length;
    s->length = length;
    s->jsonpath = path;
    zv::set_json(s, valuetype, length);
    return s;
}

ZV_API ZVHANDLE zvdbGetSegment(ZVHANDLE index, int32_t n) {
    tagZVDBINDEX *ix = zv::index_of(index);
    ZVDBRET rc = !ix ? ZVDB_NO_INDEX : n < 0 || n >= _zvdbListCount(ix->segments) ? ZVDB_BAD_POSITION : 0;
    void *s = rc ? nullptr : _zvdbListItem(ix->segments, n);
    if (!rc && !s) rc = ZVDB_NO_SEGMENT_NAME;
    keep_code(index, rc);
    return s;
}

ZV_API ZVDBRET zvdbGetSegmentNbr(ZVHANDLE segment, int32_t *n) {
    tagZVDBSEGMENT *s = zv::segment_of(segment);
    if (!s) return keep_code(segment, ZVDB_NO_SEGMENT);
    if (!n) return keep_code(segment, ZVDB_NULL_ARGUMENT);
    if (!s->index) return keep_code(segment, ZVDB_NO_INDEX);
    int32_t i = _zvdbListIndexOf(s->index->segments, s);
    if (i < 0) return keep_code(segment, ZVDB_NO_SEGMENT_NAME);
    *n = i;
    return 0;
}

ZV_API ZVDBRET zvdbDelSegment(ZVHANDLE index, int32_t n) {
    tagZVDBINDEX *ix = zv::index_of(index);
    if (!ix) return keep_code(index, ZVDB_NO_INDEX);
    if (n < 0 || n >= _zvdbListCount(ix->segments)) return keep_code(index, ZVDB_BAD_POSITION);
    auto *s = static_cast<tagZVDBSEGMENT *>(_zvdbListItem(ix->segments, n));
    if (!s) return keep_code(index, ZVDB_NO_SEGMENT_NAME);
    return keep_code(index, zv::delete_segment(s));
}

ZV_API ZVDBRET zvdbDelSegmentEx(ZVHANDLE segment) {
    tagZVDBSEGMENT *s = zv::segment_of(segment);
    if (!s) return keep_code(segment, ZVDB_NO_SEGMENT);
    return keep_code(segment, zv::delete_segment(s));
}

ZV_API ZVDBRET zvdbMoveSegment(ZVHANDLE segment, int32_t n) {
    tagZVDBSEGMENT *s = zv::segment_of(segment);
    if (!s) return keep_code(segment, ZVDB_NO_SEGMENT);
    tagZVDBINDEX *ix = s->index;
    if (!ix) return keep_code(segment, ZVDB_NO_INDEX);
    int32_t from = _zvdbListIndexOf(ix->segments, s);
    if (from < 0) return keep_code(segment, ZVDB_NO_SEGMENT_NAME);
    if (from == n) return 0;
    if (n < 0 || n > ix->segments->count) return keep_code(segment, ZVDB_BAD_POSITION);
    if (s->status & 2) return keep_code(segment, ZVDB_SEGMENT_DELETED);
    if (s->status & 1) {
        if (ZVDBRET rc = _zvdbListMove(ix->segments, from, n)) return keep_code(segment, rc);
        s->status |= 4;
        return 0;
    }
    // An existing segment stays where it is, marked deleted, for alteration
    // to drop; a new copy takes the new position.
    tagZVDBSEGMENT *copy = zv::new_segment(ix);
    if (!copy) return keep_code(segment, ZVDB_NO_MEMORY);
    std::memcpy(copy->kseg, s->kseg, sizeof s->kseg);
    copy->field = s->field;
    copy->offset = s->offset;
    copy->length = s->length;
    copy->mode = s->mode;
    copy->ksegstate = s->ksegstate;
    copy->ksegchanged = s->ksegchanged;
    copy->ksegread = s->ksegread;
    copy->status = 1 | 4;
    if (!zv::copy_text(s->jsonpath, &copy->jsonpath) || !zv::copy_text(s->ksegtext, &copy->ksegtext)) {
        zv::discard(copy);
        return keep_code(segment, ZVDB_NO_MEMORY);
    }
    if (ZVDBRET rc = zv::place_segment(ix, copy, n == ix->segments->count ? -1 : n)) {
        zv::discard(copy);
        return keep_code(segment, rc);
    }
    zv::field_unlink_segment(s->field, s);
    ix->keylen -= zv::segment_key_bytes(s);
    s->status |= 2;
    return 0;
}

ZV_API ZVHANDLE zvdbGetSegmentField(ZVHANDLE segment) {
    tagZVDBSEGMENT *s = zv::segment_of(segment);
    if (!s) return keep_code(segment, ZVDB_NO_SEGMENT), nullptr;
    return zv::is_field(s->field) ? s->field : nullptr;
}

ZV_API const char *zvdbGetSegmentFieldName(ZVHANDLE segment) {
    tagZVDBSEGMENT *s = zv::segment_of(segment);
    return s && zv::is_field(s->field) ? s->field->name : nullptr;
}

ZV_API ZVHANDLE zvdbGetSegmentPartialField(ZVHANDLE segment) {
    tagZVDBSEGMENT *s = zv::segment_of(segment);
    if (!s) return keep_code(segment, ZVDB_NO_SEGMENT), nullptr;
    if (s->field) return zv::is_field(s->field) ? s->field : nullptr;
    const tagZVDBTABLE *t = s->index ? s->index->table : nullptr;
    if (!t || !t->doda) return nullptr;
    const DATOBJ *entry = nullptr;
    const int32_t base = s->mode & 0x10F;
    if (_zvdbIsSCHSEG(s->mode)) {
        if (s->offset >= 0 && s->offset < t->dodacount) entry = &t->doda[s->offset];
    } else if (base == 4 || base == 5) {
        entry = zv::variable_entry(t, s->offset);
    } else {
        for (int32_t i = 0; i < t->dodacount && !entry; i++) {
            if (t->doda[i].fadr == s->offset && t->doda[i].flen >= s->length) entry = &t->doda[i];
        }
    }
    return entry ? zv::find_field(t, entry->fsymb) : nullptr;
}

ZV_API int32_t zvdbGetSegmentMode(ZVHANDLE segment) {
    tagZVDBSEGMENT *s = zv::segment_of(segment);
    return s ? s->mode : 0;
}

ZV_API ZVDBRET zvdbSetSegmentMode(ZVHANDLE segment, int32_t mode) {
    tagZVDBSEGMENT *s = zv::segment_of(segment);
    if (!s) return keep_code(segment, ZVDB_NO_SEGMENT);
    if (zv::on_json_field(s)) return keep_code(segment, ZVDB_NOT_SUPPORTED);
    if (mode != s->mode) s->status |= 16;
    s->mode = mode;
    return 0;
}

ZV_API int32_t zvdbGetSegmentLength(ZVHANDLE segment) {
    tagZVDBSEGMENT *s = zv::segment_of(segment);
    if (!s) return keep_code(segment, ZVDB_NO_SEGMENT), 0;
    return s->length;
}

ZV_API uint32_t zvdbGetSegmentStatus(ZVHANDLE segment) {
    tagZVDBSEGMENT *s = zv::segment_of(segment);
    return s ? s->status : 0;
}

}  // extern "C"

namespace {

// Moves a segment to field f with the given key bytes: f lists it, the old
// field no longer does, the key length follows. 0 or 4001 (nothing changed).
ZVDBRET repoint(tagZVDBSEGMENT *s, tagZVDBFIELD *f, int32_t length) {
    if (ZVDBRET rc = zv::field_link_segment(f, s)) return rc;
    if (s->field != f) zv::field_unlink_segment(s->field, s);
    s->index->keylen += length - zv::segment_key_bytes(s);
    s->field = f;
    s->length = length;
    s->status |= 32;
    return 0;
}

// The segment and the field of a re-pointing call, or the code (kept).
ZVDBRET repoint_args(ZVHANDLE segment, ZVHANDLE field, tagZVDBSEGMENT **s, tagZVDBFIELD **f) {
    *s = zv::segment_of(segment);
    if (!*s) return keep_code(segment, ZVDB_NO_SEGMENT);
    if (!(*s)->index) return keep_code(segment, ZVDB_NO_INDEX);
    *f = zv::field_of(field);
    if (!*f) return keep_code(segment, ZVDB_NO_FIELD);
    if ((*f)->table != (*s)->index->table) return keep_code(segment, ZVDB_NO_FIELD_NAME);
    return 0;
}

}  // namespace

extern "C" {

ZV_API ZVDBRET zvdbSetSegmentField(ZVHANDLE segment, ZVHANDLE field) {
    tagZVDBSEGMENT *s = nullptr;
    tagZVDBFIELD *f = nullptr;
    if (ZVDBRET rc = repoint_args(segment, field, &s, &f)) return rc;
    if (f->type == ZV_JSON) return keep_code(segment, ZVDB_NOT_SUPPORTED);
    const bool transformed = zv::kseg_state(s) == 1;
    if (ZVDBRET rc = repoint(s, f, f->length)) return keep_code(segment, rc);
    if (transformed) {
        s->ksegstate = 0;
        s->ksegchanged = 1;
        s->ksegtext = static_cast<char *>(_zvdb_free(s->ksegtext));
    }
    return 0;
}

ZV_API ZVDBRET zvdbSetJSONSegmentField(ZVHANDLE segment, ZVHANDLE field, const char *keypath, int32_t valuetype,
                                       int32_t length) {
    tagZVDBSEGMENT *s = nullptr;
    tagZVDBFIELD *f = nullptr;
    if (ZVDBRET rc = repoint_args(segment, field, &s, &f)) return rc;
    if (f->type != ZV_JSON) return keep_code(segment, ZVDB_NOT_SUPPORTED);
    if (length < 0) return keep_code(segment, ZVDB_BAD_ARGUMENT);
    char *path = nullptr;
    if (!zv::copy_text(keypath, &path)) return keep_code(segment, ZVDB_NO_MEMORY);
    if (ZVDBRET rc = repoint(s, f, length)) return _zvdb_free(path), keep_code(segment, rc);
    _zvdb_free(s->jsonpath);
    s->jsonpath = path;
    s->ksegtext = static_cast<char *>(_zvdb_free(s->ksegtext));
    zv::set_json(s, valuetype, length);
    return 0;
}

ZV_API ZVDBRET zvdbGetJSONSegmentProperties(ZVHANDLE segment, const char **keypath, int32_t *valuetype,
                                            int32_t *length) {
    tagZVDBSEGMENT *s = zv::segment_of(segment);
    if (!s) return keep_code(segment, ZVDB_NO_SEGMENT);
    if (!zv::on_json_field(s) || zv::kseg_state(s) != 1) return keep_code(segment, ZVDB_NOT_FOUND);
    if (keypath) *keypath = s->jsonpath;
    if (valuetype) *valuetype = zv::get_word(s->kseg, zv::kWordJsonType);
    if (length) *length = zv::get_word(s->kseg, zv::kWordJsonLen);
    return 0;
}

ZV_API ZVDBRET zvdbSetKSegDefaults(void *block) {
    if (!block) return ZVDB_NULL_ARGUMENT;
    auto *b = static_cast<unsigned char *>(block);
    std::memset(b, 0, kZvdbKsegSize);
    for (int i = 0; i < 8; i++) zv::put_word(b, 4 * i, zv::kDefaultWords[i]);
    std::memcpy(b + zv::kFixedPart, zv::kDefaultLocale, sizeof zv::kDefaultLocale);
    return 0;
}

ZV_API ZVDBRET zvdbSetSegmentKSeg(ZVHANDLE segment, const void *block) {
    tagZVDBSEGMENT *s = zv::segment_of(segment);
    if (!s) return keep_code(segment, ZVDB_NO_SEGMENT);
    if (!block) return keep_code(segment, ZVDB_NULL_ARGUMENT);
    std::memcpy(s->kseg, block, kZvdbKsegSize);
    s->ksegtext = static_cast<char *>(_zvdb_free(s->ksegtext));
    s->ksegstate = 1;
    s->ksegchanged = 1;
    return 0;
}

ZV_API ZVDBRET zvdbGetSegmentKSeg(ZVHANDLE segment, void *block) {
    tagZVDBSEGMENT *s = zv::segment_of(segment);
    if (!s) return keep_code(segment, ZVDB_NO_SEGMENT);
    if (!block) return keep_code(segment, ZVDB_NULL_ARGUMENT);
    if (zv::kseg_state(s) != 1) return keep_code(segment, ZVDB_NOT_FOUND);
    auto *b = static_cast<unsigned char *>(block);
    std::memcpy(b, s->kseg, kZvdbKsegSize);
    // A block read from the index keeps its locale apart: the caller gets
    // it back in place.
    if (s->ksegtext) {
        std::memset(b + zv::kFixedPart, 0, zv::kLocaleSize);
        std::memcpy(b + zv::kFixedPart, s->ksegtext, std::min<size_t>(std::strlen(s->ksegtext), zv::kLocaleSize - 1));
    }
    return 0;
}

}  // extern "C"

// Field handles: adding, finding, moving, deleting and changing the fields
// of a table.
//
// Invariants:
//  1. A listed field's name is unique in its table ignoring letter case
//     while the table's reserved-name check is on (adds and renames refuse
//     a duplicate); with the check off (a definition rebuilt from files)
//     the files are trusted.
//  2. namehash is the hash of name, or 0 (matches any hash).
//  3. length is normalised by type (_zvdbFixFieldLength) after every set.
//  4. Each segment in a field's segment list points back at the field; the
//     list exists only while it holds a segment.
// A failed add or change leaves the table and the field as they were.
#include "recapi/schema/field.h"

#include "recapi/base/session.h"
#include "recapi/schema/fieldtype.h"
#include "recapi/schema/segment.h"
#include "recapi/schema/table.h"

namespace zv {

namespace {

SchemaCounts counts;

using FieldCallback = ZVDB_FIELD_CALLBACK;

// Calls callback slot `slot` of the field for an int32_t value, when set:
// true when it ran (rc its result).
bool ask_callback(tagZVDBFIELD *f, int slot, int32_t *value, ZVDBRET *rc) {
    if (!f->callbacks[slot]) return false;
    auto routine = reinterpret_cast<FieldCallback>(f->callbacks[slot]);
    *rc = routine(f, value, 0, 0);
    return true;
}

// A new unlisted field record with the allocation defaults; NULL on no memory.
tagZVDBFIELD *new_field(tagZVDBTABLE *t, const char *name, int32_t type, int32_t length, uint32_t hash) {
    auto *f = static_cast<tagZVDBFIELD *>(_zvdb_alloc(1, sizeof(tagZVDBFIELD)));
    if (!f) return nullptr;
    f->name = _zvdb_strdup(name);
    if (!f->name) {
        _zvdb_free(f);
        return nullptr;
    }
    f->kind = ZVDB_FIELD_HANDLE;
    f->table = t;
    f->type = type;
    f->length = _zvdbFixFieldLength(type, length);
    f->status = 1;
    f->schemapos = -1;
    f->defdatetype = 1;
    f->deftimetype = 3;
    f->binaryflag = 1;
    f->namehash = hash;
    return f;
}

// The length check of adds and length changes: 0, 4006, 4043.
ZVDBRET check_length(int32_t type, int32_t length) {
    if (length < 0) return ZVDB_BUFFER_SMALL;
    return length > field_length_limit(type) ? ZVDB_NAME_TOO_LONG : 0;
}

// Adds a field before position pos, or appended when pos is kAppend: the
// field, or NULL with the code kept on the handle.
constexpr int32_t kAppend = INT32_MIN;

tagZVDBFIELD *add_field(ZVHANDLE handle, int32_t pos, const char *name, int32_t type, int32_t length) {
    tagZVDBTABLE *t = table_of(handle);
    ZVDBRET rc = 0;
    if (!t) rc = ZVDB_NO_TABLE;
    else if (!name) rc = ZVDB_NULL_ARGUMENT;
    else if (pos != kAppend && (pos < 0 || pos >= _zvdbListCount(t->fields))) rc = ZVDB_BAD_POSITION;
    else if (t->reservedcheck && _zvdbIsReservedName(name)) rc = ZVDB_RESERVED_NAME;
    else if (t->reservedcheck && find_field(t, name)) rc = ZVDB_FIELD_NAME;
    else rc = check_length(type, length);
    if (rc) {
        keep_code(handle, rc);
        return nullptr;
    }
    tagZVDBFIELD *f = new_field(t, name, type, length, _zvdbFieldNameHash(name));
    if (!f) {
        keep_code(handle, ZVDB_NO_MEMORY);
        return nullptr;
    }
    rc = pos == kAppend ? _zvdbListAdd(t->fields, f) : _zvdbListInsert(t->fields, pos, f);
    if (rc) {
        free_field_record(f);
        keep_code(handle, rc);
        return nullptr;
    }
    return f;
}

// Replaces the field's name by a copy of `name` with its hash: 0, 4001.
ZVDBRET rename_field(tagZVDBFIELD *f, const char *name) {
    char *copy = _zvdb_strdup(name);
    if (!copy) return ZVDB_NO_MEMORY;
    _zvdb_free(f->name);
    f->name = copy;
    f->namehash = _zvdbFieldNameHash(copy);
    f->status |= 16;
    return 0;
}

// Whether renaming f to name collides with another field of its table.
bool name_taken(const tagZVDBFIELD *f, const char *name) {
    const tagZVDBTABLE *t = f->table;
    if (!t || !t->reservedcheck) return false;
    const tagZVDBFIELD *other = find_field(t, name);
    return other && other != f;
}

}  // namespace

SchemaCounts &schema_counts() { return counts; }

bool same_name(const char *a, const char *b) {
    if (!a || !b) return false;
    for (;; ++a, ++b) {
        unsigned char x = upper_ascii(static_cast<unsigned char>(*a));
        if (x != upper_ascii(static_cast<unsigned char>(*b))) return false;
        if (!x) return true;
    }
}

tagZVDBFIELD *field_of(ZVHANDLE handle) { return static_cast<tagZVDBFIELD *>(zvdbGetFieldHandle(handle)); }

tagZVDBFIELD *find_field(const tagZVDBTABLE *t, const char *name) {
    if (!t || !t->fields || !name) return nullptr;
    const uint32_t hash = _zvdbFieldNameHash(name);
    const ZVDBLIST *list = t->fields;
    for (int32_t i = 0; i < list->count; i++) {
        auto *f = static_cast<tagZVDBFIELD *>(list->items[i]);
        if (!f || (f->namehash && f->namehash != hash)) continue;
        counts.name_compares++;
        if (same_name(f->name, name)) return f;
    }
    return nullptr;
}

ZVDBRET field_link_segment(tagZVDBFIELD *f, tagZVDBSEGMENT *s) {
    ZVDBLIST *made = nullptr;
    if (!f->segments) {
        if (!(made = _zvdbListAlloc())) return ZVDB_NO_MEMORY;
        f->segments = made;
    }
    if (_zvdbListIndexOf(f->segments, s) >= 0) return 0;
    ZVDBRET rc = _zvdbListAdd(f->segments, s);
    if (rc && made) f->segments = nullptr, _zvdbListFree(made);
    return rc;
}

void field_unlink_segment(tagZVDBFIELD *f, tagZVDBSEGMENT *s) {
    if (!f || f == rowid_field() || !f->segments) return;
    int32_t i = _zvdbListIndexOf(f->segments, s);
    if (i >= 0) _zvdbListDelete(f->segments, i);
    if (f->segments->count == 0) f->segments = (_zvdbListFree(f->segments), nullptr);
}

void free_field_record(tagZVDBFIELD *f) {
    if (!f) return;
    for (int32_t i = 0; i < _zvdbListCount(f->segments); i++) {
        static_cast<tagZVDBSEGMENT *>(f->segments->items[i])->field = nullptr;
    }
    _zvdbListFree(f->segments);
    _zvdb_free(f->name);
    _zvdb_free(f->defvalue);
    _zvdb_free(f);
}

ZVDBRET field_reported_type(tagZVDBFIELD *f, int32_t *type) {
    ZVDBRET rc = 0;
    *type = f->type;
    return ask_callback(f, 0, type, &rc) ? rc : 0;
}

}  // namespace zv

using zv::field_of;
using zv::keep_code;
using zv::table_of;

extern "C" {

uint32_t _zvdbFieldNameHash(const char *name) {
    if (!name) name = "";
    uint32_t h = 0;
    uint16_t i = 0;
    for (const char *p = name; *p; ++p, ++i) h += uint32_t(zv::upper_ascii(static_cast<unsigned char>(*p))) * i;
    return h ? h : uint32_t(zv::upper_ascii(static_cast<unsigned char>(name[0]))) + 1;
}

ZV_API ZVHANDLE zvdbAllocField(ZVHANDLE table, const char *name, ZVFIELDTYPE type, int32_t length) {
    tagZVDBTABLE *t = table_of(table);
    if (!t || !name) {
        keep_code(table, t ? ZVDB_NULL_ARGUMENT : ZVDB_NO_TABLE);
        return nullptr;
    }
    tagZVDBFIELD *f = zv::new_field(t, name, type, length, _zvdbFieldNameHash(name));
    if (!f) keep_code(table, ZVDB_NO_MEMORY);
    return f;
}

ZV_API void zvdbFreeField(ZVHANDLE field) {
    if (!field || zv::handle_kind(field) != ZVDB_FIELD_HANDLE) return;
    auto *f = static_cast<tagZVDBFIELD *>(field);
    // A field still listed leaves its table first, so no list holds a freed handle.
    if (f->table && f->table->fields) _zvdbListDeleteEx(f->table->fields, f);
    zv::free_field_record(f);
}

ZV_API ZVHANDLE zvdbAddField(ZVHANDLE table, const char *name, ZVFIELDTYPE type, int32_t length) {
    return zv::add_field(table, zv::kAppend, name, type, length);
}

ZV_API ZVHANDLE zvdbInsField(ZVHANDLE table, int32_t n, const char *name, ZVFIELDTYPE type, int32_t length) {
    return zv::add_field(table, n, name, type, length);
}

ZV_API ZVHANDLE zvdbInsFieldByName(ZVHANDLE table, const char *before, const char *name, ZVFIELDTYPE type,
                                   int32_t length) {
    int32_t n = zvdbGetFieldNumber(table, before);
    return n < 0 ? nullptr : zv::add_field(table, n, name, type, length);
}

ZV_API ZVDBRET zvdbMoveField(ZVHANDLE field, int32_t n) {
    tagZVDBFIELD *f = field_of(field);
    if (!f) return keep_code(field, ZVDB_NO_FIELD);
    tagZVDBTABLE *t = f->table;
    if (!t) return keep_code(field, ZVDB_NO_TABLE);
    int32_t from = _zvdbListIndexOf(t->fields, f);
    if (from < 0) return keep_code(field, ZVDB_NO_FIELD_NAME);
    if (from == n) return 0;
    if (ZVDBRET rc = _zvdbListMove(t->fields, from, n)) return keep_code(field, rc);
    f->status |= 4;
    return 0;
}

ZV_API ZVHANDLE zvdbGetField(ZVHANDLE table, int32_t n) {
    tagZVDBTABLE *t = table_of(table);
    ZVDBRET rc = !t ? ZVDB_NO_TABLE : n < 0 || n >= _zvdbListCount(t->fields) ? ZVDB_BAD_POSITION : 0;
    void *f = rc ? nullptr : _zvdbListItem(t->fields, n);
    if (!rc && !f) rc = ZVDB_NO_FIELD_NAME;
    keep_code(table, rc);
    return f;
}

ZV_API ZVHANDLE zvdbGetFieldByName(ZVHANDLE table, const char *name) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) {
        keep_code(table, ZVDB_NO_TABLE);
        return nullptr;
    }
    tagZVDBFIELD *f = zv::find_field(t, name);
    if (!f) keep_code(table, ZVDB_NO_FIELD_NAME);
    return f;
}

ZV_API int32_t zvdbGetFieldNumber(ZVHANDLE table, const char *name) {
    tagZVDBTABLE *t = table_of(table);
    ZVDBRET rc = !t ? ZVDB_NO_TABLE : !name ? ZVDB_NULL_ARGUMENT : 0;
    tagZVDBFIELD *f = rc ? nullptr : zv::find_field(t, name);
    if (!rc && !f) rc = ZVDB_NO_FIELD_NAME;
    if (rc) {
        keep_code(table, rc);
        return -1;
    }
    return _zvdbListIndexOf(t->fields, f);
}

ZV_API int32_t zvdbGetFieldNbr(ZVHANDLE field) {
    tagZVDBFIELD *f = field_of(field);
    return f && f->table ? _zvdbListIndexOf(f->table->fields, f) : -1;
}

ZV_API ZVDBRET zvdbDelField(ZVHANDLE table, int32_t n) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    if (n < 0 || n >= _zvdbListCount(t->fields)) return keep_code(table, ZVDB_BAD_POSITION);
    auto *f = static_cast<tagZVDBFIELD *>(_zvdbListItem(t->fields, n));
    if (!f) return keep_code(table, ZVDB_NO_FIELD_NAME);
    // Every segment leaves the field's list as it is deleted (a new one
    // goes away, an existing one stays in its index marked deleted).
    while (_zvdbListCount(f->segments) > 0) {
        if (ZVDBRET rc = zv::delete_segment(static_cast<tagZVDBSEGMENT *>(f->segments->items[0]))) {
            return keep_code(table, rc);
        }
    }
    if (t->identityname && zv::same_name(t->identityname, f->name)) {
        t->identityname = static_cast<char *>(_zvdb_free(t->identityname));
        t->identityseed = t->identityincr = 0;
    }
    if (f->status & 1) {
        _zvdbListDelete(t->fields, n);
        zv::free_field_record(f);
    } else {
        f->status |= 2;
    }
    return 0;
}

ZV_API ZVDBRET zvdbDelFieldByName(ZVHANDLE table, const char *name) {
    int32_t n = zvdbGetFieldNumber(table, name);
    return n < 0 ? zvdbGetError(table) : zvdbDelField(table, n);
}

ZV_API ZVDBRET zvdbGetFieldProperties(ZVHANDLE field, const char **name, ZVFIELDTYPE *type, int32_t *length) {
    tagZVDBFIELD *f = field_of(field);
    if (!f) return keep_code(field, ZVDB_NO_FIELD);
    int32_t ftype = f->type, flength = f->length;
    ZVDBRET rc = 0;
    if (type && zv::ask_callback(f, 0, &ftype, &rc) && rc) return keep_code(field, rc);
    if (length && zv::ask_callback(f, 1, &flength, &rc) && rc) return keep_code(field, rc);
    if (name) *name = f->name;
    if (type) *type = ftype;
    if (length) *length = flength;
    return 0;
}

ZV_API ZVDBRET zvdbSetFieldProperties(ZVHANDLE field, const char *name, ZVFIELDTYPE type, int32_t length) {
    tagZVDBFIELD *f = field_of(field);
    if (!f) return keep_code(field, ZVDB_NO_FIELD);
    if (!f->table) return keep_code(field, ZVDB_NO_TABLE);
    const bool renamed = name && !zv::same_name(name, f->name);
    if (renamed && zv::name_taken(f, name)) return keep_code(field, ZVDB_FIELD_NAME);
    if (ZVDBRET rc = zv::check_length(type ? type : f->type, length)) return keep_code(field, rc);
    if (renamed) {
        if (ZVDBRET rc = zv::rename_field(f, name)) return keep_code(field, rc);
    }
    if (type && type != f->type) {
        f->type = type;
        f->status |= 32;
    }
    int32_t normalised = type ? _zvdbFixFieldLength(type, length) : length;
    if (normalised != f->length) f->status |= 64;
    f->length = normalised;
    return 0;
}

ZV_API const char *zvdbGetFieldName(ZVHANDLE field) {
    tagZVDBFIELD *f = field_of(field);
    return f ? f->name : nullptr;
}

ZV_API ZVFIELDTYPE zvdbGetFieldType(ZVHANDLE field) {
    tagZVDBFIELD *f = field_of(field);
    if (!f) return 0;
    int32_t type = 0;
    return zv::field_reported_type(f, &type) ? 0 : type;
}

ZV_API int32_t zvdbGetFieldLength(ZVHANDLE field) {
    tagZVDBFIELD *f = field_of(field);
    if (!f) return -1;
    int32_t length = f->length;
    ZVDBRET rc = 0;
    return zv::ask_callback(f, 1, &length, &rc) && rc ? -1 : length;
}

ZV_API int32_t _zvdbGetPhysicalFieldLength(ZVHANDLE field) {
    tagZVDBFIELD *f = field_of(field);
    return f ? f->length : -1;
}

ZV_API ZVFIELDTYPE _zvdbGetPhysicalFieldType(ZVHANDLE field) {
    tagZVDBFIELD *f = field_of(field);
    return f ? f->type : 0;
}

ZV_API ZVDBRET zvdbSetFieldName(ZVHANDLE field, const char *name) {
    tagZVDBFIELD *f = field_of(field);
    if (!f) return ZVDB_NO_FIELD;
    if (!name) return ZVDB_NULL_ARGUMENT;
    if (zv::same_name(name, f->name)) return 0;
    if (zv::name_taken(f, name)) return ZVDB_FIELD_NAME;
    return zv::rename_field(f, name);
}

ZV_API ZVDBRET zvdbSetFieldType(ZVHANDLE field, ZVFIELDTYPE type) {
    tagZVDBFIELD *f = field_of(field);
    if (!f) return ZVDB_NO_FIELD;
    f->type = type;
    f->length = _zvdbFixFieldLength(type, f->length);
    f->status |= 32;
    return 0;
}

ZV_API ZVDBRET zvdbSetFieldLength(ZVHANDLE field, int32_t length) {
    tagZVDBFIELD *f = field_of(field);
    if (!f) return ZVDB_NO_FIELD;
    if (ZVDBRET rc = zv::check_length(f->type, length)) return rc;
    int32_t normalised = _zvdbFixFieldLength(f->type, length);
    if (normalised != f->length) f->status |= 64;
    f->length = normalised;
    return 0;
}

ZV_API int zvdbGetFieldNullFlag(ZVHANDLE field) {
    tagZVDBFIELD *f = field_of(field);
    return f ? f->nullflag : -1;
}

ZV_API ZVDBRET zvdbSetFieldNullFlag(ZVHANDLE field, int flag) {
    tagZVDBFIELD *f = field_of(field);
    if (!f) return keep_code(field, ZVDB_NO_FIELD);
    f->nullflag = flag;
    f->status |= 128;
    return 0;
}

ZV_API int32_t zvdbGetFieldPrecision(ZVHANDLE field) {
    tagZVDBFIELD *f = field_of(field);
    if (!f) return keep_code(field, ZVDB_NO_FIELD), -1;
    if (f->precision > 0) return f->precision;
    switch (f->type) {
    case ZV_NUMBER: return 32;
    case ZV_CURRENCY: return 19;
    case ZV_MONEY: return 10;
    default: return f->length;
    }
}

ZV_API int32_t zvdbGetFieldScale(ZVHANDLE field) {
    tagZVDBFIELD *f = field_of(field);
    if (!f) return keep_code(field, ZVDB_NO_FIELD), -1;
    if (f->scale > 0) return f->scale;
    return f->type == ZV_MONEY ? 2 : f->type == ZV_CURRENCY ? 4 : 0;
}

}  // extern "C"

namespace {

// Precision and scale are kept in 16 bits: 4039 below 0, 4038 above 32767.
ZVDBRET set_attribute(ZVHANDLE field, int32_t value, int16_t tagZVDBFIELD::*member) {
    tagZVDBFIELD *f = field_of(field);
    if (!f) return keep_code(field, ZVDB_NO_FIELD);
    if (value < 0) return keep_code(field, ZVDB_UNDERFLOW);
    if (value > INT16_MAX) return keep_code(field, ZVDB_OVERFLOW);
    f->*member = int16_t(value);
    f->status |= 128;
    return 0;
}

}  // namespace

extern "C" {

ZV_API ZVDBRET zvdbSetFieldPrecision(ZVHANDLE field, int32_t precision) {
    return set_attribute(field, precision, &tagZVDBFIELD::precision);
}

ZV_API ZVDBRET zvdbSetFieldScale(ZVHANDLE field, int32_t scale) {
    return set_attribute(field, scale, &tagZVDBFIELD::scale);
}

ZV_API int32_t zvdbGetFieldBinaryFlag(ZVHANDLE field) {
    tagZVDBFIELD *f = field_of(field);
    return f ? f->binaryflag : -1;
}

ZV_API ZVDBRET zvdbSetFieldBinaryFlag(ZVHANDLE field, int32_t flag) {
    tagZVDBFIELD *f = field_of(field);
    if (!f) return ZVDB_NO_FIELD;
    if (flag < 0 || flag > 17) return ZVDB_BAD_ARGUMENT;
    if (flag != f->binaryflag) f->status |= 128;
    f->binaryflag = flag;
    return 0;
}

ZV_API int32_t zvdbGetBinaryFlag(ZVHANDLE table, int32_t n) {
    ZVHANDLE f = zvdbGetField(table, n);
    return f ? zvdbGetFieldBinaryFlag(f) : -1;
}

ZV_API ZVDBRET zvdbSetBinaryFlag(ZVHANDLE table, int32_t n, int32_t flag) {
    ZVHANDLE f = zvdbGetField(table, n);
    return f ? zvdbSetFieldBinaryFlag(f, flag) : zvdbGetError(table);
}

ZV_API uint32_t zvdbGetFieldStatus(ZVHANDLE field) {
    tagZVDBFIELD *f = field_of(field);
    return f ? f->status : 0;
}

ZV_API int zvdbIsFieldNumeric(ZVHANDLE field) {
    tagZVDBFIELD *f = field_of(field);
    return f && zv::field_type_info(zvdbGetFieldType(f)).numeric ? 1 : 0;
}

ZV_API ZVDBRET zvdbSetFieldCallback(ZVHANDLE field, int slot, ZVDB_CALLBACK routine) {
    if (!field || zv::handle_kind(field) != ZVDB_FIELD_HANDLE) return ZVDB_BAD_TAG_HANDLE;
    if (slot < 0 || slot >= kZvdbFieldCallbacks) return ZVDB_BAD_CALLBACK;
    static_cast<tagZVDBFIELD *>(field)->callbacks[slot] = routine;
    return 0;
}

ZV_API ZVHANDLE zvdbAddVirtualField(ZVHANDLE table, const char *, ZVFIELDTYPE, int32_t) {
    keep_code(table, ZVDB_NOT_SUPPORTED);
    return nullptr;
}

ZV_API ZVDBRET zvdbSetVirtualFieldClear(ZVHANDLE table, int) { return keep_code(table, ZVDB_NOT_SUPPORTED); }

}  // extern "C"

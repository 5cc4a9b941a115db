// Resource handles: one resource record of a table's data file held by the
// caller, who sets its type, number, name and data, then adds, rewrites,
// deletes, finds or walks the table's resources with it.
//
// Invariants:
//  1. name and data are owned copies (or NULL); data holds datalength
//     bytes, and is NULL exactly when datalength is 0.
//  2. locked is non-zero only after a locked read, and lockpos is then the
//     record position of the resource read; every add, update, delete,
//     unlock and unlocked read leaves the handle unlocked.
//  3. A read that fails leaves type, number, name and data as they were:
//     the record is taken apart into new copies first and only then swapped
//     in. The name is taken only within the record: a record of fewer than
//     9 bytes, or whose name has no zero byte inside it, is a damaged ring
//     entry (407).
// A code is kept in the session once the table is known; a call that finds
// no resource handle returns its code without keeping it.
#include "recapi/schema/resource.h"

#include <cstring>

#include "engine/core/bytes.h"
#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/schema/table.h"

namespace zv {

namespace {

// Bytes of the record header: type and number.
constexpr int32_t kRecordHead = 8;
// The number that asks the engine to number a new resource.
constexpr uint32_t kAssignNumber = 0xFFFFFFFFu;

// What a read looks for.
enum ReadOp { kFirst = 1, kNext = 2, kFind = 3, kFindByName = 4 };

// The resource handle, or NULL with its code in *rc: 4007 NULL, 4099 a
// handle of another kind.
tagZVDBRESOURCE *resource_handle(ZVHANDLE h, ZVDBRET *rc) {
    *rc = !h ? ZVDB_NULL_ARGUMENT : handle_kind(h) != ZVDB_RESOURCE_HANDLE ? ZVDB_BAD_RESOURCE : 0;
    return *rc ? nullptr : static_cast<tagZVDBRESOURCE *>(h);
}

// The handle and its table (instance made current): 0, or 4007, 4099, 4013.
ZVDBRET resolve(ZVHANDLE h, tagZVDBRESOURCE **r, tagZVDBTABLE **t) {
    ZVDBRET rc;
    if (!(*r = resource_handle(h, &rc))) return rc;
    *t = table_of(*r);
    return *t ? 0 : ZVDB_NO_TABLE;
}

// A key of type and number in host order, as the engine reads it.
struct Key {
    unsigned char bytes[kRecordHead];
    Key(uint32_t type, uint32_t number) {
        host::put32(bytes, type);
        host::put32(bytes + 4, number);
    }
};

// The 12-byte header of a resource and its record position.
struct Head {
    uint32_t type = 0, number = 0, length = 0;
    uint64_t pos = 0;
};

ZVDBRET read_head(int datno, const void *key, int mode, Head *h) {
    unsigned char words[12] = {};
    if (int rc = _zvdbREADRES(datno, key, words, sizeof words, mode, &h->pos)) return rc;
    h->type = host::get32(words);
    h->number = host::get32(words + 4);
    h->length = host::get32(words + 8);
    return 0;
}

// Replaces the handle's data by a copy of length bytes (none for NULL or a
// length below 1): 0, 4001 (the data as before).
ZVDBRET set_data(tagZVDBRESOURCE *r, const void *bytes, int32_t length) {
    unsigned char *copy = nullptr;
    if (bytes && length >= 1) {
        if (!(copy = static_cast<unsigned char *>(_zvdb_alloc(1, length)))) return ZVDB_NO_MEMORY;
        std::memcpy(copy, bytes, size_t(length));
    } else {
        length = 0;
    }
    _zvdb_free(r->data);
    r->data = copy;
    r->datalength = length;
    return 0;
}

// Releases the handle's lock (nothing when it holds none): 0 or the
// engine's code.
ZVDBRET release(tagZVDBRESOURCE *r, tagZVDBTABLE *t) {
    if (!r->locked) return 0;
    r->locked = 0;
    const uint64_t pos = r->lockpos;
    r->lockpos = 0;
    return _zvdbLOKREC(t->datno, 0, pos);
}

// The record of the handle: type, number, name and zero byte, and the data
// when asked; a new block and its length, NULL on no memory.
unsigned char *build_record(const tagZVDBRESOURCE *r, bool with_data, int32_t *length) {
    const size_t name = r->name ? std::strlen(r->name) : 0;
    const int64_t n = kRecordHead + int64_t(name) + 1 + (with_data ? r->datalength : 0);
    if (n > INT32_MAX) return nullptr;
    auto *rec = static_cast<unsigned char *>(_zvdb_alloc(1, int32_t(n)));
    if (!rec) return nullptr;
    host::put32(rec, r->type);
    host::put32(rec + 4, r->number);
    if (name) std::memcpy(rec + kRecordHead, r->name, name);
    if (with_data && r->datalength) std::memcpy(rec + kRecordHead + name + 1, r->data, size_t(r->datalength));
    *length = int32_t(n);
    return rec;
}

// Add and update: the bytes become the handle's data, then the record goes
// to the engine call.
ZVDBRET write_resource(ZVHANDLE h, const void *bytes, int32_t length, bool add) {
    tagZVDBRESOURCE *r;
    tagZVDBTABLE *t;
    if (ZVDBRET rc = resolve(h, &r, &t)) return rc;
    if (!bytes || length < 1) return keep_code(t, ZVDB_BAD_ARGUMENT);
    if (ZVDBRET rc = set_data(r, bytes, length)) return keep_code(t, rc);
    if (add) release(r, t);
    int32_t n = 0;
    unsigned char *rec = build_record(r, true, &n);
    if (!rec) return keep_code(t, ZVDB_NO_MEMORY);
    int rc = add ? _zvdbADDRES(t->datno, rec, n) : _zvdbUPDRES(t->datno, rec, n);
    if (rc == 0) {
        // The engine wrote the number it gave back into the record.
        if (add && r->number == kAssignNumber) r->number = host::get32(rec + 4);
        r->locked = 0;
        r->lockpos = 0;
    }
    _zvdb_free(rec);
    return keep_code(t, rc);
}

// The parts of a resource record, copied: 0, 407 (no name inside the
// record), 4001.
ZVDBRET take_apart(const unsigned char *rec, int32_t length, char **name, unsigned char **data, int32_t *datalength) {
    if (length <= kRecordHead) return 407;
    const auto *end = static_cast<const unsigned char *>(std::memchr(rec + kRecordHead, 0, size_t(length - kRecordHead)));
    if (!end) return 407;
    const int32_t namelength = int32_t(end - (rec + kRecordHead));
    const int32_t n = length - kRecordHead - namelength - 1;
    *name = _zvdb_strdup(reinterpret_cast<const char *>(rec + kRecordHead));
    *data = n > 0 ? static_cast<unsigned char *>(_zvdb_alloc(1, n)) : nullptr;
    if (!*name || (n > 0 && !*data)) {
        *name = static_cast<char *>(_zvdb_free(*name));
        *data = static_cast<unsigned char *>(_zvdb_free(*data));
        return ZVDB_NO_MEMORY;
    }
    if (n > 0) std::memcpy(*data, end + 1, size_t(n));
    *datalength = n > 0 ? n : 0;
    return 0;
}

// Reads a resource into the handle (First, Next, Find, FindByName).
ZVDBRET read_into(ZVHANDLE h, int op, uint32_t type, uint32_t number, const char *name, int lock) {
    tagZVDBRESOURCE *r;
    tagZVDBTABLE *t;
    if (ZVDBRET rc = resolve(h, &r, &t)) return rc;
    if (ZVDBRET rc = release(r, t)) return keep_code(t, rc);
    const Key next(r->type, r->number), find(type, number);
    const void *key = nullptr;
    int mode;
    switch (op) {
    case kFirst: mode = kResHeadFirst; break;
    case kNext: mode = kResHeadNext, key = next.bytes; break;
    case kFind: mode = kResHeadByKey, key = find.bytes; break;
    case kFindByName:
        if (!name) return keep_code(t, ZVDB_NULL_ARGUMENT);
        mode = kResHeadByName, key = name;
        break;
    default: return keep_code(t, 406);
    }
    Head head;
    if (int rc = read_head(t->datno, key, mode + (lock ? 1 : 0), &head)) return keep_code(t, rc);
    unsigned char *rec = nullptr;
    int32_t length = 0;
    char *newname = nullptr;
    unsigned char *newdata = nullptr;
    int32_t newlength = 0;
    ZVDBRET rc = read_resource(t->datno, head.type, head.number, &rec, &length);
    if (rc == 0) rc = take_apart(rec, length, &newname, &newdata, &newlength);
    _zvdb_free(rec);
    if (rc) {
        // The lock the header read took is given back: nothing holds it.
        if (lock) _zvdbLOKREC(t->datno, 0, head.pos);
        return keep_code(t, rc);
    }
    _zvdb_free(r->name);
    _zvdb_free(r->data);
    r->type = head.type;
    r->number = head.number;
    r->name = newname;
    r->data = newdata;
    r->datalength = newlength;
    r->locked = lock;
    r->lockpos = lock ? head.pos : 0;
    return 0;
}

}  // namespace

ZVDBRET read_resource(int datno, uint32_t type, uint32_t number, unsigned char **out, int32_t *length) {
    *out = nullptr;
    const Key key(type, number);
    Head head;
    if (int rc = read_head(datno, key.bytes, kResHeadByKey, &head)) return rc;
    if (head.length < 1 || head.length > INT32_MAX) return 407;
    auto *rec = static_cast<unsigned char *>(_zvdb_alloc(1, int32_t(head.length)));
    if (!rec) return ZVDB_NO_MEMORY;
    if (int rc = _zvdbREADRES(datno, key.bytes, rec, int32_t(head.length), kResReadByKey, nullptr)) {
        _zvdb_free(rec);
        return rc;
    }
    *out = rec;
    *length = int32_t(head.length);
    return 0;
}

}  // namespace zv

using zv::keep_code;

extern "C" {

ZV_API ZVHANDLE zvdbAllocResource(ZVHANDLE table, uint32_t type, uint32_t number, const char *name) {
    tagZVDBTABLE *t = zv::table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE), nullptr;
    auto *r = static_cast<tagZVDBRESOURCE *>(_zvdb_alloc(1, sizeof(tagZVDBRESOURCE)));
    char *copy = name ? _zvdb_strdup(name) : nullptr;
    if (!r || (name && !copy)) {
        _zvdb_free(r);
        _zvdb_free(copy);
        return keep_code(t, ZVDB_NO_MEMORY), nullptr;
    }
    r->kind = ZVDB_RESOURCE_HANDLE;
    r->table = t;
    r->type = type;
    r->number = number;
    r->name = copy;
    return r;
}

ZV_API ZVDBRET zvdbFreeResource(ZVHANDLE resource) {
    ZVDBRET rc;
    tagZVDBRESOURCE *r = zv::resource_handle(resource, &rc);
    if (!r) return ZVDB_BAD_RESOURCE;
    if (tagZVDBTABLE *t = r->locked ? zv::table_of(r) : nullptr) zv::release(r, t);
    _zvdb_free(r->data);
    _zvdb_free(r->name);
    _zvdb_free(r);
    return 0;
}

#define ZV_RESOURCE_GETTER(type, fn, expr, none)          \
    ZV_API type fn(ZVHANDLE resource) {                    \
        ZVDBRET rc;                                        \
        tagZVDBRESOURCE *r = zv::resource_handle(resource, &rc); \
        return r ? (expr) : (none);                        \
    }

ZV_RESOURCE_GETTER(uint32_t, zvdbGetResourceType, r->type, 0)
ZV_RESOURCE_GETTER(uint32_t, zvdbGetResourceNumber, r->number, 0)
ZV_RESOURCE_GETTER(const char *, zvdbGetResourceName, r->name, nullptr)
ZV_RESOURCE_GETTER(int32_t, zvdbGetResourceDataLength, r->datalength, 0)
ZV_RESOURCE_GETTER(const void *, zvdbGetResourceData, r->data, nullptr)
ZV_RESOURCE_GETTER(int, zvdbIsResourceLocked, r->locked, 0)

#undef ZV_RESOURCE_GETTER

ZV_API ZVDBRET zvdbSetResourceType(ZVHANDLE resource, uint32_t type) {
    ZVDBRET rc;
    tagZVDBRESOURCE *r = zv::resource_handle(resource, &rc);
    if (r) r->type = type;
    return rc;
}

ZV_API ZVDBRET zvdbSetResourceNumber(ZVHANDLE resource, uint32_t number) {
    ZVDBRET rc;
    tagZVDBRESOURCE *r = zv::resource_handle(resource, &rc);
    if (r) r->number = number;
    return rc;
}

ZV_API ZVDBRET zvdbSetResourceName(ZVHANDLE resource, const char *name) {
    ZVDBRET rc;
    tagZVDBRESOURCE *r = zv::resource_handle(resource, &rc);
    if (!r) return rc;
    char *copy = name ? _zvdb_strdup(name) : nullptr;
    if (name && !copy) return keep_code(r->table, ZVDB_NO_MEMORY);
    _zvdb_free(r->name);
    r->name = copy;
    return 0;
}

ZV_API ZVDBRET zvdbSetResourceData(ZVHANDLE resource, const void *bytes, int32_t length) {
    ZVDBRET rc;
    tagZVDBRESOURCE *r = zv::resource_handle(resource, &rc);
    if (!r) return rc;
    return keep_code(r->table, zv::set_data(r, bytes, length));
}

ZV_API ZVDBRET zvdbUnlockResource(ZVHANDLE resource) {
    tagZVDBRESOURCE *r;
    tagZVDBTABLE *t;
    if (ZVDBRET rc = zv::resolve(resource, &r, &t)) return rc;
    return keep_code(t, zv::release(r, t));
}

ZV_API ZVDBRET zvdbAddResource(ZVHANDLE resource, const void *bytes, int32_t length) {
    return zv::write_resource(resource, bytes, length, true);
}

ZV_API ZVDBRET zvdbUpdateResource(ZVHANDLE resource, const void *bytes, int32_t length) {
    return zv::write_resource(resource, bytes, length, false);
}

ZV_API ZVDBRET zvdbDeleteResource(ZVHANDLE resource) {
    tagZVDBRESOURCE *r;
    tagZVDBTABLE *t;
    if (ZVDBRET rc = zv::resolve(resource, &r, &t)) return rc;
    int32_t n = 0;
    unsigned char *rec = zv::build_record(r, false, &n);
    if (!rec) return keep_code(t, ZVDB_NO_MEMORY);
    int rc = _zvdbDELRES(t->datno, rec);
    _zvdb_free(rec);
    if (rc == 0) {
        r->locked = 0;
        r->lockpos = 0;
        zv::set_data(r, nullptr, 0);
    }
    return keep_code(t, rc);
}

ZV_API ZVDBRET zvdbFirstResource(ZVHANDLE resource, int lock) {
    return zv::read_into(resource, zv::kFirst, 0, 0, nullptr, lock);
}

ZV_API ZVDBRET zvdbNextResource(ZVHANDLE resource, int lock) {
    return zv::read_into(resource, zv::kNext, 0, 0, nullptr, lock);
}

ZV_API ZVDBRET zvdbFindResource(ZVHANDLE resource, uint32_t type, uint32_t number, int lock) {
    return zv::read_into(resource, zv::kFind, type, number, nullptr, lock);
}

ZV_API ZVDBRET zvdbFindResourceByName(ZVHANDLE resource, const char *name, int lock) {
    return zv::read_into(resource, zv::kFindByName, 0, 0, name, lock);
}

}  // extern "C"

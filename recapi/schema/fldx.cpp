// Field extensions and pad characters kept beside the engine's record
// schema as resources of the table's data file, and the padding and
// trimming of fixed-length strings with those characters.
//
// The engine's schema keeps only a field's name, type and length; what the
// record-level API adds per field goes into "QV!DFLD", the bytes of literal
// defaults into "QV!DFL2", and the table's pad and delimiter bytes into
// "QV!DPAD". Every integer after the 16-byte resource header is stored
// little-endian whatever the host (zv::le); the header's type and number,
// and the position words of "QV!DPAD", are in host order (zv::host).
//
// "QV!DFLD" (type 1, number 1), 20 + 32 x fields bytes:
//   OFFSET     SIZE DESCRIPTION
//        0        4 type 1 (host order)
//        4        4 number 1 (host order)
//        8        8 "QV!DFLD" and a zero byte
//       16        4 format version: 6 written; up to 2 entries per schema
//                   entry (null flag, precision, scale), 3 and 4 per field
//                   with the binary flag, 5 with the default length, 6 with
//                   the default kind
//   20 + 32k     32 entry of field k, in field-list order:
//                     +0  2 null flag       +2  2 precision
//                     +4  2 scale           +6  2 binary flag
//                     +8  4 default length (0 without a default)
//                    +12  2 default kind (0 none)
//                    +14 18 zero
//
// "QV!DFL2" (type 1, number 4), 20 + total bytes, only when a literal
// default has bytes:
//        0       16 header as above, name "QV!DFL2"
//       16        4 zero
//       20    total the bytes of every literal default, in field-list order
//
// "QV!DPAD" (type 1, number 2), 256 bytes:
//        0       16 header as above, name "QV!DPAD"
//       16        4 version 2
//       20        4 high word of the resource's record position (host order)
//       24        4 low word of that position (host order)
//       28        4 pad character (its low byte)
//       32        4 delimiter character (its low byte)
//       36      220 zero
//
// The readers never read past the resources they read: entries beyond the
// bytes of "QV!DFLD" and defaults beyond the bytes of "QV!DFL2" leave the
// fields as they were.
#include <cstring>
#include <initializer_list>

#include "engine/core/bytes.h"
#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/schema/field.h"
#include "recapi/schema/resource.h"
#include "recapi/schema/table.h"

namespace zv {

namespace {

constexpr int32_t kHeadSize = 20;
constexpr int32_t kEntrySize = 32;
constexpr int32_t kPadSize = 256;
constexpr uint32_t kOwnType = 1;
constexpr uint32_t kFldxNumber = 1, kPadNumber = 2, kDefaultsNumber = 4;
// The types under which a second read looks when type 1 is absent.
constexpr uint32_t kFldxOtherType = 0x0F000000u, kPadOtherType = 0xF0000000u;
constexpr uint32_t kFldxVersion = 6, kPadVersion = 2;

// Offsets of an entry and of "QV!DPAD".
enum : int32_t { kNull = 0, kPrecision = 2, kScale = 4, kBinary = 6, kDefLength = 8, kDefKind = 12 };
enum : int32_t { kVersionAt = 16, kPosHigh = 20, kPosLow = 24, kPadAt = 28, kDelimAt = 32 };

// The 16-byte resource header of one of the API's own resources.
void put_head(unsigned char *b, uint32_t number, const char *name) {
    host::put32(b, kOwnType);
    host::put32(b + 4, number);
    std::memcpy(b + 8, name, 8);
}

// The little-endian words of "QV!DPAD" to or from host order.
void pad_words_to_stored(unsigned char *b) {
    for (int32_t at : {kVersionAt, kPadAt, kDelimAt}) le::put32(b + at, host::get32(b + at));
}
void pad_words_to_host(unsigned char *b) {
    for (int32_t at : {kVersionAt, kPadAt, kDelimAt}) host::put32(b + at, le::get32(b + at));
}

// A "QV!DFLD" entry of a field. Precision and scale are those read back,
// so that a field whose value was never set stores its type's default.
void put_entry(unsigned char *e, tagZVDBFIELD *f) {
    le::put16(e + kNull, uint16_t(f->nullflag));
    le::put16(e + kPrecision, uint16_t(zvdbGetFieldPrecision(f)));
    le::put16(e + kScale, uint16_t(zvdbGetFieldScale(f)));
    le::put16(e + kBinary, uint16_t(f->binaryflag));
    if (f->defkind != 0) {
        le::put32(e + kDefLength, uint32_t(f->deflength));
        le::put16(e + kDefKind, uint16_t(f->defkind));
    }
}

// Bytes a field contributes to "QV!DFL2".
int32_t literal_bytes(const tagZVDBFIELD *f) { return f->defkind == 1 && f->defvalue ? f->deflength : 0; }

// Writes "QV!DFL2" with the literal defaults' bytes: 0 or the engine's code.
ZVDBRET put_defaults(tagZVDBTABLE *t, int64_t total) {
    if (total < 1) return 0;
    if (total > INT32_MAX - kHeadSize) return ZVDB_NO_MEMORY;
    auto *b = static_cast<unsigned char *>(_zvdb_alloc(1, int32_t(kHeadSize + total)));
    if (!b) return ZVDB_NO_MEMORY;
    put_head(b, kDefaultsNumber, "QV!DFL2");
    unsigned char *at = b + kHeadSize;
    for (int32_t k = 0; k < t->fields->count; k++) {
        auto *f = static_cast<tagZVDBFIELD *>(t->fields->items[k]);
        if (int32_t n = literal_bytes(f)) {
            std::memcpy(at, f->defvalue, size_t(n));
            at += n;
        }
    }
    int rc = _zvdbADDRES(t->datno, b, int32_t(kHeadSize + total));
    _zvdb_free(b);
    return rc;
}

// The first of two resources that is present: 0 with the record, or the
// second read's code.
ZVDBRET read_either(int datno, uint32_t type, uint32_t other, uint32_t number, unsigned char **b, int32_t *n) {
    if (read_resource(datno, type, number, b, n) == 0) return 0;
    return read_resource(datno, other, number, b, n);
}

// The bytes of literal defaults, taken in turn.
struct DefaultBytes {
    unsigned char *record = nullptr;  // "QV!DFL2" as read
    int32_t length = 0;
    int32_t at = kHeadSize;           // next byte to hand out

    ~DefaultBytes() { _zvdb_free(record); }
    bool present() const { return record && length > kHeadSize; }
    // Gives the field the next n bytes as its literal default; bytes that
    // the record does not hold end the handing out.
    ZVDBRET take(tagZVDBFIELD *f, int32_t n) {
        if (!present() || n < 1) return 0;
        if (n > length - at) {
            at = length;
            return 0;
        }
        ZVDBRET rc = zvdbSetFieldDefaultValue(f, record + at, n);
        at += n;
        return rc;
    }
};

// Adds or rewrites "QV!DPAD" from a record in host order, which the caller
// gets back as it gave it.
ZVDBRET write_pad(ZVHANDLE table, void *record, bool add) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    if (!record) return ZVDB_NULL_ARGUMENT;
    auto *b = static_cast<unsigned char *>(record);
    pad_words_to_stored(b);
    int rc = add ? _zvdbADDRES(t->datno, b, kPadSize) : _zvdbUPDRES(t->datno, b, kPadSize);
    pad_words_to_host(b);
    return rc;
}

// Schema entries that older versions kept entries for but that are no
// fields of the list.
bool skipped_by_old_versions(const char *name) {
    return name && (std::strcmp(name, "$DELFLD$") == 0 || std::strcmp(name, "$NULFLD$") == 0);
}

// Versions up to 2: one entry per schema entry, the hidden ones skipped.
void get_old_entries(tagZVDBTABLE *t, const unsigned char *entries, int32_t count) {
    int32_t k = 0;
    for (int32_t i = 0; t->doda && i < t->dodacount && i < count; i++) {
        if (skipped_by_old_versions(t->doda[i].fsymb)) continue;
        auto *f = static_cast<tagZVDBFIELD *>(_zvdbListItem(t->fields, k++));
        if (!f) break;
        const unsigned char *e = entries + int64_t(i) * kEntrySize;
        f->nullflag = le::get16(e + kNull);
        f->precision = int16_t(le::get16(e + kPrecision));
        f->scale = int16_t(le::get16(e + kScale));
    }
}

}  // namespace

ZVDBRET rewrite_field_attributes(tagZVDBTABLE *t) {
    const int32_t n = _zvdbListCount(t->fields);
    auto *b = static_cast<unsigned char *>(_zvdbAllocFldx(t));
    if (!b) return ZVDB_NO_MEMORY;
    // Stored entries of this version keep their default words.
    unsigned char *stored = nullptr;
    int32_t length = 0;
    const bool keep = read_resource(t->datno, kOwnType, kFldxNumber, &stored, &length) == 0 &&
                      length == kHeadSize + kEntrySize * n && le::get32(stored + kVersionAt) == kFldxVersion;
    put_head(b, kFldxNumber, "QV!DFLD");
    le::put32(b + kVersionAt, kFldxVersion);
    ZVDBRET rc = 0;
    for (int32_t k = 0; k < n && rc == 0; k++) {
        auto *f = static_cast<tagZVDBFIELD *>(t->fields->items[k]);
        unsigned char *e = b + kHeadSize + int64_t(k) * kEntrySize;
        if (!f) {
            rc = ZVDB_NO_FIELD;
        } else if (keep) {
            std::memcpy(e, stored + kHeadSize + int64_t(k) * kEntrySize, kEntrySize);
            le::put16(e + kNull, uint16_t(f->nullflag));
            le::put16(e + kPrecision, uint16_t(zvdbGetFieldPrecision(f)));
            le::put16(e + kScale, uint16_t(zvdbGetFieldScale(f)));
            le::put16(e + kBinary, uint16_t(f->binaryflag));
        } else {
            put_entry(e, f);
        }
    }
    _zvdb_free(stored);
    if (rc == 0) {
        rc = _zvdbUPDRES(t->datno, b, kHeadSize + kEntrySize * n);
        if (resource_absent(rc)) rc = _zvdbADDRES(t->datno, b, kHeadSize + kEntrySize * n);
    }
    _zvdb_free(b);
    return rc;
}

}  // namespace zv

using zv::keep_code;

extern "C" {

ZV_API void *_zvdbAllocFldx(ZVHANDLE table) {
    tagZVDBTABLE *t = zv::table_of(table);
    if (!t) return nullptr;
    const int32_t fields = _zvdbListCount(t->fields);
    const int64_t n = t->dodacount > fields ? t->dodacount : fields;
    if (n > (INT32_MAX - zv::kHeadSize) / zv::kEntrySize) return nullptr;
    return _zvdb_alloc(1, int32_t(zv::kHeadSize + zv::kEntrySize * n));
}

ZV_API ZVDBRET _zvdbPutFldx(ZVHANDLE table) {
    tagZVDBTABLE *t = zv::table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    auto *b = static_cast<unsigned char *>(_zvdbAllocFldx(t));
    if (!b) return ZVDB_NO_MEMORY;
    zv::put_head(b, zv::kFldxNumber, "QV!DFLD");
    zv::le::put32(b + zv::kVersionAt, zv::kFldxVersion);
    const int32_t n = _zvdbListCount(t->fields);
    int64_t total = 0;
    for (int32_t k = 0; k < n; k++) {
        auto *f = static_cast<tagZVDBFIELD *>(t->fields->items[k]);
        if (!f) {
            _zvdb_free(b);
            return ZVDB_NO_FIELD;
        }
        zv::put_entry(b + zv::kHeadSize + int64_t(k) * zv::kEntrySize, f);
        total += zv::literal_bytes(f);
    }
    int rc = _zvdbADDRES(t->datno, b, zv::kHeadSize + zv::kEntrySize * n);
    _zvdb_free(b);
    return rc ? rc : zv::put_defaults(t, total);
}

ZV_API ZVDBRET _zvdbGetFldx(ZVHANDLE table) {
    tagZVDBTABLE *t = zv::table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    unsigned char *b = nullptr;
    int32_t length = 0;
    if (ZVDBRET rc = zv::read_either(t->datno, zv::kOwnType, zv::kFldxOtherType, zv::kFldxNumber, &b, &length)) {
        return rc;
    }
    if (length < zv::kHeadSize) {
        _zvdb_free(b);
        return 407;
    }
    const uint32_t version = zv::le::get32(b + zv::kVersionAt);
    const unsigned char *entries = b + zv::kHeadSize;
    const int32_t count = (length - zv::kHeadSize) / zv::kEntrySize;
    if (version <= 2) {
        zv::get_old_entries(t, entries, count);
        _zvdb_free(b);
        return 0;
    }
    zv::DefaultBytes defaults;
    if (version >= 5) {
        ZVDBRET rc = zv::read_resource(t->datno, zv::kOwnType, zv::kDefaultsNumber, &defaults.record, &defaults.length);
        if (rc && !zv::resource_absent(rc)) {
            _zvdb_free(b);
            return rc;
        }
    }
    ZVDBRET rc = 0;
    for (int32_t k = 0; k < _zvdbListCount(t->fields) && k < count && rc == 0; k++) {
        auto *f = static_cast<tagZVDBFIELD *>(t->fields->items[k]);
        if (!f) {
            rc = ZVDB_NO_FIELD;
            break;
        }
        const unsigned char *e = entries + int64_t(k) * zv::kEntrySize;
        f->nullflag = zv::le::get16(e + zv::kNull);
        f->precision = int16_t(zv::le::get16(e + zv::kPrecision));
        f->scale = int16_t(zv::le::get16(e + zv::kScale));
        f->binaryflag = zv::le::get16(e + zv::kBinary);
        const int32_t deflength = version >= 5 ? int32_t(zv::le::get32(e + zv::kDefLength)) : 0;
        const uint16_t kind = version >= 6 ? zv::le::get16(e + zv::kDefKind) : (deflength ? 1 : 0);
        if (kind == 1) {
            rc = defaults.take(f, deflength);
        } else if (kind != 0) {
            rc = zvdbSetFieldDefaultValueType(f, kind);
        }
        f->status = 0;
    }
    _zvdb_free(b);
    return rc;
}

ZV_API ZVDBRET _zvdbGetPadResource(ZVHANDLE table, void *buffer, int lock) {
    tagZVDBTABLE *t = zv::table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    if (!buffer) return ZVDB_NULL_ARGUMENT;
    auto *b = static_cast<unsigned char *>(buffer);
    std::memset(b, 0, zv::kPadSize);
    const int mode = lock ? zv::kResReadByKey + 1 : zv::kResReadByKey;
    uint64_t pos = 0;
    unsigned char key[8];
    int rc = 0;
    for (uint32_t type : {zv::kOwnType, zv::kPadOtherType}) {
        zv::host::put32(key, type);
        zv::host::put32(key + 4, zv::kPadNumber);
        if ((rc = _zvdbREADRES(t->datno, key, b, zv::kPadSize, mode, &pos)) == 0) break;
    }
    if (rc) return rc;
    zv::host::put32(b + zv::kPosHigh, uint32_t(pos >> 32));
    zv::host::put32(b + zv::kPosLow, uint32_t(pos));
    zv::pad_words_to_host(b);
    return 0;
}

ZV_API ZVDBRET _zvdbAddPadResource(ZVHANDLE table, void *record) { return zv::write_pad(table, record, true); }

ZV_API ZVDBRET _zvdbUpdPadResource(ZVHANDLE table, void *record) { return zv::write_pad(table, record, false); }

ZV_API ZVDBRET _zvdbReadPadChar(ZVHANDLE table) {
    tagZVDBTABLE *t = zv::table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    unsigned char b[zv::kPadSize];
    ZVDBRET rc = _zvdbGetPadResource(t, b, 0);
    if (rc) return zv::resource_absent(rc) ? 0 : rc;
    t->padbyte = uint8_t(zv::host::get32(b + zv::kPadAt));
    t->delimbyte = uint8_t(zv::host::get32(b + zv::kDelimAt));
    return 0;
}

ZV_API ZVDBRET zvdbUpdatePadChar(ZVHANDLE table, unsigned char pad, unsigned char delimiter) {
    tagZVDBTABLE *t = zv::table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    unsigned char b[zv::kPadSize];
    ZVDBRET rc = _zvdbGetPadResource(t, b, 0);
    if (rc && !zv::resource_absent(rc)) return keep_code(table, rc);
    const bool add = rc != 0;
    if (add) {
        std::memset(b, 0, sizeof b);
        zv::put_head(b, zv::kPadNumber, "QV!DPAD");
        zv::host::put32(b + zv::kVersionAt, zv::kPadVersion);
    }
    zv::host::put32(b + zv::kPadAt, pad);
    zv::host::put32(b + zv::kDelimAt, delimiter);
    rc = add ? _zvdbAddPadResource(t, b) : _zvdbUpdPadResource(t, b);
    return keep_code(table, rc);
}

ZV_API ZVDBRET _zvdbPadField(void *buffer, int32_t size, int32_t used, unsigned char pad, unsigned char delimiter) {
    if (!buffer) return ZVDB_NULL_ARGUMENT;
    if (size < 1 || used < 0 || used >= size) return 0;
    auto *b = static_cast<unsigned char *>(buffer);
    std::memset(b + used, pad, size_t(size - 1 - used));
    b[size - 1] = delimiter;
    return 0;
}

ZV_API ZVDBRET _zvdbTrimField(void *buffer, int32_t size, int32_t *length, unsigned char pad,
                              unsigned char delimiter) {
    if (!buffer) return ZVDB_NULL_ARGUMENT;
    auto *b = static_cast<unsigned char *>(buffer);
    if (size < 1 || b[size - 1] != delimiter) return 0;
    int32_t kept = size - 1;
    while (kept > 0 && b[kept - 1] == pad) kept--;
    b[kept] = 0;
    if (length) *length = kept;
    return 0;
}

}  // extern "C"

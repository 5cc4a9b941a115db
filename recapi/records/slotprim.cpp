// Field slot value primitives (slotprim.h). Values are moved with memcpy at
// their width, so a value at any offset of the image is read and written
// without alignment assumptions.
#include "recapi/records/slotprim.h"

#include <cstring>

#include "recapi/base/session.h"
#include "recapi/records/record.h"

namespace {

// The field's value callbacks: slot 2 reads, slot 3 writes.
ZVDB_FIELD_GET_CALLBACK get_callback(const ZVDBFIELDSLOT *s) {
    auto *f = static_cast<const tagZVDBFIELD *>(s->field);
    return f ? reinterpret_cast<ZVDB_FIELD_GET_CALLBACK>(f->callbacks[2]) : nullptr;
}

ZVDB_FIELD_SET_CALLBACK set_callback(const ZVDBFIELDSLOT *s) {
    auto *f = static_cast<const tagZVDBFIELD *>(s->field);
    return f ? reinterpret_cast<ZVDB_FIELD_SET_CALLBACK>(f->callbacks[3]) : nullptr;
}

template <typename T>
T load(const unsigned char *p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
void store(unsigned char *p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// A read through the get callback when there is one: true with *rc set.
template <typename T>
bool read_by_callback(ZVDBFIELDSLOT *s, T *out, int32_t kind, ZVDBRET *rc) {
    ZVDB_FIELD_GET_CALLBACK cb = get_callback(s);
    if (!cb) return false;
    int32_t size = int32_t(sizeof(T));
    *rc = cb(s, out, &size, kind);
    return true;
}

template <typename T>
bool write_by_callback(ZVDBFIELDSLOT *s, const T *value, int32_t kind, ZVDBRET *rc) {
    ZVDB_FIELD_SET_CALLBACK cb = set_callback(s);
    if (!cb) return false;
    *rc = cb(s, value, int32_t(sizeof(T)), kind);
    return true;
}

// A value of one 8-byte family (bigint, ubigint, currency) of type `type`.
template <typename T>
ZVDBRET get_wide(ZVDBFIELDSLOT *s, uint32_t type, int32_t kind, T *out) {
    ZVDBRET rc = 0;
    if (read_by_callback(s, out, kind, &rc)) return rc;
    if (s->type != type) return ZVDB_BAD_TYPE;
    *out = s->value ? load<T>(s->value) : T{0};
    return 0;
}

template <typename T>
ZVDBRET set_wide(ZVDBFIELDSLOT *s, uint32_t type, int32_t kind, T value) {
    ZVDBRET rc = 0;
    if (write_by_callback(s, &value, kind, &rc)) return rc;
    if (s->type != type) return ZVDB_BAD_TYPE;
    if (!s->value) return ZVDB_BAD_VARDATA;
    store<T>(s->value, value);
    return 0;
}

bool text_type(uint32_t type) {
    switch (type) {
    case ZV_ARRAY: case ZV_FSTRING: case ZV_STRING: case ZV_FPSTRING: case ZV_PSTRING: case ZV_F2STRING:
    case ZV_2STRING: case ZV_F4STRING: case ZV_4STRING: case ZV_JSON:
        return true;
    default:
        return false;
    }
}

// The u32-counted form of ZV_ARRAY and ZV_2STRING (extras kind 2).
bool counted_form(const ZVDBFIELDSLOT *s) {
    return (s->type == ZV_ARRAY || s->type == ZV_2STRING) &&
           zv::field_extras_kind(static_cast<const tagZVDBFIELD *>(s->field)) == 2;
}

// Copies n bytes and a terminator, or size - 1 bytes and a terminator with
// 4052 when they do not fit; *size becomes n.
ZVDBRET copy_text(const unsigned char *from, uint32_t n, char *buffer, int32_t *size, int32_t avail) {
    if (int64_t(n) < avail) {
        std::memcpy(buffer, from, n);
        buffer[n] = 0;
        *size = int32_t(n);
        return 0;
    }
    std::memcpy(buffer, from, size_t(avail - 1));
    buffer[avail - 1] = 0;
    return ZVDB_VALUE_CUT;
}

}  // namespace

extern "C" {

ZVDBRET _zvdbGetBoolField(ZVDBFIELDSLOT *s, int32_t *out) {
    ZVDBRET rc = 0;
    if (read_by_callback(s, out, ZVDB_VALUE_BOOL, &rc)) return rc;
    *out = s->value && s->curlength > 0 && s->value[0] != 0;
    return 0;
}

ZVDBRET _zvdbSetBoolField(ZVDBFIELDSLOT *s, int32_t value) {
    ZVDBRET rc = 0;
    if (write_by_callback(s, &value, ZVDB_VALUE_BOOL, &rc)) return rc;
    if (s->type != ZV_BOOL) return ZVDB_BAD_TYPE;
    if (!s->value) return ZVDB_BAD_VARDATA;
    s->value[0] = value != 0;
    return 0;
}

ZVDBRET _zvdbGetSignedField(ZVDBFIELDSLOT *s, int32_t *out) {
    ZVDBRET rc = 0;
    if (read_by_callback(s, out, ZVDB_VALUE_SIGNED, &rc)) return rc;
    const unsigned char *p = s->value;
    switch (s->type) {
    case ZV_CHAR: *out = p ? load<int8_t>(p) : 0; return 0;
    case ZV_INT2: *out = p ? load<int16_t>(p) : 0; return 0;
    case ZV_INT4: case ZV_MONEY: *out = p ? load<int32_t>(p) : 0; return 0;
    default: return ZVDB_BAD_TYPE;
    }
}

ZVDBRET _zvdbSetSignedField(ZVDBFIELDSLOT *s, int32_t value) {
    ZVDBRET rc = 0;
    if (write_by_callback(s, &value, ZVDB_VALUE_SIGNED, &rc)) return rc;
    unsigned char *p = s->value;
    switch (s->type) {
    case ZV_CHAR: case ZV_INT2: case ZV_INT4: case ZV_MONEY: break;
    default: return ZVDB_BAD_TYPE;
    }
    if (!p) return ZVDB_BAD_VARDATA;
    if (s->type == ZV_CHAR) store(p, int8_t(value));
    else if (s->type == ZV_INT2) store(p, int16_t(value));
    else store(p, value);
    return 0;
}

ZVDBRET _zvdbGetUnsignedField(ZVDBFIELDSLOT *s, uint32_t *out) {
    ZVDBRET rc = 0;
    if (read_by_callback(s, out, ZVDB_VALUE_UNSIGNED, &rc)) return rc;
    const unsigned char *p = s->value;
    switch (s->type) {
    case ZV_CHARU: *out = p ? load<uint8_t>(p) : 0; return 0;
    case ZV_INT2U: *out = p ? load<uint16_t>(p) : 0; return 0;
    case ZV_INT4U: case ZV_DATE: case ZV_TIME: case ZV_TIME_MS: *out = p ? load<uint32_t>(p) : 0; return 0;
    default: return ZVDB_BAD_TYPE;
    }
}

ZVDBRET _zvdbSetUnsignedField(ZVDBFIELDSLOT *s, uint32_t value) {
    ZVDBRET rc = 0;
    if (write_by_callback(s, &value, ZVDB_VALUE_UNSIGNED, &rc)) return rc;
    unsigned char *p = s->value;
    switch (s->type) {
    case ZV_CHARU: case ZV_INT2U: case ZV_INT4U: case ZV_DATE: case ZV_TIME: case ZV_TIME_MS: break;
    default: return ZVDB_BAD_TYPE;
    }
    if (!p) return ZVDB_BAD_VARDATA;
    if (s->type == ZV_CHARU) store(p, uint8_t(value));
    else if (s->type == ZV_INT2U) store(p, uint16_t(value));
    else store(p, value);
    return 0;
}

ZVDBRET _zvdbGetFloatField(ZVDBFIELDSLOT *s, double *out) {
    ZVDBRET rc = 0;
    if (read_by_callback(s, out, ZVDB_VALUE_DOUBLE, &rc)) return rc;
    const unsigned char *p = s->value;
    switch (s->type) {
    case ZV_SFLOAT: *out = p ? double(load<float>(p)) : 0.0; return 0;
    case ZV_DFLOAT: case ZV_TIMES: case ZV_TIMES_MS: *out = p ? load<double>(p) : 0.0; return 0;
    default: return ZVDB_BAD_TYPE;
    }
}

ZVDBRET _zvdbSetFloatField(ZVDBFIELDSLOT *s, double value) {
    ZVDBRET rc = 0;
    if (write_by_callback(s, &value, ZVDB_VALUE_DOUBLE, &rc)) return rc;
    unsigned char *p = s->value;
    switch (s->type) {
    case ZV_SFLOAT: case ZV_DFLOAT: case ZV_TIMES: case ZV_TIMES_MS: break;
    default: return ZVDB_BAD_TYPE;
    }
    if (!p) return ZVDB_BAD_VARDATA;
    if (s->type == ZV_SFLOAT) store(p, float(value));
    else store(p, value);
    return 0;
}

ZVDBRET _zvdbGetBigIntField(ZVDBFIELDSLOT *s, ZVBIGINT *out) { return get_wide(s, ZV_BIGINT, ZVDB_VALUE_BIGINT, out); }
ZVDBRET _zvdbSetBigIntField(ZVDBFIELDSLOT *s, ZVBIGINT v) { return set_wide(s, ZV_BIGINT, ZVDB_VALUE_BIGINT, v); }
ZVDBRET _zvdbGetUnsignedBigIntField(ZVDBFIELDSLOT *s, ZVUBIGINT *out) {
    return get_wide(s, ZV_UBIGINT, ZVDB_VALUE_UBIGINT, out);
}
ZVDBRET _zvdbSetUnsignedBigIntField(ZVDBFIELDSLOT *s, ZVUBIGINT v) {
    return set_wide(s, ZV_UBIGINT, ZVDB_VALUE_UBIGINT, v);
}
ZVDBRET _zvdbGetCurrencyField(ZVDBFIELDSLOT *s, ZVCURRENCY *out) {
    return get_wide(s, ZV_CURRENCY, ZVDB_VALUE_CURRENCY, out);
}
ZVDBRET _zvdbSetCurrencyField(ZVDBFIELDSLOT *s, ZVCURRENCY v) {
    return set_wide(s, ZV_CURRENCY, ZVDB_VALUE_CURRENCY, v);
}

ZVDBRET _zvdbGetNumberField(ZVDBFIELDSLOT *s, tagZVNUMBER *out) {
    ZVDBRET rc = 0;
    if (read_by_callback(s, out, ZVDB_VALUE_NUMBER, &rc)) return rc;
    if (s->type != ZV_NUMBER) return ZVDB_BAD_TYPE;
    if (!s->value) return zvdbNumberZero(out);
    std::memcpy(out, s->value, sizeof *out);
    return 0;
}

ZVDBRET _zvdbSetNumberField(ZVDBFIELDSLOT *s, const tagZVNUMBER *value) {
    ZVDBRET rc = 0;
    if (write_by_callback(s, value, ZVDB_VALUE_NUMBER, &rc)) return rc;
    if (s->type != ZV_NUMBER) return ZVDB_BAD_TYPE;
    if (!s->value) return ZVDB_BAD_VARDATA;
    std::memcpy(s->value, value, sizeof *value);
    return 0;
}

ZVDBRET _zvdbGetStringField(ZVDBFIELDSLOT *s, char *buffer, int32_t *size) {
    const int64_t avail = size ? int64_t(*size) : int64_t(s->curlength) + 1;
    if (ZVDB_FIELD_GET_CALLBACK cb = get_callback(s)) {
        if (avail < 1) return ZVDB_BUFFER_SMALL;
        int32_t got = int32_t(avail);
        ZVDBRET rc = cb(s, buffer, &got, ZVDB_VALUE_TEXT);
        if (got < 0) got = 0;
        if (got >= avail) got = int32_t(avail - 1);
        buffer[got] = 0;
        if (size) *size = got;
        return rc;
    }
    if (!text_type(s->type)) return ZVDB_BAD_TYPE;
    if (avail < 1) return ZVDB_BUFFER_SMALL;
    int32_t delivered = 0;
    int32_t *out = size ? size : &delivered;
    if (!s->value) {
        buffer[0] = 0;
        *out = int32_t(s->curlength);
        return 0;
    }
    if (counted_form(s)) {
        if (s->curlength < 4) return ZVDB_BAD_VARDATA;
        const uint32_t n = load<uint32_t>(s->value);
        if (n > s->curlength - 4) return ZVDB_BAD_VARDATA;
        return copy_text(s->value + 4, n, buffer, out, int32_t(avail));
    }
    ZVDBRET rc = copy_text(s->value, s->curlength, buffer, out, int32_t(avail));
    if (rc == 0 && s->type == ZV_STRING && s->curlength > 0) buffer[s->curlength - 1] = 0;
    return rc;
}

ZVDBRET _zvdbSetFixStringField(ZVDBFIELDSLOT *s, const void *data, int32_t length, uint8_t pad, uint8_t delimiter,
                               int truncate) {
    if (ZVDB_FIELD_SET_CALLBACK cb = set_callback(s)) {
        const ZVDBFIXTEXT block{data, length, pad, delimiter, truncate};
        return cb(s, &block, int32_t(sizeof block), ZVDB_VALUE_FIXTEXT);
    }
    const uint32_t type = s->type;
    if (type != ZV_FSTRING && type != ZV_ARRAY && type != ZV_FPSTRING && type != ZV_F2STRING && type != ZV_F4STRING) {
        return ZVDB_BAD_TYPE;
    }
    if (length < 0 || (length > 0 && !data)) return ZVDB_NAME_TOO_LONG;
    if (!s->data) return ZVDB_BAD_VARDATA;
    const bool counted = type == ZV_ARRAY && counted_form(s);
    // Room for the value: the field less its prefix or count.
    const int w = counted ? 4 : zv::prefix_width(type);
    if (s->deflength < uint32_t(w)) return ZVDB_NAME_TOO_LONG;
    const uint32_t room = s->deflength - uint32_t(w);
    if (uint32_t(length) > room && !truncate) return ZVDB_NAME_TOO_LONG;
    const uint32_t n = uint32_t(length) < room ? uint32_t(length) : room;
    unsigned char *field = s->data;
    if (n) std::memcpy(field + w, data, n);
    if (type == ZV_FSTRING || (type == ZV_ARRAY && !counted)) {
        const uint8_t fill = type == ZV_ARRAY ? 0 : pad;
        if (n < s->deflength) {
            std::memset(field + n, fill, s->deflength - n);
            field[s->deflength - 1] = type == ZV_ARRAY ? 0 : delimiter;
        }
        return 0;
    }
    std::memset(field + w + n, 0, room - n);
    if (counted) {
        store<uint32_t>(field, n);
        return 0;
    }
    if (w == 1) field[0] = uint8_t(n);
    else if (w == 2) store<uint16_t>(field, uint16_t(n));
    else store<uint32_t>(field, n);
    s->value = field + w;
    s->curlength = n;
    return 0;
}

ZVDBRET _zvdbSetVarStringField(tagZVDBRECORD *r, ZVDBFIELDSLOT *s, const void *data, int32_t length) {
    if (ZVDB_FIELD_SET_CALLBACK cb = set_callback(s)) {
        const ZVDBVARTEXT block{data, length, r};
        return zv::keep_code(r, cb(s, &block, int32_t(sizeof block), ZVDB_VALUE_VARTEXT));
    }
    const uint32_t type = s->type;
    if (type != ZV_STRING && type != ZV_PSTRING && type != ZV_2STRING && type != ZV_4STRING && type != ZV_JSON) {
        return ZVDB_BAD_TYPE;
    }
    if (length < 0 || (length > 0 && !data)) return ZVDB_NAME_TOO_LONG;
    const auto *bytes = static_cast<const unsigned char *>(data);
    const uint8_t delim = r->table ? r->table->delimbyte : 0;
    uint32_t head = 0;  // bytes before the data: the u32 count
    uint32_t tail = 0;  // bytes after it: the delimiter
    if (type == ZV_STRING) {
        // A delimiter inside the text would end the field early when the
        // image is read again: its tail would become the next fields.
        if (length > 0 && std::memchr(bytes, delim, size_t(length))) return ZVDB_BAD_ARGUMENT;
        tail = 1;
    } else if (type == ZV_PSTRING && length > 255) {
        return ZVDB_NAME_TOO_LONG;
    } else if (type == ZV_2STRING) {
        if (length >= 65536) return ZVDB_NAME_TOO_LONG;
        if (counted_form(s)) {
            if (length > 65531) return ZVDB_NAME_TOO_LONG;
            head = 4;
        }
    }
    const int64_t stored = int64_t(head) + length + tail;
    if (stored > INT32_MAX) return ZVDB_NAME_TOO_LONG;
    unsigned char *to = s->value;
    if (stored > s->curlength || !to) {
        if (stored > 0) {
            to = static_cast<unsigned char *>(_zvdb_alloc(1, int32_t(stored)));
            if (!to) return ZVDB_NO_MEMORY;
        }
        if (s->ownsvalue) _zvdb_free(s->value);
        s->value = to;
        s->ownsvalue = to != nullptr;
    }
    if (head) store<uint32_t>(to, uint32_t(length));
    if (length) std::memcpy(to + head, bytes, size_t(length));
    if (tail) to[head + length] = delim;
    if (uint32_t(stored) != s->curlength || s->ownsvalue) r->repack = 1;
    s->curlength = uint32_t(stored);
    return 0;
}

ZVDBRET _zvdbBlobCopy(const tagZVBLOB *blob, void *destination, int32_t size) {
    if (!destination || size < 0) return ZVDB_NULL_ARGUMENT;
    std::memset(destination, 0, size_t(size));
    if (!blob || !blob->data || blob->used < 1) return 0;
    std::memcpy(destination, blob->data, size_t(blob->used < size ? blob->used : size));
    return 0;
}

}  // extern "C"

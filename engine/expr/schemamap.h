// Record schema maps: the readers of a data file's schema map and the walk
// of a record image by it (see schemamap.cpp). The file layer, key
// formation, the ISAM layer and the rebuilds all read fields through these.
#pragma once

#include <cstdint>
#include <cstring>

#include "zarvo/zarvo.h"

namespace zv {

// The record schema map of a data file, in memory (host order):
//   OFFSET SIZE FIELD
//     0    1   not read
//     1    1   alignment setting
//     2    1   field delimiter byte
//     3    1   pad byte
//     4    4   block length
//     8    4   number of fields
//    12    4   number of entries
//    16    6n  entries: length u16, type u16, repeat count u8 (the entry
//              stands for 1 + repeat fields), one byte not read
constexpr int32_t kSchemaHead = 16;
constexpr int32_t kSchemaEntry = 6;

struct SchemaField {
    uint16_t len;
    uint16_t type;
};
// Alignment, delimiter and pad byte of a schema map (defaults without one:
// 1, 0 and a blank).
int schema_align(const unsigned char *map);
int schema_delim(const unsigned char *map);
int schema_pad(const unsigned char *map);
int32_t schema_fields(const unsigned char *map);
// Entry of field `fld`: 0, or 433 when the map has no such field.
int schema_field(const unsigned char *map, uint32_t fld, SchemaField *out);

// Wide string types: 2-byte units ended by a zero unit (185), and a 16-bit
// byte count followed by 2-byte units (201).
constexpr int kWide185 = 185;
constexpr int kWide201 = 201;

// ---- The walk of a record (inline: key formation takes it per segment) ----

// The host-order word of `width` bytes (1, 2 or 4) at p.
inline uint32_t schema_prefix_value(const unsigned char *p, int width) {
    if (width == 1) return p[0];
    if (width == 2) {
        uint16_t v;
        memcpy(&v, p, 2);
        return v;
    }
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

// Width of the length prefix of a string type, or of a JSON value (a u32
// byte count, then the text); 0: none.
inline int schema_prefix_width(int type) {
    switch (type) {
    case ZV_FPSTRING: case ZV_PSTRING: return 1;
    case ZV_F2STRING: case ZV_2STRING: case kWide201: return 2;
    case ZV_F4STRING: case ZV_4STRING: case ZV_JSON: return 4;
    default: return 0;
    }
}

// Padding before a field of `type` at offset `off` under the schema's
// alignment setting.
inline int32_t schema_align_pad(int align, int type, int64_t off) {
    int m;
    if (type <= 256) {
        int k = type & 7;
        if (k == 0 || k == 2) return 0;
        m = (align - 1) & (k == 4 ? 7 : k);
    } else if (type <= 259) {
        static constexpr int kUnit[3] = {8, 4, 1};
        m = (align - 1) & (kUnit[type - 257] - 1);
    } else {
        return 0;
    }
    if (m <= 0) return 0;
    int c = int(off & 15);
    return ((m + c) & ~m) - c;
}

// Bytes of 2-byte units before a zero unit (or before the end).
inline int64_t schema_wide_bytes(const unsigned char *p, const unsigned char *end, bool *ended) {
    const unsigned char *q = p;
    while (end - q >= 2) {
        if (q[0] == 0 && q[1] == 0) {
            *ended = true;
            return q - p;
        }
        q += 2;
    }
    *ended = false;
    return q - p;
}

// Bytes a variable-length field occupies from p (end: one past the record;
// e null: a field ended by the delimiter); the result exceeds end - p when
// the field claims more than the record has.
inline int64_t schema_walk(const SchemaField *e, const unsigned char *p, const unsigned char *end, int delim) {
    int64_t left = end - p;
    if (left <= 0) return 1;
    int type = e ? e->type : -1;
    if (type == -1 || type == ZV_STRING) {
        const void *d = memchr(p, delim, size_t(left));
        return d ? static_cast<const unsigned char *>(d) - p + 1 : left;
    }
    if (type == kWide185) {
        bool ended = false;
        int64_t n = schema_wide_bytes(p, end, &ended);
        return ended ? n + 2 : left + 1;
    }
    if (int w = schema_prefix_width(type)) {
        if (left < w) return w;
        return int64_t(w) + schema_prefix_value(p, w);
    }
    return e->len;
}

// Where a field of a record lies: its offset (at or beyond reclen when the
// record does not reach it), its schema entry, and whether a
// variable-length field lies before it.
struct SchemaFieldAt {
    int64_t off;
    SchemaField e;
    bool varseen;
};
// Locates field fld of a record of reclen bytes whose fixed part is fixlen
// bytes: 0 with *out, 433 no such field, 445 a field before it runs past
// the record.
int schema_locate(const unsigned char *schema, const unsigned char *rec, int32_t reclen, int32_t fixlen,
                  uint32_t fld, SchemaFieldAt *out);

// ---- Field walks of record schemas --------------------------------------------
// zvwalkfld: the bytes a variable-length field of `type` (-1: a field ended
// by the delimiter) occupies from `start`, its prefix or terminator
// included; it never reads past `last`.
int32_t zvwalkfld(int type, const unsigned char *start, const unsigned char *last, int delim);
// Address of field fld in a record image, with its declared length and
// whether a variable-length field lies before it; null with uerr_cod 199
// (no record or schema), 433 (no such field) or 445 (the record ends
// before the field).
const unsigned char *zvfldadr(const unsigned char *rec, const unsigned char *schema, int32_t *len,
                              int *varseen, int32_t reclen, int32_t fixlen, uint32_t fld);

}  // namespace zv

// Record schema maps: reading a data file's schema map, and locating a
// field in a record image by walking the map.
//
// Inside the fixed part of a record each field is aligned (measured from
// the start of the record, so that the place of a field does not depend on
// where the caller's buffer lies) and takes its schema length. Beyond it a
// field's bytes are found by walking the record: a ZV_STRING runs to and
// past the delimiter byte, a length-prefixed type takes its prefix and the
// bytes it counts, the wide string type 185 runs past its zero unit, and
// every other type takes its schema length.
//
// Invariants:
//  1. Every scan of a record stays inside [rec, rec + reclen); the record
//     is never written.
//  2. Nothing here allocates or makes a platform call.
#include "engine/core/bytes.h"
#include "engine/expr/schemamap.h"

#include "engine/core/instance.h"

namespace zv {

int schema_align(const unsigned char *map) { return map ? map[1] : 1; }
int schema_delim(const unsigned char *map) { return map ? map[2] : 0; }
int schema_pad(const unsigned char *map) { return map ? map[3] : ' '; }
int32_t schema_fields(const unsigned char *map) { return map ? int32_t(host::get32(map + 8)) : 0; }

int schema_field(const unsigned char *map, uint32_t fld, SchemaField *out) {
    int32_t nf = int32_t(host::get32(map + 8));
    int32_t ne = int32_t(host::get32(map + 12));
    if (nf < 0 || ne < 0 || fld >= uint32_t(nf)) return 433;
    const unsigned char *e = nullptr;
    if (ne == nf) {
        e = map + kSchemaHead + kSchemaEntry * fld;
    } else {
        uint32_t first = 0;
        for (int32_t i = 0; i < ne; i++) {
            const unsigned char *x = map + kSchemaHead + kSchemaEntry * i;
            uint32_t count = 1u + x[4];
            if (fld < first + count) {
                e = x;
                break;
            }
            first += count;
        }
        if (!e) return 433;
    }
    out->len = host::get16(e);
    out->type = host::get16(e + 2);
    return 0;
}

int schema_locate(const unsigned char *schema, const unsigned char *rec, int32_t reclen, int32_t fixlen,
                  uint32_t fld, SchemaFieldAt *out) {
    int32_t nf = schema_fields(schema);
    if (nf <= 0 || fld >= uint32_t(nf)) return 433;
    int align = schema_align(schema);
    int delim = schema_delim(schema);
    uint32_t ne;
    memcpy(&ne, schema + 12, 4);
    int64_t p = 0;
    uint32_t j = 0;
    bool var = false;
    for (uint32_t i = 0; i < ne; i++) {
        const unsigned char *x = schema + kSchemaHead + kSchemaEntry * i;
        SchemaField e;
        memcpy(&e.len, x, 2);
        memcpy(&e.type, x + 2, 2);
        for (uint32_t c = 0; c <= x[4]; c++, j++) {
            if (p < fixlen) p += schema_align_pad(align, e.type, p);
            if (j == fld) {
                *out = SchemaFieldAt{p, e, var};
                return 0;
            }
            if (p < fixlen) {
                p += e.len;
                continue;
            }
            var = true;
            if (p >= reclen) continue;
            p += schema_walk(&e, rec + p, rec + reclen, delim);
            if (p > reclen) return 445;
        }
    }
    return 433;
}

int32_t zvwalkfld(int type, const unsigned char *start, const unsigned char *last, int delim) {
    if (!start || !last || last < start) return 0;
    SchemaField e{0, uint16_t(type)};
    int64_t n = schema_walk(type < 0 ? nullptr : &e, start, last + 1, delim);
    return n > 0x7FFFFFFF ? 0x7FFFFFFF : int32_t(n);
}

const unsigned char *zvfldadr(const unsigned char *rec, const unsigned char *schema, int32_t *len, int *varseen,
                              int32_t reclen, int32_t fixlen, uint32_t fld) {
    if (!rec || !schema) {
        set_uerr(199);
        return nullptr;
    }
    SchemaFieldAt at;
    int rc = schema_locate(schema, rec, reclen, fixlen, fld, &at);
    if (!rc && at.off >= reclen) rc = 445;
    if (rc) {
        set_uerr(rc);
        return nullptr;
    }
    if (len) *len = at.e.len;
    if (varseen) *varseen = at.varseen;
    return rec + at.off;
}

}  // namespace zv

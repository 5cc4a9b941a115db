// Debug dumps of record handles into the trace file: the result of a call
// with the record's state and the first bytes of its image, and the values
// of its fields. Each dump opens the trace file, appends and closes it.
// Records of the dictionary table "zvdbdict" are never dumped.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "recapi/base/utility.h"
#include "recapi/records/record.h"
#include "recapi/records/slotprim.h"
#include "recapi/schema/field.h"

using namespace zv;

namespace {

// The record to dump, or NULL for none or a record of "zvdbdict".
tagZVDBRECORD *dumped(ZVHANDLE record) {
    tagZVDBRECORD *r = record_of(record);
    if (!r || (r->table && same_name(r->table->name, "zvdbdict"))) return nullptr;
    return r;
}

// Rows of 16 bytes of the image, up to 64 bytes and the data length.
void dump_image(FILE *f, const tagZVDBRECORD *r) {
    const int32_t shown = r->length < 64 ? r->length : 64;
    const int32_t have = r->buffer ? (r->size < shown ? r->size : shown) : 0;
    for (int32_t row = 0; row < shown; row += 16) {
        std::fprintf(f, "%04x ", unsigned(row));
        for (int32_t i = row; i < row + 16; i++) {
            if (i < have) std::fprintf(f, "%02x ", r->buffer[i]);
            else std::fputs("   ", f);
        }
        for (int32_t i = row; i < row + 16 && i < have; i++) {
            const unsigned char c = r->buffer[i];
            std::fputc(c >= 32 && c <= 126 ? c : '.', f);
        }
        std::fputc('\n', f);
    }
}

// At most 64 characters of a text value, quoted.
void dump_text(FILE *f, const ZVDBFIELDSLOT &s) {
    const uint32_t n = s.value ? s.curlength : 0;
    std::fprintf(f, "Length: %u Data: \"", n);
    if (n) std::fwrite(s.value, 1, n < 64 ? n : 64, f);
    std::fputs(n > 64 ? " ...\"" : "\"", f);
}

// At most 64 bytes of a binary value in hex.
void dump_hex(FILE *f, const ZVDBFIELDSLOT &s) {
    const uint32_t n = s.value ? s.curlength : 0;
    std::fprintf(f, "Length: %u Data: ", n);
    for (uint32_t i = 0; i < n && i < 64; i++) std::fprintf(f, "%02x", s.value[i]);
    if (n > 64) std::fputs(" ...", f);
}

void dump_value(FILE *f, ZVDBFIELDSLOT &s) {
    int32_t i = 0;
    uint32_t u = 0;
    double d = 0;
    int64_t b = 0;
    uint64_t ub = 0;
    int y = 0, mo = 0, dd = 0, h = 0, mi = 0, sec = 0, ms = 0;
    char text[130];
    tagZVNUMBER num;
    switch (s.type) {
    case ZV_BOOL: _zvdbGetBoolField(&s, &i); std::fprintf(f, "%d", i); break;
    case ZV_CHAR: case ZV_INT2: case ZV_INT4: case ZV_MONEY:
        _zvdbGetSignedField(&s, &i);
        std::fprintf(f, "%d", i);
        break;
    case ZV_CHARU: case ZV_INT2U: case ZV_INT4U:
        _zvdbGetUnsignedField(&s, &u);
        std::fprintf(f, "%u", u);
        break;
    case ZV_DATE:
        _zvdbGetUnsignedField(&s, &u);
        zvdbDateUnpack(u, &y, &mo, &dd);
        std::fprintf(f, "%4d %02d %02d", y, mo, dd);
        break;
    case ZV_TIME:
        _zvdbGetUnsignedField(&s, &u);
        zvdbTimeUnpack(u, &h, &mi, &sec);
        std::fprintf(f, "%02d %02d %02d", h, mi, sec);
        break;
    case ZV_TIME_MS:
        _zvdbGetUnsignedField(&s, &u);
        zvdbTimeUnpackMsec(u, &h, &mi, &sec, &ms);
        std::fprintf(f, "%02d %02d %02d %03d", h, mi, sec, ms);
        break;
    case ZV_TIMES: case ZV_TIMES_MS:
        _zvdbGetFloatField(&s, &d);
        zvdbDateTimeUnpackMsec(d, &y, &mo, &dd, &h, &mi, &sec, &ms);
        std::fprintf(f, "%04d %02d %02d %02d %02d %02d", y, mo, dd, h, mi, sec);
        if (s.type == ZV_TIMES_MS) std::fprintf(f, " %03d", ms);
        break;
    case ZV_SFLOAT: case ZV_DFLOAT: _zvdbGetFloatField(&s, &d); std::fprintf(f, "%g", d); break;
    case ZV_EFLOAT: std::fputs("<no value yet>", f); break;
    case ZV_NUMBER:
        _zvdbGetNumberField(&s, &num);
        if (zvdbNumberToString(&num, text, sizeof text)) text[0] = 0;
        std::fputs(text, f);
        break;
    case ZV_CURRENCY:
        _zvdbGetCurrencyField(&s, &b);
        zvdbCurrencyToString(b, text, sizeof text);
        std::fputs(text, f);
        break;
    case ZV_BIGINT: _zvdbGetBigIntField(&s, &b); std::fprintf(f, "%" PRId64, b); break;
    case ZV_UBIGINT: _zvdbGetUnsignedBigIntField(&s, &ub); std::fprintf(f, "%" PRIu64, ub); break;
    case ZV_FSTRING: case ZV_STRING: case ZV_FPSTRING: case ZV_PSTRING: case ZV_F2STRING: case ZV_F4STRING:
    case ZV_JSON:
        dump_text(f, s);
        break;
    case ZV_ARRAY: case ZV_2STRING: case ZV_4STRING: dump_hex(f, s); break;
    default: std::fputs("Unknown field type", f); break;
    }
}

}  // namespace

extern "C" {

ZV_API void _zvdbRecordDebugCall(const char *callname, ZVHANDLE record, ZVDBRET code) {
    tagZVDBRECORD *r = dumped(record);
    FILE *f = nullptr;
    if (!r || _zvdbStartDebug(&f, nullptr)) return;
    if (code == 0) std::fprintf(f, "\n%s returned ZVDBRET_OK\n", callname ? callname : "");
    else std::fprintf(f, "\n%s returned %d <<< ERROR >>>\n", callname ? callname : "", code);
    std::fprintf(f,
                 "    Record buffer status => table: %s,  context: %d, recbyt low: %u, recbyt high: %u, size: %d, "
                 "length: %d, new: %s, changed: %s, index: %d, set: %d\n",
                 r->table && r->table->name ? r->table->name : "", r->icon, uint32_t(r->position),
                 uint32_t(r->position >> 32), r->size, r->length, r->isnew ? "YES" : "NO", r->edited ? "YES" : "NO",
                 r->defindex, r->recseton);
    dump_image(f, r);
    _zvdbEndDebug(f);
}

ZV_API void _zvdbDEBUGData(ZVHANDLE record) {
    tagZVDBRECORD *r = dumped(record);
    FILE *f = nullptr;
    if (!r || _zvdbStartDebug(&f, nullptr)) return;
    std::fputs("    Record data:\n", f);
    for (int32_t i = 0; i < r->slotcount; i++) {
        ZVDBFIELDSLOT &s = r->slots[i];
        const char *name = s.field ? static_cast<tagZVDBFIELD *>(s.field)->name
                           : r->table && r->table->doda ? r->table->doda[i].fsymb
                                                        : "";
        const char *type = _zvdbFieldTypeName(int32_t(s.type));
        std::fprintf(f, "    Field(%s %s %u) => ", name ? name : "", type ? type : "", s.deflength);
        dump_value(f, s);
        std::fputc('\n', f);
    }
    _zvdbEndDebug(f);
}

}  // extern "C"

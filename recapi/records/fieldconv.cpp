// Helpers of the typed field access (fieldconv.h).
#include "recapi/records/fieldconv.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "recapi/records/slotprim.h"
#include "recapi/schema/field.h"

namespace zv {

namespace {

// Whether fmt holds exactly one conversion, of a floating-point kind; the
// flags, width and precision it may have are digits and "-+ #.'".
bool one_float_conversion(const char *fmt) {
    int conversions = 0;
    for (const char *p = fmt; *p; p++) {
        if (*p != '%') continue;
        if (p[1] == '%') {
            p++;
            continue;
        }
        p++;
        while (*p && std::strchr("-+ #0'", *p)) p++;
        while (*p >= '0' && *p <= '9') p++;
        if (*p == '.') {
            p++;
            while (*p >= '0' && *p <= '9') p++;
        }
        if (*p == 'L') return false;
        if (!*p || !std::strchr("eEfFgGaA", *p)) return false;
        conversions++;
    }
    return conversions == 1;
}

}  // namespace

ZVDBRET effective_type(const ZVDBFIELDSLOT *s, int32_t *type) {
    auto *f = static_cast<tagZVDBFIELD *>(s->field);
    if (f && f->callbacks[0]) return field_reported_type(f, type);
    *type = int32_t(s->type);
    return 0;
}

TextForms text_forms(const tagZVDBRECORD *r) {
    const tagZVDBSESSION *s = r->table ? r->table->session : nullptr;
    return s ? TextForms{s->defdatetype, s->deftimetype} : TextForms{1, 2};
}

int32_t format_float(const tagZVDBRECORD *r, double value, char *work) {
    const tagZVDBSESSION *s = r->table ? r->table->session : nullptr;
    const char *fmt = s && s->floatformat ? s->floatformat : "%g";
    if (!one_float_conversion(fmt)) return -1;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int n = std::snprintf(work, size_t(kTextWork), fmt, value);
#pragma GCC diagnostic pop
    return n < 0 ? -1 : n < kTextWork ? n : kTextWork - 1;
}

int64_t trunc64(double d) {
    if (!(d > -9223372036854775808.0 && d < 9223372036854775808.0)) return INT64_MIN;
    return int64_t(d);
}

int32_t trunc32(double d) {
    if (std::isnan(d) || d <= -2147483648.0) return INT32_MIN;
    if (d >= 2147483647.0) return INT32_MAX;
    return int32_t(d);
}

ZVDBRET parse_signed(const char *text, int32_t *out) {
    errno = 0;
    const long v = std::strtol(text, nullptr, 10);
    if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return ZVDB_OVERFLOW;
    *out = int32_t(v);
    return 0;
}

ZVDBRET parse_unsigned(const char *text, uint32_t *out) {
    errno = 0;
    const unsigned long v = std::strtoul(text, nullptr, 10);
    if (errno == ERANGE || v > UINT32_MAX) return ZVDB_OVERFLOW;
    *out = uint32_t(v);
    return 0;
}

ZVDBRET parse_double(const char *text, double *out) {
    errno = 0;
    const double v = std::strtod(text, nullptr);
    if (errno == ERANGE) return ZVDB_OVERFLOW;
    *out = v;
    return 0;
}

FieldText::~FieldText() { _zvdb_free(heap_); }

ZVDBRET FieldText::read(ZVDBFIELDSLOT *s) {
    empty_ = true;
    if (s->curlength == 0) return 0;
    int32_t size = int32_t(s->curlength) + 1;
    if (size > kTextWork) {
        heap_ = _zvdb_stralloc(int32_t(s->curlength));
        if (!heap_) return ZVDB_NO_MEMORY;
        text_ = heap_;
    }
    ZVDBRET rc = _zvdbGetStringField(s, text_, &size);
    empty_ = text_[0] == 0;
    return rc;
}

}  // namespace zv

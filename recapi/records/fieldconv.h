// What the typed field readers (fieldget.cpp) and writers (fieldset.cpp)
// share: the effective type of a field, the session's default text forms,
// the float-to-integer rules, the text parsers with their range checks and
// the text of a field read for a conversion.
#pragma once

#include <cstdint>

#include "recapi/base/handles.h"

namespace zv {

// Size of the work area of text conversions; values shorter than it are
// converted without heap.
constexpr int32_t kTextWork = 129;

// The type the record layer reads and writes the field as: the field's
// type callback (slot 0) when it has one, else the slot's type (hidden
// fields: always the slot's). 0 or the callback's code.
ZVDBRET effective_type(const ZVDBFIELDSLOT *s, int32_t *type);

// The session's default date and time types (1 and 2 without session).
struct TextForms {
    ZVDATE_TYPE date;
    ZVTIME_TYPE time;
};
TextForms text_forms(const tagZVDBRECORD *r);
// The double as text in the session's float format ("%g" when none) into a
// work area of kTextWork bytes: its length, or -1 for a format that is not
// one floating-point conversion (%e, %f, %g, %a with flags, width and
// precision, and %% anywhere).
int32_t format_float(const tagZVDBRECORD *r, double value, char *work);

// Truncation toward zero to 64 bits; NaN and values outside give the
// lowest value.
int64_t trunc64(double d);
// Truncation toward zero clamped to 32 bits; NaN gives the lowest value.
int32_t trunc32(double d);

// Leading-integer parsing (blanks, sign, digits; no digits give 0): 4038
// outside the 32-bit range.
ZVDBRET parse_signed(const char *text, int32_t *out);
ZVDBRET parse_unsigned(const char *text, uint32_t *out);
// A floating-point value as strtod takes it: 4038 on a range error.
ZVDBRET parse_double(const char *text, double *out);

// The text of a text field for a conversion, in the work area when it fits
// (no heap), else in a heap copy of its length + 1 bytes.
class FieldText {
public:
    FieldText() = default;
    FieldText(const FieldText &) = delete;
    FieldText &operator=(const FieldText &) = delete;
    ~FieldText();
    // Reads the slot's text: 0, 4001, the text reader's codes. An empty
    // text (no bytes, or a ZV_STRING holding its delimiter alone) leaves
    // empty() true.
    ZVDBRET read(ZVDBFIELDSLOT *s);
    bool empty() const { return empty_; }
    const char *text() const { return text_; }

private:
    char work_[kTextWork];
    char *text_ = work_;
    char *heap_ = nullptr;
    bool empty_ = true;
};

}  // namespace zv

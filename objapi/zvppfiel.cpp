// ZVField: a field of a table definition, over a field handle that belongs
// to the table. The object only names the handle: copies share it and the
// destructor leaves it to the table.
#include "objapi/zvppschm.h"

namespace {

constexpr zvpp::Module kModule("objapi/zvppfiel");

using zvpp::checked;

constexpr const char *kSetType = "Can't set field type";
constexpr const char *kSetDefault = "Can't set field default value";

// The default's bytes (null without a default) and their count.
char *default_of(ZVHANDLE field, int &length) {
    int32_t n = 0;
    auto *bytes = static_cast<char *>(const_cast<void *>(zvdbGetFieldDefaultValue(field, &n)));
    length = bytes ? n : 0;
    return bytes;
}

}  // namespace

ZVField::ZVField() = default;

ZVField::ZVField(const ZVField &other) : ZVBase() { handle = other.handle; }

ZVField::~ZVField() noexcept = default;

ZVField &ZVField::operator=(const ZVField &other) {
    handle = other.handle;
    return *this;
}

ZVString ZVField::GetName() const { return zvpp::text_of(zvdbGetFieldName(handle)); }

int ZVField::GetType() const { return zvdbGetFieldType(handle); }

int ZVField::GetLength() const { return zvdbGetFieldLength(handle); }

ZVDBRET ZVField::SetName(const ZVString &name) {
    return checked(kModule, zvdbSetFieldName(handle, name.c_str()), "Can't set field name", __LINE__);
}

// The length goes through the virtual SetLength, so a derived class sees it.
ZVDBRET ZVField::SetType(int type, int length) {
    checked(kModule, zvdbSetFieldType(handle, type), kSetType, __LINE__);
    if (length >= 1) SetLength(length);
    return 0;
}

ZVDBRET ZVField::SetLength(int length) {
    return checked(kModule, zvdbSetFieldLength(handle, length), kSetType, __LINE__);
}

int ZVField::GetNumber() const {
    const int n = zvdbGetFieldNbr(handle);
    if (n < 0) kModule.fail(ZVDB_NO_FIELD_NAME, "Can't retrieve the field position number", __LINE__);
    return n;
}

int ZVField::GetNullFlag() const { return zvdbGetFieldNullFlag(handle); }

int ZVField::GetPrecision() const { return zvdbGetFieldPrecision(handle); }

int ZVField::GetScale() const { return zvdbGetFieldScale(handle); }

ZVDBRET ZVField::SetNullFlag(int flag) {
    return checked(kModule, zvdbSetFieldNullFlag(handle, flag), "Can't set the field nul flag", __LINE__);
}

ZVDBRET ZVField::SetPrecision(int precision) {
    return checked(kModule, zvdbSetFieldPrecision(handle, precision), "Can't set the field precision",
                   __LINE__);
}

ZVDBRET ZVField::SetScale(int scale) {
    return checked(kModule, zvdbSetFieldScale(handle, scale), "Can't set the field scale", __LINE__);
}

int ZVField::IsNumeric() const { return zvdbIsFieldNumeric(handle); }

ZVDBRET ZVField::SetFieldDefaultValue(const ZVString &value) {
    return checked(kModule, zvdbSetFieldDefaultValue(handle, value.c_str(), value.Length()), kSetDefault,
                   __LINE__);
}

ZVDBRET ZVField::SetFieldDefaultValue(char *value, int length) {
    return checked(kModule, zvdbSetFieldDefaultValue(handle, value, length), kSetDefault, __LINE__);
}

int ZVField::GetFieldDefaultValue(char *&out) const {
    int length = 0;
    out = default_of(handle, length);
    return length;
}

// The stored bytes need not end in a NUL: the string takes exactly their
// count.
int ZVField::GetFieldDefaultValue(ZVString &out) const {
    int length = 0;
    if (const char *bytes = default_of(handle, length)) out = ZVString(bytes, length);
    return length;
}

ZVDBRET ZVField::ClearFieldDefaultValue() {
    return checked(kModule, zvdbClearFieldDefaultValue(handle), "Can't clear field default value",
                   __LINE__);
}

ZVDBRET ZVField::SetFieldDefaultDateTimeType(ZVDATE_TYPE datetype, ZVTIME_TYPE timetype) {
    return checked(kModule, zvdbSetFieldDefaultDateTimeType(handle, datetype, timetype),
                   "Can't field field default date time type", __LINE__);
}

int ZVField::IsFieldDefaultValueSet() const { return zvdbIsFieldDefaultValueSet(handle); }

ZVDATE_TYPE ZVField::GetFieldDefaultDateType() const { return zvdbGetFieldDefaultDateType(handle); }

ZVTIME_TYPE ZVField::GetFieldDefaultTimeType() const { return zvdbGetFieldDefaultTimeType(handle); }

unsigned ZVField::GetStatus() const { return zvdbGetFieldStatus(handle); }

// ZVSegment: a segment of an index, over a segment handle that belongs to
// the index (and so to the table). The object only names the handle:
// copies share it and the destructor leaves it to the index.
#include "objapi/zvppschm.h"

namespace {

constexpr zvpp::Module kModule("objapi/zvppsegs");

using zvpp::checked;

constexpr const char *kNoField = "Can't retrieve segment field";

// The field a segment call answered, as an object. The record-level call
// keeps a code only for a bad segment handle; a sound segment without a
// field (an extended segment on record bytes) keeps none, and reports
// "no field handle" instead of whatever code the session held before.
ZVField field_object(ZVHANDLE segment, ZVHANDLE field, int line) {
    if (!field) {
        const bool sound = zvdbGetHandleType(segment) == ZVDB_SEGMENT_HANDLE;
        kModule.fail(sound ? ZVDB_NO_FIELD : zvpp::kept_code(segment, ZVDB_NO_SEGMENT), kNoField, line);
    }
    ZVField f;
    f.SetHandle(field);
    return f;
}

}  // namespace

ZVSegment::ZVSegment() { handle = nullptr; }

ZVSegment::ZVSegment(const ZVSegment &other) : ZVBase() { handle = other.handle; }

ZVSegment::~ZVSegment() noexcept = default;

ZVSegment &ZVSegment::operator=(const ZVSegment &other) {
    handle = other.handle;
    return *this;
}

ZVField ZVSegment::GetField() const {
    return field_object(handle, zvdbGetSegmentField(handle), __LINE__);
}

ZVString ZVSegment::GetFieldName() const { return GetField().GetName(); }

ZVField ZVSegment::GetPartialField() const {
    return field_object(handle, zvdbGetSegmentPartialField(handle), __LINE__);
}

ZVString ZVSegment::GetPartialFieldName() const { return GetPartialField().GetName(); }

int ZVSegment::GetMode() const { return zvdbGetSegmentMode(handle); }

ZVDBRET ZVSegment::SetMode(int mode) {
    return checked(kModule, zvdbSetSegmentMode(handle, mode), "Can't set the segment mode", __LINE__);
}

int ZVSegment::GetNumber() const {
    int32_t n = 0;
    checked(kModule, zvdbGetSegmentNbr(handle, &n),
            "Can't retrieve the segment index position in index segments list", __LINE__);
    return n;
}

unsigned ZVSegment::GetStatus() const { return zvdbGetSegmentStatus(handle); }

ZVDBRET ZVSegment::MoveSegment(int newPosition) {
    return checked(kModule, zvdbMoveSegment(handle, newPosition), "Can't move the index segment",
                   __LINE__);
}

ZVDBRET ZVSegment::SetField(ZVField &field) {
    return checked(kModule, zvdbSetSegmentField(handle, field.GetHandle()),
                   "Can't set field for index segment", __LINE__);
}

ZVDBRET ZVSegment::SetJSONField(ZVField &field, char *keyPath, int valueType, int length) {
    return checked(kModule, zvdbSetJSONSegmentField(handle, field.GetHandle(), keyPath, valueType, length),
                   "Can't set JSON field for index segment", __LINE__);
}

// ZVRecord: one record handle of a table, with its buffer, position,
// default index, filters, ranges, record sets and batches.
//
// Each operation forwards to the record-level call of the same meaning with
// the held handle; a nonzero result is thrown with the operation's message
// and the line of the throw, and otherwise the call's result (0) comes back.
// Moves and finds answer false for the code that means "none" instead of
// throwing. Plain getters never throw.
//
// Fields are given by number or by name. A by-name operation resolves the
// name through the virtual GetFieldByName (4014 "No such field" for a name
// the table lacks, before any field is touched) and then calls the virtual
// by-number operation, so that a derived class sees every access in one
// place. Value-class results start as the value 0 and take the field's
// value only when the read succeeds.
#include <cstdint>

#include "objapi/valaccess.h"
#include "objapi/zvppxcep.h"

namespace {

constexpr const char *kPath = "objapi/zvpprecd";
constexpr zvpp::Module kModule(kPath);

// The "none" answers of the record-level calls: the end of the order or no
// record found; a retrieval batch without further records.
constexpr ZVDBRET kNotFound = 101;
constexpr ZVDBRET kBatchEnd = 428;

constexpr const char *kGetData = "Can't get field data";
constexpr const char *kSetData = "Can't set field data";
constexpr const char *kSetJson = "Can't set JSON field data";
constexpr const char *kNoSuchField = "No such field";
constexpr const char *kFindFailed = "Error finding record";

// Texts are read into a buffer of the field's data length and its
// terminator, never less than this, so that formatted values fit.
constexpr int kMinTextBuffer = 129;

// True for 0, false for the code that means "none"; any other code throws.
bool answered(ZVDBRET rc, ZVDBRET none, const char *message, int line) {
    if (rc == none) return false;
    kModule.check(rc, message, line);
    return true;
}

// The call's result once it is known not to be a failure (that is, 0).
ZVDBRET done(ZVDBRET rc, const char *message, int line) {
    kModule.check(rc, message, line);
    return rc;
}

// A table object whose session or database was destroyed has lost its
// handle: that is 4013, not a shortage of memory. Otherwise the code the
// record-level call left stands, 4001 when it left none.
ZVHANDLE new_record(ZVHANDLE table) {
    if (!table) kModule.fail(ZVDB_NO_TABLE, "Table is not open", __LINE__);
    ZVHANDLE h = zvdbAllocRecord(table);
    if (!h) {
        const ZVDBRET rc = zvdbGetError(table);
        kModule.fail(rc ? rc : ZVDB_NO_MEMORY, "Can't allocate record handle", __LINE__);
    }
    return h;
}

ZVHANDLE duplicate_record(ZVHANDLE record) {
    ZVHANDLE h = zvdbDuplicateRecord(record);
    if (!h) kModule.fail(ZVDB_NO_MEMORY, "Can't duplicate record handle", __LINE__);
    return h;
}

const ZVTable &table_at(const ZVTable *table) {
    if (!table) kModule.fail(ZVDB_NO_TABLE, "Invalid table handle", __LINE__);
    return *table;
}

const ZVRecord &record_at(const ZVRecord *record) {
    if (!record) kModule.fail(ZVDB_NO_RECORD, "Invalid record handle", __LINE__);
    return *record;
}

int text_buffer_size(int datalength) {
    const int64_t size = int64_t(datalength) + 1;
    return size < kMinTextBuffer ? kMinTextBuffer : size > INT32_MAX ? INT32_MAX : int(size);
}

// Stores a value read from a field into its value class.
void store(ZVDate &v, ZVDATE raw) { ZVValueAccess::of(v) = raw; }
void store(ZVTime &v, ZVTIME raw) { ZVValueAccess::of(v) = raw; }
void store(ZVDateTime &v, ZVDATETIME raw) { ZVValueAccess::of(v) = raw; }
void store(ZVMoney &v, ZVMONEY raw) { v.SetMoney(int(raw)); }
void store(ZVBigint &v, ZVBIGINT raw) { ZVValueAccess::of(v) = raw; }
void store(ZVCurrency &v, ZVCURRENCY raw) { ZVValueAccess::of(v) = raw; }
void store(ZVNumber &v, tagZVNUMBER &raw) { v.SetNumber(&raw); }

// Field n read by get into a value class object that holds 0 until the read
// has succeeded.
template <typename Value, typename Raw>
Value read_value(ZVDBRET (*get)(ZVHANDLE, int32_t, Raw *), ZVHANDLE record, int n, const char *message,
                 int line) {
    Value out;
    Raw raw{};
    kModule.check(get(record, n, &raw), message, line);
    store(out, raw);
    return out;
}

}  // namespace

// ---- Construction --------------------------------------------------------------

ZVRecord::ZVRecord(const ZVTable &table) { handle = new_record(table.GetHandle()); }

ZVRecord::ZVRecord(const ZVTable *table) : ZVRecord(table_at(table)) {}

ZVRecord::ZVRecord(const ZVRecord &other) : ZVBase() { handle = duplicate_record(other.GetHandle()); }

ZVRecord::ZVRecord(const ZVRecord *other) : ZVRecord(record_at(other)) {}

ZVRecord::~ZVRecord() noexcept {
    if (handle) zvdbFreeRecord(handle);
    handle = nullptr;
}

// ---- Moves and buffer ------------------------------------------------------------

bool ZVRecord::First() {
    return answered(zvdbFirstRecord(handle), kNotFound, "Cant move to first record in table", __LINE__);
}

bool ZVRecord::Last() {
    return answered(zvdbLastRecord(handle), kNotFound, "Cant move to last record in table", __LINE__);
}

bool ZVRecord::Next() {
    return answered(zvdbNextRecord(handle), kNotFound, "Cant move to next record in table", __LINE__);
}

bool ZVRecord::Prev() {
    return answered(zvdbPrevRecord(handle), kNotFound, "Cant move to prev record in table", __LINE__);
}

bool ZVRecord::Find(ZVFIND_MODE mode) {
    return answered(zvdbFindRecord(handle, mode), kNotFound, kFindFailed, __LINE__);
}

bool ZVRecord::FindTarget(void *target, ZVFIND_MODE mode) {
    return answered(zvdbFindTarget(handle, target, mode), kNotFound, kFindFailed, __LINE__);
}

ZVDBRET ZVRecord::Clear() { return done(zvdbClearRecord(handle), "Can't clear record", __LINE__); }

ZVDBRET ZVRecord::Read() { return done(zvdbReadRecord(handle), "Can't read record", __LINE__); }

ZVDBRET ZVRecord::Write() { return done(zvdbWriteRecord(handle), "Can't write record", __LINE__); }

ZVDBRET ZVRecord::Delete() { return done(zvdbDeleteRecord(handle), "Can't delete record", __LINE__); }

ZVDBRET ZVRecord::Reset() { return done(zvdbResetRecord(handle), "Can't reset record buffer", __LINE__); }

ZVDBRET ZVRecord::CopyBuffer(const ZVRecord &source) {
    return done(zvdbCopyRecordBuffer(source.GetHandle(), handle), "Can't copy record buffer", __LINE__);
}

// A null source has no record handle: the answer the copy itself gives for
// one, without reaching through the pointer.
ZVDBRET ZVRecord::CopyBuffer(const ZVRecord *source) {
    if (!source) kModule.fail(ZVDB_NO_RECORD, "Can't copy record buffer", __LINE__);
    return CopyBuffer(*source);
}

int ZVRecord::IsNew() const { return zvdbIsNewRecord(handle); }

int ZVRecord::IsEdited() const { return zvdbIsEditedRecord(handle); }

ZVDBRET ZVRecord::SetNew(int flag) {
    return done(zvdbSetNewRecord(handle, flag), "Can't set the new record flag", __LINE__);
}

ZVDBRET ZVRecord::SetEdited(int flag) {
    return done(zvdbSetEditedRecord(handle, flag), "Can't set the changed record flag", __LINE__);
}

void *ZVRecord::GetRecordBuffer() const { return zvdbGetRecordBuffer(handle); }

long long ZVRecord::GetRecordPos() const {
    uint64_t position = 0;
    kModule.check(zvdbGetRecordPos(handle, &position), "Can't retrieve current record offset", __LINE__);
    return static_cast<long long>(position);
}

ZVDBRET ZVRecord::SetRecordPos(long long position) {
    return done(zvdbSetRecordPos(handle, uint64_t(position)), "Can't position record offset", __LINE__);
}

ZVDBRET ZVRecord::SetRecordOffset(long long position) {
    return done(zvdbSetRecordOffset(handle, uint64_t(position)), "Can't set the record offset", __LINE__);
}

ZVDBRET ZVRecord::SeekRecord(long long position) {
    return done(zvdbSeekRecord(handle, uint64_t(position)), "Can't seek to record offset", __LINE__);
}

int ZVRecord::GetRecordLength() const { return zvdbGetRecordLength(handle); }

int ZVRecord::GetRecordSize() const { return zvdbGetRecordSize(handle); }

// ---- Fields by number ------------------------------------------------------------

int ZVRecord::IsNullField(int field) const { return zvdbIsNullField(handle, field); }

int ZVRecord::GetDefaultIndex() const { return zvdbGetDefaultIndex(handle); }

ZVString ZVRecord::GetDefaultIndexName() const { return ZVString(zvdbGetDefaultIndexName(handle)); }

ZVDBRET ZVRecord::SetDefaultIndex(int index) {
    return done(zvdbSetDefaultIndex(handle, index), "Can't set the default index", __LINE__);
}

ZVDBRET ZVRecord::SetDefaultIndex(const ZVString &index) {
    return done(zvdbSetDefaultIndexByName(handle, index.c_str()), "Can't set the default index name", __LINE__);
}

ZVString ZVRecord::GetFieldName(int field) const {
    ZVHANDLE f = zvdbGetField(handle, field);
    if (!f) kModule.fail(zvdbGetError(handle), kNoSuchField, __LINE__);
    return ZVString(zvdbGetFieldName(f));
}

// The type the field handle holds, whatever a type callback of the field
// would report.
int ZVRecord::GetFieldType(int field) const {
    ZVHANDLE f = zvdbGetField(handle, field);
    if (!f) kModule.fail(zvdbGetError(handle), kNoSuchField, __LINE__);
    return _zvdbGetPhysicalFieldType(f);
}

int ZVRecord::GetFieldAsBool(int field) const {
    uint32_t value = 0;
    kModule.check(zvdbGetFieldAsBool(handle, field, &value), kGetData, __LINE__);
    return int(value);
}

int ZVRecord::GetFieldAsSigned(int field) const {
    int32_t value = 0;
    kModule.check(zvdbGetFieldAsSigned(handle, field, &value), kGetData, __LINE__);
    return value;
}

unsigned ZVRecord::GetFieldAsUnsigned(int field) const {
    uint32_t value = 0;
    kModule.check(zvdbGetFieldAsUnsigned(handle, field, &value), kGetData, __LINE__);
    return value;
}

ZVDate ZVRecord::GetFieldAsDate(int field) const {
    return read_value<ZVDate>(zvdbGetFieldAsDate, handle, field, kGetData, __LINE__);
}

ZVTime ZVRecord::GetFieldAsTime(int field) const {
    return read_value<ZVTime>(zvdbGetFieldAsTime, handle, field, kGetData, __LINE__);
}

ZVDateTime ZVRecord::GetFieldAsDateTime(int field) const {
    return read_value<ZVDateTime>(zvdbGetFieldAsDateTime, handle, field, kGetData, __LINE__);
}

ZVMoney ZVRecord::GetFieldAsMoney(int field) const {
    return read_value<ZVMoney>(zvdbGetFieldAsMoney, handle, field, kGetData, __LINE__);
}

double ZVRecord::GetFieldAsFloat(int field) const {
    double value = 0;
    kModule.check(zvdbGetFieldAsFloat(handle, field, &value), kGetData, __LINE__);
    return value;
}

ZVString ZVRecord::GetFieldAsString(int field) const {
    const int size = text_buffer_size(GetFieldLength(field));
    ZVString text("", size);
    kModule.check(zvdbGetFieldAsString(handle, field, &text[0], size), kGetData, __LINE__);
    return text;
}

ZVJsonString ZVRecord::GetFieldAsJSON(int field) const {
    const int size = text_buffer_size(GetFieldLength(field));
    ZVJsonString text("", size);
    kModule.check(zvdbGetFieldAsJSON(handle, field, &text.ToZVString()[0], size), kGetData, __LINE__);
    return text;
}

ZVDBRET ZVRecord::GetFieldAsBlob(int field, ZVBlob &out) const {
    return done(zvdbGetFieldAsBlob(handle, field, ZVValueAccess::of(out)), kGetData, __LINE__);
}

ZVDBRET ZVRecord::SetFieldAsBool(int field, int value) {
    return done(zvdbSetFieldAsBool(handle, field, value), kSetData, __LINE__);
}

ZVDBRET ZVRecord::SetFieldAsSigned(int field, int value) {
    return done(zvdbSetFieldAsSigned(handle, field, value), kSetData, __LINE__);
}

ZVDBRET ZVRecord::SetFieldAsUnsigned(int field, unsigned value) {
    return done(zvdbSetFieldAsUnsigned(handle, field, value), kSetData, __LINE__);
}

ZVDBRET ZVRecord::SetFieldAsDate(int field, const ZVDate &value) {
    return done(zvdbSetFieldAsDate(handle, field, ZVValueAccess::of(value)), kSetData, __LINE__);
}

ZVDBRET ZVRecord::SetFieldAsTime(int field, const ZVTime &value) {
    return done(zvdbSetFieldAsTime(handle, field, ZVValueAccess::of(value)), kSetData, __LINE__);
}

ZVDBRET ZVRecord::SetFieldAsDateTime(int field, const ZVDateTime &value) {
    return done(zvdbSetFieldAsDateTime(handle, field, ZVValueAccess::of(value)), kSetData, __LINE__);
}

ZVDBRET ZVRecord::SetFieldAsMoney(int field, const ZVMoney &value) {
    return done(zvdbSetFieldAsMoney(handle, field, value.AsMoney()), kSetData, __LINE__);
}

ZVDBRET ZVRecord::SetFieldAsFloat(int field, double value) {
    return done(zvdbSetFieldAsFloat(handle, field, value), kSetData, __LINE__);
}

ZVDBRET ZVRecord::SetFieldAsString(int field, const ZVString &value) {
    return done(zvdbSetFieldAsString(handle, field, value.c_str()), kSetData, __LINE__);
}

ZVDBRET ZVRecord::SetFieldAsString(int field, const char *value) {
    return done(zvdbSetFieldAsString(handle, field, value), kSetData, __LINE__);
}

ZVDBRET ZVRecord::SetFieldAsJSON(int field, char *value) {
    return done(zvdbSetFieldAsJSON(handle, field, value), kSetJson, __LINE__);
}

ZVDBRET ZVRecord::SetFieldAsJSON(int field, const ZVJsonString &value) {
    return done(zvdbSetFieldAsJSON(handle, field, value.c_str()), kSetJson, __LINE__);
}

ZVDBRET ZVRecord::SetFieldAsBlob(int field, const ZVBlob &value) {
    return done(zvdbSetFieldAsBlob(handle, field, ZVValueAccess::of(value)), kSetData, __LINE__);
}

ZVBigint ZVRecord::GetFieldAsBigint(int field) const {
    return read_value<ZVBigint>(zvdbGetFieldAsBigint, handle, field, "Can't get bigint field", __LINE__);
}

ZVCurrency ZVRecord::GetFieldAsCurrency(int field) const {
    return read_value<ZVCurrency>(zvdbGetFieldAsCurrency, handle, field, "Can't get currency field", __LINE__);
}

ZVNumber ZVRecord::GetFieldAsNumber(int field) const {
    return read_value<ZVNumber>(zvdbGetFieldAsNumber, handle, field, "Can't get number field", __LINE__);
}

ZVDBRET ZVRecord::SetFieldAsBigint(int field, const ZVBigint &value) {
    return done(zvdbSetFieldAsBigint(handle, field, value.AsBigint()), "Can't set bigint field", __LINE__);
}

ZVDBRET ZVRecord::SetFieldAsCurrency(int field, const ZVCurrency &value) {
    return done(zvdbSetFieldAsCurrency(handle, field, value.AsCurrency()), "Can't set currency field", __LINE__);
}

ZVDBRET ZVRecord::SetFieldAsNumber(int field, const ZVNumber &value) {
    return done(zvdbSetFieldAsNumber(handle, field, value.AsNumber()), "Can't set number field", __LINE__);
}

// ---- Fields by name, and the narrow forms -----------------------------------------

int ZVRecord::GetFieldType(const ZVString &field) const { return GetFieldType(GetFieldByName(field)); }

int ZVRecord::IsNullField(const ZVString &field) const { return IsNullField(GetFieldByName(field)); }

int ZVRecord::GetFieldAsBool(const ZVString &field) const { return GetFieldAsBool(GetFieldByName(field)); }

// The low 8 or 16 bits of the full value (C++ conversions to a narrower
// integer keep the low bits).
signed char ZVRecord::GetFieldAsChar(int field) const { return static_cast<signed char>(GetFieldAsSigned(field)); }

unsigned char ZVRecord::GetFieldAsByte(int field) const {
    return static_cast<unsigned char>(GetFieldAsUnsigned(field));
}

short ZVRecord::GetFieldAsShort(int field) const { return static_cast<short>(GetFieldAsSigned(field)); }

unsigned short ZVRecord::GetFieldAsWord(int field) const {
    return static_cast<unsigned short>(GetFieldAsUnsigned(field));
}

signed char ZVRecord::GetFieldAsChar(const ZVString &field) const { return GetFieldAsChar(GetFieldByName(field)); }

unsigned char ZVRecord::GetFieldAsByte(const ZVString &field) const { return GetFieldAsByte(GetFieldByName(field)); }

short ZVRecord::GetFieldAsShort(const ZVString &field) const { return GetFieldAsShort(GetFieldByName(field)); }

unsigned short ZVRecord::GetFieldAsWord(const ZVString &field) const { return GetFieldAsWord(GetFieldByName(field)); }

int ZVRecord::GetFieldAsSigned(const ZVString &field) const { return GetFieldAsSigned(GetFieldByName(field)); }

unsigned ZVRecord::GetFieldAsUnsigned(const ZVString &field) const {
    return GetFieldAsUnsigned(GetFieldByName(field));
}

ZVDate ZVRecord::GetFieldAsDate(const ZVString &field) const { return GetFieldAsDate(GetFieldByName(field)); }

ZVTime ZVRecord::GetFieldAsTime(const ZVString &field) const { return GetFieldAsTime(GetFieldByName(field)); }

ZVDateTime ZVRecord::GetFieldAsDateTime(const ZVString &field) const {
    return GetFieldAsDateTime(GetFieldByName(field));
}

ZVMoney ZVRecord::GetFieldAsMoney(const ZVString &field) const { return GetFieldAsMoney(GetFieldByName(field)); }

double ZVRecord::GetFieldAsFloat(const ZVString &field) const { return GetFieldAsFloat(GetFieldByName(field)); }

ZVString ZVRecord::GetFieldAsString(const ZVString &field) const { return GetFieldAsString(GetFieldByName(field)); }

ZVJsonString ZVRecord::GetFieldAsJSON(const ZVString &field) const { return GetFieldAsJSON(GetFieldByName(field)); }

ZVDBRET ZVRecord::GetFieldAsBlob(const ZVString &field, ZVBlob &out) const {
    return GetFieldAsBlob(GetFieldByName(field), out);
}

ZVDBRET ZVRecord::SetFieldAsBool(const ZVString &field, int value) {
    return SetFieldAsBool(GetFieldByName(field), value);
}

// Signed values are sign-extended, unsigned ones zero-extended, into the
// full-width setters.
ZVDBRET ZVRecord::SetFieldAsChar(int field, char value) {
    return SetFieldAsSigned(field, static_cast<signed char>(value));
}

ZVDBRET ZVRecord::SetFieldAsByte(int field, unsigned char value) { return SetFieldAsUnsigned(field, value); }

ZVDBRET ZVRecord::SetFieldAsShort(int field, short value) { return SetFieldAsSigned(field, value); }

ZVDBRET ZVRecord::SetFieldAsWord(int field, unsigned short value) { return SetFieldAsUnsigned(field, value); }

ZVDBRET ZVRecord::SetFieldAsChar(const ZVString &field, char value) {
    return SetFieldAsSigned(GetFieldByName(field), static_cast<signed char>(value));
}

ZVDBRET ZVRecord::SetFieldAsByte(const ZVString &field, unsigned char value) {
    return SetFieldAsUnsigned(GetFieldByName(field), value);
}

ZVDBRET ZVRecord::SetFieldAsShort(const ZVString &field, short value) {
    return SetFieldAsSigned(GetFieldByName(field), value);
}

ZVDBRET ZVRecord::SetFieldAsWord(const ZVString &field, unsigned short value) {
    return SetFieldAsUnsigned(GetFieldByName(field), value);
}

ZVDBRET ZVRecord::SetFieldAsSigned(const ZVString &field, int value) {
    return SetFieldAsSigned(GetFieldByName(field), value);
}

ZVDBRET ZVRecord::SetFieldAsUnsigned(const ZVString &field, unsigned value) {
    return SetFieldAsUnsigned(GetFieldByName(field), value);
}

ZVDBRET ZVRecord::SetFieldAsDate(const ZVString &field, const ZVDate &value) {
    return SetFieldAsDate(GetFieldByName(field), value);
}

ZVDBRET ZVRecord::SetFieldAsTime(const ZVString &field, const ZVTime &value) {
    return SetFieldAsTime(GetFieldByName(field), value);
}

ZVDBRET ZVRecord::SetFieldAsDateTime(const ZVString &field, const ZVDateTime &value) {
    return SetFieldAsDateTime(GetFieldByName(field), value);
}

ZVDBRET ZVRecord::SetFieldAsMoney(const ZVString &field, const ZVMoney &value) {
    return SetFieldAsMoney(GetFieldByName(field), value);
}

ZVDBRET ZVRecord::SetFieldAsFloat(const ZVString &field, double value) {
    return SetFieldAsFloat(GetFieldByName(field), value);
}

ZVDBRET ZVRecord::SetFieldAsString(const ZVString &field, const ZVString &value) {
    return SetFieldAsString(GetFieldByName(field), value);
}

ZVDBRET ZVRecord::SetFieldAsString(const ZVString &field, const char *value) {
    return SetFieldAsString(GetFieldByName(field), value);
}

ZVDBRET ZVRecord::SetFieldAsJSON(const ZVString &field, char *value) {
    return SetFieldAsJSON(GetFieldByName(field), value);
}

ZVDBRET ZVRecord::SetFieldAsBlob(const ZVString &field, const ZVBlob &value) {
    return SetFieldAsBlob(GetFieldByName(field), value);
}

ZVBigint ZVRecord::GetFieldAsBigint(const ZVString &field) const { return GetFieldAsBigint(GetFieldByName(field)); }

ZVCurrency ZVRecord::GetFieldAsCurrency(const ZVString &field) const {
    return GetFieldAsCurrency(GetFieldByName(field));
}

ZVNumber ZVRecord::GetFieldAsNumber(const ZVString &field) const { return GetFieldAsNumber(GetFieldByName(field)); }

ZVDBRET ZVRecord::SetFieldAsBigint(const ZVString &field, const ZVBigint &value) {
    return SetFieldAsBigint(GetFieldByName(field), value);
}

ZVDBRET ZVRecord::SetFieldAsCurrency(const ZVString &field, const ZVCurrency &value) {
    return SetFieldAsCurrency(GetFieldByName(field), value);
}

ZVDBRET ZVRecord::SetFieldAsNumber(const ZVString &field, const ZVNumber &value) {
    return SetFieldAsNumber(GetFieldByName(field), value);
}

// ---- Record sets and field layout --------------------------------------------------

long long ZVRecord::GetRecordCount() const {
    uint64_t count = 0;
    kModule.check(zvdbGetRecordCount(handle, &count), "Can't retrieve the number of records in table", __LINE__);
    return static_cast<long long>(count);
}

ZVDBRET ZVRecord::RecordSetOn(int prefixLength) {
    return done(zvdbRecordSetOn(handle, prefixLength), "Can't activate the record set", __LINE__);
}

int ZVRecord::IsRecordSetOn() const { return zvdbIsRecordSetOn(handle); }

ZVDBRET ZVRecord::RecordSetOff() {
    return done(zvdbRecordSetOff(handle), "Can't deactivate the record set", __LINE__);
}

int ZVRecord::IsVariableField(int field) const { return zvdbIsVariableField(handle, field); }

int ZVRecord::GetFieldLength(int field) const { return zvdbGetFieldDataLength(handle, field); }

int ZVRecord::GetFieldSize(int field) const { return zvdbGetFieldSize(handle, field); }

int ZVRecord::GetFieldOffset(int field) const { return zvdbGetFieldOffset(handle, field); }

void *ZVRecord::GetFieldAddress(int field) const { return zvdbGetFieldAddress(handle, field); }

int ZVRecord::IsVariableField(const ZVString &field) const { return IsVariableField(GetFieldByName(field)); }

int ZVRecord::GetFieldLength(const ZVString &field) const { return GetFieldLength(GetFieldByName(field)); }

int ZVRecord::GetFieldSize(const ZVString &field) const { return GetFieldSize(GetFieldByName(field)); }

int ZVRecord::GetFieldOffset(const ZVString &field) const { return GetFieldOffset(GetFieldByName(field)); }

void *ZVRecord::GetFieldAddress(const ZVString &field) const { return GetFieldAddress(GetFieldByName(field)); }

// User fields are numbered from 0; the hidden fields answer negative
// numbers and so count as unknown here.
int ZVRecord::GetFieldByName(const ZVString &field) const {
    const int n = zvdbGetFieldNumberByName(handle, field.c_str());
    if (n < 0) kModule.fail(ZVDB_NO_FIELD_NAME, kNoSuchField, __LINE__);
    return n;
}

ZVDBRET ZVRecord::ClearField(int field) { return done(zvdbClearField(handle, field), "Can't clear field", __LINE__); }

ZVDBRET ZVRecord::ClearField(const ZVString &field) { return ClearField(GetFieldByName(field)); }

// ---- Locks, row id, conditions, keys and ranges ------------------------------------

ZVDBRET ZVRecord::LockRecord(int mode) { return done(zvdbLockRecord(handle, mode), "Lock failed", __LINE__); }

// Through the virtual slot, so that a derived class's LockRecord sees the
// release.
ZVDBRET ZVRecord::UnlockRecord() { return LockRecord(0); }

int ZVRecord::GetRecordLock() const { return zvdbGetRecordLock(handle); }

long long ZVRecord::GetRowid() const {
    ZVBIGINT rowid = 0;
    kModule.check(zvdbGetRowid(handle, &rowid), "GetRowid failed", __LINE__);
    return rowid;
}

bool ZVRecord::FindRowid(long long rowid, ZVFIND_MODE mode) {
    return answered(zvdbFindRowid(handle, rowid, mode), kNotFound, "FindRowid failed", __LINE__);
}

ZVDBRET ZVRecord::CndxCompile(const ZVString &expression) {
    return done(zvdbCndxCompile(handle, expression.c_str()), "CndxCompile failed", __LINE__);
}

// 4071 alone is a false condition or none compiled; 4071 plus an
// evaluator's code is a failure.
bool ZVRecord::CndxEval() { return answered(zvdbCndxEval(handle), ZVDB_EXPR_FAILED, "CndxEval failed", __LINE__); }

ZVDBRET ZVRecord::CndxFree() { return zvdbCndxFree(handle); }

void ZVRecord::CndxGetExpression(ZVString &out) const { out.Copy(zvdbCndxGetExpression(handle)); }

bool ZVRecord::Compare(ZVRecord *other) const {
    const ZVHANDLE theirs = other ? other->GetHandle() : nullptr;
    return answered(zvdbCompareRecords(GetHandle(), theirs), ZVDB_RECORDS_DIFFER, "Cannot compare records",
                    __LINE__);
}

ZVDBRET ZVRecord::BuildTargetKey(ZVFIND_MODE mode, void *target, int *length) const {
    return done(zvdbBuildTargetKey(handle, mode, target, length), "BuildTargetKey failed", __LINE__);
}

ZVDBRET ZVRecord::AtPercentile(int percent) {
    return done(zvdbRecordAtPercentile(handle, percent), "AtPercentile failed", __LINE__);
}

// The record-level call answers an estimate of 0 both for no keys and for a
// failure, telling them apart only by the code it keeps. That code is the
// session's last one, which an earlier call (a move past the end) may have
// left: it is cleared first, so that only this call's failure throws, and
// put back when the estimate was a true 0.
long long ZVRecord::EstimateSpan(void *key1, void *key2) const {
    const ZVDBRET before = zvdbGetError(handle);
    zvdbClearError(handle);
    const int64_t estimate = zvdbEstimateSpan(handle, key1, key2);
    const ZVDBRET code = estimate == 0 ? zvdbGetError(handle) : 0;
    if (code != 0) kModule.fail(code, "EstimateSpan failed", __LINE__);
    zvdbSetError(handle, before);
    return estimate;
}

long long ZVRecord::NumberOfKeyEntries(int index) const {
    const int64_t entries = zvdbNumberOfKeyEntries(handle, index);
    if (entries < 0) kModule.fail(zvdbGetError(handle), "ZVRecord::NumberOfKeyEntries failed", __LINE__);
    return entries;
}

// An unknown name gives -1, which the by-number form reports as 4045.
long long ZVRecord::NumberOfKeyEntries(const ZVString &index) const {
    return NumberOfKeyEntries(zvdbGetIndexNbrByName(handle, index.c_str()));
}

ZVDBRET ZVRecord::RangeOn(int segments, void *low, void *high, int *operators) {
    return done(zvdbRecordRangeOn(handle, segments, low, high, operators), "can't establish a new record range",
                __LINE__);
}

ZVDBRET ZVRecord::RangeOff() {
    return done(zvdbRecordRangeOff(handle), "can't terminate a record range", __LINE__);
}

int ZVRecord::IsRangeOn() const { return zvdbIsRecordRangeOn(handle); }

ZVDBRET ZVRecord::SwitchContext() {
    return done(zvdbSwitchContext(handle), "can't switch ISAM context", __LINE__);
}

// ---- Filters, batches and full-text search ----------------------------------------

ZVDBRET ZVRecord::SetFilter(const ZVString &expression) {
    return done(zvdbFilterRecord(handle, expression.c_str()), "FilterRecord failed", __LINE__);
}

int ZVRecord::IsFiltered() const { return zvdbIsFilteredRecord(handle); }

// A filter of type 2 is a parse tree, not text: the record-level call hands
// back the tree's address, which must not be read as characters. Such a
// filter has no text to give.
void ZVRecord::GetFilter(ZVString &out) const {
    constexpr int32_t kTreeFilter = 2;
    out.Copy(zvdbGetFilterType(handle) == kTreeFilter ? nullptr : zvdbGetFilter(handle));
}

int ZVRecord::BatchLoaded() const { return zvdbBatchLoaded(handle); }

int ZVRecord::BatchLocked() const { return zvdbBatchLocked(handle); }

int ZVRecord::BatchTotal() const { return zvdbBatchTotal(handle); }

unsigned ZVRecord::BatchMode() const { return zvdbBatchMode(handle); }

int ZVRecord::IsBatchActive() const { return zvdbIsBatchActive(handle); }

ZVDBRET ZVRecord::EndBatch() { return done(zvdbEndBatch(handle), "ZVRecord::EndBatch failed", __LINE__); }

ZVDBRET ZVRecord::InsertBatch() { return done(zvdbInsertBatch(handle), "ZVRecord::InsertBatch failed", __LINE__); }

ZVDBRET ZVRecord::NextBatch() { return done(zvdbNextBatch(handle), "ZVRecord::NextBatch failed", __LINE__); }

bool ZVRecord::NextInBatch() {
    return answered(zvdbNextBatch(handle), kBatchEnd, "ZVRecord::NextInBatch failed", __LINE__);
}

ZVDBRET ZVRecord::SetBatch(unsigned mode, int targetLength, int bufferSize) {
    return done(zvdbSetBatch(handle, mode, targetLength, bufferSize), "ZVRecord::SetBatch failed", __LINE__);
}

int ZVRecord::GetErrorIndex() const { return zvdbGetErrorIndex(handle); }

bool ZVRecord::JumpTo(int offset) {
    return answered(zvdbJumpToRecord(handle, offset), kNotFound, "Cannot Jump to record in table", __LINE__);
}

// The one call of the layer that throws a heap exception: the catcher
// deletes it.
long long ZVRecord::GetRecordKeyPos() const {
    uint64_t ordinal = 0;
    if (const ZVDBRET rc = zvdbGetRecordKeyPos(handle, &ordinal))
        throw new ZVException(rc, "Can't retrieve record position", kPath, __LINE__);
    return static_cast<long long>(ordinal);
}

ZVDBRET ZVRecord::SetDefaultFullTextIndex(int index) {
    return done(zvdbSetDefaultFTI(handle, index), "Can't set the default Full Text index", __LINE__);
}

ZVDBRET ZVRecord::FullTextSearchOn(ZVString &query) {
    return done(zvdbFTSearchOn(handle, query.c_str(), 0), "Can't set Full Text Search criteria", __LINE__);
}

int ZVRecord::IsFullTextSearchOn() const { return zvdbIsFTSearchOn(handle); }

ZVDBRET ZVRecord::FullTextSearchOff() {
    return done(zvdbFTSearchOff(handle), "Can't turn off Full Text Search criteria", __LINE__);
}

ZVDBRET ZVRecord::GetFullTextSearchErrorDetails(int *code, int *position) const {
    return done(zvdbGetFTSErrorDetails(handle, code, position), "Can't get Full Text Search error details",
                __LINE__);
}

// ZVTable and ZVResource: a table handle and a resource handle as objects.
//
// A table object owns its table handle from construction to destruction;
// the handle refers back to the object (its object pointer), so that the
// database's active-table calls find the object. Every operation forwards
// to the record-level call of the same meaning; a nonzero result is thrown
// with the operation's message and the line of the throw, and a call that
// answers with a null handle throws the table's last code. The field,
// index, segment and full-text objects handed out borrow handles that the
// table keeps.
//
// The segment operations resolve an index or field given by number or name
// through the virtual look-ups and end in the virtual forms that take index
// and field objects, so that a derived class changes every form by
// overriding a look-up.
//
// A resource object owns one resource handle of a table.
#include <cstdint>

#include "objapi/zvppschm.h"

namespace {

constexpr zvpp::Module kModule("objapi/zvpptabl");

// The resource calls report a missing resource with this code.
constexpr ZVDBRET kNoResource = 408;

// The code of a null database or session given to a table constructor.
constexpr int kInvalidOwner = 4010;

// Partition administration returns the engine's status word only when the
// mode asks for it.
constexpr int kPartStatusBit = 0x800;

// A fresh table handle under owner whose object pointer is object. A
// handle whose object pointer cannot be set is freed before the throw.
ZVHANDLE new_table(ZVHANDLE owner, ZVTable *object) {
    ZVHANDLE table = zvdbAllocTable(owner);
    if (!table) kModule.fail(ZVDB_NO_MEMORY, "Can't allocate table handle", __LINE__);
    if (ZVDBRET rc = zvdbSetTableObjptr(table, object)) {
        zvdbFreeTable(table);
        kModule.fail(rc, "Can't initialize the object pointer", __LINE__);
    }
    return table;
}

template <typename T>
const T &checked(const T *object, const char *message, int line) {
    if (!object) kModule.fail(kInvalidOwner, message, line);
    return *object;
}

// A borrowing object of type T over h; a null h throws table's last code.
template <typename T>
T borrowed(ZVHANDLE table, ZVHANDLE h, const char *message, int line) {
    if (!h) kModule.fail(zvdbGetError(table), message, line);
    T object;
    object.SetHandle(h);
    return object;
}

ZVString text_or_empty(const char *text) { return ZVString(text ? text : ""); }

// Reads a conditional expression: its length (with terminator) first, then
// the text into out. An index without expression answers -1 without a
// code; it gives "" and no read. A -1 that leaves a code is a failure.
template <typename Length, typename Read>
ZVDBRET read_condition(ZVHANDLE table, ZVString &out, Length length, Read read) {
    constexpr const char *kMessage = "GetCndxIndex failed";
    zvdbClearError(table);
    const int32_t n = length();
    if (n < 0) {
        if (ZVDBRET rc = zvdbGetError(table)) kModule.fail(rc, kMessage, __LINE__);
        out = "";
        return 0;
    }
    out.SetLength(n + 1);
    kModule.check(read(&out[0], n + 1), kMessage, __LINE__);
    return 0;
}

int part_admin_result(int mode, int16_t status) { return (mode & kPartStatusBit) ? int(status) : 0; }

// A resource move or find: true when found, false on 408, else thrown.
bool found(ZVDBRET rc, const char *message, int line) {
    if (rc == kNoResource) return false;
    kModule.check(rc, message, line);
    return true;
}

ZVHANDLE new_resource(const ZVTable &table, unsigned type, unsigned number, const char *name) {
    ZVHANDLE resource = zvdbAllocResource(table.GetHandle(), type, number, name);
    if (!resource) kModule.fail(ZVDB_NO_MEMORY, "Can't allocate resource handle", __LINE__);
    return resource;
}

}  // namespace

// ---- Construction ----------------------------------------------------------

ZVTable::ZVTable(const ZVDatabase &database) { handle = new_table(database.GetHandle(), this); }

ZVTable::ZVTable(const ZVDatabase *database)
    : ZVTable(checked(database, "Invalid database handle", __LINE__)) {}

ZVTable::ZVTable(const ZVSession &session) { handle = new_table(session.GetHandle(), this); }

ZVTable::ZVTable(const ZVSession *session) : ZVTable(checked(session, "Invalid session handle", __LINE__)) {}

ZVTable::~ZVTable() noexcept {
    if (handle) zvdbFreeTable(handle);
    handle = nullptr;
}

// ---- Plain getters -----------------------------------------------------------

int ZVTable::IsActive() const { return zvdbIsActiveTable(handle); }

unsigned ZVTable::GetOpenMode() const { return zvdbGetTableOpenMode(handle); }

unsigned ZVTable::GetCreateMode() const { return zvdbGetTableCreateMode(handle); }

unsigned ZVTable::GetDataDefaultExtentSize() const { return zvdbGetTableDefaultDataExtentSize(handle); }

unsigned ZVTable::GetIndexDefaultExtentSize() const { return zvdbGetTableDefaultIndexExtentSize(handle); }

unsigned ZVTable::GetPermission() const { return zvdbGetTablePermission(handle); }

int ZVTable::GetFieldCount() const { return zvdbGetTableFieldCount(handle); }

int ZVTable::GetIndexCount() const { return zvdbGetTableIndexCount(handle); }

int ZVTable::HasNullFieldSupport() const { return zvdbHasNullFieldSupport(handle); }

int ZVTable::HasDelField() const { return zvdbHasDelField(handle); }

unsigned ZVTable::GetStatus() const { return zvdbGetTableStatus(handle); }

int ZVTable::GetVTableNumber() const { return zvdbGetVTableNumber(handle); }

int ZVTable::IsVTable() const { return zvdbIsVTable(handle); }

int ZVTable::GetFullTextIndexCount() const { return zvdbGetTableFTICount(handle); }

bool ZVTable::HasRecbyt() const { return handle && zvdbHasRecbyt(handle) != 0; }

bool ZVTable::HasRowid() const { return handle && zvdbHasRowid(handle) != 0; }

// The rebuild callback belongs to the current engine instance: resolving
// the handle first makes this table's session's instance the current one.
ZVDBRET ZVTable::SetRebuildCallback(ZVDB_REBUILD_CALLBACK callback, unsigned short interval) {
    if (ZVDBRET rc = zvdbSwitchInstance(handle)) return rc;
    return zvdbSetCallbackOnRebuild(callback, interval);
}

// ---- Texts ---------------------------------------------------------------

ZVString ZVTable::GetName() const {
    const char *name = zvdbGetTableName(handle);
    if (!name) kModule.fail(ZVDB_NO_TABLE, "Can't get the table name", __LINE__);
    return ZVString(name);
}

ZVString ZVTable::GetPath() const { return text_or_empty(zvdbGetTablePath(handle)); }

ZVString ZVTable::GetDataExtension() const {
    const char *ext = zvdbGetTableExtension(handle);
    if (!ext) kModule.fail(ZVDB_NO_TABLE, "Can't get the table data file extension", __LINE__);
    return ZVString(ext);
}

ZVString ZVTable::GetIndexExtension() const {
    const char *ext = zvdbGetIndexExtension(handle);
    if (!ext) kModule.fail(ZVDB_NO_TABLE, "Can't get the table index file extension", __LINE__);
    return ZVString(ext);
}

ZVString ZVTable::GetPassword() const { return text_or_empty(zvdbGetTablePassword(handle)); }

ZVString ZVTable::GetGroupid() const { return text_or_empty(zvdbGetTableGroupid(handle)); }

ZVString ZVTable::GetOwner() const { return text_or_empty(zvdbGetTableOwner(handle)); }

// ---- Settings -------------------------------------------------------------

ZVDBRET ZVTable::SetPath(const ZVString &path) {
    kModule.check(zvdbSetTablePath(handle, path.c_str()), "Can't set the table path", __LINE__);
    return 0;
}

ZVDBRET ZVTable::SetDataExtension(const ZVString &extension) {
    kModule.check(zvdbSetTableExtension(handle, extension.c_str()), "Can't set the table Extension", __LINE__);
    return 0;
}

ZVDBRET ZVTable::SetIndexExtension(const ZVString &extension) {
    kModule.check(zvdbSetIndexExtension(handle, extension.c_str()), "Can't set the table index file Extension",
                  __LINE__);
    return 0;
}

ZVDBRET ZVTable::SetDataDefaultExtentSize(int size) {
    kModule.check(zvdbSetTableDefaultDataExtentSize(handle, uint32_t(size)),
                  "Can't set the table data file default extent size", __LINE__);
    return 0;
}

ZVDBRET ZVTable::SetIndexDefaultExtentSize(int size) {
    kModule.check(zvdbSetTableDefaultIndexExtentSize(handle, uint32_t(size)),
                  "Can't set the table index file default extent size", __LINE__);
    return 0;
}

ZVDBRET ZVTable::SetPassword(const ZVString &password) {
    kModule.check(zvdbSetTablePassword(handle, password.c_str()), "Can't set the table password", __LINE__);
    return 0;
}

ZVDBRET ZVTable::SetGroupid(const ZVString &groupid) {
    kModule.check(zvdbSetTableGroupid(handle, groupid.c_str()), "Can't set the table groupid", __LINE__);
    return 0;
}

ZVDBRET ZVTable::SetPermission(int permission) {
    kModule.check(zvdbSetTablePermission(handle, uint32_t(permission)), "Can't set the table permission mask",
                  __LINE__);
    return 0;
}

ZVDBRET ZVTable::SetOwner(const ZVString &owner) {
    kModule.check(zvdbSetTableOwner(handle, owner.IsEmpty() ? nullptr : owner.c_str()), "Can't set table owner",
                  __LINE__);
    return 0;
}

// ---- Files ----------------------------------------------------------------

ZVDBRET ZVTable::Create(const ZVString &name, int createMode) {
    kModule.check(zvdbCreateTable(handle, name.c_str(), uint32_t(createMode)), "Can't create table", __LINE__);
    return 0;
}

ZVDBRET ZVTable::Open(const ZVString &name, int openMode) {
    kModule.check(zvdbOpenTable(handle, name.c_str(), uint32_t(openMode)), "Can't open table", __LINE__);
    return 0;
}

ZVDBRET ZVTable::Close() {
    kModule.check(zvdbCloseTable(handle), "Can't close table", __LINE__);
    return 0;
}

ZVDBRET ZVTable::Remove() {
    kModule.check(zvdbRemoveTable(handle), "can't remove table", __LINE__);
    return 0;
}

ZVDBRET ZVTable::Alter(int action) {
    kModule.check(zvdbAlterTable(handle, ZVALTERACTION(action)), "Can't alter table", __LINE__);
    return 0;
}

ZVDBRET ZVTable::ResetAll() {
    kModule.check(zvdbResetAll(handle), "Reset all record buffers failed", __LINE__);
    return 0;
}

ZVDBRET ZVTable::UnlockTable() {
    kModule.check(zvdbUnlockTable(handle), "Can't release table record locks", __LINE__);
    return 0;
}

ZVDBRET ZVTable::UpdateCreateMode(int createMode) {
    kModule.check(zvdbUpdateCreateMode(handle, uint32_t(createMode)), "UpdateCreateMode failed", __LINE__);
    return 0;
}

ZVDBRET ZVTable::Attach(int dataFileNumber) {
    kModule.check(zvdbAttachTable(handle, dataFileNumber), "Can't attach table", __LINE__);
    return 0;
}

ZVDBRET ZVTable::AttachXtd(int dataFileNumber, int fieldCount, DATOBJ *fields, IFIL *ifil) {
    kModule.check(zvdbAttachTableXtd(handle, dataFileNumber, fieldCount, fields, ifil),
                  "Can't attach table (extended)", __LINE__);
    return 0;
}

ZVDBRET ZVTable::Detach() {
    kModule.check(zvdbDetachTable(handle), "Can't detach table", __LINE__);
    return 0;
}

ZVDBRET ZVTable::Rebuild(ZVREBUILD_MODE mode) {
    kModule.check(zvdbRebuildTable(handle, mode), "Can't rebuild table", __LINE__);
    return 0;
}

ZVDBRET ZVTable::SystemFilterOn(ZVSYSFILTER mode) {
    kModule.check(zvdbSystemFilterOn(handle, mode), "can't set system wide filter", __LINE__);
    return 0;
}

ZVDBRET ZVTable::SystemFilterOff(ZVSYSFILTER mode) {
    kModule.check(zvdbSystemFilterOff(handle, mode), "can't delete system wide filter", __LINE__);
    return 0;
}

ZVDBRET ZVTable::ClearAllFieldDefaultValue() {
    kModule.check(zvdbClearAllFieldDefaultValue(handle), "Can't clear all field default value", __LINE__);
    return 0;
}

ZVDBRET ZVTable::GetPadChar(char &pad, char &delimiter) const {
    unsigned char p = 0;
    unsigned char d = 0;
    kModule.check(zvdbGetPadChar(handle, &p, &d), "GetPadChar failed", __LINE__);
    pad = char(p);
    delimiter = char(d);
    return 0;
}

ZVDBRET ZVTable::SetPadChar(int pad, int delimiter) {
    kModule.check(zvdbSetPadChar(handle, (unsigned char)pad, (unsigned char)delimiter), "SetPadChar failed",
                  __LINE__);
    return 0;
}

ZVDBRET ZVTable::UpdatePadChar(int pad, int delimiter, int) {
    kModule.check(zvdbUpdatePadChar(handle, (unsigned char)pad, (unsigned char)delimiter),
                  "UpdatePadChar failed", __LINE__);
    return 0;
}

int ZVTable::GetDatno() const {
    const int datno = zvdbGetDatno(handle);
    if (datno < 0) kModule.fail(GetError(), "can't retrieve datno", __LINE__);
    return datno;
}

// An index added to the open table has no file until the table is altered:
// the call answers -1 and keeps no code, which is reported as not active.
int ZVTable::GetIdxno(int index) const {
    zvdbClearError(handle);
    const int idxno = zvdbGetIdxnoByNumber(handle, index);
    if (idxno < 0) kModule.fail(zvpp::code_or(GetError(), ZVDB_NOT_ACTIVE), "can't retrieve idxno", __LINE__);
    return idxno;
}

int ZVTable::GetIdxno(const ZVString &index) const {
    zvdbClearError(handle);
    const int idxno = zvdbGetIdxnoByName(handle, index.c_str());
    if (idxno < 0) kModule.fail(zvpp::code_or(GetError(), ZVDB_NOT_ACTIVE), "can't retrieve idxno", __LINE__);
    return idxno;
}

// ---- Fields -----------------------------------------------------------------

ZVField ZVTable::AddField(const ZVString &name, int type, int length) {
    return borrowed<ZVField>(handle, zvdbAddField(handle, name.c_str(), type, length),
                             "Cant add new field to table", __LINE__);
}

ZVField ZVTable::InsertField(int before, const ZVString &name, int type, int length) {
    return borrowed<ZVField>(handle, zvdbInsField(handle, before, name.c_str(), type, length),
                             "Cant insert new field to table", __LINE__);
}

ZVField ZVTable::InsertField(const ZVString &before, const ZVString &name, int type, int length) {
    return borrowed<ZVField>(handle, zvdbInsFieldByName(handle, before.c_str(), name.c_str(), type, length),
                             "Cant add a new field to table", __LINE__);
}

ZVDBRET ZVTable::DelField(int field) {
    kModule.check(zvdbDelField(handle, field), "Cant delete field from table", __LINE__);
    return 0;
}

ZVDBRET ZVTable::DelField(const ZVString &field) {
    kModule.check(zvdbDelFieldByName(handle, field.c_str()), "Cant delete field from table", __LINE__);
    return 0;
}

ZVDBRET ZVTable::MoveField(int from, int to) {
    kModule.check(zvdbMoveField(zvdbGetField(handle, from), to), "Cant move field", __LINE__);
    return 0;
}

ZVDBRET ZVTable::MoveField(const ZVString &field, int to) {
    const ZVField f = GetField(field);
    kModule.check(zvdbMoveField(f.GetHandle(), to), "Cant move field", __LINE__);
    return 0;
}

ZVField ZVTable::GetField(int field) const {
    return borrowed<ZVField>(handle, zvdbGetField(handle, field), "Can't retrieve field", __LINE__);
}

ZVField ZVTable::GetField(const ZVString &field) const {
    return borrowed<ZVField>(handle, zvdbGetFieldByName(handle, field.c_str()), "Can't retrieve field",
                             __LINE__);
}

int ZVTable::GetFieldNumber(const ZVString &field) const {
    const int n = zvdbGetFieldNumber(handle, field.c_str());
    if (n < 0) kModule.fail(zvdbGetError(handle), "Can't retrieve the field number", __LINE__);
    return n;
}

// ---- Indexes ----------------------------------------------------------------

ZVIndex ZVTable::AddIndex(const ZVString &name, int keyType, int duplicates, int nullKey) {
    return borrowed<ZVIndex>(handle, zvdbAddIndex(handle, name.c_str(), keyType, duplicates, nullKey),
                             "Can't add new index to table", __LINE__);
}

ZVDBRET ZVTable::DelIndex(int index) {
    kModule.check(zvdbDelIndex(handle, index), "Can't delete index", __LINE__);
    return 0;
}

ZVDBRET ZVTable::DelIndex(const ZVString &index) {
    const int n = zvdbGetIndexNbrByName(handle, index.c_str());
    if (n < 0) kModule.fail(ZVDB_NO_INDEX_NAME, "Can't delete index", __LINE__);
    return DelIndex(n);
}

ZVIndex ZVTable::GetIndex(int index) const {
    return borrowed<ZVIndex>(handle, zvdbGetIndex(handle, index), "Can't retrieve index", __LINE__);
}

ZVIndex ZVTable::GetIndex(const ZVString &index) const {
    return borrowed<ZVIndex>(handle, zvdbGetIndexByName(handle, index.c_str()), "Can't retrieve index",
                             __LINE__);
}

ZVIndex ZVTable::GetIndexByUID(unsigned uid) const {
    return borrowed<ZVIndex>(handle, zvdbGetIndexByUID(handle, uid), "Can't retrieve index", __LINE__);
}

ZVDBRET ZVTable::UpdateCndxIndex(int index, const ZVString &expression) {
    kModule.check(zvdbUpdateCndxIndex(handle, index, expression.c_str()), "UpdateCndxIndex failed", __LINE__);
    return 0;
}

ZVDBRET ZVTable::UpdateCndxIndex(const ZVString &index, const ZVString &expression) {
    kModule.check(zvdbUpdateCndxIndexByName(handle, index.c_str(), expression.c_str()), "UpdateCndxIndex failed",
                  __LINE__);
    return 0;
}

ZVDBRET ZVTable::GetCndxIndex(int index, ZVString &out) const {
    ZVHANDLE ix = zvdbGetIndex(handle, index);
    if (!ix) kModule.fail(zvdbGetError(handle), "GetCndxIndex failed", __LINE__);
    return read_condition(
        handle, out, [&] { return zvdbGetCndxIndexLength(ix); },
        [&](char *buffer, int32_t size) { return zvdbGetCndxIndex(ix, buffer, size); });
}

ZVDBRET ZVTable::GetCndxIndex(const ZVString &index, ZVString &out) const {
    const char *name = index.c_str();
    return read_condition(
        handle, out, [&] { return zvdbGetCndxIndexLengthByName(handle, name); },
        [&](char *buffer, int32_t size) { return zvdbGetCndxIndexByName(handle, name, buffer, size); });
}

// ---- Segments ---------------------------------------------------------------

ZVSegment ZVTable::GetSegment(const ZVIndex &index, int segment) const { return index.GetSegment(segment); }

ZVSegment ZVTable::AddSegment(const ZVIndex &index, const ZVField &field, int mode) {
    ZVIndex copy(index);
    return copy.AddSegment(field, mode);
}

ZVSegment ZVTable::AddSegment(const ZVIndex &index, const ZVString &field, int mode) {
    return AddSegment(index, GetField(field), mode);
}

ZVSegment ZVTable::AddSegment(const ZVIndex &index, int field, int mode) {
    return AddSegment(index, GetField(field), mode);
}

ZVSegment ZVTable::AddSegment(const ZVIndex &index, int offset, int length, int mode) {
    ZVIndex copy(index);
    return copy.AddSegment(offset, length, mode);
}

// The index is looked up before the field, each as its own statement.
ZVSegment ZVTable::AddSegment(int index, int field, int mode) {
    const ZVIndex ix = GetIndex(index);
    return AddSegment(ix, GetField(field), mode);
}

ZVSegment ZVTable::AddSegment(int index, const ZVString &field, int mode) {
    const ZVIndex ix = GetIndex(index);
    return AddSegment(ix, GetField(field), mode);
}

ZVSegment ZVTable::AddSegment(int index, const ZVField &field, int mode) {
    return AddSegment(GetIndex(index), field, mode);
}

ZVSegment ZVTable::AddSegment(const ZVString &index, const ZVString &field, int mode) {
    const ZVIndex ix = GetIndex(index);
    return AddSegment(ix, GetField(field), mode);
}

ZVSegment ZVTable::AddSegment(const ZVString &index, int field, int mode) {
    const ZVIndex ix = GetIndex(index);
    return AddSegment(ix, GetField(field), mode);
}

ZVSegment ZVTable::AddSegment(const ZVString &index, const ZVField &field, int mode) {
    return AddSegment(GetIndex(index), field, mode);
}

ZVSegment ZVTable::InsertSegment(const ZVIndex &index, int position, const ZVField &field, int mode) {
    ZVIndex copy(index);
    return copy.InsertSegment(position, field, mode);
}

ZVSegment ZVTable::InsertSegment(const ZVIndex &index, int position, const ZVString &field, int mode) {
    return InsertSegment(index, position, GetField(field), mode);
}

ZVSegment ZVTable::InsertSegment(const ZVIndex &index, int position, int field, int mode) {
    return InsertSegment(index, position, GetField(field), mode);
}

ZVSegment ZVTable::InsertSegment(const ZVIndex &index, int position, int offset, int length, int mode) {
    ZVIndex copy(index);
    return copy.InsertSegment(position, offset, length, mode);
}

ZVSegment ZVTable::InsertSegment(int index, int position, int field, int mode) {
    const ZVIndex ix = GetIndex(index);
    return InsertSegment(ix, position, GetField(field), mode);
}

ZVSegment ZVTable::InsertSegment(int index, int position, const ZVString &field, int mode) {
    const ZVIndex ix = GetIndex(index);
    return InsertSegment(ix, position, GetField(field), mode);
}

ZVSegment ZVTable::InsertSegment(const ZVString &index, int position, const ZVString &field, int mode) {
    const ZVIndex ix = GetIndex(index);
    return InsertSegment(ix, position, GetField(field), mode);
}

ZVSegment ZVTable::InsertSegment(const ZVString &index, int position, int field, int mode) {
    const ZVIndex ix = GetIndex(index);
    return InsertSegment(ix, position, GetField(field), mode);
}

ZVSegment ZVTable::InsertSegment(const ZVString &index, int position, const ZVField &field, int mode) {
    return InsertSegment(GetIndex(index), position, field, mode);
}

ZVSegment ZVTable::InsertSegment(int index, int position, const ZVField &field, int mode) {
    return InsertSegment(GetIndex(index), position, field, mode);
}

void ZVTable::DelSegment(int index, int segment) { GetIndex(index).DelSegment(segment); }

void ZVTable::DelSegment(const ZVString &index, int segment) { GetIndex(index).DelSegment(segment); }

void ZVTable::MoveSegment(ZVIndex index, int segment, int newPosition) { index.MoveSegment(segment, newPosition); }

void ZVTable::MoveSegment(int index, int segment, int newPosition) {
    GetIndex(index).MoveSegment(segment, newPosition);
}

void ZVTable::MoveSegment(const ZVString &index, int segment, int newPosition) {
    GetIndex(index).MoveSegment(segment, newPosition);
}

void ZVTable::SetIndexFilename(int index, const ZVString *path, const ZVString *name) {
    GetIndex(index).SetFilename(path, name);
}

void ZVTable::SetIndexFilename(const ZVString &index, const ZVString *path, const ZVString *name) {
    GetIndex(index).SetFilename(path, name);
}

ZVString ZVTable::GetIndexFilename(int index) const { return GetIndex(index).GetFilename(); }

ZVString ZVTable::GetIndexFilename(const ZVString &index) const { return GetIndex(index).GetFilename(); }

// ---- Filters (record objects have them; tables do not) ------------------------

ZVDBRET ZVTable::FilterRecord(const ZVString &) { kModule.fail(ZVDB_NOT_SUPPORTED, "FilterRecord failed", __LINE__); }

int ZVTable::IsFilteredRecord() const { kModule.fail(ZVDB_NOT_SUPPORTED, "IsFilteredRecord failed", __LINE__); }

ZVDBRET ZVTable::GetFilter(ZVString &) const { kModule.fail(ZVDB_NOT_SUPPORTED, "GetFilter failed", __LINE__); }

// ---- Partitions -------------------------------------------------------------

int ZVTable::PartAdminByName(char *name, ZVPART_MODE_E mode) {
    int16_t status = 0;
    kModule.check(zvdbPartAdminByName(handle, name, mode, &status), "Can't perform partition admin", __LINE__);
    return part_admin_result(mode, status);
}

int ZVTable::PartAdminByKey(void *key, ZVPART_MODE_E mode) {
    int16_t status = 0;
    kModule.check(zvdbPartAdminByKey(handle, static_cast<const char *>(key), mode, &status),
                  "Can't perform partition admin", __LINE__);
    return part_admin_result(mode, status);
}

int ZVTable::PartAdminByNumber(int number, ZVPART_MODE_E mode) {
    int16_t status = 0;
    kModule.check(zvdbPartAdminByNumber(handle, number, mode, &status), "Can't perform partition admin", __LINE__);
    return part_admin_result(mode, status);
}

// An open table that is not partitioned has no partitions: the engine
// answers -1 and no code is kept, which is reported as a table of a kind
// the call cannot use.
int ZVTable::GetLastPartition() const {
    zvdbClearError(handle);
    const int32_t n = zvdbGetLastPartition(handle);
    if (n == -1) kModule.fail(zvpp::kept_code(handle, ZVDB_BAD_KIND), "Can't get last partition rawno", __LINE__);
    return n;
}

int ZVTable::GetFirstPartition() const {
    zvdbClearError(handle);
    const int32_t n = zvdbGetFirstPartition(handle);
    if (n == -1) kModule.fail(zvpp::kept_code(handle, ZVDB_BAD_KIND), "Can't get first partition rawno", __LINE__);
    return n;
}

// ---- Clones and virtual tables ------------------------------------------------

ZVDBRET ZVTable::Clone(ZVTable &target, const ZVString &name) {
    if (zvdbCloneTable(target.GetHandle(), name.c_str(), handle) != 0)
        kModule.fail(zvdbGetError(handle), "Error Cloning table", __LINE__);
    return 0;
}

ZVDBRET ZVTable::CreateMRTTable(const ZVString &name, const ZVString &host, int createMode,
                                const ZVString &filter) {
    kModule.check(zvdbCreateMRTTable(handle, name.c_str(), host.c_str(), uint32_t(createMode), filter.c_str()),
                  "Can't create MRT table", __LINE__);
    return 0;
}

ZVDBRET ZVTable::AddMRTTable(ZVHANDLE database, const ZVString &name, const ZVString &host, unsigned number) {
    kModule.check(zvdbAddMRTTable(database, name.c_str(), host.c_str(), int32_t(number)), "Can't create MRT table",
                  __LINE__);
    return 0;
}

ZVDBRET ZVTable::RemoveVTableResource(ZVHANDLE host, int number) {
    kModule.check(zvdbRemoveVTableResource(host, number), "Can't remove MRT table resource", __LINE__);
    return 0;
}

ZVDBRET ZVTable::SetMRTTableFilter(const ZVString &filter) {
    kModule.check(zvdbSetMRTTableFilter(handle, filter.c_str()), "Can't set MRT table filter", __LINE__);
    return 0;
}

// ---- Full-text indexes --------------------------------------------------------

ZVFullTextIndex ZVTable::AddFullTextIndex(const ZVString &name) {
    return borrowed<ZVFullTextIndex>(handle, zvdbAddFTI(handle, name.c_str()), "Can't add new index to table",
                                     __LINE__);
}

ZVDBRET ZVTable::DelFullTextIndex(int index) {
    kModule.check(zvdbDelFTI(handle, index), "Can't delete index", __LINE__);
    return 0;
}

ZVDBRET ZVTable::DelFullTextIndex(const ZVString &index) {
    const int n = zvdbGetFTINbrByName(handle, index.c_str());
    if (n < 0) kModule.fail(ZVDB_NO_INDEX_NAME, "Can't delete index", __LINE__);
    return DelFullTextIndex(n);
}

ZVFullTextIndex ZVTable::GetFullTextIndex(int index) const {
    return borrowed<ZVFullTextIndex>(handle, zvdbGetFTI(handle, index), "Can't retrieve index", __LINE__);
}

ZVFullTextIndex ZVTable::GetFullTextIndex(const ZVString &index) const {
    return borrowed<ZVFullTextIndex>(handle, zvdbGetFTIByName(handle, index.c_str()), "Can't retrieve index",
                                     __LINE__);
}

void ZVTable::SetFullTextIndexOption(ZVFullTextIndex &index, unsigned short option, ZVString &text,
                                     unsigned value) {
    index.SetOption(option, text, value);
}

void ZVTable::SetFullTextIndexOption(int index, unsigned short option, ZVString &text, unsigned value) {
    GetFullTextIndex(index).SetOption(option, text, value);
}

void ZVTable::SetFullTextIndexOption(const ZVString &index, unsigned short option, ZVString &text,
                                     unsigned value) {
    GetFullTextIndex(index).SetOption(option, text, value);
}

// ---- Resources ----------------------------------------------------------------

ZVResource::ZVResource(const ZVTable &table) : handle(new_resource(table, 0, 0, nullptr)) {}

ZVResource::ZVResource(const ZVTable &table, unsigned type, unsigned number)
    : handle(new_resource(table, type, number, nullptr)) {}

ZVResource::ZVResource(const ZVTable &table, unsigned type, unsigned number, const ZVString &name)
    : handle(new_resource(table, type, number, name.c_str())) {}

ZVResource::~ZVResource() noexcept {
    if (handle) zvdbFreeResource(handle);
    handle = nullptr;
}

ZVDBRET ZVResource::Unlock() {
    kModule.check(zvdbUnlockResource(handle), "Can't unlock resource", __LINE__);
    return 0;
}

ZVDBRET ZVResource::Add(void *data, int length) {
    kModule.check(zvdbAddResource(handle, data, length), "Can't add resource", __LINE__);
    return 0;
}

ZVDBRET ZVResource::Delete() {
    kModule.check(zvdbDeleteResource(handle), "Can't delete resource", __LINE__);
    return 0;
}

ZVDBRET ZVResource::Update(void *data, int length) {
    kModule.check(zvdbUpdateResource(handle, data, length), "Can't update resource", __LINE__);
    return 0;
}

bool ZVResource::First(int lock) {
    return found(zvdbFirstResource(handle, lock), "Error finding first resource", __LINE__);
}

bool ZVResource::Next(int lock) { return found(zvdbNextResource(handle, lock), "Error finding next resource", __LINE__); }

bool ZVResource::Find(unsigned type, unsigned number, int lock) {
    return found(zvdbFindResource(handle, type, number, lock), "Error finding resource by type and number",
                 __LINE__);
}

bool ZVResource::Find(const ZVString &name, int lock) {
    return found(zvdbFindResourceByName(handle, name.c_str(), lock), "Error finding resource by name", __LINE__);
}

int ZVResource::IsLocked() const { return zvdbIsResourceLocked(handle); }

unsigned ZVResource::GetType() const { return zvdbGetResourceType(handle); }

ZVDBRET ZVResource::SetType(unsigned type) {
    kModule.check(zvdbSetResourceType(handle, type), "Error setting resource type", __LINE__);
    return 0;
}

unsigned ZVResource::GetNumber() const { return zvdbGetResourceNumber(handle); }

ZVDBRET ZVResource::SetNumber(unsigned number) {
    kModule.check(zvdbSetResourceNumber(handle, number), "Error setting resource number", __LINE__);
    return 0;
}

ZVString ZVResource::GetName() const { return text_or_empty(zvdbGetResourceName(handle)); }

ZVDBRET ZVResource::SetName(const ZVString &name) {
    kModule.check(zvdbSetResourceName(handle, name.c_str()), "Error setting resource name", __LINE__);
    return 0;
}

int ZVResource::GetDataLength() const { return zvdbGetResourceDataLength(handle); }

const void *ZVResource::GetData() const { return zvdbGetResourceData(handle); }

ZVDBRET ZVResource::SetData(void *data, int length) {
    kModule.check(zvdbSetResourceData(handle, data, length), "Error setting resource data", __LINE__);
    return 0;
}

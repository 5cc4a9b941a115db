// ZVIndex, ZVFullTextIndex and ZVFullTextIndexDictionary.
//
// An index or full-text index object names a handle that belongs to its
// table: copies share it and the destructor leaves it to the table. The
// segments it hands out borrow handles of the index in the same way. A
// dictionary object owns its handle: it allocates it on the handle of a
// session, database or table object and frees it with itself.
#include "objapi/zvppschm.h"

namespace {

constexpr zvpp::Module kModule("objapi/zvppindx");

using zvpp::checked;
using zvpp::kept_code;

constexpr const char *kAddSegment = "Can't add index segment";
constexpr const char *kInsertSegment = "Can't insert index segment";

// A segment handle answered by a call on the index as an object; null
// throws the code the call kept.
ZVSegment segment_object(ZVHANDLE index, ZVHANDLE segment, const char *message, int line) {
    if (!segment) kModule.fail(kept_code(index, ZVDB_NO_SEGMENT), message, line);
    ZVSegment s;
    s.SetHandle(segment);
    return s;
}

}  // namespace

/* ------------------------------------------------------------------------ */
/* Index.                                                                    */
/* ------------------------------------------------------------------------ */

ZVIndex::ZVIndex() = default;

ZVIndex::ZVIndex(const ZVIndex &other) : ZVBase() { handle = other.handle; }

ZVIndex::~ZVIndex() noexcept = default;

ZVIndex &ZVIndex::operator=(const ZVIndex &other) {
    handle = other.handle;
    return *this;
}

int ZVIndex::GetKeyLength() const { return zvdbGetIndexKeyLength(handle); }

int ZVIndex::GetKeyType() const { return zvdbGetIndexKeyType(handle); }

int ZVIndex::GetEmptyChar() const { return zvdbGetIndexEmptyChar(handle); }

int ZVIndex::GetDuplicateFlag() const { return zvdbGetIndexDuplicateFlag(handle); }

int ZVIndex::GetNullFlag() const { return zvdbGetIndexNullFlag(handle); }

int ZVIndex::GetTemporaryFlag() const { return zvdbGetIndexTemporaryFlag(handle); }

ZVDBRET ZVIndex::SetEmptyChar(int value) {
    return checked(kModule, zvdbSetIndexEmptyChar(handle, value), "Can't set the index empty character",
                   __LINE__);
}

ZVDBRET ZVIndex::SetDuplicateFlag(int flag) {
    return checked(kModule, zvdbSetIndexDuplicateFlag(handle, flag), "Can't set the index duplicate flag",
                   __LINE__);
}

ZVDBRET ZVIndex::SetNullFlag(int flag) {
    return checked(kModule, zvdbSetIndexNullFlag(handle, flag), "Can't set the index nul flag", __LINE__);
}

ZVDBRET ZVIndex::SetTemporaryFlag(int flag) {
    return checked(kModule, zvdbSetIndexTemporaryFlag(handle, flag), "Can't set the index temporary flag",
                   __LINE__);
}

int ZVIndex::GetSegmentCount() const { return zvdbGetIndexSegmentCount(handle); }

// The field's handle comes through its virtual GetHandle, so a derived
// field object may supply another.
ZVSegment ZVIndex::AddSegment(const ZVField &field, int mode) {
    return segment_object(handle, zvdbAddSegment(handle, field.GetHandle(), mode), kAddSegment, __LINE__);
}

ZVSegment ZVIndex::AddSegment(int offset, int length, int mode) {
    return segment_object(handle, zvdbAddSegmentEx(handle, offset, length, mode), kAddSegment, __LINE__);
}

ZVSegment ZVIndex::InsertSegment(int position, const ZVField &field, int mode) {
    return segment_object(handle, zvdbInsSegment(handle, position, field.GetHandle(), mode), kInsertSegment,
                          __LINE__);
}

ZVSegment ZVIndex::InsertSegment(int position, int offset, int length, int mode) {
    return segment_object(handle, zvdbInsSegmentEx(handle, position, offset, length, mode), kInsertSegment,
                          __LINE__);
}

ZVDBRET ZVIndex::DelSegment(int segment) {
    return checked(kModule, zvdbDelSegment(handle, segment), "Can't delete index segment", __LINE__);
}

ZVSegment ZVIndex::GetSegment(int segment) const {
    return segment_object(handle, zvdbGetSegment(handle, segment), "Can't retrieve the index segment",
                          __LINE__);
}

int ZVIndex::GetNumber() const {
    int32_t n = 0;
    checked(kModule, zvdbGetIndexNbr(handle, &n), "Can't retrieve index position in table indices list",
            __LINE__);
    return n;
}

// The name the index handle keeps; reading it keeps no code, and without a
// handle nothing is asked at all.
ZVString ZVIndex::GetName() const {
    return zvpp::text_of(handle ? zvdbGetIndexName(handle) : nullptr);
}

unsigned ZVIndex::GetUID() const {
    uint32_t uid = 0;
    const char *name = handle ? zvdbGetIndexName(handle) : nullptr;
    checked(kModule, zvdbGetIndexUID(handle, name, &uid), "Can't get the index UID", __LINE__);
    return uid;
}

ZVDBRET ZVIndex::SetName(const ZVString &name) {
    return checked(kModule, zvdbSetIndexName(handle, name.c_str()), "Can't set the index name", __LINE__);
}

ZVDBRET ZVIndex::SetKeyType(int keyType) {
    return checked(kModule, zvdbSetIndexKeyType(handle, keyType), "Can't set the index key type", __LINE__);
}

ZVDBRET ZVIndex::SetFilename(const ZVString *path, const ZVString *name) {
    return checked(kModule,
                   zvdbSetIndexFilename(handle, path ? path->c_str() : nullptr, name ? name->c_str() : nullptr),
                   "Can't set the index file name", __LINE__);
}

ZVString ZVIndex::GetFilename() const { return zvpp::text_of(zvdbGetIndexFilename(handle)); }

// The failure's code is the one this object's virtual GetError reports. An
// index added to an open table has no file until the table is altered: the
// call answers -1 and keeps no code, which is reported as not active.
int ZVIndex::GetIdxno() const {
    zvdbClearError(handle);
    const int idxno = zvdbGetIdxno(handle);
    if (idxno < 0) {
        kModule.fail(zvpp::code_or(GetError(), ZVDB_NOT_ACTIVE), "Can't retrieve the index file number", __LINE__);
    }
    return idxno;
}

unsigned ZVIndex::GetStatus() const { return zvdbGetIndexStatus(handle); }

// Both steps go through the virtual calls, so a derived class that hands
// out its own segments moves them.
void ZVIndex::MoveSegment(int segment, int newPosition) { GetSegment(segment).MoveSegment(newPosition); }

ZVSegment ZVIndex::AddJSONSegment(const ZVField &field, char *keyPath, int valueType, int length) {
    return segment_object(handle, zvdbAddJSONSegment(handle, field.GetHandle(), keyPath, valueType, length),
                          "Can't add index JSON segment", __LINE__);
}

/* ------------------------------------------------------------------------ */
/* Full-text index. This library has no full-text engine: most of these     */
/* calls fail with 4054, which they pass on.                                 */
/* ------------------------------------------------------------------------ */

ZVFullTextIndex::ZVFullTextIndex() = default;

ZVFullTextIndex::ZVFullTextIndex(const ZVFullTextIndex &other) : ZVBase() { handle = other.handle; }

ZVFullTextIndex::~ZVFullTextIndex() noexcept = default;

ZVFullTextIndex &ZVFullTextIndex::operator=(const ZVFullTextIndex &other) {
    handle = other.handle;
    return *this;
}

ZVDBRET ZVFullTextIndex::AddField(const ZVField &field, unsigned mode) {
    return checked(kModule, zvdbAddFTIField(handle, field.GetHandle(), mode),
                   "Can't add field to full text index", __LINE__);
}

int ZVFullTextIndex::GetFieldCount() const {
    const int count = zvdbGetFTIFieldCount(handle);
    if (count < 0) kModule.fail(kept_code(handle, ZVDB_NO_FTI), "Can't get full text index field count", __LINE__);
    return count;
}

ZVField ZVFullTextIndex::GetField(int n) const {
    ZVHANDLE field = zvdbGetFTIField(handle, n);
    if (!field) kModule.fail(kept_code(handle, ZVDB_NO_FTI), "Can't retrieve the Full Text index field", __LINE__);
    ZVField f;
    f.SetHandle(field);
    return f;
}

// The record-level call answers -1 on failure; no field has a mode below 1.
int ZVFullTextIndex::GetFieldMode(int n) const {
    const int mode = zvdbGetFTIFieldMode(handle, n);
    if (mode <= 0) {
        kModule.fail(kept_code(handle, ZVDB_NO_FTI), "Can't retrieve the Full Text index field mode", __LINE__);
    }
    return mode;
}

unsigned ZVFullTextIndex::GetStatus() const { return zvdbGetFTIStatus(handle); }

ZVDBRET ZVFullTextIndex::SetOption(unsigned short option, ZVString &text, unsigned value) {
    return checked(kModule, zvdbSetFTIOption(handle, option, text.c_str(), value),
                   "Can't set the Full Text index option", __LINE__);
}

// The record-level call reports no number, only its result (4054 in this
// library); numbers start at 0.
int ZVFullTextIndex::GetNumber() const {
    checked(kModule, zvdbGetFTINbr(handle), "Can't get the Full Text index number", __LINE__);
    return 0;
}

ZVString ZVFullTextIndex::GetName() const {
    const char *name = zvdbGetFTIName(handle);
    if (!name) kModule.fail(kept_code(handle, ZVDB_NO_FTI), "Can't get the Full Text index name", __LINE__);
    return ZVString(name);
}

/* ------------------------------------------------------------------------ */
/* Full-text dictionary.                                                     */
/* ------------------------------------------------------------------------ */

namespace {

ZVHANDLE dictionary_on(const ZVBase &owner) {
    ZVHANDLE dict = zvdbAllocFTIDict(owner.GetHandle());
    if (!dict) kModule.fail(ZVDB_NO_MEMORY, "Can't allocate Full Text Index Dictionary handle", __LINE__);
    return dict;
}

}  // namespace

ZVFullTextIndexDictionary::ZVFullTextIndexDictionary(const ZVSession &session) {
    handle = dictionary_on(session);
}

ZVFullTextIndexDictionary::ZVFullTextIndexDictionary(const ZVDatabase &database) {
    handle = dictionary_on(database);
}

ZVFullTextIndexDictionary::ZVFullTextIndexDictionary(const ZVTable &table) { handle = dictionary_on(table); }

ZVFullTextIndexDictionary::~ZVFullTextIndexDictionary() noexcept {
    if (handle) zvdbFreeFTIDict(handle);
    handle = nullptr;
}

ZVDBRET ZVFullTextIndexDictionary::SetOption(unsigned short option, ZVString &text, unsigned value) {
    return checked(kModule, zvdbSetFTIDictOption(handle, option, text.c_str(), value),
                   "Can't set the Full Text index Dictionary option", __LINE__);
}

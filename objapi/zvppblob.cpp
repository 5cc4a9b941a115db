// ZVBlob: bytes owned by the object, in a tagZVBLOB of its own.
//
// Every constructor makes the empty blob first and releases it again when
// setting the content throws. Copying an empty blob (no used bytes) empties
// the target instead of handing zvdbBlobSet a source it refuses. Offsets and
// sizes given by the caller are checked before any byte moves.
#include <cstdint>
#include <cstring>

#include "objapi/zvppxcep.h"

namespace {

constexpr zvpp::Module kModule("objapi/zvppblob");

constexpr const char *kNoBlobData = "Can't allocate blob data";

tagZVBLOB *new_blob(int line) {
    tagZVBLOB *b = zvdbBlobAlloc(0);
    if (!b) kModule.fail(ZVDB_NO_MEMORY, "Error constructing a blob object", line);
    return b;
}

// Runs set on a blob just made; releases the blob when set throws.
template <typename Set>
void fill(tagZVBLOB *&blob, Set &&set) {
    try {
        set();
    } catch (...) {
        zvdbBlobFree(blob);
        blob = nullptr;
        throw;
    }
}

}  // namespace

ZVBlob::ZVBlob() : blob(new_blob(49)) {}

ZVBlob::ZVBlob(const void *data, int size) : blob(new_blob(64)) {
    fill(blob, [&] { SetBlob(data, size); });
}

ZVBlob::ZVBlob(const ZVString &text) : blob(new_blob(80)) {
    fill(blob, [&] { SetBlob(text); });
}

ZVBlob::ZVBlob(tagZVBLOB *source) : blob(new_blob(96)) {
    fill(blob, [&] { SetBlob(source); });
}

ZVBlob::ZVBlob(const ZVBlob &other) : blob(new_blob(112)) {
    fill(blob, [&] { SetBlob(other); });
}

ZVBlob::~ZVBlob() noexcept { zvdbBlobFree(blob); }

void ZVBlob::SetBlob(const void *data, int size) {
    kModule.check(zvdbBlobSet(blob, data, size), "Can't set blob", 356);
}

void ZVBlob::SetBlob(tagZVBLOB *source) {
    if (!source) kModule.fail(ZVDB_BAD_KIND, "Can't set blob", 320);
    if (source == blob) return;
    if (source->used <= 0)
        zvdbBlobClear(blob);
    else
        SetBlob(source->data, source->used);
}

void ZVBlob::SetBlob(const ZVBlob &other) { SetBlob(other.blob); }

void ZVBlob::SetBlob(const ZVString &text) { SetBlob(text.c_str(), text.Length() + 1); }

ZVBlob &ZVBlob::operator=(tagZVBLOB *source) {
    SetBlob(source);
    return *this;
}

ZVBlob &ZVBlob::operator=(const ZVBlob &other) {
    SetBlob(other.blob);
    return *this;
}

void ZVBlob::GetBlob(tagZVBLOB *out) const {
    if (blob->used <= 0)
        kModule.check(zvdbBlobClear(out), "Can't get blob", 272);
    else
        kModule.check(zvdbBlobSet(out, blob->data, blob->used), "Can't get blob", 272);
}

void ZVBlob::GetBlob(void *&data, int &size) const {
    data = _zvdb_free(data);
    size = 0;
    if (blob->used <= 0) return;
    void *copy = _zvdb_alloc(blob->used, 1);
    if (!copy) kModule.fail(ZVDB_NO_MEMORY, kNoBlobData, 296);
    std::memcpy(copy, blob->data, size_t(blob->used));
    data = copy;
    size = blob->used;
}

void ZVBlob::UpdateBlob(const void *data, int size, int offset) {
    if (size < 0 || offset < 0 || int64_t(offset) + size > INT32_MAX)
        kModule.fail(ZVDB_BAD_ARGUMENT, "Can't update blob", __LINE__);
    if (size > 0 && !data) kModule.fail(ZVDB_NULL_ARGUMENT, "Can't update blob", __LINE__);
    int end = offset + size;
    if (end > blob->allocated) {
        void *grown = _zvdb_realloc(blob->data, 1, blob->allocated, end);
        if (!grown) kModule.fail(ZVDB_NO_MEMORY, kNoBlobData, 393);
        blob->data = grown;
        blob->allocated = end;
    }
    blob->used = end;
    if (size > 0) std::memmove(static_cast<char *>(blob->data) + offset, data, size_t(size));
}

void ZVBlob::Resize(int size) {
    if (size == 0) {
        zvdbBlobClear(blob);
        return;
    }
    void *fresh = _zvdb_alloc(size, 1);
    if (!fresh) kModule.fail(ZVDB_NO_MEMORY, kNoBlobData, 462);
    int kept = blob->used < size ? blob->used : size;
    if (kept > 0) std::memcpy(fresh, blob->data, size_t(kept));
    _zvdb_free(blob->data);
    blob->data = fresh;
    blob->used = size;
    blob->allocated = size;
}

void ZVBlob::AsString(ZVString &out) const {
    int n = blob->used > 0 ? blob->used : 0;
    out.Alloc(n);
    if (n > 0) std::memcpy(&out[0], blob->data, size_t(n));
}

int ZVBlob::GetSize() const { return zvdbBlobGetSize(blob); }

bool ZVBlob::operator<(const ZVBlob &other) const { return zvdbBlobCmp(blob, other.blob) < 0; }
bool ZVBlob::operator<=(const ZVBlob &other) const { return zvdbBlobCmp(blob, other.blob) <= 0; }
bool ZVBlob::operator>(const ZVBlob &other) const { return zvdbBlobCmp(blob, other.blob) > 0; }
bool ZVBlob::operator>=(const ZVBlob &other) const { return zvdbBlobCmp(blob, other.blob) >= 0; }
bool ZVBlob::operator==(const ZVBlob &other) const { return zvdbBlobCmp(blob, other.blob) == 0; }
bool ZVBlob::operator!=(const ZVBlob &other) const { return zvdbBlobCmp(blob, other.blob) != 0; }

// Blob values.
//
// A tagZVBLOB owns its buffer. Invariants: 0 <= used <= allocated, and data
// is NULL exactly when allocated is 0. The record and the buffer both come
// from _zvdb_alloc and are released by zvdbBlobFree.
#include <cstring>

#include "zarvo/zvdb.h"

namespace {

void release_buffer(tagZVBLOB *blob) {
    blob->data = _zvdb_free(blob->data);
    blob->used = 0;
    blob->allocated = 0;
}

}  // namespace

extern "C" {

ZV_API tagZVBLOB *zvdbBlobAlloc(int32_t size) {
    auto *blob = static_cast<tagZVBLOB *>(_zvdb_alloc(1, sizeof(tagZVBLOB)));
    if (!blob) return nullptr;
    if (size >= 1) {
        blob->data = _zvdb_alloc(size, 1);
        if (!blob->data) {
            _zvdb_free(blob);
            return nullptr;
        }
        blob->allocated = size;
    }
    return blob;
}

ZV_API void zvdbBlobFree(tagZVBLOB *blob) {
    if (!blob) return;
    _zvdb_free(blob->data);
    _zvdb_free(blob);
}

ZV_API void *zvdbBlobGetData(const tagZVBLOB *blob) { return blob ? blob->data : nullptr; }

ZV_API int32_t zvdbBlobGetSize(const tagZVBLOB *blob) { return blob ? blob->used : 0; }

ZV_API ZVDBRET zvdbBlobSet(tagZVBLOB *blob, const void *data, int32_t size) {
    if (!blob || !data) return ZVDB_NULL_ARGUMENT;
    if (size < 1) return ZVDB_BUFFER_SMALL;
    if (size > blob->allocated || !blob->data) {
        release_buffer(blob);
        blob->data = _zvdb_alloc(size, 1);
        if (!blob->data) return ZVDB_NO_MEMORY;
        blob->allocated = size;
    }
    std::memmove(blob->data, data, size_t(size));
    blob->used = size;
    return 0;
}

ZV_API int zvdbBlobCmp(const tagZVBLOB *a, const tagZVBLOB *b) {
    if (!a || !b) return (a ? 1 : 0) - (b ? 1 : 0);
    if (a->used != b->used) return a->used < b->used ? -1 : 1;
    if (a->used <= 0) return 0;
    // A caller-built blob may claim bytes without a buffer: it orders first.
    if (!a->data || !b->data) return (a->data ? 1 : 0) - (b->data ? 1 : 0);
    int c = std::memcmp(a->data, b->data, size_t(a->used));
    return (c > 0) - (c < 0);
}

ZV_API ZVDBRET zvdbBlobClear(tagZVBLOB *blob) {
    if (!blob) return ZVDB_NULL_ARGUMENT;
    release_buffer(blob);
    return 0;
}

}  // extern "C"

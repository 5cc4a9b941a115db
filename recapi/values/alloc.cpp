// Record-level allocator.
//
// Every block of the record-level API, its value types and its matcher comes
// from here. Three conventions hold for all callers: a new block is always
// zero-filled; a count or size below one yields no block (NULL, not an
// error); and the free routines return NULL, so that `p = _zvdb_free(p)`
// releases a block and clears the pointer at once.
//
// Blocks are taken through the engine's counted platform allocation (mballc),
// so tests can make the nth allocation fail. Byte counts are formed in size_t
// from the 32-bit arguments, so a large count times a large size never wraps
// into a short block.
#include <cstring>

#include "engine/core/pools.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"

namespace {

// A zero-filled block of count x size bytes; both are at least 1.
void *zeroed_block(size_t count, size_t size) { return mballc(count, size); }

}  // namespace

extern "C" {

ZV_API void *_zvdb_alloc(int32_t count, int32_t size) {
    if (count < 1 || size < 1) return nullptr;
    return zeroed_block(size_t(count), size_t(size));
}

ZV_API void *_zvdb_alloc_ex(int32_t count, int32_t size, int32_t) {
    return _zvdb_alloc(count, size);
}

ZV_API void *_zvdb_free(void *p) {
    if (p) mbfree(p);
    return nullptr;
}

ZV_API void *_zvdb_free_ex(void *p, int32_t mode) {
    // Mode 2 lets callers pass the sentinel 1 ("no block of ours") safely.
    if (mode == 2 && p == reinterpret_cast<void *>(uintptr_t{1})) return nullptr;
    return _zvdb_free(p);
}

ZV_API void *_zvdb_realloc(void *p, int32_t elemsize, int32_t oldcount, int32_t newcount) {
    if (!p) return _zvdb_alloc(elemsize, newcount);
    if (newcount <= oldcount) return p;
    int64_t oldbytes = int64_t(oldcount) * int64_t(elemsize);
    if (oldbytes < 1 || elemsize < 1) return nullptr;
    void *grown = zeroed_block(size_t(newcount), size_t(elemsize));
    if (!grown) return nullptr;
    std::memcpy(grown, p, size_t(oldbytes));
    mbfree(p);
    return grown;
}

ZV_API char *_zvdb_stralloc(int32_t length) {
    if (length < 0) return nullptr;
    return static_cast<char *>(zeroed_block(size_t(length) + 1, 1));
}

ZV_API uint16_t *_zvdb_wstralloc(int32_t length) {
    if (length < 0) return nullptr;
    return static_cast<uint16_t *>(zeroed_block(size_t(length) + 1, 2));
}

ZV_API char *_zvdb_strdup(const char *text) {
    if (!text) return nullptr;
    size_t n = std::strlen(text);
    if (n > size_t(INT32_MAX)) return nullptr;
    char *copy = _zvdb_stralloc(int32_t(n));
    if (copy) std::memcpy(copy, text, n + 1);
    return copy;
}

}  // extern "C"

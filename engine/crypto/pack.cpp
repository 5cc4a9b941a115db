// Byte groups to 32-bit words and back, first byte most significant: how
// the cipher context hands blocks to the ciphers that work on words.
#include "engine/core/bytes.h"
#include "engine/crypto/hashes.h"

namespace zv {

void pack32(const unsigned char *bytes, uint32_t *words, int32_t count) {
    if (!bytes || !words) return;
    for (int32_t i = 0; i < count; i++) words[i] = be::get32(bytes + 4 * i);
}

void unpack32(const uint32_t *words, int32_t count, unsigned char *bytes) {
    if (!bytes || !words) return;
    for (int32_t i = 0; i < count; i++) be::put32(bytes + 4 * i, words[i]);
}

}  // namespace zv

// ---- Exported entries ---------------------------------------------------------

ZV_API void _pack32(const unsigned char *bytes, uint32_t *words, int32_t count) { zv::pack32(bytes, words, count); }
ZV_API void _unpack32(const uint32_t *words, int32_t count, unsigned char *bytes) {
    zv::unpack32(words, count, bytes);
}

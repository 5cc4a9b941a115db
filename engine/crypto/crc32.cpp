// CRC-32 of IEEE 802.3 in its reflected form (polynomial 0xEDB88320): the
// byte step, the standard buffer CRC that continues from an earlier
// result, and the word forms that make page IVs from file offsets.
#include "engine/crypto/hashes.h"

namespace zv {

uint32_t crc32_buffer(const void *buf, size_t len, uint32_t crc) {
    if (!buf || len == 0) return crc;
    const unsigned char *p = static_cast<const unsigned char *>(buf);
    uint32_t reg = ~crc;
    for (size_t i = 0; i < len; i++) reg = crc32_step(p[i], reg);
    return ~reg;
}

uint32_t crc32_uint(uint32_t word, uint32_t crc) {
    for (int i = 0; i < 4; i++) crc = crc32_step(static_cast<unsigned char>(word >> (8 * i)), crc);
    return crc;
}

uint32_t crc32_block(const uint32_t *words, int32_t count, uint32_t crc) {
    if (!words) return crc;
    for (int32_t i = 0; i < count; i++) crc = crc32_uint(words[i], crc);
    return crc;
}

void expand32(uint32_t value, uint32_t *out, int32_t count) {
    if (!out) return;
    uint32_t c = 0xFFFFFFFFu;
    for (int32_t i = 0; i < count; i++) {
        c = crc32_uint(value, c);
        out[i] = ~c;
    }
}

}  // namespace zv

// ---- Exported entries ---------------------------------------------------------

ZV_API uint32_t zvcrc32(unsigned char byte, uint32_t crc) { return zv::crc32_step(byte, crc); }
ZV_API uint32_t crc32buffer(const void *buf, uint32_t len, uint32_t crc) { return zv::crc32_buffer(buf, len, crc); }
ZV_API uint32_t crc32uint(uint32_t word, uint32_t crc) { return zv::crc32_uint(word, crc); }
ZV_API uint32_t zvc32block(const uint32_t *words, int32_t count, uint32_t crc) {
    return zv::crc32_block(words, count, crc);
}
ZV_API void _expand32(uint32_t value, uint32_t *out, int32_t count) { zv::expand32(value, out, count); }

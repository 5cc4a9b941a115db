// CRC-32 of IEEE 802.3 in its reflected form (polynomial 0xEDB88320): the
// byte step, the standard buffer CRC that continues from an earlier
// result, and the word forms that make page IVs from file offsets.
#include "engine/core/bytes.h"
#include "engine/crypto/hash_hw.h"
#include "engine/crypto/hashes.h"
#include "engine/crypto/road.h"

namespace zv {

namespace {

// Buffers from this length on are folded with carry-less multiplication
// where the processor has it (below it the set-up costs more than it saves).
constexpr size_t kFoldFrom = 128;

// Four table steps at once: the register XOR four bytes (first byte
// lowest) through slices 3 .. 0.
inline uint32_t crc32_word(uint32_t reg, uint32_t bytes) {
    const uint32_t x = reg ^ bytes;
    return crc_slices[3][x & 0xFF] ^ crc_slices[2][(x >> 8) & 0xFF] ^ crc_slices[1][(x >> 16) & 0xFF] ^
           crc_slices[0][x >> 24];
}

}  // namespace

uint32_t crc32_update(uint32_t reg, const unsigned char *p, size_t len) {
    size_t i = 0;
    for (; i + 8 <= len; i += 8) {
        const uint32_t a = reg ^ le::get32(p + i), b = le::get32(p + i + 4);
        reg = crc_slices[7][a & 0xFF] ^ crc_slices[6][(a >> 8) & 0xFF] ^ crc_slices[5][(a >> 16) & 0xFF] ^
              crc_slices[4][a >> 24] ^ crc_slices[3][b & 0xFF] ^ crc_slices[2][(b >> 8) & 0xFF] ^
              crc_slices[1][(b >> 16) & 0xFF] ^ crc_slices[0][b >> 24];
    }
    for (; i < len; i++) reg = crc32_step(p[i], reg);
    return reg;
}

uint32_t crc32_buffer(const void *buf, size_t len, uint32_t crc) {
    if (!buf || len == 0) return crc;
    const unsigned char *p = static_cast<const unsigned char *>(buf);
    uint32_t reg = ~crc;
    if (len >= kFoldFrom && crypto_road().clmul) {
        const size_t whole = len & ~size_t(15);
        reg = crc32_hw_fold(reg, p, whole);
        p += whole;
        len -= whole;
    }
    return ~crc32_update(reg, p, len);
}

uint32_t crc32_uint(uint32_t word, uint32_t crc) { return crc32_word(crc, word); }

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

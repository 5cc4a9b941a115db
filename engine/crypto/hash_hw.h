// SHA-1, SHA-256 and CRC-32 on the processor's SHA and carry-less multiply
// instructions, for the callers that have checked crypto_road().
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv {

// `blocks` 64-byte blocks into the state words (SHA-NI).
void sha1_hw_blocks(uint32_t state[5], const unsigned char *p, size_t blocks);
void sha256_hw_blocks(uint32_t state[8], const unsigned char *p, size_t blocks);

// The reflected CRC-32 register after `len` bytes (a multiple of 16, at
// least 64) from register `reg`, without inversion: the same as the table
// steps over those bytes (PCLMULQDQ).
uint32_t crc32_hw_fold(uint32_t reg, const unsigned char *p, size_t len);

}  // namespace zv

// AES and RIJ over many blocks on the processor's AES instructions, for the
// callers that have checked crypto_road().aes.
//
// The key schedule is the portable one (RijSchedule): its round-key words,
// laid in memory, are the round keys of the instructions (a column per word,
// row 0 in the lowest byte), and its decryption keys are already those of
// the equivalent inverse cipher. Blocks are whole 16-byte blocks; `rij`
// selects the RIJ byte order, where every 4-byte group of the data is taken
// most significant byte first. Chaining registers (iv, 16 bytes) are in
// column order, the bytes of a context's IV words as they lie in memory.
// in and out may be the same buffer.
#pragma once

#include <cstddef>

#include "engine/crypto/ciphers.h"

namespace zv {

void aes_hw_ecb(const RijSchedule *s, bool encrypt, bool rij, const unsigned char *in, unsigned char *out,
                size_t blocks);
// CBC: iv is the register on entry and the last cipher block on return.
void aes_hw_cbc_encrypt(const RijSchedule *s, bool rij, unsigned char iv[16], const unsigned char *in,
                        unsigned char *out, size_t blocks);
void aes_hw_cbc_decrypt(const RijSchedule *s, bool rij, unsigned char iv[16], const unsigned char *in,
                        unsigned char *out, size_t blocks);
// OFB on whole blocks: iv is the register, advanced once per block; each
// data block is XORed with the register's bytes in buffer order.
void aes_hw_ofb(const RijSchedule *s, bool rij, unsigned char iv[16], const unsigned char *in, unsigned char *out,
                size_t blocks);
// count independent CBC chains enciphered side by side: chain i is the
// `blocks` blocks at in + i * stride (out + i * stride), begun from ivs[i].
// The chains of separate units are what lets CBC encryption overlap.
void aes_hw_cbc_encrypt_units(const RijSchedule *s, bool rij, const unsigned char (*ivs)[16],
                              const unsigned char *in, unsigned char *out, size_t stride, size_t blocks,
                              size_t count);

}  // namespace zv

// The cipher context inside the library: what QVSInit, QVSEncrypt,
// QVSDecrypt and QVSFinal do, under hidden names for the library's own
// callers (master key, file encryption, key change).
#pragma once

#include <cstdint>

#include "zarvo/qvs.h"

namespace zv {

int qvs_init(QVSCTX *ctx, int32_t alg, int32_t mode, const unsigned char *key, int32_t keylen,
             const unsigned char *iv, int32_t ivlen);
int qvs_encrypt(QVSCTX *ctx, unsigned char *buf, int32_t len);
int qvs_decrypt(QVSCTX *ctx, unsigned char *buf, int32_t len);
int qvs_final(QVSCTX *ctx);
// Whether QVSInit takes a key of len bytes for the algorithm (2..8).
bool qvs_key_length_ok(int32_t alg, int32_t len);
// A line typed at the terminal without echo, after the prompt (the C
// library's static buffer; null when no terminal can be read).
char *get_password(const char *prompt);
// Loads a new IV into the chaining register of a prepared context (the
// first block of iv, as QVSInit loads it) and restarts the OFB stream; the
// key schedule stays. 0, or the QVSInit result for a context without a
// cipher (2), a null iv or a short one (5).
int qvs_set_iv(QVSCTX *ctx, const unsigned char *iv, int32_t ivlen);

}  // namespace zv

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

}  // namespace zv

// MDC: a 16-byte block cipher built on MD5 with cipher-text feedback.
//
// The schedule is a running MD5 state, started and fed the key. Per block,
// in both directions: finish the running MD5 in place (md5_round), XOR the
// block words with the state words A B C D (the key stream), then feed the
// cipher-text block into the state as 16 bytes, last byte first. Encryption
// and decryption therefore keep identical states, and every block's key
// stream depends on the key and on all cipher text before it. Block words
// hold their bytes first byte most significant, so the key stream in buffer
// bytes is the MD5 digest with every 4-byte group reversed.
#include <cstring>

#include "engine/crypto/ciphers.h"
#include "engine/crypto/hashes.h"
#include "engine/crypto/wipe.h"

namespace zv {

namespace {

// The core of both directions; `cipher` is the cipher-text block (the
// output when encrypting, the input when decrypting).
void MDCCipher(QVSMD5CTX *md, const uint32_t *in, uint32_t *out, bool encrypting) {
    md5_round(md);
    uint32_t res[4], ct[4];
    for (int i = 0; i < 4; i++) res[i] = in[i] ^ md->state[i];
    memcpy(ct, encrypting ? res : in, sizeof ct);
    // Byte 15 of the block is the low byte of word 3: walk the words from
    // the last, each from its least significant byte.
    unsigned char rev[16];
    for (int i = 0; i < 16; i++) rev[i] = static_cast<unsigned char>(ct[3 - i / 4] >> (8 * (i % 4)));
    md5_update(md, rev, sizeof rev);
    memcpy(out, res, sizeof res);
    secure_zero(res, sizeof res);
}

}  // namespace

int MDCInit(void *schedule, const unsigned char *key, int32_t len) {
    if (!schedule || !key || len < 0) return 0;
    QVSMD5CTX *md = static_cast<QVSMD5CTX *>(schedule);
    md5_init(md);
    md5_update(md, key, size_t(len));
    return 1;
}

void MDCEncrypt(void *schedule, const uint32_t *in, uint32_t *out) {
    MDCCipher(static_cast<QVSMD5CTX *>(schedule), in, out, true);
}

void MDCDecrypt(void *schedule, const uint32_t *in, uint32_t *out) {
    MDCCipher(static_cast<QVSMD5CTX *>(schedule), in, out, false);
}

}  // namespace zv

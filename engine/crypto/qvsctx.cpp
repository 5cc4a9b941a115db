// The cipher context: one interface over every block cipher of the engine.
//
// QVSInit picks the cipher's routines and block size from the algorithm id,
// checks the key length and builds the schedule inside the context; the
// modes run over whole blocks (ECB, CBC) or bytes (OFB). Moving a block
// between the buffer and a cipher: with the byte-order flag clear, each 4
// bytes become a word, first byte most significant; with it set (AES) the
// bytes cross as they stand. The IV register and the OFB key-stream block
// use the same conversion as the data. Invariants: a context holds a cipher
// exactly when both routine pointers are set, and then blkwords is 2 or 4;
// 0 < ofbpos < 4 * blkwords while an OFB key-stream block is in use, else
// ofbpos <= 0 (a new block is due).
#include "engine/crypto/qvsctx.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "engine/core/bytes.h"
#include "engine/crypto/aes_hw.h"
#include "engine/crypto/ciphers.h"
#include "engine/crypto/hashes.h"
#include "engine/crypto/road.h"
#include "engine/crypto/wipe.h"

namespace zv {

namespace {

constexpr size_t kArea = sizeof(QVSCTX::schedule);
static_assert(sizeof(DesSchedule) <= kArea && alignof(DesSchedule) <= alignof(uint32_t));
static_assert(sizeof(BlfSchedule) <= kArea && alignof(BlfSchedule) <= alignof(uint32_t));
static_assert(sizeof(TwfSchedule) <= kArea && alignof(TwfSchedule) <= alignof(uint32_t));
static_assert(sizeof(RijSchedule) <= kArea && alignof(RijSchedule) <= alignof(uint32_t));
static_assert(sizeof(QVSMD5CTX) <= kArea && alignof(QVSMD5CTX) <= alignof(uint32_t));

using InitFn = int (*)(void *, const unsigned char *, int32_t);

struct Cipher {
    InitFn init;
    QVSBLOCKFN encrypt;
    QVSBLOCKFN decrypt;
    int32_t blkwords;
    uint32_t byteorder;
};

// By algorithm id; 0 and 1 hold no cipher.
const Cipher kCiphers[9] = {
    {nullptr, nullptr, nullptr, 0, 0},
    {nullptr, nullptr, nullptr, 0, 0},
    {DESInit, DESEncrypt, DESDecrypt, 2, 0},
    {BLFInit, BLFEncrypt, BLFDecrypt, 2, 0},
    {TWFInit, TWFEncrypt, TWFDecrypt, 4, 0},
    {RIJInit, RIJEncrypt, RIJDecrypt, 4, 0},
    {MDCInit, MDCEncrypt, MDCDecrypt, 4, 0},
    {AESInit, AESEncrypt, AESDecrypt, 4, 1},
    {AESInit, AESEncrypt, AESDecrypt, 4, 1},
};


inline void load(const QVSCTX *ctx, const unsigned char *p, uint32_t *w) {
    if (ctx->byteorder) {
        memcpy(w, p, size_t(4 * ctx->blkwords));
    } else {
        for (int i = 0; i < ctx->blkwords; i++) w[i] = be::get32(p + 4 * i);
    }
}

inline void store(const QVSCTX *ctx, const uint32_t *w, unsigned char *p) {
    if (ctx->byteorder) {
        memcpy(p, w, size_t(4 * ctx->blkwords));
    } else {
        for (int i = 0; i < ctx->blkwords; i++) be::put32(p + 4 * i, w[i]);
    }
}

int crypt(QVSCTX *ctx, unsigned char *buf, int32_t len, bool encrypting) {
    if (!ctx) return QVS_ENULLCTX;
    if (!buf) return QVS_ENULLBUF;
    if (len < 1) return QVS_ELENGTH;
    if (ctx->mode < QVS_ECB || ctx->mode > QVS_OFB) return QVS_EMODE;
    if (!ctx->encrypt || !ctx->decrypt || (ctx->blkwords != 2 && ctx->blkwords != 4)) return QVS_EALG;
    const int bw = ctx->blkwords;
    const int32_t bs = 4 * bw;
    if (ctx->mode != QVS_OFB && len % bs) return QVS_ELENGTH;
    void *sched = ctx->schedule;
    // AES and RIJ on the processor's instructions: whole blocks at once,
    // the OFB bytes of a partial key-stream block on the loop below.
    const bool hw = crypto_road().aes && (ctx->encrypt == AESEncrypt || ctx->encrypt == RIJEncrypt);
    if (hw && ctx->mode != QVS_OFB) {
        const auto *s = static_cast<const RijSchedule *>(sched);
        const bool rij = ctx->encrypt == RIJEncrypt;
        auto *iv = reinterpret_cast<unsigned char *>(ctx->iv);
        const size_t blocks = size_t(len) / 16;
        if (ctx->mode == QVS_ECB) aes_hw_ecb(s, encrypting, rij, buf, buf, blocks);
        else if (encrypting) aes_hw_cbc_encrypt(s, rij, iv, buf, buf, blocks);
        else aes_hw_cbc_decrypt(s, rij, iv, buf, buf, blocks);
        return QVS_OK;
    }
    uint32_t w[4], c[4];
    if (ctx->mode == QVS_ECB) {
        QVSBLOCKFN fn = encrypting ? ctx->encrypt : ctx->decrypt;
        for (int32_t off = 0; off < len; off += bs) {
            load(ctx, buf + off, w);
            fn(sched, w, w);
            store(ctx, w, buf + off);
        }
    } else if (ctx->mode == QVS_CBC && encrypting) {
        for (int32_t off = 0; off < len; off += bs) {
            load(ctx, buf + off, w);
            for (int i = 0; i < bw; i++) w[i] ^= ctx->iv[i];
            ctx->encrypt(sched, w, ctx->iv);
            store(ctx, ctx->iv, buf + off);
        }
    } else if (ctx->mode == QVS_CBC) {
        for (int32_t off = 0; off < len; off += bs) {
            load(ctx, buf + off, c);
            ctx->decrypt(sched, c, w);
            for (int i = 0; i < bw; i++) {
                w[i] ^= ctx->iv[i];
                ctx->iv[i] = c[i];
            }
            store(ctx, w, buf + off);
        }
    } else {
        // OFB: the same in both directions; the key-stream position
        // carries over between calls.
        int32_t pos = ctx->ofbpos;
        for (int32_t i = 0; i < len;) {
            if (pos <= 0 && hw && len - i >= bs) {
                const size_t blocks = size_t(len - i) / 16;
                aes_hw_ofb(static_cast<const RijSchedule *>(sched), ctx->encrypt == RIJEncrypt,
                           reinterpret_cast<unsigned char *>(ctx->iv), buf + i, buf + i, blocks);
                store(ctx, ctx->iv, ctx->ofbblk);
                i += int32_t(16 * blocks);
                pos = 0;
                continue;
            }
            if (pos <= 0) {
                ctx->encrypt(sched, ctx->iv, ctx->iv);
                store(ctx, ctx->iv, ctx->ofbblk);
                pos = 0;
            }
            int32_t n = bs - pos < len - i ? bs - pos : len - i;
            for (int32_t k = 0; k < n; k++) buf[i + k] ^= ctx->ofbblk[pos + k];
            i += n;
            pos = (pos + n) % bs;
        }
        ctx->ofbpos = pos;
    }
    secure_zero(w, sizeof w);
    secure_zero(c, sizeof c);
    return QVS_OK;
}

}  // namespace

int qvs_init(QVSCTX *ctx, int32_t alg, int32_t mode, const unsigned char *key, int32_t keylen,
             const unsigned char *iv, int32_t ivlen) {
    if (!ctx) return QVS_ENULLCTX;
    if (!key) return QVS_EKEY;
    if (alg < QVS_DES || alg > QVS_AES_ALT) return QVS_EALG;
    if (mode < QVS_ECB || mode > QVS_OFB) return QVS_EMODE;
    secure_zero(ctx, sizeof *ctx);
    ctx->alg = alg;
    ctx->mode = mode;
    ctx->ofbpos = -1;
    const Cipher &c = kCiphers[alg];
    if (!qvs_key_length_ok(alg, keylen) || !c.init(ctx->schedule, key, keylen)) return QVS_EKEY;
    ctx->blkwords = c.blkwords;
    ctx->byteorder = c.byteorder;
    ctx->encrypt = c.encrypt;
    ctx->decrypt = c.decrypt;
    if (!iv) return QVS_OK;
    if (ivlen / 4 < ctx->blkwords) return QVS_EIV;
    load(ctx, iv, ctx->iv);
    return QVS_OK;
}

bool qvs_key_length_ok(int32_t alg, int32_t len) {
    switch (alg) {
    case QVS_DES:
        return len == 8 || len == 16 || len == 24;
    case QVS_BLOWFISH:
        return len >= 8 && len <= 56;
    case QVS_MDC:
        return len == 8 || len == 16 || len == 24 || len == 32;
    case QVS_TWOFISH:
    case QVS_RIJ:
    case QVS_AES:
    case QVS_AES_ALT:
        return len == 16 || len == 24 || len == 32;
    default:
        return false;
    }
}

char *get_password(const char *prompt) { return getpass(prompt ? prompt : ""); }

int qvs_set_iv(QVSCTX *ctx, const unsigned char *iv, int32_t ivlen) {
    if (!ctx) return QVS_ENULLCTX;
    if (!ctx->encrypt || (ctx->blkwords != 2 && ctx->blkwords != 4)) return QVS_EALG;
    if (!iv || ivlen / 4 < ctx->blkwords) return QVS_EIV;
    load(ctx, iv, ctx->iv);
    ctx->ofbpos = -1;
    return QVS_OK;
}

int qvs_encrypt(QVSCTX *ctx, unsigned char *buf, int32_t len) { return crypt(ctx, buf, len, true); }
int qvs_decrypt(QVSCTX *ctx, unsigned char *buf, int32_t len) { return crypt(ctx, buf, len, false); }

int qvs_final(QVSCTX *ctx) {
    if (!ctx) return QVS_ENULLCTX;
    secure_zero(ctx, sizeof *ctx);
    return QVS_OK;
}

}  // namespace zv

// ---- Exported entries ---------------------------------------------------------

ZV_API int QVSInit(QVSCTX *ctx, int32_t alg, int32_t mode, const unsigned char *key, int32_t keylen,
                   const unsigned char *iv, int32_t ivlen) {
    return zv::qvs_init(ctx, alg, mode, key, keylen, iv, ivlen);
}
ZV_API int QVSEncrypt(QVSCTX *ctx, unsigned char *buf, int32_t len) { return zv::qvs_encrypt(ctx, buf, len); }
ZV_API int QVSDecrypt(QVSCTX *ctx, unsigned char *buf, int32_t len) { return zv::qvs_decrypt(ctx, buf, len); }
ZV_API int QVSFinal(QVSCTX *ctx) { return zv::qvs_final(ctx); }

ZV_API char *QVSGetPassword(const char *prompt) { return zv::get_password(prompt); }

ZV_API int zvstrerror_r(int errnum, char *buf, size_t size) {
    if (size == 0) {
        errno = ERANGE;
        return ERANGE;
    }
    if (!buf) {
        errno = EINVAL;
        return EINVAL;
    }
    char tmp[256];
    const char *msg = strerror_r(errnum, tmp, sizeof tmp);
    if (!msg) return errno;
    size_t n = strlen(msg);
    if (n > size - 1) n = size - 1;
    memcpy(buf, msg, n);
    buf[n] = '\0';
    return 0;
}

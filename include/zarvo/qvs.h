/*
 * qvs.h - the engine's cryptographic primitives.
 *
 * One cipher context (QVSInit, QVSEncrypt, QVSDecrypt, QVSFinal) puts the
 * block ciphers DES / triple DES, Blowfish, Twofish, Rijndael, AES and the
 * MD5-based cipher MDC behind ECB, CBC and OFB modes. Beside it: an ANSI
 * X9.31 random generator on AES-256 with a FIPS 140-1 statistical self-test,
 * the digests MD5, SHA-1, SHA-256 and SHA-512, CRC-32, and the byte/word
 * conversions the cipher context uses.
 *
 * Every context here is allocated by the caller, so its size and layout are
 * part of the interface; the assertions at the end fix them. A context that
 * held a key, a schedule or a hash state is overwritten with zeros by the
 * routine that ends it (QVSFinal, RNGFinal, MD5Final, SHAFinal, SHA2Final).
 *
 * Every function has C linkage. This header is self-contained and compiles
 * as C11 and as C++.
 */
#ifndef ZARVO_QVS_H
#define ZARVO_QVS_H

#include <stddef.h>
#include <stdint.h>

#ifndef ZV_API
#if defined(__GNUC__)
#define ZV_API __attribute__((visibility("default")))
#else
#define ZV_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------ */
/* Algorithms, modes and results of the cipher context.                      */
/* ------------------------------------------------------------------------ */

/* Algorithm ids (also the cipher class of an encrypted file). Key lengths in
 * bytes accepted by QVSInit:
 *   QVS_DES       8 (DES), 16 (triple DES, keys K1 K2 K1), 24 (K1 K2 K3); 8-byte block
 *   QVS_BLOWFISH  8 .. 56; 8-byte block
 *   QVS_TWOFISH   16, 24, 32; data words most significant byte first
 *   QVS_RIJ       16, 24, 32; Rijndael with key and data words most
 *                 significant byte first
 *   QVS_MDC       8, 16, 24, 32; cipher built on MD5 with cipher-text feedback
 *   QVS_AES, QVS_AES_ALT  16, 24, 32; AES in the byte order of FIPS-197 (the
 *                 two ids behave identically)
 * QVS_MASK is the masking class of file encryption; QVSInit refuses it. */
typedef enum QVSALG {
    QVS_MASK = 1,
    QVS_DES = 2,
    QVS_BLOWFISH = 3,
    QVS_TWOFISH = 4,
    QVS_RIJ = 5,
    QVS_MDC = 6,
    QVS_AES = 7,
    QVS_AES_ALT = 8
} QVSALG;

/* Modes. */
#define QVS_ECB 0
#define QVS_CBC 1
#define QVS_OFB 2

/* Results of QVSInit, QVSEncrypt, QVSDecrypt and QVSFinal. */
#define QVS_OK         0
#define QVS_ENULLCTX   1 /* null context */
#define QVS_EALG       2 /* unknown algorithm, or a context that holds no cipher */
#define QVS_EMODE      3 /* unknown mode */
#define QVS_EKEY       4 /* null key or a key length the algorithm refuses */
#define QVS_EIV        5 /* IV shorter than a block (the register stays zero) */
#define QVS_ELENGTH    6 /* length below 1, or not whole blocks in ECB and CBC */
#define QVS_ENULLBUF   7 /* null buffer */

/* Bytes of the key schedule area of a cipher context: room for the largest
 * schedule (Twofish, Blowfish, Rijndael/AES with its round tables, three
 * DES schedules, or the MD5 state of MDC). */
#define QVS_SCHEDULE_BYTES 4352
/* Bytes of the AES-256 schedule area of a random generator. */
#define QVS_RNG_SCHEDULE_BYTES 3072

/* A block routine of a cipher: (key schedule, input block words, output
 * block words). */
typedef void (*QVSBLOCKFN)(void *schedule, const uint32_t *in, uint32_t *out);

/* The cipher context. QVSInit and QVSFinal zero it whole. */
typedef struct QVSCTX {
    int32_t alg;              /* QVSALG */
    int32_t mode;             /* QVS_ECB, QVS_CBC or QVS_OFB */
    int32_t blkwords;         /* block size in 32-bit words: 2 or 4 */
    uint32_t iv[4];           /* IV / chaining register (blkwords used) */
    unsigned char ofbblk[16]; /* OFB key-stream block */
    int32_t ofbpos;           /* next key-stream byte; -1: a new block is due */
    QVSBLOCKFN encrypt;       /* block routines of the cipher */
    QVSBLOCKFN decrypt;
    uint32_t byteorder;       /* 1: blocks cross as bytes (AES), 0: as words,
                                 first byte most significant */
    uint32_t reserved;
    uint32_t schedule[QVS_SCHEDULE_BYTES / 4];
} QVSCTX;

/* ------------------------------------------------------------------------ */
/* Cipher context.                                                           */
/* ------------------------------------------------------------------------ */

/* Prepares ctx for an algorithm and a mode with a key and an IV. Checks in
 * this order: null ctx 1; null key 4; algorithm outside 2..8 -> 2; mode
 * outside 0..2 -> 3. Then zeroes the context and builds the key schedule: a
 * key length the algorithm refuses gives 4 (the context then holds no
 * cipher). IV: NULL leaves the register zero; otherwise at least one block
 * of IV bytes is loaded (a longer IV is cut), and a shorter IV gives 5 with
 * the context complete and the register zero. 0 on success. */
ZV_API int QVSInit(QVSCTX *ctx, int32_t alg, int32_t mode, const unsigned char *key,
                   int32_t keylen, const unsigned char *iv, int32_t ivlen);
/* Encrypt or decrypt len bytes of buf in place; the context carries the
 * chaining state into the next call, so OFB streams may come in pieces of
 * any size. 0, or: 1 null ctx; 7 null buf; 6 len below 1, or (ECB, CBC) not
 * a whole number of blocks, with buf unchanged; 3 unknown mode; 2 the
 * context holds no cipher (never prepared, finished, or its QVSInit failed
 * with 4). */
ZV_API int QVSEncrypt(QVSCTX *ctx, unsigned char *buf, int32_t len);
ZV_API int QVSDecrypt(QVSCTX *ctx, unsigned char *buf, int32_t len);
/* Zeroes the whole context: 0, or 1 for NULL. */
ZV_API int QVSFinal(QVSCTX *ctx);
/* Reads a line typed at the terminal without echo, after showing prompt.
 * The text lives in a static buffer of the C library: overwrite it with
 * zeros once used. NULL when no terminal can be read. */
ZV_API char *QVSGetPassword(const char *prompt);
/* The system's message for errnum into buf (size bytes), cut to size - 1
 * bytes and NUL-terminated: 0. Size 0: errno and the result are 34 (ERANGE).
 * NULL buf with a nonzero size: errno and the result are 22 (EINVAL). */
ZV_API int zvstrerror_r(int errnum, char *buf, size_t size);

/* ------------------------------------------------------------------------ */
/* Random generator.                                                         */
/* ------------------------------------------------------------------------ */

/* ANSI X9.31 generator on AES-256, rekeyed from a fresh 32-byte seed every
 * 16 output blocks. */
typedef struct QVSRNG {
    uint32_t counter; /* output blocks since the start */
    uint32_t v[4];    /* the state V */
    uint32_t schedule[QVS_RNG_SCHEDULE_BYTES / 4];
} QVSRNG;

/* Starts a generator: seed from "/dev/urandom" (or, when that fails, from
 * the time, the processor clock, system logs and command output), counter
 * and V zero. 1; 0 for NULL. Seeding never fails. */
ZV_API int RNGInit(QVSRNG *ctx);
/* Fills out with len random bytes, 16 per block, the last block cut. 1; 0
 * for a NULL ctx or out; len below 1 returns 1 and writes nothing. */
ZV_API int RNGRead(QVSRNG *ctx, unsigned char *out, int32_t len);
/* Zeroes the whole context (NULL is ignored). */
ZV_API void RNGFinal(QVSRNG *ctx);
/* len random bytes from a generator started, read once and wiped: the
 * result of RNGRead (1, or 0 for a NULL out). */
ZV_API int GenerateRndKey(unsigned char *out, int32_t len);
/* FIPS 140-1 self-test of a 2500-byte (20000-bit) sample, bit k being bit
 * k % 8 of byte k / 8: 1 pass, -3 monobit, -2 poker, -1 runs, 0 a run of 34
 * or more equal bits (checked in that order). 0 for NULL. */
ZV_API int FIPS_140_1(const unsigned char *sample);

/* ------------------------------------------------------------------------ */
/* Digests.                                                                  */
/* ------------------------------------------------------------------------ */

/* MD5 (RFC 1321). count is the number of bits fed (low word first). */
typedef struct QVSMD5CTX {
    uint32_t state[4];
    uint32_t count[2];
    unsigned char buffer[64];
} QVSMD5CTX;

ZV_API void MD5Init(QVSMD5CTX *ctx);
ZV_API void MD5Update(QVSMD5CTX *ctx, const void *data, uint32_t len);
/* Writes the 16-byte digest (nothing when digest is NULL) and always wipes
 * the state. */
ZV_API void MD5Final(unsigned char *digest, QVSMD5CTX *ctx);
/* Feeds the MD5 padding and the 64-bit length through MD5Update, as the
 * final step does, and keeps the state: its words then hold the MD5 of all
 * bytes fed so far (earlier paddings and lengths included) and it can be fed
 * further. */
ZV_API void MD5Round(QVSMD5CTX *ctx);
/* The block step: one 64-byte block into the four state words. */
ZV_API void MD5Transform(uint32_t state[4], const unsigned char block[64]);
/* Writes len / 4 words of in as little-endian bytes to out. */
ZV_API void Encode(unsigned char *out, const uint32_t *in, uint32_t len);

/* SHA-1 (FIPS 180-1). count is the number of bits fed (low word first). */
typedef struct QVSSHA1CTX {
    uint32_t state[5];
    uint32_t count[2];
    unsigned char buffer[64];
} QVSSHA1CTX;

ZV_API void SHAInit(QVSSHA1CTX *ctx);
ZV_API void SHAUpdate(QVSSHA1CTX *ctx, const void *data, uint32_t len);
/* Writes the 20-byte digest (nothing when digest is NULL), wipes the state. */
ZV_API void SHAFinal(unsigned char *digest, QVSSHA1CTX *ctx);
ZV_API void SHA1Transform(uint32_t state[5], const unsigned char block[64]);

/* SHA-256 and SHA-512 (FIPS 180-2). count is the number of bits fed (low
 * word first); size the digest size in bytes, 32 or 64. */
typedef struct QVSSHA2CTX {
    union {
        uint32_t w32[8];
        uint64_t w64[8];
    } state;
    uint64_t count[2];
    unsigned char buffer[128];
    uint32_t size;
    uint32_t reserved;
} QVSSHA2CTX;

/* size 32 starts SHA-256, 64 SHA-512: 0. Any other size (or a NULL ctx)
 * returns 1 and changes nothing. */
ZV_API int SHA2Init(QVSSHA2CTX *ctx, int size);
ZV_API void SHA2Update(QVSSHA2CTX *ctx, const void *data, uint32_t len);
/* Writes the 32- or 64-byte digest (nothing when digest is NULL), wipes the
 * state. */
ZV_API void SHA2Final(unsigned char *digest, QVSSHA2CTX *ctx);
ZV_API void SHA2Transform(uint32_t state[8], const unsigned char block[64]);
ZV_API void SHA512Transform(uint64_t state[8], const unsigned char block[128]);

/* ------------------------------------------------------------------------ */
/* CRC-32 and word packing.                                                  */
/* ------------------------------------------------------------------------ */

/* One step of the reflected CRC-32 (polynomial 0xEDB88320):
 * (crc >> 8) ^ table[(crc ^ byte) & 0xFF]. */
ZV_API uint32_t zvcrc32(unsigned char byte, uint32_t crc);
/* The standard CRC-32 of buf continued from an earlier result crc (0 to
 * start): the register starts as ~crc and the result is ~register. len 0
 * (or a NULL buf) returns crc unchanged. */
ZV_API uint32_t crc32buffer(const void *buf, uint32_t len, uint32_t crc);
/* Four table steps over the bytes of word, least significant first, with
 * no inversion. */
ZV_API uint32_t crc32uint(uint32_t word, uint32_t crc);
/* crc32uint chained over count words; count below 1 returns crc. */
ZV_API uint32_t zvc32block(const uint32_t *words, int32_t count, uint32_t crc);
/* c = 0xFFFFFFFF; count times: c = crc32uint(value, c) and the next word of
 * out receives ~c. */
ZV_API void _expand32(uint32_t value, uint32_t *out, int32_t count);
/* count groups of 4 bytes into words, first byte most significant. */
ZV_API void _pack32(const unsigned char *bytes, uint32_t *words, int32_t count);
/* count words into 4 bytes each, most significant first. */
ZV_API void _unpack32(const uint32_t *words, int32_t count, unsigned char *bytes);

/* ------------------------------------------------------------------------ */
/* Keys from passwords, and the master-password verification file.           */
/* ------------------------------------------------------------------------ */

/* D1 = MD5(password); Di+1 = MD5(password, Di, i as 4 bytes most
 * significant first), i = 1, 2, ...; out = D1 D2 ... cut to outlen bytes.
 * outlen below 1 leaves out untouched. */
ZV_API void GenMasterKey(const char *password, int32_t pwlen, unsigned char *out, int32_t outlen);
/* D1 = MD5(password); Di+1 = MD5(password, Di); out = D1 D2 ... cut to
 * outlen bytes. */
ZV_API void PassToKey(unsigned char *out, int32_t outlen, const char *password, int32_t pwlen);
/* len random bytes of a started generator into out: the RNGRead result. */
ZV_API int GenSessionKey(QVSRNG *generator, unsigned char *out, int32_t len);
/* Writes the verification file of a password (132 bytes): 16 random bytes,
 * 96 zero bytes and the MD5 of those 112, encrypted with QVS_RIJ in ECB
 * under GenMasterKey(password, keylen), then keylen as a 4-byte word in
 * host order. keylen must be 16, 24 or 32. 0, or (with a message in msg,
 * msgsize bytes, when msg is not NULL): 6 a key length above 64 or not one
 * of those (nothing written); 1 the file cannot be opened for writing; 2 or
 * 3 the random generator failed; 4 the block or 5 the length word could
 * not be written. */
ZV_API int QVSCreateMasterFile(const char *password, int32_t pwlen, const char *path, char *msg,
                               int32_t keylen, int32_t msgsize);
/* Checks a password against a verification file (a file of only 128 bytes
 * is read with key length 16): 0 right; 1 the file cannot be opened; 2 it
 * is shorter than 128 bytes (or cut inside the length word); 4 its key
 * length is not 16, 24 or 32; 3 wrong password ("Master password
 * verification failed: Incorrect master password specified."). The message
 * goes to msg, cut to msgsize - 1 bytes. */
ZV_API int QVSVerifyMasterPassword(const char *password, int32_t pwlen, const char *path, char *msg,
                                   int32_t msgsize);

/* ------------------------------------------------------------------------ */
/* Layout of the caller-allocated contexts.                                  */
/* ------------------------------------------------------------------------ */
#ifdef __cplusplus
#define ZV_QVS_ASSERT(c, m) static_assert(c, m)
#else
#define ZV_QVS_ASSERT(c, m) _Static_assert(c, m)
#endif
ZV_QVS_ASSERT(offsetof(QVSCTX, blkwords) == 8, "QVSCTX blkwords at 8");
ZV_QVS_ASSERT(offsetof(QVSCTX, iv) == 12, "QVSCTX iv at 12");
ZV_QVS_ASSERT(offsetof(QVSCTX, ofbblk) == 28, "QVSCTX ofbblk at 28");
ZV_QVS_ASSERT(offsetof(QVSCTX, ofbpos) == 44, "QVSCTX ofbpos at 44");
ZV_QVS_ASSERT(sizeof(void *) != 8 || offsetof(QVSCTX, encrypt) == 48, "QVSCTX encrypt at 48");
ZV_QVS_ASSERT(sizeof(void *) != 8 || offsetof(QVSCTX, byteorder) == 64, "QVSCTX byteorder at 64");
ZV_QVS_ASSERT(sizeof(void *) != 8 || offsetof(QVSCTX, schedule) == 72, "QVSCTX schedule at 72");
ZV_QVS_ASSERT(sizeof(void *) != 8 || sizeof(QVSCTX) == 4424, "QVSCTX is 4424 bytes");
ZV_QVS_ASSERT(offsetof(QVSRNG, v) == 4, "QVSRNG v at 4");
ZV_QVS_ASSERT(offsetof(QVSRNG, schedule) == 20, "QVSRNG schedule at 20");
ZV_QVS_ASSERT(sizeof(QVSRNG) == 3092, "QVSRNG is 3092 bytes");
ZV_QVS_ASSERT(offsetof(QVSMD5CTX, count) == 16, "QVSMD5CTX count at 16");
ZV_QVS_ASSERT(offsetof(QVSMD5CTX, buffer) == 24, "QVSMD5CTX buffer at 24");
ZV_QVS_ASSERT(sizeof(QVSMD5CTX) == 88, "QVSMD5CTX is 88 bytes");
ZV_QVS_ASSERT(offsetof(QVSSHA1CTX, count) == 20, "QVSSHA1CTX count at 20");
ZV_QVS_ASSERT(offsetof(QVSSHA1CTX, buffer) == 28, "QVSSHA1CTX buffer at 28");
ZV_QVS_ASSERT(sizeof(QVSSHA1CTX) == 92, "QVSSHA1CTX is 92 bytes");
ZV_QVS_ASSERT(offsetof(QVSSHA2CTX, count) == 64, "QVSSHA2CTX count at 64");
ZV_QVS_ASSERT(offsetof(QVSSHA2CTX, buffer) == 80, "QVSSHA2CTX buffer at 80");
ZV_QVS_ASSERT(offsetof(QVSSHA2CTX, size) == 208, "QVSSHA2CTX size at 208");
ZV_QVS_ASSERT(sizeof(QVSSHA2CTX) == 216, "QVSSHA2CTX is 216 bytes");
#undef ZV_QVS_ASSERT

#ifdef __cplusplus
}
#endif

#endif /* ZARVO_QVS_H */

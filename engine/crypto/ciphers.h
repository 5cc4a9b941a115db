// The block ciphers behind the cipher context.
//
// Each cipher is three routines on a key schedule that the caller owns:
// Init(schedule, key, key length) -> nonzero when the schedule is built, 0
// when the key length is refused (nothing built); Encrypt and Decrypt
// (schedule, input block words, output block words), the input and output
// may be the same words. Blocks cross as 32-bit words. For DES, Blowfish,
// Twofish, RIJ and MDC a word holds four buffer bytes, first byte most
// significant; the AES routines take the block's bytes as they stand in
// memory and keep the byte order of FIPS-197 themselves.
//
// The schedules are plain structs of 32-bit words and bytes, built inside
// the schedule area of a QVSCTX (or of a generator); the cipher context
// proves at compile time that each one fits.
#pragma once

#include <cstdint>

#include "zarvo/qvs.h"

namespace zv {

// DES and triple DES: one, or three, sets of 16 round keys. A round key is
// two words of four 6-bit groups each (see des.cpp).
struct DesSchedule {
    uint32_t nkeys;  // 1 or 3
    uint32_t sub[3][32];
};

// Blowfish: the P-array and the four S-boxes.
struct BlfSchedule {
    uint32_t p[18];
    uint32_t s[4][256];
};

// Twofish: the 40 round keys and the key-dependent S-boxes composed with
// the MDS matrix, one table per input byte.
struct TwfSchedule {
    uint32_t klen;  // key length in 64-bit words: 2, 3 or 4
    uint32_t k[40];
    uint32_t sbox[4][256];
};

// Rijndael / AES: the round keys of both directions and the round tables
// (one table per direction, the other three columns come by rotation). A
// state word holds a column, row 0 in its least significant byte.
struct RijSchedule {
    uint32_t nr;      // rounds: 10, 12 or 14
    uint32_t ek[60];  // encryption round keys
    uint32_t dk[60];  // decryption round keys, in use order
    uint32_t ft[256];
    uint32_t it[256];
    uint8_t sbox[256];
    uint8_t isbox[256];
};

int DESInit(void *schedule, const unsigned char *key, int32_t len);
void DESEncrypt(void *schedule, const uint32_t *in, uint32_t *out);
void DESDecrypt(void *schedule, const uint32_t *in, uint32_t *out);

int BLFInit(void *schedule, const unsigned char *key, int32_t len);
void BLFEncrypt(void *schedule, const uint32_t *in, uint32_t *out);
void BLFDecrypt(void *schedule, const uint32_t *in, uint32_t *out);

int TWFInit(void *schedule, const unsigned char *key, int32_t len);
void TWFEncrypt(void *schedule, const uint32_t *in, uint32_t *out);
void TWFDecrypt(void *schedule, const uint32_t *in, uint32_t *out);
// Times the process-wide Twofish tables have been built (1 after the first
// TWFInit).
int twofish_table_builds();

int RIJInit(void *schedule, const unsigned char *key, int32_t len);
void RIJEncrypt(void *schedule, const uint32_t *in, uint32_t *out);
void RIJDecrypt(void *schedule, const uint32_t *in, uint32_t *out);

int AESInit(void *schedule, const unsigned char *key, int32_t len);
void AESEncrypt(void *schedule, const uint32_t *in, uint32_t *out);
void AESDecrypt(void *schedule, const uint32_t *in, uint32_t *out);
// AES on 16 bytes as they stand (in and out may be the same).
void aes_encrypt_bytes(RijSchedule *s, const unsigned char in[16], unsigned char out[16]);

// MDC: the schedule is an MD5 state fed the key.
int MDCInit(void *schedule, const unsigned char *key, int32_t len);
void MDCEncrypt(void *schedule, const uint32_t *in, uint32_t *out);
void MDCDecrypt(void *schedule, const uint32_t *in, uint32_t *out);

}  // namespace zv

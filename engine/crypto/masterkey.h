// The master key inside the library: its process-wide state, the key
// derivations from a password, the password verification file and the
// start-up prompt. The exported routines of qvs.h are one-line entries over
// these; the library's own callers use the hidden names.
#pragma once

#include <cstdint>

#include "zarvo/qvs.h"

namespace zv {

// Process-wide master-key state. The key exists only in memory; it is all
// zero until a password has been taken (prompt, key change).
extern unsigned char zvcmomaskey[64];
extern int32_t zvcmomaskln;   // master key length in bytes (32)
extern int32_t zvcmomascip;   // cipher id of the file key blocks (5, RIJ)
extern int32_t zvcmologcip;   // cipher choice for the engine's logs (set, never read here)

// Master-password verification file, and the verification file a key
// change writes for the new password before it replaces the first one.
constexpr const char *kMasterFile = "zvsrvr.pvf";
constexpr const char *kNewMasterFile = "CMPRECOVA.QVS";

// D1 = MD5(pw); Di+1 = MD5(pw, Di, i as 4 bytes, most significant first);
// out = D1 D2 ... cut to outlen. outlen below 1 leaves out untouched.
void gen_master_key(const char *pw, int32_t pwlen, unsigned char *out, int32_t outlen);
// The same without the counter.
void pass_to_key(unsigned char *out, int32_t outlen, const char *pw, int32_t pwlen);
// The verification file of a password: 0, or 1..6 with a message.
int create_master_file(const char *pw, int32_t pwlen, const char *path, char *msg, int32_t keylen,
                       int32_t msgsize);
// Checks a password against a verification file: 0, or 1..5 with a message.
int verify_master_password(const char *pw, int32_t pwlen, const char *path, char *msg, int32_t msgsize);

// The operator prompt: up to three passwords read at the terminal and
// checked against the file at path; the right one becomes the master key.
// 0, or 1 after three failures.
int zvcmogetmaspwd(const char *path);
// Start of advanced encryption (the support word, the environment variable
// and the prompt); a failed prompt logs and ends the process. 0.
int camo_sdk_start();

// Whether advanced encryption support is on (the exported word cmosdksup).
bool camo_support();
// Turns support on (1) when it is off: an open of an encrypted file under
// a start-up profile that asks for the master key.
void camo_support_on();

// The master key bytes that seal or open the key block of a file whose
// flags word is `flags` (bit 0: made under a 32-byte master key): all 32
// bytes, or the first 16. 0, 952 when the master key length does not fit,
// or 606 when those bytes are all zero (no password taken yet).
int master_key_for_file(uint32_t flags, const unsigned char **key, int32_t *len);
// The flags word of a file made now: bit 0 when the master key is 32 bytes.
uint32_t master_key_flags();
// Makes key (zvcmomaskln bytes) the master key.
void install_master_key(const unsigned char *key);

// ---- Test support (not exported) -----------------------------------------
// Derives the master key from a password, as the prompt does (null: all zero).
void set_master_password(const char *pw);
// Sets the master key length (16, 24, 32, ...; at most 64).
void set_master_key_length(int32_t len);
// Zeroes the master key, restores its length 32 and support off.
void master_key_reset();

}  // namespace zv

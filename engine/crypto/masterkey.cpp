// Master password and master key.
//
// Every file key is kept encrypted under one master key that lives only in
// this process's memory. The key is derived from a password by chained MD5
// (gen_master_key); before a typed password is accepted it is checked
// against a verification file of 132 bytes:
//
//   OFFSET SIZE DESCRIPTION
//      0   128  verification block, RIJ in ECB under gen_master_key(password,
//               key length): 16 random bytes, 96 zero bytes, the MD5 of
//               those 112 bytes
//    128     4  key length (16, 24 or 32), host byte order; a file of only
//               128 bytes is read with key length 16
//
// State (process-wide, no locks): the master key with its length and the
// cipher of the key blocks, the support word cmosdksup that the host sets
// (0 off, 1 on, 2 on without prompting) and zvcamlog. Every buffer that held
// a password or a key is zeroed before it is released.
#include "engine/crypto/masterkey.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "engine/core/bytes.h"
#include "engine/core/platform.h"
#include "engine/crypto/hashes.h"
#include "engine/crypto/qvsctx.h"
#include "engine/crypto/rng.h"
#include "engine/crypto/wipe.h"
#include "zarvo/zarvo.h"

extern "C" {
ZV_API int32_t cmosdksup = 0;
ZV_API int32_t zvcamlog = 0;
}

namespace zv {

unsigned char zvcmomaskey[64];
int32_t zvcmomaskln = 32;
int32_t zvcmomascip = QVS_RIJ;
int32_t zvcmologcip = 0;

namespace {

constexpr int32_t kMaxKey = 64;
constexpr int32_t kBlock = 128;
constexpr int32_t kFileSize = kBlock + 4;
constexpr int kAttempts = 3;
constexpr const char *kPrompt =
    "This utility requires a master encryption key in order to start.\nPlease enter master encryption key: ";
constexpr const char *kWrongPassword = "Master password verification failed: Incorrect master password specified.";
constexpr const char *kNoMemory = "Master password verification failed: Unable to allocate memory.";
constexpr const char *kShutdown =
    "The master encryption key must be entered in order to start this server.  The server will now shut down.";

bool key_length_ok(int32_t n) { return n == 16 || n == 24 || n == 32; }

size_t pw_size(const char *pw, int32_t pwlen) { return pw && pwlen > 0 ? size_t(pwlen) : 0; }

// A message into the caller's buffer, when there is one.
void say(char *msg, int32_t size, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
void say(char *msg, int32_t size, const char *fmt, ...) {
    if (!msg || size < 1) return;
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(msg, size_t(size), fmt, ap);
    va_end(ap);
}

// A fixed text cut to size - 1 bytes and terminated.
void say_text(char *msg, int32_t size, const char *text) { say(msg, size, "%s", text); }

// The system's message for an errno (GNU strerror_r may return a static text).
const char *sys_text(int err, char (&buf)[128]) { return strerror_r(err, buf, sizeof buf); }

// The key-length refusals shared by the create and the verify.
bool refuse_key_length(int32_t keylen, char *msg, int32_t size) {
    if (keylen > kMaxKey) {
        say(msg, size, "Key length (%d) exceeds maximum supported key length (%d)", keylen, kMaxKey);
        return true;
    }
    if (!key_length_ok(keylen)) {
        say(msg, size, "Key length (%d) is not supported: use 16, 24 or 32", keylen);
        return true;
    }
    return false;
}

// Encrypts or decrypts the 128-byte block with RIJ in ECB under the key of
// the password.
void cipher_block(const char *pw, int32_t pwlen, int32_t keylen, unsigned char *block, bool encrypting) {
    unsigned char key[kMaxKey];
    gen_master_key(pw, pwlen, key, keylen);
    QVSCTX ctx;
    qvs_init(&ctx, QVS_RIJ, QVS_ECB, key, keylen, nullptr, 0);
    if (encrypting) qvs_encrypt(&ctx, block, kBlock);
    else qvs_decrypt(&ctx, block, kBlock);
    qvs_final(&ctx);
    secure_zero(key, sizeof key);
}

// Writes all n bytes: 0, or the errno of the failing write (EIO for a
// short write that left none).
int write_all(int fd, const unsigned char *p, size_t n) {
    while (n) {
        errno = 0;
        int64_t w = plat_write(fd, p, n);
        if (w <= 0) return errno ? errno : EIO;
        p += w;
        n -= size_t(w);
    }
    return 0;
}

// Reads up to n bytes until the end of the file: the count, or -1.
int64_t read_upto(int fd, unsigned char *p, size_t n) {
    size_t got = 0;
    while (got < n) {
        int64_t r = plat_read(fd, p + got, n - got);
        if (r < 0) return -1;
        if (r == 0) break;
        got += size_t(r);
    }
    return int64_t(got);
}

// D1 = MD5(pw); Di+1 = MD5(pw, Di[, i as 4 bytes most significant first]);
// out = D1 D2 ... cut to outlen.
void md5_chain(const char *pw, int32_t pwlen, unsigned char *out, int32_t outlen, bool counter) {
    if (!out || outlen < 1) return;
    size_t n = pw_size(pw, pwlen);
    const char *text = pw ? pw : "";
    unsigned char d[16];
    md5_digest(text, n, d);
    int32_t done = 0;
    for (uint32_t i = 1;; i++) {
        int32_t take = outlen - done < 16 ? outlen - done : 16;
        memcpy(out + done, d, size_t(take));
        done += take;
        if (done >= outlen) break;
        QVSMD5CTX c;
        md5_init(&c);
        md5_update(&c, text, n);
        md5_update(&c, d, 16);
        if (counter) {
            unsigned char word[4];
            be::put32(word, i);
            md5_update(&c, word, 4);
        }
        md5_final(d, &c);
    }
    secure_zero(d, sizeof d);
}

}  // namespace

void gen_master_key(const char *pw, int32_t pwlen, unsigned char *out, int32_t outlen) {
    md5_chain(pw, pwlen, out, outlen, true);
}

void pass_to_key(unsigned char *out, int32_t outlen, const char *pw, int32_t pwlen) {
    md5_chain(pw, pwlen, out, outlen, false);
}

int create_master_file(const char *pw, int32_t pwlen, const char *path, char *msg, int32_t keylen,
                       int32_t msgsize) {
    // Every refusal comes before the file is touched.
    if (refuse_key_length(keylen, msg, msgsize)) return 6;
    char err[128];
    int fd = path ? plat_open(path, OpenHow::WriteCreate, 0600) : (errno = EINVAL, -1);
    if (fd < 0) {
        say(msg, msgsize, "Failed to open password verification file %s for writing: %s", path ? path : "",
            sys_text(errno, err));
        return 1;
    }
    unsigned char block[kBlock] = {};
    QVSRNG rng;
    if (!rng_init(&rng)) {
        plat_close(fd);
        say_text(msg, msgsize, "Failed to initialize random number generator");
        return 2;
    }
    int ok = rng_read(&rng, block, 16);
    rng_final(&rng);
    if (!ok) {
        plat_close(fd);
        say_text(msg, msgsize, "Failed to generate random number");
        return 3;
    }
    md5_digest(block, 112, block + 112);
    cipher_block(pw, pwlen, keylen, block, true);
    int rc = 0;
    if (int e = write_all(fd, block, kBlock)) {
        say(msg, msgsize, "Failed to write data to master file %s: %s", path, sys_text(e, err));
        rc = 4;
    } else {
        unsigned char word[4];
        host::put32(word, uint32_t(keylen));
        int e2 = write_all(fd, word, 4);
        if (!e2 && plat_fsync(fd) != 0) e2 = errno ? errno : EIO;
        if (e2) {
            say(msg, msgsize, "Failed to write key length to master file %s: %s", path, sys_text(e2, err));
            rc = 5;
        }
    }
    plat_close(fd);
    secure_zero(block, sizeof block);
    return rc;
}

int verify_master_password(const char *pw, int32_t pwlen, const char *path, char *msg, int32_t msgsize) {
    char err[128];
    int fd = path ? plat_open(path, OpenHow::ReadOnly, 0) : (errno = EINVAL, -1);
    if (fd < 0) {
        say(msg, msgsize, "Failed to open password verification file %s for reading: %s", path ? path : "",
            sys_text(errno, err));
        return 1;
    }
    unsigned char file[kFileSize];
    errno = 0;
    int64_t got = read_upto(fd, file, sizeof file);
    int e = errno;
    plat_close(fd);
    // A file of 128 bytes has no length word; one cut inside the word is
    // as damaged as one cut inside the block.
    if (got != kBlock && got != kFileSize) {
        say(msg, msgsize, "Failed to read master file %s: %s", path, got < 0 ? sys_text(e, err) : "file too short");
        return 2;
    }
    int32_t keylen = got == kBlock ? 16 : int32_t(host::get32(file + kBlock));
    if (refuse_key_length(keylen, msg, msgsize)) return 4;
    cipher_block(pw, pwlen, keylen, file, false);
    unsigned char check[16];
    md5_digest(file, 112, check);
    bool right = memcmp(check, file + 112, 16) == 0;
    secure_zero(file, sizeof file);
    secure_zero(check, sizeof check);
    if (!right) {
        say_text(msg, msgsize, kWrongPassword);
        return 3;
    }
    return 0;
}

int zvcmogetmaspwd(const char *path) {
    char msg[256];
    for (int attempt = 0; attempt < kAttempts; attempt++) {
        zvrt_printf("\n");
        fflush(getZarvoSTDOUT());
        char *pw = get_password(kPrompt);
        size_t n = pw ? strlen(pw) : 0;
        int rc = verify_master_password(pw, int32_t(n), path, msg, sizeof msg);
        if (rc == 0) gen_master_key(pw, int32_t(n), zvcmomaskey, zvcmomaskln);
        if (pw) secure_zero(pw, n);
        if (rc == 0) return 0;
        zvrt_printf("\nError: %s\n", msg);
    }
    return 1;
}

int camo_sdk_start() {
    if (cmosdksup == 0) {
        const char *env = getenv("ZARVO_ADVANCED_ENCRYPTION");
        if (!env || strcasecmp(env, "YES") != 0) {
            if (zvcamlog) zvcmologcip = 1;
            return 0;
        }
        cmosdksup = 1;
    } else if (cmosdksup == 2) {
        return 0;
    }
    if (zvcmogetmaspwd(kMasterFile) != 0) {
        zvrcvlog(kShutdown, 0);
        zvcatend();
    }
    return 0;
}

bool camo_support() { return cmosdksup != 0; }

void camo_support_on() {
    if (cmosdksup == 0) cmosdksup = 1;
}

int master_key_for_file(uint32_t flags, const unsigned char **key, int32_t *len) {
    int32_t n;
    if (flags & 1) {
        if (zvcmomaskln != 32) return 952;
        n = 32;
    } else {
        if (zvcmomaskln < 16) return 952;
        n = 16;
    }
    bool zero = true;
    for (int32_t i = 0; i < n; i++) zero = zero && zvcmomaskey[i] == 0;
    if (zero) return 606;
    *key = zvcmomaskey;
    *len = n;
    return 0;
}

uint32_t master_key_flags() { return zvcmomaskln == 32 ? 1u : 0u; }

void install_master_key(const unsigned char *key) {
    int32_t n = zvcmomaskln > 0 && zvcmomaskln <= kMaxKey ? zvcmomaskln : kMaxKey;
    secure_zero(zvcmomaskey, sizeof zvcmomaskey);
    memcpy(zvcmomaskey, key, size_t(n));
}

void set_master_password(const char *pw) {
    secure_zero(zvcmomaskey, sizeof zvcmomaskey);
    if (pw) gen_master_key(pw, int32_t(strlen(pw)), zvcmomaskey, zvcmomaskln);
}

void set_master_key_length(int32_t len) { zvcmomaskln = len > 0 && len <= kMaxKey ? len : 32; }

void master_key_reset() {
    secure_zero(zvcmomaskey, sizeof zvcmomaskey);
    zvcmomaskln = 32;
    zvcmologcip = 0;
    cmosdksup = 0;
    zvcamlog = 0;
}

}  // namespace zv

// ---- Exported entries ---------------------------------------------------------

ZV_API void GenMasterKey(const char *password, int32_t pwlen, unsigned char *out, int32_t outlen) {
    zv::gen_master_key(password, pwlen, out, outlen);
}
ZV_API void PassToKey(unsigned char *out, int32_t outlen, const char *password, int32_t pwlen) {
    zv::pass_to_key(out, outlen, password, pwlen);
}
ZV_API int GenSessionKey(QVSRNG *generator, unsigned char *out, int32_t len) {
    return zv::rng_read(generator, out, len);
}
ZV_API int QVSCreateMasterFile(const char *password, int32_t pwlen, const char *path, char *msg, int32_t keylen,
                               int32_t msgsize) {
    return zv::create_master_file(password, pwlen, path, msg, keylen, msgsize);
}
ZV_API int QVSVerifyMasterPassword(const char *password, int32_t pwlen, const char *path, char *msg,
                                   int32_t msgsize) {
    return zv::verify_master_password(password, pwlen, path, msg, msgsize);
}

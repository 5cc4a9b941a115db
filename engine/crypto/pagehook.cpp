// The page cipher of encrypted files.
//
// The platform transfer (engine/core/fileio.cpp) hands this hook whole
// 2048-byte units aligned on file offsets at or past the file's encryption
// start. Each unit is enciphered in CBC by itself under the file key, with
// an IV made from the unit's file offset (low 32 bits), so a unit can be
// rewritten alone and keeps its IV; units of one file never share one
// unless their offsets differ by a multiple of 2^32.
//
// Operation 1 enciphers into the instance's work buffer when it can be had
// (the caller's buffer stays plain) and in place otherwise; operation 3,
// after the write, deciphers in place exactly when operation 1 worked in
// place, so the caller never keeps cipher text. Operation 2 deciphers what
// was read in place.
//
// Hot path: the file key's schedule is built once, when the file is created
// or opened (file_key_new); a transfer reloads only the IV of each unit and
// allocates nothing once the work buffer has reached the transfer's size.
// Where the processor has AES instructions, the AES and RIJ classes take
// them: the units of a transfer are enciphered up to eight side by side
// (CBC chains never cross a unit, so they are independent), from the
// caller's buffer straight into the work buffer, without the copy.
#include "engine/crypto/pagehook.h"

#include <cstdio>
#include <cstring>

#include "engine/core/bytes.h"
#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/crypto/aes_hw.h"
#include "engine/crypto/camostate.h"
#include "engine/crypto/hashes.h"
#include "engine/crypto/qvsctx.h"
#include "engine/crypto/road.h"
#include "engine/crypto/wipe.h"

namespace zv {

namespace {

PageHook g_hook = nullptr;
long g_schedules = 0;

bool prepare(FileKey *fk) {
    g_schedules++;
    if (qvs_init(&fk->ctx, fk->cls, QVS_CBC, fk->key, fk->keylen, nullptr, 0) != QVS_OK) return false;
    if (fk->cls == QVS_MDC) memcpy(&fk->mdc, fk->ctx.schedule, sizeof fk->mdc);
    return true;
}

// Whether a class's units go through the processor's AES instructions.
bool aes_units_hw(int cls) {
    return crypto_road().aes && (cls == QVS_RIJ || cls == QVS_AES || cls == QVS_AES_ALT);
}

// The units of [from, len) of a transfer on the accelerated road, read from
// `in` and written to `out` (the same buffer, or the work buffer when
// enciphering a copy); `off` is the low word of the file offset of byte
// `from`. The unit IVs go into the cipher's column order the way the
// context loads an IV: as they stand for AES, each word's bytes taken most
// significant first for RIJ. Up to eight units are enciphered side by side.
void aes_units(FileKey *fk, bool rij, bool encrypt, const unsigned char *in, unsigned char *out, uint32_t from,
               uint32_t len, uint32_t off) {
    constexpr uint32_t kSide = 8;
    const auto *s = reinterpret_cast<const RijSchedule *>(fk->ctx.schedule);
    unsigned char ivs[kSide][16];
    for (uint32_t at = from; at < len;) {
        const uint32_t count = (len - at) / kCamoUnit < kSide ? (len - at) / kCamoUnit : kSide;
        for (uint32_t u = 0; u < count; u++) {
            uint32_t iv[4];
            generateIV(off + u * kCamoUnit, iv, 4);
            for (int i = 0; i < 4; i++) {
                uint32_t col = rij ? be::get32(reinterpret_cast<const unsigned char *>(iv + i)) : iv[i];
                memcpy(ivs[u] + 4 * i, &col, 4);
            }
        }
        if (encrypt) {
            aes_hw_cbc_encrypt_units(s, rij, ivs, in + at, out + at, kCamoUnit, kCamoUnit / 16, count);
        } else {
            for (uint32_t u = 0; u < count; u++)
                aes_hw_cbc_decrypt(s, rij, ivs[u], in + at + u * kCamoUnit, out + at + u * kCamoUnit,
                                   kCamoUnit / 16);
        }
        at += count * kCamoUnit;
        off += count * kCamoUnit;
    }
}

}  // namespace

FileKey *file_key_new(int32_t cls, const unsigned char *key, int32_t keylen) {
    if (!key || keylen < 1 || keylen > int32_t(sizeof FileKey::key)) return nullptr;
    auto *fk = static_cast<FileKey *>(mballc(1, sizeof(FileKey)));
    if (!fk) return nullptr;
    fk->cls = cls;
    fk->keylen = keylen;
    memcpy(fk->key, key, size_t(keylen));
    if (cls >= 2 && !prepare(fk)) {
        file_key_free(fk);
        return nullptr;
    }
    return fk;
}

void file_key_free(FileKey *fk) {
    if (!fk) return;
    secure_zero(fk, sizeof *fk);
    mbfree(fk);
}

void generateIV(uint32_t offset, uint32_t *out, int count) {
    uint32_t c = 0xFFFFFFFFu;
    for (int i = 0; i < count; i++) {
        c = crc32_uint(offset, c);
        out[i] = c;
    }
}

void *zvcamo81(void *buf, uint32_t hi, uint32_t lo, int32_t len, int op, uint32_t encstart, void *key,
               int32_t keylen, int cls) {
    if (cls < 2) return nullptr;
    if (len < 0 || len % int32_t(kCamoUnit)) terr(8888);
    auto *fk = static_cast<FileKey *>(key);
    if (!fk) terr(8876);
    if (fk->cls != cls || fk->keylen != keylen) {
        // A key buffer made for another cipher: make its schedule fit.
        fk->cls = cls;
        fk->keylen = keylen;
        if (!prepare(fk)) terr(8876);
    }
    // The clear prefix of a transfer that begins below the start.
    uint32_t skip = 0;
    if (hi == 0 && lo < encstart) {
        uint64_t s = uint64_t(encstart) - lo;
        skip = s < uint64_t(len) ? uint32_t(s) : uint32_t(len);
    }
    auto *p = static_cast<unsigned char *>(buf);
    INSTGV *g = zvWNGV;
    const bool hw = aes_units_hw(cls);
    bool copy = false;
    if (op == 1) {
        void *work = skip == 0 ? mballccam(uint32_t(len)) : nullptr;
        if (work) {
            // The accelerated road enciphers from the caller's buffer
            // straight into the work buffer.
            if (!hw) memcpy(work, p, size_t(len));
            p = static_cast<unsigned char *>(work);
            copy = true;
        }
    } else if (op == 3) {
        // Operation 1 worked on the work buffer: the caller's bytes were
        // never changed.
        if (skip == 0 && g && g->encworkbuf && g->encworksize >= uint32_t(len)) return buf;
    }
    if (hw) {
        aes_units(fk, cls == QVS_RIJ, op == 1, static_cast<const unsigned char *>(buf), p, skip, uint32_t(len),
                  lo + skip);
        return copy ? p : buf;
    }
    uint32_t iv[4];
    uint32_t off = lo + skip;
    for (uint32_t at = skip; at < uint32_t(len); at += kCamoUnit, off += kCamoUnit) {
        generateIV(off, iv, 4);
        if (cls == QVS_MDC) memcpy(fk->ctx.schedule, &fk->mdc, sizeof fk->mdc);
        int rc = qvs_set_iv(&fk->ctx, reinterpret_cast<unsigned char *>(iv), int32_t(sizeof iv));
        if (rc) terr(8876);
        rc = op == 1 ? qvs_encrypt(&fk->ctx, p + at, int32_t(kCamoUnit))
                     : qvs_decrypt(&fk->ctx, p + at, int32_t(kCamoUnit));
        if (rc) terr(op == 1 ? 8889 : op == 2 ? 8874 : 8873);
    }
    return copy ? p : buf;
}

int chkcamoblk(int32_t pagesize, char *msg, int32_t size) {
    int rc = 0;
    const int32_t unit = int32_t(kCamoUnit);
    if (pagesize > 0 && pagesize < unit && unit % pagesize) rc = 2;
    if (pagesize > unit && pagesize % unit) rc = 1;
    if (rc && msg && size > 0) {
        if (rc == 2)
            snprintf(msg, size_t(size),
                     "The encryption block size of %d is required to be a multiple of a PAGE_SIZE that is "
                     "smaller than the encryption block size.",
                     unit);
        else
            snprintf(msg, size_t(size),
                     "A PAGE_SIZE that is larger than the encryption block size of %d is required to be a "
                     "multiple of the encryption block size.",
                     unit);
    }
    return rc;
}

int zvcamoi() {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    camo_state(g).pagebad = 0;
    char msg[200];
    if (g->nodesize && chkcamoblk(g->nodesize, msg, sizeof msg)) {
        zvrcvlog(msg, 0);
        camo_state(g).pagebad = 1;
        return 1;
    }
    return 0;
}

int zvfnccamo_install() {
    if (!g_hook) g_hook = zvcamo81;
    return 0;
}

PageHook camo_process_hook() { return g_hook; }
void camo_set_process_hook(PageHook hook) { g_hook = hook; }

long file_key_schedules() { return g_schedules; }

}  // namespace zv

// Master-key change: re-seals the key block of every listed encrypted file
// under the key of a new password. File pages are not touched: their keys
// do not change.
//
// The change is all or nothing. Under a transaction and the recovery log
// (recovlog.cpp) it writes the new password's verification file as
// "CMPRECOVA.QVS" and logs it against "zvsrvr.pvf", then logs and rewrites
// one key block after the other. When every file went well the log's first
// entry turns to "redo" (the commit point), "zvsrvr.pvf" takes the new
// content, the new key is installed and the log is deleted. When one file
// failed, every key block already rewritten is put back, the old key and
// verification file stay, and the first failure's code is returned. A
// crash anywhere is undone (before the commit) or finished (after it) by
// the replay at the next start.
//
// Request block: u32 options, u32 file count, then NUL-terminated strings:
// the old password (absent with option 4: the current master key is the
// old key), the new password, and the file names.
//
// The change opens, reads and rewrites files, so it belongs to the file
// layer; the master key, the password check and the recovery log it runs
// under are the encryption subsystem's, below it.
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/core/arith.h"
#include "engine/core/bytes.h"
#include "engine/core/centralio.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/crypto/masterkey.h"
#include "engine/crypto/recovlog.h"
#include "engine/crypto/wipe.h"
#include "engine/core/fcb.h"
#include "engine/files/fileenc.h"
#include "engine/files/keychange.h"
#include "engine/files/resource.h"

namespace zv {

namespace {

constexpr uint32_t kOptChange = 0x01;
constexpr uint32_t kOptKeyStore = 0x02;
constexpr uint32_t kOptNoOldPassword = 0x04;
constexpr uint32_t kOptVerifyOnly = 0x10;
constexpr uint32_t kOptAll = 0x1F;
constexpr uint32_t kKeyChangeBit = 0x2000000;
constexpr uint32_t kImage = kSecImage;

// Failed password checks of this process: from the fifth on, each waits a
// second.
int g_failures = 0;

// One key block rewritten by this change, for putting it back.
struct Rekeyed {
    char name[256];
    uint64_t at;
    unsigned char old[kImage];
};

bool is_transaction_log(const char *name) {
    const char *base = name;
    for (const char *p = name; *p; p++)
        if (*p == '/' || *p == '\\') base = p + 1;
    size_t n = strlen(base);
    if (n <= 11 || base[0] != 'L') return false;
    const char *ext = base + n - 4;
    return !strcmp(ext, ".QVS") || !strcmp(ext, ".QVA") || !strcmp(ext, ".QVT");
}

void wipe_text(char *s) {
    if (s) secure_zero(s, strlen(s));
}

// Re-seals one file; a file it changed goes to *done (room reserved).
int rekey_file(const char *name, const unsigned char *oldkey, const unsigned char *newkey, uint32_t *outflags,
               RecovCtx *ctx, std::vector<Rekeyed> *done) {
    INSTGV *g = zvWNGV;
    int filno = AVLFILNUM(1);
    if (filno < 0) return g->uerr_cod ? g->uerr_cod : 22;
    // Exclusive, so that the open stores no other mode in the header: the
    // key block is all the change writes.
    if (int rc = OPNFIL(filno, name, 0)) return rc;
    FCB *f = g->fcbtab[filno];
    if (outflags) *outflags = f->hdr.base.flmode & 0x30;
    uint64_t pos = join64(f->hdr.ext.secresh, f->hdr.base.secres);
    if (f->cipherclass < 2 || !pos) {
        CLSFIL(filno, 0);
        return 0;
    }
    auto report = [&](const char *what, int code) {
        zvrt_printf("zvReencryptFileEncryptionRes: Failed to %s for file %s: error %d\n", what, name, code);
        return code;
    };
    uint32_t hsize = f->rhdrsize2 ? f->rhdrsize2 : ((f->hdr.base.hdrflags & kHdr8ByteOffsets) ? 30 : 22);
    uint64_t at = pos + hsize;
    Rekeyed r{};
    snprintf(r.name, sizeof r.name, "%s", name);
    r.at = at;
    unsigned char img[kImage];
    int32_t got = 0;
    int rc = 0;
    RESHDR h;
    if (getrhdr(f, pos, &h) || h.type != 0 || h.number != 6 || h.usedlen < kImage || pos > UINT32_MAX) rc = 408;
    if (!rc) rc = izvio81x(0, f, uint32_t(at >> 32), uint32_t(at), r.old, kImage, &got, 0);
    if (!rc && got != int32_t(kImage)) rc = 408;
    if (!rc) {
        memcpy(img, r.old, kImage);
        rc = reseal_key_block(img, oldkey, newkey);
        if (rc) report("decrypt security resource", rc);
    }
    if (!rc && ctx) {
        // The entry is on disk before the key block changes.
        if ((rc = zvcmprecovResetBuffer(ctx))) report("reset recovery buffer", rc);
        else if ((rc = zvcmprecovSetFileName(ctx, name))) report("set recovery file name", rc);
        else if ((rc = zvcmprecovSetOffset(ctx, uint32_t(pos), hsize))) report("set recovery offset", rc);
        else if ((rc = zvcmprecovSetImage(ctx, r.old, kImage, 0))) report("set recovery old image", rc);
        else if ((rc = zvcmprecovSetImage(ctx, img, kImage, 1))) report("set recovery new image", rc);
        else if ((rc = zvcmprecovWriteLog(ctx))) report("write recovery log entry", rc);
    }
    if (!rc) {
        rc = izvio81x(1, f, uint32_t(at >> 32), uint32_t(at), img, kImage, nullptr, 0);
        // Whatever reached the file, the old image puts it back.
        done->push_back(r);
    }
    secure_zero(img, sizeof img);
    int crc = CLSFIL(filno, 0x20);
    return rc ? rc : crc;
}

// Puts back the key blocks of a change that failed: 0, or the first error
// (the log then stays for the replay at the next start).
int put_back(const std::vector<Rekeyed> &done) {
    int first = 0;
    char msg[300];
    for (auto it = done.rbegin(); it != done.rend(); ++it) {
        int rc = recov_put_image(it->name, it->at, it->old, kImage, msg, sizeof msg);
        if (rc && !first) {
            first = rc;
            zvrt_printf("%s\n", msg);
        }
    }
    return first;
}

}  // namespace

int change_master_password(void *request);

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int zvReencryptFileEncryptionRes(const char *name, const unsigned char *oldkey, const unsigned char *newkey,
                                        uint32_t *outflags, void *ctx) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!name || !oldkey || !newkey) return set_uerr(540);
    std::vector<Rekeyed> done;
    try {
        done.reserve(1);
    } catch (...) {
        return set_uerr(82);
    }
    return set_uerr(rekey_file(name, oldkey, newkey, outflags, static_cast<RecovCtx *>(ctx), &done));
}

ZV_API int zvChangeMasterPassword(void *request) {
    try {
        return change_master_password(request);
    } catch (...) {
        return set_uerr(82);
    }
}

}  // extern "C"

namespace zv {

int change_master_password(void *request) {
    if (!request) {
        zvrt_printf("\n%d succeeded, %d failed\n", 0, 0);
        return 540;
    }
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    auto *req = static_cast<unsigned char *>(request);
    uint32_t opts = host::get32(req), count = host::get32(req + 4);
    char *p = reinterpret_cast<char *>(req + 8);
    char *oldpw = nullptr;
    if (!(opts & kOptNoOldPassword)) {
        oldpw = p;
        p += strlen(p) + 1;
    }
    char *newpw = p;
    auto wipe = [&] {
        wipe_text(oldpw);
        wipe_text(newpw);
    };
    if (!camo_support()) {
        wipe();
        return set_uerr(454);
    }
    int rc = 0;
    if (opts != kOptVerifyOnly) {
        if (opts & ~kOptAll) rc = 116;
        else if (opts & kOptKeyStore) rc = (opts & kOptChange) ? 116 : 454;
        else if (!(opts & kOptChange)) rc = 116;
    }
    if (rc) {
        wipe();
        return set_uerr(rc);
    }
    const int32_t klen = zvcmomaskln;
    unsigned char oldkey[64] = {}, newkey[64] = {};
    if (opts & kOptNoOldPassword) {
        memcpy(oldkey, zvcmomaskey, size_t(klen));
    } else {
        gen_master_key(oldpw, int32_t(strlen(oldpw)), oldkey, klen);
        if (memcmp(oldkey, zvcmomaskey, size_t(klen)) != 0) {
            wipe();
            secure_zero(oldkey, sizeof oldkey);
            g_failures++;
            zvdefer(g_failures <= 4 ? 100 : 1000);
            return set_uerr(932);
        }
        g_failures = 0;
        if (opts == kOptVerifyOnly) {
            wipe();
            secure_zero(oldkey, sizeof oldkey);
            return set_uerr(0);
        }
    }
    gen_master_key(newpw, int32_t(strlen(newpw)), newkey, klen);
    if (memcmp(newkey, zvcmomaskey, size_t(klen)) == 0) {
        wipe();
        secure_zero(oldkey, sizeof oldkey);
        secure_zero(newkey, sizeof newkey);
        return set_uerr(0);
    }
    // Everything that may take memory is taken before the change begins.
    std::vector<char *> files;
    files.reserve(count);
    std::vector<Rekeyed> done;
    done.reserve(count);
    char *q = newpw + strlen(newpw) + 1;
    for (uint32_t i = 0; i < count; i++) {
        files.push_back(q);
        q += strlen(q) + 1;
    }

    char msg[256] = {};
    RecovCtx *ctx = nullptr;
    if ((rc = zvcmprecovInit(&ctx, msg, sizeof msg))) {
        wipe();
        return set_uerr(rc);
    }
    bool raised = !(g->opsmode & kKeyChangeBit);
    if (raised) SETOPS(int32_t(kKeyChangeBit), 2);
    bool logging = recov_logging();
    bool keep_log = false;
    int succeeded = 0, failed = 0, first = 0;
    char logname[256], newmaster[256];
    recov_names(logname, newmaster);
    int32_t tran = TRANBEG(50);
    if (!tran) {
        first = g->uerr_cod ? g->uerr_cod : 71;
    } else if (logging) {
        if ((rc = zvcmprecovSetFileName(ctx, "undo"))) {
            zvrt_printf("zvChangeMasterPassword: Failed to set recovery status to undo: error %d\n", rc);
        } else if ((rc = zvcmprecovSaveTranno(ctx, uint64_t(uint32_t(tran))))) {
            zvrt_printf("zvChangeMasterPassword: Failed to write recovery log entry: error %d\n", rc);
        }
        first = rc;
    }
    // The new password's verification file, logged against the current one.
    if (tran && !first) {
        rc = create_master_file(newpw, int32_t(strlen(newpw)), newmaster, msg, 32, sizeof msg);
        if (!rc && logging) rc = zvcmprecovSaveFile(ctx, kMasterFile, newmaster, true);
        if (rc) {
            zvrt_printf("zvChangeMasterPassword: Failed to write the new password verification file: error %d\n", rc);
            first = rc;
        }
    }
    if (tran && !first) {
        for (char *name : files) {
            if (is_transaction_log(name)) continue;
            uint32_t flags = 0;
            rc = rekey_file(name, oldkey, newkey, &flags, logging ? ctx : nullptr, &done);
            if (rc) zvrt_printf("[ ERROR ] %s: %d\n", name, rc);
            else zvrt_printf("[  OK   ] %s\n", name);
            if (rc) {
                failed++;
                if (!first) first = rc;
            } else {
                succeeded++;
            }
        }
    }
    if (tran) {
        if (!first) {
            if ((rc = TRANEND(0))) {
                zvrt_printf("zvChangeMasterPassword: Failed to commit transaction: error %d\n", rc);
                TRANABT();
                first = rc;
            }
        } else {
            TRANABT();
        }
    }
    if (!first && logging && (rc = zvcmprecovSetStatus(ctx, "redo"))) first = rc;
    if (!first) {
        // Committed: from here on the change is finished, by this call or
        // by the replay at the next start.
        if (plat_rename(newmaster, kMasterFile) != 0) {
            first = 12;
            keep_log = logging;
        }
        install_master_key(newkey);
    } else {
        if (put_back(done)) keep_log = logging;
        if (!keep_log) plat_unlink(newmaster);
    }
    if (raised) SETOPS(int32_t(kKeyChangeBit), 0);
    zvrt_printf("\n%d succeeded, %d failed\n", succeeded, failed);
    wipe();
    secure_zero(oldkey, sizeof oldkey);
    secure_zero(newkey, sizeof newkey);
    zvcmprecovFree(&ctx, keep_log ? 0 : 1);
    zvcmprecovFinish();
    return set_uerr(first);
}

void keychange_reset() { g_failures = 0; }

}  // namespace zv

// Named file mutexes and whole-file utilities of the core.
//
// A named mutex is an exclusive byte-range lock on the first 128 bytes of a
// lock file, so it excludes other processes; within this instance a held
// name may be re-entered when it was taken counted (mode bit 4). The
// instance keeps its held names in a growable array of 272-byte entries.
#include "engine/core/filemutex.h"

#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/fileops.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/core/fcb.h"

using namespace zv;

namespace {

enum : uint32_t { kHeld = 1, kFreeSlot = 2 };

// One named mutex of the instance.
struct MutexEntry {
    uint32_t state;     // 1 held, 2 free slot
    uint32_t count;     // re-entry count; 0 when taken without counting
    uint32_t exclusive; // 1 when taken with mode bit 32, else all ones
    uint32_t fd;        // lock file descriptor
    char name[256];     // lock-file name
};
static_assert(sizeof(MutexEntry) == 272);

constexpr int kLockBytes = 128;

MutexEntry *entries() { return static_cast<MutexEntry *>(zvWNGV->mtxentries); }

MutexEntry *find_held(const char *name) {
    MutexEntry *e = entries();
    for (int32_t i = 0; i < zvWNGV->mtxcount; i++)
        if (e[i].state == kHeld && strcmp(e[i].name, name) == 0) return &e[i];
    return nullptr;
}

// A scratch control block for opening lock files outside the file table:
// permanent, so the descriptor does not count against the open budget.
void lock_fcb(FCB *f) {
    memset(f, 0, sizeof *f);
    f->fd = -1;
    f->hdr.base.flmode = 2;
}

}  // namespace

namespace zv {

void filmtx_release_all() {
    INSTGV *g = zvWNGV;
    if (!g) return;
    FCB scratch;
    lock_fcb(&scratch);
    for (int32_t i = 0; i < g->mtxcount; i++) {
        MutexEntry &e = entries()[i];
        if (e.state != kHeld) continue;
        zvfpglok81(int(e.fd), nullptr, 0, 0, kLockBytes, 4);
        mbclosx(&scratch, int(e.fd));
    }
    mbfree(g->mtxentries);
    g->mtxentries = nullptr;
    g->mtxcap = g->mtxcount = 0;
}

}  // namespace zv

extern "C" {

ZV_API int zvFILMTX(const char *name, int mode) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    bool acquire = mode & 1, release = mode & 2;
    if (acquire == release) return zv::set_uerr(446);
    if (!name || !*name) return zv::set_uerr(130);
    if (strlen(name) > 255) return zv::set_uerr(139);
    FCB scratch;
    lock_fcb(&scratch);
    if (release) {
        MutexEntry *e = find_held(name);
        if (!e) return zv::set_uerr(101);
        if (e->count > 1) {
            e->count--;
            return zv::set_uerr(0);
        }
        zvfpglok81(int(e->fd), nullptr, 0, 0, kLockBytes, 4);
        mbclosx(&scratch, int(e->fd));
        if (mode & 16) dltfil(e->name);
        memset(e, 0, sizeof *e);
        e->state = kFreeSlot;
        return zv::set_uerr(0);
    }
    if (MutexEntry *e = find_held(name)) {
        if (!(mode & 4) || e->exclusive == 1) return zv::set_uerr(2);
        e->count = e->count == 0 ? 2 : e->count + 1;
        return zv::set_uerr(0);
    }
    int fd = mbopen(&scratch, name, 2);
    if (fd < 0) {
        if (!(mode & 8)) return zv::set_uerr(12);
        fd = mbcratx(&scratch, name);
        if (fd < 0) {
            if (g->uerr_cod == 19) fd = mbopen(&scratch, name, 2);  // made by another process
            if (fd < 0) return zv::set_uerr(17);
        } else {
            // The lock file is made: its creation lock (of the descriptor)
            // gives way to the mutex's own lock of the process.
            zvfpglok81(fd, nullptr, 0, 0, 0, 4 | 32);
        }
    }
    if (zvfpglok81(fd, nullptr, 0, 0, kLockBytes, 2) != 0) {
        mbclosx(&scratch, fd);
        return zv::set_uerr(156);
    }
    MutexEntry *e = nullptr;
    for (int32_t i = 0; i < g->mtxcount; i++)
        if (entries()[i].state == kFreeSlot) {
            e = &entries()[i];
            break;
        }
    if (!e) {
        int idx = zvdallc(&g->mtxcap, &g->mtxcount, &g->mtxentries, sizeof(MutexEntry), 5);
        if (idx < 0) {
            zvfpglok81(fd, nullptr, 0, 0, kLockBytes, 4);
            mbclosx(&scratch, fd);
            return zv::set_uerr(10);
        }
        e = &entries()[idx];
    }
    e->state = kHeld;
    e->count = (mode & 4) ? 1 : 0;
    e->exclusive = (mode & 32) ? 1 : 0xFFFFFFFFu;
    e->fd = uint32_t(fd);
    strcpy(e->name, name);
    return zv::set_uerr(0);
}

ZV_API int zvfillff81(FCB *fcb, uint32_t hi, uint32_t lo, uint32_t len) {
    INSTGV *g = zvWNGV;
    if (!g || !fcb) return 61;
    if (len == 0) return 0;
    uint64_t at = zv::join64(hi, lo);
    uint64_t end = at + len;
    if (!(fcb->hdr.base.hdrflags & kHdr8ByteOffsets) && (hi != 0 || end - 1 > 0xFFFFFFFFull))
        return 0;  // a range that wraps past 32 bits writes nothing
    uint32_t piece = g->fillsize ? g->fillsize : 2048;
    while (at < end) {
        uint32_t n = end - at < piece ? uint32_t(end - at) : piece;
        int rc = izvio81x(1, fcb, uint32_t(at >> 32), uint32_t(at), g->fillbuf, int32_t(n), nullptr, 0);
        if (rc) return rc;
        at += n;
    }
    return 0;
}

int invspcmgtidx(FCB *fcb, const char *message) {
    if (message) zvrcvlog(message, zv::kLogSingleTry);
    int rc = zvrcvlog(fcb ? fcb->name : "", zv::kLogSingleTry);
    if (fcb) fcb->nospcidx = 1;
    return rc;
}

ZV_API int setidxcorrupt(FCB *fcb, const char *message, int msgcode, int code) {
    INSTGV *g = zvWNGV;
    if (code == 0) code = g ? g->uerr_cod : 0;
    FCB *host = fcb && fcb->hostfcb ? fcb->hostfcb : fcb;
    if (message) zvrcvlog(message, msgcode);
    char line[300];
    snprintf(line, sizeof line, "%s [%0d]", host ? host->name : "", fcb ? fcb->hdr.base.kmem : 0);
    zvrcvlog(line, code);
    if (host) host->hdr.base.updflg = 'R';
    return zv::set_uerr(code);
}

}  // extern "C"

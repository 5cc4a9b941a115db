// The open-file services over the file control blocks: the open-file ring,
// the lookup of an open file by name, the update permission, the writer's
// lock, and the small per-file queries on top of them (names, the
// large-offset test). The blocks and the file-number table themselves are
// the engine core's (engine/core/fcb.h, fcbtab.cpp).
//
// Invariants:
//  1. The ring holds host blocks only, each at most once, and only while
//     they hold a platform descriptor and were not opened permanent (0x02).
//     Memory files and members never enter it, nor a block that took the
//     writer's lock through a shared open: a virtual close would give that
//     lock up, and another process could change the file under the
//     block's header and caches before the reopen took it back.
//  2. A file changes only through a descriptor that holds it exclusively
//     (take_writer_lock before the first change): an exclusive open holds
//     it from the open (or the create) on, a shared one from its first
//     change, and either keeps it until the close. While any other open of
//     the file holds it, in this process or another, the change is refused
//     (12). Headers too are written only so (holds_file_exclusively): the
//     open's own record of its file mode is written by an open that holds
//     the file alone, and a shared open's mode reaches the header with its
//     first change. So a header that an open reads, holding the file
//     shared, is never written between its two parts.
//     The lock sits on the descriptor, so the blocks of one instance that
//     share one (a host, its directory and its members; an index and its
//     additional members) are one holder.
//  3. A block closed virtually holds no lock until its reopen, so another
//     open may change the file meanwhile. Every such change moves the
//     update counter of the file's header (the update mark writes the whole
//     header), so the reopen compares the counter on disk with the block's
//     own; when they differ the block is outdated: its header and caches
//     are not the file's, and it changes nothing more (12, system code 0)
//     until it is closed, while its reads go on.
#include "engine/files/fcbops.h"

#include <cstdio>
#include <cstring>

#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/filehold.h"
#include "engine/core/fileops.h"
#include "engine/core/instance.h"
#include "engine/core/highword.h"
#include "engine/core/statuslog.h"
#include "engine/index/index_services.h"

namespace zv {

namespace {

bool in_ring(const INSTGV *g, const FCB *h) { return h->ringprev || h->ringnext || g->ringfront == h; }

void ring_unlink(INSTGV *g, FCB *h) {
    if (!in_ring(g, h)) return;
    if (h->ringprev) h->ringprev->ringnext = h->ringnext;
    else g->ringfront = h->ringnext;
    if (h->ringnext) h->ringnext->ringprev = h->ringprev;
    else g->ringback = h->ringprev;
    h->ringprev = h->ringnext = nullptr;
}

void ring_push_front(INSTGV *g, FCB *h) {
    h->ringprev = nullptr;
    h->ringnext = g->ringfront;
    if (g->ringfront) g->ringfront->ringprev = h;
    else g->ringback = h;
    g->ringfront = h;
}

}  // namespace

}  // namespace zv

using namespace zv;

namespace {

bool open_host_file(const FCB *f) {
    return f && (f->state == 'y' || f->state == 'v') && f->hostfcb == f && f->hdr.base.kmem == 0;
}

}  // namespace

int chkopnx(const char *name) {
    INSTGV *g = zvWNGV;
    if (!g || !g->fcbtab || !name) return -1;
    for (int i = 0; i <= int(g->filecount); i++) {
        const FCB *f = g->fcbtab[i];
        if (open_host_file(f) && strcmp(f->name, name) == 0) return i;
    }
    // Another spelling of an open file's name ("./db.qdd" for "db.qdd"):
    // the same device and inode, the name converted as an open would.
    char conv[256];
    if (snprintf(conv, sizeof conv, "%s", name) >= int(sizeof conv)) return -1;
    if (g->nameconv == 3 && zvcnvfn(conv) > 0) return -1;
    uint64_t dev = 0, ino = 0;
    if (zv_getuniqfile(conv, &dev, &ino) != 0) return -1;
    for (int i = 0; i <= int(g->filecount); i++) {
        const FCB *f = g->fcbtab[i];
        if (open_host_file(f) && f->fileidset && f->filedev == dev && f->fileino == ino) return i;
    }
    return -1;
}

void zv::note_file_identity(FCB *f) {
    f->fileidset = f->fd >= 0 && zv_fgetuniqfile(f->fd, &f->filedev, &f->fileino) == 0;
}

int zv::take_writer_lock(FCB *f) {
    INSTGV *g = zvWNGV;
    FCB *h = io_fcb(f);
    if (h->state == 's' || fcb_is_memory(h) || (h->hdr.base.flmode & kOpnReadOnly)) return 0;
    // The reopen of a block closed virtually tells whether another open
    // changed the file meanwhile; a block that saw that writes nothing more.
    if (h->state == 'v' && zvswitch(h) != 0) return g->uerr_cod;
    if (h->outdated) {
        g->sysiocod = 0;
        return set_uerr(12);
    }
    if (h->wrlock != kLockShared || h->fd < 0) return 0;
    if (int err = zvfpglok81(h->fd, nullptr, 0, 0, 0, 2 | 32)) {
        g->sysiocod = uint16_t(err);
        return set_uerr(12);
    }
    h->wrlock = kLockWriter;
    inrfil(h, 0);
    return 0;
}

bool zv::holds_file_exclusively(FCB *f) {
    FCB *h = io_fcb(f);
    if (h->state == 's' || fcb_is_memory(h)) return true;
    if (h->outdated) return false;
    if (h->wrlock != kLockShared) return true;
    return h->fd >= 0 && fd_held(h->fd);
}

namespace {

// Both bits of the operation-mode word together keep chkredf from forming
// stale key images again.
constexpr uint32_t kOpsNoRefresh = 0x01 | 0x08;

// A data file whose readers left current key images stale (its state flag
// 0x08) has them formed again from its current ISAM record before it is
// changed, so that the update finds the keys of that record. The refresh
// reads through the ISAM layer; the caller's high-word cell and ISAM error
// stay as they were, and a refresh that fails leaves the images stale for
// the update to report.
void refresh_before_update(INSTGV *g, FCB *f) {
    const int32_t hw = tsthghwrd();
    const uint16_t isamerr = g->isamerr_cod, isamfil = g->isamfil_num;
    zvkbufrefresh(f->filno, -1);
    g->isamerr_cod = isamerr;
    g->isamfil_num = isamfil;
    zvSETHGHi(hw);
}

}  // namespace

int chkredf(int filno, FCB *f) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!f && !(f = tstfnm(filno))) return g->uerr_cod;
    if ((f->hdr.base.flmode & kOpnReadOnly) || (f->opflags & kOpNoUpdate)) return set_uerr(54);
    if ((f->stflags & kStRefreshKeys) && (g->opsmode & kOpsNoRefresh) != kOpsNoRefresh) refresh_before_update(g, f);
    if ((f->hdr.base.flmode & 0x10) && !g->rebuilding) return set_uerr(99);
    return set_uerr(0);
}

int chkredsrv(FCB *) { return 0; }

void inrfil(FCB *f, int how) {
    INSTGV *g = zvWNGV;
    if (!g || !f) return;
    FCB *h = f->hostfcb ? f->hostfcb : f;
    ring_unlink(g, h);
    if (how != 1) return;
    if (h->fd < 0 || fcb_is_memory(h) || (h->opnmode & kOpnPermanent) || h->wrlock == kLockWriter) return;
    ring_push_front(g, h);
}

int zvlclose(FCB *f, int, int quiet) {
    if (!f) return 0;
    int fd = f->fd;
    if (fd < 0) {
        if (fd != -2) f->fd = -1;
        return 0;
    }
    int rc = mbclosx(f, fd);
    f->fd = -1;
    if (rc != 0 && quiet != 1) return set_uerr(24);
    return 0;
}

extern "C" {

ZV_API int GETNAM(int filno, char *buffer, int32_t len) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    if (!buffer) return set_uerr(540);
    size_t n = strnlen(f->name, sizeof f->name - 1);
    if (len < 1 || n + 1 > size_t(len)) return set_uerr(153);
    cpynbuf(buffer, f->name, int(n + 1));
    return set_uerr(0);
}

ZV_API int TESTHUGE(int filno) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    FCB *h = f->hostfcb ? f->hostfcb : f;
    if (h->state == 'v' && zvswitch(h) != 0) return g->uerr_cod;
    if (h->fd < 0 || zvseek81(h->fd, 0, 0x80002000u) != 0) {
        set_uerr(-647);
        return -647;
    }
    if (zvseek81(h->fd, 1, 8192) != 0) {
        set_uerr(-648);
        return -648;
    }
    return set_uerr(0);
}

}  // extern "C"

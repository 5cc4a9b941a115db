// Holds: exclusive locks that one engine call keeps on files from its first
// check to its last step, across its own opens, closes and renames of them,
// so that no other open reaches the files in between: another process,
// another instance, or another description of this process is refused
// (12) as by any exclusive open. The public calls at the end give the same
// holds to a caller above the engine (the record level's makes, which
// hold the files they make from their creation to their end).
//
// A hold is a descriptor of its own with an exclusive whole-file lock of the
// open file description (plat_lock, description form). Such a lock belongs
// to the file, not to its name: it stays through renames and unlinks of the
// file and ends when the hold's descriptor closes (or the last descriptor of
// the description, for a hold taken over from an engine open).
//
// The call's own opens of a held file must not meet its hold (two
// descriptions conflict within one process too). The instance keeps its
// held files by device and inode; zvfpglok81 grants at once a description
// lock asked for a descriptor of a held file, without changing the hold's
// lock. Only while the instance holds files does a lock request cost the
// look-up (an fstat). When the last reference goes, the instance's opens
// still on the file take the locks their opens ask for: one that shares the
// hold's description (taken over from it) changes its lock in one step, so
// that no other open comes between; one opened while the file was held is
// locked after the hold's descriptor closes, and a refusal there marks its
// block outdated (it changes nothing more).
//
// A forked child shares the hold's descriptions and their locks (until it
// execs or ends) but holds nothing: the fork handler drops the holds of
// every instance in the child (drop_holds_in_child), so that its lock
// requests reach the system like any other open's, and its opens of held
// files, which had no locks of their own, change nothing more.
//
// Invariants:
//  1. An entry of the instance's table has refs >= 1 and fd >= 0 holding
//     the exclusive lock; no two entries name one file.
//  2. A hold never shrinks to a shared lock or an unlock while an entry
//     names it: the granted requests above never reach the description.
#include "engine/core/filehold.h"

#include <cerrno>
#include <new>

#include "engine/core/centralio.h"
#include "engine/core/fcb.h"
#include "engine/core/fileio.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

struct HoldEntry {
    uint64_t dev, ino;
    int32_t fd;
    int32_t refs;
};

HoldEntry *entries(INSTGV *g) { return static_cast<HoldEntry *>(g->holds); }

HoldEntry *find(INSTGV *g, uint64_t dev, uint64_t ino) {
    HoldEntry *e = entries(g);
    for (int32_t i = 0; i < g->nholds; i++) {
        if (e[i].dev == dev && e[i].ino == ino) return &e[i];
    }
    return nullptr;
}

int refuse(INSTGV *g, int err) {
    g->sysiocod = uint16_t(err);
    return set_uerr(12);
}

// Locks descriptor fd (a description of this instance's own) exclusively
// and records it: 0, or the code with fd closed.
int adopt(INSTGV *g, int fd, HoldRef *out) {
    PlatStat st{};
    if (plat_fstat(fd, &st) != 0) {
        const int err = errno;
        plat_close(fd);
        return refuse(g, err);
    }
    if (!st.is_regular) {
        plat_close(fd);
        return refuse(g, EINVAL);
    }
    out->g = g;
    out->dev = st.dev;
    out->ino = st.ino;
    if (HoldEntry *e = find(g, st.dev, st.ino)) {
        plat_close(fd);
        e->refs++;
        return 0;
    }
    if (plat_lock(fd, LockCmd::Try, LockType::Exclusive, 0, 0, nullptr, true) != 0) {
        const int err = errno;
        plat_close(fd);
        return refuse(g, err);
    }
    const int at = zvdallc(&g->capholds, &g->nholds, &g->holds, int(sizeof(HoldEntry)), 8);
    if (at < 0) {
        plat_close(fd);
        return set_uerr(82);
    }
    entries(g)[at] = HoldEntry{st.dev, st.ino, fd, 1};
    return 0;
}

// The instance's open blocks of the file (dev, ino), no longer covered by
// a hold, take the locks their opens ask for (as relock_open_file).
void relock_opens(INSTGV *g, uint64_t dev, uint64_t ino) {
    if (!g->fcbtab) return;
    for (int32_t i = 0; i <= g->filecount; i++) {
        FCB *f = g->fcbtab[i];
        if (!f || f->fd < 0 || f->hostfcb != f || !f->fileidset || f->filedev != dev || f->fileino != ino) continue;
        const bool shared = f->wrlock == kLockShared && opens_shared(f->hdr.base.flmode);
        if (plat_lock(f->fd, LockCmd::Try, shared ? LockType::Shared : LockType::Exclusive, 0, 0, nullptr, true) != 0)
            f->outdated = 1;
    }
}

// The instance's open blocks of the file (dev, ino) are outdated: they
// change nothing more. No system call: run in a forked child, whose lock
// requests on a description it shares would change the parent's locks.
void outdate_opens(INSTGV *g, uint64_t dev, uint64_t ino) {
    if (!g->fcbtab) return;
    for (int32_t i = 0; i <= g->filecount; i++) {
        FCB *f = g->fcbtab[i];
        if (f && f->fd >= 0 && f->hostfcb == f && f->fileidset && f->filedev == dev && f->fileino == ino)
            f->outdated = 1;
    }
}

// The open of a file to hold: under FoundNames the name is one the engine
// made up, and a symbolic link under it is refused too.
int open_to_hold(const INSTGV *g, const char *name) {
    return plat_open(name, g->foundopen ? OpenHow::FoundReadWrite : OpenHow::ReadWriteRegular, 0);
}

}  // namespace

int hold_file(const char *name, HoldRef *out) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!name || !out) return set_uerr(540);
    const int fd = open_to_hold(g, name);
    if (fd < 0) return refuse(g, errno);
    return adopt(g, fd, out);
}

int hold_file_if_there(const char *name, HoldRef *out) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!name || !out) return set_uerr(540);
    // Only a missing file is left to the caller: a file the caller may read
    // but not write (or that is no regular file, or under FoundNames a
    // link) would go unheld while the call works on it.
    const int fd = open_to_hold(g, name);
    if (fd < 0) return errno == ENOENT ? 1 : refuse(g, errno);
    return adopt(g, fd, out);
}

int hold_descriptor(int fd, HoldRef *out) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (fd < 0 || !out) return set_uerr(540);
    const int copy = plat_dup(fd);
    if (copy < 0) return refuse(g, errno);
    return adopt(g, copy, out);
}

void release_hold(const HoldRef &ref) {
    INSTGV *g = ref.g;
    if (!g) return;
    HoldEntry *e = find(g, ref.dev, ref.ino);
    if (!e || --e->refs > 0) return;
    const int fd = e->fd;
    *e = entries(g)[--g->nholds];
    plat_close(fd);
    relock_opens(g, ref.dev, ref.ino);
}

bool fd_held(int fd) {
    INSTGV *g = zvWNGV;
    if (!g || g->nholds == 0) return false;
    PlatStat st{};
    return plat_fstat(fd, &st) == 0 && find(g, st.dev, st.ino) != nullptr;
}

bool name_held(const char *name) {
    INSTGV *g = zvWNGV;
    if (!g || g->nholds == 0 || !name) return false;
    PlatStat st{};
    return plat_stat(name, &st) == 0 && find(g, st.dev, st.ino) != nullptr;
}

void release_all_holds() {
    INSTGV *g = zvWNGV;
    if (!g) return;
    for (int32_t i = 0; i < g->nholds; i++) plat_close(entries(g)[i].fd);
    mbfree(g->holds);
    g->holds = nullptr;
    g->nholds = g->capholds = 0;
}

void drop_holds_in_child() {
    INSTGV *const first = zvWNGV;
    if (!first) return;
    INSTGV *g = first;
    do {
        const HoldEntry *e = entries(g);
        for (int32_t i = 0; i < g->nholds; i++) {
            outdate_opens(g, e[i].dev, e[i].ino);
            // The parent's descriptor keeps the description and its lock.
            plat_close_unplanned(e[i].fd);
        }
        // The table's memory stays with the instance for its next holds.
        g->nholds = 0;
        g = g->next;
    } while (g && g != first);
}

int HeldFiles::keep(const HoldRef &r) {
    try {
        refs_.push_back(r);
    } catch (const std::bad_alloc &) {
        release_hold(r);
        return set_uerr(82);
    }
    return 0;
}

int HeldFiles::take(const char *name, bool if_there) {
    HoldRef r;
    if (int rc = if_there ? hold_file_if_there(name, &r) : hold_file(name, &r)) return rc == 1 ? 0 : rc;
    return keep(r);
}

int HeldFiles::take_fd(int fd) {
    HoldRef r;
    if (int rc = hold_descriptor(fd, &r)) return rc;
    return keep(r);
}

void HeldFiles::release() {
    for (size_t i = refs_.size(); i-- > 0;) release_hold(refs_[i]);
    refs_.clear();
}

}  // namespace zv

// The public calls over the holds: a caller above the engine (the record
// level's makes) keeps its files held from their creation across their
// close and their links.
extern "C" {

ZV_API int zvHoldOpenFile(int filno, ZVFILEHOLD *hold) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!hold) return zv::set_uerr(540);
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    // An additional member of an index lives in its index file, a superfile
    // member (and a host's directory) in its host's.
    if (f->kind == kKindIndex && f->hostfcb && f->hostfcb != f) f = f->hostfcb;
    f = physical_fcb(f);
    if (fcb_is_memory(f)) return zv::set_uerr(48);
    if (f->state == 'v' && zvswitch(f) != 0) return g->uerr_cod;
    if (f->fd < 0) return zv::set_uerr(26);
    zv::HoldRef ref;
    if (int rc = zv::hold_descriptor(f->fd, &ref)) return rc;
    *hold = ZVFILEHOLD{ref.dev, ref.ino};
    return 0;
}

ZV_API int zvHoldFileName(const char *name, ZVFILEHOLD *hold) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!name || !hold) return zv::set_uerr(540);
    const int fd = zv::plat_openat(zv::kAtWorkingDir, name, zv::AtHow::Regular);
    if (fd < 0) return zv::refuse(g, errno);
    zv::HoldRef ref;
    if (int rc = zv::adopt(g, fd, &ref)) return rc;
    *hold = ZVFILEHOLD{ref.dev, ref.ino};
    return 0;
}

ZV_API int zvReleaseFileHold(const ZVFILEHOLD *hold) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!hold) return zv::set_uerr(540);
    if (!zv::find(g, hold->dev, hold->ino)) return zv::set_uerr(26);
    zv::release_hold(zv::HoldRef{g, hold->dev, hold->ino});
    return 0;
}

}  // extern "C"

// New files put in the place of a set's originals (the compaction's data
// and index files, the set rebuild's index files).
//
// Invariants (a kill may stop the process between any two system calls):
//  1. While any new file carries an original's name and not every one does
//     yet, the set does not open cleanly: every new file is marked as not
//     closed cleanly (its update flag) before the first rename, and the
//     marks are cleared only once every new file has its name. An open then
//     answers 14, and the set rebuild makes the indexes agree with whichever
//     data file has the name.
//  2. An original's name never goes missing: the original of a plain file
//     keeps a second name (a hard link) beside it, and the new file is
//     renamed over the original in one step (rename(2)). An undo renames
//     the kept original back over the new file, in one step too. (A
//     segmented file, whose segment files move with it one by one, is
//     parked under a temporary name and its new file renamed in after it.)
//  3. A move whose segment renames fail part way has its earlier segment
//     renames taken back before it reports the failure.
//  4. Parked originals are deleted only when every move is done and every
//     mark cleared.
//  5. A data file parked by renames (segmented) has the swap's note beside
//     it (swapnote.h) from before the first rename until the swap is
//     committed or undone: an open that finds its name missing or its
//     segments mixed finishes the swap from it.
#include "engine/maint/fileswap.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "engine/core/fcb.h"
#include "engine/core/filehdr.h"
#include "engine/core/filenum.h"
#include "engine/core/fileops.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/files/close.h"
#include "engine/files/segments.h"
#include "engine/index/keymap.h"
#include "engine/isam/fileset.h"
#include "engine/isam/ifil.h"
#include "engine/maint/rblstate.h"
#include "zarvo/zarvo.h"

namespace zv {

int temp_beside(const char *path, char (&out)[256]) {
    INSTGV *g = zvWNGV;
    memset(out, 0, sizeof out);
    zvloadpath(path, out);
    if (!out[0]) snprintf(out, sizeof out, "./");
    const uint16_t prof = g->userprof;
    g->userprof |= 0x80;
    int rc = iTMPNAME(out, int(sizeof out));
    g->userprof = prof;
    if (rc) out[0] = 0;
    return rc;
}

void drop_physical(const char *name, uint32_t files) {
    char p[256];
    for (uint32_t i = files; physical_name(name, i, p) == 0 && zv_uniqfile(p, p) == 0; i++) rbl_drop_file(p);
    for (uint32_t i = files; i-- > 0;) {
        if (physical_name(name, i, p) == 0) rbl_drop_file(p);
    }
}

namespace {

// Renames a closed segmented file open, so that its segment headers follow.
int rename_open(const char *from, const char *to) {
    int n = rbl_spare_filno();
    if (n < 0) return zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 46;
    // The new file is marked as not closed cleanly by now: the open takes
    // it as it is.
    if (int rc = OPNFILX(n, from, kOpenDamaged, nullptr)) return rc;
    int rc = zvRENFIL(n, to);
    int cl = iclsfilx(n, 0);
    return rc ? rc : cl;
}

// The physical files of the closed file `name`: the file and, with
// automatic segments, its segment files present. 1 when it does not open.
uint32_t closed_physical_files(const char *name) {
    const int n = rbl_spare_filno();
    if (n < 0) return 1;
    const uint8_t keep = zvWNGV->nowrite;
    zvWNGV->nowrite = 1;  // the open records nothing in the file
    uint32_t files = 1;
    if (OPNFILX(n, name, uint16_t(kOpenDamaged | kOpnReadOnly), nullptr) == 0) {
        files = physical_files(zvWNGV->fcbtab[n]);
        iclsfilx(n, 0);
    }
    zvWNGV->nowrite = keep;
    set_uerr(0);
    return files;
}

}  // namespace

void FileSwap::log(const char *what, int code) const {
    char line[160];
    snprintf(line, sizeof line, "%s: %s", label_, what);
    zvrcvlog(line, kLogSingleTry - code);
}

int FileSwap::park(const char *own, uint32_t files, bool datafile) {
    Move m;
    char t[256];
    if (int rc = temp_beside(own, t)) return rc;
    snprintf(m.from.data(), m.from.size(), "%s", own);
    memcpy(m.to.data(), t, sizeof t);
    m.files = files;
    m.original = true;
    m.datafile = datafile;
    moves_.push_back(m);
    return 0;
}

void FileSwap::place(const char *tmp, const char *own, uint32_t files, bool datafile) {
    Move m;
    snprintf(m.from.data(), m.from.size(), "%s", tmp);
    snprintf(m.to.data(), m.to.size(), "%s", own);
    m.files = files;
    m.open = files > 1;
    m.datafile = datafile;
    moves_.push_back(m);
}

int FileSwap::mark() {
    for (Move &m : moves_) {
        if (m.original) continue;
        if (int rc = putupdflg(m.from.data(), kUpdRebuild)) return rc;
        m.marked = true;
    }
    // A segmented original is parked by renames, one file at a time.
    for (const Move &p : moves_) {
        if (!p.original || !p.datafile || p.files < 2) continue;
        for (const Move &m : moves_) {
            if (m.original || strcmp(m.to.data(), p.from.data()) != 0) continue;
            if (int rc = note_.write(p.from.data(), p.files, p.to.data(), m.from.data(), m.files)) {
                log("could not write the swap's note", rc);
                return set_uerr(rc);
            }
        }
    }
    return 0;
}

int FileSwap::do_move(Move &m) {
    if (m.original && m.files == 1) {
        m.linked = false;
        const int rc = linkfil(m.from.data(), m.to.data());
        if (rc == 0) {
            m.linked = true;
            return 0;
        }
        if (zvWNGV->sysiocod == EEXIST) return rc;
        // A file system without hard links: the original is parked by a
        // rename instead, and its name is missing until the new file has it.
        set_uerr(0);
    }
    if (!m.original && !m.open && m.files == 1) return replfil(m.from.data(), m.to.data());
    return rename_files(m);
}

int FileSwap::rename_files(const Move &m) const {
    if (m.open) return rename_open(m.from.data(), m.to.data());
    for (uint32_t i = 0; i < m.files; i++) {
        char a[256], b[256];
        int rc = physical_name(m.from.data(), i, a);
        if (!rc) rc = physical_name(m.to.data(), i, b);
        if (!rc) rc = renfil(a, b);
        if (rc) {
            for (uint32_t j = i; j-- > 0;) {
                if (physical_name(m.from.data(), j, a) || physical_name(m.to.data(), j, b)) continue;
                if (renfil(b, a)) {
                    log(m.datafile ? "could not restore original data file segment name"
                                   : "could not restore original index file name",
                        zvWNGV->uerr_cod);
                    zvrcvlog(b, kLogSingleTry);
                    zvrcvlog(a, kLogSingleTry);
                }
            }
            return rc;
        }
    }
    return 0;
}

FileSwap::Move *FileSwap::kept_original(const Move &m) {
    for (Move &p : moves_) {
        if (p.original && p.done && p.linked && strcmp(p.from.data(), m.to.data()) == 0) return &p;
    }
    return nullptr;
}

int FileSwap::undo_move(Move &m) {
    if (m.original && m.linked) {
        // The original still has its own name: only the second one goes.
        rbl_drop_file(m.to.data());
        return 0;
    }
    if (!m.original && !m.open && m.files == 1) {
        if (Move *p = kept_original(m)) {
            // The new file takes its own name back (a second name), then the
            // original goes over it, in one step.
            if (linkfil(m.to.data(), m.from.data())) set_uerr(0);
            int rc = replfil(p->to.data(), m.to.data());
            if (rc) {
                log(p->datafile ? "could not restore original data file name" : "could not restore original index file name",
                    rc);
                zvrcvlog(p->to.data(), kLogSingleTry);
                zvrcvlog(m.to.data(), kLogSingleTry);
            } else {
                p->done = false;
            }
            return rc;
        }
        return renfil(m.to.data(), m.from.data());
    }
    Move back = m;
    back.from = m.to;
    back.to = m.from;
    int rc = rename_files(back);
    if (rc && m.original) {
        log(m.datafile ? "could not restore original data file name" : "could not restore original index file name",
            rc);
        zvrcvlog(m.to.data(), kLogSingleTry);
        zvrcvlog(m.from.data(), kLogSingleTry);
    }
    return rc;
}

int FileSwap::move(size_t i) {
    Move &m = moves_[i];
    if (int rc = do_move(m)) return rc;
    m.done = true;
    return 0;
}

int FileSwap::run() {
    if (int rc = mark()) return rc;
    for (size_t i = 0; i < moves_.size(); i++) {
        if (int rc = move(i)) return rc;
    }
    return 0;
}

void FileSwap::undo() {
    INSTGV *g = zvWNGV;
    const uint16_t uerr = g->uerr_cod, sys = g->sysiocod;
    for (size_t i = moves_.size(); i-- > 0;) {
        Move &m = moves_[i];
        if (m.done && undo_move(m) == 0) m.done = false;
    }
    // The new files under their own names again are whole sets of their
    // own: their marks go.
    for (Move &m : moves_) {
        if (!m.original && m.marked && !m.done && putupdflg(m.from.data(), 0) == 0) m.marked = false;
    }
    note_.drop();
    g->uerr_cod = uerr;
    g->sysiocod = sys;
}

int FileSwap::commit() {
    // Every new file has its name: the marks go, the original data file's
    // successor (queued first) last.
    for (size_t i = moves_.size(); i-- > 0;) {
        Move &m = moves_[i];
        if (m.original || !m.marked) continue;
        if (int rc = putupdflg(m.to.data(), 0)) return rc;
        m.marked = false;
    }
    for (const Move &m : moves_) {
        if (!m.original) continue;
        drop_physical(m.to.data(), m.files);
        char p[256];
        if (physical_name(m.to.data(), 0, p) == 0 && zv_uniqfile(p, p) == 0) {
            log("could not delete original file", zvWNGV->sysiocod);
            zvrcvlog(p, kLogSingleTry);
        }
    }
    note_.drop();
    moves_.clear();
    return 0;
}

}  // namespace zv

using namespace zv;

namespace {

// The names of the physical files of a definition: the data file first,
// then each index file of its own. 0 or the error.
int set_names(IFIL *ifil, const char *dataext, const char *idxext, const SetShape &shape,
              std::vector<FileName> *out) {
    IFILPARM p;
    setifil(&p, ifil, dataext, idxext, 0, nullptr, nullptr);
    FileName dat{};
    if (int rc = zviflnam(&p, dat.data(), 0, nullptr)) return rc;
    out->push_back(dat);
    for (int k = 0; k < ifil->dnumidx; k++) {
        if (!shape.is_file(k)) continue;
        FileName x{};
        const char *a = ifil->iidxarr[k].aidxnam;
        int rc = a ? buildAidxnam(x.data(), a, int(x.size()), dat.data()) : zviflnam(&p, x.data(), 1, nullptr);
        if (rc) return rc;
        out->push_back(x);
    }
    return 0;
}

int swap_sets(IFIL *from, IFIL *to, const char *dataext, const char *idxext) {
    if (!from || !to || !from->pfilnam || !to->pfilnam || from->dnumidx != to->dnumidx || from->dnumidx < 0 ||
        (from->dnumidx > 0 && (!from->iidxarr || !to->iidxarr)))
        return set_fail(540, 0);
    if (from->dnumidx > kMapIndexes) return set_fail(107, 0);
    SetShape a, b;
    if (!classify(from, &a) || !classify(to, &b)) return set_fail(540, 0);
    for (int k = 0; k < from->dnumidx; k++) {
        if (a.is_file(k) != b.is_file(k)) return set_fail(540, 0);
    }
    std::vector<FileName> news, olds;
    if (int rc = set_names(from, dataext, idxext, a, &news)) return set_fail(rc, 0);
    if (int rc = set_names(to, dataext, idxext, b, &olds)) return set_fail(rc, 0);
    FileSwap swap("Swap");
    for (size_t i = 0; i < news.size(); i++) {
        if (strcmp(news[i].data(), olds[i].data()) == 0) continue;
        // A data file with automatic segments moves with its segment files.
        const uint32_t newfiles = i == 0 ? closed_physical_files(news[i].data()) : 1;
        uint64_t dev, ino;
        if (zv_getuniqfile(olds[i].data(), &dev, &ino) == 0) {
            const uint32_t oldfiles = i == 0 ? closed_physical_files(olds[i].data()) : 1;
            if (int rc = swap.park(olds[i].data(), oldfiles, i == 0)) return set_fail(rc, 0);
        }
        swap.place(news[i].data(), olds[i].data(), newfiles, i == 0);
    }
    int rc = swap.run();
    if (!rc) rc = swap.commit();
    if (rc) {
        ErrorKeep keep;
        swap.undo();
        return set_fail(rc, 0);
    }
    set_uerr(0);
    return ierr(0, 0);
}

}  // namespace

extern "C" {

ZV_API int SWPIFILX(IFIL *from, IFIL *to, const char *dataext, const char *idxext) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    g->isamfil_num = 0;
    try {
        return swap_sets(from, to, dataext, idxext);
    } catch (const std::bad_alloc &) {
        return set_fail(82, 0);
    }
}

}  // extern "C"

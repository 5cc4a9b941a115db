// New files put in the place of a set's originals (the compaction's data
// and index files, the set rebuild's index files).
//
// Invariants:
//  1. No rename goes over an existing file (renfil refuses that: 67): an
//     original is parked under a temporary name before the new file takes
//     its name, and an undo moves the new file away before the original
//     comes back.
//  2. A move whose segment renames fail part way has its earlier segment
//     renames taken back before it reports the failure.
//  3. Parked originals are deleted only when every move is done.
#include "engine/maint/fileswap.h"

#include <cstdio>
#include <cstring>

#include "engine/core/filenum.h"
#include "engine/core/fileops.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/files/close.h"
#include "engine/files/segments.h"
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

int physical_name(const char *name, uint32_t i, char (&out)[256]) {
    if (i == 0) {
        snprintf(out, sizeof out, "%s", name);
        return 0;
    }
    return zvatosegmdef(name, int(i), out);
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
    if (int rc = OPNFILX(n, from, 0, nullptr)) return rc;
    int rc = zvRENFIL(n, to);
    int cl = iclsfilx(n, 0);
    return rc ? rc : cl;
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

int FileSwap::do_move(const Move &m) const {
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

int FileSwap::undo_move(const Move &m) const {
    Move back = m;
    back.from = m.to;
    back.to = m.from;
    int rc = do_move(back);
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
    for (size_t i = 0; i < moves_.size(); i++) {
        if (int rc = move(i)) return rc;
    }
    return 0;
}

void FileSwap::undo() {
    for (size_t i = moves_.size(); i-- > 0;) {
        Move &m = moves_[i];
        if (m.done && undo_move(m) == 0) m.done = false;
    }
}

void FileSwap::commit() {
    for (const Move &m : moves_) {
        if (!m.original) continue;
        drop_physical(m.to.data(), m.files);
        char p[256];
        if (physical_name(m.to.data(), 0, p) == 0 && zv_uniqfile(p, p) == 0) {
            log("could not delete original file", zvWNGV->sysiocod);
            zvrcvlog(p, kLogSingleTry);
        }
    }
    moves_.clear();
}

}  // namespace zv

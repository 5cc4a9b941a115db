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
//  6. SWPIFILX stores the target names in the new data file before its
//     first move and its own names back after a failure. A partitioned set
//     (with its members) and a set of superfile members move under a note
//     that lists every move, written before the new set's names inside are
//     changed: an open finishes a swap that has begun and voids one that
//     has not, deleting the new files (they name the originals inside).
//  7. The callers hold every file they swap (filehold.h): the originals
//     from their first check, the new files from before the first rename,
//     until they are done with the set; SWPIFILX holds both sets from its
//     first look at them, through the calling instance's own opens of them
//     (closed only before its first change).
#include "engine/maint/fileswap.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "engine/core/fcb.h"
#include "engine/core/filehdr.h"
#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/filehold.h"
#include "engine/core/filenum.h"
#include "engine/core/fileops.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/files/close.h"
#include "engine/files/fcbops.h"
#include "engine/files/identity_services.h"
#include "engine/files/segments.h"
#include "engine/files/superfile.h"
#include "engine/index/keymap.h"
#include "engine/isam/fileset.h"
#include "engine/isam/ifil.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/partition.h"
#include "engine/maint/partswap.h"
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
    // The new file is marked as not closed cleanly by now: the open takes
    // it as it is.
    SpareOpen f(from, kOpenDamaged);
    if (f.rc()) return f.rc();
    const int rc = zvRENFIL(f.filno(), to);
    const int cl = f.close();
    return rc ? rc : cl;
}

// The physical files of the closed file `name`: the file and, with
// automatic segments, its segment files present. 1 when it does not open.
uint32_t closed_physical_files(const char *name) {
    const uint8_t keep = zvWNGV->nowrite;
    zvWNGV->nowrite = 1;  // the open records nothing in the file
    uint32_t files = 1;
    {
        SpareOpen f(name, uint16_t(kOpenDamaged | kOpnReadOnly));
        if (f.rc() == 0) files = physical_files(f.fcb());
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

int FileSwap::hold(HeldFiles &held, bool made_up) const {
    for (const Move &m : moves_) {
        FoundNames made(made_up && !m.original);
        if (int rc = hold_set_file(held, m.from.data())) return rc;
    }
    return 0;
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

void FileSwap::extra(const char *own) {
    FileName f{};
    snprintf(f.data(), f.size(), "%s", own);
    extras_.push_back(f);
}

void FileSwap::list(const char *datafile) { snprintf(listed_.data(), listed_.size(), "%s", datafile); }

int FileSwap::mark() {
    if (marked_) return 0;
    marked_ = true;
    for (Move &m : moves_) {
        if (m.original) continue;
        if (int rc = putupdflg(m.from.data(), kUpdRebuild)) return rc;
        m.marked = true;
    }
    if (listed_[0]) {
        std::vector<SwapNote::Entry> list;
        for (const Move &m : moves_) {
            if (m.original) continue;
            SwapNote::Entry e{m.to.data(), "", m.from.data()};
            for (const Move &p : moves_) {
                if (p.original && strcmp(p.from.data(), m.to.data()) == 0) e.parked = p.to.data();
            }
            list.push_back(std::move(e));
        }
        for (const FileName &x : extras_) list.push_back({x.data(), "", ""});
        if (int rc = note_.write_list(listed_.data(), list)) {
            log("could not write the swap's note", rc);
            return set_uerr(rc);
        }
        return 0;
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

int FileSwap::remark() {
    for (const Move &m : moves_) {
        if (m.original || !m.marked || m.done) continue;
        if (int rc = putupdflg(m.from.data(), kUpdRebuild)) return rc;
    }
    return 0;
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
    // own: their marks go, once the note that names them as new is gone (a
    // note names no new file without its mark). A listed swap's note goes
    // with drop_note, after its caller has put the new set's names back.
    if (!listed_[0]) {
        note_.drop();
        unmark_undone();
    }
    g->uerr_cod = uerr;
    g->sysiocod = sys;
}

void FileSwap::drop_note() {
    note_.drop();
    INSTGV *g = zvWNGV;
    const uint16_t uerr = g->uerr_cod, sys = g->sysiocod;
    unmark_undone();
    g->uerr_cod = uerr;
    g->sysiocod = sys;
}

void FileSwap::unmark_undone() {
    for (Move &m : moves_) {
        if (!m.original && m.marked && !m.done && putupdflg(m.from.data(), 0) == 0) m.marked = false;
    }
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
    for (const FileName &x : extras_) {
        rbl_drop_file(x.data());
        if (zv_uniqfile(x.data(), x.data()) == 0) {
            log("could not delete original file", zvWNGV->sysiocod);
            zvrcvlog(x.data(), kLogSingleTry);
        }
    }
    extras_.clear();
    note_.drop();
    moves_.clear();
    return 0;
}

}  // namespace zv

using namespace zv;

namespace {

bool open_state(const FCB *f) { return f && (f->state == 'y' || f->state == 'v' || f->state == 'w'); }

// The number of the data file `name` when the instance has it open (a
// superfile member by its name, another file also under another spelling),
// or -1.
int open_data_file(const char *name) {
    INSTGV *g = zvWNGV;
    if (!zvsname1(name)) {
        const int n = chkopnx(name);
        return n >= 0 && fcb_at(n)->kind != kKindIndex ? n : -1;
    }
    for (int i = 0; g->fcbtab && i <= int(g->filecount); i++) {
        const FCB *f = g->fcbtab[i];
        if (open_state(f) && f->kind != kKindIndex && strcmp(f->name, name) == 0) return i;
    }
    return -1;
}

// The files of both sets of a swap held from its first check to its end,
// and the instance's own opens of them: an open set's files are held
// through their descriptions (taken over), the opens stay until the swap's
// first change and are closed then, so that a refusal before it leaves
// them as they were and no other open comes between them and the hold.
class SetHolds {
public:
    // Holds the sets whose files are named by news and olds (the data file
    // first): the instance's open sets among them with every file they
    // have open (index files, open members of a partitioned host), then
    // every file by name (a member: its host). 0, or 12 (another open has
    // a file) or 82.
    int take(const std::vector<FileName> &news, const std::vector<FileName> &olds) {
        // The set whose names the swap changes first: its open is the one
        // other processes make.
        for (const auto *set : {&olds, &news}) {
            const int n = open_data_file((*set)[0].data());
            if (n < 0) continue;
            roots_.push_back(n);
            if (int rc = hold_open_set(n)) return rc;
        }
        for (const auto *set : {&olds, &news}) {
            for (const FileName &f : *set) {
                if (int rc = hold_set_file(held, f.data())) return rc;
            }
        }
        return 0;
    }
    // Closes the instance's opens of the sets (each open set as a whole):
    // 0 or the first error. Their files stay held.
    int close_opens() {
        int first = 0;
        for (int n : roots_) {
            if (!open_state(fcb_at(n))) continue;
            int rc = CLRFIL(n);
            if (open_state(fcb_at(n))) {
                const int cl = iclsfilx(n, 0);
                if (!rc) rc = cl;
            }
            if (rc && !first) first = rc;
        }
        roots_.clear();
        return first;
    }
    HeldFiles held;

private:
    // The files of the instance's open set whose data file is n.
    int hold_open_set(int n) {
        FCB *d = fcb_at(n);
        if (int rc = hold_open_file(d)) return rc;
        for (int k = 0; k < kMapIndexes; k++) {
            const int ix = isam_map_index(n, k);
            if (ix == -1) break;
            if (ix < 0 || !open_state(fcb_at(ix))) continue;
            if (int rc = hold_open_file(fcb_at(ix))) return rc;
        }
        const PARTDEF *pd = d->partdef;
        for (int32_t i = 0; pd && pd->ptmbr && i < pd->ptcur; i++) {
            const PARTMBR &m = pd->ptmbr[i];
            if (m.state != kMbrOpen || m.filno < 0 || !open_state(fcb_at(m.filno))) continue;
            if (int rc = hold_open_set(m.filno)) return rc;
        }
        return 0;
    }
    // The file of an open block (a member's: its host's) held through its
    // descriptor.
    int hold_open_file(FCB *f) {
        FCB *h = f;
        while (h->hostfcb && h->hostfcb != h) h = h->hostfcb;
        if (fcb_is_memory(h)) return 0;
        if (h->state == 'v' && zvswitch(h) != 0) return zvWNGV->uerr_cod;
        return h->fd >= 0 ? held.take_fd(h->fd) : 0;
    }

    std::vector<int> roots_;
};

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

// Stores def (with the extensions) as the definition of the closed data
// file `name`, when one is stored there: 0 or the error.
int store_closed_definition(const char *name, IFIL *def, const char *dataext, const char *idxext) {
    // The swap may have marked the file as not closed cleanly by now.
    SpareOpen d(name, kOpenDamaged);
    if (d.rc()) return d.rc();
    void *blk = nullptr;
    int32_t blen = 0;
    int rc = zvrdefx(d.filno(), 0, 0, &blk, &blen);
    const bool stored = rc == 0 && blk;
    zvputmem(blk);
    if (stored) {
        const int16_t keep = def->tfilno;
        def->tfilno = int16_t(d.filno());
        rc = zvrstdefx(d.filno(), def, dataext, idxext, 0, 0);
        def->tfilno = keep;
    } else if (rc == 401 || rc == 408 || rc == 438) {
        rc = 0;
    }
    const int cl = d.close();
    return rc ? rc : cl;
}

// The directory part of a name, with its '/'.
std::string dir_part(const std::string &name) {
    const size_t slash = name.rfind('/');
    return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

bool file_there(const std::string &name) { return zv_uniqfile(name.c_str(), name.c_str()) == 0; }

// The swap of two partitioned sets: the new set's members are named after
// the old set's host-side names, the names stored inside the new set
// (members' definitions, the host's member table) are the old set's before
// the first move, and the swap's note lists every file, so that a process
// ended at any moment leaves either the old set whole (the note void) or
// the new one once an open has finished the swap. news / olds are the
// host-side files of the new and the old set (set_names), fresh the new
// set's members. The files must all lie in the data file's directory or
// below it and have no segment files (else 454, nothing changed).
int swap_partitioned(const std::vector<FileName> &news, const std::vector<FileName> &olds, IFIL *from, IFIL *to,
                     const char *dataext, const char *idxext, const SetShape &shape, bool rule,
                     const std::vector<PartMemberFiles> &fresh, SetHolds &holds) {
    const IFIL *def = from;
    const std::string dir = dir_part(olds[0].data());
    // The host-side names of the old set per index position.
    std::vector<std::string> hostside{olds[0].data()};
    for (int k = 0, j = 1; k < def->dnumidx; k++) hostside.push_back(shape.is_file(k) ? olds[size_t(j++)].data() : "");
    std::vector<PartMemberFiles> targets(fresh.size());
    for (size_t i = 0; i < fresh.size(); i++) {
        if (int rc = part_member_names(rule, fresh[i].raw, hostside, &targets[i])) return rc;
        targets[i].files.resize(fresh[i].files.size());
        for (size_t k = 0; k < fresh[i].files.size(); k++) {
            if (fresh[i].files[k].empty()) targets[i].files[k].clear();
            else if (targets[i].files[k].empty()) return 540;
        }
    }
    bool oldhost = false, oldrule = false;
    std::vector<PartMemberFiles> old;
    if (file_there(olds[0].data())) {
        if (int rc = part_member_files(olds[0].data(), &oldhost, &oldrule, &old)) return rc;
    }
    // Every file in the data file's directory or below it, reached there
    // by no symbolic link (the note's open would follow none), no segment
    // files.
    auto plain = [&](const std::string &name) {
        std::string rel;
        return name.empty() || (name_below(dir, name, &rel) && below_without_links(dir, rel));
    };
    for (size_t i = 0; i < news.size(); i++) {
        if (!plain(news[i].data()) || !plain(olds[i].data())) return 454;
    }
    if (closed_physical_files(news[0].data()) > 1 || (file_there(olds[0].data()) && closed_physical_files(olds[0].data()) > 1))
        return 454;
    const std::vector<PartMemberFiles> *sets[] = {&fresh, &targets, &old};
    for (const auto *set : sets) {
        for (const PartMemberFiles &m : *set) {
            for (const std::string &f : m.files) {
                if (!plain(f)) return 454;
            }
        }
    }
    FileSwap swap("Swap");
    auto queue = [&](const std::string &from, const std::string &own, bool datafile) {
        if (from == own) return 0;
        if (file_there(own)) {
            if (int rc = swap.park(own.c_str(), 1, datafile)) return rc;
        }
        swap.place(from.c_str(), own.c_str(), 1, datafile);
        return 0;
    };
    // The host's data file moves first: until it has, an open takes the old
    // set as it is.
    for (size_t i = 0; i < news.size(); i++) {
        if (int rc = queue(news[i].data(), olds[i].data(), i == 0)) return rc;
    }
    std::vector<std::string> taken;
    for (size_t i = 0; i < fresh.size(); i++) {
        for (size_t k = 0; k < fresh[i].files.size(); k++) {
            if (fresh[i].files[k].empty()) continue;
            if (int rc = queue(fresh[i].files[k], targets[i].files[k], k == 0)) return rc;
            taken.push_back(targets[i].files[k]);
        }
    }
    // The old members' files that no new file replaces go once the swap is
    // done.
    for (const PartMemberFiles &m : old) {
        for (const std::string &f : m.files) {
            bool kept = f.empty();
            for (size_t i = 0; i < olds.size() && !kept; i++) kept = f == olds[i].data();
            for (size_t i = 0; i < taken.size() && !kept; i++) kept = f == taken[i];
            if (!kept) swap.extra(f.c_str());
        }
    }
    // Every member's file held as well, the instance's opens of both sets
    // closed: the swap changes files from here on.
    for (const std::vector<PartMemberFiles> *set : {&fresh, static_cast<const std::vector<PartMemberFiles> *>(&old)}) {
        for (const PartMemberFiles &m : *set) {
            for (const std::string &f : m.files) {
                if (int rc = hold_set_file(holds.held, f.c_str())) return rc;
            }
        }
    }
    if (int rc = holds.close_opens()) return rc;
    if (int rc = swap.hold(holds.held)) return rc;
    // The note first: a process ended from here on leaves it to void the
    // swap (the new files deleted, whatever names they carry) or finish it.
    swap.list(olds[0].data());
    int rc = swap.mark();
    if (!rc) rc = store_closed_definition(news[0].data(), to, dataext, idxext);
    if (!rc) rc = part_store_names(news[0].data(), fresh, targets);
    // Storing reopened the files: their marks go to disk once more.
    if (!rc) rc = swap.remark();
    if (!rc) rc = swap.run();
    if (!rc) rc = swap.commit();
    if (rc) {
        ErrorKeep keep;
        swap.undo();
        // The new set's own names inside it again, before its note goes.
        if (part_store_names(news[0].data(), fresh, fresh) ||
            store_closed_definition(news[0].data(), from, dataext, idxext)) {
            zvrcvlog("Swap: could not store the new set's own names again", kLogSingleTry);
            zvrcvlog(news[0].data(), kLogSingleTry);
        }
        swap.drop_note();
    }
    return rc;
}

// A name for an original member kept beside the new one in its host: the
// host part of `own` with a name no member has. 0 or the error.
int kept_member_name(const std::string &own, std::string *out) {
    const size_t cut = size_t(zvsname1(own.c_str()));
    INSTGV *g = zvWNGV;
    for (int draw = 0; draw < 64; draw++) {
        g->tmpnamecount = g->tmpnamecount * 11737u + 3731u;
        char part[16];
        snprintf(part, sizeof part, "zvk%08X", unsigned(g->tmpnamecount ^ uint32_t(time(nullptr))));
        *out = own.substr(0, cut) + part;
        const int there = member_exists(out->c_str());  // -1 a member has it
        if (there == 0) return 0;
        if (there != -1) return 413;
    }
    return 17;
}

// The swap of two sets of superfile members of one host: the originals are
// renamed to kept names, then the new members to the originals' names, one
// at a time, after a note that lists every move ("<data member>.swap").
// The new data member names the table's files inside before the first
// move. A failure takes the moves back.
int swap_member_sets(const std::vector<FileName> &news, const std::vector<FileName> &olds, IFIL *from, IFIL *to,
                     const char *dataext, const char *idxext) {
    const std::string dir = dir_part(olds[0].data());
    std::vector<SwapNote::Entry> list;
    {
        // The host is open (through the new data member) while its members
        // are looked at.
        SpareOpen host(news[0].data(), uint16_t(kOpenDamaged | kOpnReadOnly));
        if (host.rc()) return host.rc();
        for (size_t i = 0; i < news.size(); i++) {
            const std::string n = news[i].data(), o = olds[i].data();
            if (!zvsname1(n.c_str()) || !zvsname1(o.c_str()) || dir_part(n) != dir || dir_part(o) != dir) return 454;
            if (n == o) continue;
            std::string kept;
            const int there = member_exists(o.c_str());  // -1 a member has the name
            if (there == -1) {
                if (int rc = kept_member_name(o, &kept)) return rc;
            } else if (there != 0) {
                return 413;
            }
            list.push_back({o, kept, n});
        }
    }
    if (list.empty()) return 0;
    SwapNote note;
    if (int rc = note.write_list(olds[0].data(), list)) return rc;
    int rc = store_closed_definition(news[0].data(), to, dataext, idxext);
    // The definition in the file before the first rename.
    if (!rc) rc = ZVFLUSH(-1);
    if (!rc) rc = member_swap_advance(list);
    if (rc) {
        ErrorKeep keep;
        member_swap_undo(list);
        if (store_closed_definition(news[0].data(), from, dataext, idxext)) {
            zvrcvlog("Swap: could not store the new set's own names again", kLogSingleTry);
            zvrcvlog(news[0].data(), kLogSingleTry);
        }
        return rc;
    }
    member_swap_drop_kept(list);
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
    // Both sets held from here to the end: another open of a file of either
    // is refused (12), and one that has a file refuses the swap.
    SetHolds holds;
    if (int rc = holds.take(news, olds)) return set_fail(rc, 0);
    if (zvsname1(news[0].data())) {
        if (int rc = holds.close_opens()) return set_fail(rc, 0);
        if (int r = swap_member_sets(news, olds, from, to, dataext, idxext)) return set_fail(r, 0);
        set_uerr(0);
        return ierr(0, 0);
    }
    {
        bool host = false, rule = false;
        std::vector<PartMemberFiles> fresh;
        const int rc = part_member_files(news[0].data(), &host, &rule, &fresh);
        if (host) {
            if (rc) return set_fail(rc, 0);
            if (int r = swap_partitioned(news, olds, from, to, dataext, idxext, a, rule, fresh, holds))
                return set_fail(r, 0);
            set_uerr(0);
            return ierr(0, 0);
        }
    }
    // A segmented data file moves under a note of base names: its new file
    // lies in its directory, and neither is reached there by a symbolic
    // link, or no open could finish the swap from the note.
    if (strcmp(news[0].data(), olds[0].data()) != 0 && file_there(olds[0].data()) &&
        closed_physical_files(olds[0].data()) > 1) {
        const std::string dir = dir_part(olds[0].data());
        std::string a, b;
        if (dir_part(news[0].data()) != dir || !name_below(dir, olds[0].data(), &a) || !below_without_links(dir, a) ||
            !name_below(dir, news[0].data(), &b) || !below_without_links(dir, b))
            return set_fail(454, 0);
    }
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
    if (int rc = holds.close_opens()) return set_fail(rc, 0);
    if (int rc = swap.hold(holds.held)) return set_fail(rc, 0);
    // The new data file names the files it is to have inside before it
    // has them.
    int rc = store_closed_definition(news[0].data(), to, dataext, idxext);
    if (!rc) rc = swap.run();
    if (!rc) rc = swap.commit();
    if (rc) {
        ErrorKeep keep;
        swap.undo();
        if (store_closed_definition(news[0].data(), from, dataext, idxext)) {
            zvrcvlog("Swap: could not store the new set's own names again", kLogSingleTry);
            zvrcvlog(news[0].data(), kLogSingleTry);
        }
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

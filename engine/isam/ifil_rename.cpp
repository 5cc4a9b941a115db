// Renaming every file of an open set (RENIFIL): the data file, its index
// files and the automatic segment files of each, to the names of a new
// IFIL, with the stored definition following.
//
// Invariants:
//  1. Nothing is renamed until every new name has been checked: a new name
//     that another file already has is refused (67) before the first
//     rename, so a rename never overwrites a file.
//  2. Every rename goes through zvRENFIL, which never replaces a target
//     and takes a file's automatic segments with it, all or nothing; the
//     set stays open under its new (or, after a failure, old) names.
//  3. A failure after the first rename renames every file renamed so far
//     back to the name kept in the undo list (and the stored definition
//     back to the old names); a file that cannot be put back is logged.
// The undo list has one entry per physical file and per automatic segment
// file; the segment entries serve the name check and the log, since a
// file's segments go back with the file.
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "engine/core/fileops.h"
#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/fcb.h"
#include "engine/files/identity_services.h"
#include "engine/files/segments.h"
#include "engine/index/distinct.h"
#include "engine/isam/fileset.h"
#include "engine/isam/ifil.h"
#include "engine/isam/isammap.h"
#include "engine/isam/partition.h"

namespace zv {

namespace {

constexpr uint32_t kAutoSegments = 0x200000;   // flmode2: segment names follow the file's
constexpr uint32_t kPartitioned = 0x1C00000;   // flmode2: a partitioned host or a member
// Key-type bits of a partitioned set's indexes that say how each index
// orders against the partition key. The set derives them from its
// definition (at create, rebuild and index addition) and keeps them in its
// index headers, from where a definition read off the open set takes them:
// they are not part of what a definition asks for, so the comparison with
// the stored definition leaves them out.
constexpr int16_t kPartitionMarks = 0x60;

// Number of system files of an open file: 1, or its present automatic
// segments.
int system_files(const FCB *f) {
    if (!(f->hdr.base.hdrflags & kHdrSegmented) || !f->segs || !(f->hdr.ext.flmode2 & kAutoSegments)) return 1;
    int n = f->hdr.ext.segmented ? int(f->hdr.ext.segmented) : 1;
    return n > f->nsegalloc ? f->nsegalloc : n;
}

// Whether a file of that name exists (after the instance's name rule).
bool name_taken(const char *name) {
    char buf[256];
    if (strnlen(name, sizeof buf) >= sizeof buf) return false;
    strcpy(buf, name);
    if (zvcnvfn(buf) > 0) return false;
    PlatStat st;
    return plat_stat(buf, &st) == 0;
}

// One entry of the undo list: a file (seg 0) or one of its automatic
// segment files, under its present name.
struct UndoEntry {
    uint16_t filno;
    uint16_t seg;
    char name[256];
};

class SetRename {
public:
    explicit SetRename(IFILPARM *p) : p_(p), ifil_(p->ifil) {}
    ~SetRename() {
        zvputmem(stored_);
        zvputmem(image_);
    }
    SetRename(const SetRename &) = delete;
    SetRename &operator=(const SetRename &) = delete;
    // The rename: 0, or the error with everything under its old name.
    int run();
    // Puts a completed rename back (a later step failed): the files under
    // their old names, the old definition stored.
    void undo();

private:
    int check(int datno);
    int add_file(int filno, const char *target);
    int check_targets();
    void rename_back();
    void store_back();

    IFILPARM *p_;
    IFIL *ifil_;
    int datno_ = -1;
    IFIL *stored_ = nullptr;            // stored definition with the new names, or null
    void *image_ = nullptr;             // the definition block as it was stored
    int32_t imagelen_ = 0;
    char dext_[9] = {}, iext_[9] = {};
    std::vector<UndoEntry> undo_;
    std::vector<std::string> targets_;  // per file entry (seg 0): its new name
    std::vector<size_t> files_;         // index into undo_ of each file entry
    size_t renamed_ = 0;                // file entries renamed so far
};

int SetRename::add_file(int filno, const char *target) {
    FCB *f = fcb_at(filno);
    files_.push_back(undo_.size());
    targets_.emplace_back(target);
    int n = system_files(f);
    for (int i = 0; i < n; i++) {
        UndoEntry e;
        e.filno = uint16_t(filno);
        e.seg = uint16_t(i);
        memcpy(e.name, i == 0 ? f->name : f->segs[i].name, sizeof e.name);
        e.name[sizeof e.name - 1] = '\0';
        undo_.push_back(e);
    }
    return 0;
}

// Steps 2 to 5: the open set against the new IFIL and the stored
// definition; the undo list.
int SetRename::check(int datno) {
    INSTGV *g = zvWNGV;
    IFIL *ifil = ifil_;
    if (!ifil->pfilnam || ifil->dnumidx < 0 || (ifil->dnumidx > 0 && !ifil->iidxarr)) return set_fail(540, datno);
    if (ifil->dnumidx > kMapIndexes) return set_fail(107, datno);
    SetShape shape;
    if (!classify(ifil, &shape)) return set_fail(540, datno);
    char newd[256];
    if (int rc = zviflnam(p_, newd, 0, nullptr)) return set_fail(rc, datno);
    FCB *dat = tstfnm(datno);
    if (!dat) return set_fail(g->uerr_cod, datno);
    if (dat->hdr.base.sfiltyp == kSfMember) return set_fail(454, datno);
    int count = 0;
    if (int r = chkxisam(datno, 1, &count); r < 0) return set_fail(-r, g->isamfil_num);
    add_file(datno, newd);
    // 4. The stored definition.
    if (!(ifil->dfilmod & 0x800)) {
        void *blk = nullptr;
        int32_t blen = 0;
        int rc = zvrdefx(datno, 0, 0, &blk, &blen);
        if (rc == 0 && blk) {
            image_ = blk;
            imagelen_ = blen;
            stored_ = makifil(blk, dext_, iext_, dat->hdr.base.hdrflags2, blen);
            if (!stored_) return set_fail(g->uerr_cod, datno);
            if (stored_->dnumidx != ifil->dnumidx) return set_fail(608, datno);
            stored_->pfilnam = ifil->pfilnam;
        } else {
            zvputmem(blk);
            if (rc != 0 && rc != 401 && rc != 408 && rc != 438) return set_fail(rc, datno);
        }
    }
    // 5. Each index against the stored definition and the open files.
    const uint16_t *list = isam_actlist(datno);
    const int16_t typemask = (dat->hdr.ext.flmode2 & kPartitioned) ? int16_t(~kPartitionMarks) : int16_t(-1);
    for (int k = 0; k < ifil->dnumidx; k++) {
        const IIDX &x = ifil->iidxarr[k];
        uint16_t v = list ? list[k] : kMapNone;
        int at = v == kMapNone || v == kMapShared ? datno + 1 + k : v;
        if (stored_) {
            IIDX &s = stored_->iidxarr[k];
            if (k > 0 && (s.aidxnam != nullptr) != (x.aidxnam != nullptr)) return set_fail(608, at);
            if (s.ikeylen != x.ikeylen || ((s.ikeytyp ^ x.ikeytyp) & typemask) != 0 || s.ikeydup != x.ikeydup)
                return set_fail(608, at);
            s.aidxnam = x.aidxnam;
        }
        if (v == kMapNone) return set_fail(608, at);
        if (v == kMapShared) continue;
        FCB *f = fcb_at(v);
        if (!set_file_open(f) || f->kind != kKindIndex) return set_fail(608, v);
        if (f->hdr.base.keylen != uint16_t(x.ikeylen) || !chkkeydup(&x, f)) return set_fail(608, v);
        if (shape.is_file(k)) {
            if (f->hdr.base.kmem != 0 || int(f->hdr.base.nmem) != shape.nmem[k]) return set_fail(608, v);
            char iname[256];
            int rc = x.aidxnam ? buildAidxnam(iname, x.aidxnam, sizeof iname, newd) : zviflnam(p_, iname, 1, nullptr);
            if (rc) return set_fail(rc, v);
            add_file(v, iname);
        } else {
            int host = shape.host[k];
            if (int(f->hdr.base.kmem) != k - host || list[host] == kMapShared || int(v) != list[host] + (k - host))
                return set_fail(608, v);
        }
    }
    return 0;
}

// No new name may be another file's: a file (or automatic segment) of
// that name that is not the one renamed refuses the whole rename.
int SetRename::check_targets() {
    for (size_t i = 0; i < files_.size(); i++) {
        const UndoEntry &e = undo_[files_[i]];
        const char *target = targets_[i].c_str();
        if (strcmp(e.name, target) != 0 && name_taken(target)) return set_fail(67, e.filno);
        for (size_t j = files_[i] + 1; j < undo_.size() && undo_[j].filno == e.filno; j++) {
            char seg[256];
            if (int rc = zvatosegmdef(target, undo_[j].seg, seg)) return set_fail(rc, e.filno);
            if (strcmp(undo_[j].name, seg) != 0 && name_taken(seg)) return set_fail(67, e.filno);
        }
    }
    return 0;
}

// Renames every file renamed so far back, last first; the failure's codes
// stay as they are.
void SetRename::rename_back() {
    ErrorKeep keep;
    while (renamed_ > 0) {
        const UndoEntry &e = undo_[files_[--renamed_]];
        if (int rc = zvRENFIL(e.filno, e.name)) {
            zvrcvlog("Could not undo rename for...", rc);
            zvrcvlog(e.name, 0);
        }
    }
}

// Stores the definition block as it was (a failed store may have written
// part of the new one); the failure's codes stay as they are.
void SetRename::store_back() {
    if (!image_) return;
    ErrorKeep keep;
    DEFBLK blk{image_, imagelen_, imagelen_, 0, 1};
    SETDEFBLKX(datno_, &blk, 0);
}

int SetRename::run() {
    INSTGV *g = zvWNGV;
    if (!ifil_) return set_fail(540, 0);
    datno_ = ifil_->tfilno;
    if (int rc = check(datno_)) return rc;
    if (int rc = check_targets()) return rc;
    // 6, 7. The data file, then each index file.
    for (size_t i = 0; i < files_.size(); i++) {
        const UndoEntry &e = undo_[files_[i]];
        if (int rc = zvRENFIL(e.filno, targets_[i].c_str())) {
            set_fail(rc, e.filno);
            rename_back();
            return rc;
        }
        renamed_ = i + 1;
    }
    // 8. The definition with the new names.
    if (stored_) {
        if (int rc = zvrstdefx(datno_, stored_, p_->dataext, p_->idxext, 0, 0)) {
            set_fail(rc, datno_);
            store_back();
            rename_back();
            return rc;
        }
    }
    set_uerr(0);
    g->isamerr_cod = 0;
    g->isamfil_num = 0;
    return 0;
}

void SetRename::undo() {
    store_back();
    rename_back();
}

}  // namespace

int iRENIFILz(IFILPARM *p) {
    if (!p) return set_fail(540, 0);
    try {
        SetRename r(p);
        return r.run();
    } catch (const std::bad_alloc &) {
        return set_fail(82, 0);
    }
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int RENIFILz(IFILPARM *p) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    g->isamfil_num = 0;
    if (!p) return set_fail(540, 0);
    try {
        SetRename r(p);
        if (int rc = r.run()) return rc;
        // The members of a partitioned host follow; their failure puts the
        // host's set back as well.
        if (int rc = part_ren(p)) {
            set_fail(rc, p->ifil->tfilno);
            r.undo();
            return rc;
        }
        return 0;
    } catch (const std::bad_alloc &) {
        return set_fail(82, 0);
    }
}

ZV_API int RENIFILX(IFIL *ifil, const char *dataext, const char *idxext) {
    IFILPARM p;
    setifil(&p, ifil, dataext, idxext, 0, nullptr, nullptr);
    return RENIFILz(&p);
}

ZV_API int RENIFIL(IFIL *ifil) { return RENIFILX(ifil, nullptr, nullptr); }

}  // extern "C"

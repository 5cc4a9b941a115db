// Partition administration (PTADMIN): purge, archive, activate, add and
// re-use members of a partitioned host, move its lowest raw number, change
// its rule, rebuild one member, and ask a member's state.
//
// Every change of a member is written to the member table ("QV!PART") at
// once. States above 4 mark an entry while a call works on it and are
// written as the state it is heading for.
//
// Invariants:
//  1. A failed write of the table leaves the entry, the table on disk,
//     the member's files and the enhanced counts as they were before the
//     call; an archived member never turns active.
//  2. Once the table records a purge, the entry stays purged (state 4),
//     even when deleting the member's files fails afterwards.
//  3. An added member's entry takes the stamp of the member file's header,
//     so that the member opens.
#include <cstring>
#include <new>
#include <vector>

#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/core/filehdr.h"
#include "engine/isam/fileset.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"
#include "engine/isam/partition.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

enum : int {
    kPurge = 16,
    kAdd = 32,
    kArchive = 64,
    kMoveBase = 128,
    kRefused = 256,
    kReuse = 512,
    kActivate = 1024,
    kAsk = 2048,
    kRule = 8192,
    kRebuild = 16384,
};
constexpr int kActionMask = 0x6FF0;
constexpr int kModeRefused = 0x1000;
constexpr int32_t kPurgedFile = -6, kArchivedFile = -7;
constexpr uint16_t kMemberOpen = 0x1000;

bool narrow(const FCB *host) { return !(host->hdr.base.hdrflags & kHdr8ByteOffsets); }

// The enhanced counts of a host's indexes, put back after a failed step.
class CountsKept {
public:
    CountsKept(FCB *host, int hostno) : host_(host), hostflags_(host->hdr.base.hdrflags2) {
        for (int k = 0; k < kMapIndexes; k++) {
            const int ix = isam_map_index(hostno, k);
            if (ix == kIdxListEnd) break;
            FCB *x = ix >= 0 ? fcb_at(ix) : nullptr;
            if (x && x->kind == kKindIndex) kept_.push_back({x, x->hdr.base.hdrflags2, x->hdr.ext.wide64[0], x->hdr.ext.wide64[1]});
        }
    }
    void restore() {
        host_->hdr.base.hdrflags2 = hostflags_;
        for (const Kept &k : kept_) {
            k.x->hdr.base.hdrflags2 = k.flags;
            k.x->hdr.ext.wide64[0] = k.purged;
            k.x->hdr.ext.wide64[1] = k.archived;
        }
    }

private:
    struct Kept {
        FCB *x;
        uint32_t flags;
        uint64_t purged, archived;
    };
    FCB *host_;
    uint32_t hostflags_;
    std::vector<Kept> kept_;
};

// Opens a member's set by its stored name for the call: its data file
// number, or -1 with the error.
int open_by_name(FCB *host, const char *name) {
    const uint16_t mode = kMemberOpen | (host->hdr.base.flmode & (kOpenShared | kOpnReadOnly)) |
                          (host->kind == kKindVariable ? kOpenVarlen : 0);
    const int n = OPNRFIL(-1, name, mode);
    if (n < 0 && !zvWNGV->uerr_cod) set_uerr(714);
    return n;
}

void close_quietly(int n) {
    ErrorKeep keep;
    CLRFIL(n);
}

// One call of PTADMIN.
class Admin {
public:
    Admin(FCB *host, int hostno) : host_(host), hostno_(hostno), pd_(host->partdef) {}
    int run(const char *text, int32_t raw, int mode);

private:
    int designate(const char *text, int32_t raw, int how, int32_t *out);
    int write_table() { return zvupdtpres(host_, hostno_); }
    int purge(int32_t raw);
    int archive(int32_t raw);
    int activate(int32_t raw);
    int add(const char *name, int32_t raw);
    int reuse(int32_t raw);
    int move_base(int32_t raw);
    PARTMBR *entry(int32_t raw) { return member_entry(pd_, raw); }
    void reset_range() { pd_->ptlow = pd_->pthigh = -1; }

    FCB *host_;
    int hostno_;
    PARTDEF *pd_;
};

int Admin::designate(const char *text, int32_t raw, int how, int32_t *out) {
    switch (how) {
    case 1:
        for (int32_t i = 0; text && pd_->ptmbr && i < pd_->ptcur; i++) {
            const PARTMBR &m = pd_->ptmbr[i];
            if (m.state != kMbrNone && m.name && strcmp(m.name, text) == 0) {
                *out = pd_->ptbase + i;
                return 0;
            }
        }
        return 715;
    case 2: {
        const int pix = relative_index(hostno_, pd_->ptidx);
        if (pix < 0) return 615;
        if (!text) return 33;
        const int32_t r = kprawno_i(hostno_, pix, text);
        if (r < 0) return zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 712;
        *out = r;
        return 0;
    }
    case 4:
        if (raw <= 0) return 712;
        *out = raw;
        return 0;
    default:
        return 446;
    }
}

int Admin::purge(int32_t raw) {
    PARTMBR *m = entry(raw);
    const int32_t prev = m->state;
    if (prev == kMbrNone || prev == kMbrPurged) return 715;
    int n = -1;
    if (prev == kMbrOpen) {
        FCB *mf = fcb_at(m->filno);
        if (!mf || mf->parthost != host_) return 718;
        const int was = m->filno;
        m->state = kMbrPurging;
        m->filno = -1;
        mf->parthost = nullptr;
        if (int rc = CLRFIL(was)) {
            m->state = kMbrClosed;
            return rc;
        }
    } else if (prev != kMbrClosed && prev != kMbrArchived) {
        return 718;
    }
    const int32_t restore = prev == kMbrArchived ? kMbrArchived : kMbrClosed;
    m->state = kMbrPurging;
    reset_range();
    n = open_by_name(host_, m->name);
    if (n < 0) {
        if (prev != kMbrArchived) {
            m->state = restore;
            return zvWNGV->uerr_cod;
        }
        // The files of an archived member are gone: the purge is recorded,
        // and its keys can no longer be counted.
        CountsKept kept(host_, hostno_);
        loseEnhancedGUIx(host_, hostno_, 2);
        set_uerr(0);
        if (int rc = write_table()) {
            kept.restore();
            m->state = restore;
            return rc;
        }
        m->state = kMbrPurged;
        m->filno = kPurgedFile;
        return 0;
    }
    CountsKept kept(host_, hostno_);
    {
        ErrorKeep keep;
        setactdelta(host_, hostno_, n, 1, prev);
    }
    if (int rc = write_table()) {
        kept.restore();
        m->state = restore;
        close_quietly(n);
        return rc;
    }
    m->state = kMbrPurged;
    m->filno = kPurgedFile;
    if (int rc = DELRFIL(n)) {
        // The table says purged: so does the entry.
        if (FCB *f = fcb_at(n); f && f->state != 'n') close_quietly(n);
        return set_uerr(rc);
    }
    return 0;
}

int Admin::archive(int32_t raw) {
    PARTMBR *m = entry(raw);
    const int32_t prev = m->state;
    if (prev == kMbrNone || prev == kMbrArchived || prev == kMbrPurged) return 715;
    CountsKept kept(host_, hostno_);
    if (prev == kMbrOpen) {
        FCB *mf = fcb_at(m->filno);
        if (!mf || mf->parthost != host_) return 718;
        const int was = m->filno;
        m->state = kMbrArchiving;
        m->filno = -1;
        reset_range();
        {
            ErrorKeep keep;
            setactdelta(host_, hostno_, was, 0, prev);
        }
        mf->parthost = nullptr;
        close_quietly(was);
    } else if (prev == kMbrClosed) {
        m->state = kMbrArchiving;
        reset_range();
        const int n = open_by_name(host_, m->name);
        if (n >= 0) {
            {
                ErrorKeep keep;
                setactdelta(host_, hostno_, n, 0, prev);
            }
            close_quietly(n);
        } else {
            loseEnhancedGUIx(host_, hostno_, 3);
            set_uerr(0);
        }
    } else {
        return 718;
    }
    if (int rc = write_table()) {
        kept.restore();
        m->state = kMbrClosed;
        return rc;
    }
    m->state = kMbrArchived;
    m->filno = kArchivedFile;
    return 0;
}

int Admin::activate(int32_t raw) {
    PARTMBR *m = entry(raw);
    if (m->state == kMbrNone || m->state == kMbrPurged) return 715;
    if (m->state != kMbrArchived) return 718;
    m->state = kMbrActivating;
    const int n = open_by_name(host_, m->name);
    if (n < 0) {
        m->state = kMbrArchived;
        return zvWNGV->uerr_cod;
    }
    CountsKept kept(host_, hostno_);
    {
        ErrorKeep keep;
        setactdelta(host_, hostno_, n, -1, kMbrArchived);
    }
    int rc = write_table();
    if (rc) {
        kept.restore();
        m->state = kMbrArchived;
    } else {
        m->state = kMbrClosed;
        m->filno = -1;
        partition_widen(pd_, raw);
    }
    close_quietly(n);
    return rc;
}

int Admin::add(const char *name, int32_t raw) {
    if (!name || !*name) return 33;
    if (raw == 0) {
        // No raw number given: the one the member file carries.
        const int n = open_by_name(host_, name);
        if (n < 0) return zvWNGV->uerr_cod;
        const FCB *f = fcb_at(n);
        if (f->kind != kKindIndex && (f->hdr.ext.flmode2 & kPartMember)) raw = int32_t(f->hdr.ext.crew15);
        close_quietly(n);
    }
    for (int32_t i = 0; pd_->ptmbr && i < pd_->ptcur; i++) {
        const PARTMBR &m = pd_->ptmbr[i];
        if (m.state != kMbrNone && m.name && strcmp(m.name, name) == 0) return 718;
    }
    if (raw < pd_->ptbase) return 712;
    if (int64_t(raw) > int64_t(pd_->ptbase) + kRawSpan) return 730;
    if (partition_cover(pd_, raw)) return 10;
    PARTMBR *m = entry(raw);
    if (m->state != kMbrNone) return 718;
    char *stored = member_name_copy(name);
    if (!stored) return 10;
    char *oldname = m->name;
    const int32_t oldstamp = m->stamp;
    m->name = stored;
    m->state = kMbrActivating;
    auto undo = [&](int code) {
        m->state = kMbrNone;
        m->stamp = oldstamp;
        m->name = oldname;
        zvputmem(stored);
        return code;
    };
    const int n = open_by_name(host_, name);
    if (n < 0) return undo(zvWNGV->uerr_cod);
    const FCB *f = fcb_at(n);
    int rc = 0;
    if (f->kind == kKindIndex || !(f->hdr.base.hdrflags & kHdrHasExt)) rc = 734;
    else if (!(f->hdr.ext.flmode2 & kPartMember)) rc = 714;
    else if (int32_t(f->hdr.ext.crew15) != raw) rc = 737;
    else if (f->hdr.ext.crew14 > 255 && narrow(host_)) rc = 930;
    if (!rc) {
        m->stamp = int32_t(f->hdr.ext.crew14);
        rc = write_table();
    }
    close_quietly(n);
    if (rc) return undo(rc);
    zvputmem(oldname);
    m->state = kMbrClosed;
    m->filno = -1;
    partition_widen(pd_, raw);
    return 0;
}

int Admin::reuse(int32_t raw) {
    PARTMBR *m = entry(raw);
    if (m->state == kMbrNone) return 715;
    if (m->state != kMbrPurged) return 718;
    if (m->stamp >= 255 && narrow(host_)) return 930;
    const int32_t old = m->stamp;
    const int32_t own = int32_t(host_->hdr.ext.crew14);
    m->stamp = old + 1 > own ? old + 1 : own;
    m->state = kMbrReusing;
    if (int rc = write_table()) {
        m->stamp = old;
        m->state = kMbrPurged;
        return rc;
    }
    m->state = kMbrNone;
    m->filno = -1;
    return 0;
}

int Admin::move_base(int32_t r) {
    const int32_t base = pd_->ptbase;
    if (r == base) return 0;
    if (r <= 0) return 712;
    const uint32_t stamp = host_->hdr.ext.crew14;
    int32_t count;
    int32_t from;   // the first old entry kept
    int32_t shift;  // where it lands in the new table
    if (r < base) {
        if (stamp >= 255 && narrow(host_)) return 930;
        count = (base - r) + pd_->ptcur;
        from = 0;
        shift = base - r;
    } else {
        for (int32_t i = 0; i < pd_->ptcur && base + i < r; i++) {
            const int32_t s = pd_->ptmbr[i].state;
            if (s != kMbrNone && s != kMbrPurged) return 718;
        }
        from = r - base < pd_->ptcur ? r - base : pd_->ptcur;
        count = pd_->ptcur - from;
        shift = 0;
    }
    PARTMBR *t = count > 0 ? static_cast<PARTMBR *>(zvgetmem(int32_t(sizeof(PARTMBR)) * count)) : nullptr;
    if (count > 0 && !t) return 10;
    for (int32_t i = 0; i < count; i++) t[i] = PARTMBR{-1, kMbrNone, 0, nullptr};
    for (int32_t i = from; i < pd_->ptcur; i++) t[shift + i - from] = pd_->ptmbr[i];
    PARTMBR *old = pd_->ptmbr;
    const int32_t oldcur = pd_->ptcur, oldmax = pd_->ptmax, oldlow = pd_->ptlow, oldhigh = pd_->pthigh;
    pd_->ptmbr = t;
    pd_->ptcur = pd_->ptmax = count;
    pd_->ptbase = r;
    reset_range();
    if (r < base) host_->hdr.ext.crew14 = stamp + 1;
    if (int rc = write_table()) {
        zvputmem(t);
        pd_->ptmbr = old;
        pd_->ptcur = oldcur;
        pd_->ptmax = oldmax;
        pd_->ptbase = base;
        pd_->ptlow = oldlow;
        pd_->pthigh = oldhigh;
        host_->hdr.ext.crew14 = stamp;
        return rc;
    }
    if (r < base) host_->hdr.base.updflg = kUpdChanged;
    // The entries left below the new base go with the old table.
    for (int32_t i = 0; i < from; i++) zvputmem(old[i].name);
    zvputmem(old);
    return 0;
}

int Admin::run(const char *text, int32_t raw, int mode) {
    INSTGV *g = zvWNGV;
    const int action = mode & kActionMask;
    switch (action) {
    case kPurge:
    case kAdd:
    case kArchive:
    case kReuse:
    case kActivate:
        if (mode & kModeRefused) return 454;
        break;
    case kMoveBase:
    case kAsk:
    case kRule:
    case kRebuild:
        break;
    case kRefused:
        return 454;
    default:
        return 446;
    }
    if (action == kRule) {
        if (relative_index(hostno_, pd_->ptidx) < 0) return 615;
        g->exprerr = 0;
        const int rc = zvpr_replace_rule(host_, hostno_, text);
        if (rc == 747) g->sysiocod = uint16_t(g->exprerr ? g->exprerr : 597);
        return rc;
    }
    if (action == kAdd) {
        if (mode & 6) return 446;
        return add(text, raw);
    }
    int32_t r = 0;
    if (int rc = designate(text, raw, mode & 7, &r)) return rc;
    if (action == kMoveBase) return move_base(r);
    if (r < pd_->ptbase) return 712;
    if (int64_t(r) >= int64_t(pd_->ptbase) + pd_->ptcur) return 730;
    switch (action) {
    case kPurge: return purge(r);
    case kArchive: return archive(r);
    case kActivate: return activate(r);
    case kReuse: return reuse(r);
    case kAsk:
        g->sysiocod = uint16_t(entry(r)->state);
        return 0;
    default:
        return rebuild_member(host_, hostno_, r);
    }
}

}  // namespace

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int PTADMIN(int hostno, const char *text, int32_t raw, int mode) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    set_uerr(0);
    FCB *host = tstfnm(hostno);
    if (!host) return ierr(g->uerr_cod ? g->uerr_cod : 26, hostno);
    if (!(host->hdr.ext.flmode2 & kPartHost)) return ierr(set_uerr(713), hostno);
    if (host->kind == kKindIndex) return ierr(set_uerr(48), hostno);
    if (!host->partdef) return ierr(set_uerr(713), hostno);
    int rc;
    try {
        Admin a(host, hostno);
        rc = a.run(text, raw, mode);
    } catch (const std::bad_alloc &) {
        rc = 10;
    }
    set_uerr(rc);
    return ierr(rc, rc ? hostno : 0);
}

}  // extern "C"

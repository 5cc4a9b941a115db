// Progress, work buffer and error state of the rebuilds.
//
// Every rebuild step reports through one progress routine: a phase starts
// with code 109 and its message, each record or key adds one to the
// instance's counter, and every `interval` counts the routine gets the low
// word (the high word goes to the status block first). The status block is
// the caller's way back: a cancel word set from inside the routine stops
// the step at its next count with 869.
//
// The work buffer holds one record image for the scan, the key pass and the
// purge; it only grows while a run lasts, so that no record costs an
// allocation.
#include "engine/maint/rblstate.h"

#include <cerrno>
#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/bytes.h"
#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/filehold.h"
#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/statuslog.h"
#include "engine/files/close.h"
#include "engine/files/fcbops.h"
#include "engine/core/fcb.h"
#include "engine/files/header.h"
#include "engine/files/resource.h"
#include "engine/files/superfile.h"
#include "engine/maint/maintstate.h"
#include "engine/maint/rblcrypt.h"

namespace zv {

namespace {

RblState &rs() { return maint_state(zvWNGV).rbl; }

void call(uint32_t count, int code, const char *text) {
    RblState &r = rs();
    if (r.callback) r.callback(count, code, text ? text : "");
}

}  // namespace

void rbl_phase(const char *message) {
    RblState &r = rs();
    r.counter = 0;
    if (r.status) r.status->counthigh = 0;
    call(0, kRblPhase, message);
}

void rbl_note(const char *message) {
    RblState &r = rs();
    if (r.status) r.status->counthigh = uint32_t(r.counter >> 32);
    call(uint32_t(r.counter), kRblPhase, message);
}

int rbl_count(int code) {
    RblState &r = rs();
    r.counter++;
    if (!r.callback) return 0;
    uint64_t every = r.interval ? r.interval : 1;
    if (r.counter % every) return 0;
    if (r.status) r.status->counthigh = uint32_t(r.counter >> 32);
    call(uint32_t(r.counter), code, "");
    if (r.status && r.status->cancel) return kRblCancelled;
    return 0;
}

unsigned char *rbgetbuf(int32_t size) {
    RblState &r = rs();
    if (r.buf && size <= r.bufsize) return r.buf;
    zvputmem(r.buf);
    r.buf = nullptr;
    r.bufsize = 0;
    if (size < 1) size = 1;
    r.buf = static_cast<unsigned char *>(zvgetmem(size));
    if (r.buf) r.bufsize = size;
    return r.buf;
}

void rbfreebuf() {
    RblState &r = rs();
    zvputmem(r.buf);
    r.buf = nullptr;
    r.bufsize = 0;
}

int rbl_take_status(bool *own) {
    RblState &r = rs();
    *own = false;
    if (!r.callback || r.status) return 0;
    r.status = static_cast<RBLCBST *>(zvgetmem(int32_t(sizeof(RBLCBST))));
    if (!r.status) return 82;
    r.status->size = sizeof(RBLCBST);
    *own = true;
    return 0;
}

void rbl_give_status(bool own) {
    RblState &r = rs();
    if (!own) return;
    zvputmem(r.status);
    r.status = nullptr;
}

bool rbl_partition_run_begin() {
    RblState &r = rs();
    const bool had = (r.flags & kRblPartitionRun) != 0;
    r.flags |= kRblPartitionRun;
    return had;
}

void rbl_partition_run_end(bool had) {
    if (!had) rs().flags &= ~kRblPartitionRun;
}

int rerr(int code, int filno) {
    INSTGV *g = zvWNGV;
    g->uerr_cod = uint16_t(code);
    g->isamerr_cod = uint16_t(code);
    maint_state(g).rbl.err = uint16_t(code);
    maint_state(g).rbl.errfil = uint16_t(filno < 0 ? 0 : filno);
    return code;
}

int zvsetupdflg(int filno, int value, bool write) {
    INSTGV *g = zvWNGV;
    FCB *f = fcb_at(filno);
    if (!f || (f->state != 'y' && f->state != 'v' && f->state != 'w')) return 26;
    f->hdr.base.updflg = uint8_t(value);
    if (write) {
        uint16_t keep = g->uerr_cod;
        wrthdr(f);
        g->uerr_cod = keep;
    }
    return 0;
}

int rbl_close(int filno) {
    FCB *f = fcb_at(filno);
    if (!f || (f->state != 'y' && f->state != 'v' && f->state != 'w')) return 0;
    int first = 0;
    for (FCB *b = f; b; b = b->nextmember) {
        if (b->hdr.base.updflg != kUpdRebuild) continue;
        int rc = wrthdr(b);
        if (rc && !first) first = rc;
    }
    int rc = iclsfilx(filno, 0);
    return first ? first : rc;
}

int yesno() { return 1; }
int prnprm() { return 0; }

int vcparm(uint16_t *field, uint16_t value, const char *) {
    if (*field == value || !prnprm()) return 1;
    *field = value;
    return 0;
}

int vtparm(uint8_t *field, uint8_t value) {
    if (*field == value || !prnprm()) return 1;
    *field = value;
    return 0;
}

bool rbl_in_run(int filno) {
    const RblState &r = rs();
    return r.runn > 0 && filno >= r.runlo && filno < r.runlo + r.runn;
}

int rbl_spare_filno(int count) {
    INSTGV *g = zvWNGV;
    auto spare = [](int32_t i) {
        FCB *f = fcb_at(i);
        return (!f || f->state == 'n') && !rbl_in_run(i);
    };
    for (int attempt = 0; attempt < 2; attempt++) {
        int32_t size = fcb_table_size(g);
        for (int32_t i = 1; i + count <= size; i++) {
            int32_t k = 0;
            while (k < count && spare(i + k)) k++;
            if (k == count) return i;
        }
        if (!redofils(size)) break;
    }
    set_uerr(46);
    return -1;
}

int hold_set_file(HeldFiles &held, const char *name) {
    if (!name || !*name) return 0;
    char phys[256];
    snprintf(phys, sizeof phys, "%s", name);
    if (const int at = zvsname1(phys); at > 1) phys[at - 1] = 0;
    const int n = chkopnx(phys);
    if (n < 0) return held.take(phys, true);
    FCB *f = fcb_at(n);
    if (f->state == 'v' && zvswitch(f) != 0) return zvWNGV->uerr_cod;
    return held.take_fd(f->fd);
}

SpareOpen::SpareOpen(const char *name, uint16_t mode) {
    const int n = rbl_spare_filno();
    if (n < 0) {
        rc_ = zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 46;
        return;
    }
    rc_ = OPNFILX(n, name, mode, nullptr);
    if (rc_ == 0) filno_ = n;
}

FCB *SpareOpen::fcb() const { return filno_ >= 0 ? zvWNGV->fcbtab[filno_] : nullptr; }

int SpareOpen::close() {
    if (filno_ < 0) return 0;
    const int rc = iclsfilx(filno_, 0);
    filno_ = -1;
    return rc;
}

void rbl_drop_file(const char *name) {
    INSTGV *g = zvWNGV;
    if (!name || !*name) return;
    uint16_t uerr = g->uerr_cod, sys = g->sysiocod;
    // A file left behind would stay for good: a failing delete is tried
    // once more.
    if (dltfil(name)) dltfil(name);
    g->uerr_cod = uerr;
    g->sysiocod = sys;
}

FILE *rbl_open_stream(const char *name, const char *mode) {
    // The name was drawn free: a file made ("w") must not exist, one read
    // back ("r") must be a regular file, neither reached through a link.
    FILE *fp = plat_fopen_found(name, mode[0] == 'w' ? "wx" : mode, 0666);
    if (!fp && (errno == EEXIST || errno == ELOOP || errno == EINVAL || errno == EISDIR || errno == ENXIO)) {
        const int err = errno;
        zvrcvlog("Rebuild: a work file is refused, its name holds a link or another file:", kLogSingleTry - err);
        zvrcvlog(name, kLogSingleTry);
        errno = err;
    }
    return fp;
}

void rbl_close_stream(FILE **fp) {
    if (fp && *fp) {
        plat_fclose(*fp);
        *fp = nullptr;
    }
}

void rbl_empty_index(FCB *f) {
    for (FCB *m = f; m; m = m->nextmember) {
        m->hdr.base.root = 0;
        m->hdr.ext.rooth = 0;
        m->hdr.base.nument = 0;
        m->hdr.ext.numenth = 0;
        m->hdr.base.lanchr = 0;
        m->hdr.ext.lanchrh = 0;
        if (m->hdr.ext.levels > 0) m->hdr.ext.levels = 0;
        m->hdr.ext.distl = m->hdr.ext.disth = 0;
        m->hdr.base.updflg = kUpdChanged;
    }
}

int rbl_push_node(FCB *f, uint64_t at, uint64_t *head, bool wide, bool direct) {
    const int32_t hs = wide ? 28 : 18;
    unsigned char h[28];
    int32_t got = 0;
    int rc = izvio81x(direct ? 0x10 : 0, f, uint32_t(at >> 32), uint32_t(at), h, hs, &got, 0);
    if (!rc && got < hs) rc = set_uerr(36);
    if (rc) return rc;
    le::put32(h, uint32_t(*head));
    le::put32(h + 4, 0xFFFFFFFFu);
    memset(h + 8, 0, 8);
    if (wide) {
        le::put32(h + 20, uint32_t(*head >> 32));
        le::put32(h + 24, 0xFFFFFFFFu);
    }
    if ((rc = izvio81x(direct ? 0x11 : 1, f, uint32_t(at >> 32), uint32_t(at), h, hs, nullptr, 0)) != 0) return rc;
    *head = at;
    return 0;
}

int rblsavres(int datno, int idxno, const char *name, const char *password, uint16_t *flags, CamoSave *encsave) {
    INSTGV *g = zvWNGV;
    (void)password;
    *flags = 0;
    if (int rc = OPNFILX(idxno, name, 0x7000, nullptr)) {
        if (rc != 12 && zvsname1(name)) return -2;
        if (encsave && rbl_enc_from_data(encsave, datno)) return -2;
        set_uerr(0);
        return -1;
    }
    FCB *f = fcb_at(idxno);
    if (zvsname1(name)) {
        iclsfilx(idxno, 0);
        return set_uerr(0);
    }
    FILEHDR &b = f->hdr.base;
    *flags = uint16_t(b.hdrflags & kHdrLeafReserve);
    const bool wide = (b.hdrflags & kHdr8ByteOffsets) != 0;
    const uint32_t node = f->nodesize;
    uint32_t szh = 0;
    uint32_t szl = zvgsize81(&szh, f);
    const uint64_t size = (szh == 0xFFFFFFFFu && szl == 0xFFFFFFFFu) ? 0 : join64(szh, szl);
    uint64_t head = join64(wide ? f->hdr.ext.delstkh : 0, b.delstk);
    uint64_t pos = first_node_offset(f);
    uint64_t steps = node ? size / node + 2 : 0;
    int rc = 0;
    while (node && pos + node <= size && steps--) {
        RESHDR rh;
        int r = getrhdr(f, pos, &rh);
        if (r == 0 && rh.arealen >= node) {
            pos += (uint64_t(rh.arealen) + node - 1) / node * node;
            continue;
        }
        if (r != 0 && r != 407) {
            if (r != 36) rc = r;
            break;
        }
        // A node of the index: it goes on the deleted-node stack.
        if ((rc = rbl_push_node(f, pos, &head, wide, true)) != 0) break;
        pos += node;
    }
    set_uerr(0);
    split64(head, &f->hdr.ext.delstkh, &b.delstk);
    if (!wide) f->hdr.ext.delstkh = 0;
    if (pos > 0 && pos - 1 > join64(f->hdr.ext.numrech, b.numrec)) split64(pos - 1, &f->hdr.ext.numrech, &b.numrec);
    rbl_empty_index(f);
    if (encsave && rbl_enc_from_index(encsave, idxno)) rc = rc ? rc : g->uerr_cod;
    int cl = iclsfilx(idxno, 0);
    if (!rc) rc = cl;
    return set_uerr(rc);
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int SETCBRBL(RBLCBFN callback, int32_t interval) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    maint_state(g).rbl.callback = callback;
    if (interval) maint_state(g).rbl.interval = uint16_t(interval);
    return set_uerr(0);
}

ZV_API RBLCBST *GETCBRBLST(void) {
    INSTGV *g = zvWNGV;
    return g ? maint_state(g).rbl.status : nullptr;
}

}  // extern "C"

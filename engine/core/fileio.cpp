// Platform file I/O: where the engine's data and index files meet the
// system, through the seam of platform.cpp.
//
// Descriptor budget: the instance counts the descriptors of non-permanent
// files (openvcount) against a limit (openvlimit). Opening or creating such
// a file first closes the least recently used file virtually when the count
// has reached the limit, and counts the new descriptor once; closing it
// takes it off again. Permanent files (open mode 0x02) are outside the
// budget. zvchknum and zvinrnum (filenum.cpp) work on the same two counters.
//
// Page cipher: a file whose cipher class is 2 or more is stored enciphered
// from its cipher start (the encryption start rounded up to a whole unit)
// onwards, in 2048-byte units aligned on file offsets. A transfer that
// straddles the start moves its lower part in clear and the rest through
// the instance's hook; a transfer that does not cover whole units becomes a
// read-modify-write of the covering units. Every enciphered write is
// followed by the hook's undo operation, failed or not, so the caller's
// buffer is never left enciphered.
//
// Failures leave the errno of the failing call in sysiocod and return the
// engine code; nothing is retried except fsync on EINTR and one open after
// freeing a descriptor. A write the system cut short goes on with its rest
// (not a retry: the bytes written stay), so that a failure always comes
// with the system's reason.
#include "engine/core/fileio.h"

#include "engine/core/centralio.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/fileops.h"
#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/statuslog.h"
#include "engine/files/files_services.h"
#include "engine/core/fcb.h"

namespace zv {

namespace {

constexpr uint64_t kUnitMask = kCipherUnit - 1;
// Largest piece handed to the hook at once (its length is a signed 32-bit
// value); a whole number of units.
constexpr uint32_t kMaxCipherPiece = 0x40000000;
// Covering units up to this size are staged on the stack.
constexpr uint32_t kStackStage = 2 * kCipherUnit;

inline void set_sys(INSTGV *g, int code) { g->sysiocod = static_cast<uint16_t>(code); }

const char *name_of(const FCB *f) { return f->name[0] ? f->name : "????"; }

bool is_segmented(const FCB *f) { return (f->hdr.base.hdrflags & kHdrSegmented) != 0; }

uint64_t round_up_unit(uint64_t v) { return (v + kUnitMask) & ~kUnitMask; }

// Copies a caller's path into name (256 bytes) and converts it when the
// instance converts names for open and create. 0, or the code to report.
int prepare_name(INSTGV *g, const char *path, uint16_t mode, char (&name)[256]) {
    if (!path) return 540;
    size_t n = strnlen(path, 256);
    if (n > 255) return 139;
    memcpy(name, path, n + 1);
    if (!(mode & kOpnNoConvert) && g->nameconv == 3) {
        int rc = zvcnvfn(name);
        if (rc > 0) return rc;
    }
    return 0;
}

// What a read that came short leaves in sysiocod: 0 only at the end of
// the file (the bytes stop at or past its physical end); a failed read
// keeps its errno, and a read that stops below the physical end without
// one is a failure too (EIO). Callers read 36 with sysiocod 0 as the end
// of the file and any other 36 as a failing disk.
int read_failure(int fd, uint64_t at, int64_t got, int err) {
    if (got < 0) return err ? err : EIO;
    int64_t end = plat_seek(fd, 0, true);
    if (end >= 0 && static_cast<uint64_t>(end) <= at + static_cast<uint64_t>(got)) return 0;
    return err ? err : EIO;
}

// The code of a failed positioning (35), with the system's reason kept.
int seek_failure(INSTGV *g) {
    set_sys(g, errno);
    return 35;
}

// One positioned read or write of one descriptor (a seek and a transfer in
// one system call), no cipher. Reads that come short and writes that fail
// are final; a failed write is logged unless the I/O-log options say
// otherwise. `off` is the logical offset (messages), `at` where the bytes lie
// in the descriptor's file.
int piece_io(INSTGV *g, FCB *f, int fd, bool wr, uint64_t off, uint64_t at, unsigned char *buf, uint32_t len,
             uint32_t *count) {
    uint32_t hi, lo;
    if (at > static_cast<uint64_t>(INT64_MAX)) {
        errno = EINVAL;
        return seek_failure(g);
    }
    const int64_t where = static_cast<int64_t>(at);
    bool seek_failed = false;
    if (!wr) {
        errno = 0;
        int64_t n = plat_pread(fd, buf, len, where, &seek_failed);
        if (seek_failed) return seek_failure(g);
        if (n == int64_t{len}) {
            *count += len;
            return 0;
        }
        int err = errno;
        if (n > 0) *count += static_cast<uint32_t>(n);
        set_sys(g, read_failure(fd, at, n, err));
        return 36;
    }
    // A write the system ends early (a disk that takes only what fits)
    // says nothing of why: the rest goes in another write, which either
    // completes or fails with the reason (ENOSPC), kept in sysiocod.
    uint32_t done = 0;
    int64_t n = 0;
    for (;;) {
        errno = 0;
        n = plat_pwrite(fd, buf + done, len - done, where + int64_t{done}, &seek_failed);
        if (seek_failed) {
            *count += done;
            return seek_failure(g);
        }
        if (n <= 0 || n >= int64_t{len - done}) break;
        done += static_cast<uint32_t>(n);
    }
    if (n == int64_t{len - done}) {
        *count += len;
        return 0;
    }
    int err = errno;
    set_sys(g, err);
    uint32_t wrote = done + (n > 0 ? static_cast<uint32_t>(n) : 0);
    *count += wrote;
    if (!(g->iologopts & 8)) {
        char msg[400];
        split64(off, &hi, &lo);
        snprintf(msg, sizeof msg,
                 "WRITE_ERR: %.256s at %x:%xx  sysiocod=%d bufsiz=%d bytes written=%d[%d]  ioLoc=%d",
                 name_of(f), hi, lo, err, static_cast<int>(len), static_cast<int>(wrote),
                 static_cast<int>(*count), 0);
        zvrcvlog(msg, -236);
    }
    return 37;
}

// Reads or writes at a logical offset: a segmented file's transfer is
// split at segment ends and each piece goes to its segment.
int raw_transfer(INSTGV *g, FCB *f, bool wr, uint64_t off, unsigned char *buf, uint32_t len,
                 uint32_t *count) {
    if (!is_segmented(f) || !f->segs) return piece_io(g, f, f->fd, wr, off, off, buf, len, count);
    while (len) {
        uint64_t at = 0;
        uint32_t n = len;
        int seg = 0, code = 0;
        int fd = zvdecsegmdef(wr ? 1 : 0, f, off, &at, &n, &seg, &code);
        if (fd == -2) {
            set_sys(g, 0);
            return 36;
        }
        if (fd < 0) return code ? code : 674;
        int rc = piece_io(g, f, fd, wr, off, at, buf, n, count);
        if (rc) return rc;
        off += n;
        buf += n;
        len -= n;
    }
    return 0;
}

// A write raises the highest written offset by what reached the file, so
// that the offset tells where the file's written bytes end (a write that
// failed leaves no bytes there to count on).
int raw_io(INSTGV *g, FCB *f, bool wr, uint64_t off, unsigned char *buf, uint32_t len,
           uint32_t *count) {
    if (!wr || !len) return raw_transfer(g, f, wr, off, buf, len, count);
    const uint32_t before = *count;
    int rc = raw_transfer(g, f, wr, off, buf, len, count);
    if (uint32_t moved = *count - before) {
        uint64_t last = off + moved - 1;
        if (last > join64(f->hwoffh, f->hwoffl)) split64(last, &f->hwoffh, &f->hwoffl);
    }
    return rc;
}

// Whole aligned units through the hook: decipher after a read (the units
// actually read), encipher before a write and undo after it.
int unit_piece(INSTGV *g, FCB *f, bool wr, uint64_t off, unsigned char *p, uint32_t len,
               uint32_t *count) {
    uint32_t hi, lo;
    split64(off, &hi, &lo);
    ZvPageCipherHook hook = g->pagehook;
    if (!wr) {
        uint32_t before = *count;
        int rc = raw_io(g, f, false, off, p, len, count);
        uint32_t got = *count - before;
        if (got) {
            int32_t n = static_cast<int32_t>(round_up_unit(got));
            if (!hook(p, hi, lo, n, kCipherDecrypt, f->encstart, f->cipherkey, f->cipherkeylen,
                      f->cipherclass)) {
                // Nothing deciphered is delivered.
                *count = before;
                return 697;
            }
        }
        return rc;
    }
    void *out = hook(p, hi, lo, static_cast<int32_t>(len), kCipherEncrypt, f->encstart,
                     f->cipherkey, f->cipherkeylen, f->cipherclass);
    if (!out) return 697;
    int rc = raw_io(g, f, true, off, static_cast<unsigned char *>(out), len, count);
    hook(p, hi, lo, static_cast<int32_t>(len), kCipherUndo, f->encstart, f->cipherkey,
         f->cipherkeylen, f->cipherclass);
    return rc;
}

int unit_io(INSTGV *g, FCB *f, bool wr, uint64_t off, unsigned char *p, uint64_t len,
            uint32_t *count) {
    while (len) {
        uint32_t n = len > kMaxCipherPiece ? kMaxCipherPiece : static_cast<uint32_t>(len);
        int rc = unit_piece(g, f, wr, off, p, n, count);
        if (rc) return rc;
        off += n;
        p += n;
        len -= n;
    }
    return 0;
}

// The enciphered part of a transfer (at or past the cipher start).
int cipher_io(INSTGV *g, FCB *f, bool wr, uint64_t off, unsigned char *p, uint32_t len,
              uint32_t *count) {
    uint64_t ua = off & ~kUnitMask;
    uint64_t ue = round_up_unit(off + len);
    if (ua == off && ue == off + len) return unit_io(g, f, wr, off, p, len, count);

    // Read-modify-write over the covering units.
    uint64_t span = ue - ua;
    unsigned char stage[kStackStage];
    unsigned char *tmp = stage;
    if (span > kStackStage) {
        tmp = span > UINT32_MAX ? nullptr : static_cast<unsigned char *>(mballc(1, span));
        if (!tmp) return 695;
    }
    uint32_t head = static_cast<uint32_t>(off - ua);
    uint32_t got = 0;
    int rc = unit_io(g, f, false, ua, tmp, span, &got);
    if (!wr) {
        if ((rc == 0 || rc == 36) && got > head) {
            uint32_t avail = got - head < len ? got - head : len;
            memcpy(p, tmp + head, avail);
            *count += avail;
            if (avail == len) rc = 0;
        }
    } else if (rc == 0 || (rc == 36 && g->sysiocod == 0)) {
        // Units past the end of the file read as 0xFF; a read that failed
        // for another reason must not be written back over the file.
        memset(tmp + got, 0xFF, span - got);
        memcpy(tmp + head, p, len);
        uint32_t put = 0;
        rc = unit_io(g, f, true, ua, tmp, span, &put);
        if (rc == 0) {
            *count += len;
        } else if (put > head) {
            *count += put - head < len ? put - head : len;
        }
    }
    if (tmp != stage) mbfree(tmp);
    return rc;
}

// Logs a failing save: the numbers, then the file name.
void log_save_failure(const FCB *f, int err, int loc, int fd) {
    char msg[128];
    snprintf(msg, sizeof msg, "zvsave failed: system code = %d  lc = %d  fd = %lld", err, loc,
             static_cast<long long>(fd));
    zvrcvlog(msg, kLogSingleTry);
    zvrcvlog(name_of(f), kLogSingleTry);
}

}  // namespace

FCB *io_fcb(FCB *f) {
    for (int i = 0; i < 3 && f->hostfcb && f->hostfcb != f; i++) f = f->hostfcb;
    return f;
}

FoundNames::FoundNames(bool on) : keep_(0), on_(on && zvWNGV) {
    if (!on_) return;
    keep_ = zvWNGV->foundopen;
    zvWNGV->foundopen = 1;
}

FoundNames::~FoundNames() {
    if (on_ && zvWNGV) zvWNGV->foundopen = keep_;
}

CallerNames::CallerNames() : keep_(zvWNGV ? zvWNGV->foundopen : 0) {
    if (zvWNGV) zvWNGV->foundopen = 0;
}

CallerNames::~CallerNames() {
    if (zvWNGV) zvWNGV->foundopen = keep_;
}

int mbopen(FCB *fcb, const char *path, uint16_t mode) {
    INSTGV *g = zvWNGV;
    if (!g) return -1;
    g->sysiocod = 0;
    zvchknum(mode);
    char name[256];
    int rc = prepare_name(g, path, mode, name);
    if (rc) {
        set_uerr(rc);
        return -1;
    }
    // A block keeps the rule of its first open (its reopens follow it, also
    // inside another call's FoundNames); an open without a block takes the
    // instance's.
    const bool found = fcb ? fcb->foundname != 0 : g->foundopen != 0;
    const bool ro = (mode & kOpnReadOnly) != 0;
    OpenHow how = found ? (ro ? OpenHow::FoundRead : OpenHow::FoundReadWrite)
                        : (ro ? OpenHow::ReadOnly : OpenHow::ReadWrite);
    int fd = plat_open(name, how, 0);
    if (fd < 0) {
        int err = errno;
        set_sys(g, err);
        if (err != ENFILE && err != EMFILE) return fd;
        if (!vtclosex_one(0)) {
            set_sys(g, -766);
            return -1;
        }
        fd = plat_open(name, how, 0);
        if (fd < 0) {
            set_sys(g, errno);
            return fd;
        }
    }
    zvinrnum(mode, fd);
    return fd;
}

int mbcratx(FCB *fcb, const char *path) {
    if (fcb && zvWNGV && zvWNGV->foundopen) fcb->foundname = 1;
    return mbcratm(fcb ? fcb->opnmode : 0, path);
}

int mbcratm(uint16_t mode, const char *path) {
    INSTGV *g = zvWNGV;
    if (!g) return -1;
    g->sysiocod = 0;
    zvchknum(mode);
    char name[256];
    int rc = prepare_name(g, path, mode, name);
    if (rc) {
        set_uerr(rc);
        return -1;
    }
    int perm = g->filepermmode ? g->filepermmode : 0660;
    const OpenHow how = g->foundopen ? OpenHow::FoundCreateExclusive : OpenHow::CreateExclusive;
    int fd = plat_open(name, how, perm);
    if (fd < 0) {
        int err = errno;
        set_sys(g, err);
        if (err == EEXIST) {
            set_uerr(19);
            return -1;
        }
        set_uerr(-1);
        if (err != ENFILE && err != EMFILE) return -1;
        if (!vtclosex_one(0)) {
            set_sys(g, -766);
            return -1;
        }
        fd = plat_open(name, how, perm);
        if (fd < 0) {
            err = errno;
            set_sys(g, err);
            if (err == EEXIST) set_uerr(19);
            return -1;
        }
        set_uerr(0);
    }
    // The whole-file lock tells other processes that the file is being made.
    // A refused lock leaves no half-made file behind.
    int lk = zvfpglok81(fd, nullptr, 0, 0, 0, 2 | 32);
    if (lk != 0) {
        plat_close(fd);
        plat_unlink(name);
        set_uerr(-1);
        set_sys(g, lk);
        return -1;
    }
    zvinrnum(mode, fd);
    return fd;
}

int lock_open_file(int fd, uint16_t openmode) {
    // A read-only descriptor cannot hold an exclusive lock; reading beside
    // other readers is what a shared lock allows.
    return zvfpglok81(fd, nullptr, 0, 0, 0, 2 | 32 | (opens_shared(openmode) ? 8 : 0));
}

int relock_open_file(FCB *fcb, int fd) {
    if (fcb->wrlock != kLockShared) return zvfpglok81(fd, nullptr, 0, 0, 0, 2 | 32);
    return lock_open_file(fd, fcb->hdr.base.flmode);
}

int mbcrat(FCB *fcb) {
    if (!fcb) {
        set_uerr(540);
        return -1;
    }
    return mbcratx(fcb, fcb->name);
}

int mbclosx(FCB *fcb, int fd) {
    int r = mbclosm(fcb ? fcb->opnmode : 0, fd);
    // The descriptor is released even when close reports an error; keeping
    // its number in the FCB would later reach whatever file reuses it.
    if (fcb && fcb->fd == fd) fcb->fd = -1;
    return r;
}

int mbclosm(uint16_t mode, int fd) {
    INSTGV *g = zvWNGV;
    if (g && !(mode & kOpnPermanent) && g->openvcount > 0) g->openvcount--;
    if (plat_close(fd) != 0) {
        if (g) set_sys(g, errno);
        return -1;
    }
    return 0;
}

int mbclos(FCB *fcb) {
    if (!fcb) return -1;
    return mbclosx(fcb, fcb->fd);
}

int zvseek81(int fd, uint32_t hi, uint32_t lo) {
    uint64_t off = join64(hi, lo);
    int64_t r;
    if (off > static_cast<uint64_t>(INT64_MAX)) {
        errno = EINVAL;
        r = -1;
    } else {
        r = plat_seek(fd, static_cast<int64_t>(off), false);
    }
    if (r < 0) {
        if (zvWNGV) set_sys(zvWNGV, errno);
        return 35;
    }
    return 0;
}

int zvsysio81(int mode, FCB *fcb, int, uint32_t hi, uint32_t lo, void *buf, uint32_t len,
              uint32_t *count) {
    uint32_t local;
    if (!count) count = &local;
    *count = 0;
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!fcb || (!buf && len)) return 540;
    FCB *f = io_fcb(fcb);
    bool wr = (mode & ~(kIoCentral | kIoPlain | kIoSegHdr) & kIoWrite) != 0;
    // Segment-header I/O: hi names the segment, lo the offset in its file;
    // never enciphered and no high-water mark.
    if (mode & kIoSegHdr) {
        int fd = hi == 0 ? f->fd : zvsegfd(f, int(hi));
        if (fd < 0) return 674;
        return piece_io(g, f, fd, wr, lo, lo, static_cast<unsigned char *>(buf), len, count);
    }
    uint64_t off = join64(hi, lo);
    unsigned char *p = static_cast<unsigned char *>(buf);
    if (f->cipherclass < 2 || (mode & kIoPlain)) return raw_io(g, f, wr, off, p, len, count);

    uint64_t cbeg = round_up_unit(f->encstart);
    if (off + len <= cbeg) return raw_io(g, f, wr, off, p, len, count);
    if (!g->pagehook) return 606;
    if (off < cbeg) {
        uint32_t clear = static_cast<uint32_t>(cbeg - off);
        int rc = raw_io(g, f, wr, off, p, clear, count);
        if (rc) return rc;
        off = cbeg;
        p += clear;
        len -= clear;
    }
    return cipher_io(g, f, wr, off, p, len, count);
}

bool read_at_end(int code) { return code == 36 && zvWNGV && zvWNGV->sysiocod == 0; }

void report_fsize(FCB *fcb, int syscode, int loc) {
    char msg[128];
    snprintf(msg, sizeof msg, "zvfsize failed: system code = %d  lc = %d  fd = %lld", syscode, loc,
             static_cast<long long>(fcb ? fcb->fd : -1));
    zvrcvlog(msg, kLogSingleTry);
    zvrcvlog(fcb ? name_of(fcb) : "????", kLogSingleTry);
}

uint32_t zvfsize81(uint32_t *hi, FCB *fcb, int fd) {
    uint32_t h;
    if (!hi) hi = &h;
    if (fcb && fcb->state == 'v') {
        // A file that cannot be reopened has no size to give: the failure is
        // reported like any other failing size query.
        if (zvswitch(fcb) != 0) {
            report_fsize(fcb, 0, 9455);
            *hi = 0xFFFFFFFFu;
            return 0xFFFFFFFFu;
        }
        fd = fcb->fd;
    }
    int64_t end = plat_seek(fd, 0, true);
    if (end < 0) {
        int err = errno;
        if (zvWNGV) set_sys(zvWNGV, err);
        if (fcb) report_fsize(fcb, err, 1);
        *hi = 0xFFFFFFFFu;
        return 0xFFFFFFFFu;
    }
    uint32_t lo;
    split64(static_cast<uint64_t>(end), hi, &lo);
    return lo;
}

uint32_t zvgsize81(uint32_t *hi, FCB *fcb) {
    uint32_t h;
    if (!hi) hi = &h;
    if (!fcb) {
        set_uerr(540);
        *hi = 0xFFFFFFFFu;
        return 0xFFFFFFFFu;
    }
    FCB *f = io_fcb(fcb);
    if (!is_segmented(f) || !f->segs) return zvfsize81(hi, f, f->fd);
    uint64_t size = 0;
    if (!segmented_size(f, &size)) {
        *hi = 0xFFFFFFFFu;
        return 0xFFFFFFFFu;
    }
    uint32_t lo;
    split64(size, hi, &lo);
    return lo;
}

int tstfilsiz(FCB *f) {
    if (!f) return 540;
    FILEHDRALL &h = f->hdr;
    if ((h.base.hdrflags & kHdr8ByteOffsets) || h.base.sfiltyp == 2) return 0;
    if (h.ext.numrech == 0 && h.ext.phyendh == 0) return 0;
    bool first = !(f->stflags & kStSizeNoted);
    f->stflags |= kStSizeNoted;
    if (!(f->opflags & kOpNoSizeCheck) && !f->membuckets) {
        uint32_t szh;
        uint32_t szl = zvfsize81(&szh, f, f->fd);
        if (szh == 0 && szl != 0xFFFFFFFFu && h.base.numrec == szl - 1) {
            h.ext.numrech = 0;
            h.ext.phyendh = 0;
            if (first) {
                zvrcvlog("Resetting unexpected numrec2/phyrec2 values. Corrected on disk only if "
                         "file update occurs: nonHUGE file...",
                         kLogSingleTry);
                zvrcvlog(name_of(f), kLogSingleTry);
            }
            return 0;
        }
    }
    if (first) {
        zvrcvlog("Unexpected values for numrec2 / phyrec2 for nonHUGE file...", kLogSingleTry);
        zvrcvlog(name_of(f), -888);
    }
    return 689;
}

int zvfdatasync(int fd) {
    int r;
    do {
        r = plat_fsync(fd);
    } while (r != 0 && errno == EINTR);
    return r;
}

int mbsave(FCB *fcb) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!fcb) return set_uerr(540);
    FCB *f = io_fcb(fcb);
    g->uerr_cod = 0;
    if (f->state == 'v' || (f->crflags & kCrNoSave) || (f->stflags & kStNoSave)) return 0;
    // A memory file has nothing on disk.
    if (f->fd == -2 || fcb_is_memory(f)) return 0;
    bool deferred = (f->hdr.ext.flmode2 & kFlmode2DeferSync) || (f->crflags & kCrDeferSync);
    if (deferred && !(g->saveflags & 0x2000)) return 0;
    int r = zvfdatasync(f->fd);
    if (f->state == 's') g->syncsysfiles++;
    else g->syncfiles++;
    if (r != 0) {
        int err = errno;
        log_save_failure(f, err, '&', f->fd);
        set_sys(g, err);
        return set_uerr(49);
    }
    if (is_segmented(f) && f->segs) {
        uint32_t synced = 0;
        int err = sync_segments(f, &synced);
        g->syncfiles += synced;
        if (err) {
            log_save_failure(f, err, 39, f->fd);
            set_sys(g, err);
            return set_uerr(49);
        }
    }
    return 0;
}

int zvcfill(const void *buf, int fill, uint32_t len) {
    const unsigned char *p = static_cast<const unsigned char *>(buf);
    unsigned char b = static_cast<unsigned char>(fill);
    if (!p) return len ? 1 : 0;
    uint32_t i = 0;
    if (len >= 32) {
        while (reinterpret_cast<uintptr_t>(p + i) & 3) {
            if (p[i++] != b) return 1;
        }
        uint32_t word = 0x01010101u * b;
        for (; i + 4 <= len; i += 4) {
            uint32_t w;
            memcpy(&w, p + i, 4);
            if (w != word) return 1;
        }
    }
    for (; i < len; i++)
        if (p[i] != b) return 1;
    return 0;
}

int zvrtgetpos81(FILE *fp, int64_t *pos) {
    if (!fp) return -1;
    return plat_ftell(fp, pos);
}

int zvrtsetpos81(FILE *fp, uint32_t hi, uint32_t lo) {
    if (!fp) return -1;
    uint64_t off = join64(hi, lo);
    if (off > static_cast<uint64_t>(INT64_MAX)) return -1;
    return plat_fseek(fp, static_cast<int64_t>(off));
}

}  // namespace zv

// Whole-file byte copy, and the handles that collect file-copy and
// temporary-directory operations for their engines.
//
// A copy leaves the destination holding exactly the source's bytes: an
// existing destination is truncated first (option 2 still insists on
// creating it), so no tail of an older, longer file survives behind a copy
// reported as a success.
//
// Handles (56 bytes) keep their operations newest first through three-word
// links (operation, next, previous). Removing a link frees its operation
// with it.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/fileops.h"
#include "engine/files/flush.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "engine/core/statuslog.h"
#include "engine/core/fcb.h"
#include "zarvo/zarvo.h"

namespace {

constexpr size_t kCopyBuf = 4096;
constexpr int kInterruptions = 10;  // EINTR tolerated for a whole copy
constexpr int kStopped = -1015;
constexpr size_t kNameSlot = 255;   // bytes per name of an operation's name list

// The link of an operation in its handle's list.
struct OpLink {
    void *op;
    OpLink *next;
    OpLink *prev;
};

// The handle shared by both families (56 bytes).
struct Handle {
    int32_t version;
    int32_t count;
    int32_t errsize;
    int32_t pad;
    ZvOperationCallback callback;
    void *argument;
    char *errbuf;
    OpLink *first;
    OpLink *last;
};
static_assert(sizeof(Handle) == 56, "an operation handle is 56 bytes");

// A file-copy operation (408 bytes).
struct CopyOp {
    int32_t version;
    int32_t options;
    int32_t count;
    char password[10];
    int32_t server;
    char servername[32];
    char user[64];
    char serverpw[256];
    char *sources;
    char *destinations;
    Handle *owner;
};
static_assert(sizeof(CopyOp) == 408, "a file-copy operation is 408 bytes");

// A temporary-directory operation (32 bytes).
struct TempOp {
    int32_t version;
    int32_t options;
    int32_t count;
    int32_t pad;
    char *names;
    Handle *owner;
};
static_assert(sizeof(TempOp) == 32, "a temporary-directory operation is 32 bytes");

void set_sys(int code) {
    if (zvWNGV) zvWNGV->sysiocod = static_cast<uint16_t>(code);
}

// Writes a message into the handle's error buffer, when it has one.
void report(Handle *h, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void report(Handle *h, const char *fmt, ...) {
    if (!h || !h->errbuf || h->errsize < 1) return;
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(h->errbuf, size_t(h->errsize), fmt, ap);
    va_end(ap);
}

void close_quiet(int fd) {
    int keep = errno;
    zv::plat_close(fd);
    errno = keep;
}

// Writes the whole buffer, repeating interrupted writes. 0, 5 short write
// (logged), 4 too many interruptions, or the errno.
int write_all(int fd, const unsigned char *p, size_t n, int *interrupts, const char *dest) {
    while (n > 0) {
        errno = 0;
        int64_t w = zv::plat_write(fd, p, n);
        if (w < 0 && errno == EINTR) {
            if (++*interrupts > kInterruptions) return EINTR;
            continue;
        }
        if (w < 0) return errno ? errno : 5;
        if (size_t(w) < n) {
            if (errno) return errno;
            char msg[300];
            snprintf(msg, sizeof msg, "zvFScopy: Write failed for file %.256s", dest);
            zvrcvlog(msg, -199 - errno);
            return 5;
        }
        p += w;
        n -= size_t(w);
    }
    return 0;
}

int copy_bytes(const char *source, const char *dest, int options, ZvCopyCallback cb, ZVCOPYPROG *rec) {
    if (!source || !dest) return EINVAL;
    int in = zv::plat_open(source, zv::OpenHow::ReadOnly, 0);
    if (in < 0) return errno;
    int64_t size = 0;
    if (int err = zvFSgetfilesizefd(in, &size)) {
        close_quiet(in);
        return err;
    }
    // A target that is the source itself (another name, a hard link) already
    // holds the bytes: opening it for writing would truncate the only copy.
    if (!(options & 2) && zv_uniqfile(source, dest) == 0) {
        close_quiet(in);
        return 0;
    }
    zv::OpenHow how = (options & 2) ? zv::OpenHow::WriteCreateExclusive : zv::OpenHow::WriteCreate;
    int out = zv::plat_open(dest, how, 0660);
    if (out < 0) {
        int err = errno;
        close_quiet(in);
        return err;
    }
    unsigned char buf[kCopyBuf];
    int interrupts = 0;
    int64_t copied = 0;
    int result = 0;
    for (;;) {
        errno = 0;
        int64_t r = zv::plat_read(in, buf, sizeof buf);
        if (r < 0) {
            if (errno == EINTR && ++interrupts <= kInterruptions) continue;
            result = errno ? errno : EIO;
            break;
        }
        if (r == 0) break;
        if ((result = write_all(out, buf, size_t(r), &interrupts, dest)) != 0) break;
        copied += r;
        if (cb && rec) {
            rec->percent = uint16_t(size > 0 ? copied * 100 / size : 100);
            if (cb(rec)) {
                result = kStopped;
                break;
            }
        }
    }
    // An empty source still reports its completion.
    if (result == 0 && copied == 0 && cb && rec) {
        rec->percent = 100;
        if (cb(rec)) result = kStopped;
    }
    close_quiet(in);
    if (zv::plat_close(out) != 0 && result == 0) result = errno;
    return result;
}

int copy_with_dirs(const char *source, const char *dest, int options, ZvCopyCallback cb, ZVCOPYPROG *rec) {
    int rc = copy_bytes(source, dest, options, cb, rec);
    if (rc == ENOENT && (options & 1) && dest) {
        int err = 0;
        if (zv::zvchkcrepath(dest, 1, &err) == 0) {
            rc = copy_bytes(source, dest, options, cb, rec);
        } else {
            char msg[320];
            snprintf(msg, sizeof msg, "zvFScopy: Failed to create destination directory for file %.256s", dest);
            zvrcvlog(msg, -199 - err);
        }
    }
    if (rc) {
        set_sys(rc);
        return zv::set_uerr(796);
    }
    return 0;
}

// ---- Handles -------------------------------------------------------------

int alloc_handle(void **out) {
    if (!out) return 540;
    Handle *h = static_cast<Handle *>(mballc(1, sizeof(Handle)));
    *out = h;
    if (!h) return 82;
    h->version = 1;
    return 0;
}

void free_copy_op(void *p) {
    CopyOp *op = static_cast<CopyOp *>(p);
    if (!op) return;
    mbfree(op->sources);
    mbfree(op);
}

void free_temp_op(void *p) {
    TempOp *op = static_cast<TempOp *>(p);
    if (!op) return;
    mbfree(op->names);
    mbfree(op);
}

int free_handle(void *p, void (*free_op)(void *)) {
    Handle *h = static_cast<Handle *>(p);
    if (!h) return 540;
    for (OpLink *l = h->first; l;) {
        OpLink *next = l->next;
        free_op(l->op);
        mbfree(l);
        l = next;
    }
    mbfree(h);
    return 0;
}

// A new operation of `size` bytes at the head of the handle's list.
int add_op(void *p, void **out, size_t size, const char *msg) {
    Handle *h = static_cast<Handle *>(p);
    if (!h || !out) return 540;
    *out = nullptr;
    void *op = mballc(1, size);
    if (!op) {
        report(h, msg, int(size));
        return 82;
    }
    OpLink *l = static_cast<OpLink *>(mballc(1, sizeof(OpLink)));
    if (!l) {
        mbfree(op);
        report(h, msg, int(sizeof(OpLink)));
        return 82;
    }
    *static_cast<int32_t *>(op) = 1;
    l->op = op;
    l->next = h->first;
    if (h->first) h->first->prev = l;
    else h->last = l;
    h->first = l;
    h->count++;
    *out = l;
    return 0;
}

int remove_op(void *p, Handle *h, void (*free_op)(void *)) {
    OpLink *l = static_cast<OpLink *>(p);
    if (!l || !h) return 540;
    if (l->prev) l->prev->next = l->next;
    else h->first = l->next;
    if (l->next) l->next->prev = l->prev;
    else h->last = l->prev;
    h->count--;
    free_op(l->op);
    mbfree(l);
    return 0;
}

// Replaces a name list by a copy of count names of 255 bytes.
int copy_names(Handle *h, char **slot, int32_t count, const char *names, const char *fmt) {
    char *copy = nullptr;
    if (count > 0) {
        size_t bytes = size_t(count) * kNameSlot;
        copy = static_cast<char *>(mballc(1, bytes));
        if (!copy) {
            report(h, fmt, int(bytes));
            return 82;
        }
        memcpy(copy, names, bytes);
    }
    mbfree(*slot);
    *slot = copy;
    return 0;
}

// Bounded copy of a text into a fixed field (NUL-terminated when shorter).
void put_text(char *field, size_t size, const char *text) {
    memset(field, 0, size);
    if (text) memcpy(field, text, strnlen(text, size));
}

// The operations in the order they were added, for the engine that runs
// them: one is passed as it is; several are copied into one array.
template <typename Op>
int run_ops(Handle *h, const char *name, const char *what, const char *allocmsg, int (*engine)(void *, int32_t)) {
    if (!h) return zv::set_uerr(540);
    if (h->count < 1) {
        report(h, "%s: The %s parameter count is %s.", name, what, h->count == 0 ? "zero" : "negative");
        return zv::set_uerr(749);
    }
    if (h->count == 1) return engine(h->first->op, 1);
    size_t bytes = size_t(h->count) * sizeof(Op);
    Op *all = static_cast<Op *>(mballc(1, bytes));
    if (!all) {
        report(h, allocmsg, int(bytes));
        return zv::set_uerr(82);
    }
    int32_t i = 0;
    for (OpLink *l = h->last; l && i < h->count; l = l->prev) memcpy(&all[i++], l->op, sizeof(Op));
    int rc = engine(all, i);
    mbfree(all);
    return rc;
}

CopyOp *copy_op_of(void *link) {
    OpLink *l = static_cast<OpLink *>(link);
    return l ? static_cast<CopyOp *>(l->op) : nullptr;
}

TempOp *temp_op_of(void *link) {
    OpLink *l = static_cast<OpLink *>(link);
    return l ? static_cast<TempOp *>(l->op) : nullptr;
}

}  // namespace

extern "C" {

ZV_API int zvcpyfil(int filno, const char *destination, int32_t bufsize, int flag) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    if (!destination) return zv::set_uerr(540);
    FCB *phys = f->hostfcb ? f->hostfcb : f;
    // Writing the copy over the open file itself would truncate it.
    if (zv_uniqfile(phys->name, destination) == 0) return zv::set_uerr(657);
    if ((f->hdr.base.flmode & 0x01) && !g->cpyshared) return zv::set_uerr(62);
    if (!(f->hdr.base.flmode & kOpnReadOnly)) {
        int rc = iZVFLUSH(filno, 0, 0, nullptr);
        if (rc) return zv::set_uerr(rc < 0 ? -rc : rc);
    }
    if ((f->hdr.base.hdrflags & kHdrSegmented) && f->hdr.ext.segmented > 1) return zv::set_uerr(675);
    if (bufsize <= 0) bufsize = 49152;
    auto *buf = static_cast<unsigned char *>(mballc(1, size_t(bufsize)));
    if (!buf) return zv::set_uerr(82);
    FILE *out = zv::plat_fopen(destination, "wb");
    if (!out) {
        mbfree(buf);
        return zv::set_uerr(657);
    }
    uint32_t szh = 0;
    uint32_t szl = zv::zvfsize81(&szh, phys, phys->fd);
    uint64_t size = (uint64_t(szh) << 32) | szl;
    uint64_t off = 0;
    int rc = 0;
    for (;;) {
        int32_t got = 0;
        int r = izvio81x(0x10, f, uint32_t(off >> 32), uint32_t(off), buf, bufsize, &got, 0);
        if (r && r != 36) {
            rc = r;
            break;
        }
        // The file id (bytes 32 to 35) is cleared wherever a piece holds it.
        if (flag == 0 && got > 0 && off < 36 && off + uint64_t(got) > 32) {
            uint64_t from = off > 32 ? off : 32, to = off + uint64_t(got) < 36 ? off + uint64_t(got) : 36;
            memset(buf + (from - off), 0, size_t(to - from));
        }
        if (got > 0 && fwrite(buf, 1, size_t(got), out) != size_t(got)) {
            rc = 658;
            break;
        }
        off += uint64_t(got);
        if (r == 36 || got == 0) break;
    }
    if (zv::plat_fclose(out) != 0 && rc == 0) rc = 658;
    mbfree(buf);
    if (rc == 0 && szh != 0xFFFFFFFFu && off < size) rc = 659;
    return zv::set_uerr(rc);
}

ZV_API int zvFSgetfilesizefd(int fd, int64_t *size) {
    if (!size) return EINVAL;
    int64_t here = zv::plat_tell(fd);
    if (here < 0) return errno;
    int64_t end = zv::plat_seek(fd, 0, true);
    if (end < 0) return errno;
    if (zv::plat_seek(fd, here, false) < 0) return errno;
    *size = end;
    return 0;
}

ZV_API int zvFSgetfilesize(FILE *stream, int64_t *size) {
    if (!stream) return EINVAL;
    return zvFSgetfilesizefd(fileno(stream), size);
}

ZV_API int zvFSunxcopyXtd(const char *source, const char *dest, int options, ZvCopyCallback cb, ZVCOPYPROG *rec) {
    return copy_bytes(source, dest, options, cb, rec);
}

ZV_API int zvFSunxcopy(const char *source, const char *dest, int options) {
    return copy_bytes(source, dest, options, nullptr, nullptr);
}

ZV_API int zvFScopyXtd(const char *source, const char *dest, int options, ZvCopyCallback cb, ZVCOPYPROG *rec) {
    int rc = copy_with_dirs(source, dest, options, cb, rec);
    if (rc == 0 && (options & 4)) return zv::set_uerr(454);
    return rc;
}

ZV_API int zvFScopy(const char *source, const char *dest, int options) {
    return copy_with_dirs(source, dest, options, nullptr, nullptr);
}

ZV_API int zvfcpAllocateHandle(void **out) { return alloc_handle(out); }
ZV_API int zvtdrAllocateHandle(void **out) { return alloc_handle(out); }
ZV_API int zvfcpFreeHandle(void *h) { return free_handle(h, free_copy_op); }
ZV_API int zvtdrFreeHandle(void *h) { return free_handle(h, free_temp_op); }

ZV_API int zvfcpAddFileCopyOperation(void *h, void **out) {
    int rc = add_op(h, out, sizeof(CopyOp),
                    "zvfcpAddFileCopyOperation: Unable to allocate %d bytes of memory for file copy operation.");
    if (rc == 0) copy_op_of(*out)->owner = static_cast<Handle *>(h);
    return rc;
}

ZV_API int zvtdrAddTempDirOperation(void *h, void **out) {
    int rc = add_op(h, out, sizeof(TempOp),
                    "zvtdrAddTempDirOperation: Unable to allocate %d bytes of memory for temporary directory "
                    "operation.");
    if (rc == 0) temp_op_of(*out)->owner = static_cast<Handle *>(h);
    return rc;
}

ZV_API int zvfcpRemoveFileCopyOperation(void *link) {
    CopyOp *op = copy_op_of(link);
    return remove_op(link, op ? op->owner : nullptr, free_copy_op);
}

ZV_API int zvtdrRemoveTempDirOperation(void *link) {
    TempOp *op = temp_op_of(link);
    return remove_op(link, op ? op->owner : nullptr, free_temp_op);
}

ZV_API int zvfcpSetErrorBuffer(void *p, char *buffer, int32_t size) {
    Handle *h = static_cast<Handle *>(p);
    if (!h) return 540;
    if (size < 0) return 634;
    h->errbuf = buffer;
    h->errsize = size;
    return 0;
}
ZV_API int zvtdrSetErrorBuffer(void *h, char *buffer, int32_t size) { return zvfcpSetErrorBuffer(h, buffer, size); }

ZV_API char *zvfcpGetErrorBuffer(void *p, int *code) {
    Handle *h = static_cast<Handle *>(p);
    if (code) *code = h ? 0 : 540;
    return h ? h->errbuf : nullptr;
}
ZV_API char *zvtdrGetErrorBuffer(void *h, int *code) { return zvfcpGetErrorBuffer(h, code); }

ZV_API int zvfcpSetCallback(void *p, ZvOperationCallback fn, void *argument) {
    Handle *h = static_cast<Handle *>(p);
    if (!h) return 540;
    h->callback = fn;
    h->argument = argument;
    return 0;
}
ZV_API int zvtdrSetCallback(void *h, ZvOperationCallback fn, void *argument) { return zvfcpSetCallback(h, fn, argument); }

ZV_API int zvfcpSetCopyOptions(void *link, int32_t options) {
    CopyOp *op = copy_op_of(link);
    if (!op || !op->owner) return 540;
    op->options = options;
    return 0;
}

ZV_API int zvtdrSetTempDirOptions(void *link, int32_t options) {
    TempOp *op = temp_op_of(link);
    if (!op || !op->owner) return 540;
    op->options = options;
    return 0;
}

ZV_API int zvfcpSetCopyFilenames(void *link, int32_t count, const char *sources, const char *destinations) {
    CopyOp *op = copy_op_of(link);
    if (!op || !op->owner) return 540;
    if (count < 0) return 634;
    if (count > 0 && (!sources || !destinations)) {
        report(op->owner, "zvfcpSetCopyFilenames: The %s pointer is NULL.",
               !destinations ? "destination file name list" : "source file name list");
        return 540;
    }
    // Both lists live in one allocation: sources, then destinations.
    char *both = nullptr;
    size_t bytes = size_t(count) * kNameSlot;
    if (count > 0) {
        both = static_cast<char *>(mballc(2, bytes));
        if (!both) {
            report(op->owner, "zvfcpSetCopyFilenames: Could not allocate %d bytes of memory for file name list.",
                   int(2 * bytes));
            return 82;
        }
        memcpy(both, sources, bytes);
        memcpy(both + bytes, destinations, bytes);
    }
    mbfree(op->sources);
    op->sources = both;
    op->destinations = both ? both + bytes : nullptr;
    op->count = count;
    return 0;
}

ZV_API int zvtdrSetTempDirNames(void *link, int32_t count, const char *names) {
    TempOp *op = temp_op_of(link);
    if (!op || !op->owner) return 540;
    if (count < 0) return 634;
    if (count > 0 && !names) {
        report(op->owner, "zvtdrSetTempDirNames: The temporary directory names pointer is NULL.");
        return 540;
    }
    int rc = copy_names(op->owner, &op->names, count, names,
                        "zvtdrSetTempDirNames: Could not allocate %d bytes of memory for temporary directory name "
                        "list.");
    if (rc == 0) op->count = count;
    return rc;
}

ZV_API int zvfcpSetCopyFilePassword(void *link, const char *text) {
    CopyOp *op = copy_op_of(link);
    if (!op) return 540;
    put_text(op->password, sizeof op->password, text);
    return 0;
}

ZV_API int zvfcpSetServerParameters(void *link, const char *server, const char *user, const char *password) {
    CopyOp *op = copy_op_of(link);
    if (!op) return 540;
    op->server = 1;
    put_text(op->servername, sizeof op->servername, server);
    put_text(op->user, sizeof op->user, user);
    put_text(op->serverpw, sizeof op->serverpw, password);
    return 0;
}

ZV_API int zvfcpCopyFile(void *h) {
    return run_ops<CopyOp>(static_cast<Handle *>(h), "zvfcpCopyFile", "file copy",
                           "zvfcpCopyFile: Could not allocate %d bytes of memory for file copy parameter blocks.",
                           zvCopyFile);
}

ZV_API int zvtdrTempDir(void *h) {
    return run_ops<TempOp>(static_cast<Handle *>(h), "zvtdrTempDir", "temporary directory",
                           "zvtdrTempDir: Could not allocate %d bytes of memory for temporary directory parameter "
                           "blocks.",
                           zvTempDir);
}

}  // extern "C"

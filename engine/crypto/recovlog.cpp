// The recovery log of a master-key change ("CMPRECOV.QVS").
//
// A key change writes the log ahead of every change it makes (each entry is
// forced to disk before the change it covers), so that a crash in the
// middle is undone, or finished, by the replay at the next start-up. The
// first entry's name says which: "undo" until the change commits, "redo"
// after (rewritten in place and forced to disk: the commit point).
//
// Entry layout (words in host order):
//
//   OFFSET SIZE DESCRIPTION
//      0   255  file name, NUL-terminated (at most 254 characters)
//    255     1  entry type (recovlog.h)
//    256     4  word A
//    260     4  word B
//    264     4  data length
//    268     n  data
//
//   type 2  A = position of a security resource, B = its header length;
//           data = old image, new image (halves); undo writes the old one
//           at A + B, redo the new one. A = 0xFFFFFFFF: a transaction-log
//           image, not supported (454).
//   type 3  A, B = lengths of the two contents; data = name of the second
//           file with its NUL, first content, second content; undo puts
//           the first content into the named file, redo the second, and
//           both delete the second file (already gone: no error).
//   type 4  first entry: "undo" or "redo"; A, B = transaction number.
//   type 5  A = flag; undo deletes the named file; redo does nothing.
//   type 6  a key-store change: refused (454).
//
// A replay that reaches the end without error deletes the log (and a
// leftover new verification file) once its writes are on disk.
//
// The log's name is one the engine makes up in the current directory: it is
// written and read without following a symbolic link, without blocking and
// only as a regular file. A replay that finds anything else under the name
// (a link, a FIFO, a directory) passes it over, leaves it as it is and logs
// it.
#include "engine/crypto/recovlog.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "engine/core/bytes.h"
#include "engine/core/fileops.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "engine/core/statuslog.h"
#include "engine/crypto/masterkey.h"
#include "engine/crypto/wipe.h"

namespace zv {

struct RecovCtx {
    int fd;               // the log, -1 until the first write
    unsigned char *buf;   // entry buffer
    uint32_t cap;         // its size
    uint32_t used;        // bytes of the entry (header and data)
    char *msg;            // caller's message buffer
    int32_t msgsize;
    char log[256];        // the log's name after conversion
    char newmaster[256];  // the new verification file's
};

namespace {

constexpr uint32_t kInitialBuffer = 272;
bool g_delete_mark = false;
bool g_logging = true;

void say(char *msg, int32_t size, const char *fmt, va_list ap) {
    if (msg && size > 0) vsnprintf(msg, size_t(size), fmt, ap);
}

int fail(RecovCtx *c, int rc, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
int fail(RecovCtx *c, int rc, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    if (c) say(c->msg, c->msgsize, fmt, ap);
    va_end(ap);
    return rc;
}

// Field access of the entry buffer.
int8_t type_of(const unsigned char *e) { return int8_t(e[255]); }
void set_type(unsigned char *e, int8_t t) { e[255] = uint8_t(t); }
uint32_t word(const unsigned char *e, int off) { return host::get32(e + off); }
void set_word(unsigned char *e, int off, uint32_t v) { host::put32(e + off, v); }
uint32_t data_len(const unsigned char *e) { return word(e, 264); }

// Grows the entry buffer to at least n bytes: false when memory ran out.
bool grow(unsigned char *&buf, uint32_t &cap, uint64_t n) {
    if (n <= cap) return true;
    if (n > UINT32_MAX) return false;
    auto *nb = static_cast<unsigned char *>(mballc(1, size_t(n)));
    if (!nb) return false;
    if (buf) {
        memcpy(nb, buf, cap);
        secure_zero(buf, cap);
        mbfree(buf);
    }
    buf = nb;
    cap = uint32_t(n);
    return true;
}

// Writes all n bytes at the descriptor's position: 0 or the errno.
int write_all(int fd, const void *p, size_t n) {
    errno = 0;
    int64_t w = plat_write(fd, p, n);
    if (w == int64_t(n)) return 0;
    return errno ? errno : EIO;
}

int read_all(int fd, void *p, size_t n) {
    errno = 0;
    int64_t r = plat_read(fd, p, n);
    if (r == int64_t(n)) return 0;
    return errno ? errno : EIO;
}

// Writes n bytes at the log's position and forces them to disk: 0, 37 or
// 49 with a message naming the routine `who`.
int put_and_sync(RecovCtx *c, const char *who, const void *p, uint32_t n) {
    if (int e = write_all(c->fd, p, n))
        return fail(c, 37, "%s: could not write to encryption key change recovery log file; system error %d", who, e);
    if (plat_fsync(c->fd) != 0)
        return fail(c, 49, "%s: could not flush encryption key change recovery log file; system error %d", who, errno);
    return 0;
}

// Whether the name field holds a NUL within its 255 bytes.
bool name_ok(const unsigned char *e) { return memchr(e, 0, kRecName) != nullptr; }
const char *name_of(const unsigned char *e) { return reinterpret_cast<const char *>(e); }

// A file's name as the engine opens it (conversion mode 3).
bool engine_name(const char *name, char (&out)[256]) {
    size_t n = strnlen(name, 256);
    if (n > 255) return false;
    memcpy(out, name, n + 1);
    if (zvWNGV && zvWNGV->nameconv == 3 && zvcnvfn(out) > 0) return false;
    return true;
}

// Reads a whole file into a new buffer (*len bytes): 0 or an error with a
// message; with missing_ok a missing file is empty.
int read_whole(RecovCtx *c, const char *name, unsigned char **out, uint32_t *len, bool missing_ok) {
    *out = nullptr;
    *len = 0;
    int fd = plat_open(name, OpenHow::ReadOnly, 0);
    if (fd < 0) {
        if (missing_ok && (errno == ENOENT || errno == ENOTDIR)) return 0;
        return fail(c, 12, "zvcmprecovSaveFile: Could not open file %s for read access; system error %d", name, errno);
    }
    int64_t size = plat_seek(fd, 0, true);
    if (size < 0 || size > int64_t(UINT32_MAX / 4)) {
        int e = size < 0 ? errno : EFBIG;
        plat_close(fd);
        return fail(c, 35, "zvcmprecovSaveFile: Could not get size of file %s; system error %d", name, e);
    }
    if (plat_seek(fd, 0, false) != 0) {
        int e = errno;
        plat_close(fd);
        return fail(c, 35, "zvcmprecovSaveFile: Could not seek to start of file %s; system error %d", name, e);
    }
    auto *buf = static_cast<unsigned char *>(mballc(1, size_t(size) + 1));
    if (!buf) {
        plat_close(fd);
        return fail(c, 82, "zvcmprecovSaveFile: Could not allocate %d byte(s) for file %s; system error %d",
                    int(size), name, ENOMEM);
    }
    int e = size ? read_all(int(fd), buf, size_t(size)) : 0;
    plat_close(fd);
    if (e) {
        mbfree(buf);
        return fail(c, 36, "zvcmprecovSaveFile: Could not read %d byte(s) from file %s; system error %d", int(size),
                    name, e);
    }
    *out = buf;
    *len = uint32_t(size);
    return 0;
}

void free_bytes(unsigned char *p, uint32_t n) {
    if (!p) return;
    secure_zero(p, n);
    mbfree(p);
}

// Puts content into a file (made when missing), forced to disk. A file
// that refuses writing gets owner write permission for the time of it.
int restore_file(const char *name, const unsigned char *data, uint32_t len, char *msg, int32_t size) {
    auto note = [&](int rc, const char *fmt, int e) {
        if (msg && size > 0) snprintf(msg, size_t(size), fmt, name, e);
        return rc;
    };
    int fd = plat_open(name, OpenHow::WriteCreate, 0600);
    PlatStat st{};
    bool changed = false;
    if (fd < 0 && errno == EACCES && plat_stat(name, &st) == 0 && plat_chmod(name, int(st.mode | 0200)) == 0) {
        changed = true;
        fd = plat_open(name, OpenHow::WriteCreate, 0600);
    }
    int rc = 0;
    if (fd < 0) {
        rc = note(12, "zvcmprecovRestoreFile: Could not open file %s for write access; system error %d", errno);
    } else {
        int e = len ? write_all(fd, data, len) : 0;
        if (!e && plat_fsync(fd) != 0) e = errno ? errno : EIO;
        plat_close(fd);
        if (e) rc = note(37, "zvcmprecovRestoreFile: Could not write to file %s; system error %d", e);
    }
    if (changed) plat_chmod(name, int(st.mode));
    return rc;
}

// Deletes a file; one that is already gone is no error.
int remove_file(const char *name) {
    if (plat_unlink(name) == 0 || errno == ENOENT || errno == ENOTDIR) return 0;
    return errno;
}

// Replays one type-3 entry.
int replay_files(const unsigned char *e, bool undo, char *msg, int32_t size) {
    const char *target = name_of(e);
    uint32_t a = word(e, 256), b = word(e, 260), n = data_len(e);
    const unsigned char *d = e + kRecHeader;
    const void *nul = memchr(d, 0, n < kRecName ? n : kRecName);
    uint64_t need = nul ? uint64_t(static_cast<const unsigned char *>(nul) - d) + 1 + a + b : 0;
    if (!nul || need != n) {
        if (msg && size > 0)
            snprintf(msg, size_t(size), "zvcmprecovRestoreFile: log entry for file %s is damaged; contents=%d", target,
                     int(type_of(e)));
        return 749;
    }
    const char *second = reinterpret_cast<const char *>(d);
    const unsigned char *first_data = static_cast<const unsigned char *>(nul) + 1;
    int rc;
    if (undo && a == 0) {
        // The named file did not exist before the change.
        int err = remove_file(target);
        rc = err ? 12 : 0;
        if (rc && msg && size > 0)
            snprintf(msg, size_t(size), "zvcmprecovRestoreFile: Could not delete file %s; system error %d", target, err);
    } else {
        rc = undo ? restore_file(target, first_data, a, msg, size)
                  : restore_file(target, first_data + a, b, msg, size);
    }
    if (rc) return rc;
    if (int err = remove_file(second)) {
        if (msg && size > 0)
            snprintf(msg, size_t(size), "zvcmprecovRestoreFile: Could not delete file %s; system error %d", second, err);
        return 12;
    }
    return 0;
}

// The outcome of a replay: the first error noted (its message kept) and
// whether the replay must stop.
struct Notes {
    int first;
    bool stop;
    char *msg;
    int32_t size;
};

void note(Notes &nt, int rc, bool fatal, const char *fmt, ...) __attribute__((format(printf, 4, 5)));
void note(Notes &nt, int rc, bool fatal, const char *fmt, ...) {
    if (!nt.first) {
        nt.first = rc;
        va_list ap;
        va_start(ap, fmt);
        say(nt.msg, nt.size, fmt, ap);
        va_end(ap);
    }
    if (fatal) nt.stop = true;
}

}  // namespace

void recov_names(char *log, char *newmaster) {
    snprintf(log, 256, "%s", kRecovLog);
    snprintf(newmaster, 256, "%s", kNewMasterFile);
    zvcnvfn(log);
    zvcnvfn(newmaster);
}

int zvcmprecovInit(RecovCtx **out, char *msg, int32_t size) {
    if (!out) {
        if (msg && size > 0) snprintf(msg, size_t(size), "zvcmprecovInit: null pointer");
        return 540;
    }
    *out = nullptr;
    auto *c = static_cast<RecovCtx *>(mballc(1, sizeof(RecovCtx)));
    unsigned char *buf = static_cast<unsigned char *>(mballc(1, kInitialBuffer));
    if (!c || !buf) {
        mbfree(c);
        mbfree(buf);
        if (msg && size > 0) snprintf(msg, size_t(size), "zvcmprecovInit: failed to allocate memory");
        return 82;
    }
    c->fd = -1;
    c->buf = buf;
    c->cap = kInitialBuffer;
    c->msg = msg;
    c->msgsize = size;
    recov_names(c->log, c->newmaster);
    *out = c;
    return 0;
}

int zvcmprecovResetBuffer(RecovCtx *c) {
    if (!c || !c->buf) return 540;
    set_type(c->buf, 0);
    set_word(c->buf, 256, 0);
    set_word(c->buf, 260, 0);
    set_word(c->buf, 264, 0);
    c->used = 0;
    return 0;
}

int zvcmprecovSetFileName(RecovCtx *c, const char *name) {
    if (!c) return 540;
    if (!name) return fail(c, 540, "zvcmprecovSetFileName: null file name parameter");
    if (!c->buf || c->cap <= kRecHeader + 3)
        return fail(c, 749, "zvcmprecovSetFileName: log buffer not allocated to log entry header size");
    size_t n = strnlen(name, kRecName);
    if (n >= kRecName) return fail(c, 153, "zvcmprecovSetFileName: file name is too long for log buffer header");
    memset(c->buf, 0, kRecName);
    memcpy(c->buf, name, n);
    if (c->used == 0) c->used = kRecHeader;
    return 0;
}

int zvcmprecovSetOffset(RecovCtx *c, uint32_t a, uint32_t b) {
    if (!c) return 540;
    if (!c->buf || c->cap <= kRecHeader + 3)
        return fail(c, 749, "zvcmprecovSetOffset: log buffer not allocated to log entry header size");
    set_word(c->buf, 256, a);
    set_word(c->buf, 260, b);
    return 0;
}

int zvcmprecovSetImage(RecovCtx *c, const void *image, uint32_t len, int which) {
    if (!c) return 540;
    if (!image) return fail(c, 540, "zvcmprecovSetImage: null image pointer");
    uint64_t need = 2 * uint64_t(len) + kInitialBuffer;
    if (!grow(c->buf, c->cap, need))
        return fail(c, 82, "zvcmprecovSetImage: failed to allocate %d byte(s) for log buffer", int(need));
    int8_t t = type_of(c->buf);
    if (which == 0) {
        if (t != 0)
            fail(c, 0, "zvcmprecovSetImage: attempting to set old image but log buffer contains unexpected contents=%d",
                 int(t));
        memcpy(c->buf + kRecHeader, image, len);
        set_type(c->buf, kRecOldImage);
        set_word(c->buf, 264, len);
    } else {
        if (t != kRecOldImage)
            return fail(c, 446,
                        "zvcmprecovSetImage: attempting to set new image but log buffer contains unexpected contents=%d",
                        int(t));
        if (len != data_len(c->buf))
            return fail(c, 749,
                        "zvcmprecovSetImage: attempting to set new image but image length %d differs from log buffer "
                        "length %d",
                        int(len), int(data_len(c->buf)));
        memcpy(c->buf + kRecHeader + len, image, len);
        set_type(c->buf, kRecKeyBlock);
        set_word(c->buf, 264, 2 * len);
    }
    c->used = kRecHeader + data_len(c->buf);
    return 0;
}

int zvcmprecovAppendData(RecovCtx *c, const void *data, uint32_t len) {
    if (!c) return 540;
    if (!data) return fail(c, 540, "zvcmprecovAppendData: null data pointer");
    uint64_t at = uint64_t(kRecHeader) + data_len(c->buf);
    if (at + len > UINT32_MAX || !grow(c->buf, c->cap, at + len))
        return fail(c, 82, "zvcmprecovAppendData: failed to allocate %d byte(s)", int(at + len));
    memcpy(c->buf + at, data, len);
    set_word(c->buf, 264, uint32_t(at + len - kRecHeader));
    c->used = uint32_t(at + len);
    return 0;
}

int zvcmprecovWriteLog(RecovCtx *c) {
    if (!c) return 540;
    if (!c->buf) return fail(c, 540, "zvcmprecovWriteLog: log buffer not allocated");
    if (c->fd < 0) {
        c->fd = plat_open(c->log, OpenHow::FoundWriteCreate, 0600);
        if (c->fd < 0)
            return fail(c, 17, "zvcmprecovWriteLog: could not open file %s for write access; system error %d", c->log,
                        errno);
    }
    if (int rc = put_and_sync(c, "zvcmprecovWriteLog", c->buf, kRecHeader + data_len(c->buf))) return rc;
    secure_zero(c->buf + kRecHeader, data_len(c->buf));
    return zvcmprecovResetBuffer(c);
}

int zvcmprecovSaveTranno(RecovCtx *c, uint64_t tranno) {
    if (int rc = zvcmprecovResetBuffer(c)) return rc;
    set_word(c->buf, 256, uint32_t(tranno >> 32));
    set_word(c->buf, 260, uint32_t(tranno));
    set_type(c->buf, kRecTranno);
    return zvcmprecovWriteLog(c);
}

int zvcmprecovSaveKeyChange(RecovCtx *c, const char *pw, int32_t len) {
    if (!c) return 540;
    if (int rc = create_master_file(pw, len, c->newmaster, c->msg, 32, c->msgsize)) return rc;
    if (int rc = zvcmprecovResetBuffer(c)) return rc;
    if (int rc = zvcmprecovSetFileName(c, kNewMasterFile)) return rc;
    set_type(c->buf, kRecKeyStore);
    return zvcmprecovWriteLog(c);
}

int zvcmprecovSaveFile(RecovCtx *c, const char *first, const char *second, bool missing_ok) {
    if (!c) return 540;
    if (!first || !second) return fail(c, 540, "zvcmprecovSaveFile: null parameter");
    unsigned char *d1 = nullptr, *d2 = nullptr;
    uint32_t n1 = 0, n2 = 0;
    int rc = read_whole(c, first, &d1, &n1, missing_ok);
    if (!rc) rc = read_whole(c, second, &d2, &n2, false);
    if (!rc) rc = zvcmprecovResetBuffer(c);
    if (!rc) rc = zvcmprecovSetFileName(c, first);
    if (!rc) rc = zvcmprecovSetOffset(c, n1, n2);
    if (!rc) rc = zvcmprecovAppendData(c, second, uint32_t(strlen(second) + 1));
    if (!rc && n1) rc = zvcmprecovAppendData(c, d1, n1);
    if (!rc && n2) rc = zvcmprecovAppendData(c, d2, n2);
    free_bytes(d1, n1);
    free_bytes(d2, n2);
    if (rc) return rc;
    set_type(c->buf, kRecFiles);
    return zvcmprecovWriteLog(c);
}

int zvcmprecovSaveDelete(RecovCtx *c, int flag, const char *name) {
    if (!c) return 540;
    if (!name) return fail(c, 540, "zvcmprecovSaveFile: null parameter");
    if (int rc = zvcmprecovResetBuffer(c)) return rc;
    if (int rc = zvcmprecovSetFileName(c, name)) return rc;
    set_word(c->buf, 256, uint32_t(flag));
    set_type(c->buf, kRecDelete);
    return zvcmprecovWriteLog(c);
}

int zvcmprecovSetStatus(RecovCtx *c, const char *status) {
    if (!c || !status) return 540;
    if (c->fd < 0) return fail(c, 540, "zvcmprecovSetStatus: recovery log not written");
    char field[kRecName] = {};
    snprintf(field, sizeof field, "%s", status);
    if (plat_seek(c->fd, 0, false) != 0)
        return fail(c, 37, "zvcmprecovSetStatus: could not write to encryption key change recovery log file; system "
                           "error %d",
                    errno);
    int rc = put_and_sync(c, "zvcmprecovSetStatus", field, sizeof field);
    plat_seek(c->fd, 0, true);
    return rc;
}

void zvcmprecovFree(RecovCtx **cp, int del) {
    if (!cp || !*cp) return;
    RecovCtx *c = *cp;
    if (c->fd >= 0) {
        if (!del) plat_fsync(c->fd);
        plat_close(c->fd);
        if (del) g_delete_mark = true;
    }
    free_bytes(c->buf, c->cap);
    mbfree(c);
    *cp = nullptr;
}

void zvcmprecovFinish() {
    if (!g_delete_mark) return;
    char log[256], newmaster[256];
    recov_names(log, newmaster);
    plat_unlink(log);
    plat_unlink(newmaster);
    g_delete_mark = false;
}

int recov_put_image(const char *name, uint64_t at, const void *image, uint32_t len, char *msg, int32_t size) {
    char path[256];
    int fd = engine_name(name, path) ? plat_open(path, OpenHow::ReadWrite, 0) : -1;
    if (fd < 0) {
        if (msg && size > 0) snprintf(msg, size_t(size), "zvcmprecovOpenFile: could not open file %s", name);
        return 749;
    }
    bool ok = at <= uint64_t(INT64_MAX) && plat_seek(fd, int64_t(at), false) == int64_t(at) &&
              write_all(fd, image, len) == 0 && plat_fsync(fd) == 0;
    bool closed = plat_close(fd) == 0;
    if (!ok || !closed) {
        if (msg && size > 0)
            snprintf(msg, size_t(size), ok ? "zvcmprecovCloseFile: error closing file %s"
                                           : "zvcmprecovWriteFile: failed to write to file %s",
                     name);
        return 749;
    }
    return 0;
}

int zvcmprecovReplay(char *msg, int32_t size) {
    char log[256], newmaster[256];
    recov_names(log, newmaster);
    int fd = plat_open(log, OpenHow::FoundRead, 0);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return 0;
        if (errno == ELOOP || errno == EINVAL) {
            // A link, a FIFO, a directory under the log's name: no log of a
            // key change, left as it is.
            const int err = errno;
            zvrcvlog("Key change: the recovery log is passed over, it is a link or no file:", kLogSingleTry - err);
            zvrcvlog(log, kLogSingleTry);
            return 0;
        }
        if (msg && size > 0)
            snprintf(msg, size_t(size),
                     "zvcmprecovRecover: Could not open encryption key change recovery log; system error %d", errno);
        return 12;
    }
    int64_t end = plat_seek(fd, 0, true);
    Notes nt{0, false, msg, size};
    unsigned char *buf = static_cast<unsigned char *>(mballc(1, kInitialBuffer));
    uint32_t cap = buf ? kInitialBuffer : 0;
    if (!buf) note(nt, 82, true, "zvcmprecovRecover: Could not allocate %d bytes for encryption key change recovery log "
                             "entry",
                   int(kInitialBuffer));
    if (!nt.stop && end < 0) note(nt, 36, true, "zvcmprecovRecover: Could not read transaction number from encryption key "
                                         "change recovery log; offset=%d; system error %d",
                               0, errno);
    bool undo = true;
    uint64_t off = 0;
    if (!nt.stop && end > 0) {
        plat_seek(fd, 0, false);
        if (int e = uint64_t(end) < kRecHeader ? EIO : read_all(fd, buf, kRecHeader)) {
            note(nt, 36, true, "zvcmprecovRecover: Could not read transaction number from encryption key change recovery "
                           "log; offset=%d; system error %d",
                 0, e);
        } else if (name_ok(buf) && (!strcmp(name_of(buf), "undo") || !strcmp(name_of(buf), "redo"))) {
            undo = strcmp(name_of(buf), "undo") == 0;
            off = kRecHeader + uint64_t(data_len(buf));
            if (off > uint64_t(end))
                note(nt, 36, true, "zvcmprecovRecover: Could not read log entry data from encryption key change recovery "
                               "log entry; offset=%d; contents=%d; system error %d",
                     0, int(type_of(buf)), EIO);
        } else {
            note(nt, 749, true, "zvcmprecovRecover: Unexpected undo/redo status in encryption key change recovery log");
        }
    }
    while (!nt.stop && end > 0 && off < uint64_t(end)) {
        int e = plat_seek(fd, int64_t(off), false) == int64_t(off) ? 0 : errno;
        if (!e) e = uint64_t(end) - off < kRecHeader ? EIO : read_all(fd, buf, kRecHeader);
        if (e) {
            note(nt, 36, true, "zvcmprecovRecover: Could not read log entry header from encryption key change recovery "
                           "log; offset=%d; system error %d",
                 int(off), e);
            break;
        }
        int8_t t = type_of(buf);
        uint32_t n = data_len(buf);
        if (uint64_t(end) - off - kRecHeader < n) {
            note(nt, 36, true, "zvcmprecovRecover: Could not read log entry data from encryption key change recovery log "
                           "entry; offset=%d; contents=%d; system error %d",
                 int(off), int(t), EIO);
            break;
        }
        if (!grow(buf, cap, uint64_t(kRecHeader) + n)) {
            note(nt, 82, true, "zvcmprecovRecover: Could not allocate %d bytes for encryption key change recovery log "
                           "entry",
                 int(kRecHeader + n));
            break;
        }
        if (n && (e = read_all(fd, buf + kRecHeader, n))) {
            note(nt, 36, true, "zvcmprecovRecover: Could not read log entry data from encryption key change recovery log "
                           "entry; offset=%d; contents=%d; system error %d",
                 int(off), int(t), e);
            break;
        }
        if (!name_ok(buf)) {
            note(nt, 749, true, "zvcmprecovRecover: log entry name is not terminated; offset=%d", int(off));
            break;
        }
        char emsg[300] = {};
        switch (t) {
        case kRecKeyBlock: {
            uint32_t a = word(buf, 256), b = word(buf, 260);
            if (a == kRecTranLogImage) {
                note(nt, 454, true, "zvcmprecovRecoverTransactionLog: This function is not supported because this library "
                                "does not support transaction control");
            } else if (n == 0 || n % 2) {
                note(nt, 749, true, "zvcmprecovWriteFile: log entry for file %s is missing %s image; contents=%d",
                     name_of(buf), undo ? "old" : "new", int(t));
            } else if (int rc = recov_put_image(name_of(buf), uint64_t(a) + b, buf + kRecHeader + (undo ? 0 : n / 2),
                                                n / 2, emsg, sizeof emsg)) {
                note(nt, rc, true, "%s", emsg);
            }
            break;
        }
        case kRecFiles:
            if (int rc = replay_files(buf, undo, emsg, sizeof emsg)) note(nt, rc, true, "%s", emsg);
            break;
        case kRecTranno:
            break;
        case kRecDelete:
            if (undo) {
                char path[256];
                int err = engine_name(name_of(buf), path) ? remove_file(path) : ENAMETOOLONG;
                if (err) note(nt, 55, false, "zvcmprecovRecover: Could not delete file %s; system error %d", name_of(buf), err);
            }
            break;
        case kRecKeyStore:
            note(nt, 454, false, "zvcmprecovRecover: encryption key change recovery log entry requires AWS key store "
                             "support; offset=%d; contents=%d",
                 int(off), int(t));
            break;
        default:
            note(nt, 446, false, "zvcmprecovRecover: Unexpected recovery log entry contents %d", int(t));
            break;
        }
        off += kRecHeader + uint64_t(n);
    }
    plat_close(fd);
    free_bytes(buf, cap);
    if (!nt.first) {
        // Every write of the replay is on disk: the log has done its work.
        plat_unlink(log);
        remove_file(newmaster);
    }
    return nt.first;
}

void recov_set_logging(bool on) { g_logging = on; }
bool recov_logging() { return g_logging; }

}  // namespace zv

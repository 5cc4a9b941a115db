// TEMPORARY stand-in of the platform file I/O for developing the cache.
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include "engine/core/fileio.h"
#include "engine/core/instance.h"
#include "engine/core/arith.h"
#include "engine/files/fcb.h"
extern "C" {
int mbopen(FCB *, const char *path, uint16_t mode) { return open(path, (mode & 8) ? O_RDONLY : O_RDWR); }
int mbcratx(FCB *, const char *path) { int fd = open(path, O_RDWR|O_CREAT|O_EXCL, 0660); if (fd < 0 && errno == EEXIST) zv::set_uerr(19); return fd; }
int mbclosx(FCB *f, int fd) { int r = close(fd); if (f && f->fd == fd) f->fd = -1; return r; }
int dltfil(const char *name) { return unlink(name) ? 55 : 0; }
int zvsysio81(int mode, FCB *f, int, uint32_t hi, uint32_t lo, void *buf, int32_t len, int32_t *count) {
  off_t off = off_t(zv::join64(hi, lo)); ssize_t n;
  if (mode & 1) { uint64_t last = zv::join64(hi, lo) + uint64_t(len) - 1; if (last > zv::join64(f->hwoffh, f->hwoffl)) zv::split64(last, &f->hwoffh, &f->hwoffl);
    n = pwrite(f->fd, buf, size_t(len), off); if (n != len) { *count = n < 0 ? 0 : int32_t(n); zvWNGV->sysiocod = uint16_t(errno); return 37; } }
  else { n = pread(f->fd, buf, size_t(len), off); if (n != len) { *count = n < 0 ? 0 : int32_t(n); return 36; } }
  *count = len; return 0;
}
uint32_t zvfsize81(uint32_t *hi, FCB *, int fd) { off_t e = lseek(fd, 0, SEEK_END); if (hi) *hi = uint32_t(uint64_t(e) >> 32); return uint32_t(e); }
uint32_t zvgsize81(uint32_t *hi, FCB *f) { return zvfsize81(hi, f, f->fd); }
int zvfpglok81(int fd, FCB *, uint32_t, uint32_t lo, uint32_t len, int mode) {
  struct flock fl{}; fl.l_type = mode == 4 ? F_UNLCK : F_WRLCK; fl.l_whence = SEEK_SET; fl.l_start = lo; fl.l_len = len;
  return fcntl(fd, F_SETLK, &fl) ? errno : 0; }
}

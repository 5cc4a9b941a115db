// TEMPORARY stand-in of the platform file I/O for developing the cache.
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include "engine/core/fileio.h"
#include "engine/core/instance.h"
#include "engine/core/arith.h"
#include "engine/files/fcb.h"
extern "C" {
int mbopen(FCB *, const char *path, uint16_t mode) { zvWNGV->sysiocod = 0; int fd = open(path, (mode & 8) ? O_RDONLY : O_RDWR); if (fd < 0) zvWNGV->sysiocod = uint16_t(errno); return fd; }
int mbcratx(FCB *, const char *path) { zvWNGV->sysiocod = 0; int fd = open(path, O_RDWR|O_CREAT|O_EXCL, 0660); if (fd < 0) { zvWNGV->sysiocod = uint16_t(errno); zv::set_uerr(errno == EEXIST ? 19 : -1); } return fd; }
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
int zvseek81(int fd, uint32_t hi, uint32_t lo) { if (lseek(fd, off_t(zv::join64(hi, lo)), SEEK_SET) < 0) { zvWNGV->sysiocod = uint16_t(errno); return 35; } return 0; }
int zvsave(FCB *f) { if (f && f->hostfcb && f->hostfcb != f) f = f->hostfcb; if (!f || f->fd < 0) return 0; if (fsync(f->fd)) return zv::set_uerr(49); return 0; }
static uint32_t g_fileid = 1;
void zvsetlog(FILEHDR *h) { h->fileid = g_fileid++; h->servid = 0; h->cretime = uint32_t(time(nullptr)); }
uint32_t zvsetextsiz(FCB *f, uint32_t req, uint32_t node) { if (f->hdr.ext.extsiz32) return 0; if (req > node && req > 16383) return req; if (node <= 2048) return 16384; if (node > 32768) return node; return 32768; }
int zvhdradj(FCB *f) { bool w = f->hdr.base.hdrflags & 0x40; if (f->hdr.base.sfiltyp == 0) { f->rhdrsize1 = (f->hdr.base.flmode & 4) ? 10 : 0; f->rhdrsize2 = w ? 30 : 22; } else { f->rhdrsize1 = w ? 22 : 18; f->rhdrsize2 = w ? 30 : 22; } return int(f->rhdrsize1); }
}
namespace zv {
int plat_mkdir(const char *path, int mode) { return mkdir(path, mode_t(mode)); }
int plat_isdir(const char *path) { struct stat st; if (stat(path, &st)) return errno == ENOENT ? 0 : -1; return S_ISDIR(st.st_mode) ? 1 : 0; }
}

// PROVISIONAL: platform file I/O interface (replaced by the platform module).
#pragma once
#include <cstdint>
struct FCB;
struct FILEHDR;
extern "C" {
int mbopen(FCB *fcb, const char *path, uint16_t mode);
int zvsysio81(int mode, FCB *fcb, int reserved, uint32_t hi, uint32_t lo, void *buf, int32_t len, int32_t *count);
uint32_t zvfsize81(uint32_t *hi, FCB *fcb, int fd);
uint32_t zvgsize81(uint32_t *hi, FCB *fcb);
int zvfpglok81(int fd, FCB *fcb, uint32_t hi, uint32_t lo, uint32_t len, int mode);
int mbclosx(FCB *fcb, int fd);
int mbcratx(FCB *fcb, const char *path);
int dltfil(const char *name);
// PROVISIONAL: further platform and start-up services the file layer uses.
int zvseek81(int fd, uint32_t hi, uint32_t lo);
int zvsave(FCB *fcb);
int zvfree(void);
int redofils(int n);
void zvsetlog(FILEHDR *hdr);
uint32_t zvsetextsiz(FCB *fcb, uint32_t requested, uint32_t nodesize);
int zvhdradj(FCB *fcb);
}
namespace zv {
int plat_mkdir(const char *path, int mode);
// 1 when path names a directory, 0 when nothing is there, -1 (errno) otherwise.
int plat_isdir(const char *path);
}

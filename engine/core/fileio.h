// PROVISIONAL: platform file I/O interface (replaced by the platform module).
#pragma once
#include <cstdint>
struct FCB;
extern "C" {
int mbopen(FCB *fcb, const char *path, uint16_t mode);
int zvsysio81(int mode, FCB *fcb, int reserved, uint32_t hi, uint32_t lo, void *buf, int32_t len, int32_t *count);
uint32_t zvfsize81(uint32_t *hi, FCB *fcb, int fd);
uint32_t zvgsize81(uint32_t *hi, FCB *fcb);
int zvfpglok81(int fd, FCB *fcb, uint32_t hi, uint32_t lo, uint32_t len, int mode);
int mbclosx(FCB *fcb, int fd);
int mbcratx(FCB *fcb, const char *path);
int dltfil(const char *name);
}

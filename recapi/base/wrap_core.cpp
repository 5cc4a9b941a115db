// Wrappers of the engine's instance registry, configuration, operation
// modes, file numbers and file attributes (see wrappers.h).
#include "recapi/base/wrappers.h"

namespace {

zv::WrapCounts g_counts{};

// Whether an engine instance is current.
bool instance_current() { return WCHZARVO() != nullptr; }

// GETFIL with the rule of its readers: only -1 with an error set fails
// (an attribute may well be 0xFFFFFFFF, or negative as a 32-bit value).
int getfil(int file, int mode, int64_t *value) {
    int32_t low = GETFIL(file, mode);
    uint32_t high = uint32_t(zvGETHGH());
    if (low == -1) {
        int rc = zv::instance_uerr();
        if (rc != 0) return rc;
    }
    *value = int64_t((uint64_t(high) << 32) | uint32_t(low));
    return 0;
}

}  // namespace

namespace zv {

int instance_uerr() { return instance_current() ? zvGetUserErrorCode() : -1; }
int instance_isamerr() { return instance_current() ? zvGetIsamErrorCode() : -1; }
int instance_sysio() { return instance_current() ? int16_t(zvGetSystemErrorCode()) : -1; }
int instance_isamfil() { return instance_current() ? zvGetIsamFileNbr() : -1; }

const WrapCounts &wrap_counts() { return g_counts; }

}  // namespace zv

extern "C" {

int _zvdbREGZARVO(const char *name) { return name ? REGZARVO(name) : 0; }

int _zvdbUNRZARVO(const char *name) { return name ? UNRZARVO(name) : 0; }

int _zvdbSWTZARVO(const char *name) {
    g_counts.swtzarvo++;
    return SWTZARVO(name);
}

const char *_zvdbWCHZARVO(void) { return WCHZARVO(); }

int _zvdbSYSCFG(int32_t *record) {
    g_counts.syscfg++;
    return SYSCFG(record);
}

int _zvdbSETOPS(int32_t bits, int32_t action, int32_t *mode) {
    g_counts.setops++;
    int32_t word = SETOPS(bits, action);
    int rc = zv::instance_uerr();
    if (rc == 0 && mode) *mode = word;
    return rc;
}

int _zvdbLKISAM(int mode) {
    g_counts.lkisam_log[g_counts.lkisam++ % 16] = mode;
    return LKISAM(mode);
}

int _zvdbTRANISO(int) { return 0; }

int _zvdbAVLFILNBR(int count, int *first) {
    int n = AVLFILNUM(count);
    if (n < 0) return zv::instance_uerr();
    if (first) *first = n;
    return 0;
}

int _zvdbGETFIL(int file, int mode, int64_t *value) {
    int64_t v;
    int rc = getfil(file, mode, &v);
    if (rc == 0 && value) *value = v;
    return rc;
}

int _zvdbISHUGEFILE(int file) {
    int64_t v;
    return getfil(file, 26, &v) == 0 && (v & 0x40) ? 1 : 0;
}

int _zvdbPartKeyNo(int file) {
    int64_t flags, key;
    if (getfil(file, 33, &flags) != 0 || !(flags & 0xC00000)) return -1;
    return getfil(file, 30, &key) == 0 ? int32_t(key) : -1;
}

int _zvdbGetFLMOD3(int file, int *out1, int *out2, int *out3, int *out4) {
    int64_t v;
    if (int rc = getfil(file, 34, &v)) return rc;
    if (out1) *out1 = (v & 0x200) ? 1 : 0;
    if (out2) *out2 = (v & 0x400) ? 1 : 0;
    if (out3) *out3 = (v & 0x2000) ? 1 : 0;
    if (out4) *out4 = 0;
    return 0;
}

}  // extern "C"

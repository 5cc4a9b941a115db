// The road of the cryptographic primitives, chosen when the library loads.
#include "engine/crypto/road.h"

#include <cpuid.h>

namespace zv {

namespace {

// The register state the operating system saves across switches (XCR0);
// without XSAVE only the legacy area, which holds the SSE registers.
unsigned os_saved_state(unsigned ecx1) {
    constexpr unsigned kOsxsave = 1u << 27;
    if (!(ecx1 & kOsxsave)) return 0x3;
    unsigned lo, hi;
    __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return lo;
}

CryptoRoad detect() {
    CryptoRoad r{false, false, false, false};
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return r;
    const unsigned ecx1 = c;
    const bool ssse3 = ecx1 & (1u << 9), sse41 = ecx1 & (1u << 19);
    const bool aesni = ecx1 & (1u << 25), pclmul = ecx1 & (1u << 1);
    bool sha = false, vaes = false, avx512 = false;
    if (__get_cpuid_count(7, 0, &a, &b, &c, &d)) {
        sha = b & (1u << 29);
        avx512 = (b & (1u << 16)) && (b & (1u << 30));  // F and BW
        vaes = c & (1u << 9);
    }
    const unsigned saved = os_saved_state(ecx1);
    if (!(saved & 0x2)) return r;
    const bool zmm_saved = (saved & 0xE6) == 0xE6;  // SSE, AVX, opmask and both halves of the zmm registers
    r.aes = aesni && ssse3 && sse41;
    r.wide = r.aes && vaes && avx512 && zmm_saved;
    r.sha = sha && ssse3 && sse41;
    r.clmul = pclmul && sse41;
    return r;
}

}  // namespace

CryptoRoad g_crypto_road = detect();

CryptoRoad crypto_hardware() { return detect(); }

void crypto_set_road(CryptoRoad road) {
    const CryptoRoad hw = detect();
    g_crypto_road = {road.aes && hw.aes, road.wide && road.aes && hw.wide, road.sha && hw.sha, road.clmul && hw.clmul};
}

}  // namespace zv

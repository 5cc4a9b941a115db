// Which road the cryptographic primitives take: the processor's own AES,
// SHA and carry-less multiply instructions where it has them, the portable
// code everywhere else. Both roads give the same bytes.
//
// The choice is made once, when the library is loaded, from the processor's
// feature flags (cpuid, and the operating system's saving of the vector
// registers); callers read it per call, never per block. The accelerated
// routines are compiled with per-function target attributes, so the library
// itself is built for the baseline processor and loads anywhere.
#pragma once

namespace zv {

struct CryptoRoad {
    bool aes;    // AES-NI with SSSE3 and SSE4.1: AES and RIJ in every mode
    bool wide;   // with aes: VAES on 512-bit registers (AVX-512F and BW, their
                 // state saved by the system) for ECB and CBC decryption
    bool sha;    // SHA-NI with SSSE3 and SSE4.1: SHA-1 and SHA-256 blocks
    bool clmul;  // PCLMULQDQ with SSE4.1: CRC-32 of long buffers
};

extern CryptoRoad g_crypto_road;

inline const CryptoRoad &crypto_road() { return g_crypto_road; }

// What the processor offers, whatever road is in use.
CryptoRoad crypto_hardware();

// ---- Test support (not exported) -----------------------------------------
// Puts `road` in use, less what the processor lacks: all false is the
// portable road everywhere, crypto_hardware() the road chosen at load.
void crypto_set_road(CryptoRoad road);

}  // namespace zv

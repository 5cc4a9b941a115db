// The random generator inside the library, with the test switches that
// replace its time- and system-dependent inputs.
#pragma once

#include <cstdint>

#include "zarvo/qvs.h"

namespace zv {

int rng_init(QVSRNG *ctx);
int rng_read(QVSRNG *ctx, unsigned char *out, int32_t len);
void rng_final(QVSRNG *ctx);
int generate_rnd_key(unsigned char *out, int32_t len);
int fips_140_1(const unsigned char *sample);

// ---- Test support (not exported) -----------------------------------------
// Sources that replace the 32-byte seed and the 16-byte DT of each block;
// null restores the system's. Process-wide.
using RngSeedSource = void (*)(unsigned char seed[32]);
using RngDtSource = void (*)(unsigned char dt[16]);
void rng_set_sources(RngSeedSource seed, RngDtSource dt);

}  // namespace zv

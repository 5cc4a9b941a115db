// Helpers of the cryptography tests: hex text, seeded random bytes, the two
// roads of the primitives, and the independent implementations (openssl,
// gzip) run as child processes in the test's own directory.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/crypto/road.h"

namespace zvtest {

using Bytes = std::vector<unsigned char>;

Bytes from_hex(const std::string &hex);
std::string to_hex(const unsigned char *p, size_t n);
inline std::string to_hex(const Bytes &b) { return to_hex(b.data(), b.size()); }
inline Bytes bytes_of(const std::string &s) { return Bytes(s.begin(), s.end()); }
// Every 4-byte group of b reversed.
Bytes reverse_groups(Bytes b);

// The roads of the primitives this processor can take: the portable code,
// its AES, SHA and carry-less multiply instructions on 128-bit registers,
// and, where it has them, VAES on 512-bit registers as well.
struct Road {
    const char *name;
    zv::CryptoRoad road;
};
std::vector<Road> roads();
// Runs body on each road (each run traced by its name) and leaves the road
// chosen at load in place.
void for_each_road(const std::function<void()> &body);
// Whether the processor offers AES, SHA and carry-less multiply.
bool processor_road_complete();

// n bytes of a seeded generator.
Bytes random_bytes(std::mt19937 &rng, size_t n);

// True when the command-line tool is installed.
bool have_tool(const char *name);

// Runs "openssl <args> -in <input file> -out <output file>"; the output
// bytes, or false when the command fails.
bool openssl_run(const std::string &args, const Bytes &in, Bytes *out);
// openssl enc of data: cipher such as "aes-128-cbc", key and IV bytes (IV
// empty for ECB), without padding; legacy ciphers (DES, Blowfish) load the
// legacy provider.
bool openssl_enc(const std::string &cipher, const Bytes &key, const Bytes &iv, const Bytes &data, bool decrypt,
                 Bytes *out);
// Digests of several inputs with "openssl dgst -<alg>", in order, as hex.
bool openssl_digests(const std::string &alg, const std::vector<Bytes> &inputs, std::vector<std::string> *hex);

}  // namespace zvtest

// Loads and stores of integers in byte buffers, in one place.
//
// zv::le: little-endian, the order of every integer the engine stores in its
// files (headers, resources, areas, definitions), whatever the host.
// zv::be: big-endian, the word order of the cipher interfaces and of the
// SHA digests.
// zv::host: host order, for structures the engine holds in memory in the
// machine's own order (the record schema map, definition blocks in memory).
// None of them requires alignment.
#pragma once

#include <cstdint>
#include <cstring>

namespace zv {

namespace le {

inline uint16_t get16(const unsigned char *p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t get32(const unsigned char *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t get64(const unsigned char *p) { return uint64_t(get32(p)) | uint64_t(get32(p + 4)) << 32; }
inline void put16(unsigned char *p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void put32(unsigned char *p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}
inline void put64(unsigned char *p, uint64_t v) {
    for (int i = 0; i < 8; i++) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace le

namespace be {

inline uint32_t get32(const unsigned char *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
inline uint64_t get64(const unsigned char *p) { return uint64_t(get32(p)) << 32 | get32(p + 4); }
inline void put32(unsigned char *p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (24 - 8 * i));
}
inline void put64(unsigned char *p, uint64_t v) {
    for (int i = 0; i < 8; i++) p[i] = uint8_t(v >> (56 - 8 * i));
}

}  // namespace be

namespace host {

inline uint16_t get16(const void *p) {
    uint16_t v;
    memcpy(&v, p, 2);
    return v;
}
inline uint32_t get32(const void *p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}
inline uint64_t get64(const void *p) {
    uint64_t v;
    memcpy(&v, p, 8);
    return v;
}
inline void put16(void *p, uint16_t v) { memcpy(p, &v, 2); }
inline void put32(void *p, uint32_t v) { memcpy(p, &v, 4); }
inline void put64(void *p, uint64_t v) { memcpy(p, &v, 8); }

}  // namespace host

}  // namespace zv

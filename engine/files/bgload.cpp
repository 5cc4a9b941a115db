// The background-load status resource of a file.
//
// A file may keep one resource named "QV!BGLD" of type 19 that records the
// state of index loads done in the background, one entry per index:
//
//   OFFSET     SIZE  FIELD
//     0          4   resource type 19
//     4          4   resource number
//     8          8   name "QV!BGLD" with its NUL
//    16          4   (not read here)
//    20          4   number of entries n
//    24    120 x n   entries, each beginning with the NUL-terminated name
//                    of the index it describes
//
// A single entry is handed out as a 144-byte image: the 24-byte head with
// the count 1, then the entry. Entries are trusted only as far as the body
// holds them: a count beyond the body's length is cut to what it holds.
#include <cstring>

#include "engine/core/instance.h"
#include "zarvo/zarvo.h"

namespace {

constexpr uint32_t kBgldType = 19;
constexpr char kBgldName[] = "QV!BGLD";
constexpr int32_t kHead = 24;
constexpr int32_t kEntry = 120;
constexpr int32_t kImage = kHead + kEntry;

uint32_t get32(const unsigned char *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void put32(unsigned char *p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}

// Reads the whole resource into engine memory: 0 with the body and its
// length, or the resource error (408 when the file has none).
int read_status(int filno, unsigned char **out, int32_t *len) {
    INSTGV *g = zvWNGV;
    *out = nullptr;
    *len = 0;
    unsigned char info[12];
    GETRES(filno, kBgldName, info, sizeof info, 16 | 0x40);
    if (g->uerr_cod) return g->uerr_cod;
    uint32_t type, used;
    memcpy(&type, info, 4);
    memcpy(&used, info + 8, 4);
    if (type != kBgldType || used < uint32_t(kHead) || used > 0x7FFFFFF0u) return zv::set_uerr(408);
    auto *body = static_cast<unsigned char *>(zvgetmem(int32_t(used)));
    if (!body) return zv::set_uerr(10);
    GETRES(filno, kBgldName, body, int32_t(used), 16);
    if (g->uerr_cod) {
        int rc = g->uerr_cod;
        zvputmem(body);
        return rc;
    }
    *out = body;
    *len = int32_t(used);
    return 0;
}

// Entries the body really holds.
uint32_t entry_count(const unsigned char *body, int32_t len) {
    uint32_t n = get32(body + 20);
    uint32_t fit = uint32_t((len - kHead) / kEntry);
    return n < fit ? n : fit;
}

// Index of the entry of that index name, or -1.
int32_t find_entry(const unsigned char *body, int32_t len, const char *name) {
    uint32_t n = entry_count(body, len);
    for (uint32_t i = 0; i < n; i++) {
        const char *e = reinterpret_cast<const char *>(body + kHead + kEntry * i);
        if (strnlen(e, kEntry) < size_t(kEntry) && strcmp(e, name) == 0) return int32_t(i);
    }
    return -1;
}

// Hands out `n` bytes of `src` through the caller's buffer or a new block.
int hand_out(const unsigned char *src, int32_t n, void **buffer, int32_t *size) {
    if (*buffer) {
        if (*size < n) {
            *size = n;
            return zv::set_uerr(153);
        }
        memcpy(*buffer, src, size_t(n));
    } else {
        void *p = zvgetmem(n);
        if (!p) return zv::set_uerr(10);
        memcpy(p, src, size_t(n));
        *buffer = p;
    }
    *size = n;
    return zv::set_uerr(0);
}

// The one worker: mode 0 reads, mode 1 deletes.
int bgload_status(int mode, int filno, const char *idxname, void **buffer, int32_t *size) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    zv::set_uerr(0);
    const bool named = idxname && *idxname;
    if (mode == 0) {
        if (!buffer || !size) return zv::set_uerr(540);
        if (named && *buffer && *size < kImage) {
            *size = kImage;
            return zv::set_uerr(153);
        }
    }
    unsigned char *body = nullptr;
    int32_t len = 0;
    if (int rc = read_status(filno, &body, &len)) return rc;
    int rc = 0;
    if (mode == 0) {
        if (!named) {
            rc = hand_out(body, len, buffer, size);
        } else if (int32_t i = find_entry(body, len, idxname); i < 0) {
            rc = zv::set_uerr(101);
        } else {
            unsigned char image[kImage];
            memcpy(image, body, kHead);
            put32(image + 20, 1);
            memcpy(image + kHead, body + kHead + kEntry * i, kEntry);
            rc = hand_out(image, kImage, buffer, size);
        }
    } else if (!named) {
        rc = DELRES(filno, body);
    } else if (int32_t i = find_entry(body, len, idxname); i < 0) {
        rc = zv::set_uerr(101);
    } else {
        uint32_t n = entry_count(body, len);
        unsigned char *at = body + kHead + kEntry * i;
        size_t behind = size_t(len) - size_t(kHead + kEntry * (i + 1));
        memmove(at, at + kEntry, behind);
        put32(body + 20, n - 1);
        rc = UPDRES(filno, body, len - kEntry);
    }
    zvputmem(body);
    return zv::set_uerr(rc);
}

}  // namespace

extern "C" {

ZV_API int zvGetBackgroundLoadStatus(int filno, const char *idxname, void **buffer, int32_t *size) {
    return bgload_status(0, filno, idxname, buffer, size);
}

ZV_API int zvDeleteBackgroundLoadStatus(int filno, const char *idxname) {
    return bgload_status(1, filno, idxname, nullptr, nullptr);
}

}  // extern "C"

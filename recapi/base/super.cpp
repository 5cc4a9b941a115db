// Superfile host descriptors (see super.h).
#include "recapi/base/super.h"

#include <cstring>

#include "recapi/base/paths.h"
#include "recapi/base/wrappers.h"

namespace {

constexpr int kOpenExclusive = 512;
constexpr int kOpenShared = 513;
// Host file mode: a superfile host (0x200) with its directory (0x2). The
// engine reads bit 0x10 of a file mode as "marked for rebuild" and keeps no
// transaction modes, so every host is made in this one mode.
constexpr uint16_t kHostMode = 514;
constexpr int32_t kHostPermission = 6366;
constexpr uint32_t kXcreExtended = 0x02;
constexpr uint32_t kXcreWide = 0x40;
constexpr int32_t kFlagWide = 0x100;

}  // namespace

extern "C" {

ZVDBSUPER *_zvdbSuperAlloc(ZVHANDLE owner) {
    auto *d = static_cast<ZVDBSUPER *>(_zvdb_alloc(1, sizeof(ZVDBSUPER)));
    if (!d) return nullptr;
    d->filno = -1;
    d->owner = owner;
    d->createkind = 3;
    d->createflags = 2;
    return d;
}

ZVDBRET _zvdbSuperSetPath(ZVDBSUPER *desc, const char *path) {
    if (!desc || !path) return ZVDB_BAD_KIND;
    char *copy = _zvdb_strdup(path);
    if (!copy) return ZVDB_NO_MEMORY;
    _zvdb_free(desc->hostname);
    desc->hostname = copy;
    return 0;
}

ZVDBRET _zvdbSuperSetName(ZVDBSUPER *desc, const char *directory, const char *name, const char *ext) {
    if (!desc || !directory || !name || !ext) return ZVDB_NULL_ARGUMENT;
    size_t n = std::strlen(name), e = std::strlen(ext);
    if (n + e > size_t(INT32_MAX) - 1) return ZVDB_NO_MEMORY;
    char *file = _zvdb_stralloc(int32_t(n + e));
    if (!file) return ZVDB_NO_MEMORY;
    std::memcpy(file, name, n);
    std::memcpy(file + n, ext, e + 1);
    char *host = _zvdb_MakeFilePath(directory, file, _zvdbGetPathSeparator(desc->owner));
    _zvdb_free(file);
    if (!host) return ZVDB_NO_MEMORY;
    _zvdb_free(desc->hostname);
    desc->hostname = host;
    return 0;
}

const char *_zvdbSuperGetName(const ZVDBSUPER *desc) { return desc ? desc->hostname : nullptr; }

int _zvdbSuperIsOpen(const ZVDBSUPER *desc) { return desc && desc->filno >= 0 ? 1 : 0; }

int _zvdbSuperIsExclusive(const ZVDBSUPER *desc) { return desc ? desc->exclusive : 0; }

ZVDBRET _zvdbSuperOpen(ZVDBSUPER *desc, int exclusive) {
    if (!desc || !desc->hostname) return ZVDB_NULL_ARGUMENT;
    int first;
    if (int rc = _zvdbAVLFILNBR(2, &first)) return rc;
    int rc = _zvdbOPNFIL(desc->owner, first, desc->hostname, exclusive ? kOpenExclusive : kOpenShared);
    if (rc) return rc;
    desc->filno = first;
    desc->exclusive = exclusive ? 1 : 0;
    return 0;
}

ZVDBRET _zvdbSuperReopen(ZVDBSUPER *desc, int exclusive) {
    if (!desc) return ZVDB_NULL_ARGUMENT;
    if (desc->filno >= 0 && desc->exclusive == (exclusive ? 1 : 0)) return 0;
    if (ZVDBRET rc = _zvdbSuperClose(desc)) return rc;
    return _zvdbSuperOpen(desc, exclusive);
}

ZVDBRET _zvdbSuperClose(ZVDBSUPER *desc) {
    if (!desc) return ZVDB_NULL_ARGUMENT;
    if (desc->filno < 0) return 0;
    int rc = _zvdbCLSFIL(desc->filno);
    // The engine frees the number whatever the close answers.
    desc->filno = -1;
    desc->exclusive = 0;
    return rc == 127 || rc == 128 ? 0 : rc;
}

ZVDBRET _zvdbSuperDrop(ZVDBSUPER *desc) {
    if (ZVDBRET rc = _zvdbSuperReopen(desc, 1)) return rc;
    if (int rc = _zvdbDELFIL(desc->filno)) return rc;
    desc->filno = -1;
    desc->exclusive = 0;
    return 0;
}

void _zvdbSuperFree(ZVDBSUPER *desc) {
    if (!desc) return;
    _zvdbSuperClose(desc);
    _zvdb_free(desc->hostname);
    _zvdb_free(desc);
}

ZVDBRET _zvdbSuperCreate(ZVDBSUPER *desc) {
    if (!desc || !desc->hostname) return ZVDB_NULL_ARGUMENT;
    if ((desc->createsel == 1 || desc->createsel == 2) && desc->createkind != 0 && desc->createkind != 1 &&
        desc->createkind != 3) {
        return ZVDB_BAD_MODE;
    }
    int first;
    if (int rc = _zvdbAVLFILNBR(2, &first)) return rc;
    auto *x = static_cast<XCREblk *>(_zvdb_alloc(1, sizeof(XCREblk)));
    if (!x) return 83;
    x->mode = kXcreExtended | ((desc->createflags & kFlagWide) ? kXcreWide : 0);
    char *full;
    int rc = zv::prefixed_name(desc->owner, desc->hostname, &full);
    if (rc == 0) {
        rc = CREDATX8(first, full, 0, 0, kHostMode, kHostPermission, nullptr, nullptr, x);
        _zvdb_free(full);
    } else if (rc == ZVDB_NO_MEMORY) {
        rc = 83;
    }
    _zvdb_free(x);
    if (rc) return rc;
    desc->filno = first;
    desc->exclusive = 1;
    return 0;
}

}  // extern "C"

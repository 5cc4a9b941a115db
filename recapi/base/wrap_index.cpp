// Wrappers of key calls: key moves and searches, key formation, estimates,
// key sets, the current ISAM position and extended segment definitions
// (see wrappers.h). Key moves and searches are on the hot path: they
// allocate nothing.
#include <cstring>

#include "recapi/base/wrappers.h"

namespace {

// A key call's position: low word returned, high word beside it. A zero
// position is "none": 101 when the call left no error, else that error.
int position_result(uint32_t low, uint64_t *position) {
    uint32_t high = uint32_t(zvGETHGH());
    if (low == 0 && high == 0) {
        int rc = zv::instance_uerr();
        return rc == 0 ? ZV_INOT_ERR : rc;
    }
    if (position) *position = (uint64_t(high) << 32) | low;
    return 0;
}

}  // namespace

extern "C" {

int _zvdbTFRMKEY(int index, void *target) { return TFRMKEY(index, target) ? 0 : zv::instance_isamerr(); }

int _zvdbfrmkey(int index, const void *record, void *key, int flag, int32_t length) {
    zvSETHGH(flag ? -1 : 0);
    frmkeyx(index, record, key, flag ? 0xFFFFFFFFu : 0u, length, 1);
    return zv::instance_uerr();
}

int _zvdbFRCKEY(int index, void *key, int32_t fraction, uint64_t *position) {
    return position_result(FRCKEY(index, key, fraction), position);
}

int _zvdbMOVKEY(int, int index, uint64_t *position, void *key, int mode) {
    uint32_t low;
    switch (mode) {
    case 1: low = FRSKEY(index, key); break;
    case 2: low = LSTKEY(index, key); break;
    case 3: low = NXTKEY(index, key); break;
    case 4: low = PRVKEY(index, key); break;
    default: return ZVDB_BAD_MODE;
    }
    return position_result(low, position);
}

int _zvdbFINDKEY(int, int index, const void *target, void *key, int32_t keylen, uint64_t *position, int mode) {
    uint32_t low;
    switch (mode) {
    case 0: low = EQLKEY(index, target); break;
    case 1: low = LTKEY(index, target, key); break;
    case 2: low = LTEKEY(index, target, key); break;
    case 3: low = GTKEY(index, target, key); break;
    case 4: low = GTEKEY(index, target, key); break;
    default: return ZVDB_BAD_FIND_MODE;
    }
    int rc = position_result(low, position);
    if (rc == 0 && mode == 0 && key && target && keylen > 0) std::memcpy(key, target, size_t(keylen));
    return rc;
}

int _zvdbESTKEY(int index, const void *key1, const void *key2) { return int(ESTKEY(index, key1, key2)); }

int _zvdbGetNumberOfIndexEntries(int index, uint64_t *count) {
    if (!count) return ZVDB_NULL_ARGUMENT;
    uint32_t low = IDXENT(index);
    uint64_t n = (uint64_t(uint32_t(zvGETHGH())) << 32) | low;
    if (n == 0) {
        if (int rc = zv::instance_uerr()) return rc;
    }
    *count = n;
    return 0;
}

int _zvdbIDXENT(int index, uint32_t *count) {
    uint32_t n = IDXENT(index);
    if (n == 0) {
        if (int rc = zv::instance_uerr()) return rc;
    }
    if (count) *count = n;
    return 0;
}

int _zvdbFRESET(void) { return FRESET(); }

int _zvdbFRESETN(int32_t number) { return FRESETN(number); }

int _zvdbMOVSET(int file, int index, const void *target, void *buffer, int32_t siglen, uint64_t *position,
                int mode, int32_t *length) {
    int rc;
    switch (mode) {
    case 1: rc = length ? FRSVSET(index, target, buffer, siglen, length) : FRSSET(index, target, buffer, siglen); break;
    case 2: rc = length ? LSTVSET(index, target, buffer, siglen, length) : LSTSET(index, target, buffer, siglen); break;
    case 3: rc = length ? NXTVSET(index, buffer, length) : NXTSET(index, buffer); break;
    case 4: rc = length ? PRVVSET(index, buffer, length) : PRVSET(index, buffer); break;
    default: return ZVDB_BAD_MODE;
    }
    if (rc == 0 && position) rc = _zvdbGETCURP(file, position);
    return rc;
}

int _zvdbGETCURP(int file, uint64_t *position) {
    uint32_t low = GETCURP(file);
    if (low == 0) {
        if (int rc = zv::instance_isamerr()) return rc;
    }
    uint64_t pos = (uint64_t(uint32_t(zvGETHGH())) << 32) | low;
    if (position) *position = pos;
    return 0;
}

int _zvdbPUTKSEGDEF(int index, int segno, const void *def) {
    int rc = PUTKSEGDEF(index, segno, def);
    return rc < 0 ? -rc : 0;
}

int _zvdbGETKSEGDEF(int index, int segno, void *def) {
    int rc = GETKSEGDEF(index, segno, def);
    return rc < 0 ? -rc : 0;
}

int _zvdbIsSCHSEG(int mode) {
    int base = mode & 0x10F;
    return (base >= 12 && base <= 15) || base == 0x101 ? 1 : 0;
}

}  // extern "C"

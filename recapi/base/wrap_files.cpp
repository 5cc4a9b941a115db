// Wrappers of single-file calls: create, open, close and delete, the
// extended create block, resources, record locks, record filters, serial
// numbers and record counts (see wrappers.h).
#include <cstring>

#include "recapi/base/handles.h"
#include "recapi/base/paths.h"
#include "recapi/base/wrappers.h"
#include "recapi/catalog/dict_calls.h"

namespace {

// The extended header form: a zero word 0 would ask for the standard
// header, where the engine refuses identity fields and distinct-key counts.
constexpr uint32_t kXcreExtended = 0x02;

tagZVDBTABLE *table_of(ZVHANDLE h) { return static_cast<tagZVDBTABLE *>(_zvdbSelectHandle(h, ZVDB_TABLE_HANDLE)); }

// Sets the high word of a 64-bit position and gives its low word.
uint32_t low_word_of(uint64_t position) {
    zvSETHGH(int32_t(uint32_t(position >> 32)));
    return uint32_t(position);
}

uint64_t with_high(uint32_t low) { return (uint64_t(uint32_t(zvGETHGH())) << 32) | low; }

// Counts the records of a variable-length file by walking its areas from the
// first record position: an area whose header holds a positive area length
// above its record length is stepped over whole (and counted when it holds a
// record); anything else is stepped over by one byte, so the walk finds its
// way again after damage. The walk ends at the first header that cannot be
// read, and at the logical end of the file, past which no record lies.
int count_by_scan(int file, uint64_t *count) {
    FCB *f = tstifnm(file);
    if (!f) return zv::instance_uerr();
    int64_t first = 0, end = 0;
    if (int rc = _zvdbGETFIL(file, 31, &first)) return rc;
    if (int rc = _zvdbGETFIL(file, 10, &end)) return rc;
    uint64_t n = 0;
    for (uint64_t at = uint64_t(first); at < uint64_t(end);) {
        VRECHDR h;
        if (getvhdr81(f, uint32_t(at >> 32), uint32_t(at), &h)) break;
        if (int32_t(h.arealen) > 0 && h.reclen < h.arealen) {
            if (h.mark == 0xFAFA) n++;
            at += h.arealen;
        } else {
            at++;
        }
    }
    *count = n;
    return 0;
}

}  // namespace

extern "C" {

int _zvdbCLSFIL(int file) { return CLSFIL(file, 0); }

int _zvdbDELFIL(int file) { return DELFIL(file); }

int _zvdbGETXCREBLK(int file, XCREblk *xcre) { return GETXCREBLK(file, xcre); }

int _zvdbPartCallParm(int file) {
    XCREblk x;
    return GETXCREBLK(file, &x) == 0 ? int32_t(x.width15) : -1;
}

int _zvdbCREDAT(ZVHANDLE handle, int file, const char *name, uint16_t reclen, uint32_t xtdsize,
                uint16_t filmod, int32_t permission, const char *group, const char *password) {
    char *full;
    if (int rc = zv::prefixed_name(handle, name, &full)) return rc == ZVDB_NO_MEMORY ? 83 : rc;
    auto *x = static_cast<XCREblk *>(_zvdb_alloc(1, sizeof(XCREblk)));
    if (!x) {
        _zvdb_free(full);
        return 83;
    }
    x->mode = kXcreExtended;
    int rc = CREDATX8(file, full, reclen, xtdsize, filmod, permission, group, password, x);
    _zvdb_free(x);
    _zvdb_free(full);
    return rc;
}

int _zvdbOPNFIL(ZVHANDLE handle, int file, const char *name, int mode) {
    if (int rc = _zvdbDictPinHost(handle, name)) return rc;
    char *full;
    if (int rc = zv::prefixed_name(handle, name, &full)) return rc == ZVDB_NO_MEMORY ? 83 : rc;
    int rc = OPNFIL(file, full, uint16_t(mode));
    _zvdb_free(full);
    return rc;
}

int _zvdbOPNFILX(ZVHANDLE table, const char *name, int mode, int *file, int count) {
    if (!file) return 33;
    tagZVDBTABLE *t = table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    if (int rc = _zvdbDictPinHost(t, name)) return rc;
    int first;
    if (int rc = _zvdbAVLFILNBR(count, &first)) return rc;
    char *full;
    if (int rc = zv::prefixed_name(t, name, &full)) return rc == ZVDB_NO_MEMORY ? 83 : rc;
    int rc = OPNFILX(first, full, uint16_t(mode), t->password);
    _zvdb_free(full);
    if (rc == 0) *file = first;
    return rc;
}

int _zvdbADDRES(int file, void *body, int32_t length) { return ADDRES(file, body, length); }

int _zvdbUPDRES(int file, void *body, int32_t length) { return UPDRES(file, body, length); }

int _zvdbDELRES(int file, const void *body) { return DELRES(file, body); }

int _zvdbGETRES(int file, const void *key, void *buffer, int32_t length, int mode) {
    return GETRES(file, key, buffer, length, mode) != 0 ? 0 : zv::instance_uerr();
}

int _zvdbREADRES(int file, const void *key, void *buffer, int32_t length, int mode, uint64_t *position) {
    uint32_t low = GETRES(file, key, buffer, length, mode);
    uint64_t pos = with_high(low);
    if (position) *position = pos;
    return zv::instance_uerr();
}

int _zvdbLOKREC(int file, int mode, uint64_t position) { return LOKREC(file, mode, low_word_of(position)); }

int _zvdbGETLOK(int file, uint64_t position) {
    if (!WCHZARVO()) return 6;
    // The engine keeps no record locks: the call only clears the error, and
    // every record answers lock type 0 (none), whatever an earlier failing
    // I/O left in the system error code.
    LOKREC(file, 21, low_word_of(position));
    return 0;
}

int _zvdbSETFLTR(int file, const char *text) { return SETFLTR(file, text); }

int _zvdbSETFLTRN(int file, int mode1, int mode2, const char *text) { return SETFLTRN(file, mode1, mode2, text); }

int _zvdbSETFLTRX(int file, void *tree) { return SETFLTRX(file, tree); }

int _zvdbGetSerial(ZVHANDLE table, uint64_t *serial) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    if (!serial) return ZVDB_NULL_ARGUMENT;
    uint32_t low = SERIALNUM(t->datno);
    uint64_t value = with_high(low);
    int rc = zv::instance_uerr();
    if (rc == 0) *serial = value;
    return rc;
}

int _zvdbGetSerialExt(ZVHANDLE table, uint32_t *high, uint32_t *low, int next) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    if (!low) return ZVDB_NULL_ARGUMENT;
    // Bit 0x80000 makes the serial call hand out the next number; it is
    // left as it was found, whatever the call gives.
    bool turned_on = false;
    if (next && !(SETOPS(0, 3) & 0x80000)) turned_on = (SETOPS(0x80000, 2) & 0x80000) != 0;
    uint32_t lw = SERIALNUM(t->datno);
    uint32_t hw = uint32_t(zvGETHGH());
    int rc = zv::instance_uerr();
    if (turned_on) SETOPS(0x80000, 0);
    if (lw == 0 && rc != 0) return rc;
    *low = lw;
    if (high) *high = hw;
    return 0;
}

int _zvdbUpdateSerial(ZVHANDLE table, uint64_t serial) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    return PUTHDR(t->datno, int32_t(low_word_of(serial)), 1);
}

int _zvdbGetNumberOfRecords(int file, int scan, uint64_t *count) {
    if (!count) return ZVDB_NULL_ARGUMENT;
    if (scan) return count_by_scan(file, count);
    uint32_t low = DATENT(file);
    uint64_t n = with_high(low);
    if (n == 0) {
        if (int rc = zv::instance_uerr()) return rc;
    }
    *count = n;
    return 0;
}

}  // extern "C"

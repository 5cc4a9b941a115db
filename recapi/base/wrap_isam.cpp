// Wrappers of ISAM calls: file sets (create, open, close, delete), record
// writes with the failing file, positioned reads, and the stored
// definition and record schema copied into blocks of the record-level API
// (see wrappers.h).
#include <cstring>

#include "recapi/base/handles.h"
#include "recapi/base/paths.h"
#include "recapi/base/wrappers.h"
#include "recapi/catalog/dict_calls.h"

namespace {

// Room for the first read of a stored definition or schema.
constexpr int32_t kLocalRead = 8192;

uint32_t low_word_of(uint64_t position) {
    zvSETHGH(int32_t(uint32_t(position >> 32)));
    return uint32_t(position);
}

// Stores the failing file of a failed ISAM write.
int write_result(int rc, int *failfile) {
    if (rc != 0 && failfile) *failfile = zv::instance_isamfil();
    return rc;
}

// A pointer into [from, from + n) moved to the same place in `to`; NULL and
// pointers outside stay NULL (nothing may point back into the caller's
// stack).
template <typename T>
T *rebase(T *p, const unsigned char *from, int32_t n, unsigned char *to) {
    auto *b = reinterpret_cast<const unsigned char *>(p);
    if (!p || b < from || b >= from + n) return nullptr;
    return reinterpret_cast<T *>(to + (b - from));
}

// Reads a definition-like block through `read(size, buffer)` into a new
// block, growing it until the engine's reported length fits. *out is the
// block and *n its length; 0 or the code.
template <typename Read>
int read_grown(Read read, int32_t n, int nomem, unsigned char **out, int32_t *len) {
    *out = nullptr;
    for (;;) {
        auto *buf = static_cast<unsigned char *>(_zvdb_alloc(n, 1));
        if (!buf) return nomem;
        int32_t got = read(n, buf);
        if (got <= 0) {
            _zvdb_free(buf);
            return zv::instance_uerr();
        }
        if (got <= n) {
            *out = buf;
            *len = got;
            return 0;
        }
        _zvdb_free(buf);
        n = got;
    }
}

// Makes the data file name: name + ext, or for a mirrored name primary +
// ext + "|" + mirror + ext.
char *file_name(const char *name, const char *ext) {
    size_t n = std::strlen(name), e = std::strlen(ext);
    const char *bar = std::strchr(name, '|');
    size_t total = n + e + (bar ? e : 0);
    if (total > size_t(INT32_MAX) - 1) return nullptr;
    char *out = _zvdb_stralloc(int32_t(total));
    if (!out) return nullptr;
    if (!bar) {
        std::memcpy(out, name, n);
        std::memcpy(out + n, ext, e + 1);
        return out;
    }
    size_t p = size_t(bar - name);
    std::memcpy(out, name, p);
    std::memcpy(out + p, ext, e);
    out[p + e] = '|';
    std::memcpy(out + p + e + 1, bar + 1, n - p - 1);
    std::memcpy(out + n + e, ext, e + 1);
    return out;
}

// The result of a failed open: a file not found is 12, unless the system
// code names one of the engine's own open failures.
int not_found_result() {
    int sys = zv::instance_sysio();
    return sys == -8 || sys == -9 || sys == -1112 ? sys : 12;
}

// Runs a call on a copy of the definition whose names carry the table's
// session prefix (`run(table, copy)`): the call's code, 4013 no table, 4007
// NULL definition, 83 no memory.
template <typename Run>
int on_prefixed_set(ZVHANDLE table, IFIL *ifil, Run run) {
    auto *t = static_cast<tagZVDBTABLE *>(_zvdbSelectHandle(table, ZVDB_TABLE_HANDLE));
    if (!t) return ZVDB_NO_TABLE;
    if (!ifil) return ZVDB_NULL_ARGUMENT;
    IFIL *copy;
    if (int rc = _zvdbFixIfilPath(t, ifil, &copy)) return rc == ZVDB_NO_MEMORY ? 83 : rc;
    int rc = run(t, copy);
    _zvdbFixIfilFree(copy);
    return rc;
}

// Create blocks for the files of a definition: one per index and one more.
int32_t block_count(const IFIL *ifil) { return (ifil->dnumidx > 0 ? ifil->dnumidx : 0) + 1; }

// Create-block word 10 of a definition store: the data file is open
// already under tfilno, and its indexes with it.
constexpr uint32_t kXcreDataOpen = 0x1;
constexpr uint32_t kXcreIndexesOpen = 0x10000;

// Indexes added to the table's open data file from a prefixed copy of
// their definition; the first number used (or -1) comes back in tfilno.
// The new files take 8-byte offsets when the table's create mode asks for
// them (0x100), and create-block word 10 bit 0x2000 when the mode's bits
// 0x4002 are 0x4000.
int add_indexes(ZVHANDLE table, IFIL *ifil, bool temporary) {
    return on_prefixed_set(table, ifil, [&](const tagZVDBTABLE *t, IFIL *copy) {
        const int32_t n = block_count(copy);
        auto *blocks = static_cast<XCREblk *>(_zvdb_alloc(n, sizeof(XCREblk)));
        if (!blocks) return 83;
        for (int32_t i = 0; i < n; i++) {
            if (t->createmode & 0x100) blocks[i].mode = 0x40;
            if ((t->createmode & 0x4002) == 0x4000) blocks[i].flags |= 0x2000;
        }
        int rc = temporary ? TMPIIDXX8(copy, 0, nullptr, t->password, blocks) : PRMIIDX8(copy, blocks);
        ifil->tfilno = copy->tfilno;
        _zvdb_free(blocks);
        return rc;
    });
}

}  // namespace

extern "C" {

int _zvdbCLRFIL(int datno) { return CLRFIL(datno); }

int _zvdbCLIFIL(IFIL *ifil) { return CLIFIL(ifil); }

int _zvdbDELRFIL(int datno) { return DELRFIL(datno); }

int _zvdbREDVREC(int datno, void *buffer, int32_t length) { return REDVREC(datno, buffer, length); }

int _zvdbDELREC(int datno) { return DELREC(datno); }

int _zvdbDELVREC(int datno) { return DELVREC(datno); }

int _zvdbGETNAM(int file, char *buffer, int32_t length, int mode) { return iGETNAM(file, buffer, length, mode); }

int _zvdbGETVLEN(int datno, int32_t *length) {
    int32_t n = GETVLEN(datno);
    if (n == 0) {
        if (int rc = zv::instance_isamerr()) return rc;
    }
    if (length) *length = n;
    return 0;
}

int _zvdbSETCURI(int datno, uint64_t position, const void *record, int32_t length) {
    return SETCURI(datno, low_word_of(position), record, length);
}

int _zvdbREDIREC(int datno, uint64_t position, void *record) {
    return REDIREC(datno, low_word_of(position), record);
}

int _zvdbREDIVREC(int datno, uint64_t position, void *record, int32_t *length) {
    return REDIVREC(datno, low_word_of(position), record, length);
}

int _zvdbADDREC(int datno, void *record, int *failfile) { return write_result(ADDREC(datno, record), failfile); }

int _zvdbADDVREC(int datno, void *record, int32_t length, int *failfile) {
    return write_result(ADDVREC(datno, record, length), failfile);
}

int _zvdbRWTREC(int datno, void *record, int *failfile) { return write_result(RWTREC(datno, record), failfile); }

int _zvdbRWTVREC(int datno, void *record, int32_t length, int *failfile) {
    return write_result(RWTVREC(datno, record, length), failfile);
}

int _zvdbRWTPREC(int datno, void *record, int32_t length, int *failfile) {
    return write_result(RWTPREC(datno, record, length), failfile);
}

int _zvdbGETIFIL(int datno, IFIL **out, int32_t *length) {
    if (!out) return 33;
    *out = nullptr;
    alignas(IFIL) unsigned char local[kLocalRead];
    int32_t n = GETIFIL(datno, kLocalRead, local);
    if (n <= 0) return zv::instance_uerr();
    unsigned char *buf;
    if (n > kLocalRead) {
        // The engine builds the definition's pointers into the block it is
        // given: a read straight into the final block needs no rebasing.
        auto read = [datno](int32_t size, unsigned char *b) { return GETIFIL(datno, size, b); };
        if (int rc = read_grown(read, n, 83, &buf, &n)) return rc;
    } else {
        buf = static_cast<unsigned char *>(_zvdb_alloc(n, 1));
        if (!buf) return 83;
        std::memcpy(buf, local, size_t(n));
        auto *f = reinterpret_cast<IFIL *>(buf);
        f->pfilnam = rebase(f->pfilnam, local, n, buf);
        f->rfstfld = rebase(f->rfstfld, local, n, buf);
        f->tlstfld = rebase(f->tlstfld, local, n, buf);
        f->iidxarr = rebase(f->iidxarr, local, n, buf);
        int32_t room = f->iidxarr ? int32_t((buf + n - reinterpret_cast<unsigned char *>(f->iidxarr)) /
                                            int32_t(sizeof(IIDX)))
                                  : 0;
        for (int32_t i = 0; i < f->dnumidx && i < room; i++) {
            IIDX &x = f->iidxarr[i];
            x.isegarr = rebase(x.isegarr, local, n, buf);
            x.ridxnam = rebase(x.ridxnam, local, n, buf);
            x.aidxnam = rebase(x.aidxnam, local, n, buf);
            x.icolseq = rebase(x.icolseq, local, n, buf);
            x.ipadbyt = rebase(x.ipadbyt, local, n, buf);
        }
    }
    auto *f = reinterpret_cast<IFIL *>(buf);
    f->dfilmod = int16_t(f->dfilmod & ~0x1000);
    f->ifilmod = int16_t(f->ifilmod & ~0x1000);
    *out = f;
    if (length) *length = n;
    return 0;
}

int _zvdbGETDODAORMAP(int datno, void **out, int32_t *length, int form) {
    if (!out) return 33;
    *out = nullptr;
    alignas(DATOBJ) unsigned char local[kLocalRead] = {};
    int32_t n = form == 3 ? GETDODA(datno, 0, nullptr, form) : GETDODA(datno, kLocalRead, local, form);
    if (n <= 0) return zv::instance_uerr();
    unsigned char *buf;
    if (form == 3 || n > kLocalRead) {
        auto read = [datno, form](int32_t size, unsigned char *b) { return GETDODA(datno, size, b, form); };
        if (int rc = read_grown(read, n, 82, &buf, &n)) return rc;
    } else {
        buf = static_cast<unsigned char *>(_zvdb_alloc(n, 1));
        if (!buf) return 82;
        std::memcpy(buf, local, size_t(n));
        if (form == 4) {
            // Field entries up to the one that ends the array; a nameless
            // field's name pointer is NULL.
            auto *d = reinterpret_cast<DATOBJ *>(buf);
            for (int32_t i = 0; i < n / int32_t(sizeof(DATOBJ)) && d[i].fend != 0xFFFF; i++) {
                d[i].fsymb = rebase(d[i].fsymb, local, n, buf);
            }
        }
    }
    *out = buf;
    if (length) *length = n;
    return 0;
}

int _zvdbGETDODA(int datno, DATOBJ **out, int32_t *length) {
    return _zvdbGETDODAORMAP(datno, reinterpret_cast<void **>(out), length, 4);
}

int _zvdbGETSCHEMA(int datno, void **out, int32_t *length) { return _zvdbGETDODAORMAP(datno, out, length, 1); }

int _zvdbGETSCHEMANAMES(int datno, void **out, int32_t *length) {
    return _zvdbGETDODAORMAP(datno, out, length, 2);
}

int _zvdbCREIFILXX(IFIL *ifil, const DATOBJ *schema, int32_t count, const char *dataext, const char *idxext,
                   int32_t permission, const char *group, const char *password) {
    if (int rc = CREIFILX(ifil, dataext, idxext, permission, group, password)) return rc;
    int rc = PUTDODA(ifil->tfilno, schema, int(uint16_t(count)));
    int closed = CLIFIL(ifil);
    return rc ? rc : closed;
}

int _zvdbOPNRFILX(ZVHANDLE handle, const char *name, int mode, const char *password, const char *ext, int *file,
                  int count) {
    if (!name || !ext) return 139;
    if (!file) return 33;
    if (int rc = _zvdbDictPinHost(handle, name)) return rc;
    char *plain = file_name(name, ext);
    if (!plain) return 83;
    char *full;
    int rc = zv::prefixed_name(handle, plain, &full);
    _zvdb_free(plain);
    if (rc) return rc == ZVDB_NO_MEMORY ? 83 : rc;
    int open_mode = mode & ~4;
    int datno = OPNRFILX(-1, full, open_mode, password);
    if (datno < 0) {
        rc = zv::instance_isamerr();
        if (rc == 46 && count >= 1 && count <= 63) {
            int first;
            if (_zvdbAVLFILNBR(count, &first) == 0) datno = OPNRFILX(first, full, open_mode, password);
            if (datno < 0) rc = not_found_result();
        } else if (rc == 12) {
            rc = not_found_result();
        }
    }
    _zvdb_free(full);
    if (datno < 0) return rc;
    *file = datno;
    // A pending partition-administration request of the table: the member
    // file it names is added to the host now.
    auto *t = static_cast<tagZVDBTABLE *>(_zvdbSelectHandle(handle, ZVDB_TABLE_HANDLE));
    if (t && t->partrequest) {
        rc = PTADMIN(datno, t->partrequest, 0, 33);
        t->partrequest = static_cast<char *>(_zvdb_free(t->partrequest));
        return rc;
    }
    return 0;
}

int _zvdbOPNIFILX(ZVHANDLE table, IFIL *ifil, int mode, int *file) {
    if (!file) return 33;
    auto *t = static_cast<tagZVDBTABLE *>(_zvdbSelectHandle(table, ZVDB_TABLE_HANDLE));
    if (!t) return ZVDB_NO_TABLE;
    if (int rc = _zvdbDictPinHost(t, ifil ? ifil->pfilnam : nullptr)) return rc;
    IFIL *copy;
    if (int rc = _zvdbFixIfilPath(t, ifil, &copy)) return rc == ZVDB_NO_MEMORY ? 83 : rc;
    copy->dfilmod = int16_t(mode);
    copy->ifilmod = int16_t(mode & ~0x4);
    int rc = OPNIFILX(copy, t->dataext, t->indexext, t->password);
    if (rc == 0) {
        ifil->tfilno = copy->tfilno;
        *file = copy->tfilno;
    } else if (rc == 12) {
        rc = not_found_result();
    }
    _zvdbFixIfilFree(copy);
    return rc;
}

int _zvdbRBLIFILX8(ZVHANDLE table, IFIL *ifil, const char *dataext, const char *idxext, int32_t permission,
                   const char *group, const char *password, XCREblk *xcre) {
    return on_prefixed_set(table, ifil, [&](const tagZVDBTABLE *, IFIL *copy) {
        return xcre ? RBLIFILX8(copy, dataext, idxext, permission, group, password, xcre)
                    : RBLIFILX(copy, dataext, idxext, permission, group, password);
    });
}

int _zvdbRBLIFILX(ZVHANDLE table, IFIL *ifil, const char *dataext, const char *idxext, int32_t permission,
                  const char *group, const char *password) {
    return _zvdbRBLIFILX8(table, ifil, dataext, idxext, permission, group, password, nullptr);
}

int _zvdbZVSBLDX(ZVHANDLE handle, const char *name, const char *password) {
    char *full;
    if (int rc = zv::prefixed_name(handle, name, &full)) return rc == ZVDB_NO_MEMORY ? 83 : rc;
    int rc = ZVSBLDX(full, password);
    _zvdb_free(full);
    return rc;
}

int _zvdbCMPIFILX8(ZVHANDLE table, IFIL *ifil, const char *dataext, const char *idxext, int32_t permission,
                   const char *group, const char *password, XCREblk *xcre) {
    return on_prefixed_set(table, ifil, [&](const tagZVDBTABLE *, IFIL *copy) {
        return xcre ? CMPIFILX8(copy, dataext, idxext, permission, group, password, xcre)
                    : CMPIFILX(copy, dataext, idxext, permission, group, password);
    });
}

int _zvdbCMPIFILX(ZVHANDLE table, IFIL *ifil, const char *dataext, const char *idxext, int32_t permission,
                  const char *group, const char *password) {
    return _zvdbCMPIFILX8(table, ifil, dataext, idxext, permission, group, password, nullptr);
}

int _zvdbSETCBRBL(RBLCBFN callback, int32_t interval) { return SETCBRBL(callback, interval); }

int _zvdbRENIFIL(IFIL *ifil) { return RENIFIL(ifil); }

int _zvdbRENIFILX(ZVHANDLE table, IFIL *ifil) {
    return on_prefixed_set(table, ifil, [](const tagZVDBTABLE *t, IFIL *copy) {
        return RENIFILX(copy, t->dataext, t->indexext);
    });
}

int _zvdbSWPIFILX(ZVHANDLE table, IFIL *from, IFIL *to) {
    return on_prefixed_set(table, from, [to](const tagZVDBTABLE *t, IFIL *news) {
        return on_prefixed_set(const_cast<tagZVDBTABLE *>(t), to, [news](const tagZVDBTABLE *u, IFIL *olds) {
            return SWPIFILX(news, olds, u->dataext, u->indexext);
        });
    });
}

int _zvdbPUTIFILX(ZVHANDLE table, IFIL *ifil) {
    auto *t = static_cast<tagZVDBTABLE *>(_zvdbSelectHandle(table, ZVDB_TABLE_HANDLE));
    if (!t) return ZVDB_NO_TABLE;
    if (!ifil) return ZVDB_NULL_ARGUMENT;
    auto *blocks = static_cast<XCREblk *>(_zvdb_alloc(block_count(ifil), sizeof(XCREblk)));
    if (!blocks) return ZVDB_NO_MEMORY;
    // The table's set is open, its index files with its data file: the
    // store reaches them through the key map. (Opened once more by name,
    // an index file open exclusively refuses the second open, and one open
    // shared would have two control blocks, one with a stale header.)
    blocks[0].flags = kXcreDataOpen | kXcreIndexesOpen;
    ifil->tfilno = t->datno;
    int rc = PUTIFILX8(ifil, t->dataext, t->indexext, t->password, blocks);
    _zvdb_free(blocks);
    return rc;
}

int _zvdbPRMIIDX(ZVHANDLE table, IFIL *ifil) { return add_indexes(table, ifil, false); }

int _zvdbTMPIIDX(ZVHANDLE table, IFIL *ifil) { return add_indexes(table, ifil, true); }

int _zvdbDROPIDX(int idxno) { return zvDROPIDX(idxno); }

int _zvdbPTADMIN(int host, const char *text, int32_t raw, int mode) { return PTADMIN(host, text, raw, mode); }

int _zvdbOPNICON(int file, int *id) {
    if (!id) return 33;
    int n = OPNICON(file, -1, -1);
    if (n == -1) return zv::instance_isamerr();
    *id = n;
    return 0;
}

int _zvdbCLSICON(int id) { return CLSICON(id); }
int _zvdbCHGICON(int id) { return CHGICON(id); }
int _zvdbBATSETX(int file, void *request, void *buffer, int32_t size, uint32_t mode) {
    return BATSETX(file, request, buffer, size, mode);
}
int _zvdbFREBATN(int number) { return FREBATN(number); }
int _zvdbCHGBAT(int number) { return CHGBAT(number); }

}  // extern "C"

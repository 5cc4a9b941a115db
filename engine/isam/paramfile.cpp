// ISAM parameter files: the ISAM layer started and every file a text
// describes created (CREISAMX) or opened (OPNISAMX), with the same key map
// that a file-set create or open builds.
//
// The text is read as untrusted: items are bounded words of at most 255
// characters and numbers decimal 16-bit integers (param_item,
// param_number); an item that is missing, too long or out of range makes
// its record incomplete, a negative count too. Reading stops at the first
// error. Once the ISAM layer is started, a failure closes every file made
// or opened so far (files stay on disk) and stops the ISAM layer again,
// so that the next start-up finds the instance as it was before.
#include <cstdio>
#include <cstring>

#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/fcb.h"
#include "engine/index/distinct.h"
#include "engine/index/idxstate.h"
#include "engine/index/ksegdef.h"
#include "engine/isam/fileset.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"

namespace zv {

namespace {

constexpr int kDefaultProfile = 33;

// Reads n numbers of one record; false when one is missing or bad, or when
// one of the counts (bit i of `counts` marks number i) is negative.
bool read_numbers(FILE *fp, int *out, int n, unsigned counts) {
    for (int i = 0; i < n; i++) {
        if (!param_number(fp, &out[i])) return false;
        if ((counts & (1u << i)) && out[i] < 0) return false;
    }
    return true;
}

class ParamFile {
public:
    ParamFile(bool create, int32_t userprof) : create_(create), profile_(userprof) {}
    ~ParamFile() {
        if (fp_) plat_fclose(fp_);
    }
    ParamFile(const ParamFile &) = delete;
    ParamFile &operator=(const ParamFile &) = delete;
    int run(const char *name);

private:
    int getintr(int *ndat);
    int getdatr(int *datno, int *mode, int *nidx);
    int getidxr(int datno, int datmode, int slot, int *used);
    int getambr(int datno, int datmode, int host, int m, int slot);
    int check_index(int filno, int keylen, int dup);
    int fail(int code, int filno) {
        set_uerr(code);
        return ierr(code, filno < 0 ? 0 : filno);
    }

    bool create_;
    int32_t profile_;
    FILE *fp_ = nullptr;
};

// Initialisation record: the ISAM layer started with buffers, files,
// sectors and data buffers.
int ParamFile::getintr(int *ndat) {
    int v[4];
    if (!read_numbers(fp_, v, 4, 0xF)) return fail(103, 0);
    *ndat = v[3];
    if (int rc = zviisam(v[0], v[1] + v[3], v[2], v[0], profile_)) return fail(rc, 0);
    return 0;
}

// A key length and duplicate mode that the open index (or member) must have.
int ParamFile::check_index(int filno, int keylen, int dup) {
    FCB *x = fcb_at(filno);
    IIDX want{int16_t(keylen), 0, int16_t(dup), 0, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr};
    if (!set_file_open(x) || x->kind != kKindIndex || x->hdr.base.keylen != uint16_t(keylen) || !chkkeydup(&want, x))
        return fail(608, filno);
    if (int rc = zvksgmap(filno)) return fail(rc, filno);
    return 0;
}

// Data file record, its number reserved, its field names, and the file.
int ParamFile::getdatr(int *datno, int *mode, int *nidx) {
    INSTGV *g = zvWNGV;
    int v[4];
    char name[kParamItem + 1];
    if (!param_number(fp_, datno) || param_item(fp_, name) != 1 || !read_numbers(fp_, v, 4, 0xB))
        return fail(106, *datno);
    *mode = v[2];
    *nidx = v[3];
    if (*nidx > kMapIndexes) return fail(107, *datno);
    if (int rc = tstinm(*datno, (*mode & 0x200) ? 1 : 0)) return fail(rc, g->isamfil_num);
    if (int rc = setudat(fp_, *datno)) return fail(rc, *datno);
    OptionBit mark(&g->fileopt[1], kIsamMark);
    int rc = create_ ? CREDAT(*datno, name, uint16_t(v[0]), uint32_t(v[1]), uint16_t(*mode))
                     : OPNFIL(*datno, name, uint16_t(*mode));
    return rc ? fail(rc, *datno) : 0;
}

// Index record, its numbers reserved, its name, segments and file; *used
// gets the key-list slots it takes (with its members).
int ParamFile::getidxr(int datno, int datmode, int slot, int *used) {
    INSTGV *g = zvWNGV;
    int keyno = 0, v[9];
    char name[kParamItem + 1];
    // key length, key type, duplicates, members, extension size, file mode,
    // null key, empty character, segments: members and segments are counts.
    if (!param_number(fp_, &keyno) || param_item(fp_, name) != 1 || !read_numbers(fp_, v, 9, 0x118))
        return fail(111, keyno);
    const int keylen = v[0], keytype = v[1], dup = v[2], members = v[3], nseg = v[8];
    if (nseg > kMapSegs) return fail(109, keyno);
    if (slot + 1 + members > kMapIndexes) return fail(107, datno);
    if (int rc = tstinm(keyno, members)) return fail(rc, g->isamfil_num);
    if (int rc = setukey(fp_, keyno, keytype)) return fail(rc, keyno);
    if (int rc = setmap(datno, datmode, slot, keyno, keylen, nseg, dup & 1, v[7], v[6], fp_)) return fail(rc, g->isamfil_num);
    {
        OptionBit mark(&g->fileopt[2], kIsamIndexMark);
        int rc = create_ ? CREIDX(keyno, name, keylen, keytype, dup, members, uint32_t(v[4]), uint16_t(v[5]))
                         : OPNFIL(keyno, name, uint16_t(v[5]));
        if (rc) return fail(rc, keyno);
    }
    if (!create_) {
        if (int(fcb_at(keyno)->hdr.base.nmem) != members) return fail(124, keyno);
        if (int rc = check_index(keyno, keylen, dup)) return rc;
    }
    if (int rc = chkrvnum(datno, keyno)) return fail(rc, keyno);
    if (int rc = chkrecbyt(datno, keyno)) return fail(rc, keyno);
    for (int m = 1; m <= members; m++)
        if (int rc = getambr(datno, datmode, keyno, m, slot + m)) return rc;
    *used = 1 + members;
    return 0;
}

// Member record m of index file host: its name, segments and member.
int ParamFile::getambr(int datno, int datmode, int host, int m, int slot) {
    INSTGV *g = zvWNGV;
    int v[7];
    // key number, key length, key type, duplicates, null key, empty
    // character, segments (a count).
    if (!read_numbers(fp_, v, 7, 0x40)) return fail(117, host + m);
    const int keyno = v[0], keylen = v[1], keytype = v[2], dup = v[3], nseg = v[6];
    if (keyno != host + m) return fail(108, host + m);
    if (nseg > kMapSegs) return fail(109, keyno);
    if (int rc = setukey(fp_, keyno, keytype)) return fail(rc, keyno);
    if (int rc = setmap(datno, datmode, slot, keyno, keylen, nseg, dup & 1, v[5], v[4], fp_)) return fail(rc, g->isamfil_num);
    if (create_) {
        if (int rc = CREMEM(host, keylen, keytype, dup, m)) return fail(rc, keyno);
    } else if (int rc = check_index(keyno, keylen, dup)) {
        return rc;
    }
    if (int rc = chkrvnum(datno, keyno)) return fail(rc, keyno);
    if (int rc = chkrecbyt(datno, keyno)) return fail(rc, keyno);
    return 0;
}

int ParamFile::run(const char *name) {
    INSTGV *g = zvWNGV;
    if (!name || !(fp_ = plat_fopen(name, "r"))) return fail(102, 0);
    int ndat = 0;
    if (int rc = getintr(&ndat)) return rc;
    for (int d = 0; d < ndat; d++) {
        int datno = -1, mode = 0, nidx = 0;
        if (int rc = getdatr(&datno, &mode, &nidx)) return rc;
        int slot = 0;
        while (slot < nidx) {
            int used = 0;
            if (int rc = getidxr(datno, mode, slot, &used)) return rc;
            slot += used;
        }
        if (slot < kMapIndexes) setzvEOK(datno, slot);
    }
    set_uerr(0);
    g->isamerr_cod = 0;
    g->isamfil_num = 0;
    return 0;
}

// Both entries: the default instance when none is current; a failure
// after the ISAM start closes what was made and stops the ISAM layer.
int isam_from_file(const char *name, int32_t userprof, bool create) {
    bool registered = false;
    if (!zvWNGV) {
        if (int rc = REGZARVO(ZV_DEFAULT_INSTANCE_ID)) return rc;
        registered = true;
    }
    INSTGV *g = zvWNGV;
    g->isamerr_cod = 0;
    g->isamfil_num = 0;
    const bool started = idx_state(g).isamtab != nullptr;
    int rc;
    {
        ParamFile pf(create, userprof);
        rc = pf.run(name);
    }
    if (!rc) return 0;
    ErrorKeep keep;
    if (!started && idx_state(g).isamtab) {
        // Closes every file in the key map, frees the tables and stops the
        // instance (the default instance is then removed).
        CLISAM();
    } else if (registered) {
        UNRZARVO(ZV_DEFAULT_INSTANCE_ID);
    }
    return rc;
}

}  // namespace

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int CREISAMX(const char *name, int32_t userprof) { return isam_from_file(name, userprof, true); }

ZV_API int CREISAM(const char *name) { return CREISAMX(name, kDefaultProfile); }

ZV_API int OPNISAMX(const char *name, int32_t userprof) { return isam_from_file(name, userprof, false); }

ZV_API int OPNISAM(const char *name) { return OPNISAMX(name, kDefaultProfile); }

}  // extern "C"

// Index resource carry-over.
//
// Before a set rebuild deletes an index file, every resource of its ring
// (the anchor aside) is copied into a temporary variable-length file, one
// record per resource body; after the new index file exists they are
// added to it in the same order. The walk of the old ring is bounded: it
// stops at a link that is 0, lies past the used end, does not lead to a
// resource header, or leads back to a resource already saved, so a damaged
// ring saves what can be read and never loops.
#include "engine/maint/rescarry.h"

#include <cstring>
#include <new>
#include <unordered_set>
#include <vector>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/filenum.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/statuslog.h"
#include "engine/files/close.h"
#include "engine/core/fcb.h"
#include "engine/files/header.h"
#include "engine/core/header_codec.h"
#include "engine/files/resource.h"
#include "engine/files/superfile.h"
#include "engine/files/varrec.h"
#include "engine/maint/rblcrypt.h"
#include "engine/maint/rblstate.h"

namespace zv {

namespace {

bool wide(const FCB *f) { return (f->hdr.base.hdrflags & kHdr8ByteOffsets) != 0; }

// Open errors of an old index that come from the disk rather than from
// the file's bytes: the rebuild stops on them (and can run again) instead
// of deleting an index whose resources it could not read.
bool transient(int rc) {
    switch (rc) {
    case 10: case 24: case 35: case 36: case 37: case 38: case 49: case 82: case 766: case 920:
        return true;
    default:
        return false;
    }
}

// Whether the file iname (named as the open with `mode` names it) ends
// before its header does: shorter than the base part, or than the base and
// extended parts when the base part says there is one. Such a file cannot
// be read as an index; its open's 36 comes from its bytes, not the disk.
// False when the file cannot be opened, measured or read. The open's
// error codes are left as they were.
bool header_cut_short(const char *iname, uint16_t mode) {
    INSTGV *g = zvWNGV;
    const uint16_t uerr = g->uerr_cod, sys = g->sysiocod;
    struct Keep {
        INSTGV *g;
        uint16_t uerr, sys;
        ~Keep() { g->uerr_cod = uerr, g->sysiocod = sys; }
    } keep{g, uerr, sys};
    int fd = mbopen(nullptr, iname, uint16_t(mode & ~kOpnNoConvert));
    if (fd < 0) return false;
    bool cut = false;
    uint32_t hi = 0;
    uint32_t lo = zvfsize81(&hi, nullptr, fd);
    if (hi != 0xFFFFFFFFu || lo != 0xFFFFFFFFu) {
        const uint64_t size = join64(hi, lo);
        unsigned char buf[128];
        bool seek_failed = false;
        FILEHDR b{};
        if (size < sizeof buf) {
            cut = true;
        } else if (plat_pread(fd, buf, sizeof buf, 0, &seek_failed) == int64_t(sizeof buf) &&
                   decode_base(buf, buf + sizeof buf, &b) == 0) {
            cut = size < header_disk_size(b);
        }
    }
    mbclosm(uint16_t(mode & ~kOpnNoConvert), fd);
    return cut;
}

// Copies the ring after the anchor at `first` into the open save file.
int save_ring(FCB *f, uint64_t first, int savefil) {
    const uint64_t last = join64(f->hdr.ext.numrech, f->hdr.base.numrec);
    const uint32_t hs = wide(f) ? 30 : 22;
    std::unordered_set<uint64_t> seen;
    std::vector<unsigned char> body;
    seen.insert(first);
    RESHDR a;
    if (getrhdr(f, first, &a)) return set_uerr(0);
    for (uint64_t p = a.fwd; p != 0 && p <= last && !seen.count(p);) {
        seen.insert(p);
        RESHDR h;
        if (getrhdr(f, p, &h) || h.usedlen < 8 || uint64_t(h.usedlen) + hs > h.arealen) break;
        body.resize(h.usedlen);
        int32_t got = 0;
        uint64_t at = p + hs;
        int rc = izvio81x(0, f, uint32_t(at >> 32), uint32_t(at), body.data(), int32_t(h.usedlen), &got, hs);
        if (rc || got < int32_t(h.usedlen)) break;
        zvSETHGH(0);
        uint32_t lo = NEWVREC(savefil, int32_t(h.usedlen));
        uint32_t hi = uint32_t(zvGETHGH());
        if (!lo && !hi) return zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 39;
        zvSETHGH(int32_t(hi));
        if ((rc = WRTVREC(savefil, lo, body.data(), int32_t(h.usedlen))) != 0) return rc;
        p = h.fwd;
    }
    return set_uerr(0);
}

}  // namespace

int getidxres(int datno, int idxno, const char *iname, const char *, char *savename, int *savefil, int nmem,
              uint16_t *flags, CamoSave *encsave, int *encset) {
    INSTGV *g = zvWNGV;
    *savefil = kNoSaveFile;
    *flags = 0;
    *encset = 0;
    savename[0] = 0;
    // 1. A superfile member keeps its resources in its host.
    if (zvsname1(iname)) return set_uerr(0);
    // 2. The old index, read only: nothing of it is written.
    constexpr uint16_t kOldIndexMode = 0x7008;
    if (int rc = OPNFILX(idxno, iname, kOldIndexMode, nullptr)) {
        if (transient(rc) && !(rc == 36 && header_cut_short(iname, kOldIndexMode))) return set_uerr(rc);
        // An old index that is gone or whose bytes cannot be read as an
        // index (a file that ends inside its header among them) has nothing
        // left to save; the new one takes the data file's encryption.
        if (rc != 12) {
            char line[96];
            snprintf(line, sizeof line, "Rebuild could not open index file (%d): its resources are not kept...", rc);
            zvrcvlog(line, kLogSingleTry);
            zvrcvlog(iname, kLogSingleTry);
        }
        if (encsave) {
            if (int er = rbl_enc_from_data(encsave, datno)) return set_uerr(er);
            *encset = 1;
        }
        return set_uerr(0);
    }
    FCB *f = fcb_at(idxno);
    // 3. Header flags and members.
    *flags = uint16_t(f->hdr.base.hdrflags & kHdrLeafReserve);
    if (nmem >= 0 && int(f->hdr.base.nmem) != nmem) {
        iclsfilx(idxno, 0);
        return set_uerr(608);
    }
    // The next create takes the old index's encryption; set once every
    // temporary file of the carry-over exists.
    auto take_encryption = [&]() {
        if (!encsave) return 0;
        if (int er = rbl_enc_from_index(encsave, idxno)) return er;
        *encset = 1;
        return 0;
    };
    // 4. Is there a ring with more than its anchor?
    const uint64_t first = join64(wide(f) ? f->hdr.ext.reshdrh : 0, f->hdr.base.reshdr);
    RESHDR a;
    if (!first || getrhdr(f, first, &a) || a.fwd == first || a.fwd == 0) {
        set_uerr(0);
        int rc = take_encryption();
        int cl = iclsfilx(idxno, 0);
        return set_uerr(rc ? rc : cl);
    }
    // 5. The save file, one record per resource.
    int n = rbl_spare_filno();
    int rc = n < 0 ? 46 : iTMPNAME(savename, 256);
    if (!rc) {
        FoundNames made;
        if ((rc = CREDAT(n, savename, 0, 0, 0x1004)) != 0) savename[0] = 0;
    }
    if (!rc) {
        try {
            rc = save_ring(f, first, n);
        } catch (const std::bad_alloc &) {
            rc = 82;
        }
    }
    if (rc) {
        // 6. Nothing stays behind.
        rbl_drop_save(n, savename);
        iclsfilx(idxno, 0);
        return set_uerr(rc);
    }
    if (int er = take_encryption()) {
        rbl_drop_save(n, savename);
        iclsfilx(idxno, 0);
        return set_uerr(er);
    }
    *savefil = n;
    uint16_t keep = g->uerr_cod;
    iclsfilx(idxno, 0);
    g->uerr_cod = keep;
    return set_uerr(0);
}

int rbl_drop_save(int savefil, char *savename) {
    INSTGV *g = zvWNGV;
    uint16_t keep = g->uerr_cod, sys = g->sysiocod;
    int rc = 0;
    if (FCB *s = fcb_at(savefil); s && s->state != 'n') rc = iclsfilx(savefil, 0);
    if (savename && *savename) rbl_drop_file(savename);
    if (savename) *savename = 0;
    g->uerr_cod = keep;
    if (!rc) g->sysiocod = sys;
    return rc;
}

int putidxres(int newidx, int savefil) {
    FCB *s = fcb_at(savefil);
    if (!s || s->state == 'n') return set_uerr(26);
    const uint64_t last = join64(s->hdr.ext.numrech, s->hdr.base.numrec);
    const uint32_t unit = vhdr_size(s);
    std::vector<unsigned char> body;
    const uint64_t bound = last / unit + 2;
    uint64_t steps = 0;
    // A new index file holds no ring until its first resource.
    FCB *x = fcb_at(newidx);
    if (x && !x->hdr.base.reshdr && !x->hdr.ext.reshdrh) {
        if (int rc = ENARES(newidx)) return rc;
    }
    try {
        for (uint64_t pos = first_node_offset(s); pos <= last;) {
            if (++steps > bound) return set_uerr(512);
            VRECHDR h;
            if (int rc = getvhdr81(s, uint32_t(pos >> 32), uint32_t(pos), &h)) return rc;
            if (chkvhdr(&h) || h.arealen < unit) return set_uerr(123);
            if (h.mark == kVrecUsed && h.reclen >= 8) {
                body.resize(h.reclen);
                zvSETHGH(int32_t(pos >> 32));
                if (int rc = RDVREC(savefil, uint32_t(pos), body.data(), int32_t(h.reclen))) return rc;
                uint32_t type, number;
                memcpy(&type, body.data(), 4);
                memcpy(&number, body.data() + 4, 4);
                bool own = type == 0 && (number == 6 || number == 7 || number == 8);
                if (!own) {
                    int rc = ADDRES(newidx, body.data(), int32_t(h.reclen));
                    if (rc == 405 && type == 0 && number == 2) rc = UPDRES(newidx, body.data(), int32_t(h.reclen));
                    if (rc) return set_uerr(rc);
                }
            }
            pos += h.arealen;
        }
    } catch (const std::bad_alloc &) {
        return set_uerr(82);
    }
    return set_uerr(0);
}

}  // namespace zv

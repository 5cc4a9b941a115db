// Storing the definition of a set in its existing data file (PUTIFIL).
//
// The data file is either open already (its create block's word 10 bit
// 0x1, under tfilno) or opened here by the name the IFIL gives. The index
// files are reached only when the key-type bit 0x80 (keys that may not
// change) has to be brought into their headers: through the data file's
// key list when they are open (word 10 bit 0x10000), else opened here by
// name. Invariants: every file this call opened is closed again on every
// path; after a failure no index header keeps a key type this call
// changed, and the data file's header flags are as they were.
#include <cstring>

#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/files/header.h"
#include "engine/files/identity_services.h"
#include "engine/files/xcreblk.h"
#include "engine/isam/fileset.h"
#include "engine/isam/ifil.h"
#include "engine/isam/isammap.h"

namespace zv {

namespace {

constexpr uint32_t kDataOpen = 0x1;          // create block word 10: data file open under tfilno
constexpr uint32_t kIndexesOpen = 0x10000;   //  ... and its indexes through its key list
constexpr uint8_t kFixedKeyType = 0x80;      // key type: keys may not change

bool any_fixed_keys(const IFIL *ifil) {
    for (int k = 0; k < ifil->dnumidx; k++)
        if (ifil->iidxarr[k].ikeytyp & kFixedKeyType) return true;
    return false;
}

class Store {
public:
    explicit Store(IFILPARM *p) : p_(p), ifil_(p->ifil) {}
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;
    int run();

private:
    int open_data(const char *dname);
    int reach_indexes(const char *dname, const SetShape &shape, int *idxno);
    int fix_key_types(const int *idxno);
    int check_serial_segments();
    int mark_data_file();
    void put_back();
    int close_own();

    IFILPARM *p_;
    IFIL *ifil_;
    uint32_t word10_ = 0;
    int datno_ = -1;
    bool owndat_ = false;
    int own_[kMapIndexes] = {};   // index files opened here
    int nown_ = 0;
    struct Changed {
        FCB *f;
        uint8_t old;
    };
    Changed changed_[kMapIndexes] = {};
    int nchanged_ = 0;
    bool flagchanged_ = false;
    // The definition block as it was before the store, put back after a
    // store that failed (it may have been written in part).
    struct OldImage {
        void *image = nullptr;
        int32_t len = 0;
        int type = 0;
        ~OldImage() { zvputmem(image); }
        void read(int datno, int t) {
            type = t;
            if (zvrdefx(datno, t == -1 ? 0 : t, t == -1 ? 129 : 0, &image, &len) != 0) {
                zvputmem(image);
                image = nullptr;
            }
        }
    } old_;
    bool stored_ = false;
};

int Store::open_data(const char *dname) {
    INSTGV *g = zvWNGV;
    if (word10_ & kDataOpen) {
        datno_ = ifil_->tfilno;
        FCB *d = tstfnm(datno_);
        if (!d) return set_fail(g->uerr_cod, datno_);
        if (d->hdr.base.sfiltyp == kSfMember) return set_fail(62, datno_);
        if (d->kind == kKindIndex) return set_fail(48, datno_);
        return 0;
    }
    int n = AVLFILNUM(1);
    if (n < 0) return set_fail(g->uerr_cod ? g->uerr_cod : 46, 0);
    if (int rc = OPNFIL(n, dname, uint16_t((ifil_->dfilmod & 0xEFF6) | 0x1000))) return set_fail(rc, 0);
    datno_ = n;
    owndat_ = true;
    return 0;
}

// The file number of every index of the set into idxno.
int Store::reach_indexes(const char *dname, const SetShape &shape, int *idxno) {
    INSTGV *g = zvWNGV;
    const int n = ifil_->dnumidx;
    for (int k = 0; k < n; k++)
        if (ifil_->iidxarr[k].ikeylen < 0) return set_fail(643, datno_);
    if ((word10_ & kDataOpen) && (word10_ & kIndexesOpen)) {
        const uint16_t *list = isam_actlist(datno_);
        for (int k = 0; k < n; k++) {
            uint16_t v = list ? list[k] : kMapNone;
            if (v == kMapShared) return set_fail(643, datno_);
            if (v == kMapNone || !set_file_open(fcb_at(v))) return set_fail(608, datno_);
            idxno[k] = v;
        }
    } else {
        int first = n > 0 ? AVLFILNUM(n) : 0;
        if (first < 0) return set_fail(g->uerr_cod ? g->uerr_cod : 46, datno_);
        for (int k = 0; k < n; k++) {
            idxno[k] = first + k;
            if (!shape.is_file(k)) continue;
            const IIDX &x = ifil_->iidxarr[k];
            char iname[256];
            int rc = x.aidxnam ? buildAidxnam(iname, x.aidxnam, sizeof iname, dname) : zviflnam(p_, iname, 1, nullptr);
            if (rc) return set_fail(rc, first + k);
            if ((rc = OPNFIL(first + k, iname, uint16_t((ifil_->ifilmod & 0xEFF6) | 0x1000))))
                return set_fail(rc, first + k);
            own_[nown_++] = first + k;
        }
    }
    for (int k = 0; k < n; k++) {
        if (!shape.is_file(k)) continue;
        FCB *x = fcb_at(idxno[k]);
        if (x->kind != kKindIndex || x->hdr.base.kmem != 0) return set_fail(608, idxno[k]);
        if (int(x->hdr.base.nmem) != shape.nmem[k]) return set_fail(124, idxno[k]);
    }
    return 0;
}

// Brings key-type bit 0x80 of every index file (and member) into line with
// the definition, remembering each byte changed.
int Store::fix_key_types(const int *idxno) {
    for (int k = 0; k < ifil_->dnumidx; k++) {
        FCB *x = fcb_at(idxno[k]);
        if (!set_file_open(x)) return set_fail(608, idxno[k]);
        uint8_t want = uint8_t(ifil_->iidxarr[k].ikeytyp) & kFixedKeyType;
        uint8_t old = x->hdr.base.ktype;
        if ((old & kFixedKeyType) == want) continue;
        changed_[nchanged_++] = Changed{x, old};
        x->hdr.base.ktype = uint8_t((old & ~kFixedKeyType) | want);
        int rc = tstupd(x);
        if (!rc) rc = wrthdr(x);
        if (rc) return set_fail(rc, idxno[k]);
    }
    return 0;
}

// Serial-number segments of the definition against the data file. The
// pair they fix lives in the file's block only and is put back on failure.
int Store::check_serial_segments() {
    FCB *d = fcb_at(datno_);
    if (!(d->hdr.base.hdrflags & kHdrHasExt)) return 0;
    const int32_t serpos = d->serpos, srllen = d->srllen;
    for (int k = 0; k < ifil_->dnumidx; k++) {
        const IIDX &x = ifil_->iidxarr[k];
        for (int s = 0; s < x.inumseg && x.isegarr; s++) {
            int base = x.isegarr[s].segmode & 0x10F;
            if (base != 3 && base != 257) continue;
            if (int rc = zvsrlseg(d, nullptr, nullptr, -1, s, &x.isegarr[s])) {
                d->serpos = serpos;
                d->srllen = srllen;
                return set_fail(rc, datno_);
            }
        }
    }
    return 0;
}

// The data file's mark of indexes whose keys may not change.
int Store::mark_data_file() {
    FCB *d = fcb_at(datno_);
    uint32_t &flags = d->hdr.base.hdrflags2;
    bool want = any_fixed_keys(ifil_);
    if (((flags & kHdr2FixedKeys) != 0) == want) return 0;
    flags ^= kHdr2FixedKeys;
    flagchanged_ = true;
    int rc = tstupd(d);
    if (!rc) rc = wrthdr(d);
    return rc ? set_fail(rc, datno_) : 0;
}

// Undoes the header changes of a failed store; the failure's codes stay.
void Store::put_back() {
    ErrorKeep keep;
    for (int i = nchanged_ - 1; i >= 0; i--) {
        changed_[i].f->hdr.base.ktype = changed_[i].old;
        wrthdr(changed_[i].f);
    }
    if (flagchanged_) {
        FCB *d = fcb_at(datno_);
        d->hdr.base.hdrflags2 ^= kHdr2FixedKeys;
        wrthdr(d);
    }
    if (stored_ && old_.image) {
        DEFBLK blk{old_.image, old_.len, old_.len, uint16_t(old_.type == -1 ? 129 : 0), 1};
        SETDEFBLKX(datno_, &blk, old_.type == -1 ? 0 : old_.type);
    }
}

// Closes what this call opened: 0 or the first close error.
int Store::close_own() {
    int first = 0;
    for (int i = nown_ - 1; i >= 0; i--) {
        int rc = close_set_file(own_[i]);
        if (rc && !first) first = rc;
    }
    if (owndat_) {
        int rc = close_set_file(datno_);
        if (rc && !first) first = rc;
    }
    return first;
}

int Store::run() {
    INSTGV *g = zvWNGV;
    // 1. The definition and its names.
    if (!ifil_) return set_fail(540, 0);
    if (ifil_->dnumidx > kMapIndexes) return set_fail(107, 0);
    if (!ifil_->pfilnam || ifil_->dnumidx < 0 || (ifil_->dnumidx > 0 && !ifil_->iidxarr)) return set_fail(540, 0);
    SetShape shape;
    if (!classify(ifil_, &shape)) return set_fail(540, 0);
    const XCREblk *blk = p_->xcre && p_->xcre != ZV_XCRE_DEFAULT ? p_->xcre : nullptr;
    word10_ = blk ? blk->flags : 0;
    const int type = blk ? int(int32_t(blk->width15)) : 0;
    if ((word10_ & kIndexesOpen) && !(word10_ & kDataOpen)) return set_fail(749, 0);
    char dname[256];
    if (int rc = zviflnam(p_, dname, 0, nullptr)) return set_fail(rc, 0);
    // 2. The data file.
    if (int rc = open_data(dname)) return rc;
    int rc = 0;
    // 3. Key types of the index files.
    FCB *d = fcb_at(datno_);
    if (any_fixed_keys(ifil_) || (d->hdr.base.hdrflags2 & kHdr2FixedKeys)) {
        int idxno[kMapIndexes];
        rc = reach_indexes(dname, shape, idxno);
        if (!rc) rc = fix_key_types(idxno);
    }
    // 4. Resources.
    if (!rc) {
        int r = ENARES(datno_);
        if (r && r != 400) rc = set_fail(r, datno_);
    }
    // 5. Serial segments.
    if (!rc) rc = check_serial_segments();
    // 7, then 6. The data file's mark, then the definition: the store is
    // the last change, so that a failing one can be undone whole.
    if (!rc) rc = mark_data_file();
    if (!rc) {
        old_.read(datno_, type);
        stored_ = true;
        if ((rc = zvrstdefx(datno_, ifil_, p_->dataext, p_->idxext, 0, type)) != 0)
            rc = set_fail(rc, g->isamfil_num ? g->isamfil_num : datno_);
    }
    // 8. A failure puts the key types, the mark and the definition back.
    if (rc) put_back();
    // 9. What this call opened.
    if (rc) {
        ErrorKeep keep;
        close_own();
        return rc;
    }
    if (int closed = close_own()) return set_fail(closed, datno_);
    set_uerr(0);
    return ierr(0, 0);
}

}  // namespace

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int PUTIFILz(IFILPARM *p) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    g->isamfil_num = 0;
    if (!p) return set_fail(540, 0);
    Store s(p);
    return s.run();
}

ZV_API int PUTIFILX8(IFIL *ifil, const char *dataext, const char *idxext, const char *password, XCREblk *xcre) {
    IFILPARM p;
    setifil8(&p, ifil, dataext, idxext, 0, nullptr, password, xcre);
    return PUTIFILz(&p);
}

ZV_API int PUTIFILX(IFIL *ifil, const char *dataext, const char *idxext, const char *password) {
    return with_default_blocks(ifil, [&](XCREblk *b) { return PUTIFILX8(ifil, dataext, idxext, password, b); });
}

ZV_API int PUTIFIL(IFIL *ifil) { return PUTIFILX(ifil, nullptr, nullptr, nullptr); }

}  // extern "C"

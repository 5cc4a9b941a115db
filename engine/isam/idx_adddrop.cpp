// Indexes added to and dropped from an open data file.
//
// Adding (PRMIIDX permanent, TMPIIDX temporary, RBLIIDX reload): the new
// index files and members take a fresh run of file numbers, enter the key
// map after the data file's present indexes, are loaded from the records
// (unless asked to stay empty), and a permanent add stores the combined
// definition. Any failure once the first new file exists deletes every
// file the call created, takes their key-map entries back, ends the data
// file's index list where it was and puts the old stored definition back
// byte for byte; a reload only reports its failure.
//
// Dropping (zvDROPIDX): the stored definition, the stored conditions and
// the header mark of fixed keys are brought up to date first, then the
// index file is deleted, then the key lists move down. A delete that fails
// puts the stored definition, the conditions and the mark back and leaves
// the index in the key map, open again.
#include <cstring>
#include <new>
#include <vector>

#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/files/delete_rename.h"
#include "engine/core/fcb.h"
#include "engine/files/header.h"
#include "engine/files/identity_services.h"
#include "engine/files/xcreblk.h"
#include "engine/index/ksegdef.h"
#include "engine/isam/cidx.h"
#include "engine/isam/context.h"
#include "engine/isam/fileset.h"
#include "engine/isam/ifil.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"
#include "engine/isam/isamstate.h"
#include "engine/isam/partition.h"
#include "engine/maint/maint_services.h"

namespace zv {

namespace {

constexpr uint16_t kHdrTemporary = 0x20;        // index header flag: temporary index
constexpr uint32_t kBlockRefused = 0x810;       // create block word 0 bits an add refuses
constexpr uint32_t kPartitionBits = 0xC00000;
constexpr uint32_t kPartitioned = 0x1C00000;    // flmode2: partitioned set
constexpr uint32_t kGlobalIndex = 0x1000000;    // flmode2: global partition index
constexpr uint8_t kFixedKeyType = 0x80;

enum class Load { None, Keys, Reload };

// The stored definition of a data file: the image as it is stored (put
// back byte for byte after a failure) and the IFIL rebuilt from it.
struct StoredDef {
    void *image = nullptr;
    int32_t len = 0;
    IFIL *ifil = nullptr;
    char dext[9] = {}, iext[9] = {};
    StoredDef() = default;
    StoredDef(const StoredDef &) = delete;
    StoredDef &operator=(const StoredDef &) = delete;
    ~StoredDef() {
        zvputmem(image);
        zvputmem(ifil);
    }
    // 0; 408 none stored (also when resources are off); 197 no memory; 198.
    int read(int datno, FCB *dat) {
        int rc = zvrdefx(datno, 0, 0, &image, &len);
        if (rc == 0 && !image) rc = 408;
        if (rc == 401 || rc == 438) rc = 408;
        if (rc) return rc;
        ifil = makifil(image, dext, iext, dat->hdr.base.hdrflags2, len);
        return ifil ? 0 : (zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 197);
    }
    // Stores the image read back; the failure's codes stay as they are.
    void put_back(int datno) {
        ErrorKeep keep;
        DEFBLK blk{image, len, len, 0, 1};
        SETDEFBLKX(datno, &blk, 0);
    }
};

// The rebuild work buffer, released with the call.
struct WorkBuffer {
    ~WorkBuffer() { rbfreebuf(); }
};

// The status block a progress routine reports into, made for the call when
// the routine has none.
struct StatusBlock {
    bool own = false;
    int make() { return rbl_take_status(&own); }
    ~StatusBlock() { rbl_give_status(own); }
};

class IndexAdd {
public:
    IndexAdd(IFILPARM *p, bool temporary, Load load) : p_(p), ifil_(p->ifil), temp_(temporary), load_(load) {}
    IndexAdd(const IndexAdd &) = delete;
    IndexAdd &operator=(const IndexAdd &) = delete;
    ~IndexAdd() { clrxcre(blocks_); }
    int run();

private:
    int check_existing();
    int check_reload();
    int make_files();
    int store_combined();
    int load_keys();
    int fail(int code, int filno);
    void undo();

    IFILPARM *p_;
    IFIL *ifil_;
    bool temp_;
    Load load_;
    int datno_ = -1;
    FCB *dat_ = nullptr;
    int first_ = -1;
    int slot0_ = 0;          // key-list slot of the first new index
    SetShape shape_;
    StoredDef def_;
    IFIL work_ = {};         // the caller's IFIL as the key map reads it
    XCREblk *blocks_ = nullptr;
    bool begun_ = false;     // the first new file was attempted
    bool stored_ = false;    // the combined definition was stored
    int last_ = -1;          // highest new index position reached
    bool made_[kMapIndexes] = {};
    int16_t marks_[kMapIndexes] = {};   // partition marks (key type bits 0x60) of a partitioned set
    bool marked_ = false;
    char base_[256] = {};
};

int IndexAdd::fail(int code, int filno) {
    set_fail(code, filno);
    if (begun_ && load_ != Load::Reload) undo();
    return code;
}

// Takes back everything the call made; the failure's codes stay.
void IndexAdd::undo() {
    INSTGV *g = zvWNGV;
    ErrorKeep keep;
    ifil_->tfilno = -1;
    {
        OptionBit closing(&g->fileopt[0], kIsamClosing);
        for (int k = last_; k >= 0; k--) {
            int n = first_ + k;
            if (made_[k]) discard_set_file(n);
            if (ISAMMAPENT *e = isam_entry(n); e && e->inuse != kMapFree) {
                clearifil(n, 1, 0);
                e->varpart = 0;
            }
        }
    }
    if (slot0_ < kMapIndexes) setzvEOK(datno_, slot0_);
    if (stored_) def_.put_back(datno_);
}

// Step 2 of an add: the data file's present indexes.
int IndexAdd::check_existing() {
    const uint16_t *list = isam_actlist(datno_);
    int present = 0;
    for (int s = 0; list && s < kMapIndexes && list[s] != kMapNone; s++) {
        present++;
        if (list[s] == kMapShared || temp_) continue;
        FCB *x = tstfnm(list[s]);
        if (!x) return set_fail(zvWNGV->uerr_cod, list[s]);
        if (x->hdr.base.hdrflags & kHdrTemporary) return set_fail(783, list[s]);
    }
    if (present + ifil_->dnumidx > kMapIndexes) return set_fail(107, datno_);
    slot0_ = present;
    return 0;
}

// A reload: the data file and the index files of the definition.
int IndexAdd::check_reload() {
    if (dat_->hdr.base.sfiltyp == kSfMember || (dat_->hdr.base.flmode & 0x10)) return set_fail(454, datno_);
    first_ = ifil_->tfilno;
    if (first_ < 0) return set_fail(608, datno_);
    for (int k = 0; k < ifil_->dnumidx; k++) {
        FCB *x = fcb_at(first_ + k);
        if (!set_file_open(x) || x->kind != kKindIndex || x->hdr.base.keylen != uint16_t(ifil_->iidxarr[k].ikeylen))
            return set_fail(608, first_ + k);
    }
    return 0;
}

// Step 9: the new index files and members, entered in the key map.
int IndexAdd::make_files() {
    INSTGV *g = zvWNGV;
    begun_ = true;
    int nextblock = 1;
    for (int k = 0; k < ifil_->dnumidx; k++) {
        const IIDX &x = ifil_->iidxarr[k];
        const int n = first_ + k;
        last_ = k;
        int rc;
        // A partitioned set's index keeps its partition mark.
        const int16_t keytype = marked_ ? int16_t((x.ikeytyp & ~0x60) | marks_[k]) : x.ikeytyp;
        OptionBit keep(&g->fileopt[0], marked_ ? kOpt1KeyTypeBits : 0u);
        if (!shape_.is_file(k)) {
            rc = CREMEM(first_ + shape_.host[k], x.ikeylen, keytype, x.ikeydup, k - shape_.host[k]);
        } else {
            // Named after the data file as open and create name it.
            char iname[256];
            if ((rc = buildAidxnam(iname, x.aidxnam, sizeof iname, dat_->name)) != 0) return fail(rc, n);
            XCREblk *blk = blocks_ ? &blocks_[nextblock++] : nullptr;
            {
                OptionBit mark(&g->fileopt[2], kIsamIndexMark);
                rc = CREIDXX8(n, iname, x.ikeylen, keytype, x.ikeydup, shape_.nmem[k], ifil_->ixtdsiz,
                              uint16_t(ifil_->ifilmod), int32_t(p_->permmask), p_->group, p_->password, blk);
            }
            if (rc == 0 || set_file_open(fcb_at(n))) made_[k] = true;
            if (!rc && temp_) rc = PUTHDR(n, kHdrTemporary, 20);
        }
        if (rc) return fail(rc, n);
        if ((rc = setimap(k, &work_, first_, slot0_, 1)) != 0) return fail(rc, g->isamfil_num);
        if (x.icolseq && (rc = SETALTSEQ(n, x.icolseq)) != 0) return fail(rc, n);
        if (x.ipadbyt && (rc = SETVARBYTS(n, x.ipadbyt)) != 0) return fail(rc, n);
        isam_entry(n)->inuse = kMapByIfil;
    }
    // 10. The data file's list ends after them; the new indexes of a
    // partitioned set get their partition-key maps.
    if (slot0_ + ifil_->dnumidx < kMapIndexes) setzvEOK(datno_, slot0_ + ifil_->dnumidx);
    if (marked_) {
        if (int rc = setkincmap(dat_, datno_)) return fail(rc, datno_);
    }
    return 0;
}

// Step 11: the old definition with the new indexes after its own.
int IndexAdd::store_combined() {
    const IFIL &old = *def_.ifil;
    std::vector<IIDX> all;
    try {
        all.assign(old.iidxarr, old.iidxarr + (old.dnumidx > 0 ? old.dnumidx : 0));
        all.insert(all.end(), ifil_->iidxarr, ifil_->iidxarr + ifil_->dnumidx);
    } catch (const std::bad_alloc &) {
        return fail(197, datno_);
    }
    IFIL combined = old;
    combined.iidxarr = all.data();
    combined.dnumidx = int16_t(all.size());
    combined.pfilnam = base_;
    stored_ = true;
    if (int rc = zvrstdefx(datno_, &combined, def_.dext, def_.iext, 0, 0)) return fail(rc, datno_);
    return 0;
}

// Step 12: the keys of the new indexes from the records.
int IndexAdd::load_keys() {
    for (int k = 0; k < ifil_->dnumidx; k++) {
        const int n = first_ + k;
        int32_t dups = 0, bad = 0;
        int rc;
        if (!shape_.is_file(k)) {
            const int host = first_ + shape_.host[k];
            rc = RBLMEM(datno_, nullptr, host, n - host, nullptr, nullptr, 0, &dups, 0, &bad);
        } else {
            FCB *x = fcb_at(n);
            if (x && (x->hdr.ext.flmode2 & kGlobalIndex) && (rc = zvxfrres(datno_, n)) != 0) return fail(rc, n);
            rc = RBLIDX(datno_, nullptr, n, nullptr, nullptr, 0, &dups, 0, &bad);
        }
        if (rc) return fail(rc, n);
    }
    return 0;
}

int IndexAdd::run() {
    INSTGV *g = zvWNGV;
    if (!ifil_) return set_fail(540, 0);
    // 1. The request and the data file.
    if (ifil_->dnumidx <= 0) return set_fail(465, ifil_->dfilno);
    datno_ = ifil_->dfilno;
    ISAMMAPENT *de = isam_entry(datno_);
    dat_ = de && de->inuse != kMapFree ? tstfnm(datno_) : nullptr;
    if (!dat_ || dat_->kind == kKindIndex) return set_fail(466, datno_);
    if (!ifil_->iidxarr) return set_fail(540, datno_);
    if (ifil_->dnumidx > kMapIndexes) return set_fail(107, datno_);
    if (!classify(ifil_, &shape_)) return set_fail(540, datno_);
    // 2. The present indexes, or the reloaded ones.
    if (load_ == Load::Reload) {
        if (int rc = check_reload()) return rc;
    } else if (int rc = check_existing()) {
        return rc;
    }
    // 3. The first new index starts an index file of its own.
    if (!ifil_->iidxarr[0].aidxnam) return set_fail(467, datno_);
    // 4. The stored definition.
    if (int rc = def_.read(datno_, dat_)) return set_fail(rc, datno_);
    // 5. The new numbers.
    if (load_ != Load::Reload) {
        int first = filrng(ifil_->tfilno, ifil_->dnumidx - 1, 0);
        if (first < 0) return set_fail(-first, datno_);
        first_ = first;
        ifil_->tfilno = int16_t(first);
    }
    // 6. The work buffer and the progress routine's status block.
    WorkBuffer buffer;
    if (!rbgetbuf(dat_->hdr.base.reclen > 38 ? dat_->hdr.base.reclen : 38)) return set_fail(197, datno_);
    StatusBlock status;
    if (int rc = status.make()) return set_fail(rc, datno_);
    // 7. Create blocks of the new files.
    if (load_ != Load::Reload) {
        if (int rc = chkxcre(p_->xcre, nismfil(ifil_), &blocks_)) return set_fail(rc, datno_);
        const int nblocks = nismfil(ifil_);
        for (int i = 0; blocks_ && i < nblocks; i++) {
            uint32_t &mode = blocks_[i].mode;
            mode = (mode & ~0x40u) | (dat_->hdr.base.hdrflags & 0x40u);
            mode &= ~kBlockRefused;
            mode = (mode & ~kPartitionBits) | (dat_->hdr.ext.flmode2 & kPartitionBits);
        }
        if (dat_->hdr.ext.flmode2 & kPartitioned) {
            for (int k = 0; k < ifil_->dnumidx; k++) {
                int rc = partition_mark(datno_, ifil_->iidxarr[k]);
                if (rc < 0) return set_fail(-rc, first_ + k);
                marks_[k] = int16_t(rc);
            }
            marked_ = true;
        }
    }
    // 8. The IFIL as the key map reads it.
    work_ = *ifil_;
    work_.dfilno = int16_t(datno_);
    work_.dreclen = dat_->hdr.base.reclen;
    if (dat_->kind == kKindVariable) work_.dfilmod = int16_t(work_.dfilmod | 0x4);
    else work_.dfilmod = int16_t(work_.dfilmod & ~0x4);
    int rc = 0;
    if (load_ != Load::Reload) {
        // 9. The base name: the data file's name without its extension.
        size_t n = strnlen(dat_->name, sizeof dat_->name);
        if (n >= 255) return set_fail(198, datno_);
        memcpy(base_, dat_->name, n + 1);
        if (!(def_.ifil->dfilmod & 0x200)) trimExtension(base_, def_.dext[0] ? def_.dext : g->defext[0]);
        rc = make_files();
        // 11. A permanent add stores the definition with the new indexes.
        if (!rc && !temp_) rc = store_combined();
    }
    // 12. Keys.
    if (!rc && load_ != Load::None) rc = load_keys();
    if (rc) return rc;
    // 13. Partition members and contexts.
    if (load_ != Load::Reload && !temp_ && (dat_->hdr.ext.flmode2 & kFlmode2PartHost)) {
        if ((rc = zvpartiidx(dat_, datno_, slot0_, p_, 1, 0)) != 0) return fail(rc, datno_);
    }
    if (load_ != Load::Reload && isam_state(g).ctxtab) {
        IFIL added = {};
        added.dfilno = int16_t(datno_);
        added.tfilno = int16_t(first_);
        added.dnumidx = ifil_->dnumidx;
        if ((rc = addconbuf(dat_, &added)) != 0) {
            // Contexts extended before the failure lose the new blocks again.
            {
                ErrorKeep keep;
                dltconbuf(dat_, datno_, first_, ifil_->dnumidx);
            }
            return fail(rc, datno_);
        }
    }
    set_uerr(0);
    return ierr(0, 0);
}

int add_indexes(IFILPARM *p, bool temporary, Load load) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    g->isamfil_num = 0;
    if (!p) return set_fail(540, 0);
    const XCREblk *blk = p->xcre && p->xcre != ZV_XCRE_DEFAULT ? p->xcre : nullptr;
    int rc;
    if (load != Load::Reload && blk && (blk->mode & kBlockRefused)) {
        rc = set_fail(454, p->ifil ? p->ifil->dfilno : 0);
    } else {
        try {
            IndexAdd add(p, temporary, load);
            rc = add.run();
        } catch (const std::bad_alloc &) {
            rc = set_fail(197, 0);
        }
    }
    // A failed add hands out no numbers.
    if (rc && p->ifil && load != Load::Reload) p->ifil->tfilno = -1;
    return rc;
}

Load load_of(const IFIL *ifil) { return ifil && ifil->dxtdsiz == 3 ? Load::None : Load::Keys; }

// ---- Drop -------------------------------------------------------------------------

class IndexDrop {
public:
    explicit IndexDrop(int idxno) : idxno_(idxno) {}
    IndexDrop(const IndexDrop &) = delete;
    IndexDrop &operator=(const IndexDrop &) = delete;
    int run();

private:
    int check();
    int change_stored();
    int clear_mark();
    int remove();
    void put_back();
    void reopen();
    void move_down();

    int idxno_;
    FCB *x_ = nullptr;
    int datno_ = -1;
    FCB *dat_ = nullptr;
    int count_ = 0;                     // index records dropped: the file and its members
    int slot_ = -1;                     // its first slot in the data file's lists
    int rel_ = -1;                      // its relative number
    StoredDef def_;
    bool hasdef_ = false;
    bool defchanged_ = false;
    std::vector<unsigned char> conds_;  // the stored conditions before the drop
    bool condchanged_ = false;
    bool markchanged_ = false;
    char name_[256] = {};
    uint16_t mode_ = 0;
};

// Steps 1 to 4: what may be dropped, and where it stands.
int IndexDrop::check() {
    INSTGV *g = zvWNGV;
    x_ = tstfnm(idxno_);
    if (!x_) return set_fail(g->uerr_cod, idxno_);
    if (x_->kind == kKindIndex && x_->hdr.base.kmem != 0) return set_fail(23, idxno_);
    if (x_->kind != kKindIndex) return set_fail(48, idxno_);
    if (x_->hdr.base.sfiltyp == kSfMember) return set_fail(62, idxno_);
    if (x_->hdr.base.hdrflags & kHdrTemporary) return set_fail(446, idxno_);
    if (!isam_state(g).active) return set_fail(464, idxno_);
    ISAMMAPENT *e = isam_entry(idxno_);
    if (!e || e->inuse == kMapFree || e->datno == kMapNone) return set_fail(614, idxno_);
    datno_ = e->datno;
    rel_ = int16_t(e->relidx);
    dat_ = tstfnm(datno_);
    if (!dat_) return set_fail(g->uerr_cod, datno_);
    if (dat_->hdr.base.sfiltyp == kSfMember) return set_fail(62, datno_);
    count_ = int(x_->hdr.base.nmem) + 1;
    // 3. The stored definition.
    int rc = def_.read(datno_, dat_);
    if (rc && rc != 408) return set_fail(rc, datno_);
    hasdef_ = rc == 0;
    // 4. Its place in the lists.
    const uint16_t *list = isam_actlist(datno_);
    int defined = 0, pos = -1;
    for (int s = 0; list && s < kMapIndexes && list[s] != kMapNone; s++) {
        if (list[s] == kMapShared) continue;
        if (list[s] == idxno_) {
            slot_ = s;
            pos = defined;
        }
        defined++;
    }
    if (slot_ < 0) return set_fail(608, idxno_);
    for (int m = 1; m < count_; m++)
        if (slot_ + m >= kMapIndexes || list[slot_ + m] != idxno_ + m) return set_fail(608, idxno_);
    if (hasdef_ && (def_.ifil->dnumidx != defined || pos + count_ > def_.ifil->dnumidx)) return set_fail(608, idxno_);
    if (hasdef_) rel_ = pos;
    return 0;
}

// Steps 5 and 6: the definition and the conditions without the index.
int IndexDrop::change_stored() {
    const int32_t n = iGETCRES(datno_, 0, nullptr);
    if (n > 0) {
        conds_.resize(size_t(n));
        if (iGETCRES(datno_, n, conds_.data()) != n) return set_fail(zvWNGV->uerr_cod, datno_);
    } else if (zvWNGV->uerr_cod != 0 && zvWNGV->uerr_cod != 408) {
        return set_fail(zvWNGV->uerr_cod, datno_);
    }
    if (hasdef_) {
        IFIL &old = *def_.ifil;
        const int pos = rel_;
        std::vector<IIDX> kept(old.iidxarr, old.iidxarr + pos);
        kept.insert(kept.end(), old.iidxarr + pos + count_, old.iidxarr + old.dnumidx);
        IFIL left = old;
        left.dnumidx = int16_t(kept.size());
        left.iidxarr = kept.empty() ? nullptr : kept.data();
        defchanged_ = true;
        if (int rc = zvrstdefx(datno_, &left, def_.dext, def_.iext, 1, 0)) return set_fail(rc, datno_);
    }
    if (!conds_.empty()) {
        condchanged_ = true;
        if (int rc = drop_conditions(datno_, rel_, count_)) return set_fail(rc, datno_);
    }
    return 0;
}

// Step 7: the data file's mark of fixed keys when no index left has them.
int IndexDrop::clear_mark() {
    if (!(dat_->hdr.base.hdrflags2 & kHdr2FixedKeys)) return 0;
    const uint16_t *list = isam_actlist(datno_);
    for (int s = 0; list && s < kMapIndexes && list[s] != kMapNone; s++) {
        if (list[s] == kMapShared || (s >= slot_ && s < slot_ + count_)) continue;
        FCB *x = fcb_at(list[s]);
        if (x && (x->hdr.base.ktype & kFixedKeyType)) return 0;
    }
    dat_->hdr.base.hdrflags2 &= ~kHdr2FixedKeys;
    markchanged_ = true;
    int rc = tstupd(dat_);
    if (!rc) rc = wrthdr(dat_);
    return rc ? set_fail(rc, datno_) : 0;
}

// The index file as it was: open again when the failed delete closed it.
void IndexDrop::reopen() {
    INSTGV *g = zvWNGV;
    if (set_file_open(fcb_at(idxno_))) return;
    {
        OptionBit mark(&g->fileopt[2], kIsamIndexMark);
        if (OPNFIL(idxno_, name_, mode_)) return;
    }
    for (int m = 0; m < count_; m++) {
        chkrvnum(datno_, idxno_ + m);
        chkrecbyt(datno_, idxno_ + m);
        zvksgmap(idxno_ + m);
    }
}

// Undoes steps 5 to 7 after a failed delete; the failure's codes stay.
void IndexDrop::put_back() {
    ErrorKeep keep;
    if (markchanged_) {
        dat_->hdr.base.hdrflags2 |= kHdr2FixedKeys;
        wrthdr(dat_);
    }
    if (condchanged_) iPUTCRES(datno_, conds_.data(), int32_t(conds_.size()), 2, -1);
    if (defchanged_) def_.put_back(datno_);
    reopen();
}

// Step 9: later indexes move down over the dropped ones, which leave the
// key map.
void IndexDrop::move_down() {
    uint16_t *lists[2] = {isam_deflist(datno_), isam_actlist(datno_)};
    for (uint16_t *list : lists) {
        int s = slot_;
        for (; s + count_ < kMapIndexes && list[s + count_] != kMapNone; s++) list[s] = list[s + count_];
        for (; s < kMapIndexes; s++) list[s] = kMapNone;
    }
    const uint16_t *act = lists[1];
    for (int s = slot_; s < kMapIndexes && act[s] != kMapNone; s++) {
        if (act[s] == kMapShared) continue;
        if (ISAMMAPENT *e = isam_entry(act[s])) e->relidx = uint16_t(e->relidx - count_);
    }
    for (int m = 0; m < count_; m++) {
        clearifil(idxno_ + m, 1, 0);
        if (ISAMMAPENT *e = isam_entry(idxno_ + m)) e->varpart = 0;
    }
}

int IndexDrop::remove() {
    INSTGV *g = zvWNGV;
    memcpy(name_, x_->name, sizeof name_);
    mode_ = uint16_t(x_->hdr.base.flmode & 0x7FCF);
    int rc;
    {
        OptionBit setclose(&g->fileopt[2], kIsamSetClose);
        rc = DELFIL(idxno_);
    }
    if (rc) {
        set_fail(rc, idxno_);
        put_back();
        return rc;
    }
    return 0;
}

int IndexDrop::run() {
    if (int rc = check()) return rc;
    int rc = change_stored();
    if (!rc) rc = clear_mark();
    if (rc) {
        put_back();
        return rc;
    }
    // 8. The delete. (Closing the index file also unlinks it from the data
    // file as its record-position index.)
    if ((rc = remove()) != 0) return rc;
    move_down();
    // 10. The conditions under the new numbers.
    if (condchanged_) {
        rc = reload_conditions(datno_);
        if (rc == 401 || rc == 408 || rc == 438) rc = 0;
        if (rc) return set_fail(rc, datno_);
    }
    // 12, 13. Partition members and contexts.
    if (dat_->hdr.ext.flmode2 & kFlmode2PartHost) {
        if ((rc = zvpartdrop(dat_, nullptr, datno_, rel_)) != 0) return set_fail(rc, datno_);
    }
    if (isam_state(zvWNGV).ctxtab) {
        if ((rc = dltconbuf(dat_, datno_, idxno_, count_)) != 0) return set_fail(rc, datno_);
    }
    set_uerr(0);
    return ierr(0, 0);
}

}  // namespace

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int PRMIIDXz(IFILPARM *p) { return add_indexes(p, false, load_of(p ? p->ifil : nullptr)); }

ZV_API int PRMIIDX8(IFIL *ifil, XCREblk *xcre) {
    IFILPARM p;
    setifil8(&p, ifil, nullptr, nullptr, 0, nullptr, nullptr, xcre);
    return PRMIIDXz(&p);
}

// The add entries without create blocks: default blocks; tfilno -1 when
// even those cannot be made.
ZV_API int PRMIIDX(IFIL *ifil) {
    int rc = with_default_blocks(ifil, [ifil](XCREblk *b) { return PRMIIDX8(ifil, b); });
    if (rc && ifil) ifil->tfilno = -1;
    return rc;
}

ZV_API int TMPIIDXz(IFILPARM *p) { return add_indexes(p, true, load_of(p ? p->ifil : nullptr)); }

ZV_API int TMPIIDXX8(IFIL *ifil, int32_t permmask, const char *group, const char *password, XCREblk *xcre) {
    IFILPARM p;
    setifil8(&p, ifil, nullptr, nullptr, permmask, group, password, xcre);
    return TMPIIDXz(&p);
}

ZV_API int TMPIIDXX(IFIL *ifil, int32_t permmask, const char *group, const char *password) {
    int rc = with_default_blocks(ifil, [&](XCREblk *b) { return TMPIIDXX8(ifil, permmask, group, password, b); });
    if (rc && ifil) ifil->tfilno = -1;
    return rc;
}

ZV_API int TMPIIDX(IFIL *ifil) { return TMPIIDXX(ifil, 0, nullptr, nullptr); }

ZV_API int RBLIIDXz(IFILPARM *p) { return add_indexes(p, false, Load::Reload); }

ZV_API int RBLIIDX(IFIL *ifil) {
    IFILPARM p;
    setifil(&p, ifil, nullptr, nullptr, 0, nullptr, nullptr);
    return RBLIIDXz(&p);
}

ZV_API int zvDROPIDX(int idxno) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->isamerr_cod = 0;
    g->isamfil_num = 0;
    try {
        IndexDrop drop(idxno);
        return drop.run();
    } catch (const std::bad_alloc &) {
        return set_fail(197, idxno);
    }
}

}  // extern "C"

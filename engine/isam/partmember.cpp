// Partition members: each member of a host is a file set of its own, made
// from the host's definition and named after the host's files with a
// suffix of its raw number. This module names members, makes a member on
// the first record that needs it, opens and closes members for the host,
// and carries set-wide changes (delete, drop an index, file modes, rename)
// from the host to every member.
//
// Invariants:
//  1. A member is made all or nothing: once its files exist, any later
//     failure deletes them again and leaves its entry at state 0 (in the
//     table on disk as in memory); a member whose table entry was written
//     is whole, whether or not it could be opened at once.
//  2. Every member name is checked (at most 255 bytes) before any file is
//     made.
//  3. A member opened by its host points to it (FCB::parthost) and its
//     entry is state 2 with its file number; a member that closes on its
//     own (CLRFIL of its number) gives its entry back to state 1.
//  4. A rename of the members is all or nothing: a member that cannot be
//     renamed puts the members done before it back under their names.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "engine/files/header.h"
#include "engine/core/filenum.h"
#include "engine/core/fileops.h"
#include "engine/core/instance.h"
#include "engine/crypto/crypto_files.h"
#include "engine/files/fcbops.h"
#include "engine/files/xcreblk.h"
#include "engine/isam/fileset.h"
#include "engine/isam/ifil.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"
#include "engine/isam/partition.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

constexpr int32_t kTableStep = 12;
constexpr uint32_t kOpsMemberCreate = 0x2000000;   // opsmode bit during a member's creation
constexpr uint16_t kMemberMode = 0x1000;           // open mode of a member set

bool open_state(const FCB *f) { return f && (f->state == 'y' || f->state == 'v' || f->state == 'w'); }

// The open mode of the host's members: shared or read-only as the host.
int member_mode(const FCB *host) {
    return kMemberMode | (host->hdr.base.flmode & (kOpenShared | kOpnReadOnly)) |
           (host->kind == kKindVariable ? kOpenVarlen : 0);
}

// Opens a member set by name in the host's mode and checks it against its
// entry: its data file number, or -1 with the error.
int open_member(FCB *host, PARTMBR *m) {
    INSTGV *g = zvWNGV;
    int n = OPNRFIL(-1, m->name, member_mode(host));
    if (n < 0) {
        if (!g->uerr_cod) set_uerr(714);
        return -1;
    }
    FCB *mf = fcb_at(n);
    int code = 0;
    if (int32_t(mf->hdr.ext.crew9) != host->partdef->ptidx) code = 731;
    else if (int32_t(mf->hdr.ext.crew14) != m->stamp) code = 927;
    if (code) {
        {
            ErrorKeep keep;
            CLRFIL(n);
        }
        return set_uerr(code), -1;
    }
    mf->parthost = host;
    m->filno = n;
    m->state = kMbrOpen;
    return n;
}

// ---- Making a member ----------------------------------------------------------------

// What the creation of one member works with: the host's definition made
// over for the member (names with the suffix, create blocks with the
// member marks), and what it has made so far.
class MemberMaker {
public:
    MemberMaker(FCB *host, int hostno, int32_t raw) : host_(host), hostno_(hostno), raw_(raw) {}
    MemberMaker(const MemberMaker &) = delete;
    MemberMaker &operator=(const MemberMaker &) = delete;
    // The member's file number, or the negative step that failed (the
    // error set).
    int run();

private:
    int make_files();
    int copy_resources();
    int copy_schema();
    // Deletes the member's files (the set open or closed).
    void discard();

    FCB *host_;
    int hostno_;
    int32_t raw_;
    MemberSetDef set_;
    int mdat_ = -1;                // member data file while open
};

}  // namespace

MemberSetDef::~MemberSetDef() {
    zvputmem(def);
    zvputmem(defnames);
}

int MemberSetDef::build(FCB *host, int hostno, int32_t raw, int32_t stamp) {
    this->stamp = stamp;
    char dext[9], iext[9];
    def = cnvifilnp(&defnames, host->name, dext, iext, hostno);
    if (!def) return zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 408;
    SetShape shape;
    if (def->dnumidx < 1 || !classify(def, &shape)) return set_uerr(608);
    const int files = nismfil(def);
    if (files < 2) return set_uerr(608);
    PARTDEF *pd = host->partdef;
    const bool rule = pd->ptrule != nullptr;
    char name[256];
    if (int rc = partnam_i(rule, host->name, raw, name)) return set_uerr(rc);
    dname = name;
    blocks.assign(size_t(files), XCREblk{});
    setxcreblk(host, &blocks[0]);
    blocks[0].mode = (blocks[0].mode | kPartMember) & ~(kPartBits | 0x810u);
    blocks[0].option14 = uint32_t(stamp);
    blocks[0].width15 = uint32_t(raw);
    idx.assign(def->iidxarr, def->iidxarr + def->dnumidx);
    inames.assign(size_t(def->dnumidx), std::string());
    placeholder.assign(size_t(def->dnumidx), false);
    static const ISEG kPlaceholderSeg = {0, 4, 0};
    int block = 0;
    for (int k = 0; k < def->dnumidx; k++) {
        IIDX &x = idx[size_t(k)];
        const int hix = isam_map_index(hostno, k);
        if (hix == kIdxListEmpty) {
            // A slot the host skips keeps the numbering with a placeholder,
            // dropped again once the set exists.
            if (x.ikeylen < 0) {
                x = IIDX{4, 256, 2, 0, 0, 1, &kPlaceholderSeg, nullptr, nullptr, nullptr, nullptr};
                placeholder[size_t(k)] = true;
            }
        } else if (hix < 0) {
            return set_uerr(615);
        }
        if (!shape.is_file(k)) continue;
        block++;
        FCB *hx = hix >= 0 ? fcb_at(hix) : host;
        if (!hx) return set_uerr(615);
        setxcreblk(hx, &blocks[size_t(block)]);
        blocks[size_t(block)].mode = (blocks[size_t(block)].mode | kPartMember) & ~(kPartBits | 0x810u);
        if (hix >= 0) {
            if (int rc = partnam_i(rule, hx->name, raw, name)) return set_uerr(rc);
            inames[size_t(k)] = name;
        } else {
            inames[size_t(k)] = dname + ".placeholder";
        }
    }
    for (int k = 0; k < def->dnumidx; k++) {
        if (shape.is_file(k)) idx[size_t(k)].aidxnam = inames[size_t(k)].c_str();
    }
    member = *def;
    member.pfilnam = dname.c_str();
    member.dfilno = -1;
    member.iidxarr = idx.data();
    member.dfilmod = int16_t((member.dfilmod & ~0x09) | kMemberMode);
    member.ifilmod = int16_t((member.ifilmod & ~0x09) | kMemberMode);
    return 0;
}

namespace {

int MemberMaker::make_files() {
    INSTGV *g = zvWNGV;
    CamoSave save{};
    bool encrypted = host_->cipherclass >= 2;
    if (encrypted && setencatr(&save, hostno_)) return g->uerr_cod ? g->uerr_cod : 606;
    int rc;
    {
        OptionBit ops(&g->opsmode, kOpsMemberCreate);
        rc = CREIFILX8(&set_.member, " ", nullptr, 0, nullptr, nullptr, set_.blocks.data());
    }
    if (encrypted) {
        ErrorKeep keep;
        rstencatr(&save);
    }
    if (rc) return rc;
    mdat_ = set_.member.tfilno;
    return 0;
}

int MemberMaker::copy_resources() {
    if (int rc = zvxfrres(hostno_, mdat_)) return rc;
    SetShape shape;
    classify(set_.def, &shape);
    for (int k = 0; k < set_.def->dnumidx; k++) {
        if (!shape.is_file(k) || set_.placeholder[size_t(k)]) continue;
        const int hix = isam_map_index(hostno_, k);
        const int mix = relative_index(mdat_, k);
        if (hix < 0 || mix < 0) continue;
        if (int rc = zvxfrres(hix, mix)) return rc;
    }
    return 0;
}

int MemberMaker::copy_schema() {
    INSTGV *g = zvWNGV;
    set_uerr(0);
    int32_t need = GETDODA(hostno_, 0, nullptr, 4);
    if (need <= 0) {
        int rc = g->uerr_cod;
        return rc == 401 || rc == 408 || rc == 438 ? set_uerr(0) : rc;
    }
    std::vector<DATOBJ> buf(size_t(need) / sizeof(DATOBJ) + 1);
    if (GETDODA(hostno_, need, buf.data(), 4) <= 0) return g->uerr_cod;
    int n = 0;
    while (size_t(n) < buf.size() && buf[size_t(n)].fend != 0xFFFF) n++;
    return n > 0 ? PUTDODA(mdat_, buf.data(), n) : 0;
}

void MemberMaker::discard() {
    ErrorKeep keep;
    if (mdat_ >= 0 && open_state(fcb_at(mdat_))) {
        if (DELRFIL(mdat_) == 0) {
            mdat_ = -1;
            return;
        }
        CLRFIL(mdat_);
    }
    mdat_ = -1;
    dltfilx(set_.dname.c_str(), 0, 0);
    for (const std::string &n : set_.inames)
        if (!n.empty()) dltfilx(n.c_str(), 0, 0);
}

int MemberMaker::run() {
    INSTGV *g = zvWNGV;
    PARTDEF *pd = host_->partdef;
    PARTMBR *m = member_entry(pd, raw_);
    const bool hadstamp = m->stamp > 0;
    auto before_files = [&](int step) {
        // Nothing made yet: the entry keeps no name of a member that never was.
        m = member_entry(pd, raw_);
        if (!hadstamp) zvputmemn(reinterpret_cast<void **>(&m->name));
        return step;
    };
    if (int rc = chkredf(hostno_, host_)) return set_uerr(rc), before_files(-3);
    // A new member takes the larger of its entry's stamp and the host's own.
    const int32_t own = int32_t(host_->hdr.ext.crew14);
    if (set_.build(host_, hostno_, raw_, m->stamp > own ? m->stamp : own))
        return before_files(g->uerr_cod == 608 || g->uerr_cod == 615 ? -9 : -3);
    char *name = member_name_copy(set_.dname.c_str());
    if (!name) return set_uerr(82), before_files(-9);
    zvputmem(m->name);
    m->name = name;
    if (int rc = make_files()) return set_uerr(rc), before_files(-7);
    // From here on the member's files exist: a failure deletes them.
    int step = 0, rc = 0;
    bool stored = false;
    auto undo = [&](int code, int at) {
        discard();
        m = member_entry(pd, raw_);
        m->state = kMbrNone;
        m->filno = -1;
        pd->ptlow = pd->pthigh = -1;
        if (!hadstamp) zvputmemn(reinterpret_cast<void **>(&m->name));
        if (stored) {
            ErrorKeep keep;
            zvupdtpres(host_, hostno_);
        }
        set_uerr(code);
        return at;
    };
    for (int k = set_.def->dnumidx - 1; k >= 0; k--) {
        if (!set_.placeholder[size_t(k)]) continue;
        int pix = relative_index(mdat_, k);
        if (pix >= 0 && (rc = zvDROPIDX(pix)) != 0) return undo(rc, -12);
    }
    if ((rc = copy_resources()) != 0) return undo(rc, -14);
    if ((rc = copy_schema()) != 0) return undo(rc, -16);
    rc = CLRFIL(mdat_);
    mdat_ = -1;
    if (rc) return undo(rc, -16);
    m = member_entry(pd, raw_);
    m->state = kMbrClosed;
    m->stamp = set_.stamp;
    m->filno = -1;
    partition_widen(pd, raw_);
    stored = true;
    if ((rc = zvupdtpres(host_, hostno_)) != 0) return undo(rc, -13);
    step = open_member(host_, m);
    return step >= 0 ? step : -8;
}

}  // namespace

// ---- The member table ------------------------------------------------------------

int partition_cover(PARTDEF *pd, int32_t raw) {
    const int32_t need = raw - pd->ptbase + 1;
    if (need <= pd->ptcur) return 0;
    if (need > pd->ptmax) {
        const int32_t cap = need + kTableStep;
        auto *t = static_cast<PARTMBR *>(zvgetmem(int32_t(sizeof(PARTMBR)) * cap));
        if (!t) return 82;
        if (pd->ptcur > 0) memcpy(t, pd->ptmbr, sizeof(PARTMBR) * size_t(pd->ptcur));
        zvputmem(pd->ptmbr);
        pd->ptmbr = t;
        pd->ptmax = cap;
    }
    for (int32_t i = pd->ptcur; i < need; i++) pd->ptmbr[i] = PARTMBR{-1, kMbrNone, 0, nullptr};
    pd->ptcur = need;
    return 0;
}

void partition_widen(PARTDEF *pd, int32_t raw) {
    if (pd->ptlow != -1 && raw < pd->ptlow) pd->ptlow = raw;
    if (pd->pthigh != -1 && raw > pd->pthigh) pd->pthigh = raw;
}

char *member_name_copy(const char *s) {
    size_t n = strnlen(s, 255);
    auto *c = static_cast<char *>(zvgetmem(int32_t(n + 1)));
    if (c) memcpy(c, s, n);
    return c;
}

// ---- Names, numbers and opening --------------------------------------------------

int partnam_i(bool rule, const char *hostside, int32_t raw, char *out) {
    char suffix[40];
    if (rule) {
        snprintf(suffix, sizeof suffix, ".%03d", int(raw));
    } else {
        int32_t y = 0, m = 0, d = 0;
        zvGetYMDFromDaysSinceEpoch(raw, &y, &m, &d);
        snprintf(suffix, sizeof suffix, ".%04d%02d%02d.%06d", int(y), int(m), int(d), int(raw));
    }
    const size_t n = strnlen(hostside, 256), s = strlen(suffix);
    if (n + s > 255) return 418;
    memcpy(out, hostside, n);
    memcpy(out + n, suffix, s + 1);
    return 0;
}

bool part_member_named(const char *hostside, const char *name) {
    const size_t n = strnlen(hostside, 256);
    if (n > 255 || strncmp(name, hostside, n) != 0 || name[n] != '.') return false;
    // The raw number: the last part of the suffix (".%03d", or the date
    // rule's ".%06d" after the day), written back by the rule to compare.
    const char *p = strrchr(name + n, '.') + 1;
    const bool negative = *p == '-';
    const char *digits = p + (negative ? 1 : 0), *q = digits;
    int64_t raw = 0;
    for (; *q >= '0' && *q <= '9' && q - digits < 11; q++) raw = raw * 10 + (*q - '0');
    if (*q || q == digits) return false;
    if (negative) raw = -raw;
    if (raw < INT32_MIN || raw > INT32_MAX) return false;
    char out[256];
    for (bool rule : {true, false}) {
        if (partnam_i(rule, hostside, int32_t(raw), out) == 0 && strcmp(out, name) == 0) return true;
    }
    return false;
}

int opnpart(FCB *host, int32_t raw) {
    PARTMBR *m = member_entry(host->partdef, raw);
    if (!m || !m->name) return set_uerr(722), -1;
    return open_member(host, m);
}

int pfilno(int hostno, int32_t raw, bool create) {
    FCB *host = fcb_at(hostno);
    PARTDEF *pd = host ? host->partdef : nullptr;
    if (!pd) return set_uerr(722), -1;
    if (raw < pd->ptbase) return set_uerr(712), -1;
    if (int64_t(raw) > int64_t(pd->ptbase) + kRawSpan) return set_uerr(730), -1;
    if (!member_entry(pd, raw)) {
        if (!create) return set_uerr(715), -1;
        if (partition_cover(pd, raw)) return set_uerr(82), -1;
    }
    PARTMBR *m = member_entry(pd, raw);
    switch (m->state) {
    case kMbrOpen:
        return m->filno;
    case kMbrClosed:
        return opnpart(host, raw);
    case kMbrNone:
        if (!create) return set_uerr(715), -1;
        try {
            MemberMaker maker(host, hostno, raw);
            return maker.run();
        } catch (const std::bad_alloc &) {
            return set_uerr(82), -1;
        }
    case kMbrPurged:
    case kMbrPurging:
        return set_uerr(720), -1;
    case kMbrArchived:
    case kMbrArchiving:
        return set_uerr(721), -1;
    default:
        return set_uerr(722), -1;
    }
}

namespace {

constexpr int kPassOver = -4;   // try_member: the member is archived or purged

// Opens the active member r of a walk: its file number with *raw set;
// kPassOver for a member that is archived or purged; -2 ends the walk;
// -1 an error.
int try_member(int hostno, int64_t r, int32_t *raw) {
    int n = pfilno(hostno, int32_t(r), false);
    if (n >= 0) {
        *raw = int32_t(r);
        return n;
    }
    const int code = zvWNGV->uerr_cod;
    if (code == 720 || code == 721) {
        set_uerr(0);
        return kPassOver;
    }
    return code == 730 ? -2 : -1;
}

// The first raw number an upward walk after raw looks at: never below the
// table's base or the lowest active member (raw -1 starts the walk).
int64_t walk_start(const PARTDEF *pd, int32_t raw) {
    int64_t r = int64_t(raw) + 1;
    if (r < pd->ptbase) r = pd->ptbase;
    if (r < pd->ptlow) r = pd->ptlow;
    return r;
}

}  // namespace

int nxtpartno(FCB *host, int hostno, int32_t *raw, bool openonly) {
    PARTDEF *pd = host->partdef;
    if (!pd || !pd->ptmbr) return -2;
    if (pd->ptlow == -1 || pd->pthigh == -1) setrawnolmt(pd);
    int64_t r = walk_start(pd, *raw);
    for (; r - pd->ptbase < pd->ptcur && r <= pd->pthigh; r++) {
        const int32_t s = pd->ptmbr[r - pd->ptbase].state;
        if (s != kMbrOpen && (s != kMbrClosed || openonly)) continue;
        const int n = try_member(hostno, r, raw);
        if (n != kPassOver) return n;
    }
    return -2;
}

int prvpartno(FCB *host, int hostno, int32_t *raw) {
    PARTDEF *pd = host->partdef;
    if (!pd || !pd->ptmbr) return -2;
    if (pd->ptlow == -1 || pd->pthigh == -1) setrawnolmt(pd);
    int64_t r = int64_t(*raw) - 1;
    if (int64_t(*raw) - pd->ptbase >= pd->ptcur) r = int64_t(pd->ptbase) + pd->ptcur - 1;
    if (r > pd->pthigh) r = pd->pthigh;
    for (; r >= pd->ptlow && r >= pd->ptbase; r--) {
        const int32_t s = pd->ptmbr[r - pd->ptbase].state;
        if (s != kMbrOpen && s != kMbrClosed) continue;
        const int n = try_member(hostno, r, raw);
        if (n != kPassOver) return n;
    }
    return -2;
}

// ---- Close and delete ----------------------------------------------------------------

int zvpartcls(FCB *host) {
    PARTDEF *pd = host->partdef;
    int first = 0;
    for (int32_t i = 0; pd && pd->ptmbr && i < pd->ptcur; i++) {
        PARTMBR &m = pd->ptmbr[i];
        if (m.state != kMbrOpen) continue;
        const int n = m.filno;
        m.state = kMbrClosed;
        m.filno = -1;
        FCB *mf = fcb_at(n);
        if (!open_state(mf) || mf->parthost != host) continue;
        mf->parthost = nullptr;
        int rc = CLRFIL(n);
        if (rc && !first) first = rc;
    }
    return first;
}

void partition_member_closing(FCB *member) {
    FCB *host = member->parthost;
    member->parthost = nullptr;
    PARTDEF *pd = host ? host->partdef : nullptr;
    for (int32_t i = 0; pd && pd->ptmbr && i < pd->ptcur; i++) {
        PARTMBR &m = pd->ptmbr[i];
        if (m.state == kMbrOpen && m.filno == member->filno) {
            m.state = kMbrClosed;
            m.filno = -1;
        }
    }
}

int zvpartdelete(int datno) {
    FCB *host = fcb_at(datno);
    if (!host || !host->partdef) return 0;
    int32_t raw = -1;
    for (;;) {
        int n = nxtpartno(host, datno, &raw, false);
        if (n == -2) return 0;
        if (n < 0 && zvWNGV->uerr_cod == 14) {
            // A member whose close failed is marked as not closed cleanly:
            // it goes with its set all the same, opened as it stands. The
            // walk failed on the first closed member from where it started.
            PARTDEF *pd = host->partdef;
            for (int64_t r = walk_start(pd, raw); n < 0 && r <= pd->pthigh; r++) {
                PARTMBR *m = member_entry(pd, int32_t(r));
                if (!m) break;
                if (m->state != kMbrClosed || !m->name) continue;
                n = OPNRFIL(-1, m->name, member_mode(host) | kOpenDamaged);
                if (n < 0) break;
                m->state = kMbrNone;
                raw = int32_t(r);
            }
        }
        if (n < 0) return zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 714;
        if (int rc = DELRFIL(n)) return rc;
    }
}

// ---- Resources --------------------------------------------------------------------

int zvxfrres(int from, int to) {
    INSTGV *g = zvWNGV;
    FCB *src = fcb_at(from);
    if (!src || !open_state(fcb_at(to))) return set_uerr(26);
    if (src->hdr.base.sfiltyp == kSfMember) return 0;
    std::vector<unsigned char> buf;
    uint32_t key[2] = {0, 0};
    for (;;) {
        uint32_t info[3] = {0, 0, 0};
        set_uerr(0);
        if (!GETRES(from, key, info, int32_t(sizeof info), 128 | 64)) {
            int rc = g->uerr_cod;
            return rc == 408 || rc == 401 ? set_uerr(0) : rc;
        }
        const uint32_t type = info[0], number = info[1];
        const int32_t len = int32_t(info[2]);
        key[0] = type;
        key[1] = number;
        const bool skip = (type == 0 && (number == 1 || (number >= 6 && number <= 9))) || (type >= 1 && type < 1000);
        if (skip || len <= 0) continue;
        if (buf.size() < size_t(len)) {
            try {
                buf.resize(size_t(len));
            } catch (const std::bad_alloc &) {
                return set_uerr(82);
            }
        }
        if (!GETRES(from, key, buf.data(), len, 2)) return g->uerr_cod;
        int rc = ADDRES(to, buf.data(), len);
        if (rc == 405 && (type == 1001 || (type == 0 && (number == 2 || number == 3)))) rc = UPDRES(to, buf.data(), len);
        // A target that keeps no resources takes none.
        if (rc == 401) return set_uerr(0);
        if (rc) return rc;
    }
}

// ---- Changes that reach every member -------------------------------------------

int zvpartdrop(FCB *host, FCB *, int hostno, int relkey) {
    // A host whose last global unique index went loses its mark.
    if ((host->hdr.ext.flmode2 & kPartGlobal) && !(host->hdr.base.flmode & kOpnReadOnly)) {
        bool any = false;
        for (int k = 0; k < kMapIndexes && !any; k++) {
            int ix = isam_map_index(hostno, k);
            if (ix == -1) break;
            FCB *x = ix >= 0 ? fcb_at(ix) : nullptr;
            any = x && (x->hdr.ext.flmode2 & kPartGlobalIdx);
        }
        if (!any) {
            host->hdr.ext.flmode2 &= ~kPartGlobal;
            if (int rc = wrthdr(host)) {
                host->hdr.ext.flmode2 |= kPartGlobal;
                return rc;
            }
        }
    }
    int32_t raw = -1;
    for (;;) {
        int n = nxtpartno(host, hostno, &raw, false);
        if (n == -2) return 0;
        if (n < 0) return zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 714;
        int mix = relative_index(n, relkey);
        if (mix < 0) continue;
        if (int rc = zvDROPIDX(mix)) return rc;
    }
}

namespace {

// Applies a change to each member of the host of f (a host data file or
// host index): to the member data file, or the member index of f's
// relative number. 0 or the first error.
template <class Change>
int each_member(FCB *f, Change change) {
    int hostno = f->filno, rel = -1;
    if (f->kind == kKindIndex) {
        const ISAMMAPENT *e = isam_entry(f->filno);
        hostno = e && int16_t(e->datno) >= 0 ? int16_t(e->datno) : -1;
        rel = hostno >= 0 ? host_index_slot(hostno, f->filno) : -1;
        if (rel < 0) return 614;
    }
    FCB *host = fcb_at(hostno);
    if (!host || !host->partdef) return 0;
    int32_t raw = -1;
    for (;;) {
        int n = nxtpartno(host, hostno, &raw, false);
        if (n == -2) return 0;
        if (n < 0) return zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 714;
        const int target = rel < 0 ? n : relative_index(n, rel);
        if (target < 0) continue;
        if (int rc = change(target)) return rc;
    }
}

}  // namespace

int chgpartattrs(FCB *f, uint32_t flags) {
    return each_member(f, [flags](int n) { return PUTHDR(n, int32_t(flags), 20); });
}

int chgpartmode(FCB *f, int mode) {
    return each_member(f, [mode](int n) { return PUTFIL(n, mode); });
}

// ---- Rename ----------------------------------------------------------------------------

namespace {

// The names one member set goes by: its data file and its own index files
// (by relative key; empty for an index that is a member of an index file).
struct MemberNames {
    int32_t raw = 0;
    std::string data;
    std::vector<std::string> index;
};

// Renames the open member set mdat to `to`: 0 or the error.
int rename_member(int mdat, const MemberNames &to) {
    INSTGV *g = zvWNGV;
    char *names = nullptr;
    char dext[9], iext[9];
    IFIL *cur = cnvifilnp(&names, fcb_at(mdat)->name, dext, iext, mdat);
    if (!cur) return g->uerr_cod ? g->uerr_cod : 408;
    std::vector<IIDX> idx(cur->iidxarr, cur->iidxarr + cur->dnumidx);
    int rc = 0;
    for (int k = 0; k < cur->dnumidx; k++) {
        if (size_t(k) < to.index.size() && !to.index[size_t(k)].empty()) idx[size_t(k)].aidxnam = to.index[size_t(k)].c_str();
    }
    IFIL neu = *cur;
    neu.pfilnam = to.data.c_str();
    neu.iidxarr = idx.data();
    neu.tfilno = int16_t(mdat);
    IFILPARM p;
    setifil(&p, &neu, " ", nullptr, 0, nullptr, nullptr);
    rc = iRENIFILz(&p);
    zvputmem(cur);
    zvputmem(names);
    return rc;
}

// The present names of an open member set.
MemberNames names_of(int mdat, int32_t raw) {
    MemberNames n;
    n.raw = raw;
    n.data = fcb_at(mdat)->name;
    for (int k = 0; k < kMapIndexes; k++) {
        int ix = isam_map_index(mdat, k);
        if (ix == -1) break;
        FCB *x = ix >= 0 ? fcb_at(ix) : nullptr;
        n.index.push_back(x && x->hdr.base.kmem == 0 ? std::string(x->name) : std::string());
    }
    return n;
}

}  // namespace

int part_ren(IFILPARM *p) {
    FCB *host = p && p->ifil ? fcb_at(p->ifil->tfilno) : nullptr;
    if (!host || !(host->hdr.ext.flmode2 & kFlmode2PartHost) || host->kind == kKindIndex) return 0;
    PARTDEF *pd = host->partdef;
    if (!pd || !pd->ptmbr) return 0;
    const int hostno = p->ifil->tfilno;
    const bool rule = pd->ptrule != nullptr;
    IFIL *ifil = p->ifil;
    // The new host-side names: the data file and each own index file.
    char dname[256];
    if (int rc = zviflnam(p, dname, 0, nullptr)) return set_uerr(rc);
    SetShape shape;
    if (ifil->dnumidx > 0 && !classify(ifil, &shape)) return set_uerr(540);
    std::vector<std::string> hostidx(size_t(ifil->dnumidx > 0 ? ifil->dnumidx : 0));
    for (int k = 0; k < ifil->dnumidx; k++) {
        if (!shape.is_file(k)) continue;
        char iname[256];
        const IIDX &x = ifil->iidxarr[k];
        int rc = x.aidxnam ? buildAidxnam(iname, x.aidxnam, sizeof iname, dname) : zviflnam(p, iname, 1, nullptr);
        if (rc) return set_uerr(rc);
        hostidx[size_t(k)] = iname;
    }
    std::vector<MemberNames> done;     // members renamed, with their old names
    auto put_back = [&]() {
        ErrorKeep keep;
        for (auto it = done.rbegin(); it != done.rend(); ++it) {
            PARTMBR *m = member_entry(pd, it->raw);
            if (m && m->state == kMbrOpen) rename_member(m->filno, *it);
            if (m) {
                char *old = member_name_copy(it->data.c_str());
                if (old) {
                    zvputmem(m->name);
                    m->name = old;
                }
            }
        }
    };
    int32_t raw = -1;
    for (;;) {
        int n = nxtpartno(host, hostno, &raw, false);
        if (n == -2) break;
        if (n < 0) {
            int rc = zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 714;
            put_back();
            return set_uerr(rc);
        }
        MemberNames to;
        to.raw = raw;
        char name[256];
        int rc = partnam_i(rule, dname, raw, name);
        to.data = name;
        for (size_t k = 0; !rc && k < hostidx.size(); k++) {
            to.index.push_back(std::string());
            if (hostidx[k].empty()) continue;
            rc = partnam_i(rule, hostidx[k].c_str(), raw, name);
            to.index.back() = name;
        }
        char *stored = rc ? nullptr : member_name_copy(to.data.c_str());
        if (!rc && !stored) rc = 82;
        MemberNames old = names_of(n, raw);
        if (!rc) rc = rename_member(n, to);
        if (rc) {
            zvputmem(stored);
            put_back();
            return set_uerr(rc);
        }
        PARTMBR *m = member_entry(pd, raw);
        zvputmem(m->name);
        m->name = stored;
        done.push_back(std::move(old));
    }
    if (int rc = zvupdtpres(host, hostno)) {
        put_back();
        return set_uerr(rc);
    }
    return 0;
}

// ---- What the file layer asks ---------------------------------------------------

FCB *partition_host_of(FCB *member) { return member ? member->parthost : nullptr; }

bool is_partition_member(const FCB *f) { return f && f->parthost != nullptr; }

int partition_member(const FCB *host, int slot) {
    const PARTDEF *pd = host->partdef;
    int seen = 0;
    for (int32_t i = 0; pd && pd->ptmbr && i < pd->ptcur; i++) {
        if (pd->ptmbr[i].state != kMbrOpen) continue;
        if (seen++ == slot) return pd->ptmbr[i].filno;
    }
    return -1;
}

}  // namespace zv

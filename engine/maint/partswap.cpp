// The members of a closed partitioned host for a swap (see partswap.h).
//
// Invariants:
//  1. Every file is opened and closed here: nothing stays open after a
//     call, whatever it answers. (A host this instance has open, and the
//     members it opened, are read through their open blocks, as they are.)
//  2. Storing names renames no file and touches only the files of the set
//     it is given: the host's data file (its member table) and each
//     member's data file (its stored definition).
#include "engine/maint/partswap.h"

#include <cstring>
#include <memory>
#include <new>

#include "engine/core/fcb.h"
#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/files/close.h"
#include "engine/files/fcbops.h"
#include "engine/index/keymap.h"
#include "engine/isam/ifil.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/partition.h"
#include "engine/maint/rblstate.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

constexpr uint16_t kMemberOpen = 0x1000;  // open mode of a member set

bool has_files(const PARTMBR &m) {
    return m.name && (m.state == kMbrClosed || m.state == kMbrOpen || m.state == kMbrArchived);
}

bool open_state(const FCB *f) { return f && (f->state == 'y' || f->state == 'v' || f->state == 'w'); }

// The files of the open member set whose data file is n.
void open_set_files(int n, PartMemberFiles *out) {
    out->files.assign(1, fcb_at(n)->name);
    for (int k = 0; k < kMapIndexes; k++) {
        const int ix = isam_map_index(n, k);
        if (ix == -1) break;
        const FCB *x = ix >= 0 ? fcb_at(ix) : nullptr;
        out->files.push_back(x && x->hdr.base.kmem == 0 ? std::string(x->name) : std::string());
    }
}

// The files of the member set `name` (m): read from its open set when its
// host opened it, else opened on its own. 0 or the error.
int member_set_files(const PARTMBR &m, uint16_t mode, PartMemberFiles *out) {
    if (m.state == kMbrOpen && m.filno >= 0 && open_state(fcb_at(m.filno))) {
        open_set_files(m.filno, out);
        return 0;
    }
    const int n = OPNRFIL(-1, m.name, mode);
    if (n < 0) return zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 714;
    open_set_files(n, out);
    return CLRFIL(n);
}

// Stores `to` in the member data file now.files[0] as its files' names.
int store_member(const PartMemberFiles &now, const PartMemberFiles &to) {
    // The swap has marked the file as not closed cleanly by now.
    SpareOpen d(now.files[0].c_str(), kOpenDamaged);
    if (d.rc()) return d.rc();
    char *names = nullptr;
    char dext[9], iext[9];
    IFIL *cur = cnvifilnp(&names, d.fcb()->name, dext, iext, d.filno());
    if (!cur) return zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 408;
    std::vector<IIDX> idx(cur->iidxarr, cur->iidxarr + (cur->dnumidx > 0 ? cur->dnumidx : 0));
    for (size_t k = 0; k < idx.size(); k++) {
        if (k + 1 < to.files.size() && !to.files[k + 1].empty()) idx[k].aidxnam = to.files[k + 1].c_str();
    }
    IFIL neu = *cur;
    neu.pfilnam = to.files[0].c_str();
    neu.iidxarr = idx.empty() ? nullptr : idx.data();
    neu.tfilno = int16_t(d.filno());
    int rc = zvrstdefx(d.filno(), &neu, " ", nullptr, 0, 0);
    zvputmem(cur);
    zvputmem(names);
    const int cl = d.close();
    return rc ? rc : cl;
}

}  // namespace

int part_member_files(const char *name, bool *host, bool *rule, std::vector<PartMemberFiles> *out) {
    *host = false;
    *rule = false;
    out->clear();
    try {
        // A host this instance has open (the set a swap takes over) is read
        // through its open block: its member table on disk may not have
        // its latest members yet.
        const int open = chkopnx(name);
        std::unique_ptr<SpareOpen> h;
        const FCB *f = open >= 0 ? fcb_at(open) : nullptr;
        if (!f) {
            h = std::make_unique<SpareOpen>(name, kOpnReadOnly);
            if (h->rc()) return h->rc();
            f = h->fcb();
        }
        const PARTDEF *pd = f->partdef;
        if (!(f->hdr.ext.flmode2 & kFlmode2PartHost) || !pd) return 0;
        *host = true;
        *rule = pd->ptrule != nullptr;
        const uint16_t mode = uint16_t(kMemberOpen | kOpnReadOnly | (f->kind == kKindVariable ? kOpenVarlen : 0));
        for (int32_t i = 0; pd->ptmbr && i < pd->ptcur; i++) {
            const PARTMBR &m = pd->ptmbr[i];
            if (!has_files(m)) continue;
            PartMemberFiles files;
            files.raw = pd->ptbase + i;
            if (int rc = member_set_files(m, mode, &files)) return rc;
            out->push_back(std::move(files));
        }
        return h ? h->close() : 0;
    } catch (const std::bad_alloc &) {
        return 82;
    }
}

int part_member_names(bool rule, int32_t raw, const std::vector<std::string> &hostside, PartMemberFiles *out) {
    out->raw = raw;
    out->files.clear();
    for (const std::string &h : hostside) {
        char name[256];
        if (h.empty()) {
            out->files.emplace_back();
            continue;
        }
        if (int rc = partnam_i(rule, h.c_str(), raw, name)) return rc;
        out->files.emplace_back(name);
    }
    return 0;
}

int part_store_names(const char *name, const std::vector<PartMemberFiles> &now,
                     const std::vector<PartMemberFiles> &names) {
    if (now.size() != names.size()) return 540;
    try {
        SpareOpen h(name, kOpenDamaged);
        if (h.rc()) return h.rc();
        FCB *f = h.fcb();
        PARTDEF *pd = f->partdef;
        if (!(f->hdr.ext.flmode2 & kFlmode2PartHost) || !pd) return 540;
        for (size_t i = 0; i < now.size(); i++) {
            PARTMBR *m = member_entry(pd, now[i].raw);
            if (!m || !has_files(*m) || names[i].raw != now[i].raw || now[i].files.empty() || names[i].files.empty())
                return 540;
            if (int rc = store_member(now[i], names[i])) return rc;
            char *stored = member_name_copy(names[i].files[0].c_str());
            if (!stored) return 82;
            zvputmem(m->name);
            m->name = stored;
        }
        if (int rc = zvupdtpres(f, h.filno())) return rc;
        return h.close();
    } catch (const std::bad_alloc &) {
        return 82;
    }
}

}  // namespace zv

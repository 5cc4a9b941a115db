// Partitioned files: rebuild and index addition across members.
//
// A partitioned set is rebuilt as file sets of its own: the host first
// (its global unique indexes come back empty), then each member, whose
// records' keys fill the host's global unique indexes again as the member's
// keys are loaded (the set rebuild asks zvparthost and the member recorded
// here). Archived members are not rebuilt; their keys go back into the
// host's global unique indexes, counted as archived. The same walk rebuilds
// a single member (PTADMIN) or only the members that do not open cleanly.
// Indexes added to a host are added to every member.
//
// Invariants:
//  1. The caller's definition leaves as it came: file modes and the option
//     word are restored on every exit.
//  2. A member gets a new stamp only when it is rebuilt; its header and its
//     table entry carry the same stamp afterwards.
//  3. The instance's record of the rebuild (host, member) lives only while
//     the walk runs.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "engine/core/filenum.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/core/fcb.h"
#include "engine/files/header.h"
#include "engine/files/xcreblk.h"
#include "engine/isam/fileset.h"
#include "engine/isam/ifil.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"
#include "engine/isam/isamstate.h"
#include "engine/isam/partition.h"
#include "engine/maint/maint_services.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

// opsmode while one member is rebuilt (the walk rebuilds the member of
// state 5 only): both bits. 0x2000000 alone is no such mark: the record
// layer's logon and a master-key change set it, and SETOPS cannot set
// 0x1000000.
constexpr uint32_t kOpsMemberRebuild = 0x3000000;
constexpr uint32_t kEnhanced = 0x20000;

void log_line(const char *text) { zvrcvlog(text, kLogSingleTry); }
void log_code(const char *text, int code) { zvrcvlog(text, kLogSingleTry - code); }

// The modes and option word of the caller's definition, put back on exit.
struct DefinitionKept {
    IFIL *ifil;
    int16_t dfilmod, ifilmod, tfilno;
    explicit DefinitionKept(IFIL *f) : ifil(f), dfilmod(f->dfilmod), ifilmod(f->ifilmod), tfilno(f->tfilno) {}
    ~DefinitionKept() {
        ifil->dfilmod = dfilmod;
        ifil->ifilmod = ifilmod;
        ifil->tfilno = tfilno;
    }
    void modes(int bits) {
        ifil->dfilmod = int16_t((dfilmod & ~0x09) | bits);
        ifil->ifilmod = int16_t((ifilmod & ~0x09) | bits);
    }
};

// The set rebuild of one member runs marked as the partition rebuild's
// own, so that it does not hand the set back here; the mark goes with the
// call unless it was there before.
struct PartitionRunMark {
    bool had = rbl_partition_run_begin();
    PartitionRunMark() = default;
    PartitionRunMark(const PartitionRunMark &) = delete;
    PartitionRunMark &operator=(const PartitionRunMark &) = delete;
    ~PartitionRunMark() { rbl_partition_run_end(had); }
};

// The instance's record of the walk, cleared on every exit.
struct WalkRecord {
    WalkRecord(FCB *host) { isam_state(zvWNGV).rblhost = host; }
    ~WalkRecord() {
        IsamState &st = isam_state(zvWNGV);
        st.rblhost = nullptr;
        st.rblraw = st.rblstamp = 0;
    }
};

bool narrow(const FCB *host) { return !(host->hdr.base.hdrflags & kHdr8ByteOffsets); }

// The rebuild options of a definition's option word that the walk reads:
// bad members only, and purging rejected records.
struct WalkOptions {
    bool badpart = false, purge = false;
};
WalkOptions options_of(int16_t t) {
    WalkOptions o;
    if (t >= -1) return o;
    if (!(t & 0x4000)) {
        const int bits = -int(t) - 0x4000;
        o.badpart = (bits & 0x008) != 0;
        o.purge = (bits & 0x004) != 0;
    } else {
        o.badpart = t == -105 || t == -204 || t == -206 || t == -305;
        o.purge = t == -101 || t == -200 || t == -206 || t == -305;
    }
    return o;
}

// The instance's rebuild mark, set for the scan of an archived member.
struct RebuildMark {
    uint8_t was;
    RebuildMark() : was(zvWNGV->rebuilding) { zvWNGV->rebuilding = 1; }
    ~RebuildMark() { zvWNGV->rebuilding = was; }
};

// Puts the keys of archived member raw back into the host's global unique
// indexes, counted as archived: 0 or the error.
int archived_keys(FCB *host, int hostno, const PARTMBR &m, int32_t raw, MemberSetDef &def) {
    INSTGV *g = zvWNGV;
    IFILPARM mp;
    def.member.dfilmod = int16_t((def.member.dfilmod & ~0x09) | 0x1008);
    def.member.ifilmod = int16_t((def.member.ifilmod & ~0x09) | 0x1008);
    setifil8(&mp, &def.member, " ", nullptr, 0, nullptr, nullptr, def.blocks.data());
    if (int rc = OPNIFILz(&mp)) {
        char line[120];
        snprintf(line, sizeof line, "Could not process archived partition member for GUIx <%d,%d>", rc,
                 int(int16_t(g->sysiocod)));
        log_line(line);
        log_line(m.name ? m.name : def.dname.c_str());
        return rc;
    }
    log_line("Process archived member for GUIx");
    log_line(m.name ? m.name : def.dname.c_str());
    const int mdat = def.member.tfilno;
    int rc = 0;
    {
        RebuildMark scan;
        for (int k = 0; k < kMapIndexes && !rc; k++) {
            const int hix = isam_map_index(hostno, k);
            if (hix == kIdxListEnd) break;
            FCB *hx = hix >= 0 ? fcb_at(hix) : nullptr;
            if (!hx || k == host->partdef->ptidx || !(hx->hdr.ext.flmode2 & kPartGlobalIdx)) continue;
            const int mix = relative_index(mdat, k);
            if (mix < 0) {
                rc = 615;
                break;
            }
            const bool wide = (hx->hdr.base.hdrflags & kHdr8ByteOffsets) != 0;
            unsigned char key[kIsamKeyRoom];
            set_uerr(0);
            uint32_t lo = FRSKEY(mix, key);
            uint32_t hi = uint32_t(zvGETHGHi());
            uint64_t n = 0;
            while ((lo || hi) && !rc) {
                rc = zvpartaddk(hix, key, raw, m.stamp, wide);
                n++;
                set_uerr(0);
                lo = NXTKEY(mix, key);
                hi = uint32_t(zvGETHGHi());
            }
            if (!rc && g->uerr_cod) rc = g->uerr_cod;
            hx->hdr.ext.wide64[1] = (hx->hdr.base.hdrflags2 & kEnhanced) ? hx->hdr.ext.wide64[1] + n : 0;
            if (!rc) rc = tstupd(hx->hostfcb ? hx->hostfcb : hx);
        }
    }
    {
        ErrorKeep keep;
        CLIFIL(&def.member);
    }
    return rc;
}

// Writes a member's new stamp into its data file's header: 0 or the error.
int stamp_member(const std::string &name, int32_t stamp) {
    const int n = AVLFILNUM(1);
    if (n < 0) return zvWNGV->uerr_cod ? zvWNGV->uerr_cod : 46;
    if (int rc = OPNFIL(n, name.c_str(), 0x1000)) return rc;
    FCB *f = fcb_at(n);
    f->hdr.ext.crew14 = uint32_t(stamp);
    int rc = wrthdr(f);
    int cl = CLSFIL(n, 0);
    return rc ? rc : cl;
}

}  // namespace

FCB *zvparthost() { return zvWNGV ? isam_state(zvWNGV).rblhost : nullptr; }

int zvpartrbld(IFILPARM *p) {
    INSTGV *g = zvWNGV;
    IFIL *ifil = p->ifil;
    DefinitionKept kept(ifil);
    const int16_t t = ifil->tfilno;
    if (t == -204 || t == -305) {
        log_line("Cannot use updateIFIL with badpartIFIL");
        return set_uerr(454);
    }
    const WalkOptions o = options_of(t);
    const bool single = (g->opsmode & kOpsMemberRebuild) == kOpsMemberRebuild;
    const bool badonly = !single && o.badpart;
    kept.modes(0x1000);
    // 1. The host.
    FCB *host = nullptr;
    bool opened = false;
    char hostname[256] = {};
    if (single) {
        host = isam_state(g).rblhost;
    } else {
        if (!badonly) {
            int rc = RBLIFILz(p);
            ifil->tfilno = t;
            zviflnam(p, hostname, 0, nullptr);
            if (rc) {
                log_code("Partition HOST rebuild failed", rc);
                log_line(hostname);
                return set_uerr(rc);
            }
            log_line("Partition HOST rebuilt. NOTE: any GUIx cleared.");
            kept.modes(0x3000);
        }
        ifil->tfilno = -1;
        int rc = OPNIFILz(p);
        zviflnam(p, hostname, 0, nullptr);
        if (badonly && rc == 12) {
            log_line("Partition HOST could not be opened for 'bad only' rebuild. No rebuild attempted");
            return set_uerr(12);
        }
        if (badonly && rc) {
            log_code("Partition HOST is not clean; must rebuild all components", rc);
            return set_uerr(931);
        }
        if (rc) return set_uerr(rc);
        log_line(badonly ? "Partition HOST opened successfully for 'bad only' rebuild of members." : hostname);
        opened = true;
        host = fcb_at(ifil->tfilno);
    }
    const int hostno = host ? host->filno : -1;
    // The host's close writes what the member rebuilds left in its cache
    // (the global unique indexes): 0 or its error.
    auto close_host = [&]() {
        if (!opened) return 0;
        ErrorKeep keep;
        ifil->tfilno = int16_t(hostno);
        return CLIFIL(ifil);
    };
    PARTDEF *pd = host ? host->partdef : nullptr;
    // 2. The partition index and the instance's record of the walk.
    if (!pd || relative_index(hostno, pd->ptidx) < 0) {
        close_host();
        return set_uerr(615);
    }
    WalkRecord record(host);
    const bool global = (host->hdr.ext.flmode2 & kPartGlobal) != 0;
    bool failed = false, stopped = false;
    int result = 0, membercode = 0;
    bool changed = false;
    // 3. The members in raw order.
    for (int32_t raw = pd->ptbase; raw < pd->ptbase + pd->ptcur && !stopped; raw++) {
        PARTMBR *m = member_entry(pd, raw);
        const int32_t st = m->state;
        const bool rebuild = single ? st == kMbrRebuilding : st == kMbrClosed;
        const bool archived = !single && st == kMbrArchived && global;
        if (!rebuild && !archived) continue;
        MemberSetDef def;
        int rc = 0;
        try {
            rc = def.build(host, hostno, raw, m->stamp);
        } catch (const std::bad_alloc &) {
            rc = set_uerr(82);
        }
        if (!rc && archived) rc = archived_keys(host, hostno, *m, raw, def);
        if (rc) {
            log_code("Partitioned file rebuild failed before attempting to rebuild all partitions", rc);
            result = rc;
            stopped = true;
            break;
        }
        if (archived) continue;
        IFILPARM mp;
        if (badonly) {
            // A member that opens as it stands needs nothing.
            def.member.dfilmod = int16_t((def.member.dfilmod & ~0x09) | 0x1008);
            def.member.ifilmod = int16_t((def.member.ifilmod & ~0x09) | 0x1008);
            setifil8(&mp, &def.member, " ", nullptr, 0, nullptr, nullptr, def.blocks.data());
            if (OPNIFILz(&mp) == 0) {
                log_line("Clean partition member file. No member rebuild.");
                log_line(def.dname.c_str());
                CLIFIL(&def.member);
                continue;
            }
            set_uerr(0);
            def.member.dfilmod = int16_t((def.member.dfilmod & ~0x09) | 0x1000);
            def.member.ifilmod = int16_t((def.member.ifilmod & ~0x09) | 0x1000);
        }
        int32_t stamp = m->stamp;
        if ((badonly || single) && global) {
            if (stamp >= 255 && narrow(host)) {
                result = 930;
                stopped = true;
                break;
            }
            const int32_t own = int32_t(host->hdr.ext.crew14);
            stamp = stamp + 1 > own ? stamp + 1 : own;
        }
        def.blocks[0].option14 = uint32_t(stamp);
        def.member.tfilno = o.purge ? int16_t(-(0x4000 + 0x004)) : int16_t(-1);
        def.member.dfilno = -1;
        setifil8(&mp, &def.member, " ", nullptr, 0, nullptr, nullptr, def.blocks.data());
        isam_state(g).rblraw = raw;
        isam_state(g).rblstamp = stamp;
        // Under its new stamp the member's old global entries are stale.
        const int32_t oldstamp = m->stamp;
        m->stamp = stamp;
        rc = RBLIFILz(&mp);
        m = member_entry(pd, raw);
        m->stamp = oldstamp;
        if (rc == 0 || rc == 650) {
            log_line(rc ? "Partition member rebuilt successfully (purged records with duplicate key values)."
                        : "Partition member rebuilt successfully.");
            rc = 0;
            if (stamp != m->stamp) {
                rc = stamp_member(def.dname, stamp);
                if (!rc) {
                    m->stamp = stamp;
                    changed = true;
                }
            }
        }
        if (rc) {
            log_code("Partition member rebuild failed", rc);
            failed = true;
            membercode = rc;
        }
        log_line(def.dname.c_str());
        if (single) break;
    }
    if (changed) {
        ErrorKeep keep;
        zvupdtpres(host, hostno);
    }
    const int closed = close_host();
    if (stopped) return set_uerr(result);
    if (single) return set_uerr(membercode);
    if (failed) {
        log_code("Attempted to rebuild all partitions. One or more partition rebuilds failed.", 928);
        return set_uerr(928);
    }
    if (closed) return set_uerr(closed);
    log_line("Partitioned file rebuild completed successfully.");
    return set_uerr(0);
}

int rebuild_member(FCB *host, int hostno, int32_t raw) {
    INSTGV *g = zvWNGV;
    PARTMBR *m = member_entry(host->partdef, raw);
    if (m->state == kMbrNone) return 715;
    if (m->state != kMbrClosed) return 718;
    char *names = nullptr;
    char dext[9], iext[9];
    IFIL *def = cnvifilnp(&names, host->name, dext, iext, hostno);
    if (!def) return g->uerr_cod ? g->uerr_cod : 408;
    int rc = 0;
    try {
        // The host set's create blocks: the data file's, then each index
        // file's.
        std::vector<XCREblk> blocks(65);
        setxcreblk(host, &blocks[0]);
        int b = 1;
        for (int k = 0; k < def->dnumidx && k < kMapIndexes && b < 65; k++) {
            const int ix = isam_map_index(hostno, k);
            FCB *x = ix >= 0 ? fcb_at(ix) : nullptr;
            if (x && x->hdr.base.kmem == 0) setxcreblk(x, &blocks[size_t(b++)]);
        }
        def->dfilno = int16_t(hostno);
        def->tfilno = -1;
        IFILPARM p;
        setifil8(&p, def, dext[0] ? dext : nullptr, iext[0] ? iext : nullptr, 0, nullptr, nullptr, blocks.data());
        m->state = kMbrRebuilding;
        isam_state(g).rblhost = host;
        PartitionRunMark run;
        OptionBit ops(&g->opsmode, kOpsMemberRebuild);
        rc = zvpartrbld(&p);
    } catch (const std::bad_alloc &) {
        rc = 82;
    }
    m = member_entry(host->partdef, raw);
    m->state = kMbrClosed;
    zvputmem(def);
    zvputmem(names);
    return rc;
}

// ---- Index addition ------------------------------------------------------------

int zvpartiidx(FCB *host, int hostno, int relkey, IFILPARM *p, int add, int) {
    INSTGV *g = zvWNGV;
    IFIL *ifil = p->ifil;
    const int nidx = ifil->dnumidx;
    if (nidx <= 0) return 0;
    if (!ifil->iidxarr[0].aidxnam) return set_uerr(467);
    SetShape shape;
    if (!classify(ifil, &shape)) return set_uerr(540);
    PARTDEF *pd = host->partdef;
    if (!pd) return 0;
    const bool rule = pd->ptrule != nullptr;
    const uint32_t hostflags = host->hdr.ext.flmode2, hosthdr2 = host->hdr.base.hdrflags2;
    std::vector<int> done;   // members given the indexes
    auto undo = [&](int code) {
        ErrorKeep keep;
        if (add) {
            for (auto it = done.rbegin(); it != done.rend(); ++it) {
                for (int k = nidx - 1; k >= 0; k--) {
                    if (!shape.is_file(k)) continue;
                    const int mix = relative_index(*it, relkey + k);
                    if (mix >= 0) zvDROPIDX(mix);
                }
            }
        }
        if (host->hdr.ext.flmode2 != hostflags || host->hdr.base.hdrflags2 != hosthdr2) {
            host->hdr.ext.flmode2 = hostflags;
            host->hdr.base.hdrflags2 = hosthdr2;
            host->hdr.base.updflg = kUpdChanged;
        }
        return set_uerr(code);
    };
    int32_t raw = -1;
    try {
        for (;;) {
            const int n = nxtpartno(host, hostno, &raw, false);
            if (n == -2) break;
            if (n < 0) return undo(g->uerr_cod ? g->uerr_cod : 714);
            if (!add) {
                const int mix = relative_index(n, relkey);
                if (mix < 0) return undo(615);
                IFIL one = *ifil;
                one.dfilno = int16_t(n);
                one.tfilno = int16_t(mix);
                if (int rc = RBLIIDX(&one)) return undo(rc);
                continue;
            }
            // The member's names and blocks of the new index files.
            std::vector<IIDX> idx(ifil->iidxarr, ifil->iidxarr + nidx);
            std::vector<std::string> names(static_cast<size_t>(nidx));
            std::vector<XCREblk> blocks(size_t(nismfil(ifil)));
            int b = 1;
            for (int k = 0; k < nidx; k++) {
                if (!shape.is_file(k)) continue;
                const int hix = relative_index(hostno, relkey + k);
                FCB *hx = hix >= 0 ? fcb_at(hix) : nullptr;
                if (!hx) return undo(615);
                char name[256];
                if (int rc = partnam_i(rule, hx->name, raw, name)) return undo(rc);
                names[size_t(k)] = name;
                idx[size_t(k)].aidxnam = names[size_t(k)].c_str();
                setxcreblk(hx, &blocks[size_t(b)]);
                XCREblk &x = blocks[size_t(b++)];
                x.mode = (x.mode | kPartMember) & ~(kPartBits | 0x810u);
                // A new global unique index makes the host one with global
                // unique indexes.
                if ((hx->hdr.ext.flmode2 & kPartGlobalIdx) && !(host->hdr.ext.flmode2 & kPartGlobal)) {
                    host->hdr.ext.flmode2 |= kPartGlobal;
                    host->hdr.base.hdrflags2 |= kEnhanced;
                    host->hdr.base.updflg = kUpdChanged;
                }
                if (hx->hdr.ext.flmode2 & kPartGlobalIdx) x.mode |= kPartGlobal;
            }
            setxcreblk(fcb_at(n), &blocks[0]);
            IFIL mine = *ifil;
            mine.dfilno = int16_t(n);
            mine.tfilno = -1;
            mine.iidxarr = idx.data();
            if (int rc = PRMIIDX8(&mine, blocks.data())) return undo(rc);
            done.push_back(n);
        }
    } catch (const std::bad_alloc &) {
        return undo(82);
    }
    return 0;
}

}  // namespace zv

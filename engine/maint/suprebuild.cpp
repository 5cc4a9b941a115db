// Superfile rebuild: a closed host repaired from the areas it holds.
//
// A host keeps its members in areas, each area header naming its owner by
// member number: a member's own area (its name field and header), the
// records of data members, the nodes of index members, resources, and free
// space (0xFDFD of the host, 0xFCFC of a variable-length member).
//
// Pass 1 walks the host raw: free areas next to each other are joined, the
// nodes of the old free-space index and every area whose owner is all ones
// become free, an unreadable stretch becomes one free area, every member
// is found by its own area (its name and number noted), every resource is
// noted under its owner (of two with one owner, type and number the larger
// stays), and every owner's resource ring is linked again, its file header
// pointing at the first entry.
//
// Pass 1 also takes the directory's position from the directory's own area
// (member 1), whatever the host's header held.
//
// Pass 2 opens the host and each member found: the free-space index is
// built again from the free areas, the directory from the members found
// (a member whose headers do not open is left out, its own area freed);
// each member's counters, delete stack and area chain are rebuilt from the
// areas it owns, and index members are emptied (their nodes go on the
// deleted-node stack) for the set rebuild that loads them again.
//
// The set rebuild repairs the members of one set the same way on the open
// host, without touching the host's own structures or other members
// (rbl_member_pass).
//
// Every member opened is marked on disk before any of its areas changes;
// at the end a data member closes clean, an index member stays marked
// (empty) until its set rebuild loads it, so its set does not open with
// empty indexes in between.
//
// Every walk is bounded by the host's size. A failure leaves the update
// flag 0xFF on the host (and on every member opened) and the rebuild can
// run again.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/core/arith.h"
#include "engine/core/bytes.h"
#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/filehold.h"
#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/files/close.h"
#include "engine/files/fcbops.h"
#include "engine/files/header.h"
#include "engine/core/header_codec.h"
#include "engine/files/resource.h"
#include "engine/files/superfile.h"
#include "engine/files/varrec.h"
#include "engine/index/index_services.h"
#include "engine/index/keyinsert.h"
#include "engine/index/node.h"
#include "engine/maint/datscan.h"
#include "engine/maint/maintstate.h"
#include "engine/maint/rblstate.h"
#include "engine/maint/suprebuild.h"

namespace zv {

namespace {

constexpr uint32_t kAllOnes = 0xFFFFFFFFu;
constexpr int kBadMark = 123;

// A resource found by pass 1, under its owner.
struct ResKey {
    uint32_t owner, type, number;
    bool operator<(const ResKey &o) const {
        if (owner != o.owner) return owner < o.owner;
        if (type != o.type) return type < o.type;
        return number < o.number;
    }
};

// A member found by pass 1: its own area and header.
struct Member {
    uint32_t number = 0;
    uint64_t area = 0;
    uint64_t hdrpos = 0;
    std::string part;          // member part of the name
    std::string field;         // its member-name field as the area holds it
    int filno = -1;            // open in pass 2
    uint64_t head = 0;         // its area chain, rebuilt
    uint64_t stack = 0;        // its delete stack (fixed length) or deleted nodes (index)
    uint64_t active = 0;
};

struct Host {
    int filno = -1;
    std::string name;
    FCB *f = nullptr;
    bool wide = false;
    uint32_t R = 18;           // area header of a member area
    uint64_t size = 0;
    uint64_t end = 0;          // where the areas end (pass 1)
    uint32_t highest = 0;      // highest member number seen
    std::map<ResKey, uint64_t> res;       // resources by owner, type, number
    std::map<uint32_t, Member> members;   // by member number
    std::map<uint64_t, uint32_t> starts;  // member areas by position
};

int read_at(FCB *f, uint64_t pos, void *buf, int32_t len) {
    int32_t got = 0;
    int rc = izvio81x(0, f, uint32_t(pos >> 32), uint32_t(pos), buf, len, &got, 0);
    if (!rc && got < len) rc = set_uerr(36);
    return rc;
}

int write_at(FCB *f, uint64_t pos, const void *buf, int32_t len) {
    return izvio81x(1, f, uint32_t(pos >> 32), uint32_t(pos), const_cast<void *>(buf), len, nullptr, 0);
}

// The mark, area length, record length and owner of the area at pos.
struct Area {
    uint16_t mark = 0;
    uint32_t len = 0;
    uint32_t reclen = 0;
    uint32_t owner = 0;
};

int get_area(Host &h, uint64_t pos, Area *a) {
    unsigned char b[22] = {};
    int32_t n = int32_t(h.size - pos < h.R ? h.size - pos : h.R);
    if (int rc = read_at(h.f, pos, b, n)) return rc;
    a->mark = le::get16(b);
    a->len = le::get32(b + 2);
    a->reclen = le::get32(b + 6);
    a->owner = n >= 14 ? le::get32(b + 10) : 0;
    return 0;
}

// Writes a free area of the host: 0xFDFD, its length, record length 0.
int put_free(Host &h, uint64_t pos, uint32_t len) {
    unsigned char b[10] = {};
    le::put16(b, kVrecFree);
    le::put32(b + 2, len);
    return write_at(h.f, pos, b, 10);
}

bool known(uint16_t m) {
    return m == kVrecUsed || m == kVrecFree || m == kVrecMemberFree || m == kVrecNode || m == kVrecResource;
}

// The member part of a name field: the bytes before the padding.
std::string field_part(const unsigned char *field, int32_t len, uint8_t pad) {
    int32_t n = len;
    while (n > 0 && (field[n - 1] == pad || field[n - 1] == ' ' || field[n - 1] == 0)) n--;
    return std::string(reinterpret_cast<const char *>(field), size_t(n));
}

// Pass 1 on an area marked 0xFAFA with a real owner: a member's own area
// (noted), or one of its records or nodes.
int note_member(Host &h, uint64_t pos, const Area &a) {
    INSTGV *g = zvWNGV;
    const int32_t L = g->membernamemax > 0 ? g->membernamemax : 128;
    const uint64_t hdrpos = pos + h.R + uint64_t(L);
    if (hdrpos + 128 > pos + a.len) return 0;
    unsigned char raw[512];
    if (int rc = read_at(h.f, hdrpos, raw, 128)) return rc;
    FILEHDRALL hdr{};
    decode_base(raw, raw + 128, &hdr.base);
    if (hdr.base.sfiltyp != kSfMember || hdr.base.supmbr != a.owner ||
        join64(0, hdr.base.hdrpos) != (hdrpos & 0xFFFFFFFFull))
        return 0;
    if (hdr.base.hdrflags & kHdrHasExt) {
        size_t xl = (hdr.base.hdrflags2 & kHdr2Ext384) ? 384 : 128;
        if (hdrpos + 128 + xl > pos + a.len) return 0;
        if (int rc = read_at(h.f, hdrpos + 128, raw + 128, int32_t(xl))) return rc;
        decode_ext(raw + 128, raw + 128 + xl, xl, &hdr.ext);
        if (hdr.ext.hdrposh != uint32_t(hdrpos >> 32)) return 0;
    }
    if (tstverson(&hdr.base, (hdr.base.hdrflags & kHdrHasExt) ? &hdr.ext : nullptr)) return 43;
    Member m;
    m.number = a.owner;
    m.area = pos;
    m.hdrpos = hdrpos;
    if (a.owner > 1) {
        std::vector<unsigned char> field(size_t(L), 0);
        if (int rc = read_at(h.f, pos + h.R, field.data(), L)) return rc;
        uint8_t pad = h.f->hdr.base.keypad ? h.f->hdr.base.keypad : 0x20;
        m.part = field_part(field.data(), L, pad);
        m.field.assign(field.begin(), field.end());
    }
    h.members[a.owner] = m;
    h.starts[pos] = a.owner;
    return 0;
}

// Pass 1 on a resource: the larger of two with one owner, type and number
// stays.
int note_resource(Host &h, uint64_t pos) {
    RESHDR r;
    int rc = getrhdr(h.f, pos, &r);
    if (rc == 407 || rc == 36) return set_uerr(0);
    if (rc) return rc;
    ResKey k{r.member, r.type, r.number};
    auto it = h.res.find(k);
    if (it != h.res.end()) {
        RESHDR o;
        if (getrhdr(h.f, it->second, &o) == 0 && o.arealen > r.arealen) return set_uerr(0);
    }
    h.res[k] = pos;
    return set_uerr(0);
}

// Links each owner's resources into a ring again: 0 or an error. The ring
// heads of the owners, by owner, into *heads.
int link_rings(Host &h, std::map<uint32_t, uint64_t> *heads) {
    std::map<uint32_t, std::vector<uint64_t>> rings;
    for (const auto &kv : h.res) rings[kv.first.owner].push_back(kv.second);
    for (auto &kv : rings) {
        std::vector<uint64_t> &ring = kv.second;
        const size_t n = ring.size();
        (*heads)[kv.first] = ring[0];
        for (size_t i = 0; i < n; i++) {
            RESHDR r;
            if (int rc = getrhdr(h.f, ring[i], &r)) return rc;
            uint64_t fwd = ring[(i + 1) % n], bwd = ring[(i + n - 1) % n];
            if (r.fwd == fwd && r.bwd == bwd) continue;
            r.fwd = fwd;
            r.bwd = bwd;
            if (int rc = putrhdr(h.f, ring[i], &r)) return rc;
        }
    }
    return 0;
}

// Pass 1: the area walk of the raw host.
int isupass1(Host &h) {
    FCB *f = h.f;
    FILEHDR &b = f->hdr.base;
    FILEHDRX &x = f->hdr.ext;
    const uint32_t unit = 10;
    const uint32_t node = f->nodesize;
    uint64_t pos = first_node_offset(f);
    const uint64_t bound = h.size / unit + 2;
    uint64_t steps = 0;
    uint64_t runpos = 0;
    uint32_t runlen = 0;
    bool run = false;
    // Joins [at, at + len) to the free area before it when they meet.
    auto make_free = [&](uint64_t at, uint64_t len) -> int {
        while (len > 0) {
            uint32_t piece = len > 0xFFFFFF00ull ? 0xFFFFFF00u : uint32_t(len);
            if (run && runpos + runlen == at && uint64_t(runlen) + piece <= 0xFFFFFFFFull) {
                runlen += piece;
                if (int rc = put_free(h, runpos, runlen)) return rc;
            } else {
                if (int rc = put_free(h, at, piece)) return rc;
                runpos = at;
                runlen = piece;
                run = true;
            }
            at += piece;
            len -= piece;
        }
        return 0;
    };
    while (pos < h.size) {
        if (++steps > bound) return 512;
        Area a;
        bool readable = h.size - pos >= unit;
        if (readable) {
            if (int rc = get_area(h, pos, &a)) return rc;
            readable = known(a.mark) && a.len >= unit && pos + a.len <= h.size;
            // A node of the old free-space index is one node long.
            if (readable && a.mark == kVrecNode && a.len != unit + node) return 40;
        }
        if (!readable) {
            int fill = rbl_all_fill(f, pos, h.size);
            if (fill < 0) return -fill;
            if (fill) break;
            uint64_t q = pos + unit;
            for (; q < h.size; q++) {
                int m = zvscnmrk81(f, q, h.size, 0);
                if (m < 0) return -m;
                if (m == 1) break;
            }
            char line[128];
            snprintf(line, sizeof line, "Superfile rebuild made %llu unreadable bytes at offset %x%08xx free space...",
                     (unsigned long long)(q - pos), unsigned(pos >> 32), unsigned(uint32_t(pos)));
            zvrcvlog(line, kLogSingleTry);
            zvrcvlog(f->name, kLogSingleTry);
            if (int rc = make_free(pos, q - pos)) return rc;
            pos = q;
            continue;
        }
        switch (a.mark) {
        case kVrecNode:
            if (int rc = make_free(pos, a.len)) return rc;
            break;
        case kVrecUsed:
            if (a.owner == kAllOnes) {
                if (int rc = make_free(pos, a.len)) return rc;
                break;
            }
            run = false;
            if (a.owner > h.highest && a.owner < kAllOnes) h.highest = a.owner;
            if (int rc = note_member(h, pos, a)) return rc;
            break;
        case kVrecResource:
            run = false;
            if (int rc = note_resource(h, pos)) return rc;
            break;
        case kVrecFree:
            if (int rc = make_free(pos, a.len)) return rc;
            break;
        default:  // 0xFCFC: a member's free area
            run = false;
            break;
        }
        pos += a.len;
    }
    h.end = pos < h.size ? pos : h.size;
    split64(h.end - 1, &x.numrech, &b.numrec);
    split64(h.size - 1, &x.phyendh, &b.phyend);
    if (!h.wide) x.numrech = x.phyendh = 0;
    if (uint32_t(b.sfmember) < h.highest) b.sfmember = int32_t(h.highest);
    // The directory is member 1: its own area says where its header is,
    // whatever the host's header held when the host was last written (a
    // host whose creator was killed may never have written it there).
    auto dir = h.members.find(1);
    if (dir == h.members.end() || (dir->second.hdrpos >> 32)) return 48;
    b.sfdirpos = uint32_t(dir->second.hdrpos);
    // The resource rings, each owner's header pointing at its first entry.
    std::map<uint32_t, uint64_t> heads;
    if (int rc = link_rings(h, &heads)) return rc;
    split64(heads.count(0) ? heads[0] : 0, &x.reshdrh, &b.reshdr);
    for (auto &kv : h.members) {
        if (kv.first <= 1) continue;
        uint64_t head = heads.count(kv.first) ? heads[kv.first] : 0;
        unsigned char w[4];
        le::put32(w, uint32_t(head));
        if (int rc = write_at(f, kv.second.hdrpos + 12, w, 4)) return rc;
        unsigned char flags[2];
        if (int rc = read_at(f, kv.second.hdrpos + 98, flags, 2)) return rc;
        if (le::get16(flags) & kHdrHasExt) {
            le::put32(w, uint32_t(head >> 32));
            if (int rc = write_at(f, kv.second.hdrpos + 140, w, 4)) return rc;
        }
    }
    return 0;
}

// The key of a free area in the host's free-space index.
int add_free_key(Host &h, uint32_t owner, uint32_t len, uint64_t pos) {
    unsigned char key[16];
    be::put32(key, owner);
    be::put32(key + 4, len);
    if (h.wide) {
        be::put32(key + 8, uint32_t(pos >> 32));
        be::put32(key + 12, uint32_t(pos));
    } else {
        be::put32(key + 8, uint32_t(pos));
    }
    return iaddkey(h.filno, key, uint32_t(pos >> 32), uint32_t(pos), 16);
}

// A member of pass 2: its kind and block.
enum class Kind { Fixed, Variable, Index };

Kind kind_of(const FCB *m) {
    if (m->kind == kKindIndex) return Kind::Index;
    return m->kind == kKindVariable ? Kind::Variable : Kind::Fixed;
}

// Pass 2 on one area owned by an open member.
int owned_area(Host &h, Member &m, uint64_t pos, Area &a) {
    FCB *f = fcb_at(m.filno);
    const Kind k = kind_of(f);
    const uint32_t link = h.wide ? 8 : 4;
    auto chain = [&]() -> int {
        unsigned char w[8];
        le::put32(w, uint32_t(m.head));
        le::put32(w + 4, uint32_t(m.head >> 32));
        if (int rc = write_at(h.f, pos + 14, w, int32_t(h.wide ? 8 : 4))) return rc;
        m.head = pos;
        return 0;
    };
    switch (a.mark) {
    case kVrecResource:
        return 0;
    case kVrecFree:
        if (k == Kind::Variable) return kBadMark;
        return 0;  // space of the host
    case kVrecMemberFree:
        if (k != Kind::Variable) return kBadMark;
        return chain();
    case kVrecUsed:
        break;
    default:
        return kBadMark;
    }
    if (k == Kind::Index) {
        // A node of the index: on the deleted-node stack, its links dropped.
        return rbl_push_node(h.f, pos + h.R, &m.stack, h.wide, false);
    }
    if (k == Kind::Fixed) {
        unsigned char first = 0;
        if (int rc = read_at(h.f, pos + h.R, &first, 1)) return rc;
        if (first == 0xFF) {
            unsigned char l[9];
            l[0] = 0xFF;
            for (uint32_t i = 0; i < link; i++) l[1 + i] = uint8_t(m.stack >> (8 * i));
            if (int rc = write_at(h.f, pos + h.R, l, int32_t(1 + link))) return rc;
            m.stack = pos;
        } else {
            m.active++;
        }
        return chain();
    }
    // A variable-length member: an area in use holds a record.
    if (a.reclen == 0) {
        unsigned char mark[2];
        le::put16(mark, kVrecMemberFree);
        if (int rc = write_at(h.f, pos, mark, 2)) return rc;
        if (int rc = add_free_key(h, m.number, a.len, pos)) return rc;
    }
    return chain();
}

// Calls fn(pos, area) for every area of the open host from its first node
// position up to h.end, the walk bounded by that length: 0, 512, a read
// error, or the first non-zero answer of fn.
template <typename Fn>
int each_area(Host &h, Fn fn) {
    const uint64_t bound = h.end / 10 + 2;
    uint64_t steps = 0;
    for (uint64_t pos = first_node_offset(h.f); pos < h.end;) {
        if (++steps > bound) return 512;
        Area a;
        if (int rc = get_area(h, pos, &a)) return rc;
        if (a.len < 10) return 512;
        if (int rc = fn(pos, a)) return rc;
        pos += a.len;
    }
    return 0;
}

// Leaves the update flag 0xFF on disk for a file that is closed after a
// failure, or that is left for a later step (its block held as 'R', the
// close keeps the disk's mark): 0 or the first error of its header writes
// and close.
int close_marked(int filno) {
    INSTGV *g = zvWNGV;
    FCB *f = fcb_at(filno);
    if (!f || f->state == 'n') return 0;
    uint16_t keep = g->uerr_cod;
    int first = 0;
    for (FCB *b = f; b; b = b->nextmember) {
        b->hdr.base.updflg = kUpdChanged;
        int rc = wrthdr(b);
        if (rc && !first) first = rc;
        b->hdr.base.updflg = kUpdRebuild;
    }
    int rc = iclsfilx(filno, 0);
    g->uerr_cod = keep;
    return first ? first : rc;
}

// Writes the headers of an open file (and its members) with the update
// flag 0xFF: 0 or the first error.
int mark_changed(FCB *f) {
    for (FCB *b = f; b; b = b->nextmember) {
        b->hdr.base.updflg = kUpdChanged;
        if (int rc = wrthdr(b)) return rc;
    }
    return 0;
}

// Whether a member's open answered that its headers are damaged.
bool unmade(int rc) { return rc == 13 || rc == 43 || rc == 672 || rc == 812; }

// Leaves out a member found in pass 1 that does not open: its directory key
// goes, its own area becomes free space of the host (the areas it owns stay
// as they are, owned by no member that opens), and the status log says so.
int drop_member(Host &h, const Member &m) {
    char line[128];
    snprintf(line, sizeof line, "Superfile rebuild left out member %u, whose header does not open:", unsigned(m.number));
    zvrcvlog(line, kLogSingleTry);
    zvrcvlog(m.part.c_str(), kLogSingleTry);
    FCB *dir = h.f->sflink;
    int rc = idelchk(dir->filno, m.field.data(), uint32_t(m.hdrpos >> 32), uint32_t(m.hdrpos), 0);
    if (rc) return rc;
    Area a;
    if ((rc = get_area(h, m.area, &a)) != 0) return rc;
    if ((rc = put_free(h, m.area, a.len)) != 0) return rc;
    h.starts.erase(m.area);
    return add_free_key(h, 0, a.len, m.area);
}

// Pass 2: the host open, its free-space index, the members' counters,
// stacks and chains.
int isupass2(Host &h) {
    INSTGV *g = zvWNGV;
    // 1. Free areas into the host's free-space index (its nodes grow the
    // host past the end of pass 1).
    int rc = each_area(h, [&h](uint64_t pos, const Area &a) {
        if (a.mark == kVrecFree) return add_free_key(h, 0, a.len, pos);
        if (a.mark == kVrecMemberFree && a.owner > 1 && a.owner < kAllOnes) return add_free_key(h, a.owner, a.len, pos);
        return 0;
    });
    if (rc) return rc;
    // The directory: its nodes on its deleted-node stack, and a key for
    // every member found, so that a directory that was not closed cleanly
    // is whole again and its close writes it clean.
    FCB *dir = h.f->sflink;
    if (!dir || dir->hostfcb != h.f || dir->kind != kKindIndex) return 413;
    rbl_empty_index(dir);
    uint64_t dirstack = 0;
    rc = each_area(h, [&h, &dirstack](uint64_t pos, const Area &a) {
        if (a.mark != kVrecUsed || a.owner != 1 || h.starts.count(pos)) return 0;
        return rbl_push_node(h.f, pos + h.R, &dirstack, h.wide, false);
    });
    if (rc) return rc;
    split64(dirstack, &dir->hdr.ext.delstkh, &dir->hdr.base.delstk);
    if (!h.wide) dir->hdr.ext.delstkh = 0;
    for (const auto &kv : h.members) {
        const Member &m = kv.second;
        if (m.number <= 1) continue;
        if (int rc = iaddkey(dir->filno, m.field.data(), uint32_t(m.hdrpos >> 32), uint32_t(m.hdrpos), 16)) return rc;
    }
    // 2. Each member opened, its counters reset. A member whose headers do
    // not open as they stand (an index whose creation a kill cut short
    // between the header of the index and those of its additional members)
    // was never made: it is left out (dropped).
    const char sep = g->membersep ? g->membersep : '!';
    for (auto it = h.members.begin(); it != h.members.end();) {
        Member &m = it->second;
        if (m.number <= 1) {
            ++it;
            continue;
        }
        std::string full = h.name + sep + m.part;
        if (full.size() > 255) return 418;
        int n = rbl_spare_filno();
        if (n < 0) return 485;
        if (int rc = OPNFILX(n, full.c_str(), 0x7000, nullptr)) {
            if (!unmade(rc)) return rc;
            set_uerr(0);
            if ((rc = drop_member(h, m))) return rc;
            it = h.members.erase(it);
            continue;
        }
        ++it;
        m.filno = n;
        // Marked on disk before any of its areas changes.
        if (int rc = mark_changed(fcb_at(n))) return rc;
        rbl_empty_index(fcb_at(n));
    }
    // 3. Every area owned by an open member.
    rc = each_area(h, [&h](uint64_t pos, Area &a) {
        auto it = h.members.find(a.owner);
        if (a.owner <= 1 || it == h.members.end() || it->second.filno < 0 || h.starts.count(pos)) return 0;
        int rc = owned_area(h, it->second, pos, a);
        if (rc == kBadMark) {
            char line[128];
            snprintf(line, sizeof line, "Superfile rebuild found mark %04x in an area of member %u at %x%08xx",
                     unsigned(a.mark), unsigned(a.owner), unsigned(pos >> 32), unsigned(uint32_t(pos)));
            zvrcvlog(line, kLogSingleTry);
        }
        return rc;
    });
    if (rc) return rc;
    // The members' counters, stacks and chains.
    for (auto &kv : h.members) {
        Member &m = kv.second;
        if (m.filno < 0) continue;
        FCB *f = fcb_at(m.filno);
        FILEHDR &b = f->hdr.base;
        FILEHDRX &x = f->hdr.ext;
        split64(m.stack, &x.delstkh, &b.delstk);
        if (kind_of(f) != Kind::Index) {
            split64(m.head, &x.sfmemberh, reinterpret_cast<uint32_t *>(&b.sfmember));
            if (kind_of(f) == Kind::Fixed) split64(m.active, &x.numenth, &b.nument);
        }
        if (!h.wide) x.delstkh = x.sfmemberh = x.numenth = 0;
    }
    return 0;
}

int irblsupx(const char *name) {
    INSTGV *g = zvWNGV;
    RblState &rs = maint_state(g).rbl;
    Host h;
    h.name = name;
    // 2. The host raw.
    h.filno = rbl_spare_filno(2);
    if (h.filno < 0) return 485;
    if (int rc = rbl_raw_open(h.filno, name, 0)) return rc;
    h.f = fcb_at(h.filno);
    // Locked exclusively before a byte of it changes, as an exclusive open
    // locks its file: a host that another open has (another process's or
    // one in this process, shared or exclusive) is refused as such an open
    // is, 12 with the lock's system error. (ZVSBLDX holds the host for the
    // whole run, the pass 2 open included; the lock is then its own.)
    if (int err = lock_open_file(h.f->fd, 0)) {
        rbl_raw_close(h.filno, false);
        g->sysiocod = uint16_t(err);
        return 12;
    }
    h.f->wrlock = kLockOpen;
    FILEHDR &b = h.f->hdr.base;
    FILEHDRX &x = h.f->hdr.ext;
    auto fail_raw = [&](int rc, bool mark) {
        rbl_raw_close(h.filno, mark);
        return rc;
    };
    if (uint32_t(b.sfmember) > 255) return fail_raw(418, false);
    if (tstverson(&b, (b.hdrflags & kHdrHasExt) ? &x : nullptr)) return fail_raw(43, false);
    if (b.sfiltyp != kSfHost) return fail_raw(48, false);
    h.wide = (b.hdrflags & kHdr8ByteOffsets) != 0;
    h.R = h.wide ? 22 : 18;
    h.size = rbl_file_size(h.f);
    if (h.size == UINT64_MAX) return fail_raw(g->uerr_cod ? g->uerr_cod : 36, false);
    // 3. Header repair: the variable-length kind and its free-space index.
    const uint16_t ksz = uint16_t(h.wide ? 16 : 12);
    bool changed = b.supmbr != 0 || b.clstyp != kKindVariable || b.keylen != ksz;
    b.supmbr = 0;
    b.clstyp = kKindVariable;
    b.keylen = ksz;
    set_derived_fields(h.f);
    if (changed) {
        if (int rc = wrthdr(h.f)) return fail_raw(rc, false);
    }
    // 4. A clean host without the force word is left alone.
    if (b.updflg == 0 && !rs.forcescan) return fail_raw(0, false);
    rbl_phase("Rebuilding superfile.");
    b.verson = setverson(h.f);
    b.updflg = kUpdChanged;
    b.nument = x.numenth = 0;
    b.root = x.rooth = 0;
    b.delstk = x.delstkh = 0;
    if (int rc = wrthdr(h.f)) return fail_raw(rc, true);
    // 5. Pass 1 raw, then pass 2 through the open host.
    int rc;
    try {
        rc = isupass1(h);
    } catch (const std::bad_alloc &) {
        rc = 485;
    }
    if (!rc) rc = wrthdr(h.f);
    if (rc) return fail_raw(rc, true);
    if ((rc = rbl_raw_close(h.filno, true)) != 0) return rc;
    if ((rc = OPNFILX(h.filno, name, 0x7000, nullptr)) != 0) return rc == 12 ? 485 : rc;
    h.f = fcb_at(h.filno);
    try {
        rc = isupass2(h);
    } catch (const std::bad_alloc &) {
        rc = 485;
    }
    if (rc) {
        for (auto &kv : h.members)
            if (kv.second.filno >= 0) close_marked(kv.second.filno);
        close_marked(h.filno);
        return rc;
    }
    // A data member closes clean. An index member stays marked on disk
    // (update flag 0xFF), empty, until its set rebuild has loaded it: a
    // clean mark would let its set open with no keys, and a kill before the
    // set rebuild would leave it so.
    int first = 0;
    for (auto &kv : h.members) {
        if (kv.second.filno < 0) continue;
        FCB *f = fcb_at(kv.second.filno);
        int cl = kind_of(f) == Kind::Index ? close_marked(kv.second.filno) : iclsfilx(kv.second.filno, 0);
        if (cl && !first) first = cl;
    }
    h.f->hdr.base.updflg = kUpdChanged;
    int cl = iclsfilx(h.filno, 0);
    return first ? first : cl;
}

// The members `names` of the host `hostname` repaired from the areas they
// own, on the open host (opened here when it is not: its number then goes
// to *opened).
int repair_members(const std::string &hostname, const std::vector<MemberFile> &names, std::vector<int> *opened) {
    INSTGV *g = zvWNGV;
    Host h;
    h.name = hostname;
    h.filno = chkopnx(hostname.c_str());
    // A host open under another spelling of its name is repaired under its
    // open block, as under its own spelling: the members open into it
    // whatever spelling they are named by.
    if (h.filno >= 0) h.name = fcb_at(h.filno)->name;
    if (h.filno < 0) {
        // Opened as it stands (its directory on the next number): a host
        // not closed cleanly (14) is for the superfile rebuild.
        if ((h.filno = rbl_spare_filno(2)) < 0) return g->uerr_cod ? g->uerr_cod : 46;
        if (int rc = OPNFIL(h.filno, hostname.c_str(), 0)) return rc;
        opened->push_back(h.filno);
    }
    h.f = fcb_at(h.filno);
    FILEHDR &hb = h.f->hdr.base;
    h.wide = (hb.hdrflags & kHdr8ByteOffsets) != 0;
    h.R = h.wide ? 22 : 18;
    h.end = join64(h.wide ? h.f->hdr.ext.numrech : 0, hb.numrec) + 1;
    h.size = h.end;
    const uint64_t L = uint64_t(g->membernamemax > 0 ? g->membernamemax : 128);
    int rc = hb.sfiltyp == kSfHost && hb.updflg != kUpdRebuild ? 0 : 14;
    // Each member opened whatever its update flag says, its counters reset.
    for (size_t i = 0; !rc && i < names.size(); i++) {
        int n = rbl_spare_filno(names[i].files);
        if (n < 0) {
            rc = g->uerr_cod ? g->uerr_cod : 46;
            break;
        }
        if ((rc = OPNFILX(n, names[i].name.c_str(), 0x7000, nullptr)) != 0) break;
        FCB *f = fcb_at(n);
        Member m;
        m.number = f->hdr.base.supmbr;
        m.filno = n;
        m.hdrpos = join64(f->hposh, f->hposl);
        m.area = m.hdrpos - L - h.R;
        h.members[m.number] = m;
        h.starts[m.area] = m.number;
        // Marked on disk before any of its areas changes.
        if ((rc = mark_changed(f)) != 0) break;
        if (kind_of(f) == Kind::Index) rbl_empty_index(f);
    }
    // Every area they own; their resources noted.
    if (!rc) {
        rc = each_area(h, [&h](uint64_t pos, Area &a) {
            auto it = h.members.find(a.owner);
            const bool owned = a.mark == kVrecUsed || a.mark == kVrecMemberFree || a.mark == kVrecResource;
            if (!owned || it == h.members.end() || h.starts.count(pos)) return 0;
            return a.mark == kVrecResource ? note_resource(h, pos) : owned_area(h, it->second, pos, a);
        });
    }
    std::map<uint32_t, uint64_t> heads;
    if (!rc) {
        // Resources of other owners found through a wrong owner word stay.
        for (auto it = h.res.begin(); it != h.res.end();) it = h.members.count(it->first.owner) ? ++it : h.res.erase(it);
        rc = link_rings(h, &heads);
    }
    // A data member is closed clean; an index member stays marked, empty,
    // until its set rebuild has loaded it.
    int first = rc;
    for (auto &kv : h.members) {
        Member &m = kv.second;
        FCB *f = fcb_at(m.filno);
        if (rc) {
            close_marked(m.filno);
            continue;
        }
        FILEHDR &b = f->hdr.base;
        FILEHDRX &x = f->hdr.ext;
        split64(m.stack, &x.delstkh, &b.delstk);
        split64(heads.count(m.number) ? heads[m.number] : 0, &x.reshdrh, &b.reshdr);
        if (kind_of(f) != Kind::Index) {
            split64(m.head, &x.sfmemberh, reinterpret_cast<uint32_t *>(&b.sfmember));
            if (kind_of(f) == Kind::Fixed) split64(m.active, &x.numenth, &b.nument);
        }
        if (!h.wide) x.delstkh = x.sfmemberh = x.numenth = x.reshdrh = 0;
        int cl = kind_of(f) == Kind::Index ? close_marked(m.filno) : iclsfilx(m.filno, 0);
        if (cl && !first) first = cl;
    }
    return first;
}

}  // namespace

int rbl_member_pass(const std::vector<MemberFile> &names, std::vector<int> *opened) {
    std::map<std::string, std::vector<MemberFile>> byhost;
    for (const MemberFile &f : names) {
        if (int at = zvsname1(f.name.c_str())) byhost[f.name.substr(0, size_t(at - 1))].push_back(f);
    }
    for (const auto &kv : byhost) {
        if (int rc = repair_members(kv.first, kv.second, opened)) return rc;
    }
    return 0;
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int ZVSBLDX(const char *hostname, const char *password) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    (void)password;
    set_uerr(0);
    if (!hostname || !*hostname) return rerr(130, 0);
    if (!g->started || !g->fcbtab) return rerr(47, 0);
    char name[256];
    snprintf(name, sizeof name, "%s", hostname);
    // An open host would be changed under its open block.
    if (chkopnx(name) >= 0) return rerr(46, chkopnx(name));
    // Held from here to the end: its raw pass, its close and its open again
    // for the second pass leave no moment for another open.
    HeldFiles held;
    if (int rc = held.take(name, true)) return rerr(rc, 0);
    RblState &rs = maint_state(g).rbl;
    rs.forcescan = 1;
    g->rebuilding = 1;
    g->pc.forceread_rebuild = 1;
    int rc;
    try {
        rc = irblsupx(name);
    } catch (...) {
        rc = 485;
    }
    g->rebuilding = 0;
    g->pc.forceread_rebuild = 0;
    if (rc) return rerr(rc, 0);
    return set_uerr(0);
}

}  // extern "C"

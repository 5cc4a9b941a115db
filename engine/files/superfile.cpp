// Superfiles: a host file that keeps data and index files as its members.
//
// A member's name is the host's name, the member separator and the member
// part. The host is a variable-length file of page-sized nodes; each member
// lives in an area of the host:
//   OFFSET   SIZE  FIELD
//     0       R    area header: mark 0xFAFA, area length, record length 0,
//                  member number, previous area (R = 18, 22 with 8-byte
//                  offsets)
//     R       L    member-name field: the member part padded with the host's
//                  padding byte (0x20 when it has none); L is the instance's
//                  member-name limit
//     R + L        the member's header(s): one for a data member, one per
//                  index member (+ 1) for an index
// The area is a whole number of pages. The host's directory is an index
// member (number 1, key length L, unique keys) whose keys are the name
// fields and whose positions are the member header positions; the host's
// header keeps its position (+84). Open, the directory is the block after
// the host (superfile type 6 in memory).
//
// Invariants:
//  1. Every member but the directory has exactly one directory key; a
//     rename that fails puts the old key and name field back.
//  2. A member block's host link and superfile link name the host; the
//     host's superfile link names its directory block.
//  3. The host's last member number only rises; a failed create gives its
//     number back.
#include "engine/files/superfile.h"

#include <cstdio>
#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/centralio.h"
#include "engine/core/filenum.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/files/close.h"
#include "engine/files/create.h"
#include "engine/files/fcbops.h"
#include "engine/files/header.h"
#include "engine/files/open.h"
#include "engine/files/varrec.h"
#include "engine/index/index_services.h"

extern "C" int zvsname1(const char *name) {
    if (!name || !zvWNGV) return 0;
    char sep = zvWNGV->membersep ? zvWNGV->membersep : '!';
    const char *p = strchr(name, sep);
    if (!p || p == name) return 0;
    return int(p - name) + 1;
}

namespace zv {

namespace {

constexpr uint16_t kAreaUsed = 0xFAFA;
constexpr uint16_t kAreaDeleted = 0xFDFD;

char separator() { return zvWNGV && zvWNGV->membersep ? zvWNGV->membersep : '!'; }
int32_t name_limit() { return zvWNGV->membernamemax > 0 ? zvWNGV->membernamemax : 128; }
uint32_t area_header(const FCB *host) { return (host->hdr.base.hdrflags & kHdr8ByteOffsets) ? 22 : 18; }
uint8_t pad_of(const FCB *host) { return host && host->hdr.base.keypad ? host->hdr.base.keypad : 0x20; }
bool is_host(const FCB *f) { return f && f->hdr.base.sfiltyp == kSfHost; }

FCB *open_block(int filno) {
    INSTGV *g = zvWNGV;
    if (!filno_in_table(filno)) return nullptr;
    FCB *f = g->fcbtab[filno];
    return f && (f->state == 'y' || f->state == 'v' || f->state == 'w') ? f : nullptr;
}

// The open directory of a host, or null.
FCB *directory_of(const FCB *host) {
    FCB *d = host ? host->sflink : nullptr;
    return d && d->state == 'y' && d->hdr.base.sfiltyp == kSfDirectory ? d : nullptr;
}

// The name field of a member part: 0 or 418 (longer than the limit).
int make_field(const FCB *host, const char *part, unsigned char (&field)[kFieldBuf]) {
    int32_t L = name_limit();
    size_t n = strlen(part);
    memset(field, pad_of(host), sizeof field);
    field[kFieldBuf - 1] = 0;
    if (n > size_t(L)) return 418;
    memcpy(field, part, n);
    return 0;
}

// Bytes at a 64-bit position of the host.
int host_io(FCB *host, bool write, uint64_t pos, void *buf, int32_t len) {
    uint32_t hi, lo;
    split64(pos, &hi, &lo);
    return izvio81x(write ? 0x11 : 0x10, host, hi, lo, buf, len, nullptr, 0);
}

// Writes a member area's header: mark, area length, record length 0,
// member number, previous area 0.
int put_area_header(FCB *host, uint64_t pos, uint16_t mark, uint32_t len, uint32_t member) {
    unsigned char h[22] = {};
    h[0] = uint8_t(mark);
    h[1] = uint8_t(mark >> 8);
    for (int i = 0; i < 4; i++) {
        h[2 + i] = uint8_t(len >> (8 * i));
        h[10 + i] = uint8_t(member >> (8 * i));
    }
    return host_io(host, true, pos, h, int32_t(area_header(host)));
}

// Directory lookup: the header position of a field, 0 when absent.
uint64_t dir_find(FCB *dir, const unsigned char *field) {
    uint32_t lo = ieqlkey(dir, field);
    uint32_t hi = uint32_t(zvGETHGHi());
    return join64(hi, lo);
}

int dir_add(FCB *dir, const unsigned char *field, uint64_t pos) {
    return iaddkey(dir->filno, field, uint32_t(pos >> 32), uint32_t(pos), 16);
}

int dir_delete(FCB *dir, const unsigned char *field, uint64_t pos) {
    return idelchk(dir->filno, field, uint32_t(pos >> 32), uint32_t(pos), 0);
}

// Gives an area back to the host's free space.
void give_back(FCB *host, uint64_t area) {
    uint16_t keep = zvWNGV->uerr_cod;
    zvSETHGHi(int32_t(area >> 32));
    iretvrec(host->filno, -1, uint32_t(area), 0, 1);
    zvWNGV->uerr_cod = keep;
}

// Closes a new member and frees its number (a failed create).
void drop_member(int memno) {
    uint16_t keep = zvWNGV->uerr_cod;
    FCB *m = open_block(memno);
    if (m) iclsfilx(memno, 0);
    zvWNGV->uerr_cod = keep;
}

// Host part of a member name (the text before the separator at seppos).
bool host_part(const char *name, int seppos, char (&out)[256]) {
    size_t n = size_t(seppos - 1);
    if (n >= sizeof out) return false;
    memcpy(out, name, n);
    out[n] = '\0';
    return true;
}

// Member part without trailing blanks.
void member_part(const char *name, int seppos, char (&out)[256]) {
    snprintf(out, sizeof out, "%s", name + seppos);
    size_t n = strlen(out);
    while (n && out[n - 1] == ' ') out[--n] = '\0';
}

}  // namespace

int zvsname4(const char *name, int seppos, int hostno, unsigned char (&field)[kFieldBuf]) {
    FCB *host = open_block(hostno);
    if (!name || seppos < 1 || !is_host(host)) {
        memset(field, ' ', sizeof field);
        field[kFieldBuf - 1] = 0;
        return 0;
    }
    char part[256];
    member_part(name, seppos, part);
    if (make_field(host, part, field)) return -418;
    return name_limit();
}

int zvsnamel(const unsigned char *field, const FCB *host) {
    int32_t L = name_limit();
    if (L > 254) return L;
    uint8_t pad = pad_of(host);
    for (int i = L; i < 255; i++)
        if (field[i] != pad) return L + 1;
    return L;
}

int open_members_of(const FCB *host) {
    INSTGV *g = zvWNGV;
    int n = 0;
    for (int i = 0; g && g->fcbtab && i <= int(g->filecount); i++) {
        const FCB *f = g->fcbtab[i];
        if (f && f != host && f->sflink == host && f->hdr.base.sfiltyp == kSfMember &&
            (f->state == 'y' || f->state == 'v' || f->state == 'w'))
            n++;
    }
    return n;
}

int superfile_write_headers(FCB *host) {
    INSTGV *g = zvWNGV;
    if (!is_host(host) || host->hdr.base.updflg != kUpdChanged || (host->hdr.base.flmode & kOpnReadOnly)) return 0;
    int first = 0;
    auto put = [&first](FCB *f) {
        for (FCB *b = f; b; b = b->nextmember) {
            int rc = wrthdr(b);
            if (rc && !first) first = rc;
        }
    };
    for (int i = 0; g->fcbtab && i <= int(g->filecount); i++) {
        FCB *m = g->fcbtab[i];
        if (!m || m == host || m->sflink != host || m->hostfcb != host || m->hdr.base.sfiltyp != kSfMember) continue;
        if (m->state != 'y' && m->state != 'v' && m->state != 'w') continue;
        put(m);
    }
    if (FCB *d = directory_of(host)) put(d);
    put(host);
    return first;
}

int cresmem(uint64_t area, int hostno, int memno, const char *name, const unsigned char *field, int32_t len,
            int keytype, int dup, int nmem, uint16_t mode, const XCREblk *) {
    INSTGV *g = zvWNGV;
    FCB *host = open_block(hostno);
    if (!is_host(host)) return set_uerr(411);
    if (!filno_in_table(memno)) return set_uerr(22);
    FCB *m = zvgetfcb(memno);
    if (!m) return g->uerr_cod;
    if (m->state != 'n') return set_uerr(46);
    uint32_t mno = uint32_t(host->hdr.base.sfmember) + 1;
    if (area && mno != 1) terr(8902);
    if (int rc = tstupd(host)) return rc;

    const uint32_t R = area_header(host);
    const uint64_t L = uint64_t(name_limit());
    const uint64_t P = host->nodesize ? host->nodesize : uint64_t(g->nodesize);
    const uint64_t k = (host->hdr.base.hdrflags & kHdrHasExt) ? 4 : 1;
    const uint64_t need = uint64_t(nmem + 1) * 128 * k + L;
    uint64_t size = (need + P - 1) / P * P - R;
    if (size < need) size += P;
    bool allocated = false;
    if (!area) {
        // The host's own allocator, without its space search (its keys
        // belong to the members), with room for the member's longer header.
        uint32_t lo = inewvrec(host, -1, int32_t(size + R - vhdr_size(host)), 0, 2, 0, 0);
        uint32_t hi = uint32_t(zvGETHGHi());
        if (!lo && !hi) return set_uerr(g->uerr_cod ? g->uerr_cod : 39);
        area = join64(hi, lo);
        allocated = true;
    }
    if (mno == 1 && (area >> 32)) terr(8993);
    auto fail = [&](int rc) {
        drop_member(memno);
        if (allocated) give_back(host, area);
        host->hdr.base.sfmember = int32_t(mno - 1);
        if (mno == 1) host->hdr.base.sfdirpos = 0;
        return set_uerr(rc);
    };
    int rc = put_area_header(host, area, kAreaUsed, uint32_t(size + R), mno);
    if (!rc && field) rc = host_io(host, true, area + R, const_cast<unsigned char *>(field), int32_t(L));
    if (rc) return fail(rc);
    uint64_t hdrpos = area + R + L;
    host->hdr.base.sfmember = int32_t(mno);
    if (mno == 1) host->hdr.base.sfdirpos = uint32_t(hdrpos);
    if ((rc = icremember(host, memno, name, hdrpos, mno, len, keytype, dup, nmem, uint16_t(mode | 0x0002))))
        return fail(rc);
    if (mno != 1) {
        FCB *dir = directory_of(host);
        rc = dir ? dir_add(dir, field, hdrpos) : 413;
        if (rc == 2) rc = keytype < 0 ? 19 : 18;
        if (rc) return fail(rc);
        if (host->hdr.base.flmode & 0x40) {
            if ((rc = wrthdr(host))) {
                dir_delete(dir, field, hdrpos);
                return fail(rc);
            }
        }
        if (keytype < 0 && (rc = create_resources(memno, mode)) != 0) {
            dir_delete(dir, field, hdrpos);
            return fail(rc);
        }
    }
    return set_uerr(0);
}

int zvcresi(int hostno, uint16_t mode) {
    INSTGV *g = zvWNGV;
    FCB *host = open_block(hostno);
    if (!is_host(host)) return set_uerr(411);
    int32_t L = name_limit();
    int dirno = hostno + 1;
    if (grow_table_for(dirno)) return set_uerr(22);
    int rc = cresmem(0, hostno, dirno, host->name, nullptr, L, L > 255 ? 16 : 28, 0, 0,
                     uint16_t((mode & ~0x200) | 0x1800), nullptr);
    if (rc) return rc;
    // The new member becomes the host's open directory.
    FCB *d = g->fcbtab[dirno];
    d->dirmode = d->hdr.base.flmode;
    d->hdr.base.sfiltyp = kSfDirectory;
    d->hostfcb = host;
    d->sflink = host;
    host->sflink = d;
    d->hdr.base.flmode = uint16_t((host->hdr.base.flmode & 0xFDFB) | kOpnPermanent);
    if (g->nfiles > 0) g->nfiles--;
    return set_uerr(0);
}

int superfile_member_create(int filno, const char *name, int32_t len, int keytype, int dup, int nmem,
                            uint16_t mode, const XCREblk *x) {
    INSTGV *g = zvWNGV;
    int seppos = zvsname1(name);
    char hpart[256], mpart[256];
    if (!seppos || !host_part(name, seppos, hpart)) return 413;
    member_part(name, seppos, mpart);
    int hostno = chkopnx(hpart);
    if (hostno < 0 && zvhstopn(nullptr, filno, name, mode) == 0) hostno = chkopnx(hpart);
    if (hostno < 0) return 413;
    FCB *host = g->fcbtab[hostno];
    if (!is_host(host)) return 413;
    FCB *dir = directory_of(host);
    if (!dir) return 413;
    unsigned char field[kFieldBuf];
    if (make_field(host, mpart, field)) return 418;
    char full[256];
    if (snprintf(full, sizeof full, "%s%c%s", host->name, separator(), mpart) >= int(sizeof full)) return 418;
    if (dir_find(dir, field)) return keytype < 0 ? 19 : 18;
    if (g->uerr_cod) return g->uerr_cod;
    return cresmem(0, hostno, filno, full, field, len, keytype, dup, nmem, mode, x);
}

int superfile_member_open(FCB *f, const char *name) {
    INSTGV *g = zvWNGV;
    int seppos = zvsname1(name);
    char hpart[256], mpart[256];
    if (!seppos || !host_part(name, seppos, hpart)) return 413;
    member_part(name, seppos, mpart);
    int hostno = chkopnx(hpart);
    if (hostno < 0) return 413;
    FCB *host = g->fcbtab[hostno];
    FCB *dir = directory_of(host);
    if (!is_host(host) || !dir) return 413;
    unsigned char field[kFieldBuf];
    if (make_field(host, mpart, field)) return 418;
    if (snprintf(f->name, sizeof f->name, "%s%c%s", host->name, separator(), mpart) >= int(sizeof f->name))
        return 418;
    uint64_t pos = dir_find(dir, field);
    if (!pos) return g->uerr_cod ? g->uerr_cod : 12;
    f->hostfcb = host;
    f->sflink = host;
    f->opflags |= kOpMember;
    if (host->opflags & kOpNoCache) f->opflags |= kOpNoCache;
    f->hdr.base.sfiltyp = kSfMember;
    split64(pos, &f->hposh, &f->hposl);
    return 0;
}

int superfile_host_bind(FCB *host) {
    INSTGV *g = zvWNGV;
    int n = int(host->filno) + 1;
    if (!filno_in_table(n)) return 22;
    FCB *d = zvgetfcb(n);
    if (!d) return g->uerr_cod;
    if (d->state != 'n') return 46;
    fcb_reset(d);
    memcpy(d->name, host->name, sizeof d->name);
    d->hostfcb = host;
    d->sflink = host;
    d->opflags |= kOpMember;
    d->kind = kKindIndex;
    d->hposl = host->hdr.base.sfdirpos;
    d->hdr.base.sfiltyp = kSfDirectory;
    host->sflink = d;
    return 0;
}

void superfile_host_unbind(FCB *host) {
    FCB *d = host ? host->sflink : nullptr;
    if (!d || d->hostfcb != host) return;
    free_key_buffers(d);
    zvidxfrsh(d->filno);
    fcb_reset(d);
    host->sflink = nullptr;
}

int superfile_open_directory(FCB *host) {
    INSTGV *g = zvWNGV;
    FCB *d = host->sflink;
    if (!d || d->hostfcb != host) return 413;
    d->hdr.base.sfiltyp = kSfDirectory;
    if (int rc = redhdr(d, 0)) return rc;
    FILEHDR &b = d->hdr.base;
    if (b.clstyp != kKindIndex || b.kmem || b.nmem) return 13;
    b.sfiltyp = kSfDirectory;
    if (b.maxnamlen > g->membernamemax) return 418;
    d->nodesize = node_size_of(d);
    if (d->nodesize == 0) return 812;
    if (b.updflg) {
        if (!(host->hdr.base.flmode & kOpenDamaged) && b.updflg != kUpdRebuild) return 14;
        b.updflg = kUpdRebuild;
    }
    d->dirmode = b.flmode;
    b.flmode = uint16_t((host->hdr.base.flmode & 0xFDFB) | kOpnPermanent);
    if (int rc = zvgetkbf(d, b.keylen)) return rc;
    d->state = 'y';
    g->nallfiles++;
    return 0;
}

int superfile_close_members(FCB *host, int mode) {
    INSTGV *g = zvWNGV;
    int first = 0;
    for (int i = 0; i <= int(g->filecount); i++) {
        FCB *m = g->fcbtab[i];
        if (!m || m == host || m->sflink != host || m->hostfcb != host || m->hdr.base.sfiltyp != kSfMember) continue;
        if (m->state != 'y' && m->state != 'v' && m->state != 'w') continue;
        int rc = iclsfilx(i, mode);
        if (rc && !first) first = rc;
    }
    FCB *d = host->sflink;
    if (d && d->hostfcb == host) {
        if (d->state == 'y') {
            int rc = write_file_nodes(d, mode);
            if (!rc && d->hdr.base.updflg == kUpdChanged) {
                d->hdr.base.updflg = 0;
                rc = wrthdr(d);
                if (rc) d->hdr.base.updflg = kUpdChanged;
            }
            if (rc && !first) first = rc;
            if (g->nallfiles > 0) g->nallfiles--;
        }
        superfile_host_unbind(host);
    }
    return first;
}

int zvhstopn(FCB *fcb, int filno, const char *name, uint16_t mode) {
    INSTGV *g = zvWNGV;
    int seppos = zvsname1(name);
    char hpart[256];
    if (!g || !seppos || !host_part(name, seppos, hpart)) return 413;
    int hostno;
    if (fcb) {
        hostno = fcb->filno;
    } else {
        int32_t size = fcb_table_size(g);
        hostno = zvrvrng(size - 3);
        if (hostno < 0 || hostno == filno || hostno + 1 == filno) {
            redofils(size);
            hostno = zvrvrng(fcb_table_size(g) - 3);
        }
        if (hostno < 0 || hostno == filno || hostno + 1 == filno) return 413;
    }
    uint16_t keep = g->uerr_cod;
    int rc = iopnfilx(hostno, hpart, uint16_t(mode | 0x1001));
    g->uerr_cod = keep;
    return rc ? 413 : 0;
}

int member_exists(const char *name) {
    INSTGV *g = zvWNGV;
    int seppos = zvsname1(name);
    char hpart[256], mpart[256];
    if (!seppos || !host_part(name, seppos, hpart)) return -2;
    member_part(name, seppos, mpart);
    int hostno = chkopnx(hpart);
    FCB *host = hostno >= 0 ? g->fcbtab[hostno] : nullptr;
    FCB *dir = directory_of(host);
    if (!is_host(host) || !dir) return -2;
    unsigned char field[kFieldBuf];
    if (make_field(host, mpart, field)) return 0;
    uint16_t keep = g->uerr_cod;
    bool found = dir_find(dir, field) != 0;
    g->uerr_cod = keep;
    return found ? -1 : 0;
}

int member_delete(FCB *f) {
    INSTGV *g = zvWNGV;
    FCB *host = f->sflink;
    FCB *dir = directory_of(host);
    if (!is_host(host) || !dir) return set_uerr(413);
    int seppos = zvsname1(f->name);
    char mpart[256];
    member_part(f->name, seppos, mpart);
    unsigned char field[kFieldBuf];
    if (make_field(host, mpart, field)) return set_uerr(418);
    if (int rc = iclsfilx(f->filno, 0)) return rc;
    uint64_t pos = dir_find(dir, field);
    if (!pos) return set_uerr(g->uerr_cod ? g->uerr_cod : 101);
    if (int rc = dir_delete(dir, field, pos)) return set_uerr(rc);
    // The area keeps its bytes; only its mark says that it is deleted.
    uint64_t area = pos - uint64_t(name_limit()) - area_header(host);
    unsigned char mark[2] = {uint8_t(kAreaDeleted), uint8_t(kAreaDeleted >> 8)};
    if (int rc = tstupd(host)) return rc;
    return set_uerr(host_io(host, true, area, mark, 2));
}

int rensup(FCB *f, const char *oldpart, const char *newpart) {
    INSTGV *g = zvWNGV;
    if (!f || f->hdr.base.sfiltyp != kSfMember) return set_uerr(48);
    if (f->hdr.base.flmode & 0x09) return set_uerr(62);
    FCB *host = f->sflink;
    FCB *dir = directory_of(host);
    if (!is_host(host) || !dir) return set_uerr(413);
    // The host part (through the separator) and the new member part stay
    // below the member's maximum name length.
    int seppos = zvsname1(f->name);
    if (size_t(seppos) + strnlen(newpart, sizeof f->name) >= size_t(f->hdr.base.maxnamlen)) return set_uerr(418);
    unsigned char oldf[kFieldBuf], newf[kFieldBuf];
    if (make_field(host, oldpart, oldf) || make_field(host, newpart, newf)) return set_uerr(418);
    uint64_t pos = dir_find(dir, oldf);
    if (!pos) return set_uerr(67);
    if (dir_find(dir, newf)) return set_uerr(67);
    g->uerr_cod = 0;
    int rc = dir_delete(dir, oldf, pos);
    if (rc) return set_uerr(rc);
    const uint64_t fieldpos = join64(f->hposh, f->hposl) - uint64_t(name_limit());
    bool added = false;
    rc = dir_add(dir, newf, pos);
    if (!rc) {
        added = true;
        rc = host_io(host, true, fieldpos, newf, name_limit());
    }
    if (rc) {
        // Back to the old name: one key, the old field.
        if (added) dir_delete(dir, newf, pos);
        dir_add(dir, oldf, pos);
        host_io(host, true, fieldpos, oldf, name_limit());
        return set_uerr(rc);
    }
    char full[256];
    snprintf(full, sizeof full, "%.*s%s", seppos, f->name, newpart);
    memcpy(f->name, full, sizeof f->name);
    return set_uerr(0);
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int GETMNAME(int hostno, char *buffer, int32_t length, int n) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (n < 1) return set_uerr(116);
    FCB *host = tstfnm(hostno);
    if (!host) return g->uerr_cod;
    if (!(host->hdr.base.flmode & 0x200) || !is_host(host)) return set_uerr(411);
    FCB *dir = directory_of(host);
    if (!dir) return set_uerr(411);
    if (!buffer) return set_uerr(540);
    unsigned char key[1032], prev[1032];
    uint32_t lo = FRSKEY(dir->filno, key);
    uint32_t hi = uint32_t(zvGETHGH());
    for (int i = 1; i < n && (lo || hi); i++) {
        memcpy(prev, key, sizeof prev);
        lo = GTKEY(dir->filno, prev, key);
        hi = uint32_t(zvGETHGH());
    }
    if (!lo && !hi) return set_uerr(g->uerr_cod ? g->uerr_cod : 101);
    int32_t klen = dir->hdr.base.keylen;
    if (klen > int32_t(sizeof key)) klen = int32_t(sizeof key);
    if (klen > 2) {
        uint8_t pad = pad_of(host);
        while (klen > 0 && (key[klen - 1] == ' ' || key[klen - 1] == pad)) klen--;
    }
    if (length < 1 || klen + 1 > length) return set_uerr(153);
    memcpy(buffer, key, size_t(klen));
    buffer[klen] = '\0';
    return set_uerr(0);
}

}  // extern "C"

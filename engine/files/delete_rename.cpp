// Delete and rename of open files.
//
// A plain file is closed and deleted, or renamed in the file system while
// it stays open; a segmented file takes its segment files
// with it (automatic segments follow the new name, their headers
// rewritten); a superfile member is removed from, or renamed in, its host's
// directory; a memory file only changes its block.
//
// A rename is all or nothing: any failure renames back what was renamed
// (67), so the caller keeps its open, readable file either way. A plain
// file is renamed open: its descriptor and lock stay with it throughout.
#include "engine/files/delete_rename.h"

#include <cstdio>
#include <cstring>

#include "engine/core/centralio.h"
#include "engine/core/fileio.h"
#include "engine/core/fileops.h"
#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/files/close.h"
#include "engine/files/fcbops.h"
#include "engine/files/header.h"
#include "engine/files/segments.h"
#include "engine/files/superfile.h"
#include "zarvo/zarvo.h"

namespace {

constexpr uint32_t kFlmode2Auto = 0x00200000;

bool automatic_segments(const FCB *f) {
    return (f->hdr.base.hdrflags & kHdrSegmented) && f->segs && (f->hdr.ext.flmode2 & kFlmode2Auto);
}

int rename_file(FCB *f, const char *newname) {
    char oldname[256];
    memcpy(oldname, f->name, sizeof oldname);
    const bool segs = automatic_segments(f);
    // Automatic segments take names from the new one: check them first.
    if (segs && strlen(newname) > 250) return zv::set_uerr(418);
    // The file stays open through its rename: its descriptor, and the lock
    // of that descriptor, go with the file from the old name to the new,
    // so that no other open comes between (and a virtual close's reopen
    // finds the file by its identity, never another one under its name).
    int rc = renfil(oldname, newname);
    if (rc == 0 && segs) {
        rc = zv::zvrensegmdef(f, newname);
        if (rc) renfil(newname, oldname);
    }
    if (rc) return zv::set_uerr(67);
    snprintf(f->name, sizeof f->name, "%s", newname);
    if (f->segs) snprintf(f->segs[0].name, sizeof f->segs[0].name, "%s", newname);
    f->hdr.base.flmode &= uint16_t(~kOpnNoConvert);
    if (FCB *d = f->hdr.base.sfiltyp == kSfHost ? f->sflink : nullptr) memcpy(d->name, f->name, sizeof d->name);
    return zv::set_uerr(0);
}

}  // namespace

int suppressDEL(int filno) {
    FCB *f = tstfnm(filno);
    if (!f) return zvWNGV ? zvWNGV->uerr_cod : 47;
    f->stflags |= kStKeepOnCleanup;
    f->hdr.base.hdrflags &= uint16_t(~0x0800);
    return 0;
}

int zvrenpath(const char *source, char *buffer, int length) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!source || !buffer || length < 1) return zv::set_uerr(540);
    if (strlen(source) >= size_t(length)) return zv::set_uerr(153);
    zv::zvloadpath(source, buffer);
    uint16_t prof = g->userprof;
    g->userprof |= 0x80;
    int rc = zv::iTMPNAMEext(buffer, length, ".QVZ");
    g->userprof = prof;
    return rc;
}

extern "C" {

ZV_API int DELFIL(int filno) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->sysiocod = 0;
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    if ((f->hdr.base.flmode & 0x09) || f->hdr.base.sfiltyp == kSfDirectory) return zv::set_uerr(56);
    if (f->hdr.base.sfiltyp == kSfMember) return zv::member_delete(f);
    char name[256];
    memcpy(name, f->name, sizeof name);
    bool memory = fcb_is_memory(f);
    // Close mode 2 deletes the segment files; the file itself goes here.
    if (int rc = iclsfilx(filno, 2)) return rc;
    if (!memory && dltfil(name)) return zv::set_uerr(55);
    return zv::set_uerr(0);
}

ZV_API int zvRENFIL(int filno, const char *newname) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = tstfnm(filno);
    if (!f) return g->uerr_cod;
    if (!newname || !*newname) return zv::set_uerr(130);
    if (strcmp(f->name, newname) == 0) return zv::set_uerr(0);
    FILEHDR &b = f->hdr.base;
    if (b.flmode & 0x09) return zv::set_uerr(62);
    if (f->state == 'v' && zvswitch(f)) return g->uerr_cod;
    if (b.sfiltyp == kSfDirectory) return zv::set_uerr(446);
    if (b.sfiltyp == kSfMember) {
        // Within its host only: the same host part, or another spelling of
        // the open host's name ("db.qdd!t" for a host open as "./db.qdd").
        // The member keeps its host's spelling.
        int olds = zvsname1(f->name), news = zvsname1(newname);
        if (!olds || !news) return zv::set_uerr(418);
        if (olds != news || strncmp(f->name, newname, size_t(olds)) != 0) {
            char hpart[256];
            snprintf(hpart, sizeof hpart, "%.*s", news - 1, newname);
            const FCB *host = f->sflink;
            if (!host || chkopnx(hpart) != int(host->filno)) return zv::set_uerr(418);
        }
        return zv::rensup(f, f->name + olds, newname + news);
    }
    // A member's name has its own limit (above); any other name must fit
    // the name buffer.
    if (strnlen(newname, 256) > 255) return zv::set_uerr(139);
    if (b.sfiltyp == kSfHost) {
        if (zvsname1(newname) || strchr(newname, g->membersep ? g->membersep : '!')) return zv::set_uerr(418);
        if (zv::open_members_of(f)) return zv::set_uerr(454);
    }
    if (fcb_is_memory(f)) {
        snprintf(f->name, sizeof f->name, "%s", newname);
        return zv::set_uerr(0);
    }
    return rename_file(f, newname);
}

ZV_API int zvCopyFile(void *, int32_t) { return zv::set_uerr(454); }

ZV_API int zvTempDir(void *, int32_t) { return zv::set_uerr(454); }

}  // extern "C"

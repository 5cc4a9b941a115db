// Virtual close of open files.
//
// The open-file ring (fcb.cpp, inrfil) holds the host blocks that own a
// platform descriptor and were not opened permanent, most recently used at
// the front. When the process or the instance's budget runs out of
// descriptors, the platform layer asks for one to be freed: the walk starts
// at the oldest end, forgets blocks that no longer hold a descriptor, moves
// blocks in other states than 'y' to the front, and releases the first 'y'
// block it meets. Each block present when the walk starts is visited at
// most once, so the walk ends even when nothing can be released. A released
// file is in state 'v' and gets its descriptor back through zvswitch before
// its next I/O, which puts it at the front of the ring again and looks
// whether another open changed the file while it had none (FCB::outdated).
#include "engine/files/vclose.h"

#include <cstdio>

#include "engine/core/instance.h"
#include "engine/core/statuslog.h"
#include "engine/files/files_services.h"
#include "engine/files/fcbops.h"
#include "engine/files/header.h"

int vtclosex(int quiet) {
    INSTGV *g = zvWNGV;
    if (!g || !g->started) return 0;
    int total = 0;
    for (FCB *f = g->ringfront; f; f = f->ringnext) total++;
    int visited = 0, moved = 0, nohandle = 0;
    for (int i = 0; i < total && g->ringback; i++) {
        FCB *f = g->ringback;
        visited++;
        if (f->fd < 0) {
            inrfil(f, 0);
            nohandle++;
            continue;
        }
        if (f->state == 'y') {
            zvlclose(f, 0, 1);
            inrfil(f, 0);
            f->state = 'v';
            return 1;
        }
        inrfil(f, 1);
        moved++;
    }
    if (!quiet) vtclose_rep(total == 0 ? 2 : 3, visited, moved, nohandle);
    return 0;
}

int vtclose(void) { return vtclosex(0); }

void vtclose_rep(int loc, int tot, int chn, int nov) {
    char msg[160];
    snprintf(msg, sizeof msg,
             "vtclose failure:  LOC %d:  TOT %d:  CHN %d  NOV %d  LOK %d  NFD %d  IOS %d", loc, tot, chn,
             nov, 0, 0, 0);
    zvrcvlog(msg, 0);
}

namespace zv {

int vtclosex_one(int quiet) { return vtclosex(quiet); }

void vt_reopened(FCB *fcb) {
    inrfil(fcb, 1);
    // Without a descriptor the block held no lock, and another open may
    // have changed the file: then the block's header and caches are not the
    // file's, and it must change nothing more. A block that can change
    // nothing (read only) needs no look; the codes of the call that reopened
    // the file stay as they were.
    if (fcb->outdated || (fcb->hdr.base.flmode & kOpnReadOnly)) return;
    INSTGV *g = zvWNGV;
    const uint16_t uerr = g->uerr_cod, sys = g->sysiocod;
    if (header_written_elsewhere(fcb)) fcb->outdated = 1;
    g->uerr_cod = uerr;
    g->sysiocod = sys;
}

}  // namespace zv

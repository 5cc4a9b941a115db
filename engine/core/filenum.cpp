// File numbers, file names and byte order.
//
// The file-number table is the instance's array of FCB pointers, one slot
// per file number from 0 to filecount; a slot is free when it is empty or
// its block is in state 'n'. The engine counts as started while slot 0
// holds a block (the instance's own). The table grows (redofils) to the
// wanted size plus 128 slots, at most 65536.
//
// Temporary names are drawn from the clock and a per-instance counter and
// tested by creating the file exclusively (zvfilexists), so two processes
// never hand out the same name.
#include "engine/core/filenum.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "engine/core/filehold.h"
#include "engine/core/fileio.h"
#include "engine/core/fileops.h"
#include "engine/core/instance.h"
#include "engine/isam/isam_services.h"
#include "engine/core/platform.h"
#include "engine/files/files_services.h"
#include "engine/core/fcb.h"

namespace zv {

namespace {

// Process-wide source of file ids. A file's unique id is three words: its
// file id, its server id and its creation second. Each process draws 62
// random bits when it first stamps a file: 31 become its server id, the
// same for every file it makes, and 31 the start of its file-id counter.
// Two processes (neighbouring pids, a pid reused within a second, alike
// pids of two pid namespaces sharing a directory) thus differ in the server
// id unless 31 random bits meet, and then the counters must still overlap.
// Both words stay in 1 .. 0x7FFFFFFF: GETFIL answers them as positive
// 32-bit values (-1 is its failure), and an older file, stamped with server
// id 0, never matches a new one.
//
// The source is one atomic word, the server id in the high half and the
// next file id in the low half, 0 before the first draw: a draw takes id
// and server id together in one compare-and-swap, and threads racing to
// the first draw agree on the winner's values. A forked child inherits the
// parent's word; the fork handler clears it while the child still has one
// thread, so the child's first draw seeds its own.
constexpr uint32_t kIdMax = 0x7FFFFFFFu;
std::atomic<uint64_t> g_fileidsrc{0};

uint32_t in_id_range(uint32_t v) {
    v &= kIdMax;
    return v ? v : 1u;
}

uint64_t pack_source(uint32_t servid, uint32_t next) { return (uint64_t{servid} << 32) | next; }

// Fallback when the system gives no random bytes: the clocks, the pid and
// an address, stirred (a finalizer of SplitMix64).
uint64_t stirred_clock() {
    struct timespec rt{}, mono{};
    clock_gettime(CLOCK_REALTIME, &rt);
    clock_gettime(CLOCK_MONOTONIC, &mono);
    int local = 0;
    uint64_t z = uint64_t(rt.tv_sec) * 1000000007u ^ uint64_t(rt.tv_nsec) ^ (uint64_t(mono.tv_nsec) << 21) ^
                 (uint64_t(uint32_t(getpid())) << 32) ^ uint64_t(reinterpret_cast<uintptr_t>(&local));
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

uint64_t fresh_source() {
    const int saved = errno;
    uint32_t r[2] = {0, 0};
    if (!plat_random(r, sizeof r)) {
        uint64_t z = stirred_clock();
        r[0] = uint32_t(z >> 32);
        r[1] = uint32_t(z);
    }
    errno = saved;
    return pack_source(in_id_range(r[0]), in_id_range(r[1]));
}

// The file id of a source, and (increment) the source that follows it; the
// counter wraps from 0x7FFFFFFF to 1.
uint64_t advanced(uint64_t src) {
    const uint32_t id = uint32_t(src);
    return pack_source(uint32_t(src >> 32), id >= kIdMax ? 1u : id + 1);
}

// One draw: the file id and server id of the source, advanced afterwards
// when increment is set.
uint64_t draw_source(bool increment) {
    uint64_t seen = g_fileidsrc.load(std::memory_order_acquire);
    for (;;) {
        const uint64_t cur = seen ? seen : fresh_source();
        const uint64_t next = increment ? advanced(cur) : cur;
        if (next == seen) return cur;
        if (g_fileidsrc.compare_exchange_weak(seen, next, std::memory_order_acq_rel, std::memory_order_acquire))
            return cur;
    }
}

// Runs in a forked child before fork returns there, with one thread: the
// child draws file ids of its own, and holds none of its parent's files.
void in_child_after_fork() {
    g_fileidsrc.store(0, std::memory_order_relaxed);
    drop_holds_in_child();
}
[[maybe_unused]] const int g_fork_handler = pthread_atfork(nullptr, nullptr, in_child_after_fork);

// Candidate names tried before a temporary-name draw gives up.
constexpr long kMaxNameDraws = 65536;

bool started(const INSTGV *g) { return g && g->fcbtab && g->fcbtab[0]; }

bool slot_free(const INSTGV *g, int32_t i) {
    FCB *f = g->fcbtab[i];
    return !f || f->state == 'n';
}

// First of `need` consecutive free numbers in the table, or -1.
int32_t lowest_run(const INSTGV *g, int32_t need) {
    int32_t size = fcb_table_size(g);
    int32_t run = 0;
    for (int32_t i = 0; i < size; i++) {
        run = slot_free(g, i) ? run + 1 : 0;
        if (run == need) return i - need + 1;
    }
    return -1;
}

// Records an ISAM error for a file number and returns its negation.
int isam_fail(INSTGV *g, int code, int filno) {
    if (g) {
        g->isamerr_cod = static_cast<uint16_t>(code);
        g->isamfil_num = static_cast<uint16_t>(filno < 0 ? 0 : filno);
    }
    return -code;
}

void swap_bytes(unsigned char *a, unsigned char *b) {
    unsigned char t = *a;
    *a = *b;
    *b = t;
}

}  // namespace

int32_t fcb_table_size(const INSTGV *g) { return g && g->fcbtab ? g->filecount + 1 : 0; }

FCB *fcb_at(int filno) {
    INSTGV *g = zvWNGV;
    if (!g || filno < 0 || filno >= fcb_table_size(g)) return nullptr;
    return g->fcbtab[filno];
}

int redofils(int n) {
    INSTGV *g = zvWNGV;
    if (!g || !g->fcbtab || n < 0 || n >= kMaxFileSlots) return 0;
    int32_t want = n + 128 > kMaxFileSlots ? kMaxFileSlots : n + 128;
    int32_t cur = fcb_table_size(g);
    if (want <= cur) return 1;
    FCB **t = static_cast<FCB **>(mballc(size_t(want), sizeof(FCB *)));
    if (!t) return 0;
    memcpy(t, g->fcbtab, size_t(cur) * sizeof(FCB *));
    if (!isam_grow_tables(want)) {
        mbfree(t);
        return 0;
    }
    mbfree(g->fcbtab);
    g->fcbtab = t;
    g->filecount = want - 1;
    return 1;
}

int zvrvrng(int limit) {
    INSTGV *g = zvWNGV;
    if (!started(g)) return -1;
    int32_t size = fcb_table_size(g);
    if (limit > size) limit = size;
    for (int n = limit - 1; n >= 1; n--)
        if (slot_free(g, n) && slot_free(g, n - 1)) return n - 1;
    return -1;
}

void zvchknum(uint16_t mode) {
    INSTGV *g = zvWNGV;
    if (g && !(mode & kOpnPermanent) && g->openvcount >= g->openvlimit) vtclosex_one(0);
}

void zvinrnum(uint16_t mode, int fd) {
    INSTGV *g = zvWNGV;
    if (g && !(mode & kOpnPermanent) && fd >= 0) g->openvcount++;
}

int zvfilexists(const char *name) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!name) return 540;
    char sep = g->membersep ? g->membersep : '!';
    // Member names are looked up among the open superfile hosts.
    if (strchr(name, sep) && name[0] != sep) return member_exists(name);
    int fd = mbcratx(nullptr, name);
    if (fd >= 0) {
        mbclosx(nullptr, fd);
        // The probe must not stay: a name handed out while its probe file
        // stands would refuse the caller's own exclusive create, and the
        // file would be left behind for good. A failing delete is tried
        // once more; a probe that still stands ends the search.
        if (dltfilx(name, 0, 0) && dltfilx(name, 0, 0)) return 55;
        return 0;
    }
    int code = g->uerr_cod;
    if (code == 19) return -1;
    if (static_cast<int16_t>(g->sysiocod) == -766) return -3;
    if (code == 139 || code == 540) return code;
    return -2;
}

void zvsetlog(FILEHDR *hdr) {
    if (!hdr) return;
    const uint64_t src = draw_source(true);
    hdr->fileid = uint32_t(src);
    hdr->servid = uint32_t(src >> 32);
    hdr->cretime = static_cast<uint32_t>(time(nullptr));
}

void zvmakid(uint32_t id[3], const FCB *fcb) {
    if (!id || !fcb) return;
    id[0] = fcb->hdr.base.fileid;
    id[1] = fcb->hdr.base.servid;
    id[2] = fcb->hdr.base.cretime;
}

int zvfmatch(const FCB *fcb, const uint32_t id[3]) {
    if (!fcb || !id) return 0;
    return id[0] == fcb->hdr.base.fileid && id[1] == fcb->hdr.base.servid &&
           id[2] == fcb->hdr.base.cretime;
}

uint32_t srvfileid(int increment) { return uint32_t(draw_source(increment != 0)); }

void file_id_source_set(uint32_t servid, uint32_t next) {
    g_fileidsrc.store(servid ? pack_source(in_id_range(servid), in_id_range(next)) : 0, std::memory_order_release);
}

uint32_t zvsetextsiz(const FCB *fcb, uint32_t requested, uint32_t nodesize) {
    if (fcb && (fcb->hdr.ext.flmode2 & 0x20000)) return 0;
    if (requested > nodesize && requested > 16383) return requested;
    if (nodesize <= 2048) return 16384;
    if (nodesize > 32768) return nodesize;
    return 32768;
}

int zvloadpath(const char *path, char *out) {
    if (!path) {
        if (out) out[0] = '\0';
        return 0;
    }
    size_t cut = 0;
    for (size_t i = 0; path[i]; i++)
        if (strchr("!/:\\", path[i])) cut = i + 1;
    if (out) {
        memmove(out, path, cut);
        out[cut] = '\0';
    }
    return static_cast<int>(cut);
}

int iTMPNAMEext(char *out, int length, const char *ext) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->uerr_cod = 0;
    if (!out || length <= 0) return set_uerr(out ? 153 : 540);
    if (!ext) ext = "";
    char dir[256];
    size_t d = 0;
    if ((g->userprof & 0x80) && out[0]) {
        d = strnlen(out, length < 255 ? size_t(length) : 255);
        memcpy(dir, out, d);
    } else if (g->tmpdirname && g->tmpdirname[0]) {
        d = strnlen(g->tmpdirname, 255);
        memcpy(dir, g->tmpdirname, d);
    }
    dir[d] = '\0';

    if (d == 0) {
        char tmpl[] = "zarvo.tmp.XXXXXXXX";
        int fd = plat_mkstemp(tmpl);
        if (fd < 0) {
            g->sysiocod = static_cast<uint16_t>(errno);
            return set_uerr(155);
        }
        plat_close(fd);
        // The name is handed out free: a failing delete of the file just
        // made is tried once more, and a file that stays is no name to give.
        if (plat_unlink(tmpl) != 0 && plat_unlink(tmpl) != 0) {
            g->sysiocod = static_cast<uint16_t>(errno);
            return set_uerr(155);
        }
        if (strlen(tmpl) >= size_t(length)) return set_uerr(153);
        memcpy(out, tmpl, strlen(tmpl) + 1);
        return 0;
    }

    size_t e = strnlen(ext, 256);
    if (int64_t{length} - 8 - int64_t(e) <= int64_t(d) || 255 - d < 9 || d + 8 + e >= 247)
        return set_uerr(153);
    char name[256];
    memcpy(name, dir, d);
    memcpy(name + d, "Z1234567", 8);
    memcpy(name + d + 8, ext, e + 1);
    uint32_t seed = static_cast<uint32_t>(time(nullptr));
    int failures = 0;
    for (long draw = 0;; draw++) {
        if (draw >= kMaxNameDraws) return set_uerr(17);
        g->tmpnamecount = g->tmpnamecount * 11737u + 3731u;
        seed += g->tmpnamecount;
        uint32_t s = seed;
        for (int k = 0; k < 7; k++, s >>= 4) name[d + 1 + k] = "0123456789ABCDEF"[s & 15];
        int r = zvfilexists(name);
        if (r > 0) return set_uerr(r);
        if (r == 0) break;
        if (r == -1) continue;
        if (++failures > 4) return set_uerr(r == -3 ? 766 : 17);
    }
    memcpy(out, name, d + 8 + e + 1);
    g->uerr_cod = 0;
    return 0;
}

int iTMPNAME(char *out, int length) { return iTMPNAMEext(out, length, ""); }

int cnvdltfilx(const char *name, int, int flags) {
    if (!name) return set_uerr(540);
    char buf[256];
    size_t n = strnlen(name, 256);
    if (n > 255) return set_uerr(139);
    memcpy(buf, name, n + 1);
    if (!(flags & 2)) {
        int rc = zvcnvfn(buf);
        if (rc > 0) return set_uerr(rc);
    }
    return dltfilx(buf, 1, 2);
}

int cnvdltfil(const char *name) { return cnvdltfilx(name, 0, 0); }

uint32_t zvhdradj(FCB *fcb) {
    if (!fcb) return 0;
    bool wide = (fcb->hdr.base.hdrflags & kHdr8ByteOffsets) != 0;
    if (fcb->hdr.base.sfiltyp == 0) {
        fcb->rhdrsize1 = (fcb->hdr.base.flmode & 0x04) ? 10 : 0;
        fcb->rhdrsize2 = wide ? 30 : 22;
    } else {
        fcb->rhdrsize1 = wide ? 22 : 18;
        fcb->rhdrsize2 = wide ? 30 : 22;
    }
    return fcb->rhdrsize1;
}

void assignUnalignedToInt8(int64_t *target, const void *src, int width) {
    if (!target || !src) return;
    switch (width) {
    case 1: {
        int8_t v;
        memcpy(&v, src, 1);
        *target = v;
        break;
    }
    case 2: {
        int16_t v;
        memcpy(&v, src, 2);
        *target = v;
        break;
    }
    case 4: {
        int32_t v;
        memcpy(&v, src, 4);
        *target = v;
        break;
    }
    case 8:
        memcpy(target, src, 8);
        break;
    default:
        break;
    }
}

void revobj(void *p, int n) {
    unsigned char *b = static_cast<unsigned char *>(p);
    if (!b) return;
    for (int i = 0, j = n - 1; i < j; i++, j--) swap_bytes(b + i, b + j);
}

void revbyt(void *p, int n) {
    unsigned char *b = static_cast<unsigned char *>(p);
    if (!b) return;
    for (int i = 0; i < n; i++) swap_bytes(b + 2 * i, b + 2 * i + 1);
}

void revwrd(void *p, int n) {
    unsigned char *b = static_cast<unsigned char *>(p);
    if (!b) return;
    for (int i = 0; i < n; i++) {
        swap_bytes(b + 4 * i, b + 4 * i + 2);
        swap_bytes(b + 4 * i + 1, b + 4 * i + 3);
    }
}

void revlng(void *p, int n) {
    revbyt(p, 2 * n);
    revwrd(p, n);
}

}  // namespace zv

extern "C" {

ZV_API int TSTFILNUM(int filno) {
    INSTGV *g = zvWNGV;
    if (!zv::started(g)) return zv::set_uerr(47);
    if (filno < 0 || filno >= zv::fcb_table_size(g)) return zv::set_uerr(22);
    return zv::set_uerr(zv::slot_free(g, filno) ? 0 : 46);
}

ZV_API int AVLFILNUM(int count) {
    INSTGV *g = zvWNGV;
    int code = count < 1 ? 22 : !zv::started(g) ? 47 : 0;
    if (code) {
        zv::set_uerr(code);
        return -1;
    }
    int32_t first = zv::lowest_run(g, count);
    if (first < 0) zv::set_uerr(46);
    return first;
}

ZV_API int filrngnam(int start, int count, int flags) {
    INSTGV *g = zvWNGV;
    if (count < 0) return zv::isam_fail(g, 46, start);
    if (!zv::started(g)) return zv::isam_fail(g, 47, start);
    int64_t need = int64_t{count} + 1 + ((flags & 0x200) ? 1 : 0);
    if (need > zv::kMaxFileSlots) return zv::isam_fail(g, 46, start);
    if (start >= 0) {
        int64_t end = start + need;
        int32_t size = zv::fcb_table_size(g);
        for (int64_t i = start; i < end && i < size; i++)
            if (!zv::slot_free(g, static_cast<int32_t>(i))) return zv::isam_fail(g, 46, start);
        if (end > size && (end >= zv::kMaxFileSlots || !zv::redofils(static_cast<int>(end))))
            return zv::isam_fail(g, 46, start);
        return start;
    }
    int32_t first = zv::lowest_run(g, static_cast<int32_t>(need));
    if (first < 0) {
        if (!zv::redofils(zv::fcb_table_size(g))) return zv::isam_fail(g, 46, start);
        first = zv::lowest_run(g, static_cast<int32_t>(need));
        if (first < 0) return zv::isam_fail(g, 46, start);
    }
    return first;
}

ZV_API int filrng(int start, int count, int flags) { return filrngnam(start, count, flags); }

ZV_API int TMPNAME(char *out, int length) { return zv::iTMPNAME(out, length); }

ZV_API int SECURITY(int, void *, int32_t, int) { return 0; }

}  // extern "C"

// Engine start-up, shutdown and engine options.
//
// Start-up turns the current (registered) instance into a working engine:
// INTREEX checks and scales the start values and allocates the instance's
// pointer list, then the initialiser iintree sizes the free lists and builds
// the file table, the index buffers and the data pages with their hash
// tables and LRU lists. INTISAMX (engine/isam/isamstart.cpp) does the same
// under the ISAM layer, calling INTREEX after its own tables. zvfree
// undoes all of it and is the last step of the stop road and of every failed
// start.
//
// Layout of the buffers after start-up (the node cache and the page cache
// work on it):
//  - idxbuflist chains the `bufs` NODEBUFs through `next`; each image holds
//    node size + 24 bytes, each expansion area (in a block of its own) 1040
//    bytes. datpagelist chains the `dbufs` PAGEBUFs through `next`; each
//    page holds node size bytes.
//  - Pools of several megabytes take those chunks from one arena reserved
//    first (see pools.cpp), backed by huge pages where the system grants them.
//  - idxhash is an array of idxhashsize = (bufs + 3) / 4 circular list heads
//    (zv::ListLink), dathash one of dathashsize = (dbufs + 3) / 4 heads
//    (PAGELINK, owner null). All chains are empty after start-up.
//  - idxspill is one node image with room for one element more, where a
//    node that grows past its end waits for its split.
//  - idxlook and datlook are lookasides of 2 x bufs (2 x dbufs) slots, a
//    power of two, all empty after start-up.
//  - idxlru and datlru are circular heads; every buffer is linked into its
//    LRU list in chain order, least recently used first.
//  - A free index buffer has file number -1, position all ones, update flag
//    'n' and no FCB; a free data page has both offset words all ones.
//
// Invariants:
//  1. started is 1 exactly when slot0 is set; both are set only at the end
//     of a successful start and cleared by zvfree.
//  2. A failed start leaves nothing allocated: platform allocations and
//     free-list chunks are all released again (the instance stays
//     registered).
//  3. A start of a started instance returns 125 before changing anything.
#include "engine/core/startup.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "engine/core/fcb.h"
#include "engine/core/lockent.h"
#include "engine/core/nodebuf.h"
#include "engine/core/pagecache.h"
#include "engine/core/pools.h"
#include "engine/crypto/crypto_services.h"
#include "engine/expr/expr_services.h"

namespace zv {

namespace {

// Process-wide: file definitions are stored without their paths.
int g_suppress_path = 0;

constexpr const char *kPageSizeMessage = "Maximum PAGE_SIZE: 65536";
constexpr uint32_t kOpsAllowed = 0x7E3FD1EFu;
constexpr uint32_t kOpsGroup = 0x64u;        // lock-on modes, one at a time
constexpr uint32_t kOpsKeptByReplace = 0x00106010u;
constexpr uint32_t kOpsClearedAfter = 0x20000000u;

// Releases a platform allocation held in a typed pointer and clears it.
template <class T>
void release(T *&p) {
    void *v = p;
    p = nullptr;
    mbfree(v);
}

// log2 by halving down to 1.
uint32_t log2_by_halving(int32_t v) {
    uint32_t n = 0;
    while (v > 1) {
        v /= 2;
        n++;
    }
    return n;
}

void list_init(ListLink *h) { h->next = h->prev = h; }

void list_push_back(ListLink *h, ListLink *n) {
    n->next = h;
    n->prev = h->prev;
    h->prev->next = n;
    h->prev = n;
}

void page_list_init(PAGELINK *h) {
    h->next = h->prev = h;
    h->owner = nullptr;
}

void page_list_push_back(PAGELINK *h, PAGELINK *n) {
    n->next = h;
    n->prev = h->prev;
    h->prev->next = n;
    h->prev = n;
}

template <class Buf>
int build_chain(Buf **head, int32_t n, int hdrlist, int datalist, unsigned char *Buf::*data) {
    Buf **tail = head;
    while (*tail) tail = &(*tail)->next;
    for (int32_t i = 0; i < n; i++) {
        auto *b = static_cast<Buf *>(zvgetlst(hdrlist));
        if (!b) return 1;
        *tail = b;
        tail = &b->next;
        b->*data = static_cast<unsigned char *>(zvgetlst(datalist));
        if (!(b->*data)) return 1;
    }
    return 0;
}

// Marks every index buffer free and links it into the index LRU list.
void link_index_buffers(INSTGV *g) {
    list_init(&g->idxlru);
    unsigned char *area = g->arena.expbase;
    for (auto *b = static_cast<NODEBUF *>(g->idxbuflist); b; b = b->next, area += kKeyRoom) {
        b->exparea = area;
        b->filno = -1;
        b->posl = b->posh = 0xFFFFFFFFu;
        b->updated = 'n';
        b->fcb = nullptr;
        b->hash.owner = b;
        b->lru.owner = b;
        list_push_back(&g->idxlru, &b->lru.link);
    }
}

// Marks every data page free and links it into the data LRU list.
void link_data_pages(INSTGV *g) {
    page_list_init(&g->datlru);
    for (auto *p = static_cast<PAGEBUF *>(g->datpagelist); p; p = p->next) {
        p->offl = p->offh = 0xFFFFFFFFu;
        p->hash.owner = p;
        p->lru.owner = p;
        page_list_push_back(&g->datlru, &p->lru);
    }
}

// Slots of a lookaside in front of the hash chains of n buffers: the power
// of two from 2n up, so that the buffers in use seldom share a slot.
size_t lookaside_slots(int32_t n) {
    size_t slots = 16;
    while (slots < size_t(n > 0 ? n : 0) * 2) slots *= 2;
    return slots;
}

// The allocations of start-up: file table, slot-0 block, buffer chains, hash
// tables, fill buffer and encryption work buffer.
// 0, or 10 when memory ran out (the caller runs zvfree).
int allocate_tables(INSTGV *g) {
    int32_t fils = g->filecount;
    g->fcbtab = static_cast<FCB **>(mballc(static_cast<size_t>(fils) + 1, sizeof(FCB *)));
    if (!g->fcbtab) return 10;
    auto *f0 = static_cast<FCB *>(zvgetlst(kListFcb));
    if (!f0) return 10;
    f0->state = 'n';
    f0->fd = -1;
    f0->hostfcb = f0;
    g->fcbtab[0] = f0;
    g->slot0 = f0;

    if (reserve_pool_arena(g)) return 10;
    auto *nodes = static_cast<NODEBUF *>(nullptr);
    int rc = cntlist(&nodes, g->bufs, kListIdxBuf, kListNode);
    g->idxbuflist = nodes;
    if (rc) return 10;
    if (reserve_expansion_areas(g)) return 10;
    g->idxspill = static_cast<unsigned char *>(mballc(1, size_t(kNodeWrap + g->nodesize + kNodeSlack)));
    if (!g->idxspill) return 10;
    auto *pages = static_cast<PAGEBUF *>(nullptr);
    rc = cntlist(&pages, g->dbufs, kListPage, kListPageImg);
    g->datpagelist = pages;
    if (rc) return 10;

    int64_t ih = (int64_t{g->bufs} + 3) / 4;
    int64_t dh = (int64_t{g->dbufs} + 3) / 4;
    g->idxhash = static_cast<ListLink *>(mballc(static_cast<size_t>(ih), sizeof(ListLink)));
    if (!g->idxhash) return 10;
    g->idxhashsize = static_cast<uint32_t>(ih);
    for (int64_t i = 0; i < ih; i++) list_init(&g->idxhash[i]);
    g->dathash = static_cast<PAGELINK *>(mballc(static_cast<size_t>(dh), sizeof(PAGELINK)));
    if (!g->dathash) return 10;
    g->dathashsize = static_cast<uint32_t>(dh);
    for (int64_t i = 0; i < dh; i++) page_list_init(&g->dathash[i]);

    g->idxlook = static_cast<NODEBUF **>(mballc(lookaside_slots(g->bufs), sizeof(NODEBUF *)));
    if (!g->idxlook) return 10;
    g->idxlookmask = uint32_t(lookaside_slots(g->bufs) - 1);
    g->datlook = static_cast<PAGEBUF **>(mballc(lookaside_slots(g->dbufs), sizeof(PAGEBUF *)));
    if (!g->datlook) return 10;
    g->datlookmask = uint32_t(lookaside_slots(g->dbufs) - 1);

    // The stage of run writes: as many whole pages as kStageBytes holds,
    // no more than the cache has; none when fewer than two.
    int32_t stagepages = g->nodesize > 0 ? zv::kStageBytes / g->nodesize : 0;
    if (stagepages > g->dbufs) stagepages = g->dbufs;
    if (stagepages >= 2) {
        g->pc.stage = static_cast<unsigned char *>(mballc(size_t(stagepages), size_t(g->nodesize)));
        g->pc.stagebufs = static_cast<PAGEBUF **>(mballc(size_t(stagepages), sizeof(PAGEBUF *)));
        if (!g->pc.stage || !g->pc.stagebufs) return 10;
        g->pc.stagepages = stagepages;
    }

    g->fillbuf = static_cast<unsigned char *>(mballc(1, kFillSize));
    if (!g->fillbuf) return 10;
    memset(g->fillbuf, 0xFF, kFillSize);
    g->fillsize = kFillSize;
    g->pagehook = process_cipher_hook();
    camo_init();  // its result is not a start-up failure
    if (!mballccam(g->fillsize)) return 10;
    return 0;
}

// Case-insensitive comparison of a NUL-terminated text with an upper-case
// keyword.
bool equals_keyword(const char *text, size_t len, const char *keyword) {
    if (strlen(keyword) != len) return false;
    for (size_t i = 0; i < len; i++) {
        if (toupper(static_cast<unsigned char>(text[i])) != keyword[i]) return false;
    }
    return true;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// YES/NO text into a flag: 0, 540 null text, 749 any other text.
int parse_yes_no(const char *text, int *flag) {
    if (!text || !flag) return 540;
    size_t len = strlen(text);
    if (equals_keyword(text, len, "YES")) *flag = 1;
    else if (equals_keyword(text, len, "NO")) *flag = 0;
    else return 749;
    return 0;
}

}  // namespace

int suppress_path_in_ifil() { return g_suppress_path; }

int scale_for_sect(int32_t *bufs, int32_t *dbufs, int32_t *sect) {
    if (*sect <= 512) return 0;
    int64_t f = *sect / 512;
    int64_t b = int64_t{*bufs} * f;
    int64_t d = int64_t{*dbufs} * f;
    if (b > INT32_MAX || b < INT32_MIN || d > INT32_MAX || d < INT32_MIN) return 11;
    *bufs = static_cast<int32_t>(b);
    *dbufs = static_cast<int32_t>(d);
    *sect = 512;
    return 0;
}

int cntlist(NODEBUF **head, int32_t n, int hdrlist, int datalist) {
    return build_chain(head, n, hdrlist, datalist, &NODEBUF::image);
}

int cntlist(PAGEBUF **head, int32_t n, int hdrlist, int datalist) {
    return build_chain(head, n, hdrlist, datalist, &PAGEBUF::data);
}

void zvfilok() {
    INSTGV *g = zvWNGV;
    if (!g) return;
    for (int i = 0; i < kLockLists; i++) {
        LOCKENT *e = g->lockhead[i];
        while (e) {
            LOCKENT *n = e->next;
            zvputlst(e, kListLock);
            e = n;
        }
        g->lockhead[i] = g->locktail[i] = nullptr;
    }
}

int zvfree() {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    release(g->idxhash);
    release(g->dathash);
    g->idxhashsize = g->dathashsize = 0;
    release(g->idxlook);
    release(g->datlook);
    g->idxlookmask = g->datlookmask = 0;
    release(g->fillbuf);
    g->fillsize = 0;
    release(g->pc.stage);
    release(g->pc.stagebufs);
    g->pc.stagepages = 0;
    release(g->idxspill);
    g->idxspilled = nullptr;
    g->idxspillhome = nullptr;
    release(g->fcbtab);
    mbfrencam(&g->encworkbuf);
    zvputmemn(&g->evalwork);
    // The user-defined functions' descriptors are pool blocks: they go with
    // the pools below.
    g->evaltop = 0;
    g->evaldepth = 0;
    expr_instance_freed(g);
    release(g->ptrlist);
    mbfren(&g->ksglist);   // segment definitions: their files are closed
    g->nksg = g->capksg = 0;
    g->started = 0;
    g->slot0 = nullptr;
    // Lock entries live in free list 13, which goes now.
    for (int i = 0; i < kLockLists; i++) g->lockhead[i] = g->locktail[i] = nullptr;
    release_all_lists(g);
    g->filecount = 0;
    g->bufs = g->dbufs = 0;
    g->specialpages = 0;
    g->idxbuflist = nullptr;
    g->datpagelist = nullptr;
    g->idxlru = ListLink{};
    g->datlru = PAGELINK{};
    return 0;
}

int iintree(const StartBlock &sb) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    // Permission mode, path suppression, build options, versions.
    if (sb.permmode) g->filepermmode = sb.permmode;
    if (g->filepermmode == 0) g->filepermmode = 0660;
    zvSETCFG_SUPPRESS_PATH_IN_IFIL("YES");
    if (g->buildopts & 0x7FFEDFFFu) return 771;
    if (g->buildopts & 0x80012000u) return 772;
    if (!g->startsets[0]) g->startsets[0] = 1;
    if (!g->startsets[1]) g->startsets[1] = 2;
    g->hdrversion[0] = 0x81;
    g->hdrversion[1] = 0x91;
    g->hdrversion[2] = 0xA1;
    // A started engine stays as it is.
    if (is_started(g)) return 125;
    // Masking-encryption hooks and the built-in key.
    zvfnccamo();
    zvchkcamo();
    // Start values into the instance.
    g->dbufs = sb.dbufs;
    g->nodesize = (sb.sect > 0 && sb.sect <= 512) ? sb.sect * 128 : 0;
    g->nameconv = sb.nameconv;
    if (g->starthook) {
        if (g->starthook() < 0 && zvsysint() != 0) return 1005;
    } else if (zvsysint() != 0) {
        return 1005;
    }
    g->bufs = sb.bufs;
    g->sectors = static_cast<int16_t>(std::clamp(sb.sect, -1, 512));
    if (sb.fils >= 0 && sb.fils <= kMaxFils) g->filecount = static_cast<int16_t>(sb.fils);
    g->membernamemax = g->nodesize >= 1024 ? 255 : 128;
    // Names and defaults.
    g->membersep = '!';
    strcpy(g->defext[0], ".dat");
    strcpy(g->defext[1], ".idx");
    if (!g->listblocksize) g->listblocksize = 2048;
    if (!g->startdefs[0]) g->startdefs[0] = 16000;
    if (!g->startdefs[1]) g->startdefs[1] = 1;
    if (!g->dbufs) g->dbufs = 100;
    if (!g->nodesize) g->nodesize = 2048;
    if (g->bufs < 3) g->bufs = 3;
    // Values that cannot be used.
    if (sb.sect < 1 || sb.sect > 512 || sb.fils < 0 || sb.fils > kMaxFils || g->dbufs < 0) return 11;
    // Free lists, special cache, start time.
    zvsetlst(g->nodesize + kNodeWrap, g->nodesize, g->bufs, g->dbufs);
    g->specialpages = (g->specialpct >= 1 && g->specialpct <= 99)
                          ? static_cast<int32_t>(int64_t{g->dbufs} * g->specialpct / 100)
                          : 0;
    g->starttime = static_cast<int32_t>(time(nullptr));
    // File table, buffers, hash tables, fill and work buffers.
    if (allocate_tables(g) != 0) {
        zvfree();
        return set_uerr(10);
    }
    // Shifts, free buffers in their LRU lists, started.
    g->sectshift = 7 + log2_by_halving(g->sectors);
    g->pageshift = 7 + log2_by_halving(g->nodesize / 128);
    link_index_buffers(g);
    link_data_pages(g);
    zv::pagecache_init();
    for (int32_t i = 0; i <= g->filecount; i++) {
        if (g->fcbtab[i]) g->fcbtab[i]->state = 'n';
    }
    g->started = 1;
    // Key-change recovery and the advanced-encryption start.
    char msg[200] = {0};
    int rc = zvcmprecovRecover(msg, sizeof msg);
    if (rc != 0) {
        zvrcvlog(msg, rc);
        zvfree();
        return set_uerr(rc);
    }
    rc = zvcamosdkinit();
    if (rc != 0) {
        zvfree();
        return set_uerr(rc);
    }
    return 0;
}

}  // namespace zv

using zv::is_started;

extern "C" {

ZV_API uint16_t INTREEX(int32_t bufs, int32_t fils, int32_t sect, int32_t dbufs,
                        int32_t userprof) {
    if (uint16_t rc = zv::use_default_instance()) return rc;
    INSTGV *g = zvWNGV;
    if (is_started(g)) return static_cast<uint16_t>(zv::set_uerr(125));
    if (userprof & 0x800) {
        int rc = zv::zvprfcamo();
        if (rc) return static_cast<uint16_t>(g->uerr_cod ? g->uerr_cod : zv::set_uerr(rc));
    }
    g->userprof = static_cast<uint16_t>(userprof);
    if (sect > 512) {
        if (zv::scale_for_sect(&bufs, &dbufs, &sect) != 0) {
            return static_cast<uint16_t>(zv::set_uerr(11));
        }
        zvrcvlog(zv::kPageSizeMessage, 0);
    }
    g->lockcount = zv::kLockLists;
    g->startvals[0] = 520;
    g->startvals[1] = 8;
    g->startvals[2] = 0xFFFF;
    g->startvals[3] = -1;
    g->openvlimit = 32767;
    if (g->ptrslots <= 0) g->ptrslots = 6;
    zv::release(g->ptrlist);
    g->ptrlist = static_cast<void **>(mballc(static_cast<size_t>(g->ptrslots), sizeof(void *)));
    if (!g->ptrlist) return static_cast<uint16_t>(zv::set_uerr(82));

    zv::StartBlock sb;
    memset(&sb, 0, sizeof sb);
    sb.bufs = bufs;
    sb.dbufs = dbufs;
    sb.fils = fils;
    sb.sect = sect;
    int rc = zv::iintree(sb);
    zv::set_uerr(rc);
    if (rc != 0) zv::release(g->ptrlist);
    return static_cast<uint16_t>(rc);
}

ZV_API uint16_t INTREE(int32_t bufs, int32_t fils, int32_t sect) {
    return INTREEX(bufs, fils, sect, bufs, 33);
}

ZV_API int32_t SETOPS(int32_t bits, int32_t request) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->uerr_cod = 0;
    uint32_t b = static_cast<uint32_t>(bits);
    uint32_t &word = g->opsmode;
    auto refuse = [&]() {
        zv::set_uerr(116);
        return static_cast<int32_t>(word);
    };
    if (b & ~zv::kOpsAllowed) return refuse();
    uint32_t group = b & zv::kOpsGroup;
    if (group) {
        bool one_bit = (group & (group - 1)) == 0;
        if (b != group || !one_bit || request < 0 || request >= 4) return refuse();
    }
    if (!group && (b & 0x08u)) {
        g->modevalue = static_cast<uint32_t>(request);
        if (request == 0) word &= ~b;
        else word |= b;
    } else if (request == 1) {
        word = group ? (word | b) : ((word & zv::kOpsKeptByReplace) | b);
    } else if (request == 2) {
        word |= b;
    } else if (request == 0) {
        word &= ~b;
    } else if (request == 4) {
        return static_cast<int32_t>(g->modevalue);
    } else if (request != 3) {
        return refuse();
    }
    word &= ~zv::kOpsClearedAfter;
    return static_cast<int32_t>(word);
}

ZV_API int32_t zvclrlockonbits(int32_t mask) {
    INSTGV *g = zvWNGV;
    if (!g) return 0;
    uint32_t was = g->opsmode & static_cast<uint32_t>(mask);
    g->opsmode &= ~static_cast<uint32_t>(mask);
    return static_cast<int32_t>(was);
}

ZV_API int32_t zvclrlockon(void) { return zvclrlockonbits(0x24); }

ZV_API uint16_t zvSETCFGloadkeyleafpctfull(int percent) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (percent < 0 || percent > 100) return static_cast<uint16_t>(zv::set_uerr(749));
    g->loadkeyleafpct = static_cast<unsigned char>(percent);
    return 0;
}

// The text is parsed where it lies and never written, so a literal is fine.
ZV_API uint16_t zvSETCFG(int option, const char *text) {
    if (option != 11) return static_cast<uint16_t>(zv::set_uerr(749));
    if (!text) return static_cast<uint16_t>(zv::set_uerr(540));
    const char *p = text;
    while (zv::is_blank(*p)) p++;
    const char *kw = p;
    while (*p && !zv::is_blank(*p)) p++;
    size_t kwlen = static_cast<size_t>(p - kw);
    while (zv::is_blank(*p)) p++;
    if (!*p) return static_cast<uint16_t>(zv::set_uerr(749));
    if (!zv::equals_keyword(kw, kwlen, "LOADKEY_LEAF_PCT_FULL")) {
        return static_cast<uint16_t>(zv::set_uerr(749));
    }
    if (!isdigit(static_cast<unsigned char>(*p))) return static_cast<uint16_t>(zv::set_uerr(749));
    char *end = nullptr;
    errno = 0;
    long v = strtol(p, &end, 10);
    while (zv::is_blank(*end)) end++;
    if (*end || errno == ERANGE || v > 100) return static_cast<uint16_t>(zv::set_uerr(749));
    return zvSETCFGloadkeyleafpctfull(static_cast<int>(v));
}

ZV_API uint16_t zvSETCFGBoolean(const char *text, int *flag) {
    return static_cast<uint16_t>(zv::set_uerr(zv::parse_yes_no(text, flag)));
}

ZV_API uint16_t zvSETCFG_SUPPRESS_PATH_IN_IFIL(const char *text) {
    return zvSETCFGBoolean(text, &zv::g_suppress_path);
}

ZV_API uint16_t zvSETCFGnontranfsflushoff(const char *text) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    int flag = 0;
    int rc = zv::parse_yes_no(text, &flag);
    if (rc == 0) g->nontranfsflushoff = static_cast<uint32_t>(flag);
    return static_cast<uint16_t>(zv::set_uerr(rc));
}

ZV_API uint16_t zvSETSPECIALCACHE(int32_t percent) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    g->specialpct = percent;
    return 0;
}

ZV_API int SETNODE(const char *) {
    if (zvWNGV) zvWNGV->uerr_cod = 0;
    return 0;
}

}  // extern "C"

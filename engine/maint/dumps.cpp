// Debug dumps: a file's header and an index node printed for a developer on
// the engine's standard output.
//
// prthdr prints every header field of an open file as the engine holds it;
// prtnod prints one node with all of its entries, pausing for a line of
// standard input every screen; chkidx loops over node positions typed in;
// chkhgh checks a node's last key against its high key. They only read:
// the node is a private copy (NodeView), so a position that holds no node
// is reported (-2) without marking the file. The control blocks and the
// node last shown stay in zvnum, htnum and zv::buf for a debugger.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "engine/core/arith.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/index/keysearch.h"
#include "engine/index/node.h"
#include "engine/maint/dumps.h"
#include "engine/maint/nodeview.h"
#include "zarvo/zarvo.h"

extern "C" {
ZV_API FCB *zvnum = nullptr;
ZV_API FCB *htnum = nullptr;
}

namespace zv {

// The node buffer the last dump showed (not exported: an application's own
// `buf` is never written by a dump).
NODEBUF *buf = nullptr;

namespace {

// The copy behind zv::buf; replaced by every dump that reads a node.
std::unique_ptr<NodeView> g_view;

FILE *out() { return getZarvoSTDOUT(); }

unsigned long long ull(uint64_t v) { return static_cast<unsigned long long>(v); }
long long sll(uint64_t v) { return static_cast<long long>(v); }

FCB *active(int filno) {
    FCB *f = tstfnm(filno);
    if (!f) fprintf(out(), "\nfile number %d is not active (error %d)\n", filno, int(zvWNGV->uerr_cod));
    return f;
}

uint64_t pair(uint32_t hi, uint32_t lo) { return join64(hi, lo); }

// Reads node pos of index f into the dump's view: the view, or null after
// printing why (bad_form set when the node is not well formed).
NodeView *read_node(FCB *f, uint64_t pos, bool wide_messages, int *rc) {
    *rc = 0;
    std::unique_ptr<NodeView> v(new (std::nothrow) NodeView);
    if (!v || !v->init(f)) {
        *rc = set_uerr(82);
        return nullptr;
    }
    if (int e = v->read(pos, false)) {
        if (wide_messages) fprintf(out(), "\nCould not get node %llx (error %d).\n", ull(pos), e);
        else fprintf(out(), "\nCould not get node %xx (error %d).\n", uint32_t(pos), e);
        *rc = e;
        return nullptr;
    }
    g_view = std::move(v);
    buf = g_view->buf();
    if (g_view->nkb() > g_view->maxb() || !g_view->well_formed()) {
        if (wide_messages)
            fprintf(out(), "\nBadly formed node. Be sure that offset %llx corresponds to a node.\n", ull(pos));
        else
            fprintf(out(), "\nBadly formed node. Be sure that offset %xx corresponds to a node.\n", uint32_t(pos));
        *rc = -2;
        return nullptr;
    }
    return g_view.get();
}

// Paging of prtnod: after each screen a line of standard input. Returns
// 0 to go on, n > 0 to jump to entry n, -1 to end.
int page_prompt(int nkv) {
    fflush(out());
    char line[128];
    if (!zvrt_gets(line, sizeof line)) return -1;
    if (line[0] == '\0') return 0;
    if (line[0] == '#') {
        char *end = nullptr;
        long n = strtol(line + 1, &end, 10);
        if (end != line + 1 && n >= 1 && n <= nkv) return int(n);
    }
    return -1;
}

}  // namespace

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int prthdr(int filno) {
    if (!zvWNGV) return 47;
    FCB *f = active(filno);
    if (!f) return zvWNGV->uerr_cod;
    zvnum = f;
    const FILEHDR &b = f->hdr.base;
    const FILEHDRX &x = f->hdr.ext;
    const bool member_index = b.kmem != 0;
    const bool sf_member = b.sfiltyp == kSfMember;
    FILE *o = out();
    fprintf(o, "\nheader info for file #%d  [%s]:\n", filno, f->name);
    fprintf(o, "\n    configuration version: %6xx\t           index root ptr: %llxx", unsigned(b.verson),
            ull(pair(x.rooth, b.root)));
    fprintf(o, "\n                node size: %6u \t   superfile last member#: %d", unsigned(b.nodsiz), int(b.sfmember));
    if (member_index || sf_member)
        fprintf(o, "\n       data record length: %6u \t         extend file size: %s", unsigned(b.reclen), "N/A");
    else
        fprintf(o, "\n       data record length: %6u \t         extend file size: %u", unsigned(b.reclen),
                unsigned(b.extsiz));
    fprintf(o, "\n  max bytes per leaf node: %6d \t   max bytes per non-leaf: %d", int(b.maxkbl), int(b.maxkbn));
    fprintf(o, "\n                file mode: %6xx\t               key length: %d", unsigned(b.flmode), int(b.keylen));
    fprintf(o, "\n                file type: %6d \t  # of additional members: %d", int(b.clstyp), int(b.nmem));
    fprintf(o, "\n              update flag: %6xx\t      index member number: %d", unsigned(b.updflg), int(b.kmem));
    fprintf(o, "\n                 key type: %6d \t           file id number: %u", int(b.ktype), unsigned(b.fileid));
    fprintf(o, "\n           duplicate flag: %6d \t         server id number: %xx", int(b.autodup),
            unsigned(b.servid));
    fprintf(o, "\n      # of active entries: %6lld \t         current node ptr: %llxx", sll(pair(x.numenth, b.nument)),
            ull(pair(f->curnodh, f->curnodl)));
    if (member_index)
        fprintf(o, "\n         delete stack ptr: %6s \t index high transaction #: %s", "N/A", "N/A");
    else
        fprintf(o, "\n         delete stack ptr: %6llxx\t index high transaction #: %d", ull(pair(x.delstkh, b.delstk)),
                int(b.hightran));
    if (member_index || sf_member) {
        fprintf(o, "\n           last byte used: %6s \t            serial number: ", "N/A");
        if (member_index) fprintf(o, "%s", "N/A");
        else fprintf(o, "%d", int(b.sernum));
        fprintf(o, "\n       last physical byte: %6s \t              delete type: %d", "N/A", int(b.deltyp));
    } else {
        fprintf(o, "\n           last byte used: %6llxx\t            serial number: %xx", ull(pair(x.numrech, b.numrec)),
                unsigned(b.sernum));
        fprintf(o, "\n       last physical byte: %6llxx\t              delete type: %d",
                ull(pair(x.phyendh, b.phyend)), int(b.deltyp));
    }
    fprintf(o, "\npermanent file mode flags: %6d \t           superfile type: %d", int(b.flpmode), int(b.sfiltyp));
    fprintf(o, "\n          leaf anchor ptr: %6llxx\t       superfile member #: %d", ull(pair(x.lanchrh, b.lanchr)),
            int(b.supmbr));
    fprintf(o, "\n              file flavor: %6d \t           file alignment: %d", int(b.flavor), int(b.align));
    fprintf(o, "\n         key padding byte: %6xx\t      maximum name length: %d", unsigned(b.keypad), int(b.maxnamlen));
    fprintf(o, "\n        header record ptr: %6xx\t      resource header ptr: %xx", unsigned(b.hdrpos), unsigned(b.reshdr));
    fprintf(o, "\n                  flmode2: %6xx\t                  flmode3: %xx", unsigned(x.flmode2),
            unsigned(x.flmode3));
    return set_uerr(0);
}

ZV_API int prtnod(int filno, uint32_t hi, uint32_t lo, int paging) {
    if (!zvWNGV) return 47;
    FCB *f = active(filno);
    if (!f) return zvWNGV->uerr_cod;
    zvnum = f;
    htnum = f->hostfcb ? f->hostfcb : f;
    if (f->kind != kKindIndex) return set_uerr(48);
    int rc = 0;
    NodeView *v = read_node(f, join64(hi, lo), true, &rc);
    if (!v) return rc;
    NODEBUF *b = v->buf();
    FILE *o = out();
    const bool leaf = v->leaf();
    fprintf(o, "\n\nNODE: %llxx\n", ull(join64(hi, lo)));
    if (leaf) {
        fprintf(o, "\n\t    trans active: %s", b->hdr.numexc != 0 ? "yes" : "no");
        fprintf(o, "\n\tpredecessor node: %llxx", ull(v->pred()));
    }
    fprintf(o, "\n\t  successor node: %llxx", ull(v->succ()));
    fprintf(o, "\n\t    # of entries: %d", v->nkv());
    fprintf(o, "\n\t      # of bytes: %u", unsigned(v->nkb()));
    fprintf(o, "\n\t       leaf flag: %d (0 => non-leaf / 1 => leaf)", int(v->leafbyte()));
    fprintf(o, "\n\t        member #: %d", int(b->hdr.member));
    fprintf(o, "\n\n element  offset             key value");
    const int32_t kl = v->shown_keylen();
    int lines = leaf ? 11 : 9;
    const int n = v->nkv();
    for (int e = 1; e <= n; e++) {
        const uint64_t ptr = leaf ? v->recptr(e) : v->child(e);
        const unsigned char *key = v->key(e);
        if (!key || ptr == 0) {
            fprintf(o, "\n  %3d    fatal index error %d", e, 527);
        } else {
            fprintf(o, "\n   %3d    %08x%08xx  ", e, uint32_t(ptr >> 32), uint32_t(ptr));
            for (int32_t i = 0; i < kl; i++) fprintf(o, "%2x", key[i]);
            fprintf(o, "\n                             ");
            for (int32_t i = 0; i < kl; i++) fprintf(o, " %c", (key[i] >= 32 && key[i] <= 126) ? key[i] : '.');
        }
        if (!paging) continue;
        lines += 2;
        if (kl > 25) lines += 2;
        if (kl > 65) lines += (kl - 26) / 40 * 80;
        if (lines > 20) {
            int answer = page_prompt(n);
            if (answer < 0) break;
            lines = 0;
            if (answer > 0) e = answer - 1;
        }
    }
    return set_uerr(0);
}

ZV_API int chkidx(int filno, int paging) {
    if (!zvWNGV) return 47;
    int rc = prthdr(filno);
    if (rc) return rc;
    for (;;) {
        fprintf(out(), "\n\nEnter node position (in hex): ");
        fflush(out());
        char line[128];
        if (!zvrt_gets(line, sizeof line)) break;
        unsigned long long pos = 0;
        if (sscanf(line, "%llx", &pos) != 1 || pos == 0) break;
        prtnod(filno, uint32_t(pos >> 32), uint32_t(pos), paging);
    }
    return set_uerr(rc);
}

ZV_API int32_t chkhgh(int filno, uint32_t pos) {
    if (!zvWNGV) return 47;
    FCB *f = active(filno);
    if (!f) return zvWNGV->uerr_cod;
    zvnum = f;
    if (f->kind != kKindIndex) return set_uerr(48);
    int rc = 0;
    NodeView *v = read_node(f, pos, false, &rc);
    if (!v) return rc;
    // Only a leaf keeps a high key of its own; a non-leaf's is its last key.
    if (v->leaf() && v->nkv() > 0 && compar(v->key(v->nkv()), v->highkey(), f) > 0)
        fprintf(out(), "\nBad high value for node: %xx (%d)\n", pos, int(pos));
    set_uerr(0);
    return int32_t(v->buf()->hdr.sucesr);
}

}  // extern "C"

// Record filters of data files.
//
// A filter is a parsed expression (kind 0) or a callback filter (kind 1 or
// 5) kept in the file's block; every record read (REDREC, and RDVREC with
// the whole length read) applies it and reports a rejected record with 739
// while leaving its image in the buffer. The expression language parses
// and evaluates; this module only keeps the filter, its kind and the
// instance's 49152-byte evaluation area, which is taken when a filter is
// set and given back when the engine stops.
//
// Invariants:
//  1. fltr is null exactly when the file has no filter; fltrkind is then 0.
//     An index file's in-memory condition keeps its text in fltrtext, which
//     goes with it.
//  2. A filter replaced or cleared is released through the ISAM layer's
//     release by kind, once.
//  3. A record passes only when the evaluation says true (1, or a
//     callback's positive answer) and left no expression error; a failed
//     evaluation is 598, never a pass.
#include <cstring>

#include "engine/core/instance.h"
#include "engine/expr/eval.h"
#include "engine/expr/expr_services.h"
#include "engine/core/fcb.h"
#include "engine/files/fixrec.h"
#include "engine/isam/isam_services.h"

namespace zv {

namespace {

// The evaluation area for a filter about to be set: 0 or 82.
int filter_area() { return take_eval_area() ? 82 : 0; }

// Texts of filter kinds that this build does not have.
bool unsupported_text(const char *t, size_t n) {
    if (n > 2 && t[0] == '@' && t[1] == '@' && (t[2] == '?' || t[2] == '!')) return true;
    return t[0] == '#';
}

}  // namespace

void free_record_filter(FCB *f) {
    if (f->fltr) zvfreecidx(f->fltr, f->fltrkind);
    f->fltr = nullptr;
    f->fltrkind = 0;
    zvputmemn(reinterpret_cast<void **>(&f->fltrtext));
}

int parse_record_filter(int datno, FCB *f, const char *text, void **tree, int *kind) {
    INSTGV *g = zvWNGV;
    *tree = nullptr;
    *kind = 0;
    const size_t n = strlen(text);
    if (unsupported_text(text, n)) return 454;
    if (int rc = filter_area()) return rc;
    // Texts name the fields of the record schema (the map key formation
    // uses); a file without one is parsed without names.
    void *names = nullptr;
    if (f->schmap) {
        set_uerr(0);
        names = zvgetnames(datno);
        if (!names && g->uerr_cod) return 596;
    }
    set_uerr(0);
    int k = 0;
    void *t = cndxparse(f->schmap, names, text, int32_t(n + 1), &k);
    zvputmem(names);
    if (!t) return g->uerr_cod ? g->uerr_cod : 597;
    set_uerr(0);
    if (zvclbkinit(f->name, t, k) >= 1 && g->uerr_cod == 0) {
        *tree = t;
        *kind = k;
        return 0;
    }
    // A filter that could not be initialised is no filter: never report it
    // as made.
    int rc = g->uerr_cod ? g->uerr_cod : 454;
    zvfreecidx(t, k);
    return rc;
}

int apply_record_filter(FCB *f, int filno, void *image, int32_t len) {
    INSTGV *g = zvWNGV;
    if (!f->fltr) return 0;
    const int32_t fixlen = f->hdr.base.reclen;
    g->exprerr = 0;
    int r = (f->fltrkind == 1 || f->fltrkind == 5)
                ? clbkeval(f->fltr, f->fltrkind, filno, image, f->schmap, fixlen, len)
                : cndxeval(f->fltr, image, f->schmap, fixlen, len);
    if (r < 0 || g->exprerr) return set_uerr(598);
    return set_uerr(r > 0 ? 0 : 739);
}

}  // namespace zv

using namespace zv;

extern "C" {

ZV_API int SETFLTRN(int datno, int, int, const char *text) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = tstfnm(datno);
    if (!f) return g->uerr_cod;
    if (f->kind == kKindIndex) return set_uerr(48);
    if (!text) {
        free_record_filter(f);
        return set_uerr(0);
    }
    size_t n = strlen(text);
    if (unsupported_text(text, n)) return set_uerr(454);
    free_record_filter(f);
    if (n == 0) return set_uerr(0);
    int kind = 0;
    void *tree = nullptr;
    if (int rc = parse_record_filter(datno, f, text, &tree, &kind)) return set_uerr(rc);
    f->fltr = tree;
    f->fltrkind = kind;
    return set_uerr(0);
}

ZV_API int SETFLTR(int datno, const char *text) { return SETFLTRN(datno, 16384, 0, text); }

ZV_API int SETFLTRX(int datno, void *tree) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    FCB *f = tstfnm(datno);
    if (!f) return g->uerr_cod;
    if (f->kind == kKindIndex) return set_uerr(48);
    free_record_filter(f);
    if (!tree) return set_uerr(0);
    if (int rc = filter_area()) return set_uerr(rc);
    f->fltr = tree;
    f->fltrkind = 0;
    zvclbkinit(f->name, tree, 0);
    return set_uerr(0);
}

ZV_API int RESETFLTR(int datno, int mode) {
    if (!zvWNGV) return 47;
    if (mode != 2) return set_uerr(116);
    return SETFLTR(datno, "");
}

}  // extern "C"

// Engine instance registry: a ring of INSTGV blocks, one of them current.
//
// REGZARVO inserts a new block right after the current one; SWTZARVO and
// GETZARVO search forward from the current instance; UNRZARVO searches from
// the instance after the current one and tries the current one last, so that
// it always knows the predecessor of the block it removes.
#include "engine/core/instance.h"
#include "engine/core/redirect.h"

#include <cstdlib>
#include <cstring>

#include "engine/core/filerules.h"
#include "engine/core/fileops.h"
#include "engine/core/lifecycle.h"
#include "engine/core/pools.h"
#include "engine/core/statuslog.h"
#include "engine/crypto/crypto_services.h"

INSTGV *zvWNGV = nullptr;

namespace {

// Copies an id into the 32-byte field, cut to 31 characters.
void copy_id(char (&dst)[ZV_INSTANCE_ID_MAX + 1], const char *id) {
    size_t n = strnlen(id, ZV_INSTANCE_ID_MAX);
    memcpy(dst, id, n);
    dst[n] = '\0';
}

// Compares a caller's id with a stored one, whole and case-sensitively.
// An id longer than the field can never match a stored (cut) id.
bool same_id(const INSTGV *g, const char *id) {
    return strncmp(g->id, id, ZV_INSTANCE_ID_MAX + 1) == 0;
}

INSTGV *find(const char *id) {
    if (!zvWNGV || !id) return nullptr;
    INSTGV *g = zvWNGV;
    do {
        if (same_id(g, id)) return g;
        g = g->next;
    } while (g != zvWNGV);
    return nullptr;
}

}  // namespace

extern "C" {

ZV_API uint16_t SWTZARVO(const char *id) {
    if (!zvWNGV) return 516;
    INSTGV *g = find(id);
    if (!g) return 517;
    zvWNGV = g;
    return 0;
}

ZV_API void *GETZARVO(const char *id) { return find(id); }

ZV_API const char *WCHZARVO(void) { return zvWNGV ? zvWNGV->id : nullptr; }

ZV_API const char *NXTZARVO(void) {
    if (!zvWNGV) return nullptr;
    zvWNGV = zvWNGV->next;
    return zvWNGV->id;
}

ZV_API uint16_t REGZARVO(const char *id) {
    if (!id) id = "";
    if (find(id)) return 518;  // the current instance stays current
    INSTGV *g = static_cast<INSTGV *>(calloc(1, sizeof(INSTGV)));
    if (!g) return 82;
    copy_id(g->id, id);
    if (zvWNGV) {
        g->next = zvWNGV->next;
        zvWNGV->next = g;
    } else {
        g->next = g;
    }
    zvWNGV = g;
    return 0;
}

ZV_API void zvFreeWNGV(void *block) { free(block); }

ZV_API uint16_t UNRZARVO(const char *id) {
    if (!zvWNGV) return 516;
    if (!id) return 517;
    INSTGV *cur = zvWNGV;
    INSTGV *prev = cur;
    INSTGV *g = cur->next;
    for (;;) {
        if (same_id(g, id)) break;
        if (g == cur) return 517;
        prev = g;
        g = g->next;
    }
    // A started engine is stopped first, so that its pools, buffers and
    // descriptors are not lost with the block.
    if (g->started || g->slot0) {
        zvWNGV = g;
        zv::stop_instance();
        zvWNGV = cur;
    }
    // An engine that was never started may still hold the evaluation area
    // of the conditions evaluated on it.
    if (g->evalwork) {
        zvWNGV = g;
        zvputmemn(&g->evalwork);
        zvWNGV = cur;
    }
    zv::release_all_lists(g);
    zv::release_tmpdir(g);
    zv::release_rules(g);
    zv::release_redirects(g);
    zv::camo_release(g);
    mbfree(g->seglist);
    g->seglist = nullptr;
    if (g->next == g) {
        if (g != cur) terr(7300);  // a ring of one that is not current
        zvWNGV = nullptr;
    } else {
        prev->next = g->next;
        if (g == cur) zvWNGV = prev;
    }
    zvFreeWNGV(g);
    return 0;
}

}  // extern "C"

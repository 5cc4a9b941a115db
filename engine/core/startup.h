// Engine start-up and shutdown of the current instance (see startup.cpp).
#pragma once

#include <cstdint>

#include "engine/core/instance.h"

struct NODEBUF;

namespace zv {

// The start block handed to the initialiser: 200 bytes, zeroed before use.
struct StartBlock {
    int32_t bufs;       // index buffers
    int32_t dbufs;      // data-cache pages
    int32_t fils;       // file numbers
    int32_t sect;       // sectors of 128 bytes per node and page
    int32_t nameconv;   // name-conversion mode (0 from the start-up calls)
    int32_t permmode;   // file permission mode; 0 keeps the instance's value
    unsigned char reserved[176];
};
static_assert(sizeof(StartBlock) == 200, "the start block is 200 bytes");

// Largest file count (file numbers are 16-bit signed counts).
constexpr int32_t kMaxFils = 32767;
// Bytes of the fill buffer (0xFF) and of the encryption work buffer.
constexpr uint32_t kFillSize = 2048;

// True when the current instance's engine is started.
inline bool is_started(const INSTGV *g) { return g && (g->started || g->slot0); }

// The start calls work on the current instance and register the default
// one when none is current: 0, or REGZARVO's code.
inline uint16_t use_default_instance() { return zvWNGV ? 0 : REGZARVO(ZV_DEFAULT_INSTANCE_ID); }

// For sect above 512: multiplies bufs and dbufs by sect / 512 and sets sect
// to 512. 0, or 11 (nothing changed) when a product leaves 32 bits.
int scale_for_sect(int32_t *bufs, int32_t *dbufs, int32_t *sect);

// The initialiser: sizes, allocates and links everything an engine needs.
// 0, or the failing step's code with nothing allocated.
int iintree(const StartBlock &sb);
// Releases everything that iintree and INTREEX allocated; safe on a partly
// started instance. Returns 0.
int zvfree();
// Gives every entry of the 16 lock lists back to free list 13.
void zvfilok();

// Chains n buffers at *head: each header from free list hdrlist, its data
// area from free list datalist. 0, or nonzero when memory ran out (what was
// built stays chained; the lists release it).
int cntlist(NODEBUF **head, int32_t n, int hdrlist, int datalist);
int cntlist(PAGEBUF **head, int32_t n, int hdrlist, int datalist);

// The process-wide flag set by zvSETCFG_SUPPRESS_PATH_IN_IFIL.
int suppress_path_in_ifil();

}  // namespace zv

// The function-number entry point `zarvo`.
//
// A call is decoded in constant time: the low byte of the number selects at
// most two candidates in the jump table kCodeIndex, and the whole number
// must equal one of them. The target is then called through its table slot
// (by the function index) or directly, and the result follows one rule:
// with bit 0x0100 the ISAM error when it is set, else the user error copied
// into the ISAM error; without it the user error.
//
// Nothing here allocates or calls the system: the two locals that stand in
// for missing fourth and sixth arguments live on the stack. The only side
// path is the status-log line of a number that matches no code.
//
// Like the rest of engine/entry it may use every engine subsystem below it;
// the decoder itself needs only the instance block and the high word.
#include "engine/entry/dispatch.h"

#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "zarvo/zarvo.h"

namespace zv {

int NOFUNCT(ZvArgs &) { return set_uerr(6); }

uint32_t NOFUNCL(ZvArgs &) {
    set_uerr(6);
    return 0;
}

int32_t NOFUNCV(ZvArgs &) {
    set_uerr(6);
    return 0;
}

void *nofuncp(ZvArgs &) {
    set_uerr(6);
    return nullptr;
}

int nosub(ZvArgs &) { return set_uerr(6); }

const Code *decode_function(uint16_t fn) {
    const auto &e = kCodeIndex[fn & 0xFF];
    for (uint8_t k : e) {
        if (k != 0xFF && kCodes[k].fn == fn) return &kCodes[k];
    }
    return nullptr;
}

bool describe_function(uint16_t fn, DispatchTarget *out) {
    const Code *c = decode_function(fn);
    if (!c || !out) return false;
    int idx = fn & 0xFF;
    switch (c->road) {
    case Road::Status:
        *out = {zvfptr[idx].name, zvfptr[idx].fn != NOFUNCT};
        break;
    case Road::Pos:
        *out = {zvlptr[idx - 150].name, zvlptr[idx - 150].fn != NOFUNCL};
        break;
    case Road::Len:
        *out = {zvvptr[idx - 180].name, zvvptr[idx - 180].fn != NOFUNCV};
        break;
    case Road::Ptr:
        *out = {zvtptr[idx - 188].name, zvtptr[idx - 188].fn != nofuncp};
        break;
    case Road::Direct:
        *out = {zvdirect[c->slot].name, zvdirect[c->slot].fn != NOFUNCT};
        break;
    case Road::Masked:
        *out = {zvfptr[113].name, zvfptr[113].fn != NOFUNCT};
        break;
    case Road::Refused:
    case Road::Second:
        *out = {nullptr, true};
        break;
    }
    return true;
}

namespace {

// A status result that the target did not leave in the user error becomes
// the user error, so that the return rule never reports a failure as 0.
void keep_status(int rc) {
    if (rc && zvWNGV) zvWNGV->uerr_cod = uint16_t(rc);
}

// 0x26AB: the sub-function in arg7; its status goes through arg4. The high
// word survives every sub-function but 8, which sets it.
void second_level(ZvArgs &a) {
    int sub = a.arg7;
    int32_t saved = tsthghwrd();
    int rc = (sub < 0 || sub >= kSubFunctions) ? set_uerr(170) : zvsubfn[sub].fn(a);
    if (sub != 8 && zvWNGV) zvSETHGHi(saved);
    *a.arg4 = rc;
}

// 0x0271: the fourth argument's value, masked to 15 bits when its bit
// 0x8000 is set and to 16 bits otherwise, goes to zvfptr slot 113.
void masked_call(ZvArgs &a) {
    zvWNGV->statusword |= kStatusMaskedCall;
    int32_t v = *a.arg4;
    v &= (v & 0x8000) ? 0x7FFF : 0xFFFF;
    ZvArgs b = a;
    b.arg4 = &v;
    keep_status(zvfptr[113].fn(b));
}

// Calls the target of a decoded number; returns the status known to the
// call itself (for the case that the instance is gone afterwards).
int call_target(const Code &c, ZvArgs &a) {
    int idx = a.fn & 0xFF;
    switch (c.road) {
    case Road::Status: {
        int rc = zvfptr[idx].fn(a);
        keep_status(rc);
        return rc;
    }
    case Road::Pos:
        *a.arg4 = int32_t(zvlptr[idx - 150].fn(a));
        return 0;
    case Road::Len:
        *a.arg6 = zvvptr[idx - 180].fn(a);
        return 0;
    case Road::Ptr:
        zvtptr[idx - 188].fn(a);
        return 0;
    case Road::Direct: {
        int rc = zvdirect[c.slot].fn(a);
        keep_status(rc);
        return rc;
    }
    case Road::Refused:
        return set_uerr(454);
    case Road::Masked:
        masked_call(a);
        return 0;
    case Road::Second:
        second_level(a);
        return 0;
    }
    return 0;
}

}  // namespace

}  // namespace zv

extern "C" ZV_API int16_t zarvo(uint16_t fn, int16_t filno, void *arg3, int32_t *arg4, void *arg5,
                                int32_t *arg6, int32_t arg7) {
    INSTGV *g = zvWNGV;
    if (!g) return 129;
    g->uerr_cod = 0;
    const bool isam = (fn & 0x0100) != 0;
    if (isam) g->isamerr_cod = 0;
    const int idx = fn & 0xFF;
    if (idx < 1 || idx > 231) return int16_t(zv::set_uerr(170));

    int32_t local4 = 0, local6 = 0;
    zv::ZvArgs a{fn, filno, arg3, arg4 ? arg4 : &local4, arg5, arg6 ? arg6 : &local6, arg7};
    int status = 0;
    if (const zv::Code *c = zv::decode_function(fn)) {
        status = zv::call_target(*c, a);
    } else {
        zvrcvlog("Bad raw function #. fn", fn);
        status = zv::set_uerr(170);
    }

    // The target may have stopped and removed the instance.
    g = zvWNGV;
    if (!g) return int16_t(status);
    if (isam) {
        if (g->isamerr_cod) return int16_t(g->isamerr_cod);
        g->isamerr_cod = g->uerr_cod;
    }
    return int16_t(g->uerr_cod);
}

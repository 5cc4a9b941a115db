// Entry points of services that need a server, a transaction log or a
// replication agent. Each only answers: 454 means "not supported". Some
// entries also store the code in uerr_cod, some leave uerr_cod as it was,
// and a few answer 0 (success without effect), as callers of this build
// expect.
#include "engine/core/instance.h"

namespace {

// Stores 454 and returns it.
int not_supported() { return zv::set_uerr(454); }

}  // namespace

extern "C" {

ZV_API int ZVHIST(int, void *, int32_t, int, const char *, const char *, const char *, int32_t,
                  int32_t) {
    return not_supported();
}
ZV_API int CHGHST(int) { return not_supported(); }
ZV_API int FREHST(int) { return not_supported(); }
ZV_API int FREHSTN(int) { return not_supported(); }
ZV_API int zvSNAPSHOT(int, const char *, void *, int32_t) { return not_supported(); }
ZV_API int SYSMON(int, int32_t, char *, int32_t) { return not_supported(); }
ZV_API int SYSLOG(int, int32_t, const char *, int32_t) { return not_supported(); }
ZV_API int zvLOKDMP(int, const char *, int) { return not_supported(); }
ZV_API int zvSETCOMPRESS(int, int, const char *, const char *, int) { return not_supported(); }
ZV_API int getCMPRECres(void *, int32_t) { return not_supported(); }

ZV_API int zvQUIET(const char *, int32_t, int) {
    if (zvWNGV) zvWNGV->sysiocod = 0;
    return not_supported();
}

ZV_API int zvFILBLK(int, const char *) {
    if (zvWNGV) zvWNGV->sysiocod = 0;
    return not_supported();
}

// These answer without touching uerr_cod.
ZV_API int ZVASYNC(int, void *) { return -454; }
ZV_API int zvImpersonateTask(int32_t) { return 454; }
ZV_API int zvCMPRECexit(void) { return 454; }
ZV_API int setCMPRECres(const void *, int32_t) { return 454; }
ZV_API int zvReplAgentSetCallback(void *, int, void *) { return 454; }
ZV_API int zvReplAgentSetState(void *, int) { return 454; }
ZV_API int zvReplAgentSetArgs(void *, const char *) { return 454; }
ZV_API int zvCreateSequence(const void *) { return 454; }
ZV_API int zvDeleteSequence(const char *) { return 454; }
ZV_API int zvOpenSequence(const char *, int32_t *) { return 454; }
ZV_API int zvCloseSequence(int32_t) { return 454; }
ZV_API int zvGetSequenceAttrs(int32_t, void *) { return 454; }
ZV_API int zvSetSequenceAttrs(int32_t, const void *) { return 454; }
ZV_API int zvGetCurrentSequenceValue(int32_t, int64_t *) { return 454; }
ZV_API int zvSetCurrentSequenceValue(int32_t, int64_t) { return 454; }
ZV_API int zvGetNextSequenceValue(int32_t, int64_t *) { return 454; }

// Success without effect.
ZV_API int ZVUSER(const char *, const char *, const char *, const char *, const char *,
                  const char *, int, int32_t) {
    return 0;
}
ZV_API int ZVUSERX(const char *, const char *, const char *, const char *, const char *,
                   const char *, int, int32_t, const char *) {
    return 0;
}
ZV_API int ZVSQLCTL(int32_t, void *, int32_t, void *, int32_t *) { return 0; }
ZV_API int ZVSRVCTL(int32_t, void *, int32_t, void *, int32_t *) { return 0; }
ZV_API int zvCMPREChndl(void *) { return 0; }
ZV_API void retCMPRECres(void) {}
ZV_API int zvcamosys(void *, int32_t) { return 0; }

}  // extern "C"

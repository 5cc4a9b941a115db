// Full-text search entry points. This build has no full-text service:
// each entry answers 454 ("not supported") and does nothing else; only
// zvFullText also leaves 454 in the user error.
#include "engine/core/instance.h"
#include "zarvo/zarvo.h"

extern "C" {

ZV_API int zvFullTextSearch(int, const char *, int) { return ZV_SNOT_SUPPORTED; }
ZV_API int FreeFTSearch(void) { return ZV_SNOT_SUPPORTED; }
ZV_API int AllocFTSearch(int, const char *) { return ZV_SNOT_SUPPORTED; }
ZV_API int FirstInFT(int, void *, int32_t *) { return ZV_SNOT_SUPPORTED; }
ZV_API int NextInFT(int, void *, int32_t *) { return ZV_SNOT_SUPPORTED; }
ZV_API int LastInFT(int, void *, int32_t *) { return ZV_SNOT_SUPPORTED; }
ZV_API int PrevInFT(int, void *, int32_t *) { return ZV_SNOT_SUPPORTED; }
ZV_API int FTS_OpenFileCallback(int) { return ZV_SNOT_SUPPORTED; }
ZV_API int FTS_CloseFileCallback(int) { return ZV_SNOT_SUPPORTED; }
ZV_API int FTS_RecordUpdateCallback(int, int, const void *, int32_t, const void *, int32_t) {
    return ZV_SNOT_SUPPORTED;
}

ZV_API int zvFullText(void *) {
    if (zvWNGV) zv::set_uerr(ZV_SNOT_SUPPORTED);
    return ZV_SNOT_SUPPORTED;
}

}  // extern "C"

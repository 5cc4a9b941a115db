// Entries of services this library does not have (servers, secure
// connections, impersonation, external configuration and logs, full-text
// search, session ids), and the sample entry.
//
// The entries stay so that applications link unchanged. Each answers in a
// fixed way without looking at its arguments, so a NULL handle is as good
// as any, and none of them keeps a code in a session, except
// zvdbGetSessionId, which reports the engine's answer like any failing call.
#include <cstdio>

#include "engine/core/platform.h"
#include "recapi/base/session.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"

extern "C" {

ZV_API ZVDBRET zvdbSetLocalDirectory(ZVHANDLE, const char *) { return ZVDB_NOT_SUPPORTED; }
ZV_API ZVDBRET zvdbSetSessionSSLParams(ZVHANDLE, const char *) { return ZVDB_NOT_SUPPORTED; }
ZV_API ZVDBRET zvdbSetSSL(ZVHANDLE, int) { return ZVDB_NOT_SUPPORTED; }
ZV_API ZVDBRET zvdbSyncTransactionState(ZVHANDLE) { return ZVDB_NOT_SUPPORTED; }
ZV_API ZVDBRET zvdbSetConfigurationFile(const char *) { return ZVDB_NOT_SUPPORTED; }
ZV_API ZVDBRET zvdbBeginImpersonation(ZVHANDLE, int) { return ZVDB_NOT_SUPPORTED; }
ZV_API ZVDBRET zvdbEndImpersonation(ZVHANDLE) { return ZVDB_NOT_SUPPORTED; }
ZV_API ZVDBRET zvdbSETENCRYPTParam(ZVHANDLE, const char *) { return ZVDB_NOT_SUPPORTED; }
ZV_API ZVDBRET zvdbSetLogPath(ZVHANDLE, const char *) { return ZVDB_NOT_SUPPORTED; }
ZV_API ZVDBRET zvdbSetStatusLogPath(ZVHANDLE, const char *) { return ZVDB_NOT_SUPPORTED; }
ZV_API ZVDBRET _zvdbMOVFTS(ZVHANDLE, int) { return ZVDB_NOT_SUPPORTED; }

ZV_API int zvdbIsSSLActive(ZVHANDLE) { return 0; }
ZV_API int zvdbIsSQLServer(ZVHANDLE) { return 0; }
ZV_API ZVDBRET zvdbStartDatabaseEngine(void) { return 0; }
ZV_API int32_t zvdbAcquireSessionId(ZVHANDLE) { return 0; }
ZV_API int32_t zvdbGetZarvoOWNER(void) { return 0; }
ZV_API int _zvdbAGGRLOCK(ZVHANDLE, int) { return 0; }

ZV_API void zvdbStopDatabaseEngine(void) {}
ZV_API void zvdbSetSessionId(ZVHANDLE, int32_t) {}
ZV_API void zvdbSetZarvoOWNER(int32_t) {}

ZV_API int32_t zvdbReleaseSessionId(int32_t id) { return id; }

ZV_API int32_t zvdbGetSessionId(ZVHANDLE handle) {
    // Resolving the handle makes the session's instance the one asked.
    zv::session_of(handle);
    zv::keep_code(handle, zvSNAPSHOT(0, nullptr, nullptr, 0));
    return -1;
}

ZV_API int zvdbHelloWorld(const char *path, const char *text, int integer, unsigned int value, double real) {
    if (!path) return -1;
    FILE *f = zv::plat_fopen(path, "a");
    if (!f) return -1;
    int written = std::fprintf(f,
                               "zvdbHelloWorld: | HelloFileName={%s} | HelloTextData={%s} | HelloNintData={%d} | "
                               "HelloULongData={%u} | HelloFloatData={%lf}\n",
                               path, text ? text : "", integer, value, real);
    // The line reaches the file at the close: its failure is a failed write.
    int closed = zv::plat_fclose(f);
    return written < 0 || closed != 0 ? -1 : 0;
}

}  // extern "C"

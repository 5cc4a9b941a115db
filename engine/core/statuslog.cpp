// Error setters, the status-log writer and the fatal internal error.
//
// Each log entry opens "ZVSTATUS.QVS" for appending, writes one whole entry
// and closes it again, so entries of several processes interleave only at
// whole-write granularity. Nothing here takes memory from the pools: entries
// are formatted into a fixed buffer.
//
// The log is a name the engine makes up in the current directory: it is
// opened as such names are (no symbolic link followed, never blocking, a
// regular file only, close-on-exec). Anything else under the name is left as
// it is and the entry is not written (10); a new log is created with the
// instance's permission mode (less the umask), and an existing one keeps its
// own: no mode is set through the open.
#include "engine/core/statuslog.h"

#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/files/files_services.h"

namespace {

// Process-wide flag of the signal handling: the engine's shutdown flag, set
// by the shutdown-signal handler; the fatal path clears it.
volatile sig_atomic_t sigdevstt = 0;
// A shutdown signal noted by the handler and not yet logged (0: none). The
// handler may not write the log itself (stdio and the time text are not safe
// there), so the next entry of the log writer logs it first.
volatile sig_atomic_t pending_signal = 0;

constexpr const char *kSignalMessage = "shutdown loop signal received = ";

// The 24-character local time text followed by a newline.
void time_text(char (&out)[32]) {
    time_t now = time(nullptr);
    struct tm tmv;
    if (!localtime_r(&now, &tmv) || !asctime_r(&tmv, out)) {
        strcpy(out, "??? ??? ?? ??:??:?? ????\n");
    }
}

}  // namespace

namespace zv {

FILE *zvgetstream(const char *name, const char *mode, int retries) {
    FILE *fp = plat_fopen(name, mode);
    for (int i = 0; !fp && retries >= 0 && i <= retries; i++) {
        vtclosex_one(1);
        fp = plat_fopen(name, mode);
    }
    if (fp && zvWNGV && zvWNGV->filepermmode) plat_fchmod(fp, zvWNGV->filepermmode);
    return fp;
}

FILE *open_status_log(int retries) {
    const int perm = zvWNGV && zvWNGV->filepermmode ? zvWNGV->filepermmode : 0666;
    FILE *fp = plat_fopen_found(kStatusLogName, "a", perm);
    for (int i = 0; !fp && retries >= 0 && i <= retries; i++) {
        vtclosex_one(1);
        fp = plat_fopen_found(kStatusLogName, "a", perm);
    }
    return fp;
}

void note_shutdown_signal(int sig) {
    sigdevstt = 1;
    pending_signal = sig;
}

bool shutdown_flag() { return sigdevstt != 0; }

void clear_shutdown_flag() {
    sigdevstt = 0;
    pending_signal = 0;
}

int set_error(int code, int syscode) {
    if (zvWNGV) {
        zvWNGV->uerr_cod = static_cast<uint16_t>(code);
        zvWNGV->sysiocod = static_cast<uint16_t>(syscode);
    }
    return code;
}

}  // namespace zv

extern "C" {

ZV_API int uerr(int code) { return zv::set_uerr(code); }

ZV_API void usys(int code) {
    if (zvWNGV) zvWNGV->sysiocod = static_cast<uint16_t>(code);
}

ZV_API int zv_interr(int code, int syscode, const char *msg) {
    zv::set_error(code, syscode);
    zvrcvlog(msg, zv::kLogSingleTry);
    return code;
}

}  // extern "C"

namespace {

// Writes one entry (code as it is written, retries of the open as for
// zvgetstream).
int16_t write_entry(const char *msg, int code, int retries) {
    FILE *fp = zv::open_status_log(retries);
    if (!fp) return 10;
    if (code == zv::kLogTouchOnly) {
        zv::plat_fclose(fp);
        return 0;
    }
    char entry[640];
    if (code == zv::kLogBareMessage) {
        snprintf(entry, sizeof entry, "%.450s", msg);
    } else {
        char when[32];
        time_text(when);
        int n = snprintf(entry, sizeof entry, "%s - User# %05d\t%.450s", when, 1, msg);
        if (code != 0 && n > 0 && static_cast<size_t>(n) < sizeof entry) {
            snprintf(entry + n, sizeof entry - n, ": %d", code);
        }
    }
    fputs(entry, fp);
    fputc('\n', fp);
    zv::plat_fclose(fp);
    return static_cast<int16_t>(code);
}

}  // namespace

extern "C" {

ZV_API int16_t zvrcvlog(const char *msg, int code) {
    int retries = 10;
    if (code <= zv::kLogSingleTry) {
        code = zv::kLogSingleTry - code;
        retries = -1;
    }
    if (!msg) msg = "";
    if (int sig = pending_signal) {
        pending_signal = 0;
        write_entry(kSignalMessage, sig, -1);
    }
    return write_entry(msg, code, retries);
}

ZV_API int16_t zvStatusLogWrite(const char *msg, int code) {
    return zvrcvlog(msg, zv::kLogSingleTry - code);
}

ZV_API int zvprtmb(int, const char *format, int64_t bytes, int, int a, int b) {
    if (!format) return 0;
    int64_t rounded = (bytes + 50000) / 100000 * 100000;
    int64_t mb = rounded / 1048576;
    int64_t tenths = 10 * (rounded % 1048576) / 1048576;
    char msg[512];
    snprintf(msg, sizeof msg, format, static_cast<int>(mb), static_cast<int>(tenths), a, b);
    zvrcvlog(msg, zv::kLogSingleTry);
    return 0;
}

ZV_API void terr(int number) {
    if (sigdevstt) sigdevstt = 0;
    char msg[128];
    snprintf(msg, sizeof msg, "Unexpected internal Zarvo(R) error #%d (uerr_cod=%d)", number,
             zvWNGV ? zvWNGV->uerr_cod : 0);
    zvrcvlog(msg, zv::kLogSingleTry);
    zvrt_exit(number);
}

ZV_API void zvFinal_exit(int mode, int code) {
    if (mode == 1) return;
    exit(code);
}

ZV_API void zvrt_exit(int code) {
    zvFinal_exit(0, code);
    exit(code);  // not reached: mode 0 always exits
}

ZV_API void zvcatend(void) { zvrt_exit(100); }

ZV_API int zvGetUserErrorCode(void) { return zvWNGV ? zvWNGV->uerr_cod : 0; }
ZV_API int zvGetIsamErrorCode(void) { return zvWNGV ? zvWNGV->isamerr_cod : 0; }
ZV_API int zvGetIsamFileNbr(void) { return zvWNGV ? zvWNGV->isamfil_num : 0; }
// The engine's own system codes are negative 16-bit values (-766): they
// reach the caller sign-extended; errno values are unchanged.
ZV_API int zvGetSystemErrorCode(void) { return zvWNGV ? int16_t(zvWNGV->sysiocod) : 0; }

ZV_API int zvMEMSTAT(void) { return zv::set_uerr(454); }
ZV_API int ZVCHKPNT(void) { return zv::set_uerr(454); }
ZV_API int SETLOGPATH(void) { return zvWNGV ? 454 : 47; }
ZV_API int STPSRV(void) { return 0; }
ZV_API int zvotAlign(void) { return 0; }
ZV_API void set_zvtflg_L(void) {}

}  // extern "C"

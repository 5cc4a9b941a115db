// The platform seam: system file calls of the engine.
//
// Each call first asks the fault plan whether it must fail (tests only) and
// counts itself; otherwise it calls the system.
#include "engine/core/platform.h"

#include <cerrno>
#include <sys/stat.h>

namespace zv {

namespace {

struct Fault {
    long countdown;  // 0: no fault planned
    int err;
    bool sticky;
    long short_by;
};

constexpr int kKinds = static_cast<int>(IoKind::Count);
long g_calls[kKinds];
Fault g_faults[kKinds];

// Counts a call and reports whether it must fail (errno set).
bool must_fail(IoKind kind) {
    int k = static_cast<int>(kind);
    g_calls[k]++;
    Fault &f = g_faults[k];
    if (f.countdown <= 0 || f.short_by > 0) return false;
    if (f.countdown == 1) {
        if (!f.sticky) f.countdown = 0;
        errno = f.err;
        return true;
    }
    f.countdown--;
    return false;
}

}  // namespace

long io_calls(IoKind kind) { return g_calls[static_cast<int>(kind)]; }

void fault_set(IoKind kind, long nth, int err, bool sticky, long short_by) {
    g_faults[static_cast<int>(kind)] = Fault{nth, err, sticky, short_by};
}

void fault_reset() {
    for (int k = 0; k < kKinds; k++) {
        g_calls[k] = 0;
        g_faults[k] = Fault{0, 0, false, 0};
    }
}

FILE *plat_fopen(const char *name, const char *mode) {
    if (must_fail(IoKind::Fopen)) return nullptr;
    return fopen(name, mode);
}

int plat_fclose(FILE *fp) { return fclose(fp); }

int plat_fchmod(FILE *fp, int mode) { return fchmod(fileno(fp), static_cast<mode_t>(mode)); }

}  // namespace zv

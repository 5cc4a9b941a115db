// Stand-in of superfiles and segmented files: not supported yet (454).
#include "engine/files/superfile_services.h"

#include <cstring>

#include "engine/core/instance.h"

extern "C" int zvsname1(const char *name) {
    if (!name || !zvWNGV) return 0;
    char sep = zvWNGV->membersep ? zvWNGV->membersep : '!';
    const char *p = strchr(name, sep);
    if (!p || p == name) return 0;
    return int(p - name) + 1;
}

namespace zv {

int superfile_member_create(int, const char *) { return set_uerr(454); }
int superfile_member_open(FCB *, const char *) { return set_uerr(454); }
int superfile_host_bind(FCB *) { return set_uerr(454); }
int zvcresi(FCB *) { return set_uerr(454); }

}  // namespace zv

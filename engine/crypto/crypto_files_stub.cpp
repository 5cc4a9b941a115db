// Stand-in of per-file encryption until the encryption subsystem lands: no
// file can be made encrypted (454), and a file that holds a security
// resource (type 0, number 6) cannot be opened (606).
#include "engine/crypto/crypto_files.h"

#include "engine/core/instance.h"
#include "engine/files/fcb.h"
#include "engine/files/resource.h"

namespace zv {

int zvsetcamo(FCB *, int, int) { return set_uerr(454); }
int zvgetcamo(FCB *fcb) {
    if (!fcb) return 606;
    uint32_t key[2] = {0, 6};
    uint32_t info[3];
    if (GETRES(fcb->filno, key, info, sizeof info, 2 | 0x40)) return 606;
    int rc = zvWNGV->uerr_cod;
    if (rc == 401 || rc == 408) {
        set_uerr(0);
        return 0;
    }
    return 606;
}
void zvclncamo(FCB *) {}

}  // namespace zv

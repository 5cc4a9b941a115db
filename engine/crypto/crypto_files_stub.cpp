// Stand-in of per-file encryption until the encryption subsystem lands: no
// file can be made encrypted (454), and a file that asks for its security
// resource cannot be opened (606).
#include "engine/crypto/crypto_files.h"

#include "engine/core/instance.h"

namespace zv {

int zvsetcamo(FCB *, int, int) { return set_uerr(454); }
int zvgetcamo(FCB *) { return 606; }
void zvclncamo(FCB *) {}

}  // namespace zv

// Stand-in of per-file encryption: no file can be encrypted yet.
#include "engine/crypto/crypto_services.h"

#include "engine/core/instance.h"

extern "C" {
int zvsetcamo(FCB *, int, int) { return zv::set_uerr(454); }
int zvgetcamo(FCB *) { return 606; }
void zvclncamo(FCB *) {}
}

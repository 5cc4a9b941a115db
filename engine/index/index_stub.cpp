// Stand-in of the index engine's services to open that later modules build:
// no index keeps extended segment definitions or an alternate collating
// sequence yet.
#include "engine/index/index_services.h"

#include "engine/core/instance.h"

extern "C" {
int getksegdef(FCB *) { return zv::set_uerr(408); }
int igetaltseq(int, void *, int) { return zv::set_uerr(408); }
}

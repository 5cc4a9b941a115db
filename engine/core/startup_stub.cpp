// TEMPORARY stand-in of start-up for developing the cache.
#include <cstring>
#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/core/pagecache.h"
#include "engine/files/fcb.h"
#include "engine/core/filemutex.h"
extern "C" {
ZV_API uint16_t INTREEX(int bufs, int fils, int sect, int dbufs, int) {
  if (!zvWNGV) REGZARVO("zvREG_DEF_ID");
  INSTGV *g = zvWNGV;
  g->nodesize = sect * 128; g->dbufs = dbufs; g->bufs = bufs; g->filecount = int16_t(fils);
  g->filepermmode = 0660;
  zvsetlst(g->nodesize + 1032, g->nodesize, bufs, dbufs);
  g->fcbtab = (FCB **)mballc(size_t(fils + 1), sizeof(FCB *));
  g->fillbuf = (unsigned char *)mballc(1, 2048); memset(g->fillbuf, 0xFF, 2048); g->fillsize = 2048;
  PAGEBUF **tail = &g->pc.all;
  for (int i = 0; i < dbufs; i++) { PAGEBUF *b = (PAGEBUF *)zvgetlst(20); b->data = (unsigned char *)zvgetlst(23); *tail = b; tail = &b->next; }
  zv::pagecache_init();
  g->started = 1;
  return 0;
}
ZV_API uint16_t CLISAM(void) {
  INSTGV *g = zvWNGV;
  zv::filmtx_release_all();
  zv::pagecache_free();
  mbfree(g->fcbtab); g->fcbtab = nullptr; mbfree(g->fillbuf); g->fillbuf = nullptr;
  zv::release_all_lists(g);
  g->started = 0;
  if (strcmp(g->id, "zvREG_DEF_ID") == 0) UNRZARVO("zvREG_DEF_ID");
  return 0;
}
}

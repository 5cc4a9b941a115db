// TEMPORARY stand-in of start-up for developing the cache.
#include <cstring>
#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/core/pagecache.h"
#include "engine/core/fileio.h"
#include "engine/files/fcb.h"
#include "engine/core/filemutex.h"

extern "C" {
ZV_API uint16_t INTREEX(int bufs, int fils, int sect, int dbufs, int) {
  if (!zvWNGV) REGZARVO("zvREG_DEF_ID");
  INSTGV *g = zvWNGV;
  g->nodesize = sect * 128; g->dbufs = dbufs; g->bufs = bufs; g->filecount = int16_t(fils); g->sectors = int16_t(sect);
  g->filepermmode = 0660; g->hdrversion[0] = 0x81; g->hdrversion[1] = 0x91; g->hdrversion[2] = 0xA1; g->membersep = '!';
  zvsetlst(g->nodesize + 1032, g->nodesize, bufs, dbufs);
  g->fcbtab = (FCB **)mballc(size_t(fils + 1), sizeof(FCB *));
  g->slot0 = (FCB *)zvgetlst(21); g->slot0->state = 'n'; g->fcbtab[0] = g->slot0;
  g->fillbuf = (unsigned char *)mballc(1, 2048); memset(g->fillbuf, 0xFF, 2048); g->fillsize = 2048;
  PAGEBUF **tail = &g->pc.all;
  for (int i = 0; i < dbufs; i++) { PAGEBUF *b = (PAGEBUF *)zvgetlst(20); b->data = (unsigned char *)zvgetlst(23); *tail = b; tail = &b->next; }
  zv::pagecache_init();
  g->started = 1;
  return 0;
}
int zvfree(void) {
  INSTGV *g = zvWNGV;
  zv::pagecache_free();
  mbfree(g->fcbtab); g->fcbtab = nullptr; mbfree(g->fillbuf); g->fillbuf = nullptr; g->slot0 = nullptr;
  g->pc.all = nullptr;
  zv::release_all_lists(g);
  g->started = 0; g->filecount = 0;
  return 0;
}
int redofils(int n) {
  INSTGV *g = zvWNGV;
  long size = long(n) + 128; if (size > 32768) size = 32768; if (n >= size) return 0;
  FCB **t = (FCB **)mballc(size_t(size), sizeof(FCB *)); if (!t) return 0;
  memcpy(t, g->fcbtab, size_t(g->filecount + 1) * sizeof(FCB *)); mbfree(g->fcbtab); g->fcbtab = t; g->filecount = int16_t(size - 1);
  return 1;
}
ZV_API uint16_t CLISAM(void) { return uint16_t(STPUSR()); }
}

// Current key images, current positions and position estimates of an index
// (see curkey.cpp).
#pragma once

#include <cstdint>

#include "engine/index/index_services.h"

struct FCB;

namespace zv {

// Current ISAM record position of a data file (low word; high word through
// zvSETHGHi); 0 with high word 0 when the file is not open.
uint32_t iGETCURP(int datno);
// The current key image of index keyno: copied into buf (or, with a null
// buf, the image itself) with *len the key length. A stale image is formed
// again first. Null with 893 (error state), 892 (still stale), 894 (no key)
// or 48 (not an index); *len is 0 then.
unsigned char *iGETCURK(int keyno, void *buf, int32_t *len);
// Forms the key of record into the current (which 0) or alternate image of
// index keyno and sets that image's state: 1 formed, 0 no key, 2 failed.
// The image, or null when its state is not 1.
unsigned char *zvputk81(int keyno, const void *record, uint32_t posh, uint32_t posl, int which, int32_t reclen);
// zvputk81 for a caller that holds the blocks already: f the open index
// keyno (an index with key buffers), d its open data file or null.
unsigned char *put_key_image(int keyno, FCB *f, FCB *d, const void *record, uint32_t posh, uint32_t posl, int which,
                             int32_t reclen);
// Stores a ready key into the current (which 0) or alternate image: state
// 1 copies it; state 0 becomes 2 while isamerr_cod is set; other states are
// stored as given. The image when the state is 1, else null.
unsigned char *zvputask(int keyno, FCB *fcb, const void *key, int which, int state);
// The key at a per mille position of the index into buf: its record
// position (low word; high through zvSETHGHi), 0 when none or on failure
// (60 above 1000).
uint32_t iFRCKEY(int keyno, void *buf, int32_t permille);
// Per mille position of a key in the index, by bisection over iFRCKEY.
int32_t binsrc(int keyno, const void *key);
// Next (mode 1) or previous key after restoring the work key from the
// current key image (not with mode bit 32): as NXTKEY or PRVKEY, 893 and 894
// for an unusable image.
uint32_t seqikey(int filno, void *keyout, int mode);
// zvkbufrefresh, which forms stale images again, is declared with the
// index services that the file layer calls (index_services.h).

}  // namespace zv

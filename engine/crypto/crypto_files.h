// The instance's pending cipher as the file services and maintenance
// utilities use it (pendcipher.cpp): the cipher that the following creates
// of data and index files take, saved and put back around a create that
// must copy the cipher of an open file.
//
// The per-file encryption (the security resource, its set-up at create,
// open and close) belongs to the file layer: engine/files/fileenc.h.
#pragma once

#include "engine/crypto/camostate.h"

namespace zv {

// Saves the instance's pending cipher into `save` and makes the next
// creates copy the cipher of open file filno ("98"). 0, or the error (the
// pending cipher is then put back).
int setencatr(CamoSave *save, int filno);
// Puts a saved pending cipher back (null is ignored). 0.
int rstencatr(CamoSave *save);

}  // namespace zv

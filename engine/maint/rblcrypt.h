// The encryption steps of the rebuilds, behind one header (rblcrypt.cpp):
// reading an encrypted file's key when the scan opens it raw, and carrying
// an encryption class from an old index, or from the data file, onto the
// index files a set rebuild creates again.
#pragma once

#include "engine/crypto/camostate.h"

struct FCB;

namespace zv {

// Reads the encryption attributes and key of a file opened raw: 0, or an
// error (the scan reports 607).
int rbl_enc_read(FCB *fcb);
// Saves the instance's pending encryption settings into save and makes the
// next creates take the encryption of open file filno (an old index, or the
// data file): 0 or an error code.
int rbl_enc_from_index(CamoSave *save, int idxno);
int rbl_enc_from_data(CamoSave *save, int datno);
// Puts saved settings back (null is ignored).
void rbl_enc_restore(CamoSave *save);

}  // namespace zv

// The encryption steps of the rebuilds: the scan reads an encrypted data
// file's key from its security record on disk (the ring may be damaged),
// and an index file created again takes the encryption of the file it
// replaces, or the data file's when the old one is gone.
#include "engine/maint/rblcrypt.h"

#include "engine/crypto/crypto_files.h"
#include "engine/files/fileenc.h"

namespace zv {

int rbl_enc_read(FCB *fcb) { return zvxtrcamo(fcb); }
int rbl_enc_from_index(CamoSave *save, int idxno) { return setencatr(save, idxno); }
int rbl_enc_from_data(CamoSave *save, int datno) { return setencatr(save, datno); }
void rbl_enc_restore(CamoSave *save) {
    if (save) rstencatr(save);
}

}  // namespace zv

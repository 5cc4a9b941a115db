// The encryption steps of the rebuilds, least form: until files can be
// encrypted at rest no file the rebuild meets carries a key, so there is
// nothing to read and no class to carry over.
#include "engine/maint/rblcrypt.h"

namespace zv {

int rbl_enc_read(FCB *) { return 0; }
int rbl_enc_from_index(CamoSave *, int) { return 0; }
int rbl_enc_from_data(CamoSave *, int) { return 0; }
void rbl_enc_restore(CamoSave *) {}

}  // namespace zv

// Index resource carry-over (see rescarry.cpp): the resources of an index
// file saved before the file is deleted and created again, and added to
// the new file afterwards.
#pragma once

#include <cstdint>

namespace zv {

struct CamoSave;

// The save-file number when nothing was saved.
constexpr int kNoSaveFile = 65535;

// Saves every resource of the old index file iname (opened on idxno) into
// a temporary variable-length file, one record per resource as the
// resource read returns it. *savefil receives its number (kNoSaveFile when
// nothing was saved) and name (255 bytes); *flags the old header's bits
// 0x600. A member count other than nmem (when not negative) gives 608.
// With an encryption save block, the pending encryption settings are
// saved into it and the next create copies the old index's encryption, or
// the data file's when the old index does not open; *encset tells that
// they must be put back (also after an error). An old index that is gone,
// or whose bytes do not open as an index (also a file that ends inside its
// header), saves nothing; a read or write failure while it opens is
// returned. 0 or an error; on an error nothing is left open or on disk.
int getidxres(int datno, int idxno, const char *iname, const char *password, char *savename, int *savefil, int nmem,
              uint16_t *flags, CamoSave *encsave, int *encset);
// Adds the saved resources to the new index: 0, 82 no memory, or the
// resource call's error. Resources of type 0 with number 6, 7 or 8 are
// the new file's own and are left out; a type 0 number 2 resource the new
// file has already is rewritten.
int putidxres(int newidx, int savefil);
// Closes and deletes a save file: 0, or the close's error.
int rbl_drop_save(int savefil, char *savename);

}  // namespace zv

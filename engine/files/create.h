// File creation: data files, index files with their members, memory files.
#pragma once

#include <cstdint>

#include "zarvo/zarvo.h"

// Makes the missing directories of a path (the last component is the file
// and is not made), top down with permission 0775; the path gets the
// instance's name conversion unless mode has 0x800. 0, 749 (path over 255
// bytes or deeper than 63 levels), 126 (a directory cannot be made).
int zvCreateDirs(const char *name, int mode);

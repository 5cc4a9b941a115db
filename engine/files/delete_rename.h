// Delete and rename of open files (see delete_rename.cpp). DELFIL and
// zvRENFIL are declared in zarvo.h.
#pragma once

// Keeps a file from the clean-up of a failed create: the block's keep flag
// is set and header flag 0x0800 cleared. 0 or the file-number error.
int suppressDEL(int filno);
// The directory part of source followed by a unique temporary name with the
// extension ".QVZ", into buffer (length bytes): 0 or the temporary-name
// error.
int zvrenpath(const char *source, char *buffer, int length);

// Close of files.
#pragma once

// The close worker without the checks of CLSFIL. The block is free
// afterwards in every case; the first error is returned.
int iclsfilx(int filno, int mode);
int iclsfil(int filno, int mode);

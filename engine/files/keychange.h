// Master-key change (keychange.cpp): a file-layer module that re-seals the
// key blocks of encrypted files under the encryption subsystem's master
// key. The entries are declared in zarvo.h.
#pragma once

namespace zv {

// ---- Test support (not exported) -----------------------------------------
// Clears the process-wide count of failed old-password checks.
void keychange_reset();

}  // namespace zv

// Master-key change (keychange.cpp); the entries are declared in zarvo.h.
#pragma once

namespace zv {

// ---- Test support (not exported) -----------------------------------------
// Clears the process-wide count of failed old-password checks.
void keychange_reset();

}  // namespace zv

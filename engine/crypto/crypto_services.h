// What engine start-up asks of the encryption subsystem.
//
// The engine core calls these few routines of the encryption subsystem at
// start-up and instance removal; this header is the one place where that
// upward call is made. Each start-up step can be switched by a test to
// answer a chosen code instead of doing its work.
#pragma once

#include "engine/core/instance.h"

namespace zv {

// Master-password step, run when the user profile has bit 0x800: clears the
// pending cipher and succeeds (0); the prompt then comes at the first open
// of an encrypted file. A nonzero code is also left in uerr_cod.
int zvprfcamo();
// Installs the page hook and the per-instance initialiser process-wide
// when they are not installed yet. Its result is not a start-up failure.
int zvfnccamo();
// Prepares the built-in masking key buffer and returns its length (this
// engine has none: 0); a length above 128 bytes is the fatal internal
// error 7530.
int zvchkcamo();
// The encryption initialiser, run once by start-up after the fill buffer
// exists: the unit and page-size check of the instance. Its result is
// ignored.
int camo_init();
// Replays a pending master-key-change recovery log: 0, or an error code
// with a NUL-terminated message in msg (size bytes).
int zvcmprecovRecover(char *msg, int size);
// Advanced-encryption start (the master-password prompt when it is asked
// for): 0 or an error code.
int zvcamosdkinit();
// The process-wide page cipher hook that start-up copies into the instance;
// null before zvfnccamo has run.
ZvPageCipherHook process_cipher_hook();
// Releases what an instance holds of the encryption subsystem (its pending
// cipher); instance removal.
void camo_release(INSTGV *g);

// ---- Test support (not exported) -----------------------------------------
enum class CamoStep : int { Prf, Fnc, Chk, Init, Recover, SdkInit, Count };
// Makes every later call of a step answer `code` instead of doing its work
// (0 switches the step back to its work); for Recover, msg is the message
// it leaves; for Chk, code is the key length it returns.
void camo_fail(CamoStep step, int code, const char *msg = nullptr);
// Calls of a step since the last camo_reset.
long camo_calls(CamoStep step);
// Clears every switch, every counter and the process-wide hook (the next
// start-up installs the page hook again).
void camo_reset();
// Sets the process-wide page cipher hook.
void set_process_cipher_hook(ZvPageCipherHook hook);

}  // namespace zv

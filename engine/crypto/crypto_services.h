// What engine start-up asks of the encryption subsystem.
//
// The engine core calls these few routines of the encryption subsystem at
// start-up; this header is the one place where that upward call is made.
// The routines here are the least form: each succeeds without effect and no
// page cipher hook is installed. The full subsystem replaces them behind the
// same names.
#pragma once

#include "engine/core/instance.h"

namespace zv {

// Master-password step, run when the user profile has bit 0x800: 0, or a
// nonzero code that is also left in uerr_cod.
int zvprfcamo();
// Installs the masking-encryption hooks when they are not installed yet.
// Its result is not a start-up failure.
int zvfnccamo();
// Prepares the built-in masking key buffer and returns its length; a length
// above 128 bytes is the fatal internal error 7530.
int zvchkcamo();
// The encryption initialiser, run once by start-up after the fill buffer
// exists; its result is ignored.
int camo_init();
// Replays a pending master-key-change recovery log: 0, or an error code with
// a NUL-terminated message in msg (size bytes).
int zvcmprecovRecover(char *msg, int size);
// Advanced-encryption start: 0 or an error code.
int zvcamosdkinit();
// The process-wide page cipher hook that start-up copies into the instance;
// null when encryption is not set up.
ZvPageCipherHook process_cipher_hook();

// ---- Test support (not exported) -----------------------------------------
enum class CamoStep : int { Prf, Fnc, Chk, Init, Recover, SdkInit, Count };
// Makes every later call of a step answer `code` (0 switches it back to
// success); for Recover, msg is the message it leaves; for Chk, code is the
// key length it returns.
void camo_fail(CamoStep step, int code, const char *msg = nullptr);
// Calls of a step since the last camo_reset.
long camo_calls(CamoStep step);
// Clears every switch, every counter and the process-wide hook.
void camo_reset();
// Sets the process-wide page cipher hook.
void set_process_cipher_hook(ZvPageCipherHook hook);

}  // namespace zv

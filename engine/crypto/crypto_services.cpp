// Encryption services of start-up, least form.
//
// No masking key, no recovery log and no advanced encryption exist in this
// form: every routine succeeds without effect unless a test has switched it
// to fail with a chosen code. The process-wide page cipher hook stays null
// unless a test sets one.
#include "engine/crypto/crypto_services.h"

#include <cstring>

namespace zv {

namespace {

constexpr int kSteps = static_cast<int>(CamoStep::Count);

// Test switches: the code each step answers (0: success) and its calls.
int g_fail_code[kSteps];
long g_calls[kSteps];
char g_recover_msg[200];

// The process-wide page cipher hook.
ZvPageCipherHook g_hook = nullptr;

// Counts a call of a step and returns the code it must answer.
int answer(CamoStep step) {
    int k = static_cast<int>(step);
    g_calls[k]++;
    return g_fail_code[k];
}

}  // namespace

int zvprfcamo() {
    int rc = answer(CamoStep::Prf);
    if (rc) set_uerr(rc);
    return rc;
}

int zvfnccamo() { return answer(CamoStep::Fnc); }

int zvchkcamo() {
    int len = answer(CamoStep::Chk);
    if (len > 128) terr(7530);
    return len;
}

int camo_init() { return answer(CamoStep::Init); }

int zvcmprecovRecover(char *msg, int size) {
    int rc = answer(CamoStep::Recover);
    if (rc && msg && size > 0) {
        strncpy(msg, g_recover_msg, static_cast<size_t>(size) - 1);
        msg[size - 1] = '\0';
    }
    return rc;
}

int zvcamosdkinit() { return answer(CamoStep::SdkInit); }

ZvPageCipherHook process_cipher_hook() { return g_hook; }

void camo_fail(CamoStep step, int code, const char *msg) {
    g_fail_code[static_cast<int>(step)] = code;
    if (step == CamoStep::Recover) {
        strncpy(g_recover_msg, msg ? msg : "", sizeof g_recover_msg - 1);
        g_recover_msg[sizeof g_recover_msg - 1] = '\0';
    }
}

long camo_calls(CamoStep step) { return g_calls[static_cast<int>(step)]; }

void camo_reset() {
    for (int k = 0; k < kSteps; k++) {
        g_fail_code[k] = 0;
        g_calls[k] = 0;
    }
    g_recover_msg[0] = '\0';
    g_hook = nullptr;
}

void set_process_cipher_hook(ZvPageCipherHook hook) { g_hook = hook; }

}  // namespace zv

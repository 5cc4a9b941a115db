// Encryption services of start-up: the steps that engine start-up runs,
// each behind a test switch that can make it answer a chosen code instead.
#include "engine/crypto/crypto_services.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "engine/crypto/masterkey.h"
#include "engine/crypto/pagehook.h"
#include "engine/crypto/recovlog.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

constexpr int kSteps = static_cast<int>(CamoStep::Count);

// Test switches: the code each step answers instead of its work (0: the
// work) and its calls.
int g_fail_code[kSteps];
long g_calls[kSteps];
char g_recover_msg[200];

// Counts a call of a step and returns the code it must answer.
int answer(CamoStep step) {
    int k = static_cast<int>(step);
    g_calls[k]++;
    return g_fail_code[k];
}

}  // namespace

int zvprfcamo() {
    if (int rc = answer(CamoStep::Prf)) return set_uerr(rc);
    // A profile that asks for the master key clears the pending cipher; the
    // key itself is asked for at the first open of an encrypted file.
    char clock[16];
    snprintf(clock, sizeof clock, "%013ld", static_cast<long>(time(nullptr)));
    zvSETENCRYPT(nullptr, clock, 13);
    set_uerr(0);
    return 0;
}

int zvfnccamo() {
    if (int rc = answer(CamoStep::Fnc)) return rc;
    return zvfnccamo_install();
}

int zvchkcamo() {
    int len = answer(CamoStep::Chk);
    // zvcamosys supplies no built-in key: nothing to prepare.
    if (len > 128) terr(7530);
    return len;
}

int camo_init() {
    if (int rc = answer(CamoStep::Init)) return rc;
    return zvcamoi();
}

int zvcmprecovRecover(char *msg, int size) {
    int rc = answer(CamoStep::Recover);
    if (rc) {
        if (msg && size > 0) {
            strncpy(msg, g_recover_msg, static_cast<size_t>(size) - 1);
            msg[size - 1] = '\0';
        }
        return rc;
    }
    return zvcmprecovReplay(msg, size);
}

int zvcamosdkinit() {
    if (int rc = answer(CamoStep::SdkInit)) return rc;
    return camo_sdk_start();
}

ZvPageCipherHook process_cipher_hook() { return camo_process_hook(); }

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
    camo_set_process_hook(nullptr);
}

void set_process_cipher_hook(ZvPageCipherHook hook) { camo_set_process_hook(hook); }

}  // namespace zv

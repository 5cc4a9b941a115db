// The instance's pending cipher (camo_state of the instance): the cipher class and key
// length that the following creates of data and index files take, set by
// zvSETENCRYPT, saved and put back around a create that copies the cipher
// of an open file (setencatr, rstencatr), and released with the instance.
//
// The pending key buffer is platform memory of the cipher's key length; it
// is wiped before it is freed, and it is present exactly when pendkeylen is
// above 0. A create fills it with a fresh random key and seals that key
// into the new file's security resource (engine/files/fileenc.cpp).
//
// Copying the cipher of an open file (code 98) reads that file's control
// block: the one thing here that comes from the file layer.
#include <cstdio>
#include <cstdlib>

#include "engine/core/instance.h"
#include "engine/crypto/camostate.h"
#include "engine/crypto/crypto_files.h"
#include "engine/crypto/crypto_services.h"
#include "engine/crypto/masterkey.h"
#include "engine/crypto/wipe.h"
#include "engine/core/fcb.h"
#include "zarvo/qvs.h"
#include "zarvo/zarvo.h"

namespace zv {

namespace {

void free_pending(CamoState &c) {
    if (c.pendkey) {
        secure_zero(c.pendkey, size_t(c.pendkeylen > 0 ? c.pendkeylen : 0));
        mbfree(c.pendkey);
    }
    c.pendkey = nullptr;
    c.pendkeylen = 0;
}

// A pending cipher of a class and key length: 0 or 82.
int set_pending(CamoState &c, int32_t cls, int32_t keylen) {
    c.pendkey = static_cast<unsigned char *>(mballc(1, size_t(keylen)));
    if (!c.pendkey) return 82;
    c.pendkeylen = keylen;
    c.pendclass = cls;
    return 0;
}

// Class and key length of codes 1 to 62; false for a code without one.
bool code_cipher(int code, int32_t *cls, int32_t *keylen) {
    static const int32_t kLen3[3] = {16, 24, 32};
    if (code >= 1 && code <= 3) {
        *cls = QVS_DES;
        *keylen = 8 * code;
    } else if (code >= 4 && code <= 6) {
        *cls = QVS_TWOFISH;
        *keylen = kLen3[code - 4];
    } else if (code >= 7 && code <= 9) {
        *cls = QVS_RIJ;
        *keylen = kLen3[code - 7];
    } else if (code >= 10 && code <= 58) {
        *cls = QVS_BLOWFISH;
        *keylen = code - 2;
    } else if (code >= 60 && code <= 62) {
        *cls = QVS_AES_ALT;
        *keylen = kLen3[code - 60];
    } else {
        return false;
    }
    return true;
}

}  // namespace

int setencatr(CamoSave *save, int filno) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!save) return set_uerr(540);
    save->key = camo_state(g).pendkey;
    save->keylen = camo_state(g).pendkeylen;
    save->cls = camo_state(g).pendclass;
    camo_state(g).pendkey = nullptr;
    camo_state(g).pendkeylen = 0;
    char num[16];
    snprintf(num, sizeof num, "%d", filno);
    int rc = zvSETENCRYPT("98", num, 1);
    if (rc) {
        rstencatr(save);
        return set_uerr(rc);
    }
    return 0;
}

int rstencatr(CamoSave *save) {
    INSTGV *g = zvWNGV;
    if (!save || !g) return 0;
    free_pending(camo_state(g));
    camo_state(g).pendkey = save->key;
    camo_state(g).pendkeylen = save->keylen;
    camo_state(g).pendclass = save->cls;
    save->key = nullptr;
    save->keylen = 0;
    return 0;
}

void camo_release(INSTGV *g) {
    if (g) free_pending(camo_state(g));
}

}  // namespace zv

using zv::set_uerr;

extern "C" {

ZV_API int zvSETENCRYPT(const char *code, const char *key, int32_t keylen) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    zv::CamoState &c = camo_state(g);
    zv::free_pending(c);
    if (keylen <= 0) {
        c.pendclass = 0;
        return set_uerr(0);
    }
    int n = code ? atoi(code) : 0;
    if (n == 0) {
        c.pendclass = 0;
        return set_uerr(454);
    }
    if (n == 98) {
        if (keylen != 1) return set_uerr(116);
        if (!key) return set_uerr(540);
        FCB *f = tstifnm(atoi(key));
        if (!f) return g->uerr_cod;
        if (f->cipherclass == 0) {
            c.pendclass = 0;
            return set_uerr(0);
        }
        if (f->cipherclass == 1 || !zv::camo_support()) {
            c.pendclass = 0;
            return set_uerr(454);
        }
        return set_uerr(zv::set_pending(c, f->cipherclass, f->cipherkeylen));
    }
    if (!zv::camo_support()) {
        c.pendclass = 0;
        return set_uerr(454);
    }
    int32_t cls = 0, len = 0;
    if (!zv::code_cipher(n, &cls, &len)) return set_uerr(446);
    return set_uerr(zv::set_pending(c, cls, len));
}

ZV_API int SESSVAL(void) { return set_uerr(454); }
ZV_API int SESSINC(void) { return set_uerr(454); }

}  // extern "C"

/* A C11 program built against qvs.h alone and linked to the shared
 * library. It defines its own Encode and _pack32, which the library also
 * exports: the library's digests and ciphers must keep using their own. */
#include <stdio.h>
#include <string.h>

#include "check.h"
#include "zarvo/qvs.h"

/* The application's own routines of the same names: deliberately unlike
 * the library's. */
static int own_calls = 0;
void Encode(unsigned char *out, const uint32_t *in, uint32_t len) {
    (void)in;
    own_calls++;
    memset(out, 0xEE, len);
}
void _pack32(const unsigned char *bytes, uint32_t *words, int32_t count) {
    (void)bytes;
    own_calls++;
    memset(words, 0, sizeof *words * (size_t)count);
}

static void hex(const unsigned char *p, size_t n, char *out) {
    size_t i;
    for (i = 0; i < n; i++) sprintf(out + 2 * i, "%02x", p[i]);
}

static int md5_is(const char *text, const char *want) {
    QVSMD5CTX ctx;
    unsigned char d[16];
    char h[33];
    MD5Init(&ctx);
    MD5Update(&ctx, text, (uint32_t)strlen(text));
    MD5Final(d, &ctx);
    hex(d, 16, h);
    return strcmp(h, want) == 0;
}

int main(void) {
    static const unsigned char deskey[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
    static const unsigned char aeskey[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    static const unsigned char aesplain[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                               0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
    unsigned char buf[16];
    unsigned char sample[2500];
    unsigned char d[32];
    char h[65];
    QVSCTX ctx;
    QVSSHA2CTX sha;
    uint32_t w[2];

    /* Sizes fixed for callers that allocate the contexts. */
    CHECK(sizeof(QVSMD5CTX) == 88 && sizeof(QVSSHA1CTX) == 92 && sizeof(QVSSHA2CTX) == 216);
    CHECK(sizeof(QVSRNG) == 3092);
    CHECK(sizeof(void *) != 8 || sizeof(QVSCTX) == 4424);

    CHECK(md5_is("", "d41d8cd98f00b204e9800998ecf8427e"));
    CHECK(md5_is("abc", "900150983cd24fb0d6963f7d28e17f72"));
    CHECK(md5_is("message digest", "f96b697d7cb7938d525a2f31aaf161d0"));
    CHECK(SHA2Init(&sha, 32) == 0);
    SHA2Update(&sha, "abc", 3);
    SHA2Final(d, &sha);
    hex(d, 32, h);
    CHECK(strcmp(h, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad") == 0);
    CHECK(crc32buffer("123456789", 9, 0) == 0xCBF43926u);

    /* DES packs its blocks into words inside the library. */
    memcpy(buf, "Now is t", 8);
    CHECK(QVSInit(&ctx, QVS_DES, QVS_ECB, deskey, 8, NULL, 0) == QVS_OK);
    CHECK(QVSEncrypt(&ctx, buf, 8) == QVS_OK);
    hex(buf, 8, h);
    CHECK(strcmp(h, "3fa40e8a984d4815") == 0);
    CHECK(QVSFinal(&ctx) == QVS_OK);

    memcpy(buf, aesplain, 16);
    CHECK(QVSInit(&ctx, QVS_AES, QVS_CBC, aeskey, 16, NULL, 0) == QVS_OK);
    CHECK(QVSEncrypt(&ctx, buf, 16) == QVS_OK);
    hex(buf, 16, h);
    CHECK(strcmp(h, "69c4e0d86a7b0430d8cdb78070b4c55a") == 0);
    CHECK(QVSEncrypt(&ctx, buf, 17) == QVS_ELENGTH);
    CHECK(QVSFinal(&ctx) == QVS_OK && ctx.alg == 0 && ctx.encrypt == NULL);

    CHECK(GenerateRndKey(sample, (int32_t)sizeof sample) == 1);
    CHECK(FIPS_140_1(sample) == 1);

    /* Calls from this program reach this program's own routines. */
    CHECK(own_calls == 0);
    _pack32(buf, w, 2);
    CHECK(own_calls == 1 && w[0] == 0 && w[1] == 0);
    puts("qvs: all checks passed");
    return 0;
}

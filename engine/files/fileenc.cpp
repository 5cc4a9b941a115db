// File encryption at rest: the security resource of an encrypted file, and
// its set-up at create, open and close.
//
// The cipher a create takes is the instance's pending cipher, which
// zvSETENCRYPT records (engine/crypto/pendcipher.cpp). When one is pending,
// every create of a data or index file draws a random key of its own and
// keeps it, sealed under the master key, in the file's security resource
// (type 0, number 6, no name). From the encryption start offset on every
// byte of the file is stored enciphered by the page hook
// (engine/crypto/pagehook.cpp); the bytes below it (header, the resources
// that existed at create, the security resource among them) stay plain. The
// header's security-resource position word points to the resource.
//
// The module belongs to the file layer: it reads and writes the file's
// header and resources, and uses the encryption subsystem below it for the
// master key, the ciphers, the digests and the page hook.
//
// The resource body (FILESECRES), as handed to ADDRES/UPDRES in host order;
// on disk it stands at the resource position + 22 (+ 30 with 8-byte
// offsets) with its words little-endian:
//
//   OFFSET SIZE DESCRIPTION
//      0     4  resource type 0
//      4     4  resource number 6
//      8     8  name field, zero (no name)
//     16     4  encryption start offset (a non-zero multiple of 2048)
//     20     4  key length
//     24     4  cipher class (0 security value only, 2..8 a cipher)
//     28     4  the file's last physical byte at create (informational)
//     32     4  encryption unit, 2048
//     36     4  flags: bit 0 the master key was 32 bytes long at create
//     40   112  key block sealed under the master key (class 2 and up), or
//               the 4-byte security value (class 0)
//    ...     U  zero padding, U = max(8192, page size): it keeps everything
//               the file held at create at least U bytes below its new end
//
// Key block before sealing (RIJ, CBC, no IV, under the master key: all 32
// bytes with flag bit 0, else its first 16):
//
//      0    16  random salt
//     16    16  random filler
//     32    16  MD5 of salt, the key-length and class words (host order),
//               filler and key area
//     48    64  key area: the file key, the rest random filler
//
// Every stored field is checked before it sizes a copy; a record that
// fails the checks is a damaged resource (408).
#include "engine/files/fileenc.h"

#include <cstring>

#include "engine/core/arith.h"
#include "engine/core/bytes.h"
#include "engine/core/centralio.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/crypto/camostate.h"
#include "engine/crypto/hashes.h"
#include "engine/crypto/masterkey.h"
#include "engine/crypto/pagehook.h"
#include "engine/crypto/qvsctx.h"
#include "engine/crypto/rng.h"
#include "engine/crypto/wipe.h"
#include "engine/core/fcb.h"
#include "engine/files/header.h"
#include "engine/files/resource.h"

namespace zv {

namespace {

constexpr int32_t kHead = 40;        // fixed part of the record
constexpr int32_t kKeyBlock = 112;   // sealed key block
constexpr int32_t kKeyArea = 64;     // key area of the key block
constexpr int32_t kValueLen = 4;     // a security value
constexpr uint32_t kResNumber = 6;
constexpr uint32_t kMinPad = 8192;
static_assert(kHead + kKeyBlock == int32_t(kSecImage));

// The fields of the record from offset 16.
struct SecRec {
    uint32_t start;
    int32_t keylen;
    int32_t cls;
    uint32_t phyend;
    uint32_t unit;
    uint32_t flags;
};

void put_words(unsigned char *img, const SecRec &r) {
    const uint32_t w[6] = {r.start, uint32_t(r.keylen), uint32_t(r.cls), r.phyend, r.unit, r.flags};
    for (int i = 0; i < 6; i++) host::put32(img + 16 + 4 * i, w[i]);
}

// The six words from the record's stored (little-endian) bytes.
SecRec stored_words(const unsigned char *body) {
    return SecRec{le::get32(body + 16), int32_t(le::get32(body + 20)), int32_t(le::get32(body + 24)),
                  le::get32(body + 28), le::get32(body + 32),          le::get32(body + 36)};
}

int32_t data_len(const SecRec &r) { return r.cls >= 2 ? kKeyBlock : r.keylen; }

// 0 when the record can be used; 606 for the masking class; else 408.
int check_record(const SecRec &r, uint64_t usedlen) {
    if (r.cls == 1) return 606;
    if (r.cls != 0 && (r.cls < 2 || r.cls > 8)) return 408;
    if (r.cls == 0 ? r.keylen != kValueLen : (r.keylen > kKeyArea || !qvs_key_length_ok(r.cls, r.keylen)))
        return 408;
    if (r.unit != kCamoUnit || r.start == 0 || r.start % kCamoUnit) return 408;
    if (usedlen < uint64_t(kHead) + uint64_t(data_len(r))) return 408;
    return 0;
}

uint64_t secres_pos(const FCB *f) { return join64(f->hdr.ext.secresh, f->hdr.base.secres); }
void set_secres_pos(FCB *f, uint64_t pos) {
    f->hdr.base.secres = uint32_t(pos);
    f->hdr.ext.secresh = uint32_t(pos >> 32);
}

uint32_t resource_header_size(const FCB *f) {
    if (f->rhdrsize2) return f->rhdrsize2;
    return (f->hdr.base.hdrflags & kHdr8ByteOffsets) ? 30 : 22;
}

// Reads n bytes at pos of the file: 0 or the error (a short read is 36).
int read_bytes(FCB *f, uint64_t pos, void *buf, int32_t n) {
    int32_t got = 0;
    int rc = izvio81x(0, f, uint32_t(pos >> 32), uint32_t(pos), buf, n, &got, 0);
    if (!rc && got < n) rc = 36;
    return rc;
}

// MD5 over salt, the two words, filler and key area.
void check_value(const unsigned char *blk, int32_t keylen, int32_t cls, unsigned char out[16]) {
    unsigned char words[8];
    host::put32(words, uint32_t(keylen));
    host::put32(words + 4, uint32_t(cls));
    QVSMD5CTX c;
    md5_init(&c);
    md5_update(&c, blk, 16);
    md5_update(&c, words, 8);
    md5_update(&c, blk + 16, 16);
    md5_update(&c, blk + 48, kKeyArea);
    md5_final(out, &c);
}

// Runs the master cipher over a key block: 0, or the internal error of a
// set-up or cipher failure.
int master_cipher(unsigned char *blk, const unsigned char *mkey, int32_t mlen, bool sealing, int setup_err,
                  int cipher_err) {
    QVSCTX ctx;
    int rc = qvs_init(&ctx, zvcmomascip, QVS_CBC, mkey, mlen, nullptr, 0);
    if (rc) {
        qvs_final(&ctx);
        return setup_err;
    }
    rc = sealing ? qvs_encrypt(&ctx, blk, kKeyBlock) : qvs_decrypt(&ctx, blk, kKeyBlock);
    qvs_final(&ctx);
    return rc ? cipher_err : 0;
}

// Seals a file key into a key block (random salt and fillers).
int seal_key_block(unsigned char *blk, const unsigned char *key, const SecRec &r) {
    const unsigned char *mkey;
    int32_t mlen;
    if (int rc = master_key_for_file(r.flags, &mkey, &mlen)) return rc;
    generate_rnd_key(blk, kKeyBlock);
    memcpy(blk + 48, key, size_t(r.keylen));
    check_value(blk, r.keylen, r.cls, blk + 32);
    if (int rc = master_cipher(blk, mkey, mlen, true, 8881, 8880)) terr(rc);
    return 0;
}

// Opens a sealed key block into key (keylen bytes): 0, 952 or 606.
int open_key_block(const unsigned char *sealed, const SecRec &r, unsigned char *key, bool rebuild) {
    const unsigned char *mkey;
    int32_t mlen;
    if (int rc = master_key_for_file(r.flags, &mkey, &mlen)) return rc;
    unsigned char blk[kKeyBlock];
    memcpy(blk, sealed, sizeof blk);
    if (int rc = master_cipher(blk, mkey, mlen, false, rebuild ? 8876 : 8878, rebuild ? 8875 : 8877)) terr(rc);
    unsigned char check[16];
    check_value(blk, r.keylen, r.cls, check);
    bool right = memcmp(check, blk + 32, 16) == 0;
    if (right) memcpy(key, blk + 48, size_t(r.keylen));
    secure_zero(blk, sizeof blk);
    secure_zero(check, sizeof check);
    return right ? 0 : 606;
}

// Puts the file's encryption into its block.
void install(FCB *f, const SecRec &r, FileKey *fk) {
    f->encstart = r.start;
    f->cipherkeylen = r.keylen;
    f->cipherclass = r.cls;
    f->cipherkey = fk;
    if (r.cls >= 2) f->stflags |= kStEncrypted;
}

// Reads, checks and opens the security resource of a file whose header
// points to one, and installs its key. For an open (rebuild false) the
// resource header's type and number must be 0 and 6.
int load(FCB *f, bool rebuild) {
    INSTGV *g = zvWNGV;
    uint64_t pos = secres_pos(f);
    // The rebuild takes the record whatever type header it carries, but
    // never past the resource's length.
    RESHDR h;
    if (getrhdr(f, pos, &h) || (!rebuild && (h.type != 0 || h.number != kResNumber))) return 408;
    const uint64_t usedlen = h.usedlen;
    uint64_t at = pos + resource_header_size(f);
    unsigned char body[kHead + kKeyBlock];
    if (int rc = read_bytes(f, at, body, kHead)) return rebuild ? rc : 408;
    SecRec r = stored_words(body);
    if (int rc = check_record(r, usedlen)) return rc;
    if (int rc = read_bytes(f, at + kHead, body + kHead, data_len(r))) return rebuild ? rc : 408;
    // Pages cached before the key was known would hold cipher text.
    if (f->kind != kKindIndex) zvflushd(f, 1);
    unsigned char key[kKeyArea];
    if (r.cls >= 2) {
        if (!rebuild && (g->userprof & 0x800) && !camo_support()) {
            camo_support_on();
            camo_sdk_start();
        }
        if (camo_state(g).pagebad) return 606;
        if (int rc = open_key_block(body + kHead, r, key, rebuild)) return rc;
    } else {
        memcpy(key, body + kHead, kValueLen);
    }
    FileKey *fk = file_key_new(r.cls, key, r.keylen);
    secure_zero(key, sizeof key);
    secure_zero(body, sizeof body);
    if (!fk) {
        if (r.cls >= 2) terr(rebuild ? 8876 : 8878);
        return rebuild ? 65 : 82;
    }
    install(f, r, fk);
    return 0;
}

// The failure of a create step: the position word goes, the code stays.
int create_failed(FCB *f, int rc) {
    set_secres_pos(f, 0);
    return set_uerr(rc);
}

// Rewrites [start, last] with the fill bytes through the ordinary write
// path, so that this region is stored enciphered.
int refill(FCB *f, uint64_t start, uint64_t last) {
    INSTGV *g = zvWNGV;
    for (uint64_t off = start; off <= last;) {
        uint64_t left = last - off + 1;
        int32_t n = left < kCamoUnit ? int32_t(left) : int32_t(kCamoUnit);
        int rc = izvio81x(1, f, uint32_t(off >> 32), uint32_t(off), g->fillbuf, n, nullptr, 0);
        if (rc) return rc;
        off += uint64_t(n);
    }
    return 0;
}

}  // namespace

bool camo_wanted(uint32_t secvalue) {
    return secvalue != 0 || (zvWNGV && camo_state(zvWNGV).pendkeylen > 0);
}

int zvsetcamo(FCB *f, uint32_t secvalue, int filno) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!f) return set_uerr(540);
    CamoState &c = camo_state(g);
    f->encstart = 0;
    bool keyed = c.pendkeylen > 0 && c.pendclass >= 2;
    if (!keyed && !secvalue) return 0;
    // A file is encrypted under its own key or holds a security value,
    // never both; and no new file is encrypted while support is off or the
    // page size cannot carry whole units.
    if (keyed && (secvalue || !camo_support() || c.pagebad)) return set_uerr(454);
    SecRec r{0, keyed ? c.pendkeylen : kValueLen, keyed ? c.pendclass : 0, f->hdr.base.phyend, kCamoUnit,
             master_key_flags()};
    const unsigned char *mkey;
    int32_t mlen;
    if (keyed) {
        if (int rc = master_key_for_file(r.flags, &mkey, &mlen)) return set_uerr(rc);
        generate_rnd_key(c.pendkey, c.pendkeylen);
    }
    uint32_t pad = kMinPad;
    if (g->nodesize > 0 && uint32_t(g->nodesize) > pad) pad = uint32_t(g->nodesize);
    int32_t total = kHead + data_len(r) + int32_t(pad);
    auto *img = static_cast<unsigned char *>(mballc(1, size_t(total)));
    if (!img) return set_uerr(82);
    unsigned char key[kKeyArea] = {};
    if (keyed) {
        memcpy(key, c.pendkey, size_t(r.keylen));
        secure_zero(c.pendkey, size_t(c.pendkeylen));
        if (int rc = seal_key_block(img + kHead, key, r)) {
            secure_zero(key, sizeof key);
            mbfree(img);
            return set_uerr(rc);
        }
    } else {
        host::put32(key, secvalue);
        memcpy(img + kHead, key, kValueLen);
    }
    host::put32(img + 4, kResNumber);
    put_words(img, r);

    int rc = 0;
    if (!f->hdr.base.reshdr && !f->hdr.ext.reshdrh) rc = ENARES(filno);
    if (!rc) rc = ADDRES(filno, img, total);
    uint64_t pos = 0;
    if (!rc) {
        uint32_t want[2] = {0, kResNumber};
        unsigned char th[12];
        uint32_t lo = GETRES(filno, want, th, sizeof th, 2 | 0x40);
        uint32_t hi = uint32_t(zvGETHGHi());
        if (!lo && !hi) rc = g->uerr_cod ? g->uerr_cod : 408;
        else if (hi) terr(8879);
        pos = lo;
    }
    uint64_t end = join64(f->hdr.ext.numrech, f->hdr.base.numrec) + 1;
    if (!rc) {
        uint64_t start = end / pad * pad;
        if (start > UINT32_MAX) terr(8879);
        r.start = uint32_t(start);
        r.phyend = f->hdr.base.phyend;
        put_words(img, r);
        rc = UPDRES(filno, img, total);
    }
    secure_zero(img, size_t(total));
    mbfree(img);
    if (rc) {
        secure_zero(key, sizeof key);
        return create_failed(f, rc);
    }
    set_secres_pos(f, pos);
    rc = wrthdr(f);
    if (!rc) rc = g->uerr_cod;
    FileKey *fk = rc ? nullptr : file_key_new(r.cls, key, r.keylen);
    secure_zero(key, sizeof key);
    if (!rc && !fk) rc = 82;
    if (rc) return create_failed(f, rc);
    install(f, r, fk);
    if (keyed) {
        rc = refill(f, r.start, join64(f->hdr.ext.phyendh, f->hdr.base.phyend));
        if (rc) return set_uerr(rc);
    }
    return set_uerr(0);
}

int zvgetcamo(FCB *f) {
    INSTGV *g = zvWNGV;
    if (!g) return 47;
    if (!f) return 540;
    // A key-change replay opens files only to put key blocks back.
    if (camo_state(g).replaying) return 0;
    // The encryption of an index member is its host's.
    if ((f->opflags & kOpMember) || f->hdr.base.kmem) return 0;
    if (!secres_pos(f)) return 0;
    if (!g->pagehook) return 606;
    return load(f, false);
}

int zvxtrcamo(FCB *f) {
    if (!zvWNGV) return 47;
    if (!f) return 540;
    if (!secres_pos(f)) return 0;
    return load(f, true);
}

void zvclncamo(FCB *f) {
    if (!f) return;
    file_key_free(static_cast<FileKey *>(f->cipherkey));
    f->cipherkey = nullptr;
    f->encstart = 0;
    f->cipherkeylen = 0;
    f->cipherclass = 0;
    f->stflags &= ~kStEncrypted;
}

int zvkeycamo(FCB *f, void *out, int32_t outsize) {
    INSTGV *g = zvWNGV;
    if (!g || !f) return 0;
    uint64_t pos = secres_pos(f);
    if (!pos) return 0;
    RESHDR h;
    int rc = getrhdr(f, pos, &h);
    if (rc) return -(g->uerr_cod ? int(g->uerr_cod) : rc);
    if (h.type != 0 || h.number != kResNumber) return 0;
    uint64_t at = pos + resource_header_size(f);
    unsigned char head[kHead];
    if ((rc = read_bytes(f, at, head, kHead))) return -rc;
    int32_t keylen = stored_words(head).keylen;
    if (out && keylen > 0 && keylen <= outsize && uint64_t(keylen) + kHead <= h.usedlen) {
        auto *buf = static_cast<unsigned char *>(mballc(1, size_t(keylen)));
        if (!buf) return -82;
        rc = read_bytes(f, at + kHead, buf, keylen);
        if (!rc) memcpy(out, buf, size_t(keylen));
        mbfree(buf);
        if (rc) return -rc;
    }
    return keylen;
}

int reseal_key_block(unsigned char *rec, const unsigned char *oldkey, const unsigned char *newkey) {
    SecRec r = stored_words(rec);
    if (check_record(r, kSecImage) || r.cls < 2) return 408;
    int32_t mlen = (r.flags & 1) ? 32 : 16;
    if ((r.flags & 1) ? zvcmomaskln != 32 : zvcmomaskln < 16) return 952;
    unsigned char blk[kKeyBlock];
    memcpy(blk, rec + kHead, sizeof blk);
    if (int rc = master_cipher(blk, oldkey, mlen, false, 8878, 8877)) terr(rc);
    unsigned char check[16];
    check_value(blk, r.keylen, r.cls, check);
    bool right = memcmp(check, blk + 32, 16) == 0;
    if (right) {
        if (int rc = master_cipher(blk, newkey, mlen, true, 8881, 8880)) terr(rc);
        memcpy(rec + kHead, blk, sizeof blk);
    }
    secure_zero(blk, sizeof blk);
    secure_zero(check, sizeof check);
    return right ? 0 : 606;
}


}  // namespace zv

// The pending cipher of creates: every code of zvSETENCRYPT with support on
// and off, the same through the function-number entry point, the save and
// restore of a pending cipher, the security value of a create block, and
// the creates that must refuse to encrypt.
#include <cstring>
#include <functional>
#include <set>
#include <string>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/crypto/camostate.h"
#include "engine/crypto/crypto_files.h"
#include "engine/crypto/masterkey.h"
#include "engine/core/fcb.h"
#include "engine/files/fileenc.h"
#include "tests/engine/crypto/camofix.h"
#include "tests/support/fixture.h"

namespace {

using camotest::CamoTest;
using zvtest::read_file;

struct Pending {
    int32_t cls, len;
    bool operator==(const Pending &o) const { return cls == o.cls && len == o.len; }
};
std::ostream &operator<<(std::ostream &os, const Pending &p) { return os << "class " << p.cls << " len " << p.len; }

Pending pending() { return {camo_state(zvWNGV).pendclass, camo_state(zvWNGV).pendkeylen}; }

int by_number(const char *code, const char *key) {
    int32_t pos = 0, len = 0;
    return zarvo(0x24E4, 0, const_cast<char *>(code), &pos, const_cast<char *>(key), &len, 0);
}

class Settings : public CamoTest {
protected:
    // File 1: a plain data file; file 2: an encrypted one (AES, 24 bytes).
    void open_files() {
        ASSERT_EQ(CREDAT(1, "plain.dat", 64, 0, 0), 0);
        ASSERT_EQ(zvSETENCRYPT("61", "k", 1), 0);
        ASSERT_EQ(CREDAT(2, "enc.dat", 64, 0, 0), 0);
        ASSERT_EQ(zvSETENCRYPT(nullptr, nullptr, 0), 0);
    }
};

TEST_F(Settings, CodesSelectClassAndKeyLength) {
    open_files();
    struct Case {
        const char *code;
        const char *key;
        int32_t keylen;
        int rc;
        Pending want;
    };
    const Case cases[] = {
        {"1", "x", 1, 0, {2, 8}},     {"2", "x", 1, 0, {2, 16}},    {"3", "x", 1, 0, {2, 24}},
        {"4", "x", 1, 0, {4, 16}},    {"5", "x", 1, 0, {4, 24}},    {"6", "x", 1, 0, {4, 32}},
        {"7", "x", 1, 0, {5, 16}},    {"8", "x", 1, 0, {5, 24}},    {"9", "x", 1, 0, {5, 32}},
        {"10", "x", 1, 0, {3, 8}},    {"58", "x", 1, 0, {3, 56}},   {"60", "x", 1, 0, {8, 16}},
        {"61", "x", 1, 0, {8, 24}},   {"62", "x", 99, 0, {8, 32}},  {"62", "x", 0, 0, {0, 0}},
        {nullptr, "x", 1, 454, {0, 0}}, {"0", "x", 1, 454, {0, 0}}, {"59", "x", 1, 446, {0, 0}},
        {"63", "x", 1, 446, {0, 0}},  {"97", "x", 1, 446, {0, 0}},  {"99", "x", 1, 446, {0, 0}},
        {"-1", "x", 1, 446, {0, 0}},  {"98", "2", 1, 0, {8, 24}},   {"98", "1", 1, 0, {0, 0}},
        {"98", "2", 2, 116, {0, 0}},  {"98", "9", 1, 26, {0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.code ? c.code : "null") + " / " + std::to_string(c.keylen));
        ASSERT_EQ(zvSETENCRYPT("5", "x", 1), 0);  // something pending before
        EXPECT_EQ(zvSETENCRYPT(c.code, c.key, c.keylen), c.rc);
        EXPECT_EQ(pending().len, c.want.len);
        if (c.want.len) {
            EXPECT_EQ(pending(), c.want);
        }
        EXPECT_EQ(camo_state(zvWNGV).pendkey != nullptr, c.want.len > 0);
        // The entry point takes the key length from the key text.
        ASSERT_EQ(zvSETENCRYPT("5", "x", 1), 0);
        if (c.keylen == 1) {
            EXPECT_EQ(by_number(c.code, c.key), c.rc);
            EXPECT_EQ(pending().len, c.want.len);
        }
    }
    EXPECT_EQ(by_number("62", ""), 0) << "an empty key text clears";
    EXPECT_EQ(pending().len, 0);
}

TEST_F(Settings, SupportOffRefusesEveryCodeButAPlainCopy) {
    open_files();
    cmosdksup = 0;
    for (const char *code : {"1", "9", "10", "58", "62", "0", "59", "99", "-1"}) {
        EXPECT_EQ(zvSETENCRYPT(code, "x", 1), 454) << code;
        EXPECT_EQ(by_number(code, "x"), 454) << code;
        EXPECT_EQ(pending().len, 0) << code;
    }
    EXPECT_EQ(zvSETENCRYPT("98", "1", 1), 0);
    EXPECT_EQ(zvSETENCRYPT("98", "2", 1), 454);
    EXPECT_EQ(zvSETENCRYPT("98", "2", 2), 116);
    EXPECT_EQ(zvSETENCRYPT("98", "9", 1), 26);
    EXPECT_EQ(pending().len, 0);
}

TEST_F(Settings, SessionValuesAreNotSupported) {
    int32_t pos = 0, len = 0;
    EXPECT_EQ(SESSVAL(), 454);
    EXPECT_EQ(SESSINC(), 454);
    EXPECT_EQ(zvGetUserErrorCode(), 454);
    EXPECT_EQ(zarvo(0x20E5, 0, nullptr, &pos, nullptr, &len, 0), 454);
    EXPECT_EQ(zarvo(0x20E6, 0, nullptr, &pos, nullptr, &len, 0), 454);
    int32_t cfg[ZV_SYSCFG_SIZE / 4] = {};
    ASSERT_EQ(SYSCFG(cfg), 0);
    EXPECT_EQ(cfg[ZV_SYSCFG_ADVANCED_ENCRYPTION], 1);
}

TEST_F(Settings, NoInstanceAnswers47) {
    zvtest::clear_instance_ring();
    EXPECT_EQ(zvSETENCRYPT("62", "x", 1), 47);
}

TEST_F(Settings, SaveCopyAndRestoreOfThePendingCipher) {
    open_files();
    ASSERT_EQ(zvSETENCRYPT("3", "x", 1), 0);
    unsigned char *before = camo_state(zvWNGV).pendkey;
    zv::CamoSave save{};
    ASSERT_EQ(zv::setencatr(&save, 2), 0);
    EXPECT_EQ(pending(), (Pending{8, 24}));
    ASSERT_EQ(CREDAT(3, "copy.dat", 64, 0, 0), 0);
    char enc = 0;
    int32_t one = 1;
    ASSERT_EQ(GETFILX(3, 1, &enc, &one), 0);
    EXPECT_EQ(enc, 1);
    EXPECT_EQ(zv::rstencatr(&save), 0);
    EXPECT_EQ(pending(), (Pending{2, 24}));
    EXPECT_EQ(camo_state(zvWNGV).pendkey, before);
    // A failing copy puts the saved cipher back.
    EXPECT_EQ(zv::setencatr(&save, 9), 26);
    EXPECT_EQ(pending(), (Pending{2, 24}));
    EXPECT_EQ(zv::rstencatr(nullptr), 0);
}

// Word 8 of the create block: the value is kept in the file, which stays
// plain; the rebuild's reader and zvkeycamo find it.
TEST_F(Settings, SecurityValueIsKeptWithoutEncryption) {
    XCREblk x{};
    x.cipher = 0xC0FFEE42;
    ASSERT_EQ(CREDATX8(1, "sv.dat", 64, 0, 0, 0, nullptr, nullptr, &x), 0);
    char enc = 9;
    int32_t one = 1;
    ASSERT_EQ(GETFILX(1, 1, &enc, &one), 0);
    EXPECT_EQ(enc, 0);
    FCB *f = zvWNGV->fcbtab[1];
    uint32_t v = 0;
    EXPECT_EQ(zv::zvkeycamo(f, &v, sizeof v), 4);
    EXPECT_EQ(v, 0xC0FFEE42u);
    EXPECT_EQ(zv::zvkeycamo(f, &v, 3), 4) << "too small: nothing copied";
    ASSERT_EQ(CLSFIL(1, 0), 0);
    camotest::DiskRec r = camotest::disk_rec(read_file("sv.dat"));
    EXPECT_EQ(r.cls, 0);
    EXPECT_EQ(r.keylen, 4);
    EXPECT_EQ(r.usedlen, 40u + 4 + 8192);
    EXPECT_EQ(camotest::le32(r.keyblock, 0), 0xC0FFEE42u);
    ASSERT_EQ(OPNFIL(1, "sv.dat", 0), 0);
    EXPECT_EQ(zvWNGV->fcbtab[1]->cipherkeylen, 4);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

// The rebuild's reader takes the record from its bytes, without the ring.
TEST_F(Settings, RebuildReaderOpensTheKeyAsOpenDoes) {
    encrypt_creates("7");
    ASSERT_EQ(CREDAT(1, "e.dat", 64, 0, 0), 0);
    std::string rec(64, 'r');
    uint32_t pos = NEWREC(1);
    ASSERT_NE(pos, 0u);
    ASSERT_EQ(WRTREC(1, pos, rec.data()), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "e.dat", 0), 0);
    FCB *f = zvWNGV->fcbtab[1];
    const uint32_t start = f->encstart;
    zv::zvclncamo(f);
    EXPECT_EQ(f->cipherclass, 0);
    EXPECT_EQ(zv::zvxtrcamo(f), 0);
    EXPECT_EQ(f->cipherclass, 5);
    EXPECT_EQ(f->cipherkeylen, 16);
    EXPECT_EQ(f->encstart, start);
    std::string got(64, '\0');
    EXPECT_EQ(REDREC(1, pos, got.data()), 0);
    EXPECT_EQ(got, rec);
    zv::zvclncamo(f);
    zv::set_master_password("other");
    EXPECT_EQ(zv::zvxtrcamo(f), 606);
    EXPECT_EQ(f->cipherclass, 0);
    zv::set_master_password("pw");
    EXPECT_EQ(CLSFIL(1, 0), 0);
    // A resource whose length does not hold the key block: open refuses it
    // (also as a damaged file), and so does the rebuild's reader.
    std::string file = read_file("e.dat");
    camotest::DiskRec r = camotest::disk_rec(file);
    camotest::put_le32(file, r.pos + 6, 120);
    zvtest::write_file("e.dat", file);
    EXPECT_EQ(OPNFIL(1, "e.dat", 0x4800), 408);
    camo_state(zvWNGV).replaying = 1;  // the open leaves the key alone
    ASSERT_EQ(OPNFIL(1, "e.dat", 0), 0);
    camo_state(zvWNGV).replaying = 0;
    f = zvWNGV->fcbtab[1];
    EXPECT_EQ(zv::zvxtrcamo(f), 408);
    EXPECT_EQ(f->cipherclass, 0);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

// Creates that must not make a file encrypted fail, and leave no file.
TEST_F(Settings, CreatesThatCannotEncryptFailAndLeaveNothing) {
    struct Case {
        const char *what;
        std::function<void()> arrange;
        uint32_t secvalue;
        int code;
    };
    const Case cases[] = {
        {"support switched off after the request", [] { cmosdksup = 0; }, 0, 454},
        {"no master password yet", [] { zv::set_master_password(nullptr); }, 0, 606},
        {"a master key under 16 bytes", [] { zv::set_master_key_length(8); }, 0, 952},
        {"a security value beside a pending cipher", [] {}, 7, 454},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        encrypt_creates();
        c.arrange();
        XCREblk x{};
        x.cipher = c.secvalue;
        EXPECT_EQ(CREDATX8(1, "d.dat", 64, 0, 0, 0, nullptr, nullptr, &x), c.code);
        EXPECT_EQ(CREIDXX8(2, "i.idx", 8, 0, 0, 0, 0, 0, 0, nullptr, nullptr, &x), c.code);
        EXPECT_EQ(files_in(), std::set<std::string>{});
        cmosdksup = 2;
        zv::set_master_key_length(32);
        zv::set_master_password("pw");
    }
}

}  // namespace

// The master password: key derivations against MD5 chains computed
// outside the library, the verification file's bytes deciphered by hand
// and its refusals, and the start-up prompt at a pseudo-terminal.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "engine/core/instance.h"
#include "engine/crypto/masterkey.h"
#include "tests/engine/crypto/camofix.h"
#include "tests/engine/crypto/crypto_util.h"
#include "tests/support/fixture.h"
#include "tests/support/pty.h"
#include "zarvo/qvs.h"
#include "zarvo/zarvo.h"

namespace {

using zvtest::Bytes;
using zvtest::read_file;
using zvtest::to_hex;
using zvtest::write_file;

const char *const kPrompt =
    "This utility requires a master encryption key in order to start.\nPlease enter master encryption key: ";
const char *const kWrong = "Master password verification failed: Incorrect master password specified.";

class MasterKey : public zvtest::ZvTest {
protected:
    void SetUp() override {
        ZvTest::SetUp();
        zv::master_key_reset();
        unsetenv("ZARVO_ADVANCED_ENCRYPTION");
    }
    void TearDown() override {
        unsetenv("ZARVO_ADVANCED_ENCRYPTION");
        zv::master_key_reset();
        ZvTest::TearDown();
    }
    static int verify(const char *pw, std::string *msg = nullptr) {
        char m[256] = {};
        int rc = QVSVerifyMasterPassword(pw, int32_t(strlen(pw)), "zvsrvr.pvf", m, sizeof m);
        if (msg) *msg = m;
        return rc;
    }
};

// D1 = MD5("pw"), D2 = MD5("pw" D1 00000001), D3 = MD5("pw" D2 00000002);
// without the counter D2 = MD5("pw" D1), D3 = MD5("pw" D2).
TEST_F(MasterKey, DerivationsFollowTheirMd5Chains) {
    const std::string gen40 = "8fe4c11451281c094a6578e6ddbf5eed783fa4a04cde919c1c865b77b198846131234a214e2c293a";
    const std::string pass40 = "8fe4c11451281c094a6578e6ddbf5eed819388e49b15b4bd172190f98543ad9528dc50a4bc8de3ff";
    for (int32_t n : {1, 16, 20, 32, 40}) {
        Bytes out(48, 0xAA);
        GenMasterKey("pw", 2, out.data(), n);
        EXPECT_EQ(to_hex(out.data(), size_t(n)), gen40.substr(0, 2 * size_t(n))) << n;
        EXPECT_EQ(out[size_t(n)], 0xAA) << "nothing past the length";
        PassToKey(out.data(), n, "pw", 2);
        EXPECT_EQ(to_hex(out.data(), size_t(n)), pass40.substr(0, 2 * size_t(n))) << n;
    }
    Bytes out(8, 0xAA);
    GenMasterKey("pw", 2, out.data(), 0);
    EXPECT_EQ(out, Bytes(8, 0xAA));
}

TEST_F(MasterKey, VerificationFileHoldsTheSealedBlockAndTheKeyLength) {
    char msg[128] = {};
    ASSERT_EQ(QVSCreateMasterFile("pw", 2, "zvsrvr.pvf", msg, 32, sizeof msg), 0) << msg;
    std::string f = read_file("zvsrvr.pvf");
    ASSERT_EQ(f.size(), 132u);
    int32_t len;
    memcpy(&len, f.data() + 128, 4);
    EXPECT_EQ(len, 32);
    Bytes key(32);
    GenMasterKey("pw", 2, key.data(), 32);
    QVSCTX ctx;
    ASSERT_EQ(QVSInit(&ctx, QVS_RIJ, QVS_ECB, key.data(), 32, nullptr, 0), 0);
    Bytes block(f.begin(), f.begin() + 128);
    ASSERT_EQ(QVSDecrypt(&ctx, block.data(), 128), 0);
    EXPECT_EQ(Bytes(block.begin() + 16, block.begin() + 112), Bytes(96, 0));
    EXPECT_NE(Bytes(block.begin(), block.begin() + 16), Bytes(16, 0));
    QVSMD5CTX m;
    MD5Init(&m);
    MD5Update(&m, block.data(), 112);
    Bytes digest(16);
    MD5Final(digest.data(), &m);
    EXPECT_EQ(Bytes(block.begin() + 112, block.end()), digest);
    // A second file of the same password has other random bytes.
    ASSERT_EQ(QVSCreateMasterFile("pw", 2, "again.pvf", msg, 32, sizeof msg), 0);
    EXPECT_NE(read_file("again.pvf"), f);
}

TEST_F(MasterKey, VerifyAnswersEachKindOfFile) {
    char msg[128] = {};
    ASSERT_EQ(QVSCreateMasterFile("pw", 2, "zvsrvr.pvf", msg, 32, sizeof msg), 0);
    const std::string good = read_file("zvsrvr.pvf");
    std::string text;
    EXPECT_EQ(verify("pw", &text), 0);
    EXPECT_EQ(verify("pW", &text), 3);
    EXPECT_EQ(text, kWrong);
    // The message is cut to the buffer.
    char small[12];
    EXPECT_EQ(QVSVerifyMasterPassword("x", 1, "zvsrvr.pvf", small, sizeof small), 3);
    EXPECT_EQ(std::string(small), std::string(kWrong).substr(0, 11));

    ASSERT_EQ(QVSCreateMasterFile("pw", 2, "k16.pvf", msg, 16, sizeof msg), 0);
    write_file("zvsrvr.pvf", read_file("k16.pvf").substr(0, 128));
    EXPECT_EQ(verify("pw"), 0) << "a file without the length word has 16-byte keys";
    write_file("zvsrvr.pvf", good.substr(0, 127));
    EXPECT_EQ(verify("pw"), 2);
    write_file("zvsrvr.pvf", good.substr(0, 130));
    EXPECT_EQ(verify("pw"), 2);
    std::string f = good;
    int32_t big = 65;
    memcpy(&f[128], &big, 4);
    write_file("zvsrvr.pvf", f);
    EXPECT_EQ(verify("pw", &text), 4);
    EXPECT_EQ(text, "Key length (65) exceeds maximum supported key length (64)");
    int32_t odd = 20;
    memcpy(&f[128], &odd, 4);
    write_file("zvsrvr.pvf", f);
    EXPECT_EQ(verify("pw"), 4);
    ASSERT_EQ(remove("zvsrvr.pvf"), 0);
    EXPECT_EQ(verify("pw", &text), 1);
    EXPECT_EQ(text.rfind("Failed to open password verification file zvsrvr.pvf for reading: ", 0), 0u) << text;
}

TEST_F(MasterKey, CreateRefusesKeyLengthsBeforeWriting) {
    char msg[128] = {};
    EXPECT_EQ(QVSCreateMasterFile("pw", 2, "a.pvf", msg, 65, sizeof msg), 6);
    EXPECT_STREQ(msg, "Key length (65) exceeds maximum supported key length (64)");
    for (int32_t n : {20, 0, 8, -1}) {
        EXPECT_EQ(QVSCreateMasterFile("pw", 2, "a.pvf", msg, n, sizeof msg), 6) << n;
    }
    EXPECT_FALSE(std::ifstream("a.pvf").good());
    for (int32_t n : {16, 24, 32}) {
        ASSERT_EQ(QVSCreateMasterFile("pw", 2, "a.pvf", msg, n, sizeof msg), 0) << n;
        EXPECT_EQ(QVSVerifyMasterPassword("pw", 2, "a.pvf", msg, sizeof msg), 0) << n;
    }
    EXPECT_EQ(QVSCreateMasterFile("pw", 2, "no/such/dir/a.pvf", msg, 32, sizeof msg), 1);
    EXPECT_EQ(std::string(msg).rfind("Failed to open password verification file no/such/dir/a.pvf for writing: ", 0),
              0u)
        << msg;
}

// ---- The prompt at start-up -------------------------------------------------

// A child that starts an engine and reports whether the master key is the
// one of "pw".
int start_and_check() {
    int rc = INTREE(6, 7, 4);
    if (rc) return 10 + rc;
    unsigned char want[32];
    GenMasterKey("pw", 2, want, 32);
    bool right = memcmp(want, zv::zvcmomaskey, 32) == 0;
    CLISAM();
    return right ? 0 : 2;
}

TEST_F(MasterKey, PromptTakesTheRightPasswordWithoutEcho) {
    char msg[128];
    ASSERT_EQ(QVSCreateMasterFile("pw", 2, "zvsrvr.pvf", msg, 32, sizeof msg), 0);
    setenv("ZARVO_ADVANCED_ENCRYPTION", "yes", 1);
    zvtest::PtyChild child(start_and_check);
    ASSERT_TRUE(child.expect(std::string("\n") + kPrompt)) << child.output();
    child.send_line("pw");
    EXPECT_EQ(child.wait(), 0) << child.output();
    EXPECT_EQ(child.output().find("pw\n"), std::string::npos) << "the password is not echoed";
    EXPECT_EQ(cmosdksup, 0) << "the parent is untouched";
}

TEST_F(MasterKey, ThreeWrongPasswordsEndTheProcess) {
    char msg[128];
    ASSERT_EQ(QVSCreateMasterFile("pw", 2, "zvsrvr.pvf", msg, 32, sizeof msg), 0);
    setenv("ZARVO_ADVANCED_ENCRYPTION", "YES", 1);
    zvtest::PtyChild child(start_and_check);
    for (const char *pw : {"a", "b", "c"}) {
        ASSERT_TRUE(child.answer(std::string("\n") + kPrompt, pw)) << child.output();
        ASSERT_TRUE(child.expect(std::string("\nError: ") + kWrong + "\n")) << child.output();
    }
    EXPECT_EQ(child.wait(), 100) << child.output();
    EXPECT_NE(read_file("ZVSTATUS.QVS")
                  .find("\tThe master encryption key must be entered in order to start this server.  The server will "
                        "now shut down.\n"),
              std::string::npos);
}

TEST_F(MasterKey, NoPromptWithoutTheVariableOrWithSupportTwo) {
    ASSERT_EQ(INTREE(6, 7, 4), 0);
    EXPECT_EQ(cmosdksup, 0);
    CLISAM();
    zvcamlog = 1;
    ASSERT_EQ(INTREE(6, 7, 4), 0);
    EXPECT_EQ(zv::zvcmologcip, 1);
    CLISAM();
    setenv("ZARVO_ADVANCED_ENCRYPTION", "YES", 1);
    cmosdksup = 2;
    ASSERT_EQ(INTREE(6, 7, 4), 0);
    CLISAM();
}

// Profile bit 0x800 starts without asking; the first open of an encrypted
// file asks.
TEST_F(MasterKey, ProfileBitAsksAtTheFirstEncryptedOpen) {
    char msg[128];
    ASSERT_EQ(QVSCreateMasterFile("pw", 2, "zvsrvr.pvf", msg, 32, sizeof msg), 0);
    cmosdksup = 2;
    zv::set_master_password("pw");
    ASSERT_EQ(INTREE(6, 7, 4), 0);
    ASSERT_EQ(zvSETENCRYPT("62", "k", 1), 0);
    ASSERT_EQ(CREDAT(1, "e.dat", 64, 0, 0), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    CLISAM();
    zv::master_key_reset();
    zvtest::PtyChild child([] {
        int rc = INTREEX(6, 7, 4, 6, 0x800 | 33);
        printf("started %d\n", rc);
        fflush(stdout);
        rc = OPNFIL(1, "e.dat", 0);
        printf("opened %d\n", rc);
        CLISAM();
        return rc;
    });
    ASSERT_TRUE(child.expect("started 0\n")) << child.output();
    ASSERT_TRUE(child.answer(kPrompt, "pw")) << child.output();
    EXPECT_TRUE(child.expect("opened 0\n")) << child.output();
    EXPECT_EQ(child.wait(), 0) << child.output();
    EXPECT_EQ(child.output().find(kPrompt), child.output().find("started 0\n") + 11);
}

}  // namespace

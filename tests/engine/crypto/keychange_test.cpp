// Master-password change: the full change with its output and what it
// leaves on disk, the option and password refusals, a failing file that
// leaves every key as it was, the replay of hand-made logs at start-up, and
// a crash at every write of a change.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/crypto/masterkey.h"
#include "engine/crypto/recovlog.h"
#include "engine/files/keychange.h"
#include "tests/engine/crypto/camofix.h"
#include "tests/support/fixture.h"

namespace {

using camotest::CamoTest;
using camotest::change_request;
using zvtest::read_file;
namespace fs = std::filesystem;

// Output of the engine's standard stream while an object lives.
class Capture {
public:
    Capture() : fp_(open_memstream(&buf_, &len_)) { setZarvoSTDOUT(fp_); }
    ~Capture() {
        setZarvoSTDOUT(nullptr);
        fclose(fp_);
        free(buf_);
    }
    std::string text() {
        fflush(fp_);
        return std::string(buf_, len_);
    }

private:
    char *buf_ = nullptr;
    size_t len_ = 0;
    FILE *fp_;
};

std::map<std::string, std::string> snapshot(const std::vector<std::string> &names) {
    std::map<std::string, std::string> m;
    for (const std::string &n : names) m[n] = read_file(n);
    return m;
}

// The byte ranges in which two images differ: first and last offset of
// each run of differing bytes.
std::vector<std::pair<size_t, size_t>> differences(const std::string &a, const std::string &b) {
    std::vector<std::pair<size_t, size_t>> out;
    for (size_t i = 0; i < std::max(a.size(), b.size()); i++) {
        bool differ = i >= a.size() || i >= b.size() || a[i] != b[i];
        if (!differ) continue;
        if (!out.empty() && out.back().second + 1 == i) out.back().second = i;
        else out.push_back({i, i});
    }
    return out;
}

// The password before a change; long enough that finding it in a file
// means it was written there.
const char *const kOld = "old-password";

class KeyChange : public CamoTest {
protected:
    void SetUp() override {
        CamoTest::SetUp();
        zv::set_master_password(kOld);
        char msg[128];
        ASSERT_EQ(QVSCreateMasterFile(kOld, int32_t(strlen(kOld)), "zvsrvr.pvf", msg, 32, sizeof msg), 0);
    }
    // Encrypted a, b (an index) and c, plain d and LOG.QVS, a transaction
    // log L0000001.QVS (not an engine file); all closed.
    void make_files() {
        encrypt_creates();
        ASSERT_EQ(CREDAT(1, "a", 64, 0, 0), 0);
        ASSERT_EQ(CREIDX(2, "b", 8, 0, 0, 0, 0, 0), 0);
        ASSERT_EQ(zvSETENCRYPT("9", "k", 1), 0);
        ASSERT_EQ(CREDAT(3, "c", 64, 0, 0), 0);
        std::string r(64, 'c');
        uint32_t p = NEWREC(3);
        ASSERT_EQ(WRTREC(3, p, r.data()), 0);
        ASSERT_EQ(zvSETENCRYPT(nullptr, nullptr, 0), 0);
        ASSERT_EQ(CREDAT(4, "d", 64, 0, 0), 0);
        ASSERT_EQ(CREDAT(5, "LOG.QVS", 64, 0, 0), 0);
        for (int f = 1; f <= 5; f++) ASSERT_EQ(CLSFIL(f, 0), 0);
        zvtest::write_file("L0000001.QVS", "not an engine file");
    }
    const std::vector<std::string> all_ = {"a", "b", "c", "d", "LOG.QVS", "L0000001.QVS", "zvsrvr.pvf"};
    // Whether every file of the set opens under the master key of pw.
    static int opens_under(const char *pw) {
        zv::set_master_password(pw);
        int ok = 0;
        const char *names[] = {"a", "b", "c"};
        for (int i = 0; i < 3; i++) {
            if (OPNFIL(10 + i, names[i], 0) == 0) {
                ok++;
                CLSFIL(10 + i, 0);
            }
        }
        return ok;
    }
    static int change(std::string &req) { return zvChangeMasterPassword(req.data()); }
    std::map<std::string, std::string> save_files_;
};

TEST_F(KeyChange, ChangesEveryKeyBlockAndNothingElse) {
    make_files();
    const auto before = snapshot(all_);
    std::string req = change_request(1, kOld, "new-secret", {"a", "b", "c", "d", "LOG.QVS", "L0000001.QVS"});
    Capture out;
    ASSERT_EQ(change(req), 0) << out.text();
    EXPECT_EQ(out.text(), "[  OK   ] a\n[  OK   ] b\n[  OK   ] c\n[  OK   ] d\n[  OK   ] LOG.QVS\n"
                          "\n5 succeeded, 0 failed\n");
    EXPECT_EQ(req.find(kOld), std::string::npos);
    EXPECT_EQ(req.find("new-secret"), std::string::npos);
    EXPECT_FALSE(fs::exists("CMPRECOV.QVS"));
    EXPECT_FALSE(fs::exists("CMPRECOVA.QVS"));
    const auto after = snapshot(all_);
    for (const char *n : {"a", "b", "c"}) {
        SCOPED_TRACE(n);
        camotest::DiskRec r = camotest::disk_rec(after.at(n));
        auto diff = differences(before.at(n), after.at(n));
        ASSERT_FALSE(diff.empty());
        EXPECT_GE(diff.front().first, camotest::body_at(r) + 40);
        EXPECT_LT(diff.back().second, camotest::body_at(r) + 152);
    }
    for (const char *n : {"d", "LOG.QVS", "L0000001.QVS"}) EXPECT_EQ(before.at(n), after.at(n)) << n;
    char msg[128];
    EXPECT_EQ(QVSVerifyMasterPassword("new-secret", 10, "zvsrvr.pvf", msg, sizeof msg), 0);
    EXPECT_EQ(QVSVerifyMasterPassword(kOld, int32_t(strlen(kOld)), "zvsrvr.pvf", msg, sizeof msg), 3);
    // The new key is in use at once; after a restart only it opens them.
    EXPECT_EQ(OPNFIL(10, "a", 0), 0);
    EXPECT_EQ(CLSFIL(10, 0), 0);
    CLISAM();
    ASSERT_EQ(INTISAM(10, 20, 4), 0);
    EXPECT_EQ(opens_under(kOld), 0);
    EXPECT_EQ(opens_under("new-secret"), 3);
    for (const auto &e : fs::directory_iterator("."))
        for (const char *pw : {kOld, "new-secret"})
            EXPECT_EQ(read_file(e.path().string()).find(pw), std::string::npos) << e.path() << " " << pw;
}

TEST_F(KeyChange, OptionsPasswordsAndSupportAreChecked) {
    make_files();
    const auto before = snapshot(all_);
    struct Case {
        uint32_t options;
        const char *oldpw;
        int code;
    } const cases[] = {
        {16, kOld, 0},   {2, kOld, 454}, {3, kOld, 116}, {0x21, kOld, 116},
        {0, kOld, 116},  {4 | 16, nullptr, 116}, {1, "wrong", 932},
    };
    for (const Case &c : cases) {
        std::string req = change_request(c.options, c.oldpw, "new", {"a"});
        EXPECT_EQ(change(req), c.code) << c.options;
        EXPECT_EQ(snapshot(all_), before) << c.options;
        EXPECT_EQ(opens_under(kOld), 3) << c.options;
    }
    cmosdksup = 0;
    std::string req = change_request(1, kOld, "new", {"a"});
    EXPECT_EQ(change(req), 454);
    cmosdksup = 2;
    Capture out;
    EXPECT_EQ(zvChangeMasterPassword(nullptr), 540);
    EXPECT_EQ(out.text(), "\n0 succeeded, 0 failed\n");
}

// From the fifth wrong old password on, each check waits a second.
TEST_F(KeyChange, RepeatedWrongPasswordsSlowDown) {
    using clock = std::chrono::steady_clock;
    std::vector<long> ms;
    for (int i = 0; i < 5; i++) {
        std::string req = change_request(16, "wrong", "new", {});
        auto t0 = clock::now();
        EXPECT_EQ(change(req), 932);
        ms.push_back(long(std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - t0).count()));
    }
    for (int i = 0; i < 4; i++) {
        EXPECT_GE(ms[size_t(i)], 100) << i;
        EXPECT_LT(ms[size_t(i)], 900) << i;
    }
    EXPECT_GE(ms[4], 1000);
    std::string req = change_request(16, kOld, "new", {});
    EXPECT_EQ(change(req), 0) << "the right password resets the count";
}

TEST_F(KeyChange, AFailingFileLeavesEveryKeyAsItWas) {
    make_files();
    zv::set_master_password("stranger");
    encrypt_creates();
    ASSERT_EQ(CREDAT(6, "e", 64, 0, 0), 0);  // under another key
    ASSERT_EQ(CLSFIL(6, 0), 0);
    ASSERT_EQ(zvSETENCRYPT(nullptr, nullptr, 0), 0);
    zv::set_master_password(kOld);
    std::vector<std::string> names = all_;
    names.push_back("e");
    const auto before = snapshot(names);
    struct Case {
        const char *bad;
        int code;
    } const cases[] = {{"missing", 12}, {"e", 606}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bad);
        std::string req = change_request(1, kOld, "new", {"a", "b", c.bad, "c"});
        Capture out;
        EXPECT_EQ(change(req), c.code);
        EXPECT_NE(out.text().find(std::string("[ ERROR ] ") + c.bad + ": " + std::to_string(c.code) + "\n"),
                  std::string::npos)
            << out.text();
        EXPECT_NE(out.text().find("\n3 succeeded, 1 failed\n"), std::string::npos) << out.text();
        EXPECT_EQ(snapshot(names), before);
        EXPECT_FALSE(fs::exists("CMPRECOV.QVS"));
        EXPECT_FALSE(fs::exists("CMPRECOVA.QVS"));
        EXPECT_EQ(opens_under(kOld), 3) << "the old key stays";
    }
}

// The key of the current master key changes to a first password (no old
// password given), also without a verification file before it.
TEST_F(KeyChange, OptionFourTakesTheCurrentKeyAsTheOldOne) {
    make_files();
    ASSERT_EQ(remove("zvsrvr.pvf"), 0);
    std::string req = change_request(4 | 1, nullptr, "first", {"a", "c"});
    ASSERT_EQ(change(req), 0);
    EXPECT_EQ(opens_under("first"), 2);  // b was not listed
    char msg[128];
    EXPECT_EQ(QVSVerifyMasterPassword("first", 5, "zvsrvr.pvf", msg, sizeof msg), 0);
}

// One file re-sealed by itself, from one master key to another.
TEST_F(KeyChange, OneFileReSealsBetweenTwoKeys) {
    make_files();
    unsigned char oldkey[32], newkey[32];
    GenMasterKey(kOld, int32_t(strlen(kOld)), oldkey, 32);
    GenMasterKey("single", 6, newkey, 32);
    uint32_t flags = 99;
    EXPECT_EQ(zvReencryptFileEncryptionRes("d", oldkey, newkey, &flags, nullptr), 0) << "a plain file";
    EXPECT_EQ(flags, 0u);
    EXPECT_EQ(zvReencryptFileEncryptionRes("a", newkey, oldkey, nullptr, nullptr), 606) << "not under that key";
    EXPECT_EQ(zvReencryptFileEncryptionRes("a", oldkey, newkey, nullptr, nullptr), 0);
    EXPECT_EQ(zvReencryptFileEncryptionRes("a", oldkey, newkey, nullptr, nullptr), 606) << "no longer under the old";
    EXPECT_EQ(zvReencryptFileEncryptionRes(nullptr, oldkey, newkey, nullptr, nullptr), 540);
    zv::set_master_password("single");
    EXPECT_EQ(OPNFIL(10, "a", 0), 0);
    EXPECT_EQ(CLSFIL(10, 0), 0);
    EXPECT_EQ(OPNFIL(11, "c", 0), 606);
}

// ---- Replay of hand-made logs at start-up ------------------------------------

class Replay : public KeyChange {
protected:
    // A log whose first entry has the status, followed by what add writes.
    void write_log(const char *status, const std::function<void(zv::RecovCtx *)> &add) {
        zv::RecovCtx *ctx = nullptr;
        char msg[256] = {};
        ASSERT_EQ(zv::zvcmprecovInit(&ctx, msg, sizeof msg), 0);
        ASSERT_EQ(zv::zvcmprecovSetFileName(ctx, status), 0);
        ASSERT_EQ(zv::zvcmprecovSaveTranno(ctx, 1), 0);
        add(ctx);
        zv::zvcmprecovFree(&ctx, 0);
    }
    int restart() {
        CLISAM();
        return INTISAM(10, 20, 4);
    }
    // A key-block entry: at a + b of file f, the old image then the new.
    static void image_entry(zv::RecovCtx *ctx, uint32_t a, uint32_t b, const std::string &old,
                            const std::string &now) {
        ASSERT_EQ(zv::zvcmprecovResetBuffer(ctx), 0);
        ASSERT_EQ(zv::zvcmprecovSetFileName(ctx, "f"), 0);
        ASSERT_EQ(zv::zvcmprecovSetOffset(ctx, a, b), 0);
        ASSERT_EQ(zv::zvcmprecovSetImage(ctx, old.data(), uint32_t(old.size()), 0), 0);
        ASSERT_EQ(zv::zvcmprecovSetImage(ctx, now.data(), uint32_t(now.size()), 1), 0);
        ASSERT_EQ(zv::zvcmprecovWriteLog(ctx), 0);
    }
};

TEST_F(Replay, ALogOfOnlyItsFirstEntryReplaysNothing) {
    write_log("undo", [](zv::RecovCtx *) {});
    EXPECT_EQ(restart(), 0);
    EXPECT_FALSE(fs::exists("CMPRECOV.QVS"));
    write_log("redo", [](zv::RecovCtx *) {});
    EXPECT_EQ(restart(), 0);
    EXPECT_FALSE(fs::exists("CMPRECOV.QVS"));
}

TEST_F(Replay, KeyBlockImagesGoBackOrForward) {
    zvtest::write_file("f", std::string(64, '.'));
    for (const char *status : {"undo", "redo"}) {
        SCOPED_TRACE(status);
        write_log(status, [](zv::RecovCtx *ctx) { image_entry(ctx, 10, 6, "OLD", "NEW"); });
        EXPECT_EQ(restart(), 0);
        std::string want(64, '.');
        want.replace(16, 3, strcmp(status, "undo") ? "NEW" : "OLD");
        EXPECT_EQ(read_file("f"), want);
        EXPECT_FALSE(fs::exists("CMPRECOV.QVS"));
    }
}

// A file to delete goes on an undo only; a key-store entry is refused and
// the replay goes on.
TEST_F(Replay, DeletesOnUndoAndRefusesKeyStoreEntries) {
    for (const char *status : {"redo", "undo"}) {
        SCOPED_TRACE(status);
        zvtest::write_file("made", "x");
        write_log(status, [](zv::RecovCtx *ctx) { ASSERT_EQ(zv::zvcmprecovSaveDelete(ctx, 0, "made"), 0); });
        EXPECT_EQ(restart(), 0);
        EXPECT_EQ(fs::exists("made"), strcmp(status, "redo") == 0);
    }
    zvtest::write_file("f", std::string(8, '.'));
    write_log("redo", [](zv::RecovCtx *ctx) {
        ASSERT_EQ(zv::zvcmprecovSaveKeyChange(ctx, "store", 5), 0);
        image_entry(ctx, 0, 0, "AB", "XY");
    });
    char msg[128];
    EXPECT_EQ(QVSVerifyMasterPassword("store", 5, "CMPRECOVA.QVS", msg, sizeof msg), 0);
    EXPECT_EQ(restart(), 454);
    EXPECT_EQ(read_file("f"), "XY......");
    EXPECT_TRUE(fs::exists("CMPRECOV.QVS"));
}

TEST_F(Replay, TransactionLogImagesAreNotSupported) {
    zvtest::write_file("f", std::string(64, '.'));
    write_log("undo", [](zv::RecovCtx *ctx) { image_entry(ctx, zv::kRecTranLogImage, 22, "OLD", "NEW"); });
    EXPECT_EQ(restart(), 454);
    EXPECT_NE(read_file("ZVSTATUS.QVS").find("zvcmprecovRecoverTransactionLog: This function is not supported"),
              std::string::npos);
    EXPECT_TRUE(fs::exists("CMPRECOV.QVS")) << "a failed replay keeps its log";
    EXPECT_EQ(read_file("f"), std::string(64, '.'));
}

// An unknown entry is noted and the replay goes on; the start fails with
// its code and the log stays.
TEST_F(Replay, UnknownEntriesAreNotedAndTheReplayGoesOn) {
    zvtest::write_file("f", std::string(64, '.'));
    write_log("redo", [](zv::RecovCtx *ctx) {
        ASSERT_EQ(zv::zvcmprecovSaveDelete(ctx, 0, "nothing"), 0);
        image_entry(ctx, 0, 0, "AB", "XY");
    });
    // The type-5 entry becomes an unknown type 9 (offset 268 + 255).
    std::string log = read_file("CMPRECOV.QVS");
    ASSERT_EQ(log[268 + 255], 5);
    log[268 + 255] = 9;
    zvtest::write_file("CMPRECOV.QVS", log);
    EXPECT_EQ(restart(), 446);
    EXPECT_EQ(read_file("f").substr(0, 2), "XY") << "the entry after it was replayed";
    EXPECT_TRUE(fs::exists("CMPRECOV.QVS"));
}

TEST_F(Replay, AnUnknownStatusFailsTheStart) {
    write_log("xyz", [](zv::RecovCtx *) {});
    EXPECT_EQ(restart(), 749);
    EXPECT_NE(read_file("ZVSTATUS.QVS").find("Unexpected undo/redo status in encryption key change recovery log: 749"),
              std::string::npos);
    ASSERT_EQ(remove("CMPRECOV.QVS"), 0);
    EXPECT_EQ(INTISAM(10, 20, 4), 0);
}

TEST_F(Replay, DamagedLogsGive36) {
    write_log("undo", [](zv::RecovCtx *ctx) {
        ASSERT_EQ(zv::zvcmprecovSaveDelete(ctx, 0, "nothing"), 0);
    });
    const std::string log = read_file("CMPRECOV.QVS");
    // A data length beyond the end, and a cut entry header.
    std::string longer = log;
    camotest::put_le32(longer, 268 + 264, 1000);
    zvtest::write_file("CMPRECOV.QVS", longer);
    EXPECT_EQ(restart(), 36);
    zvtest::write_file("CMPRECOV.QVS", log.substr(0, log.size() - 10));
    EXPECT_EQ(restart(), 36);
    zvtest::write_file("CMPRECOV.QVS", log.substr(0, 100));
    EXPECT_EQ(restart(), 36);
    zvtest::write_file("CMPRECOV.QVS", "");
    EXPECT_EQ(restart(), 0);
}

// What stands under the log's name and is no file of its own (a FIFO, a
// link, a directory) is passed over by the start, at once, left as it is
// and logged; nothing is written through a link (each start runs in a
// forked copy of this process that an alarm ends, so that a wait fails).
TEST_F(Replay, AStartPassesOverWhatIsNoLog) {
    ASSERT_EQ(mkdir("out", 0755), 0);
    zvtest::write_file("out/target", "outside");
    for (const char *plant : {"fifo", "link", "dir"}) {
        SCOPED_TRACE(plant);
        fs::remove_all("CMPRECOV.QVS");
        fs::remove("ZVSTATUS.QVS");
        if (plant[0] == 'f') {
            ASSERT_EQ(mkfifo("CMPRECOV.QVS", 0644), 0);
        } else if (plant[0] == 'l') {
            fs::create_symlink("out/target", "CMPRECOV.QVS");
        } else {
            fs::create_directory("CMPRECOV.QVS");
        }
        const pid_t pid = fork();
        if (pid == 0) {
            alarm(10);
            _exit(restart() == 0 ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status)) << "the start waited";
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(read_file("out/target"), "outside");
        EXPECT_TRUE(fs::exists(fs::symlink_status("CMPRECOV.QVS")));
        EXPECT_NE(read_file("ZVSTATUS.QVS").find("CMPRECOV.QVS"), std::string::npos);
    }
}

// ---- A crash at every write of a change ------------------------------------------

// A crash at each write of a change, and at the rename and the deletes
// after its commit: the next start leaves the old password alone or the new
// one alone opening every file, and no log.
TEST_F(KeyChange, ACrashAnywhereLeavesOneWholeKey) {
    make_files();
    CLISAM();
    save_files_ = snapshot(all_);
    int undone = 0, redone = 0;
    // Runs the change in a child that ends at the nth call of a kind: true
    // when it ended there, false when the change completed.
    auto crash_at = [&](zv::IoKind kind, long n) {
        SCOPED_TRACE(std::to_string(int(kind)) + " call " + std::to_string(n));
        for (const auto &[name, bytes] : save_files_) zvtest::write_file(name, bytes);
        zv::set_master_password(kOld);
        fflush(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            setZarvoSTDOUT(fopen("/dev/null", "w"));
            if (INTISAM(10, 20, 4) != 0) _exit(3);
            zv::fault_reset();
            zv::fault_exit(kind, n, 77);
            std::string req = change_request(1, kOld, "next-password", {"a", "b", "c", "d"});
            _exit(zvChangeMasterPassword(req.data()) == 0 ? 0 : 4);
        }
        int status = 0;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        EXPECT_TRUE(code == 77 || code == 0) << code;
        // The next start replays what the crash left.
        const std::string log = read_file("CMPRECOV.QVS");
        if (log.size() >= 4) (log.compare(0, 4, "undo") == 0 ? undone : redone)++;
        zv::set_master_password(nullptr);
        EXPECT_EQ(INTISAM(10, 20, 4), 0);
        EXPECT_FALSE(fs::exists("CMPRECOV.QVS"));
        EXPECT_FALSE(fs::exists("CMPRECOVA.QVS"));
        int old_opens = opens_under(kOld), new_opens = opens_under("next-password");
        char msg[128];
        int old_ok = QVSVerifyMasterPassword(kOld, int32_t(strlen(kOld)), "zvsrvr.pvf", msg, sizeof msg);
        int new_ok = QVSVerifyMasterPassword("next-password", 13, "zvsrvr.pvf", msg, sizeof msg);
        EXPECT_TRUE((old_opens == 3 && new_opens == 0 && old_ok == 0 && new_ok == 3) ||
                    (old_opens == 0 && new_opens == 3 && old_ok == 3 && new_ok == 0))
            << old_opens << " " << new_opens << " " << old_ok << " " << new_ok;
        for (const auto &e : fs::directory_iterator("."))
            for (const char *pw : {kOld, "next-password"})
                EXPECT_EQ(read_file(e.path().string()).find(pw), std::string::npos) << e.path() << " " << pw;
        CLISAM();
        return code == 77;
    };
    int crashes = 0;
    for (long n = 1; crash_at(zv::IoKind::Write, n); n++) {
        ASSERT_LT(n, 200);
        crashes++;
    }
    EXPECT_GT(crashes, 8);
    EXPECT_GT(undone, 3) << "crashes before the commit were undone";
    EXPECT_TRUE(crash_at(zv::IoKind::Rename, 1));
    EXPECT_TRUE(crash_at(zv::IoKind::Unlink, 1));
    EXPECT_EQ(redone, 2) << "crashes after the commit were finished";
}

}  // namespace

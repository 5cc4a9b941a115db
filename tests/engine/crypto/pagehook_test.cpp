// The page hook: units enciphered in CBC under the file key with the IV of
// their offset (checked against openssl), the work buffer and the in-place
// road with its undo, the page-size check, the hot path's counts, and
// write-fault sweeps over creates and record updates of an encrypted set.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/fileio.h"
#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "engine/crypto/pagehook.h"
#include "engine/crypto/road.h"
#include "engine/core/fcb.h"
#include "tests/engine/crypto/camofix.h"
#include "tests/engine/crypto/crypto_util.h"
#include "tests/support/fixture.h"
#include "tests/support/setcheck.h"
#include "zarvo/qvs.h"

namespace {

using camotest::CamoTest;
using settest::CustSet;
using zv::IoKind;
using zvtest::Bytes;
using zvtest::read_file;
namespace fs = std::filesystem;

// The IV rule written out: four chained CRC-32 steps over the offset's low
// word from all ones, each value in host order.
Bytes iv_of(uint32_t off) {
    uint32_t c = 0xFFFFFFFFu, w[4];
    for (uint32_t &x : w) x = c = crc32uint(off, c);
    Bytes b(16);
    memcpy(b.data(), w, 16);
    return b;
}

Bytes key_of(size_t n, unsigned char seed) {
    Bytes k(n);
    for (size_t i = 0; i < n; i++) k[i] = static_cast<unsigned char>(seed + 7 * i);
    return k;
}

class PageHook : public CamoTest {
protected:
    void TearDown() override {
        zv::file_key_free(fk);
        CamoTest::TearDown();
    }
    void *hook(Bytes &b, uint32_t off, int op, uint32_t start = 0) {
        return zv::zvcamo81(b.data(), 0, off, int32_t(b.size()), op, start, fk, fk->keylen, fk->cls);
    }
    zv::FileKey *fk = nullptr;
};

TEST_F(PageHook, IvIsTheChainedCrcOfTheUnitOffset) {
    zvtest::for_each_road([&] {
        uint32_t iv[4];
        for (uint32_t off : {0u, 2048u, 4096u, 0x7FFFF800u}) {
            zv::generateIV(off, iv, 4);
            EXPECT_EQ(Bytes(reinterpret_cast<unsigned char *>(iv), reinterpret_cast<unsigned char *>(iv) + 16), iv_of(off));
        }
        EXPECT_NE(iv_of(0), iv_of(2048));
        EXPECT_NE(iv_of(2048), iv_of(4096));
    });
}

// Each unit is AES-256-CBC by itself under the file key with its own IV.
TEST_F(PageHook, UnitsAreCbcUnderTheFileKeyWithTheirOffsetsIv) {
    if (!zvtest::have_tool("openssl")) GTEST_SKIP() << "openssl is not installed";
    zvtest::for_each_road([&] {
        const Bytes key = key_of(32, 3);
        zv::file_key_free(fk);
        fk = zv::file_key_new(8, key.data(), 32);
        ASSERT_NE(fk, nullptr);
        std::mt19937 rng(5);
        const Bytes plain = zvtest::random_bytes(rng, 3 * 2048);
        Bytes buf = plain;
        auto *out = static_cast<unsigned char *>(hook(buf, 16384, 1));
        EXPECT_EQ(buf, plain) << "the caller's buffer stays plain";
        ASSERT_NE(out, buf.data());
        Bytes cipher(out, out + buf.size());
        for (uint32_t u = 0; u < 3; u++) {
            Bytes unit(plain.begin() + 2048 * u, plain.begin() + 2048 * (u + 1)), want;
            ASSERT_TRUE(zvtest::openssl_enc("aes-256-cbc", key, iv_of(16384 + 2048 * u), unit, false, &want));
            EXPECT_EQ(Bytes(cipher.begin() + 2048 * u, cipher.begin() + 2048 * (u + 1)), want) << u;
        }
        Bytes back = cipher;
        hook(back, 16384, 2);
        EXPECT_EQ(back, plain);
        // A unit rewritten alone keeps its IV: the same bytes again.
        Bytes unit(plain.begin() + 2048, plain.begin() + 4096);
        auto *again = static_cast<unsigned char *>(hook(unit, 18432, 1));
        EXPECT_EQ(Bytes(again, again + 2048), Bytes(cipher.begin() + 2048, cipher.begin() + 4096));
    });
}

TEST_F(PageHook, EveryClassRoundTripsAndASkippedPrefixStaysPlain) {
    zvtest::for_each_road([&] {
        struct Case {
            int cls;
            int32_t keylen;
        } const cases[] = {{2, 8}, {2, 24}, {3, 56}, {4, 32}, {5, 16}, {6, 32}, {7, 24}, {8, 32}};
        std::mt19937 rng(9);
        const Bytes plain = zvtest::random_bytes(rng, 3 * 2048);
        for (const Case &c : cases) {
            SCOPED_TRACE(c.cls);
            zv::file_key_free(fk);
            const Bytes key = key_of(size_t(c.keylen), 1);
            fk = zv::file_key_new(c.cls, key.data(), c.keylen);
            ASSERT_NE(fk, nullptr);
            Bytes b = plain;
            // Operation 1 in place (the start lies inside the transfer), then
            // operation 3 puts the caller's bytes back.
            void *out = hook(b, 4096, 1, 6144);
            EXPECT_EQ(out, b.data());
            EXPECT_EQ(Bytes(b.begin(), b.begin() + 2048), Bytes(plain.begin(), plain.begin() + 2048));
            EXPECT_NE(Bytes(b.begin() + 2048, b.end()), Bytes(plain.begin() + 2048, plain.end()));
            Bytes stored = b;
            hook(b, 4096, 3, 6144);
            EXPECT_EQ(b, plain);
            // Each unit deciphers by itself.
            Bytes last(stored.begin() + 4096, stored.end());
            hook(last, 8192, 2);
            EXPECT_EQ(last, Bytes(plain.begin() + 4096, plain.end()));
            hook(stored, 4096, 2, 6144);
            EXPECT_EQ(stored, plain);
        }
        Bytes b = plain;
        EXPECT_EQ(zv::zvcamo81(b.data(), 0, 0, 2048, 1, 0, fk, 0, 0), nullptr) << "class 0";
    });
}

// Without a work buffer operation 1 works in place and operation 3
// deciphers; with one, operation 3 leaves the caller's bytes alone.
TEST_F(PageHook, UndoDeciphersExactlyWhenTheWriteWorkedInPlace) {
    zvtest::for_each_road([&] {
        const Bytes key = key_of(32, 2);
        zv::file_key_free(fk);
        fk = zv::file_key_new(8, key.data(), 32);
        mbfrencam(&zvWNGV->encworkbuf);  // the first road's work buffer would hold the transfer
        std::mt19937 rng(11);
        const Bytes plain = zvtest::random_bytes(rng, 8 * 2048);  // more than the work buffer holds
        Bytes b = plain;
        zv::fail_alloc_at(1);
        void *out = hook(b, 8192, 1);
        zv::fail_alloc_at(0);
        ASSERT_EQ(out, b.data());
        EXPECT_NE(b, plain);
        hook(b, 8192, 3);
        EXPECT_EQ(b, plain);
        out = hook(b, 8192, 1);
        EXPECT_NE(out, b.data());
        EXPECT_EQ(b, plain);
        hook(b, 8192, 3);
        EXPECT_EQ(b, plain);
    });
}

// On the processor's road the units of a transfer are enciphered up to
// eight side by side, straight into the work buffer: the bytes must be the
// portable road's for every AES and RIJ class, transfers of 1 to 11 units,
// with and without a plain prefix, and every road deciphers every other's.
TEST_F(PageHook, EveryRoadStoresTheSameBytes) {
    if (!zvtest::processor_road_complete()) GTEST_SKIP() << "the processor lacks AES: one road only";
    struct RestoreRoad {
        ~RestoreRoad() { zv::crypto_set_road(zv::crypto_hardware()); }
    } restore;
    const auto all = zvtest::roads();
    std::mt19937 rng(64);
    const uint32_t off = 0x10000;
    for (int cls : {5, 7, 8})
        for (int32_t keylen : {16, 32})
            for (uint32_t units : {1u, 2u, 3u, 4u, 5u, 8u, 9u, 11u})
                for (uint32_t encstart : {0u, off + 2048}) {
                    SCOPED_TRACE(testing::Message() << "class " << cls << " key " << keylen << " units " << units
                                                    << " start " << encstart);
                    const Bytes key = zvtest::random_bytes(rng, size_t(keylen));
                    zv::file_key_free(fk);
                    fk = zv::file_key_new(cls, key.data(), keylen);
                    ASSERT_NE(fk, nullptr);
                    const Bytes plain = zvtest::random_bytes(rng, 2048 * units);
                    std::vector<Bytes> stored;
                    for (const zvtest::Road &r : all) {
                        zv::crypto_set_road(r.road);
                        Bytes b = plain;
                        auto *out = static_cast<unsigned char *>(hook(b, off, 1, encstart));
                        stored.emplace_back(out, out + b.size());
                        hook(b, off, 3, encstart);
                        EXPECT_EQ(b, plain) << r.name << ": the caller's bytes after the undo";
                        EXPECT_EQ(zvtest::to_hex(stored.back()), zvtest::to_hex(stored[0])) << r.name;
                    }
                    for (const zvtest::Road &r : all)
                        for (size_t w = 0; w < all.size(); w++) {
                            zv::crypto_set_road(r.road);
                            Bytes b = stored[w];
                            hook(b, off, 2, encstart);
                            EXPECT_EQ(b, plain) << all[w].name << " read on the " << r.name;
                        }
                }
}

TEST_F(PageHook, PageSizesMustCarryWholeUnits) {
    struct Case {
        int32_t size;
        int rc;
        const char *text;
    } const cases[] = {
        {4096, 0, ""},
        {512, 0, ""},
        {2048, 0, ""},
        {65536, 0, ""},
        {3000, 1,
         "A PAGE_SIZE that is larger than the encryption block size of 2048 is required to be a multiple of the "
         "encryption block size."},
        {1000, 2,
         "The encryption block size of 2048 is required to be a multiple of a PAGE_SIZE that is smaller than the "
         "encryption block size."},
    };
    for (const Case &c : cases) {
        char msg[256] = {};
        EXPECT_EQ(zv::chkcamoblk(c.size, msg, sizeof msg), c.rc) << c.size;
        EXPECT_STREQ(msg, c.text) << c.size;
        EXPECT_EQ(zv::chkcamoblk(c.size, nullptr, 0), c.rc) << c.size;
    }
}

// A page size of 384 bytes: the start succeeds and logs why; encrypted
// creates and opens are refused, plain ones work.
TEST_F(PageHook, AnInstanceWithUnfitPagesRefusesEncryptedFiles) {
    encrypt_creates();
    ASSERT_EQ(CREDAT(1, "e.dat", 64, 0, 0), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    CLISAM();
    ASSERT_EQ(INTISAM(10, 20, 3), 0);
    EXPECT_NE(read_file("ZVSTATUS.QVS").find("The encryption block size of 2048 is required to be a multiple of a "
                                             "PAGE_SIZE that is smaller than the encryption block size."),
              std::string::npos);
    EXPECT_EQ(OPNFIL(1, "e.dat", 0), 606);
    encrypt_creates();
    EXPECT_EQ(CREDAT(2, "f.dat", 64, 0, 0), 454);
    EXPECT_EQ(CREIDX(3, "f.idx", 8, 0, 0, 0, 0, 0), 454);
    EXPECT_FALSE(fs::exists("f.dat"));
    EXPECT_FALSE(fs::exists("f.idx"));
    ASSERT_EQ(zvSETENCRYPT(nullptr, nullptr, 0), 0);
    EXPECT_EQ(CREDAT(2, "f.dat", 64, 0, 0), 0);
}

// Record reads and writes of an encrypted file through a small cache: no
// key schedule is built and nothing is allocated per transfer.
TEST_F(PageHook, PageTransfersBuildNoScheduleAndAllocateNothing) {
    encrypt_creates();
    ASSERT_EQ(CREDAT(1, "e.dat", 64, 0, 0), 0);
    std::vector<uint32_t> pos;
    std::string rec(64, 'a');
    for (int i = 0; i < 400; i++) {
        rec[0] = char('A' + i % 26);
        pos.push_back(NEWREC(1));
        ASSERT_EQ(WRTREC(1, pos.back(), rec.data()), 0);
    }
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "e.dat", 0), 0);
    std::string got(64, '\0');
    auto pass = [&] {
        for (size_t i = 0; i < pos.size(); i++) {
            ASSERT_EQ(REDREC(1, pos[i], got.data()), 0);
            ASSERT_EQ(got[0], char('A' + i % 26));
            got[1] = char('a' + i % 3);
            ASSERT_EQ(WRTREC(1, pos[i], got.data()), 0);
        }
    };
    pass();  // the work buffer reaches its size
    const long schedules = zv::file_key_schedules();
    const uint64_t allocs = zv::platform_alloc_count();
    const uint32_t written = zvWNGV->dwritebytes;
    zv::fault_reset();
    pass();
    pass();
    EXPECT_GT(zv::io_calls(IoKind::Read), 50) << "pages were read through the hook";
    // Neighbouring pages go to the file together: counted in pages.
    EXPECT_GT(zvWNGV->dwritebytes - written, 50u * uint32_t(zvWNGV->pc.pagesize))
        << "pages were written through the hook";
    EXPECT_EQ(zv::file_key_schedules(), schedules);
    EXPECT_EQ(zv::platform_alloc_count(), allocs);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

// A write that fails at the seam leaves the caller's buffer and the
// cached page plain, on both roads of operation 1.
TEST_F(PageHook, AFailedWriteLeavesBufferAndCachePlain) {
    encrypt_creates();
    ASSERT_EQ(CREDAT(1, "e.dat", 64, 0, 0), 0);
    uint32_t p = NEWREC(1);
    const std::string rec(64, 'q');
    ASSERT_EQ(WRTREC(1, p, const_cast<char *>(rec.data())), 0);
    ASSERT_EQ(ZVFLUSH(1), 0);
    FCB *f = zvWNGV->fcbtab[1];
    const uint32_t at = f->encstart;
    for (bool in_place : {false, true}) {
        SCOPED_TRACE(in_place ? "in place" : "work buffer");
        std::string buf(4096, 'z');
        const std::string keep = buf;
        if (in_place) {
            mbfrencam(&zvWNGV->encworkbuf);  // the next operation 1 must take memory
            zv::fail_alloc_at(1);
        }
        zv::fault_set(IoKind::Write, 1, EIO);
        uint32_t count = 0;
        EXPECT_EQ(zv::zvsysio81(1, f, 0, 0, at, buf.data(), uint32_t(buf.size()), &count), 37);
        zv::fault_reset();
        zv::fail_alloc_at(0);
        EXPECT_EQ(buf, keep);
        // A record write through the cache whose write-back fails.
        std::string r2(64, in_place ? 'x' : 'y');
        ASSERT_EQ(WRTREC(1, p, r2.data()), 0);
        zv::fault_set(IoKind::Write, 1, EIO, true);
        EXPECT_NE(ZVFLUSH(1), 0);
        zv::fault_reset();
        std::string got(64, '\0');
        ASSERT_EQ(REDREC(1, p, got.data()), 0);
        EXPECT_EQ(got, r2);
        ASSERT_EQ(ZVFLUSH(1), 0);
    }
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "e.dat", 0), 0);
    std::string got(64, '\0');
    ASSERT_EQ(REDREC(1, p, got.data()), 0);
    EXPECT_EQ(got, std::string(64, 'x'));
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

// ---- Write faults over creates and record updates of an encrypted set --------

std::string record(uint32_t n) {
    char r[64];
    memset(r, ' ', sizeof r);
    snprintf(r, 9, "%08u", n);
    snprintf(r + 8, 11, "N%09u", n % 17);
    snprintf(r + 20, 11, "C%09u", n);
    return std::string(r, sizeof r);
}

class CamoFault : public CamoTest {
protected:
    void save_template() {
        fs::create_directory("tpl");
        for (const auto &e : fs::directory_iterator("."))
            if (e.is_regular_file() && e.path().filename() != "ZVSTATUS.QVS")
                fs::copy_file(e.path(), fs::path("tpl") / e.path().filename(), fs::copy_options::overwrite_existing);
    }
    void restore_template() {
        for (const auto &e : fs::directory_iterator("tpl"))
            fs::copy_file(e.path(), e.path().filename(), fs::copy_options::overwrite_existing);
    }
    // One run on fresh files: prepare, the call with write n failing (0:
    // none), the states before and after (also after a reopen).
    int run(CustSet &set, const std::function<void(int)> &prepare, const std::function<int(int)> &op, long n,
            zvtest::SetState *before, zvtest::SetState *after, bool *fired) {
        restore_template();
        EXPECT_EQ(OPNIFIL(&set.ifil), 0);
        int d = set.ifil.tfilno;
        prepare(d);
        EXPECT_EQ(zvtest::check_set(d, before), "");
        zv::fault_reset();
        if (n) zv::fault_set(IoKind::Write, n, EIO);
        int rc = op(d);
        *fired = n && zv::io_calls(IoKind::Write) >= n;
        zv::fault_reset();
        EXPECT_EQ(zvtest::check_set(d, after), "") << "write " << n;
        EXPECT_EQ(CLIFIL(&set.ifil), 0) << "write " << n;
        EXPECT_EQ(OPNIFIL(&set.ifil), 0);
        zvtest::SetState again;
        EXPECT_EQ(zvtest::check_set(set.ifil.tfilno, &again), "") << "reopened, write " << n;
        EXPECT_TRUE(again == *after) << "reopened, write " << n;
        EXPECT_EQ(CLIFIL(&set.ifil), 0);
        return rc;
    }
    void sweep(CustSet &set, const char *what, const std::function<void(int)> &prepare,
               const std::function<int(int)> &op) {
        SCOPED_TRACE(what);
        zvtest::SetState before, after;
        bool fired = false;
        ASSERT_EQ(run(set, prepare, op, 0, &before, &after, &fired), 0);
        ASSERT_NE(before, after);
        int failures = 0;
        for (long n = 1; n < 400; n++) {
            zvtest::SetState b, a;
            int rc = run(set, prepare, op, n, &b, &a, &fired);
            if (HasFatalFailure()) return;
            if (!fired) {
                EXPECT_EQ(rc, 0);
                EXPECT_TRUE(a == after);
                break;
            }
            EXPECT_TRUE(b == before);
            EXPECT_TRUE(a == (rc ? before : after)) << "write " << n << ", code " << rc;
            failures += rc != 0;
        }
        EXPECT_GT(failures, 0);
    }
};

TEST_F(CamoFault, AFailedCreateLeavesNoFile) {
    int failures = 0;
    for (long n = 1;; n++) {
        ASSERT_LT(n, 400);
        CustSet set;
        encrypt_creates();
        zv::fault_set(IoKind::Write, n, EIO);
        int rc = CREIFIL(&set.ifil);
        bool fired = zv::io_calls(IoKind::Write) >= n;
        zv::fault_reset();
        if (!fired) {
            ASSERT_EQ(rc, 0);
            EXPECT_EQ(zvtest::check_set(set.ifil.tfilno), "");
            EXPECT_EQ(CLIFIL(&set.ifil), 0);
            break;
        }
        ASSERT_NE(rc, 0) << "write " << n;
        failures++;
        EXPECT_EQ(files_in(), std::set<std::string>{}) << "write " << n;
        EXPECT_TRUE(all_free(0, 19)) << "write " << n;
    }
    EXPECT_GT(failures, 10);
    EXPECT_EQ(files_in(), (std::set<std::string>{"cust.dat", "cust.idx", "cust_x.idx"}));
}

TEST_F(CamoFault, RecordUpdatesLeaveTheSetWholeOrUnchanged) {
    CustSet set;
    encrypt_creates();
    ASSERT_EQ(CREIFIL(&set.ifil), 0);
    for (uint32_t n = 1; n <= 150; n++) {
        std::string r = record(n * 5);
        ASSERT_EQ(ADDREC(set.ifil.tfilno, r.data()), 0);
    }
    ASSERT_EQ(CLIFIL(&set.ifil), 0);
    save_template();
    auto current = [](uint32_t n) {
        return [n](int d) {
            std::string key = record(n).substr(0, 8), buf(64, '\0');
            ASSERT_EQ(EQLREC(d + 1, key.data(), buf.data()), 0);
        };
    };
    sweep(set, "ADDREC", current(5), [](int d) {
        std::string r = record(333);
        return ADDREC(d, r.data());
    });
    sweep(set, "RWTREC", current(250), [](int d) {
        std::string r = record(777);
        return RWTREC(d, r.data());
    });
    sweep(set, "DELREC", current(250), [](int d) { return DELREC(d); });
}

}  // namespace

// Files at rest: the security record every new file of an encrypted set
// holds (decoded from the bytes on disk by hand), that nothing of the
// records or the key text reaches the disk in clear, that everything reads
// back after a reopen, and the refusals of an open against a damaged or
// foreign security record.
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "engine/core/instance.h"
#include "engine/crypto/masterkey.h"
#include "tests/engine/crypto/camofix.h"
#include "tests/support/fixture.h"
#include "tests/support/setcheck.h"

namespace {

using camotest::CamoTest;
using camotest::DiskRec;
using settest::CustSet;
using zvtest::read_file;
using zvtest::write_file;

const char *const kFiles[] = {"cust.dat", "cust.idx", "cust_x.idx"};

// Record n of the set: number, name and city unique to it, so that any 16
// bytes of it can be looked for on disk.
std::string record(uint32_t n) {
    char r[64];
    memset(r, 0, sizeof r);
    snprintf(r, 9, "%08u", n);
    snprintf(r + 8, 11, "Nm%08u", n * 7 + 1);
    snprintf(r + 20, 11, "Ct%08u", n * 13 + 5);
    snprintf(r + 30, 34, "tail-of-record-%08u-xyz", n);
    return std::string(r, sizeof r);
}

class AtRest : public CamoTest {
protected:
    // Creates the set with code "62" pending and adds n records.
    void make_set(CustSet &set, uint32_t n) {
        encrypt_creates();
        ASSERT_EQ(CREIFIL(&set.ifil), 0);
        int d = set.ifil.tfilno;
        for (uint32_t i = 0; i < n; i++) {
            std::string r = record(i);
            ASSERT_EQ(ADDREC(d, r.data()), 0) << i;
        }
        ASSERT_EQ(CLIFIL(&set.ifil), 0);
    }
};

TEST_F(AtRest, EveryFileOfTheSetHoldsItsOwnSecurityRecord) {
    CustSet set;
    make_set(set, 0);
    const uint32_t U = 8192;  // the page size is 512 bytes
    std::set<std::string> blocks;
    for (const char *name : kFiles) {
        SCOPED_TRACE(name);
        std::string f = read_file(name);
        DiskRec r = camotest::disk_rec(f);
        ASSERT_NE(r.pos, 0u);
        EXPECT_EQ(r.mark, 0xFEFE);
        EXPECT_EQ(r.type, 0u);
        EXPECT_EQ(r.number, 6u);
        EXPECT_EQ(r.usedlen, 152u + U);
        EXPECT_EQ(r.keylen, 32);
        EXPECT_EQ(r.cls, 8);
        EXPECT_EQ(r.unit, 2048u);
        EXPECT_EQ(r.flags, 1u);
        // The file ended with this resource's area when the start was set.
        EXPECT_EQ(r.start, (r.pos + r.arealen) / U * U);
        EXPECT_LT(camotest::body_at(r) + 152, r.start);
        blocks.insert(r.keyblock);
        EXPECT_EQ(f.find("secret-key-text"), std::string::npos);
    }
    EXPECT_EQ(blocks.size(), 3u) << "each file has its own key";
}

TEST_F(AtRest, NothingLiesInClearAboveTheStartAndEverythingReadsBack) {
    CustSet set;
    const uint32_t n = 10000;
    make_set(set, n);
    // Every 16-byte window of what the files hold from their start on.
    std::vector<std::string> images;
    std::unordered_set<std::string_view> windows;
    for (const char *name : kFiles) images.push_back(read_file(name));
    for (const std::string &f : images) {
        DiskRec r = camotest::disk_rec(f);
        ASSERT_NE(r.start, 0u);
        ASSERT_LT(r.start, f.size());
        for (size_t i = r.start; i + 16 <= f.size(); i++) windows.insert(std::string_view(f).substr(i, 16));
    }
    size_t found = 0;
    for (uint32_t i = 0; i < n; i++) {
        std::string r = record(i);
        for (size_t k = 0; k + 16 <= r.size(); k += 4) found += windows.count(std::string_view(r).substr(k, 16));
    }
    EXPECT_EQ(found, 0u);

    ASSERT_EQ(OPNIFIL(&set.ifil), 0);
    int d = set.ifil.tfilno;
    for (uint32_t i = 0; i < n; i += 97) {
        std::string r = record(i), got(64, '\0');
        ASSERT_EQ(EQLREC(d + 1, r.data(), got.data()), 0) << i;
        EXPECT_EQ(got, r) << i;
    }
    zvtest::SetState st;
    EXPECT_EQ(zvtest::check_set(d, &st), "");
    std::multiset<std::string> want, got;
    for (uint32_t i = 0; i < n; i++) want.insert(record(i));
    for (const auto &[pos, rec] : st.records) got.insert(rec);
    EXPECT_TRUE(got == want) << "every record reads back";
    for (int k = 0; k < 3; k++) {
        char enc = 0;
        int32_t len = 1;
        int filno = k == 0 ? d : k == 1 ? d + 1 : d + 3;
        ASSERT_EQ(GETFILX(filno, 1, &enc, &len), 0) << filno;
        EXPECT_EQ(enc, 1) << filno;
    }
    EXPECT_EQ(CLIFIL(&set.ifil), 0);
}

// Opening a data file whose security record or master key does not fit.
TEST_F(AtRest, OpenRefusesForeignOrDamagedSecurityRecords) {
    CustSet set;
    make_set(set, 20);
    const std::string good = read_file("cust.dat");
    const DiskRec r = camotest::disk_rec(good);
    ASSERT_NE(r.pos, 0u);
    const size_t b = camotest::body_at(r);
    struct Case {
        const char *what;
        std::function<void(std::string &)> damage;
        std::function<void()> key;
        int code;
    };
    auto none = [](std::string &) {};
    auto keep = [] {};
    auto word = [&](size_t off, uint32_t v) { return [=](std::string &f) { camotest::put_le32(f, b + off, v); }; };
    const Case cases[] = {
        {"another master key", none, [] { zv::set_master_password("other"); }, 606},
        {"all-zero master key", none, [] { zv::set_master_password(nullptr); }, 606},
        {"16-byte master key, file made under 32", none, [] { zv::set_master_key_length(16); }, 952},
        {"masking class", word(24, 1), keep, 606},
        {"type not 0", word(0, 3), keep, 408},
        {"number not 6", word(4, 7), keep, 408},
        {"class 0 with key length 5", [&](std::string &f) {
             camotest::put_le32(f, b + 24, 0);
             camotest::put_le32(f, b + 20, 5);
         }, keep, 408},
        {"class 8 with key length 200", word(20, 200), keep, 408},
        {"class 9", word(24, 9), keep, 408},
        {"unit 4096", word(32, 4096), keep, 408},
        {"start 100", word(16, 100), keep, 408},
        {"start 0", word(16, 0), keep, 408},
        {"resource shorter than its key block", [&](std::string &f) { camotest::put_le32(f, r.pos + 6, 100); },
         keep, 408},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string f = good;
        c.damage(f);
        write_file("cust.dat", f);
        c.key();
        EXPECT_EQ(OPNFIL(20, "cust.dat", 0), c.code);
        EXPECT_EQ(TSTFILNUM(20), 0) << "the number stays free";
        zv::set_master_key_length(32);
        zv::set_master_password("pw");
    }
    write_file("cust.dat", good);
    // Opened as damaged, it still needs its key.
    zv::set_master_password("other");
    EXPECT_EQ(OPNFIL(20, "cust.dat", 0x4800), 606);
    zv::set_master_password("pw");
    ASSERT_EQ(OPNFIL(20, "cust.dat", 0), 0);
    EXPECT_EQ(CLSFIL(20, 0), 0);
}

// A data file with 8-byte offsets: its resource header is 30 bytes long.
TEST_F(AtRest, FilesWithEightByteOffsetsReadBack) {
    encrypt_creates("8");
    XCREblk x{};
    x.mode = 0x40;
    ASSERT_EQ(CREDATX8(1, "w.dat", 64, 0, 0, 0, nullptr, nullptr, &x), 0);
    std::vector<uint32_t> pos;
    for (uint32_t i = 0; i < 300; i++) {
        std::string r = record(i);
        pos.push_back(NEWREC(1));
        ASSERT_EQ(zvGETHGH(), 0);
        ASSERT_EQ(WRTREC(1, pos.back(), r.data()), 0);
    }
    ASSERT_EQ(CLSFIL(1, 0), 0);
    const std::string f = read_file("w.dat");
    const uint32_t at = camotest::le32(f, 116);
    ASSERT_NE(at, 0u);
    EXPECT_EQ(camotest::le32(f, at + 30 + 4), 6u) << "number 6 after a 30-byte header";
    EXPECT_EQ(camotest::le32(f, at + 30 + 24), 5u) << "class 5";
    EXPECT_EQ(f.find(record(7)), std::string::npos);
    ASSERT_EQ(OPNFIL(1, "w.dat", 0), 0);
    for (uint32_t i = 0; i < 300; i++) {
        std::string got(64, '\0');
        ASSERT_EQ(REDREC(1, pos[i], got.data()), 0) << i;
        EXPECT_EQ(got, record(i)) << i;
    }
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

}  // namespace

// The compaction's options: new serial numbers, the variable format for a
// fixed-length file, new encryption, the encryption an encrypted set keeps,
// and the rejected keys with and without their purge.
#include <cstring>
#include <string>
#include <vector>

#include "tests/engine/maint/cmpfix.h"
#include "tests/support/damage.h"
#include "tests/support/verifyset.h"

namespace {

using namespace cmptest;

uint32_t le32_at(const std::string &s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; i--) v = (v << 8) | uint8_t(s[at + size_t(i)]);
    return v;
}

class CmpOptionTest : public CmpTest {
protected:
    // A set with a unique index on the number and a serial index (segment
    // `ser`) in a file of its own; n records added, every third deleted.
    struct SerialSet {
        ISEG sn[1] = {{4, 4, 1}};
        ISEG ss[1];
        IIDX idx[2];
        IFIL ifil;
        XCREblk x[3] = {};
        explicit SerialSet(ISEG ser) : ss{ser} {
            idx[0] = IIDX{4, 0, 0, 0, 0, 1, sn, nullptr, nullptr, nullptr, nullptr};
            idx[1] = IIDX{4, 0, 0, 0, 0, 1, ss, nullptr, "*ser_s.idx", nullptr, nullptr};
            ifil = IFIL{"ser", -1, 64, 0, 0, 2, 0, 0, idx, nullptr, nullptr, 0};
            for (XCREblk &b : x) b.mode = 0x02;
        }
    };
    static void make(SerialSet &s, bool schema, uint32_t n) {
        ASSERT_EQ(CREIFILX8(&s.ifil, nullptr, nullptr, 0, nullptr, nullptr, s.x), 0);
        const int d = s.ifil.tfilno;
        if (schema) {
            ASSERT_EQ(PUTDODA(d, rbltest::kRecDoda, 6), 0);
        }
        for (uint32_t k = 1; k <= n; k++) {
            std::string img = rbltest::image(rbltest::rec(k));
            ASSERT_EQ(ADDREC(d, img.data()), 0);
        }
        for (uint32_t k = 3; k <= n; k += 3) {
            char buf[64];
            ASSERT_EQ(EQLREC(d + 1, &k, buf), 0);
            ASSERT_EQ(DELREC(d), 0);
        }
        ASSERT_EQ(CLIFIL(&s.ifil), 0);
    }
    static int compact_set(SerialSet &s, int16_t options) {
        s.ifil.tfilno = options;
        return CMPIFILX8(&s.ifil, nullptr, nullptr, 0, nullptr, nullptr, s.x);
    }
    // The 4-byte field at `off` of every live record of the closed set, in
    // file order; the set's checker must agree.
    static std::vector<uint32_t> fields(SerialSet &s, size_t off) {
        std::vector<uint32_t> out;
        s.ifil.tfilno = -1;
        if (OPNIFILX(&s.ifil, nullptr, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "the set does not open";
            return out;
        }
        zvtest::SetState st;
        EXPECT_EQ(zvtest::check_set(s.ifil.tfilno, &st), "");
        for (auto &kv : st.records) out.push_back(le32_at(kv.second, off));
        EXPECT_EQ(CLIFIL(&s.ifil), 0);
        return out;
    }
};

// New serial numbers rise in file order from the new file's counter, for a
// serial segment at an offset and for one taken from a schema field.
TEST_F(CmpOptionTest, RenumberedSerialNumbersRiseInFileOrder) {
    struct Case {
        const char *what;
        ISEG seg;
        size_t off;
    } cases[] = {{"serial segment at offset 56", {56, 4, 3}, 56}, {"schema field amount", {4, 4, 257}, 52}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SerialSet s(c.seg);
        make(s, true, 30);
        const std::vector<uint32_t> old = fields(s, c.off);
        ASSERT_EQ(old.size(), 20u);
        ASSERT_NE(old.back(), 20u) << "deleted records left gaps";
        // Without the option the numbers stay.
        ASSERT_EQ(compact_set(s, -1), 0) << status_log();
        EXPECT_EQ(fields(s, c.off), old);
        ASSERT_EQ(compact_set(s, bits(0x010)), 0) << status_log();
        const std::vector<uint32_t> now = fields(s, c.off);
        ASSERT_EQ(now.size(), old.size());
        for (size_t i = 0; i < now.size(); i++) EXPECT_EQ(now[i], uint32_t(i + 1)) << i;
        EXPECT_TRUE(zvtest::verify_set("ser.dat"));
        // The next record added takes the next number.
        s.ifil.tfilno = -1;
        ASSERT_EQ(OPNIFILX(&s.ifil, nullptr, nullptr, nullptr), 0);
        std::string img = rbltest::image(rbltest::rec(1000));
        ASSERT_EQ(ADDREC(s.ifil.tfilno, img.data()), 0);
        EXPECT_EQ(le32_at(img, c.off), uint32_t(now.size() + 1));
        ASSERT_EQ(DELIFIL(&s.ifil), 0);
    }
}

// A serial field taken from a schema that cannot be placed: 528 for a
// length other than the field's, 199 without a schema.
TEST_F(CmpOptionTest, SchemaSerialFieldThatCannotBePlaced) {
    struct Case {
        const char *what;
        bool schema;
        ISEG seg;
        int want;
    } cases[] = {{"length other than the field's", true, {4, 2, 257}, 528},
                 {"no schema", false, {4, 4, 257}, 199}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SerialSet s(ISEG{56, 4, 3});
        make(s, c.schema, 12);
        const Files orig = files();
        s.ss[0] = c.seg;
        EXPECT_EQ(compact_set(s, bits(0x010)), c.want);
        EXPECT_TRUE(files() == orig);
        s.ss[0] = ISEG{56, 4, 3};
        s.ifil.tfilno = -1;
        ASSERT_EQ(OPNIFILX(&s.ifil, nullptr, nullptr, nullptr), 0);
        ASSERT_EQ(DELIFIL(&s.ifil), 0);
    }
}

// A fixed-length file becomes a variable-format file that holds records of
// the fixed length: the fixed-length calls work on it, other lengths are
// refused.
TEST_F(CmpOptionTest, FixedLengthFileBecomesVariableFormat) {
    RblSet s("conv", Kind::Fixed);
    const std::vector<std::string> live = fill(s, 80, 4);
    ASSERT_EQ(compact(s, bits(0x020)), 0) << status_log();
    s.ifil.tfilno = -1;
    ASSERT_EQ(OPNIFIL(&s.ifil), 0);
    const int d = s.ifil.tfilno;
    EXPECT_EQ(GETFIL(d, 2), 2) << "variable-length kind";
    EXPECT_EQ(GETFIL(d, 3) & 0x4, 0x4) << "file mode";
    EXPECT_EQ(GETFIL(d, 34) & 0x600, 0x400);
    zvtest::SetState st;
    EXPECT_EQ(zvtest::check_set(d, &st), "");
    std::vector<std::string> now;
    for (auto &kv : st.records) now.push_back(kv.second);
    EXPECT_EQ(now, live);
    // Reads at the fixed length; add, rewrite and delete of that length.
    rbltest::Rec r = rbltest::rec(10);
    char buf[200];
    int32_t len = sizeof buf;
    ASSERT_EQ(EQLVREC(d + 1, &r.number, buf, &len), 0);
    EXPECT_EQ(len, 64);
    EXPECT_EQ(std::string(buf, 64), live.front());
    rbltest::Rec added = rbltest::rec(7777);
    EXPECT_EQ(ADDREC(d, &added), 0);
    rbltest::Rec changed = rbltest::rec(10);
    memcpy(changed.name, "Changed", 7);
    ASSERT_EQ(EQLREC(d + 1, &changed.number, buf), 0);
    EXPECT_EQ(RWTREC(d, &changed), 0);
    std::string longer = rbltest::image(rbltest::rec(8888), 20);
    EXPECT_EQ(ADDVREC(d, longer.data(), int32_t(longer.size())), 945);
    EXPECT_EQ(zvtest::check_set(d), "");
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    EXPECT_TRUE(zvtest::verify_set(s.dat()));
    // Compacted again, it stays so.
    s.ifil.dfilmod |= 4;
    ASSERT_EQ(compact(s), 0) << status_log();
    s.ifil.tfilno = -1;
    ASSERT_EQ(OPNIFIL(&s.ifil), 0);
    EXPECT_EQ(GETFIL(s.ifil.tfilno, 34) & 0x600, 0x400);
    EXPECT_EQ(ADDVREC(s.ifil.tfilno, longer.data(), int32_t(longer.size())), 945);
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
}

// Two records whose numbers (5 and 9 of the set's) are taken already,
// written into the closed set without their keys.
void add_duplicates(RblSet &s) {
    s.ifil.tfilno = -1;
    ASSERT_EQ(OPNIFIL(&s.ifil), 0);
    const int d = s.ifil.tfilno;
    for (uint32_t k : {5u, 9u}) {
        rbltest::Rec r = rbltest::rec(k * 10);
        memcpy(r.name, "Duplicate", 9);
        zvSETHGH(0);
        uint32_t pos = NEWREC(d);
        ASSERT_EQ(WRTREC(d, pos, &r), 0);
    }
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
}

// Rejected keys: without the purge the records stay and the report names
// them (652); with it they leave the data file (650).
TEST_F(CmpOptionTest, RejectedKeysReportedOrPurged) {
    for (bool purge : {false, true}) {
        SCOPED_TRACE(purge ? "purge" : "report");
        RblSet s(purge ? "pur" : "rep", Kind::Fixed);
        std::vector<std::string> live = fill(s, 40, 0);
        add_duplicates(s);
        ASSERT_EQ(compact(s, purge ? bits(0x004) : int16_t(-1)), purge ? 650 : 652) << status_log();
        EXPECT_NE(status_log().find("2 duplicate key(s) and/or bad serial number(s) rejected..."), std::string::npos);
        EXPECT_EQ(entry_after("rejected..."), s.dat());
        const std::string rejname = entry_after("rejected...", 1);
        std::string verdict;
        std::vector<std::string> now = in_order(s, &verdict);
        if (purge) {
            EXPECT_EQ(now, live);
            EXPECT_EQ(verdict, "");
        } else {
            EXPECT_EQ(now.size(), live.size() + 2);
            const std::string report = zvtest::read_file(rejname);
            EXPECT_NE(report.find("Duplicate key(s) found for"), std::string::npos) << report;
            EXPECT_NE(report.find("2 entries rejected (duplicates)."), std::string::npos) << report;
        }
    }
}

// The legacy option values: -99 stores the given definition, -101 purges
// the rejected records, -200 does both; any other value selects nothing.
TEST_F(CmpOptionTest, LegacyOptionValues) {
    const struct Case {
        const char *name;
        int16_t value;
        bool stored, purged;
    } cases[] = {{"lg99", -99, true, false}, {"lg101", -101, false, true}, {"lg200", -200, true, true},
                 {"lg98", -98, false, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        RblSet s(c.name, Kind::Fixed);
        const std::vector<std::string> live = fill(s, 40, 0);
        add_duplicates(s);
        s.idx[0].ridxnam = "Renamed";
        ASSERT_EQ(compact(s, c.value), c.purged ? 650 : 652) << status_log();
        EXPECT_EQ(s.ifil.tfilno, c.value) << "tfilno is restored";
        std::string verdict;
        EXPECT_EQ(in_order(s, &verdict).size(), live.size() + (c.purged ? 0 : 2));
        const int d = OPNRFIL(-1, s.dat().c_str(), 0);
        ASSERT_GE(d, 0);
        char name[64] = {};
        EXPECT_EQ(iGETNAM(d + 1, name, sizeof name, 3), 0);
        EXPECT_STREQ(name, c.stored ? "Renamed" : "ByNumber");
        EXPECT_EQ(CLRFIL(d), 0);
    }
}

// ---- Encryption -------------------------------------------------------------------------

class CmpEncryptionTest : public CmpOptionTest {
protected:
    void SetUp() override {
        with_encryption();
        CmpOptionTest::SetUp();
    }
    // The security record of a file as stored: class, key length and the
    // sealed key block.
    struct Sec {
        int32_t cls = 0, keylen = 0;
        std::string block;
    };
    static Sec security(const std::string &file) {
        const std::string f = zvtest::read_file(file);
        Sec s;
        const uint32_t pos = le32_at(f, 116);
        if (!pos || pos + 22 + 152 > f.size()) return s;
        s.keylen = int32_t(le32_at(f, pos + 22 + 20));
        s.cls = int32_t(le32_at(f, pos + 22 + 24));
        s.block = f.substr(pos + 22 + 40, 112);
        return s;
    }
};

// With option 0x040 (allowed by cmpchgenc) the new files take the pending
// cipher.
TEST_F(CmpEncryptionTest, NewEncryptionTakesThePendingCipher) {
    RblSet s("enc", Kind::Fixed);
    const std::vector<std::string> live = fill(s, 60, 3);
    for (const std::string &f : {s.dat(), s.idxfile(), s.nm()}) ASSERT_EQ(security(f).cls, 0) << f;
    ASSERT_EQ(zvSETENCRYPT("60", "ignored", 1), 0);
    cmpchgenc = 1;
    ASSERT_EQ(compact(s, bits(0x040)), 0) << status_log();
    zvSETENCRYPT(nullptr, nullptr, 0);
    for (const std::string &f : {s.dat(), s.idxfile(), s.nm()}) {
        const Sec sec = security(f);
        EXPECT_EQ(sec.cls, 8) << f;
        EXPECT_EQ(sec.keylen, 16) << f;
    }
    std::string verdict;
    EXPECT_EQ(in_order(s, &verdict), live);
    EXPECT_EQ(verdict, "");
    EXPECT_TRUE(zvtest::verify_set(s.dat()));
}

// Without it an encrypted set keeps its class and key length under new
// keys, whatever cipher is pending; an index file that did not exist is
// created like the data file.
TEST_F(CmpEncryptionTest, EncryptedSetKeepsItsCipherUnderNewKeys) {
    RblSet s("kept", Kind::Encrypted);
    const std::vector<std::string> live = fill(s, 60, 3);
    const Sec dat = security(s.dat()), idx = security(s.idxfile());
    ASSERT_EQ(dat.cls, 8);
    zvtest::delete_file(s.nm());
    ASSERT_EQ(zvSETENCRYPT("10", "ignored", 1), 0);  // Blowfish pending
    ASSERT_EQ(compact(s), 0) << status_log();
    zvSETENCRYPT(nullptr, nullptr, 0);
    const Sec ndat = security(s.dat()), nidx = security(s.idxfile()), nnm = security(s.nm());
    EXPECT_EQ(ndat.cls, dat.cls);
    EXPECT_EQ(ndat.keylen, dat.keylen);
    EXPECT_NE(ndat.block, dat.block) << "a new key";
    EXPECT_EQ(nidx.cls, idx.cls);
    EXPECT_EQ(nidx.keylen, idx.keylen);
    EXPECT_NE(nidx.block, idx.block) << "a new key";
    EXPECT_EQ(nnm.cls, dat.cls) << "the new index file is encrypted like the data file";
    EXPECT_EQ(nnm.keylen, dat.keylen);
    std::string verdict;
    EXPECT_EQ(in_order(s, &verdict), live);
    EXPECT_EQ(verdict, "");
}

}  // namespace

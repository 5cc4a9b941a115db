// Where the rebuild does better than a literal reading of its steps would:
// a data file that no normal open accepts, an old index that no longer
// opens, a duplicated data-access resource, growth fill at the end of a
// file, counts logged only when they changed, the definition stored on
// request, the purge of records longer than the fixed part, and the schema
// serial check.
#include <cstring>
#include <string>

#include "engine/core/instance.h"
#include "engine/maint/rblifil.h"
#include "tests/engine/maint/rblfix.h"
#include "tests/support/child.h"
#include "tests/support/damage.h"
#include "tests/support/verifyset.h"

namespace {

using namespace rbltest;

class RblMendTest : public RblTest {};

// A broken link of the resource ring: the data file no longer opens (the
// open reads its resources), so a check by opening it would stop the
// rebuild that is meant to repair exactly this.
TEST_F(RblMendTest, ADataFileThatNoOpenAcceptsIsStillRebuilt) {
    RblSet s("ring", Kind::Fixed);
    std::multiset<std::string> live = build(s, 30);
    const uint32_t anchor = zvtest::get_le32(s.dat(), 12);
    zvtest::put_le32(s.dat(), anchor + 14, 0x7FFFFF00u);
    s.ifil.tfilno = -1;
    ASSERT_NE(OPNIFIL(&s.ifil), 0) << "the damage stops a normal open";
    ASSERT_EQ(s.rebuild(), 0);
    std::string verdict;
    EXPECT_EQ(contents(s, &verdict), live);
    EXPECT_EQ(verdict, "");
    EXPECT_EQ(resource_of(s.ifil.tfilno, 1), app_resource(1, "data file resource"));
    CLIFIL(&s.ifil);
}

// An old index file whose header is damaged: its resources cannot be read
// (the log says so), and the rebuild goes on.
TEST_F(RblMendTest, AnOldIndexThatDoesNotOpenDoesNotStopTheRebuild) {
    RblSet s("oldix", Kind::Fixed);
    std::multiset<std::string> live = build(s, 30);
    zvtest::write_bytes(s.nm(), 64, std::string(4, '\x7F'));  // file kind and key length
    ASSERT_EQ(s.rebuild(), 0) << status_log();
    EXPECT_NE(status_log().find("Rebuild could not open index file"), std::string::npos);
    std::string verdict;
    EXPECT_EQ(contents(s, &verdict), live);
    EXPECT_EQ(verdict, "");
    CLIFIL(&s.ifil);
    EXPECT_TRUE(zvtest::verify_set(s.dat()));
}

// An index file that ends inside its header (a create or copy cut short):
// it cannot be read as an index, so the rebuild makes it again from the
// records instead of stopping on the short read every time.
TEST_F(RblMendTest, AnIndexFileShorterThanItsHeaderIsRebuilt) {
    const struct {
        const char *what;
        bool second;     // the file of index 2 (else the file of indexes 0 and 1)
        int64_t size;    // cut to this; negative: that many bytes short of the whole header
    } cases[] = {
        {"100 bytes", false, 100}, {"empty", false, 0}, {"just under the extended part's end", false, -1},
        {"100 bytes", true, 100},  {"empty", true, 0},  {"just under the extended part's end", true, -1},
    };
    int run = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.what) + (c.second ? " (own file)" : " (with a member)"));
        RblSet s(("cut" + std::to_string(run++)).c_str(), Kind::Fixed);
        std::multiset<std::string> live = build(s, 40);
        const std::string file = c.second ? s.nm() : s.idxfile();
        const uint32_t whole = zvtest::header_bytes(file);
        ASSERT_GT(whole, 128u) << "the set's index files have an extended part";
        zvtest::truncate_to(file, c.size < 0 ? uint64_t(whole + c.size) : uint64_t(c.size));
        ASSERT_EQ(s.rebuild(), 0) << status_log();
        EXPECT_NE(status_log().find("Rebuild could not open index file (36)"), std::string::npos) << status_log();
        EXPECT_EQ(entry_after("Rebuild could not open index file (36)"), file);
        std::string verdict;
        EXPECT_EQ(contents(s, &verdict), live);
        EXPECT_EQ(verdict, "");
        // The cut file's resources are gone with it; the other file keeps its own.
        EXPECT_EQ(resource_of(s.ifil.tfilno + 1, 1), c.second ? app_resource(1, "index file resource") : "");
        CLIFIL(&s.ifil);
        EXPECT_TRUE(indexes_verify(s));
        EXPECT_TRUE(zvtest::verify_set(s.dat()));
    }
}

// A set created and filled by a process that ended without closing it: the
// header on disk is the one its first change wrote, and the set's
// definition (added by the create after that) lies beyond the last byte
// used it gives. The damaged-file mode in both the data and the index
// modes opens the set as it stands; the rebuild then restores every record
// that reached the file.
TEST_F(RblMendTest, ASetLeftOpenByAProcessThatEndedOpensAsDamagedAndIsRebuilt) {
    for (Kind k : {Kind::Fixed, Kind::Variable, Kind::Wide}) {
        SCOPED_TRACE(kind_name(k));
        RblSet s((std::string("left") + std::to_string(int(k))).c_str(), k);
        const uint32_t n = 300;
        std::multiset<std::string> live;
        for (uint32_t i = 1; i <= n; i++) live.insert(image(rec(i), s.variable() ? i % 9 * 11 : 0));
        // The child ends without closing anything; its records were put in
        // the file (the data pages written), its headers not again.
        zvtest::ChildResult c = zvtest::run_in_child([&] {
            zvtest::ChildResult r;
            if (INTISAMX(16, 60, 4, 32, kProfile) != 0) return r;
            const int d = s.create();
            r.rc = d < 0 ? -1 : 0;
            for (uint32_t i = 1; i <= n && r.rc == 0; i++) {
                std::string img = image(rec(i), s.variable() ? i % 9 * 11 : 0);
                r.rc = s.variable() ? ADDVREC(d, img.data(), int32_t(img.size())) : ADDREC(d, img.data());
                if (r.rc == 0) r.extra = int(i);
            }
            if (r.rc == 0) r.rc = ZVFLUSH(d);
            return r;
        });
        ASSERT_TRUE(c.ok);
        ASSERT_EQ(c.rc, 0);
        ASSERT_EQ(c.extra, int(n));
        const uint64_t disk_end = uint64_t(zvtest::get_le32(s.dat(), 8)) + 1;
        ASSERT_EQ(zvtest::read_bytes(s.dat(), 56, 1), "\xFF") << "not closed";
        ASSERT_LT(disk_end, zvtest::file_size(s.dat())) << "the header on disk is older than the file";
        const int16_t dmode = s.ifil.dfilmod, imode = s.ifil.ifilmod;
        const struct {
            uint16_t dbits, ibits;
            int want;
        } modes[] = {{0, 0, 14}, {0x4000, 0, 14}, {0, 0x4000, 14}, {0x4000, 0x4000, 0}, {0x4008, 0x4008, 0}};
        for (const auto &m : modes) {
            SCOPED_TRACE("dfilmod bits " + std::to_string(m.dbits) + ", ifilmod bits " + std::to_string(m.ibits));
            s.ifil.dfilmod = int16_t(dmode | m.dbits);
            s.ifil.ifilmod = int16_t(imode | m.ibits);
            s.ifil.tfilno = -1;
            ASSERT_EQ(OPNIFIL(&s.ifil), m.want) << "file " << zvGetIsamFileNbr();
            if (m.want) continue;
            // Nothing beyond the header's last byte used is taken as the file's.
            zvSETHGH(0);
            EXPECT_EQ(uint64_t(GETFIL(s.ifil.tfilno, 10)), disk_end);
            EXPECT_EQ(CLIFIL(&s.ifil), 0);
        }
        s.ifil.dfilmod = dmode;
        s.ifil.ifilmod = imode;
        ASSERT_EQ(s.rebuild(), 0) << status_log();
        std::string verdict;
        EXPECT_EQ(contents(s, &verdict), live);
        EXPECT_EQ(verdict, "");
        CLIFIL(&s.ifil);
        EXPECT_TRUE(indexes_verify(s));
    }
}

// A second copy of the identity resource: the counts come from the ring,
// where one copy stays, so the file opens (no 916) and keeps its identity.
TEST_F(RblMendTest, ADuplicatedIdentityResourceIsCountedOnce) {
    RblSet s("dar2", Kind::Variable);
    std::multiset<std::string> live = build(s, 20);
    const uint32_t pos = identity_resource(s);
    ASSERT_NE(pos, 0u);
    std::string area = zvtest::read_bytes(s.dat(), pos, 22 + 256);
    zvtest::write_bytes(s.dat(), uint64_t(zvtest::get_le32(s.dat(), 8)) + 1, area);
    ASSERT_EQ(s.rebuild(), 0);
    std::string verdict;
    EXPECT_EQ(contents(s, &verdict), live);
    EXPECT_EQ(verdict, "");
    int64_t next = 0;
    EXPECT_EQ(getIDfield(s.ifil.tfilno, 2, &next), 0);
    EXPECT_EQ(next, 21);
    CLIFIL(&s.ifil);
}

// Space a growth claimed at the end of a variable-length file holds 0xFF
// fill: the end of the areas, not an unreadable stretch.
TEST_F(RblMendTest, GrowthFillAtTheEndIsNoUnreadableStretch) {
    RblSet s("grow", Kind::Variable);
    s.ifil.dxtdsiz = 16384;
    std::multiset<std::string> live = build(s, 20);
    const uint64_t size = zvtest::file_size(s.dat());
    const uint64_t used = uint64_t(zvtest::get_le32(s.dat(), 8)) + 1;
    ASSERT_GT(size, used + 1000) << "the file holds fill past its last byte used";
    ASSERT_EQ(s.rebuild(), 0) << status_log();
    std::string verdict;
    EXPECT_EQ(contents(s, &verdict), live);
    EXPECT_EQ(verdict, "");
    CLIFIL(&s.ifil);
}

// A clean variable-length file that is not scanned keeps its free-space
// index: only a scan builds it again.
TEST_F(RblMendTest, AnUnscannedVariableFileKeepsItsFreeSpaceIndex) {
    RblSet s("keepfree", Kind::Variable);
    build(s, 30);
    const uint32_t keys = zvtest::get_le32(s.dat(), 24), root = zvtest::get_le32(s.dat(), 28);
    ASSERT_GT(keys, 0u) << "deleted records left free areas";
    int32_t tail = 0;
    ASSERT_EQ(RBLDATX(1, s.dat().c_str(), 64, 0, 0x4, nullptr, 0, 0, &tail), 0);
    EXPECT_EQ(zvtest::get_le32(s.dat(), 24), keys);
    EXPECT_EQ(zvtest::get_le32(s.dat(), 28), root);
    std::string verdict;
    contents(s, &verdict);
    EXPECT_EQ(verdict, "");
    const int d = s.ifil.tfilno;
    std::string img = image(rec(777), 40);
    EXPECT_EQ(ADDVREC(d, img.data(), int32_t(img.size())), 0) << "a free area is found again";
    CLIFIL(&s.ifil);
    EXPECT_TRUE(zvtest::verify_set(s.dat()));
}

// Counts of data-access resources are logged when the file holds other
// counts than its header said, not on every run.
TEST_F(RblMendTest, UnchangedCountsAreNotLogged) {
    RblSet s("quiet", Kind::Variable);
    build(s, 10);
    ASSERT_EQ(s.rebuild(), 0);
    EXPECT_EQ(status_log().find("DAR type #"), std::string::npos) << status_log();
}

// -99 stores the given definition in the data file.
TEST_F(RblMendTest, TheDefinitionIsStoredOnRequest) {
    RblSet s("upd", Kind::Fixed);
    build(s, 10);
    s.idx[0].ridxnam = "Renamed";
    ASSERT_EQ(s.rebuild(-99), 0);
    int d = OPNRFIL(-1, s.dat().c_str(), 0);
    ASSERT_GE(d, 0);
    char name[64] = {};
    EXPECT_EQ(iGETNAM(d + 1, name, sizeof name, 3), 0);
    EXPECT_STREQ(name, "Renamed");
    CLRFIL(d);
}

// The purge reads rejected records longer than the fixed part back into
// the work buffer, grown to each.
TEST_F(RblMendTest, ThePurgeTakesLongRecords) {
    RblSet s("longp", Kind::Variable);
    build(s, 30);
    std::string verdict;
    zvtest::SetState st;
    contents(s, &verdict, &st);
    CLIFIL(&s.ifil);
    // Two long records get the number of a short one.
    uint64_t shortpos = 0, longs[2] = {};
    int found = 0;
    for (const auto &kv : st.records) {
        if (kv.second.size() == 64 && !shortpos) shortpos = kv.first;
        if (kv.second.size() > 120 && found < 2 && kv.first > shortpos && shortpos) longs[found++] = kv.first;
    }
    ASSERT_EQ(found, 2);
    std::string number = zvtest::read_bytes(s.dat(), shortpos + 10 + 4, 4);
    for (uint64_t p : longs) zvtest::write_bytes(s.dat(), p + 10 + 4, number);
    ASSERT_EQ(s.rebuild(-101), 650) << status_log();
    zvtest::SetState now;
    contents(s, &verdict, &now);
    EXPECT_EQ(verdict, "");
    EXPECT_EQ(now.records.count(shortpos), 1u);
    for (uint64_t p : longs) EXPECT_EQ(now.records.count(p), 0u);
    EXPECT_EQ(now.records.size(), st.records.size() - 2);
    CLIFIL(&s.ifil);
}

// The schema serial segments (mode 257) of an IFIL against the data file's
// description: each must name its field and length.
TEST_F(RblMendTest, SchemaSerialSegmentsAreCheckedAgainstTheDescription) {
    ISEG a[1] = {{5, -8, 257}}, b[2] = {{0, 4, 0}, {5, -8, 257}}, c[1] = {{6, -8, 257}};
    IIDX x[3] = {IIDX{8, 0, 0, 0, 0, 1, a, nullptr, nullptr, nullptr, nullptr},
                 IIDX{12, 0, 0, 0, 0, 2, b, nullptr, nullptr, nullptr, nullptr},
                 IIDX{8, 0, 0, 0, 0, 1, c, nullptr, "*c", nullptr, nullptr}};
    IFIL f{"s", -1, 64, 0, 0, 2, 0, 0, x, nullptr, nullptr, 0};
    int found = 0, fail = 0;
    EXPECT_EQ(zv::chkschsrl(&f, 10, 6, 8, &found, &fail), 0);
    EXPECT_EQ(found, 1);
    f.dnumidx = 3;
    EXPECT_EQ(zv::chkschsrl(&f, 10, 6, 8, &found, &fail), 608);
    EXPECT_EQ(fail, 13) << "the third index";
    EXPECT_EQ(zv::chkschsrl(&f, 10, 7, 8, &found, &fail), 608);
    EXPECT_EQ(fail, 11);
}

}  // namespace

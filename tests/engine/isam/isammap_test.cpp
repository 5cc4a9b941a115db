// The ISAM key map: entries and lists of a set, reservations, parameter
// streams, distinct-key levels, serial segments and schema fields.
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/index/idxstate.h"
#include "engine/isam/isam_services.h"
#include "engine/isam/isammap.h"
#include "tests/support/setfix.h"

namespace {

using settest::CustSet;
using settest::SetTest;

class MapTest : public SetTest {
protected:
    // A parameter stream over a text.
    static FILE *stream(const char *text) { return fmemopen(const_cast<char *>(text), strlen(text), "r"); }
};

TEST_F(MapTest, EntriesAndListsOfASet) {
    CustSet s("cust", 2);
    s.idx[0].inulkey = 1;
    s.idx[0].iempchr = ' ';
    ASSERT_EQ(CREIFIL(&s.ifil), 0);
    const zv::ISAMMAPENT *e = zv::isam_entry(3);
    EXPECT_EQ(e->datno, 2);
    EXPECT_EQ(e->relidx, 0);
    EXPECT_EQ(e->keyflags, 1);
    EXPECT_EQ(e->padchar, ' ');
    EXPECT_EQ(e->inuse, zv::kMapByIfil);
    EXPECT_EQ(zv::isam_entry(2)->inuse, zv::kMapByIfil);
    const zv::ISAMSEG *g = zv::isam_segs(4);
    EXPECT_EQ(g[0].soffset, 8);
    EXPECT_EQ(g[1].slength, 6);
    EXPECT_EQ(g[2].soffset, zv::kSegEnd);
    for (int k = 0; k < 3; k++) {
        EXPECT_EQ(zv::isam_deflist(2)[k], 3 + k);
        EXPECT_EQ(zv::isam_actlist(2)[k], 3 + k);
    }
    EXPECT_EQ(zv::isam_actlist(3)[0], zv::kMapNone);
    // The companions that a flush of the data file takes along.
    const int16_t *c = zv::isam_companions(2);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c[1], 4);
    EXPECT_EQ(c[3], -1);
    EXPECT_EQ(zv::isam_companions(3), nullptr);
    // Lists end at a given slot; from 64 on nothing changes.
    zv::setzvEOK(2, 64);
    EXPECT_EQ(zv::isam_actlist(2)[2], 5);
    zv::setzvEOK(2, 2);
    EXPECT_EQ(zv::isam_actlist(2)[2], zv::kMapNone);
}

TEST_F(MapTest, SixtyFourIndexesLeaveNoEndMark) {
    static ISEG seg[1] = {{0, 4, 0}};
    static IIDX idx[64];
    for (IIDX &x : idx) x = IIDX{4, 0, 0, 0, 0, 1, seg, nullptr, nullptr, nullptr, nullptr};
    IFIL f{"many", 1, 16, 0, 0, 64, 0, 0, idx, nullptr, nullptr, 0};
    ASSERT_EQ(CREIFIL(&f), 0);
    EXPECT_EQ(GETFIL(65, 13), 63);
    const uint16_t *list = zv::isam_actlist(1);
    for (int k = 0; k < 64; k++) ASSERT_EQ(list[k], 2 + k);
    EXPECT_EQ(zv::isam_entry(65)->relidx, 63);
    ASSERT_EQ(CLIFIL(&f), 0);
    ASSERT_EQ(OPNIFIL(&f), 0);
    EXPECT_EQ(zv::isam_actlist(1)[63], 65);
    // 65 is refused before anything is made.
    f.dnumidx = 65;
    EXPECT_EQ(OPNIFIL(&f), 107);
}

TEST_F(MapTest, DuplicateSuffixFollowsThePositionWidth) {
    CustSet s("wide", 2);
    XCREblk blocks[3] = {};
    for (XCREblk &b : blocks) b.mode = 0x02 | 0x40;
    EXPECT_EQ(CREIFILX8(&s.ifil, nullptr, nullptr, 0, nullptr, nullptr, blocks), 115);
    EXPECT_EQ(zvGetIsamFileNbr(), 4);
    s.idx[1].ikeylen = 18;
    ASSERT_EQ(CREIFILX8(&s.ifil, nullptr, nullptr, 0, nullptr, nullptr, blocks), 0);
    EXPECT_EQ(GETFIL(4, 1), 18);
}

TEST_F(MapTest, RecordPositionIndexIsLinkedToItsDataFile) {
    ISEG d1[1] = {{0, 1, 256}};
    ISEG other[1] = {{0, 4, 0}};
    IIDX idx[2] = {
        {4, 0, 0, 0, 0, 1, other, nullptr, nullptr, nullptr, nullptr},
        {5, 0, 1, 0, 0, 1, d1, nullptr, "*pos.idx", nullptr, nullptr},
    };
    IFIL f{"var", 1, 8, 0, 0x4, 2, 0, 0, idx, nullptr, nullptr, 0};
    ASSERT_EQ(CREIFIL(&f), 0);
    EXPECT_EQ(zv::fcb_at(1)->rposidx, zv::fcb_at(3));
    // Closing the index alone drops the link.
    EXPECT_EQ(CLSFIL(3, 0), 0);
    EXPECT_EQ(zv::fcb_at(1)->rposidx, nullptr);
    EXPECT_EQ(CLIFIL(&f), 0);
    // An index of another shape is not linked.
    idx[1].ikeydup = 0;
    idx[1].ikeylen = 1;
    ASSERT_EQ(OPNIFIL(&f), 608);
    idx[1].ikeydup = 1;
    idx[1].ikeylen = 5;
    ASSERT_EQ(OPNIFIL(&f), 0);
    EXPECT_EQ(zv::fcb_at(1)->rposidx, zv::fcb_at(3));
    EXPECT_EQ(CLIFIL(&f), 0);
}

TEST_F(MapTest, ReservationsRollBackOnlyTheirOwnMarks) {
    INSTGV *g = zvWNGV;
    EXPECT_EQ(zv::tstinm(4, 0), 0);
    EXPECT_EQ(zv::isam_entry(4)->inuse, 1);
    EXPECT_EQ(zv::isam_entry(5)->inuse, 0);
    EXPECT_EQ(zv::tstinm(2, 3), 46);
    EXPECT_EQ(zvGetIsamErrorCode(), 46);
    EXPECT_EQ(zvGetIsamFileNbr(), 4);
    EXPECT_EQ(zv::isam_entry(2)->inuse, 0);
    EXPECT_EQ(zv::isam_entry(3)->inuse, 0);
    EXPECT_EQ(zv::isam_entry(4)->inuse, 1);
    EXPECT_EQ(zv::tstinm(-1, 0), 22);
    EXPECT_EQ(zv::tstinm(idx_state(g).isamtabn - 1, 1), 22);
    EXPECT_EQ(zv::tstinm(idx_state(g).isamtabn - 1, 0), 0);
}

TEST_F(MapTest, ParameterStreamEntries) {
    ASSERT_EQ(CREDAT(1, "p.dat", 40, 0, 0), 0);
    ASSERT_EQ(CREIDX(2, "p.idx", 14, 0, 1, 0, 0, 0), 0);
    FILE *in = stream("0 4 0\n4 6 3\n");
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(zv::setmap(1, 0, 0, 2, 14, 2, 1, '#', 1, in), 0);
    fclose(in);
    const zv::ISAMMAPENT *e = zv::isam_entry(2);
    EXPECT_EQ(e->datno, 1);
    EXPECT_EQ(e->padchar, '#');
    EXPECT_EQ(zv::isam_segs(2)[1].segmode, 3);
    EXPECT_EQ(zv::isam_segs(2)[2].soffset, zv::kSegEnd);
    EXPECT_EQ(zv::isam_actlist(1)[0], 2);
    // The serial segment (mode 3 at 4) is recorded in the data file.
    EXPECT_EQ(zv::fcb_at(1)->serpos, 5);
    EXPECT_EQ(zv::fcb_at(1)->srllen, 6);
    struct Case {
        const char *text;
        int nseg, keylen, code;
    };
    const Case cases[] = {
        {"0 4", 1, 4, 110},
        {"0 4 0 4 4 0", 2, 9, 115},
        {"0 4 512", 1, 4, 895},
        {"0 4 0 4 4 512 8 2 0", 3, 10, 895},
        {"0 4 128", 1, 4, 694},
        {"", 0, 3, 115},
        {"", 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        FILE *s = stream(c.text[0] ? c.text : " ");
        EXPECT_EQ(zv::setmap(1, 0, 1, 3, c.keylen, c.nseg, 0, 0, 0, s), c.code);
        fclose(s);
    }
    // Names of an index and of a data file.
    FILE *names = stream("ByKey first second");
    EXPECT_EQ(zv::setukey(names, 2, 7), 0);
    EXPECT_EQ(zv::setudat(names, 1), 0);
    EXPECT_EQ(zv::setukey(names, 2, 7), 180);
    fclose(names);
    FILE *one = stream("only");
    EXPECT_EQ(zv::setudat(one, 1), 183);
    fclose(one);
    EXPECT_STREQ(zv::isam_entry(2)->idxnam, "ByKey");
    EXPECT_EQ(zv::isam_entry(2)->keytyp, 7);
    EXPECT_STREQ(zv::isam_entry(1)->datnam[1], "second");
    // A name of 255 characters is read whole; a longer one is refused, not
    // read as two names.
    std::string n255(255, 'k'), n300(300, 'm');
    std::string text = n255 + " " + n300 + " after";
    FILE *longer = stream(text.c_str());
    EXPECT_EQ(zv::setukey(longer, 3, 0), 0);
    EXPECT_EQ(std::string(zv::isam_entry(3)->idxnam), n255);
    EXPECT_EQ(zv::setukey(longer, 4, 0), 180);
    EXPECT_EQ(zv::isam_entry(4)->idxnam, nullptr);
    fclose(longer);
    std::string pair = "first " + n300;
    FILE *dat = stream(pair.c_str());
    EXPECT_EQ(zv::setudat(dat, 5), 183);
    EXPECT_EQ(zv::isam_entry(5)->datnam[0], nullptr);
    fclose(dat);
}

TEST_F(MapTest, DistinctKeyLevels) {
    ISEG segs[8];
    for (int i = 0; i < 8; i++) segs[i] = ISEG{int16_t(2 * i), int16_t(i + 1), 0};
    IIDX x{0, 0, 3, 0, 0, 8, segs, nullptr, nullptr, nullptr, nullptr};
    int32_t n[4] = {}, b[4] = {};
    ASSERT_EQ(zv::setidstseg(&x, n, b, 3), 4);
    EXPECT_EQ(n[0], 1);
    EXPECT_EQ(n[1], 3);
    EXPECT_EQ(n[2], 5);
    EXPECT_EQ(n[3], 7);
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(b[1], 1 + 2 + 3);
    EXPECT_EQ(b[3], 28);
    x.inumseg = 4;
    EXPECT_EQ(zv::setidstseg(&x, n, b, 4), 3);
    EXPECT_EQ(n[2], 3);
    EXPECT_EQ(b[2], 6);
    x.inumseg = 1;
    EXPECT_EQ(zv::setidstseg(&x, n, b, 3), 0);
    x.inumseg = 8;
    EXPECT_EQ(zv::setidstseg(&x, n, b, 1), 0);
}

// A record schema: INT4, CHAR, DFLOAT (aligned to 8), JSON (variable),
// INT4; the fixed part is 20 bytes.
class SchemaTest : public SetTest {
protected:
    int d = -1;
    void SetUp() override {
        SetTest::SetUp();
        IFIL f{"sch", 1, 20, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, 0};
        ASSERT_EQ(CREIFIL(&f), 0);
        d = f.tfilno;
        const DATOBJ doda[5] = {
            {"a", 0, 51, 0, 0, 0}, {"b", 0, 16, 0, 0, 0}, {"c", 0, 103, 0, 0, 0},
            {"j", 0, 259, 10, 0, 0}, {"e", 0, 51, 0, 0, 0},
        };
        ASSERT_EQ(PUTDODA(d, doda, 5), 0);
        ASSERT_NE(zv::fcb_at(d)->schmap, nullptr);
    }
};

TEST_F(SchemaTest, FieldEndsAgainstTheFixedPart) {
    struct Case {
        int field;
        int32_t len;
        int result;
    };
    const Case cases[] = {
        {0, 4, 0}, {1, 1, 0}, {2, 8, 0}, {2, 13, 1}, {3, 4, 0}, {4, 4, 1}, {5, 4, -433},
    };
    for (const Case &c : cases) EXPECT_EQ(zv::chkvfin(d, c.field, c.len), c.result) << c.field;
    EXPECT_EQ(zv::chkvfin(d + 5, 0, 4), -26);
    FCB *f = zv::fcb_at(d);
    unsigned char *map = f->schmap;
    f->schmap = nullptr;
    EXPECT_EQ(zv::chkvfin(d, 0, 4), -199);
    f->schmap = map;
}

TEST_F(SchemaTest, SerialSegmentsByOffsetAndByField) {
    FCB *f = zv::fcb_at(d);
    int32_t off = 0, len = 0;
    // By field: the DFLOAT at 8.
    ISEG byfield{2, 8, 257};
    EXPECT_EQ(zv::zvsrlseg(f, &off, &len, 0, 0, &byfield), 0);
    EXPECT_EQ(off, 9);
    EXPECT_EQ(len, 8);
    EXPECT_EQ(f->serpos, 9);
    // The same again is fine; another place is not.
    EXPECT_EQ(zv::zvsrlseg(f, &off, &len, 0, 0, &byfield), 0);
    ISEG byoffset{4, 8, 3};
    EXPECT_EQ(zv::zvsrlseg(f, &off, &len, 0, 0, &byoffset), 554);
    struct Case {
        ISEG seg;
        int code;
    };
    const Case cases[] = {
        {{4, 4, 257}, 116},   // after the JSON field
        {{2, 4, 257}, 528},   // length differs from the field's
        {{9, 4, 257}, 433},   // no such field
        {{0, 4, 8}, 454},     // not a serial mode
    };
    for (const Case &c : cases) EXPECT_EQ(zv::zvsrlseg(f, &off, &len, 0, 0, &c.seg), c.code) << c.seg.soffset;
    // Without a schema the field waits, unresolved, and is bound when the
    // schema comes.
    f->serpos = 0;
    f->srllen = 0;
    unsigned char *map = f->schmap;
    f->schmap = nullptr;
    EXPECT_EQ(zv::zvsrlseg(f, &off, &len, 0, 0, &byfield), 0);
    EXPECT_EQ(off, 3);
    EXPECT_EQ(len, -8);
    f->schmap = map;
    EXPECT_EQ(zv::zvsrlseg(f, &off, &len, 0, 0, &byfield), 0);
    EXPECT_EQ(f->serpos, 9);
    EXPECT_EQ(f->srllen, 8);
}

TEST_F(SchemaTest, SchemaSegmentsOfAVariableLengthSet) {
    ISEG segs[2] = {{0, 4, 12}, {4, 4, 12}};
    IIDX x{8, 0, 0, 0, 0, 2, segs, nullptr, "*v.idx", nullptr, nullptr};
    IFIL f{"sch", int16_t(d), 20, 0, 0x4, 1, 0, 0, &x, nullptr, nullptr, int16_t(d)};
    // Index 0 of the set on the next number, entered without a file.
    ASSERT_EQ(CREIDX(d + 1, "v.idx", 8, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(zv::setimap(0, &f, -2, 0, 0), 0);
    EXPECT_EQ(zv::isam_entry(d + 1)->varpart, 1);
    segs[1] = ISEG{1, 4, 12};
    EXPECT_EQ(zv::setimap(0, &f, -2, 0, 0), 0);
    EXPECT_EQ(zv::isam_entry(d + 1)->varpart, 0);
    segs[1] = ISEG{30, 4, 0};
    EXPECT_EQ(zv::setimap(0, &f, -2, 0, 0), 0);
    EXPECT_EQ(zv::isam_entry(d + 1)->varpart, 1);
    segs[1] = ISEG{9, 4, 12};
    EXPECT_EQ(zv::setimap(0, &f, -2, 0, 0), 433);
}

TEST_F(MapTest, PaddedSegmentsNeverReadPastTheirSource) {
    unsigned char out[8];
    const unsigned char src[5] = {'a', 'b', 'c', 'd', 'e'};
    EXPECT_EQ(zv::padrec2(out, 8, src, 8, 3, '.', src + 5), 8);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), 8), "abc.....");
    EXPECT_EQ(zv::padrec2(out, 8, src, 8, 20, '.', src + 5), 8);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), 8), "abcde...");
    EXPECT_EQ(zv::padrec2(out, 7, src, 8, 3, '.', src + 5), -1);
    const unsigned char text[6] = {'x', 'y', '|', 'z', 'z', 'z'};
    EXPECT_EQ(zv::padrec(out, text, 5, text + 6, '_', '|'), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), 5), "xy___");
    EXPECT_EQ(zv::padrec(out, src, 4, src + 5, '_', '|'), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(out), 4), "abcd");
    EXPECT_EQ(zv::padrec(out, src, 8, src + 5, '_', '|'), -2);
}

}  // namespace

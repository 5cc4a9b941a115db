// Record filters, record conversion on the read and write path, and the
// check that keeps deleted and resource marks out of written records.
#include <cstring>
#include <string>

#include "engine/expr/expr_services.h"
#include "engine/files/fixrec.h"
#include "engine/files/resconv.h"
#include "engine/isam/cidx.h"
#include "engine/core/pools.h"
#include "tests/engine/files/files_util.h"
#include "zarvo/zvdbpt.h"

namespace {

using filestest::Bytes;
using filestest::file_bytes;
using filestest::slice;

// The filter of these tests: rejects records beginning 'r', fails on
// records beginning 'e' (a division by zero), passes the others.
const char kFilter[] = "first != 'r' AND (first != 'e' OR 1 / 0)";

// The test converter: stored layout is the host layout with every byte
// XOR 0x20; counts its calls by direction.
int conversions[3];
int convert(void *buf, int32_t len, int direction) {
    conversions[direction]++;
    auto *p = static_cast<unsigned char *>(buf);
    for (int32_t i = 0; i < len; i++) p[i] ^= 0x20;
    return 1;
}

// A conversion map of no fields: the converter above does the work.
unsigned char fake_map[16] = {};

class FilterTest : public filestest::FilesTest {
protected:
    void SetUp() override {
        FilesTest::SetUp();
        ASSERT_EQ(CREDATX8(1, "f.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
        const DATOBJ doda[2] = {{"first", 0, ZV_CHARU, 1, 0, 0}, {"rest", 1, ZV_ARRAY, 99, 0, 0}};
        ASSERT_EQ(ENARES(1), 0);
        ASSERT_EQ(PUTDODA(1, doda, 2), 0);
        a_ = put('a');
        r_ = put('r');
        e_ = put('e');
    }
    void TearDown() override {
        zv::set_test_converter(nullptr);
        zv::fail_alloc_at(0);
        if (fcb(1)) fcb(1)->cnvmap = nullptr;
        FilesTest::TearDown();
    }
    uint32_t put(char c) {
        uint32_t p = NEWREC(1);
        std::string rec(100, c);
        EXPECT_EQ(WRTREC(1, p, rec.data()), 0);
        return p;
    }
    // The filter parsed against the file, to attach with SETFLTRX.
    static PTNODE *tree() {
        void *t = nullptr;
        int kind = -1;
        EXPECT_EQ(testparse(1, kFilter, &t, &kind), 1);
        EXPECT_EQ(kind, 0);
        return static_cast<PTNODE *>(t);
    }
    uint32_t a_ = 0, r_ = 0, e_ = 0;
};

TEST_F(FilterTest, UnsupportedTextsAndIndexes) {
    for (const char *text : {"@@?x", "@@!x", "#x", "#"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(SETFLTR(1, text), 454);
        EXPECT_EQ(zvGetUserErrorCode(), 454);
    }
    // Every other text reaches the parser: balance is no field of the file.
    EXPECT_EQ(SETFLTR(1, "balance > 0"), 597);
    EXPECT_EQ(fcb(1)->fltr, nullptr);
    ASSERT_EQ(CREIDX(2, "k.idx", 10, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(SETFLTR(2, "x"), 48);
    PTNODE *t = tree();
    EXPECT_EQ(SETFLTRX(2, t), 48);
    zvdbptDestroy(t);  // a refused tree stays with the caller
    EXPECT_EQ(SETFLTR(9, "x"), 26);
}

TEST_F(FilterTest, FilterRejectsAndReportsEvaluationErrors) {
    PTNODE *t = tree();
    ASSERT_EQ(SETFLTRX(1, t), 0);
    EXPECT_EQ(fcb(1)->fltr, t);
    EXPECT_NE(g()->evalwork, nullptr);
    char buf[100];
    struct Case {
        uint32_t pos;
        char first;
        int code;
    };
    const Case cases[] = {{a_, 'a', 0}, {r_, 'r', 739}, {e_, 'e', 598}, {a_, 'a', 0}};
    // The tree given, then the same filter as text.
    for (int round = 0; round < 2; round++) {
        if (round == 1) {
            ASSERT_EQ(SETFLTR(1, kFilter), 0);
        }
        for (const Case &c : cases) {
            SCOPED_TRACE(testing::Message() << round << " " << c.first);
            memset(buf, 0, sizeof buf);
            EXPECT_EQ(REDREC(1, c.pos, buf), c.code);
            EXPECT_EQ(zvGetUserErrorCode(), c.code);
            EXPECT_EQ(buf[0], c.first);  // the image is in the buffer whatever the filter said
            EXPECT_EQ(buf[99], c.first);
        }
    }
}

TEST_F(FilterTest, ResetAndClear) {
    char buf[100];
    ASSERT_EQ(SETFLTRX(1, tree()), 0);
    EXPECT_EQ(RESETFLTR(1, 1), 116);
    EXPECT_EQ(REDREC(1, r_, buf), 739);
    EXPECT_EQ(RESETFLTR(1, 2), 0);
    EXPECT_EQ(fcb(1)->fltr, nullptr);
    EXPECT_EQ(REDREC(1, r_, buf), 0);

    ASSERT_EQ(SETFLTRX(1, tree()), 0);
    EXPECT_EQ(SETFLTR(1, nullptr), 0);
    EXPECT_EQ(REDREC(1, r_, buf), 0);
    ASSERT_EQ(SETFLTRX(1, tree()), 0);
    EXPECT_EQ(SETFLTR(1, ""), 0);
    EXPECT_EQ(fcb(1)->fltr, nullptr);
    ASSERT_EQ(SETFLTRX(1, tree()), 0);
    EXPECT_EQ(SETFLTRX(1, nullptr), 0);
    EXPECT_EQ(fcb(1)->fltr, nullptr);

    // Closing the file drops its filter.
    ASSERT_EQ(SETFLTRX(1, tree()), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "f.dat", 0), 0);
    EXPECT_EQ(REDREC(1, r_, buf), 0);
}

TEST_F(FilterTest, NoMemoryForTheEvaluationArea) {
    PTNODE *t = tree();
    zv::fail_alloc_at(1);
    EXPECT_EQ(SETFLTRX(1, t), 82);
    EXPECT_EQ(fcb(1)->fltr, nullptr);
    zv::fail_alloc_at(1);
    EXPECT_EQ(SETFLTR(1, "x"), 82);
    zv::fail_alloc_at(0);
    EXPECT_EQ(SETFLTRX(1, t), 0);
}

TEST_F(FilterTest, ConversionOnReadAndWrite) {
    zv::set_test_converter(convert);
    memset(conversions, 0, sizeof conversions);
    fcb(1)->cnvmap = fake_map;
    g()->userprof &= ~0x20;  // automatic conversion on
    char rec[100];
    memset(rec, 'h', sizeof rec);
    ASSERT_EQ(WRTREC(1, a_, rec), 0);
    EXPECT_EQ(rec[0], 'h');  // the caller's image is back in host layout
    EXPECT_EQ(conversions[2], 1);
    EXPECT_EQ(conversions[1], 1);
    ASSERT_EQ(zvflushd(fcb(1), 0), 0);
    EXPECT_EQ(file_bytes("f.dat")[a_], 'h' ^ 0x20);
    char buf[100];
    ASSERT_EQ(REDREC(1, a_, buf), 0);
    EXPECT_EQ(buf[0], 'h');
    EXPECT_EQ(conversions[1], 2);

    // A freed slot and a resource record are read as they are stored.
    ASSERT_EQ(RETREC(1, r_), 0);
    ASSERT_EQ(REDREC(1, r_, buf), 0);
    EXPECT_EQ(conversions[1], 2);
    EXPECT_EQ(slice(Bytes(buf, buf + 100), 0, 5), (Bytes{0xFF, 0, 0, 0, 0}));
    char res[100];
    memset(res, 0xFE ^ 0x20, sizeof res);  // stored as FE FE ...
    ASSERT_EQ(WRTREC(1, e_, res), 0);
    ASSERT_EQ(REDREC(1, e_, buf), 0);
    EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0xFE);
    EXPECT_EQ(static_cast<unsigned char>(buf[1]), 0xFE);

    // The profile bit 0x20 switches conversion off.
    g()->userprof |= 0x20;
    ASSERT_EQ(REDREC(1, a_, buf), 0);
    EXPECT_EQ(buf[0], 'h' ^ 0x20);
}

// Slots are read as stored (read_slots may stand for the record read) only
// where the record read changes nothing: no filter, no conversion in use,
// no lock mode that a read clears, a plain fixed-length file.
TEST_F(FilterTest, SlotsAreReadAsStoredOnlyWhereTheRecordReadChangesNothing) {
    EXPECT_TRUE(zv::slots_read_as_stored(fcb(1)));
    ASSERT_EQ(SETFLTRX(1, tree()), 0);
    EXPECT_FALSE(zv::slots_read_as_stored(fcb(1))) << "a filter";
    ASSERT_EQ(SETFLTRN(1, 0, 0, nullptr), 0);
    EXPECT_TRUE(zv::slots_read_as_stored(fcb(1)));
    fcb(1)->cnvmap = fake_map;
    const uint32_t prof = g()->userprof;
    g()->userprof &= ~0x20u;  // automatic conversion on
    EXPECT_FALSE(zv::slots_read_as_stored(fcb(1))) << "a conversion";
    g()->userprof |= 0x20;
    EXPECT_TRUE(zv::slots_read_as_stored(fcb(1))) << "conversion switched off";
    g()->userprof = prof;
    fcb(1)->cnvmap = nullptr;
    for (uint32_t mode : {0x04u, 0x20u}) {
        g()->opsmode |= mode;
        EXPECT_FALSE(zv::slots_read_as_stored(fcb(1))) << mode;
        g()->opsmode &= ~mode;
    }
    ASSERT_EQ(CREDATX8(2, "v.dat", 20, 0, 0x804, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_FALSE(zv::slots_read_as_stored(fcb(2))) << "variable length";
}

TEST_F(FilterTest, MarkedImagesAreRefusedWhileTheOperationWordAsksForIt) {
    zv::set_test_converter(convert);
    fcb(1)->cnvmap = fake_map;
    g()->userprof &= ~0x20;
    struct Case {
        uint32_t opword;
        unsigned char first, second;
        int code;
    };
    // Images in host layout; the converter makes the stored image begin
    // with the marks (FF ^ 0x20 = DF, FE ^ 0x20 = DE).
    const Case cases[] = {
        {0x09, 0xDF, 'x', 553}, {0x09, 0xDE, 0xDE, 553}, {0x0A, 0xDF, 'x', 553},
        {0x09, 0xDE, 'x', 0},   {0x08, 0xDF, 'x', 0},    {0x01, 0xDF, 'x', 0},
        {0x09, 'q', 'q', 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.opword << " " << int(c.first));
        g()->opword = c.opword;
        unsigned char rec[100];
        memset(rec, 'w', sizeof rec);
        rec[0] = c.first;
        rec[1] = c.second;
        unsigned char copy[100];
        memcpy(copy, rec, sizeof rec);
        EXPECT_EQ(WRTREC(1, a_, rec), c.code);
        EXPECT_EQ(memcmp(rec, copy, sizeof rec), 0);
    }
    g()->opword = 0;
}

}  // namespace

// The function-number entry point: decoding, the tables, the inline
// answers, the return rule and targets reached through it.
#include <cstdint>
#include <cstring>
#include <unistd.h>
#include <iterator>
#include <map>
#include <set>
#include <string>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "engine/entry/dispatch.h"
#include "tests/support/engine.h"
#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"

namespace {

using zvtest::lines_of;
using zvtest::read_file;

// Every valid function number with the function it reaches (null: an empty
// slot or an answer given by the entry point itself).
struct Expected {
    uint16_t fn;
    const char *name;
};
const Expected kValid[] = {
    {0x0001, "PUTFIL"}, {0x0003, "DELFIL"}, {0x000C, "CLSFIL"}, {0x0023, "TESTHUGE"},
    {0x0024, "zvRENFIL"}, {0x0026, "SETFLTR"}, {0x0031, "SETALTSEQ"}, {0x0033, "SETDEFBLKX"},
    {0x0036, "SETVARBYTS"}, {0x007B, "DELRES"}, {0x007C, "ENARES"}, {0x008E, "CREMEM"},
    {0x008F, "zvDROPIDX"}, {0x0102, "UPDCURI"}, {0x0105, "DELREC"}, {0x0108, "DELVREC"},
    {0x0111, "CLRFIL"}, {0x0112, "DELRFIL"}, {0x0125, "UPDCIDX"}, {0x0128, "ADDREC"},
    {0x0129, "RWTREC"}, {0x0137, "FRSVSET"}, {0x0138, "LSTVSET"}, {0x0145, "EQLVREC"},
    {0x0146, "GTEVREC"}, {0x0147, "LTEVREC"}, {0x0148, "GTVREC"}, {0x0149, "LTVREC"},
    {0x0150, "FRSSET"}, {0x0151, "LSTSET"}, {0x0152, "EQLREC"}, {0x0153, "GTEREC"},
    {0x0154, "LTEREC"}, {0x0155, "GTREC"}, {0x0156, "LTREC"}, {0x015D, "DELIFIL"},
    {0x0160, "CLIFIL"}, {0x0162, "PRMIIDXz"}, {0x0163, "TMPIIDXz"}, {0x0167, "RBLIIDXz"},
    {0x0189, "FRERNG"}, {0x0233, "SETDEFBLKX"}, {0x0235, "PUTDODAX"}, {0x023F, "WRTREC"},
    {0x0241, "RETREC"}, {0x0242, "RETVREC"}, {0x0270, nullptr}, {0x0271, nullptr},
    {0x0281, "PTADMIN"}, {0x0282, "ADDKEY"}, {0x0283, "LOADKEY"}, {0x0284, "DELCHK"},
    {0x029A, "DELBLD"}, {0x029B, "EQLKEY"}, {0x029F, "NEWREC"}, {0x02A0, "DATENT"},
    {0x02A1, "IDXENT"}, {0x02A2, "SERIALNUM"}, {0x02A8, "zvDISTINCTest"}, {0x02AA, "GETFIL"},
    {0x02AF, "zvDISTINCTset"}, {0x02CC, "LOKREC"}, {0x02CD, "ESTKEY"}, {0x02D4, "RNGENT"},
    {0x02D8, "PUTHDR"}, {0x039E, "GETCURP"}, {0x03D6, "OPNICON"}, {0x047D, "UPDRES"},
    {0x047E, "ADDRES"}, {0x0577, "RWTPREC"}, {0x0578, "ADDVREC"}, {0x0579, "RWTVREC"},
    {0x057F, "PUTCRES"}, {0x05B5, "GETVLEN"}, {0x05CB, "BATSET"}, {0x063C, "WRTVREC"},
    {0x06A6, "GETRES"}, {0x06B4, "GTVLEN"}, {0x06C1, "TSTVREC"}, {0x06CE, "NEWVREC"},
    {0x06D5, "ORDKEY"}, {0x0740, "SETCURI"}, {0x0744, "SETCURI"}, {0x07BF, "BATSETX"},
    {0x0832, "GETALTSEQ"}, {0x08BC, "TFRMKEY"}, {0x08BE, "GETCURKL"}, {0x092A, "NXTREC"},
    {0x092B, "PRVREC"}, {0x092C, "FRSREC"}, {0x092D, "LSTREC"}, {0x092E, "RRDREC"},
    {0x092F, "NXTSET"}, {0x0930, "PRVSET"}, {0x0934, "MIDSET"}, {0x0939, "MIDVSET"},
    {0x0968, "NXTVREC"}, {0x0969, "PRVVREC"}, {0x096A, "FRSVREC"}, {0x096B, "LSTVREC"},
    {0x096C, "NXTVSET"}, {0x096D, "PRVVSET"}, {0x098A, "FRSRNG"}, {0x098B, "FRSVRNG"},
    {0x0990, "LSTRNG"}, {0x0991, "LSTVRNG"}, {0x0992, "NXTRNG"}, {0x0993, "NXTVRNG"},
    {0x0994, "PRVRNG"}, {0x0995, "PRVVRNG"}, {0x0A3E, "REDREC"}, {0x0B43, "reset_cur"},
    {0x0B57, "REDIREC"}, {0x0BE1, "REDIVREC"}, {0x0BE2, "reset_cur2"}, {0x0C4A, "GETMNAME"},
    {0x0C4B, "GETNAM"}, {0x0D7A, "REDVREC"}, {0x0DBD, "GETCURK"}, {0x0E3D, "RDVREC"},
    {0x0EB7, "GETDODAX"}, {0x0FB6, "GETIFILX"}, {0x0FB8, "GETCRES"}, {0x0FB9, "GETCIDX"},
    {0x200A, "STPUSR"}, {0x200D, "TRANEND"}, {0x200E, "TRANRST"}, {0x200F, "TRANABT"},
    {0x2010, "TRANCLR"}, {0x2016, nullptr}, {0x201A, "zvtestfunc"}, {0x201D, "ZVFLUSH"},
    {0x201E, "ZVCHKPNT"}, {0x201F, "TRANABTX"}, {0x2022, "SAVPCLR"}, {0x203A, "TRANRDY"},
    {0x2058, "STPUSRA"}, {0x205C, "TRANISO"}, {0x2073, "SETNODE"}, {0x2074, nullptr},
    {0x2075, "SETSEGz"}, {0x2076, "zvLOKDMP"}, {0x208C, "CREDATX8"}, {0x208D, "CREIDXX8"},
    {0x20C0, "ZVSBLDX"}, {0x20C9, "AVLFILNUM"}, {0x20CA, "OPNFILX"}, {0x20CF, "TRANSAV"},
    {0x20E5, "SESSVAL"}, {0x20E6, "SESSINC"}, {0x2104, "LKISAM"}, {0x2106, "ALCSET"},
    {0x2107, "CHGSET"}, {0x2109, "CLISAM"}, {0x210B, "FRESET"}, {0x2113, "ALCBAT"},
    {0x2114, "CHGBAT"}, {0x2115, "FREBAT"}, {0x211B, "CHGICON"}, {0x211C, "CLSICON"},
    {0x215E, "RBLIFILz"}, {0x215F, "CREIFILz"}, {0x2161, "OPNIFILz"}, {0x2164, "PUTIFILz"},
    {0x2165, "CMPIFILz"}, {0x2166, nullptr}, {0x2172, "RENIFILz"}, {0x2185, "FREBATN"},
    {0x2186, "FRESETN"}, {0x22A3, "TRANBEG"}, {0x22A7, "zvdidx"}, {0x22B1, "zvImpersonateTask"},
    {0x22E7, "SPCLSAV"}, {0x23C4, "OPNRFILX"}, {0x244E, nullptr}, {0x24D1, "setfndval"},
    {0x24E4, "zvSETENCRYPT"}, {0x264F, nullptr}, {0x2688, "SETOPS"}, {0x26A9, nullptr},
    {0x26AB, nullptr}, {0x26AC, nullptr}, {0x26AD, nullptr}, {0x26AE, nullptr}, {0x26B0, nullptr},
    {0x27E3, nullptr}, {0x28D2, "IOPERFORMANCE"}, {0x28D7, "SYSCFG"}, {0x28E0, "IOPERFORMANCEX"},
    {0x2C4B, "GETNAM"}, {0x2CC5, "TMPNAME"}, {0x2E3B, "SYSMON"}, {0x306E, "INTREEX"},
    {0x315A, "CREISAMX"}, {0x315B, "OPNISAMX"}, {0x316F, "INTISAMX"}, {0x4296, "GTEKEY"},
    {0x4297, "GTKEY"}, {0x4298, "LTKEY"}, {0x4299, "LTEKEY"}, {0x4A9C, "FRSKEY"},
    {0x4A9D, "LSTKEY"}, {0x4AA4, "NXTKEY"}, {0x4AA5, "PRVKEY"}, {0x4AC8, "FRCKEY"},
};

class DispatchTest : public zvtest::ZvTest {
protected:
    void SetUp() override {
        ZvTest::SetUp();
        zv::fault_reset();
        ASSERT_EQ(zvtest::start_engine(8, 20, 8, 16), 0);
    }
    void TearDown() override {
        zvtest::stop_engine();
        zv::fault_reset();
        ZvTest::TearDown();
    }
    static int16_t call(uint16_t fn, int filno = 0, void *a3 = nullptr, int32_t *a4 = nullptr,
                        void *a5 = nullptr, int32_t *a6 = nullptr, int32_t a7 = 0) {
        return zarvo(fn, int16_t(filno), a3, a4, a5, a6, a7);
    }
    static int16_t sub(int s, int filno = 0, void *a3 = nullptr, int32_t *status = nullptr,
                       void *a5 = nullptr, int32_t *a6 = nullptr) {
        return zarvo(0x26AB, int16_t(filno), a3, status, a5, a6, s);
    }
    static void *val(intptr_t v) { return reinterpret_cast<void *>(v); }
    std::string log() { return read_file("ZVSTATUS.QVS"); }
};

TEST_F(DispatchTest, ValidNumbersAreExactlyTheListedOnes) {
    ASSERT_EQ(sizeof kValid / sizeof kValid[0], 205u);
    std::map<uint16_t, const char *> want;
    for (const Expected &e : kValid) want[e.fn] = e.name;
    ASSERT_EQ(want.size(), 205u);
    int found = 0;
    for (uint32_t fn = 0; fn <= 0xFFFF; fn++) {
        zv::DispatchTarget t{};
        bool valid = zv::describe_function(uint16_t(fn), &t);
        auto it = want.find(uint16_t(fn));
        ASSERT_EQ(valid, it != want.end()) << std::hex << fn;
        if (!valid) continue;
        found++;
        if (it->second) {
            ASSERT_NE(t.name, nullptr) << std::hex << fn;
            EXPECT_STREQ(t.name, it->second) << std::hex << fn;
        } else {
            EXPECT_EQ(t.name, nullptr) << std::hex << fn;
        }
    }
    EXPECT_EQ(found, 205);
}

// Every number that reaches a built target. A number with a target name
// that is not listed here answers 6 until its target is built.
const uint16_t kBound[] = {
    0x0001, 0x0003, 0x000C, 0x0023, 0x0024, 0x0026, 0x0031, 0x0033, 0x0036, 0x007B, 0x007C, 0x008E,
    0x0102, 0x0105, 0x0108, 0x0111, 0x0112, 0x0125, 0x0128, 0x0129, 0x0137, 0x0138, 0x0145, 0x0146, 0x0147,
    0x0148, 0x0149, 0x0150, 0x0151, 0x0152, 0x0153, 0x0154, 0x0155, 0x0156, 0x015D, 0x0160, 0x0189,
    0x0233, 0x0235, 0x023F, 0x0241, 0x0242, 0x0281, 0x0282, 0x0283, 0x0284, 0x029A, 0x029B, 0x029F, 0x02A0,
    0x02A1, 0x02A2, 0x02A8, 0x02AA, 0x02AF, 0x02CC, 0x02CD, 0x02D4, 0x02D8, 0x039E, 0x047D, 0x047E,
    0x0577, 0x0578, 0x0579, 0x057F, 0x05B5, 0x063C, 0x06A6, 0x06B4, 0x06C1, 0x06CE, 0x06D5, 0x0740, 0x0744,
    0x0832, 0x08BC, 0x08BE, 0x092A, 0x092B, 0x092C, 0x092D, 0x092E, 0x092F, 0x0930, 0x0934, 0x0939,
    0x0968, 0x0969, 0x096A, 0x096B, 0x096C, 0x096D, 0x098A, 0x098B, 0x0990, 0x0991, 0x0992, 0x0993,
    0x0994, 0x0995, 0x0A3E, 0x0B43, 0x0B57, 0x0BE1, 0x0BE2, 0x0C4A, 0x0C4B, 0x0D7A, 0x0DBD, 0x0E3D,
    0x0EB7, 0x0FB6, 0x0FB8, 0x0FB9, 0x200A, 0x200D, 0x200E, 0x200F, 0x2010, 0x201A, 0x201D, 0x201E, 0x201F,
    0x2022, 0x203A, 0x2058, 0x205C, 0x2073, 0x2075, 0x2076, 0x208C, 0x208D, 0x20C0, 0x20C9, 0x20CA, 0x20CF,
    0x20E5,
    0x20E6, 0x2104,
    // ISAM contexts, batches and the blocking read.
    0x03D6, 0x211B, 0x211C, 0x2113, 0x2114, 0x2185, 0x05CB, 0x07BF,
    0x2106, 0x2107, 0x2109, 0x210B, 0x2115, 0x215E, 0x215F, 0x2161, 0x2165, 0x2186, 0x22A3, 0x22A7, 0x22B1, 0x22E7,
    0x23C4, 0x24D1, 0x24E4, 0x2688, 0x28D2, 0x28D7, 0x28E0, 0x2C4B, 0x2CC5, 0x2E3B, 0x306E, 0x316F, 0x4296,
    0x4297, 0x4298, 0x4299, 0x4A9C, 0x4A9D, 0x4AA4, 0x4AA5, 0x4AC8,
    // Definition store and rename, index add and drop, parameter files.
    0x2164, 0x2172, 0x0162, 0x0163, 0x0167, 0x008F, 0x315A, 0x315B,
};
// Every sub-function of 0x26AB that reaches a built target.
const int kBoundSub[] = {21, 1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 22,
                         28, 29, 30, 31, 32, 33, 34, 35, 36, 40, 43, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56,
                         57, 59, 60, 61, 64, 70};

TEST_F(DispatchTest, ListedNumbersReachTheirTargets) {
    std::set<uint16_t> bound(std::begin(kBound), std::end(kBound));
    ASSERT_EQ(bound.size(), sizeof kBound / sizeof kBound[0]);
    for (uint16_t fn : kBound) {
        zv::DispatchTarget t{};
        ASSERT_TRUE(zv::describe_function(fn, &t)) << std::hex << fn;
        EXPECT_NE(t.name, nullptr) << std::hex << fn;
        EXPECT_TRUE(t.bound) << std::hex << fn << " is built but left on the empty slot";
    }
    for (int s : kBoundSub) {
        EXPECT_NE(zv::zvsubfn[s].name, nullptr) << s;
        EXPECT_NE(zv::zvsubfn[s].fn, &zv::nosub) << "sub-function " << s;
    }
    // Every other named number answers 6 (a position or length slot stores 0).
    int unbound = 0;
    for (const Expected &e : kValid) {
        if (!e.name || bound.count(e.fn)) continue;
        unbound++;
        int32_t pos = 77, len = 55;
        char buf[64] = {};
        EXPECT_EQ(call(e.fn, 3, nullptr, &pos, buf, &len, 0), 6) << std::hex << e.fn << " is not listed";
        EXPECT_EQ(zvGetUserErrorCode(), 6) << std::hex << e.fn;
        const zv::Code *c = zv::decode_function(e.fn);
        if (c->road == zv::Road::Pos) {
            EXPECT_EQ(pos, 0) << std::hex << e.fn;
        }
        if (c->road == zv::Road::Len) {
            EXPECT_EQ(len, 0) << std::hex << e.fn;
        }
    }
    EXPECT_EQ(unbound, 191 - int(bound.size()));
}

// A member's name and a change of segment definitions through the entry
// point give what the direct calls give.
TEST_F(DispatchTest, MemberNamesAndSegmentDefinitions) {
    ASSERT_EQ(CREDAT(1, "h", 0, 0, 0x200), 0);
    ASSERT_EQ(CREDAT(3, "h!cust", 64, 0, 0), 0);
    ASSERT_EQ(CREDAT(4, "h!orders", 32, 0, 0), 0);
    struct Case {
        int n;
        int32_t room;
    } cases[] = {{1, 64}, {2, 64}, {3, 64}, {0, 64}, {2, 6}, {2, 7}};
    for (const Case &c : cases) {
        char direct[64], entry[64];
        memset(direct, 'Z', sizeof direct);
        memset(entry, 'Z', sizeof entry);
        int want = GETMNAME(1, direct, c.room, c.n);
        int32_t room = c.room;
        EXPECT_EQ(call(0x0C4A, 1, nullptr, nullptr, entry, &room, c.n), want) << c.n << " " << c.room;
        EXPECT_EQ(memcmp(direct, entry, sizeof entry), 0) << c.n << " " << c.room;
    }
    char name[16] = {};
    int32_t room = sizeof name;
    ASSERT_EQ(call(0x0C4A, 1, nullptr, nullptr, name, &room, 2), 0);
    EXPECT_STREQ(name, "orders");

    // Two plain extended files: one changed directly, one through 0x2075.
    XCREblk x{};
    x.mode = 0x02;
    ASSERT_EQ(CREDATX8(5, "pa", 128, 0, 0, 0, nullptr, nullptr, &x), 0);
    ASSERT_EQ(CREDATX8(6, "pb", 128, 0, 0, 0, nullptr, nullptr, &x), 0);
    ZVSEGENTRY la[3] = {{"", 1}, {"pa.s1", 1}, {"pa.s2", 0}};
    ZVSEGENTRY lb[3] = {{"", 1}, {"pb.s1", 1}, {"pb.s2", 0}};
    ZVSEGDEF *da = nullptr, *db = nullptr;
    ASSERT_EQ(zvstrsegmdef(2, 3, la, &da), 0);
    ASSERT_EQ(zvstrsegmdef(2, 3, lb, &db), 0);
    EXPECT_EQ(SETSEGz(5, da), 0);
    EXPECT_EQ(call(0x2075, 6, nullptr, nullptr, db), 0);
    EXPECT_EQ(access("pa.s1", F_OK), 0);
    EXPECT_EQ(access("pb.s1", F_OK), 0);
    // A named file cannot become automatic: the same refusal both ways.
    ZVSEGENTRY aut[1] = {{"", 1}};
    ASSERT_EQ(zvstrsegmdef(0, 3, aut, &da), 0);
    ASSERT_EQ(zvstrsegmdef(0, 3, aut, &db), 0);
    EXPECT_EQ(SETSEGz(5, da), 683);
    EXPECT_EQ(call(0x2075, 6, nullptr, nullptr, db), 683);
    // No definition.
    EXPECT_EQ(SETSEGz(5, nullptr), call(0x2075, 6, nullptr, nullptr, nullptr));
    for (int f : {6, 5, 4, 3, 1}) EXPECT_EQ(CLSFIL(f, 0), 0) << f;
}

TEST_F(DispatchTest, NoInstanceGives129) {
    zvtest::stop_engine();
    zvtest::clear_instance_ring();
    ASSERT_EQ(zvWNGV, nullptr);
    EXPECT_EQ(call(0x000C), 129);
}

TEST_F(DispatchTest, IndexOutsideRangeGives170WithoutLogLine) {
    for (uint16_t fn : {0x0000, 0x00E8, 0x01FF, 0x2000}) {
        EXPECT_EQ(call(fn), 170) << fn;
        EXPECT_EQ(zvGetUserErrorCode(), 170);
    }
    EXPECT_EQ(log(), "");
}

TEST_F(DispatchTest, UnknownNumberWithValidIndexIsLogged) {
    EXPECT_EQ(call(0x0101), 170);
    EXPECT_EQ(zvGetUserErrorCode(), 170);
    EXPECT_EQ(zvGetIsamErrorCode(), 170);  // bit 0x0100: the return rule copies it
    auto lines = lines_of(log());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find("Bad raw function #. fn: 257"), std::string::npos) << lines[1];
}

TEST_F(DispatchTest, EmptySlotsAnswerSix) {
    EXPECT_EQ(call(0x2016), 6);
    int32_t pos = 1234;
    EXPECT_EQ(call(0x26A9, 1, nullptr, &pos), 6);
    EXPECT_EQ(pos, 0);
    EXPECT_EQ(zvGetUserErrorCode(), 6);
    // 0x0271 reaches the empty slot 113 after marking the instance.
    int32_t v = 0x18001;
    EXPECT_EQ(call(0x0271, 1, nullptr, &v), 6);
    EXPECT_TRUE(zvWNGV->statusword & zv::kStatusMaskedCall);
    EXPECT_EQ(v, 0x18001);  // the caller's value is read, not changed
}

TEST_F(DispatchTest, InlineAnswers) {
    struct Case {
        int sub;
        int filno;
        void *arg3;
        int want;
    } cases[] = {
        {0, 1, nullptr, 170},  {37, 1, nullptr, 170},     {72, 1, nullptr, 170},
        {-1, 1, nullptr, 170}, {44, 5, nullptr, 454},     {44, 10, nullptr, 170},
        {44, 0, nullptr, 170}, {71, 1, nullptr, 540},     {71, 1, val(8), 454},
        {23, 1, nullptr, 454}, {69, 1, nullptr, 454},     {9, 1, nullptr, 454},
    };
    for (const Case &c : cases) {
        int32_t status = -5;
        EXPECT_EQ(sub(c.sub, c.filno, c.arg3, &status), c.want) << c.sub;
        EXPECT_EQ(status, c.want) << c.sub;
    }
    for (uint16_t fn : {0x0270, 0x27E3}) EXPECT_EQ(call(fn), 454);
}

TEST_F(DispatchTest, SetHighWordSubFunctionKeepsItsValue) {
    zvSETHGH(9);
    EXPECT_EQ(sub(8, 0, val(1)), 0);
    EXPECT_EQ(zvGETHGH(), 1);
    // Any other sub-function leaves the high word as it found it.
    zvSETHGH(7);
    EXPECT_EQ(sub(22), 454);  // TRANUSR
    EXPECT_EQ(zvGETHGH(), 7);
}

TEST_F(DispatchTest, CreateOpenAndCloseThroughParameterBlocks) {
    intptr_t cre[] = {intptr_t("d.dat"), 100, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(call(0x208C, 1, cre), 0);
    EXPECT_EQ(TSTFILNUM(1), 46);
    EXPECT_EQ(call(0x000C, 1), 0);  // CLSFIL
    EXPECT_EQ(TSTFILNUM(1), 0);
    intptr_t opn[] = {intptr_t("d.dat"), 0};
    EXPECT_EQ(call(0x20CA, 1, opn), 0);
    EXPECT_EQ(TSTFILNUM(1), 46);
    EXPECT_EQ(call(0x20CA, 2, nullptr), 540);  // no parameter block
    EXPECT_EQ(call(0x000C, 1), 0);
    EXPECT_EQ(call(0x000C, 1), 26);  // not open any more
}

TEST_F(DispatchTest, RenameAndDeleteReachTheirTargets) {
    intptr_t cre[] = {intptr_t("old.dat"), 100, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(call(0x208C, 4, cre), 0);
    char newname[] = "new.dat";
    EXPECT_EQ(call(0x0024, 4, nullptr, nullptr, newname), 0);  // zvRENFIL
    EXPECT_NE(access("new.dat", F_OK), -1);
    EXPECT_EQ(access("old.dat", F_OK), -1);
    EXPECT_EQ(call(0x0003, 4), 0);  // DELFIL
    EXPECT_EQ(access("new.dat", F_OK), -1);
    EXPECT_EQ(TSTFILNUM(4), 0);
}

TEST_F(DispatchTest, KeyCallsStoreTheirPositionThroughTheFourthArgument) {
    intptr_t cre[] = {intptr_t("k.idx"), 8, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(call(0x208D, 2, cre), 0);
    int32_t pos = 5000;
    char key[9] = "KEY00001";
    ASSERT_EQ(call(0x0282, 2, nullptr, &pos, key), 0);  // ADDKEY
    int32_t found = 0;
    EXPECT_EQ(call(0x029B, 2, nullptr, &found, key), 0);  // EQLKEY
    EXPECT_EQ(found, 5000);
    // GTEKEY without a fourth argument still runs: the key comes back.
    char out[9] = {};
    char target[9] = "KEY00000";
    EXPECT_EQ(call(0x4296, 2, out, nullptr, target), 0);
    EXPECT_EQ(std::string(out, 8), "KEY00001");
    // Counts of the direct codes go through the fourth argument: the whole
    // index, then the keys from a target on (first target in arg5, second
    // in arg3).
    char key2[9] = "KEY00002";
    int32_t pos2 = 6000;
    ASSERT_EQ(call(0x0282, 2, nullptr, &pos2, key2), 0);
    int32_t count = -1;
    EXPECT_EQ(call(0x02D4, 2, nullptr, &count), 0);  // RNGENT
    EXPECT_EQ(count, 2);
    EXPECT_EQ(call(0x02D4, 2, nullptr, &count, key2, nullptr), 0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(call(0x02D4, 2, key, &count, key, nullptr), 0);
    EXPECT_EQ(count, 1);
    int32_t none = 99;
    char absent[9] = "ZZZZZZZZ";
    EXPECT_EQ(call(0x029B, 2, nullptr, &none, absent), 0);
    EXPECT_EQ(none, 0);
    EXPECT_EQ(call(0x000C, 2), 0);
}

// Variable-length records: the area through the fourth argument, the
// record length through the sixth.
TEST_F(DispatchTest, LengthResultGoesThroughTheSixthArgument) {
    intptr_t cre[] = {intptr_t("v.dat"), 10, 0, 0x0004, 0, 0, 0, 0};
    ASSERT_EQ(call(0x208C, 3, cre), 0);
    int32_t pos = 0, want = 20;
    EXPECT_EQ(call(0x06CE, 3, nullptr, &pos, nullptr, &want), 0);  // NEWVREC
    ASSERT_NE(pos, 0);
    char rec[20] = "twenty bytes record";
    EXPECT_EQ(call(0x063C, 3, nullptr, &pos, rec, &want), 0);  // WRTVREC
    int32_t len = -1;
    EXPECT_EQ(call(0x06B4, 3, nullptr, &pos, nullptr, &len), 0);  // GTVLEN
    EXPECT_EQ(len, 20);
    char back[32] = {};
    int32_t room = sizeof back;
    EXPECT_EQ(call(0x0E3D, 3, nullptr, &pos, back, &room), 0);  // RDVREC
    EXPECT_STREQ(back, rec);
    EXPECT_EQ(call(0x000C, 3), 0);
}

// A definition block: the descriptor in arg3, the type in arg7, or through
// the fourth argument for 0x0233.
TEST_F(DispatchTest, DefinitionBlockTypeTravelsByShape) {
    intptr_t cre[] = {intptr_t("s.dat"), 20, 0, 0, 0, 0, 0, intptr_t(ZV_XCRE_DEFAULT)};
    ASSERT_EQ(call(0x208C, 1, cre), 0);
    unsigned char data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    DEFBLK d{data, 8, 8, 5, 1};
    EXPECT_EQ(call(0x0033, 1, &d, nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(call(0x0033, 1, &d, nullptr, nullptr, nullptr, 7), 446);
    int32_t type = 7;
    EXPECT_EQ(call(0x0233, 1, &d, &type, nullptr, nullptr, 0), 446);
    type = 200;
    EXPECT_EQ(call(0x0233, 1, &d, &type, nullptr, nullptr, 7), 0);
    unsigned char back[8] = {};
    DEFBLK r{back, 8, 8, 5, 1};
    EXPECT_EQ(GETDEFBLK(1, &r), 0);
    EXPECT_EQ(memcmp(back, data, 8), 0);
    EXPECT_EQ(call(0x000C, 1), 0);
}

// The return rule: an ISAM number returns the user error of a target that
// set only that, and keeps it as the ISAM error; the next ISAM call starts
// clean.
TEST_F(DispatchTest, ReturnRuleOfIsamNumbers) {
    // LKISAM (0x2104) refuses every request before ISAM start-up.
    EXPECT_EQ(call(0x2104, 0, nullptr, nullptr, nullptr, nullptr, 0), 464);
    EXPECT_EQ(zvGetIsamErrorCode(), 464);
    zvtest::stop_engine();
    ASSERT_EQ(INTISAMX(8, 20, 8, 16, 33), 0);
    // Under the ISAM layer it refuses bits outside 0x2FF.
    EXPECT_EQ(call(0x2104, 0, nullptr, nullptr, nullptr, nullptr, 0x1002), 446);
    EXPECT_EQ(zvGetIsamErrorCode(), 446);
    EXPECT_EQ(zvGetUserErrorCode(), 446);
    EXPECT_EQ(call(0x2104, 0, nullptr, nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(zvGetIsamErrorCode(), 0);
    // An ISAM error left by an earlier call of another kind is not returned.
    ierr(99, 2);
    EXPECT_EQ(call(0x2104, 0, nullptr, nullptr, nullptr, nullptr, 0), 0);
    ierr(99, 2);
    EXPECT_EQ(call(0x2166, 2), 6);  // an empty slot: 6 becomes the ISAM error
    EXPECT_EQ(zvGetIsamErrorCode(), 6);
    // Without bit 0x0100 the ISAM error is left alone.
    ierr(99, 2);
    EXPECT_EQ(call(0x000C, 9), 26);
    EXPECT_EQ(zvGetIsamErrorCode(), 99);
}

// A target that returns a failure without leaving it in the user error
// still fails through the entry point.
TEST_F(DispatchTest, StatusReturnedOnlyByTheTargetIsKept) {
    EXPECT_EQ(call(0x28D7, 0, nullptr, nullptr, nullptr), 540);  // SYSCFG(NULL)
}

// Values of direct codes that are no status go through the fourth argument.
TEST_F(DispatchTest, ValueResultsOfDirectCodes) {
    int32_t out = 0;
    EXPECT_EQ(call(0x20C9, 0, nullptr, &out, nullptr, nullptr, 2), 0);  // AVLFILNUM(2)
    EXPECT_EQ(out, AVLFILNUM(2));
    out = 0;
    EXPECT_EQ(call(0x22A3, 0, nullptr, &out), 0);  // TRANBEG
    EXPECT_EQ(out, 1);
    EXPECT_EQ(call(0x20CF, 0, nullptr, &out), 0);  // TRANSAV
    EXPECT_EQ(out, 1);
    EXPECT_EQ(call(0x200F), 0);  // TRANABT
    EXPECT_EQ(call(0x200F), 71);
}

// Stopping the engine user through the entry point may remove the
// instance itself; the call still returns cleanly.
TEST_F(DispatchTest, StopThroughEntryPointRemovesDefaultInstance) {
    ASSERT_STREQ(WCHZARVO(), ZV_DEFAULT_INSTANCE_ID);
    EXPECT_EQ(call(0x200A), 0);
    EXPECT_EQ(zvWNGV, nullptr);
}

// The entry point adds no allocation and no system call to its target's.
TEST_F(DispatchTest, NoAllocationOrSystemCallOfItsOwn) {
    intptr_t cre[] = {intptr_t("d.dat"), 64, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(call(0x208C, 1, cre), 0);
    uint32_t at = NEWREC(1);
    ASSERT_NE(at, 0u);
    char rec[64] = "record";
    ASSERT_EQ(WRTREC(1, at, rec), 0);
    auto snapshot = [] {
        long n = 0;
        for (int k = 0; k < int(zv::IoKind::Count); k++) n += zv::io_calls(zv::IoKind(k));
        return std::pair<long, uint64_t>(n, zv::platform_alloc_count());
    };
    char buf[64];
    ASSERT_EQ(REDREC(1, at, buf), 0);  // warm
    auto s0 = snapshot();
    ASSERT_EQ(REDREC(1, at, buf), 0);
    ASSERT_EQ(DATENT(1), 1u);
    auto s1 = snapshot();
    int32_t pos = int32_t(at);
    ASSERT_EQ(call(0x0A3E, 1, nullptr, &pos, buf), 0);  // REDREC
    int32_t count = 0;
    ASSERT_EQ(call(0x02A0, 1, nullptr, &count), 0);  // DATENT
    EXPECT_EQ(count, 1);
    auto s2 = snapshot();
    EXPECT_EQ(s2.first - s1.first, s1.first - s0.first);
    EXPECT_EQ(s2.second - s1.second, s1.second - s0.second);
    EXPECT_EQ(call(0x000C, 1), 0);
}

}  // namespace

// The data-file scan of the rebuild: the real size against the header, a
// partial record at the end (left, or dumped and blanked), the delete
// stack in file order, free areas joined, an unreadable stretch, duplicate
// resources, the ring's first entry, the counts of data-access resources,
// the identity value and a file closed cleanly.
#include <cstring>
#include <string>

#include "engine/core/instance.h"
#include "engine/maint/maintstate.h"
#include "tests/engine/maint/rblfix.h"
#include "tests/support/damage.h"
#include "tests/support/verifyset.h"

namespace {

using namespace rbltest;

class RblScanTest : public RblTest {
protected:
    // "%x%08xx" of a 64-bit value, as the log prints positions and sizes.
    static std::string hex64(uint64_t v) {
        char b[32];
        snprintf(b, sizeof b, "%x%08xx", unsigned(v >> 32), unsigned(uint32_t(v)));
        return b;
    }
};

TEST_F(RblScanTest, AFileShorterThanItsHeaderSaysTakesItsRealSize) {
    RblSet s("short", Kind::Fixed);
    std::multiset<std::string> live = build(s, 60);
    const uint64_t size = zvtest::file_size(s.dat());
    const uint64_t said = uint64_t(zvtest::get_le32(s.dat(), 0)) + 1;
    ASSERT_EQ(said, size);
    // The last record goes whole: no partial record remains.
    zvtest::truncate_to(s.dat(), size - 64);
    Rec last = rec(60 * 10);
    live.erase(live.find(image(last)));
    ASSERT_EQ(s.rebuild(), 0);
    EXPECT_NE(status_log().find("WARNING: scndat() found actual file size smaller than header indicates [" +
                                hex64(size - 64) + " < " + hex64(said) + "] for data file..."),
              std::string::npos)
        << status_log();
    EXPECT_EQ(uint64_t(zvtest::get_le32(s.dat(), 0)) + 1, zvtest::file_size(s.dat()));
    std::string verdict;
    EXPECT_EQ(contents(s, &verdict), live);
    EXPECT_EQ(verdict, "");
    EXPECT_EQ(zvGetSystemErrorCode(), 0);
    CLIFIL(&s.ifil);
}

// A half record at the end: left in place (tail state +n, system error
// -972) or, with the purge, written to a dump record and blanked (tail
// state -n, -973).
TEST_F(RblScanTest, APartialRecordAtTheEndIsLeftOrDumped) {
    struct Case {
        Kind kind;
        bool purge;
    } cases[] = {{Kind::Fixed, false}, {Kind::Fixed, true}, {Kind::Wide, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(kind_name(c.kind)) + (c.purge ? ", purge" : ""));
        std::string name = std::string("tail") + (c.purge ? "p" : "") + (c.kind == Kind::Wide ? "w" : "");
        RblSet s(name.c_str(), c.kind);
        build(s, 30);
        const uint64_t size = zvtest::file_size(s.dat());
        const uint64_t partial = size - 64;
        zvtest::truncate_to(s.dat(), size - 24);
        const std::string bytes = zvtest::read_bytes(s.dat(), partial, 40);
        ASSERT_EQ(bytes.size(), 40u);
        // The scan alone first, to see the tail state.
        maint_state(zvWNGV).rbl.forcescan = 1;
        int32_t tail = 0;
        ASSERT_EQ(RBLDATX(1, s.dat().c_str(), 64, 0, 0, nullptr, 0, c.purge ? 1 : 0, &tail), 0);
        EXPECT_EQ(tail, c.purge ? -40 : 40);
        EXPECT_NE(status_log().find("WARNING: scndat() ignored partial record at end of data file..."),
                  std::string::npos);
        EXPECT_NE(status_log().find("partial record offset " + hex64(partial) + ". actual size 40. expected size 64."),
                  std::string::npos)
            << status_log();
        if (c.purge) {
            std::string dump = entry_after("Temporary file for partial record dump ...");
            ASSERT_FALSE(dump.empty());
            std::string want;
            auto word = [&](uint32_t v) { want.append(reinterpret_cast<const char *>(&v), 4); };
            if (c.kind == Kind::Wide) word(uint32_t(partial >> 32));
            word(uint32_t(partial));
            word(40);
            want += bytes;
            EXPECT_EQ(zvtest::read_file(dump), want);
            EXPECT_EQ(zvtest::read_bytes(s.dat(), partial, 40), std::string(40, '\xFF'));
        } else {
            EXPECT_EQ(zvtest::read_bytes(s.dat(), partial, 40), bytes) << "left in place";
        }
        // The set rebuild reports the tail through the system error.
        zvtest::truncate_to(s.dat(), partial + 40);
        if (c.purge) zvtest::write_bytes(s.dat(), partial, bytes);
        ASSERT_EQ(s.rebuild(c.purge ? int16_t(-101) : int16_t(-1)), 0);
        EXPECT_EQ(zvGetSystemErrorCode(), c.purge ? -973 : -972);
        EXPECT_EQ(int16_t(zvWNGV->sysiocod), c.purge ? -973 : -972);
        EXPECT_TRUE(zvtest::verify_set(s.dat()));
    }
}

// The delete stack comes back in file order with the last deleted record
// on top: NEWREC hands out the highest free slot first.
TEST_F(RblScanTest, TheDeleteStackComesBackInFileOrder) {
    RblSet s("stack", Kind::Fixed);
    build(s, 50);  // records 7, 14, ..., 49 deleted, in that order
    zvtest::put_le32(s.dat(), 4, 0);
    ASSERT_EQ(s.rebuild(), 0);
    std::string verdict;
    zvtest::SetState st;
    contents(s, &verdict, &st);
    ASSERT_EQ(verdict, "");
    const int d = s.ifil.tfilno;
    uint64_t prev = UINT64_MAX;
    for (int i = 0; i < 7; i++) {
        zvSETHGH(0);
        uint32_t pos = NEWREC(d);
        ASSERT_NE(pos, 0u) << i;
        EXPECT_LT(pos, prev) << "each slot lies below the one before";
        EXPECT_EQ(st.records.count(pos), 0u) << "a free slot, not a record";
        prev = pos;
    }
    CLIFIL(&s.ifil);
}

// Two free areas side by side become one.
TEST_F(RblScanTest, AdjacentFreeAreasAreJoined) {
    RblSet s("join", Kind::Variable);
    built(s, 40);
    // A free area (a deleted record) split in two by a header in its middle.
    uint64_t pos = 0;
    uint32_t len = 0;
    for (uint64_t at = 512; at < zvtest::file_size(s.dat());) {
        uint32_t mark = zvtest::get_le32(s.dat(), at) & 0xFFFF;
        uint32_t area = zvtest::get_le32(s.dat(), at + 2);
        if (mark == 0xFDFD && area >= 40) {
            pos = at;
            len = area;
            break;
        }
        if (area < 10) break;
        at += area;
    }
    ASSERT_NE(pos, 0u);
    const uint32_t half = len / 2;
    zvtest::put_le32(s.dat(), pos + 2, half);
    std::string hdr(10, '\0');
    hdr[0] = hdr[1] = char(0xFD);
    for (int i = 0; i < 4; i++) hdr[size_t(2 + i)] = char((len - half) >> (8 * i));
    zvtest::write_bytes(s.dat(), pos + half, hdr);
    ASSERT_EQ(s.rebuild(), 0);
    EXPECT_EQ(zvtest::get_le32(s.dat(), pos) & 0xFFFF, 0xFDFDu);
    EXPECT_EQ(zvtest::get_le32(s.dat(), pos + 2), len) << "one area again";
    EXPECT_TRUE(zvtest::verify_set(s.dat()));
}

// An unreadable stretch stops the scan of a variable-length file without
// the repair option: 1107, and the file keeps its update flag 0xFF.
TEST_F(RblScanTest, AnUnreadableStretchStopsTheScanWithoutTheRepairOption) {
    RblSet s("garb", Kind::Variable);
    std::multiset<std::string> live = build(s, 40);
    std::string verdict;
    zvtest::SetState st;
    contents(s, &verdict, &st);
    CLIFIL(&s.ifil);
    auto it = st.records.begin();
    std::advance(it, 10);
    zvtest::insert_bytes(s.dat(), it->first, zvtest::garbage(64, 5));
    s.ifil.dfilno = 5;
    EXPECT_EQ(s.rebuild(), 1107);
    EXPECT_EQ(zvGetIsamFileNbr(), 5) << "the data file's number";
    s.ifil.dfilno = -1;
    EXPECT_EQ(uint8_t(zvtest::read_bytes(s.dat(), 56, 1)[0]), 0xFF);
    // Rerun with the repair option: the stretch becomes one free area.
    ASSERT_EQ(s.rebuild(int16_t(-(0x4000 + 0x200))), 0);
    EXPECT_EQ(contents(s, &verdict), live);
    EXPECT_EQ(verdict, "");
    CLIFIL(&s.ifil);
}

// Three variable-length records, the first 6,000 bytes long (a 4096-byte
// boundary lies between its start and the second's header) or 100, and
// the second's header damaged. Without options the scan frees only bytes
// that cannot be read as an area header at all: behind the long record
// they may be what a write cut at the boundary left of a shortened
// record's free tail (a header damaged in its lengths too cannot be told
// from that); zeros and growth fill are space never written. A
// header whose mark alone is wrong, its lengths and the next header sound,
// is a live record's and stops the scan with 1107 behind either record;
// option 0x200 then frees it with its record. The other two stay.
TEST_F(RblScanTest, OnlyWhatACutWriteCanLeaveIsFreedWithoutTheRepairOption) {
    const struct {
        const char *what;
        std::string (*damage)(const std::string &header);
        int behind_long, behind_short;  // the answer without options
    } kinds[] = {
        {"mark only", [](const std::string &h) { return "\x12\x34" + h.substr(2); }, 1107, 1107},
        {"mark and lengths", [](const std::string &) { return zvtest::garbage(10, 7); }, 0, 1107},
        {"zeros", [](const std::string &) { return std::string(10, '\0'); }, 0, 0},
        {"0xFF fill", [](const std::string &) { return std::string(10, '\xFF'); }, 0, 0},
    };
    int run = 0;
    for (const auto &k : kinds) {
        for (const size_t first : {size_t(6000), size_t(100)}) {
            const int want = first > 4096 ? k.behind_long : k.behind_short;
            SCOPED_TRACE(std::string(k.what) + ", first record " + std::to_string(first) + " bytes");
            RblSet s(("mark" + std::to_string(run++)).c_str(), Kind::Variable);
            const int d = s.create();
            ASSERT_GE(d, 0);
            const std::string one = image(rec(1), first - sizeof(Rec)), two = image(rec(2), 300),
                              three = image(rec(3), 40);
            for (const std::string *img : {&one, &two, &three})
                ASSERT_EQ(ADDVREC(d, const_cast<char *>(img->data()), int32_t(img->size())), 0);
            ASSERT_EQ(CLIFIL(&s.ifil), 0);
            const std::string disk = zvtest::read_bytes(s.dat(), 0, zvtest::file_size(s.dat()));
            const size_t at = disk.find(two.substr(0, sizeof(Rec)));
            ASSERT_NE(at, std::string::npos);
            const uint64_t pos = at - 10;
            ASSERT_EQ(zvtest::get_le32(s.dat(), pos) & 0xFFFF, 0xFAFAu);
            const uint64_t before = disk.find(one.substr(0, sizeof(Rec))) - 10;
            ASSERT_LT(before, pos);
            ASSERT_EQ(before / 4096 != (pos + 9) / 4096, first > 4096) << "a 4096-byte boundary between the two";
            zvtest::write_bytes(s.dat(), pos, k.damage(disk.substr(size_t(pos), 10)));

            std::string verdict;
            const std::multiset<std::string> kept{one, three};
            if (want == 0) {
                ASSERT_EQ(s.rebuild(), 0) << status_log();
                EXPECT_NE(status_log().find(" unreadable bytes at offset " + hex64(pos) + " free space in data file..."),
                          std::string::npos)
                    << status_log();
                EXPECT_EQ(contents(s, &verdict), kept);
                EXPECT_EQ(verdict, "");
                CLIFIL(&s.ifil);
                EXPECT_TRUE(zvtest::verify_set(s.dat()));
                continue;
            }
            EXPECT_EQ(s.rebuild(), want);
            EXPECT_NE(status_log().find("scndat() found unreadable data at offset " + hex64(pos) + " of data file..."),
                      std::string::npos)
                << status_log();
            EXPECT_EQ(uint8_t(zvtest::read_bytes(s.dat(), 56, 1)[0]), 0xFF) << "still marked for repair";
            EXPECT_EQ(s.rebuild(), want) << "the same answer again";
            // The repair option frees the stretch, the record in it with it.
            ASSERT_EQ(s.rebuild(int16_t(-(0x4000 + 0x200))), 0) << status_log();
            EXPECT_EQ(contents(s, &verdict), kept);
            EXPECT_EQ(verdict, "");
            CLIFIL(&s.ifil);
            EXPECT_TRUE(zvtest::verify_set(s.dat()));
        }
    }
}

// Of two resources with one type and number the one with the larger area
// stays in the ring.
TEST_F(RblScanTest, OfTwoEqualResourcesTheLargerStays) {
    RblSet s("dup", Kind::Variable);
    build(s, 20);
    // A larger copy with other data right after the last byte used.
    std::string body = app_resource(1, std::string(200, 'L'));
    std::string copy(22, '\0');
    copy[0] = copy[1] = char(0xFE);
    uint32_t area = 22 + uint32_t(body.size());
    for (int i = 0; i < 4; i++) copy[size_t(2 + i)] = char(area >> (8 * i));
    for (int i = 0; i < 4; i++) copy[size_t(6 + i)] = char(body.size() >> (8 * i));
    zvtest::write_bytes(s.dat(), uint64_t(zvtest::get_le32(s.dat(), 8)) + 1, copy + body);
    ASSERT_EQ(s.rebuild(), 0);
    std::string verdict;
    contents(s, &verdict);
    EXPECT_EQ(verdict, "");
    EXPECT_EQ(resource_of(s.ifil.tfilno, 1), body);
    CLIFIL(&s.ifil);
    EXPECT_TRUE(zvtest::verify_set(s.dat()));
}

// A ring whose first entry is not the anchor (type 0, number 0): 401.
TEST_F(RblScanTest, ARingWithoutItsAnchorIs401) {
    RblSet s("anchor", Kind::Fixed);
    build(s, 20);
    uint32_t anchor = zvtest::get_le32(s.dat(), 12);
    zvtest::put_le32(s.dat(), anchor + 22 + 4, 77);
    EXPECT_EQ(s.rebuild(), 401);
    EXPECT_EQ(uint8_t(zvtest::read_bytes(s.dat(), 56, 1)[0]), 0xFF);
}

// A count of data-access resources that the file does not hold is logged
// and corrected; a lowered identity value is moved past the stored ones.
TEST_F(RblScanTest, DataAccessCountsAndTheIdentityValueAreRecomputed) {
    RblSet s("dar", Kind::Variable);
    std::multiset<std::string> live = build(s, 30);
    // Find the identity resource (type 11, number 1) and lower its next value.
    const uint32_t pos = identity_resource(s);
    ASSERT_NE(pos, 0u);
    zvtest::write_bytes(s.dat(), pos + 22 + 40, std::string("\x02\0\0\0\0\0\0\0", 8));
    zvtest::write_bytes(s.dat(), 400, std::string(1, '\0'));
    ASSERT_EQ(s.rebuild(), 0);
    EXPECT_NE(status_log().find("DAR type #1: header count 0 || found in file 1"), std::string::npos)
        << status_log();
    std::string verdict;
    EXPECT_EQ(contents(s, &verdict), live);
    EXPECT_EQ(verdict, "");
    int64_t next = 0;
    ASSERT_EQ(getIDfield(s.ifil.tfilno, 2, &next), 0);
    EXPECT_EQ(next, 31) << "thirty values were handed out";
    CLIFIL(&s.ifil);
}

// A set without indexes: the data file alone, its identity value from its
// own pass, and no reject file.
TEST_F(RblScanTest, ASetWithoutIndexesRebuildsItsDataFileAlone) {
    RblSet s("noidx", Kind::Variable);
    s.ifil.dnumidx = 0;
    std::multiset<std::string> live;
    {
        int d = s.create();
        ASSERT_GE(d, 0);
        const DATOBJ doda[2] = {{"head", 0, ZV_ARRAY, 52, 0, 0}, {"amount", 52, ZV_INT4U, 4, 0, 0}};
        ASSERT_EQ(PUTDODA(d, doda, 2), 0);
        ASSERT_EQ(addIDfield(d, 100, 10, 1), 0);
        for (uint32_t k = 1; k <= 12; k++) {
            std::string img = image(rec(k), k);
            ASSERT_EQ(ADDVREC(d, img.data(), int32_t(img.size())), 0);
            live.insert(img);
        }
        uint32_t key[2] = {11, 1};
        unsigned char body[256];
        uint32_t pos = GETRES(d, key, body, sizeof body, 2);
        ASSERT_NE(pos, 0u);
        ASSERT_EQ(CLIFIL(&s.ifil), 0);
        zvtest::write_bytes(s.dat(), pos + 22 + 40, std::string("\x05\0\0\0\0\0\0\0", 8));
    }
    ASSERT_EQ(s.rebuild(), 0);
    EXPECT_EQ(strays({s.dat()}), std::vector<std::string>{});
    s.ifil.tfilno = -1;
    ASSERT_EQ(OPNIFILX(&s.ifil, nullptr, nullptr, nullptr), 0);
    int64_t next = 0;
    ASSERT_EQ(getIDfield(s.ifil.tfilno, 2, &next), 0);
    EXPECT_EQ(next, 100 + 12 * 10);
    CLIFIL(&s.ifil);
}

// A data file closed cleanly is not scanned unless a set rebuild has run
// in the instance (the force word).
TEST_F(RblScanTest, ACleanFileIsScannedOnlyWithTheForceWord) {
    RblSet s("clean", Kind::Fixed);
    build(s, 20);
    zvtest::zero_header_field(s.dat(), zvtest::HeaderField::ActiveCount);
    SETCBRBL(progress_cb, 1);
    ASSERT_EQ(maint_state(zvWNGV).rbl.forcescan, 0);
    int32_t tail = 0;
    ASSERT_EQ(RBLDATX(1, s.dat().c_str(), 64, 0, 0, nullptr, 0, 0, &tail), 0);
    EXPECT_EQ(zvtest::get_le32(s.dat(), 24), 0u) << "not scanned";
    EXPECT_TRUE(progress().empty());
    maint_state(zvWNGV).rbl.forcescan = 1;
    ASSERT_EQ(RBLDATX(1, s.dat().c_str(), 64, 0, 0, nullptr, 0, 0, &tail), 0);
    EXPECT_EQ(zvtest::get_le32(s.dat(), 24), 20u - 2u);
    ASSERT_FALSE(progress().empty());
    EXPECT_EQ(progress()[0].code, 109);
    EXPECT_EQ(progress()[0].text, "Rebuilding data file...");
}

// Header checks of the scan: a definition that disagrees with the file's
// kind, a superfile host, a file that is not there.
TEST_F(RblScanTest, TheScanRefusesWhatItCannotRepair) {
    RblSet s("kinds", Kind::Fixed);
    build(s, 5);
    ASSERT_EQ(CREDAT(3, "host.dat", 0, 0, 0x200), 0);
    ASSERT_EQ(CLSFIL(3, 0), 0);
    struct Case {
        const char *name;
        uint16_t mode;
        int rc;
    } cases[] = {
        {"kinds.dat", 0x4, 122},   // fixed-length file, variable definition
        {"host.dat", 0x4, 48},     // a superfile host
        {"absent.dat", 0, 12},     // no such file
        {"", 0, 130},              // no name
    };
    for (const Case &c : cases) {
        int32_t tail = 0;
        EXPECT_EQ(RBLDATX(1, c.name, 64, 0, c.mode, nullptr, 0, 0, &tail), c.rc) << c.name;
        EXPECT_EQ(TSTFILNUM(1), 0) << "number 1 is free again";
    }
}

}  // namespace

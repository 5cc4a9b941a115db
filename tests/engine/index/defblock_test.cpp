// Definition blocks: their resource, reading and storing, damaged
// directories, alternate collating sequences, the record-schema block and
// the pad and delimiter bytes of variable-length fields.
#include <unistd.h>

#include "engine/core/platform.h"
#include "engine/index/defblock.h"
#include "tests/engine/index/keyfix.h"

namespace {

using keytest::Bytes;
using keytest::schema_block;

class DefBlockTest : public keytest::KeyTest {
protected:
    int store(int filno, int blkno, const Bytes &data, int32_t bufsiz = 0, uint16_t mode = 1, int type = 0) {
        DEFBLK d{const_cast<unsigned char *>(data.data()), int32_t(data.size()), bufsiz, uint16_t(blkno), mode};
        return SETDEFBLKX(filno, &d, type);
    }
    // The block read back (its bytes up to the buffer size), and the code.
    std::pair<int, Bytes> read(int filno, int blkno, int32_t size = 64, uint16_t mode = 1, int type = 0) {
        Bytes buf(size_t(size), 0xAA);
        DEFBLK d{buf.data(), size, 0, uint16_t(blkno), mode};
        int rc = type ? igetdefblkx(filno, &d, 0, type) : GETDEFBLK(filno, &d);
        return {rc, buf};
    }
    // The definition resource's body as stored.
    Bytes resource(int filno, uint32_t number = 1, uint32_t type = 0) {
        uint32_t key[2] = {type, number};
        Bytes b(8192, 0);
        uint32_t lo = GETRES(filno, key, b.data(), int32_t(b.size()), 2);
        uint32_t hi = uint32_t(zvGETHGH());
        if (!lo && !hi) return {};
        uint32_t info[3] = {};
        GETRES(filno, key, info, sizeof info, 2 | 0x40);
        b.resize(info[2]);
        return b;
    }
    static uint32_t word(const Bytes &b, size_t off) {
        return uint32_t(b[off]) | uint32_t(b[off + 1]) << 8 | uint32_t(b[off + 2]) << 16 | uint32_t(b[off + 3]) << 24;
    }
    static Bytes slice(const Bytes &b, size_t off, size_t n) { return Bytes(b.begin() + off, b.begin() + off + n); }
};

Bytes text(const char *s) { return Bytes(s, s + strlen(s)); }

TEST_F(DefBlockTest, ANewResourceHasItsHeadDirectoryAndFirstBlock) {
    make_data(1, 32);
    // An empty block leaves the total length of a new resource at 1048.
    ASSERT_EQ(store(1, 7, {}), 0);
    Bytes r = resource(1);
    ASSERT_EQ(r.size(), 2048u - 22u);
    EXPECT_EQ(slice(r, 0, 16), (Bytes{0, 0, 0, 0, 1, 0, 0, 0, 'Q', 'V', '!', 'D', 'E', 'F', 0, 0}));
    EXPECT_EQ(slice(r, 16, 4), (Bytes{0x18, 0x04, 0x00, 0x00}));
    EXPECT_EQ(slice(r, 24 + 8 * 7, 8), (Bytes{0x18, 0x04, 0, 0, 0, 0, 0, 0}));
    // The first block with data goes to offset 1048, its space rounded to 8.
    ASSERT_EQ(store(1, 0, text("twenty bytes of data")), 0);
    r = resource(1);
    EXPECT_EQ(slice(r, 16, 4), (Bytes{0x30, 0x04, 0x00, 0x00}));  // 1072
    EXPECT_EQ(slice(r, 24, 8), (Bytes{0x18, 0x04, 0x00, 0x00, 0x18, 0x00, 0x14, 0x00}));
    EXPECT_EQ(slice(r, 1048, 20), text("twenty bytes of data"));
    EXPECT_NE(word(r, 20), 0u);  // time of the last change
}

TEST_F(DefBlockTest, BlocksRoundTripAcrossCloseAndReopen) {
    make_data(1, 32);
    make_index(2, 1, 8);
    const Bytes a = text("block zero"), b(300, 0x42), c = text("type 250"), d = text("index block");
    ASSERT_EQ(store(1, 0, a), 0);
    ASSERT_EQ(store(1, 5, b, 400), 0);
    ASSERT_EQ(store(1, 5, c, 0, 1, 250), 0);
    ASSERT_EQ(store(2, 9, d, 0, 3), 0);
    ASSERT_EQ(CLSFIL(2, 0), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "k.dat", 0), 0);
    ASSERT_EQ(OPNFIL(2, "k.idx", 0), 0);
    auto got = read(1, 0, int32_t(a.size()));
    EXPECT_EQ(got, std::make_pair(0, a));
    got = read(1, 5, 300);
    EXPECT_EQ(got, std::make_pair(0, b));
    got = read(1, 5, int32_t(c.size()), 1, 250);
    EXPECT_EQ(got, std::make_pair(0, c));
    got = read(2, 9, int32_t(d.size()), 3);
    EXPECT_EQ(got, std::make_pair(0, d));
    // Blocks never stored are empty.
    EXPECT_EQ(read(1, 6).first, 438);
    EXPECT_EQ(read(1, 0, 64, 1, 251).first, 438);
}

TEST_F(DefBlockTest, AGrownBlockMovesToTheEnd) {
    make_data(1, 32);
    ASSERT_EQ(store(1, 3, Bytes(10, 'a')), 0);
    ASSERT_EQ(store(1, 4, Bytes(8, 'b')), 0);
    Bytes r = resource(1);
    EXPECT_EQ(slice(r, 24 + 8 * 3, 8), (Bytes{0x18, 0x04, 0, 0, 16, 0, 10, 0}));
    EXPECT_EQ(slice(r, 24 + 8 * 4, 8), (Bytes{0x28, 0x04, 0, 0, 8, 0, 8, 0}));
    // Shorter: it stays where it is.
    ASSERT_EQ(store(1, 3, Bytes(16, 'c')), 0);
    r = resource(1);
    EXPECT_EQ(slice(r, 24 + 8 * 3, 8), (Bytes{0x18, 0x04, 0, 0, 16, 0, 16, 0}));
    // Longer: a new place at the end; the old space is not reused.
    ASSERT_EQ(store(1, 3, Bytes(30, 'd')), 0);
    r = resource(1);
    EXPECT_EQ(slice(r, 24 + 8 * 3, 8), (Bytes{0x30, 0x04, 0, 0, 32, 0, 30, 0}));
    EXPECT_EQ(word(r, 16), 1104u);
    EXPECT_EQ(slice(r, 1048, 16), Bytes(16, 'c'));
    EXPECT_EQ(read(1, 3, 30).second, Bytes(30, 'd'));
    EXPECT_EQ(read(1, 4, 8).second, Bytes(8, 'b'));
    // A resource that outgrows its first space keeps growing.
    for (int i = 10; i < 40; i++) ASSERT_EQ(store(1, i, Bytes(100, uint8_t(i))), 0);
    for (int i = 10; i < 40; i++) EXPECT_EQ(read(1, i, 100).second, Bytes(100, uint8_t(i))) << i;
}

TEST_F(DefBlockTest, ReadsAndStoresCheckTheirArguments) {
    make_data(1, 32);
    make_index(2, 1, 8);
    ASSERT_EQ(store(1, 2, text("0123456789")), 0);
    // A short buffer: 434 and nothing copied.
    auto got = read(1, 2, 9);
    EXPECT_EQ(got.first, 434);
    EXPECT_EQ(got.second, Bytes(9, 0xAA));
    // Block 129 stores block 0; 128 cannot be read.
    ASSERT_EQ(store(1, 129, text("zero")), 0);
    EXPECT_EQ(read(1, 0, 4), std::make_pair(0, text("zero")));
    EXPECT_EQ(read(1, 128).first, 436);
    EXPECT_EQ(store(1, 128, text("x")), 436);
    EXPECT_EQ(store(1, 130, text("x")), 436);
    // Mode by file kind, type, data and size.
    EXPECT_EQ(store(1, 1, text("x"), 0, 3), 48);
    EXPECT_EQ(store(2, 1, text("x"), 0, 1), 48);
    EXPECT_EQ(store(1, 1, text("x"), 0, 1, 199), 446);
    EXPECT_EQ(store(1, 1, text("x"), 0, 1, 300), 446);
    EXPECT_EQ(read(1, 2, 10, 1, 5).first, 446);
    EXPECT_EQ(store(1, 2, text("x"), 65536), 434);
    EXPECT_EQ(store(1, 2, text("x"), 65529), 434);
    EXPECT_EQ(store(1, 2, text("x"), 65528), 0);
    EXPECT_EQ(SETDEFBLK(1, nullptr), 437);
    DEFBLK nodata{nullptr, 10, 10, 2, 1};
    EXPECT_EQ(SETDEFBLK(1, &nodata), 437);
    EXPECT_EQ(GETDEFBLK(1, &nodata), 437);
    EXPECT_EQ(SETDEFBLK(9, &nodata), 26);
    // No definition resource at all: an index without resources, and a
    // data file with none stored.
    make_data(3, 32, "other.dat");
    EXPECT_EQ(read(3, 0).first, 438);
    idxtest::IndexShape s;
    ASSERT_EQ(idxtest::create_index(4, "bare.idx", s), 0);
    EXPECT_EQ(read(4, 0, 64, 3).first, 438);
    unsigned char seq[512];
    EXPECT_EQ(GETALTSEQ(4, seq), 438);
}

TEST_F(DefBlockTest, ADamagedDirectoryIsReportedWithoutReadingPastTheResource) {
    make_data(1, 32);
    ASSERT_EQ(store(1, 2, text("ten bytes!")), 0);
    ASSERT_EQ(store(1, 3, text("more")), 0);
    Bytes r = resource(1);
    struct Case {
        const char *name;
        size_t off;
        Bytes with;
    };
    const Case cases[] = {
        {"offset beyond the total", 24 + 8 * 2, {0x00, 0x10, 0, 0}},
        {"length beyond the total", 24 + 8 * 2 + 6, {0xF0, 0x0F}},
        {"offset inside the head", 24 + 8 * 2, {0x08, 0, 0, 0}},
        {"total beyond the stored body", 16, {0xFF, 0xFF, 0, 0}},
        {"total below the head", 16, {0x10, 0, 0, 0}},
    };
    for (const auto &c : cases) {
        Bytes bad = r;
        std::copy(c.with.begin(), c.with.end(), bad.begin() + long(c.off));
        ASSERT_EQ(UPDRES(1, bad.data(), int32_t(bad.size())), 0) << c.name;
        EXPECT_EQ(read(1, 2, 4096).first, 439) << c.name;
        EXPECT_EQ(store(1, 2, text("new")), 439) << c.name;
    }
}

TEST_F(DefBlockTest, AStoredCollatingSequenceOrdersKeysAfterReopen) {
    make_data(1, 8);
    make_index(2, 1, 4);
    seg(2, 0, 0, 4, 32 | 2);
    zvlfsegget(2, 1);
    // Letters in reverse order; the high byte of an entry is not used.
    uint16_t alt[256];
    for (int i = 0; i < 256; i++) alt[i] = uint16_t(0x7700 | i);
    for (int c = 'A'; c <= 'Z'; c++) alt[c] = uint16_t(0x7700 | ('Z' - (c - 'A')));
    ASSERT_EQ(SETALTSEQ(2, alt), 0);
    ASSERT_EQ(CLSFIL(2, 0), 0);
    ASSERT_EQ(OPNFIL(2, "k.idx", 0), 0);
    uint16_t back[256];
    ASSERT_EQ(GETALTSEQ(2, back), 0);
    EXPECT_EQ(memcmp(back, alt, sizeof alt), 0);
    const Bytes ka = key(2, text("abcdefgh")), kb = key(2, text("bcdefghi")), kz = key(2, text("zzzzzzzz"));
    EXPECT_EQ(ka, (Bytes{'Z', 'Y', 'X', 'W'}));
    EXPECT_GT(ka, kb);
    EXPECT_GT(kb, kz);
    // Without the sequence the letters keep their order, after a reopen too.
    ASSERT_EQ(SETALTSEQ(2, nullptr), 0);
    EXPECT_EQ(GETALTSEQ(2, back), 438);
    EXPECT_EQ(key(2, text("abcdefgh")), text("ABCD"));
    ASSERT_EQ(CLSFIL(2, 0), 0);
    ASSERT_EQ(OPNFIL(2, "k.idx", 0), 0);
    EXPECT_EQ(key(2, text("abcdefgh")), text("ABCD"));
    EXPECT_EQ(SETALTSEQ(1, alt), 48);
    EXPECT_EQ(GETALTSEQ(2, nullptr), 437);
}

TEST_F(DefBlockTest, MembersKeepTheirSequencesInTheHost) {
    make_data(1, 8);
    XCREblk x{};
    x.mode = 0x02;
    ASSERT_EQ(CREIDXX8(2, "m.idx", 4, 0, 0, 1, 4096, 0, 0, nullptr, nullptr, &x), 0);
    ASSERT_EQ(CREMEM(2, 4, 0, 0, 1), 0);  // member 1 on number 3
    ASSERT_EQ(ENARES(2), 0);
    uint16_t alt[256];
    for (int i = 0; i < 256; i++) alt[i] = uint16_t(255 - i);
    ASSERT_EQ(SETALTSEQ(3, alt), 0);
    unsigned char seq[512];
    EXPECT_EQ(GETALTSEQ(2, seq), 438);
    ASSERT_EQ(GETALTSEQ(3, seq), 0);
    EXPECT_EQ(memcmp(seq, alt, 512), 0);
    // Block 1 of the host's mode-3 resource.
    EXPECT_EQ(read(2, 1, 512, 3).first, 0);
    ASSERT_EQ(CLSFIL(2, 0), 0);
    ASSERT_EQ(OPNFIL(2, "m.idx", 0), 0);
    ASSERT_NE(idxtest::fcb_of(3)->altseq, nullptr);
    EXPECT_EQ(idxtest::fcb_of(2)->altseq, nullptr);
    EXPECT_EQ(idxtest::fcb_of(3)->altseq[0], 255);
}

TEST_F(DefBlockTest, TheRecordSchemaBlockBecomesTheSchemaMap) {
    make_data(1, 16);
    make_index(2, 1, 4);
    seg(2, 0, 1, 4, 12);
    zvlfsegget(2, 1);
    Bytes rec = {0, 0, 0, 0, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0, 0, 0, 0};
    EXPECT_TRUE(key(2, rec).empty());
    EXPECT_EQ(isamerr(), 199);
    // Field 1 at offset 4.
    const Bytes first = schema_block(1, 0, ' ', {{4, ZV_INT4}, {4, ZV_FSTRING}, {8, ZV_ARRAY}});
    set_schema(1, first);
    EXPECT_EQ(key(2, rec), text("abcd"));
    // Stored packed: 4-byte entries (length, type, repeat), size word updated.
    auto got = read(1, 1, 64);
    ASSERT_EQ(got.first, 0);
    EXPECT_EQ(slice(got.second, 0, 28), (Bytes{2, 1, 0, ' ', 28, 0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0,  //
                                               4, 0, 51, 0, 4, 0, 144, 0, 8, 0, 128, 0}));
    EXPECT_EQ(got.second[28], 0xAA);
    // A new schema replaces the map: field 1 now at offset 6.
    set_schema(1, schema_block(1, 0, ' ', {{6, ZV_ARRAY}, {4, ZV_FSTRING}}));
    EXPECT_EQ(key(2, rec), text("cdef"));
    // The open takes the stored schema back.
    ASSERT_EQ(CLSFIL(1, 0), 0);
    EXPECT_TRUE(key(2, rec).empty());
    ASSERT_EQ(OPNFIL(1, "k.dat", 0), 0);
    EXPECT_EQ(key(2, rec), text("cdef"));
    EXPECT_EQ(GETFIL(1, 20) & 0x40000, 0);
    // A field type above 256: stored as given, and the file marked.
    const Bytes xtd = schema_block(1, 0, ' ', {{8, ZV_TIMES_MS}, {4, ZV_FSTRING}});
    set_schema(1, xtd);
    EXPECT_EQ(read(1, 1, 64).second.size(), 64u);
    EXPECT_EQ(slice(read(1, 1, 64).second, 0, 28), xtd);
    EXPECT_EQ(GETFIL(1, 20) & 0x40000, 0x40000);
    EXPECT_EQ(key(2, rec), text("efgh"));
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "k.dat", 0), 0);
    EXPECT_EQ(key(2, rec), text("efgh"));
    // A block shorter than its entries is refused.
    Bytes bad = first;
    bad.resize(20);
    DEFBLK d{bad.data(), int32_t(bad.size()), 0, 1, 1};
    EXPECT_EQ(SETDEFBLK(1, &d), 439);
}

TEST_F(DefBlockTest, VariableFieldBytesGoToTheHeaderOrTheSchemaBlock) {
    make_data(1, 8);
    make_index(2, 1, 6);
    const unsigned char idxbytes[2] = {'*', 0};
    EXPECT_EQ(SETVARBYTS(2, idxbytes), 0);
    EXPECT_EQ(GETFIL(2, 14), '*');
    ASSERT_EQ(CLSFIL(2, 0), 0);
    ASSERT_EQ(OPNFIL(2, "k.idx", 0), 0);
    EXPECT_EQ(GETFIL(2, 14), '*');
    // A data file without a schema gets a new block of no fields.
    EXPECT_EQ(GETFIL(1, 15), 0);
    EXPECT_EQ(GETFIL(1, 16), 32);
    const unsigned char datbytes[2] = {'~', '|'};
    EXPECT_EQ(SETVARBYTS(1, datbytes), 0);
    EXPECT_EQ(GETFIL(1, 15), '|');
    EXPECT_EQ(GETFIL(1, 16), '~');
    EXPECT_EQ(GETFIL(1, 21), 8);
    auto got = read(1, 1, 16);
    EXPECT_EQ(got, std::make_pair(0, Bytes{2, 8, '|', '~', 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    // Variable fields end with the delimiter and are padded with the pad byte.
    seg(2, 0, 1, 6, 4);
    zvlfsegget(2, 1);
    EXPECT_EQ(key(2, text("FIXEDXYZab|cd|ef")), text("cd~~~~"));
    // An existing schema keeps its fields.
    set_schema(1, schema_block(4, 0, ' ', {{4, ZV_ARRAY}, {4, ZV_STRING}}));
    EXPECT_EQ(SETVARBYTS(1, datbytes), 0);
    got = read(1, 1, 64);
    EXPECT_EQ(slice(got.second, 0, 24), (Bytes{2, 4, '|', '~', 24, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0,  //
                                               4, 0, 128, 0, 4, 0, 146, 0}));
    EXPECT_EQ(SETVARBYTS(1, nullptr), 437);
    EXPECT_EQ(SETVARBYTS(7, datbytes), 26);
}

}  // namespace

namespace {

class DefBlockFaultTest : public keytest::KeyTest {};

// A write that fails while a block is stored gives a clean code, and the
// store can be made again: the block then reads back, also after a reopen.
TEST_F(DefBlockFaultTest, AStoreThatFailedCanBeMadeAgain) {
    const Bytes before(40, 'o'), after(200, 'n');
    int failures = 0;
    for (long nth = 1; nth < 40; nth++) {
        SCOPED_TRACE(nth);
        unlink("f.dat");
        ASSERT_EQ(CREDATX8(1, "f.dat", 32, 0, 0, 0, nullptr, nullptr, nullptr), 0);
        DEFBLK d{const_cast<unsigned char *>(before.data()), 40, 0, 4, 1};
        ASSERT_EQ(SETDEFBLK(1, &d), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        ASSERT_EQ(OPNFIL(1, "f.dat", 0), 0);
        zv::fault_set(zv::IoKind::Write, nth, 5);
        DEFBLK n{const_cast<unsigned char *>(after.data()), 200, 0, 4, 1};
        int rc = SETDEFBLK(1, &n);
        zv::fault_reset();
        if (rc == 0) {
            ASSERT_EQ(CLSFIL(1, 0), 0);
            break;
        }
        failures++;
        EXPECT_EQ(rc, zvGetUserErrorCode());
        ASSERT_EQ(SETDEFBLK(1, &n), 0);
        Bytes buf(256, 0);
        DEFBLK r{buf.data(), 256, 0, 4, 1};
        ASSERT_EQ(GETDEFBLK(1, &r), 0);
        EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 200), after);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        ASSERT_EQ(OPNFIL(1, "f.dat", 0), 0);
        buf.assign(256, 0);
        ASSERT_EQ(GETDEFBLK(1, &r), 0);
        EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 200), after);
        ASSERT_EQ(CLSFIL(1, 0), 0);
    }
    EXPECT_GT(failures, 0);
}

}  // namespace

// Byte layouts of the headers that creation writes, checked against
// hand-written expected bytes.
#include <ctime>

#include "engine/files/header.h"
#include "engine/core/header_codec.h"
#include "tests/engine/files/files_util.h"

namespace {

using filestest::Bytes;
using filestest::file_bytes;
using filestest::le16;
using filestest::le32;
using filestest::slice;

class LayoutTest : public filestest::FilesTest {};

// The file id (+32), server id (+36) and creation time (+88) vary; the
// test checks them apart and compares the rest byte for byte.
Bytes masked(Bytes b) {
    for (size_t off : {32, 36, 88})
        for (size_t i = 0; i < 4; i++) b[off + i] = 0;
    return b;
}

TEST_F(LayoutTest, StandardFixedFileIsTwoHundredBytes) {
    uint32_t t0 = uint32_t(time(nullptr));
    ASSERT_EQ(CREDATX8(1, "a.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    Bytes b = file_bytes("a.dat");
    ASSERT_EQ(b.size(), 200u);
    const Bytes expected = {
        0xC7, 0, 0, 0,  0, 0, 0, 0,  0xC7, 0, 0, 0,  0, 0, 0, 0,     // +0 ends, +4 delete stack
        0, 0, 0, 0,     0, 0, 0, 0,  0, 0, 0, 0,     0, 0, 0, 0,     // +16 .. +31
        0, 0, 0, 0,     0, 0, 0, 0,                                  // +32 file id, +36 server id
        0x81, 0,  0, 0,  100, 0,  0, 0,  0x00, 0x08,  0, 0,  0, 0,  0, 0,  // +40 .. +55
        0, 0, 1, 0, 0, 2, 8, 8,                                      // +56 .. +63
        0, 0,  0, 0,  0, 0,  0, 0,                                   // +64 .. +71
        0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,  // +72 .. +91
        0, 0,  0, 0,  0xFF, 0,  0, 0,                                // +92 .. +99
        0xEF, 0, 0, 0,  0, 0, 0, 0,  1, 0, 0, 0,  0, 0, 0, 0,        // +100 .. +115
        0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0,                        // +116 .. +127
    };
    EXPECT_EQ(masked(slice(b, 0, 128)), expected);
    EXPECT_NE(le32(b, 32), 0u);
    EXPECT_LE(le32(b, 32), 0x7FFFFFFFu);
    EXPECT_NE(le32(b, 36), 0u);
    EXPECT_LE(le32(b, 36), 0x7FFFFFFFu);
    EXPECT_GE(le32(b, 88), t0);
    EXPECT_LE(le32(b, 88), uint32_t(time(nullptr)));
    EXPECT_EQ(slice(b, 128, 72), Bytes(72, 0xFF));
}

TEST_F(LayoutTest, DefaultBlockGivesTheExtendedHeader) {
    ASSERT_EQ(CREDAT(1, "b.dat", 100, 0, 0x800), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    Bytes b = file_bytes("b.dat");
    ASSERT_EQ(b.size(), 600u);  // first record at the first multiple of 100 past 512
    Bytes expected(512, 0);
    auto put = [&](size_t off, Bytes v) {
        for (size_t i = 0; i < v.size(); i++) expected[off + i] = v[i];
    };
    put(0, {0x57, 0x02, 0, 0});        // last physical byte 599
    put(8, {0x57, 0x02, 0, 0});        // last byte used 599
    put(40, {0x91, 0});
    put(44, {100, 0});
    put(48, {0x00, 0x08});
    put(58, {1, 0, 0, 2, 8, 8});
    put(96, {0xFF, 0, 0x02, 0});       // name length, header flags 0x02
    put(100, {0xEF, 0x09, 0, 0});
    put(108, {1, 0, 0, 0});            // update counter
    put(176, {0x02, 0, 0, 0});         // flmode2
    put(204, {1, 0, 0, 0});            // one segment
    put(212, {'6', '5', '5', '6'});
    put(224, {0xFF, 0xFF, 0xFF, 0xFF});
    put(236, {1, 0, 0, 0});            // copy of the update counter
    EXPECT_EQ(masked(slice(b, 0, 512)), expected);
    EXPECT_EQ(slice(b, 512, 88), Bytes(88, 0xFF));
}

TEST_F(LayoutTest, VariableLengthFileHasItsSpaceIndexGeometry) {
    ASSERT_EQ(CREDATX8(1, "v.dat", 20, 0, 0x804, 0, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    Bytes b = file_bytes("v.dat");
    ASSERT_EQ(b.size(), 1024u);
    EXPECT_EQ(le16(b, 64), 2);
    EXPECT_EQ(b[59], 2);
    EXPECT_EQ(le16(b, 66), 12);
    EXPECT_EQ(le16(b, 42), 1024);
    EXPECT_EQ(le16(b, 54), 1006);
    EXPECT_EQ(le16(b, 52), 984);
    EXPECT_EQ(le32(b, 8), 1023u);
    EXPECT_EQ(le32(b, 0), 1023u);
}

TEST_F(LayoutTest, IndexWithMembersKeepsOneHeaderPerMember) {
    ASSERT_EQ(CREIDX(1, "i.idx", 10, 0, 0, 2, 0, 0), 0);
    ASSERT_EQ(CREMEM(1, 8, 0, 1, 1), 0);
    ASSERT_EQ(CREMEM(1, 12, 0, 1, 2), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    Bytes b = file_bytes("i.idx");
    ASSERT_EQ(b.size(), 2048u);
    EXPECT_EQ(le32(b, 8), 2047u);
    EXPECT_EQ(le16(b, 68), 2);
    EXPECT_EQ(le32(b, 288), 4u);
    EXPECT_EQ(b[56], 0);  // the close cleared the host's update flag
    const Bytes member2 = {
        0xFF, 0xFF, 0xFF, 0xFF,  0, 0, 0, 0,  0xFF, 0xFF, 0xFF, 0xFF,  // +0 .. +11
    };
    EXPECT_EQ(slice(b, 1024, 12), member2);
    EXPECT_EQ(slice(b, 1024 + 46, 2), Bytes({0xFF, 0xFF}));
    EXPECT_EQ(slice(b, 1024 + 64, 8), Bytes({1, 0, 12, 0, 0, 0, 2, 0}));  // type, key length, members, member
    EXPECT_EQ(slice(b, 1024 + 80, 4), Bytes({0x00, 0x04, 0, 0}));
    EXPECT_EQ(le16(b, 512 + 70), 1);
    EXPECT_EQ(le32(b, 512 + 80), 512u);

    // The members take the next numbers: a number in use refuses the open.
    ASSERT_EQ(CREDATX8(2, "x.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(OPNFIL(1, "i.idx", 0), 46);
    EXPECT_EQ(fcb(1)->state, 'n');
    ASSERT_EQ(CLSFIL(2, 0), 0);
    ASSERT_EQ(OPNFIL(1, "i.idx", 0), 0);
    EXPECT_EQ(fcb(2)->state, 'y');
    EXPECT_EQ(fcb(3)->hdr.base.keylen, 12);
    EXPECT_EQ(CLSFIL(1, 0), 0);
    EXPECT_EQ(fcb(3)->state, 'n');
}

TEST_F(LayoutTest, HeaderWriteMovesExactlyTheHeader) {
    struct Case {
        const char *name;
        XCREblk *xcre;
        size_t size;
    };
    for (Case c : {Case{"s.dat", nullptr, 128}, Case{"e.dat", ZV_XCRE_DEFAULT, 512}}) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(CREDATX8(1, c.name, 1000, 0, 0x800, 0, nullptr, nullptr, c.xcre), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        filestest::patch(c.name, c.size, Bytes(1000 - c.size, 0xAB));
        Bytes before = file_bytes(c.name);
        ASSERT_EQ(OPNFIL(1, c.name, 0x800), 0);
        long w = writes();
        ASSERT_EQ(wrthdr(fcb(1)), 0);
        EXPECT_EQ(writes(), w + 1);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        Bytes after = file_bytes(c.name);
        ASSERT_EQ(after.size(), before.size());
        EXPECT_EQ(le32(after, 108), le32(before, 108) + 1);
        EXPECT_EQ(slice(after, c.size, 1000), slice(before, c.size, 1000));
    }
}

TEST_F(LayoutTest, ShortWriteMovesTheEndsOnlyAndTransactionWriteRestoresTheCopy) {
    ASSERT_EQ(CREDAT(1, "e.dat", 100, 0, 0x800), 0);
    FCB *f = fcb(1);
    Bytes before = file_bytes("e.dat");
    f->hdr.base.phyend = 0x11111111;
    f->hdr.base.delstk = 0x22222222;
    f->hdr.base.numrec = 0x33333333;
    f->hdr.ext.phyendh = 4;
    f->hdr.base.sernum = 99;  // not one of the short form's fields
    ASSERT_EQ(filhdr(f), 0);
    Bytes after = file_bytes("e.dat");
    EXPECT_EQ(slice(after, 0, 12), Bytes({0x11, 0x11, 0x11, 0x11, 0x22, 0x22, 0x22, 0x22, 0x33, 0x33, 0x33, 0x33}));
    EXPECT_EQ(slice(after, 128, 12), Bytes({4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(slice(after, 12, 116), slice(before, 12, 116));
    EXPECT_EQ(slice(after, 140, 372), slice(before, 140, 372));

    f->pendtranl = 0x01020304;
    f->pendtranh = 5;
    ASSERT_EQ(wrthdrhgh(f), 0);
    after = file_bytes("e.dat");
    EXPECT_EQ(le32(after, 104), 0x01020304u);
    EXPECT_EQ(le32(after, 232), 5u);
    EXPECT_EQ(le32(after, 20), 99u);
    EXPECT_EQ(f->hdr.base.hightran, 0u);
    EXPECT_EQ(f->hdr.ext.hightranh, 0u);
    // Put the ends back so that the close writes a sound header.
    f->hdr.base.phyend = f->hdr.base.numrec = 599;
    f->hdr.base.delstk = 0;
    f->hdr.ext.phyendh = 0;
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST(HeaderCodec, DecodesLittleEndianFieldsAndRefusesShortBuffers) {
    Bytes disk(512, 0);
    disk[0] = 0x78, disk[1] = 0x56, disk[2] = 0x34, disk[3] = 0x12;  // +0 u32
    disk[44] = 0x34, disk[45] = 0x12;                                  // +44 u16
    disk[56] = 0xFF;                                                   // +56 byte
    disk[128 + 288] = 0x08, disk[128 + 295] = 0x01;                    // +416 u64
    disk[400] = 7;                                                     // +400 byte
    FILEHDRALL h{};
    ASSERT_EQ(zv::decode_base(disk.data(), disk.data() + 128, &h.base), 0);
    ASSERT_EQ(zv::decode_ext(disk.data() + 128, disk.data() + 512, 384, &h.ext), 0);
    EXPECT_EQ(h.base.phyend, 0x12345678u);
    EXPECT_EQ(h.base.reclen, 0x1234);
    EXPECT_EQ(h.base.updflg, 0xFF);
    EXPECT_EQ(h.ext.wide64[0], 0x0100000000000008ull);
    EXPECT_EQ(h.ext.darcount[0], 7);
    FILEHDR untouched{};
    untouched.reclen = 77;
    EXPECT_EQ(zv::decode_base(disk.data(), disk.data() + 127, &untouched), 13);
    EXPECT_EQ(untouched.reclen, 77);
    EXPECT_EQ(zv::decode_ext(disk.data(), disk.data() + 200, 384, &h.ext), 13);
    Bytes out(512, 0xEE);
    EXPECT_EQ(zv::encode_header(h, 512, out.data(), out.data() + 511), 0u);
    ASSERT_EQ(zv::encode_header(h, 512, out.data(), out.data() + 512), 512u);
    EXPECT_EQ(out, disk);
}

}  // namespace

// File-set definitions: the stored image byte for byte, the rebuilt IFIL,
// damaged images, the names of a set and the record-schema rules.
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/isam/ifil.h"
#include "tests/support/setfix.h"

namespace {

using Bytes = std::vector<unsigned char>;
using settest::SetTest;

// A small set: one index of one segment with a symbolic name and a pad
// byte, one field name.
struct Small {
    ISEG seg[1] = {{1, 2, 3}};
    IIDX idx[1] = {};
    IFIL ifil = {};
    Small() {
        idx[0] = IIDX{6, 0x10, 1, 2, 0x20, 1, seg, "k", nullptr, nullptr, "#"};
        ifil = IFIL{"ab", 3, 0x0102, 0x0304, 0x1005, 1, 0x0607, 0x1008, idx, "r", nullptr, 7};
    }
};

Bytes small_image() {
    Bytes b = {
        1, 0, 0, 0,                                      // a name follows
        3, 0, 2, 1, 4, 3, 5, 0, 1, 0, 7, 6, 8, 0,        // dfilno .. ifilmod, 0x1000 cleared
        0, 0,                                            //
        1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0,              // index array, rfstfld, no tlstfld
        7, 0, 0, 0,                                      // tfilno
        6, 0, 0x10, 0, 1, 0, 2, 0, 0x20, 0, 1, 0,        // the index
        1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0,
        1, 0, 2, 0, 3, 0,                                // its segment
        'a', 'b', 0,                                     // pfilnam
    };
    Bytes rf(64, 0), tl(64, 0);
    rf[0] = 'r';
    b.insert(b.end(), rf.begin(), rf.end());
    b.insert(b.end(), tl.begin(), tl.end());
    for (unsigned char c : {'k', '\0', '#', '\0', '\0', '\0'}) b.push_back(c);
    Bytes ext = {'.', 'd', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    b.insert(b.end(), ext.begin(), ext.end());
    return b;
}

class IfilTest : public SetTest {};

TEST_F(IfilTest, ImageBytes) {
    Small s;
    int32_t len = 0;
    auto *img = static_cast<unsigned char *>(zv::cptifil(&s.ifil, nullptr, &len, ".d", nullptr));
    ASSERT_NE(img, nullptr);
    Bytes want = small_image();
    ASSERT_EQ(len, int32_t(want.size()));
    EXPECT_EQ(len, 180 + 3 + 32 + 6 + 2 + 4);
    EXPECT_EQ(Bytes(img, img + len), want);
    mbfree(img);
    // Without indexes: 180 + the name and its NUL.
    IFIL bare{"name", -1, 10, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, 0};
    EXPECT_EQ(zv::cptifil_len(&bare, nullptr, 0), 180 + 5);
    // With create blocks: padded to 4, one block for the data file and one
    // for the index file.
    XCREblk blocks[2] = {};
    blocks[0].mode = 0x11;
    blocks[1].mode = 0x22;
    img = static_cast<unsigned char *>(zv::cptifil8(&s.ifil, nullptr, &len, ".d", nullptr, blocks, 0));
    ASSERT_NE(img, nullptr);
    ASSERT_EQ(len, 228 + 128);
    EXPECT_EQ(Bytes(img, img + 227), want);
    EXPECT_EQ(img[227], 0);
    EXPECT_EQ(img[228], 0x11);
    EXPECT_EQ(img[228 + 64], 0x22);
    mbfree(img);
    // Unpackable definitions.
    s.idx[0].isegarr = nullptr;
    EXPECT_EQ(zv::cptifil(&s.ifil, nullptr, &len, nullptr, nullptr), nullptr);
    EXPECT_EQ(zvGetUserErrorCode(), 198);
    EXPECT_EQ(zv::cptifil(nullptr, nullptr, &len, nullptr, nullptr), nullptr);
}

TEST_F(IfilTest, RebuiltDefinitionPointsIntoItsOwnBlock) {
    Bytes img = small_image();
    char dext[9], iext[9];
    IFIL *f = zv::makifil(img.data(), dext, iext, 1, int32_t(img.size()));
    ASSERT_NE(f, nullptr);
    auto inside = [f](const void *p) {
        auto *b = reinterpret_cast<const char *>(f);
        auto *q = static_cast<const char *>(p);
        return q >= b && q < b + zvmemsiz(f);
    };
    EXPECT_STREQ(f->pfilnam, "ab");
    EXPECT_EQ(f->dfilno, 3);
    EXPECT_EQ(f->dreclen, 0x0102);
    EXPECT_EQ(f->dfilmod, 0x0005);
    EXPECT_EQ(f->ifilmod, 0x0008);
    EXPECT_EQ(f->tfilno, 7);
    EXPECT_STREQ(f->rfstfld, "r");
    EXPECT_EQ(f->tlstfld, nullptr);
    ASSERT_EQ(f->dnumidx, 1);
    const IIDX &x = f->iidxarr[0];
    EXPECT_EQ(x.ikeylen, 6);
    EXPECT_EQ(x.iempchr, 0x20);
    EXPECT_EQ(x.isegarr[0].segmode, 3);
    EXPECT_STREQ(x.ridxnam, "k");
    EXPECT_EQ(x.aidxnam, nullptr);
    EXPECT_EQ(*x.ipadbyt, '#');
    for (const void *p : {static_cast<const void *>(f->pfilnam), static_cast<const void *>(f->iidxarr),
                          static_cast<const void *>(x.isegarr), static_cast<const void *>(x.ridxnam),
                          static_cast<const void *>(x.ipadbyt)})
        EXPECT_TRUE(inside(p));
    EXPECT_STREQ(dext, ".d");
    EXPECT_STREQ(iext, "");
    // Packed again, the same bytes.
    int32_t len = 0;
    void *again = zv::cptifil(f, nullptr, &len, dext, iext);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(Bytes(static_cast<unsigned char *>(again), static_cast<unsigned char *>(again) + len), img);
    mbfree(again);
    zvputmem(f);
}

TEST_F(IfilTest, DamagedImagesAreRefused) {
    Bytes img = small_image();
    // Every cut of the image: 198, nothing returned.
    for (size_t n = 0; n < img.size() - 16; n++) {
        SCOPED_TRACE(n);
        Bytes cut(img.begin(), img.begin() + long(n));
        EXPECT_EQ(zv::makifil(cut.data(), nullptr, nullptr, 1, int32_t(n)), nullptr);
        EXPECT_EQ(zvGetUserErrorCode(), 198);
    }
    // An index count claiming more records than the image holds.
    Bytes more = img;
    more[12] = 9;
    EXPECT_EQ(zv::makifil(more.data(), nullptr, nullptr, 1, int32_t(more.size())), nullptr);
    EXPECT_EQ(zvGetUserErrorCode(), 198);
    // A name without its NUL, a presence flag that is not 0 or 1.
    Bytes flag = img;
    flag[24] = 2;
    EXPECT_EQ(zv::makifil(flag.data(), nullptr, nullptr, 1, int32_t(flag.size())), nullptr);
    // Trailing bytes that are no whole set of blocks.
    Bytes tail = img;
    tail.resize(tail.size() + 64, 0);
    EXPECT_EQ(zv::makifil(tail.data(), nullptr, nullptr, 1, int32_t(tail.size())), nullptr);
    tail.resize(img.size() + 1 + 128, 0);
    XCREblk *x = nullptr;
    IFIL *f = zv::makifil8(tail.data(), nullptr, nullptr, 1, int32_t(tail.size()), &x);
    ASSERT_NE(f, nullptr);
    EXPECT_NE(x, nullptr);
    zvputmem(x);
    zvputmem(f);
    // An image of a form this engine does not read.
    EXPECT_EQ(zv::makifil(img.data(), nullptr, nullptr, 0xE8, int32_t(img.size())), nullptr);
    EXPECT_EQ(zvGetUserErrorCode(), 515);
    // No memory: 197.
    zv::fail_pool_at(1);
    EXPECT_EQ(zv::makifil(img.data(), nullptr, nullptr, 1, int32_t(img.size())), nullptr);
    zv::fail_pool_at(0);
    EXPECT_EQ(zvGetUserErrorCode(), 197);
}

TEST_F(IfilTest, NamesOfASet) {
    IFIL f{"dir/cust", -1, 10, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, 0};
    IFILPARM p;
    char out[256], ext[9];
    zv::setifil(&p, &f, nullptr, nullptr, 0, nullptr, nullptr);
    zv::zviflnam(&p, out, 0, ext);
    EXPECT_STREQ(out, "dir/cust.dat");
    EXPECT_STREQ(ext, ".dat");
    zv::zviflnam(&p, out, 1, nullptr);
    EXPECT_STREQ(out, "dir/cust.idx");
    zv::setifil(&p, &f, ".x", "   ", 0, nullptr, nullptr);
    zv::zviflnam(&p, out, 0, nullptr);
    EXPECT_STREQ(out, "dir/cust.x");
    zv::zviflnam(&p, out, 1, nullptr);
    EXPECT_STREQ(out, "dir/cust");
    f.dfilmod = 0x200;
    zv::zviflnam(&p, out, 0, nullptr);
    EXPECT_STREQ(out, "dir/cust");
    std::string longname(254, 'n');
    f.pfilnam = longname.c_str();
    f.dfilmod = 0;
    zv::zviflnam(&p, out, 0, nullptr);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(zv::zvsnp(out, "a/b\\c:d.dat"), 6);
    EXPECT_STREQ(out, "a/b\\c:");
    EXPECT_EQ(zv::zvsnp(nullptr, "plain"), 0);

    struct Case {
        const char *alt, *data;
        int size, code;
        const char *result;
    };
    const Case cases[] = {
        {"*x.idx", "dir/cust.dat", 256, 0, "dir/x.idx"},
        {"+x.idx", "cust.dat", 256, 0, "x.idx"},
        {"?.x", "dir/cust.dat", 256, 0, "dir/cust.dat.x"},
        {"other/y.idx", nullptr, 256, 0, "other/y.idx"},
        {"*sub/x.idx", "dir/cust.dat", 256, 139, nullptr},
        {"**x", "dir/cust.dat", 256, 139, nullptr},
        {"*x.idx", nullptr, 256, 540, nullptr},
        {"*x.idx", "dir/cust.dat", 9, 153, nullptr},
        {"*x.idx", "dir/cust.dat", 10, 0, "dir/x.idx"},
        {"abc", nullptr, 3, 153, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.alt);
        char buf[256] = "untouched";
        EXPECT_EQ(zv::buildAidxnam(buf, c.alt, c.size, c.data), c.code);
        if (c.result) {
            EXPECT_STREQ(buf, c.result);
        }
    }
}

TEST_F(IfilTest, AlternateNamesFollowTheDataFile) {
    IIDX idx[4] = {};
    ISEG seg[1] = {{0, 4, 0}};
    const char *alts[4] = {nullptr, "old/a.idx", "*b.idx", "else/c.idx"};
    for (int k = 0; k < 4; k++) idx[k] = IIDX{4, 0, 0, 0, 0, 1, seg, nullptr, alts[k], nullptr, nullptr};
    IFIL f{"old/cust", -1, 10, 0, 0, 4, 0, 0, idx, nullptr, nullptr, 0};
    // Stored without paths: names in the data file's directory become "*".
    char *blk = zv::chkifilnp(&f, "cust", 1, false);
    ASSERT_NE(blk, nullptr);
    EXPECT_STREQ(f.pfilnam, "cust");
    EXPECT_STREQ(idx[1].aidxnam, "*a.idx");
    EXPECT_STREQ(idx[2].aidxnam, "*b.idx");
    EXPECT_STREQ(idx[3].aidxnam, "else/c.idx");
    zvputmem(blk);
    // Opened elsewhere: names in the old directory move with the data file.
    for (int k = 0; k < 4; k++) idx[k].aidxnam = alts[k];
    f.pfilnam = "old/cust";
    blk = zv::chkifilnp(&f, "new/cust.dat", 0, false);
    ASSERT_NE(blk, nullptr);
    EXPECT_STREQ(idx[1].aidxnam, "new/a.idx");
    EXPECT_STREQ(idx[2].aidxnam, "*b.idx");
    EXPECT_STREQ(idx[3].aidxnam, "else/c.idx");
    zvputmem(blk);
    // A file stored without paths: "*" names go to the new directory.
    for (int k = 0; k < 4; k++) idx[k].aidxnam = alts[k];
    f.pfilnam = "cust";
    blk = zv::chkifilnp(&f, "new/cust.dat", 0, true);
    ASSERT_NE(blk, nullptr);
    EXPECT_STREQ(idx[1].aidxnam, "old/a.idx");
    EXPECT_STREQ(idx[2].aidxnam, "new/b.idx");
    zvputmem(blk);
    char name[32] = "cust.dat";
    zv::trimExtension(name, ".idx");
    EXPECT_STREQ(name, "cust.dat");
    zv::trimExtension(name, " ");
    EXPECT_STREQ(name, "cust.dat");
    zv::trimExtension(name, ".dat");
    EXPECT_STREQ(name, "cust");
}

TEST_F(IfilTest, FieldLengthsOfARecordSchema) {
    struct Case {
        int type, len, result;
    };
    const Case cases[] = {
        {0, 0, 0},       {16, 0, 1},    {24, 0, 1},     {33, 0, 2},    {51, 0, 4},   {67, 0, 4},
        {103, 0, 8},     {104, 0, 20},  {105, 0, 20},   {106, 0, -432}, {119, 0, -432}, {128, 0, -432},
        {143, 0, 8},     {144, 0, -432}, {146, 0, 0},   {170, 0, 0},   {177, 0, -432}, {193, 0, -432},
        {231, 0, 8},     {239, 0, 8},   {250, 0, 0},    {256, 0, 0},   {257, 0, 8},  {258, 0, 4},
        {259, 0, -432},  {300, 0, 0},   {146, 12, 12},  {128, 7, 7},
    };
    for (const Case &c : cases) EXPECT_EQ(zv::dodaflen(c.type, c.len), c.result) << c.type << "/" << c.len;
    // Alignment by offset from the record start.
    EXPECT_EQ(zv::zvadjadr(8, 257, 3), 5);
    EXPECT_EQ(zv::zvadjadr(8, 258, 3), 1);
    EXPECT_EQ(zv::zvadjadr(8, 259, 3), 0);
    EXPECT_EQ(zv::zvadjadr(8, 51, 17), 3);
    EXPECT_EQ(zv::zvadjadr(2, 51, 17), 1);
    EXPECT_EQ(zv::zvadjadr(8, 146, 17), 0);
    EXPECT_TRUE(zv::vartype(259));
    EXPECT_FALSE(zv::vartype(144));
}

}  // namespace

// What a data file keeps of its set and its record schema: GETIFIL and the
// schema blocks.
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/isam/isam_services.h"
#include "tests/support/setfix.h"

namespace {

using settest::CustSet;
using settest::SetTest;

class StoredTest : public SetTest {};

TEST_F(StoredTest, DefinitionComesBackIntoTheCallersBuffer) {
    CustSet s;
    ASSERT_EQ(CREIFIL(&s.ifil), 0);
    int d = s.ifil.tfilno;
    // Length only: the buffer stays as it was.
    alignas(8) unsigned char probe[16];
    memset(probe, 0xAB, sizeof probe);
    int32_t need = GETIFIL(d, 0, probe);
    ASSERT_GT(need, int32_t(sizeof(IFIL) + 3 * sizeof(IIDX)));
    for (unsigned char c : probe) EXPECT_EQ(c, 0xAB);
    // One byte short: no byte changes, guard bytes included.
    std::vector<uint64_t> store(size_t(need) / 8 + 4, 0xABABABABABABABABull);
    auto *buf = reinterpret_cast<unsigned char *>(store.data());
    size_t total = store.size() * 8;
    EXPECT_EQ(GETIFIL(d, need - 1, buf), need);
    for (size_t i = 0; i < total; i++) ASSERT_EQ(buf[i], 0xAB) << i;
    // Enough: the set as created, every pointer inside [buf, buf + need).
    EXPECT_EQ(GETIFIL(d, need, buf), need);
    for (size_t i = size_t(need); i < total; i++) ASSERT_EQ(buf[i], 0xAB) << i;
    auto *f = reinterpret_cast<IFIL *>(buf);
    auto inside = [&](const void *p) {
        auto *q = static_cast<const unsigned char *>(p);
        return q >= buf && q < buf + need;
    };
    EXPECT_STREQ(f->pfilnam, "cust");
    EXPECT_TRUE(inside(f->pfilnam));
    EXPECT_EQ(f->dfilno, -1);
    EXPECT_EQ(f->tfilno, -1);
    EXPECT_EQ(f->dreclen, 64);
    EXPECT_EQ(f->dfilmod, 0);
    EXPECT_STREQ(f->rfstfld, "first");
    EXPECT_STREQ(f->tlstfld, "last");
    ASSERT_EQ(f->dnumidx, 3);
    EXPECT_TRUE(inside(f->iidxarr));
    for (int k = 0; k < 3; k++) {
        SCOPED_TRACE(k);
        const IIDX &x = f->iidxarr[k];
        EXPECT_EQ(x.ikeylen, s.idx[k].ikeylen);
        EXPECT_EQ(x.ikeydup, s.idx[k].ikeydup);
        ASSERT_EQ(x.inumseg, s.idx[k].inumseg);
        EXPECT_TRUE(inside(x.isegarr));
        for (int g = 0; g < x.inumseg; g++) {
            EXPECT_EQ(x.isegarr[g].soffset, s.idx[k].isegarr[g].soffset);
            EXPECT_EQ(x.isegarr[g].slength, s.idx[k].isegarr[g].slength);
        }
        EXPECT_STREQ(x.ridxnam, s.idx[k].ridxnam);
        EXPECT_TRUE(inside(x.ridxnam));
    }
    EXPECT_EQ(f->iidxarr[1].aidxnam, nullptr);
    // The alternate name as the file is now found.
    EXPECT_STREQ(f->iidxarr[2].aidxnam, "cust_x.idx");
    // The rebuilt definition opens the set once it is closed.
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    ASSERT_EQ(OPNIFIL(f), 0);
    EXPECT_EQ(GETFIL(f->tfilno + 3, 4), f->tfilno);
    ASSERT_EQ(CLIFIL(f), 0);
    // Errors: no file, an index.
    EXPECT_EQ(GETIFIL(d, need, buf), 0);
    EXPECT_EQ(zvGetUserErrorCode(), 26);
}

TEST_F(StoredTest, NoNamesWithoutASchema) {
    CustSet s;
    ASSERT_EQ(CREIFIL(&s.ifil), 0);
    EXPECT_EQ(zv::zvgetnames(s.ifil.tfilno), nullptr);
    EXPECT_EQ(zvGetUserErrorCode(), 0);
    unsigned char buf[64];
    EXPECT_EQ(GETDODA(s.ifil.tfilno, sizeof buf, buf, 4), 0);
    EXPECT_EQ(zvGetUserErrorCode(), 438);
}

TEST_F(StoredTest, RecordSchemaBlocksAndTheDodaForm) {
    CustSet s;
    ASSERT_EQ(CREIFIL(&s.ifil), 0);
    int d = s.ifil.tfilno;
    const DATOBJ doda[4] = {
        {"id", 0, 16, 0, 0, 0},      // ZV_CHAR
        {"count", 0, 51, 0, 0, 0},   // ZV_INT4
        {"amount", 0, 103, 0, 0, 0}, // ZV_DFLOAT
        {nullptr, 0, 146, 20, 0, 0}, // ZV_STRING, no name
    };
    ASSERT_EQ(PUTDODA(d, doda, 4), 0);
    // The field-type block.
    unsigned char tb[64] = {};
    ASSERT_EQ(GETDODA(d, sizeof tb, tb, 1), 40);
    const unsigned char want[40] = {
        0x02, 0x08, 0x00, 0x20, 40, 0, 0, 0, 4, 0, 0, 0, 4, 0, 0, 0,
        1, 0, 16, 0, 0, 0,    4, 0, 51, 0, 0, 0,    8, 0, 103, 0, 0, 0,    20, 0, 146, 0, 0, 0,
    };
    EXPECT_EQ(memcmp(tb, want, 40), 0);
    // The name block, then both.
    unsigned char nb[64] = {};
    ASSERT_EQ(GETDODA(d, sizeof nb, nb, 2), 4 + 7 + 8 + 1);
    const unsigned char names[20] = {4, 'i', 'd', 0, 7, 'c', 'o', 'u', 'n', 't', 0,
                                     8, 'a', 'm', 'o', 'u', 'n', 't', 0, 1};
    EXPECT_EQ(memcmp(nb, names, 20), 0);
    unsigned char both[64];
    ASSERT_EQ(GETDODA(d, sizeof both, both, 3 | 0x100), 60);
    EXPECT_EQ(memcmp(both, want, 40), 0);
    EXPECT_EQ(memcmp(both + 40, names, 20), 0);
    // The name list that expressions over the records use.
    void *list = zv::zvgetnames(d);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(zvmemsiz(list), 20);
    EXPECT_EQ(memcmp(list, names, 20), 0);
    zvputmem(list);
    EXPECT_EQ(zv::zvgetnames(d + 1), nullptr);
    // The DODA form: offsets aligned from 0, an extra entry marked 0xFFFF.
    int32_t need = GETDODA(d, 0, nullptr, 4);
    ASSERT_EQ(need, int32_t(5 * sizeof(DATOBJ) + 20));
    std::vector<DATOBJ> out(8);
    ASSERT_EQ(GETDODA(d, int32_t(out.size() * sizeof(DATOBJ)), out.data(), 4), need);
    const intptr_t fadr[4] = {0, 4, 8, 16};
    for (int i = 0; i < 4; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(out[size_t(i)].fadr, fadr[i]);
        EXPECT_EQ(out[size_t(i)].ftype, doda[i].ftype);
        EXPECT_EQ(out[size_t(i)].fend, 0);
    }
    EXPECT_EQ(out[1].flen, 4);
    EXPECT_STREQ(out[0].fsymb, "id");
    EXPECT_STREQ(out[2].fsymb, "amount");
    EXPECT_EQ(out[3].fsymb, nullptr);
    EXPECT_EQ(out[4].fend, 0xFFFF);
    EXPECT_EQ(out[4].ftype, 0);
    // A short buffer is not written.
    std::vector<DATOBJ> shortbuf(8);
    memset(shortbuf.data(), 0x5A, shortbuf.size() * sizeof(DATOBJ));
    EXPECT_EQ(GETDODA(d, need - 1, shortbuf.data(), 4), need);
    for (size_t i = 0; i < shortbuf.size() * sizeof(DATOBJ); i++)
        ASSERT_EQ(reinterpret_cast<unsigned char *>(shortbuf.data())[i], 0x5A);
    // Refusals.
    EXPECT_EQ(GETDODA(d, sizeof tb, tb, 5), 0);
    EXPECT_EQ(zvGetUserErrorCode(), 116);
    EXPECT_EQ(PUTDODAX(d, doda, 4, 300), 446);
    const DATOBJ array[1] = {{"bytes", 0, 128, 0, 0, 0}};
    EXPECT_EQ(PUTDODA(d, array, 1), 432);
    EXPECT_EQ(PUTDODA(d + 1, doda, 4), 48);
    EXPECT_EQ(PUTDODA(d, nullptr, 4), 540);
    // A type 0 field is stored as 146.
    const DATOBJ zero[1] = {{"z", 0, 0, 5, 0, 0}};
    ASSERT_EQ(PUTDODAX(d, zero, 1, 200), 0);
    ASSERT_EQ(GETDODAX(d, sizeof tb, tb, 1, 200), 22);
    EXPECT_EQ(tb[18], 146);
    // The schema under type 0 is unchanged, and survives a reopen: the
    // definition resource of type 200 does not stop the open.
    ASSERT_EQ(CLIFIL(&s.ifil), 0);
    int r = OPNRFIL(-1, "cust.dat", 0);
    ASSERT_GE(r, 0) << zvGetUserErrorCode();
    ASSERT_EQ(GETDODA(r, sizeof tb, tb, 1), 40);
    EXPECT_EQ(memcmp(tb, want, 40), 0);
    EXPECT_EQ(CLRFIL(r), 0);
}

}  // namespace

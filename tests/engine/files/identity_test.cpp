// Identity fields and data-access resources: assignment by width and sign,
// persistence, refusals, the stored bytes, open checks, attributes, the
// record images, and the calls through the function-number entry point.
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/files/identity.h"
#include "tests/engine/files/files_util.h"

namespace {

using filestest::Bytes;
using filestest::file_bytes;
using filestest::le16;
using filestest::le32;
using filestest::patch;
using zv::IoKind;

uint64_t le64(const Bytes &b, size_t off) { return uint64_t(le32(b, off)) | uint64_t(le32(b, off + 4)) << 32; }

// A record-schema block: head (form byte, alignment 1, delimiter 0, pad
// blank, size, field and entry counts) and one 6-byte entry per field.
Bytes schema_block(const std::vector<std::pair<int, int>> &fields) {
    uint32_t n = uint32_t(fields.size());
    Bytes b(16 + 6 * n, 0);
    b[0] = 2;
    b[1] = 1;
    b[3] = ' ';
    uint32_t len = uint32_t(b.size());
    memcpy(&b[4], &len, 4);
    memcpy(&b[8], &n, 4);
    memcpy(&b[12], &n, 4);
    for (uint32_t i = 0; i < n; i++) {
        uint16_t l = uint16_t(fields[i].first), t = uint16_t(fields[i].second);
        memcpy(&b[16 + 6 * i], &l, 2);
        memcpy(&b[18 + 6 * i], &t, 2);
    }
    return b;
}

class IdentityTest : public filestest::FilesTest {
protected:
    // A data file whose records are a 4-byte integer, the field of the
    // given type and length, and a 10-byte string.
    void make(int filno, const char *name, int type, int len, XCREblk *x = ZV_XCRE_DEFAULT) {
        uint16_t reclen = uint16_t(4 + len + 10);
        ASSERT_EQ(CREDATX8(filno, name, reclen, 0, 0, 0, nullptr, nullptr, x), 0);
        Bytes s = schema_block({{4, ZV_INT4}, {len, type}, {10, ZV_FSTRING}});
        DEFBLK d{s.data(), int32_t(s.size()), int32_t(s.size()), 1, 1};
        ASSERT_EQ(SETDEFBLK(filno, &d), 0);
    }
    static int64_t take(int filno, int *rc = nullptr) {
        int64_t v = -777;
        int r = getIDfield(filno, 1, &v);
        if (rc) *rc = r;
        return r ? -777 : v;
    }
    static int64_t peek(int filno, int mode = 2) {
        int64_t v = -777;
        EXPECT_EQ(getIDfield(filno, mode, &v), 0);
        return v;
    }
    // Position of a type-11 resource (number n) of an open file.
    static uint32_t dar_pos(int filno, uint32_t n) {
        uint32_t key[2] = {11, n};
        unsigned char info[12];
        return GETRES(filno, key, info, sizeof info, 2 | 0x40);
    }
};

TEST_F(IdentityTest, AssignmentByWidthAndSign) {
    const int64_t big = INT64_MAX - 1;
    struct Case {
        int type, len;
        int64_t start, incr, first, second;
    } cases[] = {
        {ZV_CHAR, 1, 120, 5, 120, 125},
        {ZV_CHARU, 1, 250, 3, 250, 253},
        {ZV_INT2, 2, -32760, -5, -32760, -32765},
        {ZV_BIGINT, 8, big, 1, big, INT64_MAX},
        {ZV_INT4U, 4, 4294967290LL, 5, 4294967290LL, 4294967295LL},
    };
    int filno = 1;
    for (const Case &c : cases) {
        std::string name = "t" + std::to_string(filno) + ".dat";
        make(filno, name.c_str(), c.type, c.len);
        ASSERT_EQ(addIDfield(filno, c.start, c.incr, 1), 0) << c.type;
        EXPECT_EQ(peek(filno, 4), c.start);
        EXPECT_EQ(peek(filno, 3), c.incr);
        EXPECT_EQ(peek(filno, 2), c.start);
        EXPECT_EQ(peek(filno, 2), c.start);  // reading does not consume
        EXPECT_EQ(take(filno), c.first) << c.type;
        EXPECT_EQ(take(filno), c.second) << c.type;
        int rc = 0;
        take(filno, &rc);
        EXPECT_EQ(rc, 1002) << c.type;
        EXPECT_EQ(zvGetUserErrorCode(), 1002);
        int64_t v = 0;
        EXPECT_EQ(getIDfield(filno, 0, &v), 749);
        EXPECT_EQ(getIDfield(filno, 5, &v), 749);
        EXPECT_EQ(getIDfield(filno, 2, nullptr), 540);
        EXPECT_EQ(CLSFIL(filno, 0), 0);
        filno++;
    }
}

TEST_F(IdentityTest, NewRecordsTakeTheValuesAndOverflowStopsThem) {
    make(1, "n.dat", ZV_CHAR, 1);
    ASSERT_EQ(addIDfield(1, 120, 5, 1), 0);
    EXPECT_NE(NEWREC(1), 0u);
    EXPECT_EQ(g()->lastid, 120);
    EXPECT_NE(NEWREC(1), 0u);
    EXPECT_EQ(g()->lastid, 125);
    uint32_t active = DATENT(1);
    EXPECT_EQ(NEWREC(1), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 1002);
    EXPECT_EQ(DATENT(1), active);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(IdentityTest, ValuesSurviveCloseAndReset) {
    make(1, "p.dat", ZV_CHAR, 1);
    ASSERT_EQ(addIDfield(1, 10, 3, 1), 0);
    EXPECT_EQ(take(1), 10);
    EXPECT_EQ(take(1), 13);
    EXPECT_EQ(take(1), 16);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "p.dat", 0), 0);
    EXPECT_EQ(wchIDfield(1), 1);
    EXPECT_EQ(take(1), 19);
    EXPECT_EQ(resetIDfield(1, 300), 1002);
    ASSERT_EQ(resetIDfield(1, 124), 0);
    EXPECT_EQ(take(1), 124);
    int rc = 0;
    take(1, &rc);  // 127 would be next: overflow reached after 124
    EXPECT_EQ(rc, 0);
    take(1, &rc);
    EXPECT_EQ(rc, 1002);
    EXPECT_EQ(xtdatrIDfield(1, -1), 0x04 | 0x40 | 0x02);
    ASSERT_EQ(resetIDfield(1, 7), 0);
    EXPECT_EQ(xtdatrIDfield(1, -1), 0x04 | 0x40);
    EXPECT_EQ(take(1), 7);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "p.dat", 0), 0);
    EXPECT_EQ(peek(1), 10);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(IdentityTest, FlushWritesTheIdentityBody) {
    make(1, "f.dat", ZV_INT4, 4);
    ASSERT_EQ(addIDfield(1, 1000, 10, 1), 0);
    uint32_t pos = dar_pos(1, 1);
    ASSERT_NE(pos, 0u);
    EXPECT_EQ(take(1), 1000);
    EXPECT_EQ(take(1), 1010);
    ASSERT_EQ(ZVFLUSH(1), 0);
    Bytes disk = file_bytes("f.dat");
    EXPECT_EQ(le64(disk, pos + 22 + 40), 1020u);
    // A flush of every file does the same.
    EXPECT_EQ(take(1), 1020);
    ASSERT_EQ(ZVFLUSH(-1), 0);
    disk = file_bytes("f.dat");
    EXPECT_EQ(le64(disk, pos + 22 + 40), 1030u);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(IdentityTest, FailedWriteBackAtCloseKeepsTheFileMarked) {
    make(1, "w.dat", ZV_INT4, 4);
    ASSERT_EQ(addIDfield(1, 1, 1, 1), 0);
    ASSERT_EQ(ZVFLUSH(1), 0);
    EXPECT_EQ(take(1), 1);
    zv::fault_set(IoKind::Write, 1, EIO, true);
    EXPECT_NE(CLSFIL(1, 0), 0);
    zv::fault_reset();
    EXPECT_EQ(TSTFILNUM(1), 0);
    EXPECT_EQ(OPNFIL(1, "w.dat", 0), 14);
}

TEST_F(IdentityTest, Refusals) {
    make(1, "r.dat", ZV_CHAR, 1);
    ASSERT_EQ(CREIDXX8(2, "r.idx", 8, 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(addIDfield(2, 1, 1, 0), 48);
    ASSERT_EQ(CREDATX8(3, "noschema.dat", 20, 0, 0, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(addIDfield(3, 1, 1, 0), 199);
    EXPECT_EQ(addIDfield(1, 1, 1, 3), 433);
    EXPECT_EQ(addIDfield(1, 1, 1, -1), 433);
    EXPECT_EQ(addIDfield(1, 1, 0, 1), 749);
    EXPECT_EQ(addIDfield(1, 200, 1, 1), 1002);
    EXPECT_EQ(addIDfield(1, -129, 1, 1), 1002);
    EXPECT_EQ(addIDfield(1, 0, 128, 1), 1002);  // an increment beyond a 1-byte field
    // A header without the 384-byte extended part has no room for them.
    XCREblk std{};
    std.mode = 0x10000;
    make(4, "std.dat", ZV_INT4, 4, &std);
    EXPECT_EQ(addIDfield(4, 1, 1, 1), 734);
    ASSERT_EQ(addIDfield(1, 1, 1, 1), 0);
    EXPECT_EQ(addIDfield(1, 5, 1, 0), 913);
    EXPECT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "r.dat", 0x0008), 0);
    EXPECT_EQ(addIDfield(1, 1, 1, 1), 62);
    EXPECT_EQ(delIDfield(1), 62);
    EXPECT_EQ(xtdatrIDfield(1, 0x04 | 0x10), -1);
    EXPECT_EQ(zvGetUserErrorCode(), 62);
    EXPECT_EQ(xtdatrIDfield(1, -1), 0x04 | 0x40);  // reading is allowed
}

TEST_F(IdentityTest, WhichField) {
    make(1, "which.dat", ZV_INT4, 4);
    EXPECT_EQ(wchIDfield(1), -1);
    EXPECT_EQ(zvGetUserErrorCode(), 914);
    ASSERT_EQ(CREIDXX8(2, "which.idx", 8, 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(wchIDfield(2), -1);
    EXPECT_EQ(zvGetUserErrorCode(), 48);
    ASSERT_EQ(addIDfield(1, 1, 1, 1), 0);
    EXPECT_EQ(wchIDfield(1), 1);
    int64_t v;
    EXPECT_EQ(getIDfield(3, 1, &v), 26);
    EXPECT_EQ(getIDfield(2, 1, &v), 48);
    EXPECT_EQ(resetIDfield(2, 1), 48);
}

TEST_F(IdentityTest, StoredBytes) {
    make(1, "b.dat", ZV_INT2, 2);
    ASSERT_EQ(addIDfield(1, 40, 2, 1), 0);
    EXPECT_EQ(take(1), 40);
    uint32_t anchor = dar_pos(1, 0), body = dar_pos(1, 1);
    ASSERT_NE(anchor, 0u);
    ASSERT_NE(body, 0u);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    Bytes d = file_bytes("b.dat");
    EXPECT_EQ(le32(d, 100) & 0x8000u, 0x8000u);
    EXPECT_EQ(le32(d, 228) & 0x0800u, 0x0800u);
    EXPECT_EQ(d[400], 1);
    EXPECT_EQ(le32(d, 392), 0u);
    EXPECT_EQ(le32(d, 396), anchor);
    // The anchor.
    size_t a = anchor + 22;
    EXPECT_EQ(le32(d, a), 11u);
    EXPECT_EQ(le32(d, a + 4), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(&d[a + 8]), 7), std::string("QV!DAR\0", 7));
    EXPECT_EQ(le32(d, a + 16), 0u);
    EXPECT_EQ(le32(d, a + 20), 0x00010002u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(&d[a + 64]), 10), "DAR Anchor");
    // The identity body.
    size_t b = body + 22;
    const Bytes head = {11, 0, 0, 0, 1, 0, 0, 0, 'Q', 'V', '!', 'D', 'A', 'R', 0, 0, 1, 0, 0, 0, 1, 0};
    EXPECT_EQ(Bytes(d.begin() + long(b), d.begin() + long(b + head.size())), head);
    EXPECT_EQ(le16(d, b + 22) & 0x0006, 0x0006);
    EXPECT_EQ(le32(d, b + 24), 0u);
    EXPECT_EQ(le32(d, b + 28), body);
    EXPECT_EQ(le64(d, b + 32), 40u);
    EXPECT_EQ(le64(d, b + 40), 42u);
    EXPECT_EQ(le64(d, b + 48), 2u);
    EXPECT_EQ(le32(d, b + 56), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(&d[b + 64]), 15), std::string("Identity Field\0", 15));
    EXPECT_EQ(le32(d, b + 128), 2u);
    EXPECT_EQ(le32(d, b + 140), 1u);             // offset known
    EXPECT_EQ(le32(d, b + 144), 0x04u | 0x40u);  // from the schema, signed
    EXPECT_EQ(le32(d, b + 148), 2u);

    ASSERT_EQ(OPNFIL(1, "b.dat", 0), 0);
    ASSERT_EQ(delIDfield(1), 0);
    EXPECT_EQ(delIDfield(1), 914);
    EXPECT_EQ(wchIDfield(1), -1);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    d = file_bytes("b.dat");
    EXPECT_EQ(d[400], 0);
    EXPECT_EQ(le32(d, 100) & 0x8000u, 0u);
    EXPECT_EQ(le32(d, 228) & 0x0800u, 0u);
    // Defined again, it takes its values from the new start.
    ASSERT_EQ(OPNFIL(1, "b.dat", 0), 0);
    EXPECT_EQ(wchIDfield(1), -1);
    ASSERT_EQ(addIDfield(1, 5, 1, 1), 0);
    EXPECT_EQ(take(1), 5);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(IdentityTest, OpenChecksTheCounts) {
    make(1, "c.dat", ZV_INT4, 4);
    ASSERT_EQ(addIDfield(1, 1, 1, 1), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    patch("c.dat", 400, {2});
    EXPECT_EQ(OPNFIL(1, "c.dat", 0), 916);
    EXPECT_EQ(TSTFILNUM(1), 0);
    patch("c.dat", 400, {0});
    EXPECT_EQ(OPNFIL(1, "c.dat", 0), 916);
    patch("c.dat", 400, {1});
    // An anchor position that names no resource: the identity resource
    // counted in the header is not found.
    Bytes good = filestest::slice(file_bytes("c.dat"), 396, 4);
    patch("c.dat", 396, {0x08, 0, 0, 0});
    EXPECT_EQ(OPNFIL(1, "c.dat", 0), 916);
    patch("c.dat", 396, good);
    ASSERT_EQ(OPNFIL(1, "c.dat", 0), 0);
    EXPECT_EQ(wchIDfield(1), 1);
    EXPECT_EQ(CLSFIL(1, 0), 0);
    // No identity state survives in the control block of the number.
    make(2, "plain.dat", ZV_INT4, 4);
    ASSERT_EQ(CLSFIL(2, 0), 0);
    ASSERT_EQ(OPNFIL(1, "plain.dat", 0), 0);
    EXPECT_EQ(wchIDfield(1), -1);
    EXPECT_EQ(zvGetUserErrorCode(), 914);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(IdentityTest, Attributes) {
    make(1, "x.dat", ZV_CHAR, 1);
    make(2, "xu.dat", ZV_CHARU, 1);
    ASSERT_EQ(addIDfield(1, 1, 1, 1), 0);
    ASSERT_EQ(addIDfield(2, 1, 1, 1), 0);
    EXPECT_EQ(xtdatrIDfield(1, -1), 0x04 | 0x40);
    EXPECT_EQ(xtdatrIDfield(2, -1), 0x04 | 0x01);
    struct Case {
        int32_t request;
        int detail;
    } refused[] = {
        {0x01 | 0x40 | 0x04, 1}, {0x04 | 0x08 | 0x10, 1}, {0x02 | 0x10 | 0x04, 1},
        {0x01, 2},               {0x40 | 0x08 | 0x10, 2}, {0x08, 6},
        {0x10, 3},
    };
    for (const Case &c : refused) {
        EXPECT_EQ(xtdatrIDfield(1, c.request), -1) << c.request;
        EXPECT_EQ(zvGetUserErrorCode(), 1003) << c.request;
        EXPECT_EQ(zvGetSystemErrorCode(), c.detail) << c.request;
    }
    EXPECT_EQ(xtdatrIDfield(1, -1), 0x04 | 0x40);
    // No range check: the signedness comes back from the schema.
    EXPECT_EQ(xtdatrIDfield(1, 0x04 | 0x10), 0x04 | 0x10 | 0x40 | 0x20);
    ASSERT_EQ(resetIDfield(1, 500), 0);
    EXPECT_EQ(take(1), 500);
    // Forced unsigned on a signed field.
    EXPECT_EQ(xtdatrIDfield(2, 0x04 | 0x40), 0x04 | 0x40 | 0x20);
    EXPECT_EQ(resetIDfield(2, 200), 1002);
    EXPECT_EQ(resetIDfield(2, -100), 0);
    // The same flags again change nothing but the mark.
    EXPECT_EQ(xtdatrIDfield(2, 0x04 | 0x40), 0x04 | 0x40 | 0x20);
    EXPECT_EQ(CLSFIL(1, 0), 0);
    EXPECT_EQ(CLSFIL(2, 0), 0);
}

// An overflow already reached is not undone by taking the field's shape
// again, and dropping range checks does not hand out the value that
// reached it a second time.
TEST_F(IdentityTest, AttributeChangeKeepsAReachedOverflow) {
    make(1, "o.dat", ZV_CHAR, 1);
    ASSERT_EQ(addIDfield(1, 125, 5, 1), 0);
    EXPECT_EQ(take(1), 125);
    EXPECT_EQ(xtdatrIDfield(1, 0x04 | 0x40), -1);  // an overflow needs 0x02 or 0x10
    EXPECT_EQ(zvGetSystemErrorCode(), 4);
    EXPECT_EQ(xtdatrIDfield(1, 0x04 | 0x40 | 0x02), 0x04 | 0x40 | 0x02 | 0x20);
    int rc = 0;
    take(1, &rc);
    EXPECT_EQ(rc, 1002);
    // Without range checks the counter goes on after the value handed out.
    EXPECT_EQ(xtdatrIDfield(1, 0x04 | 0x10), 0x04 | 0x10 | 0x40 | 0x20);
    EXPECT_EQ(take(1), 130);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(IdentityTest, RecordImages) {
    make(1, "img.dat", ZV_INT2, 2);
    ASSERT_EQ(addIDfield(1, 0x1234, 1, 1), 0);
    FCB *f = fcb(1);
    EXPECT_EQ(take(1), 0x1234);
    unsigned char rec[16];
    memset(rec, 0xAA, sizeof rec);
    ASSERT_EQ(zv::setIDfield(f, rec, sizeof rec), 0);
    const Bytes want = {0xAA, 0xAA, 0xAA, 0xAA, 0x34, 0x12, 0xAA};
    EXPECT_EQ(Bytes(rec, rec + 7), want);
    EXPECT_EQ(g()->idfldoff, 4);
    // An image that ends inside the field is left as it is.
    unsigned char shortrec[5];
    memset(shortrec, 0x55, sizeof shortrec);
    EXPECT_EQ(zv::setIDfield(f, shortrec, sizeof shortrec), 445);
    EXPECT_EQ(Bytes(shortrec, shortrec + 5), Bytes(5, 0x55));
    // The rewrite guard.
    EXPECT_EQ(zv::chgIDfield(f, rec, sizeof rec), 1);
    EXPECT_EQ(zvGetIsamErrorCode(), 922);
    zv::identity_keep(f, rec, sizeof rec);
    EXPECT_EQ(zv::chgIDfield(f, rec, sizeof rec), 0);
    unsigned char changed[16];
    memcpy(changed, rec, sizeof rec);
    changed[4] = 0x99;
    EXPECT_EQ(zv::chgIDfield(f, changed, sizeof changed), 1);
    EXPECT_EQ(zvGetIsamErrorCode(), 921);
    f->idmode |= zv::kIdModePermitChange;
    EXPECT_EQ(zv::chgIDfield(f, changed, sizeof changed), 0);
    EXPECT_EQ(changed[4], 0x34);
    // The field's position by the schema.
    int32_t off = -1, len = -1;
    EXPECT_EQ(zvGetIdFieldOffsetInRecord(1, rec, 2, nullptr, sizeof rec, 0, &off, &len), 0);
    EXPECT_EQ(off, 6);
    EXPECT_EQ(len, 10);
    EXPECT_EQ(zvGetIdFieldOffsetInRecord(1, rec, 3, nullptr, sizeof rec, 0, &off, &len), 433);
    EXPECT_EQ(zvGetIsamErrorCode(), 433);
    EXPECT_EQ(zvGetIdFieldOffsetInRecord(1, nullptr, 1, nullptr, sizeof rec, 0, &off, &len), 540);
    EXPECT_EQ(zvGetIdFieldOffsetInRecord(-1, rec, 1, nullptr, sizeof rec, 0, &off, &len), 199);
    EXPECT_EQ(zvGetIdFieldOffsetInRecord(-1, rec, 1, f->schmap, sizeof rec, 0, &off, &len), 0);
    EXPECT_EQ(off, 4);
    EXPECT_EQ(len, 2);
    EXPECT_EQ(zvGetIdFieldOffsetInRecord(7, rec, 1, nullptr, sizeof rec, 0, &off, &len), 26);
    EXPECT_EQ(zvGetIsamFileNbr(), 7);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

// A field behind a variable-length one is found anew in every record.
TEST_F(IdentityTest, FieldInTheVariablePart) {
    ASSERT_EQ(CREDATX8(1, "v.dat", 4, 0, 0x0004, 0, nullptr, nullptr, ZV_XCRE_DEFAULT), 0);
    Bytes s = schema_block({{4, ZV_INT4}, {0, ZV_STRING}, {4, ZV_INT4}});
    DEFBLK d{s.data(), int32_t(s.size()), int32_t(s.size()), 1, 1};
    ASSERT_EQ(SETDEFBLK(1, &d), 0);
    ASSERT_EQ(addIDfield(1, 1000, 1, 2), 0);
    FCB *f = fcb(1);
    EXPECT_EQ(f->idblk->fldoff, -1);
    uint32_t pos = NEWVREC(1, 14);
    ASSERT_NE(pos, 0u);
    EXPECT_EQ(g()->lastid, 1000);
    unsigned char rec[14] = {'k', 'k', 'k', 'k', 'a', 'b', 0, 0x11, 0x11, 0x11, 0x11, 0x22, 0x22, 0x22};
    ASSERT_EQ(zv::setIDfield(f, rec, 11), 0);
    EXPECT_EQ(Bytes(rec + 7, rec + 11), Bytes({0xE8, 0x03, 0, 0}));
    EXPECT_EQ(g()->idfldoff, 7);
    EXPECT_EQ(f->idblk->fldoff, -2);
    unsigned char longer[14] = {'k', 'k', 'k', 'k', 'a', 'b', 'c', 'd', 0, 0, 0, 0, 0, 0x22};
    ASSERT_EQ(zv::setIDfield(f, longer, 13), 0);
    EXPECT_EQ(Bytes(longer + 9, longer + 14), Bytes({0xE8, 0x03, 0, 0, 0x22}));
    EXPECT_EQ(zv::setIDfield(f, longer, 12), 445);  // the field would end past the image
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

// The freed space of a deleted identity resource keeps the delete stack's
// links: records handed out afterwards come from it one by one.
TEST_F(IdentityTest, DeletedResourceSpaceIsReusedIntact) {
    make(1, "del.dat", ZV_CHARU, 1);  // 15-byte records: the body spans many slots
    ASSERT_EQ(addIDfield(1, 1, 1, 1), 0);
    uint32_t at = dar_pos(1, 1);
    ASSERT_NE(at, 0u);
    ASSERT_EQ(delIDfield(1), 0);
    std::string before = zvtest::read_file("ZVSTATUS.QVS");
    uint32_t end = at + 22 + 256;
    int inside = 0;
    for (int i = 0; i < 40; i++) {
        uint32_t p = NEWREC(1);
        ASSERT_NE(p, 0u);
        if (p >= at && p < end) inside++;
    }
    EXPECT_GE(inside, int((22 + 256) / 15));
    EXPECT_EQ(zvtest::read_file("ZVSTATUS.QVS"), before);  // no stack reset logged
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(IdentityTest, ThroughTheEntryPoint) {
    make(1, "z.dat", ZV_INT4, 4);
    int64_t start = 70;
    int32_t fld = 1, status = -1;
    EXPECT_EQ(zarvo(0x26AB, 1, reinterpret_cast<void *>(intptr_t(10)), &status, &start, &fld, 49), 0);
    EXPECT_EQ(status, 0);
    int64_t v = 0;
    EXPECT_EQ(zarvo(0x26AB, 1, reinterpret_cast<void *>(intptr_t(1)), &status, &v, nullptr, 51), 0);
    EXPECT_EQ(v, 70);
    EXPECT_EQ(zarvo(0x26AB, 1, reinterpret_cast<void *>(intptr_t(1)), &status, &v, nullptr, 51), 0);
    EXPECT_EQ(v, 80);
    EXPECT_EQ(zarvo(0x26AB, 1, nullptr, &status, nullptr, nullptr, 53), 0);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(zarvo(0x26AB, 1, reinterpret_cast<void *>(intptr_t(-1)), &status, nullptr, nullptr, 56), 0);
    EXPECT_EQ(status, 0x04 | 0x40);
    int64_t reset = 5;
    EXPECT_EQ(zarvo(0x26AB, 1, nullptr, &status, &reset, nullptr, 52), 0);
    EXPECT_EQ(zarvo(0x26AB, 1, reinterpret_cast<void *>(intptr_t(2)), &status, &v, nullptr, 51), 0);
    EXPECT_EQ(v, 5);
    EXPECT_EQ(zarvo(0x26AB, 1, nullptr, &status, nullptr, nullptr, 50), 0);
    EXPECT_EQ(zarvo(0x26AB, 1, nullptr, &status, nullptr, nullptr, 53), 914);
    EXPECT_EQ(status, -1);
    EXPECT_EQ(zarvo(0x26AB, 1, nullptr, &status, nullptr, nullptr, 49), 540);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(IdentityTest, RangeTables) {
    EXPECT_EQ(zv::maxvalsgn(1), 127);
    EXPECT_EQ(zv::minvalsgn(1), -128);
    EXPECT_EQ(zv::maxvaluns(1), 255u);
    EXPECT_EQ(zv::maxvalsgn(3), 8388607);
    EXPECT_EQ(zv::minvalsgn(7), -(int64_t(1) << 55));
    EXPECT_EQ(zv::maxvaluns(7), (uint64_t(1) << 56) - 1);
    EXPECT_EQ(zv::maxvalsgn(0), INT64_MAX);
    EXPECT_EQ(zv::minvalsgn(8), INT64_MIN);
    EXPECT_EQ(zv::maxvaluns(8), UINT64_MAX);
    EXPECT_EQ(zv::testIDfield_parameters(0x40, 2, 40000, 1), 1002);
    EXPECT_EQ(zv::testIDfield_parameters(0x40 | 0x10, 2, 40000, 1), 0);
    EXPECT_EQ(zv::testIDfield_parameters(0x01, 2, 65535, 1), 0);
    EXPECT_EQ(zv::testIDfield_parameters(0x01, 2, -1, 1), 1002);
    EXPECT_EQ(zv::testIDfield_parameters(0x40, 8, INT64_MIN, INT64_MIN), 0);
    EXPECT_EQ(zv::testIDfield_parameters(0x40, 4, 0, INT64_MIN), 0);  // 4 bytes: no increment check
    EXPECT_EQ(zv::testIDfield_parameters(0x40, 3, 0, -8388609), 1002);
}

TEST_F(IdentityTest, OldSchemaBlocksAreWidened) {
    ASSERT_EQ(CREDATX8(1, "old.dat", 20, 0, 0, 0, nullptr, nullptr, ZV_XCRE_DEFAULT), 0);
    // Two ZV_INT4 fields (one entry, repeat 1), stored packed: a definition
    // resource written by hand.
    Bytes def(1048 + 20, 0);
    uint32_t type = 0, number = 1, total = uint32_t(def.size()), off = 1048;
    memcpy(&def[0], &type, 4);
    memcpy(&def[4], &number, 4);
    memcpy(&def[8], "QV!DEF", 7);
    memcpy(&def[16], &total, 4);
    memcpy(&def[24 + 8], &off, 4);
    const uint16_t rsv = 24, used = 20;
    memcpy(&def[28 + 8], &rsv, 2);
    memcpy(&def[30 + 8], &used, 2);
    const Bytes packed = {2, 1, 0, ' ', 20, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 4, 0, ZV_INT4, 1};
    std::copy(packed.begin(), packed.end(), def.begin() + 1048);
    ASSERT_EQ(ADDRES(1, def.data(), int32_t(def.size())), 0);
    void *blk = nullptr;
    int32_t len = 0;
    ASSERT_EQ(zvrdefx(1, 0, 1, &blk, &len), 0);
    const Bytes wide = {2, 1, 0, ' ', 22, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 4, 0, ZV_INT4, 0, 1, 0};
    ASSERT_EQ(len, int32_t(wide.size()));
    EXPECT_EQ(Bytes(static_cast<unsigned char *>(blk), static_cast<unsigned char *>(blk) + len), wide);
    zvputmem(blk);
    EXPECT_EQ(zvrdefx(1, 0, 128, &blk, &len), 436);
    EXPECT_EQ(zvrdefx(1, 300, 1, &blk, &len), 446);
    EXPECT_EQ(zvrdefx(1, 0, 1, nullptr, &len), 540);
    // The open installs the widened schema.
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "old.dat", 0), 0);
    ASSERT_NE(fcb(1)->schmap, nullptr);
    EXPECT_EQ(addIDfield(1, 1, 1, 1), 0);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

}  // namespace

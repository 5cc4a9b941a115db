// Resources: enabling, the ring operations, updates that rewrite, grow or
// move, damaged rings, failed writes, and the conversion of system
// resources with the byte swap forced on.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

#include "engine/core/arith.h"
#include "engine/core/highword.h"
#include "engine/files/fixrec.h"
#include "engine/files/header.h"
#include "engine/files/identity_services.h"
#include "engine/files/resconv.h"
#include "engine/files/resource.h"
#include "tests/engine/files/files_util.h"

namespace {

using filestest::Bytes;
using filestest::file_bytes;
using filestest::le16;
using filestest::le32;
using filestest::patch;
using filestest::slice;
using zv::IoKind;

// A resource body: type, number (host order, little-endian here), the name
// with its NUL, then `datalen` bytes of `fill`.
Bytes body(uint32_t type, uint32_t number, const std::string &name, size_t datalen, uint8_t fill = 0xAB) {
    Bytes b(8 + name.size() + 1 + datalen, fill);
    memcpy(b.data(), &type, 4);
    memcpy(b.data() + 4, &number, 4);
    memcpy(b.data() + 8, name.data(), name.size());
    b[8 + name.size()] = 0;
    return b;
}

struct Got {
    uint32_t pos;
    int code;
    Bytes data;
};

class ResourceTest : public filestest::FilesTest {
protected:
    void TearDown() override {
        zv::force_byte_swap(false);
        filestest::FilesTest::TearDown();
    }
    // A fixed-length file without resources: record length 100, standard header.
    void make_fixed(int filno, const char *name, uint16_t mode = 0x800) {
        ASSERT_EQ(CREDATX8(filno, name, 100, 0, mode, 0, nullptr, nullptr, nullptr), 0);
    }
    Got get(int filno, uint32_t type, uint32_t number, int mode = 2, int32_t buflen = 4096) {
        uint32_t k[2] = {type, number};
        Bytes buf(size_t(buflen > 0 ? buflen : 0) + 1);
        Got g{};
        g.pos = GETRES(filno, k, buf.data(), buflen, mode);
        g.code = zvGetUserErrorCode();
        // Keep what the read delivered: the body, cut to the buffer.
        size_t n = size_t(buflen > 0 ? buflen : 0);
        uint32_t info[3] = {};
        uint32_t at[2] = {uint32_t(zvGETHGH()), g.pos};
        if (g.pos && !(mode & 0x40) && GETRES(filno, wide(filno) ? at : &at[1], info, 12, 32 | 0x40))
            n = std::min<size_t>(n, info[2]);
        buf.resize(n);
        g.data = buf;
        zv::set_uerr(g.code);
        return g;
    }
    int add(int filno, Bytes b) { return ADDRES(filno, b.data(), int32_t(b.size())); }
    int upd(int filno, Bytes b) { return UPDRES(filno, b.data(), int32_t(b.size())); }
    int del(int filno, uint32_t type, uint32_t number) {
        uint32_t k[2] = {type, number};
        return DELRES(filno, k);
    }
    bool wide(int filno) { return fcb(filno)->hdr.base.hdrflags & kHdr8ByteOffsets; }
    int64_t ring(int filno) { return zv::resource_ring_count(filno); }
    uint64_t anchor_of(int filno) { return zv::join64(fcb(filno)->hdr.ext.reshdrh, fcb(filno)->hdr.base.reshdr); }
    // Types and numbers of the ring in forward order, after the anchor.
    std::vector<std::pair<uint32_t, uint32_t>> order(int filno) {
        std::vector<std::pair<uint32_t, uint32_t>> out;
        uint64_t first = anchor_of(filno);
        RESHDR h;
        if (zv::getrhdr(fcb(filno), first, &h)) return out;
        for (int i = 0; i < 1000 && h.fwd != first; i++) {
            if (zv::getrhdr(fcb(filno), h.fwd, &h)) break;
            out.emplace_back(h.type, h.number);
        }
        return out;
    }
};

TEST_F(ResourceTest, EnablingAFixedLengthFileWritesTheAnchorInTheFirstSlot) {
    make_fixed(1, "f.dat");
    EXPECT_EQ(get(1, 5000, 1).code, 401);
    ASSERT_EQ(ENARES(1), 0);
    EXPECT_EQ(fcb(1)->hdr.base.reshdr, 200u);
    EXPECT_EQ(NEWREC(1), 300u);
    EXPECT_EQ(ENARES(1), 400);
    ASSERT_EQ(CLSFIL(1, 0), 0);

    Bytes b = file_bytes("f.dat");
    EXPECT_EQ(le32(b, 12), 200u);
    const Bytes head = {0xFE, 0xFE, 0x64, 0, 0, 0, 0x09, 0, 0, 0, 0, 0, 0, 0, 0xC8, 0, 0, 0, 0xC8, 0, 0, 0};
    EXPECT_EQ(slice(b, 200, 22), head);
    EXPECT_EQ(slice(b, 222, 9), Bytes(9, 0));
    EXPECT_EQ(slice(b, 231, 69), Bytes(69, 0xFF));

    make_fixed(2, "ro.dat");
    ASSERT_EQ(CLSFIL(2, 0), 0);
    ASSERT_EQ(OPNFIL(2, "ro.dat", 0x8), 0);
    EXPECT_EQ(ENARES(2), 402);
    EXPECT_EQ(CLSFIL(2, 0), 0);
}

TEST_F(ResourceTest, DefaultCreatePutsTheRingAtTheFirstRecordAndOpenReadsThrough) {
    ASSERT_EQ(CREDAT(1, "d.dat", 100, 0, 0), 0);
    EXPECT_EQ(anchor_of(1), zv::first_record_offset(fcb(1)));
    EXPECT_EQ(ring(1), 2);  // the first entry and the data-access anchor
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "d.dat", 0), 0);
    EXPECT_EQ(ring(1), 2);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(ResourceTest, RingOperations) {
    make_fixed(1, "r.dat");
    ASSERT_EQ(ENARES(1), 0);
    Bytes second = body(5000, 0xFFFFFFFFu, "two", 20);
    Bytes big = body(5000, 7, "big", 300);
    struct Step {
        const char *what;
        std::function<int()> call;
        int code;
    };
    const Step steps[] = {
        {"add (5000, 1)", [&] { return add(1, body(5000, 1, "one", 10)); }, 0},
        {"add (5000, next)", [&] { return ADDRES(1, second.data(), int32_t(second.size())); }, 0},
        {"next number is in the body and the last serial",
         [&] {
             uint32_t n;
             memcpy(&n, second.data() + 4, 4);
             return n == 2 && g()->lastserl == 2 ? 0 : 1;
         },
         0},
        {"(5000, 2) reads back", [&] { return get(1, 5000, 2).data == second ? 0 : 1; }, 0},
        {"mode 8 skips the anchor",
         [&] {
             Got r = get(1, 0, 0, 8);
             uint32_t t, n;
             memcpy(&t, r.data.data(), 4);
             memcpy(&n, r.data.data() + 4, 4);
             return r.pos && t == 5000 && n == 1 ? 0 : 1;
         },
         0},
        {"mode 128 after (5000, 1)",
         [&] {
             Got r = get(1, 5000, 1, 128);
             uint32_t n;
             memcpy(&n, r.data.data() + 4, 4);
             return r.pos && n == 2 ? 0 : 1;
         },
         0},
        {"add a long body", [&] { return add(1, big); }, 0},
        {"cut body", [&] {
             Got r = get(1, 5000, 7, 2, 10);
             return r.pos != 0 && r.data == slice(big, 0, 10) ? r.code : -1;
         }, 404},
        {"mode 2 with (0, 0)", [&] { return get(1, 0, 0, 2).code; }, 403},
        {"mode 6", [&] { return get(1, 5000, 1, 6).code; }, 406},
        {"add an existing resource", [&] { return add(1, body(5000, 1, "again", 1)); }, 405},
        {"delete a missing one", [&] { return del(1, 5000, 9); }, 408},
        {"body length 0", [&] { return ADDRES(1, second.data(), 0); }, 409},
        {"type 11 without permission", [&] {
             int rc = add(1, body(11, 1, "dar", 40));
             return rc == 912 && zvGetSystemErrorCode() == 11 ? rc : -1;
         }, 912},
        {"type 11 with permission", [&] {
             g()->restype11 = 1;
             Bytes b = body(11, 1, "dar", 40);
             int rc = ADDRES(1, b.data(), int32_t(b.size()));
             g()->restype11 = 0;
             Got r = get(1, 11, 1);
             uint32_t lo;
             memcpy(&lo, r.data.data() + 28, 4);
             return rc ? rc : (lo == r.pos ? 0 : -1);
         }, 0},
        {"ring in order", [&] {
             using P = std::pair<uint32_t, uint32_t>;
             return order(1) == std::vector<P>{{11, 1}, {5000, 1}, {5000, 2}, {5000, 7}} ? 0 : 1;
         }, 0},
        {"delete (11, 1) without permission", [&] { return del(1, 11, 1); }, 912},
        {"delete all", [&] {
             g()->restype11 = 1;
             int rc = del(1, 11, 1);
             g()->restype11 = 0;
             for (uint32_t n : {2u, 1u, 7u})
                 if (!rc) rc = del(1, 5000, n);
             return rc;
         }, 0},
        {"the anchor is linked to itself", [&] {
             RESHDR h;
             uint64_t a = anchor_of(1);
             int rc = zv::getrhdr(fcb(1), a, &h);
             return rc ? rc : (h.fwd == a && h.bwd == a ? 0 : 1);
         }, 0},
        {"deleted slots are reused", [&] { return NEWREC(1) != 0 && zvGetUserErrorCode() == 0 ? 0 : 1; }, 0},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.what);
        EXPECT_EQ(s.call(), s.code);
    }
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(ResourceTest, NameSearchComparesOnlyTheBytesRead) {
    make_fixed(1, "n.dat");
    ASSERT_EQ(ENARES(1), 0);
    std::string longname(100, 'q');
    ASSERT_EQ(add(1, body(6000, 1, "short", 4)), 0);
    ASSERT_EQ(add(1, body(6000, 2, longname, 4)), 0);
    auto find = [&](const std::string &name) {
        Bytes out(300);
        uint32_t pos = GETRES(1, name.c_str(), out.data(), int32_t(out.size()), 16);
        uint32_t n = 0;
        memcpy(&n, out.data() + 4, 4);
        return pos ? int(n) : -zvGetUserErrorCode();
    };
    EXPECT_EQ(find("short"), 1);
    EXPECT_EQ(find("shor"), -408);
    EXPECT_EQ(find("shortx"), -408);
    EXPECT_EQ(find(longname), 2);
    EXPECT_EQ(find(std::string(64, 'q') + "zzz"), 2);  // only 64 name bytes are read
    EXPECT_EQ(find(std::string(63, 'q')), -408);
    EXPECT_EQ(find(""), -403);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(ResourceTest, InfoPositionTypeAndSurveyModes) {
    make_fixed(1, "m.dat");
    ASSERT_EQ(ENARES(1), 0);
    for (uint32_t n : {3u, 1u, 25u}) ASSERT_EQ(add(1, body(5000, n, "", 5)), 0);
    ASSERT_EQ(add(1, body(1001, 0, "", 40)), 0);

    Got info = get(1, 5000, 3, 2 | 0x40, 12);
    uint32_t w[3];
    memcpy(w, info.data.data(), 12);
    EXPECT_EQ(w[0], 5000u);
    EXPECT_EQ(w[1], 3u);
    EXPECT_EQ(w[2], 14u);
    EXPECT_EQ(get(1, 5000, 3, 2 | 0x40, 11).code, 404);

    uint32_t at = info.pos;
    Bytes out(64);
    EXPECT_EQ(GETRES(1, &at, out.data(), 64, 32), at);
    EXPECT_EQ(le32(out, 4), 3u);
    Got bytype = get(1, 5000, 0, 4);
    EXPECT_EQ(le32(bytype.data, 4), 1u);

    Bytes survey(24, 0);
    uint32_t type = 5000;
    EXPECT_EQ(GETRES(1, &type, survey.data(), 23, 1024), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 404);
    EXPECT_EQ(survey, Bytes(24, 0));
    EXPECT_NE(GETRES(1, &type, survey.data(), 24, 1024), 0u);
    Bytes want(24, 0);
    want[0] = 3;
    want[4 + 1] = want[4 + 3] = 1;
    EXPECT_EQ(survey, want);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(ResourceTest, EnablingAddingFindingAndDeletingOnAnIndex) {
    ASSERT_EQ(CREIDX(1, "i.idx", 10, 0, 0, 0, 0, 0), 0);
    ASSERT_EQ(ENARES(1), 0);
    uint64_t first = anchor_of(1);
    EXPECT_EQ(first, zv::first_node_offset(fcb(1)));
    ASSERT_EQ(add(1, body(5000, 1, "x", 100)), 0);
    Got r = get(1, 5000, 1);
    EXPECT_EQ(r.pos, first + 1024);
    EXPECT_EQ(del(1, 5000, 1), 0);
    EXPECT_EQ(get(1, 5000, 1).code, 408);
    RESHDR h;
    ASSERT_EQ(zv::getrhdr(fcb(1), r.pos, &h), 0);
    EXPECT_EQ(h.fwd, 0u);
    EXPECT_EQ(h.bwd, 0u);
    EXPECT_EQ(ring(1), 1);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(ResourceTest, EnablingAddingAndFindingOnAVariableLengthFile) {
    ASSERT_EQ(CREDATX8(1, "v.dat", 8, 0, 0x4, 0, nullptr, nullptr, nullptr), 0);
    uint64_t first = anchor_of(1);
    ASSERT_NE(first, 0u);
    EXPECT_EQ(first, zv::first_node_offset(fcb(1)));
    Bytes a = filestest::file_bytes("v.dat");
    ASSERT_EQ(add(1, body(5000, 1, "x", 100)), 0);
    Got r = get(1, 5000, 1);
    EXPECT_EQ(r.pos, first + 31);
    EXPECT_EQ(r.data, body(5000, 1, "x", 100));
    ASSERT_EQ(CLSFIL(1, 0), 0);
    Bytes b = file_bytes("v.dat");
    EXPECT_EQ(le16(b, size_t(first)), 0xFEFEu);
    EXPECT_EQ(le32(b, size_t(first) + 2), 31u);
    EXPECT_EQ(le32(b, size_t(r.pos) + 2), 22u + 110u);
}

TEST_F(ResourceTest, UpdateRewritesGrowsAtTheEndAndMovesInTheMiddle) {
    // At the end of a fixed-length file the area grows in place by records.
    make_fixed(1, "g.dat");
    ASSERT_EQ(ENARES(1), 0);
    ASSERT_EQ(add(1, body(6000, 1, "g", 50)), 0);
    uint32_t pos = get(1, 6000, 1).pos;
    Bytes longer = body(6000, 1, "g", 250, 0xCD);
    ASSERT_EQ(upd(1, longer), 0);
    RESHDR h;
    ASSERT_EQ(zv::getrhdr(fcb(1), pos, &h), 0);
    EXPECT_EQ(h.arealen, 300u);
    EXPECT_EQ(h.usedlen, longer.size());
    EXPECT_EQ(fcb(1)->hdr.base.numrec, pos + 300 - 1);
    EXPECT_EQ(get(1, 6000, 1).data, longer);
    Bytes shorter = body(6000, 1, "g", 3, 0x11);
    ASSERT_EQ(upd(1, shorter), 0);
    EXPECT_EQ(get(1, 6000, 1, 2, 12).data, slice(shorter, 0, 12));
    EXPECT_EQ(get(1, 6000, 2).code, 408);
    EXPECT_EQ(upd(1, body(6000, 2, "", 1)), 408);
    EXPECT_EQ(CLSFIL(1, 0), 0);

    // In the middle of a fixed-length file the resource moves.
    make_fixed(2, "mv.dat");
    ASSERT_EQ(ENARES(2), 0);
    ASSERT_EQ(add(2, body(7000, 1, "a", 10)), 0);
    ASSERT_EQ(add(2, body(7000, 2, "b", 10)), 0);
    uint32_t old = get(2, 7000, 1).pos;
    Bytes moved = body(7000, 1, "a", 500, 0x5A);
    ASSERT_EQ(upd(2, moved), 0);
    Got now = get(2, 7000, 1);
    EXPECT_NE(now.pos, old);
    EXPECT_EQ(now.data, moved);
    using P = std::pair<uint32_t, uint32_t>;
    EXPECT_EQ(order(2), (std::vector<P>{{7000, 1}, {7000, 2}}));
    EXPECT_EQ(ring(2), 3);
    // The old slot went back to the delete stack.
    EXPECT_EQ(fcb(2)->hdr.base.delstk, old);
    EXPECT_EQ(CLSFIL(2, 0), 0);
}

TEST_F(ResourceTest, SegmentDefinitionsReserveTheirRoomAndNeverMove) {
    make_fixed(1, "s.dat");
    ASSERT_EQ(ENARES(1), 0);
    EXPECT_EQ(add(1, body(0, 7, "", 8171 - 9)), 686);
    ASSERT_EQ(add(1, body(0, 7, "", 20)), 0);
    ASSERT_EQ(add(1, body(5000, 1, "", 20)), 0);
    RESHDR h;
    ASSERT_EQ(zv::getrhdr(fcb(1), get(1, 0, 7).pos, &h), 0);
    EXPECT_EQ(h.arealen, 8200u);
    EXPECT_EQ(upd(1, body(0, 7, "", 8170 - 9, 0x77)), 0);
    EXPECT_EQ(upd(1, body(0, 7, "", 8200 - 9)), 682);
    EXPECT_EQ(get(1, 0, 7, 2, 9000).data[100], 0x77);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(ResourceTest, DamagedRingsEndIn407WithoutHanging) {
    make_fixed(1, "d.dat");
    ASSERT_EQ(ENARES(1), 0);
    ASSERT_EQ(add(1, body(5000, 1, "a", 10)), 0);  // slot 300
    ASSERT_EQ(add(1, body(5000, 2, "b", 10)), 0);  // slot 400
    struct Case {
        const char *what;
        uint32_t at;
        Bytes with;
    };
    const Case cases[] = {
        {"forward links cycle between two entries", 400 + 14, {0x2C, 0x01, 0, 0}},
        {"a link beyond the last byte used", 300 + 14, {0, 0, 0x10, 0}},
        {"a link of 0", 300 + 14, {0, 0, 0, 0}},
        {"a header without the mark", 400, {0xFA, 0xFA}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes keep(c.with.size());
        ASSERT_EQ(zvio81(0, fcb(1), 0, c.at, keep.data(), int32_t(keep.size())), 0);
        Bytes with = c.with;
        ASSERT_EQ(zvio81(1, fcb(1), 0, c.at, with.data(), int32_t(with.size())), 0);
        EXPECT_EQ(get(1, 6000, 1).code, 407);
        EXPECT_EQ(GETRES(1, "nothing", nullptr, 0, 16), 0u);
        EXPECT_EQ(zvGetUserErrorCode(), 407);
        EXPECT_EQ(add(1, body(6000, 1, "c", 1)), 407);
        EXPECT_EQ(ring(1), -407);
        ASSERT_EQ(zvio81(1, fcb(1), 0, c.at, keep.data(), int32_t(keep.size())), 0);
        EXPECT_EQ(ring(1), 3);
    }
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

// Every write that fails during a resource call fails the call: the sweep
// fails the nth write for n = 1, 2, ... until the call meets no fault, and
// counts the faults it injected. A tiny data cache and a cold start of
// every call (the file closed and opened again) make every mode meet them.
TEST_F(ResourceTest, FailedWritesLeaveTheRingWalkable) {
    zvtest::stop_engine();
    ASSERT_EQ(zvtest::start_engine(8, 20, 8, 3), 0);
    struct Op {
        const char *what;
        bool enabled;                 // the setup enables resources and adds three
        std::function<int()> call;
    };
    const Op ops[] = {
        {"ENARES", false, [] { return ENARES(1); }},
        {"ADDRES", true, [&] { return add(1, body(5000, 2, "two", 30)); }},
        {"UPDRES in place", true, [&] { return upd(1, body(5000, 1, "one", 5, 0x21)); }},
        {"UPDRES grows at the end", true, [&] { return upd(1, body(5000, 9, "nine", 400)); }},
        {"UPDRES moves", true, [&] { return upd(1, body(5000, 1, "one", 400)); }},
        {"DELRES", true, [&] { return del(1, 5000, 3); }},
    };
    for (uint16_t kind : {uint16_t(0x800), uint16_t(0x840), uint16_t(0x804), uint16_t(0x844)}) {
        for (const Op &op : ops) {
            bool done = false;
            int failed = 0, injected = 0;
            for (long n = 1; n < 200 && !done; n++) {
                SCOPED_TRACE(std::string(op.what) + " mode " + std::to_string(kind) + " write " +
                             std::to_string(n));
                dltfil("w.dat");
                ASSERT_EQ(CREDATX8(1, "w.dat", (kind & 4) ? 8 : 100, 0, kind, 0, nullptr, nullptr, nullptr), 0);
                if (op.enabled) {
                    ASSERT_EQ(ENARES(1), 0);
                    ASSERT_EQ(add(1, body(5000, 1, "one", 10)), 0);
                    ASSERT_EQ(add(1, body(5000, 3, "three", 10)), 0);
                    ASSERT_EQ(add(1, body(5000, 9, "nine", 10)), 0);
                }
                // Closed and opened again: the call starts with a cold cache
                // and marks the header changed first.
                ASSERT_EQ(CLSFIL(1, 0), 0);
                ASSERT_EQ(OPNFIL(1, "w.dat", 0), 0);
                zv::fault_reset();
                zv::fault_set(IoKind::Write, n, EIO);
                int rc = op.call();
                bool met = zv::io_calls(IoKind::Write) >= n;
                zv::fault_reset();
                if (!met) {
                    EXPECT_EQ(rc, 0);
                    done = true;
                } else {
                    injected++;
                    EXPECT_NE(rc, 0) << "a call that met a failed write reports it";
                    if (rc) failed++;
                }
                if (!op.enabled && rc) {
                    EXPECT_EQ(ring(1), -401);
                    ASSERT_EQ(ENARES(1), 0);
                }
                EXPECT_GE(ring(1), 1);
                ASSERT_EQ(CLSFIL(1, 0), 0);
                ASSERT_EQ(OPNFIL(1, "w.dat", 0), 0);
                EXPECT_GE(ring(1), 1);
                EXPECT_EQ(get(1, 5000, 9).code, op.enabled ? 0 : 408);
                ASSERT_EQ(CLSFIL(1, 0), 0);
            }
            EXPECT_TRUE(done);
            EXPECT_GT(injected, 0) << op.what << " mode " << kind << " met no fault";
            EXPECT_EQ(failed, injected);
            if (kind & 0x40) {
                EXPECT_GT(failed, 0);  // cached writes may meet no fault
            }
        }
    }
}

TEST_F(ResourceTest, DefinitionBlocksAreReadThroughTheRing) {
    make_fixed(1, "def.dat");
    void *blk = nullptr;
    int32_t len = -1;
    EXPECT_EQ(zvrdefx(1, 0, 1, &blk, &len), 401);
    ASSERT_EQ(ENARES(1), 0);
    EXPECT_EQ(zvrdefx(1, 0, 1, &blk, &len), 408);
    EXPECT_EQ(zvrdefx(1, 5, 1, &blk, &len), 446);
    // Head with its total length, offset table (block 2 at 1048, 6 bytes),
    // then the block.
    Bytes def = body(0, 1, "QV!DEF", 1048 - 15, 0);
    const Bytes total = {0x1E, 0x04, 0, 0};
    std::copy(total.begin(), total.end(), def.begin() + 16);
    const Bytes entry = {0x18, 0x04, 0, 0, 0x08, 0, 0x06, 0};
    std::copy(entry.begin(), entry.end(), def.begin() + 24 + 16);
    const Bytes block = {1, 2, 3, 4, 5, 6};
    def.insert(def.end(), block.begin(), block.end());
    ASSERT_EQ(add(1, def), 0);
    ASSERT_EQ(zvrdefx(1, 0, 2, &blk, &len), 0);
    ASSERT_EQ(len, 6);
    EXPECT_EQ(Bytes(static_cast<unsigned char *>(blk), static_cast<unsigned char *>(blk) + 6), block);
    zvputmem(blk);
    EXPECT_EQ(zvrdefx(1, 0, 0, &blk, &len), 438);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(1, "def.dat", 0), 0);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(ResourceTest, MemoryFilesKeepResourcesInTheirRecords) {
    XCREblk mem{};
    mem.mode = 0x80000000u;
    mem.maxsizelo = 1 << 20;
    ASSERT_EQ(CREDATX8(1, "mem.dat", 100, 0, 0, 0, nullptr, nullptr, &mem), 0);
    EXPECT_EQ(ring(1), 2);  // the first entry and the data-access anchor
    Bytes a = body(5000, 1, "a", 30), b = body(5000, 2, "b", 30);
    ASSERT_EQ(add(1, a), 0);
    ASSERT_EQ(add(1, b), 0);
    EXPECT_EQ(get(1, 5000, 1).data, a);
    uint32_t records = fcb(1)->nmemrecs;
    Bytes longer = body(5000, 1, "a", 300, 0x44);
    ASSERT_EQ(upd(1, longer), 0);
    EXPECT_EQ(get(1, 5000, 1).data, longer);
    EXPECT_EQ(fcb(1)->nmemrecs, records);  // moved: one record made, one removed
    ASSERT_EQ(del(1, 5000, 2), 0);
    EXPECT_EQ(fcb(1)->nmemrecs, records - 1);
    EXPECT_EQ(get(1, 5000, 2).code, 408);
    EXPECT_EQ(ring(1), 3);
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

}  // namespace

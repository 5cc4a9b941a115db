// The superfile rebuild: a host with a fixed-length set, a
// variable-length set and their index members, damaged inside the host
// (a garbage stretch, an area whose owner is all ones, a member's zeroed
// counters, a duplicate resource), rebuilt; then each member set rebuilt.
// A member set rebuilt alone in its host, clean or not closed cleanly, and
// a host not closed cleanly left to the superfile rebuild.
#include <cstring>
#include <string>

#include "engine/core/arith.h"
#include "engine/core/filenum.h"
#include "engine/core/instance.h"
#include "engine/files/fcbops.h"
#include "engine/files/superfile.h"
#include "engine/maint/rblifil.h"
#include "tests/engine/maint/rblfix.h"
#include "tests/support/damage.h"
#include "tests/support/verifyset.h"

namespace {

using namespace rbltest;

constexpr uint16_t kMarkFree = 0xFDFD;

class RblSuperTest : public RblTest {
protected:
    struct Made {
        std::multiset<std::string> fixed, variable;
        uint64_t fixedhdr = 0;     // header position of the fixed-length member
        uint64_t junk = 0;         // a free area of the host (a deleted member's)
        uint32_t junklen = 0;
        uint64_t deleted = 0;      // a deleted record of the fixed-length member
        uint32_t fixedmember = 0;  // its member number
    };

    // The host "h" with the sets h!cust (fixed) and h!vary (variable), and a
    // member deleted again; everything closed.
    Made make(RblSet &f, RblSet &v) {
        Made m;
        EXPECT_EQ(CREDAT(1, "h", 0, 0, 0x200), 0);
        EXPECT_EQ(CREDAT(3, "h!junk", 64, 0, 0), 0);
        m.fixed = build(f, 40);
        m.variable = build(v, 30);
        f.ifil.tfilno = -1;
        EXPECT_EQ(OPNIFIL(&f.ifil), 0);
        FCB *fm = zv::fcb_at(f.ifil.tfilno);
        m.fixedhdr = zv::join64(fm->hposh, fm->hposl);
        m.fixedmember = fm->hdr.base.supmbr;
        EXPECT_EQ(CLIFIL(&f.ifil), 0);
        FCB *junk = zv::fcb_at(3);
        const uint32_t L = uint32_t(zvWNGV->membernamemax);
        m.junk = zv::join64(junk->hposh, junk->hposl) - L - 18;
        EXPECT_EQ(DELFIL(3), 0);
        EXPECT_EQ(CLSFIL(1, 0), 0);
        m.junklen = zvtest::get_le32("h", m.junk + 2);
        // A deleted record's area: walk the host for the member's areas.
        for (uint64_t at = 512; at < zvtest::file_size("h");) {
            uint32_t len = zvtest::get_le32("h", at + 2);
            if (len < 10) break;
            uint16_t mark = uint16_t(zvtest::get_le32("h", at));
            if (mark == 0xFAFA && zvtest::get_le32("h", at + 10) == m.fixedmember &&
                uint8_t(zvtest::read_bytes("h", at + 18, 1)[0]) == 0xFF) {
                m.deleted = at;
                break;
            }
            at += len;
        }
        return m;
    }

    // The area of the host that covers [pos, pos + len), or 0 with mark 0.
    static uint16_t covering_mark(uint64_t pos, uint32_t len) {
        for (uint64_t at = 512; at < zvtest::file_size("h");) {
            uint32_t alen = zvtest::get_le32("h", at + 2);
            if (alen < 10) return 0;
            if (at <= pos && pos + len <= at + alen) return uint16_t(zvtest::get_le32("h", at));
            if (at > pos) return 0;
            at += alen;
        }
        return 0;
    }
};

TEST_F(RblSuperTest, ADamagedHostIsRepairedAndItsMembersRebuilt) {
    RblSet f("h!cust", Kind::Fixed), v("h!vary", Kind::Variable);
    Made m = make(f, v);
    ASSERT_NE(m.deleted, 0u);
    ASSERT_GT(m.junklen, 64u);
    const std::string fres = [&] {
        f.ifil.tfilno = -1;
        EXPECT_EQ(OPNIFIL(&f.ifil), 0);
        std::string r = resource_of(f.ifil.tfilno, 1);
        CLIFIL(&f.ifil);
        CLSFIL(chkopnx("h"), 0);
        return r;
    }();
    ASSERT_FALSE(fres.empty());
    // The damage.
    zvtest::write_bytes("h", m.junk, zvtest::garbage(m.junklen, 11));
    zvtest::put_le32("h", m.deleted + 10, 0xFFFFFFFFu);
    zvtest::put_le32("h", m.fixedhdr + 24, 0);
    zvtest::put_le32("h", m.fixedhdr + 4, 0);
    {
        std::string body = app_resource(1, "dup");
        std::string hdr(22, '\0');
        hdr[0] = hdr[1] = char(0xFE);
        for (int i = 0; i < 4; i++) hdr[size_t(2 + i)] = char((22 + body.size()) >> (8 * i));
        for (int i = 0; i < 4; i++) hdr[size_t(6 + i)] = char(body.size() >> (8 * i));
        for (int i = 0; i < 4; i++) hdr[size_t(10 + i)] = char(m.fixedmember >> (8 * i));
        zvtest::write_bytes("h", uint64_t(zvtest::get_le32("h", 8)) + 1, hdr + body);
    }
    SETCBRBL(progress_cb, 1);
    ASSERT_EQ(ZVSBLDX("h", nullptr), 0) << status_log();
    ASSERT_FALSE(progress().empty());
    EXPECT_EQ(progress()[0].text, "Rebuilding superfile.");
    EXPECT_EQ(covering_mark(m.junk, m.junklen), kMarkFree) << "the garbage is free space";
    EXPECT_EQ(covering_mark(m.deleted, 64), kMarkFree) << "the area without an owner is free space";
    // The members open with their record counts.
    ASSERT_EQ(OPNFIL(5, "h!cust.dat", 0), 0);
    zvSETHGH(0);
    EXPECT_EQ(DATENT(5), m.fixed.size());
    EXPECT_EQ(resource_of(5, 1), fres) << "the larger of the two resources stays";
    ASSERT_EQ(CLSFIL(5, 0), 0);
    CLSFIL(chkopnx("h"), 0);
    // Each member set rebuilt: its indexes hold every record again.
    ASSERT_EQ(f.rebuild(), 0) << status_log();
    ASSERT_EQ(v.rebuild(), 0) << status_log();
    EXPECT_EQ(records_of(f), m.fixed);
    EXPECT_EQ(records_of(v), m.variable);
    EXPECT_TRUE(indexes_verify(f));
    EXPECT_TRUE(indexes_verify(v));
    // The whole member sets check clean: every record found through each key.
    EXPECT_TRUE(zvtest::verify_set("h!cust.dat"));
    EXPECT_TRUE(zvtest::verify_set("h!vary.dat"));
    // A record can be added to each.
    f.ifil.tfilno = -1;
    ASSERT_EQ(OPNIFIL(&f.ifil), 0);
    std::string img = image(rec(99999));
    EXPECT_EQ(ADDREC(f.ifil.tfilno, img.data()), 0);
    EXPECT_EQ(CLIFIL(&f.ifil), 0);
}

TEST_F(RblSuperTest, WhatTheRebuildRefuses) {
    RblSet f("h!cust", Kind::Fixed), v("h!vary", Kind::Variable);
    Made m = make(f, v);
    CLSFIL(chkopnx("h"), 0);
    EXPECT_EQ(ZVSBLDX("", nullptr), 130);
    EXPECT_EQ(ZVSBLDX(nullptr, nullptr), 130);
    RblSet plain("plain", Kind::Fixed);
    build(plain, 3);
    EXPECT_EQ(ZVSBLDX("plain.dat", nullptr), 48);
    EXPECT_EQ(ZVSBLDX("absent", nullptr), 12);
    ASSERT_EQ(OPNFIL(9, "h", 0), 0);
    EXPECT_EQ(ZVSBLDX("h", nullptr), 46) << "an open host";
    ASSERT_EQ(CLSFIL(9, 0), 0);
    std::string saved = zvtest::read_file("h");
    zvtest::put_le32("h", 16, 256);
    EXPECT_EQ(ZVSBLDX("h", nullptr), 418);
    zvtest::write_file("h", saved);
    // A mark that no area of a fixed-length member may carry: 123, and
    // the host keeps its update flag 0xFF.
    zvtest::write_bytes("h", m.deleted, std::string("\xFC\xFC", 2));
    EXPECT_EQ(ZVSBLDX("h", nullptr), 123);
    EXPECT_EQ(uint8_t(zvtest::read_bytes("h", 56, 1)[0]), 0xFF);
    for (int n = 0; n < 20; n++) EXPECT_EQ(TSTFILNUM(n), 0) << n;
    // Put right, the rebuild completes.
    zvtest::write_bytes("h", m.deleted, std::string("\xFA\xFA", 2));
    EXPECT_EQ(ZVSBLDX("h", nullptr), 0);
    int32_t pos = 0, len = 0;
    const intptr_t block[2] = {reinterpret_cast<intptr_t>("h"), 0};
    EXPECT_EQ(zarvo(0x20C0, 0, const_cast<intptr_t *>(block), &pos, nullptr, &len, 0), 0) << "through 0x20C0";
}

// A set in the host `host`, built with n records (every seventh deleted)
// and closed with its host: the header positions of its files (the data
// file, the index file, its member index, the index file of its own).
struct HostSet {
    std::string host;
    RblSet set;
    std::multiset<std::string> records;
    std::vector<uint64_t> headers;
    HostSet(const std::string &h, Kind kind) : host(h), set((h + "!cust").c_str(), kind) {}
};

class RblMemberTest : public RblTest {
protected:
    void make(HostSet &s, uint32_t n) {
        ASSERT_EQ(CREDAT(1, s.host.c_str(), 0, 0, 0x200), 0);
        s.records = build(s.set, n);
        s.set.ifil.tfilno = -1;
        ASSERT_EQ(OPNIFIL(&s.set.ifil), 0);
        for (int k = 0; k < 4; k++) {
            FCB *f = zv::fcb_at(s.set.ifil.tfilno + k);
            s.headers.push_back(zv::join64(f->hposh, f->hposl));
        }
        ASSERT_EQ(CLIFIL(&s.set.ifil), 0);
        ASSERT_EQ(CLSFIL(chkopnx(s.host.c_str()), 0), 0);
    }
    // The set opens, holds its records through every index, counts them
    // (a fixed-length set) and takes one more.
    void expect_whole(HostSet &s) {
        EXPECT_EQ(records_of(s.set), s.records);
        EXPECT_TRUE(indexes_verify(s.set));
        EXPECT_TRUE(zvtest::verify_set(s.set.dat()));
        s.set.ifil.tfilno = -1;
        ASSERT_EQ(OPNIFIL(&s.set.ifil), 0);
        const int datno = s.set.ifil.tfilno;
        if (!s.set.variable()) {
            EXPECT_EQ(DATENT(datno), s.records.size());
        }
        const std::string img = image(rec(99999));
        EXPECT_EQ(s.set.variable() ? ADDVREC(datno, const_cast<char *>(img.data()), int32_t(img.size()))
                                   : ADDREC(datno, const_cast<char *>(img.data())),
                  0);
        EXPECT_EQ(CLIFIL(&s.set.ifil), 0);
        CLSFIL(chkopnx(s.host.c_str()), 0);
    }
};

// The rebuild's check of an index header against a changed definition
// works the node geometry out again from the header that keeps the index's
// control-field width. A member index made for mode-0x20 members keeps
// 6-byte fields in a host without the configuration-version variant (one
// made with file mode 0x220), and the element limit it stores for its new
// key length leaves room for them behind the high key.
TEST_F(RblSuperTest, AChangedMemberIndexKeepsRoomForItsControlFields) {
    ASSERT_EQ(CREDAT(1, "h", 0, 0, 0x220), 0);
    ASSERT_EQ(CREIDX(3, "h!ix", 8, 0, 0, 0, 0, 0x20), 0);
    const FCB *f = zv::fcb_at(3);
    const uint64_t pos = zv::join64(f->hposh, f->hposl);
    IIDX x{};
    x.ikeylen = 12;
    ASSERT_EQ(zv::chkidxhdr(1, &x, 3, 0, -1), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    auto le16 = [&](uint64_t off) { return zvtest::get_le32("h", pos + off) & 0xFFFF; };
    ASSERT_EQ(le16(66), 12u);
    ASSERT_EQ(le16(40), 0x00A1u) << "6-byte control fields";
    EXPECT_LE(le16(52) + 12 + le16(94) * 6, le16(42) - 18);
}

// Without a superfile rebuild: the indexes are emptied in the host and
// loaded again. A host the rebuild found closed is closed again after it;
// one found open, under the set's spelling of its name or under another
// ("./h" for "h"), is rebuilt under its open block and stays open.
TEST_F(RblMemberTest, ASetInAHostIsRebuiltInItsHost) {
    int round = 0;
    for (Kind kind : {Kind::Fixed, Kind::Variable}) {
        for (const char *opened : {"", "as named", "./"}) {
            const bool hostopen = *opened != 0;
            SCOPED_TRACE(std::string(kind_name(kind)) + (hostopen ? " host open " + std::string(opened) : " host closed"));
            HostSet s("h" + std::to_string(round++), kind);
            make(s, 40);
            if (hostopen) {
                const std::string spelling = opened[0] == '.' ? opened + s.host : s.host;
                ASSERT_EQ(OPNFIL(1, spelling.c_str(), 0), 0);
            }
            ASSERT_EQ(s.set.rebuild(), 0) << status_log();
            EXPECT_EQ(chkopnx(s.host.c_str()) >= 0, hostopen);
            if (hostopen) {
                ASSERT_EQ(CLSFIL(1, 0), 0);
            }
            expect_whole(s);
        }
    }
}

// Every file of the set marked as not closed cleanly, the data file's
// count and delete stack lost: the set opens again after its rebuild, the
// counters taken again from the areas it owns.
TEST_F(RblMemberTest, MembersNotClosedCleanlyAreRepairedInTheirHost) {
    for (Kind kind : {Kind::Fixed, Kind::Variable}) {
        SCOPED_TRACE(kind_name(kind));
        HostSet s(std::string("m") + kind_name(kind), kind);
        make(s, 60);
        for (uint64_t h : s.headers) zvtest::write_bytes(s.host, h + 56, std::string(1, '\xFF'));
        zvtest::put_le32(s.host, s.headers[0] + 24, 0);
        if (!s.set.variable()) zvtest::put_le32(s.host, s.headers[0] + 4, 0);
        s.set.ifil.tfilno = -1;
        EXPECT_EQ(OPNIFIL(&s.set.ifil), 14);
        CLSFIL(chkopnx(s.host.c_str()), 0);
        ASSERT_EQ(s.set.rebuild(), 0) << status_log();
        expect_whole(s);
    }
}

// A host whose directory was not closed cleanly (and lost its root): the
// set rebuild refuses it and changes nothing; the superfile rebuild makes
// the directory whole again, and the set rebuild then completes.
TEST_F(RblMemberTest, AHostNotClosedCleanlyIsLeftToTheSuperfileRebuild) {
    HostSet s("d", Kind::Fixed);
    make(s, 30);
    const uint64_t dir = zvtest::get_le32("d", 84);
    zvtest::write_bytes("d", dir + 56, std::string(1, '\xFF'));
    zvtest::put_le32("d", dir + 28, 0);
    const std::string before = zvtest::read_file("d");
    EXPECT_EQ(OPNFIL(1, "d", 0), 14);
    EXPECT_EQ(s.set.rebuild(), 14);
    EXPECT_LT(chkopnx("d"), 0);
    EXPECT_EQ(zvtest::read_file("d"), before);
    ASSERT_EQ(ZVSBLDX("d", nullptr), 0) << status_log();
    ASSERT_EQ(OPNFIL(1, "d", 0), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(s.set.rebuild(), 0) << status_log();
    expect_whole(s);
}

}  // namespace

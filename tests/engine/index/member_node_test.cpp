// Where the nodes of superfile member indexes lie in their host: each new
// node, with the host's area header in front of it, is one page of the host
// on a page boundary; nodes that earlier engines placed on multiples of the
// node size still serve; a node off both spacings is reported by the
// verification. Pages of 4096 bytes; a member's node is 4078 bytes (4074
// with 8-byte offsets).
#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/core/arith.h"
#include "engine/core/bytes.h"
#include "engine/core/centralio.h"
#include "engine/core/highword.h"
#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/files/growth.h"
#include "tests/engine/index/idxfix.h"
#include "tests/support/damage.h"
#include "zarvo/zarvo.h"

namespace {

using namespace idxtest;

constexpr uint32_t kPage = 4096;

class MemberNodeTest : public IndexTest {
protected:
    void SetUp() override {
        IndexTest::SetUp();
        restart(64, int(kPage / 128));
    }
    // Creates host "h" on 1 (its directory on 2), with create-block mode
    // `hostmode` (0: none).
    static void make_host(uint32_t hostmode) {
        XCREblk hx{};
        hx.mode = hostmode;
        ASSERT_EQ(CREDATX8(1, "h", 0, 0, 0x200, 0, nullptr, nullptr, hostmode ? &hx : nullptr), 0);
    }
    // Last byte used of the host on file number 1.
    static uint64_t host_used() {
        const FCB *h = fcb_of(1);
        return zv::join64(h->hdr.ext.numrech, h->hdr.base.numrec);
    }
    // Nodes of an open index after a verification with every check, which
    // must find it sound with each node on a boundary it accepts.
    static int32_t verified_nodes(int filno) {
        VERIFYIDXOPT opt{1, 15, 15, 0, [](const char *) { return 0; }, nullptr};
        VERIFYIDXRES res{};
        EXPECT_EQ(zvVERIFYidx(filno, &opt, &res), 0) << "index " << filno;
        EXPECT_EQ(res.badnodes + res.badlinks + res.emptynodes + res.misalignednodes, 0) << "index " << filno;
        int32_t nodes = 0;
        for (int32_t n : res.levelnodes) nodes += n;
        return nodes;
    }
    static std::string key8(uint32_t v) {
        char k[9];
        snprintf(k, sizeof k, "%08u", v);
        return std::string(k, 8);
    }
    static std::vector<uint32_t> shuffled(uint32_t from, uint32_t to, unsigned seed) {
        std::vector<uint32_t> v;
        for (uint32_t i = from; i < to; i++) v.push_back(i);
        std::shuffle(v.begin(), v.end(), std::mt19937(seed));
        return v;
    }
};

// A member index of N nodes grows its host by N pages (one more at most for
// the boundary of the first), with 4- and 8-byte offsets and for an index
// member of a member index; then, with records of a data member of the same
// host written between the nodes through the data cache, every node and
// record reads back, also after the host is opened anew.
TEST_F(MemberNodeTest, EachNodeFillsOnePageOfTheHost) {
    const struct {
        const char *what;
        uint32_t hostmode;
        bool second;  // the index has an index member (file number 5)
        uint32_t wrap;
    } cases[] = {
        {"4-byte offsets", 0, false, 18},
        {"8-byte offsets", 0x42, false, 22},
        {"index member of a member index", 0, true, 18},
    };
    constexpr uint32_t kKeys = 12000;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        make_host(c.hostmode);
        ASSERT_EQ(CREDAT(3, "h!var", 16, 0, 0x04), 0);
        ASSERT_EQ(CREIDX(4, "h!ix", 8, 0, 0, c.second ? 1 : 0, 0, 0), 0);
        if (c.second) {
            ASSERT_EQ(CREMEM(4, 10, 0, 0, 1), 0);
        }
        ASSERT_EQ(fcb_of(4)->nodesize + c.wrap, kPage);
        std::vector<int> indexes{4};
        if (c.second) indexes.push_back(5);
        auto add_keys = [&](uint32_t from, uint32_t to, unsigned seed, const std::function<void(uint32_t)> &between) {
            for (uint32_t v : shuffled(from, to, seed)) {
                ASSERT_EQ(ADDKEY(4, key8(v).data(), v + 1, 0), 0) << v;
                if (c.second) {
                    ASSERT_EQ(ADDKEY(5, (key8(v) + "zz").data(), v + 1, 0), 0) << v;
                }
                between(v);
            }
        };

        const uint64_t before = host_used();
        add_keys(0, kKeys, 7, [](uint32_t) {});
        int32_t nodes = 0;
        for (int filno : indexes) nodes += verified_nodes(filno);
        const uint64_t grown = host_used() - before;
        EXPECT_GE(grown, uint64_t(nodes) * kPage);
        EXPECT_LE(grown, uint64_t(nodes + 1) * kPage + c.wrap) << nodes << " nodes";

        // Records between the nodes: areas of the data member end where the
        // next node's page has not begun.
        std::vector<std::pair<uint64_t, std::string>> records;
        add_keys(kKeys, 2 * kKeys, 8, [&](uint32_t v) {
            if (v % 97) return;
            std::string rec = "record " + std::to_string(v) + std::string(v % 500, char('a' + v % 26));
            zvSETHGH(0);
            uint32_t lo = NEWVREC(3, int32_t(rec.size()));
            uint64_t pos = zv::join64(uint32_t(zvGETHGH()), lo);
            ASSERT_NE(pos, 0u) << zvGetUserErrorCode();
            zvSETHGH(int32_t(pos >> 32));
            ASSERT_EQ(WRTVREC(3, lo, rec.data(), uint32_t(rec.size())), 0);
            records.emplace_back(pos, rec);
        });
        ASSERT_GT(records.size(), 100u);
        auto all_read_back = [&] {
            for (int filno : indexes) EXPECT_GT(verified_nodes(filno), nodes);
            for (uint32_t v = 0; v < 2 * kKeys; v++) {
                ASSERT_EQ(EQLKEY(4, key8(v).data()), v + 1) << v;
                if (c.second) {
                    ASSERT_EQ(EQLKEY(5, (key8(v) + "zz").data()), v + 1) << v;
                }
            }
            for (const auto &[pos, rec] : records) {
                std::string buf(rec.size(), '\0');
                zvSETHGH(int32_t(pos >> 32));
                ASSERT_EQ(RDVREC(3, uint32_t(pos), buf.data(), int32_t(buf.size())), 0) << pos;
                EXPECT_EQ(buf, rec);
            }
        };
        all_read_back();
        ASSERT_EQ(CLSFIL(3, 0), 0);
        ASSERT_EQ(CLSFIL(4, 0), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        ASSERT_EQ(OPNFIL(1, "h", 0), 0);
        ASSERT_EQ(OPNFIL(3, "h!var", 0), 0);
        ASSERT_EQ(OPNFIL(4, "h!ix", 0), 0);
        all_read_back();
        ASSERT_EQ(CLSFIL(3, 0), 0);
        ASSERT_EQ(CLSFIL(4, 0), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        ASSERT_EQ(remove("h"), 0);
    }
}

// A host whose member index has nodes where earlier engines put them, on
// multiples of the node size (each such node took two pages of the host),
// keeps working: the index takes those nodes into its tree, grows with new
// nodes a page each, verifies sound, gives nodes back and takes them again,
// and reads every key after the host is opened anew.
TEST_F(MemberNodeTest, NodesAtTheEarlierSpacingKeepWorking) {
    const struct {
        const char *what;
        uint32_t hostmode;
        uint32_t wrap;
    } cases[] = {{"4-byte offsets", 0, 18}, {"8-byte offsets", 0x42, 22}};
    constexpr int kEarlier = 40;  // nodes at the earlier spacing
    constexpr uint32_t kKeys = 15000;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        make_host(c.hostmode);
        ASSERT_EQ(CREIDX(3, "h!ix", 8, 0, 0, 0, 0, 0), 0);
        FCB *f = fcb_of(3);
        const uint32_t node = f->nodesize;
        const bool wide = c.hostmode & 0x40;
        ASSERT_EQ(ADDKEY(3, key8(0).data(), 1, 0), 0);
        // Nodes placed as earlier engines placed them: the host grown by a
        // node and its area header on a multiple of the node size, the area
        // header of an in-use area in front, each node on the index's stack
        // of deleted nodes so that the index takes them before new ones.
        for (int i = 0; i < kEarlier; i++) {
            zvSETHGHi(0);
            const uint32_t lo = extfil(f, node + c.wrap, node, 1);
            const uint64_t area = zv::join64(uint32_t(zvGETHGHi()), lo);
            ASSERT_NE(area, 0u);
            ASSERT_EQ(area % node, 0u);
            const uint64_t pos = area + c.wrap;
            std::vector<unsigned char> img(node + c.wrap, 0);
            zv::le::put16(img.data(), 0xFAFA);
            zv::le::put32(img.data() + 2, node + c.wrap);
            zv::le::put32(img.data() + 10, f->hdr.base.supmbr);
            unsigned char *h = img.data() + c.wrap;
            zv::le::put32(h, f->hdr.base.delstk);  // successor: the stack below
            zv::le::put32(h + 4, 0xFFFFFFFFu);      // predecessor all ones: deleted
            h[16] = uint8_t(f->hdr.base.kmem);
            if (wide) {
                zv::le::put32(h + 20, f->hdr.ext.delstkh);
                zv::le::put32(h + 24, 0xFFFFFFFFu);
            }
            ASSERT_EQ(izvio81x(0x11, f, uint32_t(area >> 32), lo, img.data(), int32_t(img.size()), nullptr, 0), 0);
            f->hdr.base.delstk = uint32_t(pos);
            if (wide) f->hdr.ext.delstkh = uint32_t(pos >> 32);
        }
        ASSERT_EQ(CLSFIL(3, 0), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);

        ASSERT_EQ(OPNFIL(1, "h", 0), 0);
        ASSERT_EQ(OPNFIL(3, "h!ix", 0), 0);
        f = fcb_of(3);
        EXPECT_NE(f->hdr.base.delstk, 0u);
        const uint64_t before = host_used();
        for (uint32_t v : shuffled(1, kKeys, 9)) ASSERT_EQ(ADDKEY(3, key8(v).data(), v + 1, 0), 0) << v;
        EXPECT_EQ(f->hdr.base.delstk, 0u) << "every node at the earlier spacing is in the tree";
        const int32_t nodes = verified_nodes(3);
        ASSERT_GT(nodes, kEarlier + 20);
        const uint64_t fresh = uint64_t(nodes - 1 - kEarlier);  // the first leaf came with the index
        EXPECT_GE(host_used() - before, fresh * kPage);
        EXPECT_LE(host_used() - before, (fresh + 1) * kPage + c.wrap);

        // Emptied leaves go back on the stack and are taken again.
        for (uint32_t v = 2000; v < 8000; v++) ASSERT_EQ(DELCHK(3, key8(v).data(), v + 1), 0) << v;
        EXPECT_NE(f->hdr.base.delstk, 0u);
        verified_nodes(3);
        for (uint32_t v : shuffled(2000, 8000, 10)) ASSERT_EQ(ADDKEY(3, key8(v).data(), v + 1, 0), 0) << v;
        ASSERT_EQ(CLSFIL(3, 0), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        ASSERT_EQ(OPNFIL(1, "h", 0), 0);
        ASSERT_EQ(OPNFIL(3, "h!ix", 0), 0);
        verified_nodes(3);
        for (uint32_t v = 0; v < kKeys; v++) ASSERT_EQ(EQLKEY(3, key8(v).data()), v + 1) << v;
        ASSERT_EQ(CLSFIL(3, 0), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        ASSERT_EQ(remove("h"), 0);
    }
}

// A member node on neither spacing, a page-aligned one nor the node-size
// one of earlier hosts, is reported misaligned.
TEST_F(MemberNodeTest, ANodeOffEverySpacingIsReportedMisaligned) {
    make_host(0);
    ASSERT_EQ(CREIDX(3, "h!ix", 8, 0, 0, 0, 0, 0), 0);
    for (uint32_t v : shuffled(0, 3000, 4)) ASSERT_EQ(ADDKEY(3, key8(v).data(), v + 1, 0), 0) << v;
    const uint64_t hdr = fcb_of(3)->hposl;
    const uint32_t node = fcb_of(3)->nodesize;
    ASSERT_EQ(CLSFIL(3, 0), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    // The root's first child, copied with its area header to a place off
    // both spacings past the host's end, and the root pointed at the copy.
    const uint32_t root = zvtest::get_le32("h", hdr + 28);
    const uint32_t child = zvtest::get_le32("h", root + 18);
    const uint64_t moved = (zvtest::file_size("h") + kPage - 1) / kPage * kPage + 100 + 18;
    ASSERT_NE((moved - 18) % node, 0u);
    ASSERT_NE((moved - 18) % kPage, 0u);
    zvtest::write_bytes("h", moved - 18, zvtest::read_bytes("h", child - 18, kPage));
    zvtest::put_le32("h", root + 18, uint32_t(moved));

    ASSERT_EQ(OPNFIL(3, "h!ix", 0), 0);
    VERIFYIDXOPT opt{1, 2, 15, 0, [](const char *) { return 0; }, nullptr};
    VERIFYIDXRES res{};
    EXPECT_EQ(zvVERIFYidx(3, &opt, &res), 601);
    EXPECT_EQ(res.misalignednodes, 1);
}

}  // namespace

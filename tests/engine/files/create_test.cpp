// Creation: refusals, memory files, create blocks, growth steps, and the
// leaf geometry of indexes that reserve room for control fields.
#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "engine/files/create.h"
#include "engine/files/fcbops.h"
#include "tests/engine/files/files_util.h"

namespace {

using filestest::Bytes;
using filestest::file_bytes;
using filestest::le16;
using filestest::patch;
using filestest::slice;

class CreateTest : public filestest::FilesTest {};

bool exists(const char *path) { return access(path, F_OK) == 0; }

XCREblk block(uint32_t mode) {
    XCREblk x{};
    x.mode = mode;
    return x;
}

TEST_F(CreateTest, RefusalsLeaveNothingBehind) {
    ASSERT_EQ(CREDATX8(9, "busy.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    XCREblk wide = block(0x40);
    XCREblk conflict = block(0x10002);
    struct Case {
        const char *what;
        int code;
        std::function<int()> call;
        const char *file;  // must not exist afterwards
    };
    const Case cases[] = {
        {"record length 4", 21, [] { return CREDATX8(1, "r4.dat", 4, 0, 0x800, 0, nullptr, nullptr, nullptr); }, "r4.dat"},
        {"record length 8, 8-byte offsets", 21,
         [&] { return CREDATX8(1, "r8.dat", 8, 0, 0x800, 0, nullptr, nullptr, &wide); }, "r8.dat"},
        {"key length 1025", 45, [] { return CREIDX(1, "k.idx", 1025, 0, 0, 0, 0, 0); }, "k.idx"},
        {"key length 400, 1024-byte nodes", 20, [] { return CREIDX(1, "n.idx", 400, 0, 0, 0, 0, 0); }, "n.idx"},
        {"duplicate flag 6", 115, [] { return CREIDX(1, "d6.idx", 10, 0, 6, 0, 0, 0); }, "d6.idx"},
        {"duplicate flag 3, standard header", 115,
         [] { return CREIDXX8(1, "d3.idx", 10, 0, 3, 0, 0, 0, 0, nullptr, nullptr, nullptr); }, "d3.idx"},
        {"128 members", 23, [] { return CREIDX(1, "m.idx", 10, 0, 0, 128, 0, 0); }, "m.idx"},
        {"standard header with extended features", 669,
         [&] { return CREDATX8(1, "c.dat", 100, 0, 0, 0, nullptr, nullptr, &conflict); }, "c.dat"},
        {"empty name", 130, [] { return CREDAT(1, "", 100, 0, 0); }, nullptr},
        {"no name", 130, [] { return CREIDX(1, nullptr, 10, 0, 0, 0, 0, 0); }, nullptr},
        {"data number in use", 46, [] { return CREDAT(9, "u.dat", 100, 0, 0); }, "u.dat"},
        {"index member number in use", 46, [] { return CREIDX(8, "u.idx", 10, 0, 0, 1, 0, 0); }, "u.idx"},
        {"negative number", 22, [] { return CREDAT(-1, "neg.dat", 100, 0, 0); }, "neg.dat"},
        {"superfile member of a host that does not exist", 413, [] { return CREDAT(1, "h.dat!m", 100, 0, 0); },
         "h.dat"},
        {"superfile host as a member", 414, [] { return CREDAT(1, "h.dat!m", 100, 0, 0x200); }, "h.dat"},
        {"superfile host index", 454, [] { return CREIDX(1, "hx.idx", 10, 0, 0, 0, 0, 0x200); }, "hx.idx"},
    };
    int fds = filestest::open_descriptors();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.call(), c.code);
        EXPECT_EQ(zvGetUserErrorCode(), c.code);
        if (c.file) {
            EXPECT_FALSE(exists(c.file));
        }
        EXPECT_TRUE(!fcb(1) || fcb(1)->state == 'n');
    }
    EXPECT_EQ(filestest::open_descriptors(), fds);
    EXPECT_EQ(fcb(9)->state, 'y');
}

TEST_F(CreateTest, SmallestRecordLengthsAreAccepted) {
    XCREblk wide = block(0x40);
    EXPECT_EQ(CREDATX8(1, "r5.dat", 5, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(CREDATX8(2, "r9.dat", 9, 0, 0x800, 0, nullptr, nullptr, &wide), 0);
    EXPECT_EQ(CLSFIL(1, 0), 0);
    EXPECT_EQ(CLSFIL(2, 0), 0);
}

TEST_F(CreateTest, ExistingFileStaysByteIdentical) {
    for (bool index : {false, true}) {
        SCOPED_TRACE(index ? "index" : "data");
        const char *name = index ? "old.idx" : "old.dat";
        Bytes content(3000);
        for (size_t i = 0; i < content.size(); i++) content[i] = uint8_t(i * 7);
        filestest::put_file(name, content);
        int rc = index ? CREIDX(1, name, 10, 0, 0, 0, 0, 0) : CREDAT(1, name, 100, 0, 0);
        EXPECT_EQ(rc, index ? 18 : 19);
        EXPECT_EQ(file_bytes(name), content);
        EXPECT_EQ(fcb(1)->state, 'n');
    }
}

TEST_F(CreateTest, MemoryFileMakesNoFileOnDisk) {
    XCREblk mem = block(0x80000000u);
    mem.maxsizelo = 1 << 20;
    int fds = filestest::open_descriptors();
    ASSERT_EQ(CREDATX8(1, "mem.dat", 100, 0, 0, 0, nullptr, nullptr, &mem), 0);
    EXPECT_FALSE(exists("mem.dat"));
    EXPECT_EQ(fcb(1)->fd, -2);
    EXPECT_EQ(fcb(1)->nmembuckets, (1u << 20) / 200);
    EXPECT_EQ(g()->ringfront, nullptr);
    EXPECT_EQ(filestest::open_descriptors(), fds);
    EXPECT_EQ(CLSFIL(1, 0), 0);
    EXPECT_FALSE(exists("mem.dat"));

    struct Case {
        const char *what;
        uint16_t mode;
        uint32_t size;
        int code;
    };
    for (Case c : {Case{"superfile host", 0x200, 1 << 20, 749}, Case{"size 0", 0, 0, 749},
                   Case{"below record length + 100", 0, 199, 667}}) {
        SCOPED_TRACE(c.what);
        XCREblk x = block(0x80000000u);
        x.maxsizelo = c.size;
        EXPECT_EQ(CREDATX8(1, "mem.dat", 100, 0, c.mode, 0, nullptr, nullptr, &x), c.code);
        EXPECT_EQ(fcb(1)->state, 'n');
    }
    XCREblk idx = block(0x80000000u);
    idx.maxsizelo = 1 << 20;
    ASSERT_EQ(CREIDXX8(1, "mem.idx", 10, 0, 0, 0, 0, 0, 0, nullptr, nullptr, &idx), 0);
    EXPECT_EQ(fcb(1)->nmembuckets, (1u << 20) / (1024 + 1232));
    EXPECT_FALSE(exists("mem.idx"));
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(CreateTest, CallerBlockIsOnlyRead) {
    XCREblk mine = block(0x02);
    mine.flags = 0x8F0;  // bits creation drops from its own copy
    mine.option9 = 77;
    XCREblk copy;
    memcpy(&copy, &mine, sizeof copy);
    ASSERT_EQ(CREDATX8(1, "a.dat", 100, 0, 0x800, 0, nullptr, nullptr, &mine), 0);
    EXPECT_EQ(memcmp(&copy, &mine, sizeof copy), 0);
    EXPECT_EQ(fcb(1)->hdr.ext.crew9, 77u);
    EXPECT_EQ(fcb(1)->hdr.ext.flmode3, 0u);
    ASSERT_EQ(CREDATX8(2, "b.dat", 100, 0, 0x800, 0, nullptr, nullptr, ZV_XCRE_DEFAULT), 0);
    ASSERT_EQ(CREDATX8(3, "c.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(fcb(2)->hdr.base.verson, 0x91);
    EXPECT_EQ(fcb(3)->hdr.base.verson, 0x81);
    for (int n : {1, 2, 3}) EXPECT_EQ(CLSFIL(n, 0), 0);
}

TEST_F(CreateTest, OptionWordsComeBackThroughGetxcreblk) {
    XCREblk x = block(0x02);
    x.firstext = 1000;   // raised to 65536
    x.extsize = 200000;
    x.option7 = 7;
    x.option14 = 14;
    ASSERT_EQ(CREDATX8(1, "o.dat", 100, 0, 0x800, 0, nullptr, nullptr, &x), 0);
    XCREblk out;
    ASSERT_EQ(GETXCREBLK(1, &out), 0);
    EXPECT_EQ(out.firstext, 65536u);
    EXPECT_EQ(out.extsize, 200000u);
    EXPECT_EQ(out.option7, 7u);
    EXPECT_EQ(out.option14, 14u);
    EXPECT_EQ(out.nsegs, 1u);
    EXPECT_EQ(out.mode & 0x160002u, 0x160002u);  // extended, 32-bit step, first extent, word 7
    EXPECT_EQ(GETXCREBLK(1, nullptr), 540);
    EXPECT_EQ(fcb(1)->hdr.base.extsiz, 0);  // the 32-bit step is used
    EXPECT_EQ(CLSFIL(1, 0), 0);
}

TEST_F(CreateTest, GrowthStepIsKeptInSixteenBits) {
    struct Case {
        uint32_t given;
        uint16_t mode;
        uint16_t stored;
    };
    int n = 1;
    for (Case c : {Case{100000, 0x800, 65535}, Case{65536, 0x800, 65535}, Case{4096, 0x800, 4096},
                   Case{0, 0x820, 16384}, Case{100000, 0x820, 65535}}) {
        SCOPED_TRACE(c.given);
        std::string name = "g" + std::to_string(n) + ".dat";
        ASSERT_EQ(CREDATX8(n, name.c_str(), 100, c.given, c.mode, 0, nullptr, nullptr, nullptr), 0);
        EXPECT_EQ(fcb(n)->hdr.base.extsiz, c.stored);
        ASSERT_EQ(CLSFIL(n, 0), 0);
        EXPECT_EQ(le16(file_bytes(name), 46), c.stored);
        n++;
    }
}

TEST_F(CreateTest, MissingDirectoriesAreMadeOnRequest) {
    EXPECT_EQ(CREDAT(1, "a/b/c.dat", 100, 0, 0x800), 17);
    XCREblk x = block(0x02);
    x.flags = 0x1000;
    ASSERT_EQ(CREDATX8(1, "a/b/c.dat", 100, 0, 0x800, 0, nullptr, nullptr, &x), 0);
    EXPECT_TRUE(exists("a/b/c.dat"));
    EXPECT_EQ(CLSFIL(1, 0), 0);
    EXPECT_EQ(zvCreateDirs("p/q/r/file", 0), 0);
    struct stat st;
    ASSERT_EQ(stat("p/q/r", &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_FALSE(exists("p/q/r/file"));
    EXPECT_EQ(zvCreateDirs(std::string(300, 'x').c_str(), 0), 749);
}

// A data file or an index made with file mode 0x10 or 0x20 carries header
// flags 0x400 or 0x200 and opens again for update: the open refuses a
// permanent mode with 0x10 or 0x20 without them. Files whose mode keeps
// 0x10 (an index made with 0x20 gains it) are changed only while the
// rebuild flag is on.
TEST_F(CreateTest, FilesMadeForAMemberKindOpenAgain) {
    struct Case {
        const char *what;
        const char *name;
        uint16_t mode;
        uint16_t flags;  // header flags +98, of the group 0x600
        bool rebuild;
    } cases[] = {
        {"data file, mode 0x20", "d20.dat", 0x20, 0x200, false},
        {"data file, mode 0x10", "d10.dat", 0x10, 0x400, true},
        {"index, mode 0x10", "i10.idx", 0x10, 0x400, true},
        {"index, mode 0x20", "i20.idx", 0x20, 0x200, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const bool index = strstr(c.name, ".idx");
        unsigned char rec[100];
        memset(rec, 'r', sizeof rec);
        g()->rebuilding = c.rebuild;
        uint32_t pos = 77;
        if (index) {
            ASSERT_EQ(CREIDX(1, c.name, 8, 0, 0, 0, 0, c.mode), 0);
            ASSERT_EQ(ADDKEY(1, "key00001", pos, 0), 0);
        } else {
            ASSERT_EQ(CREDAT(1, c.name, 100, 0, c.mode), 0);
            pos = NEWREC(1);
            ASSERT_NE(pos, 0u) << zvGetUserErrorCode();
            ASSERT_EQ(WRTREC(1, pos, rec), 0);
        }
        ASSERT_EQ(CLSFIL(1, 0), 0);
        g()->rebuilding = 0;
        EXPECT_EQ(le16(file_bytes(c.name), 98) & 0x600, c.flags);
        ASSERT_EQ(OPNFIL(1, c.name, 0), 0);
        if (index) {
            EXPECT_EQ(EQLKEY(1, "key00001"), pos);
        } else {
            unsigned char back[100] = {};
            ASSERT_EQ(REDREC(1, pos, back), 0);
            EXPECT_EQ(memcmp(back, rec, sizeof rec), 0);
        }
        ASSERT_EQ(CLSFIL(1, 0), 0);
    }
}

TEST_F(CreateTest, MemberDefinitionChecks) {
    ASSERT_EQ(CREIDX(1, "i.idx", 10, 0, 0, 2, 0, 0), 0);
    ASSERT_EQ(CREDATX8(5, "d.dat", 100, 0, 0x800, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(CREMEM(5, 10, 0, 0, 1), 48);
    EXPECT_EQ(CREMEM(1, 10, 0, 0, 0), 23);
    EXPECT_EQ(CREMEM(1, 10, 0, 0, 3), 23);
    EXPECT_EQ(CREMEM(1, 10, 0, 6, 1), 115);
    EXPECT_EQ(CREMEMX(1, 10, 0, 0, 1, 3), 46);
    EXPECT_EQ(CREMEM(1, 2000, 0, 0, 1), 45);
    EXPECT_EQ(fcb(2)->state, 'm');
    EXPECT_EQ(OPNFIL(2, "other.dat", 0), 46);
    ASSERT_EQ(CREMEM(1, 10, 0, 0, 1), 0);
    EXPECT_EQ(fcb(2)->state, 'y');
    EXPECT_EQ(CREMEM(1, 10, 0, 0, 1), 46);
    EXPECT_EQ(CLSFIL(2, 0), 23);
    EXPECT_EQ(CLSFIL(1, 0), 0);
    EXPECT_EQ(fcb(2)->state, 'n');
    EXPECT_EQ(fcb(3)->state, 'n');
    EXPECT_EQ(CLSFIL(5, 0), 0);
}

// Indexes whose leaves keep a control field per element behind their high
// key: superfile member indexes, and plain indexes made with file mode 0x10
// or header flags 0x400. Pages of 4096 bytes; a member's node is the page
// less the host's 18-byte area header (22 with 8-byte offsets).
class LeafReserveTest : public filestest::FilesTest {
protected:
    static constexpr int32_t kPage = 4096;
    void SetUp() override {
        FilesTest::SetUp();
        zvtest::stop_engine();
        ASSERT_EQ(zvtest::start_engine(64, 40, kPage / 128, 16), 0);
    }
    // The 128 header bytes stored at `pos` of `file` (a closed file).
    static Bytes stored_header(const char *file, uint32_t pos) { return slice(file_bytes(file), pos, 128); }
    // Bytes per control field: 6 with the configuration-version variant
    // (version 0x00A1), else 4.
    static int32_t field_width(const Bytes &hdr) { return le16(hdr, 40) == 0x00A1 ? 6 : 4; }
    // Leaves on the lowest level of an open index, after a verification
    // with every check (which must find it sound).
    static int32_t verified_leaves(int filno) {
        VERIFYIDXOPT opt{1, 1 | 2 | 4 | 8, 15, 0, [](const char *) { return 0; }, nullptr};
        VERIFYIDXRES res{};
        EXPECT_EQ(zvVERIFYidx(filno, &opt, &res), 0) << "index " << filno;
        EXPECT_EQ(res.badnodes + res.badlinks + res.emptynodes + res.misalignednodes, 0) << "index " << filno;
        int32_t leaves = 0;
        for (int32_t n : res.levelnodes) {
            if (n == 0) break;
            leaves = n;
        }
        return leaves;
    }
    // The values 0 .. n - 1 in an order drawn from seed.
    static std::vector<uint32_t> shuffled(uint32_t n, unsigned seed) {
        std::vector<uint32_t> order(n);
        for (uint32_t i = 0; i < n; i++) order[i] = i;
        std::shuffle(order.begin(), order.end(), std::mt19937(seed));
        return order;
    }
    static std::string key8(uint32_t v) {
        char k[12];  // room for any 32-bit value; the key is its last eight digits
        snprintf(k, sizeof k, "%08u", v % 100000000u);
        return std::string(k, 8);
    }
};

// The stored geometry of a reserved leaf: the fields behind the high key
// fit the node, the element limit (+94) covers every element of a full
// leaf, and the leaf keeps all but one of the elements that the node could
// hold with one field each.
TEST_F(LeafReserveTest, ControlFieldsCoverAFullLeaf) {
    struct Case {
        const char *what;
        const char *host;   // superfile host, or null for a plain index
        uint32_t hostmode;  // create-block word 0 of the host (0: defaults)
        const char *name;
        uint16_t mode;      // file mode of the index
        uint32_t xmode;     // create-block word 0 of a plain index (0: defaults)
        int32_t key;
        int ktype, dup;
        bool second;        // check an index member of the index, made by CREMEM
        int32_t per;        // expected bytes per control field
    } cases[] = {
        {"member", "h", 0, "h!a", 0, 0, 8, 0, 0, false, 4},
        {"member with duplicates", "h", 0, "h!b", 0, 0, 12, 0, 1, false, 4},
        {"member with compressed keys", "h", 0, "h!c", 0, 0, 32, 12, 0, false, 4},
        {"member with the longest key", "h", 0, "h!d", 0, 0, 1024, 0, 0, false, 4},
        {"member with 8-byte offsets", "w", 0x42, "w!a", 0, 0, 8, 0, 0, false, 4},
        {"member of a host made for mode-0x10 members", "r", 0x402, "r!a", 0, 0, 8, 0, 0, false, 6},
        {"member of a host made for mode-0x20 members", "s", 0x202, "s!a", 0, 0, 8, 0, 0, false, 6},
        {"index member of a member", "h", 0, "h!e", 0, 0, 10, 0, 0, true, 4},
        {"plain index, mode 0x10", nullptr, 0, "m10.idx", 0x10, 0, 8, 0, 0, false, 4},
        {"plain index, mode 0x20", nullptr, 0, "m20.idx", 0x20, 0, 8, 0, 0, false, 4},
        {"plain index, header flags 0x400", nullptr, 0, "f400.idx", 0, 0x402, 8, 0, 0, false, 6},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const bool wide = c.hostmode & 0x40;
        const int32_t ptr = wide ? 8 : 4, hs = wide ? 28 : 18;
        const int32_t node = c.host ? kPage - (wide ? 22 : 18) : kPage;
        if (c.host) {
            XCREblk hx{};
            hx.mode = c.hostmode;
            ASSERT_EQ(CREDATX8(1, c.host, 0, 0, 0x200, 0, nullptr, nullptr, c.hostmode ? &hx : nullptr), 0);
        }
        XCREblk ix{};
        ix.mode = c.xmode;
        if (c.second) {
            ASSERT_EQ(CREIDXX8(3, c.name, 10, 0, 0, 1, 0, c.mode, 0, nullptr, nullptr, c.xmode ? &ix : nullptr), 0);
        } else {
            ASSERT_EQ(CREIDXX8(3, c.name, c.key, c.ktype, c.dup, 0, 0, c.mode, 0, nullptr, nullptr,
                               c.xmode ? &ix : nullptr),
                      0);
        }
        int filno = 3;
        if (c.second) {
            ASSERT_EQ(CREMEM(3, c.key, c.ktype, c.dup, 1), 0);
            filno = 4;
        }
        const uint32_t pos = fcb(filno)->hposl;
        const int32_t limit = fcb(filno)->elmlimit, leafcap = fcb(filno)->leafcap;
        ASSERT_EQ(CLSFIL(3, 0), 0);
        if (c.host) {
            ASSERT_EQ(CLSFIL(1, 0), 0);
        }
        const Bytes hdr = stored_header(c.host ? c.host : c.name, pos);
        const int32_t maxkbl = le16(hdr, 52), stored = le16(hdr, 94);
        EXPECT_EQ(le16(hdr, 42), node);
        EXPECT_EQ(field_width(hdr), c.per);
        EXPECT_EQ(limit, stored) << "the open index takes the stored limit as it is";
        EXPECT_EQ(leafcap, maxkbl);
        // The widest element: the key with its count bytes, and the
        // position in front of it unless the key carries it.
        const int32_t eff = c.key + ((c.ktype & 4) ? 1 : 0) + ((c.ktype & 8) ? 1 : 0);
        const int32_t elem = c.dup == 1 ? eff : eff + ptr;
        EXPECT_NE(stored, node / 4) << "leaves reserve room";
        EXPECT_LE(maxkbl + c.key + stored * c.per, node - hs) << "fields behind the high key fit the node";
        EXPECT_GE(stored, maxkbl / elem) << "a full leaf has a field for every element";
        EXPECT_GE(maxkbl / elem, (node - hs - c.key) / (elem + c.per) - 1) << "more room given up than the fields need";
        ASSERT_EQ(remove(c.host ? c.host : c.name), 0);
    }
}

// A superfile host made with create-block mode 0x200 or 0x400 (for members
// that reserve leaf room) keeps the configuration-version variant in its
// stored header, and its member indexes follow it with 6-byte control
// fields, whether made in the session that made the host or in a later one;
// a host that declines the variant or is made for no such members has
// members with 4-byte fields.
TEST_F(LeafReserveTest, HostsForReservingMembersKeepTheVersionVariant) {
    const struct {
        uint32_t hostmode;
        bool variant;
    } cases[] = {{0x402, true}, {0x202, true}, {0x602, true}, {0x40000402, false}, {0x02, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.hostmode);
        XCREblk hx{};
        hx.mode = c.hostmode;
        ASSERT_EQ(CREDATX8(1, "h", 0, 0, 0x200, 0, nullptr, nullptr, &hx), 0);
        ASSERT_EQ(CREIDX(3, "h!first", 8, 0, 0, 0, 0, 0), 0);
        const uint32_t first = fcb(3)->hposl;
        ASSERT_EQ(CLSFIL(3, 0), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        EXPECT_EQ(le16(stored_header("h", 0), 40), c.variant ? 0x00A1 : 0x0091);
        ASSERT_EQ(OPNFIL(1, "h", 0), 0);
        ASSERT_EQ(CREIDX(3, "h!later", 8, 0, 0, 0, 0, 0), 0);
        const uint32_t later = fcb(3)->hposl;
        ASSERT_EQ(CLSFIL(3, 0), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        EXPECT_EQ(field_width(stored_header("h", first)), c.variant ? 6 : 4);
        EXPECT_EQ(field_width(stored_header("h", later)), c.variant ? 6 : 4);
        ASSERT_EQ(remove("h"), 0);
    }
}

// A host made for such members by earlier engines, whose stored header has
// no variant (as its directory's has none), keeps it: a member index made
// in it now has 4-byte control fields, takes keys, verifies sound and reads
// every key after the host is opened anew.
TEST_F(LeafReserveTest, EarlierHostWithoutTheVariantKeepsItsMembersFieldWidth) {
    XCREblk hx{};
    hx.mode = 0x402;
    ASSERT_EQ(CREDATX8(1, "h", 0, 0, 0x200, 0, nullptr, nullptr, &hx), 0);
    const uint32_t dir = fcb(2)->hposl;
    ASSERT_EQ(CLSFIL(1, 0), 0);
    // Version (+40) and the variant bit of flmode2 (+179, bit 5) as earlier
    // engines stored them, in the host's header and in its directory's.
    for (uint32_t pos : {0u, dir}) {
        const Bytes hdr = slice(file_bytes("h"), pos, 256);
        ASSERT_EQ(le16(hdr, 40), 0x00A1);
        ASSERT_EQ(hdr[179], 0x20);
        patch("h", pos + 40, {0x91, 0x00});
        patch("h", pos + 179, {0x00});
    }
    ASSERT_EQ(OPNFIL(1, "h", 0), 0);
    ASSERT_EQ(CREIDX(3, "h!ix", 8, 0, 0, 0, 0, 0), 0);
    const uint32_t pos = fcb(3)->hposl;
    constexpr uint32_t kKeys = 3000;
    const std::vector<uint32_t> order = shuffled(kKeys, 3);
    for (uint32_t v : order) ASSERT_EQ(ADDKEY(3, key8(v).data(), v + 1, 0), 0) << v;
    EXPECT_GT(verified_leaves(3), 1);
    ASSERT_EQ(CLSFIL(3, 0), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    EXPECT_EQ(le16(stored_header("h", 0), 40), 0x0091) << "the host keeps its version";
    EXPECT_EQ(field_width(stored_header("h", pos)), 4);
    ASSERT_EQ(OPNFIL(3, "h!ix", 0), 0);
    EXPECT_GT(verified_leaves(3), 1);
    for (uint32_t v = 0; v < kKeys; v++) ASSERT_EQ(EQLKEY(3, key8(v).data()), v + 1) << v;
}

// An index member made with file mode 0x10 or 0x20 keeps the
// configuration-version variant and reserves 6-byte control fields, also in
// a host that has no variant (one made with file mode 0x220, whose
// directory is such a member, or one that declined it); a member made
// without a kind follows its host. The leaves take keys, verify sound and
// read every key after the host is opened anew.
TEST_F(LeafReserveTest, IndexMembersMadeForAKindTakeTheVersionVariant) {
    struct Case {
        uint16_t hostfilmode;
        uint32_t hostblock;  // create-block word 0 of the host (0: defaults)
        uint16_t mode;       // file mode of the member index
        int32_t per, dirper;
    } cases[] = {
        {0x220, 0, 0x20, 6, 6},
        {0x220, 0, 0, 4, 6},
        {0x200, 0x40000202, 0x20, 6, 4},
        {0x200, 0x40000402, 0x10, 6, 4},
    };
    constexpr uint32_t kKeys = 3000;
    constexpr int32_t kKey = 8;
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.hostfilmode << " " << c.hostblock << " " << c.mode);
        XCREblk hx{};
        hx.mode = c.hostblock;
        ASSERT_EQ(CREDATX8(1, "h", 0, 0, c.hostfilmode, 0, nullptr, nullptr, c.hostblock ? &hx : ZV_XCRE_DEFAULT),
                  0);
        ASSERT_EQ(CREIDX(3, "h!ix", kKey, 0, 0, 0, 0, c.mode), 0);
        const uint32_t pos = fcb(3)->hposl, dir = fcb(2)->hposl;
        const std::vector<uint32_t> order = shuffled(kKeys, 7);
        for (uint32_t v : order) ASSERT_EQ(ADDKEY(3, key8(v).data(), v + 1, 0), 0) << v;
        EXPECT_GT(verified_leaves(3), 1);
        ASSERT_EQ(CLSFIL(3, 0), 0);
        ASSERT_EQ(CLSFIL(1, 0), 0);
        const Bytes hdr = stored_header("h", pos);
        EXPECT_EQ(field_width(hdr), c.per);
        EXPECT_EQ(field_width(stored_header("h", dir)), c.dirper);
        EXPECT_LE(le16(hdr, 52) + kKey + le16(hdr, 94) * c.per, kPage - 18 - 18) << "the fields fit the node";
        ASSERT_EQ(OPNFIL(3, "h!ix", 0), 0);
        EXPECT_GT(verified_leaves(3), 1);
        for (uint32_t v = 0; v < kKeys; v++) ASSERT_EQ(EQLKEY(3, key8(v).data()), v + 1) << v;
        ASSERT_EQ(CLSFIL(chkopnx("h"), 0), 0);
        ASSERT_EQ(remove("h"), 0);
    }
}

// A standard-header index keeps no feature flags on disk: one made with
// create-block mode 0x400 has the configuration-version variant, and 6-byte
// control fields, only while the session that made it keeps it open, and
// 4-byte fields after it is opened anew. The fields are cleared whatever
// their width and the element limit (+94) stays within the narrower
// fields, so the keys of both sessions stay found and the index sound.
TEST_F(LeafReserveTest, StandardHeaderIndexReopensWithNarrowerControlFields) {
    constexpr uint32_t kKeys = 4000;
    XCREblk x{};
    x.mode = 0x400;
    ASSERT_EQ(CREIDXX8(3, "s.idx", 8, 0, 0, 0, 0, 0, 0, nullptr, nullptr, &x), 0);
    ASSERT_NE(fcb(3)->hdr.ext.flmode2 & 0x20000000u, 0u);
    const std::vector<uint32_t> order = shuffled(kKeys, 9);
    for (uint32_t v : order) {
        if (v % 2 != 0) continue;
        ASSERT_EQ(ADDKEY(3, key8(v).data(), v + 1, 0), 0) << v;
    }
    EXPECT_GT(verified_leaves(3), 1);
    ASSERT_EQ(CLSFIL(3, 0), 0);
    EXPECT_EQ(le16(stored_header("s.idx", 0), 40), 0x0081);

    ASSERT_EQ(OPNFIL(3, "s.idx", 0), 0);
    ASSERT_EQ(fcb(3)->hdr.ext.flmode2 & 0x20000000u, 0u);
    for (uint32_t v : order) {
        if (v % 2 != 1) continue;
        ASSERT_EQ(ADDKEY(3, key8(v).data(), v + 1, 0), 0) << v;
    }
    for (uint32_t v = 0; v < kKeys; v += 3) ASSERT_EQ(DELCHK(3, key8(v).data(), v + 1), 0) << v;
    EXPECT_GT(verified_leaves(3), 1);
    ASSERT_EQ(CLSFIL(3, 0), 0);
    ASSERT_EQ(OPNFIL(3, "s.idx", 0), 0);
    EXPECT_GT(verified_leaves(3), 1);
    for (uint32_t v = 0; v < kKeys; v++) ASSERT_EQ(EQLKEY(3, key8(v).data()), v % 3 ? v + 1 : 0) << v;
}

// 40,000 keys in a superfile member index and in a plain index of the same
// key: the member's leaves hold nearly as many keys as the plain index's
// (the room of their control fields apart), both verify sound, and every
// key is found again, also after the files are opened anew.
TEST_F(LeafReserveTest, MemberIndexLeavesHoldAsManyKeysAsTheNodeAllows) {
    constexpr uint32_t kKeys = 40000;
    constexpr int32_t kKey = 8;
    ASSERT_EQ(CREDAT(1, "h", 0, 0, 0x200), 0);
    ASSERT_EQ(CREIDX(3, "h!ix", kKey, 0, 0, 0, 0, 0), 0);
    ASSERT_EQ(CREIDX(4, "plain.idx", kKey, 0, 0, 0, 0, 0), 0);
    const std::vector<uint32_t> order = shuffled(kKeys, 11);
    for (int filno : {3, 4})
        for (uint32_t v : order) ASSERT_EQ(ADDKEY(filno, key8(v).data(), v + 1, 0), 0) << filno << " " << v;
    struct Index {
        int filno;
        int32_t node;
        bool reserve;
    } indexes[] = {{3, kPage - 18, true}, {4, kPage, false}};
    const int32_t member_per = field_width(stored_header("h", fcb(3)->hposl));
    for (const Index &x : indexes) {
        SCOPED_TRACE(x.filno);
        const int32_t per = x.reserve ? member_per : 0;
        ASSERT_EQ(x.reserve, fcb(x.filno)->elmlimit != int32_t(fcb(x.filno)->nodesize / 4));
        // Most keys a leaf can hold: the elements, the high key and a
        // control field per element within the node.
        const int32_t most = (x.node - 18 - kKey) / (kKey + 4 + per);
        // Random inserts split full leaves in the middle, so that every
        // leaf keeps at least half of what it holds when full, one key
        // short of the most at worst.
        const int32_t leaves = verified_leaves(x.filno);
        EXPECT_GE(leaves, int32_t((kKeys + most - 1) / most));
        EXPECT_LE(leaves, int32_t(kKeys / ((most - 1) / 2)) + 1);
        for (uint32_t v = 0; v < kKeys; v++) ASSERT_EQ(EQLKEY(x.filno, key8(v).data()), v + 1) << v;
    }
    ASSERT_EQ(CLSFIL(3, 0), 0);
    ASSERT_EQ(CLSFIL(4, 0), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(OPNFIL(3, "h!ix", 0), 0);
    ASSERT_EQ(OPNFIL(4, "plain.idx", 0), 0);
    for (int filno : {3, 4}) {
        EXPECT_GT(verified_leaves(filno), 0);
        for (uint32_t v = 0; v < kKeys; v += 97) EXPECT_EQ(EQLKEY(filno, key8(v).data()), v + 1) << v;
    }
}

// A member index made by earlier engines, whose stored +94 counted the high
// key's bytes as room for fields (leaf capacity 4036 and limit 6 for an
// 8-byte key on 4096-byte pages), keeps its own geometry: it opens, takes
// keys within the fields that fit behind its high key, verifies sound and
// reads every key, and its header keeps the stored values.
TEST_F(LeafReserveTest, EarlierMemberIndexKeepsItsStoredGeometry) {
    constexpr uint16_t kOldLeaf = 4036, kOldLimit = 6;
    constexpr int32_t kKey = 8, kNode = kPage - 18;
    ASSERT_EQ(CREDAT(1, "h", 0, 0, 0x200), 0);
    ASSERT_EQ(CREIDX(3, "h!old", kKey, 0, 0, 0, 0, 0), 0);
    const uint32_t pos = fcb(3)->hposl;
    ASSERT_EQ(CLSFIL(3, 0), 0);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    ASSERT_EQ(field_width(stored_header("h", pos)), 4);
    patch("h", pos + 52, {uint8_t(kOldLeaf), uint8_t(kOldLeaf >> 8)});
    patch("h", pos + 94, {uint8_t(kOldLimit), uint8_t(kOldLimit >> 8)});

    ASSERT_EQ(OPNFIL(3, "h!old", 0), 0);
    FCB *f = fcb(3);
    EXPECT_EQ(f->leafcap, kOldLeaf);
    EXPECT_GE(f->elmlimit, 2);
    EXPECT_LE(kOldLeaf + kKey + f->elmlimit * 4, kNode - 18) << "the limit keeps the fields inside the node";
    constexpr uint32_t kKeys = 2000;
    const std::vector<uint32_t> order = shuffled(kKeys, 5);
    for (uint32_t v : order) ASSERT_EQ(ADDKEY(3, key8(v).data(), v + 1, 0), 0) << v;
    EXPECT_GE(verified_leaves(3), int32_t(kKeys / uint32_t(f->elmlimit)));
    for (uint32_t v = 0; v < kKeys; v++) ASSERT_EQ(EQLKEY(3, key8(v).data()), v + 1) << v;
    const int hostno = chkopnx("h");
    ASSERT_GE(hostno, 0);
    ASSERT_EQ(CLSFIL(3, 0), 0);
    ASSERT_EQ(CLSFIL(hostno, 0), 0);
    const Bytes hdr = stored_header("h", pos);
    EXPECT_EQ(le16(hdr, 52), kOldLeaf);
    EXPECT_EQ(le16(hdr, 94), kOldLimit);

    ASSERT_EQ(OPNFIL(3, "h!old", 0), 0);
    EXPECT_GT(verified_leaves(3), 0);
    for (uint32_t v = 0; v < kKeys; v++) ASSERT_EQ(EQLKEY(3, key8(v).data()), v + 1) << v;
    ASSERT_EQ(DELCHK(3, key8(7).data(), 8), 0);
    EXPECT_EQ(EQLKEY(3, key8(7).data()), 0u);
    EXPECT_GT(verified_leaves(3), 0);
}

}  // namespace

// Debug dumps: header fields, a node with its entries, paging and the
// interactive loop over standard input, and the high-key check.
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "engine/index/nodebuf.h"
#include "engine/maint/dumps.h"
#include "tests/engine/maint/maintfix.h"
#include "zarvo/zarvo.h"

namespace {

using namespace mainttest;

// Standard input taken from a text for the length of one object.
class StdinFrom {
public:
    explicit StdinFrom(const std::string &text) {
        int p[2];
        EXPECT_EQ(pipe(p), 0);
        EXPECT_EQ(write(p[1], text.data(), text.size()), ssize_t(text.size()));
        close(p[1]);
        saved_ = dup(0);
        dup2(p[0], 0);
        close(p[0]);
        clearerr(stdin);
    }
    ~StdinFrom() {
        dup2(saved_, 0);
        close(saved_);
        clearerr(stdin);
    }

private:
    int saved_;
};

class DumpsTest : public MaintTest {};

// The entry numbers a node dump printed, in order.
std::vector<int> entries_of(const std::string &out) {
    std::vector<int> n;
    std::regex re("\n   ( *[0-9]+)    [0-9a-f]{16}x  ");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), re); it != std::sregex_iterator(); ++it)
        n.push_back(std::stoi((*it)[1]));
    return n;
}

TEST_F(DumpsTest, HeaderOfAnIndexAndOfItsMember) {
    ASSERT_EQ(CREIDX(1, "h.idx", 8, 0, 0, 1, 4096, 0), 0);
    ASSERT_EQ(CREMEM(1, 12, 0, 1, 1), 0);
    for (int i = 1; i <= 10; i++) ASSERT_EQ(ADDKEY(1, key8(uint64_t(i)).data(), uint32_t(i), 0), 0);
    int rc = -1;
    std::string host = stdout_of([&] { rc = prthdr(1); });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(zvnum, zvWNGV->fcbtab[1]);
    EXPECT_NE(host.find("\nheader info for file #1  [h.idx]:\n"), std::string::npos) << host;
    EXPECT_NE(host.find("\n      # of active entries:     10 \t"), std::string::npos) << host;
    EXPECT_NE(host.find("\n                file type:      1 \t  # of additional members: 1"), std::string::npos);
    EXPECT_NE(host.find("\n         delete stack ptr:      0x\t index high transaction #: 0"), std::string::npos);
    EXPECT_EQ(host.find("N/A"), std::string::npos);
    std::string member = stdout_of([&] { rc = prthdr(2); });
    EXPECT_EQ(rc, 0);
    EXPECT_NE(member.find("\n       data record length:      0 \t         extend file size: N/A"), std::string::npos)
        << member;
    EXPECT_NE(member.find("\n         delete stack ptr:    N/A \t index high transaction #: N/A"), std::string::npos);
    EXPECT_NE(member.find("\n           last byte used:    N/A \t            serial number: N/A"), std::string::npos);
    EXPECT_NE(member.find("\n       last physical byte:    N/A \t              delete type: "), std::string::npos);
    EXPECT_NE(member.find("\n              update flag: "), std::string::npos);
    // A closed number.
    std::string closed = stdout_of([&] { rc = prthdr(7); });
    EXPECT_EQ(rc, 26);
    EXPECT_EQ(closed, "\nfile number 7 is not active (error 26)\n");
}

TEST_F(DumpsTest, NodeOfALeafWithItsEntries) {
    ASSERT_EQ(CREIDX(1, "n.idx", 8, 0, 0, 0, 4096, 0), 0);
    ASSERT_EQ(ADDKEY(1, "AB\x01zzzzz", 0x1234, 0), 0);
    ASSERT_EQ(ADDKEY(1, "CDEFGHIJ", 0x20, 0), 0);
    const uint32_t root = zvWNGV->fcbtab[1]->hdr.base.root;
    int rc = -1;
    std::string out = stdout_of([&] { rc = prtnod(1, 0, root, 0); });
    EXPECT_EQ(rc, 0);
    char head[64];
    snprintf(head, sizeof head, "\n\nNODE: %xx\n", root);
    EXPECT_EQ(out.rfind(head, 0), 0u) << out;
    EXPECT_NE(out.find("\n\t    trans active: no"), std::string::npos);
    EXPECT_NE(out.find("\n\tpredecessor node: 0x"), std::string::npos);
    EXPECT_NE(out.find("\n\t  successor node: 0x"), std::string::npos);
    EXPECT_NE(out.find("\n\t    # of entries: 2"), std::string::npos);
    EXPECT_NE(out.find("\n\t      # of bytes: 24"), std::string::npos);
    EXPECT_NE(out.find("\n\t       leaf flag: 1 (0 => non-leaf / 1 => leaf)"), std::string::npos);
    EXPECT_NE(out.find("\n\n element  offset             key value"), std::string::npos);
    EXPECT_NE(out.find("\n     1    0000000000001234x  4142 17a7a7a7a7a\n                              A B . z z z z z"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\n     2    0000000000000020x  434445464748494a"), std::string::npos) << out;
    EXPECT_EQ(zv::buf->posl, root);
    EXPECT_EQ(htnum, zvWNGV->fcbtab[1]);
}

TEST_F(DumpsTest, ANonLeafShowsItsChildrenWithoutLeafLines) {
    make_index(1, "v.idx", 200);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    RawIndex r("v.idx");
    const auto lv = r.levels();
    ASSERT_EQ(lv.size(), 2u);
    ASSERT_EQ(OPNFIL(1, "v.idx", 0), 0);
    int rc = -1;
    std::string out = stdout_of([&] { rc = prtnod(1, 0, r.root(), 0); });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out.find("trans active"), std::string::npos) << out;
    EXPECT_EQ(out.find("predecessor node"), std::string::npos);
    EXPECT_NE(out.find("\n\t       leaf flag: 0 (0 => non-leaf / 1 => leaf)"), std::string::npos);
    char first[64];
    snprintf(first, sizeof first, "\n     1    00000000%08xx  ", lv[1][0]);
    EXPECT_NE(out.find(first), std::string::npos) << out;
    EXPECT_EQ(entries_of(out).size(), lv[1].size());
}

TEST_F(DumpsTest, APositionThatHoldsNoNodeIsMinus2) {
    make_index(1, "v.idx", 2000);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    RawIndex r("v.idx");
    auto lv = r.levels();
    const uint32_t leaf = lv.back()[1];
    r.put16(leaf + 10, 600);  // bytes used beyond the leaf's limit
    r.save("v.idx");
    ASSERT_EQ(OPNFIL(1, "v.idx", 0), 0);
    int rc = 0;
    std::string out = stdout_of([&] { rc = prtnod(1, 0, leaf, 0); });
    EXPECT_EQ(rc, -2);
    char want[120];
    snprintf(want, sizeof want, "\nBadly formed node. Be sure that offset %x corresponds to a node.\n", leaf);
    EXPECT_EQ(out, want);
    int32_t h = 0;
    out = stdout_of([&] { h = chkhgh(1, leaf); });
    EXPECT_EQ(h, -2);
    snprintf(want, sizeof want, "\nBadly formed node. Be sure that offset %xx corresponds to a node.\n", leaf);
    EXPECT_EQ(out, want);
    EXPECT_EQ(zvWNGV->fcbtab[1]->hdr.base.updflg, 0) << "a dump marks no file";
    // A sound leaf answers its successor.
    EXPECT_EQ(chkhgh(1, lv.back()[0]), int32_t(lv.back()[1]));
}

TEST_F(DumpsTest, ALastKeyAboveTheHighKeyIsReported) {
    make_index(1, "v.idx", 300);
    ASSERT_EQ(CLSFIL(1, 0), 0);
    RawIndex r("v.idx");
    const uint32_t leaf = r.levels().back()[0];
    // The high key follows the leaf's element area, whose size the header
    // keeps at +52.
    const size_t high = leaf + 18 + r.get16(52);
    for (int i = 0; i < 8; i++) r.bytes[high + size_t(i)] = 0;
    r.save("v.idx");
    ASSERT_EQ(OPNFIL(1, "v.idx", 0), 0);
    int32_t h = 0;
    std::string out = stdout_of([&] { h = chkhgh(1, leaf); });
    EXPECT_EQ(h, int32_t(r.succ(leaf)));
    char want[80];
    snprintf(want, sizeof want, "\nBad high value for node: %xx (%d)\n", leaf, int(leaf));
    EXPECT_EQ(out, want);
}

TEST_F(DumpsTest, PagingJumpsToATypedEntryAndEndsOnAnyOtherLine) {
    make_index(1, "v.idx", 30);
    const uint32_t root = zvWNGV->fcbtab[1]->hdr.base.root;
    int rc = -1;
    std::string out;
    {
        StdinFrom in("#3\nq\n");
        out = stdout_of([&] { rc = prtnod(1, 0, root, 1); });
    }
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(entries_of(out), (std::vector<int>{1, 2, 3, 4, 5, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13})) << out;
    {
        StdinFrom in("\n");
        out = stdout_of([&] { rc = prtnod(1, 0, root, 1); });
    }
    // An empty line after entry 5 goes on; the end of input after entry 16
    // (the count passes 20 again) ends the dump.
    std::vector<int> all = entries_of(out);
    ASSERT_EQ(all.size(), 16u) << out;
    EXPECT_EQ(all.back(), 16);
}

TEST_F(DumpsTest, ChkidxPrintsTheNodesTypedInUntilZero) {
    make_index(1, "v.idx", 20);
    const uint32_t root = zvWNGV->fcbtab[1]->hdr.base.root;
    char input[64];
    snprintf(input, sizeof input, "%x\n0\n", root);
    int rc = -1;
    std::string out;
    {
        StdinFrom in(input);
        out = stdout_of([&] { rc = chkidx(1, 0); });
    }
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out.rfind("\nheader info for file #1  [v.idx]:\n", 0), 0u);
    char node[40];
    snprintf(node, sizeof node, "\n\nNODE: %xx\n", root);
    EXPECT_NE(out.find(node), std::string::npos) << out;
    const std::string prompt = "\n\nEnter node position (in hex): ";
    EXPECT_EQ(out.size() - out.rfind(prompt), prompt.size()) << "the loop ends at the prompt answered 0";
    EXPECT_EQ(entries_of(out).size(), 20u);
    {
        StdinFrom in("0\n");
        out = stdout_of([&] { rc = chkidx(1, 0); });
    }
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out.find("NODE:"), std::string::npos);
    EXPECT_EQ(stdout_of([&] { rc = chkidx(9, 0); }), "\nfile number 9 is not active (error 26)\n");
    EXPECT_EQ(rc, 26);
}

}  // namespace

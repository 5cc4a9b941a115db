// Damaged index files: every fault is a code and a status-log line, never
// the end of the process.
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "tests/engine/index/idxfix.h"
#include "zarvo/zarvo.h"

namespace {

using namespace idxtest;

class DamageTest : public IndexTest {
protected:
    // Two leaves (512, 1024) under a root at 1536, closed.
    void build() {
        ASSERT_EQ(create_index(1, "g.idx", IndexShape{}), 0);
        for (uint64_t i = 1; i <= 41; i++) ASSERT_EQ(add(1, int_key(i, 8), i), 0);
        ASSERT_EQ(fcb_of(1)->hdr.base.root, 1536u);
        ASSERT_EQ(close_index(1), 0);
        image_ = zvtest::read_file("g.idx");
    }
    // Writes a changed copy and opens it.
    void open_damaged(size_t off, const std::string &bytes) {
        std::string copy = image_;
        copy.replace(off, bytes.size(), bytes);
        zvtest::write_file("bad.idx", copy);
        ASSERT_EQ(open_index(1, "bad.idx"), 0);
    }
    bool logged(const std::string &text) {
        for (const std::string &l : log_lines())
            if (l.find(text) != std::string::npos) return true;
        return false;
    }
    std::string image_;
};

TEST_F(DamageTest, ZeroChildPointerIs527AndMarksTheFileForRebuild) {
    build();
    open_damaged(1536 + 18, std::string(4, '\0'));  // root element 1: child 0
    EXPECT_EQ(EQLKEY(1, int_key(3, 8).data()), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 527);
    EXPECT_TRUE(logged("Zero node pointer in index"));
    EXPECT_TRUE(logged("bad.idx"));
    EXPECT_EQ(fcb_of(1)->hdr.base.updflg, 'R');
    // Other roads meet it the same way.
    EXPECT_EQ(add(1, int_key(2, 8) + "", 99), 527);
    EXPECT_EQ(del(1, int_key(2, 8), 2), 527);
    std::string k(8, '\0');
    EXPECT_EQ(FRSKEY(1, k.data()), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 527);
    // The right half still reads.
    EXPECT_EQ(EQLKEY(1, int_key(40, 8).data()), 40u);
    // The verification reports the zero child as a link fault of its own.
    VERIFYIDXOPT opt{1, 2, 15, 0, nullptr, nullptr};
    VERIFYIDXRES res{};
    EXPECT_EQ(zvVERIFYidx(1, &opt, &res), -1);
    EXPECT_EQ(zvGetUserErrorCode(), 0xFFFF);
}

TEST_F(DamageTest, NodeBeyondTheLogicalEndIs519) {
    build();
    open_damaged(1536 + 18, std::string("\x00\x00\x10\x00", 4));  // child at 0x100000
    EXPECT_EQ(EQLKEY(1, int_key(3, 8).data()), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 519);
    EXPECT_TRUE(logged("node exceeds logical index EOF"));
    EXPECT_TRUE(logged("bad.idx: 519"));
}

TEST_F(DamageTest, MemberMismatchIs69WithTheE69Line) {
    build();
    open_damaged(512 + 16, std::string("\x05", 1));  // first leaf names member 5
    EXPECT_EQ(EQLKEY(1, int_key(3, 8).data()), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 69);
    EXPECT_TRUE(logged("E69: f#=1 km=0 bm=5 node=200x predsr=0000-00000000x sucesr=0000-00000400x "
                       "numrec=0000-000007ffx"))
        << testing::PrintToString(log_lines());
}

TEST_F(DamageTest, ImpossibleNodeHeadersAre527) {
    struct Case {
        const char *what;
        size_t off;
        std::string bytes;
    } cases[] = {
        {"bytes used beyond the capacity", 512 + 10, std::string("\xF0\x01", 2)},
        {"count and bytes used disagree", 512 + 8, std::string("\x07\x00", 2)},
        {"leaf flag neither 0 nor 1", 512 + 17, std::string("\x02", 1)},
        {"marks in a non-leaf", 1536 + 12, std::string("\x01\x00", 2)},
        {"root node inside the header", 28, std::string("\x80\x00\x00\x00", 4)},
    };
    build();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        open_damaged(c.off, c.bytes);
        EXPECT_EQ(EQLKEY(1, int_key(3, 8).data()), 0u);
        EXPECT_EQ(zvGetUserErrorCode(), 527);
        EXPECT_EQ(fcb_of(1)->hdr.base.updflg, 'R');
        drop_index(1);
    }
}

TEST_F(DamageTest, TheCheckerNamesTheBrokenInvariant) {
    build();
    struct Case {
        const char *what;
        size_t off;
        std::string bytes;
        const char *finding;
    } cases[] = {
        {"key count", 24, std::string("\x05\x00\x00\x00", 4), "[12]"},
        {"level count", 276, std::string("\x03\x00\x00\x00", 4), "[14]"},
        {"leaf anchor", 72, std::string("\x00\x04\x00\x00", 4), "[7]"},
        {"successor of the first leaf", 512, std::string("\x00\x00\x00\x00", 4), "[5]"},
        {"predecessor of the second leaf", 1024 + 4, std::string("\x00\x06\x00\x00", 4), "[6]"},
        {"parent key", 1536 + 22, std::string("\x00\x00\x00\x00\x00\x00\x00\x30", 8), "[10]"},
        {"deleted-node stack names a live node", 4, std::string("\x00\x02\x00\x00", 4), "[13]"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        open_damaged(c.off, c.bytes);
        std::string finding = check(1);
        EXPECT_EQ(finding.substr(0, std::string(c.finding).size()), c.finding) << finding;
        drop_index(1);
    }
}

// Links that make a walk go round or leave its level: every call that
// meets one ends with 527 (the index marked for rebuild), and a walk with
// NXTKEY never hands out more keys than the index holds.
TEST_F(DamageTest, LoopsAndLevelChangesEndIn527) {
    const std::string le1536("\x00\x06\x00\x00", 4), le1024("\x00\x04\x00\x00", 4), le512("\x00\x02\x00\x00", 4);
    std::string k = int_key(10, 8);
    struct Case {
        const char *what;
        std::vector<std::pair<size_t, std::string>> patches;
        bool walk_next;  // NXTKEY from the first key meets it
        bool first;      // FRSKEY meets it
        bool last;       // LSTKEY meets it
        uint64_t probe;  // a key whose search (and add and delete) meets it; 0: none
    } cases[] = {
        {"a child that points at its own node", {{1536 + 18, le1536}}, false, true, false, 3},
        {"a leaf successor back to the first leaf", {{1024, le512}}, true, false, true, 0},
        {"a leaf that succeeds itself", {{1024, le1024}}, true, false, true, 0},
        {"a non-leaf successor of a leaf", {{1024, le1536}}, true, false, true, 0},
        {"an upper level that succeeds itself", {{1536, le1536}, {1536 + 34, k}}, false, false, false, 20},
    };
    build();
    std::string key(8, '\0');
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string copy = image_;
        for (const auto &p : c.patches) copy.replace(p.first, p.second.size(), p.second);
        zvtest::write_file("bad.idx", copy);
        ASSERT_EQ(open_index(1, "bad.idx"), 0);
        if (c.walk_next) {
            int steps = 0;
            uint32_t pos = FRSKEY(1, key.data());
            while (pos != 0 && steps <= 41) {
                steps++;
                pos = NXTKEY(1, key.data());
            }
            EXPECT_LE(steps, 41);
            EXPECT_EQ(zvGetUserErrorCode(), 527);
        }
        if (c.first) {
            EXPECT_EQ(FRSKEY(1, key.data()), 0u);
            EXPECT_EQ(zvGetUserErrorCode(), 527);
        }
        if (c.last) {
            EXPECT_EQ(LSTKEY(1, key.data()), 0u);
            EXPECT_EQ(zvGetUserErrorCode(), 527);
        }
        if (c.probe) {
            const std::string t = int_key(c.probe, 8);
            EXPECT_EQ(EQLKEY(1, t.data()), 0u);
            EXPECT_EQ(zvGetUserErrorCode(), 527);
            EXPECT_EQ(GTKEY(1, t.data(), key.data()), 0u);
            EXPECT_EQ(zvGetUserErrorCode(), 527);
            EXPECT_EQ(LTKEY(1, t.data(), key.data()), 0u);
            EXPECT_EQ(zvGetUserErrorCode(), 527);
            EXPECT_EQ(add(1, t, 999), 527);
            EXPECT_EQ(del(1, t, c.probe), 527);
        }
        EXPECT_EQ(fcb_of(1)->hdr.base.updflg, 'R');
        drop_index(1);
    }
}

// A leaf key below the one before it: the key after an equal one must lie
// above it, so a greater-key search from the equal one ends with 527 rather
// than hand back a smaller key (a walk of greater keys would go round).
TEST_F(DamageTest, AGreaterKeyBelowTheTargetIs527) {
    build();
    std::string copy = image_;
    // Element i of the first leaf holds key i (a 4-byte position, then the
    // 8-byte key); the binary search meets element 1 + n / 2 first.
    const int n = uint8_t(copy[512 + 8]) | uint8_t(copy[512 + 9]) << 8;
    const int probe = 1 + n / 2;
    copy.replace(512 + 18 + size_t(probe) * 12 + 4, 8, int_key(2, 8));
    zvtest::write_file("bad.idx", copy);
    ASSERT_EQ(open_index(1, "bad.idx"), 0);
    std::string key(8, '\0');
    EXPECT_EQ(GTKEY(1, int_key(uint64_t(probe), 8).data(), key.data()), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 527);
    EXPECT_EQ(fcb_of(1)->hdr.base.updflg, 'R');
}

}  // namespace

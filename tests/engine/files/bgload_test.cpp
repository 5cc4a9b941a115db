// The background-load status resource: entries by index name, the whole
// body, caller buffers and new blocks, deleting one entry or all.
#include <cstring>
#include <string>

#include "tests/engine/files/files_util.h"

namespace {

using filestest::Bytes;

class BgloadTest : public filestest::FilesTest {
protected:
    void SetUp() override {
        FilesTest::SetUp();
        ASSERT_EQ(CREDATX8(1, "d.dat", 100, 0, 0, 0, nullptr, nullptr, nullptr), 0);
    }
    // A status body: head (type 19, number 0, "QV!BGLD", a word 0, the
    // count) and one 120-byte entry per name, its bytes after the name 'x'.
    static Bytes status_body(const std::vector<std::string> &names) {
        Bytes b(24 + 120 * names.size(), 0);
        uint32_t type = 19, n = uint32_t(names.size());
        memcpy(b.data(), &type, 4);
        memcpy(b.data() + 8, "QV!BGLD", 8);
        memcpy(b.data() + 20, &n, 4);
        for (size_t i = 0; i < names.size(); i++) {
            unsigned char *e = b.data() + 24 + 120 * i;
            memset(e, 'x', 120);
            memcpy(e, names[i].c_str(), names[i].size() + 1);
        }
        return b;
    }
    void store(const std::vector<std::string> &names) {
        Bytes b = status_body(names);
        ASSERT_EQ(ADDRES(1, b.data(), int32_t(b.size())), 0);
    }
};

TEST_F(BgloadTest, EntryByNameIsA144ByteImage) {
    store({"first.idx", "second.idx", "third.idx"});
    unsigned char buf[200];
    memset(buf, 0xEE, sizeof buf);
    void *p = buf;
    int32_t size = sizeof buf;
    ASSERT_EQ(zvGetBackgroundLoadStatus(1, "second.idx", &p, &size), 0);
    EXPECT_EQ(p, buf);
    EXPECT_EQ(size, 144);
    Bytes want = status_body({"second.idx"});
    EXPECT_EQ(Bytes(buf, buf + 144), want);
    EXPECT_EQ(buf[144], 0xEE);
    // A new block when no buffer is given.
    void *mine = nullptr;
    size = 0;
    ASSERT_EQ(zvGetBackgroundLoadStatus(1, "third.idx", &mine, &size), 0);
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(size, 144);
    EXPECT_EQ(Bytes(static_cast<unsigned char *>(mine), static_cast<unsigned char *>(mine) + 144),
              status_body({"third.idx"}));
    zvputmem(mine);
}

TEST_F(BgloadTest, WholeBodyAndRefusals) {
    store({"a", "b"});
    Bytes want = status_body({"a", "b"});
    void *mine = nullptr;
    int32_t size = 0;
    ASSERT_EQ(zvGetBackgroundLoadStatus(1, nullptr, &mine, &size), 0);
    EXPECT_EQ(size, int32_t(want.size()));
    EXPECT_EQ(Bytes(static_cast<unsigned char *>(mine), static_cast<unsigned char *>(mine) + size), want);
    zvputmem(mine);

    unsigned char small[100];
    void *p = small;
    size = sizeof small;
    EXPECT_EQ(zvGetBackgroundLoadStatus(1, "", &p, &size), 153);
    EXPECT_EQ(size, int32_t(want.size()));
    size = 143;
    EXPECT_EQ(zvGetBackgroundLoadStatus(1, "a", &p, &size), 153);
    EXPECT_EQ(size, 144);
    size = 200;
    EXPECT_EQ(zvGetBackgroundLoadStatus(1, "nope", &mine, &size), 101);
    EXPECT_EQ(zvGetBackgroundLoadStatus(1, "a", nullptr, &size), 540);
    EXPECT_EQ(zvGetBackgroundLoadStatus(1, "a", &p, nullptr), 540);
}

TEST_F(BgloadTest, MissingResourceAndDamagedCount) {
    void *mine = nullptr;
    int32_t size = 0;
    EXPECT_EQ(zvGetBackgroundLoadStatus(1, "a", &mine, &size), 408);
    EXPECT_EQ(zvDeleteBackgroundLoadStatus(1, nullptr), 408);
    // A count beyond the body: only the entries the body holds are seen.
    Bytes b = status_body({"a"});
    uint32_t big = 1000;
    memcpy(b.data() + 20, &big, 4);
    ASSERT_EQ(ADDRES(1, b.data(), int32_t(b.size())), 0);
    EXPECT_EQ(zvGetBackgroundLoadStatus(1, "zz", &mine, &size), 101);
    EXPECT_EQ(zvGetBackgroundLoadStatus(1, "a", &mine, &size), 0);
    zvputmem(mine);
}

TEST_F(BgloadTest, DeleteOneEntryThenAll) {
    store({"a", "b", "c"});
    EXPECT_EQ(zvDeleteBackgroundLoadStatus(1, "b"), 0);
    EXPECT_EQ(zvDeleteBackgroundLoadStatus(1, "b"), 101);
    void *mine = nullptr;
    int32_t size = 0;
    ASSERT_EQ(zvGetBackgroundLoadStatus(1, nullptr, &mine, &size), 0);
    EXPECT_EQ(Bytes(static_cast<unsigned char *>(mine), static_cast<unsigned char *>(mine) + size),
              status_body({"a", "c"}));
    zvputmem(mine);
    EXPECT_EQ(zvDeleteBackgroundLoadStatus(1, ""), 0);
    mine = nullptr;
    EXPECT_EQ(zvGetBackgroundLoadStatus(1, nullptr, &mine, &size), 408);
}

}  // namespace

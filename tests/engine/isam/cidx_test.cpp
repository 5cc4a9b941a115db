// Conditional indexes of a file set: conditions set, replaced and removed
// with UPDCIDX, kept in the data file's "QV!CIDX" resource across close and
// reopen, their stored bytes, refusals and damaged bodies, failed
// evaluations, callback conditions, the in-memory condition of an index
// file with header flag 0x20, the function-number entry and the key hot
// path.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/instance.h"
#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "tests/engine/isam/recfix.h"
#include "tests/support/engine.h"

namespace {

using namespace rectest;

// An item record of 48 bytes.
struct Item {
    char tag[4];
    uint32_t number;  // i1: unique
    char city[20];    // i2: duplicates
    int32_t qty;      // i3: duplicates
    int32_t zero;     // always 0
    char pad[12];
};
static_assert(sizeof(Item) == 48, "item record is 48 bytes");

Item item(uint32_t number, const char *city, int32_t qty) {
    Item it;
    memset(&it, 0, sizeof it);
    memcpy(it.tag, "ITEM", 4);
    it.number = number;
    memcpy(it.city, city, std::min(strlen(city), sizeof it.city));
    it.qty = qty;
    return it;
}

// The item set: i1 and i2 in items.idx, i3 in its own file items_qty.idx.
struct ItemDef {
    ISEG s1[1] = {{4, 4, 1}};
    ISEG s2[1] = {{8, 20, 0}};
    ISEG s3[1] = {{28, 4, 1}};
    IIDX idx[3] = {};
    IFIL ifil = {};
    explicit ItemDef(const char *name = "items") {
        idx[0] = IIDX{4, 0, 0, 0, 0, 1, s1, "ByNumber", nullptr, nullptr, nullptr};
        idx[1] = IIDX{24, 0, 1, 0, 0, 1, s2, "ByCity", nullptr, nullptr, nullptr};
        idx[2] = IIDX{8, 0, 1, 0, 0, 1, s3, "ByQty", "?_qty.idx", nullptr, nullptr};
        ifil = IFIL{name, -1, 48, 0, 0, 3, 0, 0, idx, nullptr, nullptr, 0};
    }
};

// Bytes of a string literal with its embedded NULs.
template <size_t N>
std::string bytes(const char (&s)[N]) {
    return std::string(s, N - 1);
}

class CidxSetTest : public RecTest {
protected:
    void SetUp() override {
        RecTest::SetUp();
        ASSERT_EQ(CREIFIL(&def_.ifil), 0);
        d_ = def_.ifil.tfilno;
        i1_ = d_ + 1;
        i2_ = d_ + 2;
        i3_ = d_ + 3;
        const DATOBJ doda[6] = {
            {"tag", 0, ZV_ARRAY, 4, 0, 0},  {"number", 4, ZV_INT4U, 4, 0, 0}, {"city", 8, ZV_FSTRING, 20, 0, 0},
            {"Qty", 28, ZV_INT4, 4, 0, 0}, {"Zero", 32, ZV_INT4, 4, 0, 0},  {"pad", 36, ZV_ARRAY, 12, 0, 0},
        };
        ASSERT_EQ(PUTDODA(d_, doda, 6), 0);
    }
    void add_item(Item it) { EXPECT_EQ(ADDREC(d_, &it), 0) << it.number; }
    // The stored body from the counts on (empty when none is stored).
    std::string body() {
        int32_t n = GETCRES(d_, 0, nullptr);
        std::string b(size_t(n), '\0');
        if (n > 0) {
            EXPECT_EQ(GETCRES(d_, n, b.data()), n);
        }
        return b;
    }
    // The condition text of an index as GETCIDX hands it out (with its NUL).
    static std::string cidx(int idx) {
        char buf[128];
        int32_t n = GETCIDX(idx, sizeof buf, buf);
        return n > 0 ? std::string(buf, size_t(n)) : std::string();
    }
    static int flags(int idx) { return GETFIL(idx, 18); }
    // Whether i2 holds a key for the item's city.
    bool has_city_key(const Item &it) {
        std::string k(it.city, 20);
        k.append(4, '\0');  // below every position suffix
        char out[32];
        uint32_t lo = GTEKEY(i2_, k.data(), out);
        return lo != 0 && memcmp(out, it.city, 20) == 0;
    }
    // Stores a raw "QV!CIDX" resource in data file datno (bypassing every
    // check).
    static void store_raw(int datno, const std::string &b) {
        std::string image(16, '\0');
        const uint32_t key[2] = {0, 5};
        memcpy(image.data(), key, 8);
        memcpy(image.data() + 8, "QV!CIDX", 8);
        image += b;
        uint32_t info[3];
        if (GETRES(datno, key, info, sizeof info, 2 | 0x40)) ASSERT_EQ(UPDRES(datno, image.data(), int32_t(image.size())), 0);
        else ASSERT_EQ(ADDRES(datno, image.data(), int32_t(image.size())), 0);
    }
    void reopen() {
        ASSERT_EQ(CLIFIL(&def_.ifil), 0);
        def_.ifil.dfilno = int16_t(d_);
        ASSERT_EQ(OPNIFIL(&def_.ifil), 0);
        ASSERT_EQ(def_.ifil.tfilno, d_);
    }
    ItemDef def_;
    int d_ = -1, i1_ = -1, i2_ = -1, i3_ = -1;
};

TEST_F(CidxSetTest, AConditionDecidesTheKeysOfItsIndexOnly) {
    const Item before = item(1, "Bern", 7);
    add_item(before);
    ASSERT_EQ(UPDCIDX(i2_, "Qty > 5"), 0);
    // The call changes no key.
    EXPECT_EQ(IDXENT(i2_), 1u);
    EXPECT_TRUE(has_city_key(before));
    EXPECT_EQ(flags(i2_) & 16, 16);
    EXPECT_EQ(flags(i1_) & 16, 0);
    EXPECT_EQ(flags(i3_) & 16, 0);
    EXPECT_EQ(check(d_), "");

    const Item low = item(2, "Oslo", 3), high = item(3, "Rome", 9);
    add_item(low);
    add_item(high);
    EXPECT_EQ(IDXENT(i1_), 3u);
    EXPECT_EQ(IDXENT(i3_), 3u);
    EXPECT_EQ(IDXENT(i2_), 2u);
    EXPECT_FALSE(has_city_key(low));
    EXPECT_TRUE(has_city_key(high));
    EXPECT_EQ(check(d_), "");

    // Rewrites out of and into the condition.
    struct Rewrite {
        uint32_t number;
        int32_t qty;
        uint32_t keys;  // i2 entries afterwards
        bool in;
    };
    Item r;
    for (const Rewrite &w : {Rewrite{high.number, 3, 1, false}, Rewrite{low.number, 9, 2, true}}) {
        SCOPED_TRACE(w.number);
        ASSERT_EQ(EQLREC(i1_, &w.number, &r), 0);
        r.qty = w.qty;
        ASSERT_EQ(RWTREC(d_, &r), 0);
        EXPECT_EQ(IDXENT(i2_), w.keys);
        EXPECT_EQ(has_city_key(r), w.in);
        EXPECT_EQ(check(d_), "");
    }

    // A record outside the condition is deleted.
    ASSERT_EQ(EQLREC(i1_, &high.number, &r), 0);
    EXPECT_EQ(DELREC(d_), 0);
    EXPECT_EQ(IDXENT(i1_), 2u);
    EXPECT_EQ(IDXENT(i2_), 2u);
    EXPECT_EQ(check(d_), "");
}

TEST_F(CidxSetTest, ConditionsAreStoredAndSurviveReopen) {
    ASSERT_EQ(UPDCIDX(i2_, "Qty > 5"), 0);
    // One resource of type 0, number 5, named "QV!CIDX", and its body.
    const uint32_t key[2] = {0, 5};
    uint32_t info[3] = {};
    ASSERT_NE(GETRES(d_, key, info, sizeof info, 2 | 0x40), 0u);
    EXPECT_EQ(info[2], 16u + 20u);
    char image[36];
    ASSERT_NE(GETRES(d_, key, image, sizeof image, 2), 0u);
    EXPECT_EQ(std::string(image + 8, 8), bytes("QV!CIDX\0"));
    EXPECT_EQ(GETRES(d_, "QV!CIDX", nullptr, 0, 16 | 0x40), GETRES(d_, key, nullptr, 0, 2 | 0x40));
    EXPECT_EQ(body(), bytes("\x01\0\0\0\x01\0\x08\0\0\0\0\0Qty > 5\0"));

    reopen();
    EXPECT_EQ(flags(i2_) & 16, 16);
    const Item low = item(1, "Oslo", 3), high = item(2, "Rome", 9);
    add_item(low);
    add_item(high);
    EXPECT_EQ(IDXENT(i1_), 2u);
    EXPECT_EQ(IDXENT(i2_), 1u);
    EXPECT_TRUE(has_city_key(high));
    EXPECT_EQ(check(d_), "");

    EXPECT_EQ(cidx(i2_), bytes("Qty > 5\0"));
    EXPECT_EQ(GETCIDX(i1_, 64, image), 0);
    EXPECT_EQ(zvGetUserErrorCode(), 0);
    // A buffer one byte short: the length, nothing written.
    char shortbuf[7];
    memset(shortbuf, 'x', sizeof shortbuf);
    EXPECT_EQ(GETCIDX(i2_, sizeof shortbuf, shortbuf), 8);
    EXPECT_EQ(std::string(shortbuf, 7), "xxxxxxx");
    memset(image, 'x', sizeof image);
    EXPECT_EQ(GETCRES(d_, 19, image), 20);
    EXPECT_EQ(image[0], 'x');
}

TEST_F(CidxSetTest, ChangesRewriteTheStoredBody) {
    ASSERT_EQ(UPDCIDX(i2_, "Qty > 5"), 0);
    // A shorter text keeps the entry's space.
    ASSERT_EQ(UPDCIDX(i2_, "Qty>5"), 0);
    EXPECT_EQ(body(), bytes("\x01\0\0\0\x01\0\x08\0\0\0\0\0Qty>5\0\0\0"));
    EXPECT_EQ(GETCIDX(i2_, 0, nullptr), 6);
    EXPECT_EQ(cidx(i2_), bytes("Qty>5\0"));
    // A longer one rebuilds the body.
    ASSERT_EQ(UPDCIDX(i2_, "Qty > 5 AND Zero = 0"), 0);
    EXPECT_EQ(body(), bytes("\x01\0\0\0\x01\0\x15\0\0\0\0\0Qty > 5 AND Zero = 0\0"));
    // A second condition, then the first removed.
    ASSERT_EQ(UPDCIDX(i3_, "Qty < 100"), 0);
    EXPECT_EQ(body(), bytes("\x02\0\0\0\x01\0\x15\0\0\0\0\0\x02\0\x0a\0\0\0\0\0"
                            "Qty > 5 AND Zero = 0\0Qty < 100\0"));
    EXPECT_EQ(flags(i3_) & 16, 16);
    ASSERT_EQ(UPDCIDX(i2_, ""), 0);
    EXPECT_EQ(body(), bytes("\x01\0\0\0\x02\0\x0a\0\0\0\0\0Qty < 100\0"));
    EXPECT_EQ(flags(i2_) & 16, 0);
    EXPECT_EQ(cidx(i2_), "");
    // Removing an absent condition changes nothing.
    ASSERT_EQ(UPDCIDX(i1_, nullptr), 0);
    EXPECT_EQ(body(), bytes("\x01\0\0\0\x02\0\x0a\0\0\0\0\0Qty < 100\0"));
    // The last one removed deletes the resource.
    ASSERT_EQ(UPDCIDX(i3_, ""), 0);
    const uint32_t key[2] = {0, 5};
    EXPECT_EQ(GETRES(d_, key, nullptr, 0, 2 | 0x40), 0u);
    EXPECT_EQ(zvGetUserErrorCode(), 408);
    EXPECT_EQ(GETCRES(d_, 0, nullptr), 0);
    EXPECT_EQ(zvGetUserErrorCode(), 408);
    for (int idx : {i1_, i2_, i3_}) {
        EXPECT_EQ(GETCIDX(idx, 0, nullptr), 0) << idx;
        EXPECT_EQ(flags(idx) & 16, 0) << idx;
    }
    // Every record has all its keys again.
    add_item(item(1, "Bern", 1));
    EXPECT_EQ(IDXENT(i2_), 1u);
    EXPECT_EQ(IDXENT(i3_), 1u);
}

// The second group of entries comes through every change byte for byte,
// after the conditions.
TEST_F(CidxSetTest, TheSecondGroupIsCarriedAlong) {
    const std::string b = bytes("\0\0\x01\0\x07\0\x04\0\x05\0\0\0"
                                "1\0xy");
    ASSERT_EQ(PUTCRES(d_, b.data(), int32_t(b.size())), 0);
    EXPECT_EQ(body(), b);
    ASSERT_EQ(UPDCIDX(i2_, "Qty > 5"), 0);
    EXPECT_EQ(body(), bytes("\x01\0\x01\0\x01\0\x08\0\0\0\0\0\x07\0\x04\0\x05\0\0\0"
                            "Qty > 5\0"
                            "1\0xy"));
    EXPECT_EQ(cidx(i2_), bytes("Qty > 5\0"));
    ASSERT_EQ(UPDCIDX(i2_, nullptr), 0);
    EXPECT_EQ(body(), b);
    // An entry of the second group is no condition of an index.
    add_item(item(1, "Bern", 1));
    EXPECT_EQ(IDXENT(i2_), 1u);
    EXPECT_EQ(check(d_), "");
}

TEST_F(CidxSetTest, RefusalsLeaveTheConditionsAsTheyWere) {
    ASSERT_EQ(UPDCIDX(i2_, "Qty > 5"), 0);
    const std::string stored = body();
    EXPECT_EQ(UPDCIDX(i2_, "Qty >"), 597);
    EXPECT_EQ(zvGetIsamErrorCode(), 597);
    EXPECT_EQ(UPDCIDX(i3_, "Nothing = 1"), 597);
    EXPECT_EQ(UPDCIDX(i2_, std::string(40000, '1').c_str()), 446);
    EXPECT_EQ(body(), stored);

    const std::string good = bytes("\x01\0\0\0\x02\0\x04\0\0\0\0\0Qty\0");
    struct Case {
        const char *what;
        int file;  // 0 the data file, else the index i2
        std::string body;
        int32_t length;
        int code;
    };
    const Case cases[] = {
        {"an index file", 1, good, int32_t(good.size()), 48},
        {"a body longer than its length", 0, good, int32_t(good.size()) - 1, 595},
        {"entries past the length", 0, bytes("\x02\0\0\0\x02\0\x04\0\0\0\0\0"), 12, 595},
        {"a text without its NUL", 0, bytes("\x01\0\0\0\x02\0\x04\0\0\0\0\0Qty>"), 16, 439},
        {"a text that does not parse", 0, bytes("\x01\0\0\0\x02\0\x04\0\0\0\0\0Qt>\0"), 16, 597},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(PUTCRES(c.file ? i2_ : d_, c.body.data(), c.length), c.code);
        EXPECT_EQ(body(), stored);
        EXPECT_EQ(flags(i2_) & 16, 16);
        EXPECT_EQ(flags(i3_) & 16, 0);
    }
    // Not an index of a key map.
    ASSERT_EQ(CREIDX(40, "loose.idx", 4, 0, 0, 0, 0, 0), 0);
    for (int filno : {40, d_}) {
        EXPECT_EQ(GETCIDX(filno, 0, nullptr), 0) << filno;
        EXPECT_EQ(zvGetUserErrorCode(), 614) << filno;
        EXPECT_EQ(UPDCIDX(filno, "Qty > 1"), 614) << filno;
    }
    EXPECT_EQ(CLSFIL(40, 0), 0);
}

// A stored body that cannot be read whole fails the open: no key is ever
// formed without the conditions.
TEST_F(CidxSetTest, ADamagedBodyFailsTheOpen) {
    const std::string damaged[] = {
        bytes("\x01\0\0\0\x01\0\x14\0\0\0\0\0Qty > 5\0"),  // a text running past the body
        bytes("\x01\0\0\0\x01\0\x07\0\0\0\0\0Qty > 5"),    // a text without its NUL
        bytes("\x03\0\0\0\x01\0\x08\0\0\0\0\0Qty > 5\0"),  // entries past the body
        bytes("\x01\0\0\0\x01\0\0\0\0\0\0\0"),             // an entry without space
        bytes("\x01\0"),                                   // counts cut
    };
    int i = 0;
    for (const std::string &b : damaged) {
        SCOPED_TRACE(testing::PrintToString(b));
        const std::string name = "dmg" + std::to_string(i++);
        ItemDef def(name.c_str());
        ASSERT_EQ(CREIFIL(&def.ifil), 0);
        const int d = def.ifil.tfilno;
        store_raw(d, b);
        ASSERT_EQ(CLIFIL(&def.ifil), 0);
        EXPECT_EQ(OPNIFIL(&def.ifil), 439);
        EXPECT_EQ(def.ifil.tfilno, -1);
        // Nothing of the set stays open.
        Item it = item(1, "Bern", 9);
        EXPECT_NE(ADDREC(d, &it), 0);
        EXPECT_EQ(zvGetUserErrorCode(), 26);
    }
}

TEST_F(CidxSetTest, AFailedEvaluationUndoesTheAdd) {
    ASSERT_EQ(UPDCIDX(i2_, "Qty / Zero > 0"), 0);
    zvtest::SetState before, after;
    ASSERT_EQ(check(d_, &before), "");
    Item it = item(2, "Oslo", 9);
    EXPECT_EQ(ADDREC(d_, &it), 598);
    EXPECT_EQ(zvGetIsamFileNbr(), i2_);
    ASSERT_EQ(check(d_, &after), "");
    EXPECT_TRUE(before == after);
    EXPECT_EQ(IDXENT(i1_), 0u);
    EXPECT_EQ(IDXENT(i3_), 0u);
}

TEST_F(CidxSetTest, ACallbackConditionLivesWithTheOpenSet) {
    auto out = std::make_unique<zvtest::EngineOutput>();
    ASSERT_EQ(UPDCIDX(i2_, "@flt"), 0);
    EXPECT_EQ(out->text(), " zvfiltercb_init: @flt\n");
    add_item(item(1, "Bern", 1));
    add_item(item(2, "Oslo", 2));
    EXPECT_EQ(IDXENT(i2_), 2u);
    EXPECT_EQ(out->text(), " zvfiltercb_init: @flt\n zvfiltercb: @flt\n zvfiltercb: @flt\n");
    ASSERT_EQ(CLIFIL(&def_.ifil), 0);
    std::vector<std::string> lines = zvtest::lines_of(out->text());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), " zvfiltercb_uninit: @flt");
    def_.ifil.dfilno = int16_t(d_);
    ASSERT_EQ(OPNIFIL(&def_.ifil), 0);
    lines = zvtest::lines_of(out->text());
    EXPECT_EQ(lines.back(), " zvfiltercb_init: @flt");
    EXPECT_EQ(cidx(i2_), bytes("@flt\0"));
}

// An index file marked with header flag 0x20 keeps its condition in its
// own block: nothing is stored, and its close frees it.
TEST_F(CidxSetTest, AnIndexFileKeepsItsOwnConditionInMemory) {
    ASSERT_EQ(PUTHDR(i3_, 32, 20), 0);
    struct Case {
        const char *text;
        const char *printed_at_set;
    };
    const Case cases[] = {{"Qty > 5", ""}, {"@flt", " zvfiltercb_init: @flt\n"}};
    uint32_t n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        auto out = std::make_unique<zvtest::EngineOutput>();
        const uint32_t keys = IDXENT(i3_);
        ASSERT_EQ(UPDCIDX(i3_, c.text), 0);
        EXPECT_EQ(out->text(), c.printed_at_set);
        EXPECT_EQ(flags(i3_) & 32, 32);
        EXPECT_EQ(GETCRES(d_, 0, nullptr), 0);
        EXPECT_EQ(zvGetUserErrorCode(), 408);
        add_item(item(++n, "Bern", 3));
        add_item(item(++n, "Bern", 9));
        // "@flt" lets both in.
        EXPECT_EQ(IDXENT(i3_), keys + (c.printed_at_set[0] ? 2u : 1u));
        EXPECT_EQ(IDXENT(i1_), n);
        ASSERT_EQ(UPDCIDX(i3_, ""), 0);
        EXPECT_EQ(flags(i3_) & 48, 0);
        if (c.printed_at_set[0]) {
            EXPECT_EQ(zvtest::lines_of(out->text()).back(), " zvfiltercb_uninit: @flt");
        }
        // Every record has its key again.
        add_item(item(++n, "Bern", 4));
        EXPECT_EQ(IDXENT(i3_), keys + (c.printed_at_set[0] ? 3u : 2u));
    }

    // Closing the index with a condition installed frees it.
    ASSERT_EQ(UPDCIDX(i3_, "Qty > 5"), 0);
    ASSERT_EQ(CLIFIL(&def_.ifil), 0);
    def_.ifil.dfilno = int16_t(d_);
    const int64_t base = zv::pool_blocks_in_use();
    ASSERT_EQ(OPNIFIL(&def_.ifil), 0);
    EXPECT_EQ(flags(i3_) & 32, 0);
    ASSERT_EQ(UPDCIDX(i3_, "Qty > 5"), 0);
    EXPECT_EQ(flags(i3_) & 32, 32);
    ASSERT_EQ(CLIFIL(&def_.ifil), 0);
    EXPECT_EQ(zv::pool_blocks_in_use(), base);
    auto out = std::make_unique<zvtest::EngineOutput>();
    def_.ifil.dfilno = int16_t(d_);
    ASSERT_EQ(OPNIFIL(&def_.ifil), 0);
    ASSERT_EQ(UPDCIDX(i3_, "@mem"), 0);
    ASSERT_EQ(CLSFIL(i3_, 0), 0);
    EXPECT_EQ(out->text(), " zvfiltercb_init: @mem\n zvfiltercb_uninit: @mem\n");
}

// GETCIDX hands out the text of an in-memory condition as it does a stored
// one, and the stored conditions of the other indexes stay apart from it.
TEST_F(CidxSetTest, GetcidxHandsOutAnInMemoryCondition) {
    auto out = std::make_unique<zvtest::EngineOutput>();
    ASSERT_EQ(PUTHDR(i3_, 32, 20), 0);
    ASSERT_EQ(UPDCIDX(i2_, "Qty > 5"), 0);
    const std::string stored = body();
    const char *texts[] = {"Qty > 5", "@flt", "Qty < 3 && Zero == 0", "Qty > 1"};
    for (const char *t : texts) {
        SCOPED_TRACE(t);
        ASSERT_EQ(UPDCIDX(i3_, t), 0);
        ASSERT_EQ(flags(i3_) & 32, 32);
        const int32_t n = int32_t(strlen(t) + 1);
        EXPECT_EQ(cidx(i3_), std::string(t, size_t(n)));
        EXPECT_EQ(GETCIDX(i3_, 0, nullptr), n);
        char shortbuf[4] = "xyz";
        EXPECT_EQ(GETCIDX(i3_, 3, shortbuf), n);
        EXPECT_STREQ(shortbuf, "xyz") << "nothing copied into a buffer too short";
        EXPECT_EQ(cidx(i2_), bytes("Qty > 5\0"));
        EXPECT_EQ(body(), stored);
    }
    // A text that does not parse leaves the condition and its text.
    EXPECT_NE(UPDCIDX(i3_, "Qty >"), 0);
    EXPECT_EQ(cidx(i3_), bytes("Qty > 1\0"));
    ASSERT_EQ(UPDCIDX(i3_, ""), 0);
    EXPECT_EQ(GETCIDX(i3_, 0, nullptr), 0);
    EXPECT_EQ(zvGetUserErrorCode(), 0);
    // The condition and its text go with the index.
    ASSERT_EQ(UPDCIDX(i3_, "Qty > 5"), 0);
    reopen();
    EXPECT_EQ(GETCIDX(i3_, 0, nullptr), 0);
    EXPECT_EQ(cidx(i2_), bytes("Qty > 5\0"));
}

TEST_F(CidxSetTest, TheFunctionNumberEntryReachesTheConditionCalls) {
    char text[] = "Qty > 5";
    EXPECT_EQ(zarvo(0x0125, int16_t(i2_), nullptr, nullptr, text, nullptr, 0), 0);
    EXPECT_EQ(cidx(i2_), bytes("Qty > 5\0"));
    char buf[64] = {};
    int32_t len = sizeof buf;
    EXPECT_EQ(zarvo(0x0FB8, int16_t(d_), nullptr, nullptr, buf, &len, 0), 0);
    EXPECT_EQ(len, 20);
    EXPECT_EQ(std::string(buf, 20), bytes("\x01\0\0\0\x01\0\x08\0\0\0\0\0Qty > 5\0"));
    len = sizeof buf;
    EXPECT_EQ(zarvo(0x0FB9, int16_t(i2_), nullptr, nullptr, buf, &len, 0), 0);
    EXPECT_EQ(len, 8);
    std::string b = bytes("\x01\0\0\0\x02\0\x0a\0\0\0\0\0Qty < 100\0");
    len = int32_t(b.size());
    EXPECT_EQ(zarvo(0x057F, int16_t(d_), nullptr, nullptr, b.data(), &len, 0), 0);
    EXPECT_EQ(body(), b);
    EXPECT_EQ(flags(i2_) & 16, 0);
    EXPECT_EQ(flags(i3_) & 16, 16);
}

// Forming the keys of a set with a conditional index takes no memory: the
// condition was parsed when it was set.
TEST_F(CidxSetTest, KeysOfAConditionalIndexTakeNoMemory) {
    ASSERT_EQ(UPDCIDX(i2_, "Qty > 5 AND city <> \"Nowhere\""), 0);
    for (uint32_t n = 1; n <= 20; n++) add_item(item(n, "Bern", int32_t(n)));
    const uint64_t platform = zv::platform_alloc_count();
    const uint64_t gets = zv::pool_get_count();
    for (uint32_t n = 21; n <= 120; n++) {
        Item it = item(n, n % 2 ? "Bern" : "Oslo", int32_t(n % 10));
        ASSERT_EQ(ADDREC(d_, &it), 0);
    }
    EXPECT_EQ(zv::platform_alloc_count(), platform);
    EXPECT_EQ(zv::pool_get_count(), gets);
    EXPECT_EQ(IDXENT(i2_), 15u + 40u);
    EXPECT_EQ(check(d_), "");
}

}  // namespace

namespace {

using namespace rectest;

// A data file whose record schema map is too large for the engine's pools:
// a read of a freed map does not go unnoticed.
class WideSchemaTest : public RecTest {
protected:
    static constexpr int kFill = 1400;
    static constexpr int kRecLen = 8 + kFill;
    void SetUp() override {
        RecTest::SetUp();
        idx_[0] = IIDX{4, 0, 0, 0, 0, 1, s1_, "ByNumber", nullptr, nullptr, nullptr};
        idx_[1] = IIDX{8, 0, 1, 0, 0, 1, s2_, "ByQty", "?_qty.idx", nullptr, nullptr};
        ifil_ = IFIL{"wide", -1, kRecLen, 0, 0, 2, 0, 0, idx_, nullptr, nullptr, 0};
        ASSERT_EQ(CREIFIL(&ifil_), 0);
        d_ = ifil_.tfilno;
        names_.reserve(kFill);
        doda_.push_back({"number", 0, ZV_INT4U, 4, 0, 0});
        doda_.push_back({"qty", 4, ZV_INT4, 4, 0, 0});
        for (int i = 0; i < kFill; i++) {
            names_.push_back("f" + std::to_string(i));
            doda_.push_back({names_.back().c_str(), 8 + i, ZV_ARRAY, 1, 0, 0});
        }
        ASSERT_EQ(PUTDODA(d_, doda_.data(), int(doda_.size())), 0);
    }
    std::string record(uint32_t number, int32_t qty) {
        std::string r(kRecLen, 'f');
        memcpy(r.data(), &number, 4);
        memcpy(r.data() + 4, &qty, 4);
        return r;
    }
    ISEG s1_[1] = {{0, 4, 1}};
    ISEG s2_[1] = {{4, 4, 1}};
    IIDX idx_[2] = {};
    IFIL ifil_ = {};
    std::vector<std::string> names_;
    std::vector<DATOBJ> doda_;
    int d_ = -1;
};

// A record filter and a condition parsed against a data file's schema map
// keep deciding after the schema is stored again and the old map freed.
TEST_F(WideSchemaTest, FiltersAndConditionsOutliveTheSchemaMapTheyWereParsedWith) {
    ASSERT_EQ(SETFLTR(d_, "qty > 5"), 0);
    ASSERT_EQ(UPDCIDX(d_ + 2, "qty > 5"), 0);
    ASSERT_EQ(PUTDODA(d_, doda_.data(), int(doda_.size())), 0);
    std::string low = record(1, 3), high = record(2, 9);
    ASSERT_EQ(ADDREC(d_, low.data()), 0);
    const uint32_t lowpos = GETCURP(d_);
    ASSERT_EQ(ADDREC(d_, high.data()), 0);
    const uint32_t highpos = GETCURP(d_);
    EXPECT_EQ(IDXENT(d_ + 1), 2u);
    EXPECT_EQ(IDXENT(d_ + 2), 1u);
    std::string buf(kRecLen, '\0');
    EXPECT_EQ(REDREC(d_, lowpos, buf.data()), 739);
    EXPECT_EQ(REDREC(d_, highpos, buf.data()), 0);
    EXPECT_EQ(buf, high);
}

}  // namespace

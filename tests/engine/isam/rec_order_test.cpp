// Records added in random order are read back in the order of each index
// and in physical order; keyed reads answer the table of targets; a miss
// keeps the current record.
#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/engine/isam/recfix.h"

namespace {

using namespace rectest;

const char *const kCities[] = {"Aarau", "Basel", "Chur", "Davos", "Emmen", "Fribourg", "Genf", "Horgen",
                               "Ilanz", "Jona", "Kriens", "Luzern", "Morges", "Nyon", "Olten", "Prilly",
                               "Quinten", "Riehen", "Sion", "Thun", "Uster", "Vevey", "Wil", "Zug"};

class RecOrderTest : public RecTest {};

TEST_F(RecOrderTest, ThousandRandomAddsReadInEveryOrder) {
    CustDef def;
    const int d = make(def);
    std::vector<uint32_t> numbers(1000);
    for (uint32_t i = 0; i < 1000; i++) numbers[i] = i * 7 + 3;
    std::mt19937 rng(42);
    std::shuffle(numbers.begin(), numbers.end(), rng);
    std::map<uint32_t, uint64_t> pos;  // number -> position
    std::map<uint32_t, std::string> cityof;
    for (uint32_t n : numbers) {
        const char *c = kCities[rng() % 24];
        uint64_t p = add(d, cust(n, c));
        ASSERT_NE(p, 0u);
        // The new record is the current one.
        Cust back;
        ASSERT_EQ(RRDREC(d, &back), 0);
        ASSERT_EQ(back.number, n);
        pos[n] = p;
        cityof[n] = c;
    }
    EXPECT_EQ(DATENT(d), 1000u);
    EXPECT_EQ(IDXENT(d + 1), 1000u);
    EXPECT_EQ(IDXENT(d + 2), 1000u);
    EXPECT_EQ(check(d), "");

    // Walks an order with a first call and a stepping call; every record
    // read is the current one.
    auto walk = [&](int filno, int (*first)(int, void *), int (*step)(int, void *)) {
        std::vector<Cust> out;
        Cust c;
        int rc = first(filno, &c);
        while (rc == 0) {
            EXPECT_EQ(curpos(d), pos[c.number]);
            out.push_back(c);
            if (out.size() > 1001) break;
            rc = step(filno, &c);
        }
        EXPECT_EQ(rc, 101);
        return out;
    };
    std::vector<Cust> up = walk(d + 1, FRSREC, NXTREC);
    ASSERT_EQ(up.size(), 1000u);
    for (size_t i = 0; i < up.size(); i++) EXPECT_EQ(up[i].number, i * 7 + 3);
    std::vector<Cust> down = walk(d + 1, LSTREC, PRVREC);
    ASSERT_EQ(down.size(), 1000u);
    for (size_t i = 0; i < down.size(); i++) EXPECT_EQ(down[i].number, (999 - i) * 7 + 3);

    // City order: ascending cities, duplicates in position order.
    std::vector<std::pair<std::string, uint64_t>> want;
    for (auto &[n, c] : cityof) want.emplace_back(c, pos[n]);
    std::sort(want.begin(), want.end());
    std::vector<Cust> bycity = walk(d + 2, FRSREC, NXTREC);
    ASSERT_EQ(bycity.size(), 1000u);
    for (size_t i = 0; i < want.size(); i++) {
        EXPECT_EQ(std::string(bycity[i].city), want[i].first);
        EXPECT_EQ(pos[bycity[i].number], want[i].second);
    }
    std::vector<Cust> bycityback = walk(d + 2, LSTREC, PRVREC);
    ASSERT_EQ(bycityback.size(), 1000u);
    for (size_t i = 0; i < want.size(); i++) EXPECT_EQ(pos[bycityback[i].number], want[999 - i].second);

    // Physical order: ascending positions.
    std::vector<Cust> phys = walk(d, FRSREC, NXTREC);
    ASSERT_EQ(phys.size(), 1000u);
    for (size_t i = 1; i < phys.size(); i++) EXPECT_LT(pos[phys[i - 1].number], pos[phys[i].number]);
    std::vector<Cust> physback = walk(d, LSTREC, PRVREC);
    ASSERT_EQ(physback.size(), 1000u);
    for (size_t i = 0; i < physback.size(); i++) EXPECT_EQ(physback[i].number, phys[999 - i].number);
}

class KeyedReadTest : public RecTest {
protected:
    // Numbers 10, 20, ... 100; cities Bern (10-30), Oslo (40, 50), Rome (60-100).
    void SetUp() override {
        RecTest::SetUp();
        d_ = make(def_);
        for (uint32_t n = 10; n <= 100; n += 10) {
            const char *c = n <= 30 ? "Bern" : n <= 50 ? "Oslo" : "Rome";
            pos_[n] = add(d_, cust(n, c));
        }
    }
    CustDef def_;
    int d_ = -1;
    std::map<uint32_t, uint64_t> pos_;
};

TEST_F(KeyedReadTest, TargetsOfEveryKindAnswerByTheTable) {
    using Read = int (*)(int, const void *, void *);
    struct Case {
        const char *what;
        Read read;
        int index;        // 1 number, 2 city
        uint32_t number;  // number target
        const char *city; // city target
        uint32_t want;    // number read, 0: 101
    };
    const Case cases[] = {
        {"EQL present", EQLREC, 1, 40, nullptr, 40},
        {"EQL absent", EQLREC, 1, 45, nullptr, 0},
        {"EQL below", EQLREC, 1, 5, nullptr, 0},
        {"EQL above", EQLREC, 1, 105, nullptr, 0},
        {"GTE present", GTEREC, 1, 40, nullptr, 40},
        {"GTE absent", GTEREC, 1, 45, nullptr, 50},
        {"GTE below", GTEREC, 1, 5, nullptr, 10},
        {"GTE above", GTEREC, 1, 105, nullptr, 0},
        {"GT present", GTREC, 1, 40, nullptr, 50},
        {"GT last", GTREC, 1, 100, nullptr, 0},
        {"GT below", GTREC, 1, 5, nullptr, 10},
        {"LTE present", LTEREC, 1, 40, nullptr, 40},
        {"LTE absent", LTEREC, 1, 45, nullptr, 40},
        {"LTE below", LTEREC, 1, 5, nullptr, 0},
        {"LTE above", LTEREC, 1, 105, nullptr, 100},
        {"LT present", LTREC, 1, 40, nullptr, 30},
        {"LT first", LTREC, 1, 10, nullptr, 0},
        {"LT above", LTREC, 1, 105, nullptr, 100},
        // Duplicates: a target carries no position, so EQL finds none.
        {"EQL duplicate", EQLREC, 2, 0, "Oslo", 0},
        {"GTE duplicate: the first of them", GTEREC, 2, 0, "Oslo", 40},
        {"GT duplicate: past all of them", GTREC, 2, 0, "Oslo", 60},
        {"LTE duplicate: the last of them", LTEREC, 2, 0, "Oslo", 50},
        {"LT duplicate: before all of them", LTREC, 2, 0, "Oslo", 30},
        {"GTE absent city", GTEREC, 2, 0, "Paris", 60},
        {"LTE absent city", LTEREC, 2, 0, "Paris", 50},
        {"GT above", GTREC, 2, 0, "Zurich", 0},
        {"LT below", LTREC, 2, 0, "Aarau", 0},
        {"LTE above: the last record", LTEREC, 2, 0, "Zurich", 100},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        // Start from a known current record: 70.
        Cust r;
        ASSERT_EQ(EQLREC(d_ + 1, num(70).data(), &r), 0);
        std::string t = c.city ? city(c.city) : num(c.number);
        memset(&r, 0, sizeof r);
        int rc = c.read(d_ + c.index, t.data(), &r);
        if (c.want) {
            ASSERT_EQ(rc, 0);
            EXPECT_EQ(r.number, c.want);
            EXPECT_EQ(curpos(d_), pos_[c.want]);
            continue;
        }
        EXPECT_EQ(rc, 101);
        EXPECT_EQ(zvGetIsamErrorCode(), 101);
        EXPECT_EQ(curpos(d_), pos_[70]) << "a miss keeps the current record";
        // The next record by number steps from the record kept.
        ASSERT_EQ(NXTREC(d_ + 1, &r), 0);
        EXPECT_EQ(r.number, 80u);
    }
}

TEST_F(KeyedReadTest, EmptyIndexAndReadsWithoutACurrentRecord) {
    CustDef other("other");
    int e = make(other);
    Cust r;
    EXPECT_EQ(NXTREC(e + 1, &r), 100);
    EXPECT_EQ(RRDREC(e, &r), 100);
    EXPECT_EQ(FRSREC(e + 1, &r), 101);
    EXPECT_EQ(FRSREC(e, &r), 101);
    EXPECT_EQ(LSTREC(e, &r), 101);
    EXPECT_EQ(curpos(e), 0u);
    // Stepping past either end answers 101 and keeps the last record.
    ASSERT_EQ(LSTREC(d_ + 1, &r), 0);
    EXPECT_EQ(NXTREC(d_ + 1, &r), 101);
    EXPECT_EQ(curpos(d_), pos_[100]);
    ASSERT_EQ(FRSREC(d_, &r), 0);
    EXPECT_EQ(PRVREC(d_, &r), 101);
    EXPECT_EQ(r.number, 10u);
    // Re-reading the current record and reading it by its position.
    ASSERT_EQ(RRDREC(d_, &r), 0);
    EXPECT_EQ(r.number, 10u);
    zvSETHGH(0);
    ASSERT_EQ(REDIREC(d_, uint32_t(pos_[60]), &r), 0);
    EXPECT_EQ(r.number, 60u);
    EXPECT_EQ(curpos(d_), pos_[60]);
    ASSERT_EQ(NXTREC(d_ + 1, &r), 0) << "the keys of a record read by position are current";
    EXPECT_EQ(r.number, 70u);
}

}  // namespace

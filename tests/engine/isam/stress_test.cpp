// Random mixed work on a file set against a model: adds, rewrites that move
// keys, deletes, keyed reads, with small caches so that pages and nodes are
// written and read again, and the set checked and reopened along the way.
#include <cstring>
#include <map>
#include <random>
#include <string>

#include "tests/engine/isam/recfix.h"

namespace {

using namespace rectest;

class StressTest : public RecTest, public ::testing::WithParamInterface<bool> {};

const char *kCities[] = {"Bern", "Rome", "Oslo", "Lima", "Kyiv", "Riga", "Nice", "Graz"};

TEST_P(StressTest, RandomWorkKeepsSetAndModelEqual) {
    const bool variable = GetParam();
    restart(4, 4);
    CustDef def("mix", variable);
    int d = make(def);
    std::mt19937 rng(variable ? 7u : 11u);
    std::map<uint32_t, std::string> model;  // number -> city
    auto add_one = [&](uint32_t n, const char *c) {
        Cust r = cust(n, c);
        int rc;
        if (variable) {
            std::string b(reinterpret_cast<const char *>(&r), sizeof r);
            b.append(rng() % 300, char('a' + n % 26));
            rc = ADDVREC(d, b.data(), int32_t(b.size()));
        } else {
            rc = ADDREC(d, &r);
        }
        return rc;
    };
    int adds = 0, rewrites = 0, deletes = 0, reads = 0;
    for (int step = 0; step < 40000; step++) {
        uint32_t n = rng() % 5000 + 1;
        int op = int(rng() % 10);
        const char *c = kCities[rng() % 8];
        auto it = model.find(n);
        if (op < 4) {
            int rc = add_one(n, c);
            if (it == model.end()) {
                ASSERT_EQ(rc, 0) << step;
                model[n] = c;
                adds++;
            } else {
                ASSERT_EQ(rc, 2) << step;
            }
        } else if (op < 7 && it != model.end()) {
            // Rewrite: new city, sometimes a new number.
            std::string b(1024, '\0');
            int32_t len = int32_t(b.size());
            int rc = variable ? EQLVREC(d + 1, num(n).data(), b.data(), &len)
                              : EQLREC(d + 1, num(n).data(), b.data());
            ASSERT_EQ(rc, 0) << step;
            Cust r;
            memcpy(&r, b.data(), sizeof r);
            uint32_t nn = (rng() % 3 == 0) ? rng() % 5000 + 1 : n;
            bool clash = nn != n && model.count(nn);
            r.number = nn;
            strcpy(r.city, c);
            memcpy(b.data(), &r, sizeof r);
            if (variable) {
                len = int32_t(sizeof r + rng() % 400);
                for (int32_t i = int32_t(sizeof r); i < len; i++) b[size_t(i)] = char('A' + i % 26);
                rc = RWTVREC(d, b.data(), len);
            } else {
                rc = RWTREC(d, b.data());
            }
            if (clash) {
                ASSERT_EQ(rc, 2) << step;
            } else {
                ASSERT_EQ(rc, 0) << step;
                model.erase(n);
                model[nn] = c;
                rewrites++;
            }
        } else if (op < 9 && it != model.end()) {
            std::string b(1024, '\0');
            int32_t len = int32_t(b.size());
            ASSERT_EQ(variable ? EQLVREC(d + 1, num(n).data(), b.data(), &len)
                               : EQLREC(d + 1, num(n).data(), b.data()),
                      0)
                << step;
            ASSERT_EQ(variable ? DELVREC(d) : DELREC(d), 0) << step;
            model.erase(n);
            deletes++;
        } else {
            std::string b(1024, '\0');
            int32_t len = int32_t(b.size());
            int rc = variable ? EQLVREC(d + 1, num(n).data(), b.data(), &len)
                              : EQLREC(d + 1, num(n).data(), b.data());
            ASSERT_EQ(rc, it == model.end() ? 101 : 0) << step;
            reads++;
        }
        if (step % 8000 == 7999) {
            ASSERT_EQ(check(d), "") << step;
            ASSERT_EQ(CLIFIL(&def.ifil), 0);
            ASSERT_EQ(OPNIFIL(&def.ifil), 0);
            d = def.ifil.tfilno;
            ASSERT_EQ(check(d), "") << step;
        }
    }
    EXPECT_GT(adds, 1000);
    EXPECT_GT(rewrites, 1000);
    EXPECT_GT(deletes, 1000);
    RecordProperty("adds", adds);
    RecordProperty("rewrites", rewrites);
    RecordProperty("deletes", deletes);
    RecordProperty("reads", reads);
    // Every model record is found through both indexes, in order.
    std::string b(1024, '\0');
    int32_t len = int32_t(b.size());
    size_t seen = 0;
    uint32_t last = 0;
    int rc = variable ? FRSVREC(d + 1, b.data(), &len) : FRSREC(d + 1, b.data());
    while (rc == 0) {
        Cust r;
        memcpy(&r, b.data(), sizeof r);
        ASSERT_GT(r.number, last);
        ASSERT_EQ(model.at(r.number), std::string(r.city));
        last = r.number;
        seen++;
        len = int32_t(b.size());
        rc = variable ? NXTVREC(d + 1, b.data(), &len) : NXTREC(d + 1, b.data());
    }
    EXPECT_EQ(rc, 101);
    EXPECT_EQ(seen, model.size());
    EXPECT_EQ(check(d), "");
}

INSTANTIATE_TEST_SUITE_P(Files, StressTest, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? std::string("Variable") : std::string("Fixed"); });

}  // namespace

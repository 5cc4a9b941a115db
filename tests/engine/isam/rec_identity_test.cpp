// Identity fields of ISAM records: adds fill them, rewrites may not change
// them, the field after a JSON value in a variable-length record, and
// reads that cannot keep the identity image.
#include <cstring>
#include <string>

#include "engine/core/instance.h"
#include "engine/core/fcb.h"
#include "tests/engine/isam/recfix.h"

namespace {

using namespace rectest;
using zvtest::SetState;

class RecIdentityTest : public RecTest {};

TEST_F(RecIdentityTest, AddsStoreTheNextValuesAndRewritesKeepThem) {
    CustDef def;
    int d = make(def);
    put_schema(d);
    ASSERT_EQ(addIDfield(d, 1, 1, 4), 0);  // the amount field
    for (uint32_t n = 1; n <= 3; n++) {
        Cust c = cust(n * 10, "Bern");
        ASSERT_EQ(ADDREC(d, &c), 0);
        EXPECT_EQ(c.amount, n) << "the caller's buffer holds the value";
        Cust r;
        ASSERT_EQ(EQLREC(d + 1, num(n * 10).data(), &r), 0);
        EXPECT_EQ(r.amount, n);
    }
    Cust r;
    ASSERT_EQ(EQLREC(d + 1, num(20).data(), &r), 0);
    SetState before;
    ASSERT_EQ(check(d, &before), "");
    Cust changed = r;
    changed.amount = 99;
    strcpy(changed.city, "Zug");
    EXPECT_EQ(RWTREC(d, &changed), 921);
    SetState after;
    EXPECT_EQ(check(d, &after), "");
    EXPECT_TRUE(after == before);
    strcpy(r.city, "Zug");
    EXPECT_EQ(RWTREC(d, &r), 0) << "the same value passes";
    // A record image made current without its identity field.
    EXPECT_EQ(SETCURI(d, uint32_t(curpos(d)), &r, 2), 445);
    EXPECT_EQ(RWTREC(d, &r), 794) << "neither key images nor an identity value";
}

// An identity field that a fixed-length record cannot hold: the add fails
// after it took a record slot, and the slot is given back.
TEST_F(RecIdentityTest, AFailedIdentityStepGivesTheSlotBack) {
    CustDef def;
    int d = make(def);
    const DATOBJ doda[7] = {
        {"tag", 0, ZV_ARRAY, 4, 0, 0},      {"number", 4, ZV_INT4U, 4, 0, 0}, {"city", 8, ZV_FSTRING, 20, 0, 0},
        {"name", 28, ZV_FSTRING, 24, 0, 0}, {"amount", 52, ZV_INT4U, 4, 0, 0}, {"pad", 56, ZV_ARRAY, 8, 0, 0},
        {"beyond", 64, ZV_INT4, 4, 0, 0},
    };
    ASSERT_EQ(PUTDODA(d, doda, 7), 0);
    const uint64_t p = add(d, cust(1, "Bern"));
    ASSERT_EQ(addIDfield(d, 1, 1, 6), 0);
    SetState before;
    ASSERT_EQ(check(d, &before), "");
    FCB *f = zvWNGV->fcbtab[d];
    ASSERT_EQ(f->hdr.base.delstk, 0u);
    Cust c = cust(2, "Bern");
    EXPECT_EQ(ADDREC(d, &c), 445);
    EXPECT_NE(f->hdr.base.delstk, 0u) << "the slot is on the delete stack";
    SetState after;
    EXPECT_EQ(check(d, &after), "");
    EXPECT_TRUE(after == before);
    EXPECT_EQ(DATENT(d), 1u);
    EXPECT_EQ(curpos(d), p);
}

// The variable-length customer with a JSON value and an identity field
// after the fixed part.
class VarIdentityTest : public RecTest {
protected:
    void SetUp() override {
        RecTest::SetUp();
        d_ = make(def_);
        const DATOBJ doda[8] = {
            {"tag", 0, ZV_ARRAY, 4, 0, 0},       {"number", 4, ZV_INT4U, 4, 0, 0},
            {"city", 8, ZV_FSTRING, 20, 0, 0},   {"name", 28, ZV_FSTRING, 24, 0, 0},
            {"amount", 52, ZV_INT4U, 4, 0, 0},   {"pad", 56, ZV_ARRAY, 8, 0, 0},
            {"doc", 64, ZV_JSON, 4, 0, 0},       {"id", 68, ZV_INT4, 4, 0, 0},
        };
        ASSERT_EQ(PUTDODA(d_, doda, 8), 0);
        ASSERT_EQ(addIDfield(d_, 1, 1, 7), 0);
    }
    // The record: the customer, the JSON value with its u32 length, and
    // `idbytes` bytes of the identity field.
    static std::string rec(uint32_t number, const std::string &json, int idbytes) {
        Cust c = cust(number, "Bern");
        std::string s(reinterpret_cast<const char *>(&c), sizeof c);
        uint32_t n = uint32_t(json.size());
        s.append(reinterpret_cast<const char *>(&n), 4);
        s += json;
        s.append(size_t(idbytes), '\0');
        return s;
    }
    CustDef def_{"vid", true};
    int d_ = -1;
};

TEST_F(VarIdentityTest, TheValueLandsAfterTheJsonValue) {
    const std::string json = "{\"a\":[1,2,3]}";
    for (int32_t n = 1; n <= 2; n++) {
        std::string r = rec(uint32_t(n), json, 4);
        ASSERT_EQ(ADDVREC(d_, r.data(), int32_t(r.size())), 0);
        std::string back(200, '\0');
        int32_t len = int32_t(back.size());
        ASSERT_EQ(EQLVREC(d_ + 1, num(uint32_t(n)).data(), back.data(), &len), 0);
        ASSERT_EQ(len, int32_t(r.size()));
        int32_t id = 0;
        memcpy(&id, back.data() + 64 + 4 + json.size(), 4);
        EXPECT_EQ(id, n);
        EXPECT_EQ(back.substr(64, 4 + json.size()), r.substr(64, 4 + json.size())) << "the JSON value is kept";
    }
    // A record that ends inside the identity field is refused whole.
    SetState before;
    ASSERT_EQ(check(d_, &before), "");
    std::string cut = rec(3, json, 2);
    EXPECT_EQ(ADDVREC(d_, cut.data(), int32_t(cut.size())), 445);
    SetState after;
    EXPECT_EQ(check(d_, &after), "");
    EXPECT_TRUE(after == before) << "nothing written, the space given back";
}

TEST_F(VarIdentityTest, AskingTheLengthSucceedsWithoutAnIdentityImage) {
    std::string r = rec(1, "{}", 4);
    ASSERT_EQ(ADDVREC(d_, r.data(), int32_t(r.size())), 0);
    std::string back(200, '\0');
    int32_t len = 0;
    ASSERT_EQ(EQLVREC(d_ + 1, num(1).data(), back.data(), &len), 0);
    EXPECT_EQ(len, int32_t(r.size()));
    EXPECT_EQ(RWTVREC(d_, r.data(), int32_t(r.size())), 794);
    ASSERT_EQ(REDVREC(d_, back.data(), int32_t(back.size())), 0);
    back.resize(r.size());
    EXPECT_EQ(RWTVREC(d_, back.data(), int32_t(back.size())), 0);
    EXPECT_EQ(check(d_), "");
}

}  // namespace

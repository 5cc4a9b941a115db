// Resource handles on a bound table: the records they add as the engine
// holds them, reads that take records whole, the walk's end, updates,
// deletes, locks, where codes are kept, and records that hold no name.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tests/recapi/schema/tablefiles.h"

namespace {

using schematest::Bytes;
using schematest::Image;

class TableResourceTest : public schematest::TableFileTest {
protected:
    void TearDown() override {
        for (ZVHANDLE h : handles_) EXPECT_EQ(zvdbFreeResource(h), 0);
        TableFileTest::TearDown();
    }
    // A handle freed at the end of the test.
    ZVHANDLE alloc(uint32_t type, uint32_t number, const char *name = nullptr) {
        ZVHANDLE h = zvdbAllocResource(table_, type, number, name);
        EXPECT_NE(h, nullptr);
        handles_.push_back(h);
        return h;
    }
    // Type, number, name and data of a handle.
    static std::tuple<uint32_t, uint32_t, std::string, std::string> state(ZVHANDLE h) {
        const char *name = zvdbGetResourceName(h);
        const auto *data = static_cast<const char *>(zvdbGetResourceData(h));
        return {zvdbGetResourceType(h), zvdbGetResourceNumber(h), name ? name : "<none>",
                data ? std::string(data, size_t(zvdbGetResourceDataLength(h))) : "<none>"};
    }
    std::vector<ZVHANDLE> handles_;
};

TEST_F(TableResourceTest, AddsRecordsAsTheEngineHoldsThemAndNumbersNewOnes) {
    bind_fixture();
    ZVHANDLE a = alloc(5000, 0xFFFFFFFF, "alpha");
    ZVHANDLE b = alloc(5000, 0xFFFFFFFF);
    ASSERT_EQ(zvdbAddResource(a, "one", 3), 0);
    ASSERT_EQ(zvdbAddResource(b, "two!", 4), 0);
    EXPECT_EQ(zvdbGetResourceNumber(a), 0u);
    EXPECT_EQ(zvdbGetResourceNumber(b), 1u);
    EXPECT_EQ(raw(5000, 0).bytes, Image().host32(5000).host32(0).text("alpha", 6).text("one").bytes());
    EXPECT_EQ(raw(5000, 1).bytes, Image().host32(5000).host32(1).u8(0).text("two!").bytes());

    ZVHANDLE c = alloc(1, 2, "before");
    ASSERT_EQ(zvdbFindResource(c, 5000, 1, 0), 0);
    EXPECT_EQ(state(c), std::make_tuple(5000u, 1u, std::string(""), std::string("two!")));

    ZVHANDLE d = alloc(5001, 7);
    for (auto [bytes, length] : {std::pair<const void *, int>{"zz", 0}, {"zz", -1}, {nullptr, 3}}) {
        mark();
        EXPECT_EQ(zvdbAddResource(d, bytes, length), ZVDB_BAD_ARGUMENT);
        EXPECT_EQ(last(), ZVDB_BAD_ARGUMENT);
    }
    EXPECT_EQ(zvdbGetResourceDataLength(d), 0);
    EXPECT_EQ(raw(5001, 7).code, 408);
    EXPECT_EQ(zvdbAddResource(b, "again", 5), 405);
    EXPECT_EQ(last(), 405);
}

TEST_F(TableResourceTest, ReadsTakeRecordsWholeAndTheWalkEndsWith408) {
    bind_fixture();
    const std::string big(1000, 'b');
    ZVHANDLE w = alloc(5000, 0, "alpha");
    ASSERT_EQ(zvdbAddResource(w, "one", 3), 0);
    ASSERT_EQ(zvdbSetResourceNumber(w, 1), 0);
    ASSERT_EQ(zvdbSetResourceName(w, "beta"), 0);
    ASSERT_EQ(zvdbAddResource(w, big.data(), int32_t(big.size())), 0);
    ASSERT_EQ(zvdbSetResourceType(w, 5002), 0);
    ASSERT_EQ(zvdbSetResourceNumber(w, 9), 0);
    ASSERT_EQ(zvdbSetResourceName(w, nullptr), 0);
    ASSERT_EQ(zvdbAddResource(w, "z", 1), 0);

    ZVHANDLE h = alloc(0, 0);
    std::vector<std::tuple<uint32_t, uint32_t, std::string, std::string>> seen;
    int rc = zvdbFirstResource(h, 0);
    while (rc == 0) {
        seen.push_back(state(h));
        rc = zvdbNextResource(h, 0);
    }
    EXPECT_EQ(rc, 408);
    EXPECT_EQ(last(), 408);
    ASSERT_GE(seen.size(), 3u);
    const std::vector<std::tuple<uint32_t, uint32_t, std::string, std::string>> ours = {
        {5000, 0, "alpha", "one"}, {5000, 1, "beta", big}, {5002, 9, "", "z"}};
    EXPECT_EQ(std::vector(seen.end() - 3, seen.end()), ours);
    EXPECT_EQ(state(h), ours[2]) << "a walk past the last resource leaves the handle as it was";

    ASSERT_EQ(zvdbFindResourceByName(h, "beta", 0), 0);
    EXPECT_EQ(state(h), ours[1]);
    ASSERT_EQ(zvdbFindResource(h, 5000, 0, 0), 0);
    EXPECT_EQ(state(h), ours[0]);
    EXPECT_EQ(zvdbFindResource(h, 5000, 2, 0), 408);
    EXPECT_EQ(zvdbFindResourceByName(h, "gamma", 0), 408);
    EXPECT_EQ(zvdbFindResourceByName(h, nullptr, 0), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(state(h), ours[0]);
}

TEST_F(TableResourceTest, UpdateRewritesWholeAndDeleteRemoves) {
    bind_fixture();
    ZVHANDLE h = alloc(5000, 3, "grow");
    ASSERT_EQ(zvdbAddResource(h, "short", 5), 0);
    const std::string longer(3000, 'L');
    ASSERT_EQ(zvdbUpdateResource(h, longer.data(), int32_t(longer.size())), 0);
    ZVHANDLE r = alloc(0, 0);
    ASSERT_EQ(zvdbFindResource(r, 5000, 3, 0), 0);
    EXPECT_EQ(state(r), std::make_tuple(5000u, 3u, std::string("grow"), longer));
    EXPECT_EQ(raw(5000, 3).bytes.size(), 8 + 5 + longer.size());

    EXPECT_EQ(zvdbUpdateResource(h, nullptr, 4), ZVDB_BAD_ARGUMENT);
    ASSERT_EQ(zvdbDeleteResource(h), 0);
    EXPECT_EQ(zvdbGetResourceData(h), nullptr);
    EXPECT_EQ(zvdbGetResourceDataLength(h), 0);
    EXPECT_EQ(zvdbFindResource(r, 5000, 3, 0), 408);
    EXPECT_EQ(zvdbDeleteResource(h), 408);
    EXPECT_EQ(last(), 408);
    EXPECT_EQ(zvdbUpdateResource(h, "x", 1), 408);
}

TEST_F(TableResourceTest, BadHandlesAreNotKeptAndEngineCodesAre) {
    bind_fixture();
    ZVHANDLE field = zvdbGetField(table_, 0);
    ZVHANDLE h = alloc(5000, 1);
    mark();
    for (ZVHANDLE bad : {field, static_cast<ZVHANDLE>(nullptr)}) {
        const int code = bad ? ZVDB_BAD_RESOURCE : ZVDB_NULL_ARGUMENT;
        EXPECT_EQ(zvdbSetResourceType(bad, 1), code);
        EXPECT_EQ(zvdbSetResourceNumber(bad, 1), code);
        EXPECT_EQ(zvdbSetResourceName(bad, "n"), code);
        EXPECT_EQ(zvdbSetResourceData(bad, "d", 1), code);
        EXPECT_EQ(zvdbAddResource(bad, "d", 1), code);
        EXPECT_EQ(zvdbFirstResource(bad, 0), code);
        EXPECT_EQ(zvdbUnlockResource(bad), code);
        EXPECT_EQ(zvdbFreeResource(bad), ZVDB_BAD_RESOURCE);
        EXPECT_EQ(zvdbGetResourceType(bad), 0u);
        EXPECT_EQ(zvdbGetResourceName(bad), nullptr);
        EXPECT_EQ(zvdbIsResourceLocked(bad), 0);
    }
    EXPECT_EQ(last(), 7777);
    EXPECT_EQ(zvdbFindResource(h, 5000, 1, 0), 408);
    EXPECT_EQ(last(), 408);

    ZVHANDLE viafield = zvdbAllocResource(field, 1, 1, nullptr);
    ASSERT_NE(viafield, nullptr);
    EXPECT_EQ(zvdbGetTableHandle(viafield), table_);
    EXPECT_EQ(zvdbFreeResource(viafield), 0);
    mark();
    EXPECT_EQ(zvdbAllocResource(session_, 1, 1, nullptr), nullptr);
    EXPECT_EQ(last(), ZVDB_NO_TABLE);
}

TEST_F(TableResourceTest, LockedReadsHoldTheRecordUntilReleased) {
    bind_fixture();
    ZVHANDLE h = alloc(5000, 4, "locked");
    ASSERT_EQ(zvdbAddResource(h, "data", 4), 0);
    const uint64_t pos = raw(5000, 4).pos;
    ASSERT_NE(pos, 0u);
    auto *r = static_cast<tagZVDBRESOURCE *>(h);

    ASSERT_EQ(zvdbFindResource(h, 5000, 4, 1), 0);
    EXPECT_EQ(zvdbIsResourceLocked(h), 1);
    EXPECT_EQ(r->lockpos, pos);
    ASSERT_EQ(zvdbUnlockResource(h), 0);
    EXPECT_EQ(zvdbIsResourceLocked(h), 0);
    EXPECT_EQ(r->lockpos, 0u);
    EXPECT_EQ(zvdbUnlockResource(h), 0);

    ASSERT_EQ(zvdbFindResourceByName(h, "locked", 1), 0);
    EXPECT_EQ(r->lockpos, pos);
    ASSERT_EQ(zvdbFirstResource(h, 0), 0);
    EXPECT_EQ(zvdbIsResourceLocked(h), 0) << "an unlocked read releases the lock";
    ASSERT_EQ(zvdbFindResource(h, 5000, 4, 1), 0);
    ASSERT_EQ(zvdbUpdateResource(h, "more", 4), 0);
    EXPECT_EQ(zvdbIsResourceLocked(h), 0);
    ASSERT_EQ(zvdbFindResource(h, 5000, 4, 1), 0);
    EXPECT_EQ(zvdbFindResource(h, 5000, 99, 1), 408);
    EXPECT_EQ(zvdbIsResourceLocked(h), 0) << "a failed read leaves no lock behind";

    ZVHANDLE held = zvdbAllocResource(table_, 0, 0, nullptr);
    ASSERT_EQ(zvdbFindResource(held, 5000, 4, 1), 0);
    EXPECT_EQ(zvdbFreeResource(held), 0);
}

TEST_F(TableResourceTest, RecordsWithoutANameInsideAreRefusedWithTheHandleKept) {
    bind_fixture();
    ASSERT_EQ(put_raw(Image().host32(6000).host32(1).text("abc").bytes()), 0);
    ASSERT_EQ(put_raw(Image().host32(6000).host32(2).bytes()), 0);
    ZVHANDLE h = alloc(5000, 5, "kept");
    ASSERT_EQ(zvdbAddResource(h, "value", 5), 0);
    const auto before = state(h);
    for (uint32_t number : {1u, 2u}) {
        EXPECT_EQ(zvdbFindResource(h, 6000, number, 0), 407) << number;
        EXPECT_EQ(last(), 407);
        EXPECT_EQ(state(h), before);
    }
}

TEST_F(TableResourceTest, AFileWithoutResourcesAnswers401) {
    bind_bare();
    ZVHANDLE h = alloc(5000, 0);
    EXPECT_EQ(zvdbFirstResource(h, 0), 401);
    EXPECT_EQ(zvdbAddResource(h, "x", 1), 401);
}

}  // namespace

// Finds of record handles: the five find modes on a unique and on a
// duplicates index against a model of the table, target keys, key finds
// that read nothing, finds by row id, and the refusals.
#include <algorithm>
#include <cstring>
#include <string>

#include "engine/core/pools.h"
#include "recapi/records/nav.h"
#include "tests/recapi/records/navfix.h"

namespace rectest {
namespace {

// The answer a find of mode `mode` for `key` gives in a list sorted by key
// (equal keys in write order), as an index into it; -1 none. The model
// the engine's answers are checked against.
template <typename Key>
int64_t model_find(const std::vector<Key> &keys, const Key &key, int mode) {
    const auto lo = std::lower_bound(keys.begin(), keys.end(), key) - keys.begin();
    const auto hi = std::upper_bound(keys.begin(), keys.end(), key) - keys.begin();
    const int64_t n = int64_t(keys.size());
    switch (mode) {
    case 0: return lo < hi ? lo : -1;       // the first equal key
    case 1: return lo > 0 ? lo - 1 : -1;    // the last key below
    case 2: return hi > 0 ? hi - 1 : -1;    // the last key at or below
    case 3: return hi < n ? hi : -1;        // the first key above
    default: return lo < n ? lo : -1;       // the first key at or above
    }
}

class FindTest : public CityTest {
protected:
    void SetUp() override {
        CityTest::SetUp();
        make_cities();
        // A gap in the ids: 500 lies between two keys.
        tagZVDBRECORD *r = record();
        ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, 500), 0);
        ASSERT_EQ(zvdbFindRecord(r, 0), 0);
        ASSERT_EQ(zvdbDeleteRecord(r), 0);
        rows_.erase(std::find_if(rows_.begin(), rows_.end(), [](const CityRow &c) { return c.id == 500; }));
    }
};

TEST_F(FindTest, FiveModesOnAUniqueIndex) {
    tagZVDBRECORD *r = record();
    const std::vector<int32_t> ids = by_id();
    // Present, absent between two keys, below the first, above the last.
    for (int32_t key : {250, 500, 0, 1001, 1, 1000}) {
        for (int mode = 0; mode <= 4; mode++) {
            SCOPED_TRACE(testing::Message() << "id " << key << " mode " << mode);
            ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, key), 0);
            const int64_t want = model_find(ids, key, mode);
            EXPECT_EQ(zvdbFindRecord(r, mode), want < 0 ? ZV_INOT_ERR : 0);
            if (want >= 0) {
                EXPECT_EQ(id_of(r), ids[size_t(want)]);
                EXPECT_EQ(city_of(r), city_for(ids[size_t(want)]));
                // The find continues the order from the record found.
                if (size_t(want) + 1 < ids.size()) {
                    ASSERT_EQ(zvdbNextRecord(r), 0);
                    EXPECT_EQ(id_of(r), ids[size_t(want) + 1]);
                }
            }
        }
    }
}

TEST_F(FindTest, FiveModesOnADuplicatesIndex) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetDefaultIndex(r, kByCity), 0);
    const std::vector<int32_t> ids = by_city();
    std::vector<std::string> keys;
    for (int32_t id : ids) keys.push_back(city_for(id));
    for (const char *city : {"Davos", "Daxx", "A", "Zug", "Aarau", "Jona"}) {
        for (int mode = 0; mode <= 4; mode++) {
            SCOPED_TRACE(testing::Message() << city << " mode " << mode);
            ASSERT_EQ(zvdbSetFieldAsString(r, kCity, city), 0);
            const int64_t want = model_find(keys, std::string(city), mode);
            EXPECT_EQ(zvdbFindRecord(r, mode), want < 0 ? ZV_INOT_ERR : 0);
            if (want >= 0) {
                EXPECT_EQ(id_of(r), ids[size_t(want)]);
            }
        }
    }
    // Modes 0 and 4 give the first record of a city by position, 2 its
    // last, 3 the first of the next city: every duplicate is passed.
    ASSERT_EQ(zvdbSetFieldAsString(r, kCity, "Chur"), 0);
    ASSERT_EQ(zvdbFindRecord(r, 0), 0);
    uint64_t first = 0, pos = 0;
    ASSERT_EQ(zvdbGetRecordPos(r, &first), 0);
    while (zvdbPrevRecord(r) == 0 && city_of(r) == "Chur") {
        ASSERT_EQ(zvdbGetRecordPos(r, &pos), 0);
        EXPECT_GT(first, pos);
    }
}

TEST_F(FindTest, RefusalsNeverReportAMatch) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, 7), 0);
    mark();
    EXPECT_EQ(zvdbFindRecord(r, 5), ZVDB_BAD_FIND_MODE);
    EXPECT_EQ(last(), ZVDB_BAD_FIND_MODE);
    EXPECT_EQ(zvdbFindRecord(r, -1), ZVDB_BAD_FIND_MODE);
    ASSERT_EQ(zvdbSetDefaultIndex(r, ZVDB_INDEX_PHYSICAL), 0);
    EXPECT_EQ(zvdbFindRecord(r, 0), 80);
    // The full-text index has no key in this library: 4048, never 0.
    ASSERT_EQ(zvdbSetDefaultIndex(r, ZVDB_INDEX_FULLTEXT), 0);
    mark();
    EXPECT_EQ(zvdbFindRecord(r, 0), ZVDB_NO_INDEX_USE);
    EXPECT_EQ(last(), ZVDB_NO_INDEX_USE);
    uint64_t pos = 0;
    EXPECT_EQ(zvdbFindKey(r, &pos, 0), ZVDB_NO_INDEX_USE);
    char key[16];
    int32_t length = sizeof key;
    EXPECT_EQ(zvdbBuildTargetKey(r, 0, key, &length), ZVDB_NO_INDEX_USE);
    EXPECT_EQ(zvdbIsNewRecord(r), 1);
    // An index without files: the same.
    ASSERT_EQ(zvdbSetDefaultIndex(r, kByCity), 0);
    auto *ix = static_cast<tagZVDBINDEX *>(zvdbGetIndex(table_, kByCity));
    const int16_t idxno = ix->idxno;
    ix->idxno = -1;
    EXPECT_EQ(zvdbFindRecord(r, 0), ZVDB_NO_INDEX_USE);
    ix->idxno = idxno;
}

TEST_F(CityTest, ATableWithoutIndexesHasNothingToFind) {
    create_table("bare", {{"id", ZV_INT4, 0}, {"city", ZV_FSTRING, 12}}, 32 | 64);
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, 1), 0);
    ASSERT_EQ(zvdbWriteRecord(r), 0);
    EXPECT_EQ(zvdbFindRecord(r, 0), ZVDB_NO_INDEX_USE);
    char key[8];
    int32_t length = sizeof key;
    EXPECT_EQ(zvdbBuildTargetKey(r, 0, key, &length), ZVDB_NO_INDEX_USE);
    // Physical order still reads it.
    ASSERT_EQ(zvdbSetDefaultIndex(r, ZVDB_INDEX_PHYSICAL), 0);
    ASSERT_EQ(zvdbFirstRecord(r), 0);
    EXPECT_EQ(id_of(r), 1);
}

TEST_F(FindTest, TargetKeysAndKeyFinds) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, 321), 0);
    unsigned char one[1];
    int32_t length = 1;
    mark();
    EXPECT_EQ(zvdbBuildTargetKey(r, 0, one, &length), ZVDB_BUFFER_SMALL);
    EXPECT_EQ(length, 4);
    EXPECT_EQ(last(), ZVDB_BUFFER_SMALL);
    EXPECT_EQ(zvdbBuildTargetKey(r, 0, nullptr, &length), ZVDB_BAD_KIND);
    unsigned char key[4];
    length = sizeof key;
    ASSERT_EQ(zvdbBuildTargetKey(r, 0, key, &length), 0);
    EXPECT_EQ(length, 4);
    // A caller's target key finds as the record's own.
    tagZVDBRECORD *other = record();
    ASSERT_EQ(zvdbFindTarget(other, key, 0), 0);
    EXPECT_EQ(id_of(other), 321);
    EXPECT_EQ(zvdbFindTarget(other, nullptr, 0), ZVDB_NULL_ARGUMENT);

    // A key find answers the position and leaves the image alone.
    ASSERT_EQ(zvdbSetFieldAsSigned(other, kId, 654), 0);
    const std::vector<unsigned char> before = image(other);
    uint64_t found = 0, pos = 0;
    ASSERT_EQ(zvdbFindKey(other, &found, 0), 0);
    EXPECT_EQ(image(other), before);
    EXPECT_EQ(id_of(other), 654);
    unsigned char key654[4];
    length = sizeof key654;
    ASSERT_EQ(zvdbBuildTargetKey(other, 0, key654, &length), 0);
    EXPECT_EQ(std::memcmp(zvdbGetKeyval(other), key654, 4), 0);
    ASSERT_EQ(zvdbFindRecord(other, 0), 0);
    ASSERT_EQ(zvdbGetRecordPos(other, &pos), 0);
    EXPECT_EQ(found, pos);
    ASSERT_EQ(zvdbSetFieldAsSigned(other, kId, 500), 0);
    EXPECT_EQ(zvdbFindKey(other, &found, 0), ZV_INOT_ERR);
    EXPECT_EQ(zvdbFindKey(other, nullptr, 0), ZVDB_NULL_ARGUMENT);
    ASSERT_EQ(zvdbFindTargetKey(other, key, &found, 0), 0);
    ASSERT_EQ(zvdbFindRecord(r, 0), 0);
    ASSERT_EQ(zvdbGetRecordPos(r, &pos), 0);
    EXPECT_EQ(found, pos);

    // Equality on the duplicates index by key: the first of the city; a
    // city absent gives 101, not its neighbour.
    ASSERT_EQ(zvdbSetDefaultIndex(other, kByCity), 0);
    ASSERT_EQ(zvdbSetFieldAsString(other, kCity, "Horw"), 0);
    ASSERT_EQ(zvdbFindKey(other, &found, 0), 0);
    ASSERT_EQ(zvdbFindRecord(other, 0), 0);
    ASSERT_EQ(zvdbGetRecordPos(other, &pos), 0);
    EXPECT_EQ(found, pos);
    ASSERT_EQ(zvdbSetFieldAsString(other, kCity, "Hx"), 0);
    EXPECT_EQ(zvdbFindKey(other, &found, 0), ZV_INOT_ERR);
    EXPECT_EQ(zvdbFindRecord(other, 0), ZV_INOT_ERR);
    EXPECT_EQ(zvdbGetRecordPos(other, &found), 0);
    EXPECT_EQ(found, pos);

    // Key moves give the positions in key order.
    uint64_t first = 0, second = 0;
    ASSERT_EQ(zvdbFirstRecord(r), 0);
    ASSERT_EQ(zvdbGetRecordPos(r, &first), 0);
    ASSERT_EQ(zvdbNextRecord(r), 0);
    ASSERT_EQ(zvdbGetRecordPos(r, &second), 0);
    ASSERT_EQ(zvdbSetDefaultIndex(other, kPk), 0);
    ASSERT_EQ(zvdbFirstKey(other, &found), 0);
    EXPECT_EQ(found, first);
    ASSERT_EQ(zvdbNextKey(other, &found), 0);
    EXPECT_EQ(found, second);
    ASSERT_EQ(zvdbPrevKey(other, &found), 0);
    EXPECT_EQ(found, first);
    ASSERT_EQ(zvdbLastKey(other, &found), 0);
    EXPECT_EQ(zvdbNextKey(other, &found), ZV_INOT_ERR);
}

TEST_F(FindTest, FindByRowidKeepsTheDefaultIndex) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetDefaultIndex(r, ZVDB_INDEX_PHYSICAL), 0);
    ASSERT_EQ(zvdbFirstRecord(r), 0);
    ASSERT_EQ(zvdbJumpToRecord(r, 499), 0);
    ZVBIGINT rowid = 0;
    ASSERT_EQ(zvdbGetRowid(r, &rowid), 0);
    const int32_t id = id_of(r);
    tagZVDBRECORD *f = record();
    ASSERT_EQ(zvdbSetDefaultIndex(f, kByCity), 0);
    ASSERT_EQ(zvdbFindRowid(f, rowid, 0), 0);
    EXPECT_EQ(id_of(f), id);
    EXPECT_EQ(zvdbGetDefaultIndex(f), kByCity);
    EXPECT_EQ(zvdbFindRowid(f, 5000, 0), ZV_INOT_ERR);
    EXPECT_EQ(zvdbGetDefaultIndex(f), kByCity);
}

// A key read that fails during an equality find on a duplicates index is
// reported, never taken for a match.
TEST_F(FindTest, AFailingCurrentKeyIsNoMatch) {
    tagZVDBRECORD *r = record();
    ASSERT_EQ(zvdbSetDefaultIndex(r, kByCity), 0);
    ASSERT_EQ(zvdbSwitchContext(r), 0);
    const unsigned char key[16] = {};
    // The data file has no key of its own: the engine's "not an index".
    EXPECT_EQ(zv::current_key_matches(table_->datno, key, 12), 48);
    // The index's own current key compares.
    ASSERT_EQ(zvdbSetFieldAsString(r, kCity, "Ins"), 0);
    ASSERT_EQ(zvdbFindRecord(r, 0), 0);
    const int keyno = zvdbGetIdxnoByNumber(table_, kByCity);
    EXPECT_EQ(zv::current_key_matches(keyno, static_cast<unsigned char *>(zvdbGetKeyval(r)), 12), 0);
    EXPECT_EQ(zv::current_key_matches(keyno, key, 12), ZV_INOT_ERR);
}

// Once the cache holds the table, a find and a walk with the typed reads
// of every field take no memory: the record, its key area and the engine's
// buffers serve each call.
TEST_F(FindTest, CachedReadsAndTheirFieldReadsAllocateNothing) {
    tagZVDBRECORD *r = record();
    char city[16] = {}, binary[16] = {};
    ZVMONEY amount = 0;
    auto read_fields = [&](int32_t id) {
        EXPECT_EQ(id_of(r), id);
        ASSERT_EQ(zvdbGetFieldAsString(r, kCity, city, sizeof city), 0);
        EXPECT_EQ(city, city_for(id));
        ASSERT_EQ(zvdbGetFieldAsMoney(r, kAmount, &amount), 0);
        EXPECT_EQ(amount, id * 100);
        std::memset(binary, 0, sizeof binary);
        ASSERT_EQ(zvdbGetFieldAsBinary(r, kCity, binary, sizeof binary), 0);
        EXPECT_EQ(std::string(binary), city_for(id));
    };
    // The first find makes the record's key area.
    ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, 1), 0);
    ASSERT_EQ(zvdbFindRecord(r, 0), 0);
    const uint64_t allocs = zv::platform_alloc_count();
    for (int32_t id = 2; id < 200; id += 3) {
        ASSERT_EQ(zvdbSetFieldAsSigned(r, kId, id), 0);
        ASSERT_EQ(zvdbFindRecord(r, 0), 0) << id;
        read_fields(id);
    }
    ASSERT_EQ(zvdbSetDefaultIndex(r, kByCity), 0);
    ASSERT_EQ(zvdbFirstRecord(r), 0);
    for (int i = 0; i < 50; i++) {
        read_fields(id_of(r));
        ASSERT_EQ(zvdbNextRecord(r), 0);
    }
    EXPECT_EQ(zv::platform_alloc_count(), allocs);
}

}  // namespace
}  // namespace rectest

#include "tests/recapi/records/navfix.h"

#include <algorithm>
#include <numeric>
#include <random>

namespace rectest {

const std::vector<std::string> &CityTest::cities() {
    static const std::vector<std::string> names = {"Aarau", "Basel",  "Chur", "Davos", "Emmen",
                                                   "Frick", "Glarus", "Horw", "Ins",   "Jona"};
    return names;
}

std::string CityTest::city_for(int32_t id) { return cities()[size_t(id * 7 % 10)]; }

void CityTest::make_cities(uint32_t createmode, int32_t count) {
    create_table("cities", {{"id", ZV_INT4, 0}, {"city", ZV_FSTRING, 12}, {"amount", ZV_MONEY, 0}}, createmode,
                 {{"pk", kId, 0}, {"bycity", kCity, 1}});
    std::vector<int32_t> ids(static_cast<size_t>(count));
    std::iota(ids.begin(), ids.end(), 1);
    std::shuffle(ids.begin(), ids.end(), std::mt19937(1));
    for (int32_t id : ids) ASSERT_EQ(add_city(id, city_for(id), id * 100), 0) << id;
}

void CityTest::small_caches(int32_t nodes, int32_t pages) {
    ASSERT_EQ(zvdbLogout(session_), 0);
    ASSERT_EQ(zvdbSetSessionParams(session_, 1, nodes), 0);
    ASSERT_EQ(zvdbSetSessionParams(session_, 4, pages), 0);
    ASSERT_EQ(zvdbLogon(session_, nullptr, "tester", nullptr), 0);
}

int CityTest::add_city(int32_t id, const std::string &city, int32_t amount) {
    auto *r = static_cast<tagZVDBRECORD *>(zvdbAllocRecord(table_));
    if (!r) return last();
    int rc = zvdbSetFieldAsSigned(r, kId, id);
    if (rc == 0) rc = zvdbSetFieldAsString(r, kCity, city.c_str());
    if (rc == 0) rc = zvdbSetFieldAsMoney(r, kAmount, amount);
    if (rc == 0) rc = zvdbWriteRecord(r);
    if (rc == 0) rows_.push_back({id, city});
    zvdbFreeRecord(r);
    return rc;
}

int32_t CityTest::id_of(tagZVDBRECORD *r) {
    int32_t v = -1;
    EXPECT_EQ(zvdbGetFieldAsSigned(r, kId, &v), 0);
    return v;
}

std::string CityTest::city_of(tagZVDBRECORD *r) {
    char text[32] = {};
    EXPECT_EQ(zvdbGetFieldAsString(r, kCity, text, sizeof text), 0);
    return text;
}

std::vector<int32_t> CityTest::walk(tagZVDBRECORD *r, bool forward, int *end) {
    std::vector<int32_t> ids;
    int rc = forward ? zvdbFirstRecord(r) : zvdbLastRecord(r);
    while (rc == 0) {
        ids.push_back(id_of(r));
        rc = forward ? zvdbNextRecord(r) : zvdbPrevRecord(r);
    }
    if (end) *end = rc;
    return ids;
}

std::vector<int32_t> CityTest::by_id() const {
    std::vector<int32_t> ids = by_write();
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::vector<int32_t> CityTest::by_city() const {
    std::vector<size_t> order(rows_.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return rows_[a].city < rows_[b].city; });
    std::vector<int32_t> ids;
    for (size_t i : order) ids.push_back(rows_[i].id);
    return ids;
}

std::vector<int32_t> CityTest::by_write() const {
    std::vector<int32_t> ids;
    for (const CityRow &row : rows_) ids.push_back(row.id);
    return ids;
}

}  // namespace rectest

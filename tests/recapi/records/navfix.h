// Fixture of the navigation, search and write tests: the city table, a
// fixed-length table of id ZV_INT4 (unique index "pk"), city ZV_FSTRING 12
// (index "bycity" with duplicates) and amount ZV_MONEY, filled through
// zvdbWriteRecord in a shuffled id order, with the model of what it holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/recapi/records/recfix.h"

namespace rectest {

// Field numbers of the city table.
enum CityField : int32_t { kId = 0, kCity = 1, kAmount = 2 };
// Index numbers of the city table.
enum CityIndex : int32_t { kPk = 0, kByCity = 1 };

// One record written: its id and city, in write order.
struct CityRow {
    int32_t id;
    std::string city;
};

class CityTest : public RecordTest {
protected:
    // Creates the city table "cities" through zvdbCreateTable with the
    // create bits, opens it and writes `count`
    // records with ids 1..count in a shuffled order; cities cycle through
    // ten names by id. The rows go to rows_ in write order.
    void make_cities(uint32_t createmode = 0, int32_t count = 1000);
    // Logs the session on again with caches of `nodes` index nodes and
    // `pages` data pages, small enough that the engine's reads and writes
    // reach the disk inside the calls that need them.
    void small_caches(int32_t nodes, int32_t pages);
    // Writes one new record with these values through a record of its own:
    // the write's code.
    int add_city(int32_t id, const std::string &city, int32_t amount = 0);

    // The record's id and city fields.
    static int32_t id_of(tagZVDBRECORD *r);
    static std::string city_of(tagZVDBRECORD *r);
    // The ten cities, and the city of an id.
    static const std::vector<std::string> &cities();
    static std::string city_for(int32_t id);

    // The ids read by first (then next), or by last (then previous), until
    // the first failing code, which goes to *end when given.
    static std::vector<int32_t> walk(tagZVDBRECORD *r, bool forward, int *end = nullptr);
    // The ids of the model in id order, in city order (equal cities in
    // write order), and in write order.
    std::vector<int32_t> by_id() const;
    std::vector<int32_t> by_city() const;
    std::vector<int32_t> by_write() const;

    std::vector<CityRow> rows_;
};

}  // namespace rectest

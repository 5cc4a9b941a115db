// The set checker: whether an open data file and its indexes agree.
//
// It walks the data file physically on its own (record slots of a
// fixed-length file, areas of a variable-length one; resources, deleted
// slots and free areas passed over) and for every live record forms the
// key of every index of the data file's active list: the record must have
// exactly that key, and EQLKEY on it must give the record's position. Each
// index must then hold as many entries as records have keys in it, and a
// fixed-length file's active count must equal its live records.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zvtest {

// What a set holds: its live records by position, its active count (fixed
// length only; 0 otherwise) and the entry count of each index.
struct SetState {
    std::map<uint64_t, std::string> records;
    uint64_t datent = 0;
    std::vector<uint64_t> idxent;
    bool operator==(const SetState &o) const {
        return records == o.records && datent == o.datent && idxent == o.idxent;
    }
    bool operator!=(const SetState &o) const { return !(*this == o); }
};

// Empty when data file datno and its indexes agree; otherwise what is wrong
// (the first few findings). The state found goes to *state when given.
std::string check_set(int datno, SetState *state = nullptr);

}  // namespace zvtest

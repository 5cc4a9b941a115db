// A data file of fixed-length records with indexes defined in the ISAM key
// map, for the tests of sets, ranges, current keys and distinct counts;
// and the reference answers they are compared with.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/engine/index/idxfix.h"

namespace navtest {

constexpr int kDat = 1;

// A record: a tag byte, two signed 32-bit integers a and b (little-endian),
// a text, a unique id and padding; 32 bytes. The tag keeps the first byte
// of a live record away from 0xFF and 0xFE, which mark deleted records and
// resources in a fixed-length data file.
struct Rec {
    char tag[4];
    int32_t a;
    int32_t b;
    char text[8];
    uint32_t id;
    char pad[8];
};
static_assert(sizeof(Rec) == 32, "test record is 32 bytes");

// Segment of an index: record offset, length, mode.
struct Seg {
    int off, len, mode;
};
constexpr int kInt = 8;         // signed integer segment
constexpr int kDesc = 0x10;     // descending

// Record offsets of the fields.
constexpr int kA = 4, kB = 8, kText = 12, kId = 20;

// One entry of an index: its key, its record position and its record.
struct Item {
    std::string key;
    uint32_t pos;
    Rec rec;
};

class NavTest : public idxtest::IndexTest {
protected:
    void SetUp() override;
    // Restarts the engine with another profile word (bit 1: targets in key
    // form; bit 32: integers byte-reversed) and an empty data file.
    void restart_with_profile(int profile);
    // Creates index ixno over segs of the data file (dup 1: duplicates;
    // the key length includes the position suffix).
    void make_index(int ixno, const std::vector<Seg> &segs, int dup = 1, bool ext = true);
    // Writes a record and adds its key to every index made: its position.
    uint32_t add_record(const Rec &r);
    // The key index ixno forms for record r at position pos.
    std::string key_of(int ixno, const Rec &r, uint32_t pos);
    // Every entry of index ixno in key order, formed from the records.
    std::vector<Item> entries(int ixno);
    // A record with these fields (text from id).
    static Rec rec(int32_t a, int32_t b, uint32_t id);
    // Reads a set or range to its end with one call (first) and then the
    // stepping call until it answers 101: the ids read, and the last code.
    std::vector<uint32_t> walk(const std::function<int(Rec *)> &first, const std::function<int(Rec *)> &next,
                               int *last = nullptr);

    std::vector<int> indexes_;
    std::vector<Rec> recs_;
    std::vector<uint32_t> pos_;
};

// Sets the data file's record filter to the condition `pass` over the
// fields tag, a, b, text, id and pad of Rec (an empty text lets every
// record pass), counting the records it sees; clear_filter removes it.
void set_filter(const std::string &pass);
void clear_filter();
// Records the filter has seen since set_filter (one per record read).
long filter_calls();

}  // namespace navtest

// Fixture of the compaction tests: the rebuild's sets (a unique index and a
// member index with duplicates in one file, a unique index in a file of its
// own), filled with records of which a share is deleted, the set's files as
// bytes, and physical walks of a data file.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/engine/maint/rblfix.h"

namespace cmptest {

using rbltest::Kind;
using rbltest::RblSet;

// Every file of the directory but the status log, by name: its bytes.
using Files = std::map<std::string, std::string>;

class CmpTest : public rbltest::RblTest {
protected:
    void TearDown() override;
    // Creates the set, adds the application resources (the data file's and
    // the first index file's), n records (record k has number k * 10; in a
    // variable-length set a tail of k % 9 * 11 bytes), deletes every record
    // whose k is a multiple of `gap` and closes the set. The images of the
    // live records in file order.
    std::vector<std::string> fill(RblSet &s, uint32_t n, uint32_t gap);
    // A large fixed-length set made faster: n records written without their
    // keys, all but every keep-th freed again, then the set rebuilt. The
    // live records in file order.
    std::vector<std::string> fill_raw(RblSet &s, uint32_t n, uint32_t keep);
    // The set compacted with these options in tfilno (CMPIFIL for a
    // fixed-length set, else CMPIFILX8 with the set's create blocks).
    static int compact(RblSet &s, int16_t options = -1);
    // Options in their bit form.
    static int16_t bits(int b) { return int16_t(-(0x4000 + b)); }
    static Files files();
    // Makes the directory hold exactly these files (the status log aside).
    static void put_files(const Files &f);
    // The set opened, checked and closed: the checker's verdict (empty when
    // the set agrees) and the live records in file order.
    std::vector<std::string> in_order(RblSet &s, std::string *verdict);
    // The record slots of a fixed-length data file from its first record
    // position to its last byte used (one string of the record length
    // each; resource areas passed over), read from the closed file's bytes.
    static std::vector<std::string> slots(RblSet &s);
    // The status-log messages that begin with "Compact:", in order.
    static std::vector<std::string> compact_lines();
};

}  // namespace cmptest

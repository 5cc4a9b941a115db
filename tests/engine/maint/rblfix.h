// Fixture of the rebuild tests: sets of fixed-length, variable-length and
// 8-byte-offset records with three indexes (a unique one, a member index
// with duplicates, and a unique one in a file of its own), built, closed
// and compared before and after a rebuild, and the capture of the
// rebuild's progress routine.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/support/setcheck.h"
#include "zarvo/zarvo.h"

namespace rbltest {

// A record of 64 bytes (the fixed part of a variable-length one). The tag
// keeps the first byte away from the marks of deleted records.
struct Rec {
    char tag[4];
    uint32_t number;  // index 0: unique
    char city[20];    // index 1: duplicates, member of index 0's file
    char name[24];    // index 2: unique, a file of its own
    uint32_t amount;  // the identity field of a set that has one
    char pad[8];
};
static_assert(sizeof(Rec) == 64, "a record is 64 bytes");

Rec rec(uint32_t n);
// The record schema of Rec (six fields).
extern const DATOBJ kRecDoda[6];
// The bytes of r with a variable tail of `tail` bytes.
std::string image(const Rec &r, size_t tail = 0);

// Encrypted: a fixed-length set whose files are encrypted at rest (AES,
// under the master password the fixture sets for it).
enum class Kind { Fixed, Variable, Wide, Encrypted };
const char *kind_name(Kind k);

// The set `name`: <name>.dat, indexes 0 and 1 in <name>.idx, index 2 in
// <name>_nm.idx.
struct RblSet {
    ISEG s0[1] = {{4, 4, 1}};
    ISEG s1[1] = {{8, 20, 0}};
    ISEG s2[1] = {{28, 24, 0}};
    IIDX idx[3] = {};
    IFIL ifil = {};
    XCREblk x[3] = {};
    Kind kind;
    std::string name, aidx;
    RblSet(const char *name, Kind kind);
    RblSet(const RblSet &) = delete;
    RblSet &operator=(const RblSet &) = delete;
    std::string dat() const { return name + ".dat"; }
    std::string idxfile() const { return name + ".idx"; }
    std::string nm() const { return name + "_nm.idx"; }
    bool wide() const { return kind == Kind::Wide; }
    bool variable() const { return kind == Kind::Variable; }
    bool encrypted() const { return kind == Kind::Encrypted; }
    // Creates the set and leaves it open: its data file number.
    int create();
    // The set's rebuild with these options in tfilno.
    int rebuild(int16_t options = -1);
};

// The body of the application resource of a test: type 6000, the number,
// a name and some data.
std::string app_resource(uint32_t number, const std::string &data);

// What the progress routine received: (count, code, text) per call.
struct Progress {
    uint32_t count;
    int32_t code;
    std::string text;
};
std::vector<Progress> &progress();
int progress_cb(uint32_t count, int32_t code, const char *text);

// Start-up profile: targets in record-field form, integers in host order.
constexpr int kProfile = 32;

class RblTest : public zvtest::ZvTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Sets the master password the encrypted sets need; called before
    // SetUp by the tests that make such sets.
    static void with_encryption();
    // The class of a file's encryption from its security record on disk
    // (0: none).
    static int32_t cipher_class(const std::string &file);
    // Adds the application resources to the data file and the first index
    // file (and, for a variable-length set, an identity field), then n
    // records (record k with a tail of k % 9 * 11 bytes in a
    // variable-length set), deletes every seventh again and closes the set.
    // The images of the live records.
    std::multiset<std::string> build(RblSet &s, uint32_t n);
    // build(), then the set opened, checked (the test fails on a finding)
    // and closed again: the state the set checker found.
    zvtest::SetState built(RblSet &s, uint32_t n);
    // Opens the set and checks it: its records, the set checker's verdict.
    std::multiset<std::string> contents(RblSet &s, std::string *verdict, zvtest::SetState *state = nullptr);
    // Opens the set and verifies the structure of each of its indexes
    // (every check of zvVERIFYidx): true when all answer 0.
    static bool indexes_verify(RblSet &s);
    // The status log so far, and its messages one per entry.
    static std::string status_log();
    static std::vector<std::string> log_messages();
    // The message of the entry after the last one that holds text ("" when
    // none).
    static std::string entry_after(const std::string &text, int skip = 0);
    // Temporary files left in the directory (names not of the sets').
    static std::vector<std::string> strays(const std::vector<std::string> &keep);
    // The records of a set through its first index (also for superfile
    // members, which the set checker does not read), of the open set
    // (datno) or, with -1, of the set opened and closed for it.
    static std::multiset<std::string> records_of(RblSet &s, int datno = -1);
    // The position of the identity resource (type 11, number 1) of a closed
    // set's data file; the test fails when there is none.
    static uint32_t identity_resource(RblSet &s);
    // The resource (type 6000, number) of an open file, or "" when none.
    static std::string resource_of(int filno, uint32_t number);
};

}  // namespace rbltest

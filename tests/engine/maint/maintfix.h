// Fixture of the maintenance tests: an engine started under the ISAM layer
// in a fresh directory, capture of the verification's output, progress and
// error routines, and raw access to index files for hand-made damage.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "zarvo/zarvo.h"

namespace mainttest {

// What the routines of a run received, in order. Events appear as
// "event N P"; errors as "error CODE: text".
struct Capture {
    std::vector<std::string> lines;
    int stop_at_event = 0;      // the progress routine answers 1 at this event
    int error_answer = 0;       // what the error routine answers
    std::string joined() const;
    bool has(const std::string &text) const;
    int count(const std::string &text) const;
};
// The capture the routines below fill (one run at a time).
Capture &cap();
int out_routine(const char *text);
int progress_routine(int event, int percent);
int error_routine(VERIFYERR *err, const char *text);

// Everything the engine prints on its standard output while fn runs.
template <class F>
std::string stdout_of(F fn);
std::string stdout_of_call(void (*fn)(void *), void *ctx);

// An index file opened raw for patching: the bytes of a closed index and
// its node geometry (4-byte positions, unique keys).
struct RawIndex {
    std::string bytes;
    uint32_t node = 512;
    int32_t keylen = 8;
    explicit RawIndex(const std::string &file, int32_t keylen = 8, uint32_t node = 512);
    void save(const std::string &file) const;
    uint32_t get32(size_t off) const;
    void put32(size_t off, uint32_t v);
    uint16_t get16(size_t off) const;
    void put16(size_t off, uint16_t v);
    uint32_t root() const { return get32(28); }
    uint32_t delstk() const { return get32(4); }
    uint32_t succ(uint32_t n) const { return get32(n); }
    uint32_t pred(uint32_t n) const { return get32(n + 4); }
    int nkv(uint32_t n) const { return get16(n + 8); }
    bool leaf(uint32_t n) const { return bytes[n + 17] == 1; }
    // Element i (1-based) of a node: its pointer and where it lies.
    size_t elem(uint32_t n, int i) const { return n + 18 + size_t(i - 1) * size_t(4 + keylen); }
    uint32_t child(uint32_t n, int i) const { return get32(elem(n, i)); }
    void set_child(uint32_t n, int i, uint32_t v) { put32(elem(n, i), v); }
    // Nodes of each level from the root, left to right, by the child pointers.
    std::vector<std::vector<uint32_t>> levels() const;
};

// Big-endian 8-byte key of v (sorts as v does).
std::string key8(uint64_t v);

class MaintTest : public zvtest::ZvTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Creates index `name` on filno with n keys key8(i * 3) at positions
    // 1000 + i and leaves it open.
    void make_index(int filno, const std::string &name, int n, int32_t keylen = 8);
};

template <class F>
std::string stdout_of(F fn) {
    return stdout_of_call([](void *c) { (*static_cast<F *>(c))(); }, &fn);
}

}  // namespace mainttest

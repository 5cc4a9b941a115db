// Index files for the index engine's tests: creation, open and close
// through the file layer's calls, a simulated process end, a fixture that
// starts an engine, and helpers for keys.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/fixture.h"

struct FCB;

namespace idxtest {

// What a test index looks like.
struct IndexShape {
    int32_t keylen = 8;     // key length (a duplicate-key index includes its position suffix)
    int keytype = 0;        // 4 leading, 8 trailing compression
    int dup = 0;            // 0 unique, 1 duplicate keys
    bool wide = false;      // 8-byte positions (extended header)
    bool ext = true;        // extended header (keeps the level count)
    int32_t sect = 4;       // node size in units of 128 bytes (the engine's, see restart)
    uint16_t mode = 0;      // file mode (0x40 write through)
    uint32_t memory = 0;    // a memory file of this many bytes (nodes are records)
};

// Creates index `name` on file number filno (CREIDXX8) and leaves it open.
// 0 or an error code; 11 when shape.sect is not the engine's node size.
int create_index(int filno, const std::string &name, const IndexShape &shape);
// Opens an existing index (OPNFIL): 0; 14 when it was not closed cleanly
// (open mode 0x4000 accepts it, marked 'R').
int open_index(int filno, const std::string &name, uint16_t openmode = 0);
// Closes (CLSFIL): changed nodes written, the update flag cleared. The
// number is free afterwards in every case. 0 or the error.
int close_index(int filno);
// Ends the file as a process end would: nothing more is written, the
// cached nodes are dropped and the number is free.
void drop_index(int filno);
// The open FCB of a number.
FCB *fcb_of(int filno);

// Big-endian integer key of keylen bytes (value in the last 8 bytes, the
// rest filled with fill).
std::string int_key(uint64_t v, int32_t keylen, char fill = 'k');
// Every (key, position) of the index in order, read with FRSKEY/NXTKEY.
struct Entry {
    std::string key;
    uint64_t pos;
    bool operator==(const Entry &o) const { return key == o.key && pos == o.pos; }
    bool operator<(const Entry &o) const { return key < o.key || (key == o.key && pos < o.pos); }
};
std::vector<Entry> scan(int filno);
// Adds and deletes with 64-bit positions.
int add(int filno, const std::string &key, uint64_t pos, int mode = 0);
int del(int filno, const std::string &key, uint64_t pos);
// The checker's finding: empty when the index is sound.
std::string check(int filno);
// Lines of the status log.
std::vector<std::string> log_lines();

// Fixture: a started engine (bufs index buffers) in a fresh directory.
class IndexTest : public zvtest::ZvTest {
protected:
    void SetUp() override;
    void TearDown() override;
    void restart(int bufs, int sect = 4);
};

}  // namespace idxtest

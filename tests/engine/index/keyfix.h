// Key formation tests: a data file and its indexes defined through the
// segment calls of the key map, record-schema maps, and helpers that form
// keys and read them back.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/fcb.h"
#include "tests/engine/index/idxfix.h"
#include "zarvo/zarvo.h"

namespace keytest {

using Bytes = std::vector<unsigned char>;

// A record-schema block (the schema map's form): head with the alignment,
// delimiter and pad byte, then one entry per (length, type) field.
Bytes schema_block(int align, int delim, int pad, const std::vector<std::pair<int, int>> &fields);

// Little-endian bytes of a value.
template <class T>
Bytes le(T v) {
    Bytes b(sizeof v);
    memcpy(b.data(), &v, sizeof v);
    return b;
}

class KeyTest : public idxtest::IndexTest {
protected:
    // A fixed-length data file on datno, open, with resources.
    void make_data(int datno, uint16_t reclen, const char *name = "k.dat");
    // An index on keyno (resources enabled) whose key map entry names datno
    // (flags and empty character as zvlfsegput takes them).
    void make_index(int keyno, int datno, int32_t keylen, int dup = 0, bool wide = false, int flags = 0,
                    int empty = ' ', const char *name = "k.idx");
    // Segment i of index keyno.
    void seg(int keyno, int i, int off, int len, int mode) {
        ASSERT_EQ(zvlfsegput(keyno, i, off, len, mode), 0);
    }
    // Installs a record schema on a data file (SETDEFBLK, block 1).
    void set_schema(int datno, const Bytes &block);
    // The key frmkey forms (cut to the length it returns; empty when none).
    Bytes key(int keyno, const Bytes &rec, uint32_t pos = 1, uint32_t posh = 0);
    // The positions of an index's keys in key order (FRSKEY / NXTKEY).
    std::vector<uint32_t> positions(int keyno);
    int isamerr() { return zvGetIsamErrorCode(); }
};

}  // namespace keytest

// Fixture of the record tests: a fresh directory, a logged-on logon-only
// session with an instance of its own, and a free table bound to a file set
// laid out as table creation lays it out: the hidden fields its create bits
// ask for, in front of the user fields, a variable-length data file when a
// user field is variable-length, and the hidden indexes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "recapi/base/handles.h"
#include "tests/support/tablesession.h"

namespace rectest {

struct FieldSpec {
    const char *name;
    int32_t type;
    int32_t length;  // 0: the type's own length
};

// A user index over one user field: an offset segment of the field's bytes
// (mode 0), or a segment of the field by its schema position (mode 12: the
// key orders as the field's type does).
struct IndexSpec {
    const char *name;
    int32_t field;
    int dup;
    int16_t mode = 0;
};

class RecordTest : public zvtest::TableSessionTest {
protected:
    void TearDown() override;

    // Creates and binds the table "rec". Create bits: 32 no "$RECBYT$"
    // index, 64 no "$ROWID$", 0x200 no "$DELFLD$", 0x400 no "$NULFLD$",
    // 0x100 and 0x1000 the "$DELFLD$" lengths, 0x2000 a variable-length
    // data file (record format 4 when every field is fixed).
    void make_table(std::initializer_list<FieldSpec> fields, uint32_t createmode,
                    std::initializer_list<IndexSpec> indexes = {});
    // Creates the table `name` in the test's directory through
    // zvdbCreateTable from these fields and indexes (each index one schema
    // segment of mode 12 over its field, whatever mode the IndexSpec holds), with
    // the pad and delimiter bytes when pad is not 0, and opens it.
    void create_table(const char *name, std::initializer_list<FieldSpec> fields, uint32_t createmode,
                      std::initializer_list<IndexSpec> indexes = {}, uint8_t pad = 0, uint8_t delimiter = 0);
    // The two halves of create_table: the handles of the fields, indexes and
    // bytes; the create and the open.
    void define_table(std::initializer_list<FieldSpec> fields, std::initializer_list<IndexSpec> indexes,
                      uint8_t pad = 0, uint8_t delimiter = 0);
    void create_and_open(const char *name, uint32_t createmode);
    // Closes the open table and opens it again by name.
    void reopen(const char *name);
    // A record allocated on the table, freed at the end of the test.
    tagZVDBRECORD *record();
    // The packed image of a record as bytes.
    std::vector<unsigned char> image(tagZVDBRECORD *r) const;

    std::vector<tagZVDBRECORD *> records_;
    bool bound_ = false;
};

// Field numbers of the table of every field type (TypedTest).
enum TypedField : int32_t {
    fBool, fChar, fCharU, fInt2, fInt2U, fInt4, fInt4U, fMoney, fDate, fTime, fSFloat, fDFloat, fNumber, fTimes,
    fArray, fCurrency, fFString, fFPString, fBig, fUBig, fTimesMs, fTimeMs, fEFloat, fString, fPString, fJson,
    kTypedFields
};

// The typed readers.
enum Reader { rBool, rSigned, rUnsigned, rDate, rTime, rTimeMsec, rMoney, rFloat, rDateTime, rBigint, rCurrency,
              rNumber, rString, rJson };

// A table with a field of every type (the fixed-size ones and ZV_ARRAY 8,
// ZV_FSTRING 12, ZV_FPSTRING 12 in the fixed part; ZV_STRING 30,
// ZV_PSTRING 30, ZV_JSON 100 in the variable part), no hidden fields but
// "$NULFLD$", and one record r_ on it.
class TypedTest : public RecordTest {
protected:
    void SetUp() override;
    // Writes a value's bytes into a fixed-part field.
    template <typename T>
    void put(int32_t n, T value) {
        void *p = zvdbGetFieldAddress(r_, n);
        ASSERT_NE(p, nullptr) << n;
        std::memcpy(p, &value, sizeof value);
    }
    // The reader's result as text ("%.10g" for doubles, numbers as their
    // text), or "#code".
    std::string read(int32_t n, Reader reader, int32_t size = 64);
    static ZVDATE date(int y, int m, int d);
    static ZVDATETIME stamp(int y, int mo, int d, int h, int mi, int s);
    tagZVDBRECORD *r_ = nullptr;
};

// Bytes from a list of values, for expected images.
std::vector<unsigned char> bytes(std::initializer_list<int> values);
// Platform blocks taken and not given back since the process started.
int64_t live_blocks();

}  // namespace rectest

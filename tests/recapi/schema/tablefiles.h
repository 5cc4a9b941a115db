// Fixture of the tests that read and write a table's data file: the schema
// fixture with a reopen, tables bound to file sets of a given schema, a
// bare data file without resources, and the resource records read straight
// from the engine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/recapi/schema/schemafix.h"

namespace schematest {

using Bytes = std::vector<unsigned char>;

// Builds expected byte images by hand.
class Image {
public:
    Image &u8(unsigned v, size_t count = 1);
    Image &le16(uint16_t v);
    Image &le32(uint32_t v);
    Image &host32(uint32_t v);
    // The bytes of text (its zero byte only when given in n).
    Image &text(const char *text, size_t n);
    Image &text(const char *text);
    const Bytes &bytes() const { return b_; }

private:
    Bytes b_;
};

// A resource record as the engine holds it.
struct Raw {
    int code = 0;        // 0, or the engine's code of the read
    Bytes bytes;
    uint64_t pos = 0;    // record position
};

class TableFileTest : public SchemaTest {
protected:
    void TearDown() override;

    // Closes the bound set and binds the table to its files again: the
    // fields come back with their allocation defaults.
    void reopen();
    // Binds the table to a new file set "cust" of reclen-byte records with
    // the given schema, one unique index on the record's first four bytes
    // and data file mode dfilmod.
    void bind_schema(const DATOBJ *schema, int count, uint16_t reclen, int16_t dfilmod = 0);
    // Closes the bound set and deletes its files.
    void drop_files();
    // Binds the table to a new data file "bare.dat" made without resources.
    void bind_bare();
    // The record of resource (type, number) of the bound data file.
    Raw raw(uint32_t type, uint32_t number) const;
    // Adds a resource record as it is: the engine's code.
    int put_raw(const Bytes &record) const;
    int datno() const { return table_->datno; }

    std::string name_ = "fix";
    int bare_ = -1;
};

}  // namespace schematest

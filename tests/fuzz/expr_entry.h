// One run of the condition parser over arbitrary bytes: the body of the
// parser's fuzz target, also replayed by test_expr over the saved corpus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zvfuzz {

// A field of the record layout that the texts are parsed against.
struct FieldDef {
    const char *name;   // null: a field without a name
    uint16_t type;      // ZV_ code
    uint16_t len;
};
// The fields of the shared layout.
const std::vector<FieldDef> &expr_fields();
// The layout as the engine keeps it: a record schema map (16-byte head,
// 6-byte entries) and a field-name list (per field a length byte and the
// NUL-terminated name).
std::vector<unsigned char> schema_map(const std::vector<FieldDef> &fields);
std::vector<unsigned char> name_list(const std::vector<FieldDef> &fields);

// Parses data[0..size) as a condition text against the shared layout,
// frees what the parse made and checks that the engine pools hold as many
// blocks as before. Returns the result: 0 a tree or callback filter, 1 or
// 2 the parser's failure, 454 a text beginning with "#"; -1 when the pools
// lost or gained blocks or the result is none of these. Needs a current
// engine instance.
int expr_fuzz_one(const uint8_t *data, size_t size);

}  // namespace zvfuzz

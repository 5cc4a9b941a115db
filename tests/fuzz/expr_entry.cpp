#include "tests/fuzz/expr_entry.h"

#include <cstdio>
#include <cstring>

#include "engine/core/instance.h"
#include "engine/core/pools.h"
#include "engine/expr/expr_services.h"
#include "engine/isam/isam_services.h"
#include "zarvo/zarvo.h"

namespace zvfuzz {

const std::vector<FieldDef> &expr_fields() {
    static const std::vector<FieldDef> fields = {
        {"a", ZV_INT4, 4},         {"b", ZV_INT4, 4},           {"c", ZV_INT4, 4},
        {"x", ZV_INT4, 4},         {"Price", ZV_MONEY, 4},      {"Qty", ZV_INT2U, 2},
        {"Born", ZV_DATE, 4},      {"At", ZV_TIME_MS, 4},       {"Amount", ZV_DFLOAT, 8},
        {"Big", ZV_BIGINT, 8},     {"Stamp", ZV_TIMES, 8},      {"Blob", ZV_ARRAY, 6},
        {"Name", ZV_FSTRING, 20},  {"Ext", ZV_EFLOAT, 10},      {"Doc", ZV_JSON, 4},
        {"and", ZV_INT4, 4},       {"note", ZV_INT4, 4},        {"a-b", ZV_INT4, 4},
        {"Date", ZV_DATE, 4},      {"$NULFLD$", ZV_ARRAY, 4},   {nullptr, ZV_INT4, 4},
        {"Rest", ZV_STRING, 30},
    };
    return fields;
}

std::vector<unsigned char> schema_map(const std::vector<FieldDef> &fields) {
    uint32_t n = uint32_t(fields.size());
    std::vector<unsigned char> m(16 + 6 * n, 0);
    m[0] = 2;
    m[1] = 8;
    m[3] = ' ';
    uint32_t words[3] = {uint32_t(m.size()), n, n};
    memcpy(m.data() + 4, words, sizeof words);
    for (uint32_t i = 0; i < n; i++) {
        memcpy(m.data() + 16 + 6 * i, &fields[i].len, 2);
        memcpy(m.data() + 18 + 6 * i, &fields[i].type, 2);
    }
    return m;
}

std::vector<unsigned char> name_list(const std::vector<FieldDef> &fields) {
    std::vector<unsigned char> b;
    for (const FieldDef &f : fields) {
        if (!f.name) {
            b.push_back(1);
            continue;
        }
        size_t l = strlen(f.name);
        b.push_back(uint8_t(l + 2));
        b.insert(b.end(), f.name, f.name + l + 1);
    }
    return b;
}

int expr_fuzz_one(const uint8_t *data, size_t size) {
    static std::vector<unsigned char> schema = schema_map(expr_fields());
    static std::vector<unsigned char> names = name_list(expr_fields());
    static FILE *quiet = fopen("/dev/null", "w");
    INSTGV *g = zvWNGV;
    if (!g) return -1;
    if (size > (1u << 20)) size = 1u << 20;
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    int64_t before = zv::pool_blocks_in_use();
    g->exprerr = 0;
    zv::set_uerr(0);
    int kind = -1;
    void *tree = cndxparse(schema.data(), names.data(), text.data(), int32_t(text.size()), &kind);
    int rc;
    if (tree) {
        // A callback block says goodbye on the engine's output.
        FILE *out = getZarvoSTDOUT();
        if (quiet) setZarvoSTDOUT(quiet);
        zv::zvfreecidx(tree, kind);
        setZarvoSTDOUT(out);
        rc = 0;
    } else {
        rc = g->uerr_cod ? g->uerr_cod : g->exprerr;
    }
    if (zv::pool_blocks_in_use() != before) return -1;
    return (rc == 0 || rc == 1 || rc == 2 || rc == 454) ? rc : -1;
}

}  // namespace zvfuzz

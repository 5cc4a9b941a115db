#include "tests/recapi/records/recfix.h"

#include <cstdio>

#include "engine/core/platform.h"
#include "engine/core/pools.h"
#include "engine/isam/ifil.h"
#include "recapi/schema/fieldtype.h"
#include "tests/support/tablebind.h"
#include "zarvo/zarvo.h"

namespace rectest {

namespace {

bool variable_type(int32_t type) { return zv::field_type_info(type).varlen > 0; }

}  // namespace

void RecordTest::TearDown() {
    zv::fail_alloc_at(0);
    for (tagZVDBRECORD *r : records_) zvdbFreeRecord(r);
    if (bound_) {
        EXPECT_EQ(zvtest::unbind_table(table_), 0);
    }
    TableSessionTest::TearDown();
}

void RecordTest::make_table(std::initializer_list<FieldSpec> fields, uint32_t createmode,
                            std::initializer_list<IndexSpec> indexes) {
    bool varfields = false;
    for (const FieldSpec &f : fields) varfields = varfields || variable_type(f.type);
    std::vector<DATOBJ> schema;
    if (!(createmode & (0x200 | 0x2000)) && !varfields) {
        const uint16_t len = (createmode & 0x1000) ? 4 : (createmode & 0x100) ? 9 : 5;
        schema.push_back(DATOBJ{"$DELFLD$", 0, ZV_ARRAY, len, 0, 0});
    }
    if (!(createmode & 0x400)) {
        const uint16_t len = uint16_t(fields.size() ? (fields.size() + 7) / 8 : 1);
        schema.push_back(DATOBJ{"$NULFLD$", 0, ZV_ARRAY, len, 0, 0});
    }
    if (!(createmode & 64)) schema.push_back(DATOBJ{"$ROWID$", 0, ZV_BIGINT, 8, 0, 0});
    const size_t hidden = schema.size();
    for (const FieldSpec &f : fields) {
        schema.push_back(DATOBJ{f.name, 0, uint16_t(f.type), uint16_t(_zvdbFixFieldLength(f.type, f.length)), 0, 0});
    }
    // Record offsets as the engine places them, up to the first
    // variable-length field: the fixed record length.
    std::vector<int32_t> offsets;
    int32_t off = 0, reclen = -1;
    for (const DATOBJ &e : schema) {
        if (reclen < 0 && variable_type(e.ftype)) reclen = off;
        if (reclen < 0) off += zv::zvadjadr(8, e.ftype, off);
        offsets.push_back(off);
        off += e.flen;
    }
    if (reclen < 0) reclen = off;

    static const ISEG recbytseg[1] = {{0, 1, 256}};
    std::vector<ISEG> rowidseg;
    std::vector<ISEG> userseg;
    userseg.reserve(indexes.size());
    std::vector<IIDX> idx;
    if (!(createmode & 32)) {
        idx.push_back(IIDX{int16_t((createmode & 0x100) ? 9 : 5), 0, 1, 0, 0, 1, recbytseg, "$RECBYT$", nullptr,
                           nullptr, nullptr});
    }
    if (!(createmode & 64)) {
        for (size_t i = 0; i < hidden; i++) {
            if (std::string(schema[i].fsymb) == "$ROWID$") rowidseg.push_back(ISEG{int16_t(offsets[i]), 8, 3});
        }
        idx.push_back(IIDX{8, 0, 0, 0, 0, 1, rowidseg.data(), "$ROWID$", nullptr, nullptr, nullptr});
    }
    const int16_t suffix = (createmode & 0x100) ? 8 : 4;
    for (const IndexSpec &x : indexes) {
        const size_t i = hidden + size_t(x.field);
        const int16_t place = x.mode == 12 ? int16_t(i) : int16_t(offsets[i]);
        userseg.push_back(ISEG{place, int16_t(schema[i].flen), x.mode});
        idx.push_back(IIDX{int16_t(schema[i].flen + (x.dup ? suffix : 0)), 0, int16_t(x.dup), 0, 0, 1, &userseg.back(),
                           x.name, nullptr, nullptr, nullptr});
    }
    // Create bit 0x2000 keeps the records in a variable-length file; fixed
    // fields alone then lie in the fixed part (record format 4).
    const int16_t filemode = int16_t(varfields || (createmode & 0x2000) ? 4 : 0);
    IFIL ifil{"rec", -1, uint16_t(reclen), 0, filemode, int16_t(idx.size()), 0, 0,
              idx.empty() ? nullptr : idx.data(), nullptr, nullptr, 0};
    ASSERT_EQ(zvtest::bind_table(table_, &ifil, schema.data(), int(schema.size()), createmode), 0);
    if ((createmode & 0x2000) && !varfields) table_->recformat = 4;
    bound_ = true;
}

void RecordTest::create_table(const char *name, std::initializer_list<FieldSpec> fields, uint32_t createmode,
                              std::initializer_list<IndexSpec> indexes, uint8_t pad, uint8_t delimiter) {
    define_table(fields, indexes, pad, delimiter);
    if (HasFatalFailure()) return;
    create_and_open(name, createmode);
}

void RecordTest::define_table(std::initializer_list<FieldSpec> fields, std::initializer_list<IndexSpec> indexes,
                              uint8_t pad, uint8_t delimiter) {
    ASSERT_EQ(zvdbSetTablePath(table_, "."), 0);
    std::vector<ZVHANDLE> made;
    for (const FieldSpec &f : fields) {
        made.push_back(zvdbAddField(table_, f.name, f.type, f.length));
        ASSERT_NE(made.back(), nullptr) << f.name << " " << last();
    }
    for (const IndexSpec &x : indexes) {
        ZVHANDLE ix = zvdbAddIndex(table_, x.name, 0, x.dup, 0);
        ASSERT_NE(ix, nullptr) << x.name << " " << last();
        ASSERT_NE(zvdbAddSegment(ix, made[size_t(x.field)], 12), nullptr) << x.name << " " << last();
    }
    if (pad) {
        ASSERT_EQ(zvdbSetPadChar(table_, pad, delimiter), 0);
    }
}

void RecordTest::create_and_open(const char *name, uint32_t createmode) {
    ASSERT_EQ(zvdbCreateTable(table_, name, createmode), 0) << last();
    ASSERT_EQ(zvdbOpenTable(table_, name, 0), 0) << last();
}

void RecordTest::reopen(const char *name) {
    ASSERT_EQ(zvdbCloseTable(table_), 0) << last();
    ASSERT_EQ(zvdbOpenTable(table_, name, 0), 0) << last();
}

tagZVDBRECORD *RecordTest::record() {
    auto *r = static_cast<tagZVDBRECORD *>(zvdbAllocRecord(table_));
    EXPECT_NE(r, nullptr) << last();
    if (r) records_.push_back(r);
    return r;
}

std::vector<unsigned char> RecordTest::image(tagZVDBRECORD *r) const {
    auto *p = static_cast<unsigned char *>(zvdbGetRecordBuffer(r));
    const int32_t n = zvdbGetRecordLength(r);
    return p ? std::vector<unsigned char>(p, p + n) : std::vector<unsigned char>{};
}

void TypedTest::SetUp() {
    TableSessionTest::SetUp();
    make_table({{"bool", ZV_BOOL, 0},    {"ch", ZV_CHAR, 0},      {"chu", ZV_CHARU, 0},   {"i2", ZV_INT2, 0},
                {"i2u", ZV_INT2U, 0},    {"i4", ZV_INT4, 0},      {"i4u", ZV_INT4U, 0},   {"money", ZV_MONEY, 0},
                {"date", ZV_DATE, 0},    {"time", ZV_TIME, 0},    {"sf", ZV_SFLOAT, 0},   {"df", ZV_DFLOAT, 0},
                {"num", ZV_NUMBER, 0},   {"ts", ZV_TIMES, 0},     {"arr", ZV_ARRAY, 8},   {"cur", ZV_CURRENCY, 0},
                {"fs", ZV_FSTRING, 12},  {"fps", ZV_FPSTRING, 12}, {"big", ZV_BIGINT, 0}, {"ubig", ZV_UBIGINT, 0},
                {"tsms", ZV_TIMES_MS, 0}, {"tms", ZV_TIME_MS, 0}, {"ef", ZV_EFLOAT, 8},   {"str", ZV_STRING, 30},
                {"ps", ZV_PSTRING, 30},  {"json", ZV_JSON, 100}},
               64);
    r_ = record();
}

std::string TypedTest::read(int32_t n, Reader reader, int32_t size) {
    char text[200] = {};
    uint32_t u = 0;
    int32_t i = 0;
    double d = 0;
    int64_t b = 0;
    tagZVNUMBER num{};
    ZVDBRET rc = 0;
    switch (reader) {
    case rBool: rc = zvdbGetFieldAsBool(r_, n, &u); break;
    case rSigned: rc = zvdbGetFieldAsSigned(r_, n, &i); break;
    case rUnsigned: rc = zvdbGetFieldAsUnsigned(r_, n, &u); break;
    case rDate: rc = zvdbGetFieldAsDate(r_, n, &u); break;
    case rTime: rc = zvdbGetFieldAsTime(r_, n, &u); break;
    case rTimeMsec: rc = zvdbGetFieldAsTimeMsec(r_, n, &u); break;
    case rMoney: rc = zvdbGetFieldAsMoney(r_, n, &i); break;
    case rFloat: rc = zvdbGetFieldAsFloat(r_, n, &d); break;
    case rDateTime: rc = zvdbGetFieldAsDateTime(r_, n, &d); break;
    case rBigint: rc = zvdbGetFieldAsBigint(r_, n, &b); break;
    case rCurrency: rc = zvdbGetFieldAsCurrency(r_, n, &b); break;
    case rNumber: rc = zvdbGetFieldAsNumber(r_, n, &num); break;
    case rString: rc = zvdbGetFieldAsString(r_, n, text, size); break;
    case rJson: rc = zvdbGetFieldAsJSON(r_, n, text, size); break;
    }
    if (rc) return "#" + std::to_string(rc);
    char out[64];
    switch (reader) {
    case rSigned: case rMoney: return std::to_string(i);
    case rFloat: case rDateTime: std::snprintf(out, sizeof out, "%.10g", d); return out;
    case rBigint: case rCurrency: return std::to_string(b);
    case rNumber: zvdbNumberToString(&num, out, sizeof out); return out;
    case rString: case rJson: return text;
    default: return std::to_string(u);
    }
}

ZVDATE TypedTest::date(int y, int m, int d) {
    ZVDATE v = 0;
    zvdbDatePack(&v, y, m, d);
    return v;
}

ZVDATETIME TypedTest::stamp(int y, int mo, int d, int h, int mi, int s) {
    ZVDATETIME v = 0;
    zvdbDateTimePack(&v, y, mo, d, h, mi, s);
    return v;
}

std::vector<unsigned char> bytes(std::initializer_list<int> values) {
    std::vector<unsigned char> out;
    for (int v : values) out.push_back(uint8_t(v));
    return out;
}

int64_t live_blocks() { return int64_t(zv::platform_alloc_count() - zv::platform_free_count()); }

}  // namespace rectest

// Alterations over a failing disk: with caches of three buffers, so that
// writes fall inside the call, the Nth write, rename or unlink fails once,
// N = 1, 2, ... until the call meets no fault. After every failure the
// table, opened again by name, has the old or the new definition with every
// record and every key; a call that answers 0 has the new one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "engine/core/platform.h"
#include "tests/recapi/schema/alterfix.h"
#include "tests/support/fixture.h"

namespace {

using namespace schematest;

// What a table is, as the alteration may change it.
struct Definition {
    std::vector<std::pair<std::string, int32_t>> fields;  // name and type
    std::vector<std::string> indexes;                     // names, sorted
    bool operator==(const Definition &o) const { return fields == o.fields && indexes == o.indexes; }
};

struct Sweep {
    const char *what;
    std::function<void(ZVHANDLE)> build;  // the table's extra fields and indexes
    std::function<void(ZVHANDLE)> edit;   // the pending edits
};

class AlterSweepTest : public AlterTest {
protected:
    static constexpr int kRows = 30;

    void SetUp() override {
        AlterTest::SetUp();
        small_caches();
    }

    Definition definition() {
        Definition d;
        for (int32_t k = 0; k < zvdbGetTableFieldCount(table_); k++) {
            ZVHANDLE f = zvdbGetField(table_, k);
            d.fields.emplace_back(zvdbGetFieldName(f), zvdbGetFieldType(f));
        }
        for (int32_t k = 0; k < zvdbGetTableIndexCount(table_); k++) {
            d.indexes.emplace_back(zvdbGetIndexName(zvdbGetIndex(table_, k)));
        }
        std::sort(d.indexes.begin(), d.indexes.end());
        return d;
    }

    // Every file back as the template has it, and no other.
    static void restore() {
        namespace fs = std::filesystem;
        for (const auto &e : fs::directory_iterator(".")) {
            if (e.is_regular_file() && e.path().filename() != "ZVSTATUS.QVS") fs::remove(e.path());
        }
        zvtest::restore_template();
    }

    void run(const Sweep &s, zv::IoKind kind) {
        // The definitions before and after a clean alteration.
        restore();
        open();
        const Definition before = definition();
        s.edit(table_);
        ASSERT_EQ(zvdbAlterTable(table_, 0), 0) << last();
        const Definition after = definition();
        const std::vector<Row> altered = rows();
        ASSERT_EQ(zvdbCloseTable(table_), 0);
        ASSERT_FALSE(before == after);
        int rc = -1;
        bool fired = true;
        long n = 1;
        for (; fired && n < 2000; n++) {
            SCOPED_TRACE(n);
            restore();
            open();
            s.edit(table_);
            zv::fault_reset();
            zv::fault_set(kind, n, EIO);
            rc = zvdbAlterTable(table_, 0);
            fired = zv::io_calls(kind) >= n;
            zv::fault_reset();
            if (!fired) {
                EXPECT_EQ(rc, 0) << last();
            }
            EXPECT_EQ(zvdbCloseTable(table_), 0) << last();
            ASSERT_EQ(zvdbOpenTable(table_, "alt", 0), 0) << last();
            const Definition now = definition();
            // A write the engine keeps for later (a node leaving its
            // cache) may be ridden out: the call then succeeds, altered.
            EXPECT_TRUE(rc != 0 ? now == before || now == after : now == after);
            EXPECT_EQ(rows(), now == after ? altered : rows_upto(kRows));
            for (const std::string &ix : now.indexes) EXPECT_EQ(keys(ix.c_str()), kRows) << ix;
            ASSERT_EQ(zvdbCloseTable(table_), 0);
        }
        EXPECT_EQ(rc, 0);
        if (kind == zv::IoKind::Write) {
            EXPECT_GT(n, 2) << "the call met faults";
        }
    }

    void sweep(const Sweep &s) {
        create([&s](ZVHANDLE t) {
            layout(t);
            s.build(t);
        });
        fill(kRows);
        ASSERT_EQ(zvdbCloseTable(table_), 0);
        zvtest::save_template();
        for (zv::IoKind kind : {zv::IoKind::Write, zv::IoKind::Rename, zv::IoKind::Link, zv::IoKind::Unlink}) {
            SCOPED_TRACE(int(kind));
            run(s, kind);
        }
    }
};

TEST_F(AlterSweepTest, RenameAndPrecision) {
    sweep({"rename and precision", [](ZVHANDLE) {},
           [](ZVHANDLE t) {
               ASSERT_EQ(zvdbSetFieldName(zvdbGetFieldByName(t, "name"), "title"), 0);
               ASSERT_EQ(zvdbSetFieldPrecision(zvdbGetFieldByName(t, "qty"), 6), 0);
           }});
}

TEST_F(AlterSweepTest, IndexAddedAndIndexDropped) {
    sweep({"index added and index dropped", [](ZVHANDLE t) { add_index(t, "byqty", 1, {"qty"}, "altqty"); },
           [](ZVHANDLE t) {
               add_index(t, "byboth", 0, {"name", "id"}, "altboth");
               ASSERT_EQ(zvdbDelIndex(t, zvdbGetIndexNbrByName(t, "byqty")), 0);
           }});
}

TEST_F(AlterSweepTest, KeyTypeChange) {
    sweep({"key type", [](ZVHANDLE t) { add_index(t, "byqty", 1, {"qty"}, "altqty"); },
           [](ZVHANDLE t) {
               ASSERT_EQ(zvdbSetIndexKeyType(zvdbGetIndexByName(t, "byname"), 4), 0);
               ASSERT_EQ(zvdbSetIndexName(zvdbGetIndexByName(t, "byqty"), "qtys"), 0);
           }});
}

TEST_F(AlterSweepTest, FieldDeletedAndDefaultedFieldAdded) {
    sweep({"field deleted, defaulted field added", [](ZVHANDLE) {},
           [](ZVHANDLE t) {
               ASSERT_EQ(zvdbDelFieldByName(t, "qty"), 0);
               ZVHANDLE c = zvdbAddField(t, "c", ZV_INT4, 0);
               ASSERT_NE(c, nullptr);
               ASSERT_EQ(zvdbSetFieldDefaultValue(c, "7", 1), 0);
           }});
}

}  // namespace

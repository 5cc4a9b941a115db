// Full-text definitions: the handles, the parameter texts they give, the
// calls this library answers as not supported, the hand-over to the
// engine's full-text entry point, and the test of a file name against a
// table name.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "recapi/schema/fti.h"
#include "tests/recapi/schema/schemafix.h"

namespace {

class FtiTest : public schematest::SchemaTest {
protected:
    void SetUp() override {
        SchemaTest::SetUp();
        dict_ = static_cast<tagZVDBFTIDICT *>(zvdbAllocFTIDict(session_));
        ASSERT_NE(dict_, nullptr);
    }
    void TearDown() override {
        zvdbFreeFTIDict(dict_);
        zvdbFreeFTI(loose_);
        SchemaTest::TearDown();
    }
    // Gives the index handle a field entry.
    static void add_entry(tagZVDBFTI *x, const char *name, int32_t mode) {
        auto *entry = static_cast<ZVDBFTIFIELD *>(_zvdb_alloc(1, sizeof(ZVDBFTIFIELD)));
        ASSERT_NE(entry, nullptr);
        entry->name = _zvdb_strdup(name);
        entry->mode = mode;
        ASSERT_EQ(_zvdbListAdd(x->fieldlist, entry), 0);
    }
    // An index handle with mode 2, text "d", option 0x12, the dictionary
    // and fields "a" (mode 1) and "b" (mode 2).
    tagZVDBFTI *defined_index() {
        auto *x = static_cast<tagZVDBFTI *>(zvdbAllocFTI(table_));
        EXPECT_NE(x, nullptr);
        x->mode = 2;
        x->description = _zvdb_strdup("d");
        x->option = 0x12;
        x->dict = dict_;
        add_entry(x, "a", 1);
        add_entry(x, "b", 2);
        return x;
    }
    static std::string text_of(ZVDBRET (*make)(ZVHANDLE, char **), ZVHANDLE h, ZVDBRET *rc) {
        char *text = nullptr;
        *rc = make(h, &text);
        std::string out = text ? text : "<none>";
        _zvdb_free(text);
        return out;
    }
    tagZVDBFTIDICT *dict_ = nullptr;
    tagZVDBFTI *loose_ = nullptr;
};

TEST_F(FtiTest, ParameterTextsOfFreshAndDefinedHandles) {
    ASSERT_NE(dict_, nullptr);
    ZVDBRET rc;
    EXPECT_EQ(text_of(_zvdbCreateFTIDictResourceParam, dict_, &rc), "0002|002d,0001|||||00000000|");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(text_of(_zvdbCreateFTIAttribParam, dict_, &rc), "");
    EXPECT_EQ(rc, 0);
    loose_ = defined_index();
    EXPECT_EQ(text_of(_zvdbCreateFTIResourceParam, loose_, &rc),
              "0004|*d|0012|0002|002d,0001|||||00000000||002;a,0001;b,0002|||");
    EXPECT_EQ(rc, 0);

    dict_->texts[0] = _zvdb_strdup("first");
    dict_->texts[1] = _zvdb_strdup("2nd");
    dict_->texts[2] = _zvdb_strdup("third");
    dict_->texts[3] = _zvdb_strdup("four");
    dict_->texts[4] = _zvdb_strdup("five");
    dict_->flag = 1;
    loose_->mode = 3;
    loose_->further = _zvdb_strdup("more");
    EXPECT_EQ(text_of(_zvdbCreateFTIDictResourceParam, dict_, &rc),
              "0002|002d,0001|0005,first|0003,2nd|four|!five|00000005|third");
    EXPECT_EQ(text_of(_zvdbCreateFTIResourceParam, loose_, &rc),
              "0004|+d|0012|0002|002d,0001|0005,first|0003,2nd|four|!five|00000005|third|002;a,0001;b,0002|0004,more||");
    EXPECT_EQ(_zvdbCreateFTIResourceParam(loose_, nullptr), ZVDB_NULL_ARGUMENT);
}

TEST_F(FtiTest, IncompleteDefinitionsAreRefused) {
    loose_ = defined_index();
    ZVDBRET rc;
    const std::string limit(65535, 'x'), over(65536, 'x');
    loose_->further = _zvdb_strdup(limit.c_str());
    text_of(_zvdbCreateFTIResourceParam, loose_, &rc);
    EXPECT_EQ(rc, 0);
    _zvdb_free(loose_->further);
    loose_->further = _zvdb_strdup(over.c_str());
    EXPECT_EQ(text_of(_zvdbCreateFTIResourceParam, loose_, &rc), "<none>");
    EXPECT_EQ(rc, ZVDB_NAME_TOO_LONG);
    loose_->further = static_cast<char *>(_zvdb_free(loose_->further));

    dict_->texts[1] = _zvdb_strdup(over.c_str());
    text_of(_zvdbCreateFTIDictResourceParam, dict_, &rc);
    EXPECT_EQ(rc, ZVDB_NAME_TOO_LONG);
    dict_->texts[1] = static_cast<char *>(_zvdb_free(dict_->texts[1]));

    loose_->dict = nullptr;
    text_of(_zvdbCreateFTIResourceParam, loose_, &rc);
    EXPECT_EQ(rc, ZVDB_BAD_MODE);
    tagZVDBFTI *bare = static_cast<tagZVDBFTI *>(zvdbAllocFTI(table_));
    bare->dict = dict_;
    text_of(_zvdbCreateFTIResourceParam, bare, &rc);
    EXPECT_EQ(rc, ZVDB_FTI_NO_FIELDS);
    zvdbFreeFTI(bare);
    text_of(_zvdbCreateFTIResourceParam, table_, &rc);
    EXPECT_EQ(rc, ZVDB_NO_FTI);
}

TEST_F(FtiTest, NothingIsAddedAndTheEngineAnswers454) {
    mark();
    EXPECT_EQ(zvdbAddFTI(table_, "words"), nullptr);
    EXPECT_EQ(last(), ZVDB_NOT_SUPPORTED);
    EXPECT_EQ(zvdbGetTableFTICount(table_), 0);

    EXPECT_EQ(_zvdbCreateFTI(table_, -1, 0), ZVDB_NO_ROWID);
    table_->hasrowid = 1;
    EXPECT_EQ(_zvdbCreateFTI(table_, 0, 0), ZVDB_BAD_POSITION);
    EXPECT_EQ(_zvdbCreateFTI(table_, -1, 0), 0) << "no index to hand over";
    ASSERT_EQ(_zvdbListAdd(table_->ftis, defined_index()), 0);
    mark();
    EXPECT_EQ(_zvdbCreateFTI(table_, 0, 0), 454);
    EXPECT_EQ(last(), 454);
    EXPECT_EQ(_zvdbCreateFTI(table_, -1, 0), 454);
    EXPECT_EQ(_zvdbCreateFTI(table_, 1, 0), ZVDB_BAD_POSITION);
    EXPECT_EQ(_zvdbCreateFTI(session_, 0, 0), ZVDB_NO_TABLE);

    char *text = nullptr;
    ZVHANDLE out = dict_;
    EXPECT_EQ(_zvdbGetFTIDictResourceParamFromFile(3, "dictionary", &text, &out), 454);
    EXPECT_EQ(text, nullptr);
}

TEST_F(FtiTest, UnsupportedEntriesAnswer4054KeptOrNot) {
    field("a", ZV_STRING, 10);
    ASSERT_EQ(_zvdbListAdd(table_->ftis, defined_index()), 0);
    struct Handles {
        ZVHANDLE table, session, dict, fti;
    };
    const Handles h{table_, session_, dict_, table_->ftis->items[0]};
    struct Entry {
        const char *name;
        ZVDBRET code;
        bool kept;
        ZVDBRET (*call)(const Handles &);
    };
    const Entry entries[] = {
        {"DelFTI", ZVDB_NOT_SUPPORTED, true, [](const Handles &x) { return zvdbDelFTI(x.table, 0); }},
        {"SetFTIOption", ZVDB_NOT_SUPPORTED, true, [](const Handles &x) { return zvdbSetFTIOption(x.fti, 1, "t", 1); }},
        {"SetFTICndxExpr", ZVDB_NOT_SUPPORTED, true, [](const Handles &x) { return zvdbSetFTICndxExpr(x.fti, "t"); }},
        {"SetFTIDictOption", ZVDB_NOT_SUPPORTED, true,
         [](const Handles &x) { return zvdbSetFTIDictOption(x.dict, 1, "t", 1); }},
        {"AddFTIFieldByName", ZVDB_NOT_SUPPORTED, true,
         [](const Handles &x) { return zvdbAddFTIFieldByName(x.table, 0, "A", 1); }},
        {"AddFTIFieldByName index", ZVDB_NO_FTI, true,
         [](const Handles &x) { return zvdbAddFTIFieldByName(x.table, 1, "a", 1); }},
        {"AddFTIFieldByName field", ZVDB_NO_FIELD_NAME, true,
         [](const Handles &x) { return zvdbAddFTIFieldByName(x.table, 0, "b", 1); }},
        {"AddFTIFieldByName table", ZVDB_NO_TABLE, true,
         [](const Handles &x) { return zvdbAddFTIFieldByName(x.session, 0, "a", 1); }},
        {"AddFTIField", ZVDB_NOT_SUPPORTED, false,
         [](const Handles &x) { return zvdbAddFTIField(x.fti, zvdbGetField(x.table, 0), 1); }},
        {"StartFTIBackgroundLoad", ZVDB_NOT_SUPPORTED, false,
         [](const Handles &x) { return zvdbStartFTIBackgroundLoad(x.table, 0); }},
        {"FTIStartBackgroundLoad", ZVDB_NOT_SUPPORTED, false,
         [](const Handles &x) { return zvdbFTIStartBackgroundLoad(x.table, 0); }},
        {"CheckFTIBackgroundLoad", ZVDB_NOT_SUPPORTED, false,
         [](const Handles &x) { return zvdbCheckFTIBackgroundLoad(x.table, 0, nullptr); }},
        {"FTICheckBackgroundLoad", ZVDB_NOT_SUPPORTED, false,
         [](const Handles &x) { return zvdbFTICheckBackgroundLoad(x.table, 0, nullptr); }},
        {"ParseFTIDictResourceParam", ZVDB_NOT_SUPPORTED, false,
         [](const Handles &x) { return _zvdbParseFTIDictResourceParam(x.dict, "0002|"); }},
        {"ParseFTIAttribParam", ZVDB_NOT_SUPPORTED, false,
         [](const Handles &x) { return _zvdbParseFTIAttribParam(x.fti, ""); }},
        {"ParseFTIResourceParam", ZVDB_NOT_SUPPORTED, false,
         [](const Handles &x) { return _zvdbParseFTIResourceParam(x.fti, "0004|"); }},
        {"UpdateNameInFTIParam", ZVDB_NOT_SUPPORTED, false,
         [](const Handles &x) { return _zvdbUpdateNameInFTIParam(x.fti, "new"); }},
        {"GetFTIResources", ZVDB_NOT_SUPPORTED, false, [](const Handles &x) { return _zvdbGetFTIResources(x.table); }},
    };
    for (const Entry &e : entries) {
        mark();
        EXPECT_EQ(e.call(h), e.code) << e.name;
        EXPECT_EQ(last(), e.kept ? e.code : 7777) << e.name;
    }
    EXPECT_EQ(zvdbGetFTIFieldCount(h.fti), 2) << "nothing was added";
}

TEST_F(FtiTest, HandlesFollowTheirOwners) {
    loose_ = static_cast<tagZVDBFTI *>(zvdbAllocFTI(table_));
    ASSERT_NE(loose_, nullptr);
    EXPECT_EQ(loose_->status, 1);
    EXPECT_EQ(zvdbGetFTIFieldCount(loose_), 0);
    EXPECT_EQ(zvdbGetTableHandle(loose_), table_);
    EXPECT_EQ(zvdbGetTableFTICount(table_), 0) << "an allocated index is not listed";
    EXPECT_EQ(dict_->word1, 1);
    EXPECT_EQ(zvdbGetSessionHandle(dict_), session_);
    ZVHANDLE other = zvdbAllocFTIDict(table_);
    EXPECT_EQ(zvdbGetFTIDictHandle(other), other);
    zvdbFreeFTIDict(other);
    mark();
    EXPECT_EQ(zvdbAllocFTI(session_), nullptr);
    EXPECT_EQ(last(), ZVDB_NO_TABLE);
    EXPECT_EQ(zvdbAllocFTIDict(nullptr), nullptr);
    zvdbFreeFTI(nullptr);
    zvdbFreeFTIDict(table_);
}

struct DepCase {
    const char *table;
    const char *file;
    int result;
    int start, length;  // of the occurrence, when counted
};

TEST(NameTableDepTest, CountsTheFirstOccurrenceThatStandsAlone) {
    const DepCase cases[] = {
        {"cust", "data/cust_idx.dat", 1, 5, 4},
        {"cust", "data/cust.dat", 2, 5, 4},
        {"cust", "data/customer.dat", 0, 0, 0},
        {"cust", "custdata/cust.dat", 2, 9, 4},
        {"cust", "cust", 2, 0, 4},
        {"cust", "xcust.dat", 0, 0, 0},
        {"cust", "cust_1/cust.dat", 1, 0, 4},
        {"cust", "a/xcust/b/cust_", 1, 10, 4},
        {"", "cust.dat", 0, 0, 0},
    };
    for (const DepCase &c : cases) {
        const char *start = nullptr, *end = nullptr;
        EXPECT_EQ(_zvdbIsNameTableDep(c.table, c.file, '/', &start, &end), c.result) << c.file;
        if (c.result) {
            EXPECT_EQ(start, c.file + c.start) << c.file;
            EXPECT_EQ(end, c.file + c.start + c.length) << c.file;
        } else {
            EXPECT_EQ(start, nullptr) << c.file;
        }
    }
    EXPECT_EQ(_zvdbIsNameTableDep("cust", "data\\cust.dat", '\\', nullptr, nullptr), 2);
    EXPECT_EQ(_zvdbIsNameTableDep("cust", "data\\cust.dat", '/', nullptr, nullptr), 0);
    EXPECT_EQ(_zvdbIsNameTableDep(nullptr, "cust", '/', nullptr, nullptr), 0);
    EXPECT_EQ(_zvdbIsNameTableDep("cust", nullptr, '/', nullptr, nullptr), 0);
}

}  // namespace

// Merging one dictionary into another: the default plan (the destination
// ends with exactly the source's entries and UIDs), a caller's plan, the
// refusals with their messages, a failing plan or write that leaves the
// destination as it was, and an empty source.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/platform.h"
#include "tests/recapi/catalog/catfix.h"

namespace {

using cattest::CatalogTest;
namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

constexpr char kSummary[] = "Error while merging DataBase Dictionary:";

struct Message {
    int level;
    std::string text;
    int code;
    std::string detail;  // "-" for none
    bool operator==(const Message &o) const {
        return level == o.level && text == o.text && code == o.code && detail == o.detail;
    }
};
std::ostream &operator<<(std::ostream &os, const Message &m) {
    return os << m.level << " \"" << m.text << "\" " << m.code << " " << m.detail;
}

std::vector<Message> g_messages;
void on_message(int level, const char *text, ZVDBRET code, const char *detail) {
    g_messages.push_back({level, text ? text : "(null)", code, detail ? detail : "-"});
}

std::function<ZVDBRET(ZVDBLIST *, ZVDBLIST *)> g_plan;
int g_plans = 0;
ZVDBRET on_plan(ZVDBLIST *source, ZVDBLIST *destination) {
    g_plans++;
    return g_plan ? g_plan(source, destination) : 0;
}

ZVDBMERGEITEM *item(ZVDBLIST *list, int i) { return static_cast<ZVDBMERGEITEM *>(list->items[i]); }

// Every field of an entry, its UID first.
std::string text(const ZVDBDICTENTRY &e) {
    char b[2400];
    std::snprintf(b, sizeof b, "%u %u/%u %s|%s|%s|%u|%s|%s|%s|%s|%x|%u|%s|%s|%s", e.uid, e.type, e.status, e.name,
                  e.physname, e.link, e.linknbr, e.path, e.supext, e.datext, e.idxext, e.version, e.counter, e.owner,
                  e.mirrorname, e.mirrorpath);
    return b;
}

// Every entry of a dictionary in UID order.
Texts contents(ZVDBDICT *d) {
    Texts out;
    EXPECT_EQ(zvdbSetDefaultIndex(d->record, 1), 0);
    ZVDBDICTENTRY e;
    int rc = zvdbFirstRecord(d->record);
    for (; rc == 0; rc = zvdbNextRecord(d->record)) {
        EXPECT_EQ(_zvdbGetDict(d, &e), 0);
        out.push_back(text(e));
    }
    EXPECT_EQ(rc, 101);
    return out;
}

ZVDBDICT *dict_of(ZVHANDLE session) { return static_cast<tagZVDBSESSION *>(session)->dict; }

class MergeTest : public CatalogTest {
protected:
    void SetUp() override {
        CatalogTest::SetUp();
        g_messages.clear();
        g_plan = nullptr;
        g_plans = 0;
        ASSERT_EQ(zvdbLogout(session_), 0);
        ASSERT_EQ(zvdbSetSessionExclusive(session_, 1), 0);
        ASSERT_EQ(zvdbLogon(session_, nullptr, "tester", nullptr), 0);
        src_ = session_;
        dst_ = session_in("other", true);
    }
    void TearDown() override {
        g_plan = nullptr;
        for (ZVHANDLE s : sessions_) EXPECT_EQ(zvdbFreeSession(s), 0);
        CatalogTest::TearDown();
    }

    // A session whose dictionary lives in dir (created the first time),
    // logged on.
    ZVHANDLE session_in(const char *dir, bool exclusive) {
        fs::create_directories(dir);
        ZVHANDLE s = zvdbAllocSession(0);
        EXPECT_NE(s, nullptr);
        sessions_.push_back(s);
        EXPECT_EQ(zvdbSetSessionPath(s, dir), 0);
        if (!fs::exists(fs::path(dir) / "zvdbdict.qsd")) {
            EXPECT_EQ(zvdbCreateSession(s, nullptr, nullptr, nullptr), 0);
        }
        EXPECT_EQ(zvdbSetSessionExclusive(s, exclusive), 0);
        EXPECT_EQ(zvdbLogon(s, nullptr, "tester", nullptr), 0);
        return s;
    }
    // A source and a destination session, exclusive, each in a new
    // directory.
    std::pair<ZVHANDLE, ZVHANDLE> fresh_pair() {
        const std::string dir = "pair" + std::to_string(sessions_.size());
        return {session_in((dir + "a").c_str(), true), session_in((dir + "b").c_str(), true)};
    }
    // Logs the session out and on again (logout forgets the session path):
    // its dictionary closed and opened.
    static void relogon(ZVHANDLE s) {
        char dir[64];
        ASSERT_EQ(zvdbGetSessionPath(s, dir, sizeof dir), 0);
        ASSERT_EQ(zvdbLogout(s), 0);
        ASSERT_EQ(zvdbSetSessionPath(s, dir), 0);
        ASSERT_EQ(zvdbLogon(s, nullptr, "tester", nullptr), 0);
    }

    // A database entry of that UID with every field set.
    static ZVDBDICTENTRY rich(const char *name, uint32_t uid) {
        ZVDBDICTENTRY e = entry(ZVDBDICT_DATABASE, name, "", uid);
        std::snprintf(e.path, sizeof e.path, "dir/%s", name);
        std::snprintf(e.supext, sizeof e.supext, ".qdd");
        std::snprintf(e.datext, sizeof e.datext, ".dat");
        std::snprintf(e.idxext, sizeof e.idxext, ".idx");
        std::snprintf(e.owner, sizeof e.owner, "owner of %s", name);
        std::snprintf(e.mirrorname, sizeof e.mirrorname, "m%s", name);
        std::snprintf(e.mirrorpath, sizeof e.mirrorpath, "mirror");
        e.linknbr = uid / 2;
        e.counter = uid % 7;
        return e;
    }
    void fill(ZVHANDLE s, const std::vector<std::pair<const char *, uint32_t>> &entries) {
        for (auto [name, uid] : entries) put_entry(dict_of(s), rich(name, uid));
    }
    // The UID the next database entered in the session gets.
    static uint32_t next_uid(ZVHANDLE s) {
        EXPECT_EQ(_zvdbDictAddDatabase(s, "fresh", "", 1), 0);
        uint32_t uid = 0;
        EXPECT_EQ(_zvdbDictGetDatabaseUID(s, "fresh", &uid), 0);
        return uid;
    }

    ZVHANDLE src_ = nullptr;
    ZVHANDLE dst_ = nullptr;
    std::vector<ZVHANDLE> sessions_;
};

TEST_F(MergeTest, TheDefaultPlanLeavesExactlyTheSourcesEntriesAndUIDs) {
    struct Case {
        const char *what;
        std::vector<std::pair<const char *, uint32_t>> source, destination;
    };
    const Case cases[] = {
        {"other names and UIDs", {{"alpha", 1001}, {"beta", 1002}, {"gamma", 1005}}, {{"beta", 998}, {"delta", 999}}},
        {"UIDs swapped between names", {{"x", 998}, {"y", 999}}, {{"y", 998}, {"x", 999}}},
        {"destination empty", {{"a", 1000}}, {}},
        {"destination UIDs above the source's", {{"a", 998}}, {{"b", 998}, {"c", 5000}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto [src, dst] = fresh_pair();
        fill(src, c.source);
        fill(dst, c.destination);
        const Texts source = contents(dict_of(src));
        uint32_t highest = 0;
        for (auto [name, uid] : c.source) highest = std::max(highest, uid);

        ASSERT_EQ(zvdbMergeSessionDictionary(src, dst, nullptr, on_message), 0);
        EXPECT_EQ(g_messages, std::vector<Message>{});
        EXPECT_EQ(contents(dict_of(dst)), source);
        EXPECT_EQ(contents(dict_of(src)), source);
        relogon(dst);
        EXPECT_EQ(contents(dict_of(dst)), source);
        EXPECT_GT(next_uid(dst), highest);
    }
}

TEST_F(MergeTest, DatabaseDictionariesMergeByDefault) {
    tagZVDBDATABASE *sales = connect("Sales", "db1", 1);
    tagZVDBDATABASE *stock = connect("Stock", "db2", 1);
    ASSERT_EQ(make_table(sales, "cust", "custno"), 0);
    ASSERT_EQ(make_table(sales, "orders", "orderno"), 0);
    ASSERT_EQ(make_table(stock, "items", "itemno"), 0);
    const Texts source = contents(sales->dict);
    ASSERT_EQ(source.size(), 4u);

    // Handles below the databases lead to them.
    ZVHANDLE table = zvdbAllocTable(sales);
    ASSERT_EQ(zvdbMergeDatabaseDictionary(table, stock, nullptr, nullptr), 0);
    zvdbFreeTable(table);
    EXPECT_EQ(contents(stock->dict), source);
    EXPECT_EQ(zvdbGetTableCount(stock), 2);
    ZVDBDICTENTRY e;
    EXPECT_EQ(_zvdbDictFindIndex(stock, "itemno", &e), 101);
    ASSERT_EQ(_zvdbDictFindIndex(stock, "orderno", &e), 0);
    EXPECT_STREQ(e.link, "orders");
}

TEST_F(MergeTest, APlannerSeesBothListsInUidOrderAndEveryActionIsCarriedOut) {
    // Name order differs from UID order on both sides.
    fill(src_, {{"zulu", 1004}, {"mike", 1000}, {"alpha", 1002}});
    fill(dst_, {{"yank", 998}, {"bravo", 1003}, {"kilo", 999}, {"echo", 1001}});
    const Texts source = contents(dict_of(src_));
    const Texts destination = contents(dict_of(dst_));
    g_plan = [&](ZVDBLIST *from, ZVDBLIST *to) -> ZVDBRET {
        auto seen = [](ZVDBLIST *list) {
            Texts out;
            for (int i = 0; i < list->count; i++) {
                uint32_t action = 99;
                std::memcpy(&action, reinterpret_cast<const char *>(list->items[i]) + 1236, sizeof action);
                EXPECT_EQ(action, 0u);
                out.push_back(text(item(list, i)->entry));
            }
            return out;
        };
        EXPECT_EQ(seen(from), source);
        EXPECT_EQ(seen(to), destination);
        // yank kept, kilo deleted, echo rewritten, bravo deleted; mike
        // added, alpha skipped, zulu added.
        const uint32_t to_actions[] = {ZVDB_MERGE_KEEP, ZVDB_MERGE_DELETE, ZVDB_MERGE_REWRITE, ZVDB_MERGE_DELETE};
        for (int i = 0; i < 4; i++) item(to, i)->action = to_actions[i];
        std::snprintf(item(to, 2)->entry.path, sizeof item(to, 2)->entry.path, "moved");
        std::snprintf(item(to, 2)->entry.owner, sizeof item(to, 2)->entry.owner, "new owner");
        const uint32_t from_actions[] = {ZVDB_MERGE_ADD, ZVDB_MERGE_SKIP, ZVDB_MERGE_ADD};
        for (int i = 0; i < 3; i++) item(from, i)->action = from_actions[i];
        return 0;
    };
    ASSERT_EQ(zvdbMergeSessionDictionary(src_, dst_, on_plan, on_message), 0);
    EXPECT_EQ(g_plans, 1);
    EXPECT_EQ(g_messages, std::vector<Message>{});
    ZVDBDICTENTRY echo = rich("echo", 1001);
    std::snprintf(echo.path, sizeof echo.path, "moved");
    std::snprintf(echo.owner, sizeof echo.owner, "new owner");
    ZVDBDICT *want = dict_of(session_in("want", true));
    for (const ZVDBDICTENTRY &e : {rich("yank", 998), rich("mike", 1000), echo, rich("zulu", 1004)}) {
        put_entry(want, e);
    }
    EXPECT_EQ(contents(dict_of(dst_)), contents(want));
    EXPECT_GT(next_uid(dst_), 1004u);
}

TEST_F(MergeTest, RefusalsComeBeforeAnyEntryIsRead) {
    fill(dst_, {{"kept", 998}});
    const Texts destination = contents(dict_of(dst_));
    ZVHANDLE logged_off = zvdbAllocSession(0);
    sessions_.push_back(logged_off);
    ZVHANDLE shared = session_in("shared", false);
    ASSERT_EQ(zvdbIsSessionExclusive(shared), 0);
    // Databases: connected exclusively, connected shared, not connected.
    tagZVDBDATABASE *sales = connect("Sales", "db1", 1);
    tagZVDBDATABASE *stock = connect("Stock", "db2", 0);
    ASSERT_EQ(zvdbIsDatabaseExclusive(stock), 0);
    ZVHANDLE idle = zvdbAllocDatabase(session_);
    databases_.push_back(static_cast<tagZVDBDATABASE *>(idle));

    struct Case {
        const char *what;
        bool databases;
        ZVHANDLE source, destination;
        int code;
    };
    const Case cases[] = {
        {"no session", false, nullptr, dst_, ZVDB_NO_SESSION},
        {"source logged off", false, logged_off, dst_, ZVDB_NOT_ACTIVE},
        {"destination logged off", false, src_, logged_off, ZVDB_NOT_ACTIVE},
        {"source shared", false, shared, dst_, ZVDB_BAD_SESSION_TYPE},
        {"destination shared", false, src_, shared, ZVDB_BAD_SESSION_TYPE},
        {"no database", true, sales, session_, ZVDB_NO_DATABASE},
        {"database not connected", true, idle, sales, ZVDB_NOT_ACTIVE},
        {"database shared", true, sales, stock, ZVDB_NO_DATABASE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        g_messages.clear();
        const int rc = c.databases ? zvdbMergeDatabaseDictionary(c.source, c.destination, on_plan, on_message)
                                   : zvdbMergeSessionDictionary(c.source, c.destination, on_plan, on_message);
        EXPECT_EQ(rc, c.code);
        EXPECT_EQ(g_plans, 0);
        EXPECT_EQ(g_messages, (std::vector<Message>{{1, kSummary, c.code, "-"}}));
        EXPECT_EQ(zvdbGetError(c.destination), c.code);
    }
    EXPECT_EQ(contents(dict_of(dst_)), destination);
}

TEST_F(MergeTest, AFailingPlanOrStepLeavesTheDestinationAsItWas) {
    fill(src_, {{"s1", 1000}, {"s2", 1001}, {"s3", 1002}});
    fill(dst_, {{"d1", 998}, {"d2", 999}, {"d3", 1003}});
    const Texts source = contents(dict_of(src_));
    const Texts destination = contents(dict_of(dst_));
    using Plan = std::function<void(ZVDBLIST *, ZVDBLIST *)>;
    auto all = [](ZVDBLIST *list, uint32_t action) {
        for (int i = 0; i < list->count; i++) item(list, i)->action = action;
    };
    // The default plan, then a change to it.
    auto changed = [&](Plan change) {
        return [=](ZVDBLIST *from, ZVDBLIST *to) {
            all(from, ZVDB_MERGE_ADD);
            all(to, ZVDB_MERGE_DELETE);
            change(from, to);
        };
    };
    const std::string execution = "Merge execution error:";
    struct Case {
        const char *what;
        Plan plan;
        ZVDBRET answer;  // the planner's
        int code;        // 0: any code but 0, the same in every message
        std::vector<Message> messages;
    };
    const Case cases[] = {
        {"a destination item left at 0", changed([](ZVDBLIST *, ZVDBLIST *to) { item(to, 2)->action = 0; }), 0,
         ZVDB_BAD_MODE,
         {{3, "Not action set (dst):", ZVDB_BAD_MODE, "d3"}, {2, execution, ZVDB_BAD_MODE, "-"}}},
        {"a destination action on a source item",
         changed([](ZVDBLIST *from, ZVDBLIST *) { item(from, 1)->action = ZVDB_MERGE_DELETE; }), 0, ZVDB_BAD_MODE,
         {{3, "Not action set (dst):", ZVDB_BAD_MODE, "s2"}, {2, execution, ZVDB_BAD_MODE, "-"}}},
        {"the planner answers 9", [](ZVDBLIST *, ZVDBLIST *) {}, 9, 9, {{2, "Merge planning error:", 9, "-"}}},
        {"an entry not found by its UID",
         changed([](ZVDBLIST *, ZVDBLIST *to) {
             item(to, 1)->entry.uid = 4321;
             item(to, 1)->action = ZVDB_MERGE_REWRITE;
         }),
         0, ZVDB_BAD_MODE,
         {{3, "Cannot find entry on dictionary (dst):", ZVDB_BAD_MODE, "d2"},
          {3, "Updating Dictionary information (dst) error:", ZVDB_BAD_MODE, "-"},
          {2, execution, ZVDB_BAD_MODE, "-"}}},
        {"a rewrite to a name another entry holds",
         changed([](ZVDBLIST *, ZVDBLIST *to) {
             item(to, 1)->action = ZVDB_MERGE_REWRITE;
             std::snprintf(item(to, 1)->entry.name, sizeof item(to, 1)->entry.name, "d3");
         }),
         0, 0, {{3, "Updating Dictionary information (dst) error:", 0, "-"}, {2, execution, 0, "-"}}},
        {"an added UID that a kept entry holds",
         changed([](ZVDBLIST *from, ZVDBLIST *to) {
             item(to, 2)->action = ZVDB_MERGE_KEEP;
             item(from, 2)->entry.uid = item(to, 2)->entry.uid;
         }),
         0, 0, {{3, "zvdbWriteRecord Dictionary information (dst) error:", 0, "-"}, {2, execution, 0, "-"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        g_messages.clear();
        g_plan = [&](ZVDBLIST *from, ZVDBLIST *to) {
            c.plan(from, to);
            return c.answer;
        };
        const int rc = zvdbMergeSessionDictionary(src_, dst_, on_plan, on_message);
        EXPECT_NE(rc, 0);
        if (c.code) {
            EXPECT_EQ(rc, c.code);
        }
        std::vector<Message> want = c.messages;
        want.push_back({1, kSummary, rc, "-"});
        for (Message &m : want) m.code = m.code ? m.code : rc;
        EXPECT_EQ(g_messages, want);
        EXPECT_EQ(zvdbGetError(dst_), rc);
        EXPECT_EQ(contents(dict_of(dst_)), destination);
        EXPECT_EQ(contents(dict_of(src_)), source);
    }
    relogon(dst_);
    EXPECT_EQ(contents(dict_of(dst_)), destination);
}

TEST_F(MergeTest, AnEmptySourceEmptiesTheDestinationAndNoUIDComesBack) {
    struct Case {
        const char *what;
        std::vector<std::pair<const char *, uint32_t>> destination;
    };
    const Case cases[] = {{"entries up to 5000", {{"a", 998}, {"b", 5000}, {"c", 999}}}, {"nothing", {}}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto [src, dst] = fresh_pair();
        fill(dst, c.destination);
        relogon(dst);  // the serial number moved past the UIDs written
        uint32_t before = 0;
        ASSERT_EQ(_zvdbGetDictUID(dict_of(dst), &before), 0);
        ASSERT_EQ(zvdbMergeSessionDictionary(src, dst, nullptr, on_message), 0);
        EXPECT_EQ(contents(dict_of(dst)), Texts{});
        relogon(dst);
        EXPECT_EQ(contents(dict_of(dst)), Texts{});
        const uint32_t next = next_uid(dst);
        EXPECT_EQ(next, before);
        for (auto [name, uid] : c.destination) EXPECT_GT(next, uid);
    }
    EXPECT_EQ(g_messages, std::vector<Message>{});
}

// Over a failing disk: with a small page cache, so that the dictionary's
// writes fall inside the call, the Nth write fails once, N = 1,
// 2, ... until the merge meets no fault. A failed merge leaves the
// destination with its old entries, a merge that answers 0 with the
// source's, both also after the dictionary is closed and opened again.
class MergeSweepTest : public CatalogTest {
protected:
    void SetUp() override {
        CatalogTest::SetUp();
        small_cache();
        sales_ = connect("Sales", "db1", 1);
        stock_ = connect("Stock", "db2", 1);
    }
    // Both dictionaries closed, saved into "tpl" (or put back from there),
    // and opened again.
    void copy_dictionaries(bool save) {
        for (tagZVDBDATABASE *db : databases_) ASSERT_EQ(zvdbDisconnect(db), 0);
        fs::create_directories("tpl");
        for (const char *file : {"db1/Sales.qdd", "db2/Stock.qdd"}) {
            const fs::path saved = fs::path("tpl") / fs::path(file).filename();
            fs::copy_file(save ? file : saved, save ? saved : file, fs::copy_options::overwrite_existing);
        }
        ASSERT_EQ(zvdbConnect(sales_, "Sales"), 0);
        ASSERT_EQ(zvdbConnect(stock_, "Stock"), 0);
    }
    tagZVDBDATABASE *sales_ = nullptr;
    tagZVDBDATABASE *stock_ = nullptr;
};

TEST_F(MergeSweepTest, AFailedWriteLeavesTheOldEntriesAndSuccessTheSources) {
    ASSERT_EQ(make_table(sales_, "cust", "custno"), 0);
    ASSERT_EQ(make_table(sales_, "orders", "orderno"), 0);
    ASSERT_EQ(make_table(stock_, "items", "itemno"), 0);
    ASSERT_EQ(make_table(stock_, "stores", "storeno"), 0);
    const Texts source = contents(sales_->dict);
    const Texts old = contents(stock_->dict);
    ASSERT_EQ(old.size(), 4u);
    copy_dictionaries(true);

    int rc = -1;
    bool fired = true;
    long n = 1;
    for (; fired && n < 5000; n++) {
        SCOPED_TRACE(n);
        copy_dictionaries(false);
        zv::fault_reset();
        zv::fault_set(zv::IoKind::Write, n, EIO);
        rc = zvdbMergeDatabaseDictionary(sales_, stock_, nullptr, nullptr);
        fired = zv::io_calls(zv::IoKind::Write) >= n;
        zv::fault_reset();
        if (!fired) {
            EXPECT_EQ(rc, 0);
        }
        const Texts &want = rc ? old : source;
        EXPECT_EQ(contents(stock_->dict), want);
        ASSERT_EQ(zvdbDisconnect(stock_), 0);
        ASSERT_EQ(zvdbConnect(stock_, "Stock"), 0);
        EXPECT_EQ(contents(stock_->dict), want);
        if (HasFailure()) break;
    }
    EXPECT_EQ(rc, 0);
    EXPECT_GT(n, 10) << "the merge met faults";
}

}  // namespace

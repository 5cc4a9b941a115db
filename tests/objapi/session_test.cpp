// Sessions, databases and the sample class of the object layer: the session
// dictionary's databases, connected databases answered as their objects,
// attaching, refusals as exceptions, and objects that outlive their session.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "tests/objapi/objtest.h"
#include "tests/support/fixture.h"

namespace {

using objtest::expect_thrown;
using objtest::text_of;
using objtest::ThrowCase;
using objtest::thrown_by;
namespace fs = std::filesystem;

// A fresh directory with a new session dictionary, and a session of its own
// instance logged on to it.
class ObjSession : public zvtest::ZvTest {
protected:
    void SetUp() override {
        ZvTest::SetUp();
        session_ = std::make_unique<ZVSession>(0);
        session_->Create(ZVString(), ZVString(), ZVString());
        session_->Logon("srv", "usr", "pw");
        fs::create_directory("db");
    }
    void TearDown() override {
        session_.reset();
        ZvTest::TearDown();
    }
    ZVSession &s() { return *session_; }

    std::unique_ptr<ZVSession> session_;
};

TEST_F(ObjSession, TheSessionDictionaryListsFindsAndForgetsDatabases) {
    ZVString name("x"), path("y");
    EXPECT_FALSE(s().FirstDatabase(name, path));
    EXPECT_EQ(text_of(name), "");
    EXPECT_EQ(text_of(path), "");

    s().CreateDatabase("shop", "db");
    ASSERT_TRUE(s().FirstDatabase(name, path));
    EXPECT_EQ(text_of(name), "shop");
    EXPECT_EQ(text_of(path), "db/shop.qdd");
    EXPECT_FALSE(s().NextDatabase(name, path));
    EXPECT_EQ(text_of(name), "");
    EXPECT_EQ(text_of(path), "");
    EXPECT_EQ(s().GetDatabaseCount(), 1);

    unsigned uid = 0, listed = 0;
    ASSERT_TRUE(s().FindDatabase("SHOP", path, uid));
    EXPECT_EQ(text_of(path), "db/shop.qdd");
    s().GetDatabaseUID("shop", listed);
    EXPECT_EQ(uid, listed);
    ASSERT_TRUE(s().FindDatabase(uid, name, path));
    EXPECT_EQ(text_of(name), "shop");

    // Look-ups that find nothing leave their outputs as they were.
    name = "kept";
    path = "kept";
    unsigned untouched = 77;
    EXPECT_FALSE(s().FindDatabase("nope", path));
    EXPECT_FALSE(s().FindDatabase("nope", path, untouched));
    EXPECT_FALSE(s().FindDatabase(uid + 1000, name, path));
    EXPECT_EQ(untouched, 77u);
    EXPECT_EQ(text_of(name), "kept");
    EXPECT_EQ(text_of(path), "kept");

    // Dropping forgets the entry and keeps the file; adding registers it
    // again; deleting removes both.
    s().DropDatabase("shop");
    EXPECT_FALSE(s().FindDatabase("shop", path));
    EXPECT_TRUE(fs::exists("db/shop.qdd"));
    s().AddDatabase("shop", "db");
    EXPECT_TRUE(s().FindDatabase("shop", path));
    s().DeleteDatabase("shop");
    EXPECT_FALSE(s().FindDatabase("shop", path));
    EXPECT_FALSE(fs::exists("db/shop.qdd"));
}

TEST_F(ObjSession, ConnectedDatabasesAreAnsweredAsTheirObjects) {
    s().CreateDatabase("shop", "db");
    s().CreateDatabase("mall", "db");
    ZVDatabase d(&s());
    ZVDatabase e(s());
    EXPECT_EQ(s().GetFirstActive(), nullptr);
    EXPECT_EQ(d.IsActive(), 0);

    d.Connect("shop");
    EXPECT_EQ(s().GetFirstActive(), &d);
    EXPECT_EQ(s().GetNextActive(), nullptr);
    EXPECT_EQ(s().GetFirstActive(), &d);  // the walk starts again

    e.Connect("mall");
    EXPECT_EQ(s().GetFirstActive(), &d);
    EXPECT_EQ(s().GetNextActive(), &e);
    EXPECT_EQ(s().GetNextActive(), nullptr);
    // The walk with a cursor of the caller's leaves the object's alone.
    int at = 5;
    s().GetFirstActive();
    EXPECT_EQ(s().GetFirstActive(at), &d);
    EXPECT_EQ(at, 0);
    EXPECT_EQ(s().GetNextActive(at), &e);
    EXPECT_EQ(at, 1);
    EXPECT_EQ(s().GetNextActive(), &e);

    unsigned shop = 0;
    s().GetDatabaseUID("shop", shop);
    EXPECT_EQ(s().FindActive("MALL"), &e);
    EXPECT_EQ(s().FindActive(shop), &d);
    EXPECT_EQ(s().FindActive("nope"), nullptr);

    EXPECT_EQ(d.IsActive(), 1);
    EXPECT_EQ(text_of(d.GetName()), "shop");
    EXPECT_EQ(text_of(d.GetPath()), "db");
    EXPECT_EQ(d.GetTableCount(), 0);
    ZVString name("x"), path("kept");
    unsigned uid = 4242;
    EXPECT_FALSE(d.FirstTable(name, path));
    EXPECT_EQ(text_of(name) + text_of(path), "");
    path = "kept";
    EXPECT_FALSE(d.FindTable("nope", path, uid));
    EXPECT_EQ(uid, 4242u);
    EXPECT_EQ(text_of(path), "kept");
    EXPECT_FALSE(d.FindTable("nope", path));
    EXPECT_EQ(text_of(path), "");
    EXPECT_EQ(d.GetFirstActive(), nullptr);

    d.Disconnect();
    EXPECT_EQ(text_of(d.GetName()), "");
    EXPECT_EQ(s().GetFirstActive(), &e);
    s().DisconnectAll();
    EXPECT_EQ(s().GetFirstActive(), nullptr);
    EXPECT_EQ(e.IsActive(), 0);
}

TEST_F(ObjSession, RefusalsAreThrownWithTheCallsMessage) {
    s().CreateDatabase("shop", "db");
    ZVDatabase d(s());
    ZVString name, path;
    unsigned uid = 0;
    const ThrowCase cases[] = {
        {"second Logon", [&] { s().Logon("srv", "usr", "pw"); }, 4011, "Zarvo logon error.", "zvppsess", -1},
        {"session type 2", [] { ZVSession bad(2); }, 4001, "Not enough memory to allocate a session handle.",
         "zvppsess", -1},
        {"Create again", [&] { s().Create(ZVString(), ZVString(), ZVString()); }, 4011,
         "Can't create a new session dictionary.", "zvppsess", -1},
        {"CreateDatabase taken", [&] { s().CreateDatabase("SHOP", "db"); }, 4021, "Can't create database",
         "zvppsess", -1},
        {"DropDatabase unknown", [&] { s().DropDatabase("nope"); }, 101, "Can't drop database", "zvppsess", -1},
        {"GetDatabaseUID unknown", [&] { s().GetDatabaseUID("nope", uid); }, 101, "Can't retrieve database UID",
         "zvppsess", -1},
        {"FindDatabase without name", [&] { s().FindDatabase(ZVString(), path); }, 4007,
         "Can't retrieve database info", "zvppsess", -1},
        {"SetParam 9", [&] { s().SetParam(9, 1); }, 4004, "ZVSession::SetParam error", "zvppsess", -1},
        {"SetSessionType 3", [&] { s().SetSessionType(3); }, 4084, "Can't set the session type", "zvppsess", -1},
        {"SetTempPath logged on", [&] { s().SetTempPath("tmp"); }, 4011, "Can't set the temp path", "zvppsess",
         -1},
        {"Attach logged on", [&] { s().Attach(0); }, 4011, "Can't attach to current session", "zvppsess", -1},
        {"Detach not attached", [&] { s().Detach(); }, 4101, "Can't detach session", "zvppsess", -1},
        {"database of no session", [] { ZVDatabase bad(static_cast<ZVSession *>(nullptr)); }, 4003,
         "Invalid session handle", "zvppdbas", -1},
        {"Connect unknown", [&] { d.Connect("nope"); }, 101, "Can't connect to database", "zvppdbas", -1},
        {"FirstTable unconnected", [&] { d.FirstTable(name, path); }, 4012, "Can't retrieve table info",
         "zvppdbas", -1},
        {"NextTable unconnected", [&] { d.NextTable(name, path); }, 4012, "Can't retrieve next table", "zvppdbas",
         -1},
        {"Disconnect unconnected", [&] { d.Disconnect(); }, 4012, "Can't disconnect database", "zvppdbas", -1},
        {"RenameTable unconnected", [&] { d.RenameTable("a", "b"); }, 4012, "", "zvppdbas", -1},
    };
    for (const ThrowCase &c : cases) expect_thrown(thrown_by(c.call), c);
    // The refusals left the session and the dictionary as they were.
    EXPECT_EQ(s().IsActive(), 1);
    EXPECT_EQ(s().GetDatabaseCount(), 1);
    EXPECT_EQ(s().GetSessionType(), 0);
}

TEST_F(ObjSession, SettingsAndLogout) {
    EXPECT_EQ(text_of(s().GetServerName()), "srv");
    EXPECT_EQ(text_of(s().GetUserLogonName()), "usr");
    EXPECT_EQ(text_of(s().GetPassword()), "pw");
    EXPECT_EQ(text_of(s().GetPath()), "");
    EXPECT_GT(s().ServerDateTime().Year(), 2000);
    EXPECT_EQ(s().SetSavePoint(), 0);

    s().SetParam(2, 40);
    EXPECT_EQ(s().GetParam(2), 40);
    EXPECT_EQ(s().GetParam(9), 0);
    EXPECT_EQ(text_of(s().GetPathPrefix()), "");
    s().SetPathPrefix("pre/");
    EXPECT_EQ(text_of(s().GetPathPrefix()), "pre/");
    s().ClearPathPrefix();
    EXPECT_EQ(text_of(s().GetPathPrefix()), "");
    s().SetExclusive(1);
    EXPECT_EQ(s().IsExclusive(), 1);
    s().SetLogonOnly(1);
    EXPECT_EQ(s().GetLogonOnly(), 1);
    EXPECT_EQ(s().IsSQLServer(), 0);

    s().Logout();
    EXPECT_EQ(s().IsActive(), 0);
    EXPECT_EQ(text_of(s().GetServerName()), "<none>");
    const ThrowCase cases[] = {
        {"Logout again", [&] { s().Logout(); }, 4012, "Zarvo logout error.", "zvppsess", -1},
        {"ServerDateTime logged off", [&] { s().ServerDateTime(); }, 4012,
         "Can't retrieve current system date and time from server", "zvppsess", -1},
        {"CreateDatabase logged off", [&] { s().CreateDatabase("shop", "db"); }, 4012, "Can't create database",
         "zvppsess", -1},
    };
    for (const ThrowCase &c : cases) expect_thrown(thrown_by(c.call), c);
    s().SetTempPath("tmp");
    s().SetSessionType(1);
    EXPECT_EQ(s().GetSessionType(), 1);
}

// A logged-off session attaches to the current instance (3), to an instance
// by name (2) and to another session (1), taking only then its credentials.
TEST_F(ObjSession, TheThreeAttachFormsGiveTheirModes) {
    ZVSession b(1);
    char instance[32];
    std::snprintf(instance, sizeof instance, "%p", s().GetHandle());
    struct Case {
        const char *form;
        std::function<void()> attach;
        int mode;
        const char *server;
    } cases[] = {
        {"current instance",
         [&] {
             s().SwitchInstance();
             b.Attach(0);
         },
         3, "<none>"},
        {"instance by name", [&] { b.Attach(instance, 0); }, 2, "<none>"},
        {"another session", [&] { b.Attach(s()); }, 1, "srv"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.form);
        EXPECT_EQ(b.GetAttachMode(), 0);
        c.attach();
        EXPECT_EQ(b.GetAttachMode(), c.mode);
        EXPECT_EQ(b.IsActive(), 1);
        EXPECT_EQ(text_of(b.GetServerName()), c.server);
        b.Detach();
        EXPECT_EQ(b.IsActive(), 0);
    }
    expect_thrown(thrown_by([&] { b.Attach("nowhere", 0); }),
                  {"unknown instance", nullptr, ZV_INST_NOTFOUND, "Can't attach to Zarvo instance id", "zvppsess",
                   -1});
}

// Destroying the session first leaves the connected database object without
// a handle: its calls fail with error codes, its destructor frees nothing.
// A database object no active list reaches keeps its handle, which its
// destructor frees.
TEST_F(ObjSession, DatabasesOutlivingTheirSessionBecomeInert) {
    s().CreateDatabase("shop", "db");
    ZVDatabase connected(s());
    ZVDatabase idle(s());
    connected.Connect("shop");

    session_.reset();
    EXPECT_EQ(connected.GetHandle(), nullptr);
    EXPECT_NE(idle.GetHandle(), nullptr);
    EXPECT_EQ(connected.IsActive(), 0);
    EXPECT_EQ(text_of(connected.GetName()), "");
    EXPECT_EQ(connected.GetFirstActive(), nullptr);
    const ThrowCase cases[] = {
        {"SetSavePoint", [&] { connected.SetSavePoint(); }, 4002, "Can't set save point", "zvppbase", -1},
        {"Connect", [&] { connected.Connect("shop"); }, 4010, "Can't connect to database", "zvppdbas", -1},
        {"FindTable with UID", [&] {
             ZVString path;
             unsigned uid = 0;
             connected.FindTable("t", path, uid);
         },
         4003, "Not a valid database handle", "zvppdbas", -1},
    };
    for (const ThrowCase &c : cases) expect_thrown(thrown_by(c.call), c);
}

// The table "items" (id ZV_INT4, unique index "pk") in the database
// "shop" of the session, open and holding one record, and a table object
// of the database that was never opened.
class ObjSessionTables : public ObjSession {
protected:
    void SetUp() override {
        ObjSession::SetUp();
        s().CreateDatabase("shop", "db");
        shop_ = std::make_unique<ZVDatabase>(s());
        shop_->Connect("shop");
        items_ = std::make_unique<ZVTable>(*shop_);
        items_->AddSegment(items_->AddIndex("pk", 0, 0, 0), items_->AddField("id", ZV_INT4, 4), 12);
        items_->Create("items", 0);
        items_->Open("items", 0);
        ZVRecord r(*items_);
        r.SetFieldAsSigned("id", 41);
        r.Write();
        spare_ = std::make_unique<ZVTable>(*shop_);
    }
    void TearDown() override {
        items_.reset();
        spare_.reset();
        shop_.reset();
        ObjSession::TearDown();
    }
    // The objects this fixture holds that still have a handle.
    int with_handles() const {
        int n = 0;
        for (const ZVBase *o : {static_cast<const ZVBase *>(shop_.get()), static_cast<const ZVBase *>(items_.get()),
                                static_cast<const ZVBase *>(spare_.get())}) {
            n += o && o->GetHandle() ? 1 : 0;
        }
        return n;
    }
    // Opens items anew through new objects on the session and reads its
    // record: the files were closed and left whole.
    static void expect_items_intact(ZVSession &session) {
        ZVDatabase shop(session);
        shop.Connect("shop");
        ZVTable items(shop);
        items.Open("items", 0);
        ZVRecord r(items);
        ASSERT_TRUE(r.First());
        EXPECT_EQ(r.GetFieldAsSigned("id"), 41);
        EXPECT_FALSE(r.Next());
    }

    std::unique_ptr<ZVDatabase> shop_;
    std::unique_ptr<ZVTable> items_, spare_;
};

// Out of the documented order: the session goes first, then the tables and
// the database built on it. The objects its active lists reach are left
// without handles, so that they free nothing afterwards (AddressSanitizer
// sees every handle freed once).
TEST_F(ObjSessionTables, SessionDestroyedBeforeItsDatabaseAndTables) {
    ASSERT_EQ(with_handles(), 3);
    session_.reset();
    EXPECT_EQ(with_handles(), 0);
    EXPECT_EQ(items_->IsActive(), 0);
    EXPECT_EQ(shop_->GetFirstActive(), nullptr);
    expect_thrown(thrown_by([&] { items_->Open("items", 0); }),
                  {"open", nullptr, 4013, "Can't open table", "zvpptabl", -1});
    items_.reset();
    spare_.reset();
    shop_.reset();
    ZVSession again(0);
    again.Logon("", "", "");
    expect_items_intact(again);
}

TEST_F(ObjSessionTables, DatabaseDestroyedBeforeItsTables) {
    EXPECT_EQ(shop_->GetFirstActive(), items_.get());
    shop_.reset();
    EXPECT_EQ(with_handles(), 0);
    EXPECT_EQ(s().GetFirstActive(), nullptr);
    items_.reset();
    spare_.reset();
    expect_items_intact(s());
}

// A fresh directory and an empty instance ring, nothing more.
class ObjFresh : public zvtest::ZvTest {};

TEST_F(ObjFresh, FindDatabaseWithUidWithoutHandle) {
    // A session object whose handle is taken away answers the UID form
    // before any look-up.
    struct Emptied : ZVSession {
        ZVHANDLE kept;
        Emptied() : ZVSession(1), kept(GetHandle()) { SetHandle(nullptr); }
        ~Emptied() override { SetHandle(kept); }
    } e;
    ZVString path;
    unsigned uid = 0;
    expect_thrown(thrown_by([&] { e.FindDatabase("x", path, uid); }),
                  {"no handle", nullptr, 4003, "Not a valid session handle", "zvppsess", -1});
    EXPECT_EQ(e.GetFirstActive(), nullptr);
    EXPECT_EQ(e.IsActive(), 0);
}

TEST_F(ObjFresh, HelloWorldAppendsOneLinePerCallAndThrowsWhenItCannotWrite) {
    ZVHelloWorld h;
    EXPECT_EQ(h.HelloWorld("hello.txt", "hi", -3, 7u, 1.5), 0);
    EXPECT_EQ(h.HelloWorld("hello.txt", ZVString(), 0, 4000000000u, -0.25), 0);
    EXPECT_EQ(zvtest::read_file("hello.txt"),
              "zvdbHelloWorld: | HelloFileName={hello.txt} | HelloTextData={hi} | HelloNintData={-3} | "
              "HelloULongData={7} | HelloFloatData={1.500000}\n"
              "zvdbHelloWorld: | HelloFileName={hello.txt} | HelloTextData={} | HelloNintData={0} | "
              "HelloULongData={4000000000} | HelloFloatData={-0.250000}\n");
    expect_thrown(thrown_by([&] { h.HelloWorld("no/such/dir/x.txt", "hi", 1, 1u, 1.0); }),
                  {"unwritable", nullptr, -1, "ZVHelloWorld::HelloWorld error.", "zvpphelo", -1});
    EXPECT_EQ(h.GetHandle(), nullptr);
}

}  // namespace

// Session records: allocation by type, defaults, freeing, the session's
// settings, its databases, and the product, configuration and clock
// queries.
#include <cmath>
#include <cstring>
#include <string>

#include "recapi/base/session.h"
#include "tests/recapi/base/basefix.h"
#include "zarvo/zarvo.h"

namespace {

using basetest::instance_name_of;
using basetest::SessionTest;

TEST_F(SessionTest, AllocationDependsOnTheType) {
    struct Case {
        int type;
        bool made;
        bool own;       // an instance of its own, registered and current
        int stored;     // zvdbGetSessionType
        int logononly;
        int shared;
    };
    const Case cases[] = {
        {0, true, true, 0, 0, 0},   {1, true, true, 1, 1, 0},   {3, true, false, 3, 0, 0},
        {4, true, false, 1, 1, 1},  {2, false, false, 0, 0, 0}, {5, false, false, 0, 0, 0},
        {-1, false, false, 0, 0, 0},
    };
    ASSERT_EQ(REGZARVO("other"), 0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        ASSERT_EQ(SWTZARVO("other"), 0);
        tagZVDBSESSION *s = alloc(c.type);
        if (!c.made) {
            EXPECT_EQ(s, nullptr);
            EXPECT_STREQ(WCHZARVO(), "other");
            continue;
        }
        ASSERT_NE(s, nullptr);
        const std::string name = instance_name_of(s);
        if (c.own) {
            EXPECT_STREQ(WCHZARVO(), name.c_str());
            EXPECT_STREQ(s->instname, name.c_str());
        } else {
            EXPECT_STREQ(WCHZARVO(), "other");
            EXPECT_EQ(s->instname, nullptr);
            EXPECT_EQ(GETZARVO(name.c_str()), nullptr);
        }
        EXPECT_EQ(zvdbGetHandleType(s), ZVDB_SESSION_HANDLE);
        EXPECT_EQ(zvdbGetSessionType(s), c.stored);
        EXPECT_EQ(zvdbGetLogonOnly(s), c.logononly);
        EXPECT_EQ(s->sharedinst, c.shared);
        // The defaults.
        EXPECT_STREQ(zvdbGetServerName(s), "QUENRITS");
        EXPECT_STREQ(zvdbGetUserLogonName(s), "");
        EXPECT_STREQ(zvdbGetUserPassword(s), "");
        const int params[7] = {0, 10, 32, 32, 10, 513, 0};
        for (int n = 0; n <= 6; n++) EXPECT_EQ(zvdbGetSessionParams(s, n), params[n]) << n;
        EXPECT_STREQ(zvdbGetDefFloatFormat(s), "%g");
        EXPECT_EQ(zvdbGetDefDateType(s), 1);
        EXPECT_EQ(zvdbGetDefTimeType(s), 2);
        EXPECT_EQ(zvdbGetTransactionIsolation(s), -1);
        EXPECT_EQ(zvdbIsActiveSession(s), 0);
        EXPECT_EQ(zvdbGetAttachMode(s), 0);
        EXPECT_EQ(zvdbIsTransActive(s), 0);
        EXPECT_EQ(zvdbGetError(s), 0);
        EXPECT_NE(s->dict, nullptr);
        EXPECT_EQ(release(s), 0);
        EXPECT_EQ(GETZARVO(name.c_str()), nullptr);
    }
}

TEST_F(SessionTest, FreeingLeavesNothingBehind) {
    for (int type : {0, 1, 3, 4}) {
        SCOPED_TRACE(type);
        if (type >= 3) {
            ASSERT_EQ(REGZARVO("other"), 0);
        }
        int64_t before = basetest::live_blocks();
        tagZVDBSESSION *s = alloc(type);
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(zvdbSetSessionPath(s, "dir"), 0);
        ASSERT_EQ(zvdbSetDefFloatFormat(s, "%.3f"), 0);
        ASSERT_EQ(zvdbSetTempPath(s, "tmp"), 0);
        ASSERT_EQ(zvdbSetPathPrefix(s, "pre"), 0);
        std::string name = instance_name_of(s);
        EXPECT_EQ(release(s), 0);
        EXPECT_EQ(GETZARVO(name.c_str()), nullptr);
        if (type >= 3) {
            ASSERT_EQ(UNRZARVO("other"), 0);
        }
        EXPECT_EQ(basetest::live_blocks(), before);
    }
    EXPECT_EQ(zvdbFreeSession(nullptr), ZVDB_NULL_HANDLE);
}

// A session whose instance another unregistered is still freed whole.
TEST_F(SessionTest, ASessionWhoseInstanceIsGoneIsStillFreed) {
    int64_t before = basetest::live_blocks();
    tagZVDBSESSION *s = alloc(0);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(UNRZARVO(instance_name_of(s).c_str()), 0);
    EXPECT_EQ(zvdbGetSessionHandle(s), nullptr);
    EXPECT_EQ(release(s), 0);
    EXPECT_EQ(basetest::live_blocks(), before);
}

TEST_F(SessionTest, StartParametersAndSettings) {
    tagZVDBSESSION *s = alloc(0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(zvdbSetSessionParams(s, 2, 40), 0);
    EXPECT_EQ(zvdbGetSessionParams(s, 2), 40);
    for (int n : {0, 6}) {
        zvdbClearError(s);
        EXPECT_EQ(zvdbSetSessionParams(s, n, 7), ZVDB_BAD_ARGUMENT) << n;
        EXPECT_EQ(zvdbGetError(s), ZVDB_BAD_ARGUMENT) << n;
    }
    EXPECT_EQ(zvdbSetSessionParams(nullptr, 1, 7), ZVDB_NULL_HANDLE);

    // Session types: 4 is stored as 1 and shared; 2, 3 and 5 are refused.
    for (int type : {2, 3, 5}) EXPECT_EQ(zvdbSetSessionType(s, type), ZVDB_BAD_SESSION_TYPE) << type;
    const std::string name = instance_name_of(s);
    EXPECT_EQ(zvdbSetSessionType(s, 4), 0);
    EXPECT_EQ(zvdbGetSessionType(s), 1);
    EXPECT_EQ(zvdbGetLogonOnly(s), 1);
    EXPECT_EQ(s->sharedinst, 1);
    EXPECT_EQ(zvdbSetSessionType(s, 0), 0);
    EXPECT_EQ(zvdbGetLogonOnly(s), 0);
    EXPECT_EQ(s->sharedinst, 0);
    EXPECT_STREQ(s->instname, name.c_str());
    EXPECT_EQ(zvdbSetSessionType(nullptr, 0), ZVDB_NO_SESSION);

    EXPECT_EQ(zvdbSetDefFloatFormat(s, "%.2f"), 0);
    EXPECT_STREQ(zvdbGetDefFloatFormat(s), "%.2f");
    EXPECT_EQ(zvdbSetDefFloatFormat(s, nullptr), 0);
    EXPECT_STREQ(zvdbGetDefFloatFormat(s), "%g");
    EXPECT_STREQ(zvdbGetDefFloatFormat(nullptr), "%g");

    EXPECT_EQ(zvdbSetSessionExclusive(s, 1), 0);
    EXPECT_EQ(zvdbIsSessionExclusive(s), 1);
    EXPECT_EQ(zvdbSetLogonOnly(s, 1), 0);
    EXPECT_EQ(zvdbGetLogonOnly(s), 1);
    EXPECT_EQ(zvdbSetDictTranMode(s, 1), 0);
    EXPECT_EQ(s->dicttranmode, 1);
    EXPECT_EQ(zvdbSetTempPath(nullptr, "t"), 0);
    EXPECT_EQ(zvdbSetTempPath(s, nullptr), ZVDB_BAD_KIND);
    EXPECT_EQ(zvdbSetTempPath(s, "t"), 0);
    EXPECT_STREQ(s->temppath, "t");
    EXPECT_EQ(zvdbSetCurrentNodeName(s, "node"), ZVDB_NOT_ACTIVE);
}

TEST_F(SessionTest, SessionPathReadBack) {
    tagZVDBSESSION *s = alloc(3);
    ASSERT_NE(s, nullptr);
    char buf[16];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(zvdbGetSessionPath(s, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    ASSERT_EQ(zvdbSetSessionPath(s, "dir/sub"), 0);
    struct Case {
        int32_t size;
        int rc;
    } cases[] = {{7, ZVDB_BUFFER_SMALL}, {0, ZVDB_BUFFER_SMALL}, {8, 0}};
    for (const Case &c : cases) {
        std::memset(buf, 'x', sizeof buf);
        EXPECT_EQ(zvdbGetSessionPath(s, buf, c.size), c.rc) << c.size;
        if (c.rc == 0) {
            EXPECT_STREQ(buf, "dir/sub");
        } else {
            EXPECT_EQ(buf[0], 'x');
        }
    }
    EXPECT_EQ(zvdbGetSessionPath(s, nullptr, 8), ZVDB_BAD_ARGUMENT);
    EXPECT_EQ(zvdbGetSessionPath(nullptr, buf, 8), ZVDB_NULL_HANDLE);
    EXPECT_EQ(zvdbSetSessionPath(nullptr, "x"), ZVDB_NULL_HANDLE);
    ASSERT_EQ(zvdbSetSessionPath(s, nullptr), 0);
    EXPECT_EQ(zvdbGetSessionPath(s, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
}

TEST_F(SessionTest, SwitchInstanceMakesTheSessionsInstanceCurrent) {
    tagZVDBSESSION *a = alloc(0);
    tagZVDBSESSION *b = alloc(0);
    ASSERT_TRUE(a && b);
    EXPECT_STREQ(WCHZARVO(), instance_name_of(b).c_str());
    EXPECT_EQ(zvdbSwitchInstance(a), 0);
    EXPECT_STREQ(WCHZARVO(), instance_name_of(a).c_str());
    EXPECT_EQ(zvdbSwitchInstance(nullptr), ZVDB_NO_SESSION);
}

TEST_F(SessionTest, ProductNameAndVersion) {
    char buf[64];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(zvdbGetProductName(nullptr, buf, 9), ZVDB_BUFFER_SMALL);
    EXPECT_EQ(buf[0], 'x');
    EXPECT_EQ(zvdbGetProductName(nullptr, buf, 10), 0);
    EXPECT_STREQ(buf, "ZarvoCore");
    EXPECT_EQ(zvdbGetProductName(nullptr, nullptr, 10), ZVDB_NULL_ARGUMENT);

    tagZVDBSESSION *s = alloc(0);
    ASSERT_NE(s, nullptr);
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(zvdbGetProductVersion(s, buf, 39), ZVDB_BUFFER_SMALL);
    EXPECT_EQ(zvdbGetError(s), ZVDB_BUFFER_SMALL);
    EXPECT_EQ(buf[0], 'x');
    ASSERT_EQ(zvdbGetProductVersion(s, buf, 40), 0);
    // The engine's version word of this build, 0.1.0.
    EXPECT_STREQ(buf, "V0.01(0000)");
}

// One version word per form of the text.
TEST(VersionText, OneWordPerForm) {
    struct Case {
        uint32_t v, build, base;
        const char *text;
    } cases[] = {
        {0xC2312345, (5u << 7) | 9, 7, "V11.3.9.74565(Build-5-7)"},
        {0xC2312345, (5u << 7) | 9, 0, "V11.3.9.74565(Build-5)"},
        {0xC2312345, 9, 7, "V11.3.74565"},
        {0xC0000000, 0, 0, "V20.0.0"},
        {0xAB512345, 0, 0, "Vb.5.12345"},
        {0xA9000000, 0, 0, "V9.0.0"},
        {0xA3456789, 0, 0, "V3.456.789"},
        {0x01021235, 0, 0, "0x1021235"},
        {0x01021231, 0, 0, "V1.02(1231)"},
        {0x00010000, 0, 0, "V0.01(0000)"},
    };
    for (const Case &c : cases) {
        char buf[40];
        EXPECT_EQ(zv::format_version(c.v, c.build, c.base, buf, sizeof buf), 0) << c.text;
        EXPECT_STREQ(buf, c.text);
        const int32_t len = int32_t(std::strlen(c.text));
        EXPECT_EQ(zv::format_version(c.v, c.build, c.base, buf, len), ZVDB_BUFFER_SMALL) << c.text;
    }
}

TEST_F(SessionTest, ConfigurationAndEncryption) {
    tagZVDBSESSION *s = alloc(0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(zvdbGetSystemConfig(150), '/');
    EXPECT_EQ(zvdbGetSystemConfig(256), 0);
    EXPECT_EQ(zvdbGetSystemConfig(-1), 0);
    int32_t max = 0;
    EXPECT_EQ(zvdbGetMaxConnections(s, &max), 0);
    EXPECT_EQ(max, -1);
    EXPECT_EQ(zvdbGetMaxConnections(s, nullptr), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbSETENCRYPT(nullptr, nullptr, 0), 0);
    EXPECT_EQ(zvdbSETENCRYPT("1", nullptr, 8), zvSETENCRYPT("1", nullptr, 8));
}

TEST_F(SessionTest, ServerDateTimeNeedsALoggedOnSession) {
    tagZVDBSESSION *s = alloc(1);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(zvdbServerDateTime(s), 0.0);
    EXPECT_EQ(zvdbGetError(s), ZVDB_NOT_ACTIVE);
    EXPECT_EQ(zvdbServerDateTime(nullptr), 0.0);
    ASSERT_EQ(zvdbLogon(s, nullptr, nullptr, nullptr), 0);
    ZVDATETIME now = 0;
    ASSERT_EQ(zvdbCurrentDateTime(&now), 0);
    ZVDATETIME server = zvdbServerDateTime(s);
    EXPECT_EQ(zvdbGetError(s), 0);
    EXPECT_LE(std::fabs(server - now), 1.5 / 86400.0);
    EXPECT_EQ(zvdbSetCurrentNodeName(s, "node"), 0);
}

TEST(DatabaseEntryText, NameAndPathOfAnEntry) {
    ZVDBDICTENTRY e{};
    std::strcpy(e.name, "Sales");
    std::strcpy(e.physname, "sales");
    std::strcpy(e.path, "db/dir");
    std::strcpy(e.supext, ".qdd");
    char name[16], path[32];
    EXPECT_EQ(zv::database_entry_text(e, '/', name, sizeof name, path, sizeof path), 0);
    EXPECT_STREQ(name, "Sales");
    EXPECT_STREQ(path, "db/dir/sales.qdd");
    // Each buffer is optional; each must hold its text with its end.
    std::memset(path, 'x', sizeof path);
    EXPECT_EQ(zv::database_entry_text(e, '/', name, 5, nullptr, 0), ZVDB_BUFFER_SMALL);
    EXPECT_EQ(zv::database_entry_text(e, '/', name, 6, nullptr, 0), 0);
    EXPECT_EQ(zv::database_entry_text(e, '/', nullptr, 0, path, 16), ZVDB_BUFFER_SMALL);
    EXPECT_EQ(path[0], 'x');
    EXPECT_EQ(zv::database_entry_text(e, '/', nullptr, 0, path, 17), 0);
    EXPECT_STREQ(path, "db/dir/sales.qdd");
    // Without a directory: the file name and extension alone.
    e.path[0] = 0;
    EXPECT_EQ(zv::database_entry_text(e, '\\', name, sizeof name, path, sizeof path), 0);
    EXPECT_STREQ(path, "sales.qdd");
}

TEST_F(SessionTest, DatabaseWalksNeedABuffer) {
    tagZVDBSESSION *s = alloc(3);
    ASSERT_NE(s, nullptr);
    char buf[8];
    EXPECT_EQ(zvdbFirstDatabase(s, nullptr, 0, nullptr, 0), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbNextDatabase(s, nullptr, 0, nullptr, 0), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbFindDatabase(s, "x", nullptr, 0), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbFindDatabase(s, nullptr, buf, sizeof buf), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbFindDatabaseByUID(s, 1, buf, sizeof buf, nullptr, 0), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbGetError(s), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbFirstDatabase(nullptr, buf, sizeof buf, nullptr, 0), ZVDB_NO_SESSION);
    EXPECT_EQ(zvdbGetDatabaseCount(nullptr), -1);
}

TEST_F(SessionTest, ConnectedDatabases) {
    tagZVDBSESSION *s = alloc(3);
    ASSERT_NE(s, nullptr);
    tagZVDBDATABASE *dbs[2];
    const char *names[2] = {"Alpha", "Beta"};
    for (int i = 0; i < 2; i++) {
        dbs[i] = basetest::make<tagZVDBDATABASE>(ZVDB_DATABASE_HANDLE);
        dbs[i]->session = s;
        dbs[i]->name = _zvdb_strdup(names[i]);
        ASSERT_EQ(_zvdbListAdd(s->databases, dbs[i]), 0);
    }
    int index = 7;
    EXPECT_EQ(zvdbGetFirstActiveDatabase(s, &index), dbs[0]);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(zvdbGetNextActiveDatabase(dbs[0], &index), dbs[1]);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(zvdbGetNextActiveDatabase(s, &index), nullptr);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(zvdbGetFirstActiveDatabase(s, nullptr), nullptr);
    EXPECT_EQ(zvdbGetError(s), ZVDB_NULL_ARGUMENT);
    EXPECT_EQ(zvdbFindActiveDatabase(s, "beta"), dbs[1]);
    EXPECT_EQ(zvdbFindActiveDatabase(s, "ALPHA"), dbs[0]);
    EXPECT_EQ(zvdbFindActiveDatabase(s, "gamma"), nullptr);
    EXPECT_EQ(zvdbFindActiveDatabase(s, nullptr), nullptr);
    EXPECT_EQ(zvdbGetAttachMode(dbs[0]), 0);
    ASSERT_EQ(_zvdbListClear(s->databases), 0);
    for (tagZVDBDATABASE *db : dbs) {
        _zvdb_free(db->name);
        _zvdb_free(db);
    }
}

}  // namespace

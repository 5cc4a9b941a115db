// The structure of a database dictionary: an older dictionary reported by
// the check, and brought to the current structure with its entries.
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/core/platform.h"
#include "recapi/base/super.h"
#include "tests/recapi/catalog/catfix.h"

namespace {

using cattest::CatalogTest;

class DictStructTest : public CatalogTest {
protected:
    // A database dictionary of the structure before PHY_NAME: the fields of
    // today's but that one (RESERVED the longer for it, the record of the
    // same length), in the host name + ".qdd" or as the plain table at that
    // path, with or without the index "DICTLINK"; entered in the session
    // dictionary.
    void make_old(const char *name, bool insuper = true, bool withlink = true) {
        const std::string hostname = std::string(name) + ".qdd";
        ZVHANDLE t = zvdbAllocTable(session_);
        const struct {
            const char *name;
            int type, length;
        } fields[] = {{"TYPE", ZV_INT4, 4},        {"STATUS", ZV_INT4, 4},     {"NAME", ZV_FSTRING, 128},
                      {"LINK", ZV_FSTRING, 128},   {"LINKNBR", ZV_INT4, 4},    {"PATH", ZV_FSTRING, 255},
                      {"SUPEXT", ZV_FSTRING, 16},  {"DATEXT", ZV_FSTRING, 16}, {"IDXEXT", ZV_FSTRING, 16},
                      {"VERSION", ZV_INT4, 4},     {"COUNTER", ZV_INT4, 4},    {"UID", ZV_INT4, 4},
                      {"OWNER", ZV_FSTRING, 128},  {"RESERVED", ZV_ARRAY, 3385}};
        for (const auto &f : fields) ASSERT_NE(zvdbAddField(t, f.name, f.type, f.length), nullptr);
        const struct {
            const char *name;
            int dup;
            std::vector<int> fields;
        } indexes[] = {{"DICTNAME", 0, {0, 1, 2}}, {"DICTUID", 0, {11}}, {"DICTLINK", 1, {0, 1, 3}}};
        for (int k = 0; k < (withlink ? 3 : 2); k++) {
            ASSERT_NE(zvdbAddIndex(t, indexes[k].name, 0, indexes[k].dup, 0), nullptr);
            for (int f : indexes[k].fields) ASSERT_NE(zvdbAddSegmentByNbr(t, k, f, 13), nullptr);
        }
        ZVDBSUPER *host = _zvdbSuperAlloc(session_);
        host->createsel = 2;
        if (insuper) {
            ASSERT_EQ(_zvdbSuperSetPath(host, hostname.c_str()), 0);
            ASSERT_EQ(_zvdbSuperCreate(host), 0);
            ASSERT_EQ(zvdbSetTableSuperFile(t, host), 0);
        } else {
            ASSERT_EQ(zvdbSetTablePath(t, hostname.c_str()), 0);
        }
        ASSERT_EQ(zvdbCreateTable(t, "zvdbdict", 32 | 64 | 0x400 | 2 | (insuper ? 0 : 0x80000)), 0);
        _zvdbSuperFree(host);
        zvdbFreeTable(t);
        ASSERT_EQ(_zvdbDictAddDatabase(session_, name, "", insuper ? 1 : 0), 0);
    }

    // The entries the tests put in an old dictionary: tables "t" and "u",
    // index "ix" of "t".
    void put_entries(const char *name) {
        auto *db = static_cast<tagZVDBDATABASE *>(zvdbAllocDatabase(session_));
        ASSERT_EQ(zvdbConnect(db, name), 0);
        put_entry(db->dict, entry(ZVDBDICT_TABLE, "t", "", 3000));
        put_entry(db->dict, entry(ZVDBDICT_INDEX, "ix", "t", 3001));
        put_entry(db->dict, entry(ZVDBDICT_TABLE, "u", "", 1005));
        ASSERT_EQ(zvdbFreeDatabase(db), 0);
    }

    // Those entries, read from a connected dictionary.
    void expect_entries(ZVDBDICT *d) {
        EXPECT_EQ(walk(d, ZVDBDICT_TABLE), (std::vector<std::string>{"t", "u"}));
        ZVDBDICTENTRY e;
        ASSERT_EQ(_zvdbFindDictByUID(d, 3001), 0);
        ASSERT_EQ(_zvdbGetDict(d, &e), 0);
        EXPECT_STREQ(e.name, "ix");
        EXPECT_STREQ(e.physname, "ix");
        EXPECT_STREQ(e.link, "t");
    }

    tagZVDBDATABASE *connect_kept(const char *name) {
        auto *db = static_cast<tagZVDBDATABASE *>(zvdbAllocDatabase(session_));
        databases_.push_back(db);
        EXPECT_EQ(zvdbConnect(db, name), 0) << last();
        return db;
    }
};

// The files a dictionary keeps: the members of its host, or the files of
// its directory.
std::vector<std::string> dictionary_files(const std::string &host, bool insuper) {
    if (!insuper) return cattest::listing(host);
    std::vector<std::string> out;
    const int h = AVLFILNUM(2);
    EXPECT_EQ(OPNFIL(h, host.c_str(), 0), 0);
    char name[256];
    for (int n = 1; GETMNAME(h, name, sizeof name, n) == 0; n++) out.emplace_back(name);
    EXPECT_EQ(CLSFIL(h, 0), 0);
    return out;
}

TEST_F(DictStructTest, ADictionaryOfTheOlderStructureIsReported) {
    make_old("Old");
    tagZVDBDATABASE *now = connect("Now", "now");
    ASSERT_NE(now, nullptr);
    for (int checkonly : {1, 0}) {
        SCOPED_TRACE(checkonly);
        // Connected through another handle, which holds the dictionary only
        // inside its operations: the exclusive connect the call needs is
        // had, and the current structure needs nothing.
        EXPECT_EQ(_zvdbUpdateDictStruct(session_, "Now", checkonly), 0);
        EXPECT_EQ(_zvdbUpdateDictStruct(session_, "Missing", checkonly), 101);
    }
    // A check changes nothing: the next one finds the same.
    EXPECT_EQ(_zvdbUpdateDictStruct(session_, "Old", 1), ZVDB_DICT_STRUCTURE);
    EXPECT_EQ(_zvdbUpdateDictStruct(session_, "Old", 1), ZVDB_DICT_STRUCTURE);
    ASSERT_EQ(zvdbDisconnect(now), 0);
    EXPECT_EQ(_zvdbUpdateDictStruct(session_, "Now", 1), 0);
    EXPECT_EQ(_zvdbUpdateDictStruct(session_, "Now", 0), 0);
    // Its entries have no physical name of their own.
    tagZVDBDATABASE *old = connect_kept("Old");
    ASSERT_EQ(_zvdbLockDict(old->dict, 2), 0);
    EXPECT_EQ(zvdbGetTableFieldCount(old->dict->table), 14);
    ASSERT_EQ(_zvdbUnlockDict(old->dict), 0);
    ZVDBDICTENTRY e = entry(ZVDBDICT_TABLE, "t", "", 3000);
    put_entry(old->dict, e);
    ZVDBDICTENTRY back;
    ASSERT_EQ(_zvdbFindDictByUID(old->dict, 3000), 0);
    ASSERT_EQ(_zvdbGetDict(old->dict, &back), 0);
    EXPECT_STREQ(back.physname, "t");
    std::snprintf(e.physname, sizeof e.physname, "other");
    EXPECT_EQ(_zvdbPutDict(old->dict, &e), ZVDB_DICT_STRUCTURE);
}

TEST_F(DictStructTest, AnOlderDictionaryIsUpgradedWithItsEntries) {
    struct Case {
        const char *name;
        bool insuper, withlink;
    };
    for (const Case &c : {Case{"Host", true, true}, Case{"Plain", false, false}}) {
        SCOPED_TRACE(c.name);
        make_old(c.name, c.insuper, c.withlink);
        put_entries(c.name);
        // The new structure takes the place of the old: no file more.
        const std::string host = std::string(c.name) + ".qdd";
        const auto files = dictionary_files(host, c.insuper);
        ASSERT_EQ(_zvdbUpdateDictStruct(session_, c.name, 0), 0) << last();
        EXPECT_EQ(dictionary_files(host, c.insuper), files);
        EXPECT_EQ(_zvdbUpdateDictStruct(session_, c.name, 1), 0);

        tagZVDBDATABASE *db = connect_kept(c.name);
        ZVDBDICT *d = db->dict;
        // The table's definition, read inside an operation (between
        // operations its files are closed).
        ASSERT_EQ(_zvdbLockDict(d, 2), 0);
        EXPECT_EQ(zvdbGetTableFieldCount(d->table), 15);
        EXPECT_STREQ(zvdbGetFieldName(zvdbGetField(d->table, 13)), "PHY_NAME");
        EXPECT_EQ(zvdbGetFieldLength(zvdbGetField(d->table, 14)), 3257);
        ASSERT_EQ(_zvdbUnlockDict(d), 0);
        expect_entries(d);
        // The link index, added where it was missing, compares in upper
        // case.
        ASSERT_EQ(_zvdbRecordSetByLinkOn(d, ZVDBDICT_INDEX, 0, "T"), 0);
        EXPECT_EQ(walk(d, ZVDBDICT_INDEX), std::vector<std::string>{"ix"});
        ASSERT_EQ(_zvdbRecordSetByLinkOff(d), 0);
        uint32_t uid = 0;
        ASSERT_EQ(_zvdbGetDictUID(d, &uid), 0);
        EXPECT_GT(uid, 3001u);
        // A physical name of its own is kept now.
        ZVDBDICTENTRY e = entry(ZVDBDICT_TABLE, "v", "", uid);
        std::snprintf(e.physname, sizeof e.physname, "vfile");
        put_entry(d, e);
        ASSERT_EQ(_zvdbDictFindTable(db, "V", &e), 0);
        EXPECT_STREQ(e.physname, "vfile");
        ASSERT_EQ(zvdbDisconnect(db), 0);
    }
}

// Over a failing disk (caches of three buffers, so that writes fall inside
// the call; the Nth write fails once, N = 1, 2, ... until the upgrade meets
// no fault): a call that answers 0 leaves the new structure, and after
// every failure the dictionary connects with the old structure or the new
// and every entry. Where the write that failed was one marking the files
// or the host closed, the files were rebuilt (the host by the superfile
// rebuild first) as they were closed.
TEST_F(DictStructTest, AFailingWriteLosesNoEntry) {
    ASSERT_EQ(zvdbLogout(session_), 0);
    ASSERT_EQ(zvdbSetSessionParams(session_, 1, 3), 0);
    ASSERT_EQ(zvdbSetSessionParams(session_, 4, 3), 0);
    ASSERT_EQ(zvdbLogon(session_, nullptr, "tester", nullptr), 0);
    make_old("Host");
    put_entries("Host");
    namespace fs = std::filesystem;
    fs::copy_file("Host.qdd", "saved.qdd");
    const std::vector<std::string> files = dictionary_files("Host.qdd", true);
    int rc = -1, failures = 0;
    bool fired = true;
    for (long n = 1; fired && n < 2000; n++) {
        SCOPED_TRACE(n);
        fs::copy_file("saved.qdd", "Host.qdd", fs::copy_options::overwrite_existing);
        zv::fault_reset();
        zv::fault_set(zv::IoKind::Write, n, EIO);
        rc = _zvdbUpdateDictStruct(session_, "Host", 0);
        fired = zv::io_calls(zv::IoKind::Write) >= n;
        zv::fault_reset();
        failures += rc != 0;
        auto *db = static_cast<tagZVDBDATABASE *>(zvdbAllocDatabase(session_));
        ASSERT_EQ(zvdbConnect(db, "Host"), 0) << last() << " after " << rc;
        ASSERT_EQ(_zvdbLockDict(db->dict, 2), 0);
        const int32_t fields = zvdbGetTableFieldCount(db->dict->table);
        ASSERT_EQ(_zvdbUnlockDict(db->dict), 0);
        EXPECT_TRUE(rc != 0 ? fields == 14 || fields == 15 : fields == 15) << rc;
        expect_entries(db->dict);
        ASSERT_EQ(zvdbFreeDatabase(db), 0);
        // The new files are deleted again when the old stay; the old ones,
        // once replaced, may be left under their working names only when
        // their delete failed.
        if (rc == 0 || fields == 14) {
            EXPECT_EQ(dictionary_files("Host.qdd", true), files);
        }
    }
    EXPECT_EQ(rc, 0);
    EXPECT_GT(failures, 0);
}

}  // namespace

// ZVDatabase: a database handle of a session, owned by the object.
//
// The handle refers back to its object (the database's object pointer), so
// that the session's active-database calls answer with objects; the table
// objects open in the database are found the same way through the tables'
// object pointers. Look-ups answer false on 101; every other failure is
// thrown with the operation's message.
#include "objapi/zvppdbas.h"

namespace {

constexpr zvpp::Module kModule("objapi/zvppdbas");

const ZVSession &session_at(const ZVSession *session) {
    if (!session) kModule.fail(ZVDB_NO_SESSION, "Invalid session handle", __LINE__);
    return *session;
}

// A new database handle under the session, referring back to object.
ZVHANDLE new_database(ZVHANDLE session, ZVDatabase *object) {
    ZVHANDLE database = zvdbAllocDatabase(session);
    if (!database) kModule.fail(ZVDB_NO_MEMORY, "Can't allocate database handle", __LINE__);
    if (const ZVDBRET code = zvdbSetDatabaseObjptr(database, object)) {
        zvdbFreeDatabase(database);
        kModule.fail(code, "Can't initialize the object pointer", __LINE__);
    }
    return database;
}

// The table object whose address the open table's handle keeps.
ZVTable *table_object(ZVHANDLE table) {
    return table ? static_cast<ZVTable *>(zvdbGetTableObjptr(table)) : nullptr;
}

// A text the API may not have: none reads as "".
ZVString text_or_empty(const char *text) { return ZVString(text ? text : ""); }

}  // namespace

namespace zvpp {

// Backwards through the active list, so that a table leaving the list on
// its free moves none of those still to come.
void release_table_objects(ZVHANDLE database) noexcept {
    int index = 0;
    int count = 0;
    for (ZVHANDLE t = zvdbGetFirstActiveTable(database, &index); t; t = zvdbGetNextActiveTable(database, &index)) {
        count++;
    }
    for (int n = count - 1; n >= 0; n--) {
        ZVHANDLE table = zvdbGetTable(database, n);
        ZVTable *object = table_object(table);
        if (!object || object->GetHandle() != table) continue;
        object->SetHandle(nullptr);
        zvdbFreeTable(table);
    }
}

bool entry_step(const Module &module, EntryCall call, ZVHANDLE handle, ZVString &name, ZVString &path,
                const char *message, int line) {
    char n[kNameSize], p[kPathSize];
    const bool ok = found(module, call(handle, n, sizeof n, p, sizeof p), message, line);
    name = ok ? n : "";
    path = ok ? p : "";
    return ok;
}

void release_database(ZVDatabase &object, ZVHANDLE database) noexcept {
    if (!database) return;
    release_table_objects(database);
    object.SetHandle(nullptr);
    zvdbFreeDatabase(database);
}

}  // namespace zvpp

ZVDatabase::ZVDatabase(const ZVSession &session) : cursor(0) { handle = new_database(session.GetHandle(), this); }

ZVDatabase::ZVDatabase(const ZVSession *session) : ZVDatabase(session_at(session)) {}

ZVDatabase::~ZVDatabase() noexcept { zvpp::release_database(*this, handle); }

int ZVDatabase::IsActive() const { return zvdbIsActiveDatabase(handle); }

ZVDBRET ZVDatabase::Connect(const ZVString &name) {
    kModule.check(zvdbConnect(handle, name.c_str()), "Can't connect to database", __LINE__);
    return 0;
}

ZVDBRET ZVDatabase::Create(const ZVString &name, const ZVString &path) {
    kModule.check(zvdbCreateDatabase(handle, name.c_str(), path.c_str()), "Can't create database", __LINE__);
    return 0;
}

ZVDBRET ZVDatabase::Disconnect() {
    kModule.check(zvdbDisconnect(handle), "Can't disconnect database", __LINE__);
    return 0;
}

bool ZVDatabase::FirstTable(ZVString &name, ZVString &path) {
    return zvpp::entry_step(kModule, zvdbFirstTable, handle, name, path, "Can't retrieve table info", __LINE__);
}

bool ZVDatabase::NextTable(ZVString &name, ZVString &path) {
    return zvpp::entry_step(kModule, zvdbNextTable, handle, name, path, "Can't retrieve next table", __LINE__);
}

bool ZVDatabase::FindTable(const ZVString &name, ZVString &path) {
    char p[zvpp::kPathSize];
    const bool ok = zvpp::found(kModule, zvdbFindTable(handle, name.c_str(), p, sizeof p),
                                "Can't retrieve table info", __LINE__);
    path = ok ? p : "";
    return ok;
}

bool ZVDatabase::FindTable(const ZVString &name, ZVString &path, unsigned &uid) {
    if (!handle) kModule.fail(ZVDB_NO_SESSION, "Not a valid database handle", __LINE__);
    // The look-up by name empties its path when it finds nothing; this
    // form leaves its outputs as they were then.
    ZVString found_path;
    if (!FindTable(name, found_path)) return false;
    uint32_t found = 0;
    kModule.check(zvdbGetTableUID(handle, name.c_str(), &found), "Can't retrieve table UID", __LINE__);
    path = found_path;
    uid = found;
    return true;
}

bool ZVDatabase::FindTable(unsigned uid, ZVString &name, ZVString &path) {
    char n[zvpp::kNameSize], p[zvpp::kPathSize];
    if (!zvpp::found(kModule, zvdbFindTableByUID(handle, uid, n, sizeof n, p, sizeof p),
                     "Can't retrieve table info", __LINE__)) {
        return false;
    }
    name = n;
    path = p;
    return true;
}

ZVDBRET ZVDatabase::AddTable(const ZVString &name, const ZVString &path) {
    kModule.check(zvdbAddTable(handle, name.c_str(), path.c_str()), "Can't add table", __LINE__);
    return 0;
}

ZVDBRET ZVDatabase::DeleteTable(const ZVString &name, const ZVString &password) {
    kModule.check(zvdbDeleteTable(handle, name.c_str(), password.c_str()), "Can't delete table", __LINE__);
    return 0;
}

ZVDBRET ZVDatabase::DropTable(const ZVString &name) {
    kModule.check(zvdbDropTable(handle, name.c_str()), "Can't delete table", __LINE__);
    return 0;
}

ZVDBRET ZVDatabase::GetTableUID(const ZVString &name, unsigned &uid) {
    uint32_t found = 0;
    kModule.check(zvdbGetTableUID(handle, name.c_str(), &found), "Can't retrieve table UID", __LINE__);
    uid = found;
    return 0;
}

ZVTable *ZVDatabase::GetFirstActive(int &at) const { return table_object(zvdbGetFirstActiveTable(handle, &at)); }

ZVTable *ZVDatabase::GetFirstActive() { return GetFirstActive(cursor); }

ZVTable *ZVDatabase::GetNextActive(int &at) const { return table_object(zvdbGetNextActiveTable(handle, &at)); }

ZVTable *ZVDatabase::GetNextActive() { return GetNextActive(cursor); }

ZVTable *ZVDatabase::FindActive(const ZVString &name) const {
    return table_object(zvdbFindActiveTable(handle, name.c_str()));
}

ZVTable *ZVDatabase::FindActive(unsigned uid) const { return table_object(zvdbFindActiveTableByUID(handle, uid)); }

ZVString ZVDatabase::GetPath() const { return ZVString(zvdbGetDatabasePath(handle)); }

ZVString ZVDatabase::GetName() const { return text_or_empty(zvdbGetDatabaseName(handle)); }

ZVDBRET ZVDatabase::CloseAll() {
    kModule.check(zvdbCloseAll(handle), "Close all tables failed", __LINE__);
    return 0;
}

int ZVDatabase::GetTableCount() const { return zvdbGetTableCount(handle); }

ZVString ZVDatabase::GetDefaultSqlTableOwner() const { return ZVString(zvdbGetDefaultSqlTableOwner(handle)); }

ZVDBRET ZVDatabase::SetDefaultSqlTableOwner(const ZVString &owner) {
    kModule.check(zvdbSetDefaultSqlTableOwner(handle, owner.c_str()), "Set default Sql table owner failed",
                  __LINE__);
    return 0;
}

int ZVDatabase::IsSQL() const { return zvdbIsSQLDatabase(handle); }

ZVDBRET ZVDatabase::SetExclusive(int flag) {
    kModule.check(zvdbSetDatabaseExclusive(handle, flag), "Can't set the exclusive flag", __LINE__);
    return 0;
}

int ZVDatabase::IsExclusive() const { return zvdbIsDatabaseExclusive(handle); }

// The rename's code is thrown as it is, with no message of its own.
ZVDBRET ZVDatabase::RenameTable(const ZVString &oldName, const ZVString &newName) {
    kModule.check(zvdbRenameTable(handle, oldName.c_str(), newName.c_str()), "", __LINE__);
    return 0;
}

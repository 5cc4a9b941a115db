// ZVSession: a session handle of the record-level API, owned by the object.
//
// The session's connected databases are answered as the ZVDatabase objects
// whose addresses their handles keep. Destroying a session first takes
// their handles, and those of the table objects open in them, from the
// objects it reaches that way (see zvppdbas.h), so that objects destroyed
// after their session free nothing twice. Look-ups answer false on 101;
// every other failure is thrown with the operation's message.
#include "objapi/valaccess.h"
#include "objapi/zvppdbas.h"

namespace {

constexpr zvpp::Module kModule("objapi/zvppsess");

constexpr const char *kDatabaseInfo = "Can't retrieve database info";

// The database object whose address the connected database's handle keeps.
ZVDatabase *database_object(ZVHANDLE database) {
    return database ? static_cast<ZVDatabase *>(zvdbGetDatabaseObjptr(database)) : nullptr;
}

// The connected database at position n of the session's active list.
ZVHANDLE active_database(ZVHANDLE session, int n) {
    int index = n - 1;
    return n == 0 ? zvdbGetFirstActiveDatabase(session, &index) : zvdbGetNextActiveDatabase(session, &index);
}

}  // namespace

ZVSession::ZVSession(ZVSESSION_TYPE type) : cursor(0) {
    handle = zvdbAllocSession(type);
    if (!handle) kModule.fail(ZVDB_NO_MEMORY, "Not enough memory to allocate a session handle.", __LINE__);
}

// Backwards through the active list, so that a database leaving the list
// when its handle is freed moves none of those still to come.
ZVSession::~ZVSession() noexcept {
    if (!handle) return;
    int index = 0;
    int count = 0;
    for (ZVHANDLE d = zvdbGetFirstActiveDatabase(handle, &index); d; d = zvdbGetNextActiveDatabase(handle, &index)) {
        count++;
    }
    for (int n = count - 1; n >= 0; n--) {
        ZVHANDLE database = active_database(handle, n);
        ZVDatabase *object = database_object(database);
        if (object && object->GetHandle() == database) {
            zvpp::release_database(*object, database);
        } else if (database) {
            // A database handle no object of this layer owns: only the
            // table objects open in it lose their handles.
            zvpp::release_table_objects(database);
        }
    }
    zvdbFreeSession(handle);
}

ZVDBRET ZVSession::SetConfigurationFile(const ZVString &path) { return zvdbSetConfigurationFile(path.c_str()); }

ZVDBRET ZVSession::StartDatabaseEngine() { return zvdbStartDatabaseEngine(); }

void ZVSession::StopDatabaseEngine() { zvdbStopDatabaseEngine(); }

ZVDBRET ZVSession::Logon(const ZVString &server, const ZVString &user, const ZVString &password) {
    kModule.check(zvdbLogon(handle, server.c_str(), user.c_str(), password.c_str()), "Zarvo logon error.",
                  __LINE__);
    return 0;
}

ZVDBRET ZVSession::Logout() {
    kModule.check(zvdbLogout(handle), "Zarvo logout error.", __LINE__);
    return 0;
}

ZVDBRET ZVSession::Create(const ZVString &server, const ZVString &user, const ZVString &password) {
    kModule.check(zvdbCreateSession(handle, server.c_str(), user.c_str(), password.c_str()),
                  "Can't create a new session dictionary.", __LINE__);
    return 0;
}

ZVString ZVSession::GetServerName() const { return ZVString(zvdbGetServerName(handle)); }

ZVString ZVSession::GetUserLogonName() const { return ZVString(zvdbGetUserLogonName(handle)); }

ZVString ZVSession::GetPassword() const { return ZVString(zvdbGetUserPassword(handle)); }

int ZVSession::GetParam(ZVSESSION_PARAM param) const { return zvdbGetSessionParams(handle, param); }

ZVDBRET ZVSession::SetParam(ZVSESSION_PARAM param, int value) {
    kModule.check(zvdbSetSessionParams(handle, param, value), "ZVSession::SetParam error", __LINE__);
    return 0;
}

int ZVSession::IsActive() const { return zvdbIsActiveSession(handle); }

ZVString ZVSession::GetPath() const {
    char path[zvpp::kPathSize];
    kModule.check(zvdbGetSessionPath(handle, path, sizeof path), "Can't get the session path", __LINE__);
    return ZVString(path);
}

ZVDBRET ZVSession::SetPath(ZVString path) {
    kModule.check(zvdbSetSessionPath(handle, path.c_str()), "Can't set the session path", __LINE__);
    return 0;
}

bool ZVSession::FirstDatabase(ZVString &name, ZVString &path) {
    return zvpp::entry_step(kModule, zvdbFirstDatabase, handle, name, path, kDatabaseInfo, __LINE__);
}

bool ZVSession::NextDatabase(ZVString &name, ZVString &path) {
    return zvpp::entry_step(kModule, zvdbNextDatabase, handle, name, path, kDatabaseInfo, __LINE__);
}

bool ZVSession::FindDatabase(const ZVString &name, ZVString &path) {
    char p[zvpp::kPathSize];
    if (!zvpp::found(kModule, zvdbFindDatabase(handle, name.c_str(), p, sizeof p), kDatabaseInfo, __LINE__)) {
        return false;
    }
    path = p;
    return true;
}

bool ZVSession::FindDatabase(const ZVString &name, ZVString &path, unsigned &uid) {
    if (!handle) kModule.fail(ZVDB_NO_SESSION, "Not a valid session handle", __LINE__);
    if (!FindDatabase(name, path)) return false;
    uint32_t found = 0;
    kModule.check(zvdbGetDatabaseUID(handle, name.c_str(), &found), "Can't retrieve database UID", __LINE__);
    uid = found;
    return true;
}

bool ZVSession::FindDatabase(unsigned uid, ZVString &name, ZVString &path) {
    char n[zvpp::kNameSize], p[zvpp::kPathSize];
    if (!zvpp::found(kModule, zvdbFindDatabaseByUID(handle, uid, n, sizeof n, p, sizeof p), kDatabaseInfo,
                     __LINE__)) {
        return false;
    }
    name = n;
    path = p;
    return true;
}

ZVDBRET ZVSession::DisconnectAll() {
    kModule.check(zvdbDisconnectAll(handle), "Error disconnecting from all databases", __LINE__);
    return 0;
}

ZVDBRET ZVSession::CreateDatabase(const ZVString &name, const ZVString &path) {
    kModule.check(zvdbCreateDatabase(handle, name.c_str(), path.c_str()), "Can't create database", __LINE__);
    return 0;
}

ZVDBRET ZVSession::AddDatabase(const ZVString &name, const ZVString &path) {
    kModule.check(zvdbAddDatabase(handle, name.c_str(), path.c_str()), "Can't add existing database", __LINE__);
    return 0;
}

ZVDBRET ZVSession::DeleteDatabase(const ZVString &name) {
    kModule.check(zvdbDeleteDatabase(handle, name.c_str()), "Can't delete database", __LINE__);
    return 0;
}

ZVDBRET ZVSession::DropDatabase(const ZVString &name) {
    kModule.check(zvdbDropDatabase(handle, name.c_str()), "Can't drop database", __LINE__);
    return 0;
}

ZVDBRET ZVSession::GetDatabaseUID(const ZVString &name, unsigned &uid) {
    uint32_t found = 0;
    kModule.check(zvdbGetDatabaseUID(handle, name.c_str(), &found), "Can't retrieve database UID", __LINE__);
    uid = found;
    return 0;
}

ZVDatabase *ZVSession::GetFirstActive(int &at) const {
    return database_object(zvdbGetFirstActiveDatabase(handle, &at));
}

ZVDatabase *ZVSession::GetFirstActive() { return GetFirstActive(cursor); }

ZVDatabase *ZVSession::GetNextActive(int &at) const { return database_object(zvdbGetNextActiveDatabase(handle, &at)); }

ZVDatabase *ZVSession::GetNextActive() { return GetNextActive(cursor); }

ZVDatabase *ZVSession::FindActive(const ZVString &name) const {
    return database_object(zvdbFindActiveDatabase(handle, name.c_str()));
}

ZVDatabase *ZVSession::FindActive(unsigned uid) const {
    return database_object(zvdbFindActiveDatabaseByUID(handle, uid));
}

ZVDBRET ZVSession::SetLogonOnly(int flag) {
    kModule.check(zvdbSetLogonOnly(handle, flag), "Can't set the logon only flag", __LINE__);
    return 0;
}

int ZVSession::GetLogonOnly() const { return zvdbGetLogonOnly(handle); }

int ZVSession::GetDatabaseCount() const { return zvdbGetDatabaseCount(handle); }

ZVDBRET ZVSession::SetSessionType(ZVSESSION_TYPE type) {
    kModule.check(zvdbSetSessionType(handle, type), "Can't set the session type", __LINE__);
    return 0;
}

ZVSESSION_TYPE ZVSession::GetSessionType() const { return zvdbGetSessionType(handle); }

ZVDBRET ZVSession::SetCurrentNodeName(const ZVString &name) {
    kModule.check(zvdbSetCurrentNodeName(handle, name.c_str()), "Can't set the current node name", __LINE__);
    return 0;
}

ZVDBRET ZVSession::SetPathPrefix(const ZVString &prefix) {
    kModule.check(zvdbSetPathPrefix(handle, prefix.c_str()), "Can't set the path prefix", __LINE__);
    return 0;
}

ZVDBRET ZVSession::ClearPathPrefix() {
    kModule.check(zvdbClearPathPrefix(handle), "Can't clear the path prefix", __LINE__);
    return 0;
}

ZVString ZVSession::GetPathPrefix() const {
    const char *prefix = zvdbGetPathPrefix(handle);
    return ZVString(prefix ? prefix : "");
}

int ZVSession::IsSQLServer() const { return zvdbIsSQLServer(handle); }

ZVDBRET ZVSession::SetExclusive(int flag) {
    kModule.check(zvdbSetSessionExclusive(handle, flag), "Can't set the exclusive flag", __LINE__);
    return 0;
}

int ZVSession::IsExclusive() const { return zvdbIsSessionExclusive(handle); }

ZVDBRET ZVSession::Attach(int flag) {
    kModule.check(zvdbAttachSession(handle, nullptr, 3, flag), "Can't attach to current session", __LINE__);
    return 0;
}

ZVDBRET ZVSession::Attach(const ZVString &instance, int flag) {
    kModule.check(zvdbAttachSession(handle, const_cast<char *>(instance.c_str()), 2, flag),
                  "Can't attach to Zarvo instance id", __LINE__);
    return 0;
}

ZVDBRET ZVSession::Attach(const ZVSession &other) {
    kModule.check(zvdbAttachSession(handle, other.GetHandle(), 1, 0), "Can't attach to ZarvoDB session", __LINE__);
    return 0;
}

ZVDBRET ZVSession::Detach() {
    kModule.check(zvdbDetachSession(handle), "Can't detach session", __LINE__);
    return 0;
}

int ZVSession::GetAttachMode() const { return zvdbGetAttachMode(handle); }

ZVDBRET ZVSession::BeginImpersonation(int task) {
    kModule.check(zvdbBeginImpersonation(handle, task), "Can't begin impersonation", __LINE__);
    return 0;
}

ZVDBRET ZVSession::EndImpersonation() {
    kModule.check(zvdbEndImpersonation(handle), "Can't end impersonation", __LINE__);
    return 0;
}

// No time (0.0) is the call's failure; its code is the one the session
// kept.
ZVDateTime ZVSession::ServerDateTime() const {
    ZVDateTime now;
    ZVValueAccess::of(now) = zvdbServerDateTime(handle);
    if (ZVValueAccess::of(static_cast<const ZVDateTime &>(now)) == 0.0) {
        const ZVDBRET code = handle ? zvdbGetError(handle) : ZVDB_NULL_HANDLE;
        kModule.fail(code ? code : ZVDB_NOT_ACTIVE, "Can't retrieve current system date and time from server",
                     __LINE__);
    }
    return now;
}

ZVDBRET ZVSession::SetLogPath(const ZVString &path) {
    kModule.check(zvdbSetLogPath(handle, path.c_str()), "Can't set the log path", __LINE__);
    return 0;
}

ZVDBRET ZVSession::SetStatusLogPath(const ZVString &path) {
    kModule.check(zvdbSetStatusLogPath(handle, path.c_str()), "Can't set the log path", __LINE__);
    return 0;
}

ZVDBRET ZVSession::SetTempPath(const ZVString &path) {
    kModule.check(zvdbSetTempPath(handle, path.c_str()), "Can't set the temp path", __LINE__);
    return 0;
}

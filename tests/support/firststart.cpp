#include "tests/support/firststart.h"

#include <unistd.h>

namespace zvtest {

void StartUp::note(const char *call, int rc) {
    if (!trail.empty()) trail += ", ";
    trail += std::string(call) + " " + std::to_string(rc);
}

template <typename Call>
int StartUp::make(const char *name, Call &&call) {
    if (before) before(name);
    const int rc = call();
    if (after) after(name);
    if (rc) note(name, rc);
    return rc;
}

void StartUp::release() {
    if (handle) zvdbFreeTable(handle);
    if (db) zvdbFreeDatabase(db);
    if (session) zvdbFreeSession(session);
    handle = db = session = nullptr;
}

int StartUp::run() {
    // 12 where it can still come (another process holds what a step needs
    // past the step's own wait, or makes the same thing at that moment):
    // the handles are dropped and the whole code runs again, a bounded
    // number of times.
    int rc = 0;
    for (int attempt = 0; attempt < kAttempts; attempt++) {
        if ((rc = run_once()) != 12) break;
        release();
        usleep(useconds_t(20000 + (attempt * 7919 + getpid()) % 40000));
    }
    return rc;
}

int StartUp::run_once() {
    if (!session && !(session = zvdbAllocSession(0))) return -1;
    if (plain) zvdbSetDictInSuperfile(session, 0);
    if (buffers) {
        zvdbSetSessionParams(session, 1, buffers);
        zvdbSetSessionParams(session, 4, buffers);
    }
    int rc = zvdbLogon(session, nullptr, "tester", nullptr);
    // 12: no session dictionary here (or another process holds it past the
    // logon's wait, and the make answers 19 or 12); 48: one a kill cut short.
    if (rc == 12 || rc == 48) {
        note("zvdbLogon", rc);
        rc = make("zvdbCreateSession", [&] { return zvdbCreateSession(session, nullptr, nullptr, nullptr); });
        if (rc == 0 || rc == 19) rc = zvdbLogon(session, nullptr, "tester", nullptr);
    }
    if (rc) return note("zvdbLogon", rc), rc;

    if (!db && !(db = zvdbAllocDatabase(session))) return -2;
    rc = zvdbConnect(db, database);
    if (rc == 101) {
        note("zvdbConnect", rc);
        rc = make("zvdbCreateDatabase", [&] { return zvdbCreateDatabase(session, database, dbpath); });
        if (rc == 19) rc = make("zvdbAddDatabase", [&] { return zvdbAddDatabase(session, database, dbpath); });
        // 4021: another process entered it meanwhile.
        if (rc && rc != ZVDB_DATABASE_EXISTS) return rc;
        rc = zvdbConnect(db, database);
    }
    if (rc) return note("zvdbConnect", rc), rc;

    if (!handle && !(handle = zvdbAllocTable(db))) return -3;
    rc = zvdbOpenTable(handle, table, 0);
    if (rc == ZVDB_NO_TABLE_NAME) {
        note("zvdbOpenTable", rc);
        if (tablepath && (rc = zvdbSetTablePath(handle, tablepath)) != 0) return note("zvdbSetTablePath", rc), rc;
        if ((rc = define(handle)) != 0) return note("defining the table", rc), rc;
        rc = make("zvdbCreateTable", [&] { return zvdbCreateTable(handle, table, createmode); });
        if (rc == 19) rc = make("zvdbAddTable", [&] { return zvdbAddTable(db, table, tablepath ? tablepath : dbpath); });
        // 4022: another process entered it meanwhile.
        if (rc && rc != ZVDB_TABLE_EXISTS) return rc;
        rc = zvdbOpenTable(handle, table, 0);
    }
    if (rc == 14 || rc == 413) {
        note("zvdbOpenTable", rc);
        if ((rc = zvdbOpenTable(handle, table, 4)) != 0) return note("zvdbOpenTable bit 4", rc), rc;
        rc = zvdbRebuildTable(handle, 1);
        if (rc == 650) rc = 0;
        if (rc) return note("zvdbRebuildTable", rc), rc;
        if (!zvdbIsActiveTable(handle)) return note("zvdbRebuildTable left the table closed", -4), -4;
    }
    if (rc) note("zvdbOpenTable", rc);
    return rc;
}

}  // namespace zvtest

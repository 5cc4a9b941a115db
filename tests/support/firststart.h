// The start-up code of a program that keeps its records in one table of one
// database, as the README writes it: log on, or make the session dictionary
// (12, or 48) and log on; connect, or make the database (101) and connect, adding
// it instead when its dictionary is there already (19); open the table, or
// make it (4023), adding it instead when its files are there already (19);
// and a table that answers 14 (or 413, its superfile host not closed
// cleanly) opened with open bit 4 and rebuilt by zvdbRebuildTable(table, 1);
// 4021 and 4022 (another process entered the database or table meanwhile)
// go on to the connect and the open; a 12 that still comes (another process
// holds what a step needs) drops every handle and runs the code again, a
// bounded number of times. The same code runs a first start and every start
// after it, also after a kill at any moment of an earlier one, in as many
// processes at once as a service starts.
#pragma once

#include <functional>
#include <string>

#include "zarvo/zvdb.h"

namespace zvtest {

struct StartUp {
    const char *database = "shop";
    const char *dbpath = ".";
    const char *table = "items";
    const char *tablepath = nullptr;  // the table's directory (zvdbSetTablePath); none: the database's
    // Gives a new table handle its fields and indexes (after its path is
    // set): 0 or a code.
    std::function<int(ZVHANDLE table)> define;
    uint32_t createmode = 0;  // zvdbCreateTable's mode (0x800: a partitioned table)
    int32_t buffers = 0;  // the session's cache buffers (parameters 1 and 4); 0 keeps the defaults
    bool plain = false;   // dictionaries made outside superfile hosts (zvdbSetDictInSuperfile 0)
    // Called, when set, before and after each call that makes or adds
    // (zvdbCreateSession, zvdbCreateDatabase, zvdbAddDatabase,
    // zvdbCreateTable, zvdbAddTable) with the call's name: where a test
    // counts or plans the kills of one call.
    std::function<void(const char *call)> before, after;

    ZVHANDLE session = nullptr, db = nullptr, handle = nullptr;
    std::string trail;  // the calls that did not answer 0, and the branches taken
    StartUp() = default;
    StartUp(const StartUp &) = delete;
    StartUp &operator=(const StartUp &) = delete;
    ~StartUp() { release(); }

    // Runs the start-up: 0 with the table open (handle), else the code of
    // the call that stopped it (named in trail). On 12 the handles are
    // dropped and the code runs again, up to kAttempts times.
    int run();
    static constexpr int kAttempts = 40;
    // Frees the handles without closing anything first (a logged-on
    // session is logged out by its free).
    void release();

private:
    int run_once();
    void note(const char *call, int rc);
    template <typename Call>
    int make(const char *name, Call &&call);
};

}  // namespace zvtest

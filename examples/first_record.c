/* From a session to the first record through the record-level API
 * (zvdb.h): a session dictionary made in the current directory, a logon,
 * the database "shop", its table "items" with typed fields and an index,
 * one record added and read back by its key, then everything closed and
 * freed. Run it in an empty directory: it makes its files there. It
 * prints the record read and exits with 0, or names the call that failed
 * with its code and exits with 1. */
#include <stdio.h>

#include "zarvo/zvdb.h"

/* A call that must answer 0. */
#define CHECK(call)                                                     \
    do {                                                                \
        ZVDBRET rc_ = (call);                                           \
        if (rc_ != 0) {                                                 \
            fprintf(stderr, "%s: %d\n", #call, rc_);                    \
            return 1;                                                   \
        }                                                               \
    } while (0)

/* A call that gives a handle, or NULL with its code kept on `owner`. */
#define NEED(var, call, owner)                                          \
    do {                                                                \
        if (!((var) = (call))) {                                        \
            fprintf(stderr, "%s: %d\n", #call, zvdbGetError(owner));    \
            return 1;                                                   \
        }                                                               \
    } while (0)

int main(void) {
    ZVHANDLE session, db, table, id, name_field, index, segment, record;
    char name[31];
    int32_t number = 0;

    /* A session whose dictionary lies in the session path (none set: the
     * current directory). */
    session = zvdbAllocSession(0);
    if (!session) return 1;
    CHECK(zvdbCreateSession(session, NULL, NULL, NULL));
    CHECK(zvdbLogon(session, NULL, "demo", NULL));

    /* A database: its dictionary "shop.qdd" in ".", listed in the session
     * dictionary; a database handle connects to it by name. */
    CHECK(zvdbCreateDatabase(session, "shop", "."));
    NEED(db, zvdbAllocDatabase(session), session);
    CHECK(zvdbConnect(db, "shop"));

    /* A table: fields in record order, a unique index on "id" (segment
     * mode 12: the key is the field's value in its type's order), then its
     * files. The creation leaves the handle closed; the open finds the
     * table by name in the database and builds its fields again. */
    NEED(table, zvdbAllocTable(db), db);
    NEED(id, zvdbAddField(table, "id", ZV_INT4, 4), table);
    NEED(name_field, zvdbAddField(table, "name", ZV_STRING, 30), table);
    NEED(index, zvdbAddIndex(table, "by_id", 0, 0, 0), table);
    NEED(segment, zvdbAddSegment(index, id, 12), table);
    CHECK(zvdbCreateTable(table, "items", 0));
    CHECK(zvdbOpenTable(table, "items", 0));

    /* A record: fields by number (0 "id", 1 "name"), written as new. */
    NEED(record, zvdbAllocRecord(table), table);
    CHECK(zvdbClearRecord(record));
    CHECK(zvdbSetFieldAsSigned(record, 0, 1));
    CHECK(zvdbSetFieldAsString(record, 1, "teapot"));
    CHECK(zvdbWriteRecord(record));

    /* Read it back through its default index (0, "by_id"): the key is
     * built from the fields of the record handle. */
    CHECK(zvdbClearRecord(record));
    CHECK(zvdbSetFieldAsSigned(record, 0, 1));
    CHECK(zvdbFindRecord(record, 0));
    CHECK(zvdbGetFieldAsSigned(record, 0, &number));
    CHECK(zvdbGetFieldAsString(record, 1, name, (int32_t)sizeof name));
    printf("id %d: %s\n", (int)number, name);

    /* Close: the record, the table (its changed pages written to the
     * files), the database, then the session, which logs out. */
    zvdbFreeRecord(record);
    CHECK(zvdbCloseTable(table));
    zvdbFreeTable(table);
    CHECK(zvdbDisconnect(db));
    CHECK(zvdbFreeDatabase(db));
    CHECK(zvdbLogout(session));
    CHECK(zvdbFreeSession(session));
    return 0;
}

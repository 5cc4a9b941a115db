/* The dictionary entry and the merge item of the public header as a C
 * compiler lays them out, and calls that take them, made from C. */
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "layout_check.h"
#include "zarvo/zvdb.h"

static int levels = 0;
static ZVDBRET last_code = 0;

static ZVDBRET plan(ZVDBLIST *source, ZVDBLIST *destination) {
    (void)source;
    (void)destination;
    return 9;
}

static void message(int level, const char *text, ZVDBRET code, const char *detail) {
    (void)text;
    (void)detail;
    levels = levels * 10 + level;
    last_code = code;
}

int main(void) {
    check("sizeof(ZVDBDICTENTRY)", sizeof(ZVDBDICTENTRY), 1236);
    check("entry.type", offsetof(ZVDBDICTENTRY, type), 0);
    check("entry.status", offsetof(ZVDBDICTENTRY, status), 4);
    check("entry.name", offsetof(ZVDBDICTENTRY, name), 8);
    check("entry.physname", offsetof(ZVDBDICTENTRY, physname), 137);
    check("entry.link", offsetof(ZVDBDICTENTRY, link), 266);
    check("entry.linknbr", offsetof(ZVDBDICTENTRY, linknbr), 396);
    check("entry.path", offsetof(ZVDBDICTENTRY, path), 400);
    check("entry.supext", offsetof(ZVDBDICTENTRY, supext), 656);
    check("entry.datext", offsetof(ZVDBDICTENTRY, datext), 673);
    check("entry.idxext", offsetof(ZVDBDICTENTRY, idxext), 690);
    check("entry.version", offsetof(ZVDBDICTENTRY, version), 708);
    check("entry.counter", offsetof(ZVDBDICTENTRY, counter), 712);
    check("entry.uid", offsetof(ZVDBDICTENTRY, uid), 716);
    check("entry.owner", offsetof(ZVDBDICTENTRY, owner), 720);
    check("entry.mirrorname", offsetof(ZVDBDICTENTRY, mirrorname), 849);
    check("entry.mirrorpath", offsetof(ZVDBDICTENTRY, mirrorpath), 978);

    ZVDBDICTENTRY e;
    memset(&e, 0, sizeof e);
    e.type = ZVDBDICT_TABLE;
    strcpy(e.name, "cust");
    strcpy(e.physname, "custfile");
    strcpy(e.path, "dir");
    strcpy(e.datext, ".dat");
    char name[8], path[32];
    check("make path", (size_t)_zvdbTableMakePath(&e, name, sizeof name, path, sizeof path, '/'), 0);
    check("name", (size_t)strcmp(name, "cust"), 0);
    check("path", (size_t)strcmp(path, "dir/custfile.dat"), 0);

    check("sizeof(ZVDBMERGEITEM)", sizeof(ZVDBMERGEITEM), 1240);
    check("item.action", offsetof(ZVDBMERGEITEM, action), 1236);
    ZVDB_MERGE_PLANNER planner = plan;
    ZVDB_MERGE_MESSAGE messages = message;
    check("merge without sessions", (size_t)zvdbMergeSessionDictionary(NULL, NULL, planner, messages), 4003);
    check("merge without databases", (size_t)zvdbMergeDatabaseDictionary(NULL, NULL, planner, messages), 4010);
    check("message levels", (size_t)levels, 11);
    check("message code", (size_t)last_code, 4010);
    return failures ? 1 : 0;
}

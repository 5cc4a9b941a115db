/* The dictionary entry of the public header as a C compiler lays it out,
 * and one call that takes it, made from C. */
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "layout_check.h"
#include "zarvo/zvdb.h"

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
    return failures ? 1 : 0;
}

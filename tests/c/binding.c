/* A C11 program that defines two functions under the names of exported
 * engine routines, as an application may by accident. The library binds
 * its own calls to its own definitions: a start, a set with records added
 * and read, an index added and dropped, the set renamed and its definition
 * stored again, and the stop never reach the program's functions. */
#include <stdlib.h>
#include <string.h>

#include "check.h"
#include "zarvo/zarvo.h"

static int mbfree_calls;
static int terr_calls;

/* The program's own routines of those names. */
void mbfree(void *p) {
    (void)p;
    mbfree_calls++;
}

ZV_NORETURN void terr(int number) {
    terr_calls++;
    fprintf(stderr, "the program's terr was called with %d\n", number);
    exit(2);
}

int main(void) {
    ISEG seg = {0, 8, 0};
    IIDX idx;
    IFIL set;
    char rec[32], back[32];
    int i;
    memset(&idx, 0, sizeof idx);
    idx.ikeylen = 8;
    idx.inumseg = 1;
    idx.isegarr = &seg;
    memset(&set, 0, sizeof set);
    set.pfilnam = "binding";
    set.dfilno = -1;
    set.dreclen = sizeof rec;
    set.dnumidx = 1;
    set.iidxarr = &idx;
    (void)remove("binding.dat");
    (void)remove("binding.idx");

    CHECK(INTISAM(10, 8, 4) == 0);
    CHECK(CREIFIL(&set) == 0);
    for (i = 0; i < 200; i++) {
        memset(rec, 'r', sizeof rec);
        { char num[16]; snprintf(num, sizeof num, "%08d", i); memcpy(rec, num, 8); }
        CHECK(ADDREC(set.tfilno, rec) == 0);
    }
    CHECK(EQLREC(set.tfilno + 1, "00000150", back) == 0 && memcmp(back, "00000150", 8) == 0);
    i = 0;
    if (FRSREC(set.tfilno + 1, back) == 0) {
        do {
            char want[16];
            snprintf(want, sizeof want, "%08d", i);
            CHECK(memcmp(back, want, 8) == 0);
            i++;
        } while (i < 1000 && NXTREC(set.tfilno + 1, back) == 0);
    }
    CHECK(i == 200);
    /* An index added to the open set and dropped again, the set renamed,
     * closed, its definition stored again and the set opened from it. */
    {
        ISEG tail = {8, 4, 0};
        IIDX more;
        IFIL add, moved;
        int d;
        memset(&more, 0, sizeof more);
        more.ikeylen = 8;
        more.ikeydup = 1;
        more.inumseg = 1;
        more.isegarr = &tail;
        more.aidxnam = "*binding_t.idx";
        memset(&add, 0, sizeof add);
        add.dfilno = set.tfilno;
        add.dnumidx = 1;
        add.iidxarr = &more;
        add.tfilno = -1;
        CHECK(PRMIIDX(&add) == 0 && IDXENT(add.tfilno) == 200);
        CHECK(zvDROPIDX(add.tfilno) == 0 && remove("binding_t.idx") != 0);
        moved = set;
        moved.pfilnam = "bound";
        CHECK(RENIFIL(&moved) == 0);
        CHECK(CLIFIL(&set) == 0);
        CHECK(PUTIFIL(&moved) == 0);
        d = OPNRFIL(-1, "bound.dat", 0);
        CHECK(d >= 0 && IDXENT(d + 1) == 200);
        CHECK(CLRFIL(d) == 0);
    }
    CHECK(CLISAM() == 0);
    CHECK(mbfree_calls == 0);
    CHECK(terr_calls == 0);
    (void)remove("bound.dat");
    (void)remove("bound.idx");
    printf("the library called none of the program's functions\n");
    return 0;
}

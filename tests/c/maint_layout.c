/* The verification records of the public header, as a C compiler lays them
 * out: sizes and field offsets that callers of the verification rely on. */
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "layout_check.h"
#include "zarvo/zarvo.h"

/* An application's own global of the name the dumps use internally: the
 * library must neither export nor write it. */
int buf[4] = {1, 2, 3, 4};

int main(void) {
    check("sizeof(VERIFYIDXOPT)", sizeof(VERIFYIDXOPT), 32);
    check("VERIFYIDXOPT.version", offsetof(VERIFYIDXOPT, version), 0);
    check("VERIFYIDXOPT.checks", offsetof(VERIFYIDXOPT, checks), 4);
    check("VERIFYIDXOPT.levels", offsetof(VERIFYIDXOPT, levels), 8);
    check("VERIFYIDXOPT.flags", offsetof(VERIFYIDXOPT, flags), 12);
    check("VERIFYIDXOPT.output", offsetof(VERIFYIDXOPT, output), 16);
    check("VERIFYIDXOPT.progress", offsetof(VERIFYIDXOPT, progress), 24);
    check("VERIFYIDXRES.emptynodes", offsetof(VERIFYIDXRES, emptynodes), 0);
    check("VERIFYIDXRES.badnodes", offsetof(VERIFYIDXRES, badnodes), 4);
    check("VERIFYIDXRES.unusednodes", offsetof(VERIFYIDXRES, unusednodes), 8);
    check("VERIFYIDXRES.resourcepages", offsetof(VERIFYIDXRES, resourcepages), 12);
    check("VERIFYIDXRES.misalignednodes", offsetof(VERIFYIDXRES, misalignednodes), 16);
    check("VERIFYIDXRES.badlinks", offsetof(VERIFYIDXRES, badlinks), 20);
    check("VERIFYIDXRES.levelnodes", offsetof(VERIFYIDXRES, levelnodes), 24);
    check("sizeof(VERIFYFILEOPT)", sizeof(VERIFYFILEOPT), 56);
    check("VERIFYFILEOPT.flags", offsetof(VERIFYFILEOPT, flags), 4);
    check("VERIFYFILEOPT.chkkey", offsetof(VERIFYFILEOPT, chkkey), 12);
    check("VERIFYFILEOPT.filename", offsetof(VERIFYFILEOPT, filename), 16);
    check("VERIFYFILEOPT.openparm", offsetof(VERIFYFILEOPT, openparm), 24);
    check("VERIFYFILEOPT.output", offsetof(VERIFYFILEOPT, output), 32);
    check("VERIFYFILEOPT.progress", offsetof(VERIFYFILEOPT, progress), 40);
    check("VERIFYFILEOPT.error", offsetof(VERIFYFILEOPT, error), 48);
    check("sizeof(VERIFYERR)", sizeof(VERIFYERR), 12);
    check("VERIFYERR.errcode", offsetof(VERIFYERR, errcode), 4);
    check("VERIFYERR.syserr", offsetof(VERIFYERR, syserr), 8);

    /* A node dump leaves its control blocks in the exported zvnum and htnum
     * and keeps away from the application's buf. */
    {
        const char *name = "maint_layout_dump.idx";
        FILE *sink = fopen("/dev/null", "w");
        remove(name);
        check("INTISAM", INTISAM(8, 8, 4), 0);
        check("CREIDX", (size_t)CREIDX(1, name, 8, 0, 0, 0, 4096, 0), 0);
        check("ADDKEY", (size_t)ADDKEY(1, "ABCDEFGH", 0x40, 0), 0);
        if (sink) setZarvoSTDOUT(sink);
        check("prthdr", (size_t)prthdr(1), 0);
        check("prtnod of the root leaf", (size_t)prtnod(1, 0, 0x200, 0), 0);
        if (sink) {
            setZarvoSTDOUT(NULL);
            fclose(sink);
        }
        check("zvnum set", zvnum != NULL, 1);
        check("htnum set", htnum != NULL, 1);
        check("buf untouched", (size_t)(buf[0] == 1 && buf[1] == 2 && buf[2] == 3 && buf[3] == 4), 1);
        CLISAM();
        remove(name);
    }
    check("sizeof(CMPBLK)", sizeof(CMPBLK), sizeof(void *) + 12 + (sizeof(void *) == 8 ? 4 : 0));
    check("CMPBLK.convert", offsetof(CMPBLK, convert), sizeof(void *));
    check("CMPBLK.strict", offsetof(CMPBLK, strict), sizeof(void *) + 8);

    /* The host application allows new encryption by compaction through
     * cmpchgenc. */
    {
        static const ISEG seg[1] = {{0, 4, 0}};
        IIDX idx[1];
        IFIL ifil;
        char rec[16];
        int k;
        memset(idx, 0, sizeof idx);
        memset(&ifil, 0, sizeof ifil);
        idx[0].ikeylen = 4;
        idx[0].inumseg = 1;
        idx[0].isegarr = seg;
        ifil.pfilnam = "maint_layout_cmp";
        ifil.dfilno = -1;
        ifil.dreclen = 16;
        ifil.dnumidx = 1;
        ifil.iidxarr = idx;
        remove("maint_layout_cmp.dat");
        remove("maint_layout_cmp.idx");
        check("INTISAM", INTISAM(8, 8, 4), 0);
        check("CREIFIL", (size_t)CREIFIL(&ifil), 0);
        for (k = 0; k < 10; k++) {
            memset(rec, 'r', sizeof rec);
            memcpy(rec, "K00", 3);
            rec[3] = (char)('0' + k);
            check("ADDREC", (size_t)ADDREC(ifil.tfilno, rec), 0);
        }
        check("DELREC", (size_t)DELREC(ifil.tfilno), 0);
        check("CLIFIL", (size_t)CLIFIL(&ifil), 0);
        check("cmpchgenc at load", cmpchgenc, 0);
        ifil.tfilno = -(0x4000 + 0x040);
        check("new encryption refused", (size_t)CMPIFIL(&ifil), 454);
        cmpchgenc = 1;
        ifil.tfilno = -(0x4000 + 0x040);
        check("new encryption allowed", (size_t)CMPIFIL(&ifil), 0);
        cmpchgenc = 0;
        ifil.tfilno = -1;
        check("OPNIFIL", (size_t)OPNIFIL(&ifil), 0);
        check("DATENT", (size_t)DATENT(ifil.tfilno), 9);
        check("DELIFIL", (size_t)DELIFIL(&ifil), 0);
        CLISAM();
    }
    return failures ? 1 : 0;
}

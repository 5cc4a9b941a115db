/* The file-set records of the public header, as a C compiler lays them out:
 * sizes and field offsets that stored images and callers rely on. */
#include <stddef.h>
#include <stdio.h>

#include "layout_check.h"
#include "zarvo/zarvo.h"

int main(void) {
    check("sizeof(IFIL)", sizeof(IFIL), 56);
    check("IFIL.pfilnam", offsetof(IFIL, pfilnam), 0);
    check("IFIL.dfilno", offsetof(IFIL, dfilno), 8);
    check("IFIL.dreclen", offsetof(IFIL, dreclen), 10);
    check("IFIL.dxtdsiz", offsetof(IFIL, dxtdsiz), 12);
    check("IFIL.dfilmod", offsetof(IFIL, dfilmod), 14);
    check("IFIL.dnumidx", offsetof(IFIL, dnumidx), 16);
    check("IFIL.ixtdsiz", offsetof(IFIL, ixtdsiz), 18);
    check("IFIL.ifilmod", offsetof(IFIL, ifilmod), 20);
    check("IFIL.iidxarr", offsetof(IFIL, iidxarr), 24);
    check("IFIL.rfstfld", offsetof(IFIL, rfstfld), 32);
    check("IFIL.tlstfld", offsetof(IFIL, tlstfld), 40);
    check("IFIL.tfilno", offsetof(IFIL, tfilno), 48);
    check("sizeof(IIDX)", sizeof(IIDX), 56);
    check("IIDX.inumseg", offsetof(IIDX, inumseg), 10);
    check("IIDX.isegarr", offsetof(IIDX, isegarr), 16);
    check("IIDX.ridxnam", offsetof(IIDX, ridxnam), 24);
    check("IIDX.aidxnam", offsetof(IIDX, aidxnam), 32);
    check("IIDX.icolseq", offsetof(IIDX, icolseq), 40);
    check("IIDX.ipadbyt", offsetof(IIDX, ipadbyt), 48);
    check("sizeof(ISEG)", sizeof(ISEG), 6);
    check("ISEG.slength", offsetof(ISEG, slength), 2);
    check("ISEG.segmode", offsetof(ISEG, segmode), 4);
    check("sizeof(IFILPARM)", sizeof(IFILPARM), 80);
    check("IFILPARM.group", offsetof(IFILPARM, group), 4);
    check("IFILPARM.password", offsetof(IFILPARM, password), 36);
    check("IFILPARM.dataext", offsetof(IFILPARM, dataext), 46);
    check("IFILPARM.idxext", offsetof(IFILPARM, idxext), 54);
    check("IFILPARM.ifil", offsetof(IFILPARM, ifil), 64);
    check("IFILPARM.xcre", offsetof(IFILPARM, xcre), 72);
    check("sizeof(DATOBJ)", sizeof(DATOBJ), 24);
    check("DATOBJ.fadr", offsetof(DATOBJ, fadr), 8);
    check("DATOBJ.ftype", offsetof(DATOBJ, ftype), 16);
    check("DATOBJ.flen", offsetof(DATOBJ, flen), 18);
    check("DATOBJ.fend", offsetof(DATOBJ, fend), 20);
    return failures ? 1 : 0;
}

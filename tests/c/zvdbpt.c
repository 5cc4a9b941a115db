/* A C11 program built against the public headers alone and linked to the
 * shared library: builds, shares and frees parse trees through the zvdbpt
 * calls. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "check.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdbpt.h"

static void twice(void **args, void *result) {
    int32_t v;
    memcpy(&v, args[0], 4);
    v *= 2;
    memcpy(result, &v, 4);
}

int main(void) {
    /* A record schema map of no fields: head of 16 bytes. */
    unsigned char schema[16] = {2, 1, 0, ' ', 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    unsigned char record[4] = {0, 0, 0, 0};
    unsigned char block[8];
    const uint32_t uses = 1;
    const int argtypes[1] = {ZV_INT4};
    int64_t value = -1;
    char out[16];
    int32_t outlen;
    PTVALUE v;
    PTNODE *set, *text, *chain, *list, *cmp;
    char *buf;
    long i;
    const int refused[] = {19, 17, 45, -1};
    tagZVNUMBER num;

    CHECK(sizeof(PTVALUE) == 48);
    CHECK(REGZARVO("ptc") == 0);

    /* A value set of capacity 3 takes three values. */
    set = zvdbptPutSet(3);
    CHECK(set != NULL);
    memset(&v, 0, sizeof v);
    v.kind = PT_INTEGER;
    for (i = 0; i < 3; i++) {
        v.v.integer = i;
        CHECK(zvdbptCopyIntoSet(set, &v) == set);
    }
    CHECK(zvdbptCopyIntoSet(set, &v) == NULL);
    zvdbptDestroy(set);

    /* One TEXT value copied twice: the set owns two copies. */
    set = zvdbptPutSet(2);
    buf = malloc(5);
    CHECK(set != NULL && buf != NULL);
    memcpy(buf, "apple", 5);
    memset(&v, 0, sizeof v);
    v.kind = PT_TEXT;
    v.length = 5;
    v.v.text = (unsigned char *)buf;
    CHECK(zvdbptCopyIntoSet(set, &v) == set && zvdbptCopyIntoSet(set, &v) == set);
    free(buf);
    zvdbptDestroy(set);

    /* A text handed over with adopt 1 is still copied: the caller frees its
     * buffer, the tree frees its own. */
    buf = malloc(3);
    CHECK(buf != NULL);
    memcpy(buf, "abc", 3);
    text = zvdbptPutText(buf, 3, 1);
    CHECK(text != NULL && zvdbptGetExprType(text) == PT_TEXT);
    free(buf);
    CHECK(zvdbStringToNumber("2.5", &num) == 0);
    list = zvdbptAddToExprList(zvdbptAddToExprList(NULL, text), zvdbptPutNumber(&num));
    CHECK(list != NULL && zvdbptGetExprType(list) == 2);
    cmp = zvdbptPutNode(PT_FUNCTION, PT_TEXT, list, zvdbptPutInteger(14));
    CHECK(cmp != NULL);
    zvdbptDestroy(cmp);

    /* Operator nodes only. */
    for (i = 0; i < 4; i++) CHECK(zvdbptPutNode(refused[i], 9, NULL, NULL) == NULL);
    CHECK(zvdbptPutField(PT_CONSTANT, 9, 0) == NULL);

    /* A left-deep chain of a million nodes. */
    chain = zvdbptPutField(PT_FIELD, PT_INTEGER, 0);
    for (i = 0; i < 1000000 && chain; i++) chain = zvdbptPutNode(PT_ADD, PT_INTEGER, chain, NULL);
    CHECK(chain != NULL && zvdbptGetExprType(chain) == PT_INTEGER);
    zvdbptDestroy(chain);

    /* Evaluation: (2 + 3) * 4 == 20 over a record schema of no fields. */
    cmp = zvdbptPutNode(PT_EQ, PT_INTEGER,
                        zvdbptPutNode(PT_MUL, PT_INTEGER,
                                      zvdbptPutNode(PT_ADD, PT_INTEGER, zvdbptPutInteger(2), zvdbptPutInteger(3)),
                                      zvdbptPutInteger(4)),
                        zvdbptPutInteger(20));
    CHECK(cmp != NULL);
    CHECK(cndxeval(cmp, record, schema, 0, 0) == 1);
    CHECK(cndxrun(cmp, record, schema, 0, 0) == 0);
    CHECK(runPopInteger(&value) == 0 && value == 1);
    CHECK(runPopInteger(&value) == 7 && value == 0);
    CHECK(cndxrun(cmp, record, schema, 0, 0) == 0);
    outlen = (int32_t)sizeof out;
    CHECK(runPopString(out, &outlen) == 0 && strcmp(out, "1") == 0 && outlen == 1);
    CHECK(cndxSetCondIdxFlag(NULL) == 16);
    cndxfree(cmp);
    cndxfree(NULL);

    /* User-defined functions are registered once per name. */
    CHECK(udfAdd("CTWICE", twice, ZV_INT4, argtypes, 1) == 0);
    CHECK(udfAdd("ctwice", twice, ZV_INT4, argtypes, 1) == 13);
    udfTerm();
    CHECK(udfAdd("ctwice", twice, ZV_INT4, argtypes, 1) == 0);
    udfInit();

    /* A callback filter: the sample callback lets the record pass. */
    memcpy(block, &uses, 4);
    memcpy(block + 4, "@c", 3);
    CHECK(clbkeval(block, 1, 0, record, schema, 0, 0) == 1);

    CHECK(UNRZARVO("ptc") == 0);

    /* Without an instance nothing is built. */
    memset(&v, 0, sizeof v);
    CHECK(zvdbptPutNode(PT_ADD, 9, NULL, NULL) == NULL && zvdbptPutField(PT_FIELD, 9, 0) == NULL);
    CHECK(zvdbptPutNULL() == NULL && zvdbptPutInteger(1) == NULL && zvdbptPutDate(1) == NULL);
    CHECK(zvdbptPutTime(1) == NULL && zvdbptPutTimeMsec(1) == NULL && zvdbptPutStamp(1.0) == NULL);
    CHECK(zvdbptPutNumber(&num) == NULL && zvdbptPutText("a", 1, 0) == NULL && zvdbptPutSet(1) == NULL);
    CHECK(zvdbptCopyIntoSet(NULL, &v) == NULL && zvdbptAddToExprList(NULL, NULL) == NULL);
    CHECK(zvdbptPutRecinfo(NULL, NULL, NULL) == NULL && zvdbptGetInteger(NULL) == 0);
    zvdbptDestroy(NULL);
    zvdbptFreeMem(NULL);
    puts("zvdbpt: all checks passed");
    return 0;
}

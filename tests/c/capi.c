/* A C11 program built against the public headers alone and linked to the
 * shared library: registers, switches and removes instances, starts and
 * stops an engine, and uses the value types of the record-level interface. */
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "check.h"
#include "zarvo/zarvo.h"
#include "zarvo/zvdb.h"

int main(void) {
    uint32_t hi = 0, lo = 0xFFFFFFFFu;
    void *p;
    char prefix[8];
    char name[32];
    XCREblk xcre;
    CHECK(WCHZARVO() == NULL);
    CHECK(REGZARVO("capi") == 0);
    CHECK(REGZARVO("second") == 0);
    CHECK(strcmp(WCHZARVO(), "second") == 0);
    CHECK(SWTZARVO("capi") == 0);
    CHECK(REGZARVO("capi") == ZV_INST_EXISTS);
    zvadddlng(&hi, &lo, 0, 1);
    CHECK(hi == 1 && lo == 0);
    p = zvgetmem(40);
    CHECK(p != NULL && zvmemsiz(p) == 40);
    zvputmem(p);
    /* Platform file layer: answers of an instance that is not started. */
    CHECK(TSTFILNUM(0) == 47 && AVLFILNUM(1) == -1 && filrngnam(0, 0, 0) == -47);
    CHECK(zvFSpath(NULL, 1) == ZV_SNOT_SUPPORTED && SECURITY(0, NULL, 0, 0) == 0);
    CHECK(UNRZARVO("second") == 0);
    CHECK(UNRZARVO("capi") == 0);
    CHECK(WCHZARVO() == NULL);
    CHECK(SWTZARVO("capi") == ZV_INST_NONE);

    /* Start-up registers the default instance; the ISAM stop removes it. */
    CHECK(INTREE(6, 7, 4) == 0);
    CHECK(strcmp(WCHZARVO(), ZV_DEFAULT_INSTANCE_ID) == 0);
    CHECK(INTREE(6, 7, 4) == 125);
    CHECK(zvSETCFG(11, " loadkey_leaf_pct_full 90") == 0);
    CHECK(SETOPS(0x01, 2) == 0x01);
    CHECK(zvMBprefix(prefix, 3) == 0 && memcmp(prefix, "&&UTF16&", 8) == 0);
    /* Files: create with a caller's block, reopen, close; the stop closes
     * what is still open. */
    memset(&xcre, 0, sizeof xcre);
    xcre.mode = 0x02;
    CHECK(CREDATX8(1, "capi.dat", 100, 0, 0x800, 0, NULL, NULL, &xcre) == 0);
    CHECK(CLSFIL(1, 0) == 0);
    CHECK(OPNFIL(1, "capi.dat", 0) == 0);
    CHECK(GETNAM(1, name, sizeof name) == 0 && strcmp(name, "capi.dat") == 0);
    /* The function-number entry point: GETFIL mode 0, the record length. */
    {
        int32_t out = 0;
        CHECK(zarvo(0x02AA, 1, NULL, &out, NULL, NULL, 0) == 0 && out == 100);
        CHECK(zarvo(0x0101, 1, NULL, NULL, NULL, NULL, 0) == 170);
    }
    /* Fixed-length records inside a transaction. */
    {
        char rec[100], back[100];
        uint32_t pos;
        memset(rec, 'c', sizeof rec);
        CHECK(TRANBEG(0) == 1 && TRANSAV() == 1);
        pos = NEWREC(1);
        CHECK(pos == 600 && zvGETHGH() == 0);
        CHECK(WRTREC(1, pos, rec) == 0 && REDREC(1, pos, back) == 0 && memcmp(rec, back, 100) == 0);
        CHECK(DATENT(1) == 1 && RETREC(1, pos) == 0 && RETREC(1, pos) == 32 && DATENT(1) == 0);
        CHECK(SETFLTR(1, "#x") == ZV_SNOT_SUPPORTED && RESETFLTR(1, 2) == 0);
        CHECK(TRANEND(0x200) == ZV_SNOT_SUPPORTED && TRANRDY() == 71);
    }
    /* Conditions of indexes: a plain data file keeps none and is no index
     * of a key map; full-text search is not offered. */
    CHECK(GETCRES(1, 0, NULL) == 0 && zvGetUserErrorCode() == 408);
    CHECK(GETCIDX(1, 0, NULL) == 0 && zvGetUserErrorCode() == 614);
    CHECK(UPDCIDX(1, "x > 1") == 614 && PUTCRES(1, "\0\0\0", 3) == 595);
    CHECK(FreeFTSearch() == ZV_SNOT_SUPPORTED && zvFullText(NULL) == ZV_SNOT_SUPPORTED);
    CHECK(CREIDX(2, "capi.idx", 10, 0, 0, 1, 0, 0) == 0 && CREMEM(2, 10, 0, 0, 1) == 0);
    CHECK(CLSFIL(5, 0) == 26);
    CHECK(CLISAM() == 0);
    CHECK(dltfil("capi.dat") == 0 && dltfil("capi.idx") == 0);
    CHECK(WCHZARVO() == NULL);
    {
        ZVDATE day = 0;
        ZVDATETIME stamp = 0;
        tagZVNUMBER a, b, sum;
        char text[32];
        tagZVBLOB *blob = zvdbBlobAlloc(4);
        zvdb_regexp *re = zvdb_regnew();
        CHECK(zvdbDatePack(&day, 1970, 1, 1) == 0 && day == 98557);
        CHECK(zvdbDateTimePack(&stamp, 2000, 1, 1, 12, 0, 0) == 0 && stamp == 36526.5);
        CHECK(zvdbStringToNumber("1.25", &a) == 0 && zvdbStringToNumber("-0.5", &b) == 0);
        CHECK(zvdbNumberAdd(&a, &b, &sum) == 0);
        CHECK(zvdbNumberToString(&sum, text, sizeof text) == 0 && strcmp(text, "0.75") == 0);
        CHECK(blob != NULL && zvdbBlobSet(blob, "abc", 3) == 0 && zvdbBlobGetSize(blob) == 3);
        zvdbBlobFree(blob);
        CHECK(re != NULL && zvdb_regcomp(re, "([0-9]+)") == 0 && zvdb_regexec(re, "ab12") == 0);
        CHECK(strcmp(zvdb_regtext(re, 1), "12") == 0);
        zvdb_regfree(re);
        CHECK(_zvdb_free(_zvdb_alloc(2, 3)) == NULL);
    }
    /* Handles: a NULL handle and a block of no known kind. */
    {
        uint16_t unknown = ZVDB_FTIDICT_HANDLE + 1;
        void *tag = &unknown;
        CHECK(zvdbGetHandleType(NULL) == 0 && zvdbGetHandleType(&unknown) == 0);
        CHECK(zvdbGetSessionHandle(NULL) == NULL && zvdbGetTableHandle(&unknown) == NULL);
        CHECK(zvdbGetDatabaseHandle(NULL) == NULL && zvdbGetIndexHandle(NULL) == NULL);
        CHECK(zvdbGetFieldHandle(NULL) == NULL && zvdbGetSegmentHandle(NULL) == NULL);
        CHECK(zvdbGetResultSetHandle(NULL) == NULL && zvdbGetResultSetCriHandle(NULL) == NULL);
        CHECK(zvdbGetFTIHandle(NULL) == NULL && zvdbGetFTIDictHandle(NULL) == NULL);
        CHECK(zvdbSetError(NULL, ZVDB_NO_MEMORY) == ZVDB_NULL_HANDLE);
        CHECK(zvdbGetError(&unknown) == ZVDB_NO_SESSION);
        zvdbClearError(NULL);
        CHECK(zvdbGetUserTag(NULL, &tag) == ZVDB_NULL_ARGUMENT && tag == NULL);
        CHECK(zvdbSetUserTag(&unknown, NULL) == ZVDB_BAD_ARGUMENT);
        CHECK(zvdbSetLocalTag(NULL, NULL) == ZVDB_BAD_TAG_HANDLE && zvdbGetLocalTag(NULL) == NULL);
        CHECK(zvdbSetPathPrefix(NULL, "p") == ZVDB_NO_SESSION && zvdbClearPathPrefix(NULL) == ZVDB_NO_SESSION);
        CHECK(zvdbGetPathPrefix(NULL) == NULL);
    }
    /* A logon-only session: logon, a session lock, a transaction, logout. */
    {
        ZVHANDLE s = zvdbAllocSession(1);
        char name[16];
        CHECK(s != NULL && zvdbGetSessionType(s) == 1 && zvdbGetLogonOnly(s) == 1);
        CHECK(zvdbLogon(s, "server", "user", "password") == 0 && zvdbIsActiveSession(s) == 1);
        CHECK(zvdbLock(s, 1) == 0 && zvdbGetLockMode(s) == 1 && zvdbIsLockActive(s) == 1);
        CHECK(zvdbBegin(s) == 0 && zvdbCommit(s) == 0 && zvdbIsTransActive(s) == 0);
        CHECK(zvdbSetCallback(s, 26, NULL) == 0 && zvdbGetCallback(s, 26) == NULL);
        CHECK(zvdbGetProductName(s, name, sizeof name) == 0 && strcmp(name, "ZarvoCore") == 0);
        CHECK(zvdbLogout(s) == 0 && zvdbGetServerName(s) == NULL);
        CHECK(zvdbFreeSession(s) == 0);
    }
    /* A table definition under a session: fields, an index with segments. */
    {
        ZVHANDLE s = zvdbAllocSession(1);
        ZVHANDLE t = zvdbAllocTable(s);
        ZVHANDLE id = zvdbAddField(t, "id", ZV_INT4, 0);
        ZVHANDLE name = zvdbAddField(t, "name", ZV_FSTRING, 20);
        ZVHANDLE ix = zvdbAddIndex(t, "byname", 0, 1, 0);
        unsigned char value[4] = {0};
        int32_t size = sizeof value;
        CHECK(t != NULL && id != NULL && name != NULL && ix != NULL);
        CHECK(strcmp(zvdbGetTableName(t), "table") == 0 && zvdbGetTableFieldCount(t) == 2);
        CHECK(zvdbAddSegment(ix, name, 12) != NULL && zvdbAddSegment(ix, id, 8) != NULL);
        CHECK(zvdbGetIndexKeyLength(ix) == 4 + 20 + 4 && zvdbGetIndexSegmentCount(ix) == 2);
        CHECK(zvdbSetFieldDefaultValue(id, "258", 3) == 0);
        CHECK(zvdbGetFieldDefaultValueAsBinary(id, value, &size) == 0 && size == 4 && value[0] == 2 && value[1] == 1);
        CHECK(zvdbGetFieldByName(t, "NAME") == name && zvdbGetTableType(t) == 0);
        CHECK(zvdbFreeTable(t) == NULL && zvdbFreeSession(s) == 0);
    }
    /* File routines and the entries of services this library lacks. */
    {
        ZVDBFINDFILE find;
        const char *first;
        char out[16];
        CHECK(zvdbCreateDir("capi.d") == 0 && zvdbHelloWorld("capi.d/h", "t", -1, 1u, 0.5) == 0);
        CHECK(zvdbCopyFile("capi.d/h", "capi.d/c") == 0 && zvdbRenameFile("capi.d/c", "capi.d/c") == 0);
        first = zvdbFindFirstFile(&find, "capi.d/");
        CHECK(first != NULL && (strcmp(first, "h") == 0 || strcmp(first, "c") == 0));
        CHECK(zvdbFindClose(&find) == 0);
        CHECK(zvdbDeleteFile("capi.d/h") == 0 && zvdbDeleteFile("capi.d/c") == 0);
        CHECK(zvdbDeleteFile("capi.d/h") == ZVDB_DELETE_FAILED && remove("capi.d") == 0);
        CHECK(_zvdbReducePath("./a//b/.", out, 15, 0) == 0 && strcmp(out, "a/b") == 0);
        CHECK(_zvdbPathiCmp("A/B", "a//b") == 0 && _zvdbPathCmp("A/B", "a/b") != 0);
        CHECK(zvdbSetSSL(NULL, 1) == ZVDB_NOT_SUPPORTED && _zvdbMOVFTS(NULL, 1) == ZVDB_NOT_SUPPORTED);
        CHECK(zvdbIsSQLServer(NULL) == 0 && zvdbReleaseSessionId(7) == 7 && zvdbGetSessionId(NULL) == -1);
    }
    /* Table services from C: the identity field, full-text parameter texts,
     * a resource handle, padding and the name test of table files. */
    {
        ZVHANDLE s = zvdbAllocSession(1);
        ZVHANDLE t = zvdbAllocTable(s);
        ZVHANDLE d = zvdbAllocFTIDict(s);
        ZVHANDLE r = zvdbAllocResource(t, 5000, 0xFFFFFFFFu, "meta");
        char *text = NULL;
        char field[6] = "ab";
        int32_t used = -1;
        CHECK(zvdbAddField(t, "id", ZV_INT4, 0) != NULL && d != NULL && r != NULL);
        CHECK(zvdbSetIdentityField(t, "id", 1, 1) == 0 && zvdbSetIdentityField(t, "id", 1, 1) == ZVDB_IDENTITY_EXISTS);
        CHECK(_zvdbCreateFTIDictResourceParam(d, &text) == 0 && strcmp(text, "0002|002d,0001|||||00000000|") == 0);
        CHECK(zvdbAddFTI(t, "words") == NULL && zvdbGetError(t) == ZVDB_NOT_SUPPORTED);
        CHECK(zvdbSetResourceData(r, "x", 1) == 0 && zvdbGetResourceDataLength(r) == 1);
        CHECK(_zvdbPadField(field, 6, 2, ' ', 0) == 0 && _zvdbTrimField(field, 6, &used, ' ', 0) == 0 && used == 2);
        CHECK(_zvdbIsNameTableDep("cust", "data/cust.dat", '/', NULL, NULL) == 2);
        _zvdb_free(text);
        CHECK(zvdbFreeResource(r) == 0);
        zvdbFreeFTIDict(d);
        CHECK(zvdbFreeTable(t) == NULL && zvdbFreeSession(s) == 0);
    }
    /* Records from C: the slot layout, and a record refused on a table that
     * is not open. */
    {
        ZVHANDLE s = zvdbAllocSession(1);
        ZVHANDLE t = zvdbAllocTable(s);
        ZVHANDLE r = zvdbAllocRecord(t);
        int32_t v = 0;
        CHECK(sizeof(ZVDBFIELDSLOT) == 72 && offsetof(ZVDBFIELDSLOT, record) == 64);
        CHECK(r != NULL && zvdbIsNewRecord(r) == 1 && zvdbGetDefaultIndex(r) == 0);
        CHECK(zvdbGetFieldAsSigned(r, 0, &v) == ZVDB_NOT_ACTIVE && zvdbGetError(s) == ZVDB_NOT_ACTIVE);
        CHECK(zvdbSetFieldAsSigned(NULL, 0, 1) == ZVDB_NO_RECORD && zvdbGetRecordBuffer(r) == NULL);
        CHECK(zvdbSetDefaultIndexByName(r, "$ROWID$") == 0 && zvdbGetDefaultIndex(r) == ZVDB_INDEX_ROWID);
        CHECK(zvdbGetRecord(t, 0) == r && zvdbFreeRecord(r) == NULL && zvdbGetRecord(t, 0) == NULL);
        CHECK(zvdbFreeTable(t) == NULL && zvdbFreeSession(s) == 0);
    }
    /* Records written, walked, found and deleted from C. */
    {
        ZVHANDLE s = zvdbAllocSession(1);
        ZVHANDLE t, r, ix;
        int32_t id = 0;
        uint64_t count = 0;
        CHECK(zvdbLogon(s, NULL, "capi", NULL) == 0);
        t = zvdbAllocTable(s);
        ix = zvdbAddIndex(t, "pk", 0, 0, 0);
        CHECK(zvdbSetTablePath(t, ".") == 0 && zvdbAddField(t, "id", ZV_INT4, 0) != NULL);
        CHECK(zvdbAddSegment(ix, zvdbGetFieldByName(t, "id"), 12) != NULL);
        CHECK(zvdbCreateTable(t, "capirec", 0) == 0 && zvdbOpenTable(t, "capirec", 0) == 0);
        r = zvdbAllocRecord(t);
        for (id = 3; id >= 1; id--) {
            CHECK(zvdbClearRecord(r) == 0 && zvdbSetFieldAsSigned(r, 0, id) == 0 && zvdbWriteRecord(r) == 0);
        }
        CHECK(zvdbFirstRecord(r) == 0 && zvdbGetFieldAsSigned(r, 0, &id) == 0 && id == 1);
        CHECK(zvdbNextRecord(r) == 0 && zvdbGetFieldAsSigned(r, 0, &id) == 0 && id == 2);
        CHECK(zvdbJumpToRecord(r, 1) == 0 && zvdbNextRecord(r) == ZV_INOT_ERR && zvdbGetErrorIndex(r) == -1);
        CHECK(zvdbSetFieldAsSigned(r, 0, 2) == 0 && zvdbFindRecord(r, 0) == 0 && zvdbDeleteRecord(r) == 0);
        CHECK(zvdbGetRecordCount(r, &count) == 0 && count == 2);
        CHECK(zvdbFreeRecord(r) == NULL && zvdbRemoveTable(t) == 0);
        CHECK(zvdbFreeTable(t) == NULL && zvdbFreeSession(s) == 0);
    }
    /* A table altered from C: a field renamed in place, then every record
     * copied. */
    {
        ZVHANDLE s = zvdbAllocSession(1);
        ZVHANDLE t, r;
        int32_t id = 0;
        CHECK(zvdbLogon(s, NULL, "capi", NULL) == 0);
        t = zvdbAllocTable(s);
        CHECK(zvdbSetTablePath(t, ".") == 0 && zvdbAddField(t, "id", ZV_INT4, 0) != NULL);
        CHECK(zvdbCreateTable(t, "capialt", 0) == 0 && zvdbOpenTable(t, "capialt", 0) == 0);
        r = zvdbAllocRecord(t);
        CHECK(zvdbClearRecord(r) == 0 && zvdbSetFieldAsSigned(r, 0, 5) == 0 && zvdbWriteRecord(r) == 0);
        CHECK(zvdbFreeRecord(r) == NULL);
        CHECK(zvdbSetFieldName(zvdbGetFieldByName(t, "id"), "key") == 0 && zvdbGetTableStatus(t) == 1);
        CHECK(zvdbAlterTable(t, 0) == 0 && zvdbGetTableStatus(t) == 0 && zvdbGetFieldByName(t, "key") != NULL);
        CHECK(zvdbAlterTable(t, 3) == 0 && zvdbUpdateCreateMode(t, zvdbGetTableCreateMode(t)) == 0);
        CHECK(zvdbUpdateCndxIndexByName(t, "none", NULL) == ZVDB_NO_INDEX && zvdbAlterTable(NULL, 0) == ZVDB_NO_TABLE);
        r = zvdbAllocRecord(t);
        CHECK(zvdbFirstRecord(r) == 0 && zvdbGetFieldAsSigned(r, 0, &id) == 0 && id == 5);
        CHECK(zvdbFreeRecord(r) == NULL && zvdbRemoveTable(t) == 0);
        CHECK(zvdbFreeTable(t) == NULL && zvdbFreeSession(s) == 0);
    }
    printf("capi ok\n");
    return 0;
}

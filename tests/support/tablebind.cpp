#include "tests/support/tablebind.h"

#include <string>
#include <vector>

#include "recapi/base/wrappers.h"
#include "recapi/schema/field.h"
#include "recapi/schema/index.h"
#include "recapi/schema/segment.h"
#include "recapi/schema/table.h"
#include "recapi/schema/tablefile.h"

namespace zvtest {

namespace {

// Builds the index handles of the stored definition on the bound table.
int build_indexes(tagZVDBTABLE *t) {
    IFIL *ifil = t->ifil;
    for (int i = 0; i < ifil->dnumidx; i++) {
        IIDX &x = ifil->iidxarr[i];
        auto *ix = static_cast<tagZVDBINDEX *>(_zvdbPutIndex(t, x.ridxnam, x.ikeytyp, x.ikeydup & 1, x.inulkey));
        if (!ix) return zvdbGetError(t);
        int32_t segbytes = 0;
        for (int k = 0; k < x.inumseg; k++) {
            const ISEG &sg = x.isegarr[k];
            ZVHANDLE s = nullptr;
            if (_zvdbIsSCHSEG(sg.segmode) && sg.soffset < t->dodacount) {
                ZVHANDLE f = zv::find_field(t, t->doda[sg.soffset].fsymb);
                s = f ? _zvdbAddSegmentUnchecked(ix, f, sg.segmode) : nullptr;
            } else {
                s = zvdbAddSegmentEx(ix, sg.soffset, sg.slength, sg.segmode);
            }
            if (!s) return zvdbGetError(t);
            static_cast<tagZVDBSEGMENT *>(s)->status = 0;
            segbytes += zv::segment_key_bytes(static_cast<tagZVDBSEGMENT *>(s));
        }
        ix->status = 0;
        ix->iidx = &x;
        ix->idxno = int16_t(t->datno + 1 + i);
        ix->keylen = x.ikeylen;
        ix->dupsuffix = ix->dupflag ? x.ikeylen - segbytes : 0;
        ix->emptychar = x.iempchr;
        ix->distinctflag = x.ikeydup >= 3 && x.ikeydup <= 5;
    }
    return 0;
}

// What open reads besides the handles: the fixed record length, the record
// format from the file mode, the hidden fields of the schema, the hidden
// indexes kept apart from the list, the table type, and one more open in
// the reload count (the layout stamp of the table's records).
int note_open(tagZVDBTABLE *t) {
    t->fixedlen = uint32_t(GETFIL(t->datno, 0));
    t->recformat = (GETFIL(t->datno, 3) & 4) ? 1 : 0;
    for (int32_t i = 0; i < t->dodacount; i++) {
        const char *name = t->doda[i].fsymb;
        if (zv::same_name(name, "$DELFLD$")) t->hasdelfld = 1;
        if (zv::same_name(name, "$NULFLD$")) t->hasnullfld = 1;
        if (zv::same_name(name, "$ROWID$")) t->rowidpos = i;
    }
    for (int32_t i = _zvdbListCount(t->indexes) - 1; i >= 0; i--) {
        auto *ix = static_cast<tagZVDBINDEX *>(t->indexes->items[i]);
        const bool recbyt = zv::same_name(ix->name, "$RECBYT$");
        if (!recbyt && !zv::same_name(ix->name, "$ROWID$")) continue;
        _zvdbListDelete(t->indexes, i);
        if (recbyt) {
            t->recbytindex = ix;
            t->hasrecbyt = 1;
            t->recbytno = ix->idxno;
        } else {
            t->rowidindex = ix;
            t->hasrowid = 1;
            t->rowidno = ix->idxno;
        }
    }
    t->tabletype = uint32_t(_zvdbCheckTableType(t));
    t->reloadcount++;
    zv::new_layout(t);
    return 0;
}

}  // namespace

int bind_table(ZVHANDLE table, IFIL *ifil, const DATOBJ *schema, int count, uint32_t createmode) {
    auto *t = static_cast<tagZVDBTABLE *>(zvdbGetTableHandle(table));
    if (!t) return ZVDB_NO_TABLE;
    std::vector<XCREblk> xcre(size_t(ifil->dnumidx) + 1, XCREblk{});
    for (XCREblk &b : xcre) b.mode = (createmode & 0x100) ? 0x02 | 0x40 : 0x02;
    if (int rc = CREIFILX8(ifil, t->dataext, t->indexext, int32_t(t->permission), nullptr, nullptr, xcre.data())) {
        return rc;
    }
    int rc = PUTDODA(ifil->tfilno, schema, count);
    int closed = CLIFIL(ifil);
    if (rc || closed) return rc ? rc : closed;
    return open_table(t, ifil->pfilnam, createmode);
}

int open_table(ZVHANDLE table, const char *name, uint32_t createmode) {
    auto *t = static_cast<tagZVDBTABLE *>(zvdbGetTableHandle(table));
    if (!t) return ZVDB_NO_TABLE;
    const std::string file = std::string(name) + t->dataext;
    int rc = 0;
    int datno = OPNRFILX(-1, file.c_str(), 0, nullptr);
    if (datno < 0) return zv::instance_uerr();
    int32_t length = 0;
    IFIL *stored = nullptr;
    DATOBJ *doda = nullptr;
    void *recdesc = nullptr;
    if ((rc = _zvdbGETIFIL(datno, &stored, &length)) != 0 || (rc = _zvdbGETDODA(datno, &doda, &t->dodasize)) != 0 ||
        (rc = _zvdbGETSCHEMA(datno, &recdesc, &t->recdescsize)) != 0) {
        _zvdb_free(stored);
        _zvdb_free(doda);
        CLRFIL(datno);
        return rc;
    }
    t->ifil = stored;
    t->doda = doda;
    t->recdesc = static_cast<unsigned char *>(recdesc);
    t->dodacount = 0;
    while (doda[t->dodacount].fend != 0xFFFF) t->dodacount++;
    t->datno = int16_t(datno);
    t->active = 1;
    t->createmode = createmode;
    _zvdb_free(t->name);
    _zvdb_free(t->physname);
    t->name = _zvdb_strdup(name);
    t->physname = _zvdb_strdup(name);
    t->reservedcheck = 0;
    int32_t user = 0;
    for (int32_t i = 0; i < t->dodacount; i++) {
        if (_zvdbIsReservedName(doda[i].fsymb)) {
            t->hiddenfields++;
            continue;
        }
        auto *f = static_cast<tagZVDBFIELD *>(zvdbAddField(t, doda[i].fsymb, doda[i].ftype, doda[i].flen));
        if (!f) return zvdbGetError(t);
        f->status = 0;
        f->dodaentry = &doda[i];
        f->schemapos = user++;
    }
    t->reservedcheck = 1;
    if ((rc = build_indexes(t)) != 0) return rc;
    return note_open(t);
}

int unbind_table(ZVHANDLE table) {
    auto *t = static_cast<tagZVDBTABLE *>(zvdbGetTableHandle(table));
    if (!t) return ZVDB_NO_TABLE;
    int rc = t->datno >= 0 ? CLRFIL(t->datno) : 0;
    for (int32_t i = _zvdbListCount(t->indexes) - 1; i >= 0; i--) {
        zv::free_index_record(static_cast<tagZVDBINDEX *>(t->indexes->items[i]));
    }
    for (int32_t i = _zvdbListCount(t->fields) - 1; i >= 0; i--) {
        zv::free_field_record(static_cast<tagZVDBFIELD *>(t->fields->items[i]));
    }
    t->ifil = static_cast<IFIL *>(_zvdb_free(t->ifil));
    t->doda = static_cast<DATOBJ *>(_zvdb_free(t->doda));
    t->recdesc = static_cast<unsigned char *>(_zvdb_free(t->recdesc));
    _zvdbInitTable(t);
    return rc;
}

}  // namespace zvtest

// Index handles: adding, finding, deleting and changing the indexes of a
// table, their own file names, what the engine keeps for an open index
// (file number, temporary mode, distinct-key estimates, background-load
// status), and the getters of the table's full-text index definitions.
//
// Invariants:
//  1. A listed index's name is unique in its table ignoring letter case.
//  2. keylen = dupsuffix + the key bytes of the index's live segments;
//     dupsuffix is 0 exactly when duplicates are off. Switching duplicates
//     off takes away the suffix the index had, on adds what a new index of
//     the table would get (8 on an active table created with bit 0x100).
//  3. tempflag is -1 until first read; the engine is asked at most once.
#include "recapi/schema/index.h"

#include <algorithm>
#include <cstring>

#include "engine/core/pools.h"
#include "recapi/base/paths.h"
#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/catalog/dict_calls.h"
#include "recapi/schema/field.h"
#include "recapi/schema/fti.h"
#include "recapi/schema/segment.h"
#include "recapi/schema/table.h"

namespace zv {

namespace {

// The table's key bytes of a duplicate suffix.
int32_t duplicate_suffix(const tagZVDBTABLE *t) { return t && t->active && (t->createmode & 0x100) ? 8 : 4; }

tagZVDBINDEX *new_index(tagZVDBTABLE *t) {
    auto *ix = static_cast<tagZVDBINDEX *>(_zvdb_alloc(1, sizeof(tagZVDBINDEX)));
    if (!ix) return nullptr;
    if (!(ix->segments = _zvdbListAlloc())) return static_cast<tagZVDBINDEX *>(_zvdb_free(ix));
    ix->kind = ZVDB_INDEX_HANDLE;
    ix->table = t;
    ix->tempflag = -1;
    ix->idxno = -1;
    ix->status = 1;
    ix->cndxstate = -1;
    return ix;
}

// Position of the listed index named `name` (any case), or -1.
int32_t find_index(const tagZVDBTABLE *t, const char *name) {
    for (int32_t i = 0; i < _zvdbListCount(t->indexes); i++) {
        auto *ix = static_cast<const tagZVDBINDEX *>(t->indexes->items[i]);
        if (ix && same_name(ix->name, name)) return i;
    }
    return -1;
}

// The table of an index handle, with its code kept when there is none.
tagZVDBTABLE *table_or_code(ZVHANDLE handle, tagZVDBINDEX *ix, ZVDBRET *rc) {
    *rc = !ix ? ZVDB_NO_INDEX : !ix->table ? ZVDB_NO_TABLE : 0;
    if (*rc) keep_code(handle, *rc);
    return *rc ? nullptr : ix->table;
}

// The open index of a conditional-expression query: false with the code
// kept when there is none.
bool cndx_index(ZVHANDLE handle, tagZVDBINDEX *ix, int *idxno) {
    ZVDBRET rc = 0;
    tagZVDBTABLE *t = table_or_code(handle, ix, &rc);
    if (!t) return false;
    if (!t->active) return keep_code(handle, ZVDB_NOT_ACTIVE), false;
    *idxno = ix->idxno;
    return true;
}

// Stores a value of the index, marking `bit` when it changes: 0, 4018.
ZVDBRET set_marked(ZVHANDLE index, int32_t tagZVDBINDEX::*member, int32_t value, uint32_t bit) {
    tagZVDBINDEX *ix = index_of(index);
    if (!ix) return keep_code(index, ZVDB_NO_INDEX);
    if (value != ix->*member) ix->status |= bit;
    ix->*member = value;
    return 0;
}

tagZVDBFTI *fti_of(ZVHANDLE h) { return static_cast<tagZVDBFTI *>(zvdbGetFTIHandle(h)); }

// Field entry n of a full-text index, or NULL with the code kept (4149 no
// full-text index, 4005 n out of range, 4014 an empty entry).
const ZVDBFTIFIELD *fti_entry(ZVHANDLE handle, int32_t n) {
    tagZVDBFTI *x = fti_of(handle);
    ZVDBRET rc = !x ? ZVDB_NO_FTI : n < 0 || n >= _zvdbListCount(x->fieldlist) ? ZVDB_BAD_POSITION : 0;
    auto *entry = rc ? nullptr : static_cast<const ZVDBFTIFIELD *>(x->fieldlist->items[n]);
    if (!rc && !entry) rc = ZVDB_NO_FIELD_NAME;
    keep_code(handle, rc);
    return entry;
}

// The listed index named `name` (any case), or NULL; no code kept.
ZVHANDLE index_named(ZVHANDLE table, const char *name) {
    tagZVDBTABLE *t = table_of(table);
    int32_t n = t ? find_index(t, name) : -1;
    return n < 0 ? nullptr : t->indexes->items[n];
}

}  // namespace

tagZVDBINDEX *index_of(ZVHANDLE handle) { return static_cast<tagZVDBINDEX *>(zvdbGetIndexHandle(handle)); }

void free_index_record(tagZVDBINDEX *ix) {
    if (!ix) return;
    for (int32_t i = _zvdbListCount(ix->segments) - 1; i >= 0; i--) {
        free_segment_record(static_cast<tagZVDBSEGMENT *>(ix->segments->items[i]));
    }
    _zvdbListFree(ix->segments);
    _zvdb_free(ix->name);
    _zvdb_free(ix->filename);
    _zvdb_free(ix->cndxexpr);
    _zvdb_free(ix);
}

}  // namespace zv

using zv::index_of;
using zv::keep_code;
using zv::table_of;

extern "C" {

ZVHANDLE _zvdbPutIndex(ZVHANDLE table, const char *name, int32_t keytype, int dupflag, int nullflag) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE), nullptr;
    if (!name || !*name) return keep_code(table, ZVDB_INDEX_ADD), nullptr;
    if (zv::find_index(t, name) >= 0) return keep_code(table, ZVDB_INDEX_NAME), nullptr;
    tagZVDBINDEX *ix = zv::new_index(t);
    if (!ix || !(ix->name = _zvdb_strdup(name))) {
        zv::free_index_record(ix);
        return keep_code(table, ZVDB_NO_MEMORY), nullptr;
    }
    ix->keytype = keytype;
    ix->dupflag = dupflag ? 1 : 0;
    ix->nullflag = nullflag;
    if (dupflag) ix->keylen = ix->dupsuffix = zv::duplicate_suffix(t);
    if (ZVDBRET rc = _zvdbListAdd(t->indexes, ix)) {
        zv::free_index_record(ix);
        return keep_code(table, rc), nullptr;
    }
    return ix;
}

ZV_API ZVHANDLE zvdbAllocIndex(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE), nullptr;
    tagZVDBINDEX *ix = zv::new_index(t);
    if (!ix) keep_code(table, ZVDB_NO_MEMORY);
    return ix;
}

ZV_API void zvdbFreeIndex(ZVHANDLE index) {
    if (!index || zv::handle_kind(index) != ZVDB_INDEX_HANDLE) return;
    auto *ix = static_cast<tagZVDBINDEX *>(index);
    // An index still listed leaves its table first, so no list holds a freed handle.
    if (ix->table && ix->table->indexes) _zvdbListDeleteEx(ix->table->indexes, ix);
    zv::free_index_record(ix);
}

ZV_API ZVHANDLE zvdbAddIndex(ZVHANDLE table, const char *name, int32_t keytype, int dupflag, int nullflag) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE), nullptr;
    if (name && _zvdbIsReservedName(name)) return keep_code(table, ZVDB_RESERVED_NAME), nullptr;
    // Index names are unique in a database: another table's index has it.
    if (name && t->database && _zvdbDictHoldsIndex(t->database, name)) {
        return keep_code(table, ZVDB_INDEX_IN_DICT), nullptr;
    }
    return _zvdbPutIndex(table, name, keytype, dupflag, nullflag);
}

ZV_API ZVDBRET zvdbDelIndex(ZVHANDLE table, int32_t n) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    if (n < 0 || n >= _zvdbListCount(t->indexes)) return keep_code(table, ZVDB_BAD_POSITION);
    auto *ix = static_cast<tagZVDBINDEX *>(_zvdbListItem(t->indexes, n));
    if (!ix) return keep_code(table, ZVDB_NO_INDEX_NAME);
    if (zv::same_name(ix->name, "$RECBYT$")) return keep_code(table, ZVDB_RECBYT_INDEX);
    if (zv::same_name(ix->name, "$ROWID$")) return keep_code(table, ZVDB_ROWID_INDEX);
    if (ix->status & 1) {
        _zvdbListDelete(t->indexes, n);
        zv::free_index_record(ix);
    } else {
        ix->status |= 2;
    }
    return 0;
}

ZV_API ZVHANDLE zvdbGetIndex(ZVHANDLE table, int32_t n) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE), nullptr;
    if (n == 10003) {
        // The partition index number counts the hidden indexes before it.
        n = t->partindex < 0 ? -1 : t->partindex - (t->hasrowid ? 1 : 0) - (t->hasrecbyt ? 1 : 0);
    }
    if (n < 0 || n >= _zvdbListCount(t->indexes)) return keep_code(table, ZVDB_BAD_POSITION), nullptr;
    void *ix = _zvdbListItem(t->indexes, n);
    if (!ix) keep_code(table, ZVDB_NO_INDEX_NAME);
    return ix;
}

ZV_API ZVHANDLE _zvdbGetIndex(ZVHANDLE table, int32_t n, int hidden) {
    tagZVDBTABLE *t = table_of(table);
    if (!t || !hidden || (n != 10000 && n != 10001)) return zvdbGetIndex(table, n);
    tagZVDBINDEX *ix = n == 10000 ? t->recbytindex : t->rowidindex;
    if (!ix) keep_code(table, ZVDB_NO_INDEX_NAME);
    return ix;
}

ZV_API int32_t zvdbGetIndexNbrByName(ZVHANDLE table, const char *name) {
    tagZVDBTABLE *t = table_of(table);
    ZVDBRET rc = !t ? ZVDB_NO_TABLE : !name ? ZVDB_NULL_ARGUMENT : 0;
    int32_t n = rc ? -1 : zv::find_index(t, name);
    if (!rc && n < 0) rc = ZVDB_NO_INDEX_NAME;
    keep_code(table, rc);
    return n;
}

ZV_API ZVHANDLE zvdbGetIndexByName(ZVHANDLE table, const char *name) {
    int32_t n = zvdbGetIndexNbrByName(table, name);
    return n < 0 ? nullptr : _zvdbListItem(table_of(table)->indexes, n);
}

ZV_API ZVDBRET zvdbGetIndexNbr(ZVHANDLE index, int32_t *n) {
    tagZVDBINDEX *ix = index_of(index);
    ZVDBRET rc = 0;
    tagZVDBTABLE *t = zv::table_or_code(index, ix, &rc);
    if (!t) return rc;
    if (!n) return keep_code(index, ZVDB_NULL_ARGUMENT);
    int32_t i = _zvdbListIndexOf(t->indexes, ix);
    if (i < 0) return keep_code(index, ZVDB_NO_INDEX_NAME);
    *n = i;
    return 0;
}

ZV_API ZVHANDLE zvdbGetIndexByUID(ZVHANDLE table, uint32_t uid) {
    tagZVDBTABLE *t = table_of(table);
    for (int32_t i = 0; t && t->active && i < _zvdbListCount(t->indexes); i++) {
        auto *ix = static_cast<tagZVDBINDEX *>(t->indexes->items[i]);
        if (ix->uid == uid) return ix;
    }
    // The dictionary names the index and its table; that table, when it is
    // open through the database, holds the handle.
    ZVDBDICTENTRY e;
    if (t && t->database && _zvdbDictFindIndexByUID(t, uid, &e) == 0 && (!t->active || t->uid == e.linknbr)) {
        auto *owner = static_cast<tagZVDBTABLE *>(zvdbFindActiveTable(t->database, e.link));
        const int32_t n = owner ? zv::find_index(owner, e.name) : -1;
        if (n >= 0) {
            auto *ix = static_cast<tagZVDBINDEX *>(owner->indexes->items[n]);
            ix->uid = uid;
            return ix;
        }
    }
    keep_code(table, ZVDB_NO_INDEX_NAME);
    return nullptr;
}

ZV_API const char *zvdbGetIndexName(ZVHANDLE index) {
    tagZVDBINDEX *ix = index_of(index);
    if (!ix) return keep_code(index, ZVDB_NO_INDEX), nullptr;
    return ix->name;
}

ZV_API ZVDBRET zvdbSetIndexName(ZVHANDLE index, const char *name) {
    tagZVDBINDEX *ix = index_of(index);
    if (!ix) return keep_code(index, ZVDB_NO_INDEX);
    if (!name) return keep_code(index, ZVDB_NULL_ARGUMENT);
    if (!*name) return keep_code(index, ZVDB_BAD_ARGUMENT);
    if (ix->table) {
        int32_t other = zv::find_index(ix->table, name);
        if (other >= 0 && ix->table->indexes->items[other] != ix) return keep_code(index, ZVDB_INDEX_NAME);
        if (ix->table->database && !zv::same_name(ix->name, name) && _zvdbDictHoldsIndex(ix->table->database, name)) {
            return keep_code(index, ZVDB_INDEX_IN_DICT);
        }
    }
    char *copy = _zvdb_strdup(name);
    if (!copy) return keep_code(index, ZVDB_NO_MEMORY);
    _zvdb_free(ix->name);
    ix->name = copy;
    ix->status |= 0x200;
    return 0;
}

ZV_API const char *zvdbGetIndexFilename(ZVHANDLE index) {
    tagZVDBINDEX *ix = index_of(index);
    if (!ix) return keep_code(index, ZVDB_NO_INDEX), nullptr;
    return ix->filename;
}

ZV_API ZVDBRET zvdbSetIndexFilename(ZVHANDLE index, const char *path, const char *name) {
    tagZVDBINDEX *ix = index_of(index);
    ZVDBRET rc = 0;
    tagZVDBTABLE *t = zv::table_or_code(index, ix, &rc);
    if (!t) return rc;
    if (ix->filename) {
        ix->filename = static_cast<char *>(_zvdb_free(ix->filename));
        ix->status |= 0x100;
    }
    if (!path && !name) return 0;
    const char *base = name ? name : t->physname ? t->physname : "";
    const char *ext = t->indexext ? t->indexext : ".idx";
    const size_t nb = std::strlen(base), ne = std::strlen(ext);
    char *file = _zvdb_stralloc(int32_t(nb + ne));
    if (!file) return keep_code(index, ZVDB_NO_MEMORY);
    std::memcpy(file, base, nb);
    std::memcpy(file + nb, ext, ne);
    ix->filename = _zvdb_MakeFilePath(path ? path : t->path, file, _zvdbGetPathSeparator(index));
    _zvdb_free(file);
    if (!ix->filename) return keep_code(index, ZVDB_NO_MEMORY);
    ix->status |= 0x100;
    return 0;
}

ZV_API int32_t zvdbGetIndexSegmentCount(ZVHANDLE index) {
    tagZVDBINDEX *ix = index_of(index);
    if (!ix) return keep_code(index, ZVDB_NO_INDEX), -1;
    return _zvdbListCount(ix->segments);
}

ZV_API int32_t zvdbGetIndexKeyLength(ZVHANDLE index) {
    tagZVDBINDEX *ix = index_of(index);
    if (!ix) return keep_code(index, ZVDB_NO_INDEX), -1;
    return ix->keylen;
}

ZV_API int32_t zvdbGetIndexKeyType(ZVHANDLE index) {
    tagZVDBINDEX *ix = index_of(index);
    return ix ? ix->keytype : 0x7FFFFFFF;
}

ZV_API ZVDBRET zvdbSetIndexKeyType(ZVHANDLE index, int32_t keytype) {
    if (index_of(index) && (keytype & ~0x100EC)) return keep_code(index, ZVDB_BAD_TYPE);
    return zv::set_marked(index, &tagZVDBINDEX::keytype, keytype, 16);
}

ZV_API int32_t zvdbGetIndexEmptyChar(ZVHANDLE index) {
    tagZVDBINDEX *ix = index_of(index);
    return ix ? ix->emptychar : 0x7FFFFFFF;
}

ZV_API ZVDBRET zvdbSetIndexEmptyChar(ZVHANDLE index, int32_t value) {
    return zv::set_marked(index, &tagZVDBINDEX::emptychar, value, 32);
}

ZV_API int zvdbGetIndexDuplicateFlag(ZVHANDLE index) {
    tagZVDBINDEX *ix = index_of(index);
    return ix ? ix->dupflag : 0;
}

ZV_API ZVDBRET zvdbSetIndexDuplicateFlag(ZVHANDLE index, int flag) {
    tagZVDBINDEX *ix = index_of(index);
    ZVDBRET rc = 0;
    tagZVDBTABLE *t = zv::table_or_code(index, ix, &rc);
    if (!t) return rc;
    const int on = flag ? 1 : 0;
    if (on == ix->dupflag) return 0;
    if (on) {
        ix->dupsuffix = zv::duplicate_suffix(t);
        ix->keylen += ix->dupsuffix;
    } else {
        // An index rebuilt without its suffix recorded takes the table's.
        const int32_t suffix = ix->dupsuffix ? ix->dupsuffix : zv::duplicate_suffix(t);
        ix->keylen = ix->keylen > suffix ? ix->keylen - suffix : 0;
        ix->dupsuffix = 0;
        ix->distinctflag = 0;
    }
    ix->dupflag = on;
    ix->status |= 64;
    return 0;
}

ZV_API int zvdbGetIndexNullFlag(ZVHANDLE index) {
    tagZVDBINDEX *ix = index_of(index);
    return ix ? ix->nullflag : 0;
}

ZV_API ZVDBRET zvdbSetIndexNullFlag(ZVHANDLE index, int flag) {
    return zv::set_marked(index, &tagZVDBINDEX::nullflag, flag, 128);
}

ZV_API int zvdbGetIndexTemporaryFlag(ZVHANDLE index) {
    tagZVDBINDEX *ix = index_of(index);
    if (!ix) return keep_code(index, ZVDB_NO_INDEX), 0;
    if (ix->tempflag != -1) return ix->tempflag;
    if ((ix->status & 1) || !ix->table || !ix->table->active) return ix->tempflag = 0;
    int64_t mode = 0;
    zv::schema_counts().getfil_calls++;
    if (_zvdbGETFIL(ix->idxno, 26, &mode)) return 0;
    return ix->tempflag = (mode & 32) ? 1 : 0;
}

ZV_API ZVDBRET zvdbSetIndexTemporaryFlag(ZVHANDLE index, int flag) {
    tagZVDBINDEX *ix = index_of(index);
    if (!ix) return keep_code(index, ZVDB_NO_INDEX);
    ix->tempflag = flag;
    return 0;
}

ZV_API int zvdbGetIndexDistinctKeyCountFlag(ZVHANDLE index) {
    tagZVDBINDEX *ix = index_of(index);
    return ix ? ix->distinctflag : 0;
}

ZV_API ZVDBRET zvdbSetIndexDistinctKeyCountFlag(ZVHANDLE index, int flag) {
    tagZVDBINDEX *ix = index_of(index);
    ZVDBRET rc = 0;
    if (!zv::table_or_code(index, ix, &rc)) return rc;
    if (flag != ix->distinctflag) {
        ix->distinctflag = flag;
        ix->status |= 0x400;
    } else if (flag == 0 && ix->iidx && ix->iidx->ikeydup >= 3 && ix->iidx->ikeydup <= 5) {
        // The files keep counts that the definition no longer wants.
        ix->status |= 0x400;
    }
    return 0;
}

ZV_API uint32_t zvdbGetIndexStatus(ZVHANDLE index) {
    tagZVDBINDEX *ix = index_of(index);
    return ix ? ix->status : 0;
}

ZV_API ZVDBRET zvdbSetIndexCndxExpr(ZVHANDLE index, const char *text) {
    tagZVDBINDEX *ix = index_of(index);
    if (!ix) return keep_code(index, ZVDB_NO_INDEX);
    char *copy = _zvdb_strdup(text ? text : "");
    if (!copy) return keep_code(index, ZVDB_NO_MEMORY);
    _zvdb_free(ix->cndxexpr);
    ix->cndxexpr = copy;
    ix->cndxstate = 1;
    return 0;
}

ZV_API int zvdbGetIdxno(ZVHANDLE index) {
    tagZVDBINDEX *ix = index_of(index);
    if (!ix) return keep_code(index, ZVDB_NO_INDEX), -1;
    if (!ix->table || !ix->table->active) return keep_code(index, ZVDB_NOT_ACTIVE), -1;
    return ix->idxno;
}

ZV_API int32_t _zvdbGetIndexikeytyp(ZVHANDLE index) {
    tagZVDBINDEX *ix = index_of(index);
    if (!ix) return keep_code(index, ZVDB_NO_INDEX), -1;
    if (!ix->iidx) return keep_code(index, ZVDB_BAD_MODE), -1;
    zvdbSetError(index, 0);
    return ix->iidx->ikeytyp;
}

ZV_API ZVDBRET zvdbEstimateNumberOfDistinctKeyEntries(ZVHANDLE index, int32_t capacity, void *entries,
                                                      int32_t *levels, uint64_t *count) {
    tagZVDBINDEX *ix = index_of(index);
    if (!ix) return keep_code(index, ZVDB_NO_INDEX);
    if (!count) return keep_code(index, ZVDB_NULL_ARGUMENT);
    const uint32_t low =
        capacity == 0 ? zvDISTINCTest(ix->idxno) : zvDISTINCTestXtd(ix->idxno, capacity, entries, levels);
    const uint32_t high = uint32_t(zvGETHGH());
    const int rc = zv::instance_uerr();
    if (rc == -1) return -1;
    *count = uint64_t(high) << 32 | low;
    return keep_code(index, rc);
}

ZV_API ZVDBRET zvdbCheckIndexBackgroundLoad(ZVHANDLE table, void *status) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    if (!status) return keep_code(table, ZVDB_NULL_ARGUMENT);
    if (!t->active) return keep_code(table, ZVDB_NOT_ACTIVE);
    constexpr char kPrefix[] = "$BIXL$";
    const char *tname = t->name ? t->name : "";
    char *name = _zvdb_stralloc(int32_t(sizeof kPrefix - 1 + std::strlen(tname)));
    if (!name) return keep_code(table, ZVDB_NO_MEMORY);
    std::memcpy(name, kPrefix, sizeof kPrefix - 1);
    std::strcpy(name + sizeof kPrefix - 1, tname);
    constexpr int32_t kImage = 144, kHead = 24, kEntry = 120;
    unsigned char local[kImage] = {};
    void *buffer = local;
    int32_t size = kImage;
    int rc = zvGetBackgroundLoadStatus(t->datno, name, &buffer, &size);
    if (rc == 153) {
        // A longer image comes in a block of the engine's own.
        buffer = nullptr;
        size = 0;
        rc = zvGetBackgroundLoadStatus(t->datno, name, &buffer, &size);
    }
    _zvdb_free(name);
    if (rc == 0) {
        std::memset(status, 0, kEntry);
        if (size > kHead) std::memcpy(status, static_cast<unsigned char *>(buffer) + kHead, size_t(std::min(size - kHead, kEntry)));
    }
    if (buffer && buffer != local) zvputmem(buffer);
    if (rc == 408 || rc == 101) rc = ZVDB_NO_BGLOAD;
    return keep_code(table, rc);
}

ZV_API ZVDBRET zvdbSetIndexKSeg(ZVHANDLE index, void *) { return keep_code(index, ZVDB_NOT_SUPPORTED); }
ZV_API ZVDBRET zvdbGetIndexKSeg(ZVHANDLE index, void *) { return keep_code(index, ZVDB_NOT_SUPPORTED); }

ZV_API int zvdbGetIdxnoByNumber(ZVHANDLE table, int32_t n) {
    ZVHANDLE ix = zvdbGetIndex(table, n);
    return ix ? zvdbGetIdxno(ix) : -1;
}

ZV_API int zvdbGetIdxnoByName(ZVHANDLE table, const char *name) {
    ZVHANDLE ix = zvdbGetIndexByName(table, name);
    return ix ? zvdbGetIdxno(ix) : -1;
}

ZV_API int32_t zvdbGetCndxIndexLength(ZVHANDLE index) {
    int idxno = -1;
    if (!zv::cndx_index(index, index_of(index), &idxno)) return -1;
    int32_t n = GETCIDX(idxno, 0, nullptr);
    if (n > 0) return n;
    if (int rc = zv::instance_uerr()) keep_code(index, rc);
    return -1;
}

ZV_API int32_t zvdbGetCndxIndexLengthByName(ZVHANDLE table, const char *name) {
    if (!table_of(table)) return keep_code(table, ZVDB_NO_TABLE), -1;
    ZVHANDLE ix = name ? zv::index_named(table, name) : nullptr;
    if (!ix) return keep_code(table, ZVDB_NO_INDEX), -1;
    return zvdbGetCndxIndexLength(ix);
}

ZV_API ZVDBRET zvdbGetCndxIndex(ZVHANDLE index, char *buffer, int32_t size) {
    int idxno = -1;
    if (!zv::cndx_index(index, index_of(index), &idxno)) return zvdbGetError(index);
    if (!buffer) return keep_code(index, ZVDB_NULL_ARGUMENT);
    if (size < 1) return keep_code(index, ZVDB_BUFFER_SMALL);
    int32_t n = GETCIDX(idxno, size, buffer);
    if (n <= 0) {
        if (int rc = zv::instance_uerr()) return keep_code(index, rc);
        buffer[0] = 0;
        return 0;
    }
    return n > size ? keep_code(index, ZVDB_BUFFER_SMALL) : 0;
}

ZV_API ZVDBRET zvdbGetCndxIndexByName(ZVHANDLE table, const char *name, char *buffer, int32_t size) {
    if (!table_of(table)) return keep_code(table, ZVDB_NO_TABLE);
    ZVHANDLE ix = name ? zv::index_named(table, name) : nullptr;
    if (!ix) return keep_code(table, ZVDB_NO_INDEX);
    return zvdbGetCndxIndex(ix, buffer, size);
}

ZV_API ZVHANDLE zvdbGetFTI(ZVHANDLE table, int32_t n) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE), nullptr;
    if (n < 0 || n >= _zvdbListCount(t->ftis)) return keep_code(table, ZVDB_BAD_POSITION), nullptr;
    return t->ftis->items[n];
}

ZV_API int32_t zvdbGetTableFTICount(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE), -1;
    return t->ftis ? t->ftis->count : -1;
}

ZV_API uint32_t zvdbGetFTIStatus(ZVHANDLE fti) {
    tagZVDBFTI *x = zv::fti_of(fti);
    return x ? uint32_t(x->status) : 0;
}

ZV_API int32_t zvdbGetFTINbrByName(ZVHANDLE table, const char *name) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE), -1;
    if (!name) return keep_code(table, ZVDB_NULL_ARGUMENT), -1;
    for (int32_t i = 0; i < _zvdbListCount(t->ftis); i++) {
        if (zv::same_name(static_cast<tagZVDBFTI *>(t->ftis->items[i])->name, name)) return i;
    }
    return keep_code(table, ZVDB_NO_FTI_NAME), -1;
}

ZV_API ZVHANDLE zvdbGetFTIByName(ZVHANDLE table, const char *name) {
    int32_t n = zvdbGetFTINbrByName(table, name);
    return n < 0 ? nullptr : table_of(table)->ftis->items[n];
}

ZV_API int32_t zvdbGetFTIFieldCount(ZVHANDLE fti) {
    tagZVDBFTI *x = zv::fti_of(fti);
    if (!x) return keep_code(fti, ZVDB_NO_FTI), -1;
    return _zvdbListCount(x->fieldlist);
}

ZV_API ZVHANDLE zvdbGetFTIField(ZVHANDLE fti, int32_t n) {
    const ZVDBFTIFIELD *entry = zv::fti_entry(fti, n);
    if (!entry) return nullptr;
    tagZVDBFIELD *f = zv::find_field(zv::fti_of(fti)->table, entry->name);
    if (!f) keep_code(fti, ZVDB_NO_FIELD_NAME);
    return f;
}

ZV_API int32_t zvdbGetFTIFieldMode(ZVHANDLE fti, int32_t n) {
    const ZVDBFTIFIELD *entry = zv::fti_entry(fti, n);
    return entry ? entry->mode : -1;
}

ZV_API ZVDBRET zvdbSetFTICndxExpr(ZVHANDLE fti, const char *) { return keep_code(fti, ZVDB_NOT_SUPPORTED); }
ZV_API ZVDBRET zvdbGetFTINbr(ZVHANDLE fti) { return keep_code(fti, ZVDB_NOT_SUPPORTED); }

ZV_API const char *zvdbGetFTIName(ZVHANDLE fti) {
    keep_code(fti, ZVDB_NOT_SUPPORTED);
    return nullptr;
}

ZV_API ZVHANDLE zvdbGetFTIByUID(ZVHANDLE table, uint32_t) {
    keep_code(table, ZVDB_NOT_SUPPORTED);
    return nullptr;
}

}  // extern "C"

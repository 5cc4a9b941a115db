// Virtual tables: the definitions a host keeps for its multi-record-type
// tables, their numbering, the creation of a virtual table, its record
// schema read back at open, the type check of its records and the list of
// the virtual tables of a host.
//
// Resources in the host's data file (records: type and number in host
// order, the name and a zero byte, then the data):
//   "QV!VTNB" type 3, number 0: the last number given, "%03d" and a zero
//             byte ("-01" when none is left).
//   "QV!VFLT" type 2, number = the virtual table's number (0..198), data
//             in host order, unaligned:
//     OFFSET  SIZE      CONTENT
//       0       1       version 1
//       1       4       kind (0x10000)
//       5       l + 1   the name and its zero byte
//       then    4       first word of the host's field-type block (version,
//                       alignment, delimiter, pad bytes)
//               4       16 + 6 n: from this word to the field-name area
//               4       n, schema entries (hidden ones included)
//               4       n again
//               6 n     per entry: length (16-bit), type (the full 16-bit
//                       code), two zero bytes
//       then    ...     per entry: count byte (name length + 2), the name,
//                       a zero byte
//       then    ...     the filter text and its zero byte
// The words from "first word" to the field names are the engine's
// field-type block of the virtual table's schema and the names its
// field-name block: the filter is parsed against them as they are.
//
// Invariants:
//  1. A number is given once: a new definition takes the highest number
//     free below the last one given, else the last + 1, never above 198.
//  2. The last number stored only grows when a definition is added, and is
//     lowered only when the highest definition goes.
//  3. A failed creation leaves the host's resources and the dictionary as
//     they were: what it added is taken away again.
#include "recapi/schema/vtable.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/catalog/dict_calls.h"
#include "recapi/records/vtype_calls.h"
#include "recapi/schema/field.h"
#include "recapi/schema/rebuild.h"
#include "recapi/schema/resource.h"
#include "recapi/schema/table.h"
#include "recapi/schema/tablefile.h"
#include "zarvo/zvdbpt.h"

namespace zv {

namespace {

constexpr uint32_t kDefType = 2;
constexpr uint32_t kLastType = 3;
constexpr const char *kDefName = "QV!VFLT";
constexpr const char *kLastName = "QV!VTNB";
constexpr uint8_t kDefVersion = 1;
constexpr int32_t kMaxNumber = 198;
constexpr int32_t kListedNumbers = 200;
constexpr int32_t kNameBuffer = 128;
constexpr size_t kPackedNameMax = 253;
constexpr int32_t kBlockHead = 16;
constexpr int32_t kBlockEntry = 6;
// The answer of a write whose record is not of the virtual table's type.
constexpr int kNotOfType = 739;

using Bytes = std::vector<unsigned char>;

uint32_t get32(const unsigned char *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
void put32(Bytes &b, uint32_t v) {
    const auto *p = reinterpret_cast<const unsigned char *>(&v);
    b.insert(b.end(), p, p + 4);
}
void put16(Bytes &b, uint16_t v) {
    const auto *p = reinterpret_cast<const unsigned char *>(&v);
    b.insert(b.end(), p, p + 2);
}
void put_text(Bytes &b, const char *text) {
    const size_t n = text ? std::strlen(text) : 0;
    if (n) b.insert(b.end(), text, text + n);
    b.push_back(0);
}

// A resource record: type, number, name, data.
Bytes resource_record(uint32_t type, uint32_t number, const char *name, const Bytes &data) {
    Bytes r;
    put32(r, type);
    put32(r, number);
    put_text(r, name);
    r.insert(r.end(), data.begin(), data.end());
    return r;
}

int add_resource(int datno, uint32_t type, uint32_t number, const char *name, const Bytes &data) {
    Bytes r = resource_record(type, number, name, data);
    return _zvdbADDRES(datno, r.data(), int32_t(r.size()));
}

int delete_resource(int datno, uint32_t type, uint32_t number, const char *name) {
    Bytes r = resource_record(type, number, name, {});
    return _zvdbDELRES(datno, r.data());
}

// The last number stored: 0 with *stored, 0 without it (absent), or the
// read's code.
int read_last(int datno, int32_t *last, bool *stored) {
    Bytes data;
    int rc = resource_data(datno, kLastType, 0, &data);
    *stored = rc == 0;
    *last = 0;
    if (rc == 408) return 0;
    if (rc) return rc;
    data.push_back(0);
    *last = int32_t(std::strtol(reinterpret_cast<const char *>(data.data()), nullptr, 10));
    return 0;
}

int write_last(int datno, int32_t number) {
    char text[16];
    std::snprintf(text, sizeof text, "%03d", number);
    const Bytes data(text, text + std::strlen(text) + 1);
    Bytes r = resource_record(kLastType, 0, kLastName, data);
    int rc = _zvdbUPDRES(datno, r.data(), int32_t(r.size()));
    if (resource_absent(rc)) rc = _zvdbADDRES(datno, r.data(), int32_t(r.size()));
    return rc;
}

// The highest definition number present below `below`, or -1: 0 or the
// read's code.
int highest_definition(int datno, int32_t below, int32_t *found) {
    *found = -1;
    Bytes data;
    for (int32_t k = below - 1; k >= 0; k--) {
        int rc = resource_data(datno, kDefType, uint32_t(k), &data);
        if (rc == 408) continue;
        if (rc) return rc;
        *found = k;
        return 0;
    }
    return 0;
}

// A stored definition taken apart (pointers into its data).
struct Definition {
    uint8_t version = 0;
    uint32_t kind = 0;
    const char *name = nullptr;
    const unsigned char *block = nullptr;  // the field-type block
    int32_t blocksize = 0;
    uint32_t count = 0;
    const unsigned char *names = nullptr;  // the field-name block
    int32_t namessize = 0;
    const char *filter = nullptr;
};

// Takes a definition's data apart, checking every length against its end:
// 0 or 4025 (damaged or of another form).
ZVDBRET parse_definition(const Bytes &data, Definition *d) {
    const unsigned char *p = data.data(), *end = p + data.size();
    if (data.size() < 5) return ZVDB_BAD_MODE;
    d->version = p[0];
    d->kind = get32(p + 1);
    p += 5;
    if (d->kind != kZvdbMultiRecordType) return 0;
    const void *zero = std::memchr(p, 0, size_t(end - p));
    if (!zero) return ZVDB_BAD_MODE;
    d->name = reinterpret_cast<const char *>(p);
    p = static_cast<const unsigned char *>(zero) + 1;
    if (end - p < kBlockHead) return ZVDB_BAD_MODE;
    const uint32_t blocklen = get32(p + 4);
    d->count = get32(p + 8);
    if (d->count != get32(p + 12) || d->count > 0xFFFF || blocklen != kBlockHead + kBlockEntry * d->count ||
        int64_t(blocklen) > end - p) {
        return ZVDB_BAD_MODE;
    }
    d->block = p;
    d->blocksize = int32_t(blocklen);
    p += blocklen;
    d->names = p;
    for (uint32_t i = 0; i < d->count; i++) {
        if (p >= end || *p < 2 || *p > end - p || p[*p - 1] != 0) return ZVDB_BAD_MODE;
        p += *p;
    }
    d->namessize = int32_t(p - d->names);
    if (!std::memchr(p, 0, size_t(end - p))) return ZVDB_BAD_MODE;
    d->filter = reinterpret_cast<const char *>(p);
    return 0;
}

// The data of a virtual table's definition: its schema entries, the host's
// field-type word, its name and filter. 0, 4043 a name too long for its
// count byte, 4025 no schema.
ZVDBRET build_definition(const tagZVDBTABLE *host, const tagZVDBTABLE *vt, Bytes *out) {
    const auto *def = static_cast<const ZVDBVTDEF *>(vt->vtinfo);
    if (!vt->doda) return ZVDB_BAD_MODE;
    Bytes &b = *out;
    b.push_back(kDefVersion);
    put32(b, vt->vtkind);
    if (vt->vtkind != kZvdbMultiRecordType) return 0;
    put_text(b, def && def->name ? def->name : vt->name);
    // The host's first word: version 2, alignment, delimiter and pad bytes.
    unsigned char word[4] = {2, uint8_t(host->alignment), 0, 0};
    if (host->recdesc && host->recdescsize >= 4) std::memcpy(word, host->recdesc, 4);
    b.insert(b.end(), word, word + 4);
    const auto n = uint32_t(vt->dodacount);
    put32(b, kBlockHead + kBlockEntry * n);
    put32(b, n);
    put32(b, n);
    for (uint32_t i = 0; i < n; i++) {
        put16(b, vt->doda[i].flen);
        put16(b, vt->doda[i].ftype);
        b.push_back(0);
        b.push_back(0);
    }
    for (uint32_t i = 0; i < n; i++) {
        const char *name = vt->doda[i].fsymb ? vt->doda[i].fsymb : "";
        const size_t len = std::strlen(name);
        if (len > kPackedNameMax) return ZVDB_NAME_TOO_LONG;
        b.push_back(uint8_t(len + 2));
        put_text(b, name);
    }
    put_text(b, def && def->filter ? def->filter : "");
    return 0;
}

// The record schema entries of a stored field-type and field-name block,
// laid out as the engine lays out a schema read from a file: each entry of
// the fixed part aligned by the block's rule, the others packed after it.
ZVDBRET schema_of(const Definition &d, int32_t fixed, DATOBJ **out, int32_t *size) {
    const size_t bytes = sizeof(DATOBJ) * (d.count + 1) + size_t(d.namessize);
    auto *doda = static_cast<DATOBJ *>(_zvdb_alloc(1, int32_t(bytes)));
    if (!doda) return ZVDB_NO_MEMORY;
    auto *names = reinterpret_cast<char *>(doda + d.count + 1);
    std::memcpy(names, d.names, size_t(d.namessize));
    const int align = d.block[1];
    int32_t off = 0, at = 0;
    for (uint32_t i = 0; i < d.count; i++) {
        const unsigned char *e = d.block + kBlockHead + kBlockEntry * i;
        uint16_t len, type;
        std::memcpy(&len, e, 2);
        std::memcpy(&type, e + 2, 2);
        if (off < fixed) off += zvadjadr(align, type, off);
        doda[i] = DATOBJ{names + at + 1, off, type, len, 0, 0};
        off += len;
        at += static_cast<unsigned char>(names[at]);
    }
    doda[d.count].fend = 0xFFFF;
    *out = doda;
    *size = int32_t(bytes);
    return 0;
}

// A copy of n bytes, or NULL (with *nomem) when memory is short.
unsigned char *copy_bytes(const void *p, int32_t n, bool *nomem) {
    if (!p || n <= 0) return nullptr;
    auto *c = static_cast<unsigned char *>(_zvdb_alloc(1, n));
    if (!c) {
        *nomem = true;
        return nullptr;
    }
    std::memcpy(c, p, size_t(n));
    return c;
}

// The type information of a table (made when it has none).
ZVDBVTDEF *type_info(tagZVDBTABLE *t) {
    if (!t->vtinfo) t->vtinfo = _zvdbAllocVTableDef(nullptr);
    return static_cast<ZVDBVTDEF *>(t->vtinfo);
}

// Adds the definition of vt to the open host and numbers it. 0, 4012,
// 4004, 4025, 4054, 4022, 4130, 4043, the resource calls' codes.
ZVDBRET add_definition(tagZVDBTABLE *host, tagZVDBTABLE *vt) {
    if (!host->active || host->datno < 0) return ZVDB_NOT_ACTIVE;
    if (!vt->vtkind || (vt->vtkind == kZvdbMultiRecordType && !vt->vtinfo)) return ZVDB_BAD_ARGUMENT;
    const auto *def = static_cast<const ZVDBVTDEF *>(vt->vtinfo);
    const char *name = def && def->name ? def->name : vt->name;
    int32_t last = 0;
    bool stored = false;
    if (int rc = read_last(host->datno, &last, &stored)) return rc;
    // Without a stored last number (a clone's host, say) the highest
    // definition present stands for it.
    if (!stored) {
        if (int rc = highest_definition(host->datno, kMaxNumber + 1, &last)) return rc;
    }
    int32_t free = -1;
    Bytes data;
    for (int32_t k = 0; k <= last; k++) {
        int rc = resource_data(host->datno, kDefType, uint32_t(k), &data);
        if (rc == 408) {
            free = k;
            continue;
        }
        if (rc) return rc;
        Definition d;
        if (data.size() < 5) return ZVDB_BAD_MODE;
        if (get32(data.data() + 1) != kZvdbMultiRecordType) return ZVDB_NOT_SUPPORTED;
        if (parse_definition(data, &d) == 0 && name && std::strcmp(d.name, name) == 0) return ZVDB_TABLE_EXISTS;
    }
    const int32_t number = free >= 0 ? free : last + 1;
    if (number > kMaxNumber) return ZVDB_NO_VTABLE_NUMBER;
    Bytes body;
    if (ZVDBRET rc = build_definition(host, vt, &body)) return rc;
    if (int rc = add_resource(host->datno, kDefType, uint32_t(number), kDefName, body)) return rc;
    if (!stored || number > last) {
        if (int rc = write_last(host->datno, number > last ? number : last)) {
            delete_resource(host->datno, kDefType, uint32_t(number), kDefName);
            return rc;
        }
    }
    vt->vtnumber = number;
    return 0;
}

// Removes definition k of the open host and lowers the last number when k
// was the last. 0, 4012, the resource calls' codes.
ZVDBRET remove_definition(tagZVDBTABLE *host, int32_t k) {
    if (!host->active || host->datno < 0) return ZVDB_NOT_ACTIVE;
    if (int rc = delete_resource(host->datno, kDefType, uint32_t(k), kDefName)) return rc;
    int32_t last = 0;
    bool stored = false;
    if (int rc = read_last(host->datno, &last, &stored)) return rc;
    if (!stored || k != last) return 0;
    int32_t below = -1;
    if (int rc = highest_definition(host->datno, k, &below)) return rc;
    return write_last(host->datno, below);
}

// The host's last-number resource as it was before a creation, to be put
// back should it fail.
struct LastSaved {
    bool stored = false;
    int32_t last = 0;
};

void restore_last(int datno, const LastSaved &saved) {
    if (saved.stored) {
        write_last(datno, saved.last);
    } else {
        delete_resource(datno, kLastType, 0, kLastName);
    }
}

// The creation of a multi-record-type table (zvdbCreateMRTTable), on the
// table handle t holding the definition, with the host open on `host`.
ZVDBRET create_virtual(tagZVDBTABLE *t, tagZVDBTABLE *host, const char *name, const char *hostname,
                       uint32_t createmode, const char *filter) {
    if (ZVDBRET rc = zvdbOpenTable(host, hostname, t->openmode)) return rc;
    if (replace_text(&t->name, name) || replace_text(&t->physname, name)) return ZVDB_NO_MEMORY;
    // The hidden fields are the host's.
    uint32_t cm = createmode;
    cm = host->hasdelfld ? cm & ~cmode::kNoDelField : cm | cmode::kNoDelField;
    cm = host->hasrowid ? cm & ~cmode::kNoRowid : cm | cmode::kNoRowid;
    cm = host->hasnullfld ? cm & ~cmode::kNoNullField : cm | cmode::kNoNullField;
    t->createmode = cm;
    t->openmode = 3;
    t->hasrecbyt = !(cm & cmode::kNoRecbyt);
    t->hasrowid = !(cm & cmode::kNoRowid);
    if (_zvdbAllocDoda(t, 1)) return ZVDB_NO_MEMORY;
    if (ZVDBRET rc = _zvdbIfilAlloc(t)) return rc;
    const uint32_t reclen = uint32_t(t->ifil->dreclen);
    const bool variable = host->recformat != 0 && host->recformat != 4;
    if (variable ? reclen < host->fixedlen : reclen != host->fixedlen) return ZVDB_RECORD_LENGTH;
    _zvdbFreeVTableDef(t->vtinfo);
    ZVDBVTDEF *def = _zvdbAllocVTableDef(name);
    t->vtinfo = def;
    if (!def || !(def->filter = _zvdb_strdup(filter))) return ZVDB_NO_MEMORY;
    t->vtkind = kZvdbMultiRecordType;
    LastSaved saved;
    if (int rc = read_last(host->datno, &saved.last, &saved.stored)) return rc;
    if (ZVDBRET rc = add_definition(host, t)) return rc;
    const int32_t number = t->vtnumber;
    // The host's files are written out and closed before the dictionary
    // opens the virtual table on them.
    ZVDBRET rc = flush_set(host);
    if (rc == 0) rc = close_clean(host);
    if (rc == 0) rc = _zvdbDictAddVTable(t->database, hostname, name, number, kZvdbMultiRecordType);
    if (rc == 0) return 0;
    // The definition goes again, and the last number is put back as it
    // was (the host opened for it once more when it was closed).
    if (host->active || zvdbOpenTable(host, hostname, 0) == 0) {
        delete_resource(host->datno, kDefType, uint32_t(number), kDefName);
        restore_last(host->datno, saved);
        if (flush_set(host) == 0) close_clean(host);
    }
    return rc;
}

}  // namespace

int resource_data(int datno, uint32_t type, uint32_t number, std::vector<unsigned char> *data) {
    unsigned char *rec = nullptr;
    int32_t length = 0;
    int rc = read_resource(datno, type, number, &rec, &length);
    if (resource_absent(rc)) return 408;
    if (rc) return rc;
    const void *end = length > 8 ? std::memchr(rec + 8, 0, size_t(length - 8)) : nullptr;
    if (!end) {
        _zvdb_free(rec);
        return 407;
    }
    const auto *from = static_cast<const unsigned char *>(end) + 1;
    data->assign(from, static_cast<const unsigned char *>(rec + length));
    _zvdb_free(rec);
    return 0;
}

const char *vtable_name(const tagZVDBTABLE *t) {
    const auto *def = static_cast<const ZVDBVTDEF *>(t->vtinfo);
    return def && def->name ? def->name : t->name;
}

}  // namespace zv

using zv::keep_code;
using zv::table_of;

extern "C" {

ZVDBVTDEF *_zvdbAllocVTableDef(const char *name) {
    auto *def = static_cast<ZVDBVTDEF *>(_zvdb_alloc(1, int32_t(sizeof(ZVDBVTDEF))));
    if (!def) return nullptr;
    def->typeindex = -1;
    def->value = -1;
    if (name && !(def->name = _zvdb_strdup(name))) {
        _zvdb_free(def);
        return nullptr;
    }
    return def;
}

void _zvdbFreeVTableDef(void *p) {
    auto *def = static_cast<ZVDBVTDEF *>(p);
    if (!def) return;
    cndxfree(def->tree);
    for (void *owned : {static_cast<void *>(def->name), static_cast<void *>(def->filter), static_cast<void *>(def->schema),
                        static_cast<void *>(def->names), static_cast<void *>(def->key1), static_cast<void *>(def->key2)}) {
        _zvdb_free(owned);
    }
    _zvdb_free(def);
}

ZVDBRET _zvdbReadVTableSchema(tagZVDBTABLE *t) {
    zv::Bytes data;
    if (int rc = zv::resource_data(t->datno, zv::kDefType, uint32_t(t->vtnumber), &data)) return rc;
    zv::Definition d;
    if (ZVDBRET rc = zv::parse_definition(data, &d)) return rc;
    if (d.version != zv::kDefVersion || d.kind != t->vtkind || !d.block) return ZVDB_BAD_MODE;
    int64_t fixed = 0;
    if (int rc = _zvdbGETFIL(t->datno, 0, &fixed)) return rc;
    DATOBJ *doda = nullptr;
    int32_t size = 0;
    if (ZVDBRET rc = zv::schema_of(d, int32_t(fixed), &doda, &size)) return rc;
    ZVDBVTDEF *def = zv::type_info(t);
    bool nomem = !def;
    unsigned char *desc = zv::copy_bytes(d.block, d.blocksize, &nomem);
    if (nomem) {
        _zvdb_free(doda);
        _zvdb_free(desc);
        return ZVDB_NO_MEMORY;
    }
    _zvdb_free(t->doda);
    t->doda = doda;
    t->dodasize = size;
    t->dodacount = int32_t(d.count);
    _zvdb_free(t->recdesc);
    t->recdesc = desc;
    t->recdescsize = d.blocksize;
    if (d.block[1]) t->alignment = d.block[1];
    // The type information: the schema blocks the filter is parsed against.
    cndxfree(def->tree);
    def->tree = nullptr;
    _zvdb_free(def->schema);
    _zvdb_free(def->names);
    def->schema = zv::copy_bytes(d.block, d.blocksize, &nomem);
    def->schemasize = d.blocksize;
    def->names = zv::copy_bytes(d.names, d.namessize, &nomem);
    def->namessize = d.namessize;
    if (!def->name) def->name = _zvdb_strdup(d.name);
    if (zv::replace_text(&def->filter, *d.filter ? d.filter : nullptr)) nomem = true;
    return nomem || !def->name ? ZVDB_NO_MEMORY : 0;
}

ZVDBRET _zvdbCheckRecordType(tagZVDBRECORD *r) {
    tagZVDBTABLE *t = r->table;
    if (!t || t->vtkind != kZvdbMultiRecordType) return 0;
    auto *def = static_cast<ZVDBVTDEF *>(t->vtinfo);
    if (!def || !def->filter || !*def->filter) return 0;
    if (!def->tree) {
        uerr(0);
        int kind = 0;
        def->tree = cndxparse(def->schema, def->names, def->filter, int32_t(std::strlen(def->filter) + 1), &kind);
        if (!def->tree) {
            const int code = zvGetUserErrorCode();
            return code ? code : ZVDB_EXPR_FAILED + zvGetExprErrorCode();
        }
    }
    const int result = cndxeval(def->tree, r->buffer, def->schema, int32_t(t->fixedlen), r->length);
    if (result > 0) return 0;
    if (result < 0) return zvGetUserErrorCode();
    const int error = zvGetExprErrorCode();
    return error ? ZVDB_EXPR_FAILED + error : zv::kNotOfType;
}

ZVDBRET _zvdbTypeFilter(const tagZVDBTABLE *t, const char **text) {
    *text = nullptr;
    const auto *def = static_cast<const ZVDBVTDEF *>(t->vtinfo);
    if (!def) return ZVDB_BAD_MODE;
    *text = def->filter;
    return 0;
}

ZVDBRET _zvdbTypeIndexDefault(tagZVDBRECORD *r) {
    tagZVDBTABLE *t = r->table;
    const auto *def = t ? static_cast<const ZVDBVTDEF *>(t->vtinfo) : nullptr;
    if (!def) return ZVDB_BAD_MODE;
    const auto *ix = def->typeindex >= 0 && def->typeindex < _zvdbListCount(t->indexes)
                         ? static_cast<const tagZVDBINDEX *>(t->indexes->items[def->typeindex])
                         : nullptr;
    if (!ix || !def->key1 || def->key1len <= 0 || def->key1len > ix->keylen) {
        r->defindex = ZVDB_INDEX_PHYSICAL;
        return 0;
    }
    // The type index, and a key-prefix set on the type's prefix.
    auto *key = static_cast<unsigned char *>(_zvdb_alloc(1, ix->keylen));
    if (!key) return ZVDB_NO_MEMORY;
    std::memcpy(key, def->key1, size_t(def->key1len));
    zvdbRecordSetOff(r);
    r->defindex = def->typeindex;
    r->recsetprefix = key;
    r->recsetlen = int16_t(def->key1len);
    r->recsetsize = int16_t(ix->keylen);
    r->recseton = 1;
    return 0;
}

ZV_API ZVDBRET _zvdbGetLastVTableNbr(ZVHANDLE table, int32_t *number) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    if (!number) return keep_code(table, ZVDB_NULL_ARGUMENT);
    if (!t->active || t->datno < 0) return keep_code(table, ZVDB_NOT_ACTIVE);
    bool stored = false;
    return keep_code(table, zv::read_last(t->datno, number, &stored));
}

ZV_API ZVDBRET _zvdbUpdateLastVTableNbr(ZVHANDLE table, int32_t number) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    if (!t->active || t->datno < 0) return keep_code(table, ZVDB_NOT_ACTIVE);
    return keep_code(table, zv::write_last(t->datno, number));
}

ZV_API ZVDBRET zvdbAddVTableResource(ZVHANDLE host, ZVHANDLE vtable) {
    tagZVDBTABLE *h = table_of(host);
    if (!h) return keep_code(host, ZVDB_NO_TABLE);
    tagZVDBTABLE *v = table_of(vtable);
    if (!v) return keep_code(host, ZVDB_NO_TABLE);
    return keep_code(host, zv::add_definition(h, v));
}

ZV_API ZVDBRET zvdbRemoveVTableResource(ZVHANDLE host, int32_t number) {
    tagZVDBTABLE *h = table_of(host);
    if (!h) return keep_code(host, ZVDB_NO_TABLE);
    return keep_code(host, zv::remove_definition(h, number));
}

ZV_API ZVDBRET zvdbCreateMRTTable(ZVHANDLE table, const char *name, const char *host, uint32_t createmode,
                                  const char *filter) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    if (!t->database) return keep_code(table, ZVDB_DATABASE_UNUSABLE);
    if (!name || !host || !filter) return keep_code(table, ZVDB_NULL_ARGUMENT);
    if (t->active) return keep_code(table, ZVDB_ACTIVE);
    const zv::CallerHandle caller(table);
    t->operation = 1;
    auto *h = static_cast<tagZVDBTABLE *>(zvdbAllocTable(t->database));
    if (!h) {
        t->operation = 0;
        return keep_code(table, ZVDB_NO_MEMORY);
    }
    tagZVDBSESSION *s = t->session;
    const bool own = !s->tranactive && t->temporary == 0;
    if (own) zvdbBegin(t);
    ZVDBRET rc = zv::create_virtual(t, h, name, host, createmode, filter);
    // The handle is left empty, whatever the outcome.
    zv::release_table(t);
    if (own) {
        const ZVDBRET end = rc ? zvdbAbort(s) : zvdbCommit(s);
        if (rc == 0) rc = end;
    }
    zvdbFreeTable(h);
    return caller.keep(rc);
}

ZV_API ZVDBVTINFO *zvdbAllocVTableInfo(ZVHANDLE table, uint16_t capacity) {
    auto *info = static_cast<ZVDBVTINFO *>(_zvdb_alloc(1, int32_t(sizeof(ZVDBVTINFO))));
    if (!info) return keep_code(table, ZVDB_NO_MEMORY), nullptr;
    info->table = table;
    info->capacity = capacity;
    if (capacity) {
        info->items = static_cast<ZVDBVTENTRY *>(_zvdb_alloc(capacity, int32_t(sizeof(ZVDBVTENTRY))));
        for (uint16_t i = 0; info->items && i < capacity; i++) {
            if (!(info->items[i].name = static_cast<char *>(_zvdb_alloc(1, zv::kNameBuffer)))) {
                zvdbFreeVTableInfo(info);
                return keep_code(table, ZVDB_NO_MEMORY), nullptr;
            }
        }
        if (!info->items) {
            zvdbFreeVTableInfo(info);
            return keep_code(table, ZVDB_NO_MEMORY), nullptr;
        }
    }
    return info;
}

ZV_API void zvdbFreeVTableInfo(ZVDBVTINFO *info) {
    if (!info) return;
    for (uint16_t i = 0; info->items && i < info->capacity; i++) _zvdb_free(info->items[i].name);
    _zvdb_free(info->items);
    _zvdb_free(info);
}

ZV_API ZVDBRET zvdbGetVTableInfoFromTable(ZVDBVTINFO *info) {
    if (!info) return ZVDB_NULL_ARGUMENT;
    tagZVDBTABLE *t = table_of(info->table);
    if (!t) return ZVDB_NULL_ARGUMENT;
    if (!t->active || t->datno < 0) return keep_code(t, ZVDB_NOT_ACTIVE);
    info->count = 0;
    zv::Bytes data;
    for (int32_t k = 0; k < zv::kListedNumbers; k++) {
        int rc = zv::resource_data(t->datno, zv::kDefType, uint32_t(k), &data);
        if (rc == 408) continue;
        if (rc) return keep_code(t, rc);
        zv::Definition d;
        if (zv::parse_definition(data, &d) != 0 || d.version != zv::kDefVersion) continue;
        if (info->count < info->capacity) {
            ZVDBVTENTRY &e = info->items[info->count];
            e.number = k;
            e.kind = d.kind;
            const char *name = d.kind == kZvdbMultiRecordType && d.name ? d.name : "";
            std::snprintf(e.name, zv::kNameBuffer, "%s", name);
        }
        info->count++;
    }
    return 0;
}

ZV_API int zvdbIsVTable(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    return t && t->vtkind != 0 ? 1 : 0;
}

ZV_API int32_t zvdbGetVTableNumber(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    return t ? t->vtnumber : 0;
}

ZV_API ZVDBRET zvdbSetMRTTableFilter(ZVHANDLE table, const char *filter) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    auto *def = static_cast<ZVDBVTDEF *>(t->vtinfo);
    if (t->vtkind != kZvdbMultiRecordType || !def) return ZVDB_BAD_ARGUMENT;
    if (!filter) return ZVDB_NULL_ARGUMENT;
    if (zv::replace_text(&def->filter, *filter ? filter : nullptr)) return ZVDB_NO_MEMORY;
    cndxfree(def->tree);
    def->tree = nullptr;
    return 0;
}

ZV_API ZVDBRET zvdbSetMRTTableDefaultIndex(ZVHANDLE table, int32_t index, const void *key1, int32_t len1,
                                           const void *key2, int32_t len2, int32_t value) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    auto *def = static_cast<ZVDBVTDEF *>(t->vtinfo);
    if (t->vtkind != kZvdbMultiRecordType || !def) return ZVDB_BAD_ARGUMENT;
    if (!key1 || len1 <= 0) return ZVDB_NULL_ARGUMENT;
    bool nomem = false;
    unsigned char *k1 = zv::copy_bytes(key1, len1, &nomem);
    unsigned char *k2 = key2 ? zv::copy_bytes(key2, len2, &nomem) : nullptr;
    if (nomem) {
        _zvdb_free(k1);
        _zvdb_free(k2);
        return ZVDB_NO_MEMORY;
    }
    _zvdb_free(def->key1);
    def->key1 = k1;
    if (key2) {
        _zvdb_free(def->key2);
        def->key2 = k2;
    }
    def->key1len = len1;
    def->key2len = len2;
    def->value = value;
    def->typeindex = index;
    return 0;
}

}  // extern "C"

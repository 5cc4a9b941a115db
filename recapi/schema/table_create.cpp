// Table creation: a closed table handle with its field and index handles
// becomes a data file and its index files.
//
// The handles are translated into the engine's record schema (hidden fields
// "$DELFLD$", "$NULFLD$", "$ROWID$" in front of the user fields) and file
// definition (hidden indexes "$RECBYT$" and "$ROWID$" in front of the user
// indexes), the files are made with one engine call, and what the API keeps
// in them (schema, alignment, resources, conditional expressions, transform
// blocks, owner, identity field) is written before they are closed.
//
// Invariants:
//  1. A failed create leaves no file of the table: the engine deletes what
//     its create call made, a later step's failure deletes the set through
//     the definition, and a failed final close (after which the engine has
//     let the files go) deletes them by name. A make under temporary names
//     (tablemake.cpp) holds its files, and a host it made, to its end
//     (t->made): a refused entry takes them back through states a kill
//     leaves, the data file's name (or the host's) first.
//  2. The caller's name text is never written: it is split in a copy.
//  3. Schema and definition are each one block whose pointers point inside
//     it, freed with one _zvdb_free.
//  4. Every create block asks for an extended header: identity fields and
//     distinct-key counts need one.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "recapi/base/making.h"
#include "recapi/base/paths.h"
#include "recapi/base/session.h"
#include "recapi/base/super.h"
#include "recapi/base/utility.h"
#include "recapi/base/wrappers.h"
#include "recapi/catalog/dict_calls.h"
#include "recapi/schema/field.h"
#include "recapi/schema/fieldtype.h"
#include "recapi/schema/index.h"
#include "recapi/schema/segment.h"
#include "recapi/schema/table.h"
#include "recapi/schema/tablefile.h"

namespace zv {

namespace {

constexpr const char *kDelField = "$DELFLD$";
constexpr const char *kNullField = "$NULFLD$";
constexpr const char *kRowid = "$ROWID$";
constexpr const char *kRecbyt = "$RECBYT$";
constexpr uint16_t kRowidType = 231;
constexpr int16_t kNoPosition = -1;  // 65535 as the engine reads it
constexpr int32_t kFixedLimit = 65536;
constexpr int32_t kCidxBuffer = 4096;

// Create-block words.
constexpr uint32_t kXcreExtended = 0x02;
constexpr uint32_t kXcreWide = 64;
// The partitioned-host mark of word 0 that a partitioned table's files take.
constexpr uint32_t kXcrePartHost = 0x400000;
// Partition administration: the rule change.
constexpr int kRuleChange = 8192;

bool deleted(uint32_t status) { return (status & 2) != 0; }

// One schema entry before it is laid into the block.
struct Entry {
    const char *name;
    uint16_t type;
    uint16_t length;
};

// The items of a list of fields, indexes or segments that are not marked
// deleted, in list order: what a new file is made of.
template <typename T>
std::vector<T *> live(const ZVDBLIST *list) {
    std::vector<T *> out;
    for (int32_t i = 0; i < _zvdbListCount(list); i++) {
        auto *item = static_cast<T *>(list->items[i]);
        if (!deleted(item->status)) out.push_back(item);
    }
    return out;
}
std::vector<tagZVDBFIELD *> live_fields(const tagZVDBTABLE *t) { return live<tagZVDBFIELD>(t->fields); }
std::vector<tagZVDBINDEX *> live_indexes(const tagZVDBTABLE *t) { return live<tagZVDBINDEX>(t->indexes); }
std::vector<tagZVDBSEGMENT *> live_segments(const tagZVDBINDEX *ix) { return live<tagZVDBSEGMENT>(ix->segments); }

bool varlen_type(int32_t type) { return field_type_info(type).varlen != 0; }

// Where an entry of the schema lies in the record image: walks the entries
// from the start, each placed by the table's alignment rule, and stops at
// `stop` (its offset), at the first variable-length entry or when the next
// entry would reach 65536 bytes. The offset of `stop` (or of the end of the
// fixed part when stop is -1), or -1 when `stop` lies beyond the fixed part;
// *varpart tells whether the walk ended at a variable-length entry and
// *limit whether it ended at the 65536-byte bound.
int32_t place(const tagZVDBTABLE *t, int32_t stop, bool *varpart = nullptr, bool *limit = nullptr) {
    int32_t off = 0;
    if (varpart) *varpart = false;
    if (limit) *limit = false;
    for (int32_t i = 0; i < t->dodacount; i++) {
        const DATOBJ &e = t->doda[i];
        if (varlen_type(e.ftype)) {
            if (varpart) *varpart = true;
            return stop == -1 || stop == i ? off : -1;
        }
        const int32_t at = off + zvadjadr(int(t->alignment), e.ftype, off);
        if (at + int32_t(e.flen) >= kFixedLimit) {
            if (limit) *limit = true;
            return stop == -1 ? off : -1;
        }
        if (i == stop) return at;
        off = at + e.flen;
    }
    return stop == -1 ? off : -1;
}

// Position of the first schema entry of that name (any case), or -1.
int32_t schema_position(const tagZVDBTABLE *t, const char *name) {
    for (int32_t i = 0; i < t->dodacount; i++) {
        if (same_name(t->doda[i].fsymb, name)) return i;
    }
    return -1;
}

// The data file name of the definition: "host!member" for a member of a
// superfile host, else path/physname, followed by "|" and the mirror's
// path/name when the table has a mirror. Empty on no memory.
std::string ifil_name(const tagZVDBTABLE *t) {
    if (t->superfile) return std::string(_zvdbSuperGetName(t->superfile)) + "!" + t->physname;
    std::string name = file_path(t, t->path, t->physname);
    if (t->mirrorname) name += "|" + file_path(t, t->mirrorpath, t->mirrorname);
    return name;
}

// Bytes of a string copied into a definition block.
size_t text_bytes(const char *text) { return text ? std::strlen(text) + 1 : 0; }

// Copies a text to the block's string area.
const char *put_text(char **area, const char *text) {
    if (!text) return nullptr;
    const size_t n = std::strlen(text) + 1;
    std::memcpy(*area, text, n);
    const char *at = *area;
    *area += n;
    return at;
}

// The create blocks of the table's files: one for the data file and one
// per index, all asking for an extended header. 0 or 4004.
//
// Create bit 0x8000 would mark the data file alone as partitioned, with no
// partition index (word 9 -1). The engine sends each record to its member
// by the key of the partition index and refuses a partitioned set without
// one (731), and nothing else gives such a file a meaning: the bit is
// refused as a bad partition setting, before any file is made.
ZVDBRET fill_create_blocks(const tagZVDBTABLE *t, XCREblk *x, int32_t n) {
    const uint32_t cm = t->createmode;
    if (cm & cmode::kUnkeyedPartition) return ZVDB_BAD_ARGUMENT;
    for (int32_t i = 0; i < n; i++) {
        XCREblk &b = x[i];
        const bool data = i == 0;
        b.mode = kXcreExtended;
        if (t->temporary == 1 && (t->tempxmode == 512 || t->tempxmode == 1024)) b.mode |= t->tempxmode;
        if (cm & cmode::kHuge) b.mode |= kXcreWide;
        if (cm & cmode::kPartitioned) {
            // The partition index is one of the caller's indexes.
            if (t->partindex < hidden_indexes(t) || t->partindex >= n - 1 || t->partbits < 0) {
                return ZVDB_BAD_ARGUMENT;
            }
            b.mode |= kXcrePartHost;
            b.option9 = uint32_t(t->partindex);
            b.width15 = uint32_t(t->partbits);
        }
        if (data && (cm & 0x10000)) b.flags |= 0x8000;
        // Fixed fields kept in a variable-length file take the engine's
        // converted form alone (0x400): the engine refuses it beside 0x200.
        if (data && (cm & cmode::kExtVariable)) b.flags |= t->recformat == 4 ? 0x400 : 0x200;
        if (data && (cm & 0x20000)) b.flags |= 0x20000;
        if (!data && (cm & 0x40000)) b.flags |= 0x20000;
        if ((cm & 0x4000) && !(cm & 2)) b.flags |= 0x2000;
        if (cm & 0x80000) b.flags |= 0x1000;
    }
    return 0;
}


}  // namespace

int write_set(tagZVDBTABLE *t, const IFIL *ifil, int datno) {
    if (int rc = PUTDODA(datno, t->doda, t->dodacount)) return rc;
    if (t->alignment != 8) {
        if (int rc = PUTHDR(datno, int32_t(t->alignment), 17)) return rc;
    }
    t->datno = int16_t(datno);
    if (int rc = _zvdbPutFldx(t)) return rc;
    if (int rc = zvdbUpdatePadChar(t, t->padbyte, t->delimbyte)) return rc;
    for (tagZVDBINDEX *ix : live_indexes(t)) {
        const char *text = _zvdbGetIdxcndxExpr(ix);
        if (!text || !*text) continue;
        int pos = 0;
        while (pos < ifil->dnumidx && !same_name(ifil->iidxarr[pos].ridxnam, ix->name)) pos++;
        if (pos == ifil->dnumidx) return ZVDB_BAD_MODE;
        if (int rc = UPDCIDX(datno + 1 + pos, text)) return rc;
    }
    for (int pos = 0; pos < ifil->dnumidx; pos++) {
        tagZVDBINDEX *ix = nullptr;
        for (tagZVDBINDEX *cand : live_indexes(t)) {
            if (!ix && same_name(cand->name, ifil->iidxarr[pos].ridxnam)) ix = cand;
        }
        if (!ix) continue;
        const std::vector<tagZVDBSEGMENT *> segs = live_segments(ix);
        for (size_t k = 0; k < segs.size(); k++) {
            if (!_zvdbIsSegKsegUsed(segs[k])) continue;
            void *block = _zvdbBuildKSEG(segs[k]);
            if (!block) return ZVDB_NO_MEMORY;
            int rc = _zvdbPUTKSEGDEF(datno + 1 + pos, int(k), block);
            _zvdb_free(block);
            if (rc) return rc;
        }
    }
    if (t->owner) {
        // A zero byte, the owner in upper case and its terminator.
        std::string buf(1, '\0');
        for (const char *p = t->owner; *p; p++) buf += char(upper_ascii(static_cast<unsigned char>(*p)));
        buf += '\0';
        const int32_t len = int32_t(std::strlen(t->owner) + 2);
        for (int k = -1; k < ifil->dnumidx; k++) {
            if (k > 0 && !ifil->iidxarr[k].aidxnam) continue;
            if (int rc = SECURITY(datno + 1 + k, buf.data(), len, 4)) return rc;
        }
    }
    if (t->identityname) {
        if (int rc = _zvdb_AddIDField(t)) return rc;
    }
    // A partitioned file gets the table's rule; without a rule text, the
    // date rule.
    if (t->createmode & cmode::kPartitioned) {
        const char *rule = reinterpret_cast<uintptr_t>(t->partrule) > 1 ? t->partrule : nullptr;
        return _zvdbPTADMIN(datno, rule, 0, kRuleChange);
    }
    return 0;
}

std::vector<std::string> set_file_names(int datno, int16_t nidx) {
    std::vector<std::string> names;
    char buf[256];
    for (int k = -1; k < nidx; k++) {
        if (_zvdbGETNAM(datno + 1 + k, buf, int32_t(sizeof buf), 0) != 0) continue;
        bool seen = false;
        for (const std::string &n : names) seen = seen || n == buf;
        if (!seen) names.emplace_back(buf);
    }
    return names;
}

std::vector<std::pair<int, std::string>> set_files(int datno, const IFIL *ifil) {
    std::vector<std::pair<int, std::string>> files;
    char buf[256];
    const int nidx = ifil ? ifil->dnumidx : 0;
    for (int k = -1; k < nidx; k++) {
        if (k > 0 && !ifil->iidxarr[k].aidxnam) continue;
        if (_zvdbGETNAM(datno + 1 + k, buf, int32_t(sizeof buf), 0) != 0) continue;
        bool seen = false;
        for (const auto &f : files) seen = seen || f.second == buf;
        if (!seen) files.emplace_back(datno + 1 + k, buf);
    }
    return files;
}

int delete_closed_files(const std::vector<std::string> &names, int room) {
    int first = 0;
    for (const std::string &name : names) {
        int rc = 0;
        if (name.find('!') == std::string::npos) {
            rc = dltfil(name.c_str());
        } else {
            int f = -1;
            rc = _zvdbAVLFILNBR(room, &f);
            // A member whose close failed keeps its "not closed cleanly"
            // mark: it is opened all the same, to be deleted.
            if (rc == 0) rc = OPNFIL(f, name.c_str(), 0x4000);
            if (rc == 0 && (rc = _zvdbDELFIL(f)) != 0) _zvdbCLSFIL(f);
        }
        if (rc && !first) first = rc;
    }
    return first;
}

int delete_set_files(int datno, const IFIL *ifil) {
    const auto files = set_files(datno, ifil);
    if (files.empty() || files[0].second.find('!') == std::string::npos) return _zvdbDELRFIL(datno);
    std::vector<std::string> names;
    for (const auto &file : files) names.push_back(file.second);
    const int first = _zvdbCLRFIL(datno);
    const int rc = delete_closed_files(names, (ifil ? ifil->dnumidx : 0) + 1);
    return first ? first : rc;
}

std::string file_path(const tagZVDBTABLE *t, const char *dir, const char *name) {
    char *p = _zvdb_MakeFilePath(dir ? dir : "", name, _zvdbGetPathSeparator(const_cast<tagZVDBTABLE *>(t)));
    std::string s = p ? p : "";
    _zvdb_free(p);
    return s;
}

namespace {

// The files of the table's built definition made (_zvdbCREIFILX); with
// own_host, in a superfile host the make made under its temporary name,
// where the set goes in under its own member names.
int create_set(tagZVDBTABLE *t, bool own_host) {
    IFIL *ifil = t->ifil;
    if (!ifil || ifil->dnumidx < 0) return 83;
    const int32_t nblocks = ifil->dnumidx + 1;
    auto *xcre = static_cast<XCREblk *>(_zvdb_alloc(nblocks, int32_t(sizeof(XCREblk))));
    if (!xcre) return 83;
    int rc = fill_create_blocks(t, xcre, nblocks);
    IFIL *copy = nullptr;
    if (rc == 0) rc = _zvdbFixIfilPath(t, ifil, &copy);
    if (rc == 0 && (makes_in_place(t, copy) || (!own_host && makes_in_host(t, copy)))) {
        rc = makes_in_place(t, copy) ? make_in_place(t, copy, xcre) : make_in_host(t, copy, xcre);
        _zvdb_free(xcre);
        _zvdbFixIfilFree(copy);
        return rc;
    }
    if (rc == 0) rc = CREIFILX8(copy, t->dataext, t->indexext, int32_t(t->permission), t->groupid, t->password, xcre);
    _zvdb_free(xcre);
    if (rc) {
        _zvdbFixIfilFree(copy);
        return rc == ZVDB_NO_MEMORY ? 83 : rc;
    }
    const int datno = copy->tfilno;
    rc = write_set(t, ifil, datno);
    if (rc == 0 && t->temporary) {
        _zvdbFixIfilFree(copy);
        return 0;
    }
    if (rc) {
        // Members of a superfile host go one by one: the engine deletes
        // only a set of plain files whole.
        delete_set_files(datno, ifil);
    } else {
        const std::vector<std::string> names = set_file_names(datno, ifil->dnumidx);
        rc = CLIFIL(copy);
        // The engine lets the files go even when their close fails: they
        // are deleted by name, members of a superfile host inside it.
        if (rc) delete_closed_files(names, ifil->dnumidx + 1);
    }
    t->datno = -1;
    _zvdbFixIfilFree(copy);
    return rc;
}

}  // namespace

}  // namespace zv

using zv::keep_code;
using zv::table_of;

extern "C" {

int _zvdbIsVarlenField(const tagZVDBFIELD *f) { return f ? zv::field_type_info(f->type).varlen : 0; }

int32_t _zvdbCalculateSegmentLength(const tagZVDBFIELD *f) {
    if (!f || f->type == ZV_JSON) return 0;
    int32_t prefix = 0;
    switch (f->type) {
        case ZV_FPSTRING: case ZV_PSTRING: prefix = 1; break;
        case ZV_F2STRING: case ZV_2STRING: prefix = 2; break;
        case ZV_F4STRING: case ZV_4STRING: prefix = 4; break;
        default: break;
    }
    return f->length > prefix ? f->length - prefix : 0;
}

ZVDBRET _zvdbAllocDoda(ZVHANDLE table, int forcreate) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    const bool ftis = _zvdbListCount(t->ftis) > 0;
    if (forcreate && ftis) t->createmode &= ~zv::cmode::kNoRowid;
    const uint32_t cm = t->createmode;
    const std::vector<tagZVDBFIELD *> fields = zv::live_fields(t);
    bool varlen = false;
    for (tagZVDBFIELD *f : fields) varlen = varlen || _zvdbIsVarlenField(f) != 0;
    std::vector<zv::Entry> entries;
    const bool delfld = !(cm & (zv::cmode::kNoDelField | zv::cmode::kExtVariable)) && !varlen;
    if (delfld) {
        const uint16_t len = (cm & zv::cmode::kShortDelField) ? 4 : (cm & zv::cmode::kHuge) ? 9 : 5;
        entries.push_back({zv::kDelField, ZV_ARRAY, len});
    }
    const bool nulfld = !(cm & zv::cmode::kNoNullField);
    if (nulfld) {
        const size_t bytes = (fields.size() + 7) / 8;
        entries.push_back({zv::kNullField, ZV_ARRAY, uint16_t(bytes ? bytes : 1)});
    }
    const bool rowid = !(cm & zv::cmode::kNoRowid) || ftis;
    if (rowid) entries.push_back({zv::kRowid, zv::kRowidType, 8});
    const int32_t hidden = int32_t(entries.size());
    for (tagZVDBFIELD *f : fields) entries.push_back({f->name, uint16_t(f->type), uint16_t(f->length)});
    // One block: the entries, an end entry, then the names.
    const size_t count = entries.size();
    size_t bytes = (count + 1) * sizeof(DATOBJ);
    for (const zv::Entry &e : entries) bytes += std::strlen(e.name) + 1;
    auto *doda = static_cast<DATOBJ *>(_zvdb_alloc(1, int32_t(bytes)));
    if (!doda) return keep_code(table, ZVDB_NO_MEMORY);
    char *names = reinterpret_cast<char *>(doda + count + 1);
    for (size_t i = 0; i < count; i++) {
        doda[i].fsymb = zv::put_text(&names, entries[i].name);
        doda[i].ftype = entries[i].type;
        doda[i].flen = entries[i].length;
    }
    doda[count].fend = 0xFFFF;
    _zvdb_free(t->doda);
    t->doda = doda;
    t->dodacount = int32_t(count);
    t->dodasize = int32_t(bytes);
    t->hiddenfields = hidden;
    t->hasdelfld = delfld;
    t->hasnullfld = nulfld;
    t->rowidpos = rowid ? hidden - 1 : 0;
    return 0;
}

ZVDBRET _zvdbFillIseg(tagZVDBTABLE *t, tagZVDBSEGMENT *s, ISEG *out) {
    tagZVDBFIELD *f = s->field;
    if (!f) {
        *out = ISEG{int16_t(s->offset), int16_t(s->length), int16_t(s->mode)};
        return 0;
    }
    if (f == zv::rowid_field()) {
        const int32_t pos = t->doda ? zv::schema_position(t, zv::kRowid) : -1;
        if (pos < 0) return ZVDB_NO_ROWID_SEGMENT;
        *out = ISEG{int16_t(zv::place(t, pos)), 8, 3};
        return 0;
    }
    const int32_t pos = t->doda ? zv::schema_position(t, f->name) : -1;
    const int16_t keylen = int16_t(_zvdbCalculateSegmentLength(f));
    if (_zvdbIsSCHSEG(s->mode)) {
        *out = ISEG{pos < 0 ? zv::kNoPosition : int16_t(pos), keylen, int16_t(s->mode)};
        return 0;
    }
    if ((s->mode & 0x10E) == 4) {
        int32_t first = 0;
        while (first < t->dodacount && !zv::varlen_type(t->doda[first].ftype)) first++;
        const bool inpart = pos >= 0 && first < t->dodacount && pos >= first;
        *out = ISEG{inpart ? int16_t(pos - first) : zv::kNoPosition, keylen, int16_t(s->mode)};
        return 0;
    }
    if (!t->doda) return ZVDB_SEGMENT_OFFSET;
    if (pos < 0) {
        *out = ISEG{zv::kNoPosition, int16_t(f->length), int16_t(s->mode)};
        return 0;
    }
    const int32_t off = zv::place(t, pos);
    if (off < 0 || off > INT16_MAX) return ZVDB_SEGMENT_OFFSET;
    *out = ISEG{int16_t(off), int16_t(f->length), int16_t(s->mode)};
    return 0;
}

ZVDBRET _zvdbIfilAlloc(ZVHANDLE table) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    if (!t->doda) {
        if (ZVDBRET rc = _zvdbAllocDoda(t, 0)) return rc;
    }
    const uint32_t cm = t->createmode;
    const std::vector<tagZVDBINDEX *> indexes = zv::live_indexes(t);
    const bool recbyt = !(cm & zv::cmode::kNoRecbyt);
    const int32_t rowidpos = zv::schema_position(t, zv::kRowid);
    const int32_t nidx = int32_t(indexes.size()) + (recbyt ? 1 : 0) + (rowidpos >= 0 ? 1 : 0);

    // The segments first: their failures need nothing freed.
    std::vector<std::vector<ISEG>> segs;
    std::vector<const char *> names, files;
    if (recbyt) {
        segs.push_back({ISEG{0, 1, 256}});
        names.push_back(zv::kRecbyt);
        files.push_back(nullptr);
    }
    if (rowidpos >= 0) {
        segs.push_back({ISEG{int16_t(zv::place(t, rowidpos)), 8, 3}});
        names.push_back(zv::kRowid);
        files.push_back(nullptr);
    }
    for (tagZVDBINDEX *ix : indexes) {
        std::vector<ISEG> list;
        for (tagZVDBSEGMENT *s : zv::live_segments(ix)) {
            ISEG g{};
            if (ZVDBRET rc = _zvdbFillIseg(t, s, &g)) return keep_code(table, rc);
            if (g.soffset < 0) return keep_code(table, ZVDB_NO_FIELD_NAME);
            list.push_back(g);
        }
        segs.push_back(list);
        names.push_back(ix->name);
        files.push_back(ix->filename);
    }

    // Fixed part, record format and file modes.
    bool varpart = false, limit = false;
    const int32_t reclen = zv::place(t, -1, &varpart, &limit);
    t->recformat = limit ? 3 : varpart ? 1 : 0;
    int16_t dmode = (varpart || limit) ? 4 : 0;
    int16_t imode = 0;
    if (!(t->openmode & 1)) dmode |= 1, imode |= 1;
    if (t->openmode & 2) dmode |= 2, imode |= 2;
    if (t->openmode & 32) imode |= 8;
    if (cm & 4) dmode |= 64, imode |= 64;
    if (cm & 8) dmode |= 128;
    if (cm & 128) dmode |= 0x400;
    if (cm & zv::cmode::kExtVariable) {
        if (!(dmode & 4)) t->recformat = 4;
        dmode |= 4;
    }

    const std::string pfilnam = zv::ifil_name(t);
    size_t bytes = sizeof(IFIL) + size_t(nidx) * sizeof(IIDX) + pfilnam.size() + 1;
    for (size_t k = 0; k < segs.size(); k++) {
        bytes += segs[k].size() * sizeof(ISEG) + zv::text_bytes(names[k]) + zv::text_bytes(files[k]);
    }
    auto *ifil = static_cast<IFIL *>(_zvdb_alloc(1, int32_t(bytes)));
    if (!ifil) return keep_code(table, ZVDB_NO_MEMORY);
    auto *iidx = reinterpret_cast<IIDX *>(ifil + 1);
    auto *iseg = reinterpret_cast<ISEG *>(iidx + nidx);
    size_t nseg = 0;
    for (const auto &list : segs) nseg += list.size();
    char *area = reinterpret_cast<char *>(iseg + nseg);
    ifil->pfilnam = zv::put_text(&area, pfilnam.c_str());
    ifil->dfilno = -1;
    ifil->dreclen = uint16_t(reclen);
    ifil->dxtdsiz = uint16_t(t->dataextent);
    ifil->ixtdsiz = uint16_t(t->indexextent);
    ifil->dfilmod = dmode;
    ifil->ifilmod = imode;
    ifil->dnumidx = int16_t(nidx);
    ifil->iidxarr = nidx ? iidx : nullptr;
    const int16_t suffix = (cm & zv::cmode::kHuge) ? 8 : 4;
    const size_t users = indexes.size();
    for (int32_t k = 0; k < nidx; k++) {
        IIDX &x = iidx[k];
        const std::vector<ISEG> &list = segs[size_t(k)];
        int32_t keylen = 0;
        for (const ISEG &g : list) keylen += g.slength;
        std::memcpy(iseg, list.data(), list.size() * sizeof(ISEG));
        x.isegarr = iseg;
        x.inumseg = int16_t(list.size());
        iseg += list.size();
        x.ridxnam = zv::put_text(&area, names[size_t(k)]);
        x.aidxnam = zv::put_text(&area, files[size_t(k)]);
        const size_t user = size_t(k) - (size_t(nidx) - users);
        if (size_t(k) < size_t(nidx) - users) {
            const bool isrecbyt = recbyt && k == 0;
            x.ikeydup = isrecbyt ? 1 : 0;
            x.ikeylen = int16_t(keylen + (isrecbyt ? suffix : 0));
            continue;
        }
        const tagZVDBINDEX *ix = indexes[user];
        x.ikeytyp = int16_t(ix->keytype);
        x.iempchr = int16_t(ix->emptychar);
        x.inulkey = int16_t(ix->nullflag);
        x.ikeydup = int16_t(ix->dupflag ? (ix->distinctflag ? 3 : 1) : (ix->distinctflag ? 4 : 0));
        x.ikeylen = int16_t(keylen + (ix->dupflag ? suffix : 0));
    }
    _zvdb_free(t->ifil);
    t->ifil = ifil;
    return 0;
}

int _zvdbCREIFILX(tagZVDBTABLE *t) { return zv::create_set(t, false); }

int _zvdbUnlinkTable(ZVHANDLE table, const char *physname, const char *path, const char *dataext,
                     const char *password) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return ZVDB_NO_TABLE;
    if (!dataext) return ZVDB_BAD_ARGUMENT;
    char *name = _zvdb_MakeFilePath(path ? path : "", physname, _zvdbGetPathSeparator(t));
    if (!name) return ZVDB_NO_MEMORY;
    int datno = -1;
    const int mode = (t->openmode & 4) ? 0x4002 : 2;
    int rc = _zvdbOPNRFILX(t, name, mode, password, dataext, &datno, 0);
    _zvdb_free(name);
    if (rc) return rc;
    IFIL *ifil = nullptr;
    int32_t length = 0;
    if ((rc = _zvdbGETIFIL(datno, &ifil, &length)) != 0) {
        _zvdbCLRFIL(datno);
        return rc;
    }
    rc = zv::delete_set_files(datno, ifil);
    _zvdb_free(ifil);
    return rc;
}

const char *_zvdbGetIdxcndxExpr(tagZVDBINDEX *ix) {
    if (!ix) return nullptr;
    if (ix->cndxstate != -1) return ix->cndxexpr;
    const tagZVDBTABLE *t = ix->table;
    if ((ix->status & 1) || !t || !t->active || (t->openmode & 64)) return nullptr;
    char local[zv::kCidxBuffer];
    int32_t n = GETCIDX(ix->idxno, int32_t(sizeof local), local);
    if (n <= 0) {
        if (zv::instance_uerr() != 0) return nullptr;
        ix->cndxstate = 0;
        return nullptr;
    }
    char *text = _zvdb_stralloc(n);
    if (!text) return nullptr;
    if (n <= int32_t(sizeof local)) {
        std::memcpy(text, local, size_t(n));
    } else if (GETCIDX(ix->idxno, n, text) != n) {
        _zvdb_free(text);
        return nullptr;
    }
    _zvdb_free(ix->cndxexpr);
    ix->cndxexpr = text;
    ix->cndxstate = 0;
    return text;
}

int _zvdbGetIdxTempFlag(tagZVDBINDEX *ix) { return ix ? zvdbGetIndexTemporaryFlag(ix) : 0; }

int _zvdbIsSegKsegUsed(tagZVDBSEGMENT *s) { return s && zv::kseg_state(s) == 1 ? 1 : 0; }

}  // extern "C"

namespace zv {

namespace {

constexpr int kHostHeld = 12;
constexpr int kHostExists = 19;

bool ends_with_bang(const char *path) {
    const size_t n = path ? std::strlen(path) : 0;
    return n > 0 && path[n - 1] == '!';
}

// Whether an index of the table has a file of its own: a member of the
// host whose name the set's stored definition keeps as given.
bool own_index_files(const tagZVDBTABLE *t) {
    for (tagZVDBINDEX *ix : live_indexes(t))
        if (ix->filename) return true;
    return false;
}

// The engine names of a host and of its temporary name (the session's
// prefix applied): 0 or the code.
int host_names(tagZVDBTABLE *t, const std::string &host, std::string *hostfile, std::string *tempfile) {
    char *full = nullptr;
    int rc = prefixed_name(t, host.c_str(), &full);
    if (rc == 0) *hostfile = full;
    _zvdb_free(full);
    full = nullptr;
    if (rc == 0 && (rc = prefixed_name(t, making::temp_name(host).c_str(), &full)) == 0) *tempfile = full;
    _zvdb_free(full);
    return rc;
}

// Whether another make of the host is at work: it holds the host, and
// keeps its temporary name beside the final one, until its end.
bool host_make_at_work(const std::string &hostfile, const std::string &tempfile) {
    return making::same_file(hostfile, tempfile) && making::held(tempfile);
}

// A new host made under the host's temporary name (zv::making) and put in
// place when whole: with the set in it under its own member names, or
// empty when the set has an index file of its own (whose name, stored in
// the set, names the host's own name: the set then goes into the host
// under its name as into any existing one). The host is held from its
// creation to the end of the table's make (t->made), its temporary name
// kept beside its name meanwhile; a failure takes it back. A kill leaves
// no host under the name, or the host whole. 0 (*withset tells which), 19
// when another process made a host of that name meanwhile (nothing left of
// this one; a make of it at work is waited for), 12 when such a make is
// still at work past the wait, or the code.
int create_host_in_place(tagZVDBTABLE *t, ZVDBSUPER *d, const std::string &host, bool *withset) {
    making::Made &made = *t->made;
    const size_t from = made.size();
    const std::string temp = making::temp_name(host);
    std::string hostfile, tempfile;
    int rc = host_names(t, host, &hostfile, &tempfile);
    const making::Deadline until = making::deadline();
    while (rc == 0) {
        if (making::exists(hostfile)) {
            if (!host_make_at_work(hostfile, tempfile)) return kHostExists;
        } else if ((rc = making::drop_leftover(tempfile)) != kHostHeld) {
            if (rc == 0) rc = _zvdbSuperSetPath(d, temp.c_str());
            if (rc == 0) rc = _zvdbSuperCreate(d);
            if (rc == kHostExists && std::chrono::steady_clock::now() < until) {
                // Another make of the host began since the look.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            if (rc) return rc;
            // Held from its creation, so that no other make takes it for a
            // kill's leftover.
            if ((rc = made.hold(d->filno, tempfile, hostfile)) != 0) {
                _zvdbSuperDrop(d);
                return rc;
            }
            if (made.own(from)) break;
            // Taken for a leftover between its create and its lock by
            // another make, which is waited for.
            _zvdbSuperClose(d);
            made.take_back(from);
            continue;
        }
        rc = making::wait_while_held(tempfile, until);
    }
    if (rc) return rc;
    *withset = !own_index_files(t);
    if (*withset) {
        // The members are made in the host under its temporary name, the
        // table's path (and the definition built from it) naming it
        // meanwhile.
        const std::string path = t->path;
        if (replace_text(&t->path, (temp + "!").c_str())) rc = ZVDB_NO_MEMORY;
        if (rc == 0) rc = _zvdbIfilAlloc(t);
        if (rc == 0) rc = create_set(t, true);
        if (replace_text(&t->path, path.c_str()) && rc == 0) rc = ZVDB_NO_MEMORY;
        if (ZVDBRET again = _zvdbIfilAlloc(t); rc == 0) rc = again;
        if (rc) {
            const int sys = zvGetSystemErrorCode();
            _zvdbSuperDrop(d);
            made.take_back(from);
            usys(sys);
            return rc;
        }
    }
    if ((rc = _zvdbSuperClose(d)) == 0) rc = making::link_in(tempfile, hostfile);
    if (rc) {
        const int sys = zvGetSystemErrorCode();
        made.take_back(from);
        usys(sys);
    }
    return rc;
}

// The host of the table's path opened exclusively by d (named `name`), as
// its make needs it: a host that a kill left not closed cleanly (14) has
// its superfile rebuild first, which leaves the index members of its sets
// empty and marked (each of its other tables then answers 14 until its
// rebuild, as after the rebuild that an open with bit 4 runs). A second
// link that a host make cut short left of the host under its temporary
// name goes (the open holds the host alone: no other make is at work; this
// make's own stays to its end). 0, or the code of the open or of the
// rebuild.
int open_host_for_make(tagZVDBTABLE *t, ZVDBSUPER *d, const std::string &name) {
    int rc = _zvdbSuperOpen(d, 1);
    if (rc == 14) {
        if ((rc = _zvdbZVSBLDX(t, name.c_str(), t->password)) != 0) return rc;
        rc = _zvdbSuperOpen(d, 1);
    }
    if (rc) return rc;
    std::string full, temp;
    if (host_names(t, name, &full, &temp) == 0 && making::same_file(full, temp) && !(t->made && t->made->has(temp))) {
        dltfil(temp.c_str());
    }
    return 0;
}

// The set in the superfile host named by the table's path without its '!':
// the host is opened exclusively for the make (and repaired when a kill
// left it not closed cleanly), or, when it is not found, made
// (create_host_in_place); the set is made in it unless it was made with the
// host, and the host closed again. A host that another process's make of
// it holds is waited for. A host that another open holds (this process's:
// the database dictionary's host, or one another table of it reached; or
// another process's) takes the set through that open: its swap into place
// refuses, 12, a host that another process has open (the refused lock's
// system error kept).
int create_in_host(tagZVDBTABLE *t) {
    const std::string host(t->path, std::strlen(t->path) - 1);
    const size_t slash = host.rfind(char(_zvdbGetPathSeparator(t)));
    const std::string dir = slash == std::string::npos ? "" : host.substr(0, slash);
    const std::string file = slash == std::string::npos ? host : host.substr(slash + 1);
    const size_t dot = file.rfind('.');
    ZVDBSUPER *d = _zvdbSuperAlloc(t);
    if (!d) return ZVDB_NO_MEMORY;
    d->createflags = int32_t(t->createmode);
    int rc = _zvdbSuperSetName(d, dir.c_str(), file.substr(0, dot).c_str(),
                               dot == std::string::npos ? "" : file.substr(dot).c_str());
    const std::string name = rc == 0 ? _zvdbSuperGetName(d) : "";
    std::string hostfile, tempfile;
    if (rc == 0) rc = host_names(t, name, &hostfile, &tempfile);
    const making::Deadline until = making::deadline();
    bool made = false;
    while (rc == 0) {
        rc = open_host_for_make(t, d, name);
        const int sys = zvGetSystemErrorCode();
        if (rc == kHostHeld && sys != ENOENT) {
            if (host_make_at_work(hostfile, tempfile)) {
                if ((rc = making::wait_while_held(tempfile, until)) == 0) continue;
                break;
            }
            _zvdbSuperFree(d);
            rc = create_set(t, false);
            // Not open here, the host answered the make's open as another
            // process holds it: its lock's system error stays.
            if (rc != 413) return rc;
            usys(sys);
            return kHostHeld;
        }
        if (rc == kHostHeld) {
            bool withset = false;
            rc = create_host_in_place(t, d, name, &withset);
            made = rc == 0 && withset;
            // A host made empty, or by another process meanwhile, takes
            // the set.
            if ((rc == 0 && !withset) || rc == kHostExists) {
                if ((rc = _zvdbSuperSetPath(d, name.c_str())) == 0) continue;
            }
        } else if (rc == 413) {
            rc = 414;
        }
        break;
    }
    if (rc == 0 && !made) rc = create_set(t, false);
    _zvdbSuperFree(d);
    return rc;
}

// Enters the new table in its database's dictionary. A refusal takes the
// new files back: the make's own (made: it holds them, create_table takes
// them back), or else by the table's names; the refusal's system error
// stays with its code. 0 or the code.
int register_table(tagZVDBTABLE *t, bool made) {
    std::string file = std::string(t->physname) + t->dataext;
    if (t->mirrorname) file += std::string("|") + t->mirrorname + t->dataext;
    std::string path = t->superfile ? std::string(_zvdbSuperGetName(t->superfile)) + "!"
                       : t->mirrorpath ? std::string(t->path) + "|" + t->mirrorpath
                                       : std::string(t->path);
    int rc = zvdbAddTableXtd(t->database, t->name, file.c_str(), path.c_str());
    if (rc == 0 || made) return rc;
    const int sys = zvGetSystemErrorCode();
    int gone = _zvdbUnlinkTable(t, t->physname, t->path, t->dataext, t->password);
    if (gone != 0 && gone != 12) return gone;
    usys(sys);
    return rc;
}

ZVDBRET create_table(tagZVDBTABLE *t, const char *name, uint32_t createmode) {
    if (!name) return ZVDB_NULL_ARGUMENT;
    if (t->active) return ZVDB_ACTIVE;
    for (tagZVDBINDEX *ix : live_indexes(t)) {
        if (live_segments(ix).empty()) return ZVDB_INDEX_NO_SEGMENTS;
    }
    // A session logged off (a failed logon leaves it so, its engine
    // stopped) or a database not connected: 4012, as the session's and the
    // database's other calls answer, before any file is made.
    if (!t->session->loggedon || (t->database && !t->database->connected)) return ZVDB_NOT_ACTIVE;
    // The caller's text stays as it is: the split is made in a copy.
    const char *bar = std::strchr(name, '|');
    const std::string primary = bar ? std::string(name, size_t(bar - name)) : std::string(name);
    if (t->database) {
        char found[256];
        if (zvdbFindTable(t->database, primary.c_str(), found, int32_t(sizeof found)) == 0) {
            return ZVDB_TABLE_EXISTS;
        }
    }
    const char *mirror = bar ? bar + 1 : t->mirrorpath ? primary.c_str() : nullptr;
    if (replace_text(&t->name, primary.c_str()) || replace_text(&t->physname, primary.c_str()) ||
        replace_text(&t->mirrorname, mirror)) {
        return ZVDB_NO_MEMORY;
    }
    // The partition index is kept counted with the hidden indexes of the
    // create mode it was set under; the files get those of this one.
    const int32_t userpart = t->partindex >= 0 ? t->partindex - hidden_indexes(t) : -1;
    t->createmode = createmode;
    t->openmode = 3;
    t->hasrecbyt = !(createmode & cmode::kNoRecbyt);
    t->hasrowid = !(createmode & cmode::kNoRowid) || _zvdbListCount(t->ftis) > 0;
    if (_zvdbAllocDoda(t, 1)) return ZVDB_NO_MEMORY;
    // A number that does not fit once counted with the hidden indexes lies
    // past the caller's indexes: it is refused below like one that does.
    if (t->partindex >= 0) {
        const int32_t hidden = hidden_indexes(t);
        t->partindex = userpart >= 0 && userpart <= INT32_MAX - hidden ? userpart + hidden : -1;
    }
    if (ZVDBRET rc = _zvdbIfilAlloc(t)) return rc;

    tagZVDBSESSION *s = t->session;
    const bool own = !s->tranactive && t->temporary != 1;
    if (own) zvdbBegin(t);
    const bool savepoint = ends_with_bang(t->path);
    if (savepoint) zvdbSetSavePoint(t);
    // The files the make makes are held to its end, its entry written: its
    // caller's (a dictionary's make, which moves them further), or its own.
    making::Made mine;
    making::Made *const caller = t->made;
    making::Made &made = caller ? *caller : mine;
    const size_t from = made.size();
    t->made = &made;
    // A table whose path names a superfile host is made through the host's
    // open for the make.
    const bool inhost = savepoint && !t->superfile && !t->temporary;
    int rc = inhost ? create_in_host(t) : _zvdbCREIFILX(t);
    if (rc == 413 && savepoint && !inhost) {
        zvdbRestoreSavePoint(t, 0);
        rc = create_in_host(t);
    }
    if (rc == 0 && t->temporary) {
        rc = _zvdbReloadTable(t);
    } else {
        if (rc == 0 && t->database) rc = register_table(t, made.size() > from);
        if (rc == 0) release_table(t);
    }
    // The make's end: its files given back with their temporary names
    // dropped, or (the entry refused) taken back. The failure's system
    // error stays with its code.
    const int sys = zvGetSystemErrorCode();
    if (rc) {
        made.take_back(from);
    } else {
        made.finish(from, !caller);
    }
    t->made = caller;
    const bool failed = rc != 0;
    if (own) {
        ZVDBRET end = rc ? zvdbAbort(t) : zvdbCommit(t);
        if (rc == 0) rc = end;
    } else if (savepoint) {
        zvdbClearSavePoint(t);
    }
    if (failed) usys(sys);
    return rc;
}

}  // namespace

}  // namespace zv

extern "C" {

ZV_API ZVDBRET zvdbCreateTable(ZVHANDLE table, const char *name, uint32_t createmode) {
    tagZVDBTABLE *t = table_of(table);
    if (!t) return keep_code(table, ZVDB_NO_TABLE);
    const zv::CallerHandle caller(table);
    t->operation = 1;
    ZVDBRET rc = zv::create_table(t, name, createmode);
    t->operation = 0;
    if (rc && !t->active) {
        zv::drop_read(t);
        t->datno = -1;
    }
    return caller.keep(rc);
}

}  // extern "C"

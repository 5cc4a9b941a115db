// The files under an alteration: what the work keeps to undo itself, the
// closes that never drop written pages, the reopen that mends a set a
// failed close left marked, and the index definitions built from handles.
#include "recapi/schema/alter.h"

#include <cstring>

#include "engine/core/bytes.h"
#include "recapi/base/session.h"
#include "recapi/base/wrappers.h"
#include "recapi/schema/icon.h"
#include "recapi/schema/resource.h"
#include "recapi/schema/segment.h"
#include "recapi/schema/tablefile.h"

namespace zv {

namespace {

// Answer of an open of a file that a failed close left marked changed.
constexpr int kMarkedChanged = 14;
// Rebuild answers that leave the set whole: records were rejected (650
// purged, 652 reported) or a note only (605).
bool rebuild_done(int rc) { return rc == 0 || rc == 605 || rc == 650 || rc == 652; }
// Rebuild requests of the definition's tfilno: store the definition, and
// with it delete the records whose keys were rejected.
constexpr int16_t kRebuildStore = -99;
constexpr int16_t kRebuildStorePurge = -200;
// Segment status bits.
constexpr uint32_t kSegNew = 1, kSegDeleted = 2;

// The data file name of the table as a definition holds it.
std::string set_name(const tagZVDBTABLE *t) { return file_path(t, t->path, t->physname); }

}  // namespace

// ---- Resources ---------------------------------------------------------------

ZVDBRET ResourceCopy::take(int datno, uint32_t ty, uint32_t num) {
    type = ty;
    number = num;
    unsigned char *rec = nullptr;
    int32_t length = 0;
    ZVDBRET rc = read_resource(datno, type, number, &rec, &length);
    if (rc && !resource_absent(rc)) return rc;
    present = rc == 0;
    bytes.assign(rec, rec + (present ? length : 0));
    _zvdb_free(rec);
    taken = true;
    return 0;
}

ZVDBRET ResourceCopy::put_back(int datno) const {
    if (!taken) return 0;
    if (!present) {
        unsigned char key[8];
        host::put32(key, type);
        host::put32(key + 4, number);
        int rc = _zvdbDELRES(datno, key);
        return resource_absent(rc) ? 0 : rc;
    }
    std::vector<unsigned char> copy(bytes);
    int rc = _zvdbUPDRES(datno, copy.data(), int32_t(copy.size()));
    if (resource_absent(rc)) rc = _zvdbADDRES(datno, copy.data(), int32_t(copy.size()));
    return rc;
}

// ---- Definitions ---------------------------------------------------------------

DefBuilder::DefBuilder(const IFIL &head, const std::string &name, int datno) : head_(head), name_(name) {
    head_.dfilno = int16_t(datno);
    head_.tfilno = -1;
    head_.dnumidx = 0;
    head_.iidxarr = nullptr;
    head_.rfstfld = head_.tlstfld = nullptr;
}

void DefBuilder::add(const IIDX &x, const char *name, const char *file, const std::vector<ISEG> &segs) {
    Entry e{x, name ? name : "", file ? file : "", name != nullptr, file != nullptr, segs};
    e.x.icolseq = nullptr;
    e.x.ipadbyt = nullptr;
    entries_.push_back(std::move(e));
}

void DefBuilder::set_file(int k, const char *file) {
    Entry &e = entries_[size_t(k)];
    e.hasfile = file != nullptr;
    e.file = file ? file : "";
}

const char *DefBuilder::file(int k) const {
    const Entry &e = entries_[size_t(k)];
    return e.hasfile ? e.file.c_str() : nullptr;
}

IFIL *DefBuilder::ifil() {
    laid_.clear();
    for (Entry &e : entries_) {
        IIDX x = e.x;
        x.inumseg = int16_t(e.segs.size());
        x.isegarr = e.segs.empty() ? nullptr : e.segs.data();
        x.ridxnam = e.hasname ? e.name.c_str() : nullptr;
        x.aidxnam = e.hasfile ? e.file.c_str() : nullptr;
        laid_.push_back(x);
    }
    head_.pfilnam = name_.c_str();
    head_.dnumidx = int16_t(laid_.size());
    head_.iidxarr = laid_.empty() ? nullptr : laid_.data();
    return &head_;
}

int16_t duplicate_suffix_bytes(const tagZVDBTABLE *t) { return (t->createmode & cmode::kHuge) ? 8 : 4; }

int16_t duplicate_code(const tagZVDBINDEX *ix) {
    if (ix->dupflag) return ix->distinctflag ? 3 : 1;
    return ix->distinctflag ? 4 : 0;
}

ZVDBRET fill_segments(tagZVDBTABLE *t, tagZVDBINDEX *ix, bool clear_new, std::vector<ISEG> *segs) {
    segs->clear();
    for (int32_t k = 0; k < _zvdbListCount(ix->segments); k++) {
        auto *s = static_cast<tagZVDBSEGMENT *>(ix->segments->items[k]);
        if (!s) return ZVDB_NO_SEGMENT;
        if (s->status & kSegDeleted) continue;
        ISEG g{};
        if (ZVDBRET rc = _zvdbFillIseg(t, s, &g)) return rc;
        if (g.soffset < 0) return ZVDB_NO_FIELD_NAME;
        segs->push_back(g);
        if (clear_new) s->status &= ~kSegNew;
    }
    return 0;
}

ZVDBRET new_index_entry(tagZVDBTABLE *t, tagZVDBINDEX *ix, IIDX *x, std::vector<ISEG> *segs) {
    if (ZVDBRET rc = fill_segments(t, ix, true, segs)) return rc;
    int32_t keylen = 0;
    for (const ISEG &g : *segs) keylen += g.slength;
    *x = IIDX{};
    x->ikeytyp = int16_t(ix->keytype);
    x->ikeydup = duplicate_code(ix);
    x->inulkey = int16_t(ix->nullflag);
    x->iempchr = int16_t(ix->emptychar);
    x->inumseg = int16_t(segs->size());
    x->ikeylen = int16_t(keylen + (ix->dupflag ? duplicate_suffix_bytes(t) : 0));
    return 0;
}

std::string engine_name(int n) {
    char buf[256];
    return _zvdbGETNAM(n, buf, int32_t(sizeof buf), 0) == 0 ? std::string(buf) : std::string();
}

// ---- Closing and opening ----------------------------------------------------------

ZVDBRET close_set(tagZVDBTABLE *t) {
    _zvdbIconReset(t);
    if (t->datno < 0) return 0;
    // Every page out first: a close that fails drops what it could not write.
    if (int rc = ZVFLUSH(-1)) return rc;
    return _zvdbCloseZarvo(t);
}

ZVDBRET rebuild_set(tagZVDBTABLE *t, const IFIL *def, bool purge) {
    if (!def) return ZVDB_NULL_ARGUMENT;
    const std::string name = set_name(t);
    IFIL copy = *def;
    copy.pfilnam = name.c_str();
    copy.dfilno = -1;
    copy.tfilno = purge ? kRebuildStorePurge : kRebuildStore;
    int rc = _zvdbRBLIFILX(t, &copy, t->dataext, t->indexext, int32_t(t->permission), t->groupid, t->password);
    return rebuild_done(rc) ? 0 : rc;
}

ZVDBRET open_set(tagZVDBTABLE *t, uint32_t openmode, const IFIL *def, bool reload) {
    auto open = [t, openmode, reload]() {
        return reload ? _zvdbReopenTable(t, openmode) : _zvdbReopenZarvo(t, openmode);
    };
    ZVDBRET rc = open();
    if (rc != kMarkedChanged || !def) return rc;
    if (rebuild_set(t, def, false)) return rc;
    return open();
}

ZVDBRET reopen_set(tagZVDBTABLE *t, uint32_t openmode, const IFIL *def, bool reload) {
    ZVDBRET rc = close_set(t);
    if (rc && t->datno >= 0) return rc;
    ZVDBRET again = open_set(t, openmode, def, reload);
    if (again && t->datno < 0 && openmode != t->openmode) open_set(t, t->openmode, def, reload);
    return rc ? rc : again;
}

ZVDBRET commit_set(tagZVDBTABLE *t, uint32_t openmode, bool *written) {
    *written = false;
    IFIL *now = nullptr;
    int32_t length = 0;
    if (int rc = _zvdbGETIFIL(t->datno, &now, &length)) return rc;
    ZVDBRET rc = close_set(t);
    if (rc && t->datno >= 0) {
        _zvdb_free(now);
        return rc;
    }
    *written = true;
    ZVDBRET again = open_set(t, openmode, now, true);
    _zvdb_free(now);
    return rc ? rc : again;
}

// ---- Snapshot --------------------------------------------------------------------------

SetSnapshot::~SetSnapshot() { _zvdb_free(def); }

ZVDBRET SetSnapshot::take(tagZVDBTABLE *t) {
    int32_t length = 0;
    _zvdb_free(def);
    def = nullptr;
    if (int rc = _zvdbGETIFIL(t->datno, &def, &length)) return rc;
    names.clear();
    schema.clear();
    for (int32_t i = 0; i < t->dodacount; i++) names.emplace_back(t->doda[i].fsymb ? t->doda[i].fsymb : "");
    for (int32_t i = 0; i < t->dodacount; i++) {
        DATOBJ e = t->doda[i];
        e.fsymb = names[size_t(i)].c_str();
        schema.push_back(e);
    }
    if (ZVDBRET rc = fldx.take(t->datno, 1, 1)) return rc;
    if (ZVDBRET rc = cidx.take(t->datno, 0, 5)) return rc;
    identity = wchIDfield(t->datno) >= 0;
    return 0;
}

ZVDBRET SetSnapshot::restore(tagZVDBTABLE *t, uint32_t openmode) {
    _zvdbIconReset(t);
    bool marked = false;
    if (t->datno >= 0 && _zvdbCloseZarvo(t) != 0) marked = true;
    for (const std::string &n : made) dltfil(n.c_str());
    made.clear();
    const std::string file = set_name(t) + (t->dataext ? t->dataext : ".dat");
    int f = -1;
    if (schema_written || fldx_written || identity_written || indexes_touched) {
        int rc = _zvdbOPNFILX(t, file.c_str(), 0, &f, 1);
        if (rc) {
            // Marked by a failed close: the set is mended first.
            marked = true;
            if ((rc = rebuild_set(t, def, false)) != 0) return rc;
            if ((rc = _zvdbOPNFILX(t, file.c_str(), 0, &f, 1)) != 0) return rc;
        }
        int first = 0;
        auto keep = [&first](int rc) {
            if (rc && !first) first = rc;
        };
        if (schema_written) keep(PUTDODA(f, schema.data(), int(schema.size())));
        if (fldx_written) keep(fldx.put_back(f));
        if (indexes_touched) keep(cidx.put_back(f));
        if (identity_written && !identity) {
            int rc = delIDfield(f);
            keep(rc == 914 ? 0 : rc);
        }
        if (CLSFIL(f, 0) != 0) marked = true;
        if (first) return first;
    }
    if (indexes_touched || marked) {
        if (int rc = rebuild_set(t, def, false)) return rc;
    }
    schema_written = fldx_written = identity_written = indexes_touched = false;
    return _zvdbReopenTable(t, openmode);
}

}  // namespace zv
